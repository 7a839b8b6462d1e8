#include "elevation.h"

#include <wchar.h>

#include "corelib.h"

namespace appcommon {

namespace {

BOOL QueryTokenElevation(BOOL* elevated) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return FALSE;
    TOKEN_ELEVATION info = {};
    DWORD size = 0;
    // XP has no such class and refuses the query: nothing there can be elevated.
    BOOL known = GetTokenInformation(token, TokenElevation, &info, sizeof(info), &size);
    CloseHandle(token);
    if (!known) return FALSE;
    *elevated = info.TokenIsElevated != 0;
    return TRUE;
}

LONG ProbeSettingsKey();

const ElevationSeams kBuiltIn = {
    QueryTokenElevation,
    ProbeSettingsKey,
    ShellExecuteExW,
    GetModuleFileNameW,
    RegOpenKeyExW,
};

}  // namespace

ElevationSeams DefaultElevationSeams() { return kBuiltIn; }
ElevationSeams g_elevationSeams = kBuiltIn;

namespace {

// The key itself for writing; where it is missing, its nearest existing ancestor for creating a
// subkey, which is what creating the key takes. Opens only: a probe that created the key would
// leave it with the rights of whoever ran first.
LONG ProbeSettingsKey() {
    auto open = g_elevationSeams.regOpenKeyEx ? g_elevationSeams.regOpenKeyEx : RegOpenKeyExW;
    wchar_t path[] = CORELIB_SETTINGS_KEY;
    REGSAM access = KEY_WRITE;
    for (;;) {
        HKEY key = nullptr;
        LONG r = open(HKEY_LOCAL_MACHINE, path, 0, access, &key);
        if (r == ERROR_SUCCESS) {
            RegCloseKey(key);
            return ERROR_SUCCESS;
        }
        if (r != ERROR_FILE_NOT_FOUND) return r;
        wchar_t* cut = wcsrchr(path, L'\\');
        if (!cut) return r;  // not even SOFTWARE: nothing to judge by
        *cut = 0;
        access = KEY_CREATE_SUB_KEY;
    }
}

}  // namespace

bool CanBeElevated() {
    BOOL elevated = FALSE;
    // Without an answer about elevation a restart could not know it is the elevated copy: never.
    return g_elevationSeams.queryElevation(&elevated) && !elevated;
}

bool NeedsElevation() {
    return CanBeElevated() && g_elevationSeams.probeSettingsKey() == ERROR_ACCESS_DENIED;
}

ElevationResult ElevateIfNeeded(const wchar_t* arguments) {
    if (!NeedsElevation()) return {ElevationStep::kGoOn, 0};
    return RelaunchElevated(arguments);
}

ElevationResult RelaunchElevated(const wchar_t* arguments) {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD n = g_elevationSeams.getModuleFileName(nullptr, path, MAX_PATH + 1);
    // A cut path would start another program elevated.
    if (n == 0 || n > MAX_PATH) return {ElevationStep::kRefused, n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE};
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = path;
    info.lpParameters = arguments && *arguments ? arguments : nullptr;
    info.nShow = SW_SHOWNORMAL;
    SetLastError(0);
    if (g_elevationSeams.shellExecuteEx(&info)) return {ElevationStep::kRelaunched, 0};
    DWORD e = GetLastError();
    return {ElevationStep::kRefused, e ? e : ERROR_CANCELLED};
}

}  // namespace appcommon
