#include "classfactory.h"

#include <credentialprovider.h>

#include "filter.h"
#include "module.h"
#include "provider.h"

namespace logontile {

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    TraceScope trace("CClassFactory::QueryInterface");
    if (!ppv) return E_INVALIDARG;
    if (IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() { return static_cast<ULONG>(++_cRef); }

STDMETHODIMP_(ULONG) CClassFactory::Release() {
    LONG count = --_cRef;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    TraceScope trace("CClassFactory::CreateInstance");
    // A failed creation leaves no stale pointer behind, whatever the reason.
    if (ppv) *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    if (IsEqualIID(riid, IID_ICredentialProvider)) return Provider_CreateInstance(riid, ppv);
    if (IsEqualIID(riid, IID_ICredentialProviderFilter)) return CQJProviderFilter_CreateInstance(riid, ppv);
    return E_FAIL;
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) {
    TraceScope trace("CClassFactory::LockServer");
    if (fLock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}

}  // namespace logontile
