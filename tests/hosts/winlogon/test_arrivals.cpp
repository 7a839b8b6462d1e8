// A device arrival at either key notice of the GINA, the boot notice (121) and the locked notice
// (136), run for real: only a volume or device-interface arrival with the enrolled key present ends
// it, whatever other disk arrives.
#include "fixture.h"

namespace host {
namespace {

const wchar_t kEnrolledInstance[] = L"7&5e6f7081&0&RM";
const wchar_t kOtherInstance[] = L"7&66666666&0&RM";

struct Notice {
    const char* name;
    bool boot;  // the boot notice (WlxLoggedOutSAS); otherwise the locked one (WlxWkstaLockedSAS)
    std::vector<GatehookKeyHost::SwitchValue> switches;
};

class GatehookArrival : public GatehookKeyHost, public ::testing::WithParamInterface<Notice> {};

TEST_P(GatehookArrival, EndsTheNoticeOnlyForTheEnrolledKey) {
    const Notice& notice = GetParam();
    SetUpKeys(kEnrolledInstance, kOtherInstance, {});
    for (const SwitchValue& s : notice.switches) SetSwitch(s.name, s.value);
    ASSERT_TRUE(W.Boot(L"full"));
    if (notice.boot) lstrcpynW(W.standin->userName, L"Admin", 64);
    struct {
        DWORD type;
        bool enrolledIn;
        bool otherIn;
        bool ends;
    } const cases[] = {
        {DBT_DEVTYP_PORT, true, false, false},
        {DBT_DEVTYP_VOLUME, false, true, false},
        {DBT_DEVTYP_DEVICEINTERFACE, false, true, false},
        {DBT_DEVTYP_VOLUME, true, false, true},
        {DBT_DEVTYP_DEVICEINTERFACE, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " enrolled " << c.enrolledIn);
        key_.Pull();
        other_.Pull();
        const int msgina = W.CountOf(SE_LoggedOutSAS);
        Driver d([&](Driver& d) {
            HWND n = notice.boot ? d.WaitBootNotice() : d.WaitTitled(HOST_LOCKED_TITLE);
            if (!n) return;
            if (c.enrolledIn) key_.Plug();
            if (c.otherIn) other_.Plug();
            if (!d.Arrival(n, c.type)) return d.Fail("the notice did not take the arrival");
            if (c.ends) {
                if (!d.WaitGone(n)) d.Fail("the key's arrival left the notice up");
                return;
            }
            if (!d.StaysUp(n)) return d.Fail("the notice closed without the key");
            if (notice.boot) return d.Command(n, 1019);
            // The locked notice has no way out but the key.
            other_.Pull();
            key_.Plug();
            d.Arrival(n, DBT_DEVTYP_VOLUME);
            if (!d.WaitGone(n)) d.Fail("the key's arrival left the notice up");
        });
        if (notice.boot) {
            const int action = W.LoggedOutSAS();
            d.Join();
            EXPECT_EQ(action, c.ends ? WLX_SAS_ACTION_LOGON : WLX_SAS_ACTION_SHUTDOWN);
            EXPECT_EQ(W.CountOf(SE_LoggedOutSAS), msgina + (c.ends ? 1 : 0));
        } else {
            EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
        }
    }
}

void PrintTo(const Notice& n, std::ostream* os) { *os << n.name; }

INSTANTIATE_TEST_SUITE_P(
    BothNotices, GatehookArrival,
    ::testing::Values(
        Notice{"BootNotice", true, {{L"QJ_KaiJiChcekKey", 1}, {L"QJ_RemoveLock", 1}, {L"QJ_IntervalMonitor", 0}}},
        Notice{"LockedNotice", false, {{L"QJ_SuoPingCheckKey", 1}, {L"QJ_RemoveLock", 0}, {L"QJ_IntervalMonitor", 0}}}),
    [](const ::testing::TestParamInfo<Notice>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace host
