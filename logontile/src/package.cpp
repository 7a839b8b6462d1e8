#include "package.h"

#include <shlwapi.h>
#include <string.h>
#include <wchar.h>

#include "module.h"
#include "seams.h"

#ifndef HRESULT_FROM_NT
#define HRESULT_FROM_NT(x) ((HRESULT)((x) | FACILITY_NT_BIT))
#endif

namespace logontile {

namespace {

// Strings are measured up to this many characters; the terminator must lie within.
constexpr size_t kMaxMeasuredChars = 65535;

// The block carries the structure in the layout of the architecture LogonUI runs as, each string
// buffer given as its offset from the start of the block: 36 bytes on 32-bit, 64 on 64-bit.
static_assert(sizeof(KERB_INTERACTIVE_UNLOCK_LOGON) == kPackedLogonHeader, "packed logon header");
#ifdef _WIN64
static_assert(kPackedLogonHeader == 64, "64-bit layout");
#else
static_assert(kPackedLogonHeader == 36, "32-bit layout");
#endif

bool StringFits(const UNICODE_STRING& s) { return s.Length == 0 || s.Buffer; }

UNICODE_STRING PlaceString(BYTE* block, ULONG* offset, const UNICODE_STRING& s) {
    UNICODE_STRING p = {};
    p.Length = s.Length;
    p.MaximumLength = s.Length;
    p.Buffer = reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(*offset));
    if (s.Length) memcpy(block + *offset, s.Buffer, s.Length);
    *offset += s.Length;
    return p;
}

}  // namespace

HRESULT InitUnicodeString(PCWSTR text, UNICODE_STRING* out) {
    if (!text || !out) return E_INVALIDARG;
    size_t chars = wcsnlen(text, kMaxMeasuredChars);
    if (chars >= kMaxMeasuredChars) return E_INVALIDARG;
    size_t bytes = chars * sizeof(wchar_t);
    if (bytes > 0xFFFF) return HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    out->Length = static_cast<USHORT>(bytes);
    out->MaximumLength = out->Length;
    out->Buffer = const_cast<PWSTR>(text);
    return S_OK;
}

HRESULT InitUnlockLogon(PCWSTR domain, PCWSTR userName, PCWSTR password, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                        KERB_INTERACTIVE_UNLOCK_LOGON* out) {
    if (!out) return E_INVALIDARG;
    KERB_INTERACTIVE_UNLOCK_LOGON kiul = {};
    KERB_INTERACTIVE_LOGON& logon = kiul.Logon;
    HRESULT hr = InitUnicodeString(domain, &logon.LogonDomainName);
    if (SUCCEEDED(hr)) hr = InitUnicodeString(userName, &logon.UserName);
    if (SUCCEEDED(hr)) hr = InitUnicodeString(password, &logon.Password);
    if (FAILED(hr)) return hr;
    switch (cpus) {
    case CPUS_LOGON:
        logon.MessageType = KerbInteractiveLogon;
        break;
    case CPUS_UNLOCK_WORKSTATION:
        logon.MessageType = KerbWorkstationUnlockLogon;
        break;
    case CPUS_CREDUI:
        logon.MessageType = static_cast<KERB_LOGON_SUBMIT_TYPE>(0);
        break;
    default:
        return E_FAIL;
    }
    *out = kiul;
    return S_OK;
}

HRESULT PackUnlockLogon(const KERB_INTERACTIVE_UNLOCK_LOGON& kiul, BYTE** block, DWORD* size) {
    if (!block || !size) return E_INVALIDARG;
    const KERB_INTERACTIVE_LOGON& logon = kiul.Logon;
    if (!StringFits(logon.LogonDomainName) || !StringFits(logon.UserName) || !StringFits(logon.Password))
        return E_INVALIDARG;
    DWORD total = kPackedLogonHeader + logon.LogonDomainName.Length + logon.UserName.Length + logon.Password.Length;
    BYTE* out = static_cast<BYTE*>(CoTaskMemAlloc(total));
    if (!out) return E_OUTOFMEMORY;

    KERB_INTERACTIVE_UNLOCK_LOGON header = {};
    header.Logon.MessageType = logon.MessageType;
    ULONG offset = kPackedLogonHeader;
    header.Logon.LogonDomainName = PlaceString(out, &offset, logon.LogonDomainName);
    header.Logon.UserName = PlaceString(out, &offset, logon.UserName);
    header.Logon.Password = PlaceString(out, &offset, logon.Password);
    memcpy(out, &header, sizeof(header));

    *block = out;
    *size = total;
    return S_OK;
}

HRESULT InitLsaString(PCSTR text, LSA_STRING* out) {
    if (!text || !out) return E_INVALIDARG;
    size_t chars = strnlen(text, kMaxMeasuredChars);
    if (chars >= kMaxMeasuredChars) return E_INVALIDARG;
    out->Length = static_cast<USHORT>(chars);
    out->MaximumLength = static_cast<USHORT>(chars + 1);
    out->Buffer = const_cast<PCHAR>(text);
    return S_OK;
}

HRESULT LookupNegotiatePackage(ULONG* package) {
    TraceScope trace("LookupNegotiatePackage");
    if (!package) return E_INVALIDARG;
    HANDLE lsa = nullptr;
    NTSTATUS status = g_seams.LsaConnectUntrusted(&lsa);
    if (status < 0) return HRESULT_FROM_NT(status);

    LSA_STRING name = {};
    InitLsaString("Negotiate", &name);  // a constant: its result needs no check
    ULONG id = 0;
    status = g_seams.LsaLookupAuthenticationPackage(lsa, &name, &id);
    g_seams.LsaDeregisterLogonProcess(lsa);
    if (status < 0) {
        DEBUG_MSG("LsaLookupAuthenticationPackage 0x%08lx", static_cast<unsigned long>(status));
        return HRESULT_FROM_NT(status);
    }
    *package = id;
    return S_OK;
}

