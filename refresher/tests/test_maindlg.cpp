// The updater's window on the program's own resources, run modally with a script: the offer as it
// opens, the change log, the worker's posts, closing during a download, cancelling and downloading
// again. Screenshots of the main states go to bin/screenshots/refresher/.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "bkleaf.h"
#include "bkmsgbox.h"
#include "bkskin.h"
#include "bkres.h"
#include "bkstyle.h"
#include "enginefixture.h"
#include "maindlg.h"
#include "runningpanel.h"
#include "startup.h"
#include "uikit.h"

using refresher::MainDlg;
using rt::EngineTest;
using rt::Exists;
using rt::FileSpec;
using rt::ServiceStandIn;
using ts::HttpReply;

namespace {

// What the seams were asked.
struct Asked {
    std::vector<std::wstring> boxes;  // "caption|text|type"
    std::vector<int> answers;         // scripted answers, in order (none left: IDNO)
    int sites = 0;
    int shutdowns = 0;
};
Asked* g_asked = nullptr;

int ScriptedBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    g_asked->boxes.push_back(std::wstring(caption) + L"|" + text + L"|" + std::to_wstring(type));
    if (g_asked->answers.empty()) return IDNO;
    int answer = g_asked->answers.front();
    g_asked->answers.erase(g_asked->answers.begin());
    return answer;
}
HINSTANCE CountedSite(HWND, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, int) {
    ++g_asked->sites;
    return reinterpret_cast<HINSTANCE>(42);
}
BOOL CountedShutdown(HWND owner) {
    EXPECT_EQ(owner, nullptr);
    ++g_asked->shutdowns;
    return TRUE;
}

// The running panel as the updater finds it, on this thread: counts WM_NEW_VERSION.
class Panel {
public:
    Panel() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"RefresherDlgTestPanel";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, wc.lpszClassName, TOLVEN_PANEL_TITLE, WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                  nullptr, wc.hInstance, nullptr);
        SetPropW(window_, TOLVEN_PANEL_TITLE, reinterpret_cast<HANDLE>(1));
        count_ = 0;
    }
    ~Panel() {
        RemovePropW(window_, TOLVEN_PANEL_TITLE);
        DestroyWindow(window_);
    }
    int Count() {
        ts::PumpMessages(50);
        return count_;
    }

private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == refresher::WM_NEW_VERSION) ++count_;
        return DefWindowProcW(h, m, w, l);
    }
    HWND window_;
    static int count_;
};
int Panel::count_ = 0;

class RefresherWindow : public EngineTest {
protected:
    static void SetUpTestSuite() { BkLoadSkinTables(FALSE); }
    void SetUp() override {
        EngineTest::SetUp();
        g_asked = &asked_;
        refresher::Seams().messageBox = ScriptedBox;
        refresher::Seams().shellExecute = CountedSite;
        refresher::Seams().shutdownDialog = CountedShutdown;
        WriteInstalledVersion(L"1.0");
    }
    void TearDown() override {
        refresher::Seams() = refresher::RealSeams();
        g_asked = nullptr;
        EngineTest::TearDown();
    }

