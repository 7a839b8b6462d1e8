#include "bkwnd.h"

#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <tinyxml.h>

#include "bkres.h"
#include "bkwndreg.h"

// ---- helpers -----------------------------------------------------------------------------------

int BkResolvePos(const BkPosItem& item, int extent) {
    if (item.bCenter) return item.bMinus ? extent / 2 - item.nPos : extent / 2 + item.nPos;
    return item.bMinus ? extent - item.nPos : item.nPos;
}

void BkSubstituteStrings(std::wstring& text) {
    size_t from = 0;
    for (;;) {
        const size_t start = text.find(L"%str", from);
        if (start == std::wstring::npos) return;
        const int id = StrToIntW(text.c_str() + start + 4);
        if (id <= 0) return;
        // The number holds no '%': the next one after "%str" closes the reference.
        const size_t close = text.find(L'%', start + 4);
        if (close == std::wstring::npos) return;
        LPCWSTR s = BkString::Get((UINT)id);
        const std::wstring with = s ? s : L"";
        text.replace(start, close + 1 - start, with);
        from = start + with.size();
    }
}

// ---- construction ------------------------------------------------------------------------------

CBkWindow::CBkWindow() { m_hBkWnd = BkWindowRegistry::Register(this); }

CBkWindow::~CBkWindow() { BkWindowRegistry::Unregister(m_hBkWnd); }

// ---- loading -----------------------------------------------------------------------------------

static int ReadInt(TiXmlElement* xml, const char* name) {
    const char* v = xml->Attribute(name);
    int n = 0;
    if (v && sscanf(v, "%d", &n) != 1) n = 0;
    return n;
}

BOOL CBkWindow::Load(TiXmlElement* xml) {
    if (!xml) return FALSE;

    const TiXmlNode* first = xml->FirstChild();
    const TiXmlText* text = first ? first->ToText() : nullptr;
    std::wstring inner = text ? BkUtf8ToWide(text->Value()) : std::wstring();
    BkSubstituteStrings(inner);
    m_strInnerText = inner;

    m_uSizeMode = 0;
    CBkObject::Load(xml);

    const char* show = xml->Attribute("show");
    if (show && *show) {
        int n = 0;
        if (sscanf(show, "%d", &n) != 1) n = 0;
        if (n) m_dwState &= ~kBkStateHidden;
        else m_dwState |= kBkStateHidden;
    }

    if (m_nPosCount != 2 && m_nPosCount != 4) {
        const char* w = xml->Attribute("width");
        const int width = ReadInt(xml, "width");
        if (width == 0 && w && strcmp(w, "full") == 0) {
            m_uSizeMode |= kBkSizeWidthFull;
            m_rcWindow.right = 0;
        } else if (width <= 0) {
            m_uSizeMode |= kBkSizeWidthAuto;
            m_rcWindow.right = 0;
        } else {
            m_uSizeMode |= kBkSizeWidthFixed;
            m_lFixedWidth = width;
            m_rcWindow.right = width;
        }

        const char* h = xml->Attribute("height");
        const int height = ReadInt(xml, "height");
        if (height == 0 && h && strcmp(h, "full") == 0) {
            m_uSizeMode |= kBkSizeHeightFull;
            m_rcWindow.bottom = 0;
        } else if (height <= 0) {
            m_uSizeMode |= kBkSizeHeightAuto;
            m_rcWindow.bottom = 0;
        } else {
            m_uSizeMode |= kBkSizeHeightFixed;
            m_lFixedHeight = height;
            m_rcWindow.bottom = height;
        }

        if (m_uSizeMode & (kBkSizeWidthAuto | kBkSizeHeightAuto)) {
            SIZE size = {0, 0};
            SendToSelf(WM_NCCALCSIZE, FALSE, (LPARAM)&size);
            if (m_uSizeMode & kBkSizeWidthAuto) m_rcWindow.right = size.cx;
            if (m_uSizeMode & kBkSizeHeightAuto) m_rcWindow.bottom = size.cy;
        }
    }

    m_uSizeMode |= ReadInt(xml, "float") ? kBkSizeFloat : kBkSizeNoFloat;
    return TRUE;
}

