// Trace helpers and the four small log writers: YopBug.log, the event log, the debugger output
// and PowerOn.Log. Every buffer is bounded and always terminated; a text that does not fit is cut
// at a character boundary, keeping the line's prefix and line end.
#include "internal.h"
#include "trace_internal.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <new>
#include <string>

namespace corelib {
namespace {

// Largest n <= max such that the first n bytes of s (len bytes) end on a character boundary of
// code page cp. A lead byte whose trail byte is not within reach is left out.
size_t AnsiCut(const char* s, size_t len, size_t max, UINT cp) {
    const size_t limit = len < max ? len : max;
    size_t i = 0;
    while (i < limit) {
        const size_t step = IsDBCSLeadByteEx(cp, static_cast<BYTE>(s[i])) ? 2 : 1;
        if (i + step > limit) break;
        i += step;
    }
    return i;
}

// The same for UTF-16: never keep the first half of a surrogate pair without its second half.
size_t WideCut(const wchar_t* s, size_t len, size_t max) {
    size_t n = len < max ? len : max;
    if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
    return n;
}

// Bounded printf into buf (size units). Sets *cut when the text did not fit whole (or the
// formatting failed part-way); the result is terminated either way.
size_t FormatInto(char* buf, size_t size, const char* format, va_list args, bool* cut) {
    buf[0] = 0;
    *cut = false;
    if (!format) return 0;
    const int r = vsnprintf(buf, size, format, args);
    buf[size - 1] = 0;
    *cut = r < 0 || static_cast<size_t>(r) >= size;
    return strnlen(buf, size);
}

size_t FormatInto(wchar_t* buf, size_t size, const wchar_t* format, va_list args, bool* cut) {
    buf[0] = 0;
    *cut = false;
    if (!format) return 0;
    const int r = vswprintf(buf, size, format, args);
    buf[size - 1] = 0;
    *cut = r < 0 || static_cast<size_t>(r) >= size;
    return wcsnlen(buf, size);
}

// ASCII white space only: GBK trail bytes are never below 0x40, so this never splits a character.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

size_t TrimRight(const char* s, size_t n) {
    while (n > 0 && IsBlank(s[n - 1])) --n;
    return n;
}

// Narrow ANSI text, at most maxBytes of it (cut at a character boundary), as UTF-16 into out.
// Returns the wide length, or -1 when the conversion fails.
int AnsiPrefixToWide(const char* s, size_t maxBytes, wchar_t* out, int outCch) {
    if (!s) return 0;
    size_t n = strnlen(s, maxBytes + 1);
    if (n > maxBytes) n = AnsiCut(s, n, maxBytes, CP_ACP);
    if (n == 0) return 0;
    const int w = MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(n), out, outCch);
    return w > 0 ? w : -1;
}

// Appends data as a text-mode rewrite would leave it on disk: every LF not already preceded by
// CR becomes CR LF, existing CR LF pairs stay as they are.
void AppendWithCrLf(std::string* out, const char* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r')) out->push_back('\r');
        out->push_back(data[i]);
    }
}

}  // namespace

bool ReadWholeFile(const wchar_t* path, std::string* data, bool* missing) {
    *missing = false;
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            *missing = true;
            return true;
        }
        return false;
    }
    // A read-only log is left alone, as a plain rewrite could not open it for writing either
    // (a rename would replace it regardless).
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        CloseHandle(h);
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    bool ok = false;
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(h, &size) && size.HighPart == 0 && size.LowPart < 0x7FFFFFFF) {
        try {
            data->resize(size.LowPart);
            DWORD done = 0;
            ok = true;
            while (done < size.LowPart) {
                DWORD got = 0;
                if (!ReadFile(h, &(*data)[done], size.LowPart - done, &got, nullptr) || got == 0) {
                    ok = false;
                    break;
                }
                done += got;
            }
        } catch (...) {  // bad_alloc, or length_error for a file larger than a string may be
            ok = false;
        }
    }
    CloseHandle(h);
    return ok;
}

