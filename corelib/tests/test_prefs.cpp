// Config.ini helpers against real files and Wine's profile API (ANSI code page 936 in the test bed).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "prefs.h"
#include "testsupport.h"

namespace {

class Prefs : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        dir_ = ts::MakeTempDir(L"prefs");
        ASSERT_FALSE(dir_.empty());
        ini_ = dir_ + L"\\Config.ini";
    }
    void TearDown() override { ts::RemoveTree(dir_); }

    std::wstring ReadKey(const wchar_t* section, const wchar_t* key, const wchar_t* def = L"", DWORD cch = 260) {
        std::wstring out(cch, L'?');
        prefs::Read(ini_.c_str(), section, key, def, &out[0], cch);
        return out.c_str();
    }
    bool FileExists() const { return GetFileAttributesW(ini_.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::string Head(size_t n) const { return ts::ReadFileBytes(ini_).substr(0, n); }

    std::wstring dir_, ini_;
};

const std::string kBom = "\xFF\xFE";
// 计算机已锁定，请插入认证KEY。 and Hangul, which code page 936 cannot hold.
const std::wstring kChineseMessage = L"\u8ba1\u7b97\u673a\u5df2\u9501\u5b9a\uff0c\u8bf7\u63d2\u5165\u8ba4\u8bc1KEY\u3002";
const std::wstring kOutsideAnsi = L"\ud55c\uae00 caf\u00e9 \u8ba1\u7b97\u673a";

}  // namespace

TEST_F(Prefs, MissingFileIsCreatedAsUtf16AndChineseReadsBackExactly) {
    ASSERT_FALSE(FileExists());
    ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"LockMes", kChineseMessage.c_str()));
    EXPECT_EQ(Head(2), kBom);
    EXPECT_EQ(ReadKey(L"Preferences", L"LockMes"), kChineseMessage);

    // Later writes go into the same file, which stays UTF-16, and keep the other keys.
    const std::wstring pic = L"C:\\\u56fe\u7247\\\u6211\u7684.jpg";
    ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"UserPic", pic.c_str()));
    ASSERT_TRUE(prefs::Write(ini_.c_str(), L"UPDATE", L"VERSION", L"1.2"));
    ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"LockMes", kOutsideAnsi.c_str()));
    EXPECT_EQ(Head(2), kBom);
    EXPECT_EQ(ReadKey(L"Preferences", L"LockMes"), kOutsideAnsi);
    EXPECT_EQ(ReadKey(L"Preferences", L"UserPic"), pic);
    EXPECT_EQ(ReadKey(L"UPDATE", L"VERSION"), L"1.2");
}

TEST_F(Prefs, EmptyFileGetsTheByteOrderMarkBeforeTheFirstWrite) {
    ASSERT_TRUE(ts::WriteFileBytes(ini_, ""));
    ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"LockMes", kOutsideAnsi.c_str()));
    EXPECT_EQ(Head(2), kBom);
    EXPECT_EQ(ReadKey(L"Preferences", L"LockMes"), kOutsideAnsi);
}

TEST_F(Prefs, ExistingAnsiFileKeepsItsEncodingAndItsKeys) {
    // 你好 in code page 936, as a file that the profile API made on a Chinese system.
    ASSERT_TRUE(ts::WriteFileBytes(ini_, "[UPDATE]\r\nVERSION=2.5\r\n[Preferences]\r\nUserPic=\xC4\xE3\xBA\xC3.bmp\r\n"));
    EXPECT_EQ(ReadKey(L"Preferences", L"UserPic"), L"\u4f60\u597d.bmp");
    ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"LockMes", L"\u4f60\u597d"));
    EXPECT_NE(Head(2), kBom);
    EXPECT_EQ(ReadKey(L"UPDATE", L"VERSION"), L"2.5");
    EXPECT_EQ(ReadKey(L"Preferences", L"UserPic"), L"\u4f60\u597d.bmp");
    EXPECT_EQ(ReadKey(L"Preferences", L"LockMes"), L"\u4f60\u597d");
}

TEST_F(Prefs, AbsentFileOrKeyGivesTheDefault) {
    struct Case {
        const char* what;
        bool fileExists;
        const wchar_t* def;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {"no file, empty default", false, L"", L""},
        {"no file, updater default", false, L"1.0", L"1.0"},
        {"no file, NULL default", false, nullptr, L""},
        {"key missing", true, L"1.0", L"1.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(ini_.c_str());
        if (c.fileExists) { ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"LockMes", L"x")); }
        EXPECT_EQ(ReadKey(L"UPDATE", L"VERSION", c.def), c.expected);
        EXPECT_EQ(FileExists(), c.fileExists) << "reading never creates the file";
    }
    // No path at all (the location could not be found) also gives the default.
    wchar_t out[10] = L"junk";
    prefs::Read(L"", L"UPDATE", L"VERSION", L"1.0", out, 10);
    EXPECT_STREQ(out, L"1.0");
    prefs::Read(nullptr, L"UPDATE", L"VERSION", nullptr, out, 10);
    EXPECT_STREQ(out, L"");
}

TEST_F(Prefs, ReadersCutLongValuesToTheirBuffer) {
    std::wstring longMessage;
    while (longMessage.size() < 300) longMessage += kChineseMessage;
    longMessage.resize(300);
    ASSERT_TRUE(prefs::Write(ini_.c_str(), L"Preferences", L"LockMes", longMessage.c_str()));
    ASSERT_TRUE(prefs::Write(ini_.c_str(), L"UPDATE", L"VERSION", L"1.0.0.123456"));
    struct Case {
        const wchar_t* section;
        const wchar_t* key;
        DWORD cch;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"Preferences", L"LockMes", 260, longMessage.substr(0, 259)},
        {L"UPDATE", L"VERSION", 10, L"1.0.0.123"},  // the updater's buffer
        {L"UPDATE", L"VERSION", 50, L"1.0.0.123456"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cch);
        EXPECT_EQ(ReadKey(c.section, c.key, L"", c.cch), c.expected);
    }
}

TEST_F(Prefs, WriteFailuresAreReportedAndCreateNothing) {
    const std::wstring inMissingFolder = dir_ + L"\\missing\\Config.ini";
    EXPECT_FALSE(prefs::Write(inMissingFolder.c_str(), L"Preferences", L"LockMes", L"x"));
    EXPECT_EQ(GetFileAttributesW((dir_ + L"\\missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(prefs::Write(L"", L"Preferences", L"LockMes", L"x"));
    EXPECT_FALSE(prefs::Write(nullptr, L"Preferences", L"LockMes", L"x"));
}
