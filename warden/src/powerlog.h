// The power-on and power-off history: the System log's 6005 (the event log started: Windows started)
// and 6006 (it stopped: Windows shut down) records, newest first.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace warden {

struct PowerRow {
    std::wstring time;      // "%04d年%02d月%02d日 %02d:%02d:%02d", local time
    std::wstring computer;  // the record's computer name
    std::wstring text;      // "开 机-启动Windows" or "关 机-关闭Windows"
};

constexpr size_t kPowerCellChars = 99;             // each cell keeps at most this many characters
constexpr DWORD kPowerReadBuffer = 4096;            // the first read's buffer
constexpr DWORD kPowerReadBufferMax = 256 * 1024;   // a larger record is skipped no further: reading ends

// Reads the whole System log forwards and collects its boot and shutdown records, newest first.
// Returns 1, or -1 when the log cannot be opened (rows then stay empty).
int ReadPowerRows(std::vector<PowerRow>* rows);

// The row text of one record's time written (seconds since 1970, UTC), in local time.
std::wstring PowerTimeText(DWORD timeWritten);

}  // namespace warden
