#include "credentialverifykey.h"

#include <windows.h>
#include <shlwapi.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <new>

// gdiplus.h expects min and max from the global namespace.
using std::max;
using std::min;
#include <gdiplus.h>

#include "keydlg.h"
#include "module.h"
#include "package.h"
#include "prefs.h"
#include "provider.h"
#include "seams.h"

namespace logontile {

namespace {

const wchar_t kLockThread[] = L"QJ_LockThread";
const wchar_t kHotKey[] = L"QJ_HotKey";
const wchar_t kBootCheckKey[] = L"QJ_KaiJiChcekKey";
const wchar_t kUnlockCheckKey[] = L"QJ_SuoPingCheckKey";

const wchar_t kTitle[] = L"USB KEY登陆认证";
const wchar_t kSubmit[] = L"Submit";
const wchar_t kEmergencyLink[] = L"紧急登录";
const wchar_t kIntervalLocked[] = L"间隔时间锁定计算机，您可以禁用此功能。";
const wchar_t kKeyRemoved[] = L"认证KEY已取下，计算机进入锁定状态。";
const wchar_t kEnterPassword[] = L"请输入密码登录";

constexpr NTSTATUS kStatusLogonFailure = static_cast<NTSTATUS>(0xC000006D);
constexpr NTSTATUS kStatusAccountRestriction = static_cast<NTSTATUS>(0xC000006E);
constexpr NTSTATUS kStatusAccountDisabled = static_cast<NTSTATUS>(0xC0000072);

// Rows 2 to 4 follow the failure count in password mode; the last is also every later failure.
constexpr size_t kFirstCountRow = 2;
constexpr size_t kLastRow = 4;
constexpr ULONG kFailuresBeforeShutdown = 3;

// Planned, operating system, upgrade.
constexpr DWORD kShutdownReason = 0x80020003;

// Bounded wait for a let-go tile's threads; they wake at once on the stop event.
constexpr DWORD kStopWaitMs = 5000;

constexpr size_t kRecordTextChars = 50;  // each text field of the user record

void FreeText(PWSTR* text, bool secret) {
    if (!*text) return;
    if (secret) SecureZeroMemory(*text, wcslen(*text) * sizeof(wchar_t));
    CoTaskMemFree(*text);
    *text = nullptr;
}

// A reference on this module for a thread of the tile: the thread ends with
// FreeLibraryAndExitThread, so its last instructions never run in an unloaded module.
HMODULE PinModule() {
    HINSTANCE self = ModuleInstance();
    if (!self) return nullptr;  // linked into a program (unit tests): nothing to pin
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    return LoadLibraryW(path);
}

// The picture decoded by GDI+ into a DIB section. NULL on failure, with the Win32 error (if
// any) left as the thread's last error.
HBITMAP LoadPicture(const wchar_t* path) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return nullptr;
    HBITMAP result = nullptr;
    DWORD error = ERROR_SUCCESS;
    Gdiplus::GpBitmap* bitmap = nullptr;
    SetLastError(ERROR_SUCCESS);
    if (Gdiplus::DllExports::GdipCreateBitmapFromFile(path, &bitmap) == Gdiplus::Ok && bitmap) {
        if (Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(bitmap, &result, 0) != Gdiplus::Ok) result = nullptr;
        if (!result) error = GetLastError();
        Gdiplus::DllExports::GdipDisposeImage(bitmap);
    } else {
        error = GetLastError();
    }
    Gdiplus::GdiplusShutdown(token);
    SetLastError(error);
    return result;
}

}  // namespace

namespace {
BOOL CORELIB_CALL RealVerifyUserInfo(const uinfo* record) { return ::VerifyUserInfo(record); }
}  // namespace

TileSeams g_tileSeams = {RealVerifyUserInfo, 2000};

namespace {

// One check handed to a worker. The worker owns a copy of the record, so a check the UI thread
// stopped waiting for still reads valid memory; whichever side lets go last wipes and frees it.
struct BoundedCheck {
    volatile LONG refs;
    HANDLE done;
    volatile LONG present;
    HMODULE pin;
    BOOL(CORELIB_CALL* verify)(const uinfo* record);
    uinfo record;
};

// Workers still running: at most one, however often LogonUI asks while the token lock is held.
volatile LONG g_checksRunning = 0;

void ReleaseCheck(BoundedCheck* check) {
    if (InterlockedDecrement(&check->refs) != 0) return;
    SecureZeroMemory(&check->record, sizeof(check->record));
    CloseHandle(check->done);
    delete check;
}

DWORD WINAPI BoundedCheckProc(void* param) {
    BoundedCheck* check = static_cast<BoundedCheck*>(param);
    HMODULE pin = check->pin;
    InterlockedExchange(&check->present, check->verify(&check->record) ? 1 : 0);
    // Counted out before the answer is given, so that the next check never finds this one running.
    InterlockedDecrement(&g_checksRunning);
    SetEvent(check->done);
    ReleaseCheck(check);
    if (pin) FreeLibraryAndExitThread(pin, 0);
    return 0;
}

}  // namespace

