// Start-up end to end: the test build of Warden.exe (WardenTest.exe: the program's start-up and core
// with logging seams) run from the bin folder beside Corelib.dll and the token stand-in, its windows
// found from here and clicked through their views.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "corelib.h"
#include "panelrun.h"
#include "runningpanel.h"
#include "testsupport.h"
#include "tokensim.h"
#include "uikit.h"

namespace {

const wchar_t kFirstStartTitle[] = L"TolvenU盘电脑锁2012";
const UINT kCmdExit = 40010;

using panelrun::ClickClose;
using panelrun::IsLogin;
using panelrun::IsPanel;
using panelrun::StoreRecord;

// Runs from the bin folder, beside the libraries it was built with.
struct Program : panelrun::Program {
    explicit Program(const std::wstring& arguments)
        : panelrun::Program(ts::InExeDir(L"WardenTest.exe"), arguments) {}
};

bool IsFirstStart(HWND w) { return panelrun::IsVisibleTitled(w, kFirstStartTitle); }

BOOL CALLBACK CountPanels(HWND w, LPARAM p) {
    if (IsPanel(w)) ++*reinterpret_cast<int*>(p);
    return TRUE;
}

int Mode() { return static_cast<int>(GetMonitorKeyStyle(L"QJ_AppDriveMode")); }

std::vector<std::string> SeamLog() { return ts::SplitLines(ts::ReadFileBytes(ts::InExeDir(L"seams.log"))); }

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        ts::tokensim::Reset();
        DeleteFileW(ts::InExeDir(L"seams.log").c_str());
        DeleteFileW(ts::InExeDir(L"unelevated.txt").c_str());
        ASSERT_EQ(FindRunningPanel(), nullptr) << "a panel of an earlier case still runs";
    }
    void TearDown() override {
        DeleteFileW(ts::InExeDir(L"unelevated.txt").c_str());
        ts::ResetSettings();
        ts::tokensim::Reset();
    }
};

}  // namespace

TEST_F(Startup, ACleanMachineAsksForTheModeAndClosingItEndsWith0) {
    Program warden(L"");
    ASSERT_TRUE(warden.started());
    HWND first = warden.WaitWindow(IsFirstStart);
    ASSERT_NE(first, nullptr) << "the login ends itself (AutoLogonSoft reads 1) and 113 shows";
    EXPECT_EQ(Mode(), -1);
    ClickClose(first);
    EXPECT_EQ(warden.Wait(), 0u);
    EXPECT_EQ(Mode(), -1) << "closing leaves the mode: the next start asks again";
    const std::vector<std::string> log = SeamLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "exit 0");
}

TEST_F(Startup, ClosingTheLoginEndsWith0WithoutAnyOtherWindow) {
    StoreRecord(static_cast<DWORD>(-1));
    ASSERT_EQ(SetMonitorKeyStyle(L"AutoLogonSoft", 0), ERROR_SUCCESS);
    Program warden(L"");
    ASSERT_TRUE(warden.started());
    HWND login = warden.WaitWindow(IsLogin);
    ASSERT_NE(login, nullptr);
    ClickClose(login);
    EXPECT_EQ(warden.Wait(), 0u);
    EXPECT_EQ(Mode(), -1);
}

TEST_F(Startup, AStoredModeSkipsTheFirstStartAndOnlyTheExactRegrunHidesThePanel) {
    const struct {
        DWORD mode;
        const wchar_t* arguments;
        bool hidden;
    } cases[] = {
        {0, L"regrun", true},
        {1, L"regrun ", false},
        {0, L"REGRUN", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.arguments));
        StoreRecord(c.mode);
        Program warden(c.arguments);
        ASSERT_TRUE(warden.started());
        HWND panel = warden.WaitWindow(IsPanel);
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(warden.WaitWindow(IsFirstStart, 0), nullptr) << "no first-start dialog with a mode stored";
        ts::PumpMessages(300);
        EXPECT_EQ(IsWindowVisible(panel) == FALSE, c.hidden);
        EXPECT_EQ(Mode(), static_cast<int>(c.mode));
        PostMessageW(panel, WM_COMMAND, kCmdExit, 0);
        EXPECT_EQ(warden.Wait(), 0u);
    }
}

TEST_F(Startup, ASecondStartShowsTheFirstPanelAndEndsWith0) {
    StoreRecord(0);
    Program first(L"regrun");
    ASSERT_TRUE(first.started());
    HWND panel = first.WaitWindow(IsPanel);
    ASSERT_NE(panel, nullptr);
    ASSERT_FALSE(IsWindowVisible(panel));
    {
        Program second(L"");
        ASSERT_TRUE(second.started());
        EXPECT_EQ(second.Wait(), 0u);
    }
    EXPECT_TRUE(ts::PumpUntil([&] { return IsWindowVisible(panel) != FALSE; }, 5000)) << "the first panel shows";
    int marked = 0;
    EnumWindows(CountPanels, reinterpret_cast<LPARAM>(&marked));
    EXPECT_EQ(marked, 1);
    PostMessageW(panel, WM_COMMAND, kCmdExit, 0);
    EXPECT_EQ(first.Wait(), 0u);
}

