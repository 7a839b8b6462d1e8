#include "popuplist.h"

#include <windowsx.h>

#include "bkimage.h"
#include "bkwnd.h"

namespace {

// A 3-D rectangle: top and left edges in the first colour, bottom and right in the second.
void Draw3dRect(HDC dc, const RECT& rc, COLORREF topLeft, COLORREF bottomRight) {
    const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0) return;
    const COLORREF old = ::GetBkColor(dc);
    auto fill = [dc](int x, int y, int w, int h, COLORREF c) {
        RECT r = {x, y, x + w, y + h};
        ::SetBkColor(dc, c);
        ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    };
    fill(rc.left, rc.top, cx - 1, 1, topLeft);
    fill(rc.left, rc.top, 1, cy - 1, topLeft);
    fill(rc.right - 1, rc.top, 1, cy, bottomRight);
    fill(rc.left, rc.bottom - 1, cx, 1, bottomRight);
    ::SetBkColor(dc, old);
}

void FillSolid(HDC dc, const RECT& rc, COLORREF c) {
    const COLORREF old = ::SetBkColor(dc, c);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(dc, old);
}

HFONT MakeListFont(int height) {
    LOGFONTW lf = {};
    lf.lfHeight = height;
    lf.lfWeight = FW_NORMAL;
    lstrcpynW(lf.lfFaceName, L"宋体", LF_FACESIZE);
    return ::CreateFontIndirectW(&lf);
}

}  // namespace

KPopUpListWnd::~KPopUpListWnd() {
    if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
    DeleteIcons();
}

void KPopUpListWnd::Dispose(KPopUpListWnd* list) {
    if (!list) return;
    // Inside a message of its own the list's window may be gone already (the owner's edit window
    // takes the list's with it): the final message still comes once that outer message is done.
    if (list->GetCurrentMessage()) {
        list->m_bDisposeWhenDone = true;
        list->m_pOwner = nullptr;
        if (list->m_hWnd && ::IsWindow(list->m_hWnd)) list->DestroyWindow();
        return;  // the object goes in OnFinalMessage, after the outer message
    }
    delete list;
}

void KPopUpListWnd::OnFinalMessage(HWND) {
    if (m_bDisposeWhenDone) delete this;
}

void KPopUpListWnd::DeleteIcons() {
    for (HBITMAP& b : m_icons) {
        if (b) ::DeleteObject(b);
        b = nullptr;
    }
}

// ---- showing -----------------------------------------------------------------------------------

void KPopUpListWnd::ShowAt(int right, int top) {
    if (!m_hWnd) return;
    RECT rc = {};
    GetWindowRect(&rc);
    const int cx = rc.right - rc.left;
    SetWindowPos(nullptr, right - cx, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(SW_SHOWNORMAL);
    ::SetCapture(m_hWnd);
}

void KPopUpListWnd::Hide() {
    if (!m_hWnd) return;
    ShowWindow(SW_HIDE);
    if (::GetCapture() == m_hWnd) ::ReleaseCapture();
}

// ---- hit testing and input ---------------------------------------------------------------------

int KPopUpListWnd::RowAt(POINT pt) const {
    if (!::PtInRect(&m_rcList, pt) || m_nRowHeight <= 0) return -1;
    const int row = (pt.y - 5) / m_nRowHeight;  // C++ division truncates toward zero
    if (row < 0 || row >= m_nRowCount) return -1;
    return row;
}

LRESULT KPopUpListWnd::OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL&) {
    m_nHighlight = m_nLastHighlight = -1;
    Hide();  // any click, inside or outside, closes the list
    const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (!::PtInRect(&m_rcList, pt)) return 0;
    m_nHighlight = RowAt(pt);
    if (m_nHighlight < 0 || !m_pOwner || (size_t)m_nHighlight >= m_texts.size()) return 0;
    // The owner may rebuild this list while it handles the choice: nothing of ours is used after.
    const int row = m_nHighlight;
    const CString text = m_texts[(size_t)row];
    CBkWindow* owner = m_pOwner;
    owner->SetMsgHandled(FALSE);
    LRESULT result = 0;
    owner->ProcessMessage(owner->GetContainerWindow(), kBkMsgPopListChosen, (WPARAM)row, (LPARAM)text.GetString(),
                          result);
    return 0;
}

LRESULT KPopUpListWnd::OnRButtonDown(UINT, WPARAM, LPARAM, BOOL&) {
    Hide();
    m_nHighlight = m_nLastHighlight = -1;
    return 0;
}

