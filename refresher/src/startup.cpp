#include "startup.h"

#include <objbase.h>
#include <commctrl.h>
#include <shellapi.h>
#include <wchar.h>

#include "bkres.h"
#include "corelib.h"
#include "elevation.h"
#include "maindlg.h"
#include "refresher_build.h"
#include "runningpanel.h"

namespace refresher {

const wchar_t kSiteUrl[] = REFRESHER_SITE_URL;
const wchar_t kCaption[] = L"操作提示";
const wchar_t kNoOnlineUpdateText[] =
    L"发现新版本，但该版本无法使用在线更新功能，点击【是】打开网站手动下载，【否】以后在说";
const wchar_t kSuccessText[] =
    L"更新成功,强烈推荐您重新启动计算机，应用程序将在重启后生效。【是】现在重启，【否】以后在说。";
const wchar_t kFailureText[] = L"由于未知原因更新失败，您可以点击链接手动下载新的安装程序。";
const wchar_t kServiceBackText[] = L"更新成功，已重新启动保护服务";
const wchar_t kServiceNotBackText[] = L"更新成功，但保护服务未能重新启动，请重新启动计算机";
const wchar_t kElevationRefusedText[] = L"安装更新需要管理员权限，未获得权限时更新无法安装。";

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

HINSTANCE RealShellExecute(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                           const wchar_t* folder, int show) {
    return ShellExecuteW(owner, verb, file, parameters, folder, show);
}

BOOL RealShutdownDialog(HWND owner) {
    typedef void(WINAPI * ShutdownDialogProc)(HWND);
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    if (!shell) return FALSE;
    ShutdownDialogProc proc =
        reinterpret_cast<ShutdownDialogProc>(reinterpret_cast<void*>(GetProcAddress(shell, MAKEINTRESOURCEA(60))));
    if (proc) proc(owner);
    FreeLibrary(shell);
    return proc ? TRUE : FALSE;
}

BOOL RealShuttingDown() { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0 ? TRUE : FALSE; }

}  // namespace

UpdaterSeams RealSeams() {
    UpdaterSeams s;
    s.messageBox = SkinnedMessageBox;
    s.shellExecute = RealShellExecute;
    s.shutdownDialog = RealShutdownDialog;
    s.shuttingDown = RealShuttingDown;
    s.window = MainWindow;
    s.engineSettings = EngineSettings::Production;
    return s;
}

UpdaterSeams& Seams() {
    // Made at first use: a test build's seam file sets the table from its own static start-up code.
    static UpdaterSeams seams = RealSeams();
    return seams;
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> words;
    const wchar_t* p = commandLine ? commandLine : L"";
    while (*p && words.size() < 3) {
        while (IsBlank(*p)) ++p;
        if (!*p) break;
        const wchar_t* start = p;
        while (*p && !IsBlank(*p)) ++p;
        words.emplace_back(start, p - start);
    }
    return words;
}

StartMode ParseStartMode(const wchar_t* commandLine) {
    std::vector<std::wstring> words = SplitCommandLine(commandLine);
    if (words.empty()) return StartMode::None;
    if (words[0] == L"auto") return StartMode::Auto;
    if (words[0] == L"manual") return StartMode::Manual;
    return StartMode::None;
}

int RunUpdater(const wchar_t* commandLine, CUpdateEngine* engine, IUpdaterWindow* window) {
    bool show = false;
    switch (ParseStartMode(commandLine)) {
        case StartMode::Auto:
            show = engine->CheckNewVersion() != FALSE;
            break;
        case StartMode::Manual:
            show = true;
            break;
        case StartMode::None:
            break;
    }
    if (!show || !window) return 0;
    // An install this process could not finish asks for the rights before the offer is shown, as the
    // panel does at its start; only the elevated copy then shows the window.
    if (engine->CheckNewVersion() && engine->CanAutoUpdate() && appcommon::CanBeElevated() &&
        engine->CheckInstallRights().error == ERROR_ACCESS_DENIED) {
        appcommon::ElevationResult elevation = appcommon::RelaunchElevated(commandLine);
        if (elevation.step == appcommon::ElevationStep::kRelaunched) return 0;
        // Declined: the offer is still shown; its install stops before changing anything.
        Seams().messageBox(nullptr, kElevationRefusedText, kCaption, MB_OK | MB_ICONINFORMATION);
    }
    return static_cast<int>(window->ShowModal(engine));
}

