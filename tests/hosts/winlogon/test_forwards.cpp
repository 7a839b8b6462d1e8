// What the GINA passes on to msgina: the plain forwards, initialisation, and the SAS calls.
#include <functional>

#include "fixture.h"

namespace host {
namespace {

const ULONG_PTR kResultBase = 0x5100;  // distinct, non-canonical results: they must come back as they are

struct Forward {
    int entry;
    DWORD since;  // interface version that brings the entry point
    std::function<ULONG_PTR(Winlogon&)> call;
    std::vector<ULONG_PTR> args;  // after the context
    bool hasResult;
};

// Arguments the forwards must pass on unchanged.
wchar_t g_desktop[] = L"Default";
wchar_t g_script[] = L"logon.cmd";
wchar_t g_cmdLine[] = L"userinit.exe";
wchar_t g_title[] = L"Title";
wchar_t g_message[] = L"Message";
wchar_t g_buffer[80];
BYTE g_environment[16];
BOOL g_secure;
DWORD g_options;
WLX_MPR_NOTIFY_INFO g_notify;
#define U(x) reinterpret_cast<ULONG_PTR>(x)

std::vector<Forward> Forwards() {
    HDESK desk = reinterpret_cast<HDESK>(0x1234);
    return {
        {SE_DisplaySASNotice, 0x10000, [](Winlogon& w) { w.wlx.DisplaySASNotice(w.context); return ULONG_PTR(0); }, {}, false},
        {SE_ActivateUserShell, 0x10000,
         [](Winlogon& w) { return ULONG_PTR(w.wlx.ActivateUserShell(w.context, g_desktop, g_script, g_environment)); },
         {U(g_desktop), U(g_script), U(g_environment)}, true},
        {SE_DisplayLockedNotice, 0x10000, [](Winlogon& w) { w.wlx.DisplayLockedNotice(w.context); return ULONG_PTR(0); }, {}, false},
        {SE_IsLockOk, 0x10000, [](Winlogon& w) { return ULONG_PTR(w.wlx.IsLockOk(w.context)); }, {}, true},
        {SE_IsLogoffOk, 0x10000, [](Winlogon& w) { return ULONG_PTR(w.wlx.IsLogoffOk(w.context)); }, {}, true},
        {SE_Logoff, 0x10000, [](Winlogon& w) { w.wlx.Logoff(w.context); return ULONG_PTR(0); }, {}, false},
        {SE_Shutdown, 0x10000,
         [](Winlogon& w) { w.wlx.Shutdown(w.context, WLX_SAS_ACTION_SHUTDOWN_REBOOT); return ULONG_PTR(0); },
         {WLX_SAS_ACTION_SHUTDOWN_REBOOT}, false},
        {SE_StartApplication, 0x10001,
         [](Winlogon& w) { return ULONG_PTR(w.wlx.StartApplication(w.context, g_desktop, g_environment, g_cmdLine)); },
         {U(g_desktop), U(g_environment), U(g_cmdLine)}, true},
        {SE_ScreenSaverNotify, 0x10001, [](Winlogon& w) { return ULONG_PTR(w.wlx.ScreenSaverNotify(w.context, &g_secure)); },
         {U(&g_secure)}, true},
        {SE_NetworkProviderLoad, 0x10003,
         [](Winlogon& w) { return ULONG_PTR(w.wlx.NetworkProviderLoad(w.context, &g_notify)); }, {U(&g_notify)}, true},
        {SE_DisplayStatusMessage, 0x10003,
         [desk](Winlogon& w) { return ULONG_PTR(w.wlx.DisplayStatusMessage(w.context, desk, 5, g_title, g_message)); },
         {U(desk), 5, U(g_title), U(g_message)}, true},
        {SE_GetStatusMessage, 0x10003,
         [](Winlogon& w) { return ULONG_PTR(w.wlx.GetStatusMessage(w.context, &g_options, g_buffer, 80)); },
         {U(&g_options), U(g_buffer), 80}, true},
        {SE_RemoveStatusMessage, 0x10003, [](Winlogon& w) { return ULONG_PTR(w.wlx.RemoveStatusMessage(w.context)); }, {}, true},
    };
}

struct VersionCase {
    const char* name;
    DWORD winlogon;
    DWORD answer;  // msgina's answer, 0 for the version offered
    DWORD bound;
};
// Named in test output by its case name.
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }
const VersionCase kVersions[] = {
    {"Version13", 0x10004, 0, 0x10003},
    {"Version12", 0x10002, 0, 0x10002},
    {"Version11ByMsgina", 0x10004, 0x10001, 0x10001},
    {"Version10", 0x10000, 0, 0x10000},
};

class GatehookForwards : public GatehookHost, public ::testing::WithParamInterface<VersionCase> {};

// Each forward hands msgina its own context and the arguments untouched and returns msgina's result;
// one that the negotiated version does not bind reaches nothing and fails quietly.
TEST_P(GatehookForwards, PassArgumentsAndResultsOnlyForBoundEntryPoints) {
    const VersionCase& v = GetParam();
    ASSERT_TRUE(W.Load(L"full"));
    if (v.answer) W.standin->answerVersion = v.answer;
    DWORD reported = 0;
    ASSERT_TRUE(W.Negotiate(v.winlogon, &reported));
    ASSERT_EQ(reported, v.bound);
    ASSERT_TRUE(W.Initialize());
    ASSERT_EQ(W.context, STANDIN_DEFAULT_CONTEXT) << "Winlogon holds msgina's context";

    int bound = 0;
    for (const Forward& f : Forwards()) {
        SCOPED_TRACE(f.entry);
        W.standin->results[f.entry] = kResultBase + f.entry;
        ULONG_PTR r = f.call(W);
        auto calls = W.CallsOf(f.entry);
        if (v.bound < f.since) {
            EXPECT_TRUE(calls.empty()) << "not bound at this version";
            if (f.hasResult) {
                EXPECT_EQ(r, 0u);
            }
            continue;
        }
        ++bound;
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].argc, static_cast<int>(f.args.size()) + 1);
        EXPECT_EQ(calls[0].args[0], U(STANDIN_DEFAULT_CONTEXT));
        for (size_t i = 0; i < f.args.size(); ++i) {
            EXPECT_EQ(calls[0].args[i + 1], f.args[i]) << "argument " << i + 1;
        }
        if (f.hasResult) {
            EXPECT_EQ(r, kResultBase + f.entry);
        }
    }
    // With Negotiate, Initialize and the four SAS calls: 11 base, 13 at 1.1 and 1.2, 17 at 1.3.
    EXPECT_EQ(bound + 4, v.bound >= 0x10003 ? 17 : v.bound >= 0x10001 ? 13 : 11);
}

