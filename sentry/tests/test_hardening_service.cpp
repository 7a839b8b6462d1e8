// Sentry under the real service control manager, read the way a user of the machine would read it:
// a Porter that never ends, a stop during the wait for Porter, a settings key left open by whoever
// made it, and the alert event or the lock-record mapping made by somebody else before the service.
// Nothing is enrolled, so with both switches on every removal notice locks.
#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <functional>
#include <string>
#include <vector>

#include "dacl.h"
#include "installfolder.h"
#include "corelib.h"
#include "services.h"
#include "testsupport.h"
#include "usbdisk.h"

namespace {

const wchar_t kService[] = L"Sentry";
const wchar_t kProtectedDacl[] = L"D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";
const DWORD kBlockedMs = 1500;  // a notice not answered within this is taken as "the service is waiting"

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
    return ts::WaitFor(condition, timeoutMs, 50);
}


// An object of the service's name made first by somebody else: owned by Users, open to everyone.
SECURITY_ATTRIBUTES* SquatterSecurity() {
    static PSECURITY_DESCRIPTOR sd = nullptr;
    static SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    if (!sd && !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BUD:(A;;GA;;;WD)", SDDL_REVISION_1, &sd,
                                                                    nullptr))
        return nullptr;
    sa.lpSecurityDescriptor = sd;
    return &sa;
}

class SentryHardening : public ::testing::Test {
  protected:
    void SetUp() override {
        ts::RemoveService(kService);
        ts::ResetSettings();
        dir = ts::MakeTempDir(L"sentryhard");
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", 1));
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_EnableTolven", 1));
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_IntervalMonitor", 0));
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_AppDriveMode", 0));
    }
    void TearDown() override {
        if (!dir.empty()) Run(L"/Uninstall");
        ts::RemoveService(kService);
        for (DWORD pid : PorterPids()) {  // a Porter that the service failed to end
            HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
            if (p) {
                TerminateProcess(p, 1);
                CloseHandle(p);
            }
        }
        ts::ResetSettings();
        if (!dir.empty()) ts::RemoveTree(dir);
    }

    // The install folder: the given service build as Sentry.exe, the given Porter build as Porter.exe,
    // and the libraries of the build.
    void Install(const std::wstring& sentryBuild, const std::wstring& porterBuild) {
        InstallSentry(dir, sentryBuild, porterBuild);
    }
    ts::ChildResult Run(const std::wstring& args) { return ts::RunChild(L"\"" + dir + L"\\Sentry.exe\" " + args, 30000); }
    void StartService() {
        ts::ChildResult r = Run(L"/start");
        ASSERT_EQ(r.exitCode, 0u) << r.output;
        ASSERT_TRUE(WaitFor([] { return ts::ServiceState(kService) == SERVICE_RUNNING; }));
        ASSERT_TRUE(WaitFor([this] { return (window = FindWindowW(L"ZARN_MessageOnlyWindow", nullptr)) != nullptr; }))
            << "the service's window cannot be found from here";
    }
    // One removal notice; true when the service answered it within the time.
    bool Removal(DWORD timeoutMs, DWORD* error = nullptr) { return disk.NotifyRemoval(window, timeoutMs, error); }
    bool Answers(DWORD timeoutMs = 5000) { return ts::WindowAnswers(window, timeoutMs); }

    std::vector<DWORD> PorterPids() {
        std::vector<DWORD> pids;
        for (const std::string& line : ts::SplitLines(ts::ReadFileBytes(dir + L"\\PorterPids.txt")))
            pids.push_back(static_cast<DWORD>(strtoul(line.c_str(), nullptr, 10)));
        return pids;
    }
    size_t PorterCalls() { return ts::SplitLines(ts::ReadFileBytes(dir + L"\\PorterCalls.txt")).size(); }
    static bool Ended(DWORD pid) {
        HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid);
        if (!p) return true;
        bool ended = WaitForSingleObject(p, 0) == WAIT_OBJECT_0;
        CloseHandle(p);
        return ended;
    }
    static LONG TakeLockType() {
        LockRecord record;
        memset(&record, 0xCC, sizeof(record));
        EXPECT_EQ(ReadFromSharedMemory(&record, sizeof(record)), 0u);
        return record.enuLockType;
    }

    std::wstring dir;
    HWND window = nullptr;
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"HARDEN1");
};

