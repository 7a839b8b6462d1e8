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

// Writes the UTF-16 LE byte-order mark into a new or still empty file: the profile API then keeps
// the file in UTF-16, so Chinese values survive whatever the writer's or reader's ANSI code page.
static bool WriteByteOrderMark(const wchar_t* iniPath, DWORD disposition) {
    // No sharing while the mark goes in: nobody may write ANSI text into the file meanwhile.
    HANDLE h = CreateFileW(iniPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Made or held by another program just now: its content, if any, keeps its encoding,
        // and the profile API reports whether the write itself goes through.
        DWORD e = GetLastError();
        return disposition == OPEN_EXISTING || e == ERROR_FILE_EXISTS;
    }
    bool ok = true;
    LARGE_INTEGER size = {};
    // Only a file with no content at all gets the mark; text written meanwhile stays untouched.
    if (GetFileSizeEx(h, &size) && size.QuadPart == 0) {
        static const BYTE bom[2] = {0xFF, 0xFE};
        DWORD written = 0;
        ok = WriteFile(h, bom, sizeof(bom), &written, nullptr) && written == sizeof(bom);
    }
    CloseHandle(h);
    if (!ok && disposition == CREATE_NEW) DeleteFileW(iniPath);
    return ok;
}

bool Write(const wchar_t* iniPath, const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    if (!iniPath || !*iniPath) return false;
    WIN32_FILE_ATTRIBUTE_DATA fa;
    if (GetFileAttributesExW(iniPath, GetFileExInfoStandard, &fa)) {
        // An empty file holds nothing to lose (readers see the defaults either way).
        if (fa.nFileSizeHigh == 0 && fa.nFileSizeLow == 0 && !(fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !WriteByteOrderMark(iniPath, OPEN_EXISTING))
            return false;
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        // CREATE_NEW: never truncate a file another program made meanwhile.
        if (!WriteByteOrderMark(iniPath, CREATE_NEW)) return false;
    } else {
        return false;  // e.g. the folder is missing: nothing is created
    }
    return WritePrivateProfileStringW(section, key, value, iniPath) != FALSE;
}

}  // namespace prefs
