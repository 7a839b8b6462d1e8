// Installation folder, logon-module registration, Winlogon auto-logon values and service control.
// This process reports Windows 7 and calls Corelib.dll; other Windows versions are tested in
// copies of corelib_probe_setup.exe, one file name per version (the OS class is cached per process).
#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "classkeys.h"
#include "corelib.h"
#include "imports.h"
#include "testsupport.h"

namespace {

const wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const std::wstring kClassKey = ts::kClassKey;
const std::wstring kInprocKey = ts::kInprocKey;
const std::wstring kAuthKey = ts::kAuthenticationKey;
const std::wstring kProvidersKey = ts::kProvidersKey;
const std::wstring kFiltersKey = ts::kFiltersKey;
const wchar_t* const kWinlogonValues[] = {L"ginadll", L"AutoAdminLogon", L"DefaultUserName", L"DefaultDomainName",
                                          L"DefaultPassword"};

std::wstring Lower(std::wstring s) {
    CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

// Stores a value's bytes exactly as given: advapi32 may add a NUL to a string that lacks one.
bool SetRawValue(HKEY root, const std::wstring& path, DWORD type, const void* data, DWORD bytes) {
    struct CountedString {
        USHORT length, maximumLength;
        PWSTR buffer;
    };
    typedef LONG(WINAPI * SetValueKey)(HANDLE, CountedString*, ULONG, ULONG, const void*, ULONG);
    auto setValueKey =
        reinterpret_cast<SetValueKey>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey"));
    HKEY k;
    if (!setValueKey || RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) !=
                            ERROR_SUCCESS)
        return false;
    CountedString defaultValue = {0, 0, nullptr};
    LONG status = setValueKey(k, &defaultValue, 0, type, data, bytes);
    RegCloseKey(k);
    return status == 0;
}

// A folder path of exactly n characters.
std::wstring FolderOfLength(size_t n) { return L"C:\\" + std::wstring(n - 3, L'a'); }

// The REG_SZ value, whole and with exactly one terminating NUL.
void ExpectText(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& text) {
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(ts::GetValue(root, key, name, &data, &type)) << ts::Narrow(key) << " " << ts::Narrow(name);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << ts::Narrow(key) << " " << ts::Narrow(name);
    std::wstring want = text;
    want.push_back(0);
    std::wstring got(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    EXPECT_EQ(data.size() % sizeof(wchar_t), 0u);
    EXPECT_EQ(ts::Narrow(got), ts::Narrow(want)) << ts::Narrow(key) << " " << ts::Narrow(name);
}

class SetupTest : public ::testing::Test {
protected:
    struct Saved {
        bool present = false;
        std::vector<BYTE> data;
        DWORD type = 0;
    };

    void SetUp() override {
        for (size_t i = 0; i < ARRAYSIZE(kWinlogonValues); ++i)
            saved_[i].present = ts::GetValue(HKEY_LOCAL_MACHINE, kWinlogon, kWinlogonValues[i], &saved_[i].data,
                                             &saved_[i].type);
        ClearRegistration();
    }

    void TearDown() override {
        ClearRegistration();
        for (size_t i = 0; i < ARRAYSIZE(kWinlogonValues); ++i) {
            if (saved_[i].present)
                ts::SetBinary(HKEY_LOCAL_MACHINE, kWinlogon, kWinlogonValues[i], saved_[i].data.data(),
                              static_cast<DWORD>(saved_[i].data.size()), saved_[i].type);
            else
                DeleteWinlogonValue(kWinlogonValues[i]);
        }
        for (const std::wstring& d : dirs_) {
            // A program started by the shell may still be closing: retry briefly.
            for (int i = 0; i < 50 && !ts::RemoveTree(d); ++i) Sleep(100);
        }
    }

    static void ClearRegistration() {
        ts::DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
        ts::DeleteKeyTree(HKEY_LOCAL_MACHINE, kProvidersKey);
        ts::DeleteKeyTree(HKEY_LOCAL_MACHINE, kFiltersKey);
        DeleteWinlogonValue(L"ginadll");
    }

    static void DeleteWinlogonValue(const wchar_t* name) {
        HKEY k;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogon, 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
            RegDeleteValueW(k, name);
            RegCloseKey(k);
        }
    }

    std::wstring NewDir(const std::wstring& tag) {
        std::wstring d = ts::MakeTempDir(tag);
        EXPECT_FALSE(d.empty());
        dirs_.push_back(d);
        return d;
    }

    static void Touch(const std::wstring& path) { ASSERT_TRUE(ts::WriteFileBytes(path, "MZ")) << ts::Narrow(path); }

    static void SetGina(const std::wstring& path) {
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll", path));
    }
    static void SetInproc(const std::wstring& path) {
        ASSERT_TRUE(ts::SetString(HKEY_CLASSES_ROOT, kInprocKey, L"", path));
    }

    // Every entry of a credential-provider registration in folder dir.
    static void ExpectProviderRegistered(const std::wstring& dir) {
        ExpectText(HKEY_CLASSES_ROOT, kClassKey, L"", L"Logontile.dll");
        ExpectText(HKEY_CLASSES_ROOT, kInprocKey, L"ThreadingModel", L"Apartment");
        ExpectText(HKEY_CLASSES_ROOT, kInprocKey, L"", dir + L"\\Logontile.dll");
        ExpectText(HKEY_LOCAL_MACHINE, kFiltersKey, L"", L"Logontile.dll");
        ExpectText(HKEY_LOCAL_MACHINE, kProvidersKey, L"", L"Logontile.dll");
    }
    static void ExpectNoProviderKeys() {
        EXPECT_FALSE(ts::KeyExists(HKEY_CLASSES_ROOT, kClassKey));
        EXPECT_FALSE(ts::KeyExists(HKEY_LOCAL_MACHINE, kFiltersKey));
        EXPECT_FALSE(ts::KeyExists(HKEY_LOCAL_MACHINE, kProvidersKey));
    }
    // A complete registration written directly, with an extra subkey to show a whole tree goes.
    static void RegisterProviderDirectly(const std::wstring& dir) {
        ASSERT_TRUE(ts::SetString(HKEY_CLASSES_ROOT, kClassKey, L"", L"Logontile.dll"));
        ASSERT_TRUE(ts::SetString(HKEY_CLASSES_ROOT, kInprocKey, L"ThreadingModel", L"Apartment"));
        ASSERT_TRUE(ts::SetString(HKEY_CLASSES_ROOT, kInprocKey, L"", dir + L"\\Logontile.dll"));
        ASSERT_TRUE(ts::SetString(HKEY_CLASSES_ROOT, kClassKey + L"\\Implemented Categories", L"", L"x"));
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kFiltersKey, L"", L"Logontile.dll"));
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kProvidersKey, L"", L"Logontile.dll"));
    }

    // Runs the probe under a Windows version ("" = Wine's default, Windows 7) from the bin folder or
    // from dir, and returns the answer of each command (the text after the command's name).
    static std::vector<std::wstring> Probe(const std::wstring& version, const std::wstring& args,
                                           const std::wstring& dir = L"") {
        std::vector<std::wstring> answers;
        std::wstring name = L"setupprobe_" + (version.empty() ? std::wstring(L"default") : version) + L".exe";
        std::wstring exe = dir.empty() ? ts::InExeDir(name) : dir + L"\\" + name;
        bool copied = dir.empty() ? ts::CopyProgram(L"corelib_probe_setup.exe", name)
                                  : CopyFileW(ts::InExeDir(L"corelib_probe_setup.exe").c_str(), exe.c_str(), FALSE);
        EXPECT_TRUE(copied) << ts::Narrow(exe);
        if (version.empty())
            ts::DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + name);
        else
            EXPECT_TRUE(ts::SetProgramVersion(name, version));
        ts::ChildResult r = ts::RunChild(L"\"" + exe + L"\" " + args);
        EXPECT_TRUE(r.started) << ts::Narrow(exe);
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        std::wstring out = ts::Widen(r.output);
        size_t pos = 0;
        while (pos < out.size()) {
            size_t end = out.find(L'\n', pos);
            if (end == std::wstring::npos) end = out.size();
            std::wstring line = out.substr(pos, end - pos);
            size_t space = line.find(L' ');
            answers.push_back(space == std::wstring::npos ? L"" : line.substr(space + 1));
            pos = end + 1;
        }
        return answers;
    }
    static std::wstring ProbeOne(const std::wstring& version, const std::wstring& args,
                                 const std::wstring& dir = L"") {
        std::vector<std::wstring> a = Probe(version, args, dir);
        EXPECT_EQ(a.size(), 1u) << ts::Narrow(args);
        return a.empty() ? L"<no answer>" : a[0];
    }

