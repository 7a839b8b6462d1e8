#include "devices.h"

#include <dbt.h>
#include <stddef.h>
#include <wchar.h>

#include "seams.h"

namespace warden {

namespace {
constexpr int kFirstDrive = 2;   // C: A and B are never listed
constexpr int kLastDrive = 25;   // Z
constexpr DWORD kVolumeChars = 260;
}  // namespace

std::wstring DriveEntryText(const wchar_t* label, const wchar_t* fileSystem, wchar_t letter) {
    std::wstring text = label && label[0] ? std::wstring(label) : std::wstring(L"可移动磁盘");
    text += L"-";
    text += fileSystem ? fileSystem : L"";
    text += L" (";
    text += letter;
    text += L":\\)";
    return text;
}

bool RemovableDriveEntry(wchar_t letter, std::wstring* entry) {
    if (letter < L'A' + kFirstDrive || letter > L'A' + kLastDrive) return false;
    const wchar_t root[4] = {letter, L':', L'\\', 0};
    if (g_seams.getDriveType(root) != DRIVE_REMOVABLE) return false;
    wchar_t label[kVolumeChars + 1] = {};
    wchar_t fileSystem[kVolumeChars + 1] = {};
    const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS);
    SetErrorMode(mode | SEM_FAILCRITICALERRORS);
    BOOL ok = g_seams.getVolumeInformation(root, label, kVolumeChars, nullptr, nullptr, nullptr, fileSystem,
                                           kVolumeChars);
    SetErrorMode(mode);
    if (!ok) return false;
    if (entry) *entry = DriveEntryText(label, fileSystem, letter);
    return true;
}

int EnumRemovableDrives(std::vector<std::wstring>* entries) {
    const DWORD mask = g_seams.getLogicalDrives();
    int count = 0;
    for (int i = kFirstDrive; i <= kLastDrive; ++i) {
        if (!(mask & (1u << i))) continue;
        std::wstring entry;
        if (!RemovableDriveEntry(static_cast<wchar_t>(L'A' + i), &entry)) continue;
        if (entries) entries->push_back(entry);
        ++count;
    }
    return count;
}

bool DriveRootFromEntry(const wchar_t* entry, wchar_t root[4]) {
    if (!entry || !root) return false;
    root[0] = 0;
    const wchar_t* open = wcsrchr(entry, L'(');
    if (!open) return false;
    const wchar_t letter = open[1];
    if (letter < L'A' + kFirstDrive || letter > L'A' + kLastDrive) return false;
    if (wcscmp(open + 2, L":\\)") != 0) return false;
    root[0] = letter;
    root[1] = L':';
    root[2] = L'\\';
    root[3] = 0;
    return true;
}

wchar_t ArrivedDriveLetter(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL || data == 0) return 0;
    const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    // The size first: only then may the rest of the volume broadcast be read.
    if (header->dbch_size < offsetof(DEV_BROADCAST_VOLUME, dbcv_flags) + sizeof(WORD)) return 0;
    if (header->dbch_devicetype != DBT_DEVTYP_VOLUME) return 0;
    const DEV_BROADCAST_VOLUME* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(data);
    if (volume->dbcv_flags & DBTF_MEDIA) return 0;  // new media in a drive already listed
    const DWORD mask = volume->dbcv_unitmask;
    for (int i = 0; i <= kLastDrive; ++i)
        if (mask & (1u << i)) return static_cast<wchar_t>(L'A' + i);
    return 0;
}

bool ArrivedDriveEntry(WPARAM event, LPARAM data, std::wstring* entry) {
    const wchar_t letter = ArrivedDriveLetter(event, data);
    return letter && RemovableDriveEntry(letter, entry);
}

}  // namespace warden
