// A LogonUI stand-in for tests: loads a credential-provider module, runs its filter and provider
// the way the Vista/7 logon UI does, models every field of the selected tile from the tile's
// events, submits its serialization to a fake LSA and reports the result back. Every call in
// either direction is logged as one line; protocol faults are counted as violations.
#pragma once

#include <windows.h>
#include <credentialprovider.h>

#include <string>
#include <vector>

namespace logonui {

// Whether texts the tile sets on its edit and password fields come back through SetStringValue.
// Real LogonUI never echoes them.
enum class Echo {
    None,
    Immediate,  // inside the tile's SetFieldString call
    Deferred,   // from the host's message loop, after that call returned
};

struct Account {
    std::wstring domain;  // empty: any domain
    std::wstring user;
    std::wstring password;
    // The answer once name and password match: 0, or e.g. an account restriction.
    NTSTATUS status = 0;
    NTSTATUS substatus = 0;
};

struct Options {
    Echo echo = Echo::None;
    std::vector<Account> accounts;
    bool checkPackage = false;  // the serialization must name this package
    ULONG package = 0;
    UINT_PTR adviseContext = 0x5EED;
    bool autoSubmit = true;  // submit when the tile asks for automatic logon
    HANDLE output = nullptr;  // log lines also go here (UTF-8), e.g. stdout
};

// The host's model of one field, kept from the descriptors, the first reads and later events.
struct Field {
    DWORD id = 0;
    CREDENTIAL_PROVIDER_FIELD_TYPE type = CPFT_INVALID;
    std::wstring label;
    CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_HIDDEN;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_NONE;
    bool hasText = false;
    std::wstring text;
    DWORD adjacentTo = CREDENTIAL_PROVIDER_NO_DEFAULT;
    BOOL checked = FALSE;
    int bitmapWidth = 0;
    int bitmapHeight = 0;
};

// A packed KERB_INTERACTIVE_UNLOCK_LOGON as LogonUI of this architecture reads it: the structure's own
// layout with each string buffer given as an offset from the block's start. Written out by hand, so
// that the packer is checked against the layout rather than against itself.
struct PackedLayout {
    DWORD header;        // bytes before the first string
    DWORD domain, user, password;  // where each UNICODE_STRING starts
    DWORD bufferAt;      // where the buffer (the offset) lies inside a UNICODE_STRING
    DWORD bufferWidth;   // pointer width
    DWORD logonId;       // where the LUID starts
};
#ifdef _WIN64
constexpr PackedLayout kPacked = {64, 8, 24, 40, 8, 8, 56};
#else
constexpr PackedLayout kPacked = {36, 4, 12, 20, 4, 4, 28};
#endif

// Decoded with every length and offset checked against the block.
struct PackedString {
    USHORT length = 0;
    USHORT maximumLength = 0;
    ULONG64 offset = 0;
    std::wstring text;
};
struct DecodedLogon {
    bool ok = false;
    std::string error;
    DWORD size = 0;
    ULONG messageType = 0;
    PackedString domain, user, password;
    ULONG logonIdLow = 0;
    LONG logonIdHigh = 0;
};
DecodedLogon DecodeUnlockLogon(const BYTE* block, DWORD size);

// The fake LSA's answer for a decoded logon.
struct LsaAnswer {
    NTSTATUS status;
    NTSTATUS substatus;
};
LsaAnswer AnswerLogon(const std::vector<Account>& accounts, const DecodedLogon& logon);

class Host {
public:
    explicit Host(const Options& options);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // LoadLibraryW and DllGetClassObject for the CLSID (default: the product's).
    HRESULT Load(const std::wstring& dllPath, const CLSID& clsid);
    // For in-process tests: a class object to create the filter and provider from.
    void UseFactory(IClassFactory* factory, const CLSID& clsid);

