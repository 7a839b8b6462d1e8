// GDI handle wrappers and the double-buffered paint mix-in.
#pragma once

#include <windows.h>

#include "window.h"

// A bitmap handle; with t_bManaged the wrapper deletes the bitmap it holds, without it the handle
// belongs to someone else (a pool) and the wrapper only looks at it.
template <bool t_bManaged>
class CBitmapT {
public:
    HBITMAP m_hBitmap;

    CBitmapT(HBITMAP bitmap = nullptr) : m_hBitmap(bitmap) {}
    ~CBitmapT() {
        if (t_bManaged && m_hBitmap) ::DeleteObject(m_hBitmap);
    }
    CBitmapT(const CBitmapT&) = delete;
    CBitmapT& operator=(const CBitmapT&) = delete;

    CBitmapT& operator=(HBITMAP bitmap) { Attach(bitmap); return *this; }
    operator HBITMAP() const { return m_hBitmap; }
    BOOL IsNull() const { return m_hBitmap == nullptr; }

    void Attach(HBITMAP bitmap) {
        if (t_bManaged && m_hBitmap && m_hBitmap != bitmap) ::DeleteObject(m_hBitmap);
        m_hBitmap = bitmap;
    }
    HBITMAP Detach() { HBITMAP h = m_hBitmap; m_hBitmap = nullptr; return h; }
    BOOL DeleteObject() {
        if (!m_hBitmap) return FALSE;
        BOOL ok = ::DeleteObject(m_hBitmap);
        if (ok) m_hBitmap = nullptr;
        return ok;
    }

    int GetBitmap(BITMAP* info) const { return ::GetObjectW(m_hBitmap, sizeof(BITMAP), info); }
    // The bitmap's size; FALSE (and 0 x 0) without a bitmap.
    BOOL GetSize(SIZE& size) const {
        BITMAP bm = {};
        size.cx = size.cy = 0;
        if (!m_hBitmap || !GetBitmap(&bm)) return FALSE;
        size.cx = bm.bmWidth;
        size.cy = bm.bmHeight;
        return TRUE;
    }
};
typedef CBitmapT<false> CBitmapHandle;
typedef CBitmapT<true> CBitmap;

// Paints T through an off-screen bitmap of the client area, so that the window gets one copy per
// paint and never flickers. T provides void DoPaint(HDC dc) drawing the whole client area.
// WM_PRINTCLIENT paints into the given DC the same way.
template <class T>
class CDoubleBufferImpl {
public:
    BEGIN_MSG_MAP(CDoubleBufferImpl)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
        MESSAGE_HANDLER(WM_PAINT, OnPaint)
        MESSAGE_HANDLER(WM_PRINTCLIENT, OnPaint)
    END_MSG_MAP()

    LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&) { return 1; }

    LRESULT OnPaint(UINT, WPARAM wParam, LPARAM, BOOL&) {
        T* self = static_cast<T*>(this);
        RECT rc = {};
        ::GetClientRect(self->m_hWnd, &rc);
        if (wParam) {  // WM_PRINTCLIENT, or WM_PAINT with a DC given
            PaintBuffered(self, (HDC)wParam, rc);
            return 0;
        }
        PAINTSTRUCT ps = {};
        HDC target = ::BeginPaint(self->m_hWnd, &ps);
        if (target) PaintBuffered(self, target, rc);
        ::EndPaint(self->m_hWnd, &ps);
        return 0;
    }

private:
    static void PaintBuffered(T* self, HDC target, const RECT& rc) {
        const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
        HDC mem = cx > 0 && cy > 0 ? ::CreateCompatibleDC(target) : nullptr;
        HBITMAP bmp = mem ? ::CreateCompatibleBitmap(target, cx, cy) : nullptr;
        if (!bmp) {
            // No memory for the buffer: paint straight into the target rather than not at all.
            if (mem) ::DeleteDC(mem);
            self->DoPaint(target);
            return;
        }
        HGDIOBJ old = ::SelectObject(mem, bmp);
        self->DoPaint(mem);
        ::BitBlt(target, rc.left, rc.top, cx, cy, mem, rc.left, rc.top, SRCCOPY);
        ::SelectObject(mem, old);
        ::DeleteObject(bmp);
        ::DeleteDC(mem);
    }
};
