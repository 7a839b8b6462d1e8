// The updater's window: layout 113 with the offer, the change log, the progress bar and the buttons
// "下载" and "取消". The download and install run on the worker, which reports only by posting
// WM_UPDATE_* tickets for the reports it keeps; the window never waits on the worker except
// briefly when it closes.
#pragma once

#include <windows.h>

#include "bkdialog.h"
#include "roundframe.h"
#include "startup.h"
#include "updateengine.h"
#include "updateworker.h"

namespace refresher {

// Items of layout 113 and the strings the window reads.
enum : UINT {
    kMainLayoutId = 113,
    kItemDownload = 10001,
    kItemCancel = 10002,
    kItemProgress = 10003,
    kItemStatus = 10004,
    kItemToggle = 10005,
    kItemChangeLog = 10006,
    kItemClose = 60001,
    kStrHideChangeLog = 45,
    kStrShowChangeLog = 46,
};

class MainDlg : public CBkDialogImpl<MainDlg>, public CWHRoundRectFrameHelper<MainDlg> {
public:
    // Closing during a download cancels it, which ends even a stalled read at once, and waits this
    // long for the worker while the window is still there.
    static constexpr DWORD kCloseWaitMs = 2000;
    // A new download waits this long for a cancelled run that is still winding down.
    static constexpr DWORD kRestartWaitMs = 5000;

    // The engine is wWinMain's and outlives the window; the worker is stopped before either goes.
    explicit MainDlg(CUpdateEngine* engine, DWORD closeWaitMs = kCloseWaitMs);
    ~MainDlg();

    void OnBkCommand(UINT id, LPCSTR tag);
    void OnDownload();
    void OnCancel();
    void OnToggleText();
    // Sets an attribute of the progress bar to a decimal number.
    void SetProgressAttribute(const char* name, int value);
    // Makes the client area cx by cy, keeping the top-left corner and the frame.
    void ResizeClient(int cx, int cy, BOOL repaint = TRUE);

    BOOL TextShown() const { return m_bTextShown; }
    const CUpdateWorker& Worker() const { return m_worker; }

    BEGIN_MSG_MAP(MainDlg)
        BK_NOTIFY_COMMAND(OnBkCommand)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        MESSAGE_RANGE_HANDLER(WM_UPDATE_PROGRESS, WM_UPDATE_FINISHED, OnUpdateMessage)
        CHAIN_MSG_MAP(CBkDialogImpl<MainDlg>)
        CHAIN_MSG_MAP(CWHRoundRectFrameHelper<MainDlg>)
        // The change-log edit's text follows its window only through reflected notifications.
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnUpdateMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL&);
    void OnClose();

    CUpdateEngine* m_engine;
    CUpdateWorker m_worker;
    DWORD m_closeWaitMs;
    BOOL m_bStarted = FALSE;  // a download was started at least once
    BOOL m_bTextShown = FALSE;
};

// The real updater window: MainDlg run modally over the engine.
IUpdaterWindow* MainWindow();
// The skinned message box, the real message-box seam.
int SkinnedMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

}  // namespace refresher
