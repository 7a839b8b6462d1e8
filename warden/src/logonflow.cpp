#include "logonflow.h"

#include <stdio.h>
#include <wchar.h>

#include "paneltext.h"
#include "seams.h"

namespace warden {

namespace {
const wchar_t kLoginLabel[] = L"登陆";
const wchar_t kConfirmLabel[] = L"确定";
const wchar_t kChangeLabel[] = L"修改口令";
const wchar_t kCancelChangeLabel[] = L"取消修改";

size_t StoredLength(const uinfo& record) { return wcsnlen(record.lpLogonPWD, kLogonPwdChars); }

// Copies typed text into an entry; text that no entry holds is cut one past what lpLogonPWD takes,
// so that the store refuses it instead of saving a shorter password.
void CopyEntry(wchar_t (&entry)[kLogonPwdChars + 1], const wchar_t* typed) {
    size_t n = wcsnlen(typed, kLogonPwdChars);
    wmemcpy(entry, typed, n);
    entry[n] = 0;
}
}  // namespace

void WipeText(wchar_t* text) {
    if (text) SecureZeroMemory(text, wcslen(text) * sizeof(wchar_t));
}

bool CheckSoftwarePassword(const uinfo& record, const wchar_t* typed) {
    if (!typed) return false;
    const size_t stored = StoredLength(record);
    const size_t given = wcsnlen(typed, kLogonPwdChars + 1);
    if (stored == 0) return wcscmp(typed, kDefaultSoftwarePassword) == 0;
    return given == stored && wmemcmp(typed, record.lpLogonPWD, stored) == 0;
}

LogonStep::~LogonStep() {
    if (!message.empty()) SecureZeroMemory(&message[0], message.size() * sizeof(wchar_t));
}

std::wstring LogonStep::MessageText() const {
    if (!message.empty()) return message;
    return messageId ? PanelStringWithError(messageId, messageError) : std::wstring();
}

LogonFlow::~LogonFlow() { WipeEntries(); }

void LogonFlow::WipeEntries() {
    SecureZeroMemory(first_, sizeof(first_));
    SecureZeroMemory(second_, sizeof(second_));
}

int LogonFlow::Prompt() const {
    if (changeMode_) return kStrChangeOld;
    // An unreadable record may hold a password: never offer the default one then.
    return StoredLength(*record_) || readError_ ? kStrLogonStored : kStrLogonDefault;
}

bool LogonFlow::EndsAtOnce() { return GetMonitorKeyStyle(L"AutoLogonSoft") != 0; }

LogonStep LogonFlow::OnLogin(wchar_t* typed, bool autoLogonChecked) {
    // Stored on every press, whatever follows.
    g_seams.setMonitorKeyStyle(L"AutoLogonSoft", autoLogonChecked ? 1 : 0);
    LogonStep step;
    if (!typed || !typed[0]) {
        step.messageId = kStrTypeSomething;
        return step;
    }
    if (readError_) {
        // "806" stands only for "no password stored": an unreadable record may hold one.
        step.messageId = kStrRecordUnreadable;
        step.messageError = readError_;
        step.clearEdit = true;
        WipeText(typed);
        return step;
    }
    if (!changeMode_) {
        if (CheckSoftwarePassword(*record_, typed))
            step.end = true;
        else
            step.messageId = kStrWrongPassword;
    } else {
        step = ChangeStep(typed);
        // Every later press while changing then stores AutoLogonSoft = 0.
        step.clearAutoLogonCheck = true;
    }
    step.clearEdit = true;
    WipeText(typed);
    return step;
}

LogonStep LogonFlow::ChangeStep(const wchar_t* typed) {
    LogonStep step;
    switch (step_) {
    case 0:
        if (CheckSoftwarePassword(*record_, typed)) {
            step.promptId = kStrChangeNew;
            step_ = 1;
        } else {
            step.messageId = kStrWrongPassword;
        }
        return step;
    case 1:
        CopyEntry(first_, typed);
        step.promptId = kStrChangeRepeat;
        step_ = 2;
        return step;
    default:
        break;
    }
    CopyEntry(second_, typed);
    if (wcscmp(first_, second_) != 0) {
        wchar_t text[kLogonPwdChars + 64];
        _snwprintf(text, _countof(text) - 1, L"两次口令不一至，您上一次输入的口令是\r\n【%ls】", first_);
        text[_countof(text) - 1] = 0;
        step.message = text;
        SecureZeroMemory(text, sizeof(text));
        SecureZeroMemory(second_, sizeof(second_));
        return step;  // the next entry is compared with the same first one
    }
    // Only the password field is rewritten: our whole copy would overwrite a lpUserPWD that the
    // credential provider saved meanwhile.
    SetLastError(0);
    if (!g_seams.setLogonPwd(first_)) {
        DWORD e = GetLastError();
        WipeEntries();
        step_ = 0;
        step.promptId = kStrChangeOld;
        step.messageId = kStrSaveFailed;
        step.messageError = e ? e : ERROR_WRITE_FAULT;
        return step;
    }
    uinfo stored;
    if (GetUserInfo(&stored)) {
        *record_ = stored;
    } else {
        // The store holds the new password; the login must accept it all the same.
        SecureZeroMemory(record_->lpLogonPWD, sizeof(record_->lpLogonPWD));
        wmemcpy(record_->lpLogonPWD, first_, wcsnlen(first_, kLogonPwdChars - 1));
    }
    SecureZeroMemory(&stored, sizeof(stored));
    WipeEntries();
    changeMode_ = false;
    step_ = 0;
    step.modeLabel = kChangeLabel;
    step.loginLabel = kLoginLabel;
    step.promptId = Prompt();
    step.message = L"修改成功，请登陆！";
    return step;
}

LogonStep LogonFlow::OnChangePasswordMode() {
    LogonStep step;
    changeMode_ = !changeMode_;
    step.promptId = Prompt();
    if (changeMode_) {
        step.modeLabel = kCancelChangeLabel;
        step.loginLabel = kConfirmLabel;
        step_ = 0;
    } else {
        step.loginLabel = kLoginLabel;
        step.modeLabel = kChangeLabel;
        WipeEntries();  // never used again: step 1 writes the first entry anew
    }
    step.clearEdit = true;
    return step;
}

}  // namespace warden
