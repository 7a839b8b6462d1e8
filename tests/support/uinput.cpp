#include "uinput.h"

#include <stdio.h>

#include <string>

#include "services.h"
#include "uikit.h"

namespace ts {

void SendKey(WORD vk, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof(in));
}

void SendMouse(DWORD flags, POINT p) {
    SetCursorPos(p.x, p.y);
    // The position also travels with the event itself, so that it cannot land where the cursor was
    // before the move took effect. Normalised so that it maps back to exactly this pixel.
    const LONG w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = w > 0 ? (p.x * 65536 + w - 1) / w : 0;
    in.mi.dy = h > 0 ? (p.y * 65536 + h - 1) / h : 0;
    in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof(in));
}

bool WaitForeground(HWND window, DWORD timeoutMs) {
    return WaitFor([window] { return GetForegroundWindow() == window; }, timeoutMs);
}

void ClickControl(HWND dlg, int id) {
    WaitForeground(dlg);
    RECT r = {};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    SendMouse(MOUSEEVENTF_LEFTDOWN, p);
    Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTUP, p);
}

namespace {

// Wine's own path mapping (kernel32 exports of Wine only); empty outside Wine.
std::wstring DosPathOf(const char* unixPath) {
    typedef WCHAR*(CDECL * ToDos)(const char*);
    ToDos f = (ToDos)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name");
    WCHAR* p = f ? f(unixPath) : nullptr;
    std::wstring out = p ? p : L"";
    if (p) HeapFree(GetProcessHeap(), 0, p);
    return out;
}

std::string UnixPathOf(const std::wstring& dosPath) {
    typedef char*(CDECL * ToUnix)(const WCHAR*);
    ToUnix f = (ToUnix)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    char* p = f ? f(dosPath.c_str()) : nullptr;
    std::string out = p ? p : "";
    if (p) HeapFree(GetProcessHeap(), 0, p);
    return out;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

bool XPointerAvailable() {
    static int known = -1;
    if (known < 0) {
        wchar_t display[64] = {};
        known = GetEnvironmentVariableW(L"DISPLAY", display, 64) > 0 && !DosPathOf("/bin/sh").empty() &&
                FileExists(DosPathOf("/usr/bin/xdotool")) && RunXdotool("getmouselocation");
    }
    return known == 1;
}

bool RunXdotool(const char* args, DWORD timeoutMs) {
    static LONG serial = 0;
    const std::wstring sh = DosPathOf("/bin/sh");
    if (sh.empty() || !args) return false;
    // A Unix child gives Wine no process handle to wait on: it leaves its exit code in a file,
    // written under a temporary name and renamed, so that a file that exists is complete.
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    wchar_t name[64];
    swprintf(name, 64, L"xdotool-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&serial));
    const std::wstring done = std::wstring(dir) + name;
    const std::string unixDone = UnixPathOf(done);
    if (unixDone.empty() || unixDone.find('\'') != std::string::npos) return false;
    DeleteFileW(done.c_str());
    const std::string script = "xdotool " + std::string(args) + " >/dev/null 2>&1; echo $? >'" + unixDone +
                               ".part' && mv '" + unixDone + ".part' '" + unixDone + "'";
    if (script.find('"') != std::string::npos) return false;
    std::wstring cmd = L"/bin/sh -c \"";
    for (char c : script) cmd += (wchar_t)(unsigned char)c;
    cmd += L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(sh.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    if (pi.hThread) CloseHandle(pi.hThread);
    if (pi.hProcess) CloseHandle(pi.hProcess);
    const bool finished = PumpUntil([&] { return FileExists(done); }, timeoutMs);
    int code = -1;
    if (finished) {
        FILE* f = _wfopen(done.c_str(), L"r");
        if (f) {
            if (fscanf(f, "%d", &code) != 1) code = -1;
            fclose(f);
        }
        DeleteFileW(done.c_str());
    }
    return finished && code == 0;
}

bool XMoveTo(POINT p) {
    // xdotool's --sync waits for a motion event, and a move to where the pointer is makes none.
    POINT at = {};
    if (GetCursorPos(&at) && at.x == p.x && at.y == p.y) return true;
    char args[64];
    snprintf(args, sizeof(args), "mousemove --sync %ld %ld", (long)p.x, (long)p.y);
    if (!RunXdotool(args)) return false;
    return PumpUntil(
        [p] {
            POINT now = {};
            return GetCursorPos(&now) && now.x == p.x && now.y == p.y;
        },
        3000);
}

bool XButton(bool down) { return RunXdotool(down ? "mousedown 1" : "mouseup 1"); }

bool XClickAt(POINT p) { return XMoveTo(p) && XButton(true) && XButton(false); }

POINT ScreenPointOf(HWND window, POINT client) {
    ClientToScreen(window, &client);
    return client;
}

}  // namespace ts
