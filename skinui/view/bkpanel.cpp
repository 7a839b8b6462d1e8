#include "bkpanel.h"

#include <shlwapi.h>
#include <string.h>

#include <tinyxml.h>

#include "bkres.h"
#include "bktabctrl.h"
#include "bkwndreg.h"

const char* const CBkPanel::kTag = "div";
const char* const CBkDialog::kTag = "dlg";
const char* const CBkDialogFile::kTag = "dlgfile";

// ---- CBkPanel ----------------------------------------------------------------------------------

CBkPanel::~CBkPanel() {
    // Children normally go with WM_DESTROY; a panel deleted without it must not leak them.
    DestroyChildren();
}

BOOL CBkPanel::IsTag(const char* tag) const { return tag && strcmp(tag, kTag) == 0; }

BOOL CBkPanel::Load(TiXmlElement* xml) {
    if (!CBkWindow::Load(xml)) return FALSE;
    return LoadChildren(xml->FirstChildElement());
}

HRESULT CBkPanel::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    if (name == "onlydrawchild") {
        m_nOnlyDrawChild = StrToIntA(value.c_str());
        return S_FALSE;
    }
    return E_FAIL;
}

void CBkPanel::SetContainerWindow(HWND hWnd) {
    CBkWindow::SetContainerWindow(hWnd);
    for (CBkWindow* child : m_children) child->SetContainerWindow(hWnd);
}

void CBkPanel::DestroyChildren() {
    // Taken out of the list first, so that nothing reached while a child goes sees it half-gone.
    std::vector<CBkWindow*> children;
    children.swap(m_children);
    for (CBkWindow* child : children) {
        child->SendToSelf(WM_DESTROY, 0, 0);
        delete child;
    }
}

BOOL CBkPanel::LoadChildren(TiXmlElement* first) {
    SendToSelf(WM_DESTROY, 0, 0);
    m_children.reserve(10);
    for (TiXmlElement* xml = first; xml; xml = xml->NextSiblingElement()) {
        CBkWindow* child = CreateChildByTag(xml->Value());
        if (!child) continue;  // unknown tag: the element and its subtree are skipped
        child->SetParent(m_hBkWnd);
        child->SetContainerWindow(m_hWndContainer);
        child->Load(xml);  // kept even when its load fails
        m_children.push_back(child);
    }
    return TRUE;
}

HBKWND CBkPanel::HitTest(POINT pt) {
    if (!::PtInRect(&m_rcWindow, pt)) return 0;
    if (m_nOnlyDrawChild) return m_hBkWnd;
    // Floating children lie over the flow: they are asked first, later children before earlier.
    for (int pass = 0; pass < 2; ++pass) {
        const BOOL wantFloat = pass == 0;
        for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
            CBkWindow* child = *it;
            if (((child->GetSizeMode() & kBkSizeFloat) != 0) != wantFloat) continue;
            if ((child->GetState() & kBkStateHidden) || child->GetTransparent()) continue;
            HBKWND hit = child->HitTest(pt);
            if (hit) return hit;
        }
    }
    return m_hBkWnd;
}

CBkWindow* CBkPanel::FindChild(int cmdId) {
    for (CBkWindow* child : m_children)
        if (child->GetCmdID() == cmdId) return child;
    for (CBkWindow* child : m_children) {
        if (!child->IsContainer()) continue;
        CBkWindow* found = static_cast<CBkContainerWnd*>(child)->FindChild(cmdId);
        if (found) return found;
    }
    return nullptr;
}

BOOL CBkPanel::PaintInRegion(HDC dc, HRGN region) {
    if (!CBkWindow::PaintInRegion(dc, region)) return FALSE;

    // The panel's style is the children's default: font, text colour, background.
    HGDIOBJ oldFont = m_style.m_ftText ? ::SelectObject(dc, m_style.m_ftText) : nullptr;
    const COLORREF oldText = m_style.m_crText != CLR_INVALID ? ::SetTextColor(dc, m_style.m_crText) : CLR_INVALID;
    const COLORREF oldBk = m_style.m_crBg != CLR_INVALID ? ::SetBkColor(dc, m_style.m_crBg) : CLR_INVALID;
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);  // text goes over what the backgrounds drew

    for (CBkWindow* child : m_children)
        if (!(child->GetState() & kBkStateHidden)) child->PaintInRegion(dc, region);

    ::SetBkMode(dc, oldMode);
    if (oldBk != CLR_INVALID) ::SetBkColor(dc, oldBk);
    if (oldText != CLR_INVALID) ::SetTextColor(dc, oldText);
    if (oldFont) ::SelectObject(dc, oldFont);
    return TRUE;
}

BOOL CBkPanel::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_DESTROY:
        DestroyChildren();
        result = 0;
        break;
    case WM_PAINT:
        result = 0;  // a panel has no text of its own
        break;
    case WM_SHOWWINDOW:
        SetVisible((BOOL)wParam);
        ShowChildren((BOOL)wParam);
        result = 0;
        break;
    case WM_MOUSEMOVE: {
        POINT pt = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        for (CBkWindow* child : std::vector<CBkWindow*>(m_children)) {
            if ((child->GetState() & kBkStateHidden) || !::PtInRect(&child->GetRect(), pt)) continue;
            child->SendToSelf(msg, wParam, lParam);
        }
        result = 0;
        break;
    }
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    m_bMsgHandled = TRUE;
    return TRUE;
}

