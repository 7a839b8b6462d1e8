// The service's run-time in this process, with the settings, the key, the lock record and Porter
// faked (this thread plays the control dispatcher): which session's logon or unlock ends a locked
// wait, and what of the user record the service keeps.
#include <gtest/gtest.h>
#include <windows.h>

#include <dbt.h>
#include <wtsapi32.h>

#include <string.h>

#include <vector>

#include "servicethread.h"
#include "sentrycore.h"
#include "services.h"

namespace {

volatile LONG g_porterStarts = 0;
uinfo g_seen;                       // the record as the key check got it
const uinfo* g_checked = nullptr;   // where the service keeps it

DWORD SwitchOn(const wchar_t* name) { return wcscmp(name, L"QJ_IntervalMonitor") == 0 ? 0 : 1; }
BOOL RecordWithPasswords(uinfo* record) {
    ZeroMemory(record, sizeof(*record));
    lstrcpyW(record->lpUserName, L"Admin");
    lstrcpyW(record->lpUserPWD, L"windows-pw");
    lstrcpyW(record->lpLogonPWD, L"soft-pw");
    lstrcpyW(record->lpDriverUID[1], L"serial&0");
    record->ulTokenSerial = 0x5E47;
    return TRUE;
}
BOOL KeyAbsent(const uinfo* record) {
    g_checked = record;
    memcpy(&g_seen, record, sizeof(g_seen));
    return FALSE;
}
BOOL KeyPresent(const uinfo* record) {
    KeyAbsent(record);
    return TRUE;
}
DWORD NoWrite(const void*, DWORD) { return 0; }
DWORD NoMapping() { return 0; }
BOOL NoNotices(HWND) { return TRUE; }
BOOL PorterLocks(const wchar_t*) {
    InterlockedIncrement(&g_porterStarts);
    return TRUE;
}
void NoLog(const wchar_t*) {}
BOOL WINAPI NoStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS) { return TRUE; }

DWORD WINAPI ServiceThread(LPVOID) {
    sentry::RunService(nullptr);
    return 0;
}

