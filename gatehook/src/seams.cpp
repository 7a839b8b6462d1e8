#include "internal.h"

namespace gatehook {

namespace {
void WINAPI RealPause(DWORD ms) { Sleep(ms); }
BOOL WINAPI RealReadUserRecord(uinfo* record) { return GetUserInfo(record); }
void WINAPI RealLog(const wchar_t* text) { LogEvent(L"%ls", text); }
}  // namespace

Seams g_seams = {
    ::LockWorkStation,
    RealPause,
    2000,     // key watch tick
    2000000,  // interval lock, 33 min 20 s
    RealReadUserRecord,
    RealLog,
    ::VerifyUserInfo,
    ::CreateThread,
};

}  // namespace gatehook
