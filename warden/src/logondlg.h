// The software login (layout 514): asks for the software password before the main panel opens and
// lets the user change it. The decisions are LogonFlow's; this dialog shows what each press returns.
#pragma once
#include <windows.h>

#include "bkdialog.h"
#include "corelib.h"
#include "logonflow.h"
#include "roundframe.h"

namespace warden {

enum : UINT {
    kLogonLayout = 514,
    kLogonButton = 10001,   // "登陆" / "确定"
    kLogonModeLink = 10002, // "重设口令" / "修改口令" / "取消修改"
    kLogonEdit = 10003,
    kLogonAutoCheck = 10004,
    kLogonPrompt = 10006,
    kLogonClose = 60001,
};

class UserLogonDlg : public CBkDialogImpl<UserLogonDlg>, public CWHRoundRectFrameHelper<UserLogonDlg> {
public:
    UserLogonDlg() : CBkDialogImpl<UserLogonDlg>(kLogonLayout), flow_(&record_) {}
    ~UserLogonDlg() { SecureZeroMemory(&record_, sizeof(record_)); }
    UserLogonDlg(const UserLogonDlg&) = delete;
    UserLogonDlg& operator=(const UserLogonDlg&) = delete;

    const LogonFlow& Flow() const { return flow_; }

    BEGIN_MSG_MAP(UserLogonDlg)
        if (uMsg == WM_NOTIFY && ((LPNMHDR)lParam)->idFrom == kBkViewCtrlId &&
            ((LPNMHDR)lParam)->code == kBkNotifyCommand &&
            OnBkCommand(((const BkCommandNotify*)lParam)->uItemID)) {
            lResult = 1;
            return TRUE;
        }
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        CHAIN_MSG_MAP(CBkDialogImpl<UserLogonDlg>)
        CHAIN_MSG_MAP(CWHRoundRectFrameHelper<UserLogonDlg>)
        // The edit's EN_CHANGE goes back to it: only so does the element's text follow the typing.
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    // TRUE for the items this dialog acts on; others go on to the template.
    BOOL OnBkCommand(UINT id);
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    void UpdatePrompt();
    void OnLogin();
    void OnChangePasswordMode();
    void Apply(const LogonStep& step);

    uinfo record_ = {};
    LogonFlow flow_;
};

}  // namespace warden