HRESULT ProtectPasswordIfNeeded(PCWSTR password, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, PWSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!password || !*password) return SHStrDupW(L"", out);

    if (cpus != CPUS_CREDUI) {
        bool alreadyProtected = false;
        auto isProtected = reinterpret_cast<CredIsProtectedWFn>(g_seams.GetCredentialProtectionProc("CredIsProtectedW"));
        CRED_PROTECTION_TYPE type = CredUnprotected;
        if (isProtected && isProtected(const_cast<PWSTR>(password), &type) && type != CredUnprotected)
            alreadyProtected = true;
        // Without credential protection on this system the password goes as typed; LSA accepts it.
        if (!alreadyProtected && g_seams.GetCredentialProtectionProc("CredProtectW"))
            return CopyProtectedPassword(password, out);
    }
    return SHStrDupW(password, out);
}

HRESULT CopyProtectedPassword(PCWSTR password, PWSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!password) return E_INVALIDARG;
    auto protect = reinterpret_cast<CredProtectWFn>(g_seams.GetCredentialProtectionProc("CredProtectW"));
    if (!protect) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

    PWSTR source = const_cast<PWSTR>(password);
    DWORD chars = static_cast<DWORD>(wcslen(password)) + 1;  // the terminator counts
    DWORD count = 0;
    SetLastError(ERROR_SUCCESS);
    if (protect(FALSE, source, chars, nullptr, &count, nullptr)) return E_FAIL;  // a size query cannot succeed
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || count == 0)
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;  // a failure without a code is still a failure
    if (count > 0x7FFFFFFF / sizeof(wchar_t)) return E_OUTOFMEMORY;

    DWORD capacity = count;
    PWSTR buffer = static_cast<PWSTR>(CoTaskMemAlloc(capacity * sizeof(wchar_t)));
    if (!buffer) return E_OUTOFMEMORY;
    SetLastError(ERROR_SUCCESS);
    if (protect(FALSE, source, chars, buffer, &count, nullptr)) {
        buffer[capacity - 1] = 0;  // never trust a missing terminator
        *out = buffer;
        return S_OK;
    }
    error = GetLastError();
    SecureZeroMemory(buffer, capacity * sizeof(wchar_t));
    CoTaskMemFree(buffer);
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT CoAllocCopyFieldDescriptor(const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR& in,
                                   CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    auto* copy = static_cast<CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR*>(CoTaskMemAlloc(sizeof(CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR)));
    if (!copy) return E_OUTOFMEMORY;
    copy->dwFieldID = in.dwFieldID;
    copy->cpft = in.cpft;
    copy->guidFieldType = in.guidFieldType;
    copy->pszLabel = nullptr;
    if (in.pszLabel) {
        HRESULT hr = SHStrDupW(in.pszLabel, &copy->pszLabel);
        if (FAILED(hr)) {
            CoTaskMemFree(copy);
            return hr;
        }
    }
    *out = copy;
    return S_OK;
}

HRESULT CopyFieldDescriptor(const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR& in, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* out) {
    if (!out) return E_INVALIDARG;
    LPWSTR label = nullptr;
    if (in.pszLabel) {
        HRESULT hr = SHStrDupW(in.pszLabel, &label);
        if (FAILED(hr)) return hr;
    }
    out->dwFieldID = in.dwFieldID;
    out->cpft = in.cpft;
    out->pszLabel = label;
    out->guidFieldType = in.guidFieldType;
    return S_OK;
}

void FreeSecret(PWSTR secret) {
    if (!secret) return;
    SecureZeroMemory(secret, wcslen(secret) * sizeof(wchar_t));
    CoTaskMemFree(secret);
}

void FreeSerializationBlock(BYTE* block, DWORD size) {
    if (!block) return;
    SecureZeroMemory(block, size);
    CoTaskMemFree(block);
}

HRESULT SerializeLogon(PCWSTR domain, PCWSTR userName, PCWSTR password, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                       CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) {
    TraceScope trace("SerializeLogon");
    if (!pcpcs) return E_INVALIDARG;
    PWSTR toSend = nullptr;
    HRESULT hr = ProtectPasswordIfNeeded(password, cpus, &toSend);
    if (FAILED(hr)) return hr;

    KERB_INTERACTIVE_UNLOCK_LOGON kiul = {};
    hr = InitUnlockLogon(domain, userName, toSend, cpus, &kiul);
    if (SUCCEEDED(hr)) hr = PackUnlockLogon(kiul, &pcpcs->rgbSerialization, &pcpcs->cbSerialization);
    if (SUCCEEDED(hr)) {
        ULONG package = 0;
        hr = LookupNegotiatePackage(&package);
        if (SUCCEEDED(hr)) {
            pcpcs->ulAuthenticationPackage = package;
            pcpcs->clsidCredentialProvider = CLSID_Provider;
        } else {
            // LogonUI frees the block only with a credential it accepted: give it none.
            FreeSerializationBlock(pcpcs->rgbSerialization, pcpcs->cbSerialization);
            pcpcs->rgbSerialization = nullptr;
            pcpcs->cbSerialization = 0;
        }
    }
    SecureZeroMemory(&kiul, sizeof(kiul));
    FreeSecret(toSend);
    return hr;
}

}  // namespace logontile
