#include "roadkit.h"

#include <dbt.h>
#include <stdio.h>
#include <tlhelp32.h>

#include <algorithm>
#include <thread>

#include "classkeys.h"
#include "corelib.h"
#include "testbuild.h"
#include "services.h"
#include "testsupport.h"
#include "tokensim.h"

namespace road {

const char kKeyRemovedText[] = "认证KEY已取下，计算机进入锁定状态。";
const char kIntervalText[] = "间隔时间锁定计算机，您可以禁用此功能。";
const wchar_t kWindowsPassword[] = L"路Pw-1";

namespace {

const wchar_t kServiceName[] = L"Sentry";
const wchar_t kServiceWindow[] = L"ZARN_MessageOnlyWindow";
using ts::kFiltersKey;
using ts::kInprocKey;
using ts::kProvidersKey;
const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const wchar_t kTokenInterface[] = L"\\\\?\\hid#vid_096e&pid_0006#1";
const DWORD kTokenLow = 0x20120816, kTokenHigh = 0x0101;

using ts::Hex;

std::string Num(double v) {
    char buf[32];
    snprintf(buf, sizeof(buf), "%.0f", v);
    return buf;
}

using ts::ComputerName;

std::wstring UserName() {
    wchar_t name[256] = {};
    DWORD n = 256;
    if (!GetUserNameW(name, &n)) return L"";
    return name;
}

// The text of key="..." in a host log line (the host's quoting: \" and \\ escaped, UTF-8 otherwise).
bool Quoted(const std::string& line, const std::string& key, std::string* out) {
    size_t at = line.find(key + "\"");
    if (at == std::string::npos) return false;
    out->clear();
    for (size_t i = at + key.size() + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') return true;
        if (c == '\\' && i + 1 < line.size()) c = line[++i];
        *out += c;
    }
    return false;
}

// The domain, user and password of the host's "SERIAL type=" line.
bool SerialFields(const std::string& line, std::string* domain, std::string* user, std::string* password) {
    auto after = [&](const char* name, std::string* out) {
        size_t at = line.find(name);
        if (at == std::string::npos) return false;
        size_t eq = line.find('=', at);
        return eq != std::string::npos && Quoted(line.substr(eq), "=", out);
    };
    return after(" domain@", domain) && after(" user@", user) && after(" password@", password);
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}


std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// Processes named Sentry.exe: the service and any "Sentry.exe /start" still on its way.
int ServicePrograms() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"Sentry.exe") == 0) ++n;
    CloseHandle(snapshot);
    return n;
}

void StopAndDeleteService() { ts::RemoveService(kServiceName); }

}  // namespace

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string Utf8(const std::wstring& s) { return ts::Narrow(s); }

// ---------------------------------------------------------------------------------------------
// Install folder

InstallFolder::InstallFolder() : dir_(ts::MakeTempDir(L"road")), owned_(true) {}

InstallFolder::InstallFolder(std::wstring dir) : dir_(std::move(dir)), owned_(false) {}

InstallFolder::~InstallFolder() {
    if (owned_ && !dir_.empty()) ts::RemoveTree(dir_);
}

bool InstallFolder::Fill(const std::wstring& binDir, Service service, std::string* error) {
    const struct {
        const wchar_t* installed;
        const wchar_t* built;
    } files[] = {
        {L"Sentry.exe", service == Service::Real ? L"Sentry.exe" : L"SentryShortPeriod.exe"},
        {L"Porter.exe", L"PorterRecorder.exe"},
        {L"Corelib.dll", L"Corelib.dll"},
        {L"Logontile.dll", L"LogontileTest.dll"},
        {L"FT_ND_API.dll", L"FT_ND_API.dll"},
        {L"LogonUiHost.exe", L"LogonUiHost.exe"},
        {L"RoadEnrol.exe", L"RoadEnrol.exe"},
    };
    if (dir_.empty()) {
        *error = "no install folder";
        return false;
    }
    for (const auto& f : files) {
        if (!CopyFileW((binDir + L"\\" + f.built).c_str(), Path(f.installed).c_str(), FALSE)) {
            *error = "cannot copy " + Utf8(f.built) + " as " + Utf8(f.installed) + ", error " +
                     std::to_string(GetLastError());
            return false;
        }
    }
    return true;
}

