#include "bkview.h"

#include <stdio.h>
#include <string.h>

#include <shellapi.h>
#include <tinyxml.h>

#include "bkedit.h"
#include "bkres.h"
#include "bkstyle.h"
#include "bkwndreg.h"

BkViewSeams& BkViewSeamTable() {
    static BkViewSeams seams = {&::ShellExecuteW};
    return seams;
}

CBkDialogView::CBkDialogView() {}

CBkDialogView::~CBkDialogView() {
    ClearPanels();
    if (m_hUpdateRgn) ::DeleteObject(m_hUpdateRgn);
    if (m_hBackBuffer) ::DeleteObject(m_hBackBuffer);
}

void CBkDialogView::ClearPanels() {
    m_header.SendToSelf(WM_DESTROY, 0, 0);
    m_body.SendToSelf(WM_DESTROY, 0, 0);
    m_footer.SendToSelf(WM_DESTROY, 0, 0);
}

// ---- loading -----------------------------------------------------------------------------------

static int IntAttribute(TiXmlElement* xml, const char* name) {
    int v = 0;
    const char* text = xml ? xml->Attribute(name) : nullptr;
    if (text && sscanf(text, "%d", &v) != 1) v = 0;
    return v;
}

void CBkDialogView::InvalidateAll() {
    m_bFullRedraw = TRUE;
    m_bNeedRedraw = TRUE;
    if (m_hUpdateRgn) {
        ::DeleteObject(m_hUpdateRgn);
        m_hUpdateRgn = nullptr;
    }
    if (IsWindow()) InvalidateRect(nullptr, FALSE);
}

BOOL CBkDialogView::LoadLayout(const std::string& utf8) {
    m_bLayoutLoaded = FALSE;
    m_dwDlgStyle = kBkDialogBaseStyle;
    m_dwDlgExStyle = 0;
    ClearPanels();
    m_bHeaderPresent = m_bBodyPresent = m_bFooterPresent = FALSE;

    TiXmlDocument doc;
    doc.Parse(utf8.c_str(), nullptr, TIXML_ENCODING_UTF8);
    TiXmlElement* layer = doc.Error() ? nullptr : doc.FirstChildElement();
    if (!layer || strcmp(layer->Value(), "layer") != 0) {
        InvalidateAll();
        return FALSE;
    }

    const char* title = layer->Attribute("title");
    m_strTitle = title ? BkUtf8ToWide(title).c_str() : L"";
    m_nWidth = IntAttribute(layer, "width");
    m_nHeight = IntAttribute(layer, "height");
    if (IntAttribute(layer, "appwin")) m_dwDlgExStyle |= kBkDialogAppWinExStyle;
    if (IntAttribute(layer, "resize")) m_dwDlgStyle |= kBkDialogResizeStyle;
    if (IntAttribute(layer, "noborder")) m_dwDlgExStyle |= kBkDialogNoBorderExStyle;
    else m_dwDlgExStyle |= kBkDialogBorderExStyle;

    char pos[64];
    TiXmlElement* header = layer->FirstChildElement("header");
    m_bHeaderPresent = header ? m_header.Load(header) : FALSE;
    if (m_bHeaderPresent) {
        snprintf(pos, sizeof(pos), "0,0,-0,%d", IntAttribute(header, "height"));
        m_header.SetAttribute("pos", pos, TRUE);
    }
    TiXmlElement* footer = layer->FirstChildElement("footer");
    m_bFooterPresent = footer ? m_footer.Load(footer) : FALSE;
    if (m_bFooterPresent) {
        snprintf(pos, sizeof(pos), "0,-%d,-0,-0", IntAttribute(footer, "height"));
        m_footer.SetAttribute("pos", pos, TRUE);
    }
    TiXmlElement* body = layer->FirstChildElement("body");
    m_bBodyPresent = body ? m_body.Load(body) : FALSE;
    if (m_bBodyPresent) m_body.SetAttribute("pos", "0,0,-0,-0", TRUE);

    m_bLayoutLoaded = TRUE;
    if (IsWindow()) {
        // The new elements live in this window.
        m_header.SetContainerWindow(m_hWnd);
        m_body.SetContainerWindow(m_hWnd);
        m_footer.SetContainerWindow(m_hWnd);
        InvalidateAll();
        m_hHover = m_hPushDown = 0;
    }
    return TRUE;
}

