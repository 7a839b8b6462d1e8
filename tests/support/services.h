// Waiting on conditions and on Windows services, for tests that drive the service control manager.
#pragma once

#include <windows.h>

#include <functional>

namespace ts {

// Polls the condition until it holds (true) or the time runs out (false).
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs = 20);

// True when the window's thread answers a message within the time (it is not blocked in a wait).
bool WindowAnswers(HWND window, DWORD timeoutMs);
// True once the window's thread stops answering, probed every probeMs up to boundMs: a service that
// has entered its blocking wait. A thread on its way into the wait may still dispatch sent messages
// (PeekMessage does), so answers may come first; one that keeps answering past the bound never blocked.
bool StopsAnswering(HWND window, DWORD probeMs, DWORD boundMs);

// The service's status as the service control manager reports it; false when it is not installed.
bool QueryService(const wchar_t* name, SERVICE_STATUS* status);
// The same with its process id (QueryServiceStatusEx); false when it is not installed.
bool ServiceProcess(const wchar_t* name, SERVICE_STATUS_PROCESS* status);
// Its current state, 0 when it is not installed.
DWORD ServiceState(const wchar_t* name);
// Stops and deletes the service if it exists, and waits (bounded) until it is gone.
// AUTO_START services come back with every new wineserver, so tests start from this.
void RemoveService(const wchar_t* name, DWORD stopTimeoutMs = 15000);

}  // namespace ts
