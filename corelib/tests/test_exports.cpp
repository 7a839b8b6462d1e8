// Corelib.dll exports its whole interface by plain names and loads by itself.
#include <gtest/gtest.h>
#include <windows.h>

#include "testsupport.h"

TEST(CorelibExports, EveryNameIsExportedUndecorated) {
    static const char* const kNames[] = {
        "GetMonitorKeyStyle", "SetMonitorKeyStyle", "GetUserInfo", "SetUserInfo", "IsRegisterUinfo",
        "Check_lpLogonPWD", "Set_lpLogonPWD", "VerifyUserInfo", "UE_Epas_CreateContext", "UE_Epas_DeleteContext",
        "UE_Open_CURRENT", "UE_Get_TokenHardwareSerial", "UE_CheckEpasByDriveID", "UE_Get_EPASKEY_Name",
        "UP_GetAllRemovableDisks", "UP_GetDriveIDByLetter", "UP_CheckUDeskByDriveID", "UP_CheckUDeskByDriveID1",
        "CompareDriverUID", "AddDriverUID", "DelDriverUID", "GetDriverUIDCount", "RegisterDeviceNotification_GUID",
        "ZarnRegByDllPath", "WriteGianPathToReg", "DeleteGianPathToReg", "AutoLogonSystem", "IsWin7",
        "StartOrStopService", "InstallOrUninstallService", "GuidToString", "CreateSharedMemory",
        "ReleaseSharedMemory", "WriteToSharedMemory", "ReadFromSharedMemory", "DEBUG_MSG_B", "DEBUG_MSG_E",
        "DEBUG_MSG", "DEBUG_MSG_W", "LogEvent", "Odprintf", "WirteLog1", "WirteLog2", "GetHashCode", "GetWindowUI",
    };
    HMODULE m = LoadLibraryW(ts::InExeDir(L"Corelib.dll").c_str());
    ASSERT_NE(m, nullptr) << GetLastError();
    int count = 0;
    for (const char* name : kNames) {
        EXPECT_NE(GetProcAddress(m, name), nullptr) << name;
        ++count;
    }
    EXPECT_EQ(count, 45);
    FreeLibrary(m);
}