TraceSeams g_traceSeams = {ReadWholeFile};

namespace {

bool WriteWholeFile(const wchar_t* path, const std::string& data) {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < data.size()) {
        DWORD put = 0;
        const DWORD chunk = static_cast<DWORD>(data.size() - done);
        ok = WriteFile(h, data.data() + done, chunk, &put, nullptr) && put > 0;
        done += put;
    }
    ok = ok && FlushFileBuffers(h);
    return CloseHandle(h) && ok;
}

}  // namespace

size_t FormatTraceLineV(TraceKind kind, char (&line)[kTraceChars], const char* format, va_list args) {
    char text[kTraceChars] = {};
    bool cut = false;
    size_t n = FormatInto(text, kTraceChars, format, args, &cut);
    if (cut) n = AnsiCut(text, n, n, CP_ACP);

    const char* prefix = kind == TraceKind::Enter ? "-->" : kind == TraceKind::Exit ? "<--" : "";
    const char* end = kind == TraceKind::Exit ? "\n\n" : "\n";
    const size_t p = strlen(prefix), e = strlen(end);
    const size_t room = kTraceChars - 1 - p - e;
    if (n > room) n = AnsiCut(text, n, room, CP_ACP);

    memcpy(line, prefix, p);
    memcpy(line + p, text, n);
    memcpy(line + p + n, end, e);
    line[p + n + e] = 0;
    return p + n + e;
}

size_t FormatDebugLineV(char (&line)[kDebugChars], const char* format, va_list args) {
    bool cut = false;
    size_t n = FormatInto(line, kDebugChars, format, args, &cut);
    if (cut) n = AnsiCut(line, n, n, CP_ACP);
    n = TrimRight(line, n);
    if (n > kDebugChars - 3) n = TrimRight(line, AnsiCut(line, n, kDebugChars - 3, CP_ACP));
    line[n++] = '\r';
    line[n++] = '\n';
    line[n] = 0;
    return n;
}

size_t FormatWideLineV(wchar_t (&line)[kWideChars], const wchar_t* format, va_list args) {
    wchar_t text[kWideChars] = {};
    bool cut = false;
    size_t n = FormatInto(text, kWideChars, format, args, &cut);
    if (cut) n = WideCut(text, n, n);
    if (n > kWideChars - 2) n = WideCut(text, n, kWideChars - 2);
    wmemcpy(line, text, n);
    line[n++] = L'\n';
    line[n] = 0;
    return n;
}

size_t FormatEventTextV(wchar_t (&text)[kEventChars], const wchar_t* format, va_list args) {
    bool cut = false;
    size_t n = FormatInto(text, kEventChars, format, args, &cut);
    if (cut) {
        n = WideCut(text, n, n);
        text[n] = 0;
    }
    return n;
}

size_t FormatPowerOnLine(char (&line)[kPowerOnChars], const SYSTEMTIME& time, const char* user,
                         const char* message) {
    line[0] = 0;
    // Only the first bytes of each text can reach the line: every ANSI byte gives at most one
    // UTF-16 unit and every unit at least one GBK byte.
    constexpr size_t kTake = kPowerOnChars - 1;
    wchar_t wide[32 + 2 * kTake + 4];
    int w = swprintf(wide, 32, L"%04d年%02d月%02d日 %02d:%02d:%02d", time.wYear, time.wMonth, time.wDay,
                     time.wHour, time.wMinute, time.wSecond);
    if (w <= 0 || w >= 32) return 0;
    wide[w++] = L'/';
    const int u = AnsiPrefixToWide(user, kTake, wide + w, static_cast<int>(kTake));
    if (u < 0) return 0;
    w += u;
    wide[w++] = L'/';
    const int m = AnsiPrefixToWide(message, kTake, wide + w, static_cast<int>(kTake));
    if (m < 0) return 0;
    w += m;
    wide[w++] = L'/';

    // The file is GBK whatever the caller's code page is.
    char gbk[2 * (sizeof(wide) / sizeof(wide[0]))];
    const int g = WideCharToMultiByte(936, 0, wide, w, gbk, sizeof(gbk), nullptr, nullptr);
    if (g <= 0) return 0;
    const size_t n = AnsiCut(gbk, static_cast<size_t>(g), kPowerOnChars - 2, 936);
    memcpy(line, gbk, n);
    line[n] = '\n';
    line[n + 1] = 0;
    return n + 1;
}

