#include "driver.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <vector>

#include "host.h"
#include "services.h"
#include "testsupport.h"
#include "uinput.h"
#include "usbdisk.h"

namespace host {

namespace {

struct Found {
    std::vector<HWND> windows;
    const wchar_t* title;
    bool bootNotice;
};

BOOL CALLBACK Collect(HWND w, LPARAM lp) {
    Found* f = reinterpret_cast<Found*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (lstrcmpW(cls, L"#32770") != 0) return TRUE;
    if (f->bootNotice) {
        if (GetDlgItem(w, 1019)) f->windows.push_back(w);
    } else if (f->title) {
        wchar_t t[64] = {};
        InternalGetWindowText(w, t, 64);
        if (lstrcmpW(t, f->title) == 0) f->windows.push_back(w);
    } else {
        f->windows.push_back(w);
    }
    return TRUE;
}

std::vector<HWND> Dialogs(const wchar_t* title, bool bootNotice) {
    Found f = {{}, title, bootNotice};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&f));
    return f.windows;
}

}  // namespace

// A dialog that has just been shown is still being activated: input sent before it is the foreground
// window lands elsewhere. Waits for that state, not for a time.
static void Settle(HWND dlg) { ts::WaitForeground(dlg); }

bool WaitFor(const std::function<bool()>& pred, DWORD ms) { return ts::WaitFor(pred, ms, 20); }

Driver::Driver(std::function<void(Driver&)> script) {
    thread_ = std::thread([this, script]() { script(*this); });
}

Driver::~Driver() { Join(); }

void Driver::Join() {
    if (thread_.joinable()) thread_.join();
}

HWND Driver::WaitBootNotice(DWORD ms) {
    HWND found = nullptr;
    if (!WaitFor([&]() {
            auto v = Dialogs(nullptr, true);
            found = v.empty() ? nullptr : v.front();
            return found != nullptr;
        }, ms))
        Fail("the boot key notice did not appear");
    else
        Settle(found);
    return found;
}

HWND Driver::WaitTitled(const wchar_t* title, DWORD ms) {
    HWND found = nullptr;
    if (!WaitFor([&]() {
            auto v = Dialogs(title, false);
            found = v.empty() ? nullptr : v.front();
            return found != nullptr;
        }, ms))
        Fail("no dialog titled " + ts::Narrow(title) + " appeared");
    else
        Settle(found);
    return found;
}

int Driver::CountBootNotices() { return static_cast<int>(Dialogs(nullptr, true).size()); }
int Driver::CountTitled(const wchar_t* title) { return static_cast<int>(Dialogs(title, false).size()); }

bool Driver::WaitGone(HWND window, DWORD ms) {
    return WaitFor([&]() { return !IsWindow(window) || !IsWindowVisible(window); }, ms);
}

bool Driver::StaysUp(HWND window, DWORD ms) {
    Sleep(ms);
    return IsWindow(window) && IsWindowVisible(window);
}

void Driver::PressF8() {
    ts::SendKey(VK_F8, false);
    ts::SendKey(VK_F8, true);
}

void Driver::Type(HWND dlg, int id, const std::wstring& text) {
    HWND edit = GetDlgItem(dlg, id);
    for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

void Driver::Click(HWND dlg, int id) { ts::ClickControl(dlg, id); }

void Driver::Command(HWND dlg, int id) { PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

bool Driver::Arrival(HWND dlg, DWORD deviceType) {
    switch (deviceType) {
    case DBT_DEVTYP_VOLUME:
        return ts::SendVolumeNotice(dlg, DBT_DEVICEARRIVAL, L'E');
    case DBT_DEVTYP_DEVICEINTERFACE: {
        const GUID disk = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
        return ts::SendInterfaceNotice(dlg, DBT_DEVICEARRIVAL, disk, L"\\\\?\\usbstor#disk&ven_a&prod_b#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    }
    default: {
        DEV_BROADCAST_PORT_W port = {};
        port.dbcp_size = sizeof(port);
        port.dbcp_devicetype = deviceType;
        DWORD_PTR r = 0;
        return SendMessageTimeoutW(dlg, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&port),
                                   SMTO_NORMAL, 5000, &r) != 0;
    }
    }
}

std::wstring Driver::Text(HWND dlg, int id) {
    wchar_t buf[512] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, id), WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 5000, &n);
    return buf;
}

std::wstring Driver::TextBecomes(HWND dlg, int id, const std::wstring& expected, DWORD ms) {
    std::wstring t;
    WaitFor([&]() { return (t = Text(dlg, id)) == expected; }, ms);
    return t;
}

bool Driver::Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }

COLORREF Driver::Pixel(HWND dlg, int id, double fx, double fy) {
    HWND c = GetDlgItem(dlg, id);
    RECT r = {};
    GetClientRect(c, &r);
    POINT p = {static_cast<LONG>(r.right * fx), static_cast<LONG>(r.bottom * fy)};
    ClientToScreen(c, &p);
    HDC screen = GetDC(nullptr);
    COLORREF color = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return color;
}

void Driver::Fail(const std::string& what) {
    ADD_FAILURE() << what;
    failed_ = true;
    AbortAll();
}

void Driver::AbortAll() {
    // The emergency login is the GINA's own modal loop: cancel it first, then end the host's dialogs.
    for (HWND w : Dialogs(HOST_EMERGENCY_TITLE, false)) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    WaitFor([] { return Dialogs(HOST_EMERGENCY_TITLE, false).empty(); }, 1000);
    for (HWND w : Dialogs(nullptr, false)) PostMessageW(w, kMsgAbort, 0, 0);
}

}  // namespace host
