// The device list: entries of removable drives, the root an entry names, and arrivals. Wine maps no
// new drive letter while its server runs, so the drive queries come from a small fake machine.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <map>
#include <string>
#include <vector>

#include "devices.h"
#include "seams.h"
#include "testsupport.h"

namespace {

struct Drive {
    UINT type;
    bool readable;
    std::wstring label, fileSystem;
};
std::map<wchar_t, Drive>* g_drives = nullptr;
std::vector<UINT> g_errorModes;  // the error mode in force at each volume query

DWORD WINAPI FakeLogicalDrives() {
    DWORD mask = 0;
    for (const auto& d : *g_drives) mask |= 1u << (d.first - L'A');
    return mask;
}
UINT WINAPI FakeDriveType(LPCWSTR root) {
    auto it = g_drives->find(root[0]);
    return it == g_drives->end() ? DRIVE_NO_ROOT_DIR : it->second.type;
}
BOOL WINAPI FakeVolume(LPCWSTR root, LPWSTR label, DWORD labelChars, LPDWORD, LPDWORD, LPDWORD, LPWSTR fileSystem,
                       DWORD fileSystemChars) {
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    g_errorModes.push_back(mode);
    EXPECT_EQ(labelChars, 260u);
    EXPECT_EQ(fileSystemChars, 260u);
    const Drive& d = g_drives->at(root[0]);
    if (!d.readable) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    wcscpy(label, d.label.c_str());
    wcscpy(fileSystem, d.fileSystem.c_str());
    return TRUE;
}

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        g_drives = &drives_;
        g_errorModes.clear();
        warden::g_seams.getLogicalDrives = FakeLogicalDrives;
        warden::g_seams.getDriveType = FakeDriveType;
        warden::g_seams.getVolumeInformation = FakeVolume;
        drives_ = {
            {L'A', {DRIVE_REMOVABLE, true, L"", L"FAT"}},
            {L'C', {DRIVE_FIXED, true, L"SYS", L"NTFS"}},
            {L'E', {DRIVE_REMOVABLE, true, L"KEY", L"FAT32"}},
            {L'F', {DRIVE_REMOVABLE, false, L"", L""}},  // a card reader without a card
            {L'G', {DRIVE_REMOVABLE, true, L"", L"exFAT"}},
            {L'H', {DRIVE_CDROM, true, L"CD", L"CDFS"}},
            {L'Z', {DRIVE_REMOVABLE, true, L"A(B", L"FAT"}},
        };
    }
    void TearDown() override { g_drives = nullptr; }
    ts::Restore<warden::Seams> restore_{warden::g_seams};
    std::map<wchar_t, Drive> drives_;
};

DEV_BROADCAST_VOLUME Volume(DWORD mask, WORD flags = 0) {
    DEV_BROADCAST_VOLUME v = {};
    v.dbcv_size = sizeof(v);
    v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    v.dbcv_unitmask = mask;
    v.dbcv_flags = flags;
    return v;
}

}  // namespace

TEST(DriveEntries, LabelOrRemovableDiskThenFileSystemAndRoot) {
    EXPECT_EQ(warden::DriveEntryText(L"KEY", L"FAT32", L'E'), L"KEY-FAT32 (E:\\)");
    EXPECT_EQ(warden::DriveEntryText(L"", L"FAT32", L'E'), L"可移动磁盘-FAT32 (E:\\)");
}

TEST(DriveEntries, TheRootComesFromTheLastParenthesis) {
    const struct {
        const wchar_t* entry;
        const wchar_t* root;  // "" refused
    } cases[] = {
        {L"KEY-FAT32 (E:\\)", L"E:\\"},  {L"可移动磁盘-FAT32 (Z:\\)", L"Z:\\"}, {L"A(B-FAT (F:\\)", L"F:\\"},
        {L"(X(Y-FAT (C:\\)", L"C:\\"},   {L"KEY-FAT32 (A:\\)", L""},            {L"KEY-FAT32 (B:\\)", L""},
        {L"KEY-FAT32 (e:\\)", L""},      {L"KEY-FAT32 (E:)", L""},              {L"KEY-FAT32 (E:\\) x", L""},
        {L"A(B", L""},                   {L"", L""},                            {L"no parenthesis", L""},
    };
    for (const auto& c : cases) {
        wchar_t root[4] = {L'?', 0};
        EXPECT_EQ(warden::DriveRootFromEntry(c.entry, root), c.root[0] != 0) << ts::Narrow(c.entry);
        EXPECT_STREQ(root, c.root) << ts::Narrow(c.entry);
    }
}

TEST_F(Devices, TheListHoldsReadableRemovableDrivesFromCToZ) {
    const UINT before = SetErrorMode(0);  // a test runner may start with the flag already set
    std::vector<std::wstring> entries;
    EXPECT_EQ(warden::EnumRemovableDrives(&entries), 3);
    EXPECT_EQ(entries, (std::vector<std::wstring>{L"KEY-FAT32 (E:\\)", L"可移动磁盘-exFAT (G:\\)", L"A(B-FAT (Z:\\)"}));
    ASSERT_FALSE(g_errorModes.empty());
    for (UINT mode : g_errorModes) EXPECT_TRUE(mode & SEM_FAILCRITICALERRORS);
    const UINT after = SetErrorMode(before);
    EXPECT_EQ(after, 0u) << "the error mode is put back";

    // An entry of the list leads back to its root.
    wchar_t root[4];
    ASSERT_TRUE(warden::DriveRootFromEntry(entries[2].c_str(), root));
    EXPECT_STREQ(root, L"Z:\\");
}

TEST_F(Devices, AnArrivalIsReadOnlyWhenItIsAWholeVolumeBroadcast) {
    DEV_BROADCAST_VOLUME e = Volume(1u << 4);
    DEV_BROADCAST_VOLUME eg = Volume((1u << 6) | (1u << 4));
    DEV_BROADCAST_VOLUME media = Volume(1u << 4, DBTF_MEDIA);
    DEV_BROADCAST_VOLUME fixed = Volume(1u << 2);
    DEV_BROADCAST_VOLUME unreadable = Volume(1u << 5);
    DEV_BROADCAST_VOLUME shortOne = Volume(1u << 4);
    shortOne.dbcv_size = sizeof(DEV_BROADCAST_HDR);
    DEV_BROADCAST_VOLUME other = Volume(1u << 4);
    other.dbcv_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    const struct {
        WPARAM event;
        const void* data;
        const wchar_t* entry;  // "" nothing added
    } cases[] = {
        {DBT_DEVICEARRIVAL, &e, L"KEY-FAT32 (E:\\)"},
        {DBT_DEVICEARRIVAL, &eg, L"KEY-FAT32 (E:\\)"},  // the lowest letter only
        {DBT_DEVICEREMOVECOMPLETE, &e, L""},
        {DBT_DEVICEARRIVAL, nullptr, L""},
        {DBT_DEVICEARRIVAL, &shortOne, L""},
        {DBT_DEVICEARRIVAL, &other, L""},
        {DBT_DEVICEARRIVAL, &media, L""},
        {DBT_DEVICEARRIVAL, &fixed, L""},
        {DBT_DEVICEARRIVAL, &unreadable, L""},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        std::wstring entry;
        EXPECT_EQ(warden::ArrivedDriveEntry(cases[i].event, reinterpret_cast<LPARAM>(cases[i].data), &entry),
                  cases[i].entry[0] != 0)
            << i;
        EXPECT_EQ(entry, cases[i].entry) << i;
    }
    EXPECT_EQ(warden::ArrivedDriveLetter(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&eg)), L'E');
}
