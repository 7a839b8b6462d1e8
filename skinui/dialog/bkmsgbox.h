// The skinned message box: layout 105 with a title bar, a system icon, the message, an optional
// "下次不再提示" check box and a centred strip of buttons chosen by the MB_* type word. It returns
// the Win32 id of the button clicked, or 60001 when its close button ends it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "bkdialog.h"
#include "roundframe.h"

// Items of layout 105.
enum : UINT {
    kBkMsgBoxLayoutId = 105,
    kBkMsgBoxClose = 60001,
    kBkMsgBoxTitle = 60004,
    kBkMsgBoxIcon = 60005,
    kBkMsgBoxText = 60006,
    kBkMsgBoxCheck = 60007,
    kBkMsgBoxButtons = 60008,
    kBkMsgBoxMarkup = 60016,
};

// String ids of the string table that the box reads.
enum : UINT {
    kBkStrButtonMarkup = 17,  // one button: (id, left, right, caption)
    kBkStrButtonFrame = 26,   // the centred frame: (half width, half width, buttons)
    kBkStrOk = 18,
    kBkStrCancel = 19,
    kBkStrAbort = 20,
    kBkStrRetry = 21,
    kBkStrIgnore = 22,
    kBkStrYes = 23,
    kBkStrNo = 24,
    kBkStrContinue = 25,
};

// Fills a format of the string table with the arguments in order: %d takes the next number, %s
// the next text, %% is a percent sign; any other conversion, or one without its argument, stays as
// written. The table's text is data, never handed to printf.
CString BkFormatTableText(LPCWSTR format, const std::vector<int>& numbers, const std::vector<CString>& texts);

class CBkSafeMsgBox : public CBkDialogImpl<CBkSafeMsgBox>, public CWHRoundRectFrameHelper<CBkSafeMsgBox> {
public:
    struct Button {
        CString caption;
        UINT id;
        int width;
    };

    CBkSafeMsgBox() : CBkDialogImpl<CBkSafeMsgBox>(0) {}

    // The id of the button clicked, 60001 from the close button, -1 without layout 105, 0 when the
    // window cannot be made. checkOut, when given, shows the check box and receives its state.
    int ShowMessage(LPCWSTR text, LPCWSTR title, UINT type, BOOL* checkOut, HWND owner);
    // The same box with an XML fragment of elements in place of the text, in the caller's rectangle.
    int ShowMarkupMessage(const RECT* textRect, LPCWSTR markup, LPCWSTR title, UINT type, BOOL* checkOut,
                          HWND owner);
    static int Show(LPCWSTR text, LPCWSTR title, UINT type, BOOL* checkOut = nullptr, HWND owner = nullptr);

    // The buttons that a type word gives, in strip order (captions from the string table).
    static std::vector<Button> ButtonsFor(UINT type);
    // The icon of a type word: the system icon id, or 0 for none.
    static UINT IconFor(UINT type);
    const std::vector<Button>& Buttons() const { return m_buttons; }
    // The markup loaded into the button strip (panel 60008).
    const CString& StripMarkup() const { return m_strStrip; }

    void OnBkCommand(UINT id, LPCSTR tag);

    BEGIN_MSG_MAP(CBkSafeMsgBox)
        BK_NOTIFY_COMMAND(OnBkCommand)
        CHAIN_MSG_MAP(CBkDialogImpl<CBkSafeMsgBox>)
        CHAIN_MSG_MAP(CWHRoundRectFrameHelper<CBkSafeMsgBox>)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    END_MSG_MAP()

protected:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    BOOL LoadBoxLayout();
    void BuildButtonStrip(BOOL* checkOut);
    void FillButtons();
    static void AddButton(std::vector<Button>& list, UINT captionId, UINT id);

    BOOL m_bGivenRect = FALSE;
    RECT m_rcGiven = {};
    CString m_strText;
    CString m_strTitle;
    UINT m_uType = 0;
    BOOL m_bShowCheck = FALSE;
    BOOL m_bChecked = FALSE;
    std::vector<Button> m_buttons;
    CString m_strStrip;
};
