// Window handle wrapper, message maps and window implementations for the GUI programs.
//
// A window object routes every message of its window, from the very first one that CreateWindowEx
// sends (WM_GETMINMAXINFO comes before WM_NCCREATE), through its message map. An unhandled message
// goes to the class's original procedure (DefWindowProcW, or the system procedure of a superclass).
#pragma once

#include <windows.h>
#include <commctrl.h>

// Messages reflected back to the child control that sent them.
#ifndef OCM__BASE
#define OCM__BASE (WM_USER + 0x1c00)
#endif
#ifndef OCM_COMMAND
#define OCM_COMMAND (OCM__BASE + WM_COMMAND)
#endif
#ifndef OCM_NOTIFY
#define OCM_NOTIFY (OCM__BASE + WM_NOTIFY)
#endif
#ifndef OCM_DRAWITEM
#define OCM_DRAWITEM (OCM__BASE + WM_DRAWITEM)
#endif
#ifndef OCM_MEASUREITEM
#define OCM_MEASUREITEM (OCM__BASE + WM_MEASUREITEM)
#endif
#ifndef OCM_COMPAREITEM
#define OCM_COMPAREITEM (OCM__BASE + WM_COMPAREITEM)
#endif
#ifndef OCM_DELETEITEM
#define OCM_DELETEITEM (OCM__BASE + WM_DELETEITEM)
#endif
#ifndef OCM_HSCROLL
#define OCM_HSCROLL (OCM__BASE + WM_HSCROLL)
#endif
#ifndef OCM_VSCROLL
#define OCM_VSCROLL (OCM__BASE + WM_VSCROLL)
#endif
#ifndef OCM_PARENTNOTIFY
#define OCM_PARENTNOTIFY (OCM__BASE + WM_PARENTNOTIFY)
#endif
#ifndef OCM_CTLCOLOREDIT
#define OCM_CTLCOLOREDIT (OCM__BASE + WM_CTLCOLOREDIT)
#endif
#ifndef OCM_CTLCOLORSTATIC
#define OCM_CTLCOLORSTATIC (OCM__BASE + WM_CTLCOLORSTATIC)
#endif
// Everything from OCM__BASE up to here counts as a reflected message.
#define OCM__LAST (OCM__BASE + WM_USER - 1)

static_assert(OCM_COMMAND == 0x2111, "reflected WM_COMMAND");

// A non-owning window handle with the calls the programs make on windows.
class CWindow {
public:
    HWND m_hWnd;

    CWindow(HWND hWnd = nullptr) : m_hWnd(hWnd) {}
    CWindow& operator=(HWND hWnd) { m_hWnd = hWnd; return *this; }
    operator HWND() const { return m_hWnd; }

    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach() { HWND h = m_hWnd; m_hWnd = nullptr; return h; }

    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
    BOOL DestroyWindow() {
        if (!::DestroyWindow(m_hWnd)) return FALSE;
        m_hWnd = nullptr;
        return TRUE;
    }

    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, msg, wParam, lParam);
    }
    BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageW(m_hWnd, msg, wParam, lParam);
    }

    DWORD GetStyle() const { return (DWORD)::GetWindowLongPtrW(m_hWnd, GWL_STYLE); }
    DWORD GetExStyle() const { return (DWORD)::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags = 0);
    LONG_PTR GetWindowLongPtr(int index) const { return ::GetWindowLongPtrW(m_hWnd, index); }
    LONG_PTR SetWindowLongPtr(int index, LONG_PTR value) { return ::SetWindowLongPtrW(m_hWnd, index, value); }

    BOOL GetClientRect(RECT* rc) const { return ::GetClientRect(m_hWnd, rc); }
    BOOL GetWindowRect(RECT* rc) const { return ::GetWindowRect(m_hWnd, rc); }
    BOOL MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE) {
        return ::MoveWindow(m_hWnd, x, y, cx, cy, repaint);
    }
    BOOL MoveWindow(const RECT* rc, BOOL repaint = TRUE) {
        return ::MoveWindow(m_hWnd, rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top, repaint);
    }
    BOOL SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags);
    }
    BOOL ClientToScreen(POINT* pt) const { return ::ClientToScreen(m_hWnd, pt); }
    BOOL ScreenToClient(POINT* pt) const { return ::ScreenToClient(m_hWnd, pt); }

    BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL IsZoomed() const { return ::IsZoomed(m_hWnd); }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }

    BOOL Invalidate(BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, nullptr, erase); }
    BOOL InvalidateRect(const RECT* rc, BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, rc, erase); }
    BOOL UpdateWindow() { return ::UpdateWindow(m_hWnd); }
    HDC GetDC() { return ::GetDC(m_hWnd); }
    int ReleaseDC(HDC dc) { return ::ReleaseDC(m_hWnd, dc); }
    int SetWindowRgn(HRGN rgn, BOOL redraw = TRUE) { return ::SetWindowRgn(m_hWnd, rgn, redraw); }

    HWND GetParent() const { return ::GetParent(m_hWnd); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    BOOL SetWindowText(LPCWSTR text) { return ::SetWindowTextW(m_hWnd, text); }
    int GetWindowText(LPWSTR buf, int max) const { return ::GetWindowTextW(m_hWnd, buf, max); }
    int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
    void SetFont(HFONT font, BOOL redraw = TRUE) { SendMessage(WM_SETFONT, (WPARAM)font, MAKELPARAM(redraw, 0)); }
    HFONT GetFont() const { return (HFONT)SendMessage(WM_GETFONT); }

    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr) { return ::SetTimer(m_hWnd, id, elapse, proc); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

    BOOL SetProp(LPCWSTR name, HANDLE data) { return ::SetPropW(m_hWnd, name, data); }
    HANDLE GetProp(LPCWSTR name) const { return ::GetPropW(m_hWnd, name); }
    HANDLE RemoveProp(LPCWSTR name) { return ::RemovePropW(m_hWnd, name); }
};

