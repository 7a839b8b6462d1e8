// The module's exports, its class factory and its lock count, through the real Logontile.dll.
#include "dllfixture.h"

namespace {

using lt::Hex;
using lt::Module;

struct IidCase {
    const char* name;
    const IID* iid;
    HRESULT expected;
};

TEST(LogontileModule, ExportsItsEntryPointsUndecorated) {
    Module m;
    ASSERT_TRUE(m.ok()) << GetLastError();
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "test"})
        EXPECT_NE(GetProcAddress(m.handle(), name), nullptr) << name;
    for (const char* name : {"DllGetClassObject@12", "_DllGetClassObject@12", "DllCanUnloadNow@0", "test@0"})
        EXPECT_EQ(GetProcAddress(m.handle(), name), nullptr) << name;

    typedef int(WINAPI * TestFn)();
    auto test = reinterpret_cast<TestFn>(GetProcAddress(m.handle(), "test"));
    ASSERT_NE(test, nullptr);
    EXPECT_EQ(test(), 0);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
}

TEST(LogontileModule, ForeignClassIdIsNotAvailableAndMakesNothing) {
    Module m;
    ASSERT_TRUE(m.ok());
    CLSID nearMiss = CLSID_Logontile;
    nearMiss.Data4[7] ^= 1;
    const CLSID* foreign[] = {&lt::kPasswordProvider, &GUID_NULL, &nearMiss};
    for (const CLSID* clsid : foreign) {
        void* object = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(m.GetClassObject(*clsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(m.GetClassObject(*clsid, IID_IClassFactory, nullptr), CLASS_E_CLASSNOTAVAILABLE);
    }
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
}

TEST(LogontileModule, ClassObjectAnswersOnlyItsFactoryInterfaces) {
    Module m;
    ASSERT_TRUE(m.ok());
    const IidCase cases[] = {
        {"IUnknown", &IID_IUnknown, S_OK},
        {"IClassFactory", &IID_IClassFactory, S_OK},
        {"ICredentialProvider", &IID_ICredentialProvider, E_NOINTERFACE},
        {"ICredentialProviderFilter", &IID_ICredentialProviderFilter, E_NOINTERFACE},
        {"IPersist", &IID_IPersist, E_NOINTERFACE},
    };
    for (const IidCase& c : cases) {
        SCOPED_TRACE(c.name);
        IUnknown* object = reinterpret_cast<IUnknown*>(0x1234);
        HRESULT hr = m.GetClassObject(CLSID_Logontile, *c.iid, reinterpret_cast<void**>(&object));
        EXPECT_EQ(hr, c.expected) << Hex(hr);
        if (SUCCEEDED(hr)) {
            ASSERT_NE(object, nullptr);
            // The same object answers through the factory's own QueryInterface, with the same table.
            for (const IidCase& q : cases) {
                void* again = reinterpret_cast<void*>(0x1234);
                EXPECT_EQ(object->QueryInterface(*q.iid, &again), q.expected) << q.name;
                if (q.expected == S_OK) {
                    EXPECT_EQ(again, object) << q.name;
                    static_cast<IUnknown*>(again)->Release();
                } else {
                    EXPECT_EQ(again, nullptr) << q.name;
                }
            }
            EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
            // Creation reference only: counts go 2, 1, 0.
            EXPECT_EQ(object->AddRef(), 2u);
            EXPECT_EQ(object->Release(), 1u);
            EXPECT_EQ(object->Release(), 0u);
        } else {
            EXPECT_EQ(object, nullptr);
        }
    }
    EXPECT_EQ(m.GetClassObject(CLSID_Logontile, IID_IClassFactory, nullptr), E_INVALIDARG);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
}

TEST(LogontileFactory, CreatesProviderOrFilterByInterfaceAndNothingElse) {
    Module m;
    ASSERT_TRUE(m.ok());
    IClassFactory* factory = m.Factory();
    ASSERT_NE(factory, nullptr);
    const IidCase cases[] = {
        {"ICredentialProvider", &IID_ICredentialProvider, S_OK},
        {"ICredentialProviderFilter", &IID_ICredentialProviderFilter, S_OK},
        // Anything else is E_FAIL, not E_NOINTERFACE; even IUnknown.
        {"ICredentialProviderCredential", &IID_ICredentialProviderCredential, E_FAIL},
        {"ICredentialProviderEvents", &IID_ICredentialProviderEvents, E_FAIL},
        {"IUnknown", &IID_IUnknown, E_FAIL},
        {"IClassFactory", &IID_IClassFactory, E_FAIL},
    };
    for (bool aggregate : {false, true}) {
        for (const IidCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (aggregate ? " with an outer unknown" : ""));
            IUnknown* object = reinterpret_cast<IUnknown*>(0x1234);
            HRESULT hr = factory->CreateInstance(aggregate ? factory : nullptr, *c.iid, reinterpret_cast<void**>(&object));
            EXPECT_EQ(hr, aggregate ? CLASS_E_NOAGGREGATION : c.expected) << Hex(hr);
            if (SUCCEEDED(hr)) {
                ASSERT_NE(object, nullptr);
                IUnknown* same = nullptr;
                EXPECT_EQ(object->QueryInterface(*c.iid, reinterpret_cast<void**>(&same)), S_OK);
                EXPECT_EQ(same, object);
                if (same) same->Release();
                EXPECT_EQ(m.CanUnloadNow(), S_FALSE);
                EXPECT_EQ(object->Release(), 0u);
            } else {
                EXPECT_EQ(object, nullptr);
            }
            EXPECT_EQ(m.CanUnloadNow(), S_OK);
        }
    }
    // No out pointer: nothing is made.
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ICredentialProvider, nullptr), E_INVALIDARG);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ICredentialProviderFilter, nullptr), E_INVALIDARG);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST(LogontileModule, LockServerHoldsTheModuleAndTheFactoryDoesNot) {
    Module m;
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
    IClassFactory* factory = m.Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);  // a live class object alone does not pin the module

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
    factory->Release();
}

TEST(LogontileModule, UnbalancedUnlockDoesNotHideALiveObject) {
    Module m;
    ASSERT_TRUE(m.ok());
    IClassFactory* factory = m.Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);

    ICredentialProviderFilter* filter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICredentialProviderFilter, reinterpret_cast<void**>(&filter)), S_OK);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);
    filter->Release();
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
    factory->Release();
}

TEST(LogontileModule, EveryObjectHoldsTheModuleUntilItsLastRelease) {
    Module m;
    ASSERT_TRUE(m.ok());
    ICredentialProvider* provider = m.Create<ICredentialProvider>(IID_ICredentialProvider);
    ICredentialProviderFilter* filter = m.Create<ICredentialProviderFilter>(IID_ICredentialProviderFilter);
    ASSERT_NE(provider, nullptr);
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);

    IUnknown* objects[] = {provider, filter};
    for (IUnknown* o : objects) {
        EXPECT_EQ(o->AddRef(), 2u);
        IUnknown* unknown = nullptr;
        ASSERT_EQ(o->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
        EXPECT_EQ(unknown->Release(), 2u);
        EXPECT_EQ(o->Release(), 1u);
    }
    EXPECT_EQ(provider->Release(), 0u);
    EXPECT_EQ(m.CanUnloadNow(), S_FALSE);  // the filter still lives
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(m.CanUnloadNow(), S_OK);
}

}  // namespace
