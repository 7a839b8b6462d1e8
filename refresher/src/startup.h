// The updater's start: what the command line asks for, whether a window is shown, what the window
// does when it opens (the offer, the web site, the note to a running control panel), and the calls
// that cannot run under test (message box, opening the web site, the Windows shut-down dialog).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "updateengine.h"

namespace refresher {

// Posted (never sent) to the running control panel's window when a newer version is on offer.
constexpr UINT WM_NEW_VERSION = WM_USER + 100;
static_assert(WM_NEW_VERSION == 1124, "the control panel listens for this number");

extern const wchar_t kSiteUrl[];  // the maker's web site, fixed at build time

// Splits at blanks (spaces and tabs) into at most three words; quotes are not special, so
// "\"auto\"" is a word of six characters. Words after the third are dropped.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

enum class StartMode { None, Auto, Manual };
// The first word, compared exactly and with case: only "auto" and "manual" count.
StartMode ParseStartMode(const wchar_t* commandLine);

// The updater window, run modally over the engine of wWinMain. Its result is the program's exit code.
class IUpdaterWindow {
public:
    virtual ~IUpdaterWindow() = default;
    virtual INT_PTR ShowModal(CUpdateEngine* engine) = 0;
};

// wWinMain's decision once the engine has fetched the description: "auto" shows the window only
// when a newer version is offered, "manual" always, anything else never. Before a window that
// offers an online install, a process that lacks the install's rights and can be elevated starts
// itself again elevated with the same command line and ends. The exit code: the window's result,
// or 0 when no window was shown.
int RunUpdater(const wchar_t* commandLine, CUpdateEngine* engine, IUpdaterWindow* window);

// The whole program under wWinMain: COM, the common controls, the engine with its description
// fetched before any window exists, then RunUpdater with the window of the seam table.
int UpdaterMain(const wchar_t* commandLine);

// Posts WM_NEW_VERSION to FindRunningPanel()'s window only (a window with the panel's title but
// without its property is an Explorer window of a folder so named). FALSE when none runs or the post fails.
BOOL AnnounceNewVersion();

// What the window shows when it opens, decided from the engine.
struct Offer {
    bool newer = false;      // a newer version is offered
    bool canUpdate = false;  // and it may be installed online (download enabled)
    bool endDialog = false;  // the user was sent to the web site: the window closes with result 0
    bool announced = false;  // WM_NEW_VERSION reached a running panel
    std::wstring status;     // the status line
};
// Checks again; a newer version that cannot be installed online asks (through the message box
// seam) whether to open the web site. A newer version is announced to a running panel either way.
Offer OpenOffer(CUpdateEngine* engine, HWND owner);

// After WM_UPDATE_FINISHED: the status text, and the question or the note that follows. On success,
// TRUE (the window closes with result 0) after offering the shut-down dialog; declined, the engine's
// stopped service is started again. On failure FALSE (the window stays open) with the engine's
// account of the run (what failed, what runs again) as the status.
BOOL ReportFinished(HWND owner, BOOL success, std::wstring* status, CUpdateEngine* engine = nullptr);

// The window's client area: 500 x 150 with the change log hidden; shown, 55 more per line.
constexpr int kClientWidth = 500;
constexpr int kHiddenClientHeight = 150;
constexpr int kChangeLogLineHeight = 55;
// The client height with the change log of lineCount lines shown, at most limit (more than about 11
// lines would run off a 1024 x 768 screen) and never below the hidden height.
int ShownClientHeight(int lineCount, int limit);
// The tallest client area window can have on its monitor's work area, keeping its frame.
int ClientHeightLimit(HWND window);

// Calls that cannot run under Wine's tests: real by default.
struct UpdaterSeams {
    // The skinned message box (layout 105): the Win32 id of the button, or 60001 from its close button.
    int (*messageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
    // ShellExecuteW's result (above 32 on success).
    HINSTANCE (*shellExecute)(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                              const wchar_t* folder, int show);
    // shell32's export by ordinal 60, the Windows shut-down dialog. FALSE when it cannot be found.
    // Never run for real in a test: it ends every process of the session.
    BOOL (*shutdownDialog)(HWND owner);
    // Whether Windows has begun to shut down or restart (GetSystemMetrics's SM_SHUTTINGDOWN).
    BOOL (*shuttingDown)();
    // The window wWinMain runs: the skinned MainDlg.
    IUpdaterWindow* (*window)();
    // The engine settings of the program: the built-in host and key.
    EngineSettings (*engineSettings)();
};
UpdaterSeams& Seams();
// The real table, to restore after a test.
UpdaterSeams RealSeams();

// Texts of the updater's questions and notes.
extern const wchar_t kCaption[];           // "操作提示"
extern const wchar_t kNoOnlineUpdateText[];
extern const wchar_t kSuccessText[];
extern const wchar_t kFailureText[];
extern const wchar_t kServiceBackText[];     // no restart under way: the service runs again
extern const wchar_t kServiceNotBackText[];  // ... and when it could not be started
extern const wchar_t kElevationRefusedText[];

// Opens the web site through the seam; FALSE when ShellExecuteW failed.
BOOL OpenSite(HWND owner);

}  // namespace refresher
