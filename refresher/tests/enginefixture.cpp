#include "enginefixture.h"

#include <tlhelp32.h>
#include <wincrypt.h>

#include <algorithm>
#include <memory>

#include "corelib.h"
#include "description.h"
#include "prefs.h"
#include "runningpanel.h"
#include "services.h"

namespace rt {

const char kDescriptionPath[] = "/wp-content/uploads/soft/computerlock/update/update.txt";

namespace {

struct Signer {
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    std::string blob;
    Signer() {
        if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return;
        if (!CryptGenKey(provider, AT_SIGNATURE, (2048u << 16) | CRYPT_EXPORTABLE, &key)) return;
        DWORD size = 0;
        if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size)) return;
        blob.resize(size);
        if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, reinterpret_cast<BYTE*>(&blob[0]), &size)) blob.clear();
        blob.resize(size);
    }
};

Signer& TheSigner() {
    static Signer signer;
    return signer;
}

}  // namespace

const std::string& PublicKeyBlob() { return TheSigner().blob; }

std::string Sign(const std::string& data) {
    Signer& s = TheSigner();
    HCRYPTHASH hash = 0;
    std::string sig;
    if (!CryptCreateHash(s.provider, CALG_SHA_256, 0, 0, &hash)) return sig;
    if (CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0)) {
        DWORD size = 0;
        if (CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, nullptr, &size)) {
            sig.resize(size);
            if (!CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, reinterpret_cast<BYTE*>(&sig[0]), &size)) sig.clear();
        }
    }
    CryptDestroyHash(hash);
    return sig;
}

