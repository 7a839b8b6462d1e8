// The key tile in process, with a short key poll: its texts, the two display modes and the threads
// each start, the key thread's rules at logon and unlock, what GetSerialization sends in each
// mode, the status texts and failure count with the forced shut-down, the signal to the service,
// storing a typed password, the user picture and the refusals.
#include "tilefixture.h"

namespace {

using namespace lt;

const wchar_t kKeyRemoved[] = L"认证KEY已取下，计算机进入锁定状态。";
const wchar_t kIntervalLocked[] = L"间隔时间锁定计算机，您可以禁用此功能。";
const wchar_t kWrong[] = L"用户名或密码错误.";
const wchar_t kDisabledText[] = L"该帐户被禁用.";
const wchar_t kTwoLeft[] = L"用户名或密码错误,紧急登录有3次机会，您还可以尝试2次.";
const wchar_t kOneLeft[] = L"用户名或密码错误,紧急登录有3次机会，您还可以尝试1次.";
const wchar_t kShutdownText[] = L"连续3次口令输入错误，系统将自动关机.";

using ts::Hex;

using ts::ComputerName;

using LogontileKeyTile = TileFixture;

TEST_F(LogontileKeyTile, TextsComeFromTheRecordTheLockRecordAndThePreferences) {
    ASSERT_TRUE(install_->SetPreference(L"LockMes", L"此电脑已被锁定"));
    struct {
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
        LONG lockType;
        const wchar_t* status;
    } const cases[] = {
        {CPUS_UNLOCK_WORKSTATION, LOCKTYPE_KEY_REMOVED, kKeyRemoved},
        {CPUS_UNLOCK_WORKSTATION, LOCKTYPE_INTERVAL, kIntervalLocked},
        {CPUS_UNLOCK_WORKSTATION, LOCKTYPE_NONE, L""},
        {CPUS_UNLOCK_WORKSTATION, LOCKTYPE_RESERVED, L""},
        {CPUS_LOGON, LOCKTYPE_KEY_REMOVED, L""},
        {CPUS_LOGON, LOCKTYPE_INTERVAL, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.cpus) + " lock type " + std::to_string(c.lockType));
        // Left over from a last run: a new tile starts in key mode with no key thread.
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_HotKey", 1), ERROR_SUCCESS);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_LockThread", 1), ERROR_SUCCESS);
        ASSERT_EQ(logonui::WriteLockRecord(c.lockType), 0u);
        ASSERT_EQ(Open(c.cpus), S_OK);
        EXPECT_EQ(StoredSwitch(L"QJ_HotKey"), 0);
        EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), 0);
        const std::wstring expected[] = {L"(fails)", L"bob", L"pw", L"USB KEY登陆认证", c.status,
                                         L"此电脑已被锁定", L"Submit", L"紧急登录"};
        for (DWORD id = 0; id < 8; ++id) EXPECT_EQ(String(id), expected[id]) << id;
        EXPECT_EQ(String(8), L"(fails)");
        // The tile read the record, and with that took it.
        LockRecord left;
        ASSERT_EQ(ReadFromSharedMemory(&left, sizeof(left)), 0u);
        EXPECT_EQ(left.enuLockType, LOCKTYPE_NONE);
    }

    // The states LogonUI starts from, whatever mode is shown later.
    const std::pair<CREDENTIAL_PROVIDER_FIELD_STATE, CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE> states[] = {
        {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE}, {CPFS_HIDDEN, CPFIS_NONE},          {CPFS_HIDDEN, CPFIS_FOCUSED},
        {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE}, {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE}, {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE},
        {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE}, {CPFS_HIDDEN, CPFIS_NONE},
    };
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 0), ERROR_SUCCESS);
    Select();  // password mode
    for (DWORD id = 0; id < 8; ++id) {
        CREDENTIAL_PROVIDER_FIELD_STATE s;
        CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE i;
        ASSERT_EQ(tile_->GetFieldState(id, &s, &i), S_OK);
        EXPECT_EQ(s, states[id].first) << id;
        EXPECT_EQ(i, states[id].second) << id;
    }
}

