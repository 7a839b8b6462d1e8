// Rounded corners for the frameless skinned windows: on every size change the window's region
// becomes its client area with each corner cut by a two-pixel step.
#pragma once

#include <windows.h>

#include "winlayer/window.h"

// Mixed into a window class T (a CWindowImpl with m_hWnd). T chains this map before its own
// WM_SIZE handling, or calls OnSize itself; the message is never marked handled here.
template <class T>
class CWHRoundRectFrameHelper {
public:
    BEGIN_MSG_MAP(CWHRoundRectFrameHelper)
        MESSAGE_HANDLER(WM_SIZE, OnSizeMessage)
    END_MSG_MAP()

    LRESULT OnSizeMessage(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
        OnSize((UINT)wParam, (short)LOWORD(lParam), (short)HIWORD(lParam));
        handled = FALSE;
        return 0;
    }

    void OnSize(UINT sizeType, int cx, int cy) {
        if (sizeType == SIZE_MINIMIZED) return;
        if (cx == m_sizeLastCx && cy == m_sizeLastCy) return;
        HWND hWnd = static_cast<T*>(this)->m_hWnd;
        if (!hWnd) return;

        // The client rectangle in window coordinates: a frameless window's is the whole window, a
        // framed one's sits inside its borders.
        RECT client = {}, window = {};
        ::GetClientRect(hWnd, &client);
        ::GetWindowRect(hWnd, &window);
        POINT tl = {client.left, client.top}, br = {client.right, client.bottom};
        ::ClientToScreen(hWnd, &tl);
        ::ClientToScreen(hWnd, &br);
        const int L = tl.x - window.left, T0 = tl.y - window.top;
        const int R = br.x - window.left, B = br.y - window.top;

        HRGN region = ::CreateRectRgn(L, T0 + 2, R, B - 2);
        if (!region) return;
        const RECT parts[4] = {
            {L + 2, T0, R - 2, T0 + 1},
            {L + 2, B - 1, R - 2, B},
            {L + 1, T0 + 1, R - 1, T0 + 2},
            {L + 1, B - 2, R - 1, B - 1},
        };
        for (const RECT& r : parts) {
            HRGN part = ::CreateRectRgn(r.left, r.top, r.right, r.bottom);
            if (!part) continue;
            ::CombineRgn(region, region, part, RGN_OR);
            ::DeleteObject(part);
        }
        // The system owns the region from here on; on failure it is still ours to free.
        if (!::SetWindowRgn(hWnd, region, FALSE)) {
            ::DeleteObject(region);
            return;
        }
        m_sizeLastCx = cx;
        m_sizeLastCy = cy;
    }

    int m_sizeLastCx = 0;
    int m_sizeLastCy = 0;
};
