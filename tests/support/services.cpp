#include "services.h"

namespace ts {

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(pollMs);
    }
    return true;
}

bool WindowAnswers(HWND window, DWORD timeoutMs) {
    DWORD_PTR result = 0;
    return window && SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

bool StopsAnswering(HWND window, DWORD probeMs, DWORD boundMs) {
    DWORD start = GetTickCount();
    do {
        if (!WindowAnswers(window, probeMs)) return true;
    } while (GetTickCount() - start < boundMs);
    return false;
}

bool QueryService(const wchar_t* name, SERVICE_STATUS* status) {
    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!m) return false;
    SC_HANDLE s = OpenServiceW(m, name, SERVICE_QUERY_STATUS);
    bool ok = s && QueryServiceStatus(s, status);
    if (s) CloseServiceHandle(s);
    CloseServiceHandle(m);
    return ok;
}

bool ServiceProcess(const wchar_t* name, SERVICE_STATUS_PROCESS* status) {
    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!m) return false;
    SC_HANDLE s = OpenServiceW(m, name, SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    bool ok = s && QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status), sizeof(*status),
                                        &needed);
    if (s) CloseServiceHandle(s);
    CloseServiceHandle(m);
    return ok;
}

DWORD ServiceState(const wchar_t* name) {
    SERVICE_STATUS st;
    return QueryService(name, &st) ? st.dwCurrentState : 0;
}

void RemoveService(const wchar_t* name, DWORD stopTimeoutMs) {
    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!m) return;
    if (SC_HANDLE s = OpenServiceW(m, name, SERVICE_ALL_ACCESS)) {
        SERVICE_STATUS st;
        ControlService(s, SERVICE_CONTROL_STOP, &st);
        WaitFor([name] { DWORD state = ServiceState(name); return state == SERVICE_STOPPED || state == 0; },
                stopTimeoutMs);
        DeleteService(s);
        CloseServiceHandle(s);
    }
    CloseServiceHandle(m);
    WaitFor([name] { return ServiceState(name) == 0; }, 10000);
}

}  // namespace ts
