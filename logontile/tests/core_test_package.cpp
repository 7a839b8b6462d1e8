// The logon package, linked with Logontile's objects: byte-exact blocks, string limits, the
// "Negotiate" lookup and credential protection through the seam table, and that no password
// copy is freed without being zeroed.
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>

#include <map>
#include <string>
#include <vector>

#include "module.h"
#include "package.h"
#include "seams.h"
#include "testsupport.h"

namespace {

using namespace logontile;
using Bytes = std::vector<BYTE>;

constexpr HRESULT kOverflow = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
constexpr NTSTATUS kUnsuccessful = static_cast<NTSTATUS>(0xC0000001);
constexpr NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr HRESULT HrFromNt(NTSTATUS s) { return static_cast<HRESULT>(static_cast<ULONG>(s) | 0x10000000); }

using ts::Hex;

Bytes BlockBytes(const BYTE* p, DWORD n) { return p ? Bytes(p, p + n) : Bytes(); }

// Restores the real seams after each test.
class SeamTest : public ::testing::Test {
protected:
    void TearDown() override { g_seams = kRealSeams; }
};

// ---------------------------------------------------------------------------------------------
// Strings and blocks

TEST(LogontilePackage, UnicodeStringLimits) {
    std::wstring exactMax(32767, L'x');   // 65534 bytes: fits a USHORT length
    std::wstring oneOver(32768, L'x');    // 65536 bytes
    std::wstring userName(40000, L'u');
    std::wstring unterminated(70000, L'y');  // no terminator within 65535 characters
    struct {
        const char* name;
        const wchar_t* text;
        HRESULT expected;
        USHORT length;
    } const cases[] = {
        {"empty", L"", S_OK, 0},
        {"three characters", L"bob", S_OK, 6},
        {"Chinese", L"张三", S_OK, 4},
        {"32767 characters", exactMax.c_str(), S_OK, 65534},
        {"32768 characters", oneOver.c_str(), kOverflow, 0},
        {"40000 characters", userName.c_str(), kOverflow, 0},
        {"no terminator in bound", unterminated.c_str(), E_INVALIDARG, 0},
        {"NULL", nullptr, E_INVALIDARG, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UNICODE_STRING s = {0xAAAA, 0xAAAA, reinterpret_cast<PWSTR>(0x1234)};
        HRESULT hr = InitUnicodeString(c.text, &s);
        EXPECT_EQ(hr, c.expected) << Hex(hr);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(s.Length, c.length);
            EXPECT_EQ(s.MaximumLength, c.length);
            EXPECT_EQ(s.Buffer, c.text);  // referenced, not copied
        } else {
            EXPECT_EQ(s.Length, 0xAAAA);
            EXPECT_EQ(s.Buffer, reinterpret_cast<PWSTR>(0x1234));
        }
    }
}

TEST(LogontilePackage, LsaStringLimits) {
    std::string longest(65534, 'n');
    std::string unterminated(70000, 'n');
    LSA_STRING s = {};
    ASSERT_EQ(InitLsaString("Negotiate", &s), S_OK);
    EXPECT_EQ(s.Length, 9);
    EXPECT_EQ(s.MaximumLength, 10);
    EXPECT_STREQ(s.Buffer, "Negotiate");
    ASSERT_EQ(InitLsaString(longest.c_str(), &s), S_OK);
    EXPECT_EQ(s.Length, 65534);
    EXPECT_EQ(s.MaximumLength, 65535);
    EXPECT_EQ(InitLsaString(unterminated.c_str(), &s), E_INVALIDARG);
    EXPECT_EQ(InitLsaString(nullptr, &s), E_INVALIDARG);
}

// The fixed part is the structure of the architecture LogonUI runs as, each buffer given as its offset
// from the block's start: 36 bytes on 32-bit (offsets in 4 bytes), 64 bytes on 64-bit (a 4-byte
// pad after the message type and after each pair of lengths, offsets in 8 bytes). Both layouts are
// written out by hand; each build checks its own.
TEST(LogontilePackage, PacksByteExactBlocksPerScenario) {
    struct {
        const char* name;
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
        const wchar_t* domain;
        const wchar_t* user;
        const wchar_t* password;
        Bytes header32, header64, strings;
    } const cases[] = {
        {"unlock, empty password: password offset at the end", CPUS_UNLOCK_WORKSTATION, L"ABC", L"bob", L"",
         {0x07, 0, 0, 0,                                     // KerbWorkstationUnlockLogon
          0x06, 0, 0x06, 0, 0x24, 0, 0, 0,                   // domain: 6 bytes at 36
          0x06, 0, 0x06, 0, 0x2A, 0, 0, 0,                   // user: 6 bytes at 42
          0x00, 0, 0x00, 0, 0x30, 0, 0, 0,                   // password: 0 bytes at 48
          0, 0, 0, 0, 0, 0, 0, 0},                           // LogonId
         {0x07, 0, 0, 0, 0, 0, 0, 0,
          0x06, 0, 0x06, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0,   // domain: 6 bytes at 64
          0x06, 0, 0x06, 0, 0, 0, 0, 0, 0x46, 0, 0, 0, 0, 0, 0, 0,   // user: 6 bytes at 70
          0x00, 0, 0x00, 0, 0, 0, 0, 0, 0x4C, 0, 0, 0, 0, 0, 0, 0,   // password: 0 bytes at 76
          0, 0, 0, 0, 0, 0, 0, 0},
         {'A', 0, 'B', 0, 'C', 0, 'b', 0, 'o', 0, 'b', 0}},
        {"logon, Chinese user name", CPUS_LOGON, L"PC-1", L"张三", L"pw!",
         {0x02, 0, 0, 0,                                     // KerbInteractiveLogon
          0x08, 0, 0x08, 0, 0x24, 0, 0, 0,
          0x04, 0, 0x04, 0, 0x2C, 0, 0, 0,
          0x06, 0, 0x06, 0, 0x30, 0, 0, 0,
          0, 0, 0, 0, 0, 0, 0, 0},
         {0x02, 0, 0, 0, 0, 0, 0, 0,
          0x08, 0, 0x08, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0,
          0x04, 0, 0x04, 0, 0, 0, 0, 0, 0x48, 0, 0, 0, 0, 0, 0, 0,
          0x06, 0, 0x06, 0, 0, 0, 0, 0, 0x4C, 0, 0, 0, 0, 0, 0, 0,
          0, 0, 0, 0, 0, 0, 0, 0},
         {'P', 0, 'C', 0, '-', 0, '1', 0, 0x20, 0x5F, 0x09, 0x4E, 'p', 0, 'w', 0, '!', 0}},
        {"credential UI: message type 0", CPUS_CREDUI, L"D", L"u", L"p",
         {0, 0, 0, 0,
          0x02, 0, 0x02, 0, 0x24, 0, 0, 0,
          0x02, 0, 0x02, 0, 0x26, 0, 0, 0,
          0x02, 0, 0x02, 0, 0x28, 0, 0, 0,
          0, 0, 0, 0, 0, 0, 0, 0},
         {0, 0, 0, 0, 0, 0, 0, 0,
          0x02, 0, 0x02, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0,
          0x02, 0, 0x02, 0, 0, 0, 0, 0, 0x42, 0, 0, 0, 0, 0, 0, 0,
          0x02, 0, 0x02, 0, 0, 0, 0, 0, 0x44, 0, 0, 0, 0, 0, 0, 0,
          0, 0, 0, 0, 0, 0, 0, 0},
         {'D', 0, 'u', 0, 'p', 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.header32.size(), 36u);
        ASSERT_EQ(c.header64.size(), 64u);
#ifdef _WIN64
        Bytes expected = c.header64;
#else
        Bytes expected = c.header32;
#endif
        expected.insert(expected.end(), c.strings.begin(), c.strings.end());
        KERB_INTERACTIVE_UNLOCK_LOGON kiul;
        ASSERT_EQ(InitUnlockLogon(c.domain, c.user, c.password, c.cpus, &kiul), S_OK);
        EXPECT_EQ(kiul.Logon.UserName.Buffer, c.user);  // referenced, not copied
        BYTE* block = nullptr;
        DWORD size = 0;
        ASSERT_EQ(PackUnlockLogon(kiul, &block, &size), S_OK);
        EXPECT_EQ(size, expected.size());
        EXPECT_EQ(BlockBytes(block, size), expected);
        CoTaskMemFree(block);
    }
}

TEST(LogontilePackage, RefusedLogonsLeaveTheOutputUntouched) {
    std::wstring longUser(40000, L'u');
    struct {
        const char* name;
        const wchar_t* domain;
        const wchar_t* user;
        const wchar_t* password;
        int cpus;
        HRESULT expected;
    } const cases[] = {
        {"40000-character user name", L"ABC", longUser.c_str(), L"", CPUS_LOGON, kOverflow},
        {"the first failure wins", longUser.c_str(), nullptr, L"", CPUS_LOGON, kOverflow},
        {"no user name", L"ABC", nullptr, L"", CPUS_LOGON, E_INVALIDARG},
        {"no password", L"ABC", L"bob", nullptr, CPUS_UNLOCK_WORKSTATION, E_INVALIDARG},
        {"password change", L"ABC", L"bob", L"", CPUS_CHANGE_PASSWORD, E_FAIL},
        {"scenario 0", L"ABC", L"bob", L"", CPUS_INVALID, E_FAIL},
        {"scenario 5", L"ABC", L"bob", L"", CPUS_PLAP, E_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KERB_INTERACTIVE_UNLOCK_LOGON kiul;
        memset(&kiul, 0xCD, sizeof(kiul));
        KERB_INTERACTIVE_UNLOCK_LOGON before = kiul;
        HRESULT hr = InitUnlockLogon(c.domain, c.user, c.password, static_cast<CREDENTIAL_PROVIDER_USAGE_SCENARIO>(c.cpus), &kiul);
        EXPECT_EQ(hr, c.expected) << Hex(hr);
        EXPECT_EQ(memcmp(&kiul, &before, sizeof(kiul)), 0);
    }
    // A structure whose string claims bytes without a buffer is refused rather than read.
    KERB_INTERACTIVE_UNLOCK_LOGON broken = {};
    broken.Logon.UserName.Length = 6;
    BYTE* block = reinterpret_cast<BYTE*>(0x1234);
    DWORD size = 77;
    EXPECT_EQ(PackUnlockLogon(broken, &block, &size), E_INVALIDARG);
    EXPECT_EQ(block, reinterpret_cast<BYTE*>(0x1234));
    EXPECT_EQ(size, 77u);
}

TEST(LogontilePackage, FieldDescriptorCopiesOwnTheirLabels) {
    const GUID role = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR labelled = {5, CPFT_SMALL_TEXT, const_cast<LPWSTR>(L"状态"), role};
    const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR unlabelled = {0, CPFT_TILE_IMAGE, nullptr, GUID_NULL};
    for (const auto* in : {&labelled, &unlabelled}) {
        SCOPED_TRACE(in->dwFieldID);
        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* copy = nullptr;
        ASSERT_EQ(CoAllocCopyFieldDescriptor(*in, &copy), S_OK);
        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR local;
        memset(&local, 0xCD, sizeof(local));
        ASSERT_EQ(CopyFieldDescriptor(*in, &local), S_OK);
        for (const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* out : {copy, &local}) {
            EXPECT_EQ(out->dwFieldID, in->dwFieldID);
            EXPECT_EQ(out->cpft, in->cpft);
            EXPECT_TRUE(IsEqualGUID(out->guidFieldType, in->guidFieldType));
            if (in->pszLabel) {
                ASSERT_NE(out->pszLabel, nullptr);
                EXPECT_NE(out->pszLabel, in->pszLabel);
                EXPECT_STREQ(out->pszLabel, in->pszLabel);
            } else {
                EXPECT_EQ(out->pszLabel, nullptr);
            }
        }
        CoTaskMemFree(copy->pszLabel);
        CoTaskMemFree(copy);
        CoTaskMemFree(local.pszLabel);
    }
    EXPECT_EQ(CoAllocCopyFieldDescriptor(labelled, nullptr), E_INVALIDARG);
    EXPECT_EQ(CopyFieldDescriptor(labelled, nullptr), E_INVALIDARG);
}

// ---------------------------------------------------------------------------------------------
// The "Negotiate" lookup

struct FakeLsa {
    NTSTATUS connect = 0;
    NTSTATUS lookup = 0;
    ULONG package = 0x77;
    int connects = 0, lookups = 0, deregistrations = 0;
    std::string name;
    USHORT length = 0, maximumLength = 0;
    HANDLE deregistered = nullptr;
};
FakeLsa g_lsa;
HANDLE const kLsaHandle = reinterpret_cast<HANDLE>(0x4C5341);

NTSTATUS NTAPI FakeConnect(PHANDLE h) {
    ++g_lsa.connects;
    if (g_lsa.connect < 0) return g_lsa.connect;
    *h = kLsaHandle;
    return g_lsa.connect;
}
NTSTATUS NTAPI FakeLookup(HANDLE, PLSA_STRING name, PULONG package) {
    ++g_lsa.lookups;
    g_lsa.name.assign(name->Buffer, name->Length);
    g_lsa.length = name->Length;
    g_lsa.maximumLength = name->MaximumLength;
    if (g_lsa.lookup >= 0) *package = g_lsa.package;
    return g_lsa.lookup;
}
NTSTATUS NTAPI FakeDeregister(HANDLE h) {
    ++g_lsa.deregistrations;
    g_lsa.deregistered = h;
    return 0;
}

class LogontileLookup : public SeamTest {
protected:
    void SetUp() override {
        g_lsa = FakeLsa();
        g_seams.LsaConnectUntrusted = FakeConnect;
        g_seams.LsaLookupAuthenticationPackage = FakeLookup;
        g_seams.LsaDeregisterLogonProcess = FakeDeregister;
    }
};

TEST_F(LogontileLookup, AsksForNegotiateAndAlwaysClosesTheConnection) {
    struct {
        const char* name;
        NTSTATUS connect, lookup;
        HRESULT expected;
        int lookups, deregistrations;
    } const cases[] = {
        {"found", 0, 0, S_OK, 1, 1},
        {"unknown package (as under Wine)", 0, kUnsuccessful, HrFromNt(kUnsuccessful), 1, 1},
        {"no connection", kAccessDenied, 0, HrFromNt(kAccessDenied), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        g_lsa.connect = c.connect;
        g_lsa.lookup = c.lookup;
        ULONG package = 0xDEAD;
        HRESULT hr = LookupNegotiatePackage(&package);
        EXPECT_EQ(hr, c.expected) << Hex(hr);
        EXPECT_EQ(package, SUCCEEDED(hr) ? 0x77u : 0xDEADu);
        EXPECT_EQ(g_lsa.connects, 1);
        EXPECT_EQ(g_lsa.lookups, c.lookups);
        EXPECT_EQ(g_lsa.deregistrations, c.deregistrations);
        if (c.lookups) {
            EXPECT_EQ(g_lsa.name, "Negotiate");
            EXPECT_EQ(g_lsa.length, 9);
            EXPECT_EQ(g_lsa.maximumLength, 10);
            EXPECT_EQ(g_lsa.deregistered, kLsaHandle);
        }
    }
}

// An environment check: the default table is the real one, and Wine 8's LSA connects, then fails the
// lookup for this name. A Wine that knows "Negotiate" fails here with a message that says so.
TEST(LogontileLookupUnderWine, RealLsaConnectsButDoesNotKnowNegotiate) {
    ULONG package = 0xDEAD;
    HRESULT hr = LookupNegotiatePackage(&package);
    ASSERT_TRUE(FAILED(hr)) << ts::WineFact("LSA without the \"Negotiate\" package") << ": " << Hex(hr);
    EXPECT_NE(static_cast<ULONG>(hr) & 0x10000000, 0u) << "an LSA status, not an argument error: " << Hex(hr);
    EXPECT_EQ(package, 0xDEADu);
}

// ---------------------------------------------------------------------------------------------
// Credential protection

enum class IsProtected { Absent, No, Yes, Fails };
enum class Protect { Absent, Works, FirstCallSucceeds, Denied, ZeroCount, SecondCallFails, FailsWithoutCode };

struct FakeCred {
    IsProtected isProtected = IsProtected::Absent;
    Protect protect = Protect::Absent;
    int isProtectedCalls = 0, protectCalls = 0;
    bool asSelf = false, typeAsked = false;
    DWORD chars = 0;
};
FakeCred g_cred;

const wchar_t kMarker[] = L"@@P";  // the fake's protected form: marker + text

BOOL WINAPI FakeCredIsProtectedW(LPWSTR, CRED_PROTECTION_TYPE* type) {
    ++g_cred.isProtectedCalls;
    switch (g_cred.isProtected) {
    case IsProtected::No:
        *type = CredUnprotected;
        return TRUE;
    case IsProtected::Yes:
        *type = CredUserProtection;
        return TRUE;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

BOOL WINAPI FakeCredProtectW(BOOL asSelf, LPWSTR text, DWORD chars, LPWSTR out, DWORD* count,
                             CRED_PROTECTION_TYPE* type) {
    ++g_cred.protectCalls;
    g_cred.asSelf |= asSelf != FALSE;
    g_cred.typeAsked |= type != nullptr;
    g_cred.chars = chars;
    std::wstring result = kMarker + std::wstring(text, chars - 1);
    DWORD needed = static_cast<DWORD>(result.size() + 1);
    bool sizing = !out || *count < needed;
    switch (g_cred.protect) {
    case Protect::FirstCallSucceeds:
        return TRUE;
    case Protect::Denied:
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    case Protect::ZeroCount:
        *count = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    case Protect::FailsWithoutCode:
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    case Protect::SecondCallFails:
        if (!sizing) {
            wmemcpy(out, result.c_str(), needed);  // half-done work that must not leak
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        break;
    default:
        break;
    }
    if (sizing) {
        *count = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wmemcpy(out, result.c_str(), needed);
    *count = needed;
    return TRUE;
}

FARPROC WINAPI FakeGetCredProc(const char* name) {
    if (strcmp(name, "CredIsProtectedW") == 0 && g_cred.isProtected != IsProtected::Absent)
        return reinterpret_cast<FARPROC>(FakeCredIsProtectedW);
    if (strcmp(name, "CredProtectW") == 0 && g_cred.protect != Protect::Absent)
        return reinterpret_cast<FARPROC>(FakeCredProtectW);
    return nullptr;
}

class LogontileProtection : public SeamTest {
protected:
    void SetUp() override {
        g_cred = FakeCred();
        g_seams.GetCredentialProtectionProc = FakeGetCredProc;
    }
};

TEST_F(LogontileProtection, ProtectsOnlyWhatNeedsItAndReportsEveryFailure) {
    struct {
        const char* name;
        const wchar_t* password;
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
        IsProtected isProtected;
        Protect protect;
        HRESULT expected;
        const wchar_t* out;  // NULL: no output
        int protectCalls;
    } const cases[] = {
        {"NULL password", nullptr, CPUS_LOGON, IsProtected::No, Protect::Works, S_OK, L"", 0},
        {"empty password", L"", CPUS_UNLOCK_WORKSTATION, IsProtected::No, Protect::Works, S_OK, L"", 0},
        {"protected at logon", L"pw", CPUS_LOGON, IsProtected::No, Protect::Works, S_OK, L"@@Ppw", 2},
        {"protected at unlock", L"密码", CPUS_UNLOCK_WORKSTATION, IsProtected::No, Protect::Works, S_OK, L"@@P密码", 2},
        {"already protected: sent unchanged", L"@@Dxyz", CPUS_LOGON, IsProtected::Yes, Protect::Works, S_OK, L"@@Dxyz", 0},
        {"credential UI: sent unchanged", L"pw", CPUS_CREDUI, IsProtected::No, Protect::Works, S_OK, L"pw", 0},
        {"protection test fails: counts as unprotected", L"pw", CPUS_LOGON, IsProtected::Fails, Protect::Works, S_OK,
         L"@@Ppw", 2},
        {"no protection test on this system", L"pw", CPUS_LOGON, IsProtected::Absent, Protect::Works, S_OK, L"@@Ppw", 2},
        {"no credential protection (XP, Wine): sent as typed", L"pw", CPUS_LOGON, IsProtected::Absent, Protect::Absent,
         S_OK, L"pw", 0},
        {"size query succeeds", L"pw", CPUS_LOGON, IsProtected::No, Protect::FirstCallSucceeds, E_FAIL, nullptr, 1},
        {"denied", L"pw", CPUS_LOGON, IsProtected::No, Protect::Denied, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), nullptr, 1},
        {"no size given", L"pw", CPUS_LOGON, IsProtected::No, Protect::ZeroCount,
         HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), nullptr, 1},
        {"second call fails", L"pw", CPUS_LOGON, IsProtected::No, Protect::SecondCallFails,
         HRESULT_FROM_WIN32(ERROR_INVALID_DATA), nullptr, 2},
        {"failure without an error code is still a failure", L"pw", CPUS_LOGON, IsProtected::No,
         Protect::FailsWithoutCode, E_FAIL, nullptr, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        g_cred.isProtected = c.isProtected;
        g_cred.protect = c.protect;
        PWSTR out = reinterpret_cast<PWSTR>(0x1234);
        HRESULT hr = ProtectPasswordIfNeeded(c.password, c.cpus, &out);
        EXPECT_EQ(hr, c.expected) << Hex(hr);
        if (c.out) {
            ASSERT_NE(out, nullptr);
            EXPECT_STREQ(out, c.out);
            EXPECT_NE(out, c.password);  // always a copy the caller frees
        } else {
            EXPECT_EQ(out, nullptr);
        }
        EXPECT_EQ(g_cred.protectCalls, c.protectCalls);
        if (c.protectCalls) {
            EXPECT_FALSE(g_cred.asSelf);
            EXPECT_FALSE(g_cred.typeAsked);
            EXPECT_EQ(g_cred.chars, wcslen(c.password) + 1);  // the terminator counts
        }
        if (hr == S_OK) FreeSecret(out);
    }
}

TEST_F(LogontileProtection, CopyProtectedPasswordWithoutProtectionIsAFailure) {
    PWSTR out = reinterpret_cast<PWSTR>(0x1234);
    EXPECT_EQ(CopyProtectedPassword(L"pw", &out), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(out, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Whole serialization, with every freed CoTaskMem block inspected before it goes.

// Sees every CoTaskMemFree of this process and remembers whether the block still held a secret.
class FreeWatch : public IMallocSpy {
public:
    explicit FreeWatch(std::wstring secret) : secret_(std::move(secret)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
            *ppv = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cb) override {
        pending_ = cb;
        return cb;
    }
    STDMETHODIMP_(void*) PostAlloc(void* p) override {
        if (p) sizes_[p] = pending_;
        return p;
    }
    STDMETHODIMP_(void*) PreFree(void* p, BOOL) override {
        auto it = sizes_.find(p);
        if (it != sizes_.end()) {
            ++freed_;
            if (Holds(static_cast<const BYTE*>(p), it->second)) ++freedWithSecret_;
            sizes_.erase(it);
        }
        return p;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* p, SIZE_T cb, void** out, BOOL) override {
        sizes_.erase(p);
        pending_ = cb;
        *out = p;
        return cb;
    }
    STDMETHODIMP_(void*) PostRealloc(void* p, BOOL) override {
        if (p) sizes_[p] = pending_;
        return p;
    }
    STDMETHODIMP_(void*) PreGetSize(void* p, BOOL) override { return p; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cb, BOOL) override { return cb; }
    STDMETHODIMP_(void*) PreDidAlloc(void* p, BOOL) override { return p; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    bool Holds(const BYTE* p, SIZE_T size) const {
        const SIZE_T n = secret_.size() * sizeof(wchar_t);
        const BYTE* s = reinterpret_cast<const BYTE*>(secret_.data());
        for (SIZE_T i = 0; n && i + n <= size; ++i)
            if (memcmp(p + i, s, n) == 0) return true;
        return false;
    }
    int freed_ = 0;
    int freedWithSecret_ = 0;

private:
    std::wstring secret_;
    SIZE_T pending_ = 0;
    std::map<void*, SIZE_T> sizes_;
};

class LogontileSerialize : public SeamTest {
protected:
    void SetUp() override {
        g_lsa = FakeLsa();
        g_cred = FakeCred();
        g_seams.LsaConnectUntrusted = FakeConnect;
        g_seams.LsaLookupAuthenticationPackage = FakeLookup;
        g_seams.LsaDeregisterLogonProcess = FakeDeregister;
        g_seams.GetCredentialProtectionProc = FakeGetCredProc;
        ASSERT_EQ(CoRegisterMallocSpy(&watch_), S_OK);
    }
    void TearDown() override {
        CoRevokeMallocSpy();
        SeamTest::TearDown();
    }
    FreeWatch watch_{L"s3cret-pw"};
};

TEST_F(LogontileSerialize, HandsOverTheBlockWithPackageAndClassId) {
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
    ASSERT_EQ(SerializeLogon(L"ABC", L"bob", L"s3cret-pw", CPUS_UNLOCK_WORKSTATION, &cs), S_OK);
    EXPECT_EQ(cs.ulAuthenticationPackage, 0x77u);
    EXPECT_TRUE(IsEqualGUID(cs.clsidCredentialProvider, CLSID_Logontile));
    ASSERT_NE(cs.rgbSerialization, nullptr);
    ASSERT_EQ(cs.cbSerialization, kPackedLogonHeader + 6 + 6 + 18);
    EXPECT_TRUE(watch_.Holds(cs.rgbSerialization, cs.cbSerialization));  // unprotected: no CredProtectW here
    // The password copy made on the way was zeroed before it was freed.
    EXPECT_GE(watch_.freed_, 1);
    EXPECT_EQ(watch_.freedWithSecret_, 0);
    FreeSerializationBlock(cs.rgbSerialization, cs.cbSerialization);
    EXPECT_EQ(watch_.freedWithSecret_, 0);
}

TEST_F(LogontileSerialize, FailuresLeaveNoBlockAndNoPasswordInFreedMemory) {
    std::wstring longUser(40000, L'u');
    struct {
        const char* name;
        const wchar_t* user;
        NTSTATUS lookup;
        Protect protect;
        HRESULT expected;
    } const cases[] = {
        {"package lookup fails after packing", L"bob", kUnsuccessful, Protect::Absent, HrFromNt(kUnsuccessful)},
        {"user name too long", longUser.c_str(), 0, Protect::Absent, kOverflow},
        {"protection fails half-way", L"bob", 0, Protect::SecondCallFails, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_lsa.lookup = c.lookup;
        g_cred.protect = c.protect;
        g_cred.isProtected = IsProtected::No;
        watch_.freed_ = watch_.freedWithSecret_ = 0;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
        HRESULT hr = SerializeLogon(L"ABC", c.user, L"s3cret-pw", CPUS_LOGON, &cs);
        EXPECT_EQ(hr, c.expected) << Hex(hr);
        EXPECT_EQ(cs.rgbSerialization, nullptr);
        EXPECT_EQ(cs.cbSerialization, 0u);
        EXPECT_GE(watch_.freed_, 1);
        EXPECT_EQ(watch_.freedWithSecret_, 0);
    }
}

}  // namespace
