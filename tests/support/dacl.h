// Reading a DACL back from a registry key or a kernel object, in the form a test compares: parsed
// entries rather than a descriptor assumed from the code that set it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ts {

struct AceEntry {
    BYTE type = 0;   // ACCESS_ALLOWED_ACE_TYPE, ...
    BYTE flags = 0;  // OBJECT_INHERIT_ACE, INHERIT_ONLY_ACE, ...
    ACCESS_MASK mask = 0;
    std::string sid;  // "S-1-5-18"
    // Grants all of `all` (or GENERIC_ALL) to the object itself, not only to its children.
    bool GrantsAll(ACCESS_MASK all) const {
        return type == ACCESS_ALLOWED_ACE_TYPE && !(flags & INHERIT_ONLY_ACE) &&
               ((mask & all) == all || (mask & GENERIC_ALL));
    }
};

struct DaclView {
    bool read = false;  // the descriptor could be read at all
    std::string error;  // why not
    bool present = false;      // SE_DACL_PRESENT
    bool nullDacl = false;     // present but NULL: everybody has every right
    bool isProtected = false;  // SE_DACL_PROTECTED: nothing inherited
    std::vector<AceEntry> aces;
    std::wstring sddl;  // the DACL as SDDL text ("D:P(A;...)")
    std::vector<std::string> Sids() const;
};

// The key's DACL, opened with READ_CONTROL.
DaclView ReadKeyDacl(HKEY root, const std::wstring& path);
// A kernel object's DACL (event, mapping, ...); the handle needs READ_CONTROL.
DaclView ReadObjectDacl(HANDLE object);

}  // namespace ts
