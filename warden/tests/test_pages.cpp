// The main panel's device and settings pages: enrolment through the make-key button and its
// refusals (which keep the stored record's bytes), arrivals, clearing, the change of device mode, and
// the settings page's round trip, with the panel running modally in this process. Drives come from
// the seam table (Wine maps no new letter while its server runs).
#include "paneltest.h"

#include <dbt.h>

#include <algorithm>
#include <map>

#include "bkleaf.h"
#include "prefs.h"
#include "runningpanel.h"
#include "screenshot.h"
#include "settings.h"
#include "tokensim.h"
#include "uinput.h"

using paneltest::CallsOf;
using paneltest::Panel;
using warden::CMainDlg;

namespace {

struct FakeDrive {
    std::wstring label;
    std::wstring fileSystem;
};
std::map<wchar_t, FakeDrive>* g_drives = nullptr;

DWORD WINAPI FakeLogicalDrives() {
    DWORD mask = 1u << 2;  // C:, a fixed disk
    for (const auto& d : *g_drives) mask |= 1u << (d.first - L'A');
    return mask;
}
UINT WINAPI FakeDriveType(LPCWSTR root) {
    return g_drives->count(root[0]) ? DRIVE_REMOVABLE : DRIVE_FIXED;
}
BOOL WINAPI FakeVolume(LPCWSTR root, LPWSTR label, DWORD labelChars, LPDWORD, LPDWORD, LPDWORD, LPWSTR fs,
                       DWORD fsChars) {
    auto it = g_drives->find(root[0]);
    if (it == g_drives->end()) return FALSE;
    wcsncpy(label, it->second.label.c_str(), labelChars - 1);
    label[labelChars - 1] = 0;
    wcsncpy(fs, it->second.fileSystem.c_str(), fsChars - 1);
    fs[fsChars - 1] = 0;
    return TRUE;
}

class Pages : public Panel {
protected:
    void SetUp() override {
        Panel::SetUp();
        g_drives = &drives_;
        warden::g_seams.getLogicalDrives = FakeLogicalDrives;
        warden::g_seams.getDriveType = FakeDriveType;
        warden::g_seams.getVolumeInformation = FakeVolume;
    }
    void TearDown() override {
        g_drives = nullptr;
        Panel::TearDown();
    }
    void AddDrive(wchar_t letter, const wchar_t* label, const wchar_t* id) {
        drives_[letter] = {label, L"FAT32"};
        corelib_.driveIds[std::wstring(1, letter) + L":\\"] = id;
    }
    static std::vector<std::wstring> ComboTexts(CMainDlg& panel) {
        std::vector<std::wstring> out;
        if (CbkCombo* combo = panel.FindUsbDiskCombo())
            for (const auto& item : combo->GetItems()) out.push_back(item.text.GetString());
        return out;
    }
    // The writes the fakes saw (Corelib's and the switches).
    size_t Writes() const { return corelib_.calls.size(); }

