#include "firststartdlg.h"

#include "keys.h"
#include "paneltext.h"
#include "panelhost.h"

namespace warden {

BOOL FirstStartDlg::OnBkCommand(UINT id) {
    switch (id) {
    case kFirstStartToken:
        OnChooseToken();
        return TRUE;
    case kFirstStartUsbDisk:
        OnChooseUsbDisk();
        return TRUE;
    case kFirstStartClose:
        EndDialog(-1);  // the mode stays as it was: -1 asks again at the next start
        return TRUE;
    default:
        return FALSE;
    }
}

void FirstStartDlg::OnChooseToken() {
    if (ChooseTokenMode()) {
        EndDialog(1);
        return;
    }
    // No token (or none with an accepted label): the user may choose again or close.
    g_panelBox(m_hWnd, kNoTokenForModeText, PanelString(kStrCaption), MB_ICONINFORMATION | MB_OK);
}

void FirstStartDlg::OnChooseUsbDisk() {
    ChooseUsbDiskMode();
    EndDialog(0);
}

}  // namespace warden
