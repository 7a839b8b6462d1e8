// The lock record in "Global\ZARNSHARD" and the alert event, through the real Corelib.dll. A probe
// process plays the other side: it creates the mapping as the service does, reads, writes, signals
// or holds the "mutex".
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <set>
#include <string>
#include <vector>

#include "dacl.h"
#include "corelib.h"
#include "objectsec.h"
#include "testsupport.h"

namespace {

std::wstring ProbeCommand(const std::wstring& args) {
    return L"\"" + ts::InExeDir(L"corelib_probe_sharedmem.exe") + L"\" " + args;
}

// Runs the probe once and returns its output.
std::string RunProbe(const std::wstring& args, DWORD* exitCode = nullptr) {
    ts::ChildResult r = ts::RunChild(ProbeCommand(args), 20000);
    EXPECT_TRUE(r.started) << ts::Narrow(args);
    if (exitCode) *exitCode = r.exitCode;
    return r.output;
}

// A probe that keeps running until Stop(): the mapping's creator, or a rival holder of "mutex".
// It ends when its stdin closes, so it never outlives the test.
class Peer {
public:
    Peer() = default;
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    ~Peer() { Stop(); }

    // Starts the probe and waits for its "ready" line.
    bool Start(const std::wstring& args) {
        SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
        HANDLE inRead = nullptr, outWrite = nullptr;
        if (!CreatePipe(&inRead, &stdinWrite_, &sa, 0)) return false;
        if (!CreatePipe(&stdoutRead_, &outWrite, &sa, 0)) {
            CloseHandle(inRead);
            return false;
        }
        SetHandleInformation(stdinWrite_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(stdoutRead_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = inRead;
        si.hStdOutput = outWrite;
        si.hStdError = outWrite;
        PROCESS_INFORMATION pi = {};
        std::wstring cmd = ProbeCommand(args);
        BOOL started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, ts::ExeDir().c_str(),
                                      &si, &pi);
        CloseHandle(inRead);
        CloseHandle(outWrite);
        if (!started) return false;
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;

        DWORD begin = GetTickCount();
        for (;;) {
            DWORD avail = 0;
            if (PeekNamedPipe(stdoutRead_, nullptr, 0, nullptr, &avail, nullptr) && avail) {
                char buf[256];
                DWORD got = 0;
                if (ReadFile(stdoutRead_, buf, sizeof(buf), &got, nullptr)) output_.append(buf, got);
                if (output_.find("ready\n") != std::string::npos) return true;
                continue;
            }
            if (WaitForSingleObject(process_, 10) == WAIT_OBJECT_0) return false;
            if (GetTickCount() - begin > 20000) return false;
        }
    }

    // Closes the probe's stdin and returns its exit code.
    DWORD Stop() {
        DWORD code = 0xDEAD;
        if (stdinWrite_) CloseHandle(stdinWrite_);
        stdinWrite_ = nullptr;
        if (process_) {
            if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) {
                TerminateProcess(process_, 0xDEAD);
                WaitForSingleObject(process_, 5000);
            }
            GetExitCodeProcess(process_, &code);
            CloseHandle(process_);
        }
        process_ = nullptr;
        if (stdoutRead_) CloseHandle(stdoutRead_);
        stdoutRead_ = nullptr;
        return code;
    }

    const std::string& output() const { return output_; }

private:
    HANDLE process_ = nullptr;
    HANDLE stdinWrite_ = nullptr;
    HANDLE stdoutRead_ = nullptr;
    std::string output_;
};

bool MappingExists() {
    HANDLE m = OpenFileMappingW(FILE_MAP_READ, FALSE, CORELIB_SHARED_MAPPING);
    if (!m) return false;
    CloseHandle(m);
    return true;
}

// Starts the service side: the mapping's creator, optionally leaving a record of the given type.
void StartCreator(Peer* creator, const std::wstring& type = L"") {
    ASSERT_FALSE(MappingExists()) << "a mapping is left over from elsewhere";
    ASSERT_TRUE(creator->Start(L"create-and-wait " + type)) << creator->output();
}

bool AllBytesAre(const void* p, size_t n, BYTE value) {
    const BYTE* b = static_cast<const BYTE*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i] != value) return false;
    return true;
}

LockRecord Filled(BYTE value) {
    LockRecord r;
    memset(&r, value, sizeof(r));
    return r;
}

