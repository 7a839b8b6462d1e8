#include "uinput.h"

#include "services.h"

namespace ts {

void SendKey(WORD vk, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof(in));
}

void SendMouse(DWORD flags, POINT p) {
    SetCursorPos(p.x, p.y);
    // The position also travels with the event itself, so that it cannot land where the cursor was
    // before the move took effect. Normalised so that it maps back to exactly this pixel.
    const LONG w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = w > 0 ? (p.x * 65536 + w - 1) / w : 0;
    in.mi.dy = h > 0 ? (p.y * 65536 + h - 1) / h : 0;
    in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof(in));
}

bool WaitForeground(HWND window, DWORD timeoutMs) {
    return WaitFor([window] { return GetForegroundWindow() == window; }, timeoutMs);
}

void ClickControl(HWND dlg, int id) {
    WaitForeground(dlg);
    RECT r = {};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    SendMouse(MOUSEEVENTF_LEFTDOWN, p);
    Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTUP, p);
}

}  // namespace ts
