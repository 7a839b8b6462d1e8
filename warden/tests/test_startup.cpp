// Start-up end to end: the test build of Warden.exe (WardenTest.exe: the program's start-up and core
// with logging seams) run from the bin folder beside Corelib.dll and the token stand-in, its windows
// found from here and clicked through their views.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "corelib.h"
#include "panelrun.h"
#include "runningpanel.h"
#include "testsupport.h"
#include "tokensim.h"
#include "uikit.h"

namespace {

const wchar_t kFirstStartTitle[] = L"TolvenU盘电脑锁2012";
const UINT kCmdExit = 40010;

using panelrun::ClickClose;
using panelrun::IsLogin;
using panelrun::IsPanel;
using panelrun::StoreRecord;

// Runs from the bin folder, beside the libraries it was built with.
struct Program : panelrun::Program {
    explicit Program(const std::wstring& arguments)
        : panelrun::Program(ts::InExeDir(L"WardenTest.exe"), arguments) {}
};

bool IsFirstStart(HWND w) { return panelrun::IsVisibleTitled(w, kFirstStartTitle); }

BOOL CALLBACK CountPanels(HWND w, LPARAM p) {
    if (IsPanel(w)) ++*reinterpret_cast<int*>(p);
    return TRUE;
}

int Mode() { return static_cast<int>(GetMonitorKeyStyle(L"QJ_AppDriveMode")); }

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
    ASSERT_TRUE(warden.started());
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
    ASSERT_TRUE(warden.started());
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
        ASSERT_TRUE(warden.started());
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
    ASSERT_TRUE(first.started());
    HWND panel = first.WaitWindow(IsPanel);
    ASSERT_NE(panel, nullptr);
    ASSERT_FALSE(IsWindowVisible(panel));
    {
        Program second(L"");
        ASSERT_TRUE(second.started());
        EXPECT_EQ(second.Wait(), 0u);
    }
    EXPECT_TRUE(ts::PumpUntil([&] { return IsWindowVisible(panel) != FALSE; }, 5000)) << "the first panel shows";
    int marked = 0;
    EnumWindows(CountPanels, reinterpret_cast<LPARAM>(&marked));
    EXPECT_EQ(marked, 1);
    PostMessageW(panel, WM_COMMAND, kCmdExit, 0);
    EXPECT_EQ(first.Wait(), 0u);
}

TEST_F(Startup, ALimitedTokenAsksForElevationOnAFreshMachineTooAndADeclineEndsWithString202) {
    ASSERT_TRUE(ts::WriteFileBytes(ts::InExeDir(L"unelevated.txt"), "1"));
    for (bool fresh : {true, false}) {
        SCOPED_TRACE(fresh ? "no settings key" : "a settings key");
        ts::ResetSettings();
        DeleteFileW(ts::InExeDir(L"seams.log").c_str());
        if (!fresh) {
            ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", 1));
        }
        Program warden(L"regrun");
        ASSERT_TRUE(warden.started());
        EXPECT_EQ(warden.Wait(), 0u);
        const std::vector<std::string> log = SeamLog();
        const std::string joined = [&] {
            std::string j;
            for (const auto& l : log) j += l + "\n";
            return j;
        }();
        EXPECT_NE(joined.find("runas runas regrun"), std::string::npos) << joined;
        EXPECT_NE(joined.find("box 16 操作提示 需要管理员权限才能运行Tolven电脑锁，程序将退出。"), std::string::npos)
            << joined;
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), "exit 0");
        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_AppDriveMode"))
            << "no record was read and no mode written";
    }
}
