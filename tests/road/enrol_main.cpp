// RoadEnrol: makes the inserted key the user's key, from the install folder it runs in, the way the
// control panel's device page does (it stands in for that page until the control panel exists):
//   RoadEnrol token PASSWORD          the first inserted token's folded serial
//   RoadEnrol usb DISKID PASSWORD     a USB-disk id (Wine maps no removable drive letter to resolve)
// The record gets the key, the Windows user and computer name and the Windows password for key
// logon; then WriteGianPathToReg, the device mode, QJ_EnableTolven and, on Vista and later, the
// service's start. Prints one line per step; exit code 0 when every step succeeded.
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include <string>

#include "corelib.h"
#include "ftndapi.h"

namespace {

int g_failures = 0;

void Say(bool ok, const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    printf("%s%s\n", ok ? "" : "FAILED ", buf);
    fflush(stdout);
    if (!ok) ++g_failures;
}

std::string Utf8(const wchar_t* s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool token = argc == 3 && wcscmp(argv[1], L"token") == 0;
    bool usb = argc == 4 && wcscmp(argv[1], L"usb") == 0;
    if (!token && !usb) {
        printf("usage: RoadEnrol token PASSWORD | RoadEnrol usb DISKID PASSWORD\n");
        return 2;
    }
    const wchar_t* password = argv[argc - 1];

    uinfo record;
    ZeroMemory(&record, sizeof(record));
    GetUserInfo(&record);  // nothing stored yet reads as an empty record
    if (token) {
        HANDLE context = nullptr;
        UE_Epas_CreateContext(&context);
        DWORD opened = context ? epas_OpenDevice(context, EPAS_OPEN_FIRST, nullptr) : ERROR_INVALID_HANDLE;
        Say(opened == 0, "token opened: status 0x%08lX", static_cast<unsigned long>(opened));
        if (opened != 0) return 1;
        record.ulTokenSerial = UE_Get_TokenHardwareSerial();
        Say(true, "ulTokenSerial=0x%08lX", static_cast<unsigned long>(record.ulTokenSerial));
    } else {
        const wchar_t* id = argv[2];
        bool stored = CompareDriverUID(&record, id) || AddDriverUID(&record, id);
        Say(stored, "lpDriverUID holds \"%s\"", Utf8(id).c_str());
    }

    DWORD n = 50;
    bool named = GetUserNameW(record.lpUserName, &n) != FALSE;
    Say(named, "lpUserName=\"%s\"", Utf8(record.lpUserName).c_str());
    n = 50;
    named = GetComputerNameW(record.lpComputerName, &n) != FALSE;
    Say(named, "lpComputerName=\"%s\"", Utf8(record.lpComputerName).c_str());
    // The tile stores the password itself after the user's first password logon; the road starts later.
    bool fits = wcslen(password) < 50;
    if (fits) wcscpy(record.lpUserPWD, password);
    Say(fits, "lpUserPWD set");
    Say(SetUserInfo(&record) != FALSE, "SetUserInfo");

    LONG registered = WriteGianPathToReg();
    wchar_t folder[MAX_PATH];
    ZarnRegByDllPath(folder, L"");
    Say(registered == 0, "WriteGianPathToReg=%ld (install folder %s)", static_cast<long>(registered),
        Utf8(folder).c_str());
    Say(SetMonitorKeyStyle(L"QJ_AppDriveMode", token ? 1 : 0) == 0, "QJ_AppDriveMode=%d", token ? 1 : 0);
    Say(SetMonitorKeyStyle(L"QJ_EnableTolven", 1) == 0, "QJ_EnableTolven=1");
    if (IsWin7()) {
        INT_PTR started = StartOrStopService(TRUE);
        Say(started > 32, "StartOrStopService=%ld", static_cast<long>(started));
    }
    return g_failures ? 1 : 0;
}
