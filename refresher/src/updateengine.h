// The working half of the updater: fetches the update description, compares versions, builds the
// change log, downloads and checks the listed files, and installs them. It hands its reports to a
// receiver (IUpdateReports); the updater window's worker passes them on to the window.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <string>
#include <vector>

#include "description.h"

namespace refresher {

// The kinds of report: progress (text L"value" or L"max", value the number), a status text, and
// the end of the run (value 1 success, 0 failure). The worker posts them to its window with a ticket.
constexpr UINT WM_UPDATE_PROGRESS = WM_APP + 3001;
constexpr UINT WM_UPDATE_STATUS = WM_APP + 3002;
constexpr UINT WM_UPDATE_FINISHED = WM_APP + 3003;
static_assert(WM_UPDATE_PROGRESS == 35769 && WM_UPDATE_STATUS == 35770 && WM_UPDATE_FINISHED == 35771,
              "message numbers the window expects");

// The control panel's "退出程序" command, and the exit code of a panel that would not quit.
constexpr WORD kPanelQuitCommand = 40010;
constexpr UINT kPanelKilledExitCode = 4;

extern const wchar_t kUserAgent[];        // "RevaRU/1.0"
extern const wchar_t kDescriptionUrlPath[];  // path of "update.txt" on the update server
extern const wchar_t kDefaultUpdateHost[];   // scheme and host, fixed at build time
extern const wchar_t kServiceName[];         // "Sentry", stopped while the files are placed
extern const wchar_t kPanelRestartArguments[];  // "regrun": the panel comes back hidden, as at logon

// Takes the engine's reports, on the running thread: message is one of WM_UPDATE_*, text the status
// or the progress attribute (NULL for the end), value the number or the result. The updater
// window's worker keeps them for its window.
class IUpdateReports {
public:
    virtual void Report(UINT message, const wchar_t* text, LPARAM value) = 0;

protected:
    ~IUpdateReports() = default;
};

struct EngineSettings {
    const wchar_t* baseUrl = kDefaultUpdateHost;  // scheme and host; the description path follows
    const wchar_t* programFolder = nullptr;       // NULL: the folder of the running program
    const wchar_t* systemFolder = nullptr;        // NULL: the Windows system folder
    const BYTE* publicKey = nullptr;              // PUBLICKEYBLOB that signs descriptions; NULL: none
    DWORD publicKeySize = 0;
    DWORD connectTimeoutMs = 30000;
    DWORD receiveTimeoutMs = 30000;  // a stalled server must not hang the hidden "auto" run
    DWORD filePauseMs = 1000;        // before each file of an update
    DWORD panelQuitWaitMs = 5000;    // for the panel to quit before it is ended
    // The most bytes one listed file may have, declared or not (a file without "FILE%dSIZE" is
    // bounded by it too).
    ULONGLONG maxFileBytes = kMaxFileBytes;
    // MoveFileExW for the renames at the next start of Windows (Wine always schedules them).
    BOOL(WINAPI* moveFileEx)(const wchar_t* from, const wchar_t* to, DWORD flags) = MoveFileExW;
    DWORD serviceWaitMs = 30000;     // for the service to stop, and to run again
    // The opens of the rights check before an install (CheckInstallRights). A test plays a limited
    // token here, which Wine cannot: it enforces no folder or service rights.
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = CreateFileW;
    SC_HANDLE(WINAPI* openService)(SC_HANDLE, LPCWSTR, DWORD) = OpenServiceW;

    // The program's own settings: the built-in host and public key.
    static EngineSettings Production();
};

class CUpdateEngine {
public:
    explicit CUpdateEngine(const EngineSettings& settings = EngineSettings::Production());
    ~CUpdateEngine();
    CUpdateEngine(const CUpdateEngine&) = delete;
    CUpdateEngine& operator=(const CUpdateEngine&) = delete;

    // Program, download and settings folders and the description URL; creates the download folder.
    // FALSE when a path does not fit or the download folder cannot be made.
    BOOL InitPaths();
    // Fetches "update.txt" and its signature into the download folder.
    BOOL GetUpdateInfo();
    // TRUE when the offered version is newer than the installed one (also builds the change log).
    BOOL CheckNewVersion();
    void ReadNewVersion();
    // Builds the change log; returns its length in characters.
    int LoadUpdateText();
    // "UPDATEFILECOUNT" as read (the highest file index); callers refuse values outside 0..99.
    int GetUpdateFileCount();
    // TRUE only for a signed description that allows the online update and whose files can all be
    // fetched and checked.
    BOOL CanAutoUpdate();
    // One file into the download folder, under the file-name part of the URL, of at most
    // maxFileBytes bytes.
    BOOL DownloadFile(const wchar_t* url);
    BOOL DownloadFiles();
    BOOL InstallFiles();
    // Whether this process may do what an install does, asking without changing anything: add files
    // to the program and the system folder, and stop and start the service (Vista/7; a service that
    // is not installed needs nothing). ERROR_SUCCESS, or the first refusal with the folder it
    // concerns (empty: the service). A refusal other than ERROR_ACCESS_DENIED wins: rights would not
    // help there.
    struct Rights {
        DWORD error = ERROR_SUCCESS;
        std::wstring folder;
    };
    Rights CheckInstallRights() const;
    // The whole update: download and check every file, check the rights, stop the service (waited
    // for), end the panel, install, record the version. A failure once either was stopped starts
    // the service and the panel again. Reports WM_UPDATE_FINISHED either way, the text of how the
    // run ended (Outcome) first.
    BOOL RunUpdate();
    // After an install with no restart of Windows under way: the service this run stopped runs
    // again. TRUE when it runs (or was not stopped by this run).
    BOOL RestartService();
    // How the last run ended, for the window's status line once the run has finished.
    const wchar_t* Outcome() const { return outcome_; }

