#include "panelrun.h"

#include <gtest/gtest.h>

#include <wchar.h>

#include "corelib.h"
#include "runningpanel.h"
#include "testsupport.h"
#include "uikit.h"

namespace panelrun {

namespace {

// What the folder gets from the bin folder, and under which name ("" = the same).
const struct {
    const wchar_t* from;
    const wchar_t* to;
} kNeighbours[] = {
    {L"Corelib.dll", L""},
    {L"Logontile.dll", L""},
    {L"Gatehook.dll", L""},
    {L"FT_ND_API.dll", L""},
    {L"Cursorgate.dll", L""},
    {L"corelib_cmdline_recorder.exe", L"Refresher.exe"},
    {L"corelib_cmdline_recorder.exe", L"Sentry.exe"},
};

struct Search {
    DWORD pid;
    const std::function<bool(HWND)>* accept;
    std::vector<HWND> found;
};
// A lambda cannot be a WINAPI callback on i686 (stdcall).
BOOL CALLBACK Visit(HWND w, LPARAM p) {
    Search* s = reinterpret_cast<Search*>(p);
    if (s->pid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != s->pid) return TRUE;
    }
    if ((*s->accept)(w)) s->found.push_back(w);
    return TRUE;
}

}  // namespace

// ---- RunFolder ----------------------------------------------------------------------------------

RunFolder::RunFolder(const std::wstring& exeName, const std::wstring& folderName) : exeName_(exeName) {
    const std::wstring parent = ts::MakeTempDir(L"panel");
    if (parent.empty()) {
        error_ = "no temporary folder";
        return;
    }
    dir_ = parent + L"\\" + folderName;
    if (!CreateDirectoryW(dir_.c_str(), nullptr)) {
        error_ = "cannot create " + ts::Narrow(dir_);
        return;
    }
    if (!CopyFileW(ts::InExeDir(L"WardenTest.exe").c_str(), Exe().c_str(), FALSE)) {
        error_ = "cannot copy WardenTest.exe as " + ts::Narrow(exeName_);
        return;
    }
    for (const auto& n : kNeighbours) {
        const std::wstring to = n.to[0] ? n.to : n.from;
        if (!CopyFileW(ts::InExeDir(n.from).c_str(), Path(to).c_str(), FALSE)) {
            error_ = "cannot copy " + ts::Narrow(n.from);
            return;
        }
    }
}

RunFolder::~RunFolder() {
    if (dir_.empty()) return;
    const std::wstring parent = dir_.substr(0, dir_.find_last_of(L'\\'));
    ts::RemoveTree(parent);
}

std::vector<std::string> RunFolder::SeamLog() const { return ts::SplitLines(ts::ReadFileBytes(Path(L"seams.log"))); }

void RunFolder::ClearSeamLog() const { DeleteFileW(Path(L"seams.log").c_str()); }

bool RunFolder::WriteAnswers(const std::vector<int>& answers) const {
    std::string text;
    for (int a : answers) text += std::to_string(a) + "\n";
    return ts::WriteFileBytes(Path(L"answers.txt"), text);
}

std::string RunFolder::RecorderLines() const { return ts::ReadFileBytes(Path(L"cmdline.txt")); }

// ---- Program ------------------------------------------------------------------------------------

Program::Program(const std::wstring& exe, const std::wstring& arguments, bool suspended) {
    std::wstring line = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW si = {sizeof(si)};
    started_ =
        CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, suspended ? CREATE_SUSPENDED : 0, nullptr,
                       folder.c_str(), &si, &pi_) != FALSE;
}

void Program::Resume() const {
    if (started_) ResumeThread(pi_.hThread);
}

Program::~Program() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
        ADD_FAILURE() << "the program still runs at the end of the case: ended";
        TerminateProcess(pi_.hProcess, 99);
        WaitForSingleObject(pi_.hProcess, 10000);
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
}

DWORD Program::Wait(DWORD ms) {
    if (!started_ || WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

bool Program::Running() const { return started_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

HWND Program::WaitWindow(const std::function<bool(HWND)>& accept, DWORD ms) const {
    if (!started_) return nullptr;
    HWND result = nullptr;
    ts::PumpUntil(
        [&] {
            std::vector<HWND> found = Windows(pi_.dwProcessId, accept);
            result = found.empty() ? nullptr : found.front();
            return result != nullptr || !Running();
        },
        ms);
    return result;
}

// ---- windows ------------------------------------------------------------------------------------

std::vector<HWND> Windows(DWORD pid, const std::function<bool(HWND)>& accept) {
    Search search = {pid, &accept, {}};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring Title(HWND w) {
    wchar_t t[128] = {};
    GetWindowTextW(w, t, 128);
    return t;
}

bool IsPanel(HWND w) { return GetPropW(w, TOLVEN_PANEL_TITLE) == reinterpret_cast<HANDLE>(1); }

bool IsVisibleTitled(HWND w, const wchar_t* title) { return IsWindowVisible(w) && Title(w) == title; }

bool IsLogin(HWND w) { return IsWindowVisible(w) && Title(w).empty() && GetDlgItem(w, 1000); }

void ClickClose(HWND dialog) {
    HWND view = GetDlgItem(dialog, 1000);
    RECT r;
    GetClientRect(view, &r);
    ts::ClickAt(view, POINT{r.right - 20, 12});
}

std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}

void StoreRecord(DWORD mode) {
    uinfo r = {};
    wcscpy(r.lpUserName, L"alice");
    r.ulTokenSerial = 0x1234;
    wcscpy(r.lpDriverUID[0], L"usb-1");
    ASSERT_TRUE(SetUserInfo(&r));
    ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", mode), ERROR_SUCCESS);
}

}  // namespace panelrun
