// What a removal notice or a timer tick does, given the switches, the stored record and the key,
// with every platform action replaced by a recorder.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "sentrycore.h"

using sentry::WaitResult;

namespace {

struct Host {
    std::map<std::wstring, DWORD> switches;
    BOOL readOk = TRUE;
    BOOL keyPresent = FALSE;
    bool recordWasZero = false;  // what the key check was given
    DWORD writeResult = 0;
    BOOL porterOk = TRUE;
    BOOL sessionLocked = FALSE;  // what the service control manager reported
    WaitResult wait = WaitResult::Unlocked;
    bool lockedDuringWait = false;
    LockRecord lastRecord = {};
    DWORD lastRecordSize = 0;
    std::vector<std::string> calls;
};
Host* g_host = nullptr;

DWORD FakeSwitch(const wchar_t* name) {
    auto it = g_host->switches.find(name);
    return it == g_host->switches.end() ? 1 : it->second;  // a missing switch reads as on
}
BOOL FakeRead(uinfo* record) {
    g_host->calls.push_back("read");
    // A failed read may leave anything behind; the service must not trust it.
    if (!g_host->readOk) {
        memset(record, 0x5A, sizeof(*record));
        return FALSE;
    }
    ZeroMemory(record, sizeof(*record));
    wcscpy(record->lpDriverUID[0], L"serial&0");
    return TRUE;
}
BOOL FakeKey(const uinfo* record) {
    g_host->calls.push_back("verify");
    const BYTE* p = reinterpret_cast<const BYTE*>(record);
    g_host->recordWasZero = true;
    for (size_t i = 0; i < sizeof(uinfo); ++i)
        if (p[i]) g_host->recordWasZero = false;
    return g_host->keyPresent;
}
DWORD FakeWrite(const void* data, DWORD size) {
    g_host->lastRecordSize = size;
    if (size == sizeof(LockRecord)) memcpy(&g_host->lastRecord, data, size);
    g_host->calls.push_back("write " + std::to_string(reinterpret_cast<const LockRecord*>(data)->enuLockType));
    return g_host->writeResult;
}
DWORD FakeMapping() { return 0; }
BOOL FakeNotices(HWND) { return TRUE; }
void FakeReset() { g_host->calls.push_back("reset"); }
BOOL FakePorter(const wchar_t* sw) {
    std::wstring w(sw);
    g_host->calls.push_back("porter " + std::string(w.begin(), w.end()));
    SetLastError(g_host->porterOk ? 0 : ERROR_NO_TOKEN);
    return g_host->porterOk;
}
void FakeArm() { g_host->calls.push_back("arm"); }
void FakeStop() { g_host->calls.push_back("stop"); }
WaitResult FakeWait() {
    g_host->calls.push_back("wait");
    g_host->lockedDuringWait = sentry::LockInProgress();
    return g_host->wait;
}
void FakeLog(const wchar_t*) { g_host->calls.push_back("log"); }
void FakeArmRetry() { g_host->calls.push_back("retry"); }
void FakeStopRetry() { g_host->calls.push_back("unretry"); }
BOOL FakeSessionLocked() { return g_host->sessionLocked; }
BOOL WINAPI FakeStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS) { return TRUE; }

class SentryDecisions : public ::testing::Test {
  protected:
    void SetUp() override {
        g_host = &host;
        sentry::g_seams = {sentry::kIntervalPeriodMs,
                           FakeSwitch,
                           FakeRead,
                           FakeKey,
                           FakeWrite,
                           FakeMapping,
                           FakeNotices,
                           FakeReset,
                           FakePorter,
                           FakeArm,
                           FakeStop,
                           FakeWait,
                           FakeLog,
                           FakeStatus,
                           sentry::kPorterWaitMs,
                           sentry::kStopWaitMs,
                           sentry::kRetryPeriodMs,
                           FakeArmRetry,
                           FakeStopRetry,
                           FakeSessionLocked};
    }
    void TearDown() override {
        sentry::g_seams = sentry::DefaultSeams();
        g_host = nullptr;
    }
    Host host;
};

using Calls = std::vector<std::string>;
const Calls kLockedAndUnlocked = {"write 4", "reset", "porter /LockWorkStation", "unretry", "stop", "wait", "arm"};

