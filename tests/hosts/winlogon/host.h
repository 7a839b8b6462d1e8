// A Winlogon for tests: loads the GINA (the test build of Gatehook) and one variant of the MSGINA.DLL
// stand-in, hands the GINA a 1.4 dispatch table, and records what the GINA asks of Winlogon.
// Each test case runs in its own process (one per CTest test), so each one is a fresh Winlogon.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "corelib.h"
#include "msgina_standin.h"
#include "seams.h"
#include "wlx.h"

namespace host {

// The result of a dialog that the driver had to end because the test went wrong.
const int kAborted = -77;
// Private message that the host's dialog wrapper answers by ending the dialog with kAborted.
const UINT kMsgAbort = WM_APP + 77;

// Winlogon's handle and names as the GINA sees them.
#define HOST_HWLX ((HANDLE)0x0DDC0FFE)
#define HOST_WINSTA L"WinSta0"

struct DialogRequest {
    HANDLE hWlx;
    HANDLE instance;
    UINT_PTR templateId;
    HWND owner;
    DLGPROC proc;
};

struct PauseRecord {
    DWORD ms;
    std::wstring status;  // text 1042 when the pause began
    bool statusPainted;   // nothing of the emergency dialog was waiting to be painted
};

struct GinaExports {
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

// The 18 names a GINA exports, in interface order.
extern const char* const kWlxNames[18];

class Winlogon {
public:
    static Winlogon& Get();

    // Puts bin\msgina\<variant> on the DLL search path, loads "MSGINA.DLL" by name as the GINA will,
    // then the GINA itself, and replaces the GINA's seams with the host's recorders.
    ::testing::AssertionResult Load(const std::wstring& variant, const std::wstring& gina = L"GatehookTest.dll");
    // Load, WlxNegotiate and WlxInitialize, each of which must succeed.
    ::testing::AssertionResult Boot(const std::wstring& variant, DWORD winlogonVersion = WLX_VERSION_1_4);

    BOOL Negotiate(DWORD winlogonVersion, DWORD* dllVersion);
    BOOL Initialize();

    // Calls Winlogon would make once the GINA is up, with the context WlxInitialize gave back.
    int LoggedOutSAS(PWLX_MPR_NOTIFY_INFO mpr);
    int LoggedOutSAS();  // with a notify structure of the host's own
    int WkstaLockedSAS(DWORD sas = WLX_SAS_TYPE_CTRL_ALT_DEL);
    BOOL ActivateUserShell();

    HMODULE gina = nullptr;
    HMODULE msgina = nullptr;
    GinaExports wlx = {};
    StandinControl* standin = nullptr;
    gatehook::Seams* seams = nullptr;
    WLX_DISPATCH_VERSION_1_4 dispatch = {};
    PVOID context = nullptr;  // what Winlogon keeps from WlxInitialize
    WLX_MPR_NOTIFY_INFO mpr = {};

    // What the GINA asked of Winlogon.
    std::map<UINT_PTR, int> scripted;  // template id -> result; the others run for real
    std::vector<DialogRequest> dialogs;
    int useCtrlAltDelCalls = 0;
    HANDLE useCtrlAltDelHandle = nullptr;
    LONG msginaCallsAtUseCtrlAltDel = -1;

    // Recorded through the seams.
    int Locks();
    std::vector<PauseRecord> Pauses();
    // Reads of the user record: the key watch makes one at each of its ticks.
    int RecordReads();

    // Calls the stand-in recorded for one entry point.
    std::vector<StandinCall> CallsOf(int entry) const;
    int CountOf(int entry) const { return static_cast<int>(CallsOf(entry).size()); }

private:
    Winlogon();
};

// Settings the tests prepare.
void SetSwitch(const wchar_t* name, DWORD value);
DWORD Switch(const wchar_t* name);
// Stores the user record: user name, software password, and enrolled disk ids.
void StoreRecord(const std::wstring& userName, const std::wstring& logonPassword = L"",
                 const std::vector<std::wstring>& diskIds = {});
// The folder of the registered GINA, where Gatehook looks for Config.ini: a fresh one per test.
std::wstring RegisterGinaFolder();
// Deletes the Winlogon auto-logon values, and the registered GINA.
void ClearAutoLogon();
void ClearGinaRegistration();
// Counts the threads of this process.
int ThreadCount();

}  // namespace host
