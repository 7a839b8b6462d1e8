#include "host.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "testsupport.h"

namespace host {

const char* const kWlxNames[18] = {
    "WlxNegotiate",         "WlxInitialize",          "WlxDisplaySASNotice",     "WlxLoggedOutSAS",
    "WlxActivateUserShell", "WlxLoggedOnSAS",         "WlxDisplayLockedNotice",  "WlxIsLockOk",
    "WlxWkstaLockedSAS",    "WlxIsLogoffOk",          "WlxLogoff",               "WlxShutdown",
    "WlxStartApplication",  "WlxScreenSaverNotify",   "WlxNetworkProviderLoad",  "WlxDisplayStatusMessage",
    "WlxGetStatusMessage",  "WlxRemoveStatusMessage",
};

namespace {

std::atomic<int> g_locks{0};
std::mutex g_pauseLock;
std::vector<PauseRecord> g_pauses;

BOOL WINAPI RecordLock() {
    ++g_locks;
    return TRUE;
}

// Every tick of the key watch starts by reading the record: counted, the reads show the watch's pace.
std::atomic<int> g_reads{0};
BOOL(WINAPI* g_realRead)(uinfo*) = nullptr;
BOOL WINAPI CountRead(uinfo* record) {
    ++g_reads;
    return g_realRead(record);
}

// Runs on the dialog's thread: what would the user see during the pause?
void WINAPI RecordPause(DWORD ms) {
    PauseRecord r = {ms, L"", false};
    HWND dlg = FindWindowW(L"#32770", L"Tolven电脑锁紧急登陆");
    HWND status = dlg ? GetDlgItem(dlg, 1042) : nullptr;
    if (status) {
        wchar_t text[128] = {};
        GetWindowTextW(status, text, 128);
        r.status = text;
        r.statusPainted = !GetUpdateRect(status, nullptr, FALSE) && !GetUpdateRect(dlg, nullptr, FALSE);
    }
    std::lock_guard<std::mutex> g(g_pauseLock);
    g_pauses.push_back(r);
}

// A dispatch slot the GINA has no business calling: the test ends at once, visibly.
template <int N>
void WINAPI Trap() {
    fprintf(stderr, "the GINA called Winlogon's dispatch slot %d, which it must not use\n", N);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 90 + N);
}
template <int... N>
void FillTraps(void** slots, std::integer_sequence<int, N...>) {
    void* traps[] = {reinterpret_cast<void*>(&Trap<N>)...};
    for (size_t i = 0; i < sizeof...(N); ++i) slots[i] = traps[i];
}

VOID WINAPI HostUseCtrlAltDel(HANDLE hWlx) {
    Winlogon& w = Winlogon::Get();
    ++w.useCtrlAltDelCalls;
    w.useCtrlAltDelHandle = hWlx;
    w.msginaCallsAtUseCtrlAltDel = w.standin ? w.standin->callCount : -1;
}

// Winlogon runs a GINA's dialogs through a procedure of its own; so does this host, which also lets
// the driver end a dialog when a test has gone wrong.
INT_PTR CALLBACK HostDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        SetPropW(dlg, L"HostGinaProc", reinterpret_cast<HANDLE>(lp));
        return reinterpret_cast<DLGPROC>(lp)(dlg, msg, wp, 0);
    }
    if (msg == kMsgAbort) {
        EndDialog(dlg, kAborted);
        return TRUE;
    }
    DLGPROC proc = reinterpret_cast<DLGPROC>(GetPropW(dlg, L"HostGinaProc"));
    if (!proc) return FALSE;
    INT_PTR r = proc(dlg, msg, wp, lp);
    if (msg == WM_NCDESTROY) RemovePropW(dlg, L"HostGinaProc");
    return r;
}

