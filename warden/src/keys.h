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

// The first-start choice of mode (1 token, 0 USB disk): 0 when it may be taken. The token needs a
// token present, else ERROR_DEVICE_NOT_CONNECTED and the dialog shows kNoTokenForModeText. With store
// the mode is written to QJ_AppDriveMode and a refused write is the result; without it (a change of
// mode, whose sequence writes the mode last) nothing is written.
DWORD ChooseDeviceMode(int mode, bool store);
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
// happens for -1 or the current mode. Otherwise, in this order: the logon module's removal, the four
// protection switches 0, on Vista and later the service stop, and only then the new mode. A failed
// step undoes what came before it (the switches back to what they read, the module registered and
// the service started again when logon management was on), the mode stays the old one and there is
// no restart; outcome names the failed step (kStrModeUnregisterFailed...), text says what the PC is
// left with. restart: the mode was stored and the program must start again as the new mode's.
struct ModeChange {
    bool changed = false;
    bool restart = false;
    Outcome outcome;
    DWORD undoError = 0;  // the first undo step that failed, 0 when everything was put back
    std::wstring text;    // success text, or the failure's
};
ModeChange ApplyDeviceModeChange(int oldMode, int newMode);

// Starts Warden.exe of the installation folder again (application name and a quoted command line,
// so a blank in the path runs no other program) and ends this process with 0, also when the start
// failed. An empty path starts nothing.
void RestartPanel();

}  // namespace warden
