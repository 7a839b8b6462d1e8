// In-process fixture for the provider and its key tile, linked with Logontile's objects: LogonUI's
// two sinks as recorders, the seams counted (service start, shut-down) with a short key poll, and
// a user enrolled with a simulated USB disk as key.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "credentialverifykey.h"
#include "logonui_host.h"
#include "module.h"
#include "provider.h"
#include "seams.h"
#include "tilesupport.h"
#include "usbdisk.h"

namespace lt {

using logontile::CredentialVerifyKey;
using logontile::Provider;

constexpr NTSTATUS kLogonFailure = static_cast<NTSTATUS>(0xC000006D);
constexpr NTSTATUS kRestriction = static_cast<NTSTATUS>(0xC000006E);
constexpr NTSTATUS kDisabled = static_cast<NTSTATUS>(0xC0000072);
constexpr ULONG kPackage = 0x4E47;
constexpr DWORD kPeriod = 20;  // the key poll in these tests

inline bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs) { return ts::WaitFor(pred, timeoutMs, 5); }

inline std::string Utf8(const std::wstring& s) { return ts::Narrow(s); }

// LogonUI's credential events: every call as a line, and calls made off the caller's thread.
class RecordingCredentialEvents : public ICredentialProviderCredentialEvents {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProviderCredentialEvents)) {
            *ppv = static_cast<ICredentialProviderCredentialEvents*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    STDMETHODIMP SetFieldState(ICredentialProviderCredential*, DWORD id, CREDENTIAL_PROVIDER_FIELD_STATE s) override {
        return Note("State " + std::to_string(id) + " " + logonui::FieldStateName(s));
    }
    STDMETHODIMP SetFieldInteractiveState(ICredentialProviderCredential*, DWORD id,
                                          CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE s) override {
        return Note("Interactive " + std::to_string(id) + " " + logonui::InteractiveStateName(s));
    }
    STDMETHODIMP SetFieldString(ICredentialProviderCredential* pcpc, DWORD id, LPCWSTR text) override {
        Note("String " + std::to_string(id) + " " + (text ? Utf8(text) : "NULL"));
        if (echo && pcpc && id == 2 && text) pcpc->SetStringValue(id, text);
        return S_OK;
    }
    STDMETHODIMP SetFieldCheckbox(ICredentialProviderCredential*, DWORD id, BOOL, LPCWSTR) override {
        return Note("Checkbox " + std::to_string(id));
    }
    STDMETHODIMP SetFieldBitmap(ICredentialProviderCredential*, DWORD id, HBITMAP) override {
        return Note("Bitmap " + std::to_string(id));
    }
    STDMETHODIMP SetFieldComboBoxSelectedItem(ICredentialProviderCredential*, DWORD id, DWORD) override {
        return Note("Combo " + std::to_string(id));
    }
    STDMETHODIMP DeleteFieldComboBoxItem(ICredentialProviderCredential*, DWORD id, DWORD) override {
        return Note("Combo " + std::to_string(id));
    }
    STDMETHODIMP AppendFieldComboBoxItem(ICredentialProviderCredential*, DWORD id, LPCWSTR) override {
        return Note("Combo " + std::to_string(id));
    }
    STDMETHODIMP SetFieldSubmitButton(ICredentialProviderCredential*, DWORD id, DWORD adjacent) override {
        return Note("Button " + std::to_string(id) + " " + std::to_string(adjacent));
    }
    STDMETHODIMP OnCreatingWindow(HWND*) override { return E_NOTIMPL; }

    HRESULT Note(const std::string& line) {
        if (GetCurrentThreadId() != owner) InterlockedIncrement(&offThread);
        calls.push_back(line);
        return S_OK;
    }

    volatile LONG refs = 1;
    DWORD owner = GetCurrentThreadId();
    volatile LONG offThread = 0;
    bool echo = false;  // give field 2's text back at once, as a LogonUI that echoed would
    std::vector<std::string> calls;
};

