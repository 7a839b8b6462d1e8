// The control panel's start-up, called by wWinMain with the command-line tail.
#pragma once
#include <windows.h>

namespace warden {

// The command-line tail as Windows passed it (never null once start-up ran).
extern const wchar_t* g_commandLine;
// The process's ePass token context (never deleted here).
extern HANDLE g_tokenContext;

// Steps of the start-up in order; the result is the exit code: 0 when the login or the first-start
// dialog is closed or the program restarted itself elevated, else the main panel's result.
int WardenMain(const wchar_t* commandLine);

}  // namespace warden
