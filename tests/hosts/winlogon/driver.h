// The driver thread: plays the user and the devices while Winlogon's thread sits in a GINA dialog.
// It finds the dialogs, presses keys, types, clicks, sends device notices and reads what the dialogs
// show. When something it waits for never comes it fails the test and ends every dialog, so that the
// Wlx call on the main thread returns instead of hanging.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace host {

#define HOST_EMERGENCY_TITLE L"Tolven电脑锁紧急登陆"
#define HOST_LOCKED_TITLE L"Windows已被锁定"

class Driver {
public:
    explicit Driver(std::function<void(Driver&)> script);
    ~Driver();  // waits for the script
    void Join();

    // Visible dialogs of this process: the boot notice (the one with button 1019), or by title.
    HWND WaitBootNotice(DWORD ms = 5000);
    HWND WaitTitled(const wchar_t* title, DWORD ms = 5000);
    int CountBootNotices();
    int CountTitled(const wchar_t* title);
    // True once the window is gone.
    bool WaitGone(HWND window, DWORD ms = 5000);
    // True when the window is still there after ms.
    bool StaysUp(HWND window, DWORD ms = 600);

    void PressF8();
    void Type(HWND dlg, int id, const std::wstring& text);  // character by character, as typed
    void Click(HWND dlg, int id);                          // a real mouse click on the control's centre
    void Command(HWND dlg, int id);                        // what Enter, Esc or a button would send
    // WM_DEVICECHANGE arrival with a broadcast of type 2 (volume), 5 (device interface) or 3 (port).
    bool Arrival(HWND dlg, DWORD deviceType);
    std::wstring Text(HWND dlg, int id);
    // The control's text once it reads `expected`, or whatever it reads after ms.
    std::wstring TextBecomes(HWND dlg, int id, const std::wstring& expected, DWORD ms = 3000);
    bool Enabled(HWND dlg, int id);
    // Screen pixel inside a control: at fractions fx, fy of its client area.
    COLORREF Pixel(HWND dlg, int id, double fx, double fy);

    // Records a failure and ends every dialog of this process.
    void Fail(const std::string& what);
    bool failed() const { return failed_; }

private:
    void AbortAll();
    std::thread thread_;
    bool failed_ = false;
};

// Waits until pred() holds or ms pass; true when it held.
bool WaitFor(const std::function<bool()>& pred, DWORD ms);

}  // namespace host
