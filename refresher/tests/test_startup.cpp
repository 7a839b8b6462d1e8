// The updater's start: the command line, whether the window is shown, what it does when it opens
// (the offer, the web site, the note to a running panel) and after an update, over the seams.
#include "enginefixture.h"

#include "runningpanel.h"
#include "startup.h"

namespace rt {
namespace {

using refresher::Seams;

// A top-level window with the panel's title on a thread of its own, with or without the panel's
// property, counting WM_NEW_VERSION.
class PanelWindow {
public:
    explicit PanelWindow(bool withProperty) : property_(withProperty) {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        flushed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
        WaitForSingleObject(ready_, 10000);
    }
    ~PanelWindow() {
        if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        CloseHandle(ready_);
        CloseHandle(flushed_);
    }
    HWND window() const { return window_; }
    // WM_NEW_VERSION messages handled so far, asked after everything posted before the call.
    int Count() {
        if (PostMessageW(window_, kFlush, 0, 0)) WaitForSingleObject(flushed_, 10000);
        return InterlockedCompareExchange(&count_, 0, 0);
    }

private:
    static const UINT kFlush = WM_APP + 50;
    static DWORD WINAPI Thread(void* p) {
        PanelWindow* self = static_cast<PanelWindow*>(p);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"RefresherStartupPanel";
        RegisterClassW(&wc);
        self->window_ = CreateWindowExW(0, wc.lpszClassName, TOLVEN_PANEL_TITLE, WS_OVERLAPPED, 0, 0, 100, 50,
                                        nullptr, nullptr, wc.hInstance, self);
        if (self->window_ && self->property_) SetPropW(self->window_, TOLVEN_PANEL_TITLE, reinterpret_cast<HANDLE>(1));
        SetEvent(self->ready_);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        return 0;
    }
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        PanelWindow* self = reinterpret_cast<PanelWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (message) {
            case refresher::WM_NEW_VERSION:
                if (wParam == 0 && lParam == 0) InterlockedIncrement(&self->count_);
                return 0;
            case kFlush:
                SetEvent(self->flushed_);
                return 0;
            case WM_CLOSE:
                RemovePropW(hwnd, TOLVEN_PANEL_TITLE);
                DestroyWindow(hwnd);
                return 0;
            case WM_DESTROY:
                PostQuitMessage(0);
                return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    bool property_;
    HANDLE thread_ = nullptr, ready_ = nullptr, flushed_ = nullptr;
    HWND window_ = nullptr;
    volatile LONG count_ = 0;
};

// What the seams were asked, and the message box's scripted answer.
struct SeamLog {
    int boxAnswer = IDNO;
    std::vector<std::wstring> boxes;  // "caption|text|type"
    std::vector<std::wstring> opened;  // "verb|file|show"
    int shutdowns = 0;
    HWND shutdownOwner = reinterpret_cast<HWND>(1);
    int windows = 0;  // windows shown
};
SeamLog* g_log = nullptr;
refresher::EngineSettings g_settings;

int FakeBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    g_log->boxes.push_back(std::wstring(caption) + L"|" + text + L"|" + std::to_wstring(type));
    return g_log->boxAnswer;
}
HINSTANCE FakeShell(HWND, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters, const wchar_t*,
                    int show) {
    g_log->opened.push_back(std::wstring(verb) + L"|" + file + L"|" + (parameters ? parameters : L"") + L"|" +
                            std::to_wstring(show));
    return reinterpret_cast<HINSTANCE>(42);
}
BOOL FakeShutdown(HWND owner) {
    ++g_log->shutdowns;
    g_log->shutdownOwner = owner;
    return TRUE;
}
// Counted, and doing what the window does as it opens (the window itself: test_maindlg.cpp).
class CountingWindow : public refresher::IUpdaterWindow {
public:
    INT_PTR ShowModal(refresher::CUpdateEngine* engine) override {
        ++g_log->windows;
        refresher::OpenOffer(engine, nullptr);
        return 0;
    }
};
refresher::IUpdaterWindow* FakeWindow() {
    static CountingWindow window;
    return &window;
}
refresher::EngineSettings TestSettings() { return g_settings; }

class RefresherStartup : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        g_log = &log_;
        Seams().messageBox = FakeBox;
        Seams().shellExecute = FakeShell;
        Seams().shutdownDialog = FakeShutdown;
        Seams().window = FakeWindow;
        g_settings = Settings();
        Seams().engineSettings = TestSettings;
    }
    void TearDown() override {
        Seams() = refresher::RealSeams();
        g_log = nullptr;
        EngineTest::TearDown();
    }
    // A description of version, CanAutoUpdate as given ("" leaves it out), one file.
    std::string Description(const std::string& version, const std::string& canAutoUpdate) {
        std::string text = Describe(version, {{"Warden.exe", "warden-2", true, ""}});
        const std::string line = "CanAutoUpdate=1\r\n";
        size_t at = text.find(line);
        text.replace(at, line.size(), canAutoUpdate.empty() ? "" : "CanAutoUpdate=" + canAutoUpdate + "\r\n");
        return text;
    }
    std::wstring Box(const wchar_t* text, UINT type) {
        return std::wstring(refresher::kCaption) + L"|" + text + L"|" + std::to_wstring(type);
    }
    SeamLog log_;
};