BOOL CBkDialogView::LoadPanelXml(int id, const std::string& utf8) {
    TiXmlDocument doc;
    doc.Parse(utf8.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (doc.Error()) return FALSE;
    CBkWindow* item = FindItem(id);
    if (!item || !(item->IsTag(CBkDialog::kTag) || item->IsTag(CBkPanel::kTag) || item->IsTag(CBkTab::kTag) ||
                   item->IsTag(CBkDialogFile::kTag)))
        return FALSE;
    CBkPanel* panel = static_cast<CBkPanel*>(item);
    panel->LoadChildren(doc.FirstChildElement());
    panel->RepositionChildren();
    RedrawItem(panel, TRUE);
    if (!(panel->GetState() & kBkStateHidden)) panel->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    return TRUE;
}

HWND CBkDialogView::Create(HWND dialog, UINT id) {
    if (IsWindow()) return m_hWnd;
    HWND h = CWindowImpl<CBkDialogView, CWindow, CBkViewTraits>::Create(
        dialog, nullptr, m_strTitle.IsEmpty() ? nullptr : m_strTitle.GetString(), 0, 0, id);
    if (!h) return nullptr;
    m_header.SetContainerWindow(m_hWnd);
    m_body.SetContainerWindow(m_hWnd);
    m_footer.SetContainerWindow(m_hWnd);

    m_hWndToolTip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      CW_USEDEFAULT, m_hWnd, nullptr, WinModuleInstance(), nullptr);
    if (m_hWndToolTip) {
        TOOLINFOW ti = {};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.uFlags = TTF_IDISHWND;
        ti.hwnd = ::GetParent(m_hWnd);
        ti.uId = (UINT_PTR)m_hWnd;
        ti.hinst = WinModuleInstance();
        ti.lpszText = LPSTR_TEXTCALLBACKW;
        ::SendMessageW(m_hWndToolTip, TTM_ADDTOOLW, 0, (LPARAM)&ti);
        ::SendMessageW(m_hWndToolTip, TTM_ACTIVATE, TRUE, 0);
    }
    if (m_hUpdateRgn) {
        ::DeleteObject(m_hUpdateRgn);
        m_hUpdateRgn = nullptr;
    }
    return h;
}

void CBkDialogView::ShowAllRealWindows() {
    if (m_bHeaderPresent) m_header.ShowChildren(TRUE);
    if (m_bFooterPresent) m_footer.ShowChildren(TRUE);
    if (m_bBodyPresent) m_body.ShowChildren(TRUE);
}

// ---- items -------------------------------------------------------------------------------------

CBkWindow* CBkDialogView::FindItem(int id) {
    CBkWindow* item = m_header.FindChild(id);
    if (!item) item = m_body.FindChild(id);
    if (!item) item = m_footer.FindChild(id);
    return item;
}

void CBkDialogView::AddToUpdate(const RECT& rc) {
    if (!m_hUpdateRgn) {
        m_hUpdateRgn = ::CreateRectRgnIndirect(&rc);
    } else {
        HRGN add = ::CreateRectRgnIndirect(&rc);
        if (add) {
            ::CombineRgn(m_hUpdateRgn, m_hUpdateRgn, add, RGN_OR);
            ::DeleteObject(add);
        }
    }
    if (IsWindow()) InvalidateRect(&rc, FALSE);
    m_bNeedRedraw = TRUE;
}

void CBkDialogView::RedrawItem(CBkWindow* element, BOOL checkHidden) {
    if (!element) return;
    if (checkHidden && !element->IsVisibleDeep()) return;
    AddToUpdate(element->GetRect());
}

BOOL CBkDialogView::SetItemText(int id, LPCWSTR text) {
    CBkWindow* item = FindItem(id);
    if (!item) return FALSE;
    RedrawItem(item, TRUE);
    item->SetText(text);
    RedrawItem(item, TRUE);
    return TRUE;
}

CString CBkDialogView::GetItemText(int id) {
    CBkWindow* item = FindItem(id);
    return item ? item->GetInnerText() : CString();
}

BOOL CBkDialogView::SetItemAttribute(int id, const char* name, const char* value) {
    CBkWindow* item = FindItem(id);
    if (!item || !name) return FALSE;
    RedrawItem(item, TRUE);
    item->SetAttribute(name, value ? value : "", FALSE);
    RedrawItem(item, TRUE);
    return TRUE;
}

BOOL CBkDialogView::SetItemIntAttribute(int id, const char* name, UINT value) {
    char text[16];
    snprintf(text, sizeof(text), "%u", value);
    return SetItemAttribute(id, name, text);
}

