// Warden.exe, the control panel: started from the Start menu, by the Run value with "regrun", and
// again by itself after a change of device mode or to run elevated.
#include <windows.h>

#include "wardenmain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) { return warden::WardenMain(commandLine); }
