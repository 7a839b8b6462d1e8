// The service's run-time in this process, without the service control manager: the real hidden window,
// interval timer, alert event and wait, with the settings, the key, the lock record and Porter faked.
// This test thread plays the control dispatcher.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <dbt.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dacl.h"
#include "servicethread.h"
#include "services.h"
#include "testsupport.h"
#include "sentrycore.h"

using sentry::WaitResult;

namespace {

// Written by the service thread, read by the test thread.
struct Shared {
    CRITICAL_SECTION cs;
    std::map<std::wstring, DWORD> switches;
    bool keyPresent = false;
    BOOL porterOk = TRUE;
    std::vector<LONG> lockTypes;
    std::vector<DWORD> states;
    std::vector<DWORD> accepted;
    std::vector<std::wstring> logs;
    int porterStarts = 0;
    bool porterOutlastsTick = false;  // each Porter run lasts until a tick of the timer is due
    std::vector<DWORD> porterTimes;   // GetTickCount at each Porter start
    int arms = 0;
    int timerStops = 0;
    int ticksInWait = -1;  // timer messages that reached the window in its wait (-1: not looked at)
    Shared() { InitializeCriticalSection(&cs); }
    ~Shared() { DeleteCriticalSection(&cs); }
};
Shared* g = nullptr;
struct Hold {
    Hold() { EnterCriticalSection(&g->cs); }
    ~Hold() { LeaveCriticalSection(&g->cs); }
};

DWORD FakeSwitch(const wchar_t* name) {
    Hold h;
    auto it = g->switches.find(name);
    return it == g->switches.end() ? 1 : it->second;
}
BOOL FakeRead(uinfo* record) {
    ZeroMemory(record, sizeof(*record));
    return TRUE;
}
BOOL FakeKey(const uinfo*) {
    Hold h;
    return g->keyPresent;
}
DWORD FakeWrite(const void* data, DWORD) {
    Hold h;
    g->lockTypes.push_back(static_cast<const LockRecord*>(data)->enuLockType);
    return 0;
}
DWORD FakeMapping() { return 0; }
BOOL FakeNotices(HWND) { return TRUE; }
// A Porter slower than the interval: it returns once a tick of the running timer is due, so that one
// is pending when the timer stops. Windows may hold such a tick as a WM_TIMER already in the queue,
// which KillTimer leaves there; Wine instead drops an expired timer with it. The tick is therefore
// taken off and posted back as Windows would hold it, callback included.
void WaitForADueTick() {
    HWND w = sentry::MonitorWindow();
    MSG m;
    const DWORD start = GetTickCount();
    while (!PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        if (GetTickCount() - start > 5000) return;  // the timer is not running: nothing to hold
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_TIMER);
    }
    PostMessageW(m.hwnd, m.message, m.wParam, m.lParam);
}
BOOL FakePorter(const wchar_t*) {
    bool slow = false;
    BOOL ok = FALSE;
    {
        Hold h;
        ++g->porterStarts;
        g->porterTimes.push_back(GetTickCount());
        slow = g->porterOutlastsTick;
        ok = g->porterOk;
    }
    if (slow) WaitForADueTick();
    SetLastError(ok ? 0 : ERROR_NO_TOKEN);
    return ok;
}
void CountingArm() {
    {
        Hold h;
        ++g->arms;
    }
    sentry::ArmIntervalTimer();
}
// Stopping the timer peeks messages, so a message sent before it returns is still answered.
void CountingStop() {
    sentry::StopIntervalTimer();
    Hold h;
    ++g->timerStops;
}
// The real wait, after looking on the service thread for a timer message that comes once the timer
// stopped: none may be due already, and none may come within two intervals. A tick seen is left where
// it is, so that the unlock shows what it would do.
WaitResult WatchedWait() {
    const DWORD start = GetTickCount();
    int ticks = 0;
    MSG m;
    HWND w = sentry::MonitorWindow();
    for (;;) {
        if (PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_NOREMOVE)) {
            ticks = 1;
            break;
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= 2 * sentry::g_seams.intervalMs) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2 * sentry::g_seams.intervalMs - spent, QS_TIMER);
    }
    {
        Hold h;
        g->ticksInWait = ticks;
    }
    return sentry::WaitAlertServiceEvent();
}
void FakeLog(const wchar_t* text) {
    Hold h;
    g->logs.push_back(text);
}
BOOL WINAPI FakeStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    Hold h;
    g->states.push_back(status->dwCurrentState);
    g->accepted.push_back(status->dwControlsAccepted);
    return TRUE;
}

