// Corelib internals around the lock record's named objects; not part of the exported interface.
#pragma once

#include "corelib.h"
#include "objectsec.h"
#include "protect.h"

namespace corelib {

// Sets "Global\AlertServiceEvent" so that the waiting service learns that the workstation is
// unlocked again. Returns false, doing nothing, when the event does not exist (no service runs)
// or cannot be opened.
bool SignalAlertEvent();

// SECURITY_ATTRIBUTES carrying the SYSTEM+Administrators descriptor, for creating named objects.
// get() is NULL when the descriptor could not be built; error() then holds the reason. Creators
// must fail in that case instead of creating the object with an open DACL.
// With owned, Administrators are named as the owner (see CORELIB_OWNED_OBJECT_SDDL).
class ObjectSecurity {
public:
    explicit ObjectSecurity(bool owned = true)
        : sd_(owned ? NewOwnedObjectSecurityDescriptor() : NewObjectSecurityDescriptor()), error_(ERROR_SUCCESS) {
        if (!sd_) {
            error_ = GetLastError();
            if (error_ == ERROR_SUCCESS) error_ = ERROR_INVALID_SECURITY_DESCR;
        }
        sa_.nLength = sizeof(sa_);
        sa_.lpSecurityDescriptor = sd_;
        sa_.bInheritHandle = FALSE;
    }
    ~ObjectSecurity() {
        if (sd_) LocalFree(sd_);
    }
    ObjectSecurity(const ObjectSecurity&) = delete;
    ObjectSecurity& operator=(const ObjectSecurity&) = delete;

    SECURITY_ATTRIBUTES* get() { return sd_ ? &sa_ : nullptr; }
    DWORD error() const { return error_; }

private:
    PSECURITY_DESCRIPTOR sd_;
    DWORD error_;
    SECURITY_ATTRIBUTES sa_;
};

}  // namespace corelib
