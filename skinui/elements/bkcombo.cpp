#include "bkcombo.h"

#include <shlwapi.h>
#include <string.h>
#include <windowsx.h>

#include <tinyxml.h>

#include "bkres.h"
#include "bkstyle.h"
#include "bkwndreg.h"
#include "winlayer/window.h"

WNDPROC CbkCombo::s_editClassProc = nullptr;

namespace {
const wchar_t kComboClass[] = L"BkCombo";
}

CbkCombo::CbkCombo() : m_pDropList(new KComboBoxPopList()) {}

CbkCombo::~CbkCombo() {
    // The edit window goes first, so that its "WndX" never names a dead element; its last message
    // still finds the drop list and the tip alive.
    if (m_hWndEdit && ::IsWindow(m_hWndEdit)) ::DestroyWindow(m_hWndEdit);
    m_hWndEdit = nullptr;
    KPopUpListWnd::Dispose(m_pDropList.release());
    m_tooltip.Destroy();
    BkWindowRegistry::RemoveFromComboList(this, m_strGroup);
    if (m_hPenNormal) ::DeleteObject(m_hPenNormal);
    if (m_hPenHover) ::DeleteObject(m_hPenHover);
}

// ---- loading -----------------------------------------------------------------------------------

BOOL CbkCombo::Load(TiXmlElement* xml) {
    if (!CBkWindow::Load(xml)) return FALSE;
    if (!xml->Value() || strcmp(xml->Value(), kTag) != 0) return FALSE;
    if (m_pDropList) {
        // The rows are as high as the "pos" says (bottom minus top as written); a "pos" without
        // both keeps the list's own row height rather than rows of no height.
        m_pDropList->SetRowHeight(m_pos[3].nPos - m_pos[1].nPos);
        m_pDropList->SetHighlightColor(m_crListHighlight);
        m_pDropList->SetFrameColor(m_crListFrame);
        m_pDropList->SetExtraColors(m_crList1, m_crList2);
    }
    BkWindowRegistry::AddToComboList(this, m_strGroup);
    return TRUE;
}

HRESULT CbkCombo::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    if (name == "defaultfont") {
        m_wFontCode = (WORD)BkHexToInt(value.c_str(), -1);
        if (m_hWndEdit) ::SendMessageW(m_hWndEdit, WM_SETFONT, (WPARAM)BkFontPool::GetFont(m_wFontCode), TRUE);
        return S_FALSE;
    }
    if (name == "password") {
        m_bPassword = StrToIntA(value.c_str()) != 0;
        return S_FALSE;
    }
    return E_FAIL;
}

// ---- items -------------------------------------------------------------------------------------

const CbkCombo::Item* CbkCombo::FindItem(LPCWSTR text) const {
    if (!text) return nullptr;
    for (const Item& it : m_items) {
        if (_wcsicmp(it.text.GetString(), text) == 0 || _wcsicmp(it.value.GetString(), text) == 0) return &it;
    }
    return nullptr;
}

BOOL CbkCombo::AddItem(LPCWSTR text, LPCWSTR value) {
    if (!text || FindItem(text)) return FALSE;
    m_items.push_back(Item{CString(text), CString(value ? value : text)});
    RebuildDropList();
    return TRUE;
}

void CbkCombo::RebuildDropList() {
    if (!m_pDropList) return;
    std::vector<CString> values;
    values.reserve(m_items.size());
    for (const Item& it : m_items) values.push_back(it.value);
    m_pDropList->Build(this, m_hWndContainer, std::vector<HBITMAP>(), values);
}

void CbkCombo::SelectFirstItem() {
    m_nSelected = 0;
    if (m_items.empty()) return;
    CBkWindow::SetText(m_items[0].value.GetString());
    if ((m_dwStyle & kStyleEditWindow) && m_hWndEdit) ::SetWindowTextW(m_hWndEdit, m_items[0].text.GetString());
}

CString CbkCombo::GetSelectedValue() {
    CString typed;
    if (m_hWndEdit) {
        wchar_t buf[260] = {};
        ::GetWindowTextW(m_hWndEdit, buf, 260);
        typed = buf;
    } else {
        // Without an edit window the element text holds the choice.
        typed = m_strInnerText;
    }
    const Item* it = FindItem(typed.GetString());
    CBkWindow::SetText(it ? it->value.GetString() : typed.GetString());
    return m_strInnerText;
}

