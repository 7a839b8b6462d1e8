// The control panel's main window as both the panel and the updater find it: a top-level window
// titled "Tolven电脑锁2012" that carries the window property of the same name with the value 1.
// The title alone is not enough: an Explorer window of a folder so named has it too.
#pragma once

#include <windows.h>

#include <wchar.h>

#define TOLVEN_PANEL_TITLE L"Tolven电脑锁2012"

namespace runningpanel_detail {
struct Search {
    HWND found;
};

inline BOOL CALLBACK Visit(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    if (GetPropW(window, TOLVEN_PANEL_TITLE) != reinterpret_cast<HANDLE>(1)) return TRUE;
    wchar_t title[64] = {};
    // Another process's window: GetWindowTextW reads the stored title and never waits on that process.
    int n = GetWindowTextW(window, title, 64);
    if (n <= 0 || wcscmp(title, TOLVEN_PANEL_TITLE) != 0) return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace runningpanel_detail

// The running control panel's window, or NULL when none runs.
inline HWND FindRunningPanel() {
    runningpanel_detail::Search search = {nullptr};
    EnumWindows(runningpanel_detail::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}
