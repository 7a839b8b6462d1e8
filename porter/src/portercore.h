// Porter: performs one session action in the session it runs in (the service starts it there to lock
// the workstation). The code lives in this core library, so that a test build can swap the actions.
#pragma once

#include <windows.h>

namespace porter {

enum class Action { None, LockWorkStation, Force, Logoff, Poweroff, Shutdown };

struct Switch {
    const char* text;
    Action action;
    UINT exitFlags;  // ExitWindowsEx flags; unused for the lock
};
// "/LockWorkStation", "/EWX_FORCE", "/EWX_LOGOFF", "/EWX_POWEROFF", "/EWX_SHUTDOWN"
extern const Switch kSwitches[5];
const Switch* SwitchFor(Action action);

// Every argument, the first included, compared whole without regard to ASCII case; the last match wins.
Action ParseArguments(int argc, const char* const* argv);

// The session actions, real by default; test builds and unit tests replace them.
struct Seams {
    BOOL(WINAPI* LockWorkStation)();
    BOOL(WINAPI* ExitWindowsEx)(UINT flags, DWORD reason);
    BOOL (*EnableShutdownPrivilege)();
    BOOL(WINAPI* RegisterSessionNotification)(HWND window, DWORD flags);  // WTSRegisterSessionNotification
    BOOL(WINAPI* UnRegisterSessionNotification)(HWND window);
    DWORD lockConfirmMs;  // how long Windows may take to report the lock (kLockConfirmMs)
};
extern Seams g_seams;
Seams DefaultSeams();

// LockWorkStation only starts a lock, and returns TRUE without one when this program is not on the
// input desktop (a UAC prompt is up, say): the lock counts once Windows reports WTS_SESSION_LOCK for
// this session within this time. The service ends Porter at 10 s; this stays well inside that.
constexpr DWORD kLockConfirmMs = 5000;
// Exit code of a lock that Windows did not report in time.
constexpr int kLockNotConfirmed = ERROR_TIMEOUT;
// The class of the message-only window that receives this session's notices during a lock.
extern const wchar_t kSessionWatchClass[];

// Enables SeShutdownPrivilege in this process's token; FALSE when the token does not hold it.
BOOL EnableShutdownPrivilege();

// Performs the action; returns the exit code: 0, or the Win32 error of the failed action. A lock
// succeeds only when Windows reports it (kLockNotConfirmed otherwise).
int Perform(Action action);
// main's body.
int PorterMain(int argc, const char* const* argv);

}  // namespace porter
