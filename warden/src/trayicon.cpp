#include "trayicon.h"

#include <string.h>
#include <wchar.h>

#include "corelib.h"
#include "seams.h"

namespace warden {

const wchar_t kProductTitle[] = L"Tolven电脑锁2012";

namespace {

// Copies at most max characters and always terminates inside a buffer of max + 1.
void CopyBounded(wchar_t* out, size_t max, const wchar_t* text) {
    size_t n = text ? wcsnlen(text, max) : 0;
    if (n) wmemcpy(out, text, n);
    out[n] = L'\0';
}

// Cursorgate.dll beside the program, by full path: by bare name the search order would let a planted
// library of the same name run in an elevated panel.
HMODULE LoadHookLibrary() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash) return nullptr;
    const wchar_t kName[] = L"Cursorgate.dll";
    if (static_cast<size_t>(slash + 1 - path) + wcslen(kName) >= MAX_PATH) return nullptr;
    wcscpy(slash + 1, kName);
    return LoadLibraryW(path);
}

}  // namespace

DWORD TrayRecordSize() {
    return IsWin7() ? static_cast<DWORD>(sizeof(TrayRecord)) : static_cast<DWORD>(sizeof(NOTIFYICONDATAW));
}

UINT RegisterTaskbarCreated() {
    UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    typedef BOOL(WINAPI * FilterFn)(UINT, DWORD);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FilterFn filter = user32 ? reinterpret_cast<FilterFn>(GetProcAddress(user32, "ChangeWindowMessageFilter")) : nullptr;
    if (message && filter) filter(message, 1 /* MSGFLT_ADD */);
    return message;
}

CTrayIcon::CTrayIcon(HWND owner, HICON icon) {
    memset(&record_, 0, sizeof(record_));
    NOTIFYICONDATAW& d = record_.data;
    d.cbSize = TrayRecordSize();
    d.hWnd = owner;
    d.uID = kTrayIconId;
    d.uFlags = kTrayFlags;
    d.uCallbackMessage = callbackMessage_;
    d.hIcon = icon;
    CopyBounded(d.szTip, ARRAYSIZE(d.szTip) - 1, kProductTitle);
    // Looked up, never called, never freed.
    hookLibrary_ = LoadHookLibrary();
    if (hookLibrary_) {
        enableHook_ = GetProcAddress(hookLibrary_, "EnableHook");
        disableHook_ = GetProcAddress(hookLibrary_, "DisableHook");
    }
}

CTrayIcon::~CTrayIcon() { RemoveIcon(); }

BOOL CTrayIcon::Notify(DWORD message) { return g_seams.shellNotifyIcon(message, &record_.data) ? TRUE : FALSE; }

BOOL CTrayIcon::AddIcon() {
    if (!added_) added_ = Notify(NIM_ADD);
    return added_;
}

BOOL CTrayIcon::RemoveIcon() {
    if (added_ && Notify(NIM_DELETE)) added_ = FALSE;
    return !added_;
}

BOOL CTrayIcon::SetIcon(HICON icon) {
    record_.data.hIcon = icon;
    return added_ ? Notify(NIM_MODIFY) : TRUE;
}

BOOL CTrayIcon::SetTooltip(const wchar_t* text) {
    NOTIFYICONDATAW& d = record_.data;
    memset(d.szTip, 0, sizeof(d.szTip));
    CopyBounded(d.szTip, ARRAYSIZE(d.szTip) - 1, text);
    return added_ ? Notify(NIM_MODIFY) : TRUE;
}

BOOL CTrayIcon::Readd() {
    if (!added_) return TRUE;
    Notify(NIM_DELETE);  // the shell that restarted may hold nothing
    added_ = Notify(NIM_ADD);
    return added_;
}

void CTrayIcon::ShowBalloon(const wchar_t* text) {
    NOTIFYICONDATAW& d = record_.data;
    d.uFlags = NIF_INFO;  // the modify then changes nothing but the balloon
    d.dwInfoFlags = NIIF_INFO;
    CopyBounded(d.szInfo, ARRAYSIZE(d.szInfo) - 1, text);
    CopyBounded(d.szInfoTitle, ARRAYSIZE(d.szInfoTitle) - 1, L"提示");
    d.uTimeout = 1500;
    Notify(NIM_MODIFY);
    d.uFlags = kTrayFlags;
}

}  // namespace warden
