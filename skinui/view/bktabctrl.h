// The tab control: a strip of tabs along the top or down the left side, and one page shown at a
// time. Each change is announced to the dialog first, which may refuse it.
#pragma once

#include <windows.h>

#include <vector>

#include "bkpanel.h"

// The tab-change notification, sent to the container window before the selection moves.
struct BkTabChangeNotify {
    NMHDR hdr;       // the view, its control id (1000), kBkNotifyTabChange
    UINT uTabID;     // the tabctrl element's command id
    int nNewPage;    // the page about to be selected
    int nOldPage;    // the page selected now
    BOOL bCancel;    // 0 on sending; non-zero from the receiver keeps the old page
};
#if defined(_WIN64)
static_assert(sizeof(BkTabChangeNotify) == 40, "natural x64 layout");
#else
static_assert(sizeof(BkTabChangeNotify) == 28, "the 32-bit record is 28 bytes");
#endif

// "tab": one page of a tab control, with the title of its tab.
class CBkTab : public CBkDialog {
public:
    static const char* const kTag;  // "tab"
    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;

    const CString& Title() const { return m_strTitle; }
    int Hide() const { return m_nHide; }

protected:
    CString m_strTitle;
    int m_nHide = 0;  // non-zero: the page has no tab in the strip
};

enum : int { kBkTabAlignTop = 0, kBkTabAlignLeft = 1 };

class CBkTabCtrl : public CBkContainerWnd {
public:
    static const char* const kTag;  // "tabctrl"
    static CBkWindow* CreateIfTag(const char* tag);
    ~CBkTabCtrl() override;

    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void SetCursor() override;
    void SetContainerWindow(HWND hWnd) override;
    HBKWND HitTest(POINT pt) override;
    BOOL PaintInRegion(HDC dc, HRGN region) override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    CBkWindow* FindChild(int cmdId) override;

    // Selects a page; TRUE when it is selected afterwards, FALSE when vetoed or out of range.
    BOOL SetCurSel(int index);
    int GetCurSel() const { return m_nCurSel; }
    int HoverIndex() const { return m_nHoverTab; }
    // The tab's rectangle in the strip; FALSE for an index out of range.
    BOOL GetTabRect(int index, RECT& rc) const;
    const RECT& PageArea() const { return m_rcPage; }
    const std::vector<CBkTab*>& Pages() const { return m_pages; }
    // Real windows follow the pages: only the selected page may show its own.
    void ShowPagesRealWindows(BOOL show);

protected:
    void DestroyPages();
    SIZE TabSkinSize() const;
    int TabAt(POINT pt) const;  // the first visible, unselected tab under the point, or -1
    void OnLayout(const WINDOWPOS* pos);
    void DrawStrip(HDC dc);
    void DrawTab(HDC dc, int index, DWORD skinState);

    std::vector<CBkTab*> m_pages;
    int m_nHoverTab = -1;
    int m_nCurSel = 0;
    int m_nTabSpacing = 0;
    int m_nTabPos = 0;
    int m_nFramePos = 0;
    int m_nTabWidth = 0;
    int m_nTabHeight = 0;
    CBkSkinBase* m_pSkinTab = nullptr;
    CBkSkinBase* m_pSkinFrame = nullptr;
    CBkSkinBase* m_pSkinIcon = nullptr;
    CBkSkinBase* m_pSkinSplitter = nullptr;
    RECT m_rcPage = {};
    int m_nIconX = 0, m_nIconY = 0;  // icon offset from the tab's top-left
    int m_nTextX = 0, m_nTextY = 0;  // shift of the title's rectangle
    int m_nTabAlign = kBkTabAlignTop;
};

// DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS. DT_TABSTOP is left out:
// with it the high byte would be read as a tab width and DT_NOPREFIX/DT_END_ELLIPSIS would not apply.
enum : UINT { kBkTabTitleFormat = 0x8825 };
