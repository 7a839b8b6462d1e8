#include "portercore.h"

#include "corelib.h"

namespace porter {

namespace {
BOOL WINAPI RealLockWorkStation() { return ::LockWorkStation(); }
BOOL WINAPI RealExitWindowsEx(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason); }

// Constant-initialised (wrappers, not imported addresses), so that a test build may change it early.
constexpr Seams kBuiltIn = {RealLockWorkStation, RealExitWindowsEx, EnableShutdownPrivilege};

bool EqualsAsciiNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

DWORD LastErrorOr(DWORD fallback) {
    DWORD e = GetLastError();
    return e ? e : fallback;
}
}  // namespace

const Switch kSwitches[5] = {
    {"/LockWorkStation", Action::LockWorkStation, 0},
    {"/EWX_FORCE", Action::Force, EWX_FORCE},
    {"/EWX_LOGOFF", Action::Logoff, EWX_LOGOFF},
    {"/EWX_POWEROFF", Action::Poweroff, EWX_POWEROFF},
    {"/EWX_SHUTDOWN", Action::Shutdown, EWX_SHUTDOWN},
};

Seams g_seams = kBuiltIn;
Seams DefaultSeams() { return kBuiltIn; }

const Switch* SwitchFor(Action action) {
    for (const Switch& s : kSwitches)
        if (s.action == action) return &s;
    return nullptr;
}

Action ParseArguments(int argc, const char* const* argv) {
    Action chosen = Action::None;
    for (int i = 0; i < argc; ++i) {
        if (!argv[i]) continue;
        for (const Switch& s : kSwitches) {
            if (EqualsAsciiNoCase(argv[i], s.text)) {
                chosen = s.action;
                DEBUG_MSG("CMD %s", s.text);
                break;
            }
        }
    }
    return chosen;
}

BOOL EnableShutdownPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return FALSE;
    TOKEN_PRIVILEGES tp;
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL ok = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
              GetLastError() == ERROR_SUCCESS;  // ERROR_NOT_ALL_ASSIGNED: the token lacks it
    DWORD e = GetLastError();
    CloseHandle(token);
    SetLastError(e);
    return ok;
}

int Perform(Action action) {
    const Switch* s = SwitchFor(action);
    if (!s) return 0;
    if (action == Action::LockWorkStation) {
        if (g_seams.LockWorkStation()) return 0;
        return static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
    }
    // Without the privilege a shut-down or power-off is refused; a log-off does not need it, so a
    // failure here is traced and the request is still made.
    if (!g_seams.EnableShutdownPrivilege()) DEBUG_MSG("SeShutdownPrivilege %lu", GetLastError());
    if (g_seams.ExitWindowsEx(s->exitFlags, 0)) return 0;
    return static_cast<int>(LastErrorOr(ERROR_GEN_FAILURE));
}

int PorterMain(int argc, const char* const* argv) {
    DEBUG_MSG_B("Porter");
    Action action = ParseArguments(argc, argv);
    int code = Perform(action);
    DEBUG_MSG_E("Porter");
    return code;
}

}  // namespace porter
