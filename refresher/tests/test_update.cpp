// Whole updates: every file fetched and checked before the service is stopped and the panel ended,
// signatures and digests, placing the files, and the panel's end.
#include "enginefixture.h"

#include <tlhelp32.h>

#include <algorithm>

#include "corelib.h"
#include "runningpanel.h"
#include "startup.h"
#include "services.h"
#include "updateworker.h"

namespace rt {
namespace {

using ts::HttpReply;

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

class RefresherUpdate : public EngineTest {
protected:
    // Every run stops the service through the service control manager: the stand-in, running.
    void SetUp() override {
        EngineTest::SetUp();
        service_.reset(new ServiceStandIn(root_ + L"\\服务"));
        ASSERT_TRUE(service_->ok());
    }
    void TearDown() override {
        EndStartedPanels();
        service_.reset();
        EngineTest::TearDown();
    }
    std::unique_ptr<ServiceStandIn> service_;
    // The service running, as a fresh stand-in where a run before left it stopped.
    bool ServiceRuns() {
        if (service_->State() == SERVICE_RUNNING) return true;
        service_.reset();  // removes the service, which the new stand-in installs again
        service_.reset(new ServiceStandIn(root_ + L"\\服务"));
        return service_->ok();
    }
    std::vector<FileSpec> ThreeFiles() {
        return {{"Sentry.exe", "sentry-2", true, ""}, {"Warden.exe", "warden-2", true, ""},
                {"Manual.chm", "readme-2", true, ""}};
    }
    // Published, fetched and signed: ready for RunUpdate.
    void Offer(const std::vector<FileSpec>& files, int count = -2) {
        ServeFiles(files);
        Publish(Describe("2.0", files, count));
        ASSERT_TRUE(Engine().GetUpdateInfo());
    }
    std::vector<std::string> Asked() {
        std::vector<std::string> out;
        for (const ts::HttpRequestLog& r : server_.Requests())
            if (r.path.compare(0, 7, "/files/") == 0) out.push_back(r.path.substr(7));
        return out;
    }
    bool Installed(const std::string& name, const std::string& content) {
        return ts::ReadFileBytes(program_ + L"\\" + ts::Widen(name)) == content;
    }
};

TEST_F(RefresherUpdate, DownloadsEveryIndexUpToTheCount) {
    Offer(ThreeFiles());
    server_.ClearLog();
    ASSERT_TRUE(Engine().DownloadFiles());
    EXPECT_EQ(Asked(), (std::vector<std::string>{"Sentry.exe", "Warden.exe", "Manual.chm"}));
    std::vector<std::wstring> s = recorder_.Statuses();
    std::vector<std::wstring> files(s.end() - 3, s.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{L"正在下载文件3/1", L"正在下载文件3/2", L"正在下载文件3/3"}));
    EXPECT_EQ(ts::ReadFileBytes(download_ + L"\\Warden.exe"), "warden-2");
}

TEST_F(RefresherUpdate, ShortFileValuesAreSkipped) {
    for (const char* value : {"", "x"}) {
        SCOPED_TRACE(value);
        std::vector<FileSpec> files = ThreeFiles();
        files[1] = {value, "", false, ""};
        Offer(files);
        server_.ClearLog();
        ASSERT_TRUE(Engine().RunUpdate());
        EXPECT_EQ(Asked(), (std::vector<std::string>{"Sentry.exe", "Manual.chm"}));
        EXPECT_TRUE(Installed("Sentry.exe", "sentry-2"));
        EXPECT_EQ(recorder_.Finished(), 1);
    }
}

TEST_F(RefresherUpdate, CountOutsideItsRangeFetchesNothing) {
    for (int count : {-1, 100}) {
        SCOPED_TRACE(count);
        ServeFiles(ThreeFiles());
        PlaceLocally(Describe("2.0", ThreeFiles(), count));
        server_.ClearLog();
        EXPECT_FALSE(Engine().DownloadFiles());
        EXPECT_FALSE(Engine().RunUpdate());
        EXPECT_TRUE(Asked().empty());
        EXPECT_EQ(recorder_.Finished(), 0);
    }
}

TEST_F(RefresherUpdate, MissingFileStopsBeforeAnythingIsStoppedOrInstalled) {
    TestPanel panel(L"panel");
    ASSERT_TRUE(panel.started());
    WriteInstalledVersion(L"1.0");
    std::vector<FileSpec> files = ThreeFiles();
    Offer(files);
    server_.Remove("/files/Warden.exe");
    server_.ClearLog();
    EXPECT_FALSE(Engine().RunUpdate());
    EXPECT_EQ(Asked(), (std::vector<std::string>{"Sentry.exe", "Warden.exe"}));  // FILE2 never asked
    EXPECT_EQ(recorder_.Finished(), 0);
    EXPECT_EQ(ts::Narrow(InstalledVersion()), "1.0");
    EXPECT_FALSE(Exists(program_ + L"\\Sentry.exe"));
    EXPECT_TRUE(Exists(download_ + L"\\Sentry.exe"));  // the first file stays downloaded
    EXPECT_TRUE(service_->Untouched());
    EXPECT_TRUE(panel.Running());
    EXPECT_FALSE(panel.GotQuit());
}

TEST_F(RefresherUpdate, OnlyASignedDescriptionAndCheckedFilesAreInstalled) {
    struct Case {
        const char* what;
        bool installs;
    } cases[] = {
        {"valid", true},
        {"no signature", false},
        {"flipped bit in the signature", false},
        {"edited description", false},
        {"wrong file digest", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring name(c.what, c.what + strlen(c.what));
        const DWORD stateBefore = service_->State();
        const size_t startsBefore = service_->Starts();
        DeleteFileW((program_ + L"\\Config.ini").c_str());
        DeleteFileW((program_ + L"\\Sentry.exe").c_str());
        DeleteFileW((program_ + L"\\Warden.exe").c_str());
        std::vector<FileSpec> files = {{"Sentry.exe", "sentry-2", true, ""}, {"Warden.exe", "warden-2", true, ""}};
        if (std::string(c.what) == "wrong file digest") files[1].digestOverride = Sha256Hex("something else");
        ServeFiles(files);
        std::string d = Describe("2.0", files);
        std::string sig = Sign(d);
        if (std::string(c.what) == "flipped bit in the signature") sig[sig.size() / 2] ^= 0x10;
        if (std::string(c.what) == "edited description") d += "UPDATETXT0=x\r\n";
        server_.SetBody(kDescriptionPath, d);
        if (std::string(c.what) == "no signature") server_.Remove(std::string(kDescriptionPath) + ".sig");
        else server_.SetBody(std::string(kDescriptionPath) + ".sig", sig);
        ASSERT_TRUE(Engine().GetUpdateInfo());
        EXPECT_EQ(Engine().CanAutoUpdate(), c.installs || std::string(c.what) == "wrong file digest" ? TRUE : FALSE);

        EXPECT_EQ(Engine().RunUpdate(), c.installs ? TRUE : FALSE);
        EXPECT_EQ(recorder_.Finished(), c.installs ? 1 : 0);
        EXPECT_EQ(Installed("Sentry.exe", "sentry-2"), c.installs);
        EXPECT_EQ(Installed("Warden.exe", "warden-2"), c.installs);
        EXPECT_EQ(ts::Narrow(InstalledVersion()), c.installs ? "2.0" : "");
        if (c.installs) {
            // Stopped, and waited for: it runs again only after the question about the restart.
            EXPECT_EQ(service_->State(), static_cast<DWORD>(SERVICE_STOPPED));
        } else {
            EXPECT_EQ(service_->State(), stateBefore);
            EXPECT_EQ(service_->Starts(), startsBefore);
        }
        // A file that failed its check is not kept for a later install.
        if (std::string(c.what) == "wrong file digest") {
            EXPECT_FALSE(Exists(download_ + L"\\Warden.exe"));
        }
    }
}

// "FILE%dSIZE" bounds its file exactly: a server that sends more or fewer bytes fails the run before
// anything is stopped; a size that is no byte count, or more than any file may have, refuses the
// description before anything is fetched.
TEST_F(RefresherUpdate, DeclaredSizesBoundEachFile) {
    const std::string content = "sentry-2";
    HttpReply exact, more, endless;
    exact.body = content;
    more.body = content + "-and-more";
    endless.mode = HttpReply::Mode::Endless;
    endless.body = std::string(16384, 'x');
    endless.announcedLength = 1ll << 20;
    struct Case {
        const char* what;
        std::string declared;
        HttpReply reply;
        bool fetched, installs;
    } cases[] = {
        {"as declared", "8", exact, true, true},
        {"more than declared", "8", more, true, false},
        {"endless", "8", endless, true, false},
        {"fewer than declared", "9", exact, true, false},
        {"not a number", "8 bytes", exact, false, false},
        {"a sign", "+8", exact, false, false},
        {"beyond 64 bits", "18446744073709551624", exact, false, false},
        {"beyond every file's bound", std::to_string(refresher::kMaxFileBytes + 1), exact, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ServiceRuns());
        WriteInstalledVersion(L"1.0");
        DeleteFileW((program_ + L"\\Sentry.exe").c_str());
        DeleteFileW((download_ + L"\\Sentry.exe").c_str());
        std::vector<FileSpec> files = {{"Sentry.exe", content, true, "", c.declared}};
        Publish(Describe("2.0", files));
        server_.Set("/files/Sentry.exe", c.reply);
        ASSERT_TRUE(Engine().GetUpdateInfo());
        EXPECT_EQ(Engine().CanAutoUpdate(), c.fetched ? TRUE : FALSE);
        server_.ClearLog();
        EXPECT_EQ(Engine().RunUpdate(), c.installs ? TRUE : FALSE);
        EXPECT_EQ(recorder_.Finished(), c.installs ? 1 : 0);
        EXPECT_EQ(Asked().size(), c.fetched ? 1u : 0u);
        EXPECT_EQ(Installed("Sentry.exe", content), c.installs);
        EXPECT_EQ(ts::Narrow(InstalledVersion()), c.installs ? "2.0" : "1.0");
        if (c.installs) {
            EXPECT_EQ(service_->State(), static_cast<DWORD>(SERVICE_STOPPED));  // left to the caller's restart
        } else {
            EXPECT_FALSE(Exists(download_ + L"\\Sentry.exe"));
            EXPECT_FALSE(Exists(download_ + L"\\Sentry.exe.part"));
            EXPECT_TRUE(service_->Untouched());
        }
    }
}

TEST_F(RefresherUpdate, BuildWithoutKeyNeverInstalls) {
    std::vector<FileSpec> files = {{"Sentry.exe", "sentry-2", true, ""}};
    ServeFiles(files);
    Publish(Describe("2.0", files));
    refresher::EngineSettings s = Settings();
    s.publicKey = nullptr;
    s.publicKeySize = 0;
    refresher::CUpdateEngine engine(s);
    ASSERT_TRUE(engine.InitPaths());
    ASSERT_TRUE(engine.GetUpdateInfo());
    EXPECT_TRUE(engine.CheckNewVersion());  // still offered, for the web site
    EXPECT_FALSE(engine.CanAutoUpdate());
    server_.ClearLog();
    EXPECT_FALSE(engine.RunUpdate());
    EXPECT_TRUE(Asked().empty());
    EXPECT_FALSE(Exists(program_ + L"\\Sentry.exe"));
}

TEST_F(RefresherUpdate, TheLibraryGoesToTheSystemFolderInAnySpelling) {
    for (const char* name : {"Corelib.dll", "corelib.dll", "CORELIB.DLL"}) {
        SCOPED_TRACE(name);
        Offer({{name, "library-2", true, ""}});
        ASSERT_TRUE(Engine().RunUpdate());
        EXPECT_EQ(ts::ReadFileBytes(system_ + L"\\Corelib.dll"), "library-2");
        EXPECT_FALSE(Exists(program_ + L"\\" + ts::Widen(name)));
        DeleteFileW((system_ + L"\\Corelib.dll").c_str());
    }
}

TEST_F(RefresherUpdate, FileInUseIsReplacedAtTheNextStart) {
    std::vector<BYTE> before;
    DWORD type = 0;
    bool had = ts::GetValue(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", &before, &type);
    std::wstring held = program_ + L"\\Warden.exe";
    ASSERT_TRUE(ts::WriteFileBytes(held, "warden-1"));
    HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Offer({{"Warden.exe", "warden-2", true, ""}});
    BOOL ran = Engine().RunUpdate();
    CloseHandle(h);
    std::vector<BYTE> after;
    ts::GetValue(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", &after, &type);
    if (had) ts::SetBinary(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", before.data(),
                           static_cast<DWORD>(before.size()), REG_MULTI_SZ);
    else {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"PendingFileRenameOperations");
            RegCloseKey(key);
        }
    }
    EXPECT_TRUE(ran);
    EXPECT_EQ(recorder_.Finished(), 1);
    EXPECT_EQ(ts::ReadFileBytes(held), "warden-1");
    std::wstring entries(reinterpret_cast<const wchar_t*>(after.data()), after.size() / sizeof(wchar_t));
    for (wchar_t& c : entries) c = towlower(c);
    std::wstring want = held;
    for (wchar_t& c : want) c = towlower(c);
    EXPECT_NE(entries.find(want), std::wstring::npos) << ts::Narrow(entries);
}

// The renames that Windows has been asked to make at its next start, kept and restored around a test.
class PendingRenames {
public:
    PendingRenames() { had_ = ts::GetValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, &before_, &type_); }
    ~PendingRenames() {
        if (had_) {
            ts::SetBinary(HKEY_LOCAL_MACHINE, kSessionManager, kValue, before_.data(), static_cast<DWORD>(before_.size()),
                          REG_MULTI_SZ);
            return;
        }
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, kValue);
            RegCloseKey(key);
        }
    }
    // The source of the rename onto target ("" when none), as a plain path.
    std::wstring SourceFor(const std::wstring& target) {
        std::vector<BYTE> data;
        DWORD type = 0;
        if (!ts::GetValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, &data, &type)) return L"";
        std::wstring all(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        std::vector<std::wstring> strings;
        for (size_t at = 0; at < all.size();) {
            size_t end = all.find(L'\0', at);
            if (end == std::wstring::npos) end = all.size();
            strings.push_back(all.substr(at, end - at));
            at = end + 1;
        }
        std::wstring found;
        for (size_t i = 0; i + 1 < strings.size(); i += 2)
            if (_wcsicmp(Plain(strings[i + 1]).c_str(), target.c_str()) == 0) found = Plain(strings[i]);
        return found;
    }

