// The settings page as data: loading from the real switches and Config.ini, the save's write order
// and its stop at the first failure, the Run value, and the tray toggles. Registration and the
// service come from recording fakes; switches, the Run value and Config.ini are real.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>
#include <string.h>

#include <string>
#include <vector>

#include "corelib.h"
#include "panelseams.h"
#include "prefs.h"
#include "settings.h"
#include "testsupport.h"

using warden::SettingsPage;

namespace {

const wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        panelseams::InstallCorelibFakes(&log_);
        log_.realWrites = true;
        dir_ = ts::MakeTempDir(L"settings");
        config_ = dir_ + L"\\Config.ini";
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kRun, L"placeholder", L"x"));  // the Run key exists
        DeleteRunValue();
    }
    void TearDown() override {
        DeleteRunValue();
        ts::ResetSettings();
        ts::RemoveTree(dir_);
    }
    static void DeleteRunValue() {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRun, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"Warden");
            RegCloseKey(key);
        }
    }
    SettingsPage Loaded(const uinfo& record, int mode = 0) {
        SettingsPage page;
        warden::LoadSettings(record, mode, config_.c_str(), &page);
        return page;
    }
    static uinfo DiskRecord() {
        uinfo r = {};
        wcscpy(r.lpDriverUID[1], L"ser&0");
        return r;
    }

    ts::Restore<warden::Seams> restore_{warden::g_seams};
    panelseams::Log log_;
    std::wstring dir_, config_;
};

std::string SwitchCalls(const std::vector<std::string>& calls) {
    std::string s;
    for (const auto& c : calls)
        if (c.compare(0, 7, "switch ") == 0) s += (s.empty() ? "" : " ") + c.substr(7);
    return s;
}

}  // namespace

TEST_F(Settings, AFreshMachineComesUpAllCheckedButLogonManagementWhichIsOffAndDisabled) {
    SettingsPage page = Loaded(uinfo{});
    for (int i = 0; i < warden::kSettingsSwitchCount; ++i)
        EXPECT_EQ(page.checked[i], warden::kSettingsSwitches[i].checkId != 30010) << warden::kSettingsSwitches[i].checkId;
    EXPECT_FALSE(page.logonManagementEnabled);
    DWORD enable = 1;
    ASSERT_TRUE(ts::GetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_EnableTolven", &enable));
    EXPECT_EQ(enable, 0u);
    EXPECT_EQ(page.lockMessage, L"");
    EXPECT_EQ(page.picturePath, L"");
    EXPECT_EQ(page.versionText, L"主程序版本：");

    // A key of the other mode does not count.
    uinfo token = {};
    token.ulTokenSerial = 9;
    EXPECT_FALSE(Loaded(token, 0).logonManagementEnabled);
    EXPECT_TRUE(Loaded(token, 1).logonManagementEnabled);
}

TEST_F(Settings, EachCheckRoundTripsThroughItsSwitch) {
    for (int i = 0; i < warden::kSettingsSwitchCount; ++i) {
        for (bool on : {false, true}) {
            SettingsPage page = Loaded(DiskRecord());
            page.checked[i] = on;
            ASSERT_TRUE(warden::SaveSettings(page, config_.c_str()).ok);
            EXPECT_EQ(Loaded(DiskRecord()).checked[i], on) << warden::kSettingsSwitches[i].checkId << on;
        }
    }
}

TEST_F(Settings, ASaveWritesInItsOrderAndTheConfigFileLast) {
    SettingsPage page = Loaded(DiskRecord());
    page.SetChecked(30003, false);
    page.SetChecked(30010, true);
    page.lockMessage = L"第一行\r\n第二行\r\n";
    page.picturePath = L"C:\\pic.jpg";
    log_.calls.clear();
    ASSERT_TRUE(warden::SaveSettings(page, config_.c_str()).ok);
    EXPECT_EQ(SwitchCalls(log_.calls),
              "QJ_IntervalMonitor=0 QJ_CtrlAltDel=1 QJ_KaiJiChcekKey=1 QJ_SuoPingCheckKey=1 QJ_EnableTolven=1 "
              "QJ_OnPowerAutorun=1 QJ_CloseAppToTP=1 QJ_RemoveLock=1 AutoLogonSoft=1");
    ASSERT_EQ(log_.calls.size(), 11u);
    EXPECT_EQ(log_.calls[9], "gian+");
    EXPECT_EQ(log_.calls[10], "service+");

    SettingsPage again = Loaded(DiskRecord());
    EXPECT_EQ(again.lockMessage, L"第一行第二行");
    EXPECT_EQ(again.picturePath, L"C:\\pic.jpg");
    // Config.ini made here is UTF-16 LE, so the Chinese survives any code page.
    EXPECT_EQ(ts::ReadFileBytes(config_).substr(0, 2), std::string("\xFF\xFE"));

    page.SetChecked(30010, false);
    log_.calls.clear();
    ASSERT_TRUE(warden::SaveSettings(page, config_.c_str()).ok);
    EXPECT_EQ(log_.calls[9], "gian-");
    EXPECT_EQ(log_.calls[10], "service-");
}

TEST_F(Settings, TheFirstFailureStopsTheSaveWith200OrElse201) {
    const struct {
        const char* fail;
        size_t calls;  // recorded calls up to and including the failing one
        int stringId;
    } cases[] = {
        {"switch QJ_IntervalMonitor", 1, 200},
        {"switch QJ_KaiJiChcekKey", 3, 201},
        {"switch AutoLogonSoft", 9, 201},
        {"gian+", 10, 201},
        {"service+", 11, 201},
    };
    for (const auto& c : cases) {
        ts::ResetSettings();
        SettingsPage page = Loaded(DiskRecord());
        page.SetChecked(30010, true);
        page.lockMessage = L"unsaved";
        log_.calls.clear();
        log_.failAt.clear();
        log_.failAt[c.fail] = ERROR_ACCESS_DENIED;
        warden::Outcome o = warden::SaveSettings(page, config_.c_str());
        EXPECT_FALSE(o.ok) << c.fail;
        EXPECT_EQ(o.stringId, c.stringId) << c.fail;
        EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(log_.calls.size(), c.calls) << c.fail << ": " << panelseams::Joined(log_.calls);
        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kRun, L"Warden")) << c.fail;
        EXPECT_EQ(Loaded(DiskRecord()).lockMessage, L"") << c.fail;
    }
    warden::Outcome partly;
    partly.ok = false;
    partly.stringId = 201;
    partly.error = 5;
    EXPECT_EQ(partly.Text(),
              L"部分设置未能保存（错误码 5），请以管理员身份运行后重新保存设置。");
}

