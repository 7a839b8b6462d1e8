// The MSGINA.DLL stand-in's control block, shared with the test hosts. The stand-in answers what the
// block says and records every call with its arguments; the host reads and sets the block through
// the export "StandinControlBlock".
#pragma once

#include <windows.h>

enum StandinEntry {
    SE_Negotiate,
    SE_Initialize,
    SE_DisplaySASNotice,
    SE_LoggedOutSAS,
    SE_ActivateUserShell,
    SE_LoggedOnSAS,
    SE_DisplayLockedNotice,
    SE_IsLockOk,
    SE_WkstaLockedSAS,
    SE_IsLogoffOk,
    SE_Logoff,
    SE_Shutdown,
    SE_StartApplication,
    SE_ScreenSaverNotify,
    SE_NetworkProviderLoad,
    SE_DisplayStatusMessage,
    SE_GetStatusMessage,
    SE_RemoveStatusMessage,
    SE_Count
};

struct StandinCall {
    int entry;
    int argc;
    ULONG_PTR args[8];
};

enum { STANDIN_MAX_CALLS = 256 };

struct StandinControl {
    DWORD answerVersion;          // WlxNegotiate's answer; 0 answers the version offered
    PVOID context;                // what WlxInitialize stores in *pWlxContext
    ULONG_PTR results[SE_Count];  // what each entry with a result returns
    // Written into the WLX_MPR_NOTIFY_INFO by WlxLoggedOutSAS when it answers LOGON; an empty
    // user name leaves the structure untouched.
    wchar_t userName[64];
    wchar_t domain[64];
    wchar_t password[64];
    volatile LONG callCount;
    StandinCall calls[STANDIN_MAX_CALLS];
};

typedef StandinControl*(WINAPI* PFN_StandinControlBlock)(void);

// What the stand-in answers unless a host says otherwise.
#define STANDIN_DEFAULT_CONTEXT ((PVOID)0x5EC0C7A0)
