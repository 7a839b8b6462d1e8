// A stub of a skinned dialog for the tests of elements with real windows (edit, combo, rich text):
// a top-level "dialog" holding one "view" child (control id 1000) that hosts elements.
//  - The view routes the mouse to its elements as the dialog view does (hover, press, leave),
//    paints them, invalidates what they ask to redraw, records the redraw requests, the moved
//    notifications and the combo's selection message 0x8D3, and passes WM_COMMAND to the dialog.
//  - The dialog reflects child WM_COMMAND back to the sending window (WM_COMMAND + 0x2000) at the
//    end of its map, as the program's dialogs do, unless told not to; it records the WM_NOTIFY
//    clicks that reach it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "bkcombo.h"
#include "bkwnd.h"
#include "bkwndreg.h"
#include "winlayer/window.h"

namespace rh {

// An element of class T loaded from one XML element; null when the text does not parse or the tag
// is not T's.
template <class T>
T* Load(const std::string& xml) {
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    TiXmlElement* e = doc.FirstChildElement();
    if (!e) return nullptr;
    T* w = T::CreateIfTag(e->Value());
    if (w && !w->Load(e)) {
        delete w;
        return nullptr;
    }
    return w;
}

struct Click {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT item;
    std::string tag;
};
struct Redraw {
    HBKWND handle;
    RECT rc;
};
struct Moved {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT item;
    RECT rc;
};
struct Selection {
    WPARAM index;
    std::wstring text;
    std::wstring watchedText;  // the text of the view's child Host::watchId at that moment
};

class Host;

class View : public CWindowImpl<View, CWindow, CWinTraits<WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0>> {
public:
    explicit View(Host* host) : m_host(host) {}
    BEGIN_MSG_MAP(View)
        MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
        MESSAGE_HANDLER(WM_COMMAND, OnCommand)
        MESSAGE_HANDLER(kBkMsgComboSelChanged, OnSelChanged)
        MESSAGE_RANGE_HANDLER(WM_MOUSEFIRST, WM_MOUSELAST, OnMouse)
        MESSAGE_HANDLER(WM_MOUSELEAVE, OnMouseLeave)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnErase)
        MESSAGE_HANDLER(WM_PAINT, OnPaint)
        MESSAGE_HANDLER(WM_PRINTCLIENT, OnPaint)
    END_MSG_MAP()

    LRESULT OnNotify(UINT, WPARAM wParam, LPARAM lParam, BOOL&);
    LRESULT OnCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
        return ::SendMessageW(GetParent(), WM_COMMAND, wParam, lParam);  // the view passes it on
    }
    LRESULT OnSelChanged(UINT, WPARAM wParam, LPARAM lParam, BOOL&);
    LRESULT OnMouse(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnMouseLeave(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnErase(UINT, WPARAM, LPARAM, BOOL&) { return 1; }
    LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM, BOOL&);

private:
    Host* m_host;
};

class Dialog : public CWindowImpl<Dialog, CWindow, CWinTraits<WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0>> {
public:
    explicit Dialog(Host* host) : m_host(host) {}
    BEGIN_MSG_MAP(Dialog)
        MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
        MESSAGE_HANDLER(WM_COMMAND, OnCommand)
        MESSAGE_HANDLER(WM_SYSCOMMAND, OnSysCommand)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    LRESULT OnNotify(UINT, WPARAM, LPARAM lParam, BOOL&);
    // Reflection off: the command stops here, as in a dialog that does not reflect.
    LRESULT OnCommand(UINT, WPARAM, LPARAM, BOOL& handled);
    LRESULT OnSysCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
        handled = (wParam & 0xFFF0) == SC_MOVE;  // no move loop in a test
        return 0;
    }

private:
    Host* m_host;
};

class Host {
public:
    // The dialog at (x, y) of the screen, the view filling it.
    Host(int cx = 500, int cy = 300, bool reflect = true, int x = 60, int y = 60)
        : reflect(reflect), m_dialog(this), m_view(this) {
        RECT rc = {x, y, x + cx, y + cy};
        m_dialog.Create(nullptr, &rc, L"host", 0, 0);
        RECT vr = {0, 0, cx, cy};
        if (m_dialog.m_hWnd) m_view.Create(m_dialog.m_hWnd, &vr, L"", 0, 0, 1000);
        if (m_dialog.m_hWnd) {
            ::SetForegroundWindow(m_dialog.m_hWnd);
            ::UpdateWindow(m_dialog.m_hWnd);
        }
    }
    ~Host() {
        if (m_dialog.m_hWnd) m_dialog.DestroyWindow();
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool ok() const { return m_view.m_hWnd != nullptr; }
    HWND view() const { return m_view.m_hWnd; }
    HWND dialog() const { return m_dialog.m_hWnd; }

    // Hosts the element and places it as a panel filling the view would: at the origin its "pos"
    // gives, offering the view's whole client size.
    void Add(CBkWindow* w) {
        w->SetContainerWindow(view());
        elements.push_back(w->GetHandle());
        RECT rc = {};
        ::GetClientRect(view(), &rc);
        WINDOWPOS pos = {};
        if (w->GetPosCount() >= 2) {
            pos.x = BkResolvePos(w->GetPos()[0], rc.right);
            pos.y = BkResolvePos(w->GetPos()[1], rc.bottom);
        }
        pos.cx = rc.right;
        pos.cy = rc.bottom;
        w->SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&pos);
    }

