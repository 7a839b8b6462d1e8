#include "dialogdriver.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include "services.h"
#include "uinput.h"
#include "usbdisk.h"

namespace ts {

namespace {

const DWORD kPollMs = 20;

struct Found {
    const DialogMatch* match;
    std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND w, LPARAM lp) {
    Found* f = reinterpret_cast<Found*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (lstrcmpW(cls, L"#32770") != 0) return TRUE;
    if (f->match->control && !GetDlgItem(w, f->match->control)) return TRUE;
    if (f->match->title) {
        wchar_t title[128] = {};
        InternalGetWindowText(w, title, 128);
        if (lstrcmpW(title, f->match->title) != 0) return TRUE;
    }
    f->windows.push_back(w);
    return TRUE;
}

}  // namespace

std::vector<HWND> FindDialogs(const DialogMatch& match) {
    Found f = {&match, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&f));
    return f.windows;
}

DialogDriver::DialogDriver(std::function<void()> abort) : abort_(std::move(abort)) {}

DialogDriver::~DialogDriver() { Join(); }

void DialogDriver::Start(std::function<void()> body) { thread_ = std::thread(std::move(body)); }

void DialogDriver::Join() {
    if (thread_.joinable()) thread_.join();
}

HWND DialogDriver::WaitDialog(const DialogMatch& match, const std::string& what, DWORD ms) {
    HWND found = nullptr;
    WaitFor(
        [&]() {
            auto v = FindDialogs(match);
            found = v.empty() ? nullptr : v.front();
            return found || returned;
        },
        ms, kPollMs);
    if (!found) {
        if (!returned) Fail(what + " did not appear");
        return nullptr;
    }
    // A dialog that has just been shown is still being activated: input sent before it is the
    // foreground window lands elsewhere. Waits for that state, not for a time.
    WaitForeground(found);
    return found;
}

bool DialogDriver::WaitForeground(HWND dlg, DWORD ms) {
    bool foreground = false;
    WaitFor(
        [&]() {
            foreground = GetForegroundWindow() == dlg;
            return foreground || !IsWindow(dlg) || !IsWindowVisible(dlg);
        },
        ms, kPollMs);
    return foreground;
}

bool DialogDriver::WaitGone(HWND window, DWORD ms) {
    return WaitFor([&]() { return !IsWindow(window) || !IsWindowVisible(window); }, ms, kPollMs);
}

bool DialogDriver::StaysUp(HWND window, DWORD ms) {
    Sleep(ms);
    return IsWindow(window) && IsWindowVisible(window);
}

void DialogDriver::Press(WORD vk) {
    SendKey(vk, false);
    SendKey(vk, true);
}

void DialogDriver::Type(HWND dlg, int id, const std::wstring& text) {
    HWND edit = GetDlgItem(dlg, id);
    for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

void DialogDriver::Click(HWND dlg, int id) { ClickControl(dlg, id); }

void DialogDriver::Command(HWND dlg, int id) { PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

bool DialogDriver::Notice(HWND dlg, WPARAM event, DWORD deviceType) {
    switch (deviceType) {
        case DBT_DEVTYP_VOLUME:
            return SendVolumeNotice(dlg, event, L'E');
        case DBT_DEVTYP_DEVICEINTERFACE: {
            const GUID disk = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
            return SendInterfaceNotice(dlg, event, disk,
                                       L"\\\\?\\usbstor#disk&ven_a&prod_b#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
        }
        default: {
            DEV_BROADCAST_PORT_W other = {};
            other.dbcp_size = sizeof(other);
            other.dbcp_devicetype = deviceType;
            DWORD_PTR r = 0;
            return SendMessageTimeoutW(dlg, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&other), SMTO_NORMAL,
                                       5000, &r) != 0;
        }
    }
}

std::wstring DialogDriver::Text(HWND dlg, int id) {
    wchar_t buf[512] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, id), WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 5000, &n);
    return buf;
}

std::wstring DialogDriver::TextBecomes(HWND dlg, int id, const std::wstring& expected, DWORD ms) {
    std::wstring t;
    WaitFor([&]() { return (t = Text(dlg, id)) == expected; }, ms, kPollMs);
    return t;
}

bool DialogDriver::Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }

HWND DialogDriver::FocusOf(HWND dlg) {
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof(gi);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gi)) return reinterpret_cast<HWND>(-1);
    return gi.hwndFocus;
}

COLORREF DialogDriver::Pixel(HWND dlg, int id, double fx, double fy) {
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

void DialogDriver::Fail(const std::string& what) {
    ADD_FAILURE() << what;
    failed_ = true;
    if (abort_) abort_();
}

}  // namespace ts
