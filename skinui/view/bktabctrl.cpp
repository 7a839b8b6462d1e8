#include "bktabctrl.h"

#include <shlwapi.h>
#include <string.h>

#include <tinyxml.h>

#include "bkres.h"
#include "bkwndreg.h"

const char* const CBkTab::kTag = "tab";
const char* const CBkTabCtrl::kTag = "tabctrl";

// ---- CBkTab ------------------------------------------------------------------------------------

BOOL CBkTab::IsTag(const char* tag) const { return tag && strcmp(tag, kTag) == 0; }

HRESULT CBkTab::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    if (name == "title") {
        m_strTitle = BkUtf8ToWide(value.c_str());
        return S_FALSE;
    }
    if (name == "hide") {
        m_nHide = StrToIntA(value.c_str());
        return S_FALSE;
    }
    return CBkDialog::SetAttribute(name, value, loading);
}

// ---- CBkTabCtrl --------------------------------------------------------------------------------

CBkWindow* CBkTabCtrl::CreateIfTag(const char* tag) {
    return tag && strcmp(tag, kTag) == 0 ? new CBkTabCtrl : nullptr;
}

CBkTabCtrl::~CBkTabCtrl() { DestroyPages(); }

BOOL CBkTabCtrl::IsTag(const char* tag) const { return tag && strcmp(tag, kTag) == 0; }

void CBkTabCtrl::DestroyPages() {
    std::vector<CBkTab*> pages;
    pages.swap(m_pages);
    for (CBkTab* page : pages) {
        page->SendToSelf(WM_DESTROY, 0, 0);
        delete page;
    }
}

BOOL CBkTabCtrl::Load(TiXmlElement* xml) {
    if (!CBkWindow::Load(xml)) return FALSE;
    DestroyPages();
    m_pages.reserve(10);
    int firstVisible = -1;
    for (TiXmlElement* e = xml->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (strcmp(e->Value(), CBkTab::kTag) != 0) continue;
        CBkTab* page = new CBkTab;
        page->SetParent(m_hBkWnd);
        page->SetContainerWindow(m_hWndContainer);
        page->Load(e);
        page->SetAttribute("pos", "0,0,-0,-0", TRUE);
        const int index = (int)m_pages.size();
        if (firstVisible < 0 && page->Hide() == 0) {
            firstVisible = index;
            page->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
            if (m_nCurSel == 0) m_nCurSel = index;
        } else {
            page->SendToSelf(WM_SHOWWINDOW, FALSE, 0);
        }
        m_pages.push_back(page);
    }
    if (m_nCurSel > 0 && m_nCurSel < (int)m_pages.size() && m_pages[m_nCurSel]->Hide() && firstVisible >= 0)
        m_nCurSel = firstVisible;
    return TRUE;
}

HRESULT CBkTabCtrl::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    const char* v = value.c_str();
    struct IntAttr {
        const char* name;
        int* field;
    } const ints[] = {
        {"cursel", &m_nCurSel},     {"tabspacing", &m_nTabSpacing}, {"tabpos", &m_nTabPos},
        {"framepos", &m_nFramePos}, {"tabwidth", &m_nTabWidth},     {"tabheight", &m_nTabHeight},
        {"icon-x", &m_nIconX},       {"icon-y", &m_nIconY},         {"text-x", &m_nTextX},
        {"text-y", &m_nTextY},
    };
    for (const IntAttr& a : ints) {
        if (name == a.name) {
            *a.field = StrToIntA(v);
            return S_OK;
        }
    }
    struct SkinAttr {
        const char* name;
        CBkSkinBase** field;
    } const skins[] = {
        {"tabskin", &m_pSkinTab},
        {"frameskin", &m_pSkinFrame},
        {"iconskin", &m_pSkinIcon},
        {"splitterskin", &m_pSkinSplitter},
    };
    for (const SkinAttr& a : skins) {
        if (name == a.name) {
            *a.field = BkSkinPool::GetSkin(value);
            return S_OK;
        }
    }
    if (name == "tabalign") {
        if (value == "top") m_nTabAlign = kBkTabAlignTop;
        else if (value == "left") m_nTabAlign = kBkTabAlignLeft;
        else return E_FAIL;
        return S_OK;
    }
    return E_FAIL;
}

