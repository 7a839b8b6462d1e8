// Not yet built: placeholder bodies so that Corelib.dll exports its whole interface.
#include "internal.h"

extern "C" {

void CORELIB_CALL DEBUG_MSG_B(const char* format, ...) {
}

void CORELIB_CALL DEBUG_MSG_E(const char* format, ...) {
}

void CORELIB_CALL DEBUG_MSG(const char* format, ...) {
}

DWORD CORELIB_CALL DEBUG_MSG_W(const wchar_t* format, ...) {
    return 0;
}

BOOL CORELIB_CALL LogEvent(const wchar_t* format, ...) {
    return 0;
}

void CORELIB_CALL Odprintf(const char* format, ...) {
}

BOOL CORELIB_CALL WirteLog1(const char* message) {
    return 0;
}

BOOL CORELIB_CALL WirteLog2(const char* user, const char* message) {
    return 0;
}

BOOL CORELIB_CALL GetHashCode(const BYTE* data, DWORD length, ALG_ID algorithm, char* out) {
    return 0;
}

}  // extern "C"
