// Key presence: the one test of "is the enrolled key here", the five enrolled-disk slots of the
// user record, and the device notices a window needs to hear the key come and go.
#include "keypresence_internal.h"

#include <dbt.h>
#include <stddef.h>
#include <string.h>
#include <wchar.h>

namespace corelib {

namespace {
const int kSlots = 5;
const size_t kSlotBytes = kDiskIdSlotChars * sizeof(wchar_t);

BYTE* SlotBytes(uinfo* record, int slot) {
    return reinterpret_cast<BYTE*>(record) + offsetof(uinfo, lpDriverUID) + slot * kSlotBytes;
}
const BYTE* SlotBytes(const uinfo* record, int slot) {
    return reinterpret_cast<const BYTE*>(record) + offsetof(uinfo, lpDriverUID) + slot * kSlotBytes;
}
bool SlotIsEmpty(const uinfo* record, int slot) {
    wchar_t first;
    memcpy(&first, SlotBytes(record, slot), sizeof(first));
    return first == 0;
}

// HID {4D1E55B2-F16F-11CF-88CB-001111000030} and disk {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}.
const GUID kNotifyClasses[] = {
    {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}},
    {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}},
};
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "device-interface filter is 32 bytes");
}  // namespace

void ReadDiskIdSlot(const uinfo* record, int slot, wchar_t out[kDiskIdSlotChars + 1]) {
    memcpy(out, SlotBytes(record, slot), kSlotBytes);
    out[kDiskIdSlotChars] = 0;
    if (wcslen(out) >= kDiskIdSlotChars) out[0] = 0;
}

}  // namespace corelib

using namespace corelib;

extern "C" {

BOOL CORELIB_CALL VerifyUserInfo(const uinfo* record) {
    if (!record) return FALSE;
    // Re-read on every call: a change of device mode takes effect at once in every process.
    // Any non-zero mode, -1 (not yet chosen) included, is the token.
    if (GetMonitorKeyStyle(L"QJ_AppDriveMode") != 0) return UE_CheckEpasByDriveID(record);
    return UP_CheckUDeskByDriveID(record);
}

BOOL CORELIB_CALL CompareDriverUID(const uinfo* record, const wchar_t* id) {
    if (!record || !id) return FALSE;
    const size_t n = wcsnlen(id, kDiskIdSlotChars);
    if (n == 0 || n >= kDiskIdSlotChars) return FALSE;  // no slot can hold it
    for (int i = 0; i < kSlots; ++i) {
        wchar_t slot[kDiskIdSlotChars + 1];
        ReadDiskIdSlot(record, i, slot);
        if (slot[0] && wcscmp(slot, id) == 0) return TRUE;
    }
    return FALSE;
}

BOOL CORELIB_CALL AddDriverUID(uinfo* record, const wchar_t* id) {
    if (!record || !IsAcceptableDiskId(id)) return FALSE;
    const size_t n = wcslen(id);
    for (int i = 0; i < kSlots; ++i) {
        if (!SlotIsEmpty(record, i)) continue;
        BYTE* slot = SlotBytes(record, i);
        memset(slot, 0, kSlotBytes);  // no stale characters behind the new id
        memcpy(slot, id, (n + 1) * sizeof(wchar_t));
        return TRUE;
    }
    return FALSE;
}

void CORELIB_CALL DelDriverUID(uinfo* record, const wchar_t* id) {
    // An id that no slot could hold would clear every slot: refuse it and lose nothing.
    if (!record || !IsAcceptableDiskId(id)) return;
    for (int i = 0; i < kSlots; ++i) {
        if (SlotIsEmpty(record, i)) continue;
        wchar_t slot[kDiskIdSlotChars + 1];
        ReadDiskIdSlot(record, i, slot);
        if (slot[0] && wcscmp(slot, id) == 0) continue;  // a corrupt slot reads "" and is cleared
        memset(SlotBytes(record, i), 0, kSlotBytes);
    }
}

int CORELIB_CALL GetDriverUIDCount(const uinfo* record) {
    if (!record) return 0;
    int free = 0;
    for (int i = 0; i < kSlots; ++i)
        if (SlotIsEmpty(record, i)) ++free;
    return free;
}

BOOL CORELIB_CALL RegisterDeviceNotification_GUID(HWND window) {
    if (!window || !IsWindow(window)) {
        DEBUG_MSG("RegisterDeviceNotification_GUID: no window");
        return FALSE;
    }
    // The registrations end with the window; one already made stays when a later one fails.
    for (const GUID& cls : kNotifyClasses) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_reserved = 0;
        filter.dbcc_classguid = cls;
        HDEVNOTIFY n = g_seams.RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        DWORD error = GetLastError();
        DEBUG_MSG("RegisterDeviceNotification=%d", static_cast<int>(error));
        if (!n) return FALSE;
    }
    return TRUE;
}

}  // extern "C"
