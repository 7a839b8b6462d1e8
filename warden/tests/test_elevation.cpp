// The restart with elevation: when it happens, what it starts, and that it can never repeat itself.
// Wine's token and key rights are not those of a limited Vista user, so the token answer, the
// refusal of HKLM writes and the shell start come from fakes; the real probe walks the real keys.
#include <gtest/gtest.h>

#include <string>

#include "corelib.h"
#include "elevation.h"
#include "limitedtoken.h"
#include "testsupport.h"

using appcommon::ElevationStep;
using appcommon::g_elevationSeams;

namespace {

struct Fake {
    BOOL known = TRUE;
    BOOL elevated = FALSE;
    LONG probe = ERROR_SUCCESS;
    BOOL started = TRUE;
    DWORD startError = 0;
    int starts = 0;
    std::wstring verb, file, parameters;
    bool parametersNull = false;
};
Fake* g_fake = nullptr;

BOOL FakeQuery(BOOL* elevated) {
    *elevated = g_fake->elevated;
    return g_fake->known;
}
LONG FakeProbe() { return g_fake->probe; }
BOOL WINAPI FakeShellExecuteEx(SHELLEXECUTEINFOW* info) {
    ++g_fake->starts;
    g_fake->verb = info->lpVerb ? info->lpVerb : L"";
    g_fake->file = info->lpFile ? info->lpFile : L"";
    g_fake->parametersNull = info->lpParameters == nullptr;
    g_fake->parameters = info->lpParameters ? info->lpParameters : L"";
    if (!g_fake->started) SetLastError(g_fake->startError);
    return g_fake->started;
}

class Elevation : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = &fake_;
        g_elevationSeams.queryElevation = FakeQuery;
        g_elevationSeams.probeSettingsKey = FakeProbe;
        g_elevationSeams.shellExecuteEx = FakeShellExecuteEx;
    }
    void TearDown() override { g_fake = nullptr; }
    ts::Restore<appcommon::ElevationSeams> restore_{g_elevationSeams};
    Fake fake_;
};

}  // namespace

TEST_F(Elevation, OnlyAnUnelevatedTokenRefusedTheKeyStartsAgain) {
    const struct {
        BOOL known, elevated;
        LONG probe;
        ElevationStep step;
    } cases[] = {
        {TRUE, FALSE, ERROR_ACCESS_DENIED, ElevationStep::kRelaunched},
        {TRUE, FALSE, ERROR_SUCCESS, ElevationStep::kGoOn},
        {TRUE, FALSE, ERROR_INVALID_PARAMETER, ElevationStep::kGoOn},  // not ours to judge
        {TRUE, TRUE, ERROR_ACCESS_DENIED, ElevationStep::kGoOn},    // the elevated copy: never again
        {FALSE, FALSE, ERROR_ACCESS_DENIED, ElevationStep::kGoOn},  // XP: no elevation to ask for
    };
    for (const auto& c : cases) {
        fake_ = Fake();
        fake_.known = c.known;
        fake_.elevated = c.elevated;
        fake_.probe = c.probe;
        appcommon::ElevationResult r = appcommon::ElevateIfNeeded(L"regrun");
        EXPECT_EQ(r.step, c.step) << c.known << c.elevated << " " << c.probe;
        EXPECT_EQ(fake_.starts, c.step == ElevationStep::kRelaunched ? 1 : 0);
    }
}

TEST_F(Elevation, TheCopyIsThisProgramWithTheSameArgumentsUnderRunas) {
    fake_.probe = ERROR_ACCESS_DENIED;
    EXPECT_EQ(appcommon::ElevateIfNeeded(L"regrun").step, ElevationStep::kRelaunched);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(fake_.verb, L"runas");
    EXPECT_EQ(fake_.file, self);
    EXPECT_EQ(fake_.parameters, L"regrun");

    EXPECT_EQ(appcommon::ElevateIfNeeded(L"").step, ElevationStep::kRelaunched);
    EXPECT_TRUE(fake_.parametersNull);
}

