// A skinned test dialog that records what reaches its OnBkCommand and handles the title bar.
#pragma once

#include <string>
#include <vector>

#include "bkdialog.h"
#include "roundframe.h"
#include "viewkit.h"

class TestDialog : public CBkDialogImpl<TestDialog>, public CWHRoundRectFrameHelper<TestDialog> {
public:
    struct Command {
        UINT id;
        std::string tag;
        HWND from;
    };
    explicit TestDialog(UINT layoutId = 900) : CBkDialogImpl<TestDialog>(layoutId) {}

    std::vector<Command> commands;
    BOOL hideOnInit = FALSE;
    int endOnInit = 0;  // non-zero: the dialog ends itself with this result in WM_INITDIALOG
    int initCount = 0;

    void OnBkCommand(UINT id, LPCSTR tag, HWND from) {
        commands.push_back(Command{id, tag ? tag : "(null)", from});
        switch (id) {
        case 60003:
            SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
            break;
        case 60002:
            SendMessage(WM_SYSCOMMAND, IsZoomed() ? SC_RESTORE : SC_MAXIMIZE);
            break;
        case 60001:
            EndDialog(60001);
            break;
        case 10:
            EndDialog(10);
            break;
        default:
            break;
        }
    }

    BEGIN_MSG_MAP(TestDialog)
        if (uMsg == WM_NOTIFY && ((LPNMHDR)lParam)->idFrom == kBkViewCtrlId &&
            ((LPNMHDR)lParam)->code == kBkNotifyCommand) {
            const BkCommandNotify* n = (const BkCommandNotify*)lParam;
            OnBkCommand(n->uItemID, n->szItemClass, n->hdr.hwndFrom);
            lResult = 1;
            return TRUE;
        }
        CHAIN_MSG_MAP(CBkDialogImpl<TestDialog>)
        CHAIN_MSG_MAP(CWHRoundRectFrameHelper<TestDialog>)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    END_MSG_MAP()

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
        ++initCount;
        if (hideOnInit) m_bShowWindow = FALSE;
        if (endOnInit) EndDialog(endOnInit);
        return TRUE;
    }
};

// The top-level window of this thread with that title, or null.
struct TitledSearch {
    const wchar_t* title;
    HWND found;
};
inline BOOL CALLBACK MatchTitle(HWND h, LPARAM p) {
    TitledSearch* s = (TitledSearch*)p;
    wchar_t text[128] = {};
    GetWindowTextW(h, text, 128);
    if (wcscmp(text, s->title) == 0 && IsWindow(h)) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}
inline HWND FindTitled(const wchar_t* title) {
    TitledSearch s = {title, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), &MatchTitle, (LPARAM)&s);
    return s.found;
}

// Removes a WM_QUIT left in this thread's queue; its exit code, or -1 when there was none.
inline int TakeQuit() {
    MSG m;
    if (!PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return -1;
    return (int)m.wParam;
}
