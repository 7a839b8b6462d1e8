// Start-up end to end: the test build of Warden.exe (WardenTest.exe: the program's start-up and core
// with logging seams) run from the bin folder beside Corelib.dll and the token stand-in, its windows
// found from here and clicked through their views.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "corelib.h"
#include "runningpanel.h"
#include "testsupport.h"
#include "tokensim.h"
#include "uikit.h"

namespace {

const wchar_t kFirstStartTitle[] = L"TolvenU盘电脑锁2012";
const UINT kCmdExit = 40010;

struct Search {
    DWORD pid;
    bool (*accept)(HWND);
    HWND found;
};
// A lambda cannot be a WINAPI callback on i686 (stdcall).
BOOL CALLBACK Visit(HWND w, LPARAM p) {
    Search* s = reinterpret_cast<Search*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid || !s->accept(w)) return TRUE;
    s->found = w;
    return FALSE;
}

struct Program {
    PROCESS_INFORMATION pi = {};
    bool started = false;
    explicit Program(const std::wstring& arguments) {
        std::wstring exe = ts::InExeDir(L"WardenTest.exe");
        std::wstring line = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        STARTUPINFOW si = {sizeof(si)};
        started = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, ts::ExeDir().c_str(), &si,
                                 &pi) != FALSE;
    }
    ~Program() {
        if (!started) return;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
            ADD_FAILURE() << "WardenTest still runs at the end of the case: ended";
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 10000);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    // The exit code, or STILL_ACTIVE when it has not ended in time.
    DWORD Wait(DWORD ms = 20000) {
        if (WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
    // The first top-level window of this process that passes the test, waiting for it.
    HWND WaitWindow(bool (*accept)(HWND), DWORD ms = 20000) {
        Search search = {pi.dwProcessId, accept, nullptr};
        HWND result = nullptr;
        ts::PumpUntil(
            [&] {
                search.found = nullptr;
                EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
                result = search.found;
                return result != nullptr || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
            },
            ms);
        return result;
    }
};

std::wstring Title(HWND w) {
    wchar_t t[128] = {};
    GetWindowTextW(w, t, 128);
    return t;
}
bool IsFirstStart(HWND w) { return IsWindowVisible(w) && Title(w) == kFirstStartTitle; }
bool IsLogin(HWND w) { return IsWindowVisible(w) && Title(w).empty() && GetDlgItem(w, 1000); }
bool IsPanel(HWND w) { return GetPropW(w, TOLVEN_PANEL_TITLE) == reinterpret_cast<HANDLE>(1); }

// The close button of a skinned dialog's header: 43 pixels wide at the right edge.
void ClickClose(HWND dialog) {
    HWND view = GetDlgItem(dialog, 1000);
    RECT r;
    GetClientRect(view, &r);
    ts::ClickAt(view, POINT{r.right - 20, 12});
}

BOOL CALLBACK CountPanels(HWND w, LPARAM p) {
    if (IsPanel(w)) ++*reinterpret_cast<int*>(p);
    return TRUE;
}

int Mode() { return static_cast<int>(GetMonitorKeyStyle(L"QJ_AppDriveMode")); }

void StoreRecord(DWORD mode) {
    uinfo r = {};
    wcscpy(r.lpUserName, L"alice");
    r.ulTokenSerial = 0x1234;
    wcscpy(r.lpDriverUID[0], L"usb-1");
    ASSERT_TRUE(SetUserInfo(&r));
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", mode), ERROR_SUCCESS);
}

std::vector<std::string> SeamLog() { return ts::SplitLines(ts::ReadFileBytes(ts::InExeDir(L"seams.log"))); }

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        ts::tokensim::Reset();
        DeleteFileW(ts::InExeDir(L"seams.log").c_str());
        DeleteFileW(ts::InExeDir(L"unelevated.txt").c_str());
        ASSERT_EQ(FindRunningPanel(), nullptr) << "a panel of an earlier case still runs";
    }
    void TearDown() override {
        DeleteFileW(ts::InExeDir(L"unelevated.txt").c_str());
        ts::ResetSettings();
        ts::tokensim::Reset();
    }
};

}  // namespace