    std::map<wchar_t, FakeDrive> drives_;
};

LRESULT SendArrival(HWND panel, wchar_t letter, WORD flags) {
    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (letter - L'A');
    volume.dbcv_flags = flags;
    return SendMessageW(panel, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
}

}  // namespace

TEST_F(Pages, MakingADiskKeyEnrolsItAndASecondPressRefusesWithTheRecordUnchanged) {
    AddDrive(L'R', L"KEY", L"usbstor#disk&ven_a#r1");
    std::vector<std::wstring> listed;
    std::wstring count;
    BOOL checked = FALSE, enabledBefore = TRUE;
    RunPanel([&](CMainDlg& panel) {
        listed = ComboTexts(panel);
        enabledBefore = !panel.View().FindItem(30010)->IsDisabledDeep();
        Click(panel, 20002);
        count = panel.GetItemText(20005).GetString();
        checked = panel.GetItemCheck(30010);
    });
    EXPECT_EQ(listed, std::vector<std::wstring>{L"KEY-FAT32 (R:\\)"});
    EXPECT_FALSE(enabledBefore);
    ASSERT_EQ(log_.boxes.size(), 1u);
    EXPECT_EQ(log_.boxes[0].text, IsWin7() ? L"制作成功，请保管好您的USB KEY！" : L"制作成功，重启电脑后将使用验证功能！");
    EXPECT_EQ(log_.boxes[0].caption, L"操作提示");
    EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONQUESTION));
    EXPECT_EQ(count, L"1/5");
    EXPECT_TRUE(checked);
    EXPECT_EQ(Switch(L"QJ_EnableTolven"), 1u);
    uinfo stored = {};
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_STREQ(stored.lpDriverUID[0], L"usbstor#disk&ven_a#r1");

    const std::string before = StoredRecord();
    log_.boxes.clear();
    corelib_.calls.clear();
    RunPanel([&](CMainDlg& panel) {
        Click(panel, 20002);
        count = panel.GetItemText(20005).GetString();
    });
    ASSERT_EQ(log_.boxes.size(), 1u);
    EXPECT_EQ(log_.boxes[0].text, L"该U盘已注册使用，请勿重复制作！");
    EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(count, L"1/5");
    EXPECT_EQ(StoredRecord(), before);
    EXPECT_EQ(panelseams::Joined(corelib_.calls).find("userinfo"), std::string::npos);
}

