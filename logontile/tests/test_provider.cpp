// The provider's tile-independent part through the real Logontile.dll: field descriptors, the
// credential count and the event sink's references.
#include <string>

#include "dllfixture.h"

namespace {

using lt::Hex;
using lt::Module;

// LogonUI's side of Advise: counts the references the provider holds.
class CountingEvents : public ICredentialProviderEvents {
public:
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
    STDMETHODIMP CredentialsChanged(UINT_PTR) override { return S_OK; }
    LONG refs = 1;
};

class LogontileProvider : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module_.ok()) << GetLastError();
        provider_ = module_.Create<ICredentialProvider>(IID_ICredentialProvider);
        ASSERT_NE(provider_, nullptr);
    }
    void TearDown() override {
        if (provider_) {
            EXPECT_EQ(provider_->Release(), 0u);
        }
        EXPECT_EQ(module_.CanUnloadNow(), S_OK);
    }
    Module module_;
    ICredentialProvider* provider_ = nullptr;
};

TEST_F(LogontileProvider, HandsOutFreshCopiesOfTheEightFields) {
    struct {
        CREDENTIAL_PROVIDER_FIELD_TYPE type;
        const wchar_t* label;
    } const expected[] = {
        {CPFT_TILE_IMAGE, L"Image"},        {CPFT_LARGE_TEXT, L"Username"},    {CPFT_PASSWORD_TEXT, L"Password"},
        {CPFT_LARGE_TEXT, L"Quoreltitle"},  {CPFT_SMALL_TEXT, L"SmallText"},   {CPFT_SMALL_TEXT, L"SmallText"},
        {CPFT_SUBMIT_BUTTON, L"Submit"},    {CPFT_COMMAND_LINK, L"CommandLink"},
    };
    DWORD count = 0;
    ASSERT_EQ(provider_->GetFieldDescriptorCount(&count), S_OK);
    ASSERT_EQ(count, 8u);
    for (DWORD i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* first = nullptr;
        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* second = nullptr;
        ASSERT_EQ(provider_->GetFieldDescriptorAt(i, &first), S_OK);
        ASSERT_EQ(provider_->GetFieldDescriptorAt(i, &second), S_OK);
        EXPECT_EQ(first->dwFieldID, i);
        EXPECT_EQ(first->cpft, expected[i].type);
        ASSERT_NE(first->pszLabel, nullptr);
        EXPECT_STREQ(first->pszLabel, expected[i].label);
        EXPECT_TRUE(IsEqualGUID(first->guidFieldType, GUID_NULL));
        // LogonUI frees each copy and its label: two calls never share memory.
        EXPECT_NE(first, second);
        EXPECT_NE(first->pszLabel, second->pszLabel);
        for (auto* d : {first, second}) {
            CoTaskMemFree(d->pszLabel);
            CoTaskMemFree(d);
        }
    }
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* none = reinterpret_cast<CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR*>(0x1234);
    EXPECT_EQ(provider_->GetFieldDescriptorAt(8, &none), E_INVALIDARG);
    EXPECT_EQ(provider_->GetFieldDescriptorAt(0xFFFFFFFF, &none), E_INVALIDARG);
    EXPECT_EQ(provider_->GetFieldDescriptorAt(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(provider_->GetFieldDescriptorCount(nullptr), E_INVALIDARG);
}

TEST_F(LogontileProvider, OffersOneTileWithoutAutomaticLogonAndNoneBeforeAScenario) {
    DWORD count = 0, index = 99;
    BOOL autoLogon = TRUE;
    ASSERT_EQ(provider_->GetCredentialCount(&count, &index, &autoLogon), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(autoLogon, FALSE);
    EXPECT_EQ(provider_->GetCredentialCount(nullptr, &index, &autoLogon), E_INVALIDARG);

    // No tile has been made yet: every index is refused rather than answered with nothing.
    ICredentialProviderCredential* tile = nullptr;
    EXPECT_EQ(provider_->GetCredentialAt(0, &tile), E_INVALIDARG);
    EXPECT_EQ(tile, nullptr);
    EXPECT_EQ(provider_->GetCredentialAt(0, nullptr), E_INVALIDARG);

    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization = {};
    EXPECT_EQ(provider_->SetSerialization(&serialization), E_NOTIMPL);
}

TEST_F(LogontileProvider, KeepsOneEventSinkReferenceAndGivesItBack) {
    CountingEvents first, second;
    // Advise and UnAdvise answer E_NOTIMPL but act.
    EXPECT_EQ(provider_->Advise(&first, 7), E_NOTIMPL);
    EXPECT_EQ(first.refs, 2);
    EXPECT_EQ(provider_->Advise(&second, 8), E_NOTIMPL);
    EXPECT_EQ(first.refs, 1);
    EXPECT_EQ(second.refs, 2);
    EXPECT_EQ(provider_->UnAdvise(), E_NOTIMPL);
    EXPECT_EQ(second.refs, 1);
    EXPECT_EQ(provider_->UnAdvise(), E_NOTIMPL);
    EXPECT_EQ(second.refs, 1);

    // A provider released while still advised gives the sink back too.
    EXPECT_EQ(provider_->Advise(&first, 9), E_NOTIMPL);
    EXPECT_EQ(first.refs, 2);
    EXPECT_EQ(provider_->Release(), 0u);
    provider_ = nullptr;
    EXPECT_EQ(first.refs, 1);
}

TEST_F(LogontileProvider, AnswersOnlyItsInterfaces) {
    struct {
        const char* name;
        const IID* iid;
        HRESULT expected;
    } const cases[] = {
        {"IUnknown", &IID_IUnknown, S_OK},
        {"ICredentialProvider", &IID_ICredentialProvider, S_OK},
        {"ICredentialProviderFilter", &IID_ICredentialProviderFilter, E_NOINTERFACE},
        {"ICredentialProviderCredential", &IID_ICredentialProviderCredential, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        void* object = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(provider_->QueryInterface(*c.iid, &object), c.expected) << c.name;
        if (c.expected == S_OK) {
            EXPECT_EQ(object, static_cast<void*>(provider_)) << c.name;
            static_cast<IUnknown*>(object)->Release();
        } else {
            EXPECT_EQ(object, nullptr) << c.name;
        }
    }
    EXPECT_EQ(provider_->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
}

}  // namespace
