// Winlogon's auto-logon values with the LSA secret store replaced (Wine's LSA keeps no private data):
// what the secret call is handed, what a refusal reports and logs, and that the password never lands
// in Winlogon's registry key, which every local user can read.
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "corelib.h"
#include "imports.h"
#include "internal.h"
#include "testsupport.h"

namespace {

const wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t* const kValues[] = {L"AutoAdminLogon", L"DefaultUserName", L"DefaultDomainName", L"DefaultPassword"};
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022L);

struct SecretCall {
    std::wstring name;
    bool nameCounted;  // Length without the NUL, MaximumLength at least that
    bool deleted;      // no data: the secret is deleted
    std::wstring value;
    bool valueCounted;
};

std::mutex g_lock;
std::vector<SecretCall> g_calls;
NTSTATUS g_answer = 0;
std::vector<std::wstring> g_logged;

std::wstring Counted(const LSA_UNICODE_STRING* s, bool* counted) {
    *counted = s->Buffer && s->Length % 2 == 0 && s->MaximumLength >= s->Length;
    return s->Buffer ? std::wstring(s->Buffer, s->Length / sizeof(wchar_t)) : std::wstring();
}

NTSTATUS WINAPI RecordStore(LSA_HANDLE policy, PLSA_UNICODE_STRING name, PLSA_UNICODE_STRING data) {
    std::lock_guard<std::mutex> g(g_lock);
    SecretCall c = {};
    EXPECT_NE(policy, nullptr);
    if (name) c.name = Counted(name, &c.nameCounted);
    c.deleted = data == nullptr;
    if (data) c.value = Counted(data, &c.valueCounted);
    g_calls.push_back(c);
    return g_answer;
}

BOOL WINAPI RecordReportEvent(HANDLE, WORD, WORD, DWORD, PSID, WORD count, DWORD, LPCWSTR* strings, LPVOID) {
    std::lock_guard<std::mutex> g(g_lock);
    for (WORD i = 0; i < count; ++i) g_logged.push_back(strings[i] ? strings[i] : L"");
    return TRUE;
}

class AutoLogonSecret : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 4; ++i) saved_[i] = ts::GetValue(HKEY_LOCAL_MACHINE, kWinlogon, kValues[i], &data_[i], &type_[i]);
        seams_ = corelib::g_seams;
        corelib::g_seams.LsaStorePrivateData = RecordStore;
    }
    void TearDown() override {
        corelib::g_seams = seams_;
        for (int i = 0; i < 4; ++i) {
            if (saved_[i]) {
                ts::SetBinary(HKEY_LOCAL_MACHINE, kWinlogon, kValues[i], data_[i].data(),
                              static_cast<DWORD>(data_[i].size()), type_[i]);
            } else {
                HKEY k;
                if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogon, 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
                    RegDeleteValueW(k, kValues[i]);
                    RegCloseKey(k);
                }
            }
        }
    }
    bool saved_[4] = {};
    std::vector<BYTE> data_[4];
    DWORD type_[4] = {};
    corelib::Seams seams_ = {};
};

TEST_F(AutoLogonSecret, ThePasswordGoesIntoTheLsaSecretAndNeverIntoTheRegistry) {
    ts::ImportPatch log(GetModuleHandleW(nullptr), "advapi32.dll", "ReportEventW",
                        reinterpret_cast<void*>(&RecordReportEvent));
    ASSERT_TRUE(log.ok());
    const std::wstring longest(256, L'p'), tooLong(257, L'p');
    const struct {
        const char* what;
        const wchar_t* password;
        NTSTATUS answer;
        LONG rc;
        bool stored;  // the secret call is made with the password
        bool logged;
    } cases[] = {
        {"a password", L"s3cret", 0, 0, true, false},
        {"Chinese", L"密码 口令", 0, 0, true, false},
        {"the longest Windows password", longest.c_str(), 0, 0, true, false},
        {"empty: the stored secret stays", L"", 0, 0, false, false},
        {"none: the stored secret stays", nullptr, 0, 0, false, false},
        {"the LSA refuses", L"s3cret", kAccessDenied, ERROR_ACCESS_DENIED, true, true},
        {"longer than any Windows password", tooLong.c_str(), 0, ERROR_INVALID_PARAMETER, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A clear-text copy from an earlier version goes, whatever becomes of the secret.
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultPassword", L"old clear text"));
        {
            std::lock_guard<std::mutex> g(g_lock);
            g_calls.clear();
            g_logged.clear();
            g_answer = c.answer;
        }
        EXPECT_EQ(AutoLogonSystem(L"1", L"张三", L"PC-1", c.password), c.rc);
        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultPassword")) << "clear text in the registry";
        std::wstring v;
        EXPECT_TRUE(ts::GetString(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", &v) && v == L"1");
        EXPECT_TRUE(ts::GetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName", &v) && v == L"张三");
        EXPECT_TRUE(ts::GetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultDomainName", &v) && v == L"PC-1");

        std::lock_guard<std::mutex> g(g_lock);
        ASSERT_EQ(g_calls.size(), c.stored ? 1u : 0u);
        if (c.stored) {
            const SecretCall& call = g_calls[0];
            EXPECT_EQ(ts::Narrow(call.name), "DefaultPassword");
            EXPECT_TRUE(call.nameCounted);
            EXPECT_FALSE(call.deleted);
            EXPECT_EQ(ts::Narrow(call.value), ts::Narrow(c.password));
            EXPECT_TRUE(call.valueCounted);
        }
        EXPECT_EQ(!g_logged.empty(), c.logged);
    }
}

}  // namespace
