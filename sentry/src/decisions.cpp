// What a removal notice or a timer tick does, given the switches and the key's presence.
#include "sentrycore.h"

#include <wtsapi32.h>

namespace sentry {

namespace {
// One record for the key checks, as the service keeps one for its lifetime.
uinfo g_record;
bool g_locking = false;
volatile LONG g_recordUsable = 1;

struct LockingScope {
    LockingScope() { g_locking = true; }
    ~LockingScope() { g_locking = false; }
};

bool RemovalLockOn() {
    return g_seams.GetSwitch(L"QJ_RemoveLock") != 0 && g_seams.GetSwitch(L"QJ_EnableTolven") != 0;
}

// Whether the enrolled key is in, checked on a fresh read of the user record.
bool KeyPresent() {
    // A failed read is checked as an all-zero record, the same as nothing enrolled.
    ZeroMemory(&g_record, sizeof(g_record));
    if (!g_seams.ReadUserRecord(&g_record)) ZeroMemory(&g_record, sizeof(g_record));
    // The key check needs the disk slots and the token serial only: no password stays in this
    // process for its life.
    SecureZeroMemory(g_record.lpUserPWD, sizeof(g_record.lpUserPWD));
    SecureZeroMemory(g_record.lpLogonPWD, sizeof(g_record.lpLogonPWD));
    return g_seams.KeyPresent(&g_record) != FALSE;
}

// An all-zero record reads as "no lock", the same as one the tile has taken.
void ClearLockRecord() {
    LockRecord none;
    ZeroMemory(&none, sizeof(none));
    g_seams.WriteLockRecord(&none, sizeof(none));
}
}  // namespace

bool LockInProgress() { return g_locking; }

void SetLockRecordUsable(bool usable) { InterlockedExchange(&g_recordUsable, usable ? 1 : 0); }
bool LockRecordUsable() { return InterlockedCompareExchange(&g_recordUsable, 0, 0) != 0; }

bool OnDeviceRemoval() {
    DEBUG_MSG("DBT_DEVICEREMOVECOMPLETE");
    // Every notice is judged on its own; checking the key is idempotent. A second notice for the same
    // pull (HID and disk classes) comes during the wait and is not acted on, and one after the unlock
    // finds the key back. Counting notices instead would miss pulls among unrelated removals.
    if (!RemovalLockOn() || KeyPresent()) return false;
    DEBUG_MSG("!VerifyUserInfo");
    LockSys(LOCKTYPE_KEY_REMOVED);
    return true;
}

bool OnRetryTick() {
    g_seams.StopRetry();
    // Each retry stands on its own: the switches and the key are read again.
    if (!RemovalLockOn()) {
        DEBUG_MSG("retry: QJ_RemoveLock off");
        return false;
    }
    if (KeyPresent()) {
        DEBUG_MSG("retry: VerifyUserInfo");
        return false;
    }
    DEBUG_MSG("retry: !VerifyUserInfo");
    LockSys(LOCKTYPE_KEY_REMOVED);
    return true;
}

bool OnIntervalTick(UINT_PTR timerId) {
    DEBUG_MSG("%s %d", Gbk(L"准备锁电脑").c_str(), static_cast<int>(timerId));
    if (timerId != kIntervalTimerId) return false;
    if (g_seams.GetSwitch(L"QJ_EnableTolven") == 0) return false;
    if (g_seams.GetSwitch(L"QJ_IntervalMonitor") == 0) return false;
    DEBUG_MSG("LOCK___GetMonitorKeyStyle(CStyle_INTERVALMONITOR)");
    LockSys(LOCKTYPE_INTERVAL);
    return true;
}

DWORD LockSys(int lockType) {
    DEBUG_MSG_B("LockSys %d", lockType);
    LockingScope scope;
    LockRecord record;
    ZeroMemory(&record, sizeof(record));
    record.enuLockType = lockType;
    // Without a mapping of our own the lock goes on without its record (the tile then shows none).
    DWORD written = LockRecordUsable() ? g_seams.WriteLockRecord(&record, sizeof(record)) : ERROR_INVALID_OWNER;
    if (written != 0) Log(L"锁定记录写入失败，错误 %lu", written);

    g_seams.ResetAlert();
    // Porter locks the console session; PorterService notes it again should it differ.
    NoteLockedSession(WTSGetActiveConsoleSessionId());
    BOOL took = g_seams.StartPorter(kLockSwitch);
    DWORD error = GetLastError();
    // Porter may not have seen a lock that Windows did report (or one the user made first, which
    // Porter's own lock call then cannot report again): the session is locked all the same.
    if (!took && g_seams.SessionLocked()) {
        Log(L"Porter 未确认锁定（错误 %lu），但会话已锁定。", error);
        took = TRUE;
    }
    if (!took) {
        // Nothing will ever unlock a session that was never locked: keep watching instead of waiting,
        // and try again soon while the key stays out.
        Log(L"Porter 未能锁定工作站（锁定类型 %d，错误 %lu），继续监视。", lockType, error);
        // The next lock by the user's own hand must not show this lock's reason.
        if (written == 0) ClearLockRecord();
        if (RemovalLockOn()) g_seams.ArmRetry();
        DEBUG_MSG_E("LockSys");
        return written;
    }
    g_seams.StopRetry();
    g_seams.StopTimer();
    switch (g_seams.WaitForUnlock()) {
        case WaitResult::Unlocked:
            g_seams.ArmTimer();
            break;
        case WaitResult::SessionUnlocked:
            // Unlocked without the tile, which takes the record as it reads it: it is stale now.
            if (written == 0) ClearLockRecord();
            g_seams.ArmTimer();
            break;
        case WaitResult::Failed:
            // Without the alert event no unlock can be seen; keep the interval lock alive regardless.
            Log(L"等待解锁事件失败，间隔锁定继续。");
            g_seams.ArmTimer();
            break;
        case WaitResult::Stopped:
            break;
    }
    DEBUG_MSG_E("LockSys");
    return written;
}

}  // namespace sentry