// A Porter still running at its bound is a lock that did not happen: it is ended, its lock record is
// taken back, and the service goes on watching instead of waiting for an unlock that never comes.
TEST_F(SentryHardening, HungPorterIsEndedAndTheServiceKeepsWatching) {
    Install(L"SentryQuickPorter.exe", L"PorterHangs.exe");
    StartService();
    for (size_t lock = 1; lock <= 2; ++lock) {
        SCOPED_TRACE(lock);
        DWORD error = 0;
        EXPECT_TRUE(Removal(15000, &error)) << "the service waits after a Porter that never ended: " << error;
        ASSERT_EQ(PorterPids().size(), lock) << "Porter was not started for the lock";
        EXPECT_TRUE(WaitFor([&] { return Ended(PorterPids().back()); }, 5000)) << "the hung Porter was left running";
        EXPECT_EQ(TakeLockType(), 0) << "the record of a lock that did not happen was left behind";
        EXPECT_TRUE(Answers());
    }
    ts::ChildResult r = Run(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
}

// While the service waits for Porter, a stop does not wait for Porter's bound (10 s here).
TEST_F(SentryHardening, StopDuringTheWaitForPorterIsPrompt) {
    Install(L"Sentry.exe", L"PorterHangs.exe");
    StartService();
    EXPECT_FALSE(Removal(kBlockedMs)) << "the service should be waiting for Porter";
    ASSERT_TRUE(WaitFor([&] { return PorterPids().size() == 1; }, 5000));
    DWORD start = GetTickCount();
    ts::ChildResult r = Run(L"/stop");
    DWORD took = GetTickCount() - start;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(ts::ServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_LT(took, 6000u) << "the stop waited for Porter's bound";
    EXPECT_TRUE(WaitFor([&] { return Ended(PorterPids().back()); }, 5000)) << "the Porter of a stopped service runs on";
}

// A lock that did not take (Porter's lock call failed, or Windows never reported the session locked:
// a UAC prompt was up) leaves the PC open with the key out. It is tried again every retry period (300 ms
// in this build) while the key stays out, each time after a fresh key check; the retries end when the
// key is back, when key-removal locking is switched off, when a lock takes (the service then waits for
// the unlock), and with the service.
TEST_F(SentryHardening, LockThatDoesNotTakeIsRetriedWhileTheKeyStaysOut) {
    uinfo record = {};
    lstrcpyW(record.lpUserName, L"tester");
    lstrcpyW(record.lpDriverUID[2], disk.Id().c_str());
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &record, sizeof(record)));
    Install(L"SentryShortRetry.exe", L"PorterRecorder.exe");
    // Porter runs no more: one already on its way when the state changed may still end its run.
    auto settles = [this] {
        for (int i = 0; i < 3; ++i) {
            size_t n = PorterCalls();
            if (!WaitFor([&] { return PorterCalls() != n; }, 2000)) return true;
        }
        return false;
    };
    auto retries = [this](size_t before) { return WaitFor([&] { return PorterCalls() >= before + 3; }, 15000); };
    const struct {
        const char* what;
        const wchar_t* file;  // makes the recording Porter's lock fail in this way
    } failures[] = {
        {"Porter's lock call fails", L"PorterFails.txt"},
        {"Windows does not report the lock", L"PorterUnconfirmed.txt"},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.what);
        const std::wstring failure = dir + L"\\" + f.file;
        DeleteFileW((dir + L"\\PorterCalls.txt").c_str());
        ASSERT_TRUE(ts::WriteFileBytes(failure, ""));
        ASSERT_TRUE(disk.Plug());
        StartService();
        if (HasFatalFailure()) return;

        ASSERT_TRUE(disk.Pull());
        DWORD error = 0;
        EXPECT_TRUE(Removal(15000, &error)) << "the service waits after a lock that did not take: " << error;
        EXPECT_TRUE(retries(0)) << "the lock was not tried again: " << PorterCalls() << " Porter runs";
        ASSERT_TRUE(disk.Plug());
        EXPECT_TRUE(settles()) << "the key is back, the retries go on";

        ASSERT_TRUE(disk.Pull());
        EXPECT_TRUE(Removal(15000, &error)) << error;
        EXPECT_TRUE(retries(PorterCalls()));
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", 0));
        EXPECT_TRUE(settles()) << "key-removal locking is off, the retries go on";
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", 1));

        EXPECT_TRUE(Removal(15000, &error)) << error;
        EXPECT_TRUE(retries(PorterCalls()));
        ASSERT_TRUE(DeleteFileW(failure.c_str()));
        EXPECT_TRUE(ts::StopsAnswering(window, kBlockedMs, 15000)) << "the lock that took is not waited on";
        EXPECT_EQ(TakeLockType(), LOCKTYPE_KEY_REMOVED) << "the lock that took has no record";
        size_t took = PorterCalls();
        HANDLE alert = OpenEventW(EVENT_MODIFY_STATE, FALSE, CORELIB_ALERT_EVENT);
        ASSERT_NE(alert, nullptr) << GetLastError();
        EXPECT_TRUE(SetEvent(alert));
        CloseHandle(alert);
        EXPECT_TRUE(Answers()) << "the unlock did not end the wait";
        EXPECT_TRUE(settles());
        EXPECT_EQ(PorterCalls(), took) << "retried after a lock that took";

        ASSERT_TRUE(ts::WriteFileBytes(failure, ""));
        EXPECT_TRUE(Removal(15000, &error)) << error;
        EXPECT_TRUE(retries(PorterCalls()));
        ts::ChildResult r = Run(L"/stop");
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        EXPECT_EQ(ts::ServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
        DeleteFileW(failure.c_str());
    }
}

