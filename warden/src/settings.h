// The settings page as data: its nine switches, the lock-screen message and the picture, loaded from
// the switches and Config.ini and saved back; the Run value that starts the panel with Windows; the
// tray menu's switch toggles.
#pragma once
#include <windows.h>

#include <string>

#include "corelib.h"
#include "paneltext.h"

namespace warden {

struct SettingsSwitch {
    int checkId;          // the check box of the settings page
    const wchar_t* name;  // its switch
};
constexpr int kSettingsSwitchCount = 9;
// In the order a save writes them.
extern const SettingsSwitch kSettingsSwitches[kSettingsSwitchCount];

constexpr int kCheckLogonManagement = 30010;
constexpr size_t kLockMessageChars = 259;  // every reader of LockMes holds this many and a NUL
constexpr size_t kPicturePathChars = 259;
constexpr size_t kVersionChars = 49;

struct SettingsPage {
    bool checked[kSettingsSwitchCount] = {};  // by kSettingsSwitches' order
    bool logonManagementEnabled = true;       // 30010 may be changed: only with a key enrolled
    std::wstring lockMessage;                 // edit 30006
    std::wstring picturePath;                 // Config.ini UserPic
    std::wstring versionText;                 // footer 254: "主程序版本：%s"

    // The check of a check id; false for an id not on the page.
    bool Checked(int checkId) const;
    void SetChecked(int checkId, bool on);
};

// Switches and Config.ini into the page. With no key enrolled for the device mode, 30010 comes up
// disabled and unchecked, and QJ_EnableTolven is written as 0.
void LoadSettings(const uinfo& record, int deviceMode, const wchar_t* configPath, SettingsPage* page);

// The page into the nine switches (in order), the logon module's registration and the service, the
// Run value, then UserPic and LockMes. The first failure stops the save.
Outcome SaveSettings(const SettingsPage& page, const wchar_t* configPath);

// The lock message as saved: every CR LF pair removed, at most kLockMessageChars characters.
std::wstring LockMessageForSave(const std::wstring& text);

// "一键免KEY": unchecks 30001, 30002 and 30013 and writes their three switches as 0.
Outcome OneKeyFree(SettingsPage* page);

// The Run value "Warden": "\"<module path>\" regrun". RunValueText fails (nothing is written then)
// when the module path fills its buffer.
DWORD RunValueText(std::wstring* text);
DWORD RegisterAutoRun();
// Deleting a value or a Run key that is not there is no failure.
DWORD UnregisterAutoRun();
extern const wchar_t kRunKey[];
extern const wchar_t kRunValueName[];

// The picture chooser (command 30005), owned by the panel: true and path (260 characters) set on OK.
bool ChoosePicturePath(HWND owner, wchar_t path[260]);

// An image's address as "mempointer" text for the picture element, at full pointer width.
std::wstring MemPointerText(const void* image);

// A tray toggle: the switch's negation written (1 when it was 0, else 0).
struct ToggleResult {
    DWORD value = 0;  // the value now stored (the old one when the write failed)
    Outcome outcome;
};
ToggleResult ToggleSwitch(const wchar_t* name);

// 40007: logon management on or off with the logon module's registration and the balloon's text.
// A failed (un)registration or switch write shows string 200 and leaves the switch as it was.
struct LogonToggle {
    DWORD value = 0;
    Outcome outcome;
    std::wstring balloon;
};
LogonToggle ToggleLogonManagement();

}  // namespace warden
