// The System log as the narrow reader sees it, for tests: Wine's event log stores nothing, so each
// case builds its records here and hands them to the reader through the event-log seam.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "seams.h"

namespace eventlogfake {

// One EVENTLOGRECORD as the narrow reader returns it: the fixed part, the source and computer names,
// padding to a DWORD boundary and the trailing length.
inline std::string Record(DWORD eventId, DWORD timeWritten, const std::string& computer, size_t extra = 0,
                          long long lengthOverride = -1) {
    std::string names = std::string("EventLog") + '\0' + computer + '\0';
    size_t body = sizeof(EVENTLOGRECORD) + names.size() + extra;
    size_t length = (body + 3) / 4 * 4 + sizeof(DWORD);
    EVENTLOGRECORD rec = {};
    rec.Length = static_cast<DWORD>(lengthOverride >= 0 ? lengthOverride : static_cast<long long>(length));
    rec.Reserved = 0x654c664c;  // "LfLe"
    rec.TimeGenerated = timeWritten;
    rec.TimeWritten = timeWritten;
    rec.EventID = eventId;
    rec.EventType = EVENTLOG_INFORMATION_TYPE;
    std::string out(reinterpret_cast<const char*>(&rec), sizeof(rec));
    out += names;
    out.append(extra, 'x');
    out.resize(length - sizeof(DWORD), '\0');
    DWORD len = static_cast<DWORD>(length);
    out.append(reinterpret_cast<const char*>(&len), sizeof(len));
    return out;
}

// The log's side: buffers handed out in turn, each at most what the caller's buffer holds. A first
// record larger than the caller's buffer is refused with its size, as the real reader does.
struct FakeLog {
    bool opens = true;
    std::deque<std::string> buffers;
    std::vector<DWORD> bufferSizes;  // what each read offered
    int closes = 0;
    std::wstring source;
};
inline FakeLog* g_log = nullptr;
inline const HANDLE kLog = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5151));

inline HANDLE WINAPI FakeOpen(LPCWSTR server, LPCWSTR source) {
    g_log->source = source ? source : L"";
    return g_log->opens && !server ? kLog : nullptr;
}
inline BOOL WINAPI FakeRead(HANDLE log, DWORD flags, DWORD, LPVOID buffer, DWORD bytes, DWORD* read, DWORD* needed) {
    EXPECT_EQ(log, kLog);
    EXPECT_EQ(flags, static_cast<DWORD>(EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ));
    g_log->bufferSizes.push_back(bytes);
    *read = 0;
    *needed = 0;
    if (g_log->buffers.empty()) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    const std::string& next = g_log->buffers.front();
    if (next.size() > bytes) {
        *needed = static_cast<DWORD>(next.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, next.data(), next.size());
    *read = static_cast<DWORD>(next.size());
    g_log->buffers.pop_front();
    return TRUE;
}
inline BOOL WINAPI FakeClose(HANDLE log) {
    EXPECT_EQ(log, kLog);
    ++g_log->closes;
    return TRUE;
}

// Puts the fake log in the seam table; Uninstall gives the real calls back.
inline void Install(FakeLog* log) {
    g_log = log;
    warden::g_seams.openEventLog = FakeOpen;
    warden::g_seams.readEventLog = FakeRead;
    warden::g_seams.closeEventLog = FakeClose;
}
inline void Uninstall() {
    warden::g_seams = warden::DefaultSeams();
    g_log = nullptr;
}

}  // namespace eventlogfake