bool InstallFolder::UseWineTestBuilds(const std::wstring& fromDir, std::string* done) {
    const struct {
        const wchar_t* installed;
        const wchar_t* built;
    } files[] = {{L"Porter.exe", L"PorterRecorder.exe"}, {L"Logontile.dll", L"LogontileTest.dll"}};
    done->clear();
    for (const auto& f : files) {
        if (!CopyFileW((fromDir + L"\\" + f.built).c_str(), Path(f.installed).c_str(), FALSE)) {
            *done = "cannot copy " + Utf8(f.built) + ", error " + std::to_string(GetLastError());
            return false;
        }
        if (!done->empty()) *done += ", ";
        *done += Utf8(f.installed) + " <- " + Utf8(f.built);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Keys

Key::Key(Mode mode) : mode_(mode), disk_(ts::UsbDisk::FlashDisk(L"ROAD2012")) {
    diskId_ = disk_.Id();
    if (mode_ == Mode::Token) ts::tokensim::RemoveAll();
}

const char* Key::name() const { return mode_ == Mode::Token ? "token" : "USB disk"; }

std::string Key::Describe() const {
    if (mode_ == Mode::Token) return "token with serial " + Hex(kTokenHigh) + ":" + Hex(kTokenLow) + " (folded " + Hex(tokenSerial()) + ")";
    return "USB flash disk with id \"" + Utf8(diskId_) + "\"";
}

DWORD Key::tokenSerial() const { return ts::tokensim::Fold(kTokenLow, kTokenHigh); }

bool Key::Plug() {
    if (mode_ == Mode::Token) return ts::tokensim::Insert({ts::tokensim::MakeToken(kTokenLow, kTokenHigh, "ZARN-ROAD")});
    return disk_.Plug();
}

bool Key::Pull() {
    if (mode_ == Mode::Token) return ts::tokensim::RemoveAll();
    return disk_.Pull();
}

bool Key::NotifyRemoval(HWND window, DWORD timeoutMs, DWORD* error) const {
    if (mode_ == Mode::Token)
        return ts::SendInterfaceNotice(window, DBT_DEVICEREMOVECOMPLETE, kHidClass, kTokenInterface, timeoutMs, error);
    return disk_.NotifyRemoval(window, timeoutMs, error);
}

std::wstring Key::EnrolArguments() const {
    return mode_ == Mode::Token ? L"token" : L"usb " + diskId_;
}

// ---------------------------------------------------------------------------------------------
// Child process

Child::~Child() {
    if (process_) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 0xDEAD);
            WaitForSingleObject(process_, 5000);
        }
    }
    if (reader_) {
        WaitForSingleObject(reader_, 5000);
        CloseHandle(reader_);
    }
    if (process_) CloseHandle(process_);
    if (pipe_) CloseHandle(pipe_);
    if (changed_) CloseHandle(changed_);
    if (lockReady_) DeleteCriticalSection(&lock_);
}

bool Child::Start(const std::wstring& commandLine, const std::wstring& workDir) {
    if (process_) return false;
    InitializeCriticalSection(&lock_);
    lockReady_ = true;
    changed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE write = nullptr;
    if (!changed_ || !CreatePipe(&pipe_, &write, &sa, 0)) return false;
    SetHandleInformation(pipe_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = write;
    si.hStdInput = nullptr;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = commandLine;
    BOOL ok = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, workDir.c_str(), &si, &pi);
    CloseHandle(write);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    reader_ = CreateThread(nullptr, 0, ReadProc, this, 0, nullptr);
    return reader_ != nullptr;
}

