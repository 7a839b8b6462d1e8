// Corelib's own key dialogs: the boot key notice (121) and the locked notice (136), shown from any
// program through the IWindowUI object that GetWindowUI hands out. They follow the GINA's dialogs
// of the same numbers, except that the boot notice ends on F8 instead of opening an emergency login
// and the locked notice takes part in the service's lock-record exchange.
#include "internal.h"
#include "sharedmem_internal.h"

#include <dbt.h>
#include <new>
#include <string.h>

#include "keydlg.h"
#include "prefs.h"
#include "res/corelib_res.h"

namespace corelib {
namespace {

using keydlg::CenterWindowTopmost;
using keydlg::IsKeyArrival;
using keydlg::RegisterKeyNotices;
using keydlg::UnregisterKeyNotices;

const int kF8Result = VK_F8;  // 119: the caller's cue for its emergency path
const wchar_t kBootNoticeProp[] = L"CorelibBootNotice";
const wchar_t kIntervalLockText[] = L"间隔时间锁定计算机，您可以禁用些功能。";
const wchar_t kKeyRemovedText[] = L"认证KEY已取下，计算机进入锁定状态。";
// The pause between the two reads that must agree before the key counts as absent.
const DWORD kAbsentConfirmMs = 250;

// Everything one showing of a dialog needs. It lives on the caller's stack for the length of
// ShowDialog, so two threads showing dialogs at once never share a record.
struct DialogState {
    uinfo user;
    LockRecord lock;
    HDEVNOTIFY notices[2];
    HHOOK keyHook;
    HBITMAP picture;
    // The locked notice unlocks on a key arrival only once it has seen the key absent: a key left in
    // at the lock (the interval lock, Win+L) would otherwise let any plugged device unlock.
    bool keySeenAbsent;
    wchar_t message[260];
    wchar_t picturePath[260];
};

DialogState* StateOf(HWND dlg) { return reinterpret_cast<DialogState*>(GetWindowLongPtrW(dlg, DWLP_USER)); }

bool KeyPresent(const uinfo* record) { return g_seams.VerifyUserInfo(record) != FALSE; }

// As on the credential tile, the key counts as absent only when a second read a moment after the
// first agrees: one read that failed (a busy token, a device list being rebuilt) is no removal, and
// the next arrival of any device would otherwise unlock with the key left in.
bool SecondReadAbsent(const uinfo* record) {
    Sleep(kAbsentConfirmMs);
    return !KeyPresent(record);
}
bool AbsentOnTwoReads(const uinfo* record) { return !KeyPresent(record) && SecondReadAbsent(record); }


// The boot notice's own key test, the same choice VerifyUserInfo makes: any non-zero device mode,
// -1 (not yet chosen) included, is the token.
bool BootKeyPresent(const uinfo* record) {
    if (GetMonitorKeyStyle(L"QJ_AppDriveMode") != 0) return UE_CheckEpasByDriveID(record) != FALSE;
    return UP_CheckUDeskByDriveID(record) != FALSE;
}

// A key-up goes to whichever control holds the focus, never to the dialog procedure, so F8 is
// caught on its way out of the thread's queue. Only windows of a boot notice count. With no focus
// at all the active window gets the key as a system key.
LRESULT CALLBACK F8Hook(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && wp == PM_REMOVE) {
        MSG* m = reinterpret_cast<MSG*>(lp);
        if ((m->message == WM_KEYUP || m->message == WM_SYSKEYUP) && m->wParam == VK_F8 && m->hwnd) {
            HWND root = GetAncestor(m->hwnd, GA_ROOT);
            if (root && GetPropW(root, kBootNoticeProp)) {
                EndDialog(root, kF8Result);
                m->message = WM_NULL;
            }
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

INT_PTR CALLBACK DlgProcWinLogo(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        DEBUG_MSG_B("%s", "DlgProcWinLogo");
        DialogState* s = reinterpret_cast<DialogState*>(lp);
        SetWindowLongPtrW(dlg, DWLP_USER, lp);
        GetUserInfo(&s->user);
        SetPropW(dlg, kBootNoticeProp, reinterpret_cast<HANDLE>(1));
        s->keyHook = SetWindowsHookExW(WH_GETMESSAGE, F8Hook, nullptr, GetCurrentThreadId());
        if (!s->keyHook) DEBUG_MSG("SetWindowsHookEx=%d", static_cast<int>(GetLastError()));
        CenterWindowTopmost(dlg);
        RegisterKeyNotices(dlg, s->notices, g_seams.RegisterDeviceNotificationW);
        if (BootKeyPresent(&s->user)) EndDialog(dlg, 1);
        return TRUE;  // the system's focus: the "◎" button
    }
    case WM_DEVICECHANGE: {
        DialogState* s = StateOf(dlg);
        if (s && IsKeyArrival(wp, lp) && BootKeyPresent(&s->user)) EndDialog(dlg, 1);
        SetWindowLongPtrW(dlg, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_COMMAND:
        // Only the "◎" button ends the notice; Enter and Esc do nothing.
        if (LOWORD(wp) == IDC_LIB_SHUTDOWN_BUTTON) EndDialog(dlg, IDC_LIB_SHUTDOWN_BUTTON);
        return TRUE;
    case WM_DESTROY: {
        DialogState* s = StateOf(dlg);
        if (s) {
            if (s->keyHook) UnhookWindowsHookEx(s->keyHook);
            s->keyHook = nullptr;
            UnregisterKeyNotices(s->notices);
        }
        RemovePropW(dlg, kBootNoticeProp);
        DEBUG_MSG_E("%s", "DlgProcWinLogo");
        return FALSE;
    }
    }
    return FALSE;
}

// Button 1 and a key arrival end the notice the same way: the service waiting after a lock is told.
void EndLockedNotice(HWND dlg, const DialogState* s) {
    if (s->lock.enuLockType != LOCKTYPE_NONE) SignalAlertEvent();
    EndDialog(dlg, IDOK);
}

INT_PTR CALLBACK DlgProcaLocked(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        DEBUG_MSG_B("%s", "DlgProcaLocked");
        DialogState* s = reinterpret_cast<DialogState*>(lp);
        SetWindowLongPtrW(dlg, DWLP_USER, lp);
        GetUserInfo(&s->user);
        wchar_t ini[260] = {};
        ZarnRegByDllPath(ini, L"\\Config.ini");
        ini[259] = 0;
        prefs::Read(ini, L"Preferences", L"LockMes", L"", s->message, 260);
        prefs::Read(ini, L"Preferences", L"UserPic", L"", s->picturePath, 260);
        RegisterKeyNotices(dlg, s->notices, g_seams.RegisterDeviceNotificationW);

        SetDlgItemTextW(dlg, IDC_LIB_LOCK_MESSAGE, s->message);
        wchar_t name[50];
        lstrcpynW(name, s->user.lpUserName, 50);  // terminated even when the stored field is not
        SetDlgItemTextW(dlg, IDC_LIB_USER_NAME, name);

        // Read once, which clears it; without a service the buffer stays zero: nothing pending.
        DWORD e = ReadFromSharedMemory(&s->lock, sizeof(s->lock));
        if (e) DEBUG_MSG("ReadFromSharedMemory=%d", static_cast<int>(e));
        BOOL enable = GetMonitorKeyStyle(L"QJ_SuoPingCheckKey") == 0;
        switch (s->lock.enuLockType) {
        case LOCKTYPE_INTERVAL:
            SetDlgItemTextW(dlg, IDC_LIB_LOCK_STATUS, kIntervalLockText);
            break;
        case LOCKTYPE_KEY_REMOVED:
            SetDlgItemTextW(dlg, IDC_LIB_LOCK_STATUS, kKeyRemovedText);
            break;
        case LOCKTYPE_NONE:
            enable = TRUE;
            break;
        }
        EnableWindow(GetDlgItem(dlg, IDOK), enable);
        s->keySeenAbsent = AbsentOnTwoReads(&s->user);

        s->picture = keydlg::LoadUserPicture(s->picturePath, ModuleHandle(), IDB_LIB_DEFAULT_USER);  // once, not at every paint
        return FALSE;  // no focus of its own
    }
    case WM_COMMAND: {
        // Enter reaches here as IDOK even while the button is disabled: only an enabled button unlocks.
        DialogState* s = StateOf(dlg);
        if (s && LOWORD(wp) == IDOK && IsWindowEnabled(GetDlgItem(dlg, IDOK))) EndLockedNotice(dlg, s);
        return TRUE;
    }
    case WM_DEVICECHANGE: {
        DialogState* s = StateOf(dlg);
        if (s && wp == DBT_DEVICEREMOVECOMPLETE) {
            if (!s->keySeenAbsent && AbsentOnTwoReads(&s->user)) s->keySeenAbsent = true;
        } else if (s && IsKeyArrival(wp, lp)) {
            if (KeyPresent(&s->user)) {
                if (s->keySeenAbsent) EndLockedNotice(dlg, s);
            } else if (!s->keySeenAbsent && SecondReadAbsent(&s->user)) {
                s->keySeenAbsent = true;
            }
        }
        SetWindowLongPtrW(dlg, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_PAINT: {
        // The dialog's own painting first: its background erase would cover the picture.
        DialogState* s = StateOf(dlg);
        PAINTSTRUCT ps;
        if (BeginPaint(dlg, &ps)) EndPaint(dlg, &ps);
        if (s) keydlg::PaintPicture(GetDlgItem(dlg, IDC_LIB_USER_PICTURE), s->picture);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wp);
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lp)) == IDC_LIB_LOCK_STATUS) SetTextColor(dc, RGB(255, 0, 0));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DESTROY: {
        DialogState* s = StateOf(dlg);
        if (s) {
            UnregisterKeyNotices(s->notices);
            if (s->picture) DeleteObject(s->picture);
            s->picture = nullptr;
        }
        DEBUG_MSG_E("%s", "DlgProcaLocked");
        return FALSE;
    }
    }
    return FALSE;
}

class DLGLockSystem final : public IWindowUI {
public:
    int ShowDialog(int dialogId) override {
        DLGPROC proc;
        switch (dialogId) {
        case IDD_LIB_BOOT_NOTICE:
            proc = DlgProcWinLogo;
            break;
        case IDD_LIB_LOCKED_NOTICE:
            proc = DlgProcaLocked;
            break;
        default:
            return 0;
        }
        DialogState state;
        memset(&state, 0, sizeof(state));
        INT_PTR r = DialogBoxParamW(ModuleHandle(), MAKEINTRESOURCEW(dialogId), nullptr, proc,
                                    reinterpret_cast<LPARAM>(&state));
        if (r == -1) DEBUG_MSG("DialogBoxParam=%d", static_cast<int>(GetLastError()));
        SecureZeroMemory(&state, sizeof(state));  // the record holds passwords
        return static_cast<int>(r);
    }
    void SetValue(int value) override { value_ = value; }
    void Release() override { delete this; }

private:
    int value_ = 0;
};

}  // namespace
}  // namespace corelib

extern "C" {

IWindowUI* CORELIB_CALL GetWindowUI(void) {
    return new (std::nothrow) corelib::DLGLockSystem();
}

}  // extern "C"