bool KeyPresentWithinBound(const uinfo* record) {
    if (InterlockedIncrement(&g_checksRunning) != 1) {
        InterlockedDecrement(&g_checksRunning);
        DEBUG_MSG("an earlier key check has not answered: no key");
        return false;
    }
    BoundedCheck* check = new (std::nothrow) BoundedCheck;
    HANDLE done = check ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    if (!done) {
        DWORD error = GetLastError();
        delete check;
        InterlockedDecrement(&g_checksRunning);
        DEBUG_MSG("key check not started, error %lu: no key", static_cast<unsigned long>(error));
        return false;
    }
    check->refs = 2;  // this thread's and the worker's
    check->done = done;
    check->present = 0;
    check->pin = PinModule();
    check->verify = g_tileSeams.VerifyUserInfo;
    memcpy(&check->record, record, sizeof(check->record));
    HANDLE thread = CreateThread(nullptr, 0, BoundedCheckProc, check, 0, nullptr);
    if (!thread) {
        DWORD error = GetLastError();
        if (check->pin) FreeLibrary(check->pin);
        check->refs = 1;
        ReleaseCheck(check);
        InterlockedDecrement(&g_checksRunning);
        DEBUG_MSG("key check not started, error %lu: no key", static_cast<unsigned long>(error));
        return false;
    }
    CloseHandle(thread);
    bool present = false;
    if (WaitForSingleObject(done, g_tileSeams.uiCheckBoundMs) == WAIT_OBJECT_0)
        present = InterlockedCompareExchange(&check->present, 0, 0) != 0;
    else
        DEBUG_MSG("key check gave no answer within %lu ms: no key", static_cast<unsigned long>(g_tileSeams.uiCheckBoundMs));
    ReleaseCheck(check);
    return present;
}

const REPORT_RESULT_STATUS_INFO s_rgLogonStatusInfo[5] = {
    {kStatusLogonFailure, 0, L"用户名或密码错误.", CPSI_ERROR},
    {kStatusAccountRestriction, kStatusAccountDisabled, L"该帐户被禁用.", CPSI_WARNING},
    {kStatusLogonFailure, 0, L"用户名或密码错误,紧急登录有3次机会，您还可以尝试2次.", CPSI_ERROR},
    {kStatusLogonFailure, 0, L"用户名或密码错误,紧急登录有3次机会，您还可以尝试1次.", CPSI_ERROR},
    {kStatusLogonFailure, 0, L"连续3次口令输入错误，系统将自动关机.", CPSI_ERROR},
};

struct CredentialVerifyKey::ThreadStart {
    CredentialVerifyKey* tile;
    LONG generation;
    HMODULE pin;
};

// ---------------------------------------------------------------------------------------------
// Life

CredentialVerifyKey::CredentialVerifyKey() {
    ZeroMemory(_rgCredProvFieldDescriptors, sizeof(_rgCredProvFieldDescriptors));
    ZeroMemory(_rgFieldStatePairs, sizeof(_rgFieldStatePairs));
    ZeroMemory(_rgFieldStrings, sizeof(_rgFieldStrings));
    ZeroMemory(&_lockRecord, sizeof(_lockRecord));
    _userPicture[0] = 0;
    _lockMessage[0] = 0;
    _stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ModuleLock();
    // A new tile starts in key mode with no key thread of an earlier tile running.
    SetMonitorKeyStyle(kLockThread, 0);
    SetMonitorKeyStyle(kHotKey, 0);
    ReadPreferences();
}

CredentialVerifyKey::~CredentialVerifyKey() {
    // Runs once no thread holds the tile any more (possibly on the last of them).
    for (DWORD i = 0; i < SFI_NUM_FIELDS; ++i) {
        FreeText(&_rgFieldStrings[i], i == SFI_PASSWORD);
        CoTaskMemFree(_rgCredProvFieldDescriptors[i].pszLabel);
        _rgCredProvFieldDescriptors[i].pszLabel = nullptr;
    }
    if (_pCredProvCredentialEvents) _pCredProvCredentialEvents->Release();
    if (_pProvider) _pProvider->Release();
    for (HANDLE h : _threads) CloseHandle(h);
    if (_stopEvent) CloseHandle(_stopEvent);
    ModuleUnlock();
}