LRESULT KPopUpListWnd::OnMouseMove(UINT, WPARAM, LPARAM lParam, BOOL&) {
    const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (!::PtInRect(&m_rcList, pt)) return 0;
    m_nHighlight = RowAt(pt);
    if (m_nHighlight != m_nLastHighlight) {
        m_nLastHighlight = m_nHighlight;
        Invalidate(TRUE);
    }
    return 0;
}

LRESULT KPopUpListWnd::OnActivateApp(UINT, WPARAM wParam, LPARAM, BOOL&) {
    if (!wParam) Hide();
    return 1;
}

LRESULT KPopUpListWnd::OnKillFocus(UINT, WPARAM, LPARAM, BOOL& handled) {
    Hide();
    handled = FALSE;
    return 0;
}

LRESULT KPopUpListWnd::OnMouseWheel(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    handled = FALSE;
    const int step = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
    const int last = (int)m_texts.size() - 1;
    if (step <= -1) {
        if (m_nHighlight < 0 || m_nHighlight >= last) return 0;
        ++m_nHighlight;
    } else if (step >= 1) {
        if (m_nHighlight <= 0) return 0;
        --m_nHighlight;
    } else {
        return 0;
    }
    // Kept in step, so that the mouse coming back onto the old row repaints it.
    m_nLastHighlight = m_nHighlight;
    Invalidate(TRUE);
    return 0;
}

LRESULT KPopUpListWnd::OnDestroy(UINT, WPARAM, LPARAM, BOOL&) {
    DeleteIcons();
    return 0;
}

// ---- painting ----------------------------------------------------------------------------------

void KPopUpListWnd::DoPaint(HDC dc) {
    const int x = 5, y = 5;
    DrawHighlight(dc, x, y, m_crHighlight);
    DrawIcons(dc, x, y);
    HFONT font = MakeListFont(m_nFontHeight);
    HGDIOBJ oldFont = font ? ::SelectObject(dc, font) : nullptr;
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    DrawTexts(dc, x, y);
    ::SetBkMode(dc, oldMode);
    if (oldFont) ::SelectObject(dc, oldFont);
    if (font) ::DeleteObject(font);
    switch (m_nFrameStyle) {
    case kFrameNone:
        DrawFrameNone(dc);
        break;
    case kFrameThin:
        DrawFrameThin(dc);
        break;
    default:
        DrawFrameThick(dc);
        break;
    }
}

void KPopUpListWnd::DrawHighlight(HDC dc, int x, int y, COLORREF colour) {
    FillSolid(dc, m_rcList, RGB(0xFF, 0xFF, 0xFF));
    if (m_nHighlight < 0) return;
    const int width = m_rcList.right - m_rcList.left;
    const RECT bar = {x, y + m_nHighlight * m_nRowHeight, x + width - 10, y + (m_nHighlight + 1) * m_nRowHeight};
    FillSolid(dc, bar, colour);
}

void KPopUpListWnd::DrawIcons(HDC dc, int x, int y) {
    if (m_icons.empty()) return;
    HDC mem = ::CreateCompatibleDC(dc);
    if (!mem) return;
    for (size_t i = 0; i < m_icons.size(); ++i, y += m_nRowHeight) {
        HBITMAP bmp = m_icons[i];
        if (!bmp) continue;
        BITMAP bm = {};
        if (!::GetObjectW(bmp, sizeof(bm), &bm)) continue;
        HGDIOBJ old = ::SelectObject(mem, bmp);
        BkKeyColorBlt(dc, x, y + 2, bm.bmWidth, bm.bmHeight, mem, 0, 0, bm.bmWidth, bm.bmHeight, m_crIconKey);
        ::SelectObject(mem, old);
    }
    ::DeleteDC(mem);
}

void KPopUpListWnd::DrawFrameNone(HDC) {}

void KPopUpListWnd::DrawFrameThin(HDC dc) {
    RECT rc = m_rcList;
    Draw3dRect(dc, rc, RGB(0xDA, 0xF8, 0xD2), RGB(0xDA, 0xF8, 0xD2));
    ::InflateRect(&rc, -1, -1);
    Draw3dRect(dc, rc, RGB(0xFF, 0xFF, 0xFF), RGB(0xDA, 0xF8, 0xD2));
}

