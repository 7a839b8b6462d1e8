// The service's run-time: ServiceMain, the control handler, the hidden window with its device notices
// and interval timer, and the wait for the unlock.
#include "sentrycore.h"

#include <dbt.h>
#include <wtsapi32.h>

#include <initializer_list>

#include "objectsec.h"
#include "protect.h"

namespace sentry {

namespace {

// Guards the status and the handles that the control handler touches from the dispatcher thread.
struct Lock {
    CRITICAL_SECTION cs;
    Lock() { InitializeCriticalSection(&cs); }
    ~Lock() { DeleteCriticalSection(&cs); }
};
Lock g_lock;
struct Guard {
    Guard() { EnterCriticalSection(&g_lock.cs); }
    ~Guard() { LeaveCriticalSection(&g_lock.cs); }
};

HINSTANCE g_instance = nullptr;
SERVICE_STATUS g_status;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HWND volatile g_window = nullptr;
HANDLE g_alert = nullptr;        // "Global\AlertServiceEvent", set by the logon tile after an unlock
HANDLE g_stop = nullptr;         // private, manual reset: the service is stopping
HANDLE g_sessionBack = nullptr;  // private, auto reset: the session was unlocked or logged on to
volatile LONG g_lockedSession = -1;  // the console session of the pending lock (DWORD, -1 none)
// The session that the service control manager last reported locked, until its unlock, logon or
// logoff (DWORD, -1 none). Kept from any lock, the user's own included: Porter's lock call cannot
// get a second report for a session that is locked already.
volatile LONG g_sessionLockedNow = -1;

constexpr DWORD kPendingHintMs = 10000;

void SetState(DWORD state, DWORD accepted, DWORD exitCode = NO_ERROR) {
    Guard g;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = accepted;
    g_status.dwWin32ExitCode = exitCode;
    bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_status.dwCheckPoint = pending ? g_status.dwCheckPoint + 1 : 0;
    g_status.dwWaitHint = pending ? kPendingHintMs : 0;
    g_seams.ReportStatus(g_statusHandle, &g_status);
}

void CALLBACK IntervalTimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    if (LockInProgress()) return;
    OnIntervalTick(id);
}

void CALLBACK RetryTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    if (LockInProgress()) return;
    OnRetryTick();
}

LRESULT CALLBACK MonitorWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            g_window = hwnd;
            g_seams.ArmTimer();
            if (!g_seams.RegisterDeviceNotices(hwnd)) {
                DWORD error = GetLastError();
                Log(L"RegisterDeviceNotification_GUID 失败，错误 %lu", error);
            }
            return 0;
        case WM_CLOSE:
            DEBUG_MSG("WM_CLOSE");
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            g_window = nullptr;
            PostQuitMessage(0);
            return 0;
        case WM_DEVICECHANGE:
            DEBUG_MSG("WM_DEVICECHANGE");
            if (wParam == DBT_DEVICEARRIVAL) {
                DEBUG_MSG("DBT_DEVICEARRIVAL");
            } else if (wParam == DBT_DEVICEREMOVECOMPLETE) {
                // A notice that reaches us while a lock is pending is answered without acting on it.
                if (LockInProgress())
                    DEBUG_MSG("DBT_DEVICEREMOVECOMPLETE ignored while locked");
                else
                    OnDeviceRemoval();
            }
            return TRUE;  // grants any query; never passed on
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

bool CreateMonitorWindow() {
    WNDCLASSEXW wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MonitorWndProc;
    wc.hInstance = g_instance;
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    DEBUG_MSG("CreateMessageOnlyWindow");
    // An ordinary hidden top-level window, not a message-only one, so that broadcasts reach it.
    HWND w = CreateWindowExW(0, kWindowClass, kWindowClass, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, nullptr, nullptr, g_instance, nullptr);
    return w != nullptr;
}

// The settings key may have been made by an installer, a .reg import or an older build, with an
// inherited DACL that lets every user read the record and its passwords.
void ProtectSettings() {
    HKEY key = nullptr;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, 0, READ_CONTROL | WRITE_DAC, &key);
    if (r == ERROR_FILE_NOT_FOUND) return;  // Corelib makes it protected when it first writes
    if (r != ERROR_SUCCESS) {
        Log(L"无法检查设置键的访问权限，错误 %ld", static_cast<long>(r));
        return;
    }
    switch (corelib::ProtectSettingsKey(key, &r)) {
        case corelib::KeyDacl::Intact: break;
        case corelib::KeyDacl::Repaired:
            Log(L"设置键的访问权限不安全，已改为仅 SYSTEM 和 Administrators 可访问。");
            break;
        case corelib::KeyDacl::Failed:
            Log(L"设置键的访问权限无法修复，错误 %ld", static_cast<long>(r));
            break;
    }
    RegCloseKey(key);
}

