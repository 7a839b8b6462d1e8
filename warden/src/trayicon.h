// The control panel's icon in the notification area: one shell record and whether the shell holds it.
#pragma once
#include <windows.h>
#include <shellapi.h>

namespace warden {

constexpr UINT kTrayIconId = 8888;
constexpr UINT kTrayCallbackMessage = WM_USER + 1;
constexpr UINT kTrayFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
extern const wchar_t kProductTitle[];  // "Tolven电脑锁2012": the main window's title and the tip

// The shell record of Vista and later: the XP-targeted header stops before hBalloonIcon.
struct TrayRecord {
    NOTIFYICONDATAW data;
    HICON hBalloonIcon;
};
#ifdef _WIN64
static_assert(sizeof(NOTIFYICONDATAW) == 968 && sizeof(TrayRecord) == 976, "shell record sizes");
#else
static_assert(sizeof(NOTIFYICONDATAW) == 952 && sizeof(TrayRecord) == 956, "shell record sizes");
#endif

// The record size the running shell understands: XP reads an unknown size as the first version of the
// record, and would then show no balloon at all.
DWORD TrayRecordSize();

// Registers "TaskbarCreated" and admits it past the message filter where user32 has one (Vista on).
UINT RegisterTaskbarCreated();

class CTrayIcon {
public:
    CTrayIcon(HWND owner, HICON icon);
    virtual ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    BOOL AddIcon();
    BOOL RemoveIcon();
    BOOL SetIcon(HICON icon);
    BOOL SetTooltip(const wchar_t* text);
    BOOL IsAdded() const { return added_; }
    // After the taskbar came back: the icon is added again, as it was.
    BOOL Readd();
    void ShowBalloon(const wchar_t* text);

    const NOTIFYICONDATAW& Record() const { return record_.data; }
    HMODULE HookLibrary() const { return hookLibrary_; }
    FARPROC EnableHookProc() const { return enableHook_; }
    FARPROC DisableHookProc() const { return disableHook_; }

private:
    BOOL Notify(DWORD message);

    UINT callbackMessage_ = kTrayCallbackMessage;
    BOOL added_ = FALSE;
    TrayRecord record_;
    HMODULE hookLibrary_ = nullptr;
    FARPROC enableHook_ = nullptr;
    FARPROC disableHook_ = nullptr;
};

}  // namespace warden