// Polls rather than blocks: a grandchild that inherited the pipe must not keep the reader waiting.
DWORD WINAPI Child::ReadProc(void* param) {
    Child* self = static_cast<Child*>(param);
    char buf[4096];
    for (;;) {
        DWORD avail = 0, got = 0;
        if (PeekNamedPipe(self->pipe_, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
            if (ReadFile(self->pipe_, buf, sizeof(buf), &got, nullptr) && got) self->Add(std::string(buf, got));
            continue;
        }
        if (WaitForSingleObject(self->process_, 1) == WAIT_OBJECT_0) {
            while (PeekNamedPipe(self->pipe_, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
                   ReadFile(self->pipe_, buf, sizeof(buf), &got, nullptr) && got)
                self->Add(std::string(buf, got));
            self->Add("\n");
            return 0;
        }
    }
}

void Child::Add(const std::string& text) {
    double now = NowMs();
    EnterCriticalSection(&lock_);
    partial_ += text;
    size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
        std::string line = partial_.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        partial_.erase(0, nl + 1);
        if (!line.empty()) lines_.push_back({line, now});
    }
    LeaveCriticalSection(&lock_);
    SetEvent(changed_);
}

bool Child::WaitLine(const std::string& text, DWORD timeoutMs, size_t* from, Line* line) {
    DWORD start = GetTickCount();
    for (;;) {
        bool exited = WaitForSingleObject(reader_, 0) == WAIT_OBJECT_0;
        EnterCriticalSection(&lock_);
        for (size_t i = *from; i < lines_.size(); ++i) {
            if (lines_[i].text.find(text) != std::string::npos) {
                if (line) *line = lines_[i];
                *from = i + 1;
                LeaveCriticalSection(&lock_);
                return true;
            }
        }
        LeaveCriticalSection(&lock_);
        DWORD spent = GetTickCount() - start;
        if (exited || spent >= timeoutMs) return false;
        WaitForSingleObject(changed_, std::min<DWORD>(timeoutMs - spent, 50));
    }
}

bool Child::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    WaitForSingleObject(reader_, 5000);
    return GetExitCodeProcess(process_, exitCode) != FALSE;
}

std::vector<Child::Line> Child::Lines() const {
    if (!lockReady_) return {};
    EnterCriticalSection(&lock_);
    std::vector<Line> copy = lines_;
    LeaveCriticalSection(&lock_);
    return copy;
}

std::string Child::Text() const {
    std::string out;
    for (const Line& l : Lines()) out += l.text + "\n";
    return out;
}

// ---------------------------------------------------------------------------------------------
// The machine

DWORD ServiceState() { return ts::ServiceState(kServiceName); }

DWORD ServiceExitCode() {
    SERVICE_STATUS st;
    return ts::QueryService(kServiceName, &st) ? st.dwWin32ExitCode : ERROR_GEN_FAILURE;
}

HWND ServiceWindow() { return FindWindowW(kServiceWindow, nullptr); }

bool Answers(HWND window, DWORD timeoutMs) { return ts::WindowAnswers(window, timeoutMs); }

// The service answers until Porter has ended, which under Wine can take a second or more.
bool Waits(HWND window) { return ts::StopsAnswering(window, 300, 10000); }

LONG PeekLockType() {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, CORELIB_SHARED_MAPPING);
    if (!mapping) return -1;
    LONG type = -1;
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(LockRecord))) {
        type = static_cast<const LockRecord*>(view)->enuLockType;
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return type;
}

std::vector<std::string> PorterRuns(const std::wstring& dir) {
    return ts::SplitLines(ts::ReadFileBytes(dir + L"\\PorterCalls.txt"), true);
}

void CleanMachine() {
    // A "Sentry.exe /start" from enrolment or the tile may still be on its way and would install the
    // service again after it was deleted.
    for (int round = 0; round < 3; ++round) {
        StopAndDeleteService();
        WaitFor([] { return ServicePrograms() == 0; }, 15000);
        if (ServiceState() == 0) break;
    }
    DeleteGianPathToReg();
    ts::ResetSettings();
    ts::tokensim::Reset();
    ts::RemoveAllSimulatedDisks();
    ts::DeleteKeyTree(HKEY_CURRENT_USER, LOGONTILE_TEST_SHUTDOWN_KEY);
}

