// A limited token as Vista and 7 give it to a program without elevation: HKLM opens for reading only.
// Wine's registry enforces no key rights, so the refusal is played through the elevation probe's
// registry seam; everything else goes to the real registry.
#pragma once

#include <windows.h>

namespace limitedtoken {

inline int g_writeOpens = 0;  // the opens for writing or creating that were refused

inline LONG WINAPI Open(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY key) {
    if (root == HKEY_LOCAL_MACHINE && (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))) {
        ++g_writeOpens;
        // A missing key is reported as missing whatever the rights, as Windows does.
        HKEY probe = nullptr;
        LONG r = RegOpenKeyExW(root, subKey, options, KEY_QUERY_VALUE, &probe);
        if (r != ERROR_SUCCESS) return r;
        RegCloseKey(probe);
        return ERROR_ACCESS_DENIED;
    }
    return RegOpenKeyExW(root, subKey, options, access, key);
}

}  // namespace limitedtoken
