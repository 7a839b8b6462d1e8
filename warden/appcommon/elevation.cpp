#include "elevation.h"

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

LONG ProbeSettingsKey() {
    HKEY key = nullptr;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, 0, KEY_WRITE, &key);
    if (r == ERROR_SUCCESS) RegCloseKey(key);
    return r;
}

const ElevationSeams kBuiltIn = {
    QueryTokenElevation,
    ProbeSettingsKey,
    ShellExecuteExW,
    GetModuleFileNameW,
};

}  // namespace

ElevationSeams DefaultElevationSeams() { return kBuiltIn; }
ElevationSeams g_elevationSeams = kBuiltIn;

bool NeedsElevation() {
    BOOL elevated = FALSE;
    // Without an answer about elevation a restart could not know it is the elevated copy: never.
    if (!g_elevationSeams.queryElevation(&elevated) || elevated) return false;
    return g_elevationSeams.probeSettingsKey() == ERROR_ACCESS_DENIED;
}

ElevationResult ElevateIfNeeded(const wchar_t* arguments) {
    if (!NeedsElevation()) return {ElevationStep::kGoOn, 0};
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
