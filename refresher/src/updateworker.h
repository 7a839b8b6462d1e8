// The updater window's worker: one RunUpdate at a time on a thread of its own, stopped
// cooperatively through the engine (never killed: a killed thread can leave the heap or WinINet
// locks held, and the next run or the exit then hangs).
//
// The run's reports stay with the worker: each WM_UPDATE_* posted to the window carries only a
// ticket, and the window takes the report for it. Any program on the desktop can post those
// messages; a ticket the worker did not hand out matches nothing, so a forged message can neither
// make the window read or free memory nor fake the end of a run.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "updateengine.h"

namespace refresher {

struct UpdateReport {
    UINT message = 0;   // WM_UPDATE_PROGRESS, WM_UPDATE_STATUS or WM_UPDATE_FINISHED
    std::wstring text;  // the status, or the progress attribute
    LPARAM value = 0;   // the progress number, or the result of the run (1 success)
};

class CUpdateWorker : private IUpdateReports {
public:
    // The engine must outlive the worker (both live on wWinMain's stack, the engine first).
    explicit CUpdateWorker(CUpdateEngine* engine);
    // Stops a run still going and waits for it: the engine is freed right after.
    ~CUpdateWorker();
    CUpdateWorker(const CUpdateWorker&) = delete;
    CUpdateWorker& operator=(const CUpdateWorker&) = delete;

    // Starts a whole new run reporting to window. A cancelled run still winding down is waited for
    // up to waitMs. FALSE when a run is still going or the thread cannot be made.
    BOOL Start(HWND window, DWORD waitMs = 0);
    BOOL Running() const;
    // The cancel button: TRUE when the run stops without installing (or none runs); FALSE once
    // installing has begun, which then finishes.
    BOOL Cancel();
    // Closing the window: cancels and waits up to waitMs for the worker to end. FALSE, and the
    // window must stay, only while installing; a cancelled run that has not ended in time is
    // waited for by the destructor.
    BOOL StopForClose(DWORD waitMs);
    // Waits up to waitMs for the current run; TRUE when none is left.
    BOOL Wait(DWORD waitMs) const;
    // The last run's result (meaningful once it has ended).
    BOOL LastResult() const { return result_; }

    // The window, for a WM_UPDATE_* message: moves the report its wParam names into *report.
    // FALSE, and nothing is read, for a ticket this worker did not hand out for that message or
    // that was already taken.
    BOOL Take(UINT message, WPARAM ticket, UpdateReport* report);
    // The same report, left in place.
    BOOL Peek(UINT message, WPARAM ticket, UpdateReport* report) const;

private:
    struct Pending {
        WPARAM ticket;
        UpdateReport report;
    };
    static DWORD WINAPI ThreadProc(void* self);
    void Report(UINT message, const wchar_t* text, LPARAM value) override;
    // Under the lock: the pending report for the message and ticket, or end().
    std::deque<Pending>::iterator Find(UINT message, WPARAM ticket);

    CUpdateEngine* engine_;
    HWND window_ = nullptr;
    HANDLE thread_ = nullptr;  // the last run's thread, closed when the next starts and at the end
    volatile LONG result_ = FALSE;
    mutable CRITICAL_SECTION lock_;  // guards pending_ and lastTicket_
    std::deque<Pending> pending_;
    WPARAM lastTicket_ = 0;  // tickets count up from 1 across runs and are never 0
};

}  // namespace refresher