bool PrependPowerOnLine(const wchar_t* path, const char* line, size_t length) {
    if (!path || !path[0] || !line || length == 0) return false;
    const size_t pathLen = wcsnlen(path, MAX_PATH);
    if (pathLen >= MAX_PATH) return false;

    std::string old;
    bool missing = false;
    if (!g_traceSeams.ReadWholeFile(path, &old, &missing)) return false;  // never replace what could not be read

    std::string content;
    try {
        content.reserve(length + 1 + old.size() + old.size() / 16 + 16);
        AppendWithCrLf(&content, line, length);
        AppendWithCrLf(&content, old.data(), old.size());
    } catch (...) {  // bad_alloc, or length_error beyond a string's largest size
        return false;
    }

    // The temporary file lives beside the log, so the final move is a rename on one volume.
    wchar_t dir[MAX_PATH];
    wmemcpy(dir, path, pathLen + 1);
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (slash == dir + 2 && dir[1] == L':') slash[1] = 0;  // "c:\PowerOn.Log": the root itself
    else if (slash) *slash = 0;
    else wcscpy(dir, L".");
    wchar_t temp[MAX_PATH];
    if (!GetTempFileNameW(dir, L"pol", 0, temp)) return false;

    if (!WriteWholeFile(temp, content) ||
        !MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temp);
        SetLastError(error);
        return false;
    }
    return true;
}

}  // namespace corelib

using namespace corelib;

