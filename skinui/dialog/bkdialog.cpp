#include "bkdialog.h"

UINT BkDialogClassStyle(DWORD version) {
    const DWORD major = LOBYTE(LOWORD(version)), minor = HIBYTE(LOWORD(version));
    UINT style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    if (major > 5 || (major == 5 && minor > 0)) style |= CS_DROPSHADOW;
    return style;
}

void BkRunModalLoop(HWND const& hWnd, BOOL const& endFlag) {
    for (;;) {
        MSG msg;
        // A quit request ends this loop and stays queued for the loops around it.
        if (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) return;
        if (endFlag || !hWnd || !::IsWindow(hWnd)) return;
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) continue;
        if (got == 0) {
            // GetMessageW took the quit request off the queue: put it back for the outer loops.
            ::PostQuitMessage((int)msg.wParam);
            return;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

void BkCentreWindow(HWND hWnd) {
    RECT work = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT area = work;
    const LONG_PTR style = ::GetWindowLongPtrW(hWnd, GWL_STYLE);
    HWND owner = (style & WS_CHILD) ? ::GetParent(hWnd) : ::GetWindow(hWnd, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &area);

    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    int x = (area.left + area.right) / 2 - cx / 2;
    int y = (area.top + area.bottom) / 2 - cy / 2;
    if (x + cx > work.right) x = work.right - cx;
    if (x < work.left) x = work.left;
    if (y + cy > work.bottom) y = work.bottom - cy;
    if (y < work.top) y = work.top;
    if (style & WS_CHILD) {
        POINT p = {x, y};
        ::ScreenToClient(::GetParent(hWnd), &p);
        x = p.x;
        y = p.y;
    }
    ::SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT BkFramelessNcCalcSize(HWND hWnd, WPARAM wParam, LPARAM lParam) {
    if (!wParam || !lParam) return 0;  // the rectangle stays the window rectangle
    NCCALCSIZE_PARAMS* p = (NCCALCSIZE_PARAMS*)lParam;
    const WINDOWPOS* wp = p->lppos;
    if (!wp || (wp->flags & SWP_NOSIZE)) return 0;
    RECT rc;
    if (wp->flags & SWP_NOMOVE) {
        RECT win;
        ::GetWindowRect(hWnd, &win);
        HWND parent = ::GetParent(hWnd);
        if (parent && (::GetWindowLongPtrW(hWnd, GWL_STYLE) & WS_CHILD))
            ::MapWindowPoints(nullptr, parent, (POINT*)&win, 2);
        rc.left = win.left;
        rc.top = win.top;
    } else {
        rc.left = wp->x;
        rc.top = wp->y;
    }
    rc.right = rc.left + wp->cx;
    rc.bottom = rc.top + wp->cy;
    p->rgrc[0] = rc;
    p->rgrc[1] = rc;
    return 0;
}

void BkMaximisedMinMaxInfo(HWND hWnd, MINMAXINFO* info) {
    if (!info) return;
    HMONITOR monitor = ::MonitorFromWindow(hWnd, MONITOR_DEFAULTTONULL);
    if (!monitor) return;
    MONITORINFO mi = {sizeof(mi)};
    if (!::GetMonitorInfoW(monitor, &mi)) return;
    const RECT& w = mi.rcWork;
    const RECT& m = mi.rcMonitor;
    info->ptMaxPosition.x = labs(w.left - m.left) - 1;
    info->ptMaxPosition.y = labs(w.top - m.top) - 1;
    info->ptMaxSize.x = labs(w.right - w.left) + 2;
    info->ptMaxSize.y = labs(w.bottom - w.top) + 2;
    info->ptMaxTrackSize = info->ptMaxSize;
}

LRESULT BkSendDialogCommand(HWND dialog, UINT itemId) {
    BkCommandNotify nms = {};
    nms.hdr.hwndFrom = dialog;
    nms.hdr.idFrom = kBkViewCtrlId;
    nms.hdr.code = kBkNotifyCommand;
    nms.uItemID = itemId;
    nms.szItemClass = "";
    return ::SendMessageW(dialog, WM_NOTIFY, kBkViewCtrlId, (LPARAM)&nms);
}
