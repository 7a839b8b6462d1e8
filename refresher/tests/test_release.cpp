// A release made by the signing script's release command at build time (refresher_release, see
// make_release.sh), published as the update host would publish it and installed whole.
#include "enginefixture.h"

namespace rt {
namespace {

const char kUpdateFolder[] = "/wp-content/uploads/soft/computerlock/update/";

struct ProxyOff {
    ~ProxyOff() { ts::SetUserProxy(); }
};

using RefresherRelease = EngineTest;

TEST_F(RefresherRelease, MadeByTheToolInstallsEndToEnd) {
    const std::wstring dir = ts::InExeDir(L"refresher_release");
    const std::string blob = ts::ReadFileBytes(dir + L"\\key\\update-signing.blob");
    if (blob.empty()) GTEST_SKIP() << "the build had no openssl";
    const std::wstring publish = dir + L"\\publish";
    std::vector<std::wstring> published = FilesIn(publish);
    ASSERT_EQ(published.size(), 5u);  // three files, update.txt and its signature
    for (const std::wstring& name : published)
        server_.SetBody(kUpdateFolder + ts::Narrow(name), ts::ReadFileBytes(publish + L"\\" + name));
    ASSERT_EQ(server_.CountFor(kDescriptionPath), 0);

    // The release names the real host: the loopback server answers for it as the proxy.
    ServiceStandIn service(root_ + L"\\服务");
    ASSERT_TRUE(service.ok());
    ProxyOff proxyOff;
    ts::SetUserProxy(L"127.0.0.1:" + std::to_wstring(server_.Port()));
    refresher::EngineSettings s = Settings();
    s.baseUrl = L"http://update.example.com";
    s.publicKey = reinterpret_cast<const BYTE*>(blob.data());
    s.publicKeySize = static_cast<DWORD>(blob.size());
    refresher::CUpdateEngine engine(s);
    ASSERT_TRUE(engine.InitPaths());
    engine.SetReports(&recorder_);
    WriteInstalledVersion(L"2.0");

    ASSERT_TRUE(engine.GetUpdateInfo());
    ASSERT_TRUE(engine.CheckNewVersion());
    EXPECT_EQ(ts::Narrow(engine.RemoteVersion()), "3.0");
    std::wstring log = engine.UpdateText();
    EXPECT_EQ(engine.LineCount(), 2);
    EXPECT_NE(log.find(L"\r\nTolven电脑锁 3.0\r\n"), std::wstring::npos) << ts::Narrow(log);
    EXPECT_NE(log.find(L"\r\n修正了拔出钥匙后的锁定\r\n\x2192\r\n"), std::wstring::npos) << ts::Narrow(log);
    EXPECT_NE(log.find(L"\r\n 前后有空格 \r\n\x2192\r\n"), std::wstring::npos) << ts::Narrow(log);
    ASSERT_TRUE(engine.CanAutoUpdate());

    ASSERT_TRUE(engine.RunUpdate());
    EXPECT_EQ(recorder_.Finished(), 1);
    EXPECT_EQ(ts::Narrow(InstalledVersion()), "3.0");
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));  // the caller starts it again, or restarts Windows
    for (const wchar_t* name : {L"Sentry.exe", L"Warden.exe"}) {
        SCOPED_TRACE(ts::Narrow(name));
        EXPECT_EQ(ts::ReadFileBytes(program_ + L"\\" + name), ts::ReadFileBytes(publish + L"\\" + name));
    }
    std::string library = ts::ReadFileBytes(publish + L"\\Corelib.dll");
    EXPECT_EQ(library.size(), 256u * 64u);
    EXPECT_EQ(ts::ReadFileBytes(system_ + L"\\Corelib.dll"), library);
    EXPECT_FALSE(Exists(program_ + L"\\Corelib.dll"));
    for (const char* name : {"Corelib.dll", "Sentry.exe", "Warden.exe"})
        EXPECT_EQ(server_.CountFor(kUpdateFolder + std::string(name)), 1) << name;
}

}  // namespace
}  // namespace rt
