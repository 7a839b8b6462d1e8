// Refresher.exe: started by the control panel with "auto" at each of its starts and with "manual"
// from its About page.
#include <windows.h>

#include "startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    return refresher::UpdaterMain(commandLine);
}
