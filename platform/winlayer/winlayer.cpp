#include "winlayer.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>
#include <wctype.h>

#include <vector>

namespace {

// The module set by CAppModule::Init.
HINSTANCE g_moduleInstance = nullptr;

// The object whose window CreateWindowEx is making on this thread: its first message, whatever it
// is, binds the window to the object.
thread_local CWindowImplRoot* t_creating = nullptr;

// Property that names the object of a subclassed window (created windows use GWLP_USERDATA).
const wchar_t kObjectProp[] = L"WinLayer.Object";

bool IsOwnProc(LONG_PTR proc, WNDPROC mine) { return proc == (LONG_PTR)mine; }

}  // namespace

HINSTANCE WinModuleInstance() { return g_moduleInstance ? g_moduleInstance : ::GetModuleHandleW(nullptr); }

// ---- CWindow -----------------------------------------------------------------------------------

static BOOL ModifyLong(HWND hWnd, int index, DWORD remove, DWORD add, UINT swpFlags) {
    DWORD old = (DWORD)::GetWindowLongPtrW(hWnd, index);
    DWORD now = (old & ~remove) | add;
    if (old == now) return FALSE;
    ::SetWindowLongPtrW(hWnd, index, (LONG_PTR)now);
    if (swpFlags)
        ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
    return TRUE;
}

BOOL CWindow::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) {
    return ModifyLong(m_hWnd, GWL_STYLE, remove, add, swpFlags);
}
BOOL CWindow::ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags) {
    return ModifyLong(m_hWnd, GWL_EXSTYLE, remove, add, swpFlags);
}

// ---- reflection --------------------------------------------------------------------------------

LRESULT WinReflectNotification(HWND parent, UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    HWND child = nullptr;
    switch (uMsg) {
    case WM_COMMAND:
        child = (HWND)lParam;  // null for menus and accelerators
        break;
    case WM_NOTIFY:
        if (lParam) child = ((LPNMHDR)lParam)->hwndFrom;
        break;
    case WM_PARENTNOTIFY:
        if (LOWORD(wParam) == WM_CREATE || LOWORD(wParam) == WM_DESTROY)
            child = (HWND)lParam;
        else
            child = ::GetDlgItem(parent, HIWORD(wParam));
        break;
    case WM_DRAWITEM:
        if (wParam && lParam) child = ((LPDRAWITEMSTRUCT)lParam)->hwndItem;
        break;
    case WM_MEASUREITEM:
        if (wParam && lParam) child = ::GetDlgItem(parent, ((LPMEASUREITEMSTRUCT)lParam)->CtlID);
        break;
    case WM_COMPAREITEM:
        if (wParam && lParam) child = ((LPCOMPAREITEMSTRUCT)lParam)->hwndItem;
        break;
    case WM_DELETEITEM:
        if (wParam && lParam) child = ((LPDELETEITEMSTRUCT)lParam)->hwndItem;
        break;
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        child = (HWND)lParam;
        break;
    default:
        break;
    }
    // A window's notification to itself (or one naming no window) is not a child's to reflect.
    if (!child || child == parent || !::IsWindow(child)) {
        handled = FALSE;
        return 1;
    }
    return ::SendMessageW(child, OCM__BASE + uMsg, wParam, lParam);
}

// ---- window classes ----------------------------------------------------------------------------

ATOM CWndClassInfo::Register(WNDPROC* superProc) {
    if (atom) {
        if (baseClass) *superProc = baseProc;
        return atom;
    }
    HINSTANCE inst = WinModuleInstance();
    LPCWSTR className = name;
    if (!className) {
        swprintf(generated, sizeof(generated) / sizeof(generated[0]), L"WinLayer:%p", (void*)this);
        className = generated;
    }
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (baseClass) {
        // The copied class may be a system class or one of the program's own.
        if (!::GetClassInfoExW(nullptr, baseClass, &wc) && !::GetClassInfoExW(inst, baseClass, &wc)) return 0;
        wc.cbSize = sizeof(wc);
        baseProc = wc.lpfnWndProc;
    } else {
        wc.style = style;
        wc.hbrBackground = background;
        wc.hCursor = ::LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
    }
    wc.lpfnWndProc = CWindowImplRoot::StartWindowProc;
    wc.hInstance = inst;
    wc.lpszClassName = className;
    wc.lpszMenuName = nullptr;
    ATOM a = ::RegisterClassExW(&wc);
    if (!a && ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
        WNDCLASSEXW have = {};
        have.cbSize = sizeof(have);
        // Registered earlier under this name (by another info of the same name): usable only when it
        // routes through us.
        // GetClassInfoExW answers with the class atom.
        ATOM existing = (ATOM)::GetClassInfoExW(inst, className, &have);
        a = existing && have.lpfnWndProc == CWindowImplRoot::StartWindowProc ? existing : 0;
        if (!a) {
            ::SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    }
    if (!a) return 0;
    atom = a;
    if (baseClass) *superProc = baseProc;
    return atom;
}

// ---- window implementations --------------------------------------------------------------------

CWindowImplRoot::~CWindowImplRoot() {}

void CWindowImplRoot::Unbind(HWND hWnd) {
    if (!hWnd || !::IsWindow(hWnd)) return;
    // The window outlives its object: give it the class's own procedure, so that no message
    // reaches a dead object.
    if (m_subclassed) {
        UnsubclassRouted(TRUE);
        return;
    }
    if ((CWindowImplRoot*)::GetWindowLongPtrW(hWnd, GWLP_USERDATA) != this) return;
    ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    if (IsOwnProc(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC), WindowProc))
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, (LONG_PTR)m_pfnSuperWindowProc);
}

