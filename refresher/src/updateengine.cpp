#include "updateengine.h"

#include <shlwapi.h>
#include <wininet.h>
#include <wchar.h>

#include <new>

#include "corelib.h"
#include "prefs.h"
#include "refresher_build.h"
#include "runningpanel.h"

namespace refresher {

const wchar_t kUserAgent[] = L"RevaRU/1.0";
const wchar_t kDescriptionUrlPath[] = L"/wp-content/uploads/soft/computerlock/update/update.txt";
const wchar_t kDefaultUpdateHost[] = REFRESHER_UPDATE_HOST;
const wchar_t kServiceName[] = L"Sentry";
const wchar_t kPanelRestartArguments[] = L"regrun";

namespace {

const wchar_t kDescriptionName[] = L"update.txt";
const wchar_t kSignatureName[] = L"update.txt.sig";
const wchar_t kSettingsName[] = L"Config.ini";
const wchar_t kLibraryName[] = L"Corelib.dll";
const wchar_t kPanelName[] = L"Warden.exe";
const wchar_t kPartSuffix[] = L".part";
const DWORD kReadBlock = 16384;
const DWORD kKilledPanelWaitMs = 5000;
const DWORD kServicePollMs = 100;
const DWORD kServiceAccess = SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS;

// dst := a "\" b, without doubling a drive root's backslash; false (dst empty) when it does not fit.
bool Join(wchar_t (&dst)[260], const wchar_t* a, const wchar_t* b) {
    dst[0] = 0;
    if (!a || !*a || !b) return false;
    size_t na = wcslen(a);
    bool slash = a[na - 1] != L'\\';
    if (na + (slash ? 1 : 0) + wcslen(b) >= 260) return false;
    wcscpy(dst, a);
    if (slash) wcscat(dst, L"\\");
    wcscat(dst, b);
    return true;
}

bool Copy(wchar_t (&dst)[260], const wchar_t* src) {
    dst[0] = 0;
    if (!src || wcslen(src) >= 260) return false;
    wcscpy(dst, src);
    return true;
}

bool IsFolder(const wchar_t* path) {
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The file-name part of a URL, as PathStripPathW gives it.
std::wstring UrlFileName(const wchar_t* url) {
    std::wstring copy(url);
    copy.push_back(L'\0');
    PathStripPathW(&copy[0]);
    return std::wstring(copy.c_str());
}

struct InternetHandle {
    HINTERNET h = nullptr;
    ~InternetHandle() {
        if (h) InternetCloseHandle(h);
    }
};

void SetTimeouts(HINTERNET h, const EngineSettings& s) {
    DWORD connect = s.connectTimeoutMs, receive = s.receiveTimeoutMs;
    InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect));
    InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof(receive));
    InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
    InternetSetOptionW(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receive, sizeof(receive));
}

bool IsReservedName(const std::wstring& name) {
    return _wcsicmp(name.c_str(), kDescriptionName) == 0 || _wcsicmp(name.c_str(), kSignatureName) == 0 ||
           _wcsicmp(name.c_str(), kSettingsName) == 0;
}

bool IsRefused(const Description& d) {
    int n = ParseCount(d.Get(L"UPDATEFILECOUNT", L"0", 32));
    return n < 0 || n > kMaxFileIndex;
}

std::wstring Key(const wchar_t* format, int i) {
    wchar_t key[32];
    swprintf(key, 32, format, i);
    return key;
}

// A blocking request call (the send, or one read) on a thread of its own, so that a cancel need
// not wait for it: closing a request does not end a blocked read everywhere. What the call writes
// lives here, shared with the caller, so a call left behind writes into nothing that was freed.
struct BlockingCall {
    HINTERNET request = nullptr;
    bool send = false;  // HttpSendRequestW, else InternetReadFile into block
    std::vector<BYTE> block;
    DWORD got = 0;
    BOOL ok = FALSE;
    DWORD error = 0;
    volatile LONG refs = 2;  // the caller's and the thread's
    void Release() {
        if (InterlockedDecrement(&refs) == 0) delete this;
    }
};