// LogonUI's provider events: counts CredentialsChanged from any thread.
class CountingProviderEvents : public ICredentialProviderEvents {
public:
    CountingProviderEvents() : signal(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~CountingProviderEvents() { CloseHandle(signal); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProviderEvents)) {
            *ppv = static_cast<ICredentialProviderEvents*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    STDMETHODIMP CredentialsChanged(UINT_PTR context) override {
        lastContext = context;
        InterlockedIncrement(&changes);
        SetEvent(signal);
        return S_OK;
    }
    bool WaitChange(DWORD ms) { return WaitForSingleObject(signal, ms) == WAIT_OBJECT_0; }

    volatile LONG refs = 1;
    volatile LONG changes = 0;
    volatile UINT_PTR lastContext = 0;
    HANDLE signal;
};

// Seams: what the in-process tests see instead of the machine.
struct SeamRecord {
    int serviceStarts = 0;
    BOOL lastStart = FALSE;
    int shutdowns = 0;
    UINT shutdownFlags = 0;
    DWORD shutdownReason = 0;
    BOOL shutdownAnswer = TRUE;
    // Session facts the tile is given: a local console session, and no session of any user.
    int remoteMetric = 0;
    BOOL sessionIdRead = TRUE;
    DWORD ownSession = 1, consoleSession = 1;
    int userHasSession = logontile::kSessionNo;
    std::vector<std::wstring> sessionQueries;
};
inline SeamRecord& Seen() {
    static SeamRecord record;
    return record;
}
inline INT_PTR CORELIB_CALL CountServiceStart(BOOL start) {
    ++Seen().serviceStarts;
    Seen().lastStart = start;
    return 42;  // what ShellExecute gives for a started program
}
inline BOOL WINAPI CountShutdown(UINT flags, DWORD reason) {
    ++Seen().shutdowns;
    Seen().shutdownFlags = flags;
    Seen().shutdownReason = reason;
    return Seen().shutdownAnswer;
}
inline int WINAPI AnswerMetric(int index) {
    return index == SM_REMOTESESSION ? Seen().remoteMetric : GetSystemMetrics(index);
}
inline BOOL WINAPI AnswerSessionId(DWORD pid, DWORD* session) {
    if (pid != GetCurrentProcessId() || !Seen().sessionIdRead) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *session = Seen().ownSession;
    return TRUE;
}
inline DWORD WINAPI AnswerConsoleSession() { return Seen().consoleSession; }
inline int AnswerUserHasSession(const wchar_t* user) {
    Seen().sessionQueries.push_back(user ? user : L"(null)");
    return Seen().userHasSession;
}
inline NTSTATUS NTAPI AnswerNegotiate(HANDLE, PLSA_STRING, PULONG package) {
    *package = kPackage;
    return 0;
}

class TileFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        ts::RemoveAllSimulatedDisks();
        Seen() = SeamRecord();
        logontile::g_seams.keyPollPeriodMs = kPeriod;
        logontile::g_seams.StartOrStopService = CountServiceStart;
        logontile::g_seams.ExitWindowsEx = CountShutdown;
        logontile::g_seams.LsaLookupAuthenticationPackage = AnswerNegotiate;
        logontile::g_seams.GetSystemMetrics = AnswerMetric;
        logontile::g_seams.ProcessIdToSessionId = AnswerSessionId;
        logontile::g_seams.WTSGetActiveConsoleSessionId = AnswerConsoleSession;
        logontile::g_seams.UserHasSession = AnswerUserHasSession;
        install_.reset(new InstallFolder());
        disk_.reset(new ts::UsbDisk(ts::UsbDisk::FlashDisk(L"TILEKEY1")));
        Enrol(L"bob", L"pw", disk_->Id());
        ASSERT_EQ(CreateSharedMemory(), 0u);
        ASSERT_EQ(logonui::WriteLockRecord(LOCKTYPE_NONE), 0u);
        // GoogleTest starts a watcher thread the first time a thread keeps a trace: before the count.
        { SCOPED_TRACE("count threads"); }
        baseThreads_ = logonui::CountThreads(GetModuleHandleW(nullptr));
    }

    void TearDown() override {
        Close();
        logontile::g_seams = logontile::kRealSeams;
        disk_.reset();
        ts::RemoveAllSimulatedDisks();
        install_.reset();
    }

    // A provider for the scenario (through the class's creation function, as the factory does),
    // advised, with its tile taken and advised. Returns SetUsageScenario's result.
    HRESULT Open(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
        Close();
        void* p = nullptr;
        EXPECT_EQ(logontile::Provider_CreateInstance(IID_ICredentialProvider, &p), S_OK);
        provider_ = static_cast<ICredentialProvider*>(p);
        if (!provider_) return E_UNEXPECTED;
        HRESULT hr = provider_->SetUsageScenario(cpus, 0);
        provider_->Advise(&providerEvents_, 0x77);
        if (SUCCEEDED(hr)) TakeTile();
        return hr;
    }

    Provider* provider() const { return static_cast<Provider*>(provider_); }

    // The provider's current tile, advised with the recorder (the earlier one let go).
    void TakeTile() {
        ReleaseTile();
        ICredentialProviderCredential* c = nullptr;
        ASSERT_EQ(provider_->GetCredentialAt(0, &c), S_OK);
        tile_ = static_cast<CredentialVerifyKey*>(c);
        tile_->Advise(&events_);
        events_.calls.clear();
    }

    void ReleaseTile() {
        if (!tile_) return;
        tile_->UnAdvise();
        tile_->Release();
        tile_ = nullptr;
    }

    // Provider and tile hold each other and so outlive the test: their threads are stopped and
    // nothing of the test stays advised.
    void Close() {
        if (tile_) tile_->StopThreads(true);
        ReleaseTile();
        if (provider_) {
            provider_->UnAdvise();
            provider_->Release();
            provider_ = nullptr;
        }
    }

    BOOL Select() {
        BOOL autoLogon = 2;
        EXPECT_EQ(tile_->SetSelected(&autoLogon), S_OK);
        return autoLogon;
    }

    // GetSerialization; the decoded block when a credential came back.
    HRESULT Serialize(logonui::DecodedLogon* logon, CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response) {
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
        LPWSTR text = nullptr;
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
        auto r = static_cast<CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE>(-1);
        HRESULT hr = tile_->GetSerialization(&r, &cs, &text, &icon);
        EXPECT_EQ(text, nullptr);
        if (response) *response = r;
        if (logon) *logon = logonui::DecodeUnlockLogon(cs.rgbSerialization, cs.cbSerialization);
        if (cs.rgbSerialization) {
            EXPECT_EQ(cs.ulAuthenticationPackage, kPackage);
            EXPECT_TRUE(IsEqualCLSID(cs.clsidCredentialProvider, CLSID_Logontile));
            CoTaskMemFree(cs.rgbSerialization);
        }
        return hr;
    }

    struct Report {
        std::wstring text;  // "(none)" when no text came back
        CREDENTIAL_PROVIDER_STATUS_ICON icon;
    };
    Report ReportResult(NTSTATUS status, NTSTATUS substatus = 0) {
        LPWSTR text = reinterpret_cast<LPWSTR>(1);
        auto icon = static_cast<CREDENTIAL_PROVIDER_STATUS_ICON>(-1);
        EXPECT_EQ(tile_->ReportResult(status, substatus, &text, &icon), S_OK);
        Report r = {text ? std::wstring(text) : L"(none)", icon};
        CoTaskMemFree(text);
        return r;
    }

    std::wstring String(DWORD id) {
        LPWSTR text = nullptr;
        if (FAILED(tile_->GetStringValue(id, &text))) return L"(fails)";
        std::wstring s = text;
        CoTaskMemFree(text);
        return s;
    }

    // The tile's threads beyond those the test started with.
    int ExtraThreads() const { return logonui::CountThreads(GetModuleHandleW(nullptr)) - baseThreads_; }
    ::testing::AssertionResult WaitExtraThreads(int n, DWORD ms = 3000) const {
        if (WaitUntil([&] { return ExtraThreads() == n; }, ms)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << ExtraThreads() << " extra threads, not " << n;
    }

    std::unique_ptr<InstallFolder> install_;
    std::unique_ptr<ts::UsbDisk> disk_;
    int baseThreads_ = 0;
    ICredentialProvider* provider_ = nullptr;
    CredentialVerifyKey* tile_ = nullptr;
    RecordingCredentialEvents events_;
    CountingProviderEvents providerEvents_;
};

