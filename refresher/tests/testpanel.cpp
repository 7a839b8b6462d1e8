// A stand-in for the control panel's main window, started by the update tests.
// testpanel <mode> <event prefix>: mode "panel" (property set, quits on 40010), "stubborn"
// (property set, ignores 40010), "plain" (same title, no property). It signals "<prefix>.ready" once
// the window exists, "<prefix>.quit" when 40010 arrives and "<prefix>.pong" for each ping (WM_APP+7).
// Copied as Warden.exe and started by the updater with "regrun", it records the start in
// "panel starts.txt" beside itself and runs as "panel", signalling nothing.
#include <windows.h>

#include <string>

#include "runningpanel.h"

namespace {
std::wstring g_mode, g_prefix;

void Signal(const wchar_t* suffix) {
    HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, (g_prefix + suffix).c_str());
    if (e) {
        SetEvent(e);
        CloseHandle(e);
    }
}

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == 40010) {
        Signal(L".quit");
        if (g_mode == L"panel") PostQuitMessage(0);
        return 0;
    }
    if (message == WM_APP + 7) {
        Signal(L".pong");
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RecordStart(const wchar_t* arguments) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    std::wstring record(path, n);
    record = record.substr(0, record.rfind(L'\\') + 1) + L"panel starts.txt";
    HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char line[64];
    int length = WideCharToMultiByte(CP_UTF8, 0, arguments, -1, line, sizeof(line) - 1, nullptr, nullptr);
    if (length > 0) {
        line[length - 1] = '\n';
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    }
    CloseHandle(file);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2) {
        RecordStart(argv[1]);
        g_mode = L"panel";
    } else if (argc >= 3) {
        g_mode = argv[1];
        g_prefix = argv[2];
    } else {
        return 2;
    }
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RefresherTestPanel";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, wc.lpszClassName, TOLVEN_PANEL_TITLE, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                             nullptr, wc.hInstance, nullptr);
    if (!w) return 3;
    if (g_mode != L"plain") SetPropW(w, TOLVEN_PANEL_TITLE, reinterpret_cast<HANDLE>(1));
    Signal(L".ready");
    // Never outlives a test that forgot it.
    SetTimer(w, 1, 60000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) break;
        DispatchMessageW(&msg);
    }
    RemovePropW(w, TOLVEN_PANEL_TITLE);
    DestroyWindow(w);
    return msg.message == WM_TIMER ? 5 : 0;
}
