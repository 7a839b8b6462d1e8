#include "updateworker.h"

namespace refresher {

CUpdateWorker::~CUpdateWorker() {
    if (!thread_) return;
    // The engine's own time limits bound this wait; an installing run is let finish.
    if (Running()) engine_->RequestCancel();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
}

DWORD WINAPI CUpdateWorker::ThreadProc(void* param) {
    CUpdateWorker* self = static_cast<CUpdateWorker*>(param);
    self->engine_->SetTargetWindow(self->window_);
    InterlockedExchange(&self->result_, self->engine_->RunUpdate());
    return 0;
}

BOOL CUpdateWorker::Running() const {
    return thread_ && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT ? TRUE : FALSE;
}

BOOL CUpdateWorker::Wait(DWORD waitMs) const {
    return !thread_ || WaitForSingleObject(thread_, waitMs) == WAIT_OBJECT_0 ? TRUE : FALSE;
}

BOOL CUpdateWorker::Start(HWND window, DWORD waitMs) {
    if (Running() && (!engine_->CancelRequested() || !Wait(waitMs))) return FALSE;
    if (thread_) {
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    engine_->ClearCancel();
    window_ = window;
    InterlockedExchange(&result_, FALSE);
    thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    return thread_ ? TRUE : FALSE;
}

BOOL CUpdateWorker::Cancel() {
    if (!Running()) return TRUE;
    return engine_->RequestCancel();
}

BOOL CUpdateWorker::StopForClose(DWORD waitMs) {
    if (!Running()) return TRUE;
    if (!engine_->RequestCancel()) return FALSE;
    return Wait(waitMs);
}

}  // namespace refresher