// What LogonUI shows after a series of calls: each field's state and text, and the submit button's
// neighbour. Only what the calls leave matters, not the order they come in, but for the one order
// checked by ClearsThePasswordBeforeShowingIt.
struct Fields {
    std::map<DWORD, std::string> state, text;
    std::string button;
    bool operator==(const Fields& o) const { return state == o.state && text == o.text && button == o.button; }
};
inline void Apply(const std::string& call, Fields* f) {
    std::istringstream in(call);
    std::string kind;
    DWORD id = 0;
    in >> kind >> id;
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (kind == "State") f->state[id] = rest;
    else if (kind == "String") f->text[id] = rest;
    else if (kind == "Button") f->button = std::to_string(id) + " " + rest;
}
inline Fields Shown(const std::vector<std::string>& calls, Fields f = Fields()) {
    for (const std::string& c : calls) Apply(c, &f);
    return f;
}
// Only the fields a mode sets, so that a mode's picture compares whatever came before it.
inline Fields Only(const Fields& shown, const Fields& like) {
    Fields f;
    for (const auto& s : like.state) f.state[s.first] = shown.state.count(s.first) ? shown.state.at(s.first) : "";
    for (const auto& t : like.text) f.text[t.first] = shown.text.count(t.first) ? shown.text.at(t.first) : "<unset>";
    if (!like.button.empty()) f.button = shown.button;
    return f;
}
inline std::ostream& operator<<(std::ostream& os, const Fields& f) {
    for (const auto& s : f.state) os << "[" << s.first << " " << s.second << "]";
    for (const auto& t : f.text) os << "[" << t.first << " \"" << t.second << "\"]";
    return os << "[button " << f.button << "]";
}

