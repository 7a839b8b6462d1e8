// The software login and the password change over the real stored record; the store's refusal
// comes from the Corelib seam.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

#include <string>
#include <vector>

#include "corelib.h"
#include "logonflow.h"
#include "paneltext.h"
#include "panelseams.h"
#include "testsupport.h"

using warden::LogonFlow;
using warden::LogonStep;

namespace {

uinfo RecordWithPassword(const wchar_t* password) {
    uinfo r = {};
    wcscpy(r.lpUserName, L"alice");
    wcscpy(r.lpLogonPWD, password);
    return r;
}

std::vector<BYTE> StoredRecord() {
    std::vector<BYTE> bytes;
    ts::GetValue(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &bytes);
    return bytes;
}

class Logon : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        panelseams::InstallCorelibFakes(&log_);
        log_.realWrites = true;
    }
    void TearDown() override { ts::ResetSettings(); }

    // Stores a record and loads the process copy from it, as the dialog's initialisation does.
    void Store(const wchar_t* password) {
        uinfo r = RecordWithPassword(password);
        ASSERT_TRUE(SetUserInfo(&r));
        ASSERT_TRUE(GetUserInfo(&record_));
    }
    LogonStep Press(const wchar_t* text, bool autoLogon = false) {
        wcsncpy(typed_, text, 199);
        typed_[199] = 0;
        return flow_.OnLogin(typed_, autoLogon);
    }

    ts::Restore<warden::Seams> restore_{warden::g_seams};
    panelseams::Log log_;
    uinfo record_ = {};
    LogonFlow flow_{&record_};
    wchar_t typed_[200] = {};
};

}  // namespace

TEST(SoftwarePassword, ComparesWholeAndExactWith806OnlyWhileNoneIsStored) {
    const struct {
        const wchar_t* stored;
        const wchar_t* typed;
        bool accepted;
    } cases[] = {
        {L"", L"806", true},     {L"", L"abc", false},  {L"", L"ABC", false},   {L"", L"", false},
        {L"", L"8060", false},   {L"", L"80", false},   {L"abc", L"806", false}, {L"abc", L"abc", true},
        {L"abc", L"ABC", false}, {L"abc", L"", false},  {L"abc", L"abcd", false}, {L"abc", L"ab", false},
        {L"806", L"806", true},
    };
    for (const auto& c : cases) {
        uinfo r = RecordWithPassword(c.stored);
        EXPECT_EQ(warden::CheckSoftwarePassword(r, c.typed), c.accepted)
            << ts::Narrow(c.stored) << " / " << ts::Narrow(c.typed);
    }
    // A field with no NUL in it is compared over its whole width, never past it.
    uinfo full = {};
    wmemset(full.lpLogonPWD, L'x', warden::kLogonPwdChars);
    std::wstring typed(warden::kLogonPwdChars, L'x');
    EXPECT_TRUE(warden::CheckSoftwarePassword(full, typed.c_str()));
    EXPECT_FALSE(warden::CheckSoftwarePassword(full, (typed + L"x").c_str()));
}

TEST_F(Logon, LoginEndsOnlyOnTheRightPasswordAndStoresTheAutoLogonCheckOnEveryPress) {
    Store(L"abc");
    EXPECT_EQ(flow_.Prompt(), warden::kStrLogonStored);

    LogonStep empty = Press(L"", true);
    EXPECT_EQ(empty.messageId, warden::kStrTypeSomething);
    EXPECT_FALSE(empty.clearEdit);  // nothing typed: the edit keeps its (empty) text
    LogonStep wrong = Press(L"806", false);
    EXPECT_EQ(wrong.messageId, warden::kStrWrongPassword);
    EXPECT_EQ(wrong.MessageText(), L"口令错误");
    EXPECT_TRUE(wrong.clearEdit);
    EXPECT_FALSE(wrong.end);
    EXPECT_EQ(typed_[0], 0) << "typed text is wiped";
    LogonStep right = Press(L"abc", true);
    EXPECT_TRUE(right.end);
    EXPECT_EQ(panelseams::Joined(log_.calls),
              "switch AutoLogonSoft=1 | switch AutoLogonSoft=0 | switch AutoLogonSoft=1");
}

TEST_F(Logon, NothingStoredShowsThe806PromptAndTakes806) {
    EXPECT_EQ(flow_.Prompt(), warden::kStrLogonDefault);
    EXPECT_STREQ(warden::PanelString(flow_.Prompt()), L"为保证您的系统安全，请输入登陆口令，初始口令为806");
    EXPECT_TRUE(Press(L"806").end);
}