HRESULT CBkWindow::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    const char* v = value.c_str();
    if (name == "class") {
        m_style = *BkStylePool::GetStyle(value);
        return S_OK;
    }
    if (name == "id") {
        m_uCmdID = StrToIntA(v);
        return S_FALSE;
    }
    if (name == "crbg") {
        m_style.m_crBg = BkColorFromHex(v);
        return S_FALSE;
    }
    if (name == "crtext") {
        m_style.m_crText = BkColorFromHex(v);
        return S_FALSE;
    }
    if (name == "font") {
        m_style.m_ftText = BkFontPool::GetFont((WORD)BkHexToInt(v, -1));
        return S_FALSE;
    }
    if (name == "href") {
        m_strLinkUrl = BkUtf8ToWide(v);
        return S_FALSE;
    }
    if (name == "tip") {
        m_strToolTipText = BkUtf8ToWide(v);
        return S_FALSE;
    }
    if (name == "valign") {
        if (value == "top") m_uVAlign = kBkVAlignTop;
        else if (value == "middle") m_uVAlign = kBkVAlignMiddle;
        else if (value == "bottom") m_uVAlign = kBkVAlignBottom;
        else return E_FAIL;
        return S_OK;
    }
    if (name == "align") {
        if (value == "left") m_uHAlign = kBkAlignLeft;
        else if (value == "center") m_uHAlign = kBkAlignCenter;
        else if (value == "right") m_uHAlign = kBkAlignRight;
        else return E_FAIL;
        return S_OK;
    }
    if (name == "pos") {
        ParsePos(value, loading);
        return S_FALSE;
    }
    if (name == "transparent") {
        m_lTransparent = StrToIntA(v);
        return S_FALSE;
    }
    return CBkObject::SetAttribute(name, value, loading);
}

void CBkWindow::ParsePos(const std::string& text, BOOL loading) {
    if (text.empty()) return;

    BkPosItem items[4] = {};
    int count = 0;
    const char* p = text.c_str();
    while (count < 4) {
        BkPosItem& it = items[count];
        const char* q = p;
        if (*q == '|') {
            it.bCenter = TRUE;
            ++q;
        }
        if (*q == '-') {
            it.bMinus = TRUE;
            ++q;
        }
        it.nPos = StrToIntA(q);
        ++count;
        const char* comma = strchr(p, ',');
        if (!comma || !comma[1]) break;
        p = comma + 1;
    }

    m_nPosCount = 0;
    if (count != 2 && count != 4) return;  // any other count leaves the position out
    m_nPosCount = count;
    for (int i = 0; i < 4; ++i) m_pos[i] = i < count ? items[i] : BkPosItem{};
    m_uSizeMode = (m_uSizeMode & ~(kBkSizeWidthMask | kBkSizeHeightMask)) | kBkSizeWidthAuto | kBkSizeHeightAuto;

    if (!loading) {
        CBkWindow* parent = BkWindowRegistry::Find(m_hBkWndParent);
        if (parent && parent->IsContainer()) static_cast<CBkContainerWnd*>(parent)->RepositionChild(this);
    }
}

HRESULT CBkWindow::SetText(LPCWSTR text) {
    m_strInnerText = text ? text : L"";
    if ((m_uSizeMode & (kBkSizeWidthAuto | kBkSizeHeightAuto)) && m_nPosCount != 4) MeasureAutoExtents();
    return S_OK;
}

void CBkWindow::MeasureAutoExtents() {
    SIZE size = {0, 0};
    SendToSelf(WM_NCCALCSIZE, FALSE, (LPARAM)&size);
    if (m_uSizeMode & kBkSizeWidthAuto) m_rcWindow.right = m_rcWindow.left + size.cx;
    if (m_uSizeMode & kBkSizeHeightAuto) m_rcWindow.bottom = m_rcWindow.top + size.cy;
}

void CBkWindow::SetCursor() { ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(m_style.m_uCursorId))); }

HBKWND CBkWindow::HitTest(POINT pt) { return ::PtInRect(&m_rcWindow, pt) ? m_hBkWnd : 0; }

BOOL CBkWindow::RedrawsOnStateChange() {
    if (!m_style.m_strSkinName.empty()) {
        CBkSkinBase* skin = BkSkinPool::GetSkin(m_style.m_strSkinName);
        if (skin && !skin->IgnoreState()) return TRUE;
    }
    return m_style.m_crHoverText != CLR_INVALID || m_style.m_ftHover != nullptr || m_style.m_crBgHover != CLR_INVALID;
}

void CBkWindow::SetVisible(BOOL visible) {
    if (visible) m_dwState &= ~kBkStateHidden;
    else m_dwState |= kBkStateHidden;
}

BOOL CBkWindow::ApplyShowMessage(BOOL shown) {
    SetVisible(shown);
    return !shown || IsVisibleDeep();
}

