#include "maindlg.h"

#include <dbt.h>
#include <string.h>
#include <wchar.h>

#include <vector>

#include "bkedit.h"
#include "bkimage.h"
#include "bkres.h"
#include "bkskin.h"
#include "bkstyle.h"
#include "devices.h"
#include "firststartdlg.h"
#include "history.h"
#include "keys.h"
#include "paneltext.h"
#include "runningpanel.h"
#include "seams.h"

// GDI+'s C++ wrapper: the picture of the settings page.
#include <objidl.h>
#include <propidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

namespace warden {

namespace {

constexpr int kStrFontFace = 0;
constexpr int kStrMakerSite = 10;
constexpr int kStrHomePage = 11;
constexpr int kStrHelpFile = 12;

const wchar_t kNewVersionText[] = L"Tolven电脑锁发现有新版本";

// The tray toggles: menu id, switch, the check box of the settings page.
struct TrayToggle {
    UINT command;
    const wchar_t* name;
    UINT check;
};
const TrayToggle kTrayToggles[] = {
    {kCmdBootCheck, L"QJ_KaiJiChcekKey", 30001},
    {kCmdLockCheck, L"QJ_SuoPingCheckKey", 30002},
    {kCmdRemoveLock, L"QJ_RemoveLock", 30013},
    {kCmdCtrlAltDel, L"QJ_CtrlAltDel", 30004},
};

const wchar_t* TableText(UINT id) {
    LPCWSTR text = BkString::Get(id);
    return text ? text : L"";
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c);  // digits only
    return out;
}

}  // namespace

int RunFirstStartChooser() {
    FirstStartDlg dialog(false);  // the change of mode stores the mode last
    return dialog.ShowModal();
}

CMainDlg::CMainDlg(bool hidden) : Base(kMainLayout), hidden_(hidden) {
    LoadStringXml();
    BkFontPool::SetDefaultFontFace(TableText(kStrFontFace));
    LoadSkinXml();
    LoadStyleXml();
    ZarnRegByDllPath(configPath_, L"\\Config.ini");
}

CMainDlg::~CMainDlg() {
    if (trayIcon_) {
        if (trayIcon_->IsAdded()) trayIcon_->RemoveIcon();
        delete trayIcon_;
    }
    if (trayMenu_) DestroyMenu(trayMenu_);
    delete static_cast<Gdiplus::Image*>(userPicture_);
    SecureZeroMemory(&record_, sizeof(record_));
}

BOOL CMainDlg::ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                    DWORD dwMsgMapID) {
    (void)dwMsgMapID;
    // Clicks on the layout's items first.
    if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->idFrom == kBkViewCtrlId &&
        reinterpret_cast<LPNMHDR>(lParam)->code == kBkNotifyCommand &&
        OnBkCommand(reinterpret_cast<const BkCommandNotify*>(lParam)->uItemID)) {
        lResult = 1;
        return TRUE;
    }
    if (Base::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;
    // The rounded corners follow every size; the message goes on.
    CWHRoundRectFrameHelper<CMainDlg>::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult);

    switch (uMsg) {
    case WM_INITDIALOG:
        lResult = OnInitDialog();
        return TRUE;
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        lResult = 0;
        return TRUE;
    case kTrayCallbackMessage:
        lResult = OnTrayNotify(lParam);
        return TRUE;
    case kMsgDisableHook:
        OutputDebugStringW(L"DisableHook\r\n");
        lResult = 0;
        return TRUE;
    case WM_COMMAND:
        if (OnTrayCommand(LOWORD(wParam), &lResult)) return TRUE;
        break;
    case kMsgNewVersion:
        OnNewVersion();
        lResult = 0;
        return TRUE;
    default:
        break;
    }
    // The taskbar came back (Explorer restarted): the icon must be put up again.
    if (taskbarCreated_ && uMsg == taskbarCreated_) {
        OnTaskbarCreated();
        lResult = 0;
        return TRUE;
    }

    // The history list draws itself from reflected owner-draw and notification messages.
    BOOL handled = TRUE;
    lResult = WinReflectNotification(hWnd, uMsg, wParam, lParam, handled);
    if (handled) return TRUE;
    if (uMsg >= OCM__BASE && uMsg <= OCM__LAST) {
        lResult = ::DefWindowProcW(hWnd, uMsg - OCM__BASE, wParam, lParam);
        return TRUE;
    }
    return FALSE;
}