TEST_F(Logon, AFullChangeStoresOnlyThePasswordFieldAndKeepsAUserPasswordSavedMeanwhile) {
    Store(L"");
    LogonStep enter = flow_.OnChangePasswordMode();
    EXPECT_EQ(enter.promptId, warden::kStrChangeOld);
    EXPECT_STREQ(enter.loginLabel, L"确定");
    EXPECT_STREQ(enter.modeLabel, L"取消修改");

    EXPECT_EQ(Press(L"806", true).promptId, warden::kStrChangeNew);
    EXPECT_EQ(Press(L"new-pass").promptId, warden::kStrChangeRepeat);

    // Meanwhile the credential provider stores the Windows password into the same record.
    uinfo other;
    ASSERT_TRUE(GetUserInfo(&other));
    wcscpy(other.lpUserPWD, L"windows-pw");
    ASSERT_TRUE(SetUserInfo(&other));

    LogonStep done = Press(L"new-pass");
    EXPECT_EQ(done.MessageText(), L"修改成功，请登陆！");
    EXPECT_EQ(done.promptId, warden::kStrLogonStored);
    EXPECT_STREQ(done.loginLabel, L"登陆");
    EXPECT_STREQ(done.modeLabel, L"修改口令");
    EXPECT_TRUE(done.clearAutoLogonCheck);
    EXPECT_FALSE(flow_.InChangeMode());

    uinfo stored;
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_STREQ(stored.lpLogonPWD, L"new-pass");
    EXPECT_STREQ(stored.lpUserPWD, L"windows-pw");
    EXPECT_EQ(memcmp(&stored, &record_, sizeof(uinfo)), 0) << "the process copy is read back";
    EXPECT_EQ(std::count(log_.calls.begin(), log_.calls.end(), "logonpwd"), 1);
    EXPECT_EQ(std::count(log_.calls.begin(), log_.calls.end(), "userinfo"), 0) << "the whole record is never written";

    // The new password now opens the panel, the old default does not.
    EXPECT_FALSE(Press(L"806").end);
    EXPECT_TRUE(Press(L"new-pass").end);
    // After the first press in change mode every press stored AutoLogonSoft = 0.
    EXPECT_EQ(log_.calls[0], "switch AutoLogonSoft=1");
}

TEST_F(Logon, AMismatchQuotesTheFirstEntryAndComparesTheNextWithIt) {
    Store(L"abc");
    flow_.OnChangePasswordMode();
    EXPECT_EQ(Press(L"ABC").messageId, warden::kStrWrongPassword);  // the old one, exactly
    EXPECT_EQ(flow_.Step(), 0);
    Press(L"abc");
    Press(L"one");
    LogonStep mismatch = Press(L"two");
    EXPECT_EQ(mismatch.MessageText(), L"两次口令不一至，您上一次输入的口令是\r\n【one】");
    EXPECT_EQ(flow_.Step(), 2);
    EXPECT_EQ(Press(L"one").MessageText(), L"修改成功，请登陆！");
    uinfo stored;
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_STREQ(stored.lpLogonPWD, L"one");
}

TEST_F(Logon, EnteringAndLeavingChangeModeKeepsTheRecordsBytes) {
    Store(L"abc");
    const std::vector<BYTE> before = StoredRecord();
    LogonStep enter = flow_.OnChangePasswordMode();
    EXPECT_TRUE(enter.clearEdit);
    Press(L"abc");
    Press(L"halfway");
    LogonStep leave = flow_.OnChangePasswordMode();
    EXPECT_EQ(leave.promptId, warden::kStrLogonStored);
    EXPECT_STREQ(leave.loginLabel, L"登陆");
    EXPECT_STREQ(leave.modeLabel, L"修改口令");
    EXPECT_EQ(StoredRecord(), before);
    // Entering again starts at the old password, not at the kept entry.
    flow_.OnChangePasswordMode();
    EXPECT_EQ(flow_.Step(), 0);
}

TEST_F(Logon, ARefusedSaveShowsString200AndStartsTheChangeAgain) {
    Store(L"abc");
    const std::vector<BYTE> before = StoredRecord();
    log_.failAt["logonpwd"] = ERROR_ACCESS_DENIED;
    flow_.OnChangePasswordMode();
    Press(L"abc");
    Press(L"new");
    LogonStep refused = Press(L"new");
    EXPECT_EQ(refused.MessageText(), L"保存失败（错误码 5），原有设置未改变，请以管理员身份运行后重试。");
    EXPECT_EQ(refused.promptId, warden::kStrChangeOld);
    EXPECT_TRUE(flow_.InChangeMode());
    EXPECT_EQ(flow_.Step(), 0);
    EXPECT_EQ(StoredRecord(), before);
    EXPECT_TRUE(Press(L"abc").promptId == warden::kStrChangeNew) << "the old password is still the one";
}

TEST_F(Logon, APasswordLongerThanTheFieldIsRefusedNeverCut) {
    Store(L"abc");
    flow_.OnChangePasswordMode();
    Press(L"abc");
    const std::wstring longText(150, L'p');
    Press(longText.c_str());
    LogonStep refused = Press(longText.c_str());
    EXPECT_EQ(refused.messageId, warden::kStrSaveFailed);
    uinfo stored;
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_STREQ(stored.lpLogonPWD, L"abc");
}
