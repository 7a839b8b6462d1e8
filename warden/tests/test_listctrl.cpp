// The owner-drawn list in a real window under Xvfb: what it paints (read back from the screen, since
// the header and the empty text are painted only on WM_PAINT), its rows and cells, pictures, folding,
// checks, links and hover notices, items that part from their records, and when it takes its header.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "list_art.h"
#include "bkstyle.h"
#include "listctrl.h"
#include "screenshot.h"
#include "services.h"
#include "testsupport.h"

using warden::CListViewCtrlEx;

namespace {

constexpr int kWidth = 520, kHeight = 300;

// The list's parent: reflects the owner-draw and notify messages back to the list, as the panel's
// view does, and keeps what the list posts.
struct Parent {
    HWND hwnd = nullptr;
    std::vector<MSG> posted;

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        HWND child = nullptr;
        switch (msg) {
        case WM_DRAWITEM:
            child = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
            break;
        case WM_MEASUREITEM:
            child = GetDlgItem(hwnd, static_cast<int>(wParam));
            break;
        case WM_NOTIFY:
            child = reinterpret_cast<const NMHDR*>(lParam)->hwndFrom;
            break;
        default:
            break;
        }
        if (child && IsWindow(child)) return SendMessageW(child, msg + 0x2000, wParam, lParam);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    Parent() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TolvenListTestParent";
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        RegisterClassW(&wc);
        // The real pointer stays off the window, so that only the moves a test sends reach the list.
        SetCursorPos(0, 0);
        hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"list", WS_POPUP | WS_VISIBLE, 40, 40, kWidth,
                               kHeight, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~Parent() { DestroyWindow(hwnd); }

    void Pump() {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.hwnd == hwnd && (m.message == warden::WM_LIST_HOVER || m.message == warden::WM_LIST_LINK))
                posted.push_back(m);
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    std::vector<MSG> Posted(UINT message) {
        Pump();
        std::vector<MSG> out;
        for (const MSG& m : posted)
            if (m.message == message) out.push_back(m);
        return out;
    }
};

bool IsInk(COLORREF c, COLORREF background) { return c != background; }

class ListCtrl : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        ASSERT_NE(parent_.hwnd, nullptr);
        RECT rc = {0, 0, kWidth, kHeight};
        ASSERT_NE(list_.Create(parent_.hwnd, &rc, 2010), nullptr);
        ShowWindow(list_.hwnd(), SW_SHOW);
        AddColumn(0, L"开/关机时间", 156, LVCFMT_CENTER);
        AddColumn(1, L"登录用户", 165, LVCFMT_CENTER);
        AddColumn(2, L"信息", 150, LVCFMT_CENTER);
        SetForegroundWindow(parent_.hwnd);
    }
    void AddColumn(int i, const wchar_t* title, int width, int fmt) {
        LVCOLUMNW c = {};
        c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        c.fmt = fmt;
        c.cx = width;
        c.pszText = const_cast<wchar_t*>(title);
        SendMessageW(list_.hwnd(), LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&c));
    }
    Shot Painted() {
        InvalidateRect(list_.hwnd(), nullptr, TRUE);
        RedrawWindow(list_.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        parent_.Pump();
        return Capture(list_.hwnd());
    }
    int Items() { return static_cast<int>(SendMessageW(list_.hwnd(), LVM_GETITEMCOUNT, 0, 0)); }
    RECT ItemRect(int item) {
        RECT r = {};
        r.left = LVIR_BOUNDS;
        SendMessageW(list_.hwnd(), LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&r));
        return r;
    }
    RECT CellRect(int item, int column) {
        RECT r = {};
        r.top = column;
        r.left = LVIR_LABEL;
        SendMessageW(list_.hwnd(), LVM_GETSUBITEMRECT, item, reinterpret_cast<LPARAM>(&r));
        return r;
    }
    // An NM_CLICK as the list reports it to its parent, which reflects it back.
    void Click(int item, int subItem, POINT pt) {
        NMITEMACTIVATE ia = {};
        ia.hdr.hwndFrom = list_.hwnd();
        ia.hdr.idFrom = 2010;
        ia.hdr.code = NM_CLICK;
        ia.iItem = item;
        ia.iSubItem = subItem;
        ia.ptAction = pt;
        SendMessageW(parent_.hwnd, WM_NOTIFY, 2010, reinterpret_cast<LPARAM>(&ia));
    }
    POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

    Parent parent_;
    CListViewCtrlEx list_;
};

}  // namespace