    // An engine as wWinMain makes it: paths, the description fetched, no target window.
    std::unique_ptr<refresher::CUpdateEngine> Start(DWORD receiveTimeoutMs = 3000, DWORD panelQuitWaitMs = 5000) {
        refresher::EngineSettings s = Settings();
        s.receiveTimeoutMs = receiveTimeoutMs;
        s.panelQuitWaitMs = panelQuitWaitMs;
        std::unique_ptr<refresher::CUpdateEngine> engine(new refresher::CUpdateEngine(s));
        EXPECT_TRUE(engine->InitPaths());
        EXPECT_TRUE(engine->GetUpdateInfo());
        return engine;
    }
    // Runs the dialog with the script; its result, or -1 when the script did not finish.
    int Run(MainDlg& dialog, ts::ModalScript& script, DWORD watchdogMs = 20000) {
        int result = -1;
        bool finished = script.Run([&] { result = dialog.ShowModal(nullptr); }, watchdogMs);
        EXPECT_TRUE(finished) << "steps done: " << script.StepsDone();
        return finished ? result : -1;
    }
    static ts::ModalScript& WaitShown(ts::ModalScript& script, MainDlg& dialog) {
        return script.WaitUntil([&] { return dialog.m_hWnd && IsWindowVisible(dialog.m_hWnd); });
    }
    static void Click(MainDlg& dialog, UINT id) {
        CBkWindow* item = dialog.View().FindItem(id);
        ASSERT_NE(item, nullptr) << id;
        const RECT& r = item->GetRect();
        // Alternating between two spots of the item: two quick clicks on one spot make a double
        // click, which the view does not take as a click.
        static bool left = false;
        left = !left;
        const int x = left ? r.left + (r.right - r.left) / 4 : r.right - (r.right - r.left) / 4;
        ts::ClickAt(dialog.View().m_hWnd, POINT{x, (r.top + r.bottom) / 2});
    }
    static bool Disabled(MainDlg& dialog, UINT id) {
        CBkWindow* item = dialog.View().FindItem(id);
        return item && item->IsDisabledDeep();
    }
    static std::wstring Text(MainDlg& dialog, UINT id) { return dialog.GetItemText(id).GetString(); }
    static SIZE Client(MainDlg& dialog) {
        RECT r = {};
        GetClientRect(dialog.m_hWnd, &r);
        return SIZE{r.right - r.left, r.bottom - r.top};
    }
    static CBkProgress* Bar(MainDlg& dialog) {
        return static_cast<CBkProgress*>(dialog.View().FindItem(refresher::kItemProgress));
    }
    static void Shoot(MainDlg& dialog, const wchar_t* name) {
        // Painted completely and read from the screen; it pumps nothing, so the script's next steps
        // do not play inside this one.
        ts::Capture shot = ts::ScreenshotOf(dialog.m_hWnd);
        ASSERT_TRUE(shot.ok()) << "the window never settled on the screen";
        EXPECT_TRUE(ts::KeepScreenshot(shot, L"refresher", name));
        // What the user sees in it, each a region that a blank or one-colour picture has no ink in:
        // the header's title, the status line, the bar once it moved, the change log while shown.
        const std::string what = ts::Narrow(name);
        const HWND view = dialog.View().m_hWnd;
        auto inkOf = [&](const RECT& r) { return ts::InkPixels(shot, ts::RectInShot(dialog.m_hWnd, view, r)); };
        auto itemRect = [&](UINT id) {
            CBkWindow* item = dialog.View().FindItem(id);
            EXPECT_TRUE(item && item->IsVisibleDeep()) << what << ": item " << id;
            return item ? item->GetRect() : RECT{};
        };
        EXPECT_GT(inkOf(RECT{25, 4, 200, 20}), 40) << what << ": the title \"Tolven电脑锁 升级程序\" in the header";
        EXPECT_GT(inkOf(itemRect(refresher::kItemStatus)), 30) << what << ": the status text";
        // The bar's "0%" is too pale to count; once it has moved, its green fill stands out.
        const RECT bar = itemRect(refresher::kItemProgress);
        if (Bar(dialog) && Bar(dialog)->GetValue() > Bar(dialog)->GetMin()) {
            EXPECT_GT(inkOf(bar), 100) << what << ": the progress bar's fill";
        }
        if (dialog.TextShown()) {
            EXPECT_GT(inkOf(itemRect(refresher::kItemChangeLog)), 30) << what << ": the change log";
        }
    }
    std::wstring Box(const wchar_t* text, UINT type) {
        return std::wstring(refresher::kCaption) + L"|" + text + L"|" + std::to_wstring(type);
    }
    // A description of version 2.0 with CanAutoUpdate as given ("" leaves it out) and the files.
    std::string Offer(const std::string& canAutoUpdate, const std::vector<FileSpec>& files,
                      const std::string& extra = "") {
        std::string text = Describe("2.0", files, -2, extra);
        const std::string line = "CanAutoUpdate=1\r\n";
        text.replace(text.find(line), line.size(),
                     canAutoUpdate.empty() ? "" : "CanAutoUpdate=" + canAutoUpdate + "\r\n");
        return text;
    }
    static std::string ChangeLog(int lines) {
        std::string text = "UpdateTitle=2.0\r\n";
        for (int i = 0; i < lines; ++i) text += "UPDATETXT" + std::to_string(i) + "=change " + std::to_string(i) + "\r\n";
        return text;
    }