BOOL CMainDlg::OnBkCommand(UINT id) {
    switch (id) {
    case kItemAboutHome:
        OpenShell(TableText(kStrHomePage));
        return TRUE;
    case kItemAboutHelp: {
        wchar_t path[MAX_PATH] = {};
        ZarnRegByDllPath(path, TableText(kStrHelpFile));
        OpenShell(path);
        return TRUE;
    }
    case kItemAboutBuy:
        OpenShell(TableText(kStrMakerSite));
        return TRUE;
    case kItemAboutUpdate:
        StartRefresher(L"manual");
        return TRUE;
    case kItemMakeKey:
        OnMakeKey();
        return TRUE;
    case kItemChangeDevice:
        OnChangeDevice();
        return TRUE;
    case kItemPicture:
        OnChoosePicture();
        return TRUE;
    case kItemSaveSettings:
        OnSaveSettings();
        return TRUE;
    case kItemOneKeyFree:
        OnOneKeyFree();
        return TRUE;
    case kItemClearKeys:
        OnClearKeys();
        return TRUE;
    case kItemClose:
        OnClose();
        return TRUE;
    case kItemMaximise:
        OnMaximiseRestore();
        return TRUE;
    case kItemMinimise:
        ::SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        return TRUE;
    case kItemKeyCount:
    case 30001:
    case 30002:
    case 30003:
    case 30004:
    case kItemLockMessage:
    case 30008:
        return TRUE;  // the check boxes toggle themselves
    default:
        return FALSE;
    }
}

LRESULT CMainDlg::OnInitDialog() {
    // 1. One panel only: a second start raises the first and ends.
    if (HWND running = FindRunningPanel()) {
        ::ShowWindow(running, SW_SHOWNORMAL);
        ::SetForegroundWindow(running);
        g_seams.exitProcess(0);
        EndDialog(0);  // reached only where a test keeps the process
        return 1;
    }
    // Marked at once: a second start made meanwhile must find this panel, not make another.
    ::SetPropW(m_hWnd, TOLVEN_PANEL_TITLE, reinterpret_cast<HANDLE>(1));

    // 2. The tray icon.
    taskbarCreated_ = RegisterTaskbarCreated();
    trayIcon_ = new CTrayIcon(m_hWnd, ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kTrayIconResource)));
    if (!trayIcon_->IsAdded()) trayIcon_->AddIcon();

    // 3, 4. The device mode and the user record.
    deviceMode_ = static_cast<int>(GetMonitorKeyStyle(L"QJ_AppDriveMode"));
    if (!GetUserInfo(&record_)) ZeroMemory(&record_, sizeof(record_));

    // 5. The settings page.
    LoadSettings();

    // 6. The device list.
    if (CbkCombo* combo = FindUsbDiskCombo()) {
        combo->SetComboStyle(CbkCombo::kStyleEditWindow | CbkCombo::kStyleSeparator | CbkCombo::kStyleReadOnly);
        if (FillDeviceList()) combo->SelectFirstItem();
    }

    // 7. The history.
    LoadPowerLog(powerLogList_, View().m_hWnd);

    // 8. The device page's label.
    SetItemText(kItemDeviceLabel, TableText(deviceMode_ == 0 ? kStrChooseDisk : kStrChooseToken));

    // 10. No Ctrl+Alt+Del choice from Vista on.
    if (IsWin7()) SetItemVisible(30004, FALSE);

    // 11. The autostart shows only the tray icon.
    if (hidden_) m_bShowWindow = FALSE;

    // 12, 13.
    StartRefresher(L"auto");
    UpdateKeyCount();
    return 1;
}

HMENU CMainDlg::BuildTrayMenu() {
    HMENU menu = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kTrayMenuId));
    if (!menu) return nullptr;
    const bool on = GetMonitorKeyStyle(L"QJ_EnableTolven") != 0;
    // Read afresh: another process (a password change, the other mode's enrolment) may have written it.
    uinfo record = {};
    if (!GetUserInfo(&record)) ZeroMemory(&record, sizeof(record));
    const int mode = static_cast<int>(GetMonitorKeyStyle(L"QJ_AppDriveMode"));
    UINT state = on ? MF_CHECKED : MF_UNCHECKED;
    // Logon management with no key for this mode would lock the user out.
    if (!on && !IsKeyEnrolled(record, mode)) state |= MF_DISABLED | MF_GRAYED;
    ::EnableMenuItem(menu, kCmdLogonManagement, MF_BYCOMMAND | (state & (MF_DISABLED | MF_GRAYED)));
    ::CheckMenuItem(menu, kCmdLogonManagement, MF_BYCOMMAND | (state & MF_CHECKED));
    SecureZeroMemory(&record, sizeof(record));
    for (const TrayToggle& t : kTrayToggles)
        ::CheckMenuItem(menu, t.command, MF_BYCOMMAND | (GetMonitorKeyStyle(t.name) ? MF_CHECKED : MF_UNCHECKED));
    if (IsWin7()) ::RemoveMenu(menu, kCmdCtrlAltDel, MF_BYCOMMAND);
    return menu;
}

