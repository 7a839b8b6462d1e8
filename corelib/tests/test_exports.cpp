// Corelib.dll exports its whole interface by plain names, nothing else, and loads by itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "testsupport.h"

namespace {

// The names in the loaded module's own export directory.
std::set<std::string> ExportedNames(HMODULE m) {
    std::set<std::string> names;
    const BYTE* base = reinterpret_cast<const BYTE*>(m);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!dir.VirtualAddress || !dir.Size) return names;
    const IMAGE_EXPORT_DIRECTORY* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const DWORD* nameRvas = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
    for (DWORD i = 0; i < exp->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

}  // namespace

// The table is read from the DLL itself: an export added, lost or decorated (Name@8) by the
// build turns this red (checked by adding "Extra@4" to corelib.def and by dropping "GetWindowUI").
TEST(CorelibExports, TheExportTableIsExactlyTheInterfaceUndecorated) {
    const std::set<std::string> expected = {
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
    ASSERT_EQ(expected.size(), 45u);
    HMODULE m = LoadLibraryW(ts::InExeDir(L"Corelib.dll").c_str());
    ASSERT_NE(m, nullptr) << GetLastError();
    const std::set<std::string> exported = ExportedNames(m);
    for (const std::string& name : expected) {
        EXPECT_TRUE(exported.count(name)) << "not exported: " << name;
        EXPECT_NE(GetProcAddress(m, name.c_str()), nullptr) << name;
    }
    for (const std::string& name : exported) EXPECT_TRUE(expected.count(name)) << "exported beyond the interface: " << name;
    EXPECT_EQ(exported.size(), expected.size());
    FreeLibrary(m);
}
