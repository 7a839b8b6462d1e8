// The main panel's window layer: the start-up steps, the tray menu and its commands, the close and
// the about links, the updater's notice and the taskbar's return, with the panel running modally in
// this process.
#include "paneltest.h"

#include <algorithm>

#include "bkleaf.h"
#include "bkskin.h"
#include "history.h"
#include "runningpanel.h"
#include "screenshot.h"
#include "settings.h"

using paneltest::CallsOf;
using paneltest::Panel;
using warden::CMainDlg;

namespace {

std::wstring InstallFolder() {
    wchar_t path[MAX_PATH] = {};
    ZarnRegByDllPath(path, L"");
    return path;
}

bool IsVistaOrLater() { return IsWin7() != FALSE; }

}  // namespace

TEST_F(Panel, StartUpMarksTheWindowPutsUpTheIconAndStartsTheUpdaterWithAuto) {
    HANDLE prop = nullptr;
    bool found = false;
    std::wstring label, count;
    RunPanel([&](CMainDlg& panel) {
        prop = GetPropW(panel, TOLVEN_PANEL_TITLE);
        found = FindRunningPanel() == panel.m_hWnd;
        label = panel.GetItemText(20003).GetString();
        count = panel.GetItemText(20005).GetString();
    });
    EXPECT_EQ(prop, reinterpret_cast<HANDLE>(1));
    EXPECT_TRUE(found);
    EXPECT_EQ(label, L"选择U盘");
    EXPECT_EQ(count, L"0/5");
    ASSERT_FALSE(log_.trayMessages.empty());
    EXPECT_EQ(log_.trayMessages.front(), static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(log_.trayMessages.back(), static_cast<DWORD>(NIM_DELETE));  // the icon goes with the panel
    const std::vector<std::wstring> shell = CallsOf(L"shell");
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0], L"shell open " + InstallFolder() + L"\\Refresher.exe auto 5");
}

TEST_F(Panel, TokenModeLabelsTheListForTheToken) {
    SetSwitch(L"QJ_AppDriveMode", 1);
    std::wstring label;
    RunPanel([&](CMainDlg& panel) { label = panel.GetItemText(20003).GetString(); });
    EXPECT_EQ(label, L"选择U盾");
}

