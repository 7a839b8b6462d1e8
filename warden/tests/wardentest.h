// What the two seam files of the control panel's test build (WardenTest.exe) share.
#pragma once
#include <string>

namespace wardentest {

// Appends one UTF-8 line to "seams.log" beside the program.
void Log(const std::wstring& line);
// wardentest_drives.cpp: the drive-letter lookup from "drives.txt" and the command-line line.
void InstallDrives();

}  // namespace wardentest
