// The combo's drop list: built hidden and sized to its rows, opened with the capture, the row under
// a click handed to the owner, the highlight moved by hover and wheel, closed by any click, by
// focus loss and by the program losing activation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bkwnd.h"
#include "popuplist.h"
#include "uikit.h"
#include "uinput.h"

namespace {

// An owner element that records the rows handed to it.
class Owner : public CBkWindow {
public:
    BOOL IsTag(const char* t) const override { return t && strcmp(t, "owner") == 0; }
    const char* TagName() const override { return "owner"; }
    BOOL ProcessMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (msg == kBkMsgPopListChosen) {
            chosen.push_back({(int)wParam, (LPCWSTR)lParam});
            handledBefore.push_back(IsMsgHandled());
            m_bMsgHandled = TRUE;
            return TRUE;
        }
        return CBkWindow::ProcessMessage(h, msg, wParam, lParam, result);
    }
    struct Choice {
        int row;
        std::wstring text;
    };
    std::vector<Choice> chosen;
    std::vector<BOOL> handledBefore;
};

class Frame : public CWindowImpl<Frame, CWindow, CWinTraits<WS_POPUP | WS_VISIBLE, 0>> {
public:
    BEGIN_MSG_MAP(Frame)
    END_MSG_MAP()
};

// Whether any list window was shown (SWP_SHOWWINDOW or WM_SHOWWINDOW), seen by a hook from the
// window's first message on.
struct ShowWatch {
    static bool shown;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT* m = (const CWPSTRUCT*)lParam;
        if (code == HC_ACTION) {
            wchar_t cls[32] = {};
            ::GetClassNameW(m->hwnd, cls, 32);
            if (wcscmp(cls, L"POPUP_LIST_WND") == 0) {
                if (m->message == WM_WINDOWPOSCHANGING && (((const WINDOWPOS*)m->lParam)->flags & SWP_SHOWWINDOW))
                    shown = true;
                if (m->message == WM_SHOWWINDOW && m->wParam) shown = true;
            }
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
};
bool ShowWatch::shown = false;

class PopList : public testing::Test {
protected:
    void SetUp() override {
        RECT rc = {40, 40, 540, 440};
        ASSERT_TRUE(frame.Create(nullptr, &rc));
        ::SetForegroundWindow(frame.m_hWnd);
        list.SetRowHeight(20);
        ASSERT_TRUE(list.Build(&owner, frame.m_hWnd, {}, texts));
    }
    void TearDown() override {
        if (list.m_hWnd) list.DestroyWindow();
        if (frame.m_hWnd) frame.DestroyWindow();
    }
    void Open(int highlight = -1) {
        list.SetHighlight(highlight);
        list.ShowDropDown(100, 120, 200);
        ASSERT_TRUE(list.IsWindowVisible());
    }
    RECT WindowRect() {
        RECT r = {};
        list.GetWindowRect(&r);
        return r;
    }
    void Wheel(int delta) { list.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)delta), MAKELPARAM(150, 150)); }

    const std::vector<CString> texts = {L"alpha", L"beta", L"gamma"};
    Frame frame;
    Owner owner;
    KComboBoxPopList list;
};

TEST_F(PopList, IsBuiltHiddenAsAnOwnerDrawnTopmostPopupSizedForAllRows) {
    wchar_t cls[64] = {};
    ::GetClassNameW(list.m_hWnd, cls, 64);
    EXPECT_STREQ(L"POPUP_LIST_WND", cls);
    EXPECT_EQ((ULONG_PTR)(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS), ::GetClassLongPtrW(list.m_hWnd, GCL_STYLE));
    EXPECT_EQ((ULONG_PTR)(COLOR_WINDOW + 1), ::GetClassLongPtrW(list.m_hWnd, GCLP_HBRBACKGROUND));
    EXPECT_EQ((ULONG_PTR)::LoadCursorW(nullptr, IDC_ARROW), ::GetClassLongPtrW(list.m_hWnd, GCLP_HCURSOR));
    EXPECT_TRUE(list.GetStyle() & WS_POPUP);
    EXPECT_EQ((DWORD)(WS_EX_TOPMOST | WS_EX_TOOLWINDOW), list.GetExStyle() & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW));
    EXPECT_EQ(frame.m_hWnd, ::GetWindow(list.m_hWnd, GW_OWNER));
    EXPECT_FALSE(list.IsWindowVisible());
    EXPECT_EQ(3, list.GetRowCount());
    EXPECT_EQ(-1, list.GetHighlight());
    // 180 plus (length of the first text - 2) font heights wide, one row height per row.
    const RECT r = WindowRect();
    EXPECT_EQ(180 + (5 - 2) * 16, r.right - r.left);
    EXPECT_EQ(3 * 20, r.bottom - r.top);
}

