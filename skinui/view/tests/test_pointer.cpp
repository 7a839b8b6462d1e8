// The dialog view under the X server's own pointer (xdotool under Xvfb): a press held while the
// pointer leaves the element or the window, the combo's drop list opened and closed, and the tabs
// clicked with the real windows of their pages. Capture and implicit grabs only happen this way.
#include <gtest/gtest.h>

#include <string>

#include "bkcombo.h"
#include "bktabctrl.h"
#include "uinput.h"
#include "viewkit.h"

namespace {

const DWORD kWait = 3000;

bool Pushed(CBkDialogView& view, int id) {
    CBkWindow* e = view.FindItem(id);
    return e && (e->GetState() & kBkStatePushed);
}

// A plain window of the test's own, elsewhere on the screen: "another program" to move onto and
// click on.
class Elsewhere : public CWindowImpl<Elsewhere, CWindow, CWinTraits<WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW>> {
public:
    DECLARE_WND_CLASS(L"SkinPointerElsewhere")
    BEGIN_MSG_MAP(Elsewhere)
    END_MSG_MAP()
    Elsewhere() {
        RECT rc = {600, 450, 800, 600};
        Create(nullptr, &rc, L"elsewhere");
    }
    ~Elsewhere() override {
        if (IsWindow()) DestroyWindow();
    }
    POINT Centre() const { return POINT{700, 525}; }
};

class RealPointer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ts::XPointerAvailable()) GTEST_SKIP() << "no xdotool on this display";
        LoadTables("<string/>",
                   "<skins><button name=\"face\" bg=\"FFFFFF\" border=\"000000\" bgup=\"FFFFFF\" bgdown=\"FFFFFF\" "
                   "bguphover=\"FFFFFF\" bgdownhover=\"FFFFFF\" bguppush=\"FF0000\" bgdownpush=\"FF0000\"/></skins>",
                   "<style><class name=\"face\" skin=\"face\"/></style>");
    }
    void TearDown() override {
        ts::XButton(false);  // never leave the button held for the next test
        LoadTables("<string/>", "<skins/>", "<style/>");
    }
    // Brings the host to the top of the screen, as a user's window in front.
    void Front(HWND w) {
        SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        UpdateWindow(w);
    }
    POINT Screen(ViewHost& host, POINT client) { return ts::ScreenPointOf(host.view, client); }
    bool WaitFor(const std::function<bool()>& condition) { return ts::PumpUntil(condition, kWait); }
};

// ---- press, drag out, release ------------------------------------------------------------------

