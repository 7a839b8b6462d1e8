#include "provider.h"

#include <new>
#include <string.h>
#include <wchar.h>

#include "credentialverifykey.h"
#include "fields.h"
#include "module.h"
#include "package.h"
#include "seams.h"

namespace logontile {

namespace {

uinfo g_userRecord;

class RecordLock {
public:
    RecordLock() { InitializeCriticalSection(&cs_); }
    ~RecordLock() { DeleteCriticalSection(&cs_); }
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};
RecordLock g_recordLock;

class RecordGuard {
public:
    RecordGuard() { g_recordLock.Enter(); }
    ~RecordGuard() { g_recordLock.Leave(); }
    RecordGuard(const RecordGuard&) = delete;
    RecordGuard& operator=(const RecordGuard&) = delete;
};

}  // namespace

uinfo* const Provider::_puinfo = &g_userRecord;

void Provider::CopyUserRecord(uinfo* out) {
    RecordGuard guard;
    memcpy(out, _puinfo, sizeof(uinfo));
}

void Provider::StorePassword(const wchar_t* password) {
    const size_t cch = sizeof(_puinfo->lpUserPWD) / sizeof(wchar_t);
    size_t n = wcsnlen(password, cch);
    if (n >= cch) return;
    RecordGuard guard;
    SecureZeroMemory(_puinfo->lpUserPWD, sizeof(_puinfo->lpUserPWD));
    memcpy(_puinfo->lpUserPWD, password, n * sizeof(wchar_t));
}

Provider::Provider() {
    InitializeCriticalSection(&_sinkLock);
    ModuleLock();
    // Every new provider re-reads the stored record; nothing stored leaves it zero. Read aside and
    // copied whole, so the tile threads of an earlier provider never test a half-empty record.
    uinfo fresh;
    ZeroMemory(&fresh, sizeof(fresh));
    GetUserInfo(&fresh);
    // The tile needs the user name and Windows password, the disk ids and the token serial; the
    // software password and the enrolment's computer name never stay in LogonUI.
    SecureZeroMemory(fresh.lpLogonPWD, sizeof(fresh.lpLogonPWD));
    SecureZeroMemory(fresh.lpComputerName, sizeof(fresh.lpComputerName));
    {
        RecordGuard guard;
        memcpy(_puinfo, &fresh, sizeof(fresh));
    }
    SecureZeroMemory(&fresh, sizeof(fresh));
}

Provider::~Provider() {
    if (_pCredential) {
        _pCredential->StopThreads(true);
        _pCredential->Release();
    }
    // A sink LogonUI did not take back with UnAdvise is still a reference we hold.
    if (_pcpe) _pcpe->Release();
    DeleteCriticalSection(&_sinkLock);
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

STDMETHODIMP_(ULONG) Provider::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&_cRef)); }

STDMETHODIMP_(ULONG) Provider::Release() {
    LONG count = InterlockedDecrement(&_cRef);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP Provider::SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD) {
    TraceScope trace("Provider::SetUsageScenario");
    DEBUG_MSG("cpus=%d", static_cast<int>(cpus));
    // Every machine that shows the tile gets the lock monitor service (it installs itself on its
    // first start); the result does not decide anything here.
    g_seams.StartOrStopService(TRUE);

    switch (cpus) {
    case CPUS_LOGON:
    case CPUS_UNLOCK_WORKSTATION: {
        _cpus = cpus;
        uinfo record;
        CopyUserRecord(&record);
        record.lpUserName[49] = 0;
        record.lpUserPWD[49] = 0;
        HRESULT hr = CreateUSBCredentialVerifyKey(record.lpUserName, record.lpUserPWD);
        SecureZeroMemory(&record, sizeof(record));
        return hr;
    }
    case CPUS_CHANGE_PASSWORD:
    case CPUS_CREDUI:
        return E_NOTIMPL;
    default:
        return E_INVALIDARG;
    }
}

HRESULT Provider::CreateUSBCredentialVerifyKey(PCWSTR userName, PCWSTR password) {
    TraceScope trace("Provider::CreateUSBCredentialVerifyKey");
    // The earlier tile goes: its threads stop now (its F8 thread gives the hot key back before the
    // new tile may want it), and the last of them to end frees it.
    if (_pCredential) {
        CredentialVerifyKey* old = _pCredential;
        _pCredential = nullptr;
        old->StopThreads(true);
        old->Release();
    }
    CredentialVerifyKey* tile = new (std::nothrow) CredentialVerifyKey();
    if (!tile) return E_OUTOFMEMORY;
    _pCredential = tile;
    return tile->Initialize(_cpus, s_rgCredProvFieldDescriptors, s_rgFieldStatePairs, this, userName, password);
}

STDMETHODIMP Provider::SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION*) {
    TraceScope trace("Provider::SetSerialization");
    return E_NOTIMPL;
}

STDMETHODIMP Provider::Advise(ICredentialProviderEvents* pcpe, UINT_PTR upAdviseContext) {
    TraceScope trace("Provider::Advise");
    if (pcpe) pcpe->AddRef();
    EnterCriticalSection(&_sinkLock);
    ICredentialProviderEvents* old = _pcpe;
    _pcpe = pcpe;
    _upAdviseContext = upAdviseContext;
    LeaveCriticalSection(&_sinkLock);
    if (old) old->Release();
    // Kept all the same; LogonUI does not look at the result.
    return E_NOTIMPL;
}

STDMETHODIMP Provider::UnAdvise() {
    TraceScope trace("Provider::UnAdvise");
    EnterCriticalSection(&_sinkLock);
    ICredentialProviderEvents* old = _pcpe;
    _pcpe = nullptr;
    LeaveCriticalSection(&_sinkLock);
    if (old) old->Release();
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
    // Called without the lock held, so that a sink which calls back cannot deadlock; the
    // reference keeps it alive should LogonUI UnAdvise meanwhile.
    EnterCriticalSection(&_sinkLock);
    ICredentialProviderEvents* sink = _pcpe;
    UINT_PTR context = _upAdviseContext;
    if (sink) sink->AddRef();
    LeaveCriticalSection(&_sinkLock);
    if (!sink) return;
    sink->CredentialsChanged(context);
    sink->Release();
}

}  // namespace logontile
