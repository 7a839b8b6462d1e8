/* The static C++ runtime (winpthreads) calls GetTickCount64, which Windows XP lacks: a module
 * that imported it would not load in Winlogon on XP. This object supplies the import slot itself,
 * so the linker never asks kernel32 for it: the real function where the system has it, otherwise
 * GetTickCount extended past its 49.7-day wrap. */
#include <windows.h>

typedef ULONGLONG(WINAPI* TickCount64Fn)(void);

static volatile LONG g_lock;
static DWORD g_lastLow;
static DWORD g_high;

static ULONGLONG ExtendedTickCount(void) {
    while (InterlockedExchange(&g_lock, 1) != 0) Sleep(0);
    DWORD now = GetTickCount();
    if (now < g_lastLow) ++g_high;
    g_lastLow = now;
    ULONGLONG result = ((ULONGLONG)g_high << 32) | now;
    InterlockedExchange(&g_lock, 0);
    return result;
}

static ULONGLONG WINAPI XpGetTickCount64(void) {
    static TickCount64Fn real;
    static volatile LONG looked;
    if (!looked) {
        HMODULE k = GetModuleHandleW(L"kernel32.dll");
        real = k ? (TickCount64Fn)(void*)GetProcAddress(k, "GetTickCount64") : NULL;
        InterlockedExchange(&looked, 1);
    }
    return real ? real() : ExtendedTickCount();
}

/* The import slot the compiler's code calls through. */
TickCount64Fn xp_imp_GetTickCount64 __asm__("__imp__GetTickCount64@0") = XpGetTickCount64;
