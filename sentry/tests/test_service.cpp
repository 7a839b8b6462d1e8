// Sentry as a real service under the Wine service control manager, installed from a folder of its own
// with the recording test Porter beside it as Porter.exe. Removal notices are sent to its window the
// way Windows sends them; a notice that times out shows that the service sits in its locked wait.
#include <gtest/gtest.h>
#include <windows.h>

#include <dbt.h>

#include <functional>
#include <string>
#include <vector>

#include "installfolder.h"
#include "corelib.h"
#include "services.h"
#include "testsupport.h"
#include "tokensim.h"
#include "usbdisk.h"

namespace {

const wchar_t kService[] = L"Sentry";
const wchar_t kDescription[] = L"Tolven电脑锁的基础服务程序，如果停止或禁用该服务，系统将无法正常工作";
const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const DWORD kBlockedMs = 1500;  // a notice not answered within this is taken as "waiting for the unlock"

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
    return ts::WaitFor(condition, timeoutMs, 50);
}

DWORD ServiceState() { return ts::ServiceState(kService); }

bool Installed() {
    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!m) return false;
    SC_HANDLE s = OpenServiceW(m, kService, SERVICE_QUERY_CONFIG);
    DWORD e = GetLastError();
    if (s) CloseServiceHandle(s);
    CloseServiceHandle(m);
    EXPECT_TRUE(s || e == ERROR_SERVICE_DOES_NOT_EXIST) << e;
    return s != nullptr;
}

void RemoveAnyService() {
    ts::RemoveService(kService);
    WaitFor([] { return !Installed(); });
}


// One key mode: how its key is enrolled, plugged, pulled and how its removal is announced.
struct KeyMode {
    const char* name;
    std::function<void(uinfo*)> enroll;
    std::function<void()> plug, pull;
    std::function<bool(HWND, DWORD, DWORD*)> notifyRemoval;
};

class SentryService : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveAnyService();
        ts::ResetSettings();
        dir = ts::MakeTempDir(L"sentry");
        ASSERT_FALSE(dir.empty());
        Install(L"Sentry.exe");
    }
    void TearDown() override {
        if (!dir.empty()) {
            ts::ChildResult r = Run(L"/Uninstall");
            EXPECT_EQ(r.exitCode, 0u) << r.output;
        }
        RemoveAnyService();
        ts::ResetSettings();
        if (!dir.empty()) ts::RemoveTree(dir);
    }

    // The install folder: the given service build as Sentry.exe, the recording Porter as Porter.exe,
    // and the libraries of the build.
    void Install(const std::wstring& sentryBuild) { InstallSentry(dir, sentryBuild, L"PorterRecorder.exe"); }
    ts::ChildResult Run(const std::wstring& args) {
        return ts::RunChild(L"\"" + dir + L"\\Sentry.exe\" " + args, 30000);
    }
    void StartService() {
        ts::ChildResult r = Run(L"/start");
        ASSERT_EQ(r.exitCode, 0u) << r.output;
        ASSERT_TRUE(WaitFor([] { return ServiceState() == SERVICE_RUNNING; })) << ServiceState();
        ASSERT_TRUE(WaitFor([this] { return (window = FindWindowW(L"ZARN_MessageOnlyWindow", nullptr)) != nullptr; }))
            << "the service's window cannot be found from here";
    }
    // The test Porter's record: one line per run, its command line and, after a tab, its desktop.
    std::vector<std::string> PorterRuns() { return ts::SplitLines(ts::ReadFileBytes(dir + L"\\PorterCalls.txt"), true); }
    std::vector<std::string> PorterCalls() {
        std::vector<std::string> out;
        for (const std::string& run : PorterRuns()) out.push_back(run.substr(0, run.find('\t')));
        return out;
    }
    // Waits for the nth run, then holds that there are exactly n (no run beyond the ones expected).
    ::testing::AssertionResult WaitPorterCalls(size_t n) {
        WaitFor([this, n] { return PorterCalls().size() >= n; });
        const size_t got = PorterCalls().size();
        if (got == n) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << got << " Porter runs, expected " << n;
    }
    // True when the service answers a message within the time (it is not in its locked wait).
    bool Answers(DWORD timeoutMs = 5000) { return ts::WindowAnswers(window, timeoutMs); }
    // True once the service sits in its locked wait; it answers until Porter has ended.
    bool EntersItsWait() { return ts::StopsAnswering(window, kBlockedMs, 15000); }
    void SetAlert() {
        HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, CORELIB_ALERT_EVENT);
        ASSERT_NE(e, nullptr) << GetLastError();
        EXPECT_TRUE(SetEvent(e));
        CloseHandle(e);
    }
    LONG TakeLockType() {
        LockRecord record;
        memset(&record, 0xCC, sizeof(record));
        EXPECT_EQ(ReadFromSharedMemory(&record, sizeof(record)), 0u);
        return record.enuLockType;
    }
    void SetSwitches(DWORD removeLock, DWORD enableTolven, DWORD intervalMonitor) {
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_RemoveLock", removeLock));
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_EnableTolven", enableTolven));
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_IntervalMonitor", intervalMonitor));
    }
    void StoreRecord(const uinfo& record) {
        ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &record, sizeof(record)));
    }

    void KeyRemovalRoad(const KeyMode& mode);

    std::wstring dir;
    HWND window = nullptr;
};

