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
    // Whether this process may write the settings key, or create it where it is missing, without
    // creating anything: ERROR_SUCCESS when it may, ERROR_ACCESS_DENIED when it may not, else the
    // error that stopped the probe.
    LONG (*probeSettingsKey)();
    BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOW* info);
    DWORD(WINAPI* getModuleFileName)(HMODULE module, LPWSTR path, DWORD chars);
    // The registry opens the built-in probe makes (null: RegOpenKeyExW). A test plays a limited
    // token here, which Wine cannot: its registry enforces no key rights.
    LONG(WINAPI* regOpenKeyEx)(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY key);
};
extern ElevationSeams g_elevationSeams;
ElevationSeams DefaultElevationSeams();

enum class ElevationStep {
    kGoOn,        // run here: elevated already, XP, the key writable or creatable, or not ours to judge
    kRelaunched,  // an elevated copy was started: end this process with 0
    kRefused,     // the prompt was declined or the copy could not start: show string 202, end with 0
};

struct ElevationResult {
    ElevationStep step;
    DWORD error;  // kRefused: why (ERROR_CANCELLED when the user declined)
};

// The string the caller shows for kRefused.
constexpr int kElevationRefusedString = 202;

// True when this process lacks the rights: its token is not elevated and it can neither write the
// settings key nor, on a fresh machine where the key is missing, create it. An elevated process
// never qualifies, so the elevated copy cannot start another one; nor does XP, which knows no
// elevation.
bool NeedsElevation();

// True when this process runs with a token that elevation would raise: not elevated, on a system that
// knows elevation. An elevated copy answers false, so it never starts another.
bool CanBeElevated();

// Starts this program again elevated ("runas"), with the same arguments, when NeedsElevation().
ElevationResult ElevateIfNeeded(const wchar_t* arguments);

// Starts this program again elevated ("runas") with the given arguments, whatever the rights: for a
// caller that judged the rights by a probe of its own. kRelaunched or kRefused.
ElevationResult RelaunchElevated(const wchar_t* arguments);

}  // namespace appcommon