namespace {
struct ElementWindows {
    CBkWindow* element;
    std::vector<HWND> found;
};
BOOL CALLBACK CollectElementWindow(HWND h, LPARAM p) {
    ElementWindows* s = (ElementWindows*)p;
    if (::GetPropW(h, L"WndX") == (HANDLE)s->element) s->found.push_back(h);
    return TRUE;
}
}  // namespace

std::vector<HWND> BkRealWindowsOfElement(CBkWindow* element) {
    ElementWindows search = {element, {}};
    HWND container = element ? element->GetContainerWindow() : nullptr;
    if (!container || !::IsWindow(container)) return search.found;
    ::EnumChildWindows(container, &CollectElementWindow, (LPARAM)&search);
    return search.found;
}

void BkShowRealWindowsOf(CBkWindow* child, BOOL on) {
    if (!child) return;
    if (child->IsTag("realwnd")) {
        HWND container = child->GetContainerWindow();
        HWND wnd = container ? ::GetDlgItem(container, child->GetCmdID()) : nullptr;
        if (wnd) ::ShowWindow(wnd, on ? SW_SHOW : SW_HIDE);
    } else if (child->IsTag(CBkPanel::kTag) || child->IsTag(CBkDialog::kTag) || child->IsTag(CBkDialogFile::kTag) ||
               child->IsTag(CBkTab::kTag)) {
        static_cast<CBkPanel*>(child)->ShowChildren(on);
    } else if (child->IsTag(CBkTabCtrl::kTag)) {
        static_cast<CBkTabCtrl*>(child)->ShowPagesRealWindows(on);
    } else if (child->IsTag("edit") || child->IsTag("combo")) {
        if (on) {
            // The element shows (and, when it keeps one, makes) its own window; its state bit is
            // already clear, since only a child without the hidden bit is shown.
            child->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
        } else {
            // Hidden without touching the element's hidden bit: it is the container that hides.
            for (HWND h : BkRealWindowsOfElement(child)) ::ShowWindow(h, SW_HIDE);
        }
    }
}

void CBkPanel::ShowChildren(BOOL show) {
    const BOOL visible = IsVisibleDeep();
    for (CBkWindow* child : std::vector<CBkWindow*>(m_children)) {
        const BOOL on = show && visible && !(child->GetState() & kBkStateHidden);
        BkShowRealWindowsOf(child, on);
    }
}

// ---- CBkDialog ---------------------------------------------------------------------------------

CBkWindow* CBkDialog::CreateIfTag(const char* tag) { return tag && strcmp(tag, kTag) == 0 ? new CBkDialog : nullptr; }

BOOL CBkDialog::IsTag(const char* tag) const { return tag && strcmp(tag, kTag) == 0; }

BOOL CBkDialog::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg != WM_WINDOWPOSCHANGED) return CBkPanel::ProcessMessage(hWnd, msg, wParam, lParam, result);
    OnPlacement((const WINDOWPOS*)lParam);
    RepositionChildren();
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}

void CBkDialog::RepositionChildren() {
    for (CBkWindow* child : std::vector<CBkWindow*>(m_children)) RepositionChild(child);
}

// One coordinate of a child's anchor inside [lo, hi).
static int AnchorOf(const BkPosItem& item, int lo, int hi) {
    if (item.bCenter) return lo + (hi - lo) / 2 + (item.bMinus ? -item.nPos : item.nPos);
    if (item.bMinus) return hi - item.nPos;
    return lo + item.nPos;
}

void CBkDialog::RepositionChild(CBkWindow* child) {
    if (!child) return;
    RECT area = m_rcWindow;
    area.left += m_style.m_nMarginX;
    area.right -= m_style.m_nMarginX;
    area.top += m_style.m_nMarginY;
    area.bottom -= m_style.m_nMarginY;

    const BkPosItem* pos = child->GetPos();
    WINDOWPOS wp = {};
    wp.x = AnchorOf(pos[0], area.left, area.right);
    wp.y = AnchorOf(pos[1], area.top, area.bottom);
    wp.cx = area.right - area.left;
    wp.cy = area.bottom - area.top;
    wp.flags = 0;
    child->SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
}

// ---- CBkDialogFile -----------------------------------------------------------------------------

CBkWindow* CBkDialogFile::CreateIfTag(const char* tag) {
    return tag && strcmp(tag, kTag) == 0 ? new CBkDialogFile : nullptr;
}

BOOL CBkDialogFile::IsTag(const char* tag) const { return tag && strcmp(tag, kTag) == 0; }

BOOL CBkDialogFile::Load(TiXmlElement* xml) {
    if (!CBkWindow::Load(xml)) return FALSE;
    const char* src = xml->Attribute("src");
    if (!src || !*src) return FALSE;
    std::string bytes;
    const int id = atoi(src);
    if (id <= 0 || id > 0xFFFF || !BkResourceLoader::LoadResource((UINT16)id, L"xml", bytes)) return TRUE;
    TiXmlDocument doc;
    doc.Parse(bytes.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (doc.Error()) return FALSE;
    return LoadChildren(doc.FirstChildElement());
}
