// The key tile and the session LogonUI runs in: no key logon in a remote or non-console session,
// and a logon tile in front of the enrolled user's existing session (as "Switch User" at a locked
// screen brings) keeps the unlock rules.
#include "tilefixture.h"

namespace {

using namespace lt;

using LogontileSession = TileFixture;

TEST_F(LogontileSession, KeyNeverLogsOnOutsideTheConsoleSession) {
    const struct {
        const char* what;
        int remoteMetric;
        BOOL idRead;
        DWORD own, console;
    } sessions[] = {
        {"remote desktop", 1, TRUE, 1, 1},
        {"a session that is not the console's", 0, TRUE, 2, 1},
        {"no session attached to the console", 0, TRUE, 1, 0xFFFFFFFF},
        {"own session number unreadable", 0, FALSE, 1, 1},
    };
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_SuoPingCheckKey", 1), ERROR_SUCCESS);
    for (const auto& s : sessions) {
        for (CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus : {CPUS_LOGON, CPUS_UNLOCK_WORKSTATION}) {
            SCOPED_TRACE(std::string(s.what) + (cpus == CPUS_LOGON ? ", logon" : ", unlock"));
            // The key in, and the key thread's switch on as a console tile leaves it.
            ASSERT_TRUE(disk_->Plug());
            ASSERT_EQ(logonui::WriteLockRecord(LOCKTYPE_KEY_REMOVED), 0u);
            Seen().remoteMetric = s.remoteMetric;
            Seen().sessionIdRead = s.idRead;
            Seen().ownSession = s.own;
            Seen().consoleSession = s.console;
            ASSERT_EQ(Open(cpus), S_OK);
            ASSERT_EQ(SetMonitorKeyStyle(L"QJ_LockThread", 1), ERROR_SUCCESS);
            EXPECT_FALSE(Select());
            EXPECT_TRUE(ShowsPasswordMode(events_.calls));
            EXPECT_FALSE(EverShowed(events_.calls, KeyModeFields("pw"))) << "the stored password went to LogonUI";
            EXPECT_EQ(ExtraThreads(), 0) << "a key thread runs";
            // The machine-wide switch belongs to the console's tile.
            EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), 1);
            logonui::DecodedLogon logon;
            CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response;
            ASSERT_EQ(Serialize(&logon, &response), S_OK);
            ASSERT_TRUE(logon.ok) << logon.error;
            EXPECT_EQ(logon.password.text, L"") << "the stored password was sent";
        }
    }

    // Found in the console session, then the session is reached from afar: nothing is sent and the
    // password field comes up; the automatic logon is refused as well.
    Seen() = SeamRecord();
    ASSERT_TRUE(disk_->Plug());
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    EXPECT_FALSE(Select());
    ASSERT_TRUE(providerEvents_.WaitChange(3000));
    ASSERT_TRUE(tile_->IsConnected());
    Seen().remoteMetric = 1;
    events_.calls.clear();
    logonui::DecodedLogon logon;
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response;
    ASSERT_EQ(Serialize(&logon, &response), S_OK);
    EXPECT_EQ(response, CPGSR_NO_CREDENTIAL_NOT_FINISHED);
    EXPECT_FALSE(logon.ok);
    EXPECT_TRUE(ShowsPasswordMode(events_.calls));
    EXPECT_FALSE(tile_->IsConnected());
    EXPECT_FALSE(Select());
}

TEST_F(LogontileSession, LogonIntoTheEnrolledUsersSessionKeepsTheUnlockRules) {
    const struct {
        const char* what;
        int hasSession;
        DWORD unlockCheck;
        LONG lockType;
        bool passwordMode;
        bool foundWhileIn;  // the key left in logs on without being pulled first
        int threads;  // -1: not counted (a key found at once ends its thread)
    } cases[] = {
        {"session, key not asked at unlock, nothing pending", logontile::kSessionYes, 0, LOCKTYPE_NONE, true, false, 0},
        {"session, key not asked at unlock, interval lock", logontile::kSessionYes, 0, LOCKTYPE_INTERVAL, true, false, 0},
        {"sessions unreadable, key not asked at unlock", logontile::kSessionUnknown, 0, LOCKTYPE_NONE, true, false, 0},
        {"session, key asked at unlock", logontile::kSessionYes, 1, LOCKTYPE_NONE, false, false, 1},
        {"sessions unreadable, key asked at unlock", logontile::kSessionUnknown, 1, LOCKTYPE_KEY_REMOVED, false, false, 1},
        {"no session of the user: boot logon", logontile::kSessionNo, 0, LOCKTYPE_NONE, false, true, -1},
    };
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 1), ERROR_SUCCESS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_SuoPingCheckKey", c.unlockCheck), ERROR_SUCCESS);
        ASSERT_EQ(logonui::WriteLockRecord(c.lockType), 0u);
        ASSERT_TRUE(disk_->Plug());
        Seen().userHasSession = c.hasSession;
        Seen().sessionQueries.clear();
        ASSERT_EQ(Open(CPUS_LOGON), S_OK);
        ASSERT_TRUE(WaitExtraThreads(0));
        LONG before = providerEvents_.changes;
        EXPECT_FALSE(Select());
        EXPECT_EQ(Seen().sessionQueries, std::vector<std::wstring>{L"bob"});
        if (c.threads >= 0) {
            EXPECT_EQ(ExtraThreads(), c.threads);
        }
        if (c.passwordMode) {
            EXPECT_TRUE(ShowsPasswordMode(events_.calls));
            EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), 0);
            Sleep(5 * kPeriod);
            EXPECT_FALSE(tile_->IsConnected());
            continue;
        }
        EXPECT_TRUE(ShowsKeyMode(events_.calls, "pw"));
        if (!c.foundWhileIn) {
            Sleep(10 * kPeriod);
            EXPECT_EQ(providerEvents_.changes, before);
            EXPECT_FALSE(tile_->IsConnected()) << "the key left in logged on without being pulled";
            ASSERT_TRUE(disk_->Pull());
            Sleep(5 * kPeriod);
            EXPECT_FALSE(tile_->IsConnected());
            ASSERT_TRUE(disk_->Plug());
        }
        ASSERT_TRUE(providerEvents_.WaitChange(3000));
        EXPECT_TRUE(tile_->IsConnected());
        EXPECT_TRUE(Select());
    }
}

}  // namespace
