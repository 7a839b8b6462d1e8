// The user record that Winlogon's thread and the key watch share.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "internal.h"
#include "testsupport.h"

namespace {

TEST(GatehookRecord, FieldComparesStayInsideTheField) {
    wchar_t full[50];
    for (wchar_t& c : full) c = L'A';  // no terminator anywhere in the field
    wchar_t longer[51];
    for (int i = 0; i < 50; ++i) longer[i] = L'A';
    longer[50] = 0;
    struct {
        const wchar_t* field;
        const wchar_t* s;
        bool equal;
    } cases[] = {
        {L"Admin", L"Admin", true}, {L"Admin", L"ADMIN", false}, {L"Admin", L"Admin2", false},
        {L"Admin", L"Adm", false},  {L"", L"", false},          {full, longer, false},
    };
    for (auto& c : cases) {
        wchar_t field[50] = {};
        memcpy(field, c.field, c.field == full ? sizeof(full) : (wcslen(c.field) + 1) * sizeof(wchar_t));
        EXPECT_EQ(gatehook::FieldEquals(field, 50, c.s), c.equal) << ts::Narrow(c.s);
    }
    EXPECT_FALSE(gatehook::FieldEquals(L"Admin", 50, nullptr));
}

// The watch re-reads the record every tick while Winlogon's thread reads it: a reader must never
// see the zero-filled record that a read in progress leaves behind.
TEST(GatehookRecord, ReadersNeverSeeARecordHalfRead) {
    ts::ResetSettings();
    uinfo stored = {};
    lstrcpynW(stored.lpUserName, L"Admin", 50);
    lstrcpynW(stored.lpLogonPWD, L"Secret1", 140);
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &stored, sizeof(stored)));
    gatehook::RefreshRecord();

    std::atomic<bool> stop{false};
    std::thread watch([&]() {
        for (int i = 0; i < 1500; ++i) gatehook::RefreshRecord();
        stop = true;
    });
    int reads = 0, torn = 0;
    while (!stop) {
        uinfo seen;
        gatehook::SnapshotRecord(&seen);
        ++reads;
        if (wcscmp(seen.lpUserName, L"Admin") != 0 || wcscmp(seen.lpLogonPWD, L"Secret1") != 0) ++torn;
    }
    watch.join();
    EXPECT_GT(reads, 100);
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    ts::ResetSettings();
}

}  // namespace
