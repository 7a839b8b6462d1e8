#include "threads.h"

#include <tlhelp32.h>
#include <winternl.h>

namespace ts {

namespace {

typedef LONG(NTAPI* QueryThread)(HANDLE, int, PVOID, ULONG, PULONG);
const int kThreadQuerySetWin32StartAddress = 9;

bool ImageRange(HMODULE module, const BYTE** begin, const BYTE** end) {
    if (!module) return false;
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    *begin = base;
    *end = base + nt->OptionalHeader.SizeOfImage;
    return true;
}

}  // namespace

HMODULE ModuleOf(const void* address) {
    HMODULE m = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &m))
        return nullptr;
    return m;
}

namespace {

// One pass over this process's threads. `settled` turns false when a thread has no start address
// yet: Wine records it only once the new thread runs its first instructions.
std::set<DWORD> ThreadsStartedInOnce(const BYTE* begin, const BYTE* end, QueryThread query, bool* settled) {
    std::set<DWORD> ids;
    *settled = true;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID != GetCurrentProcessId()) continue;
        HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
        if (!t) continue;  // ended meanwhile
        const BYTE* start = nullptr;
        if (query(t, kThreadQuerySetWin32StartAddress, &start, sizeof(start), nullptr) == 0) {
            if (!start)
                *settled = false;
            else if (start >= begin && start < end)
                ids.insert(te.th32ThreadID);
        }
        CloseHandle(t);
    }
    CloseHandle(snap);
    return ids;
}

}  // namespace

std::set<DWORD> ThreadsStartedIn(HMODULE module) {
    const BYTE *begin = nullptr, *end = nullptr;
    if (!ImageRange(module, &begin, &end)) return {};
    QueryThread query =
        reinterpret_cast<QueryThread>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread"));
    if (!query) return {};
    // A thread just created is counted once it has begun (bounded: a thread that never starts is
    // left out after two seconds).
    const DWORD deadline = GetTickCount() + 2000;
    for (;;) {
        bool settled = true;
        std::set<DWORD> ids = ThreadsStartedInOnce(begin, end, query, &settled);
        if (settled || static_cast<LONG>(GetTickCount() - deadline) >= 0) return ids;
        SwitchToThread();
    }
}

}  // namespace ts
