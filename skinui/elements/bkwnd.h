// The element base: a windowless drawn item of a skinned window, loaded from one XML element of a
// layout, placed inside the view window that hosts it and driven by the messages the view and its
// container send to it.
#pragma once

#include <windows.h>

#include <string>

#include "bkobject.h"
#include "bkskin.h"
#include "bkstyle.h"
#include "winlayer/str.h"

class TiXmlElement;

// Element handles come from BkWindowRegistry; 0 is never a live element.
typedef UINT HBKWND;

// Size mode: one width bit, one height bit and one float bit after loading.
enum : DWORD {
    kBkSizeWidthFixed = 0x01,
    kBkSizeWidthAuto = 0x02,
    kBkSizeWidthFull = 0x04,
    kBkSizeWidthMask = 0x07,
    kBkSizeHeightFixed = 0x10,
    kBkSizeHeightAuto = 0x20,
    kBkSizeHeightFull = 0x40,
    kBkSizeHeightMask = 0x70,
    kBkSizeNoFloat = 0x100,
    kBkSizeFloat = 0x200,
};

// Alignments: stored and reported, not used for placement by any container.
enum : UINT {
    kBkVAlignTop = 0,
    kBkVAlignMiddle = 0x1000,
    kBkVAlignBottom = 0x2000,
    kBkAlignLeft = 0,
    kBkAlignCenter = 0x4000,
    kBkAlignRight = 0x8000,
};

// WM_NOTIFY codes inside skinned windows.
enum : UINT {
    kBkNotifyCommand = 1,        // BkCommandNotify, from the view to its dialog
    kBkNotifyRealWndMoved = 2,   // BkRealWndMovedNotify
    kBkNotifyMouseEnter = 3,
    kBkNotifyMouseLeave = 4,
    kBkNotifyTabChange = 5,
    kBkNotifyRedraw = 1000,      // BkRedrawNotify, from an element to its view
};

// The control id of the view window in every skinned dialog.
enum : UINT { kBkViewCtrlId = 1000 };

// A click on an item with a command id: the view tells its dialog.
struct BkCommandNotify {
    NMHDR hdr;            // view window, 1000, kBkNotifyCommand
    UINT uItemID;         // the item's command id
    LPCSTR szItemClass;   // the item's tag name, valid during the call only
};

// An element asks its view to repaint a rectangle (view client coordinates).
struct BkRedrawNotify {
    NMHDR hdr;            // null, the element's command id, kBkNotifyRedraw
    HBKWND hbkWnd;
    RECT rcWnd;
};

// A "realwnd" element moved its real window.
struct BkRealWndMovedNotify {
    NMHDR hdr;            // container window, its control id, kBkNotifyRealWndMoved
    UINT uItemID;
    RECT rcWnd;
};

#if defined(_WIN64)
static_assert(sizeof(BkCommandNotify) == 40, "natural x64 layout");
static_assert(sizeof(BkRedrawNotify) == 48, "natural x64 layout");
static_assert(sizeof(BkRealWndMovedNotify) == 48, "natural x64 layout");
#else
static_assert(sizeof(BkCommandNotify) == 20, "the 32-bit record is 20 bytes");
static_assert(sizeof(BkRedrawNotify) == 32, "32-bit layout");
static_assert(sizeof(BkRealWndMovedNotify) == 32, "32-bit layout");
#endif

// One value of "pos": offset from the near edge, the far edge ('-') or the centre ('|').
struct BkPosItem {
    BOOL bCenter;
    BOOL bMinus;
    int nPos;
};

// Resolves a position value against the extent offered: v, E - v, E/2 + v or E/2 - v.
int BkResolvePos(const BkPosItem& item, int extent);

class CBkWindow : public CBkObject {
public:
    CBkWindow();
    ~CBkWindow() override;
    CBkWindow(const CBkWindow&) = delete;
    CBkWindow& operator=(const CBkWindow&) = delete;

    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;