    // The receiver of the reports; set by the worker around RunUpdate. Without one (before the
    // window exists) nothing is reported.
    void SetReports(IUpdateReports* reports) { reports_ = reports; }

    // Cooperative stop of a RunUpdate on another thread, checked between blocks and files and
    // during the pause before each file. A download under way stops waiting for its request at
    // once, and the request is closed, which ends a blocked read where the system can. It is
    // honoured only before installing starts: TRUE when the run will stop without installing,
    // FALSE once installing has begun (the run then finishes). A stopped run reports nothing more
    // and leaves no ".part" file. Killing the thread instead could leave the heap or WinINet
    // locks held by the dead thread.
    BOOL RequestCancel();
    // Before a new run, with no run going on.
    void ClearCancel();
    BOOL CancelRequested() const;
    // Installing has begun and cannot be stopped.
    BOOL Installing() const;

    const wchar_t* Url() const { return url_; }
    const wchar_t* DescriptionPath() const { return descriptionPath_; }
    const wchar_t* DownloadFolder() const { return downloadFolder_; }
    const wchar_t* SettingsPath() const { return settingsPath_; }
    const wchar_t* ProgramFolder() const { return programFolder_; }
    const wchar_t* LocalVersion() const { return localVersion_; }
    const wchar_t* RemoteVersion() const { return remoteVersion_; }
    const wchar_t* UpdateText() const { return updateText_; }
    int LineCount() const { return lineCount_; }

private:
    struct PlannedFile {
        int index;  // n of "FILE%d"
        std::wstring url;
        std::wstring name;
        BYTE digest[kDigestBytes];
        ULONGLONG size;  // "FILE%dSIZE", else the bound of the settings
        bool exact;      // size was declared: the download must have exactly that many bytes
    };

    // A download that fails as soon as the server announces more than limit bytes (or, when exact,
    // any other count than limit) and never reads past it.
    bool Download(const wchar_t* url, ULONGLONG limit, bool exact);

    void LoadDescription(Description* description) const;
    // The files of a description; false when it may not be installed online.
    bool Plan(const Description& description, std::vector<PlannedFile>* files) const;
    bool DownloadPlanned(const Description& description, const std::vector<PlannedFile>& files);
    bool InstallPlanned(const std::vector<PlannedFile>& files);
    bool PlaceFile(const PlannedFile& file);
    // A file in use: a checked copy beside its target, renamed over it at the next start of Windows.
    bool ReplaceAtRestart(const PlannedFile& file, const wchar_t* source, const wchar_t* folder,
                          const wchar_t* destination);
    // TRUE when the panel ran and was ended (or asked to quit).
    bool EndRunningPanel();
    // Stops the service and waits, bounded, until it and its process have ended. ERROR_SUCCESS
    // also when it was not installed or not running; stoppedService_ says whether it ran.
    DWORD StopService();
    // Starts the control panel of the program folder again, hidden as at logon.
    bool RestartPanel();
    void SetOutcome(const wchar_t* text);
    void ReadVersions(const Description& description);
    int BuildUpdateText(const Description& description);
    void PostStatus(const wchar_t* text);
    void PostProgress(const wchar_t* attribute, LPARAM value);
    void PostFinished(BOOL success);
    bool Cancelled() const { return CancelRequested() != FALSE; }
    // Moves from "running" to "installing"; false when a cancel came first.
    bool BeginInstall();
    // The request of the download under way, for a cancel to close: false when a cancel came
    // first. CloseRequest closes it unless the cancel already has.
    bool WatchRequest(void* request);
    void CloseRequest(void* request);

    EngineSettings settings_;
    wchar_t url_[260];
    wchar_t descriptionPath_[260];
    wchar_t signaturePath_[260];
    wchar_t downloadFolder_[260];
    wchar_t localVersion_[10];
    wchar_t remoteVersion_[10];
    wchar_t updateText_[1024];
    int lineCount_;
    wchar_t settingsPath_[260];
    wchar_t programFolder_[260];
    wchar_t systemFolder_[260];
    IUpdateReports* reports_;
    enum : LONG { kRunning = 0, kCancelRequested = 1, kInstallingState = 2 };
    volatile LONG runState_;
    HANDLE cancelEvent_;  // set with the request: ends the pause before a file at once
    CRITICAL_SECTION requestLock_;
    void* request_;  // HINTERNET of the download under way, NULL between downloads
    bool stoppedService_;  // this run stopped a running service, which must run again
    wchar_t outcome_[320];
};

}  // namespace refresher
