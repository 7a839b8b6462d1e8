// Trace and log exports through the real Corelib.dll: what reaches c:\YopBug.log, the debugger
// output, the event log and PowerOn.Log, and the digests.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "corelib.h"
#include "imports.h"
#include "testsupport.h"

namespace {

const wchar_t kYopBug[] = L"c:\\YopBug.log";

// A system-wide debug-output monitor (the DBWIN_* objects that OutputDebugString writes to when no
// debugger is attached). Single-threaded: the buffer is offered before each call and read after.
class DebugMonitor {
public:
    DebugMonitor() {
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
        bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
        dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
        if (mapping_) view_ = static_cast<char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
        if (bufferReady_) SetEvent(bufferReady_);
    }
    ~DebugMonitor() {
        if (view_) UnmapViewOfFile(view_);
        for (HANDLE h : {mapping_, bufferReady_, dataReady_})
            if (h) CloseHandle(h);
    }
    bool ok() const { return view_ && bufferReady_ && dataReady_; }

    // The text of one OutputDebugString since the last call; false when nothing came.
    bool Take(std::string* text) {
        if (WaitForSingleObject(dataReady_, 0) != WAIT_OBJECT_0) return false;
        const char* s = view_ + sizeof(DWORD);
        text->assign(s, strnlen(s, 4096 - sizeof(DWORD)));
        SetEvent(bufferReady_);
        return true;
    }

private:
    HANDLE mapping_ = nullptr, bufferReady_ = nullptr, dataReady_ = nullptr;
    char* view_ = nullptr;
};

std::string Utf16Bytes(const std::wstring& s) {
    return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(wchar_t));
}

class YopBugFile : public ::testing::Test {
protected:
    void SetUp() override { Remove(); }
    void TearDown() override { Remove(); }
    static void Remove() {
        SetFileAttributesW(kYopBug, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(kYopBug);
        RemoveDirectoryW(kYopBug);
    }
    static bool Exists() { return GetFileAttributesW(kYopBug) != INVALID_FILE_ATTRIBUTES; }
};

}  // namespace

using TraceHelpers = YopBugFile;

TEST_F(TraceHelpers, FormatButOutputNothing) {
    DebugMonitor monitor;
    ASSERT_TRUE(monitor.ok());
    const std::string huge(5000, 'h');
    DEBUG_MSG_B("%s", "WlxNegotiate");
    DEBUG_MSG_E("%s", "WlxNegotiate");
    DEBUG_MSG("%s=%d", "value", 5);
    DEBUG_MSG_B("%s", huge.c_str());  // over-long texts are cut, never overrun
    DEBUG_MSG_E("%s%s", huge.c_str(), huge.c_str());
    DEBUG_MSG("%s", "\xC8\xCF\xD6\xA4KEY\xD2\xD1\xC8\xA1\xCF\xC2");
    DEBUG_MSG(nullptr);
    std::string text;
    EXPECT_FALSE(monitor.Take(&text)) << text;
    EXPECT_FALSE(Exists());
}

TEST(TraceOdprintf, SendsTheTrimmedLineWithCrLf) {
    DebugMonitor monitor;
    ASSERT_TRUE(monitor.ok());
    struct Case {
        const char* text;
        const char* expected;
    };
    static const Case kCases[] = {
        {"text \t\n", "text\r\n"},
        {"\xD6\xD0\xCE\xC4\n\n", "\xD6\xD0\xCE\xC4\r\n"},
        {"", "\r\n"},
    };
    for (const Case& c : kCases) {
        Odprintf("%s", c.text);
        std::string got;
        ASSERT_TRUE(monitor.Take(&got)) << c.text;
        EXPECT_EQ(got, c.expected);
    }
    Odprintf("%s #%d ", "line", 2);
    std::string got;
    ASSERT_TRUE(monitor.Take(&got));
    EXPECT_EQ(got, "line #2\r\n");

    // Longer than the line buffer: cut, still sent (the monitor's own buffer is 4 KB).
    const std::string huge(10000, 'x');
    Odprintf("%s", huge.c_str());
    ASSERT_TRUE(monitor.Take(&got));
    EXPECT_GT(got.size(), 4000u);
    EXPECT_EQ(got.find_first_not_of('x'), std::string::npos);
}

