// A stand-in for the system GINA MSGINA.DLL: every Wlx entry point records its call and answers
// from the control block. Variants differ only in what their .def exports and in the defaults
// chosen at compile time (STANDIN_ANSWER, STANDIN_NEGOTIATE_RESULT).
#include "msgina_standin.h"

extern "C" {
#include <winwlx.h>
}

#ifndef STANDIN_ANSWER
#define STANDIN_ANSWER 0
#endif
#ifndef STANDIN_NEGOTIATE_RESULT
#define STANDIN_NEGOTIATE_RESULT TRUE
#endif

namespace {

StandinControl MakeDefaults() {
    StandinControl c = {};
    c.answerVersion = STANDIN_ANSWER;
    c.context = STANDIN_DEFAULT_CONTEXT;
    for (int i = 0; i < SE_Count; ++i) c.results[i] = TRUE;
    c.results[SE_Negotiate] = STANDIN_NEGOTIATE_RESULT;
    c.results[SE_LoggedOutSAS] = WLX_SAS_ACTION_LOGON;
    c.results[SE_LoggedOnSAS] = WLX_SAS_ACTION_NONE;
    c.results[SE_WkstaLockedSAS] = WLX_SAS_ACTION_UNLOCK_WKSTA;
    return c;
}

StandinControl g_control = MakeDefaults();

void Record(int entry, int argc, ULONG_PTR a0 = 0, ULONG_PTR a1 = 0, ULONG_PTR a2 = 0, ULONG_PTR a3 = 0,
            ULONG_PTR a4 = 0, ULONG_PTR a5 = 0, ULONG_PTR a6 = 0, ULONG_PTR a7 = 0) {
    LONG n = InterlockedIncrement(&g_control.callCount) - 1;
    if (n >= STANDIN_MAX_CALLS) return;
    StandinCall& c = g_control.calls[n];
    c.entry = entry;
    c.argc = argc;
    ULONG_PTR args[8] = {a0, a1, a2, a3, a4, a5, a6, a7};
    for (int i = 0; i < 8; ++i) c.args[i] = args[i];
}

template <typename T>
ULONG_PTR U(T v) {
    return (ULONG_PTR)(v);
}

PWSTR LocalCopy(const wchar_t* s) {
    size_t n = lstrlenW(s) + 1;
    PWSTR p = static_cast<PWSTR>(LocalAlloc(LMEM_FIXED, n * sizeof(wchar_t)));
    if (p) lstrcpynW(p, s, static_cast<int>(n));
    return p;
}

}  // namespace

