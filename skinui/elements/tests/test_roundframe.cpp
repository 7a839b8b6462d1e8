// The rounded frame: the region cuts each corner by a two-pixel step, follows size changes and
// leaves the owner's own WM_SIZE handling running.
#include <gtest/gtest.h>

#include "roundframe.h"
#include "uikit.h"

namespace {

template <DWORD t_style>
class Framed : public CWindowImpl<Framed<t_style>, CWindow, CWinTraits<t_style, 0>>,
               public CWHRoundRectFrameHelper<Framed<t_style>> {
public:
    BEGIN_MSG_MAP(Framed)
        CHAIN_MSG_MAP(CWHRoundRectFrameHelper<Framed<t_style>>)
        MESSAGE_HANDLER(WM_SIZE, OnSize2)
    END_MSG_MAP()
    LRESULT OnSize2(UINT, WPARAM, LPARAM, BOOL&) {
        ++ownSizeCalls;
        return 0;
    }
    int ownSizeCalls = 0;
};

typedef Framed<WS_POPUP | WS_VISIBLE> Popup;
// A dialog frame round the client area (maximised by Wine itself: a window the X window manager
// manages is maximised only by one, and the test display has none).
typedef Framed<WS_POPUP | WS_DLGFRAME | WS_VISIBLE> Overlapped;

// The client area's origin in window coordinates.
POINT ClientOrigin(HWND h) {
    RECT w = {};
    ::GetWindowRect(h, &w);
    POINT o = {0, 0};
    ::ClientToScreen(h, &o);
    return POINT{o.x - w.left, o.y - w.top};
}

// Every pixel of the four stepped corners, and the ones just beside the cut, against the region.
void ExpectSteppedCorners(HWND h) {
    RECT client = {};
    ::GetClientRect(h, &client);
    const POINT o = ClientOrigin(h);
    const int L = o.x, T = o.y, R = o.x + client.right - 1, B = o.y + client.bottom - 1;  // inclusive
    struct Probe {
        int dx, dy;  // distance from the corner, inwards
        bool inside;
    } const probes[] = {
        {0, 0, false}, {1, 0, false}, {0, 1, false}, {2, 0, true}, {0, 2, true}, {1, 1, true}, {2, 2, true},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(testing::Message() << "corner offset " << p.dx << "," << p.dy);
        EXPECT_EQ(p.inside, ts::RegionContains(h, L + p.dx, T + p.dy)) << "top left";
        EXPECT_EQ(p.inside, ts::RegionContains(h, R - p.dx, T + p.dy)) << "top right";
        EXPECT_EQ(p.inside, ts::RegionContains(h, L + p.dx, B - p.dy)) << "bottom left";
        EXPECT_EQ(p.inside, ts::RegionContains(h, R - p.dx, B - p.dy)) << "bottom right";
    }
    // Nothing beyond the client area belongs to the window.
    EXPECT_FALSE(ts::RegionContains(h, R + 1, T + 5));
    EXPECT_FALSE(ts::RegionContains(h, L + 5, B + 1));
}

TEST(RoundFrame, CornersAreCutAndTheOwnersSizeHandlerStillRuns) {
    Popup w;
    RECT rc = {50, 50, 250, 150};
    ASSERT_TRUE(w.Create(nullptr, &rc));
    ASSERT_TRUE(ts::HasWindowRegion(w.m_hWnd));
    ExpectSteppedCorners(w.m_hWnd);
    EXPECT_GT(w.ownSizeCalls, 0);
    EXPECT_EQ(200, w.m_sizeLastCx);
    EXPECT_EQ(100, w.m_sizeLastCy);
    w.DestroyWindow();
}

TEST(RoundFrame, MaximisedFramedWindowGetsTheSameCorners) {
    Overlapped w;
    RECT rc = {40, 40, 340, 240};
    ASSERT_TRUE(w.Create(nullptr, &rc));
    {
        SCOPED_TRACE("normal");
        ExpectSteppedCorners(w.m_hWnd);
    }
    w.ShowWindow(SW_MAXIMIZE);
    ts::PumpMessages(0);
    ASSERT_TRUE(w.IsZoomed());
    RECT client = {};
    w.GetClientRect(&client);
    EXPECT_EQ(client.right, w.m_sizeLastCx);
    {
        SCOPED_TRACE("maximised");
        ExpectSteppedCorners(w.m_hWnd);
    }
    w.DestroyWindow();
}

TEST(RoundFrame, MinimisingAndTheSameSizeKeepTheRegionAOnePixelChangeRebuildsIt) {
    Popup w;
    RECT rc = {50, 50, 250, 150};
    ASSERT_TRUE(w.Create(nullptr, &rc));
    // A plain square region in its place shows whether the helper builds the region again.
    auto putSquare = [&] { ASSERT_TRUE(::SetWindowRgn(w.m_hWnd, ::CreateRectRgn(0, 0, 200, 100), FALSE)); };
    putSquare();
    ASSERT_TRUE(ts::RegionContains(w.m_hWnd, 0, 0));

    w.SendMessage(WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(160, 24));
    EXPECT_TRUE(ts::RegionContains(w.m_hWnd, 0, 0)) << "minimising must not rebuild";
    w.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(200, 100));
    EXPECT_TRUE(ts::RegionContains(w.m_hWnd, 0, 0)) << "the same size must not rebuild";

    w.SetWindowPos(nullptr, 0, 0, 201, 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_FALSE(ts::RegionContains(w.m_hWnd, 0, 0)) << "a one-pixel change rebuilds";
    EXPECT_EQ(201, w.m_sizeLastCx);
    ExpectSteppedCorners(w.m_hWnd);

    // A real minimise and restore come back at the same size: the region stays.
    putSquare();
    w.ShowWindow(SW_MINIMIZE);
    w.ShowWindow(SW_RESTORE);
    ts::PumpMessages(0);
    EXPECT_TRUE(ts::RegionContains(w.m_hWnd, 0, 0));
    w.DestroyWindow();
}

}  // namespace