// ---------------------------------------------------------------------------------------------
// The road

Road::Road(const std::wstring& dir, Key& key, Reporter& reporter)
    : dir_(dir), key_(key), reporter_(reporter), user_(UserName()), computer_(ComputerName()) {
    // Porter's runs are counted from this road's start.
    DeleteFileW((dir_ + L"\\PorterCalls.txt").c_str());
}

bool Road::Check(bool ok, const std::string& what, const std::string& seen) {
    reporter_.Step(ok, what, seen);
    return ok;
}

bool Road::Enrol() {
    if (!Check(key_.Plug(), "the key is inserted", key_.Describe())) return false;
    ts::ChildResult r = ts::RunChild(L"\"" + dir_ + L"\\RoadEnrol.exe\" " + key_.EnrolArguments() + L" \"" +
                                         kWindowsPassword + L"\"",
                                     30000);
    std::string said = Trimmed(r.output);
    for (char& c : said)
        if (c == '\n') c = ';';
    if (!Check(r.started && r.exitCode == 0, "enrolment from the install folder (RoadEnrol.exe)",
               "exit " + std::to_string(r.exitCode) + ": " + said))
        return false;

    uinfo record = {};
    bool read = GetUserInfo(&record) != FALSE;
    bool keyOk = key_.mode() == Key::Mode::Token ? record.ulTokenSerial == key_.tokenSerial()
                                                 : CompareDriverUID(&record, key_.diskId().c_str()) != FALSE;
    DWORD wantMode = key_.mode() == Key::Mode::Token ? 1 : 0;
    DWORD mode = GetMonitorKeyStyle(L"QJ_AppDriveMode");
    Check(read && keyOk && mode == wantMode, "the key is in the record",
          (key_.mode() == Key::Mode::Token ? "ulTokenSerial=" + Hex(record.ulTokenSerial)
                                           : "lpDriverUID holds \"" + Utf8(key_.diskId()) + "\"") +
              ", QJ_AppDriveMode=" + std::to_string(mode));
    bool who = user_ == record.lpUserName && computer_ == record.lpComputerName &&
               std::wstring(kWindowsPassword) == record.lpUserPWD;
    Check(who, "the Windows user, computer and password are in the record",
          "lpUserName=\"" + Utf8(record.lpUserName) + "\", lpComputerName=\"" + Utf8(record.lpComputerName) +
              "\", lpUserPWD=\"" + Utf8(record.lpUserPWD) + "\"");

    std::wstring inproc;
    ts::GetString(HKEY_CLASSES_ROOT, kInprocKey, L"", &inproc);
    bool registered = _wcsicmp(inproc.c_str(), (dir_ + L"\\Logontile.dll").c_str()) == 0 &&
                      ts::KeyExists(HKEY_LOCAL_MACHINE, kProvidersKey) && ts::KeyExists(HKEY_LOCAL_MACHINE, kFiltersKey);
    Check(registered, "WriteGianPathToReg registers the folder's Logontile.dll as provider and filter",
          "InprocServer32=" + (inproc.empty() ? std::string("(none)") : Utf8(inproc)));
    DWORD enabled = 0;
    bool on = ts::GetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_EnableTolven", &enabled) && enabled == 1;
    Check(on, "logon management is on", "QJ_EnableTolven=" + std::to_string(enabled));
    return read && keyOk && who && registered && on;
}

bool Road::ServiceRuns() {
    bool running = WaitFor([] { return ServiceState() == SERVICE_RUNNING; }, 30000);
    window_ = nullptr;
    bool found = running && WaitFor([this] { return (window_ = ServiceWindow()) != nullptr; }, 10000);
    return Check(running && found, "the service runs and its window can be reached",
                 "state " + std::to_string(ServiceState()) + (found ? ", window ZARN_MessageOnlyWindow found" : ", no window"));
}

