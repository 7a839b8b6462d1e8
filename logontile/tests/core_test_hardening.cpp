// The key tile at unlock, with its key check scripted poll by poll: a key left in at the lock counts
// only after it has been read absent in two polls in a row, so that one failed SetupAPI or token
// read is not taken for a pulled key.
#include "tilefixture.h"

#include <vector>

namespace {

using namespace lt;

// One answer per poll; the last one repeats.
std::vector<BOOL> g_script;
volatile LONG g_polls = 0;

BOOL CORELIB_CALL ScriptedKey(const uinfo*) {
    LONG i = InterlockedIncrement(&g_polls) - 1;
    if (g_script.empty()) return FALSE;
    return g_script[static_cast<size_t>(i) < g_script.size() ? static_cast<size_t>(i) : g_script.size() - 1];
}

class LogontileHardening : public TileFixture {
protected:
    void TearDown() override {
        TileFixture::TearDown();
        logontile::g_tileSeams = saved_;
    }
    logontile::TileSeams saved_ = logontile::g_tileSeams;
};

TEST_F(LogontileHardening, KeyLeftInAtTheLockCountsOnlyAfterTwoAbsentPollsInARow) {
    const BOOL in = TRUE, out = FALSE;
    const struct {
        const char* what;
        std::vector<BOOL> polls;
        LONG connectsAt;  // 1-based poll that finds the key, 0: never
    } cases[] = {
        {"one read that failed", {in, in, in, out, in}, 0},
        {"failed reads, never two in a row", {in, out, in, out, in, out, in}, 0},
        {"pulled and put back", {in, out, out, in}, 4},
        {"a failed read, then pulled and put back", {in, out, in, out, out, out, in}, 7},
        {"already out at the lock", {out, out, in}, 3},
    };
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_SuoPingCheckKey", 1), ERROR_SUCCESS);
    logontile::g_tileSeams.VerifyUserInfo = ScriptedKey;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_script = c.polls;
        ASSERT_EQ(logonui::WriteLockRecord(LOCKTYPE_KEY_REMOVED), 0u);
        ASSERT_EQ(Open(CPUS_UNLOCK_WORKSTATION), S_OK);
        ResetEvent(providerEvents_.signal);
        g_polls = 0;
        EXPECT_FALSE(Select());
        if (c.connectsAt) {
            ASSERT_TRUE(providerEvents_.WaitChange(3000)) << "the key's return was not seen";
            EXPECT_TRUE(tile_->IsConnected());
            EXPECT_EQ(g_polls, c.connectsAt);
            EXPECT_TRUE(Select()) << "the tile does not ask for the automatic logon";
        } else {
            // Well past the script: the key stays in, read present at every later poll.
            ASSERT_TRUE(WaitUntil([] { return g_polls >= 20; }, 3000));
            EXPECT_FALSE(tile_->IsConnected()) << "a single absent read let the key that never left unlock";
            EXPECT_FALSE(providerEvents_.WaitChange(0));
        }
        Close();
    }
}

}  // namespace
