// Cursorgate.dll stand-in: the two hook switches the control panel looks up. Neither does anything.
#include <windows.h>

extern "C" BOOL WINAPI EnableHook() { return TRUE; }
extern "C" BOOL WINAPI DisableHook() { return TRUE; }
