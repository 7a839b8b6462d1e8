// Containers and the element factory: which tags make which elements, how a panel builds, hits,
// searches, places and shows its children, and the panel embedded from an XML resource.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bkpanel.h"
#include "viewkit.h"

namespace {

TEST(ContainerFactory, EveryTagOfTheTableMakesItsOwnElement) {
    const char* const tags[] = {"dlg",     "dlgfile", "text",     "button",   "img",      "progress", "imgbtn",
                                "realwnd", "hr",      "check",    "icon",     "tabctrl",  "radio",    "richtext",
                                "link",    "memimage", "imglisth", "edit",     "combo"};
    for (const char* tag : tags) {
        std::unique_ptr<CBkWindow> e(CBkPanel::CreateChildByTag(tag));
        ASSERT_NE(e, nullptr) << tag;
        EXPECT_STREQ(e->TagName(), tag);
        EXPECT_TRUE(e->IsTag(tag)) << tag;
        EXPECT_NE(e->GetHandle(), 0u);
    }
}

TEST(ContainerFactory, TagsOutsideTheTableMakeNothing) {
    const char* const tags[] = {"div", "tab", "Dlg", "TEXT", "dlg ", "", "layer", "header", "span"};
    for (const char* tag : tags) EXPECT_EQ(CBkPanel::CreateChildByTag(tag), nullptr) << "'" << tag << "'";
    EXPECT_EQ(CBkPanel::CreateChildByTag(nullptr), nullptr);
}

TEST(ContainerFactory, ADlgfileIsNotADlg) {
    std::unique_ptr<CBkWindow> file(CBkPanel::CreateChildByTag("dlgfile"));
    EXPECT_FALSE(file->IsTag("dlg"));
    std::unique_ptr<CBkWindow> dlg(CBkPanel::CreateChildByTag("dlg"));
    EXPECT_FALSE(dlg->IsTag("dlgfile"));
}

// Children by tag, in document order: what the loader keeps.
std::vector<std::string> TagsOf(const CBkPanel& p) {
    std::vector<std::string> out;
    for (CBkWindow* c : p.Children()) out.push_back(c->TagName());
    return out;
}

TEST(ContainerPanel, LoadSkipsDivsStrayTabsUnknownTagsAndTheirSubtrees) {
    XmlOf xml(
        "<dlg id=\"5\">"
        "<text id=\"1\">a</text>"
        "<div><text id=\"2\">in a div</text></div>"
        "<!-- a comment -->"
        "<tab title=\"x\"><text id=\"3\">in a stray tab</text></tab>"
        "<blink><text id=\"4\">in an unknown tag</text></blink>"
        "<button id=\"6\">b</button>"
        "</dlg>");
    ASSERT_TRUE(xml.ok());
    CBkDialog panel;
    ASSERT_TRUE(panel.Load(xml.root()));
    EXPECT_EQ(TagsOf(panel), (std::vector<std::string>{"text", "button"}));
    for (int skipped : {2, 3, 4}) EXPECT_EQ(panel.FindChild(skipped), nullptr) << skipped;
    for (CBkWindow* c : panel.Children()) EXPECT_EQ(c->GetParent(), panel.GetHandle());
    EXPECT_EQ(panel.GetCmdID(), 5);
}

TEST(ContainerPanel, LoadChildrenReplacesTheOldChildrenAndDestroysThem) {
    XmlOf first("<dlg><text id=\"1\">a</text><text id=\"2\">b</text></dlg>");
    CBkDialog panel;
    ASSERT_TRUE(panel.Load(first.root()));
    const HBKWND oldA = panel.Children()[0]->GetHandle(), oldB = panel.Children()[1]->GetHandle();
    XmlOf second("<x><link id=\"9\">c</link></x>");
    EXPECT_TRUE(panel.LoadChildren(second.root()->FirstChildElement()));
    EXPECT_EQ(TagsOf(panel), (std::vector<std::string>{"link"}));
    EXPECT_EQ(BkWindowRegistry::Find(oldA), nullptr);
    EXPECT_EQ(BkWindowRegistry::Find(oldB), nullptr);
}

TEST(ContainerPanel, DeletingAPanelWithoutDestroyFreesItsChildren) {
    XmlOf xml("<dlg><dlg><text id=\"1\">deep</text></dlg></dlg>");
    auto* panel = new CBkDialog;
    ASSERT_TRUE(panel->Load(xml.root()));
    const HBKWND inner = panel->Children()[0]->GetHandle();
    const HBKWND deep = panel->FindChild(1)->GetHandle();
    delete panel;
    EXPECT_EQ(BkWindowRegistry::Find(inner), nullptr);
    EXPECT_EQ(BkWindowRegistry::Find(deep), nullptr);
}

// A panel 0,0-100,100 with three overlapping children; B floats.
class ContainerHitOrder : public ::testing::Test {
protected:
    void SetUp() override {
        XmlOf xml(
            "<dlg pos=\"0,0,-0,-0\">"
            "<text id=\"1\" pos=\"0,0,-0,-0\">A</text>"
            "<text id=\"2\" pos=\"0,0,-0,-0\" float=\"1\">B</text>"
            "<text id=\"3\" pos=\"0,0,-0,-0\">C</text>"
            "</dlg>");
        ASSERT_TRUE(panel.Load(xml.root()));
        WINDOWPOS wp = PlaceAt(0, 0, 100, 100);
        panel.SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
    }
    int HitId(POINT pt) {
        CBkWindow* w = BkWindowRegistry::Find(panel.HitTest(pt));
        return w ? w->GetCmdID() : -1;
    }
    CBkDialog panel;
};

TEST_F(ContainerHitOrder, FloatingFirstThenLaterBeforeEarlier) {
    const POINT in = {50, 50};
    EXPECT_EQ(HitId(in), 2);
    panel.FindChild(2)->SetVisible(FALSE);
    EXPECT_EQ(HitId(in), 3);
    panel.FindChild(3)->SetAttribute("transparent", "1", TRUE);
    EXPECT_EQ(HitId(in), 1);
    panel.FindChild(1)->SetVisible(FALSE);
    EXPECT_EQ(panel.HitTest(in), panel.GetHandle()) << "no child: the panel itself";
    EXPECT_EQ(panel.HitTest(POINT{150, 50}), 0u) << "outside the panel";
}

TEST_F(ContainerHitOrder, OnlyDrawChildAnswersWithThePanel) {
    panel.SetAttribute("onlydrawchild", "1", TRUE);
    EXPECT_EQ(panel.HitTest(POINT{50, 50}), panel.GetHandle());
}

TEST(ContainerPanel, FindChildPrefersADirectChildOverADeeperOne) {
    XmlOf xml(
        "<dlg>"
        "<dlg id=\"10\"><text id=\"7\">deep</text><text id=\"8\">only deep</text></dlg>"
        "<text id=\"7\">direct</text>"
        "</dlg>");
    CBkDialog panel;
    ASSERT_TRUE(panel.Load(xml.root()));
    ASSERT_NE(panel.FindChild(7), nullptr);
    EXPECT_EQ(panel.FindChild(7)->GetParent(), panel.GetHandle());
    ASSERT_NE(panel.FindChild(8), nullptr);
    EXPECT_EQ(panel.FindChild(8)->GetParent(), panel.FindChild(10)->GetHandle());
    EXPECT_EQ(panel.FindChild(99), nullptr);
}

TEST(ContainerPlacement, PlacesEachChildByItsPosInsideTheMargins) {
    // Style margins come from the style table: x-margin 10, y-margin 5.
    LoadTables("<string/>", "<skins/>", "<style><class name=\"m\" x-margin=\"10\" y-margin=\"5\"/></style>");
    struct Case {
        const char* pos;
        int left, top;
    } const cases[] = {
        {"0,0", 10, 5},       {"-0,-0", 210, 105},  {"|0,|0", 110, 55}, {"|-20,|-20", 90, 35},
        {"|20,7", 130, 12},   {"-30,-15", 180, 90}, {"15,25", 25, 30},
    };
    for (const Case& c : cases) {
        std::string text = std::string("<dlg class=\"m\" pos=\"0,0,-0,-0\"><text id=\"1\" pos=\"") + c.pos + "\">x</text></dlg>";
        XmlOf xml(text);
        CBkDialog panel;
        ASSERT_TRUE(panel.Load(xml.root()));
        WINDOWPOS wp = PlaceAt(0, 0, 220, 110);
        panel.SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
        const RECT r = panel.FindChild(1)->GetRect();
        EXPECT_EQ(r.left, c.left) << c.pos;
        EXPECT_EQ(r.top, c.top) << c.pos;
    }
    LoadTables("<string/>", "<skins/>", "<style/>");
}

TEST(ContainerPlacement, FourValuePosSpansTheAreaAndARunTimePosMovesAtOnce) {
    XmlOf xml("<dlg pos=\"0,0,-0,-0\"><text id=\"1\" pos=\"5,6,-5,-6\">x</text></dlg>");
    CBkDialog panel;
    ASSERT_TRUE(panel.Load(xml.root()));
    WINDOWPOS wp = PlaceAt(100, 50, 200, 100);
    panel.SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
    RECT r = panel.FindChild(1)->GetRect();
    EXPECT_EQ(r.left, 105);
    EXPECT_EQ(r.top, 56);
    EXPECT_EQ(r.right, 295);
    EXPECT_EQ(r.bottom, 144);
    panel.FindChild(1)->SetAttribute("pos", "10,10,20,20", FALSE);
    r = panel.FindChild(1)->GetRect();
    EXPECT_EQ(r.left, 110);
    EXPECT_EQ(r.top, 60);
    EXPECT_EQ(r.right, 120);
    EXPECT_EQ(r.bottom, 70);
}

TEST(ContainerDialogFile, LoadsTheTopLevelElementsOfItsResource) {
    TempSkinFolder folder;
    ASSERT_TRUE(folder.Put(4711, "<text id=\"1\">a</text><button id=\"2\">b</button><dlg id=\"3\"><link id=\"4\"/></dlg>"));
    ASSERT_TRUE(folder.Put(4712, "<text id=\"1\">a</text><button"));

    struct Case {
        const char* xml;
        BOOL loads;
        size_t children;
    } const cases[] = {
        {"<dlgfile src=\"4711\"><text id=\"9\">own child, ignored</text></dlgfile>", TRUE, 3},
        {"<dlgfile src=\"4713\"/>", TRUE, 0},   // no such resource: empty
        {"<dlgfile src=\"4712\"/>", FALSE, 0},  // malformed
        {"<dlgfile/>", FALSE, 0},               // no src
        {"<dlgfile src=\"\"/>", FALSE, 0},
    };
    for (const Case& c : cases) {
        XmlOf xml(c.xml);
        CBkDialogFile file;
        EXPECT_EQ(file.Load(xml.root()), c.loads) << c.xml;
        EXPECT_EQ(file.Children().size(), c.children) << c.xml;
    }
    XmlOf xml("<dlgfile src=\"4711\"/>");
    CBkDialogFile file;
    ASSERT_TRUE(file.Load(xml.root()));
    EXPECT_NE(file.FindChild(4), nullptr) << "the resource's own nesting stays";
    EXPECT_EQ(file.FindChild(9), nullptr);
}

TEST(ContainerDialogFile, AParentKeepsADlgfileThatFailsToLoad) {
    XmlOf xml("<dlg><dlgfile id=\"3\"/><text id=\"4\">x</text></dlg>");
    CBkDialog panel;
    ASSERT_TRUE(panel.Load(xml.root()));
    EXPECT_EQ(TagsOf(panel), (std::vector<std::string>{"dlgfile", "text"}));
}

// Real windows under panels: the container window's children with the realwnd ids.
class ContainerRealWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.Open(
            "<layer><body>"
            "<dlg id=\"10\" pos=\"0,0,-0,-0\">"
            "  <realwnd id=\"501\" pos=\"0,0,20,20\"/>"
            "  <dlg id=\"11\" pos=\"0,0,-0,-0\">"
            "    <realwnd id=\"502\" pos=\"30,0,50,20\"/>"
            "    <dlg id=\"12\" pos=\"0,0,-0,-0\"><realwnd id=\"503\" pos=\"60,0,80,20\"/></dlg>"
            "    <realwnd id=\"504\" pos=\"90,0,110,20\" show=\"0\"/>"
            "  </dlg>"
            "</dlg>"
            "</body></layer>"));
        for (int id = 501; id <= 504; ++id) {
            HWND w = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, host.view, (HMENU)(INT_PTR)id, nullptr,
                                     nullptr);
            ASSERT_NE(w, nullptr);
        }
        host.view.ShowAllRealWindows();
    }
    std::vector<int> Shown() {
        std::vector<int> out;
        for (int id = 501; id <= 504; ++id)
            if (IsWindowVisible(GetDlgItem(host.view, id))) out.push_back(id);
        return out;
    }
    ViewHost host;
};

