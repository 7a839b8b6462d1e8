// Switches and the user record through the real Corelib.dll against Wine's registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>
#include <string>
#include <vector>

#include "dacl.h"
#include "corelib.h"
#include "testsupport.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Quorel\\Vantor";
const wchar_t kRecord[] = L"QJ_uinfo";

class Settings : public ::testing::Test {
protected:
    void SetUp() override { ts::ResetSettings(); }
    void TearDown() override { ts::ResetSettings(); }
};

bool SettingsKeyExists() { return ts::KeyExists(HKEY_LOCAL_MACHINE, kKey); }

std::vector<BYTE> Stored(const wchar_t* name, DWORD* type = nullptr) {
    std::vector<BYTE> d;
    EXPECT_TRUE(ts::GetValue(HKEY_LOCAL_MACHINE, kKey, name, &d, type)) << ts::Narrow(name);
    return d;
}

std::vector<BYTE> Bytes(const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    return std::vector<BYTE>(b, b + n);
}

// A record whose every byte is set, so that a lost or shifted field shows.
std::vector<BYTE> Pattern(size_t size, BYTE seed = 1) {
    std::vector<BYTE> v(size);
    for (size_t i = 0; i < size; ++i) v[i] = static_cast<BYTE>(seed + i * 7 + (i >> 8));
    for (auto& b : v)
        if (b == 0) b = 0x5A;
    return v;
}

uinfo RecordFrom(const std::vector<BYTE>& bytes) {
    uinfo r;
    memset(&r, 0, sizeof(r));
    memcpy(&r, bytes.data(), bytes.size() < sizeof(r) ? bytes.size() : sizeof(r));
    return r;
}

void StoreRecordBytes(const std::vector<BYTE>& bytes) {
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, kKey, kRecord, bytes.empty() ? nullptr : bytes.data(),
                              static_cast<DWORD>(bytes.size())));
}

uinfo RecordWithPassword(const std::wstring& pwd) {
    uinfo r = RecordFrom(Pattern(sizeof(uinfo)));
    memset(r.lpLogonPWD, 0, sizeof(r.lpLogonPWD));
    memcpy(r.lpLogonPWD, pwd.c_str(), pwd.size() * sizeof(wchar_t));
    return r;
}

}  // namespace

// ---- switches ----

TEST_F(Settings, SwitchReadCreatesOrKeepsTheStoredValue) {
    struct Case {
        const char* what;
        bool keyExists;
        bool stored;  // a value is stored before the read
        DWORD type;
        std::vector<BYTE> data;
        DWORD expected;
        DWORD typeAfter;
        std::vector<BYTE> dataAfter;
    };
    const std::vector<BYTE> one = {1, 0, 0, 0};
    const std::wstring sz1 = L"1";
    const std::vector<BYTE> szBytes = Bytes(sz1.c_str(), 4);
    const Case cases[] = {
        {"never written, no key", false, false, 0, {}, 1, REG_DWORD, one},
        {"never written, key present", true, false, 0, {}, 1, REG_DWORD, one},
        {"stored 0 stays off", true, true, REG_DWORD, {0, 0, 0, 0}, 0, REG_DWORD, {0, 0, 0, 0}},
        {"stored -1", true, true, REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"8-byte QWORD replaced", true, true, REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}, 1, REG_DWORD, one},
        {"8-byte binary replaced", true, true, REG_BINARY, {9, 9, 9, 9, 9, 9, 9, 9}, 1, REG_DWORD, one},
        {"2 bytes fill the low end, kept", true, true, REG_BINARY, {0x34, 0x12}, 0x1234, REG_BINARY, {0x34, 0x12}},
        {"1 byte, kept", true, true, REG_BINARY, {0x7F}, 0x7F, REG_BINARY, {0x7F}},
        {"0 bytes read as 0, kept", true, true, REG_BINARY, {}, 0, REG_BINARY, {}},
        {"type plays no role", true, true, REG_SZ, szBytes, 0x31, REG_SZ, szBytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ts::ResetSettings();
        if (c.keyExists) { ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kKey, L"QJ_Other", 7)); }
        if (c.stored) {
            ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, kKey, L"QJ_RemoveLock", c.data.empty() ? nullptr : c.data.data(),
                                      static_cast<DWORD>(c.data.size()), c.type));
        }
        EXPECT_EQ(GetMonitorKeyStyle(L"QJ_RemoveLock"), c.expected);
        DWORD type = 0;
        EXPECT_EQ(Stored(L"QJ_RemoveLock", &type), c.dataAfter);
        EXPECT_EQ(type, c.typeAfter);
        // A second read sees the same value and changes nothing more.
        EXPECT_EQ(GetMonitorKeyStyle(L"QJ_RemoveLock"), c.expected);
    }
}

