// What the control panel's dialogs share with the program that runs them: the one way they report
// to the user (a skinned box, swappable so that a test reads the text and answers), and the main
// panel's entry that start-up calls last.
#pragma once
#include <windows.h>

#include "bkmsgbox.h"

namespace warden {

// Shows a box and gives the Win32 id of the button chosen (60001 from the box's close button).
typedef int (*PanelBoxFn)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

inline int ShowSkinnedBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return CBkSafeMsgBox::Show(text, caption, type, nullptr, owner);
}
inline PanelBoxFn g_panelBox = ShowSkinnedBox;

// The main panel, run modally; hidden: created without showing (the "regrun" autostart). Its
// result is the program's exit code.
int RunMainPanel(bool hidden);

}  // namespace warden