bool Road::NoticeWithKeyInIsIgnored() {
    size_t before = PorterRuns(dir_).size();
    DWORD error = 0;
    bool answered = key_.NotifyRemoval(window_, 5000, &error);
    size_t after = PorterRuns(dir_).size();
    return Check(answered && after == before, "with the key in, a removal notice locks nothing",
                 answered ? "answered, Porter runs " + std::to_string(after)
                          : "not answered (error " + std::to_string(error) + ")");
}

bool Road::LockObserved(LONG expectedType, size_t runsBefore, double sentAt, const char* cause) {
    double startedAt = -1;
    std::vector<std::string> runs;
    WaitFor(
        [&] {
            runs = PorterRuns(dir_);
            if (runs.size() <= runsBefore) return false;
            startedAt = NowMs();
            return true;
        },
        10000, 1);
    bool started = runs.size() == runsBefore + 1 && runs.back() == "/LockWorkStation\twinsta0\\default";
    std::string seen = runs.size() > runsBefore ? "\"" + runs.back() + "\"" : "Porter did not start";
    for (char& c : seen)
        if (c == '\t') c = ' ';
    if (sentAt >= 0 && startedAt >= 0) {
        times_.removalToPorterMs = startedAt - sentAt;
        seen += ", " + Num(times_.removalToPorterMs) + " ms after the notice";
    }
    if (!Check(started, std::string(cause) + ": the service starts Porter on the user's desktop", seen)) return false;
    LONG type = PeekLockType();
    return Check(type == expectedType, "the lock record names the lock", "enuLockType=" + std::to_string(type));
}

bool Road::PullKeyLocks() {
    times_.removalToPorterMs = -1;  // a figure this pull does not measure must not be the last one's
    size_t before = PorterRuns(dir_).size();
    if (!Check(key_.Pull(), "the key is pulled", key_.name())) return false;
    bool answered = true;
    DWORD error = 0;
    double sentAt = NowMs();
    // The notice blocks while the service locks and waits; Porter's start is watched meanwhile.
    std::thread notice([&] { answered = key_.NotifyRemoval(window_, kBlockedMs, &error); });
    bool locked = LockObserved(LOCKTYPE_KEY_REMOVED, before, sentAt, "removal notice");
    notice.join();
    if (!locked) return false;
    return Check(!answered && error == ERROR_TIMEOUT, "the service waits for the unlock",
                 answered ? "the notice was answered" : "notice unanswered after " + std::to_string(kBlockedMs) + " ms");
}

bool Road::IntervalLocks() {
    size_t before = PorterRuns(dir_).size();
    if (!LockObserved(LOCKTYPE_INTERVAL, before, -1, "interval timer")) return false;
    return Check(Waits(window_), "the service waits for the unlock", "its window does not answer");
}

