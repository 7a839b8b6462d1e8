// Enrolment, the change of device mode and the settings page in the whole program: the test build
// of Warden.exe, copied as Warden.exe into a folder whose name has a blank, its items clicked from
// here. The test bed's R: (labelled "A(B") and S: are real removable drives; "drives.txt" beside the
// copy maps R: to a fabricated USB volume that the test plugs and pulls. The slot calls, the
// registration, the service program, the Run value and Config.ini are all real.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "corelib.h"
#include "firststartdlg.h"
#include "maindlg.h"
#include "panelrun.h"
#include "runningpanel.h"
#include "screenshot.h"
#include "seams.h"
#include "testsupport.h"
#include "tokensim.h"
#include "uikit.h"
#include "usbdisk.h"

using panelrun::Program;
using panelrun::RunFolder;

namespace {

const wchar_t kFolderName[] = L"Tolven Lock";
const wchar_t kFirstStartTitle[] = L"TolvenU盘电脑锁2012";
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kProviderDll[] = L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT L"\\InprocServer32";
constexpr UINT kCmdSettingsPage = 40018;
constexpr UINT kCmdExit = 40010;

// ---- where the items are --------------------------------------------------------------------------
// The panel and the first-start dialog measured once in this process: the same layouts at the same
// sizes put every item at the same point of the view in the program.

struct ItemPoints {
    std::map<UINT, POINT> panel;       // the device page's items and, once shown, the settings page's
    std::map<UINT, POINT> firstStart;  // the first-start dialog's buttons
};

POINT Centre(CBkWindow* item) {
    if (!item) return POINT{-1, -1};
    const RECT& r = item->GetRect();
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

BOOL WINAPI QuietNotify(DWORD, PNOTIFYICONDATAW) { return TRUE; }
HINSTANCE WINAPI QuietShell(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}
LONG CORELIB_CALL QuietSwitch(const wchar_t*, DWORD) { return ERROR_SUCCESS; }
int QuietBox(HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }

const ItemPoints& Points() {
    static ItemPoints points;
    static bool measured = false;
    if (measured) return points;
    measured = true;
    // Nothing of the measuring run reaches the shell, the switches or a box.
    ts::Restore<warden::Seams> seams(warden::g_seams);
    ts::Restore<warden::PanelBoxFn> box(warden::g_panelBox);
    warden::g_seams.shellNotifyIcon = QuietNotify;
    warden::g_seams.shellExecute = QuietShell;
    warden::g_seams.setMonitorKeyStyle = QuietSwitch;
    warden::g_panelBox = QuietBox;
    {
        warden::CMainDlg panel;
        ts::ModalScript script;
        script.WaitUntil([&] { return panel.m_hWnd && IsWindowVisible(panel); })
            .Do([&] {
                for (UINT id : {20002u, 20004u}) points.panel[id] = Centre(panel.View().FindItem(id));
                // The combo's arrow, at its right end.
                if (CBkWindow* combo = panel.View().FindItem(20001))
                    points.panel[20001] = POINT{combo->GetRect().right - 6, Centre(combo).y};
                panel.SetTabCurSel(warden::kMainTabCtrl, 1);
            })
            .Do([&] {
                for (UINT id : {30007u, 30010u, 30011u, 30014u}) points.panel[id] = Centre(panel.View().FindItem(id));
                panel.EndDialog(0);
            });
        EXPECT_TRUE(script.Run([&] { panel.ShowModal(); }, 20000)) << "the panel measured";
    }
    {
        warden::FirstStartDlg dialog;
        ts::ModalScript script;
        script.WaitUntil([&] { return dialog.m_hWnd && IsWindowVisible(dialog); }).Do([&] {
            for (UINT id : {warden::kFirstStartToken, warden::kFirstStartUsbDisk, warden::kFirstStartClose})
                points.firstStart[id] = Centre(dialog.View().FindItem(id));
            dialog.EndDialog(-1);
        });
        EXPECT_TRUE(script.Run([&] { dialog.ShowModal(); }, 20000)) << "the first-start dialog measured";
    }
    return points;
}

// A click at a point of a skinned window's view, posted: the handler may run a modal dialog, and
// this thread must be free to play it.
void PostClick(HWND window, POINT at) {
    HWND view = GetDlgItem(window, kBkViewCtrlId);
    ASSERT_NE(view, nullptr);
    POINT screen = at;
    ClientToScreen(view, &screen);
    const LPARAM where = MAKELPARAM(at.x, at.y);
    SetCursorPos(screen.x, screen.y);
    PostMessageW(view, WM_MOUSEMOVE, 0, where);
    PostMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageW(view, WM_LBUTTONUP, 0, where);
}

// Returns once the window's thread has handled everything posted to it before (and the handler
// those messages ran has returned).
bool Settle(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &result) != 0;
}

std::string StoredRecord() {
    uinfo r = {};
    if (!GetUserInfo(&r)) return std::string();
    return std::string(reinterpret_cast<const char*>(&r), sizeof(r));
}

// Every value of the settings key: the switches and the record.
std::map<std::wstring, std::vector<BYTE>> SettingsValues() {
    std::map<std::wstring, std::vector<BYTE>> values;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    DWORD nameMax = 0, dataMax = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameMax, &dataMax, nullptr,
                     nullptr);
    std::vector<wchar_t> name(nameMax + 1);
    std::vector<BYTE> data(dataMax + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = static_cast<DWORD>(name.size()), bytes = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, name.data(), &nameChars, nullptr, nullptr, data.data(), &bytes) != ERROR_SUCCESS)
            break;
        values[std::wstring(name.data(), nameChars)].assign(data.begin(), data.begin() + bytes);
    }
    RegCloseKey(key);
    return values;
}

