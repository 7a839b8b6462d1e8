#include "bkstyle.h"

#include <shlwapi.h>
#include <wchar.h>

#include "bkres.h"

const char* const BkStyle::kTag = "style";

BOOL BkStyle::IsTag(const char* tag) const { return tag && strcmp(tag, kTag) == 0; }

HRESULT BkStyle::SetAttribute(const std::string& name, const std::string& value, BOOL) {
    const char* v = value.c_str();
    if (name == "name") {
        m_strClassName = value;
        return S_OK;
    }
    if (name == "skin") {
        m_strSkinName = value;
        return S_OK;
    }
    if (name == "textmode") {
        m_nTextMode = BkHexToInt(v, -1);
        return S_OK;
    }
    if (name == "font") {
        m_ftText = BkFontPool::GetFont((WORD)BkHexToInt(v, -1));
        return S_OK;
    }
    if (name == "hoverfont") {
        m_ftHover = BkFontPool::GetFont((WORD)BkHexToInt(v, -1));
        return S_OK;
    }
    if (name == "x-margin") {
        m_nMarginX = StrToIntA(v);
        return S_OK;
    }
    if (name == "y-margin") {
        m_nMarginY = StrToIntA(v);
        return S_OK;
    }
    if (name == "margin") {
        m_nMarginX = m_nMarginY = StrToIntA(v);
        return S_OK;
    }
    if (name == "spacing") {
        m_nSpacing = StrToIntA(v);
        return S_OK;
    }
    if (name == "linespacing") {
        m_nLineSpacing = StrToIntA(v);
        return S_OK;
    }
    COLORREF* colour = name == "crbg"         ? &m_crBg
                       : name == "crbghover"  ? &m_crBgHover
                       : name == "crtext"     ? &m_crText
                       : name == "crhover"    ? &m_crHoverText
                       : name == "crdisabled" ? &m_crDisabledText
                                              : nullptr;
    if (colour) {
        *colour = BkColorFromHex(v);
        return S_FALSE;
    }
    if (name == "cursor") {
        if (value == "hand") {
            m_uCursorId = 32649;  // IDC_HAND
            return S_FALSE;
        }
        if (value == "arrow") {
            m_uCursorId = 32512;  // IDC_ARROW
            return S_FALSE;
        }
        return E_FAIL;
    }
    return CBkObject::SetAttribute(name, value, TRUE);
}

// ---- style pool --------------------------------------------------------------------------------

BkStylePool& BkStylePool::Instance() {
    static BkStylePool* pool = new BkStylePool;
    return *pool;
}

BkStyle* BkStylePool::GetStyle(const std::string& className) {
    BkStylePool& pool = Instance();
    auto it = pool.m_styles.find(className);
    if (it != pool.m_styles.end()) return &it->second;
    return &pool.m_styles[std::string()];
}

void BkStylePool::Reset() {
    m_styles.clear();
    m_styles[std::string()];
}

// ---- strings -----------------------------------------------------------------------------------

BkString& BkString::Instance() {
    static BkString* table = new BkString;
    return *table;
}

LPCWSTR BkString::Get(UINT id) {
    BkString& table = Instance();
    auto it = table.m_strings.find(id);
    return it == table.m_strings.end() ? nullptr : it->second.c_str();
}

// ---- fonts -------------------------------------------------------------------------------------

BkFontPool& BkFontPool::Instance() {
    static BkFontPool* pool = new BkFontPool;
    return *pool;
}

BkFontPool::BkFontPool() : m_fonts(17) { RebuildBase(); }

void BkFontPool::RebuildBase() {
    LOGFONTW lf = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    lf.lfHeight = m_height;
    // The face field holds 31 characters and the terminator; a longer face is cut.
    wcsncpy(lf.lfFaceName, m_face.c_str(), LF_FACESIZE - 1);
    lf.lfFaceName[LF_FACESIZE - 1] = 0;
    lf.lfQuality = ANTIALIASED_QUALITY;
    m_lfBase = lf;
    HFONT base = ::CreateFontIndirectW(&m_lfBase);
    auto it = m_fonts.find(0);
    if (it != m_fonts.end()) {
        if (it->second) ::DeleteObject(it->second);
        m_fonts.erase(it);
    }
    if (base) m_fonts[0] = base;
}

HFONT BkFontPool::GetFont(WORD code) {
    BkFontPool& pool = Instance();
    auto it = pool.m_fonts.find(code);
    if (it != pool.m_fonts.end()) return it->second;
    HFONT font = CreateStyledFont((signed char)(code >> 8), (code & 0x4) != 0, (code & 0x2) != 0, (code & 0x1) != 0);
    if (font) pool.m_fonts[code] = font;
    return font;
}

HFONT BkFontPool::CreateStyledFont(int sizeStep, BOOL bold, BOOL underline, BOOL italic) {
    LOGFONTW lf = Instance().m_lfBase;
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = underline ? 1 : 0;
    lf.lfItalic = italic ? 1 : 0;
    lf.lfHeight -= sizeStep;
    return ::CreateFontIndirectW(&lf);
}

void BkFontPool::SetDefaultFontFace(LPCWSTR face) {
    BkFontPool& pool = Instance();
    pool.m_face = face ? face : L"";
    pool.m_height = -12;
    pool.RebuildBase();
}
