// Test build only: hands the seam table to the test host, which replaces LockWorkStation with a
// recorder, the pause with its own and the interval period with a short one.
#include "internal.h"

extern "C" gatehook::Seams* WINAPI GatehookTestSeams(void) { return &gatehook::g_seams; }
