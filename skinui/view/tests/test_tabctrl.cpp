// The tab control: where its tabs and page area lie, which page load selects, the vetoable
// tab-change notification, mouse selection through the view, and how the strip is drawn.
#include <gtest/gtest.h>

#include <string>

#include "bktabctrl.h"
#include "guardheap.h"
#include "viewkit.h"

namespace {

const char kMainPanelTabs[] =
    "<tabctrl id=\"136\" pos=\"0,0,-0,-0\" tabpos=\"1\" tabspacing=\"5\" tabwidth=\"71\" tabheight=\"71\" "
    "framepos=\"7\"%s>"
    "<tab title=\"一\"><text id=\"11\" pos=\"0,0\">page 0</text></tab>"
    "<tab title=\"二\" hide=\"1\"><text id=\"12\" pos=\"0,0\">page 1</text></tab>"
    "<tab title=\"三\"><text id=\"13\" pos=\"0,0\">page 2</text></tab>"
    "<tab title=\"四\"><text id=\"14\" pos=\"0,0\">page 3</text></tab>"
    "</tabctrl>";

std::string Tabs(const char* extra = "") {
    char buf[1024];
    snprintf(buf, sizeof(buf), kMainPanelTabs, extra);
    return buf;
}

// A tab control loaded and placed at (10, 20) with a 400 x 300 area.
struct PlacedTabs {
    explicit PlacedTabs(const std::string& xml) : doc(xml) {
        loaded = tabs.Load(doc.root());
        WINDOWPOS wp = PlaceAt(10, 20, 400, 300);
        tabs.SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
    }
    XmlOf doc;
    CBkTabCtrl tabs;
    BOOL loaded = FALSE;
};

TEST(TabCtrlGeometry, TopStripOfTheMainPanelSkipsHiddenPages) {
    PlacedTabs t(Tabs());
    ASSERT_TRUE(t.loaded);
    ASSERT_EQ(t.tabs.Pages().size(), 4u);
    struct Case {
        int index, left;
    } const cases[] = {{0, 10 + 1}, {1, 10 + 76 + 1}, {2, 10 + 76 + 1}, {3, 10 + 76 * 2 + 1}};
    for (const Case& c : cases) {
        RECT r;
        ASSERT_TRUE(t.tabs.GetTabRect(c.index, r));
        EXPECT_EQ(r.left, c.left) << c.index;
        EXPECT_EQ(r.top, 20) << c.index;
        EXPECT_EQ(r.right - r.left, 71);
        EXPECT_EQ(r.bottom - r.top, 71);
    }
    RECT r;
    EXPECT_FALSE(t.tabs.GetTabRect(4, r));
    EXPECT_FALSE(t.tabs.GetTabRect(-1, r));
    EXPECT_EQ(t.tabs.PageArea().top, 20 + 78);
    EXPECT_EQ(t.tabs.PageArea().left, 10);
    // Every page, hidden ones too, is laid out in the page area.
    for (CBkTab* page : t.tabs.Pages()) EXPECT_EQ(page->GetRect().top, 98);
}

TEST(TabCtrlGeometry, LeftStripStepsDownAndMarginsShrinkThePageArea) {
    LoadTables("<string/>", "<skins/>", "<style><class name=\"tm\" x-margin=\"3\" y-margin=\"4\"/></style>");
    PlacedTabs t(Tabs(" tabalign=\"left\" class=\"tm\""));
    RECT r;
    ASSERT_TRUE(t.tabs.GetTabRect(3, r));
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20 + 76 * 2 + 1);
    EXPECT_EQ(t.tabs.PageArea().left, 10 + 78 + 3);
    EXPECT_EQ(t.tabs.PageArea().top, 20 + 4);
    EXPECT_EQ(t.tabs.PageArea().right, 410 - 3);
    LoadTables("<string/>", "<skins/>", "<style/>");
}