BOOL CbkCombo::StepSelection(short delta) {
    const int step = delta / WHEEL_DELTA;
    const int count = (int)m_items.size();
    if (step == 0 || count == 0) return FALSE;
    if (m_nSelected < 0 || m_nSelected >= count) return FALSE;
    if (step < 0) {
        if (m_nSelected >= count - 1) return FALSE;
        ++m_nSelected;
    } else {
        if (m_nSelected <= 0) return FALSE;
        --m_nSelected;
    }
    return TRUE;
}

void CbkCombo::ShowItemInEdit(int index) {
    if (!m_hWndEdit || index < 0 || index >= (int)m_items.size()) return;
    ::SetWindowTextW(m_hWndEdit, m_items[(size_t)index].text.GetString());
    ::SendMessageW(m_hWndEdit, EM_SETSEL, 0, -1);
}

// ---- geometry ----------------------------------------------------------------------------------

RECT CbkCombo::TextPart() const {
    const int a = ArrowUnit();
    return RECT{m_rcWindow.left, m_rcWindow.top, m_rcWindow.right - 4 * a + 2, m_rcWindow.bottom};
}

RECT CbkCombo::EditRect() const {
    const int a = ArrowUnit(), h = m_rcWindow.bottom - m_rcWindow.top;
    const int x = m_rcWindow.left + 2, y = m_rcWindow.top + 2;
    return RECT{x, y, x + (m_rcWindow.right - m_rcWindow.left) - 4 * a, y + h - 4};
}

// ---- the real window ---------------------------------------------------------------------------

BOOL CbkCombo::RegisterComboClass() {
    HINSTANCE inst = WinModuleInstance();
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(nullptr, L"EDIT", &wc) && !::GetClassInfoExW(inst, L"EDIT", &wc)) return FALSE;
    s_editClassProc = wc.lpfnWndProc;
    wc.cbSize = sizeof(wc);
    wc.style &= ~CS_GLOBALCLASS;
    wc.lpfnWndProc = &CbkCombo::EditProc;
    wc.hInstance = inst;
    wc.lpszClassName = kComboClass;
    wc.lpszMenuName = nullptr;
    if (::RegisterClassExW(&wc)) return TRUE;
    return ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void CbkCombo::MakeTooltip() {
    if (!(m_dwStyle & kStyleTooltip) || !m_hWndContainer || !::IsWindow(m_hWndContainer)) return;
    if (m_tooltip.m_hWnd) return;
    if (m_tooltip.Create(m_hWndContainer)) m_tooltip.EnableDelayedHide();
}

