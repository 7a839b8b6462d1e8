// The system's main road under Wine, walked from outside the way a user meets it: the real service
// from an install folder, the LogonUI host with the tile's test build, a simulated key. The road
// test, the demo and the benchmark walk the same steps; each step is reported with what it observed.
//
//   road::InstallFolder install;                 // a fresh folder with the road's programs
//   install.Fill(ts::ExeDir(), road::Service::Real);
//   road::Key key(road::Key::Mode::Token);
//   road::Road r(install.dir(), key, reporter);
//   r.Enrol() && r.ServiceRuns() && r.PullKeyLocks() && r.UnlockAtTile(road::kKeyRemovedText, false) ...
//   road::CleanMachine();                         // service, settings, keys, registration gone
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services.h"
#include "usbdisk.h"

namespace road {

// The tile's status line after each kind of lock (UTF-8).
extern const char kKeyRemovedText[];
extern const char kIntervalText[];
// The password enrolled for the Windows account, which the fake LSA accepts.
extern const wchar_t kWindowsPassword[];
// A removal notice not answered within this is taken as "the service waits for the unlock".
constexpr DWORD kBlockedMs = 1500;

// Milliseconds on the high-resolution monotonic clock.
double NowMs();
using ts::WaitFor;
std::string Utf8(const std::wstring& s);

// Receives every step of a walk. A walk stops at the first failed step that later steps need.
class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void Section(const std::string& title) = 0;
    virtual void Step(bool ok, const std::string& what, const std::string& seen) = 0;
};

// Which build of the service goes into the folder as Sentry.exe.
enum class Service {
    Real,         // Sentry.exe, interval lock every 41 min 40 s
    ShortPeriod,  // SentryShortPeriod.exe, interval lock every 1.5 s
};

// An install folder as enrolment leaves it, with the two test builds Wine needs: Porter.exe is the
// recording Porter (Wine's LockWorkStation is a stub: the real Porter exits 120 and the service then
// does not wait), Logontile.dll the tile's test build (Wine cannot look up "Negotiate"; it also only
// records a forced shut-down).
class InstallFolder {
public:
    InstallFolder();  // a fresh folder under the temp folder
    explicit InstallFolder(std::wstring dir);  // an existing folder, kept afterwards
    ~InstallFolder();
    InstallFolder(const InstallFolder&) = delete;
    InstallFolder& operator=(const InstallFolder&) = delete;

    // Copies the road's programs from a build's bin folder. False with the missing file in *error.
    bool Fill(const std::wstring& binDir, Service service, std::string* error);
    // In a folder that already holds the deliverables: Porter.exe and Logontile.dll are replaced by
    // their test builds from the subfolder given. Returns what was replaced, "" on failure.
    bool UseWineTestBuilds(const std::wstring& fromDir, std::string* done);

    const std::wstring& dir() const { return dir_; }
    std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }

private:
    std::wstring dir_;
    bool owned_;
};

// The simulated key of one device mode. Created pulled; the destructor removes it.
class Key {
public:
    enum class Mode { Token, UsbDisk };
    explicit Key(Mode mode);
    Mode mode() const { return mode_; }
    const char* name() const;  // "token", "USB disk"
    std::string Describe() const;
    bool Plug();
    bool Pull();
    // Sends the removal notice Windows sends for this kind of key (HID interface or volume).
    bool NotifyRemoval(HWND window, DWORD timeoutMs, DWORD* error) const;
    // Arguments of RoadEnrol.exe for this key.
    std::wstring EnrolArguments() const;
    DWORD tokenSerial() const;               // folded, as stored in the record
    const std::wstring& diskId() const { return diskId_; }

private:
    Mode mode_;
    ts::UsbDisk disk_;
    std::wstring diskId_;
};

// A child process whose output lines are timestamped as they arrive.
class Child {
public:
    struct Line {
        std::string text;
        double ms;
    };
    Child() = default;
    ~Child();  // ends the process if it still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Start(const std::wstring& commandLine, const std::wstring& workDir);
    // The first line at index >= *from that contains text; *from moves past it. False on timeout.
    bool WaitLine(const std::string& text, DWORD timeoutMs, size_t* from, Line* line);
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode);
    std::string Text() const;
    std::vector<Line> Lines() const;

private:
    static DWORD WINAPI ReadProc(void* self);
    void Add(const std::string& text);

    HANDLE process_ = nullptr;
    HANDLE pipe_ = nullptr;
    HANDLE reader_ = nullptr;
    HANDLE changed_ = nullptr;
    mutable CRITICAL_SECTION lock_;
    bool lockReady_ = false;
    std::vector<Line> lines_;
    std::string partial_;
};

// The service as the service control manager sees it; 0 when not installed.
DWORD ServiceState();
DWORD ServiceExitCode();
HWND ServiceWindow();
// True when the service's window answers within the time (the service is not in its locked wait).
bool Answers(HWND window, DWORD timeoutMs);
// True when the service sits in its locked wait: its window leaves a message unanswered.
bool Waits(HWND window);
// The lock type in "Global\ZARNSHARD", read without consuming the record; -1 when there is no mapping.
LONG PeekLockType();
// Porter's runs as the recording Porter wrote them: "<command line>\t<desktop>".
std::vector<std::string> PorterRuns(const std::wstring& dir);

// Leaves the prefix as a fresh one for the road: no service "Sentry" (stopped, deleted, and no
// service program of ours still running), no credential provider registration, no settings, no
// simulated keys, no recorded shut-down.
void CleanMachine();

// What the benchmark takes from a walk.
struct Times {
    double removalToPorterMs = -1;       // removal notice sent -> Porter started
    double keyToReportResultMs = -1;     // key inserted at the tile -> ReportResult returned
    double keyFoundToReportResultMs = -1;  // the tile's CredentialsChanged -> ReportResult returned
};

class Road {
public:
    Road(const std::wstring& dir, Key& key, Reporter& reporter);

    // Enrolment as the control panel does it, run by RoadEnrol.exe from the install folder: the key
    // and the Windows user, computer name and password in the record, WriteGianPathToReg,
    // QJ_EnableTolven, and the service started through its command line.
    bool Enrol();
    // The service runs and its window can be reached.
    bool ServiceRuns();
    // With the key in, a removal notice is answered and locks nothing.
    bool NoticeWithKeyInIsIgnored();
    // The key is pulled: Porter locks with "/LockWorkStation", lock type 4, the service waits.
    bool PullKeyLocks();
    // The interval timer locks: Porter, lock type 2, the service waits.
    bool IntervalLocks();
    // LogonUI's unlock scenario with our tile; the key comes back (keyStillIn: it is pulled first and
    // the tile must see it gone, token mode only); the tile logs on with the record's credentials,
    // ReportResult sets the event and the service's wait ends. insertAfterMs: how long after the tile
    // started waiting the key comes back (the benchmark spreads it over the tile's poll period).
    bool UnlockAtTile(const char* expectedStatus, bool keyStillIn, DWORD insertAfterMs = 0);
    // The service is stopped during its wait and stops cleanly.
    bool StopDuringWait();

    // The two roads.
    bool WalkKeyRemoval();
    bool WalkIntervalLock();

    const Times& times() const { return times_; }
    const std::string& hostLog() const { return hostLog_; }

private:
    bool Check(bool ok, const std::string& what, const std::string& seen);
    bool LockObserved(LONG expectedType, size_t runsBefore, double sentAt, const char* cause);

    std::wstring dir_;
    Key& key_;
    Reporter& reporter_;
    HWND window_ = nullptr;
    std::wstring user_, computer_;
    Times times_;
    std::string hostLog_;
};

}  // namespace road