TEST_F(Pages, RefusedEnrolmentsShowTheirTextAndKeepTheRecordsBytes) {
    struct Case {
        const char* what;
        bool full;          // five slots taken
        bool withDrive;     // a removable drive listed
        bool idKnown;       // its id can be read
        const wchar_t* text;
    } cases[] = {
        {"no drive", false, false, false, L"未检测到U盘，请插入U盘！"},
        {"no id", false, true, false, L"获取设备信息失败，请检查USB设备是否接好或尝试使用其它设备！"},
        {"sixth disk", true, true, true, L"5个U盘已全部被设置，先移除不使用的认证U盘！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ts::ResetSettings();
        SetSwitch(L"QJ_AppDriveMode", 0);
        drives_.clear();
        corelib_.driveIds.clear();
        if (c.full) {
            uinfo r = {};
            for (int i = 0; i < 5; ++i) swprintf(r.lpDriverUID[i], 50, L"usbstor#disk#slot%d", i);
            ASSERT_TRUE(SetUserInfo(&r));
        } else {
            EnrolDisk(L"usbstor#disk#other");
        }
        if (c.withDrive) {
            drives_[L'S'] = {L"", L"FAT"};
            if (c.idKnown) corelib_.driveIds[L"S:\\"] = L"usbstor#disk#new";
        }
        const std::string before = StoredRecord();
        log_.boxes.clear();
        corelib_.calls.clear();
        RunPanel([&](CMainDlg& panel) {
            corelib_.calls.clear();  // the start's own switch writes
            Click(panel, 20002);
        });
        ASSERT_EQ(log_.boxes.size(), 1u);
        EXPECT_EQ(log_.boxes[0].text, c.text);
        EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(StoredRecord(), before);
        std::string writes;
        for (const auto& call : corelib_.calls)
            if (call.compare(0, 8, "driveid ") != 0) writes += call + " ";
        EXPECT_EQ(writes, "");
    }
}

TEST_F(Pages, ALabelHoldingAParenthesisStillEnrols) {
    AddDrive(L'R', L"A(B", L"usbstor#disk#paren");
    RunPanel([&](CMainDlg& panel) { Click(panel, 20002); });
    uinfo stored = {};
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_STREQ(stored.lpDriverUID[0], L"usbstor#disk#paren");
    EXPECT_NE(panelseams::Joined(corelib_.calls).find("driveid R:\\"), std::string::npos);
}

TEST_F(Pages, ArrivalsAppendRemovableVolumesAndKeepTheFirstSelected) {
    AddDrive(L'R', L"ONE", L"id#r");
    std::vector<std::wstring> after;
    std::wstring selected;
    RunPanel([&](CMainDlg& panel) {
        AddDrive(L'S', L"TWO", L"id#s");
        EXPECT_EQ(SendArrival(panel, L'S', 0), 0);
        SendArrival(panel, L'S', 0);             // already listed
        drives_[L'T'] = {L"NEW", L"FAT"};
        SendArrival(panel, L'T', DBTF_MEDIA);    // new media in a drive: not a new drive
        SendArrival(panel, L'C', 0);             // a fixed drive
        after = ComboTexts(panel);
        selected = panel.FindUsbDiskCombo()->GetSelectedValue().GetString();
        const Shot shot = Screenshot(panel);
        ASSERT_EQ(shot.w, 700) << "the panel never settled on the screen";
        Save(shot, L"panel_device_two_drives.bmp");
        // The chosen drive's text in the combo's box.
        CBkWindow* combo = panel.View().FindItem(warden::kItemDeviceCombo);
        ASSERT_NE(combo, nullptr);
        EXPECT_GT(Ink(shot, ts::RectInShot(panel, panel.View(), combo->GetRect())), 20) << "an empty device box";
    });
    EXPECT_EQ(after, (std::vector<std::wstring>{L"ONE-FAT32 (R:\\)", L"TWO-FAT32 (S:\\)"}));
    EXPECT_EQ(selected, L"ONE-FAT32 (R:\\)");
}

TEST_F(Pages, ClearingWithNoEnrolledDiskInsertedFailsAndKeepsEverySlot) {
    uinfo r = {};
    wcscpy(r.lpDriverUID[0], L"usbstor#a");
    wcscpy(r.lpDriverUID[2], L"usbstor#b");
    ASSERT_TRUE(SetUserInfo(&r));
    const std::string before = StoredRecord();
    std::wstring count;
    RunPanel([&](CMainDlg& panel) {
        Click(panel, 30014);
        count = panel.GetItemText(20005).GetString();
    });
    ASSERT_EQ(log_.boxes.size(), 1u);
    EXPECT_EQ(log_.boxes[0].text, L"清除失败，此操作要求您必须插入一个有效KEY以确认您当前操作是合法的。");
    EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(StoredRecord(), before);
    EXPECT_EQ(count, L"2/5");
}

TEST_F(Pages, ChangingTheDeviceModeTurnsProtectionOffAndStartsThePanelAgain) {
    static int choice;
    warden::g_chooseDeviceMode = [] { return choice; };
    EnrolDisk();
    SetSwitch(L"QJ_EnableTolven", 1);
    // Closed, or the same mode: nothing happens.
    for (int c : {-1, 0}) {
        choice = c;
        RunPanel([&](CMainDlg& panel) {
            corelib_.calls.clear();
            Click(panel, 20004);
        });
        EXPECT_TRUE(log_.boxes.empty()) << c;
        EXPECT_TRUE(corelib_.calls.empty()) << c;
        EXPECT_TRUE(CallsOf(L"create").empty()) << c;
    }
    choice = 1;
    HANDLE propAfter = reinterpret_cast<HANDLE>(1);
    size_t deletesBeforeRestart = 0;
    int result = RunPanel([&](CMainDlg& panel) {
        log_.trayMessages.clear();
        Click(panel, 20004);
        propAfter = GetPropW(panel, TOLVEN_PANEL_TITLE);
        deletesBeforeRestart = std::count(log_.trayMessages.begin(), log_.trayMessages.end(), static_cast<DWORD>(NIM_DELETE));
    });
    EXPECT_EQ(result, 0);
    for (const wchar_t* name : {L"QJ_EnableTolven", L"QJ_RemoveLock", L"QJ_KaiJiChcekKey", L"QJ_SuoPingCheckKey"})
        EXPECT_EQ(Switch(name), 0u) << ts::Narrow(name);
    EXPECT_EQ(Switch(L"QJ_AppDriveMode"), 1u);
    ASSERT_EQ(log_.boxes.size(), 1u);
    EXPECT_EQ(log_.boxes[0].text,
              L"设置成功,系统暂时取消开机保护、锁屏保护等功能，请点击【制作】按钮制作新的验证介子并恢复保护功能！");
    EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION));
    wchar_t path[MAX_PATH] = {};
    ZarnRegByDllPath(path, L"\\Warden.exe");
    EXPECT_EQ(CallsOf(L"create"), std::vector<std::wstring>{L"create " + std::wstring(path) + L" \"" + path + L"\""});
    EXPECT_EQ(CallsOf(L"exit"), std::vector<std::wstring>{L"exit 0"});
    EXPECT_EQ(propAfter, nullptr);
    EXPECT_EQ(deletesBeforeRestart, 1u);
}