DWORD WINAPI BlockingCallThread(void* param) {
    BlockingCall* call = static_cast<BlockingCall*>(param);
    call->ok = call->send ? HttpSendRequestW(call->request, nullptr, 0, nullptr, 0)
                          : InternetReadFile(call->request, call->block.data(), static_cast<DWORD>(call->block.size()),
                                             &call->got);
    call->error = GetLastError();
    call->Release();
    return 0;
}

// The send (block NULL) or a read of up to size bytes; FALSE, the call left to end by itself, once
// cancel is set.
BOOL CallUnlessCancelled(HANDLE cancel, HINTERNET request, BYTE* block, DWORD size, DWORD* got) {
    BlockingCall* call = new (std::nothrow) BlockingCall;
    if (!call) return FALSE;
    call->request = request;
    call->send = block == nullptr;
    try {
        call->block.resize(block ? size : 0);
    } catch (const std::bad_alloc&) {
        delete call;
        return FALSE;
    }
    HANDLE thread = CreateThread(nullptr, 0, BlockingCallThread, call, 0, nullptr);
    if (!thread) {
        delete call;
        return FALSE;
    }
    HANDLE waits[2] = {thread, cancel};
    const DWORD woke = WaitForMultipleObjects(cancel ? 2 : 1, waits, FALSE, INFINITE);
    CloseHandle(thread);
    BOOL ok = FALSE;
    if (woke == WAIT_OBJECT_0) {
        ok = call->ok;
        if (ok && block) {
            memcpy(block, call->block.data(), call->got);
            *got = call->got;
        }
        SetLastError(call->error);
    }
    call->Release();
    return ok;
}

struct ScHandle {
    SC_HANDLE h = nullptr;
    ~ScHandle() {
        if (h) CloseServiceHandle(h);
    }
};

// The service's state and process; 0 when it cannot be asked.
DWORD ServiceState(SC_HANDLE service, DWORD* processId = nullptr) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed))
        return 0;
    if (processId) *processId = status.dwProcessId;
    return status.dwCurrentState;
}

// Polls until the service reports want, at most waitMs.
bool WaitForServiceState(SC_HANDLE service, DWORD want, DWORD waitMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD state = ServiceState(service);
        if (state == want) return true;
        if (state == 0 || GetTickCount() - start >= waitMs) return false;
        Sleep(kServicePollMs);
    }
}

// Opens the service for stopping and starting. ERROR_SUCCESS with *service NULL when it is not installed.
DWORD OpenProtectionService(ScHandle* manager, ScHandle* service) {
    manager->h = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager->h) return GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    service->h = OpenServiceW(manager->h, kServiceName, kServiceAccess);
    if (service->h) return ERROR_SUCCESS;
    DWORD e = GetLastError();
    return e == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : (e ? e : ERROR_ACCESS_DENIED);
}

}  // namespace

EngineSettings EngineSettings::Production() {
    EngineSettings s;
    s.publicKey = kBuiltInPublicKeySize ? kBuiltInPublicKey : nullptr;
    s.publicKeySize = kBuiltInPublicKeySize;
    return s;
}

CUpdateEngine::CUpdateEngine(const EngineSettings& settings)
    : settings_(settings), lineCount_(0), reports_(nullptr), runState_(kRunning),
      cancelEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), request_(nullptr), stoppedService_(false) {
    InitializeCriticalSection(&requestLock_);
    outcome_[0] = 0;
    url_[0] = descriptionPath_[0] = signaturePath_[0] = downloadFolder_[0] = 0;
    localVersion_[0] = remoteVersion_[0] = updateText_[0] = 0;
    settingsPath_[0] = programFolder_[0] = systemFolder_[0] = 0;
}

CUpdateEngine::~CUpdateEngine() {
    if (cancelEvent_) CloseHandle(cancelEvent_);
    DeleteCriticalSection(&requestLock_);
}

BOOL CUpdateEngine::RequestCancel() {
    LONG before = InterlockedCompareExchange(&runState_, kCancelRequested, kRunning);
    if (before == kInstallingState) return FALSE;
    if (cancelEvent_) SetEvent(cancelEvent_);
    // Closing the request is the documented way to end a blocking WinINet call from another thread.
    EnterCriticalSection(&requestLock_);
    if (request_) InternetCloseHandle(request_);
    request_ = nullptr;
    LeaveCriticalSection(&requestLock_);
    return TRUE;
}