BOOL AnnounceNewVersion() {
    HWND panel = FindRunningPanel();
    return panel && PostMessageW(panel, WM_NEW_VERSION, 0, 0) ? TRUE : FALSE;
}

BOOL OpenSite(HWND owner) {
    HINSTANCE result = Seams().shellExecute(owner, L"open", kSiteUrl, nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32 ? TRUE : FALSE;
}

Offer OpenOffer(CUpdateEngine* engine, HWND owner) {
    Offer offer;
    offer.newer = engine->CheckNewVersion() != FALSE;
    if (!offer.newer) {
        offer.status = L"暂时没有升级信息";
        return offer;
    }
    offer.canUpdate = engine->CanAutoUpdate() != FALSE;
    if (!offer.canUpdate) {
        if (Seams().messageBox(owner, kNoOnlineUpdateText, kCaption, MB_YESNO | MB_ICONINFORMATION) == IDYES)
            OpenSite(owner);
        offer.endDialog = true;
    }
    wchar_t text[64];
    swprintf(text, 64, L"发现了新版本  %ls，请下载", engine->RemoteVersion());
    offer.status = text;
    offer.announced = AnnounceNewVersion() != FALSE;
    return offer;
}

BOOL ReportFinished(HWND owner, BOOL success, std::wstring* status, CUpdateEngine* engine) {
    if (success) {
        if (status) *status = L"更新成功";
        const bool restartChosen =
            Seams().messageBox(owner, kSuccessText, kCaption, MB_YESNO | MB_ICONINFORMATION) == IDYES;
        if (restartChosen) Seams().shutdownDialog(nullptr);
        // The shut-down dialog can be cancelled, or left with another choice than a restart: unless
        // Windows is on its way down, the service the run stopped must not wait for a restart.
        if (engine && !(restartChosen && Seams().shuttingDown())) {
            if (engine->RestartService()) {
                if (status) *status = kServiceBackText;
            } else {
                if (status) *status = kServiceNotBackText;
                if (!Seams().shuttingDown())
                    Seams().messageBox(owner, kServiceNotBackText, kCaption, MB_OK | MB_ICONWARNING);
            }
        }
        return TRUE;
    }
    // The engine's own words say what failed and what runs again.
    if (status) *status = engine && engine->Outcome()[0] ? engine->Outcome() : L"更新失败";
    Seams().messageBox(owner, kFailureText, kCaption, MB_OK | MB_ICONINFORMATION);
    return FALSE;
}

int ShownClientHeight(int lineCount, int limit) {
    if (limit < kHiddenClientHeight) limit = kHiddenClientHeight;
    if (lineCount <= 0) return kHiddenClientHeight;
    // In 64 bits: a line count from a hostile description must not wrap round.
    long long height = static_cast<long long>(lineCount) * kChangeLogLineHeight + kHiddenClientHeight;
    return height > limit ? limit : static_cast<int>(height);
}

int ClientHeightLimit(HWND window) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    RECT work = {};
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) work = monitor.rcWork;
    else SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT outer = {}, client = {};
    int frame = 0;
    if (window && GetWindowRect(window, &outer) && GetClientRect(window, &client))
        frame = (outer.bottom - outer.top) - (client.bottom - client.top);
    return (work.bottom - work.top) - frame;
}

int UpdaterMain(const wchar_t* commandLine) {
    HRESULT com = CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    // Without the font face of string 0: the updater's base font stays "Tahoma".
    BkLoadSkinTables(FALSE);
    int code = 0;
    {
        // Lives until the window has closed: a worker of the window uses it.
        CUpdateEngine engine(Seams().engineSettings());
        // A failure leaves the default version "1.0" on offer, compared like any other.
        engine.InitPaths();
        engine.GetUpdateInfo();
        code = RunUpdater(commandLine, &engine, Seams().window());
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}

}  // namespace refresher
