// LogonUiHost.exe plays LogonUI against the real Logontile.dll and its test build: the filter, the
// provider's scenarios with the service start, and whole logons and unlocks with the key tile
// (real key poll, simulated USB disk or stand-in token, the fake LSA of the host).
#include <string>
#include <vector>

#include "dllfixture.h"
#include "testbuild.h"
#include "tilesupport.h"
#include "tokensim.h"
#include "usbdisk.h"

namespace {

struct HostRun {
    bool started;
    DWORD exitCode;
    std::string log;
};

HostRun RunHost(const std::wstring& arguments) {
    ts::ChildResult r = ts::RunChild(L"\"" + ts::InExeDir(L"LogonUiHost.exe") + L"\" " + arguments, 60000);
    return {r.started, r.exitCode, r.output};
}

::testing::AssertionResult Logged(const HostRun& run, const std::string& line) {
    if (run.log.find(line) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << line << "\" in:\n" << run.log;
}

// Each part in this order (each found after the one before it).
::testing::AssertionResult LoggedInOrder(const HostRun& run, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const std::string& part : parts) {
        size_t found = run.log.find(part, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "no \"" << part << "\" after offset " << at << " in:\n" << run.log;
        at = found + part.size();
    }
    return ::testing::AssertionSuccess();
}

int Count(const std::string& log, const std::string& part) {
    int n = 0;
    for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + part.size())) ++n;
    return n;
}

// The two "THREADS n" lines of a run: the tile's threads are the difference.
int ThreadDelta(const std::string& log) {
    std::vector<int> counts;
    for (size_t at = log.find("THREADS "); at != std::string::npos; at = log.find("THREADS ", at + 8))
        counts.push_back(atoi(log.c_str() + at + 8));
    return counts.size() >= 2 ? counts[1] - counts[0] : -100;
}


// The host's line for a packed logon of this type with the computer as domain. The strings follow the
// fixed part of this architecture's layout: 36 bytes on 32-bit, 64 on 64-bit.
std::string SerialLine(int type, const std::string& user, const std::string& password) {
#ifdef _WIN64
    const size_t h = 64;
#else
    const size_t h = 36;
#endif
    const std::string domain = ts::Narrow(ts::ComputerName());
    const size_t d = domain.size() * 2, u = user.size() * 2;  // ASCII here
    return "SERIAL type=" + std::to_string(type) + " domain@" + std::to_string(h) + "+" + std::to_string(d) + "=\"" +
           domain + "\" user@" + std::to_string(h + d) + "+" + std::to_string(u) + "=\"" + user + "\" password@" +
           std::to_string(h + d + u) + "+" + std::to_string(password.size() * 2) + "=\"" + password + "\"";
}

DWORD ShutdownCalls() {
    DWORD calls = 0;
    return ts::GetDword(HKEY_CURRENT_USER, LOGONTILE_TEST_SHUTDOWN_KEY, L"Calls", &calls) ? calls : 0;
}

TEST(LogontileUnderLogonUiHost, FilterLeavesOnlyOurTileInBothBuilds) {
    for (const wchar_t* dll : {L"Logontile.dll", L"LogontileTest.dll"}) {
        SCOPED_TRACE(ts::Narrow(dll));
        HostRun run = RunHost(std::wstring(L"--dll ") + dll +
                       L" filter logon password,own,{11111111-2222-3333-4444-555555555555}"
                       L" filter unlock own"
                       L" filter unlock password"
                       L" filter credui own,password"
                       L" filter 0 own");
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 0u) << run.log;
        EXPECT_TRUE(Logged(run, "CALL DllGetClassObject clsid={00ABCDEF-F666-4966-80C7-88BE82DFB12A} hr=0x00000000"));
        // One line per command, in the commands' order; the two unlock commands print the same line,
        // so it must come twice (checked red by having the filter skip the password provider at unlock).
        EXPECT_TRUE(LoggedInOrder(run, {"CALL Filter scenario=logon providers=3 hr=0x00000000 allow=0,1,0\n",
                                        "CALL Filter scenario=unlock providers=1 hr=0x00000000 allow=1\n",
                                        "CALL Filter scenario=unlock providers=1 hr=0x00000000 allow=1\n",
                                        "CALL Filter scenario=credui providers=2 hr=0x80004001 allow=1,1\n",
                                        "CALL Filter scenario=invalid providers=1 hr=0x80070057 allow=1\n"}));
        EXPECT_EQ(Count(run.log, "CALL Filter "), 5) << run.log;
        EXPECT_TRUE(Logged(run, "CALL Release filter refs=0"));
        // Nothing left alive: the host may unload the module.
        EXPECT_TRUE(Logged(run, "CALL DllCanUnloadNow hr=0x00000000"));
        EXPECT_TRUE(Logged(run, "UNLOAD"));
        EXPECT_TRUE(Logged(run, "VIOLATIONS 0"));
    }
}

