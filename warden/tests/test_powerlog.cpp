// The power-on and power-off history from the System log, fed through the event-log seam: Wine's event
// log stores nothing, so each case hands the reader buffers of records built here.
#include <gtest/gtest.h>

#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "eventlogfake.h"
#include "powerlog.h"
#include "seams.h"
#include "testsupport.h"

using warden::PowerRow;
using namespace eventlogfake;

namespace {

class PowerLog : public ::testing::Test {
protected:
    void SetUp() override { Install(&log_); }
    void TearDown() override { Uninstall(); }
    std::vector<PowerRow> Read(int expected = 1) {
        std::vector<PowerRow> rows;
        EXPECT_EQ(warden::ReadPowerRows(&rows), expected);
        return rows;
    }
    FakeLog log_;
};

const std::wstring kBoot = L"开 机-启动Windows";
const std::wstring kShutdown = L"关 机-关闭Windows";

std::vector<std::wstring> Texts(const std::vector<PowerRow>& rows) {
    std::vector<std::wstring> t;
    for (const PowerRow& r : rows) t.push_back(r.text);
    return t;
}

}  // namespace

TEST_F(PowerLog, BootsAndShutdownsComeNewestFirstWithTheirTexts) {
    log_.buffers = {Record(6005, 1000, "PC-A") + Record(7036, 1500, "PC-A") + Record(6006, 2000, "PC-A"),
                    Record(6005, 3000, "PC-B") + Record(1, 3500, "PC-B")};
    std::vector<PowerRow> rows = Read();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(Texts(rows), (std::vector<std::wstring>{kBoot, kShutdown, kBoot}));
    EXPECT_EQ(rows[0].computer, L"PC-B");
    EXPECT_EQ(rows[2].computer, L"PC-A");
    EXPECT_EQ(rows[0].time, warden::PowerTimeText(3000));
    EXPECT_EQ(rows[2].time, warden::PowerTimeText(1000));
    EXPECT_EQ(log_.source, L"System");
    EXPECT_EQ(log_.closes, 1);
    EXPECT_EQ(log_.bufferSizes.front(), 4096u);
}

TEST_F(PowerLog, OnlyTheLowWordOfTheEventIdCounts) {
    log_.buffers = {Record(0x80001775, 10, "PC") + Record(0x40001776, 20, "PC") + Record(0x00011775, 30, "PC")};
    EXPECT_EQ(Texts(Read()), (std::vector<std::wstring>{kBoot, kShutdown, kBoot}));
}

TEST_F(PowerLog, NoBootOrShutdownGivesNoRows) {
    log_.buffers = {Record(7036, 10, "PC") + Record(1074, 20, "PC")};
    EXPECT_TRUE(Read().empty());
    log_.buffers.clear();
    EXPECT_TRUE(Read().empty());
}

TEST_F(PowerLog, ALogThatWillNotOpenGivesMinusOne) {
    log_.opens = false;
    EXPECT_TRUE(Read(-1).empty());
    EXPECT_EQ(log_.closes, 0);
}

TEST_F(PowerLog, ARecordLargerThanTheBufferIsReadAndNewerEventsKept) {
    // Oldest first: a 5000-byte record before a boot must not end the reading.
    log_.buffers = {Record(6006, 10, "PC"), Record(7000, 20, "PC", 5000 - sizeof(EVENTLOGRECORD)),
                    Record(6005, 30, "PC")};
    std::vector<PowerRow> rows = Read();
    EXPECT_EQ(Texts(rows), (std::vector<std::wstring>{kBoot, kShutdown}));
    ASSERT_GE(log_.bufferSizes.size(), 3u);
    EXPECT_GE(log_.bufferSizes[2], 5000u);
}

TEST_F(PowerLog, ARecordBeyondAnyBufferEndsTheReading) {
    log_.buffers = {Record(6005, 10, "PC"), Record(7000, 20, "PC", 300 * 1024), Record(6006, 30, "PC")};
    EXPECT_EQ(Texts(Read()), (std::vector<std::wstring>{kBoot}));
}

TEST_F(PowerLog, ABrokenLengthStopsTheWalkOfItsBuffer) {
    struct {
        const char* name;
        DWORD badLength;
    } const cases[] = {
        {"length 0 (would never move on)", 0},
        {"length below the fixed part", 20},
        {"length past the bytes read", 100000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_.buffers = {Record(6005, 10, "PC") + Record(6006, 20, "PC", 0, c.badLength) + Record(6005, 30, "PC"),
                        Record(6006, 40, "PC")};
        EXPECT_EQ(Texts(Read()), (std::vector<std::wstring>{kShutdown, kBoot}));
    }
}

TEST_F(PowerLog, NamesAreReadInsideTheirRecord) {
    // A record whose computer name runs to its end without a terminator: nothing past the record is read.
    std::string rec = Record(6005, 10, "PCNAME");
    std::string cut = rec.substr(0, sizeof(EVENTLOGRECORD) + 9 + 6);  // "EventLog\0PCNAME", no NUL after
    EVENTLOGRECORD head;
    memcpy(&head, cut.data(), sizeof(head));
    head.Length = static_cast<DWORD>(cut.size());
    memcpy(&cut[0], &head, sizeof(head));
    log_.buffers = {cut + Record(6006, 20, "NEXT")};
    std::vector<PowerRow> rows = Read();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].computer, L"PCNAME");
    EXPECT_EQ(rows[0].computer, L"NEXT");
}

TEST_F(PowerLog, AGbkComputerNameAndLongCellsAreConverted) {
    ASSERT_EQ(GetACP(), 936u) << "environment check: the test bed runs with the Chinese ANSI code page";
    const std::string gbk = "\xB2\xE2\xCA\xD4\xBB\xFA";  // 测试机 in GBK
    log_.buffers = {Record(6005, 10, gbk), Record(6006, 20, std::string(150, 'N'))};
    std::vector<PowerRow> rows = Read();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].computer, L"测试机");
    EXPECT_EQ(rows[0].computer, std::wstring(99, L'N'));
}

TEST(PowerLogTime, TheTimeIsWrittenInLocalTimeThroughWindows) {
    // The expected text from Windows' own conversion of the same instant.
    FILETIME utc = {}, local = {};
    ULARGE_INTEGER t;
    t.QuadPart = 116444736000000000ULL + 86400ULL * 10000000ULL * 400;
    utc.dwLowDateTime = t.LowPart;
    utc.dwHighDateTime = t.HighPart;
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
    wchar_t want[64];
    _snwprintf(want, 64, L"%04d年%02d月%02d日 %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
               st.wSecond);
    EXPECT_EQ(warden::PowerTimeText(86400 * 400), want);
}

// The test bed runs in China Standard Time, where the epoch reads 08:00.
TEST(PowerLogTime, TheEpochInChinaStandardTime) {
    TIME_ZONE_INFORMATION tz;
    GetTimeZoneInformation(&tz);
    ASSERT_EQ(tz.Bias, -480) << "environment check: the test bed's time zone is China Standard Time";
    EXPECT_EQ(warden::PowerTimeText(0), L"1970年01月01日 08:00:00");
}