// A step of the change of mode refused: the box names it, the old mode and its protections stay, and
// the panel neither restarts nor ends.
TEST_F(Pages, AChangeOfModeThatFailsKeepsTheOldModeAndThePanel) {
    warden::g_chooseDeviceMode = [] { return 1; };
    EnrolDisk();
    const wchar_t* const protections[] = {L"QJ_EnableTolven", L"QJ_RemoveLock", L"QJ_KaiJiChcekKey",
                                          L"QJ_SuoPingCheckKey"};
    for (const wchar_t* name : protections) SetSwitch(name, 1);
    const struct {
        const char* failAt;
        const wchar_t* step;
    } cases[] = {
        {"gian-", L"无法注销登陆模块"},
        {"switch QJ_RemoveLock=0", L"无法关闭保护功能"},
        {"service-", L"无法停止电脑锁服务"},
        {"switch QJ_AppDriveMode=1", L"无法保存新的设备模式"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failAt);
        log_.boxes.clear();
        log_.calls.clear();
        corelib_.failAt.clear();
        corelib_.failAt[std::string(c.failAt)] = ERROR_ACCESS_DENIED;
        bool running = false;
        int result = RunPanel([&](CMainDlg& panel) {
            Click(panel, 20004);
            running = IsWindow(panel) && !panel.IsEnding() && GetPropW(panel, TOLVEN_PANEL_TITLE) != nullptr;
        });
        EXPECT_EQ(result, 77) << "ended only by the test";
        EXPECT_TRUE(running) << "the panel went on";
        ASSERT_EQ(log_.boxes.size(), 1u);
        EXPECT_NE(log_.boxes[0].text.find(c.step), std::wstring::npos) << ts::Narrow(log_.boxes[0].text);
        EXPECT_NE(log_.boxes[0].text.find(L"设备模式未更改"), std::wstring::npos);
        EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONERROR));
        EXPECT_TRUE(CallsOf(L"create").empty());
        EXPECT_TRUE(CallsOf(L"exit").empty());
        EXPECT_TRUE(CallsOf(L"exitwindows").empty());
        EXPECT_EQ(Switch(L"QJ_AppDriveMode"), 0u);
        for (const wchar_t* name : protections) EXPECT_EQ(Switch(name), 1u) << ts::Narrow(name);
        const std::string calls = panelseams::Joined(corelib_.calls);
        EXPECT_EQ(calls.substr(calls.size() - 5), "gian+") << calls;
    }
}

// Each check box of the settings page survives a save and a new start, from either value.
TEST_F(Pages, SettingsRoundTripThroughSaveAndANewStart) {
    EnrolDisk();
    const int ids[] = {30013, 30001, 30002, 30003, 30004, 30010, 30011, 30012, 30008};
    for (int value : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "saved as " << value);
        log_.boxes.clear();
        RunPanel([&](CMainDlg& panel) {
            for (int id : ids) panel.SetItemCheck(id, value);
            Click(panel, 30007);
        });
        ASSERT_EQ(log_.boxes.size(), 1u);
        EXPECT_EQ(log_.boxes[0].text, L"操作成功！");
        EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONQUESTION));
        std::vector<BOOL> checks;
        RunPanel([&](CMainDlg& panel) {
            for (int id : ids) checks.push_back(panel.GetItemCheck(id));
        });
        EXPECT_EQ(checks, std::vector<BOOL>(9, value ? TRUE : FALSE));
    }
    HKEY run;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, warden::kRunKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
        RegDeleteValueW(run, warden::kRunValueName);
        RegCloseKey(run);
    }
}

