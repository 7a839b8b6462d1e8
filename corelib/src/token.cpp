// The ePass token: the maker's library bound at run time, the process's one token context, and the
// UE_ exports. Winlogon and LogonUI load Corelib, so a missing or broken token library must never
// keep Corelib from loading: it only means that no token is present.
#include "keypresence_internal.h"

#include <string.h>
#include <wchar.h>

namespace corelib {
namespace {

typedef DWORD(WINAPI* CreateContextFn)(HANDLE* context, DWORD flags, DWORD version);
typedef DWORD(WINAPI* DeleteContextFn)(HANDLE context);
typedef DWORD(WINAPI* OpenDeviceFn)(HANDLE context, DWORD flag, void* reserved);
typedef DWORD(WINAPI* GetPropertyFn)(HANDLE context, DWORD property, void* reserved, void* buffer, DWORD size);

const wchar_t kLibraryName[] = L"FT_ND_API.dll";
const DWORD kContextVersion = 0x100;
const DWORD kOpenNext = 0;
const DWORD kOpenFirst = 1;
const DWORD kOpenCurrent = 2;
const DWORD kPropSerial = 7;
const DWORD kSerialSize = 8;
const DWORD kPropLabel = 11;
const DWORD kLabelSize = 32;
const int kNextTries = 5;
const size_t kNameChars = 32;  // UE_Get_EPASKEY_Name's output buffer
const wchar_t kBrandPrefix[] = L"ZARN";

// Our own statuses where the library gives none.
const DWORD kNoLibrary = ERROR_MOD_NOT_FOUND;
const DWORD kNoContext = ERROR_INVALID_HANDLE;

// The library, the context and every call into the library sit behind one lock: the credential
// tile's threads and LogonUI's thread call in at once, and an open by one thread must not move the
// token under another thread's serial read.
struct TokenState {
    CRITICAL_SECTION lock;
    HMODULE module = nullptr;
    bool unusable = false;  // a library was found but lacks a function: not retried
    CreateContextFn createContext = nullptr;
    DeleteContextFn deleteContext = nullptr;
    OpenDeviceFn openDevice = nullptr;
    GetPropertyFn getProperty = nullptr;
    HANDLE context = nullptr;
    DWORD lastCreateStatus = kNoLibrary;
    TokenState() { InitializeCriticalSection(&lock); }
};
// Constructed while Corelib loads, before any export can be called; trivially destroyed, so a host
// thread that still calls in while the process ends finds it intact.
TokenState g_token;
TokenState& State() { return g_token; }

class Guard {
public:
    Guard() { EnterCriticalSection(&State().lock); }
    ~Guard() { LeaveCriticalSection(&State().lock); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

// Full path of the library in Corelib's own folder (where = 0) or the system folder (where = 1).
bool LibraryPath(int where, wchar_t* out, size_t cch) {
    wchar_t folder[MAX_PATH + 1] = {};
    if (where == 0) {
        DWORD n = GetModuleFileNameW(ModuleHandle(), folder, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return false;  // cut paths are not terminated on XP
        folder[n] = 0;
        wchar_t* slash = wcsrchr(folder, L'\\');
        if (!slash) return false;
        *slash = 0;
    } else {
        UINT n = GetSystemDirectoryW(folder, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return false;
    }
    size_t len = wcslen(folder);
    size_t nameLen = wcslen(kLibraryName);
    if (len + 1 + nameLen + 1 > cch) return false;
    wmemcpy(out, folder, len);
    out[len] = L'\\';
    wmemcpy(out + len + 1, kLibraryName, nameLen + 1);
    return true;
}

// Caller holds the lock. Loads the library by full path, never through the search path: SYSTEM
// processes load Corelib, and the current folder or PATH must not choose their token library.
bool BindLibrary() {
    TokenState& s = State();
    if (s.module) return true;
    if (s.unusable) return false;
    bool incomplete = false;
    for (int where = 0; where < 2; ++where) {
        wchar_t path[MAX_PATH + 32];
        if (!LibraryPath(where, path, sizeof(path) / sizeof(path[0]))) continue;
        HMODULE m = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!m) continue;
        CreateContextFn create = reinterpret_cast<CreateContextFn>(GetProcAddress(m, "epas_CreateContext"));
        DeleteContextFn del = reinterpret_cast<DeleteContextFn>(GetProcAddress(m, "epas_DeleteContext"));
        OpenDeviceFn open = reinterpret_cast<OpenDeviceFn>(GetProcAddress(m, "epas_OpenDevice"));
        GetPropertyFn get = reinterpret_cast<GetPropertyFn>(GetProcAddress(m, "epas_GetProperty"));
        if (create && del && open && get) {
            s.module = m;
            s.createContext = create;
            s.deleteContext = del;
            s.openDevice = open;
            s.getProperty = get;
            return true;
        }
        DEBUG_MSG("FT_ND_API.dll lacks an epas_ function: %ls", path);
        FreeLibrary(m);
        incomplete = true;
    }
    // A missing library is looked for again next time (cheap); a broken one is not reloaded every
    // second for the life of LogonUI.
    if (incomplete) s.unusable = true;
    return false;
}

// Caller holds the lock. The process's context, created when there is none; nullptr when that fails.
HANDLE EnsureContext() {
    TokenState& s = State();
    if (s.context) return s.context;
    if (!BindLibrary()) {
        s.lastCreateStatus = kNoLibrary;
        return nullptr;
    }
    HANDLE context = nullptr;
    DWORD status = s.createContext(&context, 0, kContextVersion);
    if (status == 0 && context) {
        s.context = context;
    } else {
        s.lastCreateStatus = status ? status : kNoContext;
        DEBUG_MSG("epas_CreateContext=%lu", status);
    }
    return s.context;
}

// Caller holds the lock and has a context. Reads the open token's folded serial: the sum of its two
// little-endian 32-bit halves, modulo 2^32. Returns the library's status; *serial is set only on 0.
DWORD ReadFoldedSerial(HANDLE context, DWORD* serial) {
    BYTE raw[kSerialSize] = {};
    DWORD status = State().getProperty(context, kPropSerial, nullptr, raw, kSerialSize);
    if (status != 0) return status;
    DWORD low, high;
    memcpy(&low, raw, 4);
    memcpy(&high, raw + 4, 4);
    *serial = low + high;
    return 0;
}

// Caller holds the lock. Opens a token and tells whether it is the enrolled one. A failed open or a
// failed serial read is no match: an error code is never compared as if it were a serial.
bool OpenAndMatch(HANDLE context, DWORD flag, DWORD enrolled) {
    if (State().openDevice(context, flag, nullptr) != 0) return false;
    DWORD serial = 0;
    return ReadFoldedSerial(context, &serial) == 0 && serial == enrolled;
}

}  // namespace
}  // namespace corelib

using namespace corelib;

extern "C" {

void CORELIB_CALL UE_Epas_CreateContext(HANDLE* context) {
    Guard g;
    HANDLE c = EnsureContext();
    if (context) *context = c;
}

void CORELIB_CALL UE_Epas_DeleteContext(void) {
    Guard g;
    TokenState& s = State();
    if (!s.context) return;
    s.deleteContext(s.context);
    s.context = nullptr;
}

DWORD CORELIB_CALL UE_Open_CURRENT(void) {
    Guard g;
    HANDLE c = EnsureContext();
    if (!c) return State().lastCreateStatus;
    return State().openDevice(c, kOpenCurrent, nullptr);
}

DWORD CORELIB_CALL UE_Get_TokenHardwareSerial(void) {
    Guard g;
    TokenState& s = State();
    if (!s.context) return s.module ? kNoContext : kNoLibrary;
    DWORD serial = 0;
    DWORD status = ReadFoldedSerial(s.context, &serial);
    return status != 0 ? status : serial;
}

BOOL CORELIB_CALL UE_CheckEpasByDriveID(const uinfo* record) {
    if (!record) return FALSE;
    DWORD enrolled;
    memcpy(&enrolled, reinterpret_cast<const BYTE*>(record) + offsetof(uinfo, ulTokenSerial), sizeof(enrolled));
    if (enrolled == 0) return FALSE;  // nothing enrolled: no token is "the key"

    Guard g;
    HANDLE c = EnsureContext();
    if (!c) c = EnsureContext();
    if (!c) return FALSE;
    if (OpenAndMatch(c, kOpenCurrent, enrolled)) return TRUE;
    if (OpenAndMatch(c, kOpenFirst, enrolled)) return TRUE;
    // A failed open is skipped but still counts as one of the tries.
    for (int i = 0; i < kNextTries; ++i)
        if (OpenAndMatch(c, kOpenNext, enrolled)) return TRUE;
    return FALSE;
}

BOOL CORELIB_CALL UE_Get_EPASKEY_Name(wchar_t out[32]) {
    if (!out) return FALSE;
    wmemset(out, 0, kNameChars);
    // One byte more than the property, zeroed: a label that fills all 32 bytes is still terminated.
    char label[kLabelSize + 1] = {};
    {
        Guard g;
        TokenState& s = State();
        if (!s.context) return FALSE;
        if (s.getProperty(s.context, kPropLabel, nullptr, label, kLabelSize) != 0) return FALSE;
    }
    label[kLabelSize] = 0;
    wchar_t wide[kLabelSize + 1] = {};
    if (MultiByteToWideChar(CP_ACP, 0, label, -1, wide, kLabelSize + 1) <= 0) return FALSE;
    size_t n = wcsnlen(wide, kLabelSize + 1);
    if (n > kNameChars - 1) n = kNameChars - 1;  // always leave room for the NUL
    wmemcpy(out, wide, n);
    out[n] = 0;
    return wcsncmp(out, kBrandPrefix, wcslen(kBrandPrefix)) == 0;
}

}  // extern "C"