BOOL CBkDialogView::GetItemCheck(int id) {
    CBkWindow* item = FindItem(id);
    return item && (item->GetState() & kBkStateChecked) ? TRUE : FALSE;
}

BOOL CBkDialogView::SetItemCheck(int id, BOOL check) {
    CBkWindow* item = FindItem(id);
    if (!item) return FALSE;
    if (check) item->ModifyState(kBkStateChecked, 0);
    else item->ModifyState(0, kBkStateChecked);
    RedrawItem(item, TRUE);
    return TRUE;
}

BOOL CBkDialogView::EnableItem(int id, BOOL enable) {
    CBkWindow* item = FindItem(id);
    if (!item) return FALSE;
    if (enable) item->ModifyState(0, kBkStateDisabled);
    else item->ModifyState(kBkStateDisabled, kBkStateHover);
    RedrawItem(item, TRUE);
    return TRUE;
}

BOOL CBkDialogView::SetItemVisible(int id, BOOL visible) {
    CBkWindow* item = FindItem(id);
    if (!item) return FALSE;
    item->SendToSelf(WM_SHOWWINDOW, visible, 0);
    RedrawItem(item, FALSE);  // the area it covered, whether it now shows or not
    return TRUE;
}

BOOL CBkDialogView::SetTabCurSel(int id, int page) {
    CBkWindow* item = FindItem(id);
    if (!item || !item->IsTag(CBkTabCtrl::kTag)) return FALSE;
    return static_cast<CBkTabCtrl*>(item)->SetCurSel(page);
}

// ---- layout and painting -----------------------------------------------------------------------

void CBkDialogView::Relayout() {
    if (m_hBackBuffer) {
        ::DeleteObject(m_hBackBuffer);
        m_hBackBuffer = nullptr;
    }
    RECT client;
    GetClientRect(&client);
    const int cx = client.right - client.left, cy = client.bottom - client.top;
    if (cx == 0) return;  // minimised: nothing to lay out
    BkCreateBlackBitmap(m_hBackBuffer, cx, cy);

    WINDOWPOS wp = {};
    wp.x = client.left;
    wp.y = client.top;
    wp.cx = cx;
    wp.cy = cy;
    wp.flags = SWP_SHOWWINDOW;
    int headerBottom = 0;
    if (m_bHeaderPresent) {
        m_header.SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
        headerBottom = m_header.GetRect().bottom;
    }
    int footerHeight = 0;
    if (m_bFooterPresent) {
        m_footer.SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
        const int t = m_footer.GetRect().top, b = m_footer.GetRect().bottom;
        WINDOWPOS fp = wp;
        fp.y = t + (client.bottom - b);
        fp.cy = b - t;
        m_footer.SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&fp);
        footerHeight = b - t;
    }
    if (m_bBodyPresent) {
        WINDOWPOS bp = wp;
        bp.y = headerBottom;
        bp.cy = client.bottom - footerHeight - headerBottom;
        m_body.SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&bp);
    }
    InvalidateAll();
}

