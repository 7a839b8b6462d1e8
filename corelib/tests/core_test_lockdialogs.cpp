// The library's locked notice (136) with its key test replaced: a read that fails once with the key
// still in is something no device can be made to do on cue. The dialog runs from Corelib's objects
// linked here, with the templates and bitmaps of the built Corelib.dll.
#include <gtest/gtest.h>
#include <windows.h>

#include <dbt.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "corelib.h"
#include "dialogdriver.h"
#include "internal.h"
#include "testsupport.h"

namespace {

const wchar_t kLockedTitle[] = L"Windows已被锁定";

// The key as the notice's reads find it: in or out, and a number of coming reads that fail although
// the key is in.
std::atomic<bool> g_keyIn{true};
std::atomic<int> g_failingReads{0};

BOOL CORELIB_CALL ScriptedVerify(const uinfo*) {
    if (g_failingReads > 0) {
        --g_failingReads;
        return FALSE;
    }
    return g_keyIn ? TRUE : FALSE;
}

void EndNotices() {
    for (HWND w : ts::FindDialogs(ts::DialogMatch{kLockedTitle, 0})) {
        EnableWindow(GetDlgItem(w, IDOK), TRUE);
        PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
}

class Driver : public ts::DialogDriver {
public:
    explicit Driver(std::function<void(Driver&)> script) : DialogDriver(EndNotices) {
        Start([this, script]() { script(*this); });
    }
};

class LockedNoticeReads : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        // The dialog templates and bitmaps are Corelib.dll's.
        resources_ = LoadLibraryW(ts::InExeDir(L"Corelib.dll").c_str());
        ASSERT_NE(resources_, nullptr) << GetLastError();
        corelib::SetModuleHandle(resources_);
        saved_ = corelib::g_seams;
        corelib::g_seams.VerifyUserInfo = ScriptedVerify;
    }
    void TearDown() override {
        corelib::g_seams = saved_;
        corelib::SetModuleHandle(nullptr);
        if (resources_) FreeLibrary(resources_);
    }
    HMODULE resources_ = nullptr;
    corelib::Seams saved_ = {};
};

// Absent counts only when two reads in a row agree: one failed read, at the opening or at any
// notice, must not let the next arrival of some device unlock while the key was never out.
TEST_F(LockedNoticeReads, OnlyTwoAbsentReadsInARowLetAnArrivalUnlock) {
    struct Step {
        WPARAM event;  // 0: the opening
        bool keyIn;
        int failingReads;
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
        bool unlocks;  // by the arrival that ends the steps
    } cases[] = {
        {"one failed read at the opening", {{0, true, 1}, {DBT_DEVICEARRIVAL, true, 0}}, false},
        {"one failed read at another device's removal",
         {{0, true, 0}, {DBT_DEVICEREMOVECOMPLETE, true, 1}, {DBT_DEVICEARRIVAL, true, 0}},
         false},
        {"one failed read at another device's arrival",
         {{0, true, 0}, {DBT_DEVICEARRIVAL, true, 1}, {DBT_DEVICEARRIVAL, true, 0}},
         false},
        {"key out at the opening, then in", {{0, false, 0}, {DBT_DEVICEARRIVAL, true, 0}}, true},
        {"key pulled and put back",
         {{0, true, 0}, {DBT_DEVICEREMOVECOMPLETE, false, 0}, {DBT_DEVICEARRIVAL, true, 0}},
         true},
        {"key out at an arrival, then in",
         {{0, true, 0}, {DBT_DEVICEARRIVAL, false, 0}, {DBT_DEVICEARRIVAL, true, 0}},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_keyIn = c.steps[0].keyIn;
        g_failingReads = c.steps[0].failingReads;
        IWindowUI* ui = GetWindowUI();
        ASSERT_NE(ui, nullptr);
        Driver d([&](Driver& d) {
            HWND n = d.WaitDialog(ts::DialogMatch{kLockedTitle, 0}, "the locked notice");
            if (!n) return;
            EXPECT_EQ(g_failingReads, 0) << "the opening read no key";
            for (size_t i = 1; i < c.steps.size(); ++i) {
                g_keyIn = c.steps[i].keyIn;
                g_failingReads = c.steps[i].failingReads;
                if (!d.Notice(n, c.steps[i].event, DBT_DEVTYP_DEVICEINTERFACE))
                    return d.Fail("the notice did not take the device notice");
                EXPECT_EQ(g_failingReads, 0) << "step " << i << " read no key";
                if (i + 1 < c.steps.size() && !d.StaysUp(n, 0)) return d.Fail("the notice ended early");
            }
            if (c.unlocks) {
                if (!d.WaitGone(n)) d.Fail("the key's arrival after its absence left the notice up");
                return;
            }
            if (!d.StaysUp(n, 300)) return d.Fail("an arrival unlocked although the key was never seen absent twice");
            d.Click(n, IDOK);  // nothing pending from a service: the button is enabled
            if (!d.WaitGone(n)) d.Fail("the button did not end the notice");
        });
        EXPECT_EQ(ui->ShowDialog(136), IDOK);
        d.returned = true;
        d.Join();
        ui->Release();
    }
}

}  // namespace
