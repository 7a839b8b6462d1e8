// The running control panel seen and driven from other processes: the test build started from a
// throwaway folder, found and posted to by the probe program exactly as the updater finds it, its
// switches and registrations read back from the registry, its tray calls from its seam log.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "corelib.h"
#include "panelrun.h"
#include "runningpanel.h"
#include "screenshot.h"
#include "testsupport.h"
#include "tokensim.h"
#include "uikit.h"

namespace {

using panelrun::Program;
using panelrun::RunFolder;
using panelrun::StoreRecord;

const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t kClassKey[] = L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT;
const wchar_t kProvidersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\" CORELIB_PROVIDER_CLSID_TEXT;
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";
const UINT kCmdLogonManagement = 40007;
// The tray's switches with a check mark of their own (40008 only on XP).
const struct {
    UINT command;
    const wchar_t* name;
} kSwitches[] = {
    {40005, L"QJ_KaiJiChcekKey"},
    {40006, L"QJ_SuoPingCheckKey"},
    {40023, L"QJ_RemoveLock"},
    {40008, L"QJ_CtrlAltDel"},
};
const UINT kCmdOpenPanel = 40009;
const UINT kCmdExit = 40010;

// What the probe printed: "key value" lines, and every "item" line in order.
struct ProbeResult {
    bool ran = false;
    DWORD exitCode = 0;
    std::map<std::string, std::string> values;
    std::vector<std::string> items;
    std::string output;
    std::string Get(const std::string& key) const {
        auto it = values.find(key);
        return it == values.end() ? "" : it->second;
    }
};

ProbeResult Probe(const std::wstring& arguments) {
    ProbeResult r;
    ts::ChildResult child = ts::RunChild(L"\"" + ts::InExeDir(L"warden_probe_panel.exe") + L"\" " + arguments);
    r.ran = child.started;
    r.exitCode = child.exitCode;
    r.output = child.output;
    for (const std::string& line : ts::SplitLines(child.output)) {
        const size_t blank = line.find(' ');
        const std::string key = line.substr(0, blank);
        const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (key == "item")
            r.items.push_back(value);
        else
            r.values[key] = value;
    }
    return r;
}

std::string HandleText(HWND w) { return std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(w))); }

DWORD Switch(const wchar_t* name) { return GetMonitorKeyStyle(name); }


// The balloon lines of the seam log: "<title> <text>" of each NIM_MODIFY with NIF_INFO.
std::vector<std::string> Balloons(const RunFolder& folder) {
    std::vector<std::string> out;
    for (const std::string& l : panelrun::Starting(folder.SeamLog(), "tray 1 16 ")) out.push_back(l.substr(10));
    return out;
}

// The registrations 40007 makes, wiped before and after each case so that no run sees another's.
void RemoveRegistrations() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"ginadll");
        RegCloseKey(key);
    }
    ts::DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
    ts::DeleteKeyTree(HKEY_LOCAL_MACHINE, kProvidersKey);
    ts::DeleteKeyTree(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Provider Filters\\" +
                          std::wstring(CORELIB_PROVIDER_CLSID_TEXT));
}

// The popup menu window of a process, when one is up.
HWND OpenMenu(DWORD pid) {
    std::vector<HWND> menus = panelrun::Windows(pid, [](HWND w) {
        wchar_t cls[16] = {};
        GetClassNameW(w, cls, 16);
        return IsWindowVisible(w) && wcscmp(cls, L"#32768") == 0;
    });
    return menus.empty() ? nullptr : menus.front();
}

// The menu as the screen shows it, and how many entries carry a check mark: dark marks in the left
// margin, where no text is drawn, counted as runs of rows.
struct MenuPicture {
    Shot shot;
    int checks = 0;
};
MenuPicture ReadMenu(HWND menu) {
    MenuPicture m;
    m.shot = Capture(menu);
    bool inMark = false;
    for (int y = 2; y + 2 < m.shot.h; ++y) {
        bool dark = false;
        for (int x = 2; x < 16 && x < m.shot.w; ++x) {
            const COLORREF c = m.shot.At(x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 96) dark = true;
        }
        if (dark && !inMark) ++m.checks;
        inMark = dark;
    }
    return m;
}

int DarkPixels(const Shot& s) {
    int n = 0;
    for (DWORD v : s.px) n += ((v >> 16) & 0xFF) + ((v >> 8) & 0xFF) + (v & 0xFF) < 3 * 96;
    return n;
}

