// Platform calls that Wine cannot run go through this table, real by default. Unit tests that link
// the core replace entries; the test build of the DLL replaces them from its own seam file.
#pragma once

#include <windows.h>
#include <ntsecapi.h>

#include "corelib.h"

namespace logontile {

struct Seams {
    NTSTATUS(NTAPI* LsaConnectUntrusted)(PHANDLE lsaHandle);
    // Wine resolves only "Kerberos"; "Negotiate" fails there with STATUS_UNSUCCESSFUL.
    NTSTATUS(NTAPI* LsaLookupAuthenticationPackage)(HANDLE lsaHandle, PLSA_STRING packageName, PULONG package);
    NTSTATUS(NTAPI* LsaDeregisterLogonProcess)(HANDLE lsaHandle);
    // advapi32's credential protection ("CredProtectW", "CredIsProtectedW") by name. Vista and later
    // have it; NULL means this system has none (XP, Wine), never a failure to report.
    FARPROC(WINAPI* GetCredentialProtectionProc)(const char* name);
    // The last step of the forced shut-down after three failed password logons.
    BOOL(WINAPI* ExitWindowsEx)(UINT flags, DWORD reason);
    // Corelib's StartOrStopService: SetUsageScenario asks for the lock monitor service with it.
    // In-process tests count the request instead of starting the service program.
    INT_PTR(CORELIB_CALL* StartOrStopService)(BOOL start);
    // The key thread's poll period; tests shorten it.
    DWORD keyPollPeriodMs;
    // Session facts. The key is a local credential: it never logs on in a remote session, nor in
    // a session other than the one attached to the console.
    int(WINAPI* GetSystemMetrics)(int index);
    BOOL(WINAPI* ProcessIdToSessionId)(DWORD processId, DWORD* sessionId);
    DWORD(WINAPI* WTSGetActiveConsoleSessionId)();
    // Whether user has a session on this machine (a locked or disconnected one behind "Switch
    // User"): kSessionYes, kSessionNo, or kSessionUnknown when the sessions could not be read.
    int (*UserHasSession)(const wchar_t* user);
};

constexpr int kSessionNo = 0;
constexpr int kSessionYes = 1;
constexpr int kSessionUnknown = -1;

extern Seams g_seams;

// The real entries, for tests that replace one and restore it.
extern const Seams kRealSeams;

}  // namespace logontile
