#include "bkrichtext.h"

#include <stdio.h>
#include <string.h>
#include <windowsx.h>

#include <tinyxml.h>

#include "bkres.h"
#include "bkstyle.h"

struct CBkRichText::Pen {
    int x;
    int y;
    int left;         // where a new line starts
    int right;        // the content's right edge
    int lineSpacing;
    int spacing;

    void NewLine() {
        x = left;
        y += lineSpacing;
    }
    BOOL AtLineStart() const { return x <= left; }
};

CBkRichText::CBkRichText() : m_markup(new TiXmlElement("richtext")) {}

CBkRichText::~CBkRichText() {}

BOOL CBkRichText::Load(TiXmlElement* xml) {
    if (!CBkWindow::Load(xml)) return FALSE;
    ResetLayout();
    // The whole node with its children: the mark-up is read at every paint.
    m_markup.reset(new TiXmlElement(*xml));
    return TRUE;
}

HRESULT CBkRichText::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    if (name == "defaultfont") {
        m_wDefaultFont = (WORD)BkHexToInt(value.c_str(), -1);
        return S_FALSE;
    }
    if (name == "linkclass") {
        // A copy: later changes of the table do not reach it.
        const BkStyle* s = BkStylePool::GetStyle(value);
        m_linkStyle = s ? *s : BkStyle();
        return S_FALSE;
    }
    return E_FAIL;
}

void CBkRichText::SetCursor() {
    ::SetCursor(::LoadCursorW(nullptr, m_nHoverLink >= 0 ? IDC_HAND : IDC_ARROW));
}

void CBkRichText::ResetLayout() {
    m_links.clear();
    m_bLaidOut = FALSE;
    m_nHoverLink = -1;
    m_nPressedLink = -1;
    m_nNextLink = 0;
}

// ---- layout and painting -----------------------------------------------------------------------

void CBkRichText::Paint(HDC dc) {
    if (!dc) return;
    HFONT baseFont = BkFontPool::GetFont(m_wDefaultFont);
    HGDIOBJ oldFont = baseFont ? ::SelectObject(dc, baseFont) : nullptr;

    RECT content = m_rcWindow;
    ::InflateRect(&content, -m_style.m_nMarginX, -m_style.m_nMarginY);
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, content.left, content.top, content.right, content.bottom);
    ::SetBkMode(dc, TRANSPARENT);

    if (!m_bLaidOut) {
        m_links.clear();
        m_nHoverLink = m_nPressedLink = -1;
    }
    m_nNextLink = 0;
    Pen pen = {content.left, content.top, content.left, content.right, m_style.m_nLineSpacing, m_style.m_nSpacing};
    Visit(dc, m_markup.get(), m_wDefaultFont, FALSE, pen);
    DrawLinks(dc);

    ::RestoreDC(dc, saved);
    if (oldFont) ::SelectObject(dc, oldFont);
    m_bLaidOut = TRUE;
}

void CBkRichText::Visit(HDC dc, const TiXmlNode* node, WORD code, BOOL inLink, Pen& pen) {
    const TiXmlElement* e = node ? node->ToElement() : nullptr;
    if (!e) return;
    const char* name = e->Value() ? e->Value() : "";

    WORD inner = code;
    BOOL colourChanged = FALSE;
    COLORREF oldColour = 0;
    if (_stricmp(name, "b") == 0) {
        inner |= 4;
    } else if (_stricmp(name, "i") == 0) {
        inner |= 1;
    } else if (_stricmp(name, "u") == 0) {
        inner |= 2;
    } else if (_stricmp(name, "c") == 0) {
        // Without "color" the text keeps the colour it has.
        if (const char* c = e->Attribute("color")) {
            oldColour = ::SetTextColor(dc, BkColorFromHex(c));
            colourChanged = TRUE;
        }
    } else if (_stricmp(name, "br") == 0) {
        pen.NewLine();
    } else if (_stricmp(name, "a") == 0) {
        if (!m_bLaidOut) {
            PlaceLink(dc, e, pen);
        } else if (m_nNextLink < m_links.size()) {
            // The pen continues where the layout left it, so the text after a link never runs
            // into the link drawn at its fixed place.
            pen.x = m_links[m_nNextLink].penAfter.x;
            pen.y = m_links[m_nNextLink].penAfter.y;
            ++m_nNextLink;
        }
        return;
    }

    HFONT font = inner != code ? BkFontPool::GetFont(inner) : nullptr;
    if (font) ::SelectObject(dc, font);
    for (const TiXmlNode* child = e->FirstChild(); child; child = child->NextSibling()) {
        if (child->ToElement()) {
            Visit(dc, child, inner, inLink, pen);
        } else if (const TiXmlText* t = child->ToText()) {
            PlaceRun(dc, BkUtf8ToWide(t->Value()), inLink, pen);
        }
        // comments and other nodes carry no text
    }
    if (font) {
        HFONT outer = BkFontPool::GetFont(code);
        if (outer) ::SelectObject(dc, outer);
    }
    if (colourChanged) ::SetTextColor(dc, oldColour);
}

