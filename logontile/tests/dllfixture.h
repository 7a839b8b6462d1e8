// Loads a build of Logontile the way LogonUI does: by path, entry points by name.
#pragma once

#include <windows.h>
#include <credentialprovider.h>
#include <gtest/gtest.h>

#include <string>

#include "corelib.h"
#include "testsupport.h"

namespace lt {

typedef HRESULT(STDAPICALLTYPE* DllGetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* DllCanUnloadNowFn)();

// Another CLSID, for lists and refusals: the Windows password provider.
constexpr CLSID kPasswordProvider = {0x60b78e88, 0xead8, 0x445c, {0x9c, 0xfd, 0x0b, 0x87, 0xf7, 0x4e, 0xa6, 0xcd}};

class Module {
public:
    explicit Module(const wchar_t* name = L"Logontile.dll") {
        handle_ = LoadLibraryW(ts::InExeDir(name).c_str());
        if (!handle_) return;
        getClassObject_ = reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(handle_, "DllGetClassObject"));
        canUnloadNow_ = reinterpret_cast<DllCanUnloadNowFn>(GetProcAddress(handle_, "DllCanUnloadNow"));
    }
    ~Module() {
        // Left loaded: a test that failed half-way may still hold objects of the module.
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool ok() const { return handle_ && getClassObject_ && canUnloadNow_; }
    HMODULE handle() const { return handle_; }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const { return getClassObject_(clsid, iid, ppv); }
    HRESULT CanUnloadNow() const { return canUnloadNow_(); }

    // The class factory for our CLSID, or NULL (with a test failure).
    IClassFactory* Factory() const {
        IClassFactory* factory = nullptr;
        HRESULT hr = getClassObject_(CLSID_Logontile, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        EXPECT_EQ(hr, S_OK);
        return SUCCEEDED(hr) ? factory : nullptr;
    }

    template <class I>
    I* Create(REFIID iid) const {
        IClassFactory* factory = Factory();
        if (!factory) return nullptr;
        I* object = nullptr;
        HRESULT hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object));
        factory->Release();
        EXPECT_EQ(hr, S_OK);
        return SUCCEEDED(hr) ? object : nullptr;
    }

private:
    HMODULE handle_ = nullptr;
    DllGetClassObjectFn getClassObject_ = nullptr;
    DllCanUnloadNowFn canUnloadNow_ = nullptr;
};

// A result as text, for failure messages.
using ts::Hex;

}  // namespace lt
