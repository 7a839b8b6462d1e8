#include "updateworker.h"

#include <new>

namespace refresher {

CUpdateWorker::CUpdateWorker(CUpdateEngine* engine) : engine_(engine) {
    InitializeCriticalSection(&lock_);
    // Not from 1: a ticket is no small number a forger would try first.
    nextTicket_ = static_cast<WPARAM>(GetTickCount()) * 2654435761u | 1;
}

CUpdateWorker::~CUpdateWorker() {
    if (thread_) {
        // The engine's own time limits bound this wait; an installing run is let finish.
        if (Running()) engine_->RequestCancel();
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    DeleteCriticalSection(&lock_);
}

DWORD WINAPI CUpdateWorker::ThreadProc(void* param) {
    CUpdateWorker* self = static_cast<CUpdateWorker*>(param);
    self->engine_->SetReports(self);
    InterlockedExchange(&self->result_, self->engine_->RunUpdate());
    self->engine_->SetReports(nullptr);
    return 0;
}

void CUpdateWorker::Report(UINT message, const wchar_t* text, LPARAM value) {
    if (!window_) return;
    WPARAM ticket = 0;
    try {
        Pending p{0, UpdateReport()};
        p.report.message = message;
        if (text) p.report.text = text;
        p.report.value = value;
        EnterCriticalSection(&lock_);
        ticket = nextTicket_++;
        if (!nextTicket_) nextTicket_ = 1;  // 0 is never a ticket
        p.ticket = ticket;
        try {
            pending_.push_back(std::move(p));
        } catch (...) {
            LeaveCriticalSection(&lock_);
            throw;
        }
        LeaveCriticalSection(&lock_);
    } catch (const std::bad_alloc&) {
        return;  // a report lost to low memory; the run goes on
    }
    // A window gone (or a full queue) takes no report: nothing is kept for it.
    if (!PostMessageW(window_, message, ticket, 0)) Drop(ticket);
}

void CUpdateWorker::Drop(WPARAM ticket) {
    EnterCriticalSection(&lock_);
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->ticket == ticket) {
            pending_.erase(it);
            break;
        }
    }
    LeaveCriticalSection(&lock_);
}

BOOL CUpdateWorker::Take(UINT message, WPARAM ticket, UpdateReport* report) {
    BOOL found = FALSE;
    EnterCriticalSection(&lock_);
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->ticket == ticket && it->report.message == message) {
            report->message = message;
            report->text.swap(it->report.text);
            report->value = it->report.value;
            pending_.erase(it);
            found = TRUE;
            break;
        }
    }
    LeaveCriticalSection(&lock_);
    return found;
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
    // Reports of an earlier run still unread are of no use to the new one.
    EnterCriticalSection(&lock_);
    pending_.clear();
    LeaveCriticalSection(&lock_);
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
    Wait(waitMs);
    return TRUE;
}

}  // namespace refresher