// The alert event, made by the service. One that exists already and that neither SYSTEM nor
// Administrators made is somebody's squat: whoever holds it could end every locked wait.
HANDLE CreateAlertEvent() {
    HANDLE alert = nullptr;
    DWORD e = ERROR_SUCCESS;
    // Owned by Administrators where this process may name them; else its own default owner.
    for (bool owned : {true, false}) {
        SECURITY_ATTRIBUTES sa;
        if (!CreateAlertEventSecurity(&sa, owned)) {
            e = GetLastError();
            break;
        }
        alert = CreateEventW(&sa, FALSE, FALSE, CORELIB_ALERT_EVENT);
        e = GetLastError();
        LocalFree(sa.lpSecurityDescriptor);
        if (alert || e != ERROR_INVALID_OWNER) break;
    }
    if (alert && e == ERROR_ALREADY_EXISTS && !corelib::OwnedBySystemOrAdministrators(alert)) {
        CloseHandle(alert);
        Log(L"事件 Global\\AlertServiceEvent 已由 SYSTEM 和 Administrators 以外的用户创建，不予使用。");
        SetLastError(ERROR_INVALID_OWNER);
        return nullptr;
    }
    SetLastError(e);
    return alert;
}

// Creates the objects of a run. Returns 0, or the error that keeps the service from running.
DWORD InitService() {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stop) return GetLastError();
    HANDLE back = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!back) {
        DWORD e = GetLastError();
        CloseHandle(stop);
        return e;
    }
    {
        Guard g;
        g_stop = stop;
        g_sessionBack = back;
    }
    // What a run knows of the session's lock comes from its own notices.
    InterlockedExchange(&g_sessionLockedNow, -1);
    ProtectSettings();
    DWORD mapping = g_seams.CreateLockMapping();
    if (mapping != 0) Log(L"CreateSharedMemory 失败，错误 %lu", mapping);
    // A mapping that is not the service's own (a squatter's) gets no record.
    SetLockRecordUsable(mapping == 0);

    if (!CreateMonitorWindow()) {
        DWORD e = GetLastError();
        Log(L"无法创建监视窗口，错误 %lu", e);
        return e ? e : ERROR_CANNOT_MAKE;
    }

    HANDLE alert = CreateAlertEvent();
    if (!alert) {
        // Key removal still locks; every wait then ends at once (see LockSys).
        DWORD e = GetLastError();
        Log(L"无法创建事件 Global\\AlertServiceEvent，错误 %lu", e);
    }
    Guard g;
    g_alert = alert;
    return 0;
}

void CloseObjects() {
    Guard g;
    if (g_alert) CloseHandle(g_alert);
    if (g_stop) CloseHandle(g_stop);
    if (g_sessionBack) CloseHandle(g_sessionBack);
    g_alert = g_stop = g_sessionBack = nullptr;
}