void StoreRecord(const std::vector<std::wstring>& disks) {
    uinfo r = {};
    wcscpy(r.lpUserName, L"alice");
    for (size_t i = 0; i < disks.size() && i < 5; ++i) wcscpy(r.lpDriverUID[i], disks[i].c_str());
    ASSERT_TRUE(SetUserInfo(&r));
}

DWORD Switch(const wchar_t* name) { return GetMonitorKeyStyle(name); }
void SetSwitch(const wchar_t* name, DWORD value) {
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, name, value)) << ts::Narrow(name);
}

// The box names the cause: a missing file asks for a reinstall, a refused write for administrator rights.
std::string PartlySaved(DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND)
        return "部分设置未能保存（错误码 2）：程序文件缺失，请重新安装Tolven电脑锁后重新保存设置。";
    return "部分设置未能保存（错误码 " + std::to_string(error) + "），请以管理员身份运行后重新保存设置。";
}

bool IsDropList(HWND w) {
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    return IsWindowVisible(w) && wcscmp(cls, L"POPUP_LIST_WND") == 0;
}

size_t Colours(const Shot& shot) {
    std::map<DWORD, int> seen;
    for (DWORD p : shot.px) {
        seen[p & 0xFFFFFF] = 1;
        if (seen.size() > 8) break;
    }
    return seen.size();
}

