// Stands in for the service program in the set-up tests: records how it was started in
// "cmdline.txt" beside itself (UTF-8 lines: program path, arguments, show command) and exits.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, 0);
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[1024] = {};
    DWORD n = GetModuleFileNameW(nullptr, self, 1024);
    if (n == 0 || n >= 1024) return 1;
    std::wstring args;
    for (int i = 1; i < argc; ++i) args += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    GetStartupInfoW(&si);
    int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;
    std::string text = Utf8(self) + "\n" + Utf8(args) + "\n" + std::to_string(show) + "\n";

    std::wstring dir(self);
    dir.resize(dir.find_last_of(L'\\'));
    // Written aside and renamed, so the test never reads half a record.
    std::wstring tmp = dir + L"\\cmdline.tmp", done = dir + L"\\cmdline.txt";
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    DWORD w = 0;
    BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &w, nullptr);
    CloseHandle(h);
    if (!ok || !MoveFileExW(tmp.c_str(), done.c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
    return 0;
}