// Answers the notices that were sent to the window while it waited, without acting on them: the
// caller is still inside LockSys.
void AnswerPendingNotices() {
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

const wchar_t kServiceName[] = L"Sentry";
const wchar_t kServiceDescription[] = L"Tolven电脑锁的基础服务程序，如果停止或禁用该服务，系统将无法正常工作";
const wchar_t kWindowClass[] = L"ZARN_MessageOnlyWindow";
const wchar_t kPorterFile[] = L"\\Porter.exe";
const wchar_t kLockSwitch[] = L"/LockWorkStation";

void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

void InitStatus() {
    Guard g;
    ZeroMemory(&g_status, sizeof(g_status));
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = SERVICE_STOPPED;
    g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
}

SERVICE_STATUS CurrentStatus() {
    Guard g;
    return g_status;
}

HWND MonitorWindow() { return g_window; }

bool CreateAlertEventSecurity(SECURITY_ATTRIBUTES* sa, bool owned) {
    // The same descriptor as the lock record's mapping.
    PSECURITY_DESCRIPTOR sd =
        owned ? corelib::NewOwnedObjectSecurityDescriptor() : corelib::NewObjectSecurityDescriptor();
    if (!sd) return false;
    sa->nLength = sizeof(*sa);
    sa->lpSecurityDescriptor = sd;
    sa->bInheritHandle = FALSE;
    return true;
}

void ArmIntervalTimer() {
    HWND w = g_window;
    if (w) SetTimer(w, kIntervalTimerId, g_seams.intervalMs, IntervalTimerProc);
}

void StopIntervalTimer() {
    DEBUG_MSG_B("StopTime");
    HWND w = g_window;
    if (w) {
        KillTimer(w, kIntervalTimerId);
        // A tick already queued would lock again right after the unlock.
        MSG m;
        while (PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        }
    }
    DEBUG_MSG_E("StopTime");
}

void ArmRetryTimer() {
    HWND w = g_window;
    if (w) SetTimer(w, kRetryTimerId, g_seams.retryMs, RetryTimerProc);
}

void StopRetryTimer() {
    HWND w = g_window;
    if (w) KillTimer(w, kRetryTimerId);
}

BOOL SessionLockReported() {
    LONG locked = InterlockedCompareExchange(&g_sessionLockedNow, 0, 0);
    return locked != -1 && locked == InterlockedCompareExchange(&g_lockedSession, 0, 0);
}

HANDLE StopRequestEvent() {
    Guard g;
    return g_stop;
}

void NoteLockedSession(DWORD sessionId) { InterlockedExchange(&g_lockedSession, static_cast<LONG>(sessionId)); }

void ResetAlertEvent() {
    Guard g;
    if (g_alert) ResetEvent(g_alert);
    // An unlock seen before this lock must not end its wait.
    if (g_sessionBack) ResetEvent(g_sessionBack);
}

WaitResult WaitAlertServiceEvent() {
    DEBUG_MSG("%s", Gbk(L"等待服务事件...").c_str());
    // Only this thread closes these handles, after its message loop.
    HANDLE handles[3] = {g_stop, g_alert, g_sessionBack};
    WaitResult result = WaitResult::Failed;
    if (handles[0] && handles[1] && handles[2]) {
        // The stop comes first: a stop during the wait ends the service without re-arming the timer.
        switch (WaitForMultipleObjects(3, handles, FALSE, INFINITE)) {
            case WAIT_OBJECT_0: result = WaitResult::Stopped; break;
            case WAIT_OBJECT_0 + 1: result = WaitResult::Unlocked; break;
            case WAIT_OBJECT_0 + 2: result = WaitResult::SessionUnlocked; break;
            default: result = WaitResult::Failed; break;
        }
    }
    if (result == WaitResult::Unlocked || result == WaitResult::SessionUnlocked) {
        ResetEvent(g_alert);
        DEBUG_MSG("%s", Gbk(L"获得服务事件").c_str());
    } else {
        DEBUG_MSG("%s", Gbk(L"事件失败").c_str());
    }
    AnswerPendingNotices();
    return result;
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP: {
            // STOP_PENDING first; only the service thread reports STOPPED, after its loop.
            SetState(SERVICE_STOP_PENDING, 0);
            {
                Guard g;
                if (g_stop) SetEvent(g_stop);
            }
            HWND w = g_window;
            if (w) PostMessageW(w, WM_CLOSE, 0, 0);
            return NO_ERROR;
        }
        case SERVICE_CONTROL_SESSIONCHANGE: {
            // A notice that names no session is taken for the console's.
            const WTSSESSION_NOTIFICATION* n = static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
            const DWORD session = n && n->cbSize >= sizeof(*n) ? n->dwSessionId : WTSGetActiveConsoleSessionId();
            const LONG id = static_cast<LONG>(session);
            if (eventType == WTS_SESSION_LOCK) {
                InterlockedExchange(&g_sessionLockedNow, id);
            } else if (eventType == WTS_SESSION_UNLOCK || eventType == WTS_SESSION_LOGON ||
                       eventType == WTS_SESSION_LOGOFF) {
                InterlockedCompareExchange(&g_sessionLockedNow, -1, id);
            }
            if (eventType == WTS_SESSION_UNLOCK || eventType == WTS_SESSION_LOGON) {
                // Only the session that Porter locked: a logon or unlock elsewhere (another user's
                // session, a remote one) leaves this one locked.
                DWORD locked = static_cast<DWORD>(InterlockedCompareExchange(&g_lockedSession, 0, 0));
                if (session == locked) {
                    Guard g;
                    if (g_sessionBack) SetEvent(g_sessionBack);
                }
            }
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE: {
            Guard g;
            g_seams.ReportStatus(g_statusHandle, &g_status);
            return NO_ERROR;
        }
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void RunService(SERVICE_STATUS_HANDLE statusHandle) {
    {
        Guard g;
        g_statusHandle = statusHandle;
    }
    if (!g_instance) g_instance = GetModuleHandleW(nullptr);
    DWORD error = InitService();
    if (error != 0) {
        if (HWND w = g_window) DestroyWindow(w);
        CloseObjects();
        SetState(SERVICE_STOPPED, 0, error);
        return;
    }
    SetState(SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE);

    // The window is the thread's only one; its WM_DESTROY posts the quit message.
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The handler may still be running on the dispatcher thread; it touches these under the lock.
    CloseObjects();
    SetState(SERVICE_STOPPED, 0);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    DEBUG_MSG_B("ServiceMain");
    {
        Guard g;
        g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        g_status.dwCurrentState = SERVICE_START_PENDING;
        g_status.dwControlsAccepted = 0;  // a stop is taken once the window exists
        g_status.dwWin32ExitCode = NO_ERROR;
        g_status.dwServiceSpecificExitCode = 0;
        g_status.dwCheckPoint = 0;
        g_status.dwWaitHint = kPendingHintMs;
    }
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(kServiceName, ServiceControlHandler, nullptr);
    if (!handle) {
        DEBUG_MSG_E("ServiceMain");
        return;
    }
    {
        Guard g;
        g_statusHandle = handle;
        g_seams.ReportStatus(g_statusHandle, &g_status);
    }
    RunService(handle);
    DEBUG_MSG_E("ServiceMain");
}

}  // namespace sentry