LRESULT CWindowImplRoot::DefWindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(m_pfnSuperWindowProc, WindowHandle(), uMsg, wParam, lParam);
}

LRESULT CWindowImplRoot::DefWindowProc() {
    const MSG* m = m_pCurrentMsg;
    return m ? DefWindowProc(m->message, m->wParam, m->lParam) : 0;
}

HWND CWindowImplRoot::CreateRouted(LPCWSTR classAtom, HWND parent, const RECT* rc, LPCWSTR name, DWORD style,
                                   DWORD exStyle, HMENU menuOrId, LPVOID param) {
    if (WindowHandle()) return nullptr;  // one window per object
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT, cx = CW_USEDEFAULT, cy = CW_USEDEFAULT;
    if (rc) {
        x = rc->left;
        y = rc->top;
        cx = rc->right - rc->left;
        cy = rc->bottom - rc->top;
    }
    m_subclassed = false;
    m_destroyed = false;
    CWindowImplRoot* outer = t_creating;
    t_creating = this;
    HWND h = ::CreateWindowExW(exStyle, classAtom, name, style, x, y, cx, cy, parent, menuOrId, WinModuleInstance(),
                               param);
    DWORD err = ::GetLastError();
    t_creating = outer;  // not taken when the window never got a message
    ::SetLastError(err);
    return h;
}

LRESULT CALLBACK CWindowImplRoot::StartWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowImplRoot* self = t_creating;
    t_creating = nullptr;
    if (!self) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    self->WindowHandle() = hWnd;
    ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, (LONG_PTR)self);
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, (LONG_PTR)&CWindowImplRoot::WindowProc);
    return self->Route(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWindowImplRoot::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = (CWindowImplRoot*)::GetWindowLongPtrW(hWnd, GWLP_USERDATA);
    if (!self) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    return self->Route(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWindowImplRoot::SubclassWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = (CWindowImplRoot*)::GetPropW(hWnd, kObjectProp);
    if (!self) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    return self->Route(hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowImplRoot::Route(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    MSG msg = {};
    msg.hwnd = hWnd;
    msg.message = uMsg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    const MSG* outer = m_pCurrentMsg;
    m_pCurrentMsg = &msg;
    LRESULT result = 0;
    BOOL handled = ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result, 0);
    if (!handled) result = DefWindowProc(uMsg, wParam, lParam);
    m_pCurrentMsg = outer;
    if (uMsg == WM_NCDESTROY) m_destroyed = true;
    // The last message ends the binding once no dispatch of this object is under way any more.
    if (m_destroyed && !outer) {
        m_destroyed = false;
        Release(hWnd);
    }
    return result;
}

void CWindowImplRoot::Release(HWND hWnd) {
    if (m_subclassed) {
        if (IsOwnProc(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC), SubclassWindowProc))
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, (LONG_PTR)m_pfnSuperWindowProc);
        ::RemovePropW(hWnd, kObjectProp);
        m_pfnSuperWindowProc = ::DefWindowProcW;
        m_subclassed = false;
    } else {
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    }
    WindowHandle() = nullptr;
    OnFinalMessage(hWnd);
}

BOOL CWindowImplRoot::SubclassRouted(HWND hWnd) {
    if (WindowHandle() || !::IsWindow(hWnd)) return FALSE;
    if (!::SetPropW(hWnd, kObjectProp, (HANDLE)this)) return FALSE;
    ::SetLastError(0);
    LONG_PTR old = ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, (LONG_PTR)&CWindowImplRoot::SubclassWindowProc);
    if (!old && ::GetLastError()) {
        ::RemovePropW(hWnd, kObjectProp);
        return FALSE;
    }
    m_pfnSuperWindowProc = (WNDPROC)old;
    m_subclassed = true;
    m_destroyed = false;
    WindowHandle() = hWnd;
    return TRUE;
}

