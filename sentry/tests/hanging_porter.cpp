// Test build of Porter that never locks and never ends by itself: a Porter hung in its call, or
// suspended by the user whose token it runs under. It appends its process id to "PorterPids.txt"
// beside it and then waits; it gives up after two minutes so that a service which never ends it
// cannot leave it behind for good.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

int main() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* slash = n && n < MAX_PATH ? wcsrchr(path, L'\\') : nullptr;
    if (slash && (slash - path) + 16 < MAX_PATH) {
        wcscpy(slash + 1, L"PorterPids.txt");
        HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                               nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            char line[32];
            int len = snprintf(line, sizeof(line), "%lu\n", GetCurrentProcessId());
            DWORD written = 0;
            WriteFile(f, line, static_cast<DWORD>(len), &written, nullptr);
            CloseHandle(f);
        }
    }
    Sleep(120000);
    return 0;
}