TEST_F(Elevation, ADeclinedPromptOrAFailedStartEndsWithString202) {
    fake_.probe = ERROR_ACCESS_DENIED;
    fake_.started = FALSE;
    fake_.startError = ERROR_CANCELLED;
    appcommon::ElevationResult r = appcommon::ElevateIfNeeded(nullptr);
    EXPECT_EQ(r.step, ElevationStep::kRefused);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(fake_.starts, 1);  // asked once, never in a loop

    fake_.startError = ERROR_FILE_NOT_FOUND;
    r = appcommon::ElevateIfNeeded(nullptr);
    EXPECT_EQ(r.step, ElevationStep::kRefused);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(appcommon::kElevationRefusedString, 202);
}

namespace {

bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

}  // namespace

TEST_F(Elevation, TheRealProbeAsksWhereTheKeyCanBeNeitherWrittenNorCreatedAndCreatesNothing) {
    const wchar_t kVendorKey[] = L"SOFTWARE\\Quorel";
    const struct {
        bool key;             // the settings key exists
        bool vendor;          // its parent exists (without the key)
        bool limited;         // HKLM refuses writes
        LONG probe;
        bool asks;
    } cases[] = {
        {false, false, true, ERROR_ACCESS_DENIED, true},  // a fresh Vista/7 machine without elevation
        {false, true, true, ERROR_ACCESS_DENIED, true},
        {true, true, true, ERROR_ACCESS_DENIED, true},
        {false, false, false, ERROR_SUCCESS, false},      // an administrator (Wine): created at first use
        {true, true, false, ERROR_SUCCESS, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << c.vendor << c.limited);
        ts::ResetSettings();  // the vendor key too
        if (c.vendor) {
            HKEY k = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVendorKey, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(k);
        }
        if (c.key) {
            ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", 1));
        }
        appcommon::ElevationSeams real = appcommon::DefaultElevationSeams();
        g_elevationSeams = real;
        g_elevationSeams.queryElevation = FakeQuery;  // not elevated
        g_elevationSeams.shellExecuteEx = FakeShellExecuteEx;
        if (c.limited) g_elevationSeams.regOpenKeyEx = limitedtoken::Open;
        limitedtoken::g_writeOpens = 0;
        fake_ = Fake();
        EXPECT_EQ(g_elevationSeams.probeSettingsKey(), c.probe);
        EXPECT_EQ(appcommon::NeedsElevation(), c.asks);
        EXPECT_EQ(appcommon::ElevateIfNeeded(L"regrun").step,
                  c.asks ? ElevationStep::kRelaunched : ElevationStep::kGoOn);
        if (c.limited) {
            EXPECT_GT(limitedtoken::g_writeOpens, 0);
        }
        EXPECT_EQ(KeyExists(CORELIB_SETTINGS_KEY), c.key) << "the probe creates nothing";
        EXPECT_EQ(KeyExists(kVendorKey), c.vendor) << "the probe creates nothing";

        // The elevated copy and XP never ask, whatever the key says.
        fake_.elevated = TRUE;
        EXPECT_FALSE(appcommon::NeedsElevation());
        fake_.elevated = FALSE;
        fake_.known = FALSE;
        EXPECT_FALSE(appcommon::NeedsElevation());
    }
    ts::ResetSettings();
}

TEST_F(Elevation, TheBuiltInTableAsksNothingOfAnAdministrator) {
    // Wine runs every program as an administrator: with the real table nothing starts, on a fresh
    // machine or not.
    for (bool key : {false, true}) {
        ts::ResetSettings();
        if (key) {
            ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", 1));
        }
        g_elevationSeams = appcommon::DefaultElevationSeams();
        g_elevationSeams.shellExecuteEx = FakeShellExecuteEx;
        EXPECT_FALSE(appcommon::NeedsElevation());
        EXPECT_EQ(fake_.starts, 0);
    }
    ts::ResetSettings();
}