TEST_F(LogontileKeyTile, SetSelectedChoosesTheModeAndItsThreads) {
    struct {
        const char* name;
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
        LONG lockType;
        DWORD unlockCheck, bootCheck, hotKey;
        bool passwordMode;
        long lockThread;
        int threads;  // key thread, and at boot logon the F8 thread
    } const cases[] = {
        {"unlock, key pulled, key required", CPUS_UNLOCK_WORKSTATION, LOCKTYPE_KEY_REMOVED, 1, 1, 0, false, 1, 1},
        {"unlock, key pulled, key not required", CPUS_UNLOCK_WORKSTATION, LOCKTYPE_KEY_REMOVED, 0, 1, 0, true, 0, 0},
        {"unlock, interval, key not required", CPUS_UNLOCK_WORKSTATION, LOCKTYPE_INTERVAL, 0, 1, 0, true, 0, 0},
        {"unlock by hand, key not required", CPUS_UNLOCK_WORKSTATION, LOCKTYPE_NONE, 0, 1, 0, false, 1, 1},
        {"unlock, reserved type", CPUS_UNLOCK_WORKSTATION, LOCKTYPE_RESERVED, 0, 1, 0, false, 1, 1},
        {"boot, key required", CPUS_LOGON, LOCKTYPE_NONE, 1, 1, 0, false, 1, 2},
        {"boot, key not required", CPUS_LOGON, LOCKTYPE_NONE, 1, 0, 0, true, 0, 0},
        {"boot, F8 chose password mode", CPUS_LOGON, LOCKTYPE_NONE, 1, 1, 1, true, 0, 0},
        {"unlock, F8 switch left on", CPUS_UNLOCK_WORKSTATION, LOCKTYPE_KEY_REMOVED, 1, 1, 1, true, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_SuoPingCheckKey", c.unlockCheck), ERROR_SUCCESS);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", c.bootCheck), ERROR_SUCCESS);
        ASSERT_EQ(logonui::WriteLockRecord(c.lockType), 0u);
        ASSERT_EQ(Open(c.cpus), S_OK);
        ASSERT_TRUE(WaitExtraThreads(0));
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_HotKey", c.hotKey), ERROR_SUCCESS);
        EXPECT_FALSE(Select());
        EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), c.lockThread);
        EXPECT_EQ(ExtraThreads(), c.threads);
        if (c.passwordMode) {
            EXPECT_TRUE(ShowsPasswordMode(events_.calls));
            // A switch that chose password mode at unlock shows key mode first, as the tile does
            // everywhere but for F8.
            EXPECT_EQ(EverShowed(events_.calls, KeyModeFields("pw")), !c.hotKey);
        } else {
            EXPECT_TRUE(ShowsKeyMode(events_.calls, "pw"));
            EXPECT_FALSE(EverShowed(events_.calls, PasswordModeFields()));
        }
        // The tile's own copy of the password is empty after either mode.
        EXPECT_EQ(String(2), L"");
        EXPECT_EQ(events_.offThread, 0);
    }
}

TEST_F(LogontileKeyTile, KeyThreadFindsTheKeyAtLogonButAtUnlockOnlyOnceItHasBeenPulled) {
    struct {
        const char* name;
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
        bool inAtStart;
        bool foundWhileIn;  // found without being pulled first
    } const cases[] = {
        {"boot, key already in", CPUS_LOGON, true, true},
        {"boot, key inserted later", CPUS_LOGON, false, false},
        {"unlock, key left in", CPUS_UNLOCK_WORKSTATION, true, false},
        {"unlock, key inserted later", CPUS_UNLOCK_WORKSTATION, false, false},
    };
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_SuoPingCheckKey", 1), ERROR_SUCCESS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.inAtStart ? disk_->Plug() : disk_->Pull());
        ASSERT_EQ(Open(c.cpus), S_OK);
        LONG before = providerEvents_.changes;
        EXPECT_FALSE(Select());
        if (c.inAtStart && c.foundWhileIn) {
            ASSERT_TRUE(providerEvents_.WaitChange(3000));
        } else {
            Sleep(10 * kPeriod);
            EXPECT_EQ(providerEvents_.changes, before);
            EXPECT_FALSE(tile_->IsConnected());
            if (c.inAtStart) {
                ASSERT_TRUE(disk_->Pull());
                Sleep(5 * kPeriod);
                EXPECT_EQ(providerEvents_.changes, before);
            }
            ASSERT_TRUE(disk_->Plug());
            ASSERT_TRUE(providerEvents_.WaitChange(3000));
        }
        EXPECT_EQ(providerEvents_.changes, before + 1);
        EXPECT_TRUE(tile_->IsConnected());
        // The key thread has ended (the F8 thread stays at boot logon).
        EXPECT_TRUE(WaitExtraThreads(c.cpus == CPUS_LOGON ? 1 : 0));
        events_.calls.clear();
        EXPECT_TRUE(Select());
        EXPECT_TRUE(events_.calls.empty());  // answered at once, no mode shown
    }
}

