// The LogonUI host itself, driven in process against a small fake provider and tile: the change
// signal from another thread, the submit road through the fake LSA, echo modes, the block
// decoder's checks and the protocol faults it must flag. The tile packs with Logontile's own
// package code, so the decoder is checked against the real layout.
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "corelib.h"
#include "logonui_host.h"
#include "usbdisk.h"
#include "package.h"
#include "seams.h"

namespace {

using namespace logonui;

constexpr ULONG kPackage = 0x4E47;
constexpr NTSTATUS kLogonFailure = static_cast<NTSTATUS>(0xC000006D);
constexpr NTSTATUS kRestriction = static_cast<NTSTATUS>(0xC000006E);
constexpr NTSTATUS kDisabled = static_cast<NTSTATUS>(0xC0000072);
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);

NTSTATUS NTAPI LookupAnswersNegotiate(HANDLE, PLSA_STRING, PULONG package) {
    *package = kPackage;
    return 0;
}

bool HasLine(const Host& host, const std::string& part) {
    for (const std::string& line : host.lines())
        if (line.find(part) != std::string::npos) return true;
    return false;
}

std::string AllLines(const Host& host) {
    std::string out;
    for (const std::string& line : host.lines()) out += line + "\n";
    return out;
}

// What the fake tile does wrong, one fault at a time.
enum class Fault { None, EventFromOtherThread, UnknownField, LeavesBlockOnFailure, ForeignClassId, ButtonBesideNothing };

struct Call {
    DWORD field;
    std::wstring text;
    bool insideEvent;
};