extern "C" {

void CORELIB_CALL DEBUG_MSG_B(const char* format, ...) {
    char line[kTraceChars];
    va_list args;
    va_start(args, format);
    FormatTraceLineV(TraceKind::Enter, line, format, args);
    va_end(args);
}

void CORELIB_CALL DEBUG_MSG_E(const char* format, ...) {
    char line[kTraceChars];
    va_list args;
    va_start(args, format);
    FormatTraceLineV(TraceKind::Exit, line, format, args);
    va_end(args);
}

void CORELIB_CALL DEBUG_MSG(const char* format, ...) {
    char line[kTraceChars];
    va_list args;
    va_start(args, format);
    FormatTraceLineV(TraceKind::Plain, line, format, args);
    va_end(args);
}

// 0 when the line was appended, else the C runtime's errno of the failed open or write.
DWORD CORELIB_CALL DEBUG_MSG_W(const wchar_t* format, ...) {
    if (!format) return EINVAL;
    wchar_t line[kWideChars];
    va_list args;
    va_start(args, format);
    const size_t n = FormatWideLineV(line, format, args);
    va_end(args);

    // Binary: a text-mode stream would turn every 0x0A byte of the UTF-16 text into 0D 0A.
    errno = 0;
    FILE* f = _wfopen(L"c:\\YopBug.log", L"a+b");
    if (!f) return errno ? errno : EIO;
    DWORD result = 0;
    if (fseek(f, 0, SEEK_END) != 0 || fwrite(line, sizeof(wchar_t), n, f) != n) result = errno ? errno : EIO;
    if (fclose(f) != 0 && result == 0) result = errno ? errno : EIO;
    return result;
}

BOOL CORELIB_CALL LogEvent(const wchar_t* format, ...) {
    if (!format) return FALSE;
    wchar_t text[kEventChars];
    va_list args;
    va_start(args, format);
    FormatEventTextV(text, format, args);
    va_end(args);

    HANDLE source = RegisterEventSourceW(nullptr, L"Sentry");
    if (!source) return FALSE;
    LPCWSTR strings[1] = {text};
    const BOOL reported = ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    const DWORD error = GetLastError();
    DeregisterEventSource(source);
    SetLastError(error);
    return reported ? TRUE : FALSE;
}

void CORELIB_CALL Odprintf(const char* format, ...) {
    if (!format) return;
    char line[kDebugChars];
    va_list args;
    va_start(args, format);
    FormatDebugLineV(line, format, args);
    va_end(args);
    OutputDebugStringA(line);
}

// The PowerOn.Log writers run inside other processes' calls: no exception may leave them.
BOOL CORELIB_CALL WirteLog1(const char* message) {
    try {
        return WirteLog1Body(message);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL CORELIB_CALL WirteLog2(const char* user, const char* message) {
    try {
        return WirteLog2Body(user, message);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

}  // extern "C"

namespace corelib {

BOOL WirteLog1Body(const char* message) {
    DEBUG_MSG("%s", "WirteLog(const char *szMsg)");
    char name[260] = {};
    DWORD size = sizeof(name);
    if (GetUserNameA(name, &size)) return WirteLog2(name, message);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= sizeof(name)) return FALSE;

    char* longName = static_cast<char*>(LocalAlloc(LPTR, size));
    if (!longName) return FALSE;
    DWORD longSize = size;
    const BOOL result = GetUserNameA(longName, &longSize) ? WirteLog2(longName, message) : FALSE;
    LocalFree(longName);
    return result;
}

BOOL WirteLog2Body(const char* user, const char* message) {
    wchar_t path[MAX_PATH] = {};
    if (!ZarnRegByDllPath(path, L"\\PowerOn.Log") || !path[0]) return FALSE;  // "" means no usable folder
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[kPowerOnChars];
    const size_t n = FormatPowerOnLine(line, now, user, message);
    if (n == 0) return FALSE;
    return PrependPowerOnLine(path, line, n) ? TRUE : FALSE;
}

}  // namespace corelib

extern "C" {

BOOL CORELIB_CALL GetHashCode(const BYTE* data, DWORD length, ALG_ID algorithm, char* out) {
    if (!out) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    out[0] = 0;
    if (!data && length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (GET_ALG_CLASS(algorithm) != ALG_CLASS_HASH) {  // some providers accept cipher ids here
        SetLastError(static_cast<DWORD>(NTE_BAD_ALGID));
        return FALSE;
    }
    static const BYTE kNoData = 0;

    BOOL ok = FALSE;
    DWORD error = 0;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return FALSE;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(provider, algorithm, 0, 0, &hash)) {
        DWORD size = 0, sizeLength = sizeof(size);
        BYTE* value = nullptr;
        if (CryptHashData(hash, data ? data : &kNoData, length, 0) &&
            CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeLength, 0) &&
            sizeLength == sizeof(size) && size > 0 &&
            (value = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, size))) != nullptr) {
            DWORD got = size;
            if (CryptGetHashParam(hash, HP_HASHVAL, value, &got, 0) && got == size) {
                static const char kHex[] = "0123456789ABCDEF";
                for (DWORD i = 0; i < size; ++i) {
                    out[2 * i] = kHex[value[i] >> 4];
                    out[2 * i + 1] = kHex[value[i] & 0x0F];
                }
                out[2 * size] = 0;
                ok = TRUE;
            }
        }
        error = GetLastError();
        if (value) LocalFree(value);
        CryptDestroyHash(hash);
    } else {
        error = GetLastError();
    }
    CryptReleaseContext(provider, 0);
    if (!ok) SetLastError(error ? error : NTE_FAIL);
    return ok;
}

}  // extern "C"
