#include "listctrl.h"

#include <algorithm>

// GDI+ needs the COM and property types that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <propidl.h>
using std::max;
using std::min;
#include <gdiplus.h>

#include "bkimage.h"
#include "bkstyle.h"

namespace warden {

namespace {

UINT g_checkStateMask = LVIS_STATEIMAGEMASK;

// State images of check and radio rows: 2 on, 1 off.
constexpr UINT kStateOn = 2;
constexpr UINT kStateOff = 1;

// The last point a mouse move was seen at, shared by every list (the hover timer starts only when the
// mouse really moved).
POINT g_lastMouse = {0, 0};

void FillSolid(HDC dc, const RECT& rc, COLORREF colour) {
    COLORREF old = ::SetBkColor(dc, colour);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(dc, old);
}

void Blit(HDC dc, int x, int y, int w, int h, HBITMAP bmp, int sx, int sy, DWORD rop) {
    if (!bmp) return;
    HDC mem = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(dc, x, y, w, h, mem, sx, sy, rop);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
}

void Stretch(HDC dc, const RECT& to, HBITMAP bmp, int sx, int sy, int sw, int sh) {
    if (!bmp || to.right <= to.left || to.bottom <= to.top) return;
    HDC mem = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    int oldMode = ::SetStretchBltMode(dc, COLORONCOLOR);
    ::StretchBlt(dc, to.left, to.top, to.right - to.left, to.bottom - to.top, mem, sx, sy, sw, sh, SRCCOPY);
    ::SetStretchBltMode(dc, oldMode);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
}

// A monochrome mask of bmp: white where a pixel has the colour of the top-left pixel, black elsewhere.
HBITMAP MakeMask(HBITMAP bmp) {
    BITMAP bm = {};
    if (!bmp || !::GetObjectW(bmp, sizeof(bm), &bm)) return nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC src = ::CreateCompatibleDC(screen);
    HDC dst = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    HBITMAP mask = ::CreateBitmap(bm.bmWidth, bm.bmHeight, 1, 1, nullptr);
    HGDIOBJ oldSrc = ::SelectObject(src, bmp);
    HGDIOBJ oldDst = ::SelectObject(dst, mask);
    ::SetBkColor(src, ::GetPixel(src, 0, 0));
    ::BitBlt(dst, 0, 0, bm.bmWidth, bm.bmHeight, src, 0, 0, SRCCOPY);
    ::SelectObject(src, oldSrc);
    ::SelectObject(dst, oldDst);
    ::DeleteDC(src);
    ::DeleteDC(dst);
    return mask;
}

ListCell TextCell(int type, const wchar_t* text, COLORREF colour, INT_PTR value) {
    ListCell c;
    c.type = type;
    c.text = text ? text : L"";
    c.colour = colour;
    c.value = value;
    return c;
}

int TextWidth(HDC dc, const std::wstring& text) {
    RECT r = {0, 0, 0, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
    return r.right - r.left;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Header

bool CHeaderCtrlEx::SubclassHeader(HWND header) {
    if (m_hWnd || !header) return false;
    background_ = BkBmpPool::GetBitmap(kBmpListHeader);
    return SubclassWindow(header) != FALSE;
}

LRESULT CHeaderCtrlEx::OnLayout(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    LRESULT r = DefWindowProc(msg, wParam, lParam);
    HDLAYOUT* layout = reinterpret_cast<HDLAYOUT*>(lParam);
    if (height_ >= 0 && layout && layout->prc && layout->pwpos) {
        layout->pwpos->cy = height_;
        layout->prc->top = height_;
    }
    return r;
}

LRESULT CHeaderCtrlEx::OnPaint(UINT, WPARAM, LPARAM, BOOL&) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    HGDIOBJ oldFont = ::SelectObject(dc, BkFontPool::GetFont(0));
    int oldMode = ::SetBkMode(dc, TRANSPARENT);
    Stretch(dc, client, background_, 0, 0, 3, 20);
    int count = static_cast<int>(::SendMessageW(m_hWnd, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        RECT item;
        if (!::SendMessageW(m_hWnd, HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item))) continue;
        RECT divider = {item.right - 3, item.top, item.right, item.bottom};
        Stretch(dc, divider, background_, 3, 0, 3, 20);
        ::InflateRect(&item, -2, 0);
        wchar_t text[256] = L"";
        HDITEMW hdi = {};
        hdi.mask = HDI_TEXT | HDI_FORMAT;
        hdi.pszText = text;
        hdi.cchTextMax = 256;
        ::SendMessageW(m_hWnd, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&hdi));
        text[255] = L'\0';
        UINT align = (hdi.fmt & HDF_RIGHT) ? DT_RIGHT : DT_CENTER;
        ::DrawTextW(dc, text, -1, &item, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX | align);
    }
    ::SetBkMode(dc, oldMode);
    ::SelectObject(dc, oldFont);
    ::EndPaint(m_hWnd, &ps);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// List: creation and window procedure

CListViewCtrlEx::CListViewCtrlEx() {
    linkFont_ = BkFontPool::GetFont(0x0002);
    check_ = BkBmpPool::GetBitmap(kBmpListCheck);
    expand_ = BkBmpPool::GetBitmap(kBmpListExpand);
    radio_ = BkBmpPool::GetBitmap(kBmpListRadio);
    marker_ = BkBmpPool::GetBitmap(kBmpListMarker);
    radioMask_ = MakeMask(radio_);
}

CListViewCtrlEx::~CListViewCtrlEx() {
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
    if (radioMask_) ::DeleteObject(radioMask_);
}

HWND CListViewCtrlEx::Create(HWND parent, const RECT* rect, UINT id) {
    if (m_hWnd) return nullptr;
    // The superclass copies the system class, which exists only once the common controls are set up.
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&icc);
    RECT rc = rect ? *rect : RECT{0, 0, 0, 0};
    HWND hwnd = CWindowImpl<CListViewCtrlEx>::Create(
        parent, &rc, L"", WS_CHILD | LVS_OWNERDRAWFIXED | LVS_SHOWSELALWAYS | LVS_SINGLESEL | LVS_REPORT, 0, id);
    if (!hwnd) return nullptr;
    ::SendMessageW(hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                   LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    AttachHeader();
    ::SendMessageW(hwnd, LVM_SETBKCOLOR, 0, kListBackground);
    return hwnd;
}

void CListViewCtrlEx::AttachHeader() {
    if (header_.hwnd() || !m_hWnd) return;
    HWND header = reinterpret_cast<HWND>(::SendMessageW(m_hWnd, LVM_GETHEADER, 0, 0));
    if (!header || !header_.SubclassHeader(header)) return;
    header_.SetHeight(kListHeaderHeight);
    ::SetWindowLongPtrW(header, GWL_STYLE,
                        ::GetWindowLongPtrW(header, GWL_STYLE) & ~static_cast<LONG_PTR>(HDS_FULLDRAG));
    // Lay the list out again with the header's new height.
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// ---------------------------------------------------------------------------------------------
// List: messages

LRESULT CListViewCtrlEx::OnPaint(UINT, WPARAM, LPARAM, BOOL& handled) {
    if (!rows_.empty()) {
        handled = FALSE;  // the list paints its items, which come back here as WM_DRAWITEM
        return 0;
    }
    PaintEmpty();
    return 0;
}

LRESULT CListViewCtrlEx::OnMouseMoveMsg(UINT, WPARAM, LPARAM lParam, BOOL&) {
    // Signed: a captured mouse reports points left of and above the window.
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    OnMouseMove(pt);
    return 0;  // the list's own hover processing stays out
}

LRESULT CListViewCtrlEx::OnMouseLeave(UINT, WPARAM, LPARAM, BOOL&) {
    ::KillTimer(m_hWnd, 1);
    return 0;
}

LRESULT CListViewCtrlEx::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    // The rest timer has no use of its own; it must never reach the list's procedure.
    if (wParam != 1) {
        handled = FALSE;
        return 0;
    }
    ::KillTimer(m_hWnd, 1);
    return 0;
}

LRESULT CListViewCtrlEx::OnSetCursor(UINT, WPARAM, LPARAM, BOOL&) {
    POINT pt;
    ::GetCursorPos(&pt);
    ::ScreenToClient(m_hWnd, &pt);
    int item, cell;
    ::SetCursor(::LoadCursorW(nullptr, LinkHit(pt, &item, &cell) ? IDC_HAND : IDC_ARROW));
    return TRUE;
}

LRESULT CListViewCtrlEx::OnNotify(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    const NMHDR* nm = reinterpret_cast<const NMHDR*>(lParam);
    if (nm && nm->code == NM_CLICK && nm->hwndFrom == m_hWnd) {
        const NMITEMACTIVATE* ia = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
        OnClick(ia->iItem, ia->iSubItem, ia->ptAction);
        return 0;
    }
    if (nm && msg == WM_NOTIFY && header_.hwnd() && nm->hwndFrom == header_.hwnd()) {
        const NMHEADERW* hd = reinterpret_cast<const NMHEADERW*>(lParam);
        switch (nm->code) {
        case HDN_DIVIDERDBLCLICKW: {
            const int width = RecordedWidth(hd->iItem);
            if (width <= 0) break;  // nothing measured: the list's own handling
            ::SendMessageW(m_hWnd, LVM_SETCOLUMNWIDTH, hd->iItem, MAKELPARAM(width, 0));
            ::InvalidateRect(m_hWnd, nullptr, TRUE);
            return 0;
        }
        case HDN_TRACKW:
            return 0;
        case HDN_ENDTRACKW:
            ::InvalidateRect(m_hWnd, nullptr, TRUE);
            return DefWindowProc(msg, wParam, lParam);
        default:
            break;
        }
    }
    handled = FALSE;  // the list's own handling (a reflected one: the default reflection)
    return 0;
}

LRESULT CListViewCtrlEx::OnDeleteItems(UINT, WPARAM, LPARAM, BOOL&) {
    ::SendMessageW(m_hWnd, LVM_DELETEALLITEMS, 0, 0);
    return 0;
}

LRESULT CListViewCtrlEx::OnInsertBare(UINT, WPARAM, LPARAM, BOOL&) {
    return InsertItem(static_cast<int>(::SendMessageW(m_hWnd, LVM_GETITEMCOUNT, 0, 0)));
}

LRESULT CListViewCtrlEx::OnInsertColumn(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    // Where the list makes its header only with the first column, it is taken over then.
    LRESULT r = DefWindowProc(msg, wParam, lParam);
    AttachHeader();
    return r;
}

LRESULT CListViewCtrlEx::OnDrawItem(UINT, WPARAM, LPARAM lParam, BOOL&) {
    if (lParam) DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    return TRUE;
}

LRESULT CListViewCtrlEx::OnMeasureItem(UINT, WPARAM, LPARAM lParam, BOOL&) {
    if (lParam) reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = kListRowHeight;
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Rows and cells

ListRow* CListViewCtrlEx::RowAt(int row) { return ValidRow(row) ? rows_[row].get() : nullptr; }
const ListRow* CListViewCtrlEx::Row(int row) const { return ValidRow(row) ? rows_[row].get() : nullptr; }

int CListViewCtrlEx::InsertItem(int at) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = at;
    item.pszText = const_cast<wchar_t*>(L"");
    return static_cast<int>(::SendMessageW(m_hWnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

int CListViewCtrlEx::AppendRow(const wchar_t* text) {
    auto row = std::make_unique<ListRow>();
    row->cells.push_back(TextCell(kCellText, text, 0, 0));
    rows_.push_back(std::move(row));
    int item = InsertItem(static_cast<int>(rows_.size()) - 1);
    return item >= 0 ? item : static_cast<int>(rows_.size()) - 1;
}

int CListViewCtrlEx::SetCell(int row, const wchar_t* text) { return AddCell(row, kCellText, text, 0); }

int CListViewCtrlEx::AddGroupRow(DWORD flags, const wchar_t* text, COLORREF colour) {
    auto row = std::make_unique<ListRow>();
    row->flags = flags | kRowGroup;
    row->bold = (flags & kRowBoldTitle) ? 1 : 0;
    row->indent = 15;
    row->background = kListGroupBackground;
    row->cells.push_back(TextCell(kCellText, text, colour, 0));
    rows_.push_back(std::move(row));
    int item = InsertItem(static_cast<int>(rows_.size()) - 1);
    return item >= 0 ? item : static_cast<int>(rows_.size()) - 1;
}

int CListViewCtrlEx::AddKindRow(const wchar_t* text, HICON icon, int kind, DWORD flags) {
    auto row = std::make_unique<ListRow>();
    row->flags = flags;
    row->kind = kind;
    row->cells.push_back(TextCell(kCellIcon, text, 0, reinterpret_cast<INT_PTR>(icon)));
    int index = static_cast<int>(rows_.size());
    if (kind == 1) row->kindIndex = KindCount(1);
    rows_.push_back(std::move(row));
    InsertItem(index);
    return index;
}

int CListViewCtrlEx::AddIconRow(const wchar_t* text, HICON icon, int userValue, DWORD flags) {
    auto row = std::make_unique<ListRow>();
    row->flags = flags;
    row->userValue = userValue;
    row->cells.push_back(TextCell(kCellIcon, text, 0, reinterpret_cast<INT_PTR>(icon)));
    rows_.push_back(std::move(row));
    int index = static_cast<int>(rows_.size()) - 1;
    InsertItem(index);
    return index;
}

int CListViewCtrlEx::AddCell(int row, int type, const wchar_t* text, INT_PTR value) {
    ListRow* r = RowAt(row);
    if (!r) return -1;
    r->cells.push_back(TextCell(type, text, 0, value));
    return static_cast<int>(r->cells.size());
}

int CListViewCtrlEx::AddPlacedCell(int row, int type, const wchar_t* text, COLORREF colour, const RECT& rect) {
    ListRow* r = RowAt(row);
    if (!r) return -1;
    ListCell c = TextCell(type, text, colour, 0);
    c.rect = rect;
    r->cells.push_back(c);
    return static_cast<int>(r->cells.size());
}

BOOL CListViewCtrlEx::SetCellTypeAndText(int row, int cell, int type, const wchar_t* text, BOOL redraw) {
    ListRow* r = RowAt(row);
    if (!r || cell < 0 || cell >= static_cast<int>(r->cells.size())) return FALSE;
    r->cells[cell].type = type;
    r->cells[cell].text = text ? text : L"";
    if (redraw) {
        RECT rc = LabelRect(row, cell);
        ::InvalidateRect(m_hWnd, &rc, TRUE);
    }
    return TRUE;
}

BOOL CListViewCtrlEx::SetCellColour(int row, int cell, COLORREF colour, BOOL redraw) {
    ListRow* r = RowAt(row);
    if (!r || cell < 0 || cell >= static_cast<int>(r->cells.size())) return FALSE;
    r->cells[cell].colour = colour;
    if (redraw) {
        RECT rc = LabelRect(row, cell);
        ::InvalidateRect(m_hWnd, &rc, TRUE);
    }
    return TRUE;
}

BOOL CListViewCtrlEx::SetCellText(int row, int cell, const wchar_t* text) {
    ListRow* r = RowAt(row);
    if (!r || cell < 0 || cell >= static_cast<int>(r->cells.size())) return FALSE;
    r->cells[cell].text = text ? text : L"";
    return TRUE;
}

BOOL CListViewCtrlEx::SetRowFlags(int row, DWORD flags) {
    ListRow* r = RowAt(row);
    if (!r) return FALSE;
    if (flags & (kRowCheck | kRowRadio)) {
        r->flags |= flags & (kRowCheck | kRowRadio);
    } else {
        r->flags &= ~(kRowCheck | kRowRadio);
        SetStateImage(row, 0);
    }
    return TRUE;
}

UINT CListViewCtrlEx::StateImage(int item) const {
    return (static_cast<UINT>(::SendMessageW(m_hWnd, LVM_GETITEMSTATE, item, g_checkStateMask)) & 0xF000) >> 12;
}

void CListViewCtrlEx::SetStateImage(int item, UINT image) {
    LVITEMW lv = {};
    lv.stateMask = 0xF000;
    lv.state = INDEXTOSTATEIMAGEMASK(image);
    ::SendMessageW(m_hWnd, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&lv));
}

BOOL CListViewCtrlEx::GetCheck(int row) const { return ValidRow(row) && StateImage(row) == kStateOn; }

void CListViewCtrlEx::ClearRadios(int except) {
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
        if (i != except && (rows_[i]->flags & kRowRadio)) SetStateImage(i, kStateOff);
}

BOOL CListViewCtrlEx::SetCheck(int row, BOOL on) {
    if (!ValidRow(row)) return FALSE;
    if (on) ClearRadios(-1);
    SetStateImage(row, on ? kStateOn : kStateOff);
    return TRUE;
}

BOOL CListViewCtrlEx::SetRadio(int row, BOOL on) {
    if (!ValidRow(row)) return FALSE;
    if (on) {
        for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
            if (i != row) SetStateImage(i, kStateOff);
    }
    SetStateImage(row, on ? kStateOn : kStateOff);
    return TRUE;
}

int CListViewCtrlEx::CheckAll() {
    ClearRadios(-1);
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
        if (rows_[i]->flags & kRowCheck) SetStateImage(i, kStateOn);
    return static_cast<int>(::SendMessageW(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
}

BOOL CListViewCtrlEx::DeleteRow(int row) {
    if (!ValidRow(row)) return FALSE;
    rows_.erase(rows_.begin() + row);
    ::SendMessageW(m_hWnd, LVM_DELETEITEM, row, 0);
    return TRUE;
}

void CListViewCtrlEx::DeleteAll() {
    rows_.clear();
    if (m_hWnd) ::SendMessageW(m_hWnd, LVM_DELETEALLITEMS, 0, 0);
}

// Counted from the rows in the list, so that deleted and folded rows never leave stale indexes behind.
int CListViewCtrlEx::KindCount(int kind) const {
    return static_cast<int>(std::count_if(rows_.begin(), rows_.end(),
                                          [kind](const std::unique_ptr<ListRow>& r) { return r->kind == kind; }));
}

int CListViewCtrlEx::PlainRowCount() const { return RowCount() - KindCount(1) - KindCount(2); }

int CListViewCtrlEx::RecordedWidth(int column) const {
    auto it = widths_.find(column);
    return it == widths_.end() ? 0 : it->second;
}

void CListViewCtrlEx::RecordWidth(int column, int width) {
    int& w = widths_[column];
    if (width > w) w = width;
}

RECT CListViewCtrlEx::LabelRect(int item, int column) const {
    RECT rc = {};
    rc.top = column;
    rc.left = LVIR_LABEL;
    if (!::SendMessageW(m_hWnd, LVM_GETSUBITEMRECT, item, reinterpret_cast<LPARAM>(&rc))) ::SetRectEmpty(&rc);
    return rc;
}

void CListViewCtrlEx::InvalidateItem(int item) {
    RECT rc = {};
    rc.left = LVIR_BOUNDS;
    if (::SendMessageW(m_hWnd, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&rc))) ::InvalidateRect(m_hWnd, &rc, TRUE);
}

void CListViewCtrlEx::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND to = notify_ ? notify_ : ::GetParent(m_hWnd);
    if (to) ::PostMessageW(to, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// Drawing

void CListViewCtrlEx::PaintEmpty() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    if (header_.hwnd()) {
        RECT hr;
        ::GetWindowRect(header_.hwnd(), &hr);
        RECT fill = client;
        fill.top = hr.bottom - hr.top;
        FillSolid(dc, fill, kListBackground);
    } else {
        FillSolid(dc, client, kListBackground);
    }
    client.top += 50;
    HGDIOBJ old = ::SelectObject(dc, BkFontPool::GetFont(0));
    int mode = ::SetBkMode(dc, TRANSPARENT);
    ::DrawTextW(dc, emptyText_.c_str(), -1, &client, DT_SINGLELINE | DT_CENTER | DT_NOPREFIX);
    ::SetBkMode(dc, mode);
    ::SelectObject(dc, old);
    ::EndPaint(m_hWnd, &ps);
}

void CListViewCtrlEx::DrawItem(const DRAWITEMSTRUCT& dis) {
    if (dis.CtlType != ODT_LISTVIEW) return;
    const int item = static_cast<int>(dis.itemID);
    HDC dc = dis.hDC;
    // Items and records can part (WM_LIST_DELETE_ITEMS, WM_LIST_INSERT_BARE): an item without a record
    // draws empty.
    const ListRow* row = Row(item);
    if (!row) {
        FillSolid(dc, dis.rcItem, kListBackground);
        return;
    }
    int saved = ::SaveDC(dc);
    ::SetBkMode(dc, TRANSPARENT);
    if (row->flags & kRowGroup)
        DrawGroupRow(dc, dis.rcItem, *row);
    else
        DrawItemRow(dc, dis.rcItem, item, *row, (dis.itemState & ODS_SELECTED) != 0);
    ::RestoreDC(dc, saved);
}

void CListViewCtrlEx::DrawItemRow(HDC dc, const RECT& rc, int item, const ListRow& row, bool selected) {
    FillSolid(dc, rc, selected ? kListSelected : row.background);
    const bool box = (row.flags & (kRowCheck | kRowRadio)) != 0;
    if (box) {
        const int x = rc.left + 6, y = rc.top + (rc.bottom - rc.top - 13) / 2;
        const int image = StateImage(item) == kStateOn ? 0 : 13;
        if (row.flags & kRowCheck) {
            Blit(dc, x, y, 13, 13, check_, image, 0, SRCCOPY);
        } else {
            Blit(dc, x, y, 13, 13, radioMask_, image, 0, SRCAND);
            Blit(dc, x, y, 13, 13, radio_, image, 0, SRCPAINT);
        }
    }
    HGDIOBJ oldFont = ::SelectObject(dc, BkFontPool::GetFont(0));
    for (size_t n = 0; n < row.cells.size(); ++n) {
        const ListCell& cell = row.cells[n];
        const int column = static_cast<int>(n);
        RECT r = LabelRect(item, column);
        int padding = 5;
        if (column == 0) {
            if (!box) {
                r.left -= 19;  // over the unused state-image space
                padding = 10;
            } else {
                padding = r.left + 5;
            }
        }
        r.left += 2;
        r.right -= 3;
        switch (cell.type) {
        case kCellIcon:
            if (cell.value)
                ::DrawIconEx(dc, r.left, r.top + 3, reinterpret_cast<HICON>(cell.value), 16, 16, 0, nullptr, DI_NORMAL);
            r.left += 18;
            break;
        case kCellPicture:
            ListDrawPicture(dc, static_cast<UINT>(cell.value), r.left, r.top + 5);
            r.left += 18;
            break;
        case kCellMarker:
            Blit(dc, r.right - 20, r.top + 3, 20, 20, marker_, 0, 0, SRCCOPY);
            break;
        default:
            break;
        }
        if (cell.type == kCellLink) {
            ::SelectObject(dc, linkFont_);
            ::SetTextColor(dc, kListLinkColour);
            ::DrawTextW(dc, cell.text.c_str(), -1, &r, DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
            ::SelectObject(dc, BkFontPool::GetFont(0));
        } else if (column == 3 && (row.kind == 1 || row.kind == 2)) {
            RECT badge = r;
            ::InflateRect(&badge, -2, -3);
            HBRUSH brush = ::CreateSolidBrush(row.kind == 1 ? kListBadge1 : kListBadge2);
            HGDIOBJ oldBrush = ::SelectObject(dc, brush);
            HGDIOBJ oldPen = ::SelectObject(dc, ::GetStockObject(NULL_PEN));
            ::RoundRect(dc, badge.left, badge.top, badge.right + 1, badge.bottom + 1, 3, 3);
            ::SelectObject(dc, oldPen);
            ::SelectObject(dc, oldBrush);
            ::DeleteObject(brush);
            ::SetTextColor(dc, RGB(255, 255, 255));
            ::DrawTextW(dc, cell.text.c_str(), -1, &badge, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
        } else {
            ::SetTextColor(dc, cell.colour);
            UINT align = column == 3 ? DT_CENTER : DT_LEFT;
            ::DrawTextW(dc, cell.text.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_PATH_ELLIPSIS | align);
        }
        HGDIOBJ measureFont = ::SelectObject(dc, cell.type == kCellLink ? linkFont_ : BkFontPool::GetFont(0));
        RecordWidth(column, TextWidth(dc, cell.text) + padding);
        ::SelectObject(dc, measureFont);
    }
    ::SelectObject(dc, oldFont);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    RECT line = {client.left, rc.bottom - 1, client.right, rc.bottom};
    FillSolid(dc, line, row.line);
}

RECT CListViewCtrlEx::VisibleCellRect(const RECT& row, const ListCell& cell) const {
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    int visible = row.right - row.left;
    if (client.right - 20 < visible) visible = client.right - 20;
    RECT r = cell.rect;
    if (r.left < 0) r.left += visible;
    if (r.right < 0) r.right += visible;
    ::OffsetRect(&r, row.left, row.top);
    return r;
}

void CListViewCtrlEx::DrawGroupRow(HDC dc, const RECT& rc, const ListRow& row) {
    FillSolid(dc, rc, row.background);
    if ((row.flags & kRowExpandable) && rc.left >= -11)
        Blit(dc, rc.left + 3, rc.top + (rc.bottom - rc.top - 9) / 2, 9, 9, expand_, row.collapsed ? 9 : 0, 0, SRCCOPY);
    HFONT sized = nullptr;
    for (size_t n = 0; n < row.cells.size(); ++n) {
        const ListCell& cell = row.cells[n];
        RECT r;
        UINT format = DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX;
        if (n == 0) {
            r = rc;
            r.left += row.indent;
            if (row.topOffset == -1) {
                r.top += 2;
                r.bottom -= 2;
            } else {
                r.top += row.topOffset;
            }
        } else {
            r = VisibleCellRect(rc, cell);
        }
        if (row.topOffset == -1) format |= DT_VCENTER;
        HFONT font = BkFontPool::GetFont(0);
        if (cell.type == kCellLink) {
            font = linkFont_;
            ::SetTextColor(dc, kListLinkColour);
        } else {
            ::SetTextColor(dc, cell.colour);
        }
        if (cell.type != kCellLink && (row.sizeDelta || (n == 0 && row.bold))) {
            WORD code = static_cast<WORD>(((row.sizeDelta & 0xFF) << 8) + ((n == 0 && row.bold) ? 4 : 0));
            sized = BkFontPool::GetFont(code);
            if (sized) font = sized;
        }
        HGDIOBJ old = ::SelectObject(dc, font);
        ::DrawTextW(dc, cell.text.c_str(), -1, &r, format);
        ::SelectObject(dc, old);
    }
    RECT line = {rc.left, rc.bottom - 1, rc.right, rc.bottom};
    FillSolid(dc, line, row.line);
}

// ---------------------------------------------------------------------------------------------
// Mouse

bool CListViewCtrlEx::LinkHit(POINT pt, int* itemOut, int* cellOut) const {
    LVHITTESTINFO hit = {};
    hit.pt = pt;
    int item = static_cast<int>(::SendMessageW(m_hWnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (item < 0) item = hit.iItem;
    const ListRow* row = Row(item);
    if (!row) return false;
    HDC dc = ::GetDC(m_hWnd);
    HGDIOBJ old = ::SelectObject(dc, linkFont_);
    bool found = false;
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    ::SendMessageW(m_hWnd, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&bounds));
    for (size_t n = 0; n < row->cells.size() && !found; ++n) {
        const ListCell& cell = row->cells[n];
        if (cell.type != kCellLink) continue;
        RECT r;
        if (row->flags & kRowGroup) {
            r = VisibleCellRect(bounds, cell);
        } else {
            RECT label = LabelRect(item, static_cast<int>(n));
            r = label;
            r.left += 2;
            RECT measured = r;
            ::DrawTextW(dc, cell.text.c_str(), -1, &measured, DT_SINGLELINE | DT_END_ELLIPSIS | DT_CALCRECT | DT_NOPREFIX);
            r.right = std::min(measured.right, label.right);
            int h = measured.bottom - measured.top;
            r.top = label.top + (label.bottom - label.top - h) / 2;
            r.bottom = r.top + h;
        }
        if (::PtInRect(&r, pt)) {
            *itemOut = item;
            *cellOut = static_cast<int>(n);
            found = true;
        }
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(m_hWnd, dc);
    return found;
}

void CListViewCtrlEx::OnMouseMove(POINT pt) {
    TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
    ::TrackMouseEvent(&tme);
    LVHITTESTINFO hit = {};
    hit.pt = pt;
    ::SendMessageW(m_hWnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    int item = hit.iItem, column = hit.iSubItem;
    if (item != hoverItem_ || column != hoverColumn_) {
        hoverItem_ = item;
        hoverColumn_ = column;
        Post(WM_LIST_HOVER, static_cast<WPARAM>(static_cast<INT_PTR>(item)), 0);
        ::KillTimer(m_hWnd, 1);
    }
    if ((pt.x != g_lastMouse.x || pt.y != g_lastMouse.y) && item != -1) ::SetTimer(m_hWnd, 1, 200, nullptr);
    g_lastMouse = pt;
}

void CListViewCtrlEx::OnClick(int item, int /*subItem*/, POINT pt) {
    ListRow* row = RowAt(item);
    if (!row) return;
    if (!(row->flags & kRowGroup)) {
        int linkItem, linkCell;
        if (LinkHit(pt, &linkItem, &linkCell) && linkItem == item) {
            Post(WM_LIST_LINK, static_cast<WPARAM>(linkItem), static_cast<LPARAM>(linkCell));
            return;
        }
        if (row->flags & kRowRadio) {
            bool on = StateImage(item) != kStateOn;
            SetRadio(item, on);
        } else if (row->flags & kRowCheck) {
            RECT bounds = {};
            bounds.left = LVIR_BOUNDS;
            ::SendMessageW(m_hWnd, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&bounds));
            // The box as drawn: 13 x 13, 6 pixels in from the row's left edge, vertically centred.
            RECT boxRect;
            boxRect.left = bounds.left + 6;
            boxRect.top = bounds.top + (bounds.bottom - bounds.top - 13) / 2;
            boxRect.right = boxRect.left + 13;
            boxRect.bottom = boxRect.top + 13;
            if (::PtInRect(&boxRect, pt)) SetCheck(item, StateImage(item) != kStateOn);
        }
        InvalidateItem(item);
        return;
    }
    if (row->flags & kRowExpandable) {
        ::SendMessageW(m_hWnd, WM_SETREDRAW, FALSE, 0);
        ToggleGroup(item);
        ::SendMessageW(m_hWnd, WM_SETREDRAW, TRUE, 0);
        InvalidateItem(item);
    }
}

void CListViewCtrlEx::ToggleGroup(int item) {
    ListRow* group = RowAt(item);
    if (!group) return;
    if (!group->collapsed) {
        int end = item + 1;
        while (end < static_cast<int>(rows_.size()) && !(rows_[end]->flags & kRowGroup)) ++end;
        for (int i = item + 1; i < end; ++i) {
            rows_[i]->savedState = StateImage(item + 1);
            group->folded.push_back(std::move(rows_[i]));
            ::SendMessageW(m_hWnd, LVM_DELETEITEM, item + 1, 0);
        }
        rows_.erase(rows_.begin() + item + 1, rows_.begin() + end);
        group->collapsed = 1;
    } else {
        int at = item + 1;
        std::vector<std::unique_ptr<ListRow>> back = std::move(group->folded);
        group->folded.clear();
        for (auto& r : back) {
            UINT state = r->savedState;
            rows_.insert(rows_.begin() + at, std::move(r));
            InsertItem(at);
            SetStateImage(at, state);
            ++at;
        }
        LVITEMW lv = {};
        lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        lv.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(m_hWnd, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&lv));
        ::SendMessageW(m_hWnd, LVM_ENSUREVISIBLE, item, FALSE);
        group->collapsed = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Pictures

bool ListDrawPicture(HDC dc, UINT id, int x, int y) {
    Gdiplus::GpImage* image = BkPngPool::GetPng(id);
    if (!image) return false;
    UINT w = 0, h = 0;
    Gdiplus::DllExports::GdipGetImageWidth(image, &w);
    Gdiplus::DllExports::GdipGetImageHeight(image, &h);
    if (!w || !h) return false;
    Gdiplus::GpGraphics* g = nullptr;
    if (Gdiplus::DllExports::GdipCreateFromHDC(dc, &g) != Gdiplus::Ok || !g) return false;
    // An explicit destination: drawn at a point, an image of another resolution would be scaled.
    const bool ok = Gdiplus::DllExports::GdipDrawImageRectI(g, image, x, y, static_cast<INT>(w),
                                                           static_cast<INT>(h)) == Gdiplus::Ok;
    Gdiplus::DllExports::GdipDeleteGraphics(g);
    return ok;
}

}  // namespace warden
