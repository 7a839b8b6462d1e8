#include "provider.h"

#include <new>

#include "fields.h"
#include "module.h"
#include "package.h"

namespace logontile {

namespace {
uinfo g_userRecord;
}  // namespace

uinfo* const Provider::_puinfo = &g_userRecord;

Provider::Provider() {
    ModuleLock();
    // Every new provider re-reads the stored record; nothing stored leaves it zero.
    ZeroMemory(_puinfo, sizeof(uinfo));
    GetUserInfo(_puinfo);
}

Provider::~Provider() {
    if (_pCredential) _pCredential->Release();
    // A sink LogonUI did not take back with UnAdvise is still a reference we hold.
    if (_pcpe) _pcpe->Release();
    ModuleUnlock();
}

HRESULT Provider_CreateInstance(REFIID riid, void** ppv) {
    TraceScope trace("Provider_CreateInstance");
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    Provider* provider = new (std::nothrow) Provider();
    if (!provider) return E_OUTOFMEMORY;
    HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
}

STDMETHODIMP Provider::QueryInterface(REFIID riid, void** ppv) {
    TraceScope trace("Provider::QueryInterface");
    if (!ppv) return E_INVALIDARG;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProvider)) {
        *ppv = static_cast<ICredentialProvider*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Provider::AddRef() { return static_cast<ULONG>(++_cRef); }

STDMETHODIMP_(ULONG) Provider::Release() {
    LONG count = --_cRef;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP Provider::SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD) {
    TraceScope trace("Provider::SetUsageScenario");
    DEBUG_MSG("cpus=%d", static_cast<int>(cpus));
    // Logon and unlock are served by the key tile, together with the service start; until the
    // tile is built no scenario is served, so LogonUI drops this provider.
    return E_NOTIMPL;
}

STDMETHODIMP Provider::SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION*) {
    TraceScope trace("Provider::SetSerialization");
    return E_NOTIMPL;
}

STDMETHODIMP Provider::Advise(ICredentialProviderEvents* pcpe, UINT_PTR upAdviseContext) {
    TraceScope trace("Provider::Advise");
    if (_pcpe) _pcpe->Release();
    _pcpe = pcpe;
    if (_pcpe) _pcpe->AddRef();
    _upAdviseContext = upAdviseContext;
    // Kept all the same; LogonUI does not look at the result.
    return E_NOTIMPL;
}

STDMETHODIMP Provider::UnAdvise() {
    TraceScope trace("Provider::UnAdvise");
    if (_pcpe) {
        _pcpe->Release();
        _pcpe = nullptr;
    }
    return E_NOTIMPL;
}

STDMETHODIMP Provider::GetFieldDescriptorCount(DWORD* pdwCount) {
    TraceScope trace("Provider::GetFieldDescriptorCount");
    if (!pdwCount) return E_INVALIDARG;
    *pdwCount = SFI_NUM_FIELDS;
    return S_OK;
}

STDMETHODIMP Provider::GetFieldDescriptorAt(DWORD dwIndex, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** ppcpfd) {
    TraceScope trace("Provider::GetFieldDescriptorAt");
    if (dwIndex >= SFI_NUM_FIELDS || !ppcpfd) return E_INVALIDARG;
    return CoAllocCopyFieldDescriptor(s_rgCredProvFieldDescriptors[dwIndex], ppcpfd);
}

STDMETHODIMP Provider::GetCredentialCount(DWORD* pdwCount, DWORD* pdwDefault, BOOL* pbAutoLogonWithDefault) {
    TraceScope trace("Provider::GetCredentialCount");
    if (!pdwCount || !pdwDefault || !pbAutoLogonWithDefault) return E_INVALIDARG;
    // Automatic logon is asked for by the tile's SetSelected once the key is found.
    *pdwCount = 1;
    *pdwDefault = 0;
    *pbAutoLogonWithDefault = FALSE;
    return S_OK;
}

STDMETHODIMP Provider::GetCredentialAt(DWORD, ICredentialProviderCredential** ppcpc) {
    TraceScope trace("Provider::GetCredentialAt");
    if (!ppcpc || !_pCredential) return E_INVALIDARG;
    // Every index is the one tile.
    return _pCredential->QueryInterface(IID_ICredentialProviderCredential, reinterpret_cast<void**>(ppcpc));
}

void Provider::OnConnectStatusChanged() {
    TraceScope trace("Provider::OnConnectStatusChanged");
    if (_pcpe) _pcpe->CredentialsChanged(_upAdviseContext);
}

}  // namespace logontile