HWND CWindowImplRoot::UnsubclassRouted(BOOL force) {
    HWND hWnd = WindowHandle();
    if (!m_subclassed || !hWnd) return nullptr;
    if (!IsOwnProc(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC), SubclassWindowProc)) {
        if (!force) return nullptr;
    } else {
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, (LONG_PTR)m_pfnSuperWindowProc);
    }
    ::RemovePropW(hWnd, kObjectProp);
    m_pfnSuperWindowProc = ::DefWindowProcW;
    m_subclassed = false;
    WindowHandle() = nullptr;
    return hWnd;
}

// ---- CString -----------------------------------------------------------------------------------

BOOL CString::FormatV(LPCWSTR format, va_list args) {
    m_s.clear();
    if (!format) return FALSE;
    // vswprintf reports only failure on a short buffer, so grow until the text fits (bounded).
    std::vector<wchar_t> buf(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = vswprintf(buf.data(), buf.size(), format, copy);
        va_end(copy);
        if (n >= 0 && (size_t)n < buf.size()) {
            m_s.assign(buf.data(), (size_t)n);
            return TRUE;
        }
        if (buf.size() >= (1u << 22)) return FALSE;  // a bad format, not a long text
        buf.resize(buf.size() * 4);
    }
}

BOOL CString::Format(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    BOOL ok = FormatV(format, args);
    va_end(args);
    return ok;
}

BOOL CString::AppendFormat(LPCWSTR format, ...) {
    CString part;
    va_list args;
    va_start(args, format);
    BOOL ok = part.FormatV(format, args);
    va_end(args);
    if (ok) m_s += part.m_s;
    return ok;
}

CString CString::Left(int count) const {
    if (count <= 0) return CString();
    return CString(m_s.substr(0, (size_t)count));
}

CString CString::Right(int count) const {
    if (count <= 0) return CString();
    if ((size_t)count >= m_s.size()) return *this;
    return CString(m_s.substr(m_s.size() - (size_t)count));
}

CString CString::Mid(int first, int count) const {
    if (first < 0) first = 0;
    if ((size_t)first >= m_s.size()) return CString();
    if (count < 0) return CString(m_s.substr((size_t)first));
    return CString(m_s.substr((size_t)first, (size_t)count));
}

int CString::Find(wchar_t ch, int start) const {
    if (start < 0 || (size_t)start > m_s.size()) return -1;
    size_t p = m_s.find(ch, (size_t)start);
    return p == std::wstring::npos ? -1 : (int)p;
}

int CString::Find(LPCWSTR sub, int start) const {
    if (!sub || start < 0 || (size_t)start > m_s.size()) return -1;
    size_t p = m_s.find(sub, (size_t)start);
    return p == std::wstring::npos ? -1 : (int)p;
}

int CString::ReverseFind(wchar_t ch) const {
    size_t p = m_s.rfind(ch);
    return p == std::wstring::npos ? -1 : (int)p;
}

int CString::Replace(LPCWSTR from, LPCWSTR to) {
    if (!from || !*from) return 0;
    const std::wstring f(from), t(to ? to : L"");
    int count = 0;
    for (size_t p = m_s.find(f); p != std::wstring::npos; p = m_s.find(f, p + t.size())) {
        m_s.replace(p, f.size(), t);
        ++count;
    }
    return count;
}

CString& CString::Trim() {
    size_t b = 0, e = m_s.size();
    while (b < e && iswspace(m_s[b])) ++b;
    while (e > b && iswspace(m_s[e - 1])) --e;
    m_s = m_s.substr(b, e - b);
    return *this;
}

CString& CString::MakeLower() {
    if (!m_s.empty()) ::CharLowerBuffW(&m_s[0], (DWORD)m_s.size());
    return *this;
}

CString& CString::MakeUpper() {
    if (!m_s.empty()) ::CharUpperBuffW(&m_s[0], (DWORD)m_s.size());
    return *this;
}

LPWSTR CString::GetBuffer(int minLength) {
    if (minLength < 0) minLength = 0;
    if (m_s.size() < (size_t)minLength) m_s.resize((size_t)minLength);
    return &m_s[0];  // C++17: the terminator slot follows and may be written as NUL
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        size_t n = 0;  // up to the first NUL written into the buffer
        while (n < m_s.size() && m_s[n]) ++n;
        m_s.resize(n);
    } else if ((size_t)newLength <= m_s.size()) {
        m_s.resize((size_t)newLength);
    }
}

// ---- CAppModule --------------------------------------------------------------------------------

HRESULT CAppModule::Init(void*, HINSTANCE instance, const GUID*) {
    m_hInst = instance ? instance : ::GetModuleHandleW(nullptr);
    m_hInstResource = m_hInst;
    m_dwMainThreadID = ::GetCurrentThreadId();
    g_moduleInstance = m_hInst;
    return S_OK;
}

void CAppModule::Term() {
    if (g_moduleInstance == m_hInst) g_moduleInstance = nullptr;
    m_hInst = m_hInstResource = nullptr;
    m_dwMainThreadID = 0;
}
