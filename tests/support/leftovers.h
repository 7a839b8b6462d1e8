// What a test program killed before its TearDown can leave behind: the "Sentry" service and its
// named objects. leftovers.cpp (linked into every test program) clears them before the first test.
#pragma once

#include <string>

namespace ts {

// True when an event or a mapping of that name exists (in the "Global\" namespace when so named).
bool NamedObjectExists(const wchar_t* name);
// The first of the service's named objects that still exists, empty when none does.
std::wstring LeftoverServiceObject();
// Stops and deletes a leftover "Sentry" service; true when there was one.
bool RemoveLeftoverService();

}  // namespace ts