    // Replaces the text; an automatic extent is measured again (unless a four-value "pos" gives it).
    virtual HRESULT SetText(LPCWSTR text);
    virtual void SetCursor();
    virtual void SetContainerWindow(HWND hWnd) { m_hWndContainer = hWnd; }
    // This element's handle when the point lies in its rect, else 0.
    virtual HBKWND HitTest(POINT pt);
    // Whether a hover or press change changes the look (the view repaints only then).
    virtual BOOL RedrawsOnStateChange();
    virtual BOOL IsContainer() { return FALSE; }
    // Background, then the element's own WM_PAINT. FALSE when the rect lies outside the region.
    virtual BOOL PaintInRegion(HDC dc, HRGN region);
    virtual void DrawBackground(HDC dc);
    virtual void DrawInnerText(HDC dc);
    // Sets `handled` for the messages it knows; always TRUE.
    virtual BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Sends BkRedrawNotify for the own rect or the given one (nothing when hidden deep, or when the
    // container window is missing or gone).
    void RequestRedraw();
    void RequestRedraw(const RECT& rc);
    LRESULT SendToSelf(UINT msg, WPARAM wParam, LPARAM lParam);
    // Parses a "pos" value; at run time (loading FALSE) the parent container places the element anew.
    void ParsePos(const std::string& text, BOOL loading);
    void SetVisible(BOOL visible);

    BOOL IsVisibleDeep() const;
    BOOL IsDisabledDeep() const;

    HBKWND GetHandle() const { return m_hBkWnd; }
    HBKWND GetParent() const { return m_hBkWndParent; }
    void SetParent(HBKWND parent) { m_hBkWndParent = parent; }
    HWND GetContainerWindow() const { return m_hWndContainer; }
    int GetCmdID() const { return m_uCmdID; }
    const RECT& GetRect() const { return m_rcWindow; }
    void SetRect(const RECT& rc) { m_rcWindow = rc; }
    DWORD GetState() const { return m_dwState; }
    void ModifyState(DWORD add, DWORD remove) { m_dwState = (m_dwState & ~remove) | add; }
    UINT GetAlign() const { return m_uHAlign | m_uVAlign; }
    DWORD GetSizeMode() const { return m_uSizeMode; }
    int GetPosCount() const { return m_nPosCount; }
    const BkPosItem* GetPos() const { return m_pos; }
    const CString& GetLink() const { return m_strLinkUrl; }
    const CString& GetToolTipText() const { return m_strToolTipText; }
    const CString& GetInnerText() const { return m_strInnerText; }
    int GetTransparent() const { return m_lTransparent; }
    BkStyle& GetStyle() { return m_style; }
    BOOL IsMsgHandled() const { return m_bMsgHandled; }
    void SetMsgHandled(BOOL handled) { m_bMsgHandled = handled; }

    // The font that measuring uses: own, else the nearest ancestor's; hover font likewise.
    HFONT MeasureFont() const;

protected:
    void OnMeasure(BOOL constrained, SIZE* size);
    void OnPlacement(const WINDOWPOS* pos);
    // Measures with wParam FALSE and sets the automatic extents from the result.
    void MeasureAutoExtents();
    // For elements that lay a real window over their rect (edit, combo). ApplyShowMessage records a
    // WM_SHOWWINDOW and is FALSE when the element is to be shown while an ancestor still hides it, so
    // that its window stays hidden. ShowOverlay moves that window onto `want` (container coordinates)
    // when it lies elsewhere, and shows or hides it.
    BOOL ApplyShowMessage(BOOL shown);
    void ShowOverlay(HWND overlay, const RECT& want, BOOL shown) const;

    HBKWND m_hBkWnd = 0;
    HBKWND m_hBkWndParent = 0;
    HWND m_hWndContainer = nullptr;
    int m_uCmdID = 0;
    RECT m_rcWindow = {};
    DWORD m_uSizeMode = 0;
    BkStyle m_style;
    CString m_strInnerText;
    int m_lFixedWidth = 0;
    int m_lFixedHeight = 0;
    DWORD m_dwState = 0;
    UINT m_uVAlign = kBkVAlignTop;
    UINT m_uHAlign = kBkAlignLeft;
    CString m_strLinkUrl;
    int m_lTransparent = 0;
    CString m_strToolTipText;
    int m_nPosCount = 0;
    BkPosItem m_pos[4] = {};
    BOOL m_bMsgHandled = FALSE;
};

// Elements that hold other elements. The containers give these their behaviour.
class CBkContainerWnd : public CBkWindow {
public:
    BOOL IsContainer() override { return TRUE; }
    virtual CBkWindow* FindChild(int cmdId) { (void)cmdId; return nullptr; }
    virtual void RepositionChildren() {}
    virtual void RepositionChild(CBkWindow* child) { (void)child; }
};

// Replaces every %strN% reference of the text by string N of the string table (nothing for an id
// the table lacks). A non-positive N, or a reference without its closing '%', ends the substitution.
void BkSubstituteStrings(std::wstring& text);
