#include "paneltext.h"

#include <stdio.h>

namespace warden {

namespace {
struct Entry {
    int id;
    const wchar_t* text;
};
const Entry kStrings[] = {
    {kStrChooseDisk, L"选择U盘"},
    {kStrChooseToken, L"选择U盾"},
    {kStrChangeDevice, L"更换设备"},
    {kStrLogonDefault, L"为保证您的系统安全，请输入登陆口令，初始口令为806"},
    {kStrChangeOld, L"修改口令请先输入旧口令"},
    {kStrChangeNew, L"请输入新口令"},
    {kStrChangeRepeat, L"请在一次输入新口令"},
    {kStrLogonStored, L"登陆系统，请输入口令"},
    {kStrTypeSomething, L"请输入口令"},
    {kStrWrongPassword, L"口令错误"},
    {kStrCaption, L"操作提示"},
    {kStrDone, L"操作成功！"},
    {kStrSaveFailed, L"保存失败（错误码 %lu），原有设置未改变，请以管理员身份运行后重试。"},
    {kStrSavePartly, L"部分设置未能保存（错误码 %lu），请以管理员身份运行后重新保存设置。"},
    {kStrNeedAdmin, L"需要管理员权限才能运行Tolven电脑锁，程序将退出。"},
    {kStrRecordUnreadable, L"无法读取已保存的用户信息（错误码 %lu），不能验证口令。请以管理员身份运行或重新安装后重试。"},
    {kStrSaveFailedMissing, L"保存失败（错误码 %lu），原有设置未改变：程序文件缺失，请重新安装Tolven电脑锁。"},
    {kStrSavePartlyMissing, L"部分设置未能保存（错误码 %lu）：程序文件缺失，请重新安装Tolven电脑锁后重新保存设置。"},
    {kStrSaveFailedOther, L"保存失败（错误码 %lu），原有设置未改变。"},
    {kStrSavePartlyOther, L"部分设置未能保存（错误码 %lu），请重新保存设置。"},
    {kStrModeUnregisterFailed, L"更换设备失败：无法注销登陆模块（错误码 %lu），设备模式未更改。"},
    {kStrModeSwitchesFailed, L"更换设备失败：无法关闭保护功能（错误码 %lu），设备模式未更改。"},
    {kStrModeServiceFailed, L"更换设备失败：无法停止电脑锁服务（错误码 %lu），设备模式未更改。"},
    {kStrModeStoreFailed, L"更换设备失败：无法保存新的设备模式（错误码 %lu），设备模式未更改。"},
    {kStrModeRestored, L"原有的开机保护、锁屏保护等功能保持不变。"},
    {kStrModeNotRestored, L"部分原有保护设置未能恢复（错误码 %lu），请以管理员身份运行后在【个性设置】中重新保存设置。"},
};
}  // namespace

const wchar_t* PanelString(int id) {
    for (const Entry& e : kStrings)
        if (e.id == id) return e.text;
    return L"";
}

namespace {
enum class Cause { kRights, kMissingFile, kOther };

Cause CauseOf(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case 740:  // ERROR_ELEVATION_REQUIRED
        return Cause::kRights;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_MOD_NOT_FOUND:
    case ERROR_BAD_EXE_FORMAT:
        return Cause::kMissingFile;
    default:
        return Cause::kOther;
    }
}
}  // namespace

std::wstring PanelStringWithError(int id, DWORD error) {
    if (id == kStrSaveFailed || id == kStrSavePartly) {
        const bool partly = id == kStrSavePartly;
        switch (CauseOf(error)) {
        case Cause::kRights:
            break;
        case Cause::kMissingFile:
            id = partly ? kStrSavePartlyMissing : kStrSaveFailedMissing;
            break;
        case Cause::kOther:
            id = partly ? kStrSavePartlyOther : kStrSaveFailedOther;
            break;
        }
    } else if (id != kStrRecordUnreadable && !(id >= kStrModeUnregisterFailed && id <= kStrModeStoreFailed) &&
               id != kStrModeNotRestored) {
        return PanelString(id);
    }
    wchar_t text[256];
    _snwprintf(text, 255, PanelString(id), static_cast<unsigned long>(error));
    text[255] = 0;
    return text;
}

std::wstring ModeChangeFailureText(int stepId, DWORD error, DWORD undoError) {
    return PanelStringWithError(stepId, error) +
           (undoError ? PanelStringWithError(kStrModeNotRestored, undoError) : std::wstring(PanelString(kStrModeRestored)));
}

bool WriteSequence::Step(DWORD error) {
    if (!outcome_.ok) return false;
    if (error == 0) {
        written_ = true;
        return true;
    }
    outcome_.ok = false;
    outcome_.stringId = written_ ? kStrSavePartly : kStrSaveFailed;
    outcome_.error = error;
    return false;
}

DWORD ServiceError(INT_PTR result) {
    if (result > 32) return 0;
    // 0 means the system ran out of memory or resources; never pass it on as success.
    return result > 0 ? static_cast<DWORD>(result) : ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace warden
