// The main road end to end under Wine, from one install folder registered the way enrolment does:
// the real Sentry.exe installed and started through its command line, the recording Porter, Corelib,
// the tile's test build as Logontile.dll, the token stand-in and the LogonUI host. Each road is
// walked step by step (roadkit); every step is printed and a failed step fails the test.
#include <gtest/gtest.h>

#include <stdio.h>

#include <ostream>

#include "roadkit.h"
#include "testsupport.h"

namespace road {
// Names the key mode in test names and messages.
void PrintTo(Key::Mode mode, std::ostream* os) { *os << (mode == Key::Mode::Token ? "token" : "USB disk"); }
}  // namespace road

namespace {

class TestReporter : public road::Reporter {
public:
    void Section(const std::string& title) override {
        section_ = title;
        printf("== %s\n", title.c_str());
        fflush(stdout);
    }
    void Step(bool ok, const std::string& what, const std::string& seen) override {
        printf("  [%s] %s: %s\n", ok ? "ok" : "FAIL", what.c_str(), seen.c_str());
        fflush(stdout);
        if (!ok) ADD_FAILURE() << section_ << ": " << what << ": " << seen;
    }

private:
    std::string section_;
};

// Every road starts from, and leaves, a prefix without the service, settings, keys or registration:
// the road tests share them with each other and with the service's own tests.
class RoadUnderWine : public ::testing::Test {
protected:
    void SetUp() override { road::CleanMachine(); }
    void TearDown() override {
        road::CleanMachine();
        if (HasFailure() && !hostLog_.empty()) printf("LogonUI host log:\n%s", hostLog_.c_str());
    }
    void Install(road::Service service) {
        std::string error;
        ASSERT_TRUE(install_.Fill(ts::ExeDir(), service, &error)) << error;
    }

    road::InstallFolder install_;
    TestReporter reporter_;
    std::string hostLog_;
};

class KeyRemovalRoad : public RoadUnderWine, public ::testing::WithParamInterface<road::Key::Mode> {};

// Pulled: lock type 4, Porter, the wait; the tile's unlock screen with the removal text; the key back:
// automatic logon with the record's credentials, the event, the wait ends; pulled again it locks
// again, and a stop during that wait is clean.
TEST_P(KeyRemovalRoad, LocksUnlocksAtTheTileAndWatchesAgain) {
    Install(road::Service::Real);
    if (HasFatalFailure()) return;
    road::Key key(GetParam());
    road::Road r(install_.dir(), key, reporter_);
    EXPECT_TRUE(r.WalkKeyRemoval());
    hostLog_ = r.hostLog();
}

INSTANTIATE_TEST_SUITE_P(Road, KeyRemovalRoad, ::testing::Values(road::Key::Mode::Token, road::Key::Mode::UsbDisk),
                         [](const ::testing::TestParamInfo<road::Key::Mode>& info) {
                             return std::string(info.param == road::Key::Mode::Token ? "Token" : "UsbDisk");
                         });

// The short-period service locks on its timer with lock type 2 while the key stays in; at the tile the
// key has to be pulled and inserted again; the unlock arms the timer again, which locks again.
TEST_F(RoadUnderWine, IntervalLockTakesTheRoadWithLockType2) {
    Install(road::Service::ShortPeriod);
    if (HasFatalFailure()) return;
    road::Key key(road::Key::Mode::Token);
    road::Road r(install_.dir(), key, reporter_);
    EXPECT_TRUE(r.WalkIntervalLock());
    hostLog_ = r.hostLog();
}

}  // namespace
