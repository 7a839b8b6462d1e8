// The history page's list as the panel builds it: created under a view that reflects notifications
// through the window layer, titled from the program's string table, filled from System log records
// handed in through the event-log seam (the reader's own cases are in test_powerlog.cpp).
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "bkres.h"
#include "bkstyle.h"
#include "eventlogfake.h"
#include "history.h"
#include "screenshot.h"
#include "testsupport.h"
#include "winlayer/window.h"

using namespace eventlogfake;
using warden::CListViewCtrlEx;

namespace {

// The page's view: it hands the list's owner-draw and notify messages back to the list.
class View : public CWindowImpl<View, CWindow, CWinTraits<WS_POPUP | WS_VISIBLE, WS_EX_TOPMOST>> {
public:
    DECLARE_WND_CLASS(L"TolvenHistoryTestView")
    BEGIN_MSG_MAP(View)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()
};

const wchar_t kBoot[] = L"开 机-启动Windows";
const wchar_t kShutdown[] = L"关 机-关闭Windows";

struct Row {
    std::wstring time, computer, text;
};

void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

class History : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // As at the panel's start: the string table, then the face it names.
        ASSERT_TRUE(LoadStringXml());
        BkFontPool::SetDefaultFontFace(BkString::Get(0));
    }
    void SetUp() override {
        Install(&log_);
        SetCursorPos(0, 0);  // the real pointer stays off the list
        RECT rc = {40, 40, 40 + 640, 40 + 240};
        ASSERT_NE(view_.Create(nullptr, &rc, L"history"), nullptr);
    }
    void TearDown() override {
        if (view_.IsWindow()) view_.DestroyWindow();
        Uninstall();
    }
    // The list as it stands: its records' cells, checked against its items.
    static std::vector<Row> Rows(const CListViewCtrlEx& list) {
        std::vector<Row> out;
        EXPECT_EQ(SendMessageW(list.hwnd(), LVM_GETITEMCOUNT, 0, 0), list.RowCount());
        for (int i = 0; i < list.RowCount(); ++i) {
            const warden::ListRow* r = list.Row(i);
            EXPECT_EQ(r->cells.size(), 3u);
            if (r->cells.size() == 3) out.push_back({r->cells[0].text, r->cells[1].text, r->cells[2].text});
        }
        return out;
    }
    // Shows the list over the view, as the page's layout does, and reads it back from the screen.
    static Shot Shown(const CListViewCtrlEx& list, const wchar_t* name) {
        MoveWindow(list.hwnd(), 0, 0, 640, 240, TRUE);
        ShowWindow(list.hwnd(), SW_SHOW);
        RedrawWindow(list.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Pump();
        Shot s = Capture(list.hwnd());
        Save(s, name);
        return s;
    }

    FakeLog log_;
    View view_;
};

}  // namespace

TEST_F(History, TheListComesNewestFirstUnderItsThreeTitles) {
    const std::string gbk = "\xB2\xE2\xCA\xD4\xBB\xFA";  // 测试机 in GBK
    struct Case {
        const char* what;
        bool opens;
        std::deque<std::string> buffers;
        int result;
        std::vector<Row> rows;
        const wchar_t* shot;
    } cases[] = {
        {"no boot or shutdown", true, {Record(7036, 10, "PC") + Record(1074, 20, "PC")}, 1, {}, L"history_empty.bmp"},
        {"boot, shutdown, boot over two buffers",
         true,
         {Record(6005, 0, "PC-A") + Record(6006, 3600, "PC-A"), Record(7036, 4000, "PC-A") + Record(6005, 86400, gbk)},
         1,
         {{L"1970年01月02日 08:00:00", L"测试机", kBoot},
          {L"1970年01月01日 09:00:00", L"PC-A", kShutdown},
          {L"1970年01月01日 08:00:00", L"PC-A", kBoot}},
         L"history_filled.bmp"},
        {"the log will not open", false, {Record(6005, 0, "PC")}, -1, {}, nullptr},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        log_ = FakeLog();
        log_.opens = c.opens;
        log_.buffers = c.buffers;
        CListViewCtrlEx list;
        EXPECT_EQ(warden::LoadPowerLog(list, view_), c.result);
        HWND h = list.hwnd();
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GetParent(h), view_.m_hWnd);
        EXPECT_EQ(GetDlgCtrlID(h), 2010);
        // Owner-drawn single-selection report, hidden until the page's layout shows it (the list may add
        // its own scroll bars).
        const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(h, GWL_STYLE));
        EXPECT_EQ(style & ~static_cast<DWORD>(WS_HSCROLL | WS_VSCROLL), 0x4000040Du);

        // The columns, whatever the log gave.
        HWND header = reinterpret_cast<HWND>(SendMessageW(h, LVM_GETHEADER, 0, 0));
        ASSERT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 3);
        const wchar_t* titles[] = {L"开/关机时间", L"登录用户", L"信息"};
        const int widths[] = {156, 165, 300};
        for (int i = 0; i < 3; ++i) {
            wchar_t text[64] = L"";
            LVCOLUMNW col = {};
            col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
            col.pszText = text;
            col.cchTextMax = 64;
            ASSERT_TRUE(SendMessageW(h, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col)));
            EXPECT_STREQ(text, titles[i]);
            EXPECT_EQ(col.cx, widths[i]);
            EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_CENTER);
        }

        std::vector<Row> rows = Rows(list);
        ASSERT_EQ(rows.size(), c.rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].time, c.rows[i].time) << i;
            EXPECT_EQ(rows[i].computer, c.rows[i].computer) << i;
            EXPECT_EQ(rows[i].text, c.rows[i].text) << i;
        }
        EXPECT_EQ(log_.closes, c.opens ? 1 : 0);

        if (c.shot) {
            Shot s = Shown(list, c.shot);
            // Rows 24 high under the 25-pixel header: the row height came back through the view's
            // reflection while the list was being created.
            RECT r0 = {};
            r0.left = LVIR_BOUNDS;
            if (!rows.empty()) {
                ASSERT_TRUE(SendMessageW(h, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r0)));
                EXPECT_EQ(r0.top, 25);
                EXPECT_EQ(r0.bottom - r0.top, 24);
            }
            const COLORREF below = s.At(600, 25 + 23);
            EXPECT_EQ(below, rows.empty() ? warden::kListBackground : warden::kListLine);
        }
    }
}
