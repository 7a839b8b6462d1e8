// Module-wide state of Logontile: the module handle, the lock count behind DllCanUnloadNow, and
// the trace scope every operation opens.
#pragma once

#include <windows.h>

#include "corelib.h"

namespace logontile {

// The class id served as credential provider and as provider filter; the one Corelib registers
// (CLSID_Logontile, CORELIB_PROVIDER_CLSID_TEXT).
constexpr CLSID CLSID_Provider = {0x00ABCDEF, 0xF666, 0x4966, {0x80, 0xC7, 0x88, 0xBE, 0x82, 0xDF, 0xB1, 0x2A}};

// Live objects (all but the class factory) plus server locks.
void ModuleLock();
// Never below zero: an unbalanced LockServer(FALSE) must not let a later object's lock read as
// "unloadable" while that object lives.
void ModuleUnlock();
LONG ModuleLockCount();

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// Traces entry and exit of an operation under its class-qualified name.
class TraceScope {
public:
    explicit TraceScope(const char* name) : name_(name) { DEBUG_MSG_B("%s", name_); }
    ~TraceScope() { DEBUG_MSG_E("%s", name_); }
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    const char* name_;
};

}  // namespace logontile
