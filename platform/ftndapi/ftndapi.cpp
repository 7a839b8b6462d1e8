// Stand-in for the ePass token library: tokens, failures and the call log live in the registry
// (ftndapi_control.h), the cursor lives in each context. Test and demo part only.
#include "ftndapi.h"
#include "ftndapi_control.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

const DWORD kContextMagic = 0x534E5446;  // "FTNS"
const DWORD kMaxLogChars = 32768;        // the log stops growing here
const int kMaxContexts = 256;

struct Context {
    DWORD magic;
    LONG busy;             // a call is using the context
    int cursor;            // 0-based position of the current token, -1 before the first open
    BYTE cursorSerial[8];  // which token the cursor stands on, to notice it being pulled
    bool opened;           // the token at the cursor is open
};

struct Token {
    BYTE serial[EPAS_HARDWARE_SERIAL_SIZE];
    BYTE label[EPAS_LABEL_SIZE];
    DWORD openError;
    DWORD readError;
};

// Live contexts of this process; a handle not listed here is refused, never dereferenced.
CRITICAL_SECTION g_lock;
Context* g_contexts[kMaxContexts];

// ---- registry state, read anew on every call ----

HKEY OpenState(REGSAM access) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, FTNDSIM_KEY, 0, access, &k) != ERROR_SUCCESS) return nullptr;
    return k;
}

DWORD ReadDword(HKEY k, const wchar_t* name) {
    DWORD v = 0, size = sizeof(v), type = 0;
    if (!k || RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(v))
        return 0;
    return v;
}

// Injected failure for a call ("OpenDevice") and, when given, for one argument of it ("OpenDevice.2").
DWORD InjectedFailure(const wchar_t* call, int argument = -1) {
    HKEY k = OpenState(KEY_QUERY_VALUE);
    if (!k) return 0;
    wchar_t name[64];
    _snwprintf(name, 63, L"%ls%ls", FTNDSIM_FAIL_PREFIX, call);
    name[63] = 0;
    DWORD status = ReadDword(k, name);
    if (!status && argument >= 0) {
        _snwprintf(name, 63, L"%ls%ls.%d", FTNDSIM_FAIL_PREFIX, call, argument);
        name[63] = 0;
        status = ReadDword(k, name);
    }
    RegCloseKey(k);
    return status;
}

