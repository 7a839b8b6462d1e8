// The control panel's platform table: the calls that Wine lacks or that a test must never make for
// real go through it. Real by default; a test build or a unit test swaps entries.
#pragma once
#include <windows.h>
#include <shellapi.h>

namespace warden {

struct Seams {
    BOOL(WINAPI* shellNotifyIcon)(DWORD message, PNOTIFYICONDATAW data);
    HANDLE(WINAPI* openEventLog)(LPCWSTR server, LPCWSTR source);
    BOOL(WINAPI* readEventLog)(HANDLE log, DWORD flags, DWORD offset, LPVOID buffer, DWORD bytes, DWORD* read,
                               DWORD* needed);
    BOOL(WINAPI* closeEventLog)(HANDLE log);
};

extern Seams g_seams;
Seams DefaultSeams();

}  // namespace warden
