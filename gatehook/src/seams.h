// Gatehook's seam table: platform calls and periods that tests must replace. Wine's LockWorkStation
// is a stub, and nobody can wait 2,000,000 ms for the interval lock. Real by default; only unit tests
// and the test build (through its export GatehookTestSeams) change entries.
#pragma once

#include <windows.h>

#include "corelib.h"

namespace gatehook {

struct Seams {
    BOOL(WINAPI* LockWorkStation)();
    void(WINAPI* Pause)(DWORD ms);  // the pause that lets the user read the shut-down notice
    UINT keyWatchPeriodMs;          // 2000
    UINT intervalPeriodMs;          // 2,000,000
    // Corelib's GetUserInfo. Wine does not enforce registry DACLs, so a read that fails can only be
    // played through here.
    BOOL(WINAPI* ReadUserRecord)(uinfo* record);
    // Corelib's LogEvent with one ready text; Wine's event log keeps nothing.
    void(WINAPI* Log)(const wchar_t* text);
    // Corelib's VerifyUserInfo. A read that fails once with the key still in cannot be played from outside.
    BOOL(CORELIB_CALL* VerifyUserInfo)(const uinfo* record);
    // Starts the key watch's thread; a thread that ends before it is ready can only be played through here.
    HANDLE(WINAPI* CreateThread)(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                 LPVOID parameter, DWORD flags, LPDWORD id);
};
extern Seams g_seams;

}  // namespace gatehook

typedef gatehook::Seams*(WINAPI* PFN_GatehookTestSeams)(void);
