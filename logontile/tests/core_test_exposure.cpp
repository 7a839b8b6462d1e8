// What LogonUI, running as SYSTEM, must not do on the user's behalf: open a picture anywhere but a
// local fixed drive, keep the software password of the record, or wait on its own thread for a
// key check held up behind the token lock.
#include "tilefixture.h"

#include <algorithm>

#include "keydlg.h"

namespace {

using namespace lt;

TEST(LogontilePicturePath, OnlyAbsolutePathsOnAFixedDriveAreOpened) {
    // Under the test bed C: is a fixed drive, R: and S: are removable ("floppy").
    const struct {
        const wchar_t* path;
        bool allowed;
    } cases[] = {
        {L"C:\\pics\\user.bmp", true},
        {L"c:\\user.bmp", true},
        {L"C:\\", true},
        {L"\\\\server\\share\\user.bmp", false},
        {L"\\\\127.0.0.1\\c$\\user.bmp", false},
        {L"\\\\?\\C:\\pics\\user.bmp", false},
        {L"\\\\?\\UNC\\server\\share\\user.bmp", false},
        {L"\\\\.\\C:\\pics\\user.bmp", false},
        {L"//server/share/user.bmp", false},
        {L"C:/pics/user.bmp", false},
        {L"C:\\pics/..//server/user.bmp", false},
        {L"/tmp/user.bmp", false},
        {L"\\pics\\user.bmp", false},
        {L"pics\\user.bmp", false},
        {L"user.bmp", false},
        {L"C:user.bmp", false},
        {L"R:\\user.bmp", false},
        {L"S:\\user.bmp", false},
        {L"Q:\\user.bmp", false},  // no such drive
        {L"1:\\user.bmp", false},
        {L"", false},
        {nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path ? Utf8(c.path) : "NULL");
        EXPECT_EQ(keydlg::IsLocalFixedPath(c.path), c.allowed);
    }
}

using LogontilePicture = TileFixture;

// Pictures that decode when opened, so that only the path check keeps them shut: the same file
// through the \\?\ form, and a copy on a removable drive.
TEST_F(LogontilePicture, PicturesOffAFixedDriveAreNeverOpened) {
    const std::wstring local = install_->Path(L"user.bmp");
    ASSERT_TRUE(ts::WriteFileBytes(local, BmpFile(5, 4)));
    const std::wstring removable = L"R:\\logontile-exposure-user.bmp";
    ASSERT_TRUE(ts::WriteFileBytes(removable, BmpFile(5, 4)));
    const struct {
        const char* name;
        std::wstring path;
        bool opened;
    } cases[] = {
        {"fixed drive", local, true},
        {"the same file as \\\\?\\", L"\\\\?\\" + local, false},
        {"the same file as \\\\.\\", L"\\\\.\\" + local, false},
        {"removable drive", removable, false},
        {"UNC", L"\\\\127.0.0.1\\share\\user.bmp", false},
    };
    const int kNoSuchResource = 31999;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(install_->SetPreference(L"UserPic", c.path));
        ASSERT_EQ(Open(CPUS_LOGON), S_OK);
        HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
        HRESULT hr = tile_->GetBitmapValue(0, &bitmap);
        if (c.opened) {
            EXPECT_EQ(hr, S_OK) << ts::Hex(static_cast<unsigned long>(hr));
            if (bitmap) DeleteObject(bitmap);
        } else {
            // A failure makes LogonUI show its own picture.
            EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME)) << ts::Hex(static_cast<unsigned long>(hr));
            EXPECT_EQ(bitmap, nullptr);
        }
        // Winlogon's dialogs: the file, or the fallback resource (none in this program).
        HBITMAP dialog = keydlg::LoadUserPicture(c.path.c_str(), GetModuleHandleW(nullptr), kNoSuchResource);
        EXPECT_EQ(dialog != nullptr, c.opened);
        if (dialog) DeleteObject(dialog);
    }
    DeleteFileW(removable.c_str());
}

using LogontileRecord = TileFixture;

TEST_F(LogontileRecord, TheSoftwarePasswordNeverStaysInLogonUi) {
    const std::wstring software = L"软件口令-5519-only-here";
    uinfo stored = StoredRecord();
    wcsncpy(stored.lpLogonPWD, software.c_str(), 139);
    ASSERT_TRUE(SetUserInfo(&stored));
    SecureZeroMemory(&stored, sizeof(stored));

    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    uinfo kept;
    Provider::CopyUserRecord(&kept);
    const BYTE* pwd = reinterpret_cast<const BYTE*>(kept.lpLogonPWD);
    const BYTE* computer = reinterpret_cast<const BYTE*>(kept.lpComputerName);
    EXPECT_TRUE(std::all_of(pwd, pwd + sizeof(kept.lpLogonPWD), [](BYTE b) { return b == 0; }))
        << "software password kept: " << Utf8(std::wstring(kept.lpLogonPWD, wcsnlen(kept.lpLogonPWD, 140)));
    EXPECT_TRUE(std::all_of(computer, computer + sizeof(kept.lpComputerName), [](BYTE b) { return b == 0; }));
    // What the tile works with stays.
    EXPECT_EQ(std::wstring(kept.lpUserName), L"bob");
    EXPECT_EQ(std::wstring(kept.lpUserPWD), L"pw");
    EXPECT_EQ(std::wstring(kept.lpDriverUID[0]), disk_->Id());
    SecureZeroMemory(&kept, sizeof(kept));
    // The stored record itself is untouched.
    EXPECT_EQ(std::wstring(StoredRecord().lpLogonPWD), software);
}