using TraceDebugMsgW = YopBugFile;

TEST_F(TraceDebugMsgW, AppendsUtf16LinesWithoutBomOrCarriageReturn) {
    EXPECT_EQ(DEBUG_MSG_W(L"first %d", 1), 0u);
    EXPECT_EQ(DEBUG_MSG_W(L"%ls", L"\u7b2c\u4e8c line\n"), 0u);  // a line feed inside the text stays one unit
    EXPECT_EQ(DEBUG_MSG_W(L"\u0a0d"), 0u);  // bytes 0D 0A: text mode would garble the 0A byte
    EXPECT_EQ(ts::ReadFileBytes(kYopBug),
              Utf16Bytes(L"first 1\n\u7b2c\u4e8c line\n\n\u0a0d\n"));
}

TEST_F(TraceDebugMsgW, OverlongTextIsCutToOneLine) {
    const std::wstring huge(5000, L'w');
    EXPECT_EQ(DEBUG_MSG_W(L"%ls", huge.c_str()), 0u);
    EXPECT_EQ(ts::ReadFileBytes(kYopBug), Utf16Bytes(std::wstring(1022, L'w') + L"\n"));
}

TEST_F(TraceDebugMsgW, ReportsAFileThatCannotBeOpened) {
    ASSERT_TRUE(CreateDirectoryW(kYopBug, nullptr));  // a folder where the file should be
    EXPECT_NE(DEBUG_MSG_W(L"%ls", L"lost"), 0u);
    EXPECT_NE(DEBUG_MSG_W(nullptr), 0u);
}

namespace {

// What Corelib hands to the event log (Wine's keeps nothing), caught at its imports.
struct EventCalls {
    std::vector<std::wstring> sources;
    std::vector<WORD> types;
    std::vector<std::wstring> texts;
    int deregistered = 0;
};
EventCalls* g_events = nullptr;
HANDLE const kFakeSource = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5E47));

HANDLE WINAPI RecordRegister(LPCWSTR server, LPCWSTR source) {
    g_events->sources.push_back(server ? L"<remote>" : (source ? source : L"<null>"));
    return kFakeSource;
}
BOOL WINAPI RecordReport(HANDLE source, WORD type, WORD, DWORD, PSID, WORD count, DWORD, LPCWSTR* strings, LPVOID) {
    if (source != kFakeSource) return FALSE;
    g_events->types.push_back(type);
    g_events->texts.push_back(count == 1 && strings && strings[0] ? strings[0] : L"<not one string>");
    return TRUE;
}
BOOL WINAPI RecordDeregister(HANDLE source) {
    if (source == kFakeSource) ++g_events->deregistered;
    return TRUE;
}

}  // namespace

