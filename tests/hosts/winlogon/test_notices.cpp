// The boot key notice (121) and the emergency login behind F8 (143), run for real.
#include "fixture.h"

namespace host {
namespace {

const wchar_t kEnrolledInstance[] = L"7&1a2b3c4d&0&RM";
const wchar_t kOtherInstance[] = L"7&99999999&0&RM";
const wchar_t kTwoLeft[] = L"口令输入错误，您还可以尝试2次。";
const wchar_t kOneLeft[] = L"口令输入错误，您还可以尝试1次。";
const wchar_t kShutdownText[] = L"口令3次输入错误，Windows将自动关机！";

class GatehookBootNotice : public GatehookKeyHost {
protected:
    void SetUp() override {
        GatehookHost::SetUp();
        SetUpKeys(kEnrolledInstance, kOtherInstance,
                  {{L"QJ_KaiJiChcekKey", 1}, {L"QJ_RemoveLock", 1}, {L"QJ_IntervalMonitor", 0}}, password_);
    }
    void Boot() {
        ASSERT_TRUE(W.Boot(L"full"));
        lstrcpynW(W.standin->userName, L"Admin", 64);
    }
    std::wstring password_;
};

TEST_F(GatehookBootNotice, KeyPresentAtOpenGoesStraightToMsgina) {
    ASSERT_TRUE(key_.Plug());
    Boot();
    Watchdog dog(4000, "the boot notice stayed up with the key present");
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_LOGON);
    dog.Done();
    ASSERT_EQ(W.dialogs.size(), 1u);
    EXPECT_EQ(W.dialogs[0].templateId, 121u);
    EXPECT_EQ(W.CountOf(SE_LoggedOutSAS), 1);
}

TEST_F(GatehookBootNotice, TokenArrivalEndsTheNoticeInTokenMode) {
    SetSwitch(L"QJ_AppDriveMode", 1);
    uinfo r = {};
    lstrcpynW(r.lpUserName, L"Admin", 50);
    r.ulTokenSerial = ts::tokensim::Fold(0x1234, 0x10);
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &r, sizeof(r)));
    Boot();
    Driver d([&](Driver& d) {
        HWND n = d.WaitBootNotice();
        if (!n) return;
        ts::tokensim::Insert({ts::tokensim::MakeToken(0x1234, 0x10, "ZARN-1")});
        d.Arrival(n, DBT_DEVTYP_DEVICEINTERFACE);
        if (!d.WaitGone(n)) d.Fail("the notice stayed up with the token in");
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_LOGON);
}

// "◎" shuts down, Enter and Esc do nothing, and none of them opens the emergency login.
TEST_F(GatehookBootNotice, ButtonShutsDownAndOtherCommandsDoNothing) {
    Boot();
    Driver d([&](Driver& d) {
        HWND n = d.WaitBootNotice();
        if (!n) return;
        EXPECT_EQ(d.Text(n, 1019), L"◎");
        d.Command(n, IDCANCEL);
        d.Command(n, IDOK);
        if (!d.StaysUp(n)) return d.Fail("Enter or Esc closed the notice");
        EXPECT_EQ(d.CountTitled(HOST_EMERGENCY_TITLE), 0);
        d.Click(n, 1019);
        if (!d.WaitGone(n)) return d.Fail("the button did not end the notice");
        EXPECT_EQ(d.CountTitled(HOST_EMERGENCY_TITLE), 0);
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_SHUTDOWN);
    d.Join();
    EXPECT_EQ(W.CountOf(SE_LoggedOutSAS), 0);
}

// F8 opens one emergency login however often it is pressed; a cancel leaves the notice up.
TEST_F(GatehookBootNotice, F8OpensOneEmergencyLogin) {
    Boot();
    Driver d([&](Driver& d) {
        HWND n = nullptr;
        HWND e = d.OpenEmergency(&n);
        if (!e) return;
        d.PressF8();
        // Nothing to wait on when nothing should happen: a second login would show within this time.
        EXPECT_FALSE(WaitFor([&]() { return d.CountTitled(HOST_EMERGENCY_TITLE) > 1; }, 500))
            << "F8 opened a second emergency login";
        EXPECT_EQ(d.CountTitled(HOST_EMERGENCY_TITLE), 1);
        EXPECT_EQ(GetWindow(e, GW_OWNER), n) << "the notice owns the emergency login";
        EXPECT_EQ(d.Text(e, 1042), L".");
        d.Click(e, IDCANCEL);
        if (!d.WaitGone(e)) return d.Fail("Cancel did not close the emergency login");
        if (!d.StaysUp(n)) return d.Fail("the notice closed with the emergency login");
        d.Command(n, 1019);
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_SHUTDOWN);
}

// The hot key belongs to the notice only while it is up: the next notice gets it again.
TEST_F(GatehookBootNotice, F8StillWorksAtTheNextNotice) {
    Boot();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Driver d([&](Driver& d) {
            HWND n = nullptr;
            HWND e = d.OpenEmergency(&n);
            if (!e) return;
            d.Click(e, IDCANCEL);
            d.WaitGone(e);
            d.Command(n, 1019);
        });
        EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_SHUTDOWN);
    }
}