TEST(RefresherCommandLine, SplitsAtBlanksIntoAtMostThreeWords) {
    struct Case {
        const wchar_t* line;
        std::vector<std::wstring> words;
    } cases[] = {
        {L"", {}},
        {L"   \t ", {}},
        {L"auto", {L"auto"}},
        {L"  manual\tx  y ", {L"manual", L"x", L"y"}},
        {L"a b c d e", {L"a", L"b", L"c"}},
        {L"\"auto\"", {L"\"auto\""}},
        {L"\"auto now\"", {L"\"auto", L"now\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.line));
        EXPECT_EQ(refresher::SplitCommandLine(c.line), c.words);
    }
    EXPECT_TRUE(refresher::SplitCommandLine(nullptr).empty());
}

// With a running panel and a same-titled window without the panel's property beside it.
TEST_F(RefresherStartup, CommandLineDecidesTheWindowAndTheNoteToThePanel) {
    struct Case {
        const wchar_t* line;
        bool newer;
        bool window;
        int notes;
    } cases[] = {
        {L"auto", false, false, 0},
        {L"AUTO", true, false, 0},
        {L"Auto", true, false, 0},
        {L"", true, false, 0},
        {L"\"auto\"", true, false, 0},
        {L"update", true, false, 0},
        {L"manual x y", false, true, 0},
        {L"manual", true, true, 1},
        {L"auto", true, true, 1},
        {L" auto manual", true, true, 1},
    };
    WriteInstalledVersion(L"1.0");
    PanelWindow panel(true), lookalike(false);
    ASSERT_TRUE(panel.window() && lookalike.window());
    ASSERT_EQ(FindRunningPanel(), panel.window());
    int notesBefore = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.line) + (c.newer ? " newer" : " not newer"));
        PlaceLocally(Description(c.newer ? "2.0" : "1.0", "1"));
        log_.windows = 0;
        refresher::CUpdateEngine engine(Settings());
        ASSERT_TRUE(engine.InitPaths());
        EXPECT_EQ(refresher::RunUpdater(c.line, &engine, Seams().window()), 0);
        EXPECT_EQ(log_.windows, c.window ? 1 : 0);
        int notes = panel.Count();
        EXPECT_EQ(notes - notesBefore, c.notes);
        notesBefore = notes;
        EXPECT_EQ(lookalike.Count(), 0);
        EXPECT_TRUE(log_.boxes.empty());
    }
}

TEST_F(RefresherStartup, ExitCodeIsTheWindowsResult) {
    class Ending : public refresher::IUpdaterWindow {
    public:
        INT_PTR ShowModal(refresher::CUpdateEngine*) override { return 3; }
    } window;
    PlaceLocally(Description("1.0", "1"));
    refresher::CUpdateEngine engine(Settings());
    ASSERT_TRUE(engine.InitPaths());
    EXPECT_EQ(refresher::RunUpdater(L"manual", &engine, &window), 3);
    EXPECT_EQ(refresher::RunUpdater(L"auto", &engine, &window), 0);
}

// The whole start with the description fetched from the server before any window exists.
TEST_F(RefresherStartup, FetchesTheDescriptionBeforeDeciding) {
    WriteInstalledVersion(L"1.0");
    PanelWindow panel(true);
    struct Case {
        const char* version;
        int windows;
        int notes;
    } cases[] = {{"1.0", 0, 0}, {"2.0", 1, 1}};
    int notesBefore = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        log_.windows = 0;
        Publish(Description(c.version, "1"));
        server_.ClearLog();
        EXPECT_EQ(refresher::UpdaterMain(L"auto"), 0);
        EXPECT_EQ(server_.CountFor(kDescriptionPath), 1);
        EXPECT_EQ(log_.windows, c.windows);
        int notes = panel.Count();
        EXPECT_EQ(notes - notesBefore, c.notes);
        notesBefore = notes;
    }
    // No description at all: the default "1.0" is not newer than the installed "1.0".
    server_.Remove(kDescriptionPath);
    DeleteFileW((download_ + L"\\update.txt").c_str());
    log_.windows = 0;
    EXPECT_EQ(refresher::UpdaterMain(L"auto"), 0);
    EXPECT_EQ(log_.windows, 0);
}

