// The security descriptor of the system's named objects (the lock-record mapping, the alert event):
// SYSTEM and Administrators with all access, nothing for anybody else, no inherited entries.
// Header-only so that deliverables linking Corelib by import build the very same descriptor.
#pragma once

#include <windows.h>
#include <sddl.h>

#include "corelib.h"

namespace corelib {

// A self-relative descriptor from CORELIB_OBJECT_SDDL; the caller frees it with LocalFree.
// NULL when it cannot be built (GetLastError tells why): callers then fail rather than fall back
// to an open DACL.
inline PSECURITY_DESCRIPTOR NewObjectSecurityDescriptor() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(CORELIB_OBJECT_SDDL, SDDL_REVISION_1, &sd, nullptr))
        return nullptr;
    return sd;
}

}  // namespace corelib