TEST_F(SentryService, StartInstallsWithTheSettingsAndRuns) {
    ASSERT_FALSE(Installed());
    StartService();

    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(m, nullptr);
    SC_HANDLE s = OpenServiceW(m, kService, SERVICE_QUERY_CONFIG);
    ASSERT_NE(s, nullptr);
    std::vector<BYTE> buf(8192);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(s, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data()),
                                    static_cast<DWORD>(buf.size()), &needed))
        << GetLastError();
    const QUERY_SERVICE_CONFIGW* c = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
    EXPECT_EQ(c->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
    EXPECT_EQ(c->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(c->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    // Quoted: a folder with spaces must not be read as a shorter program path.
    EXPECT_EQ(ts::Narrow(c->lpBinaryPathName), ts::Narrow(L"\"" + dir + L"\\Sentry.exe\""));
    EXPECT_EQ(ts::Narrow(c->lpDisplayName), "Sentry");
    EXPECT_TRUE(!c->lpLoadOrderGroup || !*c->lpLoadOrderGroup);
    EXPECT_TRUE(!c->lpDependencies || !*c->lpDependencies);
    EXPECT_EQ(c->dwTagId, 0u);
    EXPECT_EQ(ts::Narrow(c->lpServiceStartName), "LocalSystem");

    ASSERT_TRUE(QueryServiceConfig2W(s, SERVICE_CONFIG_DESCRIPTION, buf.data(), static_cast<DWORD>(buf.size()), &needed))
        << GetLastError();
    const SERVICE_DESCRIPTIONW* d = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buf.data());
    ASSERT_NE(d->lpDescription, nullptr);
    EXPECT_EQ(ts::Narrow(d->lpDescription), ts::Narrow(kDescription));
    CloseServiceHandle(s);
    s = OpenServiceW(m, kService, SERVICE_QUERY_STATUS);
    ASSERT_NE(s, nullptr);
    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(s, &status));
    // Session changes are taken, so that an unlock by any route ends a wait.
    EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE));
    CloseServiceHandle(s);
    CloseServiceHandle(m);

    // A running service: /start and /Install change nothing, in any letter case.
    for (const wchar_t* again : {L"/START", L"/Start", L"/Install", L"/INSTALL"}) {
        ts::ChildResult r = Run(again);
        EXPECT_EQ(r.exitCode, 0u) << ts::Narrow(again) << r.output;
        EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING)) << ts::Narrow(again);
    }
}

TEST_F(SentryService, StopWaitsUntilStoppedAndUninstallRemoves) {
    StartService();
    ts::ChildResult r = Run(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    // The stop has completed when the switch returns, so the program file may be replaced now.
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(DeleteFileW((dir + L"\\Sentry.exe").c_str())) << GetLastError();
    Install(L"Sentry.exe");
    EXPECT_EQ(FindWindowW(L"ZARN_MessageOnlyWindow", nullptr), nullptr);
    r = Run(L"/STOP");
    EXPECT_EQ(r.exitCode, 0u) << "a stopped service is stopped: " << r.output;

    StartService();
    r = Run(L"/Uninstall");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_FALSE(Installed());
    EXPECT_EQ(FindWindowW(L"ZARN_MessageOnlyWindow", nullptr), nullptr);
    r = Run(L"/uninstall");
    EXPECT_EQ(r.exitCode, 0u) << "nothing to remove: " << r.output;
}

TEST_F(SentryService, SwitchesWithoutAService) {
    // A stop needs no service and installs none (on XP none may ever be installed).
    ts::ChildResult r = Run(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_FALSE(Installed());

    // Anything but a switch runs as the service, which fails outside the service control manager.
    r = Run(L"/start now");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)) << r.output;
    EXPECT_FALSE(Installed());

    r = Run(L"/Install");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    r = Run(L"/Install");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(Installed());
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED)) << "installing does not start it";
}