TEST_F(GatehookBootNotice, EmptyPasswordDoesNothing) {
    Boot();
    Driver d([&](Driver& d) {
        HWND n = nullptr;
        HWND e = d.OpenEmergency(&n);
        if (!e) return;
        d.Click(e, IDOK);
        if (!d.StaysUp(e)) return d.Fail("an empty password closed the emergency login");
        EXPECT_EQ(d.Text(e, 1042), L".");
        d.Command(e, IDCANCEL);
        d.WaitGone(e);
        d.Command(n, 1019);
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_SHUTDOWN);
}

struct PasswordCase {
    const char* name;
    const wchar_t* stored;
    const wchar_t* typed;
    bool right;
};
// Named in test output by its case name.
void PrintTo(const PasswordCase& c, std::ostream* os) { *os << c.name; }
const PasswordCase kPasswords[] = {
    {"DefaultAccepted", L"", L"806", true},
    {"DefaultOnlyWhenNoneStored", L"Secret1", L"806", false},
    {"StoredAccepted", L"Secret1", L"Secret1", true},
    {"StoredComparedWithCase", L"Secret1", L"secret1", false},
    {"StoredNotAPrefix", L"Secret1", L"Secret", false},
    {"StoredNotExtended", L"Secret1", L"Secret12", false},
    {"OtherThanDefault", L"", L"807", false},
};

class GatehookEmergencyPassword : public GatehookBootNotice, public ::testing::WithParamInterface<PasswordCase> {
protected:
    void SetUp() override {
        password_ = GetParam().stored;
        GatehookBootNotice::SetUp();
    }
};

// A right password without the key logs on and switches the key-removal lock off for the session.
TEST_P(GatehookEmergencyPassword, OpensTheLogonOnlyForTheRightPassword) {
    const PasswordCase& c = GetParam();
    Boot();
    Driver d([&](Driver& d) {
        HWND n = nullptr;
        HWND e = d.OpenEmergency(&n);
        if (!e) return;
        d.TryPassword(e, c.typed);
        if (c.right) {
            if (!d.WaitGone(n)) d.Fail("the right password left the notice up");
            return;
        }
        if (!d.StaysUp(e)) return d.Fail("a wrong password closed the emergency login");
        EXPECT_EQ(d.TextBecomes(e, 1042, kTwoLeft), kTwoLeft);
        d.Command(e, IDCANCEL);
        d.WaitGone(e);
        d.Command(n, 1019);
    });
    int action = W.LoggedOutSAS();
    d.Join();
    EXPECT_EQ(action, c.right ? WLX_SAS_ACTION_LOGON : WLX_SAS_ACTION_SHUTDOWN);
    EXPECT_EQ(Switch(L"QJ_RemoveLock"), c.right ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Winlogon, GatehookEmergencyPassword, ::testing::ValuesIn(kPasswords),
                         [](const ::testing::TestParamInfo<PasswordCase>& i) { return std::string(i.param.name); });

TEST_F(GatehookBootNotice, RightPasswordWithTheKeyInKeepsTheRemovalLock) {
    Boot();
    Driver d([&](Driver& d) {
        HWND n = nullptr;
        HWND e = d.OpenEmergency(&n);
        if (!e) return;
        key_.Plug();  // no arrival notice: the key is there when the password is checked
        d.TryPassword(e, L"806");
        if (!d.WaitGone(n)) d.Fail("the right password left the notice up");
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_LOGON);
    d.Join();
    EXPECT_EQ(Switch(L"QJ_RemoveLock"), 1u);
}

// The third wrong password shows the shut-down text, painted before the pause, and shuts down.
TEST_F(GatehookBootNotice, ThreeWrongPasswordsShutDown) {
    Boot();
    Driver d([&](Driver& d) {
        HWND n = nullptr;
        HWND e = d.OpenEmergency(&n);
        if (!e) return;
        d.TryPassword(e, L"1");
        EXPECT_EQ(d.TextBecomes(e, 1042, kTwoLeft), kTwoLeft);
        d.TryPassword(e, L"2");
        EXPECT_EQ(d.TextBecomes(e, 1042, kOneLeft), kOneLeft);
        d.TryPassword(e, L"3");
        if (!d.WaitGone(n)) d.Fail("the third wrong password left the notice up");
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_SHUTDOWN);
    d.Join();
    auto pauses = W.Pauses();
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].ms, 2000u);
    EXPECT_EQ(pauses[0].status, kShutdownText);
    EXPECT_TRUE(pauses[0].statusPainted) << "the text must be on screen while the thread pauses";
    EXPECT_EQ(W.CountOf(SE_LoggedOutSAS), 0);
    EXPECT_EQ(Switch(L"QJ_RemoveLock"), 1u);
}

// Wrong tries count across openings of the emergency login, and only a right password resets them.
TEST_F(GatehookBootNotice, WrongTriesSurviveReopeningUntilARightPassword) {
    Boot();
    Driver first([&](Driver& d) {
        HWND n = nullptr;
        HWND e = d.OpenEmergency(&n);
        if (!e) return;
        d.TryPassword(e, L"1");
        EXPECT_EQ(d.TextBecomes(e, 1042, kTwoLeft), kTwoLeft);
        d.Command(e, IDCANCEL);
        d.WaitGone(e);
        d.PressF8();
        e = d.WaitTitled(HOST_EMERGENCY_TITLE);
        if (!e) return;
        d.TryPassword(e, L"2");
        EXPECT_EQ(d.TextBecomes(e, 1042, kOneLeft), kOneLeft);
        d.TryPassword(e, L"806");
        if (!d.WaitGone(n)) d.Fail("the right password left the notice up");
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_LOGON);
    first.Join();

    Driver second([&](Driver& d) {
        HWND n = nullptr;
        HWND e = d.OpenEmergency(&n);
        if (!e) return;
        d.TryPassword(e, L"1");
        EXPECT_EQ(d.TextBecomes(e, 1042, kTwoLeft), kTwoLeft) << "the right password reset the count";
        d.Command(e, IDCANCEL);
        d.WaitGone(e);
        d.Command(n, 1019);
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_SHUTDOWN);
}

}  // namespace
}  // namespace host
