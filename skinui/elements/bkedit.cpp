#include "bkedit.h"

#include <shlwapi.h>
#include <windowsx.h>

#include <vector>

#include "bkres.h"
#include "bkstyle.h"
#include "winlayer/window.h"

WNDPROC CBkEdit::s_editClassProc = nullptr;

namespace {
const wchar_t kEditClass[] = L"BkEdit";
}

CBkEdit::~CBkEdit() {
    // The window must not outlive the element its "WndX" names.
    if (m_hWndEdit && ::IsWindow(m_hWndEdit)) ::DestroyWindow(m_hWndEdit);
    m_hWndEdit = nullptr;
    if (m_hPenNormal) ::DeleteObject(m_hPenNormal);
    if (m_hPenHover) ::DeleteObject(m_hPenHover);
}

HRESULT CBkEdit::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
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
    if (name == "readonly") {
        m_bReadOnly = StrToIntA(value.c_str()) != 0;
        if (m_hWndEdit) ::SendMessageW(m_hWndEdit, EM_SETREADONLY, m_bReadOnly, 0);
        return S_FALSE;
    }
    return E_FAIL;
}

HRESULT CBkEdit::SetText(LPCWSTR text) {
    HRESULT hr = CBkWindow::SetText(text);
    if (m_hWndEdit) ::SetWindowTextW(m_hWndEdit, text ? text : L"");
    return hr;
}

void CBkEdit::SetCursor() { ::SetCursor(::LoadCursorW(nullptr, m_bHover ? IDC_IBEAM : IDC_ARROW)); }

RECT CBkEdit::EditRect() const {
    return RECT{m_rcWindow.left + 2, m_rcWindow.top + 2, m_rcWindow.right - 2, m_rcWindow.bottom - 2};
}

HWND CBkEdit::GetEditWindow() {
    if (m_bKeepWindow && !m_hWndEdit) MakeEditWindow();
    return m_hWndEdit;
}

// ---- the real window ---------------------------------------------------------------------------

