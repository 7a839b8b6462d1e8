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
// ---- the real X pointer ------------------------------------------------------------------------
// SendInput and posted messages never pass through X: capture, a release outside a window and a
// popup closing on a click elsewhere run as they do for a user only under the X server's own
// pointer. These run the host's xdotool (Wine starts a Unix program such as /bin/sh through
// CreateProcess, and passes DISPLAY on). Without a Wine virtual desktop the Xvfb screen is the Wine
// desktop with no offset, so screen coordinates are X coordinates.
// Each call returns once xdotool has finished (bounded, this thread's messages pumped meanwhile) and,
// for a move, once Wine reports the cursor there; false when xdotool is missing, failed or hung.
// What the windows make of the input arrives through their messages: wait on the state it leads to.

// Whether xdotool can be run at all (found on the host and a display named).
bool XPointerAvailable();
// Moves the pointer to a screen point.
bool XMoveTo(POINT screen);
// The left button down or up where the pointer is.
bool XButton(bool down);
// Move, press and release at a screen point.
bool XClickAt(POINT screen);
// Any xdotool command line after the program name ("key Escape"); its exit code must be 0.
bool RunXdotool(const char* args, DWORD timeoutMs = 5000);
// The screen point of a client point of a window.
POINT ScreenPointOf(HWND window, POINT client);

// A real left click on the centre of the dialog's control. Synthetic input lands on whatever is on
// top, so it waits (bounded) for the dialog to come to the foreground first: one just created may
// not be there yet.
void ClickControl(HWND dlg, int id);

}  // namespace ts
