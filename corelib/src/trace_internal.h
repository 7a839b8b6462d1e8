// Line building behind the trace and log exports. The exports format through these functions and
// then drop or write the result; unit tests call them directly to see the lines.
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stddef.h>

#include <string>

namespace corelib {

// Buffer sizes, terminating NUL included.
constexpr size_t kTraceChars = 1024;    // narrow trace text and trace line, bytes
constexpr size_t kDebugChars = 4096;    // debugger-output line, bytes
constexpr size_t kWideChars = 1024;     // YopBug.log line, wide characters
constexpr size_t kEventChars = 256;     // event-log text, wide characters
constexpr size_t kPowerOnChars = 1024;  // one PowerOn.Log line before CR LF expansion, bytes

enum class TraceKind { Enter, Exit, Plain };  // "-->" text "\n", "<--" text "\n\n", text "\n"

// Each returns the length of what it wrote; the result is always NUL-terminated. Texts that do
// not fit are cut at a character boundary so that the prefix and the line end still fit.
size_t FormatTraceLineV(TraceKind kind, char (&line)[kTraceChars], const char* format, va_list args);
// Trailing white space removed, then "\r\n".
size_t FormatDebugLineV(char (&line)[kDebugChars], const char* format, va_list args);
// Text + L"\n".
size_t FormatWideLineV(wchar_t (&line)[kWideChars], const wchar_t* format, va_list args);
size_t FormatEventTextV(wchar_t (&text)[kEventChars], const wchar_t* format, va_list args);

// "YYYY年MM月DD日 hh:mm:ss/user/message/\n" in code page 936; user and message are in the ANSI
// code page. Returns 0 (line "") when the texts cannot be converted.
size_t FormatPowerOnLine(char (&line)[kPowerOnChars], const SYSTEMTIME& time, const char* user,
                         const char* message);

// Reads the whole file into data; *missing is set (and true returned) when there is no file yet.
bool ReadWholeFile(const wchar_t* path, std::string* data, bool* missing);

// The power-on log's read of its old content goes through this table, real by default. Only unit
// tests replace it, to make it throw as the string operations do for a log too large for memory.
struct TraceSeams {
    bool (*ReadWholeFile)(const wchar_t* path, std::string* data, bool* missing);
};
extern TraceSeams g_traceSeams;

// The bodies of WirteLog1 and WirteLog2, which the exports run inside a guard against exceptions.
BOOL WirteLog1Body(const char* message);
BOOL WirteLog2Body(const char* user, const char* message);

// Puts line (LF line ends) on top of the GBK text file at path, with CR LF line ends, through a
// temporary file in the same folder. False, and the file untouched, on any failure.
bool PrependPowerOnLine(const wchar_t* path, const char* line, size_t length);

}  // namespace corelib
