// The key watch: its tick (2 s, injected shorter here) locks while the key is out, its interval timer
// locks at the interval, and it rests while the locked notice is up. Locks are counted through the
// seam, ticks by the record reads each one starts with.
#include "fixture.h"
#include "threads.h"

namespace host {
namespace {

const wchar_t kEnrolledInstance[] = L"7&3c4d5e6f&0&RM";
// The watch's tick, injected: the real one is 2 s.
const UINT kTick = 150;

class GatehookKeyWatch : public GatehookHost {
protected:
    void SetUp() override {
        GatehookHost::SetUp();
        key_ = ts::UsbDisk::RemovableMedia(kEnrolledInstance);
        StoreRecord(L"Admin", L"", {key_.Id(true)});
        SetSwitch(L"QJ_SuoPingCheckKey", 0);
        SetSwitch(L"QJ_RemoveLock", 1);
        SetSwitch(L"QJ_IntervalMonitor", 0);
        ASSERT_TRUE(W.Boot(L"full"));
        ASSERT_TRUE(W.seams) << "the test build hands over its seams";
        W.seams->keyWatchPeriodMs = kTick;
    }
    // Waits until the watch has begun n more ticks (each reads the record first); false when it
    // stopped ticking.
    bool Ticks(int n) {
        const int target = W.RecordReads() + n;
        return WaitFor([&]() { return W.RecordReads() >= target; }, 20 * kTick * n + 2000);
    }
    // No new lock during n whole ticks. A tick under way may still lock: its end is awaited first (the
    // next tick begins after it on the same thread).
    ::testing::AssertionResult NoNewLocks(int ticks) {
        if (!Ticks(1)) return ::testing::AssertionFailure() << "the watch does not tick";
        const int before = W.Locks();
        if (!Ticks(ticks + 1)) return ::testing::AssertionFailure() << "the watch stopped ticking";
        if (W.Locks() == before) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << W.Locks() - before << " new locks";
    }
    ts::UsbDisk key_{L""};
};

TEST_F(GatehookKeyWatch, LocksWithinTwoTicksWhileTheKeyIsOutOnly) {
    ASSERT_TRUE(key_.Plug());
    EXPECT_TRUE(W.ActivateUserShell());
    EXPECT_TRUE(NoNewLocks(3)) << "the key is in";
    EXPECT_EQ(W.Locks(), 0);

    key_.Pull();
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() >= 1; }, 20 * kTick)) << "no lock with the key out";
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() >= 2; }, 20 * kTick)) << "the lock repeats while the key stays out";

    key_.Plug();
    EXPECT_TRUE(NoNewLocks(3)) << "the key is back";

    key_.Pull();
    SetSwitch(L"QJ_RemoveLock", 0);
    EXPECT_TRUE(NoNewLocks(3)) << "removal locking is off";
}

TEST_F(GatehookKeyWatch, IntervalLockFollowsItsSwitch) {
    ASSERT_TRUE(key_.Plug());
    W.seams->intervalPeriodMs = 300;
    SetSwitch(L"QJ_IntervalMonitor", 1);
    EXPECT_TRUE(W.ActivateUserShell());
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() >= 3; }, 2500)) << "the interval lock did not repeat";
    SetSwitch(L"QJ_IntervalMonitor", 0);
    // Both timers read the record: these ticks span more than two intervals.
    EXPECT_TRUE(NoNewLocks(6));
}

// The watch rests while the locked notice is up and starts again when the notice unlocks.
TEST_F(GatehookKeyWatch, RestsWhileTheLockedNoticeIsUp) {
    ASSERT_TRUE(key_.Plug());
    SetSwitch(L"QJ_RemoveLock", 0);
    W.seams->intervalPeriodMs = 300;
    SetSwitch(L"QJ_IntervalMonitor", 1);
    EXPECT_TRUE(W.ActivateUserShell());
    ASSERT_TRUE(WaitFor([&]() { return W.Locks() >= 1; }, 2500));

    Driver d([&](Driver& d) {
        HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
        if (!n) return;
        // Resting, the watch makes no ticks at all (a tick that did not lock would be no proof). Nothing
        // to wait on when nothing happens: four of its ticks' time.
        const int locks = W.Locks(), reads = W.RecordReads();
        EXPECT_FALSE(WaitFor([&]() { return W.RecordReads() > reads; }, 4 * 300))
            << "the watch ticked while the notice was up";
        EXPECT_EQ(W.Locks(), locks) << "the watch locked while the notice was up";
        d.Click(n, IDOK);
        if (!d.WaitGone(n)) d.Fail("the button did not unlock");
    });
    EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
    d.Join();
    int after = W.Locks();
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() > after; }, 1500)) << "the watch did not start again";
}

// However often it is started, one watch thread serves the module.
TEST_F(GatehookKeyWatch, OneThreadForAllStarts) {
    SetSwitch(L"QJ_RemoveLock", 0);
    auto cycle = [&]() {
        EXPECT_TRUE(W.ActivateUserShell());
        Driver d([&](Driver& d) {
            HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
            if (!n) return;
            d.Click(n, IDOK);
            if (!d.WaitGone(n)) d.Fail("the button did not unlock");
        });
        EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
    };
    cycle();  // the first start makes the thread
    // The GINA's own threads only: Wine starts and ends threads of its own in this process.
    const std::set<DWORD> threads = ts::ThreadsStartedIn(W.gina);
    EXPECT_EQ(threads.size(), 1u) << "the watch runs on one thread of the GINA's";
    for (int i = 0; i < 3; ++i) cycle();
    EXPECT_EQ(ts::ThreadsStartedIn(W.gina), threads) << "a start made another watch thread";
}

}  // namespace
}  // namespace host