TEST(SaveFailureText, NamesTheCauseOfTheFailingStep) {
    const std::wstring admin = L"请以管理员身份运行";
    const std::wstring reinstall = L"请重新安装Tolven电脑锁";
    const struct {
        DWORD error;
        const wchar_t* nothingWritten;  // string 200's outcome
        const wchar_t* someWritten;     // string 201's outcome
    } cases[] = {
        {ERROR_ACCESS_DENIED, L"保存失败（错误码 5），原有设置未改变，请以管理员身份运行后重试。",
         L"部分设置未能保存（错误码 5），请以管理员身份运行后重新保存设置。"},
        {ERROR_PRIVILEGE_NOT_HELD, L"保存失败（错误码 1314），原有设置未改变，请以管理员身份运行后重试。",
         L"部分设置未能保存（错误码 1314），请以管理员身份运行后重新保存设置。"},
        // A missing Logontile.dll or Gatehook.dll, Sentry.exe or its folder, the Run key.
        {ERROR_FILE_NOT_FOUND, L"保存失败（错误码 2），原有设置未改变：程序文件缺失，请重新安装Tolven电脑锁。",
         L"部分设置未能保存（错误码 2）：程序文件缺失，请重新安装Tolven电脑锁后重新保存设置。"},
        {ERROR_PATH_NOT_FOUND, L"保存失败（错误码 3），原有设置未改变：程序文件缺失，请重新安装Tolven电脑锁。",
         L"部分设置未能保存（错误码 3）：程序文件缺失，请重新安装Tolven电脑锁后重新保存设置。"},
        {ERROR_DISK_FULL, L"保存失败（错误码 112），原有设置未改变。", L"部分设置未能保存（错误码 112），请重新保存设置。"},
        {ERROR_TIMEOUT, L"保存失败（错误码 1460），原有设置未改变。", L"部分设置未能保存（错误码 1460），请重新保存设置。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        for (int id : {200, 201}) {
            warden::Outcome o;
            o.ok = false;
            o.stringId = id;
            o.error = c.error;
            EXPECT_EQ(o.Text(), id == 200 ? c.nothingWritten : c.someWritten);
            const bool rights = c.error == ERROR_ACCESS_DENIED || c.error == ERROR_PRIVILEGE_NOT_HELD;
            EXPECT_EQ(o.Text().find(admin) != std::wstring::npos, rights);
            EXPECT_EQ(o.Text().find(reinstall) != std::wstring::npos,
                      c.error == ERROR_FILE_NOT_FOUND || c.error == ERROR_PATH_NOT_FOUND);
        }
    }
}