void CBkWindow::ShowOverlay(HWND overlay, const RECT& want, BOOL shown) const {
    RECT have = {};
    ::GetWindowRect(overlay, &have);
    ::MapWindowPoints(nullptr, m_hWndContainer, (POINT*)&have, 2);
    if (!::EqualRect(&have, &want))
        ::SetWindowPos(overlay, nullptr, want.left, want.top, want.right - want.left, want.bottom - want.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(overlay, shown ? SW_SHOW : SW_HIDE);
}

BOOL CBkWindow::IsVisibleDeep() const {
    // The depth is bounded: a parent chain that loops back (a fault elsewhere) must not hang us.
    const CBkWindow* w = this;
    for (int depth = 0; w && depth < 1024; ++depth) {
        if (w->m_dwState & kBkStateHidden) return FALSE;
        w = w->m_hBkWndParent ? BkWindowRegistry::Find(w->m_hBkWndParent) : nullptr;
    }
    return TRUE;
}

BOOL CBkWindow::IsDisabledDeep() const {
    const CBkWindow* w = this;
    for (int depth = 0; w && depth < 1024; ++depth) {
        if (w->m_dwState & kBkStateDisabled) return TRUE;
        w = w->m_hBkWndParent ? BkWindowRegistry::Find(w->m_hBkWndParent) : nullptr;
    }
    return FALSE;
}

// ---- redraw ------------------------------------------------------------------------------------

void CBkWindow::RequestRedraw() { RequestRedraw(m_rcWindow); }

void CBkWindow::RequestRedraw(const RECT& rc) {
    if (!IsVisibleDeep() || !m_hWndContainer || !::IsWindow(m_hWndContainer)) return;
    BkRedrawNotify nms = {};
    nms.hdr.hwndFrom = nullptr;
    nms.hdr.idFrom = (UINT_PTR)(INT_PTR)m_uCmdID;
    nms.hdr.code = kBkNotifyRedraw;
    nms.hbkWnd = m_hBkWnd;
    nms.rcWnd = rc;
    ::SendMessageW(m_hWndContainer, WM_NOTIFY, (WPARAM)(INT_PTR)m_uCmdID, (LPARAM)&nms);
}

LRESULT CBkWindow::SendToSelf(UINT msg, WPARAM wParam, LPARAM lParam) {
    m_bMsgHandled = FALSE;
    LRESULT result = 0;
    ProcessMessage(m_hWndContainer, msg, wParam, lParam, result);
    return result;
}

// ---- measuring and placement -------------------------------------------------------------------

HFONT CBkWindow::MeasureFont() const {
    // Measuring inherits the nearest ancestor's font, while drawing uses only the element's own
    // (its container has already selected the ancestor's font into the DC by then). The two agree
    // for every layout whose fonts sit on the element or its panel.
    HFONT font = nullptr;
    const CBkWindow* w = this;
    for (int depth = 0; w && !font && depth < 1024; ++depth) {
        font = w->m_style.m_ftText;
        w = w->m_hBkWndParent ? BkWindowRegistry::Find(w->m_hBkWndParent) : nullptr;
    }
    if (m_dwState & kBkStateHover) {
        HFONT hover = nullptr;
        w = this;
        for (int depth = 0; w && !hover && depth < 1024; ++depth) {
            hover = w->m_style.m_ftHover;
            w = w->m_hBkWndParent ? BkWindowRegistry::Find(w->m_hBkWndParent) : nullptr;
        }
        if (hover) font = hover;
    }
    if (!font) font = BkFontPool::GetFont(0);
    return font;
}

void CBkWindow::OnMeasure(BOOL constrained, SIZE* size) {
    if (!size) return;
    if (m_nPosCount == 4) {
        const int w = size->cx, h = size->cy;
        const int left = BkResolvePos(m_pos[0], w), top = BkResolvePos(m_pos[1], h);
        const int right = BkResolvePos(m_pos[2], w), bottom = BkResolvePos(m_pos[3], h);
        size->cx = right - left;
        size->cy = bottom - top;
        return;
    }

    RECT box = m_rcWindow;
    if (constrained) {
        box.right = box.left + size->cx;
        box.bottom = box.top + size->cy;
    }
    ::InflateRect(&box, -m_style.m_nMarginX, -m_style.m_nMarginY);

    const UINT mode = m_style.m_nTextMode & ~0x0Fu;
    if (mode & DT_WORDBREAK) box.bottom = 0x7FFF;

    HDC screen = ::GetDC(nullptr);
    HDC dc = screen ? ::CreateCompatibleDC(screen) : nullptr;
    if (screen) ::ReleaseDC(nullptr, screen);
    if (dc) {
        HGDIOBJ old = ::SelectObject(dc, MeasureFont());
        ::DrawTextW(dc, m_strInnerText.GetString(), m_strInnerText.GetLength(), &box, mode | DT_CALCRECT);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
    }
    size->cx = (box.right - box.left) + 2 * m_style.m_nMarginX;
    size->cy = (box.bottom - box.top) + 2 * m_style.m_nMarginY;
}

void CBkWindow::OnPlacement(const WINDOWPOS* pos) {
    if (!pos) return;
    ::OffsetRect(&m_rcWindow, pos->x - m_rcWindow.left, pos->y - m_rcWindow.top);

    SIZE size = {pos->cx, pos->cy};
    SendToSelf(WM_NCCALCSIZE, TRUE, (LPARAM)&size);
    m_rcWindow.left = pos->x;
    m_rcWindow.top = pos->y;
    m_rcWindow.right = pos->x + size.cx;
    m_rcWindow.bottom = pos->y + size.cy;

    if (m_uSizeMode & kBkSizeWidthFull) m_rcWindow.right = std::max(m_rcWindow.left, (LONG)(pos->x + pos->cx));
    else if (m_uSizeMode & kBkSizeWidthFixed) m_rcWindow.right = m_rcWindow.left + m_lFixedWidth;
    if (m_uSizeMode & kBkSizeHeightFull) m_rcWindow.bottom = std::max(m_rcWindow.top, (LONG)(pos->y + pos->cy));
    else if (m_uSizeMode & kBkSizeHeightFixed) m_rcWindow.bottom = m_rcWindow.top + m_lFixedHeight;
}

// ---- painting ----------------------------------------------------------------------------------

BOOL CBkWindow::PaintInRegion(HDC dc, HRGN region) {
    if (region && !::RectInRegion(region, &m_rcWindow)) return FALSE;
    DrawBackground(dc);
    SendToSelf(WM_PAINT, (WPARAM)dc, 0);
    return TRUE;
}

void CBkWindow::DrawBackground(HDC dc) {
    if (!m_style.m_strSkinName.empty()) {
        CBkSkinBase* skin = BkSkinPool::GetSkin(m_style.m_strSkinName);
        if (skin) skin->Draw(dc, m_rcWindow, m_dwState);
        return;
    }
    COLORREF colour = m_style.m_crBg;
    if ((m_dwState & kBkStateHover) && m_style.m_crBgHover != CLR_INVALID) colour = m_style.m_crBgHover;
    if (colour == CLR_INVALID) return;
    const COLORREF old = ::SetBkColor(dc, colour);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &m_rcWindow, nullptr, 0, nullptr);
    ::SetBkColor(dc, old);
}

