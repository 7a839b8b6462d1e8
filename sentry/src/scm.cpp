// The command line: the same program installs, removes, starts and stops itself as the service
// "Sentry", and without a switch hands itself to the service control dispatcher.
#include "sentrycore.h"

#include <stdio.h>
#include <wchar.h>

namespace sentry {

namespace {

struct ScHandle {
    SC_HANDLE h = nullptr;
    explicit ScHandle(SC_HANDLE handle = nullptr) : h(handle) {}
    ~ScHandle() {
        if (h) CloseServiceHandle(h);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    explicit operator bool() const { return h != nullptr; }
};

void Complain(const wchar_t* text) { MessageBoxW(nullptr, text, kServiceName, MB_OK | MB_ICONERROR); }

void Print(const char* format, DWORD error) {
    printf(format, static_cast<int>(error));
    fflush(stdout);
}

enum class Presence { Installed, Missing, Unknown };

Presence QueryInstalled() {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return Presence::Unknown;
    ScHandle service(OpenServiceW(manager.h, kServiceName, SERVICE_QUERY_CONFIG));
    if (service) return Presence::Installed;
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? Presence::Missing : Presence::Unknown;
}

// Quoted, so that a folder with spaces cannot be taken for a shorter program path.
bool QuotedProgramPath(wchar_t (&out)[MAX_PATH + 2]) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0) return false;
    if (n >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    out[0] = L'"';
    wmemcpy(out + 1, path, n);
    out[n + 1] = L'"';
    out[n + 2] = 0;
    return true;
}

DWORD StateOf(SC_HANDLE service, DWORD* processId = nullptr) {
    SERVICE_STATUS_PROCESS ssp;
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&ssp), sizeof(ssp),
                              &needed))
        return 0;
    if (processId) *processId = ssp.dwProcessId;
    return ssp.dwCurrentState;
}

// Waits, bounded, until the service reports STOPPED and its process has ended, so that its program file
// can be replaced afterwards. process may be null.
DWORD WaitUntilStopped(SC_HANDLE service, HANDLE process) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD state = StateOf(service);
        if (state == 0) return GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
        if (state == SERVICE_STOPPED) break;
        if (GetTickCount() - start >= g_seams.stopWaitMs) return ERROR_SERVICE_REQUEST_TIMEOUT;
        Sleep(100);
    }
    if (process) {
        DWORD spent = GetTickCount() - start;
        DWORD left = spent < g_seams.stopWaitMs ? g_seams.stopWaitMs - spent : 0;
        if (WaitForSingleObject(process, left) != WAIT_OBJECT_0) return ERROR_SERVICE_REQUEST_TIMEOUT;
    }
    return NO_ERROR;
}

// Asks a running service to stop and waits for it. NO_ERROR when it is stopped afterwards.
DWORD StopAndWait(SC_HANDLE service) {
    DWORD pid = 0;
    DWORD state = StateOf(service, &pid);
    if (state == 0) return GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    if (state == SERVICE_STOPPED) return NO_ERROR;
    // Opened before the request, so that the id cannot name another process by the time we wait.
    HANDLE process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    DWORD result = NO_ERROR;
    if (state != SERVICE_STOP_PENDING) {
        SERVICE_STATUS status;
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            DWORD e = GetLastError();
            // Already stopping or just stopped: the wait below settles it.
            if (e != ERROR_SERVICE_NOT_ACTIVE && e != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) result = e;
        }
    }
    if (result == NO_ERROR) result = WaitUntilStopped(service, process);
    if (process) CloseHandle(process);
    return result;
}

DWORD Install() {
    switch (QueryInstalled()) {
        case Presence::Installed: return NO_ERROR;
        case Presence::Missing: break;
        case Presence::Unknown: {
            DWORD e = GetLastError();
            Complain(L"Couldn't open service manager");
            return e ? e : ERROR_ACCESS_DENIED;
        }
    }
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        DWORD e = GetLastError();
        Complain(L"Couldn't open service manager");
        return e ? e : ERROR_ACCESS_DENIED;
    }
    wchar_t path[MAX_PATH + 2];
    if (!QuotedProgramPath(path)) return GetLastError();
    ScHandle service(CreateServiceW(manager.h, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, path, nullptr, nullptr, L"\0", nullptr, nullptr));
    if (!service) return GetLastError();
    SERVICE_DESCRIPTIONW description;
    description.lpDescription = const_cast<wchar_t*>(kServiceDescription);
    ChangeServiceConfig2W(service.h, SERVICE_CONFIG_DESCRIPTION, &description);
    return NO_ERROR;
}