TEST_F(Settings, RealFailuresOfTheRunKeyAndTheConfigFileGive201) {
    SettingsPage page = Loaded(DiskRecord());
    // A folder where Config.ini should be.
    ASSERT_TRUE(CreateDirectoryW(config_.c_str(), nullptr));
    warden::Outcome o = warden::SaveSettings(page, config_.c_str());
    EXPECT_EQ(o.stringId, 201);
    EXPECT_TRUE(ts::ValueExists(HKEY_LOCAL_MACHINE, kRun, L"Warden")) << "written before the file failed";
    RemoveDirectoryW(config_.c_str());

    DeleteRunValue();
    ASSERT_TRUE(ts::DeleteKeyTree(HKEY_LOCAL_MACHINE, kRun));
    o = warden::SaveSettings(page, config_.c_str());
    EXPECT_EQ(o.stringId, 201);
    EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Unchecked, a missing key is nothing to delete.
    page.SetChecked(30011, false);
    EXPECT_TRUE(warden::SaveSettings(page, config_.c_str()).ok);
    ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kRun, L"placeholder", L"x"));
}

namespace {
std::wstring g_longPath;
DWORD WINAPI LongModulePath(HMODULE, LPWSTR path, DWORD chars) {
    // What XP does with a path that fills the buffer: cut, unterminated, the size returned.
    wmemcpy(path, g_longPath.c_str(), chars);
    return chars;
}
}  // namespace

