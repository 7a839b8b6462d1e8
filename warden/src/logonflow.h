// The software login and the password change, as decisions over the process's user record. The
// login dialog shows what each step returns and owns nothing else.
#pragma once
#include <windows.h>

#include <string>

#include "corelib.h"

namespace warden {

constexpr wchar_t kDefaultSoftwarePassword[] = L"806";
constexpr size_t kLogonPwdChars = sizeof(reinterpret_cast<uinfo*>(0)->lpLogonPWD) / sizeof(wchar_t);  // 140

// The one comparison of the software password: whole and exact against lpLogonPWD, and "806" only
// while no password is stored.
bool CheckSoftwarePassword(const uinfo& record, const wchar_t* typed);

// What the dialog does after a press. Zero and null members leave that part as it is.
struct LogonStep {
    int promptId = 0;                      // new string of the prompt item 10006
    const wchar_t* loginLabel = nullptr;   // new text of button 10001
    const wchar_t* modeLabel = nullptr;    // new text of link 10002
    int messageId = 0;                     // a box with this string (200 with messageError)
    DWORD messageError = 0;
    std::wstring message;                  // or a box with this text
    bool clearAutoLogonCheck = false;      // uncheck 10004 and redraw it
    bool clearEdit = false;                // empty the password edit 10003
    bool end = false;                      // end the dialog with 0
    LogonStep() = default;
    LogonStep(LogonStep&& other) noexcept = default;
    LogonStep& operator=(LogonStep&&) = default;
    ~LogonStep();  // the mismatch text quotes a password: wiped
    // The box's text: message, or the string of messageId.
    std::wstring MessageText() const;
};

class LogonFlow {
public:
    explicit LogonFlow(uinfo* record) : record_(record) {}
    ~LogonFlow();
    LogonFlow(const LogonFlow&) = delete;
    LogonFlow& operator=(const LogonFlow&) = delete;

    // The prompt's string: 43 in change mode, else 46 with a password stored, else 42.
    int Prompt() const;
    // "登陆" / "确定": the dialog ends itself at once while AutoLogonSoft is on (missing reads 1).
    static bool EndsAtOnce();

    // Button 10001. typed is the edit's text; it is wiped before this returns.
    LogonStep OnLogin(wchar_t* typed, bool autoLogonChecked);
    // Link 10002: enter or leave the change mode.
    LogonStep OnChangePasswordMode();

    // The record could not be read for another reason than "nothing stored": no password, not even
    // the default one, is taken, since the stored one may exist. 0 clears it.
    void SetReadError(DWORD error) { readError_ = error; }
    DWORD ReadError() const { return readError_; }

    bool InChangeMode() const { return changeMode_; }
    int Step() const { return step_; }

private:
    LogonStep ChangeStep(const wchar_t* typed);
    void WipeEntries();

    uinfo* record_;
    DWORD readError_ = 0;
    bool changeMode_ = false;
    int step_ = 0;
    wchar_t first_[kLogonPwdChars + 1] = {};
    wchar_t second_[kLogonPwdChars + 1] = {};
};

// Wipes a NUL-terminated text in place.
void WipeText(wchar_t* text);

}  // namespace warden