// Opens the tray menu from another process (the right button's callback), reads it and closes it.
MenuPicture TrayMenu(const Program& warden) {
    MenuPicture m;
    if (Probe(L"tray:" + std::to_wstring(WM_RBUTTONUP)).exitCode != 0) {
        ADD_FAILURE() << "the callback was not posted";
        return m;
    }
    HWND menu = nullptr;
    if (!ts::PumpUntil([&] { return (menu = OpenMenu(warden.Pid())) != nullptr; }, 5000)) {
        ADD_FAILURE() << "no menu came up";
        return m;
    }
    // Painted after it shows: read until two pictures in a row agree and hold text.
    EXPECT_TRUE(ts::PumpUntil(
        [&] {
            MenuPicture now = ReadMenu(menu);
            const bool settled = now.shot.w > 0 && now.shot.px == m.shot.px && DarkPixels(now.shot) > 0;
            m = now;
            return settled;
        },
        5000))
        << "the menu was never painted";
    // The menu's own loop takes the key from its queue.
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(ts::PumpUntil([&] { return OpenMenu(warden.Pid()) == nullptr; }, 5000)) << "the menu stays up";
    return m;
}

class PanelRun : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        ts::tokensim::Reset();
        RemoveRegistrations();
        winlogonAutoLogon_ = ts::GetString(HKEY_LOCAL_MACHINE, kWinlogonKey, L"AutoAdminLogon", &autoLogonBefore_);
        ASSERT_EQ(FindRunningPanel(), nullptr) << "a panel of an earlier case still runs";
    }
    void TearDown() override {
        for (const std::wstring& exe : versioned_) ts::DeleteKeyTree(HKEY_CURRENT_USER, kAppDefaults + exe);
        RemoveRegistrations();
        // Switching logon management off on XP writes "0" there: put back what the prefix had.
        if (winlogonAutoLogon_)
            ts::SetString(HKEY_LOCAL_MACHINE, kWinlogonKey, L"AutoAdminLogon", autoLogonBefore_);
        else if (HKEY key = nullptr; RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, KEY_SET_VALUE, &key) == 0) {
            RegDeleteValueW(key, L"AutoAdminLogon");
            RegCloseKey(key);
        }
        ts::ResetSettings();
        ts::tokensim::Reset();
    }
    // Wine reports this Windows version to the program of that name; undone at the end of the case.
    void SetVersion(const std::wstring& exe, const std::wstring& version) {
        versioned_.push_back(exe);
        ASSERT_TRUE(ts::SetProgramVersion(exe, version));
    }

private:
    std::vector<std::wstring> versioned_;
    bool winlogonAutoLogon_ = false;
    std::wstring autoLogonBefore_;
};

}  // namespace