void CBkTabCtrl::SetCursor() {
    ::SetCursor(::LoadCursorW(nullptr, m_nHoverTab != -1 ? IDC_HAND : IDC_ARROW));
}

void CBkTabCtrl::SetContainerWindow(HWND hWnd) {
    CBkWindow::SetContainerWindow(hWnd);
    for (CBkTab* page : m_pages) page->SetContainerWindow(hWnd);
}

SIZE CBkTabCtrl::TabSkinSize() const {
    SIZE size = {0, 0};
    if (m_pSkinTab) m_pSkinTab->GetSkinSize(size);
    return size;
}

BOOL CBkTabCtrl::GetTabRect(int index, RECT& rc) const {
    if (index < 0 || index >= (int)m_pages.size()) return FALSE;
    const SIZE skin = TabSkinSize();
    rc.left = m_rcWindow.left;
    rc.top = m_rcWindow.top;
    rc.right = rc.left + (m_nTabWidth ? m_nTabWidth : skin.cx);
    rc.bottom = rc.top + (m_nTabHeight ? m_nTabHeight : skin.cy);
    int before = 0;
    for (int i = 0; i < index; ++i)
        if (m_pages[i]->Hide() == 0) ++before;
    // The step uses the attributes as given, not the skin's size.
    if (m_nTabAlign == kBkTabAlignTop)
        ::OffsetRect(&rc, before * (m_nTabSpacing + m_nTabWidth) + m_nTabPos, 0);
    else
        ::OffsetRect(&rc, 0, before * (m_nTabSpacing + m_nTabHeight) + m_nTabPos);
    return TRUE;
}

int CBkTabCtrl::TabAt(POINT pt) const {
    for (int i = 0; i < (int)m_pages.size(); ++i) {
        if (m_pages[i]->Hide() || i == m_nCurSel) continue;
        RECT rc;
        if (GetTabRect(i, rc) && ::PtInRect(&rc, pt)) return i;
    }
    return -1;
}

// The control's rectangle without the strip.
static RECT WithoutStrip(const RECT& rc, int align, int tabW, int tabH, int frameGap) {
    RECT r = rc;
    if (align == kBkTabAlignTop) r.top += tabH + frameGap;
    else r.left += tabW + frameGap;
    return r;
}

void CBkTabCtrl::OnLayout(const WINDOWPOS* pos) {
    OnPlacement(pos);
    const SIZE skin = TabSkinSize();
    m_rcPage = WithoutStrip(m_rcWindow, m_nTabAlign, m_nTabWidth ? m_nTabWidth : skin.cx,
                            m_nTabHeight ? m_nTabHeight : skin.cy, m_nFramePos);
    m_rcPage.left += m_style.m_nMarginX;
    m_rcPage.right -= m_style.m_nMarginX;
    m_rcPage.top += m_style.m_nMarginY;
    m_rcPage.bottom -= m_style.m_nMarginY;
    WINDOWPOS wp = pos ? *pos : WINDOWPOS{};
    wp.x = m_rcPage.left;
    wp.y = m_rcPage.top;
    wp.cx = m_rcPage.right - m_rcPage.left;
    wp.cy = m_rcPage.bottom - m_rcPage.top;
    for (CBkTab* page : m_pages) page->SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
}

HBKWND CBkTabCtrl::HitTest(POINT pt) {
    if (!::PtInRect(&m_rcWindow, pt)) return 0;
    if (!::PtInRect(&m_rcPage, pt)) return m_hBkWnd;
    if (m_nCurSel < 0 || m_nCurSel >= (int)m_pages.size()) return m_hBkWnd;
    HBKWND hit = m_pages[m_nCurSel]->HitTest(pt);
    return hit ? hit : m_hBkWnd;
}

