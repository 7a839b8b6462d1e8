// Not yet built: placeholder bodies so that Corelib.dll exports its whole interface.
#include "internal.h"

extern "C" {

wchar_t* CORELIB_CALL ZarnRegByDllPath(wchar_t out[260], const wchar_t* suffix) {
    return nullptr;
}

LONG CORELIB_CALL WriteGianPathToReg(void) {
    return 0;
}

LONG CORELIB_CALL DeleteGianPathToReg(void) {
    return 0;
}

LONG CORELIB_CALL AutoLogonSystem(const wchar_t* autoAdminLogon, const wchar_t* userName, const wchar_t* domainName, const wchar_t* password) {
    return 0;
}

BOOL CORELIB_CALL IsWin7(void) {
    return 0;
}

INT_PTR CORELIB_CALL StartOrStopService(BOOL start) {
    return 0;
}

INT_PTR CORELIB_CALL InstallOrUninstallService(BOOL install) {
    return 0;
}

wchar_t* CORELIB_CALL GuidToString(const GUID* guid) {
    return nullptr;
}

}  // extern "C"