void CBkRichText::PlaceRun(HDC dc, const std::wstring& run, BOOL inLink, Pen& pen) {
    size_t from = 0;
    int lastWidth = 0;
    while (from < run.size()) {
        LPCWSTR s = run.c_str() + from;
        const int remaining = (int)(run.size() - from);

        // The longest head that still ends inside the content; the fit count of the extent call
        // only shortens the search, the plain extent decides.
        int n = remaining;
        int fit = 0;
        SIZE size = {0, 0};
        const int room = pen.right - pen.x;
        if (room > 0 && ::GetTextExtentExPointW(dc, s, remaining, room, &fit, nullptr, &size) && fit + 1 < n)
            n = fit + 1;
        for (; n > 0; --n) {
            ::GetTextExtentPoint32W(dc, s, n, &size);
            if (pen.x + size.cx <= pen.right) break;
        }
        if (n == 0) {
            if (!pen.AtLineStart()) {
                pen.NewLine();
                continue;
            }
            // Not even one character fits a whole line: it takes a line of its own, so the
            // wrapping always moves on.
            n = 1;
            ::GetTextExtentPoint32W(dc, s, n, &size);
        }
        if (!inLink) ::TextOutW(dc, pen.x, pen.y, s, n);
        lastWidth = size.cx;
        if (n == remaining) break;
        pen.NewLine();
        from += (size_t)n;
    }
    pen.x += lastWidth + pen.spacing;
}

void CBkRichText::PlaceLink(HDC dc, const TiXmlElement* a, Pen& pen) {
    Link link;
    const TiXmlNode* first = a->FirstChild();
    const TiXmlText* t = first ? first->ToText() : nullptr;
    if (t) link.text = BkUtf8ToWide(t->Value());

    HGDIOBJ old = m_linkStyle.m_ftText ? ::SelectObject(dc, m_linkStyle.m_ftText) : nullptr;
    SIZE size = {0, 0};
    ::GetTextExtentPoint32W(dc, link.text.GetString(), link.text.GetLength(), &size);
    if (old) ::SelectObject(dc, old);
    if (link.text.IsEmpty()) size.cx = 0;

    // A link is never broken: it moves whole to the next line (unless it starts one already).
    if (pen.x + size.cx > pen.right && !pen.AtLineStart()) pen.NewLine();
    link.rect = {pen.x, pen.y, pen.x + size.cx, pen.y + size.cy};
    pen.x = link.rect.right + pen.spacing;
    link.penAfter = {pen.x, pen.y};

    int id = 0;
    if (const char* v = a->Attribute("id")) {
        if (sscanf(v, "%d", &id) != 1) id = 0;
    }
    link.id = id;
    m_links.push_back(link);
}

void CBkRichText::DrawLinks(HDC dc) {
    if (m_links.empty()) return;
    const BOOL disabled = IsDisabledDeep();
    HFONT linkFont = m_linkStyle.m_ftText;
    HFONT hoverFont = m_linkStyle.m_ftHover ? m_linkStyle.m_ftHover : linkFont;
    const COLORREF colour = disabled ? m_linkStyle.m_crDisabledText : m_linkStyle.m_crText;
    // With crtext but no crhover the hover link keeps crtext (and the link font without hoverfont).
    const COLORREF hoverColour = m_linkStyle.m_crHoverText != CLR_INVALID ? m_linkStyle.m_crHoverText : colour;

    if (linkFont) ::SelectObject(dc, linkFont);
    if (colour != CLR_INVALID) ::SetTextColor(dc, colour);
    for (size_t i = 0; i < m_links.size(); ++i) {
        const Link& l = m_links[i];
        const BOOL hover = !disabled && (int)i == m_nHoverLink;
        if (hover) {
            if (linkFont) ::SelectObject(dc, hoverFont);
            if (m_linkStyle.m_crText != CLR_INVALID && hoverColour != CLR_INVALID) ::SetTextColor(dc, hoverColour);
        }
        ::TextOutW(dc, l.rect.left, l.rect.top, l.text.GetString(), l.text.GetLength());
        if (hover) {
            if (linkFont) ::SelectObject(dc, linkFont);
            if (colour != CLR_INVALID) ::SetTextColor(dc, colour);
        }
    }
}

// ---- mouse -------------------------------------------------------------------------------------

void CBkRichText::OnMouseMove(POINT pt) {
    int hit = -1;
    for (size_t i = 0; i < m_links.size(); ++i) {
        if (::PtInRect(&m_links[i].rect, pt)) {
            hit = (int)i;
            break;
        }
    }
    if (hit == m_nHoverLink) return;
    if (m_nHoverLink >= 0) RequestRedraw(m_links[(size_t)m_nHoverLink].rect);
    if (hit >= 0) RequestRedraw(m_links[(size_t)hit].rect);
    m_nHoverLink = hit;
}

void CBkRichText::OnLButtonUp() {
    const int pressed = m_nPressedLink;
    m_nPressedLink = -1;
    if (pressed < 0 || pressed != m_nHoverLink || (size_t)pressed >= m_links.size()) return;
    HWND view = m_hWndContainer;
    if (!view || !::IsWindow(view)) return;
    const int ctrlId = ::GetDlgCtrlID(view);
    BkCommandNotify n = {};
    n.hdr.hwndFrom = view;
    n.hdr.idFrom = (UINT_PTR)(INT_PTR)ctrlId;
    n.hdr.code = kBkNotifyCommand;
    n.uItemID = (UINT)m_links[(size_t)pressed].id;
    n.szItemClass = kTag;
    ::SendMessageW(::GetParent(view), WM_NOTIFY, (WPARAM)(INT_PTR)ctrlId, (LPARAM)&n);
}

BOOL CBkRichText::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_PAINT:
        Paint((HDC)wParam);
        break;
    case WM_WINDOWPOSCHANGED:
        CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
        ResetLayout();  // measured again at the next paint
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        break;
    case WM_LBUTTONDOWN:
        if (m_nHoverLink >= 0) m_nPressedLink = m_nHoverLink;
        break;
    case WM_LBUTTONUP:
        OnLButtonUp();
        break;
    case WM_MOUSELEAVE:
        if (m_nHoverLink >= 0 && (size_t)m_nHoverLink < m_links.size()) RequestRedraw(m_links[(size_t)m_nHoverLink].rect);
        m_nHoverLink = -1;
        break;
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