TEST_F(Pages, TheLockMessageIsSavedAsOneLineAndShownAtTheNextStart) {
    std::wstring shown, version;
    RunPanel([&](CMainDlg& panel) {
        panel.SetItemText(30006, L"第一行\r\n第二行");
        Click(panel, 30007);
    });
    wchar_t stored[300] = {};
    prefs::Read(config_.c_str(), L"Preferences", L"LockMes", L"", stored, 300);
    EXPECT_STREQ(stored, L"第一行第二行");
    prefs::Write(config_.c_str(), L"UPDATE", L"VERSION", L"1.0");
    RunPanel([&](CMainDlg& panel) {
        shown = panel.GetItemText(30006).GetString();
        version = panel.GetItemText(254).GetString();
    });
    EXPECT_EQ(shown, L"第一行第二行");
    EXPECT_EQ(version, L"主程序版本：1.0");
}

TEST_F(Pages, ARefusedSaveShowsTheFailureAndThePageShowsWhatIsStored) {
    SetSwitch(L"QJ_IntervalMonitor", 1);
    corelib_.failAt["switch QJ_IntervalMonitor"] = ERROR_ACCESS_DENIED;
    BOOL after = FALSE;
    RunPanel([&](CMainDlg& panel) {
        panel.SetItemCheck(30003, FALSE);
        Click(panel, 30007);
        after = panel.GetItemCheck(30003);
    });
    ASSERT_EQ(log_.boxes.size(), 1u);
    EXPECT_EQ(log_.boxes[0].text, warden::PanelStringWithError(warden::kStrSaveFailed, ERROR_ACCESS_DENIED));
    EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(Switch(L"QJ_IntervalMonitor"), 1u);
    EXPECT_TRUE(after);
}

TEST_F(Pages, OneKeyFreeClearsTheThreeKeyChecksAndNothingElse) {
    std::vector<BOOL> checks;
    RunPanel([&](CMainDlg& panel) {
        panel.SetItemCheck(30003, FALSE);  // an unsaved change elsewhere stays unsaved
        Click(panel, 30009);
        for (int id : {30001, 30002, 30013}) checks.push_back(panel.GetItemCheck(id));
    });
    EXPECT_EQ(checks, std::vector<BOOL>(3, FALSE));
    for (const wchar_t* name : {L"QJ_KaiJiChcekKey", L"QJ_SuoPingCheckKey", L"QJ_RemoveLock"})
        EXPECT_EQ(Switch(name), 0u) << ts::Narrow(name);
    EXPECT_EQ(Switch(L"QJ_IntervalMonitor"), 1u);
    ASSERT_EQ(log_.boxes.size(), 1u);
    EXPECT_EQ(log_.boxes[0].text, L"操作成功！");
}

TEST_F(Pages, AChosenPictureIsShownAndSavedWithTheNextSave) {
    // A 2x2 24-bit picture.
    std::string bmp(54 + 16, '\0');
    BITMAPFILEHEADER* fh = reinterpret_cast<BITMAPFILEHEADER*>(&bmp[0]);
    fh->bfType = 0x4D42;
    fh->bfSize = static_cast<DWORD>(bmp.size());
    fh->bfOffBits = 54;
    BITMAPINFOHEADER* ih = reinterpret_cast<BITMAPINFOHEADER*>(&bmp[14]);
    ih->biSize = 40;
    ih->biWidth = 2;
    ih->biHeight = 2;
    ih->biPlanes = 1;
    ih->biBitCount = 24;
    for (size_t i = 54; i < bmp.size(); ++i) bmp[i] = static_cast<char>(0x80);
    const std::wstring picture = ts::InExeDir(L"pages_picture.bmp");
    ASSERT_TRUE(ts::WriteFileBytes(picture, bmp));
    log_.openFileOk = true;
    log_.openFilePath = picture;
    bool drawn = false;
    HWND owner = nullptr, panelWindow = nullptr;
    RunPanel([&](CMainDlg& panel) {
        panelWindow = panel.m_hWnd;
        Click(panel, 30005);
        auto* image = static_cast<CBkMemoryImage*>(panel.View().FindItem(30005));
        drawn = image && image->GetImage() != nullptr;
        owner = log_.openFileOwner;
        Click(panel, 30007);
        panel.SetTabCurSel(warden::kMainTabCtrl, 1);
        const Shot shot = Screenshot(panel);
        ASSERT_EQ(shot.w, 700) << "the panel never settled on the screen";
        Save(shot, L"panel_settings_picture.bmp");
        // The picture in its frame and the first check box with its text.
        CBkWindow* check = panel.View().FindItem(warden::kSettingsSwitches[0].checkId);
        ASSERT_NE(check, nullptr);
        EXPECT_GT(Ink(shot, ts::RectInShot(panel, panel.View(), check->GetRect())), 20) << "no check box";
        if (image) {
            EXPECT_GT(Ink(shot, ts::RectInShot(panel, panel.View(), image->GetRect())), 20) << "no picture";
        }
    });
    EXPECT_TRUE(drawn);
    EXPECT_EQ(owner, panelWindow);
    wchar_t stored[300] = {};
    prefs::Read(config_.c_str(), L"Preferences", L"UserPic", L"", stored, 300);
    EXPECT_EQ(std::wstring(stored), picture);
    DeleteFileW(picture.c_str());
}

