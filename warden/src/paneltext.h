// The control panel's texts that come from its string table, by id, until the skinned dialogs load
// that table from their resources; and the outcome of an operation that writes stored state.
#pragma once
#include <windows.h>

#include <string>

namespace warden {

enum PanelStringId {
    kStrChooseDisk = 38,     // "选择U盘"
    kStrChooseToken = 39,    // "选择U盾"
    kStrChangeDevice = 40,   // "更换设备"
    kStrLogonDefault = 42,   // login prompt, no password stored
    kStrChangeOld = 43,      // change mode: the old password
    kStrChangeNew = 44,      // change mode: the new password
    kStrChangeRepeat = 45,   // change mode: the new password again
    kStrLogonStored = 46,    // login prompt, a password is stored
    kStrTypeSomething = 47,  // nothing typed
    kStrWrongPassword = 48,  // wrong password
    kStrCaption = 49,        // "操作提示": every box's caption
    kStrDone = 53,           // "操作成功！"
    kStrSaveFailed = 200,    // nothing was written: "保存失败（错误码 %lu）…"
    kStrSavePartly = 201,    // some of it was written: "部分设置未能保存（错误码 %lu）…"
    kStrNeedAdmin = 202,     // the elevation prompt was declined
    kStrRecordUnreadable = 203,  // the login cannot read the stored record: "无法读取…（错误码 %lu）…"
    // 200 and 201 name administrator rights, the cause of a refused write. A missing file (a module,
    // Sentry.exe, the Run key) and any other cause get their own texts.
    kStrSaveFailedMissing = 204,
    kStrSavePartlyMissing = 205,
    kStrSaveFailedOther = 206,
    kStrSavePartlyOther = 207,
    // A change of device mode that failed: the step that failed ("%lu" its error; the mode was not
    // changed), then whether the protections it had turned off were put back.
    kStrModeUnregisterFailed = 210,
    kStrModeSwitchesFailed = 211,
    kStrModeServiceFailed = 212,
    kStrModeStoreFailed = 213,
    kStrModeRestored = 214,
    kStrModeNotRestored = 215,  // "%lu": the first undo step's error
};

// The text of a string id of the table above ("" for an unknown id). 200 and 201 hold "%lu".
const wchar_t* PanelString(int id);
// A string with one "%lu" (200, 201, 203, 210-213, 215) filled with an error code; others unchanged. For 200 and 201
// the error also picks the text that names its cause: 200/201 for access denied, 204/205 for a
// missing file, 206/207 otherwise.
std::wstring PanelStringWithError(int id, DWORD error);
// The box text of a failed change of device mode: the failed step (210-213) with its error, then 214
// when everything was put back, else 215 with the undo's error.
std::wstring ModeChangeFailureText(int stepId, DWORD error, DWORD undoError);

// What an operation left behind. ok: everything was written. Otherwise stringId is 200 when nothing
// was written before the failing step, 201 when some of it was, with the failing step's error.
struct Outcome {
    bool ok = true;
    int stringId = 0;
    DWORD error = 0;
    std::wstring Text() const { return ok ? std::wstring() : PanelStringWithError(stringId, error); }
};

// Steps of one save: each write reports its error (0 success); after the first failure nothing
// more is attempted and the outcome names that failure.
class WriteSequence {
public:
    // Records one write's result; false when the sequence has failed (now or earlier).
    bool Step(DWORD error);
    bool Failed() const { return !outcome_.ok; }
    const Outcome& Result() const { return outcome_; }

private:
    bool written_ = false;
    Outcome outcome_;
};

// StartOrStopService reports like ShellExecuteW: above 32 is success, anything else its error.
DWORD ServiceError(INT_PTR result);

}  // namespace warden
