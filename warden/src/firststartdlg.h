// The first-start choice of device mode (layout 113): an ePass token or a USB flash disk. It
// stores the choice itself and ends with the chosen mode (1 token, 0 disk), or -1 when closed.
#pragma once
#include <windows.h>

#include "bkdialog.h"
#include "roundframe.h"

namespace warden {

enum : UINT {
    kFirstStartLayout = 113,
    kFirstStartToken = 10001,
    kFirstStartUsbDisk = 10002,
    kFirstStartClose = 60001,
};

class FirstStartDlg : public CBkDialogImpl<FirstStartDlg>, public CWHRoundRectFrameHelper<FirstStartDlg> {
public:
    FirstStartDlg() : CBkDialogImpl<FirstStartDlg>(kFirstStartLayout) {}

    BEGIN_MSG_MAP(FirstStartDlg)
        if (uMsg == WM_NOTIFY && ((LPNMHDR)lParam)->idFrom == kBkViewCtrlId &&
            ((LPNMHDR)lParam)->code == kBkNotifyCommand &&
            OnBkCommand(((const BkCommandNotify*)lParam)->uItemID)) {
            lResult = 1;
            return TRUE;
        }
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        CHAIN_MSG_MAP(CBkDialogImpl<FirstStartDlg>)
        CHAIN_MSG_MAP(CWHRoundRectFrameHelper<FirstStartDlg>)
    END_MSG_MAP()

private:
    BOOL OnBkCommand(UINT id);
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) { return TRUE; }
    void OnChooseToken();
    void OnChooseUsbDisk();
};

}  // namespace warden
