// One tray icon in a fresh process: its record size and what it found of the hook library.
#include <stdio.h>

#include "trayicon.h"

int wmain() {
    warden::CTrayIcon icon(nullptr, nullptr);
    printf("size=%lu hook=%d enable=%d disable=%d\n", static_cast<unsigned long>(icon.Record().cbSize),
           icon.HookLibrary() != nullptr, icon.EnableHookProc() != nullptr, icon.DisableHookProc() != nullptr);
    return 0;
}
