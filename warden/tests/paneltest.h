// The main panel in this process under a modal script: the shell, session, tray and box calls are
// recorded by fakes (shut-down, log-off and the shut-down dialog would end the Wine prefix), the
// switches and the record are real.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

#include "corelib.h"
#include "maindlg.h"
#include "panelseams.h"
#include "seams.h"
#include "testsupport.h"
#include "uikit.h"

namespace paneltest {

struct Box {
    std::wstring text;
    std::wstring caption;
    UINT type;
};

struct Log {
    std::vector<std::wstring> calls;  // "shell <file> <params>", "lock", "exitwindows 0 0", "shutdown", "exit 0"
    std::vector<DWORD> trayMessages;
    std::vector<std::wstring> balloons;
    std::vector<Box> boxes;
    std::vector<int> answers;  // the boxes' answers in order; IDOK once they run out
    bool openFileOk = false;
    std::wstring openFilePath;
    HWND openFileOwner = nullptr;
};
inline Log* g_log = nullptr;

inline BOOL WINAPI FakeNotify(DWORD message, PNOTIFYICONDATAW data) {
    g_log->trayMessages.push_back(message);
    if (message == NIM_MODIFY && (data->uFlags & NIF_INFO)) g_log->balloons.push_back(data->szInfo);
    return TRUE;
}
inline HINSTANCE WINAPI FakeShell(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR params, LPCWSTR, INT show) {
    g_log->calls.push_back(L"shell " + std::wstring(verb ? verb : L"") + L" " + (file ? file : L"") + L" " +
                           (params ? params : L"") + L" " + std::to_wstring(show));
    return reinterpret_cast<HINSTANCE>(42);
}
inline BOOL WINAPI FakeLock() {
    g_log->calls.push_back(L"lock");
    return TRUE;
}
inline BOOL WINAPI FakeExitWindows(UINT flags, DWORD reason) {
    g_log->calls.push_back(L"exitwindows " + std::to_wstring(flags) + L" " + std::to_wstring(reason));
    return TRUE;
}
inline void FakeShutdownDialog() { g_log->calls.push_back(L"shutdown"); }
inline void WINAPI FakeExitProcess(UINT code) { g_log->calls.push_back(L"exit " + std::to_wstring(code)); }
inline BOOL WINAPI FakeCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                                     LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                     LPPROCESS_INFORMATION info) {
    g_log->calls.push_back(L"create " + std::wstring(application ? application : L"") + L" " +
                           (commandLine ? commandLine : L""));
    ZeroMemory(info, sizeof(*info));
    return TRUE;
}
inline BOOL WINAPI FakeOpenFile(LPOPENFILENAMEW dialog) {
    g_log->openFileOwner = dialog->hwndOwner;
    if (!g_log->openFileOk) return FALSE;
    wcsncpy(dialog->lpstrFile, g_log->openFilePath.c_str(), dialog->nMaxFile - 1);
    dialog->lpstrFile[dialog->nMaxFile - 1] = 0;
    return TRUE;
}
inline int FakeBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    g_log->boxes.push_back({text ? text : L"", caption ? caption : L"", type});
    if (g_log->answers.empty()) return IDOK;
    int answer = g_log->answers.front();
    g_log->answers.erase(g_log->answers.begin());
    return answer;
}

// The calls of one kind ("shell", "exit"...), in order.
inline std::vector<std::wstring> CallsOf(const std::wstring& kind) {
    std::vector<std::wstring> out;
    for (const auto& c : g_log->calls)
        if (c.compare(0, kind.size() + 1, kind + L" ") == 0 || c == kind) out.push_back(c);
    return out;
}

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        ts::ResetSettings();
        g_log = &log_;
        panelseams::InstallCorelibFakes(&corelib_);
        corelib_.realWrites = true;
        warden::g_seams.shellNotifyIcon = FakeNotify;
        warden::g_seams.shellExecute = FakeShell;
        warden::g_seams.lockWorkStation = FakeLock;
        warden::g_seams.exitWindowsEx = FakeExitWindows;
        warden::g_seams.shutdownDialog = FakeShutdownDialog;
        warden::g_seams.exitProcess = FakeExitProcess;
        warden::g_seams.createProcess = FakeCreateProcess;
        warden::g_seams.getOpenFileName = FakeOpenFile;
        warden::g_panelBox = FakeBox;
        config_ = ts::InExeDir(L"Config.ini");
        DeleteFileW(config_.c_str());
        SetSwitch(L"QJ_AppDriveMode", 0);  // a missing switch reads as 1: the token
    }
    void TearDown() override {
        DeleteFileW(config_.c_str());
        ts::ResetSettings();
        g_log = nullptr;
    }

    static void SetSwitch(const wchar_t* name, DWORD value) {
        ASSERT_TRUE(ts::SetDword(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, name, value)) << ts::Narrow(name);
    }
    static DWORD Switch(const wchar_t* name) { return GetMonitorKeyStyle(name); }
    // A record with one enrolled disk: a key for mode 0.
    static void EnrolDisk(const wchar_t* id = L"usbstor#disk&ven_a#ser1") {
        uinfo r = {};
        wcscpy(r.lpUserName, L"user");
        wcscpy(r.lpDriverUID[0], id);
        ASSERT_TRUE(SetUserInfo(&r));
    }
    static std::string StoredRecord() {
        uinfo r = {};
        if (!GetUserInfo(&r)) return std::string();
        return std::string(reinterpret_cast<const char*>(&r), sizeof(r));
    }

    // Runs the panel modally, plays body once it is up, then ends it unless body did; the modal
    // result, or -1 when the script timed out.
    int RunPanel(const std::function<void(warden::CMainDlg&)>& body, bool hidden = false) {
        warden::CMainDlg panel(hidden);
        ts::ModalScript script;
        script.WaitUntil([&] { return panel.m_hWnd && IsWindow(panel.m_hWnd) && (hidden || IsWindowVisible(panel)); })
            .Do([&] {
                body(panel);
                if (panel.m_hWnd && !panel.IsEnding()) panel.EndDialog(77);
            });
        int result = -1;
        const bool finished = script.Run([&] { result = panel.ShowModal(); }, 20000);
        EXPECT_TRUE(finished) << "the script timed out";
        return finished ? result : -1;
    }

    // A click on a layout item as the view reports it.
    static LRESULT Click(warden::CMainDlg& panel, UINT id) {
        BkCommandNotify n = {};
        n.hdr.hwndFrom = panel.View().m_hWnd;
        n.hdr.idFrom = kBkViewCtrlId;
        n.hdr.code = kBkNotifyCommand;
        n.uItemID = id;
        n.szItemClass = "";
        return SendMessageW(panel, WM_NOTIFY, kBkViewCtrlId, reinterpret_cast<LPARAM>(&n));
    }
    static LRESULT Command(warden::CMainDlg& panel, UINT id) { return SendMessageW(panel, WM_COMMAND, id, 0); }

    ts::Restore<warden::Seams> restoreSeams_{warden::g_seams};
    ts::Restore<warden::PanelBoxFn> restoreBox_{warden::g_panelBox};
    ts::Restore<warden::DeviceModeChooserFn> restoreChooser_{warden::g_chooseDeviceMode};
    panelseams::Log corelib_;
    Log log_;
    std::wstring config_;
};

}  // namespace paneltest
