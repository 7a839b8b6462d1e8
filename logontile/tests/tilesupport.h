// What the key tile finds around itself, for tests: an installation folder (Config.ini, a stand-in
// service program) named by the CLSID's registration, and an enrolled user with a USB-disk key.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "corelib.h"
#include "prefs.h"
#include "classkeys.h"
#include "services.h"
#include "testsupport.h"

namespace lt {

using ts::kClassKey;
using ts::kInprocKey;

// Corelib finds the installation folder through the CLSID's InprocServer32 path; the tile reads
// Config.ini there and the provider starts Sentry.exe there. Without this, both would be the test
// program's own folder, where the real service program lies.
class InstallFolder {
public:
    InstallFolder() : dir_(ts::MakeTempDir(L"logontile")) {
        EXPECT_FALSE(dir_.empty());
        EXPECT_TRUE(ts::SetString(HKEY_CLASSES_ROOT, kInprocKey, L"", dir_ + L"\\Logontile.dll"));
    }
    ~InstallFolder() {
        ts::DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
        if (!dir_.empty()) ts::RemoveTree(dir_);
    }
    InstallFolder(const InstallFolder&) = delete;
    InstallFolder& operator=(const InstallFolder&) = delete;

    const std::wstring& dir() const { return dir_; }
    std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }

    // [Preferences] of Config.ini (LockMes, UserPic).
    bool SetPreference(const wchar_t* key, const std::wstring& value) const {
        return prefs::Write(Path(L"Config.ini").c_str(), L"Preferences", key, value.c_str());
    }

    // Sentry.exe here records the switch it was started with (cmdline.txt) and exits.
    bool AddServiceRecorder() const {
        return CopyFileW(ts::InExeDir(L"corelib_cmdline_recorder.exe").c_str(), Path(L"Sentry.exe").c_str(), FALSE) !=
               FALSE;
    }
    // The arguments the recorder was last started with; "" when it was not started in time.
    std::string ServiceArguments(DWORD waitMs) const {
        std::string arguments;
        ts::WaitFor(
            [&] {
                std::string text = ts::ReadFileBytes(Path(L"cmdline.txt"));
                size_t first = text.find('\n');
                size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
                if (second == std::string::npos) return false;
                arguments = text.substr(first + 1, second - first - 1);
                return true;
            },
            waitMs, 20);
        return arguments;
    }

private:
    std::wstring dir_;
};

// Stores a user record for user and password whose key is the USB disk with this Corelib id,
// and chooses the USB-disk device mode.
inline void Enrol(const std::wstring& user, const std::wstring& password, const std::wstring& diskId) {
    uinfo record;
    ZeroMemory(&record, sizeof(record));
    wcsncpy(record.lpUserName, user.c_str(), 49);
    wcsncpy(record.lpUserPWD, password.c_str(), 49);
    wcsncpy(record.lpComputerName, L"PC", 49);
    ASSERT_TRUE(AddDriverUID(&record, diskId.c_str()));
    ASSERT_TRUE(SetUserInfo(&record));
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", 0), ERROR_SUCCESS);
}

inline uinfo StoredRecord() {
    uinfo record;
    ZeroMemory(&record, sizeof(record));
    EXPECT_TRUE(GetUserInfo(&record));
    return record;
}

// A switch as stored, without creating it; -1 when missing.
inline long StoredSwitch(const wchar_t* name) {
    DWORD value = 0;
    return ts::GetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, name, &value) ? static_cast<long>(value) : -1;
}

// A bottom-up 24-bit BMP file of width x height pixels.
inline std::string BmpFile(int width, int height) { return ts::SolidBmp(width, height, RGB(0x40, 0x40, 0x40)); }

}  // namespace lt