// Each call reports one information event under the "Sentry" source with the formatted text, cut to
// 255 characters (checked red by renaming the source, and by passing the format instead of the text).
TEST(TraceLogEvent, ReportsWithTheSentrySource) {
    const std::wstring source = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Sentry";
    const bool existed = ts::KeyExists(HKEY_LOCAL_MACHINE, source);
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, source, L"TypesSupported", 7));

    // Through Wine's own event log first: the calls succeed.
    EXPECT_TRUE(LogEvent(L"%ls %d", L"\u670d\u52a1\u542f\u52a8", 1));
    const std::wstring huge(5000, L'e');
    EXPECT_TRUE(LogEvent(L"%ls", huge.c_str()));  // cut to 255 characters, never overrun
    EXPECT_FALSE(LogEvent(nullptr));

    EventCalls calls;
    g_events = &calls;
    {
        HMODULE corelib = GetModuleHandleW(L"Corelib.dll");
        ASSERT_NE(corelib, nullptr);
        ts::ImportPatch reg(corelib, "advapi32.dll", "RegisterEventSourceW", reinterpret_cast<void*>(RecordRegister));
        ts::ImportPatch rep(corelib, "advapi32.dll", "ReportEventW", reinterpret_cast<void*>(RecordReport));
        ts::ImportPatch dereg(corelib, "advapi32.dll", "DeregisterEventSource",
                              reinterpret_cast<void*>(RecordDeregister));
        ASSERT_TRUE(reg.ok() && rep.ok() && dereg.ok()) << "Corelib no longer imports the event log calls";
        EXPECT_TRUE(LogEvent(L"%ls %d", L"\u670d\u52a1\u542f\u52a8", 1));
        EXPECT_TRUE(LogEvent(L"%ls", huge.c_str()));
        EXPECT_FALSE(LogEvent(nullptr));
    }
    g_events = nullptr;
    EXPECT_EQ(calls.sources, (std::vector<std::wstring>{L"Sentry", L"Sentry"}));
    EXPECT_EQ(calls.types, (std::vector<WORD>{EVENTLOG_INFORMATION_TYPE, EVENTLOG_INFORMATION_TYPE}));
    ASSERT_EQ(calls.texts.size(), 2u);
    EXPECT_EQ(ts::Narrow(calls.texts[0]), ts::Narrow(L"\u670d\u52a1\u542f\u52a8 1"));
    EXPECT_EQ(calls.texts[1], std::wstring(255, L'e'));
    EXPECT_EQ(calls.deregistered, 2) << "every registered source is given back";

    if (!existed) ts::DeleteKeyTree(HKEY_LOCAL_MACHINE, source);
}

namespace {

// "YYYY年MM月DD日 hh:mm:ss" in GBK, written out here independently of the library.
std::string GbkDate(const SYSTEMTIME& t) {
    char s[64];
    snprintf(s, sizeof(s), "%04u\xC4\xEA%02u\xD4\xC2%02u\xC8\xD5 %02u:%02u:%02u", 0u + t.wYear, 0u + t.wMonth,
             0u + t.wDay, 0u + t.wHour, 0u + t.wMinute, 0u + t.wSecond);
    return s;
}

ULONGLONG Seconds(const SYSTEMTIME& t) {
    FILETIME ft;
    SystemTimeToFileTime(&t, &ft);
    return ((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000ULL;
}

// Splits the file into its lines (each must end in CR LF) and checks each one's date against
// the window [before, after]; returns the lines without their dates.
std::vector<std::string> PowerOnLines(const std::string& file, const SYSTEMTIME& before, const SYSTEMTIME& after) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < file.size()) {
        const size_t end = file.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF: " << file.substr(at);
            break;
        }
        const std::string line = file.substr(at, end - at);
        at = end + 2;
        EXPECT_EQ(line.find('\n'), std::string::npos);
        SYSTEMTIME t = {};
        unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
        if (line.size() < 23 ||
            sscanf(line.c_str(), "%4u\xC4\xEA%2u\xD4\xC2%2u\xC8\xD5 %2u:%2u:%2u", &y, &mo, &d, &h, &mi, &s) != 6) {
            ADD_FAILURE() << "no date: " << line;
            lines.push_back(line);
            continue;
        }
        t.wYear = y, t.wMonth = mo, t.wDay = d, t.wHour = h, t.wMinute = mi, t.wSecond = s;
        EXPECT_EQ(line.substr(0, 23), GbkDate(t));
        EXPECT_GE(Seconds(t), Seconds(before));
        EXPECT_LE(Seconds(t), Seconds(after));
        lines.push_back(line.substr(23));
    }
    return lines;
}

class TracePowerOnLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 936u);
        wchar_t path[MAX_PATH] = {};
        ASSERT_NE(ZarnRegByDllPath(path, L"\\PowerOn.Log"), nullptr);
        ASSERT_NE(path[0], 0) << "no installation folder";
        path_ = path;
        DeleteFileW(path_.c_str());
        GetLocalTime(&before_);
    }
    void TearDown() override { DeleteFileW(path_.c_str()); }

    std::vector<std::string> Lines() {
        SYSTEMTIME after;
        GetLocalTime(&after);
        return PowerOnLines(ts::ReadFileBytes(path_), before_, after);
    }

    std::wstring path_;
    SYSTEMTIME before_ = {};
};

}  // namespace