// What the window procedure calls on a window object.
class CMessageMap {
public:
    virtual ~CMessageMap() {}
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                      DWORD dwMsgMapID = 0) = 0;
};

// Sends a notification from a child back to that child as message + OCM__BASE. handled is cleared
// when the message names no child window other than the parent itself (nothing was reflected).
LRESULT WinReflectNotification(HWND parent, UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& handled);

// ---- message maps ------------------------------------------------------------------------------
// Each map keeps a handled flag of its own class, saved and restored around every dispatch, so that
// a message sent from inside a handler cannot clear the flag of the message being handled.
// Handlers of the MESSAGE_/COMMAND_/NOTIFY_ kinds get the flag as a BOOL& preset to TRUE; handlers
// of MSG_HANDLER take (msg, wParam, lParam) and clear the flag with SetMsgHandled(FALSE).

#define BEGIN_MSG_MAP(theClass)                                                                         \
public:                                                                                                 \
    BOOL m_bMsgHandled = TRUE;                                                                          \
    BOOL IsMsgHandled() const { return m_bMsgHandled; }                                                 \
    void SetMsgHandled(BOOL handled) { m_bMsgHandled = handled; }                                       \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,     \
                              DWORD dwMsgMapID = 0) {                                                   \
        BOOL savedHandled = m_bMsgHandled;                                                              \
        BOOL ret = ProcessWindowMessageMap_(hWnd, uMsg, wParam, lParam, lResult, dwMsgMapID);           \
        m_bMsgHandled = savedHandled;                                                                   \
        return ret;                                                                                     \
    }                                                                                                   \
    BOOL ProcessWindowMessageMap_(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult, \
                                  DWORD dwMsgMapID) {                                                   \
        BOOL bHandled = TRUE;                                                                           \
        (void)hWnd; (void)uMsg; (void)wParam; (void)lParam; (void)lResult; (void)bHandled;              \
        switch (dwMsgMapID) {                                                                           \
        case 0:

#define ALT_MSG_MAP(mapId) \
        break;             \
        case mapId:

#define END_MSG_MAP() \
        break;        \
        default:      \
            break;    \
        }             \
        return FALSE; \
    }

#define MESSAGE_HANDLER(msg, func)                              \
    if (uMsg == (msg)) {                                        \
        bHandled = TRUE;                                        \
        lResult = func(uMsg, wParam, lParam, bHandled);         \
        if (bHandled) return TRUE;                              \
    }

#define MESSAGE_RANGE_HANDLER(msgFirst, msgLast, func)          \
    if (uMsg >= (msgFirst) && uMsg <= (msgLast)) {              \
        bHandled = TRUE;                                        \
        lResult = func(uMsg, wParam, lParam, bHandled);         \
        if (bHandled) return TRUE;                              \
    }