// The interval lock of the short-period build (1.5 s): lock type 2, the timer stopped during the wait
// and armed again by the unlock; a stop ends a wait. Porter takes longer than the interval, so a tick
// is due when the timer stops: it must not lock again right after the unlock (checked red by leaving
// the timer running through the wait, without the stop before it and the re-arm after it: the stale
// tick then locked 0.25 s after the unlock). The in-process run-time test covers KillTimer and the
// flush of queued ticks, which this Wine cannot show from outside the service.
TEST_F(SentryService, IntervalLockWaitsAndIsRearmedByTheUnlock) {
    const DWORD kInterval = 1500;
    Install(L"SentryShortPeriod.exe");
    ASSERT_TRUE(ts::WriteFileBytes(dir + L"\\PorterSlow.txt", "1700"));
    SetSwitches(0, 1, 1);
    StartService();
    ASSERT_TRUE(WaitPorterCalls(1)) << "the interval timer did not lock";
    EXPECT_EQ(PorterCalls(), std::vector<std::string>{"/LockWorkStation"});
    EXPECT_EQ(TakeLockType(), LOCKTYPE_INTERVAL);
    EXPECT_TRUE(EntersItsWait()) << "not waiting for the unlock";
    EXPECT_TRUE(WaitPorterCalls(1)) << "the timer ticked during the wait";

    const DWORD unlocked = GetTickCount();
    SetAlert();
    ASSERT_TRUE(WaitFor([this] { return PorterCalls().size() >= 2; })) << "the unlock did not re-arm the timer";
    EXPECT_GE(GetTickCount() - unlocked, kInterval - 100) << "a tick left from before the wait locked at once";
    ASSERT_TRUE(WaitPorterCalls(2));
    EXPECT_EQ(TakeLockType(), LOCKTYPE_INTERVAL);
    EXPECT_TRUE(EntersItsWait());

    ts::ChildResult r = Run(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
}

// When Porter cannot lock the session, nothing would ever end a wait: the service keeps answering, and
// the lock record it wrote is taken back so that the user's next lock does not show its reason.
TEST_F(SentryService, NoWaitWhenPorterCannotLock) {
    // Nothing enrolled: with both switches on, every removal notice locks.
    SetSwitches(1, 1, 0);
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_AppDriveMode", 0));
    const struct {
        const char* what;
        const wchar_t* porterBuild;  // nullptr: no Porter.exe at all
        bool recorded;               // the recording build shows that the lock was attempted
    } cases[] = {
        {"a Porter that reports its lock failed", L"PorterRecorder.exe", true},
        {"the real Porter, whose LockWorkStation fails under Wine", L"Porter.exe", false},
        {"no Porter.exe beside the service", nullptr, false},
    };
    ASSERT_TRUE(ts::WriteFileBytes(dir + L"\\PorterFails.txt", ""));  // read by the recording build
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW((dir + L"\\Porter.exe").c_str());
        DeleteFileW((dir + L"\\PorterCalls.txt").c_str());
        if (c.porterBuild) {
            ASSERT_TRUE(CopyFileW(ts::InExeDir(c.porterBuild).c_str(), (dir + L"\\Porter.exe").c_str(), FALSE));
        }
        StartService();
        ts::UsbDisk other = ts::UsbDisk::FlashDisk(L"OTHER1");
        for (int i = 0; i < 2; ++i) {
            DWORD error = 0;
            EXPECT_TRUE(other.NotifyRemoval(window, 15000, &error)) << "notice " << i << ": " << error;
        }
        if (c.recorded) {
            EXPECT_EQ(PorterCalls(), (std::vector<std::string>{"/LockWorkStation", "/LockWorkStation"}));
        }
        EXPECT_EQ(TakeLockType(), 0) << "the reason of a lock that did not happen was left behind";
        ts::ChildResult r = Run(L"/stop");
        EXPECT_EQ(r.exitCode, 0u) << r.output;
    }
}

