// The provider filter through the real Logontile.dll.
#include <vector>

#include "dllfixture.h"

namespace {

using lt::Hex;
using lt::Module;

// Provider lists are written as letters: 'O' is our CLSID, any other letter a foreign provider.
std::vector<GUID> Providers(const char* letters) {
    std::vector<GUID> out;
    for (const char* p = letters; *p; ++p) {
        if (*p == 'O') {
            out.push_back(CLSID_Logontile);
        } else {
            GUID g = lt::kPasswordProvider;
            g.Data1 += static_cast<unsigned char>(*p);
            out.push_back(g);
        }
    }
    return out;
}

std::vector<BOOL> Allow(const char* bits) {
    std::vector<BOOL> out;
    for (const char* p = bits; *p; ++p) out.push_back(*p == '1');
    return out;
}

struct FilterCase {
    const char* name;
    int cpus;
    const char* providers;
    const char* before;
    HRESULT expected;
    const char* after;
};

class LogontileFilter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module_.ok()) << GetLastError();
        filter_ = module_.Create<ICredentialProviderFilter>(IID_ICredentialProviderFilter);
        ASSERT_NE(filter_, nullptr);
    }
    void TearDown() override {
        if (filter_) {
            EXPECT_EQ(filter_->Release(), 0u);
        }
        EXPECT_EQ(module_.CanUnloadNow(), S_OK);
    }
    Module module_;
    ICredentialProviderFilter* filter_ = nullptr;
};

TEST_F(LogontileFilter, LeavesOnlyItsOwnTileAtLogonAndUnlock) {
    const FilterCase cases[] = {
        {"own first, logon", CPUS_LOGON, "OAB", "111", S_OK, "100"},
        {"own third of five, unlock", CPUS_UNLOCK_WORKSTATION, "ABOCD", "10110", S_OK, "00100"},
        {"own last, logon", CPUS_LOGON, "ABO", "110", S_OK, "001"},
        {"own disabled by LogonUI is enabled", CPUS_UNLOCK_WORKSTATION, "AO", "10", S_OK, "01"},
        {"own listed twice: the first wins", CPUS_LOGON, "AOBO", "1111", S_OK, "0100"},
        {"own absent: LogonUI's choice stands", CPUS_LOGON, "ABC", "101", S_OK, "101"},
        {"credential dialogs keep every provider", CPUS_CREDUI, "AOB", "111", E_NOTIMPL, "111"},
        {"password change keeps every provider", CPUS_CHANGE_PASSWORD, "AOB", "101", E_NOTIMPL, "101"},
        {"scenario 0", CPUS_INVALID, "AOB", "111", E_INVALIDARG, "111"},
        {"scenario 5", CPUS_PLAP, "AOB", "111", E_INVALIDARG, "111"},
        {"scenario out of range", -1, "AOB", "111", E_INVALIDARG, "111"},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<GUID> providers = Providers(c.providers);
        std::vector<BOOL> allow = Allow(c.before);
        HRESULT hr = filter_->Filter(static_cast<CREDENTIAL_PROVIDER_USAGE_SCENARIO>(c.cpus), 0, providers.data(),
                                     allow.data(), static_cast<DWORD>(providers.size()));
        EXPECT_EQ(hr, c.expected) << Hex(hr);
        EXPECT_EQ(allow, Allow(c.after));
    }
}

TEST_F(LogontileFilter, EmptyAndMissingListsNeverCrash) {
    GUID providers[2] = {CLSID_Logontile, lt::kPasswordProvider};
    BOOL allow[2] = {TRUE, TRUE};
    // Zero providers: nothing to do, whatever the pointers.
    EXPECT_EQ(filter_->Filter(CPUS_LOGON, 0, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(filter_->Filter(CPUS_UNLOCK_WORKSTATION, 0, providers, allow, 0), S_OK);
    EXPECT_EQ(allow[0], TRUE);
    EXPECT_EQ(allow[1], TRUE);
    // A count without the arrays is refused instead of read.
    EXPECT_EQ(filter_->Filter(CPUS_LOGON, 0, nullptr, allow, 2), E_INVALIDARG);
    EXPECT_EQ(filter_->Filter(CPUS_UNLOCK_WORKSTATION, 0, providers, nullptr, 2), E_INVALIDARG);
    EXPECT_EQ(allow[1], TRUE);
    // Scenarios that are not filtered answer so before looking at the arrays.
    EXPECT_EQ(filter_->Filter(CPUS_CREDUI, 0, nullptr, nullptr, 2), E_NOTIMPL);
    EXPECT_EQ(filter_->Filter(CPUS_INVALID, 0, nullptr, nullptr, 2), E_INVALIDARG);
}

TEST_F(LogontileFilter, AnswersOnlyItsInterfacesAndNoRemoteCredentials) {
    struct {
        const char* name;
        const IID* iid;
        HRESULT expected;
    } const cases[] = {
        {"IUnknown", &IID_IUnknown, S_OK},
        {"ICredentialProviderFilter", &IID_ICredentialProviderFilter, S_OK},
        {"ICredentialProvider", &IID_ICredentialProvider, E_NOINTERFACE},
        {"IClassFactory", &IID_IClassFactory, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        void* object = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(filter_->QueryInterface(*c.iid, &object), c.expected) << c.name;
        if (c.expected == S_OK) {
            EXPECT_EQ(object, static_cast<void*>(filter_)) << c.name;
            static_cast<IUnknown*>(object)->Release();
        } else {
            EXPECT_EQ(object, nullptr) << c.name;
        }
    }
    EXPECT_EQ(filter_->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);

    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in = {}, out;
    memset(&out, 0xA5, sizeof(out));
    const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION before = out;
    EXPECT_EQ(filter_->UpdateRemoteCredential(&in, &out), E_NOTIMPL);
    EXPECT_EQ(memcmp(&out, &before, sizeof(out)), 0);
    EXPECT_EQ(filter_->UpdateRemoteCredential(nullptr, nullptr), E_NOTIMPL);
}

}  // namespace
