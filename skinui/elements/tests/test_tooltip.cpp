// The tracking tip: made hidden on its parent, follows the point, sizes itself to the text (wide
// texts wrap inside 174 pixels), hides at once or after its delay.
#include <gtest/gtest.h>

#include <string>

#include "tracktooltip.h"
#include "uikit.h"

namespace {

class Parent : public CWindowImpl<Parent, CWindow, CWinTraits<WS_POPUP | WS_VISIBLE, 0>> {
public:
    BEGIN_MSG_MAP(Parent)
    END_MSG_MAP()
};

class Tooltip : public testing::Test {
protected:
    void SetUp() override {
        RECT rc = {20, 20, 320, 220};
        ASSERT_TRUE(parent.Create(nullptr, &rc));
        ASSERT_TRUE(tip.Create(parent.m_hWnd));
    }
    void TearDown() override {
        tip.Destroy();
        if (parent.m_hWnd) parent.DestroyWindow();
    }
    SIZE Extent(const std::wstring& text) {
        SIZE s = {0, 0};
        HDC dc = ::GetDC(tip.m_hWnd);
        HGDIOBJ old = ::SelectObject(dc, tip.GetFont());
        ::GetTextExtentPoint32W(dc, text.c_str(), (int)text.size(), &s);
        ::SelectObject(dc, old);
        ::ReleaseDC(tip.m_hWnd, dc);
        return s;
    }
    RECT WindowRect() {
        RECT r = {};
        tip.GetWindowRect(&r);
        return r;
    }
    Parent parent;
    KTrackTooltip tip;
};

TEST_F(Tooltip, IsMadeHiddenOnceAsATopmostToolPopupWithItsFont) {
    EXPECT_FALSE(tip.IsWindowVisible());
    EXPECT_FALSE(tip.IsShown());
    EXPECT_EQ(parent.m_hWnd, ::GetWindow(tip.m_hWnd, GW_OWNER));
    EXPECT_TRUE(tip.GetStyle() & WS_POPUP);
    EXPECT_EQ((DWORD)(WS_EX_TOPMOST | WS_EX_TOOLWINDOW), tip.GetExStyle() & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW));
    EXPECT_EQ(std::wstring(L"  "), tip.GetText().str());
    LOGFONTW lf = {};
    ASSERT_TRUE(::GetObjectW(tip.GetFont(), sizeof(lf), &lf));
    EXPECT_EQ(12, lf.lfHeight);
    EXPECT_EQ(FW_NORMAL, lf.lfWeight);
    EXPECT_STREQ(L"宋体", lf.lfFaceName);

    HWND before = tip.m_hWnd;
    EXPECT_TRUE(tip.Create(parent.m_hWnd));
    EXPECT_EQ(before, tip.m_hWnd) << "a second Create keeps the window";
}

TEST_F(Tooltip, FollowsMovesOfMoreThanTwoPixelsAndAlwaysTakesTheText) {
    tip.TrackTo(POINT{100, 100}, L"one");
    EXPECT_TRUE(tip.IsWindowVisible());
    EXPECT_TRUE(tip.IsShown());
    EXPECT_EQ(116, WindowRect().left);
    EXPECT_EQ(116, WindowRect().top);

    struct Step {
        POINT to;
        LONG left, top;  // where the window is afterwards
    } const steps[] = {
        {{102, 98}, 116, 116},   // 2 pixels each way: stays
        {{100, 103}, 116, 119},  // 3 pixels down: follows
        {{97, 103}, 113, 119},   // 3 pixels left: follows
        {{99, 101}, 113, 119},
    };
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(n);
        const std::wstring text = L"text " + std::to_wstring(++n);
        tip.TrackTo(s.to, text.c_str());
        EXPECT_EQ(s.left, WindowRect().left);
        EXPECT_EQ(s.top, WindowRect().top);
        EXPECT_EQ(text, tip.GetText().str()) << "the text is replaced even when the window stays";
    }
}