HRESULT CredentialVerifyKey::Initialize(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                                        const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* rgcpfd,
                                        const FIELD_STATE_PAIR* rgfsp, Provider* provider, PCWSTR userName,
                                        PCWSTR password) {
    TraceScope trace("CredentialVerifyKey::Initialize");
    _cpus = cpus;
    LoadLockMessage();

    if (provider) provider->AddRef();
    if (_pProvider) _pProvider->Release();
    _pProvider = provider;

    for (DWORD i = 0; i < SFI_NUM_FIELDS; ++i) {
        _rgFieldStatePairs[i] = rgfsp[i];
        CoTaskMemFree(_rgCredProvFieldDescriptors[i].pszLabel);
        _rgCredProvFieldDescriptors[i].pszLabel = nullptr;
        if (FAILED(CopyFieldDescriptor(rgcpfd[i], &_rgCredProvFieldDescriptors[i]))) return S_OK;
    }

    const struct {
        DWORD id;
        PCWSTR text;
    } strings[] = {
        {SFI_TITLE, kTitle},
        {SFI_LOCKMESSAGE, _lockMessage},
        {SFI_USERNAME, userName ? userName : L""},
        {SFI_PASSWORD, password ? password : L""},
        {SFI_SUBMIT_BUTTON, kSubmit},
        {SFI_COMMAND_LINK, kEmergencyLink},
    };
    for (const auto& s : strings) {
        FreeText(&_rgFieldStrings[s.id], s.id == SFI_PASSWORD);
        if (FAILED(SHStrDupW(s.text, &_rgFieldStrings[s.id]))) {
            _rgFieldStrings[s.id] = nullptr;
            break;
        }
    }
    return S_OK;
}

void CredentialVerifyKey::ReadPreferences() {
    wchar_t ini[MAX_PATH];
    ZarnRegByDllPath(ini, L"\\Config.ini");
    prefs::Read(ini, L"Preferences", L"LockMes", L"", _lockMessage, MAX_PATH);
    prefs::Read(ini, L"Preferences", L"UserPic", L"", _userPicture, MAX_PATH);
}

void CredentialVerifyKey::LoadLockMessage() {
    // The read consumes the record; a failed read counts as nothing pending.
    if (ReadFromSharedMemory(&_lockRecord, sizeof(_lockRecord)) != 0) ZeroMemory(&_lockRecord, sizeof(_lockRecord));
    PCWSTR text = L"";
    if (_cpus == CPUS_UNLOCK_WORKSTATION) {
        if (_lockRecord.enuLockType == LOCKTYPE_INTERVAL)
            text = kIntervalLocked;
        else if (_lockRecord.enuLockType == LOCKTYPE_KEY_REMOVED)
            text = kKeyRemoved;
    }
    FreeText(&_rgFieldStrings[SFI_STATUS], false);
    if (FAILED(SHStrDupW(text, &_rgFieldStrings[SFI_STATUS]))) _rgFieldStrings[SFI_STATUS] = nullptr;
}

STDMETHODIMP CredentialVerifyKey::QueryInterface(REFIID riid, void** ppv) {
    TraceScope trace("CredentialVerifyKey::QueryInterface");
    if (!ppv) return E_INVALIDARG;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProviderCredential)) {
        *ppv = static_cast<ICredentialProviderCredential*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// Interlocked: the tile's threads hold references and give them back on their own thread.
STDMETHODIMP_(ULONG) CredentialVerifyKey::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&_cRef)); }

STDMETHODIMP_(ULONG) CredentialVerifyKey::Release() {
    LONG count = InterlockedDecrement(&_cRef);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CredentialVerifyKey::Advise(ICredentialProviderCredentialEvents* pcpce) {
    TraceScope trace("CredentialVerifyKey::Advise");
    if (pcpce) pcpce->AddRef();
    if (_pCredProvCredentialEvents) _pCredProvCredentialEvents->Release();
    _pCredProvCredentialEvents = pcpce;
    return S_OK;
}

STDMETHODIMP CredentialVerifyKey::UnAdvise() {
    TraceScope trace("CredentialVerifyKey::UnAdvise");
    if (_pCredProvCredentialEvents) _pCredProvCredentialEvents->Release();
    _pCredProvCredentialEvents = nullptr;
    return S_OK;
}

bool CredentialVerifyKey::IsConnected() const {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&_isConnect), 0, 0) != 0;
}

bool CredentialVerifyKey::KeyPresent() const {
    uinfo record;
    Provider::CopyUserRecord(&record);
    BOOL present = g_tileSeams.VerifyUserInfo(&record);
    SecureZeroMemory(&record, sizeof(record));
    return present != FALSE;
}

// Fails closed: a session whose number cannot be read counts as remote (the password still works).
bool CredentialVerifyKey::RemoteSession() const {
    if (g_seams.GetSystemMetrics(SM_REMOTESESSION) != 0) return true;
    DWORD mine = 0;
    if (!g_seams.ProcessIdToSessionId(GetCurrentProcessId(), &mine)) return true;
    return mine != g_seams.WTSGetActiveConsoleSessionId();
}

