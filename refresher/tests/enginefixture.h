// Shared by the engine tests: a loopback update server, a signing key made with CryptoAPI, a
// program folder of its own, and a window that records what the engine posts.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "httpserver.h"
#include "testsupport.h"
#include "updateengine.h"
#include "updateworker.h"

namespace rt {

extern const char kDescriptionPath[];  // URL path of update.txt

// The RSA signing key of the test run (made once per process) and its PUBLICKEYBLOB.
const std::string& PublicKeyBlob();
// Signature with SHA-256 as CryptSignHash writes it.
std::string Sign(const std::string& data);
// Hexadecimal SHA-256, computed apart from the engine's own code.
std::string Sha256Hex(const std::string& data);
// GBK bytes of wide text, as a description written on a Chinese system is.
std::string Gbk(const std::wstring& text);

// Records every report of the engine it is the receiver of, and every ticket a worker it follows
// posts to its window.
class Recorder : public refresher::IUpdateReports {
public:
    struct Entry {
        UINT message;
        std::wstring text;  // status text or progress attribute
        LPARAM lParam;      // progress number, or the result of the run
    };
    Recorder();
    ~Recorder();
    HWND window() const { return window_; }
    // Waits until every message posted before the call is handled; then the log.
    std::vector<Entry> Flush();
    std::vector<std::wstring> Statuses();
    std::vector<LPARAM> Values();  // progress "value" numbers
    int Finished();                // result of the last WM_UPDATE_FINISHED, -1 when none
    // Called for each progress report: on the engine's thread, or on the window's for a ticket.
    std::function<void(const Entry&)> onProgress;
    // Straight from the engine, on its thread.
    void Report(UINT message, const wchar_t* text, LPARAM value) override;
    // From now on the posts are a worker's tickets, read through worker; NULL ignores them (the
    // worker is going). The entries then hold the reports as the engine made them.
    void Follow(refresher::CUpdateWorker* worker);

private:
    static DWORD WINAPI Thread(void* self);
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HANDLE thread_ = nullptr, ready_ = nullptr, flushed_ = nullptr;
    HWND window_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<Entry> log_;
    void Record(const Entry& e);
    bool following_ = false;
    refresher::CUpdateWorker* worker_ = nullptr;
};

// Follows a worker's tickets for its scope; declared after the worker, it goes first.
class Following {
public:
    Following(Recorder& recorder, refresher::CUpdateWorker* worker) : recorder_(recorder) { recorder_.Follow(worker); }
    ~Following() {
        recorder_.Flush();
        recorder_.Follow(nullptr);
    }
    Following(const Following&) = delete;
    Following& operator=(const Following&) = delete;

private:
    Recorder& recorder_;
};

// A stand-in control panel in a process of its own (the engine ends its process).
class TestPanel {
public:
    explicit TestPanel(const wchar_t* mode) {
        static int serial = 0;
        prefix_ = L"RefresherTestPanel." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(++serial);
        ready_ = CreateEventW(nullptr, TRUE, FALSE, (prefix_ + L".ready").c_str());
        quit_ = CreateEventW(nullptr, TRUE, FALSE, (prefix_ + L".quit").c_str());
        pong_ = CreateEventW(nullptr, FALSE, FALSE, (prefix_ + L".pong").c_str());
        std::wstring cmd = L"\"" + ts::InExeDir(L"refresher_testpanel.exe") + L"\" " + mode + L" " + prefix_;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
            CloseHandle(pi_.hThread);
            started_ = WaitForSingleObject(ready_, 15000) == WAIT_OBJECT_0;
        }
        if (started_) EnumWindows(FindOwn, reinterpret_cast<LPARAM>(this));
    }
    ~TestPanel() {
        if (pi_.hProcess) {
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 5000);
            CloseHandle(pi_.hProcess);
        }
        CloseHandle(ready_);
        CloseHandle(quit_);
        CloseHandle(pong_);
    }
    bool started() const { return started_ && window_; }
    HWND window() const { return window_; }
    // Whether "退出程序" has arrived, asked after everything posted to it so far.
    bool GotQuit() {
        if (!Running()) return WaitForSingleObject(quit_, 0) == WAIT_OBJECT_0;
        PostMessageW(window_, WM_APP + 7, 0, 0);
        WaitForSingleObject(pong_, 10000);
        return WaitForSingleObject(quit_, 0) == WAIT_OBJECT_0;
    }
    bool Running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
    DWORD ExitCode() {
        WaitForSingleObject(pi_.hProcess, 10000);
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }

private:
    static BOOL CALLBACK FindOwn(HWND w, LPARAM p) {
        TestPanel* self = reinterpret_cast<TestPanel*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != self->pi_.dwProcessId) return TRUE;
        self->window_ = w;
        return FALSE;
    }
    std::wstring prefix_;
    HANDLE ready_ = nullptr, quit_ = nullptr, pong_ = nullptr;
    PROCESS_INFORMATION pi_ = {};
    HWND window_ = nullptr;
    bool started_ = false;
};

struct FileSpec {
    std::string name;     // file name in the URL
    std::string content;  // what the server sends
    bool withDigest = true;
    std::string digestOverride;  // a digest other than the content's
    std::string declaredSize;    // the value of "FILE%dSIZE"; none when empty
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    refresher::EngineSettings Settings() const;
    // An engine on the test folders and server, paths set, reporting to the recorder.
    refresher::CUpdateEngine& Engine();

    // A description text listing files served at /files/<name>; count is UPDATEFILECOUNT.
    std::string Describe(const std::string& version, const std::vector<FileSpec>& files, int count = -2,
                         const std::string& extra = "");
    void ServeFiles(const std::vector<FileSpec>& files);
    // Puts the description (and its signature when sign) on the server.
    void Publish(const std::string& description, bool sign = true);
    // Puts it straight into the download folder, as an earlier fetch would have.
    void PlaceLocally(const std::string& description, bool sign = true);
    void WriteInstalledVersion(const std::wstring& version);
    std::wstring InstalledVersion();  // "" when Config.ini has none

    std::wstring base_, root_, program_, system_, download_;
    ts::HttpServer server_;
    Recorder recorder_;
    std::unique_ptr<refresher::CUpdateEngine> engine_;
};

bool Exists(const std::wstring& path);
// Names of the files (not folders) in a folder, sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);

// CreateFileW for the rights check before an install, refusing g_deniedFolder (when set) with
// ERROR_ACCESS_DENIED.
extern const wchar_t* g_deniedFolder;
HANDLE WINAPI DenyingCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE pattern);

// The protection service as the engine finds it: the stand-in program installed as "Sentry" under
// the real service control manager and started, its starts recorded in folder. Removed when it goes.
class ServiceStandIn {
public:
    // slowStop: it stays stopping for 1.5 s after the request.
    explicit ServiceStandIn(const std::wstring& folder, bool slowStop = false);
    ~ServiceStandIn();
    // Installed and running, with its first start recorded.
    bool ok() const { return ok_; }
    DWORD State() const;
    // The starts recorded so far.
    size_t Starts() const;
    // Waits (bounded) until it runs after exactly starts starts.
    bool RunsAfter(size_t starts) const;
    // Still running in its first start: the update never touched it.
    bool Untouched() const { return State() == SERVICE_RUNNING && Starts() == 1; }

private:
    std::wstring record_;
    bool ok_ = false;
};

// The control panel as the engine starts it again: the stand-in panel as Warden.exe in folder. Each
// start with "regrun" is recorded in folder's "panel starts.txt", and the started panel quits on
// "退出程序" like the real one.
bool PlacePanelProgram(const std::wstring& folder);
std::vector<std::string> PanelStarts(const std::wstring& folder);
// Ends a panel the engine started (it would otherwise stay until its own time limit).
void EndStartedPanels();

}  // namespace rt