class TokenPages : public Pages {
protected:
    void SetUp() override {
        UE_Epas_DeleteContext();
        ASSERT_TRUE(ts::tokensim::Reset());
        Pages::SetUp();
        SetSwitch(L"QJ_AppDriveMode", 1);
    }
    void TearDown() override {
        EXPECT_EQ(ts::tokensim::MisuseCount(), 0u) << ts::tokensim::Log();
        ts::tokensim::Reset();
        UE_Epas_DeleteContext();
        Pages::TearDown();
    }
    DWORD StoredSerial() {
        uinfo r = {};
        return GetUserInfo(&r) ? r.ulTokenSerial : 0;
    }
};

TEST_F(TokenPages, TokenAbsentAtStartOrPulledSinceIsRefusedWithTheRecordUnchanged) {
    EnrolDisk();
    const std::string before = StoredRecord();
    std::vector<std::wstring> listed = {L"x"};
    RunPanel([&](CMainDlg& panel) {
        listed = ComboTexts(panel);
        Click(panel, 20002);
    });
    EXPECT_TRUE(listed.empty());
    ASSERT_TRUE(ts::tokensim::Insert({ts::tokensim::MakeToken(0x1234, 0, "ZARN-1")}));
    RunPanel([&](CMainDlg& panel) {
        listed = ComboTexts(panel);
        ts::tokensim::RemoveAll();  // pulled after the start
        Click(panel, 20002);
    });
    EXPECT_EQ(listed, std::vector<std::wstring>{L"ZARN-1"});
    ASSERT_EQ(log_.boxes.size(), 2u);
    for (const auto& box : log_.boxes) {
        EXPECT_EQ(box.text, L"未检测U盾，请插入U盾或联系我们购买！");
        EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONERROR));
    }
    EXPECT_EQ(StoredRecord(), before);
}