LRESULT CMainDlg::OnTrayNotify(LPARAM mouseMessage) {
    switch (static_cast<UINT>(mouseMessage)) {
    case WM_RBUTTONUP: {
        if (trayMenu_) return 0;  // a menu is open already
        POINT pt = {};
        ::GetCursorPos(&pt);
        trayMenu_ = BuildTrayMenu();
        if (!trayMenu_) return 0;
        ::SetForegroundWindow(m_hWnd);
        ::TrackPopupMenu(::GetSubMenu(trayMenu_, 0), TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
        // Without it a click outside may leave the menu open.
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
        ::DestroyMenu(trayMenu_);
        trayMenu_ = nullptr;
        break;
    }
    case WM_LBUTTONDBLCLK:
        ::ShowWindow(m_hWnd, SW_SHOW);
        break;
    default:
        break;
    }
    return 0;
}

BOOL CMainDlg::OnTrayCommand(UINT id, LRESULT* result) {
    *result = 0;
    for (const TrayToggle& t : kTrayToggles) {
        if (t.command == id) {
            ToggleCheck(t.name, t.check);
            return TRUE;
        }
    }
    switch (id) {
    case kCmdOneKeyFree:
        OnOneKeyFree();
        return TRUE;
    case kCmdLogonManagement:
        ToggleLogon();
        return TRUE;
    case kCmdShutdown:
        g_seams.shutdownDialog();
        *result = 1;
        return TRUE;
    case kCmdLock:
        *result = g_seams.lockWorkStation();
        return TRUE;
    case kCmdLogOff:
        *result = g_seams.exitWindowsEx(0, 0);
        return TRUE;
    case kCmdSettings:
        SetTabCurSel(kMainTabCtrl, 1);
        ::ShowWindow(m_hWnd, SW_SHOW);
        return TRUE;
    case kCmdOpenPanel:
        ::ShowWindow(m_hWnd, SW_SHOW);
        return TRUE;
    case kCmdHomePage:
        OpenShell(TableText(kStrHomePage));
        *result = 1;
        return TRUE;
    case kCmdExit:
        EndDialog(0);
        return TRUE;
    default:
        return FALSE;
    }
}

void CMainDlg::ToggleCheck(const wchar_t* switchName, UINT checkId) {
    ToggleResult toggle = ToggleSwitch(switchName);
    SetItemCheck(checkId, toggle.value != 0);
    if (!toggle.outcome.ok && trayIcon_) trayIcon_->ShowBalloon(toggle.outcome.Text().c_str());
}

void CMainDlg::ToggleLogon() {
    // The menu grays the entry; a command sent otherwise must not lock the user out either.
    if (GetMonitorKeyStyle(L"QJ_EnableTolven") == 0) {
        uinfo record = {};
        if (!GetUserInfo(&record)) ZeroMemory(&record, sizeof(record));
        const bool enrolled = IsKeyEnrolled(record, static_cast<int>(GetMonitorKeyStyle(L"QJ_AppDriveMode")));
        SecureZeroMemory(&record, sizeof(record));
        if (!enrolled) return;
    }
    LogonToggle toggle = ToggleLogonManagement();
    SetItemCheck(kCheckLogonManagement, toggle.value != 0);
    if (toggle.value != 0) EnableItem(kCheckLogonManagement, TRUE);
    if (trayIcon_ && !toggle.balloon.empty()) trayIcon_->ShowBalloon(toggle.balloon.c_str());
}

void CMainDlg::OnTaskbarCreated() {
    if (!trayIcon_) return;
    if (trayIcon_->IsAdded())
        trayIcon_->Readd();
    else
        trayIcon_->AddIcon();
}

void CMainDlg::OnClose() {
    if (GetMonitorKeyStyle(L"QJ_CloseAppToTP") != 0)
        ::ShowWindow(m_hWnd, SW_HIDE);
    else
        EndDialog(0);
}

void CMainDlg::OnMaximiseRestore() {
    if (::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & WS_MAXIMIZE) {
        ::SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_RESTORE | 2, 0);
        SetItemAttribute(kItemMaximise, "skin", "maxbtn");
    } else {
        ::SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MAXIMIZE | 2, 0);
        SetItemAttribute(kItemMaximise, "skin", "restorebtn");
    }
}