#define MSG_HANDLER(msg, func)                  \
    if (uMsg == (msg)) {                        \
        SetMsgHandled(TRUE);                    \
        lResult = func(uMsg, wParam, lParam);   \
        if (IsMsgHandled()) return TRUE;        \
    }

#define COMMAND_HANDLER(id, code, func)                                                            \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (code)) {                \
        bHandled = TRUE;                                                                           \
        lResult = func(HIWORD(wParam), LOWORD(wParam), (HWND)lParam, bHandled);                    \
        if (bHandled) return TRUE;                                                                 \
    }

#define COMMAND_ID_HANDLER(id, func)                                                               \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                            \
        bHandled = TRUE;                                                                           \
        lResult = func(HIWORD(wParam), LOWORD(wParam), (HWND)lParam, bHandled);                    \
        if (bHandled) return TRUE;                                                                 \
    }

#define COMMAND_CODE_HANDLER(code, func)                                                           \
    if (uMsg == WM_COMMAND && HIWORD(wParam) == (code)) {                                          \
        bHandled = TRUE;                                                                           \
        lResult = func(HIWORD(wParam), LOWORD(wParam), (HWND)lParam, bHandled);                    \
        if (bHandled) return TRUE;                                                                 \
    }

#define NOTIFY_HANDLER(id, code, func)                                                             \
    if (uMsg == WM_NOTIFY && ((LPNMHDR)lParam)->idFrom == (UINT_PTR)(id) &&                        \
        ((LPNMHDR)lParam)->code == (UINT)(code)) {                                                 \
        bHandled = TRUE;                                                                           \
        lResult = func((int)wParam, (LPNMHDR)lParam, bHandled);                                    \
        if (bHandled) return TRUE;                                                                 \
    }

#define NOTIFY_CODE_HANDLER(code, func)                                                            \
    if (uMsg == WM_NOTIFY && ((LPNMHDR)lParam)->code == (UINT)(code)) {                            \
        bHandled = TRUE;                                                                           \
        lResult = func((int)wParam, (LPNMHDR)lParam, bHandled);                                    \
        if (bHandled) return TRUE;                                                                 \
    }

