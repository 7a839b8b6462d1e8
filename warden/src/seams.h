// The control panel's platform table: the calls that Wine lacks or that a test must never make for
// real go through it. Real by default; a test build or a unit test swaps entries.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <commdlg.h>

#include "corelib.h"

namespace warden {

struct Seams {
    BOOL(WINAPI* shellNotifyIcon)(DWORD message, PNOTIFYICONDATAW data);
    HANDLE(WINAPI* openEventLog)(LPCWSTR server, LPCWSTR source);
    BOOL(WINAPI* readEventLog)(HANDLE log, DWORD flags, DWORD offset, LPVOID buffer, DWORD bytes, DWORD* read,
                               DWORD* needed);
    BOOL(WINAPI* closeEventLog)(HANDLE log);

    // Shell and session: links and help, lock, log off, and the shut-down dialog (shell32 #60).
    HINSTANCE(WINAPI* shellExecute)(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                                    INT show);
    BOOL(WINAPI* lockWorkStation)();
    BOOL(WINAPI* exitWindowsEx)(UINT flags, DWORD reason);
    void (*shutdownDialog)();
    BOOL(WINAPI* getOpenFileName)(LPOPENFILENAMEW dialog);

    // The restart after a change of device mode.
    BOOL(WINAPI* createProcess)(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info);
    void(WINAPI* exitProcess)(UINT code);
    DWORD(WINAPI* getModuleFileName)(HMODULE module, LPWSTR path, DWORD chars);

    // Drives: Wine maps no new drive letter while its server runs.
    DWORD(WINAPI* getLogicalDrives)();
    UINT(WINAPI* getDriveType)(LPCWSTR root);
    BOOL(WINAPI* getVolumeInformation)(LPCWSTR root, LPWSTR label, DWORD labelChars, LPDWORD serial,
                                       LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystem,
                                       DWORD fileSystemChars);

    // Corelib: the drive-letter lookup (Wine maps no letter to a volume interface) and every write,
    // so that a refused write can be caused.
    BOOL(CORELIB_CALL* upGetDriveIdByLetter)(const wchar_t* root, wchar_t out[260]);
    LONG(CORELIB_CALL* setMonitorKeyStyle)(const wchar_t* name, DWORD value);
    BOOL(CORELIB_CALL* setUserInfo)(const uinfo* record);
    BOOL(CORELIB_CALL* setLogonPwd)(const wchar_t* password);
    LONG(CORELIB_CALL* writeGianPathToReg)();
    LONG(CORELIB_CALL* deleteGianPathToReg)();
    INT_PTR(CORELIB_CALL* startOrStopService)(BOOL start);

    // The login's read of the record, so that a failed read other than "nothing stored" can be caused.
    BOOL(CORELIB_CALL* getUserInfo)(uinfo* record);
};

extern Seams g_seams;
Seams DefaultSeams();

}  // namespace warden
