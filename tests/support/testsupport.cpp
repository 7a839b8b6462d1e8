#include "testsupport.h"

#include <shlwapi.h>
#include <shellapi.h>
#include <stdio.h>

namespace ts {

std::wstring ExeDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    PathRemoveFileSpecW(path);
    return path;
}

std::wstring InExeDir(const std::wstring& name) { return ExeDir() + L"\\" + name; }

bool DeleteKeyTree(HKEY root, const std::wstring& path) {
    SHDeleteKeyW(root, path.c_str());
    return !KeyExists(root, path);
}

void ResetSettings() { DeleteKeyTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quorel"); }

static bool SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
                     DWORD size) {
    HKEY k;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(k, name.empty() ? nullptr : name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value) {
    return SetValue(root, path, name, REG_DWORD, &value, sizeof(value));
}

bool SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value) {
    return SetValue(root, path, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool SetBinary(HKEY root, const std::wstring& path, const std::wstring& name, const void* data, DWORD size,
               DWORD type) {
    return SetValue(root, path, name, type, data, size);
}

bool GetValue(HKEY root, const std::wstring& path, const std::wstring& name, std::vector<BYTE>* data, DWORD* type) {
    HKEY k;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
    DWORD t = 0, size = 0;
    const wchar_t* n = name.empty() ? nullptr : name.c_str();
    LONG r = RegQueryValueExW(k, n, nullptr, &t, nullptr, &size);
    if (r == ERROR_SUCCESS) {
        std::vector<BYTE> buf(size);
        r = RegQueryValueExW(k, n, nullptr, &t, buf.empty() ? nullptr : buf.data(), &size);
        buf.resize(size);
        if (data) *data = buf;
        if (type) *type = t;
    }
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

bool GetString(HKEY root, const std::wstring& path, const std::wstring& name, std::wstring* value) {
    std::vector<BYTE> d;
    if (!GetValue(root, path, name, &d)) return false;
    std::wstring s(reinterpret_cast<const wchar_t*>(d.data()), d.size() / sizeof(wchar_t));
    while (!s.empty() && s.back() == 0) s.pop_back();
    if (value) *value = s;
    return true;
}

bool GetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD* value) {
    std::vector<BYTE> d;
    DWORD t = 0;
    if (!GetValue(root, path, name, &d, &t) || d.size() != sizeof(DWORD)) return false;
    if (value) memcpy(value, d.data(), sizeof(DWORD));
    return true;
}

bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name) {
    return GetValue(root, path, name, nullptr);
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY k;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

bool SetProgramVersion(const std::wstring& exeName, const std::wstring& version) {
    return SetString(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + exeName, L"Version", version);
}

bool CopyProgram(const std::wstring& from, const std::wstring& to) {
    return CopyFileW(InExeDir(from).c_str(), InExeDir(to).c_str(), FALSE) != FALSE;
}

ChildResult RunChild(const std::wstring& commandLine, DWORD timeoutMs) {
    ChildResult res;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE rd = nullptr, wr = nullptr;
    if (!CreatePipe(&rd, &wr, &sa, 0)) return res;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = wr;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, ExeDir().c_str(), &si, &pi)) {
        CloseHandle(rd);
        CloseHandle(wr);
        return res;
    }
    CloseHandle(wr);
    res.started = true;
    char buf[4096];
    DWORD got = 0;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD avail = 0;
        if (PeekNamedPipe(rd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
            if (ReadFile(rd, buf, sizeof(buf), &got, nullptr) && got) res.output.append(buf, got);
            continue;
        }
        if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) {
            while (PeekNamedPipe(rd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
                   ReadFile(rd, buf, sizeof(buf), &got, nullptr) && got)
                res.output.append(buf, got);
            break;
        }
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    GetExitCodeProcess(pi.hProcess, &res.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(rd);
    return res;
}

std::string Narrow(const std::wstring& s) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, 0);
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n, 0);
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

std::wstring MakeTempDir(const std::wstring& tag) {
    wchar_t tmp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tmp);
    static LONG counter = 0;
    for (int i = 0; i < 1000; ++i) {
        wchar_t name[MAX_PATH];
        swprintf(name, MAX_PATH, L"%lstolven_%ls_%lu_%ld", tmp, tag.c_str(), GetCurrentProcessId(),
                 InterlockedIncrement(&counter));
        if (CreateDirectoryW(name, nullptr)) return name;
    }
    return L"";
}

bool RemoveTree(const std::wstring& path) {
    std::wstring from = path;
    from.push_back(0);  // double NUL for SHFileOperation
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    return SHFileOperationW(&op) == 0;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    char buf[8192];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got) out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool AppendFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD w = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &w, nullptr);
    CloseHandle(h);
    return ok && w == bytes.size();
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD w = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &w, nullptr);
    CloseHandle(h);
    return ok && w == bytes.size();
}

std::string WineFact(const char* fact) {
    return std::string("environment check, not the product: the test relies on Wine 8's ") + fact +
           ", and this Wine behaves otherwise";
}

std::string Hex(unsigned long value) {
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%08lX", value);
    return buf;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &n) ? std::wstring(name, n) : std::wstring();
}

std::vector<std::string> SplitLines(const std::string& text, bool keepEmpty) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (keepEmpty || !line.empty()) out.push_back(line);
        start = end + 1;
    }
    return out;
}

std::string SolidBmp(int width, int height, COLORREF colour) {
    const int row = ((width * 3 + 3) / 4) * 4;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + row * height;
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(row * height);
    std::string out(reinterpret_cast<const char*>(&file), sizeof(file));
    out.append(reinterpret_cast<const char*>(&info), sizeof(info));
    std::string line(row, '\0');
    for (int x = 0; x < width; ++x) {
        line[x * 3] = static_cast<char>(GetBValue(colour));
        line[x * 3 + 1] = static_cast<char>(GetGValue(colour));
        line[x * 3 + 2] = static_cast<char>(GetRValue(colour));
    }
    for (int y = 0; y < height; ++y) out += line;
    return out;
}

}  // namespace ts
