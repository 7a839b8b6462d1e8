// The tray icon: its record, the added state against the shell's answers, tips and balloons, the
// record size per Windows version and where the hook library is looked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seams.h"
#include "testsupport.h"
#include "trayicon.h"

using warden::CTrayIcon;

namespace {

struct ShellCall {
    DWORD message;
    NOTIFYICONDATAW data;
};

// The shell's side, as the seam sees it: every call with a copy of the record, and scripted answers.
struct FakeShell {
    std::vector<ShellCall> calls;
    BOOL answer[3] = {TRUE, TRUE, TRUE};  // NIM_ADD, NIM_MODIFY, NIM_DELETE
};
FakeShell* g_shell = nullptr;

BOOL WINAPI FakeNotify(DWORD message, PNOTIFYICONDATAW data) {
    g_shell->calls.push_back({message, *data});
    return message <= NIM_DELETE ? g_shell->answer[message] : FALSE;
}

class TrayIcon : public ::testing::Test {
protected:
    void SetUp() override {
        g_shell = &shell_;
        warden::g_seams.shellNotifyIcon = FakeNotify;
    }
    void TearDown() override {
        warden::g_seams = warden::DefaultSeams();
        g_shell = nullptr;
    }
    std::vector<DWORD> Messages() const {
        std::vector<DWORD> m;
        for (const ShellCall& c : shell_.calls) m.push_back(c.message);
        return m;
    }
    FakeShell shell_;
};

HICON Icon(int n) { return reinterpret_cast<HICON>(static_cast<INT_PTR>(0x1000 + n)); }

}  // namespace

TEST_F(TrayIcon, TheRecordNamesTheOwnerTheIconAndTheTitle) {
    HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4242));
    CTrayIcon icon(owner, Icon(1));
    const NOTIFYICONDATAW& d = icon.Record();
    EXPECT_EQ(d.hWnd, owner);
    EXPECT_EQ(d.uID, 8888u);
    EXPECT_EQ(d.uFlags, 7u);
    EXPECT_EQ(d.uCallbackMessage, 1025u);
    EXPECT_EQ(d.hIcon, Icon(1));
    EXPECT_STREQ(d.szTip, L"Tolven电脑锁2012");
    EXPECT_FALSE(icon.IsAdded());
    EXPECT_TRUE(shell_.calls.empty());  // nothing is added before AddIcon
}

TEST_F(TrayIcon, TheAddedStateFollowsTheShellsAnswers) {
    {
        SCOPED_TRACE("add twice adds once; the destructor removes it");
        {
            CTrayIcon icon(nullptr, Icon(1));
            EXPECT_TRUE(icon.AddIcon());
            EXPECT_TRUE(icon.AddIcon());
            EXPECT_TRUE(icon.IsAdded());
        }
        EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    }
    shell_.calls.clear();
    {
        SCOPED_TRACE("a refused add: icon and tip only change the record, a later add tries again");
        shell_.answer[NIM_ADD] = FALSE;
        CTrayIcon icon(nullptr, Icon(1));
        EXPECT_FALSE(icon.AddIcon());
        EXPECT_TRUE(icon.SetIcon(Icon(2)));
        EXPECT_TRUE(icon.SetTooltip(L"tip"));
        EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD}));
        shell_.answer[NIM_ADD] = TRUE;
        EXPECT_TRUE(icon.AddIcon());
        ASSERT_EQ(shell_.calls.size(), 2u);
        EXPECT_EQ(shell_.calls[1].data.hIcon, Icon(2));
        EXPECT_STREQ(shell_.calls[1].data.szTip, L"tip");
        shell_.calls.clear();
        EXPECT_TRUE(icon.SetIcon(Icon(3)));
        EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_MODIFY}));
        shell_.answer[NIM_MODIFY] = FALSE;
        EXPECT_FALSE(icon.SetTooltip(L"x"));  // once added, the shell's answer is the result
    }
    shell_.calls.clear();
    shell_.answer[NIM_MODIFY] = TRUE;
    {
        SCOPED_TRACE("a refused delete keeps it added");
        CTrayIcon icon(nullptr, Icon(1));
        ASSERT_TRUE(icon.AddIcon());
        shell_.answer[NIM_DELETE] = FALSE;
        EXPECT_FALSE(icon.RemoveIcon());
        EXPECT_TRUE(icon.IsAdded());
        shell_.answer[NIM_DELETE] = TRUE;
        EXPECT_TRUE(icon.RemoveIcon());
        EXPECT_FALSE(icon.IsAdded());
        EXPECT_TRUE(icon.RemoveIcon());  // gone already: no call
        EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE, NIM_DELETE}));
    }
}

