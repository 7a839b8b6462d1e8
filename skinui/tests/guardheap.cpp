#include "guardheap.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr SIZE_T kPage = 4096;
// Address space only: pages are committed one block at a time. Each block is followed by one
// page left uncommitted, so that a write past its end faults too.
constexpr SIZE_T kReserve = sizeof(void*) == 8 ? ((SIZE_T)1 << 30) : ((SIZE_T)256 << 20);
constexpr SIZE_T kHeader = 16;  // keeps the 16-byte alignment of operator new

char* volatile g_base = nullptr;
volatile LONG g_nextPage = 0;
volatile LONG g_guards = 0;

char* Base() {
    if (!g_base) {
        void* p = ::VirtualAlloc(nullptr, kReserve, MEM_RESERVE, PAGE_NOACCESS);
        if (p && ::InterlockedCompareExchangePointer((PVOID volatile*)&g_base, p, nullptr) != nullptr)
            ::VirtualFree(p, 0, MEM_RELEASE);
    }
    return g_base;
}

bool InGuarded(const void* p) {
    const char* b = g_base;
    return b && (const char*)p >= b && (const char*)p < b + kReserve;
}

void* GuardedAlloc(size_t n) {
    char* base = Base();
    if (!base) return nullptr;
    const SIZE_T pages = (n + kHeader + kPage - 1) / kPage;
    const LONG first = ::InterlockedExchangeAdd(&g_nextPage, (LONG)(pages + 1));
    if ((SIZE_T)first + pages + 1 > kReserve / kPage) return nullptr;  // used up: malloc takes over
    char* block = base + (SIZE_T)first * kPage;
    if (!::VirtualAlloc(block, pages * kPage, MEM_COMMIT, PAGE_READWRITE)) return nullptr;
    *(SIZE_T*)block = pages;
    return block + kHeader;
}

void* Allocate(size_t n) {
    if (n == 0) n = 1;
    if (g_guards > 0)
        if (void* p = GuardedAlloc(n)) return p;
    return std::malloc(n);
}

void Release(void* p) {
    if (!p) return;
    if (!InGuarded(p)) {
        std::free(p);
        return;
    }
    char* block = (char*)p - kHeader;
    const SIZE_T pages = *(SIZE_T*)block;
    // Decommitted, never handed out again: the address faults from now on.
    ::VirtualFree(block, pages * kPage, MEM_DECOMMIT);
}

// A fault on the guarded pages names itself and where it came from (addr2line turns the return
// addresses into lines), then the process ends as with any other fault.
LONG CALLBACK OnFault(EXCEPTION_POINTERS* e) {
    const EXCEPTION_RECORD* r = e->ExceptionRecord;
    if (r->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    const void* at = (const void*)r->ExceptionInformation[1];
    if (!InGuarded(at)) return EXCEPTION_CONTINUE_SEARCH;
    fprintf(stderr, "guarded heap: %s of deleted memory at %p by code at %p; called from",
            r->ExceptionInformation[0] ? "write" : "read", at, r->ExceptionAddress);
    void* frames[24];
    const USHORT n = ::RtlCaptureStackBackTrace(1, 24, frames, nullptr);
    for (USHORT i = 0; i < n; ++i) fprintf(stderr, " %p", frames[i]);
    fprintf(stderr, "\n");
    fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

namespace gh {
GuardedHeap::GuardedHeap() {
    static PVOID handler = ::AddVectoredExceptionHandler(1, OnFault);
    (void)handler;
    Base();
    ::InterlockedIncrement(&g_guards);
}
GuardedHeap::~GuardedHeap() { ::InterlockedDecrement(&g_guards); }
bool IsGuarded(const void* p) { return InGuarded(p); }
}  // namespace gh

void* operator new(size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