TEST(TabCtrlGeometry, UnknownAlignmentFailsAndKeepsTheOldOne) {
    CBkTabCtrl tabs;
    EXPECT_EQ(tabs.SetAttribute("tabalign", "left", TRUE), S_OK);
    EXPECT_EQ(tabs.SetAttribute("tabalign", "Left", TRUE), E_FAIL);
    EXPECT_EQ(tabs.SetAttribute("tabalign", "bottom", TRUE), E_FAIL);
    tabs.SetAttribute("tabwidth", "10", TRUE);
    tabs.SetAttribute("tabheight", "10", TRUE);
    RECT r;
    XmlOf xml("<tabctrl tabwidth=\"10\" tabheight=\"10\"><tab/><tab/></tabctrl>");
    ASSERT_TRUE(tabs.Load(xml.root()));
    ASSERT_TRUE(tabs.GetTabRect(1, r));
    EXPECT_EQ(r.left, 0) << "still the left strip: the second tab is below the first";
    EXPECT_EQ(r.top, 10);
}

TEST(TabCtrlLoad, SelectsTheFirstPageWithoutHide) {
    struct Case {
        const char* xml;
        int cursel;
    } const cases[] = {
        {"<tabctrl><tab hide=\"1\"/><tab/><tab/></tabctrl>", 1},
        {"<tabctrl><tab/><tab/></tabctrl>", 0},
        {"<tabctrl cursel=\"2\"><tab/><tab/><tab hide=\"1\"/></tabctrl>", 0},
        {"<tabctrl cursel=\"1\"><tab/><tab/></tabctrl>", 1},
        {"<tabctrl><tab hide=\"1\"/><tab hide=\"1\"/></tabctrl>", 0},
        {"<tabctrl><text/><tab/><div/></tabctrl>", 0},
    };
    for (const Case& c : cases) {
        XmlOf xml(c.xml);
        CBkTabCtrl tabs;
        ASSERT_TRUE(tabs.Load(xml.root())) << c.xml;
        EXPECT_EQ(tabs.GetCurSel(), c.cursel) << c.xml;
        int shown = 0;
        for (CBkTab* p : tabs.Pages())
            if (!(p->GetState() & kBkStateHidden)) ++shown;
        EXPECT_LE(shown, 1) << c.xml;
    }
    XmlOf xml("<tabctrl><text/><tab/><div/></tabctrl>");
    CBkTabCtrl tabs;
    ASSERT_TRUE(tabs.Load(xml.root()));
    EXPECT_EQ(tabs.Pages().size(), 1u) << "only tab elements make pages";
}

// A view holding the main panel's tab control in its body.
class TabCtrlInView : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.Open("<layer><body>" + Tabs() + "</body></layer>", 400, 300));
        tabs = static_cast<CBkTabCtrl*>(host.view.FindItem(136));
        ASSERT_NE(tabs, nullptr);
    }
    std::vector<Notice> TabNotices() const {
        std::vector<Notice> out;
        for (const Notice& n : host.notices)
            if (n.code == kBkNotifyTabChange) out.push_back(n);
        return out;
    }
    POINT TabCentre(int i) {
        RECT r;
        tabs->GetTabRect(i, r);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    ViewHost host;
    CBkTabCtrl* tabs = nullptr;
};

TEST_F(TabCtrlInView, SetCurSelAnnouncesEveryChangeAndAVetoKeepsTheOldPage) {
    EXPECT_TRUE(host.view.SetTabCurSel(136, 2));
    EXPECT_EQ(tabs->GetCurSel(), 2);
    EXPECT_TRUE(tabs->Pages()[1]->GetState() & kBkStateHidden);
    EXPECT_FALSE(tabs->Pages()[2]->GetState() & kBkStateHidden);
    EXPECT_TRUE(tabs->Pages()[0]->GetState() & kBkStateHidden);
    auto n = TabNotices();
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].from, (HWND)host.view);
    EXPECT_EQ(n[0].id, 1000u);
    EXPECT_EQ(n[0].item, 136u);
    EXPECT_EQ(n[0].newPage, 2);
    EXPECT_EQ(n[0].oldPage, 0);

    host.vetoTabChanges = 1;
    EXPECT_FALSE(host.view.SetTabCurSel(136, 3));
    EXPECT_EQ(tabs->GetCurSel(), 2);
    host.vetoTabChanges = 0;

    EXPECT_TRUE(host.view.SetTabCurSel(136, 2)) << "already selected";
    EXPECT_FALSE(host.view.SetTabCurSel(136, 4));
    EXPECT_FALSE(host.view.SetTabCurSel(136, -1));
    EXPECT_EQ(tabs->GetCurSel(), 2);
    EXPECT_EQ(TabNotices().size(), 5u) << "each call is announced, the failing ones too";
    EXPECT_TRUE(host.view.SetTabCurSel(136, 1)) << "a page without a tab can be selected by index";
    EXPECT_FALSE(host.view.SetTabCurSel(11, 0)) << "not a tab control";
}

