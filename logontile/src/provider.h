// The credential provider LogonUI creates through the class factory. This is its tile-independent
// part: lifetime, the shared user record, event sink, field descriptors and credential count.
// Logon and unlock (SetUsageScenario, CreateUSBCredentialVerifyKey) arrive with the key tile.
#pragma once

#include <credentialprovider.h>

#include "corelib.h"

namespace logontile {

class Provider : public ICredentialProvider {
public:
    Provider();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags) override;
    STDMETHODIMP SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) override;
    STDMETHODIMP Advise(ICredentialProviderEvents* pcpe, UINT_PTR upAdviseContext) override;
    STDMETHODIMP UnAdvise() override;
    STDMETHODIMP GetFieldDescriptorCount(DWORD* pdwCount) override;
    STDMETHODIMP GetFieldDescriptorAt(DWORD dwIndex, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** ppcpfd) override;
    STDMETHODIMP GetCredentialCount(DWORD* pdwCount, DWORD* pdwDefault, BOOL* pbAutoLogonWithDefault) override;
    STDMETHODIMP GetCredentialAt(DWORD dwIndex, ICredentialProviderCredential** ppcpc) override;

    // The tile's change signal (key found, F8), made on the tile's own threads.
    void OnConnectStatusChanged();

    // The process's one user record, shared by every provider and tile. A static block: it
    // exists before any export can be called and cannot fail to be there.
    static uinfo* const _puinfo;

protected:
    virtual ~Provider();

private:
    LONG _cRef = 1;
    CREDENTIAL_PROVIDER_USAGE_SCENARIO _cpus = CPUS_INVALID;
    ICredentialProviderEvents* _pcpe = nullptr;
    UINT_PTR _upAdviseContext = 0;
    // The one tile; the provider owns the reference it was created with. Becomes the key tile's
    // class when the tile exists.
    ICredentialProviderCredential* _pCredential = nullptr;
};

HRESULT Provider_CreateInstance(REFIID riid, void** ppv);

}  // namespace logontile