class EnrolRun : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        ts::tokensim::Reset();
        ts::RemoveAllSimulatedDisks();
        DeleteGianPathToReg();
        ASSERT_EQ(FindRunningPanel(), nullptr) << "a panel of an earlier case still runs";
        Points();
        folder_.reset(new RunFolder(L"Warden.exe", kFolderName));
        ASSERT_TRUE(folder_->ok()) << folder_->what();
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kRunKey, L"placeholder", L"x"));  // the Run key exists
        DeleteRunValue();
    }
    void TearDown() override {
        DeleteRunValue();
        folder_.reset();
        DeleteGianPathToReg();
        ts::RemoveAllSimulatedDisks();
        ts::tokensim::Reset();
        ts::ResetSettings();
    }
    static void DeleteRunValue() {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"Warden");
            RegCloseKey(key);
        }
    }

    // The panel of a program started from the folder, shown.
    HWND WaitPanel(const Program& program) {
        HWND panel = program.WaitWindow([](HWND w) { return panelrun::IsPanel(w) && IsWindowVisible(w); });
        EXPECT_NE(panel, nullptr) << "the panel came up";
        return panel;
    }
    std::vector<std::string> Boxes() const { return panelrun::Starting(folder_->SeamLog(), "box "); }
    // Clicks an item of the panel and gives the box that the click brought ("" when none came).
    std::string ClickForBox(HWND panel, UINT id) {
        const size_t before = Boxes().size();
        PostClick(panel, Points().panel.at(id));
        std::string box;
        ts::PumpUntil(
            [&] {
                std::vector<std::string> boxes = Boxes();
                if (boxes.size() > before) box = boxes[before];
                return !box.empty();
            },
            20000);
        Settle(panel);
        return box;
    }
    static std::string Box(UINT type, const std::string& text) {
        return "box " + std::to_string(type) + " 操作提示 " + text;
    }
    static void Exit(HWND panel, Program& program) {
        PostMessageW(panel, WM_COMMAND, kCmdExit, 0);
        EXPECT_EQ(program.Wait(), 0u);
    }
    std::string RecorderArguments() const {
        const std::vector<std::string> lines = ts::SplitLines(folder_->RecorderLines(), true);
        return lines.size() >= 2 ? lines[1] : std::string("(not started)");
    }
    bool WaitRecorder() const {
        return ts::PumpUntil([&] { return !folder_->RecorderLines().empty(); }, 30000);
    }
    // The disk plugged and named as R:'s volume, a record without keys, the disk mode.
    void DiskInRWithoutKeys(ts::UsbDisk& disk) {
        ASSERT_TRUE(disk.Plug());
        ASSERT_TRUE(ts::WriteFileBytes(folder_->Path(L"drives.txt"), "R=" + ts::Narrow(disk.Id()) + "\n"));
        StoreRecord({});
        SetSwitch(L"QJ_AppDriveMode", 0);
    }

    std::unique_ptr<RunFolder> folder_;
};