    Asked asked_;
    const std::vector<FileSpec> files_ = {{"Sentry.exe", "sentry-2", true, ""}};
};

// Nothing on offer: the note, every button and the link disabled; clicks on them do nothing, the
// close button ends the window, and no panel hears of anything.
TEST_F(RefresherWindow, NoOfferLeavesOnlyClosing) {
    ServeFiles(files_);
    Publish(Describe("1.0", files_, -2, ChangeLog(3)));
    Panel panel;
    auto engine = Start();
    MainDlg dialog(engine.get());
    ts::ModalScript script;
    WaitShown(script, dialog)
        .Do([&] {
            EXPECT_EQ(Text(dialog, refresher::kItemStatus), L"暂时没有升级信息");
            wchar_t title[64] = {};
            GetWindowTextW(dialog.m_hWnd, title, 64);
            EXPECT_STREQ(title, L"Tolven电脑锁自动更新");
            for (UINT id : {refresher::kItemDownload, refresher::kItemToggle, refresher::kItemCancel})
                EXPECT_TRUE(Disabled(dialog, id)) << id;
            EXPECT_EQ(Client(dialog).cx, 500);
            EXPECT_EQ(Client(dialog).cy, 150);
            Shoot(dialog, L"refresher_no_offer.bmp");
            // The body's class gives it its white ground, between the title bar and the status line.
            ts::Capture ground = ts::CaptureView(dialog.View().m_hWnd);
            ASSERT_TRUE(ground.ok());
            EXPECT_EQ(ground.At(ground.width / 2, 23 + 8), RGB(0xFF, 0xFF, 0xFF));
            for (UINT id : {refresher::kItemDownload, refresher::kItemToggle, refresher::kItemCancel})
                Click(dialog, id);
        })
        .Do([&] {
            EXPECT_FALSE(dialog.Worker().Running());
            EXPECT_FALSE(dialog.TextShown());
            EXPECT_EQ(Client(dialog).cy, 150);
            Click(dialog, refresher::kItemClose);
        });
    EXPECT_EQ(Run(dialog, script), 0);
    EXPECT_EQ(server_.CountFor("/files/Sentry.exe"), 0);
    EXPECT_TRUE(asked_.boxes.empty());
    EXPECT_EQ(panel.Count(), 0);
}

