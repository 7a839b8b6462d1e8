// Synthetic keyboard and mouse input for tests that play the user at a real window under Xvfb.
#pragma once
#include <windows.h>

namespace ts {

// One key going down or up, as the keyboard would send it.
void SendKey(WORD vk, bool up);
// One mouse event at a screen point, carrying that position itself: under Wine a click sent after a
// bare cursor move can land where the cursor was before (the first click of a fresh display does).
void SendMouse(DWORD flags, POINT screenPoint);
// Waits (bounded) until the window is the foreground window, where synthetic input lands; false when
// it never got there.
bool WaitForeground(HWND window, DWORD timeoutMs = 3000);
// A real left click on the centre of the dialog's control. Synthetic input lands on whatever is on
// top, so it waits (bounded) for the dialog to come to the foreground first: one just created may
// not be there yet.
void ClickControl(HWND dlg, int id);

}  // namespace ts
