// The key: enrolment tests per device mode, the token-present test over the token stand-in, the
// enrolment and clearing decisions over the real record and simulated disks, and the change of
// device mode with its restart. Writes go through recording fakes (real where a case needs the store).
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "corelib.h"
#include "keys.h"
#include "panelseams.h"
#include "testsupport.h"
#include "tokensim.h"
#include "usbdisk.h"

namespace tk = ts::tokensim;
using warden::EnrolDecision;
using warden::EnrolPlan;

namespace {

const wchar_t kNoToken[] = L"未检测U盾，请插入U盾或联系我们购买！";
const wchar_t kNoDeviceInfo[] = L"获取设备信息失败，请检查USB设备是否接好或尝试使用其它设备！";

std::vector<BYTE> StoredRecord() {
    std::vector<BYTE> bytes;
    ts::GetValue(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &bytes);
    return bytes;
}

class Keys : public ::testing::Test {
protected:
    void SetUp() override {
        UE_Epas_DeleteContext();
        ASSERT_TRUE(tk::Reset());
        ts::ResetSettings();
        panelseams::InstallCorelibFakes(&log_);
    }
    void TearDown() override {
        EXPECT_EQ(tk::MisuseCount(), 0u) << tk::Log();
        tk::Reset();
        ts::ResetSettings();
    }
    ts::Restore<warden::Seams> restore_{warden::g_seams};
    panelseams::Log log_;
};

}  // namespace

