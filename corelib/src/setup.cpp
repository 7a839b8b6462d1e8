// Installation folder, registration of the logon module (GINA before Vista, credential provider
// from Vista on), the Winlogon auto-logon values and starting the service program with a switch.
#include "internal.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <wchar.h>

namespace corelib {
namespace {

const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t kGinaValue[] = L"ginadll";
const wchar_t kClassKey[] = L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT;
const wchar_t kInprocKey[] = L"CLSID\\" CORELIB_PROVIDER_CLSID_TEXT L"\\InprocServer32";
const wchar_t kProvidersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\" CORELIB_PROVIDER_CLSID_TEXT;
const wchar_t kFiltersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Provider "
                              L"Filters\\" CORELIB_PROVIDER_CLSID_TEXT;
const wchar_t kGatehookName[] = L"Gatehook.dll";
const wchar_t kLogontileName[] = L"Logontile.dll";
const wchar_t kServiceProgram[] = L"\\Sentry.exe";
// Above 32, as the shell's HINSTANCE of a started program: the value callers take for success.
const INT_PTR kStarted = 42;
// Winlogon's auto-logon password lives in the LSA secret of this name, never in its registry key.
const wchar_t kAutoLogonSecret[] = L"DefaultPassword";
// The longest Windows password (CREDUI_MAX_PASSWORD_LENGTH) and its NUL.
const size_t kPasswordChars = 257;

// Longest registry text we look at; anything longer is no usable path anyway.
const DWORD kTextChars = 1024;

enum class TextState { Found, Absent, TooLong };

// Reads a REG_SZ value into out (kTextChars + 1 characters), NUL-terminated even when the stored
// string has no NUL. A missing key or value, another type or an empty string count as absent.
TextState ReadText(HKEY root, const wchar_t* subKey, const wchar_t* name, wchar_t* out) {
    out[0] = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return TextState::Absent;
    DWORD type = 0;
    DWORD size = kTextChars * sizeof(wchar_t);
    LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
    RegCloseKey(key);
    if (r == ERROR_MORE_DATA) {
        out[0] = 0;
        return type == REG_SZ ? TextState::TooLong : TextState::Absent;
    }
    if (r != ERROR_SUCCESS || type != REG_SZ) {
        out[0] = 0;
        return TextState::Absent;
    }
    out[size / sizeof(wchar_t)] = 0;
    return out[0] ? TextState::Found : TextState::Absent;
}

LONG WriteText(HKEY root, const wchar_t* subKey, const wchar_t* name, const wchar_t* text) {
    HKEY key = nullptr;
    LONG r = RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                             nullptr);
    if (r != ERROR_SUCCESS) return r;
    // Whole string with its terminating NUL.
    DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    RegCloseKey(key);
    return r;
}

// Something already gone counts as removed.
LONG Gone(LONG r) { return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r; }

LONG DeleteValue(HKEY root, const wchar_t* subKey, const wchar_t* name) {
    HKEY key = nullptr;
    LONG r = RegOpenKeyExW(root, subKey, 0, KEY_SET_VALUE, &key);
    if (r != ERROR_SUCCESS) return Gone(r);
    r = RegDeleteValueW(key, name);
    RegCloseKey(key);
    return Gone(r);
}

// Keeps the first failure while every later step still runs.
struct FirstError {
    LONG value = ERROR_SUCCESS;
    void operator()(LONG r) {
        if (value == ERROR_SUCCESS) value = r;
    }
};

bool IsExistingFile(const wchar_t* path) {
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The path of the registered logon module, or of this program when none is registered.
// False when the registered path or the program path does not fit MAX_PATH.
bool ModulePath(wchar_t (&path)[kTextChars + 1]) {
    TextState s = IsXpClass() ? ReadText(HKEY_LOCAL_MACHINE, kWinlogonKey, kGinaValue, path)
                              : ReadText(HKEY_CLASSES_ROOT, kInprocKey, nullptr, path);
    if (s == TextState::TooLong) return false;
    // A bare module name ("msgina.dll") holds no folder: it cannot tell where we are installed.
    if (s == TextState::Found && !PathIsRelativeW(path)) return wcslen(path) < MAX_PATH;
    DWORD n = GetModuleFileNameW(nullptr, path, kTextChars + 1);
    if (n == 0 || n > kTextChars) {
        path[0] = 0;
        return false;
    }
    path[n] = 0;  // XP leaves a cut name unterminated
    return n < MAX_PATH;
}

// What the shell's ShellExecuteW would have answered for a program that does not start: its codes
// up to 32 are the Win32 errors of the same numbers, and callers read them so.
INT_PTR StartError(DWORD error) {
    if (error > 0 && error <= 32) return static_cast<INT_PTR>(error);
    switch (error) {
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        return ERROR_BAD_FORMAT;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return SE_ERR_PNF;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Starts the service program with one switch, hidden, without waiting. Not through the shell: inside
// LogonUI it would run its association and attachment checks as SYSTEM on the logon desktop. The
// program is named by its full path, which is also quoted as the first argument.
INT_PTR RunServiceProgram(const wchar_t* commandSwitch) {
    wchar_t path[MAX_PATH];
    ZarnRegByDllPath(path, kServiceProgram);
    if (!path[0]) return SE_ERR_PNF;
    // The quoted path, a space, the switch and the NUL.
    wchar_t commandLine[MAX_PATH + 32];
    if (wcslen(path) + wcslen(commandSwitch) + 4 > ARRAYSIZE(commandLine)) return SE_ERR_PNF;
    swprintf(commandLine, ARRAYSIZE(commandLine), L"\"%ls\" %ls", path, commandSwitch);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        DWORD error = GetLastError();
        DEBUG_MSG("CreateProcess=%d", static_cast<int>(error));
        return StartError(error);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return kStarted;
}

// Stores password as Winlogon's auto-logon secret, or deletes the secret when password is NULL.
// Returns a Win32 error. The copy that the LSA is handed is wiped however the call ends.
LONG StoreAutoLogonSecret(const wchar_t* password) {
    LSA_OBJECT_ATTRIBUTES attributes = {};
    LSA_HANDLE policy = nullptr;
    NTSTATUS status = LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, &policy);
    if (status != 0) return static_cast<LONG>(LsaNtStatusToWinError(status));
    wchar_t nameText[ARRAYSIZE(kAutoLogonSecret)];
    wmemcpy(nameText, kAutoLogonSecret, ARRAYSIZE(kAutoLogonSecret));
    LSA_UNICODE_STRING name = {};
    name.Buffer = nameText;
    name.Length = static_cast<USHORT>((ARRAYSIZE(nameText) - 1) * sizeof(wchar_t));
    name.MaximumLength = static_cast<USHORT>(sizeof(nameText));
    wchar_t secret[kPasswordChars];
    LSA_UNICODE_STRING data = {};
    LONG r = ERROR_SUCCESS;
    if (password) {
        // Too long for any Windows account: refused rather than cut to another password.
        if (CopyWhole(secret, kPasswordChars, password)) {
            data.Buffer = secret;
            data.Length = static_cast<USHORT>(wcslen(secret) * sizeof(wchar_t));
            data.MaximumLength = static_cast<USHORT>(data.Length + sizeof(wchar_t));
        } else {
            r = ERROR_INVALID_PARAMETER;
        }
    }
    if (r == ERROR_SUCCESS)
        r = static_cast<LONG>(LsaNtStatusToWinError(g_seams.LsaStorePrivateData(policy, &name, password ? &data : nullptr)));
    SecureZeroMemory(secret, sizeof(secret));
    SecureZeroMemory(&data, sizeof(data));
    LsaClose(policy);
    return r;
}

LONG RegisterGina() {
    wchar_t path[MAX_PATH];
    ZarnRegByDllPath(path, L"\\Gatehook.dll");
    if (!path[0]) return ERROR_FILENAME_EXCED_RANGE;
    // Winlogon cannot start without a loadable GINA: never point "ginadll" at a missing file.
    if (!IsExistingFile(path)) return ERROR_FILE_NOT_FOUND;
    return WriteText(HKEY_LOCAL_MACHINE, kWinlogonKey, kGinaValue, path);
}

LONG RegisterCredentialProvider() {
    wchar_t path[MAX_PATH];
    ZarnRegByDllPath(path, L"\\Logontile.dll");
    if (!path[0]) return ERROR_FILENAME_EXCED_RANGE;
    // A provider that cannot load leaves the logon screen without its key tile while the control
    // panel believes key logon is on; the registration also names the installation folder.
    if (!IsExistingFile(path)) return ERROR_FILE_NOT_FOUND;
    FirstError first;
    first(WriteText(HKEY_CLASSES_ROOT, kClassKey, nullptr, kLogontileName));
    first(WriteText(HKEY_CLASSES_ROOT, kInprocKey, L"ThreadingModel", L"Apartment"));
    first(WriteText(HKEY_CLASSES_ROOT, kInprocKey, nullptr, path));
    first(WriteText(HKEY_LOCAL_MACHINE, kFiltersKey, nullptr, kLogontileName));
    first(WriteText(HKEY_LOCAL_MACHINE, kProvidersKey, nullptr, kLogontileName));
    return first.value;
}

LONG UnregisterGina() {
    FirstError first;
    wchar_t current[kTextChars + 1];
    // Only our own module is removed: a foreign GINA stays registered.
    if (ReadText(HKEY_LOCAL_MACHINE, kWinlogonKey, kGinaValue, current) == TextState::Found &&
        lstrcmpiW(PathFindFileNameW(current), kGatehookName) == 0)
        first(DeleteValue(HKEY_LOCAL_MACHINE, kWinlogonKey, kGinaValue));
    // Without the GINA asking for the key, the stored auto-logon would let anyone in, and the Windows
    // password it kept would stay readable in Winlogon's key.
    first(WriteText(HKEY_LOCAL_MACHINE, kWinlogonKey, L"AutoAdminLogon", L"0"));
    first(DeleteValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultPassword"));
    LONG secret = Gone(StoreAutoLogonSecret(nullptr));
    if (secret != ERROR_SUCCESS) LogEvent(L"无法删除自动登录口令（错误 %ld）。", static_cast<long>(secret));
    first(secret);
    return first.value;
}

LONG UnregisterCredentialProvider() {
    FirstError first;
    first(Gone(static_cast<LONG>(SHDeleteKeyW(HKEY_LOCAL_MACHINE, kProvidersKey))));
    first(Gone(static_cast<LONG>(SHDeleteKeyW(HKEY_LOCAL_MACHINE, kFiltersKey))));
    first(Gone(static_cast<LONG>(SHDeleteKeyW(HKEY_CLASSES_ROOT, kClassKey))));
    return first.value;
}

}  // namespace
}  // namespace corelib

using namespace corelib;

extern "C" {

wchar_t* CORELIB_CALL ZarnRegByDllPath(wchar_t out[260], const wchar_t* suffix) {
    if (!out) return nullptr;
    out[0] = 0;
    wchar_t path[kTextChars + 1];
    if (!ModulePath(path)) return out;
    PathRemoveFileSpecW(path);  // a drive root keeps its backslash: "C:\" + "\Config.ini"
    if (!suffix) suffix = L"";
    // A cut path would name another file: give "" instead.
    if (wcslen(path) + wcslen(suffix) >= MAX_PATH) return out;
    wcscpy(out, path);
    wcscat(out, suffix);
    return out;
}

LONG CORELIB_CALL WriteGianPathToReg(void) {
    return IsXpClass() ? RegisterGina() : RegisterCredentialProvider();
}

LONG CORELIB_CALL DeleteGianPathToReg(void) {
    return IsXpClass() ? UnregisterGina() : UnregisterCredentialProvider();
}

LONG CORELIB_CALL AutoLogonSystem(const wchar_t* autoAdminLogon, const wchar_t* userName, const wchar_t* domainName,
                                  const wchar_t* password) {
    if (!autoAdminLogon || !userName || !domainName) return ERROR_INVALID_PARAMETER;
    FirstError first;
    first(WriteText(HKEY_LOCAL_MACHINE, kWinlogonKey, L"AutoAdminLogon", autoAdminLogon));
    first(WriteText(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultUserName", userName));
    first(WriteText(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultDomainName", domainName));
    // Every local user can read Winlogon's key: the password goes into the LSA secret that Winlogon
    // also reads. An empty password keeps the stored one (the GINA may not know it at this logon).
    // When the secret cannot be stored Winlogon asks for the password at the next boot.
    if (password && *password) {
        LONG r = StoreAutoLogonSecret(password);
        if (r != ERROR_SUCCESS) LogEvent(L"无法保存自动登录口令（错误 %ld），Windows启动时将询问口令。", static_cast<long>(r));
        first(r);
    }
    // No clear-text copy stays, whether left by an earlier version or written by hand.
    first(DeleteValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultPassword"));
    return first.value;
}

BOOL CORELIB_CALL IsWin7(void) {
    return OsClass() >= 4;
}

INT_PTR CORELIB_CALL StartOrStopService(BOOL start) {
    return RunServiceProgram(start ? L"/start" : L"/stop");
}

INT_PTR CORELIB_CALL InstallOrUninstallService(BOOL install) {
    return RunServiceProgram(install ? L"/Install" : L"/Uninstall");
}

wchar_t* CORELIB_CALL GuidToString(const GUID* guid) {
    if (!guid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const size_t bytes = 260;
    wchar_t* text = static_cast<wchar_t*>(LocalAlloc(LPTR, bytes));
    if (!text) return nullptr;
    swprintf(text, bytes / sizeof(wchar_t), L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid->Data1,
             guid->Data2, guid->Data3, guid->Data4[0], guid->Data4[1], guid->Data4[2], guid->Data4[3], guid->Data4[4],
             guid->Data4[5], guid->Data4[6], guid->Data4[7]);
    return text;
}

}  // extern "C"
