// What every host test starts from: clean settings with the flash-disk device mode, no simulated
// disks or tokens, no auto-logon values and no registered GINA folder.
#pragma once

#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "driver.h"
#include "host.h"
#include "testsupport.h"
#include "tokensim.h"
#include "usbdisk.h"

namespace host {

class GatehookHost : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        ts::RemoveAllSimulatedDisks();
        ts::tokensim::Reset();
        ClearAutoLogon();
        ClearGinaRegistration();
        SetSwitch(L"QJ_AppDriveMode", 0);
    }
    void TearDown() override {
        if (!ginaFolder_.empty()) ts::RemoveTree(ginaFolder_);
    }
    // A Config.ini beside the registered GINA holding the given [Preferences] lines, written as the
    // control panel writes it (UTF-16 with a byte-order mark); "" registers the folder without a file.
    std::wstring WriteConfig(const std::wstring& preferences) {
        if (ginaFolder_.empty()) ginaFolder_ = RegisterGinaFolder();
        if (!preferences.empty()) {
            std::wstring text = L"[Preferences]\r\n" + preferences;
            ts::WriteFileBytes(ginaFolder_ + L"\\Config.ini",
                               "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.c_str()),
                                                        text.size() * sizeof(wchar_t)));
        }
        return ginaFolder_;
    }
    Winlogon& W = Winlogon::Get();
    std::wstring ginaFolder_;
};

// A host with an enrolled removable key and a second, foreign one, under the switches a test sets.
class GatehookKeyHost : public GatehookHost {
public:
    struct SwitchValue {
        const wchar_t* name;
        DWORD value;
    };

protected:
    void SetUpKeys(const wchar_t* enrolled, const wchar_t* other, std::initializer_list<SwitchValue> switches,
                   const std::wstring& password = L"") {
        key_ = ts::UsbDisk::RemovableMedia(enrolled);
        other_ = ts::UsbDisk::RemovableMedia(other);
        for (const SwitchValue& s : switches) SetSwitch(s.name, s.value);
        StoreRecord(L"Admin", password, {key_.Id(true)});
    }
    ts::UsbDisk key_{L""};
    ts::UsbDisk other_{L""};
};

// Ends every dialog when the Wlx call on the main thread has not returned within ms: a notice that
// should have closed by itself must not hang the test.
class Watchdog {
public:
    explicit Watchdog(DWORD ms, const char* what);
    ~Watchdog();
    void Done();

private:
    HANDLE done_;
    Driver* driver_;
};

// The control's pixels as the screen shows them, row by row.
std::vector<COLORREF> CaptureControl(HWND dlg, int id, int* width, int* height);
bool Near(COLORREF a, COLORREF b, int tolerance = 24);

}  // namespace host
