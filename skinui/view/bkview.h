// The dialog view: the one real window of a skinned dialog (control id 1000). It reads a "layer"
// layout into a header, a body and a footer, paints every element through a back buffer, tracks
// the mouse over the element tree and tells its dialog about clicks.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "bkpanel.h"
#include "bktabctrl.h"
#include "winlayer/window.h"

// What the view calls on the platform where a test must stand in for it.
struct BkViewSeams {
    // Opening an element's "href".
    HINSTANCE(WINAPI* shellExecute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
};
// The table in use, real by default.
BkViewSeams& BkViewSeamTable();

// The tool record of the view's tooltip is sent with cbSize TTTOOLINFOW_V2_SIZE (the record up to
// lParam), which comctl32 5 and 6 both accept; the programs carry no common-controls 6 manifest.
#include <stddef.h>
#if defined(_WIN64)
static_assert(sizeof(TOOLINFOW) == 72, "natural x64 layout");
static_assert(offsetof(TOOLINFOW, lpReserved) == 64, "x64 record without lpReserved");
#else
static_assert(sizeof(TOOLINFOW) == 48, "the 32-bit record is 48 bytes");
static_assert(offsetof(TOOLINFOW, lpReserved) == 44, "32-bit record without lpReserved");
#endif

// Layout style bits of the dialog.
enum : DWORD {
    kBkDialogBaseStyle = WS_POPUP | WS_SYSMENU,          // 0x80080000
    kBkDialogResizeStyle = WS_THICKFRAME | WS_MINIMIZEBOX,  // 0x60000; never a maximise box
    kBkDialogAppWinExStyle = WS_EX_APPWINDOW,              // 0x40000
    kBkDialogNoBorderExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST,    // 0x88
    kBkDialogBorderExStyle = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE,   // 0x300
};

typedef CWinTraits<WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, 0> CBkViewTraits;  // 0x52010000

// The mouse messages relayed to the tooltip, fixed whatever WM_MOUSELAST the SDK's target gives.
enum : UINT { kBkMouseFirst = 0x200, kBkMouseLast = 0x20E };

class CBkDialogView : public CWindowImpl<CBkDialogView, CWindow, CBkViewTraits> {
public:
    DECLARE_WND_CLASS_EX(nullptr, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, COLOR_WINDOW)

    CBkDialogView();
    ~CBkDialogView() override;

    // ---- loading and window ----
    BOOL LoadLayout(const std::string& utf8);
    BOOL LoadPanelXml(int id, const std::string& utf8);
    // The view window as a child of the dialog; the existing one when there is one.
    HWND Create(HWND dialog, UINT id = kBkViewCtrlId);
    void ShowAllRealWindows();

    const CString& GetTitle() const { return m_strTitle; }
    void SetTitle(LPCWSTR title) { m_strTitle = title ? title : L""; }
    int GetLayoutWidth() const { return m_nWidth; }
    int GetLayoutHeight() const { return m_nHeight; }
    DWORD GetDlgStyle() const { return m_dwDlgStyle; }
    DWORD GetDlgExStyle() const { return m_dwDlgExStyle; }
    BOOL IsLayoutLoaded() const { return m_bLayoutLoaded; }
    HWND GetToolTip() const { return m_hWndToolTip; }

    // ---- items by command id (header, then body, then footer) ----
    CBkWindow* FindItem(int id);
    BOOL SetItemText(int id, LPCWSTR text);
    CString GetItemText(int id);
    BOOL SetItemAttribute(int id, const char* name, const char* value);
    BOOL SetItemIntAttribute(int id, const char* name, UINT value);
    BOOL GetItemCheck(int id);
    BOOL SetItemCheck(int id, BOOL check);
    BOOL EnableItem(int id, BOOL enable);
    BOOL SetItemVisible(int id, BOOL visible);
    BOOL SetTabCurSel(int id, int page);
    void RedrawItem(CBkWindow* element, BOOL checkHidden);

    CBkDialog& Header() { return m_header; }
    CBkDialog& Body() { return m_body; }
    CBkDialog& Footer() { return m_footer; }
    HBKWND HoveredItem() const { return m_hHover; }
    HBKWND PressedItem() const { return m_hPushDown; }

    BEGIN_MSG_MAP(CBkDialogView)
        MESSAGE_RANGE_HANDLER(kBkMouseFirst, kBkMouseLast, OnToolTipRelay)
        MESSAGE_HANDLER(WM_SIZE, OnSize)
        MESSAGE_HANDLER(WM_PRINTCLIENT, OnPrintClient)
        MESSAGE_HANDLER(WM_PAINT, OnPaint)
        MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBkgnd)
        MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
        MESSAGE_HANDLER(WM_MOUSELEAVE, OnMouseLeave)
        MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
        MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
        MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnLButtonDblClk)
        MESSAGE_HANDLER(WM_CAPTURECHANGED, OnCaptureChanged)
        MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
        MESSAGE_HANDLER(WM_MOUSEWHEEL, OnMouseWheel)
        MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
        MESSAGE_HANDLER(WM_COMMAND, OnForward)
        MESSAGE_HANDLER(WM_HSCROLL, OnForward)
        MESSAGE_HANDLER(WM_VSCROLL, OnForward)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

protected:
    LRESULT OnToolTipRelay(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnPrintClient(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnEraseBkgnd(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnMouseLeave(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnLButtonUp(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnLButtonDblClk(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnCaptureChanged(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSetCursor(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnMouseWheel(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnNotify(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnForward(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

    void Relayout();
    void InvalidateAll();
    void AddToUpdate(const RECT& rc);
    void PaintTo(HDC target);
    HBKWND HitTestPanels(POINT pt);
    void SetHover(CBkWindow* element, BOOL on);
    void SetPushed(CBkWindow* element, BOOL on);
    // The pressed element looks pressed exactly while the pointer is over it.
    void FollowPress(HBKWND underPointer);
    // Ends a press without a click.
    void CancelPress();
    void UpdateToolTip(CBkWindow* element);
    void ClearPanels();

    CBkDialog m_header;
    CBkDialog m_body;
    CBkDialog m_footer;
    HBITMAP m_hBackBuffer = nullptr;
    HBKWND m_hHover = 0;
    HBKWND m_hPushDown = 0;
    BOOL m_bTrackingLeave = FALSE;
    BOOL m_bCaptured = FALSE;
    CString m_strTitle;
    int m_nWidth = 0;
    int m_nHeight = 0;
    DWORD m_dwDlgStyle = 0;
    DWORD m_dwDlgExStyle = 0;
    BOOL m_bHeaderPresent = FALSE;
    BOOL m_bBodyPresent = FALSE;
    BOOL m_bFooterPresent = FALSE;
    BOOL m_bLayoutLoaded = FALSE;
    BOOL m_bNeedRedraw = FALSE;
    BOOL m_bFullRedraw = TRUE;
    HWND m_hWndToolTip = nullptr;
    HRGN m_hUpdateRgn = nullptr;
};
