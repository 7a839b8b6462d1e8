// The control panel's owner-drawn report list: a "SysListView32" whose rows and cells are kept as the
// control's own records and drawn by the program, under a skinned header 25 pixels high.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "winlayer/window.h"

namespace warden {

// Posted to the notify window (or the parent).
constexpr UINT WM_LIST_HOVER = WM_USER + 0x300;  // wParam: item under the mouse, -1 none
constexpr UINT WM_LIST_LINK = WM_USER + 0x301;   // wParam: item, lParam: cell of a clicked link
// Accepted by the list: delete every item but keep the row records; insert an item without a record.
constexpr UINT WM_LIST_DELETE_ITEMS = WM_APP + 200;
constexpr UINT WM_LIST_INSERT_BARE = WM_APP + 201;

constexpr int kListHeaderHeight = 25;
constexpr int kListRowHeight = 24;
constexpr COLORREF kListBackground = RGB(251, 252, 253);
constexpr COLORREF kListSelected = RGB(185, 219, 255);
constexpr COLORREF kListLine = RGB(234, 233, 225);
constexpr COLORREF kListGroupBackground = RGB(248, 248, 248);
constexpr COLORREF kListLinkColour = RGB(40, 100, 165);
constexpr COLORREF kListBadge1 = RGB(224, 0, 0);
constexpr COLORREF kListBadge2 = RGB(250, 115, 5);

// Bitmap resources of the list (drawn at build time).
enum : UINT {
    kBmpListHeader = 210,
    kBmpListCheck = 211,
    kBmpListExpand = 212,
    kBmpListRadio = 213,
    kBmpListMarker = 214,
};

// Row flags.
enum : DWORD {
    kRowGroup = 0x01,
    kRowCheck = 0x02,
    kRowRadio = 0x04,
    kRowExpandable = 0x08,
    kRowBoldTitle = 0x10,
};

// Cell types.
enum : int { kCellText = 0, kCellLink = 1, kCellIcon = 2, kCellPicture = 3, kCellMarker = 4 };

struct ListCell {
    int type = kCellText;
    std::wstring text;
    COLORREF colour = 0;
    RECT rect = {};        // group rows: place relative to the row; negative left/right from its visible width
    INT_PTR value = 0;     // type 2: the HICON; type 3: a "png" resource id
};

struct ListRow {
    int indent = 10;
    int topOffset = -1;
    int bold = 0;
    int sizeDelta = 0;
    DWORD flags = 0;
    COLORREF background = kListBackground;
    COLORREF line = kListLine;
    std::vector<ListCell> cells;
    int kind = 0;
    int userValue = 0;
    int collapsed = 0;
    std::vector<std::unique_ptr<ListRow>> folded;
    UINT savedState = 0;
    int kindIndex = -1;
};

// The skinned header: bitmap 210 stretched, dividers, captions centred or right-aligned. It takes over
// the list's own header window.
class CHeaderCtrlEx : public CWindowImpl<CHeaderCtrlEx> {
public:
    CHeaderCtrlEx() = default;
    // Routes the header window's messages through this object; false when it holds one already.
    bool SubclassHeader(HWND header);
    HWND hwnd() const { return m_hWnd; }
    void SetHeight(int height) { height_ = height; }
    int Height() const { return height_; }

    BEGIN_MSG_MAP(CHeaderCtrlEx)
        MESSAGE_HANDLER(WM_PAINT, OnPaint)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
        MESSAGE_HANDLER(HDM_LAYOUT, OnLayout)
    END_MSG_MAP()

private:
    LRESULT OnPaint(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&) { return 1; }
    LRESULT OnLayout(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&);

    HBITMAP background_ = nullptr;  // the bitmap pool's; not ours to delete
    int height_ = -1;
};

// A superclass of "SysListView32": the object sees every message from WM_NCCREATE on, since the list
// asks its parent for the row height (WM_MEASUREITEM, reflected back) while it is being created.
class CListViewCtrlEx : public CWindowImpl<CListViewCtrlEx> {
public:
    DECLARE_WND_SUPERCLASS(L"TolvenListViewEx", WC_LISTVIEWW)

    CListViewCtrlEx();
    ~CListViewCtrlEx() override;

    // Creates the list (hidden: its place shows it) under parent with the control id; rect null gives
    // an empty rectangle.
    HWND Create(HWND parent, const RECT* rect, UINT id);
    HWND hwnd() const { return m_hWnd; }
    CHeaderCtrlEx& Header() { return header_; }

