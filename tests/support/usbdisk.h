// Simulated USB disks for tests under Wine.
//
// Wine's SetupAPI lists no volume interfaces of its own, but it enumerates fabricated registry
// entries, so a test can plug and pull a volume for real: every process of the Wine prefix (the
// service, LogonUI's stand-in host, the test) then sees the same volume through
// SetupDiGetClassDevs(volume class, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE).
//
//   ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SER123");   // created pulled
//   disk.Plug();          // now present; Corelib's id for it on Vista and later: disk.Id()
//   disk.Pull();          // present no more
//   // the destructor deletes its registry entries
//
// Wine sends no device notices for these volumes: after Plug or Pull, a test that has a window
// waiting for WM_DEVICECHANGE delivers the notice itself with disk.NotifyArrival(window) or
// disk.NotifyRemoval(window) (SendMessageTimeoutW: across processes WM_DEVICECHANGE cannot be posted).
//
// Wine cannot map a removable drive letter without restarting its wineserver, which would end the
// test run; Corelib resolves drive letters through its GetVolumeNameForVolumeMountPointW seam in
// unit tests instead (GetVolumeNameForVolumeMountPointW also fails on interface paths under Wine).
#pragma once

#include <windows.h>

#include <string>

namespace ts {

// Volume interface class {53f5630d-...} and disk interface class {53f56307-...}, as registry text.
extern const wchar_t kVolumeInterfaceClass[];
extern const wchar_t kDiskInterfaceClass[];

class UsbDisk {
public:
    // A USB flash disk as Windows Vista and 7 show its volume:
    //   STORAGE\Volume\_??_USBSTOR#Disk&Ven_<vendor>&Prod_<product>&Rev_<rev>#<serial>&0#{disk class}
    // Corelib's id on Vista and later is field 5 of the interface path: lower-case serial + "&0".
    static UsbDisk FlashDisk(const std::wstring& serial, const std::wstring& vendor = L"A",
                             const std::wstring& product = L"B", const std::wstring& revision = L"1");
    // A removable volume as Windows XP shows it: STORAGE\RemovableMedia\<instance>; Corelib's id
    // on XP-class systems is field 3: the lower-case instance.
    static UsbDisk RemovableMedia(const std::wstring& instance);
    // A fixed-disk volume as Vista and later show it: STORAGE\Volume\{<partition guid>}#<offset>;
    // its field 5 is the volume class GUID itself, the same on every PC.
    static UsbDisk FixedVolume(const std::wstring& partitionGuid, const std::wstring& offset = L"0000000000100000");
    // Any device instance id below STORAGE (e.g. L"STORAGE\\Volume\\x#y").
    explicit UsbDisk(std::wstring instanceId);

    ~UsbDisk();  // deletes the entries (the volume is then neither present nor listed)
    UsbDisk(UsbDisk&& other) noexcept;
    UsbDisk& operator=(UsbDisk&& other) noexcept;
    UsbDisk(const UsbDisk&) = delete;
    UsbDisk& operator=(const UsbDisk&) = delete;

    // Creates the entries (pulled) if needed and marks the volume present / not present.
    bool Plug();
    bool Pull();
    bool Remove();  // deletes the entries now

    const std::wstring& InstanceId() const { return instanceId_; }
    // The device path SetupAPI reports for the volume interface (Wine lower-cases it).
    std::wstring InterfacePath() const;
    // The id Corelib cuts from InterfacePath(): field 5 (Vista and later) or field 3 (XP class).
    std::wstring Id(bool xpClass = false) const;

    // Delivers WM_DEVICECHANGE DBT_DEVICEARRIVAL / DBT_DEVICEREMOVECOMPLETE for this volume's
    // interface (a DEV_BROADCAST_DEVICEINTERFACE_W of the volume class naming InterfacePath()).
    // Returns true when the window's procedure answered in time; *error gets GetLastError()
    // otherwise (ERROR_TIMEOUT 1460 when the receiver is blocked in its handler).
    bool NotifyArrival(HWND window, DWORD timeoutMs = 5000, DWORD* error = nullptr) const;
    bool NotifyRemoval(HWND window, DWORD timeoutMs = 5000, DWORD* error = nullptr) const;

private:
    bool Create();
    bool SetLinked(DWORD linked);
    std::wstring instanceId_;
    bool created_ = false;
};

// Sends WM_DEVICECHANGE with a device-interface broadcast (type 5) of the given class and name.
bool SendInterfaceNotice(HWND window, WPARAM event, const GUID& interfaceClass, const std::wstring& name,
                         DWORD timeoutMs = 5000, DWORD* error = nullptr);
// Sends WM_DEVICECHANGE with a volume broadcast (type 2) for one drive letter ('E').
bool SendVolumeNotice(HWND window, WPARAM event, wchar_t driveLetter, DWORD timeoutMs = 5000, DWORD* error = nullptr);

// Deletes every volume this fixture ever made, including those a crashed test left behind.
void RemoveAllSimulatedDisks();

}  // namespace ts
