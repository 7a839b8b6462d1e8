#include "seams.h"

#include <wtsapi32.h>

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

int WINAPI RealGetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

BOOL WINAPI RealProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
    return ::ProcessIdToSessionId(processId, sessionId);
}

DWORD WINAPI RealWTSGetActiveConsoleSessionId() { return ::WTSGetActiveConsoleSessionId(); }

// wtsapi32 by name: LogonUI need not load it unless the logon tile asks.
int RealUserHasSession(const wchar_t* user) {
    typedef BOOL(WINAPI * EnumerateFn)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*);
    typedef BOOL(WINAPI * QueryFn)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
    typedef void(WINAPI * FreeFn)(PVOID);
    if (!user || !*user) return kSessionUnknown;
    HMODULE wts = LoadLibraryW(L"wtsapi32.dll");
    if (!wts) return kSessionUnknown;
    auto enumerate = reinterpret_cast<EnumerateFn>(reinterpret_cast<void*>(GetProcAddress(wts, "WTSEnumerateSessionsW")));
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(wts, "WTSQuerySessionInformationW")));
    auto release = reinterpret_cast<FreeFn>(reinterpret_cast<void*>(GetProcAddress(wts, "WTSFreeMemory")));
    int answer = kSessionUnknown;
    PWTS_SESSION_INFOW sessions = nullptr;
    DWORD count = 0;
    if (enumerate && query && release && enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count) && sessions) {
        answer = kSessionNo;
        for (DWORD i = 0; i < count && answer != kSessionYes; ++i) {
            if (sessions[i].State == WTSListen) continue;  // a listener holds no user
            LPWSTR name = nullptr;
            DWORD bytes = 0;
            if (!query(WTS_CURRENT_SERVER_HANDLE, sessions[i].SessionId, WTSUserName, &name, &bytes) || !name) {
                answer = kSessionUnknown;  // a session we cannot see may be the user's
                continue;
            }
            if (lstrcmpiW(name, user) == 0) answer = kSessionYes;
            release(name);
        }
        release(sessions);
    }
    FreeLibrary(wts);
    return answer;
}

}  // namespace

// Both tables are constant-initialized (no copy from one to the other, which would run at load).
#define LOGONTILE_REAL_SEAMS                                                                                \
    {                                                                                                        \
        RealLsaConnectUntrusted, RealLsaLookupAuthenticationPackage, RealLsaDeregisterLogonProcess,          \
            RealGetCredentialProtectionProc, RealExitWindowsEx, RealStartOrStopService, 1000,                \
            RealGetSystemMetrics, RealProcessIdToSessionId, RealWTSGetActiveConsoleSessionId,                \
            RealUserHasSession                                                                               \
    }

const Seams kRealSeams = LOGONTILE_REAL_SEAMS;
Seams g_seams = LOGONTILE_REAL_SEAMS;

}  // namespace logontile