TEST_F(TabCtrlInView, ClickingATabSelectsItAndReportsTheControl) {
    ts::ClickAt(host.view, TabCentre(2));
    EXPECT_EQ(tabs->GetCurSel(), 2);
    ASSERT_EQ(TabNotices().size(), 1u);
    auto clicks = host.Clicks();
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].item, 136u);
    EXPECT_EQ(clicks[0].tag, "tabctrl");

    host.notices.clear();
    ts::ClickAt(host.view, TabCentre(2));
    EXPECT_TRUE(TabNotices().empty()) << "the selected tab is not clicked into selection";
    EXPECT_EQ(host.Clicks().size(), 1u);

    host.notices.clear();
    host.vetoTabChanges = 1;
    ts::ClickAt(host.view, TabCentre(3));
    EXPECT_EQ(tabs->GetCurSel(), 2);
    EXPECT_EQ(TabNotices().size(), 1u);
}

TEST_F(TabCtrlInView, AHostThatRebuildsTheLayoutInTheChangeNoticeLeavesNothingDangling) {
    // The handler deletes the tab control (and its pages) while the control is still inside
    // SetCurSel: by click and by the view's call alike, nothing after the notice may run on it.
    // Under the guarded heap the deleted control's memory faults at the first touch.
    gh::GuardedHeap guard;
    ASSERT_TRUE(host.view.LoadLayout("<layer><body>" + Tabs() + "</body></layer>"));
    // A layout loaded into a shown view is placed at its next size change.
    host.view.MoveWindow(0, 0, 399, 300, FALSE);
    host.view.MoveWindow(0, 0, 400, 300, TRUE);
    tabs = static_cast<CBkTabCtrl*>(host.view.FindItem(136));
    ASSERT_NE(tabs, nullptr);
    ASSERT_TRUE(gh::IsGuarded(tabs));
    host.notices.clear();
    host.onTabChange = [&] {
        host.onTabChange = nullptr;
        ASSERT_TRUE(host.view.LoadLayout("<layer><body><button id=\"7\" pos=\"10,10,90,40\">确定</button></body></layer>"));
    };
    ts::ClickAt(host.view, TabCentre(2));
    EXPECT_EQ(host.view.FindItem(136), nullptr);
    ASSERT_NE(host.view.FindItem(7), nullptr);
    EXPECT_EQ(TabNotices().size(), 1u);
    EXPECT_TRUE(host.Clicks().empty()) << "the control that was clicked is gone: no command for it";

    ASSERT_TRUE(host.view.LoadLayout("<layer><body>" + Tabs() + "</body></layer>"));
    ASSERT_TRUE(gh::IsGuarded(host.view.FindItem(136)));
    host.notices.clear();
    host.onTabChange = [&] {
        host.onTabChange = nullptr;
        ASSERT_TRUE(host.view.LoadLayout("<layer><body/></layer>"));
    };
    EXPECT_FALSE(host.view.SetTabCurSel(136, 3)) << "a control deleted by its own notice changed nothing";
    EXPECT_EQ(TabNotices().size(), 1u);
}

TEST_F(TabCtrlInView, HoverFollowsTheMouseOverUnselectedTabs) {
    ts::MoveTo(host.view, TabCentre(3));
    EXPECT_EQ(tabs->HoverIndex(), 3);
    ts::MoveTo(host.view, TabCentre(0));
    EXPECT_EQ(tabs->HoverIndex(), -1) << "the selected tab is never hovered";
    ts::MoveTo(host.view, TabCentre(2));
    EXPECT_EQ(tabs->HoverIndex(), 2);
    ts::MoveTo(host.view, POINT{200, 200});  // into the page: the control gets a leave
    EXPECT_EQ(tabs->HoverIndex(), -1);
}