    CBkWindow* Hit(POINT pt) {
        for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
            CBkWindow* w = BkWindowRegistry::Find(*it);
            if (w && w->IsVisibleDeep() && w->HitTest(pt)) return w;
        }
        return nullptr;
    }

    bool reflect;
    int watchId = 0;
    std::vector<HBKWND> elements;
    HBKWND hover = 0;
    std::vector<Click> clicks;
    std::vector<Redraw> redraws;
    std::vector<Moved> moved;
    std::vector<Selection> selections;
    std::function<void()> onSelection;  // runs inside the selection notice, after it is recorded
    std::vector<UINT> commandCodes;  // notification codes of the WM_COMMAND the dialog got

private:
    Dialog m_dialog;
    View m_view;
};

inline LRESULT View::OnNotify(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    const NMHDR* hdr = (const NMHDR*)lParam;
    if (hdr->code == kBkNotifyRedraw) {
        const BkRedrawNotify* n = (const BkRedrawNotify*)lParam;
        m_host->redraws.push_back({n->hbkWnd, n->rcWnd});
        InvalidateRect(&n->rcWnd, FALSE);
        return 0;
    }
    if (hdr->code == kBkNotifyRealWndMoved) {
        const BkRealWndMovedNotify* n = (const BkRealWndMovedNotify*)lParam;
        m_host->moved.push_back({hdr->hwndFrom, hdr->idFrom, n->uItemID, n->rcWnd});
        return 0;
    }
    return ::SendMessageW(GetParent(), WM_NOTIFY, wParam, lParam);
}

inline LRESULT View::OnSelChanged(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    wchar_t watched[260] = {};
    if (m_host->watchId) ::GetWindowTextW(GetDlgItem(m_host->watchId), watched, 260);
    m_host->selections.push_back({wParam, lParam ? (LPCWSTR)lParam : L"", watched});
    if (m_host->onSelection) {
        auto handler = m_host->onSelection;  // a handler may clear itself
        handler();
    }
    return 0;
}

inline LRESULT View::OnMouse(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (msg == WM_MOUSEWHEEL) {
        // The wheel goes to the element under the cursor.
        POINT s = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        ScreenToClient(&s);
        if (CBkWindow* w = m_host->Hit(s)) w->SendToSelf(msg, wParam, lParam);
        return 0;
    }
    const POINT pt = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    CBkWindow* w = m_host->Hit(pt);
    if (msg == WM_MOUSEMOVE) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
        ::TrackMouseEvent(&tme);
        const HBKWND now = w ? w->GetHandle() : 0;
        if (now != m_host->hover) {
            if (CBkWindow* old = BkWindowRegistry::Find(m_host->hover)) {
                old->ModifyState(0, kBkStateHover);
                old->SendToSelf(WM_MOUSELEAVE, 0, 0);
            }
            if (w && !w->IsDisabledDeep()) w->ModifyState(kBkStateHover, 0);
            m_host->hover = now;
        }
    }
    if (!w || w->IsDisabledDeep()) {
        handled = msg == WM_MOUSEMOVE || msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP;
        return 0;
    }
    w->SendToSelf(msg, wParam, lParam);
    return 0;
}

inline LRESULT View::OnMouseLeave(UINT, WPARAM, LPARAM, BOOL&) {
    if (CBkWindow* old = BkWindowRegistry::Find(m_host->hover)) {
        old->ModifyState(0, kBkStateHover);
        old->SendToSelf(WM_MOUSELEAVE, 0, 0);
    }
    m_host->hover = 0;
    return 0;
}

inline LRESULT View::OnPaint(UINT msg, WPARAM wParam, LPARAM, BOOL&) {
    PAINTSTRUCT ps = {};
    HDC dc = msg == WM_PAINT ? ::BeginPaint(m_hWnd, &ps) : (HDC)wParam;
    RECT rc = {};
    GetClientRect(&rc);
    const COLORREF old = ::SetBkColor(dc, RGB(0xFF, 0xFF, 0xFF));
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(dc, old);
    // As the view's memory DC: transparent background, black text.
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(0, 0, 0));
    for (HBKWND h : m_host->elements) {
        CBkWindow* w = BkWindowRegistry::Find(h);
        if (w && w->IsVisibleDeep()) w->PaintInRegion(dc, nullptr);
    }
    if (msg == WM_PAINT) ::EndPaint(m_hWnd, &ps);
    return 0;
}

inline LRESULT Dialog::OnNotify(UINT, WPARAM, LPARAM lParam, BOOL&) {
    const NMHDR* hdr = (const NMHDR*)lParam;
    if (hdr->code == kBkNotifyCommand) {
        const BkCommandNotify* n = (const BkCommandNotify*)lParam;
        m_host->clicks.push_back({hdr->hwndFrom, hdr->idFrom, n->uItemID, n->szItemClass ? n->szItemClass : ""});
    }
    return 0;
}

inline LRESULT Dialog::OnCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    m_host->commandCodes.push_back(HIWORD(wParam));
    handled = !m_host->reflect;  // with reflection the map's end sends it back to the control
    return 0;
}

// Types the text into whatever window has the keyboard focus, through the system's input queue.
inline void TypeText(const std::wstring& text) {
    for (wchar_t ch : text) {
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wScan = in[1].ki.wScan = ch;
        in[0].ki.dwFlags = KEYEVENTF_UNICODE;
        in[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        ::SendInput(2, in, sizeof(INPUT));
    }
}

}  // namespace rh
