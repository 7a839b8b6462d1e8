// The other side of the lock-record tests: a separate process that creates the mapping (as the
// service does), writes or reads records, sets the alert event, or holds the "mutex".
//   create-and-wait [type]  create the mapping (and write a record of that type), print "ready",
//                           keep the mapping until stdin closes
//   create-twice-and-wait   the same, calling CreateSharedMemory twice
//   write <type>            write a record, print "rc=N"
//   read                    read a record, print "rc=N type=T"
//   signal                  set the alert event, print "set" or "absent"
//   hold-mutex              take "mutex", print "ready", hold it until stdin closes
//   abandon-mutex           take "mutex" and end without releasing it
//   try-mutex               zero-wait take: "acquired", "abandoned", "busy" or "unavailable"
// The exit code is the operation's result (0 success).
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "corelib.h"
#include "sharedmem_internal.h"

namespace {

void Print(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (n < 0) return;
    if (n >= static_cast<int>(sizeof(line))) n = sizeof(line) - 1;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(n), &written, nullptr);
}

// Blocks until the test closes our stdin (or ends).
void WaitForStdinClosed() {
    char buf[64];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof(buf), &got, nullptr) && got) {
    }
}

DWORD WriteType(LONG type) {
    LockRecord record = {};
    record.enuLockType = type;
    return WriteToSharedMemory(&record, sizeof(record));
}

HANDLE TakeMutex() {
    HANDLE m = CreateMutexW(nullptr, FALSE, CORELIB_SHARED_MUTEX);
    if (m && WaitForSingleObject(m, 5000) != WAIT_OBJECT_0) {
        CloseHandle(m);
        return nullptr;
    }
    return m;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 87;
    const wchar_t* cmd = argv[1];

    bool twice = !wcscmp(cmd, L"create-twice-and-wait");
    if (twice || !wcscmp(cmd, L"create-and-wait")) {
        DWORD rc = CreateSharedMemory();
        if (!rc && twice) rc = CreateSharedMemory();
        if (!rc && argc > 2) rc = WriteType(wcstol(argv[2], nullptr, 10));
        if (rc) {
            Print("rc=%lu\n", rc);
            return static_cast<int>(rc);
        }
        Print("ready\n");
        WaitForStdinClosed();
        return 0;
    }
    if (!wcscmp(cmd, L"write") && argc > 2) {
        DWORD rc = WriteType(wcstol(argv[2], nullptr, 10));
        Print("rc=%lu\n", rc);
        return static_cast<int>(rc);
    }
    if (!wcscmp(cmd, L"read")) {
        LockRecord record = {};
        DWORD rc = ReadFromSharedMemory(&record, sizeof(record));
        Print("rc=%lu type=%ld\n", rc, static_cast<long>(record.enuLockType));
        return static_cast<int>(rc);
    }
    if (!wcscmp(cmd, L"signal")) {
        Print(corelib::SignalAlertEvent() ? "set\n" : "absent\n");
        return 0;
    }
    if (!wcscmp(cmd, L"hold-mutex")) {
        HANDLE m = TakeMutex();
        if (!m) return 1;
        Print("ready\n");
        WaitForStdinClosed();
        ReleaseMutex(m);
        CloseHandle(m);
        return 0;
    }
    if (!wcscmp(cmd, L"abandon-mutex")) {
        // Ending while owning the mutex leaves it abandoned for the next waiter.
        return TakeMutex() ? 0 : 1;
    }
    if (!wcscmp(cmd, L"try-mutex")) {
        HANDLE m = CreateMutexW(nullptr, FALSE, CORELIB_SHARED_MUTEX);
        if (!m) {
            Print("unavailable\n");
            return 0;
        }
        DWORD w = WaitForSingleObject(m, 0);
        bool acquired = (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED);
        Print(w == WAIT_OBJECT_0 ? "acquired\n" : w == WAIT_ABANDONED ? "abandoned\n" : "busy\n");
        if (acquired) ReleaseMutex(m);
        CloseHandle(m);
        return 0;
    }
    return 87;
}