void CBkDialogView::PaintTo(HDC target) {
    if (m_bFullRedraw) {
        if (m_hUpdateRgn) {
            ::DeleteObject(m_hUpdateRgn);
            m_hUpdateRgn = nullptr;
        }
        m_bFullRedraw = FALSE;
    }
    if (m_bNeedRedraw && m_hBackBuffer) {
        HDC screen = ::GetDC(nullptr);
        HDC mem = ::CreateCompatibleDC(screen);
        ::ReleaseDC(nullptr, screen);
        if (mem) {
            HGDIOBJ oldBmp = ::SelectObject(mem, m_hBackBuffer);
            HFONT font = BkFontPool::GetFont(0);
            HGDIOBJ oldFont = font ? ::SelectObject(mem, font) : nullptr;
            ::SetBkMode(mem, TRANSPARENT);
            if (m_hUpdateRgn) ::SelectClipRgn(mem, m_hUpdateRgn);
            if (m_bHeaderPresent) m_header.PaintInRegion(mem, m_hUpdateRgn);
            if (m_bBodyPresent) m_body.PaintInRegion(mem, m_hUpdateRgn);
            if (m_bFooterPresent) m_footer.PaintInRegion(mem, m_hUpdateRgn);
            ::SelectClipRgn(mem, nullptr);
            if (oldFont) ::SelectObject(mem, oldFont);
            ::SelectObject(mem, oldBmp);
            ::DeleteDC(mem);
        }
        if (m_hUpdateRgn) {
            ::DeleteObject(m_hUpdateRgn);
            m_hUpdateRgn = nullptr;
        }
        m_bNeedRedraw = FALSE;
    }
    if (!m_hBackBuffer) return;
    HDC mem = ::CreateCompatibleDC(target);
    if (!mem) return;
    HGDIOBJ old = ::SelectObject(mem, m_hBackBuffer);
    BITMAP bm = {};
    ::GetObjectW(m_hBackBuffer, sizeof(bm), &bm);
    ::BitBlt(target, 0, 0, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
}

LRESULT CBkDialogView::OnSize(UINT, WPARAM, LPARAM, BOOL&) {
    Relayout();
    return 0;
}

LRESULT CBkDialogView::OnPrintClient(UINT, WPARAM wParam, LPARAM, BOOL&) {
    if (wParam) PaintTo((HDC)wParam);
    return 0;
}

LRESULT CBkDialogView::OnPaint(UINT, WPARAM, LPARAM, BOOL&) {
    PAINTSTRUCT ps = {};
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    if (dc) PaintTo(dc);
    ::EndPaint(m_hWnd, &ps);
    return 0;
}

LRESULT CBkDialogView::OnDestroy(UINT, WPARAM, LPARAM, BOOL&) {
    if (m_hBackBuffer) {
        ::DeleteObject(m_hBackBuffer);
        m_hBackBuffer = nullptr;
    }
    m_hWndToolTip = nullptr;  // a child of the view: it goes with it
    m_bTrackingLeave = FALSE;
    m_bCaptured = FALSE;
    return 0;
}

LRESULT CBkDialogView::OnEraseBkgnd(UINT, WPARAM, LPARAM, BOOL&) { return 1; }

// ---- mouse -------------------------------------------------------------------------------------

LRESULT CBkDialogView::OnToolTipRelay(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (m_hWndToolTip && ::IsWindow(m_hWndToolTip)) {
        MSG m = {};
        m.hwnd = m_hWnd;
        m.message = msg;
        m.wParam = wParam;
        m.lParam = lParam;
        ::SendMessageW(m_hWndToolTip, TTM_RELAYEVENT, 0, (LPARAM)&m);
    }
    handled = FALSE;
    return 0;
}

HBKWND CBkDialogView::HitTestPanels(POINT pt) {
    HBKWND hit = m_header.HitTest(pt);
    if (!hit) hit = m_body.HitTest(pt);
    if (!hit) hit = m_footer.HitTest(pt);
    return hit;
}

void CBkDialogView::SetHover(CBkWindow* element, BOOL on) {
    if (!element) return;
    if (on) element->ModifyState(kBkStateHover, 0);
    else element->ModifyState(0, kBkStateHover);
    if (element->RedrawsOnStateChange()) RedrawItem(element, TRUE);
}

void CBkDialogView::SetPushed(CBkWindow* element, BOOL on) {
    if (!element) return;
    if (on) element->ModifyState(kBkStatePushed, 0);
    else element->ModifyState(0, kBkStatePushed);
    if (element->RedrawsOnStateChange()) RedrawItem(element, TRUE);
}

void CBkDialogView::UpdateToolTip(CBkWindow* element) {
    if (!m_hWndToolTip) return;
    TOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = ::GetParent(m_hWnd);
    ti.uId = (UINT_PTR)m_hWnd;
    ti.hinst = WinModuleInstance();
    const CString& tip = element ? element->GetToolTipText() : CString();
    ti.lpszText = tip.IsEmpty() ? nullptr : const_cast<LPWSTR>(tip.GetString());
    ::SendMessageW(m_hWndToolTip, TTM_UPDATETIPTEXTW, 0, (LPARAM)&ti);
}

LRESULT CBkDialogView::OnMouseMove(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    if (!m_bTrackingLeave) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
        m_bTrackingLeave = ::TrackMouseEvent(&tme);
        NMHDR nm = {m_hWnd, (UINT_PTR)GetDlgCtrlID(), kBkNotifyMouseEnter};
        ::SendMessageW(GetParent(), WM_NOTIFY, nm.idFrom, (LPARAM)&nm);
    }
    POINT pt = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    const HBKWND hit = HitTestPanels(pt);
    FollowPress(hit);
    CBkWindow* element = BkWindowRegistry::Find(hit);
    if (!element) {
        // Off every element (only while the capture holds the mouse: outside the view): what was
        // hovered is not under the pointer any more.
        if (CBkWindow* old = BkWindowRegistry::Find(m_hHover)) {
            if (!old->IsDisabledDeep()) {
                SetHover(old, FALSE);
                old->SendToSelf(WM_MOUSELEAVE, 0, 0);
            }
            m_hHover = 0;
            UpdateToolTip(nullptr);
        }
        return 0;
    }
    if (!element->IsDisabledDeep()) element->SendToSelf(WM_MOUSEMOVE, wParam, lParam);
    if (hit != m_hHover) {
        CBkWindow* old = BkWindowRegistry::Find(m_hHover);
        if (old && !old->IsDisabledDeep()) {
            SetHover(old, FALSE);
            old->SendToSelf(WM_MOUSELEAVE, 0, 0);
        }
        element = BkWindowRegistry::Find(hit);  // the old one's leave may have changed the tree
        if (element && !element->IsDisabledDeep()) SetHover(element, TRUE);
        m_hHover = hit;
        UpdateToolTip(element);
    }
    return 0;
}