TEST_F(PanelRun, TheProbeFindsOnlyTheMarkedPanelAndItsCommandsReachTheRealLoop) {
    // Decoys of this process: the title alone, and the property with another value.
    HWND titleOnly = CreateWindowExW(0, L"STATIC", TOLVEN_PANEL_TITLE, WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                     nullptr, nullptr, nullptr);
    HWND otherValue = CreateWindowExW(0, L"STATIC", TOLVEN_PANEL_TITLE, WS_POPUP | WS_VISIBLE, 60, 0, 50, 50, nullptr,
                                      nullptr, nullptr, nullptr);
    ASSERT_TRUE(titleOnly && otherValue);
    SetPropW(otherValue, TOLVEN_PANEL_TITLE, reinterpret_cast<HANDLE>(2));
    {
        ProbeResult none = Probe(L"state");
        ASSERT_TRUE(none.ran);
        EXPECT_EQ(none.Get("found"), "0") << none.output;
        EXPECT_EQ(none.exitCode, 1u);
        EXPECT_EQ(Probe(L"command:" + std::to_wstring(kCmdOpenPanel)).exitCode, 1u) << "nothing to post to";
    }

    // A folder whose name has a blank: the program finds its neighbours from its own path.
    RunFolder folder(L"WardenTest.exe", L"Tolven 电脑锁");
    ASSERT_TRUE(folder.ok()) << folder.what();
    StoreRecord(0);
    Program warden(folder.Exe(), L"regrun");
    ASSERT_TRUE(warden.started());
    HWND panel = warden.WaitWindow(panelrun::IsPanel);
    ASSERT_NE(panel, nullptr);

    ProbeResult hidden = Probe(L"state");
    EXPECT_EQ(hidden.exitCode, 0u) << hidden.output;
    EXPECT_EQ(hidden.Get("window"), HandleText(panel)) << "the probe found a decoy";
    EXPECT_EQ(hidden.Get("pid"), std::to_string(warden.Pid()));
    EXPECT_EQ(hidden.Get("visible"), "0") << "\"regrun\" starts with only the tray icon";
    EXPECT_FALSE(panelrun::Starting(folder.SeamLog(), "tray 0 7").empty()) << "the icon was added";
    EXPECT_FALSE(panelrun::Starting(folder.SeamLog(), "shell open " + ts::Narrow(folder.Path(L"Refresher.exe")) +
                                                          " auto")
                     .empty())
        << "the updater is asked to look for a new version from the program's own folder";

    // The icon's double click, as the shell would post it.
    ASSERT_EQ(Probe(L"tray:" + std::to_wstring(WM_LBUTTONDBLCLK)).exitCode, 0u);
    EXPECT_TRUE(ts::PumpUntil([&] { return Probe(L"state").Get("visible") == "1"; }, 5000));

    ASSERT_EQ(Probe(L"newversion").exitCode, 0u);
    EXPECT_TRUE(ts::PumpUntil([&] { return !Balloons(folder).empty(); }, 5000));
    const std::vector<std::string> balloons = Balloons(folder);
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0], "提示 Tolven电脑锁发现有新版本");

    ASSERT_EQ(Probe(L"command:" + std::to_wstring(kCmdExit)).exitCode, 0u);
    EXPECT_EQ(warden.Wait(), 0u);
    EXPECT_EQ(folder.SeamLog().back(), "exit 0");
    EXPECT_FALSE(panelrun::Starting(folder.SeamLog(), "tray 2 ").empty()) << "the icon was taken away";
    EXPECT_EQ(Probe(L"state").Get("found"), "0");
    DestroyWindow(titleOnly);
    DestroyWindow(otherValue);
}

TEST_F(PanelRun, TrayCommandsFlipTheirSwitchAndTheMenuShowsIt) {
    RunFolder folder;
    ASSERT_TRUE(folder.ok()) << folder.what();
    StoreRecord(1);
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_EnableTolven", 0), ERROR_SUCCESS);
    Program warden(folder.Exe(), L"regrun");
    HWND panel = warden.WaitWindow(panelrun::IsPanel);
    ASSERT_NE(panel, nullptr);
    for (DWORD before : {0u, 1u}) {
        for (const auto& s : kSwitches) {
            SCOPED_TRACE(std::to_string(s.command) + " from " + std::to_string(before));
            ASSERT_EQ(SetMonitorKeyStyle(s.name, before), ERROR_SUCCESS);
            ASSERT_EQ(Probe(L"command:" + std::to_wstring(s.command)).exitCode, 0u);
            EXPECT_TRUE(ts::PumpUntil([&] { return Switch(s.name) == (before ? 0u : 1u); }, 5000));
        }
        // Read by the panel when the menu opens: the marks follow what the commands wrote.
        const MenuPicture menu = TrayMenu(warden);
        EXPECT_EQ(menu.checks, before ? 0 : 3);
        // The entries' text, right of the margin where the marks go.
        EXPECT_GT(Ink(menu.shot, RECT{20, 2, menu.shot.w - 2, menu.shot.h - 2}), 60) << "no entries in the menu";
        if (!before) Save(menu.shot, L"tray_menu.bmp");
    }
    PostMessageW(panel, WM_COMMAND, kCmdExit, 0);
    EXPECT_EQ(warden.Wait(), 0u);
}