TEST_F(Panel, RegrunStartsHiddenWithTheIconAndTheUpdater) {
    bool visible = true;
    RunPanel([&](CMainDlg& panel) { visible = IsWindowVisible(panel) != FALSE; }, true);
    EXPECT_FALSE(visible);
    ASSERT_FALSE(log_.trayMessages.empty());
    EXPECT_EQ(log_.trayMessages.front(), static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(CallsOf(L"shell").size(), 1u);
}

TEST_F(Panel, ASecondPanelRaisesTheFirstAndEndsTheProcess) {
    // The first panel, as another process would show it.
    HWND first = CreateWindowExW(0, L"STATIC", TOLVEN_PANEL_TITLE, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_TRUE(first);
    SetPropW(first, TOLVEN_PANEL_TITLE, reinterpret_cast<HANDLE>(1));
    CMainDlg panel;
    ts::ModalScript script;  // nothing to play: the panel must end by itself
    int result = -1;
    EXPECT_TRUE(script.Run([&] { result = panel.ShowModal(); }, 10000));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_EQ(CallsOf(L"exit"), std::vector<std::wstring>{L"exit 0"});
    EXPECT_TRUE(log_.trayMessages.empty());  // no second icon
    EXPECT_TRUE(CallsOf(L"shell").empty());  // no second updater
    RemovePropW(first, TOLVEN_PANEL_TITLE);
    DestroyWindow(first);
}

// Each tray toggle flips its switch and the settings page's check box, from either value.
TEST_F(Panel, TrayTogglesFlipTheSwitchAndTheCheckBox) {
    struct Case {
        UINT command;
        const wchar_t* name;
        UINT check;
    } cases[] = {{40005, L"QJ_KaiJiChcekKey", 30001},
                 {40006, L"QJ_SuoPingCheckKey", 30002},
                 {40023, L"QJ_RemoveLock", 30013},
                 {40008, L"QJ_CtrlAltDel", 30004}};
    for (const Case& c : cases) {
        for (DWORD before : {0u, 1u}) {
            SCOPED_TRACE(testing::Message() << c.command << " from " << before);
            SetSwitch(c.name, before);
            BOOL checkBefore = -1, checkAfter = -1;
            LRESULT result = -1;
            RunPanel([&](CMainDlg& panel) {
                checkBefore = panel.GetItemCheck(c.check);
                result = Command(panel, c.command);
                checkAfter = panel.GetItemCheck(c.check);
            });
            EXPECT_EQ(checkBefore, before ? TRUE : FALSE);
            EXPECT_EQ(Switch(c.name), before ? 0u : 1u);
            EXPECT_EQ(checkAfter, before ? FALSE : TRUE);
            EXPECT_EQ(result, 0);
        }
    }
}

TEST_F(Panel, LogonManagementToggleRegistersAndTellsWithABalloon) {
    const bool vista = IsVistaOrLater();
    for (DWORD before : {0u, 1u}) {
        SCOPED_TRACE(testing::Message() << "from " << before);
        log_ = paneltest::Log();
        corelib_.calls.clear();
        EnrolDisk();
        SetSwitch(L"QJ_EnableTolven", before);
        BOOL checkAfter = -1;
        RunPanel([&](CMainDlg& panel) {
            log_.balloons.clear();
            Command(panel, 40007);
            checkAfter = panel.GetItemCheck(30010);
        });
        EXPECT_EQ(Switch(L"QJ_EnableTolven"), before ? 0u : 1u);
        EXPECT_EQ(checkAfter, before ? FALSE : TRUE);
        const std::string calls = panelseams::Joined(corelib_.calls);
        EXPECT_NE(calls.find(before ? "gian-" : "gian+"), std::string::npos) << calls;
        EXPECT_EQ(calls.find("service"), std::string::npos) << "the toggle starts or stops no service: " << calls;
        ASSERT_EQ(log_.balloons.size(), 1u);
        if (before)
            EXPECT_EQ(log_.balloons[0], vista ? L"禁用成功，恢复到系统原始状态！" : L"禁用成功，设置在系统重启后生效！");
        else
            EXPECT_EQ(log_.balloons[0], vista ? L"启用成功，系统需要使用USB KEY登陆！" : L"启用成功，设置在系统重启后生效！");
    }
}

TEST_F(Panel, LogonManagementStaysOffWithoutAKeyAndARefusedRegistrationChangesNothing) {
    // No key: the command changes nothing (the menu grays it; logon management would lock the user out).
    SetSwitch(L"QJ_EnableTolven", 0);
    RunPanel([&](CMainDlg& panel) {
        log_.balloons.clear();
        Command(panel, 40007);
    });
    EXPECT_EQ(Switch(L"QJ_EnableTolven"), 0u);
    EXPECT_TRUE(log_.balloons.empty());

    // A key, but the registration is refused: string 200 in the balloon, the switch as it was.
    EnrolDisk();
    corelib_.failAt["gian+"] = ERROR_ACCESS_DENIED;
    BOOL check = -1;
    RunPanel([&](CMainDlg& panel) {
        log_.balloons.clear();
        Command(panel, 40007);
        check = panel.GetItemCheck(30010);
    });
    EXPECT_EQ(Switch(L"QJ_EnableTolven"), 0u);
    EXPECT_EQ(check, FALSE);
    ASSERT_EQ(log_.balloons.size(), 1u);
    EXPECT_EQ(log_.balloons[0], warden::PanelStringWithError(warden::kStrSaveFailed, ERROR_ACCESS_DENIED));
}

TEST_F(Panel, TrayMenuStatesFollowTheSwitchesAndTheEnrolledKey) {
    struct Case {
        bool key;
        DWORD enable;
        bool grayed;
        bool checked;
    } cases[] = {{false, 0, true, false}, {true, 0, false, false}, {true, 1, false, true},
                 // No key: the start writes logon management off.
                 {false, 1, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key << " enable " << c.enable);
        ts::ResetSettings();
        SetSwitch(L"QJ_AppDriveMode", 0);
        if (c.key) EnrolDisk();
        SetSwitch(L"QJ_EnableTolven", c.enable);
        SetSwitch(L"QJ_KaiJiChcekKey", 0);
        SetSwitch(L"QJ_SuoPingCheckKey", 1);
        SetSwitch(L"QJ_RemoveLock", 0);
        SetSwitch(L"QJ_CtrlAltDel", 1);
        UINT state40007 = 0, state40005 = 0, state40006 = 0, state40023 = 0;
        int has40008 = -1;
        RunPanel([&](CMainDlg& panel) {
            HMENU menu = panel.BuildTrayMenu();
            ASSERT_TRUE(menu);
            state40007 = GetMenuState(menu, 40007, MF_BYCOMMAND);
            state40005 = GetMenuState(menu, 40005, MF_BYCOMMAND);
            state40006 = GetMenuState(menu, 40006, MF_BYCOMMAND);
            state40023 = GetMenuState(menu, 40023, MF_BYCOMMAND);
            has40008 = GetMenuState(menu, 40008, MF_BYCOMMAND) != static_cast<UINT>(-1);
            DestroyMenu(menu);
        });
        EXPECT_EQ((state40007 & MF_GRAYED) != 0, c.grayed);
        EXPECT_EQ((state40007 & MF_CHECKED) != 0, c.checked);
        EXPECT_FALSE(state40005 & MF_CHECKED);
        EXPECT_TRUE(state40006 & MF_CHECKED);
        EXPECT_FALSE(state40023 & MF_CHECKED);
        EXPECT_EQ(has40008, IsWin7() ? 0 : 1);
    }
}

TEST_F(Panel, ARightClickOnTheIconShowsTheMenuAndAClickElsewhereClosesIt) {
    bool menuShown = false, menuGone = false;
    warden::CMainDlg panel;
    ts::ModalScript script;
    script.WaitUntil([&] { return panel.m_hWnd && IsWindowVisible(panel); })
        .Do([&] { PostMessageW(panel, warden::kTrayCallbackMessage, warden::kTrayIconId, WM_RBUTTONUP); })
        .WaitUntil([&] { return menuShown = FindWindowW(L"#32768", nullptr) != nullptr; })
        .Do([&] { EndMenu(); })
        .WaitUntil([&] { return menuGone = FindWindowW(L"#32768", nullptr) == nullptr || !IsWindowVisible(FindWindowW(L"#32768", nullptr)); })
        .Do([&] { panel.EndDialog(0); });
    EXPECT_TRUE(script.Run([&] { panel.ShowModal(); }, 15000));
    EXPECT_TRUE(menuShown);
    EXPECT_TRUE(menuGone);
}

TEST_F(Panel, CloseHidesWhenCloseToTrayIsOnElseEnds) {
    // A real click on the close button at the header's right end.
    SetSwitch(L"QJ_CloseAppToTP", 1);
    bool hidden = false, ending = true;
    int result = RunPanel([&](CMainDlg& panel) {
        RECT rc;
        GetClientRect(panel, &rc);
        ts::ClickAt(panel.View(), POINT{rc.right - 43 + 10, 8});
        ts::PumpUntil([&] { return !IsWindowVisible(panel); }, 3000);
        hidden = !IsWindowVisible(panel);
        ending = panel.IsEnding() != FALSE;
    });
    EXPECT_TRUE(hidden);
    EXPECT_FALSE(ending);
    EXPECT_EQ(result, 77);

    SetSwitch(L"QJ_CloseAppToTP", 0);
    result = RunPanel([&](CMainDlg& panel) { Click(panel, 60001); });
    EXPECT_EQ(result, 0);
}

TEST_F(Panel, EscEnterAndTheSystemCloseLeaveThePanelAsItIs) {
    SetSwitch(L"QJ_CloseAppToTP", 0);
    bool visible = false, ending = true;
    int result = RunPanel([&](CMainDlg& panel) {
        SendMessageW(panel, WM_KEYDOWN, VK_ESCAPE, 0);
        SendMessageW(panel, WM_KEYDOWN, VK_RETURN, 0);
        SendMessageW(panel, WM_CLOSE, 0, 0);
        visible = IsWindowVisible(panel) != FALSE;
        ending = panel.IsEnding() != FALSE;
    });
    EXPECT_TRUE(visible);
    EXPECT_FALSE(ending);
    EXPECT_EQ(result, 77);
}

TEST_F(Panel, ExitEndsWithZeroAndShowCommandsShowAgain) {
    EXPECT_EQ(RunPanel([&](CMainDlg& panel) { Command(panel, 40010); }), 0);

    bool shownBy40009 = false, shownBy40018 = false, shownByDoubleClick = false;
    RunPanel([&](CMainDlg& panel) {
        ShowWindow(panel, SW_HIDE);
        Command(panel, 40009);
        shownBy40009 = IsWindowVisible(panel) != FALSE;
        ShowWindow(panel, SW_HIDE);
        Command(panel, 40018);
        shownBy40018 = IsWindowVisible(panel) != FALSE;
        ShowWindow(panel, SW_HIDE);
        SendMessageW(panel, warden::kTrayCallbackMessage, warden::kTrayIconId, WM_LBUTTONDBLCLK);
        shownByDoubleClick = IsWindowVisible(panel) != FALSE;
    });
    EXPECT_TRUE(shownBy40009);
    EXPECT_TRUE(shownBy40018);
    EXPECT_TRUE(shownByDoubleClick);
}

TEST_F(Panel, SessionCommandsGoThroughTheSeamOnly) {
    LRESULT shutdown = -1, home = -1;
    RunPanel([&](CMainDlg& panel) {
        log_.calls.clear();
        shutdown = Command(panel, 40016);
        Command(panel, 40017);
        Command(panel, 40021);
        home = Command(panel, 40019);
    });
    ASSERT_GE(log_.calls.size(), 4u);
    EXPECT_EQ(log_.calls[0], L"shutdown");
    EXPECT_EQ(log_.calls[1], L"lock");
    EXPECT_EQ(log_.calls[2], L"exitwindows 0 0");
    EXPECT_EQ(log_.calls[3], L"shell open " + std::wstring(BkString::Get(11)) + L"  5");
    EXPECT_EQ(shutdown, 1);
    EXPECT_EQ(home, 1);
}

TEST_F(Panel, AboutLinksReachTheShellAndCheckForUpdatesStartsManual) {
    std::vector<LRESULT> handled;
    RunPanel([&](CMainDlg& panel) {
        log_.calls.clear();
        for (UINT id : {100u, 200u, 300u, 400u}) handled.push_back(Click(panel, id));
        handled.push_back(Click(panel, 30008));   // a check box: handled, no action
        handled.push_back(Click(panel, 12345));   // not the panel's
    });
    const std::wstring folder = InstallFolder();
    std::vector<std::wstring> expected = {
        L"shell open " + std::wstring(BkString::Get(11)) + L"  5",
        L"shell open " + folder + BkString::Get(12) + L"  5",
        L"shell open " + std::wstring(BkString::Get(10)) + L"  5",
        L"shell open " + folder + L"\\Refresher.exe manual 5",
    };
    EXPECT_EQ(log_.calls, expected);
    EXPECT_EQ(handled, (std::vector<LRESULT>{1, 1, 1, 1, 1, 0}));
}

TEST_F(Panel, TheUpdatersNoticeShowsABalloonAndTheTaskbarsReturnPutsTheIconBack) {
    size_t addsBefore = 0, addsAfter = 0;
    RunPanel([&](CMainDlg& panel) {
        log_.balloons.clear();
        EXPECT_EQ(SendMessageW(panel, warden::kMsgNewVersion, 0, 0), 0);
        EXPECT_EQ(SendMessageW(panel, warden::kMsgDisableHook, 0, 0), 0);
        addsBefore = std::count(log_.trayMessages.begin(), log_.trayMessages.end(), static_cast<DWORD>(NIM_ADD));
        SendMessageW(panel, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        addsAfter = std::count(log_.trayMessages.begin(), log_.trayMessages.end(), static_cast<DWORD>(NIM_ADD));
    });
    EXPECT_EQ(log_.balloons, std::vector<std::wstring>{L"Tolven电脑锁发现有新版本"});
    EXPECT_EQ(addsAfter, addsBefore + 1);
}

TEST_F(Panel, MaximiseAndRestoreSwapTheButtonsSkin) {
    bool maximised = false, restored = false;
    CBkSkinBase *maxSkin = nullptr, *restoreSkin = nullptr;  // the pool is filled as the panel starts
    CBkSkinBase *before = nullptr, *whileMaximised = nullptr, *after = nullptr;
    RunPanel([&](CMainDlg& panel) {
        maxSkin = BkSkinPool::GetSkin("maxbtn");
        restoreSkin = BkSkinPool::GetSkin("restorebtn");
        auto skin = [&]() -> CBkSkinBase* {
            auto* button = dynamic_cast<CBkImageWnd*>(panel.View().FindItem(warden::kItemMaximise));
            return button ? button->GetSkin() : nullptr;
        };
        before = skin();
        Click(panel, warden::kItemMaximise);
        maximised = IsZoomed(panel) != FALSE;
        whileMaximised = skin();
        Click(panel, warden::kItemMaximise);
        restored = !IsZoomed(panel);
        after = skin();
    });
    ASSERT_NE(maxSkin, nullptr);
    ASSERT_NE(restoreSkin, nullptr);
    EXPECT_TRUE(maximised);
    EXPECT_TRUE(restored);
    EXPECT_EQ(before, maxSkin);
    EXPECT_EQ(whileMaximised, restoreSkin);
    EXPECT_EQ(after, maxSkin);
}

TEST_F(Panel, ScreenshotsOfThePanelAndItsTabs) {
    // On each page, an item of that page whose text or mark must show: the device label, the first
    // check box of the settings, the history list (its column titles), the first link of the page about.
    const int pageItem[4] = {warden::kItemDeviceLabel, warden::kSettingsSwitches[0].checkId, warden::kPowerListId,
                             warden::kItemAboutHome};
    RunPanel([&](CMainDlg& panel) {
        SetForegroundWindow(panel);
        CBkWindow* tabs = panel.View().FindItem(warden::kMainTabCtrl);
        ASSERT_NE(tabs, nullptr);
        for (int page = 0; page < 4; ++page) {
            SCOPED_TRACE(page);
            panel.SetTabCurSel(warden::kMainTabCtrl, page);
            Shot shot = Screenshot(panel);
            ASSERT_EQ(shot.w, 700) << "the panel never settled on the screen";
            ASSERT_EQ(shot.h, 470);
            wchar_t name[40];
            swprintf(name, 40, L"panel_103_tab%d.bmp", page);
            Save(shot, name);
            // The title in the header, right of the icon: "Tolven电脑锁2012" in white on the header skin.
            EXPECT_GT(Ink(shot, RECT{25, 2, 160, 21}), 60) << "no title in the header";
            // Each tab's title below its icon (71 wide, 5 apart, the text 25 below the tab's top).
            const RECT& strip = tabs->GetRect();
            for (int tab = 0; tab < 4; ++tab) {
                const int left = strip.left + tab * 76;
                const RECT title = ts::RectInShot(panel, panel.View(), RECT{left, strip.top + 48, left + 71, strip.top + 71});
                EXPECT_GT(Ink(shot, title), 20) << "no title on tab " << tab;
            }
            CBkWindow* item = panel.View().FindItem(pageItem[page]);
            ASSERT_NE(item, nullptr);
            RECT box = item->GetRect();
            if (page == 2) box.bottom = box.top + 24;  // the list's column titles
            EXPECT_GT(Ink(shot, ts::RectInShot(panel, panel.View(), box)), 20) << "the page's content is missing";
        }
    });
}
