// The skinned dialog: a borderless top-level window built from a layout, hosting one dialog view
// (control id 1000), run by its own modal loop. Every skinned dialog of the programs is an instance
// of CBkDialogImpl and mixes in CWHRoundRectFrameHelper for its corners.
#pragma once

#include <windows.h>

#include <string>

#include "bkres.h"
#include "bkview.h"
#include "bkwndreg.h"
#include "winlayer/window.h"

// ---- the parts that do not depend on the dialog class --------------------------------------------

// Class style of the dialog windows: CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, plus CS_DROPSHADOW from
// Windows XP on (version as GetVersion returns it).
UINT BkDialogClassStyle(DWORD version);

// Runs a dialog's modal loop on this thread until the end flag is set, the window goes, or WM_QUIT
// arrives. A WM_QUIT seen ahead stays queued; one that GetMessageW took is posted again with its
// exit code, so that every enclosing loop ends as well.
void BkRunModalLoop(HWND const& hWnd, BOOL const& endFlag);

// Centres the window on its owner when that is visible and not minimised, else in the work area,
// kept inside the work area.
void BkCentreWindow(HWND hWnd);

// The frameless non-client answer: the client area is the whole window.
LRESULT BkFramelessNcCalcSize(HWND hWnd, WPARAM wParam, LPARAM lParam);
// Maximised size: the work area of the window's monitor plus one pixel on every side.
void BkMaximisedMinMaxInfo(HWND hWnd, MINMAXINFO* info);

// Sends the dialog the click notification of a key or close request: items 1 and 2, empty tag.
LRESULT BkSendDialogCommand(HWND dialog, UINT itemId);

// ---- the dialog template -------------------------------------------------------------------------

typedef CWinTraits<WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0> CBkDialogTraits;  // 0x56000000

template <class T, class TView = CBkDialogView, class TBase = CWindow, class TWinTraits = CBkDialogTraits>
class CBkDialogImpl : public CWindowImpl<T, TBase, TWinTraits> {
    typedef CWindowImpl<T, TBase, TWinTraits> Base;

public:
    static CWndClassInfo& GetWndClassInfo() {
        static CWndClassInfo wc = {nullptr, BkDialogClassStyle(::GetVersion()), (HBRUSH)(INT_PTR)(COLOR_WINDOW + 1),
                                   nullptr, 0, nullptr, {0}};
        return wc;
    }

    explicit CBkDialogImpl(UINT layoutId = 0) : m_uResID(layoutId) {}

    // The layout XML resource (type "xml") into the view.
    BOOL LoadLayoutResource(UINT id) {
        std::string bytes;
        if (id == 0 || id > 0xFFFF || !BkResourceLoader::LoadResource((UINT16)id, L"xml", bytes)) return FALSE;
        return m_richView.LoadLayout(bytes);
    }
    BOOL LoadLayout(const std::string& utf8) { return m_richView.LoadLayout(utf8); }
    void SetTitle(LPCWSTR title) { m_richView.SetTitle(title); }

    HWND Create(HWND owner) {
        if (!m_richView.IsLayoutLoaded()) {
            if (m_uResID == 0 || !LoadLayoutResource(m_uResID)) return nullptr;
        }
        RECT rc = {0, 0, 0, 0};
        const CString& title = m_richView.GetTitle();
        DWORD style = m_richView.GetDlgStyle();
        HWND h = Base::Create(owner, &rc, title.IsEmpty() ? nullptr : title.GetString(),
                              style ? style : (DWORD)0x56000000, m_richView.GetDlgExStyle());
        if (!h) return nullptr;
        BkUxThemeLoader::SetWindowTheme(h);  // a missing theme library is fine
        m_richView.Create(h, kBkViewCtrlId);
        m_bShowWindow = TRUE;
        ::SendMessageW(h, WM_INITDIALOG, (WPARAM)h, 0);
        if (this->m_hWnd != h || !::IsWindow(h)) return this->m_hWnd;  // WM_INITDIALOG ended or replaced it
        m_richView.ShowAllRealWindows();
        const int cx = m_richView.GetLayoutWidth(), cy = m_richView.GetLayoutHeight();
        if (this->m_hWnd == h && cx && cy) {
            RECT win, client;
            ::GetWindowRect(h, &win);
            ::GetClientRect(h, &client);
            const int extraX = (win.right - win.left) - (client.right - client.left);
            const int extraY = (win.bottom - win.top) - (client.bottom - client.top);
            POINT topLeft = {win.left, win.top};
            HWND parent = ::GetParent(h);
            if (parent && (::GetWindowLongPtrW(h, GWL_STYLE) & WS_CHILD)) ::ScreenToClient(parent, &topLeft);
            ::MoveWindow(h, topLeft.x, topLeft.y, cx + extraX, cy + extraY, FALSE);
        }
        return this->m_hWnd;
    }