// "Switch User" at a locked screen brings a logon tile; the locked session behind it keeps its
// unlock rules. Sessions that cannot be read count as the user's: the key can still be pulled and
// put back, so nobody is locked out.
bool CredentialVerifyKey::EnrolledUserHasSession() const {
    uinfo record;
    Provider::CopyUserRecord(&record);
    record.lpUserName[kRecordTextChars - 1] = 0;
    int answer = g_seams.UserHasSession(record.lpUserName);
    SecureZeroMemory(&record, sizeof(record));
    return answer != kSessionNo;
}

bool CredentialVerifyKey::KeyPresentOnUiThread() const {
    uinfo record;
    Provider::CopyUserRecord(&record);
    bool present = KeyPresentWithinBound(&record);
    SecureZeroMemory(&record, sizeof(record));
    return present;
}

// ---------------------------------------------------------------------------------------------
// Display modes

void CredentialVerifyKey::ClearPassword() {
    PWSTR pw = _rgFieldStrings[SFI_PASSWORD];
    if (!pw) return;
    size_t n = wcsnlen(pw, kMaxClearedPassword);
    if (n < kMaxClearedPassword) SecureZeroMemory(pw, n * sizeof(wchar_t));
}

void CredentialVerifyKey::ShowPwdEdit() {
    TraceScope trace("CredentialVerifyKey::ShowPwdEdit");
    if (ICredentialProviderCredentialEvents* e = _pCredProvCredentialEvents) {
        e->SetFieldString(this, SFI_PASSWORD, L"");
        e->SetFieldState(this, SFI_USERNAME, CPFS_DISPLAY_IN_BOTH);
        e->SetFieldState(this, SFI_PASSWORD, CPFS_DISPLAY_IN_SELECTED_TILE);
        e->SetFieldState(this, SFI_TITLE, CPFS_HIDDEN);
        e->SetFieldState(this, SFI_LOCKMESSAGE, CPFS_HIDDEN);
        e->SetFieldState(this, SFI_SUBMIT_BUTTON, CPFS_DISPLAY_IN_SELECTED_TILE);
        e->SetFieldSubmitButton(this, SFI_SUBMIT_BUTTON, SFI_PASSWORD);
        e->SetFieldString(this, SFI_STATUS, kEnterPassword);
    }
    ClearPassword();
    _passwordMode = true;
}

void CredentialVerifyKey::HidePwdEdit() {
    TraceScope trace("CredentialVerifyKey::HidePwdEdit");
    if (ICredentialProviderCredentialEvents* e = _pCredProvCredentialEvents) {
        uinfo record;
        Provider::CopyUserRecord(&record);
        record.lpUserPWD[kRecordTextChars - 1] = 0;
        e->SetFieldString(this, SFI_PASSWORD, record.lpUserPWD);
        SecureZeroMemory(&record, sizeof(record));
        e->SetFieldState(this, SFI_USERNAME, CPFS_HIDDEN);
        e->SetFieldState(this, SFI_PASSWORD, CPFS_HIDDEN);
        e->SetFieldState(this, SFI_TITLE, CPFS_DISPLAY_IN_BOTH);
        e->SetFieldState(this, SFI_LOCKMESSAGE, CPFS_DISPLAY_IN_BOTH);
        e->SetFieldState(this, SFI_SUBMIT_BUTTON, CPFS_HIDDEN);
    }
    ClearPassword();
    _passwordMode = false;
}

STDMETHODIMP CredentialVerifyKey::SetSelected(BOOL* pbAutoLogon) {
    TraceScope trace("CredentialVerifyKey::SetSelected");
    if (!pbAutoLogon) return E_INVALIDARG;
    *pbAutoLogon = FALSE;
    const bool remote = RemoteSession();
    if (IsConnected()) {
        // Automatic logon with the stored password only while the key is still there.
        if (!remote && KeyPresentOnUiThread()) {
            *pbAutoLogon = TRUE;
            return S_OK;
        }
        InterlockedExchange(&_isConnect, 0);
    }
    // In a remote session the password field, with no key thread and the stored password never
    // shown; the key switches are machine-wide and belong to the console's tile.
    if (remote || GetMonitorKeyStyle(kHotKey) != 0) {
        ShowPwdEdit();
        return S_OK;
    }
    HidePwdEdit();
    _unlockRules = _cpus == CPUS_UNLOCK_WORKSTATION || (_cpus == CPUS_LOGON && EnrolledUserHasSession());
    if (_unlockRules) {
        // Into an existing session there may be no pending lock record (the unlock tile shown
        // before "Switch User" took it): that lock counts as one that asks for the password.
        LONG type = _lockRecord.enuLockType;
        bool passwordLock = type == LOCKTYPE_INTERVAL || type == LOCKTYPE_KEY_REMOVED || _cpus == CPUS_LOGON;
        if (passwordLock && GetMonitorKeyStyle(kUnlockCheckKey) == 0) {
            SetMonitorKeyStyle(kLockThread, 0);
            ShowPwdEdit();
        } else {
            SetMonitorKeyStyle(kLockThread, 1);
            StartKeyThread();
        }
    } else if (_cpus == CPUS_LOGON) {
        if (GetMonitorKeyStyle(kBootCheckKey) != 0) {
            SetMonitorKeyStyle(kLockThread, 1);
            StartHotKeyThread();
            StartKeyThread();
        } else {
            SetMonitorKeyStyle(kLockThread, 0);
            ShowPwdEdit();
        }
    }
    return S_OK;
}

