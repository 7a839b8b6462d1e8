// The updater's start: the command line, whether the window is shown, what it does when it opens
// (the offer, the web site, the note to a running panel) and after an update, over the seams.
#include "enginefixture.h"

#include <shellapi.h>
#include <stdio.h>

#include <algorithm>

#include "corelib.h"
#include "elevation.h"
#include "runningpanel.h"
#include "services.h"
#include "startup.h"
#include "uikit.h"

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

// The elevation seams play a token that is limited or elevated; the rights check plays the denial.
BOOL g_elevated = FALSE;
bool g_acceptElevation = true;
std::vector<std::wstring> g_relaunches;  // "verb|parameters"
BOOL FakeElevation(BOOL* elevated) {
    *elevated = g_elevated;
    return TRUE;
}
BOOL WINAPI FakeRelaunch(SHELLEXECUTEINFOW* info) {
    g_relaunches.push_back(std::wstring(info->lpVerb ? info->lpVerb : L"") + L"|" +
                           (info->lpParameters ? info->lpParameters : L""));
    if (g_acceptElevation) return TRUE;
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

// An offer that this process could not install asks for elevation before any window, as the panel does.
TEST_F(RefresherStartup, InstallThatLacksRightsAsksForElevationFirst) {
    ts::Restore<appcommon::ElevationSeams> restore(appcommon::g_elevationSeams);
    appcommon::g_elevationSeams.queryElevation = FakeElevation;
    appcommon::g_elevationSeams.shellExecuteEx = FakeRelaunch;
    struct Case {
        const char* what;
        const wchar_t* line;
        BOOL elevated;
        bool denied;  // the program folder refuses new files
        bool accept;
        bool relaunch;
        int windows;
        size_t boxes;  // the note that the install needs the rights
    } cases[] = {
        {"limited, lacking, accepted", L"manual", FALSE, true, true, true, 0, 0},
        {"limited, lacking, auto", L"auto", FALSE, true, true, true, 0, 0},
        {"limited, lacking, declined", L"manual", FALSE, true, false, true, 1, 1},
        {"limited, with the rights", L"manual", FALSE, false, true, false, 1, 0},
        {"elevated, lacking", L"manual", TRUE, true, true, false, 1, 0},
    };
    Publish(Description("2.0", "1"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_elevated = c.elevated;
        g_acceptElevation = c.accept;
        g_relaunches.clear();
        log_.boxes.clear();
        log_.windows = 0;
        refresher::EngineSettings s = Settings();
        s.createFile = DenyingCreateFile;
        g_deniedFolder = c.denied ? program_.c_str() : nullptr;
        refresher::CUpdateEngine engine(s);
        ASSERT_TRUE(engine.InitPaths());
        ASSERT_TRUE(engine.GetUpdateInfo());
        EXPECT_EQ(refresher::RunUpdater(c.line, &engine, FakeWindow()), 0);
        g_deniedFolder = nullptr;
        EXPECT_EQ(g_relaunches, c.relaunch ? std::vector<std::wstring>{L"runas|" + std::wstring(c.line)}
                                           : std::vector<std::wstring>{});
        EXPECT_EQ(log_.windows, c.windows);
        EXPECT_EQ(log_.boxes.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(log_.boxes[0], Box(refresher::kElevationRefusedText, MB_OK | MB_ICONINFORMATION));
        }
    }
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

// ---- the whole road, with the real control panel running ------------------------------------

// A started program, ended at the end of the case if it is still running.
class Process {
public:
    Process(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
        std::wstring line = L"\"" + exe + L"\" " + arguments;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        started_ = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                                  &pi_) != FALSE;
        if (started_) CloseHandle(pi_.hThread);
    }
    ~Process() {
        if (!started_) return;
        if (!Ended()) {
            ADD_FAILURE() << "a program still runs at the end of the case: ended";
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 10000);
        }
        CloseHandle(pi_.hProcess);
    }
    bool started() const { return started_; }
    DWORD id() const { return pi_.dwProcessId; }
    bool Ended() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0; }
    // The exit code, or STILL_ACTIVE when it has not ended in time.
    DWORD Wait(DWORD ms) {
        if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION pi_ = {};
    bool started_ = false;
};

struct WindowSearch {
    DWORD pid;
    HWND found;
};
// A lambda cannot be a WINAPI callback on i686 (stdcall).
BOOL CALLBACK FindSkinnedDialog(HWND w, LPARAM p) {
    WindowSearch* s = reinterpret_cast<WindowSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid || !IsWindowVisible(w) || !GetDlgItem(w, 1000)) return TRUE;
    s->found = w;
    return FALSE;
}

