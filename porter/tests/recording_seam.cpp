// Test build of Porter: appends one UTF-8 line to "PorterCalls.txt" beside it, its command line and,
// after a tab, the desktop it was started on; it performs no session action, so that it can run in the
// test prefix with any switch. Its lock is reported the way Windows reports one (WTS_SESSION_LOCK for
// this session to the watching window), so it exits 0. With "PorterFails.txt" beside it the lock call
// fails; with "PorterUnconfirmed.txt" the call succeeds but no lock is reported (a UAC prompt was up),
// which Porter gives up on after 300 ms. With "PorterSlow.txt" beside it (holding a number of
// milliseconds), its lock takes that long, as a slow machine's would.
#include <windows.h>

#include <stdlib.h>

#include <string>

#include "portercore.h"

namespace {

DWORD g_lockMs = 0;

// Windows' answer to a lock that took: the notice to the window registered for this session's.
BOOL WINAPI ReportedLock() {
    if (g_lockMs) Sleep(g_lockMs);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    HWND watch = FindWindowExW(HWND_MESSAGE, nullptr, porter::kSessionWatchClass, nullptr);
    if (watch) PostMessageW(watch, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, static_cast<LPARAM>(session));
    return TRUE;
}
BOOL WINAPI UnreportedLock() {
    if (g_lockMs) Sleep(g_lockMs);
    return TRUE;
}
BOOL WINAPI FailedLock() {
    if (g_lockMs) Sleep(g_lockMs);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
BOOL WINAPI NoExit(UINT, DWORD) { return TRUE; }
BOOL NoPrivilege() { return TRUE; }
BOOL WINAPI Registered(HWND, DWORD) { return TRUE; }
BOOL WINAPI Unregistered(HWND) { return TRUE; }

// The path of a file beside this program; false when it does not fit.
bool Beside(const wchar_t* name, wchar_t (&path)[MAX_PATH]) {
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash || (slash - path) + 1 + wcslen(name) >= MAX_PATH) return false;
    wcscpy(slash + 1, name);
    return true;
}

void RecordCommandLine() {
    wchar_t path[MAX_PATH];
    if (!Beside(L"PorterCalls.txt", path)) return;

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    GetStartupInfoW(&si);
    std::wstring text = GetCommandLineW();
    text += L"\t";
    if (si.lpDesktop) text += si.lpDesktop;
    int len = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string line(len > 0 ? static_cast<size_t>(len) : 1, '\0');
    if (len > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &line[0], len, nullptr, nullptr);
    line.back() = '\n';

    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
}

struct Install {
    Install() {
        wchar_t fails[MAX_PATH];
        bool lockFails = Beside(L"PorterFails.txt", fails) && GetFileAttributesW(fails) != INVALID_FILE_ATTRIBUTES;
        wchar_t unconfirmed[MAX_PATH];
        bool unreported = Beside(L"PorterUnconfirmed.txt", unconfirmed) &&
                          GetFileAttributesW(unconfirmed) != INVALID_FILE_ATTRIBUTES;
        wchar_t slow[MAX_PATH];
        if (Beside(L"PorterSlow.txt", slow)) {
            HANDLE f = CreateFileW(slow, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            if (f != INVALID_HANDLE_VALUE) {
                char text[16] = {};
                DWORD got = 0;
                if (ReadFile(f, text, sizeof(text) - 1, &got, nullptr)) g_lockMs = strtoul(text, nullptr, 10);
                CloseHandle(f);
            }
        }
        porter::g_seams.LockWorkStation = lockFails ? FailedLock : unreported ? UnreportedLock : ReportedLock;
        // Wine sends no session notices; the lock above reports its own.
        porter::g_seams.RegisterSessionNotification = Registered;
        porter::g_seams.UnRegisterSessionNotification = Unregistered;
        porter::g_seams.lockConfirmMs = 300;
        porter::g_seams.ExitWindowsEx = NoExit;
        porter::g_seams.EnableShutdownPrivilege = NoPrivilege;
        RecordCommandLine();
    }
} g_install;

}  // namespace
