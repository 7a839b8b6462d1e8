#pragma once

#include <windows.h>
#include <unknwn.h>

namespace logontile {

// The one class object: makes the provider or the filter, by the interface asked for.
// Holds no module lock itself.
class CClassFactory final : public IClassFactory {
public:
    CClassFactory() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    ~CClassFactory() = default;
    LONG _cRef = 1;
};

}  // namespace logontile
