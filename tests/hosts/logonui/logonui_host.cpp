#include "logonui_host.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <map>

#include <tlhelp32.h>

#include "corelib.h"
#include "testsupport.h"
#include "threads.h"
#include "usbdisk.h"

namespace logonui {

namespace {

constexpr UINT kMsgChanged = WM_APP + 1;
constexpr UINT kMsgEcho = WM_APP + 2;
const wchar_t kWindowClass[] = L"TolvenLogonUiHost";

constexpr NTSTATUS kStatusLogonFailure = static_cast<NTSTATUS>(0xC000006D);
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusNoSuchPackage = static_cast<NTSTATUS>(0xC00000FE);

struct EchoItem {
    DWORD field;
    std::wstring text;
};

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, 0);
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Hr(HRESULT hr) { return ts::Hex(static_cast<unsigned long>(hr)); }

bool TextType(CREDENTIAL_PROVIDER_FIELD_TYPE t) {
    return t == CPFT_LARGE_TEXT || t == CPFT_SMALL_TEXT || t == CPFT_COMMAND_LINK || t == CPFT_EDIT_TEXT ||
           t == CPFT_PASSWORD_TEXT;
}

bool EditableType(CREDENTIAL_PROVIDER_FIELD_TYPE t) { return t == CPFT_EDIT_TEXT || t == CPFT_PASSWORD_TEXT; }

bool ShownInSelectedTile(CREDENTIAL_PROVIDER_FIELD_STATE s) {
    return s == CPFS_DISPLAY_IN_SELECTED_TILE || s == CPFS_DISPLAY_IN_BOTH;
}

ULONG ExpectedMessageType(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
    switch (cpus) {
    case CPUS_LOGON:
        return 2;  // KerbInteractiveLogon
    case CPUS_UNLOCK_WORKSTATION:
        return 7;  // KerbWorkstationUnlockLogon
    default:
        return 0;
    }
}

bool ReadPackedString(const BYTE* block, DWORD size, DWORD at, const char* name, PackedString* out,
                      std::string* error) {
    memcpy(&out->length, block + at, 2);
    memcpy(&out->maximumLength, block + at + 2, 2);
    out->offset = 0;
    memcpy(&out->offset, block + at + kPacked.bufferAt, kPacked.bufferWidth);
    char buf[160];
    if (out->length % 2) {
        snprintf(buf, sizeof(buf), "%s: odd length %u", name, out->length);
    } else if (out->maximumLength < out->length) {
        snprintf(buf, sizeof(buf), "%s: maximum length %u below length %u", name, out->maximumLength, out->length);
    } else if (out->offset > size || out->maximumLength > size - out->offset) {
        snprintf(buf, sizeof(buf), "%s: %u bytes at %llu outside the %lu-byte block", name, out->maximumLength,
                 static_cast<unsigned long long>(out->offset), static_cast<unsigned long>(size));
    } else if (out->maximumLength > 0 && out->offset < kPacked.header) {
        snprintf(buf, sizeof(buf), "%s: offset %llu inside the header", name,
                 static_cast<unsigned long long>(out->offset));
    } else if (out->offset % 2) {
        snprintf(buf, sizeof(buf), "%s: misaligned offset %llu", name, static_cast<unsigned long long>(out->offset));
    } else {
        out->text.assign(out->length / 2, L'\0');
        if (out->length) memcpy(&out->text[0], block + out->offset, out->length);
        return true;
    }
    *error = buf;
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Names and text

const char* ScenarioName(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
    switch (cpus) {
    case CPUS_INVALID:
        return "invalid";
    case CPUS_LOGON:
        return "logon";
    case CPUS_UNLOCK_WORKSTATION:
        return "unlock";
    case CPUS_CHANGE_PASSWORD:
        return "change-password";
    case CPUS_CREDUI:
        return "credui";
    case CPUS_PLAP:
        return "plap";
    }
    return "unknown";
}

const char* FieldTypeName(CREDENTIAL_PROVIDER_FIELD_TYPE type) {
    static const char* const names[] = {"CPFT_INVALID",       "CPFT_LARGE_TEXT",    "CPFT_SMALL_TEXT",
                                        "CPFT_COMMAND_LINK",  "CPFT_EDIT_TEXT",     "CPFT_PASSWORD_TEXT",
                                        "CPFT_TILE_IMAGE",    "CPFT_CHECKBOX",      "CPFT_COMBOBOX",
                                        "CPFT_SUBMIT_BUTTON"};
    unsigned i = static_cast<unsigned>(type);
    return i < sizeof(names) / sizeof(names[0]) ? names[i] : "CPFT_?";
}

const char* FieldStateName(CREDENTIAL_PROVIDER_FIELD_STATE state) {
    static const char* const names[] = {"CPFS_HIDDEN", "CPFS_DISPLAY_IN_SELECTED_TILE",
                                        "CPFS_DISPLAY_IN_DESELECTED_TILE", "CPFS_DISPLAY_IN_BOTH"};
    unsigned i = static_cast<unsigned>(state);
    return i < 4 ? names[i] : "CPFS_?";
}

const char* InteractiveStateName(CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE state) {
    static const char* const names[] = {"CPFIS_NONE", "CPFIS_READONLY", "CPFIS_DISABLED", "CPFIS_FOCUSED"};
    unsigned i = static_cast<unsigned>(state);
    return i < 4 ? names[i] : "CPFIS_?";
}

std::string Quote(const std::wstring& text) {
    std::string utf8 = Utf8(text);
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            snprintf(buf, sizeof(buf), "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string GuidText(const GUID& g) {
    char buf[64];
    snprintf(buf, sizeof(buf), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1),
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
             g.Data4[7]);
    return buf;
}

bool ParseGuid(const std::wstring& text, GUID* guid) {
    if (text.size() != 38) return false;
    std::wstring copy = text;
    return SUCCEEDED(CLSIDFromString(&copy[0], guid));
}

// ---------------------------------------------------------------------------------------------
// Packed logon and the fake LSA

DecodedLogon DecodeUnlockLogon(const BYTE* block, DWORD size) {
    DecodedLogon d;
    d.size = size;
    if (!block) {
        d.error = "no block";
        return d;
    }
    if (size < kPacked.header) {
        char buf[64];
        snprintf(buf, sizeof(buf), "block of %lu bytes is shorter than the header", static_cast<unsigned long>(size));
        d.error = buf;
        return d;
    }
    memcpy(&d.messageType, block, 4);
    memcpy(&d.logonIdLow, block + kPacked.logonId, 4);
    memcpy(&d.logonIdHigh, block + kPacked.logonId + 4, 4);
    if (!ReadPackedString(block, size, kPacked.domain, "domain", &d.domain, &d.error)) return d;
    if (!ReadPackedString(block, size, kPacked.user, "user", &d.user, &d.error)) return d;
    if (!ReadPackedString(block, size, kPacked.password, "password", &d.password, &d.error)) return d;
    d.ok = true;
    return d;
}

LsaAnswer AnswerLogon(const std::vector<Account>& accounts, const DecodedLogon& logon) {
    if (!logon.ok) return {kStatusInvalidParameter, 0};
    for (const Account& a : accounts) {
        if (!a.domain.empty() && _wcsicmp(a.domain.c_str(), logon.domain.text.c_str()) != 0) continue;
        if (_wcsicmp(a.user.c_str(), logon.user.text.c_str()) != 0) continue;
        if (a.password != logon.password.text) return {kStatusLogonFailure, 0};
        return {a.status, a.substatus};
    }
    return {kStatusLogonFailure, 0};
}

// ---------------------------------------------------------------------------------------------
// Sinks

class Host::ProviderEvents final : public ICredentialProviderEvents {
public:
    explicit ProviderEvents(Host* host) : host_(host) { InitializeCriticalSection(&lock_); }

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
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    // Any thread: the host marshals the change to its own.
    STDMETHODIMP CredentialsChanged(UINT_PTR context) override {
        EnterCriticalSection(&lock_);
        if (host_) host_->OnCredentialsChanged(context);
        LeaveCriticalSection(&lock_);
        return S_OK;
    }
    void Detach() {
        EnterCriticalSection(&lock_);
        host_ = nullptr;
        LeaveCriticalSection(&lock_);
    }
    LONG refs() const { return refs_; }

private:
    ~ProviderEvents() { DeleteCriticalSection(&lock_); }
    volatile LONG refs_ = 1;
    Host* host_;
    CRITICAL_SECTION lock_;
};

class Host::CredentialEvents final : public ICredentialProviderCredentialEvents {
public:
    explicit CredentialEvents(Host* host) : host_(host) {}

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
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

    STDMETHODIMP SetFieldState(ICredentialProviderCredential* pcpc, DWORD id,
                               CREDENTIAL_PROVIDER_FIELD_STATE cpfs) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT SetFieldState field=%lu state=%s", static_cast<unsigned long>(id), FieldStateName(cpfs));
        Field* f = nullptr;
        HRESULT hr = host_->OnFieldEvent("SetFieldState", pcpc, id, &f);
        if (SUCCEEDED(hr)) f->state = cpfs;
        return hr;
    }
    STDMETHODIMP SetFieldInteractiveState(ICredentialProviderCredential* pcpc, DWORD id,
                                          CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT SetFieldInteractiveState field=%lu state=%s", static_cast<unsigned long>(id),
                   InteractiveStateName(cpfis));
        Field* f = nullptr;
        HRESULT hr = host_->OnFieldEvent("SetFieldInteractiveState", pcpc, id, &f);
        if (SUCCEEDED(hr)) f->interactive = cpfis;
        return hr;
    }
    STDMETHODIMP SetFieldString(ICredentialProviderCredential* pcpc, DWORD id, LPCWSTR psz) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT SetFieldString field=%lu text=%s", static_cast<unsigned long>(id),
                   psz ? Quote(psz).c_str() : "NULL");
        Field* f = nullptr;
        HRESULT hr = host_->OnFieldEvent("SetFieldString", pcpc, id, &f);
        if (FAILED(hr)) return hr;
        if (!psz) {
            host_->Violation("SetFieldString with no text for field %lu", static_cast<unsigned long>(id));
            return E_INVALIDARG;
        }
        f->text = psz;
        f->hasText = true;
        if (!EditableType(f->type) || !pcpc) return S_OK;
        if (host_->echo() == Echo::Immediate) {
            HRESULT echoed = pcpc->SetStringValue(id, psz);
            host_->Log("CALL SetStringValue field=%lu text=%s echo=immediate hr=%s", static_cast<unsigned long>(id),
                       Quote(psz).c_str(), Hr(echoed).c_str());
        } else if (host_->echo() == Echo::Deferred) {
            host_->QueueEcho(id, psz);
        }
        return S_OK;
    }
    STDMETHODIMP SetFieldCheckbox(ICredentialProviderCredential* pcpc, DWORD id, BOOL checked,
                                  LPCWSTR label) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT SetFieldCheckbox field=%lu checked=%d label=%s", static_cast<unsigned long>(id), checked,
                   label ? Quote(label).c_str() : "NULL");
        Field* f = nullptr;
        HRESULT hr = host_->OnFieldEvent("SetFieldCheckbox", pcpc, id, &f);
        if (SUCCEEDED(hr)) {
            f->checked = checked;
            if (label) f->label = label;
        }
        return hr;
    }
    STDMETHODIMP SetFieldBitmap(ICredentialProviderCredential* pcpc, DWORD id, HBITMAP hbmp) override {
        if (!host_) return E_UNEXPECTED;
        BITMAP bm = {};
        bool valid = hbmp && GetObjectW(hbmp, sizeof(bm), &bm) == sizeof(bm);
        host_->Log("EVENT SetFieldBitmap field=%lu bitmap=%dx%d", static_cast<unsigned long>(id),
                   valid ? static_cast<int>(bm.bmWidth) : 0, valid ? static_cast<int>(bm.bmHeight) : 0);
        Field* f = nullptr;
        HRESULT hr = host_->OnFieldEvent("SetFieldBitmap", pcpc, id, &f);
        if (FAILED(hr)) return hr;
        if (!valid) host_->Violation("SetFieldBitmap without a bitmap for field %lu", static_cast<unsigned long>(id));
        f->bitmapWidth = valid ? bm.bmWidth : 0;
        f->bitmapHeight = valid ? bm.bmHeight : 0;
        return S_OK;
    }
    STDMETHODIMP SetFieldComboBoxSelectedItem(ICredentialProviderCredential* pcpc, DWORD id, DWORD item) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT SetFieldComboBoxSelectedItem field=%lu item=%lu", static_cast<unsigned long>(id),
                   static_cast<unsigned long>(item));
        Field* f = nullptr;
        return host_->OnFieldEvent("SetFieldComboBoxSelectedItem", pcpc, id, &f);
    }
    STDMETHODIMP DeleteFieldComboBoxItem(ICredentialProviderCredential* pcpc, DWORD id, DWORD item) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT DeleteFieldComboBoxItem field=%lu item=%lu", static_cast<unsigned long>(id),
                   static_cast<unsigned long>(item));
        Field* f = nullptr;
        return host_->OnFieldEvent("DeleteFieldComboBoxItem", pcpc, id, &f);
    }
    STDMETHODIMP AppendFieldComboBoxItem(ICredentialProviderCredential* pcpc, DWORD id, LPCWSTR item) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT AppendFieldComboBoxItem field=%lu item=%s", static_cast<unsigned long>(id),
                   item ? Quote(item).c_str() : "NULL");
        Field* f = nullptr;
        return host_->OnFieldEvent("AppendFieldComboBoxItem", pcpc, id, &f);
    }
    STDMETHODIMP SetFieldSubmitButton(ICredentialProviderCredential* pcpc, DWORD id, DWORD adjacentTo) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT SetFieldSubmitButton field=%lu adjacent=%lu", static_cast<unsigned long>(id),
                   static_cast<unsigned long>(adjacentTo));
        Field* f = nullptr;
        HRESULT hr = host_->OnFieldEvent("SetFieldSubmitButton", pcpc, id, &f);
        if (FAILED(hr)) return hr;
        if (f->type != CPFT_SUBMIT_BUTTON)
            host_->Violation("SetFieldSubmitButton on field %lu, a %s", static_cast<unsigned long>(id),
                             FieldTypeName(f->type));
        if (!host_->FindField(adjacentTo)) {
            host_->Violation("submit button placed beside unknown field %lu", static_cast<unsigned long>(adjacentTo));
            return E_INVALIDARG;
        }
        f->adjacentTo = adjacentTo;
        return S_OK;
    }
    STDMETHODIMP OnCreatingWindow(HWND* phwndOwner) override {
        if (!host_) return E_UNEXPECTED;
        host_->Log("EVENT OnCreatingWindow");
        if (!phwndOwner) return E_INVALIDARG;
        *phwndOwner = host_->window();
        return S_OK;
    }

    void Detach() { host_ = nullptr; }

