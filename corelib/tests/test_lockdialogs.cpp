// Corelib's own key dialogs through the real Corelib.dll: the boot key notice (121) and the locked
// notice (136). The test thread runs the modal dialog; a driver thread plays the user and the
// devices: it finds the dialog, presses keys and clicks for real, sends WM_DEVICECHANGE and reads
// what the dialog shows. Keys come from the stand-in token library and simulated USB disks; the lock
// record and the alert event are the real named objects, created here as the service would.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "classkeys.h"
#include "dialogdriver.h"
#include "uinput.h"
#include "corelib.h"
#include "prefs.h"
#include "services.h"
#include "testsupport.h"
#include "tokensim.h"
#include "usbdisk.h"

namespace tk = ts::tokensim;

namespace {

const wchar_t kSettingsKey[] = L"SOFTWARE\\Quorel\\Vantor";
using ts::kClassKey;
using ts::kInprocKey;
const wchar_t kLockedTitle[] = L"Windows已被锁定";
const wchar_t kIntervalText[] = L"间隔时间锁定计算机，您可以禁用些功能。";
const wchar_t kKeyRemovedText[] = L"认证KEY已取下，计算机进入锁定状态。";
const COLORREF kFallbackPicture = RGB(0x3C, 0x8D, 0x5A);  // background of bitmap 143, drawn by make_bitmaps.py
const DWORD kSerialLow = 0x51A0, kSerialHigh = 0x7;
const int kBoot = 121, kLocked = 136, kShutdownButton = 1019;

// The dialogs of this process: the boot notice is the one with button 1019, the locked notice the one
// with its title; 0 is any dialog.
ts::DialogMatch Match(int id) {
    ts::DialogMatch m;
    if (id == kBoot) m.control = kShutdownButton;
    if (id == kLocked) m.title = kLockedTitle;
    return m;
}

// Ends every notice: the boot notice by its button, the locked one by its (enabled) button.
void EndAllNotices() {
    for (HWND w : ts::FindDialogs(ts::DialogMatch{})) {
        if (GetDlgItem(w, kShutdownButton)) {
            PostMessageW(w, WM_COMMAND, MAKEWPARAM(kShutdownButton, BN_CLICKED), 0);
        } else {
            EnableWindow(GetDlgItem(w, IDOK), TRUE);
            PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
}

// Plays the user while the test thread sits in ShowDialog (the shared dialog driver).
class Driver : public ts::DialogDriver {
public:
    explicit Driver(std::function<void(Driver&)> script) : DialogDriver(EndAllNotices) {
        Start([this, script]() { script(*this); });
    }
    // The dialog, up and in the foreground; NULL once ShowDialog returned without showing it (that is
    // no failure here).
    HWND Wait(int id, DWORD ms = 5000) { return WaitDialog(Match(id), "dialog " + std::to_string(id), ms); }
    // The same, and a failure when it never came to the foreground (keys go there).
    HWND WaitReady(int id) {
        HWND dlg = Wait(id);
        if (!dlg) return nullptr;
        if (GetForegroundWindow() != dlg) {
            Fail("the dialog never came to the foreground");
            return nullptr;
        }
        return dlg;
    }
};

// Runs one dialog through a fresh object while the script drives it.
int Show(int dialogId, const std::function<void(Driver&)>& script) {
    IWindowUI* ui = GetWindowUI();
    if (!ui) {
        ADD_FAILURE() << "GetWindowUI gave no object";
        return -100;
    }
    Driver d(script);
    int r = ui->ShowDialog(dialogId);
    d.returned = true;
    d.Join();
    ui->Release();
    return r;
}

// A colour as six hex digits (0xBBGGRR), for failure messages.
std::string RgbText(COLORREF c) {
    char b[16];
    snprintf(b, sizeof(b), "%06lX", static_cast<unsigned long>(c));
    return b;
}


class LockDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        ts::RemoveAllSimulatedDisks();
        UE_Epas_DeleteContext();
        ASSERT_TRUE(tk::Reset());
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_AppDriveMode", 1));
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_SuoPingCheckKey", 1));
        uinfo r = {};
        lstrcpyW(r.lpUserName, L"Admin");
        r.ulTokenSerial = tk::Fold(kSerialLow, kSerialHigh);
        ASSERT_TRUE(AddDriverUID(&r, disk_.Id().c_str()));
        ASSERT_TRUE(SetUserInfo(&r));

        // The service's objects: the mapping (kept by this process from now on) and the event.
        ASSERT_EQ(CreateSharedMemory(), 0u);
        WriteLockType(0);
        event_ = CreateEventW(nullptr, FALSE, FALSE, CORELIB_ALERT_EVENT);
        ASSERT_NE(event_, nullptr);
        ResetEvent(event_);

        // Config.ini lies beside the registered logon module: a folder of this test's own.
        dir_ = ts::MakeTempDir(L"lockdialogs");
        ini_ = dir_ + L"\\Config.ini";
        ASSERT_TRUE(ts::SetString(HKEY_CLASSES_ROOT, kInprocKey, L"", dir_ + L"\\Logontile.dll"));
        wchar_t path[260];
        ASSERT_EQ(std::wstring(ZarnRegByDllPath(path, L"\\Config.ini")), ini_);
    }
    void TearDown() override {
        EXPECT_EQ(tk::MisuseCount(), 0u);
        tk::Reset();
        ts::RemoveAllSimulatedDisks();
        ts::DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
        ts::RemoveTree(dir_);
        if (event_) CloseHandle(event_);
    }

    static void WriteLockType(LONG type) {
        LockRecord r = {};
        r.enuLockType = type;
        ASSERT_EQ(WriteToSharedMemory(&r, sizeof(r)), 0u);
    }
    static LONG PendingLockType() {
        LockRecord r = {};
        EXPECT_EQ(ReadFromSharedMemory(&r, sizeof(r)), 0u);
        return r.enuLockType;
    }
    bool EventWasSet() { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }
    static void TokenIn(bool in) {
        if (in)
            ASSERT_TRUE(tk::Insert({tk::MakeToken(kSerialLow, kSerialHigh)}));
        else
            ASSERT_TRUE(tk::RemoveAll());
    }

    ts::UsbDisk disk_ = ts::UsbDisk::FlashDisk(L"LOCKDLG1");
    HANDLE event_ = nullptr;
    std::wstring dir_, ini_;
};

// ---------------------------------------------------------------- the object

TEST_F(LockDialogs, OnlyTheTwoNoticesAreShownAndEachObjectIsTheCallersOwn) {
    IWindowUI* a = GetWindowUI();
    IWindowUI* b = GetWindowUI();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    a->SetValue(42);
    for (int id : {0, -1, 120, 122, 135, 137, 143}) EXPECT_EQ(a->ShowDialog(id), 0) << id;
    EXPECT_TRUE(ts::FindDialogs(Match(0)).empty());
    a->Release();
    b->Release();
}

// ---------------------------------------------------------------- boot key notice

// The notice's own key test follows the device mode exactly as VerifyUserInfo does.
TEST_F(LockDialogs, BootNoticeEndsAtOnceWhenTheKeyOfTheDeviceModeIsPresent) {
    const struct {
        DWORD mode;
        bool token, disk;
        bool present;
    } cases[] = {
        {1, true, false, true},           {0xFFFFFFFF, true, false, true},  // not yet chosen: the token
        {2, true, false, true},           {0, false, true, true},
        {0, true, false, false},          {1, false, true, false},
        {0, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << static_cast<LONG>(c.mode) << " token " << c.token << " disk "
                                        << c.disk);
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_AppDriveMode", c.mode));
        TokenIn(c.token);
        ASSERT_TRUE(c.disk ? disk_.Plug() : disk_.Pull());
        bool shown = false;
        int r = Show(kBoot, [&](Driver& d) {
            HWND n = d.Wait(kBoot);
            if (!n) return;
            shown = true;
            if (c.present) return d.Fail("the notice stayed up with the key present");
            d.Click(n, kShutdownButton);
            if (!d.WaitGone(n)) d.Fail("the shutdown button did not end the notice");
        });
        EXPECT_EQ(shown, !c.present);
        EXPECT_EQ(r, c.present ? 1 : kShutdownButton);
    }
}

// A key-up goes to the focused control, not to the dialog: F8 must end the notice however the focus
// lies. With Alt held (or no focus at all) the release comes as a system key.
TEST_F(LockDialogs, BootNoticeEndsWith119WhenF8IsReleasedWhereverTheFocusIs) {
    TokenIn(false);
    const struct {
        const char* what;
        bool onPicture;  // else the system's choice: the button
        bool alt;
    } cases[] = {
        {"button", false, false},
        {"picture", true, false},
        {"button, Alt held", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int r = Show(kBoot, [&](Driver& d) {
            HWND n = d.WaitReady(kBoot);
            if (!n) return;
            HWND expected = GetDlgItem(n, kShutdownButton);
            if (c.onPicture) {
                expected = GetWindow(n, GW_CHILD);  // the picture comes first
                SendMessageW(n, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(expected), TRUE);
            }
            if (!ts::WaitFor([&]() { return d.FocusOf(n) == expected; }, 2000)) {
                char b[96];
                snprintf(b, sizeof(b), "the focus is on %p, not on %p", static_cast<void*>(d.FocusOf(n)),
                         static_cast<void*>(expected));
                return d.Fail(b);
            }
            if (c.alt) ts::SendKey(VK_MENU, false);
            ts::SendKey(VK_F8, false);
            bool early = !d.StaysUp(n, 400);
            ts::SendKey(VK_F8, true);
            bool gone = d.WaitGone(n);
            if (c.alt) ts::SendKey(VK_MENU, true);
            if (early) return d.Fail("pressing F8 ended the notice before its release");
            if (!gone) d.Fail("releasing F8 did not end the notice");
        });
        EXPECT_EQ(r, VK_F8);
    }
}

TEST_F(LockDialogs, BootNoticeEndsOnlyByItsButtonAmongCommandsAndKeys) {
    TokenIn(false);
    int r = Show(kBoot, [&](Driver& d) {
        HWND n = d.WaitReady(kBoot);
        if (!n) return;
        d.Command(n, IDOK);
        d.Command(n, IDCANCEL);
        PostMessageW(n, WM_CLOSE, 0, 0);
        d.Press(VK_ESCAPE);
        d.Press(VK_F7);
        if (!d.StaysUp(n)) return d.Fail("the notice ended without its button");
        d.Click(n, kShutdownButton);
        if (!d.WaitGone(n)) d.Fail("the shutdown button did not end the notice");
    });
    EXPECT_EQ(r, kShutdownButton);
}

// ---------------------------------------------------------------- device notices, both notices

// Only a volume or device-interface arrival with the key present ends a notice, with 1.
TEST_F(LockDialogs, AKeyArrivalEndsEitherNoticeOnlyWithTheKeyPresent) {
    // The locked notice's button is enabled here, so a notice that stays up can still be closed.
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_SuoPingCheckKey", 0));
    const struct {
        bool keyIn;
        WPARAM event;
        DWORD deviceType;
        bool ends;
    } cases[] = {
        {true, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, true},
        {true, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, true},
        {false, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, false},
        {false, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, false},
        {true, DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, false},
        {true, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, false},
    };
    for (int dialog : {kBoot, kLocked}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "dialog " << dialog << " key " << c.keyIn << " event 0x" << std::hex
                                            << c.event << " type " << c.deviceType);
            TokenIn(false);
            const int escape = dialog == kBoot ? kShutdownButton : IDOK;
            int r = Show(dialog, [&](Driver& d) {
                HWND n = d.Wait(dialog);
                if (!n) return;
                TokenIn(c.keyIn);
                if (!d.Notice(n, c.event, c.deviceType)) return d.Fail("the notice did not answer WM_DEVICECHANGE");
                if (c.ends) {
                    if (!d.WaitGone(n)) d.Fail("the key's arrival left the notice up");
                    return;
                }
                if (!d.StaysUp(n, 300)) return d.Fail("the notice ended without the key's arrival");
                d.Click(n, escape);
                if (!d.WaitGone(n)) d.Fail("the notice's button did not end it");
            });
            EXPECT_EQ(r, c.ends ? 1 : escape);
        }
    }
}