TEST_F(RefresherStartup, OfferThatCannotBeInstalledOnlineSendsTheUserToTheSite) {
    const std::wstring box = Box(refresher::kNoOnlineUpdateText, MB_YESNO | MB_ICONINFORMATION);
    const std::wstring site = std::wstring(L"open|") + refresher::kSiteUrl + L"||" + std::to_wstring(SW_SHOWNORMAL);
    struct Case {
        const char* what;
        const char* canAutoUpdate;
        bool sign;
        int answer;
        bool canUpdate;
        bool opens;
    } cases[] = {
        {"TRUE, Yes", "TRUE", true, IDYES, false, true},
        {"TRUE, No", "TRUE", true, IDNO, false, false},
        {"absent", "", true, IDYES, false, true},
        {"unsigned", "1", false, IDYES, false, true},
        {"0", "0", true, IDNO, false, false},
        {"true, signed", "true", true, IDYES, true, false},
        {"1, signed", "1", true, IDYES, true, false},
    };
    WriteInstalledVersion(L"1.0");
    PanelWindow panel(true);
    int notes = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log_.boxes.clear();
        log_.opened.clear();
        log_.boxAnswer = c.answer;
        PlaceLocally(Description("2.5", c.canAutoUpdate), c.sign);
        refresher::CUpdateEngine engine(Settings());
        ASSERT_TRUE(engine.InitPaths());
        refresher::Offer offer = refresher::OpenOffer(&engine, nullptr);
        EXPECT_TRUE(offer.newer);
        EXPECT_EQ(offer.canUpdate, c.canUpdate);
        EXPECT_EQ(offer.endDialog, !c.canUpdate);
        EXPECT_EQ(offer.status, L"发现了新版本  2.5，请下载");
        EXPECT_EQ(log_.boxes, c.canUpdate ? std::vector<std::wstring>{} : std::vector<std::wstring>{box});
        EXPECT_EQ(log_.opened, c.opens ? std::vector<std::wstring>{site} : std::vector<std::wstring>{});
        // The panel hears of the version either way.
        EXPECT_TRUE(offer.announced);
        EXPECT_EQ(panel.Count(), ++notes);
    }
}

TEST_F(RefresherStartup, NoOfferAsksNothingAndTellsNoPanel) {
    WriteInstalledVersion(L"3.0");
    PanelWindow panel(true);
    PlaceLocally(Description("2.0", "TRUE"));
    refresher::CUpdateEngine engine(Settings());
    ASSERT_TRUE(engine.InitPaths());
    refresher::Offer offer = refresher::OpenOffer(&engine, nullptr);
    EXPECT_FALSE(offer.newer);
    EXPECT_FALSE(offer.endDialog);
    EXPECT_EQ(offer.status, L"暂时没有升级信息");
    EXPECT_TRUE(log_.boxes.empty());
    EXPECT_EQ(panel.Count(), 0);
}

TEST_F(RefresherStartup, NewVersionWithNoPanelRunningIsNotAnError) {
    PanelWindow lookalike(false);
    ASSERT_EQ(FindRunningPanel(), nullptr);
    WriteInstalledVersion(L"1.0");
    PlaceLocally(Description("2.0", "1"));
    refresher::CUpdateEngine engine(Settings());
    ASSERT_TRUE(engine.InitPaths());
    refresher::Offer offer = refresher::OpenOffer(&engine, nullptr);
    EXPECT_TRUE(offer.newer && offer.canUpdate);
    EXPECT_FALSE(offer.announced);
    EXPECT_EQ(lookalike.Count(), 0);
}

TEST_F(RefresherStartup, FinishedUpdateAsksOrReports) {
    struct Case {
        BOOL success;
        int answer;
        BOOL closes;
        const wchar_t* status;
        std::wstring box;
        int shutdowns;
    } cases[] = {
        {TRUE, IDYES, TRUE, L"更新成功", Box(refresher::kSuccessText, MB_YESNO | MB_ICONINFORMATION), 1},
        {TRUE, IDNO, TRUE, L"更新成功", Box(refresher::kSuccessText, MB_YESNO | MB_ICONINFORMATION), 0},
        {FALSE, IDOK, FALSE, L"更新失败", Box(refresher::kFailureText, MB_OK | MB_ICONINFORMATION), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.status) + " " + std::to_string(c.answer));
        log_.boxes.clear();
        log_.shutdowns = 0;
        log_.boxAnswer = c.answer;
        std::wstring status;
        EXPECT_EQ(refresher::ReportFinished(nullptr, c.success, &status), c.closes);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(log_.boxes, std::vector<std::wstring>{c.box});
        EXPECT_EQ(log_.shutdowns, c.shutdowns);
        if (c.shutdowns) {
            EXPECT_EQ(log_.shutdownOwner, nullptr);
        }
    }
    EXPECT_TRUE(log_.opened.empty());
}

