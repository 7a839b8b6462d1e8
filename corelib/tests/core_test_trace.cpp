// The lines that the trace and log exports build (the trace helpers output nothing, so their lines
// are only visible here), and the PowerOn.Log rewrite against a folder of the test's own.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdarg.h>

#include <string>
#include <vector>

#include "testsupport.h"
#include "trace_internal.h"

using corelib::TraceKind;

namespace {

std::string Trace(TraceKind kind, const char* format, ...) {
    char line[corelib::kTraceChars];
    memset(line, 'Z', sizeof(line));
    va_list args;
    va_start(args, format);
    const size_t n = corelib::FormatTraceLineV(kind, line, format, args);
    va_end(args);
    EXPECT_EQ(n, strlen(line));
    return std::string(line, n);
}

std::string Debug(const char* format, ...) {
    char line[corelib::kDebugChars];
    memset(line, 'Z', sizeof(line));
    va_list args;
    va_start(args, format);
    const size_t n = corelib::FormatDebugLineV(line, format, args);
    va_end(args);
    EXPECT_EQ(n, strlen(line));
    return std::string(line, n);
}

std::wstring Wide(const wchar_t* format, ...) {
    wchar_t line[corelib::kWideChars];
    wmemset(line, L'Z', corelib::kWideChars);
    va_list args;
    va_start(args, format);
    const size_t n = corelib::FormatWideLineV(line, format, args);
    va_end(args);
    EXPECT_EQ(n, wcslen(line));
    return std::wstring(line, n);
}

std::wstring Event(const wchar_t* format, ...) {
    wchar_t text[corelib::kEventChars];
    wmemset(text, L'Z', corelib::kEventChars);
    va_list args;
    va_start(args, format);
    const size_t n = corelib::FormatEventTextV(text, format, args);
    va_end(args);
    EXPECT_EQ(n, wcslen(text));
    return std::wstring(text, n);
}

std::string PowerOn(const SYSTEMTIME& t, const char* user, const char* message) {
    char line[corelib::kPowerOnChars];
    memset(line, 'Z', sizeof(line));
    const size_t n = corelib::FormatPowerOnLine(line, t, user, message);
    EXPECT_EQ(n, strlen(line));
    return std::string(line, n);
}

const char* Prefix(TraceKind k) { return k == TraceKind::Enter ? "-->" : k == TraceKind::Exit ? "<--" : ""; }
const char* LineEnd(TraceKind k) { return k == TraceKind::Exit ? "\n\n" : "\n"; }

// True when the bytes are whole characters of code page cp from start to end.
bool WholeCharacters(const std::string& s, UINT cp) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (IsDBCSLeadByteEx(cp, static_cast<BYTE>(s[i])) && ++i >= s.size()) return false;
    }
    return true;
}

const char kZhong[] = "\xD6\xD0";  // 中 in GBK

std::string Repeat(const std::string& unit, size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += unit;
    return s;
}

class CodePage936 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(GetACP(), 936u) << "the tests run with the Chinese ANSI code page"; }
};

}  // namespace

using TraceLine = CodePage936;

TEST_F(TraceLine, PrefixesAndLineEndsByKind) {
    struct Case {
        TraceKind kind;
        const char* text;
        const char* expected;
    };
    static const Case kCases[] = {
        {TraceKind::Enter, "WlxNegotiate", "-->WlxNegotiate\n"},
        {TraceKind::Exit, "Provider::SetUsageScenario", "<--Provider::SetUsageScenario\n\n"},
        {TraceKind::Plain, "hr=0x80004005", "hr=0x80004005\n"},
        {TraceKind::Plain, "\xC8\xCF\xD6\xA4KEY", "\xC8\xCF\xD6\xA4KEY\n"},  // GBK passes through untouched
        {TraceKind::Enter, "", "-->\n"},
    };
    for (const Case& c : kCases) EXPECT_EQ(Trace(c.kind, "%s", c.text), c.expected) << c.text;

    EXPECT_EQ(Trace(TraceKind::Plain, "%s=%d (0x%08lX)", "count", 7, 0xBEEFUL), "count=7 (0x0000BEEF)\n");
    EXPECT_EQ(Trace(TraceKind::Exit, nullptr), "<--\n\n");
}