// ---------------------------------------------------------------- locked notice

// The lock record read at opening chooses the status text; the button needs QJ_SuoPingCheckKey off,
// unless nothing was pending. Leaving after a lock, by the button or by the key, tells the service.
TEST_F(LockDialogs, LockedNoticeFollowsTheLockRecordAndTellsTheServiceOnLeaving) {
    const struct {
        DWORD unlockNeedsKey;
        LONG lockType;
        bool enabled;
        const wchar_t* status;
    } cases[] = {
        {1, 4, false, kKeyRemovedText}, {0, 4, true, kKeyRemovedText}, {1, 2, false, kIntervalText},
        {0, 2, true, kIntervalText},    {1, 0, true, L""},              {0, 0, true, L""},
        {1, 3, false, L""},  // reserved: no text, yet a lock was pending
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "QJ_SuoPingCheckKey " << c.unlockNeedsKey << " lock type " << c.lockType);
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_SuoPingCheckKey", c.unlockNeedsKey));
        TokenIn(false);
        WriteLockType(c.lockType);
        ResetEvent(event_);
        int r = Show(kLocked, [&](Driver& d) {
            HWND n = d.WaitReady(kLocked);
            if (!n) return;
            EXPECT_EQ(d.Enabled(n, IDOK), c.enabled);
            EXPECT_EQ(d.Text(n, 1020), c.status);
            EXPECT_EQ(PendingLockType(), 0) << "opening the notice clears the record";
            if (c.enabled) {
                d.Click(n, IDOK);
                if (!d.WaitGone(n)) d.Fail("the button did not end the notice");
                return;
            }
            // Neither a click on the disabled button, nor Enter (which sends IDOK whatever the
            // button's state), nor Esc, F8 or a stray command unlocks.
            d.Click(n, IDOK);
            d.Press(VK_RETURN);
            d.Press(VK_ESCAPE);
            d.Press(VK_F8);
            d.Command(n, IDOK);
            d.Command(n, IDCANCEL);
            if (!d.StaysUp(n)) return d.Fail("the notice ended without the key");
            EXPECT_FALSE(EventWasSet()) << "nothing told the service yet";
            TokenIn(true);
            d.Notice(n, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
            if (!d.WaitGone(n)) d.Fail("the key's arrival left the notice up");
        });
        EXPECT_EQ(r, 1);
        EXPECT_EQ(EventWasSet(), c.lockType != 0) << "the event after leaving";
        EXPECT_EQ(PendingLockType(), 0);
    }
}

