#include "tracktooltip.h"

#include <stdlib.h>

namespace {
// Show in place, without activation and without raising the owner; the tip itself goes on top
// (no SWP_NOZORDER), above whatever topmost window came up since it was last shown.
const UINT kShowInPlace = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOOWNERZORDER;
// The same for a move, which also raises it.
const UINT kMoveOnTop = SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOOWNERZORDER;
}  // namespace

KTrackTooltip::~KTrackTooltip() {
    Destroy();
    if (m_hFont) ::DeleteObject(m_hFont);
}

BOOL KTrackTooltip::Create(HWND parent) {
    if (m_hWnd) return TRUE;
    if (!CWindowImpl::Create(parent, nullptr, nullptr, 0, 0, 0, nullptr)) return FALSE;
    ShowWindow(SW_HIDE);
    m_strText = L"  ";
    if (!m_hFont) {
        LOGFONTW lf = {};
        lf.lfHeight = 12;
        lf.lfWeight = FW_NORMAL;
        lstrcpynW(lf.lfFaceName, L"宋体", LF_FACESIZE);
        m_hFont = ::CreateFontIndirectW(&lf);
    }
    return TRUE;
}

void KTrackTooltip::EnableDelayedHide() {
    m_bDelayedHide = TRUE;
    m_uHideDelay = 500;
}

void KTrackTooltip::ShowNoActivate() {
    if (m_bShown) return;
    SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, kShowInPlace);
    m_bShown = TRUE;
}

void KTrackTooltip::Show(BOOL show) {
    if (!m_hWnd) return;
    if (show) {
        ShowNoActivate();
        return;
    }
    if (m_bDelayedHide) SetTimer(kHideTimerId, m_uHideDelay);
    else ShowWindow(SW_HIDE);
    m_bShown = FALSE;
}

void KTrackTooltip::TrackTo(POINT pt, LPCWSTR text) {
    if (!m_hWnd) return;
    if (abs(pt.x - m_nLastX) > 2 || abs(pt.y - m_nLastY) > 2) {
        SetWindowPos(HWND_TOPMOST, pt.x + 16, pt.y + 16, 0, 0, kMoveOnTop);
        m_nLastX = pt.x;
        m_nLastY = pt.y;
    }
    SetText(text);
}

int KTrackTooltip::SetText(LPCWSTR text) {
    if (!text) return 0;
    m_strText = text;
    if (!m_hWnd) return 1;
    ShowNoActivate();

    HDC dc = GetDC();
    SIZE extent = {0, 0};
    if (dc) {
        HGDIOBJ old = m_hFont ? ::SelectObject(dc, m_hFont) : nullptr;
        ::GetTextExtentPoint32W(dc, m_strText.GetString(), m_strText.GetLength(), &extent);
        if (old) ::SelectObject(dc, old);
    }
    if (extent.cx > kMaxTextWidth) {
        extent.cx = kMaxTextWidth;
        extent.cy += kExtraLine;
    }
    SetWindowPos(nullptr, 0, 0, extent.cx + kPadding, extent.cy + kPadding,
                 SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOOWNERZORDER);
    Invalidate(TRUE);
    if (dc) ReleaseDC(dc);
    return 1;
}

void KTrackTooltip::Destroy() {
    if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
    m_bShown = FALSE;
}

LRESULT KTrackTooltip::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL&) {
    if (wParam == kHideTimerId) {
        KillTimer(kHideTimerId);
        // Shown again since the hide was asked for: it stays.
        if (!m_bShown) ShowWindow(SW_HIDE);
    }
    return 1;
}

LRESULT KTrackTooltip::OnPaint(UINT msg, WPARAM wParam, LPARAM, BOOL&) {
    if (msg == WM_PRINTCLIENT || wParam) {
        DoPaint((HDC)wParam);
        return 0;
    }
    PAINTSTRUCT ps = {};
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    if (dc) DoPaint(dc);
    ::EndPaint(m_hWnd, &ps);
    return 0;
}

void KTrackTooltip::DoPaint(HDC dc) {
    RECT rc = {};
    GetClientRect(&rc);
    HBRUSH fill = ::CreateSolidBrush(kBackground);
    if (fill) {
        ::FillRect(dc, &rc, fill);
        ::DeleteObject(fill);
    }
    ::FrameRect(dc, &rc, (HBRUSH)::GetStockObject(BLACK_BRUSH));

    RECT box = rc;
    box.left += kInset;
    box.top += kInset;
    box.right -= kInset;
    const int lineWidth = box.right - box.left;

    HGDIOBJ oldFont = m_hFont ? ::SelectObject(dc, m_hFont) : nullptr;
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    TEXTMETRICW tm = {};
    ::GetTextMetricsW(dc, &tm);
    const int wide = tm.tmHeight, narrow = tm.tmHeight / 2;
    const int lineStep = tm.tmHeight + tm.tmExternalLeading + 2;

    // A character above U+00FF counts as one font height wide, any other as half of it.
    LPCWSTR s = m_strText.GetString();
    const int n = m_strText.GetLength();
    int y = box.top, start = 0, sum = 0;
    for (int i = 0; i < n; ++i) {
        const int w = (unsigned)s[i] > 255 ? wide : narrow;
        if (sum + w > lineWidth && i > start) {
            ::TextOutW(dc, box.left, y, s + start, i - start);
            y += lineStep;
            start = i;
            sum = 0;
        }
        sum += w;  // a character wider than the line alone stays alone on its line
    }
    if (start < n) ::TextOutW(dc, box.left, y, s + start, n - start);

    ::SetBkMode(dc, oldMode);
    if (oldFont) ::SelectObject(dc, oldFont);
}
