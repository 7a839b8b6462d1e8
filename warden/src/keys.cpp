#include "keys.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "devices.h"
#include "seams.h"

namespace warden {

namespace {

constexpr DWORD kOpenNext = 0;
constexpr DWORD kOpenFirst = 1;
constexpr int kNextTries = 5;
constexpr size_t kNameChars = 32;
constexpr size_t kUserFieldChars = 50;

const wchar_t kNoToken[] = L"未检测U盾，请插入U盾或联系我们购买！";
const wchar_t kNoDisk[] = L"未检测到U盘，请插入U盘！";
const wchar_t kNoDeviceInfo[] = L"获取设备信息失败，请检查USB设备是否接好或尝试使用其它设备！";
const wchar_t kDiskTwice[] = L"该U盘已注册使用，请勿重复制作！";
const wchar_t kTokenTwice[] = L"该U盾已注册使用，请勿重复制作！";
const wchar_t kAskNewToken[] = L"您是要使用新的U盾作为认证KEY吗？     点击【是】将使用新的U盾！";

typedef DWORD(WINAPI* OpenDeviceFn)(HANDLE, DWORD, void*);

// Opens a token on Corelib's context through the library Corelib loaded: a second copy of the
// library would not know that context.
DWORD OpenToken(DWORD flag) {
    HANDLE context = nullptr;
    UE_Epas_CreateContext(&context);
    if (!context) return ERROR_INVALID_HANDLE;
    HMODULE library = GetModuleHandleW(L"FT_ND_API.dll");
    if (!library) return ERROR_MOD_NOT_FOUND;
    OpenDeviceFn open =
        reinterpret_cast<OpenDeviceFn>(reinterpret_cast<void*>(GetProcAddress(library, "epas_OpenDevice")));
    if (!open) return ERROR_PROC_NOT_FOUND;
    return open(context, flag, nullptr);
}

bool OpenAndName(DWORD flag, wchar_t name[kNameChars]) {
    wmemset(name, 0, kNameChars);
    return OpenToken(flag) == 0 && UE_Get_EPASKEY_Name(name);
}

bool SlotEmpty(const uinfo& record, int slot) { return record.lpDriverUID[slot][0] == 0; }

// "%d个U盘已全部被设置，先移除不使用的认证U盘！"
std::wstring AllSlotsUsedText() {
    wchar_t text[64];
    _snwprintf(text, _countof(text) - 1, L"%d个U盘已全部被设置，先移除不使用的认证U盘！", kDiskSlots);
    text[_countof(text) - 1] = 0;
    return text;
}

EnrolPlan Refuse(const wchar_t* text) {
    EnrolPlan plan;
    plan.decision = EnrolDecision::kRefuse;
    plan.text = text;
    return plan;
}

// GetUserNameW / GetComputerNameW into a 50-character field; the error when the name does not fit.
DWORD FillName(wchar_t* field, bool user) {
    wchar_t name[kUserFieldChars] = {};
    DWORD n = kUserFieldChars;
    BOOL ok = user ? GetUserNameW(name, &n) : GetComputerNameW(name, &n);
    if (!ok) {
        DWORD e = GetLastError();
        return e ? e : ERROR_INSUFFICIENT_BUFFER;
    }
    name[kUserFieldChars - 1] = 0;
    wmemset(field, 0, kUserFieldChars);
    wcscpy(field, name);
    return 0;
}

// SetUserInfo's error, 0 when the record was stored.
DWORD UserInfoError(const uinfo& record) {
    SetLastError(0);
    if (g_seams.setUserInfo(&record)) return 0;
    DWORD e = GetLastError();
    return e ? e : ERROR_WRITE_FAULT;
}

}  // namespace

const wchar_t kNoTokenForModeText[] =
    L"未在您的计算机上检测到TolvenU盾，很遗憾无法使用此功能，请联系我们购买U盾或选择U盘版";

bool IsKeyEnrolled(const uinfo& record, int deviceMode) {
    if (deviceMode != 0) return record.ulTokenSerial != 0;
    for (int i = 0; i < kDiskSlots; ++i)
        if (!SlotEmpty(record, i)) return true;
    return false;
}

int WaitTokenPresent() {
    wchar_t name[kNameChars];
    if (OpenAndName(kOpenFirst, name)) return 1;
    for (int i = 0; i < kNextTries; ++i)
        if (OpenAndName(kOpenNext, name)) return 1;
    return 0;
}

bool PresentTokenName(wchar_t name[32]) { return OpenAndName(kOpenFirst, name); }

DWORD ChooseDeviceMode(int mode, bool store) {
    if (mode != 0 && !WaitTokenPresent()) return ERROR_DEVICE_NOT_CONNECTED;
    if (!store) return 0;
    return static_cast<DWORD>(g_seams.setMonitorKeyStyle(L"QJ_AppDriveMode", static_cast<DWORD>(mode)));
}

std::wstring KeyCountText(const uinfo& record) {
    wchar_t text[32];
    _snwprintf(text, _countof(text) - 1, L"%d/%d", kDiskSlots - GetDriverUIDCount(&record), kDiskSlots);
    text[_countof(text) - 1] = 0;
    return text;
}

EnrolPlan PlanDiskEnrolment(const uinfo& record, const wchar_t* selected) {
    if (!selected || !selected[0]) return Refuse(kNoDisk);
    wchar_t root[4];
    if (!DriveRootFromEntry(selected, root)) return Refuse(kNoDeviceInfo);
    wchar_t id[260] = {};
    if (!g_seams.upGetDriveIdByLetter(root, id)) id[0] = 0;
    id[259] = 0;
    if (!id[0]) return Refuse(kNoDeviceInfo);
    if (GetDriverUIDCount(&record) == 0) {
        EnrolPlan plan;
        plan.text = AllSlotsUsedText();
        return plan;
    }
    if (CompareDriverUID(&record, id)) return Refuse(kDiskTwice);
    EnrolPlan plan;
    plan.record = record;
    // A fixed volume's "{...}" or an id no slot holds: nothing would be enrolled.
    if (!AddDriverUID(&plan.record, id)) return Refuse(kNoDeviceInfo);
    plan.decision = EnrolDecision::kEnrol;
    return plan;
}

EnrolPlan PlanTokenEnrolment(const uinfo& record, const wchar_t* selected) {
    if (!selected || !selected[0]) return Refuse(kNoToken);
    // With no token open the serial read returns an error status, which must never be enrolled:
    // a present token first, then a serial that the key test itself confirms.
    if (!WaitTokenPresent()) return Refuse(kNoToken);
    const DWORD serial = UE_Get_TokenHardwareSerial();
    if (serial == 0) return Refuse(kNoToken);
    uinfo probe = record;
    probe.ulTokenSerial = serial;
    if (!UE_CheckEpasByDriveID(&probe)) return Refuse(kNoToken);

    if (record.ulTokenSerial == serial) return Refuse(kTokenTwice);
    EnrolPlan plan;
    plan.record = probe;
    plan.decision = record.ulTokenSerial != 0 ? EnrolDecision::kAsk : EnrolDecision::kEnrol;
    if (plan.decision == EnrolDecision::kAsk) plan.text = kAskNewToken;
    return plan;
}

Outcome CompleteEnrolment(const EnrolPlan& plan, int deviceMode, uinfo* processRecord, std::wstring* successText) {
    uinfo record = plan.record;
    // The names are read before anything is written: a record without them logs nobody on.
    DWORD e = FillName(record.lpUserName, true);
    if (!e) e = FillName(record.lpComputerName, false);
    WriteSequence writes;
    if (e) {
        writes.Step(e);
    } else if (writes.Step(UserInfoError(record)) && writes.Step(static_cast<DWORD>(g_seams.writeGianPathToReg())) &&
               writes.Step(static_cast<DWORD>(
                   g_seams.setMonitorKeyStyle(L"QJ_AppDriveMode", static_cast<DWORD>(deviceMode)))) &&
               writes.Step(static_cast<DWORD>(g_seams.setMonitorKeyStyle(L"QJ_EnableTolven", 1))) && IsWin7()) {
        writes.Step(ServiceError(g_seams.startOrStopService(TRUE)));
    }
    if (writes.Failed()) {
        if (!GetUserInfo(processRecord)) ZeroMemory(processRecord, sizeof(*processRecord));
    } else {
        *processRecord = record;
        if (successText)
            *successText = IsWin7() ? L"制作成功，请保管好您的USB KEY！" : L"制作成功，重启电脑后将使用验证功能！";
    }
    SecureZeroMemory(&record, sizeof(record));
    return writes.Result();
}

ClearResult ClearKeys(uinfo* processRecord) {
    ClearResult result;
    uinfo record;
    if (!GetUserInfo(&record)) {
        // Nothing stored, or it could not be read: there is nothing to clear.
        ZeroMemory(&record, sizeof(record));
    }
    wchar_t id[260] = {};
    if (!UP_CheckUDeskByDriveID1(&record, id)) {
        result.text = L"清除失败，此操作要求您必须插入一个有效KEY以确认您当前操作是合法的。";
        *processRecord = record;
        return result;
    }
    id[259] = 0;
    DelDriverUID(&record, id);
    WriteSequence writes;
    if (!writes.Step(UserInfoError(record))) {
        result.failure = writes.Result();
        result.text = result.failure.Text();
        if (!GetUserInfo(processRecord)) ZeroMemory(processRecord, sizeof(*processRecord));
        return result;
    }
    *processRecord = record;
    result.cleared = true;
    result.text = L"清除成功，系统只保留了1个当前计算机插入的KEY";
    return result;
}

ModeChange ApplyDeviceModeChange(int oldMode, int newMode) {
    ModeChange change;
    if (newMode == -1 || newMode == oldMode) return change;
    change.changed = true;

    // What the undo puts back. Logon management on means the logon module is registered and, on
    // Vista and later, the service runs: enrolment and every save keep them so.
    const wchar_t* const switches[] = {L"QJ_EnableTolven", L"QJ_RemoveLock", L"QJ_KaiJiChcekKey",
                                       L"QJ_SuoPingCheckKey"};
    DWORD before[_countof(switches)];
    for (size_t i = 0; i < _countof(switches); ++i) before[i] = GetMonitorKeyStyle(switches[i]);
    const bool managed = before[0] != 0;
    const bool win7 = IsWin7() != FALSE;

    int failedStep = 0;
    DWORD error = 0;
    bool switchesTouched = false;
    bool serviceStopped = false;
    if ((error = static_cast<DWORD>(g_seams.deleteGianPathToReg())) != 0) {
        failedStep = kStrModeUnregisterFailed;
    } else {
        for (const wchar_t* name : switches) {
            switchesTouched = true;
            if ((error = static_cast<DWORD>(g_seams.setMonitorKeyStyle(name, 0))) != 0) {
                failedStep = kStrModeSwitchesFailed;
                break;
            }
        }
    }
    if (!failedStep && win7) {
        if ((error = ServiceError(g_seams.startOrStopService(FALSE))) != 0)
            failedStep = kStrModeServiceFailed;
        else
            serviceStopped = true;
    }
    // The mode goes last: a mode whose protections are still on asks at the next boot for a key
    // that this mode never enrolled.
    if (!failedStep &&
        (error = static_cast<DWORD>(g_seams.setMonitorKeyStyle(L"QJ_AppDriveMode", static_cast<DWORD>(newMode)))) != 0)
        failedStep = kStrModeStoreFailed;

    if (!failedStep) {
        change.restart = true;
        change.text = L"设置成功,系统暂时取消开机保护、锁屏保护等功能，请点击【制作】按钮制作新的验证介子并恢复保护功能！";
        return change;
    }

    // Undo, newest first; every step is tried, the first failure is reported. A failed step may
    // have done part of its work (a registration half removed), so it is undone too.
    auto undo = [&change](DWORD e) {
        if (e && !change.undoError) change.undoError = e;
    };
    if (serviceStopped && managed) undo(ServiceError(g_seams.startOrStopService(TRUE)));
    if (switchesTouched)
        for (size_t i = 0; i < _countof(switches); ++i)
            undo(static_cast<DWORD>(g_seams.setMonitorKeyStyle(switches[i], before[i])));
    if (managed) undo(static_cast<DWORD>(g_seams.writeGianPathToReg()));

    change.outcome.ok = false;
    change.outcome.stringId = failedStep;
    change.outcome.error = error;
    change.text = ModeChangeFailureText(failedStep, error, change.undoError);
    return change;
}

void RestartPanel() {
    wchar_t path[MAX_PATH] = {};
    ZarnRegByDllPath(path, L"\\Warden.exe");
    if (path[0]) {
        wchar_t commandLine[MAX_PATH + 3];
        _snwprintf(commandLine, _countof(commandLine) - 1, L"\"%ls\"", path);
        commandLine[_countof(commandLine) - 1] = 0;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (g_seams.createProcess(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            if (info.hThread) CloseHandle(info.hThread);
            if (info.hProcess) CloseHandle(info.hProcess);
        }
    }
    g_seams.exitProcess(0);
}

}  // namespace warden