TEST_F(TrayIcon, TipsAndBalloonsAreCutAndTheFlagsComeBack) {
    CTrayIcon icon(nullptr, Icon(1));
    ASSERT_TRUE(icon.AddIcon());
    shell_.calls.clear();

    EXPECT_TRUE(icon.SetTooltip(std::wstring(200, L'提').c_str()));
    ASSERT_EQ(shell_.calls.size(), 1u);
    EXPECT_EQ(std::wstring(shell_.calls[0].data.szTip), std::wstring(127, L'提'));

    icon.ShowBalloon(std::wstring(300, L'b').c_str());
    ASSERT_EQ(shell_.calls.size(), 2u);
    const NOTIFYICONDATAW& b = shell_.calls[1].data;
    EXPECT_EQ(shell_.calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(b.uFlags, static_cast<UINT>(NIF_INFO));  // the balloon alone
    EXPECT_EQ(b.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    EXPECT_EQ(std::wstring(b.szInfo), std::wstring(255, L'b'));
    EXPECT_STREQ(b.szInfoTitle, L"提示");
    EXPECT_EQ(b.uTimeout, 1500u);
    EXPECT_EQ(icon.Record().uFlags, 7u);

    EXPECT_TRUE(icon.SetTooltip(L"新的提示"));
    ASSERT_EQ(shell_.calls.size(), 3u);
    EXPECT_EQ(shell_.calls[2].data.uFlags, 7u);
    EXPECT_STREQ(shell_.calls[2].data.szTip, L"新的提示");
    EXPECT_TRUE(icon.SetTooltip(nullptr));
    EXPECT_STREQ(shell_.calls[3].data.szTip, L"");
}

TEST_F(TrayIcon, ABalloonIsAskedForEvenBeforeTheIconIsAdded) {
    shell_.answer[NIM_ADD] = FALSE;
    CTrayIcon icon(nullptr, Icon(1));
    icon.AddIcon();
    icon.ShowBalloon(L"x");
    EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_MODIFY}));
}

TEST_F(TrayIcon, AfterTheTaskbarRestartsTheIconComesBackWithItsTip) {
    {
        SCOPED_TRACE("added: delete, then add with the same record");
        CTrayIcon icon(nullptr, Icon(1));
        ASSERT_TRUE(icon.AddIcon());
        ASSERT_TRUE(icon.SetTooltip(L"锁定中"));
        shell_.calls.clear();
        shell_.answer[NIM_DELETE] = FALSE;  // the new taskbar does not know the icon
        EXPECT_TRUE(icon.Readd());
        EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_DELETE, NIM_ADD}));
        EXPECT_STREQ(shell_.calls[1].data.szTip, L"锁定中");
        EXPECT_EQ(shell_.calls[1].data.uFlags, 7u);
        EXPECT_TRUE(icon.IsAdded());
        shell_.answer[NIM_DELETE] = TRUE;
    }
    shell_.calls.clear();
    {
        SCOPED_TRACE("never added (the taskbar was not there yet): Readd does nothing, AddIcon adds it");
        shell_.answer[NIM_ADD] = FALSE;
        CTrayIcon icon(nullptr, Icon(1));
        EXPECT_FALSE(icon.AddIcon());
        shell_.answer[NIM_ADD] = TRUE;
        shell_.calls.clear();
        EXPECT_TRUE(icon.Readd());
        EXPECT_TRUE(shell_.calls.empty());
        EXPECT_TRUE(icon.AddIcon());
        EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD}));
    }
}

// Wine's own tray (explorer) answers the three calls: one live check that the record is one the shell takes.
TEST(TrayIconSystem, TheShellAcceptsAddModifyAndDelete) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"tray owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(owner, nullptr);
    {
        CTrayIcon icon(owner, LoadIconW(nullptr, IDI_APPLICATION));
        EXPECT_TRUE(icon.AddIcon());
        EXPECT_TRUE(icon.SetTooltip(L"Tolven电脑锁2012 测试"));
        EXPECT_TRUE(icon.RemoveIcon());
        EXPECT_FALSE(icon.IsAdded());
    }
    DestroyWindow(owner);
}

namespace {

// Runs a copy of the probe from folder (empty: the bin folder) under its own name, for one version.
std::string Probe(const std::wstring& name, const std::wstring& version, const std::wstring& folder = L"") {
    std::wstring exe;
    if (folder.empty()) {
        if (!ts::CopyProgram(L"warden_probe_tray.exe", name)) return "copy failed";
        exe = ts::InExeDir(name);
    } else {
        exe = folder + L"\\" + name;
        if (!CopyFileW(ts::InExeDir(L"warden_probe_tray.exe").c_str(), exe.c_str(), FALSE)) return "copy failed";
    }
    if (!ts::SetProgramVersion(name, version)) return "version failed";
    ts::ChildResult r = ts::RunChild(L"\"" + exe + L"\"");
    return r.started ? r.output : "not started";
}

}  // namespace

TEST(TrayIconSystem, TheRecordSizeIsTheOneTheRunningShellReads) {
#ifdef _WIN64
    const char* xp = "size=968 ";
    const char* vista = "size=976 ";
#else
    const char* xp = "size=952 ";
    const char* vista = "size=956 ";
#endif
    EXPECT_NE(Probe(L"warden_probe_tray_xp.exe", L"winxp").find(xp), std::string::npos);
    EXPECT_NE(Probe(L"warden_probe_tray_vista.exe", L"vista").find(vista), std::string::npos);
}

TEST(TrayIconSystem, TheHookLibraryIsLoadedFromTheProgramsFolderOnly) {
    EXPECT_NE(Probe(L"warden_probe_tray_hook.exe", L"vista").find("hook=1 enable=1 disable=1"), std::string::npos);
    // A folder without it: the copy in the current folder (the bin folder) must not be taken.
    std::wstring dir = ts::MakeTempDir(L"trayhook");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(CopyFileW(ts::InExeDir(L"Corelib.dll").c_str(), (dir + L"\\Corelib.dll").c_str(), FALSE));
    EXPECT_NE(Probe(L"warden_probe_tray_nohook.exe", L"vista", dir).find("hook=0 enable=0 disable=0"),
              std::string::npos);
    ts::RemoveTree(dir);
}