INSTANTIATE_TEST_SUITE_P(Winlogon, GatehookForwards, ::testing::ValuesIn(kVersions),
                         [](const ::testing::TestParamInfo<VersionCase>& i) { return std::string(i.param.name); });

TEST_F(GatehookHost, InitializeTakesCtrlAltDelThenHandsMsginaTheSameArguments) {
    ts::tokensim::StartLog();
    ASSERT_TRUE(W.Load(L"full"));
    DWORD version = 0;
    ASSERT_TRUE(W.Negotiate(WLX_VERSION_1_4, &version));
    W.standin->results[SE_Initialize] = kResultBase;
    EXPECT_EQ(W.Initialize(), static_cast<BOOL>(kResultBase));

    EXPECT_EQ(W.useCtrlAltDelCalls, 1);
    EXPECT_EQ(W.useCtrlAltDelHandle, HOST_HWLX);
    auto init = W.CallsOf(SE_Initialize);
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(W.msginaCallsAtUseCtrlAltDel, 1) << "Ctrl+Alt+Del is taken before msgina initialises";
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(init[0].args[0]), HOST_WINSTA);
    EXPECT_EQ(init[0].args[1], U(HOST_HWLX));
    EXPECT_EQ(init[0].args[2], 0u);
    EXPECT_EQ(init[0].args[3], U(&W.dispatch));
    EXPECT_EQ(init[0].args[4], U(&W.context));
    EXPECT_EQ(W.context, STANDIN_DEFAULT_CONTEXT);
    EXPECT_NE(ts::tokensim::Log().find('C'), std::string::npos) << "the token context is created";

    W.standin->results[SE_Initialize] = FALSE;
    EXPECT_FALSE(W.Initialize()) << "msgina's failure is Winlogon's answer";
}

TEST_F(GatehookHost, InitializeRefusesMissingWinlogonArguments) {
    ASSERT_TRUE(W.Load(L"full"));
    DWORD version = 0;
    ASSERT_TRUE(W.Negotiate(WLX_VERSION_1_4, &version));
    PVOID context = nullptr;
    EXPECT_FALSE(W.wlx.Initialize(const_cast<LPWSTR>(HOST_WINSTA), HOST_HWLX, nullptr, nullptr, &context));
    EXPECT_FALSE(W.wlx.Initialize(const_cast<LPWSTR>(HOST_WINSTA), HOST_HWLX, nullptr, &W.dispatch, nullptr));
    EXPECT_EQ(W.CountOf(SE_Initialize), 0);
    EXPECT_EQ(W.useCtrlAltDelCalls, 0);
}