void CMainDlg::OnNewVersion() {
    if (trayIcon_) trayIcon_->ShowBalloon(kNewVersionText);
}

void CMainDlg::StartRefresher(const wchar_t* argument) {
    wchar_t path[MAX_PATH] = {};
    ZarnRegByDllPath(path, L"\\Refresher.exe");
    if (!path[0]) return;  // an empty file would open a folder
    g_seams.shellExecute(nullptr, L"open", path, argument, nullptr, SW_SHOW);
}

void CMainDlg::OpenShell(const wchar_t* file) {
    if (!file || !file[0]) return;
    g_seams.shellExecute(nullptr, L"open", file, nullptr, nullptr, SW_SHOW);
}

int CMainDlg::Box(const std::wstring& text, UINT type) {
    return g_panelBox(m_hWnd, text.c_str(), PanelString(kStrCaption), type);
}

CbkCombo* CMainDlg::FindUsbDiskCombo() {
    CBkWindow* item = View().FindItem(kItemDeviceCombo);
    if (!item || strcmp(item->TagName(), "combo") != 0) return nullptr;
    return static_cast<CbkCombo*>(item);
}

// ---- the device page ----------------------------------------------------------------------------

int CMainDlg::FillDeviceList() {
    CbkCombo* combo = FindUsbDiskCombo();
    if (!combo) return 0;
    if (deviceMode_ == 0) {
        std::vector<std::wstring> entries;
        const int count = EnumRemovableDrives(&entries);
        for (const std::wstring& entry : entries) combo->AddItem(entry.c_str(), entry.c_str());
        return count;
    }
    wchar_t name[32] = {};
    if (!PresentTokenName(name)) return 0;
    combo->AddItem(name, name);
    return 1;
}

void CMainDlg::OnDeviceChange(WPARAM event, LPARAM data) {
    std::wstring entry;
    if (!ArrivedDriveEntry(event, data, &entry)) return;
    CbkCombo* combo = FindUsbDiskCombo();
    if (!combo) return;
    combo->AddItem(entry.c_str(), entry.c_str());
    combo->SelectFirstItem();
}

void CMainDlg::OnMakeKey() {
    uinfo record = {};
    if (!GetUserInfo(&record)) ZeroMemory(&record, sizeof(record));
    CbkCombo* combo = FindUsbDiskCombo();
    const CString selected = combo ? combo->GetSelectedValue() : CString();
    EnrolPlan plan = deviceMode_ == 0 ? PlanDiskEnrolment(record, selected.GetString())
                                      : PlanTokenEnrolment(record, selected.GetString());
    SecureZeroMemory(&record, sizeof(record));
    if (plan.decision == EnrolDecision::kRefuse) {
        Box(plan.text, MB_ICONERROR);
        return;
    }
    if (plan.decision == EnrolDecision::kAsk && Box(plan.text, MB_YESNOCANCEL | MB_ICONERROR) != IDYES) return;
    std::wstring success;
    Outcome outcome = CompleteEnrolment(plan, deviceMode_, &record_, &success);
    SecureZeroMemory(&plan.record, sizeof(plan.record));
    if (outcome.ok) {
        EnableItem(kCheckLogonManagement, TRUE);
        SetItemCheck(kCheckLogonManagement, TRUE);
        Box(success, MB_ICONQUESTION);
    } else {
        // What the page shows is what is stored.
        SetItemCheck(kCheckLogonManagement, GetMonitorKeyStyle(L"QJ_EnableTolven") != 0);
        EnableItem(kCheckLogonManagement, IsKeyEnrolled(record_, deviceMode_));
        Box(outcome.Text(), MB_ICONERROR);
    }
    UpdateKeyCount();
}

void CMainDlg::UpdateKeyCount() { SetItemText(kItemKeyCount, KeyCountText(record_).c_str()); }

void CMainDlg::OnClearKeys() {
    ClearResult result = ClearKeys(&record_);
    if (result.cleared) {
        UpdateKeyCount();
        Box(result.text, MB_ICONQUESTION);
    } else {
        Box(result.text, MB_ICONERROR);
    }
    UpdateKeyCount();
}

