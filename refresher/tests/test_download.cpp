// One file over the real WinINet from the loopback server: what counts as a whole download, where
// it lands, what the engine reports, and what the server sees.
#include "enginefixture.h"

namespace rt {
namespace {

using RefresherDownload = EngineTest;
using ts::HttpReply;

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return s;
}

TEST_F(RefresherDownload, SavesTheExactBytesUnderTheUrlsFileName) {
    std::string body = Pattern(100000);
    server_.SetBody("/files/Sentry.exe", body);
    ASSERT_TRUE(Engine().DownloadFile(server_.Url("/files/Sentry.exe").c_str()));
    EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\Sentry.exe"), body);
    EXPECT_FALSE(Exists(download_ + L"\\Sentry.exe.part"));
    // Once more over the earlier copy.
    server_.SetBody("/files/Sentry.exe", "short");
    ASSERT_TRUE(Engine().DownloadFile(server_.Url("/files/Sentry.exe").c_str()));
    EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\Sentry.exe"), "short");
}

TEST_F(RefresherDownload, FailuresLeaveNothingBehind) {
    const std::string body = Pattern(50000);
    struct Case {
        const char* what;
        HttpReply reply;
        std::wstring url;  // empty: the server's /files/a.bin
    } cases[] = {
        {"404", [] { HttpReply r; r.status = 404; r.body = "no"; return r; }(), L""},
        {"500 error page", [] { HttpReply r; r.status = 500; r.body = "oops"; return r; }(), L""},
        {"407 from a proxy", [] { HttpReply r; r.status = 407; r.body = "auth"; return r; }(), L""},
        {"redirect to a 404", [] { HttpReply r; r.mode = HttpReply::Mode::Redirect; r.location = "/gone"; return r; }(),
         L""},
        {"no length", [&] { HttpReply r; r.mode = HttpReply::Mode::Chunked; r.body = body; return r; }(), L""},
        {"cut short", [&] { HttpReply r; r.mode = HttpReply::Mode::Cut; r.body = body; r.cutAfter = 20000; return r; }(),
         L""},
        {"refused connection", HttpReply(),
         L"http://127.0.0.1:" + std::to_wstring(ts::HttpServer::UnusedPort()) + L"/files/a.bin"},
        {"no file name", HttpReply(), server_.Url("/files/")},
        {"device name", HttpReply(), server_.Url("/files/nul")},
        {"dot dot", HttpReply(), server_.Url("/files/..")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server_.Set("/files/a.bin", c.reply);
        std::wstring url = c.url.empty() ? server_.Url("/files/a.bin") : c.url;
        EXPECT_FALSE(Engine().DownloadFile(url.c_str()));
        EXPECT_FALSE(Exists(download_ + L"\\a.bin"));
        EXPECT_FALSE(Exists(download_ + L"\\a.bin.part"));
    }
    // Nothing but the download folder itself is left in the program folder.
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((download_ + L"\\*").c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int entries = 0;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..")) ++entries;
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    EXPECT_EQ(entries, 0);
}

TEST_F(RefresherDownload, FollowsARedirectToTheFile) {
    HttpReply r;
    r.mode = HttpReply::Mode::Redirect;
    r.location = ts::Narrow(server_.Url("/real/b.bin"));
    server_.Set("/files/a.bin", r);
    server_.SetBody("/real/b.bin", "moved");
    ASSERT_TRUE(Engine().DownloadFile(server_.Url("/files/a.bin").c_str()));
    // Saved under the name that was asked for.
    EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\a.bin"), "moved");
}

TEST_F(RefresherDownload, FailedFetchKeepsTheEarlierCopy) {
    Engine();
    ASSERT_TRUE(ts::WriteFileBytes(download_ + L"\\a.bin", "earlier"));
    HttpReply r;
    r.mode = HttpReply::Mode::Cut;
    r.body = Pattern(30000);
    r.cutAfter = 1000;
    server_.Set("/files/a.bin", r);
    Engine();
    EXPECT_FALSE(Engine().DownloadFile(server_.Url("/files/a.bin").c_str()));
    EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\a.bin"), "earlier");
    EXPECT_FALSE(Exists(download_ + L"\\a.bin.part"));
}

TEST_F(RefresherDownload, StalledServerTimesOut) {
    HttpReply r;
    r.mode = HttpReply::Mode::Stall;
    r.body = Pattern(30000);
    r.cutAfter = 100;
    server_.Set("/files/a.bin", r);
    refresher::EngineSettings s = Settings();
    s.receiveTimeoutMs = 500;
    refresher::CUpdateEngine engine(s);
    ASSERT_TRUE(engine.InitPaths());
    DWORD start = GetTickCount();
    EXPECT_FALSE(engine.DownloadFile(server_.Url("/files/a.bin").c_str()));
    EXPECT_LT(GetTickCount() - start, 20000u);
    server_.Release();
    EXPECT_FALSE(Exists(download_ + L"\\a.bin"));
    EXPECT_FALSE(Exists(download_ + L"\\a.bin.part"));
}

TEST_F(RefresherDownload, ReportsProgressPerBlock) {
    // 40 KB in 16 KB pieces, each sent once the engine has reported the block before it, so that
    // every read returns one piece: step 409, counter from 1.
    HANDLE pace = CreateSemaphoreW(nullptr, 0, 100, nullptr);
    HttpReply r;
    r.body = Pattern(40960);
    r.pieceBytes = 16384;
    r.pace = pace;
    server_.Set("/files/a.bin", r);
    bool firstFull = true;
    recorder_.onProgress = [&](const Recorder::Entry& e) {
        if (e.text != L"value") return;
        if (e.lParam == 100 && firstFull) {
            firstFull = false;
            ReleaseSemaphore(pace, 1, nullptr);
        } else if (e.lParam != 0 && e.lParam != 100) {
            ReleaseSemaphore(pace, 1, nullptr);
        }
    };
    ASSERT_TRUE(Engine().DownloadFile(server_.Url("/files/a.bin").c_str()));
    std::vector<LPARAM> values = recorder_.Values();
    recorder_.onProgress = nullptr;
    EXPECT_EQ(values, (std::vector<LPARAM>{0, 100, 2, 3, 4, 100}));
    EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\a.bin"), r.body);
    CloseHandle(pace);
}

// A server that announces more than may come, or sends without end, is refused before anything is
// written: the download fails and nothing is kept. (Each endless reply announces a length that a
// download without the bound would read whole and take for a complete file.)
TEST_F(RefresherDownload, NeverTakesMoreThanItsBound) {
    const ULONGLONG kSmallCap = 65536;
    auto sized = [](size_t n) {
        HttpReply r;
        r.body = Pattern(n);
        return r;
    };
    auto endless = [](long long announced) {
        HttpReply r;
        r.mode = HttpReply::Mode::Endless;
        r.body = Pattern(16384);
        r.announcedLength = announced;
        return r;
    };
    HttpReply wrapped = sized(100);
    wrapped.announcedLength = (1ll << 32) + 100;
    struct Case {
        const char* what;
        ULONGLONG cap;
        HttpReply reply;
        bool ok;
    } cases[] = {
        {"exactly the bound", kSmallCap, sized(kSmallCap), true},
        {"one byte more", kSmallCap, sized(kSmallCap + 1), false},
        {"endless, a megabyte announced", kSmallCap, endless(1ll << 20), false},
        // Wrapped to 32 bits this length would be the body's own.
        {"a length beyond 32 bits", kSmallCap, wrapped, false},
        {"endless, no length", kSmallCap, endless(-1), false},
        {"endless, past the fixed cap", refresher::kMaxFileBytes,
         endless(static_cast<long long>(refresher::kMaxFileBytes) + 1), false},
    };
    EXPECT_EQ(refresher::EngineSettings().maxFileBytes, refresher::kMaxFileBytes);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server_.Set("/files/a.bin", c.reply);
        server_.ClearLog();
        refresher::EngineSettings s = Settings();
        s.maxFileBytes = c.cap;
        refresher::CUpdateEngine engine(s);
        ASSERT_TRUE(engine.InitPaths());
        EXPECT_EQ(engine.DownloadFile(server_.Url("/files/a.bin").c_str()), c.ok ? TRUE : FALSE);
        EXPECT_EQ(Exists(download_ + L"\\a.bin"), c.ok);
        EXPECT_FALSE(Exists(download_ + L"\\a.bin.part"));
        if (c.ok) {
            EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\a.bin"), c.reply.body);
        }
        DeleteFileW((download_ + L"\\a.bin").c_str());
    }
}

// The description is read up to the parser's bound and its signature up to its own; a larger one
// fails the fetch and leaves the earlier copy (unbounded, the endless reply would be taken whole).
TEST_F(RefresherDownload, DescriptionAndSignatureAreBounded) {
    const std::string good = "[UPDATE]\r\nVERSION=2.0\r\n";
    Publish(good);
    ASSERT_TRUE(Engine().GetUpdateInfo());
    HttpReply endless;
    endless.mode = HttpReply::Mode::Endless;
    endless.body = std::string(16384, ';');
    endless.announcedLength = 2 * static_cast<long long>(refresher::kMaxDescriptionBytes);
    HttpReply large;
    large.body = good + std::string(refresher::kMaxDescriptionBytes + 1 - good.size(), ';');
    for (const HttpReply& r : {large, endless}) {
        server_.Set(kDescriptionPath, r);
        server_.ClearLog();
        EXPECT_FALSE(Engine().GetUpdateInfo());
        EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\update.txt"), good);
        EXPECT_FALSE(Exists(download_ + L"\\update.txt.part"));
    }
    // Exactly the largest description the parser takes is fetched whole.
    std::string full = good + std::string(refresher::kMaxDescriptionBytes - good.size(), ';');
    server_.SetBody(kDescriptionPath, full);
    ASSERT_TRUE(Engine().GetUpdateInfo());
    EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\update.txt").size(), full.size());
    // A signature beyond its bound is no signature: the description is still read, not installed.
    Publish("[UPDATE]\r\nVERSION=3.0\r\nCanAutoUpdate=1\r\n");
    server_.SetBody(std::string(kDescriptionPath) + ".sig", std::string(refresher::kMaxSignatureBytes + 1, 'x'));
    ASSERT_TRUE(Engine().GetUpdateInfo());
    EXPECT_FALSE(Exists(download_ + L"\\update.txt.sig"));
    Engine().ReadNewVersion();
    EXPECT_EQ(ts::Narrow(Engine().RemoteVersion()), "3.0");
    EXPECT_FALSE(Engine().CanAutoUpdate());
}

TEST_F(RefresherDownload, AsksWithItsAgentAndBypassesCaches) {
    server_.SetBody("/files/a.bin", "x");
    ASSERT_TRUE(Engine().DownloadFile(server_.Url("/files/a.bin").c_str()));
    std::vector<ts::HttpRequestLog> log = server_.Requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].requestLine, "GET /files/a.bin HTTP/1.1");
    EXPECT_EQ(log[0].userAgent, "RevaRU/1.0");
    EXPECT_EQ(log[0].host, "127.0.0.1:" + std::to_string(server_.Port()));
    EXPECT_NE(log[0].pragma.find("no-cache"), std::string::npos);
}

