// The dialog view in a real window under Xvfb: layout reading, the three panels, painting through
// the back buffer, the mouse (clicks, links, drags, hover, enter and leave), cursors, tooltips,
// item operations and what it passes on to its dialog.
#include <gtest/gtest.h>

#include <string>

#include "bkview.h"
#include "viewkit.h"

namespace {

TEST(DialogViewLayout, LayerAttributesGiveTheDialogStyles) {
    struct Case {
        const char* attrs;
        DWORD style, exStyle;
    } const cases[] = {
        {"", 0x80080000, 0x300},
        {" appwin=\"1\"", 0x80080000, 0x40300},
        {" resize=\"1\"", 0x800E0000, 0x300},
        {" noborder=\"1\"", 0x80080000, 0x88},
        {" noborder=\"0\" appwin=\"0\" resize=\"0\"", 0x80080000, 0x300},
        {" appwin=\"1\" resize=\"1\" noborder=\"1\"", 0x800E0000, 0x40088},
    };
    for (const Case& c : cases) {
        CBkDialogView view;
        ASSERT_TRUE(view.LoadLayout(std::string("<layer") + c.attrs + "/>")) << c.attrs;
        EXPECT_EQ(view.GetDlgStyle(), c.style) << c.attrs;
        EXPECT_EQ(view.GetDlgExStyle(), c.exStyle) << c.attrs;
        EXPECT_FALSE(view.GetDlgStyle() & WS_MAXIMIZEBOX);
    }
    CBkDialogView view;
    ASSERT_TRUE(view.LoadLayout("<layer title=\"操作提示\" width=\"300\" height=\"170\"/>"));
    EXPECT_EQ(view.GetTitle(), L"操作提示");
    EXPECT_EQ(view.GetLayoutWidth(), 300);
    EXPECT_EQ(view.GetLayoutHeight(), 170);
    EXPECT_TRUE(view.IsLayoutLoaded());
}

TEST(DialogViewLayout, RejectsWhatIsNotALayerAndDropsTheOldTree) {
    CBkDialogView view;
    ASSERT_TRUE(view.LoadLayout("<layer><body><text id=\"5\">x</text></body></layer>"));
    ASSERT_NE(view.FindItem(5), nullptr);
    const HBKWND old = view.FindItem(5)->GetHandle();
    for (const char* bad : {"<layer><body></layer>", "<dialog/>", "", "plain text"}) {
        EXPECT_FALSE(view.LoadLayout(bad)) << bad;
        EXPECT_FALSE(view.IsLayoutLoaded()) << bad;
        EXPECT_EQ(view.FindItem(5), nullptr);
    }
    EXPECT_EQ(BkWindowRegistry::Find(old), nullptr);
}

const char kThreePanels[] =
    "<layer>"
    "<header width=\"full\" height=\"30\" crbg=\"FF0000\"><text id=\"60004\" pos=\"5,5\">标题</text>"
    "<button id=\"60001\" pos=\"-40,0,-0,-0\" crbg=\"0000FF\">关</button></header>"
    "<footer width=\"full\" height=\"40\" crbg=\"0000FF\"><text id=\"77\" pos=\"0,0\">footer</text></footer>"
    "<body width=\"full\" height=\"full\" crbg=\"00FF00\">"
    "<button id=\"7\" pos=\"10,10,90,40\" crbg=\"FFFF00\">确定</button>"
    "<button id=\"8\" pos=\"100,10,180,40\" crbg=\"00FFFF\">取消</button>"
    "<link id=\"9\" pos=\"10,50,90,70\" href=\"http://example.invalid/\">链接</link>"
    "<text id=\"0\" pos=\"100,50,180,70\">no id</text>"
    "<text id=\"77\" pos=\"200,50,280,70\" tip=\"提示文字\">body 77</text>"
    "<button id=\"12\" pos=\"200,10,280,40\">disabled</button>"
    "<dlg id=\"20\" pos=\"0,80,-0,-0\"><text id=\"21\" pos=\"0,0\">inner</text></dlg>"
    "</body>"
    "</layer>";

TEST(DialogViewPaint, PanelsFillTheClientAndTheFooterFollowsTheBottom) {
    ViewHost host;
    ASSERT_TRUE(host.Open(kThreePanels, 300, 200));
    ts::Capture c = ts::CaptureView(host.view);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.At(150, 0), RGB(0xFF, 0, 0));
    EXPECT_EQ(c.At(150, 29), RGB(0xFF, 0, 0));
    EXPECT_EQ(c.At(150, 30), RGB(0, 0xFF, 0));
    EXPECT_EQ(c.At(150, 159), RGB(0, 0xFF, 0));
    EXPECT_EQ(c.At(150, 160), RGB(0, 0, 0xFF));
    EXPECT_EQ(c.At(150, 199), RGB(0, 0, 0xFF));
    EXPECT_EQ(c.At(20, 45), RGB(0xFF, 0xFF, 0)) << "button 7 at 10,10 in the body";

