// LogonUiHost: plays the Vista/7 logon UI against a credential-provider module, following a
// script of verbs given on the command line, and writes one log line per call (UTF-8, stdout).
// Exit code: 0 script done, 2 bad usage or module not loadable, 3 protocol violations seen.
#include <windows.h>

#include <stdlib.h>
#include <string>
#include <vector>

#include "corelib.h"
#include "logonui_host.h"

namespace {

using namespace logonui;

const char kUsage[] =
    "usage: LogonUiHost [options] verb...\n"
    "options:\n"
    "  --dll PATH                 module to load (default Logontile.dll beside this program)\n"
    "  --clsid {GUID}             class to ask for (default the product's)\n"
    "  --echo none|immediate|deferred   echo the tile's edit-field texts back (default none)\n"
    "  --account [DOMAIN\\]USER=PASSWORD[:STATUS[:SUBSTATUS]]   an account of the fake LSA (hex statuses)\n"
    "  --package ID               the authentication package the serialization must name\n"
    "  --no-submit                do not submit when the tile asks for automatic logon\n"
    "  --log FILE                 write the log to FILE instead of stdout\n"
    "verbs:\n"
    "  filter SCENARIO LIST       LIST: comma-separated own | password | {GUID}\n"
    "  provider SCENARIO          SCENARIO: logon | unlock | change-password | credui | NUMBER\n"
    "  enumerate | fields | select | deselect | submit | close | alert-event | f8 | f8-heard MS\n"
    "  type FIELD TEXT | link FIELD | wait-change MS | idle MS\n"
    "  key-in SERIAL | key-out SERIAL | lock-record TYPE\n"
    "  wait-key absent|present N MS  wait for N more key checks of the tile with that result\n"
    "  threads                    log the count of threads started in the module\n"
    "  abandon                    close, then give the module back even if it refuses to unload\n"
    "  wait-unload MS             wait until the module has left the process\n"
    "  switches                   log QJ_LockThread and QJ_HotKey as stored (-1 missing)\n";

// The Windows password provider, a foreign CLSID for filter lists.
constexpr GUID kPasswordProvider = {0x60b78e88, 0xead8, 0x445c, {0x9c, 0xfd, 0x0b, 0x87, 0xf7, 0x4e, 0xa6, 0xcd}};

void WriteOut(HANDLE out, const std::string& text) {
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool ParseScenario(const std::wstring& s, CREDENTIAL_PROVIDER_USAGE_SCENARIO* out) {
    static const struct {
        const wchar_t* name;
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
    } names[] = {{L"logon", CPUS_LOGON},
                 {L"unlock", CPUS_UNLOCK_WORKSTATION},
                 {L"change-password", CPUS_CHANGE_PASSWORD},
                 {L"credui", CPUS_CREDUI}};
    for (const auto& n : names) {
        if (s == n.name) {
            *out = n.cpus;
            return true;
        }
    }
    wchar_t* end = nullptr;
    long v = wcstol(s.c_str(), &end, 0);
    if (s.empty() || *end) return false;
    *out = static_cast<CREDENTIAL_PROVIDER_USAGE_SCENARIO>(v);
    return true;
}

bool ParseNumber(const std::wstring& s, unsigned long* out) {
    wchar_t* end = nullptr;
    unsigned long v = wcstoul(s.c_str(), &end, 0);
    if (s.empty() || *end) return false;
    *out = v;
    return true;
}

bool ParseList(const std::wstring& s, const CLSID& own, std::vector<GUID>* out) {
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(L',', start);
        std::wstring item = s.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        GUID g;
        if (item == L"own")
            g = own;
        else if (item == L"password")
            g = kPasswordProvider;
        else if (!ParseGuid(item, &g))
            return false;
        out->push_back(g);
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    return true;
}

bool ParseAccount(const std::wstring& s, Account* out) {
    size_t eq = s.find(L'=');
    if (eq == std::wstring::npos || eq == 0) return false;
    std::wstring name = s.substr(0, eq);
    std::wstring rest = s.substr(eq + 1);
    size_t slash = name.find(L'\\');
    if (slash != std::wstring::npos) {
        out->domain = name.substr(0, slash);
        name = name.substr(slash + 1);
    }
    out->user = name;
    size_t colon = rest.find(L':');
    out->password = rest.substr(0, colon);
    if (colon != std::wstring::npos) {
        std::wstring statuses = rest.substr(colon + 1);
        size_t second = statuses.find(L':');
        out->status = static_cast<NTSTATUS>(wcstoul(statuses.substr(0, second).c_str(), nullptr, 16));
        if (second != std::wstring::npos)
            out->substatus = static_cast<NTSTATUS>(wcstoul(statuses.substr(second + 1).c_str(), nullptr, 16));
    }
    return true;
}

std::wstring BesideProgram(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    size_t slash = dir.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1)) + name;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HANDLE stdoutHandle = GetStdHandle(STD_OUTPUT_HANDLE);
    Options options;
    options.output = stdoutHandle;
    std::wstring dll = BesideProgram(L"Logontile.dll");
    CLSID clsid = CLSID_Logontile;
    HANDLE logFile = nullptr;