private:
    Saved saved_[ARRAYSIZE(kWinlogonValues)];
    std::vector<std::wstring> dirs_;
};

// ---------------------------------------------------------------------------------------------
using SetupOsClass = SetupTest;

TEST_F(SetupOsClass, EachWindowsVersionGetsItsClass) {
    struct Case {
        const wchar_t* version;
        const wchar_t* expected;  // class and IsWin7
    } cases[] = {
        {L"nt40", L"0 0"},     {L"win2k", L"1 0"}, {L"winxp", L"2 0"},   {L"win2003", L"3 0"},
        {L"vista", L"4 1"},    {L"win2008", L"5 1"},  // a 6.x server: Vista paths, not class 6
        {L"", L"6 1"},         {L"win8", L"6 1"},
    };
    for (const Case& c : cases) {
        std::wstring a = ProbeOne(c.version, L"os");
        EXPECT_EQ(ts::Narrow(a.substr(0, 3)), ts::Narrow(c.expected)) << ts::Narrow(c.version) << ": " << ts::Narrow(a);
    }
    EXPECT_TRUE(IsWin7());  // this process: Wine's default Windows 7
}

// ---------------------------------------------------------------------------------------------
using SetupPath = SetupTest;

// "*" in an expected path stands for the calling program's folder.
std::wstring Expand(const std::wstring& expected, const std::wstring& programDir) {
    return !expected.empty() && expected[0] == L'*' ? programDir + expected.substr(1) : expected;
}