// The version decides which logon module 40007 registers and what the balloon says; the menu of an
// XP panel also holds the Ctrl+Alt+Del entry, so it is one entry taller.
TEST_F(PanelRun, LogonManagementRegistersTheModuleOfTheReportedVersion) {
    OSVERSIONINFOW prefix = {sizeof(prefix)};
    ASSERT_TRUE(GetVersionExW(&prefix));
    ASSERT_GE(prefix.dwMajorVersion, 6u) << ts::WineFact("a fresh prefix reports Vista or later");
    const struct {
        const wchar_t* exe;
        const wchar_t* version;  // nullptr: the prefix's own
        bool xp;
        const char* onText;
        const char* offText;
    } cases[] = {
        {L"PanelXp.exe", L"winxp", true, "提示 启用成功，设置在系统重启后生效！", "提示 禁用成功，设置在系统重启后生效！"},
        {L"PanelNt6.exe", nullptr, false, "提示 启用成功，系统需要使用USB KEY登陆！", "提示 禁用成功，恢复到系统原始状态！"},
    };
    LONG menuHeight[2] = {};
    for (size_t i = 0; i < 2; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(ts::Narrow(c.exe));
        if (c.version) SetVersion(c.exe, c.version);
        RunFolder folder(c.exe);
        ASSERT_TRUE(folder.ok()) << folder.what();
        StoreRecord(0);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_EnableTolven", 0), ERROR_SUCCESS);
        for (const auto& s : kSwitches) ASSERT_EQ(SetMonitorKeyStyle(s.name, 0), ERROR_SUCCESS);
        Program warden(folder.Exe(), L"regrun");
        ASSERT_NE(warden.WaitWindow(panelrun::IsPanel), nullptr);

        ASSERT_EQ(Probe(L"command:" + std::to_wstring(kCmdLogonManagement)).exitCode, 0u);
        // The balloon comes after the service's start or stop, which runs Sentry.exe: on a loaded
        // machine Wine can take seconds to start it.
        ASSERT_TRUE(ts::PumpUntil([&] { return Balloons(folder).size() == 1; }, 20000));
        EXPECT_EQ(Switch(L"QJ_EnableTolven"), 1u);
        EXPECT_EQ(Balloons(folder)[0], c.onText);
        std::wstring gina, provider;
        EXPECT_EQ(ts::GetString(HKEY_LOCAL_MACHINE, kWinlogonKey, L"ginadll", &gina), c.xp);
        EXPECT_EQ(ts::GetString(HKEY_CLASSES_ROOT, kClassKey + std::wstring(L"\\InprocServer32"), L"", &provider),
                  !c.xp);
        if (c.xp)
            EXPECT_EQ(gina, folder.Path(L"Gatehook.dll"));
        else
            EXPECT_EQ(provider, folder.Path(L"Logontile.dll"));
        EXPECT_EQ(ts::KeyExists(HKEY_LOCAL_MACHINE, kProvidersKey), !c.xp);

        const MenuPicture menu = TrayMenu(warden);
        menuHeight[i] = menu.shot.h;
        EXPECT_EQ(menu.checks, 1) << "only logon management is checked";

        ASSERT_EQ(Probe(L"command:" + std::to_wstring(kCmdLogonManagement)).exitCode, 0u);
        ASSERT_TRUE(ts::PumpUntil([&] { return Balloons(folder).size() == 2; }, 20000));
        EXPECT_EQ(Switch(L"QJ_EnableTolven"), 0u);
        EXPECT_EQ(Balloons(folder)[1], c.offText);
        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogonKey, L"ginadll"));
        EXPECT_FALSE(ts::KeyExists(HKEY_CLASSES_ROOT, kClassKey));
        EXPECT_FALSE(ts::KeyExists(HKEY_LOCAL_MACHINE, kProvidersKey));

        ASSERT_EQ(Probe(L"command:" + std::to_wstring(kCmdExit)).exitCode, 0u);
        EXPECT_EQ(warden.Wait(), 0u);
    }
    EXPECT_GT(menuHeight[0], menuHeight[1]) << "the XP menu keeps its Ctrl+Alt+Del entry";
}

TEST_F(PanelRun, TheCloseButtonHidesToTheTrayOnlyWhenTheSwitchSaysSo) {
    for (DWORD toTray : {1u, 0u}) {
        SCOPED_TRACE(toTray);
        RunFolder folder;
        ASSERT_TRUE(folder.ok()) << folder.what();
        StoreRecord(0);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_CloseAppToTP", toTray), ERROR_SUCCESS);
        Program warden(folder.Exe(), L"");
        HWND panel = warden.WaitWindow([](HWND w) { return panelrun::IsPanel(w) && IsWindowVisible(w); });
        ASSERT_NE(panel, nullptr);
        panelrun::ClickClose(panel);
        if (toTray) {
            EXPECT_TRUE(ts::PumpUntil([&] { return !IsWindowVisible(panel); }, 5000));
            EXPECT_TRUE(warden.Running());
            EXPECT_EQ(Probe(L"state").Get("visible"), "0") << "still found, hidden";
            ASSERT_EQ(Probe(L"command:" + std::to_wstring(kCmdExit)).exitCode, 0u);
        }
        EXPECT_EQ(warden.Wait(), 0u);
        EXPECT_EQ(folder.SeamLog().back(), "exit 0");
    }
}
