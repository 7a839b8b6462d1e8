// The provider with its tile, in process: which scenarios it serves, the service start it asks for
// each time, the one tile behind every index, the change signal and what a second scenario does
// with the earlier tile and its threads.
#include "tilefixture.h"

namespace {

using namespace lt;

using LogontileProviderScenario = TileFixture;

TEST_F(LogontileProviderScenario, ServesLogonAndUnlockAndAsksForTheServiceEveryTime) {
    struct {
        int cpus;
        HRESULT expected;
    } const cases[] = {
        {CPUS_LOGON, S_OK},          {CPUS_UNLOCK_WORKSTATION, S_OK}, {CPUS_CHANGE_PASSWORD, E_NOTIMPL},
        {CPUS_CREDUI, E_NOTIMPL},    {0, E_INVALIDARG},               {5, E_INVALIDARG},
    };
    int starts = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cpus);
        EXPECT_EQ(Open(static_cast<CREDENTIAL_PROVIDER_USAGE_SCENARIO>(c.cpus)), c.expected);
        EXPECT_EQ(Seen().serviceStarts, ++starts);  // also for the scenarios it does not serve
        EXPECT_EQ(Seen().lastStart, TRUE);
        ICredentialProviderCredential* first = nullptr;
        ICredentialProviderCredential* third = nullptr;
        if (c.expected == S_OK) {
            ASSERT_EQ(provider_->GetCredentialAt(0, &first), S_OK);
            ASSERT_EQ(provider_->GetCredentialAt(3, &third), S_OK);  // the index is not looked at
            EXPECT_EQ(first, third);
            EXPECT_EQ(first, static_cast<ICredentialProviderCredential*>(tile_));
            first->Release();
            third->Release();
        } else {
            EXPECT_EQ(tile_, nullptr);
            EXPECT_EQ(provider_->GetCredentialAt(0, &first), E_INVALIDARG);
        }
    }
}

TEST_F(LogontileProviderScenario, AKeyFoundReachesLogonUiOnlyWhileAdvised) {
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 1), ERROR_SUCCESS);
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    EXPECT_FALSE(Select());
    ASSERT_TRUE(disk_->Plug());
    ASSERT_TRUE(providerEvents_.WaitChange(3000));
    EXPECT_EQ(providerEvents_.lastContext, 0x77u);
    EXPECT_TRUE(tile_->IsConnected());
    EXPECT_TRUE(Select());  // LogonUI selects again and logs on

    // Not advised any more: the key is found, LogonUI hears nothing.
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    ASSERT_EQ(provider_->UnAdvise(), E_NOTIMPL);
    LONG before = providerEvents_.changes;
    EXPECT_FALSE(Select());
    EXPECT_TRUE(WaitUntil([&] { return tile_->IsConnected(); }, 3000));
    Sleep(10 * kPeriod);
    EXPECT_EQ(providerEvents_.changes, before);
}

TEST_F(LogontileProviderScenario, ASecondScenarioLetsTheEarlierTileAndItsThreadsGo) {
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 1), ERROR_SUCCESS);
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    LONG locks = logontile::ModuleLockCount();  // the provider and its tile
    Select();
    EXPECT_EQ(ExtraThreads(), 2);  // key thread and F8 thread
    CredentialVerifyKey* first = tile_;
    first->AddRef();

    ASSERT_EQ(provider_->SetUsageScenario(CPUS_LOGON, 0), S_OK);
    TakeTile();
    EXPECT_NE(tile_, first);
    // The earlier tile's threads have ended; only the test's reference keeps it.
    EXPECT_TRUE(WaitExtraThreads(0));
    EXPECT_EQ(logontile::ModuleLockCount(), locks + 1);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(logontile::ModuleLockCount(), locks);

    // The new tile's F8 thread has the hot key the earlier one gave back.
    Select();
    EXPECT_EQ(ExtraThreads(), 2);
    // The thread registers F8 as it starts; a press that comes before goes nowhere. Pressed until one
    // is heard, each press waiting for its change, rather than after a guessed time.
    LONG before = providerEvents_.changes;
    bool heard = false;
    for (int press = 0; press < 10 && !heard; ++press) {
        ASSERT_TRUE(logonui::PressF8());
        heard = providerEvents_.WaitChange(500);
    }
    ASSERT_TRUE(heard) << "F8 never reached the new tile";
    EXPECT_EQ(providerEvents_.changes, before + 1);
    EXPECT_EQ(StoredSwitch(L"QJ_HotKey"), 1);
    EXPECT_EQ(StoredSwitch(L"QJ_LockThread"), 0);
}

TEST_F(LogontileProviderScenario, EveryNewProviderReadsTheStoredRecord) {
    ASSERT_EQ(Open(CPUS_UNLOCK_WORKSTATION), S_OK);
    EXPECT_EQ(String(1), L"bob");
    uinfo record = StoredRecord();
    wcscpy(record.lpUserName, L"张三");
    ASSERT_TRUE(SetUserInfo(&record));
    EXPECT_EQ(std::wstring(Provider::_puinfo->lpUserName), L"bob");  // this provider's copy
    ASSERT_EQ(Open(CPUS_UNLOCK_WORKSTATION), S_OK);
    EXPECT_EQ(String(1), L"张三");

    // Nothing enrolled: an empty user name, and no key counts as present.
    ASSERT_TRUE(ts::DeleteKeyTree(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY));
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", 0), ERROR_SUCCESS);
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    EXPECT_EQ(String(1), L"");
    ASSERT_TRUE(disk_->Plug());
    Select();
    Sleep(10 * kPeriod);
    EXPECT_FALSE(tile_->IsConnected());
}

}  // namespace
