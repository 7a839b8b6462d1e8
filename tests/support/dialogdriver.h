// The dialog driver: plays the user on a thread of its own while the test's thread sits in a modal
// dialog (a GINA call, ShowDialog). It finds the dialogs, presses keys, types, clicks, sends device
// notices and reads what the dialogs show. A dialog it finds is first waited for until it is the
// foreground window, where synthetic input lands. When something it waits for never comes it fails
// the test and runs the abort it was given, which ends the dialogs, so that the modal call returns
// instead of hanging.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ts {

// Which visible dialogs ("#32770") of this process count: with this title and/or holding this
// control; all of them when neither is given.
struct DialogMatch {
    const wchar_t* title = nullptr;
    int control = 0;
};
std::vector<HWND> FindDialogs(const DialogMatch& match);

class DialogDriver {
public:
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;
    virtual ~DialogDriver();  // waits for the script
    void Join();

    // Set by the test's thread once the modal call has returned: a wait for a dialog then gives up
    // without failing (the call returned without showing it).
    std::atomic<bool> returned{false};

    // The first matching dialog, once it is up and (bounded) in the foreground; null when it did not
    // come, which fails the test ("<what> did not appear") unless the modal call has returned.
    HWND WaitDialog(const DialogMatch& match, const std::string& what, DWORD ms = 5000);
    int CountDialogs(const DialogMatch& match) { return static_cast<int>(FindDialogs(match).size()); }
    // True once the dialog is the foreground window; false when it never got there or went away.
    bool WaitForeground(HWND dlg, DWORD ms = 3000);
    // True once the window is gone or hidden.
    bool WaitGone(HWND window, DWORD ms = 5000);
    // True when the window is still up after ms: the one check that has to let time pass.
    bool StaysUp(HWND window, DWORD ms = 500);

    void Press(WORD vk);                                    // down and up, through the input queue
    void Type(HWND dlg, int id, const std::wstring& text);  // character by character, as typed
    void Click(HWND dlg, int id);                           // a real mouse click on the control's centre
    void Command(HWND dlg, int id);                         // what Enter, Esc or a button would send
    // WM_DEVICECHANGE with a broadcast of type 2 (volume), 5 (device interface, a USB disk) or
    // another type (a bare port broadcast); false when the dialog did not take it.
    bool Notice(HWND dlg, WPARAM event, DWORD deviceType);
    std::wstring Text(HWND dlg, int id);
    // The control's text once it reads `expected`, or whatever it reads after ms.
    std::wstring TextBecomes(HWND dlg, int id, const std::wstring& expected, DWORD ms = 3000);
    bool Enabled(HWND dlg, int id);
    // The keyboard focus of the dialog's thread.
    HWND FocusOf(HWND dlg);
    // The screen pixel at fractions fx, fy of a control's client area.
    COLORREF Pixel(HWND dlg, int id, double fx, double fy);

    // Records a failure and runs the abort.
    void Fail(const std::string& what);
    bool failed() const { return failed_; }

protected:
    // abort: ends every dialog the modal call may be showing.
    explicit DialogDriver(std::function<void()> abort);
    // Starts the script's thread; called by the derived driver once it is whole.
    void Start(std::function<void()> body);

private:
    std::function<void()> abort_;
    std::thread thread_;
    std::atomic<bool> failed_{false};
};

}  // namespace ts
