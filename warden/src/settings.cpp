#include "settings.h"

#include <commdlg.h>
#include <stdio.h>
#include <wchar.h>

#include "keys.h"
#include "prefs.h"
#include "seams.h"

namespace warden {

const SettingsSwitch kSettingsSwitches[kSettingsSwitchCount] = {
    {30003, L"QJ_IntervalMonitor"}, {30004, L"QJ_CtrlAltDel"},     {30001, L"QJ_KaiJiChcekKey"},
    {30002, L"QJ_SuoPingCheckKey"}, {30010, L"QJ_EnableTolven"},   {30011, L"QJ_OnPowerAutorun"},
    {30012, L"QJ_CloseAppToTP"},    {30013, L"QJ_RemoveLock"},     {30008, L"AutoLogonSoft"},
};

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValueName[] = L"Warden";

namespace {

constexpr int kCheckAutorun = 30011;
const wchar_t kPreferences[] = L"Preferences";

int IndexOf(int checkId) {
    for (int i = 0; i < kSettingsSwitchCount; ++i)
        if (kSettingsSwitches[i].checkId == checkId) return i;
    return -1;
}

std::wstring ReadPref(const wchar_t* configPath, const wchar_t* section, const wchar_t* key, size_t chars) {
    wchar_t buffer[kLockMessageChars + 1] = {};
    prefs::Read(configPath, section, key, L"", buffer, static_cast<DWORD>(chars + 1));
    buffer[chars] = 0;
    return buffer;
}

DWORD WritePref(const wchar_t* configPath, const wchar_t* key, const std::wstring& value) {
    if (!configPath || !configPath[0]) return ERROR_INVALID_NAME;  // the installation folder is unknown
    SetLastError(0);
    if (prefs::Write(configPath, kPreferences, key, value.c_str())) return 0;
    DWORD e = GetLastError();
    return e ? e : ERROR_WRITE_FAULT;
}

DWORD SwitchError(const wchar_t* name, DWORD value) {
    return static_cast<DWORD>(g_seams.setMonitorKeyStyle(name, value));
}

}  // namespace

bool SettingsPage::Checked(int checkId) const {
    int i = IndexOf(checkId);
    return i >= 0 && checked[i];
}

void SettingsPage::SetChecked(int checkId, bool on) {
    int i = IndexOf(checkId);
    if (i >= 0) checked[i] = on;
}

void LoadSettings(const uinfo& record, int deviceMode, const wchar_t* configPath, SettingsPage* page) {
    for (int i = 0; i < kSettingsSwitchCount; ++i)
        page->checked[i] = GetMonitorKeyStyle(kSettingsSwitches[i].name) != 0;
    // Logon management with no key for this mode locks the user out.
    page->logonManagementEnabled = IsKeyEnrolled(record, deviceMode);
    if (!page->logonManagementEnabled) {
        page->SetChecked(kCheckLogonManagement, false);
        g_seams.setMonitorKeyStyle(L"QJ_EnableTolven", 0);
    }
    page->lockMessage = ReadPref(configPath, kPreferences, L"LockMes", kLockMessageChars);
    page->picturePath = ReadPref(configPath, kPreferences, L"UserPic", kPicturePathChars);
    const std::wstring version = ReadPref(configPath, L"UPDATE", L"VERSION", kVersionChars);
    page->versionText = L"主程序版本：" + version;
}

std::wstring LockMessageForSave(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            ++i;
            continue;
        }
        out += text[i];
    }
    if (out.size() > kLockMessageChars) out.resize(kLockMessageChars);
    return out;
}

Outcome SaveSettings(const SettingsPage& page, const wchar_t* configPath) {
    WriteSequence writes;
    for (int i = 0; i < kSettingsSwitchCount; ++i)
        if (!writes.Step(SwitchError(kSettingsSwitches[i].name, page.checked[i] ? 1 : 0))) return writes.Result();

    // Registration and service follow the box on every save, changed or not.
    const bool managed = page.Checked(kCheckLogonManagement);
    if (!writes.Step(static_cast<DWORD>(managed ? g_seams.writeGianPathToReg() : g_seams.deleteGianPathToReg())))
        return writes.Result();
    if (IsWin7() && !writes.Step(ServiceError(g_seams.startOrStopService(managed ? TRUE : FALSE))))
        return writes.Result();

    if (!writes.Step(page.Checked(kCheckAutorun) ? RegisterAutoRun() : UnregisterAutoRun())) return writes.Result();

    std::wstring picture = page.picturePath.substr(0, kPicturePathChars);
    if (!writes.Step(WritePref(configPath, L"UserPic", picture))) return writes.Result();
    writes.Step(WritePref(configPath, L"LockMes", LockMessageForSave(page.lockMessage)));
    return writes.Result();
}

