#include "seams.h"

namespace warden {

namespace {

// The Windows shut-down dialog: shell32 exports it by ordinal only.
void ShowShutdownDialog() {
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    if (!shell) return;
    typedef void(WINAPI * DialogFn)(HWND);
    DialogFn dialog = reinterpret_cast<DialogFn>(reinterpret_cast<void*>(GetProcAddress(shell, MAKEINTRESOURCEA(60))));
    if (dialog) dialog(nullptr);
    FreeLibrary(shell);
}

const Seams kBuiltIn = {
    Shell_NotifyIconW,
    OpenEventLogW,
    ReadEventLogA,
    CloseEventLog,

    ShellExecuteW,
    LockWorkStation,
    ExitWindowsEx,
    ShowShutdownDialog,
    GetOpenFileNameW,

    CreateProcessW,
    ExitProcess,
    GetModuleFileNameW,

    GetLogicalDrives,
    GetDriveTypeW,
    GetVolumeInformationW,

    UP_GetDriveIDByLetter,
    SetMonitorKeyStyle,
    SetUserInfo,
    Set_lpLogonPWD,
    WriteGianPathToReg,
    DeleteGianPathToReg,
    StartOrStopService,

    GetUserInfo,
};
}  // namespace

Seams DefaultSeams() { return kBuiltIn; }

Seams g_seams = kBuiltIn;

}  // namespace warden