BOOL CBkEdit::RegisterEditClass() {
    HINSTANCE inst = WinModuleInstance();
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(nullptr, L"EDIT", &wc) && !::GetClassInfoExW(inst, L"EDIT", &wc)) return FALSE;
    s_editClassProc = wc.lpfnWndProc;
    wc.cbSize = sizeof(wc);
    wc.style &= ~CS_GLOBALCLASS;
    wc.lpfnWndProc = &CBkEdit::EditProc;
    wc.hInstance = inst;
    wc.lpszClassName = kEditClass;
    wc.lpszMenuName = nullptr;
    if (::RegisterClassExW(&wc)) return TRUE;
    return ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void CBkEdit::MakeEditWindow() {
    if (m_hWndEdit || !m_hWndContainer || !::IsWindow(m_hWndContainer)) return;
    if (!RegisterEditClass()) return;
    m_pfnEditProc = s_editClassProc;
    const RECT r = EditRect();
    const DWORD style = m_bPassword ? kStylePassword : kStylePlain;
    HWND h = ::CreateWindowExW(0, kEditClass, L"", style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                               m_hWndContainer, (HMENU)(INT_PTR)m_uCmdID, WinModuleInstance(), this);
    if (!h || h != m_hWndEdit) return;

    ::SendMessageW(h, WM_SETFONT, (WPARAM)BkFontPool::GetFont(m_wFontCode), FALSE);
    ::SendMessageW(h, EM_LIMITTEXT, kTextLimit, 0);
    if (m_bPassword) ::SendMessageW(h, EM_SETPASSWORDCHAR, m_chPassword, 0);
    ::SetWindowTextW(h, m_strInnerText.GetString());
    ::SendMessageW(h, EM_SETMODIFY, FALSE, 0);
    ::SendMessageW(h, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    ::EnableWindow(h, IsEnabled());
    ::SendMessageW(h, EM_SETREADONLY, m_bReadOnly, 0);
    // An element under a hidden panel keeps its window hidden until the panel shows.
    ::ShowWindow(h, IsVisibleDeep() ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void CBkEdit::PlaceEditWindow(BOOL notify) {
    if (!m_hWndEdit && m_bKeepWindow) MakeEditWindow();
    if (!m_hWndEdit) return;
    const RECT r = EditRect();
    ::SetWindowPos(m_hWndEdit, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOREDRAW | SWP_NOZORDER | SWP_NOACTIVATE);
    if (notify && m_hWndContainer) {
        const int ctrlId = ::GetDlgCtrlID(m_hWndContainer);
        BkRealWndMovedNotify n = {};
        n.hdr.hwndFrom = m_hWndContainer;
        n.hdr.idFrom = (UINT_PTR)(INT_PTR)ctrlId;
        n.hdr.code = kBkNotifyRealWndMoved;
        n.uItemID = (UINT)m_uCmdID;
        n.rcWnd = r;
        ::SendMessageW(m_hWndContainer, WM_NOTIFY, (WPARAM)(INT_PTR)ctrlId, (LPARAM)&n);
    }
    if (m_hWndEdit && ::IsWindowVisible(m_hWndEdit)) {
        ::InvalidateRect(m_hWndEdit, nullptr, TRUE);
        ::SetWindowPos(m_hWndEdit, nullptr, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

LRESULT CALLBACK CBkEdit::EditProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC base = s_editClassProc ? s_editClassProc : ::DefWindowProcW;
    if (msg == WM_NCCREATE) {
        const CREATESTRUCTW* cs = (const CREATESTRUCTW*)lParam;
        CBkEdit* self = cs ? (CBkEdit*)cs->lpCreateParams : nullptr;
        if (self) {
            ::SetPropW(hWnd, BK_ELEMENT_PROP, (HANDLE)self);
            self->m_hWndEdit = hWnd;
        }
        return ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
    }
    CBkEdit* self = (CBkEdit*)::GetPropW(hWnd, BK_ELEMENT_PROP);
    if (!self) return ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        const LRESULT r = ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
        ::RemovePropW(hWnd, BK_ELEMENT_PROP);
        if (self->m_hWndEdit == hWnd) self->m_hWndEdit = nullptr;
        return r;
    }
    LRESULT r = 0;
    if (self->OnEditMessage(hWnd, msg, wParam, lParam, r)) return r;
    return ::CallWindowProcW(base, hWnd, msg, wParam, lParam);
}

BOOL CBkEdit::OnEditMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_MOUSEMOVE: {
        m_bHover = 1;
        RequestRedraw();
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, hWnd, 0};
        ::TrackMouseEvent(&tme);
        return FALSE;
    }
    case WM_MOUSELEAVE:
        m_bHover = 0;
        RequestRedraw();
        return FALSE;
    case WM_KILLFOCUS:
        result = ::CallWindowProcW(m_pfnEditProc ? m_pfnEditProc : s_editClassProc, hWnd, msg, wParam, lParam);
        if (!m_bKeepWindow) ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
        return TRUE;
    case OCM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE) {
            const int len = ::GetWindowTextLengthW(hWnd);
            std::vector<wchar_t> buf((size_t)len + 1, L'\0');
            ::GetWindowTextW(hWnd, buf.data(), len + 1);
            CBkWindow::SetText(buf.data());  // not our own SetText: the window has the text already
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

void CBkEdit::Paint(HDC dc) {
    if (!dc) return;
    if (!m_hPenNormal) m_hPenNormal = ::CreatePen(PS_INSIDEFRAME, 1, kBorderColour);
    if (!m_hPenHover) m_hPenHover = ::CreatePen(PS_INSIDEFRAME, 2, kHoverColour);
    const BOOL enabled = IsEnabled();
    // The window follows the element's disabled state, so that a disabled edit takes no input.
    if (m_hWndEdit && (::IsWindowEnabled(m_hWndEdit) != 0) != (enabled != 0)) ::EnableWindow(m_hWndEdit, enabled);

    const COLORREF oldBk = ::SetBkColor(dc, enabled ? RGB(0xFF, 0xFF, 0xFF) : kDisabledBackground);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &m_rcWindow, nullptr, 0, nullptr);
    ::SetBkColor(dc, oldBk);

    CString shown = m_bPassword ? CString(m_chPassword, m_strInnerText.GetLength()) : m_strInnerText;
    RECT box = EditRect();
    HFONT font = BkFontPool::GetFont(m_wFontCode);
    HGDIOBJ oldFont = font ? ::SelectObject(dc, font) : nullptr;
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    ::DrawTextW(dc, shown.GetString(), shown.GetLength(), &box, DT_SINGLELINE | DT_VCENTER);
    ::SetBkMode(dc, oldMode);
    if (oldFont) ::SelectObject(dc, oldFont);

    HPEN pen = m_bHover ? m_hPenHover : m_hPenNormal;
    HGDIOBJ oldPen = pen ? ::SelectObject(dc, pen) : nullptr;
    HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
    ::Rectangle(dc, m_rcWindow.left, m_rcWindow.top, m_rcWindow.right, m_rcWindow.bottom);
    ::SelectObject(dc, oldBrush);
    if (oldPen) ::SelectObject(dc, oldPen);
}

BOOL CBkEdit::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
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
        if (!::EqualRect(&before, &m_rcWindow) || (!m_hWndEdit && m_bKeepWindow)) PlaceEditWindow(TRUE);
        break;
    }
    case WM_MOUSEMOVE:
        if (IsEnabled()) m_bHover = 1;
        break;
    case WM_LBUTTONDOWN: {
        if (!IsEnabled()) break;
        if (!m_hWndEdit) MakeEditWindow();
        const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (m_hWndEdit && ::PtInRect(&m_rcWindow, pt)) {
            const int len = ::GetWindowTextLengthW(m_hWndEdit);
            ::SendMessageW(m_hWndEdit, EM_SETSEL, 0, len ? len : 1);
        }
        break;
    }
    case WM_MOUSELEAVE:
        m_bHover = 0;
        break;
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