    int ShowModal(HWND owner = nullptr) {
        if (!owner) owner = ::GetActiveWindow();
        // Disabling the owner takes the focus from it; a dialog that never appears gives it back.
        HWND focusBefore = ::GetFocus();
        BOOL ownerDisabled = FALSE;
        if (owner && owner != ::GetDesktopWindow() && ::IsWindowEnabled(owner)) {
            ::EnableWindow(owner, FALSE);
            ownerDisabled = TRUE;
        }
        m_bExitModalLoop = FALSE;
        if (!Create(owner)) {
            if (ownerDisabled) ::EnableWindow(owner, TRUE);
            RestoreFocus(focusBefore);
            return 0;
        }
        HWND h = this->m_hWnd;
        // A dialog that ended in WM_INITDIALOG (the login that passes by itself) is never shown: even
        // a moment on screen would take the foreground and the focus from the user.
        if (!m_bExitModalLoop) {
            BkCentreWindow(h);
            if (m_bShowWindow)
                ::SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
            BkRunModalLoop(this->m_hWnd, m_bExitModalLoop);
        }
        if (this->m_hWnd)
            ::SetWindowPos(this->m_hWnd, nullptr, 0, 0, 0, 0,
                           SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
        m_bExitModalLoop = FALSE;
        if (ownerDisabled) ::EnableWindow(owner, TRUE);
        if (owner && this->m_hWnd && ::GetActiveWindow() == this->m_hWnd) ::SetActiveWindow(owner);
        if (this->m_hWnd) ::DestroyWindow(this->m_hWnd);
        RestoreFocus(focusBefore);
        return m_nRetCode;
    }

    void EndDialog(int result) {
        m_nRetCode = result;
        m_bExitModalLoop = TRUE;
        ::PostThreadMessageW(::GetCurrentThreadId(), WM_NULL, 0, 0);
    }

    // ---- the view's item operations ----
    TView& View() { return m_richView; }
    BOOL SetItemText(int id, LPCWSTR text) { return m_richView.SetItemText(id, text); }
    CString GetItemText(int id) { return m_richView.GetItemText(id); }
    BOOL SetItemAttribute(int id, const char* name, const char* value) {
        return m_richView.SetItemAttribute(id, name, value);
    }
    BOOL SetItemIntAttribute(int id, const char* name, UINT value) {
        return m_richView.SetItemIntAttribute(id, name, value);
    }
    BOOL GetItemCheck(int id) { return m_richView.GetItemCheck(id); }
    BOOL SetItemCheck(int id, BOOL check) { return m_richView.SetItemCheck(id, check); }
    BOOL EnableItem(int id, BOOL enable) { return m_richView.EnableItem(id, enable); }
    BOOL SetItemVisible(int id, BOOL visible) { return m_richView.SetItemVisible(id, visible); }
    BOOL SetTabCurSel(int id, int page) { return m_richView.SetTabCurSel(id, page); }
    BOOL LoadPanelXml(int id, const std::string& utf8) { return m_richView.LoadPanelXml(id, utf8); }
    void ShowAllRealWindows() { m_richView.ShowAllRealWindows(); }

    BOOL IsEnding() const { return m_bExitModalLoop; }
    int GetResult() const { return m_nRetCode; }

    BEGIN_MSG_MAP(CBkDialogImpl)
        MESSAGE_HANDLER(WM_NCACTIVATE, OnNcActivate)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBkgnd)
        MESSAGE_HANDLER(WM_NCCALCSIZE, OnNcCalcSize)
        MESSAGE_HANDLER(WM_GETMINMAXINFO, OnGetMinMaxInfo)
        MESSAGE_HANDLER(WM_SIZE, OnSize)
        MESSAGE_HANDLER(WM_KEYDOWN, OnKeyDown)
        MESSAGE_HANDLER(WM_CLOSE, OnClose)
        COMMAND_ID_HANDLER(IDOK, OnOk)
        COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    END_MSG_MAP()

protected:
    // Gives the focus back to the window that had it when the dialog left nobody with the focus and
    // that window's top level is still the active one (a dialog that never showed activated nothing).
    static void RestoreFocus(HWND focusBefore) {
        if (!focusBefore || ::GetFocus() || !::IsWindow(focusBefore)) return;
        if (::GetActiveWindow() != ::GetAncestor(focusBefore, GA_ROOT) || !::IsWindowEnabled(focusBefore)) return;
        ::SetFocus(focusBefore);
    }