// The panel's tray icon, as the panel adds it.
const UINT kPanelTrayIconId = 8888;
// Whether the shell holds the icon: a change that changes nothing succeeds only for an icon it has.
bool TrayIconShown(HWND owner) {
    NOTIFYICONDATAW d = {};
    d.cbSize = sizeof(d);
    d.hWnd = owner;
    d.uID = kPanelTrayIconId;
    return Shell_NotifyIconW(NIM_MODIFY, &d) != FALSE;
}

std::vector<std::string> LogLines(const std::wstring& path) { return ts::SplitLines(ts::ReadFileBytes(path)); }
bool Logged(const std::wstring& path, const std::string& line) {
    const std::vector<std::string> lines = LogLines(path);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The control panel's test build in a folder of its own beside the libraries it loads, started as
// the autostart starts it ("regrun" with a record stored): the main panel exists, hidden, with its
// tray icon.
class ControlPanel {
public:
    explicit ControlPanel(const std::wstring& folder) : folder_(folder) {
        CreateDirectoryW(folder.c_str(), nullptr);
        for (const wchar_t* name : {L"WardenTest.exe", L"Corelib.dll", L"FT_ND_API.dll", L"Cursorgate.dll"})
            if (!CopyFileW(ts::InExeDir(name).c_str(), (folder + L"\\" + name).c_str(), FALSE)) return;
        process_.reset(new Process(folder + L"\\WardenTest.exe", L"regrun", folder));
        if (!process_->started()) return;
        ts::WaitFor(
            [&] {
                HWND panel = FindRunningPanel();
                DWORD pid = 0;
                if (panel) GetWindowThreadProcessId(panel, &pid);
                if (pid == process_->id()) window_ = panel;
                return window_ != nullptr || process_->Ended();
            },
            20000);
    }
    HWND window() const { return window_; }
    Process& process() { return *process_; }
    std::wstring LogPath() const { return folder_ + L"\\seams.log"; }

private:
    std::wstring folder_;
    std::unique_ptr<Process> process_;
    HWND window_ = nullptr;
};

void StorePanelRecord() {
    uinfo r = {};
    wcscpy(r.lpUserName, L"alice");
    r.ulTokenSerial = 0x1234;
    wcscpy(r.lpDriverUID[0], L"usb-1");
    ASSERT_TRUE(SetUserInfo(&r));
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", 0), ERROR_SUCCESS);
}

// The panel starts the updater with "auto"; the updater finds the offer on its built-in host through
// the proxy, the user clicks "下载" in its window, and the worker ends the real panel, stops the service,
// places the files and records the version; "No" to the restart starts the service again and closes
// the window.
TEST_F(RefresherProgram, UpdateEndToEndWithTheRealPanelRunning) {
    struct SettingsReset {
        SettingsReset() { ts::ResetSettings(); }
        ~SettingsReset() { ts::ResetSettings(); }
    } reset;
    StorePanelRecord();
    // The install folder as the panel finds it: beside the logon module registered there.
    struct Registration {
        explicit Registration(const std::wstring& folder) {
            ok = ts::SetString(HKEY_CLASSES_ROOT, L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT L"\\InprocServer32", L"",
                               folder + L"\\Logontile.dll");
        }
        ~Registration() { ts::DeleteKeyTree(HKEY_CLASSES_ROOT, L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT); }
        bool ok = false;
    } registration(program_);
    ASSERT_TRUE(registration.ok);
    // The service as the engine finds it under the service control manager, running.
    ServiceStandIn service(root_ + L"\\服务");
    ASSERT_TRUE(service.ok());
    // A file of many blocks, so that the bar moves through steps; the panel's own program among them.
    std::string panelProgram;
    for (int i = 0; panelProgram.size() < 300 * 1024; ++i) panelProgram += "warden-2 block " + std::to_string(i) + "\n";
    const std::vector<FileSpec> files = {{"Warden.exe", panelProgram, true, ""}, {"Readme.txt", "readme-2", true, ""}};
    ServeFiles(files);
    // Files listed on the built-in host too: every request goes through the proxy.
    std::string description = Describe("2.0", files);
    const std::string local = ts::Narrow(server_.Url(""));
    for (size_t at; (at = description.find(local)) != std::string::npos;)
        description.replace(at, local.size(), ts::Narrow(refresher::kDefaultUpdateHost));
    Publish(description);
    ASSERT_TRUE(ts::WriteFileBytes(program_ + L"\\answers.txt", "no\n"));
    ASSERT_TRUE(ts::WriteFileBytes(program_ + L"\\drive.txt", "1"));
    const std::wstring log = program_ + L"\\seams.log";
    DeleteFileW(log.c_str());

    ControlPanel panel(root_ + L"\\面板");
    ASSERT_NE(panel.window(), nullptr) << "the panel did not come up";
    EXPECT_TRUE(ts::WaitFor([&] { return TrayIconShown(panel.window()); }, 10000)) << "the panel's tray icon";
    // The panel would start this updater from the install folder with "auto" (only logged in its test build).
    EXPECT_TRUE(ts::WaitFor(
        [&] {
            for (const std::string& line : LogLines(panel.LogPath()))
                if (line.find(ts::Narrow(exe_) + " auto") != std::string::npos) return true;
            return false;
        },
        10000));

    Process updater(exe_, L"auto", program_);
    ASSERT_TRUE(updater.started());
    WindowSearch search = {updater.id(), nullptr};
    ASSERT_TRUE(ts::WaitFor(
        [&] {
            EnumWindows(FindSkinnedDialog, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr || updater.Ended();
        },
        20000));
    ASSERT_NE(search.found, nullptr) << "no updater window";
    const HWND dialog = search.found;
    wchar_t title[64] = {};
    GetWindowTextW(dialog, title, 64);
    EXPECT_STREQ(title, L"Tolven电脑锁自动更新");
    ASSERT_TRUE(ts::WaitFor([&] { return Logged(log, "shown|发现了新版本  2.0，请下载"); }, 10000));

    // "下载" at "-200,-30,-120,-8" of the body, which ends above the 23-pixel footer.
    const HWND view = GetDlgItem(dialog, 1000);
    RECT client = {};
    GetClientRect(view, &client);
    const int y = client.bottom - 23 - 19;
    bool started = false;
    for (int x : {client.right - 180, client.right - 140}) {  // two spots: one spot twice is a double click
        ts::ClickAt(view, POINT{x, y});
        started = ts::WaitFor([&] { return Logged(log, "status|准备更新环境"); }, 5000);
        if (started) break;
    }
    ASSERT_TRUE(started) << "the click on 下载 started no update";
    // Between the files the engine pauses for a second with the first file's bar full: on screen, the
    // bar ("20,45,-20,62" of the body) is green near its right end (the screen follows within a frame).
    if (ts::WaitFor([&] { return Logged(log, "status|正在下载文件2/2"); }, 20000)) {
        POINT probe = {client.left + 20 + (client.right - client.left - 40) * 9 / 10, 23 + 53};
        RECT outer = {};
        ClientToScreen(view, &probe);
        GetWindowRect(dialog, &outer);
        probe.x -= outer.left;
        probe.y -= outer.top;
        ts::Capture shot;
        const bool full = ts::WaitFor(
            [&] {
                shot = ts::CaptureWindowOnScreen(dialog);
                if (!shot.ok()) return false;
                const COLORREF c = shot.At(probe.x, probe.y);
                return GetGValue(c) > GetRValue(c) + 40 && GetGValue(c) > GetBValue(c) + 40;
            },
            800);
        EXPECT_TRUE(full) << "the bar on screen is not full after the first file";
        EXPECT_TRUE(shot.ok() && ts::KeepScreenshot(shot, L"refresher", L"refresher_road_between_files.bmp"));
        // Besides the bar: the header's title and the status line ("20,20" of the body) have their text.
        EXPECT_GT(ts::InkPixels(shot, ts::RectInShot(dialog, view, RECT{25, 4, 200, 20})), 40) << "the title";
        EXPECT_GT(ts::InkPixels(shot, ts::RectInShot(dialog, view, RECT{20, 23 + 20, 200, 23 + 38})), 30)
            << "the status text";
    }
    EXPECT_EQ(updater.Wait(60000), 0u);

    // The panel quit by itself through "退出程序": one ended by force exits with 4. Its icon is gone from
    // the shell (Wine drops a destroyed window's icons as well, so only the exit code tells the two apart).
    EXPECT_EQ(panel.process().Wait(15000), 0u);
    EXPECT_FALSE(TrayIconShown(panel.window()));
    // Stopped for the install, and started again after "No" to the restart.
    EXPECT_TRUE(service.RunsAfter(2)) << service.Starts();
    EXPECT_EQ(ts::ReadFileBytes(program_ + L"\\Warden.exe"), panelProgram);
    EXPECT_EQ(ts::ReadFileBytes(program_ + L"\\Readme.txt"), "readme-2");
    EXPECT_EQ(InstalledVersion(), L"2.0");

    // What the window showed, read back from its view after each report.
    const std::vector<std::string> lines = LogLines(log);
    SCOPED_TRACE("the updater's log:\n" + ts::ReadFileBytes(log));
    std::vector<std::string> statuses;
    std::vector<int> values;
    std::vector<std::string> unlike;  // reports the view did not follow
    int bars = 0;
    for (const std::string& line : lines) {
        if (line.compare(0, 7, "status|") == 0) statuses.push_back(line.substr(7));
        if (line.compare(0, 4, "bar|") != 0) continue;
        char name[8] = {};
        int posted = -1, value = -1, max = -1;
        if (sscanf(line.c_str(), "bar|%7[a-z]=%d|%d/%d", name, &posted, &value, &max) != 4) {
            unlike.push_back(line);
            continue;
        }
        // The range comes first; then every value shows as posted, on that range.
        if (++bars == 1) {
            if (line != "bar|max=100|0/100") unlike.push_back(line);
            continue;
        }
        if (strcmp(name, "value") != 0 || value != posted || max != 100) unlike.push_back(line);
        values.push_back(posted);
    }
    EXPECT_TRUE(unlike.empty()) << "first: " << (unlike.empty() ? "" : unlike.front());
    EXPECT_EQ(statuses, (std::vector<std::string>{"准备更新环境", "正在下载文件2/1", "正在下载文件2/2", "获取新版本号"}));
    // Each file starts the bar at 0 and ends it full; the big one moves it through rising steps between.
    std::vector<std::vector<int>> perFile;
    for (int v : values) {
        if (v == 0 || perFile.empty()) perFile.emplace_back();
        perFile.back().push_back(v);
    }
    ASSERT_EQ(perFile.size(), 2u);
    for (const std::vector<int>& run : perFile) {
        EXPECT_EQ(run.front(), 0);
        EXPECT_EQ(run.back(), 100);
    }
    std::vector<int> steps;
    for (int v : perFile[0])
        if (v > 0 && v < 100) steps.push_back(v);
    EXPECT_GE(steps.size(), 3u);
    EXPECT_TRUE(std::adjacent_find(steps.begin(), steps.end(), std::greater_equal<int>()) == steps.end())
        << "the steps rise";
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], ts::Narrow(std::wstring(L"box|") + refresher::kCaption + L"|" +
                                                  refresher::kSuccessText + L"|" +
                                                  std::to_wstring(MB_YESNO | MB_ICONINFORMATION)));
    EXPECT_EQ(lines.back(), "finished|1|更新成功");
    for (const std::string& line : lines) EXPECT_NE(line.compare(0, 9, "shutdown|"), 0) << "No asks for no restart";
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