DWORD WriteType(LONG type) {
    LockRecord r = {};
    r.enuLockType = type;
    return WriteToSharedMemory(&r, sizeof(r));
}

TEST(SharedRecordWithoutMapping, AccessFailsWithFileNotFoundAndLeavesTheBufferUntouched) {
    ASSERT_FALSE(MappingExists());
    const DWORD sizes[] = {sizeof(LockRecord), CORELIB_SHARED_MAPPING_SIZE, 8192};
    for (DWORD size : sizes) {
        SCOPED_TRACE(size);
        std::vector<BYTE> buf(size, 0xCC);
        EXPECT_EQ(ReadFromSharedMemory(buf.data(), size), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_TRUE(AllBytesAre(buf.data(), size, 0xCC));
        EXPECT_EQ(WriteToSharedMemory(buf.data(), size), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    EXPECT_FALSE(ReleaseSharedMemory());
    // No access may bring the mapping into being: only the service creates it.
    EXPECT_FALSE(MappingExists());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(SharedRecord, ReadBeforeAnyWriteGivesZeros) {
    Peer creator;
    StartCreator(&creator);
    LockRecord r = Filled(0xCC);
    EXPECT_EQ(ReadFromSharedMemory(&r, sizeof(r)), 0u);
    EXPECT_TRUE(AllBytesAre(&r, sizeof(r), 0));
    std::vector<BYTE> whole(CORELIB_SHARED_MAPPING_SIZE, 0xCC);
    EXPECT_EQ(ReadFromSharedMemory(whole.data(), CORELIB_SHARED_MAPPING_SIZE), 0u);
    EXPECT_TRUE(AllBytesAre(whole.data(), whole.size(), 0));
}

TEST(SharedRecord, EachRecordIsReadOnce) {
    enum Side { kCreator, kHere, kOtherProcess };
    struct Case {
        const char* name;
        LONG type;
        Side writer;
        Side firstReader;
    } const cases[] = {
        {"key removed, left by the creator, read here", LOCKTYPE_KEY_REMOVED, kCreator, kHere},
        {"interval, written here, read by another process", LOCKTYPE_INTERVAL, kHere, kOtherProcess},
        {"key removed, written by another process, read here", LOCKTYPE_KEY_REMOVED, kOtherProcess, kHere},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer creator;
        StartCreator(&creator, c.writer == kCreator ? std::to_wstring(c.type) : L"");
        if (c.writer == kHere) {
            ASSERT_EQ(WriteType(c.type), 0u);
        } else if (c.writer == kOtherProcess) {
            ASSERT_EQ(RunProbe(L"write " + std::to_wstring(c.type)), "rc=0\n");
        }

        if (c.firstReader == kHere) {
            LockRecord r = Filled(0xCC);
            ASSERT_EQ(ReadFromSharedMemory(&r, sizeof(r)), 0u);
            EXPECT_EQ(r.enuLockType, c.type);
            EXPECT_TRUE(AllBytesAre(&r.body, sizeof(r.body), 0));
        } else {
            EXPECT_EQ(RunProbe(L"read"), "rc=0 type=" + std::to_string(c.type) + "\n");
        }

        LockRecord again = Filled(0xCC);
        ASSERT_EQ(ReadFromSharedMemory(&again, sizeof(again)), 0u);
        EXPECT_TRUE(AllBytesAre(&again, sizeof(again), 0)) << "type " << again.enuLockType;
        EXPECT_EQ(creator.Stop(), 0u);
    }
}

TEST(SharedRecord, SizeTheMappingCannotHoldFailsWithoutHarm) {
    Peer creator;
    StartCreator(&creator, L"4");

    std::vector<BYTE> big(8192, 0xCC);
    EXPECT_NE(WriteToSharedMemory(big.data(), 8192), 0u);
    EXPECT_NE(ReadFromSharedMemory(big.data(), 8192), 0u);
    EXPECT_TRUE(AllBytesAre(big.data(), big.size(), 0xCC));

    // Neither failed call erased or changed the pending record.
    LockRecord r = {};
    ASSERT_EQ(ReadFromSharedMemory(&r, sizeof(r)), 0u);
    EXPECT_EQ(r.enuLockType, LOCKTYPE_KEY_REMOVED);

    // The whole mapping is usable, to its last byte.
    std::vector<BYTE> whole(CORELIB_SHARED_MAPPING_SIZE);
    for (size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<BYTE>(i * 7 + 1);
    ASSERT_EQ(WriteToSharedMemory(whole.data(), CORELIB_SHARED_MAPPING_SIZE), 0u);
    std::vector<BYTE> back(CORELIB_SHARED_MAPPING_SIZE, 0);
    ASSERT_EQ(ReadFromSharedMemory(back.data(), CORELIB_SHARED_MAPPING_SIZE), 0u);
    EXPECT_EQ(back, whole);
}

TEST(SharedRecord, ReleaseWhileTheCreatorRunsLeavesTheRecordReadable) {
    Peer creator;
    StartCreator(&creator, L"4");
    EXPECT_TRUE(ReleaseSharedMemory());
    EXPECT_TRUE(ReleaseSharedMemory());
    EXPECT_EQ(RunProbe(L"read"), "rc=0 type=4\n");
}

// How many handles, in all processes, refer to the mapping (ours included).
ULONG MappingHandleCount() {
    typedef LONG(NTAPI * QueryObject)(HANDLE, int, void*, ULONG, ULONG*);
    struct BasicInformation {  // the documented head of OBJECT_BASIC_INFORMATION
        ULONG attributes;
        ACCESS_MASK grantedAccess;
        ULONG handleCount;
        ULONG pointerCount;
        ULONG reserved[10];
    } info = {};
    QueryObject query =
        reinterpret_cast<QueryObject>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject"));
    HANDLE m = OpenFileMappingW(READ_CONTROL, FALSE, CORELIB_SHARED_MAPPING);
    if (!query || !m) return 0;
    LONG status = query(m, 0 /* ObjectBasicInformation */, &info, sizeof(info), nullptr);
    CloseHandle(m);
    return status >= 0 ? info.handleCount : 0;
}

TEST(SharedRecord, SecondCreateInOneProcessKeepsOneHandle) {
    ULONG once = 0;
    {
        Peer creator;
        StartCreator(&creator);
        once = MappingHandleCount();
        ASSERT_NE(once, 0u);
    }
    Peer creator;
    ASSERT_FALSE(MappingExists());
    ASSERT_TRUE(creator.Start(L"create-twice-and-wait")) << creator.output();
    EXPECT_EQ(MappingHandleCount(), once);
    // The one handle still does its work.
    EXPECT_EQ(WriteType(LOCKTYPE_INTERVAL), 0u);
    EXPECT_EQ(RunProbe(L"read"), "rc=0 type=2\n");
}

TEST(SharedRecord, AccessGoesOnWhateverStateTheMutexIsIn) {
    enum Setup { kFree, kHeldByAnotherProcess, kAbandoned, kNameTakenByAnEvent };
    struct Case {
        const char* name;
        Setup setup;
        const char* afterwards;  // what a zero-wait take by another process finds after the access
    } const cases[] = {
        {"free", kFree, "acquired\n"},
        {"held by another process", kHeldByAnotherProcess, "busy\n"},
        // The access inherits the abandoned mutex and must give it back.
        {"abandoned by a process that ended", kAbandoned, "acquired\n"},
        {"name taken by an event", kNameTakenByAnEvent, "unavailable\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer creator;
        StartCreator(&creator);
        // Keeps the object alive between the processes of this case.
        HANDLE keep = nullptr;
        Peer holder;
        switch (c.setup) {
            case kFree:
                keep = CreateMutexW(nullptr, FALSE, CORELIB_SHARED_MUTEX);
                break;
            case kHeldByAnotherProcess:
                ASSERT_TRUE(holder.Start(L"hold-mutex")) << holder.output();
                break;
            case kAbandoned:
                keep = CreateMutexW(nullptr, FALSE, CORELIB_SHARED_MUTEX);
                ASSERT_NE(keep, nullptr);
                ASSERT_EQ(RunProbe(L"abandon-mutex"), "");
                break;
            case kNameTakenByAnEvent:
                keep = CreateEventW(nullptr, TRUE, FALSE, CORELIB_SHARED_MUTEX);
                ASSERT_NE(keep, nullptr);
                break;
        }

        EXPECT_EQ(WriteType(LOCKTYPE_KEY_REMOVED), 0u);
        LockRecord r = {};
        EXPECT_EQ(ReadFromSharedMemory(&r, sizeof(r)), 0u);
        EXPECT_EQ(r.enuLockType, LOCKTYPE_KEY_REMOVED);
        EXPECT_TRUE(ReleaseSharedMemory());
        EXPECT_EQ(RunProbe(L"try-mutex"), c.afterwards);

        if (keep) CloseHandle(keep);
    }
}

DWORD WINAPI WaitOnEvent(void* event) { return WaitForSingleObject(static_cast<HANDLE>(event), 20000); }

TEST(AlertEvent, SignalSetsTheServiceEventOnlyWhenItExists) {
    struct Case {
        const char* name;
        bool serviceRuns;
        const char* output;
    } const cases[] = {
        {"no service: nothing happens", false, "absent\n"},
        {"service waiting: it wakes", true, "set\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE event = nullptr;
        HANDLE waiter = nullptr;
        if (c.serviceRuns) {
            // As the service makes it: auto-reset, not signalled, SYSTEM and Administrators only.
            PSECURITY_DESCRIPTOR sd = corelib::NewObjectSecurityDescriptor();
            ASSERT_NE(sd, nullptr) << GetLastError();
            SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
            event = CreateEventW(&sa, FALSE, FALSE, CORELIB_ALERT_EVENT);
            LocalFree(sd);
            ASSERT_NE(event, nullptr) << GetLastError();
            waiter = CreateThread(nullptr, 0, WaitOnEvent, event, 0, nullptr);
            ASSERT_NE(waiter, nullptr);
        }
        DWORD code = 1;
        EXPECT_EQ(RunProbe(L"signal", &code), c.output);
        EXPECT_EQ(code, 0u);
        if (c.serviceRuns) {
            ASSERT_EQ(WaitForSingleObject(waiter, 30000), WAIT_OBJECT_0);
            DWORD woke = WAIT_FAILED;
            GetExitCodeThread(waiter, &woke);
            EXPECT_EQ(woke, WAIT_OBJECT_0);
            CloseHandle(waiter);
            CloseHandle(event);
        } else {
            // The signal must not bring the event into being.
            HANDLE e = OpenEventW(SYNCHRONIZE, FALSE, CORELIB_ALERT_EVENT);
            EXPECT_EQ(e, nullptr);
            if (e) CloseHandle(e);
        }
    }
}

// The DACL holds exactly SYSTEM and Administrators with full access, and is protected.
void ExpectSystemAndAdministratorsOnly(HANDLE object, ACCESS_MASK allAccess) {
    const ts::DaclView dacl = ts::ReadObjectDacl(object);
    ASSERT_TRUE(dacl.read) << dacl.error;
    EXPECT_TRUE(dacl.present);
    EXPECT_TRUE(dacl.isProtected);
    ASSERT_FALSE(dacl.nullDacl) << "a NULL DACL lets everybody in";
    for (const ts::AceEntry& ace : dacl.aces) {
        EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_TRUE(ace.mask == GENERIC_ALL || (ace.mask & allAccess) == allAccess) << std::hex << ace.mask;
    }
    const std::vector<std::string> sids = dacl.Sids();
    EXPECT_EQ(dacl.aces.size(), 2u);
    EXPECT_EQ(std::set<std::string>(sids.begin(), sids.end()), (std::set<std::string>{"S-1-5-18", "S-1-5-32-544"}));
}

TEST(NamedObjectSecurity, MappingAndAlertEventAdmitOnlySystemAndAdministrators) {
    {
        SCOPED_TRACE("lock-record mapping made by CreateSharedMemory");
        Peer creator;
        StartCreator(&creator);
        HANDLE m = OpenFileMappingW(READ_CONTROL, FALSE, CORELIB_SHARED_MAPPING);
        ASSERT_NE(m, nullptr) << GetLastError();
        ExpectSystemAndAdministratorsOnly(m, SECTION_ALL_ACCESS);
        CloseHandle(m);
    }
    {
        SCOPED_TRACE("alert event made with the shared descriptor");
        PSECURITY_DESCRIPTOR sd = corelib::NewObjectSecurityDescriptor();
        ASSERT_NE(sd, nullptr) << GetLastError();
        SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
        HANDLE event = CreateEventW(&sa, FALSE, FALSE, CORELIB_ALERT_EVENT);
        LocalFree(sd);
        ASSERT_NE(event, nullptr) << GetLastError();
        HANDLE opened = OpenEventW(READ_CONTROL, FALSE, CORELIB_ALERT_EVENT);
        ASSERT_NE(opened, nullptr) << GetLastError();
        ExpectSystemAndAdministratorsOnly(opened, EVENT_ALL_ACCESS);
        CloseHandle(opened);
        CloseHandle(event);
    }
}

}  // namespace