TEST_F(TokenPages, ATokenEnrolsOnceAndAnotherReplacesItOnlyOnYes) {
    const auto first = ts::tokensim::MakeToken(0x1234, 0, "ZARN-1");
    ASSERT_TRUE(ts::tokensim::Insert({first}));
    RunPanel([&](CMainDlg& panel) { Click(panel, 20002); });
    EXPECT_EQ(StoredSerial(), ts::tokensim::Fold(first));
    EXPECT_EQ(Switch(L"QJ_EnableTolven"), 1u);
    ASSERT_EQ(log_.boxes.size(), 1u);
    EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_ICONQUESTION));

    // The same token again.
    log_.boxes.clear();
    RunPanel([&](CMainDlg& panel) { Click(panel, 20002); });
    ASSERT_EQ(log_.boxes.size(), 1u);
    EXPECT_EQ(log_.boxes[0].text, L"该U盾已注册使用，请勿重复制作！");

    // Another token: asked first; No and Cancel keep the record, Yes replaces the serial.
    const auto second = ts::tokensim::MakeToken(0x5678, 0, "ZARN-2");
    ASSERT_TRUE(ts::tokensim::Insert({second}));
    const std::string before = StoredRecord();
    for (int answer : {IDNO, IDCANCEL, IDYES}) {
        SCOPED_TRACE(answer);
        log_.boxes.clear();
        log_.answers = {answer};
        RunPanel([&](CMainDlg& panel) { Click(panel, 20002); });
        ASSERT_GE(log_.boxes.size(), 1u);
        EXPECT_EQ(log_.boxes[0].text, L"您是要使用新的U盾作为认证KEY吗？     点击【是】将使用新的U盾！");
        EXPECT_EQ(log_.boxes[0].type, static_cast<UINT>(MB_YESNOCANCEL | MB_ICONERROR));
        if (answer != IDYES) {
            EXPECT_EQ(log_.boxes.size(), 1u);
            EXPECT_EQ(StoredRecord(), before);
        }
    }
    EXPECT_EQ(StoredSerial(), ts::tokensim::Fold(second));
}

// The visible window that the panel (first) owns: the box over it.
static BOOL CALLBACK FindOwnedBox(HWND w, LPARAM p) {
    auto* search = reinterpret_cast<std::pair<HWND, HWND*>*>(p);
    if (w != search->first && IsWindowVisible(w) && GetWindow(w, GW_OWNER) == search->first) {
        *search->second = w;
        return FALSE;
    }
    return TRUE;
}

// One real box: the skinned box comes up over the panel, which it disables, and ends with its OK button.
TEST_F(Pages, OneKeyFreeFromTheTrayShowsARealBoxOverThePanel) {
    warden::g_panelBox = warden::ShowSkinnedBox;
    warden::CMainDlg panel;
    HWND box = nullptr;
    auto findBox = [&] {
        box = nullptr;
        std::pair<HWND, HWND*> search(panel.m_hWnd, &box);
        EnumThreadWindows(GetCurrentThreadId(), FindOwnedBox, reinterpret_cast<LPARAM>(&search));
        return box != nullptr;
    };
    bool panelDisabledUnderBox = false, boxGone = false;
    ts::ModalScript script;
    script.WaitUntil([&] { return panel.m_hWnd && IsWindowVisible(panel); })
        .Do([&] { PostMessageW(panel, WM_COMMAND, warden::kCmdOneKeyFree, 0); })
        .WaitUntil(findBox)
        .Do([&] {
            panelDisabledUnderBox = !IsWindowEnabled(panel);
            // As the user sees it: the caption in the header, the message right of its icon and the
            // OK button in the footer (layout 105: header 31 high, footer 45, text from 70,20 of the body).
            const Shot shot = Screenshot(box);
            EXPECT_GT(shot.w, 0) << "the box never settled on the screen";
            if (shot.w > 0) {
                Save(shot, L"panel_box_onekeyfree.bmp");
                EXPECT_GT(Ink(shot, RECT{25, 4, 160, 27}), 40) << "no caption in the header";
                EXPECT_GT(Ink(shot, RECT{70, 51, shot.w - 4, shot.h - 45}), 60) << "no message";
                EXPECT_GT(Ink(shot, RECT{0, shot.h - 45, shot.w, shot.h}), 20) << "no button";
            }
            // Its OK button's click as the box's view reports it.
            BkCommandNotify n = {};
            n.hdr.hwndFrom = GetDlgItem(box, kBkViewCtrlId);
            n.hdr.idFrom = kBkViewCtrlId;
            n.hdr.code = kBkNotifyCommand;
            n.uItemID = IDOK;
            n.szItemClass = "button";
            SendMessageW(box, WM_NOTIFY, kBkViewCtrlId, reinterpret_cast<LPARAM>(&n));
        })
        .WaitUntil([&] { return boxGone = !IsWindow(box) || !IsWindowVisible(box); })
        .Do([&] { panel.EndDialog(0); });
    EXPECT_TRUE(script.Run([&] { panel.ShowModal(); }, 20000));
    EXPECT_TRUE(panelDisabledUnderBox);
    EXPECT_TRUE(boxGone);
    EXPECT_EQ(Switch(L"QJ_KaiJiChcekKey"), 0u);
}