TEST_F(ListCtrl, TheEmptyListShowsItsHeaderAndTheEmptyTextFiftyPixelsDown) {
    Shot s = Painted();
    Save(s, L"list_empty.bmp");
    HWND header = list_.Header().hwnd();
    ASSERT_NE(header, nullptr) << "the header is taken over once the list has one";
    RECT hr;
    GetClientRect(header, &hr);
    EXPECT_EQ(hr.bottom - hr.top, 25);
    EXPECT_EQ(GetWindowLongPtrW(header, GWL_STYLE) & HDS_FULLDRAG, 0);
    // Bitmap 210 stretched: lighter upper half, darker lower half, the grey-blue line at the bottom; the
    // divider strip at each column's right end. Sampled away from the captions.
    EXPECT_EQ(s.At(3, 3), LIST_ART_HEADER_TOP);
    EXPECT_EQ(s.At(3, 20), LIST_ART_HEADER_BOTTOM);
    EXPECT_EQ(s.At(3, 24), LIST_ART_HEADER_LINE);
    EXPECT_EQ(s.At(156 - 2, 3), LIST_ART_HEADER_LINE);

    // Nothing but background between the header and the text; the text starts 50 pixels below the top.
    int top = -1, left = kWidth, right = -1;
    for (int y = 25; y < 120; ++y)
        for (int x = 0; x < kWidth - 20; ++x)
            if (IsInk(s.At(x, y), warden::kListBackground)) {
                if (top < 0) top = y;
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(top, 50) << "ink above the empty text's place";
    EXPECT_LE(top, 50 + 6);
    // Centred over the client width, as wide as the same text in the same font.
    HDC dc = GetDC(list_.hwnd());
    HGDIOBJ old = SelectObject(dc, BkFontPool::GetFont(0));
    SIZE ext;
    GetTextExtentPoint32W(dc, L"没有内容", 4, &ext);
    SelectObject(dc, old);
    ReleaseDC(list_.hwnd(), dc);
    RECT client;
    GetClientRect(list_.hwnd(), &client);
    const int expectedLeft = (client.right - ext.cx) / 2;
    EXPECT_NEAR(left, expectedLeft, 3);
    EXPECT_NEAR(right, expectedLeft + ext.cx - 1, 3);
}

TEST_F(ListCtrl, RowsAreTwentyFourHighWithTheirLineBackgroundAndSelection) {
    ASSERT_EQ(list_.AppendRow(L"2026年12月10日 08:00:00"), 0);
    EXPECT_EQ(list_.SetCell(0, L"PC"), 2);
    EXPECT_EQ(list_.SetCell(0, L"开 机-启动Windows"), 3);
    ASSERT_EQ(list_.AppendRow(L"2026年12月09日 18:00:00"), 1);
    list_.SetCell(1, L"PC");
    list_.SetCell(1, L"关 机-关闭Windows");
    EXPECT_EQ(list_.SetCell(-1, L"x"), -1);
    EXPECT_EQ(list_.SetCell(2, L"x"), -1);
    EXPECT_EQ(list_.AddCell(9, warden::kCellText, L"x", 0), -1);

    RECT r0 = ItemRect(0), r1 = ItemRect(1);
    EXPECT_EQ(r0.bottom - r0.top, 24);
    EXPECT_EQ(r0.top, 25);
    EXPECT_EQ(r1.top, r0.bottom);

    LVITEMW sel = {};
    sel.stateMask = LVIS_SELECTED;
    sel.state = LVIS_SELECTED;
    SendMessageW(list_.hwnd(), LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&sel));
    Shot s = Painted();
    Save(s, L"list_filled.bmp");
    const int x = r1.right - 3;  // right of every text, inside the row
    EXPECT_EQ(s.At(x, r0.top + 5), warden::kListBackground);
    EXPECT_EQ(s.At(x, r0.bottom - 1), warden::kListLine);
    EXPECT_EQ(s.At(x, r1.top + 5), warden::kListSelected);
    EXPECT_EQ(s.At(x, r1.bottom - 1), warden::kListLine);
    EXPECT_EQ(s.At(kWidth - 30, r1.bottom - 1), warden::kListLine) << "the line runs across the whole width";
    EXPECT_EQ(s.At(x, r1.bottom + 5), warden::kListBackground);  // below the rows
    // The first cell has ink (its text) within the row.
    bool ink = false;
    for (int px = 0; px < 150 && !ink; ++px) ink = s.At(px, (r0.top + r0.bottom) / 2) != warden::kListBackground;
    EXPECT_TRUE(ink);
}