TEST_F(LogontileKeyTile, KeyThreadStopsOnTheSwitchAndOnlyTheNewestOneRuns) {
    ASSERT_EQ(Open(CPUS_UNLOCK_WORKSTATION), S_OK);
    for (int i = 0; i < 5; ++i) Select();
    EXPECT_TRUE(WaitExtraThreads(1));  // the earlier ones ended at their next poll
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_LockThread", 0), ERROR_SUCCESS);
    EXPECT_TRUE(WaitExtraThreads(0));
    ASSERT_TRUE(disk_->Plug());
    Sleep(5 * kPeriod);
    EXPECT_EQ(providerEvents_.changes, 0);

    // SetDeselected stops it too.
    ASSERT_TRUE(disk_->Pull());
    Select();
    EXPECT_EQ(ExtraThreads(), 1);
    EXPECT_EQ(tile_->SetDeselected(), S_OK);
    EXPECT_TRUE(WaitExtraThreads(0));

    // A tile let go ends its threads at once, whatever the switch says.
    Select();
    EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), 1);
    tile_->StopThreads(true);
    EXPECT_EQ(ExtraThreads(), 0);
    ASSERT_TRUE(disk_->Plug());
    Sleep(5 * kPeriod);
    EXPECT_EQ(providerEvents_.changes, 0);
}

TEST_F(LogontileKeyTile, AutomaticLogonOnlyWhileTheFoundKeyIsStillThere) {
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 1), ERROR_SUCCESS);
    ASSERT_TRUE(disk_->Plug());
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    Select();
    ASSERT_TRUE(providerEvents_.WaitChange(3000));
    ASSERT_TRUE(tile_->IsConnected());

    // Pulled before LogonUI selected again: key mode, and the key is waited for again.
    ASSERT_TRUE(disk_->Pull());
    EXPECT_FALSE(Select());
    EXPECT_FALSE(tile_->IsConnected());
    EXPECT_EQ(events_.calls.back(), "State 6 CPFS_HIDDEN");
    ASSERT_TRUE(disk_->Plug());
    ASSERT_TRUE(providerEvents_.WaitChange(3000));
    EXPECT_TRUE(Select());

    // Pulled between SetSelected and GetSerialization: nothing is sent, the key is waited for.
    ASSERT_TRUE(disk_->Pull());
    logonui::DecodedLogon logon;
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response;
    EXPECT_EQ(Serialize(&logon, &response), S_OK);
    EXPECT_EQ(response, CPGSR_NO_CREDENTIAL_NOT_FINISHED);
    EXPECT_FALSE(logon.ok);
    EXPECT_FALSE(tile_->IsConnected());
    ASSERT_TRUE(disk_->Plug());
    ASSERT_TRUE(providerEvents_.WaitChange(3000));
    EXPECT_TRUE(tile_->IsConnected());
}

