// Walks the installed deliverables step by step and prints what each step observed.
// It loads Corelib.dll from the install folder it runs in, as the logon modules do.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "corelib.h"

namespace {

int g_failures = 0;

void Print(const std::wstring& s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string u(n > 0 ? n - 1 : 0, 0);
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, &u[0], n, nullptr, nullptr);
    u += "\n";
    DWORD w = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), u.data(), static_cast<DWORD>(u.size()), &w, nullptr);
}

void Step(bool ok, const std::wstring& what, const std::wstring& seen) {
    Print((ok ? L"  [ok]   " : L"  [FAIL] ") + what + L": " + seen);
    if (!ok) ++g_failures;
}

std::wstring RegString(HKEY root, const wchar_t* path, const wchar_t* name) {
    wchar_t buf[600] = {};
    DWORD size = sizeof(buf) - sizeof(wchar_t);
    if (SHGetValueW(root, path, name, nullptr, buf, &size) != ERROR_SUCCESS) return L"(none)";
    return buf;
}

template <typename F>
F Bind(HMODULE m, const char* name) {
    F f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
    if (!f) {
        Print(L"  [FAIL] Corelib.dll lacks " + std::wstring(name, name + strlen(name)));
        ++g_failures;
    }
    return f;
}

}  // namespace

int wmain() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    PathRemoveFileSpecW(self);
    std::wstring dir = self;
    Print(L"Tolven电脑锁 demo, installed in " + dir);

    HMODULE core = LoadLibraryW((dir + L"\\Corelib.dll").c_str());
    if (!core) {
        Print(L"  [FAIL] Corelib.dll does not load");
        return 1;
    }
    auto getSwitch = Bind<DWORD(__cdecl*)(const wchar_t*)>(core, "GetMonitorKeyStyle");
    auto setSwitch = Bind<LONG(__cdecl*)(const wchar_t*, DWORD)>(core, "SetMonitorKeyStyle");
    auto getUser = Bind<BOOL(__cdecl*)(uinfo*)>(core, "GetUserInfo");
    auto setUser = Bind<BOOL(__cdecl*)(const uinfo*)>(core, "SetUserInfo");
    auto isWin7 = Bind<BOOL(__cdecl*)()>(core, "IsWin7");
    auto dllPath = Bind<wchar_t*(__cdecl*)(wchar_t*, const wchar_t*)>(core, "ZarnRegByDllPath");
    auto reg = Bind<LONG(__cdecl*)()>(core, "WriteGianPathToReg");
    auto unreg = Bind<LONG(__cdecl*)()>(core, "DeleteGianPathToReg");
    if (g_failures) return 1;

    Print(L"1. Settings store (HKLM\\SOFTWARE\\Quorel\\Vantor)");
    DWORD first = getSwitch(L"QJ_RemoveLock");
    Step(first == 1, L"a switch read for the first time starts on", L"QJ_RemoveLock=" + std::to_wstring(first));
    setSwitch(L"QJ_IntervalMonitor", 0);
    DWORD off = getSwitch(L"QJ_IntervalMonitor");
    Step(off == 0, L"a switch written off reads back off", L"QJ_IntervalMonitor=" + std::to_wstring(off));

    Print(L"2. User record (QJ_uinfo, 1140 bytes)");
    uinfo rec = {};
    wcscpy(rec.lpUserName, L"演示用户");
    wcscpy(rec.lpComputerName, L"DEMO-PC");
    rec.ulTokenSerial = 0x12345678;
    BOOL saved = setUser(&rec);
    uinfo back = {};
    BOOL read = getUser(&back);
    Step(saved && read && memcmp(&rec, &back, sizeof(rec)) == 0, L"the record round-trips whole",
         std::wstring(L"user=") + back.lpUserName + L", computer=" + back.lpComputerName);

    Print(L"3. Registration of the logon module");
    bool vista = isWin7() != FALSE;
    Step(true, L"running Windows", vista ? L"Vista or later: credential provider" : L"XP-class: GINA");
    LONG r = reg();
    const wchar_t* clsidKey = L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT L"\\InprocServer32";
    const wchar_t* winlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    std::wstring where = vista ? RegString(HKEY_CLASSES_ROOT, clsidKey, nullptr)
                               : RegString(HKEY_LOCAL_MACHINE, winlogon, L"ginadll");
    Step(r == 0 && where != L"(none)", L"WriteGianPathToReg registers the module", where);
    wchar_t ini[MAX_PATH] = {};
    dllPath(ini, L"\\Config.ini");
    Step(_wcsicmp(ini, (dir + L"\\Config.ini").c_str()) == 0, L"the install folder is found through the registration",
         ini);
    LONG u = unreg();
    std::wstring after = vista ? RegString(HKEY_CLASSES_ROOT, clsidKey, nullptr)
                               : RegString(HKEY_LOCAL_MACHINE, winlogon, L"ginadll");
    Step(u == 0 && after == L"(none)", L"DeleteGianPathToReg removes it again", after);

    Print(g_failures ? L"Demo FAILED (" + std::to_wstring(g_failures) + L" steps)" : L"Demo succeeded.");
    return g_failures ? 1 : 0;
}