DWORD Uninstall() {
    switch (QueryInstalled()) {
        case Presence::Missing: return NO_ERROR;
        case Presence::Installed: break;
        case Presence::Unknown: {
            // Not knowing is no success: the updater relies on the service being gone.
            DWORD e = GetLastError();
            Complain(L"Couldn't open service manager");
            return e ? e : ERROR_ACCESS_DENIED;
        }
    }
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        DWORD e = GetLastError();
        Complain(L"Couldn't open service manager");
        return e ? e : ERROR_ACCESS_DENIED;
    }
    ScHandle service(OpenServiceW(manager.h, kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD e = GetLastError();
        Complain(L"Couldn't open service");
        return e ? e : ERROR_ACCESS_DENIED;
    }
    DWORD stopped = StopAndWait(service.h);
    if (!DeleteService(service.h)) {
        DWORD e = GetLastError();
        if (e != ERROR_SERVICE_MARKED_FOR_DELETE) return e;
    }
    // Deleted, but a service that did not stop in time still holds its program file.
    return stopped;
}

DWORD Control(bool start) {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        DWORD e = GetLastError();
        Print("Open SCManager failed (%d)3\n", e);
        return e ? e : ERROR_ACCESS_DENIED;
    }
    ScHandle service(OpenServiceW(manager.h, kServiceName, SERVICE_ALL_ACCESS));
    if (!service) {
        DWORD e = GetLastError();
        // A missing service is already stopped; only a start installs it.
        if (!start && e == ERROR_SERVICE_DOES_NOT_EXIST) return NO_ERROR;
        DWORD installed = Install();
        if (installed != NO_ERROR) return installed;
        service.h = OpenServiceW(manager.h, kServiceName, SERVICE_ALL_ACCESS);
        if (!service) return GetLastError() ? GetLastError() : ERROR_SERVICE_DOES_NOT_EXIST;
    }
    DWORD result = NO_ERROR;
    if (start) {
        DWORD state = StateOf(service.h);
        if (state == SERVICE_RUNNING || state == SERVICE_START_PENDING) return NO_ERROR;
        if (state == SERVICE_STOP_PENDING) result = WaitUntilStopped(service.h, nullptr);
        if (result == NO_ERROR && !StartServiceW(service.h, 0, nullptr)) {
            result = GetLastError();
            if (result == ERROR_SERVICE_ALREADY_RUNNING) result = NO_ERROR;
        }
    } else {
        result = StopAndWait(service.h);
    }
    if (result != NO_ERROR) Print("Start Service error (%d)\n", result);
    return result;
}

}  // namespace

Command ParseCommandLine(const char* commandLine) {
    if (EqualsAsciiNoCase(commandLine, "/Install")) return Command::Install;
    if (EqualsAsciiNoCase(commandLine, "/Uninstall")) return Command::Uninstall;
    if (EqualsAsciiNoCase(commandLine, "/start")) return Command::Start;
    if (EqualsAsciiNoCase(commandLine, "/stop")) return Command::Stop;
    return Command::RunService;
}

int RunCommand(Command command) {
    DWORD result = NO_ERROR;
    switch (command) {
        case Command::Install: result = Install(); break;
        case Command::Uninstall: result = Uninstall(); break;
        case Command::Start: result = Control(true); break;
        case Command::Stop: result = Control(false); break;
        case Command::RunService: {
            static wchar_t name[] = L"Sentry";
            SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
            // Outside the service control manager this fails (1063): say so through the exit code.
            if (!StartServiceCtrlDispatcherW(table)) result = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
            break;
        }
    }
    return static_cast<int>(result);
}

int SentryMain(HINSTANCE instance, const char* commandLine) {
    SetModuleInstance(instance);
    InitStatus();
    return RunCommand(ParseCommandLine(commandLine ? commandLine : ""));
}

}  // namespace sentry
