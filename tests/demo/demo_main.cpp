// Walks the installed deliverables step by step and prints what each step observed: the settings
// store, the user record, the registration, then the main road in both key modes (the key pulled,
// the service locks, the logon tile unlocks when the key returns, the service watches again).
// It runs in the install folder, as the logon modules do, and uses its Corelib.dll.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "corelib.h"
#include "roadkit.h"

namespace {

int g_failures = 0;
std::string g_firstFailure;

void Print(const std::string& utf8) {
    std::string line = utf8 + "\n";
    DWORD w = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &w, nullptr);
}

std::string U(const std::wstring& s) { return road::Utf8(s); }

void Step(bool ok, const std::string& what, const std::string& seen, const std::string& where) {
    Print((ok ? "  [ok]   " : "  [FAIL] ") + what + ": " + seen);
    if (ok) return;
    if (g_firstFailure.empty()) g_firstFailure = where + ": " + what + " (" + seen + ")";
    ++g_failures;
}

int g_section = 0;

// Numbered sections, one line per observed step.
class Printer : public road::Reporter {
public:
    void Section(const std::string& title) override {
        section_ = std::to_string(++g_section) + ". " + title;
        Print(section_);
    }
    void Step(bool ok, const std::string& what, const std::string& seen) override {
        ::Step(ok, what, seen, section_);
    }
    void Note(const std::string& text) { Print("         " + text); }

private:
    std::string section_;
};

std::wstring RegString(HKEY root, const wchar_t* path, const wchar_t* name) {
    wchar_t buf[600] = {};
    DWORD size = sizeof(buf) - sizeof(wchar_t);
    if (SHGetValueW(root, path, name, nullptr, buf, &size) != ERROR_SUCCESS) return L"(none)";
    return buf;
}

void StoreBasics(Printer& p, const std::wstring& dir) {
    p.Section("Settings store (HKLM\\SOFTWARE\\Quorel\\Vantor)");
    DWORD first = GetMonitorKeyStyle(L"QJ_RemoveLock");
    p.Step(first == 1, "a switch read for the first time starts on", "QJ_RemoveLock=" + std::to_string(first));
    SetMonitorKeyStyle(L"QJ_IntervalMonitor", 0);
    DWORD off = GetMonitorKeyStyle(L"QJ_IntervalMonitor");
    p.Step(off == 0, "a switch written off reads back off", "QJ_IntervalMonitor=" + std::to_string(off));

    p.Section("User record (QJ_uinfo, 1140 bytes)");
    uinfo rec = {};
    wcscpy(rec.lpUserName, L"演示用户");
    wcscpy(rec.lpComputerName, L"DEMO-PC");
    rec.ulTokenSerial = 0x12345678;
    BOOL saved = SetUserInfo(&rec);
    uinfo back = {};
    BOOL read = GetUserInfo(&back);
    p.Step(saved && read && memcmp(&rec, &back, sizeof(rec)) == 0, "the record round-trips whole",
           "user=" + U(back.lpUserName) + ", computer=" + U(back.lpComputerName));

    p.Section("Registration of the logon module");
    bool vista = IsWin7() != FALSE;
    p.Step(true, "running Windows", vista ? "Vista or later: credential provider" : "XP-class: GINA");
    LONG r = WriteGianPathToReg();
    const wchar_t* clsidKey = L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT L"\\InprocServer32";
    const wchar_t* winlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    std::wstring where = vista ? RegString(HKEY_CLASSES_ROOT, clsidKey, nullptr)
                               : RegString(HKEY_LOCAL_MACHINE, winlogon, L"ginadll");
    p.Step(r == 0 && where != L"(none)", "WriteGianPathToReg registers the module", U(where));
    wchar_t ini[MAX_PATH] = {};
    ZarnRegByDllPath(ini, L"\\Config.ini");
    p.Step(_wcsicmp(ini, (dir + L"\\Config.ini").c_str()) == 0, "the install folder is found through the registration",
           U(ini));
    LONG u = DeleteGianPathToReg();
    std::wstring after = vista ? RegString(HKEY_CLASSES_ROOT, clsidKey, nullptr)
                               : RegString(HKEY_LOCAL_MACHINE, winlogon, L"ginadll");
    p.Step(u == 0 && after == L"(none)", "DeleteGianPathToReg removes it again", U(after));
}

}  // namespace

int wmain() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    PathRemoveFileSpecW(self);
    std::wstring dir = self;
    Print("Tolven电脑锁 demo, installed in " + U(dir));
    Printer p;
    StoreBasics(p, dir);

    p.Section("What Wine cannot run");
    road::InstallFolder install(dir);
    std::string swapped;
    bool ok = install.UseWineTestBuilds(dir + L"\\wine-test-builds", &swapped);
    p.Step(ok, "test builds of two deliverables take their place", swapped);
    p.Note("Porter.exe: Wine's LockWorkStation is a stub; this build records the switch it was started with");
    p.Note("(PorterCalls.txt) instead of locking. Logontile.dll: Wine cannot look up the \"Negotiate\" package;");
    p.Note("this build answers 0x4E47 and records a forced shut-down instead of running it. Same code otherwise.");
    p.Note("LogonUiHost.exe plays LogonUI; the token and the USB disk are simulated in the registry.");

    road::Times times[2];
    const road::Key::Mode modes[] = {road::Key::Mode::UsbDisk, road::Key::Mode::Token};
    for (int i = 0; ok && i < 2; ++i) {
        road::CleanMachine();
        road::Key key(modes[i]);
        road::Road r(dir, key, p);
        ok = r.WalkKeyRemoval();
        times[i] = r.times();
        if (!ok && !r.hostLog().empty()) Print("LogonUI host log:\n" + r.hostLog());
    }
    road::CleanMachine();

    if (g_failures) {
        Print("Demo FAILED at " + g_firstFailure);
        return 1;
    }
    for (int i = 0; i < 2; ++i) {
        char line[160];
        snprintf(line, sizeof(line), "  %s: Porter started %.0f ms after the removal notice, ReportResult %.0f ms after the key",
                 modes[i] == road::Key::Mode::Token ? "token" : "USB disk", times[i].removalToPorterMs,
                 times[i].keyToReportResultMs);
        Print(line);
    }
    Print("Demo succeeded: in both key modes the pulled key locked the session and the returned key unlocked it.");
    return 0;
}