TEST_F(LogontileKeyTile, GetSerializationSendsTheStoredPasswordOnlyForTheKey) {
    struct {
        const char* name;
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
        bool keyFound;
        bool passwordMode;
        const wchar_t* typed;  // what LogonUI put into field 2
        bool sent;
        ULONG type;
        const wchar_t* password;
    } const cases[] = {
        {"key at unlock", CPUS_UNLOCK_WORKSTATION, true, false, nullptr, true, 7, L"pw"},
        {"key at boot", CPUS_LOGON, true, false, nullptr, true, 2, L"pw"},
        {"key, whatever field 2 holds", CPUS_UNLOCK_WORKSTATION, true, false, L"other", true, 7, L"pw"},
        {"typed at unlock", CPUS_UNLOCK_WORKSTATION, false, true, L"secret", true, 7, L"secret"},
        {"typed at boot", CPUS_LOGON, false, true, L"密码x", true, 2, L"密码x"},
        {"nothing typed", CPUS_LOGON, false, true, nullptr, true, 2, L""},
        {"key mode without the key", CPUS_UNLOCK_WORKSTATION, false, false, nullptr, false, 0, nullptr},
        {"key mode, field 2 given back", CPUS_UNLOCK_WORKSTATION, false, false, L"pw", false, 0, nullptr},
    };
    const std::wstring computer = ComputerName();
    ASSERT_FALSE(computer.empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", c.passwordMode ? 0 : 1), ERROR_SUCCESS);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_SuoPingCheckKey", c.passwordMode ? 0 : 1), ERROR_SUCCESS);
        ASSERT_EQ(logonui::WriteLockRecord(LOCKTYPE_KEY_REMOVED), 0u);
        ASSERT_TRUE(disk_->Pull());
        ASSERT_EQ(Open(c.cpus), S_OK);
        Select();
        if (c.keyFound) {
            Sleep(3 * kPeriod);
            ASSERT_TRUE(disk_->Plug());
            ASSERT_TRUE(providerEvents_.WaitChange(3000));
            ASSERT_TRUE(Select());
        }
        if (c.typed) {
            ASSERT_EQ(tile_->SetStringValue(2, c.typed), S_OK);
        }
        logonui::DecodedLogon logon;
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response;
        ASSERT_EQ(Serialize(&logon, &response), S_OK);
        if (!c.sent) {
            EXPECT_EQ(response, CPGSR_NO_CREDENTIAL_NOT_FINISHED);
            EXPECT_FALSE(logon.ok);
            continue;
        }
        EXPECT_EQ(response, CPGSR_RETURN_CREDENTIAL_FINISHED);
        ASSERT_TRUE(logon.ok) << logon.error;
        EXPECT_EQ(logon.messageType, c.type);
        EXPECT_EQ(logon.domain.text, computer);
        EXPECT_EQ(logon.user.text, L"bob");
        EXPECT_EQ(logon.password.text, c.password);
    }
    tile_->StopThreads(true);
    EXPECT_EQ(tile_->GetSerialization(nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
}

TEST_F(LogontileKeyTile, FailuresShowTheirStatusRowAndPasswordMode) {
    struct {
        const char* name;
        DWORD hotKey;
        NTSTATUS status, substatus;
        const wchar_t* text;
        CREDENTIAL_PROVIDER_STATUS_ICON icon;
    } const cases[] = {
        {"wrong password", 0, kLogonFailure, 0, kWrong, CPSI_ERROR},
        {"account disabled", 0, kRestriction, kDisabled, kDisabledText, CPSI_WARNING},
        {"other restriction", 0, kRestriction, 0, L"(none)", CPSI_NONE},
        {"unknown user", 0, static_cast<NTSTATUS>(0xC0000064), 0, L"(none)", CPSI_NONE},
        {"F8 mode counts whatever the status", 1, kRestriction, kDisabled, kTwoLeft, CPSI_ERROR},
    };
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_SuoPingCheckKey", 1), ERROR_SUCCESS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(disk_->Plug());
        ASSERT_EQ(Open(CPUS_LOGON), S_OK);
        Select();
        ASSERT_TRUE(providerEvents_.WaitChange(3000));
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_HotKey", c.hotKey), ERROR_SUCCESS);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_LockThread", 1), ERROR_SUCCESS);
        events_.calls.clear();
        Report r = ReportResult(c.status, c.substatus);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(r.icon, c.icon);
        EXPECT_FALSE(tile_->IsConnected());
        EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), 0);
        EXPECT_TRUE(ShowsPasswordMode(events_.calls));
        EXPECT_EQ(StoredSwitch(L"QJ_HotKey"), static_cast<long>(c.hotKey));  // left as it was
    }
}