STDMETHODIMP CredentialVerifyKey::SetDeselected() {
    TraceScope trace("CredentialVerifyKey::SetDeselected");
    SetMonitorKeyStyle(kLockThread, 0);
    PWSTR& pw = _rgFieldStrings[SFI_PASSWORD];
    if (!pw) return S_OK;
    size_t n = wcsnlen(pw, kMaxClearedPassword);
    if (n >= kMaxClearedPassword) return E_INVALIDARG;
    SecureZeroMemory(pw, n * sizeof(wchar_t));
    PWSTR empty = nullptr;
    HRESULT hr = SHStrDupW(L"", &empty);
    if (FAILED(hr)) return hr;  // the old one is empty now all the same
    CoTaskMemFree(pw);
    pw = empty;
    if (_pCredProvCredentialEvents) _pCredProvCredentialEvents->SetFieldString(this, SFI_PASSWORD, pw);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Field values

STDMETHODIMP CredentialVerifyKey::GetFieldState(DWORD dwFieldID, CREDENTIAL_PROVIDER_FIELD_STATE* pcpfs,
                                                CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* pcpfis) {
    TraceScope trace("CredentialVerifyKey::GetFieldState");
    if (dwFieldID >= SFI_NUM_FIELDS || !pcpfs || !pcpfis) return E_INVALIDARG;
    *pcpfs = _rgFieldStatePairs[dwFieldID].cpfs;
    *pcpfis = _rgFieldStatePairs[dwFieldID].cpfis;
    return S_OK;
}

STDMETHODIMP CredentialVerifyKey::GetStringValue(DWORD dwFieldID, LPWSTR* ppwsz) {
    TraceScope trace("CredentialVerifyKey::GetStringValue");
    if (dwFieldID >= SFI_NUM_FIELDS || !ppwsz) return E_INVALIDARG;
    *ppwsz = nullptr;
    if (!_rgFieldStrings[dwFieldID]) return E_INVALIDARG;  // the picture field has no text
    return SHStrDupW(_rgFieldStrings[dwFieldID], ppwsz);
}

STDMETHODIMP CredentialVerifyKey::GetBitmapValue(DWORD dwFieldID, HBITMAP* phbmp) {
    TraceScope trace("CredentialVerifyKey::GetBitmapValue");
    if (dwFieldID != SFI_TILEIMAGE || !phbmp) return E_INVALIDARG;
    *phbmp = nullptr;
    // LogonUI runs as SYSTEM: a path it may not open gets LogonUI's own picture.
    if (!keydlg::IsLocalFixedPath(_userPicture)) {
        if (_userPicture[0]) DEBUG_MSG("user picture not on a local fixed drive: not opened");
        return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
    }
    HBITMAP bitmap = LoadPicture(_userPicture);
    if (!bitmap) {
        DWORD error = GetLastError();
        DEBUG_MSG("user picture not loaded, error %lu", static_cast<unsigned long>(error));
        // HRESULT_FROM_WIN32(0) would be S_OK without a bitmap.
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    *phbmp = bitmap;
    return S_OK;
}

STDMETHODIMP CredentialVerifyKey::GetCheckboxValue(DWORD, BOOL*, LPWSTR*) { return E_NOTIMPL; }

STDMETHODIMP CredentialVerifyKey::GetSubmitButtonValue(DWORD dwFieldID, DWORD* pdwAdjacentTo) {
    TraceScope trace("CredentialVerifyKey::GetSubmitButtonValue");
    if (dwFieldID != SFI_SUBMIT_BUTTON || !pdwAdjacentTo) return E_INVALIDARG;
    *pdwAdjacentTo = SFI_TITLE;
    return S_OK;
}

STDMETHODIMP CredentialVerifyKey::GetComboBoxValueCount(DWORD, DWORD*, DWORD*) { return E_NOTIMPL; }

STDMETHODIMP CredentialVerifyKey::GetComboBoxValueAt(DWORD, DWORD, LPWSTR*) { return E_NOTIMPL; }

STDMETHODIMP CredentialVerifyKey::SetStringValue(DWORD dwFieldID, LPCWSTR pwz) {
    TraceScope trace("CredentialVerifyKey::SetStringValue");
    if (dwFieldID >= SFI_NUM_FIELDS || !pwz) return E_INVALIDARG;
    CREDENTIAL_PROVIDER_FIELD_TYPE type = _rgCredProvFieldDescriptors[dwFieldID].cpft;
    if (type != CPFT_EDIT_TEXT && type != CPFT_PASSWORD_TEXT) return E_INVALIDARG;
    // The copy first: a failed one keeps what the field held.
    PWSTR copy = nullptr;
    HRESULT hr = SHStrDupW(pwz, &copy);
    if (FAILED(hr)) return hr;
    FreeText(&_rgFieldStrings[dwFieldID], type == CPFT_PASSWORD_TEXT);
    _rgFieldStrings[dwFieldID] = copy;
    return S_OK;
}

STDMETHODIMP CredentialVerifyKey::SetCheckboxValue(DWORD, BOOL) { return E_NOTIMPL; }

STDMETHODIMP CredentialVerifyKey::SetComboBoxSelectedValue(DWORD, DWORD) { return E_NOTIMPL; }

STDMETHODIMP CredentialVerifyKey::CommandLinkClicked(DWORD) {
    TraceScope trace("CredentialVerifyKey::CommandLinkClicked");
    SetMonitorKeyStyle(kLockThread, 0);
    ShowPwdEdit();
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------------
// Logon

STDMETHODIMP CredentialVerifyKey::GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* pcpgsr,
                                                   CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs, LPWSTR*,
                                                   CREDENTIAL_PROVIDER_STATUS_ICON*) {
    TraceScope trace("CredentialVerifyKey::GetSerialization");
    if (!pcpgsr || !pcpcs) return E_INVALIDARG;
    *pcpgsr = CPGSR_NO_CREDENTIAL_NOT_FINISHED;

    wchar_t domain[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD cch = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(domain, &cch)) {
        DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }

    // The key found by the key thread must still be there when its password leaves the tile.
    // Never in a remote session, whatever the key thread found before.
    const bool remote = RemoteSession();
    bool keyLogon = IsConnected() && !remote && KeyPresentOnUiThread();
    bool keyLost = IsConnected() && !keyLogon;
    if (keyLost) InterlockedExchange(&_isConnect, 0);

    HRESULT hr;
    if (keyLogon) {
        // LogonUI never gives the password field's text back, so the stored password is sent
        // from the record itself, with the stored user name.
        uinfo record;
        Provider::CopyUserRecord(&record);
        record.lpUserName[kRecordTextChars - 1] = 0;
        record.lpUserPWD[kRecordTextChars - 1] = 0;
        hr = SerializeLogon(domain, record.lpUserName, record.lpUserPWD, _cpus, pcpcs);
        SecureZeroMemory(&record, sizeof(record));
    } else if (_passwordMode) {
        hr = SerializeLogon(domain, _rgFieldStrings[SFI_USERNAME] ? _rgFieldStrings[SFI_USERNAME] : L"",
                            _rgFieldStrings[SFI_PASSWORD] ? _rgFieldStrings[SFI_PASSWORD] : L"", _cpus, pcpcs);
    } else {
        // Key mode without the key: nothing to send. When the key went after the key thread had
        // found it (that thread has ended), wait for it again.
        if (remote) {
            ShowPwdEdit();
            return S_OK;
        }
        if (keyLost && !Stopped()) {
            SetMonitorKeyStyle(kLockThread, 1);
            StartKeyThread();
        }
        return S_OK;
    }
    if (FAILED(hr)) return hr;
    _lastLogonWasKey = keyLogon;
    *pcpgsr = CPGSR_RETURN_CREDENTIAL_FINISHED;
    return S_OK;
}

void CredentialVerifyKey::SetStatus(size_t row, LPWSTR* text, CREDENTIAL_PROVIDER_STATUS_ICON* icon) {
    if (!text || row > kLastRow) return;
    if (SUCCEEDED(SHStrDupW(s_rgLogonStatusInfo[row].pwzMessage, text)) && icon) *icon = s_rgLogonStatusInfo[row].cpsi;
}

STDMETHODIMP CredentialVerifyKey::ReportResult(NTSTATUS ntsStatus, NTSTATUS ntsSubstatus,
                                               LPWSTR* ppwszOptionalStatusText,
                                               CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) {
    TraceScope trace("CredentialVerifyKey::ReportResult");
    DEBUG_MSG("status 0x%08lx substatus 0x%08lx", static_cast<unsigned long>(ntsStatus),
              static_cast<unsigned long>(ntsSubstatus));
    if (ppwszOptionalStatusText) *ppwszOptionalStatusText = nullptr;
    if (pcpsiOptionalStatusIcon) *pcpsiOptionalStatusIcon = CPSI_NONE;

    if (ntsStatus >= 0) {
        SignalService();
        m_LogoErrorCount = 0;
        if (!_noFailure && !_lastLogonWasKey) StoreTypedPassword();
        return S_OK;
    }

    _noFailure = FALSE;
    InterlockedExchange(&_isConnect, 0);
    SetMonitorKeyStyle(kLockThread, 0);
    if (GetMonitorKeyStyle(kHotKey) != 0) {
        if (m_LogoErrorCount < kFailuresBeforeShutdown) ++m_LogoErrorCount;
        // Should the shut-down not happen, every further failure shows its text again.
        SetStatus(std::min<size_t>(m_LogoErrorCount + kFirstCountRow - 1, kLastRow), ppwszOptionalStatusText,
                  pcpsiOptionalStatusIcon);
        if (m_LogoErrorCount >= kFailuresBeforeShutdown) ForceShutdown();
    } else {
        for (size_t row = 0; row < kFirstCountRow; ++row) {
            if (s_rgLogonStatusInfo[row].ntsStatus == ntsStatus && s_rgLogonStatusInfo[row].ntsSubstatus == ntsSubstatus) {
                SetStatus(row, ppwszOptionalStatusText, pcpsiOptionalStatusIcon);
                break;
            }
        }
    }
    if (_pCredProvCredentialEvents) ShowPwdEdit();
    return S_OK;
}

void CredentialVerifyKey::SignalService() {
    // No service yet (first boot before Sentry is installed): nobody waits.
    HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, CORELIB_ALERT_EVENT);
    if (!event) return;
    SetEvent(event);
    CloseHandle(event);
}

void CredentialVerifyKey::StoreTypedPassword() {
    PCWSTR user = _rgFieldStrings[SFI_USERNAME];
    PCWSTR typed = _rgFieldStrings[SFI_PASSWORD];
    if (!user || !typed || !*user) return;
    // A password the record cannot hold whole is not stored: a cut one would never work.
    if (wcsnlen(typed, kRecordTextChars) >= kRecordTextChars || wcsnlen(user, kRecordTextChars) >= kRecordTextChars)
        return;

    uinfo record;
    Provider::CopyUserRecord(&record);
    bool enrolledUser = wcsncmp(record.lpUserName, user, kRecordTextChars) == 0;
    SecureZeroMemory(&record, sizeof(record));
    if (!enrolledUser) return;

    // Written into the stored record as it is now, so that changes made since this process read
    // it (enrolled disks, the software password) are kept.
    uinfo stored;
    ZeroMemory(&stored, sizeof(stored));
    if (GetUserInfo(&stored) && wcsncmp(stored.lpUserName, user, kRecordTextChars) == 0) {
        SecureZeroMemory(stored.lpUserPWD, sizeof(stored.lpUserPWD));
        memcpy(stored.lpUserPWD, typed, wcslen(typed) * sizeof(wchar_t));
        if (!SetUserInfo(&stored)) DEBUG_MSG("SetUserInfo failed, error %lu", static_cast<unsigned long>(GetLastError()));
    }
    SecureZeroMemory(&stored, sizeof(stored));
    // This process's key logons use it from now on.
    Provider::StorePassword(typed);
}

BOOL CredentialVerifyKey::ForceShutdown() {
    TraceScope trace("CredentialVerifyKey::ForceShutdown");
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return FALSE;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL enabled = LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                   GetLastError() == ERROR_SUCCESS;  // ERROR_NOT_ALL_ASSIGNED: not held
    CloseHandle(token);
    if (!enabled) return FALSE;
    return g_seams.ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE, kShutdownReason);
}