void CBkWindow::DrawInnerText(HDC dc) {
    RECT box = m_rcWindow;
    ::InflateRect(&box, -m_style.m_nMarginX, -m_style.m_nMarginY);

    int oldMode = 0;
    BOOL modeChanged = FALSE;
    if (!m_style.m_strSkinName.empty()) {
        oldMode = ::SetBkMode(dc, TRANSPARENT);
        modeChanged = TRUE;
    }
    COLORREF oldBk = CLR_INVALID;
    if (m_style.m_crBg != CLR_INVALID) oldBk = ::SetBkColor(dc, m_style.m_crBg);

    HFONT font = m_style.m_ftText;
    COLORREF colour = m_style.m_crText;
    if (IsDisabledDeep()) {
        colour = m_style.m_crDisabledText;
    } else if (m_dwState & kBkStateHover) {
        if (m_style.m_crHoverText != CLR_INVALID) colour = m_style.m_crHoverText;
        if (m_style.m_ftHover) font = m_style.m_ftHover;
    }
    HGDIOBJ oldFont = font ? ::SelectObject(dc, font) : nullptr;
    COLORREF oldText = CLR_INVALID;
    if (colour != CLR_INVALID) oldText = ::SetTextColor(dc, colour);

    ::DrawTextW(dc, m_strInnerText.GetString(), m_strInnerText.GetLength(), &box, m_style.m_nTextMode);

    if (oldFont) ::SelectObject(dc, oldFont);
    if (oldText != CLR_INVALID) ::SetTextColor(dc, oldText);
    if (modeChanged) ::SetBkMode(dc, oldMode);
    if (oldBk != CLR_INVALID) ::SetBkColor(dc, oldBk);
}

// ---- messages ----------------------------------------------------------------------------------

BOOL CBkWindow::ProcessMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_CREATE:
        result = 1;
        break;
    case WM_DESTROY:
        result = 0;
        break;
    case WM_PAINT:
        DrawInnerText((HDC)wParam);
        result = 0;
        break;
    case WM_SHOWWINDOW:
        SetVisible((BOOL)wParam);
        result = 0;
        break;
    case WM_WINDOWPOSCHANGED:
        OnPlacement((const WINDOWPOS*)lParam);
        result = 0;
        break;
    case WM_NCCALCSIZE:
        OnMeasure((BOOL)wParam, (SIZE*)lParam);
        result = 0;
        break;
    default:
        return TRUE;
    }
    m_bMsgHandled = TRUE;
    return TRUE;
}
