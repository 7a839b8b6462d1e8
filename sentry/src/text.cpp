// Small text helpers of the service.
#include "sentrycore.h"

#include <stdarg.h>
#include <wchar.h>

namespace sentry {

Gbk::Gbk(const wchar_t* text) {
    text_[0] = 0;
    if (!text || !*text) return;
    int n = WideCharToMultiByte(936, 0, text, -1, text_, sizeof(text_), nullptr, nullptr);
    if (n <= 0) {
        // Too long for the buffer: keep as many whole characters as fit.
        wchar_t cut[256];
        lstrcpynW(cut, text, 256);
        n = WideCharToMultiByte(936, 0, cut, -1, text_, sizeof(text_), nullptr, nullptr);
        if (n <= 0) text_[0] = 0;
    }
    text_[sizeof(text_) - 1] = 0;
}

void Log(const wchar_t* format, ...) {
    wchar_t buf[256];
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buf, 255, format, args);
    va_end(args);
    if (n < 0 || n > 255) n = 255;
    buf[n] = 0;
    g_seams.Log(buf);
}

bool EqualsAsciiNoCase(const char* a, const char* b) {
    if (!a || !b) return false;
    for (;; ++a, ++b) {
        char ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

}  // namespace sentry