TEST_F(ListCtrl, ARightAlignedCaptionKeepsToTheRight) {
    HDITEMW hdi = {};
    hdi.mask = HDI_FORMAT;
    hdi.fmt = HDF_RIGHT | HDF_STRING;
    SendMessageW(list_.Header().hwnd(), HDM_SETITEMW, 1, reinterpret_cast<LPARAM>(&hdi));
    Shot s = Painted();
    RECT item0, item1;
    SendMessageW(list_.Header().hwnd(), HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item0));
    SendMessageW(list_.Header().hwnd(), HDM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item1));
    auto inkSpan = [&](const RECT& item, int* l, int* r) {
        *l = item.right;
        *r = item.left;
        for (int y = 2; y < 22; ++y)
            for (int x = item.left; x < item.right - 3; ++x) {
                COLORREF c = s.At(x, y);
                if (c != LIST_ART_HEADER_TOP && c != LIST_ART_HEADER_BOTTOM && c != LIST_ART_HEADER_LINE) {
                    *l = std::min(*l, static_cast<int>(x));
                    *r = std::max(*r, static_cast<int>(x));
                }
            }
    };
    int l0, r0, l1, r1;
    inkSpan(item0, &l0, &r0);
    inkSpan(item1, &l1, &r1);
    ASSERT_LT(l0, r0);
    ASSERT_LT(l1, r1);
    EXPECT_NEAR((l0 + r0) / 2, (item0.left + item0.right) / 2, 3) << "centred";
    EXPECT_GE(r1, item1.right - 2 - 4) << "right-aligned";
    EXPECT_GT(l1, (item1.left + item1.right) / 2 - 10);
}

TEST_F(ListCtrl, BadgesChecksAndRadiosShowTheirState) {
    AddColumn(3, L"状态", 40, LVCFMT_CENTER);
    int k1 = list_.AddKindRow(L"一", nullptr, 1, 0);
    int k2 = list_.AddKindRow(L"二", nullptr, 2, 0);
    for (int r : {k1, k2}) {
        list_.SetCell(r, L"");
        list_.SetCell(r, L"");
        list_.SetCell(r, L"!");
    }
    int check = list_.AppendRow(L"勾选");
    int radio = list_.AppendRow(L"单选");
    list_.SetRowFlags(check, warden::kRowCheck);
    list_.SetRowFlags(radio, warden::kRowRadio);
    EXPECT_EQ(list_.Kind1Count(), 1);
    EXPECT_EQ(list_.Kind2Count(), 1);
    EXPECT_EQ(list_.PlainRowCount(), 2);

    auto boxAt = [&](int item) {
        RECT r = ItemRect(item);
        return POINT{r.left + 6, r.top + (r.bottom - r.top - 13) / 2};
    };
    auto hasColour = [&](const Shot& s, POINT at, COLORREF c) {
        for (int y = at.y; y < at.y + 13; ++y)
            for (int x = at.x; x < at.x + 13; ++x)
                if (s.At(x, y) == c) return true;
        return false;
    };
    list_.SetCheck(check, TRUE);
    list_.SetRadio(radio, FALSE);
    Shot on = Painted();
    RECT b1 = CellRect(k1, 3), b2 = CellRect(k2, 3);
    EXPECT_EQ(on.At(b1.left + 6, (b1.top + b1.bottom) / 2), warden::kListBadge1);
    EXPECT_EQ(on.At(b2.left + 6, (b2.top + b2.bottom) / 2), warden::kListBadge2);
    EXPECT_TRUE(hasColour(on, boxAt(check), LIST_ART_TICK));
    EXPECT_FALSE(hasColour(on, boxAt(radio), LIST_ART_TICK));
    EXPECT_FALSE(hasColour(on, boxAt(radio), LIST_ART_CLEAR)) << "the radio's background is masked out";

    EXPECT_TRUE(list_.SetRadio(radio, TRUE));
    EXPECT_FALSE(list_.GetCheck(check)) << "a radio turned on clears every other row";
    Shot flipped = Painted();
    EXPECT_FALSE(hasColour(flipped, boxAt(check), LIST_ART_TICK));
    EXPECT_TRUE(hasColour(flipped, boxAt(radio), LIST_ART_TICK));
    EXPECT_TRUE(list_.SetCheck(check, TRUE));
    EXPECT_FALSE(list_.GetCheck(radio)) << "a check turned on clears every radio row";
    EXPECT_EQ(list_.CheckAll(), 4);
    EXPECT_TRUE(list_.GetCheck(check));
    EXPECT_FALSE(list_.SetCheck(99, TRUE));
}

