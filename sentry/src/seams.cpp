// The built-in platform table: Corelib for settings, key and lock record; the run-time for the rest.
#include "sentrycore.h"

namespace sentry {

namespace {
// Wrappers rather than imported addresses: an import's address is only known at load time, and the
// table must be constant-initialised so that a test build's own static initialiser may change it.
DWORD RealGetSwitch(const wchar_t* name) { return GetMonitorKeyStyle(name); }
BOOL RealReadUserRecord(uinfo* record) { return GetUserInfo(record); }
BOOL RealKeyPresent(const uinfo* record) { return VerifyUserInfo(record); }
DWORD RealWriteLockRecord(const void* data, DWORD size) { return WriteToSharedMemory(data, size); }
DWORD RealCreateLockMapping() { return CreateSharedMemory(); }
BOOL RealRegisterDeviceNotices(HWND window) { return RegisterDeviceNotification_GUID(window); }
void RealLog(const wchar_t* text) { LogEvent(L"%ls", text); }
BOOL WINAPI RealReportStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    return ::SetServiceStatus(handle, status);
}

constexpr Seams kBuiltIn = {
    kIntervalPeriodMs,   RealGetSwitch,         RealReadUserRecord,        RealKeyPresent,
    RealWriteLockRecord, RealCreateLockMapping, RealRegisterDeviceNotices, ResetAlertEvent,
    PorterService,       ArmIntervalTimer,      StopIntervalTimer,         WaitAlertServiceEvent,
    RealLog,             RealReportStatus,          kPorterWaitMs,             kStopWaitMs,
    kRetryPeriodMs,      ArmRetryTimer,             StopRetryTimer,            SessionLockReported,
};
}  // namespace

Seams DefaultSeams() { return kBuiltIn; }

Seams g_seams = kBuiltIn;

}  // namespace sentry