TEST_F(EnrolRun, TheDiskInRIsEnrolledAndEveryRefusalKeepsTheRecordAndTheSwitches) {
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"ENROLR1");
    DiskInRWithoutKeys(disk);
    if (HasFatalFailure()) return;
    Program warden(folder_->Exe(), L"");
    ASSERT_TRUE(warden.started());
    HWND panel = WaitPanel(warden);
    ASSERT_NE(panel, nullptr);

    struct Refusal {
        const char* what;
        std::vector<std::wstring> enrolled;
        bool plugged;
        const char* text;
    };
    const std::vector<Refusal> refusals = {
        {"five slots taken", {L"a&0", L"b&0", L"c&0", L"d&0", L"e&0"}, true, "5个U盘已全部被设置，先移除不使用的认证U盘！"},
        {"the disk pulled", {L"a&0"}, false, "获取设备信息失败，请检查USB设备是否接好或尝试使用其它设备！"},
        {"the same disk again", {L"a&0", disk.Id()}, true, "该U盘已注册使用，请勿重复制作！"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        StoreRecord(r.enrolled);
        ASSERT_TRUE(r.plugged ? disk.Plug() : disk.Pull());
        const std::string record = StoredRecord();
        const auto values = SettingsValues();
        EXPECT_EQ(ClickForBox(panel, 20002), Box(MB_ICONERROR, r.text));
        EXPECT_EQ(StoredRecord(), record);
        EXPECT_TRUE(SettingsValues() == values) << "a switch changed";
        EXPECT_FALSE(ts::KeyExists(HKEY_CLASSES_ROOT, kProviderDll)) << "nothing registered";
    }

    // The disk in R: enrols: the entry's root comes from its last "(" (the label holds one).
    StoreRecord({});
    ASSERT_TRUE(disk.Plug());
    EXPECT_EQ(ClickForBox(panel, 20002), Box(MB_ICONQUESTION, "制作成功，请保管好您的USB KEY！"));
    uinfo stored = {};
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_EQ(std::wstring(stored.lpDriverUID[0]), disk.Id());
    for (int i = 1; i < 5; ++i) EXPECT_EQ(stored.lpDriverUID[i][0], L'\0') << i;
    wchar_t user[64] = {};
    DWORD n = 64;
    GetUserNameW(user, &n);
    EXPECT_STREQ(stored.lpUserName, user);
    EXPECT_EQ(std::wstring(stored.lpComputerName), ts::ComputerName());
    EXPECT_EQ(Switch(L"QJ_EnableTolven"), 1u);
    EXPECT_EQ(Switch(L"QJ_AppDriveMode"), 0u);
    std::wstring provider;
    EXPECT_TRUE(ts::GetString(HKEY_CLASSES_ROOT, kProviderDll, L"", &provider));
    EXPECT_EQ(provider, folder_->Path(L"Logontile.dll"));
    ASSERT_TRUE(WaitRecorder()) << "the service program was started";
    EXPECT_EQ(RecorderArguments(), "/start");

    // The drop list holds the test bed's two drives, R: first: kept as a picture of the page.
    PostClick(panel, Points().panel.at(20001));
    HWND list = warden.WaitWindow(IsDropList, 5000);
    EXPECT_NE(list, nullptr) << "the drop list opened";
    if (list) {
        // Once its rows are drawn: more than the background's colour in it.
        EXPECT_TRUE(ts::PumpUntil([&] { return Colours(Capture(list)) > 2; }, 5000)) << "the list's rows were never drawn";
        const Shot shot = Screenshot(panel);
        ASSERT_GT(shot.w, 0) << "the panel never settled on the screen";
        Save(shot, L"panel_run_device_two_drives.bmp");
        // The panel's title in the header and the two rows' text where the list lies over the panel.
        EXPECT_GT(Ink(shot, RECT{25, 2, 160, 21}), 60) << "no title in the header";
        RECT at = {}, origin = {};
        GetWindowRect(list, &at);
        GetWindowRect(panel, &origin);
        OffsetRect(&at, -origin.left, -origin.top);
        EXPECT_GT(Ink(shot, at), 40) << "no rows in the drop list";
        // Its second row is S:, which no volume backs: chosen, the key cannot be made from it.
        RECT r;
        GetClientRect(list, &r);
        const LPARAM second = MAKELPARAM(r.right / 2, r.bottom * 3 / 4);
        PostMessageW(list, WM_MOUSEMOVE, 0, second);
        PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, second);
        EXPECT_TRUE(ts::PumpUntil([&] { return !IsWindowVisible(list); }, 5000));
        EXPECT_EQ(ClickForBox(panel, 20002),
                  Box(MB_ICONERROR, "获取设备信息失败，请检查USB设备是否接好或尝试使用其它设备！"));
    }

    // Clearing on the settings page with the disk inserted: of three enrolled disks only it stays.
    StoreRecord({L"a&0", disk.Id(), L"c&0"});
    PostMessageW(panel, WM_COMMAND, kCmdSettingsPage, 0);
    ASSERT_TRUE(Settle(panel));
    EXPECT_EQ(ClickForBox(panel, 30014), Box(MB_ICONQUESTION, "清除成功，系统只保留了1个当前计算机插入的KEY"));
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_EQ(GetDriverUIDCount(&stored), 4) << "one slot holds a disk";
    EXPECT_TRUE(CompareDriverUID(&stored, disk.Id().c_str()));
    Exit(panel, warden);
}

TEST_F(EnrolRun, AnEnrolmentStoppedByARealFailureShows201AndKeepsWhatWasWritten) {
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"ENROLR2");
    DiskInRWithoutKeys(disk);
    if (HasFatalFailure()) return;
    Program warden(folder_->Exe(), L"");
    ASSERT_TRUE(warden.started());
    HWND panel = WaitPanel(warden);
    ASSERT_NE(panel, nullptr);

    struct Case {
        const wchar_t* removed;  // from the installation folder
        bool registered;         // the registration was written before the failure
    } cases[] = {
        {L"Logontile.dll", false},
        {L"Sentry.exe", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.removed));
        StoreRecord({});
        SetSwitch(L"QJ_EnableTolven", 0);
        DeleteGianPathToReg();
        DeleteFileW(folder_->Path(L"cmdline.txt").c_str());
        const std::wstring file = folder_->Path(c.removed), aside = file + L".aside";
        ASSERT_TRUE(MoveFileW(file.c_str(), aside.c_str()));
        EXPECT_EQ(ClickForBox(panel, 20002), Box(MB_ICONERROR, PartlySaved(ERROR_FILE_NOT_FOUND)));
        ASSERT_TRUE(MoveFileW(aside.c_str(), file.c_str()));
        // The record went first and stays; what came after the failure was not written.
        uinfo stored = {};
        ASSERT_TRUE(GetUserInfo(&stored));
        EXPECT_EQ(std::wstring(stored.lpDriverUID[0]), disk.Id());
        EXPECT_EQ(ts::KeyExists(HKEY_CLASSES_ROOT, kProviderDll), c.registered);
        EXPECT_EQ(Switch(L"QJ_EnableTolven"), c.registered ? 1u : 0u);
        EXPECT_EQ(folder_->RecorderLines(), "") << "no service program ran";
    }
    Exit(panel, warden);
}

