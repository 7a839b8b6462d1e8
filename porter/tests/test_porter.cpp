// Porter's switches and actions. The session actions run only through recording seams: a real
// log-off or shut-down would end the whole test prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <wtsapi32.h>

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
BOOL g_lockResult, g_exitResult, g_privilegeResult, g_registerResult;
DWORD g_error;

// What Windows reports to the watching window while LockWorkStation runs.
struct Notice {
    WPARAM event;
    bool ownSession;
    bool sent;  // SendMessage rather than PostMessage
};
std::vector<Notice> g_notices;

DWORD OwnSession() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

BOOL WINAPI FakeLock() {
    g_calls.push_back("lock");
    HWND watch = FindWindowExW(HWND_MESSAGE, nullptr, porter::kSessionWatchClass, nullptr);
    for (const Notice& n : g_notices) {
        LPARAM session = static_cast<LPARAM>(n.ownSession ? OwnSession() : OwnSession() + 3);
        if (!watch) break;
        if (n.sent)
            SendMessageW(watch, WM_WTSSESSION_CHANGE, n.event, session);
        else
            PostMessageW(watch, WM_WTSSESSION_CHANGE, n.event, session);
    }
    SetLastError(g_lockResult ? 0 : g_error);
    return g_lockResult;
}
BOOL WINAPI FakeRegister(HWND window, DWORD flags) {
    g_calls.push_back(flags == NOTIFY_FOR_THIS_SESSION && window ? "register" : "register?");
    SetLastError(g_registerResult ? 0 : RPC_S_INVALID_BINDING);
    return g_registerResult;
}
BOOL WINAPI FakeUnregister(HWND) {
    g_calls.push_back("unregister");
    return TRUE;
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
        g_lockResult = g_exitResult = g_privilegeResult = g_registerResult = TRUE;
        g_error = 0;
        g_notices = {{WTS_SESSION_LOCK, true, false}};
        porter::g_seams = {FakeLock, FakeExit, FakePrivilege, FakeRegister, FakeUnregister, 200};
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
        {Action::LockWorkStation, TRUE, TRUE, TRUE, 0, {"register", "lock", "unregister"}, 0},
        {Action::LockWorkStation, FALSE, TRUE, TRUE, ERROR_CALL_NOT_IMPLEMENTED, {"register", "lock", "unregister"}, 120},
        {Action::LockWorkStation, FALSE, TRUE, TRUE, 0, {"register", "lock", "unregister"}, ERROR_GEN_FAILURE},  // no error code given
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

// LockWorkStation only starts a lock, and succeeds without one when Porter is not on the input desktop
// (a UAC prompt is up): the lock counts once Windows reports WTS_SESSION_LOCK for this very session.
TEST_F(PorterActions, LockCountsOnlyWhenWindowsReportsThisSessionLocked) {
    const struct {
        const char* what;
        std::vector<Notice> notices;
        BOOL registerOk;
        std::vector<std::string> calls;
        int exitCode;
    } cases[] = {
        {"the lock reported", {{WTS_SESSION_LOCK, true, false}}, TRUE, {"register", "lock", "unregister"}, 0},
        {"reported while the call still runs", {{WTS_SESSION_LOCK, true, true}}, TRUE, {"register", "lock", "unregister"}, 0},
        {"other notices first", {{WTS_CONSOLE_CONNECT, true, false}, {WTS_SESSION_UNLOCK, true, true}, {WTS_SESSION_LOCK, true, false}},
         TRUE, {"register", "lock", "unregister"}, 0},
        {"nothing reported", {}, TRUE, {"register", "lock", "unregister"}, porter::kLockNotConfirmed},
        {"only an unlock reported", {{WTS_SESSION_UNLOCK, true, false}}, TRUE, {"register", "lock", "unregister"},
         porter::kLockNotConfirmed},
        {"another session locked", {{WTS_SESSION_LOCK, false, false}}, TRUE, {"register", "lock", "unregister"},
         porter::kLockNotConfirmed},
        // Unwatched, the lock is still asked for; whether it took is not known.
        {"the notices cannot be registered", {{WTS_SESSION_LOCK, true, false}}, FALSE, {"register", "lock"},
         RPC_S_INVALID_BINDING},
    };
    for (const auto& c : cases) {
        g_calls.clear();
        g_notices = c.notices;
        g_registerResult = c.registerOk;
        EXPECT_EQ(porter::Perform(Action::LockWorkStation), c.exitCode) << c.what;
        EXPECT_EQ(g_calls, c.calls) << c.what;
        EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, porter::kSessionWatchClass, nullptr), nullptr)
            << c.what << ": the watching window was left behind";
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