bool CUpdateEngine::WatchRequest(HINTERNET request) {
    EnterCriticalSection(&requestLock_);
    request_ = request;
    const bool cancelled = Cancelled();
    LeaveCriticalSection(&requestLock_);
    return !cancelled;
}

void CUpdateEngine::CloseRequest(HINTERNET request) {
    EnterCriticalSection(&requestLock_);
    const bool mine = request_ == request;
    if (mine) request_ = nullptr;
    LeaveCriticalSection(&requestLock_);
    if (mine) InternetCloseHandle(request);
}

void CUpdateEngine::ClearCancel() {
    InterlockedExchange(&runState_, kRunning);
    if (cancelEvent_) ResetEvent(cancelEvent_);
}

BOOL CUpdateEngine::CancelRequested() const {
    // An aligned LONG is read whole; every change goes through the interlocked calls.
    return runState_ == kCancelRequested ? TRUE : FALSE;
}

BOOL CUpdateEngine::Installing() const {
    return runState_ == kInstallingState ? TRUE : FALSE;
}

bool CUpdateEngine::BeginInstall() {
    return InterlockedCompareExchange(&runState_, kInstallingState, kRunning) == kRunning;
}

BOOL CUpdateEngine::InitPaths() {
    bool ok = true;
    if (settings_.programFolder) {
        ok = Copy(programFolder_, settings_.programFolder);
    } else {
        DWORD n = GetModuleFileNameW(nullptr, programFolder_, 260);
        ok = n > 0 && n < 260;
        if (ok) {
            programFolder_[n] = 0;
            PathRemoveFileSpecW(programFolder_);
        } else {
            programFolder_[0] = 0;
        }
    }
    if (settings_.systemFolder) {
        ok = Copy(systemFolder_, settings_.systemFolder) && ok;
    } else {
        UINT n = GetSystemDirectoryW(systemFolder_, 260);
        if (n == 0 || n >= 260) {
            systemFolder_[0] = 0;
            ok = false;
        }
    }
    ok = Join(downloadFolder_, programFolder_, L"update") && ok;
    ok = Join(settingsPath_, programFolder_, kSettingsName) && ok;
    ok = Join(descriptionPath_, downloadFolder_, kDescriptionName) && ok;
    ok = Join(signaturePath_, downloadFolder_, kSignatureName) && ok;

    std::wstring base = settings_.baseUrl ? settings_.baseUrl : L"";
    while (!base.empty() && base.back() == L'/') base.pop_back();
    std::wstring url = base + kDescriptionUrlPath;
    if (base.empty() || url.size() >= 260) {
        url_[0] = 0;
        ok = false;
    } else {
        wcscpy(url_, url.c_str());
    }
    if (downloadFolder_[0] && !CreateDirectoryW(downloadFolder_, nullptr) && !IsFolder(downloadFolder_)) ok = false;
    return ok ? TRUE : FALSE;
}

void CUpdateEngine::PostStatus(const wchar_t* text) {
    if (reports_ && !Cancelled()) reports_->Report(WM_UPDATE_STATUS, text, 0);
}

void CUpdateEngine::PostProgress(const wchar_t* attribute, LPARAM value) {
    if (reports_ && !Cancelled()) reports_->Report(WM_UPDATE_PROGRESS, attribute, value);
}

void CUpdateEngine::PostFinished(BOOL success) {
    if (reports_ && !Cancelled()) reports_->Report(WM_UPDATE_FINISHED, nullptr, success ? 1 : 0);
}

void CUpdateEngine::LoadDescription(Description* description) const {
    description->Load(descriptionPath_, signaturePath_, settings_.publicKey, settings_.publicKeySize);
}

BOOL CUpdateEngine::GetUpdateInfo() {
    PostStatus(L"获取更新信息");
    // Bounded as the parser bounds them: a larger answer is refused before it fills the disk.
    bool ok = url_[0] && Download(url_, kMaxDescriptionBytes, false);
    if (ok) {
        // A missing signature is not a failed fetch: the description is then offered for the web site only.
        wchar_t signatureUrl[260];
        if (wcslen(url_) + 4 < 260) {
            wcscpy(signatureUrl, url_);
            wcscat(signatureUrl, L".sig");
            if (!Download(signatureUrl, kMaxSignatureBytes, false)) DeleteFileW(signaturePath_);
        }
        Description d;
        LoadDescription(&d);
        ok = !IsRefused(d);
    }
    PostStatus(ok ? L"获取更新信息成功" : L"获取更新信息失败");
    return ok ? TRUE : FALSE;
}