// Pixels of one colour in a rectangle.
int CountColour(const ts::Capture& c, const RECT& r, COLORREF colour) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (c.At(x, y) == colour) ++n;
    return n;
}

TEST(TabCtrlPaint, SelectedTitleInTheHoverColourOthersInTheTextColourOnlySelectedPagePainted) {
    LoadTables("<string/>", "<skins/>",
               "<style><class name=\"tabs\" crtext=\"0000FF\" crhover=\"FF0000\" font=\"0400\"/></style>");
    ViewHost host;
    ASSERT_TRUE(host.Open(
        "<layer><body crbg=\"FFFFFF\">"
        "<tabctrl id=\"5\" class=\"tabs\" pos=\"0,0,-0,-0\" tabwidth=\"60\" tabheight=\"30\" tabspacing=\"10\">"
        "<tab title=\"甲甲\"><dlg pos=\"0,0,-0,-0\" crbg=\"00FF00\"/></tab>"
        "<tab title=\"乙乙\"><dlg pos=\"0,0,-0,-0\" crbg=\"FFFF00\"/></tab>"
        "</tabctrl></body></layer>",
        300, 200));
    ts::Capture c = ts::CaptureView(host.view);
    ASSERT_TRUE(c.ok());
    const RECT tab0 = {0, 0, 60, 30}, tab1 = {70, 0, 130, 30}, page = {0, 30, 300, 200};
    EXPECT_GT(CountColour(c, tab0, RGB(0xFF, 0, 0)), 0);
    EXPECT_EQ(CountColour(c, tab0, RGB(0, 0, 0xFF)), 0);
    EXPECT_GT(CountColour(c, tab1, RGB(0, 0, 0xFF)), 0);
    EXPECT_EQ(CountColour(c, tab1, RGB(0xFF, 0, 0)), 0);
    EXPECT_EQ(CountColour(c, page, RGB(0, 0xFF, 0)), 300 * 170);
    host.view.SetTabCurSel(5, 1);
    c = ts::CaptureView(host.view);
    EXPECT_EQ(CountColour(c, page, RGB(0xFF, 0xFF, 0)), 300 * 170);
    EXPECT_GT(CountColour(c, tab1, RGB(0xFF, 0, 0)), 0);
    LoadTables("<string/>", "<skins/>", "<style/>");
}

TEST(TabCtrlPaint, ALongTitleEndsInAnEllipsisAndKeepsItsAmpersand) {
    LoadTables("<string/>", "<skins/>", "<style><class name=\"tabs\" crtext=\"0000FF\" font=\"0000\"/></style>");
    const wchar_t title[] = L"A&B 很长很长的标题文字";
    ViewHost host;
    ASSERT_TRUE(host.Open(
        "<layer><body><tabctrl class=\"tabs\" crbg=\"FFFFFF\" pos=\"0,0,-0,-0\" tabwidth=\"50\" tabheight=\"24\">"
        "<tab title=\"A&amp;B 很长很长的标题文字\"/></tabctrl></body></layer>",
        200, 100));
    ts::Capture c = ts::CaptureView(host.view);
    ASSERT_TRUE(c.ok());
    // What the documented flags draw in the same place with the same font and colours.
    ts::Dib ref(200, 100, RGB(0xFF, 0xFF, 0xFF));
    HGDIOBJ old = SelectObject(ref.dc(), BkFontPool::GetFont(0));
    SetBkMode(ref.dc(), TRANSPARENT);
    SetTextColor(ref.dc(), RGB(0, 0, 0xFF));
    RECT tab = {0, 0, 50, 24};
    DrawTextW(ref.dc(), title, -1, &tab, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(ref.dc(), old);
    int differ = 0, ink = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 50; ++x) {
            differ += c.At(x, y) != ref.At(x, y);
            ink += ref.At(x, y) != RGB(0xFF, 0xFF, 0xFF);
        }
    EXPECT_GT(ink, 20);
    EXPECT_EQ(differ, 0);
    LoadTables("<string/>", "<skins/>", "<style/>");
}

}  // namespace
