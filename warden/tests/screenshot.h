// A window read back from the screen (the Xvfb framebuffer: a child's WM_PAINT-only drawing shows
// nowhere else), and kept as a picture beside the tests (bin/screenshots/warden/, kept by CI).
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "testsupport.h"
#include "uikit.h"

// The window as it stands on the screen (the Xvfb framebuffer), 32 bits a pixel, top row first.
struct Shot {
    int w = 0, h = 0;
    std::vector<DWORD> px;
    COLORREF At(int x, int y) const {
        DWORD v = px[static_cast<size_t>(y) * w + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
};

inline Shot Capture(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    Shot s;
    s.w = r.right - r.left;
    s.h = r.bottom - r.top;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = s.w;
    bi.bmiHeader.biHeight = -s.h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, s.w, s.h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    s.px.assign(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + static_cast<size_t>(s.w) * s.h);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return s;
}

inline ts::Capture AsCapture(const Shot& s) {
    ts::Capture c;
    c.width = s.w;
    c.height = s.h;
    c.pixels.assign(s.px.begin(), s.px.end());
    return c;
}

// The window as the user sees it, after a complete paint (ts::ScreenshotOf); empty when it never settles.
inline Shot Screenshot(HWND window) {
    const ts::Capture c = ts::ScreenshotOf(window);
    Shot s;
    s.w = c.width;
    s.h = c.height;
    s.px.assign(c.pixels.begin(), c.pixels.end());
    return s;
}

// Text or marks in r of the shot (window coordinates): pixels that stand out from r's ground.
inline int Ink(const Shot& s, const RECT& r) { return ts::InkPixels(AsCapture(s), r); }

// Kept for people to look at, with the control panel's other pictures (bin/screenshots/warden/).
// Written as 24-bit colour: GDI leaves the fourth byte of a 32-bit pixel at 0 where it drew text, and
// a viewer that takes that byte for alpha shows every line of text as blank.
inline void Save(const Shot& s, const wchar_t* name) {
    if (!ts::KeepScreenshot(AsCapture(s), L"warden", name)) ADD_FAILURE() << "screenshot not saved: " << ts::Narrow(name);
}
