// The updater window's worker: one RunUpdate at a time on a thread of its own, stopped
// cooperatively through the engine (never killed: a killed thread can leave the heap or WinINet
// locks held, and the next run or the exit then hangs).
#pragma once

#include <windows.h>

#include "updateengine.h"

namespace refresher {

class CUpdateWorker {
public:
    // The engine must outlive the worker (both live on wWinMain's stack, the engine first).
    explicit CUpdateWorker(CUpdateEngine* engine) : engine_(engine) {}
    // Stops a run still going and waits for it: the engine is freed right after.
    ~CUpdateWorker();
    CUpdateWorker(const CUpdateWorker&) = delete;
    CUpdateWorker& operator=(const CUpdateWorker&) = delete;

    // Starts a whole new run reporting to window. A cancelled run still winding down (its read ends
    // at the receive timeout) is waited for up to waitMs. FALSE when a run is still going or the
    // thread cannot be made.
    BOOL Start(HWND window, DWORD waitMs = 0);
    BOOL Running() const;
    // The cancel button: TRUE when the run stops without installing (or none runs); FALSE once
    // installing has begun, which then finishes.
    BOOL Cancel();
    // Closing the window: cancels and waits up to waitMs for the worker to end. FALSE, and the
    // window must stay, while installing or when the worker has not ended in time.
    BOOL StopForClose(DWORD waitMs);
    // Waits up to waitMs for the current run; TRUE when none is left.
    BOOL Wait(DWORD waitMs) const;
    // The last run's result (meaningful once it has ended).
    BOOL LastResult() const { return result_; }

private:
    static DWORD WINAPI ThreadProc(void* self);
    CUpdateEngine* engine_;
    HWND window_ = nullptr;
    HANDLE thread_ = nullptr;  // the last run's thread, closed when the next starts and at the end
    volatile LONG result_ = FALSE;
};

}  // namespace refresher
