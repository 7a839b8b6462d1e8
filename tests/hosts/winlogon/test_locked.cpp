// The locked notice (136) that replaces msgina's unlock dialog, run for real.
#include "fixture.h"

namespace host {
namespace {

const wchar_t kEnrolledInstance[] = L"7&2b3c4d5e&0&RM";
const wchar_t kOtherInstance[] = L"7&88888888&0&RM";
const wchar_t kInsertKey[] = L"请插入KEY解锁计算机";
const COLORREF kDefaultPictureBackground = RGB(0x2B, 0x57, 0x9A);  // drawn by make_bitmaps.py

class GatehookLockedNotice : public GatehookKeyHost {
protected:
    void SetUp() override {
        GatehookHost::SetUp();
        SetUpKeys(kEnrolledInstance, kOtherInstance,
                  {{L"QJ_SuoPingCheckKey", 0}, {L"QJ_RemoveLock", 0}, {L"QJ_IntervalMonitor", 0}});
    }
    void Boot() { ASSERT_TRUE(W.Boot(L"full")); }
    // Leaves the notice by the key: plugs it and announces it.
    static void UnlockByKey(Driver& d, HWND n, ts::UsbDisk& key) {
        key.Plug();
        d.Arrival(n, DBT_DEVTYP_VOLUME);
        if (!d.WaitGone(n)) d.Fail("the key's arrival left the notice up");
    }
};

// The button unlocks without a password unless the key is required, or the key is out while its
// removal locks.
TEST_F(GatehookLockedNotice, ButtonStateFollowsTheSwitchesAndTheKey) {
    Boot();
    struct {
        DWORD unlockNeedsKey;
        DWORD removeLock;
        bool keyIn;
        bool enabled;
    } cases[] = {
        {0, 0, false, true}, {0, 1, false, false}, {0, 1, true, true},
        {1, 0, false, false}, {1, 0, true, false}, {1, 1, true, false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "SuoPing " << c.unlockNeedsKey << " RemoveLock " << c.removeLock
                                        << " key " << c.keyIn);
        SetSwitch(L"QJ_SuoPingCheckKey", c.unlockNeedsKey);
        SetSwitch(L"QJ_RemoveLock", c.removeLock);
        if (c.keyIn) key_.Plug(); else key_.Pull();
        Driver d([&](Driver& d) {
            HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
            if (!n) return;
            EXPECT_EQ(d.Enabled(n, IDOK), c.enabled);
            EXPECT_EQ(d.Text(n, 1020), c.enabled ? L"" : kInsertKey);
            if (c.enabled) {
                d.Click(n, IDOK);
                if (!d.WaitGone(n)) d.Fail("the button did not unlock");
                return;
            }
            // Neither a click on the disabled button nor a stray command unlocks.
            d.Click(n, IDOK);
            d.Command(n, IDOK);
            d.Command(n, IDCANCEL);
            if (!d.StaysUp(n)) return d.Fail("the notice closed without the key");
            key_.Pull();
            key_.NotifyRemoval(n);  // a key left in must be seen gone before its arrival unlocks
            UnlockByKey(d, n, key_);
        });
        EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
    }
}

TEST_F(GatehookLockedNotice, ShowsTheMessageAndTheEnrolledUser) {
    const std::wstring message = L"午餐时间，请稍候";
    WriteConfig(L"LockMes=" + message + L"\r\n");
    Boot();
    Driver d([&](Driver& d) {
        HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
        if (!n) return;
        EXPECT_EQ(d.Text(n, 1035), message);
        EXPECT_EQ(d.Text(n, 1017), L"Admin");
        d.Click(n, IDOK);
        d.WaitGone(n);
    });
    EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
}

// Without a message in Config.ini (or without the file) the template's text does not stay.
TEST_F(GatehookLockedNotice, NoMessageEmptiesTheMessageText) {
    Boot();
    for (const wchar_t* prefs : {L"", L"UserPic=\r\n"}) {
        SCOPED_TRACE(ts::Narrow(prefs));
        WriteConfig(prefs);
        Driver d([&](Driver& d) {
            HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
            if (!n) return;
            EXPECT_EQ(d.Text(n, 1035), L"");
            d.Click(n, IDOK);
            d.WaitGone(n);
        });
        EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
    }
}


// The user picture from Config.ini fills the frame; without a readable one the built-in picture does.
TEST_F(GatehookLockedNotice, PaintsTheUserPictureOrTheDefault) {
    std::wstring folder = WriteConfig(L"");
    std::wstring picture = folder + L"\\me.bmp";
    ASSERT_TRUE(ts::WriteFileBytes(picture, ts::SolidBmp(40, 30, RGB(0x20, 0xC0, 0x40))));
    ts::WriteFileBytes(folder + L"\\broken.jpg", "not a picture");
    Boot();
    struct {
        std::wstring path;
        COLORREF expected;
    } cases[] = {
        {picture, RGB(0x20, 0xC0, 0x40)},
        {folder + L"\\missing.bmp", kDefaultPictureBackground},
        {folder + L"\\broken.jpg", kDefaultPictureBackground},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.path));
        WriteConfig(L"UserPic=" + c.path + L"\r\n");
        Driver d([&](Driver& d) {
            HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
            if (!n) return;
            COLORREF seen = 0;
            // Near a corner of the frame: the default picture's background, or the whole user picture.
            bool ok = WaitFor([&]() { return Near(seen = d.Pixel(n, 1036, 0.12, 0.12), c.expected); }, 3000);
            EXPECT_TRUE(ok) << std::hex << "pixel " << seen << " expected " << c.expected;
            d.Click(n, IDOK);
            d.WaitGone(n);
        });
        EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
    }
}

TEST_F(GatehookLockedNotice, StatusTextIsRed) {
    SetSwitch(L"QJ_SuoPingCheckKey", 1);
    Boot();
    Driver d([&](Driver& d) {
        HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
        if (!n) return;
        bool red = WaitFor([&]() {
            int w = 0, h = 0;
            for (COLORREF c : CaptureControl(n, 1020, &w, &h))
                if (GetRValue(c) > 200 && GetGValue(c) < 70 && GetBValue(c) < 70) return true;
            return false;
        }, 3000);
        EXPECT_TRUE(red) << "no red text in the status";
        UnlockByKey(d, n, key_);
    });
    EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
}

TEST_F(GatehookLockedNotice, ArrivalReadsTheRecordAfresh) {
    SetSwitch(L"QJ_SuoPingCheckKey", 1);
    Boot();
    Driver d([&](Driver& d) {
        HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
        if (!n) return;
        StoreRecord(L"Admin", L"", {other_.Id(true)});  // enrolled anew while the notice is up
        other_.Plug();
        d.Arrival(n, DBT_DEVTYP_VOLUME);
        if (!d.WaitGone(n)) d.Fail("the newly enrolled key did not unlock");
    });
    EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
}

}  // namespace
}  // namespace host
