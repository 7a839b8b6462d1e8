// Key presence through the real Corelib.dll, the stand-in token library beside it and simulated
// USB disks: the token open sequence, serials and labels, the enrolled-disk slots, the device-mode
// switch and the device notices.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "corelib.h"
#include "testsupport.h"
#include "tokensim.h"
#include "usbdisk.h"

namespace tk = ts::tokensim;

namespace {

const wchar_t kSettingsKey[] = L"SOFTWARE\\Quorel\\Vantor";

uinfo RecordWithSerial(DWORD serial) {
    uinfo r = {};
    r.ulTokenSerial = serial;
    return r;
}

std::wstring Slot(const uinfo& r, int i) { return std::wstring(r.lpDriverUID[i], wcsnlen(r.lpDriverUID[i], 50)); }

void SetSlot(uinfo* r, int i, const std::wstring& id) {
    memset(r->lpDriverUID[i], 0, sizeof(r->lpDriverUID[i]));
    wmemcpy(r->lpDriverUID[i], id.c_str(), id.size());
}

// ---------------------------------------------------------------- enrolled-disk slots

TEST(KeySlots, AddFillsTheFirstFreeSlotAndRefusesAFullRecord) {
    uinfo r = {};
    SetSlot(&r, 0, L"one");
    SetSlot(&r, 2, L"three");
    EXPECT_TRUE(AddDriverUID(&r, L"two"));
    EXPECT_EQ(Slot(r, 1), L"two");
    EXPECT_TRUE(AddDriverUID(&r, L"four"));
    EXPECT_TRUE(AddDriverUID(&r, L"five"));
    EXPECT_EQ(Slot(r, 3), L"four");
    EXPECT_EQ(Slot(r, 4), L"five");

    const uinfo full = r;
    EXPECT_FALSE(AddDriverUID(&r, L"six"));
    EXPECT_EQ(memcmp(&r, &full, sizeof(r)), 0);
}

TEST(KeySlots, AddTakesIdsUpTo49CharactersAndNothingElse) {
    const std::wstring max(49, L'm');
    const std::wstring over(50, L'o');
    const struct {
        const wchar_t* id;
        BOOL stored;
    } cases[] = {
        {max.c_str(), TRUE},
        {over.c_str(), FALSE},
        {L"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}", FALSE},  // every fixed volume's "id" on Vista and later
        {L"", FALSE},
        {nullptr, FALSE},
    };
    for (const auto& c : cases) {
        // Four slots used, so the id lands in slot 5, right before the reserved bytes and the serial.
        uinfo r = {};
        for (int i = 0; i < 4; ++i) SetSlot(&r, i, L"used");
        r.reserved1114[0] = 0x5A;
        r.reserved1114[1] = 0xA5;
        r.ulTokenSerial = 0x11223344;
        uinfo before = r;
        EXPECT_EQ(AddDriverUID(&r, c.id), c.stored) << (c.id ? wcslen(c.id) : 0);
        if (c.stored) {
            EXPECT_EQ(Slot(r, 4), c.id);
            memcpy(before.lpDriverUID[4], c.id, (wcslen(c.id) + 1) * sizeof(wchar_t));
        }
        EXPECT_EQ(memcmp(&r, &before, sizeof(r)), 0) << "nothing else changes";
    }
    EXPECT_FALSE(AddDriverUID(nullptr, L"x"));
}

TEST(KeySlots, AddLeavesNoStaleCharactersBehindTheNewId) {
    uinfo r = {};
    SetSlot(&r, 0, L"a-long-old-identifier&0");
    r.lpDriverUID[0][0] = 0;  // emptied by its first character only
    ASSERT_TRUE(AddDriverUID(&r, L"new"));
    for (int i = 4; i < 50; ++i) EXPECT_EQ(r.lpDriverUID[0][i], 0) << i;
}

TEST(KeySlots, DelKeepsOnlyTheGivenIdAndRefusesIdsNoSlotCouldHold) {
    uinfo r = {};
    SetSlot(&r, 0, L"A");
    SetSlot(&r, 1, L"B");
    SetSlot(&r, 2, L"A");
    SetSlot(&r, 4, L"C");
    r.ulTokenSerial = 7;
    DelDriverUID(&r, L"A");
    EXPECT_EQ(Slot(r, 0), L"A");
    EXPECT_EQ(Slot(r, 2), L"A");
    for (int i : {1, 3, 4})
        for (int c = 0; c < 50; ++c) EXPECT_EQ(r.lpDriverUID[i][c], 0) << "slot " << i + 1 << " cleared whole";
    EXPECT_EQ(r.ulTokenSerial, 7u);

    // With "" (or an id that could never be enrolled) nothing would be kept: nothing is cleared.
    const std::wstring over(50, L'A');
    for (const wchar_t* bad : {L"", over.c_str(), static_cast<const wchar_t*>(nullptr)}) {
        uinfo kept = {};
        SetSlot(&kept, 0, L"A");
        SetSlot(&kept, 3, L"B");
        const uinfo before = kept;
        DelDriverUID(&kept, bad);
        EXPECT_EQ(memcmp(&kept, &before, sizeof(kept)), 0);
    }
}

TEST(KeySlots, CountGivesTheFreeSlots) {
    const struct {
        std::vector<int> used;
        int free;
    } cases[] = {{{}, 5}, {{1, 4}, 3}, {{0, 1, 2, 3, 4}, 0}, {{4}, 4}};
    for (const auto& c : cases) {
        uinfo r = {};
        for (int i : c.used) SetSlot(&r, i, L"id");
        EXPECT_EQ(GetDriverUIDCount(&r), c.free);
    }
    EXPECT_EQ(GetDriverUIDCount(nullptr), 0);
}

TEST(KeySlots, CompareMatchesWholeIdsExactly) {
    uinfo r = {};
    SetSlot(&r, 3, L"ser123&0");
    const struct {
        const wchar_t* id;
        BOOL match;
    } cases[] = {
        {L"ser123&0", TRUE}, {L"SER123&0", FALSE}, {L"ser123", FALSE}, {L"ser123&00", FALSE},
        {L"", FALSE},        {nullptr, FALSE},
    };
    for (const auto& c : cases) EXPECT_EQ(CompareDriverUID(&r, c.id), c.match) << (c.id ? ts::Narrow(c.id) : "null");

    // A slot filled to the last character has no NUL: it matches nothing, not even its own text.
    uinfo corrupt = {};
    wmemset(corrupt.lpDriverUID[0], L'z', 50);
    const std::wstring fifty(50, L'z');
    EXPECT_FALSE(CompareDriverUID(&corrupt, fifty.c_str()));
    EXPECT_FALSE(CompareDriverUID(&corrupt, std::wstring(49, L'z').c_str()));
}

// ---------------------------------------------------------------- token

// Serials of eight inserted tokens: position p (1-based) has low = 0x1000 + p, high = p << 16.
std::vector<tk::Token> EightTokens() {
    std::vector<tk::Token> t;
    for (DWORD p = 1; p <= 8; ++p) t.push_back(tk::MakeToken(0x1000 + p, p << 16, "ZARN"));
    return t;
}
DWORD SerialAt(int position) { return tk::Fold(0x1000 + position, position << 16); }

typedef DWORD(WINAPI* OpenDeviceFn)(HANDLE, DWORD, void*);

class TokenKey : public ::testing::Test {
protected:
    void SetUp() override {
        UE_Epas_DeleteContext();  // a fresh context: no current token
        ASSERT_TRUE(tk::Reset());
        ts::ResetSettings();
        ASSERT_TRUE(tk::StartLog());
    }
    void TearDown() override {
        EXPECT_EQ(tk::MisuseCount(), 0u) << "a call no careful caller makes; log: " << tk::Log();
        tk::Reset();
    }
    // Opens a token on Corelib's context directly, as the control panel does.
    static DWORD OpenOnCorelibContext(DWORD flag) {
        HANDLE context = nullptr;
        UE_Epas_CreateContext(&context);
        HMODULE lib = GetModuleHandleW(L"FT_ND_API.dll");
        if (!context || !lib) return 0xFFFFFFFF;
        auto open = reinterpret_cast<OpenDeviceFn>(GetProcAddress(lib, "epas_OpenDevice"));
        return open ? open(context, flag, nullptr) : 0xFFFFFFFF;
    }
};

TEST_F(TokenKey, TheLibraryBesideCorelibIsLoadedByItsFullPath) {
    HANDLE context = nullptr;
    UE_Epas_CreateContext(&context);
    EXPECT_NE(context, nullptr);
    HMODULE lib = GetModuleHandleW(L"FT_ND_API.dll");
    ASSERT_NE(lib, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(lib, path, MAX_PATH);
    EXPECT_EQ(_wcsicmp(path, ts::InExeDir(L"FT_ND_API.dll").c_str()), 0) << ts::Narrow(path);

    // The same context until it is deleted; then a new one.
    HANDLE again = nullptr;
    UE_Epas_CreateContext(&again);
    EXPECT_EQ(again, context);
    UE_Epas_DeleteContext();
    UE_Epas_DeleteContext();  // nothing left to delete
    EXPECT_EQ(tk::Log(), "C D");
}

TEST_F(TokenKey, OpensCurrentThenFirstThenFiveNext) {
    const struct {
        int position;  // of the enrolled token
        BOOL found;
        const char* log;
    } cases[] = {
        {1, TRUE, "C O2! O1@1 P7"},
        {3, TRUE, "C O2! O1@1 P7 O0@2 P7 O0@3 P7"},
        {6, TRUE, "C O2! O1@1 P7 O0@2 P7 O0@3 P7 O0@4 P7 O0@5 P7 O0@6 P7"},
        {7, FALSE, "C O2! O1@1 P7 O0@2 P7 O0@3 P7 O0@4 P7 O0@5 P7 O0@6 P7"},
    };
    ASSERT_TRUE(tk::Insert(EightTokens()));
    for (const auto& c : cases) {
        UE_Epas_DeleteContext();
        tk::StartLog();
        uinfo r = RecordWithSerial(SerialAt(c.position));
        EXPECT_EQ(UE_CheckEpasByDriveID(&r), c.found) << c.position;
        EXPECT_EQ(tk::Log(), c.log) << c.position;
    }
}

TEST_F(TokenKey, TheTokenFoundLastIsTriedFirstNextTime) {
    ASSERT_TRUE(tk::Insert(EightTokens()));
    uinfo r = RecordWithSerial(SerialAt(3));
    ASSERT_TRUE(UE_CheckEpasByDriveID(&r));
    tk::StartLog();
    EXPECT_TRUE(UE_CheckEpasByDriveID(&r));
    EXPECT_EQ(tk::Log(), "O2@3 P7");

    // Pulled: the current open fails and the search starts again from the first.
    std::vector<tk::Token> without = EightTokens();
    without.erase(without.begin() + 2);
    ASSERT_TRUE(tk::Insert(without));
    tk::StartLog();
    EXPECT_FALSE(UE_CheckEpasByDriveID(&r));
    EXPECT_EQ(tk::OpenLog(), "O2! O1@1 O0@2 O0@3 O0@4 O0@5 O0@6");
}

TEST_F(TokenKey, FailuresOfTheLibraryMeanNoKey) {
    const DWORD kStatus = 0xE00000C1;
    const struct {
        const char* what;
        const wchar_t* call;     // injected for every call of it
        int badOpenPosition;     // that token cannot be opened (0: none)
        int enrolledPosition;
        BOOL found;
        const char* log;
    } cases[] = {
        {"no context, tried twice", L"CreateContext", 0, 1, FALSE, "C! C!"},
        {"every open fails", L"OpenDevice", 0, 1, FALSE, "C O2! O1! O0! O0! O0! O0! O0!"},
        {"current fails, first works", L"OpenDevice.2", 0, 1, TRUE, "C O2! O1@1 P7"},
        {"serial reads fail", L"GetProperty.7", 0, 1, FALSE,
         "C O2! O1@1 P7! O0@2 P7! O0@3 P7! O0@4 P7! O0@5 P7! O0@6 P7!"},
        {"a broken token is skipped", nullptr, 2, 6, TRUE,
         "C O2! O1@1 P7 O0! O0@3 P7 O0@4 P7 O0@5 P7 O0@6 P7"},
        {"and counts as one of five", nullptr, 2, 7, FALSE,
         "C O2! O1@1 P7 O0! O0@3 P7 O0@4 P7 O0@5 P7 O0@6 P7"},
    };
    for (const auto& c : cases) {
        UE_Epas_DeleteContext();
        tk::Reset();
        std::vector<tk::Token> tokens = EightTokens();
        if (c.badOpenPosition) tokens[c.badOpenPosition - 1].openError = kStatus;
        ASSERT_TRUE(tk::Insert(tokens));
        if (c.call) tk::Fail(c.call, kStatus);
        tk::StartLog();
        uinfo r = RecordWithSerial(SerialAt(c.enrolledPosition));
        EXPECT_EQ(UE_CheckEpasByDriveID(&r), c.found) << c.what;
        EXPECT_EQ(tk::Log(), c.log) << c.what;
    }
}

TEST_F(TokenKey, AFailedSerialReadIsNeverComparedAsASerial) {
    // The error code equals the enrolled serial: still no match.
    const DWORD kStatus = 0xE0000077;
    tk::Token t = tk::MakeToken(1, 2);
    t.readError = kStatus;
    ASSERT_TRUE(tk::Insert({t}));
    uinfo r = RecordWithSerial(kStatus);
    EXPECT_FALSE(UE_CheckEpasByDriveID(&r));
    EXPECT_FALSE(UE_CheckEpasByDriveID(nullptr));
}

TEST_F(TokenKey, SerialsFoldTheirHalvesModulo2To32) {
    const struct {
        BYTE bytes[8];
        DWORD folded;
    } cases[] = {
        {{0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {{0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00}, 0x12345679},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFE},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, 0x80000000},
    };
    for (const auto& c : cases) {
        tk::Token t;
        memcpy(t.serial, c.bytes, 8);
        t.label = "ZARN";
        ASSERT_TRUE(tk::Insert({t}));
        ASSERT_EQ(OpenOnCorelibContext(1), 0u);
        EXPECT_EQ(UE_Get_TokenHardwareSerial(), c.folded);
        uinfo r = RecordWithSerial(c.folded);
        // A serial that folds to 0 is the value of "nothing enrolled": it never matches.
        EXPECT_EQ(UE_CheckEpasByDriveID(&r), c.folded != 0 ? TRUE : FALSE) << std::hex << c.folded;
    }

    // Enrolment reads the serial through the export: a failed read hands over the library's status.
    tk::Fail(L"GetProperty.7", 0xE0000042);
    ASSERT_EQ(OpenOnCorelibContext(1), 0u);
    EXPECT_EQ(UE_Get_TokenHardwareSerial(), 0xE0000042u);
}

TEST_F(TokenKey, OpenCurrentReportsTheLibraryStatus) {
    ASSERT_TRUE(tk::Insert(EightTokens()));
    EXPECT_EQ(UE_Open_CURRENT(), 0xE0000003u);  // nothing opened yet on a new context
    ASSERT_EQ(OpenOnCorelibContext(1), 0u);
    EXPECT_EQ(UE_Open_CURRENT(), 0u);
    EXPECT_EQ(tk::OpenLog(), "O2! O1@1 O2@1");
}

TEST_F(TokenKey, ALabelCountsOnlyWithTheBrandPrefixInCapitals) {
    const std::string full32 = "ZARN" + std::string(28, 'x');
    const std::string gbk = tk::AnsiLabel(L"ZARN电脑锁");
    const std::string gbk32 = tk::AnsiLabel(L"ZARN" + std::wstring(14, L'锁'));
    ASSERT_EQ(gbk32.size(), 32u);
    const struct {
        std::string label;
        BOOL ok;
        std::wstring name;
    } cases[] = {
        {"ZARN-KEY", TRUE, L"ZARN-KEY"},
        {"ZARN", TRUE, L"ZARN"},
        {"zarn-key", FALSE, L"zarn-key"},
        {"Zarn", FALSE, L"Zarn"},
        {"XZARN", FALSE, L"XZARN"},
        {"ZAR", FALSE, L"ZAR"},
        {"", FALSE, L""},
        {full32, TRUE, std::wstring(L"ZARN") + std::wstring(27, L'x')},  // no NUL in the token: cut to 31
        {gbk, TRUE, L"ZARN电脑锁"},
        {gbk32, TRUE, L"ZARN" + std::wstring(14, L'锁')},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(tk::Insert({tk::MakeToken(5, 5, c.label)}));
        ASSERT_EQ(OpenOnCorelibContext(1), 0u);
        wchar_t buf[40];
        wmemset(buf, L'Q', 40);
        EXPECT_EQ(UE_Get_EPASKEY_Name(buf), c.ok) << c.label;
        EXPECT_EQ(std::wstring(buf, wcsnlen(buf, 32)), c.name) << c.label;
        EXPECT_LT(wcsnlen(buf, 32), 32u) << "terminated inside the 32 characters";
        for (int i = 32; i < 40; ++i) EXPECT_EQ(buf[i], L'Q') << "written past the buffer: " << c.label;
    }
}

TEST_F(TokenKey, AFailedLabelReadLeavesTheNameEmpty) {
    ASSERT_TRUE(tk::Insert({tk::MakeToken(5, 5, "ZARN-KEY")}));
    const struct {
        const char* what;
        bool openFirst;
        const wchar_t* call;
    } cases[] = {
        {"read fails", true, L"GetProperty.11"},
        {"no token open", false, nullptr},
    };
    for (const auto& c : cases) {
        UE_Epas_DeleteContext();
        tk::Reset();
        ASSERT_TRUE(tk::Insert({tk::MakeToken(5, 5, "ZARN-KEY")}));
        if (c.call) tk::Fail(c.call, 0xE0000011);
        if (c.openFirst) {
            ASSERT_EQ(OpenOnCorelibContext(1), 0u);
        }
        wchar_t buf[32];
        wmemset(buf, L'Q', 32);
        EXPECT_FALSE(UE_Get_EPASKEY_Name(buf)) << c.what;
        for (int i = 0; i < 32; ++i) EXPECT_EQ(buf[i], 0) << c.what << " at " << i;
    }
    UE_Epas_DeleteContext();
    wchar_t buf[32];
    wmemset(buf, L'Q', 32);
    EXPECT_FALSE(UE_Get_EPASKEY_Name(buf)) << "no context";
    EXPECT_EQ(buf[0], 0);
    EXPECT_FALSE(UE_Get_EPASKEY_Name(nullptr));
}

TEST_F(TokenKey, ThreadsShareTheContextOneCallAtATime) {
    tk::Reset();  // no log: keep the calls fast
    ASSERT_TRUE(tk::Insert(EightTokens()));
    const uinfo r = RecordWithSerial(SerialAt(3));
    const uinfo absent = RecordWithSerial(0xABCDEF);
    volatile LONG wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                if (!UE_CheckEpasByDriveID(&r)) InterlockedIncrement(&wrong);
                if (t == 0 && UE_CheckEpasByDriveID(&absent)) InterlockedIncrement(&wrong);
                if (t == 1) {
                    wchar_t name[32];
                    UE_Get_EPASKEY_Name(name);
                }
                if (t == 2 && i % 10 == 0) UE_Epas_DeleteContext();
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong, 0);
}

// ---------------------------------------------------------------- without a usable token library

typedef BOOL(__cdecl* CheckFn)(const uinfo*);
typedef DWORD(__cdecl* DwordFn)(void);
typedef void(__cdecl* CreateFn)(HANDLE*);
typedef BOOL(__cdecl* NameFn)(wchar_t*);

// A copy of Corelib in a folder of its own, as on a machine where the token library is missing or
// broken; the bin folder (this program's folder, first on the search path) still has the library.
class TokenLibraryMissing : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = ts::MakeTempDir(L"corelib-alone");
        ASSERT_TRUE(CopyFileW(ts::InExeDir(L"Corelib.dll").c_str(), (dir_ + L"\\CorelibAlone.dll").c_str(), FALSE));
        ASSERT_TRUE(tk::Reset());
        ts::ResetSettings();
        ASSERT_TRUE(tk::Insert({tk::MakeToken(0x10, 0x20, "ZARN-KEY")}));
        ASSERT_TRUE(tk::StartLog());
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        if (!system_.empty()) {
            // Corelib never unloads the token library, so the copy may still be mapped here: move it
            // out of the system folder when it cannot be deleted; no later test may find it there.
            if (!DeleteFileW(system_.c_str()))
                MoveFileExW(system_.c_str(), (ts::MakeTempDir(L"old-system-copy") + L"\\FT_ND_API.dll").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
            EXPECT_EQ(GetFileAttributesW(system_.c_str()), INVALID_FILE_ATTRIBUTES) << GetLastError();
        }
        ts::RemoveTree(dir_);
        tk::Reset();
    }
    void Load() {
        module_ = LoadLibraryW((dir_ + L"\\CorelibAlone.dll").c_str());
        ASSERT_NE(module_, nullptr) << "Corelib loads without its token library";
    }
    template <class F>
    F Get(const char* name) {
        return reinterpret_cast<F>(GetProcAddress(module_, name));
    }
    // Every token export answers "no token".
    void ExpectNoToken() {
        uinfo r = RecordWithSerial(tk::Fold(0x10, 0x20));
        EXPECT_FALSE(Get<CheckFn>("UE_CheckEpasByDriveID")(&r));
        HANDLE context = reinterpret_cast<HANDLE>(1);
        Get<CreateFn>("UE_Epas_CreateContext")(&context);
        EXPECT_EQ(context, nullptr);
        EXPECT_NE(Get<DwordFn>("UE_Open_CURRENT")(), 0u);
        wchar_t name[32];
        wmemset(name, L'Q', 32);
        EXPECT_FALSE(Get<NameFn>("UE_Get_EPASKEY_Name")(name));
        EXPECT_EQ(name[0], 0);
        EXPECT_EQ(tk::Log(), "") << "no call reached a token library";
    }
    std::wstring dir_, system_;
    HMODULE module_ = nullptr;
};