// An offer that may not be installed online asks once and closes the window before it shows; one
// that may shows the version with download on and cancel off. The panel hears of both.
TEST_F(RefresherWindow, OfferDecidesBetweenTheSiteAndTheDownload) {
    const std::wstring box = Box(refresher::kNoOnlineUpdateText, MB_YESNO | MB_ICONINFORMATION);
    struct Case {
        const char* canAutoUpdate;
        bool sign;
        int answer;
        bool online;
        int sites;
    } cases[] = {
        {"TRUE", true, IDYES, false, 1},
        {"", true, IDNO, false, 0},
        {"1", false, IDYES, false, 1},
        {"true", true, IDNO, true, 0},
        {"1", true, IDNO, true, 0},
    };
    ServeFiles(files_);
    Panel panel;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.canAutoUpdate) + (c.sign ? " signed" : " unsigned"));
        asked_ = Asked();
        asked_.answers = {c.answer};
        Publish(Offer(c.canAutoUpdate, files_), c.sign);
        auto engine = Start();
        MainDlg dialog(engine.get());
        const int notesBefore = panel.Count();
        // Without the online update the window ends in its initialisation: no step ever runs.
        ts::ModalScript script;
        if (c.online)
            WaitShown(script, dialog).Do([&] {
                EXPECT_EQ(Text(dialog, refresher::kItemStatus), L"发现了新版本  2.0，请下载");
                EXPECT_FALSE(Disabled(dialog, refresher::kItemDownload));
                EXPECT_FALSE(Disabled(dialog, refresher::kItemToggle));
                EXPECT_TRUE(Disabled(dialog, refresher::kItemCancel));
                Click(dialog, refresher::kItemClose);
            });
        EXPECT_EQ(Run(dialog, script), 0);
        EXPECT_EQ(asked_.boxes, c.online ? std::vector<std::wstring>{} : std::vector<std::wstring>{box});
        EXPECT_EQ(asked_.sites, c.sites);
        EXPECT_EQ(panel.Count() - notesBefore, 1);
    }
}

// The change log: shown, the client grows by 55 a line and the link names the next action; hidden
// again, the window is as it was. A long log stops at the work area.
TEST_F(RefresherWindow, ChangeLogTogglesTheWindowsHeight) {
    struct Case {
        int lines;
        bool clamped;
    } cases[] = {{3, false}, {40, true}};
    ServeFiles(files_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        Publish(Offer("1", files_, ChangeLog(c.lines)));
        auto engine = Start();
        MainDlg dialog(engine.get());
        ts::ModalScript script;
        WaitShown(script, dialog)
            .Do([&] {
                EXPECT_EQ(engine->LineCount(), c.lines);
                EXPECT_EQ(Text(dialog, refresher::kItemToggle), L"显示更新内容");
                Click(dialog, refresher::kItemToggle);
            })
            .Do([&] {
                EXPECT_TRUE(dialog.TextShown());
                EXPECT_EQ(Client(dialog).cx, 500);
                if (c.clamped) {
                    EXPECT_EQ(Client(dialog).cy, refresher::ClientHeightLimit(dialog.m_hWnd));
                    EXPECT_LT(Client(dialog).cy, engine->LineCount() * 55 + 150);
                } else {
                    EXPECT_EQ(Client(dialog).cy, 315);
                    Shoot(dialog, L"refresher_change_log.bmp");
                }
                EXPECT_EQ(Text(dialog, refresher::kItemToggle), L"隐藏更新内容");
                EXPECT_EQ(Text(dialog, refresher::kItemChangeLog), engine->UpdateText());
                Click(dialog, refresher::kItemToggle);
            })
            .Do([&] {
                EXPECT_FALSE(dialog.TextShown());
                EXPECT_EQ(Client(dialog).cx, 500);
                EXPECT_EQ(Client(dialog).cy, 150);
                EXPECT_EQ(Text(dialog, refresher::kItemToggle), L"显示更新内容");
                EXPECT_EQ(Text(dialog, refresher::kItemChangeLog), L"");
                Click(dialog, refresher::kItemClose);
            });
        EXPECT_EQ(Run(dialog, script), 0);
    }
}

// Posts from a thread of its own, as another program on the desktop can: every WM_UPDATE_* with
// values a forger would try (small numbers, the pointers the messages used to carry, wild ones).
struct Forger {
    HWND window = nullptr;
    std::vector<WPARAM> values;
    static DWORD WINAPI Thread(void* p) {
        Forger* self = static_cast<Forger*>(p);
        for (UINT message : {refresher::WM_UPDATE_PROGRESS, refresher::WM_UPDATE_STATUS, refresher::WM_UPDATE_FINISHED})
            for (WPARAM value : self->values) PostMessageW(self->window, message, value, 77);
        return 0;
    }
    // Every post is in the window's queue when this returns.
    void Send() {
        HANDLE t = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
        CloseHandle(t);
    }
};