TEST_F(Startup, ALimitedTokenAsksForElevationOnAFreshMachineTooAndADeclineEndsWithString202) {
    ASSERT_TRUE(ts::WriteFileBytes(ts::InExeDir(L"unelevated.txt"), "1"));
    for (bool fresh : {true, false}) {
        SCOPED_TRACE(fresh ? "no settings key" : "a settings key");
        ts::ResetSettings();
        DeleteFileW(ts::InExeDir(L"seams.log").c_str());
        if (!fresh) {
            ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", 1));
        }
        Program warden(L"regrun");
        ASSERT_TRUE(warden.started());
        EXPECT_EQ(warden.Wait(), 0u);
        const std::vector<std::string> log = SeamLog();
        const std::string joined = [&] {
            std::string j;
            for (const auto& l : log) j += l + "\n";
            return j;
        }();
        EXPECT_NE(joined.find("runas runas regrun"), std::string::npos) << joined;
        EXPECT_NE(joined.find("box 16 操作提示 需要管理员权限才能运行Tolven电脑锁，程序将退出。"), std::string::npos)
            << joined;
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), "exit 0");
        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_AppDriveMode"))
            << "no record was read and no mode written";
    }
}


namespace {

// A window of the test that holds the foreground where the login would show (the middle of the work
// area) and notes, each time it loses the activation, which window holds the foreground then.
class ForegroundWatch {
public:
    struct Taker {
        HWND window;
        bool login;  // untitled, with a skin view: the login
        std::wstring title;
    };

    ForegroundWatch() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
        wc.lpszClassName = L"StartupForegroundWatch";
        RegisterClassW(&wc);
        RECT work = {};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int x = (work.left + work.right) / 2, y = (work.top + work.bottom) / 2;
        window_ = CreateWindowExW(0, wc.lpszClassName, L"watch", WS_POPUP | WS_VISIBLE, x - 120, y - 60, 240, 120,
                                  nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetForegroundWindow(window_);
        ts::PumpUntil([&] { return GetForegroundWindow() == window_; }, 5000);
        ts::PumpMessages();
        takers_.clear();
    }
    ~ForegroundWatch() { DestroyWindow(window_); }
    ForegroundWatch(const ForegroundWatch&) = delete;
    ForegroundWatch& operator=(const ForegroundWatch&) = delete;

    HWND window() const { return window_; }
    const std::vector<Taker>& Takers() const { return takers_; }
    std::string Describe() const {
        std::string d;
        for (const Taker& t : takers_)
            d += std::string(" [") + (t.window ? (t.login ? "the login" : "\"" + ts::Narrow(t.title) + "\"") : "none") + "]";
        return d.empty() ? " none" : d;
    }

private:
    static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<ForegroundWatch*>(GetWindowLongPtrW(w, GWLP_USERDATA));
        if (self && message == WM_ACTIVATE && LOWORD(wp) == WA_INACTIVE) {
            HWND now = GetForegroundWindow();
            self->takers_.push_back({now, now && IsLogin(now), now ? panelrun::Title(now) : L""});
        }
        return DefWindowProcW(w, message, wp, lp);
    }

    HWND window_ = nullptr;
    std::vector<Taker> takers_;
};

}  // namespace

// With AutoLogonSoft on (missing reads 1), the login ends in its initialisation: it never shows, so
// the foreground goes to nobody at the hidden autostart and only to the panel at a normal start.
TEST_F(Startup, TheLoginThatPassesByItselfNeverShowsNorTakesTheForeground) {
    const struct {
        const wchar_t* arguments;
        bool hidden;
    } cases[] = {
        {L"", false},
        {L"regrun", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hidden ? "the autostart at logon" : "a start by the user");
        StoreRecord(0);
        ForegroundWatch watch;
        ASSERT_EQ(GetForegroundWindow(), watch.window()) << "the test's window never took the foreground";
        // Suspended until the watch on its windows stands: nothing it shows comes before.
        panelrun::Program warden(ts::InExeDir(L"WardenTest.exe"), c.arguments, true);
        ASSERT_TRUE(warden.started());
        // Polled as well: a login that stays up a moment is seen even where it takes no foreground.
        bool loginSeen = false;
        const std::function<bool(HWND)> login = IsLogin;
        auto look = [&] {
            if (!panelrun::Windows(warden.Pid(), login).empty()) loginSeen = true;
        };
        warden.Resume();
        HWND panel = nullptr;
        ts::PumpUntil(
            [&] {
                look();
                std::vector<HWND> p = panelrun::Windows(warden.Pid(), IsPanel);
                panel = p.empty() ? nullptr : p.front();
                return panel != nullptr || !warden.Running();
            },
            20000);
        ASSERT_NE(panel, nullptr);
        // The login ended before the panel was made; what it did to the test's window is queued here by
        // now. A shown panel settles once it holds the foreground; a hidden one has nothing to wait for.
        if (c.hidden) {
            ts::PumpMessages(300);
        } else {
            ts::PumpUntil([&] { return GetForegroundWindow() == panel; }, 5000);
        }
        look();
        EXPECT_FALSE(loginSeen) << "the login showed";
        EXPECT_EQ(IsWindowVisible(panel) == FALSE, c.hidden);
        if (c.hidden) {
            EXPECT_TRUE(watch.Takers().empty()) << "the foreground went to" << watch.Describe();
            EXPECT_EQ(GetForegroundWindow(), watch.window()) << "the user's window lost the foreground";
        } else {
            EXPECT_TRUE(watch.Takers().size() == 1 && watch.Takers()[0].window == panel)
                << "the foreground went to" << watch.Describe() << ", not only to the panel";
            EXPECT_EQ(GetForegroundWindow(), panel);
        }
        PostMessageW(panel, WM_COMMAND, kCmdExit, 0);
        EXPECT_EQ(warden.Wait(), 0u);
    }
}