TEST_F(LogontileKeyTile, ThreeFailuresInF8ModeShutDownAndFurtherOnesStayInTheTable) {
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 0), ERROR_SUCCESS);
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    Select();
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_HotKey", 1), ERROR_SUCCESS);
    Seen().shutdownAnswer = FALSE;  // the shut-down does not happen: the user goes on
    struct {
        const wchar_t* text;
        int shutdowns;
    } const steps[] = {{kTwoLeft, 0}, {kOneLeft, 0}, {kShutdownText, 1}, {kShutdownText, 2}, {kShutdownText, 3}};
    for (const auto& s : steps) {
        Report r = ReportResult(kLogonFailure);
        EXPECT_EQ(r.text, s.text);
        EXPECT_EQ(r.icon, CPSI_ERROR);
        EXPECT_EQ(Seen().shutdowns, s.shutdowns);
    }
    EXPECT_EQ(Seen().shutdownFlags, static_cast<UINT>(EWX_SHUTDOWN | EWX_FORCE));
    EXPECT_EQ(Seen().shutdownReason, 0x80020003u);

    // A new tile restarts the failure count: its first failure leaves two tries again.
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    Select();
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_HotKey", 1), ERROR_SUCCESS);
    EXPECT_EQ(ReportResult(kLogonFailure).text, kTwoLeft);
    EXPECT_EQ(ReportResult(kLogonFailure).text, kOneLeft);
    // And a success restarts it within the same tile.
    EXPECT_EQ(ReportResult(0).text, L"(none)");
    EXPECT_EQ(ReportResult(kLogonFailure).text, kTwoLeft);

    // Outside F8 mode failures are not counted.
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_HotKey", 0), ERROR_SUCCESS);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ReportResult(kLogonFailure).text, kWrong);
    EXPECT_EQ(Seen().shutdowns, 3);
}

TEST_F(LogontileKeyTile, SuccessSetsTheServiceEventAndKeepsNoHandleOfIt) {
    ASSERT_EQ(Open(CPUS_UNLOCK_WORKSTATION), S_OK);
    EXPECT_EQ(ReportResult(0).text, L"(none)");  // no service running: nothing to tell
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, CORELIB_ALERT_EVENT);
        ASSERT_NE(event, nullptr);
        Report r = ReportResult(0);
        EXPECT_EQ(r.text, L"(none)");
        EXPECT_EQ(r.icon, CPSI_NONE);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
        CloseHandle(event);
        // The tile's handle was closed: with ours gone the event is gone.
        HANDLE again = OpenEventW(SYNCHRONIZE, FALSE, CORELIB_ALERT_EVENT);
        EXPECT_EQ(again, nullptr);
        if (again) CloseHandle(again);
    }
    // A failure does not signal.
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, CORELIB_ALERT_EVENT);
    ReportResult(kLogonFailure);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}