void CMainDlg::OnChangeDevice() {
    const int oldMode = static_cast<int>(GetMonitorKeyStyle(L"QJ_AppDriveMode"));
    const int newMode = g_chooseDeviceMode ? g_chooseDeviceMode() : -1;
    ModeChange change = ApplyDeviceModeChange(oldMode, newMode);
    if (!change.changed) return;
    Box(change.text, change.outcome.ok ? MB_ICONINFORMATION : MB_ICONERROR);
    if (!change.restart) return;
    // The new process must find neither this icon nor this panel.
    if (trayIcon_ && trayIcon_->IsAdded()) trayIcon_->RemoveIcon();
    ::RemovePropW(m_hWnd, TOLVEN_PANEL_TITLE);
    RestartPanel();
    EndDialog(0);  // reached only where a test keeps the process
}

// ---- the settings page --------------------------------------------------------------------------

void CMainDlg::LoadSettings() {
    warden::LoadSettings(record_, deviceMode_, configPath_, &page_);
    for (int i = 0; i < kSettingsSwitchCount; ++i)
        SetItemCheck(kSettingsSwitches[i].checkId, page_.checked[i] ? TRUE : FALSE);
    EnableItem(kCheckLogonManagement, page_.logonManagementEnabled ? TRUE : FALSE);
    SetItemText(kItemLockMessage, page_.lockMessage.c_str());
    SetItemText(kItemVersion, page_.versionText.c_str());
    ShowPicture();
}

void CMainDlg::PageFromView() {
    for (int i = 0; i < kSettingsSwitchCount; ++i)
        page_.checked[i] = GetItemCheck(kSettingsSwitches[i].checkId) != FALSE;
    std::wstring text = GetItemText(kItemLockMessage).GetString();
    CBkWindow* item = View().FindItem(kItemLockMessage);
    if (item && strcmp(item->TagName(), "edit") == 0) {
        // The edit window holds what was typed.
        if (HWND edit = static_cast<CBkEdit*>(item)->EditWindow()) {
            const int n = ::GetWindowTextLengthW(edit);
            std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1);
            ::GetWindowTextW(edit, buffer.data(), n + 1);
            text = buffer.data();
        }
    }
    page_.lockMessage = text;
}

void CMainDlg::OnSaveSettings() {
    PageFromView();
    Outcome outcome = SaveSettings(page_, configPath_);
    if (outcome.ok) {
        page_.lockMessage = LockMessageForSave(page_.lockMessage);
        SetItemText(kItemLockMessage, page_.lockMessage.c_str());
        Box(TableText(kStrDone), MB_ICONQUESTION);
        return;
    }
    Box(outcome.Text(), MB_ICONERROR);
    // What the page shows is what is stored; the chosen picture stays on offer.
    const std::wstring picture = page_.picturePath;
    LoadSettings();
    if (page_.picturePath != picture) {
        page_.picturePath = picture;
        ShowPicture();
    }
}

void CMainDlg::OnOneKeyFree() {
    PageFromView();
    Outcome outcome = warden::OneKeyFree(&page_);
    static const UINT kChecks[] = {30001, 30002, 30013};
    for (UINT id : kChecks) {
        bool on = page_.Checked(static_cast<int>(id));
        if (!outcome.ok) {
            // A refused write left its switch on: show what is stored.
            for (const SettingsSwitch& s : kSettingsSwitches)
                if (s.checkId == static_cast<int>(id)) on = GetMonitorKeyStyle(s.name) != 0;
            page_.SetChecked(static_cast<int>(id), on);
        }
        SetItemCheck(id, on ? TRUE : FALSE);
    }
    Box(outcome.ok ? std::wstring(TableText(kStrDone)) : outcome.Text(), outcome.ok ? MB_ICONQUESTION : MB_ICONERROR);
}

void CMainDlg::OnChoosePicture() {
    wchar_t path[MAX_PATH] = {};
    if (!ChoosePicturePath(m_hWnd, path)) return;
    page_.picturePath.assign(path, wcsnlen(path, kPicturePathChars));
    ShowPicture();
}

void CMainDlg::ShowPicture() {
    // GDI+ through the pool's start-once call: no PNG may have been drawn yet.
    if (!BkPngPool::Instance().GdiplusStarted()) return;
    Gdiplus::Image* image = nullptr;
    if (!page_.picturePath.empty()) image = new Gdiplus::Image(page_.picturePath.c_str());
    SetItemAttribute(kItemPicture, "mempointer", Narrow(MemPointerText(image)).c_str());
    // The element no longer points at the previous image.
    delete static_cast<Gdiplus::Image*>(userPicture_);
    userPicture_ = image;
}

int RunMainPanel(bool hidden) {
    CMainDlg panel(hidden);
    return panel.ShowModal();
}

}  // namespace warden
