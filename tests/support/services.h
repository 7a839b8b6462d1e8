// Waiting on conditions and on Windows services, for tests that drive the service control manager.
#pragma once

#include <windows.h>

#include <functional>

namespace ts {

// Polls the condition until it holds (true) or the time runs out (false).
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs = 20);

// The service's status as the service control manager reports it; false when it is not installed.
bool QueryService(const wchar_t* name, SERVICE_STATUS* status);
// Its current state, 0 when it is not installed.
DWORD ServiceState(const wchar_t* name);
// Stops and deletes the service if it exists, and waits (bounded) until it is gone.
// AUTO_START services come back with every new wineserver, so tests start from this.
void RemoveService(const wchar_t* name, DWORD stopTimeoutMs = 15000);

}  // namespace ts
