// The power-on and power-off history page: its list of the System log's boot and shutdown records.
#pragma once
#include <windows.h>

#include "listctrl.h"

namespace warden {

constexpr UINT kPowerListId = 2010;

// String table ids of the three column titles.
enum : UINT { kStrPowerTime = 4, kStrPowerComputer = 5, kStrPowerEvent = 6 };

// Creates list (id 2010, no rectangle: the page's layout places it) under parent with its three centred
// columns, then fills it from the System log, newest record first. Returns 1; -1 when the log cannot be
// opened (the list keeps its columns and has no rows); 0 when the list cannot be created.
int LoadPowerLog(CListViewCtrlEx& list, HWND parent);

}  // namespace warden
