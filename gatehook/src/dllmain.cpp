#include "internal.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gatehook::SetInstance(instance);
    return TRUE;
}
