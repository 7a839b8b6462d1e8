// Child program for the set-up tests: runs Corelib's set-up calls under the Windows version that
// Wine reports to this program's file name, and prints one UTF-8 line per command.
//   os                         -> "os <class> <IsWin7> <major>.<minor> <product type>"
//   path <suffix>              -> "path <ZarnRegByDllPath result>"
//   write | delete             -> "write <rc>" | "delete <rc>"
//   start|stop|install|uninstall -> "<command> <shell result>"
//   lsa | lsa-refuse           -> from now on every LSA secret call prints "lsa <name>=<value>" (or
//                                 "=(deleted)") and succeeds, or is refused with access denied
#include <windows.h>

#include <string>

#include "internal.h"
#include "testsupport.h"

namespace {

std::wstring g_out;

void Line(const std::wstring& s) { g_out += s + L"\n"; }

std::wstring Num(long long v) { return std::to_wstring(v); }

NTSTATUS g_secretAnswer = 0;

std::wstring Text(const LSA_UNICODE_STRING* s) {
    return s && s->Buffer ? std::wstring(s->Buffer, s->Length / sizeof(wchar_t)) : std::wstring();
}

NTSTATUS WINAPI PrintSecret(LSA_HANDLE, PLSA_UNICODE_STRING name, PLSA_UNICODE_STRING data) {
    Line(L"lsa " + Text(name) + L"=" + (data ? Text(data) : std::wstring(L"(deleted)")));
    return g_secretAnswer;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::wstring cmd = argv[i];
        if (cmd == L"os") {
            OSVERSIONINFOEXW vi = {};
            vi.dwOSVersionInfoSize = sizeof(vi);
            GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&vi));
            Line(L"os " + Num(corelib::OsClass()) + L" " + Num(IsWin7()) + L" " + Num(vi.dwMajorVersion) + L"." +
                 Num(vi.dwMinorVersion) + L" " + Num(vi.wProductType));
        } else if (cmd == L"path" && i + 1 < argc) {
            wchar_t out[260];
            const wchar_t* suffix = argv[++i];
            Line(L"path " + std::wstring(ZarnRegByDllPath(out, suffix)));
        } else if (cmd == L"write") {
            Line(L"write " + Num(WriteGianPathToReg()));
        } else if (cmd == L"delete") {
            Line(L"delete " + Num(DeleteGianPathToReg()));
        } else if (cmd == L"start" || cmd == L"stop") {
            Line(cmd + L" " + Num(StartOrStopService(cmd == L"start")));
        } else if (cmd == L"install" || cmd == L"uninstall") {
            Line(cmd + L" " + Num(InstallOrUninstallService(cmd == L"install")));
        } else if (cmd == L"lsa" || cmd == L"lsa-refuse") {
            g_secretAnswer = cmd == L"lsa" ? 0 : static_cast<NTSTATUS>(0xC0000022L);  // STATUS_ACCESS_DENIED
            corelib::g_seams.LsaStorePrivateData = PrintSecret;
        } else {
            Line(L"unknown " + cmd);
            status = 2;
        }
    }
    std::string bytes = ts::Narrow(g_out);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return status;
}