void CUpdateEngine::ReadVersions(const Description& d) {
    std::wstring remote = d.Get(L"VERSION", L"1.0", 9);
    wcscpy(remoteVersion_, remote.c_str());
    prefs::Read(settingsPath_, L"UPDATE", L"VERSION", L"1.0", localVersion_, 10);
}

BOOL CUpdateEngine::CheckNewVersion() {
    PostStatus(L"获取新版本号");
    Description d;
    LoadDescription(&d);
    ReadVersions(d);
    if (IsRefused(d)) {
        PostStatus(L"获取更新信息失败");
        return FALSE;
    }
    if (wcscmp(remoteVersion_, localVersion_) > 0) {
        BuildUpdateText(d);
        wchar_t text[64];
        swprintf(text, 64, L"检测到有新版本%ls", remoteVersion_);
        PostStatus(text);
        return TRUE;
    }
    PostStatus(L"已经是最新版本");
    return FALSE;
}

void CUpdateEngine::ReadNewVersion() {
    PostStatus(L"获取新版本号");
    Description d;
    LoadDescription(&d);
    wcscpy(remoteVersion_, d.Get(L"VERSION", L"1.0", 9).c_str());
}

int CUpdateEngine::LoadUpdateText() {
    Description d;
    LoadDescription(&d);
    return BuildUpdateText(d);
}

int CUpdateEngine::BuildUpdateText(const Description& d) {
    const size_t kRoom = sizeof(updateText_) / sizeof(updateText_[0]) - 1;
    size_t length = 0;
    lineCount_ = 0;
    updateText_[0] = 0;
    // Appends as much as fits; false once the text is full.
    auto append = [&](const std::wstring& part) {
        size_t n = part.size() < kRoom - length ? part.size() : kRoom - length;
        wmemcpy(updateText_ + length, part.data(), n);
        length += n;
        updateText_[length] = 0;
        return n == part.size();
    };
    const std::wstring dashes(58, L'-');
    bool room = append(dashes + L"\r\n") && append(d.Get(L"UpdateTitle", L"", 1023)) &&
                append(L"\r\n" + dashes + L"\r\n") && append(L"\r\n");
    for (int n = 0; room; ++n) {
        std::wstring line = d.Get(Key(L"UPDATETXT%d", n).c_str(), L"", 1023);
        if (line.empty()) break;
        // A line that no longer fits is cut and ends the log; it still counts, as it is shown.
        room = append(line + L"\r\n\x2192\r\n");
        ++lineCount_;
    }
    return static_cast<int>(length);
}

int CUpdateEngine::GetUpdateFileCount() {
    Description d;
    LoadDescription(&d);
    return ParseCount(d.Get(L"UPDATEFILECOUNT", L"0", 32));
}

bool CUpdateEngine::Plan(const Description& d, std::vector<PlannedFile>* files) const {
    files->clear();
    if (!d.signedOk() || IsRefused(d)) return false;
    int n = ParseCount(d.Get(L"UPDATEFILECOUNT", L"0", 32));
    for (int i = 0; i <= n; ++i) {
        std::wstring url = d.Get(Key(L"FILE%d", i).c_str(), L"", 255);
        if (url.size() <= 1) continue;
        PlannedFile f;
        f.index = i;
        f.url = url;
        f.name = UrlFileName(url.c_str());
        wchar_t part[260];
        if (!IsSafeFileName(f.name.c_str()) || IsReservedName(f.name) ||
            !Join(part, downloadFolder_, (f.name + kPartSuffix).c_str()))
            return false;
        for (const PlannedFile& other : *files)
            if (_wcsicmp(other.name.c_str(), f.name.c_str()) == 0) return false;
        if (!ParseDigest(d.Get(Key(L"FILE%dSHA256", i).c_str(), L"", 80), f.digest)) return false;
        // A declared size that is no number, or more than any file may have, refuses the description:
        // it is a faulty release, and guessing a bound for it would install what was not meant.
        std::wstring size = d.Get(Key(L"FILE%dSIZE", i).c_str(), L"", 32);
        f.exact = !size.empty();
        f.size = settings_.maxFileBytes;
        if (f.exact && (!ParseSize(size, &f.size) || f.size > settings_.maxFileBytes)) return false;
        files->push_back(f);
    }
    return true;
}