#define CHAIN_MSG_MAP(theChainClass)                                                              \
    if (theChainClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

#define CHAIN_MSG_MAP_MEMBER(theChainMember)                                                      \
    if ((theChainMember).ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

#define REFLECT_NOTIFICATIONS()                                                                   \
    {                                                                                             \
        bHandled = TRUE;                                                                          \
        lResult = WinReflectNotification(hWnd, uMsg, wParam, lParam, bHandled);                   \
        if (bHandled) return TRUE;                                                                \
    }

// In a control's map: reflected messages it does not handle get the default treatment of the
// message they came from.
#define DEFAULT_REFLECTION_HANDLER()                                                              \
    if (uMsg >= OCM__BASE && uMsg <= OCM__LAST) {                                                 \
        lResult = ::DefWindowProcW(hWnd, uMsg - OCM__BASE, wParam, lParam);                       \
        return TRUE;                                                                              \
    }

// ---- window styles per class -------------------------------------------------------------------
template <DWORD t_dwStyle = 0, DWORD t_dwExStyle = 0>
class CWinTraits {
public:
    static DWORD GetWndStyle(DWORD style) { return style == 0 ? t_dwStyle : style; }
    static DWORD GetWndExStyle(DWORD exStyle) { return exStyle == 0 ? t_dwExStyle : exStyle; }
};
typedef CWinTraits<WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0> CControlWinTraits;
typedef CWinTraits<WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE>
    CFrameWinTraits;
typedef CWinTraits<0, 0> CNullTraits;

// ---- window classes ----------------------------------------------------------------------------
// A window class registered on first use. A superclass copies a registered class (such as EDIT)
// and keeps that class's procedure as the default for unhandled messages.
struct CWndClassInfo {
    LPCWSTR name;          // null: a name is generated
    UINT style;
    HBRUSH background;
    LPCWSTR baseClass;     // superclass: the class copied; null for a new class
    ATOM atom;
    WNDPROC baseProc;      // superclass: the copied class's procedure
    wchar_t generated[48];

    // Registers the class once; the atom, or 0 on failure. superProc receives the procedure that
    // unhandled messages go to.
    ATOM Register(WNDPROC* superProc);
};

#define DECLARE_WND_CLASS_EX(className, classStyle, bkgndColor)                                 \
    static CWndClassInfo& GetWndClassInfo() {                                                   \
        static CWndClassInfo wc = {className, (classStyle), (HBRUSH)(INT_PTR)((bkgndColor) + 1), \
                                   nullptr, 0, nullptr, {0}};                                   \
        return wc;                                                                              \
    }

#define DECLARE_WND_CLASS(className) \
    DECLARE_WND_CLASS_EX(className, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, COLOR_WINDOW)

#define DECLARE_WND_SUPERCLASS(className, baseClassName)                                        \
    static CWndClassInfo& GetWndClassInfo() {                                                   \
        static CWndClassInfo wc = {className, 0, nullptr, baseClassName, 0, nullptr, {0}};      \
        return wc;                                                                              \
    }

// The module whose windows classes are registered (set by CAppModule::Init; else the program).
HINSTANCE WinModuleInstance();

// ---- window implementations --------------------------------------------------------------------
// The routing part shared by every window object, independent of its handle class.
class CWindowImplRoot : public CMessageMap {
public:
    CWindowImplRoot() = default;
    CWindowImplRoot(const CWindowImplRoot&) = delete;
    CWindowImplRoot& operator=(const CWindowImplRoot&) = delete;
    ~CWindowImplRoot() override;

    // The message being dispatched (innermost), or null outside a dispatch.
    const MSG* GetCurrentMessage() const { return m_pCurrentMsg; }
    // The class's original procedure for a message the map leaves unhandled.
    LRESULT DefWindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam);
    LRESULT DefWindowProc();

    // Called after the window's last message (WM_NCDESTROY), once the object no longer has it.
    virtual void OnFinalMessage(HWND /*hWnd*/) {}

    WNDPROC m_pfnSuperWindowProc = ::DefWindowProcW;

protected:
    virtual HWND& WindowHandle() = 0;
    HWND CreateRouted(LPCWSTR classAtom, HWND parent, const RECT* rc, LPCWSTR name, DWORD style, DWORD exStyle,
                      HMENU menuOrId, LPVOID param);
    BOOL SubclassRouted(HWND hWnd);
    HWND UnsubclassRouted(BOOL force);
    // Detaches a window that is still bound when the object goes away.
    void Unbind(HWND hWnd);

public:
    // Window procedures: the first message of a created window, created windows, subclassed windows.
    static LRESULT CALLBACK StartWindowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK SubclassWindowProc(HWND, UINT, WPARAM, LPARAM);

private:
    LRESULT Route(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Release(HWND hWnd);

    const MSG* m_pCurrentMsg = nullptr;
    bool m_subclassed = false;
    bool m_destroyed = false;  // WM_NCDESTROY arrived inside another dispatch
};

template <class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CWindowImplBaseT : public TBase, public CWindowImplRoot {
public:
    typedef TWinTraits WinTraits;
    ~CWindowImplBaseT() override {
        Unbind(this->m_hWnd);
        this->m_hWnd = nullptr;
    }
    static DWORD GetWndStyle(DWORD style) { return TWinTraits::GetWndStyle(style); }
    static DWORD GetWndExStyle(DWORD exStyle) { return TWinTraits::GetWndExStyle(exStyle); }

    // Routes an existing window's messages through this object until it is destroyed or released.
    BOOL SubclassWindow(HWND hWnd) { return SubclassRouted(hWnd); }
    // Gives the window its previous procedure back; null when another procedure has been put in
    // front of ours since (unless force).
    HWND UnsubclassWindow(BOOL force = FALSE) { return UnsubclassRouted(force); }

protected:
    HWND& WindowHandle() override { return this->m_hWnd; }
};

// T declares its class with DECLARE_WND_CLASS*/DECLARE_WND_SUPERCLASS and its map with BEGIN_MSG_MAP.
// rc null gives the default position and size (zero for a child window).
template <class T, class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CWindowImpl : public CWindowImplBaseT<TBase, TWinTraits> {
public:
    DECLARE_WND_CLASS(nullptr)

    HWND Create(HWND parent, const RECT* rc = nullptr, LPCWSTR name = nullptr, DWORD style = 0,
                DWORD exStyle = 0, UINT_PTR menuOrId = 0, LPVOID param = nullptr) {
        ATOM atom = T::GetWndClassInfo().Register(&this->m_pfnSuperWindowProc);
        if (!atom) return nullptr;
        style = T::GetWndStyle(style);
        exStyle = T::GetWndExStyle(exStyle);
        return this->CreateRouted(MAKEINTATOM(atom), parent, rc, name, style, exStyle, (HMENU)menuOrId, param);
    }
};