// The test build of Refresher.exe in an install folder of its own, reaching the built-in host through
// the registry proxy, with a panel and a same-titled window without the property in this process.
class RefresherProgram : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        exe_ = program_ + L"\\Refresher.exe";
        ASSERT_TRUE(CopyFileW(ts::InExeDir(L"refresher_testapp.exe").c_str(), exe_.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(ts::InExeDir(L"Corelib.dll").c_str(), (program_ + L"\\Corelib.dll").c_str(), FALSE));
        ASSERT_TRUE(ts::WriteFileBytes(program_ + L"\\test.key", PublicKeyBlob()));
        WriteInstalledVersion(L"1.0");
        ts::SetUserProxy(L"127.0.0.1:" + std::to_wstring(server_.Port()));
    }
    void TearDown() override {
        ts::SetUserProxy();
        EngineTest::TearDown();
    }
    std::wstring exe_;
};

TEST_F(RefresherProgram, CommandLineDecidesTheWindowAndTheNoteToThePanel) {
    const std::wstring site = std::wstring(L"shell|open|") + refresher::kSiteUrl + L"|" + std::to_wstring(SW_SHOWNORMAL);
    const std::wstring box = std::wstring(L"box|") + refresher::kCaption + L"|" + refresher::kNoOnlineUpdateText +
                             L"|" + std::to_wstring(MB_YESNO | MB_ICONINFORMATION);
    struct Case {
        const wchar_t* arguments;
        const char* version;
        bool sign;
        std::vector<std::wstring> log;
        int notes;
    } cases[] = {
        {L"auto", "1.0", true, {}, 0},
        {L"AUTO", "2.0", true, {}, 0},
        {L"Auto", "2.0", true, {}, 0},
        {L"", "2.0", true, {}, 0},
        {L"\"auto\"", "2.0", true, {}, 0},
        {L"manual x y", "1.0", true, {L"window"}, 0},
        {L"auto", "2.0", true, {L"window"}, 1},
        // Unsigned: not for the online update; Yes opens the site, and the panel still hears of it.
        {L"auto", "2.0", false, {L"window", box, site}, 1},
    };
    PanelWindow panel(true), lookalike(false);
    ASSERT_TRUE(panel.window() && lookalike.window());
    ASSERT_TRUE(ts::WriteFileBytes(program_ + L"\\answers.txt", "yes\n"));
    int notesBefore = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.arguments) + " " + c.version + (c.sign ? " signed" : " unsigned"));
        DeleteFileW((program_ + L"\\seams.log").c_str());
        Publish(Describe(c.version, {{"Warden.exe", "warden-2", true, ""}}), c.sign);
        server_.ClearLog();
        ts::ChildResult run = ts::RunChild(L"\"" + exe_ + L"\" " + c.arguments, 30000);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 0u);
        // The description came from the built-in host, before anything was decided.
        EXPECT_EQ(server_.CountFor(kDescriptionPath), 1);
        std::vector<std::wstring> log;
        std::wstring text = ts::Widen(ts::ReadFileBytes(program_ + L"\\seams.log"));
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find(L'\n', at);
            log.push_back(text.substr(at, end - at));
            at = end == std::wstring::npos ? text.size() : end + 1;
        }
        EXPECT_EQ(log, c.log);
        int notes = panel.Count();
        EXPECT_EQ(notes - notesBefore, c.notes);
        notesBefore = notes;
        EXPECT_EQ(lookalike.Count(), 0);
    }
}

TEST(RefresherChangeLog, ShownHeightGrowsPerLineUpToTheLimit) {
    struct Case {
        int lines, limit, height;
    } cases[] = {
        {3, 1000, 315},  {0, 1000, 150},     {-1, 1000, 150},      {11, 768, 755},
        {40, 738, 738},  {40, 100, 150},     {0x7FFFFFFF, 700, 700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lines) + " lines, limit " + std::to_string(c.limit));
        EXPECT_EQ(refresher::ShownClientHeight(c.lines, c.limit), c.height);
    }
}

TEST(RefresherChangeLog, LimitIsTheWorkAreaLessTheFrame) {
    RECT work = {};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    HWND framed = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    HWND bare = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(framed && bare);
    RECT outer, client;
    GetWindowRect(framed, &outer);
    GetClientRect(framed, &client);
    int frame = (outer.bottom - outer.top) - client.bottom;
    EXPECT_GT(frame, 0);
    EXPECT_EQ(refresher::ClientHeightLimit(bare), work.bottom - work.top);
    EXPECT_EQ(refresher::ClientHeightLimit(framed), work.bottom - work.top - frame);
    // 40 lines of 55 pixels do not fit a 768-line screen.
    EXPECT_LT(refresher::ShownClientHeight(40, refresher::ClientHeightLimit(bare)), 40 * 55 + 150);
    DestroyWindow(framed);
    DestroyWindow(bare);
}

}  // namespace
}  // namespace rt