DWORD WINAPI ServiceThread(LPVOID) {
    sentry::RunService(nullptr);
    return 0;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000) {
    return ts::WaitFor(condition, timeoutMs, 10);
}

class SentryRuntime : public ::testing::Test {
  protected:
    void SetUp() override {
        g = &shared;
        shared.switches = {{L"QJ_RemoveLock", 1}, {L"QJ_EnableTolven", 1}, {L"QJ_IntervalMonitor", 0}};
        sentry::g_seams = sentry::DefaultSeams();
        sentry::g_seams.GetSwitch = FakeSwitch;
        sentry::g_seams.ReadUserRecord = FakeRead;
        sentry::g_seams.KeyPresent = FakeKey;
        sentry::g_seams.WriteLockRecord = FakeWrite;
        sentry::g_seams.CreateLockMapping = FakeMapping;
        sentry::g_seams.RegisterDeviceNotices = FakeNotices;
        sentry::g_seams.StartPorter = FakePorter;
        sentry::g_seams.ArmTimer = CountingArm;
        sentry::g_seams.StopTimer = CountingStop;
        sentry::g_seams.Log = FakeLog;
        sentry::g_seams.ReportStatus = FakeStatus;
        sentry::InitStatus();
    }
    void TearDown() override {
        EndServiceThread(&thread);
        sentry::g_seams = sentry::DefaultSeams();
        g = nullptr;
    }

    void Start(DWORD intervalMs = sentry::kIntervalPeriodMs) {
        sentry::g_seams.intervalMs = intervalMs;
        thread = CreateThread(nullptr, 0, ServiceThread, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(WaitFor([] {
            Hold h;
            return !g->states.empty() && g->states.back() == SERVICE_RUNNING;
        })) << "the run-time did not report RUNNING";
        window = sentry::MonitorWindow();
        ASSERT_NE(window, nullptr);
    }
    // Sends a removal notice; true when the window answered within timeoutMs (false: it is waiting).
    bool SendRemoval(DWORD timeoutMs) { return ::SendRemoval(window, timeoutMs); }
    // True when the service thread answers messages again within the time.
    bool Answers(DWORD timeoutMs = 5000) { return ts::WindowAnswers(window, timeoutMs); }
    void SetAlert() {
        HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, CORELIB_ALERT_EVENT);
        ASSERT_NE(e, nullptr) << GetLastError();
        SetEvent(e);
        CloseHandle(e);
    }
    int PorterStarts() {
        Hold h;
        return shared.porterStarts;
    }
    int Arms() {
        Hold h;
        return shared.arms;
    }
    bool Stopped(DWORD timeoutMs = 5000) { return WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0; }

    Shared shared;
    HANDLE thread = nullptr;
    HWND window = nullptr;
};

