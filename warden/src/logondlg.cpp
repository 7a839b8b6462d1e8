#include "logondlg.h"

#include <vector>

#include "paneltext.h"
#include "panelhost.h"
#include "seams.h"

namespace warden {

namespace {
// Every box of the login: MB_ICONQUESTION with the OK button, as the product always showed it.
constexpr UINT kLogonBoxType = 0x20;

void WipeCString(CString& text) {
    for (int i = 0; i < text.GetLength(); ++i) text.SetAt(i, 0);
    text.Empty();
}
}  // namespace

BOOL UserLogonDlg::OnBkCommand(UINT id) {
    switch (id) {
    case kLogonButton:
        OnLogin();
        return TRUE;
    case kLogonModeLink:
        OnChangePasswordMode();
        return TRUE;
    case kLogonClose:
        EndDialog(-1);
        return TRUE;
    default:
        return FALSE;  // Enter, Esc and Alt+F4 arrive as 1 and 2 and do nothing
    }
}

LRESULT UserLogonDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    // Only "nothing stored" means no password, and so the 806 prompt. Any other failed read leaves the
    // record empty but takes no password at all, and says why.
    SetLastError(0);
    if (!g_seams.getUserInfo(&record_)) {
        DWORD e = GetLastError();
        SecureZeroMemory(&record_, sizeof(record_));
        if (e != ERROR_FILE_NOT_FOUND) flow_.SetReadError(e ? e : ERROR_READ_FAULT);
    }
    UpdatePrompt();
    if (LogonFlow::EndsAtOnce()) EndDialog(0);
    return TRUE;
}

void UserLogonDlg::UpdatePrompt() { SetItemText(kLogonPrompt, PanelString(flow_.Prompt())); }

void UserLogonDlg::OnLogin() {
    CString typed = GetItemText(kLogonEdit);
    std::vector<wchar_t> buffer(typed.GetString(), typed.GetString() + typed.GetLength() + 1);
    WipeCString(typed);
    LogonStep step = flow_.OnLogin(buffer.data(), GetItemCheck(kLogonAutoCheck) != FALSE);
    SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
    Apply(step);
}

void UserLogonDlg::OnChangePasswordMode() { Apply(flow_.OnChangePasswordMode()); }

void UserLogonDlg::Apply(const LogonStep& step) {
    if (step.clearAutoLogonCheck) SetItemCheck(kLogonAutoCheck, FALSE);
    if (step.promptId) SetItemText(kLogonPrompt, PanelString(step.promptId));
    if (step.loginLabel) SetItemText(kLogonButton, step.loginLabel);
    if (step.modeLabel) SetItemText(kLogonModeLink, step.modeLabel);
    // The typed text goes before any box waits for its answer.
    if (step.clearEdit) SetItemText(kLogonEdit, L"");
    std::wstring text = step.MessageText();
    if (!text.empty()) {
        g_panelBox(m_hWnd, text.c_str(), PanelString(kStrCaption), kLogonBoxType);
        SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
    }
    if (step.end) EndDialog(0);
}

}  // namespace warden