void KPopUpListWnd::DrawFrameThick(HDC dc) {
    RECT rc = m_rcList;
    Draw3dRect(dc, rc, RGB(0xF1, 0xEF, 0xE2), RGB(0x71, 0x6F, 0x64));
    ::InflateRect(&rc, -1, -1);
    Draw3dRect(dc, rc, RGB(0xFF, 0xFF, 0xFF), RGB(0xAC, 0xA8, 0x99));
    ::InflateRect(&rc, -1, -1);
    Draw3dRect(dc, rc, RGB(0xEC, 0xE9, 0xD8), RGB(0xEC, 0xE9, 0xD8));
}

void KPopUpListWnd::DrawTexts(HDC dc, int x, int) {
    int ty = 9;
    for (const CString& t : m_texts) {
        ::TextOutW(dc, x + m_nRowHeight, ty, t.GetString(), t.GetLength());
        ty += m_nRowHeight;
    }
}

// ---- the combo's drop list ---------------------------------------------------------------------

BOOL KComboBoxPopList::Build(CBkWindow* owner, HWND parent, const std::vector<HBITMAP>& icons,
                             const std::vector<CString>& texts) {
    if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
    DeleteIcons();
    m_icons = icons;
    m_texts = texts;
    m_rcList = {0, 0, 180, 98};
    m_nHighlight = m_nLastHighlight = -1;
    if (!Create(parent, nullptr, nullptr, 0, 0, 0, nullptr)) return FALSE;
    m_crIconKey = RGB(0xFF, 0xFF, 0xFF);
    m_nRowCount = (int)m_texts.size();
    m_pOwner = owner;
    if (!m_texts.empty()) {
        m_rcList.right = 180 + (m_texts[0].GetLength() - 2) * m_nFontHeight;
        m_rcList.bottom = m_nRowHeight * (int)m_texts.size();
        // Sized while hidden: a rebuild never flashes the list at the screen's corner.
        SetWindowPos(HWND_TOPMOST, 0, 0, m_rcList.right - m_rcList.left, m_rcList.bottom - m_rcList.top,
                     SWP_NOMOVE | SWP_NOACTIVATE);
    }
    ShowWindow(SW_HIDE);
    return TRUE;
}

void KComboBoxPopList::ShowDropDown(int x, int y, int width) {
    if (!m_hWnd) return;
    m_rcList.right = m_rcList.left + width;
    MoveWindow(x, y, width, (int)m_texts.size() * m_nRowHeight, TRUE);
    ShowWindow(SW_SHOWNORMAL);
    ::SetCapture(m_hWnd);
}

void KComboBoxPopList::DrawHighlight(HDC dc, int, int, COLORREF colour) {
    RECT rc = {};
    GetClientRect(&rc);
    FillSolid(dc, rc, RGB(0xFF, 0xFF, 0xFF));
    if (m_nHighlight < 0) return;
    const RECT bar = {rc.left, m_nHighlight * m_nRowHeight, rc.right, (m_nHighlight + 1) * m_nRowHeight};
    FillSolid(dc, bar, colour);
}

void KComboBoxPopList::DrawFrameNone(HDC dc) {
    RECT rc = {};
    GetClientRect(&rc);
    HBRUSH brush = ::CreateSolidBrush(m_crFrame);
    if (!brush) return;
    ::FrameRect(dc, &rc, brush);
    ::DeleteObject(brush);
}

void KComboBoxPopList::DrawFrameThick(HDC dc) {
    RECT rc = {};
    GetClientRect(&rc);
    HPEN pen = ::CreatePen(PS_INSIDEFRAME, 1, RGB(0x85, 0xE4, 0xFF));
    if (!pen) return;
    HGDIOBJ old = ::SelectObject(dc, pen);
    // Left, bottom and right; the top stays open against the combo above.
    ::MoveToEx(dc, rc.left, rc.top, nullptr);
    ::LineTo(dc, rc.left, rc.bottom - 1);
    ::LineTo(dc, rc.right - 1, rc.bottom - 1);
    ::LineTo(dc, rc.right - 1, rc.top - 1);
    ::SelectObject(dc, old);
    ::DeleteObject(pen);
}

void KComboBoxPopList::DrawTexts(HDC dc, int, int) {
    RECT rc = {};
    GetClientRect(&rc);
    for (size_t i = 0; i < m_texts.size(); ++i) {
        RECT row = {rc.left + 4, (int)i * m_nRowHeight, rc.right, ((int)i + 1) * m_nRowHeight};
        ::DrawTextW(dc, m_texts[i].GetString(), m_texts[i].GetLength(), &row,
                    DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
    }
}
