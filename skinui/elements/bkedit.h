// "edit": a drawn frame with a real edit window (class "BkEdit") laid over it. The element's text
// follows what is typed through the EN_CHANGE that the hosting dialog reflects back to the window.
#pragma once

#include <windows.h>

#include "bkleaf.h"

// The window property on each real edit or combo window that names its element.
#define BK_ELEMENT_PROP L"WndX"

class CBkEdit : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkEdit, "edit")

public:
    // Edit window styles: a multi-line box, or a single-line password box (a multi-line window
    // ignores ES_PASSWORD and shows the text in clear).
    static constexpr DWORD kStylePlain = 0x50011004;     // WS_CHILD|WS_VISIBLE|WS_TABSTOP|ES_WANTRETURN|ES_MULTILINE
    static constexpr DWORD kStylePassword = 0x500100A0;  // WS_CHILD|WS_VISIBLE|WS_TABSTOP|ES_AUTOHSCROLL|ES_PASSWORD
    static constexpr COLORREF kBorderColour = RGB(0x4E, 0xA0, 0xD1);
    static constexpr COLORREF kHoverColour = RGB(0x85, 0xE4, 0xFF);
    static constexpr COLORREF kDisabledBackground = RGB(0xF4, 0xF4, 0xF4);
    enum : int { kTextLimit = 100 };

    CBkEdit() = default;
    ~CBkEdit() override;

    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    HRESULT SetText(LPCWSTR text) override;
    void SetCursor() override;
    BOOL RedrawsOnStateChange() override { return TRUE; }
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // The edit window, made first when the element keeps one and has none.
    HWND GetEditWindow();
    HWND EditWindow() const { return m_hWndEdit; }
    BOOL IsPassword() const { return m_bPassword; }
    BOOL IsReadOnly() const { return m_bReadOnly; }
    BOOL IsHover() const { return m_bHover; }
    WORD GetFontCode() const { return m_wFontCode; }
    // The edit window's rectangle in the host's client coordinates.
    RECT EditRect() const;
    // The class "BkEdit" registered with the program's module (TRUE when it already was).
    static BOOL RegisterEditClass();

private:
    static LRESULT CALLBACK EditProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // The element's part of the window's messages; TRUE when it ran the EDIT procedure itself.
    BOOL OnEditMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void MakeEditWindow();
    void PlaceEditWindow(BOOL notify);
    void Paint(HDC dc);
    BOOL IsEnabled() const { return m_bEnabled && !IsDisabledDeep(); }

    static WNDPROC s_editClassProc;

    HPEN m_hPenNormal = nullptr;
    HPEN m_hPenHover = nullptr;
    WNDPROC m_pfnEditProc = nullptr;
    WORD m_wFontCode = 0;
    HWND m_hWndEdit = nullptr;
    BOOL m_bPassword = FALSE;
    WCHAR m_chPassword = L'*';
    BYTE m_bEnabled = 1;
    BYTE m_bHover = 0;
    BYTE m_bKeepWindow = 1;
    BOOL m_bReadOnly = FALSE;
};
