#include "history.h"

#include <vector>

#include "bkstyle.h"
#include "powerlog.h"

namespace warden {

namespace {

bool InsertColumn(HWND list, int index, UINT titleId, int width) {
    // The table is loaded at start-up; a title it lacks shows empty rather than stopping the page.
    LPCWSTR title = BkString::Get(titleId);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_CENTER;
    column.cx = width;
    column.pszText = const_cast<LPWSTR>(title ? title : L"");
    return ::SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)) == index;
}

}  // namespace

int LoadPowerLog(CListViewCtrlEx& list, HWND parent) {
    if (!list.Create(parent, nullptr, kPowerListId)) return 0;
    InsertColumn(list.hwnd(), 0, kStrPowerTime, 156);
    InsertColumn(list.hwnd(), 1, kStrPowerComputer, 165);
    InsertColumn(list.hwnd(), 2, kStrPowerEvent, 300);

    std::vector<PowerRow> rows;
    if (ReadPowerRows(&rows) < 0) return -1;
    for (const PowerRow& row : rows) {
        const int item = list.AppendRow(row.time.c_str());
        list.SetCell(item, row.computer.c_str());
        list.SetCell(item, row.text.c_str());
    }
    return 1;
}

}  // namespace warden