TEST_F(PopList, RebuildSizesTheListWithoutEverShowingIt) {
    HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROC, &ShowWatch::Hook, nullptr, ::GetCurrentThreadId());
    ASSERT_TRUE(hook);
    ShowWatch::shown = false;
    HWND before = list.m_hWnd;
    const std::vector<CString> rows = {L"one", L"two"};
    ASSERT_TRUE(list.Build(&owner, frame.m_hWnd, {}, rows));
    ::UnhookWindowsHookEx(hook);
    EXPECT_NE(before, list.m_hWnd);
    EXPECT_FALSE(::IsWindow(before)) << "the old window is gone";
    EXPECT_FALSE(ShowWatch::shown) << "a rebuild must not flash the list";
    EXPECT_FALSE(list.IsWindowVisible());
    EXPECT_EQ(2 * list.GetRowHeight(), WindowRect().bottom - WindowRect().top);
    EXPECT_EQ(2, list.GetRowCount());
}

TEST_F(PopList, OpensAtThePointWithTheCaptureAndRoundedCorners) {
    Open(1);
    const RECT r = WindowRect();
    EXPECT_EQ(100, r.left);
    EXPECT_EQ(120, r.top);
    EXPECT_EQ(200, r.right - r.left);
    EXPECT_EQ(60, r.bottom - r.top);
    EXPECT_EQ(list.m_hWnd, ::GetCapture());
    EXPECT_EQ(1, list.GetHighlight());
    EXPECT_FALSE(ts::RegionContains(list.m_hWnd, 0, 0));
    EXPECT_TRUE(ts::RegionContains(list.m_hWnd, 2, 0));

    // ShowAt right-aligns the list at the given edge and keeps its size.
    list.Hide();
    EXPECT_NE(list.m_hWnd, ::GetCapture());
    list.ShowAt(400, 50);
    const RECT s = WindowRect();
    EXPECT_EQ(400, s.right);
    EXPECT_EQ(50, s.top);
    EXPECT_EQ(200, s.right - s.left);
    EXPECT_TRUE(list.IsWindowVisible());
    EXPECT_EQ(list.m_hWnd, ::GetCapture());
}

TEST_F(PopList, AClickChoosesTheRowFiveAboveItsDrawnPlaceAndAlwaysCloses) {
    struct Case {
        int y;
        int row;  // -1: no choice
    } const cases[] = {
        {3, 0}, {24, 0}, {25, 1}, {44, 1}, {45, 2}, {59, 2}, {-3, -1}, {70, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "y " << c.y);
        owner.chosen.clear();
        Open();
        ts::ClickAt(list.m_hWnd, POINT{50, c.y});
        EXPECT_FALSE(list.IsWindowVisible());
        EXPECT_NE(list.m_hWnd, ::GetCapture());
        if (c.row < 0) {
            EXPECT_TRUE(owner.chosen.empty());
            continue;
        }
        ASSERT_EQ(1u, owner.chosen.size());
        EXPECT_EQ(c.row, owner.chosen[0].row);
        EXPECT_EQ(texts[(size_t)c.row].str(), owner.chosen[0].text);
        EXPECT_FALSE(owner.handledBefore[0]) << "the owner's handled flag is cleared first";
    }
    // Right of the list rectangle: no row.
    owner.chosen.clear();
    Open();
    ts::ClickAt(list.m_hWnd, POINT{250, 10});
    EXPECT_FALSE(list.IsWindowVisible());
    EXPECT_TRUE(owner.chosen.empty());
}