private:
    static std::wstring Plain(std::wstring path) {
        if (!path.empty() && path[0] == L'!') path.erase(0, 1);  // "replace existing"
        if (path.compare(0, 4, L"\\??\\") == 0) path.erase(0, 4);
        return path;
    }
    static constexpr const wchar_t* kValue = L"PendingFileRenameOperations";
    std::vector<BYTE> before_;
    DWORD type_ = 0;
    bool had_ = false;
};

// The updater's own Corelib.dll is in use: its replacement waits beside it in the system folder
// (a rename at boot cannot cross volumes) and is renamed over it at the next start.
TEST_F(RefresherUpdate, LibraryInUseIsStagedInTheSystemFolder) {
    PendingRenames renames;
    std::wstring held = system_ + L"\\Corelib.dll";
    ASSERT_TRUE(ts::WriteFileBytes(held, "library-1"));
    HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    WriteInstalledVersion(L"1.0");
    Offer({{"Corelib.dll", "library-2", true, ""}});
    BOOL ran = Engine().RunUpdate();
    CloseHandle(h);
    EXPECT_TRUE(ran);
    EXPECT_EQ(recorder_.Finished(), 1);
    EXPECT_EQ(ts::ReadFileBytes(held), "library-1");
    std::wstring staged = renames.SourceFor(held);
    ASSERT_FALSE(staged.empty());
    EXPECT_EQ(_wcsicmp(staged.substr(0, system_.size() + 1).c_str(), (system_ + L"\\").c_str()), 0)
        << ts::Narrow(staged);
    EXPECT_EQ(staged.find(L'\\', system_.size() + 1), std::wstring::npos) << ts::Narrow(staged);
    EXPECT_EQ(ts::ReadFileBytes(staged), "library-2");
    EXPECT_EQ(ts::Narrow(InstalledVersion()), "2.0");
}