int WINAPI HostDialogBox(HANDLE hWlx, HANDLE instance, LPWSTR tmpl, HWND owner, DLGPROC proc) {
    Winlogon& w = Winlogon::Get();
    UINT_PTR id = reinterpret_cast<UINT_PTR>(tmpl);
    w.dialogs.push_back({hWlx, instance, id, owner, proc});
    auto it = w.scripted.find(id);
    if (it != w.scripted.end()) return it->second;
    return static_cast<int>(DialogBoxParamW(static_cast<HINSTANCE>(instance), tmpl, owner, HostDlgProc,
                                            reinterpret_cast<LPARAM>(proc)));
}

template <typename T>
bool Resolve(HMODULE m, const char* name, T* out) {
    *out = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
    return *out != nullptr;
}

}  // namespace

Winlogon& Winlogon::Get() {
    static Winlogon w;
    return w;
}

Winlogon::Winlogon() {
    FillTraps(reinterpret_cast<void**>(&dispatch),
              std::make_integer_sequence<int, sizeof(dispatch) / sizeof(void*)>());
    dispatch.WlxUseCtrlAltDel = HostUseCtrlAltDel;
    dispatch.WlxDialogBox = HostDialogBox;
}

::testing::AssertionResult Winlogon::Load(const std::wstring& variant, const std::wstring& ginaName) {
    if (gina || msgina)
        return ::testing::AssertionFailure() << "one Winlogon per process: run each test on its own (CTest does)";
    std::wstring folder = ts::InExeDir(L"msgina\\" + variant);
    if (!SetDllDirectoryW(folder.c_str())) return ::testing::AssertionFailure() << "SetDllDirectory failed";
    msgina = LoadLibraryW(L"MSGINA.DLL");
    if (!msgina) return ::testing::AssertionFailure() << "no MSGINA.DLL in " << ts::Narrow(folder);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(msgina, path, MAX_PATH);
    if (StrCmpNIW(path, folder.c_str(), static_cast<int>(folder.size())) != 0)
        return ::testing::AssertionFailure() << "MSGINA.DLL came from " << ts::Narrow(path);
    PFN_StandinControlBlock block = nullptr;
    if (!Resolve(msgina, "StandinControlBlock", &block))
        return ::testing::AssertionFailure() << "not the stand-in: " << ts::Narrow(path);
    standin = block();

    gina = LoadLibraryW(ts::InExeDir(ginaName).c_str());
    if (!gina) return ::testing::AssertionFailure() << "cannot load " << ts::Narrow(ginaName) << ": " << GetLastError();
    void** slots = reinterpret_cast<void**>(&wlx);
    for (int i = 0; i < 18; ++i) {
        slots[i] = reinterpret_cast<void*>(GetProcAddress(gina, kWlxNames[i]));
        if (!slots[i]) return ::testing::AssertionFailure() << "the GINA lacks " << kWlxNames[i];
    }
    PFN_GatehookTestSeams seamTable = nullptr;
    if (Resolve(gina, "GatehookTestSeams", &seamTable)) {
        seams = seamTable();
        seams->LockWorkStation = RecordLock;
        seams->Pause = RecordPause;
        if (seams->ReadUserRecord != CountRead) {
            g_realRead = seams->ReadUserRecord;
            seams->ReadUserRecord = CountRead;
        }
    }
    return ::testing::AssertionSuccess();
}

BOOL Winlogon::Negotiate(DWORD winlogonVersion, DWORD* dllVersion) { return wlx.Negotiate(winlogonVersion, dllVersion); }

BOOL Winlogon::Initialize() {
    return wlx.Initialize(const_cast<LPWSTR>(HOST_WINSTA), HOST_HWLX, nullptr, &dispatch, &context);
}

::testing::AssertionResult Winlogon::Boot(const std::wstring& variant, DWORD winlogonVersion) {
    ::testing::AssertionResult loaded = Load(variant);
    if (!loaded) return loaded;
    DWORD version = 0;
    if (!Negotiate(winlogonVersion, &version)) return ::testing::AssertionFailure() << "WlxNegotiate failed";
    if (!Initialize()) return ::testing::AssertionFailure() << "WlxInitialize failed";
    return ::testing::AssertionSuccess();
}