TEST_F(TraceLine, OverlongTextIsCutKeepingPrefixAndLineEnd) {
    for (TraceKind kind : {TraceKind::Enter, TraceKind::Exit, TraceKind::Plain}) {
        const std::string prefix = Prefix(kind), end = LineEnd(kind);
        const size_t room = corelib::kTraceChars - 1 - prefix.size() - end.size();
        for (size_t length : {room - 1, room, room + 1, size_t{1023}, size_t{1024}, size_t{5000}}) {
            const std::string text(length, 'a');
            const std::string line = Trace(kind, "%s", text.c_str());
            const std::string expected = prefix + std::string(length < room ? length : room, 'a') + end;
            EXPECT_EQ(line, expected) << "kind " << static_cast<int>(kind) << ", length " << length;
        }
    }
}

TEST_F(TraceLine, CutNeverSplitsAGbkCharacter) {
    // With and without a leading ASCII byte the cut falls once on each side of a character.
    for (TraceKind kind : {TraceKind::Enter, TraceKind::Exit, TraceKind::Plain}) {
        for (const char* lead : {"", "a"}) {
            const std::string text = lead + Repeat(kZhong, 1000);
            const std::string line = Trace(kind, "%s", text.c_str());
            const std::string prefix = Prefix(kind), end = LineEnd(kind);
            ASSERT_GE(line.size(), prefix.size() + end.size());
            EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0);
            EXPECT_EQ(line.compare(line.size() - end.size(), end.size(), end), 0);
            const std::string body = line.substr(prefix.size(), line.size() - prefix.size() - end.size());
            EXPECT_TRUE(WholeCharacters(body, 936)) << "kind " << static_cast<int>(kind) << " lead '" << lead << "'";
            EXPECT_GE(line.size(), corelib::kTraceChars - 2);  // at most one byte given up
            EXPECT_EQ(body, text.substr(0, body.size()));
        }
    }
}

using TraceDebugLine = CodePage936;

TEST_F(TraceDebugLine, TrailingWhiteSpaceBecomesCrLf) {
    struct Case {
        const char* text;
        const char* expected;
    };
    static const Case kCases[] = {
        {"text \t\n", "text\r\n"},
        {"text", "text\r\n"},
        {"a b\tc \v\f\r\n", "a b\tc\r\n"},
        {"  \t\n", "\r\n"},
        {"", "\r\n"},
        {"\xD6\xD0\xCE\xC4 ", "\xD6\xD0\xCE\xC4\r\n"},
    };
    for (const Case& c : kCases) EXPECT_EQ(Debug("%s", c.text), c.expected) << c.text;
    EXPECT_EQ(Debug("%d items\n", 3), "3 items\r\n");
}

TEST_F(TraceDebugLine, OverlongTextIsCutSoTheLineEndFits) {
    const size_t room = corelib::kDebugChars - 3;  // CR LF and NUL must fit
    struct Case {
        std::string text;
        std::string expectedBody;
    };
    const Case kCases[] = {
        {std::string(room, 'x'), std::string(room, 'x')},
        {std::string(room + 1, 'x'), std::string(room, 'x')},
        {std::string(10000, 'x'), std::string(room, 'x')},
        {std::string(room + 1, 'x') + "   \n", std::string(room, 'x')},
        // The cut lands on white space inside the text: it is stripped like trailing white space.
        {std::string(room - 1, 'x') + " yyyy", std::string(room - 1, 'x')},
        {"a" + Repeat(kZhong, 3000), "a" + Repeat(kZhong, (room - 1) / 2)},
        {Repeat(kZhong, 3000), Repeat(kZhong, room / 2)},
    };
    for (const Case& c : kCases) {
        const std::string line = Debug("%s", c.text.c_str());
        EXPECT_EQ(line, c.expectedBody + "\r\n") << "text length " << c.text.size();
    }
}

TEST(TraceWideLine, FormatsTextAndLineFeed) {
    EXPECT_EQ(Wide(L"%ls", L"abc"), L"abc\n");
    EXPECT_EQ(Wide(L"\u4e2d\u6587 %d %ls", 5, L"\u7b2c\u4e8c"), L"\u4e2d\u6587 5 \u7b2c\u4e8c\n");
    EXPECT_EQ(Wide(nullptr), L"\n");
}

