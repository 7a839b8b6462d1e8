// Counting a component's own threads: a count of the whole process also sees the threads Wine and
// the system start and end on their own, and turns red for them.
#pragma once

#include <windows.h>

#include <set>

namespace ts {

// The ids of this process's threads that started in the module's image (a DLL's, or a program's).
std::set<DWORD> ThreadsStartedIn(HMODULE module);
// The module that holds an address (a function of the component, say); null when none does.
HMODULE ModuleOf(const void* address);

}  // namespace ts