TEST_F(RealPointer, AReleaseOffThePressedElementOrOffTheWindowDoesNothing) {
    const struct {
        const char* tag;
        const char* attrs;
    } cases[] = {
        {"button", " class=\"face\""},
        {"check", ""},
        {"link", ""},
        {"imgbtn", " skin=\"face\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        ViewHost host;
        const std::string xml = std::string("<layer><body><") + c.tag + " id=\"7\" pos=\"20,20,120,50\"" + c.attrs +
                                ">按下</" + c.tag + "></body></layer>";
        ASSERT_TRUE(host.Open(xml, 300, 200));
        Front(host);
        Elsewhere other;
        const POINT in = Screen(host, host.CentreOf(7));
        const POINT besideIt = Screen(host, POINT{200, 150});
        const DWORD checkedBefore = host.view.FindItem(7)->GetState() & kBkStateChecked;

        ASSERT_TRUE(ts::XMoveTo(in));
        ASSERT_TRUE(ts::XButton(true));
        ASSERT_TRUE(WaitFor([&] { return Pushed(host.view, 7); })) << "the press arrived";
        if (c.attrs[0]) {
            ts::Capture look = ts::CaptureView(host.view);
            EXPECT_EQ(look.At(host.CentreOf(7).x, host.CentreOf(7).y), RGB(0xFF, 0, 0)) << "drawn pressed";
        }
        // Off the element inside the view, back on it, then off the window altogether.
        ASSERT_TRUE(ts::XMoveTo(besideIt));
        EXPECT_TRUE(WaitFor([&] { return !Pushed(host.view, 7); })) << "not pressed while the pointer is off it";
        if (c.attrs[0]) {
            ts::Capture look = ts::CaptureView(host.view);
            EXPECT_EQ(look.At(host.CentreOf(7).x, host.CentreOf(7).y), RGB(0xFF, 0xFF, 0xFF)) << "drawn released";
        }
        ASSERT_TRUE(ts::XMoveTo(in));
        EXPECT_TRUE(WaitFor([&] { return Pushed(host.view, 7); })) << "pressed again when it comes back";
        ASSERT_TRUE(ts::XMoveTo(other.Centre()));
        EXPECT_TRUE(WaitFor([&] { return !Pushed(host.view, 7); })) << "not pressed off the window";
        ASSERT_TRUE(ts::XButton(false));
        EXPECT_TRUE(WaitFor([&] { return GetCapture() == nullptr && host.view.PressedItem() == 0; }));
        ts::PumpMessages(0);
        EXPECT_TRUE(host.Clicks().empty()) << "a release outside is no click";
        EXPECT_EQ(host.view.FindItem(7)->GetState() & kBkStateChecked, checkedBefore);

        // The same element clicked where it is: the click that the release outside did not make.
        // A few pixels from the first press, which a second press on the same spot would make a
        // double click (ignored by the view).
        ASSERT_TRUE(ts::XClickAt(POINT{in.x + 12, in.y}));
        EXPECT_TRUE(WaitFor([&] { return host.Clicks().size() == 1; }));
    }
}

// ---- the combo's drop list ---------------------------------------------------------------------

TEST_F(RealPointer, TheDropListOpensFromTheArrowClosesOnAChoiceOrElsewhereAndTheNextClickCounts) {
    ViewHost host;
    ASSERT_TRUE(host.Open("<layer><body>"
                          "<combo id=\"30\" pos=\"10,10,200,34\"/>"
                          "<button id=\"7\" pos=\"10,120,90,150\">确定</button>"
                          "</body></layer>",
                          300, 200));
    Front(host);
    Elsewhere other;
    CbkCombo* combo = static_cast<CbkCombo*>(host.view.FindItem(30));
    ASSERT_NE(combo, nullptr);
    ASSERT_TRUE(combo->AddItem(L"甲", L"a"));
    ASSERT_TRUE(combo->AddItem(L"乙", L"b"));
    ASSERT_TRUE(combo->AddItem(L"丙", L"c"));
    const POINT arrow = Screen(host, POINT{190, 22});
    auto listShown = [&] {
        KComboBoxPopList* list = combo->DropList();
        return list && list->m_hWnd && IsWindowVisible(list->m_hWnd);
    };

    // Opened from the arrow, a row chosen with the pointer.
    ASSERT_TRUE(ts::XClickAt(arrow));
    ASSERT_TRUE(WaitFor(listShown)) << "the arrow opens the list";
    RECT list = {};
    GetWindowRect(combo->DropList()->m_hWnd, &list);
    EXPECT_EQ(list.top, Screen(host, POINT{10, 34}).y) << "under the combo";
    const int row = combo->DropList()->GetRowHeight();
    ASSERT_TRUE(ts::XClickAt(POINT{list.left + 20, list.top + row + row / 2}));
    EXPECT_TRUE(WaitFor([&] { return !listShown() && combo->GetSelectedIndex() == 1; }));
    EXPECT_EQ(combo->GetInnerText(), L"b");

    // Opened again and closed by a click on another window: nothing is chosen.
    ASSERT_TRUE(ts::XClickAt(arrow));
    ASSERT_TRUE(WaitFor(listShown));
    ASSERT_TRUE(ts::XClickAt(other.Centre()));
    EXPECT_TRUE(WaitFor([&] { return !listShown(); })) << "a click elsewhere closes the list";
    EXPECT_EQ(combo->GetSelectedIndex(), 1);

    // The list held the capture and the view never saw its button go up: the next click in the
    // dialog still counts.
    host.notices.clear();
    ASSERT_TRUE(ts::XClickAt(Screen(host, host.CentreOf(7))));
    EXPECT_TRUE(WaitFor([&] { return host.Clicks().size() == 1; })) << "the first click after the list";
    ASSERT_EQ(host.Clicks().size(), 1u);
    EXPECT_EQ(host.Clicks()[0].item, 7u);
}

// ---- tabs and the real windows of their pages --------------------------------------------------

TEST_F(RealPointer, EachTabClickedShowsThePagesRealWindowsAndHidesTheOthers) {
    ViewHost host;
    ASSERT_TRUE(host.view.LoadLayout(
        "<layer><body>"
        "<tabctrl id=\"136\" pos=\"0,0,-0,-0\" tabpos=\"0\" tabspacing=\"4\" tabwidth=\"60\" tabheight=\"24\">"
        "<tab title=\"编辑\"><edit id=\"21\" pos=\"10,10,150,32\">文字</edit></tab>"
        "<tab title=\"组合\"><combo id=\"22\" pos=\"10,10,200,34\"/></tab>"
        "<tab title=\"窗口\"><realwnd id=\"23\" pos=\"10,10,100,40\"/></tab>"
        "</tabctrl></body></layer>"));
    CbkCombo* combo = static_cast<CbkCombo*>(host.view.FindItem(22));
    ASSERT_NE(combo, nullptr);
    combo->SetComboStyle(CbkCombo::kStyleEditWindow | CbkCombo::kStyleSeparator);  // before its window
    ASSERT_TRUE(host.OpenLoaded(400, 200));
    HWND real = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, host.view, (HMENU)23, nullptr, nullptr);
    ASSERT_NE(real, nullptr);
    host.view.ShowAllRealWindows();
    Front(host);

    CBkTabCtrl* tabs = static_cast<CBkTabCtrl*>(host.view.FindItem(136));
    ASSERT_NE(tabs, nullptr);
    std::vector<HWND> edit = BkRealWindowsOfElement(host.view.FindItem(21));
    ASSERT_EQ(edit.size(), 1u);
    ASSERT_NE(combo->EditWindow(), nullptr) << "the combo's edit window is made while its page is hidden";
    const HWND windows[3] = {edit[0], combo->EditWindow(), real};
    auto shownOnly = [&](int page) {
        for (int i = 0; i < 3; ++i)
            if ((IsWindowVisible(windows[i]) != 0) != (i == page)) return false;
        return true;
    };
    EXPECT_TRUE(shownOnly(0));

    for (int page : {1, 2, 0, 2, 1}) {
        SCOPED_TRACE(page);
        RECT tab = {};
        ASSERT_TRUE(tabs->GetTabRect(page, tab));
        ASSERT_TRUE(ts::XClickAt(Screen(host, POINT{(tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2})));
        EXPECT_TRUE(WaitFor([&] { return tabs->GetCurSel() == page; }));
        EXPECT_TRUE(WaitFor([&] { return shownOnly(page); }));
    }
    std::vector<int> changes;
    for (const Notice& n : host.notices)
        if (n.code == kBkNotifyTabChange) changes.push_back(n.newPage);
    EXPECT_EQ(changes, (std::vector<int>{1, 2, 0, 2, 1}));
}

}  // namespace
