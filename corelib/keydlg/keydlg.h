// Pieces shared by every key dialog (Corelib's own and the GINA's): placement and device notices.
// Compiled into each module that uses it, so that its tracing goes through that module's Corelib.
#pragma once

#include <windows.h>

namespace keydlg {

// Where a window of w x h goes in a reference area: centred across, a third of the way down,
// never off the top or left edge.
POINT CenteredOrigin(int w, int h, int refW, int refH);
// Places the window so (in its parent for a child, on the screen otherwise), topmost, and brings
// it to the foreground.
void CenterWindowTopmost(HWND window);

using RegisterNoticeFn = HDEVNOTIFY(WINAPI*)(HANDLE recipient, LPVOID filter, DWORD flags);
// Registers the window for arrivals of the two classes that can bring the key (HID tokens and
// disks). The handles are kept so that the dialog can release them when it is destroyed.
void RegisterKeyNotices(HWND window, HDEVNOTIFY out[2], RegisterNoticeFn reg = ::RegisterDeviceNotificationW);
void UnregisterKeyNotices(HDEVNOTIFY notices[2]);
// A volume or device-interface arrival is the only notice that may bring the key.
bool IsKeyArrival(WPARAM wp, LPARAM lp);

// Whether a picture path may be opened by SYSTEM: "X:\\..." on a fixed drive only. A UNC path
// (or a \\?\ or \\.\ form, a "/" form, a relative or drive-relative path, a removable, remote or
// CD drive) could make SYSTEM authenticate to another machine or read what a user plugged in.
bool IsLocalFixedPath(const wchar_t* path);

// The user picture: the file (any format GDI+ reads) when IsLocalFixedPath allows it, else the
// module's fallback bitmap.
// GDI+ is started for this one load only, so no imaging state outlives the dialog in a module that
// its host may unload. The caller deletes the bitmap.
HBITMAP LoadUserPicture(const wchar_t* path, HINSTANCE module, int fallbackBitmapId);
// Draws the picture stretched over the client area of the frame control, through its own DC.
void PaintPicture(HWND frame, HBITMAP picture);

}  // namespace keydlg