TEST_F(SentryRuntime, HiddenTopLevelWindowNamedAfterItsClass) {
    Start();
    EXPECT_EQ(FindWindowW(L"ZARN_MessageOnlyWindow", L"ZARN_MessageOnlyWindow"), window);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow()) << "a message-only window misses broadcasts";
    {
        Hold h;
        EXPECT_EQ(shared.accepted.back(), static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE));
    }
    EXPECT_EQ(sentry::ServiceControlHandler(SERVICE_CONTROL_INTERROGATE, 0, nullptr, nullptr), NO_ERROR);
    EXPECT_EQ(sentry::ServiceControlHandler(SERVICE_CONTROL_PAUSE, 0, nullptr, nullptr),
              static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST_F(SentryRuntime, RemovalLocksWaitsForTheAlertAndIgnoresNoticesMeanwhile) {
    Start();
    // The notice that locks is itself not answered: its handler waits for the unlock.
    EXPECT_FALSE(SendRemoval(500));
    // A send that gave up says nothing of how far the handler got: its Porter run is awaited.
    EXPECT_TRUE(WaitFor([this] { return PorterStarts() == 1; }));
    EXPECT_FALSE(Answers(500)) << "the service thread should be in its wait";

    // Notices that arrive during the wait are not acted on, neither now nor after the unlock.
    EXPECT_FALSE(SendRemoval(300));
    EXPECT_FALSE(SendRemoval(300));
    SetAlert();
    // The notices sent in the wait are answered before this message: one acted on would hold the
    // thread in a new wait.
    ASSERT_TRUE(Answers());
    ASSERT_TRUE(Answers());
    EXPECT_EQ(PorterStarts(), 1);
    EXPECT_TRUE(WaitFor([this] { return Arms() == 2; })) << "armed at creation and again after the unlock";

    // The next notice is judged afresh: key back, nothing; key absent, a new lock.
    {
        Hold h;
        shared.keyPresent = true;
    }
    EXPECT_TRUE(SendRemoval(5000));
    EXPECT_EQ(PorterStarts(), 1);
    {
        Hold h;
        shared.keyPresent = false;
    }
    EXPECT_FALSE(SendRemoval(500));
    // A send that gave up says nothing of how far the handler got: its Porter run is awaited.
    EXPECT_TRUE(WaitFor([this] { return PorterStarts() == 2; }));
    {
        Hold h;
        EXPECT_EQ(shared.lockTypes, (std::vector<LONG>{LOCKTYPE_KEY_REMOVED, LOCKTYPE_KEY_REMOVED}));
    }
}

TEST_F(SentryRuntime, StopDuringTheWaitEndsTheRunWithoutRearming) {
    Start();
    EXPECT_FALSE(SendRemoval(500));
    ASSERT_FALSE(Answers(500));
    EXPECT_EQ(sentry::ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr), NO_ERROR);
    ASSERT_TRUE(Stopped()) << "the stop did not end the wait";
    EXPECT_EQ(Arms(), 1);
    EXPECT_EQ(sentry::MonitorWindow(), nullptr);
    {
        Hold h;
        // STOP_PENDING from the handler first; STOPPED only from the service thread, once, last.
        ASSERT_GE(shared.states.size(), 3u);
        EXPECT_EQ(shared.states[shared.states.size() - 2], static_cast<DWORD>(SERVICE_STOP_PENDING));
        EXPECT_EQ(shared.states.back(), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(std::count(shared.states.begin(), shared.states.end(), static_cast<DWORD>(SERVICE_STOPPED)), 1);
        EXPECT_EQ(shared.accepted.back(), 0u);
    }
    // The service's handle on the alert event is closed after its loop.
    EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, CORELIB_ALERT_EVENT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SentryRuntime, StopWhileWatchingEndsTheRun) {
    Start();
    EXPECT_EQ(sentry::ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr), NO_ERROR);
    ASSERT_TRUE(Stopped());
    Hold h;
    EXPECT_EQ(shared.states.back(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(shared.porterStarts, 0);
}

TEST_F(SentryRuntime, SessionUnlockByAnotherRouteEndsTheWait) {
    Start();
    // An unlock seen while watching must not end the next wait early.
    sentry::ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_UNLOCK, nullptr, nullptr);
    ASSERT_TRUE(Answers());
    EXPECT_FALSE(SendRemoval(500));
    EXPECT_FALSE(Answers(500)) << "an unlock from before the lock ended its wait";

    for (DWORD other : {WTS_SESSION_LOCK, WTS_CONSOLE_CONNECT, WTS_REMOTE_DISCONNECT}) {
        EXPECT_EQ(sentry::ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, other, nullptr, nullptr), NO_ERROR);
        EXPECT_FALSE(Answers(300)) << "session event " << other << " ended the wait";
    }
    sentry::ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_UNLOCK, nullptr, nullptr);
    EXPECT_TRUE(Answers());
    EXPECT_TRUE(WaitFor([this] { return Arms() == 2; })) << "the timer was not re-armed";

    // A logon (after the locked user logged off) ends it too.
    EXPECT_FALSE(SendRemoval(500));
    EXPECT_FALSE(Answers(500));
    sentry::ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr, nullptr);
    EXPECT_TRUE(Answers());
    EXPECT_TRUE(WaitFor([this] { return Arms() == 3; }));
}

