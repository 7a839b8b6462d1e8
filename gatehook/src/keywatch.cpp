// The key watch: locks the workstation while the key is out, and at the interval.
// One thread serves the module (a start replaces it should it have ended). A start arms its two
// timers afresh, a stop disarms them; the run flag is also tested at every tick, so no tick acts
// once the watch is stopped.
#include "internal.h"

namespace gatehook {

namespace {

const UINT kMsgArm = WM_APP + 1;
const UINT kMsgDisarm = WM_APP + 2;

volatile LONG g_run = 0;

struct WatchThread {
    CRITICAL_SECTION lock;
    HANDLE thread = nullptr;
    DWORD id = 0;
    WatchThread() { InitializeCriticalSection(&lock); }
};
WatchThread& Watch() {
    static WatchThread watch;
    return watch;
}
WatchThread& g_watchAtLoad = Watch();

// Owned by the watch thread alone.
UINT_PTR g_keyTimer = 0;
UINT_PTR g_intervalTimer = 0;

bool Running() { return InterlockedCompareExchange(&g_run, 0, 0) != 0; }

void CALLBACK KeyWatchTimerProc(HWND, UINT, UINT_PTR id, DWORD);

void Disarm() {
    if (g_keyTimer) KillTimer(nullptr, g_keyTimer);
    if (g_intervalTimer) KillTimer(nullptr, g_intervalTimer);
    g_keyTimer = g_intervalTimer = 0;
}

void Arm() {
    Disarm();
    g_keyTimer = SetTimer(nullptr, 0, g_seams.keyWatchPeriodMs, KeyWatchTimerProc);
    g_intervalTimer = SetTimer(nullptr, 0, g_seams.intervalPeriodMs, KeyWatchTimerProc);
    DEBUG_MSG("%s", "SetTimer");
}

void CALLBACK KeyWatchTimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    if (!Running()) return;
    RefreshRecord();
    if (id == g_keyTimer) {
        if (GetMonitorKeyStyle(GH_SWITCH_REMOVE_LOCK) != 0) {
            if (!KeyPresent()) {
                g_seams.LockWorkStation();
                DEBUG_MSG("%s", "!VerifyUserInfo(&uinfo)");
            }
        }
    } else if (id == g_intervalTimer) {
        if (GetMonitorKeyStyle(GH_SWITCH_INTERVAL) != 0) {
            g_seams.LockWorkStation();
            DEBUG_MSG("%s", "GetMonitorKeyStyle(QJ_IntervalMonitor)");
        }
    }
}

void RestartAfter(DWORD endedId);

DWORD WINAPI KeyWatchThreadProc(LPVOID readyEvent) {
    MSG m;
    PeekMessageW(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue exists before anyone posts
    SetEvent(static_cast<HANDLE>(readyEvent));
    for (;;) {
        BOOL got = GetMessageW(&m, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        if (!m.hwnd && m.message == kMsgArm) {
            if (Running()) Arm();
            continue;
        }
        if ((!m.hwnd && m.message == kMsgDisarm) || !Running()) {
            Disarm();
            continue;
        }
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    Disarm();
    RestartAfter(GetCurrentThreadId());
    return 0;
}

bool EnsureThread() {
    WatchThread& w = Watch();
    EnterCriticalSection(&w.lock);
    // A thread that has ended (a stray WM_QUIT is enough) watches nothing: start another.
    if (w.thread && WaitForSingleObject(w.thread, 0) != WAIT_TIMEOUT) {
        DEBUG_MSG("%s", "key watch thread ended; starting a new one");
        CloseHandle(w.thread);
        w.thread = nullptr;
        w.id = 0;
    }
    if (!w.thread) {
        // The thread runs module code until the process ends: keep the module loaded.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&KeyWatchThreadProc), &self);
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (ready) {
            DWORD id = 0;
            HANDLE t = g_seams.CreateThread(nullptr, 0, KeyWatchThreadProc, ready, 0, &id);
            if (t) {
                // Winlogon's thread waits here, the lock held: a thread that ends before it is ready
                // must end the wait too.
                HANDLE both[2] = {ready, t};
                if (WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0) {
                    w.thread = t;
                    w.id = id;
                } else {
                    DEBUG_MSG("%s", "key watch thread ended before it was ready");
                    Log(L"KEY监视线程未能启动。");
                    CloseHandle(t);
                }
            } else {
                DEBUG_MSG("CreateThread=%d", static_cast<int>(GetLastError()));
            }
            CloseHandle(ready);
        }
    }
    bool ok = w.thread != nullptr;
    LeaveCriticalSection(&w.lock);
    return ok;
}

// A watch thread that ends while the watch runs (a stray WM_QUIT is enough) hands over to a new one
// at once: until the next logon or unlock nobody else would start it, and pulling the key would lock
// nothing.
void RestartAfter(DWORD endedId) {
    WatchThread& w = Watch();
    EnterCriticalSection(&w.lock);
    if (w.thread && w.id == endedId) {
        CloseHandle(w.thread);
        w.thread = nullptr;
        w.id = 0;
    }
    LeaveCriticalSection(&w.lock);
    if (!Running()) return;
    DEBUG_MSG("%s", "key watch thread ended while running; starting a new one");
    StartKeyWatchThread();
}

DWORD WatchThreadId() {
    WatchThread& w = Watch();
    EnterCriticalSection(&w.lock);
    DWORD id = w.id;
    LeaveCriticalSection(&w.lock);
    return id;
}

}  // namespace

void StartKeyWatchThread() {
    InterlockedExchange(&g_run, 1);
    if (!EnsureThread()) return;
    PostThreadMessageW(WatchThreadId(), kMsgArm, 0, 0);
}

void StopKeyWatch() {
    InterlockedExchange(&g_run, 0);
    DWORD id = WatchThreadId();
    if (id) PostThreadMessageW(id, kMsgDisarm, 0, 0);
}

}  // namespace gatehook
