// Settings store: the switches and the user record under HKLM\SOFTWARE\Quorel\Vantor.
// No cache: every call opens the key, does its work and closes it, so other processes see
// a change at their next call.
#include "settings_internal.h"

#include <sddl.h>
#include <string.h>
#include <wchar.h>

namespace corelib {

SettingsSeams g_settingsSeams = {
    ::RegOpenKeyExW,
    ::RegCreateKeyExW,
};

namespace {

const wchar_t kRecordValue[] = L"QJ_uinfo";
const size_t kLogonPwdChars = sizeof(uinfo::lpLogonPWD) / sizeof(wchar_t);

LONG CreateSettingsKey(REGSAM access, HKEY* key) {
    *key = nullptr;
    // Never create the key without its DACL: it would inherit read access for every user.
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(CORELIB_SETTINGS_SDDL, SDDL_REVISION_1, &sd,
                                                              nullptr)) {
        LONG e = static_cast<LONG>(GetLastError());
        return e != ERROR_SUCCESS ? e : ERROR_NOT_ENOUGH_MEMORY;
    }
    SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
    DWORD disposition = 0;
    LONG r = g_settingsSeams.RegCreateKeyExW(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, access | WRITE_DAC, &sa, key, &disposition);
    if (r == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY) {
        // Set it once more on the new key: not every registry honours the descriptor given at
        // creation (Wine ignores it). A new key that keeps the inherited DACL is removed again.
        r = RegSetKeySecurity(*key, DACL_SECURITY_INFORMATION, sd);
        if (r != ERROR_SUCCESS) {
            RegCloseKey(*key);
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY);
        }
    }
    LocalFree(sd);
    if (r != ERROR_SUCCESS) *key = nullptr;
    return r;
}

bool ValidSwitchName(const wchar_t* name) {
    // NULL or "" would address the key's default value, which is no switch.
    return name && *name;
}

// At most 4 bytes, whatever the stored type; fewer bytes fill the low end.
bool ReadSwitch(HKEY key, const wchar_t* name, DWORD* value) {
    *value = 0;
    DWORD size = sizeof(*value);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS)
        return true;
    *value = 0;
    return false;
}

LONG WriteSwitch(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// Reads QJ_uinfo into out (already zeroed). Only 1140 bytes ever reach out: a longer stored value
// is read whole into a buffer of its own size and cut; a shorter one fills the start.
LONG ReadRecordValue(HKEY key, uinfo* out) {
    DWORD size = 0;
    LONG r = RegQueryValueExW(key, kRecordValue, nullptr, nullptr, nullptr, &size);
    if (r != ERROR_SUCCESS) return r;
    // Another process may grow the value between the two queries: retry a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        BYTE local[sizeof(uinfo)];
        BYTE* buffer = local;
        DWORD got = sizeof(local);
        if (size > sizeof(local)) {
            buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
            if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
            got = size;
        }
        r = RegQueryValueExW(key, kRecordValue, nullptr, nullptr, buffer, &got);
        if (r == ERROR_SUCCESS) memcpy(out, buffer, got < sizeof(uinfo) ? got : sizeof(uinfo));
        SecureZeroMemory(buffer, buffer == local ? sizeof(local) : size);
        if (buffer != local) HeapFree(GetProcessHeap(), 0, buffer);
        if (r != ERROR_MORE_DATA) return r;
        size = got;
    }
    return r;
}

// The read behind GetUserInfo, returning the registry error so that callers can tell
// "nothing stored" (ERROR_FILE_NOT_FOUND, key or value) from a failed read.
LONG ReadRecord(uinfo* out) {
    ZeroMemory(out, sizeof(*out));
    HKEY key;
    LONG r = OpenSettingsKey(KEY_QUERY_VALUE, &key);
    if (r != ERROR_SUCCESS) {
        DEBUG_MSG_E("GetUserInfo RegOpenKey,%d", static_cast<int>(r));
        SetLastError(static_cast<DWORD>(r));
        return r;
    }
    r = ReadRecordValue(key, out);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) {
        DEBUG_MSG_E("GetUserInfo RegQueryValueEx,%d", static_cast<int>(r));
        SetLastError(static_cast<DWORD>(r));
    }
    return r;
}

LONG WriteRecord(const uinfo* record) {
    HKEY key;
    LONG r = OpenOrCreateSettingsKey(KEY_SET_VALUE | READ_CONTROL | WRITE_DAC, &key);
    if (r != ERROR_SUCCESS) return r;
    // The record holds both passwords: it goes only into a key that SYSTEM and Administrators alone
    // may read, whoever made the key.
    switch (ProtectSettingsKey(key, &r)) {
    case KeyDacl::Intact:
        break;
    case KeyDacl::Repaired:
        LogEvent(L"设置键 HKLM\\%ls 的访问权限不安全，已改为仅 SYSTEM 和 Administrators 可访问。", CORELIB_SETTINGS_KEY);
        break;
    case KeyDacl::Failed:
        LogEvent(L"设置键 HKLM\\%ls 的访问权限无法检查或修复（错误 %ld），用户信息未写入。", CORELIB_SETTINGS_KEY,
                 static_cast<long>(r));
        RegCloseKey(key);
        return r;
    }
    r = RegSetValueExW(key, kRecordValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(record), sizeof(uinfo));
    RegCloseKey(key);
    return r;
}

}  // namespace

