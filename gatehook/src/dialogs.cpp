// The three dialogs of the GINA: boot key notice, emergency login and locked notice.
#include "internal.h"

#include <dbt.h>
#include <strsafe.h>
#include <wchar.h>

#include "prefs.h"
#include "resource.h"

namespace gatehook {

namespace {

const int kHotKeyId = 0xCCCC;
const int kMaxWrongPasswords = 3;
const DWORD kShutdownNoticeMs = 2000;

// The dialogs run on Winlogon's thread, one at a time per kind.
HDEVNOTIFY g_bootNotices[2];
HDEVNOTIFY g_lockedNotices[2];
bool g_emergencyOpen = false;
unsigned g_wrongPasswords = 0;  // survives reopening; only a right password resets it
// The locked notice unlocks on a key arrival only once it has seen the key absent, on two reads that
// agree: with the key left in at the lock (the interval lock, Win+L), or one read that failed, any
// plugged device would otherwise unlock.
bool g_keySeenAbsent = false;
wchar_t g_lockMessage[260];
wchar_t g_userPicture[260];
HBITMAP g_picture = nullptr;


// The typed password does not outlive the dialog in its edit control.
void EndEmergency(HWND dlg, INT_PTR result) {
    SetDlgItemTextW(dlg, IDC_PASSWORD, L"");
    EndDialog(dlg, result);
}

void OnEmergencyOk(HWND dlg) {
    wchar_t typed[255] = {};  // at most 254 characters
    GetDlgItemTextW(dlg, IDC_PASSWORD, typed, 255);
    if (!typed[0]) return;

    // Against the record as stored now. One that cannot be read holds no password to compare: its
    // zeros would make the default "806" valid and let msgina log on with the auto-logon values.
    if (!RefreshRecord()) {
        SecureZeroMemory(typed, sizeof(typed));
        SetDlgItemTextW(dlg, IDC_EMERGENCY_STATUS, L"无法读取用户信息，紧急登录不可用。");
        Log(L"紧急登录被拒绝：无法读取用户信息。");
        return;
    }

    uinfo snap;
    SnapshotRecord(&snap);
    bool right = wcsnlen(snap.lpLogonPWD, 140) == 0 ? wcscmp(typed, L"806") == 0
                                                    : FieldEquals(snap.lpLogonPWD, 140, typed);
    bool keyIn = right && g_seams.VerifyUserInfo(&snap) != FALSE;
    SecureZeroMemory(&snap, sizeof(snap));
    SecureZeroMemory(typed, sizeof(typed));

    if (right) {
        // The session about to start has no key: the watch must not lock it at once.
        if (!keyIn) SetMonitorKeyStyle(GH_SWITCH_REMOVE_LOCK, 0);
        g_wrongPasswords = 0;
        EndEmergency(dlg, 1);
        return;
    }

    ++g_wrongPasswords;
    if (g_wrongPasswords < static_cast<unsigned>(kMaxWrongPasswords)) {
        wchar_t text[64];
        StringCchPrintfW(text, 64, L"口令输入错误，您还可以尝试%d次。",
                         kMaxWrongPasswords - static_cast<int>(g_wrongPasswords));
        SetDlgItemTextW(dlg, IDC_EMERGENCY_STATUS, text);
        Beep(50, 50);
        return;
    }
    SetDlgItemTextW(dlg, IDC_EMERGENCY_STATUS, L"口令3次输入错误，Windows将自动关机！");
    // Paint the notice now: the pause below blocks this thread's painting.
    RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
    g_seams.Pause(kShutdownNoticeMs);
    EndEmergency(dlg, IDC_SHUTDOWN_BUTTON);
}

}  // namespace


INT_PTR CALLBACK DisplaySASNoticeDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        DEBUG_MSG_B("%s", "DisplaySASNoticeDlgProc");
        if (KeyPresent()) EndDialog(dlg, 1);
        CenterWindowTopmost(dlg);
        RegisterKeyNotices(dlg, g_bootNotices);
        if (!RegisterHotKey(dlg, kHotKeyId, 0, VK_F8)) DEBUG_MSG("RegisterHotKey=%d", static_cast<int>(GetLastError()));
        return TRUE;
    case WM_DEVICECHANGE:
        // The record is the module's one, read at initialisation or by a running key watch.
        if (IsKeyArrival(wp, lp) && KeyPresent()) EndDialog(dlg, 1);
        return TRUE;
    case WM_HOTKEY:
        if (!g_emergencyOpen) {
            INT_PTR r = DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_EMERGENCY), dlg, EmergencyDlgProc, 0);
            if (r == 1 || r == IDC_SHUTDOWN_BUTTON) EndDialog(dlg, r);
        }
        return TRUE;
    case WM_COMMAND:
        // Only F8 leads to the emergency login; the button only shuts down, and Esc does nothing.
        if (LOWORD(wp) == IDC_SHUTDOWN_BUTTON) EndDialog(dlg, IDC_SHUTDOWN_BUTTON);
        return TRUE;
    case WM_DESTROY:
        UnregisterHotKey(dlg, kHotKeyId);
        UnregisterKeyNotices(g_bootNotices);
        DEBUG_MSG_E("%s", "DisplaySASNoticeDlgProc");
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK EmergencyDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        DEBUG_MSG_B("%s", "EmergencyDlgProc");
        g_emergencyOpen = true;
        CenterWindowTopmost(dlg);
        return TRUE;
    case WM_DESTROY:
        SetDlgItemTextW(dlg, IDC_PASSWORD, L"");  // however the dialog ended
        g_emergencyOpen = false;
        DEBUG_MSG_E("%s", "EmergencyDlgProc");
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDOK:
            OnEmergencyOk(dlg);
            return TRUE;
        case IDCANCEL:
            EndEmergency(dlg, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK WkstaLockedSASDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        DEBUG_MSG_B("%s", "WkstaLockedSASDlgProc");
        CenterWindowTopmost(dlg);
        wchar_t ini[260] = {};
        ZarnRegByDllPath(ini, L"\\Config.ini");
        ini[259] = 0;
        prefs::Read(ini, L"Preferences", L"LockMes", L"", g_lockMessage, 260);
        prefs::Read(ini, L"Preferences", L"UserPic", L"", g_userPicture, 260);
        RegisterKeyNotices(dlg, g_lockedNotices);

        SetDlgItemTextW(dlg, IDC_LOCK_MESSAGE, g_lockMessage);
        uinfo snap;
        SnapshotRecord(&snap);
        wchar_t name[50];
        lstrcpynW(name, snap.lpUserName, 50);
        SetDlgItemTextW(dlg, IDC_USER_NAME, name);
        SecureZeroMemory(&snap, sizeof(snap));
        bool absent = !KeyPresent() && SecondReadAbsent();
        g_keySeenAbsent = absent;
        bool needKey = GetMonitorKeyStyle(GH_SWITCH_UNLOCK_KEY) != 0 ||
                       (GetMonitorKeyStyle(GH_SWITCH_REMOVE_LOCK) != 0 && absent);
        EnableWindow(GetDlgItem(dlg, IDOK), needKey ? FALSE : TRUE);
        if (needKey) SetDlgItemTextW(dlg, IDC_LOCK_STATUS, L"请插入KEY解锁计算机");

        StopKeyWatch();  // no locking while the notice is up
        if (g_picture) DeleteObject(g_picture);
        g_picture = keydlg::LoadUserPicture(g_userPicture, Instance(), IDB_DEFAULT_USER);  // once, not at every paint
        return FALSE;    // no focus of its own
    }
    case WM_COMMAND:
        // A disabled button must not be pressed by a stray command either.
        if (LOWORD(wp) == IDOK && IsWindowEnabled(GetDlgItem(dlg, IDOK))) {
            StartKeyWatchThread();
            EndDialog(dlg, IDOK);
        }
        return TRUE;
    case WM_DEVICECHANGE:
        if (wp == DBT_DEVICEREMOVECOMPLETE) {
            RefreshRecord();
            if (!g_keySeenAbsent && !KeyPresent() && SecondReadAbsent()) g_keySeenAbsent = true;
        } else if (IsKeyArrival(wp, lp)) {
            RefreshRecord();
            if (KeyPresent()) {
                if (g_keySeenAbsent) {
                    StartKeyWatchThread();
                    EndDialog(dlg, IDOK);
                }
            } else if (!g_keySeenAbsent && SecondReadAbsent()) {
                g_keySeenAbsent = true;
            }
        }
        return TRUE;
    case WM_PAINT: {
        // The default painting first: the dialog's background erase would cover the picture.
        PAINTSTRUCT ps;
        if (BeginPaint(dlg, &ps)) EndPaint(dlg, &ps);
        keydlg::PaintPicture(GetDlgItem(dlg, IDC_USER_PICTURE), g_picture);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wp);
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lp)) == IDC_LOCK_STATUS) SetTextColor(dc, RGB(255, 0, 0));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DESTROY:
        UnregisterKeyNotices(g_lockedNotices);
        if (g_picture) DeleteObject(g_picture);
        g_picture = nullptr;
        DEBUG_MSG_E("%s", "WkstaLockedSASDlgProc");
        return FALSE;
    }
    return FALSE;
}

}  // namespace gatehook