TEST_F(TokenLibraryMissing, NoLibraryBesideCorelibOrInTheSystemFolderMeansNoToken) {
    Load();
    ExpectNoToken();
}

TEST_F(TokenLibraryMissing, ALibraryLackingAFunctionMeansNoToken) {
    ASSERT_TRUE(CopyFileW(ts::InExeDir(L"FT_ND_API_incomplete.dll").c_str(), (dir_ + L"\\FT_ND_API.dll").c_str(), FALSE));
    Load();
    ExpectNoToken();
}

TEST_F(TokenLibraryMissing, TheSystemFolderIsTheSecondPlace) {
    wchar_t sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    system_ = std::wstring(sys) + L"\\FT_ND_API.dll";
    ASSERT_TRUE(CopyFileW(ts::InExeDir(L"FT_ND_API.dll").c_str(), system_.c_str(), FALSE));
    for (bool brokenBeside : {false, true}) {
        if (brokenBeside) {
            ASSERT_TRUE(CopyFileW(ts::InExeDir(L"FT_ND_API_incomplete.dll").c_str(), (dir_ + L"\\FT_ND_API.dll").c_str(),
                                  FALSE));
        }
        Load();
        uinfo r = RecordWithSerial(tk::Fold(0x10, 0x20));
        EXPECT_TRUE(Get<CheckFn>("UE_CheckEpasByDriveID")(&r)) << "broken library beside Corelib: " << brokenBeside;
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

// ---------------------------------------------------------------- USB disks and the device mode

class DiskKey : public ::testing::Test {
protected:
    void SetUp() override {
        ts::RemoveAllSimulatedDisks();
        ts::ResetSettings();
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_AppDriveMode", 0));
        UE_Epas_DeleteContext();
        tk::Reset();
    }
    void TearDown() override {
        ts::RemoveAllSimulatedDisks();
        tk::Reset();
    }
};

TEST_F(DiskKey, AnEnrolledDiskPluggedIsTheKeyAndPulledIsNot) {
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SER123");
    uinfo r = {};
    ASSERT_TRUE(AddDriverUID(&r, disk.Id().c_str()));
    EXPECT_FALSE(VerifyUserInfo(&r)) << "not yet plugged";
    ASSERT_TRUE(disk.Plug());
    EXPECT_TRUE(VerifyUserInfo(&r));
    wchar_t out[260];
    wmemset(out, L'x', 260);
    EXPECT_TRUE(UP_CheckUDeskByDriveID1(&r, out));
    EXPECT_STREQ(out, L"ser123&0");
    ASSERT_TRUE(disk.Pull());
    EXPECT_FALSE(VerifyUserInfo(&r));
    wmemset(out, L'x', 260);
    EXPECT_FALSE(UP_CheckUDeskByDriveID1(&r, out));
    EXPECT_STREQ(out, L"");
}

TEST_F(DiskKey, OnlyTheEnrolledDiskOfOneModelCounts) {
    ts::UsbDisk mine = ts::UsbDisk::FlashDisk(L"AA11");
    ts::UsbDisk other = ts::UsbDisk::FlashDisk(L"BB22");
    ASSERT_NE(mine.Id(), other.Id());
    uinfo r = {};
    for (const wchar_t* id : {L"x1&0", L"x2&0", L"x3&0", L"x4&0"}) ASSERT_TRUE(AddDriverUID(&r, id));
    ASSERT_TRUE(AddDriverUID(&r, mine.Id().c_str()));  // slot 5
    ASSERT_TRUE(other.Plug());
    EXPECT_FALSE(VerifyUserInfo(&r));
    ASSERT_TRUE(mine.Plug());
    wchar_t out[50];
    EXPECT_TRUE(UP_CheckUDeskByDriveID1(&r, out));
    EXPECT_EQ(std::wstring(out), mine.Id());
}

TEST_F(DiskKey, NoEnrolmentOrAClassGuidSlotNeverFindsAKey) {
    ts::UsbDisk usb = ts::UsbDisk::FlashDisk(L"SER123");
    ts::UsbDisk fixed = ts::UsbDisk::FixedVolume(L"{6a2b1c3d-0000-0000-0000-100000000000}");
    ASSERT_TRUE(usb.Plug());
    ASSERT_TRUE(fixed.Plug());
    uinfo empty = {};
    EXPECT_FALSE(VerifyUserInfo(&empty));
    // A record from before ids starting with '{' were refused: the fixed volume's "id" is not a key.
    uinfo legacy = {};
    SetSlot(&legacy, 0, fixed.Id());
    ASSERT_EQ(Slot(legacy, 0), L"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_FALSE(VerifyUserInfo(&legacy));
    EXPECT_FALSE(VerifyUserInfo(nullptr));
}

TEST_F(DiskKey, TheDeviceModeChoosesTheCheckOnEveryCall) {
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SER123");
    uinfo r = RecordWithSerial(tk::Fold(0x77, 0x1));
    ASSERT_TRUE(AddDriverUID(&r, disk.Id().c_str()));
    const struct {
        bool modeStored;
        DWORD mode;
        bool token;
        bool disk;
        BOOL key;
    } cases[] = {
        {true, 0xFFFFFFFF, true, false, TRUE},  // not yet chosen: the token path
        {true, 0xFFFFFFFF, false, true, FALSE},
        {true, 1, true, false, TRUE},
        {true, 2, true, false, TRUE},
        {true, 0, true, false, FALSE},
        {true, 0, false, true, TRUE},
        {false, 0, true, false, TRUE},  // a missing switch reads as 1: token
    };
    for (const auto& c : cases) {
        if (c.modeStored)
            ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, kSettingsKey, L"QJ_AppDriveMode", c.mode));
        else
            ts::ResetSettings();
        tk::Insert(c.token ? std::vector<tk::Token>{tk::MakeToken(0x77, 0x1)} : std::vector<tk::Token>{});
        c.disk ? disk.Plug() : disk.Pull();
        EXPECT_EQ(VerifyUserInfo(&r), c.key) << "mode " << static_cast<LONG>(c.mode) << " stored " << c.modeStored
                                             << " token " << c.token << " disk " << c.disk;
    }
}

// ---------------------------------------------------------------- device notices

TEST(KeyDeviceNotices, AHiddenOrMessageOnlyWindowRegistersForBothClasses) {
    for (HWND parent : {static_cast<HWND>(nullptr), HWND_MESSAGE}) {
        HWND w = CreateWindowExW(0, L"STATIC", L"key watch", WS_POPUP, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(RegisterDeviceNotification_GUID(w)) << (parent ? "message-only" : "hidden");
        DestroyWindow(w);
    }
}

// The probe registers a hidden window of its own and reports the first WM_DEVICECHANGE it gets.
TEST(KeyDeviceNotices, AnotherProcessWindowHearsTheSimulatedDisk) {
    ts::RemoveAllSimulatedDisks();
    ts::UsbDisk disk = ts::UsbDisk::FlashDisk(L"SER777");
    ASSERT_TRUE(disk.Plug());
    const std::wstring dir = ts::MakeTempDir(L"devicewindow");
    const std::wstring report = dir + L"\\report.txt";
    const std::wstring title = L"TolvenProbeDeviceWindow-" + std::to_wstring(GetCurrentProcessId());
    std::wstring cmd = L"\"" + ts::InExeDir(L"corelib_probe_devicewindow.exe") + L"\" \"" + title + L"\" \"" + report + L"\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    HWND w = nullptr;
    for (int i = 0; i < 200 && !w; ++i) {
        w = FindWindowW(nullptr, title.c_str());
        if (!w) Sleep(50);
    }
    ASSERT_NE(w, nullptr);
    DWORD error = 0;
    EXPECT_TRUE(disk.NotifyArrival(w, 5000, &error)) << error;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const std::string text = ts::ReadFileBytes(report);
    ts::RemoveTree(dir);
    EXPECT_EQ(text, "registered=1 event=0x8000 type=5 class={53f5630d-b6bf-11d0-94f2-00a0c91efb8b} name=" +
                        ts::Narrow(disk.InterfacePath()));
}

}  // namespace

namespace {

// ---------------------------------------------------------------- the OS class picks the field

TEST(DiskIdByOsClass, XpClassTakesTheInstanceFieldVistaAndLaterTheSerialField) {
    ts::RemoveAllSimulatedDisks();
    ts::UsbDisk xp = ts::UsbDisk::RemovableMedia(L"7&1A2B3C&0&RM");
    ts::UsbDisk usb = ts::UsbDisk::FlashDisk(L"SER9");
    ASSERT_TRUE(xp.Plug());
    ASSERT_TRUE(usb.Plug());
    ASSERT_EQ(xp.Id(true), L"7&1a2b3c&0&rm");
    const struct {
        const wchar_t* version;
        const wchar_t* enrolled;
        const char* report;
    } cases[] = {
        {L"winxp", L"7&1a2b3c&0&rm", "class=2 found=1 id=7&1a2b3c&0&rm"},
        {L"winxp", L"ser9&0", "class=2 found=0 id="},
        {L"win2003", L"7&1a2b3c&0&rm", "class=3 found=1 id=7&1a2b3c&0&rm"},
        {L"nt40", L"7&1a2b3c&0&rm", "class=0 found=1 id=7&1a2b3c&0&rm"},  // older than XP counts as XP
        {L"vista", L"ser9&0", "class=4 found=1 id=ser9&0"},
        {L"vista", L"7&1a2b3c&0&rm", "class=4 found=0 id="},  // four fields only: no field 5
        {L"win2008", L"ser9&0", "class=5 found=1 id=ser9&0"},
    };
    for (const auto& c : cases) {
        const std::wstring exe = std::wstring(L"corelib_probe_diskcheck_") + c.version + L".exe";
        ASSERT_TRUE(ts::CopyProgram(L"corelib_probe_diskcheck.exe", exe));
        ASSERT_TRUE(ts::SetProgramVersion(exe, c.version));
        ts::ChildResult r = ts::RunChild(L"\"" + ts::InExeDir(exe) + L"\" " + c.enrolled);
        ASSERT_TRUE(r.started);
        EXPECT_NE(r.output.find(c.report), std::string::npos) << ts::Narrow(c.version) << ": " << r.output;
    }
}

}  // namespace