TEST(TraceWideLine, OverlongTextIsCutKeepingTheLineFeed) {
    const size_t room = corelib::kWideChars - 2;
    for (size_t length : {room, room + 1, size_t{1023}, size_t{1024}, size_t{5000}}) {
        const std::wstring text(length, L'w');
        EXPECT_EQ(Wide(L"%ls", text.c_str()), std::wstring(length < room ? length : room, L'w') + L"\n")
            << "length " << length;
    }
    // Surrogate pairs (U+1F600) are kept whole whichever side the cut falls on.
    for (const wchar_t* lead : {L"", L"a"}) {
        std::wstring text = lead;
        for (int i = 0; i < 600; ++i) text += L"\xD83D\xDE00";
        const std::wstring line = Wide(L"%ls", text.c_str());
        ASSERT_GE(line.size(), 2u);
        EXPECT_EQ(line.back(), L'\n');
        const wchar_t last = line[line.size() - 2];
        EXPECT_TRUE(last == 0xDE00 || last == L'a') << std::hex << static_cast<unsigned>(last);
        EXPECT_GE(line.size(), room);  // at most one unit given up
        EXPECT_EQ(line.substr(0, line.size() - 1), text.substr(0, line.size() - 1));
    }
}

TEST(TraceEventText, OverlongTextIsCutAt255Characters) {
    for (size_t length : {size_t{254}, size_t{255}, size_t{256}, size_t{5000}}) {
        const std::wstring text(length, L'e');
        EXPECT_EQ(Event(L"%ls", text.c_str()), std::wstring(length < 255 ? length : 255, L'e')) << length;
    }
    std::wstring pairs = L"a";
    for (int i = 0; i < 200; ++i) pairs += L"\xD83D\xDE00";
    EXPECT_EQ(Event(L"%ls", pairs.c_str()), pairs.substr(0, 255));  // 'a' + 127 whole pairs
    pairs.erase(0, 1);
    EXPECT_EQ(Event(L"%ls", pairs.c_str()), pairs.substr(0, 254));
    EXPECT_EQ(Event(L"%ls=%d", L"k", 1), L"k=1");
}

using TracePowerOnLine = CodePage936;

TEST_F(TracePowerOnLine, GbkDateUserAndMessage) {
    SYSTEMTIME t = {};
    t.wYear = 2012;
    t.wMonth = 3;
    t.wDay = 4;
    t.wHour = 8;
    t.wMinute = 9;
    t.wSecond = 10;
    const std::string date = "2012\xC4\xEA" "03\xD4\xC2" "04\xC8\xD5 08:09:10";  // 2012年03月04日 08:09:10
    struct Case {
        const char* user;
        const char* message;
        std::string expected;
    };
    const Case kCases[] = {
        {"someone", "message text", date + "/someone/message text/\n"},
        {"\xD5\xC5\xC8\xFD", "\xBF\xAA\xBB\xFA", date + "/\xD5\xC5\xC8\xFD/\xBF\xAA\xBB\xFA/\n"},  // 张三 开机
        {"", "", date + "///\n"},
        {nullptr, nullptr, date + "///\n"},
    };
    for (const Case& c : kCases) EXPECT_EQ(PowerOn(t, c.user, c.message), c.expected) << c.expected;

    SYSTEMTIME late = t;
    late.wYear = 1999;
    late.wMonth = 12;
    late.wDay = 31;
    late.wHour = 23;
    late.wMinute = 59;
    late.wSecond = 59;
    EXPECT_EQ(PowerOn(late, "u", "m"), "1999\xC4\xEA" "12\xD4\xC2" "31\xC8\xD5 23:59:59/u/m/\n");
}

TEST_F(TracePowerOnLine, OverlongLineIsCutAtACharacterBoundary) {
    SYSTEMTIME t = {};
    GetLocalTime(&t);
    const std::string ascii(3000, 'm');
    const std::string chinese = Repeat(kZhong, 2000);
    const std::string oddChinese = "m" + chinese;
    for (const std::string* message : {&ascii, &chinese, &oddChinese}) {
        const std::string line = PowerOn(t, "someone", message->c_str());
        EXPECT_GE(line.size(), corelib::kPowerOnChars - 2);
        EXPECT_LE(line.size(), corelib::kPowerOnChars - 1);
        EXPECT_EQ(line.back(), '\n');
        EXPECT_TRUE(WholeCharacters(line, 936));
        const size_t at = line.find("/someone/");
        ASSERT_NE(at, std::string::npos);
        const std::string kept = line.substr(at + 9, line.size() - at - 10);
        EXPECT_EQ(kept, message->substr(0, kept.size()));
    }
    // An overlong user name is cut the same way and never overruns.
    const std::string user(5000, 'u');
    const std::string line = PowerOn(t, user.c_str(), "m");
    EXPECT_EQ(line.size(), corelib::kPowerOnChars - 1);
    EXPECT_EQ(line.back(), '\n');
}

class TracePowerOnFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = ts::MakeTempDir(L"poweron");
        ASSERT_FALSE(dir_.empty());
        path_ = dir_ + L"\\PowerOn.Log";
    }
    void TearDown() override { ts::RemoveTree(dir_); }

    bool Prepend(const std::string& line) { return corelib::PrependPowerOnLine(path_.c_str(), line.data(), line.size()); }

    std::vector<std::wstring> Files() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir_ + L"\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..")) names.push_back(fd.cFileName);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
        return names;
    }

    std::wstring dir_, path_;
};

TEST_F(TracePowerOnFile, NewestLineFirstWithCrLf) {
    ASSERT_TRUE(Prepend("first/\n"));
    ASSERT_TRUE(Prepend("second/\n"));
    ASSERT_TRUE(Prepend("\xBF\xAA\xBB\xFA/\n"));
    EXPECT_EQ(ts::ReadFileBytes(path_), "\xBF\xAA\xBB\xFA/\r\nsecond/\r\nfirst/\r\n");
    EXPECT_EQ(Files(), std::vector<std::wstring>{L"PowerOn.Log"});  // no temporary file left behind
}

TEST_F(TracePowerOnFile, EarlierContentKeepsItsLinesAsText) {
    // What a text-mode read and rewrite leaves: CR LF stays, a lone LF becomes CR LF.
    struct Case {
        std::string before;
        std::string after;
    };
    const Case kCases[] = {
        {"old1\r\nold2\r\n", "new\r\nold1\r\nold2\r\n"},
        {"old1\nold2\n", "new\r\nold1\r\nold2\r\n"},
        {"old1\r\nold2", "new\r\nold1\r\nold2"},
        {"", "new\r\n"},
        {std::string("a\0b\x1A" "c\n", 6), std::string("new\r\na\0b\x1A" "c\r\n", 12)},  // nothing is lost
    };
    for (const Case& c : kCases) {
        ASSERT_TRUE(ts::WriteFileBytes(path_, c.before));
        ASSERT_TRUE(Prepend("new\n"));
        EXPECT_EQ(ts::ReadFileBytes(path_), c.after) << c.before;
    }
}

TEST_F(TracePowerOnFile, FailureLeavesHistoryAndNoTemporaryFile) {
    const std::string history = "line2/\r\nline1/\r\n";
    struct Blocker {
        const char* what;
        DWORD access, share;  // a handle the test holds on the log while it is rewritten
        bool readOnly;
    };
    static const Blocker kBlockers[] = {
        {"held open without sharing", GENERIC_READ | GENERIC_WRITE, 0, false},
        {"held open for writing", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        // The old lines are read and the new file is written, but it cannot take the log's place.
        {"held open for reading, not for deleting", GENERIC_READ, FILE_SHARE_READ, false},
        {"read-only file", 0, ~0u, true},
    };
    for (const Blocker& b : kBlockers) {
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(ts::WriteFileBytes(path_, history));
        HANDLE held = INVALID_HANDLE_VALUE;
        if (b.share != ~0u) {
            held = CreateFileW(path_.c_str(), b.access, b.share, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE) << b.what;
        }
        if (b.readOnly) {
            ASSERT_TRUE(SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY));
        }

        EXPECT_FALSE(Prepend("new/\n")) << b.what;

        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(ts::ReadFileBytes(path_), history) << b.what;
        EXPECT_EQ(Files(), std::vector<std::wstring>{L"PowerOn.Log"}) << b.what;
    }
    SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A folder that does not exist: nothing is created anywhere.
    const std::wstring missing = dir_ + L"\\gone\\PowerOn.Log";
    EXPECT_FALSE(corelib::PrependPowerOnLine(missing.c_str(), "x\n", 2));
    EXPECT_EQ(GetFileAttributesW((dir_ + L"\\gone").c_str()), INVALID_FILE_ATTRIBUTES);
}
