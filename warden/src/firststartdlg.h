// The first-start choice of device mode (layout 113): an ePass token or a USB flash disk. It ends
// with the chosen mode (1 token, 0 disk), or -1 when closed. At first start it stores the choice
// itself before it ends (a refused write is shown and the dialog stays); the main panel's change of
// mode passes storesChoice false and stores the mode only once the old mode's protections are off.
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
    explicit FirstStartDlg(bool storesChoice = true)
        : CBkDialogImpl<FirstStartDlg>(kFirstStartLayout), storesChoice_(storesChoice) {}

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
    void Choose(int mode);

    bool storesChoice_;
};

}  // namespace warden
