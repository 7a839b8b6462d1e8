#include "driver.h"

#include "host.h"
#include "services.h"
#include "testsupport.h"

namespace host {

namespace {

const ts::DialogMatch kBootNotice = {nullptr, 1019};

ts::DialogMatch Titled(const wchar_t* title) { return ts::DialogMatch{title, 0}; }

void AbortAll() {
    // The emergency login is the GINA's own modal loop: cancel it first, then end the host's dialogs.
    for (HWND w : ts::FindDialogs(Titled(HOST_EMERGENCY_TITLE))) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    ts::WaitFor([] { return ts::FindDialogs(Titled(HOST_EMERGENCY_TITLE)).empty(); }, 1000);
    for (HWND w : ts::FindDialogs(ts::DialogMatch{})) PostMessageW(w, kMsgAbort, 0, 0);
}

}  // namespace

bool WaitFor(const std::function<bool()>& pred, DWORD ms) { return ts::WaitFor(pred, ms, 20); }

Driver::Driver(std::function<void(Driver&)> script) : DialogDriver(AbortAll) {
    Start([this, script]() { script(*this); });
}

HWND Driver::WaitBootNotice(DWORD ms) { return WaitDialog(kBootNotice, "the boot key notice", ms); }

HWND Driver::WaitTitled(const wchar_t* title, DWORD ms) {
    return WaitDialog(Titled(title), "a dialog titled " + ts::Narrow(title), ms);
}

HWND Driver::OpenEmergency(HWND* notice) {
    *notice = WaitBootNotice();
    if (!*notice) return nullptr;
    PressF8();
    return WaitTitled(HOST_EMERGENCY_TITLE);
}

void Driver::TryPassword(HWND emergency, const std::wstring& text) {
    SetDlgItemTextW(emergency, 1041, L"");
    Type(emergency, 1041, text);
    Click(emergency, IDOK);
}

int Driver::CountBootNotices() { return CountDialogs(kBootNotice); }
int Driver::CountTitled(const wchar_t* title) { return CountDialogs(Titled(title)); }

}  // namespace host