TEST_F(ContainerRealWindows, FollowTheElementTree) {
    EXPECT_EQ(Shown(), (std::vector<int>{501, 502, 503}));
    host.view.SetItemVisible(10, FALSE);
    EXPECT_EQ(Shown(), (std::vector<int>{})) << "a hidden container hides every descendant";
    host.view.SetItemVisible(12, FALSE);
    host.view.SetItemVisible(10, TRUE);
    EXPECT_EQ(Shown(), (std::vector<int>{501, 502})) << "a hidden intermediate container keeps its own hidden";
    host.view.SetItemVisible(12, TRUE);
    EXPECT_EQ(Shown(), (std::vector<int>{501, 502, 503}));
    host.view.SetItemVisible(504, TRUE);
    EXPECT_EQ(Shown(), (std::vector<int>{501, 502, 503, 504}));
}

TEST_F(ContainerRealWindows, NewChildrenUnderAHiddenAncestorStayHidden) {
    HWND w = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, host.view, (HMENU)505, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    host.view.SetItemVisible(10, FALSE);
    ASSERT_TRUE(host.view.LoadPanelXml(12, "<realwnd id=\"505\" pos=\"0,0,5,5\"/>"));
    EXPECT_FALSE(IsWindowVisible(w)) << "its panel shows, but an ancestor is hidden";
    host.view.SetItemVisible(10, TRUE);
    EXPECT_TRUE(IsWindowVisible(w));
}

}  // namespace

namespace {

TEST(ContainerEditWindows, HidingTheContainerHidesTheEditWindowAndShowingBringsItBack) {
    ViewHost host;
    ASSERT_TRUE(host.Open("<layer><body><dlg id=\"10\" pos=\"0,0,-0,-0\">"
                          "<edit id=\"11\" pos=\"10,10,150,32\">文字</edit></dlg></body></layer>",
                          300, 200));
    CBkWindow* edit = host.view.FindItem(11);
    ASSERT_NE(edit, nullptr);
    std::vector<HWND> windows = BkRealWindowsOfElement(edit);
    ASSERT_EQ(windows.size(), 1u) << "the edit keeps its window";
    HWND w = windows[0];
    EXPECT_TRUE(IsWindowVisible(w));
    host.view.SetItemVisible(10, FALSE);
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_FALSE(edit->GetState() & kBkStateHidden) << "the container hides, not the edit";
    host.view.SetItemVisible(10, TRUE);
    EXPECT_TRUE(IsWindowVisible(w));
}

}  // namespace