    host.SetWindowPos(nullptr, 0, 0, 320, 260, SWP_NOMOVE | SWP_NOZORDER);
    c = ts::CaptureView(host.view);
    EXPECT_EQ(c.width, 320);
    EXPECT_EQ(c.At(310, 219), RGB(0, 0xFF, 0));
    EXPECT_EQ(c.At(310, 220), RGB(0, 0, 0xFF));
    EXPECT_EQ(c.At(310, 259), RGB(0, 0, 0xFF));
    EXPECT_EQ(host.view.FindItem(60001)->GetRect().left, 280) << "anchored on the right edge";
}

TEST(DialogViewPaint, HidingAnItemRepaintsTheAreaItCovered) {
    ViewHost host;
    ASSERT_TRUE(host.Open(kThreePanels, 300, 200));
    ts::CaptureView(host.view);
    EXPECT_TRUE(host.view.SetItemVisible(7, FALSE));
    ts::Capture c = ts::CaptureView(host.view);
    EXPECT_EQ(c.At(20, 45), RGB(0, 0xFF, 0));
    EXPECT_TRUE(host.view.SetItemVisible(7, TRUE));
    c = ts::CaptureView(host.view);
    EXPECT_EQ(c.At(20, 45), RGB(0xFF, 0xFF, 0));
    EXPECT_TRUE(host.view.SetItemAttribute(7, "crbg", "112233"));
    c = ts::CaptureView(host.view);
    EXPECT_EQ(c.At(20, 45), RGB(0x11, 0x22, 0x33));
    // What the screen shows is the back buffer.
    UpdateWindow(host.view);
    ts::Capture screen = ts::CaptureWindowOnScreen(host.view);
    ASSERT_TRUE(screen.ok());
    EXPECT_EQ(screen.At(20, 45), RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(screen.At(150, 5), RGB(0xFF, 0, 0));
}

// Link opening through the seam: what was opened.
std::vector<std::wstring> g_opened;
HINSTANCE WINAPI RecordOpen(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR, LPCWSTR, INT show) {
    g_opened.push_back(std::wstring(verb ? verb : L"") + L"|" + (file ? file : L"") + L"|" + std::to_wstring(show));
    return (HINSTANCE)33;
}

class DialogViewMouse : public ::testing::Test {
protected:
    void SetUp() override {
        BkViewSeamTable().shellExecute = &RecordOpen;
        g_opened.clear();
        ASSERT_TRUE(host.Open(kThreePanels, 300, 200));
        host.view.EnableItem(12, FALSE);
    }
    void TearDown() override { BkViewSeamTable().shellExecute = saved.saved().shellExecute; }
    ts::Restore<BkViewSeams> saved{BkViewSeamTable()};
    ViewHost host;
};

TEST_F(DialogViewMouse, AClickReportsTheItemAndItsTag) {
    ts::ClickAt(host.view, host.CentreOf(7));
    auto clicks = host.Clicks();
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].from, (HWND)host.view);
    EXPECT_EQ(clicks[0].id, 1000u);
    EXPECT_EQ(clicks[0].item, 7u);
    EXPECT_EQ(clicks[0].tag, "button");
    EXPECT_EQ(host.view.PressedItem(), 0u);
    EXPECT_FALSE(host.view.FindItem(7)->GetState() & kBkStatePushed);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(DialogViewMouse, PressingOneAndReleasingOverAnotherSendsNothing) {
    const POINT a = host.CentreOf(7), b = host.CentreOf(8);
    ts::MoveTo(host.view, a);
    SendMessageW(host.view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(a.x, a.y));
    EXPECT_TRUE(host.view.FindItem(7)->GetState() & kBkStatePushed);
    ts::MoveTo(host.view, b);
    SendMessageW(host.view, WM_LBUTTONUP, 0, MAKELPARAM(b.x, b.y));
    EXPECT_TRUE(host.Clicks().empty());
    EXPECT_FALSE(host.view.FindItem(7)->GetState() & kBkStatePushed);
    EXPECT_FALSE(host.view.FindItem(8)->GetState() & kBkStatePushed);
}