    int AppendRow(const wchar_t* text);
    int SetCell(int row, const wchar_t* text);
    int AddGroupRow(DWORD flags, const wchar_t* text, COLORREF colour);
    int AddKindRow(const wchar_t* text, HICON icon, int kind, DWORD flags);
    int AddIconRow(const wchar_t* text, HICON icon, int userValue, DWORD flags);
    int AddCell(int row, int type, const wchar_t* text, INT_PTR value);
    int AddPlacedCell(int row, int type, const wchar_t* text, COLORREF colour, const RECT& rect);
    BOOL SetCellTypeAndText(int row, int cell, int type, const wchar_t* text, BOOL redraw);
    BOOL SetCellColour(int row, int cell, COLORREF colour, BOOL redraw);
    BOOL SetCellText(int row, int cell, const wchar_t* text);
    BOOL SetRowFlags(int row, DWORD flags);
    BOOL GetCheck(int row) const;
    BOOL SetCheck(int row, BOOL on);
    BOOL SetRadio(int row, BOOL on);
    int CheckAll();
    BOOL DeleteRow(int row);
    void DeleteAll();
    int PlainRowCount() const;
    int Kind1Count() const { return KindCount(1); }
    int Kind2Count() const { return KindCount(2); }
    void SetEmptyText(const wchar_t* text) { emptyText_ = text ? text : L""; }
    void SetNotifyWindow(HWND window) { notify_ = window; }

    int RowCount() const { return static_cast<int>(rows_.size()); }
    const ListRow* Row(int row) const;
    // The widest text measured so far in a column, plus padding; 0 when none.
    int RecordedWidth(int column) const;

    // The list's own messages, the header's notifications and the owner-draw messages that the parent
    // reflects back (message + 0x2000).
    BEGIN_MSG_MAP(CListViewCtrlEx)
        MESSAGE_HANDLER(WM_PAINT, OnPaint)
        MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMoveMsg)
        MESSAGE_HANDLER(WM_MOUSELEAVE, OnMouseLeave)
        MESSAGE_HANDLER(WM_TIMER, OnTimer)
        MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
        MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
        MESSAGE_HANDLER(OCM_NOTIFY, OnNotify)
        MESSAGE_HANDLER(WM_LIST_DELETE_ITEMS, OnDeleteItems)
        MESSAGE_HANDLER(WM_LIST_INSERT_BARE, OnInsertBare)
        MESSAGE_HANDLER(LVM_INSERTCOLUMNW, OnInsertColumn)
        MESSAGE_HANDLER(LVM_INSERTCOLUMNA, OnInsertColumn)
        MESSAGE_HANDLER(OCM_DRAWITEM, OnDrawItem)
        MESSAGE_HANDLER(OCM_MEASUREITEM, OnMeasureItem)
        MESSAGE_HANDLER(OCM_COMPAREITEM, OnCompareItem)
        MESSAGE_HANDLER(OCM_DELETEITEM, OnDeleteItem)
        DEFAULT_REFLECTION_HANDLER()
    END_MSG_MAP()

private:
    LRESULT OnPaint(UINT, WPARAM, LPARAM, BOOL& handled);
    LRESULT OnMouseMoveMsg(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnMouseLeave(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& handled);
    LRESULT OnSetCursor(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnNotify(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDeleteItems(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnInsertBare(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnInsertColumn(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&);
    LRESULT OnDrawItem(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnMeasureItem(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnCompareItem(UINT, WPARAM, LPARAM, BOOL&) { return 0; }
    LRESULT OnDeleteItem(UINT, WPARAM, LPARAM, BOOL&) { return TRUE; }

    ListRow* RowAt(int row);
    int KindCount(int kind) const;
    bool ValidRow(int row) const { return row >= 0 && row < static_cast<int>(rows_.size()); }
    int InsertItem(int at);
    UINT StateImage(int item) const;
    void SetStateImage(int item, UINT image);
    void ClearRadios(int except);
    void AttachHeader();
    void DrawItem(const DRAWITEMSTRUCT& dis);
    void DrawItemRow(HDC dc, const RECT& rc, int item, const ListRow& row, bool selected);
    void DrawGroupRow(HDC dc, const RECT& rc, const ListRow& row);
    void PaintEmpty();
    void OnClick(int item, int subItem, POINT pt);
    void ToggleGroup(int item);
    void OnMouseMove(POINT pt);
    bool LinkHit(POINT pt, int* item, int* cell) const;
    RECT LabelRect(int item, int column) const;
    RECT VisibleCellRect(const RECT& row, const ListCell& cell) const;
    void RecordWidth(int column, int width);
    void InvalidateItem(int item);
    void Post(UINT msg, WPARAM wParam, LPARAM lParam);

    CHeaderCtrlEx header_;
    HFONT linkFont_ = nullptr;     // the font pool's
    HBITMAP check_ = nullptr;      // the bitmap pool's
    HBITMAP expand_ = nullptr;     // the bitmap pool's
    HBITMAP radio_ = nullptr;      // the bitmap pool's
    HBITMAP marker_ = nullptr;     // the bitmap pool's
    HBITMAP radioMask_ = nullptr;  // ours
    int hoverItem_ = -1;
    int hoverColumn_ = -1;
    std::vector<std::unique_ptr<ListRow>> rows_;
    HWND notify_ = nullptr;
    std::wstring emptyText_ = L"没有内容";
    std::map<int, int> widths_;
};

// Draws a "png" resource of the picture pool at its own size with its top-left corner at (x, y);
// false when it is missing or does not decode.
bool ListDrawPicture(HDC dc, UINT id, int x, int y);

}  // namespace warden