// A key check that hangs while `hang` is set, as VerifyUserInfo does while the key thread holds
// the token lock; it reads the record only after it wakes.
struct SlowKey {
    static SlowKey& Get() {
        static SlowKey k;
        return k;
    }
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    volatile LONG hang = 0;
    volatile LONG hung = 0;      // checks that waited
    volatile LONG answered = 0;  // checks that returned
    static BOOL CORELIB_CALL Check(const uinfo* record) {
        SlowKey& k = Get();
        if (InterlockedCompareExchange(&k.hang, 0, 0)) {
            InterlockedIncrement(&k.hung);
            WaitForSingleObject(k.release, 20000);
        }
        BOOL enrolled = wcsncmp(record->lpUserName, L"bob", 50) == 0;
        InterlockedIncrement(&k.answered);
        return enrolled;
    }
};

class LogontileUiWait : public TileFixture {
protected:
    void SetUp() override {
        TileFixture::SetUp();
        SlowKey& k = SlowKey::Get();
        ResetEvent(k.release);
        k.hang = 0;
        k.hung = 0;
        k.answered = 0;
        logontile::g_tileSeams.VerifyUserInfo = SlowKey::Check;
        logontile::g_tileSeams.uiCheckBoundMs = kBoundMs;
    }
    void TearDown() override {
        Release();
        // Every worker has answered before the next test counts.
        EXPECT_TRUE(WaitUntil([] { return SlowKey::Get().answered >= SlowKey::Get().hung; }, 5000));
        TileFixture::TearDown();
        logontile::g_tileSeams = saved_;
    }
    static void Hang() {
        ResetEvent(SlowKey::Get().release);
        InterlockedExchange(&SlowKey::Get().hang, 1);
    }
    static void Release() {
        InterlockedExchange(&SlowKey::Get().hang, 0);
        SetEvent(SlowKey::Get().release);
    }
    static constexpr DWORD kBoundMs = 200;
    // Well under the hung check's own 20 s: a wait that is not bounded shows.
    static constexpr DWORD kReturnsWithinMs = kBoundMs + 2500;
    logontile::TileSeams saved_ = logontile::g_tileSeams;
};

TEST_F(LogontileUiWait, AHungCheckCountsAsNoKeyAndStartsNoSecondWorker) {
    uinfo record = StoredRecord();
    EXPECT_TRUE(logontile::KeyPresentWithinBound(&record));

    Hang();
    for (int call = 0; call < 4; ++call) {
        SCOPED_TRACE(call);
        DWORD t0 = GetTickCount();
        EXPECT_FALSE(logontile::KeyPresentWithinBound(&record));
        EXPECT_LT(GetTickCount() - t0, kReturnsWithinMs);
    }
    EXPECT_EQ(SlowKey::Get().hung, 1) << "a worker per call while the first one hangs";
    // The caller's record is gone before the worker reads its own copy.
    SecureZeroMemory(&record, sizeof(record));
    LONG answered = SlowKey::Get().answered;
    Release();
    ASSERT_TRUE(WaitUntil([&] { return SlowKey::Get().answered > answered; }, 5000));
    // The key check answers again once the lock is free.
    record = StoredRecord();
    EXPECT_TRUE(WaitUntil([&] { return logontile::KeyPresentWithinBound(&record); }, 3000));
    SecureZeroMemory(&record, sizeof(record));
}

TEST_F(LogontileUiWait, SelectionAndLogonDoNotWaitOnAHungCheck) {
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_KaiJiChcekKey", 1), ERROR_SUCCESS);
    ASSERT_EQ(Open(CPUS_LOGON), S_OK);
    EXPECT_FALSE(Select());
    ASSERT_TRUE(WaitUntil([&] { return tile_->IsConnected(); }, 3000)) << "the key thread did not find the key";

    Hang();
    DWORD t0 = GetTickCount();
    logonui::DecodedLogon logon;
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response;
    Serialize(&logon, &response);
    EXPECT_LT(GetTickCount() - t0, kReturnsWithinMs);
    EXPECT_NE(response, CPGSR_RETURN_CREDENTIAL_FINISHED) << "logged on with a key that gave no answer";
    EXPECT_FALSE(tile_->IsConnected());

    // The key thread, started again, finds the key once the lock is free.
    Release();
    ASSERT_TRUE(WaitUntil([&] { return tile_->IsConnected(); }, 5000));
    Hang();
    t0 = GetTickCount();
    EXPECT_FALSE(Select()) << "automatic logon with a key that gave no answer";
    EXPECT_LT(GetTickCount() - t0, kReturnsWithinMs);
}

}  // namespace
