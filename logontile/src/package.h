// The logon package: a KERB_INTERACTIVE_UNLOCK_LOGON packed into one CoTaskMem block for the
// "Negotiate" package, credential protection of the password, and field-descriptor copies.
#pragma once

#include <windows.h>
#include <wincred.h>
#include <ntsecapi.h>
#include <credentialprovider.h>

#if _WIN32_WINNT < 0x0600
// Declared by wincred.h only for Vista targets; the functions are reached by name (seams.h).
typedef enum _CRED_PROTECTION_TYPE {
    CredUnprotected = 0,
    CredUserProtection = 1,
    CredTrustedProtection = 2,
} CRED_PROTECTION_TYPE, *PCRED_PROTECTION_TYPE;
#endif

namespace logontile {

typedef BOOL(WINAPI* CredProtectWFn)(BOOL fAsSelf, LPWSTR credentials, DWORD cchCredentials,
                                      LPWSTR protectedCredentials, DWORD* cchMaxChars,
                                      CRED_PROTECTION_TYPE* protectionType);
typedef BOOL(WINAPI* CredIsProtectedWFn)(LPWSTR protectedCredentials, CRED_PROTECTION_TYPE* protectionType);

// Fixed part of the packed block: the structure of this architecture (36 bytes on 32-bit, 64 on
// 64-bit), string pointers replaced by offsets from the start of the block.
constexpr DWORD kPackedLogonHeader = sizeof(KERB_INTERACTIVE_UNLOCK_LOGON);

// Length = MaximumLength = bytes of text, Buffer = text itself (not copied).
HRESULT InitUnicodeString(PCWSTR text, UNICODE_STRING* out);

// The three strings are referenced, not copied; out is written only on success.
HRESULT InitUnlockLogon(PCWSTR domain, PCWSTR userName, PCWSTR password, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                        KERB_INTERACTIVE_UNLOCK_LOGON* out);

// One CoTaskMem block: header, then domain, user name and password, unterminated, no padding.
HRESULT PackUnlockLogon(const KERB_INTERACTIVE_UNLOCK_LOGON& logon, BYTE** block, DWORD* size);

HRESULT InitLsaString(PCSTR text, LSA_STRING* out);

// The id of the "Negotiate" package; out is untouched on failure.
HRESULT LookupNegotiatePackage(ULONG* package);

// A CoTaskMem copy of the password to send: protected when it should be and the system can,
// else as given. Free it with FreeSecret.
HRESULT ProtectPasswordIfNeeded(PCWSTR password, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, PWSTR* out);
HRESULT CopyProtectedPassword(PCWSTR password, PWSTR* out);

HRESULT CoAllocCopyFieldDescriptor(const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR& in,
                                   CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** out);
// On failure the destination is left as it was.
HRESULT CopyFieldDescriptor(const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR& in, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* out);

// Zeroes a CoTaskMem string that held a password, then frees it. NULL is fine.
void FreeSecret(PWSTR secret);
// Zeroes and frees a packed block (it holds the password).
void FreeSerializationBlock(BYTE* block, DWORD size);

// GetSerialization's package steps in order: protect, init, pack into pcpcs, look up "Negotiate",
// then the package id and CLSID_Provider. On any failure pcpcs holds no block (a packed one is
// zeroed and freed: LogonUI frees nothing on failure), and the password copy is zeroed and freed
// on every path.
HRESULT SerializeLogon(PCWSTR domain, PCWSTR userName, PCWSTR password, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                       CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs);

}  // namespace logontile
