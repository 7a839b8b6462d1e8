// road_bench: times the main road under Wine over repeated runs, in both key modes:
//   removal notice sent -> Porter started (the service's side; no delay is wanted there), beside
//   Porter started directly (what Wine's process start alone costs);
//   key inserted at the unlock tile -> ReportResult returned (the tile polls every 1000 ms: the key
//   comes back at a different point of the poll period in each run), beside the tile's report of
//   the key -> ReportResult (the logon's own work);
//   Warden.exe started -> its first window painted (shown, nothing left to paint): the login, which
//   stays up once the automatic login is switched off.
// Usage: road_bench [--runs N]   (default 10). Prints min / median / max per figure; exit 1 when a
// step of the road failed.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "corelib.h"
#include "roadkit.h"
#include "testsupport.h"

namespace {

// Silent unless a step fails.
class FailureReporter : public road::Reporter {
public:
    void Section(const std::string& title) override { section_ = title; }
    void Step(bool ok, const std::string& what, const std::string& seen) override {
        if (ok) return;
        printf("FAILED %s: %s: %s\n", section_.c_str(), what.c_str(), seen.c_str());
        fflush(stdout);
        failed = true;
    }
    bool failed = false;

private:
    std::string section_;
};

struct Figure {
    std::string name;
    std::vector<double> ms;
};

void PrintFigure(const Figure& f) {
    std::vector<double> v = f.ms;
    if (v.empty()) {
        printf("  %-52s no samples\n", f.name.c_str());
        return;
    }
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    printf("  %-52s %8.1f %8.1f %8.1f   (%u runs)\n", f.name.c_str(), v.front(), median, v.back(),
           static_cast<unsigned>(n));
}

// Porter.exe (the recording build) started straight from here, until its record appears.
bool DirectStarts(const std::wstring& dir, int runs, Figure* figure) {
    for (int i = 0; i < runs; ++i) {
        size_t before = road::PorterRuns(dir).size();
        std::wstring cmd = L"\"" + dir + L"\\Porter.exe\" /LockWorkStation";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        double t0 = road::NowMs();
        if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, dir.c_str(), &si,
                            &pi))
            return false;
        double seen = -1;
        road::WaitFor(
            [&] {
                if (road::PorterRuns(dir).size() <= before) return false;
                seen = road::NowMs();
                return true;
            },
            10000, 1);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (seen < 0) return false;
        figure->ms.push_back(seen - t0);
    }
    return true;
}

// One key mode: enrol once, then pull and unlock `runs` times. False when a step failed.
struct ModeFigures {
    Figure removal, unlock, found;
};

bool Measure(road::Key::Mode mode, int runs, ModeFigures* figures) {
    std::string name = mode == road::Key::Mode::Token ? "token" : "USB disk";
    Figure& removal = figures->removal;
    Figure& unlock = figures->unlock;
    Figure& found = figures->found;
    removal.name = name + ": removal notice -> Porter started";
    unlock.name = name + ": key inserted -> ReportResult";
    found.name = name + ":   tile reports the key -> ReportResult";
    road::CleanMachine();
    bool ok = false;
    {
        road::InstallFolder install;
        std::string error;
        if (!install.Fill(ts::ExeDir(), road::Service::Real, &error)) {
            printf("FAILED install: %s\n", error.c_str());
        } else {
            road::Key key(mode);
            FailureReporter reporter;
            road::Road r(install.dir(), key, reporter);
            ok = r.Enrol() && r.ServiceRuns();
            for (int i = 0; ok && i < runs; ++i) {
                // Spread over one poll period, past the host's own checks after selecting the tile.
                DWORD insertAfter = 400 + static_cast<DWORD>(i * 1000 / runs);
                ok = r.PullKeyLocks() && r.UnlockAtTile(road::kKeyRemovedText, false, insertAfter) && !reporter.failed;
                if (!ok) break;
                const road::Times& t = r.times();
                // A figure the round could not measure stays -1 and is left out.
                if (t.removalToPorterMs >= 0) removal.ms.push_back(t.removalToPorterMs);
                if (t.keyToReportResultMs >= 0) unlock.ms.push_back(t.keyToReportResultMs);
                if (t.keyFoundToReportResultMs >= 0) found.ms.push_back(t.keyFoundToReportResultMs);
                printf("  %s run %d: removal -> Porter %.1f ms; key -> ReportResult %.1f ms (reported -> ReportResult %.1f ms)\n",
                       key.name(), i + 1, t.removalToPorterMs, t.keyToReportResultMs, t.keyFoundToReportResultMs);
                fflush(stdout);
            }
            if (!ok && !r.hostLog().empty()) printf("LogonUI host log:\n%s", r.hostLog().c_str());
        }
        road::CleanMachine();  // before the folder goes: the service program must have ended
    }
    return ok;
}

