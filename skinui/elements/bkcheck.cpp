// "check" and "radio": a "BUTTON" theme glyph (or the classic frame control) and the text beside it.
#include "bkleaf.h"

#include <tinyxml.h>

int BkButtonThemeState(DWORD state) {
    const int checked = (state & kBkStateChecked) ? 4 : 0;
    if (state & kBkStateDisabled) return 4 + checked;
    if (state & kBkStatePushed) return 3 + checked;
    if (state & kBkStateHover) return 2 + checked;
    return 1 + checked;
}

namespace {

// The glyph: the theme when it opens, else DrawFrameControl. The theme handle is opened at the
// first paint that finds it empty; a failure leaves it empty for the next paint to try again.
void DrawGlyph(HBKTHEME& theme, HDC dc, RECT glyph, int part, UINT frameKind, DWORD state) {
    if (!theme) theme = BkUxThemeLoader::OpenThemeData(BkUxThemeLoader::GetThemeClassName(0));
    if (theme && SUCCEEDED(BkUxThemeLoader::DrawThemeBackground(theme, dc, part, BkButtonThemeState(state), glyph)))
        return;
    UINT flags = frameKind | DFCS_TRANSPARENT;
    if (state & kBkStateDisabled) flags |= DFCS_INACTIVE;
    if (state & kBkStateHover) flags |= DFCS_HOT;
    if (state & kBkStatePushed) flags |= DFCS_PUSHED;
    if (state & kBkStateChecked) flags |= DFCS_CHECKED;
    ::DrawFrameControl(dc, &glyph, DFC_BUTTON, flags);
}

enum { kThemePartRadio = 2, kThemePartCheck = 3 };

}  // namespace

// ---- check -------------------------------------------------------------------------------------

CBkCheckBox::~CBkCheckBox() {
    if (m_hTheme) BkUxThemeLoader::CloseThemeData(m_hTheme);
}

BOOL CBkCheckBox::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_NCCALCSIZE: {
        CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
        SIZE* size = (SIZE*)lParam;
        if (size) {
            size->cx += kTextIndent;
            if (size->cy < kGlyphWidth) size->cy = kGlyphWidth;
        }
        break;
    }
    case WM_PAINT: {
        HDC dc = (HDC)wParam;
        RECT glyph = m_rcWindow;
        glyph.right = glyph.left + kGlyphWidth;
        // The glyph shows the element's own disabled bit; the text follows its ancestors too.
        DrawGlyph(m_hTheme, dc, glyph, kThemePartCheck, DFCS_BUTTONCHECK, m_dwState);
        m_style.m_nTextMode = (m_style.m_nTextMode | DT_VCENTER) & ~(UINT)DT_BOTTOM;
        m_rcWindow.left += kTextIndent;
        DrawInnerText(dc);
        m_rcWindow.left -= kTextIndent;
        break;
    }
    case WM_LBUTTONUP:
        m_dwState ^= kBkStateChecked;
        break;
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}

// ---- radio -------------------------------------------------------------------------------------

CBkRadioBox::~CBkRadioBox() {
    if (m_bJoined) BkWindowRegistry::RemoveFromGroup(this, m_strJoinedGroup);
    if (m_hTheme) BkUxThemeLoader::CloseThemeData(m_hTheme);
}

BOOL CBkRadioBox::Load(TiXmlElement* xml) {
    if (!CBkWindow::Load(xml)) return FALSE;
    // A second load moves the element to the group it names now instead of leaving it in two.
    if (m_bJoined) BkWindowRegistry::RemoveFromGroup(this, m_strJoinedGroup);
    m_strJoinedGroup = m_strGroup;
    BkWindowRegistry::AddToGroup(this, m_strJoinedGroup);
    m_bJoined = TRUE;
    return TRUE;
}

HRESULT CBkRadioBox::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    if (name == "group") {
        m_strGroup = value;
        return S_FALSE;
    }
    return E_FAIL;
}

BOOL CBkRadioBox::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_NCCALCSIZE: {
        CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
        SIZE* size = (SIZE*)lParam;
        if (size) {
            size->cx += kTextIndent;
            if (size->cy < kGlyphSize) size->cy = kGlyphSize;
        }
        break;
    }
    case WM_PAINT: {
        HDC dc = (HDC)wParam;
        RECT glyph = m_rcWindow;
        glyph.right = glyph.left + kGlyphSize;
        glyph.top += ((m_rcWindow.bottom - m_rcWindow.top) - kGlyphSize) / 2;
        glyph.bottom = glyph.top + kGlyphSize;
        DrawGlyph(m_hTheme, dc, glyph, kThemePartRadio, DFCS_BUTTONRADIO, m_dwState);
        m_style.m_nTextMode = (m_style.m_nTextMode | DT_VCENTER | DT_SINGLELINE) & ~(UINT)DT_BOTTOM;
        m_rcWindow.left += kTextIndent;
        DrawInnerText(dc);
        m_rcWindow.left -= kTextIndent;
        break;
    }
    case WM_LBUTTONUP:
        // Not joined yet (never loaded): only this element changes.
        if (m_bJoined) BkWindowRegistry::CheckInGroup(this, m_strJoinedGroup);
        else m_dwState |= kBkStateChecked;
        break;
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
