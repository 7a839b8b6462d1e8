// Starting Porter in the active console session: the service runs in session 0 as LocalSystem and
// cannot lock the user's desktop itself.
#include "sentrycore.h"

#include <userenv.h>
#include <wchar.h>
#include <wtsapi32.h>

namespace sentry {

namespace {
// Porter's full path: this program's folder plus "\Porter.exe"; false when it would not fit 260 characters.
bool PorterPath(wchar_t (&path)[MAX_PATH]) {
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        if (n >= MAX_PATH) SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash) {
        SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    *slash = 0;
    if (wcslen(path) + wcslen(kPorterFile) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    wcscat(path, kPorterFile);
    return true;
}
}  // namespace

BOOL PorterService(const wchar_t* porterSwitch) {
    DEBUG_MSG_B("PorterService");
    HANDLE userToken = nullptr, primary = nullptr;
    void* environment = nullptr;
    BOOL ok = FALSE;
    DWORD error = 0;
    do {
        DWORD session = WTSGetActiveConsoleSessionId();
        if (session == 0xFFFFFFFF) {
            error = ERROR_NO_SUCH_LOGON_SESSION;
            break;
        }
        NoteLockedSession(session);
        if (!WTSQueryUserToken(session, &userToken)) {
            error = GetLastError();
            break;
        }
        if (!DuplicateTokenEx(userToken, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary,
                              &primary)) {
            error = GetLastError();
            break;
        }
        if (!CreateEnvironmentBlock(&environment, primary, FALSE)) {
            error = GetLastError();
            environment = nullptr;
            break;
        }
        wchar_t path[MAX_PATH];
        if (!PorterPath(path)) {
            error = GetLastError();
            break;
        }
        DEBUG_MSG("%s %s", Gbk(path).c_str(), Gbk(porterSwitch).c_str());

        // The switch is the whole command line, so Porter sees it as its first argument; the call may
        // write into it.
        wchar_t commandLine[64];
        if (!porterSwitch || wcslen(porterSwitch) >= 64) {
            error = ERROR_INVALID_PARAMETER;
            break;
        }
        wcscpy(commandLine, porterSwitch);
        wchar_t desktop[] = L"winsta0\\default";  // the interactive desktop, which Porter is to lock
        STARTUPINFOW si;
        ZeroMemory(&si, sizeof(si));
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        si.wShowWindow = SW_HIDE;
        si.lpDesktop = desktop;
        PROCESS_INFORMATION pi;
        ZeroMemory(&pi, sizeof(pi));
        if (!CreateProcessAsUserW(primary, path, commandLine, nullptr, nullptr, FALSE,
                                  CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT,
                                  environment, nullptr, &si, &pi)) {
            error = GetLastError();
            break;
        }
        CloseHandle(pi.hThread);
        // Porter exits at once with its action's result; a failed lock must not leave us waiting for an
        // unlock. One still running at the bound may never lock (hung, or suspended by the user whose
        // token it has): that is a failed lock too, or the wait after it would turn the lock off. The
        // stop request is watched as well, so that a stop need not wait for the bound.
        HANDLE waits[2] = {pi.hProcess, StopRequestEvent()};
        DWORD count = waits[1] ? 2 : 1;
        DWORD woke = WaitForMultipleObjects(count, waits, FALSE, g_seams.porterWaitMs);
        DWORD exitCode = 0;
        if (woke == WAIT_OBJECT_0) {
            if (!GetExitCodeProcess(pi.hProcess, &exitCode)) {
                error = GetLastError();
            } else if (exitCode != 0) {
                error = exitCode;
                DEBUG_MSG("Porter exit code %lu", exitCode);
            } else {
                ok = TRUE;
            }
        } else {
            error = woke == WAIT_TIMEOUT ? ERROR_TIMEOUT
                    : woke == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED
                                                : GetLastError();
            if (!TerminateProcess(pi.hProcess, ERROR_TIMEOUT)) {
                DWORD e = GetLastError();
                Log(L"Porter 未在 %lu 毫秒内结束，且无法终止，错误 %lu", g_seams.porterWaitMs, e);
            } else {
                WaitForSingleObject(pi.hProcess, 1000);
                if (woke == WAIT_TIMEOUT) Log(L"Porter 未在 %lu 毫秒内结束，已终止。", g_seams.porterWaitMs);
            }
        }
        CloseHandle(pi.hProcess);
    } while (false);

    if (!ok) DEBUG_MSG("CreateProcessAsUser GetLastError%d", static_cast<int>(error));
    if (environment) DestroyEnvironmentBlock(environment);
    if (primary) CloseHandle(primary);
    if (userToken) CloseHandle(userToken);
    DEBUG_MSG_E("PorterService");
    // The caller logs the failure with this code.
    SetLastError(ok ? ERROR_SUCCESS : error);
    return ok;
}

}  // namespace sentry