    int i = 1;
    auto usage = [&](const std::string& why) {
        WriteOut(stdoutHandle, "ERROR " + why + "\n" + kUsage);
        return 2;
    };
    for (; i < argc && wcsncmp(argv[i], L"--", 2) == 0; ++i) {
        std::wstring opt = argv[i];
        if (opt == L"--no-submit") {
            options.autoSubmit = false;
            continue;
        }
        if (i + 1 >= argc) return usage("option without a value");
        std::wstring value = argv[++i];
        if (opt == L"--dll") {
            dll = value;
        } else if (opt == L"--clsid") {
            if (!ParseGuid(value, &clsid)) return usage("bad --clsid");
        } else if (opt == L"--echo") {
            if (value == L"none")
                options.echo = Echo::None;
            else if (value == L"immediate")
                options.echo = Echo::Immediate;
            else if (value == L"deferred")
                options.echo = Echo::Deferred;
            else
                return usage("bad --echo");
        } else if (opt == L"--account") {
            Account a;
            if (!ParseAccount(value, &a)) return usage("bad --account");
            options.accounts.push_back(a);
        } else if (opt == L"--package") {
            unsigned long id;
            if (!ParseNumber(value, &id)) return usage("bad --package");
            options.checkPackage = true;
            options.package = id;
        } else if (opt == L"--log") {
            logFile = CreateFileW(value.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (logFile == INVALID_HANDLE_VALUE) return usage("cannot create the log file");
            options.output = logFile;
        } else {
            return usage("unknown option");
        }
    }

    int exitCode = 0;
    {
        Host host(options);
        if (FAILED(host.Load(dll, clsid))) {
            exitCode = 2;
        } else {
            bool closed = false;
            for (; i < argc; ++i) {
                std::wstring verb = argv[i];
                auto operand = [&](std::wstring* out) {
                    if (i + 1 >= argc) return false;
                    *out = argv[++i];
                    return true;
                };
                std::wstring a, b;
                unsigned long n = 0;
                CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
                host.Log("VERB %s", Quote(verb).c_str());
                if (verb == L"filter") {
                    std::vector<GUID> providers;
                    if (!operand(&a) || !ParseScenario(a, &cpus) || !operand(&b) || !ParseList(b, clsid, &providers)) {
                        exitCode = usage("filter SCENARIO LIST");
                        break;
                    }
                    host.RunFilter(cpus, providers, nullptr);
                } else if (verb == L"provider") {
                    if (!operand(&a) || !ParseScenario(a, &cpus)) {
                        exitCode = usage("provider SCENARIO");
                        break;
                    }
                    host.OpenProvider(cpus);
                } else if (verb == L"enumerate") {
                    host.Enumerate();
                } else if (verb == L"fields") {
                    for (const Field& f : host.fields())
                        host.Log("FIELD %lu type=%s label=%s state=%s interactive=%s text=%s adjacent=%ld",
                                 static_cast<unsigned long>(f.id), FieldTypeName(f.type), Quote(f.label).c_str(),
                                 FieldStateName(f.state), InteractiveStateName(f.interactive),
                                 f.hasText ? Quote(f.text).c_str() : "NULL", static_cast<long>(f.adjacentTo));
                } else if (verb == L"select") {
                    host.Select();
                } else if (verb == L"deselect") {
                    host.Deselect();
                } else if (verb == L"submit") {
                    host.Submit();
                } else if (verb == L"type") {
                    if (!operand(&a) || !ParseNumber(a, &n) || !operand(&b)) {
                        exitCode = usage("type FIELD TEXT");
                        break;
                    }
                    host.Type(n, b);
                } else if (verb == L"link") {
                    if (!operand(&a) || !ParseNumber(a, &n)) {
                        exitCode = usage("link FIELD");
                        break;
                    }
                    host.ClickLink(n);
                } else if (verb == L"f8") {
                    host.Log("INPUT F8 sent=%d", PressF8());
                } else if (verb == L"f8-heard") {
                    // A tile's F8 thread registers the hot key as it starts, and a press before that
                    // goes nowhere: pressed until one is heard, each press waiting for its change.
                    if (!operand(&a) || !ParseNumber(a, &n)) {
                        exitCode = usage("f8-heard MS");
                        break;
                    }
                    const DWORD start = GetTickCount();
                    bool heard = false;
                    while (!heard && GetTickCount() - start < n) {
                        host.Log("INPUT F8 sent=%d", PressF8());
                        heard = host.WaitForChange(500);
                    }
                    host.Log("WAIT changed=%d", heard);
                } else if (verb == L"key-in" || verb == L"key-out") {
                    if (!operand(&a)) {
                        exitCode = usage("key-in/key-out SERIAL");
                        break;
                    }
                    bool plugged = verb == L"key-in";
                    host.Log("KEY %s %s ok=%d", plugged ? "in" : "out", Quote(a).c_str(), SetSimulatedDisk(a, plugged));
                } else if (verb == L"lock-record") {
                    if (!operand(&a) || !ParseNumber(a, &n)) {
                        exitCode = usage("lock-record TYPE");
                        break;
                    }
                    host.Log("LOCKRECORD type=%lu result=%lu", n,
                             static_cast<unsigned long>(WriteLockRecord(static_cast<LONG>(n))));
                } else if (verb == L"wait-change") {
                    if (!operand(&a) || !ParseNumber(a, &n)) {
                        exitCode = usage("wait-change MS");
                        break;
                    }
                    host.Log("WAIT changed=%d", host.WaitForChange(n));
                } else if (verb == L"idle") {
                    if (!operand(&a) || !ParseNumber(a, &n)) {
                        exitCode = usage("idle MS");
                        break;
                    }
                    host.Idle(n);
                } else if (verb == L"wait-key") {
                    unsigned long ms = 0;
                    std::wstring c;
                    if (!operand(&a) || (a != L"absent" && a != L"present") || !operand(&b) || !ParseNumber(b, &n) ||
                        !operand(&c) || !ParseNumber(c, &ms)) {
                        exitCode = usage("wait-key absent|present N MS");
                        break;
                    }
                    host.WaitKeyChecks(a == L"present", n, ms);
                } else if (verb == L"threads") {
                    host.Log("THREADS %d", CountThreads(host.module()));
                } else if (verb == L"switches") {
                    host.Log("SWITCHES QJ_LockThread=%ld QJ_HotKey=%ld", ReadSwitch(L"QJ_LockThread"),
                             ReadSwitch(L"QJ_HotKey"));
                } else if (verb == L"alert-event") {
                    host.WatchAlertEvent();
                } else if (verb == L"abandon") {
                    host.Abandon();
                    closed = true;
                } else if (verb == L"wait-unload") {
                    if (!operand(&a) || !ParseNumber(a, &n)) {
                        exitCode = usage("wait-unload MS");
                        break;
                    }
                    host.WaitUnloaded(n);
                } else if (verb == L"close") {
                    host.Close();
                    closed = true;
                } else {
                    exitCode = usage("unknown verb");
                    break;
                }
                // LogonUI's loop runs between user actions.
                host.Pump();
            }
            if (!closed) host.Close();
        }
        host.Log("VIOLATIONS %d", host.violations());
        if (exitCode == 0 && host.violations() > 0) exitCode = 3;
    }
    if (logFile) CloseHandle(logFile);
    return exitCode;
}
