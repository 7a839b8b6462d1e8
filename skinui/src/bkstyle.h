// Styles (text appearance by class name), the string table and the font pool.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <unordered_map>

#include "bkobject.h"

// DT_SINGLELINE | DT_BOTTOM, the text mode of an element whose style sets none.
enum : UINT { kBkDefaultTextMode = 0x28 };

class BkStyle : public CBkObject {
public:
    static const char* const kTag;  // "style"

    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;

    COLORREF m_crBg = CLR_INVALID;
    COLORREF m_crBgHover = CLR_INVALID;
    COLORREF m_crText = CLR_INVALID;
    COLORREF m_crHoverText = CLR_INVALID;
    COLORREF m_crDisabledText = RGB(0xCC, 0xCC, 0xCC);
    UINT m_nTextMode = kBkDefaultTextMode;
    HFONT m_ftText = nullptr;   // owned by BkFontPool
    HFONT m_ftHover = nullptr;  // owned by BkFontPool
    int m_nMarginX = 0;
    int m_nMarginY = 0;
    int m_nSpacing = 0;
    int m_nLineSpacing = 20;
    UINT m_uCursorId = 32512;   // IDC_ARROW
    std::string m_strSkinName;
    std::string m_strClassName;
};

// Styles by class name (exact). Always holds the default entry "" after LoadStyleXml.
class BkStylePool {
public:
    static BkStylePool& Instance();
    // The style of that class; an unknown name gives the default entry. The pointer stays valid
    // until the pool is emptied (the next LoadStyleXml).
    static BkStyle* GetStyle(const std::string& className);
    // The entry of that name, created with default values when new.
    BkStyle& Entry(const std::string& className) { return m_styles[className]; }
    // Empties the pool and creates the default entry.
    void Reset();
    size_t Count() const { return m_styles.size(); }

private:
    std::map<std::string, BkStyle> m_styles;
};

// Texts by numeric id.
class BkString {
public:
    static BkString& Instance();
    // The text, or null when the id has none.
    static LPCWSTR Get(UINT id);
    void Set(UINT id, const std::wstring& text) { m_strings[id] = text; }
    void Clear() { m_strings.clear(); }

private:
    BkString() : m_strings(17) {}
    std::unordered_map<UINT, std::wstring> m_strings;
};

// Fonts by 16-bit font code: bit 0 italic, bit 1 underline, bit 2 bold, high byte a signed size
// step subtracted from the base height. The pool owns every font it hands out.
class BkFontPool {
public:
    static BkFontPool& Instance();
    // The cached font of the code, made on first use; null when it cannot be made (not cached).
    static HFONT GetFont(WORD code);
    // A new font from the base LOGFONT; the caller owns it.
    static HFONT CreateStyledFont(int sizeStep, BOOL bold, BOOL underline, BOOL italic);
    // Replaces the face (null: empty) and sets the base height -12; rebuilds the base font (code 0).
    // Fonts cached under other codes keep the face they were made with.
    static void SetDefaultFontFace(LPCWSTR face);

    const LOGFONTW& BaseLogFont() const { return m_lfBase; }
    const std::wstring& FaceName() const { return m_face; }
    LONG Height() const { return m_height; }

private:
    BkFontPool();
    void RebuildBase();

    LOGFONTW m_lfBase = {};
    std::unordered_map<WORD, HFONT> m_fonts;
    std::wstring m_face = L"Tahoma";
    LONG m_height = -11;
};