TEST(LogontileUnderLogonUiHost, ProviderIsCreatedThroughTheFactory) {
    ts::ResetSettings();
    lt::InstallFolder install;
    ASSERT_TRUE(install.AddServiceRecorder());
    // Not served: the service is asked for all the same.
    HostRun run = RunHost(L"--dll LogontileTest.dll provider credui");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_TRUE(Logged(run, "CALL SetUsageScenario scenario=credui hr=0x80004001"));
    EXPECT_EQ(install.ServiceArguments(30000), "/start");

    run = RunHost(L"--dll LogontileTest.dll provider logon provider unlock provider change-password provider 5");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_TRUE(LoggedInOrder(run, {"CALL CreateInstance iid=ICredentialProvider hr=0x00000000",
                                    "CALL SetUsageScenario scenario=logon hr=0x00000000",
                                    "CALL GetFieldDescriptorCount hr=0x00000000 count=8",
                                    "CALL GetCredentialCount hr=0x00000000 count=1 default=0 autologon=0",
                                    "CALL GetCredentialAt index=0 hr=0x00000000",
                                    "CALL GetStringValue field=3 hr=0x00000000 text=\"USB KEY登陆认证\"",
                                    "CALL SetUsageScenario scenario=unlock hr=0x00000000",
                                    "CALL SetUsageScenario scenario=change-password hr=0x80004001",
                                    "CALL SetUsageScenario scenario=plap hr=0x80070057"}));
    // The provider and its tile hold each other for LogonUI's lifetime: the module stays.
    EXPECT_TRUE(Logged(run, "CALL DllCanUnloadNow hr=0x00000001"));
    EXPECT_TRUE(Logged(run, "VIOLATIONS 0"));
}

TEST(LogontileUnderLogonUiHost, RefusesWhatItCannotRun) {
    struct {
        const char* name;
        const wchar_t* arguments;
        const char* line;
    } const cases[] = {
        {"missing module", L"--dll NoSuchModule.dll filter logon own", "LOAD \"NoSuchModule.dll\" failed"},
        {"foreign class", L"--clsid {60B78E88-EAD8-445C-9CFD-0B87F74EA6CD} filter logon own",
         "hr=0x80040111"},
        {"unknown verb", L"dance", "ERROR unknown verb"},
        {"verb without operand", L"filter logon", "ERROR filter SCENARIO LIST"},
        {"bad list", L"filter logon own,nobody", "ERROR filter SCENARIO LIST"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostRun run = RunHost(c.arguments);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 2u) << run.log;
        EXPECT_TRUE(Logged(run, c.line));
    }
}

// ---------------------------------------------------------------------------------------------
// Whole logons and unlocks with the key tile. The key is the simulated USB disk "LTKEY1" (or, in
// token mode, a stand-in token), absent when a scenario starts.

const char kKeyRemoved[] = "认证KEY已取下，计算机进入锁定状态。";
const char kIntervalLocked[] = "间隔时间锁定计算机，您可以禁用此功能。";
const char kEnterPassword[] = "EVENT SetFieldString field=4 text=\"请输入密码登录\"";
const char kReportOk[] = "CALL ReportResult status=0x00000000 substatus=0x00000000 hr=0x00000000 text=NULL icon=0";
const char kWrongKey[] =
    "CALL ReportResult status=0xC000006D substatus=0x00000000 hr=0x00000000 text=\"用户名或密码错误.\" icon=1";