    LRESULT OnNcActivate(UINT, WPARAM, LPARAM, BOOL&) { return TRUE; }
    LRESULT OnEraseBkgnd(UINT, WPARAM, LPARAM, BOOL&) { return 1; }
    LRESULT OnNcCalcSize(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
        return BkFramelessNcCalcSize(this->m_hWnd, wParam, lParam);
    }
    LRESULT OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL&) {
        // Comes before WM_NCCREATE too: the window handle is already bound then.
        BkMaximisedMinMaxInfo(this->m_hWnd, (MINMAXINFO*)lParam);
        return 0;
    }
    LRESULT OnSize(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
        if (wParam != SIZE_MINIMIZED && m_richView.IsWindow()) {
            RECT rc;
            ::GetClientRect(this->m_hWnd, &rc);
            m_richView.MoveWindow(&rc, TRUE);
        }
        handled = FALSE;
        return 0;
    }
    LRESULT OnKeyDown(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
        handled = FALSE;
        if (!::IsWindowEnabled(this->m_hWnd) || ::GetKeyState(VK_CONTROL) < 0) return 0;
        if (wParam == VK_ESCAPE) ::SendMessageW(this->m_hWnd, WM_COMMAND, IDCANCEL, 0);
        else if (wParam == VK_RETURN) ::SendMessageW(this->m_hWnd, WM_COMMAND, IDOK, 0);
        return 0;
    }
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&) {
        ::SendMessageW(this->m_hWnd, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    LRESULT OnOk(WORD, WORD, HWND, BOOL&) {
        BkSendDialogCommand(this->m_hWnd, IDOK);
        return 0;
    }
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&) {
        BkSendDialogCommand(this->m_hWnd, IDCANCEL);
        return 0;
    }

    UINT m_uResID;
    int m_nRetCode = 0;
    TView m_richView;
    BOOL m_bShowWindow = TRUE;
    BOOL m_bExitModalLoop = FALSE;
};

// Dispatches the view's click notification to the dialog's OnBkCommand(UINT id, LPCSTR tag).
#define BK_NOTIFY_COMMAND(func)                                                                     \
    if (uMsg == WM_NOTIFY && ((LPNMHDR)lParam)->idFrom == kBkViewCtrlId &&                          \
        ((LPNMHDR)lParam)->code == kBkNotifyCommand) {                                              \
        const BkCommandNotify* nms_ = (const BkCommandNotify*)lParam;                               \
        func(nms_->uItemID, nms_->szItemClass ? nms_->szItemClass : "");                            \
        lResult = 1;                                                                                \
        return TRUE;                                                                                \
    }