// The baseline of the removal side: Porter started by a plain CreateProcess, no service involved.
bool MeasureDirect(int runs, Figure* figure) {
    road::InstallFolder install;
    std::string error;
    if (!install.Fill(ts::ExeDir(), road::Service::Real, &error)) {
        printf("FAILED install: %s\n", error.c_str());
        return false;
    }
    if (DirectStarts(install.dir(), runs, figure)) return true;
    printf("FAILED Porter.exe started directly did not record its start\n");
    return false;
}

struct PaintSearch {
    DWORD pid;
    HWND found;
};
BOOL CALLBACK FindShownWindow(HWND w, LPARAM p) {
    PaintSearch* s = reinterpret_cast<PaintSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid || !IsWindowVisible(w)) return TRUE;
    s->found = w;
    return FALSE;
}

// The shipping Warden.exe with the road's Corelib and token library beside it: from CreateProcess
// until a window of it is shown and its update region is empty, i.e. its first WM_PAINT has been
// handled. Each run's process is ended before the next starts. The automatic login is switched off:
// on, the login ends unpainted, and on the bare X server of the test bed Wine then takes about 2 s
// to hide it before the next window comes, which would measure Wine rather than the program.
bool MeasurePanelStart(int runs, Figure* figure) {
    road::CleanMachine();
    if (SetMonitorKeyStyle(L"AutoLogonSoft", 0) != ERROR_SUCCESS) {
        printf("FAILED the automatic login could not be switched off\n");
        return false;
    }
    road::InstallFolder install;
    std::string error;
    if (!install.Fill(ts::ExeDir(), road::Service::Real, &error)) {
        printf("FAILED install: %s\n", error.c_str());
        return false;
    }
    for (const wchar_t* name : {L"Warden.exe", L"Cursorgate.dll"}) {
        if (!CopyFileW(ts::InExeDir(name).c_str(), install.Path(name).c_str(), FALSE)) {
            printf("FAILED install: %ls not copied (error %lu)\n", name, GetLastError());
            return false;
        }
    }
    bool ok = true;
    for (int i = 0; ok && i < runs; ++i) {
        std::wstring cmd = L"\"" + install.Path(L"Warden.exe") + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        const double t0 = road::NowMs();
        if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, install.dir().c_str(), &si, &pi)) {
            printf("FAILED Warden.exe not started (error %lu)\n", GetLastError());
            return false;
        }
        double painted = -1;
        road::WaitFor(
            [&] {
                PaintSearch search = {pi.dwProcessId, nullptr};
                EnumWindows(FindShownWindow, reinterpret_cast<LPARAM>(&search));
                if (!search.found || GetUpdateRect(search.found, nullptr, FALSE)) return false;
                painted = road::NowMs();
                return true;
            },
            20000, 1);
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (painted < 0) {
            printf("FAILED Warden.exe showed no painted window within 20 s\n");
            ok = false;
            break;
        }
        figure->ms.push_back(painted - t0);
        printf("  Warden.exe run %d: start -> first paint %.1f ms\n", i + 1, painted - t0);
        fflush(stdout);
    }
    road::CleanMachine();
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int runs = 10;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--runs") == 0 && i + 1 < argc) {
            runs = _wtoi(argv[++i]);
        } else {
            printf("usage: road_bench [--runs N]\n");
            return 2;
        }
    }
    if (runs < 1) runs = 1;
    printf("Main road under Wine, %d runs per key mode (times in ms)\n", runs);
    fflush(stdout);

    ModeFigures usb, token;
    bool ok = Measure(road::Key::Mode::UsbDisk, runs, &usb);
    ok = Measure(road::Key::Mode::Token, runs, &token) && ok;
    Figure direct{"Porter.exe started directly (Wine's process start)", {}};
    ok = MeasureDirect(runs, &direct) && ok;
    Figure panel{"Warden.exe started -> first window painted", {}};
    ok = MeasurePanelStart(runs, &panel) && ok;
    printf("\n  %-52s %8s %8s %8s\n", "", "min", "median", "max");
    for (const Figure* f : {&usb.removal, &token.removal, &direct, &usb.unlock, &token.unlock, &usb.found, &token.found, &panel})
        PrintFigure(*f);
    printf("%s\n", ok ? "Benchmark complete." : "Benchmark INCOMPLETE: a step of the road failed (see above).");
    return ok ? 0 : 1;
}