TEST_F(SetupPath, RegisteredProviderFolderOnWindows7) {
    struct Case {
        const char* what;
        std::wstring inproc;  // default value of InprocServer32, or kNone
        DWORD type;
        bool withNul;
        std::wstring gina;
        const wchar_t* suffix;
        std::wstring expected;
    };
    const std::wstring kNone = L"<none>";
    const std::wstring folder253 = FolderOfLength(253), folder254 = FolderOfLength(254);
    const Case cases[] = {
        {"registered folder", L"C:\\Tolven Lock\\Logontile.dll", REG_SZ, true, L"", L"\\Config.ini",
         L"C:\\Tolven Lock\\Config.ini"},
        {"Chinese folder", L"C:\\电脑锁\\Logontile.dll", REG_SZ, true, L"", L"\\PowerOn.Log", L"C:\\电脑锁\\PowerOn.Log"},
        {"drive root keeps its backslash", L"C:\\Logontile.dll", REG_SZ, true, L"", L"\\Config.ini",
         L"C:\\\\Config.ini"},
        {"no suffix", L"C:\\Tolven Lock\\Logontile.dll", REG_SZ, true, L"", nullptr, L"C:\\Tolven Lock"},
        {"ginadll is not read", kNone, REG_SZ, true, L"D:\\Gina\\Gatehook.dll", L"\\Config.ini", L"*\\Config.ini"},
        {"not registered", kNone, REG_SZ, true, L"", L"\\Sentry.exe", L"*\\Sentry.exe"},
        {"empty value", L"", REG_SZ, true, L"", L"\\Config.ini", L"*\\Config.ini"},
        {"not a string", L"C:\\X\\Logontile.dll", REG_BINARY, true, L"", L"\\Config.ini", L"*\\Config.ini"},
        {"no folder in the value", L"Logontile.dll", REG_SZ, true, L"", L"\\Config.ini", L"*\\Config.ini"},
        {"stored without NUL", L"C:\\NoNul\\Logontile.dll", REG_SZ, false, L"", L"\\Config.ini",
         L"C:\\NoNul\\Config.ini"},
        {"259 characters, result fits", folder253 + L"\\L.dll", REG_SZ, true, L"", L"\\x.ini", folder253 + L"\\x.ini"},
        {"259 characters without NUL", folder253 + L"\\L.dll", REG_SZ, false, L"", L"\\x.ini",
         folder253 + L"\\x.ini"},
        {"result of 260 characters", folder253 + L"\\L.dll", REG_SZ, true, L"", L"\\xy.ini", L""},
        {"value of 260 characters", folder254 + L"\\L.dll", REG_SZ, true, L"", L"", L""},
        {"260 characters without NUL", folder254 + L"\\L.dll", REG_SZ, false, L"", L"", L""},
        {"value of 2000 characters", FolderOfLength(1994) + L"\\L.dll", REG_SZ, true, L"", L"\\Config.ini", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearRegistration();
        if (c.inproc != kNone) {
            DWORD bytes = static_cast<DWORD>((c.inproc.size() + (c.withNul ? 1 : 0)) * sizeof(wchar_t));
            ASSERT_TRUE(SetRawValue(HKEY_CLASSES_ROOT, kInprocKey, c.type, c.inproc.c_str(), bytes));
            std::vector<BYTE> stored;
            ASSERT_TRUE(ts::GetValue(HKEY_CLASSES_ROOT, kInprocKey, L"", &stored));
            ASSERT_EQ(stored.size(), bytes);  // the registry keeps the value as given, NUL or not
        }
        if (!c.gina.empty()) SetGina(c.gina);
        wchar_t out[260];
        for (wchar_t& ch : out) ch = L'#';
        wchar_t* r = ZarnRegByDllPath(out, c.suffix);
        EXPECT_EQ(r, out);
        EXPECT_EQ(ts::Narrow(out), ts::Narrow(Expand(c.expected, ts::ExeDir())));
    }
}

TEST_F(SetupPath, RegisteredModuleFolderPerWindowsVersion) {
    const std::wstring gina = L"C:\\Gina Dir\\Gatehook.dll", tile = L"D:\\Tile Dir\\Logontile.dll";
    struct Case {
        const wchar_t* version;
        std::wstring gina, inproc;  // "" = not registered
        std::wstring expected;
    } cases[] = {
        {L"winxp", gina, tile, L"C:\\Gina Dir\\Config.ini"},
        {L"winxp", L"C:\\Gatehook.dll", L"", L"C:\\\\Config.ini"},
        {L"winxp", L"", tile, L"*\\Config.ini"},
        {L"winxp", L"msgina.dll", L"", L"*\\Config.ini"},
        {L"winxp", FolderOfLength(290) + L"\\Gatehook.dll", L"", L""},
        {L"win2k", gina, tile, L"C:\\Gina Dir\\Config.ini"},
        {L"win2003", gina, tile, L"C:\\Gina Dir\\Config.ini"},
        {L"nt40", gina, tile, L"C:\\Gina Dir\\Config.ini"},
        {L"vista", gina, tile, L"D:\\Tile Dir\\Config.ini"},
        {L"vista", gina, L"", L"*\\Config.ini"},
        {L"vista", L"", L"D:\\Logontile.dll", L"D:\\\\Config.ini"},
        {L"win2008", gina, tile, L"D:\\Tile Dir\\Config.ini"},
        {L"win8", gina, tile, L"D:\\Tile Dir\\Config.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.version) + " gina=" + ts::Narrow(c.gina) + " inproc=" + ts::Narrow(c.inproc));
        ClearRegistration();
        if (!c.gina.empty()) SetGina(c.gina);
        if (!c.inproc.empty()) SetInproc(c.inproc);
        EXPECT_EQ(ts::Narrow(ProbeOne(c.version, L"path \\Config.ini")),
                  ts::Narrow(Expand(c.expected, ts::ExeDir())));
    }
}

// Corelib may live in the system folder: before registration the folder is the program's, not Corelib's.
TEST_F(SetupPath, FallbackIsTheProgramFolderNotCorelibs) {
    std::wstring dir = NewDir(L"corelibcopy");
    std::wstring copy = dir + L"\\CorelibCopy.dll";
    ASSERT_TRUE(CopyFileW(ts::InExeDir(L"Corelib.dll").c_str(), copy.c_str(), FALSE));
    HMODULE m = LoadLibraryW(copy.c_str());
    ASSERT_NE(m, nullptr) << GetLastError();
    auto zarn = reinterpret_cast<wchar_t*(__cdecl*)(wchar_t*, const wchar_t*)>(GetProcAddress(m, "ZarnRegByDllPath"));
    ASSERT_NE(zarn, nullptr);
    wchar_t out[260];
    EXPECT_EQ(ts::Narrow(zarn(out, L"\\Config.ini")), ts::Narrow(ts::InExeDir(L"Config.ini")));
    FreeLibrary(m);
}

// ---------------------------------------------------------------------------------------------
using SetupRegister = SetupTest;

TEST_F(SetupRegister, ProviderIsWrittenForTheRegisteredFolder) {
    std::wstring dir = NewDir(L"安装 目录");
    Touch(dir + L"\\Logontile.dll");
    SetInproc(dir + L"\\Logontile.dll");
    EXPECT_EQ(WriteGianPathToReg(), 0);
    ExpectProviderRegistered(dir);
    EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll"));
    // Registering again overwrites every entry with the same data.
    EXPECT_EQ(WriteGianPathToReg(), 0);
    ExpectProviderRegistered(dir);
}

TEST_F(SetupRegister, ProviderWhoseFileIsGoneIsNotRewritten) {
    std::wstring dir = NewDir(L"moved");
    SetInproc(dir + L"\\Logontile.dll");  // registered, but the file is not there
    EXPECT_EQ(WriteGianPathToReg(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(ts::ValueExists(HKEY_CLASSES_ROOT, kClassKey, L""));
    EXPECT_FALSE(ts::ValueExists(HKEY_CLASSES_ROOT, kInprocKey, L"ThreadingModel"));
    EXPECT_FALSE(ts::KeyExists(HKEY_LOCAL_MACHINE, kFiltersKey));
    EXPECT_FALSE(ts::KeyExists(HKEY_LOCAL_MACHINE, kProvidersKey));
}

// Before any registration the folder is the calling program's (the control panel's).
TEST_F(SetupRegister, FirstRegistrationUsesTheProgramFolder) {
    struct Case {
        const wchar_t* version;
        bool xpClass;
        bool modulePresent;  // the module this class registers lies in the program folder
    } cases[] = {
        {L"winxp", true, true},   {L"winxp", true, false},   {L"win2003", true, true}, {L"nt40", true, true},
        {L"vista", false, true},  {L"vista", false, false},  {L"win2008", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.version) + (c.modulePresent ? " with module" : " without module"));
        ClearRegistration();
        std::wstring dir = NewDir(L"panel");
        const wchar_t* own = c.xpClass ? L"\\Gatehook.dll" : L"\\Logontile.dll";
        const wchar_t* other = c.xpClass ? L"\\Logontile.dll" : L"\\Gatehook.dll";
        Touch(dir + other);
        if (c.modulePresent) Touch(dir + own);
        std::wstring rc = ProbeOne(c.version, L"write", dir);
        if (!c.modulePresent) {
            EXPECT_EQ(ts::Narrow(rc), std::to_string(ERROR_FILE_NOT_FOUND));
            EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll"));
            ExpectNoProviderKeys();
            continue;
        }
        EXPECT_EQ(ts::Narrow(rc), "0");
        if (c.xpClass) {
            ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll", dir + L"\\Gatehook.dll");
            ExpectNoProviderKeys();
            // Winlogon's process, elsewhere, now finds the installation folder.
            EXPECT_EQ(ts::Narrow(ProbeOne(L"winxp", L"path \\Config.ini")), ts::Narrow(dir + L"\\Config.ini"));
        } else {
            ExpectProviderRegistered(dir);
            EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll"));
            // LogonUI's process (this one, elsewhere) now finds the installation folder.
            wchar_t out[260];
            EXPECT_EQ(ts::Narrow(ZarnRegByDllPath(out, L"\\Config.ini")), ts::Narrow(dir + L"\\Config.ini"));
        }
    }
}

// Winlogon cannot start with a "ginadll" that names a missing file.
TEST_F(SetupRegister, XpNeverPointsGinadllAtAMissingFile) {
    std::wstring foreign = NewDir(L"foreigngina"), ours = NewDir(L"ourgina");
    Touch(foreign + L"\\foogina.dll");
    Touch(ours + L"\\Gatehook.dll");
    struct Case {
        const char* what;
        std::wstring registered;
        const char* rc;
    } cases[] = {
        {"foreign GINA without Gatehook beside it", foreign + L"\\foogina.dll", "2"},
        {"our module, moved away", foreign + L"\\Gatehook.dll", "2"},
        {"our module in place", ours + L"\\Gatehook.dll", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetGina(c.registered);
        EXPECT_EQ(ts::Narrow(ProbeOne(L"winxp", L"write")), c.rc);
        ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll", c.registered);
        ExpectNoProviderKeys();
    }
}

// A failing step is reported, and the later steps are still made.
TEST_F(SetupRegister, FailingStepIsReportedAndLaterStepsStillRun) {
    std::wstring dir = NewDir(L"volatile");
    Touch(dir + L"\\Logontile.dll");
    // A volatile class key refuses the (non-volatile) InprocServer32 subkey.
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, kClassKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(ts::Narrow(ProbeOne(L"vista", L"write", dir)), std::to_string(ERROR_CHILD_MUST_BE_VOLATILE));
    ExpectText(HKEY_CLASSES_ROOT, kClassKey, L"", L"Logontile.dll");
    EXPECT_FALSE(ts::KeyExists(HKEY_CLASSES_ROOT, kInprocKey));
    ExpectText(HKEY_LOCAL_MACHINE, kFiltersKey, L"", L"Logontile.dll");
    ExpectText(HKEY_LOCAL_MACHINE, kProvidersKey, L"", L"Logontile.dll");
}

// ---------------------------------------------------------------------------------------------
using SetupUnregister = SetupTest;

TEST_F(SetupUnregister, XpRemovesOnlyGatehookAndSwitchesAutoLogonOff) {
    struct Case {
        const wchar_t* gina;  // nullptr = none registered
        bool removed;
    } cases[] = {
        {L"C:\\Tolven\\Gatehook.dll", true},   {L"C:\\Tolven\\GATEHOOK.DLL", true},
        {L"Gatehook.dll", true},               {L"C:\\Other\\msgina.dll", false},
        {L"C:\\Other\\NotGatehook.dll", false}, {L"C:\\Gatehook.dll\\other.dll", false},
        {nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gina ? ts::Narrow(c.gina) : "none");
        ClearRegistration();
        if (c.gina) SetGina(c.gina);
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", L"1"));
        RegisterProviderDirectly(L"C:\\Tile");
        EXPECT_EQ(ts::Narrow(ProbeOne(L"winxp", L"delete")), "0");
        if (!c.gina || c.removed)
            EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll"));
        else
            ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll", c.gina);
        ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", L"0");
        ExpectProviderRegistered(L"C:\\Tile");  // not this class's registration
    }
}

TEST_F(SetupUnregister, VistaAndLaterRemoveTheWholeRegistration) {
    const wchar_t* versions[] = {L"" /* this process, Windows 7 */, L"vista", L"win2008"};
    for (const wchar_t* version : versions) {
        SCOPED_TRACE(*version ? ts::Narrow(version) : "win7 in process");
        ClearRegistration();
        RegisterProviderDirectly(L"C:\\Tile");
        SetGina(L"C:\\Tolven\\Gatehook.dll");
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", L"1"));
        if (*version) {
            std::vector<std::wstring> a = Probe(version, L"delete delete");
            ASSERT_EQ(a.size(), 2u);
            EXPECT_EQ(ts::Narrow(a[0]), "0");
            EXPECT_EQ(ts::Narrow(a[1]), "0") << "nothing left to remove";
        } else {
            EXPECT_EQ(DeleteGianPathToReg(), 0);
            EXPECT_EQ(DeleteGianPathToReg(), 0) << "nothing left to remove";
        }
        ExpectNoProviderKeys();
        ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"ginadll", L"C:\\Tolven\\Gatehook.dll");
        ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", L"1");
    }
}

TEST_F(SetupUnregister, AfterUnregisteringTheProgramFolderIsUsedAgain) {
    std::wstring dir = NewDir(L"unreg");
    Touch(dir + L"\\Logontile.dll");
    SetInproc(dir + L"\\Logontile.dll");
    ASSERT_EQ(WriteGianPathToReg(), 0);
    ASSERT_EQ(DeleteGianPathToReg(), 0);
    wchar_t out[260];
    EXPECT_EQ(ts::Narrow(ZarnRegByDllPath(out, L"\\Config.ini")), ts::Narrow(ts::InExeDir(L"Config.ini")));
}

// ---------------------------------------------------------------------------------------------
using SetupAutoLogon = SetupTest;

// The password goes into Winlogon's LSA secret, never into its registry key, which every local user
// can read; a clear-text copy already there goes too. Wine's LSA keeps no private data: storing the
// secret fails here, and that failure is reported, not taken for success.
TEST_F(SetupAutoLogon, WritesTheValuesButNeverThePasswordInClearText) {
    struct Case {
        const char* what;
        const wchar_t *autoLogon, *user, *domain, *password;
        bool fails;     // a password that Wine's LSA cannot keep
        LONG rc;        // when not failing
        bool written;   // the three values are set
    } cases[] = {
        {"all four", L"1", L"alice", L"PC-1", L"s3cret", true, 0, true},
        {"Chinese text", L"1", L"张三", L"电脑", L"密码", true, 0, true},
        {"empty password", L"1", L"alice", L"PC-1", L"", false, 0, true},
        {"no password", L"1", L"alice", L"PC-1", nullptr, false, 0, true},
        {"switched off", L"0", L"", L"", L"", false, 0, true},
        {"no user name", L"1", nullptr, L"PC-1", L"s3cret", false, ERROR_INVALID_PARAMETER, false},
        {"no switch", nullptr, L"alice", L"PC-1", L"s3cret", false, ERROR_INVALID_PARAMETER, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", L"old"));
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName", L"old"));
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultDomainName", L"old"));
        ASSERT_TRUE(ts::SetString(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultPassword", L"old"));
        LONG rc = AutoLogonSystem(c.autoLogon, c.user, c.domain, c.password);
        if (c.fails)
            EXPECT_NE(rc, 0) << "a secret that was not kept reported as stored";
        else
            EXPECT_EQ(rc, c.rc);
        ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", c.written ? c.autoLogon : L"old");
        ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName", c.written ? c.user : L"old");
        ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultDomainName", c.written ? c.domain : L"old");
        if (c.written)
            EXPECT_FALSE(ts::ValueExists(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultPassword")) << "clear text left";
        else
            ExpectText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultPassword", L"old");
    }
}

// ---------------------------------------------------------------------------------------------
TEST(SetupGuid, FormatsUpperCaseRegistryTextInA260ByteLocalBlock) {
    struct Case {
        GUID guid;
        const wchar_t* text;
    } cases[] = {
        {CLSID_Logontile, L"{00ABCDEF-F666-4966-80C7-88BE82DFB12A}"},
        {{0x1, 0x2, 0x3, {0, 1, 2, 3, 4, 5, 6, 7}}, L"{00000001-0002-0003-0001-020304050607}"},
        {{0xFFFFFFFF, 0xABCD, 0xEF01, {0xFF, 0xFE, 0xAB, 0xCD, 0xEF, 0x0A, 0xB0, 0x0C}},
         L"{FFFFFFFF-ABCD-EF01-FFFE-ABCDEF0AB00C}"},
    };
    for (const Case& c : cases) {
        wchar_t* s = GuidToString(&c.guid);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(ts::Narrow(s), ts::Narrow(c.text));
        HLOCAL h = LocalHandle(s);
        ASSERT_NE(h, nullptr);
        ASSERT_GE(LocalSize(h), 260u);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(s);
        for (size_t i = (wcslen(s) + 1) * sizeof(wchar_t); i < 260; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
        EXPECT_EQ(LocalFree(s), nullptr);
    }
    EXPECT_EQ(GuidToString(nullptr), nullptr);
}

// ---------------------------------------------------------------------------------------------
using SetupService = SetupTest;

struct ServiceRun {
    std::wstring program, args, show;
};

// Waits for the stand-in service program's record in dir.
bool WaitForRecord(const std::wstring& dir, ServiceRun* run) {
    std::wstring file = dir + L"\\cmdline.txt";
    for (int i = 0; i < 300; ++i) {
        if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
            std::wstring text = ts::Widen(ts::ReadFileBytes(file));
            std::vector<std::wstring> lines;
            size_t pos = 0, end;
            while ((end = text.find(L'\n', pos)) != std::wstring::npos) {
                lines.push_back(text.substr(pos, end - pos));
                pos = end + 1;
            }
            if (lines.size() != 3) return false;
            *run = {lines[0], lines[1], lines[2]};
            DeleteFileW(file.c_str());
            return true;
        }
        Sleep(50);
    }
    return false;
}

TEST_F(SetupService, RunsSentryHiddenWithTheSwitch) {
    std::wstring dir = NewDir(L"服务 目录");
    ASSERT_TRUE(CopyFileW(ts::InExeDir(L"corelib_cmdline_recorder.exe").c_str(), (dir + L"\\Sentry.exe").c_str(),
                          FALSE));
    SetInproc(dir + L"\\Logontile.dll");
    struct Case {
        INT_PTR(__cdecl* call)(BOOL);
        BOOL arg;
        const char* commandSwitch;
    } cases[] = {
        {StartOrStopService, TRUE, "/start"},
        {StartOrStopService, FALSE, "/stop"},
        {InstallOrUninstallService, TRUE, "/Install"},
        {InstallOrUninstallService, FALSE, "/Uninstall"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandSwitch);
        EXPECT_GT(c.call(c.arg), 32);
        ServiceRun run;
        ASSERT_TRUE(WaitForRecord(dir, &run));
        EXPECT_EQ(ts::Narrow(Lower(run.program)), ts::Narrow(Lower(dir + L"\\Sentry.exe")));
        EXPECT_EQ(ts::Narrow(run.args), c.commandSwitch);
        EXPECT_EQ(ts::Narrow(run.show), std::to_string(SW_HIDE));
    }
}

// What Corelib asks of CreateProcessW: the shell must not run inside LogonUI, on the logon desktop,
// with its association and attachment checks; the program is named by its full path, quoted on the
// command line, and gets none of the caller's handles.
struct ProcessStart {
    int calls = 0;
    std::wstring application, commandLine;
    BOOL inherit = TRUE;
    DWORD flags = 0;
    DWORD startFlags = 0;
    WORD show = 0;
    HANDLE process = nullptr, thread = nullptr;
};
ProcessStart g_start;
int g_shellCalls = 0;
typedef BOOL(WINAPI* CreateProcessFn)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                      LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
CreateProcessFn g_realCreateProcess = nullptr;

BOOL WINAPI RecordCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES pa,
                                LPSECURITY_ATTRIBUTES ta, BOOL inherit, DWORD flags, LPVOID environment,
                                LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
    ++g_start.calls;
    g_start.application = application ? application : L"<none>";
    g_start.commandLine = commandLine ? commandLine : L"<none>";
    g_start.inherit = inherit;
    g_start.flags = flags;
    g_start.startFlags = startup ? startup->dwFlags : 0;
    g_start.show = startup ? startup->wShowWindow : 0;
    BOOL ok = g_realCreateProcess(application, commandLine, pa, ta, inherit, flags, environment, directory, startup,
                                  info);
    if (ok) {
        g_start.process = info->hProcess;
        g_start.thread = info->hThread;
    }
    return ok;
}
HINSTANCE WINAPI RecordShellExecute(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    ++g_shellCalls;
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_ACCESSDENIED));
}

TEST_F(SetupService, StartsSentryItselfWithTheQuotedFullPathAndNoShell) {
    std::wstring dir = NewDir(L"服务 目录");
    const std::wstring sentry = dir + L"\\Sentry.exe";
    ASSERT_TRUE(CopyFileW(ts::InExeDir(L"corelib_cmdline_recorder.exe").c_str(), sentry.c_str(), FALSE));
    SetInproc(dir + L"\\Logontile.dll");
    HMODULE corelib = GetModuleHandleW(L"Corelib.dll");
    ts::ImportPatch create(corelib, "kernel32.dll", "CreateProcessW", reinterpret_cast<void*>(&RecordCreateProcess));
    ASSERT_TRUE(create.ok()) << "Corelib does not start the program with CreateProcessW";
    g_realCreateProcess = reinterpret_cast<CreateProcessFn>(create.previous());
    ts::ImportPatch shell(corelib, "shell32.dll", "ShellExecuteW", reinterpret_cast<void*>(&RecordShellExecute));
    g_start = ProcessStart();
    g_shellCalls = 0;
    EXPECT_GT(StartOrStopService(TRUE), 32);
    EXPECT_EQ(g_shellCalls, 0) << "the shell was asked";
    ASSERT_EQ(g_start.calls, 1);
    EXPECT_EQ(ts::Narrow(g_start.application), ts::Narrow(sentry));
    EXPECT_EQ(ts::Narrow(g_start.commandLine), ts::Narrow(L"\"" + sentry + L"\" /start"));
    EXPECT_FALSE(g_start.inherit) << "the caller's handles went to the program";
    EXPECT_TRUE(g_start.startFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(g_start.show, SW_HIDE);
    DWORD info = 0;
    EXPECT_FALSE(GetHandleInformation(g_start.process, &info)) << "the process handle was kept";
    EXPECT_FALSE(GetHandleInformation(g_start.thread, &info)) << "the thread handle was kept";
    ServiceRun run;
    EXPECT_TRUE(WaitForRecord(dir, &run));
}

// Failures keep the shell's convention, which callers read as Win32 errors: at most 32.
TEST_F(SetupService, ReportsWhenSentryCannotBeRun) {
    std::wstring empty = NewDir(L"nosentry");
    std::wstring folderOnly = NewDir(L"sentryfolder");
    ASSERT_TRUE(CreateDirectoryW((folderOnly + L"\\Sentry.exe").c_str(), nullptr));
    std::wstring notAProgram = NewDir(L"notaprogram");
    ASSERT_TRUE(ts::WriteFileBytes(notAProgram + L"\\Sentry.exe", "not a program at all"));
    struct Case {
        const char* what;
        std::wstring registered;
        INT_PTR rc;  // 0: any failure
    } cases[] = {
        {"no Sentry.exe in the folder", empty + L"\\Logontile.dll", SE_ERR_FNF},
        {"folder too long for the path", FolderOfLength(250) + L"\\L.dll", SE_ERR_PNF},
        {"a folder named Sentry.exe", folderOnly + L"\\Logontile.dll", 0},
        {"no program in Sentry.exe", notAProgram + L"\\Logontile.dll", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetInproc(c.registered);
        for (INT_PTR rc : {StartOrStopService(TRUE), InstallOrUninstallService(FALSE)}) {
            EXPECT_LE(rc, 32);
            EXPECT_GT(rc, 0) << "0 reads as out of memory";
            if (c.rc) {
                EXPECT_EQ(rc, c.rc);
            }
        }
    }
}

}  // namespace