const char kTwoLeft[] = "CALL ReportResult status=0xC000006D substatus=0x00000000 hr=0x00000000 "
                        "text=\"用户名或密码错误,紧急登录有3次机会，您还可以尝试2次.\" icon=1";
const char kOneLeft[] = "CALL ReportResult status=0xC000006D substatus=0x00000000 hr=0x00000000 "
                        "text=\"用户名或密码错误,紧急登录有3次机会，您还可以尝试1次.\" icon=1";
const char kShutdown[] = "CALL ReportResult status=0xC000006D substatus=0x00000000 hr=0x00000000 "
                         "text=\"连续3次口令输入错误，系统将自动关机.\" icon=1";
const char kAutoLogon[] = "CALL SetSelected hr=0x00000000 autologon=1";
const char kChanged[] = "EVENT CredentialsChanged context=0x5EED thread=other";
// The tile's key thread saw the key gone in the polls that confirm it (waited on, not timed).
const char kSeenAbsent[] = "WAIT key absent n=2 seen=1";

// A serialization as the host logs it: for bob, with the computer name as domain.
struct Sent {
    int type;
    const char* password;
};

struct Scenario {
    const char* name;
    DWORD unlockCheck;  // QJ_SuoPingCheckKey
    DWORD bootCheck;    // QJ_KaiJiChcekKey
    bool token;         // the key is a token (inserted before the host starts)
    const wchar_t* storedPassword;
    std::wstring arguments;          // after --dll LogontileTest.dll --package 0x4E47
    std::vector<std::string> lines;  // in order
    std::vector<Sent> sent;          // every serialization, in order
    int changes;                     // CredentialsChanged seen
    int threadDelta;                 // the tile's threads after SetSelected (-1: not looked at)
    DWORD shutdowns;
    const wchar_t* storedAfter;  // lpUserPWD after the run
};

