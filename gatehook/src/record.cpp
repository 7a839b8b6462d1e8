#include "internal.h"

#include <string.h>
#include <wchar.h>

namespace gatehook {

namespace {

HINSTANCE g_instance = nullptr;

// One record for the module, guarded by a lock that exists before any thread can use it.
struct SharedRecord {
    CRITICAL_SECTION lock;
    uinfo record;
    SharedRecord() : record() { InitializeCriticalSection(&lock); }
};
SharedRecord& Shared() {
    static SharedRecord shared;
    return shared;
}
// Built while the module loads, before Winlogon or the key watch can ask for it.
SharedRecord& g_sharedAtLoad = Shared();

}  // namespace

HINSTANCE Instance() { return g_instance; }
void SetInstance(HINSTANCE instance) { g_instance = instance; }

void RefreshRecord() {
    // GetUserInfo zero-fills before it copies: let it do so in a private buffer.
    uinfo fresh;
    GetUserInfo(&fresh);
    SharedRecord& s = Shared();
    EnterCriticalSection(&s.lock);
    memcpy(&s.record, &fresh, sizeof(fresh));
    LeaveCriticalSection(&s.lock);
    SecureZeroMemory(&fresh, sizeof(fresh));
}

void SnapshotRecord(uinfo* out) {
    if (!out) return;
    SharedRecord& s = Shared();
    EnterCriticalSection(&s.lock);
    memcpy(out, &s.record, sizeof(*out));
    LeaveCriticalSection(&s.lock);
}

bool FieldEquals(const wchar_t* field, size_t cch, const wchar_t* s) {
    if (!field || !s) return false;
    size_t n = wcsnlen(field, cch);
    if (n == 0 || n == cch) return false;
    return wcscmp(field, s) == 0;
}

}  // namespace gatehook