private:
    ~CredentialEvents() = default;
    volatile LONG refs_ = 1;
    Host* host_;
};

// ---------------------------------------------------------------------------------------------
// Host

Host::Host(const Options& options) : options_(options), thread_(GetCurrentThreadId()), clsid_(CLSID_Logontile) {
    InitializeCriticalSection(&lock_);
    comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);  // a second host in the process finds it registered
    window_ = CreateWindowExW(0, kWindowClass, L"LogonUI host", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    providerEvents_ = new ProviderEvents(this);
    credentialEvents_ = new CredentialEvents(this);
}

Host::~Host() {
    Close();
    providerEvents_->Detach();
    credentialEvents_->Detach();
    providerEvents_->Release();
    credentialEvents_->Release();
    if (window_) {
        // Deferred echoes still queued own their text.
        MSG msg;
        while (PeekMessageW(&msg, window_, kMsgEcho, kMsgEcho, PM_REMOVE)) delete reinterpret_cast<EchoItem*>(msg.lParam);
        DestroyWindow(window_);
    }
    if (alertEvent_) CloseHandle(alertEvent_);
    if (comInitialized_) CoUninitialize();
    DeleteCriticalSection(&lock_);
}

void Host::Log(const char* format, ...) {
    char buf[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    std::string line = buf;
    EnterCriticalSection(&lock_);
    lines_.push_back(line);
    if (options_.output) {
        line += "\n";
        DWORD written = 0;
        WriteFile(options_.output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    LeaveCriticalSection(&lock_);
}

void Host::Violation(const char* format, ...) {
    char buf[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    InterlockedIncrement(reinterpret_cast<volatile LONG*>(&violations_));
    Log("VIOLATION %s", buf);
}

std::vector<std::string> Host::lines() const {
    EnterCriticalSection(const_cast<CRITICAL_SECTION*>(&lock_));
    std::vector<std::string> copy = lines_;
    LeaveCriticalSection(const_cast<CRITICAL_SECTION*>(&lock_));
    return copy;
}

const Field* Host::FindField(DWORD id) const {
    for (const Field& f : fields_)
        if (f.id == id) return &f;
    return nullptr;
}

HRESULT Host::Load(const std::wstring& dllPath, const CLSID& clsid) {
    module_ = LoadLibraryW(dllPath.c_str());
    if (!module_) {
        DWORD error = GetLastError();
        Log("LOAD %s failed error=%lu", Quote(dllPath).c_str(), static_cast<unsigned long>(error));
        return HRESULT_FROM_WIN32(error);
    }
    Log("LOAD %s", Quote(dllPath).c_str());
    wchar_t loaded[MAX_PATH];
    DWORD n = GetModuleFileNameW(module_, loaded, MAX_PATH);
    modulePath_ = n && n < MAX_PATH ? std::wstring(loaded, n) : dllPath;
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(module_, "DllGetClassObject"));
    if (!getClassObject || !GetProcAddress(module_, "DllCanUnloadNow")) {
        Log("LOAD module lacks DllGetClassObject or DllCanUnloadNow");
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    Log("CALL DllGetClassObject clsid=%s hr=%s", GuidText(clsid).c_str(), Hr(hr).c_str());
    if (FAILED(hr)) return hr;
    if (!factory) {
        Violation("DllGetClassObject succeeded without a class object");
        return E_POINTER;
    }
    UseFactory(factory, clsid);
    factory->Release();
    return S_OK;
}

void Host::UseFactory(IClassFactory* factory, const CLSID& clsid) {
    if (factory) factory->AddRef();
    if (factory_) factory_->Release();
    factory_ = factory;
    clsid_ = clsid;
}

HRESULT Host::RunFilter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, const std::vector<GUID>& providers,
                        std::vector<BOOL>* allow) {
    if (!factory_) {
        Log("ERROR filter: no module loaded");
        return E_UNEXPECTED;
    }
    ICredentialProviderFilter* filter = nullptr;
    HRESULT hr = factory_->CreateInstance(nullptr, IID_ICredentialProviderFilter, reinterpret_cast<void**>(&filter));
    Log("CALL CreateInstance iid=ICredentialProviderFilter hr=%s", Hr(hr).c_str());
    if (FAILED(hr)) return hr;
    if (!filter) {
        Violation("CreateInstance succeeded without a filter");
        return E_POINTER;
    }
    // LogonUI starts with every provider enabled.
    std::vector<BOOL> local;
    std::vector<BOOL>& bits = allow ? *allow : local;
    bits.assign(providers.size(), TRUE);
    std::vector<GUID> list = providers;
    hr = filter->Filter(cpus, 0, list.empty() ? nullptr : list.data(), bits.empty() ? nullptr : bits.data(),
                        static_cast<DWORD>(list.size()));
    std::string text;
    for (size_t i = 0; i < bits.size(); ++i) text += (i ? "," : "") + std::to_string(bits[i] ? 1 : 0);
    Log("CALL Filter scenario=%s providers=%u hr=%s allow=%s", ScenarioName(cpus), static_cast<unsigned>(list.size()),
        Hr(hr).c_str(), text.c_str());
    ULONG left = filter->Release();
    Log("CALL Release filter refs=%lu", static_cast<unsigned long>(left));
    return hr;
}

HRESULT Host::OpenProvider(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
    if (!factory_) {
        Log("ERROR provider: no module loaded");
        return E_UNEXPECTED;
    }
    ICredentialProvider* provider = nullptr;
    HRESULT hr = factory_->CreateInstance(nullptr, IID_ICredentialProvider, reinterpret_cast<void**>(&provider));
    Log("CALL CreateInstance iid=ICredentialProvider hr=%s", Hr(hr).c_str());
    if (FAILED(hr)) return hr;
    if (!provider) {
        Violation("CreateInstance succeeded without a provider");
        return E_POINTER;
    }
    hr = AttachProvider(provider, cpus);
    ULONG left = provider->Release();
    if (FAILED(hr)) Log("CALL Release provider refs=%lu", static_cast<unsigned long>(left));
    return hr;
}

HRESULT Host::AttachProvider(ICredentialProvider* provider, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
    if (provider_) {
        Log("NOTE replacing the open provider");
        ReleaseCredential();
        provider_->UnAdvise();
        provider_->Release();
        provider_ = nullptr;
    }
    provider->AddRef();
    cpus_ = cpus;
    HRESULT hr = provider->SetUsageScenario(cpus, 0);
    Log("CALL SetUsageScenario scenario=%s hr=%s", ScenarioName(cpus), Hr(hr).c_str());
    if (FAILED(hr)) {
        provider->Release();
        Log("NOTE provider dropped");
        return hr;
    }
    provider_ = provider;
    HRESULT advised = provider_->Advise(providerEvents_, options_.adviseContext);
    Log("CALL Advise context=0x%lX hr=%s", static_cast<unsigned long>(options_.adviseContext), Hr(advised).c_str());
    return Enumerate();
}

HRESULT Host::Enumerate() {
    if (!provider_) {
        Log("ERROR enumerate: no provider");
        return E_UNEXPECTED;
    }
    DWORD count = 0;
    HRESULT hr = provider_->GetFieldDescriptorCount(&count);
    Log("CALL GetFieldDescriptorCount hr=%s count=%lu", Hr(hr).c_str(), static_cast<unsigned long>(count));
    if (FAILED(hr)) return hr;
    std::vector<Field> fields;
    for (DWORD i = 0; i < count; ++i) {
        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* d = nullptr;
        hr = provider_->GetFieldDescriptorAt(i, &d);
        if (FAILED(hr) || !d) {
            Log("CALL GetFieldDescriptorAt index=%lu hr=%s", static_cast<unsigned long>(i), Hr(hr).c_str());
            if (SUCCEEDED(hr)) Violation("GetFieldDescriptorAt %lu succeeded without a descriptor", static_cast<unsigned long>(i));
            continue;
        }
        Field f;
        f.id = d->dwFieldID;
        f.type = d->cpft;
        if (d->pszLabel) f.label = d->pszLabel;
        Log("CALL GetFieldDescriptorAt index=%lu hr=%s id=%lu type=%s label=%s", static_cast<unsigned long>(i),
            Hr(hr).c_str(), static_cast<unsigned long>(f.id), FieldTypeName(f.type),
            d->pszLabel ? Quote(d->pszLabel).c_str() : "NULL");
        CoTaskMemFree(d->pszLabel);
        CoTaskMemFree(d);
        for (const Field& other : fields)
            if (other.id == f.id) Violation("two descriptors with field id %lu", static_cast<unsigned long>(f.id));
        fields.push_back(f);
    }

    DWORD credentials = 0, defaultIndex = CREDENTIAL_PROVIDER_NO_DEFAULT;
    BOOL autoLogonWithDefault = FALSE;
    hr = provider_->GetCredentialCount(&credentials, &defaultIndex, &autoLogonWithDefault);
    Log("CALL GetCredentialCount hr=%s count=%lu default=%ld autologon=%d", Hr(hr).c_str(),
        static_cast<unsigned long>(credentials), static_cast<long>(defaultIndex), autoLogonWithDefault);
    if (FAILED(hr)) return hr;
    if (credentials == 0) {
        ReleaseCredential();
        fields_ = fields;
        return S_OK;
    }
    DWORD index = defaultIndex < credentials ? defaultIndex : 0;
    ICredentialProviderCredential* credential = nullptr;
    hr = provider_->GetCredentialAt(index, &credential);
    Log("CALL GetCredentialAt index=%lu hr=%s", static_cast<unsigned long>(index), Hr(hr).c_str());
    if (FAILED(hr) || !credential) {
        if (SUCCEEDED(hr)) Violation("GetCredentialAt succeeded without a credential");
        ReleaseCredential();
        fields_ = fields;
        return FAILED(hr) ? hr : E_POINTER;
    }
    if (credential == credential_) {
        credential->Release();  // already held and advised
    } else {
        ReleaseCredential();
        credential_ = credential;
        HRESULT advised = credential_->Advise(credentialEvents_);
        Log("CALL Credential.Advise hr=%s", Hr(advised).c_str());
    }
    fields_ = fields;
    ReadFields();

    if (autoLogonWithDefault && defaultIndex < credentials) {
        Log("NOTE automatic logon with the default tile");
        BOOL autoLogon = FALSE;
        HRESULT selected = credential_->SetSelected(&autoLogon);
        Log("CALL SetSelected hr=%s autologon=%d", Hr(selected).c_str(), autoLogon);
        if (options_.autoSubmit) Submit();
    }
    return S_OK;
}

void Host::ReadFields() {
    for (Field& f : fields_) {
        unsigned long id = f.id;
        CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_HIDDEN;
        CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_NONE;
        HRESULT hr = credential_->GetFieldState(f.id, &state, &interactive);
        Log("CALL GetFieldState field=%lu hr=%s state=%s interactive=%s", id, Hr(hr).c_str(), FieldStateName(state),
            InteractiveStateName(interactive));
        if (SUCCEEDED(hr)) {
            f.state = state;
            f.interactive = interactive;
        }
        if (TextType(f.type)) {
            LPWSTR text = nullptr;
            hr = credential_->GetStringValue(f.id, &text);
            Log("CALL GetStringValue field=%lu hr=%s text=%s", id, Hr(hr).c_str(), text ? Quote(text).c_str() : "NULL");
            if (SUCCEEDED(hr)) {
                if (!text) Violation("GetStringValue %lu succeeded without a string", id);
                f.text = text ? text : L"";
                f.hasText = text != nullptr;
            }
            CoTaskMemFree(text);
        } else if (f.type == CPFT_TILE_IMAGE) {
            HBITMAP bitmap = nullptr;
            hr = credential_->GetBitmapValue(f.id, &bitmap);
            BITMAP bm = {};
            bool valid = bitmap && GetObjectW(bitmap, sizeof(bm), &bm) == sizeof(bm);
            Log("CALL GetBitmapValue field=%lu hr=%s bitmap=%dx%d", id, Hr(hr).c_str(), valid ? static_cast<int>(bm.bmWidth) : 0,
                valid ? static_cast<int>(bm.bmHeight) : 0);
            if (SUCCEEDED(hr) && !valid) Violation("GetBitmapValue %lu succeeded without a bitmap", id);
            f.bitmapWidth = valid ? bm.bmWidth : 0;
            f.bitmapHeight = valid ? bm.bmHeight : 0;
            if (bitmap) DeleteObject(bitmap);  // LogonUI owns what it is handed
        } else if (f.type == CPFT_SUBMIT_BUTTON) {
            DWORD adjacent = CREDENTIAL_PROVIDER_NO_DEFAULT;
            hr = credential_->GetSubmitButtonValue(f.id, &adjacent);
            Log("CALL GetSubmitButtonValue field=%lu hr=%s adjacent=%ld", id, Hr(hr).c_str(), static_cast<long>(adjacent));
            if (SUCCEEDED(hr)) {
                if (!FindField(adjacent)) Violation("submit button %lu beside unknown field %ld", id, static_cast<long>(adjacent));
                f.adjacentTo = adjacent;
            }
        } else if (f.type == CPFT_CHECKBOX) {
            BOOL checked = FALSE;
            LPWSTR label = nullptr;
            hr = credential_->GetCheckboxValue(f.id, &checked, &label);
            Log("CALL GetCheckboxValue field=%lu hr=%s checked=%d label=%s", id, Hr(hr).c_str(), checked,
                label ? Quote(label).c_str() : "NULL");
            if (SUCCEEDED(hr)) f.checked = checked;
            CoTaskMemFree(label);
        } else if (f.type == CPFT_COMBOBOX) {
            DWORD items = 0, selected = 0;
            hr = credential_->GetComboBoxValueCount(f.id, &items, &selected);
            Log("CALL GetComboBoxValueCount field=%lu hr=%s items=%lu selected=%ld", id, Hr(hr).c_str(),
                static_cast<unsigned long>(items), static_cast<long>(selected));
            for (DWORD i = 0; SUCCEEDED(hr) && i < items && i < 64; ++i) {
                LPWSTR item = nullptr;
                HRESULT got = credential_->GetComboBoxValueAt(f.id, i, &item);
                Log("CALL GetComboBoxValueAt field=%lu item=%lu hr=%s text=%s", id, static_cast<unsigned long>(i),
                    Hr(got).c_str(), item ? Quote(item).c_str() : "NULL");
                CoTaskMemFree(item);
            }
        }
    }
}

HRESULT Host::Select() {
    if (!credential_) {
        Log("ERROR select: no tile");
        return E_UNEXPECTED;
    }
    BOOL autoLogon = FALSE;
    HRESULT hr = credential_->SetSelected(&autoLogon);
    Log("CALL SetSelected hr=%s autologon=%d", Hr(hr).c_str(), autoLogon);
    if (SUCCEEDED(hr) && autoLogon && options_.autoSubmit) Submit();
    return hr;
}

HRESULT Host::Deselect() {
    if (!credential_) {
        Log("ERROR deselect: no tile");
        return E_UNEXPECTED;
    }
    HRESULT hr = credential_->SetDeselected();
    Log("CALL SetDeselected hr=%s", Hr(hr).c_str());
    return hr;
}

HRESULT Host::Submit() {
    if (!credential_) {
        Log("ERROR submit: no tile");
        return E_UNEXPECTED;
    }
    auto response = static_cast<CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE>(-1);
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
    LPWSTR status = nullptr;
    CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
    HRESULT hr = credential_->GetSerialization(&response, &cs, &status, &icon);
    Log("CALL GetSerialization hr=%s response=%d status=%s icon=%d", Hr(hr).c_str(), static_cast<int>(response),
        status ? Quote(status).c_str() : "NULL", static_cast<int>(icon));
    CoTaskMemFree(status);

    auto dropBlock = [&cs]() {
        if (!cs.rgbSerialization) return;
        SecureZeroMemory(cs.rgbSerialization, cs.cbSerialization);
        CoTaskMemFree(cs.rgbSerialization);
        cs.rgbSerialization = nullptr;
    };
    if (FAILED(hr)) {
        // LogonUI frees nothing after a failure: a block left here is lost with the password in it.
        if (cs.rgbSerialization)
            Violation("GetSerialization failed but left a block of %lu bytes", static_cast<unsigned long>(cs.cbSerialization));
        dropBlock();
        return hr;
    }
    if (response != CPGSR_RETURN_CREDENTIAL_FINISHED) {
        Log("NOTE no credential to submit");
        dropBlock();
        return hr;
    }
    if (!cs.rgbSerialization || cs.cbSerialization == 0) {
        Violation("a credential without a serialization block");
        dropBlock();
        return hr;
    }
    Log("SERIAL package=0x%lX clsid=%s size=%lu", static_cast<unsigned long>(cs.ulAuthenticationPackage),
        GuidText(cs.clsidCredentialProvider).c_str(), static_cast<unsigned long>(cs.cbSerialization));
    if (!IsEqualGUID(cs.clsidCredentialProvider, clsid_))
        Violation("serialization names provider %s", GuidText(cs.clsidCredentialProvider).c_str());
    bool packageOk = !options_.checkPackage || cs.ulAuthenticationPackage == options_.package;
    if (!packageOk)
        Violation("serialization for package 0x%lX, expected 0x%lX", static_cast<unsigned long>(cs.ulAuthenticationPackage),
                  static_cast<unsigned long>(options_.package));

    DecodedLogon d = DecodeUnlockLogon(cs.rgbSerialization, cs.cbSerialization);
    if (!d.ok) {
        Violation("bad serialization block: %s", d.error.c_str());
    } else {
        Log("SERIAL type=%lu domain@%lu+%u=%s user@%lu+%u=%s password@%lu+%u=%s logonid=%lu:%ld",
            static_cast<unsigned long>(d.messageType), static_cast<unsigned long>(d.domain.offset), d.domain.length,
            Quote(d.domain.text).c_str(), static_cast<unsigned long>(d.user.offset), d.user.length,
            Quote(d.user.text).c_str(), static_cast<unsigned long>(d.password.offset), d.password.length,
            Quote(d.password.text).c_str(), static_cast<unsigned long>(d.logonIdLow), static_cast<long>(d.logonIdHigh));
        if (d.messageType != ExpectedMessageType(cpus_))
            Violation("message type %lu for scenario %s", static_cast<unsigned long>(d.messageType), ScenarioName(cpus_));
    }
    lastLogon_ = d;
    LsaAnswer answer = !packageOk ? LsaAnswer{kStatusNoSuchPackage, 0} : AnswerLogon(options_.accounts, d);
    lastAnswer_ = answer;
    Log("LSA status=0x%08lX substatus=0x%08lX", static_cast<unsigned long>(answer.status),
        static_cast<unsigned long>(answer.substatus));
    dropBlock();  // LogonUI frees the block it was handed

    LPWSTR text = nullptr;
    icon = CPSI_NONE;
    hr = credential_->ReportResult(answer.status, answer.substatus, &text, &icon);
    Log("CALL ReportResult status=0x%08lX substatus=0x%08lX hr=%s text=%s icon=%d",
        static_cast<unsigned long>(answer.status), static_cast<unsigned long>(answer.substatus), Hr(hr).c_str(),
        text ? Quote(text).c_str() : "NULL", static_cast<int>(icon));
    CoTaskMemFree(text);
    if (alertEvent_)
        Log("ALERT %s", WaitForSingleObject(alertEvent_, 0) == WAIT_OBJECT_0 ? "set" : "not set");
    return hr;
}

HRESULT Host::Type(DWORD fieldId, const std::wstring& text) {
    Field* f = nullptr;
    for (Field& each : fields_)
        if (each.id == fieldId) f = &each;
    if (!credential_ || !f) {
        Log("ERROR type: no tile or no field %lu", static_cast<unsigned long>(fieldId));
        return E_INVALIDARG;
    }
    if (!ShownInSelectedTile(f->state))
        Log("WARN typing into field %lu, which is %s", static_cast<unsigned long>(fieldId), FieldStateName(f->state));
    if (!EditableType(f->type))
        Log("WARN typing into field %lu, a %s", static_cast<unsigned long>(fieldId), FieldTypeName(f->type));
    HRESULT hr = S_OK;
    size_t steps = text.empty() ? 1 : text.size();
    for (size_t i = 1; i <= steps; ++i) {
        std::wstring typed = text.substr(0, text.empty() ? 0 : i);
        hr = credential_->SetStringValue(fieldId, typed.c_str());
        Log("CALL SetStringValue field=%lu text=%s hr=%s", static_cast<unsigned long>(fieldId), Quote(typed).c_str(),
            Hr(hr).c_str());
        if (SUCCEEDED(hr)) {
            f->text = typed;
            f->hasText = true;
        }
    }
    return hr;
}

HRESULT Host::ClickLink(DWORD fieldId) {
    const Field* f = FindField(fieldId);
    if (!credential_ || !f) {
        Log("ERROR link: no tile or no field %lu", static_cast<unsigned long>(fieldId));
        return E_INVALIDARG;
    }
    if (!ShownInSelectedTile(f->state))
        Log("WARN clicking field %lu, which is %s", static_cast<unsigned long>(fieldId), FieldStateName(f->state));
    HRESULT hr = credential_->CommandLinkClicked(fieldId);
    Log("CALL CommandLinkClicked field=%lu hr=%s", static_cast<unsigned long>(fieldId), Hr(hr).c_str());
    return hr;
}

HRESULT Host::OnFieldEvent(const char* what, ICredentialProviderCredential* pcpc, DWORD fieldId, Field** field) {
    *field = nullptr;
    if (!OnHostThread()) Violation("%s called on thread %lu, not LogonUI's", what, GetCurrentThreadId());
    if (pcpc != credential_) Violation("%s for a credential that is not the selected tile", what);
    for (Field& f : fields_) {
        if (f.id == fieldId) {
            *field = &f;
            return S_OK;
        }
    }
    Violation("%s for unknown field %lu", what, static_cast<unsigned long>(fieldId));
    return E_INVALIDARG;
}

void Host::QueueEcho(DWORD fieldId, const std::wstring& text) {
    EchoItem* item = new EchoItem{fieldId, text};
    if (!window_ || !PostMessageW(window_, kMsgEcho, 0, reinterpret_cast<LPARAM>(item))) delete item;
}

void Host::OnCredentialsChanged(UINT_PTR context) {
    Log("EVENT CredentialsChanged context=0x%lX thread=%s", static_cast<unsigned long>(context),
        OnHostThread() ? "host" : "other");
    if (context != options_.adviseContext)
        Violation("CredentialsChanged with context 0x%lX, advised 0x%lX", static_cast<unsigned long>(context),
                  static_cast<unsigned long>(options_.adviseContext));
    if (window_) PostMessageW(window_, kMsgChanged, 0, 0);
}

void Host::HandleChange() {
    Log("NOTE re-enumerating after CredentialsChanged");
    if (provider_ && SUCCEEDED(Enumerate()) && credential_) Select();
    ++changesHandled_;
}

LRESULT CALLBACK Host::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Host* host = reinterpret_cast<Host*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (host && msg == kMsgChanged) {
        host->HandleChange();
        return 0;
    }
    if (msg == kMsgEcho) {
        EchoItem* item = reinterpret_cast<EchoItem*>(lp);
        if (host && host->credential_) {
            HRESULT hr = host->credential_->SetStringValue(item->field, item->text.c_str());
            host->Log("CALL SetStringValue field=%lu text=%s echo=deferred hr=%s", static_cast<unsigned long>(item->field),
                      Quote(item->text).c_str(), Hr(hr).c_str());
        }
        delete item;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void Host::Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool Host::WaitForChange(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (changesHandled_ > changesWaitedFor_) {
            changesWaitedFor_ = changesHandled_;
            return true;
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            Log("WAIT no change within %lu ms", static_cast<unsigned long>(timeoutMs));
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    }
}

void Host::Idle(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        Pump();
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

bool Host::WaitKeyChecks(bool present, DWORD n, DWORD timeoutMs) {
    typedef void(__cdecl * KeyChecksFn)(LONG*, LONG*);
    auto checks = module_ ? reinterpret_cast<KeyChecksFn>(GetProcAddress(module_, "LogontileTestKeyChecks")) : nullptr;
    bool seen = false;
    if (checks) {
        auto count = [&] {
            LONG absent = 0, found = 0;
            checks(&absent, &found);
            return present ? found : absent;
        };
        const LONG target = count() + static_cast<LONG>(n);
        DWORD start = GetTickCount();
        for (;;) {
            Pump();
            if (count() >= target) {
                seen = true;
                break;
            }
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= timeoutMs) break;
            // The checks run on the tile's thread: look again every few milliseconds.
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    Log("WAIT key %s n=%lu seen=%d", present ? "present" : "absent", static_cast<unsigned long>(n), seen);
    return seen;
}

bool Host::WatchAlertEvent() {
    if (!alertEvent_) {
        // As the service makes it: auto-reset, not set, open to everyone.
        SECURITY_DESCRIPTOR sd;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
        SECURITY_ATTRIBUTES sa = {sizeof(sa), &sd, FALSE};
        alertEvent_ = CreateEventW(&sa, FALSE, FALSE, CORELIB_ALERT_EVENT);
    }
    Log("ALERT watching=%d", alertEvent_ != nullptr);
    return alertEvent_ != nullptr;
}

void Host::ReleaseCredential() {
    if (!credential_) return;
    HRESULT hr = credential_->UnAdvise();
    ULONG left = credential_->Release();
    Log("CALL Credential.UnAdvise hr=%s; Release refs=%lu", Hr(hr).c_str(), static_cast<unsigned long>(left));
    credential_ = nullptr;
}

HRESULT Host::Close() {
    ReleaseCredential();
    if (provider_) {
        HRESULT hr = provider_->UnAdvise();
        ULONG left = provider_->Release();
        Log("CALL UnAdvise hr=%s; Release provider refs=%lu", Hr(hr).c_str(), static_cast<unsigned long>(left));
        provider_ = nullptr;
    }
    if (factory_) {
        factory_->Release();
        factory_ = nullptr;
    }
    HRESULT result = S_OK;
    if (module_) {
        typedef HRESULT(STDAPICALLTYPE * CanUnloadNowFn)();
        auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(GetProcAddress(module_, "DllCanUnloadNow"));
        result = canUnloadNow ? canUnloadNow() : E_UNEXPECTED;
        Log("CALL DllCanUnloadNow hr=%s", Hr(result).c_str());
        // Like COM, unload only what says it may go; a module with live threads stays.
        if (result == S_OK) {
            FreeLibrary(module_);
            Log("UNLOAD");
        }
        module_ = nullptr;
    }
    fields_.clear();
    return result;
}

void Host::Abandon() {
    HMODULE module = module_;
    const int threads = module ? CountThreads(module) : 0;
    if (Close() != S_OK && module) FreeLibrary(module);
    const bool loaded = !modulePath_.empty() && GetModuleHandleW(modulePath_.c_str()) != nullptr;
    Log("ABANDON threads=%d loaded=%d", threads, loaded);
}

bool Host::WaitUnloaded(DWORD timeoutMs) {
    bool gone = false;
    const DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (modulePath_.empty() || !GetModuleHandleW(modulePath_.c_str())) {
            gone = !modulePath_.empty();
            break;
        }
        if (GetTickCount() - start >= timeoutMs) break;
        // The module goes on the last of its threads: look again every few milliseconds.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    Log("WAIT unloaded=%d", gone);
    return gone;
}

// ---------------------------------------------------------------------------------------------
// Machine-side verbs

bool PressF8() {
    INPUT input[2] = {};
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = VK_F8;
    input[1].type = INPUT_KEYBOARD;
    input[1].ki.wVk = VK_F8;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, input, sizeof(INPUT)) == 2;
}

bool SetSimulatedDisk(const std::wstring& serial, bool plugged) {
    if (serial.empty() || serial.find_first_of(L"\\#&") != std::wstring::npos) return false;
    // One fixture per serial, never destroyed: the disk stays as the scenario left it after the
    // host exits (like a real key), and tests clean up with ts::RemoveAllSimulatedDisks.
    static std::map<std::wstring, ts::UsbDisk*> disks;
    ts::UsbDisk*& disk = disks[serial];
    if (!disk) disk = new ts::UsbDisk(ts::UsbDisk::FlashDisk(serial));
    return plugged ? disk->Plug() : disk->Pull();
}

int CountThreads(HMODULE module) { return static_cast<int>(ts::ThreadsStartedIn(module).size()); }

long ReadSwitch(const wchar_t* name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return -1;
    DWORD value = 0, size = sizeof(value), type = 0;
    LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_DWORD ? static_cast<long>(value) : -1;
}

DWORD WriteLockRecord(LONG lockType) {
    LockRecord record = {};
    record.enuLockType = lockType;
    DWORD created = CreateSharedMemory();
    if (created != 0) return created;
    return WriteToSharedMemory(&record, sizeof(record));
}

}  // namespace logonui
