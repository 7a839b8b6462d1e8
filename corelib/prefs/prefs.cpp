#include "prefs.h"

namespace prefs {

void Read(const wchar_t* iniPath, const wchar_t* section, const wchar_t* key, const wchar_t* def,
          wchar_t* out, DWORD cch) {
    if (!out || cch == 0) return;
    out[0] = 0;
    if (!iniPath || !*iniPath) {
        lstrcpynW(out, def ? def : L"", static_cast<int>(cch));
        return;
    }
    GetPrivateProfileStringW(section, key, def ? def : L"", out, cch, iniPath);
    out[cch - 1] = 0;
}

static bool CreateUnicodeFile(const wchar_t* iniPath) {
    // CREATE_NEW: never truncate a file another program made meanwhile.
    HANDLE h = CreateFileW(iniPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
    static const BYTE bom[2] = {0xFF, 0xFE};
    DWORD written = 0;
    BOOL ok = WriteFile(h, bom, sizeof(bom), &written, nullptr) && written == sizeof(bom);
    CloseHandle(h);
    if (!ok) DeleteFileW(iniPath);
    return ok != FALSE;
}

bool Write(const wchar_t* iniPath, const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    if (!iniPath || !*iniPath) return false;
    if (GetFileAttributesW(iniPath) == INVALID_FILE_ATTRIBUTES && !CreateUnicodeFile(iniPath)) return false;
    return WritePrivateProfileStringW(section, key, value, iniPath) != FALSE;
}

}  // namespace prefs
