// The key: whether one is enrolled, the token-present test, the choice of device mode, enrolment of
// a USB disk or a token, clearing of enrolled disks, and the change of device mode.
#pragma once
#include <windows.h>

#include <string>

#include "corelib.h"
#include "paneltext.h"

namespace warden {

constexpr int kDiskSlots = 5;

// Follows the device mode: a non-empty disk slot in mode 0, a non-zero token serial otherwise. A
// change of mode keeps the other mode's ids, which do not open this mode's logon.
bool IsKeyEnrolled(const uinfo& record, int deviceMode);

// 1 when a token with an accepted label is present: the first token, then up to five next ones.
int WaitTokenPresent();
// The first token's label when it is accepted (name cleared first); false otherwise.
bool PresentTokenName(wchar_t name[32]);

// The first-start choices. ChooseTokenMode stores mode 1 and gives true when a token is present;
// otherwise it stores nothing and the dialog shows kNoTokenForModeText.
bool ChooseTokenMode();
void ChooseUsbDiskMode();
extern const wchar_t kNoTokenForModeText[];

// "%d/%d": enrolled USB-disk slots of five (counted in both modes).
std::wstring KeyCountText(const uinfo& record);

// What a press of "make key" leads to before anything is stored.
enum class EnrolDecision {
    kRefuse,   // show text (MB_ICONERROR); nothing changes
    kAsk,      // token mode, another token than the enrolled one: ask text; on IDYES ConfirmEnrolment
    kEnrol,    // go on with CompleteEnrolment
};
struct EnrolPlan {
    EnrolDecision decision = EnrolDecision::kRefuse;
    std::wstring text;  // refusal or question
    uinfo record = {};  // the record to store (kAsk: once confirmed)
};

// USB-disk mode: the combo's selected entry. The record is the process's copy, read afresh.
EnrolPlan PlanDiskEnrolment(const uinfo& record, const wchar_t* selected);
// Token mode: the combo's selected entry (empty when no token was listed at start).
EnrolPlan PlanTokenEnrolment(const uinfo& record, const wchar_t* selected);

// The enrolment's writes: user and computer name into the plan's record, the record, the logon
// module, the device mode, QJ_EnableTolven 1, and on Vista and later the service. On success the
// process's record becomes the stored one and successText is the per-OS text; on failure the
// process's record is read back from the store (what the page shows is what is stored).
Outcome CompleteEnrolment(const EnrolPlan& plan, int deviceMode, uinfo* processRecord, std::wstring* successText);

// Clearing every enrolled disk but the one inserted now. text is the box's text either way;
// failure.ok false when a write failed (its text then replaces text).
struct ClearResult {
    bool cleared = false;
    std::wstring text;
    Outcome failure;
};
ClearResult ClearKeys(uinfo* processRecord);

// The change of device mode after the first-start dialog returned newMode (-1 closed). Nothing
// happens for -1 or the current mode. Otherwise the mode, the logon module's removal, the four
// switches 0 and on Vista and later the service stop; restart says whether the program must start
// again (the mode was stored).
struct ModeChange {
    bool changed = false;
    bool restart = false;
    Outcome outcome;
    std::wstring text;  // success text, or the failure's
};
ModeChange ApplyDeviceModeChange(int oldMode, int newMode);

// Starts Warden.exe of the installation folder again (application name and a quoted command line,
// so a blank in the path runs no other program) and ends this process with 0, also when the start
// failed. An empty path starts nothing.
void RestartPanel();

}  // namespace warden