void CBkDialogView::FollowPress(HBKWND underPointer) {
    CBkWindow* pushed = BkWindowRegistry::Find(m_hPushDown);
    if (!pushed) return;
    const BOOL over = underPointer == m_hPushDown;
    if (((pushed->GetState() & kBkStatePushed) != 0) != (over != 0)) SetPushed(pushed, over);
}

void CBkDialogView::CancelPress() {
    if (CBkWindow* pushed = BkWindowRegistry::Find(m_hPushDown)) SetPushed(pushed, FALSE);
    m_hPushDown = 0;
}

LRESULT CBkDialogView::OnMouseLeave(UINT, WPARAM, LPARAM, BOOL&) {
    m_bTrackingLeave = FALSE;
    if (CBkWindow* hover = BkWindowRegistry::Find(m_hHover)) {
        SetHover(hover, FALSE);
        hover->SendToSelf(WM_MOUSELEAVE, 0, 0);
    }
    m_hHover = 0;
    // With the button still held the press goes on: the element looks pressed again when the
    // pointer comes back. Without the capture the press is over.
    if (m_bCaptured && ::GetCapture() == m_hWnd) FollowPress(0);
    else CancelPress();
    NMHDR nm = {m_hWnd, (UINT_PTR)GetDlgCtrlID(), kBkNotifyMouseLeave};
    ::SendMessageW(GetParent(), WM_NOTIFY, nm.idFrom, (LPARAM)&nm);
    return 0;
}

// The dialog is dragged only when it is neither minimised nor maximised.
enum : DWORD { kBkNoDragStyle = 0x21000000 };  // WS_MINIMIZE | WS_MAXIMIZE
static_assert(kBkNoDragStyle == (WS_MINIMIZE | WS_MAXIMIZE), "the flags the drag check holds");

