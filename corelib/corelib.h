// Corelib: settings, key presence, registration, lock record and logging for every deliverable.
// All exports are extern "C" __cdecl with undecorated names (see corelib.def). No export throws.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <stddef.h>

#ifdef CORELIB_BUILD
#define CORELIB_API __declspec(dllexport)
#elif defined(CORELIB_STATIC)
#define CORELIB_API
#else
#define CORELIB_API __declspec(dllimport)
#endif
#define CORELIB_CALL __cdecl

#pragma pack(push, 1)
// The user record, stored whole as REG_BINARY "QJ_uinfo" under HKLM\SOFTWARE\Quorel\Vantor.
// Every string is UTF-16 and NUL-terminated inside its field.
struct uinfo {
    wchar_t lpUserName[50];      // enrolled Windows user name
    wchar_t lpUserPWD[50];       // that user's Windows password for key logon
    wchar_t lpComputerName[50];  // computer name at enrolment
    wchar_t lpLogonPWD[140];     // software password; empty means the default "806"
    BYTE reserved580[32];
    BYTE reserved612[2];
    wchar_t lpDriverUID[5][50];  // enrolled USB-disk ids; a slot is empty when its first char is 0
    BYTE reserved1114[2];
    DWORD ulTokenSerial;         // folded token hardware serial
    BYTE reserved1120[20];
};

// What the service leaves for the logon UI in "Global\ZARNSHARD".
struct LockRecord {
    uinfo body;        // written as zeros
    LONG enuLockType;  // 0 none, 2 interval lock, 3 reserved, 4 key removed
};
#pragma pack(pop)

static_assert(sizeof(uinfo) == 1140, "uinfo is 1140 bytes");
static_assert(offsetof(uinfo, lpUserName) == 0, "uinfo layout");
static_assert(offsetof(uinfo, lpUserPWD) == 100, "uinfo layout");
static_assert(offsetof(uinfo, lpComputerName) == 200, "uinfo layout");
static_assert(offsetof(uinfo, lpLogonPWD) == 300, "uinfo layout");
static_assert(offsetof(uinfo, reserved580) == 580, "uinfo layout");
static_assert(offsetof(uinfo, reserved612) == 612, "uinfo layout");
static_assert(offsetof(uinfo, lpDriverUID) == 614, "uinfo layout");
static_assert(offsetof(uinfo, reserved1114) == 1114, "uinfo layout");
static_assert(offsetof(uinfo, ulTokenSerial) == 1116, "uinfo layout");
static_assert(offsetof(uinfo, reserved1120) == 1120, "uinfo layout");
static_assert(sizeof(LockRecord) == 1144, "LockRecord is 1144 bytes");
static_assert(offsetof(LockRecord, enuLockType) == 1140, "LockRecord layout");

enum {
    LOCKTYPE_NONE = 0,
    LOCKTYPE_INTERVAL = 2,
    LOCKTYPE_RESERVED = 3,
    LOCKTYPE_KEY_REMOVED = 4,
};

#define CORELIB_SETTINGS_KEY L"SOFTWARE\\Quorel\\Vantor"
#define CORELIB_PROVIDER_CLSID_TEXT L"{00ABCDEF-F666-4966-80C7-88BE82DFB12A}"
#define CORELIB_SHARED_MAPPING L"Global\\ZARNSHARD"
#define CORELIB_SHARED_MAPPING_SIZE 4095
#define CORELIB_SHARED_MUTEX L"mutex"
#define CORELIB_ALERT_EVENT L"Global\\AlertServiceEvent"
// Named-object DACL: SYSTEM and Administrators only; every user of these objects runs as one of them.
#define CORELIB_OBJECT_SDDL L"D:P(A;;GA;;;SY)(A;;GA;;;BA)"

// The one class id of the credential provider and its filter.
static const GUID CLSID_Logontile = {0x00ABCDEF, 0xF666, 0x4966, {0x80, 0xC7, 0x88, 0xBE, 0x82, 0xDF, 0xB1, 0x2A}};

// Shows the library's own key dialogs (boot key notice 121, locked notice 136).
struct IWindowUI {
    virtual int ShowDialog(int dialogId) = 0;
    virtual void SetValue(int value) = 0;
    virtual void Release() = 0;  // frees the object returned by GetWindowUI
};