// Ctrl+Alt+Del at the desktop opens the Task Manager while the switch is on; every other SAS
// (screen saver, logoff, smart card, ...) is msgina's.
TEST_F(GatehookHost, LoggedOnSasGivesTheTaskManagerOnlyForCtrlAltDel) {
    ASSERT_TRUE(W.Boot(L"full"));
    W.standin->results[SE_LoggedOnSAS] = WLX_SAS_ACTION_LOGOFF;
    int pReserved = 0;
    for (DWORD sw : {1u, 0u}) {
        SetSwitch(L"QJ_CtrlAltDel", sw);
        for (DWORD sas = WLX_SAS_TYPE_TIMEOUT; sas <= WLX_SAS_TYPE_SWITCHUSER; ++sas) {
            SCOPED_TRACE(testing::Message() << "switch " << sw << " sas " << sas);
            int before = W.CountOf(SE_LoggedOnSAS);
            int r = W.wlx.LoggedOnSAS(W.context, sas, &pReserved);
            if (sw && sas == WLX_SAS_TYPE_CTRL_ALT_DEL) {
                EXPECT_EQ(r, WLX_SAS_ACTION_TASKLIST);
                EXPECT_EQ(W.CountOf(SE_LoggedOnSAS), before);
                continue;
            }
            EXPECT_EQ(r, WLX_SAS_ACTION_LOGOFF);
            auto calls = W.CallsOf(SE_LoggedOnSAS);
            ASSERT_EQ(static_cast<int>(calls.size()), before + 1);
            EXPECT_EQ(calls.back().args[0], U(STANDIN_DEFAULT_CONTEXT));
            EXPECT_EQ(calls.back().args[1], sas);
            EXPECT_EQ(calls.back().args[2], U(&pReserved));
        }
    }
}

// The locked workstation is the GINA's own notice; msgina's unlock (a password) is never asked.
TEST_F(GatehookHost, WkstaLockedSasUnlocksOnlyWhenTheNoticeSaysSo) {
    ASSERT_TRUE(W.Boot(L"full"));
    struct {
        DWORD sas;
        int dialogResult;
        int action;
        bool shown;
    } cases[] = {
        {WLX_SAS_TYPE_CTRL_ALT_DEL, IDOK, WLX_SAS_ACTION_UNLOCK_WKSTA, true},
        {WLX_SAS_TYPE_CTRL_ALT_DEL, IDCANCEL, WLX_SAS_ACTION_NONE, true},
        {WLX_SAS_TYPE_CTRL_ALT_DEL, -1, WLX_SAS_ACTION_NONE, true},
        {WLX_SAS_TYPE_SCRNSVR_TIMEOUT, IDOK, WLX_SAS_ACTION_NONE, false},
        {WLX_SAS_TYPE_SC_INSERT, IDOK, WLX_SAS_ACTION_NONE, false},
        {WLX_SAS_TYPE_TIMEOUT, IDOK, WLX_SAS_ACTION_NONE, false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "sas " << c.sas << " dialog " << c.dialogResult);
        W.scripted[136] = c.dialogResult;
        size_t before = W.dialogs.size();
        EXPECT_EQ(W.WkstaLockedSAS(c.sas), c.action);
        ASSERT_EQ(W.dialogs.size(), before + (c.shown ? 1 : 0));
        if (!c.shown) continue;
        const DialogRequest& d = W.dialogs.back();
        EXPECT_EQ(d.hWlx, HOST_HWLX);
        EXPECT_EQ(d.instance, W.gina);
        EXPECT_EQ(d.templateId, 136u);
        EXPECT_EQ(d.owner, nullptr);
    }
    EXPECT_EQ(W.CountOf(SE_WkstaLockedSAS), 0);
}