std::string Sha256Hex(const std::string& data) {
    HCRYPTPROV p = 0;
    HCRYPTHASH h = 0;
    std::string hex;
    if (!CryptAcquireContextW(&p, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return hex;
    BYTE digest[32];
    DWORD size = sizeof(digest);
    if (CryptCreateHash(p, CALG_SHA_256, 0, 0, &h) &&
        CryptHashData(h, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) &&
        CryptGetHashParam(h, HP_HASHVAL, digest, &size, 0)) {
        static const char kHex[] = "0123456789abcdef";
        for (BYTE b : digest) {
            hex += kHex[b >> 4];
            hex += kHex[b & 15];
        }
    }
    if (h) CryptDestroyHash(h);
    CryptReleaseContext(p, 0);
    return hex;
}

std::string Gbk(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

// Refuses the open of one folder, as a limited token would: Wine enforces no folder rights.
const wchar_t* g_deniedFolder = nullptr;
HANDLE WINAPI DenyingCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE pattern) {
    if (g_deniedFolder && _wcsicmp(name, g_deniedFolder) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(name, access, share, security, disposition, flags, pattern);
}

// ---- service stand-in ------------------------------------------------------------------------
ServiceStandIn::ServiceStandIn(const std::wstring& folder, bool slowStop) : record_(folder + L"\\service starts.txt") {
    ts::RemoveService(refresher::kServiceName);
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW(record_.c_str());
    std::wstring program = folder + L"\\Sentry.exe";
    if (!CopyFileW(ts::InExeDir(L"refresher_testservice.exe").c_str(), program.c_str(), FALSE)) return;
    std::wstring image = L"\"" + program + L"\" \"" + record_ + L"\"" + (slowStop ? L" slow" : L"");
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return;
    SC_HANDLE service = CreateServiceW(manager, refresher::kServiceName, refresher::kServiceName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    bool started = service && StartServiceW(service, 0, nullptr);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ok_ = started && RunsAfter(1);
}

ServiceStandIn::~ServiceStandIn() { ts::RemoveService(refresher::kServiceName); }

DWORD ServiceStandIn::State() const { return ts::ServiceState(refresher::kServiceName); }

size_t ServiceStandIn::Starts() const { return ts::SplitLines(ts::ReadFileBytes(record_)).size(); }

bool ServiceStandIn::RunsAfter(size_t starts) const {
    return ts::WaitFor([&] { return Starts() >= starts && State() == SERVICE_RUNNING; }, 15000) && Starts() == starts;
}

bool PlacePanelProgram(const std::wstring& folder) {
    return CopyFileW(ts::InExeDir(L"refresher_testpanel.exe").c_str(), (folder + L"\\Warden.exe").c_str(), FALSE) !=
           FALSE;
}

std::vector<std::string> PanelStarts(const std::wstring& folder) {
    return ts::SplitLines(ts::ReadFileBytes(folder + L"\\panel starts.txt"));
}

void EndStartedPanels() {
    // The stand-in started as Warden.exe quits on "退出程序" and takes its window with it.
    for (int i = 0; i < 10; ++i) {
        HWND panel = FindRunningPanel();
        if (!panel) return;
        DWORD pid = 0;
        GetWindowThreadProcessId(panel, &pid);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        PostMessageW(panel, WM_COMMAND, MAKEWPARAM(refresher::kPanelQuitCommand, 0), 0);
        if (process) {
            if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) TerminateProcess(process, 9);
            CloseHandle(process);
        }
    }
}

// ---- recorder --------------------------------------------------------------------------------
const UINT kFlush = WM_APP + 1;

Recorder::Recorder() {
    InitializeCriticalSection(&lock_);
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    flushed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
    WaitForSingleObject(ready_, 10000);
}

Recorder::~Recorder() {
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    if (thread_) {
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
    }
    CloseHandle(ready_);
    CloseHandle(flushed_);
    DeleteCriticalSection(&lock_);
}

DWORD WINAPI Recorder::Thread(void* self) {
    Recorder* r = static_cast<Recorder*>(self);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RefresherTestRecorder";
    RegisterClassW(&wc);
    r->window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, r);
    SetEvent(r->ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

LRESULT CALLBACK Recorder::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    Recorder* r = reinterpret_cast<Recorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case refresher::WM_UPDATE_PROGRESS:
        case refresher::WM_UPDATE_STATUS:
        case refresher::WM_UPDATE_FINISHED: {
            // A worker's ticket: what it stands for is read through the worker followed.
            refresher::UpdateReport report;
            EnterCriticalSection(&r->lock_);
            bool keep = r->following_ && r->worker_ && r->worker_->Take(message, wParam, &report);
            LeaveCriticalSection(&r->lock_);
            if (keep) r->Record(Entry{message, report.text, report.value});
            return 0;
        }
        case kFlush:
            SetEvent(r->flushed_);
            return 0;
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Recorder::Report(UINT message, const wchar_t* text, LPARAM value) {
    Record(Entry{message, text ? text : L"", value});
}

void Recorder::Record(const Entry& e) {
    EnterCriticalSection(&lock_);
    log_.push_back(e);
    LeaveCriticalSection(&lock_);
    if (e.message == refresher::WM_UPDATE_PROGRESS && onProgress) onProgress(e);
}

void Recorder::Follow(refresher::CUpdateWorker* worker) {
    EnterCriticalSection(&lock_);
    following_ = true;
    worker_ = worker;
    LeaveCriticalSection(&lock_);
}

std::vector<Recorder::Entry> Recorder::Flush() {
    // Posts from one thread arrive in order: once the marker is handled, so is all before it.
    if (PostMessageW(window_, kFlush, 0, 0)) WaitForSingleObject(flushed_, 10000);
    EnterCriticalSection(&lock_);
    std::vector<Entry> copy = log_;
    LeaveCriticalSection(&lock_);
    return copy;
}

std::vector<std::wstring> Recorder::Statuses() {
    std::vector<std::wstring> out;
    for (const Entry& e : Flush())
        if (e.message == refresher::WM_UPDATE_STATUS) out.push_back(e.text);
    return out;
}

std::vector<LPARAM> Recorder::Values() {
    std::vector<LPARAM> out;
    for (const Entry& e : Flush())
        if (e.message == refresher::WM_UPDATE_PROGRESS && e.text == L"value") out.push_back(e.lParam);
    return out;
}

int Recorder::Finished() {
    int last = -1;
    for (const Entry& e : Flush())
        if (e.message == refresher::WM_UPDATE_FINISHED) last = static_cast<int>(e.lParam);
    return last;
}

// ---- fixture ---------------------------------------------------------------------------------
void EngineTest::SetUp() {
    ts::SetUserProxy();  // WinINet goes straight to the loopback server
    ASSERT_FALSE(PublicKeyBlob().empty()) << "no RSA key from CryptoAPI";
    root_ = ts::MakeTempDir(L"refresher");
    program_ = root_ + L"\\程序 目录";
    system_ = root_ + L"\\system32";
    download_ = program_ + L"\\update";
    ASSERT_TRUE(CreateDirectoryW(program_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(system_.c_str(), nullptr));
    ASSERT_TRUE(server_.Start());
    base_ = server_.Url("");
}

void EngineTest::TearDown() {
    engine_.reset();
    server_.Stop();
    ts::RemoveTree(root_);
}

refresher::EngineSettings EngineTest::Settings() const {
    refresher::EngineSettings s;
    s.baseUrl = base_.c_str();
    s.programFolder = program_.c_str();
    s.systemFolder = system_.c_str();
    s.publicKey = reinterpret_cast<const BYTE*>(PublicKeyBlob().data());
    s.publicKeySize = static_cast<DWORD>(PublicKeyBlob().size());
    s.connectTimeoutMs = 5000;
    s.receiveTimeoutMs = 3000;
    s.filePauseMs = 0;
    s.panelQuitWaitMs = 3000;
    return s;
}

refresher::CUpdateEngine& EngineTest::Engine() {
    if (!engine_) {
        engine_.reset(new refresher::CUpdateEngine(Settings()));
        EXPECT_TRUE(engine_->InitPaths());
        engine_->SetReports(&recorder_);
    }
    return *engine_;
}

std::string EngineTest::Describe(const std::string& version, const std::vector<FileSpec>& files, int count,
                                 const std::string& extra) {
    std::string text = "[UPDATE]\r\nVERSION=" + version + "\r\nCanAutoUpdate=1\r\n";
    if (count == -2) count = static_cast<int>(files.size()) - 1;
    text += "UPDATEFILECOUNT=" + std::to_string(count) + "\r\n";
    for (size_t i = 0; i < files.size(); ++i) {
        const FileSpec& f = files[i];
        std::string n = std::to_string(i);
        if (f.name.size() <= 1) {
            text += "FILE" + n + "=" + f.name + "\r\n";
            continue;
        }
        text += "FILE" + n + "=" + ts::Narrow(server_.Url("/files/" + f.name)) + "\r\n";
        if (f.withDigest)
            text += "FILE" + n + "SHA256=" + (f.digestOverride.empty() ? Sha256Hex(f.content) : f.digestOverride) +
                    "\r\n";
        if (!f.declaredSize.empty()) text += "FILE" + n + "SIZE=" + f.declaredSize + "\r\n";
    }
    return text + extra;
}

void EngineTest::ServeFiles(const std::vector<FileSpec>& files) {
    for (const FileSpec& f : files)
        if (f.name.size() > 1) server_.SetBody("/files/" + f.name, f.content);
}

void EngineTest::Publish(const std::string& description, bool sign) {
    server_.SetBody(kDescriptionPath, description);
    if (sign) server_.SetBody(std::string(kDescriptionPath) + ".sig", Sign(description));
    else server_.Remove(std::string(kDescriptionPath) + ".sig");
}

void EngineTest::PlaceLocally(const std::string& description, bool sign) {
    CreateDirectoryW(download_.c_str(), nullptr);
    ASSERT_TRUE(ts::WriteFileBytes(download_ + L"\\update.txt", description));
    if (sign) ASSERT_TRUE(ts::WriteFileBytes(download_ + L"\\update.txt.sig", Sign(description)));
    else DeleteFileW((download_ + L"\\update.txt.sig").c_str());
}

void EngineTest::WriteInstalledVersion(const std::wstring& version) {
    ASSERT_TRUE(prefs::Write((program_ + L"\\Config.ini").c_str(), L"UPDATE", L"VERSION", version.c_str()));
}

std::wstring EngineTest::InstalledVersion() {
    wchar_t v[64];
    prefs::Read((program_ + L"\\Config.ini").c_str(), L"UPDATE", L"VERSION", L"", v, 64);
    return v;
}

}  // namespace rt
