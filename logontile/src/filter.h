#pragma once

#include <credentialprovider.h>

namespace logontile {

// Leaves only this module's provider enabled at boot logon and unlock.
class CQJProviderFilter : public ICredentialProviderFilter {
public:
    CQJProviderFilter();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Filter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags, GUID* rgclsidProviders,
                        BOOL* rgbAllow, DWORD cProviders) override;
    STDMETHODIMP UpdateRemoteCredential(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsIn,
                                        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsOut) override;

protected:
    virtual ~CQJProviderFilter();

private:
    LONG _cRef = 1;
};

HRESULT CQJProviderFilter_CreateInstance(REFIID riid, void** ppv);

}  // namespace logontile