BOOL CUpdateEngine::CanAutoUpdate() {
    Description d;
    LoadDescription(&d);
    std::wstring allowed = d.Get(L"CanAutoUpdate", L"0", 32);
    if (allowed != L"1" && allowed != L"true") return FALSE;
    std::vector<PlannedFile> files;
    return Plan(d, &files) ? TRUE : FALSE;
}

BOOL CUpdateEngine::DownloadFile(const wchar_t* url) {
    return Download(url, settings_.maxFileBytes, false) ? TRUE : FALSE;
}

bool CUpdateEngine::Download(const wchar_t* url, ULONGLONG limit, bool exact) {
    if (!url || !*url || !downloadFolder_[0]) return false;
    std::wstring name = UrlFileName(url);
    wchar_t target[260], part[260];
    if (!IsSafeFileName(name.c_str()) || !Join(target, downloadFolder_, name.c_str()) ||
        !Join(part, downloadFolder_, (name + kPartSuffix).c_str()))
        return false;

    // Host and path apart, so that the time limits are on the request before it is sent.
    wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {}, path[INTERNET_MAX_PATH_LENGTH + 1] = {};
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = INTERNET_MAX_HOST_NAME_LENGTH + 1;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = INTERNET_MAX_PATH_LENGTH + 1;
    wchar_t extra[INTERNET_MAX_PATH_LENGTH + 1] = {};
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = INTERNET_MAX_PATH_LENGTH + 1;
    if (!InternetCrackUrlW(url, 0, 0, &parts) || !host[0] ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS))
        return false;
    std::wstring object = std::wstring(path[0] ? path : L"/") + extra;

    InternetHandle net, connection;
    // Closed before the connection; a cancel may have closed it first.
    struct WatchedRequest {
        CUpdateEngine* engine;
        HINTERNET h;
        ~WatchedRequest() {
            if (h) engine->CloseRequest(h);
        }
    } request{this, nullptr};
    net.h = InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!net.h) return false;
    SetTimeouts(net.h, settings_);
    connection.h = InternetConnectW(net.h, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection.h) return false;
    SetTimeouts(connection.h, settings_);
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    request.h = HttpOpenRequestW(connection.h, L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0);
    if (!request.h || !WatchRequest(request.h)) return false;
    SetTimeouts(request.h, settings_);
    if (!CallUnlessCancelled(cancelEvent_, request.h, nullptr, 0, nullptr)) return false;
    // Only a 200 carries the file: an error page or a proxy's 407 would otherwise be installed.
    DWORD status = 0, size = sizeof(status);
    if (!HttpQueryInfoW(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status != 200)
        return false;
    // Read as text: a length beyond 32 bits must not wrap into a small one.
    wchar_t lengthText[32] = {};
    size = sizeof(lengthText) - sizeof(wchar_t);
    ULONGLONG announced = 0;
    if (!HttpQueryInfoW(request.h, HTTP_QUERY_CONTENT_LENGTH, lengthText, &size, nullptr)) return false;
    std::wstring lengthValue(lengthText);
    size_t first = lengthValue.find_first_not_of(L" \t"), last = lengthValue.find_last_not_of(L" \t");
    if (first == std::wstring::npos || !ParseSize(lengthValue.substr(first, last - first + 1), &announced))
        return false;
    // More than may come is refused before a byte is written; a declared size must match exactly
    // (fewer bytes could not carry the declared digest either).
    if (announced > limit || (exact && announced != limit)) return false;
    const ULONGLONG length = announced;

    const ULONGLONG step = length / 100;
    PostProgress(L"value", 0);
    PostProgress(L"value", 100);
    // Written aside: a cut download never replaces the earlier copy under the real name.
    HANDLE file = CreateFileW(part, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<BYTE> block(kReadBlock);
    ULONGLONG total = 0, threshold = step;
    LPARAM counter = 1;
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (Cancelled()) {
            ok = false;
            break;
        }
        if (!CallUnlessCancelled(cancelEvent_, request.h, block.data(), kReadBlock, &got)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        DWORD written = 0;
        total += got;
        if (total > length || !WriteFile(file, block.data(), got, &written, nullptr) || written != got) {
            ok = false;
            break;
        }
        if (total > threshold) {
            threshold += step;
            ++counter;
            PostProgress(L"value", counter);
        }
    }
    // A body that ends early reads like a whole one: only the announced length tells.
    ok = ok && !Cancelled() && total == length && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok || !MoveFileExW(part, target, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(part);
        return false;
    }
    PostProgress(L"value", 100);
    return true;
}

bool CUpdateEngine::DownloadPlanned(const Description& d, const std::vector<PlannedFile>& files) {
    int n = ParseCount(d.Get(L"UPDATEFILECOUNT", L"0", 32));
    size_t next = 0;
    for (int i = 0; i <= n; ++i) {
        wchar_t text[64];
        swprintf(text, 64, L"正在下载文件%d/%d", n + 1, i + 1);
        PostStatus(text);
        if (settings_.filePauseMs && cancelEvent_) WaitForSingleObject(cancelEvent_, settings_.filePauseMs);
        else if (settings_.filePauseMs) Sleep(settings_.filePauseMs);
        if (Cancelled()) return false;
        if (next >= files.size() || files[next].index != i) continue;
        const PlannedFile& f = files[next++];
        if (!Download(f.url.c_str(), f.size, f.exact)) return false;
        wchar_t path[260];
        BYTE digest[kDigestBytes];
        Join(path, downloadFolder_, f.name.c_str());
        if (!FileSha256(path, digest) || memcmp(digest, f.digest, kDigestBytes) != 0) {
            DeleteFileW(path);
            return false;
        }
    }
    return !Cancelled();
}

BOOL CUpdateEngine::DownloadFiles() {
    Description d;
    LoadDescription(&d);
    std::vector<PlannedFile> files;
    return Plan(d, &files) && DownloadPlanned(d, files) ? TRUE : FALSE;
}

bool CUpdateEngine::PlaceFile(const PlannedFile& f) {
    wchar_t source[260], destination[260];
    if (!Join(source, downloadFolder_, f.name.c_str())) return false;
    BYTE digest[kDigestBytes];
    if (!FileSha256(source, digest) || memcmp(digest, f.digest, kDigestBytes) != 0) return false;
    // Any spelling: in the program folder "corelib.dll" would shadow the system folder's library.
    const wchar_t* folder = _wcsicmp(f.name.c_str(), kLibraryName) == 0 ? systemFolder_ : programFolder_;
    // A missing folder cannot receive the file, not even at the next start.
    if (!IsFolder(folder) || !Join(destination, folder, f.name.c_str())) return false;
    if (CopyFileW(source, destination, FALSE)) return true;
    if (MoveFileExW(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) return true;
    return ReplaceAtRestart(f, source, folder, destination);
}

bool CUpdateEngine::ReplaceAtRestart(const PlannedFile& f, const wchar_t* source, const wchar_t* folder,
                                     const wchar_t* destination) {
    // A rename at boot cannot cross volumes, and the system folder need not be on the program
    // folder's: the new file waits in the target's own folder. There it is also out of reach of a
    // later download into the download folder.
    wchar_t staged[MAX_PATH];
    if (!GetTempFileNameW(folder, L"upd", 0, staged)) return false;
    BYTE digest[kDigestBytes];
    bool ok = CopyFileW(source, staged, FALSE) && FileSha256(staged, digest) &&
              memcmp(digest, f.digest, kDigestBytes) == 0 &&
              settings_.moveFileEx(staged, destination, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    // Not scheduled: the old file stays, and the install has failed.
    if (!ok) DeleteFileW(staged);
    return ok;
}

bool CUpdateEngine::InstallPlanned(const std::vector<PlannedFile>& files) {
    bool ok = true;
    for (const PlannedFile& f : files)
        if (!PlaceFile(f)) ok = false;
    return ok;
}

BOOL CUpdateEngine::InstallFiles() {
    Description d;
    LoadDescription(&d);
    std::vector<PlannedFile> files;
    return Plan(d, &files) && InstallPlanned(files) ? TRUE : FALSE;
}

bool CUpdateEngine::EndRunningPanel() {
    HWND panel = FindRunningPanel();
    if (!panel) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(panel, &pid);
    if (pid == 0 || pid == GetCurrentProcessId()) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    // "退出程序" lets the panel remove its tray icon; one that does not quit in time is ended.
    PostMessageW(panel, WM_COMMAND, MAKEWPARAM(kPanelQuitCommand, 0), 0);
    if (!process) return true;
    if (WaitForSingleObject(process, settings_.panelQuitWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, kPanelKilledExitCode);
        WaitForSingleObject(process, kKilledPanelWaitMs);
    }
    CloseHandle(process);
    return true;
}

CUpdateEngine::Rights CUpdateEngine::CheckInstallRights() const {
    Rights denied;  // the first refusal that rights would cure
    for (const wchar_t* folder : {programFolder_, systemFolder_}) {
        // Adding a file is what placing one takes; the open asks for that right and changes nothing.
        DWORD error = ERROR_SUCCESS;
        if (!folder[0] || !IsFolder(folder)) {
            error = ERROR_PATH_NOT_FOUND;
        } else {
            HANDLE h = settings_.createFile(folder, FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (h == INVALID_HANDLE_VALUE) error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
            else CloseHandle(h);
        }
        if (error == ERROR_SUCCESS) continue;
        if (error != ERROR_ACCESS_DENIED) return Rights{error, folder};
        if (denied.error == ERROR_SUCCESS) denied = Rights{error, folder};
    }
    if (IsWin7()) {
        DWORD error = ERROR_SUCCESS;
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (!manager) {
            error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
        } else {
            SC_HANDLE service = settings_.openService(manager, kServiceName, kServiceAccess);
            if (service) CloseServiceHandle(service);
            else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
            CloseServiceHandle(manager);
        }
        if (error != ERROR_SUCCESS && error != ERROR_ACCESS_DENIED) return Rights{error, L""};
        if (error == ERROR_ACCESS_DENIED && denied.error == ERROR_SUCCESS) denied = Rights{error, L""};
    }
    return denied;
}

DWORD CUpdateEngine::StopService() {
    stoppedService_ = false;
    ScHandle manager, service;
    DWORD error = OpenProtectionService(&manager, &service);
    if (error != ERROR_SUCCESS || !service.h) return error;
    DWORD pid = 0;
    DWORD state = ServiceState(service.h, &pid);
    if (state == 0) return GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    if (state == SERVICE_STOPPED) return ERROR_SUCCESS;
    stoppedService_ = true;
    // Opened before the request, so that the id cannot name another process by the time we wait:
    // the program file can be replaced only once that process has gone.
    HANDLE process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    SERVICE_STATUS status;
    if (state != SERVICE_STOP_PENDING && !ControlService(service.h, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        error = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    DWORD start = GetTickCount();
    if (error == ERROR_SUCCESS && !WaitForServiceState(service.h, SERVICE_STOPPED, settings_.serviceWaitMs))
        error = ERROR_SERVICE_REQUEST_TIMEOUT;
    if (error == ERROR_SUCCESS && process) {
        DWORD spent = GetTickCount() - start;
        DWORD left = spent < settings_.serviceWaitMs ? settings_.serviceWaitMs - spent : 0;
        if (WaitForSingleObject(process, left) != WAIT_OBJECT_0) error = ERROR_SERVICE_REQUEST_TIMEOUT;
    }
    if (process) CloseHandle(process);
    return error;
}

BOOL CUpdateEngine::RestartService() {
    if (!stoppedService_) return TRUE;
    ScHandle manager, service;
    if (OpenProtectionService(&manager, &service) != ERROR_SUCCESS || !service.h) return FALSE;
    // A stop that outlasted our wait may still be under way: a start is refused until it is done.
    if (ServiceState(service.h) == SERVICE_STOP_PENDING)
        WaitForServiceState(service.h, SERVICE_STOPPED, settings_.serviceWaitMs);
    if (!StartServiceW(service.h, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) return FALSE;
    if (!WaitForServiceState(service.h, SERVICE_RUNNING, settings_.serviceWaitMs)) return FALSE;
    stoppedService_ = false;
    return TRUE;
}

bool CUpdateEngine::RestartPanel() {
    wchar_t panel[260];
    if (!Join(panel, programFolder_, kPanelName) || GetFileAttributesW(panel) == INVALID_FILE_ATTRIBUTES) return false;
    wchar_t commandLine[280];
    swprintf(commandLine, 280, L"\"%ls\" %ls", panel, kPanelRestartArguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(panel, commandLine, nullptr, nullptr, FALSE, 0, nullptr, programFolder_, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void CUpdateEngine::SetOutcome(const wchar_t* text) {
    swprintf(outcome_, sizeof(outcome_) / sizeof(outcome_[0]), L"%ls", text);
    PostStatus(outcome_);
}

BOOL CUpdateEngine::RunUpdate() {
    outcome_[0] = 0;
    stoppedService_ = false;
    PostStatus(L"准备更新环境");
    PostProgress(L"max", 100);
    // One reading of the description serves the whole run: what was verified is what is installed.
    Description d;
    LoadDescription(&d);
    std::vector<PlannedFile> files;
    // Everything is fetched and checked while the PC is still protected.
    bool ok = Plan(d, &files) && DownloadPlanned(d, files);
    // Nothing is stopped for an install that could place only some of the files.
    if (ok) {
        Rights rights = CheckInstallRights();
        if (rights.error != ERROR_SUCCESS) {
            wchar_t text[320];
            if (rights.folder.empty() && rights.error == ERROR_ACCESS_DENIED)
                swprintf(text, 320, L"没有权限停止保护服务，请以管理员身份运行升级程序；电脑未作任何更改");
            else if (rights.folder.empty())
                swprintf(text, 320, L"无法控制保护服务（错误 %lu）；电脑未作任何更改", rights.error);
            else if (rights.error == ERROR_ACCESS_DENIED)
                swprintf(text, 320, L"没有权限写入文件夹 %ls，请以管理员身份运行升级程序；电脑未作任何更改",
                         rights.folder.c_str());
            else
                swprintf(text, 320, L"无法写入文件夹 %ls（错误 %lu）；电脑未作任何更改", rights.folder.c_str(),
                         rights.error);
            SetOutcome(text);
            ok = false;
        }
    }
    // From here on the run is not stopped: a half-installed product is worse than a late close.
    if (ok && !BeginInstall()) ok = false;
    bool installing = ok, panelEnded = false;
    std::wstring failure = L"更新失败";
    if (ok) {
        DWORD stopped = IsWin7() ? StopService() : ERROR_SUCCESS;
        if (stopped != ERROR_SUCCESS) {
            // Files of a running service would wait for the next start of Windows: nothing is placed.
            wchar_t text[96];
            swprintf(text, 96, L"无法停止保护服务（错误 %lu），更新未安装", stopped);
            failure = text;
            ok = false;
        } else {
            panelEnded = EndRunningPanel();
            ok = InstallPlanned(files);
        }
    }
    if (ok) {
        PostStatus(L"获取新版本号");
        wcscpy(remoteVersion_, d.Get(L"VERSION", L"1.0", 9).c_str());
        ok = prefs::Write(settingsPath_, L"UPDATE", L"VERSION", remoteVersion_);
    }
    // A failed install must not leave the PC without its lock until the next start of Windows.
    if (!ok && installing) {
        bool service = stoppedService_, serviceBack = RestartService() != FALSE;
        bool panelBack = panelEnded && RestartPanel();
        std::wstring text = failure;
        if (!serviceBack) text += L"，保护服务未能重新启动，请重新启动计算机";
        if (service && serviceBack && panelBack) text += L"，已重新启动保护服务和控制面板";
        else if (service && serviceBack) text += L"，已重新启动保护服务";
        else if (panelBack) text += L"，已重新启动控制面板";
        if (panelEnded && !panelBack) text += L"，控制面板未能重新启动";
        SetOutcome(text.c_str());
    }
    PostFinished(ok ? TRUE : FALSE);
    // Installed or not, the run is over; a cancel asked for now has nothing left to stop.
    InterlockedCompareExchange(&runState_, kRunning, kInstallingState);
    return ok ? TRUE : FALSE;
}

}  // namespace refresher
