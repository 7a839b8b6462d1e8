#include "fixture.h"

#include <stdlib.h>

namespace host {

Watchdog::Watchdog(DWORD ms, const char* what) : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    std::string text = what;
    HANDLE done = done_;
    driver_ = new Driver([done, ms, text](Driver& d) {
        if (WaitForSingleObject(done, ms) != WAIT_OBJECT_0) d.Fail(text);
    });
}

Watchdog::~Watchdog() {
    Done();
    delete driver_;
    CloseHandle(done_);
}

void Watchdog::Done() { SetEvent(done_); }

std::vector<COLORREF> CaptureControl(HWND dlg, int id, int* width, int* height) {
    std::vector<COLORREF> out;
    HWND c = GetDlgItem(dlg, id);
    RECT r = {};
    GetClientRect(c, &r);
    POINT origin = {0, 0};
    ClientToScreen(c, &origin);
    int w = r.right, h = r.bottom;
    *width = w;
    *height = h;
    if (w <= 0 || h <= 0) return out;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const DWORD* px = static_cast<const DWORD*>(bits);
    for (int i = 0; i < w * h; ++i) {
        DWORD v = px[i];
        out.push_back(RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF));
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return out;
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
    return abs(GetRValue(a) - GetRValue(b)) <= tolerance && abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

}  // namespace host
