// The device list of the key page: removable drives as "label-file system (X:\)" entries, the root
// an entry names, and the volumes that arrive while the panel runs.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace warden {

// "%s-%s (%c:\)" with the label, or "可移动磁盘-%s (%c:\)" when the label is empty.
std::wstring DriveEntryText(const wchar_t* label, const wchar_t* fileSystem, wchar_t letter);

// The entry of a removable drive (C to Z) whose volume information reads; false for any other.
// The query never brings up the system's "no disk" box (an empty card reader on XP).
bool RemovableDriveEntry(wchar_t letter, std::wstring* entry);

// Appends the entries of the removable drives C to Z, in letter order; returns how many.
int EnumRemovableDrives(std::vector<std::wstring>* entries);

// The root "X:\" an entry names: taken from its last "(", which must be followed by "X:\)" at the
// end, X from C to Z (a label may itself hold "(").
bool DriveRootFromEntry(const wchar_t* entry, wchar_t root[4]);

// WM_DEVICECHANGE: the letter of a volume that arrived (the lowest letter of its unit mask), or 0
// for any other event, a missing or short broadcast, another device type, or new media in a drive.
wchar_t ArrivedDriveLetter(WPARAM event, LPARAM data);
// The entry to add for that arrival: a removable drive whose volume information reads.
bool ArrivedDriveEntry(WPARAM event, LPARAM data, std::wstring* entry);

}  // namespace warden