// Forged posts, before a run and while the worker waits on a stalled file, change nothing: no
// crash, the status and the bar stay, no end of the run. The worker's own posts move the bar and
// show the status; the end of the run asks or reports. A failed run leaves the window open with
// download off and cancel on; a successful one closes it.
TEST_F(RefresherWindow, OnlyTheWorkersOwnPostsDriveTheBarTheStatusAndTheEnd) {
    struct Case {
        bool success;  // a wrong digest fails the run
        int answer;
        int shutdowns;
    } cases[] = {{false, IDOK, 0}, {true, IDNO, 0}, {true, IDYES, 1}};
    // A successful run stops the service: the command-line recorder plays it.
    rt::ServiceStandIn service(root_ + L"\\服务");
    ASSERT_TRUE(service.ok());
    // Text on the heap, as the status used to be posted: the window must neither show nor free it.
    const size_t textBytes = sizeof(L"伪造的状态");
    wchar_t* forgedText = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, textBytes));
    ASSERT_NE(forgedText, nullptr);
    memcpy(forgedText, L"伪造的状态", textBytes);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.success) + " " + std::to_string(c.answer));
        asked_ = Asked();
        asked_.answers = {c.answer};
        WriteInstalledVersion(L"1.0");
        const std::vector<FileSpec> files = {{"Sentry.exe", "sentry-2", true, c.success ? "" : std::string(64, '0')}};
        ServeFiles(files);
        Publish(Offer("1", files));
        // The file's body waits until the test lets it go: the worker is mid-run meanwhile.
        HANDLE pace = CreateSemaphoreW(nullptr, 0, 100, nullptr);
        ASSERT_NE(pace, nullptr);
        HttpReply paced;
        paced.body = "sentry-2";
        paced.pieceBytes = 3;
        paced.pace = pace;
        server_.Set("/files/Sentry.exe", paced);
        auto engine = Start(60000);
        MainDlg dialog(engine.get());
        Forger forger;
        forger.values = {0, 1, 2, 3, 4, 0x10, 0x1000, reinterpret_cast<WPARAM>(forgedText),
                         reinterpret_cast<WPARAM>(L"value"), reinterpret_cast<WPARAM>(L"max"),
                         static_cast<WPARAM>(0xDEADBEEF), ~static_cast<WPARAM>(0)};
        const std::wstring offered = L"发现了新版本  2.0，请下载";
        const std::wstring downloading = L"正在下载文件1/1";
        unsigned valueBefore = 0;
        // No WM_UPDATE_* left in the window's queue: every post made so far was handled.
        auto drained = [&] {
            MSG m;
            return !PeekMessageW(&m, dialog.m_hWnd, refresher::WM_UPDATE_PROGRESS, refresher::WM_UPDATE_FINISHED,
                                 PM_NOREMOVE);
        };
        ts::ModalScript script;
        WaitShown(script, dialog)
            .Do([&] {
                forger.window = dialog.m_hWnd;
                forger.Send();
            })
            .WaitUntil(drained)
            .Do([&] {
                EXPECT_TRUE(IsWindowVisible(dialog.m_hWnd));
                EXPECT_EQ(Text(dialog, refresher::kItemStatus), offered);
                EXPECT_EQ(Bar(dialog)->GetMax(), 300u);  // the layout's own range
                EXPECT_EQ(Bar(dialog)->GetValue(), 0u);
                EXPECT_TRUE(asked_.boxes.empty());
                Click(dialog, refresher::kItemDownload);
            })
            .WaitUntil([&] {
                return Text(dialog, refresher::kItemStatus) == downloading &&
                       Exists(download_ + L"\\Sentry.exe.part") && drained();
            })
            .Do([&] {
                EXPECT_EQ(Bar(dialog)->GetMax(), 100u);
                valueBefore = Bar(dialog)->GetValue();
                if (!c.success) Shoot(dialog, L"refresher_downloading.bmp");
                forger.Send();
            })
            .WaitUntil(drained)
            .Do([&] {
                EXPECT_EQ(Text(dialog, refresher::kItemStatus), downloading);
                EXPECT_EQ(Bar(dialog)->GetValue(), valueBefore);
                EXPECT_EQ(Bar(dialog)->GetMax(), 100u);
                EXPECT_TRUE(asked_.boxes.empty());
                EXPECT_TRUE(dialog.Worker().Running());
                ReleaseSemaphore(pace, 100, nullptr);
            });
        // A successful run closes the window from the end of the run's handler: nothing more to do.
        if (!c.success)
            script.WaitUntil([&] { return !asked_.boxes.empty(); }).Do([&] {
                EXPECT_EQ(Text(dialog, refresher::kItemStatus), L"更新失败");
                EXPECT_TRUE(Disabled(dialog, refresher::kItemDownload));
                EXPECT_FALSE(Disabled(dialog, refresher::kItemCancel));
                EXPECT_TRUE(IsWindowVisible(dialog.m_hWnd));
                Shoot(dialog, L"refresher_failure.bmp");
                Click(dialog, refresher::kItemClose);
            });
        EXPECT_EQ(Run(dialog, script), 0);
        EXPECT_EQ(asked_.boxes, std::vector<std::wstring>{c.success
                                                              ? Box(refresher::kSuccessText, MB_YESNO | MB_ICONINFORMATION)
                                                              : Box(refresher::kFailureText, MB_OK | MB_ICONINFORMATION)});
        EXPECT_EQ(asked_.shutdowns, c.shutdowns);
        EXPECT_EQ(ts::Narrow(InstalledVersion()), c.success ? "2.0" : "1.0");
        EXPECT_FALSE(dialog.Worker().Running());
        ReleaseSemaphore(pace, 100, nullptr);  // whatever step failed, the server is not left waiting
        CloseHandle(pace);
    }
    // The window never took the forged text for its own: it is still this test's to free.
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, forgedText));
}

