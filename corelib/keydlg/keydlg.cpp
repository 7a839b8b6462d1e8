#include "keydlg.h"

#include <dbt.h>
#include <wchar.h>

// GDI+ needs the COM and property types that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <propidl.h>
#include <gdiplus.h>

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

bool IsLocalFixedPath(const wchar_t* path) {
    if (!path) return false;
    wchar_t letter = path[0];
    bool isLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    if (!isLetter || path[1] != L':' || path[2] != L'\\') return false;
    // No forward slash anywhere: the path is taken only in the one spelling checked here.
    if (wcschr(path, L'/')) return false;
    const wchar_t root[] = {letter, L':', L'\\', 0};
    return GetDriveTypeW(root) == DRIVE_FIXED;
}

HBITMAP LoadUserPicture(const wchar_t* path, HINSTANCE module, int fallbackBitmapId) {
    HBITMAP bitmap = nullptr;
    bool allowed = IsLocalFixedPath(path);
    if (path && *path && !allowed) DEBUG_MSG("user picture not on a local fixed drive: not opened");
    if (allowed) {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
            // The flat calls, not Bitmap::FromFile: the wrapper's operator new takes GDI+'s allocator,
            // which returns NULL when memory runs out, and the constructor then runs on NULL inside
            // Winlogon. Here every failure only means the fallback picture.
            Gdiplus::GpBitmap* image = nullptr;
            if (Gdiplus::DllExports::GdipCreateBitmapFromFile(path, &image) == Gdiplus::Ok && image) {
                if (Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(image, &bitmap, 0xFFFFFFFF) != Gdiplus::Ok)
                    bitmap = nullptr;
                Gdiplus::DllExports::GdipDisposeImage(image);
            }
            Gdiplus::GdiplusShutdown(token);
        }
    }
    if (!bitmap) {
        bitmap = static_cast<HBITMAP>(
            LoadImageW(module, MAKEINTRESOURCEW(fallbackBitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    }
    return bitmap;
}

void PaintPicture(HWND frame, HBITMAP picture) {
    BITMAP bm = {};
    if (!frame || !picture || !GetObjectW(picture, sizeof(bm), &bm)) return;
    RECT rc;
    GetClientRect(frame, &rc);
    HDC dc = GetDC(frame);
    if (!dc) return;
    HDC mem = CreateCompatibleDC(dc);
    if (mem) {
        HGDIOBJ old = SelectObject(mem, picture);
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
        SelectObject(mem, old);
        DeleteDC(mem);
    }
    ReleaseDC(frame, dc);
}

}  // namespace keydlg
