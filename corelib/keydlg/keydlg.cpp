#include "keydlg.h"

#include <dbt.h>

#include "corelib.h"

namespace keydlg {

namespace {
// Classes whose arrivals can bring the key: tokens are HID devices, flash disks are disks.
const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID kDiskClass = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
}  // namespace

POINT CenteredOrigin(int w, int h, int refW, int refH) {
    POINT p = {(refW - w) / 2, (refH - h) / 3};
    if (p.x < 0) p.x = 0;
    if (p.y < 0) p.y = 0;
    return p;
}

void CenterWindowTopmost(HWND window) {
    RECT r;
    if (!window || !GetWindowRect(window, &r)) return;
    int refW, refH;
    if (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) {
        HWND parent = GetParent(window);
        if (!parent) parent = GetDesktopWindow();
        RECT pr = {};
        GetWindowRect(parent, &pr);
        refW = pr.right - pr.left;
        refH = pr.bottom - pr.top;
    } else {
        refW = GetSystemMetrics(SM_CXSCREEN);
        refH = GetSystemMetrics(SM_CYSCREEN);
    }
    POINT o = CenteredOrigin(r.right - r.left, r.bottom - r.top, refW, refH);
    SetWindowPos(window, HWND_TOPMOST, o.x, o.y, 0, 0, SWP_NOSIZE);
    SetForegroundWindow(window);
}

void RegisterKeyNotices(HWND window, HDEVNOTIFY out[2], RegisterNoticeFn reg) {
    const GUID* classes[2] = {&kHidClass, &kDiskClass};
    for (int i = 0; i < 2; ++i) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = *classes[i];
        out[i] = reg(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        DEBUG_MSG("RegisterDeviceNotification=%d", static_cast<int>(GetLastError()));
    }
}

void UnregisterKeyNotices(HDEVNOTIFY notices[2]) {
    for (int i = 0; i < 2; ++i) {
        if (notices[i]) UnregisterDeviceNotification(notices[i]);
        notices[i] = nullptr;
    }
}

bool IsKeyArrival(WPARAM wp, LPARAM lp) {
    if (wp != DBT_DEVICEARRIVAL || !lp) return false;
    DWORD type = reinterpret_cast<const DEV_BROADCAST_HDR*>(lp)->dbch_devicetype;
    DEBUG_MSG("%d", static_cast<int>(type));
    return type == DBT_DEVTYP_VOLUME || type == DBT_DEVTYP_DEVICEINTERFACE;
}

}  // namespace keydlg