TEST_F(DialogViewMouse, AnHrefOpensThroughTheSeamInsteadOfACommandAndIdZeroSendsNothing) {
    ts::ClickAt(host.view, host.CentreOf(9));
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0], L"open|http://example.invalid/|1");
    ts::ClickAt(host.view, POINT{140, 90});  // the text with id 0 (the body starts at 30)
    EXPECT_TRUE(host.Clicks().empty());
}

TEST_F(DialogViewMouse, ADisabledItemIsHoveredButNeverPressedOrClicked) {
    const POINT p = host.CentreOf(12);
    ts::ClickAt(host.view, p);
    EXPECT_EQ(host.view.HoveredItem(), host.view.FindItem(12)->GetHandle());
    EXPECT_FALSE(host.view.FindItem(12)->GetState() & (kBkStateHover | kBkStatePushed));
    EXPECT_TRUE(host.Clicks().empty());
    host.view.EnableItem(12, TRUE);
    ts::ClickAt(host.view, p);
    EXPECT_EQ(host.Clicks().size(), 1u);
}

TEST_F(DialogViewMouse, EnterAndLeaveAreReportedAndLeaveClearsHoverButNotAHeldPress) {
    const POINT a = host.CentreOf(7);
    ts::MoveTo(host.view, a);
    ts::MoveTo(host.view, host.CentreOf(8));
    SendMessageW(host.view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(host.CentreOf(8).x, host.CentreOf(8).y));
    SendMessageW(host.view, WM_MOUSELEAVE, 0, 0);
    std::vector<UINT> codes;
    for (const Notice& n : host.notices) codes.push_back(n.code);
    EXPECT_EQ(codes, (std::vector<UINT>{kBkNotifyMouseEnter, kBkNotifyMouseLeave}));
    EXPECT_EQ(host.view.HoveredItem(), 0u);
    EXPECT_EQ(host.view.PressedItem(), host.view.FindItem(8)->GetHandle()) << "the button is still held";
    EXPECT_FALSE(host.view.FindItem(8)->GetState() & (kBkStateHover | kBkStatePushed));
    ReleaseCapture();
}

TEST_F(DialogViewMouse, PressingTheHeaderDragsTheDialogExceptOnButtonsOrWhenMaximised) {
    ts::ClickAt(host.view, host.CentreOf(60004));
    EXPECT_EQ(host.drags, 1);
    ts::ClickAt(host.view, POINT{150, 15});  // the header itself
    EXPECT_EQ(host.drags, 2);
    ts::ClickAt(host.view, host.CentreOf(60001));
    EXPECT_EQ(host.drags, 2);
    ASSERT_EQ(host.Clicks().size(), 1u);
    EXPECT_EQ(host.Clicks()[0].item, 60001u);
    host.ModifyStyle(0, WS_MAXIMIZE);
    ts::ClickAt(host.view, host.CentreOf(60004));
    EXPECT_EQ(host.drags, 2);
    host.ModifyStyle(WS_MAXIMIZE, 0);
    SendMessageW(host.view, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(150, 15));
    EXPECT_FALSE(IsZoomed(host));
}

TEST_F(DialogViewMouse, TheTooltipTakesTheHoveredItemsTip) {
    HWND tip = host.view.GetToolTip();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1) << "the tool record's size is accepted";
    ts::MoveTo(host.view, host.CentreOf(77));
    wchar_t text[80] = {};
    TOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = host;
    ti.uId = (UINT_PTR)(HWND)host.view;
    ti.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 80, (LPARAM)&ti);
    EXPECT_STREQ(text, L"提示文字");
}