BOOL WINAPI RefusingMove(const wchar_t*, const wchar_t*, DWORD flags) {
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

// A replacement that Windows will not schedule is a failed install: no new version is recorded and
// no staged copy is left behind.
TEST_F(RefresherUpdate, ReplacementThatCannotBeScheduledFailsTheRun) {
    PendingRenames renames;
    struct Case {
        const char* name;
        std::wstring* folder;
    } cases[] = {{"Corelib.dll", &system_}, {"Warden.exe", &program_}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring held = *c.folder + L"\\" + ts::Widen(c.name);
        ASSERT_TRUE(ts::WriteFileBytes(held, "old"));
        WriteInstalledVersion(L"1.0");
        std::vector<std::wstring> before = FilesIn(*c.folder);
        const size_t starts = service_->Starts();
        HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::vector<FileSpec> files = {{c.name, "new", true, ""}};
        ServeFiles(files);
        Publish(Describe("2.0", files));
        refresher::EngineSettings s = Settings();
        s.moveFileEx = RefusingMove;
        refresher::CUpdateEngine engine(s);
        ASSERT_TRUE(engine.InitPaths());
        engine.SetReports(&recorder_);
        ASSERT_TRUE(engine.GetUpdateInfo());
        BOOL ran = engine.RunUpdate();
        CloseHandle(h);
        EXPECT_FALSE(ran);
        EXPECT_EQ(recorder_.Finished(), 0);
        EXPECT_EQ(ts::Narrow(InstalledVersion()), "1.0");
        EXPECT_EQ(ts::ReadFileBytes(held), "old");
        EXPECT_EQ(FilesIn(*c.folder), before);
        EXPECT_EQ(renames.SourceFor(held), L"");
        // Stopped for the install and running again after it failed.
        EXPECT_TRUE(service_->RunsAfter(starts + 1)) << service_->Starts();
    }
}

TEST_F(RefresherUpdate, FileThatCannotBePlacedFailsTheRun) {
    TestPanel panel(L"panel");
    ASSERT_TRUE(panel.started());
    WriteInstalledVersion(L"1.0");
    system_ = root_ + L"\\no such folder";
    Offer({{"Corelib.dll", "library-2", true, ""}, {"Sentry.exe", "sentry-2", true, ""}});
    EXPECT_FALSE(Engine().RunUpdate());
    EXPECT_EQ(recorder_.Finished(), 0);
    EXPECT_EQ(ts::Narrow(InstalledVersion()), "1.0");
    // Found before anything is stopped or placed: no half-installed product.
    EXPECT_FALSE(Exists(program_ + L"\\Sentry.exe"));
    EXPECT_TRUE(service_->Untouched());
    EXPECT_TRUE(panel.Running());
    EXPECT_FALSE(panel.GotQuit());
    EXPECT_NE(std::wstring(Engine().Outcome()).find(system_), std::wstring::npos) << ts::Narrow(Engine().Outcome());
    std::vector<std::wstring> s = recorder_.Statuses();
    EXPECT_NE(std::find(s.begin(), s.end(), std::wstring(Engine().Outcome())), s.end());
}

TEST_F(RefresherUpdate, EndsOnlyTheRunningPanel) {
    TestPanel lookalike(L"plain");  // same title, no property: an Explorer window of a folder so named
    TestPanel panel(L"panel");
    ASSERT_TRUE(lookalike.started());
    ASSERT_TRUE(panel.started());
    Offer({{"Sentry.exe", "sentry-2", true, ""}});
    ASSERT_TRUE(Engine().RunUpdate());
    EXPECT_TRUE(panel.GotQuit());
    EXPECT_EQ(panel.ExitCode(), 0u);  // it quit by itself
    EXPECT_TRUE(lookalike.Running());
    EXPECT_FALSE(lookalike.GotQuit());
    EXPECT_EQ(service_->State(), static_cast<DWORD>(SERVICE_STOPPED));
}

// The files are placed only once the service and its process have ended, however long that takes.
TEST_F(RefresherUpdate, ServiceThatStopsSlowlyIsWaitedFor) {
    service_.reset();
    service_.reset(new ServiceStandIn(root_ + L"\\服务", true));
    ASSERT_TRUE(service_->ok());
    Offer({{"Manual.chm", "manual-2", true, ""}});
    ASSERT_TRUE(Engine().RunUpdate());
    EXPECT_EQ(service_->State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(Installed("Manual.chm", "manual-2"));
}

TEST_F(RefresherUpdate, PanelThatDoesNotQuitIsEnded) {
    TestPanel panel(L"stubborn");
    ASSERT_TRUE(panel.started());
    Offer({{"Sentry.exe", "sentry-2", true, ""}});
    refresher::EngineSettings s = Settings();
    s.panelQuitWaitMs = 300;
    refresher::CUpdateEngine engine(s);
    ASSERT_TRUE(engine.InitPaths());
    engine.SetReports(&recorder_);
    ASSERT_TRUE(engine.RunUpdate());
    EXPECT_EQ(panel.ExitCode(), refresher::kPanelKilledExitCode);
    EXPECT_TRUE(panel.GotQuit());  // asked first
    EXPECT_TRUE(Installed("Sentry.exe", "sentry-2"));
}

TEST_F(RefresherUpdate, CancelDuringAStalledDownloadEndsTheRunQuietly) {
    // The stall limit is far beyond the wait for the cancel: only the cancel can end the read in time.
    const DWORD kStallLimit = 60000, kCancelWait = 5000;
    TestPanel panel(L"panel");
    ASSERT_TRUE(panel.started());
    std::vector<FileSpec> files = {{"Sentry.exe", "sentry-2", true, ""}, {"Warden.exe", "warden-2", true, ""}};
    ServeFiles(files);
    Publish(Describe("2.0", files));
    HttpReply stalled;
    stalled.mode = HttpReply::Mode::Stall;
    stalled.body = "sentry-2";
    stalled.cutAfter = 3;
    server_.Set("/files/Sentry.exe", stalled);
    refresher::EngineSettings s = Settings();
    s.receiveTimeoutMs = kStallLimit;
    refresher::CUpdateEngine engine(s);
    ASSERT_TRUE(engine.InitPaths());
    engine.SetReports(&recorder_);
    ASSERT_TRUE(engine.GetUpdateInfo());
    server_.ClearLog();
    refresher::CUpdateWorker worker(&engine);
    Following following(recorder_, &worker);
    {
        ASSERT_TRUE(worker.Start(recorder_.window()));
        // The worker is inside the read: the request is in and the file is being written aside.
        ASSERT_TRUE(ts::WaitFor([&] { return Exists(download_ + L"\\Sentry.exe.part"); }, 10000));
        EXPECT_FALSE(worker.Start(recorder_.window()));  // one run at a time
        size_t posted = recorder_.Flush().size();
        EXPECT_TRUE(worker.Cancel());
        ASSERT_TRUE(worker.Wait(kCancelWait));
        EXPECT_FALSE(worker.LastResult());
        server_.Release();
        // Nothing more was posted: no progress, no status, no end of the run.
        EXPECT_EQ(recorder_.Flush().size(), posted);
        EXPECT_EQ(recorder_.Finished(), -1);
    }
    EXPECT_FALSE(Exists(download_ + L"\\Sentry.exe.part"));
    EXPECT_FALSE(Exists(download_ + L"\\Sentry.exe"));
    EXPECT_EQ(Asked(), (std::vector<std::string>{"Sentry.exe"}));
    // The PC stays protected: the service is not stopped, the panel not asked to quit.
    EXPECT_TRUE(service_->Untouched());
    EXPECT_TRUE(panel.Running());
    EXPECT_FALSE(panel.GotQuit());
    EXPECT_EQ(ts::Narrow(InstalledVersion()), "");

    // Downloading again is a whole new run.
    server_.SetBody("/files/Sentry.exe", "sentry-2");
    server_.ClearLog();
    ASSERT_TRUE(worker.Start(recorder_.window()));
    EXPECT_FALSE(engine.CancelRequested());
    ASSERT_TRUE(worker.Wait(20000));
    EXPECT_TRUE(worker.LastResult());
    EXPECT_EQ(Asked(), (std::vector<std::string>{"Sentry.exe", "Warden.exe"}));
    EXPECT_EQ(recorder_.Finished(), 1);
    EXPECT_TRUE(Installed("Sentry.exe", "sentry-2"));
    EXPECT_TRUE(Installed("Warden.exe", "warden-2"));
    EXPECT_TRUE(panel.GotQuit());
}

TEST_F(RefresherUpdate, CancelDuringThePauseBeforeAFileEndsItAtOnce) {
    std::vector<FileSpec> files = {{"Sentry.exe", "sentry-2", true, ""}};
    ServeFiles(files);
    Publish(Describe("2.0", files));
    refresher::EngineSettings s = Settings();
    s.filePauseMs = 60000;
    refresher::CUpdateEngine engine(s);
    ASSERT_TRUE(engine.InitPaths());
    engine.SetReports(&recorder_);
    ASSERT_TRUE(engine.GetUpdateInfo());
    server_.ClearLog();
    // The n-th run is in its pause before the file.
    auto pausing = [&](int n) {
        return [&, n] {
            std::vector<std::wstring> st = recorder_.Statuses();
            return std::count(st.begin(), st.end(), std::wstring(L"正在下载文件1/1")) == n;
        };
    };
    refresher::CUpdateWorker worker(&engine);
    Following following(recorder_, &worker);
    ASSERT_TRUE(worker.Start(recorder_.window()));
    ASSERT_TRUE(ts::WaitFor(pausing(1), 10000));
    // Closing the window: the worker ends long before the pause would have.
    EXPECT_TRUE(worker.StopForClose(5000));
    EXPECT_FALSE(worker.Running());
    EXPECT_TRUE(Asked().empty());
    EXPECT_EQ(recorder_.Finished(), -1);
    EXPECT_TRUE(service_->Untouched());

    // A worker left running when the window goes is stopped before the engine is freed.
    recorder_.Flush();
    DWORD start = GetTickCount();
    {
        refresher::CUpdateWorker left(&engine);
        Following followingLeft(recorder_, &left);
        ASSERT_TRUE(left.Start(recorder_.window()));
        ASSERT_TRUE(ts::WaitFor(pausing(2), 10000));
    }
    EXPECT_LT(GetTickCount() - start, 15000u);
    EXPECT_TRUE(Asked().empty());
}

TEST_F(RefresherUpdate, CancelIsRefusedOnceInstallingHasBegun) {
    TestPanel panel(L"stubborn");
    ASSERT_TRUE(panel.started());
    Offer({{"Sentry.exe", "sentry-2", true, ""}});
    refresher::EngineSettings s = Settings();
    s.panelQuitWaitMs = 2000;
    refresher::CUpdateEngine engine(s);
    ASSERT_TRUE(engine.InitPaths());
    engine.SetReports(&recorder_);
    {
        refresher::CUpdateWorker worker(&engine);
        Following following(recorder_, &worker);
        ASSERT_TRUE(worker.Start(recorder_.window()));
        // The panel was asked to quit: the service is being stopped and the files are next.
        ASSERT_TRUE(ts::WaitFor([&] { return panel.GotQuit(); }, 15000));
        EXPECT_TRUE(engine.Installing());
        EXPECT_FALSE(worker.Cancel());
        EXPECT_FALSE(worker.StopForClose(0));  // the window stays until the install ends
        ASSERT_TRUE(worker.Wait(20000));
        EXPECT_TRUE(worker.LastResult());
        EXPECT_EQ(recorder_.Finished(), 1);
    }
    EXPECT_TRUE(Installed("Sentry.exe", "sentry-2"));
    EXPECT_EQ(ts::Narrow(InstalledVersion()), "2.0");
    EXPECT_FALSE(engine.Installing());
}

// The rights check plays a limited token: Wine enforces no folder or service rights.
SC_HANDLE WINAPI DenyingOpenService(SC_HANDLE, LPCWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

TEST_F(RefresherUpdate, RightsThatAreMissingStopAndPlaceNothing) {
    struct Case {
        const char* what;
        bool programFolder, systemFolder, service;
        const wchar_t* says;  // in the outcome
    } cases[] = {
        {"program folder", true, false, false, L"没有权限写入文件夹 "},
        {"system folder", false, true, false, L"没有权限写入文件夹 "},
        {"service", false, false, true, L"没有权限停止保护服务"},
    };
    TestPanel panel(L"panel");
    ASSERT_TRUE(panel.started());
    WriteInstalledVersion(L"1.0");
    std::vector<FileSpec> files = {{"Corelib.dll", "library-2", true, ""}, {"Sentry.exe", "sentry-2", true, ""}};
    Offer(files);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        refresher::EngineSettings s = Settings();
        s.createFile = DenyingCreateFile;
        if (c.service) s.openService = DenyingOpenService;
        g_deniedFolder = c.programFolder ? program_.c_str() : c.systemFolder ? system_.c_str() : nullptr;
        refresher::CUpdateEngine engine(s);
        ASSERT_TRUE(engine.InitPaths());
        engine.SetReports(&recorder_);
        EXPECT_FALSE(engine.RunUpdate());
        g_deniedFolder = nullptr;
        EXPECT_EQ(recorder_.Finished(), 0);
        std::wstring outcome = engine.Outcome();
        EXPECT_EQ(outcome.find(c.says), 0u) << ts::Narrow(outcome);
        if (!c.service) {
            EXPECT_NE(outcome.find(c.programFolder ? program_ : system_), std::wstring::npos) << ts::Narrow(outcome);
        }
        std::vector<std::wstring> st = recorder_.Statuses();
        EXPECT_EQ(st.back(), outcome);
        EXPECT_FALSE(Exists(program_ + L"\\Sentry.exe"));
        EXPECT_FALSE(Exists(system_ + L"\\Corelib.dll"));
        EXPECT_EQ(ts::Narrow(InstalledVersion()), "1.0");
        EXPECT_TRUE(service_->Untouched());
        EXPECT_TRUE(panel.Running());
        EXPECT_FALSE(panel.GotQuit());
    }
    // With the rights, the same offer installs.
    EXPECT_TRUE(Engine().RunUpdate());
    EXPECT_TRUE(Installed("Sentry.exe", "sentry-2"));
}

// Whatever fails once the service is stopped and the panel ended, both run again, and the window
// is told so.
TEST_F(RefresherUpdate, FailureOnceStoppedStartsServiceAndPanelAgain) {
    enum class Fault { VersionNotRecorded, FileChangedAfterItsCheck };
    struct Case {
        const char* what;
        Fault fault;
        const wchar_t* panelMode;  // nullptr: no panel runs
        const wchar_t* outcome;
    } cases[] = {
        {"version cannot be recorded", Fault::VersionNotRecorded, L"panel", L"更新失败，已重新启动保护服务和控制面板"},
        {"version cannot be recorded, no panel", Fault::VersionNotRecorded, nullptr, L"更新失败，已重新启动保护服务"},
        {"file changed after its check", Fault::FileChangedAfterItsCheck, L"stubborn",
         L"更新失败，已重新启动保护服务和控制面板"},
    };
    ASSERT_TRUE(PlacePanelProgram(program_));
    const std::vector<FileSpec> files = {{"Manual.chm", "manual-2", true, ""}, {"Readme.txt", "readme-2", true, ""}};
    const std::wstring settings = program_ + L"\\Config.ini";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t starts = service_->Starts();
        const size_t panelStarts = PanelStarts(program_).size();
        DeleteFileW(settings.c_str());
        RemoveDirectoryW(settings.c_str());
        // A folder where the settings file belongs: the version cannot be written.
        if (c.fault == Fault::VersionNotRecorded) {
            ASSERT_TRUE(CreateDirectoryW(settings.c_str(), nullptr));
        }
        std::unique_ptr<TestPanel> panel;
        if (c.panelMode) {
            panel.reset(new TestPanel(c.panelMode));
            ASSERT_TRUE(panel->started());
        }
        Offer(files);
        refresher::EngineSettings s = Settings();
        s.panelQuitWaitMs = 3000;
        refresher::CUpdateEngine engine(s);
        ASSERT_TRUE(engine.InitPaths());
        refresher::CUpdateWorker worker(&engine);
        Following following(recorder_, &worker);
        ASSERT_TRUE(worker.Start(recorder_.window()));
        if (c.fault == Fault::FileChangedAfterItsCheck) {
            // The stubborn panel holds the run after the service's stop: the checked file changes then.
            ASSERT_TRUE(ts::WaitFor([&] { return panel->GotQuit(); }, 15000));
            EXPECT_EQ(service_->State(), static_cast<DWORD>(SERVICE_STOPPED));
            ASSERT_TRUE(ts::WriteFileBytes(download_ + L"\\Readme.txt", "readme-X"));
        }
        ASSERT_TRUE(worker.Wait(30000));
        EXPECT_FALSE(worker.LastResult());
        EXPECT_EQ(recorder_.Finished(), 0);
        EXPECT_NE(ts::Narrow(InstalledVersion()), "2.0");
        EXPECT_FALSE(Installed("Readme.txt", "readme-X"));
        EXPECT_EQ(std::wstring(engine.Outcome()), c.outcome);
        std::vector<std::wstring> st = recorder_.Statuses();
        EXPECT_EQ(st.back(), c.outcome);
        // The service was stopped and runs again: a start of its own after the stop.
        EXPECT_TRUE(service_->RunsAfter(starts + 1)) << service_->Starts();
        if (c.panelMode) {
            EXPECT_TRUE(ts::WaitFor([&] { return PanelStarts(program_).size() == panelStarts + 1; }, 10000));
            EXPECT_EQ(PanelStarts(program_).back(), "regrun");
            EXPECT_TRUE(ts::WaitFor([&] { return FindRunningPanel() != nullptr; }, 10000));
            panel.reset();
            EndStartedPanels();
        } else {
            EXPECT_EQ(PanelStarts(program_).size(), panelStarts);
        }
        RemoveDirectoryW(settings.c_str());
    }
}

int g_boxAnswer = IDNO;
std::vector<std::wstring> g_boxes;
int g_shutdowns = 0;
int AnsweringBox(HWND, const wchar_t* text, const wchar_t*, UINT) {
    g_boxes.push_back(text);
    return g_boxAnswer;
}
BOOL CountedShutdown(HWND) {
    ++g_shutdowns;
    return TRUE;
}
bool g_shuttingDown = false;
BOOL ShuttingDown() { return g_shuttingDown ? TRUE : FALSE; }

// After a successful install: the stopped service starts again at once unless Windows is on its way
// down: after "No" to the restart, and after the shut-down dialog was cancelled or left otherwise.
TEST_F(RefresherUpdate, DeclinedRestartStartsTheServiceAgain) {
    ts::Restore<refresher::UpdaterSeams> restore(refresher::Seams());
    refresher::Seams().messageBox = AnsweringBox;
    refresher::Seams().shutdownDialog = CountedShutdown;  // never the real one
    refresher::Seams().shuttingDown = ShuttingDown;
    struct Case {
        const char* what;
        int answer;
        bool shuttingDown;  // after the shut-down dialog
        bool programGone;   // the service's program cannot be started
        const wchar_t* status;
        DWORD state;
        size_t boxes;
        int shutdowns;
    } cases[] = {
        {"declined", IDNO, false, false, refresher::kServiceBackText, SERVICE_RUNNING, 1, 0},
        {"restart now, Windows goes down", IDYES, true, false, L"更新成功", SERVICE_STOPPED, 1, 1},
        {"restart now, the dialog cancelled", IDYES, false, false, refresher::kServiceBackText, SERVICE_RUNNING, 1, 1},
        {"declined, service cannot start", IDNO, false, true, refresher::kServiceNotBackText, SERVICE_STOPPED, 2, 0},
        {"restart cancelled, service cannot start", IDYES, false, true, refresher::kServiceNotBackText,
         SERVICE_STOPPED, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ServiceRuns());
        const size_t starts = service_->Starts();
        g_boxAnswer = c.answer;
        g_shuttingDown = c.shuttingDown;
        g_boxes.clear();
        g_shutdowns = 0;
        Offer({{"Manual.chm", "manual-2", true, ""}});
        ASSERT_TRUE(Engine().RunUpdate());
        EXPECT_EQ(service_->State(), static_cast<DWORD>(SERVICE_STOPPED));
        if (c.programGone) {
            ASSERT_TRUE(DeleteFileW((root_ + L"\\服务\\Sentry.exe").c_str()));
        }
        std::wstring status;
        EXPECT_TRUE(refresher::ReportFinished(nullptr, TRUE, &status, &Engine()));
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(g_boxes.size(), c.boxes);
        if (c.boxes > 1 && g_boxes.size() > 1) {
            EXPECT_EQ(g_boxes[1], refresher::kServiceNotBackText);
        }
        EXPECT_EQ(g_shutdowns, c.shutdowns);
        if (c.state == SERVICE_RUNNING) {
            EXPECT_TRUE(service_->RunsAfter(starts + 1));
        } else {
            EXPECT_EQ(service_->State(), c.state);
            EXPECT_EQ(service_->Starts(), starts);
        }
        WriteInstalledVersion(L"1.0");
    }
}

}  // namespace
}  // namespace rt