// A stalled download, far from its stall limit: cancel ends the worker and offers the download
// again, which is a whole new run; closing during a download ends the worker and the window at
// once, saying nothing of an install that is not happening.
TEST_F(RefresherWindow, CancelAndCloseDuringAStalledDownload) {
    const DWORD kStallLimit = 60000;
    ServeFiles(files_);
    Publish(Offer("1", files_));
    HttpReply stalled;
    stalled.mode = HttpReply::Mode::Stall;
    stalled.body = "sentry-2";
    stalled.cutAfter = 3;
    server_.Set("/files/Sentry.exe", stalled);
    const std::wstring part = download_ + L"\\Sentry.exe.part";
    auto engine = Start(kStallLimit);
    server_.ClearLog();
    MainDlg dialog(engine.get());
    std::wstring statusAtClose;
    DWORD closeTook = 0;
    ts::ModalScript script;
    WaitShown(script, dialog)
        .Do([&] { Click(dialog, refresher::kItemDownload); })
        .WaitUntil([&] { return Exists(part); })
        .Do([&] {
            EXPECT_TRUE(Disabled(dialog, refresher::kItemDownload));
            EXPECT_FALSE(Disabled(dialog, refresher::kItemCancel));
            // The worker's own state, stalled in its first file.
            Shoot(dialog, L"refresher_stalled_download.bmp");
            Click(dialog, refresher::kItemCancel);
        })
        .WaitUntil([&] { return !dialog.Worker().Running(); })
        .Do([&] {
            EXPECT_FALSE(Exists(part));
            EXPECT_FALSE(Disabled(dialog, refresher::kItemDownload));
            EXPECT_EQ(server_.CountFor("/files/Sentry.exe"), 1);
            // Again: the file is asked for once more, and the run stalls as before.
            Click(dialog, refresher::kItemDownload);
        })
        .WaitUntil([&] { return server_.CountFor("/files/Sentry.exe") == 2 && Exists(part); })
        .Do([&] {
            ASSERT_TRUE(dialog.Worker().Running());
            const DWORD start = GetTickCount();
            Click(dialog, refresher::kItemClose);
            closeTook = GetTickCount() - start;
            statusAtClose = Text(dialog, refresher::kItemStatus);
            // The window ends only once the worker has: the engine goes right after it.
            EXPECT_TRUE(dialog.IsEnding());
            EXPECT_FALSE(dialog.Worker().Running());
        });
    // Bounded by the script's watchdog, far below the stall limit.
    EXPECT_EQ(Run(dialog, script), 0);
    EXPECT_FALSE(dialog.m_hWnd && IsWindow(dialog.m_hWnd));
    // The click on close held the window this long: a window that waited for the stalled read would
    // have stayed to the stall limit.
    EXPECT_LT(closeTook, 3000u);
    EXPECT_EQ(statusAtClose.find(L"安装"), std::wstring::npos) << ts::Narrow(statusAtClose);
    EXPECT_FALSE(dialog.Worker().Running());
    server_.Release();
    EXPECT_FALSE(Exists(part));
    EXPECT_TRUE(asked_.boxes.empty());  // the stopped runs reported nothing
    EXPECT_EQ(ts::Narrow(InstalledVersion()), "1.0");
}

