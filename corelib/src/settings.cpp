// Not yet built: placeholder bodies so that Corelib.dll exports its whole interface.
#include "internal.h"

extern "C" {

DWORD CORELIB_CALL GetMonitorKeyStyle(const wchar_t* valueName) {
    return 0;
}

LONG CORELIB_CALL SetMonitorKeyStyle(const wchar_t* valueName, DWORD value) {
    return 0;
}

BOOL CORELIB_CALL GetUserInfo(uinfo* record) {
    return 0;
}

BOOL CORELIB_CALL SetUserInfo(const uinfo* record) {
    return 0;
}

BOOL CORELIB_CALL IsRegisterUinfo(void) {
    return 0;
}

BOOL CORELIB_CALL Check_lpLogonPWD(const wchar_t* password) {
    return 0;
}

BOOL CORELIB_CALL Set_lpLogonPWD(const wchar_t* password) {
    return 0;
}

}  // extern "C"