bool ReadToken(HKEY state, int position, Token* t) {
    wchar_t sub[64];
    _snwprintf(sub, 63, L"%ls\\%d", FTNDSIM_INSERTED, position);
    sub[63] = 0;
    HKEY k = nullptr;
    if (RegOpenKeyExW(state, sub, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
    memset(t, 0, sizeof(*t));
    DWORD size = sizeof(t->serial);
    RegQueryValueExW(k, FTNDSIM_SERIAL, nullptr, nullptr, t->serial, &size);
    size = sizeof(t->label);
    if (RegQueryValueExW(k, FTNDSIM_LABEL, nullptr, nullptr, t->label, &size) != ERROR_SUCCESS)
        memset(t->label, 0, sizeof(t->label));
    t->openError = ReadDword(k, FTNDSIM_OPEN_ERROR);
    t->readError = ReadDword(k, FTNDSIM_READ_ERROR);
    RegCloseKey(k);
    return true;
}

// Number of inserted tokens; fills tokens[0..count).
int ReadTokens(Token* tokens) {
    HKEY k = OpenState(KEY_READ);
    if (!k) return 0;
    int n = 0;
    while (n < FTNDSIM_MAX_TOKENS && ReadToken(k, n, &tokens[n])) ++n;
    RegCloseKey(k);
    return n;
}

void Log(const wchar_t* entry) {
    HKEY k = OpenState(KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (!k) return;
    if (ReadDword(k, FTNDSIM_LOG_CALLS)) {
        static wchar_t text[kMaxLogChars + 64];
        EnterCriticalSection(&g_lock);
        DWORD size = kMaxLogChars * sizeof(wchar_t), type = 0;
        if (RegQueryValueExW(k, FTNDSIM_CALL_LOG, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            size = 0;
        size_t len = wcsnlen(text, size / sizeof(wchar_t));
        size_t add = wcslen(entry);
        if (len + add + 1 < kMaxLogChars) {
            if (len) text[len++] = L' ';
            wmemcpy(text + len, entry, add + 1);
            RegSetValueExW(k, FTNDSIM_CALL_LOG, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           static_cast<DWORD>((len + add + 1) * sizeof(wchar_t)));
        }
        LeaveCriticalSection(&g_lock);
    }
    RegCloseKey(k);
}

void LogCall(const wchar_t* what, DWORD status) {
    wchar_t entry[32];
    _snwprintf(entry, 31, L"%ls%ls", what, status ? L"!" : L"");
    entry[31] = 0;
    Log(entry);
}

void CountMisuse() {
    HKEY k = OpenState(KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (!k) return;
    EnterCriticalSection(&g_lock);
    DWORD n = ReadDword(k, FTNDSIM_MISUSE) + 1;
    RegSetValueExW(k, FTNDSIM_MISUSE, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof(n));
    LeaveCriticalSection(&g_lock);
    RegCloseKey(k);
}

DWORD Misuse(DWORD status) {
    CountMisuse();
    return status;
}

// ---- contexts ----

// Claims a live context for one call; nullptr (and *status set) when the handle is not live or
// another call holds it.
Context* Claim(HANDLE handle, DWORD* status) {
    Context* found = nullptr;
    bool busy = false;
    EnterCriticalSection(&g_lock);
    for (Context* c : g_contexts) {
        if (c && c == handle && c->magic == kContextMagic) {
            found = c;
            break;
        }
    }
    if (found && InterlockedCompareExchange(&found->busy, 1, 0) != 0) {
        busy = true;
        found = nullptr;
    }
    LeaveCriticalSection(&g_lock);
    if (found) return found;
    if (busy) {
        Log(L"BUSY");
        *status = Misuse(FTNDSIM_E_BUSY);
    } else {
        *status = Misuse(FTNDSIM_E_INVALID_CONTEXT);
    }
    return nullptr;
}

void Release(Context* c) { InterlockedExchange(&c->busy, 0); }

// Position of the context's current token in the inserted list, or -1 when it was pulled.
int CurrentPosition(const Context* c, const Token* tokens, int count) {
    if (c->cursor < 0 || c->cursor >= count) return -1;
    if (memcmp(tokens[c->cursor].serial, c->cursorSerial, sizeof(c->cursorSerial)) != 0) return -1;
    return c->cursor;
}

DWORD Open(Context* c, DWORD flag) {
    Token tokens[FTNDSIM_MAX_TOKENS];
    const int count = ReadTokens(tokens);
    c->opened = false;
    int target;
    switch (flag) {
        case EPAS_OPEN_FIRST: target = 0; break;
        case EPAS_OPEN_NEXT: target = c->cursor + 1; break;
        default: target = CurrentPosition(c, tokens, count); break;  // EPAS_OPEN_CURRENT
    }
    if (target < 0 || target >= count) return FTNDSIM_E_NO_DEVICE;
    c->cursor = target;
    memcpy(c->cursorSerial, tokens[target].serial, sizeof(c->cursorSerial));
    if (tokens[target].openError) return tokens[target].openError;
    c->opened = true;
    return 0;
}

DWORD Read(Context* c, DWORD property, BYTE* buffer) {
    Token tokens[FTNDSIM_MAX_TOKENS];
    const int count = ReadTokens(tokens);
    if (!c->opened || CurrentPosition(c, tokens, count) < 0) return FTNDSIM_E_NOT_OPENED;
    const Token& t = tokens[c->cursor];
    if (t.readError) return t.readError;
    if (property == EPAS_PROP_HARDWARE_SERIAL) {
        memcpy(buffer, t.serial, EPAS_HARDWARE_SERIAL_SIZE);
    } else {
        memcpy(buffer, t.label, EPAS_LABEL_SIZE);
    }
    return 0;
}

}  // namespace

extern "C" {

DWORD WINAPI epas_CreateContext(HANDLE* context, DWORD flags, DWORD version) {
    if (!context || flags != 0 || version != EPAS_CONTEXT_VERSION) {
        LogCall(L"C", 1);
        return Misuse(FTNDSIM_E_INVALID_PARAMETER);
    }
    *context = nullptr;
    DWORD status = InjectedFailure(L"CreateContext");
    if (!status) {
        Context* c = static_cast<Context*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Context)));
        status = ERROR_NOT_ENOUGH_MEMORY;
        if (c) {
            c->magic = kContextMagic;
            c->cursor = -1;
            EnterCriticalSection(&g_lock);
            for (Context*& slot : g_contexts) {
                if (!slot) {
                    slot = c;
                    status = 0;
                    break;
                }
            }
            LeaveCriticalSection(&g_lock);
            if (status)
                HeapFree(GetProcessHeap(), 0, c);
            else
                *context = c;
        }
    }
    LogCall(L"C", status);
    return status;
}

DWORD WINAPI epas_DeleteContext(HANDLE context) {
    DWORD status = 0;
    Context* c = Claim(context, &status);
    if (!c) {
        LogCall(L"D", status);
        return status;
    }
    status = InjectedFailure(L"DeleteContext");
    if (status) {
        Release(c);
    } else {
        EnterCriticalSection(&g_lock);
        for (Context*& slot : g_contexts)
            if (slot == c) slot = nullptr;
        LeaveCriticalSection(&g_lock);
        c->magic = 0;
        HeapFree(GetProcessHeap(), 0, c);
    }
    LogCall(L"D", status);
    return status;
}

DWORD WINAPI epas_OpenDevice(HANDLE context, DWORD flag, void* reserved) {
    wchar_t what[32];
    _snwprintf(what, 31, L"O%lu", flag);
    what[31] = 0;
    DWORD status = 0;
    Context* c = Claim(context, &status);
    if (!c) {
        LogCall(what, status);
        return status;
    }
    if (reserved || flag > EPAS_OPEN_CURRENT) {
        status = Misuse(FTNDSIM_E_INVALID_PARAMETER);
    } else if ((status = InjectedFailure(L"OpenDevice", static_cast<int>(flag))) != 0) {
        c->opened = false;
    } else {
        status = Open(c, flag);
    }
    if (!status) {
        wchar_t opened[32];
        _snwprintf(opened, 31, L"%ls@%d", what, c->cursor + 1);
        opened[31] = 0;
        Log(opened);
    } else {
        LogCall(what, status);
    }
    Release(c);
    return status;
}

DWORD WINAPI epas_GetProperty(HANDLE context, DWORD property, void* reserved, void* buffer, DWORD size) {
    wchar_t what[32];
    _snwprintf(what, 31, L"P%lu", property);
    what[31] = 0;
    DWORD status = 0;
    Context* c = Claim(context, &status);
    if (!c) {
        LogCall(what, status);
        return status;
    }
    DWORD need = property == EPAS_PROP_HARDWARE_SERIAL ? EPAS_HARDWARE_SERIAL_SIZE
                 : property == EPAS_PROP_LABEL        ? EPAS_LABEL_SIZE
                                                      : 0;
    if (reserved || !buffer || !need) {
        status = Misuse(FTNDSIM_E_INVALID_PARAMETER);
    } else if (size < need) {
        status = Misuse(FTNDSIM_E_BUFFER_TOO_SMALL);
    } else if ((status = InjectedFailure(L"GetProperty", static_cast<int>(property))) == 0) {
        status = Read(c, property, static_cast<BYTE*>(buffer));
    }
    LogCall(what, status);
    Release(c);
    return status;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
