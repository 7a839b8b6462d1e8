// Key presence internals shared by keypresence.cpp, token.cpp and diskid.cpp (and their unit tests).
#pragma once

#include "internal.h"

namespace corelib {

// A disk-id slot of the user record holds 49 characters and a NUL.
const size_t kDiskIdSlotChars = 50;

// Reads slot 0..4 of the record as a terminated string. A slot that fills all 50 characters has no
// NUL and is corrupt: it reads as "" (empty, never matches).
void ReadDiskIdSlot(const uinfo* record, int slot, wchar_t out[kDiskIdSlotChars + 1]);

// Cuts the disk id out of a volume device-interface path: the '#'-separated field 3 on XP-class
// systems, field 5 on Vista and later; the whole path when it has no such field. false (out "")
// when the id does not fit out. Enrolment and the presence check both cut with this one function,
// so that an id enrolled from a path matches that path later.
bool CutDiskId(const wchar_t* path, bool xpClass, wchar_t* out, size_t cch);

// Whether an id may be enrolled or count as present: not empty, shorter than a slot, and not
// beginning with '{' (on Vista and later every fixed-disk volume yields the volume class GUID there,
// so such an id would be "present" on every PC).
bool IsAcceptableDiskId(const wchar_t* id);

}  // namespace corelib