// Porter outlasts the interval, so a tick is due, even queued, when the timer is stopped. That tick
// must not lock again right after the unlock: no tick reaches the window in its wait, and the next
// lock comes a full interval after the unlock. Checked red by deleting KillTimer from
// StopIntervalTimer (ticks in the wait) and by deleting its flush of queued ticks (a lock at once).
TEST_F(SentryRuntime, IntervalTimerLocksAndIsRearmedByTheUnlock) {
    const DWORD kInterval = 150;
    shared.switches[L"QJ_RemoveLock"] = 0;
    shared.switches[L"QJ_IntervalMonitor"] = 1;
    shared.porterOutlastsTick = true;
    sentry::g_seams.WaitForUnlock = WatchedWait;
    Start(kInterval);
    ASSERT_TRUE(WaitFor([this] { return PorterStarts() == 1; })) << "the interval timer did not lock";
    ASSERT_TRUE(WaitFor([this] {
        Hold h;
        return shared.ticksInWait >= 0;
    })) << "the lock did not reach its wait";
    {
        Hold h;
        EXPECT_EQ(shared.timerStops, 1) << "the timer was not stopped for the wait";
        EXPECT_EQ(shared.ticksInWait, 0) << "the stopped timer still ticked during the wait";
    }
    EXPECT_FALSE(Answers(300)) << "not in the wait for the unlock";
    EXPECT_EQ(PorterStarts(), 1) << "the timer must be stopped during the wait";
    {
        Hold h;
        EXPECT_EQ(shared.lockTypes, std::vector<LONG>{LOCKTYPE_INTERVAL});
        shared.porterOutlastsTick = false;
    }
    const DWORD unlocked = GetTickCount();
    SetAlert();
    ASSERT_TRUE(WaitFor([this] { return PorterStarts() == 2; })) << "the timer was not re-armed";
    {
        Hold h;
        ASSERT_EQ(shared.porterTimes.size(), 2u);
        // The timer's own resolution may bring the tick a little early, never a whole interval.
        EXPECT_GE(shared.porterTimes[1] - unlocked, kInterval / 2)
            << "a tick left from before the wait locked again right after the unlock";
        EXPECT_EQ(shared.lockTypes, (std::vector<LONG>{LOCKTYPE_INTERVAL, LOCKTYPE_INTERVAL}));
    }
    EXPECT_TRUE(WaitFor([this] {
        Hold h;
        return shared.timerStops == 2;
    })) << "the second lock did not stop the timer";
}

TEST_F(SentryRuntime, PorterFailureKeepsWatchingWithTheTimerArmed) {
    shared.porterOk = FALSE;
    shared.switches[L"QJ_IntervalMonitor"] = 1;
    Start(100);
    EXPECT_TRUE(SendRemoval(5000)) << "waited although Porter never started";
    // The timer keeps ticking, and every tick tries again.
    EXPECT_TRUE(WaitFor([this] { return PorterStarts() >= 4; }));
    EXPECT_EQ(Arms(), 1);
    // Every failed lock says so, with its type and Porter's error (checked red by dropping the
    // lock type from the line).
    sentry::ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    ASSERT_TRUE(Stopped());
    Hold h;
    const std::wstring removal = L"Porter 未能锁定工作站（锁定类型 4，错误 1008），继续监视。";
    std::wstring tick = removal;
    tick.replace(tick.find(L" 4"), 2, L" 2");
    ASSERT_EQ(static_cast<int>(shared.logs.size()), shared.porterStarts) << "one line for each failed lock";
    EXPECT_EQ(ts::Narrow(shared.logs[0]), ts::Narrow(removal));
    for (size_t i = 1; i < shared.logs.size(); ++i) EXPECT_EQ(ts::Narrow(shared.logs[i]), ts::Narrow(tick)) << i;
}

// The service never runs deaf or blind in silence: without its device notices, its lock record mapping
// or its alert event it still runs, says so in the log, and locks as far as it can. Checked red by
// dropping the log line of each failure.
DWORD g_failedCall = 0;
BOOL NoNotices(HWND) {
    SetLastError(g_failedCall);
    return FALSE;
}
DWORD NoMapping() { return g_failedCall; }

