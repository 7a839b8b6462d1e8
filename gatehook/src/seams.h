// Gatehook's seam table: platform calls and periods that tests must replace. Wine's LockWorkStation
// is a stub, and nobody can wait 2,000,000 ms for the interval lock. Real by default; only unit tests
// and the test build (through its export GatehookTestSeams) change entries.
#pragma once

#include <windows.h>

namespace gatehook {

struct Seams {
    BOOL(WINAPI* LockWorkStation)();
    void(WINAPI* Pause)(DWORD ms);  // the pause that lets the user read the shut-down notice
    UINT keyWatchPeriodMs;          // 2000
    UINT intervalPeriodMs;          // 2,000,000
};
extern Seams g_seams;

}  // namespace gatehook

typedef gatehook::Seams*(WINAPI* PFN_GatehookTestSeams)(void);
