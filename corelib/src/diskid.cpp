// USB-disk ids: cut from volume device-interface paths, enumerated through SetupAPI, and the UP_
// exports. The credential tile polls these once a second for the life of LogonUI, so every
// SetupAPI list and every copy made here is released again.
#include "keypresence_internal.h"

#include <setupapi.h>
#include <stddef.h>
#include <wchar.h>

namespace corelib {

bool CutDiskId(const wchar_t* path, bool xpClass, wchar_t* out, size_t cch) {
    if (!out || cch == 0) return false;
    out[0] = 0;
    if (!path) return false;
    const int wanted = xpClass ? 3 : 5;
    const wchar_t* field = path;
    int number = 1;
    while (number < wanted) {
        const wchar_t* hash = wcschr(field, L'#');
        if (!hash) break;
        field = hash + 1;
        ++number;
    }
    if (number < wanted) return CopyWhole(out, cch, path);  // no such field: the whole path
    const wchar_t* end = wcschr(field, L'#');
    size_t n = end ? static_cast<size_t>(end - field) : wcslen(field);
    if (n >= cch) return false;
    wmemcpy(out, field, n);
    out[n] = 0;
    return true;
}

bool IsAcceptableDiskId(const wchar_t* id) {
    if (!id || !id[0] || id[0] == L'{') return false;
    return wcsnlen(id, kDiskIdSlotChars) < kDiskIdSlotChars;
}

namespace {

// {53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}
const GUID kVolumeInterfaceClass = {0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const size_t kDetailBytes = 520;  // device paths of up to 257 characters and a NUL
const size_t kPathChars = 260;

// The present volume interfaces, one path at a time; the list is released with the object.
class VolumeInterfaces {
public:
    VolumeInterfaces()
        : set_(SetupDiGetClassDevsW(&kVolumeInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
    ~VolumeInterfaces() {
        if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
    }
    VolumeInterfaces(const VolumeInterfaces&) = delete;
    VolumeInterfaces& operator=(const VolumeInterfaces&) = delete;

    bool ok() const { return set_ != INVALID_HANDLE_VALUE; }

    // The next interface's device path, valid until the next call; nullptr when the list ends.
    // An interface whose detail cannot be read or does not fit the buffer is skipped.
    const wchar_t* Next() {
        if (!ok()) return nullptr;
        for (;;) {
            SP_DEVICE_INTERFACE_DATA data = {};
            data.cbSize = sizeof(data);
            if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &kVolumeInterfaceClass, index_++, &data)) return nullptr;
            SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer_.bytes);
            memset(buffer_.bytes, 0, sizeof(buffer_.bytes));
            // The fixed part's size as SetupAPI checks it (6 on 32-bit), not the padded struct size.
            detail->cbSize = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + sizeof(WCHAR);
            DWORD required = 0;
            if (!SetupDiGetDeviceInterfaceDetailW(set_, &data, detail, sizeof(buffer_.bytes), &required, nullptr))
                continue;
            wchar_t* path = detail->DevicePath;
            const size_t capacity = (sizeof(buffer_.bytes) - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) /
                                    sizeof(wchar_t);
            if (wcsnlen(path, capacity) >= capacity) continue;
            if (!path[0]) continue;
            return path;
        }
    }

private:
    HDEVINFO set_;
    DWORD index_ = 0;
    union {
        BYTE bytes[kDetailBytes];
        DWORD align;
    } buffer_;
};

// The first present volume whose id is enrolled in the record; copies that id into out (if given).
bool FindEnrolledVolume(const uinfo* record, wchar_t* out) {
    if (out) out[0] = 0;
    if (!record) return false;
    VolumeInterfaces volumes;
    if (!volumes.ok()) return false;
    const bool xp = IsXpClass();
    while (const wchar_t* path = volumes.Next()) {
        wchar_t id[kPathChars];
        // An id that could never have been enrolled does not count, even when an old record holds it.
        if (!CutDiskId(path, xp, id, kPathChars) || !IsAcceptableDiskId(id)) continue;
        if (CompareDriverUID(record, id)) {
            if (out) CopyWhole(out, kDiskIdSlotChars, id);
            return true;
        }
    }
    return false;
}

// UP_GetAllRemovableDisks' table: nothing reads it, but it is kept as the export promises.
struct RemovableDisk {
    wchar_t letter;
    wchar_t* volumeName;  // process heap
};
struct RemovableTable {
    CRITICAL_SECTION lock;
    RemovableDisk disks[26];
    int count;
    RemovableTable() : disks(), count(0) { InitializeCriticalSection(&lock); }
};
RemovableTable g_removable;

}  // namespace
}  // namespace corelib

