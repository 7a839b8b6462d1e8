#include "firststartdlg.h"

#include "keys.h"
#include "paneltext.h"
#include "panelhost.h"

namespace warden {

BOOL FirstStartDlg::OnBkCommand(UINT id) {
    switch (id) {
    case kFirstStartToken:
        Choose(1);
        return TRUE;
    case kFirstStartUsbDisk:
        Choose(0);
        return TRUE;
    case kFirstStartClose:
        EndDialog(-1);  // the mode stays as it was: -1 asks again at the next start
        return TRUE;
    default:
        return FALSE;
    }
}

void FirstStartDlg::Choose(int mode) {
    const DWORD e = ChooseDeviceMode(mode, storesChoice_);
    if (e == 0) {
        EndDialog(mode);
    } else if (e == ERROR_DEVICE_NOT_CONNECTED) {
        // No token (or none with an accepted label): the user may choose again or close.
        g_panelBox(m_hWnd, kNoTokenForModeText, PanelString(kStrCaption), MB_ICONINFORMATION | MB_OK);
    } else {
        // Ending would leave the mode unchosen while the panel went on as if it were.
        g_panelBox(m_hWnd, PanelStringWithError(kStrSaveFailed, e).c_str(), PanelString(kStrCaption),
                   MB_ICONERROR | MB_OK);
    }
}

}  // namespace warden
