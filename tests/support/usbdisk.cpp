#include "usbdisk.h"

#include <dbt.h>
#include <shlwapi.h>
#include <stddef.h>

#include <vector>

#include "testsupport.h"

namespace ts {

const wchar_t kVolumeInterfaceClass[] = L"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kDiskInterfaceClass[] = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

namespace {

const wchar_t kEnumRoot[] = L"SYSTEM\\CurrentControlSet\\Enum";
const wchar_t kDeviceClassesRoot[] = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses";
const wchar_t kVolumeSetupClass[] = L"{71a27cdd-812a-11d0-bec7-08002be2092f}";
// Marks the Enum entries this fixture made, so that a clean-up never touches anything else.
const wchar_t kMarker[] = L"TolvenSimulated";

const GUID kVolumeInterfaceGuid = {0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

std::wstring Hashed(const std::wstring& instanceId) {
    std::wstring s = instanceId;
    for (wchar_t& c : s)
        if (c == L'\\') c = L'#';
    return s;
}

std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

std::wstring EnumKey(const std::wstring& instanceId) { return std::wstring(kEnumRoot) + L"\\" + instanceId; }

std::wstring InterfaceKey(const std::wstring& instanceId) {
    return std::wstring(kDeviceClassesRoot) + L"\\" + kVolumeInterfaceClass + L"\\##?#" + Hashed(instanceId) + L"#" +
           kVolumeInterfaceClass;
}

std::vector<std::wstring> SubkeyNames(const std::wstring& path) {
    std::vector<std::wstring> names;
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &k) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD cch = 256;
        if (RegEnumKeyExW(k, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(k);
    return names;
}

}  // namespace

UsbDisk UsbDisk::FlashDisk(const std::wstring& serial, const std::wstring& vendor, const std::wstring& product,
                           const std::wstring& revision) {
    return UsbDisk(L"STORAGE\\Volume\\_??_USBSTOR#Disk&Ven_" + vendor + L"&Prod_" + product + L"&Rev_" + revision +
                   L"#" + serial + L"&0#" + kDiskInterfaceClass);
}

UsbDisk UsbDisk::RemovableMedia(const std::wstring& instance) {
    return UsbDisk(L"STORAGE\\RemovableMedia\\" + instance);
}

UsbDisk UsbDisk::FixedVolume(const std::wstring& partitionGuid, const std::wstring& offset) {
    return UsbDisk(L"STORAGE\\Volume\\" + partitionGuid + L"#" + offset);
}

UsbDisk::UsbDisk(std::wstring instanceId) : instanceId_(std::move(instanceId)) {}

UsbDisk::~UsbDisk() { Remove(); }

UsbDisk::UsbDisk(UsbDisk&& other) noexcept : instanceId_(std::move(other.instanceId_)), created_(other.created_) {
    other.created_ = false;
}

UsbDisk& UsbDisk::operator=(UsbDisk&& other) noexcept {
    if (this != &other) {
        Remove();
        instanceId_ = std::move(other.instanceId_);
        created_ = other.created_;
        other.created_ = false;
    }
    return *this;
}

bool UsbDisk::Create() {
    if (created_) return true;
    const std::wstring iface = InterfaceKey(instanceId_);
    const std::wstring link = L"\\\\?\\" + Hashed(instanceId_) + L"#" + kVolumeInterfaceClass;
    bool ok = SetString(HKEY_LOCAL_MACHINE, EnumKey(instanceId_), L"ClassGUID", kVolumeSetupClass) &&
              SetDword(HKEY_LOCAL_MACHINE, EnumKey(instanceId_), kMarker, 1) &&
              SetString(HKEY_LOCAL_MACHINE, iface, L"DeviceInstance", instanceId_) &&
              SetString(HKEY_LOCAL_MACHINE, iface + L"\\#", L"SymbolicLink", link) &&
              SetDword(HKEY_LOCAL_MACHINE, iface + L"\\#\\Control", L"Linked", 0);
    created_ = true;  // even a half-made entry is removed again
    if (!ok) Remove();
    return ok;
}

bool UsbDisk::SetLinked(DWORD linked) {
    return Create() && SetDword(HKEY_LOCAL_MACHINE, InterfaceKey(instanceId_) + L"\\#\\Control", L"Linked", linked);
}

bool UsbDisk::Plug() { return SetLinked(1); }

bool UsbDisk::Pull() { return SetLinked(0); }

bool UsbDisk::Remove() {
    if (!created_) return true;
    created_ = false;
    bool a = DeleteKeyTree(HKEY_LOCAL_MACHINE, InterfaceKey(instanceId_));
    bool b = DeleteKeyTree(HKEY_LOCAL_MACHINE, EnumKey(instanceId_));
    return a && b;
}

std::wstring UsbDisk::InterfacePath() const {
    return Lower(L"\\\\?\\" + Hashed(instanceId_) + L"#" + kVolumeInterfaceClass);
}

std::wstring UsbDisk::Id(bool xpClass) const {
    const std::wstring path = InterfacePath();
    const size_t wanted = xpClass ? 3 : 5;
    size_t start = 0;
    for (size_t field = 1; field < wanted; ++field) {
        size_t hash = path.find(L'#', start);
        if (hash == std::wstring::npos) return path;
        start = hash + 1;
    }
    size_t end = path.find(L'#', start);
    return path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

bool UsbDisk::NotifyArrival(HWND window, DWORD timeoutMs, DWORD* error) const {
    return SendInterfaceNotice(window, DBT_DEVICEARRIVAL, kVolumeInterfaceGuid, InterfacePath(), timeoutMs, error);
}

bool UsbDisk::NotifyRemoval(HWND window, DWORD timeoutMs, DWORD* error) const {
    return SendInterfaceNotice(window, DBT_DEVICEREMOVECOMPLETE, kVolumeInterfaceGuid, InterfacePath(), timeoutMs,
                               error);
}

static bool SendNotice(HWND window, WPARAM event, const void* broadcast, DWORD timeoutMs, DWORD* error) {
    DWORD_PTR result = 0;
    SetLastError(0);
    LRESULT ok = SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast), SMTO_NORMAL,
                                     timeoutMs, &result);
    if (error) *error = ok ? 0 : GetLastError();
    return ok != 0;
}

bool SendInterfaceNotice(HWND window, WPARAM event, const GUID& interfaceClass, const std::wstring& name,
                         DWORD timeoutMs, DWORD* error) {
    const size_t bytes = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(wchar_t);
    std::vector<DWORD> storage((bytes + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
    auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    b->dbcc_size = static_cast<DWORD>(bytes);
    b->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    b->dbcc_classguid = interfaceClass;
    memcpy(b->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return SendNotice(window, event, b, timeoutMs, error);
}

bool SendVolumeNotice(HWND window, WPARAM event, wchar_t driveLetter, DWORD timeoutMs, DWORD* error) {
    DEV_BROADCAST_VOLUME v = {};
    v.dbcv_size = sizeof(v);
    v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    wchar_t letter = static_cast<wchar_t>(towupper(driveLetter));
    if (letter >= L'A' && letter <= L'Z') v.dbcv_unitmask = 1u << (letter - L'A');
    return SendNotice(window, event, &v, timeoutMs, error);
}

void RemoveAllSimulatedDisks() {
    const std::wstring storage = std::wstring(kEnumRoot) + L"\\STORAGE";
    for (const std::wstring& bus : SubkeyNames(storage)) {
        for (const std::wstring& inst : SubkeyNames(storage + L"\\" + bus)) {
            const std::wstring id = L"STORAGE\\" + bus + L"\\" + inst;
            if (!ValueExists(HKEY_LOCAL_MACHINE, EnumKey(id), kMarker)) continue;
            DeleteKeyTree(HKEY_LOCAL_MACHINE, InterfaceKey(id));
            DeleteKeyTree(HKEY_LOCAL_MACHINE, EnumKey(id));
        }
    }
}

}  // namespace ts
