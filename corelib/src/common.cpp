#include "internal.h"

#include <wchar.h>

namespace corelib {

Seams g_seams = {
    ::GetVolumeNameForVolumeMountPointW,
    ::RegisterDeviceNotificationW,
    ::LsaStorePrivateData,
    ::VerifyUserInfo,
};

namespace {
HMODULE g_module = nullptr;

int ComputeOsClass() {
    OSVERSIONINFOEXW vi = {};
    vi.dwOSVersionInfoSize = sizeof(vi);  // 284 bytes: the extended structure
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&vi))) return 0;
    if (vi.dwMajorVersion == 5) {
        if (vi.dwMinorVersion == 0) return 1;
        if (vi.dwMinorVersion == 1) return 2;
        return 3;
    }
    if (vi.dwMajorVersion == 6) {
        if (vi.wProductType != VER_NT_WORKSTATION) return 5;
        return vi.dwMinorVersion == 0 ? 4 : 6;
    }
    return vi.dwMajorVersion > 6 ? 6 : 0;
}
}  // namespace

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "extended version structure");

int OsClass() {
    // Benign race: every thread computes the same value.
    static volatile LONG cached = -1;
    LONG c = cached;
    if (c < 0) {
        c = ComputeOsClass();
        InterlockedExchange(&cached, c);
    }
    return static_cast<int>(c);
}

HMODULE ModuleHandle() {
    if (g_module) return g_module;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleHandle), &self);
    return self;
}

void SetModuleHandle(HMODULE module) { g_module = module; }

bool CopyWhole(wchar_t* dst, size_t cch, const wchar_t* src) {
    if (!dst || cch == 0) return false;
    dst[0] = 0;
    if (!src) return false;
    size_t n = wcsnlen(src, cch);
    if (n >= cch) return false;
    wmemcpy(dst, src, n + 1);
    return true;
}

size_t FieldLength(const wchar_t* field, size_t cch) { return field ? wcsnlen(field, cch) : 0; }

}  // namespace corelib