TEST_F(PopList, AClickOutsideReachesTheListThroughItsCaptureAndClosesIt) {
    ASSERT_TRUE(ts::WaitForeground(frame.m_hWnd));
    Open(0);
    // A real click on the frame, far from the list.
    ts::RealClickAt(frame.m_hWnd, POINT{450, 350});
    EXPECT_TRUE(ts::PumpUntil([&] { return !list.IsWindowVisible(); }, 3000));
    EXPECT_TRUE(owner.chosen.empty());
}

TEST_F(PopList, RightClickClosesAndClearsTheHighlightWithoutAChoice) {
    Open(2);
    list.SendMessage(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(50, 30));
    EXPECT_FALSE(list.IsWindowVisible());
    EXPECT_EQ(-1, list.GetHighlight());
    EXPECT_TRUE(owner.chosen.empty());
}

TEST_F(PopList, FocusLossAndDeactivationClose) {
    Open(0);
    list.SetFocus();
    ASSERT_EQ(list.m_hWnd, ::GetFocus());
    ::SetFocus(frame.m_hWnd);
    EXPECT_FALSE(list.IsWindowVisible()) << "losing the focus closes the list";

    Open(0);
    EXPECT_EQ(1, list.SendMessage(WM_ACTIVATEAPP, TRUE, 0));
    EXPECT_TRUE(list.IsWindowVisible()) << "the program becoming active leaves it open";
    EXPECT_EQ(1, list.SendMessage(WM_ACTIVATEAPP, FALSE, 0));
    EXPECT_FALSE(list.IsWindowVisible()) << "switching to another program closes it";
}

TEST_F(PopList, HoverHighlightsTheRowAndPaintsItsBar) {
    Open();
    ts::MoveTo(list.m_hWnd, POINT{50, 30});
    EXPECT_EQ(1, list.GetHighlight());
    ts::MoveTo(list.m_hWnd, POINT{250, 50});  // outside the list rectangle: unchanged
    EXPECT_EQ(1, list.GetHighlight());

    ts::Capture cap = ts::CaptureView(list.m_hWnd);
    ASSERT_TRUE(cap.ok());
    const COLORREF bar = list.GetHighlightColor();
    const int x = cap.width - 3;  // right of any text, inside the frame
    EXPECT_EQ(bar, cap.At(x, 20));
    EXPECT_EQ(bar, cap.At(x, 39));
    EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), cap.At(x, 19));
    EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), cap.At(x, 40));
    // The frame: left, bottom and right in the light orange pen, the top left open.
    const COLORREF pen = RGB(0x85, 0xE4, 0xFF);
    EXPECT_EQ(pen, cap.At(0, 10));
    EXPECT_EQ(pen, cap.At(cap.width - 1, 10));
    EXPECT_EQ(pen, cap.At(cap.width / 2, cap.height - 1));
    EXPECT_NE(pen, cap.At(cap.width / 2, 0));
}

TEST_F(PopList, TheWheelMovesTheHighlightWithinTheRows) {
    struct Case {
        int from, delta, to;
    } const cases[] = {
        {-1, 120, -1},  // up with none stays none
        {-1, -120, -1}, // down with none: nothing to move from
        {0, -120, 1},
        {1, -240, 2},
        {2, -120, 2},   // down on the last row does nothing
        {2, 120, 1},
        {0, 120, 0},    // up on the first row does nothing
        {1, 60, 1},     // less than a notch
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " by " << c.delta);
        list.SetHighlight(c.from);
        Wheel(c.delta);
        EXPECT_EQ(c.to, list.GetHighlight());
    }
}

TEST(PopListAlone, WithoutAnOwnerAClickOnlyCloses) {
    KComboBoxPopList list;
    list.SetRowHeight(20);
    ASSERT_TRUE(list.Build(nullptr, nullptr, {}, {L"x", L"y"}));
    list.ShowDropDown(10, 10, 120);
    ts::ClickAt(list.m_hWnd, POINT{20, 10});
    EXPECT_FALSE(list.IsWindowVisible());
}

}  // namespace