bool IsFirstStart(HWND w) { return panelrun::IsVisibleTitled(w, kFirstStartTitle); }

TEST_F(EnrolRun, AChangeOfModeStartsANewPanelByItsQuotedPathFromAFolderWithABlank) {
    StoreRecord({L"usb-1&0"});
    SetSwitch(L"QJ_AppDriveMode", 0);
    const wchar_t* const protections[] = {L"QJ_EnableTolven", L"QJ_RemoveLock", L"QJ_KaiJiChcekKey",
                                          L"QJ_SuoPingCheckKey"};
    for (const wchar_t* name : protections) SetSwitch(name, 1);
    ASSERT_EQ(WriteGianPathToReg(), ERROR_SUCCESS);
    ASSERT_TRUE(ts::tokensim::Insert({ts::tokensim::MakeToken(0x1234, 0, "ZARN-1")}));
    Program warden(folder_->Exe(), L"");
    ASSERT_TRUE(warden.started());
    HWND panel = WaitPanel(warden);
    ASSERT_NE(panel, nullptr);

    // The chooser closed, then the same mode chosen: nothing changes.
    for (UINT choice : {warden::kFirstStartClose, warden::kFirstStartUsbDisk}) {
        SCOPED_TRACE(choice);
        const auto values = SettingsValues();
        PostClick(panel, Points().panel.at(20004));
        HWND chooser = warden.WaitWindow(IsFirstStart);
        ASSERT_NE(chooser, nullptr);
        PostClick(chooser, Points().firstStart.at(choice));
        EXPECT_TRUE(ts::PumpUntil([&] { return !IsWindow(chooser) || !IsWindowVisible(chooser); }, 10000));
        ASSERT_TRUE(Settle(panel));
        EXPECT_TRUE(Boxes().empty());
        EXPECT_TRUE(SettingsValues() == values) << "a switch changed";
        EXPECT_TRUE(warden.Running());
    }

    // The token: the protections go off, the panel ends and starts again as the token's.
    PostClick(panel, Points().panel.at(20004));
    HWND chooser = warden.WaitWindow(IsFirstStart);
    ASSERT_NE(chooser, nullptr);
    PostClick(chooser, Points().firstStart.at(warden::kFirstStartToken));
    EXPECT_EQ(warden.Wait(), 0u);
    HWND second = nullptr;
    ts::PumpUntil(
        [&] {
            std::vector<HWND> panels = panelrun::Windows(0, [](HWND w) { return panelrun::IsPanel(w) && IsWindowVisible(w); });
            second = panels.empty() ? nullptr : panels.front();
            return second != nullptr;
        },
        20000);
    ASSERT_NE(second, nullptr) << "a new panel came up";
    DWORD pid = 0;
    GetWindowThreadProcessId(second, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    ASSERT_NE(process, nullptr);

    EXPECT_EQ(Switch(L"QJ_AppDriveMode"), 1u);
    for (const wchar_t* name : protections) EXPECT_EQ(Switch(name), 0u) << ts::Narrow(name);
    EXPECT_FALSE(ts::KeyExists(HKEY_CLASSES_ROOT, kProviderDll)) << "the logon module was unregistered";
    ASSERT_TRUE(WaitRecorder());
    EXPECT_EQ(RecorderArguments(), "/stop");

    const std::vector<std::string> log = folder_->SeamLog();
    const std::string started = "commandline \"" + ts::Narrow(folder_->Exe()) + "\"";
    std::vector<size_t> starts;
    size_t trayDeleted = 0, boxes = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].compare(0, 12, "commandline ") == 0) {
            EXPECT_EQ(log[i], started);
            starts.push_back(i);
        }
        if (log[i].compare(0, 7, "tray 2 ") == 0 && starts.size() == 1) trayDeleted = i;
        if (log[i].compare(0, 4, "box ") == 0) {
            ++boxes;
            EXPECT_EQ(log[i], Box(MB_ICONINFORMATION, "设置成功,系统暂时取消开机保护、锁屏保护等功能，请点击【制作】按钮制作新的验证介子并恢复保护功能！"));
        }
    }
    ASSERT_EQ(starts.size(), 2u) << "the first and the restarted panel";
    EXPECT_GT(trayDeleted, 0u) << "the first panel's icon went before the restart";
    EXPECT_LT(trayDeleted, starts[1]);
    EXPECT_EQ(boxes, 1u);

    PostMessageW(second, WM_COMMAND, kCmdExit, 0);
    EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(process);
}

