// A guarded C++ heap for tests that must see a use after free. While a GuardedHeap lives, every
// operator new of the program gets pages of its own; the delete of such a block takes its pages
// away for good, so any later read or write of the deleted object faults at once instead of
// quietly reading what is left there. Blocks made outside a GuardedHeap come from malloc as usual.
// Link guardheap.cpp into the test program: it replaces the global operator new and delete.
#pragma once

namespace gh {

class GuardedHeap {
public:
    GuardedHeap();
    ~GuardedHeap();
    GuardedHeap(const GuardedHeap&) = delete;
    GuardedHeap& operator=(const GuardedHeap&) = delete;
};

// Whether the block came from the guarded pages (a check that the guard is really in force).
bool IsGuarded(const void* p);

}  // namespace gh