TEST_F(Tooltip, SizesToTheTextAndWrapsWideTextsInto174Pixels) {
    EXPECT_EQ(0, tip.SetText(nullptr));

    const std::wstring shortText = L"ab";
    ASSERT_EQ(1, tip.SetText(shortText.c_str()));
    const SIZE se = Extent(shortText);
    ASSERT_LT(se.cx, 174);
    RECT r = WindowRect();
    EXPECT_EQ(se.cx + 14, r.right - r.left);
    EXPECT_EQ(se.cy + 14, r.bottom - r.top);

    const std::wstring wide = L"一二三四五六七八九十一二三四五六七八九十一二三";
    const SIZE we = Extent(wide);
    ASSERT_GT(we.cx, 174) << "the fixture text must be wider than a line";
    ASSERT_EQ(1, tip.SetText(wide.c_str()));
    r = WindowRect();
    EXPECT_EQ(188, r.right - r.left);
    EXPECT_EQ(we.cy + 15 + 14, r.bottom - r.top);

    // Painted: light yellow inside a black frame, the text wrapped onto a second line.
    ts::Capture cap = ts::CaptureView(tip.m_hWnd);
    ASSERT_TRUE(cap.ok());
    EXPECT_EQ(RGB(0, 0, 0), cap.At(0, 0));
    EXPECT_EQ(RGB(0, 0, 0), cap.At(cap.width - 1, cap.height - 1));
    EXPECT_EQ(KTrackTooltip::kBackground, cap.At(3, 3));
    EXPECT_EQ(KTrackTooltip::kBackground, cap.At(cap.width - 4, cap.height - 4));

    TEXTMETRICW tm = {};
    HDC dc = ::GetDC(tip.m_hWnd);
    HGDIOBJ old = ::SelectObject(dc, tip.GetFont());
    ::GetTextMetricsW(dc, &tm);
    ::SelectObject(dc, old);
    ::ReleaseDC(tip.m_hWnd, dc);
    auto inkIn = [&](int top, int bottom, int left, int right) {
        int n = 0;
        for (int y = top; y < bottom && y < cap.height; ++y)
            for (int x = left; x < right && x < cap.width; ++x)
                if (cap.At(x, y) != KTrackTooltip::kBackground) ++n;
        return n;
    };
    const int line2 = 7 + tm.tmHeight + tm.tmExternalLeading + 2;
    EXPECT_GT(inkIn(7, 7 + tm.tmHeight, 7, cap.width - 7), 0) << "first line";
    EXPECT_GT(inkIn(line2, line2 + tm.tmHeight, 7, cap.width - 7), 0) << "the wrapped second line";
}

// Whether a lies above b in the z-order of top-level windows.
bool IsAbove(HWND a, HWND b) {
    for (HWND h = ::GetWindow(b, GW_HWNDPREV); h; h = ::GetWindow(h, GW_HWNDPREV))
        if (h == a) return true;
    return false;
}

TEST_F(Tooltip, EachShowAndMoveRaisesItAboveATopmostWindowThatCameUpSince) {
    // Another topmost window (a tray menu, a balloon) over the tip's place.
    Parent other;
    RECT rc = {40, 40, 400, 300};
    ASSERT_TRUE(other.Create(nullptr, &rc, L"other", WS_POPUP | WS_VISIBLE, WS_EX_TOPMOST | WS_EX_TOOLWINDOW));
    struct Step {
        const char* what;
        void (*act)(KTrackTooltip&);
    } const steps[] = {
        {"first track", [](KTrackTooltip& t) { t.TrackTo(POINT{100, 100}, L"one"); }},
        {"a move", [](KTrackTooltip& t) { t.TrackTo(POINT{150, 150}, L"two"); }},
        {"shown again", [](KTrackTooltip& t) {
             t.Show(FALSE);
             t.Show(TRUE);
         }},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        ::SetWindowPos(other.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        ASSERT_TRUE(IsAbove(other.m_hWnd, tip.m_hWnd)) << "the other window starts on top";
        s.act(tip);
        EXPECT_TRUE(tip.IsWindowVisible());
        EXPECT_TRUE(IsAbove(tip.m_hWnd, other.m_hWnd));
        EXPECT_TRUE(tip.GetExStyle() & WS_EX_TOPMOST);
    }
    EXPECT_FALSE(IsAbove(parent.m_hWnd, other.m_hWnd)) << "the owner is not raised with its tip";
    other.DestroyWindow();
}

TEST_F(Tooltip, HidesAtOnceWithoutDelayedHide) {
    tip.Show(TRUE);
    EXPECT_TRUE(tip.IsWindowVisible());
    tip.Show(FALSE);
    EXPECT_FALSE(tip.IsWindowVisible());
    EXPECT_FALSE(tip.IsShown());
}

TEST_F(Tooltip, DelayedHideWaitsForItsTimerAndAShowInBetweenKeepsItUp) {
    tip.EnableDelayedHide();
    EXPECT_EQ(500u, tip.GetHideDelay());
    tip.TrackTo(POINT{60, 60}, L"tip");
    ASSERT_TRUE(tip.IsWindowVisible());

    const DWORD start = GetTickCount();
    tip.Show(FALSE);
    EXPECT_TRUE(tip.IsWindowVisible()) << "the delayed hide waits for its timer";
    EXPECT_TRUE(ts::PumpUntil([&] { return !tip.IsWindowVisible(); }, 5000));
    EXPECT_GE(GetTickCount() - start, 400u);

    // Shown again before the timer fires: the timer's message leaves it shown.
    tip.Show(TRUE);
    ASSERT_TRUE(tip.IsWindowVisible());
    tip.Show(FALSE);
    tip.Show(TRUE);
    tip.SendMessage(WM_TIMER, KTrackTooltip::kHideTimerId, 0);
    EXPECT_TRUE(tip.IsWindowVisible());
    ts::PumpMessages(0);
    EXPECT_TRUE(tip.IsWindowVisible());
}

TEST(TooltipNoWindow, CallsWithoutAWindowDoNothing) {
    KTrackTooltip tip;
    tip.Show(TRUE);
    tip.TrackTo(POINT{5, 5}, L"x");
    EXPECT_FALSE(tip.IsShown());
    EXPECT_EQ(nullptr, tip.m_hWnd);
    tip.Destroy();
}

}  // namespace