void CbkCombo::MakeEditWindow() {
    // The tip does not need the edit window: a combo without one has it too.
    MakeTooltip();
    if (!(m_dwStyle & kStyleEditWindow)) return;
    if (m_hWndEdit || !m_hWndContainer || !::IsWindow(m_hWndContainer)) return;
    if (!RegisterComboClass()) return;
    m_pfnEditProc = s_editClassProc;
    const RECT r = EditRect();
    HWND h = ::CreateWindowExW(0, kComboClass, L"", m_bPassword ? kEditStylePassword : kEditStyle, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, m_hWndContainer, (HMENU)(INT_PTR)m_uCmdID,
                               WinModuleInstance(), this);
    if (!h || h != m_hWndEdit) return;

    if (m_dwStyle & kStyleReadOnly) m_bReadOnly = 1;
    ::SendMessageW(h, WM_SETFONT, (WPARAM)BkFontPool::GetFont(m_wFontCode), FALSE);
    ::SendMessageW(h, EM_LIMITTEXT, 100, 0);
    if (m_bPassword) ::SendMessageW(h, EM_SETPASSWORDCHAR, m_chPassword, 0);
    ::SetWindowTextW(h, m_strInnerText.GetString());
    ::SendMessageW(h, EM_SETMODIFY, FALSE, 0);
    ::SendMessageW(h, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    ::EnableWindow(h, IsEnabled());
    ::SendMessageW(h, EM_SETREADONLY, m_bReadOnly, 0);
    if (IsVisibleDeep()) {
        ::ShowWindow(h, SW_SHOWNOACTIVATE);
        ::SetFocus(h);
    } else {
        ::ShowWindow(h, SW_HIDE);  // under a hidden panel until it shows
    }

}

void CbkCombo::OnEditDestroyed() {
    m_hWndEdit = nullptr;
    // The list object stays with the element, so that the next window it gets has a working list.
    if (m_pDropList && m_pDropList->m_hWnd && ::IsWindow(m_pDropList->m_hWnd)) m_pDropList->DestroyWindow();
    if (m_dwStyle & kStyleTooltip) m_tooltip.Destroy();
    m_bTipShown = FALSE;
}

void CbkCombo::PlaceEditWindow() {
    if (!m_hWndEdit && m_bKeepWindow) MakeEditWindow();
    if (!m_hWndEdit) return;
    const RECT r = EditRect();
    ::SetWindowPos(m_hWndEdit, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOREDRAW | SWP_NOZORDER | SWP_NOACTIVATE);
    if (m_hWndContainer) {
        const int a = ArrowUnit();
        const int ctrlId = ::GetDlgCtrlID(m_hWndContainer);
        BkRealWndMovedNotify n = {};
        n.hdr.hwndFrom = m_hWndContainer;
        n.hdr.idFrom = (UINT_PTR)(INT_PTR)ctrlId;
        n.hdr.code = kBkNotifyRealWndMoved;
        n.uItemID = (UINT)m_uCmdID;
        n.rcWnd = RECT{m_rcWindow.left + 2, m_rcWindow.top + 2, m_rcWindow.right - 4 * a + 2, m_rcWindow.bottom - 2};
        ::SendMessageW(m_hWndContainer, WM_NOTIFY, (WPARAM)(INT_PTR)ctrlId, (LPARAM)&n);
    }
    if (m_hWndEdit && ::IsWindowVisible(m_hWndEdit)) {
        ::InvalidateRect(m_hWndEdit, nullptr, TRUE);
        ::SetWindowPos(m_hWndEdit, nullptr, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CbkCombo::OpenDropList(int width) {
    if (!m_pDropList) return;
    // A list made for another host window (or gone with it) is made again for this one. A popup's
    // owner is the top-level window of the parent it was made with.
    HWND list = m_pDropList->m_hWnd;
    HWND root = m_hWndContainer ? ::GetAncestor(m_hWndContainer, GA_ROOT) : nullptr;
    if (!m_items.empty() && (!list || ::GetWindow(list, GW_OWNER) != root)) RebuildDropList();
    if (!m_pDropList->m_hWnd || !m_hWndContainer) return;
    POINT pt = {m_rcWindow.left, m_rcWindow.bottom};
    ::ClientToScreen(m_hWndContainer, &pt);
    m_pDropList->SetHighlight(m_nSelected);
    m_pDropList->ShowDropDown(pt.x, pt.y, width);
}

LRESULT CALLBACK CbkCombo::EditProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC base = s_editClassProc ? s_editClassProc : ::DefWindowProcW;
    if (msg == WM_NCCREATE) {
        const CREATESTRUCTW* cs = (const CREATESTRUCTW*)lParam;
        CbkCombo* self = cs ? (CbkCombo*)cs->lpCreateParams : nullptr;
        if (self) {
            ::SetPropW(hWnd, BK_ELEMENT_PROP, (HANDLE)self);
            self->m_hWndEdit = hWnd;
        }
        return ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
    }
    CbkCombo* self = (CbkCombo*)::GetPropW(hWnd, BK_ELEMENT_PROP);
    if (!self) return ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        const LRESULT r = ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
        ::RemovePropW(hWnd, BK_ELEMENT_PROP);
        if (self->m_hWndEdit == hWnd) self->OnEditDestroyed();
        return r;
    }
    LRESULT r = 0;
    if (self->OnEditMessage(hWnd, msg, wParam, lParam, r)) return r;
    return ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
}

BOOL CbkCombo::OnEditMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    WNDPROC base = m_pfnEditProc ? m_pfnEditProc : s_editClassProc;
    switch (msg) {
    case WM_MOUSEMOVE: {
        m_bHover = 1;
        if ((m_dwStyle & kStyleTooltip) && m_hWndContainer) {
            m_tooltip.Show(TRUE);
            POINT pt = {m_rcWindow.left - 12, m_rcWindow.top - 45};
            ::ClientToScreen(m_hWndContainer, &pt);
            m_tooltip.TrackTo(pt, m_strTip.GetString());
        }
        m_bOverArrow = 0;
        RequestRedraw();
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, hWnd, 0};
        ::TrackMouseEvent(&tme);
        return FALSE;
    }
    case WM_MOUSELEAVE:
        m_bHover = 0;
        m_bOverArrow = 0;
        if (m_dwStyle & kStyleTooltip) m_tooltip.Show(FALSE);  // arms the delayed hide
        RequestRedraw();
        return FALSE;
    case WM_LBUTTONDOWN: {
        // The edit takes its click (caret, focus, its own capture) first; the list opened after it
        // keeps the capture and the focus, so it is not closed by the very click that opened it.
        result = ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
        RECT rc = {};
        ::GetWindowRect(hWnd, &rc);
        OpenDropList(rc.right - rc.left);
        return TRUE;
    }
    case WM_MOUSEWHEEL:
        if (StepSelection((short)HIWORD(wParam))) {
            ShowItemInEdit(m_nSelected);
            RequestRedraw();
        }
        return FALSE;
    case WM_KILLFOCUS:
        result = ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
        if (!m_bKeepWindow) ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
        return TRUE;
    case OCM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE) {
            const int len = ::GetWindowTextLengthW(hWnd);
            std::vector<wchar_t> text((size_t)len + 1, L'\0');
            ::GetWindowTextW(hWnd, text.data(), len + 1);
            CBkWindow::SetText(text.data());
            RequestRedraw();
        } else if (HIWORD(wParam) == EN_UPDATE) {
            ::InvalidateRect(hWnd, nullptr, FALSE);
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// ---- the element -------------------------------------------------------------------------------

void CbkCombo::SetCursor() {
    POINT pt = {};
    ::GetCursorPos(&pt);
    if (m_hWndContainer) ::ScreenToClient(m_hWndContainer, &pt);
    const RECT text = TextPart();
    ::SetCursor(::LoadCursorW(nullptr, m_bHover && ::PtInRect(&text, pt) ? IDC_IBEAM : IDC_ARROW));
}

void CbkCombo::Paint(HDC dc) {
    if (!dc) return;
    if (!m_hPenNormal) m_hPenNormal = ::CreatePen(PS_INSIDEFRAME, 1, CBkEdit::kBorderColour);
    if (!m_hPenHover) m_hPenHover = ::CreatePen(PS_INSIDEFRAME, 2, CBkEdit::kHoverColour);
    const BOOL enabled = IsEnabled();
    if (m_hWndEdit && (::IsWindowEnabled(m_hWndEdit) != 0) != (enabled != 0)) ::EnableWindow(m_hWndEdit, enabled);
    const RECT& rc = m_rcWindow;
    const int h = rc.bottom - rc.top, a = ArrowUnit();

    const COLORREF oldBk = ::SetBkColor(dc, enabled ? RGB(0xFF, 0xFF, 0xFF) : CBkEdit::kDisabledBackground);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(dc, oldBk);

    // The edit window shows the text when there is one; otherwise (also when it could not be
    // made) the element draws it.
    if (!m_hWndEdit) {
        RECT box = {rc.left + 4, rc.top + 2, rc.right - h + 2, rc.bottom - 2};
        HFONT font = BkFontPool::GetFont(m_wFontCode);
        HGDIOBJ oldFont = font ? ::SelectObject(dc, font) : nullptr;
        const int oldMode = ::SetBkMode(dc, TRANSPARENT);
        ::DrawTextW(dc, m_strInnerText.GetString(), m_strInnerText.GetLength(), &box, DT_SINGLELINE | DT_VCENTER);
        ::SetBkMode(dc, oldMode);
        if (oldFont) ::SelectObject(dc, oldFont);
    }

    const COLORREF arrow = (m_bHover && m_bOverArrow) ? kArrowHover : m_crListFrame;
    HBRUSH brush = ::CreateSolidBrush(arrow);
    HPEN arrowPen = ::CreatePen(PS_SOLID, 1, arrow);
    HGDIOBJ oldBrush = brush ? ::SelectObject(dc, brush) : nullptr;
    HGDIOBJ oldPen = arrowPen ? ::SelectObject(dc, arrowPen) : nullptr;
    const POINT tri[3] = {{rc.right - 3 * a + 2, rc.top + a + 1},
                          {rc.right - a + 1, rc.top + a + 1},
                          {rc.right - 2 * a + 1, rc.top + 2 * a + 1}};
    ::Polygon(dc, tri, 3);
    if (oldPen) ::SelectObject(dc, oldPen);
    if (oldBrush) ::SelectObject(dc, oldBrush);
    if (arrowPen) ::DeleteObject(arrowPen);
    if (brush) ::DeleteObject(brush);

    if (m_dwStyle & kStyleSeparator) {
        const RECT line = {rc.right + 2 - 4 * a, rc.top, rc.right + 3 - 4 * a, rc.bottom};
        const COLORREF old = ::SetBkColor(dc, m_crListFrame);
        ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &line, nullptr, 0, nullptr);
        ::SetBkColor(dc, old);
    }

    HPEN pen = m_bHover ? m_hPenHover : m_hPenNormal;
    oldPen = pen ? ::SelectObject(dc, pen) : nullptr;
    oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
    ::Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
    ::SelectObject(dc, oldBrush);
    if (oldPen) ::SelectObject(dc, oldPen);
}

BOOL CbkCombo::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_PAINT:
        Paint((HDC)wParam);
        break;
    case WM_SHOWWINDOW:
        if (!ApplyShowMessage((BOOL)wParam)) break;
        if (m_bKeepWindow) MakeEditWindow();
        if (m_hWndEdit) ShowOverlay(m_hWndEdit, EditRect(), (BOOL)wParam);
        break;
    case WM_WINDOWPOSCHANGED: {
        const RECT before = m_rcWindow;
        CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
        if (!::EqualRect(&before, &m_rcWindow) || (!m_hWndEdit && m_bKeepWindow)) PlaceEditWindow();
        break;
    }
    case WM_MOUSEMOVE: {
        if (!IsEnabled()) break;
        m_bHover = 1;
        if ((m_dwStyle & kStyleTooltip) && m_hWndContainer) {
            m_tooltip.Show(TRUE);
            POINT at = {m_rcWindow.left - 12, m_rcWindow.top - 45};
            ::ClientToScreen(m_hWndContainer, &at);
            m_tooltip.TrackTo(at, m_strTip.GetString());
        }
        const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const RECT text = TextPart();
        const BYTE over = ::PtInRect(&text, pt) ? 0 : 1;
        if (over != m_bOverArrow) {
            m_bOverArrow = over;
            RequestRedraw();
        }
        break;
    }
    case WM_LBUTTONDOWN: {
        if (!IsEnabled()) break;
        if (!m_hWndEdit) MakeEditWindow();
        const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (!::PtInRect(&m_rcWindow, pt)) break;
        const RECT text = TextPart();
        if (m_hWndEdit) {
            const int len = ::GetWindowTextLengthW(m_hWndEdit);
            ::SendMessageW(m_hWndEdit, EM_SETSEL, 0, len ? len : 1);
            OpenDropList(m_rcWindow.right - m_rcWindow.left);
        } else if (!::PtInRect(&text, pt)) {
            OpenDropList(m_rcWindow.right - m_rcWindow.left);
        }
        break;
    }
    case WM_MOUSEWHEEL:
        if (StepSelection((short)HIWORD(wParam))) {
            const CString& t = m_items[(size_t)m_nSelected].text;
            ShowItemInEdit(m_nSelected);
            CBkWindow::SetText(t.GetString());
            RequestRedraw();
            if (m_pDropList && m_pDropList->m_hWnd) {
                m_pDropList->SetHighlight(m_nSelected);
                m_pDropList->Invalidate(TRUE);
            }
        }
        break;
    case WM_MOUSELEAVE:
        m_bHover = 0;
        if (m_dwStyle & kStyleTooltip) m_tooltip.Show(FALSE);  // with the delayed hide: timer 1024
        break;
    case kBkMsgPopListChosen: {
        const int row = (int)wParam;
        if (row < 0 || row >= (int)m_items.size()) break;  // a row the combo does not have changes nothing
        const CString text((LPCWSTR)lParam);
        m_nSelected = row;
        // Edit and element show the choice before the host hears of it, so that a host reading
        // the selection in its handler reads this one.
        if (m_hWndEdit) ::SetWindowTextW(m_hWndEdit, m_items[(size_t)row].text.GetString());
        CBkWindow::SetText(text.GetString());
        RequestRedraw();
        // The host may rebuild its layout in its handler, which deletes this combo: everything of
        // ours is done before the notice, and nothing of it is touched after.
        result = 0;
        m_bMsgHandled = TRUE;
        if (HWND host = m_hWndContainer) ::SendMessageW(host, kBkMsgComboSelChanged, (WPARAM)row, (LPARAM)text.GetString());
        return TRUE;
    }
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