bool Road::UnlockAtTile(const char* expectedStatus, bool keyStillIn, DWORD insertAfterMs) {
    times_.keyToReportResultMs = times_.keyFoundToReportResultMs = -1;
    Child host;
    std::wstring account = computer_ + L"\\" + user_ + L"=" + kWindowsPassword;
    std::wstring command = L"\"" + dir_ + L"\\LogonUiHost.exe\" --package 0x4E47 --account \"" +
                           account +
                           L"\" filter unlock password,own provider unlock fields select wait-change 20000 close";
    struct LogKeeper {
        Child& host;
        std::string& log;
        ~LogKeeper() { log = host.Text(); }
    } keeper{host, hostLog_};
    if (!Check(host.Start(command, dir_), "LogonUI (the host) loads Logontile.dll", Utf8(command))) return false;

    size_t at = 0;
    Child::Line line;
    bool filtered = host.WaitLine("CALL Filter ", 20000, &at, &line);
    Check(filtered && line.text.find("hr=0x00000000 allow=0,1") != std::string::npos,
          "the filter leaves only our tile", filtered ? line.text : "no filter call");
    bool scenario = host.WaitLine("CALL SetUsageScenario ", 20000, &at, &line);
    if (!Check(scenario && line.text.find("scenario=unlock hr=0x00000000") != std::string::npos,
               "the provider takes the unlock scenario", scenario ? line.text : "no SetUsageScenario"))
        return false;
    std::string status;
    bool field = host.WaitLine("FIELD 4 ", 10000, &at, &line) && Quoted(line.text, "text=", &status);
    Check(field && status == expectedStatus, "the tile shows the lock's status line",
          field ? "\"" + status + "\"" : "no status field");
    LONG left = PeekLockType();
    Check(left == 0, "the tile consumed the lock record", "enuLockType=" + std::to_string(left));
    bool selected = host.WaitLine("CALL SetSelected ", 10000, &at, &line);
    if (!Check(selected && line.text.find("autologon=0") != std::string::npos,
               "selected, the tile waits for the key (key mode)", selected ? line.text : "no SetSelected"))
        return false;
    Check(Waits(window_), "the service still waits", "its window does not answer");

    if (keyStillIn) {
        // At unlock the key must be seen gone before its presence counts. Only the token stand-in
        // shows the tile's polls: two failed "open first" calls are two whole checks without it.
        if (!Check(key_.mode() == Key::Mode::Token, "the tile's polls can be watched", key_.name())) return false;
        bool pulled = key_.Pull() && ts::tokensim::StartLog();
        bool seen = pulled && WaitFor([] { return Count(ts::tokensim::Log(), "O1!") >= 2; }, 10000);
        if (!Check(seen, "the key is pulled and the tile sees it gone", "token log \"" + ts::tokensim::Log() + "\""))
            return false;
    }

    double waitingAt = line.ms;
    double due = waitingAt + insertAfterMs;
    while (NowMs() < due) Sleep(1);
    double insertedAt = NowMs();
    if (!Check(key_.Plug(), "the key is inserted again", key_.name())) return false;
    bool reported = host.WaitLine("CALL ReportResult ", 10000, &at, &line);
    if (reported) times_.keyToReportResultMs = line.ms - insertedAt;

    // What happened between the key's return and ReportResult.
    std::string autologon, package, logon, lsa;
    double foundAt = -1;
    for (const Child::Line& l : host.Lines()) {
        if (foundAt < 0 && l.ms >= insertedAt && l.text.rfind("EVENT CredentialsChanged", 0) == 0) foundAt = l.ms;
        if (l.text.find("CALL SetSelected hr=0x00000000 autologon=1") != std::string::npos) autologon = l.text;
        if (l.text.rfind("SERIAL package=", 0) == 0) package = l.text;
        if (l.text.rfind("SERIAL type=", 0) == 0) logon = l.text;
        if (l.text.rfind("LSA ", 0) == 0) lsa = l.text;
    }
    Check(!autologon.empty(), "the tile reports the key and asks for automatic logon",
          autologon.empty() ? "no SetSelected with autologon=1" : autologon);
    std::string domain, user, password;
    bool fields = SerialFields(logon, &domain, &user, &password);
    bool packed = package.find("package=0x4E47 clsid={00ABCDEF-F666-4966-80C7-88BE82DFB12A}") != std::string::npos &&
                  logon.rfind("SERIAL type=7 ", 0) == 0 && fields && domain == Utf8(computer_) &&
                  user == Utf8(user_) && password == Utf8(kWindowsPassword);
    Check(packed, "an unlock logon for Negotiate with the computer name, lpUserName and lpUserPWD",
          fields ? "package " + package.substr(package.find('=') + 1, 6) + ", domain \"" + domain + "\", user \"" +
                       user + "\", password \"" + password + "\""
                 : (logon.empty() ? "no serialization" : logon));
    Check(lsa.find("status=0x00000000") != std::string::npos, "the LSA accepts the logon",
          lsa.empty() ? "no logon" : lsa);
    if (!Check(reported && line.text.find("status=0x00000000 substatus=0x00000000 hr=0x00000000") != std::string::npos,
               "ReportResult after the key's return",
               reported ? line.text + ", " + Num(times_.keyToReportResultMs) + " ms after the key" : "no ReportResult"))
        return false;
    double reportedAt = line.ms;
    if (foundAt >= 0) times_.keyFoundToReportResultMs = reportedAt - foundAt;
    bool ended = Answers(window_, 5000);
    Check(ended, "Global\\AlertServiceEvent is set: the service's wait ends",
          ended ? "the service answers again, " + Num(NowMs() - reportedAt) + " ms after ReportResult"
                : "the service still does not answer");

    DWORD exitCode = 0;
    bool exited = host.WaitExit(20000, &exitCode);
    size_t end = 0;
    bool clean = host.WaitLine("VIOLATIONS 0", 0, &end, nullptr);
    Check(exited && exitCode == 0 && clean, "LogonUI closes the provider without a protocol fault",
          exited ? "host exit " + std::to_string(exitCode) : "the host did not exit");
    DWORD shutdowns = 0;
    bool recorded = ts::GetDword(HKEY_CURRENT_USER, LOGONTILE_TEST_SHUTDOWN_KEY, L"Calls", &shutdowns);
    Check(!recorded, "no forced shut-down", recorded ? std::to_string(shutdowns) + " ExitWindowsEx calls" : "none");
    return ended;
}

