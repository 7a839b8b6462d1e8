// The settings store for callers that may not read or may not write the key. Wine does not enforce
// registry DACLs, so the key's open and create entries are replaced to refuse the access asked.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>
#include <vector>

#include "settings_internal.h"
#include "testsupport.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Quorel\\Vantor";
const wchar_t kRecord[] = L"QJ_uinfo";

struct Policy {
    bool denyRead = false;   // access asking KEY_QUERY_VALUE is refused
    bool denyWrite = false;  // access asking to change the key is refused
    std::vector<REGSAM> opens, creates;
};
Policy g_policy;

bool Denied(REGSAM sam) {
    if (g_policy.denyRead && (sam & KEY_QUERY_VALUE)) return true;
    if (g_policy.denyWrite && (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | WRITE_DAC | DELETE))) return true;
    return false;
}

LONG WINAPI FakeOpen(HKEY root, LPCWSTR sub, DWORD options, REGSAM sam, PHKEY out) {
    g_policy.opens.push_back(sam);
    if (Denied(sam)) return ERROR_ACCESS_DENIED;
    return RegOpenKeyExW(root, sub, options, sam, out);
}

LONG WINAPI FakeCreate(HKEY root, LPCWSTR sub, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                       LPSECURITY_ATTRIBUTES sa, PHKEY out, LPDWORD disposition) {
    g_policy.creates.push_back(sam);
    if (Denied(sam)) return ERROR_ACCESS_DENIED;
    return RegCreateKeyExW(root, sub, reserved, cls, options, sam, sa, out, disposition);
}

class SettingsAccess : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        g_policy = Policy();
        saved_ = corelib::g_settingsSeams;
        corelib::g_settingsSeams.RegOpenKeyExW = FakeOpen;
        corelib::g_settingsSeams.RegCreateKeyExW = FakeCreate;
    }
    void TearDown() override {
        corelib::g_settingsSeams = saved_;
        ts::ResetSettings();
    }
    corelib::SettingsSeams saved_;
};

std::vector<BYTE> Stored(const wchar_t* name) {
    std::vector<BYTE> d;
    ts::GetValue(HKEY_LOCAL_MACHINE, kKey, name, &d);
    return d;
}

// An enrolled record: every byte set, the software password "pw".
uinfo Enrolled() {
    uinfo r;
    memset(&r, 0x41, sizeof(r));
    memset(r.lpLogonPWD, 0, sizeof(r.lpLogonPWD));
    wcscpy(r.lpLogonPWD, L"pw");
    return r;
}

std::vector<BYTE> Bytes(const uinfo& r) {
    const BYTE* b = reinterpret_cast<const BYTE*>(&r);
    return std::vector<BYTE>(b, b + sizeof(r));
}

void StoreEnrolled() {
    uinfo r = Enrolled();
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, kKey, kRecord, &r, sizeof(r)));
}

}  // namespace

TEST_F(SettingsAccess, ReadsAskOnlyToQueryAndCreateNothing) {
    StoreEnrolled();
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kKey, L"QJ_RemoveLock", 0));
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_RemoveLock"), 0u);
    uinfo r;
    EXPECT_TRUE(GetUserInfo(&r));
    EXPECT_TRUE(IsRegisterUinfo());
    EXPECT_TRUE(Check_lpLogonPWD(L"pw"));
    ASSERT_FALSE(g_policy.opens.empty());
    for (REGSAM sam : g_policy.opens) EXPECT_EQ(sam, static_cast<REGSAM>(KEY_QUERY_VALUE));
    EXPECT_TRUE(g_policy.creates.empty());

    // Only a missing switch reopens the key, and only to set that value.
    g_policy.opens.clear();
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_CtrlAltDel"), 1u);
    const std::vector<REGSAM> expected = {KEY_QUERY_VALUE, KEY_SET_VALUE};
    EXPECT_EQ(g_policy.opens, expected);
    EXPECT_TRUE(g_policy.creates.empty());
}

TEST_F(SettingsAccess, UnreadableRecordIsNeitherMatchedNorOverwritten) {
    StoreEnrolled();
    g_policy.denyRead = true;

    uinfo r;
    memset(&r, 0xAB, sizeof(r));
    EXPECT_FALSE(GetUserInfo(&r));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Bytes(r), std::vector<BYTE>(sizeof(r), 0));

    // A failed read is no empty record: nothing matches, and the enrolment is not replaced.
    EXPECT_FALSE(Check_lpLogonPWD(L"pw"));
    EXPECT_FALSE(Check_lpLogonPWD(L""));
    EXPECT_FALSE(Set_lpLogonPWD(L"new"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Stored(kRecord), Bytes(Enrolled()));
}

TEST_F(SettingsAccess, ReadOnlyCallerReadsButChangesNothing) {
    StoreEnrolled();
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kKey, L"QJ_RemoveLock", 0));
    const BYTE eight[8] = {2, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, kKey, L"QJ_HotKey", eight, sizeof(eight)));
    g_policy.denyWrite = true;

    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_RemoveLock"), 0u);
    uinfo r;
    EXPECT_TRUE(GetUserInfo(&r));
    EXPECT_EQ(Bytes(r), Bytes(Enrolled()));
    EXPECT_TRUE(Check_lpLogonPWD(L"pw"));

    // A switch that would have to be (re)written reads 0 and stays as it is.
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_CtrlAltDel"), 0u);
    EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kKey, L"QJ_CtrlAltDel"));
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_HotKey"), 0u);
    EXPECT_EQ(Stored(L"QJ_HotKey"), std::vector<BYTE>(eight, eight + 8));

    // Every write reports the refusal.
    EXPECT_EQ(SetMonitorKeyStyle(L"QJ_RemoveLock", 1), ERROR_ACCESS_DENIED);
    DWORD v = 7;
    EXPECT_TRUE(ts::GetDword(HKEY_LOCAL_MACHINE, kKey, L"QJ_RemoveLock", &v));
    EXPECT_EQ(v, 0u);
    uinfo other = {};
    EXPECT_FALSE(SetUserInfo(&other));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Set_lpLogonPWD(L"new"));
    EXPECT_EQ(Stored(kRecord), Bytes(Enrolled()));
}

TEST_F(SettingsAccess, KeyThatCanBeNeitherOpenedNorCreated) {
    struct Case {
        const char* what;
        bool denyRead, denyWrite;
    };
    const Case cases[] = {{"no access", true, true}, {"read-only, key missing", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ts::ResetSettings();
        g_policy.denyRead = c.denyRead;
        g_policy.denyWrite = c.denyWrite;
        EXPECT_EQ(GetMonitorKeyStyle(L"QJ_RemoveLock"), 0u);
        EXPECT_EQ(SetMonitorKeyStyle(L"QJ_RemoveLock", 1), ERROR_ACCESS_DENIED);
        uinfo r;
        memset(&r, 0xAB, sizeof(r));
        EXPECT_FALSE(GetUserInfo(&r));
        EXPECT_EQ(Bytes(r), std::vector<BYTE>(sizeof(r), 0));
        EXPECT_FALSE(IsRegisterUinfo());
        uinfo zero = {};
        EXPECT_FALSE(SetUserInfo(&zero));
        EXPECT_FALSE(Set_lpLogonPWD(L"pw"));
        EXPECT_FALSE(ts::KeyExists(HKEY_LOCAL_MACHINE, kKey));
    }
}
