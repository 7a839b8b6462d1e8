// What the test build of Logontile (LogontileTest.dll) does instead of the calls Wine cannot run.
#pragma once

#include <windows.h>

// The id its "Negotiate" lookup answers with (Wine's own lookup fails for that name).
#define LOGONTILE_TEST_NEGOTIATE_PACKAGE 0x4E47UL

// ExitWindowsEx is recorded here (REG_DWORD "Flags", "Reason", "Calls") and never run: a real
// shut-down would end the whole Wine prefix.
#define LOGONTILE_TEST_SHUTDOWN_KEY L"Software\\Tolven\\LogontileTest\\ExitWindowsEx"

// The tile's key checks so far, by their result: a host waits on them instead of on a guessed time
// (the poll period is the real one, 1 s). Exported by name as LOGONTILE_TEST_KEY_CHECKS.
#define LOGONTILE_TEST_KEY_CHECKS "LogontileTestKeyChecks"
typedef void(__cdecl* PFN_LogontileTestKeyChecks)(LONG* absent, LONG* present);