int Winlogon::LoggedOutSAS(PWLX_MPR_NOTIFY_INFO info) {
    static LUID luid;
    static DWORD options;
    static HANDLE token;
    static PVOID profile;
    static BYTE sid[64];
    return wlx.LoggedOutSAS(context, WLX_SAS_TYPE_CTRL_ALT_DEL, &luid, sid, &options, &token, info, &profile);
}

int Winlogon::LoggedOutSAS() { return LoggedOutSAS(&mpr); }

int Winlogon::WkstaLockedSAS(DWORD sas) { return wlx.WkstaLockedSAS(context, sas); }

BOOL Winlogon::ActivateUserShell() {
    return wlx.ActivateUserShell(context, const_cast<PWSTR>(L"Default"), nullptr, nullptr);
}

int Winlogon::Locks() { return g_locks.load(); }
int Winlogon::RecordReads() { return g_reads.load(); }

std::vector<PauseRecord> Winlogon::Pauses() {
    std::lock_guard<std::mutex> g(g_pauseLock);
    return g_pauses;
}

std::vector<StandinCall> Winlogon::CallsOf(int entry) const {
    std::vector<StandinCall> out;
    if (!standin) return out;
    LONG n = standin->callCount;
    if (n > STANDIN_MAX_CALLS) n = STANDIN_MAX_CALLS;
    for (LONG i = 0; i < n; ++i)
        if (standin->calls[i].entry == entry) out.push_back(standin->calls[i]);
    return out;
}

void SetSwitch(const wchar_t* name, DWORD value) {
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, name, value)) << ts::Narrow(name);
}

DWORD Switch(const wchar_t* name) {
    DWORD v = 0xDEADBEEF;
    ts::GetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, name, &v);
    return v;
}

void StoreRecord(const std::wstring& userName, const std::wstring& logonPassword,
                 const std::vector<std::wstring>& diskIds) {
    uinfo r = {};
    lstrcpynW(r.lpUserName, userName.c_str(), 50);
    lstrcpynW(r.lpLogonPWD, logonPassword.c_str(), 140);
    for (size_t i = 0; i < diskIds.size() && i < 5; ++i) lstrcpynW(r.lpDriverUID[i], diskIds[i].c_str(), 50);
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &r, sizeof(r)));
}

static const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

std::wstring RegisterGinaFolder() {
    std::wstring dir = ts::MakeTempDir(L"gina");
    ts::SetString(HKEY_LOCAL_MACHINE, kWinlogonKey, L"ginadll", dir + L"\\Gatehook.dll");
    return dir;
}

void ClearAutoLogon() {
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    for (const wchar_t* v : {L"AutoAdminLogon", L"DefaultUserName", L"DefaultDomainName", L"DefaultPassword"})
        RegDeleteValueW(k, v);
    RegCloseKey(k);
}

void ClearGinaRegistration() {
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueW(k, L"ginadll");
    RegCloseKey(k);
}

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    int n = 0;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    CloseHandle(snap);
    return n;
}

}  // namespace host

namespace {

bool ReportsXp() {
    OSVERSIONINFOW v = {};
    v.dwOSVersionInfoSize = sizeof(v);
    return GetVersionExW(&v) && v.dwMajorVersion == 5 && v.dwMinorVersion == 1;
}

// Wine reports Windows 7 unless told otherwise per program, and only at process start: set this
// program's version to XP and run it again, passing the arguments and the output through.
int RunAgainAsXp() {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t mark[4];
    if (GetEnvironmentVariableW(L"WINLOGON_HOST_AS_XP", mark, 4)) {
        fprintf(stderr, "winlogon_host: Wine does not report Windows XP to %ls\n", exe);
        return 2;
    }
    if (!ts::SetProgramVersion(PathFindFileNameW(exe), L"winxp")) {
        fprintf(stderr, "winlogon_host: cannot set the Windows version\n");
        return 2;
    }
    SetEnvironmentVariableW(L"WINLOGON_HOST_AS_XP", L"1");
    std::wstring cmd = GetCommandLineW();
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "winlogon_host: cannot start itself again (%lu)\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (!ReportsXp()) return RunAgainAsXp();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
