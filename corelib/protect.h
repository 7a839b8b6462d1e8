// What keeps the system's secrets and shared objects its own: the settings key's DACL, and who may
// have made a named object before the service did. Header-only so that Corelib and the service
// (which links Corelib by import) apply the very same rules.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <wchar.h>

#include "corelib.h"

// DACL of the settings key: the record holds two passwords in plain text, and every reader runs as
// SYSTEM or elevated.
#define CORELIB_SETTINGS_SDDL L"D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)"

// Named objects are made with Administrators as their owner, so that whoever opens one later can
// tell it from an object that somebody else made under the same name first.
#define CORELIB_OWNED_OBJECT_SDDL L"O:BA" CORELIB_OBJECT_SDDL

namespace corelib {

// A self-relative descriptor for creating a named object; the caller frees it with LocalFree.
// NULL when it cannot be built (GetLastError tells why).
inline PSECURITY_DESCRIPTOR NewOwnedObjectSecurityDescriptor() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(CORELIB_OWNED_OBJECT_SDDL, SDDL_REVISION_1, &sd,
                                                              nullptr))
        return nullptr;
    return sd;
}

// True when the object's owner is SYSTEM or Administrators, the only owners the service and its
// installer have. An owner that cannot be read, or no owner at all, is not trusted.
inline bool OwnedBySystemOrAdministrators(HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &sd) != ERROR_SUCCESS)
        return false;
    bool trusted = owner && IsValidSid(owner) &&
                   (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    LocalFree(sd);
    return trusted;
}

// The DACL of a descriptor as SDDL text, for comparing two DACLs in one canonical form. The caller
// frees the text with LocalFree; NULL when it cannot be made.
inline wchar_t* DaclText(PSECURITY_DESCRIPTOR sd) {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                              nullptr))
        return nullptr;
    return text;
}

enum class KeyDacl { Intact, Repaired, Failed };

// Gives the settings key (opened with READ_CONTROL and WRITE_DAC) the protected DACL unless it has
// it already. A key made by an installer, a .reg import or an older build keeps the DACL it
// inherited, which lets every user read the record. *error receives the failure's code.
inline KeyDacl ProtectSettingsKey(HKEY key, LONG* error) {
    LONG e = ERROR_SUCCESS;
    KeyDacl result = KeyDacl::Failed;
    PSECURITY_DESCRIPTOR wanted = nullptr;
    wchar_t* wantedText = nullptr;
    wchar_t* currentText = nullptr;
    BYTE local[512];
    BYTE* current = local;
    DWORD size = sizeof(local);
    do {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(CORELIB_SETTINGS_SDDL, SDDL_REVISION_1, &wanted,
                                                                  nullptr) ||
            !(wantedText = DaclText(wanted))) {
            e = static_cast<LONG>(GetLastError());
            break;
        }
        e = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, current, &size);
        if (e == ERROR_INSUFFICIENT_BUFFER) {
            current = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, size));
            if (!current) {
                e = ERROR_NOT_ENOUGH_MEMORY;
                break;
            }
            e = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, current, &size);
        }
        if (e != ERROR_SUCCESS) break;
        currentText = DaclText(current);
        if (currentText && wcscmp(currentText, wantedText) == 0) {
            result = KeyDacl::Intact;
            break;
        }
        e = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, wanted);
        if (e == ERROR_SUCCESS) result = KeyDacl::Repaired;
    } while (false);
    if (current != local && current) LocalFree(current);
    if (currentText) LocalFree(currentText);
    if (wantedText) LocalFree(wantedText);
    if (wanted) LocalFree(wanted);
    if (result == KeyDacl::Failed && e == ERROR_SUCCESS) e = ERROR_INVALID_SECURITY_DESCR;
    if (error) *error = result == KeyDacl::Failed ? e : ERROR_SUCCESS;
    return result;
}

}  // namespace corelib
