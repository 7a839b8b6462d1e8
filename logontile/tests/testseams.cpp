// Seam file of the test build of Logontile: the same core, with the package lookup and the forced
// shut-down replaced, so that a host can drive whole logons under Wine.
#include <windows.h>
#include <string.h>

#include "credentialverifykey.h"
#include "seams.h"
#include "testbuild.h"

namespace {

NTSTATUS NTAPI TestLookupAuthenticationPackage(HANDLE lsa, PLSA_STRING name, PULONG package) {
    static const char kNegotiate[] = "Negotiate";
    if (name && name->Buffer && name->Length == sizeof(kNegotiate) - 1 && name->MaximumLength >= name->Length &&
        memcmp(name->Buffer, kNegotiate, name->Length) == 0) {
        *package = LOGONTILE_TEST_NEGOTIATE_PACKAGE;
        return 0;
    }
    return logontile::kRealSeams.LsaLookupAuthenticationPackage(lsa, name, package);
}

BOOL WINAPI TestExitWindowsEx(UINT flags, DWORD reason) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, LOGONTILE_TEST_SHUTDOWN_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return FALSE;
    DWORD calls = 0, size = sizeof(calls), type = 0;
    if (RegQueryValueExW(key, L"Calls", nullptr, &type, reinterpret_cast<BYTE*>(&calls), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        calls = 0;
    ++calls;
    DWORD f = flags;
    RegSetValueExW(key, L"Flags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&f), sizeof(f));
    RegSetValueExW(key, L"Reason", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&reason), sizeof(reason));
    RegSetValueExW(key, L"Calls", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&calls), sizeof(calls));
    RegCloseKey(key);
    return TRUE;
}

volatile LONG g_absentChecks = 0;
volatile LONG g_presentChecks = 0;
BOOL(CORELIB_CALL* g_realVerify)(const uinfo*) = nullptr;

BOOL CORELIB_CALL CountingVerifyUserInfo(const uinfo* record) {
    BOOL present = g_realVerify(record);
    InterlockedIncrement(present ? &g_presentChecks : &g_absentChecks);
    return present;
}

// The test bed's Wine session counts as the console's, with no earlier session of the user.
int WINAPI TestGetSystemMetrics(int index) { return index == SM_REMOTESESSION ? 0 : GetSystemMetrics(index); }
BOOL WINAPI TestProcessIdToSessionId(DWORD, DWORD* session) {
    *session = 1;
    return TRUE;
}
DWORD WINAPI TestConsoleSession() { return 1; }
int TestUserHasSession(const wchar_t*) { return logontile::kSessionNo; }

// Runs while the DLL loads, before any export can be called (the table itself is constant data).
const bool g_installed = [] {
    logontile::g_seams.LsaLookupAuthenticationPackage = TestLookupAuthenticationPackage;
    logontile::g_seams.ExitWindowsEx = TestExitWindowsEx;
    logontile::g_seams.GetSystemMetrics = TestGetSystemMetrics;
    logontile::g_seams.ProcessIdToSessionId = TestProcessIdToSessionId;
    logontile::g_seams.WTSGetActiveConsoleSessionId = TestConsoleSession;
    logontile::g_seams.UserHasSession = TestUserHasSession;
    g_realVerify = logontile::g_tileSeams.VerifyUserInfo;
    logontile::g_tileSeams.VerifyUserInfo = CountingVerifyUserInfo;
    return true;
}();

}  // namespace

extern "C" void __cdecl LogontileTestKeyChecks(LONG* absent, LONG* present) {
    if (absent) *absent = InterlockedCompareExchange(&g_absentChecks, 0, 0);
    if (present) *present = InterlockedCompareExchange(&g_presentChecks, 0, 0);
}
