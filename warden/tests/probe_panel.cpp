// Another process's view of the running control panel, found the way the updater finds it (title
// and the property of value 1). Arguments run in order:
//   state            prints "found 0|1"; when found also "window <handle>", "pid <id>", "visible 0|1",
//                    "menu 0|1" (the panel's popup menu is up) and, where its menu can be read from
//                    here, one "item <id> <checked> <grayed>" line per entry
//   command:<id>     posts WM_COMMAND <id>
//   tray:<message>   posts the tray callback (WM_USER + 1) with that mouse message in lParam
//   newversion       posts the updater's new-version message (WM_USER + 100)
// Exit code: 0, 1 when no panel runs, 2 when a post failed, 3 for an argument it does not know.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "runningpanel.h"

namespace {

const UINT kTrayCallback = WM_USER + 1;
const UINT kNewVersion = WM_USER + 100;
#ifndef MN_GETHMENU
#define MN_GETHMENU 0x01E1
#endif

struct MenuSearch {
    DWORD pid;
    HWND found;
};
BOOL CALLBACK VisitMenu(HWND w, LPARAM p) {
    MenuSearch* s = reinterpret_cast<MenuSearch*>(p);
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid || wcscmp(cls, L"#32768") != 0 || !IsWindowVisible(w)) return TRUE;
    s->found = w;
    return FALSE;
}

void PrintMenu(HWND menuWindow) {
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    const int count = menu ? GetMenuItemCount(menu) : -1;
    if (count < 0) {
        printf("items unreadable\n");
        return;
    }
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info) || (info.fType & MFT_SEPARATOR)) continue;
        printf("item %u %d %d\n", info.wID, (info.fState & MFS_CHECKED) ? 1 : 0, (info.fState & MFS_GRAYED) ? 1 : 0);
    }
}

void PrintState(HWND panel) {
    printf("found %d\n", panel ? 1 : 0);
    if (!panel) return;
    DWORD pid = 0;
    GetWindowThreadProcessId(panel, &pid);
    printf("window %llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(panel)));
    printf("pid %lu\n", pid);
    printf("visible %d\n", IsWindowVisible(panel) ? 1 : 0);
    MenuSearch search = {pid, nullptr};
    EnumWindows(VisitMenu, reinterpret_cast<LPARAM>(&search));
    printf("menu %d\n", search.found ? 1 : 0);
    if (search.found) PrintMenu(search.found);
}

// The number after the prefix, or false when the argument is not that prefix and a number.
bool Number(const wchar_t* argument, const wchar_t* prefix, unsigned long* out) {
    const size_t n = wcslen(prefix);
    if (wcsncmp(argument, prefix, n) != 0 || !argument[n]) return false;
    wchar_t* end = nullptr;
    *out = wcstoul(argument + n, &end, 0);
    return end && *end == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HWND panel = FindRunningPanel();
    int code = panel ? 0 : 1;
    for (int i = 1; i < argc; ++i) {
        unsigned long value = 0;
        BOOL posted = TRUE;
        if (wcscmp(argv[i], L"state") == 0) {
            PrintState(panel);
            continue;
        }
        if (Number(argv[i], L"command:", &value))
            posted = panel && PostMessageW(panel, WM_COMMAND, static_cast<WPARAM>(value), 0);
        else if (Number(argv[i], L"tray:", &value))
            posted = panel && PostMessageW(panel, kTrayCallback, 8888, static_cast<LPARAM>(value));
        else if (wcscmp(argv[i], L"newversion") == 0)
            posted = panel && PostMessageW(panel, kNewVersion, 0, 0);
        else {
            fprintf(stderr, "unknown argument %ls\n", argv[i]);
            return 3;
        }
        if (!posted) {
            printf("not posted: %ls\n", argv[i]);
            if (code == 0) code = 2;
        }
    }
    fflush(stdout);
    return code;
}
