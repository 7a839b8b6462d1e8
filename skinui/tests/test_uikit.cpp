// The UI test kit itself: the modal-script runner and its watchdog, the sent-message recorder,
// clicks, captures and region probes, against real windows under Xvfb.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "uikit.h"
#include "winlayer.h"

namespace {

class Probe : public CWindowImpl<Probe, CWindow, CFrameWinTraits> {
public:
    DECLARE_WND_CLASS(L"UiKitProbe")
    std::vector<POINT> ups;
    BEGIN_MSG_MAP(Probe)
        MESSAGE_HANDLER(WM_LBUTTONUP, OnUp)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnErase)
        MESSAGE_HANDLER(WM_PRINTCLIENT, OnPrint)
    END_MSG_MAP()
    LRESULT OnUp(UINT, WPARAM, LPARAM l, BOOL&) {
        ups.push_back(POINT{(short)LOWORD(l), (short)HIWORD(l)});
        return 0;
    }
    LRESULT OnErase(UINT, WPARAM w, LPARAM, BOOL&) {
        Paint((HDC)w);
        return 1;
    }
    LRESULT OnPrint(UINT, WPARAM w, LPARAM, BOOL&) {
        Paint((HDC)w);
        return 0;
    }
    void Paint(HDC dc) {
        RECT rc;
        GetClientRect(&rc);
        HBRUSH b = CreateSolidBrush(RGB(0x20, 0xA0, 0x60));
        FillRect(dc, &rc, b);
        DeleteObject(b);
    }
};

TEST(UiKit, ModalScriptPlaysStepsInsideAModalLoop) {
    int result = 0;
    ts::ModalScript script;
    script.WaitUntil([] { return FindWindowW(nullptr, L"kit box") != nullptr; })
        .Do([] { PostMessageW(FindWindowW(nullptr, L"kit box"), WM_COMMAND, IDOK, 0); });
    EXPECT_TRUE(script.Run([&] { result = MessageBoxW(nullptr, L"text", L"kit box", MB_OKCANCEL); }));
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(script.TimedOut());
}

TEST(UiKit, StepsAfterOneThatOpensANestedLoopPlayInsideIt) {
    int inner = 0, outer = 0;
    ts::ModalScript script;
    script.WaitUntil([] { return FindWindowW(nullptr, L"kit outer") != nullptr; })
        .Do([&] { inner = MessageBoxW(FindWindowW(nullptr, L"kit outer"), L"in", L"kit inner", MB_YESNO); })
        .WaitUntil([] { return FindWindowW(nullptr, L"kit inner") != nullptr; })
        .Do([] { PostMessageW(FindWindowW(nullptr, L"kit inner"), WM_COMMAND, IDNO, 0); })
        .WaitUntil([&] { return inner != 0; })
        .Do([] { PostMessageW(FindWindowW(nullptr, L"kit outer"), WM_COMMAND, IDCANCEL, 0); });
    EXPECT_TRUE(script.Run([&] { outer = MessageBoxW(nullptr, L"out", L"kit outer", MB_OKCANCEL); }));
    EXPECT_EQ(inner, IDNO);
    EXPECT_EQ(outer, IDCANCEL);
}

TEST(UiKit, WatchdogEndsAHangingModalLoopAndLeavesNoQuitBehind) {
    ts::ModalScript script;
    script.WaitUntil([] { return false; });  // never holds
    const DWORD start = GetTickCount();
    EXPECT_FALSE(script.Run([] { MessageBoxW(nullptr, L"text", L"kit hang", MB_OK); }, 700));
    EXPECT_TRUE(script.TimedOut());
    EXPECT_LT(GetTickCount() - start, 5000u);
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST(UiKit, RecorderKeepsNotifyCodesAndClicksLandWhereAimed) {
    Probe w;
    RECT rc = {100, 100, 300, 220};
    ASSERT_NE(w.Create(nullptr, &rc, L"probe", WS_POPUP | WS_VISIBLE), nullptr);
    {
        ts::SentRecorder rec(w);
        ASSERT_TRUE(rec.ok());
        NMHDR nm = {w, 1000, 5};
        w.SendMessage(WM_NOTIFY, 1000, (LPARAM)&nm);
        nm.code = 1000;
        w.SendMessage(WM_NOTIFY, 1000, (LPARAM)&nm);
        SendMessageW(GetDesktopWindow(), WM_NULL, 0, 0);  // not ours: filtered out
        EXPECT_EQ(rec.NotifyCodes(), (std::vector<UINT>{5, 1000}));
        ASSERT_EQ(rec.Of(WM_NOTIFY).size(), 2u);
        EXPECT_EQ(rec.Of(WM_NOTIFY)[0].notifyId, 1000u);

        ts::ClickAt(w, POINT{17, 23});
        ASSERT_EQ(w.ups.size(), 1u);
        EXPECT_EQ(w.ups[0].x, 17);
        EXPECT_EQ(w.ups[0].y, 23);
        POINT cur;
        GetCursorPos(&cur);
        EXPECT_EQ(cur.x, 117);
        EXPECT_EQ(cur.y, 123);
        EXPECT_FALSE(rec.Of(WM_LBUTTONDOWN).empty());
    }

    ts::Capture view = ts::CaptureView(w);
    ASSERT_TRUE(view.ok());
    EXPECT_EQ(view.width, 200);
    EXPECT_EQ(view.At(199, 119), RGB(0x20, 0xA0, 0x60));

    EXPECT_FALSE(ts::HasWindowRegion(w));
    EXPECT_TRUE(ts::RegionContains(w, 0, 0));
    w.SetWindowRgn(CreateEllipticRgn(0, 0, 200, 120));
    EXPECT_TRUE(ts::HasWindowRegion(w));
    EXPECT_FALSE(ts::RegionContains(w, 1, 1));
    EXPECT_TRUE(ts::RegionContains(w, 100, 60));

    w.SetWindowRgn(nullptr);
    UpdateWindow(w);
    ts::PumpMessages(100);
    ts::Capture screen = ts::CaptureWindowOnScreen(w);
    ASSERT_TRUE(screen.ok());
    EXPECT_EQ(screen.At(100, 60), RGB(0x20, 0xA0, 0x60));
    w.DestroyWindow();
}

}  // namespace