// The system's file dialog of this thread that the panel owns.
struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};
static BOOL CALLBACK FindOwnedFileDialog(HWND w, LPARAM p) {
    auto* search = reinterpret_cast<OwnedDialogSearch*>(p);
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == search->owner && wcscmp(cls, L"#32770") == 0) {
        search->found = w;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK FindFileNameEdit(HWND w, LPARAM p) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (wcscmp(cls, L"Edit") == 0 && GetDlgCtrlID(w) == 0x47C && IsWindowVisible(w)) {
        *reinterpret_cast<HWND*>(p) = w;
        return FALSE;
    }
    return TRUE;
}

// The chooser for real once: the system's open dialog over the panel, a path typed into its file
// name box and Enter; the picture shows and the next save stores it.
TEST_F(Pages, TheRealFileDialogTakesATypedPathAndEnter) {
    warden::g_seams.getOpenFileName = GetOpenFileNameW;
    const std::wstring picture = ts::InExeDir(L"pages_typed.bmp");
    ASSERT_TRUE(ts::WriteFileBytes(picture, ts::SolidBmp(2, 2, RGB(0x80, 0x80, 0x80))));

    warden::CMainDlg panel;
    HWND dialog = nullptr;
    HWND nameBox = nullptr;
    bool drawnBefore = true, drawn = false, dialogGone = false;
    ts::ModalScript script;
    script.WaitUntil([&] { return panel.m_hWnd && IsWindowVisible(panel); })
        .Do([&] {
            auto* image = static_cast<CBkMemoryImage*>(panel.View().FindItem(30005));
            drawnBefore = image && image->GetImage() != nullptr;
            // Returns once the dialog has ended: the steps after it play inside the dialog's loop.
            Click(panel, 30005);
        })
        .WaitUntil([&] {
            OwnedDialogSearch search = {panel.m_hWnd, nullptr};
            EnumThreadWindows(GetCurrentThreadId(), FindOwnedFileDialog, reinterpret_cast<LPARAM>(&search));
            dialog = search.found;
            if (!dialog) return false;
            // The file name box: the edit inside combo cmb13 (a ComboBoxEx holding a combo box).
            nameBox = nullptr;
            EnumChildWindows(dialog, FindFileNameEdit, reinterpret_cast<LPARAM>(&nameBox));
            return nameBox != nullptr;
        })
        .Do([&] {
            for (wchar_t c : picture) SendMessageW(nameBox, WM_CHAR, c, 1);
            SetForegroundWindow(dialog);
        })
        .WaitUntil([&] { return GetForegroundWindow() == dialog; })
        .Do([&] {
            ts::SendKey(VK_RETURN, false);
            ts::SendKey(VK_RETURN, true);
        })
        .WaitUntil([&] { return dialogGone = !IsWindow(dialog); })
        .WaitUntil([&] {
            auto* image = static_cast<CBkMemoryImage*>(panel.View().FindItem(30005));
            return drawn = image && image->GetImage() != nullptr;
        })
        .Do([&] {
            Click(panel, 30007);
            panel.EndDialog(0);
        });
    const bool finished = script.Run([&] { panel.ShowModal(); }, 30000);
    EXPECT_TRUE(finished) << "steps done: " << script.StepsDone();
    EXPECT_TRUE(dialogGone);
    EXPECT_FALSE(drawnBefore) << "no picture was chosen before";
    EXPECT_TRUE(drawn);
    wchar_t stored[300] = {};
    prefs::Read(config_.c_str(), L"Preferences", L"UserPic", L"", stored, 300);
    EXPECT_EQ(std::wstring(stored), picture);
    ASSERT_FALSE(log_.boxes.empty());
    EXPECT_EQ(log_.boxes.back().text, L"操作成功！");
    DeleteFileW(picture.c_str());
}
