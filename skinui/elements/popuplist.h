// The popup list: a borderless topmost window with a column of text rows (optionally a bitmap per
// row) that highlights the row under the mouse and hands a clicked row to its owner element. While
// open it holds the mouse capture, so any click ends it. KComboBoxPopList is the combo's drop list.
#pragma once

#include <windows.h>

#include <vector>

#include "roundframe.h"
#include "winlayer/gdi.h"
#include "winlayer/str.h"
#include "winlayer/window.h"

class CBkWindow;

// Sent to the owner element's ProcessMessage: wParam the row, lParam its text (valid during the call).
enum : UINT { kBkMsgPopListChosen = 0x8D4 };

typedef CWinTraits<WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW> CPopUpListTraits;

class KPopUpListWnd : public CWindowImpl<KPopUpListWnd, CWindow, CPopUpListTraits>,
                      public CDoubleBufferImpl<KPopUpListWnd>,
                      public CWHRoundRectFrameHelper<KPopUpListWnd> {
public:
    DECLARE_WND_CLASS_EX(L"POPUP_LIST_WND", CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS, COLOR_WINDOW)

    enum : int { kFrameThick = 0, kFrameNone = 1, kFrameThin = 2 };
    static constexpr COLORREF kDefaultHighlight = RGB(0xDA, 0xF8, 0xD2);

    KPopUpListWnd() = default;
    ~KPopUpListWnd() override;

    // Deletes the list. While the list is handling a message of its own (a choice whose handler
    // deletes the owner, and with it the list), its window goes now and the object once that
    // message is done, so that nothing returns into freed memory.
    static void Dispose(KPopUpListWnd* list);
    void OnFinalMessage(HWND hWnd) override;

    BEGIN_MSG_MAP(KPopUpListWnd)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
        MESSAGE_HANDLER(WM_PAINT, OnPaint)
        MESSAGE_HANDLER(WM_PRINTCLIENT, OnPaint)
        CHAIN_MSG_MAP(CWHRoundRectFrameHelper<KPopUpListWnd>)
        MESSAGE_HANDLER(WM_CREATE, OnCreate)
        MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
        MESSAGE_HANDLER(WM_RBUTTONDOWN, OnRButtonDown)
        MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
        MESSAGE_HANDLER(WM_ACTIVATEAPP, OnActivateApp)
        MESSAGE_HANDLER(WM_KILLFOCUS, OnKillFocus)
        MESSAGE_HANDLER(WM_MOUSEWHEEL, OnMouseWheel)
    END_MSG_MAP()

    // Moves the list so that its right edge is at `right` and its top at `top` (size kept), shows
    // it and takes the mouse capture.
    virtual void ShowAt(int right, int top);
    // Hides the list and gives the capture back.
    virtual void Hide();

    // Painting steps, in the order the paint routine calls them.
    virtual void DrawHighlight(HDC dc, int x, int y, COLORREF colour);
    virtual void DrawIcons(HDC dc, int x, int y);
    virtual void DrawFrameNone(HDC dc);
    virtual void DrawFrameThin(HDC dc);
    virtual void DrawFrameThick(HDC dc);
    virtual void DrawTexts(HDC dc, int x, int y);

    // The whole client area, for the double buffer.
    void DoPaint(HDC dc);

    // The row at a point of the client area, or -1.
    int RowAt(POINT pt) const;

    int GetHighlight() const { return m_nHighlight; }
    void SetHighlight(int row) { m_nHighlight = m_nLastHighlight = row; }
    int GetRowCount() const { return m_nRowCount; }
    int GetRowHeight() const { return m_nRowHeight; }
    void SetRowHeight(int h) { if (h > 0) m_nRowHeight = h; }
    void SetHighlightColor(COLORREF c) { m_crHighlight = c; }
    COLORREF GetHighlightColor() const { return m_crHighlight; }
    void SetFrameStyle(int style) { m_nFrameStyle = style; }
    const RECT& GetListRect() const { return m_rcList; }
    const std::vector<CString>& GetTexts() const { return m_texts; }
    CBkWindow* GetOwnerElement() const { return m_pOwner; }

protected:
    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&) { return 1; }
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnRButtonDown(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnMouseMove(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnActivateApp(UINT, WPARAM wParam, LPARAM, BOOL&);
    LRESULT OnKillFocus(UINT, WPARAM, LPARAM, BOOL& handled);
    LRESULT OnMouseWheel(UINT, WPARAM wParam, LPARAM, BOOL& handled);

    void DeleteIcons();

    std::vector<CString> m_texts;
    RECT m_rcList = {};
    std::vector<HBITMAP> m_icons;  // one per row, may be null; owned
    COLORREF m_crIconKey = RGB(0xFF, 0xFF, 0xFF);
    COLORREF m_crHighlight = kDefaultHighlight;
    int m_nHighlight = -1;
    int m_nRowCount = 0;
    int m_nLastHighlight = -1;
    int m_nFontHeight = 16;
    CBkWindow* m_pOwner = nullptr;
    int m_nRowHeight = 23;
    int m_nFrameStyle = kFrameThick;
    bool m_bDisposeWhenDone = false;
};

// The combo's drop list: rows over the full client width, a frame open at the top.
class KComboBoxPopList : public KPopUpListWnd {
public:
    static constexpr COLORREF kDefaultFrame = RGB(0x4E, 0xA0, 0xD1);

    // (Re)makes the window: copies the rows, creates the window hidden on the parent and sizes it
    // to hold every row. FALSE when the window cannot be made.
    BOOL Build(CBkWindow* owner, HWND parent, const std::vector<HBITMAP>& icons, const std::vector<CString>& texts);
    // Opens the list at a screen point with the given width and every row's height; takes the capture.
    void ShowDropDown(int x, int y, int width);

    void SetFrameColor(COLORREF c) { m_crFrame = c; }
    void SetExtraColors(COLORREF a, COLORREF b) { m_crExtra1 = a; m_crExtra2 = b; }
    COLORREF GetFrameColor() const { return m_crFrame; }

    void DrawHighlight(HDC dc, int x, int y, COLORREF colour) override;
    void DrawFrameNone(HDC dc) override;
    void DrawFrameThick(HDC dc) override;
    void DrawTexts(HDC dc, int x, int y) override;

private:
    COLORREF m_crFrame = kDefaultFrame;
    COLORREF m_crExtra1 = RGB(0xDA, 0xDB, 0xDD);
    COLORREF m_crExtra2 = RGB(0xEE, 0xEE, 0xF0);
};