const Scenario kScenarios[] = {
    {"UnlockAfterTheKeyWasPulled", 1, 1, false, L"pw",
     L"--account bob=pw alert-event lock-record 4 provider unlock threads select threads wait-key absent 2 5000 "
     L"key-in LTKEY1 wait-change 5000",
     {std::string("CALL GetStringValue field=4 hr=0x00000000 text=\"") + kKeyRemoved + "\"",
      "CALL SetSelected hr=0x00000000 autologon=0", kSeenAbsent, "KEY in", kChanged, kAutoLogon,
      "SERIAL package=0x4E47 clsid={00ABCDEF-F666-4966-80C7-88BE82DFB12A}", "LSA status=0x00000000", kReportOk,
      "ALERT set", "VIOLATIONS 0"},
     {{7, "pw"}}, 1, 1, 0, L"pw"},
    {"UnlockWithTheKeyLeftInNeedsItPulledAndInserted", 1, 1, false, L"pw",
     L"--account bob=pw alert-event key-in LTKEY1 lock-record 4 provider unlock select wait-key present 2 5000 "
     L"key-out LTKEY1 wait-key absent 2 5000 key-in LTKEY1 wait-change 5000",
     {"KEY in", "CALL SetSelected hr=0x00000000 autologon=0", "WAIT key present n=2 seen=1", "KEY out", kSeenAbsent,
      "KEY in", kChanged, kAutoLogon, "LSA status=0x00000000", "ALERT set", "VIOLATIONS 0"},
     {{7, "pw"}}, 1, -1, 0, L"pw"},
    {"UnlockAfterAnIntervalLockWithoutTheKey", 0, 1, false, L"pw",
     L"--account bob=pw alert-event lock-record 2 provider unlock threads select idle 300 threads switches "
     L"type 2 pw submit",
     {std::string("CALL GetStringValue field=4 hr=0x00000000 text=\"") + kIntervalLocked + "\"",
      "EVENT SetFieldState field=6 state=CPFS_HIDDEN", kEnterPassword, "SWITCHES QJ_LockThread=0 QJ_HotKey=0",
      "LSA status=0x00000000", kReportOk, "ALERT set", "VIOLATIONS 0"},
     {{7, "pw"}}, 0, 0, 0, L"pw"},
    {"BootLogonWithoutTheKey", 1, 0, false, L"pw",
     L"--account bob=pw provider logon threads select idle 300 threads switches type 2 pw submit",
     {"CALL GetStringValue field=4 hr=0x00000000 text=\"\"", kEnterPassword, "SWITCHES QJ_LockThread=0 QJ_HotKey=0",
      "LSA status=0x00000000", kReportOk, "VIOLATIONS 0"},
     {{2, "pw"}}, 0, 0, 0, L"pw"},
    {"BootLogonWithTheKeyF8TogglesPasswordMode", 1, 1, false, L"pw",
     L"--account bob=pw provider logon threads select threads f8-heard 3000 switches "
     L"f8 wait-change 3000 switches wait-key absent 1 5000 key-in LTKEY1 wait-change 5000",
     {"INPUT F8 sent=1", kChanged, kEnterPassword, "SWITCHES QJ_LockThread=0 QJ_HotKey=1", "INPUT F8 sent=1",
      kChanged, "EVENT SetFieldState field=2 state=CPFS_HIDDEN", "SWITCHES QJ_LockThread=1 QJ_HotKey=0",
      "WAIT key absent n=1 seen=1", "KEY in",
      kChanged, kAutoLogon, "LSA status=0x00000000", kReportOk, "VIOLATIONS 0"},
     {{2, "pw"}}, 3, 2, 0, L"pw"},
    {"BootLogonWithTheToken", 1, 1, true, L"pw",
     L"--account bob=pw provider logon select wait-change 5000",
     {kChanged, kAutoLogon, "LSA status=0x00000000", kReportOk, "VIOLATIONS 0"}, {{2, "pw"}}, 1, -1, 0, L"pw"},
    {"ThreeWrongPasswordsInF8ModeShutDown", 1, 1, false, L"pw",
     L"--account bob=pw provider logon select f8-heard 3000 type 2 bad1 submit type 2 bad2 submit "
     L"type 2 bad3 submit",
     {kEnterPassword, kTwoLeft, kOneLeft, kShutdown, "VIOLATIONS 0"}, {{2, "bad1"}, {2, "bad2"}, {2, "bad3"}}, 1, -1,
     1, L"pw"},
    {"RightPasswordInF8ModeResetsTheCount", 1, 1, false, L"pw",
     L"--account bob=pw alert-event provider logon select f8-heard 3000 type 2 bad1 submit "
     L"type 2 pw submit type 2 bad2 submit",
     {kTwoLeft, kReportOk, "ALERT set", kTwoLeft, "VIOLATIONS 0"}, {{2, "bad1"}, {2, "pw"}, {2, "bad2"}}, 1, -1, 0,
     L"pw"},
    {"FailedKeyLogonThenTheTypedPasswordIsStored", 1, 1, false, L"old",
     L"--account bob=new alert-event provider unlock select wait-key absent 2 5000 key-in LTKEY1 wait-change 5000 "
     L"type 2 new submit",
     {kSeenAbsent, kAutoLogon, "LSA status=0xC000006D", kEnterPassword, kWrongKey, "LSA status=0x00000000", kReportOk,
      "ALERT set", "VIOLATIONS 0"},
     {{7, "old"}, {7, "new"}}, 1, -1, 0, L"new"},
    {"DisabledAccountGivesTheWarning", 1, 1, false, L"pw",
     L"--account bob=pw:C000006E:C0000072 provider unlock select wait-key absent 2 5000 key-in LTKEY1 "
     L"wait-change 5000",
     {kSeenAbsent, kAutoLogon, "LSA status=0xC000006E substatus=0xC0000072", kEnterPassword,
      "CALL ReportResult status=0xC000006E substatus=0xC0000072 hr=0x00000000 text=\"该帐户被禁用.\" icon=2",
      "VIOLATIONS 0"},
     {{7, "pw"}}, 1, -1, 0, L"pw"},
    // LogonUI lets go of the module while the key thread polls: the thread's own reference keeps the
    // module loaded (red with PinModule giving none: the host crashes as the thread wakes), and the
    // module leaves the process once the thread has found the key and ended (red with the thread
    // returning instead of ending through FreeLibraryAndExitThread). Nobody listens any more.
    {"ReleasedWhileTheKeyThreadPollsUnloadsOnceItEnds", 1, 1, false, L"pw",
     L"--account bob=pw lock-record 4 provider unlock select wait-key absent 2 5000 abandon key-in LTKEY1 "
     L"wait-unload 5000",
     {kSeenAbsent, "CALL DllCanUnloadNow hr=0x00000001", "ABANDON threads=1 loaded=1", "KEY in", "WAIT unloaded=1",
      "VIOLATIONS 0"},
     {}, 0, -1, 0, L"pw"},
    {"RefusesOtherFieldsAndALongPasswordOnDeselect", 1, 0, false, L"pw",
     L"provider logon select type 1 x type 4 y type 2 " + std::wstring(128, L'z') + L" deselect",
     {"CALL SetStringValue field=1 text=\"x\" hr=0x80070057", "CALL SetStringValue field=4 text=\"y\" hr=0x80070057",
      "CALL SetDeselected hr=0x80070057", "VIOLATIONS 0"},
     {}, 0, -1, 0, L"pw"},
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class LogontileHostScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(LogontileHostScenario, Runs) {
    const Scenario& s = GetParam();
    ts::ResetSettings();
    ts::RemoveAllSimulatedDisks();
    ts::tokensim::Reset();
    ts::DeleteKeyTree(HKEY_CURRENT_USER, LOGONTILE_TEST_SHUTDOWN_KEY);
    lt::InstallFolder install;
    ASSERT_TRUE(install.AddServiceRecorder());  // never the real service program
    lt::Enrol(L"bob", s.storedPassword, ts::UsbDisk::FlashDisk(L"LTKEY1").Id());
    if (s.token) {
        const ts::tokensim::Token token = ts::tokensim::MakeToken(0x1234, 0x10, "ZARN-1");
        uinfo record = lt::StoredRecord();
        record.ulTokenSerial = ts::tokensim::Fold(token);
        ASSERT_TRUE(SetUserInfo(&record));
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", 1), ERROR_SUCCESS);
        ASSERT_TRUE(ts::tokensim::Insert({token}));
    }
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_SuoPingCheckKey", s.unlockCheck), ERROR_SUCCESS);
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", s.bootCheck), ERROR_SUCCESS);

    HostRun run = RunHost(L"--dll LogontileTest.dll --package 0x4E47 " + s.arguments);
    ts::RemoveAllSimulatedDisks();
    ts::tokensim::Reset();
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_TRUE(LoggedInOrder(run, s.lines));
    std::vector<std::string> serials;
    for (const Sent& sent : s.sent) serials.push_back(SerialLine(sent.type, "bob", sent.password));
    EXPECT_TRUE(LoggedInOrder(run, serials));
    EXPECT_EQ(Count(run.log, "SERIAL type="), static_cast<int>(s.sent.size()));
    EXPECT_EQ(Count(run.log, "EVENT CredentialsChanged"), s.changes) << run.log;
    if (s.threadDelta >= 0) {
        EXPECT_EQ(ThreadDelta(run.log), s.threadDelta) << run.log;
    }
    EXPECT_EQ(ShutdownCalls(), s.shutdowns);
    if (s.shutdowns) {
        DWORD flags = 0, reason = 0;
        EXPECT_TRUE(ts::GetDword(HKEY_CURRENT_USER, LOGONTILE_TEST_SHUTDOWN_KEY, L"Flags", &flags));
        EXPECT_TRUE(ts::GetDword(HKEY_CURRENT_USER, LOGONTILE_TEST_SHUTDOWN_KEY, L"Reason", &reason));
        EXPECT_EQ(flags, static_cast<DWORD>(EWX_SHUTDOWN | EWX_FORCE));
        EXPECT_EQ(reason, 0x80020003u);
    }
    EXPECT_EQ(std::wstring(lt::StoredRecord().lpUserPWD), s.storedAfter);
    EXPECT_EQ(install.ServiceArguments(30000), "/start") << run.log;
    ts::DeleteKeyTree(HKEY_CURRENT_USER, LOGONTILE_TEST_SHUTDOWN_KEY);
}

INSTANTIATE_TEST_SUITE_P(KeyTile, LogontileHostScenario, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
