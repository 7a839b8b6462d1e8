// The lock record in "Global\ZARNSHARD" and the alert event "Global\AlertServiceEvent".
// The service creates the mapping once and keeps it; every access, the creator's included, opens
// it for that one access and closes it again.
#include "internal.h"
#include "sharedmem_internal.h"

#include <string.h>

#include <initializer_list>

namespace corelib {
namespace {

// The creator's handle: it keeps the mapping alive for the life of the process.
HANDLE volatile g_mapping = nullptr;

// Long enough for a peer to finish its copy of a few kilobytes, short enough that a stuck or
// hostile holder of "mutex" never holds up the lock screen.
const DWORD kMutexWaitMs = 200;

// "mutex" around one access. The name is shared with the peers and stays as it is. The guard is
// best effort: when the mutex cannot be made or not be had in time the access goes on, and it is
// released only when it was acquired.
class RecordGuard {
public:
    RecordGuard() : mutex_(CreateMutexW(nullptr, FALSE, CORELIB_SHARED_MUTEX)), owned_(false) {
        if (mutex_) {
            DWORD w = WaitForSingleObject(mutex_, kMutexWaitMs);
            owned_ = (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED);
        }
    }
    ~RecordGuard() {
        if (owned_) ReleaseMutex(mutex_);
        if (mutex_) CloseHandle(mutex_);
    }
    RecordGuard(const RecordGuard&) = delete;
    RecordGuard& operator=(const RecordGuard&) = delete;

private:
    HANDLE mutex_;
    bool owned_;
};

DWORD LastErrorOr(DWORD fallback) {
    DWORD e = GetLastError();
    return e ? e : fallback;
}

// Opens the mapping and maps size bytes from offset 0. On failure returns the error, with nothing
// left open.
DWORD MapRecord(DWORD size, HANDLE* mapping, void** view) {
    *mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, CORELIB_SHARED_MAPPING);
    if (!*mapping) return LastErrorOr(ERROR_FILE_NOT_FOUND);
    *view = MapViewOfFile(*mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
    if (!*view) {
        DWORD e = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
        CloseHandle(*mapping);
        *mapping = nullptr;
        return e;
    }
    return ERROR_SUCCESS;
}

void UnmapRecord(HANDLE mapping, void* view) {
    UnmapViewOfFile(view);
    CloseHandle(mapping);
}

}  // namespace

bool SignalAlertEvent() {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, CORELIB_ALERT_EVENT);
    if (!event) return false;
    BOOL set = SetEvent(event);
    CloseHandle(event);
    return set != FALSE;
}

}  // namespace corelib

using namespace corelib;

extern "C" {

DWORD CORELIB_CALL CreateSharedMemory(void) {
    if (g_mapping) return ERROR_SUCCESS;
    HANDLE mapping = nullptr;
    DWORD created = ERROR_SUCCESS;
    // Owned by Administrators where the caller may name them (the service can); else the caller's
    // own default owner.
    for (bool owned : {true, false}) {
        ObjectSecurity security(owned);
        if (!security.get()) return security.error();
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0,
                                     CORELIB_SHARED_MAPPING_SIZE, CORELIB_SHARED_MAPPING);
        created = GetLastError();
        if (mapping || created != ERROR_INVALID_OWNER) break;
    }
    if (!mapping) return created ? created : ERROR_INVALID_HANDLE;
    // A mapping that was there before the service is somebody's squat unless SYSTEM or Administrators
    // made it: its records would be read and written by whoever holds it. Better no record at all.
    if (created == ERROR_ALREADY_EXISTS && !OwnedBySystemOrAdministrators(mapping)) {
        CloseHandle(mapping);
        LogEvent(L"%ls 已由 SYSTEM 和 Administrators 以外的用户创建，不予使用；锁定记录不可用。", CORELIB_SHARED_MAPPING);
        return ERROR_INVALID_OWNER;
    }
    // Two threads may race here; the loser closes its duplicate so the process keeps one handle.
    if (InterlockedCompareExchangePointer(&g_mapping, mapping, nullptr) != nullptr)
        CloseHandle(mapping);
    return ERROR_SUCCESS;
}

BOOL CORELIB_CALL ReleaseSharedMemory(void) {
    RecordGuard guard;
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, CORELIB_SHARED_MAPPING);
    if (!mapping) return FALSE;
    CloseHandle(mapping);
    return TRUE;
}

DWORD CORELIB_CALL WriteToSharedMemory(const void* data, DWORD size) {
    if (!data && size) return ERROR_INVALID_PARAMETER;
    RecordGuard guard;
    HANDLE mapping = nullptr;
    void* view = nullptr;
    DWORD e = MapRecord(size, &mapping, &view);
    if (e) return e;
    memset(view, 0, size);
    if (size) memcpy(view, data, size);
    UnmapRecord(mapping, view);
    return ERROR_SUCCESS;
}

DWORD CORELIB_CALL ReadFromSharedMemory(void* out, DWORD size) {
    if (!out && size) return ERROR_INVALID_PARAMETER;
    RecordGuard guard;
    HANDLE mapping = nullptr;
    void* view = nullptr;
    DWORD e = MapRecord(size, &mapping, &view);
    if (e) return e;
    if (size) memcpy(out, view, size);
    // A record is read once: the next reader finds nothing pending.
    memset(view, 0, size);
    UnmapRecord(mapping, view);
    return ERROR_SUCCESS;
}

}  // extern "C"
