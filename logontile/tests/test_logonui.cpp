// LogonUiHost.exe plays LogonUI against the real Logontile.dll and its test build.
#include <string>

#include "dllfixture.h"

namespace {

struct HostRun {
    bool started;
    DWORD exitCode;
    std::string log;
};

HostRun RunHost(const std::wstring& arguments) {
    ts::ChildResult r = ts::RunChild(L"\"" + ts::InExeDir(L"LogonUiHost.exe") + L"\" " + arguments, 30000);
    return {r.started, r.exitCode, r.output};
}

::testing::AssertionResult Logged(const HostRun& run, const std::string& line) {
    if (run.log.find(line) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << line << "\" in:\n" << run.log;
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
        EXPECT_TRUE(Logged(run, "CALL Filter scenario=logon providers=3 hr=0x00000000 allow=0,1,0"));
        EXPECT_TRUE(Logged(run, "CALL Filter scenario=unlock providers=1 hr=0x00000000 allow=1"));
        EXPECT_TRUE(Logged(run, "CALL Filter scenario=unlock providers=1 hr=0x00000000 allow=1\n"));
        EXPECT_TRUE(Logged(run, "CALL Filter scenario=credui providers=2 hr=0x80004001 allow=1,1"));
        EXPECT_TRUE(Logged(run, "CALL Filter scenario=invalid providers=1 hr=0x80070057 allow=1"));
        EXPECT_TRUE(Logged(run, "CALL Release filter refs=0"));
        // Nothing left alive: the host may unload the module.
        EXPECT_TRUE(Logged(run, "CALL DllCanUnloadNow hr=0x00000000"));
        EXPECT_TRUE(Logged(run, "UNLOAD"));
        EXPECT_TRUE(Logged(run, "VIOLATIONS 0"));
    }
}

TEST(LogontileUnderLogonUiHost, ProviderIsCreatedThroughTheFactory) {
    HostRun run = RunHost(L"--dll LogontileTest.dll provider logon provider unlock");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_TRUE(Logged(run, "CALL CreateInstance iid=ICredentialProvider hr=0x00000000"));
    EXPECT_TRUE(Logged(run, "CALL SetUsageScenario scenario=logon"));
    EXPECT_TRUE(Logged(run, "CALL SetUsageScenario scenario=unlock"));
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

}  // namespace