TEST_F(Startup, ACleanMachineAsksForTheModeAndClosingItEndsWith0) {
    Program warden(L"");
    ASSERT_TRUE(warden.started);
    HWND first = warden.WaitWindow(IsFirstStart);
    ASSERT_NE(first, nullptr) << "the login ends itself (AutoLogonSoft reads 1) and 113 shows";
    EXPECT_EQ(Mode(), -1);
    ClickClose(first);
    EXPECT_EQ(warden.Wait(), 0u);
    EXPECT_EQ(Mode(), -1) << "closing leaves the mode: the next start asks again";
    const std::vector<std::string> log = SeamLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "exit 0");
}

TEST_F(Startup, ClosingTheLoginEndsWith0WithoutAnyOtherWindow) {
    StoreRecord(static_cast<DWORD>(-1));
    ASSERT_EQ(SetMonitorKeyStyle(L"AutoLogonSoft", 0), ERROR_SUCCESS);
    Program warden(L"");
    ASSERT_TRUE(warden.started);
    HWND login = warden.WaitWindow(IsLogin);
    ASSERT_NE(login, nullptr);
    ClickClose(login);
    EXPECT_EQ(warden.Wait(), 0u);
    EXPECT_EQ(Mode(), -1);
}

TEST_F(Startup, AStoredModeSkipsTheFirstStartAndOnlyTheExactRegrunHidesThePanel) {
    const struct {
        DWORD mode;
        const wchar_t* arguments;
        bool hidden;
    } cases[] = {
        {0, L"regrun", true},
        {1, L"regrun ", false},
        {0, L"REGRUN", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.arguments));
        StoreRecord(c.mode);
        Program warden(c.arguments);
        ASSERT_TRUE(warden.started);
        HWND panel = warden.WaitWindow(IsPanel);
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(warden.WaitWindow(IsFirstStart, 0), nullptr) << "no first-start dialog with a mode stored";
        ts::PumpMessages(300);
        EXPECT_EQ(IsWindowVisible(panel) == FALSE, c.hidden);
        EXPECT_EQ(Mode(), static_cast<int>(c.mode));
        PostMessageW(panel, WM_COMMAND, kCmdExit, 0);
        EXPECT_EQ(warden.Wait(), 0u);
    }
}

TEST_F(Startup, ASecondStartShowsTheFirstPanelAndEndsWith0) {
    StoreRecord(0);
    Program first(L"regrun");
    ASSERT_TRUE(first.started);
    HWND panel = first.WaitWindow(IsPanel);
    ASSERT_NE(panel, nullptr);
    ASSERT_FALSE(IsWindowVisible(panel));
    {
        Program second(L"");
        ASSERT_TRUE(second.started);
        EXPECT_EQ(second.Wait(), 0u);
    }
    EXPECT_TRUE(ts::PumpUntil([&] { return IsWindowVisible(panel) != FALSE; }, 5000)) << "the first panel shows";
    int marked = 0;
    EnumWindows(CountPanels, reinterpret_cast<LPARAM>(&marked));
    EXPECT_EQ(marked, 1);
    PostMessageW(panel, WM_COMMAND, kCmdExit, 0);
    EXPECT_EQ(first.Wait(), 0u);
}

TEST_F(Startup, WithoutRightsADeclinedElevationShowsString202AndEndsBeforeReadingTheRecord) {
    ASSERT_TRUE(ts::WriteFileBytes(ts::InExeDir(L"unelevated.txt"), "1"));
    Program warden(L"regrun");
    ASSERT_TRUE(warden.started);
    EXPECT_EQ(warden.Wait(), 0u);
    const std::vector<std::string> log = SeamLog();
    const std::string joined = [&] {
        std::string j;
        for (const auto& l : log) j += l + "\n";
        return j;
    }();
    EXPECT_NE(joined.find("runas runas regrun"), std::string::npos) << joined;
    EXPECT_NE(joined.find("box 16 操作提示 需要管理员权限才能运行Tolven电脑锁，程序将退出。"), std::string::npos) << joined;
    EXPECT_EQ(log.back(), "exit 0");
    EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_AppDriveMode"))
        << "no record was read and no mode written";
}
