// A stand-in for the protection service under the real service control manager, installed as
// "Sentry" by the update tests: testservice <record> [slow] appends "start <pid>" to the record at
// each start and ends on the stop request; "slow" stays stopping for 1.5 s first.
#include <windows.h>
#include <winsvc.h>

#include <string>

namespace {

std::wstring g_record;
SERVICE_STATUS_HANDLE g_handle = nullptr;
HANDLE g_stop = nullptr;
bool g_slow = false;

void Report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_handle, &status);
}

DWORD WINAPI SlowStop(void*) {
    Sleep(1500);  // a service that takes its time to stop, as a real one may
    SetEvent(g_stop);
    return 0;
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    if (control != SERVICE_CONTROL_STOP) return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
    Report(SERVICE_STOP_PENDING);
    if (g_slow) {
        QueueUserWorkItem(SlowStop, nullptr, WT_EXECUTEDEFAULT);
    } else {
        SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI Main(DWORD, wchar_t**) {
    g_handle = RegisterServiceCtrlHandlerExW(L"Sentry", Handler, nullptr);
    if (!g_handle) return;
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE file = CreateFileW(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        std::string line = "start " + std::to_string(GetCurrentProcessId()) + "\n";
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    g_record = argv[1];
    g_slow = argc > 2 && wcscmp(argv[2], L"slow") == 0;
    static wchar_t name[] = L"Sentry";
    SERVICE_TABLE_ENTRYW table[] = {{name, Main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