TEST_F(LockDialogs, LockedNoticeSetsNoEventWhenTheServiceIsNotThere) {
    // No event exists: leaving after a lock must still work.
    CloseHandle(event_);
    event_ = nullptr;
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_SuoPingCheckKey", 0));
    WriteLockType(4);
    int r = Show(kLocked, [&](Driver& d) {
        HWND n = d.WaitReady(kLocked);
        if (!n) return;
        d.Click(n, IDOK);
        if (!d.WaitGone(n)) d.Fail("the button did not end the notice");
    });
    EXPECT_EQ(r, 1);
    HANDLE e = OpenEventW(SYNCHRONIZE, FALSE, CORELIB_ALERT_EVENT);
    EXPECT_EQ(e, nullptr) << "the notice must not create the service's event";
    if (e) CloseHandle(e);
}

// The message and the picture come from Config.ini; the user from the record. A missing or
// unreadable picture falls back to bitmap 143 of Corelib.
TEST_F(LockDialogs, LockedNoticeShowsTheMessageTheUserAndThePicture) {
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_SuoPingCheckKey", 0));
    const COLORREF own = RGB(0xC8, 0x32, 0x28);
    const std::wstring picture = dir_ + L"\\me.bmp";
    ASSERT_TRUE(ts::WriteFileBytes(picture, ts::SolidBmp(16, 16, own)));
    const std::wstring broken = dir_ + L"\\broken.bmp";
    ASSERT_TRUE(ts::WriteFileBytes(broken, "BM not a bitmap"));
    const std::wstring message = L"午餐时间，请稍候";
    const struct {
        bool config;
        const wchar_t* lockMes;
        const std::wstring* userPic;
        const wchar_t* expectMessage;
        COLORREF expectPicture;
    } cases[] = {
        {false, nullptr, nullptr, L"", kFallbackPicture},
        {true, message.c_str(), &picture, message.c_str(), own},
        {true, message.c_str(), &broken, message.c_str(), kFallbackPicture},
        {true, nullptr, nullptr, L"", kFallbackPicture},
    };
    const std::wstring missing = dir_ + L"\\gone.jpg";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "config " << c.config << " picture "
                                        << (c.userPic ? ts::Narrow(*c.userPic) : "none"));
        DeleteFileW(ini_.c_str());
        if (c.config) {
            ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"UserPic",
                                     c.userPic ? c.userPic->c_str() : missing.c_str()));
            if (c.lockMes) {
                ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"LockMes", c.lockMes));
            }
        }
        int r = Show(kLocked, [&](Driver& d) {
            HWND n = d.WaitReady(kLocked);
            if (!n) return;
            EXPECT_EQ(d.Text(n, 1035), c.expectMessage);
            EXPECT_EQ(d.Text(n, 1017), L"Admin");
            COLORREF seen = 0;
            ts::WaitFor([&]() { return (seen = d.Pixel(n, 1036, 0.1, 0.1)) == c.expectPicture; }, 3000);
            EXPECT_EQ(RgbText(seen), RgbText(c.expectPicture)) << "picture frame";
            d.Click(n, IDOK);
            if (!d.WaitGone(n)) d.Fail("the button did not end the notice");
        });
        EXPECT_EQ(r, 1);
    }
}

}  // namespace
