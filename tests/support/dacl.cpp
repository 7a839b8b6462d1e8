#include "dacl.h"

#include <aclapi.h>
#include <sddl.h>

namespace ts {

namespace {

DaclView Parse(PSECURITY_DESCRIPTOR sd) {
    DaclView v;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorControl(sd, &control, &revision) ||
        !GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) {
        v.error = "the descriptor cannot be parsed, error " + std::to_string(GetLastError());
        return v;
    }
    v.read = true;
    v.present = (control & SE_DACL_PRESENT) != 0 && present;
    v.nullDacl = v.present && !dacl;
    v.isProtected = (control & SE_DACL_PROTECTED) != 0;
    if (dacl) {
        ACL_SIZE_INFORMATION info = {};
        if (!GetAclInformation(dacl, &info, sizeof(info), AclSizeInformation)) {
            v.read = false;
            v.error = "the ACL cannot be read";
            return v;
        }
        for (DWORD i = 0; i < info.AceCount; ++i) {
            ACE_HEADER* h = nullptr;
            if (!GetAce(dacl, i, reinterpret_cast<void**>(&h))) {
                v.read = false;
                v.error = "ACE " + std::to_string(i) + " cannot be read";
                return v;
            }
            AceEntry e;
            e.type = h->AceType;
            e.flags = h->AceFlags;
            if (h->AceType == ACCESS_ALLOWED_ACE_TYPE || h->AceType == ACCESS_DENIED_ACE_TYPE) {
                // Allowed and denied entries share their layout.
                auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(h);
                e.mask = ace->Mask;
                wchar_t* text = nullptr;
                if (ConvertSidToStringSidW(&ace->SidStart, &text)) {
                    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
                    std::string sid(n > 0 ? n - 1 : 0, '\0');
                    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &sid[0], n, nullptr, nullptr);
                    e.sid = sid;
                    LocalFree(text);
                }
            }
            v.aces.push_back(e);
        }
    }
    wchar_t* text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             nullptr)) {
        v.sddl = text;
        LocalFree(text);
    }
    return v;
}

}  // namespace

std::vector<std::string> DaclView::Sids() const {
    std::vector<std::string> out;
    for (const AceEntry& e : aces) out.push_back(e.sid);
    return out;
}

DaclView ReadKeyDacl(HKEY root, const std::wstring& path) {
    DaclView v;
    HKEY k;
    LONG r = RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL, &k);
    if (r != ERROR_SUCCESS) {
        v.error = "the key cannot be opened, error " + std::to_string(r);
        return v;
    }
    DWORD size = 0;
    RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> sd(size ? size : 1);
    r = RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, sd.data(), &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS) {
        v.error = "the key's security cannot be read, error " + std::to_string(r);
        return v;
    }
    return Parse(sd.data());
}

DaclView ReadObjectDacl(HANDLE object) {
    DaclView v;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD r = GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              &sd);
    if (r != ERROR_SUCCESS) {
        v.error = "the object's security cannot be read, error " + std::to_string(r);
        return v;
    }
    v = Parse(sd);
    LocalFree(sd);
    return v;
}

}  // namespace ts
