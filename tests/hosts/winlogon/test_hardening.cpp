// Gatehook read the way someone at the locked or logged-out computer would read it: a key left in at
// the lock, one read of the key that failed, a user record that cannot be read, the Windows password
// kept in Winlogon, a key watch whose thread has ended or never got ready, the typed emergency
// password left in its edit control, and GDI+ out of memory while the picture loads.
#include "fixture.h"

#include <tlhelp32.h>

#include <atomic>
#include <mutex>
#include <set>

#include "imports.h"

namespace host {
namespace {

const wchar_t kEnrolledInstance[] = L"7&4d5e6f70&0&RM";
const wchar_t kOtherInstance[] = L"7&77777777&0&RM";
const wchar_t kUnreadable[] = L"无法读取用户信息，紧急登录不可用。";
const COLORREF kDefaultPictureBackground = RGB(0x2B, 0x57, 0x9A);  // drawn by make_bitmaps.py

std::mutex g_logLock;
std::vector<std::wstring> g_logged;

void WINAPI RecordLog(const wchar_t* text) {
    std::lock_guard<std::mutex> g(g_logLock);
    g_logged.push_back(text);
}
bool Logged(const std::wstring& part) {
    std::lock_guard<std::mutex> g(g_logLock);
    for (const std::wstring& line : g_logged)
        if (line.find(part) != std::wstring::npos) return true;
    return false;
}

// A read of the user record that fails as one without access to the settings key does.
BOOL WINAPI UnreadableRecord(uinfo* record) {
    ZeroMemory(record, sizeof(*record));
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

class GatehookHardening : public GatehookKeyHost {
protected:
    void SetUp() override {
        GatehookHost::SetUp();
        SetUpKeys(kEnrolledInstance, kOtherInstance,
                  {{L"QJ_KaiJiChcekKey", 1}, {L"QJ_SuoPingCheckKey", 1}, {L"QJ_RemoveLock", 0}, {L"QJ_IntervalMonitor", 0}});
        std::lock_guard<std::mutex> g(g_logLock);
        g_logged.clear();
    }
    // Load, then the seams a test needs, then WlxNegotiate and WlxInitialize.
    void Boot(BOOL(WINAPI* readRecord)(uinfo*) = nullptr) {
        ASSERT_TRUE(W.Load(L"full"));
        ASSERT_TRUE(W.seams) << "the test build hands over its seams";
        W.seams->Log = RecordLog;
        if (readRecord) W.seams->ReadUserRecord = readRecord;
        DWORD version = 0;
        ASSERT_TRUE(W.Negotiate(WLX_VERSION_1_4, &version));
        ASSERT_TRUE(W.Initialize());
        lstrcpynW(W.standin->userName, L"Admin", 64);
    }
};

// With the key still in when the notice opens (the interval lock, Win+L), a device arrival is no
// reason to unlock: the key must have been seen absent while the notice is up.
TEST_F(GatehookHardening, KeyLeftInAtTheLockMustBePulledBeforeAnArrivalUnlocks) {
    ASSERT_TRUE(key_.Plug());
    Boot();
    Driver d([&](Driver& d) {
        HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
        if (!n) return;
        EXPECT_FALSE(d.Enabled(n, IDOK));
        // A USB stick or a mouse plugged in, the key still in.
        other_.Plug();
        if (!d.Arrival(n, DBT_DEVTYP_VOLUME)) return d.Fail("the notice did not take the arrival");
        if (!d.Arrival(n, DBT_DEVTYP_DEVICEINTERFACE)) return d.Fail("the notice did not take the arrival");
        if (!d.StaysUp(n)) return d.Fail("another device's arrival unlocked with the key left in");
        // That device pulled again: the key is still in, so nothing was seen absent.
        other_.Pull();
        other_.NotifyRemoval(n);
        d.Arrival(n, DBT_DEVTYP_VOLUME);
        if (!d.StaysUp(n)) return d.Fail("a removal of another device counted as the key's");
        // The key pulled and put back.
        key_.Pull();
        key_.NotifyRemoval(n);
        key_.Plug();
        d.Arrival(n, DBT_DEVTYP_VOLUME);
        if (!d.WaitGone(n)) d.Fail("the key's return after its removal left the notice up");
    });
    EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
}

// The key as the locked notice's reads find it: in or out, and a number of coming reads that fail
// although the key is in (a busy token, a device list being rebuilt), which no device does on cue.
std::atomic<bool> g_keyIn{true};
std::atomic<int> g_failingReads{0};
BOOL CORELIB_CALL ScriptedVerify(const uinfo*) {
    if (g_failingReads > 0) {
        --g_failingReads;
        return FALSE;
    }
    return g_keyIn ? TRUE : FALSE;
}

// Absent counts only when two reads in a row agree: one failed read, at the opening or at any notice,
// must not let the next arrival of some device unlock while the key was never out.
TEST_F(GatehookHardening, LockedNoticeTakesTheKeyForAbsentOnlyOnTwoReadsInARow) {
    Boot();
    W.seams->VerifyUserInfo = ScriptedVerify;
    struct Step {
        WPARAM event;  // 0: the opening
        bool keyIn;
        int failingReads;
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
        bool unlocks;  // by the arrival that ends the steps
    } cases[] = {
        {"one failed read at the opening", {{0, true, 1}, {DBT_DEVICEARRIVAL, true, 0}}, false},
        {"one failed read at another device's removal",
         {{0, true, 0}, {DBT_DEVICEREMOVECOMPLETE, true, 1}, {DBT_DEVICEARRIVAL, true, 0}},
         false},
        {"one failed read at another device's arrival",
         {{0, true, 0}, {DBT_DEVICEARRIVAL, true, 1}, {DBT_DEVICEARRIVAL, true, 0}},
         false},
        {"key out at the opening, then in", {{0, false, 0}, {DBT_DEVICEARRIVAL, true, 0}}, true},
        {"key pulled and put back",
         {{0, true, 0}, {DBT_DEVICEREMOVECOMPLETE, false, 0}, {DBT_DEVICEARRIVAL, true, 0}},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_keyIn = c.steps[0].keyIn;
        g_failingReads = c.steps[0].failingReads;
        Driver d([&](Driver& d) {
            HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
            if (!n) return;
            EXPECT_EQ(g_failingReads, 0) << "the opening read no key";
            for (size_t i = 1; i < c.steps.size(); ++i) {
                g_keyIn = c.steps[i].keyIn;
                g_failingReads = c.steps[i].failingReads;
                if (!d.Notice(n, c.steps[i].event, DBT_DEVTYP_VOLUME))
                    return d.Fail("the notice did not take the device notice");
                EXPECT_EQ(g_failingReads, 0) << "step " << i << " read no key";
            }
            if (c.unlocks) {
                if (!d.WaitGone(n)) d.Fail("the key's arrival after its absence left the notice up");
                return;
            }
            if (!d.StaysUp(n, 300)) return d.Fail("an arrival unlocked although the key was never seen absent twice");
            // The notice has no way out but the key: pulled and put back.
            g_keyIn = false;
            d.Notice(n, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME);
            g_keyIn = true;
            d.Notice(n, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
            if (!d.WaitGone(n)) d.Fail("the key's return after its removal left the notice up");
        });
        EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
    }
}

// Nothing in the GINA needs the Windows password of the record (msgina hands over the typed one at
// logon): it is not kept in Winlogon, at start nor after the key watch's reads.
bool ModuleHolds(HMODULE module, const std::wstring& text) {
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_NT_HEADERS* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const BYTE* end = base + nt->OptionalHeader.SizeOfImage;
    const size_t bytes = text.size() * sizeof(wchar_t);
    for (const BYTE* p = base; p < end;) {
        MEMORY_BASIC_INFORMATION mbi = {};
        if (!VirtualQuery(p, &mbi, sizeof(mbi))) break;
        const BYTE* regionEnd = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
        if (regionEnd > end) regionEnd = end;
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if (mbi.State == MEM_COMMIT && (mbi.Protect & readable) && !(mbi.Protect & PAGE_GUARD)) {
            for (const BYTE* q = p; q + bytes <= regionEnd; q += sizeof(wchar_t))
                if (memcmp(q, text.data(), bytes) == 0) return true;
        }
        p = regionEnd;
    }
    return false;
}

TEST_F(GatehookHardening, TheWindowsPasswordOfTheRecordIsNotKept) {
    const std::wstring password = L"视窗口令-7731-only-here";
    uinfo r = {};
    lstrcpynW(r.lpUserName, L"Admin", 50);
    lstrcpynW(r.lpUserPWD, password.c_str(), 50);
    lstrcpynW(r.lpDriverUID[0], key_.Id(true).c_str(), 50);
    ASSERT_TRUE(ts::SetBinary(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &r, sizeof(r)));
    SecureZeroMemory(&r, sizeof(r));
    Boot();
    EXPECT_FALSE(ModuleHolds(W.gina, password)) << "kept after WlxInitialize";
    W.seams->keyWatchPeriodMs = 100;
    ASSERT_TRUE(key_.Plug());
    EXPECT_TRUE(W.ActivateUserShell());
    const int reads = W.RecordReads();
    ASSERT_TRUE(WaitFor([&]() { return W.RecordReads() >= reads + 3; }, 5000)) << "the watch does not tick";
    EXPECT_FALSE(ModuleHolds(W.gina, password)) << "kept after the key watch's reads";
    // The scan finds what is there: the user name is kept, as it must be.
    EXPECT_TRUE(ModuleHolds(W.gina, L"Admin"));
}

// An unreadable record is not an empty one: its zeros would make "806" right and let msgina log on
// with the stored auto-logon values. The emergency login then takes no password, says why, and the
// refusal is logged; the tries are not counted against the user.
TEST_F(GatehookHardening, UnreadableRecordMakesTheEmergencyLoginTakeNoPassword) {
    Boot(UnreadableRecord);
    Driver d([&](Driver& d) {
        HWND notice = nullptr;
        HWND e = d.OpenEmergency(&notice);
        if (!e) return;
        for (const wchar_t* typed : {L"806", L"806", L"806", L"anything"}) {
            SCOPED_TRACE(ts::Narrow(typed));
            d.TryPassword(e, typed);
            EXPECT_EQ(d.TextBecomes(e, 1042, kUnreadable), kUnreadable);
            if (!d.StaysUp(e, 300)) return d.Fail("the emergency login ended on an unreadable record");
        }
        d.Command(e, IDCANCEL);
        if (!d.WaitGone(e)) return d.Fail("cancel did not end the emergency login");
        d.Command(notice, 1019);
    });
    EXPECT_EQ(W.LoggedOutSAS(), WLX_SAS_ACTION_SHUTDOWN);  // by the notice's button, after the cancel
    d.Join();
    EXPECT_EQ(W.CountOf(SE_LoggedOutSAS), 0) << "msgina was reached without the key or a password";
    EXPECT_TRUE(W.Pauses().empty()) << "refused tries were counted as wrong passwords";
    EXPECT_TRUE(Logged(L"紧急登录被拒绝")) << "the refusal was not logged";
    EXPECT_TRUE(Logged(L"无法读取用户信息")) << "the failed read was not logged";
}

// ---- the key watch ----

std::set<DWORD> ThreadIds() {
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(te.th32ThreadID);
    CloseHandle(snap);
    return ids;
}

// A watch thread that ends while the user is logged on (a stray WM_QUIT is enough) hands over to a new
// one by itself: waiting for the next logon or unlock, pulling the key would lock nothing meanwhile.
TEST_F(GatehookHardening, KeyWatchWhoseThreadEndsWatchesOnWithinAPeriod) {
    SetSwitch(L"QJ_RemoveLock", 1);  // the key is out: every tick locks
    Boot();
    W.seams->keyWatchPeriodMs = 200;
    std::set<DWORD> before = ThreadIds();
    EXPECT_TRUE(W.ActivateUserShell());
    ASSERT_TRUE(WaitFor([&]() { return W.Locks() >= 1; }, 3000)) << "the watch did not lock with the key out";

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::vector<HANDLE> ended;
        for (DWORD id : ThreadIds()) {
            if (before.count(id)) continue;
            HANDLE t = OpenThread(SYNCHRONIZE, FALSE, id);
            if (!t) continue;
            if (PostThreadMessageW(id, WM_QUIT, 0, 0))
                ended.push_back(t);  // a thread with a message queue: the watch
            else
                CloseHandle(t);
        }
        ASSERT_FALSE(ended.empty()) << "no watch thread found";
        for (HANDLE t : ended) {
            EXPECT_EQ(WaitForSingleObject(t, 3000), WAIT_OBJECT_0) << "the watch thread did not end";
            CloseHandle(t);
        }
        // No Wlx call: the watch goes on by itself.
        int locks = W.Locks();
        EXPECT_TRUE(WaitFor([&]() { return W.Locks() > locks + 1; }, 3000)) << "the key watch stayed dead";
    }
    // The next start (the next logon) still finds one watch.
    EXPECT_TRUE(W.ActivateUserShell());
    int locks = W.Locks();
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() > locks; }, 3000));
}

// A watch thread that ends before it is ready must not leave Winlogon's thread waiting for it, the
// watch's lock held: the start returns, and the next one watches.
DWORD WINAPI EndAtOnce(LPVOID) { return 0; }
HANDLE WINAPI ThreadThatDiesAtOnce(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE, LPVOID, DWORD flags,
                                   LPDWORD id) {
    return CreateThread(sa, stack, EndAtOnce, nullptr, flags, id);
}

DWORD WINAPI ActivateOnce(LPVOID) {
    return Winlogon::Get().ActivateUserShell() ? 1 : 0;
}

TEST_F(GatehookHardening, KeyWatchThreadThatEndsBeforeItIsReadyHangsNothing) {
    SetSwitch(L"QJ_RemoveLock", 1);
    Boot();
    W.seams->keyWatchPeriodMs = 200;
    auto realCreateThread = W.seams->CreateThread;
    W.seams->CreateThread = ThreadThatDiesAtOnce;
    // Winlogon's call on a thread of its own, so that a hang fails the test instead of ending it.
    HANDLE call = CreateThread(nullptr, 0, ActivateOnce, nullptr, 0, nullptr);
    ASSERT_NE(call, nullptr);
    ASSERT_EQ(WaitForSingleObject(call, 5000), WAIT_OBJECT_0) << "WlxActivateUserShell hangs on a dead watch thread";
    CloseHandle(call);
    EXPECT_EQ(W.Locks(), 0);

    W.seams->CreateThread = realCreateThread;
    call = CreateThread(nullptr, 0, ActivateOnce, nullptr, 0, nullptr);
    ASSERT_NE(call, nullptr);
    ASSERT_EQ(WaitForSingleObject(call, 5000), WAIT_OBJECT_0) << "the next start waits for the watch's lock";
    CloseHandle(call);
    EXPECT_TRUE(WaitFor([&]() { return W.Locks() >= 1; }, 3000)) << "the next start did not watch";
}

// ---- the emergency password in its edit control ----

std::mutex g_editLock;
std::vector<int> g_editLengthsAtDestroy;

// Runs on the dialog's own thread: what the edit control holds as it is destroyed.
LRESULT CALLBACK WatchEditDestroy(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lp);
        if (m->message == WM_DESTROY && GetDlgCtrlID(m->hwnd) == 1041) {
            std::lock_guard<std::mutex> g(g_editLock);
            g_editLengthsAtDestroy.push_back(GetWindowTextLengthW(m->hwnd));
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

TEST_F(GatehookHardening, EmergencyDialogClearsThePasswordWhicheverWayItEnds) {
    Boot();
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, WatchEditDestroy, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    const struct {
        const char* what;
        std::vector<std::wstring> passwords;  // typed one after the other
        std::vector<std::wstring> statuses;   // text 1042 after each, "" for none awaited
        bool cancel;                          // then Cancel
        int action;
    } cases[] = {
        {"cancelled", {L"half-typed"}, {L""}, true, WLX_SAS_ACTION_SHUTDOWN},
        {"three wrong",
         {L"wrong1", L"wrong2", L"wrong3"},
         {L"口令输入错误，您还可以尝试2次。", L"口令输入错误，您还可以尝试1次。", L""},
         false,
         WLX_SAS_ACTION_SHUTDOWN},
        {"right", {L"806"}, {L""}, false, WLX_SAS_ACTION_LOGON},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::lock_guard<std::mutex> g(g_editLock);
            g_editLengthsAtDestroy.clear();
        }
        Driver d([&](Driver& d) {
            HWND notice = nullptr;
            HWND e = d.OpenEmergency(&notice);
            if (!e) return;
            for (size_t i = 0; i < c.passwords.size(); ++i) {
                if (c.cancel) {
                    d.Type(e, 1041, c.passwords[i]);  // typed, never sent
                    if (!WaitFor([&]() { return GetWindowTextLengthW(GetDlgItem(e, 1041)) > 0; }, 2000))
                        return d.Fail("the typing did not reach the edit control");
                    continue;
                }
                d.TryPassword(e, c.passwords[i]);
                if (!c.statuses[i].empty() && d.TextBecomes(e, 1042, c.statuses[i]) != c.statuses[i])
                    return d.Fail("the emergency login did not take the password");
            }
            if (!c.cancel) {
                if (!d.WaitGone(e)) d.Fail("the emergency login did not end");
                return;
            }
            {
                d.Command(e, IDCANCEL);
                if (!d.WaitGone(e)) return d.Fail("cancel did not end the emergency login");
                d.Command(notice, 1019);
            }
        });
        EXPECT_EQ(W.LoggedOutSAS(), c.action);
        d.Join();
        std::lock_guard<std::mutex> g(g_editLock);
        EXPECT_EQ(g_editLengthsAtDestroy, std::vector<int>{0}) << "the password stayed in the edit control";
    }
    UnhookWindowsHookEx(hook);
}

// ---- GDI+ out of memory while the user picture loads ----


// GDI+'s allocator and its bitmap creation as they answer when memory has run out.
void* WINAPI NoMemory(size_t) { return nullptr; }
int WINAPI BitmapOutOfMemory(const WCHAR*, void** bitmap) {
    if (bitmap) *bitmap = nullptr;
    return 3;  // Gdiplus::OutOfMemory
}

TEST_F(GatehookHardening, OutOfMemoryInGdiplusGivesTheDefaultPicture) {
    std::wstring folder = WriteConfig(L"");
    std::wstring picture = folder + L"\\me.bmp";
    ASSERT_TRUE(ts::WriteFileBytes(picture, ts::SolidBmp(40, 30, RGB(0x20, 0xC0, 0x40))));
    WriteConfig(L"UserPic=" + picture + L"\r\n");
    SetSwitch(L"QJ_SuoPingCheckKey", 0);
    Boot();
    ts::ImportPatch alloc(W.gina, "gdiplus.dll", "GdipAlloc", reinterpret_cast<void*>(&NoMemory));
    ts::ImportPatch create(W.gina, "gdiplus.dll", "GdipCreateBitmapFromFile", reinterpret_cast<void*>(&BitmapOutOfMemory));
    ASSERT_TRUE(alloc.ok() || create.ok()) << "the GINA loads its picture through neither call";
    Driver d([&](Driver& d) {
        HWND n = d.WaitTitled(HOST_LOCKED_TITLE);
        if (!n) return;
        COLORREF seen = 0;
        bool ok = WaitFor([&]() { return Near(seen = d.Pixel(n, 1036, 0.12, 0.12), kDefaultPictureBackground); }, 3000);
        EXPECT_TRUE(ok) << std::hex << "pixel " << seen;
        d.Click(n, IDOK);
        if (!d.WaitGone(n)) d.Fail("the button did not unlock");
    });
    EXPECT_EQ(W.WkstaLockedSAS(), WLX_SAS_ACTION_UNLOCK_WKSTA);
}

}  // namespace
}  // namespace host