TEST_F(SentryRuntime, StartsWithoutNoticesMappingOrEventAndSaysSo) {
    enum class Missing { Notices, Mapping, Event };
    const struct {
        const char* name;
        Missing missing;
        const wchar_t* logged;  // the line of the failed start
        bool recordWritten;
        bool waitsForTheUnlock;
    } kCases[] = {
        {"no device notices", Missing::Notices, L"RegisterDeviceNotification_GUID 失败，错误 5", true, true},
        {"no lock record mapping", Missing::Mapping, L"CreateSharedMemory 失败，错误 5", false, true},
        // A mutex of the event's name is all it takes.
        {"no alert event", Missing::Event, L"无法创建事件 Global\\AlertServiceEvent，错误 6", true, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        SetUp();
        g_failedCall = ERROR_ACCESS_DENIED;
        HANDLE squat = nullptr;
        if (c.missing == Missing::Notices) sentry::g_seams.RegisterDeviceNotices = NoNotices;
        if (c.missing == Missing::Mapping) sentry::g_seams.CreateLockMapping = NoMapping;
        if (c.missing == Missing::Event) {
            squat = CreateMutexW(nullptr, FALSE, CORELIB_ALERT_EVENT);
            ASSERT_NE(squat, nullptr) << GetLastError();
        }
        Start();
        if (!HasFatalFailure()) {
            {
                Hold h;
                EXPECT_EQ(shared.states.back(), static_cast<DWORD>(SERVICE_RUNNING));
                EXPECT_NE(std::find(shared.logs.begin(), shared.logs.end(), c.logged), shared.logs.end())
                    << "the failed start was not logged";
            }
            // A removal still locks.
            EXPECT_EQ(SendRemoval(500), !c.waitsForTheUnlock);
            EXPECT_TRUE(WaitFor([this] { return PorterStarts() == 1; }));
            if (c.waitsForTheUnlock) {
                EXPECT_FALSE(Answers(300)) << "not waiting for the unlock";
                SetAlert();
            }
            EXPECT_TRUE(Answers());
            EXPECT_TRUE(WaitFor([this] { return Arms() == 2; })) << "the timer was not armed again";
            Hold h;
            EXPECT_EQ(shared.lockTypes.size(), c.recordWritten ? 1u : 0u);
            auto logged = [&](const wchar_t* line) {
                return std::find(shared.logs.begin(), shared.logs.end(), line) != shared.logs.end();
            };
            if (!c.recordWritten) {
                EXPECT_TRUE(logged(L"锁定记录写入失败，错误 1307"));
            }
            if (!c.waitsForTheUnlock) {
                EXPECT_TRUE(logged(L"等待解锁事件失败，间隔锁定继续。"));
            }
        }
        TearDown();
        thread = nullptr;
        shared.logs.clear();
        shared.states.clear();
        shared.accepted.clear();
        shared.lockTypes.clear();
        shared.porterStarts = 0;
        shared.porterTimes.clear();
        shared.arms = shared.timerStops = 0;
        if (squat) CloseHandle(squat);
    }
}

// The event's DACL names SYSTEM and Administrators only (no NULL DACL); it is auto-reset.
TEST_F(SentryRuntime, AlertEventIsAutoResetAndOnlyForSystemAndAdministrators) {
    Start();
    HANDLE e = OpenEventW(READ_CONTROL | SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, CORELIB_ALERT_EVENT);
    ASSERT_NE(e, nullptr) << GetLastError();
    const ts::DaclView dacl = ts::ReadObjectDacl(e);
    ASSERT_TRUE(dacl.read) << dacl.error;
    ASSERT_FALSE(dacl.nullDacl) << "NULL DACL: everybody may set or reset the event";
    ASSERT_TRUE(dacl.present);
    ASSERT_EQ(dacl.aces.size(), 2u);
    for (const ts::AceEntry& ace : dacl.aces) {
        EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_TRUE(ace.mask == GENERIC_ALL || ace.mask == EVENT_ALL_ACCESS) << std::hex << ace.mask;
    }
    EXPECT_EQ(dacl.Sids(), (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544"}));

    SetEvent(e);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(e);
}

}  // namespace