CBkWindow* CBkTabCtrl::FindChild(int cmdId) {
    for (CBkTab* page : m_pages) {
        if (page->GetCmdID() == cmdId) return page;
        CBkWindow* found = page->FindChild(cmdId);
        if (found) return found;
    }
    return nullptr;
}

void CBkTabCtrl::DrawTab(HDC dc, int index, DWORD skinState) {
    RECT rc;
    if (!GetTabRect(index, rc)) return;
    if (m_pSkinTab) m_pSkinTab->Draw(dc, rc, skinState);
    if (m_pSkinIcon) {
        RECT icon = rc;
        ::OffsetRect(&icon, m_nIconX, m_nIconY);
        m_pSkinIcon->Draw(dc, icon, (DWORD)index);
    }
    RECT text = rc;
    ::OffsetRect(&text, m_nTextX, m_nTextY);
    const CString& title = m_pages[index]->Title();
    ::DrawTextW(dc, title.GetString(), title.GetLength(), &text, kBkTabTitleFormat);
}

void CBkTabCtrl::DrawStrip(HDC dc) {
    const SIZE skin = TabSkinSize();
    RECT frame = WithoutStrip(m_rcWindow, m_nTabAlign, m_nTabWidth ? m_nTabWidth : skin.cx,
                              m_nTabHeight ? m_nTabHeight : skin.cy, m_nFramePos);
    if (m_pSkinFrame) m_pSkinFrame->Draw(dc, frame, 0);

    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF oldText = m_style.m_crText != CLR_INVALID ? ::SetTextColor(dc, m_style.m_crText) : CLR_INVALID;
    HGDIOBJ oldFont = ::GetCurrentObject(dc, OBJ_FONT);
    if (m_style.m_ftText) ::SelectObject(dc, m_style.m_ftText);

    int visible = 0;
    for (CBkTab* page : m_pages)
        if (page->Hide() == 0) ++visible;
    int drawn = 0;
    for (int i = 0; i < (int)m_pages.size(); ++i) {
        if (m_pages[i]->Hide()) continue;
        ++drawn;
        RECT rc;
        GetTabRect(i, rc);
        if (m_pSkinSplitter && drawn < visible) {
            SIZE split = {0, 0};
            m_pSkinSplitter->GetSkinSize(split);
            RECT s = rc;
            if (m_nTabAlign == kBkTabAlignTop) {
                s.left = rc.right;
                s.right = rc.right + m_nTabSpacing;
                const int mid = (s.left + s.right) / 2;
                s.left = mid - split.cx / 2;
                s.right = s.left + split.cx;
            } else {
                s.top = rc.bottom;
                s.bottom = rc.bottom + m_nTabSpacing;
                const int mid = (s.top + s.bottom) / 2;
                s.top = mid - split.cy / 2;
                s.bottom = s.top + split.cy;
            }
            m_pSkinSplitter->Draw(dc, s, (DWORD)-1);
        }
        if (i == m_nCurSel) continue;  // drawn last, over its neighbours
        DrawTab(dc, i, i == m_nHoverTab ? 1 : 0);
    }
    if (m_nCurSel >= 0 && m_nCurSel < (int)m_pages.size() && m_pages[m_nCurSel]->Hide() == 0) {
        if (m_style.m_ftHover) ::SelectObject(dc, m_style.m_ftHover);
        if (m_style.m_crHoverText != CLR_INVALID) ::SetTextColor(dc, m_style.m_crHoverText);
        DrawTab(dc, m_nCurSel, 2);
    }

    ::SelectObject(dc, oldFont);
    if (oldText != CLR_INVALID) ::SetTextColor(dc, oldText);
    ::SetBkMode(dc, oldMode);
}

BOOL CBkTabCtrl::PaintInRegion(HDC dc, HRGN region) {
    if (!CBkWindow::PaintInRegion(dc, region)) return FALSE;  // background, then the strip (WM_PAINT)
    if (m_nCurSel >= 0 && m_nCurSel < (int)m_pages.size()) m_pages[m_nCurSel]->PaintInRegion(dc, region);
    return TRUE;
}