TEST_F(Settings, TheRunValueIsTheQuotedModulePathAndRegrun) {
    ASSERT_EQ(warden::RegisterAutoRun(), 0u);
    std::vector<BYTE> bytes;
    DWORD type = 0;
    ASSERT_TRUE(ts::GetValue(HKEY_LOCAL_MACHINE, kRun, L"Warden", &bytes, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring expected = L"\"" + std::wstring(self) + L"\" regrun";
    ASSERT_EQ(bytes.size(), (expected.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(memcmp(bytes.data(), expected.c_str(), bytes.size()), 0);

    EXPECT_EQ(warden::UnregisterAutoRun(), 0u);
    EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kRun, L"Warden"));
    EXPECT_EQ(warden::UnregisterAutoRun(), 0u) << "no value: nothing to delete";

    g_longPath = L"C:\\" + std::wstring(300, L'p') + L".exe";
    warden::g_seams.getModuleFileName = LongModulePath;
    EXPECT_EQ(warden::RegisterAutoRun(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kRun, L"Warden"));
}

TEST_F(Settings, LockMessagesLoseTheirLineBreaksAndStayWithin259Characters) {
    EXPECT_EQ(warden::LockMessageForSave(L"a\r\nb\r\n\r\nc"), L"abc");
    EXPECT_EQ(warden::LockMessageForSave(L"a\rb\nc\r"), L"a\rb\nc\r") << "only CR LF pairs go";
    EXPECT_EQ(warden::LockMessageForSave(std::wstring(300, L'字')).size(), 259u);
    // Text read from the file is bounded the same way.
    ASSERT_TRUE(prefs::Write(config_.c_str(), L"Preferences", L"LockMes", std::wstring(400, L'x').c_str()));
    EXPECT_EQ(Loaded(DiskRecord()).lockMessage.size(), 259u);
    ASSERT_TRUE(prefs::Write(config_.c_str(), L"UPDATE", L"VERSION", L"1.0"));
    EXPECT_EQ(Loaded(DiskRecord()).versionText, L"主程序版本：1.0");
}

TEST_F(Settings, OneKeyFreeClearsTheThreeKeyChecksAndTheirSwitchesOnly) {
    SettingsPage page = Loaded(DiskRecord());
    log_.calls.clear();
    EXPECT_TRUE(warden::OneKeyFree(&page).ok);
    EXPECT_EQ(SwitchCalls(log_.calls), "QJ_KaiJiChcekKey=0 QJ_SuoPingCheckKey=0 QJ_RemoveLock=0");
    EXPECT_FALSE(page.Checked(30001) || page.Checked(30002) || page.Checked(30013));
    EXPECT_TRUE(page.Checked(30003));
    log_.failAt["switch QJ_SuoPingCheckKey"] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(warden::OneKeyFree(&page).stringId, 201);
}

TEST_F(Settings, TheTrayTogglesFlipTheirSwitchAndLogonManagementItsRegistration) {
    warden::ToggleResult t = warden::ToggleSwitch(L"QJ_RemoveLock");  // missing reads 1
    EXPECT_TRUE(t.outcome.ok);
    EXPECT_EQ(t.value, 0u);
    EXPECT_EQ(warden::ToggleSwitch(L"QJ_RemoveLock").value, 1u);

    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_EnableTolven", 0), ERROR_SUCCESS);
    log_.calls.clear();
    warden::LogonToggle on = warden::ToggleLogonManagement();
    EXPECT_EQ(on.value, 1u);
    EXPECT_EQ(on.balloon, L"启用成功，系统需要使用USB KEY登陆！");
    EXPECT_EQ(panelseams::Joined(log_.calls), "gian+ | switch QJ_EnableTolven=1");

    log_.failAt["gian-"] = ERROR_ACCESS_DENIED;
    warden::LogonToggle refused = warden::ToggleLogonManagement();
    EXPECT_EQ(refused.value, 1u);
    EXPECT_EQ(refused.balloon, L"保存失败（错误码 5），原有设置未改变，请以管理员身份运行后重试。");
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_EnableTolven"), 1u);

    log_.failAt.clear();
    log_.failAt["switch QJ_EnableTolven"] = ERROR_ACCESS_DENIED;
    log_.calls.clear();
    warden::LogonToggle switchRefused = warden::ToggleLogonManagement();
    EXPECT_EQ(switchRefused.outcome.stringId, 200);
    EXPECT_EQ(panelseams::Joined(log_.calls), "gian- | switch QJ_EnableTolven=0 | gian+") << "registration put back";
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_EnableTolven"), 1u);
}

namespace {
OPENFILENAMEW g_dialog;
std::wstring g_filter;
BOOL WINAPI FakeOpenFile(LPOPENFILENAMEW dialog) {
    g_dialog = *dialog;
    const wchar_t* p = dialog->lpstrFilter;
    g_filter.clear();
    while (*p) {
        g_filter += p;
        g_filter += L'|';
        p += wcslen(p) + 1;
    }
    wcscpy(dialog->lpstrFile, L"C:\\photos\\me.jpg");
    return TRUE;
}
}  // namespace

TEST_F(Settings, ThePictureChooserIsOwnedByThePanelWithItsTwoFilters) {
    warden::g_seams.getOpenFileName = FakeOpenFile;
    HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    wchar_t path[260] = {};
    ASSERT_TRUE(warden::ChoosePicturePath(owner, path));
    EXPECT_STREQ(path, L"C:\\photos\\me.jpg");
    EXPECT_EQ(g_dialog.hwndOwner, owner);
    EXPECT_EQ(g_filter, L"JPG  格式图片|*.jpg|BMP  格式图片|*.bmp|");
    EXPECT_EQ(g_dialog.nFilterIndex, 1u);
    EXPECT_EQ(g_dialog.nMaxFile, 260u);
    EXPECT_EQ(g_dialog.Flags, static_cast<DWORD>(OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST));
}

TEST(MemPointer, IsWrittenAtFullPointerWidth) {
    const void* p = reinterpret_cast<const void*>(static_cast<UINT_PTR>(~static_cast<UINT_PTR>(0) - 7));
    EXPECT_EQ(_wcstoui64(warden::MemPointerText(p).c_str(), nullptr, 10), reinterpret_cast<UINT_PTR>(p));
}
