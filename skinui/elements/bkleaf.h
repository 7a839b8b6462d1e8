// The leaf elements: every drawn item of a layout that holds no other element.
#pragma once

#include <windows.h>

#include <cstring>
#include <map>
#include <string>

#include "bkwnd.h"
#include "bkwndreg.h"

namespace Gdiplus {
class Image;
}

// The tag of an element class: CreateIfTag for the factory, IsTag and TagName (exact, case included).
#define BK_DECLARE_ELEMENT(cls, tag)                                                    \
public:                                                                                 \
    static constexpr const char* kTag = tag;                                            \
    static cls* CreateIfTag(const char* name) {                                         \
        return (name && ::strcmp(name, kTag) == 0) ? new cls() : nullptr;              \
    }                                                                                   \
    BOOL IsTag(const char* name) const override { return name && ::strcmp(name, kTag) == 0; } \
    const char* TagName() const override { return kTag; }

// "memimage": an image object of the application's, stretched over the rect. The address comes as
// decimal text ("mempointer") from the program itself; the element trusts it (no check can tell a
// live image from a stale address), so no layout resource may ever carry a non-zero value.
class CBkMemoryImage : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkMemoryImage, "memimage")
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    Gdiplus::Image* GetImage() const { return m_pImage; }

protected:
    Gdiplus::Image* m_pImage = nullptr;  // the application's
};

// "text": the base text.
class CBkStatic : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkStatic, "text")
};

// "link": the base text; the view opens its "href" or reports the tag "link".
class CBkLink : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkLink, "link")
};

// "button": the base text over the style's skin, which shows hover and press.
class CBkButton : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkButton, "button")
    BOOL RedrawsOnStateChange() override { return TRUE; }
};

// "img": a skin over the rect, drawn with the fixed sub-image "sub".
class CBkImageWnd : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkImageWnd, "img")
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    int GetSub() const { return m_nSubImageID; }
    CBkSkinBase* GetSkin() const { return m_pSkin; }

protected:
    void Measure(BOOL constrained, SIZE* size);

    int m_nSubImageID = -1;
    CBkSkinBase* m_pSkin = nullptr;  // the skin pool's
};

// "progress": a bar between "min" and "max" at "value", optionally with its percentage.
class CBkProgress : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkProgress, "progress")
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    DWORD GetMin() const { return m_dwMinValue; }
    DWORD GetMax() const { return m_dwMaxValue; }
    DWORD GetValue() const { return m_dwValue; }
    // The bar rectangle of the last paint (empty before the first).
    const RECT& GetBarRect() const { return m_rcBar; }

    static constexpr COLORREF kFrameColour = 0x707070;
    static constexpr COLORREF kBarColour = 0x906142;

protected:
    void Paint(HDC dc);

    DWORD m_dwMinValue = 0;
    DWORD m_dwMaxValue = 0;
    DWORD m_dwValue = 0;
    BOOL m_bShowPercent = FALSE;
    CBkSkinBase* m_pSkinBg = nullptr;
    CBkSkinBase* m_pSkinPos = nullptr;
    RECT m_rcBar = {};
};

// "imgbtn": "img" whose sub-image follows the state: 3 disabled, 2 pushed, 1 hover, else 0.
class CBkImageBtnWnd : public CBkImageWnd {
    BK_DECLARE_ELEMENT(CBkImageBtnWnd, "imgbtn")
    BOOL RedrawsOnStateChange() override { return TRUE; }
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // The sub-image the current state draws.
    int StateSubImage() const;
};

// "realwnd": stands in for the application's child window of the view with the element's "id":
// moves, shows and hides it with the element, never paints and never destroys it.
class CBkRealWnd : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkRealWnd, "realwnd")
    BOOL RedrawsOnStateChange() override { return FALSE; }
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // The child window, looked up anew each time (null when it does not exist).
    HWND GetRealWindow() const;
};

// "hr": one straight line from the rect's top-left to its bottom-right corner in crbg.
class CBkLine : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkLine, "hr")
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    int GetPenStyle() const { return m_nPenStyle; }
    int GetLineSize() const { return m_nLineSize; }

protected:
    int m_nPenStyle = PS_SOLID;
    int m_nLineSize = 1;
};

// The "BUTTON" theme state of a check or radio glyph: disabled, pushed, hover, normal; +4 checked.
int BkButtonThemeState(DWORD state);

// "check": a check-box glyph and the text; a click toggles the checked bit.
class CBkCheckBox : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkCheckBox, "check")
    ~CBkCheckBox() override;
    BOOL RedrawsOnStateChange() override { return TRUE; }
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    static constexpr int kGlyphWidth = 13;
    static constexpr int kTextIndent = 17;

protected:
    HBKTHEME m_hTheme = nullptr;
};

// "icon": an icon of the program's resources, or with "oem" a system icon, at "size".
class CBkIconWnd : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkIconWnd, "icon")
    ~CBkIconWnd() override;
    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    HICON GetIcon() const { return m_hIcon; }

protected:
    void LoadIconNow();
    void FreeIcon();

    HICON m_hIcon = nullptr;
    int m_nSrc = -1;
    int m_nLoadedSrc = -1;
    int m_nSize = 16;
    BOOL m_bOem = FALSE;
    BOOL m_bShared = FALSE;  // a system icon: shared by the process, never destroyed
};

// "radio": a radio glyph and the text; a click checks it and unchecks the rest of its "group".
class CBkRadioBox : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkRadioBox, "radio")
    ~CBkRadioBox() override;
    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    BOOL RedrawsOnStateChange() override { return TRUE; }
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    const std::string& GetGroup() const { return m_strGroup; }

    static constexpr int kGlyphSize = 12;
    static constexpr int kTextIndent = 14;

protected:
    HBKTHEME m_hTheme = nullptr;
    std::string m_strGroup;
    std::string m_strJoinedGroup;  // the group joined at load, left again by the destructor
    BOOL m_bJoined = FALSE;
};

// "imglisth": a row of skins by index, from "skinlist" (skinN=name) and "sublist" (subN=index).
class CBkImageListHWnd : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkImageListHWnd, "imglisth")
    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    int GetImageCount() const { return m_nImageCount; }
    // The entries of index i (none and -1 when the maps lack them).
    CBkSkinBase* SkinAt(int i) const;
    int SubAt(int i) const;

protected:
    HRESULT ApplySkinList(const std::string& list);
    HRESULT ApplySubList(const std::string& list);

    int m_nSubImageID = -1;
    CBkSkinBase* m_pSkin = nullptr;
    int m_nImageCount = 0;
    std::string m_strSkinList;
    std::string m_strSubList;
    std::map<std::string, int> m_mapSub;
    std::map<std::string, CBkSkinBase*> m_mapSkin;
};