// Once installing has begun (the service stopped, a panel that will not quit being waited for),
// neither cancel nor close stops the run: each says so and the window stays until the run ends.
TEST_F(RefresherWindow, CancelAndCloseWhileInstallingSayWhatThePcIsDoing) {
    rt::TestPanel panel(L"stubborn");
    ASSERT_TRUE(panel.started());
    rt::ServiceStandIn service(root_ + L"\\服务");
    ASSERT_TRUE(service.ok());
    ServeFiles(files_);
    Publish(Offer("1", files_));
    asked_.answers = {IDNO};
    auto engine = Start(3000, 4000);
    MainDlg dialog(engine.get());
    std::wstring afterCancel, afterClose;
    ts::ModalScript script;
    WaitShown(script, dialog)
        .Do([&] { Click(dialog, refresher::kItemDownload); })
        .WaitUntil([&] { return engine->Installing() != FALSE; })
        .Do([&] {
            Click(dialog, refresher::kItemCancel);
            afterCancel = Text(dialog, refresher::kItemStatus);
            EXPECT_TRUE(Disabled(dialog, refresher::kItemDownload));
            Click(dialog, refresher::kItemClose);
            afterClose = Text(dialog, refresher::kItemStatus);
            EXPECT_FALSE(dialog.IsEnding());
            EXPECT_TRUE(IsWindowVisible(dialog.m_hWnd));
            EXPECT_TRUE(dialog.Worker().Running());
        });
    // The run goes on to its end, which asks about the restart and closes the window.
    EXPECT_EQ(Run(dialog, script, 30000), 0);
    EXPECT_EQ(afterCancel, L"已经开始安装更新，无法取消；安装完成前请不要关闭计算机");
    EXPECT_EQ(afterClose, L"正在安装更新，完成后才能关闭");
    EXPECT_EQ(asked_.boxes, std::vector<std::wstring>{Box(refresher::kSuccessText, MB_YESNO | MB_ICONINFORMATION)});
    EXPECT_EQ(ts::Narrow(InstalledVersion()), "2.0");
    EXPECT_EQ(ts::ReadFileBytes(program_ + L"\\Sentry.exe"), "sentry-2");
}

