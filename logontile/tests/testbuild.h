// What the test build of Logontile (LogontileTest.dll) does instead of the calls Wine cannot run.
#pragma once

#include <windows.h>

// The id its "Negotiate" lookup answers with (Wine's own lookup fails for that name).
#define LOGONTILE_TEST_NEGOTIATE_PACKAGE 0x4E47UL

// ExitWindowsEx is recorded here (REG_DWORD "Flags", "Reason", "Calls") and never run: a real
// shut-down would end the whole Wine prefix.
#define LOGONTILE_TEST_SHUTDOWN_KEY L"Software\\Tolven\\LogontileTest\\ExitWindowsEx"
