// The control panel's main window (layout 103): four tab pages (key and device, settings, history,
// about), the tray icon and its menu, and the commands of all three. The decisions and the writes are
// the cores' (keys, settings, devices); this class shows what they return.
#pragma once
#include <windows.h>

#include <string>

#include "bkcombo.h"
#include "bkdialog.h"
#include "corelib.h"
#include "listctrl.h"
#include "panelhost.h"
#include "roundframe.h"
#include "settings.h"
#include "trayicon.h"

namespace warden {

enum : UINT {
    kMainLayout = 103,
    kMainTabCtrl = 136,
    kMsgDisableHook = WM_USER + 2,  // 1026
    kMsgNewVersion = WM_USER + 100,  // 1124, posted by the updater
    kTrayMenuId = 101,
    kTrayIconResource = 101,
};

// Items of the pages.
enum : UINT {
    kItemAboutHome = 100,
    kItemAboutHelp = 200,
    kItemAboutBuy = 300,
    kItemAboutUpdate = 400,
    kItemDeviceCombo = 20001,
    kItemMakeKey = 20002,
    kItemDeviceLabel = 20003,
    kItemChangeDevice = 20004,
    kItemKeyCount = 20005,
    kItemPicture = 30005,
    kItemLockMessage = 30006,
    kItemSaveSettings = 30007,
    kItemOneKeyFree = 30009,
    kItemClearKeys = 30014,
    kItemVersion = 254,
    kItemClose = 60001,
    kItemMaximise = 60002,
    kItemMinimise = 60003,
};

// The tray menu's commands.
enum : UINT {
    kCmdBootCheck = 40005,
    kCmdLockCheck = 40006,
    kCmdLogonManagement = 40007,
    kCmdCtrlAltDel = 40008,
    kCmdOpenPanel = 40009,
    kCmdExit = 40010,
    kCmdOneKeyFree = 40011,
    kCmdShutdown = 40016,
    kCmdLock = 40017,
    kCmdSettings = 40018,
    kCmdHomePage = 40019,
    kCmdLogOff = 40021,
    kCmdRemoveLock = 40023,
};

// The change-of-device-mode chooser: the first-start dialog's result (1 token, 0 disk, -1 closed).
typedef int (*DeviceModeChooserFn)();
int RunFirstStartChooser();
inline DeviceModeChooserFn g_chooseDeviceMode = RunFirstStartChooser;

class CMainDlg : public CBkDialogImpl<CMainDlg, CBkDialogView, CWindow, CWinTraits<0x56000000, 0>>,
                 public CWHRoundRectFrameHelper<CMainDlg> {
    typedef CBkDialogImpl<CMainDlg, CBkDialogView, CWindow, CWinTraits<0x56000000, 0>> Base;

public:
    // hidden: created without showing, only the tray icon (the "regrun" autostart).
    explicit CMainDlg(bool hidden = false);
    ~CMainDlg();
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    // The tray menu as the right button shows it (the caller destroys it): the check marks from the
    // switches, 40007 grayed while it is off and no key is enrolled, no 40008 on Vista and later.
    HMENU BuildTrayMenu();

    CTrayIcon* TrayIcon() const { return trayIcon_; }
    const uinfo& Record() const { return record_; }
    int DeviceMode() const { return deviceMode_; }
    CbkCombo* FindUsbDiskCombo();
    const wchar_t* ConfigPath() const { return configPath_; }

    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                              DWORD dwMsgMapID = 0);

private:
    BOOL OnBkCommand(UINT id);
    LRESULT OnInitDialog();
    LRESULT OnTrayNotify(LPARAM mouseMessage);
    // FALSE for an id that is not the tray menu's.
    BOOL OnTrayCommand(UINT id, LRESULT* result);
    void OnTaskbarCreated();
    void OnClose();
    void OnMaximiseRestore();
    void OnNewVersion();
    void StartRefresher(const wchar_t* argument);
    void OpenShell(const wchar_t* file);
    int Box(const std::wstring& text, UINT type);
    void ToggleCheck(const wchar_t* switchName, UINT checkId);
    void ToggleLogon();

    // The device page.
    int FillDeviceList();
    void OnDeviceChange(WPARAM event, LPARAM data);
    void OnMakeKey();
    void UpdateKeyCount();
    void OnClearKeys();
    void OnChangeDevice();

    // The settings page.
    void LoadSettings();
    void PageFromView();
    void OnSaveSettings();
    void OnOneKeyFree();
    void OnChoosePicture();
    void ShowPicture();

    bool hidden_;
    wchar_t configPath_[MAX_PATH] = {};
    void* userPicture_ = nullptr;  // the GDI+ image item 30005 draws
    CListViewCtrlEx powerLogList_;
    CTrayIcon* trayIcon_ = nullptr;
    HMENU trayMenu_ = nullptr;
    UINT taskbarCreated_ = 0;
    uinfo record_ = {};
    int deviceMode_ = 0;
    SettingsPage page_;
};

// The main panel, run modally; hidden: started by "regrun". Its result is the program's exit code.
int RunMainPanel(bool hidden);

}  // namespace warden
