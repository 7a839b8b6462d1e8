// Corelib internals shared by its source files; not part of the exported interface.
#pragma once

#include "corelib.h"

#include <ntsecapi.h>

namespace corelib {

// OS class, computed once per process:
// 1 = 5.0, 2 = 5.1, 3 = other 5.x, 4 = 6.0 workstation, 5 = 6.x server,
// 6 = 6.1+ workstation or major > 6, 0 = anything older (treated as XP-class).
int OsClass();
inline bool IsXpClass() { return OsClass() <= 3; }

// The module handle of Corelib (the DLL, or the program when linked statically).
HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

// Copies src into dst (cch wide characters) with its NUL. Returns false, leaving dst "" , when src
// does not fit: ids, paths and passwords are refused rather than cut.
bool CopyWhole(wchar_t* dst, size_t cch, const wchar_t* src);

// Length of a string stored in a fixed field, never reading past the field.
size_t FieldLength(const wchar_t* field, size_t cch);

// Platform calls that cannot run under Wine go through this table, real by default.
// Only unit tests that link Corelib's objects replace an entry.
struct Seams {
    BOOL(WINAPI* GetVolumeNameForVolumeMountPointW)(LPCWSTR mountPoint, LPWSTR volumeName, DWORD cch);
    // Wine registers but never delivers device notices for simulated disks: unit tests check the filters here.
    HDEVNOTIFY(WINAPI* RegisterDeviceNotificationW)(HANDLE recipient, LPVOID filter, DWORD flags);
    // Wine's LSA keeps no private data: the Winlogon auto-logon secret is stored and deleted through here.
    NTSTATUS(WINAPI* LsaStorePrivateData)(LSA_HANDLE policy, PLSA_UNICODE_STRING name, PLSA_UNICODE_STRING data);
    // The locked notice's key test. A read that fails once, the key still in, cannot be played from outside.
    BOOL(CORELIB_CALL* VerifyUserInfo)(const uinfo* record);
};
extern Seams g_seams;

}  // namespace corelib