LRESULT CBkDialogView::OnLButtonDown(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    POINT pt = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    HBKWND hit = m_header.HitTest(pt);
    if (hit) {
        CBkWindow* element = BkWindowRegistry::Find(hit);
        if (element && !element->IsTag("button") && !element->IsTag("imgbtn") && !element->IsTag("link")) {
            HWND dialog = GetParent();
            if (!(::GetWindowLongPtrW(dialog, GWL_STYLE) & kBkNoDragStyle))
                ::SendMessageW(dialog, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
            return 0;
        }
    } else {
        hit = m_body.HitTest(pt);
        if (!hit) hit = m_footer.HitTest(pt);
    }
    CBkWindow* element = BkWindowRegistry::Find(hit);
    if (!element || element->IsDisabledDeep() || m_bCaptured) return 0;
    ::SetCapture(m_hWnd);
    m_bCaptured = TRUE;
    m_hHover = hit;
    m_hPushDown = hit;
    SetPushed(element, TRUE);
    element->SendToSelf(WM_LBUTTONDOWN, wParam, lParam);
    return 0;
}

LRESULT CBkDialogView::OnLButtonUp(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    if (m_bCaptured) {
        m_bCaptured = FALSE;  // first: our own release is no capture taken away
        ::ReleaseCapture();
    }
    if (!m_hPushDown) return 0;
    // A click needs the button to go up over the element it went down on. The hovered item is not
    // enough: under the capture the pointer may have left the element, or the view, meanwhile.
    const POINT pt = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    RECT client = {};
    GetClientRect(&client);
    const BOOL over = ::PtInRect(&client, pt) && HitTestPanels(pt) == m_hPushDown;
    BOOL click = FALSE;
    int cmdId = 0;
    const char* tag = nullptr;
    if (CBkWindow* pushed = BkWindowRegistry::Find(m_hPushDown)) {
        SetPushed(pushed, FALSE);
        // An element disabled while the button was down (the program's own doing) takes no click.
        if (over && !pushed->IsDisabledDeep()) {
            pushed->SendToSelf(WM_LBUTTONUP, wParam, lParam);
            pushed = BkWindowRegistry::Find(m_hPushDown);  // the element may have gone meanwhile
            if (pushed && !pushed->GetLink().IsEmpty()) {
                BkViewSeamTable().shellExecute(nullptr, L"open", pushed->GetLink().GetString(), nullptr, nullptr,
                                               SW_SHOWNORMAL);
            } else if (pushed && pushed->GetCmdID() != 0) {
                click = TRUE;
                cmdId = pushed->GetCmdID();
                tag = pushed->TagName();
            }
        }
    }
    m_hPushDown = 0;
    if (click) {
        BkCommandNotify nms = {};
        nms.hdr.hwndFrom = m_hWnd;
        nms.hdr.idFrom = (UINT_PTR)GetDlgCtrlID();
        nms.hdr.code = kBkNotifyCommand;
        nms.uItemID = (UINT)cmdId;
        nms.szItemClass = tag;
        ::SendMessageW(GetParent(), WM_NOTIFY, nms.hdr.idFrom, (LPARAM)&nms);
    }
    return 0;
}

LRESULT CBkDialogView::OnCaptureChanged(UINT, WPARAM, LPARAM lParam, BOOL&) {
    // Another window took the mouse (the combo's drop list, a menu, another program): the press
    // ends without a click, and the next press must not find a capture we no longer hold.
    if (!m_bCaptured || (HWND)lParam == m_hWnd) return 0;
    m_bCaptured = FALSE;
    CancelPress();
    return 0;
}

LRESULT CBkDialogView::OnLButtonDblClk(UINT, WPARAM, LPARAM, BOOL&) { return 0; }

LRESULT CBkDialogView::OnSetCursor(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    HWND dialog = GetParent();
    // Only the dialog's sizing border has a cursor of the dialog's own; over the client area its
    // default answer (the class arrow) would hide every element's cursor.
    if ((m_dwDlgStyle & WS_THICKFRAME) && !::IsZoomed(dialog) && LOWORD(lParam) != HTCLIENT &&
        ::SendMessageW(dialog, WM_SETCURSOR, wParam, lParam))
        return TRUE;
    POINT pt;
    ::GetCursorPos(&pt);
    ScreenToClient(&pt);
    CBkWindow* element = BkWindowRegistry::Find(HitTestPanels(pt));
    if (element && !element->IsDisabledDeep()) {
        HWND real = nullptr;
        if (element->IsTag("realwnd")) {
            real = element->GetContainerWindow() ? ::GetDlgItem(element->GetContainerWindow(), element->GetCmdID())
                                                 : nullptr;
        } else if (element->IsTag("edit")) {
            real = static_cast<CBkEdit*>(element)->GetEditWindow();
        }
        if (real) ::SendMessageW(real, WM_SETCURSOR, wParam, lParam);
        else element->SetCursor();
    } else {
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    }
    return TRUE;
}

LRESULT CBkDialogView::OnMouseWheel(UINT, WPARAM, LPARAM, BOOL&) { return 0; }

LRESULT CBkDialogView::OnNotify(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    NMHDR* hdr = (NMHDR*)lParam;
    if (!hdr) return 0;
    if (hdr->code == kBkNotifyRedraw) {
        AddToUpdate(((BkRedrawNotify*)lParam)->rcWnd);
        return 0;
    }
    if (hdr->code == (UINT)NM_CUSTOMDRAW) {
        BOOL reflected = TRUE;
        LRESULT r = WinReflectNotification(m_hWnd, msg, wParam, lParam, reflected);
        if (reflected) return r;
    }
    handled = TRUE;
    return ::SendMessageW(GetParent(), msg, wParam, lParam);
}

LRESULT CBkDialogView::OnForward(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    return ::SendMessageW(GetParent(), msg, wParam, lParam);
}