TEST_F(ListCtrl, ClicksFlipBoxesOnlyWhereTheyAreDrawn) {
    int check = list_.AppendRow(L"勾选");
    int radio = list_.AppendRow(L"单选");
    list_.SetRowFlags(check, warden::kRowCheck);
    list_.SetRowFlags(radio, warden::kRowRadio);
    list_.SetCheck(check, FALSE);
    RECT rc = ItemRect(check);
    const int midY = (rc.top + rc.bottom) / 2;
    Click(check, 0, POINT{rc.left + 100, midY});
    EXPECT_FALSE(list_.GetCheck(check)) << "outside the box";
    Click(check, 0, POINT{rc.left + 6 + 12, midY});
    EXPECT_TRUE(list_.GetCheck(check)) << "the box's right edge, as drawn";
    Click(check, 0, POINT{rc.left + 7, midY});
    EXPECT_FALSE(list_.GetCheck(check));
    RECT rr = ItemRect(radio);
    Click(radio, 2, POINT{rr.left + 300, (rr.top + rr.bottom) / 2});
    EXPECT_TRUE(list_.GetCheck(radio)) << "a radio row flips wherever it is clicked";
}

TEST_F(ListCtrl, FoldingAGroupKeepsItemsAndRecordsInStep) {
    int g1 = list_.AddGroupRow(warden::kRowExpandable | warden::kRowBoldTitle, L"第一组", RGB(0, 0, 128));
    int a = list_.AppendRow(L"a");
    int b = list_.AppendRow(L"b");
    int c = list_.AppendRow(L"c");
    int g2 = list_.AddGroupRow(warden::kRowExpandable, L"第二组", 0);
    list_.AppendRow(L"d");
    for (int r : {a, b, c}) list_.SetRowFlags(r, warden::kRowCheck);
    list_.SetCheck(a, FALSE);
    list_.SetCheck(b, TRUE);
    list_.SetCheck(c, FALSE);
    EXPECT_EQ(list_.Row(g1)->bold, 1);
    EXPECT_EQ(list_.Row(g1)->indent, 15);
    EXPECT_EQ(list_.Row(g1)->background, warden::kListGroupBackground);
    ASSERT_EQ(g2, 4);

    Click(g1, 0, Centre(ItemRect(g1)));
    EXPECT_EQ(Items(), 3);
    EXPECT_EQ(list_.RowCount(), 3);
    EXPECT_EQ(list_.Row(g1)->collapsed, 1);
    EXPECT_EQ(list_.Row(g1)->folded.size(), 3u);
    EXPECT_EQ(list_.Row(1)->cells[0].text, L"第二组");
    Painted();

    Click(g1, 0, Centre(ItemRect(g1)));
    EXPECT_EQ(Items(), 6);
    EXPECT_EQ(list_.RowCount(), 6);
    EXPECT_EQ(list_.Row(g1)->collapsed, 0);
    EXPECT_TRUE(list_.Row(g1)->folded.empty());
    EXPECT_EQ(list_.Row(2)->cells[0].text, L"b");
    EXPECT_FALSE(list_.GetCheck(1));
    EXPECT_TRUE(list_.GetCheck(2)) << "the folded row's check comes back";
    EXPECT_FALSE(list_.GetCheck(3));
    EXPECT_EQ(SendMessageW(list_.hwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), g1);
    Painted();
}

TEST_F(ListCtrl, LinksReportTheirCellAndMovesTheRow) {
    int row = list_.AppendRow(L"文字");
    list_.AddCell(row, warden::kCellLink, L"查看", 0);
    Painted();
    RECT cell = CellRect(row, 1);
    POINT onLink = {cell.left + 2 + 3, (cell.top + cell.bottom) / 2};
    Click(row, 1, onLink);
    std::vector<MSG> links = parent_.Posted(warden::WM_LIST_LINK);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].wParam, static_cast<WPARAM>(row));
    EXPECT_EQ(links[0].lParam, 1);
    Click(row, 1, POINT{cell.right - 2, onLink.y});  // beside the text
    EXPECT_EQ(parent_.Posted(warden::WM_LIST_LINK).size(), 1u);

    parent_.Pump();
    parent_.posted.clear();
    SendMessageW(list_.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(onLink.x, onLink.y));
    SendMessageW(list_.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(onLink.x + 1, onLink.y));  // same cell: no notice
    SendMessageW(list_.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 200));                // no row there
    std::vector<MSG> hovers = parent_.Posted(warden::WM_LIST_HOVER);
    ASSERT_EQ(hovers.size(), 2u);
    EXPECT_EQ(hovers[0].wParam, static_cast<WPARAM>(row));
    EXPECT_EQ(static_cast<INT_PTR>(hovers[1].wParam), -1);
}