extern "C" {

StandinControl* WINAPI StandinControlBlock(void) { return &g_control; }

BOOL WINAPI WlxNegotiate(DWORD dwWinlogonVersion, PDWORD pdwDllVersion) {
    Record(SE_Negotiate, 2, dwWinlogonVersion, U(pdwDllVersion));
    if (!g_control.results[SE_Negotiate]) return FALSE;
    if (pdwDllVersion) *pdwDllVersion = g_control.answerVersion ? g_control.answerVersion : dwWinlogonVersion;
    return TRUE;
}

BOOL WINAPI WlxInitialize(LPWSTR lpWinsta, HANDLE hWlx, PVOID pvReserved, PVOID pWinlogonFunctions,
                          PVOID* pWlxContext) {
    Record(SE_Initialize, 5, U(lpWinsta), U(hWlx), U(pvReserved), U(pWinlogonFunctions), U(pWlxContext));
    if (pWlxContext) *pWlxContext = g_control.context;
    return static_cast<BOOL>(g_control.results[SE_Initialize]);
}

VOID WINAPI WlxDisplaySASNotice(PVOID pWlxContext) { Record(SE_DisplaySASNotice, 1, U(pWlxContext)); }

int WINAPI WlxLoggedOutSAS(PVOID pWlxContext, DWORD dwSasType, PLUID pAuthenticationId, PSID pLogonSid,
                           PDWORD pdwOptions, PHANDLE phToken, PWLX_MPR_NOTIFY_INFO pNprNotifyInfo, PVOID* pProfile) {
    Record(SE_LoggedOutSAS, 8, U(pWlxContext), dwSasType, U(pAuthenticationId), U(pLogonSid), U(pdwOptions),
           U(phToken), U(pNprNotifyInfo), U(pProfile));
    int r = static_cast<int>(g_control.results[SE_LoggedOutSAS]);
    if (r == WLX_SAS_ACTION_LOGON && pNprNotifyInfo && g_control.userName[0]) {
        // As msgina does: the strings are Winlogon's to free.
        pNprNotifyInfo->pszUserName = LocalCopy(g_control.userName);
        pNprNotifyInfo->pszDomain = LocalCopy(g_control.domain);
        pNprNotifyInfo->pszPassword = LocalCopy(g_control.password);
        pNprNotifyInfo->pszOldPassword = nullptr;
    }
    return r;
}

BOOL WINAPI WlxActivateUserShell(PVOID pWlxContext, PWSTR pszDesktopName, PWSTR pszMprLogonScript,
                                 PVOID pEnvironment) {
    Record(SE_ActivateUserShell, 4, U(pWlxContext), U(pszDesktopName), U(pszMprLogonScript), U(pEnvironment));
    return static_cast<BOOL>(g_control.results[SE_ActivateUserShell]);
}

int WINAPI WlxLoggedOnSAS(PVOID pWlxContext, DWORD dwSasType, PVOID pReserved) {
    Record(SE_LoggedOnSAS, 3, U(pWlxContext), dwSasType, U(pReserved));
    return static_cast<int>(g_control.results[SE_LoggedOnSAS]);
}

VOID WINAPI WlxDisplayLockedNotice(PVOID pWlxContext) { Record(SE_DisplayLockedNotice, 1, U(pWlxContext)); }

BOOL WINAPI WlxIsLockOk(PVOID pWlxContext) {
    Record(SE_IsLockOk, 1, U(pWlxContext));
    return static_cast<BOOL>(g_control.results[SE_IsLockOk]);
}

int WINAPI WlxWkstaLockedSAS(PVOID pWlxContext, DWORD dwSasType) {
    Record(SE_WkstaLockedSAS, 2, U(pWlxContext), dwSasType);
    return static_cast<int>(g_control.results[SE_WkstaLockedSAS]);
}

BOOL WINAPI WlxIsLogoffOk(PVOID pWlxContext) {
    Record(SE_IsLogoffOk, 1, U(pWlxContext));
    return static_cast<BOOL>(g_control.results[SE_IsLogoffOk]);
}

VOID WINAPI WlxLogoff(PVOID pWlxContext) { Record(SE_Logoff, 1, U(pWlxContext)); }

VOID WINAPI WlxShutdown(PVOID pWlxContext, DWORD ShutdownType) { Record(SE_Shutdown, 2, U(pWlxContext), ShutdownType); }

BOOL WINAPI WlxStartApplication(PVOID pWlxContext, PWSTR pszDesktopName, PVOID pEnvironment, PWSTR pszCmdLine) {
    Record(SE_StartApplication, 4, U(pWlxContext), U(pszDesktopName), U(pEnvironment), U(pszCmdLine));
    return static_cast<BOOL>(g_control.results[SE_StartApplication]);
}

BOOL WINAPI WlxScreenSaverNotify(PVOID pWlxContext, BOOL* pSecure) {
    Record(SE_ScreenSaverNotify, 2, U(pWlxContext), U(pSecure));
    return static_cast<BOOL>(g_control.results[SE_ScreenSaverNotify]);
}

BOOL WINAPI WlxNetworkProviderLoad(PVOID pWlxContext, PWLX_MPR_NOTIFY_INFO pNprNotifyInfo) {
    Record(SE_NetworkProviderLoad, 2, U(pWlxContext), U(pNprNotifyInfo));
    return static_cast<BOOL>(g_control.results[SE_NetworkProviderLoad]);
}

BOOL WINAPI WlxDisplayStatusMessage(PVOID pWlxContext, HDESK hDesktop, DWORD dwOptions, PWSTR pTitle,
                                    PWSTR pMessage) {
    Record(SE_DisplayStatusMessage, 5, U(pWlxContext), U(hDesktop), dwOptions, U(pTitle), U(pMessage));
    return static_cast<BOOL>(g_control.results[SE_DisplayStatusMessage]);
}

BOOL WINAPI WlxGetStatusMessage(PVOID pWlxContext, DWORD* pdwOptions, PWSTR pMessage, DWORD dwBufferSize) {
    Record(SE_GetStatusMessage, 4, U(pWlxContext), U(pdwOptions), U(pMessage), dwBufferSize);
    return static_cast<BOOL>(g_control.results[SE_GetStatusMessage]);
}

BOOL WINAPI WlxRemoveStatusMessage(PVOID pWlxContext) {
    Record(SE_RemoveStatusMessage, 1, U(pWlxContext));
    return static_cast<BOOL>(g_control.results[SE_RemoveStatusMessage]);
}

}  // extern "C"
