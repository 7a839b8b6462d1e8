// Start-up of the control panel: prepares the process, then runs the login, the first-start choice
// when no mode is chosen, and the main panel, each in its own modal loop. There is no other loop.
#include "wardenmain.h"

#include <commctrl.h>
#include <objbase.h>
#include <wchar.h>

#include "bkres.h"
#include "corelib.h"
#include "elevation.h"
#include "firststartdlg.h"
#include "logondlg.h"
#include "paneltext.h"
#include "panelhost.h"
#include "seams.h"
#include "winlayer/module.h"

namespace warden {

const wchar_t* g_commandLine = L"";
HANDLE g_tokenContext = nullptr;

namespace {
const wchar_t kModeSwitch[] = L"QJ_AppDriveMode";
const wchar_t kAutostartSwitch[] = L"regrun";

// Ends what steps 2 and 4 began; every way out of start-up after them passes here.
int Finish(CAppModule& module, int exitCode) {
    module.Term();
    CoUninitialize();
    return exitCode;
}
}  // namespace

int WardenMain(const wchar_t* commandLine) {
    // 1. The main panel compares the tail with "regrun"; it is kept as Windows gave it.
    g_commandLine = commandLine ? commandLine : L"";
    // 2.
    CoInitialize(nullptr);
    // 3. The list classes too: the history page is a list view.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // 4.
    CAppModule module;
    module.Init(nullptr, nullptr);
    // 5. Strings first: the default font face is string 0.
    BkLoadSkinTables(TRUE);

    // Before anything reads the record: without the rights the settings key asks for, the record
    // would read as missing (806 would open the panel) and writes would be refused or redirected.
    const appcommon::ElevationResult elevation = appcommon::ElevateIfNeeded(g_commandLine);
    if (elevation.step == appcommon::ElevationStep::kRelaunched) return Finish(module, 0);
    if (elevation.step == appcommon::ElevationStep::kRefused) {
        g_panelBox(nullptr, PanelString(kStrNeedAdmin), PanelString(kStrCaption), MB_ICONERROR | MB_OK);
        return Finish(module, 0);
    }

    // 6. A failure shows later as "no token".
    UE_Epas_CreateContext(&g_tokenContext);
    // 7. Until a key is enrolled, every start asks for the device mode again.
    if (!IsRegisterUinfo()) g_seams.setMonitorKeyStyle(kModeSwitch, static_cast<DWORD>(-1));

    // 8. The login lives until the program ends (the panel shares the process's state after it).
    UserLogonDlg logon;
    if (logon.ShowModal(GetActiveWindow()) == -1) return Finish(module, 0);

    // 9. Read afresh: a -1 left by an earlier run asks again even with a record stored.
    if (static_cast<int>(GetMonitorKeyStyle(kModeSwitch)) == -1) {
        FirstStartDlg firstStart;
        if (firstStart.ShowModal(GetActiveWindow()) == -1) return Finish(module, 0);
    }

    // 10. Only the exact word hides the panel: "regrun " or "REGRUN" shows it.
    const int result = RunMainPanel(wcscmp(g_commandLine, kAutostartSwitch) == 0);
    return Finish(module, result);
}

}  // namespace warden