// The boot notice decides whether msgina's logon runs at all, and only msgina's LOGON is a logon.
TEST_F(GatehookHost, LoggedOutSasFollowsTheBootNoticeAndMsgina) {
    ASSERT_TRUE(W.Boot(L"full"));
    struct {
        DWORD bootKey;
        int notice;  // result of dialog 121
        int msgina;  // msgina's answer
        int action;
        bool msginaCalled;
    } cases[] = {
        {1, 1019, WLX_SAS_ACTION_LOGON, WLX_SAS_ACTION_SHUTDOWN, false},
        {1, IDCANCEL, WLX_SAS_ACTION_LOGON, WLX_SAS_ACTION_NONE, false},
        {1, -1, WLX_SAS_ACTION_LOGON, WLX_SAS_ACTION_NONE, false},
        {1, 1, WLX_SAS_ACTION_LOGON, WLX_SAS_ACTION_LOGON, true},
        {1, 1, WLX_SAS_ACTION_SHUTDOWN, WLX_SAS_ACTION_NONE, true},
        {1, 1, WLX_SAS_ACTION_NONE, WLX_SAS_ACTION_NONE, true},
        {0, 1019, WLX_SAS_ACTION_LOGON, WLX_SAS_ACTION_LOGON, true},
    };
    LUID luid;
    BYTE sid[32];
    DWORD options;
    HANDLE token;
    WLX_MPR_NOTIFY_INFO mpr = {};
    PVOID profile;
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "switch " << c.bootKey << " notice " << c.notice << " msgina " << c.msgina);
        SetSwitch(L"QJ_KaiJiChcekKey", c.bootKey);
        W.scripted[121] = c.notice;
        W.standin->results[SE_LoggedOutSAS] = c.msgina;
        size_t dialogs = W.dialogs.size();
        int before = W.CountOf(SE_LoggedOutSAS);
        EXPECT_EQ(W.wlx.LoggedOutSAS(W.context, WLX_SAS_TYPE_CTRL_ALT_DEL, &luid, sid, &options, &token, &mpr, &profile),
                  c.action);
        EXPECT_EQ(W.dialogs.size(), dialogs + (c.bootKey ? 1 : 0));
        if (c.bootKey) {
            EXPECT_EQ(W.dialogs.back().templateId, 121u);
        }
        auto calls = W.CallsOf(SE_LoggedOutSAS);
        ASSERT_EQ(static_cast<int>(calls.size()), before + (c.msginaCalled ? 1 : 0));
        if (!c.msginaCalled) continue;
        std::vector<ULONG_PTR> expected = {U(STANDIN_DEFAULT_CONTEXT), WLX_SAS_TYPE_CTRL_ALT_DEL, U(&luid), U(sid),
                                           U(&options), U(&token), U(&mpr), U(&profile)};
        EXPECT_EQ(std::vector<ULONG_PTR>(calls.back().args, calls.back().args + 8), expected);
    }
}

const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// Only the enrolled user's logon, compared exactly, becomes the auto-logon of the next boot, and never
// with the password in clear text.
TEST_F(GatehookHost, AutoLogonValuesOnlyForTheEnrolledUser) {
    StoreRecord(L"Admin");
    SetSwitch(L"QJ_KaiJiChcekKey", 0);
    ASSERT_TRUE(W.Boot(L"full"));
    struct {
        const wchar_t* user;  // as msgina reports it; nullptr leaves the notify structure empty
        bool written;
    } cases[] = {{L"Admin", true}, {L"ADMIN", false}, {L"Other", false}, {L"Admin2", false}, {nullptr, false}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.user ? ts::Narrow(c.user) : std::string("(none)"));
        ClearAutoLogon();
        // A clear-text password left by an earlier version.
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultPassword", L"old"));
        lstrcpynW(W.standin->userName, c.user ? c.user : L"", 64);
        lstrcpynW(W.standin->domain, L"WORKGROUP", 64);
        lstrcpynW(W.standin->password, L"pa55", 64);
        WLX_MPR_NOTIFY_INFO mpr = {};
        EXPECT_EQ(W.LoggedOutSAS(&mpr), WLX_SAS_ACTION_LOGON);
        std::wstring v;
        EXPECT_EQ(ts::GetString(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultUserName", &v), c.written);
        if (!c.written) {
            EXPECT_TRUE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultPassword"));
            continue;
        }
        EXPECT_EQ(v, c.user);
        ASSERT_TRUE(ts::GetString(HKEY_LOCAL_MACHINE, kWinlogonKey, L"AutoAdminLogon", &v));
        EXPECT_EQ(v, L"1");
        ASSERT_TRUE(ts::GetString(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultDomainName", &v));
        EXPECT_EQ(v, L"WORKGROUP");
        // Every local user can read Winlogon's key: the password only ever goes into the LSA secret
        // (which Wine does not keep), and no clear-text copy stays.
        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultPassword"))
            << "the Windows password in clear text";
    }
    // Winlogon's structure missing altogether: still a logon, and nothing to store.
    ClearAutoLogon();
    EXPECT_EQ(W.LoggedOutSAS(nullptr), WLX_SAS_ACTION_LOGON);
    EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultUserName"));
}

TEST_F(GatehookHost, AutoLogonNeverForAnEmptyEnrolledName) {
    StoreRecord(L"");
    SetSwitch(L"QJ_KaiJiChcekKey", 0);
    ASSERT_TRUE(W.Boot(L"full"));
    W.standin->userName[0] = 0;
    WLX_MPR_NOTIFY_INFO mpr = {};
    wchar_t empty[] = L"";
    mpr.pszUserName = empty;
    EXPECT_EQ(W.LoggedOutSAS(&mpr), WLX_SAS_ACTION_LOGON);
    EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultUserName"));
}

}  // namespace
}  // namespace host