// Every skin that the style table, the message box and the window's layouts name is in the skin
// table (a missing one draws nothing), and the window's own strings are there.
TEST_F(RefresherWindow, ResourcesNameOnlySkinsTheProgramHas) {
    std::set<std::string> names = {"progressposred"};
    const std::regex skinAttribute("(?:skin|bgskin|posskin)=\"([^\"]+)\"");
    for (UINT16 id : {101, 105, 113, 508, 509}) {
        std::string xml;
        ASSERT_TRUE(BkResourceLoader::LoadResource(id, L"xml", xml)) << id;
        for (std::sregex_iterator m(xml.begin(), xml.end(), skinAttribute), end; m != end; ++m)
            names.insert((*m)[1].str());
    }
    EXPECT_GT(names.size(), 15u);
    for (const std::string& name : names) EXPECT_NE(BkSkinPool::GetSkin(name), nullptr) << name;
    // An unknown class gives the default style: the item silently loses its look.
    const std::regex classAttribute("class=\"([^\"]+)\"");
    for (UINT16 id : {105, 113, 508, 509}) {
        std::string xml;
        ASSERT_TRUE(BkResourceLoader::LoadResource(id, L"xml", xml)) << id;
        for (std::sregex_iterator m(xml.begin(), xml.end(), classAttribute), end; m != end; ++m) {
            const std::string name = (*m)[1].str();
            EXPECT_EQ(BkStylePool::GetStyle(name)->m_strClassName, name) << id << ": class " << name;
        }
    }
    EXPECT_STREQ(BkString::Get(refresher::kStrHideChangeLog), L"隐藏更新内容");
    EXPECT_STREQ(BkString::Get(refresher::kStrShowChangeLog), L"显示更新内容");
}

BOOL CALLBACK FirstVisible(HWND h, LPARAM found) {
    if (!IsWindowVisible(h)) return TRUE;
    *reinterpret_cast<HWND*>(found) = h;
    return FALSE;
}

// The real message-box seam is the skinned box on the program's layout 105.
TEST_F(RefresherWindow, MessageBoxIsTheSkinnedBox) {
    refresher::Seams() = refresher::RealSeams();
    HWND box = nullptr;
    int result = -2;
    ts::ModalScript script;
    script
        .WaitUntil([&] {
            EnumThreadWindows(GetCurrentThreadId(), FirstVisible, reinterpret_cast<LPARAM>(&box));
            return box != nullptr;
        })
        .Do([&] {
            ts::Capture shot = ts::ScreenshotOf(box);
            EXPECT_TRUE(shot.ok()) << "the box never settled on the screen";
            EXPECT_TRUE(ts::KeepScreenshot(shot, L"refresher", L"refresher_failure_box.bmp"));
            // Layout 105 in its 300 x 170 client: the title, the information icon and the message
            // in the body below the 31-pixel header, the "确定" button in the 45-pixel footer.
            const HWND boxView = GetDlgItem(box, kBkViewCtrlId);
            const struct {
                RECT r;
                int ink;
                const char* what;
            } regions[] = {
                {{25, 6, 200, 27}, 30, "the title"},
                {{20, 51, 52, 83}, 100, "the icon"},
                {{70, 51, 290, 110}, 60, "the message"},
                {{0, 125, 300, 170}, 30, "the button"},
            };
            for (const auto& region : regions)
                EXPECT_GT(ts::InkPixels(shot, ts::RectInShot(box, boxView, region.r)), region.ink) << region.what;
            // The box's "确定", as its view reports a click.
            BkCommandNotify click = {};
            click.hdr.hwndFrom = GetDlgItem(box, kBkViewCtrlId);
            click.hdr.idFrom = kBkViewCtrlId;
            click.hdr.code = kBkNotifyCommand;
            click.uItemID = IDOK;
            click.szItemClass = "button";
            SendMessageW(box, WM_NOTIFY, kBkViewCtrlId, reinterpret_cast<LPARAM>(&click));
        });
    EXPECT_TRUE(script.Run([&] {
        result = refresher::Seams().messageBox(nullptr, refresher::kFailureText, refresher::kCaption,
                                               MB_OK | MB_ICONINFORMATION);
    }));
    EXPECT_EQ(result, IDOK);
}

}  // namespace
