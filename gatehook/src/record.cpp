#include "internal.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace gatehook {

namespace {

HINSTANCE g_instance = nullptr;

// The pause between the two reads that must agree before the key counts as absent.
const DWORD kAbsentConfirmMs = 250;

// One record for the module, guarded by a lock that exists before any thread can use it.
struct SharedRecord {
    CRITICAL_SECTION lock;
    uinfo record;
    bool readable = false;    // record was read, or nothing is stored
    bool lastFailed = false;  // the last read failed (logged once per run of failures)
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

bool RefreshRecord() {
    // GetUserInfo zero-fills before it copies: let it do so in a private buffer.
    uinfo fresh;
    SetLastError(ERROR_SUCCESS);
    BOOL read = g_seams.ReadUserRecord(&fresh);
    DWORD error = read ? ERROR_SUCCESS : GetLastError();
    // Nothing here needs the Windows password: msgina hands over the typed one at logon. It does not
    // stay in Winlogon for its life.
    SecureZeroMemory(fresh.lpUserPWD, sizeof(fresh.lpUserPWD));
    // Nothing stored (key or value missing) is the empty record of a computer without enrolment.
    bool usable = read || error == ERROR_FILE_NOT_FOUND;
    SharedRecord& s = Shared();
    EnterCriticalSection(&s.lock);
    bool newFailure = !usable && !s.lastFailed;
    s.lastFailed = !usable;
    if (usable) {
        memcpy(&s.record, &fresh, sizeof(fresh));
        s.readable = true;
    }
    bool readable = s.readable;
    LeaveCriticalSection(&s.lock);
    SecureZeroMemory(&fresh, sizeof(fresh));
    if (newFailure) Log(L"无法读取用户信息（错误 %lu）。", static_cast<unsigned long>(error));
    return readable;
}

bool RecordReadable() {
    SharedRecord& s = Shared();
    EnterCriticalSection(&s.lock);
    bool readable = s.readable;
    LeaveCriticalSection(&s.lock);
    return readable;
}

void Log(const wchar_t* format, ...) {
    wchar_t text[256];
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(text, 255, format, args);
    va_end(args);
    if (n < 0 || n > 255) n = 255;
    text[n] = 0;
    g_seams.Log(text);
}

void SnapshotRecord(uinfo* out) {
    if (!out) return;
    SharedRecord& s = Shared();
    EnterCriticalSection(&s.lock);
    memcpy(out, &s.record, sizeof(*out));
    LeaveCriticalSection(&s.lock);
}

bool KeyPresent() {
    uinfo snap;
    SnapshotRecord(&snap);
    bool present = g_seams.VerifyUserInfo(&snap) != FALSE;
    SecureZeroMemory(&snap, sizeof(snap));
    return present;
}

bool SecondReadAbsent() {
    Sleep(kAbsentConfirmMs);
    RefreshRecord();
    return !KeyPresent();
}

bool FieldEquals(const wchar_t* field, size_t cch, const wchar_t* s) {
    if (!field || !s) return false;
    size_t n = wcsnlen(field, cch);
    if (n == 0 || n == cch) return false;
    return wcscmp(field, s) == 0;
}

}  // namespace gatehook
