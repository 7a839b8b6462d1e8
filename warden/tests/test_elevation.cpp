// The restart with elevation: when it happens, what it starts, and that it can never repeat itself.
// Wine's token and key rights are not those of a limited Vista user, so the token answer, the key
// probe and the shell start come from fakes; the real probe is checked against the real key.
#include <gtest/gtest.h>

#include <string>

#include "corelib.h"
#include "elevation.h"
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
        {TRUE, FALSE, ERROR_FILE_NOT_FOUND, ElevationStep::kGoOn},  // a fresh machine
        {TRUE, FALSE, ERROR_INVALID_PARAMETER, ElevationStep::kGoOn},
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

TEST_F(Elevation, TheRealProbeOpensTheSettingsKeyForWriting) {
    appcommon::ElevationSeams real = appcommon::DefaultElevationSeams();
    ts::ResetSettings();
    EXPECT_EQ(real.probeSettingsKey(), ERROR_FILE_NOT_FOUND);  // no key yet: no reason to elevate
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", 1));
    EXPECT_EQ(real.probeSettingsKey(), ERROR_SUCCESS);
    // Wine runs every program as an administrator: with the real table nothing starts.
    g_elevationSeams = real;
    g_elevationSeams.shellExecuteEx = FakeShellExecuteEx;
    EXPECT_FALSE(appcommon::NeedsElevation());
    EXPECT_EQ(fake_.starts, 0);
    ts::ResetSettings();
}