// ---------------------------------------------------------------------------------------------
// Threads

bool CredentialVerifyKey::Stopped() const {
    return _stopEvent && WaitForSingleObject(_stopEvent, 0) == WAIT_OBJECT_0;
}

bool CredentialVerifyKey::Pause() const { return Pause(g_seams.keyPollPeriodMs); }

bool CredentialVerifyKey::Pause(DWORD period) const {
    if (!_stopEvent) {
        Sleep(period);
        return true;
    }
    return WaitForSingleObject(_stopEvent, period) == WAIT_TIMEOUT;
}

bool CredentialVerifyKey::KeyThreadMayRun(LONG generation) const {
    if (Stopped()) return false;
    if (InterlockedCompareExchange(const_cast<volatile LONG*>(&_keyGeneration), 0, 0) != generation) return false;
    return GetMonitorKeyStyle(kLockThread) != 0;
}

bool CredentialVerifyKey::StartThread(LPTHREAD_START_ROUTINE proc, LONG generation, DWORD* threadId) {
    // Handles of threads that have ended are given back first.
    for (size_t i = 0; i < _threads.size();) {
        if (WaitForSingleObject(_threads[i], 0) == WAIT_OBJECT_0) {
            CloseHandle(_threads[i]);
            _threads.erase(_threads.begin() + static_cast<ptrdiff_t>(i));
            _threadIds.erase(_threadIds.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    try {
        _threads.reserve(_threads.size() + 1);
        _threadIds.reserve(_threadIds.size() + 1);
    } catch (...) {
        return false;
    }
    ThreadStart* start = new (std::nothrow) ThreadStart{this, generation, PinModule()};
    if (!start) return false;
    AddRef();  // the thread's reference, given back by the thread
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, proc, start, 0, &id);
    if (!thread) {
        if (start->pin) FreeLibrary(start->pin);
        delete start;
        Release();
        return false;
    }
    _threads.push_back(thread);
    _threadIds.push_back(id);
    if (threadId) *threadId = id;
    return true;
}

void CredentialVerifyKey::StartKeyThread() {
    LONG generation = InterlockedIncrement(&_keyGeneration);
    if (!StartThread(_VerifyUserInfoThreadProc, generation, nullptr))
        DEBUG_MSG("key thread not started, error %lu", static_cast<unsigned long>(GetLastError()));
}

void CredentialVerifyKey::StartHotKeyThread() {
    // One per tile: a second one could never register F8 anyway.
    if (_hotKeyThreadStarted) return;
    _hotKeyThreadStarted = StartThread(_CommandLink, 0, nullptr);
}

void CredentialVerifyKey::StopThreads(bool wait) {
    TraceScope trace("CredentialVerifyKey::StopThreads");
    if (_stopEvent) SetEvent(_stopEvent);
    if (!wait) return;
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    DWORD self = GetCurrentThreadId();
    for (size_t i = 0; i < _threads.size() && n < MAXIMUM_WAIT_OBJECTS; ++i)
        if (_threadIds[i] != self) handles[n++] = _threads[i];
    if (n) WaitForMultipleObjects(n, handles, TRUE, kStopWaitMs);
}

DWORD WINAPI CredentialVerifyKey::_VerifyUserInfoThreadProc(void* param) {
    ThreadStart start = *static_cast<ThreadStart*>(param);
    delete static_cast<ThreadStart*>(param);
    start.tile->RunKeyThread(start.generation);
    start.tile->Release();
    if (start.pin) FreeLibraryAndExitThread(start.pin, 0);
    return 0;
}

DWORD WINAPI CredentialVerifyKey::_CommandLink(void* param) {
    ThreadStart start = *static_cast<ThreadStart*>(param);
    delete static_cast<ThreadStart*>(param);
    start.tile->RunHotKeyThread();
    start.tile->Release();
    if (start.pin) FreeLibraryAndExitThread(start.pin, 0);
    return 0;
}

void CredentialVerifyKey::RunKeyThread(LONG generation) {
    TraceScope trace("CredentialVerifyKey::_VerifyUserInfoThreadProc");
    if (_cpus == CPUS_UNLOCK_WORKSTATION || _unlockRules) {
        // A key left in at the lock does not unlock: it must be pulled and inserted again, and
        // "pulled" means absent in consecutive polls, not one read that failed.
        int absent = 0;
        for (;;) {
            absent = KeyPresent() ? 0 : absent + 1;
            if (absent >= kAbsentPollsBeforeReturn) break;
            DWORD wait = g_seams.keyPollPeriodMs;
            if (absent && wait > kAbsentConfirmMs) wait = kAbsentConfirmMs;
            if (!KeyThreadMayRun(generation) || !Pause(wait)) return;
        }
    } else if (_cpus != CPUS_LOGON) {
        return;
    }
    if (!KeyThreadMayRun(generation)) return;
    while (!KeyPresent()) {
        if (!Pause() || !KeyThreadMayRun(generation)) return;
    }
    InterlockedExchange(&_isConnect, 1);
    DEBUG_MSG("key found");
    if (_pProvider && !Stopped()) _pProvider->OnConnectStatusChanged();
}

void CredentialVerifyKey::RunHotKeyThread() {
    TraceScope trace("CredentialVerifyKey::_CommandLink");
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for WM_HOTKEY
    BOOL registered = RegisterHotKey(nullptr, 1, 0, VK_F8);
    if (!registered) DEBUG_MSG("RegisterHotKey F8 failed, error %lu", static_cast<unsigned long>(GetLastError()));
    for (;;) {
        DWORD woke = _stopEvent ? MsgWaitForMultipleObjects(1, &_stopEvent, FALSE, INFINITE, QS_ALLINPUT)
                                : MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_FAILED || (_stopEvent && woke == WAIT_OBJECT_0)) break;
        bool quit = false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                break;
            }
            if (msg.message == WM_HOTKEY && !Stopped()) {
                SetMonitorKeyStyle(kLockThread, 0);
                SetMonitorKeyStyle(kHotKey, GetMonitorKeyStyle(kHotKey) == 0 ? 1 : 0);
                if (_pProvider) _pProvider->OnConnectStatusChanged();
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (quit) break;
    }
    // A tile let go gives F8 back for the next one.
    if (registered) UnregisterHotKey(nullptr, 1);
}

}  // namespace logontile