Outcome OneKeyFree(SettingsPage* page) {
    static const int kChecks[] = {30001, 30002, 30013};
    for (int id : kChecks) page->SetChecked(id, false);
    WriteSequence writes;
    for (int id : kChecks)
        if (!writes.Step(SwitchError(kSettingsSwitches[IndexOf(id)].name, page->Checked(id) ? 1 : 0))) break;
    return writes.Result();
}

DWORD RunValueText(std::wstring* text) {
    wchar_t path[MAX_PATH + 1] = {};
    SetLastError(0);
    DWORD n = g_seams.getModuleFileName(nullptr, path, MAX_PATH);
    if (n == 0) {
        DWORD e = GetLastError();
        return e ? e : ERROR_INVALID_FUNCTION;
    }
    // A path that fills the buffer may be cut (XP does not even terminate it).
    if (n >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
    path[n] = 0;
    // Quoted: unquoted, a blank in the path would make "regrun" part of the program's name.
    *text = L"\"" + std::wstring(path) + L"\" regrun";
    return 0;
}

DWORD RegisterAutoRun() {
    std::wstring text;
    DWORD e = RunValueText(&text);
    if (e) return e;
    HKEY key = nullptr;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key);
    if (r != ERROR_SUCCESS) return static_cast<DWORD>(r);
    r = RegSetValueExW(key, kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return static_cast<DWORD>(r);
}

DWORD UnregisterAutoRun() {
    HKEY key = nullptr;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key);
    if (r == ERROR_FILE_NOT_FOUND) return 0;  // no Run key: nothing starts the panel
    if (r != ERROR_SUCCESS) return static_cast<DWORD>(r);
    r = RegDeleteValueW(key, kRunValueName);
    RegCloseKey(key);
    return r == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(r);
}

bool ChoosePicturePath(HWND owner, wchar_t path[260]) {
    static const wchar_t kFilter[] = L"JPG  格式图片\0*.jpg\0BMP  格式图片\0*.bmp\0";
    wchar_t file[260] = {};
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    // Owned by the panel: ownerless, a second click would open another and the tray could end the
    // panel under it.
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = kFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = _countof(file);
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!g_seams.getOpenFileName(&dialog)) return false;
    file[_countof(file) - 1] = 0;
    wcscpy(path, file);
    return true;
}

std::wstring MemPointerText(const void* image) {
    wchar_t text[32];
    _snwprintf(text, _countof(text) - 1, L"%Iu", reinterpret_cast<UINT_PTR>(image));
    text[_countof(text) - 1] = 0;
    return text;
}

ToggleResult ToggleSwitch(const wchar_t* name) {
    ToggleResult result;
    const DWORD old = GetMonitorKeyStyle(name);
    const DWORD now = old == 0 ? 1 : 0;
    WriteSequence writes;
    writes.Step(SwitchError(name, now));
    result.outcome = writes.Result();
    result.value = result.outcome.ok ? now : old;
    return result;
}

LogonToggle ToggleLogonManagement() {
    LogonToggle result;
    const DWORD old = GetMonitorKeyStyle(L"QJ_EnableTolven");
    const bool enable = old == 0;
    result.value = old;
    WriteSequence writes;
    // The registration first: a switch that says "on" over an unregistered module would be a lie.
    if (writes.Step(static_cast<DWORD>(enable ? g_seams.writeGianPathToReg() : g_seams.deleteGianPathToReg()))) {
        WriteSequence switchWrite;
        if (!switchWrite.Step(SwitchError(L"QJ_EnableTolven", enable ? 1 : 0))) {
            // Put the registration back so that nothing has changed.
            if (enable)
                g_seams.deleteGianPathToReg();
            else
                g_seams.writeGianPathToReg();
            result.outcome = switchWrite.Result();
            result.balloon = result.outcome.Text();
            return result;
        }
        result.value = enable ? 1 : 0;
        if (enable)
            result.balloon = IsWin7() ? L"启用成功，系统需要使用USB KEY登陆！" : L"启用成功，设置在系统重启后生效！";
        else
            result.balloon = IsWin7() ? L"禁用成功，恢复到系统原始状态！" : L"禁用成功，设置在系统重启后生效！";
        return result;
    }
    result.outcome = writes.Result();
    result.balloon = result.outcome.Text();
    return result;
}

}  // namespace warden