TEST(KeyEnrolled, FollowsTheDeviceMode) {
    uinfo none = {};
    uinfo disk = {};
    wcscpy(disk.lpDriverUID[3], L"ser&0");
    uinfo token = {};
    token.ulTokenSerial = 0x1234;
    const struct {
        const uinfo* record;
        int mode;
        bool enrolled;
    } cases[] = {
        {&none, 0, false}, {&none, 1, false}, {&none, -1, false}, {&disk, 0, true},   {&disk, 1, false},
        {&disk, -1, false}, {&token, 0, false}, {&token, 1, true}, {&token, -1, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(warden::IsKeyEnrolled(*c.record, c.mode), c.enrolled) << (c.record == &disk) << c.mode;
}

TEST_F(Keys, ATokenIsPresentWhenTheFirstOrOneOfFiveNextHasABrandLabel) {
    const struct {
        std::vector<std::string> labels;
        int present;
        const char* opens;
    } cases[] = {
        {{}, 0, "O1! O0! O0! O0! O0! O0!"},
        {{"ZARN-1"}, 1, "O1@1"},
        {{"XYZ"}, 0, "O1@1 O0! O0! O0! O0! O0!"},
        {{"XYZ", "XYZ", "ZARN"}, 1, "O1@1 O0@2 O0@3"},
        {{"XYZ", "XYZ", "XYZ", "XYZ", "XYZ", "XYZ", "ZARN"}, 0, "O1@1 O0@2 O0@3 O0@4 O0@5 O0@6"},
    };
    for (const auto& c : cases) {
        std::vector<tk::Token> tokens;
        for (size_t i = 0; i < c.labels.size(); ++i) tokens.push_back(tk::MakeToken(0x100 + i, 0, c.labels[i]));
        ASSERT_TRUE(tk::Insert(tokens));
        tk::StartLog();
        EXPECT_EQ(warden::WaitTokenPresent(), c.present) << c.labels.size();
        EXPECT_EQ(tk::OpenLog(), c.opens) << c.labels.size();
    }
}

TEST_F(Keys, ChoosingTheTokenStoresMode1OnlyWithATokenPresent) {
    EXPECT_EQ(warden::ChooseDeviceMode(1, true), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(log_.calls.empty());
    ASSERT_TRUE(tk::Insert({tk::MakeToken(7, 0, "ZARN-1")}));
    EXPECT_EQ(warden::ChooseDeviceMode(1, true), 0u);
    EXPECT_EQ(warden::ChooseDeviceMode(0, true), 0u);
    EXPECT_EQ(panelseams::Joined(log_.calls), "switch QJ_AppDriveMode=1 | switch QJ_AppDriveMode=0");
    // The change of mode's chooser stores nothing; a refused write is the result.
    log_.calls.clear();
    EXPECT_EQ(warden::ChooseDeviceMode(1, false), 0u);
    EXPECT_EQ(warden::ChooseDeviceMode(0, false), 0u);
    EXPECT_TRUE(log_.calls.empty());
    log_.failAt["switch QJ_AppDriveMode"] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(warden::ChooseDeviceMode(0, true), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    wchar_t name[32];
    EXPECT_TRUE(warden::PresentTokenName(name));
    EXPECT_STREQ(name, L"ZARN-1");
}

TEST_F(Keys, TokenEnrolmentNeedsAPresentTokenWhoseSerialTheKeyTestConfirms) {
    const DWORD serial = tk::Fold(0x51, 0x7);
    uinfo fresh = {};
    // Listed at start, pulled since: the serial read would return an error status.
    EnrolPlan pulled = warden::PlanTokenEnrolment(fresh, L"ZARN-1");
    EXPECT_EQ(pulled.decision, EnrolDecision::kRefuse);
    EXPECT_EQ(pulled.text, kNoToken);
    EXPECT_EQ(warden::PlanTokenEnrolment(fresh, L"").text, kNoToken);

    tk::Token bad = tk::MakeToken(0x51, 0x7, "ZARN");
    ASSERT_TRUE(tk::Insert({bad}));
    ASSERT_TRUE(tk::Fail(L"GetProperty.7", 0xE0000011));  // the label reads, the serial does not
    EXPECT_EQ(warden::PlanTokenEnrolment(fresh, L"ZARN").text, kNoToken);
    ASSERT_TRUE(tk::Fail(L"GetProperty.7", 0));

    EnrolPlan first = warden::PlanTokenEnrolment(fresh, L"ZARN");
    ASSERT_EQ(first.decision, EnrolDecision::kEnrol);
    EXPECT_EQ(first.record.ulTokenSerial, serial);

    uinfo enrolled = {};
    enrolled.ulTokenSerial = serial;
    EnrolPlan again = warden::PlanTokenEnrolment(enrolled, L"ZARN");
    EXPECT_EQ(again.decision, EnrolDecision::kRefuse);
    EXPECT_EQ(again.text, L"该U盾已注册使用，请勿重复制作！");

    uinfo other = {};
    other.ulTokenSerial = serial + 1;
    EnrolPlan replace = warden::PlanTokenEnrolment(other, L"ZARN");
    EXPECT_EQ(replace.decision, EnrolDecision::kAsk);
    EXPECT_EQ(replace.text, L"您是要使用新的U盾作为认证KEY吗？     点击【是】将使用新的U盾！");
    EXPECT_EQ(replace.record.ulTokenSerial, serial);
    EXPECT_TRUE(log_.calls.empty()) << "deciding writes nothing";
}

TEST_F(Keys, DiskEnrolmentRefusesWhatCannotBeEnrolled) {
    uinfo record = {};
    log_.driveIds[L"E:\\"] = L"ser1&0";
    log_.driveIds[L"F:\\"] = L"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
    log_.driveIds[L"G:\\"] = std::wstring(50, L'x');
    const struct {
        const wchar_t* entry;
        const wchar_t* text;  // nullptr: enrolled
    } cases[] = {
        {L"", L"未检测到U盘，请插入U盘！"},
        {L"A(B-FAT32 (E:\\)", nullptr},  // a label holding "("
        {L"可移动磁盘-FAT32 (E:\\)", nullptr},
        {L"可移动磁盘-FAT32 (H:\\)", kNoDeviceInfo},  // no id for the letter
        {L"可移动磁盘-FAT32 (F:\\)", kNoDeviceInfo},  // a fixed volume's class GUID
        {L"可移动磁盘-FAT32 (G:\\)", kNoDeviceInfo},  // no slot holds it
        {L"broken", kNoDeviceInfo},
    };
    for (const auto& c : cases) {
        EnrolPlan plan = warden::PlanDiskEnrolment(record, c.entry);
        if (!c.text) {
            ASSERT_EQ(plan.decision, EnrolDecision::kEnrol) << ts::Narrow(c.entry);
            EXPECT_STREQ(plan.record.lpDriverUID[0], L"ser1&0");
        } else {
            EXPECT_EQ(plan.decision, EnrolDecision::kRefuse) << ts::Narrow(c.entry);
            EXPECT_EQ(plan.text, c.text) << ts::Narrow(c.entry);
        }
    }
    uinfo same = {};
    wcscpy(same.lpDriverUID[2], L"ser1&0");
    EXPECT_EQ(warden::PlanDiskEnrolment(same, L"X (E:\\)").text, L"该U盘已注册使用，请勿重复制作！");
    uinfo full = {};
    for (int i = 0; i < 5; ++i) wcscpy(full.lpDriverUID[i], (L"d" + std::to_wstring(i)).c_str());
    EXPECT_EQ(warden::PlanDiskEnrolment(full, L"X (E:\\)").text, L"5个U盘已全部被设置，先移除不使用的认证U盘！");
    EXPECT_EQ(warden::KeyCountText(full), L"5/5");
}

TEST_F(Keys, EnrolmentWritesInOrderAndTheFirstFailureStopsIt) {
    EnrolPlan plan;
    plan.decision = EnrolDecision::kEnrol;
    wcscpy(plan.record.lpDriverUID[0], L"ser1&0");
    const struct {
        const char* fail;  // "" none
        const char* calls;
        int stringId;
    } cases[] = {
        {"", "userinfo | gian+ | switch QJ_AppDriveMode=0 | switch QJ_EnableTolven=1 | service+", 0},
        {"userinfo", "userinfo", 200},
        {"gian+", "userinfo | gian+", 201},
        {"switch QJ_EnableTolven", "userinfo | gian+ | switch QJ_AppDriveMode=0 | switch QJ_EnableTolven=1", 201},
        {"service+", "userinfo | gian+ | switch QJ_AppDriveMode=0 | switch QJ_EnableTolven=1 | service+", 201},
    };
    for (const auto& c : cases) {
        log_.calls.clear();
        log_.failAt.clear();
        if (*c.fail) log_.failAt[c.fail] = ERROR_ACCESS_DENIED;
        uinfo process = {};
        std::wstring success;
        warden::Outcome o = warden::CompleteEnrolment(plan, 0, &process, &success);
        EXPECT_EQ(panelseams::Joined(log_.calls), c.calls) << c.fail;
        EXPECT_EQ(o.ok, c.stringId == 0) << c.fail;
        EXPECT_EQ(o.stringId, c.stringId) << c.fail;
        if (o.ok) {
            EXPECT_EQ(success, L"制作成功，请保管好您的USB KEY！");  // the test bed reports Windows 7
            EXPECT_STREQ(process.lpDriverUID[0], L"ser1&0");
            EXPECT_NE(process.lpUserName[0], 0);
            EXPECT_NE(process.lpComputerName[0], 0);
            EXPECT_EQ(warden::KeyCountText(process), L"1/5");
        } else {
            EXPECT_TRUE(success.empty());
            EXPECT_EQ(process.lpDriverUID[0][0], 0) << "the page shows what is stored: nothing";
            EXPECT_NE(o.Text().find(L"（错误码 5）"), std::wstring::npos) << ts::Narrow(o.Text());
        }
    }
}

TEST_F(Keys, ClearingKeepsOnlyTheInsertedEnrolledDisk) {
    ts::UsbDisk a = ts::UsbDisk::FlashDisk(L"CLR1");
    ts::UsbDisk b = ts::UsbDisk::FlashDisk(L"CLR2");
    ts::UsbDisk c = ts::UsbDisk::FlashDisk(L"CLR3");
    uinfo r = {};
    wcscpy(r.lpDriverUID[0], a.Id().c_str());
    wcscpy(r.lpDriverUID[1], b.Id().c_str());
    wcscpy(r.lpDriverUID[4], c.Id().c_str());
    ASSERT_TRUE(SetUserInfo(&r));
    const std::vector<BYTE> before = StoredRecord();
    log_.realWrites = true;

    uinfo process = {};
    warden::ClearResult none = warden::ClearKeys(&process);
    EXPECT_FALSE(none.cleared);
    EXPECT_EQ(none.text, L"清除失败，此操作要求您必须插入一个有效KEY以确认您当前操作是合法的。");
    EXPECT_EQ(StoredRecord(), before);

    ASSERT_TRUE(b.Plug());
    log_.failAt["userinfo"] = ERROR_ACCESS_DENIED;
    warden::ClearResult refused = warden::ClearKeys(&process);
    EXPECT_FALSE(refused.cleared);
    EXPECT_EQ(refused.failure.stringId, 200);
    EXPECT_EQ(StoredRecord(), before);
    EXPECT_EQ(warden::KeyCountText(process), L"3/5");

    log_.failAt.clear();
    warden::ClearResult done = warden::ClearKeys(&process);
    EXPECT_TRUE(done.cleared);
    EXPECT_EQ(done.text, L"清除成功，系统只保留了1个当前计算机插入的KEY");
    uinfo stored;
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_EQ(warden::KeyCountText(stored), L"1/5");
    EXPECT_EQ(warden::KeyCountText(process), L"1/5");
    EXPECT_TRUE(CompareDriverUID(&stored, b.Id().c_str()));
}

TEST_F(Keys, AChangeOfModeTurnsTheProtectionsOffOnlyWhenTheModeChanged) {
    EXPECT_FALSE(warden::ApplyDeviceModeChange(0, -1).changed);
    EXPECT_FALSE(warden::ApplyDeviceModeChange(1, 1).changed);
    EXPECT_TRUE(log_.calls.empty());

    log_.realWrites = true;
    warden::ModeChange done = warden::ApplyDeviceModeChange(0, 1);
    EXPECT_TRUE(done.changed && done.restart && done.outcome.ok);
    EXPECT_EQ(panelseams::Joined(log_.calls),
              "gian- | switch QJ_EnableTolven=0 | switch QJ_RemoveLock=0 | switch QJ_KaiJiChcekKey=0 | "
              "switch QJ_SuoPingCheckKey=0 | service- | switch QJ_AppDriveMode=1");
    EXPECT_EQ(done.text,
              L"设置成功,系统暂时取消开机保护、锁屏保护等功能，请点击【制作】按钮制作新的验证介子并恢复保护功能！");
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_AppDriveMode"), 1u);
}

// Each disabling step refused in turn: the mode stays, what was turned off comes back as it was
// (switches as they read, the module registered and the service started again), no restart, and
// the text names the step.
TEST_F(Keys, AChangeOfModeThatFailsHalfWayKeepsTheOldModeWorking) {
    const wchar_t* const protections[] = {L"QJ_EnableTolven", L"QJ_RemoveLock", L"QJ_KaiJiChcekKey",
                                          L"QJ_SuoPingCheckKey"};
    const DWORD before[] = {1, 1, 1, 0};  // one protection already off stays off
    const std::string restoreSwitches =
        "switch QJ_EnableTolven=1 | switch QJ_RemoveLock=1 | switch QJ_KaiJiChcekKey=1 | switch QJ_SuoPingCheckKey=0";
    const struct {
        const char* failAt;
        const wchar_t* stepText;
        std::string calls;  // after the failing step: the undo
    } cases[] = {
        {"gian-", L"更换设备失败：无法注销登陆模块（错误码 5），设备模式未更改。", "gian- | gian+"},
        {"switch QJ_KaiJiChcekKey=0", L"更换设备失败：无法关闭保护功能（错误码 5），设备模式未更改。",
         "gian- | switch QJ_EnableTolven=0 | switch QJ_RemoveLock=0 | switch QJ_KaiJiChcekKey=0 | " + restoreSwitches +
             " | gian+"},
        {"service-", L"更换设备失败：无法停止电脑锁服务（错误码 5），设备模式未更改。",
         "gian- | switch QJ_EnableTolven=0 | switch QJ_RemoveLock=0 | switch QJ_KaiJiChcekKey=0 | "
         "switch QJ_SuoPingCheckKey=0 | service- | " +
             restoreSwitches + " | gian+"},
        {"switch QJ_AppDriveMode", L"更换设备失败：无法保存新的设备模式（错误码 5），设备模式未更改。",
         "gian- | switch QJ_EnableTolven=0 | switch QJ_RemoveLock=0 | switch QJ_KaiJiChcekKey=0 | "
         "switch QJ_SuoPingCheckKey=0 | service- | switch QJ_AppDriveMode=0 | service+ | " +
             restoreSwitches + " | gian+"},
    };
    log_.realWrites = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failAt);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", 1), ERROR_SUCCESS);
        for (size_t i = 0; i < _countof(protections); ++i)
            ASSERT_EQ(SetMonitorKeyStyle(protections[i], before[i]), ERROR_SUCCESS);
        log_.calls.clear();
        log_.failAt.clear();
        log_.failAt[c.failAt] = ERROR_ACCESS_DENIED;

        warden::ModeChange change = warden::ApplyDeviceModeChange(1, 0);
        EXPECT_TRUE(change.changed);
        EXPECT_FALSE(change.restart);
        EXPECT_FALSE(change.outcome.ok);
        EXPECT_EQ(change.outcome.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(change.undoError, 0u);
        EXPECT_EQ(change.text, std::wstring(c.stepText) + L"原有的开机保护、锁屏保护等功能保持不变。");
        EXPECT_EQ(panelseams::Joined(log_.calls), c.calls);
        EXPECT_EQ(GetMonitorKeyStyle(L"QJ_AppDriveMode"), 1u);
        for (size_t i = 0; i < _countof(protections); ++i)
            EXPECT_EQ(GetMonitorKeyStyle(protections[i]), before[i]) << ts::Narrow(protections[i]);
    }
}

TEST_F(Keys, AChangeOfModeWithLogonManagementOffRegistersAndStartsNothingOnItsUndo) {
    log_.realWrites = true;
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", 0), ERROR_SUCCESS);
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_EnableTolven", 0), ERROR_SUCCESS);
    log_.failAt["switch QJ_AppDriveMode"] = ERROR_ACCESS_DENIED;
    warden::ModeChange change = warden::ApplyDeviceModeChange(0, 1);
    EXPECT_FALSE(change.restart);
    const std::string calls = panelseams::Joined(log_.calls);
    EXPECT_EQ(calls.find("gian+"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("service+"), std::string::npos) << calls;
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_AppDriveMode"), 0u);
}

TEST_F(Keys, AnUndoThatFailsTellsTheUserAndStillTriesEveryStep) {
    log_.realWrites = true;
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", 1), ERROR_SUCCESS);
    log_.failAt["switch QJ_AppDriveMode"] = ERROR_ACCESS_DENIED;
    log_.failAt["service+"] = ERROR_FILE_NOT_FOUND;
    warden::ModeChange change = warden::ApplyDeviceModeChange(1, 0);
    EXPECT_FALSE(change.restart);
    EXPECT_EQ(change.undoError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(change.text,
              L"更换设备失败：无法保存新的设备模式（错误码 5），设备模式未更改。"
              L"部分原有保护设置未能恢复（错误码 2），请以管理员身份运行后在【个性设置】中重新保存设置。");
    const std::string calls = panelseams::Joined(log_.calls);
    EXPECT_NE(calls.find("service+ | switch QJ_EnableTolven=1"), std::string::npos) << calls;
    EXPECT_EQ(calls.substr(calls.size() - 5), "gian+");
    EXPECT_EQ(GetMonitorKeyStyle(L"QJ_EnableTolven"), 1u);
}

namespace {
struct Start {
    std::wstring application, commandLine;
    int exits = 0;
    UINT exitCode = 99;
    DWORD flags = 1;
    BOOL inherit = TRUE;
};
Start* g_start = nullptr;
BOOL WINAPI FakeCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                              BOOL inherit, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION info) {
    g_start->application = application ? application : L"";
    g_start->commandLine = commandLine ? commandLine : L"";
    g_start->inherit = inherit;
    g_start->flags = flags;
    EXPECT_EQ(startup->cb, sizeof(STARTUPINFOW));
    ZeroMemory(info, sizeof(*info));
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}
void WINAPI FakeExitProcess(UINT code) {
    ++g_start->exits;
    g_start->exitCode = code;
}
}  // namespace

TEST_F(Keys, TheRestartStartsWardenByFullPathWithAQuotedCommandLineAndEnds) {
    Start start;
    g_start = &start;
    warden::g_seams.createProcess = FakeCreateProcess;
    warden::g_seams.exitProcess = FakeExitProcess;
    warden::RestartPanel();
    wchar_t expected[MAX_PATH];
    ZarnRegByDllPath(expected, L"\\Warden.exe");
    ASSERT_NE(expected[0], 0);
    EXPECT_EQ(start.application, expected);
    EXPECT_EQ(start.commandLine, L"\"" + std::wstring(expected) + L"\"");
    EXPECT_FALSE(start.inherit);
    EXPECT_EQ(start.flags, 0u);
    EXPECT_EQ(start.exits, 1) << "a failed start still ends the program";
    EXPECT_EQ(start.exitCode, 0u);
    g_start = nullptr;
}