TEST_F(LogontileKeyTile, TypedPasswordOfTheEnrolledUserIsStoredAfterAFailure) {
    const std::wstring fits(49, L'p');
    const std::wstring tooLong(50, L'q');
    struct {
        const char* name;
        const wchar_t* tileUser;  // NULL: the enrolled one, as LogonUI's provider makes it
        bool failedBefore;
        std::wstring typed;
        bool stored;
    } const cases[] = {
        {"enrolled user after a failure", nullptr, true, L"new密码", true},
        {"49 characters", nullptr, true, fits, true},
        {"50 characters would be cut", nullptr, true, tooLong, false},
        {"no failure before", nullptr, false, L"new", false},
        {"user name differs in case", L"Bob", true, L"new", false},
        {"another user", L"alice", true, L"new", false},
    };
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 0), ERROR_SUCCESS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Enrol(L"bob", L"old", disk_->Id());
        ASSERT_EQ(Open(CPUS_LOGON), S_OK);
        if (c.tileUser) {
            ASSERT_EQ(provider()->CreateUSBCredentialVerifyKey(c.tileUser, L""), S_OK);
            TakeTile();
        }
        Select();
        if (c.failedBefore) {
            ASSERT_EQ(tile_->SetStringValue(2, L"wrong"), S_OK);
            ASSERT_EQ(Serialize(nullptr, nullptr), S_OK);
            ReportResult(kLogonFailure);
        }
        // Changed meanwhile by the control panel: kept.
        uinfo changed = StoredRecord();
        wcscpy(changed.lpLogonPWD, L"soft");
        ASSERT_TRUE(SetUserInfo(&changed));

        ASSERT_EQ(tile_->SetStringValue(2, c.typed.c_str()), S_OK);
        logonui::DecodedLogon logon;
        ASSERT_EQ(Serialize(&logon, nullptr), S_OK);
        EXPECT_EQ(logon.password.text, c.typed);  // sent whole, however long
        ReportResult(0);
        uinfo stored = StoredRecord();
        EXPECT_EQ(std::wstring(stored.lpUserPWD), c.stored ? c.typed : L"old");
        EXPECT_EQ(std::wstring(Provider::_puinfo->lpUserPWD), c.stored ? c.typed : L"old");
        EXPECT_EQ(std::wstring(stored.lpLogonPWD), L"soft");
        EXPECT_TRUE(CompareDriverUID(&stored, disk_->Id().c_str()));  // still enrolled
    }
}

TEST_F(LogontileKeyTile, KeyLogonAfterAFailureKeepsTheStoredPassword) {
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 1), ERROR_SUCCESS);
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    Select();
    ASSERT_TRUE(disk_->Plug());
    ASSERT_TRUE(providerEvents_.WaitChange(3000));
    ASSERT_TRUE(Select());
    ASSERT_EQ(Serialize(nullptr, nullptr), S_OK);
    EXPECT_EQ(ReportResult(kLogonFailure).text, kWrong);  // password mode now
    // Back to key mode (as F8 would), the key is found again and this time the logon works.
    EXPECT_FALSE(Select());
    ASSERT_TRUE(providerEvents_.WaitChange(3000));
    ASSERT_TRUE(Select());
    logonui::DecodedLogon logon;
    ASSERT_EQ(Serialize(&logon, nullptr), S_OK);
    EXPECT_EQ(logon.password.text, L"pw");
    ReportResult(0);
    EXPECT_EQ(std::wstring(StoredRecord().lpUserPWD), L"pw");
}

