// The test build of Warden.exe: the program's start-up and core with the seams that a Wine prefix
// cannot survive replaced by loggers. Beside the program, "seams.log" receives one UTF-8 line per
// seamed call; "answers.txt" answers the boxes one id a line (none left: IDOK); "unelevated.txt" plays a
// process with a limited token whose elevation prompt is declined. ExitWindowsEx and
// the shut-down dialog are only logged: run for real they would end the prefix. The tray icon's calls
// are logged and made.
#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "elevation.h"
#include "limitedtoken.h"
#include "panelhost.h"
#include "seams.h"
#include "wardenmain.h"
#include "testsupport.h"
#include "wardentest.h"

namespace wardentest {

void Log(const std::wstring& line) { ts::AppendFileBytes(ts::InExeDir(L"seams.log"), ts::Narrow(line + L"\n")); }

}  // namespace wardentest

namespace {

using wardentest::Log;

std::wstring Text(const wchar_t* s) { return s ? s : L"(null)"; }

int ScriptedBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    static std::vector<int> answers;
    static size_t next = 0;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        const std::string bytes = ts::ReadFileBytes(ts::InExeDir(L"answers.txt"));
        for (const char* p = bytes.c_str(); *p;) {
            char* end = nullptr;
            long v = strtol(p, &end, 10);
            if (end == p) break;
            answers.push_back(static_cast<int>(v));
            p = end;
            while (*p == '\r' || *p == '\n' || *p == ' ') ++p;
        }
    }
    wchar_t head[32];
    wsprintfW(head, L"box %u ", type);
    Log(head + Text(caption) + L" " + Text(text));
    return next < answers.size() ? answers[next++] : IDOK;
}

HINSTANCE WINAPI LoggedShellExecute(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT show) {
    wchar_t tail[32];
    wsprintfW(tail, L" %d", show);
    Log(L"shell " + Text(verb) + L" " + Text(file) + L" " + Text(parameters) + tail);
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}
BOOL WINAPI LoggedLock() {
    Log(L"lock");
    return TRUE;
}
BOOL WINAPI LoggedExitWindows(UINT flags, DWORD reason) {
    wchar_t line[64];
    wsprintfW(line, L"exitwindows %u %lu", flags, reason);
    Log(line);
    return TRUE;
}
void LoggedShutdownDialog() { Log(L"shutdowndialog"); }
// The tray icon goes to the shell for real; the log shows what a balloon said, which no window shows.
BOOL WINAPI LoggedNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
    wchar_t head[48];
    wsprintfW(head, L"tray %lu %u ", message, data->uFlags);
    std::wstring info;
    if (data->uFlags & NIF_INFO) info = std::wstring(data->szInfoTitle) + L" " + data->szInfo;
    Log(head + info);
    return Shell_NotifyIconW(message, data);
}

// "unelevated.txt" beside the program: a limited token, which may not write HKLM (Wine's registry
// lets everybody), and a declined elevation prompt.
BOOL NotElevated(BOOL* elevated) {
    *elevated = FALSE;
    return TRUE;
}
BOOL WINAPI DeclinedRunas(SHELLEXECUTEINFOW* info) {
    Log(L"runas " + Text(info->lpVerb) + L" " + Text(info->lpParameters));
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    // Installed here, before start-up runs: no order of static initialisers decides it.
    warden::g_seams.shellExecute = LoggedShellExecute;
    warden::g_seams.lockWorkStation = LoggedLock;
    warden::g_seams.exitWindowsEx = LoggedExitWindows;
    warden::g_seams.shutdownDialog = LoggedShutdownDialog;
    warden::g_seams.shellNotifyIcon = LoggedNotifyIcon;
    warden::g_panelBox = ScriptedBox;
    wardentest::InstallDrives();
    if (GetFileAttributesW(ts::InExeDir(L"unelevated.txt").c_str()) != INVALID_FILE_ATTRIBUTES) {
        appcommon::g_elevationSeams.queryElevation = NotElevated;
        appcommon::g_elevationSeams.regOpenKeyEx = limitedtoken::Open;
        appcommon::g_elevationSeams.shellExecuteEx = DeclinedRunas;
    }
    Log(L"start " + Text(commandLine));
    const int code = warden::WardenMain(commandLine);
    wchar_t line[32];
    wsprintfW(line, L"exit %d", code);
    Log(line);
    return code;
}