    // Filter with the given provider list; allow comes back as the filter left it.
    HRESULT RunFilter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, const std::vector<GUID>& providers,
                      std::vector<BOOL>* allow);
    // CreateInstance, SetUsageScenario, Advise, then Enumerate. A failed scenario drops the provider.
    HRESULT OpenProvider(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus);
    // For in-process tests: a provider made elsewhere (the host takes a reference); its
    // serialization must name the product's CLSID.
    HRESULT AttachProvider(ICredentialProvider* provider, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus);
    // Field descriptors, credential count, the tile (Advise) and a first read of every field.
    HRESULT Enumerate();
    // SetSelected; submits when the tile asks for automatic logon.
    HRESULT Select();
    HRESULT Deselect();
    // GetSerialization, the fake LSA, ReportResult.
    HRESULT Submit();
    // The user types text into a field, one SetStringValue per character typed.
    HRESULT Type(DWORD fieldId, const std::wstring& text);
    HRESULT ClickLink(DWORD fieldId);
    // Handles what has arrived (credential changes, deferred echoes) without waiting.
    void Pump();
    // Waits until a CredentialsChanged has been handled since the previous wait; false on timeout.
    bool WaitForChange(DWORD timeoutMs);
    // Pumps for a while.
    void Idle(DWORD ms);
    // Pumps until the tile has checked the key n more times with that result, as the test build of
    // the module counts them (its export "LogontileTestKeyChecks"); false on timeout or without it.
    bool WaitKeyChecks(bool present, DWORD n, DWORD timeoutMs);
    // Creates "Global\AlertServiceEvent" as the service would; every ReportResult then logs
    // whether the tile set it.
    bool WatchAlertEvent();
    // UnAdvise and release everything, then DllCanUnloadNow (and FreeLibrary when it allows).
    HRESULT Close();
    // LogonUI going away: Close, then its reference on the module goes even where DllCanUnloadNow
    // refused. Logs the module's threads before and whether the module is still loaded after: one
    // whose threads still run must keep itself loaded until they end.
    void Abandon();
    // Pumps until the module Load loaded has left the process; false on timeout.
    bool WaitUnloaded(DWORD timeoutMs);

    const std::vector<Field>& fields() const { return fields_; }
    HMODULE module() const { return module_; }
    const Field* FindField(DWORD id) const;
    ICredentialProviderCredential* credential() const { return credential_; }
    int violations() const { return violations_; }
    int changesHandled() const { return changesHandled_; }
    DecodedLogon lastLogon() const { return lastLogon_; }
    LsaAnswer lastAnswer() const { return lastAnswer_; }
    std::vector<std::string> lines() const;

    void Log(const char* format, ...);
    void Violation(const char* format, ...);

    // Called by the sinks.
    void OnCredentialsChanged(UINT_PTR context);
    HRESULT OnFieldEvent(const char* what, ICredentialProviderCredential* pcpc, DWORD fieldId, Field** field);
    void QueueEcho(DWORD fieldId, const std::wstring& text);
    Echo echo() const { return options_.echo; }
    HWND window() const { return window_; }
    bool OnHostThread() const { return GetCurrentThreadId() == thread_; }

private:
    class ProviderEvents;
    class CredentialEvents;

    void ReadFields();
    void HandleChange();
    void ReleaseCredential();
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);

    Options options_;
    DWORD thread_;
    HWND window_ = nullptr;
    bool comInitialized_ = false;
    CRITICAL_SECTION lock_;
    std::vector<std::string> lines_;

    HMODULE module_ = nullptr;
    std::wstring modulePath_;  // as loaded, to look the module up once the handle is given back
    CLSID clsid_;  // the class the serialization must name; the product's unless loaded otherwise
    IClassFactory* factory_ = nullptr;
    ICredentialProvider* provider_ = nullptr;
    CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus_ = CPUS_INVALID;
    ProviderEvents* providerEvents_ = nullptr;
    CredentialEvents* credentialEvents_ = nullptr;
    ICredentialProviderCredential* credential_ = nullptr;
    std::vector<Field> fields_;
    HANDLE alertEvent_ = nullptr;

    int violations_ = 0;
    int changesHandled_ = 0;
    int changesWaitedFor_ = 0;
    DecodedLogon lastLogon_;
    LsaAnswer lastAnswer_ = {0, 0};
};

// Machine-side verbs: what happens around LogonUI rather than inside it.
// Presses F8 through the input queue (reaches a RegisterHotKey of the tile's thread).
bool PressF8();
// Plugs or pulls the simulated USB flash disk ts::UsbDisk::FlashDisk(serial): the same volume, and
// the same Corelib id, as a test that enrolled that fixture's Id().
bool SetSimulatedDisk(const std::wstring& serial, bool plugged);
// Writes a lock record of this type into the shared mapping, as the service does.
DWORD WriteLockRecord(LONG lockType);
// Threads that started in the module (the tile's DLL, or the program that links the tile): the
// tile's threads show as the difference between two counts. Threads Wine starts and ends on its own
// are not counted.
int CountThreads(HMODULE module);
// A settings switch as stored, read without creating it (GetMonitorKeyStyle would); -1 when missing.
long ReadSwitch(const wchar_t* name);

// Names for the log.
const char* ScenarioName(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus);
const char* FieldTypeName(CREDENTIAL_PROVIDER_FIELD_TYPE type);
const char* FieldStateName(CREDENTIAL_PROVIDER_FIELD_STATE state);
const char* InteractiveStateName(CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE state);
std::string Quote(const std::wstring& text);  // UTF-8, quoted, with \" \\ \n and \xNN escapes
std::string GuidText(const GUID& guid);
bool ParseGuid(const std::wstring& text, GUID* guid);

}  // namespace logonui