BOOL CBkTabCtrl::SetCurSel(int index) {
    BkTabChangeNotify nms = {};
    nms.hdr.hwndFrom = m_hWndContainer;
    nms.hdr.idFrom = m_hWndContainer ? (UINT_PTR)::GetDlgCtrlID(m_hWndContainer) : 0;
    nms.hdr.code = kBkNotifyTabChange;
    nms.uTabID = (UINT)m_uCmdID;
    nms.nNewPage = index;
    nms.nOldPage = m_nCurSel;
    nms.bCancel = FALSE;
    if (m_hWndContainer && ::IsWindow(m_hWndContainer)) {
        // The dialog may rebuild its layout while it handles the notice, which deletes this control:
        // only the registry, never a member, tells whether it is still there.
        const HBKWND self = m_hBkWnd;
        ::SendMessageW(m_hWndContainer, WM_NOTIFY, nms.hdr.idFrom, (LPARAM)&nms);
        if (BkWindowRegistry::Find(self) != this) return FALSE;
    }
    if (nms.bCancel) return FALSE;
    if (index == m_nCurSel) return TRUE;
    if (index < 0 || index >= (int)m_pages.size()) return FALSE;

    RECT rc;
    if (GetTabRect(m_nCurSel, rc)) RequestRedraw(rc);
    if (GetTabRect(index, rc)) RequestRedraw(rc);
    if (m_nCurSel >= 0 && m_nCurSel < (int)m_pages.size()) m_pages[m_nCurSel]->SendToSelf(WM_SHOWWINDOW, FALSE, 0);
    m_nCurSel = index;
    m_pages[index]->SendToSelf(WM_SHOWWINDOW, TRUE, 0);

    WINDOWPOS wp = {};
    wp.x = m_rcPage.left;
    wp.y = m_rcPage.top;
    wp.cx = m_rcPage.right - m_rcPage.left;
    wp.cy = m_rcPage.bottom - m_rcPage.top;
    m_pages[index]->SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&wp);
    RequestRedraw(m_rcPage);
    return TRUE;
}

void CBkTabCtrl::ShowPagesRealWindows(BOOL show) {
    for (int i = 0; i < (int)m_pages.size(); ++i) m_pages[i]->ShowChildren(i == m_nCurSel ? show : FALSE);
}

BOOL CBkTabCtrl::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    POINT pt = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    switch (msg) {
    case WM_DESTROY:
        DestroyPages();
        break;
    case WM_PAINT:
        DrawStrip((HDC)wParam);
        break;
    case WM_SHOWWINDOW:
        SetVisible((BOOL)wParam);
        if (m_nCurSel >= 0 && m_nCurSel < (int)m_pages.size())
            m_pages[m_nCurSel]->SendToSelf(WM_SHOWWINDOW, wParam, 0);
        break;
    case WM_WINDOWPOSCHANGED:
        OnLayout((const WINDOWPOS*)lParam);
        break;
    case WM_MOUSEMOVE: {
        const int found = TabAt(pt);
        RECT rc;
        if (found != -1 && GetTabRect(found, rc)) RequestRedraw(rc);
        if (found != m_nHoverTab && m_nHoverTab != -1 && GetTabRect(m_nHoverTab, rc)) RequestRedraw(rc);
        m_nHoverTab = found;
        break;
    }
    case WM_MOUSELEAVE:
        if (m_nHoverTab != -1) {
            RECT rc;
            if (GetTabRect(m_nHoverTab, rc)) RequestRedraw(rc);
            m_nHoverTab = -1;
        }
        break;
    case WM_LBUTTONDOWN: {
        // The change notice may delete this control: nothing of it is touched after SetCurSel.
        result = 0;
        m_bMsgHandled = TRUE;
        const int found = TabAt(pt);
        if (found != -1) SetCurSel(found);
        return TRUE;
    }
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
