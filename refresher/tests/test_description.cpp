// Versions, change log and file count, read from a description in the download folder.
#include "enginefixture.h"

namespace rt {
namespace {

using RefresherDescription = EngineTest;

TEST_F(RefresherDescription, ComparesVersionsCodeUnitByCodeUnit) {
    struct Case {
        const char* remote;
        const wchar_t* local;  // nullptr: no Config.ini
        bool newer;
        const wchar_t* comparedLocal;
    } cases[] = {
        {"1.10", L"1.9", false, L"1.9"},
        {"2.1", L"2.0", true, L"2.0"},
        {"1.00", L"1.0", true, L"1.0"},
        {"3.5", L"3.5", false, L"3.5"},
        {"1.1", nullptr, true, L"1.0"},
        {"1.0", nullptr, false, L"1.0"},
        // Ten characters: only nine are compared, so these two read as equal.
        {"1.23456789", L"1.23456780", false, L"1.2345678"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remote);
        DeleteFileW((program_ + L"\\Config.ini").c_str());
        if (c.local) WriteInstalledVersion(c.local);
        PlaceLocally("[UPDATE]\r\nVERSION=" + std::string(c.remote) + "\r\n", false);
        refresher::CUpdateEngine engine(Settings());
        ASSERT_TRUE(engine.InitPaths());
        engine.SetReports(&recorder_);
        size_t before = recorder_.Statuses().size();
        EXPECT_EQ(engine.CheckNewVersion(), c.newer ? TRUE : FALSE);
        EXPECT_EQ(ts::Narrow(engine.LocalVersion()), ts::Narrow(c.comparedLocal));
        std::vector<std::wstring> s = recorder_.Statuses();
        ASSERT_EQ(s.size(), before + 2);
        EXPECT_EQ(ts::Narrow(s[before]), "获取新版本号");
        std::string remote(c.remote);
        if (remote.size() > 9) remote.resize(9);
        EXPECT_EQ(ts::Narrow(s[before + 1]), c.newer ? "检测到有新版本" + remote : std::string("已经是最新版本"));
    }
}

TEST_F(RefresherDescription, NoDescriptionOffersVersionOnePointZero) {
    WriteInstalledVersion(L"0.9");
    EXPECT_TRUE(Engine().CheckNewVersion());
    EXPECT_EQ(ts::Narrow(Engine().RemoteVersion()), "1.0");
    EXPECT_FALSE(Engine().CanAutoUpdate());
    EXPECT_EQ(Engine().GetUpdateFileCount(), 0);
}

TEST_F(RefresherDescription, BuildsTheChangeLog) {
    const std::wstring dashes(58, L'-');
    struct Case {
        const char* what;
        std::wstring body;
        std::wstring text;
        int lines;
    } cases[] = {
        {"title and two lines", L"UpdateTitle=新版本 2.1\r\nUPDATETXT0=修复了锁屏\r\nUPDATETXT1=更快\r\n",
         dashes + L"\r\n新版本 2.1\r\n" + dashes + L"\r\n\r\n修复了锁屏\r\n\x2192\r\n更快\r\n\x2192\r\n", 2},
        {"the first empty line ends the list", L"UpdateTitle=t\r\nUPDATETXT0=a\r\nUPDATETXT2=c\r\n",
         dashes + L"\r\nt\r\n" + dashes + L"\r\n\r\na\r\n\x2192\r\n", 1},
        {"no title", L"", dashes + L"\r\n\r\n" + dashes + L"\r\n\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlaceLocally(Gbk(L"[UPDATE]\r\nVERSION=9.0\r\n" + c.body), false);
        int length = Engine().LoadUpdateText();
        EXPECT_EQ(ts::Narrow(Engine().UpdateText()), ts::Narrow(c.text));
        EXPECT_EQ(length, static_cast<int>(c.text.size()));
        EXPECT_EQ(Engine().LineCount(), c.lines);
    }
}

TEST_F(RefresherDescription, LongChangeLogIsCutAtItsBuffer) {
    std::string body = "[UPDATE]\r\nVERSION=9.0\r\nUpdateTitle=t\r\n";
    for (int i = 0; i < 3; ++i) body += "UPDATETXT" + std::to_string(i) + "=" + std::string(1000, 'a' + i) + "\r\n";
    PlaceLocally(body, false);
    int length = Engine().LoadUpdateText();
    EXPECT_EQ(length, 1023);
    EXPECT_EQ(wcslen(Engine().UpdateText()), 1023u);
    // The first line is shown cut; the ones after it not at all.
    EXPECT_EQ(Engine().LineCount(), 1);
    std::wstring text = Engine().UpdateText();
    EXPECT_EQ(text.find(L'b'), std::wstring::npos);
    EXPECT_EQ(text.back(), L'a');
}

TEST_F(RefresherDescription, FileCountOutsideItsRangeRefusesTheDescription) {
    struct Case {
        const char* value;
        int read;
        bool refused;
    } cases[] = {
        {"2", 2, false}, {"abc", 0, false}, {"7x", 7, false}, {"99", 99, false},
        {"-1", -1, true}, {"100", 100, true}, {"4294967295", 2147483647, true},
    };
    WriteInstalledVersion(L"1.0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::string d = "[UPDATE]\r\nVERSION=2.0\r\nCanAutoUpdate=1\r\nUPDATEFILECOUNT=" + std::string(c.value) + "\r\n";
        PlaceLocally(d, true);
        EXPECT_EQ(Engine().GetUpdateFileCount(), c.read);
        EXPECT_EQ(Engine().CheckNewVersion(), c.refused ? FALSE : TRUE);
        if (c.refused) {
            EXPECT_EQ(ts::Narrow(recorder_.Statuses().back()), "获取更新信息失败");
            EXPECT_FALSE(Engine().CanAutoUpdate());
            EXPECT_FALSE(Engine().DownloadFiles());
        }
        // Served from the server, the fetch itself is reported as failed.
        Publish(d);
        EXPECT_EQ(Engine().GetUpdateInfo(), c.refused ? FALSE : TRUE);
        EXPECT_EQ(ts::Narrow(recorder_.Statuses().back()), c.refused ? "获取更新信息失败" : "获取更新信息成功");
    }
}

TEST_F(RefresherDescription, CanAutoUpdateNeedsTheExactWordAndASignature) {
    struct Case {
        const char* value;
        bool sign;
        bool allowed;
    } cases[] = {
        {"1", true, true}, {"true", true, true}, {"TRUE", true, false}, {"0", true, false},
        {"yes", true, false}, {"1", false, false}, {"true", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value) + (c.sign ? " signed" : " unsigned"));
        PlaceLocally("[UPDATE]\r\nVERSION=2.0\r\nCanAutoUpdate=" + std::string(c.value) + "\r\n", c.sign);
        EXPECT_EQ(Engine().CanAutoUpdate(), c.allowed ? TRUE : FALSE);
    }
}

TEST_F(RefresherDescription, FileWithoutDigestOrWithBadNameRefusesOnlineUpdate) {
    struct Case {
        const char* what;
        std::string lines;
    } cases[] = {
        {"no digest", "FILE0=http://h/a.dll\r\n"},
        {"digest too short", "FILE0=http://h/a.dll\r\nFILE0SHA256=abcd\r\n"},
        {"update.txt", "FILE0=http://h/update.txt\r\nFILE0SHA256=" + std::string(64, '0') + "\r\n"},
        {"UPDATE.TXT.SIG", "FILE0=http://h/UPDATE.TXT.SIG\r\nFILE0SHA256=" + std::string(64, '0') + "\r\n"},
        {"config.ini", "FILE0=http://h/config.ini\r\nFILE0SHA256=" + std::string(64, '0') + "\r\n"},
        {"query in name", "FILE0=http://h/a.dll?x=1\r\nFILE0SHA256=" + std::string(64, '0') + "\r\n"},
        {"device name", "FILE0=http://h/nul.dll\r\nFILE0SHA256=" + std::string(64, '0') + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlaceLocally("[UPDATE]\r\nVERSION=2.0\r\nCanAutoUpdate=1\r\nUPDATEFILECOUNT=0\r\n" + c.lines, true);
        EXPECT_FALSE(Engine().CanAutoUpdate());
    }
    PlaceLocally("[UPDATE]\r\nVERSION=2.0\r\nCanAutoUpdate=1\r\nUPDATEFILECOUNT=0\r\nFILE0=http://h/a.dll\r\n"
                 "FILE0SHA256=" + std::string(64, 'A') + "\r\n", true);
    EXPECT_TRUE(Engine().CanAutoUpdate());
}

TEST(RefresherFileNames, SafeNamesOnly) {
    struct Case {
        const wchar_t* name;
        bool safe;
    } cases[] = {
        {L"Sentry.exe", true}, {L"Corelib.dll", true}, {L"说明.chm", true}, {L"a", true},
        {L"", false}, {L".", false}, {L"..", false}, {L"a:b", false}, {L"a*", false}, {L"a\"b", false},
        {L"a<b", false}, {L"a>b", false}, {L"a|b", false}, {L"a\\b", false}, {L"a/b", false},
        {L"a\tb", false}, {L"a.dll.", false}, {L"a.dll ", false}, {L"CON", false}, {L"con.txt", false},
        {L"LPT1.dll", false}, {L"com9", false}, {L"COM0x", true}, {L"console", true}, {L"CONOUT$", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.name));
        EXPECT_EQ(refresher::IsSafeFileName(c.name), c.safe);
    }
}

TEST(RefresherProfileText, ReadsTheEncodingsAProfileFileMayHave) {
    const std::wstring want = L"[UPDATE]\nUpdateTitle=新版本\n";
    std::string utf16 = "\xFF\xFE";
    for (wchar_t c : want) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    std::string utf8 = "\xEF\xBB\xBF" + ts::Narrow(want);
    for (const std::string& bytes : {Gbk(want), utf16, utf8}) {
        refresher::Description d;
        d.LoadText(refresher::DecodeProfileText(bytes));
        EXPECT_EQ(ts::Narrow(d.Get(L"updatetitle", L"", 100)), "新版本");
    }
    refresher::Description d;
    d.LoadText(L"[other]\r\nVERSION=9\r\n[UPDATE]\r\n ; VERSION=8\r\n  version = \"2.5\" \r\nVERSION=3\r\n[update]\r\nX=1\r\n");
    EXPECT_EQ(ts::Narrow(d.Get(L"VERSION", L"1.0", 9)), "2.5");
    EXPECT_EQ(ts::Narrow(d.Get(L"X", L"none", 9)), "none");
}

TEST(RefresherProfileText, AFullSizeDescriptionKeepsEveryKeysFirstValue) {
    // As many distinct keys as the largest accepted text holds, then each of them again in another
    // case: every look-up finds the first value, whatever the position of the key.
    std::wstring text = L"[UPDATE]\r\n";
    int keys = 0;
    while (text.size() * sizeof(wchar_t) < refresher::kMaxDescriptionBytes / 2) {
        text += L"Key" + std::to_wstring(keys) + L"=v" + std::to_wstring(keys) + L"\r\n";
        ++keys;
    }
    for (int i = 0; i < keys; i += 97) text += L"KEY" + std::to_wstring(i) + L"=again\r\n";
    refresher::Description d;
    d.LoadText(text);
    for (int i : {0, 1, 96, 97, keys / 2, keys - 1}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d.Get((L"kEy" + std::to_wstring(i)).c_str(), L"none", 20), L"v" + std::to_wstring(i));
    }
    EXPECT_EQ(d.Get((L"Key" + std::to_wstring(keys)).c_str(), L"none", 20), L"none");
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

// The key and signature of scripts/update-signing.sh (openssl), made by the build.
TEST(RefresherSigningScript, ItsSignatureVerifies) {
    std::wstring dir = ts::InExeDir(L"refresher_signing");
    std::string blob = ts::ReadFileBytes(dir + L"\\update-signing.blob");
    std::string text = ts::ReadFileBytes(dir + L"\\update.txt");
    std::string sig = ts::ReadFileBytes(dir + L"\\update.txt.sig");
    if (blob.empty()) GTEST_SKIP() << "the build had no openssl";
    const BYTE* key = reinterpret_cast<const BYTE*>(blob.data());
    DWORD size = static_cast<DWORD>(blob.size());
    EXPECT_TRUE(refresher::VerifySignature(key, size, text, sig));
    std::string edited = text + " ";
    EXPECT_FALSE(refresher::VerifySignature(key, size, edited, sig));
    std::string reversed(sig.rbegin(), sig.rend());  // openssl's own byte order
    EXPECT_FALSE(refresher::VerifySignature(key, size, text, reversed));
}

}  // namespace
}  // namespace rt
