// A small topmost tip window that shows a short text near a point and follows it, optionally
// hiding a moment after it is told to.
#pragma once

#include <windows.h>

#include "winlayer/str.h"
#include "winlayer/window.h"

typedef CWinTraits<WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW> CTrackTooltipTraits;

class KTrackTooltip : public CWindowImpl<KTrackTooltip, CWindow, CTrackTooltipTraits> {
public:
    enum : UINT_PTR { kHideTimerId = 1024 };
    enum : int {
        kMaxTextWidth = 174,   // wider texts wrap inside this width
        kPadding = 14,         // window size beyond the text extent
        kInset = 7,            // text inset on the left, top and right
        kExtraLine = 15,       // height added for a wrapped text
    };
    static constexpr COLORREF kBackground = RGB(0xFF, 0xFF, 0xE1);

    KTrackTooltip() = default;
    ~KTrackTooltip() override;

    BEGIN_MSG_MAP(KTrackTooltip)
        MESSAGE_HANDLER(WM_PAINT, OnPaint)
        MESSAGE_HANDLER(WM_PRINTCLIENT, OnPaint)
        MESSAGE_HANDLER(WM_CREATE, OnCreate)
        MESSAGE_HANDLER(WM_TIMER, OnTimer)
    END_MSG_MAP()

    // Makes the window (hidden) on the parent; nothing when it exists. FALSE when it cannot be made.
    BOOL Create(HWND parent);
    void EnableDelayedHide();
    // Shows without activating; hiding with delayed hide arms the hide timer instead.
    void Show(BOOL show);
    // Moves to (x + 16, y + 16) when the point moved by more than 2 pixels, then sets the text.
    void TrackTo(POINT pt, LPCWSTR text);
    // Replaces the text, shows the window and sizes it to the text. 0 for a null text.
    int SetText(LPCWSTR text);
    void Destroy();

    BOOL IsShown() const { return m_bShown; }
    const CString& GetText() const { return m_strText; }
    HFONT GetFont() const { return m_hFont; }
    BOOL IsDelayedHide() const { return m_bDelayedHide; }
    UINT GetHideDelay() const { return m_uHideDelay; }

private:
    LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&) { return 1; }
    LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    void DoPaint(HDC dc);
    void ShowNoActivate();

    BOOL m_bShown = FALSE;
    CString m_strText;
    HFONT m_hFont = nullptr;
    int m_nLastX = 0;
    int m_nLastY = 0;
    BOOL m_bDelayedHide = FALSE;
    UINT m_uHideDelay = 500;
};
