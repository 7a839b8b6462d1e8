#include "powerlog.h"

#include <stdio.h>
#include <string.h>

#include "seams.h"

namespace warden {

namespace {

std::wstring Cell(const std::wstring& s) { return s.size() > kPowerCellChars ? s.substr(0, kPowerCellChars) : s; }

// A NUL-terminated ANSI string starting at from, never read past end; the terminator may be missing.
std::wstring AnsiString(const BYTE* from, const BYTE* end, const BYTE** next) {
    const BYTE* p = from;
    while (p < end && *p) ++p;
    std::wstring out;
    int n = static_cast<int>(p - from);
    if (n > 0) {
        int w = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(from), n, nullptr, 0);
        if (w > 0) {
            out.resize(w);
            MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(from), n, &out[0], w);
        }
    }
    *next = p < end ? p + 1 : end;
    return out;
}

// Walks one buffer of records. A record whose length is below the fixed part or runs past the bytes
// read ends the walk: a length of 0 would otherwise never move on.
void WalkRecords(const BYTE* buffer, DWORD read, std::vector<PowerRow>* rows) {
    DWORD offset = 0;
    while (offset < read && read - offset >= sizeof(EVENTLOGRECORD)) {
        EVENTLOGRECORD rec;
        memcpy(&rec, buffer + offset, sizeof(rec));
        if (rec.Length < sizeof(EVENTLOGRECORD) || rec.Length > read - offset) break;
        const DWORD code = rec.EventID & 0xFFFF;
        if (code == 6005 || code == 6006) {
            const BYTE* end = buffer + offset + rec.Length;
            const BYTE* next = buffer + offset + sizeof(EVENTLOGRECORD);
            AnsiString(next, end, &next);  // the source name
            PowerRow row;
            row.time = Cell(PowerTimeText(rec.TimeWritten));
            row.computer = Cell(AnsiString(next, end, &next));
            row.text = code == 6005 ? L"开 机-启动Windows" : L"关 机-关闭Windows";
            rows->push_back(row);
        }
        offset += rec.Length;
    }
}

}  // namespace

std::wstring PowerTimeText(DWORD timeWritten) {
    // Through Win32, not the C runtime: the local time is Windows' own time-zone setting.
    ULARGE_INTEGER t;
    t.QuadPart = static_cast<ULONGLONG>(timeWritten) * 10000000ULL + 116444736000000000ULL;
    FILETIME utc = {t.LowPart, t.HighPart}, local;
    SYSTEMTIME st = {};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return std::wstring();
    wchar_t text[100];
    _snwprintf(text, ARRAYSIZE(text), L"%04d年%02d月%02d日 %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour,
               st.wMinute, st.wSecond);
    text[ARRAYSIZE(text) - 1] = L'\0';
    return text;
}

int ReadPowerRows(std::vector<PowerRow>* rows) {
    rows->clear();
    HANDLE log = g_seams.openEventLog(nullptr, L"System");
    if (!log) return -1;
    std::vector<BYTE> buffer(kPowerReadBuffer);
    std::vector<PowerRow> found;
    for (;;) {
        DWORD read = 0, needed = 0;
        if (g_seams.readEventLog(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                                 static_cast<DWORD>(buffer.size()), &read, &needed)) {
            WalkRecords(buffer.data(), read > buffer.size() ? static_cast<DWORD>(buffer.size()) : read, &found);
            continue;
        }
        // The log is read oldest first: stopping at one large record would lose every newer event.
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > buffer.size() && needed <= kPowerReadBufferMax) {
            buffer.resize(needed);
            continue;
        }
        break;  // the end of the log, or a read error: the rows so far are shown
    }
    g_seams.closeEventLog(log);
    rows->assign(found.rbegin(), found.rend());
    return 1;
}

}  // namespace warden