class FakeTile : public ICredentialProviderCredential {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProviderCredential)) {
            *ppv = static_cast<ICredentialProviderCredential*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }

    STDMETHODIMP Advise(ICredentialProviderCredentialEvents* e) override {
        if (events) events->Release();
        events = e;
        if (events) events->AddRef();
        return S_OK;
    }
    STDMETHODIMP UnAdvise() override {
        if (events) events->Release();
        events = nullptr;
        return S_OK;
    }
    STDMETHODIMP SetSelected(BOOL* autoLogon) override {
        ++selections;
        *autoLogon = connected;
        if (!events) return S_OK;
        insideEvent = true;
        events->SetFieldString(this, 1, L"shown");
        events->SetFieldString(this, 2, L"secret");
        insideEvent = false;
        if (fault == Fault::UnknownField) events->SetFieldState(this, 42, CPFS_HIDDEN);
        if (fault == Fault::ButtonBesideNothing) events->SetFieldSubmitButton(this, 3, 9);
        if (fault == Fault::EventFromOtherThread) {
            HANDLE t = CreateThread(nullptr, 0, EventFromOtherThread, this, 0, nullptr);
            WaitForSingleObject(t, 5000);
            CloseHandle(t);
        }
        return S_OK;
    }
    static DWORD WINAPI EventFromOtherThread(void* self) {
        auto* tile = static_cast<FakeTile*>(self);
        tile->events->SetFieldState(tile, 2, CPFS_DISPLAY_IN_BOTH);
        return 0;
    }
    STDMETHODIMP SetDeselected() override { return S_OK; }
    STDMETHODIMP GetFieldState(DWORD id, CREDENTIAL_PROVIDER_FIELD_STATE* s,
                               CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* i) override {
        if (id > 3 || !s || !i) return E_INVALIDARG;
        *s = id == 2 ? CPFS_HIDDEN : CPFS_DISPLAY_IN_BOTH;
        *i = id == 2 ? CPFIS_FOCUSED : CPFIS_NONE;
        return S_OK;
    }
    STDMETHODIMP GetStringValue(DWORD id, LPWSTR* out) override {
        static const wchar_t* const texts[] = {L"", L"bob", L"", L"Submit"};
        if (id > 3 || !out) return E_INVALIDARG;
        size_t n = (wcslen(texts[id]) + 1) * sizeof(wchar_t);
        *out = static_cast<LPWSTR>(CoTaskMemAlloc(n));
        memcpy(*out, texts[id], n);
        return S_OK;
    }
    STDMETHODIMP GetBitmapValue(DWORD id, HBITMAP* out) override {
        if (id != 0 || !out) return E_INVALIDARG;
        *out = CreateBitmap(8, 6, 1, 32, nullptr);
        return S_OK;
    }
    STDMETHODIMP GetCheckboxValue(DWORD, BOOL*, LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSubmitButtonValue(DWORD id, DWORD* adjacent) override {
        if (id != 3 || !adjacent) return E_INVALIDARG;
        *adjacent = 2;
        return S_OK;
    }
    STDMETHODIMP GetComboBoxValueCount(DWORD, DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetComboBoxValueAt(DWORD, DWORD, LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetStringValue(DWORD id, LPCWSTR text) override {
        calls.push_back({id, text ? text : L"(null)", insideEvent});
        if (id == 2) password = text ? text : L"";
        return S_OK;
    }
    STDMETHODIMP SetCheckboxValue(DWORD, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP SetComboBoxSelectedValue(DWORD, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP CommandLinkClicked(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response,
                                  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* cs, LPWSTR*,
                                  CREDENTIAL_PROVIDER_STATUS_ICON*) override {
        HRESULT hr = logontile::SerializeLogon(L"ABC", user.c_str(), password.c_str(), cpus, cs);
        if (FAILED(hr)) return hr;
        if (fault == Fault::LeavesBlockOnFailure) return E_FAIL;  // and keeps the block in cs
        if (fault == Fault::ForeignClassId) cs->clsidCredentialProvider.Data1 ^= 1;
        *response = CPGSR_RETURN_CREDENTIAL_FINISHED;
        return S_OK;
    }
    STDMETHODIMP ReportResult(NTSTATUS status, NTSTATUS substatus, LPWSTR* text,
                              CREDENTIAL_PROVIDER_STATUS_ICON* icon) override {
        ++reports;
        reportedStatus = status;
        reportedSubstatus = substatus;
        *text = nullptr;
        *icon = CPSI_NONE;
        return S_OK;
    }

    volatile LONG refs = 1;
    ICredentialProviderCredentialEvents* events = nullptr;
    CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus = CPUS_UNLOCK_WORKSTATION;
    std::wstring user = L"bob";
    std::wstring password;
    volatile BOOL connected = FALSE;
    bool insideEvent = false;
    Fault fault = Fault::None;
    int selections = 0, reports = 0;
    NTSTATUS reportedStatus = 1, reportedSubstatus = 1;
    std::vector<Call> calls;
};

class FakeProvider : public ICredentialProvider {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProvider)) {
            *ppv = static_cast<ICredentialProvider*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    STDMETHODIMP SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD) override {
        tile.cpus = cpus;
        return S_OK;
    }
    STDMETHODIMP SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(ICredentialProviderEvents* e, UINT_PTR c) override {
        events = e;
        events->AddRef();
        context = c;
        return S_OK;
    }
    STDMETHODIMP UnAdvise() override {
        if (events) events->Release();
        events = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetFieldDescriptorCount(DWORD* n) override {
        *n = 4;
        return S_OK;
    }
    STDMETHODIMP GetFieldDescriptorAt(DWORD i, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** out) override {
        static const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR table[] = {
            {0, CPFT_TILE_IMAGE, const_cast<LPWSTR>(L"Image"), {}},
            {1, CPFT_LARGE_TEXT, const_cast<LPWSTR>(L"Username"), {}},
            {2, CPFT_PASSWORD_TEXT, const_cast<LPWSTR>(L"Password"), {}},
            {3, CPFT_SUBMIT_BUTTON, const_cast<LPWSTR>(L"Submit"), {}},
        };
        if (i >= 4 || !out) return E_INVALIDARG;
        return logontile::CoAllocCopyFieldDescriptor(table[i], out);
    }
    STDMETHODIMP GetCredentialCount(DWORD* n, DWORD* def, BOOL* autoLogon) override {
        *n = 1;
        *def = 0;
        *autoLogon = FALSE;
        return S_OK;
    }
    STDMETHODIMP GetCredentialAt(DWORD, ICredentialProviderCredential** out) override {
        enumerationThreads.push_back(GetCurrentThreadId());
        return tile.QueryInterface(IID_ICredentialProviderCredential, reinterpret_cast<void**>(out));
    }

    // The key thread of a real tile: finds the key, then tells LogonUI from its own thread.
    void SignalFromWorker(UINT_PTR contextToSend) {
        sendContext = contextToSend;
        worker = CreateThread(nullptr, 0, KeyThread, this, 0, nullptr);
    }
    static DWORD WINAPI KeyThread(void* self) {
        auto* p = static_cast<FakeProvider*>(self);
        Sleep(50);
        p->tile.connected = TRUE;
        p->events->CredentialsChanged(p->sendContext);
        return 0;
    }
    ~FakeProvider() {
        if (worker) {
            WaitForSingleObject(worker, 10000);
            CloseHandle(worker);
        }
    }

    volatile LONG refs = 1;
    ICredentialProviderEvents* events = nullptr;
    UINT_PTR context = 0, sendContext = 0;
    HANDLE worker = nullptr;
    FakeTile tile;
    std::vector<DWORD> enumerationThreads;
};

class LogonUiHost : public ::testing::Test {
protected:
    void SetUp() override {
        logontile::g_seams.LsaLookupAuthenticationPackage = LookupAnswersNegotiate;
        options_.accounts.push_back({L"", L"bob", L"pw"});
        options_.checkPackage = true;
        options_.package = kPackage;
    }
    void TearDown() override { logontile::g_seams = logontile::kRealSeams; }
    Options options_;
    FakeProvider provider_;
};

TEST_F(LogonUiHost, KeyFoundOnAnotherThreadIsHandledOnTheHostThreadAndSubmitted) {
    Host host(options_);
    ASSERT_EQ(host.AttachProvider(&provider_, CPUS_UNLOCK_WORKSTATION), S_OK);
    ASSERT_NE(host.credential(), nullptr);
    provider_.tile.password = L"pw";
    ASSERT_EQ(host.Select(), S_OK);
    EXPECT_EQ(provider_.tile.reports, 0);  // nothing to submit yet

    provider_.SignalFromWorker(provider_.context);
    ASSERT_TRUE(host.WaitForChange(5000)) << AllLines(host);
    EXPECT_EQ(provider_.context, options_.adviseContext);
    EXPECT_TRUE(HasLine(host, "EVENT CredentialsChanged context=0x5EED thread=other")) << AllLines(host);
    ASSERT_EQ(provider_.enumerationThreads.size(), 2u);
    for (DWORD t : provider_.enumerationThreads) EXPECT_EQ(t, GetCurrentThreadId());
    EXPECT_EQ(provider_.tile.selections, 2);

    EXPECT_EQ(provider_.tile.reports, 1);
    EXPECT_EQ(provider_.tile.reportedStatus, 0);
    DecodedLogon logon = host.lastLogon();
    ASSERT_TRUE(logon.ok) << logon.error;
    EXPECT_EQ(logon.messageType, 7u);
    EXPECT_EQ(logon.domain.text, L"ABC");
    EXPECT_EQ(logon.user.text, L"bob");
    EXPECT_EQ(logon.password.text, L"pw");
    EXPECT_EQ(host.violations(), 0) << AllLines(host);
    EXPECT_FALSE(host.WaitForChange(100));  // that change has been waited for

    // The model follows the tile's events.
    const Field* password = host.FindField(2);
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(password->type, CPFT_PASSWORD_TEXT);
    EXPECT_EQ(password->interactive, CPFIS_FOCUSED);
    EXPECT_EQ(password->text, L"secret");
    EXPECT_EQ(host.FindField(3)->adjacentTo, 2u);
    EXPECT_EQ(host.FindField(0)->bitmapWidth, 8);
    host.Close();
    EXPECT_EQ(provider_.refs, 1);
    EXPECT_EQ(provider_.tile.refs, 1);
}

TEST_F(LogonUiHost, FakeLsaAnswersFromItsAccountTable) {
    const std::vector<Account> accounts = {
        {L"", L"bob", L"pw"},
        {L"OFFICE", L"ann", L"x1"},
        {L"", L"eve", L"e", kRestriction, kDisabled},
    };
    struct {
        const char* name;
        const wchar_t* domain;
        const wchar_t* user;
        const wchar_t* password;
        NTSTATUS status, substatus;
    } const cases[] = {
        {"right password, any domain", L"PC", L"bob", L"pw", 0, 0},
        {"user name case does not matter", L"PC", L"BOB", L"pw", 0, 0},
        {"password case does", L"PC", L"bob", L"PW", kLogonFailure, 0},
        {"wrong password", L"PC", L"bob", L"", kLogonFailure, 0},
        {"unknown user", L"PC", L"zed", L"pw", kLogonFailure, 0},
        {"account of another domain", L"PC", L"ann", L"x1", kLogonFailure, 0},
        {"its own domain", L"office", L"ann", L"x1", 0, 0},
        {"disabled account", L"PC", L"eve", L"e", kRestriction, kDisabled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedLogon d;
        d.ok = true;
        d.domain.text = c.domain;
        d.user.text = c.user;
        d.password.text = c.password;
        LsaAnswer a = AnswerLogon(accounts, d);
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.substatus, c.substatus);
    }
    EXPECT_EQ(AnswerLogon(accounts, DecodedLogon()).status, kInvalidParameter);  // an undecodable block
}

TEST_F(LogonUiHost, DecoderChecksEveryLengthAndOffset) {
    KERB_INTERACTIVE_UNLOCK_LOGON kiul;
    ASSERT_EQ(logontile::InitUnlockLogon(L"ABC", L"bob", L"pw", CPUS_LOGON, &kiul), S_OK);
    BYTE* packed = nullptr;
    DWORD size = 0;
    ASSERT_EQ(logontile::PackUnlockLogon(kiul, &packed, &size), S_OK);
    const std::vector<BYTE> good(packed, packed + size);
    CoTaskMemFree(packed);

    auto put16 = [](std::vector<BYTE>& b, size_t at, USHORT v) { memcpy(&b[at], &v, 2); };
    auto put32 = [](std::vector<BYTE>& b, size_t at, ULONG v) { memcpy(&b[at], &v, 4); };
    struct Case {
        const char* name;
        void (*change)(std::vector<BYTE>&, decltype(put16)&, decltype(put32)&);
        const char* error;  // NULL: decodes
    };
    // Where each field lies in this architecture's layout.
    constexpr size_t kUserLength = kPacked.user, kDomainMax = kPacked.domain + 2;
    constexpr size_t kDomainOffset = kPacked.domain + kPacked.bufferAt, kUserOffset = kPacked.user + kPacked.bufferAt,
                     kPasswordOffset = kPacked.password + kPacked.bufferAt;
    const std::string cutAt = "password: 4 bytes at " + std::to_string(kPacked.header + 12) + " outside";
    const std::string misaligned = "password: misaligned offset " + std::to_string(kPacked.header + 11);
    const Case cases[] = {
        {"as packed", [](std::vector<BYTE>&, decltype(put16)&, decltype(put32)&) {}, nullptr},
        {"shorter than the header",
         [](std::vector<BYTE>& b, decltype(put16)&, decltype(put32)&) { b.resize(kPacked.header - 1); },
         "shorter than the header"},
        {"cut inside the password", [](std::vector<BYTE>& b, decltype(put16)&, decltype(put32)&) { b.pop_back(); },
         cutAt.c_str()},
        {"odd user length",
         [](std::vector<BYTE>& b, decltype(put16)& p16, decltype(put32)&) { p16(b, kUserLength, 5); },
         "user: odd length"},
        {"maximum below length",
         [](std::vector<BYTE>& b, decltype(put16)& p16, decltype(put32)&) { p16(b, kDomainMax, 4); },
         "domain: maximum length 4 below length 6"},
        {"offset wraps around",
         [](std::vector<BYTE>& b, decltype(put16)&, decltype(put32)& p32) { p32(b, kUserOffset, 0xFFFFFFFE); },
         "user: 6 bytes at 4294967294 outside"},
        {"offset into the header",
         [](std::vector<BYTE>& b, decltype(put16)&, decltype(put32)& p32) { p32(b, kDomainOffset, 4); },
         "domain: offset 4 inside the header"},
        {"misaligned offset",
         [](std::vector<BYTE>& b, decltype(put16)&, decltype(put32)& p32) {
             p32(b, kPasswordOffset, kPacked.header + 11);
         },
         misaligned.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> block = good;
        c.change(block, put16, put32);
        DecodedLogon d = DecodeUnlockLogon(block.data(), static_cast<DWORD>(block.size()));
        if (!c.error) {
            ASSERT_TRUE(d.ok) << d.error;
            EXPECT_EQ(d.messageType, 2u);
            EXPECT_EQ(d.domain.offset, kPacked.header);
            EXPECT_EQ(d.user.offset, kPacked.header + 6);
            EXPECT_EQ(d.password.offset, kPacked.header + 12);
            EXPECT_EQ(d.password.text, L"pw");
        } else {
            EXPECT_FALSE(d.ok);
            EXPECT_NE(d.error.find(c.error), std::string::npos) << d.error;
        }
    }
    EXPECT_FALSE(DecodeUnlockLogon(nullptr, 48).ok);
}

TEST_F(LogonUiHost, EchoesEditFieldTextsOnlyWhenAsked) {
    struct {
        Echo echo;
        size_t echoesBeforePump;
        size_t echoesAfterPump;
        bool inside;
    } const cases[] = {
        {Echo::None, 0, 0, false},
        {Echo::Immediate, 1, 1, true},
        {Echo::Deferred, 0, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.echo));
        FakeProvider provider;
        options_.echo = c.echo;
        Host host(options_);
        ASSERT_EQ(host.AttachProvider(&provider, CPUS_LOGON), S_OK);
        ASSERT_EQ(host.Select(), S_OK);  // the tile sets field 1 (text) and field 2 (password)
        EXPECT_EQ(provider.tile.calls.size(), c.echoesBeforePump);
        host.Pump();
        ASSERT_EQ(provider.tile.calls.size(), c.echoesAfterPump);
        for (const Call& call : provider.tile.calls) {
            EXPECT_EQ(call.field, 2u);  // never the large text
            EXPECT_EQ(call.text, L"secret");
            EXPECT_EQ(call.insideEvent, c.inside);
        }
        EXPECT_EQ(host.violations(), 0) << AllLines(host);
    }
}

TEST_F(LogonUiHost, TypingSendsEveryPrefixAndNotesHiddenFields) {
    Host host(options_);
    ASSERT_EQ(host.AttachProvider(&provider_, CPUS_LOGON), S_OK);
    ASSERT_EQ(host.Type(2, L"p密"), S_OK);
    ASSERT_EQ(provider_.tile.calls.size(), 2u);
    EXPECT_EQ(provider_.tile.calls[0].text, L"p");
    EXPECT_EQ(provider_.tile.calls[1].text, L"p密");
    EXPECT_EQ(host.FindField(2)->text, L"p密");
    EXPECT_TRUE(HasLine(host, "WARN typing into field 2, which is CPFS_HIDDEN")) << AllLines(host);
    EXPECT_EQ(host.Type(9, L"x"), E_INVALIDARG);
}

TEST_F(LogonUiHost, FlagsWhatRealLogonUiWouldNotAccept) {
    // The fake tile's block: the fixed part and three strings of 16 bytes in all.
    const std::string leftBlock = "failed but left a block of " + std::to_string(kPacked.header + 16) + " bytes";
    struct {
        const char* name;
        Fault fault;
        UINT_PTR wrongContext;
        const char* line;
    } const cases[] = {
        {"field event from the tile's own thread", Fault::EventFromOtherThread, 0, "not LogonUI's"},
        {"event for a field that does not exist", Fault::UnknownField, 0, "SetFieldState for unknown field 42"},
        {"submit button beside no field", Fault::ButtonBesideNothing, 0, "beside unknown field 9"},
        {"failed serialization keeps its block", Fault::LeavesBlockOnFailure, 0, leftBlock.c_str()},
        {"serialization names another provider", Fault::ForeignClassId, 0, "serialization names provider"},
        {"change signal with another context", Fault::None, 0x77, "CredentialsChanged with context 0x77"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProvider provider;
        provider.tile.fault = c.fault;
        provider.tile.password = L"pw";
        Host host(options_);
        ASSERT_EQ(host.AttachProvider(&provider, CPUS_UNLOCK_WORKSTATION), S_OK);
        host.Select();
        provider.SignalFromWorker(c.wrongContext ? c.wrongContext : provider.context);
        host.WaitForChange(5000);
        EXPECT_GT(host.violations(), 0);
        EXPECT_TRUE(HasLine(host, c.line)) << AllLines(host);
    }
}

TEST(LogonUiHostMachine, KeyVerbsPlugAndPullTheFixturesDisk) {
    static const GUID kVolumeInterface = {0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    const std::wstring path = ts::UsbDisk::FlashDisk(L"HOSTSER1").InterfacePath();
    auto present = [&]() {
        HDEVINFO set = SetupDiGetClassDevsW(&kVolumeInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return false;
        bool found = false;
        SP_DEVICE_INTERFACE_DATA data = {sizeof(data)};
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kVolumeInterface, i, &data); ++i) {
            BYTE buf[1024] = {};
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buf);
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof(buf), nullptr, nullptr) &&
                _wcsicmp(detail->DevicePath, path.c_str()) == 0)
                found = true;
        }
        SetupDiDestroyDeviceInfoList(set);
        return found;
    };
    EXPECT_FALSE(present());
    ASSERT_TRUE(SetSimulatedDisk(L"HOSTSER1", true));
    EXPECT_TRUE(present());
    ASSERT_TRUE(SetSimulatedDisk(L"HOSTSER1", false));
    EXPECT_FALSE(present());
    ASSERT_TRUE(SetSimulatedDisk(L"HOSTSER1", true));
    EXPECT_TRUE(present());
    EXPECT_FALSE(SetSimulatedDisk(L"BAD#SERIAL", true));
    ts::RemoveAllSimulatedDisks();
    EXPECT_FALSE(present());
}

// The tile's F8 thread registers the key on its own queue; the host's F8 must reach it.
struct HotKeyThread {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    volatile LONG registered = 0;
    volatile LONG hotKeys = 0;
    static DWORD WINAPI Run(void* self) {
        auto* t = static_cast<HotKeyThread*>(self);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // make the queue
        t->registered = RegisterHotKey(nullptr, 1, 0, VK_F8);
        SetEvent(t->ready);
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 5000 && !t->hotKeys) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                if (msg.message == WM_HOTKEY && msg.wParam == 1) InterlockedIncrement(&t->hotKeys);
        }
        if (t->registered) UnregisterHotKey(nullptr, 1);
        return 0;
    }
};

TEST(LogonUiHostMachine, F8ReachesAHotKeyOfAnotherThread) {
    HotKeyThread t;
    HANDLE thread = CreateThread(nullptr, 0, HotKeyThread::Run, &t, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(t.ready, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(t.registered) << GetLastError();
    EXPECT_TRUE(PressF8());
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(t.ready);
    EXPECT_EQ(t.hotKeys, 1);
}

TEST(LogonUiHostMachine, LockRecordReachesTheReaderOnce) {
    ASSERT_EQ(WriteLockRecord(LOCKTYPE_KEY_REMOVED), 0u);
    LockRecord record;
    memset(&record, 0xCD, sizeof(record));
    ASSERT_EQ(ReadFromSharedMemory(&record, sizeof(record)), 0u);
    EXPECT_EQ(record.enuLockType, LOCKTYPE_KEY_REMOVED);
    EXPECT_EQ(record.body.lpUserName[0], 0);
    ASSERT_EQ(ReadFromSharedMemory(&record, sizeof(record)), 0u);
    EXPECT_EQ(record.enuLockType, LOCKTYPE_NONE);  // a read consumes it
}

}  // namespace
