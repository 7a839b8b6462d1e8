#include "bkmsgbox.h"

#include <stdio.h>
#include <string.h>

#include "bkstyle.h"

namespace {

std::string ToUtf8(const CString& text) {
    if (text.IsEmpty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.GetString(), text.GetLength(), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out((size_t)n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.GetString(), text.GetLength(), &out[0], n, nullptr, nullptr);
    return out;
}

LPCWSTR TableText(UINT id) {
    LPCWSTR s = BkString::Get(id);
    return s ? s : L"";
}

}  // namespace

CString BkFormatTableText(LPCWSTR format, const std::vector<int>& numbers, const std::vector<CString>& texts) {
    CString out;
    if (!format) return out;
    size_t nextNumber = 0, nextText = 0;
    for (const wchar_t* p = format; *p; ++p) {
        if (p[0] == L'%' && p[1] == L'%') {
            out += L'%';
            ++p;
        } else if (p[0] == L'%' && p[1] == L'd' && nextNumber < numbers.size()) {
            wchar_t num[16];
            swprintf(num, sizeof(num) / sizeof(num[0]), L"%d", numbers[nextNumber++]);
            out += num;
            ++p;
        } else if (p[0] == L'%' && p[1] == L's' && nextText < texts.size()) {
            out += texts[nextText++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// ---- buttons and icon by type ------------------------------------------------------------------

void CBkSafeMsgBox::AddButton(std::vector<Button>& list, UINT captionId, UINT id) {
    Button b;
    b.caption = TableText(captionId);
    b.id = id;
    const BkStyle* style = BkStylePool::GetStyle("normalbtn");
    HWND desktop = ::GetDesktopWindow();
    HDC dc = ::GetWindowDC(desktop);
    HGDIOBJ oldFont = dc && style->m_ftText ? ::SelectObject(dc, style->m_ftText) : nullptr;
    RECT rc = {0, 0, 1000, 1000};
    if (dc) ::DrawTextW(dc, b.caption.GetString(), b.caption.GetLength(), &rc, style->m_nTextMode | DT_CALCRECT);
    ::InflateRect(&rc, style->m_nMarginX, style->m_nMarginY);
    if (oldFont) ::SelectObject(dc, oldFont);
    if (dc) ::ReleaseDC(desktop, dc);
    b.width = rc.right - rc.left;
    if (b.width < 80) b.width = 80;
    list.push_back(b);
}

std::vector<CBkSafeMsgBox::Button> CBkSafeMsgBox::ButtonsFor(UINT type) {
    std::vector<Button> list;
    if (type & 0x80000000u) return list;
    switch (type & 0xF) {
    case MB_OK:
        AddButton(list, kBkStrOk, IDOK);
        break;
    case MB_OKCANCEL:
        AddButton(list, kBkStrOk, IDOK);
        AddButton(list, kBkStrCancel, IDCANCEL);
        break;
    case MB_ABORTRETRYIGNORE:
        AddButton(list, kBkStrAbort, IDABORT);
        AddButton(list, kBkStrRetry, IDRETRY);
        AddButton(list, kBkStrIgnore, IDIGNORE);
        break;
    case MB_YESNOCANCEL:
        AddButton(list, kBkStrYes, IDYES);
        AddButton(list, kBkStrNo, IDNO);
        AddButton(list, kBkStrCancel, IDCANCEL);
        break;
    case MB_YESNO:
        AddButton(list, kBkStrYes, IDYES);
        AddButton(list, kBkStrNo, IDNO);
        break;
    case MB_RETRYCANCEL:
        AddButton(list, kBkStrRetry, IDRETRY);
        AddButton(list, kBkStrCancel, IDCANCEL);
        break;
    case 6:  // MB_CANCELTRYCONTINUE: its middle button answers with the Retry id
        AddButton(list, kBkStrCancel, IDCANCEL);
        AddButton(list, kBkStrRetry, IDRETRY);
        AddButton(list, kBkStrContinue, 11);
        break;
    default:
        break;
    }
    return list;
}

UINT CBkSafeMsgBox::IconFor(UINT type) {
    switch (type & 0xF0) {
    case MB_ICONHAND: return 32513;
    case MB_ICONQUESTION: return 32514;
    case MB_ICONEXCLAMATION: return 32515;
    case MB_ICONASTERISK: return 32516;
    default: return 0;
    }
}

void CBkSafeMsgBox::FillButtons() {
    if (m_uType & 0x80000000u) return;  // the list is left as it is: no strip
    m_buttons = ButtonsFor(m_uType);
}

void CBkSafeMsgBox::BuildButtonStrip(BOOL* checkOut) {
    FillButtons();
    int total = 0;
    for (const Button& b : m_buttons) total += b.width;
    if (!m_buttons.empty()) total += 20 * (int)(m_buttons.size() - 1);

    CString markup;
    int x = 0;
    for (const Button& b : m_buttons) {
        markup += BkFormatTableText(TableText(kBkStrButtonMarkup), {(int)b.id, x, x + b.width}, {b.caption});
        x += b.width + 20;
    }
    m_strStrip = BkFormatTableText(TableText(kBkStrButtonFrame), {total / 2, total / 2}, {markup});
    LoadPanelXml(kBkMsgBoxButtons, ToUtf8(m_strStrip));

    const UINT icon = IconFor(m_uType);
    if ((m_uType & 0xF0) == 0) {
        SetItemVisible(kBkMsgBoxIcon, FALSE);
    } else if (icon) {
        SetItemIntAttribute(kBkMsgBoxIcon, "src", icon);
    } else {
        SetItemIntAttribute(kBkMsgBoxIcon, "src", 0);
        SetItemIntAttribute(kBkMsgBoxIcon, "oem", 0);
        SetItemVisible(kBkMsgBoxIcon, FALSE);
    }

    if (checkOut) m_bShowCheck = TRUE;
    else SetItemVisible(kBkMsgBoxCheck, FALSE);
}

// ---- showing -----------------------------------------------------------------------------------

BOOL CBkSafeMsgBox::LoadBoxLayout() { return LoadLayoutResource(kBkMsgBoxLayoutId); }

int CBkSafeMsgBox::ShowMessage(LPCWSTR text, LPCWSTR title, UINT type, BOOL* checkOut, HWND owner) {
    if (!LoadBoxLayout()) return -1;
    m_bGivenRect = FALSE;
    m_strText = text ? text : L"";
    m_uType = type;
    SetItemVisible(kBkMsgBoxMarkup, FALSE);
    SetItemVisible(kBkMsgBoxText, TRUE);
    SetItemText(kBkMsgBoxText, m_strText);
    if (title) {
        m_strTitle = title;
        SetTitle(title);
        SetItemText(kBkMsgBoxTitle, title);
    }
    BuildButtonStrip(checkOut);
    const int result = ShowModal(owner);
    if (checkOut) *checkOut = m_bChecked;
    return result;
}

int CBkSafeMsgBox::ShowMarkupMessage(const RECT* textRect, LPCWSTR markup, LPCWSTR title, UINT type, BOOL* checkOut,
                                     HWND owner) {
    if (!textRect) return -1;
    if (!LoadBoxLayout()) return -1;
    m_bGivenRect = TRUE;
    m_rcGiven = *textRect;
    m_uType = type;
    SetItemVisible(kBkMsgBoxMarkup, TRUE);
    SetItemVisible(kBkMsgBoxText, FALSE);
    LoadPanelXml(kBkMsgBoxMarkup, ToUtf8(CString(markup ? markup : L"")));
    if (title) {
        m_strTitle = title;
        SetTitle(title);
        SetItemText(kBkMsgBoxTitle, title);
    }
    BuildButtonStrip(checkOut);
    const int result = ShowModal(owner);
    if (checkOut) *checkOut = m_bChecked;
    return result;
}

int CBkSafeMsgBox::Show(LPCWSTR text, LPCWSTR title, UINT type, BOOL* checkOut, HWND owner) {
    CBkSafeMsgBox box;
    return box.ShowMessage(text, title, type, checkOut, owner);
}

void CBkSafeMsgBox::OnBkCommand(UINT id, LPCSTR tag) {
    if (tag && (strcmp(tag, "button") == 0 || strcmp(tag, "imgbtn") == 0)) {
        EndDialog((int)id);
    } else if (id == kBkMsgBoxCheck) {
        m_bChecked = GetItemCheck(kBkMsgBoxCheck);  // the element has toggled itself already
    }
}

LRESULT CBkSafeMsgBox::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    HDC dc = ::GetDC(m_hWnd);
    if (m_strTitle.IsEmpty()) {
        const int n = ::GetWindowTextLengthW(m_hWnd);
        if (n > 0) {
            ::GetWindowTextW(m_hWnd, m_strTitle.GetBuffer(n), n + 1);
            m_strTitle.ReleaseBuffer();
        }
    }
    RECT work = {};
    HMONITOR monitor = ::MonitorFromWindow(::GetParent(m_hWnd), MONITOR_DEFAULTTONULL);
    MONITORINFO mi = {sizeof(mi)};
    if (monitor && ::GetMonitorInfoW(monitor, &mi)) work = mi.rcWork;
    else ::GetClientRect(m_hWnd, &work);
    const int workW = work.right - work.left, workH = work.bottom - work.top;

    const BkStyle* titleStyle = BkStylePool::GetStyle("dlgtitle");
    HGDIOBJ oldFont = titleStyle->m_ftText ? ::SelectObject(dc, titleStyle->m_ftText) : nullptr;
    RECT rc = {0, 0, workW, workH};
    ::DrawTextW(dc, m_strTitle.GetString(), m_strTitle.GetLength(), &rc, DT_CALCRECT);
    if (oldFont) ::SelectObject(dc, oldFont);
    const int titleWidth = (rc.right - rc.left) + 100;

    int textW = 0, textH = 0;
    if (m_bGivenRect) {
        textW = m_rcGiven.right - m_rcGiven.left;
        textH = m_rcGiven.bottom - m_rcGiven.top;
    } else {
        const BkStyle* textStyle = BkStylePool::GetStyle("msgtext");
        oldFont = textStyle->m_ftText ? ::SelectObject(dc, textStyle->m_ftText) : nullptr;
        rc = RECT{0, 0, workW, workH};
        ::DrawTextW(dc, m_strText.GetString(), m_strText.GetLength(), &rc, textStyle->m_nTextMode | DT_CALCRECT);
        if (oldFont) ::SelectObject(dc, oldFont);
        textW = rc.right - rc.left;
        textH = rc.bottom - rc.top;
    }
    textW += 100;
    textH += 120 + (m_bShowCheck ? 20 : 0);
    int width = titleWidth > textW ? titleWidth : textW;
    if (width < 320) width = 320;
    const int height = textH < 160 ? 160 : textH;
    ::MoveWindow(m_hWnd, work.left, work.top, width, height, FALSE);
    ::ReleaseDC(m_hWnd, dc);
    return TRUE;
}
