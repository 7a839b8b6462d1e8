// The GINA entry points: each one forwards to msgina, with the key notices and the key watch
// added at logon, at the desktop and at the locked workstation. Winlogon dies with a crash in
// here and nobody can log on, so every forward tolerates an entry point that was never bound.
#include "internal.h"

#include <string.h>

#include "resource.h"

namespace gatehook {

namespace {

// msgina's entry points, bound by WlxNegotiate for the version msgina accepted.
struct Msgina {
    HMODULE module;
    DWORD version;
    PFN_WlxNegotiate Negotiate;
    PFN_WlxInitialize Initialize;
    PFN_WlxDisplaySASNotice DisplaySASNotice;
    PFN_WlxLoggedOutSAS LoggedOutSAS;
    PFN_WlxActivateUserShell ActivateUserShell;
    PFN_WlxLoggedOnSAS LoggedOnSAS;
    PFN_WlxDisplayLockedNotice DisplayLockedNotice;
    PFN_WlxIsLockOk IsLockOk;
    PFN_WlxWkstaLockedSAS WkstaLockedSAS;
    PFN_WlxIsLogoffOk IsLogoffOk;
    PFN_WlxLogoff Logoff;
    PFN_WlxShutdown Shutdown;
    PFN_WlxStartApplication StartApplication;
    PFN_WlxScreenSaverNotify ScreenSaverNotify;
    PFN_WlxNetworkProviderLoad NetworkProviderLoad;
    PFN_WlxDisplayStatusMessage DisplayStatusMessage;
    PFN_WlxGetStatusMessage GetStatusMessage;
    PFN_WlxRemoveStatusMessage RemoveStatusMessage;
};
Msgina g_msgina;

// Gatehook's own context. Winlogon never sees it: it holds msgina's context, which is forwarded as is.
struct GinaContext {
    HINSTANCE instance;
    PWLX_DISPATCH_VERSION_1_0 dispatch;  // every version begins with the 1.0 table
    HANDLE hWlx;
    LPWSTR winsta;
    DWORD_PTR unused[5];
};
static_assert(sizeof(void*) != 4 || sizeof(GinaContext) == 36, "the context is 36 bytes");
GinaContext* g_context = nullptr;

template <typename T>
bool Bind(HMODULE module, const char* name, T* slot) {
    *slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *slot != nullptr;
}

void TraceLocalTime() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    DEBUG_MSG("%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

int ShowDialog(int templateId, DLGPROC proc) {
    if (!g_context || !g_context->dispatch || !g_context->dispatch->WlxDialogBox) return -1;
    return g_context->dispatch->WlxDialogBox(g_context->hWlx, g_context->instance, MAKEINTRESOURCEW(templateId),
                                             nullptr, proc);
}

// The base group always; 1.1 adds the application and screen-saver calls; 1.3 the status messages
// and the network provider. The first missing name fails the whole binding.
bool Hook_MSGINA(DWORD version, HMODULE module, Msgina* out) {
    DEBUG_MSG_B("%s", "Hook_MSGINA");
    Msgina m = {};
    m.module = module;
    m.version = version;
    bool ok = Bind(module, "WlxInitialize", &m.Initialize) &&
              Bind(module, "WlxDisplaySASNotice", &m.DisplaySASNotice) &&
              Bind(module, "WlxLoggedOutSAS", &m.LoggedOutSAS) &&
              Bind(module, "WlxActivateUserShell", &m.ActivateUserShell) &&
              Bind(module, "WlxLoggedOnSAS", &m.LoggedOnSAS) &&
              Bind(module, "WlxDisplayLockedNotice", &m.DisplayLockedNotice) &&
              Bind(module, "WlxIsLockOk", &m.IsLockOk) && Bind(module, "WlxWkstaLockedSAS", &m.WkstaLockedSAS) &&
              Bind(module, "WlxIsLogoffOk", &m.IsLogoffOk) && Bind(module, "WlxLogoff", &m.Logoff) &&
              Bind(module, "WlxShutdown", &m.Shutdown);
    if (ok && version > WLX_VERSION_1_0) {
        ok = Bind(module, "WlxStartApplication", &m.StartApplication) &&
             Bind(module, "WlxScreenSaverNotify", &m.ScreenSaverNotify);
    }
    if (ok && version > WLX_VERSION_1_2) {
        ok = Bind(module, "WlxNetworkProviderLoad", &m.NetworkProviderLoad) &&
             Bind(module, "WlxDisplayStatusMessage", &m.DisplayStatusMessage) &&
             Bind(module, "WlxGetStatusMessage", &m.GetStatusMessage) &&
             Bind(module, "WlxRemoveStatusMessage", &m.RemoveStatusMessage);
    }
    if (ok) *out = m;
    return ok;
}

}  // namespace
}  // namespace gatehook

using namespace gatehook;

extern "C" {

BOOL WINAPI WlxNegotiate(DWORD winlogonVersion, PDWORD pdwDllVersion) {
    TraceLocalTime();
    DEBUG_MSG_B("%s %x", "WlxNegotiate", static_cast<unsigned>(winlogonVersion));
    if (!pdwDllVersion) return FALSE;
    DWORD offer = WLX_VERSION_1_3;
    if (winlogonVersion < offer) offer = winlogonVersion;

    HMODULE module = LoadLibraryW(L"MSGINA.DLL");
    if (!module) return FALSE;
    PFN_WlxNegotiate negotiate = nullptr;
    DWORD answer = 0;
    if (!Bind(module, "WlxNegotiate", &negotiate) || !negotiate(offer, &answer) || answer < WLX_VERSION_1_0) {
        FreeLibrary(module);
        return FALSE;
    }
    // Winlogon learns the version that was bound: never more than it offered, never more than msgina took.
    DWORD version = answer < offer ? answer : offer;
    Msgina bound;
    if (!Hook_MSGINA(version, module, &bound)) {
        DEBUG_MSG_E("%s", "Hook_MSGINA");
        FreeLibrary(module);
        return FALSE;
    }
    bound.Negotiate = negotiate;
    HMODULE previous = g_msgina.module;
    g_msgina = bound;
    if (previous) FreeLibrary(previous);  // a repeated negotiation holds one reference only
    *pdwDllVersion = version;
    DEBUG_MSG_E("%s", "WlxNegotiate");
    return TRUE;
}

BOOL WINAPI WlxInitialize(LPWSTR lpWinsta, HANDLE hWlx, PVOID pvReserved, PVOID pWinlogonFunctions,
                          PVOID* pWlxContext) {
    DEBUG_MSG_B("%s", "WlxInitialize");
    if (!pWinlogonFunctions || !pWlxContext || !g_msgina.Initialize) return FALSE;
    GinaContext* context = static_cast<GinaContext*>(LocalAlloc(LPTR, sizeof(GinaContext)));
    if (!context) return FALSE;

    RefreshRecord();
    HANDLE token = nullptr;
    UE_Epas_CreateContext(&token);

    context->instance = Instance();
    context->dispatch = static_cast<PWLX_DISPATCH_VERSION_1_0>(pWinlogonFunctions);
    context->hWlx = hWlx;
    context->winsta = lpWinsta;
    if (g_context) LocalFree(g_context);
    g_context = context;

    // Ctrl+Alt+Del is always the secure attention sequence.
    if (context->dispatch->WlxUseCtrlAltDel) context->dispatch->WlxUseCtrlAltDel(hWlx);
    return g_msgina.Initialize(lpWinsta, hWlx, pvReserved, pWinlogonFunctions, pWlxContext);
}

VOID WINAPI WlxDisplaySASNotice(PVOID pWlxContext) {
    DEBUG_MSG_B("%s", "WlxDisplaySASNotice");
    if (g_msgina.DisplaySASNotice) g_msgina.DisplaySASNotice(pWlxContext);
}

int WINAPI WlxLoggedOutSAS(PVOID pWlxContext, DWORD dwSasType, PLUID pAuthenticationId, PSID pLogonSid,
                           PDWORD pdwOptions, PHANDLE phToken, PWLX_MPR_NOTIFY_INFO pNprNotifyInfo, PVOID* pProfile) {
    DEBUG_MSG_B("%s %d", "WlxLoggedOutSAS", static_cast<int>(dwSasType));
    if (GetMonitorKeyStyle(GH_SWITCH_BOOT_KEY) != 0) {
        int r = ShowDialog(IDD_BOOT_NOTICE, DisplaySASNoticeDlgProc);
        if (r == IDC_SHUTDOWN_BUTTON) return WLX_SAS_ACTION_SHUTDOWN;
        if (r != 1) return WLX_SAS_ACTION_NONE;
    }
    if (!g_msgina.LoggedOutSAS) return WLX_SAS_ACTION_NONE;
    int r = g_msgina.LoggedOutSAS(pWlxContext, dwSasType, pAuthenticationId, pLogonSid, pdwOptions, phToken,
                                  pNprNotifyInfo, pProfile);
    if (r != WLX_SAS_ACTION_LOGON) return WLX_SAS_ACTION_NONE;

    // The enrolled user's credentials become Winlogon's auto-logon values for the next boot.
    if (pNprNotifyInfo && pNprNotifyInfo->pszUserName) {
        uinfo snap;
        SnapshotRecord(&snap);
        bool enrolled = FieldEquals(snap.lpUserName, 50, pNprNotifyInfo->pszUserName);
        SecureZeroMemory(&snap, sizeof(snap));
        if (enrolled) {
            AutoLogonSystem(L"1", pNprNotifyInfo->pszUserName,
                            pNprNotifyInfo->pszDomain ? pNprNotifyInfo->pszDomain : L"",
                            pNprNotifyInfo->pszPassword ? pNprNotifyInfo->pszPassword : L"");
        }
    }
    return WLX_SAS_ACTION_LOGON;
}

BOOL WINAPI WlxActivateUserShell(PVOID pWlxContext, PWSTR pszDesktopName, PWSTR pszMprLogonScript,
                                 PVOID pEnvironment) {
    DEBUG_MSG_B("%s", "WlxActivateUserShell");
    StartKeyWatchThread();
    if (!g_msgina.ActivateUserShell) return FALSE;
    return g_msgina.ActivateUserShell(pWlxContext, pszDesktopName, pszMprLogonScript, pEnvironment);
}

int WINAPI WlxLoggedOnSAS(PVOID pWlxContext, DWORD dwSasType, PVOID pReserved) {
    DEBUG_MSG_B("%s", "WlxLoggedOnSAS");
    // Only Ctrl+Alt+Del becomes the Task Manager; screen saver, logoff and smart-card events go on.
    if (dwSasType == WLX_SAS_TYPE_CTRL_ALT_DEL && GetMonitorKeyStyle(GH_SWITCH_CTRL_ALT_DEL) != 0)
        return WLX_SAS_ACTION_TASKLIST;
    if (!g_msgina.LoggedOnSAS) return WLX_SAS_ACTION_NONE;
    return g_msgina.LoggedOnSAS(pWlxContext, dwSasType, pReserved);
}

VOID WINAPI WlxDisplayLockedNotice(PVOID pWlxContext) {
    DEBUG_MSG_B("%s", "WlxDisplayLockedNotice");
    if (g_msgina.DisplayLockedNotice) g_msgina.DisplayLockedNotice(pWlxContext);
}

BOOL WINAPI WlxIsLockOk(PVOID pWlxContext) {
    DEBUG_MSG_B("%s", "WlxIsLockOk");
    return g_msgina.IsLockOk ? g_msgina.IsLockOk(pWlxContext) : FALSE;
}

int WINAPI WlxWkstaLockedSAS(PVOID, DWORD dwSasType) {
    DEBUG_MSG_B("%s %d", "WlxWkstaLockedSAS", static_cast<int>(dwSasType));
    if (dwSasType != WLX_SAS_TYPE_CTRL_ALT_DEL) return WLX_SAS_ACTION_NONE;
    // Gatehook's notice replaces msgina's: the key or the notice's button unlocks, never a password.
    int r = ShowDialog(IDD_LOCKED_NOTICE, WkstaLockedSASDlgProc);
    DEBUG_MSG("%s,%d", "WlxWkstaLockedSAS", r);
    if (r == IDOK) {
        DEBUG_MSG("%s,%d", "IDOK", r);
        return WLX_SAS_ACTION_UNLOCK_WKSTA;
    }
    return WLX_SAS_ACTION_NONE;
}

BOOL WINAPI WlxIsLogoffOk(PVOID pWlxContext) {
    DEBUG_MSG_B("%s", "WlxIsLogoffOk");
    return g_msgina.IsLogoffOk ? g_msgina.IsLogoffOk(pWlxContext) : FALSE;
}

VOID WINAPI WlxLogoff(PVOID pWlxContext) {
    DEBUG_MSG_B("%s", "WlxLogoff");
    if (g_msgina.Logoff) g_msgina.Logoff(pWlxContext);
}

VOID WINAPI WlxShutdown(PVOID pWlxContext, DWORD ShutdownType) {
    DEBUG_MSG_B("%s", "WlxShutdown");
    if (g_msgina.Shutdown) g_msgina.Shutdown(pWlxContext, ShutdownType);
}

BOOL WINAPI WlxStartApplication(PVOID pWlxContext, PWSTR pszDesktopName, PVOID pEnvironment, PWSTR pszCmdLine) {
    DEBUG_MSG_B("%s", "WlxStartApplication");
    if (!g_msgina.StartApplication) return FALSE;
    return g_msgina.StartApplication(pWlxContext, pszDesktopName, pEnvironment, pszCmdLine);
}

BOOL WINAPI WlxScreenSaverNotify(PVOID pWlxContext, BOOL* pSecure) {
    DEBUG_MSG_B("%s", "WlxScreenSaverNotify");
    return g_msgina.ScreenSaverNotify ? g_msgina.ScreenSaverNotify(pWlxContext, pSecure) : FALSE;
}

BOOL WINAPI WlxNetworkProviderLoad(PVOID pWlxContext, PWLX_MPR_NOTIFY_INFO pNprNotifyInfo) {
    return g_msgina.NetworkProviderLoad ? g_msgina.NetworkProviderLoad(pWlxContext, pNprNotifyInfo) : FALSE;
}

BOOL WINAPI WlxDisplayStatusMessage(PVOID pWlxContext, HDESK hDesktop, DWORD dwOptions, PWSTR pTitle,
                                    PWSTR pMessage) {
    DEBUG_MSG_B("%s", "WlxDisplayStatusMessage");
    if (!g_msgina.DisplayStatusMessage) return FALSE;
    return g_msgina.DisplayStatusMessage(pWlxContext, hDesktop, dwOptions, pTitle, pMessage);
}

BOOL WINAPI WlxGetStatusMessage(PVOID pWlxContext, DWORD* pdwOptions, PWSTR pMessage, DWORD dwBufferSize) {
    DEBUG_MSG_B("%s", "WlxGetStatusMessage");
    if (!g_msgina.GetStatusMessage) return FALSE;
    return g_msgina.GetStatusMessage(pWlxContext, pdwOptions, pMessage, dwBufferSize);
}

BOOL WINAPI WlxRemoveStatusMessage(PVOID pWlxContext) {
    DEBUG_MSG_B("%s", "WlxRemoveStatusMessage");
    return g_msgina.RemoveStatusMessage ? g_msgina.RemoveStatusMessage(pWlxContext) : FALSE;
}

}  // extern "C"
