// The driver thread: plays the user and the devices while Winlogon's thread sits in a GINA dialog
// (the shared dialog driver, tests/support). When something it waits for never comes it fails the
// test and ends every dialog, so that the Wlx call on the main thread returns instead of hanging.
#pragma once

#include <windows.h>

#include <dbt.h>

#include <functional>
#include <string>
#include <thread>

#include "dialogdriver.h"

namespace host {

#define HOST_EMERGENCY_TITLE L"Tolven电脑锁紧急登陆"
#define HOST_LOCKED_TITLE L"Windows已被锁定"

// The shared dialog driver with the GINA's dialogs by name; a failure cancels the emergency login and
// ends the host's dialogs.
class Driver : public ts::DialogDriver {
public:
    explicit Driver(std::function<void(Driver&)> script);

    // Visible dialogs of this process: the boot notice (the one with button 1019), or by title.
    HWND WaitBootNotice(DWORD ms = 5000);
    HWND WaitTitled(const wchar_t* title, DWORD ms = 5000);
    int CountBootNotices();
    int CountTitled(const wchar_t* title);

    void PressF8() { Press(VK_F8); }
    // Opens the emergency login from the boot notice by F8; nullptr (and the test failed) when either
    // does not come.
    HWND OpenEmergency(HWND* notice);
    // Replaces the emergency login's password with the text, typed, and clicks OK.
    void TryPassword(HWND emergency, const std::wstring& text);
    // WM_DEVICECHANGE arrival with a broadcast of type 2 (volume), 5 (device interface) or 3 (port).
    bool Arrival(HWND dlg, DWORD deviceType) { return Notice(dlg, DBT_DEVICEARRIVAL, deviceType); }
};

// Waits until pred() holds or ms pass; true when it held.
bool WaitFor(const std::function<bool()>& pred, DWORD ms);

}  // namespace host