// A settings key made by an installer or a .reg import keeps its inherited DACL; the service gives it
// the protected one when it starts.
TEST_F(SentryHardening, StartGivesAnOpenSettingsKeyTheProtectedDacl) {
    HKEY k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, 0, READ_CONTROL | WRITE_DAC, &k), ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;KA;;;WD)", SDDL_REVISION_1, &open,
                                                                    nullptr));
    ASSERT_EQ(RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, open), ERROR_SUCCESS);
    LocalFree(open);
    uinfo record = {};
    lstrcpyW(record.lpUserName, L"Admin");
    lstrcpyW(record.lpUserPWD, L"windows-pw");
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &record, sizeof(record)));

    Install(L"Sentry.exe", L"PorterRecorder.exe");
    StartService();

    RegCloseKey(k);
    const ts::DaclView dacl = ts::ReadKeyDacl(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY);
    ASSERT_TRUE(dacl.read) << dacl.error;
    EXPECT_EQ(ts::Narrow(dacl.sddl), ts::Narrow(kProtectedDacl));
    ts::ChildResult r = Run(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
}

// An alert event that somebody else made first is not waited on: whoever holds it could end every
// locked wait. The service runs without one, as when it cannot make it.
TEST_F(SentryHardening, AlertEventMadeBySomebodyElseIsNotTrusted) {
    HANDLE squat = CreateEventW(SquatterSecurity(), FALSE, FALSE, CORELIB_ALERT_EVENT);
    ASSERT_NE(squat, nullptr) << GetLastError();
    Install(L"Sentry.exe", L"PorterRecorder.exe");
    StartService();
    DWORD error = 0;
    EXPECT_TRUE(Removal(5000, &error)) << "the service waits on the squatter's event: " << error;
    EXPECT_TRUE(WaitFor([&] { return PorterCalls() == 1; }, 5000)) << "the lock itself must still happen";
    ts::ChildResult r = Run(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    CloseHandle(squat);
}

// A lock-record mapping that somebody else made first gets no record: its squatter would read the
// reasons and could write its own.
TEST_F(SentryHardening, LockRecordMappingMadeBySomebodyElseGetsNoRecord) {
    HANDLE squat = CreateFileMappingW(INVALID_HANDLE_VALUE, SquatterSecurity(), PAGE_READWRITE, 0,
                                      CORELIB_SHARED_MAPPING_SIZE, CORELIB_SHARED_MAPPING);
    ASSERT_NE(squat, nullptr) << GetLastError();
    const LockRecord* view = static_cast<const LockRecord*>(MapViewOfFile(squat, FILE_MAP_READ, 0, 0, sizeof(LockRecord)));
    ASSERT_NE(view, nullptr);
    Install(L"Sentry.exe", L"PorterRecorder.exe");
    StartService();
    EXPECT_FALSE(Removal(kBlockedMs)) << "the lock waits for its unlock as always";
    ASSERT_TRUE(WaitFor([&] { return PorterCalls() == 1; }, 5000));
    EXPECT_EQ(view->enuLockType, 0) << "the lock record went into the squatter's mapping";
    ts::ChildResult r = Run(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    UnmapViewOfFile(view);
    CloseHandle(squat);
}

// A service that takes the stop but does not get to STOPPED within the command line's bound (1 s in
// this build): /Uninstall says so with ERROR_SERVICE_REQUEST_TIMEOUT instead of success, for the
// program file is still held, and deletes the service all the same: marked at once, gone as soon as
// its process ends. Red with Uninstall returning success whatever the stop gave, or returning before
// DeleteService when the stop failed.
TEST_F(SentryHardening, UninstallOfAServiceThatDoesNotStopReportsTheTimeoutAndDeletesIt) {
    Install(L"SentryStopHangs.exe", L"PorterRecorder.exe");
    StartService();
    SERVICE_STATUS_PROCESS ssp = {};
    DWORD pid = ts::ServiceProcess(kService, &ssp) ? ssp.dwProcessId : 0;
    ASSERT_NE(pid, 0u);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(process, nullptr) << GetLastError();

    DWORD start = GetTickCount();
    ts::ChildResult r = Run(L"/Uninstall");
    DWORD took = GetTickCount() - start;
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT)) << r.output;
    EXPECT_LT(took, 6000u) << "the command line did not keep to its bound";
    EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the service did stop";
    EXPECT_EQ(ts::ServiceState(kService), static_cast<DWORD>(SERVICE_STOP_PENDING));
    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceW(m, kService, DELETE) : nullptr;
    EXPECT_NE(s, nullptr) << GetLastError();
    if (s) {
        EXPECT_FALSE(DeleteService(s));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE)) << "not marked for deletion";
        CloseServiceHandle(s);
    }
    if (m) CloseServiceHandle(m);

    // The stuck service is ended here, as a restart would end it.
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    EXPECT_TRUE(WaitFor([] { return ts::ServiceState(kService) == 0; })) << "the service outlived its process";
}

}  // namespace
