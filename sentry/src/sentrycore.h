// Sentry: the lock monitor service. Everything but WinMain lives in this core library, so that the
// decisions are table-tested without a service and a test build can swap the platform seams.
#pragma once

#include <windows.h>

#include "corelib.h"

namespace sentry {

// ---- names and fixed values ----
extern const wchar_t kServiceName[];        // "Sentry" (also the display name)
extern const wchar_t kServiceDescription[];
extern const wchar_t kWindowClass[];        // "ZARN_MessageOnlyWindow", also the window title
extern const wchar_t kPorterFile[];         // "\Porter.exe", beside the service program
extern const wchar_t kLockSwitch[];         // "/LockWorkStation"
constexpr UINT_PTR kIntervalTimerId = 1;
constexpr DWORD kIntervalPeriodMs = 2500000;  // 41 min 40 s
constexpr DWORD kStopWaitMs = 10000;          // bound of the command line's wait for a stop
constexpr UINT_PTR kRetryTimerId = 2;
constexpr DWORD kRetryPeriodMs = 2000;        // a lock that did not take is tried again this often

// How the wait for the unlock ended.
enum class WaitResult {
    Unlocked,         // the logon tile set "Global\AlertServiceEvent"
    SessionUnlocked,  // the session was unlocked, or a user logged on, by another route
    Stopped,          // the service is stopping
    Failed,           // no alert event, or the wait itself failed
};

// Every platform action of the service goes through this table, real by default.
// Unit tests replace entries; the short-period test build changes intervalMs.
struct Seams {
    DWORD intervalMs;
    DWORD (*GetSwitch)(const wchar_t* valueName);             // GetMonitorKeyStyle
    BOOL (*ReadUserRecord)(uinfo* record);                    // GetUserInfo
    BOOL (*KeyPresent)(const uinfo* record);                  // VerifyUserInfo
    DWORD (*WriteLockRecord)(const void* data, DWORD size);   // WriteToSharedMemory
    DWORD (*CreateLockMapping)();                             // CreateSharedMemory
    BOOL (*RegisterDeviceNotices)(HWND window);               // RegisterDeviceNotification_GUID
    void (*ResetAlert)();                                     // before each lock
    BOOL (*StartPorter)(const wchar_t* porterSwitch);         // PorterService
    void (*ArmTimer)();
    void (*StopTimer)();
    WaitResult (*WaitForUnlock)();                            // WaitAlertServiceEvent
    void (*Log)(const wchar_t* text);                         // LogEvent
    BOOL(WINAPI* ReportStatus)(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);  // SetServiceStatus
    DWORD porterWaitMs;  // how long Porter may take to lock (kPorterWaitMs)
    DWORD stopWaitMs;    // how long the command line waits for a stop (kStopWaitMs)
    DWORD retryMs;       // period of the retry after a lock that did not take (kRetryPeriodMs)
    void (*ArmRetry)();
    void (*StopRetry)();
    BOOL (*SessionLocked)();  // Windows reported the lock's session locked, and not unlocked since
};
extern Seams g_seams;
// The table as it is built in (for tests that restore it).
Seams DefaultSeams();

// ---- decisions (decisions.cpp) ----
// One DBT_DEVICEREMOVECOMPLETE: with QJ_RemoveLock and QJ_EnableTolven on and the enrolled key
// absent, lock with type 4. Each notice is judged on its own. Returns true when it locked.
bool OnDeviceRemoval();
// A tick of an interval timer: timer 1 with QJ_EnableTolven and QJ_IntervalMonitor on locks with
// type 2. Returns true when it locked.
bool OnIntervalTick(UINT_PTR timerId);
// A tick of the retry timer: while key-removal locking is on and the key is still absent, locks again
// with type 4. The timer is stopped first; a lock that does not take arms it again. Returns true when
// it locked.
bool OnRetryTick();
// Writes the lock record, has Porter lock the session and waits for the unlock. A lock that did not
// take (Porter failed, or Windows did not report the session locked) is not awaited: the failure is
// logged, the timer keeps running and, with key-removal locking on, the retry timer is armed.
// Returns the write's result.
DWORD LockSys(int lockType);
// True while LockSys runs: device notices and ticks delivered meanwhile are not acted on.
bool LockInProgress();

// ---- Porter launch (porterlaunch.cpp) ----
// Starts Porter beside this program in the active console session, under that session's user,
// on "winsta0\default". TRUE only when Porter ended within its bound and reported success. A Porter
// still running at the bound (hung, or suspended: it runs under the user's own token) is ended and
// counts as a failed lock, and so does one the stop request overtook.
BOOL PorterService(const wchar_t* porterSwitch);
// How long PorterService waits for Porter's exit code.
constexpr DWORD kPorterWaitMs = 10000;

// The console session a lock was made in: only a logon or unlock there ends the wait for it.
void NoteLockedSession(DWORD sessionId);
// Whether the lock record may be written: false once the mapping turned out not to be the service's
// own (made by somebody else first), so that no record goes where its squatter reads it.
void SetLockRecordUsable(bool usable);
bool LockRecordUsable();

// ---- service run-time (runtime.cpp) ----
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
// ServiceMain after the handler is registered: creates the objects, reports RUNNING, pumps the hidden
// window's messages until it is closed, then closes the objects and reports STOPPED.
// statusHandle may be null in tests (ReportStatus is then a test seam).
void RunService(SERVICE_STATUS_HANDLE statusHandle);
void SetModuleInstance(HINSTANCE instance);
// The status as last reported (for tests and the control handler).
SERVICE_STATUS CurrentStatus();
// Resets the process-wide status to its initial values: own process, STOPPED, STOP accepted.
void InitStatus();
// The hidden window (null when none exists).
HWND MonitorWindow();
// Real implementations behind the seams.
void ArmIntervalTimer();
void StopIntervalTimer();
void ArmRetryTimer();
void StopRetryTimer();
// Whether the service control manager reported WTS_SESSION_LOCK for the session of the pending lock
// (NoteLockedSession) with no unlock, logon or logoff of it since.
BOOL SessionLockReported();
void ResetAlertEvent();
WaitResult WaitAlertServiceEvent();
// The alert event's security: SYSTEM and Administrators only; with owned, Administrators as owner.
bool CreateAlertEventSecurity(SECURITY_ATTRIBUTES* sa, bool owned = true);  // free sa->lpSecurityDescriptor with LocalFree
// The stop request (set by the control handler), null outside a run.
HANDLE StopRequestEvent();

// ---- command line and service control manager (scm.cpp) ----
enum class Command { RunService, Install, Uninstall, Start, Stop };
// The whole narrow command line, compared without regard to ASCII case.
Command ParseCommandLine(const char* commandLine);
// Runs one command; returns the process exit code (0 success, else a Win32 error code).
int RunCommand(Command command);
// WinMain's body.
int SentryMain(HINSTANCE instance, const char* commandLine);

// ---- helpers (text.cpp) ----
// The service links no C++ runtime support beyond the basics (no exceptions, no standard containers):
// statically linked, that support imports functions that Windows XP lacks.
//
// Narrow GBK text (code page 936) for the trace helpers; cut when longer than the buffer.
class Gbk {
  public:
    explicit Gbk(const wchar_t* text);
    const char* c_str() const { return text_; }

  private:
    char text_[520];
};
// Formats into a fixed buffer of 256 characters, always terminated and cut when it does not fit, and
// writes it to the event log.
void Log(const wchar_t* format, ...);
// Compares two narrow strings whole, ASCII letters without regard to case.
bool EqualsAsciiNoCase(const char* a, const char* b);

}  // namespace sentry
