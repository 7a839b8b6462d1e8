#include "maindlg.h"

#include <stdio.h>

#include "bkmsgbox.h"
#include "bkstyle.h"

namespace refresher {

namespace {

const wchar_t kInstallingText[] = L"正在安装更新，完成后才能关闭";
const wchar_t kStartFailedText[] = L"无法开始下载，请稍后再试";
const wchar_t kCancelRefusedText[] = L"已经开始安装更新，无法取消；安装完成前请不要关闭计算机";

class MainDlgWindow : public IUpdaterWindow {
public:
    INT_PTR ShowModal(CUpdateEngine* engine) override {
        MainDlg dialog(engine);
        return dialog.ShowModal(nullptr);
    }
};

}  // namespace

IUpdaterWindow* MainWindow() {
    static MainDlgWindow window;
    return &window;
}

int SkinnedMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return CBkSafeMsgBox::Show(text, caption, type, nullptr, owner);
}

MainDlg::MainDlg(CUpdateEngine* engine, DWORD closeWaitMs)
    : CBkDialogImpl<MainDlg>(kMainLayoutId), m_engine(engine), m_worker(engine), m_closeWaitMs(closeWaitMs) {}

// The worker's destructor waits for a run still going: the engine is freed right after the window.
MainDlg::~MainDlg() = default;

LRESULT MainDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    Offer offer = OpenOffer(m_engine, m_hWnd);
    if (!offer.newer) {
        SetItemText(kItemStatus, offer.status.c_str());
        EnableItem(kItemDownload, FALSE);
        EnableItem(kItemToggle, FALSE);
        EnableItem(kItemCancel, FALSE);
        return TRUE;
    }
    if (offer.endDialog) {
        // The user was sent to the site: the window closes without ever showing.
        m_bShowWindow = FALSE;
        EndDialog(0);
    }
    SetItemText(kItemStatus, offer.status.c_str());
    EnableItem(kItemToggle, TRUE);
    EnableItem(kItemCancel, FALSE);
    return TRUE;
}

void MainDlg::OnBkCommand(UINT id, LPCSTR) {
    switch (id) {
        case kItemClose:
            OnClose();
            break;
        case kItemDownload:
            OnDownload();
            break;
        case kItemCancel:
            OnCancel();
            break;
        case kItemToggle:
            OnToggleText();
            break;
        default:
            break;
    }
}

void MainDlg::OnClose() {
    // Installing cannot be stopped, so the window stays until it ends. A cancelled download that
    // has not ended within the wait is awaited by the worker's destructor, after the window has
    // gone and before the engine goes.
    if (m_worker.Running() && !m_worker.StopForClose(m_closeWaitMs)) {
        SetItemText(kItemStatus, kInstallingText);
        return;
    }
    EndDialog(0);
}

void MainDlg::OnDownload() {
    EnableItem(kItemDownload, FALSE);
    EnableItem(kItemCancel, TRUE);
    if (!m_worker.Start(m_hWnd, kRestartWaitMs)) {
        SetItemText(kItemStatus, kStartFailedText);
        EnableItem(kItemDownload, TRUE);
        return;
    }
    m_bStarted = TRUE;
}

void MainDlg::OnCancel() {
    if (!m_bStarted) return;
    // Refused once installing has begun: the run then finishes and reports.
    if (m_worker.Cancel())
        EnableItem(kItemDownload, TRUE);
    else
        SetItemText(kItemStatus, kCancelRefusedText);
}

void MainDlg::OnToggleText() {
    const BOOL wasShown = m_bTextShown;
    m_bTextShown = !m_bTextShown;
    if (wasShown) {
        ResizeClient(kClientWidth, kHiddenClientHeight);
        SetItemText(kItemToggle, BkString::Get(kStrShowChangeLog));
        SetItemText(kItemChangeLog, L"");
    } else {
        ResizeClient(kClientWidth, ShownClientHeight(m_engine->LineCount(), ClientHeightLimit(m_hWnd)));
        SetItemText(kItemToggle, BkString::Get(kStrHideChangeLog));
        SetItemText(kItemChangeLog, m_engine->UpdateText());
    }
}

void MainDlg::SetProgressAttribute(const char* name, int value) {
    char text[16];
    snprintf(text, sizeof(text), "%d", value);
    SetItemAttribute(kItemProgress, name, text);
}

void MainDlg::ResizeClient(int cx, int cy, BOOL repaint) {
    RECT window = {}, client = {};
    if (!::GetWindowRect(m_hWnd, &window) || !::GetClientRect(m_hWnd, &client)) return;
    const int extraX = (window.right - window.left) - (client.right - client.left);
    const int extraY = (window.bottom - window.top) - (client.bottom - client.top);
    ::MoveWindow(m_hWnd, window.left, window.top, cx + extraX, cy + extraY, repaint);
}

LRESULT MainDlg::OnUpdateMessage(UINT message, WPARAM wParam, LPARAM, BOOL&) {
    // Only what the worker handed over is read: anyone on the desktop can post these messages.
    UpdateReport report;
    if (!m_worker.Take(message, wParam, &report)) return 0;
    switch (message) {
        case WM_UPDATE_PROGRESS: {
            // An attribute name that does not fit is ignored, not cut.
            char name[10];
            if (WideCharToMultiByte(CP_ACP, 0, report.text.c_str(), -1, name, sizeof(name), nullptr, nullptr) > 0)
                SetProgressAttribute(name, static_cast<int>(report.value));
            break;
        }
        case WM_UPDATE_STATUS:
            SetItemText(kItemStatus, report.text.c_str());
            break;
        case WM_UPDATE_FINISHED: {
            const BOOL success = report.value ? TRUE : FALSE;
            SetItemText(kItemStatus, success ? L"更新成功" : L"更新失败");
            std::wstring status;
            if (ReportFinished(m_hWnd, success, &status, m_engine)) {
                EndDialog(0);
            } else {
                // The window stays: download disabled, cancel enabled.
                SetItemText(kItemStatus, status.c_str());
                EnableItem(kItemDownload, FALSE);
                EnableItem(kItemCancel, TRUE);
            }
            break;
        }
        default:
            break;
    }
    return 0;
}

}  // namespace refresher
