// Running with the rights the settings key asks for, shared by the control panel and the updater.
//
// The settings key holds both passwords and admits only SYSTEM and Administrators. On Vista and 7 a
// program without elevation can neither read nor write a switch there, and an unmanifested one would
// have its HKLM writes land in the VirtualStore, where no logon module looks. Both programs therefore
// ask asInvoker in their manifests (requireAdministrator would make Windows skip the Run autostart)
// and, before anything reads the record, start themselves again elevated when they must.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace appcommon {

struct ElevationSeams {
    // TRUE with *elevated set where the token answers TokenElevation; FALSE where the system knows no
    // elevation (XP) or the token cannot be asked.
    BOOL (*queryElevation)(BOOL* elevated);
    // The result of opening the settings key with KEY_WRITE (the key is closed again).
    LONG (*probeSettingsKey)();
    BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOW* info);
    DWORD(WINAPI* getModuleFileName)(HMODULE module, LPWSTR path, DWORD chars);
};
extern ElevationSeams g_elevationSeams;
ElevationSeams DefaultElevationSeams();

enum class ElevationStep {
    kGoOn,        // run here: elevated already, or the key is writable, missing, or not ours to judge
    kRelaunched,  // an elevated copy was started: end this process with 0
    kRefused,     // the prompt was declined or the copy could not start: show string 202, end with 0
};

struct ElevationResult {
    ElevationStep step;
    DWORD error;  // kRefused: why (ERROR_CANCELLED when the user declined)
};

// The string the caller shows for kRefused.
constexpr int kElevationRefusedString = 202;

// True when this process lacks the rights: its token is not elevated and the settings key refuses
// KEY_WRITE with ERROR_ACCESS_DENIED. A missing key (a fresh machine) is no reason, and an elevated
// process never qualifies, so the elevated copy cannot start another one.
bool NeedsElevation();

// Starts this program again elevated ("runas"), with the same arguments, when NeedsElevation().
ElevationResult ElevateIfNeeded(const wchar_t* arguments);

}  // namespace appcommon