// Before the window exists the engine has no receiver: its reports go nowhere, not to a thread queue.
TEST_F(RefresherDownload, ReportsNothingWithoutAReceiver) {
    server_.SetBody("/files/a.bin", "x");
    Engine().SetReports(nullptr);
    ASSERT_TRUE(Engine().DownloadFile(server_.Url("/files/a.bin").c_str()));
    EXPECT_TRUE(Engine().GetUpdateInfo() == FALSE);
    // Nothing reached this thread's queue either.
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, refresher::WM_UPDATE_PROGRESS, refresher::WM_UPDATE_FINISHED, PM_REMOVE));
    EXPECT_TRUE(recorder_.Flush().empty());
}

TEST_F(RefresherDownload, FetchesTheDescriptionAndItsSignature) {
    Publish("[UPDATE]\r\nVERSION=2.0\r\n");
    ASSERT_TRUE(Engine().GetUpdateInfo());
    EXPECT_EQ(recorder_.Statuses(), (std::vector<std::wstring>{L"获取更新信息", L"获取更新信息成功"}));
    EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\update.txt"), "[UPDATE]\r\nVERSION=2.0\r\n");
    EXPECT_TRUE(Exists(download_ + L"\\update.txt.sig"));
    EXPECT_EQ(server_.CountFor(kDescriptionPath), 1);
    EXPECT_EQ(server_.CountFor(std::string(kDescriptionPath) + ".sig"), 1);

    // A failed or cut fetch leaves the earlier copy, which is still read.
    HttpReply cut;
    cut.mode = HttpReply::Mode::Cut;
    cut.body = "[UPDATE]\r\nVERSION=3.0\r\n";
    cut.cutAfter = 12;
    server_.Set(kDescriptionPath, cut);
    EXPECT_FALSE(Engine().GetUpdateInfo());
    EXPECT_EQ(ts::Narrow(recorder_.Statuses().back()), "获取更新信息失败");
    WriteInstalledVersion(L"1.0");
    EXPECT_TRUE(Engine().CheckNewVersion());
    EXPECT_EQ(ts::Narrow(Engine().RemoteVersion()), "2.0");
    EXPECT_FALSE(Exists(download_ + L"\\update.txt.part"));
}

