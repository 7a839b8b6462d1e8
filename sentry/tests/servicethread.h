// The service's run-time on a thread of the test program: ending the thread, and the removal notice
// Windows sends to its window.
#pragma once

#include <windows.h>

#include <dbt.h>

#include "sentrycore.h"

// Ends the service thread a test left running, with a stop through the control handler as the
// service control manager would send it, and gives its handle back.
inline void EndServiceThread(HANDLE* thread) {
    if (!*thread) return;
    if (WaitForSingleObject(*thread, 0) == WAIT_TIMEOUT) {
        sentry::ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
        WaitForSingleObject(*thread, 10000);
    }
    CloseHandle(*thread);
    *thread = nullptr;
}

// Sends a device-interface removal notice; true when the window answered within timeoutMs (false: it
// is waiting).
inline bool SendRemoval(HWND window, DWORD timeoutMs) {
    DEV_BROADCAST_DEVICEINTERFACE_W dbi = {};
    dbi.dbcc_size = sizeof(dbi);
    dbi.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&dbi),
                               SMTO_NORMAL, timeoutMs, &result) != 0;
}
