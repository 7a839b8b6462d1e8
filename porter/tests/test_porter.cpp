// Porter's switches and actions. The session actions run only through recording seams: a real
// log-off or shut-down would end the whole test prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "portercore.h"
#include "testsupport.h"

using porter::Action;

namespace {

const char* Name(Action a) {
    switch (a) {
        case Action::None: return "None";
        case Action::LockWorkStation: return "LockWorkStation";
        case Action::Force: return "Force";
        case Action::Logoff: return "Logoff";
        case Action::Poweroff: return "Poweroff";
        case Action::Shutdown: return "Shutdown";
    }
    return "?";
}

struct ParseCase {
    std::vector<const char*> args;
    Action expected;
};

TEST(PorterArguments, MatchWholeArgumentsIgnoringCaseLastMatchWins) {
    const ParseCase cases[] = {
        {{}, Action::None},
        {{"/LockWorkStation"}, Action::LockWorkStation},  // as the service passes it: the first argument
        {{"/lockworkstation"}, Action::LockWorkStation},
        {{"Porter.exe", "/LOCKWORKSTATION"}, Action::LockWorkStation},
        {{"Porter.exe", "/EWX_LOGOFF"}, Action::Logoff},
        {{"/EWX_LOGOFF"}, Action::Logoff},
        {{"/ewx_force"}, Action::Force},
        {{"/Ewx_PowerOff"}, Action::Poweroff},
        {{"/EWX_SHUTDOWN"}, Action::Shutdown},
        {{"/LockWorkStation", "/EWX_LOGOFF"}, Action::Logoff},
        {{"/EWX_LOGOFF", "/LockWorkStation"}, Action::LockWorkStation},
        {{"/EWX_LOGOFF", "/nothing"}, Action::Logoff},  // a later miss does not undo a match
        {{"/nothing"}, Action::None},
        {{"Porter.exe"}, Action::None},
        {{"/LockWorkStationX"}, Action::None},
        {{"/Lock"}, Action::None},
        {{"LockWorkStation"}, Action::None},
        {{"/LockWorkStation "}, Action::None},
        {{"-LockWorkStation"}, Action::None},
        {{""}, Action::None},
        {{"/EWX_LOGOFF", nullptr}, Action::Logoff},
    };
    for (const ParseCase& c : cases) {
        std::string shown;
        for (const char* a : c.args) shown += std::string("[") + (a ? a : "(null)") + "]";
        EXPECT_STREQ(Name(porter::ParseArguments(static_cast<int>(c.args.size()), c.args.data())), Name(c.expected))
            << shown;
    }
}

// Records every session action in order; the results are chosen per case.
std::vector<std::string> g_calls;
BOOL g_lockResult, g_exitResult, g_privilegeResult;
DWORD g_error;

BOOL WINAPI FakeLock() {
    g_calls.push_back("lock");
    SetLastError(g_lockResult ? 0 : g_error);
    return g_lockResult;
}
BOOL WINAPI FakeExit(UINT flags, DWORD reason) {
    g_calls.push_back("exit " + std::to_string(flags) + " " + std::to_string(reason));
    SetLastError(g_exitResult ? 0 : g_error);
    return g_exitResult;
}
BOOL FakePrivilege() {
    g_calls.push_back("privilege");
    SetLastError(g_privilegeResult ? 0 : ERROR_NOT_ALL_ASSIGNED);
    return g_privilegeResult;
}

class PorterActions : public ::testing::Test {
  protected:
    void SetUp() override {
        g_calls.clear();
        g_lockResult = g_exitResult = g_privilegeResult = TRUE;
        g_error = 0;
        porter::g_seams = {FakeLock, FakeExit, FakePrivilege};
    }
    void TearDown() override { porter::g_seams = porter::DefaultSeams(); }
};

struct ActionCase {
    Action action;
    BOOL lockOk, privilegeOk, exitOk;
    DWORD error;
    std::vector<std::string> calls;
    int exitCode;
};

TEST_F(PorterActions, EachActionCallsItsFunctionAndReportsFailure) {
    const ActionCase cases[] = {
        {Action::None, TRUE, TRUE, TRUE, 0, {}, 0},
        {Action::LockWorkStation, TRUE, TRUE, TRUE, 0, {"lock"}, 0},
        {Action::LockWorkStation, FALSE, TRUE, TRUE, ERROR_CALL_NOT_IMPLEMENTED, {"lock"}, 120},
        {Action::LockWorkStation, FALSE, TRUE, TRUE, 0, {"lock"}, ERROR_GEN_FAILURE},  // no error code given
        // The privilege is enabled before every ExitWindowsEx.
        {Action::Force, TRUE, TRUE, TRUE, 0, {"privilege", "exit 4 0"}, 0},
        {Action::Logoff, TRUE, TRUE, TRUE, 0, {"privilege", "exit 0 0"}, 0},
        {Action::Poweroff, TRUE, TRUE, TRUE, 0, {"privilege", "exit 8 0"}, 0},
        {Action::Shutdown, TRUE, TRUE, TRUE, 0, {"privilege", "exit 1 0"}, 0},
        // A log-off needs no privilege: it is still asked for, and its own result counts.
        {Action::Logoff, TRUE, FALSE, TRUE, 0, {"privilege", "exit 0 0"}, 0},
        {Action::Shutdown, TRUE, FALSE, FALSE, ERROR_PRIVILEGE_NOT_HELD, {"privilege", "exit 1 0"}, 1314},
        {Action::Poweroff, TRUE, TRUE, FALSE, ERROR_ACCESS_DENIED, {"privilege", "exit 8 0"}, 5},
    };
    for (const ActionCase& c : cases) {
        g_calls.clear();
        g_lockResult = c.lockOk;
        g_privilegeResult = c.privilegeOk;
        g_exitResult = c.exitOk;
        g_error = c.error;
        int code = porter::Perform(c.action);
        EXPECT_EQ(g_calls, c.calls) << Name(c.action);
        EXPECT_EQ(code, c.exitCode) << Name(c.action);
    }
}

TEST_F(PorterActions, OnlyTheLastMatchingSwitchActs) {
    const char* args[] = {"Porter.exe", "/LockWorkStation", "/EWX_LOGOFF"};
    EXPECT_EQ(porter::PorterMain(3, args), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"privilege", "exit 0 0"}));
}

// The real program, with the one switch that is safe in the test prefix.
TEST(PorterProgram, ExitCodeReportsTheAction) {
    // Wine's LockWorkStation is a stub that fails with ERROR_CALL_NOT_IMPLEMENTED: the failure shows.
    ASSERT_FALSE(LockWorkStation()) << ts::WineFact("stub LockWorkStation (it would lock this display)");
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED)) << ts::WineFact("stub LockWorkStation");
    ts::ChildResult locked = ts::RunChild(L"\"" + ts::InExeDir(L"Porter.exe") + L"\" /LockWorkStation");
    ASSERT_TRUE(locked.started);
    EXPECT_EQ(locked.exitCode, static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));

    ts::ChildResult unknown = ts::RunChild(L"\"" + ts::InExeDir(L"Porter.exe") + L"\" /nothing");
    ASSERT_TRUE(unknown.started);
    EXPECT_EQ(unknown.exitCode, 0u);
}

}  // namespace