TEST_F(EnrolRun, TheSaveKeepsTheRunValueExactAndEachRealFailureShows201) {
    StoreRecord({L"usb-1&0"});
    SetSwitch(L"QJ_AppDriveMode", 0);
    Program warden(folder_->Exe(), L"");
    ASSERT_TRUE(warden.started());
    HWND panel = WaitPanel(warden);
    ASSERT_NE(panel, nullptr);
    PostMessageW(panel, WM_COMMAND, kCmdSettingsPage, 0);
    ASSERT_TRUE(Settle(panel));

    // A fresh machine: everything checked, the Run value the program's own quoted path and "regrun".
    EXPECT_EQ(ClickForBox(panel, 30007), Box(MB_ICONQUESTION, "操作成功！"));
    const std::wstring expected = L"\"" + folder_->Exe() + L"\" regrun";
    std::vector<BYTE> bytes;
    DWORD type = 0;
    ASSERT_TRUE(ts::GetValue(HKEY_LOCAL_MACHINE, kRunKey, L"Warden", &bytes, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)),
              expected + L'\0');
    // Unchecked: the value goes.
    PostClick(panel, Points().panel.at(30011));
    EXPECT_EQ(ClickForBox(panel, 30007), Box(MB_ICONQUESTION, "操作成功！"));
    EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"Warden"));
    PostClick(panel, Points().panel.at(30011));
    Settle(panel);

    const std::wstring config = folder_->Path(L"Config.ini");
    struct Failure {
        const char* what;
        std::function<void()> cause, undo;
        DWORD error;
        bool runValue;  // written before the failure
    };
    const std::wstring logontile = folder_->Path(L"Logontile.dll"), sentry = folder_->Path(L"Sentry.exe");
    const std::vector<Failure> failures = {
        {"Logontile.dll removed", [&] { MoveFileW(logontile.c_str(), (logontile + L".aside").c_str()); },
         [&] { MoveFileW((logontile + L".aside").c_str(), logontile.c_str()); }, ERROR_FILE_NOT_FOUND, false},
        {"Sentry.exe removed", [&] { MoveFileW(sentry.c_str(), (sentry + L".aside").c_str()); },
         [&] { MoveFileW((sentry + L".aside").c_str(), sentry.c_str()); }, ERROR_FILE_NOT_FOUND, false},
        {"the Run key deleted", [&] { ts::DeleteKeyTree(HKEY_LOCAL_MACHINE, kRunKey); },
         [&] { ts::SetString(HKEY_LOCAL_MACHINE, kRunKey, L"placeholder", L"x"); }, ERROR_FILE_NOT_FOUND, false},
        {"a folder named Config.ini", [&] {
             DeleteFileW(config.c_str());
             CreateDirectoryW(config.c_str(), nullptr);
         },
         [&] { RemoveDirectoryW(config.c_str()); }, ERROR_ACCESS_DENIED, true},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.what);
        DeleteRunValue();
        const std::string configBefore = ts::ReadFileBytes(config);
        f.cause();
        EXPECT_EQ(ClickForBox(panel, 30007), Box(MB_ICONERROR, PartlySaved(f.error)));
        EXPECT_EQ(ts::ValueExists(HKEY_LOCAL_MACHINE, kRunKey, L"Warden"), f.runValue);
        if (!f.runValue) {
            EXPECT_EQ(ts::ReadFileBytes(config), configBefore) << "Config.ini was not written";
        }
        f.undo();
    }
    EXPECT_EQ(ClickForBox(panel, 30007), Box(MB_ICONQUESTION, "操作成功！")) << "every fault undone";
    Exit(panel, warden);
}

}  // namespace
