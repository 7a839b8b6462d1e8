// "combo": a drawn box with a drop-down arrow, optionally a real edit window (class "BkCombo") over
// its text part, and a drop list (KComboBoxPopList) that opens under it. Items are text/value pairs.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "bkedit.h"
#include "bkleaf.h"
#include "popuplist.h"
#include "tracktooltip.h"

// Sent to the host window after every choice from the list: wParam the index, lParam the text
// (valid during the call).
enum : UINT { kBkMsgComboSelChanged = 0x8D3 };

class CbkCombo : public CBkWindow {
    BK_DECLARE_ELEMENT(CbkCombo, "combo")

public:
    // Style flags.
    enum : DWORD {
        kStyleEditWindow = 1,  // a real edit window over the text part
        kStyleTooltip = 2,     // the tracking tip, hidden with a delay
        kStyleSeparator = 4,   // a line left of the arrow
        kStyleReadOnly = 8,    // the edit window is read-only
    };
    static constexpr DWORD kEditStyle = 0x500100C3;          // WS_CHILD|WS_VISIBLE|WS_TABSTOP|ES_AUTOHSCROLL|ES_AUTOVSCROLL|ES_RIGHT|ES_CENTER
    static constexpr DWORD kEditStylePassword = 0x500100E3;  // the same with ES_PASSWORD
    static constexpr COLORREF kArrowHover = RGB(0x85, 0xE4, 0xFF);

    struct Item {
        CString text;
        CString value;
    };

    CbkCombo();
    ~CbkCombo() override;

    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void SetCursor() override;
    BOOL RedrawsOnStateChange() override { return TRUE; }
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // FALSE (nothing changes) when an item has that text or value already (case ignored).
    BOOL AddItem(LPCWSTR text, LPCWSTR value);
    void SelectFirstItem();
    // The value of the item the edit text (or, without an edit window, the element text) names,
    // else that text; it becomes the element text.
    CString GetSelectedValue();
    // The first item whose text or value equals the text, case ignored.
    const Item* FindItem(LPCWSTR text) const;

    void SetComboStyle(DWORD style) { m_dwStyle = style; }
    DWORD GetComboStyle() const { return m_dwStyle; }
    void SetToolTipText(LPCWSTR text) { m_strTip = text ? text : L""; }
    const std::vector<Item>& GetItems() const { return m_items; }
    int GetSelectedIndex() const { return m_nSelected; }
    HWND EditWindow() const { return m_hWndEdit; }
    KComboBoxPopList* DropList() const { return m_pDropList.get(); }
    KTrackTooltip& Tooltip() { return m_tooltip; }
    BOOL IsHover() const { return m_bHover; }
    BOOL IsOverArrow() const { return m_bOverArrow; }
    const std::string& GetGroupName() const { return m_strGroup; }

    // Geometry (element rect, h its height, a = h / 3).
    RECT TextPart() const;
    RECT EditRect() const;
    static BOOL RegisterComboClass();

private:
    static LRESULT CALLBACK EditProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    BOOL OnEditMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void OnEditDestroyed();
    void MakeEditWindow();
    void MakeTooltip();
    void PlaceEditWindow();
    void RebuildDropList();
    void OpenDropList(int width);
    // Moves the selection one item by a wheel delta; FALSE when it stays.
    BOOL StepSelection(short delta);
    void ShowItemInEdit(int index);
    void Paint(HDC dc);
    BOOL IsEnabled() const { return m_bEnabled && !IsDisabledDeep(); }
    int ArrowUnit() const { return (m_rcWindow.bottom - m_rcWindow.top) / 3; }

    static WNDPROC s_editClassProc;

    HPEN m_hPenNormal = nullptr;
    HPEN m_hPenHover = nullptr;
    WORD m_wFontCode = 0;
    WNDPROC m_pfnEditProc = nullptr;
    HWND m_hWndEdit = nullptr;
    BOOL m_bPassword = FALSE;
    WCHAR m_chPassword = L'*';
    BYTE m_bEnabled = 1;
    BYTE m_bHover = 0;
    BYTE m_bOverArrow = 0;
    BYTE m_bKeepWindow = 1;
    std::string m_strGroup;
    BYTE m_bReadOnly = 0;
    std::unique_ptr<KComboBoxPopList> m_pDropList;
    CString m_strTip;
    COLORREF m_crListFrame = RGB(0x4E, 0xA0, 0xD1);
    COLORREF m_crList1 = RGB(0xDA, 0xDB, 0xDD);
    COLORREF m_crList2 = RGB(0xEE, 0xEE, 0xF0);
    COLORREF m_crListHighlight = RGB(0xE9, 0xF5, 0xFF);
    std::vector<Item> m_items;
    int m_nSelected = 0;
    KTrackTooltip m_tooltip;
    DWORD m_dwStyle = kStyleSeparator;
    BOOL m_bTipShown = FALSE;
};
