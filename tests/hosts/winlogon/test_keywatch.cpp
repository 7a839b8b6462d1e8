// The key watch: its 2-second tick locks while the key is out, its interval timer locks at the
// interval, and it rests while the locked notice is up. Locks are counted through the seam.
#include "fixture.h"

namespace host {
namespace {

const wchar_t kEnrolledInstance[] = L"7&3c4d5e6f&0&RM";
const DWORD kTwoTicks = 2 * 2000 + 500;

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
    }
    // No new lock for ms, after one tick's grace for a tick already under way.
    bool NoNewLocks(DWORD ms) {
        Sleep(300);
        int before = W.Locks();
        Sleep(ms);
        return W.Locks() == before;
    }
    ts::UsbDisk key_{L""};
};

TEST_F(GatehookKeyWatch, LocksWithinTwoTicksWhileTheKeyIsOutOnly) {
    ASSERT_TRUE(key_.Plug());
    EXPECT_TRUE(W.ActivateUserShell());
    Sleep(kTwoTicks);
    EXPECT_EQ(W.Locks(), 0) << "the key is in";

    key_.Pull();
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() >= 1; }, kTwoTicks)) << "no lock with the key out";
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() >= 2; }, kTwoTicks)) << "the lock repeats while the key stays out";

    key_.Plug();
    EXPECT_TRUE(NoNewLocks(kTwoTicks)) << "the key is back";

    key_.Pull();
    SetSwitch(L"QJ_RemoveLock", 0);
    EXPECT_TRUE(NoNewLocks(kTwoTicks)) << "removal locking is off";
}

TEST_F(GatehookKeyWatch, IntervalLockFollowsItsSwitch) {
    ASSERT_TRUE(key_.Plug());
    W.seams->intervalPeriodMs = 300;
    SetSwitch(L"QJ_IntervalMonitor", 1);
    EXPECT_TRUE(W.ActivateUserShell());
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() >= 3; }, 2500)) << "the interval lock did not repeat";
    SetSwitch(L"QJ_IntervalMonitor", 0);
    EXPECT_TRUE(NoNewLocks(1500));
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
        EXPECT_TRUE(NoNewLocks(1500)) << "the watch locked while the notice was up";
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
    cycle();  // the first start makes the thread; the notice may start helpers of its own
    Sleep(300);
    int threads = ThreadCount();
    for (int i = 0; i < 3; ++i) cycle();
    Sleep(300);
    EXPECT_EQ(ThreadCount(), threads);
}

}  // namespace
}  // namespace host