// The two display modes, as LogonUI shows them.
inline Fields KeyModeFields(const std::string& storedPassword) {
    Fields f;
    f.state = {{1, "CPFS_HIDDEN"}, {2, "CPFS_HIDDEN"}, {3, "CPFS_DISPLAY_IN_BOTH"}, {5, "CPFS_DISPLAY_IN_BOTH"},
               {6, "CPFS_HIDDEN"}};
    f.text = {{2, storedPassword}};
    return f;
}
inline Fields PasswordModeFields() {
    Fields f;
    f.state = {{1, "CPFS_DISPLAY_IN_BOTH"}, {2, "CPFS_DISPLAY_IN_SELECTED_TILE"}, {3, "CPFS_HIDDEN"},
               {5, "CPFS_HIDDEN"}, {6, "CPFS_DISPLAY_IN_SELECTED_TILE"}};
    f.text = {{2, ""}, {4, "请输入密码登录"}};
    f.button = "6 2";
    return f;
}
// True when the calls, replayed one by one, showed that mode at some point.
inline bool EverShowed(const std::vector<std::string>& calls, const Fields& mode) {
    Fields f;
    for (const std::string& c : calls) {
        Apply(c, &f);
        if (Only(f, mode) == mode) return true;
    }
    return false;
}
// The order that matters: the password field is emptied before it is shown, so that a stored
// password is never on screen, even for a moment.
inline ::testing::AssertionResult ClearsThePasswordBeforeShowingIt(const std::vector<std::string>& calls) {
    Fields f;
    for (const std::string& c : calls) {
        Apply(c, &f);
        if (f.state.count(2) && f.state[2] != "CPFS_HIDDEN" && f.text.count(2) && !f.text[2].empty())
            return ::testing::AssertionFailure() << "field 2 shown holding \"" << f.text[2] << "\" after: " << c;
    }
    return ::testing::AssertionSuccess();
}
// A whole password mode: what it leaves, and its one order.
inline ::testing::AssertionResult ShowsPasswordMode(const std::vector<std::string>& calls) {
    const Fields mode = PasswordModeFields(), shown = Only(Shown(calls), mode);
    if (!(shown == mode)) return ::testing::AssertionFailure() << "shown " << shown << ", not " << mode;
    return ClearsThePasswordBeforeShowingIt(calls);
}
inline ::testing::AssertionResult ShowsKeyMode(const std::vector<std::string>& calls, const std::string& stored) {
    const Fields mode = KeyModeFields(stored), shown = Only(Shown(calls), mode);
    if (!(shown == mode)) return ::testing::AssertionFailure() << "shown " << shown << ", not " << mode;
    return ::testing::AssertionSuccess();
}

}  // namespace lt