Calls Join(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct RemovalCase {
    const char* what;
    DWORD removeLock, enableTolven;
    BOOL readOk, keyPresent;
    Calls calls;
};

TEST_F(SentryDecisions, RemovalNoticeLocksOnlyWithBothSwitchesAndTheKeyAbsent) {
    const RemovalCase cases[] = {
        {"removal locking off", 0, 1, TRUE, FALSE, {}},
        {"logon management off", 1, 0, TRUE, FALSE, {}},
        {"both off", 0, 0, TRUE, FALSE, {}},
        {"key still present", 1, 1, TRUE, TRUE, {"read", "verify"}},
        {"key pulled", 1, 1, TRUE, FALSE, Join({"read", "verify"}, kLockedAndUnlocked)},
        {"any non-zero switch value is on", 7, 0xFFFFFFFF, TRUE, FALSE, Join({"read", "verify"}, kLockedAndUnlocked)},
        {"nothing enrolled", 1, 1, FALSE, FALSE, Join({"read", "verify"}, kLockedAndUnlocked)},
    };
    for (const RemovalCase& c : cases) {
        host = Host();
        host.switches = {{L"QJ_RemoveLock", c.removeLock}, {L"QJ_EnableTolven", c.enableTolven}};
        host.readOk = c.readOk;
        host.keyPresent = c.keyPresent;
        bool locked = sentry::OnDeviceRemoval();
        EXPECT_EQ(host.calls, c.calls) << c.what;
        EXPECT_EQ(locked, c.calls.size() > 2) << c.what;
        if (!c.readOk) {
            EXPECT_TRUE(host.recordWasZero) << c.what << ": a failed read must be checked as all zeros";
        }
    }
}

TEST_F(SentryDecisions, EveryRemovalNoticeIsJudgedOnItsOwn) {
    // A pulled key can raise one notice or two (HID and disk), and other devices come and go too.
    struct Step {
        BOOL keyPresent;
        bool locks;
    };
    const std::vector<std::vector<Step>> sequences = {
        {{FALSE, true}, {FALSE, true}},                 // one notice per pull, pulled twice
        {{TRUE, false}, {FALSE, true}},                 // another device first, then the key
        {{FALSE, true}, {TRUE, false}, {FALSE, true}},  // second notice after the unlock finds the key back
    };
    for (size_t s = 0; s < sequences.size(); ++s) {
        host = Host();
        for (size_t i = 0; i < sequences[s].size(); ++i) {
            host.keyPresent = sequences[s][i].keyPresent;
            EXPECT_EQ(sentry::OnDeviceRemoval(), sequences[s][i].locks) << "sequence " << s << " notice " << i;
        }
    }
}

struct TickCase {
    UINT_PTR id;
    DWORD enableTolven, intervalMonitor;
    bool locks;
};

TEST_F(SentryDecisions, IntervalTickLocksOnlyTimerOneWithBothSwitches) {
    const TickCase cases[] = {
        {1, 1, 1, true}, {1, 0, 1, false}, {1, 1, 0, false}, {1, 0, 0, false}, {2, 1, 1, false}, {0, 1, 1, false},
    };
    for (const TickCase& c : cases) {
        host = Host();
        host.switches = {{L"QJ_EnableTolven", c.enableTolven}, {L"QJ_IntervalMonitor", c.intervalMonitor}};
        EXPECT_EQ(sentry::OnIntervalTick(c.id), c.locks) << c.id << " " << c.enableTolven << c.intervalMonitor;
        Calls expected = {"write 2", "reset", "porter /LockWorkStation", "unretry", "stop", "wait", "arm"};
        EXPECT_EQ(host.calls, c.locks ? expected : Calls()) << c.id << " " << c.enableTolven << c.intervalMonitor;
    }
}

struct LockCase {
    const char* what;
    BOOL porterOk;
    WaitResult wait;
    DWORD writeResult;
    Calls calls;
    BOOL sessionLocked = FALSE;
    DWORD removeLock = 1;
};

TEST_F(SentryDecisions, LockWaitsOnlyForASessionThatIsLocked) {
    const LockCase cases[] = {
        {"unlocked by the tile", TRUE, WaitResult::Unlocked, 0,
         {"write 4", "reset", "porter /LockWorkStation", "unretry", "stop", "wait", "arm"}},
        // The tile never read the record: it is cleared, or the user's next lock would show its reason.
        {"unlocked by another route", TRUE, WaitResult::SessionUnlocked, 0,
         {"write 4", "reset", "porter /LockWorkStation", "unretry", "stop", "wait", "write 0", "arm"}},
        {"stopped during the wait", TRUE, WaitResult::Stopped, 0,
         {"write 4", "reset", "porter /LockWorkStation", "unretry", "stop", "wait"}},
        {"wait failed", TRUE, WaitResult::Failed, 0,
         {"write 4", "reset", "porter /LockWorkStation", "unretry", "stop", "wait", "log", "arm"}},
        // Nothing would ever end the wait: log it, leave the timer running, keep watching and try again
        // soon while key-removal locking is on.
        {"Porter failed", FALSE, WaitResult::Unlocked, 0,
         {"write 4", "reset", "porter /LockWorkStation", "log", "write 0", "retry"}},
        {"Porter failed, record not written", FALSE, WaitResult::Unlocked, ERROR_FILE_NOT_FOUND,
         {"write 4", "log", "reset", "porter /LockWorkStation", "log", "retry"}},
        {"Porter failed, key-removal locking off", FALSE, WaitResult::Unlocked, 0,
         {"write 4", "reset", "porter /LockWorkStation", "log", "write 0"}, FALSE, 0},
        // Windows reported the session locked (Porter did not see it, or the user had locked it first).
        {"Porter failed, the session locked", FALSE, WaitResult::Unlocked, 0,
         {"write 4", "reset", "porter /LockWorkStation", "log", "unretry", "stop", "wait", "arm"}, TRUE},
        {"record not written", TRUE, WaitResult::Unlocked, ERROR_FILE_NOT_FOUND,
         {"write 4", "log", "reset", "porter /LockWorkStation", "unretry", "stop", "wait", "arm"}},
    };
    for (const LockCase& c : cases) {
        host = Host();
        host.porterOk = c.porterOk;
        host.wait = c.wait;
        host.writeResult = c.writeResult;
        host.sessionLocked = c.sessionLocked;
        host.switches = {{L"QJ_RemoveLock", c.removeLock}};
        EXPECT_EQ(sentry::LockSys(LOCKTYPE_KEY_REMOVED), c.writeResult) << c.what;
        EXPECT_EQ(host.calls, c.calls) << c.what;
        EXPECT_FALSE(sentry::LockInProgress()) << c.what;
    }
}

// A retry stops its timer and reads the switches and the key again; only a key still absent with
// key-removal locking on locks again (and a lock that does not take arms the timer once more).
TEST_F(SentryDecisions, RetryTickLocksOnlyWhileTheKeyStaysOutAndRemovalLockingIsOn) {
    const Calls failedLock = {"write 4", "reset", "porter /LockWorkStation", "log", "write 0", "retry"};
    const struct {
        const char* what;
        DWORD removeLock, enableTolven;
        BOOL keyPresent, porterOk;
        Calls calls;
    } cases[] = {
        {"key-removal locking off", 0, 1, FALSE, TRUE, {"unretry"}},
        {"logon management off", 1, 0, FALSE, TRUE, {"unretry"}},
        {"the key is back", 1, 1, TRUE, TRUE, {"unretry", "read", "verify"}},
        {"still out, the lock takes", 1, 1, FALSE, TRUE, Join({"unretry", "read", "verify"}, kLockedAndUnlocked)},
        {"still out, the lock fails again", 1, 1, FALSE, FALSE, Join({"unretry", "read", "verify"}, failedLock)},
    };
    for (const auto& c : cases) {
        host = Host();
        host.switches = {{L"QJ_RemoveLock", c.removeLock}, {L"QJ_EnableTolven", c.enableTolven}};
        host.keyPresent = c.keyPresent;
        host.porterOk = c.porterOk;
        EXPECT_EQ(sentry::OnRetryTick(), c.calls.size() > 3) << c.what;
        EXPECT_EQ(host.calls, c.calls) << c.what;
    }
}

TEST_F(SentryDecisions, LockRecordIsZerosAndTheTypeAndNoticesWaitMeanwhile) {
    for (int type : {LOCKTYPE_INTERVAL, LOCKTYPE_KEY_REMOVED}) {
        host = Host();
        sentry::LockSys(type);
        ASSERT_EQ(host.lastRecordSize, 1144u);
        const BYTE* body = reinterpret_cast<const BYTE*>(&host.lastRecord.body);
        for (size_t i = 0; i < sizeof(uinfo); ++i) ASSERT_EQ(body[i], 0) << "byte " << i;
        BYTE typeBytes[4];
        memcpy(typeBytes, reinterpret_cast<const BYTE*>(&host.lastRecord) + 1140, 4);
        EXPECT_EQ(typeBytes[0], type);
        EXPECT_EQ(typeBytes[1] | typeBytes[2] | typeBytes[3], 0);
        // The window procedure ignores notices and ticks while this is set.
        EXPECT_TRUE(host.lockedDuringWait);
    }
}

TEST(SentryCommandLine, WholeLineComparedWithoutCase) {
    using sentry::Command;
    const struct {
        const char* line;
        Command command;
    } cases[] = {
        {"/Install", Command::Install},     {"/install", Command::Install},    {"/INSTALL", Command::Install},
        {"/Uninstall", Command::Uninstall}, {"/UNINSTALL", Command::Uninstall}, {"/start", Command::Start},
        {"/START", Command::Start},         {"/Start", Command::Start},         {"/stop", Command::Stop},
        {"/sToP", Command::Stop},           {"", Command::RunService},         {"/start now", Command::RunService},
        {"/start ", Command::RunService},   {" /start", Command::RunService},  {"start", Command::RunService},
        {"/stopp", Command::RunService},    {"/Install /start", Command::RunService},
        {"-start", Command::RunService},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<int>(sentry::ParseCommandLine(c.line)), static_cast<int>(c.command)) << c.line;
}

}  // namespace