bool Road::StopDuringWait() {
    size_t before = PorterRuns(dir_).size();
    ts::ChildResult r = ts::RunChild(L"\"" + dir_ + L"\\Sentry.exe\" /stop", 30000);
    DWORD state = ServiceState();
    DWORD code = ServiceExitCode();
    HWND window = ServiceWindow();
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, CORELIB_ALERT_EVENT);
    DWORD eventError = event ? 0 : GetLastError();
    if (event) CloseHandle(event);
    bool gone = WaitFor([] { return ServicePrograms() == 0; }, 10000);
    size_t after = PorterRuns(dir_).size();
    bool ok = r.started && r.exitCode == 0 && state == SERVICE_STOPPED && code == 0 && !window &&
              eventError == ERROR_FILE_NOT_FOUND && gone && after == before;
    return Check(ok, "stopped during its wait, the service stops cleanly",
                 "/stop exit " + std::to_string(r.exitCode) + ", state " + std::to_string(state) + ", exit code " +
                     std::to_string(code) + (window ? ", window left" : ", window gone") +
                     (eventError == ERROR_FILE_NOT_FOUND ? ", event closed" : ", event still open") +
                     (gone ? ", process ended" : ", process still running") +
                     (after == before ? "" : ", Porter started again"));
}

bool Road::WalkKeyRemoval() {
    reporter_.Section(std::string("Enrolment (") + key_.name() + " mode)");
    if (!Enrol() || !ServiceRuns()) return false;
    reporter_.Section("The key is pulled");
    if (!NoticeWithKeyInIsIgnored() || !PullKeyLocks()) return false;
    reporter_.Section("LogonUI's unlock screen, the key returns");
    if (!UnlockAtTile(kKeyRemovedText, false)) return false;
    reporter_.Section("Watching again: pulled once more");
    return NoticeWithKeyInIsIgnored() && PullKeyLocks() && StopDuringWait();
}

bool Road::WalkIntervalLock() {
    reporter_.Section(std::string("Enrolment (") + key_.name() + " mode, interval lock every 1.5 s)");
    if (!Enrol() || !ServiceRuns()) return false;
    reporter_.Section("The interval lock");
    if (!IntervalLocks()) return false;
    reporter_.Section("LogonUI's unlock screen, the key is pulled and returns");
    if (!UnlockAtTile(kIntervalText, true)) return false;
    reporter_.Section("The timer is armed again");
    return IntervalLocks() && StopDuringWait();
}

}  // namespace road
