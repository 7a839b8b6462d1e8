// The simple leaf elements: memimage, img, imgbtn, realwnd, hr ("text", "link" and "button" need
// nothing beyond the header).
#include "bkleaf.h"

#include <shlwapi.h>
#include <stdlib.h>

#include <algorithm>

#include <objidl.h>
#include <propidl.h>
// GDI+'s headers want min and max as functions of their own.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

// ---- memimage ----------------------------------------------------------------------------------

HRESULT CBkMemoryImage::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    if (name == "mempointer") {
        // The whole pointer width: atoi stops at 0x7FFFFFFF and unsigned long is 32 bits on x64.
        m_pImage = reinterpret_cast<Gdiplus::Image*>((UINT_PTR)_strtoui64(value.c_str(), nullptr, 10));
        return S_FALSE;
    }
    return E_FAIL;
}

BOOL CBkMemoryImage::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg != WM_PAINT) return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    if (m_pImage) {
        Gdiplus::Graphics graphics((HDC)wParam);
        // A failing call leaves its status in the image object and a size of 0: nothing is drawn.
        const INT h = (INT)m_pImage->GetHeight();
        const INT w = (INT)m_pImage->GetWidth();
        const Gdiplus::Rect dest(m_rcWindow.left, m_rcWindow.top, m_rcWindow.right - m_rcWindow.left,
                                 m_rcWindow.bottom - m_rcWindow.top);
        graphics.DrawImage(m_pImage, dest, 0, 0, w, h, Gdiplus::UnitPixel);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}

// ---- img ---------------------------------------------------------------------------------------

HRESULT CBkImageWnd::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    if (name == "skin") {
        m_pSkin = BkSkinPool::GetSkin(value);
        return S_OK;
    }
    if (name == "sub") {
        m_nSubImageID = StrToIntA(value.c_str());
        return S_FALSE;
    }
    return E_FAIL;
}

void CBkImageWnd::Measure(BOOL constrained, SIZE* size) {
    if (!size) return;
    OnMeasure(constrained, size);
    if (!m_pSkin) return;
    SIZE skin = {0, 0};
    m_pSkin->GetSkinSize(skin);
    if (skin.cx) size->cx = skin.cx;
    if (skin.cy) size->cy = skin.cy;
}

BOOL CBkImageWnd::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_PAINT:
        if (m_pSkin) m_pSkin->Draw((HDC)wParam, m_rcWindow, (DWORD)m_nSubImageID);
        break;
    case WM_NCCALCSIZE:
        Measure((BOOL)wParam, (SIZE*)lParam);
        break;
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}

// ---- imgbtn ------------------------------------------------------------------------------------

int CBkImageBtnWnd::StateSubImage() const {
    // A button inside a disabled panel looks disabled too, as its text would.
    if ((m_dwState & kBkStateDisabled) || IsDisabledDeep()) return 3;
    if (m_dwState & kBkStatePushed) return 2;
    if (m_dwState & kBkStateHover) return 1;
    return 0;
}

BOOL CBkImageBtnWnd::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg != WM_PAINT) return CBkImageWnd::ProcessMessage(hWnd, msg, wParam, lParam, result);
    if (m_pSkin) m_pSkin->Draw((HDC)wParam, m_rcWindow, (DWORD)StateSubImage());
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}

// ---- realwnd -----------------------------------------------------------------------------------

HWND CBkRealWnd::GetRealWindow() const {
    if (!m_hWndContainer || !::IsWindow(m_hWndContainer)) return nullptr;
    return ::GetDlgItem(m_hWndContainer, m_uCmdID);
}

BOOL CBkRealWnd::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_WINDOWPOSCHANGED: {
        const RECT old = m_rcWindow;
        CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
        if (::EqualRect(&old, &m_rcWindow)) break;
        HWND child = GetRealWindow();
        if (child) {
            ::SetWindowPos(child, HWND_TOP, m_rcWindow.left, m_rcWindow.top, m_rcWindow.right - m_rcWindow.left,
                           m_rcWindow.bottom - m_rcWindow.top, SWP_NOREDRAW);
        }
        if (m_hWndContainer && ::IsWindow(m_hWndContainer)) {
            BkRealWndMovedNotify nms = {};
            nms.hdr.hwndFrom = m_hWndContainer;
            nms.hdr.idFrom = (UINT_PTR)(UINT)::GetDlgCtrlID(m_hWndContainer);
            nms.hdr.code = kBkNotifyRealWndMoved;
            nms.uItemID = (UINT)m_uCmdID;
            nms.rcWnd = m_rcWindow;
            ::SendMessageW(m_hWndContainer, WM_NOTIFY, (WPARAM)nms.hdr.idFrom, (LPARAM)&nms);
        }
        // The notification may have destroyed or replaced it: look it up again.
        child = GetRealWindow();
        if (child && ::IsWindowVisible(child)) {
            ::InvalidateRect(child, nullptr, TRUE);
            ::SetWindowPos(child, nullptr, 0, 0, 0, 0,
                           SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
        }
        break;
    }
    case WM_SHOWWINDOW: {
        HWND child = GetRealWindow();
        if (wParam) {
            m_dwState &= ~kBkStateHidden;
            if (!IsVisibleDeep()) break;  // a hidden ancestor keeps it as it is
            if (child) ::ShowWindow(child, SW_SHOW);
        } else {
            m_dwState |= kBkStateHidden;
            if (child) ::ShowWindow(child, SW_HIDE);
        }
        break;
    }
    case WM_DESTROY: {
        HWND child = GetRealWindow();
        if (child) ::ShowWindow(child, SW_HIDE);  // the application's window: hidden, not destroyed
        break;
    }
    case WM_PAINT:
        break;
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}

// ---- hr ----------------------------------------------------------------------------------------

HRESULT CBkLine::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    if (name == "size") {
        m_nLineSize = StrToIntA(value.c_str());
        return S_FALSE;
    }
    if (name == "style") {
        static const struct {
            const char* name;
            int style;
        } kStyles[] = {{"solid", PS_SOLID}, {"dash", PS_DASH}, {"dot", PS_DOT}, {"dashdot", PS_DASHDOT},
                       {"dashdotdot", PS_DASHDOTDOT}};
        for (const auto& s : kStyles) {
            if (value == s.name) {
                m_nPenStyle = s.style;
                return S_FALSE;
            }
        }
        return E_FAIL;
    }
    return E_FAIL;
}

BOOL CBkLine::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg != WM_PAINT) return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    HDC dc = (HDC)wParam;
    HPEN pen = ::CreatePen(m_nPenStyle, m_nLineSize, m_style.m_crBg);
    if (pen) {
        HGDIOBJ old = ::SelectObject(dc, pen);
        ::MoveToEx(dc, m_rcWindow.left, m_rcWindow.top, nullptr);
        ::LineTo(dc, m_rcWindow.right, m_rcWindow.bottom);
        ::SelectObject(dc, old);
        ::DeleteObject(pen);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