LONG OpenSettingsKey(REGSAM access, HKEY* key) {
    *key = nullptr;
    LONG r = g_settingsSeams.RegOpenKeyExW(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, 0, access, key);
    if (r != ERROR_SUCCESS) *key = nullptr;
    return r;
}

LONG OpenOrCreateSettingsKey(REGSAM access, HKEY* key) {
    if (OpenSettingsKey(access, key) == ERROR_SUCCESS) return ERROR_SUCCESS;
    return CreateSettingsKey(access, key);
}

}  // namespace corelib

using namespace corelib;

extern "C" {

DWORD CORELIB_CALL GetMonitorKeyStyle(const wchar_t* valueName) {
    if (!ValidSwitchName(valueName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    HKEY key;
    bool writable = false;
    if (OpenSettingsKey(KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        // A missing key is created, and the switch will have to be written anyway.
        if (CreateSettingsKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 0;
        writable = true;
    }
    DWORD value = 0;
    if (!ReadSwitch(key, valueName, &value)) {
        // Missing, or longer than a DWORD: (re)create it switched on. A caller that may
        // only read the key gets 0 and the switch stays missing.
        if (writable) {
            WriteSwitch(key, valueName, 1);
        } else {
            HKEY writer;
            if (OpenSettingsKey(KEY_SET_VALUE, &writer) == ERROR_SUCCESS) {
                WriteSwitch(writer, valueName, 1);
                RegCloseKey(writer);
            }
        }
        ReadSwitch(key, valueName, &value);
    }
    RegCloseKey(key);
    return value;
}

LONG CORELIB_CALL SetMonitorKeyStyle(const wchar_t* valueName, DWORD value) {
    if (!ValidSwitchName(valueName)) return ERROR_INVALID_PARAMETER;
    HKEY key;
    LONG r = OpenOrCreateSettingsKey(KEY_SET_VALUE, &key);
    if (r != ERROR_SUCCESS) return r;
    r = WriteSwitch(key, valueName, value);
    LONG closed = RegCloseKey(key);
    return r != ERROR_SUCCESS ? r : closed;
}

BOOL CORELIB_CALL GetUserInfo(uinfo* record) {
    if (!record) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return ReadRecord(record) == ERROR_SUCCESS;
}

BOOL CORELIB_CALL SetUserInfo(const uinfo* record) {
    if (!record) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LONG r = WriteRecord(record);
    if (r != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(r));
        return FALSE;
    }
    return TRUE;
}

BOOL CORELIB_CALL IsRegisterUinfo(void) {
    HKEY key;
    if (OpenSettingsKey(KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return FALSE;
    DWORD size = 0;
    LONG r = RegQueryValueExW(key, kRecordValue, nullptr, nullptr, nullptr, &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && size > 0;
}

BOOL CORELIB_CALL Check_lpLogonPWD(const wchar_t* password) {
    if (!password) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uinfo record;
    LONG r = ReadRecord(&record);
    BOOL match = FALSE;
    // With nothing stored the password is empty; a record that could not be read matches nothing.
    if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) {
        // The stored text ends at its NUL or at the end of its field, whichever comes first.
        size_t stored = FieldLength(record.lpLogonPWD, kLogonPwdChars);
        size_t given = wcsnlen(password, kLogonPwdChars + 1);
        match = given == stored && wmemcmp(password, record.lpLogonPWD, stored) == 0;
    }
    SecureZeroMemory(&record, sizeof(record));
    return match;
}

BOOL CORELIB_CALL Set_lpLogonPWD(const wchar_t* password) {
    // 139 characters and the NUL fit the field; a longer password is refused, never cut.
    if (!password || wcsnlen(password, kLogonPwdChars) >= kLogonPwdChars) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uinfo record;
    LONG r = ReadRecord(&record);
    // Writing after a failed read would replace the enrolment with an empty record.
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
        SetLastError(static_cast<DWORD>(r));
        return FALSE;
    }
    // Clear the whole field so that no tail of the old password stays behind the new NUL.
    ZeroMemory(record.lpLogonPWD, sizeof(record.lpLogonPWD));
    CopyWhole(record.lpLogonPWD, kLogonPwdChars, password);
    r = WriteRecord(&record);
    SecureZeroMemory(&record, sizeof(record));
    if (r != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(r));
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
