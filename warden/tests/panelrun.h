// Whole-program runs of the control panel's test build (WardenTest.exe: the real start-up and core,
// with the calls a Wine prefix cannot survive logged into "seams.log" beside it and the boxes answered
// from "answers.txt" beside it).
//
//   RunFolder folder(L"PanelXp.exe");          // a copy under %TEMP%, with its neighbours
//   Program warden(folder.Exe(), L"regrun");    // started in that folder
//   HWND panel = warden.WaitWindow(IsPanel);
//   ... folder.SeamLog() ...
//   PostMessageW(panel, WM_COMMAND, 40010, 0); EXPECT_EQ(warden.Wait(), 0u);
//
// Program can also start the copy in the bin folder (ts::InExeDir(L"WardenTest.exe")). A Program still
// running at the end of its scope is a failure of the case: it is ended and reported.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace panelrun {

// A throwaway folder under %TEMP% holding the test build under exeName with what it loads and starts:
// Corelib.dll, Logontile.dll, Gatehook.dll, the FT_ND_API.dll and Cursorgate.dll stand-ins, and the
// command-line recorder as Refresher.exe and Sentry.exe (each writes "cmdline.txt" when started).
// folderName is the last part of the folder's name (a blank in it is kept). Removed at the end.
class RunFolder {
public:
    explicit RunFolder(const std::wstring& exeName = L"WardenTest.exe", const std::wstring& folderName = L"run");
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    // False when a file could not be copied (what() says which).
    bool ok() const { return error_.empty(); }
    const std::string& what() const { return error_; }
    const std::wstring& Dir() const { return dir_; }
    std::wstring Exe() const { return dir_ + L"\\" + exeName_; }
    const std::wstring& ExeName() const { return exeName_; }
    std::wstring Path(const std::wstring& name) const { return dir_ + L"\\" + name; }

    // The seamed calls of every run from this folder so far, one line each, oldest first.
    std::vector<std::string> SeamLog() const;
    void ClearSeamLog() const;
    // The answers to the next boxes, read once by the next start (none left: IDOK).
    bool WriteAnswers(const std::vector<int>& answers) const;
    // What the last started recorder wrote (program path, arguments, show command), "" when none ran.
    std::string RecorderLines() const;

private:
    std::wstring exeName_;
    std::wstring dir_;
    std::string error_;
};

// One run of a program with arguments, its current folder the program's own.
class Program {
public:
    // With suspended, the program's first thread waits for Resume (a watch on its pid set before it runs).
    Program(const std::wstring& exe, const std::wstring& arguments, bool suspended = false);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return started_; }
    DWORD Pid() const { return pi_.dwProcessId; }
    void Resume() const;
    // The exit code, or STILL_ACTIVE when it has not ended in time.
    DWORD Wait(DWORD ms = 20000);
    bool Running() const;
    // The first top-level window of this process that passes accept, waiting for it while the
    // process runs; NULL when none came in time or the process ended.
    HWND WaitWindow(const std::function<bool(HWND)>& accept, DWORD ms = 20000) const;

private:
    PROCESS_INFORMATION pi_ = {};
    bool started_ = false;
};

// Top-level windows of one process that pass accept (every one when pid is 0), in z-order.
std::vector<HWND> Windows(DWORD pid, const std::function<bool(HWND)>& accept);

std::wstring Title(HWND window);
// The panel as the program marks it: the window property named after the title, value 1.
bool IsPanel(HWND window);
// A visible skinned dialog whose title is the one given.
bool IsVisibleTitled(HWND window, const wchar_t* title);
// The login: visible, untitled, with a skin view (child 1000).
bool IsLogin(HWND window);
// Clicks the close button of a skinned dialog's header (43 pixels wide at the right edge).
void ClickClose(HWND dialog);

// Stores a record with a disk key enrolled (so logon management may be switched on) and the device
// mode given; the login passes by itself (AutoLogonSoft reads 1 when missing). A failed write fails
// the case.
void StoreRecord(DWORD mode);

// Lines that start with prefix.
std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& prefix);

}  // namespace panelrun
