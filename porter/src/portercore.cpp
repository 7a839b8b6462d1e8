#include "portercore.h"

#include <wtsapi32.h>

#include "corelib.h"

namespace porter {

namespace {
BOOL WINAPI RealLockWorkStation() { return ::LockWorkStation(); }
BOOL WINAPI RealExitWindowsEx(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason); }
BOOL WINAPI RealRegisterSessionNotification(HWND window, DWORD flags) {
    return ::WTSRegisterSessionNotification(window, flags);
}
BOOL WINAPI RealUnRegisterSessionNotification(HWND window) { return ::WTSUnRegisterSessionNotification(window); }

// Constant-initialised (wrappers, not imported addresses), so that a test build may change it early.
constexpr Seams kBuiltIn = {RealLockWorkStation,
                            RealExitWindowsEx,
                            EnableShutdownPrivilege,
                            RealRegisterSessionNotification,
                            RealUnRegisterSessionNotification,
                            kLockConfirmMs};

bool EqualsAsciiNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

DWORD LastErrorOr(DWORD fallback) {
    DWORD e = GetLastError();
    return e ? e : fallback;
}

// This session's lock notice, watched from before LockWorkStation is called: a notice that comes at
// once is then queued rather than lost, and a lock that was there before (none would be reported)
// is not taken for this one.
class SessionWatch {
  public:
    SessionWatch() = default;
    SessionWatch(const SessionWatch&) = delete;
    SessionWatch& operator=(const SessionWatch&) = delete;
    ~SessionWatch() {
        if (registered_) g_seams.UnRegisterSessionNotification(window_);
        if (window_) DestroyWindow(window_);
    }

    // 0, or the error that keeps the lock from being seen.
    DWORD Open() {
        if (!ProcessIdToSessionId(GetCurrentProcessId(), &session_)) return LastErrorOr(ERROR_GEN_FAILURE);
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW wc;
        ZeroMemory(&wc, sizeof(wc));
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = Proc;
        wc.hInstance = instance;
        wc.lpszClassName = kSessionWatchClass;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return LastErrorOr(ERROR_GEN_FAILURE);
        window_ = CreateWindowExW(0, kSessionWatchClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
        if (!window_) return LastErrorOr(ERROR_GEN_FAILURE);
        if (!g_seams.RegisterSessionNotification(window_, NOTIFY_FOR_THIS_SESSION)) return LastErrorOr(ERROR_GEN_FAILURE);
        registered_ = true;
        return 0;
    }

    // Handles this thread's messages until the lock is reported or the time is up.
    bool WaitForLock(DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG m;
            while (!locked_ && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
            if (locked_) return true;
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= timeoutMs) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        }
    }

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const CREATESTRUCTW* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        } else if (message == WM_WTSSESSION_CHANGE) {
            SessionWatch* self = reinterpret_cast<SessionWatch*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            // Only a lock of this very session: lParam names the session the notice is about.
            if (self && wParam == WTS_SESSION_LOCK && static_cast<DWORD>(lParam) == self->session_) self->locked_ = true;
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    DWORD session_ = 0;
    bool registered_ = false;
    bool locked_ = false;
};

int LockAndConfirm() {
    SessionWatch watch;
    const DWORD watchError = watch.Open();
    // The lock is asked for even when it cannot be watched: it may still take.
    if (!g_seams.LockWorkStation()) return static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
    if (watchError != 0) {
        DEBUG_MSG("WTSRegisterSessionNotification %lu", watchError);
        return static_cast<int>(watchError);
    }
    if (!watch.WaitForLock(g_seams.lockConfirmMs)) {
        DEBUG_MSG("WTS_SESSION_LOCK not reported within %lu ms", g_seams.lockConfirmMs);
        return kLockNotConfirmed;
    }
    return 0;
}
}  // namespace

const wchar_t kSessionWatchClass[] = L"Porter_SessionWatch";

const Switch kSwitches[5] = {
    {"/LockWorkStation", Action::LockWorkStation, 0},
    {"/EWX_FORCE", Action::Force, EWX_FORCE},
    {"/EWX_LOGOFF", Action::Logoff, EWX_LOGOFF},
    {"/EWX_POWEROFF", Action::Poweroff, EWX_POWEROFF},
    {"/EWX_SHUTDOWN", Action::Shutdown, EWX_SHUTDOWN},
};

Seams g_seams = kBuiltIn;
Seams DefaultSeams() { return kBuiltIn; }

const Switch* SwitchFor(Action action) {
    for (const Switch& s : kSwitches)
        if (s.action == action) return &s;
    return nullptr;
}

Action ParseArguments(int argc, const char* const* argv) {
    Action chosen = Action::None;
    for (int i = 0; i < argc; ++i) {
        if (!argv[i]) continue;
        for (const Switch& s : kSwitches) {
            if (EqualsAsciiNoCase(argv[i], s.text)) {
                chosen = s.action;
                DEBUG_MSG("CMD %s", s.text);
                break;
            }
        }
    }
    return chosen;
}

BOOL EnableShutdownPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return FALSE;
    TOKEN_PRIVILEGES tp;
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL ok = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
              GetLastError() == ERROR_SUCCESS;  // ERROR_NOT_ALL_ASSIGNED: the token lacks it
    DWORD e = GetLastError();
    CloseHandle(token);
    SetLastError(e);
    return ok;
}

int Perform(Action action) {
    const Switch* s = SwitchFor(action);
    if (!s) return 0;
    if (action == Action::LockWorkStation) return LockAndConfirm();
    // Without the privilege a shut-down or power-off is refused; a log-off does not need it, so a
    // failure here is traced and the request is still made.
    if (!g_seams.EnableShutdownPrivilege()) DEBUG_MSG("SeShutdownPrivilege %lu", GetLastError());
    if (g_seams.ExitWindowsEx(s->exitFlags, 0)) return 0;
    return static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
}

int PorterMain(int argc, const char* const* argv) {
    DEBUG_MSG_B("Porter");
    Action action = ParseArguments(argc, argv);
    int code = Perform(action);
    DEBUG_MSG_E("Porter");
    return code;
}

}  // namespace porter
