// Child program: a hidden window registered with RegisterDeviceNotification_GUID that writes the
// first WM_DEVICECHANGE it receives to a report file and exits.
// Usage: corelib_probe_devicewindow <window title> <report file>
#include <windows.h>
#include <dbt.h>

#include <stdio.h>

#include <string>

#include "internal.h"
#include "testsupport.h"

namespace {

std::wstring g_report;
BOOL g_registered = FALSE;

LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DEVICECHANGE) {
        char line[1024];
        const DEV_BROADCAST_HDR* h = reinterpret_cast<const DEV_BROADCAST_HDR*>(lp);
        std::string detail;
        if (h && h->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const auto* d = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(h);
            wchar_t guid[64] = {};
            const GUID& g = d->dbcc_classguid;
            _snwprintf(guid, 63, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1, g.Data2, g.Data3,
                       g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
            detail = " class=" + ts::Narrow(guid) + " name=" + ts::Narrow(d->dbcc_name);
        }
        snprintf(line, sizeof(line), "registered=%d event=0x%x type=%lu%s", g_registered, static_cast<unsigned>(wp),
                 h ? h->dbch_devicetype : 0ul, detail.c_str());
        ts::WriteFileBytes(g_report, line);
        PostQuitMessage(0);
        return TRUE;
    }
    if (msg == WM_TIMER) PostQuitMessage(1);
    return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    g_report = argv[2];
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TolvenProbeDeviceWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, wc.lpszClassName, argv[1], WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    if (!w) return 3;
    g_registered = RegisterDeviceNotification_GUID(w);
    SetTimer(w, 1, 20000, nullptr);  // nobody came: give up
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    DestroyWindow(w);
    return static_cast<int>(m.wParam);
}
