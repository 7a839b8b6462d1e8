// The skinned dialog window and its modal loop, driven by real messages under Xvfb: the frameless
// window built from a layout, Enter, Esc and the close request as items 1 and 2, the title-bar
// commands handled by the dialog itself, nested loops and WM_QUIT.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "dialogkit.h"

namespace {

const wchar_t kTitle[] = L"测试对话框";

TEST(SkinDialogClass, DropShadowFromWindowsXpOn) {
    struct Case {
        DWORD version;
        UINT style;
    } const cases[] = {
        {0x0004, 0xB},     // 4.0
        {0x0005, 0xB},     // 5.0 (2000)
        {0x0105, 0x2000B}, // 5.1 (XP)
        {0x0205, 0x2000B}, // 5.2
        {0x0006, 0x2000B}, // 6.0
        {0x0106, 0x2000B}, // 6.1
        {0x000A, 0x2000B},
    };
    for (const Case& c : cases) EXPECT_EQ(BkDialogClassStyle(c.version), c.style) << std::hex << c.version;
}

TEST(SkinDialogWindow, IsAFramelessPopupSizedByItsLayoutWithRoundedCorners) {
    TestDialog dlg;
    HWND h = dlg.Create(nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(dlg.initCount, 1);
    const DWORD style = (DWORD)GetWindowLongPtrW(h, GWL_STYLE);
    EXPECT_EQ(style & 0x80080000u, 0x80080000u);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);
    EXPECT_TRUE(GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(GetClassLongPtrW(h, GCL_STYLE) & CS_DROPSHADOW, (ULONG_PTR)CS_DROPSHADOW) << "Wine reports 6.1";
    wchar_t text[64] = {};
    GetWindowTextW(h, text, 64);
    EXPECT_STREQ(text, kTitle);

    RECT win, client;
    GetWindowRect(h, &win);
    GetClientRect(h, &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 200);
    EXPECT_EQ(win.right - win.left, 320) << "no border, no caption";
    EXPECT_EQ(win.bottom - win.top, 200);

    HWND view = GetDlgItem(h, 1000);
    ASSERT_EQ(view, (HWND)dlg.View());
    RECT vr;
    GetClientRect(view, &vr);
    EXPECT_EQ(vr.right, 320);
    EXPECT_EQ(vr.bottom, 200);

    // The corners are cut by a two-pixel step.
    EXPECT_FALSE(ts::RegionContains(h, 0, 0));
    EXPECT_FALSE(ts::RegionContains(h, 1, 0));
    EXPECT_FALSE(ts::RegionContains(h, 0, 1));
    EXPECT_TRUE(ts::RegionContains(h, 1, 1));
    EXPECT_TRUE(ts::RegionContains(h, 2, 0));
    EXPECT_FALSE(ts::RegionContains(h, 319, 199));
    EXPECT_TRUE(ts::RegionContains(h, 318, 198));
    EXPECT_TRUE(ts::RegionContains(h, 160, 100));
    dlg.DestroyWindow();
}

TEST(SkinDialogWindow, WithoutBothSizesTheWindowKeepsItsZeroRectangle) {
    for (const char* layout : {"<layer width=\"200\"/>", "<layer height=\"200\"/>", "<layer/>"}) {
        TestDialog dlg(0);
        ASSERT_TRUE(dlg.LoadLayout(layout));
        HWND h = dlg.Create(nullptr);
        ASSERT_NE(h, nullptr) << layout;
        RECT win;
        GetWindowRect(h, &win);
        EXPECT_EQ(win.right - win.left, 0) << layout;
        EXPECT_EQ(win.bottom - win.top, 0) << layout;
        dlg.DestroyWindow();
    }
}

TEST(SkinDialogWindow, NoLayoutNoWindowAndTheOwnerIsEnabledAgain) {
    ViewHost owner;
    ASSERT_TRUE(owner.Open("<layer/>"));
    TestDialog none(0);
    EXPECT_EQ(none.Create(nullptr), nullptr);
    EXPECT_EQ(none.ShowModal(owner), 0);
    EXPECT_TRUE(owner.IsWindowEnabled());
    TestDialog missing(4321);
    EXPECT_EQ(missing.ShowModal(owner), 0);
    EXPECT_TRUE(owner.IsWindowEnabled());
    TestDialog rejected(0);
    EXPECT_FALSE(rejected.LoadLayout("<notalayer/>"));
    EXPECT_EQ(rejected.ShowModal(owner), 0);
}

TEST(SkinDialogFrame, NonClientSizeIsTheWholeWindow) {
    TestDialog dlg;
    HWND h = dlg.Create(nullptr);
    ASSERT_NE(h, nullptr);
    SetWindowPos(h, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    struct Case {
        UINT flags;
        RECT expect;
    } const cases[] = {
        {0, {10, 20, 110, 220}},
        {SWP_NOMOVE, {40, 50, 140, 250}},
        {SWP_NOSIZE, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        WINDOWPOS wp = {h, nullptr, 10, 20, 100, 200, c.flags};
        NCCALCSIZE_PARAMS p = {};
        p.rgrc[0] = RECT{1, 2, 3, 4};
        p.rgrc[1] = RECT{1, 2, 3, 4};
        p.lppos = &wp;
        EXPECT_EQ(BkFramelessNcCalcSize(h, TRUE, (LPARAM)&p), 0);
        EXPECT_TRUE(EqualRect(&p.rgrc[0], &c.expect)) << c.flags;
        EXPECT_TRUE(EqualRect(&p.rgrc[1], &c.expect)) << c.flags;
    }
    RECT r = {5, 6, 7, 8};
    EXPECT_EQ(SendMessageW(h, WM_NCCALCSIZE, FALSE, (LPARAM)&r), 0);
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.bottom, 8);

    MINMAXINFO mmi = {};
    SendMessageW(h, WM_GETMINMAXINFO, 0, (LPARAM)&mmi);
    MONITORINFO mi = {sizeof(mi)};
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(h, MONITOR_DEFAULTTONEAREST), &mi));
    const RECT& w = mi.rcWork;
    const RECT& m = mi.rcMonitor;
    EXPECT_EQ(mmi.ptMaxPosition.x, labs(w.left - m.left) - 1);
    EXPECT_EQ(mmi.ptMaxPosition.y, labs(w.top - m.top) - 1);
    EXPECT_EQ(mmi.ptMaxSize.x, w.right - w.left + 2);
    EXPECT_EQ(mmi.ptMaxSize.y, w.bottom - w.top + 2);
    EXPECT_EQ(mmi.ptMaxTrackSize.x, mmi.ptMaxSize.x);
    EXPECT_EQ(mmi.ptMaxTrackSize.y, mmi.ptMaxSize.y);
    dlg.DestroyWindow();
}

// Sends a key to the dialog as its own WM_KEYDOWN.
void Key(HWND h, WPARAM vk) { SendMessageW(h, WM_KEYDOWN, vk, 1); }

void SetCtrl(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

TEST(SkinDialogModal, EnterEscAndCloseReachOnBkCommandAsItemsOneAndTwo) {
    ViewHost owner;
    ASSERT_TRUE(owner.Open("<layer/>"));
    TestDialog dlg;
    bool ownerDisabledMeanwhile = false;
    HWND h = nullptr, viewWnd = nullptr;
    ts::ModalScript script;
    script.WaitUntil([&] { return (h = FindTitled(kTitle)) != nullptr && IsWindowVisible(h); })
        .Do([&] {
            ownerDisabledMeanwhile = !owner.IsWindowEnabled();
            Key(h, VK_RETURN);
            Key(h, VK_ESCAPE);
            SendMessageW(h, WM_CLOSE, 0, 0);
            SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);  // the system menu's close box
            SetCtrl(true);
            Key(h, VK_ESCAPE);
            SetCtrl(false);
            EnableWindow(h, FALSE);
            Key(h, VK_RETURN);
            EnableWindow(h, TRUE);
            Key(h, 'A');
        })
        .Do([&] {
            viewWnd = dlg.View();
            ts::ClickAt(dlg.View(), POINT{320 - 15, 15});  // 60001
        });
    int result = -1;
    ASSERT_TRUE(script.Run([&] { result = dlg.ShowModal(owner); }));
    EXPECT_EQ(result, 60001);
    EXPECT_TRUE(ownerDisabledMeanwhile);
    EXPECT_TRUE(owner.IsWindowEnabled());
    EXPECT_FALSE(IsWindow(h)) << "ShowModal destroys the window";
    ASSERT_EQ(dlg.commands.size(), 5u);
    const UINT ids[] = {1, 2, 2, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(dlg.commands[i].id, ids[i]) << i;
        EXPECT_EQ(dlg.commands[i].tag, "") << i;
        EXPECT_EQ(dlg.commands[i].from, h) << "sent by the dialog to itself";
    }
    EXPECT_EQ(dlg.commands[4].id, 60001u);
    EXPECT_EQ(dlg.commands[4].tag, "button");
    EXPECT_EQ(dlg.commands[4].from, viewWnd) << "a click comes from the view";
}

TEST(SkinDialogModal, TitleBarCommandsAreTheDialogsOwn) {
    TestDialog dlg;
    HWND h = nullptr;
    bool minimised = false, maximised = false, restored = false;
    RECT maxRect = {};
    ts::ModalScript script;
    script.WaitUntil([&] { return (h = FindTitled(kTitle)) != nullptr && IsWindowVisible(h); })
        .Do([&] { ts::ClickAt(dlg.View(), POINT{320 - 75, 15}); })  // 60003
        .WaitUntil([&] { return minimised = IsIconic(h) != FALSE; })
        .Do([&] { ShowWindow(h, SW_RESTORE); })
        .WaitUntil([&] { return !IsIconic(h); })
        .Do([&] { ts::ClickAt(dlg.View(), POINT{320 - 45, 15}); })  // 60002
        .WaitUntil([&] { return maximised = IsZoomed(h) != FALSE; })
        .Do([&] {
            GetWindowRect(h, &maxRect);
            RECT client;
            GetClientRect(h, &client);
            ts::ClickAt(dlg.View(), POINT{client.right - 45, 15});
        })
        .WaitUntil([&] { return restored = !IsZoomed(h); })
        .Do([&] { ts::ClickAt(dlg.View(), POINT{320 - 15, 15}); });  // 60001
    int result = -1;
    ASSERT_TRUE(script.Run([&] { result = dlg.ShowModal(nullptr); }));
    EXPECT_EQ(result, 60001);
    EXPECT_TRUE(minimised);
    EXPECT_TRUE(maximised);
    EXPECT_TRUE(restored);
    // Wine moves the maximised window to the given corner, but without a window manager the X
    // window keeps its size; the sizes themselves are checked through WM_GETMINMAXINFO above.
    EXPECT_EQ(maxRect.left, -1);
}

TEST(SkinDialogModal, ShowModalCentresInTheWorkArea) {
    TestDialog dlg;
    RECT rc = {};
    ts::ModalScript script;
    script.WaitUntil([&] { return FindTitled(kTitle) != nullptr; }).Do([&] {
        GetWindowRect(dlg, &rc);
        dlg.EndDialog(3);
    });
    int result = -1;
    ASSERT_TRUE(script.Run([&] { result = dlg.ShowModal(nullptr); }));
    EXPECT_EQ(result, 3);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(rc.left, (work.left + work.right) / 2 - 160);
    EXPECT_EQ(rc.top, (work.top + work.bottom) / 2 - 100);
}

TEST(SkinDialogModal, AHiddenDialogRunsItsLoopUntilItEnds) {
    TestDialog dlg;
    dlg.hideOnInit = TRUE;
    bool wasHidden = false;
    ts::ModalScript script;
    script.WaitUntil([&] { return dlg.m_hWnd != nullptr; }).Do([&] {
        wasHidden = !IsWindowVisible(dlg);
        dlg.EndDialog(42);
    });
    int result = -1;
    ASSERT_TRUE(script.Run([&] { result = dlg.ShowModal(nullptr); }));
    EXPECT_TRUE(wasHidden);
    EXPECT_EQ(result, 42);
}

// Every window of this thread that was shown, activated or given the focus while it watched, each
// as its top-level window: the hooks see a flash that no poll of the finished state could.
class ShowWatch {
public:
    ShowWatch() {
        current_ = this;
        cbt_ = SetWindowsHookExW(WH_CBT, &Cbt, nullptr, GetCurrentThreadId());
        sent_ = SetWindowsHookExW(WH_CALLWNDPROC, &Sent, nullptr, GetCurrentThreadId());
    }
    ~ShowWatch() {
        if (cbt_) UnhookWindowsHookEx(cbt_);
        if (sent_) UnhookWindowsHookEx(sent_);
        current_ = nullptr;
    }
    bool ok() const { return cbt_ && sent_; }
    static bool Has(const std::vector<HWND>& seen, HWND h) {
        return std::find(seen.begin(), seen.end(), h) != seen.end();
    }
    std::vector<HWND> shown, activated, focused;

private:
    static HWND Root(WPARAM h) { return GetAncestor((HWND)h, GA_ROOT); }
    static LRESULT CALLBACK Cbt(int code, WPARAM wParam, LPARAM lParam) {
        if (current_ && code == HCBT_ACTIVATE) current_->activated.push_back((HWND)wParam);
        if (current_ && code == HCBT_SETFOCUS && wParam) current_->focused.push_back(Root(wParam));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK Sent(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT* m = (const CWPSTRUCT*)lParam;
        if (current_ && code == HC_ACTION && m->hwnd == Root((WPARAM)m->hwnd)) {
            const bool show = (m->message == WM_SHOWWINDOW && m->wParam) ||
                              (m->message == WM_WINDOWPOSCHANGING && (((WINDOWPOS*)m->lParam)->flags & SWP_SHOWWINDOW));
            if (show) current_->shown.push_back(m->hwnd);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static ShowWatch* current_;
    HHOOK cbt_ = nullptr, sent_ = nullptr;
};
ShowWatch* ShowWatch::current_ = nullptr;

// A dialog that ends in its initialisation never appears: not shown, not activated, no focus taken,
// the window in front keeps the foreground and its focus. One that does not end there still shows.
TEST(SkinDialogModal, ADialogThatEndsInItsInitialisationIsNeverShownNorActivated) {
    HWND front = CreateWindowExW(0, L"STATIC", L"front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 200, 120,
                                 nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(front, nullptr);
    const struct {
        int endOnInit;
        BOOL hideOnInit;
        bool appears;
    } cases[] = {
        {7, FALSE, false},
        {8, TRUE, false},
        {0, FALSE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endOnInit);
        SetForegroundWindow(front);
        SetFocus(front);
        ts::PumpMessages();
        ASSERT_EQ(GetForegroundWindow(), front);
        ASSERT_EQ(GetFocus(), front);
        TestDialog dlg;
        dlg.endOnInit = c.endOnInit;
        dlg.hideOnInit = c.hideOnInit;
        HWND h = nullptr;
        ShowWatch watch;
        ASSERT_TRUE(watch.ok());
        ts::ModalScript script;
        if (c.appears) {
            script.WaitUntil([&] { return (h = FindTitled(kTitle)) != nullptr && IsWindowVisible(h); })
                .Do([&] { dlg.EndDialog(3); });
        }
        int result = -1;
        ASSERT_TRUE(script.Run([&] { result = dlg.ShowModal(front); }, 5000));
        ts::PumpMessages();
        EXPECT_EQ(result, c.appears ? 3 : c.endOnInit);
        EXPECT_EQ(dlg.initCount, 1);
        EXPECT_EQ(dlg.m_hWnd, nullptr) << "ShowModal destroys the window";
        EXPECT_TRUE(IsWindowEnabled(front));
        EXPECT_EQ(GetForegroundWindow(), front);
        if (c.appears) {
            EXPECT_TRUE(ShowWatch::Has(watch.shown, h));
            EXPECT_TRUE(ShowWatch::Has(watch.activated, h));
            EXPECT_EQ(GetActiveWindow(), front) << "the owner is active again";
            continue;
        }
        for (HWND w : watch.shown) EXPECT_EQ(w, front) << "shown: " << w;
        EXPECT_TRUE(watch.activated.empty() || (watch.activated.size() == 1 && watch.activated[0] == front))
            << "activated: " << watch.activated.size() << " windows, the first " << watch.activated[0];
        for (HWND w : watch.focused) EXPECT_EQ(w, front) << "focused: " << w;
        EXPECT_EQ(GetFocus(), front) << "the window in front keeps its focus";
    }
    DestroyWindow(front);
}

TEST(SkinDialogModal, ADialogCanBeShownAgainWithoutReadingItsLayoutAgain) {
    TestDialog dlg;
    for (int round = 0; round < 2; ++round) {
        ts::ModalScript script;
        script.WaitUntil([&] { return FindTitled(kTitle) != nullptr; }).Do([&] { dlg.EndDialog(round + 1); });
        int result = -1;
        ASSERT_TRUE(script.Run([&] { result = dlg.ShowModal(nullptr); }));
        EXPECT_EQ(result, round + 1);
    }
    EXPECT_EQ(dlg.initCount, 2);
}

TEST(SkinDialogLoop, QuitEndsEveryNestedLoopAndStaysQueued) {
    TestDialog outer, inner(0);
    ASSERT_TRUE(inner.LoadLayout("<layer title=\"inner\" width=\"100\" height=\"80\"><body/></layer>"));
    int innerResult = -1;
    bool innerReturnedFirst = false;
    ts::ModalScript script;
    script.WaitUntil([&] { return FindTitled(kTitle) != nullptr; })
        .Do([&] {
            innerResult = inner.ShowModal(outer);
            innerReturnedFirst = IsWindow(outer) != FALSE;
        })
        .WaitUntil([&] { return FindTitled(L"inner") != nullptr; })
        .Do([&] { PostQuitMessage(5); });
    int outerResult = -1;
    script.Run([&] { outerResult = outer.ShowModal(nullptr); });
    EXPECT_EQ(innerResult, 0);
    EXPECT_TRUE(innerReturnedFirst);
    EXPECT_EQ(outerResult, 0) << "no EndDialog: the result stored so far";
    EXPECT_EQ(TakeQuit(), 5) << "left for the loops around";
}

// Turns a marker message into WM_QUIT as GetMessageW takes it off the queue, so that the loop's
// GetMessageW itself returns 0 (the loop's look-ahead for WM_QUIT cannot see it first).
const UINT kQuitMarker = WM_APP + 77;
LRESULT CALLBACK MarkerToQuit(int code, WPARAM removed, LPARAM lParam) {
    MSG* m = (MSG*)lParam;
    if (code == HC_ACTION && removed == PM_REMOVE && m->message == kQuitMarker) {
        m->message = WM_QUIT;
        m->wParam = 77;
        m->hwnd = nullptr;
    }
    return CallNextHookEx(nullptr, code, removed, lParam);
}

TEST(SkinDialogLoop, AQuitThatGetMessageTookIsPostedAgainWithItsCode) {
    TestDialog outer, inner(0);
    ASSERT_TRUE(inner.LoadLayout("<layer title=\"inner\" width=\"100\" height=\"80\"><body/></layer>"));
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &MarkerToQuit, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    int innerResult = -1;
    ts::ModalScript script;
    script.WaitUntil([&] { return FindTitled(kTitle) != nullptr; })
        .Do([&] { innerResult = inner.ShowModal(outer); })
        .WaitUntil([&] { return FindTitled(L"inner") != nullptr; })
        .Do([&] { PostThreadMessageW(GetCurrentThreadId(), kQuitMarker, 0, 0); });
    int outerResult = -1;
    const bool finished = script.Run([&] { outerResult = outer.ShowModal(nullptr); });
    UnhookWindowsHookEx(hook);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(script.TimedOut()) << "the outer loop must end too";
    EXPECT_EQ(innerResult, 0);
    EXPECT_EQ(outerResult, 0);
    EXPECT_EQ(TakeQuit(), 77);
}

}  // namespace