TEST_F(Settings, SwitchWriteRoundTripsAndCreatesTheKey) {
    const DWORD values[] = {0, 1, 0xFFFFFFFF, 0x12345678};
    for (DWORD v : values) {
        SCOPED_TRACE(v);
        ts::ResetSettings();
        EXPECT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", v), ERROR_SUCCESS);
        EXPECT_EQ(GetMonitorKeyStyle(L"QJ_AppDriveMode"), v);
        DWORD type = 0;
        EXPECT_EQ(Stored(L"QJ_AppDriveMode", &type), Bytes(&v, 4));
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    }
    // Writing one switch leaves the others alone.
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_CtrlAltDel", 0), ERROR_SUCCESS);
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_CtrlAltDel"), 0u);
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_AppDriveMode"), 0x12345678u);
}

TEST_F(Settings, SwitchWithoutAUsableNameIsRefused) {
    const wchar_t* const names[] = {nullptr, L""};
    for (const wchar_t* n : names) {
        SCOPED_TRACE(n ? "empty" : "null");
        EXPECT_EQ(SetMonitorKeyStyle(n, 5), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(GetMonitorKeyStyle(n), 0u);
        // Neither call wrote the key's default value.
        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kKey, L""));
    }
}

TEST_F(Settings, FailedSwitchWriteIsReported) {
    // A value name beyond the registry's limit of 16383 characters cannot be written.
    const std::wstring tooLong(20000, L'x');
    LONG r = SetMonitorKeyStyle(tooLong.c_str(), 0);
    EXPECT_NE(r, ERROR_SUCCESS);
    // Reading it cannot create it either: the result is 0, not the "switched on" default.
    EXPECT_EQ(GetMonitorKeyStyle(tooLong.c_str()), 0u);
}

// ---- the settings key's DACL ----