TEST_F(RefresherDownload, DefaultServerThroughTheRegistryProxy) {
    // The built-in host needs no name lookup here: the proxy receives the request for it.
    ts::SetUserProxy(L"127.0.0.1:" + std::to_wstring(server_.Port()));
    Publish("[UPDATE]\r\nVERSION=2.0\r\n", false);
    refresher::EngineSettings s = Settings();
    s.baseUrl = refresher::kDefaultUpdateHost;
    refresher::CUpdateEngine engine(s);
    ASSERT_TRUE(engine.InitPaths());
    EXPECT_EQ(ts::Narrow(engine.Url()), ts::Narrow(refresher::kDefaultUpdateHost) + kDescriptionPath);
    bool fetched = engine.GetUpdateInfo() != FALSE;
    ts::SetUserProxy();
    ASSERT_TRUE(fetched);
    std::vector<ts::HttpRequestLog> log = server_.Requests();
    ASSERT_GE(log.size(), 1u);
    // Proxy form, with or without the default port.
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].target.find("http://update.example.com"), 0u) << log[0].target;
    EXPECT_EQ(log[0].path, kDescriptionPath);
    EXPECT_EQ(log[0].host.substr(0, 18), "update.example.com");
    EXPECT_EQ(log[0].userAgent, "RevaRU/1.0");
}

}  // namespace
}  // namespace rt