using namespace corelib;

extern "C" {

BOOL CORELIB_CALL UP_GetDriveIDByLetter(const wchar_t* root, wchar_t out[260]) {
    if (out) out[0] = 0;
    if (!root || !out) return FALSE;
    wchar_t wanted[kPathChars] = {};
    if (!g_seams.GetVolumeNameForVolumeMountPointW(root, wanted, kPathChars)) return FALSE;
    wanted[kPathChars - 1] = 0;
    if (!wanted[0]) return FALSE;

    VolumeInterfaces volumes;
    if (!volumes.ok()) return FALSE;
    while (const wchar_t* path = volumes.Next()) {
        size_t n = wcslen(path);
        if (n + 2 > kPathChars) continue;
        wchar_t mountPoint[kPathChars];
        wmemcpy(mountPoint, path, n);
        mountPoint[n] = L'\\';
        mountPoint[n + 1] = 0;
        wchar_t name[kPathChars] = {};
        // An interface without a volume (an empty card-reader slot) is skipped, not the end.
        if (!g_seams.GetVolumeNameForVolumeMountPointW(mountPoint, name, kPathChars)) continue;
        name[kPathChars - 1] = 0;
        if (wcscmp(name, wanted) != 0) continue;
        wchar_t id[kPathChars];
        if (!CutDiskId(path, IsXpClass(), id, kPathChars) || !IsAcceptableDiskId(id)) {
            DEBUG_MSG("UP_GetDriveIDByLetter: %ls gives no usable id", path);
            return FALSE;
        }
        return CopyWhole(out, kPathChars, id) ? TRUE : FALSE;
    }
    return FALSE;
}

BOOL CORELIB_CALL UP_CheckUDeskByDriveID(const uinfo* record) { return FindEnrolledVolume(record, nullptr) ? TRUE : FALSE; }

BOOL CORELIB_CALL UP_CheckUDeskByDriveID1(const uinfo* record, wchar_t out[260]) {
    return FindEnrolledVolume(record, out) ? TRUE : FALSE;
}

void CORELIB_CALL UP_GetAllRemovableDisks(void) {
    RemovableTable& t = g_removable;
    EnterCriticalSection(&t.lock);
    for (int i = 0; i < t.count; ++i) HeapFree(GetProcessHeap(), 0, t.disks[i].volumeName);
    t.count = 0;
    const DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i))) continue;
        const wchar_t root[] = {static_cast<wchar_t>(L'A' + i), L':', L'\\', 0};
        if (GetDriveTypeW(root) != DRIVE_REMOVABLE) continue;
        wchar_t name[kPathChars] = {};
        if (!g_seams.GetVolumeNameForVolumeMountPointW(root, name, kPathChars)) continue;
        name[kPathChars - 1] = 0;
        size_t bytes = (wcslen(name) + 1) * sizeof(wchar_t);
        wchar_t* copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, bytes));
        if (!copy) continue;
        memcpy(copy, name, bytes);
        t.disks[t.count].letter = root[0];
        t.disks[t.count].volumeName = copy;
        ++t.count;
    }
    LeaveCriticalSection(&t.lock);
}

}  // extern "C"

