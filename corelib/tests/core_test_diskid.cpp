// USB-disk ids with Corelib's objects: cutting ids from interface paths, drive letter to id with the
// volume-name lookup replaced (Wine cannot resolve interface paths), and the device-notice filters.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "keypresence_internal.h"
#include "testsupport.h"
#include "usbdisk.h"

namespace {

const wchar_t kVolumeClass[] = L"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kDiskClass[] = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// The present volume interface paths, straight from SetupAPI.
std::vector<std::wstring> PresentVolumePaths() {
    static const GUID volume = {0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    std::vector<std::wstring> paths;
    HDEVINFO set = SetupDiGetClassDevsW(&volume, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data = {sizeof(data)};
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &volume, i, &data)) break;
        union {
            SP_DEVICE_INTERFACE_DETAIL_DATA_W d;
            BYTE b[2048];
        } buf = {};
        buf.d.cbSize = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + sizeof(WCHAR);
        if (SetupDiGetDeviceInterfaceDetailW(set, &data, &buf.d, sizeof(buf), nullptr, nullptr))
            paths.push_back(buf.d.DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

bool Listed(const std::wstring& path) {
    for (const std::wstring& p : PresentVolumePaths())
        if (p == path) return true;
    return false;
}

TEST(SimulatedDisk, PluggedIsListedByItsLowerCasePathAndPulledOrRemovedIsNot) {
    ts::RemoveAllSimulatedDisks();
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SER123");
    EXPECT_EQ(disk.InterfacePath(), std::wstring(L"\\\\?\\storage#volume#_??_usbstor#disk&ven_a&prod_b&rev_1#ser123&0#") +
                                        kDiskClass + L"#" + kVolumeClass);
    EXPECT_EQ(disk.Id(), L"ser123&0");
    ASSERT_TRUE(disk.Plug());
    EXPECT_TRUE(Listed(disk.InterfacePath()));
    ASSERT_TRUE(disk.Pull());
    EXPECT_FALSE(Listed(disk.InterfacePath()));
    ASSERT_TRUE(disk.Plug());
    ASSERT_TRUE(disk.Remove());
    EXPECT_FALSE(Listed(disk.InterfacePath()));
}

struct CutCase {
    const wchar_t* path;
    bool xpClass;
    const wchar_t* id;  // nullptr: the whole path
};

TEST(DiskIdCut, TakesField3OnXpField5OnVistaAndTheWholePathWhenTheFieldIsMissing) {
    const std::wstring usb = std::wstring(L"\\\\?\\storage#volume#_??_usbstor#disk&ven_a&prod_b&rev_1#ser123&0#") +
                             kDiskClass + L"#" + kVolumeClass;
    const std::wstring xp = std::wstring(L"\\\\?\\STORAGE#RemovableMedia#7&1a2b3c&0&RM#") + kVolumeClass;
    const std::wstring fixed = std::wstring(L"\\\\?\\storage#volume#{6a2b1c3d-0000-0000-0000-100000000000}#0000000000100000#") +
                               kVolumeClass;
    const CutCase cases[] = {
        {usb.c_str(), false, L"ser123&0"},
        {usb.c_str(), true, L"_??_usbstor"},
        {xp.c_str(), true, L"7&1a2b3c&0&RM"},
        {xp.c_str(), false, nullptr},  // four fields only
        {fixed.c_str(), false, kVolumeClass},
        {L"\\\\?\\storage#volume", true, nullptr},
        {L"a#b#c", true, L"c"},  // the wanted field may be the last
        {L"a#b##d#e", true, L""},
        {L"a#b#c#d#", false, L""},
        {L"", false, L""},
    };
    for (const CutCase& c : cases) {
        wchar_t out[260];
        wmemset(out, L'x', 260);
        EXPECT_TRUE(corelib::CutDiskId(c.path, c.xpClass, out, 260)) << ts::Narrow(c.path);
        EXPECT_EQ(std::wstring(out), c.id ? c.id : c.path) << ts::Narrow(c.path) << " xp=" << c.xpClass;
    }
}

TEST(DiskIdCut, AnIdThatDoesNotFitIsRefusedNotCut) {
    wchar_t out[9];
    wmemset(out, L'x', 9);
    EXPECT_TRUE(corelib::CutDiskId(L"a#b#c#d#ser123&0#f", false, out, 9));
    EXPECT_STREQ(out, L"ser123&0");
    EXPECT_FALSE(corelib::CutDiskId(L"a#b#c#d#ser1234&0#f", false, out, 9));
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(corelib::CutDiskId(L"a#bcdefghijk", false, out, 9));  // the whole path does not fit
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(corelib::CutDiskId(nullptr, false, out, 9));
    EXPECT_STREQ(out, L"");
}

TEST(DiskIdCut, AcceptsOnlyIdsThatFitASlotAndAreNoClassGuid) {
    const std::wstring max(49, L'a');
    const std::wstring over(50, L'a');
    struct {
        const wchar_t* id;
        bool ok;
    } cases[] = {
        {L"ser123&0", true}, {max.c_str(), true}, {over.c_str(), false}, {L"", false},
        {nullptr, false},    {kVolumeClass, false}, {L"{", false},      {L"a{b}", true},
    };
    for (const auto& c : cases) EXPECT_EQ(corelib::IsAcceptableDiskId(c.id), c.ok) << (c.id ? ts::Narrow(c.id) : "null");
}

// Bytes in busy blocks of every heap of the process.
size_t HeapBytesInUse() {
    HANDLE heaps[64];
    DWORD n = GetProcessHeaps(64, heaps);
    size_t total = 0;
    for (DWORD i = 0; i < n && i < 64; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY e = {};
        while (HeapWalk(heaps[i], &e))
            if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += e.cbData;
        HeapUnlock(heaps[i]);
    }
    return total;
}

// ---- drive letter to id, with the volume-name lookup replaced ----

std::map<std::wstring, std::wstring> g_volumeNames;  // mount point -> volume GUID path
std::vector<std::wstring> g_lookups;

BOOL WINAPI FakeVolumeName(LPCWSTR mountPoint, LPWSTR out, DWORD cch) {
    g_lookups.push_back(mountPoint);
    auto it = g_volumeNames.find(mountPoint);
    if (it == g_volumeNames.end() || it->second.size() + 1 > cch) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    wcscpy(out, it->second.c_str());
    return TRUE;
}

class DriveIdByLetter : public ::testing::Test {
protected:
    void SetUp() override {
        ts::RemoveAllSimulatedDisks();
        saved_ = corelib::g_seams;
        corelib::g_seams.GetVolumeNameForVolumeMountPointW = FakeVolumeName;
        g_volumeNames.clear();
        g_lookups.clear();
    }
    void TearDown() override { corelib::g_seams = saved_; }

    // Mounts the disk's volume at E:\ as far as the lookup is concerned.
    static void MountAtE(const ts::UsbDisk& disk, const std::wstring& volume = L"\\\\?\\Volume{e0000000-0000-0000-0000-000000000001}\\") {
        g_volumeNames[L"E:\\"] = volume;
        g_volumeNames[disk.InterfacePath() + L"\\"] = volume;
    }
    static std::wstring IdOf(const wchar_t* root, BOOL* result) {
        wchar_t out[260];
        wmemset(out, L'x', 260);
        *result = UP_GetDriveIDByLetter(root, out);
        return std::wstring(out, wcsnlen(out, 260));
    }

    corelib::Seams saved_;
};

TEST_F(DriveIdByLetter, APluggedDiskAtTheRootGivesItsIdAndAPulledOneNothing) {
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SER123");
    ASSERT_TRUE(disk.Plug());
    MountAtE(disk);
    BOOL r;
    EXPECT_EQ(IdOf(L"E:\\", &r), L"ser123&0");
    EXPECT_TRUE(r);
    // The interface is looked up as a mount point: its path with a backslash appended.
    EXPECT_NE(std::find(g_lookups.begin(), g_lookups.end(), disk.InterfacePath() + L"\\"), g_lookups.end());

    ASSERT_TRUE(disk.Pull());
    EXPECT_EQ(IdOf(L"E:\\", &r), L"");
    EXPECT_FALSE(r);
}

TEST_F(DriveIdByLetter, AnUnknownRootGivesNothingAndLooksNoFurther) {
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SER123");
    ASSERT_TRUE(disk.Plug());
    MountAtE(disk);
    BOOL r;
    EXPECT_EQ(IdOf(L"F:\\", &r), L"");
    EXPECT_FALSE(r);
    EXPECT_EQ(g_lookups.size(), 1u);
    EXPECT_FALSE(UP_GetDriveIDByLetter(nullptr, nullptr));
}

TEST_F(DriveIdByLetter, SkipsInterfacesWithoutAVolumeInsteadOfStopping) {
    // Empty card-reader slots: interfaces whose lookup fails, listed before the wanted disk.
    std::vector<ts::UsbDisk> disks;
    for (const wchar_t* serial : {L"SLOT1", L"SLOT2", L"SLOT3", L"WANTED"}) {
        disks.push_back(ts::UsbDisk::FlashDisk(serial));
        ASSERT_TRUE(disks.back().Plug());
    }
    const std::vector<std::wstring> order = PresentVolumePaths();  // the order Corelib sees them in
    ASSERT_EQ(order.size(), 4u);
    const ts::UsbDisk* last = nullptr;
    for (const ts::UsbDisk& d : disks)
        if (d.InterfacePath() == order.back()) last = &d;
    ASSERT_NE(last, nullptr);

    MountAtE(*last);  // only the last listed interface has a volume
    BOOL r;
    EXPECT_EQ(IdOf(L"E:\\", &r), last->Id());
    EXPECT_TRUE(r);
}

TEST_F(DriveIdByLetter, RefusesIdsThatASlotCannotHoldOrThatEveryPcHas) {
    struct {
        ts::UsbDisk disk;
        const wchar_t* what;
        bool ok;
    } cases[] = {
        {ts::UsbDisk::FlashDisk(std::wstring(47, L'S')), L"49 characters", true},
        {ts::UsbDisk::FlashDisk(std::wstring(48, L'S')), L"50 characters", false},
        {ts::UsbDisk::FixedVolume(L"{6a2b1c3d-0000-0000-0000-100000000000}"), L"fixed volume: the class GUID", false},
        {ts::UsbDisk::RemovableMedia(L"7&1a2b3c&0&RM"), L"too few fields: the whole path", false},
    };
    for (auto& c : cases) {
        ts::RemoveAllSimulatedDisks();
        ASSERT_TRUE(c.disk.Plug());
        MountAtE(c.disk);
        BOOL r;
        std::wstring id = IdOf(L"E:\\", &r);
        EXPECT_EQ(r != FALSE, c.ok) << ts::Narrow(c.what);
        EXPECT_EQ(id, c.ok ? c.disk.Id() : L"") << ts::Narrow(c.what);
        c.disk.Pull();
    }
}

TEST_F(DriveIdByLetter, ReleasesEverySetupApiList) {
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SER123");
    ASSERT_TRUE(disk.Plug());
    MountAtE(disk);
    uinfo record = {};
    ASSERT_TRUE(AddDriverUID(&record, L"ser123&0"));
    auto round = [&] {
        wchar_t out[260];
        UP_GetDriveIDByLetter(L"E:\\", out);
        UP_GetDriveIDByLetter(L"F:\\", out);
        UP_CheckUDeskByDriveID(&record);
        UP_CheckUDeskByDriveID1(&record, out);
        g_lookups.clear();  // the fake's own record of lookups must not grow either
    };
    round();
    const size_t before = HeapBytesInUse();
    for (int i = 0; i < 200; ++i) round();
    const size_t after = HeapBytesInUse();
    // Wine keeps no handle per list, but each leaked list holds heap blocks for the disk.
    EXPECT_LT(after, before + 16 * 1024) << "grew by " << after - before << " bytes";
}

// ---- device notices ----

struct Registration {
    HANDLE recipient;
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    DWORD size;
    DWORD flags;
};
std::vector<Registration> g_registrations;
int g_failAt = -1;  // 0-based call that fails

HDEVNOTIFY WINAPI FakeRegister(HANDLE recipient, LPVOID filter, DWORD flags) {
    Registration r = {recipient, {}, 0, flags};
    memcpy(&r.filter, filter, sizeof(r.filter));
    r.size = static_cast<const DEV_BROADCAST_HDR*>(filter)->dbch_size;
    g_registrations.push_back(r);
    if (static_cast<int>(g_registrations.size()) - 1 == g_failAt) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    SetLastError(0);
    return reinterpret_cast<HDEVNOTIFY>(static_cast<INT_PTR>(g_registrations.size()));
}

// The real registration is put back however the test ends.
class KeyDeviceNoticeFilters : public ::testing::Test {
  protected:
    void SetUp() override { corelib::g_seams.RegisterDeviceNotificationW = FakeRegister; }
    void TearDown() override {
        if (window && IsWindow(window)) DestroyWindow(window);
    }
    ts::Restore<corelib::Seams> seams_{corelib::g_seams};
    HWND window = nullptr;
};

TEST_F(KeyDeviceNoticeFilters, RegistersHidThenDiskAndStopsAtTheFirstFailure) {
    static const GUID hid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    static const GUID disk = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);

    const struct {
        int failAt;
        BOOL result;
        size_t calls;
    } cases[] = {{-1, TRUE, 2}, {0, FALSE, 1}, {1, FALSE, 2}};
    for (const auto& c : cases) {
        g_registrations.clear();
        g_failAt = c.failAt;
        EXPECT_EQ(RegisterDeviceNotification_GUID(window), c.result) << c.failAt;
        ASSERT_EQ(g_registrations.size(), c.calls) << c.failAt;
        for (size_t i = 0; i < c.calls; ++i) {
            const Registration& r = g_registrations[i];
            EXPECT_EQ(r.recipient, window);
            EXPECT_EQ(r.flags, static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
            EXPECT_EQ(r.size, 32u);
            EXPECT_EQ(r.filter.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
            EXPECT_EQ(r.filter.dbcc_reserved, 0u);
            EXPECT_TRUE(IsEqualGUID(r.filter.dbcc_classguid, i == 0 ? hid : disk)) << i;
        }
    }

    // No window, or one that is gone: nothing is registered.
    g_registrations.clear();
    g_failAt = -1;
    EXPECT_FALSE(RegisterDeviceNotification_GUID(nullptr));
    DestroyWindow(window);
    EXPECT_FALSE(RegisterDeviceNotification_GUID(window));
    EXPECT_TRUE(g_registrations.empty());
}

}  // namespace