bool AllZero(const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

class SentryHardeningRuntime : public ::testing::Test {
  protected:
    void SetUp() override {
        sentry::g_seams = sentry::DefaultSeams();
        sentry::g_seams.GetSwitch = SwitchOn;
        sentry::g_seams.ReadUserRecord = RecordWithPasswords;
        sentry::g_seams.KeyPresent = KeyAbsent;
        sentry::g_seams.WriteLockRecord = NoWrite;
        sentry::g_seams.CreateLockMapping = NoMapping;
        sentry::g_seams.RegisterDeviceNotices = NoNotices;
        sentry::g_seams.StartPorter = PorterLocks;
        sentry::g_seams.Log = NoLog;
        sentry::g_seams.ReportStatus = NoStatus;
        sentry::InitStatus();
        g_porterStarts = 0;
    }
    void TearDown() override {
        EndServiceThread(&thread);
        sentry::g_seams = sentry::DefaultSeams();
    }
    void Start() {
        thread = CreateThread(nullptr, 0, ServiceThread, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(ts::WaitFor([this] { return (window = sentry::MonitorWindow()) != nullptr &&
                                                 sentry::CurrentStatus().dwCurrentState == SERVICE_RUNNING; },
                                5000, 10));
    }
    bool SendRemoval(DWORD timeoutMs) { return ::SendRemoval(window, timeoutMs); }
    bool Answers(DWORD timeoutMs = 5000) { return ts::WindowAnswers(window, timeoutMs); }
    static void SessionChange(DWORD event, DWORD session) {
        WTSSESSION_NOTIFICATION n = {sizeof(n), session};
        sentry::ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, event, &n, nullptr);
    }

    HANDLE thread = nullptr;
    HWND window = nullptr;
};

// Porter locked the console session; a logon or unlock in any other session leaves it locked.
TEST_F(SentryHardeningRuntime, OnlyTheLockedSessionEndsTheWait) {
    const DWORD console = WTSGetActiveConsoleSessionId();
    const DWORD other = console + 5;
    Start();
    EXPECT_FALSE(SendRemoval(500));
    ASSERT_EQ(g_porterStarts, 1);
    ASSERT_FALSE(Answers(300)) << "the service should be waiting for the unlock";

    for (DWORD event : {WTS_SESSION_UNLOCK, WTS_SESSION_LOGON}) {
        SessionChange(event, other);
        EXPECT_FALSE(Answers(300)) << "session event " << event << " in session " << other << " ended the wait";
    }
    SessionChange(WTS_SESSION_UNLOCK, console);
    EXPECT_TRUE(Answers()) << "the unlock of the locked session did not end the wait";
    // The window answers already while the lock path finishes; a removal before that is ignored.
    ASSERT_TRUE(ts::WaitFor([] { return !sentry::LockInProgress(); }, 5000, 10));

    // The next lock, ended by a logon in the locked session (the user logged off and on again).
    EXPECT_FALSE(SendRemoval(500));
    ASSERT_FALSE(Answers(300));
    SessionChange(WTS_SESSION_UNLOCK, other);
    EXPECT_FALSE(Answers(300));
    SessionChange(WTS_SESSION_LOGON, console);
    EXPECT_TRUE(Answers());
}

// Porter reports a lock that Windows did not confirm (ERROR_TIMEOUT). Whether the service still
// counts it as a lock that took rests on what the service control manager reported of the locked
// session: a WTS_SESSION_LOCK while Porter ran, or one from the user's own lock before, not ended by
// an unlock, logon or logoff since. Otherwise the lock is tried again on the retry period (50 ms).
TEST_F(SentryHardeningRuntime, SessionLockReportedByWindowsDecidesWhetherTheLockTook) {
    struct Notice {
        DWORD event;
        bool console;  // else another session
    };
    static std::vector<Notice> s_duringPorter;
    const DWORD console = WTSGetActiveConsoleSessionId();
    const struct {
        const char* what;
        std::vector<Notice> before, duringPorter;
        bool took;
    } cases[] = {
        {"nothing reported", {}, {}, false},
        {"reported while Porter ran", {}, {{WTS_SESSION_LOCK, true}}, true},
        {"the user had locked it first", {{WTS_SESSION_LOCK, true}}, {}, true},
        {"the user's lock was undone by an unlock", {{WTS_SESSION_LOCK, true}, {WTS_SESSION_UNLOCK, true}}, {}, false},
        {"... by a logon", {{WTS_SESSION_LOCK, true}, {WTS_SESSION_LOGON, true}}, {}, false},
        {"... by a logoff", {{WTS_SESSION_LOCK, true}, {WTS_SESSION_LOGOFF, true}}, {}, false},
        {"another session locked", {{WTS_SESSION_LOCK, false}}, {{WTS_SESSION_LOCK, false}}, false},
        {"another session's unlock changes nothing", {{WTS_SESSION_LOCK, true}, {WTS_SESSION_UNLOCK, false}}, {}, true},
    };
    sentry::g_seams.retryMs = 50;
    sentry::g_seams.StartPorter = [](const wchar_t*) -> BOOL {
        InterlockedIncrement(&g_porterStarts);
        for (const Notice& n : s_duringPorter)
            SessionChange(n.event, n.console ? WTSGetActiveConsoleSessionId() : WTSGetActiveConsoleSessionId() + 5);
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_porterStarts = 0;
        s_duringPorter = c.duringPorter;
        Start();
        for (const Notice& n : c.before) SessionChange(n.event, n.console ? console : console + 5);
        EXPECT_EQ(SendRemoval(1000), !c.took) << (c.took ? "not waiting for the unlock" : "waiting for an unlock");
        if (c.took) {
            EXPECT_FALSE(Answers(300));
            EXPECT_EQ(g_porterStarts, 1);
            SessionChange(WTS_SESSION_UNLOCK, console);
            EXPECT_TRUE(Answers()) << "the unlock did not end the wait";
        } else {
            EXPECT_TRUE(ts::WaitFor([] { return g_porterStarts >= 3; }, 5000, 10)) << "the lock was not tried again";
        }
        EndServiceThread(&thread);
        sentry::InitStatus();
    }
}

// The key check needs the disk slots and the token serial; both passwords are wiped from the
// service's copy as soon as it is read.
TEST_F(SentryHardeningRuntime, NoPasswordStaysInTheServicesRecord) {
    for (bool present : {true, false}) {
        SCOPED_TRACE(present ? "key present" : "key absent");
        sentry::g_seams.KeyPresent = present ? KeyPresent : KeyAbsent;
        sentry::g_seams.StartPorter = [](const wchar_t*) -> BOOL { return FALSE; };  // no wait after the lock
        g_checked = nullptr;
        EXPECT_EQ(sentry::OnDeviceRemoval(), !present);
        ASSERT_NE(g_checked, nullptr);
        EXPECT_TRUE(AllZero(g_seen.lpUserPWD, sizeof(g_seen.lpUserPWD))) << "the key check saw the Windows password";
        EXPECT_TRUE(AllZero(g_seen.lpLogonPWD, sizeof(g_seen.lpLogonPWD))) << "the key check saw the software password";
        EXPECT_EQ(std::wstring(g_seen.lpDriverUID[1]), L"serial&0");
        EXPECT_EQ(g_seen.ulTokenSerial, 0x5E47u);
        // What the service keeps afterwards.
        EXPECT_TRUE(AllZero(g_checked->lpUserPWD, sizeof(g_checked->lpUserPWD)));
        EXPECT_TRUE(AllZero(g_checked->lpLogonPWD, sizeof(g_checked->lpLogonPWD)));
    }
}

}  // namespace