TEST_F(SentryService, BothKeyModesLockOnRemovalAndWaitForTheUnlock) {
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SENTRY42");
    const KeyMode modes[] = {
        {"USB disk",
         [&](uinfo* r) {
             ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_AppDriveMode", 0));
             wcscpy(r->lpDriverUID[2], disk.Id().c_str());
         },
         [&] { ASSERT_TRUE(disk.Plug()); }, [&] { ASSERT_TRUE(disk.Pull()); },
         [&](HWND w, DWORD ms, DWORD* e) { return disk.NotifyRemoval(w, ms, e); }},
        {"token",
         [&](uinfo* r) {
             ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_AppDriveMode", 1));
             r->ulTokenSerial = ts::tokensim::Fold(0x5E47, 0x0101);
         },
         [&] { ASSERT_TRUE(ts::tokensim::Insert({ts::tokensim::MakeToken(0x5E47, 0x0101, "ZARN-S")})); },
         [&] { ASSERT_TRUE(ts::tokensim::RemoveAll()); },
         [&](HWND w, DWORD ms, DWORD* e) {
             return ts::SendInterfaceNotice(w, DBT_DEVICEREMOVECOMPLETE, kHidClass, L"\\\\?\\hid#vid_096e&pid_0006#1",
                                            ms, e);
         }},
    };
    for (const KeyMode& mode : modes) {
        SCOPED_TRACE(mode.name);
        ts::tokensim::Reset();
        KeyRemovalRoad(mode);
        if (HasFatalFailure()) return;
    }
    ts::tokensim::Reset();
}

void SentryService::KeyRemovalRoad(const KeyMode& mode) {
    SetSwitches(1, 1, 0);
    uinfo record = {};
    wcscpy(record.lpUserName, L"tester");
    mode.enroll(&record);
    StoreRecord(record);
    mode.plug();
    ts::WriteFileBytes(dir + L"\\PorterCalls.txt", "");
    StartService();
    if (::testing::Test::HasFatalFailure()) return;

    DWORD error = 0;
    // Answered means judged: a lock would have kept the handler in its wait.
    EXPECT_TRUE(mode.notifyRemoval(window, 5000, &error)) << "key present: the notice is answered, " << error;
    EXPECT_TRUE(PorterCalls().empty()) << "locked although the key is present";

    mode.pull();
    EXPECT_FALSE(mode.notifyRemoval(window, kBlockedMs, &error)) << "key pulled: the service should be waiting";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_TIMEOUT));
    ASSERT_TRUE(WaitPorterCalls(1));
    EXPECT_EQ(PorterCalls(), std::vector<std::string>{"/LockWorkStation"});
    // On the interactive desktop, which it is to lock.
    EXPECT_EQ(PorterRuns(), std::vector<std::string>{"/LockWorkStation\twinsta0\\default"});
    EXPECT_EQ(TakeLockType(), LOCKTYPE_KEY_REMOVED);

    // The unlock ends the wait; notices that came during it are not acted on afterwards.
    EXPECT_FALSE(mode.notifyRemoval(window, 300, &error));
    SetAlert();
    // The notices sent in the wait are answered first, in order: one acted on would hold the thread in a
    // new wait, and this message would not be answered.
    ASSERT_TRUE(Answers()) << "the unlock did not end the wait";
    ASSERT_TRUE(Answers());
    EXPECT_EQ(PorterCalls().size(), 1u);

    // Watching again: the key back, a notice does nothing; pulled, it locks again, and a stop ends that wait.
    mode.plug();
    EXPECT_TRUE(mode.notifyRemoval(window, 5000, &error)) << error;
    EXPECT_EQ(PorterCalls().size(), 1u);
    mode.pull();
    EXPECT_FALSE(mode.notifyRemoval(window, kBlockedMs, &error));
    EXPECT_TRUE(WaitPorterCalls(2));
    ts::ChildResult r = Run(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
}

}  // namespace
