// Not yet built: placeholder bodies so that Corelib.dll exports its whole interface.
#include "internal.h"

extern "C" {

BOOL CORELIB_CALL VerifyUserInfo(const uinfo* record) {
    return 0;
}

void CORELIB_CALL UE_Epas_CreateContext(HANDLE* context) {
}

void CORELIB_CALL UE_Epas_DeleteContext(void) {
}

DWORD CORELIB_CALL UE_Open_CURRENT(void) {
    return 0;
}

DWORD CORELIB_CALL UE_Get_TokenHardwareSerial(void) {
    return 0;
}

BOOL CORELIB_CALL UE_CheckEpasByDriveID(const uinfo* record) {
    return 0;
}

BOOL CORELIB_CALL UE_Get_EPASKEY_Name(wchar_t out[32]) {
    return 0;
}

BOOL CORELIB_CALL UP_GetDriveIDByLetter(const wchar_t* root, wchar_t out[260]) {
    return 0;
}

BOOL CORELIB_CALL UP_CheckUDeskByDriveID(const uinfo* record) {
    return 0;
}

BOOL CORELIB_CALL UP_CheckUDeskByDriveID1(const uinfo* record, wchar_t out[260]) {
    return 0;
}

void CORELIB_CALL UP_GetAllRemovableDisks(void) {
}

BOOL CORELIB_CALL CompareDriverUID(const uinfo* record, const wchar_t* id) {
    return 0;
}

BOOL CORELIB_CALL AddDriverUID(uinfo* record, const wchar_t* id) {
    return 0;
}

void CORELIB_CALL DelDriverUID(uinfo* record, const wchar_t* id) {
}

int CORELIB_CALL GetDriverUIDCount(const uinfo* record) {
    return 0;
}

BOOL CORELIB_CALL RegisterDeviceNotification_GUID(HWND window) {
    return 0;
}

}  // extern "C"