TEST(DialogViewCursor, ElementsSetTheirCursorAlsoInAResizableDialog) {
    LoadTables("<string/>", "<skins/>", "<style><class name=\"hand\" cursor=\"hand\"/></style>");
    for (const char* resize : {"0", "1"}) {
        ViewHost host;
        ASSERT_TRUE(host.Open(std::string("<layer resize=\"") + resize +
                                  "\"><body><link id=\"3\" class=\"hand\" pos=\"10,10,100,40\">x</link>"
                                  "<text id=\"4\" pos=\"10,50,100,80\">y</text></body></layer>",
                              300, 200));
        POINT s = host.CentreOf(3);
        ClientToScreen(host.view, &s);
        SetCursorPos(s.x, s.y);
        EXPECT_EQ(SendMessageW(host.view, WM_SETCURSOR, (WPARAM)(HWND)host.view, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
                  TRUE);
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND)) << "resize " << resize;
        EXPECT_EQ(host.setCursorAsked, 0) << "the client area is the elements' own";
        SendMessageW(host.view, WM_SETCURSOR, (WPARAM)(HWND)host.view, MAKELPARAM(HTBOTTOMRIGHT, WM_MOUSEMOVE));
        EXPECT_EQ(host.setCursorAsked, resize[0] == '1' ? 1 : 0) << "a sizing border is the dialog's";
        s = host.CentreOf(4);
        ClientToScreen(host.view, &s);
        SetCursorPos(s.x, s.y);
        SendMessageW(host.view, WM_SETCURSOR, (WPARAM)(HWND)host.view, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
    }
    LoadTables("<string/>", "<skins/>", "<style/>");
}

TEST(DialogViewItems, LookUpGoesHeaderBodyFooterAndUnknownIdsChangeNothing) {
    ViewHost host;
    ASSERT_TRUE(host.Open(kThreePanels, 300, 200));
    EXPECT_EQ(host.view.GetItemText(77), L"body 77") << "the body's item is found before the footer's";
    EXPECT_TRUE(host.view.SetItemText(60004, L"新标题"));
    EXPECT_EQ(host.view.GetItemText(60004), L"新标题");
    EXPECT_TRUE(host.view.SetItemText(21, L"deep"));
    EXPECT_EQ(host.view.GetItemText(21), L"deep");

    EXPECT_FALSE(host.view.SetItemText(999, L"x"));
    EXPECT_EQ(host.view.GetItemText(999), L"");
    EXPECT_FALSE(host.view.SetItemAttribute(999, "crbg", "000000"));
    EXPECT_FALSE(host.view.SetItemCheck(999, TRUE));
    EXPECT_FALSE(host.view.GetItemCheck(999));
    EXPECT_FALSE(host.view.EnableItem(999, FALSE));
    EXPECT_FALSE(host.view.SetItemVisible(999, FALSE));

    EXPECT_TRUE(host.view.SetItemCheck(8, TRUE));
    EXPECT_TRUE(host.view.GetItemCheck(8));
    EXPECT_TRUE(host.view.SetItemCheck(8, FALSE));
    EXPECT_FALSE(host.view.GetItemCheck(8));

    host.view.FindItem(8)->ModifyState(kBkStateHover, 0);
    EXPECT_TRUE(host.view.EnableItem(8, FALSE));
    EXPECT_EQ(host.view.FindItem(8)->GetState() & (kBkStateHover | kBkStateDisabled), (DWORD)kBkStateDisabled);

    EXPECT_TRUE(host.view.SetItemIntAttribute(8, "id", 4000000000u));
    EXPECT_EQ(host.view.FindItem(8), nullptr);
    EXPECT_NE(host.view.FindItem((int)4000000000u), nullptr) << "formatted with %u, read back as the same 32 bits";
}

