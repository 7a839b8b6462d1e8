// The credential provider LogonUI creates through the class factory: one key tile for boot logon
// and unlock, the eight field descriptors, and the tile's change signal passed on to LogonUI.
#pragma once

#include <credentialprovider.h>

#include "corelib.h"

namespace logontile {

class CredentialVerifyKey;

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

    // Makes the one tile for the current scenario, replacing (and releasing) an earlier one.
    HRESULT CreateUSBCredentialVerifyKey(PCWSTR userName, PCWSTR password);

    // The process's one user record, shared by every provider and tile. A static block: it
    // exists before any export can be called and cannot fail to be there.
    static uinfo* const _puinfo;

    // The record is refilled and updated on LogonUI's thread while the tile's threads test it:
    // every access goes through this lock. Copies hold passwords; callers zero them after use.
    static void CopyUserRecord(uinfo* out);
    static void StorePassword(const wchar_t* password);  // lpUserPWD only; the text must fit

protected:
    virtual ~Provider();

private:
    // Interlocked: the tile, and with it its provider reference, may go on one of its threads.
    volatile LONG _cRef = 1;
    CREDENTIAL_PROVIDER_USAGE_SCENARIO _cpus = CPUS_INVALID;
    // The sink is read by the tile's threads while LogonUI may UnAdvise: guarded.
    CRITICAL_SECTION _sinkLock;
    ICredentialProviderEvents* _pcpe = nullptr;
    UINT_PTR _upAdviseContext = 0;
    // The one tile; the provider owns the reference it was created with.
    CredentialVerifyKey* _pCredential = nullptr;
};

HRESULT Provider_CreateInstance(REFIID riid, void** ppv);

}  // namespace logontile