TEST_F(ListCtrl, ItemsWithoutRecordsDrawEmptyAndClickSafely) {
    list_.AppendRow(L"a");
    list_.AppendRow(L"b");
    SendMessageW(list_.hwnd(), warden::WM_LIST_DELETE_ITEMS, 0, 0);
    EXPECT_EQ(Items(), 0);
    EXPECT_EQ(list_.RowCount(), 2);  // the records stay
    for (int i = 0; i < 4; ++i) SendMessageW(list_.hwnd(), warden::WM_LIST_INSERT_BARE, 0, 0);
    EXPECT_EQ(Items(), 4);
    Shot s = Painted();
    RECT r3 = ItemRect(3);
    EXPECT_EQ(s.At(kWidth - 30, (r3.top + r3.bottom) / 2), warden::kListBackground);
    Click(3, 0, Centre(r3));
    Click(2, 0, Centre(ItemRect(2)));
    SendMessageW(list_.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(20, (r3.top + r3.bottom) / 2));
    SUCCEED();
}

TEST_F(ListCtrl, ADividerDoubleClickUsesTheRecordedWidth) {
    list_.AppendRow(L"一段相当长的文字，比列宽还要长很多很多很多");
    Painted();
    const int recorded = list_.RecordedWidth(0);
    ASSERT_GT(recorded, 0);
    EXPECT_EQ(list_.RecordedWidth(2), 0);
    NMHEADERW nm = {};
    nm.hdr.hwndFrom = list_.Header().hwnd();
    nm.hdr.code = HDN_DIVIDERDBLCLICKW;
    nm.iItem = 0;
    SendMessageW(list_.hwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(SendMessageW(list_.hwnd(), LVM_GETCOLUMNWIDTH, 0, 0), recorded);
    // Column 2 holds nothing measured: left to the list's own handling, which keeps it usable.
    nm.iItem = 2;
    SendMessageW(list_.hwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
    EXPECT_GT(SendMessageW(list_.hwnd(), LVM_GETCOLUMNWIDTH, 2, 0), 0);
}

TEST_F(ListCtrl, APictureCellDrawsItsPngAtItsOwnSize) {
    const COLORREF picture = RGB(0x11, 0x99, 0x55);  // make_list_picture.py
    int row = list_.AppendRow(L"图片");
    EXPECT_EQ(list_.AddCell(row, warden::kCellPicture, L"有图", 900), 2);
    EXPECT_EQ(list_.AddCell(row, warden::kCellPicture, L"无图", 901), 3);  // no such picture
    Shot s = Painted();
    // At the cell's left edge (2 pixels in), 5 pixels down; 14 x 12 although the file says 72 DPI.
    RECT cell = CellRect(row, 1);
    const int x = cell.left + 2, y = cell.top + 5;
    EXPECT_EQ(s.At(x, y), picture);
    EXPECT_EQ(s.At(x + 13, y + 11), picture);
    EXPECT_NE(s.At(x + 14, y + 5), picture) << "wider than the picture";
    EXPECT_NE(s.At(x + 5, y + 12), picture) << "taller than the picture";
    // A missing picture draws nothing: only its text shows.
    RECT missing = CellRect(row, 2);
    for (int px = missing.left; px < missing.left + 18; ++px)
        for (int py = missing.top; py < missing.bottom; ++py) ASSERT_NE(s.At(px, py), picture);
}

// The header can only be taken over once the list has made one: under Wine that is at creation.
TEST_F(ListCtrl, TheHeaderIsTakenOverAsSoonAsTheListHasOne) {
    CListViewCtrlEx list;
    RECT rc = {0, 0, 200, 100};
    ASSERT_NE(list.Create(parent_.hwnd, &rc, 2011), nullptr);
    HWND made = reinterpret_cast<HWND>(SendMessageW(list.hwnd(), LVM_GETHEADER, 0, 0));
    EXPECT_NE(made, nullptr) << "Wine's list makes its header when it is created";
    EXPECT_EQ(list.Header().hwnd(), made);
    LVCOLUMNW c = {};
    c.mask = LVCF_WIDTH;
    c.cx = 50;
    SendMessageW(list.hwnd(), LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&c));
    ASSERT_NE(list.Header().hwnd(), nullptr);
    EXPECT_EQ(list.Header().hwnd(), reinterpret_cast<HWND>(SendMessageW(list.hwnd(), LVM_GETHEADER, 0, 0)));
    RECT hr;
    GetClientRect(list.Header().hwnd(), &hr);
    EXPECT_EQ(hr.bottom - hr.top, 25);
}