TEST_F(LogontileKeyTile, UserPictureIsDecodedIntoADibSection) {
    ASSERT_TRUE(ts::WriteFileBytes(install_->Path(L"user.bmp"), BmpFile(5, 4)));
    ASSERT_TRUE(ts::WriteFileBytes(install_->Path(L"garbage.png"), "not a picture at all"));
    struct {
        const char* name;
        std::wstring picture;  // UserPic; empty: none set
        HRESULT expected;      // S_FALSE here: any failure
    } const cases[] = {
        {"bitmap", install_->Path(L"user.bmp"), S_OK},
        {"missing file", install_->Path(L"none.bmp"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"not a picture: no error code", install_->Path(L"garbage.png"), E_FAIL},
        {"no picture set", L"", S_FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(install_->SetPreference(L"UserPic", c.picture));
        ASSERT_EQ(Open(CPUS_LOGON), S_OK);
        HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
        HRESULT hr = tile_->GetBitmapValue(0, &bitmap);
        if (c.expected == S_FALSE) {
            EXPECT_TRUE(FAILED(hr)) << Hex(hr);
        } else {
            EXPECT_EQ(hr, c.expected) << Hex(hr);
        }
        if (FAILED(hr)) {
            EXPECT_EQ(bitmap, nullptr);
            continue;
        }
        DIBSECTION dib = {};
        ASSERT_EQ(GetObjectW(bitmap, sizeof(dib), &dib), static_cast<int>(sizeof(dib)));
        EXPECT_EQ(dib.dsBm.bmWidth, 5);
        EXPECT_EQ(dib.dsBm.bmHeight, 4);
        DeleteObject(bitmap);
    }
    HBITMAP bitmap = nullptr;
    EXPECT_EQ(tile_->GetBitmapValue(1, &bitmap), E_INVALIDARG);
    EXPECT_EQ(tile_->GetBitmapValue(0, nullptr), E_INVALIDARG);
}

TEST_F(LogontileKeyTile, RefusesWhatIsNotItsToChange) {
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 0), ERROR_SUCCESS);
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    Select();
    for (DWORD id = 0; id <= 8; ++id) {
        if (id == 2) continue;
        SCOPED_TRACE(id);
        std::wstring before = String(id);
        EXPECT_EQ(tile_->SetStringValue(id, L"x"), E_INVALIDARG);
        EXPECT_EQ(String(id), before);
    }
    EXPECT_EQ(tile_->SetStringValue(2, nullptr), E_INVALIDARG);

    // SetDeselected empties a password below 128 characters and refuses a longer one.
    struct {
        size_t length;
        HRESULT expected;
        bool emptied;
    } const passwords[] = {{0, S_OK, true}, {127, S_OK, true}, {128, E_INVALIDARG, false}, {300, E_INVALIDARG, false}};
    for (const auto& p : passwords) {
        SCOPED_TRACE(p.length);
        const std::wstring typed(p.length, L'z');
        ASSERT_EQ(tile_->SetStringValue(2, typed.c_str()), S_OK);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_LockThread", 1), ERROR_SUCCESS);
        events_.calls.clear();
        EXPECT_EQ(tile_->SetDeselected(), p.expected);
        EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), 0);
        EXPECT_EQ(String(2), p.emptied ? L"" : typed);
        EXPECT_EQ(events_.calls, p.emptied ? std::vector<std::string>{"String 2 "} : std::vector<std::string>{});
    }

    DWORD adjacent = 99;
    EXPECT_EQ(tile_->GetSubmitButtonValue(6, &adjacent), S_OK);
    EXPECT_EQ(adjacent, 3u);
    EXPECT_EQ(tile_->GetSubmitButtonValue(5, &adjacent), E_INVALIDARG);
    EXPECT_EQ(tile_->GetSubmitButtonValue(6, nullptr), E_INVALIDARG);
    CREDENTIAL_PROVIDER_FIELD_STATE s;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE i;
    EXPECT_EQ(tile_->GetFieldState(8, &s, &i), E_INVALIDARG);
    EXPECT_EQ(tile_->GetFieldState(0, nullptr, &i), E_INVALIDARG);
    BOOL checked;
    LPWSTR text = nullptr;
    DWORD count, selected;
    EXPECT_EQ(tile_->GetCheckboxValue(0, &checked, &text), E_NOTIMPL);
    EXPECT_EQ(tile_->SetCheckboxValue(0, TRUE), E_NOTIMPL);
    EXPECT_EQ(tile_->GetComboBoxValueCount(0, &count, &selected), E_NOTIMPL);
    EXPECT_EQ(tile_->GetComboBoxValueAt(0, 0, &text), E_NOTIMPL);
    EXPECT_EQ(tile_->SetComboBoxSelectedValue(0, 0), E_NOTIMPL);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(tile_->QueryInterface(IID_ICredentialProvider, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(tile_->SetSelected(nullptr), E_INVALIDARG);

    // The hidden link still acts when clicked: password mode, key thread stopped.
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_LockThread", 1), ERROR_SUCCESS);
    events_.calls.clear();
    EXPECT_EQ(tile_->CommandLinkClicked(7), E_NOTIMPL);
    EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), 0);
    EXPECT_TRUE(ShowsPasswordMode(events_.calls));
}

TEST_F(LogontileKeyTile, StoredPasswordGivenToLogonUiNeverComesBackAsTheTilesOwn) {
    // A LogonUI that echoed field 2 at once: key mode still leaves the tile's copy empty.
    events_.echo = true;
    ASSERT_EQ(Open(CPUS_UNLOCK_WORKSTATION), S_OK);
    Select();
    EXPECT_EQ(String(2), L"");
    logonui::DecodedLogon logon;
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response;
    EXPECT_EQ(Serialize(&logon, &response), S_OK);
    EXPECT_EQ(response, CPGSR_NO_CREDENTIAL_NOT_FINISHED);
}

}  // namespace