#ifdef __cplusplus
extern "C" {
#endif

// --- user record and switches ---
CORELIB_API DWORD CORELIB_CALL GetMonitorKeyStyle(const wchar_t* valueName);
CORELIB_API LONG CORELIB_CALL SetMonitorKeyStyle(const wchar_t* valueName, DWORD value);
CORELIB_API BOOL CORELIB_CALL GetUserInfo(uinfo* record);
CORELIB_API BOOL CORELIB_CALL SetUserInfo(const uinfo* record);
CORELIB_API BOOL CORELIB_CALL IsRegisterUinfo(void);
CORELIB_API BOOL CORELIB_CALL Check_lpLogonPWD(const wchar_t* password);
CORELIB_API BOOL CORELIB_CALL Set_lpLogonPWD(const wchar_t* password);

// --- key presence ---
CORELIB_API BOOL CORELIB_CALL VerifyUserInfo(const uinfo* record);
CORELIB_API void CORELIB_CALL UE_Epas_CreateContext(HANDLE* context);
CORELIB_API void CORELIB_CALL UE_Epas_DeleteContext(void);
CORELIB_API DWORD CORELIB_CALL UE_Open_CURRENT(void);
CORELIB_API DWORD CORELIB_CALL UE_Get_TokenHardwareSerial(void);
CORELIB_API BOOL CORELIB_CALL UE_CheckEpasByDriveID(const uinfo* record);
CORELIB_API BOOL CORELIB_CALL UE_Get_EPASKEY_Name(wchar_t out[32]);
CORELIB_API BOOL CORELIB_CALL UP_GetDriveIDByLetter(const wchar_t* root, wchar_t out[260]);
CORELIB_API BOOL CORELIB_CALL UP_CheckUDeskByDriveID(const uinfo* record);
CORELIB_API BOOL CORELIB_CALL UP_CheckUDeskByDriveID1(const uinfo* record, wchar_t out[260]);
CORELIB_API void CORELIB_CALL UP_GetAllRemovableDisks(void);
CORELIB_API BOOL CORELIB_CALL CompareDriverUID(const uinfo* record, const wchar_t* id);
// TRUE when the id was stored; ids of 50 characters or more, and ids that begin with '{', are refused.
CORELIB_API BOOL CORELIB_CALL AddDriverUID(uinfo* record, const wchar_t* id);
CORELIB_API void CORELIB_CALL DelDriverUID(uinfo* record, const wchar_t* id);
CORELIB_API int CORELIB_CALL GetDriverUIDCount(const uinfo* record);
CORELIB_API BOOL CORELIB_CALL RegisterDeviceNotification_GUID(HWND window);

// --- installation, registration, service control ---
// Returns out; "" when the path would not fit 260 characters (callers treat "" as failure).
CORELIB_API wchar_t* CORELIB_CALL ZarnRegByDllPath(wchar_t out[260], const wchar_t* suffix);
CORELIB_API LONG CORELIB_CALL WriteGianPathToReg(void);
CORELIB_API LONG CORELIB_CALL DeleteGianPathToReg(void);
CORELIB_API LONG CORELIB_CALL AutoLogonSystem(const wchar_t* autoAdminLogon, const wchar_t* userName,
                                              const wchar_t* domainName, const wchar_t* password);
CORELIB_API BOOL CORELIB_CALL IsWin7(void);
CORELIB_API INT_PTR CORELIB_CALL StartOrStopService(BOOL start);
CORELIB_API INT_PTR CORELIB_CALL InstallOrUninstallService(BOOL install);
// Allocated with LocalAlloc (260 bytes); free it with LocalFree. NULL when memory runs out.
CORELIB_API wchar_t* CORELIB_CALL GuidToString(const GUID* guid);

// --- shared lock record ---
CORELIB_API DWORD CORELIB_CALL CreateSharedMemory(void);
CORELIB_API BOOL CORELIB_CALL ReleaseSharedMemory(void);
CORELIB_API DWORD CORELIB_CALL WriteToSharedMemory(const void* data, DWORD size);
CORELIB_API DWORD CORELIB_CALL ReadFromSharedMemory(void* out, DWORD size);

// --- logging ---
CORELIB_API void CORELIB_CALL DEBUG_MSG_B(const char* format, ...);
CORELIB_API void CORELIB_CALL DEBUG_MSG_E(const char* format, ...);
CORELIB_API void CORELIB_CALL DEBUG_MSG(const char* format, ...);
CORELIB_API DWORD CORELIB_CALL DEBUG_MSG_W(const wchar_t* format, ...);
CORELIB_API BOOL CORELIB_CALL LogEvent(const wchar_t* format, ...);
CORELIB_API void CORELIB_CALL Odprintf(const char* format, ...);
CORELIB_API BOOL CORELIB_CALL WirteLog1(const char* message);
CORELIB_API BOOL CORELIB_CALL WirteLog2(const char* user, const char* message);

// --- others ---
CORELIB_API BOOL CORELIB_CALL GetHashCode(const BYTE* data, DWORD length, ALG_ID algorithm, char* out);
// The caller owns the object; free it with Release(). NULL when memory runs out.
CORELIB_API IWindowUI* CORELIB_CALL GetWindowUI(void);

#ifdef __cplusplus
}
#endif
