#include "seams.h"

namespace logontile {

namespace {

// Wrappers rather than the imports themselves: their addresses are link-time constants, so the
// table is filled before any constructor runs and a test seam file can overwrite it at load.
NTSTATUS NTAPI RealLsaConnectUntrusted(PHANDLE h) { return ::LsaConnectUntrusted(h); }

NTSTATUS NTAPI RealLsaLookupAuthenticationPackage(HANDLE h, PLSA_STRING name, PULONG package) {
    return ::LsaLookupAuthenticationPackage(h, name, package);
}

NTSTATUS NTAPI RealLsaDeregisterLogonProcess(HANDLE h) { return ::LsaDeregisterLogonProcess(h); }

// Looked up by name: a static import of these would bind XP and Wine to a missing or aborting stub.
FARPROC WINAPI RealGetCredentialProtectionProc(const char* name) {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    if (!advapi) advapi = LoadLibraryW(L"advapi32.dll");
    return advapi ? GetProcAddress(advapi, name) : nullptr;
}

BOOL WINAPI RealExitWindowsEx(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason); }

INT_PTR CORELIB_CALL RealStartOrStopService(BOOL start) { return ::StartOrStopService(start); }

}  // namespace

// Both tables are constant-initialized (no copy from one to the other, which would run at load).
#define LOGONTILE_REAL_SEAMS                                                                                \
    {                                                                                                        \
        RealLsaConnectUntrusted, RealLsaLookupAuthenticationPackage, RealLsaDeregisterLogonProcess,          \
            RealGetCredentialProtectionProc, RealExitWindowsEx, RealStartOrStopService, 1000                 \
    }

const Seams kRealSeams = LOGONTILE_REAL_SEAMS;
Seams g_seams = LOGONTILE_REAL_SEAMS;

}  // namespace logontile
