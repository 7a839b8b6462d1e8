// Recording fakes for the control panel's Corelib writes and device lookups. Each test program that
// includes this gets its own log; a fixture installs the fakes it needs and restores the table.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "corelib.h"
#include "seams.h"
#include "testsupport.h"

namespace panelseams {

struct Log {
    std::vector<std::string> calls;  // "switch QJ_X=1", "userinfo", "gian+", "gian-", "service+", "service-"
    std::map<std::string, DWORD> failAt;  // a call's text prefix -> the error it reports
    bool realWrites = false;              // the fakes also make the real Corelib call when they succeed
    std::map<std::wstring, std::wstring> driveIds;  // "E:\" -> the id UP_GetDriveIDByLetter gives
};
inline Log* g_log = nullptr;

// The boxes shown through the panel's box seam, each answered IDOK.
struct Box {
    std::wstring text, caption;
    UINT type;
};
inline std::vector<Box> g_boxes;
inline int RecordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    g_boxes.push_back({text ? text : L"", caption ? caption : L"", type});
    return IDOK;
}

inline DWORD Failure(const std::string& call) {
    for (const auto& f : g_log->failAt)
        if (call.compare(0, f.first.size(), f.first) == 0) return f.second;
    return 0;
}

inline LONG CORELIB_CALL FakeSwitch(const wchar_t* name, DWORD value) {
    std::string call = "switch " + ts::Narrow(name) + "=" + std::to_string(value);
    g_log->calls.push_back(call);
    if (DWORD e = Failure(call)) return static_cast<LONG>(e);
    return g_log->realWrites ? SetMonitorKeyStyle(name, value) : ERROR_SUCCESS;
}
inline BOOL CORELIB_CALL FakeUserInfo(const uinfo* record) {
    g_log->calls.push_back("userinfo");
    if (DWORD e = Failure("userinfo")) {
        SetLastError(e);
        return FALSE;
    }
    return g_log->realWrites ? SetUserInfo(record) : TRUE;
}
inline BOOL CORELIB_CALL FakeLogonPwd(const wchar_t* password) {
    g_log->calls.push_back("logonpwd");
    if (DWORD e = Failure("logonpwd")) {
        SetLastError(e);
        return FALSE;
    }
    return g_log->realWrites ? Set_lpLogonPWD(password) : TRUE;
}
inline LONG CORELIB_CALL FakeGianWrite() {
    g_log->calls.push_back("gian+");
    return static_cast<LONG>(Failure("gian+"));
}
inline LONG CORELIB_CALL FakeGianDelete() {
    g_log->calls.push_back("gian-");
    return static_cast<LONG>(Failure("gian-"));
}
inline INT_PTR CORELIB_CALL FakeService(BOOL start) {
    std::string call = start ? "service+" : "service-";
    g_log->calls.push_back(call);
    DWORD e = Failure(call);
    return e ? static_cast<INT_PTR>(e) : 42;
}
inline BOOL CORELIB_CALL FakeDriveId(const wchar_t* root, wchar_t out[260]) {
    g_log->calls.push_back("driveid " + ts::Narrow(root));
    out[0] = 0;
    auto it = g_log->driveIds.find(root);
    if (it == g_log->driveIds.end()) return FALSE;
    wcsncpy(out, it->second.c_str(), 259);
    out[259] = 0;
    return TRUE;
}

// Installs every Corelib fake; the table comes back when the fixture ends.
inline void InstallCorelibFakes(Log* log) {
    g_log = log;
    warden::g_seams.setMonitorKeyStyle = FakeSwitch;
    warden::g_seams.setUserInfo = FakeUserInfo;
    warden::g_seams.setLogonPwd = FakeLogonPwd;
    warden::g_seams.writeGianPathToReg = FakeGianWrite;
    warden::g_seams.deleteGianPathToReg = FakeGianDelete;
    warden::g_seams.startOrStopService = FakeService;
    warden::g_seams.upGetDriveIdByLetter = FakeDriveId;
}

inline std::string Joined(const std::vector<std::string>& calls) {
    std::string s;
    for (const auto& c : calls) s += (s.empty() ? "" : " | ") + c;
    return s;
}

}  // namespace panelseams
