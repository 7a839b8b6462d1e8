#include "updateworker.h"

#include <new>

namespace refresher {

namespace {

class Locked {
public:
    explicit Locked(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
    ~Locked() { LeaveCriticalSection(cs_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRITICAL_SECTION* cs_;
};

}  // namespace

CUpdateWorker::CUpdateWorker(CUpdateEngine* engine) : engine_(engine) {
    InitializeCriticalSection(&lock_);
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

std::deque<CUpdateWorker::Pending>::iterator CUpdateWorker::Find(UINT message, WPARAM ticket) {
    auto it = pending_.begin();
    while (it != pending_.end() && (it->ticket != ticket || it->report.message != message)) ++it;
    return it;
}

void CUpdateWorker::Report(UINT message, const wchar_t* text, LPARAM value) {
    if (!window_) return;
    WPARAM ticket = 0;
    try {
        Pending p;
        p.report.message = message;
        if (text) p.report.text = text;
        p.report.value = value;
        Locked lock(&lock_);
        if (++lastTicket_ == 0) ++lastTicket_;
        p.ticket = ticket = lastTicket_;
        pending_.push_back(std::move(p));
    } catch (const std::bad_alloc&) {
        return;  // a report lost to low memory; the run goes on
    }
    // A window gone (or a full queue) takes no report: nothing is kept for it.
    if (!PostMessageW(window_, message, ticket, 0)) {
        Locked lock(&lock_);
        auto it = Find(message, ticket);
        if (it != pending_.end()) pending_.erase(it);
    }
}

BOOL CUpdateWorker::Take(UINT message, WPARAM ticket, UpdateReport* report) {
    Locked lock(&lock_);
    auto it = Find(message, ticket);
    if (it == pending_.end()) return FALSE;
    report->message = message;
    report->text.swap(it->report.text);
    report->value = it->report.value;
    pending_.erase(it);
    return TRUE;
}

BOOL CUpdateWorker::Peek(UINT message, WPARAM ticket, UpdateReport* report) const {
    Locked lock(&lock_);
    for (const Pending& p : pending_) {
        if (p.ticket != ticket || p.report.message != message) continue;
        try {
            *report = p.report;
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
        return TRUE;
    }
    return FALSE;
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
    {
        // Reports of an earlier run still unread are of no use to the new one.
        Locked lock(&lock_);
        pending_.clear();
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
    Wait(waitMs);
    return TRUE;
}

}  // namespace refresher
