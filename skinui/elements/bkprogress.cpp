// "progress": a framed bar with an optional percentage, drawn by skins or by GDI.
#include "bkleaf.h"

#include <shlwapi.h>

#include <utility>

HRESULT CBkProgress::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    const char* v = value.c_str();
    if (name == "min") {
        m_dwMinValue = (DWORD)StrToIntA(v);
        return S_FALSE;
    }
    if (name == "max") {
        m_dwMaxValue = (DWORD)StrToIntA(v);
        return S_FALSE;
    }
    if (name == "value") {
        m_dwValue = (DWORD)StrToIntA(v);
        return S_FALSE;
    }
    if (name == "showpercent") {
        m_bShowPercent = StrToIntA(v) != 0;
        return S_FALSE;
    }
    if (name == "bgskin") {
        m_pSkinBg = BkSkinPool::GetSkin(value);
        return S_OK;
    }
    if (name == "posskin") {
        m_pSkinPos = BkSkinPool::GetSkin(value);
        return S_FALSE;
    }
    return E_FAIL;
}

void CBkProgress::Paint(HDC dc) {
    const int saved = ::SaveDC(dc);

    // The DC as the base text painting prepares it.
    if (!m_style.m_strSkinName.empty()) ::SetBkMode(dc, TRANSPARENT);
    if (m_style.m_crBg != CLR_INVALID) ::SetBkColor(dc, m_style.m_crBg);
    const COLORREF textColour = IsDisabledDeep() ? m_style.m_crDisabledText : m_style.m_crText;
    if (textColour != CLR_INVALID) ::SetTextColor(dc, textColour);
    if (m_style.m_ftText) ::SelectObject(dc, m_style.m_ftText);
    HPEN pen = ::CreatePen(PS_SOLID, 1, kFrameColour);
    HGDIOBJ oldPen = pen ? ::SelectObject(dc, pen) : nullptr;

    if (m_pSkinBg) m_pSkinBg->Draw(dc, m_rcWindow, 0);
    else ::RoundRect(dc, m_rcWindow.left, m_rcWindow.top, m_rcWindow.right, m_rcWindow.bottom, 2, 2);

    double ratio = 0.0;
    if (m_dwMaxValue != m_dwMinValue) {
        if (m_dwMaxValue < m_dwMinValue) std::swap(m_dwMaxValue, m_dwMinValue);
        if (m_dwValue < m_dwMinValue) m_dwValue = m_dwMinValue;
        if (m_dwValue > m_dwMaxValue) m_dwValue = m_dwMaxValue;
        ratio = (double)(m_dwValue - m_dwMinValue) / (double)(m_dwMaxValue - m_dwMinValue);
    }

    wchar_t percent[16] = L"";
    RECT textBox = m_rcWindow;
    const UINT textFlags = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
    if (m_bShowPercent) {
        _snwprintf(percent, 15, L"%d%%", (int)(ratio * 100.0));
        percent[15] = 0;
        ::DrawTextW(dc, percent, -1, &textBox, textFlags);
    }

    RECT bar = m_rcWindow;
    if (m_pSkinPos) {
        SIZE size = {0, 0};
        m_pSkinPos->GetSkinSize(size);
        const int dy = ((m_rcWindow.bottom - m_rcWindow.top) - size.cy) / 2;
        bar.left += 2;
        bar.right -= 2;
        bar.top += dy;
        bar.bottom -= dy;
        bar.right = bar.left + (int)((bar.right - bar.left) * ratio);
        // An empty bar draws nothing: a skin drawn into no room still puts its edges down.
        if (bar.right > bar.left) m_pSkinPos->Draw(dc, bar, 0);
    } else {
        ::InflateRect(&bar, -2, -2);
        bar.right = bar.left + (int)((bar.right - bar.left) * ratio);
        if (bar.right > bar.left) {
            ::RoundRect(dc, bar.left, bar.top, bar.right, bar.bottom, 2, 2);
            const COLORREF oldBk = ::SetBkColor(dc, kBarColour);
            ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &bar, nullptr, 0, nullptr);
            ::SetBkColor(dc, oldBk);
        }
    }
    m_rcBar = bar;

    if (oldPen) ::SelectObject(dc, oldPen);

    if (m_bShowPercent && bar.right > bar.left) {
        // The part over the filled bar again, in the inverse colour.
        HRGN previous = ::CreateRectRgn(0, 0, 0, 0);
        const int had = previous ? ::GetClipRgn(dc, previous) : -1;
        ::IntersectClipRect(dc, bar.left, bar.top, bar.right, bar.bottom);
        ::SetTextColor(dc, m_style.m_crBg != CLR_INVALID ? m_style.m_crBg : RGB(0xFF, 0xFF, 0xFF));
        textBox = m_rcWindow;
        ::DrawTextW(dc, percent, -1, &textBox, textFlags);
        if (textColour != CLR_INVALID) ::SetTextColor(dc, textColour);
        ::SelectClipRgn(dc, had == 1 ? previous : nullptr);
        if (previous) ::DeleteObject(previous);
    }

    ::RestoreDC(dc, saved);
    if (pen) ::DeleteObject(pen);
}

BOOL CBkProgress::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_PAINT:
        Paint((HDC)wParam);
        break;
    case WM_NCCALCSIZE: {
        CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
        SIZE* size = (SIZE*)lParam;
        if (size && m_pSkinBg) {
            SIZE skin = {0, 0};
            m_pSkinBg->GetSkinSize(skin);
            size->cy = skin.cy;
        }
        break;
    }
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
