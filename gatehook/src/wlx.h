// The GINA interface as Winlogon calls it: mingw-w64's winwlx.h has the types and dispatch tables
// but not the entry points a GINA exports, so their prototypes are declared here.
#pragma once

#include <windows.h>

extern "C" {
#include <winwlx.h>
}

extern "C" {

typedef BOOL(WINAPI* PFN_WlxNegotiate)(DWORD winlogonVersion, PDWORD pdwDllVersion);
typedef BOOL(WINAPI* PFN_WlxInitialize)(LPWSTR lpWinsta, HANDLE hWlx, PVOID pvReserved, PVOID pWinlogonFunctions,
                                        PVOID* pWlxContext);
typedef VOID(WINAPI* PFN_WlxDisplaySASNotice)(PVOID pWlxContext);
typedef int(WINAPI* PFN_WlxLoggedOutSAS)(PVOID pWlxContext, DWORD dwSasType, PLUID pAuthenticationId, PSID pLogonSid,
                                         PDWORD pdwOptions, PHANDLE phToken, PWLX_MPR_NOTIFY_INFO pNprNotifyInfo,
                                         PVOID* pProfile);
typedef BOOL(WINAPI* PFN_WlxActivateUserShell)(PVOID pWlxContext, PWSTR pszDesktopName, PWSTR pszMprLogonScript,
                                               PVOID pEnvironment);
typedef int(WINAPI* PFN_WlxLoggedOnSAS)(PVOID pWlxContext, DWORD dwSasType, PVOID pReserved);
typedef VOID(WINAPI* PFN_WlxDisplayLockedNotice)(PVOID pWlxContext);
typedef BOOL(WINAPI* PFN_WlxIsLockOk)(PVOID pWlxContext);
typedef int(WINAPI* PFN_WlxWkstaLockedSAS)(PVOID pWlxContext, DWORD dwSasType);
typedef BOOL(WINAPI* PFN_WlxIsLogoffOk)(PVOID pWlxContext);
typedef VOID(WINAPI* PFN_WlxLogoff)(PVOID pWlxContext);
typedef VOID(WINAPI* PFN_WlxShutdown)(PVOID pWlxContext, DWORD ShutdownType);
typedef BOOL(WINAPI* PFN_WlxStartApplication)(PVOID pWlxContext, PWSTR pszDesktopName, PVOID pEnvironment,
                                              PWSTR pszCmdLine);
typedef BOOL(WINAPI* PFN_WlxScreenSaverNotify)(PVOID pWlxContext, BOOL* pSecure);
typedef BOOL(WINAPI* PFN_WlxNetworkProviderLoad)(PVOID pWlxContext, PWLX_MPR_NOTIFY_INFO pNprNotifyInfo);
typedef BOOL(WINAPI* PFN_WlxDisplayStatusMessage)(PVOID pWlxContext, HDESK hDesktop, DWORD dwOptions, PWSTR pTitle,
                                                  PWSTR pMessage);
typedef BOOL(WINAPI* PFN_WlxGetStatusMessage)(PVOID pWlxContext, DWORD* pdwOptions, PWSTR pMessage,
                                              DWORD dwBufferSize);
typedef BOOL(WINAPI* PFN_WlxRemoveStatusMessage)(PVOID pWlxContext);

BOOL WINAPI WlxNegotiate(DWORD winlogonVersion, PDWORD pdwDllVersion);
BOOL WINAPI WlxInitialize(LPWSTR lpWinsta, HANDLE hWlx, PVOID pvReserved, PVOID pWinlogonFunctions,
                          PVOID* pWlxContext);
VOID WINAPI WlxDisplaySASNotice(PVOID pWlxContext);
int WINAPI WlxLoggedOutSAS(PVOID pWlxContext, DWORD dwSasType, PLUID pAuthenticationId, PSID pLogonSid,
                           PDWORD pdwOptions, PHANDLE phToken, PWLX_MPR_NOTIFY_INFO pNprNotifyInfo, PVOID* pProfile);
BOOL WINAPI WlxActivateUserShell(PVOID pWlxContext, PWSTR pszDesktopName, PWSTR pszMprLogonScript,
                                 PVOID pEnvironment);
int WINAPI WlxLoggedOnSAS(PVOID pWlxContext, DWORD dwSasType, PVOID pReserved);
VOID WINAPI WlxDisplayLockedNotice(PVOID pWlxContext);
BOOL WINAPI WlxIsLockOk(PVOID pWlxContext);
int WINAPI WlxWkstaLockedSAS(PVOID pWlxContext, DWORD dwSasType);
BOOL WINAPI WlxIsLogoffOk(PVOID pWlxContext);
VOID WINAPI WlxLogoff(PVOID pWlxContext);
VOID WINAPI WlxShutdown(PVOID pWlxContext, DWORD ShutdownType);
BOOL WINAPI WlxStartApplication(PVOID pWlxContext, PWSTR pszDesktopName, PVOID pEnvironment, PWSTR pszCmdLine);
BOOL WINAPI WlxScreenSaverNotify(PVOID pWlxContext, BOOL* pSecure);
BOOL WINAPI WlxNetworkProviderLoad(PVOID pWlxContext, PWLX_MPR_NOTIFY_INFO pNprNotifyInfo);
BOOL WINAPI WlxDisplayStatusMessage(PVOID pWlxContext, HDESK hDesktop, DWORD dwOptions, PWSTR pTitle,
                                    PWSTR pMessage);
BOOL WINAPI WlxGetStatusMessage(PVOID pWlxContext, DWORD* pdwOptions, PWSTR pMessage, DWORD dwBufferSize);
BOOL WINAPI WlxRemoveStatusMessage(PVOID pWlxContext);

}  // extern "C"