TEST_F(TracePowerOnLog, ThreeLinesNewestFirst) {
    ASSERT_TRUE(WirteLog2("someone", "\xBF\xAA\xBB\xFA"));  // 开机
    ASSERT_TRUE(WirteLog2("\xD5\xC5\xC8\xFD", "second"));   // 张三
    ASSERT_TRUE(WirteLog2("someone", "third message"));
    const std::vector<std::string> expected = {
        "/someone/third message/",
        "/\xD5\xC5\xC8\xFD/second/",
        "/someone/\xBF\xAA\xBB\xFA/",
    };
    EXPECT_EQ(Lines(), expected);
}

TEST_F(TracePowerOnLog, CurrentUserAndOverlongMessages) {
    char user[512] = {};
    DWORD size = sizeof(user);
    ASSERT_TRUE(GetUserNameA(user, &size));

    ASSERT_TRUE(WirteLog1("logon"));
    const std::string huge(5000, 'm');
    ASSERT_TRUE(WirteLog2(huge.c_str(), huge.c_str()));  // cut, never overrun
    ASSERT_TRUE(WirteLog2(nullptr, nullptr));

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "///");
    EXPECT_EQ(lines[1], "/" + std::string(1022 - 24, 'm'));  // 1023 bytes with the LF
    EXPECT_EQ(lines[2], std::string("/") + user + "/logon/");
}

TEST(TraceHash, KnownDigestsInUpperCaseHex) {
    struct Case {
        ALG_ID algorithm;
        const char* data;  // nullptr: no data at all
        const char* digest;
    };
    static const Case kCases[] = {
        {CALG_MD5, "abc", "900150983CD24FB0D6963F7D28E17F72"},
        {CALG_MD5, "message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {CALG_MD5, "", "D41D8CD98F00B204E9800998ECF8427E"},
        {CALG_MD5, nullptr, "D41D8CD98F00B204E9800998ECF8427E"},
        {CALG_SHA1, "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {CALG_SHA1, "", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
    };
    for (const Case& c : kCases) {
        char out[64];
        memset(out, '#', sizeof(out));
        const DWORD length = c.data ? static_cast<DWORD>(strlen(c.data)) : 0;
        ASSERT_TRUE(GetHashCode(reinterpret_cast<const BYTE*>(c.data), length, c.algorithm, out))
            << (c.data ? c.data : "(null)") << " error " << GetLastError();
        const size_t digits = strlen(c.digest);
        EXPECT_EQ(std::string(out), c.digest);
        EXPECT_EQ(out[digits + 1], '#') << "wrote past the digest's NUL";
    }
}

TEST(TraceHash, FailuresAreReported) {
    const BYTE data[] = {'a', 'b', 'c'};
    const ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;  // CALG_SHA_256, hidden below Vista headers
    struct Case {
        const char* what;
        const BYTE* data;
        DWORD length;
        ALG_ID algorithm;
        bool withOut;
        DWORD error;  // expected GetLastError, 0 to skip
    };
    const Case kCases[] = {
        {"SHA-256 is not in PROV_RSA_FULL", data, 3, kSha256, true, static_cast<DWORD>(NTE_BAD_ALGID)},
        {"not an algorithm", data, 3, 0, true, static_cast<DWORD>(NTE_BAD_ALGID)},
        {"a cipher, not a hash", data, 3, CALG_RC4, true, static_cast<DWORD>(NTE_BAD_ALGID)},
        {"no data but a length", nullptr, 3, CALG_MD5, true, ERROR_INVALID_PARAMETER},
        {"no output buffer", data, 3, CALG_MD5, false, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : kCases) {
        char out[64];
        memset(out, '#', sizeof(out));
        SetLastError(0);
        EXPECT_FALSE(GetHashCode(c.data, c.length, c.algorithm, c.withOut ? out : nullptr)) << c.what;
        const DWORD error = GetLastError();
        if (c.error) {
            EXPECT_EQ(error, c.error) << c.what;
        } else {
            EXPECT_NE(error, 0u) << c.what;
        }
        if (c.withOut) {
            EXPECT_EQ(out[0], 0) << c.what;
        }
    }
}
