// Corelib read the way someone else on the machine would read it, through the real Corelib.dll:
// the settings key's DACL on every record write, the Windows password left behind when the GINA is
// unregistered, a lock-record mapping made by somebody else first, and the library's locked notice
// with the key still in at the lock. What Corelib logs is caught at its import of ReportEventW (Wine's
// event log keeps nothing).
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <dbt.h>
#include <sddl.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dacl.h"
#include "corelib.h"
#include "imports.h"
#include "services.h"
#include "testsupport.h"
#include "tokensim.h"
#include "usbdisk.h"

namespace tk = ts::tokensim;

namespace {

const wchar_t kSettingsKey[] = L"SOFTWARE\\Quorel\\Vantor";
const wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t kProtectedDacl[] = L"D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";

bool WaitFor(const std::function<bool()>& pred, DWORD ms) { return ts::WaitFor(pred, ms, 20); }

// ---- what Corelib reports to the event log ----------------------------------------------------

std::mutex g_logLock;
std::vector<std::wstring> g_logged;

BOOL WINAPI RecordReportEvent(HANDLE, WORD, WORD, DWORD, PSID, WORD count, DWORD, LPCWSTR* strings, LPVOID) {
    std::lock_guard<std::mutex> g(g_logLock);
    for (WORD i = 0; i < count; ++i) g_logged.push_back(strings[i] ? strings[i] : L"");
    return TRUE;
}

class EventLogRecorder {
public:
    EventLogRecorder()
        : patch_(GetModuleHandleW(L"Corelib.dll"), "ADVAPI32.dll", "ReportEventW",
                 reinterpret_cast<void*>(&RecordReportEvent)) {
        std::lock_guard<std::mutex> g(g_logLock);
        g_logged.clear();
    }
    bool ok() const { return patch_.ok(); }
    std::vector<std::wstring> Lines() {
        std::lock_guard<std::mutex> g(g_logLock);
        return g_logged;
    }
    bool Mentions(const std::wstring& part) {
        for (const std::wstring& line : Lines())
            if (line.find(part) != std::wstring::npos) return true;
        return false;
    }

private:
    ts::ImportPatch patch_;
};

// ---- the settings key's DACL -------------------------------------------------------------------

// The key's DACL as SDDL text, read back through a handle that may read it.
std::wstring KeyDacl() {
    const ts::DaclView dacl = ts::ReadKeyDacl(HKEY_LOCAL_MACHINE, kSettingsKey);
    return dacl.read ? dacl.sddl : ts::Widen("<" + dacl.error + ">");
}

// The settings key as an installer, a .reg import or an older build leaves it: made without
// Corelib, with the DACL given (Wine ignores a descriptor passed at creation, so it is set after).
void PrecreateKey(const wchar_t* sddl) {
    ts::ResetSettings();
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    if (sddl) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
        EXPECT_EQ(RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
        LocalFree(sd);
    }
    RegCloseKey(k);
}

uinfo RecordWithPasswords() {
    uinfo r = {};
    lstrcpyW(r.lpUserName, L"Admin");
    lstrcpyW(r.lpUserPWD, L"windows-pw");
    lstrcpyW(r.lpLogonPWD, L"soft-pw");
    r.ulTokenSerial = 0x1234;
    return r;
}

TEST(HardeningSettingsKey, EveryRecordWriteGivesAnOpenKeyTheProtectedDacl) {
    const struct {
        const char* what;
        const wchar_t* dacl;  // nullptr: whatever a plain creation inherits
    } keys[] = {
        {"inherited from SOFTWARE", nullptr},
        {"everyone full control", L"D:(A;OICI;KA;;;WD)"},
        {"users may read", L"D:(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)(A;OICI;KR;;;BU)"},
        {"right entries, not protected", L"D:(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)"},
    };
    const struct {
        const char* what;
        std::function<BOOL()> write;
    } writers[] = {
        {"SetUserInfo", [] {
             uinfo r = RecordWithPasswords();
             return SetUserInfo(&r);
         }},
        {"Set_lpLogonPWD", [] { return Set_lpLogonPWD(L"new-soft-pw"); }},
    };
    EventLogRecorder log;
    ASSERT_TRUE(log.ok()) << "Corelib.dll does not import ReportEventW";
    for (const auto& k : keys) {
        for (const auto& w : writers) {
            SCOPED_TRACE(std::string(k.what) + ", " + w.what);
            PrecreateKey(k.dacl);
            ASSERT_NE(KeyDacl(), kProtectedDacl) << "the key must start open";
            size_t logged = log.Lines().size();
            EXPECT_TRUE(w.write());
            EXPECT_EQ(ts::Narrow(KeyDacl()), ts::Narrow(kProtectedDacl));
            EXPECT_TRUE(ts::ValueExists(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_uinfo"));
            EXPECT_GT(log.Lines().size(), logged) << "the repair was not logged";
        }
    }

    // A key that is already protected is left as it is, and nothing is logged.
    size_t logged = log.Lines().size();
    uinfo r = RecordWithPasswords();
    EXPECT_TRUE(SetUserInfo(&r));
    EXPECT_EQ(ts::Narrow(KeyDacl()), ts::Narrow(kProtectedDacl));
    EXPECT_EQ(log.Lines().size(), logged);
    ts::ResetSettings();
}

// ---- unregistering the GINA --------------------------------------------------------------------

struct SavedValue {
    bool present = false;
    std::vector<BYTE> data;
    DWORD type = 0;
};

TEST(HardeningUnregister, XpUnregisteringRemovesTheStoredWindowsPassword) {
    const wchar_t* names[] = {L"ginadll", L"AutoAdminLogon", L"DefaultUserName", L"DefaultPassword"};
    SavedValue saved[4];
    for (int i = 0; i < 4; ++i) saved[i].present = ts::GetValue(HKEY_LOCAL_MACHINE, kWinlogon, names[i], &saved[i].data,
                                                               &saved[i].type);

    ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll", L"C:\\Tolven\\Gatehook.dll"));
    ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", L"1"));
    ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName", L"Admin"));
    ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultPassword", L"windows-pw"));

    // The OS class is cached per process: the XP path runs in a probe that Wine tells it is XP. The
    // probe answers for the LSA (Wine's keeps no secrets): the Winlogon secret goes too.
    const std::wstring probe = L"setupprobe_hardening_winxp.exe";
    ASSERT_TRUE(ts::CopyProgram(L"corelib_probe_setup.exe", probe));
    ASSERT_TRUE(ts::SetProgramVersion(probe, L"winxp"));
    const struct {
        const wchar_t* lsa;
        const char* result;
    } cases[] = {{L"lsa", "delete 0"}, {L"lsa-refuse", "delete 5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.lsa));
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll", L"C:\\Tolven\\Gatehook.dll"));
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultPassword", L"windows-pw"));
        ts::ChildResult r = ts::RunChild(L"\"" + ts::InExeDir(probe) + L"\" os " + c.lsa + L" delete");
        EXPECT_TRUE(r.started);
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        EXPECT_EQ(r.output.substr(0, 5), "os 2 ") << r.output;
        EXPECT_NE(r.output.find("lsa DefaultPassword=(deleted)\n"), std::string::npos)
            << "the secret was not deleted: " << r.output;
        EXPECT_NE(r.output.find(c.result), std::string::npos) << r.output;

        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll"));
        EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultPassword"))
            << "the Windows password stays readable in Winlogon's key";
        std::wstring autoLogon;
        EXPECT_TRUE(ts::GetString(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", &autoLogon));
        EXPECT_EQ(ts::Narrow(autoLogon), "0");
    }

    DeleteFileW(ts::InExeDir(probe).c_str());
    for (int i = 0; i < 4; ++i) {
        if (saved[i].present) {
            ts::SetBinary(HKEY_LOCAL_MACHINE, kWinlogon, names[i], saved[i].data.data(),
                          static_cast<DWORD>(saved[i].data.size()), saved[i].type);
        } else {
            HKEY k;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogon, 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
                RegDeleteValueW(k, names[i]);
                RegCloseKey(k);
            }
        }
    }
}

// ---- a lock-record mapping made by somebody else -----------------------------------------------

// A mapping of the record's name made before the service, with the owner given ("" for none: what
// Wine gives an object made without one).
HANDLE Squat(const wchar_t* owner) {
    std::wstring sddl = std::wstring(*owner ? L"O:" : L"") + owner + L"D:(A;;GA;;;WD)";
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
    HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, CORELIB_SHARED_MAPPING_SIZE,
                                  CORELIB_SHARED_MAPPING);
    LocalFree(sd);
    return h;
}

std::wstring OwnerOf(HANDLE h) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(h, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &sd) !=
        ERROR_SUCCESS)
        return L"<unreadable>";
    std::wstring out = L"<none>";
    wchar_t* text = nullptr;
    if (owner && ConvertSidToStringSidW(owner, &text)) {
        out = text;
        LocalFree(text);
    }
    LocalFree(sd);
    return out;
}

TEST(HardeningLockRecord, AMappingThatSomebodyElseMadeFirstIsRefused) {
    EventLogRecorder log;
    ASSERT_TRUE(log.ok());
    for (const wchar_t* owner : {L"BU", L"WD", L""}) {
        SCOPED_TRACE(ts::Narrow(std::wstring(L"owner ") + owner));
        HANDLE squat = Squat(owner);
        ASSERT_NE(squat, nullptr) << GetLastError();
        size_t logged = log.Lines().size();
        EXPECT_EQ(CreateSharedMemory(), static_cast<DWORD>(ERROR_INVALID_OWNER));
        EXPECT_GT(log.Lines().size(), logged) << "the refusal was not logged";
        CloseHandle(squat);
    }

    // With the squatter gone the service makes its own, owned by Administrators.
    ASSERT_EQ(CreateSharedMemory(), 0u);
    HANDLE own = OpenFileMappingW(READ_CONTROL | FILE_MAP_READ, FALSE, CORELIB_SHARED_MAPPING);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(ts::Narrow(OwnerOf(own)), "S-1-5-32-544");
    CloseHandle(own);
}

TEST(HardeningLockRecord, AMappingThatAdministratorsMadeIsTaken) {
    HANDLE earlier = Squat(L"BA");
    ASSERT_NE(earlier, nullptr);
    EXPECT_EQ(CreateSharedMemory(), 0u);
    LockRecord in = {};
    in.enuLockType = LOCKTYPE_KEY_REMOVED;
    EXPECT_EQ(WriteToSharedMemory(&in, sizeof(in)), 0u);
    LockRecord out = {};
    EXPECT_EQ(ReadFromSharedMemory(&out, sizeof(out)), 0u);
    EXPECT_EQ(out.enuLockType, LOCKTYPE_KEY_REMOVED);
    CloseHandle(earlier);
}

// ---- the library's locked notice with the key left in ------------------------------------------

const DWORD kSerialLow = 0x6B1, kSerialHigh = 0x3;
const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

BOOL CALLBACK FindLockedNoticeIn(HWND w, LPARAM lp) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t title[64] = {};
    InternalGetWindowText(w, title, 64);
    if (pid == GetCurrentProcessId() && IsWindowVisible(w) && lstrcmpW(title, L"Windows已被锁定") == 0) {
        *reinterpret_cast<HWND*>(lp) = w;
        return FALSE;
    }
    return TRUE;
}

HWND FindLockedNotice() {
    HWND found = nullptr;
    EnumWindows(FindLockedNoticeIn, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool Notice(HWND dlg, WPARAM event) {
    return ts::SendInterfaceNotice(dlg, event, kHidClass, L"\\\\?\\hid#vid_096e&pid_0006#7&1&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
}

TEST(HardeningLockedNotice, KeyLeftInAtTheLockMustBePulledBeforeAnArrivalUnlocks) {
    ts::ResetSettings();
    ASSERT_TRUE(tk::Reset());
    UE_Epas_DeleteContext();
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_AppDriveMode", 1));
    ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_SuoPingCheckKey", 1));
    uinfo r = {};
    lstrcpyW(r.lpUserName, L"Admin");
    r.ulTokenSerial = tk::Fold(kSerialLow, kSerialHigh);
    ASSERT_TRUE(SetUserInfo(&r));
    ASSERT_TRUE(tk::Insert({tk::MakeToken(kSerialLow, kSerialHigh)}));
    // An interval lock with the key in, as the service leaves it: the button stays disabled.
    ASSERT_EQ(CreateSharedMemory(), 0u);
    LockRecord lock = {};
    lock.enuLockType = LOCKTYPE_INTERVAL;
    ASSERT_EQ(WriteToSharedMemory(&lock, sizeof(lock)), 0u);

    std::atomic<bool> returned{false};
    std::thread driver([&] {
        HWND n = nullptr;
        if (!WaitFor([&] { return (n = FindLockedNotice()) != nullptr || returned; }, 5000) || !n) {
            ADD_FAILURE() << "the locked notice did not appear";
            return;
        }
        auto end = [&](const char* why) {
            ADD_FAILURE() << why;
            EnableWindow(GetDlgItem(n, IDOK), TRUE);
            PostMessageW(n, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        };
        auto staysUp = [&] {
            Sleep(400);
            return IsWindow(n) && IsWindowVisible(n);
        };
        // Any device arrives (a mouse, a stick) while the key is still in: no unlock.
        if (!Notice(n, DBT_DEVICEARRIVAL)) return end("the notice did not answer WM_DEVICECHANGE");
        if (!staysUp()) return (void)(ADD_FAILURE() << "an arrival with the key left in unlocked");
        // A removal of something else, the key still in: still not seen absent.
        Notice(n, DBT_DEVICEREMOVECOMPLETE);
        Notice(n, DBT_DEVICEARRIVAL);
        if (!staysUp()) return (void)(ADD_FAILURE() << "a removal of another device counted as the key's");
        // The key pulled and put back: now its arrival unlocks.
        tk::RemoveAll();
        Notice(n, DBT_DEVICEREMOVECOMPLETE);
        tk::Insert({tk::MakeToken(kSerialLow, kSerialHigh)});
        Notice(n, DBT_DEVICEARRIVAL);
        if (!WaitFor([&] { return !IsWindow(n) || !IsWindowVisible(n); }, 5000))
            end("the key's return after its removal left the notice up");
    });
    IWindowUI* ui = GetWindowUI();
    ASSERT_NE(ui, nullptr);
    int result = ui->ShowDialog(136);
    returned = true;
    driver.join();
    ui->Release();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(tk::MisuseCount(), 0u);
    tk::Reset();
    ts::ResetSettings();
}

}  // namespace