TEST(DialogViewItems, LoadPanelXmlReplacesAContainersChildren) {
    ViewHost host;
    ASSERT_TRUE(host.Open(kThreePanels, 300, 200));
    const HBKWND old = host.view.FindItem(21)->GetHandle();
    EXPECT_TRUE(host.view.LoadPanelXml(20, "<text id=\"31\" pos=\"0,0\">a</text><button id=\"32\" pos=\"0,0\">b</button>"));
    EXPECT_EQ(host.view.FindItem(21), nullptr);
    EXPECT_EQ(BkWindowRegistry::Find(old), nullptr);
    ASSERT_NE(host.view.FindItem(32), nullptr);
    EXPECT_EQ(host.view.FindItem(32)->GetRect().top, host.view.FindItem(20)->GetRect().top) << "placed at once";
    EXPECT_FALSE(host.view.LoadPanelXml(20, "<text id=\"33\">"));
    EXPECT_NE(host.view.FindItem(32), nullptr) << "a parse error keeps the old children";
    EXPECT_FALSE(host.view.LoadPanelXml(7, "<text id=\"33\"/>")) << "a button is no container";
    EXPECT_FALSE(host.view.LoadPanelXml(999, "<text id=\"33\"/>"));
}

TEST(DialogViewForwarding, ChildNotificationsReachTheDialogButRedrawsStayInTheView) {
    ViewHost host;
    ASSERT_TRUE(host.Open(
        "<layer><body><realwnd id=\"700\" pos=\"10,10,60,30\"/><text id=\"5\" pos=\"0,0\">t</text></body></layer>",
        300, 200));
    HWND child = CreateWindowExW(0, L"BUTTON", L"real", WS_CHILD | WS_VISIBLE, 0, 0, 5, 5, host.view,
                                 (HMENU)(INT_PTR)700, nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    host.notices.clear();
    EXPECT_TRUE(host.view.SetItemAttribute(700, "pos", "20,10,70,30"));  // placed again at once
    RECT rc;
    GetWindowRect(child, &rc);
    POINT tl = {rc.left, rc.top};
    ScreenToClient(host.view, &tl);
    EXPECT_EQ(tl.x, 20);
    EXPECT_EQ(tl.y, 10);
    EXPECT_EQ(rc.right - rc.left, 50);
    bool moved = false;
    for (const Notice& n : host.notices) moved |= n.code == kBkNotifyRealWndMoved;
    EXPECT_TRUE(moved);

    SendMessageW(child, BM_CLICK, 0, 0);
    ASSERT_FALSE(host.commands.empty());
    EXPECT_EQ(host.commands.back(), 700u);

    host.notices.clear();
    host.view.FindItem(5)->RequestRedraw();
    EXPECT_TRUE(host.notices.empty()) << "BkRedrawNotify is the view's own";
    NMHDR other = {child, 700, 12345};
    SendMessageW(host.view, WM_NOTIFY, 700, (LPARAM)&other);
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0].code, 12345u);
}

// A control that draws itself: it answers the reflected custom-draw notification.
class SelfDrawn : public CWindowImpl<SelfDrawn> {
public:
    DECLARE_WND_CLASS(L"SkinViewSelfDrawn")
    int reflected = 0;
    BEGIN_MSG_MAP(SelfDrawn)
        MESSAGE_HANDLER(OCM_NOTIFY, OnReflected)
    END_MSG_MAP()
    LRESULT OnReflected(UINT, WPARAM, LPARAM lParam, BOOL&) {
        ++reflected;
        return ((NMHDR*)lParam)->code == (UINT)NM_CUSTOMDRAW ? CDRF_NOTIFYITEMDRAW : 0;
    }
};

TEST(DialogViewForwarding, CustomDrawGoesBackToTheControlThatSentIt) {
    ViewHost host;
    ASSERT_TRUE(host.Open("<layer><body/></layer>", 200, 100));
    SelfDrawn control;
    RECT rc = {0, 0, 20, 20};
    ASSERT_NE(control.Create(host.view, &rc, nullptr, WS_CHILD, 0, 801), nullptr);
    host.notices.clear();
    NMCUSTOMDRAW cd = {};
    cd.hdr = {control, 801, (UINT)NM_CUSTOMDRAW};
    EXPECT_EQ(SendMessageW(host.view, WM_NOTIFY, 801, (LPARAM)&cd), CDRF_NOTIFYITEMDRAW);
    EXPECT_EQ(control.reflected, 1);
    EXPECT_TRUE(host.notices.empty());
    control.DestroyWindow();
}

}  // namespace
