// Test build of Sentry: a service that takes a stop request but never gets to report STOPPED (its
// service thread stays in that report), and a command line that waits 1 s instead of 10 s for a
// stop, so that a service outliving the bound is seen without waiting the real one.
#include "sentrycore.h"

namespace {

BOOL(WINAPI* g_realReport)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS) = nullptr;

BOOL WINAPI ReportButNeverStop(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    if (status && status->dwCurrentState == SERVICE_STOPPED) Sleep(INFINITE);
    return g_realReport(handle, status);
}

struct StopHangs {
    StopHangs() {
        g_realReport = sentry::g_seams.ReportStatus;
        sentry::g_seams.ReportStatus = ReportButNeverStop;
        sentry::g_seams.stopWaitMs = 1000;
    }
} g_stopHangs;

}  // namespace
