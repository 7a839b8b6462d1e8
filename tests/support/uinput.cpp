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
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    SendInput(1, &in, sizeof(in));
}

void ClickControl(HWND dlg, int id) {
    WaitFor([dlg] { return GetForegroundWindow() == dlg; }, 3000);
    RECT r = {};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    SendMouse(MOUSEEVENTF_LEFTDOWN, p);
    Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTUP, p);
}

}  // namespace ts
