// The seams of the test build of Refresher.exe (the program's own wWinMain and core). Beside the
// program: "answers.txt" answers the message boxes one line each ("yes", "no", "ok"; none: no),
// "seams.log" receives one UTF-8 line per box, opened site, shut-down dialog and shown window (the real
// window, closed through its close button as soon as it shows), and
// "test.key" is the PUBLICKEYBLOB that signs the test descriptions. With "drive.txt" beside the
// program the window stays open for a test that clicks it from outside; the log then also says what
// the window's view shows once it is up ("shown|<status>") and after each report of the worker
// ("status|<status>", "bar|<name>=<posted>|<value>/<max>", "finished|<wParam>|<status>").
#include <windows.h>

#include <string>
#include <vector>

#include "bkleaf.h"
#include "maindlg.h"
#include "startup.h"
#include "testsupport.h"

namespace {

void Log(const std::wstring& line) { ts::AppendFileBytes(ts::InExeDir(L"seams.log"), ts::Narrow(line + L"\n")); }

int ScriptedBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    static size_t next = 0;
    static std::vector<std::string> answers;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        std::string all = ts::ReadFileBytes(ts::InExeDir(L"answers.txt"));
        size_t at = 0;
        while (at < all.size()) {
            size_t end = all.find('\n', at);
            if (end == std::string::npos) end = all.size();
            std::string word = all.substr(at, end - at);
            if (!word.empty() && word.back() == '\r') word.pop_back();
            answers.push_back(word);
            at = end + 1;
        }
    }
    std::string answer = next < answers.size() ? answers[next++] : "no";
    Log(std::wstring(L"box|") + caption + L"|" + text + L"|" + std::to_wstring(type));
    return answer == "yes" ? IDYES : answer == "ok" ? IDOK : IDNO;
}

HINSTANCE LoggedShell(HWND, const wchar_t* verb, const wchar_t* file, const wchar_t*, const wchar_t*, int show) {
    Log(std::wstring(L"shell|") + verb + L"|" + file + L"|" + std::to_wstring(show));
    return reinterpret_cast<HINSTANCE>(42);
}

// Never the real one: it would end every process of the test session.
BOOL LoggedShutdown(HWND owner) {
    Log(owner ? L"shutdown|owner" : L"shutdown|none");
    return TRUE;
}

bool Driven() { return GetFileAttributesW(ts::InExeDir(L"drive.txt").c_str()) != INVALID_FILE_ATTRIBUTES; }

// The real window; after each report of the worker it logs what its view shows, read back from the
// items the report changed.
class ObservedDlg : public refresher::MainDlg {
public:
    explicit ObservedDlg(refresher::CUpdateEngine* engine) : MainDlg(engine) {}
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              DWORD mapId) override {
        // The handler takes the worker's report and may end the dialog: what was posted is read first.
        refresher::UpdateReport report;
        const bool reported = message >= refresher::WM_UPDATE_PROGRESS && message <= refresher::WM_UPDATE_FINISHED &&
                              Worker().Peek(message, wParam, &report);
        BOOL handled = MainDlg::ProcessWindowMessage(hWnd, message, wParam, lParam, result, mapId);
        if (!reported) return handled;
        if (!Driven()) return handled;
        switch (message) {
            case refresher::WM_UPDATE_STATUS:
                Log(L"status|" + Status());
                break;
            case refresher::WM_UPDATE_PROGRESS: {
                CBkProgress* bar = static_cast<CBkProgress*>(View().FindItem(refresher::kItemProgress));
                if (!bar) break;
                Log(L"bar|" + report.text + L"=" + std::to_wstring(static_cast<long long>(report.value)) + L"|" +
                    std::to_wstring(bar->GetValue()) + L"/" + std::to_wstring(bar->GetMax()));
                break;
            }
            case refresher::WM_UPDATE_FINISHED:
                Log(L"finished|" + std::to_wstring(static_cast<long long>(report.value)) + L"|" + Status());
                break;
        }
        return handled;
    }
    std::wstring Status() { return GetItemText(refresher::kItemStatus).GetString(); }
};

// The real window, closed through its close button once its modal loop runs, or driven by the test.
class LoggedWindow : public refresher::IUpdaterWindow {
public:
    INT_PTR ShowModal(refresher::CUpdateEngine* engine) override {
        Log(L"window");
        ObservedDlg dialog(engine);
        shown_ = &dialog;
        announced_ = false;
        UINT_PTR timer = SetTimer(nullptr, 0, 100, CloseShown);
        INT_PTR result = dialog.ShowModal(nullptr);
        KillTimer(nullptr, timer);
        shown_ = nullptr;
        return result;
    }

private:
    static void CALLBACK CloseShown(HWND, UINT, UINT_PTR, DWORD) {
        if (!shown_ || !shown_->m_hWnd || !IsWindowVisible(shown_->m_hWnd)) return;
        if (!Driven()) {
            shown_->OnBkCommand(refresher::kItemClose, "imgbtn");
        } else if (!announced_) {
            announced_ = true;
            Log(L"shown|" + shown_->Status());
        }
    }
    static ObservedDlg* shown_;
    static bool announced_;
};
ObservedDlg* LoggedWindow::shown_ = nullptr;
bool LoggedWindow::announced_ = false;

refresher::IUpdaterWindow* TestWindow() {
    static LoggedWindow window;
    return &window;
}

refresher::EngineSettings TestSettings() {
    static std::string key = ts::ReadFileBytes(ts::InExeDir(L"test.key"));
    refresher::EngineSettings s = refresher::EngineSettings::Production();
    s.publicKey = key.empty() ? nullptr : reinterpret_cast<const BYTE*>(key.data());
    s.publicKeySize = static_cast<DWORD>(key.size());
    s.connectTimeoutMs = 5000;
    s.receiveTimeoutMs = 5000;
    return s;
}

struct Install {
    Install() {
        refresher::UpdaterSeams& s = refresher::Seams();
        s.messageBox = ScriptedBox;
        s.shellExecute = LoggedShell;
        s.shutdownDialog = LoggedShutdown;
        s.window = TestWindow;
        s.engineSettings = TestSettings;
    }
} g_install;

}  // namespace