namespace {

// Checks that the key's DACL is protected and grants full control to SYSTEM and Administrators only.
void ExpectOwnDacl() {
    const ts::DaclView dacl = ts::ReadKeyDacl(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_TRUE(dacl.read) << dacl.error;
    EXPECT_TRUE(dacl.isProtected) << "the DACL must not inherit from SOFTWARE";
    ASSERT_TRUE(dacl.present);
    ASSERT_FALSE(dacl.nullDacl) << "a NULL DACL grants everyone";
    bool systemFull = false, adminsFull = false;
    for (size_t i = 0; i < dacl.aces.size(); ++i) {
        SCOPED_TRACE(i);
        const ts::AceEntry& ace = dacl.aces[i];
        ASSERT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
        const bool isSy = ace.sid == "S-1-5-18", isBa = ace.sid == "S-1-5-32-544";
        EXPECT_TRUE(isSy || isBa) << "only SYSTEM and Administrators may appear, not " << ace.sid;
        if (isSy && ace.GrantsAll(KEY_ALL_ACCESS)) systemFull = true;
        if (isBa && ace.GrantsAll(KEY_ALL_ACCESS)) adminsFull = true;
    }
    EXPECT_TRUE(systemFull);
    EXPECT_TRUE(adminsFull);
}

}  // namespace

TEST_F(Settings, KeyCreatedByCorelibIsForSystemAndAdministratorsOnly) {
    struct Case {
        const char* what;
        void (*create)();
    };
    static const Case cases[] = {
        {"switch read", [] { GetMonitorKeyStyle(L"QJ_EnableTolven"); }},
        {"switch write", [] { SetMonitorKeyStyle(L"QJ_EnableTolven", 0); }},
        {"record write", [] {
             uinfo r = {};
             SetUserInfo(&r);
         }},
        {"software password", [] { Set_lpLogonPWD(L"pw"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ts::ResetSettings();
        ASSERT_FALSE(SettingsKeyExists());
        c.create();
        ASSERT_TRUE(SettingsKeyExists());
        ExpectOwnDacl();
    }
}

// ---- the user record ----

TEST_F(Settings, RecordReadWithoutEnrolmentFailsWithZeroRecordAndCreatesNothing) {
    struct Case {
        const char* what;
        bool keyExists;
    };
    const Case cases[] = {{"no key", false}, {"key without record", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ts::ResetSettings();
        if (c.keyExists) { ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kKey, L"QJ_RemoveLock", 1)); }
        uinfo r;
        memset(&r, 0xAB, sizeof(r));
        EXPECT_FALSE(GetUserInfo(&r));
        EXPECT_EQ(Bytes(&r, sizeof(r)), std::vector<BYTE>(sizeof(r), 0));
        EXPECT_FALSE(IsRegisterUinfo());
        EXPECT_EQ(SettingsKeyExists(), c.keyExists);
    }
}

TEST_F(Settings, RecordWrittenWholeAndReadBack) {
    const std::vector<BYTE> bytes = Pattern(sizeof(uinfo));
    const uinfo in = RecordFrom(bytes);
    ASSERT_TRUE(SetUserInfo(&in));
    DWORD type = 0;
    EXPECT_EQ(Stored(kRecord, &type), bytes);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    uinfo out = {};
    ASSERT_TRUE(GetUserInfo(&out));
    EXPECT_EQ(Bytes(&out, sizeof(out)), bytes);
    EXPECT_TRUE(IsRegisterUinfo());
}

TEST_F(Settings, StoredRecordOfAnySizeFillsAtMostTheRecord) {
    struct Case {
        size_t stored;
        BOOL result;
        BOOL registered;
    };
    const Case cases[] = {
        {0, TRUE, FALSE}, {1, TRUE, TRUE}, {600, TRUE, TRUE}, {1139, TRUE, TRUE},
        {1140, TRUE, TRUE}, {1141, TRUE, TRUE}, {1500, TRUE, TRUE}, {8192, TRUE, TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        ts::ResetSettings();
        const std::vector<BYTE> bytes = Pattern(c.stored, 3);
        StoreRecordBytes(bytes);
        // The record sits in a larger block whose tail must survive the read.
        const size_t guard = 64;
        std::vector<BYTE> block(sizeof(uinfo) + guard, 0xCC);
        EXPECT_EQ(GetUserInfo(reinterpret_cast<uinfo*>(block.data())), c.result);
        std::vector<BYTE> expected(sizeof(uinfo), 0);
        memcpy(expected.data(), bytes.data(), c.stored < sizeof(uinfo) ? c.stored : sizeof(uinfo));
        EXPECT_EQ(std::vector<BYTE>(block.begin(), block.begin() + sizeof(uinfo)), expected);
        EXPECT_EQ(std::vector<BYTE>(block.begin() + sizeof(uinfo), block.end()), std::vector<BYTE>(guard, 0xCC));
        EXPECT_EQ(IsRegisterUinfo(), c.registered);
        // Reading never rewrites what is stored.
        EXPECT_EQ(Stored(kRecord), bytes);
    }
}

TEST_F(Settings, NullRecordIsRefused) {
    uinfo r = {};
    ASSERT_TRUE(SetUserInfo(&r));
    EXPECT_FALSE(GetUserInfo(nullptr));
    EXPECT_FALSE(SetUserInfo(nullptr));
    EXPECT_EQ(Stored(kRecord).size(), sizeof(uinfo));
}

// ---- the software password ----

TEST_F(Settings, CheckComparesExactlyWithTheStoredPassword) {
    struct Case {
        const char* what;
        bool stored;  // a record is stored
        std::wstring storedPwd;
        std::wstring given;
        BOOL expected;
    };
    const std::wstring max139(139, L'p');
    const Case cases[] = {
        {"empty stored, default not applied", true, L"", L"806", FALSE},
        {"empty stored, empty given", true, L"", L"", TRUE},
        {"same", true, L"Secret1", L"Secret1", TRUE},
        {"case differs", true, L"Secret1", L"secret1", FALSE},
        {"prefix", true, L"Secret1", L"Secret", FALSE},
        {"longer", true, L"Secret1", L"Secret12", FALSE},
        {"empty given", true, L"Secret1", L"", FALSE},
        {"Chinese", true, L"密码口令", L"密码口令", TRUE},
        {"139 characters", true, max139, max139, TRUE},
        {"139 stored, 140 given", true, max139, max139 + L"p", FALSE},
        {"no record, empty given", false, L"", L"", TRUE},
        {"no record, default not applied", false, L"", L"806", FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ts::ResetSettings();
        if (c.stored) {
            uinfo r = RecordWithPassword(c.storedPwd);
            ASSERT_TRUE(SetUserInfo(&r));
        }
        EXPECT_EQ(Check_lpLogonPWD(c.given.c_str()), c.expected);
    }
    EXPECT_FALSE(Check_lpLogonPWD(nullptr));
}

TEST_F(Settings, CheckReadsThePasswordOnlyWithinItsField) {
    // 140 characters and no NUL, followed by text in the reserved bytes: a compare that ran on
    // past the field would accept the password with that text appended.
    uinfo r = {};
    wmemset(r.lpLogonPWD, L'a', 140);
    const wchar_t tail[] = L"bb";
    memcpy(r.reserved580, tail, sizeof(tail));
    ASSERT_TRUE(SetUserInfo(&r));
    const std::wstring field(140, L'a');
    EXPECT_FALSE(Check_lpLogonPWD((field + L"bb").c_str()));
    EXPECT_FALSE(Check_lpLogonPWD(field.substr(0, 139).c_str()));
    EXPECT_TRUE(Check_lpLogonPWD(field.c_str()));
}

TEST_F(Settings, SetPasswordOnNoRecordStoresOnlyThePassword) {
    struct Case {
        const char* what;
        bool keyExists;
    };
    const Case cases[] = {{"no key", false}, {"key without record", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ts::ResetSettings();
        if (c.keyExists) { ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kKey, L"QJ_RemoveLock", 1)); }
        ASSERT_TRUE(Set_lpLogonPWD(L"新密码1"));
        DWORD type = 0;
        const std::vector<BYTE> stored = Stored(kRecord, &type);
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        uinfo expected = {};
        wcscpy(expected.lpLogonPWD, L"新密码1");
        EXPECT_EQ(stored, Bytes(&expected, sizeof(expected)));
        EXPECT_TRUE(Check_lpLogonPWD(L"新密码1"));
    }
}

TEST_F(Settings, SetPasswordKeepsTheRestOfTheRecord) {
    const std::wstring oldPwd(100, L'o');
    uinfo before = RecordWithPassword(oldPwd);
    ASSERT_TRUE(SetUserInfo(&before));
    ASSERT_TRUE(Set_lpLogonPWD(L"new"));
    uinfo after = RecordFrom(Stored(kRecord));
    uinfo expected = before;
    memset(expected.lpLogonPWD, 0, sizeof(expected.lpLogonPWD));  // no tail of the old password stays
    wcscpy(expected.lpLogonPWD, L"new");
    EXPECT_EQ(Bytes(&after, sizeof(after)), Bytes(&expected, sizeof(expected)));
    EXPECT_TRUE(Check_lpLogonPWD(L"new"));
    EXPECT_FALSE(Check_lpLogonPWD(oldPwd.c_str()));
}

TEST_F(Settings, SetPasswordAcceptsUpTo139Characters) {
    struct Case {
        size_t length;
        bool withRecord;
        BOOL expected;
    };
    const Case cases[] = {
        {0, true, TRUE},    {139, true, TRUE},   {139, false, TRUE},  {140, true, FALSE},
        {140, false, FALSE}, {500, true, FALSE}, {500, false, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << (c.withRecord ? " with record" : " without record"));
        ts::ResetSettings();
        uinfo before = RecordWithPassword(L"keep me");
        if (c.withRecord) { ASSERT_TRUE(SetUserInfo(&before)); }
        const std::wstring pwd(c.length, L'x');
        SetLastError(0);
        EXPECT_EQ(Set_lpLogonPWD(pwd.c_str()), c.expected);
        if (c.expected) {
            EXPECT_TRUE(Check_lpLogonPWD(pwd.c_str()));
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
            // Nothing was written: the old record stays, or no key appears.
            if (c.withRecord)
                EXPECT_EQ(Stored(kRecord), Bytes(&before, sizeof(before)));
            else
                EXPECT_FALSE(SettingsKeyExists());
        }
    }
    EXPECT_FALSE(Set_lpLogonPWD(nullptr));
}
