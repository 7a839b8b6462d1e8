#include "filter.h"

#include <new>

#include "module.h"

namespace logontile {

CQJProviderFilter::CQJProviderFilter() { ModuleLock(); }

CQJProviderFilter::~CQJProviderFilter() { ModuleUnlock(); }

HRESULT CQJProviderFilter_CreateInstance(REFIID riid, void** ppv) {
    TraceScope trace("CQJProviderFilter_CreateInstance");
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    CQJProviderFilter* filter = new (std::nothrow) CQJProviderFilter();
    if (!filter) return E_OUTOFMEMORY;
    HRESULT hr = filter->QueryInterface(riid, ppv);
    filter->Release();
    return hr;
}

STDMETHODIMP CQJProviderFilter::QueryInterface(REFIID riid, void** ppv) {
    TraceScope trace("CQJProviderFilter::QueryInterface");
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProviderFilter)) {
        *ppv = static_cast<ICredentialProviderFilter*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CQJProviderFilter::AddRef() { return static_cast<ULONG>(++_cRef); }

STDMETHODIMP_(ULONG) CQJProviderFilter::Release() {
    LONG count = --_cRef;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CQJProviderFilter::Filter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD, GUID* rgclsidProviders,
                                       BOOL* rgbAllow, DWORD cProviders) {
    TraceScope trace("CQJProviderFilter::Filter");
    DEBUG_MSG("cpus=%d cProviders=%lu", static_cast<int>(cpus), static_cast<unsigned long>(cProviders));
    switch (cpus) {
    case CPUS_LOGON:
    case CPUS_UNLOCK_WORKSTATION:
        break;
    case CPUS_CHANGE_PASSWORD:
    case CPUS_CREDUI:
        // Password changes and the credential dialogs keep every provider.
        return E_NOTIMPL;
    default:
        return E_INVALIDARG;
    }
    if (cProviders == 0) return S_OK;
    if (!rgclsidProviders || !rgbAllow) return E_INVALIDARG;
    for (DWORD i = 0; i < cProviders; ++i) {
        if (!IsEqualCLSID(rgclsidProviders[i], CLSID_Provider)) continue;
        for (DWORD j = 0; j < cProviders; ++j) rgbAllow[j] = FALSE;
        rgbAllow[i] = TRUE;
        break;
    }
    // Without our provider in the list (not registered), LogonUI's choice stands.
    return S_OK;
}

STDMETHODIMP CQJProviderFilter::UpdateRemoteCredential(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION*,
                                                       CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION*) {
    TraceScope trace("CQJProviderFilter::UpdateRemoteCredential");
    return E_NOTIMPL;
}

}  // namespace logontile
