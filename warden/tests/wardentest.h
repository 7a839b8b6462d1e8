// What the two seam files of the control panel's test build (WardenTest.exe) share.
#pragma once
#include <string>

namespace wardentest {

// A file beside the program (the bare name when the program's path cannot be read).
std::wstring Beside(const wchar_t* name);
// Appends one UTF-8 line to "seams.log" beside the program.
void Log(const std::wstring& line);
// wardentest_drives.cpp: the drive-letter lookup from "drives.txt" and the command-line line.
void InstallDrives();

}  // namespace wardentest
