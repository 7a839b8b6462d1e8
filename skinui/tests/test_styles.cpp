// Style attributes and the font pool's font codes.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "bkstyle.h"

namespace {

LOGFONTW FontOf(HFONT f) {
    LOGFONTW lf = {};
    GetObjectW(f, sizeof(lf), &lf);
    return lf;
}

TEST(StyleAttributes, DefaultsAndResultsOfEveryName) {
    BkStyle s;
    EXPECT_EQ(s.m_crBg, CLR_INVALID);
    EXPECT_EQ(s.m_crText, CLR_INVALID);
    EXPECT_EQ(s.m_crDisabledText, RGB(0xCC, 0xCC, 0xCC));
    EXPECT_EQ(s.m_nTextMode, 0x28u);  // DT_SINGLELINE | DT_BOTTOM
    EXPECT_EQ(s.m_nLineSpacing, 20);
    EXPECT_EQ(s.m_uCursorId, 32512u);
    EXPECT_EQ(s.m_ftText, nullptr);
    EXPECT_STREQ(s.TagName(), "style");
    EXPECT_TRUE(s.IsTag("style"));
    EXPECT_FALSE(s.IsTag("Style"));

    struct Case {
        const char* name;
        const char* value;
        HRESULT expect;
    } cases[] = {
        {"name", "mainhead", S_OK},    {"skin", "panel", S_OK},      {"textmode", "8030", S_OK},
        {"font", "0004", S_OK},        {"hoverfont", "0006", S_OK},  {"x-margin", "3", S_OK},
        {"y-margin", "5", S_OK},       {"spacing", "2", S_OK},       {"linespacing", "18", S_OK},
        {"crbg", "010203", S_FALSE},   {"crbghover", "040506", S_FALSE},
        {"crtext", "070809", S_FALSE}, {"crhover", "0A0B0C", S_FALSE},
        {"crdisabled", "0D0E0F", S_FALSE},
        {"cursor", "hand", S_FALSE},   {"cursor", "Hand", E_FAIL},   {"unknown", "1", E_FAIL},
        {"Font", "0004", E_FAIL},
    };
    for (const Case& c : cases) EXPECT_EQ(s.SetAttribute(c.name, c.value, TRUE), c.expect) << c.name << "=" << c.value;

    EXPECT_EQ(s.m_strClassName, "mainhead");
    EXPECT_EQ(s.m_strSkinName, "panel");
    EXPECT_EQ(s.m_nTextMode, 0x8030u);
    EXPECT_EQ(s.m_ftText, BkFontPool::GetFont(0x0004));
    EXPECT_EQ(s.m_ftHover, BkFontPool::GetFont(0x0006));
    EXPECT_EQ(s.m_nMarginX, 3);
    EXPECT_EQ(s.m_nMarginY, 5);
    EXPECT_EQ(s.m_nSpacing, 2);
    EXPECT_EQ(s.m_nLineSpacing, 18);
    EXPECT_EQ(s.m_crBg, RGB(1, 2, 3));
    EXPECT_EQ(s.m_crBgHover, RGB(4, 5, 6));
    EXPECT_EQ(s.m_crText, RGB(7, 8, 9));
    EXPECT_EQ(s.m_crHoverText, RGB(10, 11, 12));
    EXPECT_EQ(s.m_crDisabledText, RGB(13, 14, 15));
    EXPECT_EQ(s.m_uCursorId, 32649u);  // "Hand" changed nothing

    EXPECT_EQ(s.SetAttribute("margin", "7", TRUE), S_OK);
    EXPECT_EQ(s.m_nMarginX, 7);
    EXPECT_EQ(s.m_nMarginY, 7);
    EXPECT_EQ(s.SetAttribute("cursor", "arrow", TRUE), S_FALSE);
    EXPECT_EQ(s.m_uCursorId, 32512u);

    BkStyle copy = s;  // an element's copy keeps the names too
    EXPECT_EQ(copy.m_strClassName, "mainhead");
    EXPECT_EQ(copy.m_strSkinName, "panel");
}

TEST(FontPool, CodesGiveStyleBitsAndSizeStepsOnTheBaseHeight) {
    BkFontPool::SetDefaultFontFace(L"Tahoma");  // base height -12
    struct Case {
        const char* code;
        LONG height;
        LONG weight;
        BYTE italic;
        BYTE underline;
    } cases[] = {
        {"0104", -13, FW_BOLD, 0, 0},   {"FF00", -11, FW_NORMAL, 0, 0}, {"1005", -28, FW_BOLD, 1, 0},
        {"0001", -12, FW_NORMAL, 1, 0}, {"0002", -12, FW_NORMAL, 0, 1}, {"0007", -12, FW_BOLD, 1, 1},
        {"0300", -15, FW_NORMAL, 0, 0}, {"FE04", -10, FW_BOLD, 0, 0},
    };
    for (const Case& c : cases) {
        BkStyle s;
        ASSERT_EQ(s.SetAttribute("font", c.code, TRUE), S_OK);
        ASSERT_NE(s.m_ftText, nullptr) << c.code;
        LOGFONTW lf = FontOf(s.m_ftText);
        EXPECT_EQ(lf.lfHeight, c.height) << c.code;
        EXPECT_EQ(lf.lfWeight, c.weight) << c.code;
        EXPECT_EQ(lf.lfItalic, c.italic) << c.code;
        EXPECT_EQ(lf.lfUnderline, c.underline) << c.code;
        EXPECT_STREQ(lf.lfFaceName, L"Tahoma") << c.code;
        EXPECT_EQ(lf.lfQuality, ANTIALIASED_QUALITY) << c.code;
    }
}

TEST(FontPool, TheSameCodeGivesTheSameFontAndBadCodesTheBase) {
    HFONT a = BkFontPool::GetFont(0x0104);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(BkFontPool::GetFont(0x0104), a);
    HFONT base = BkFontPool::GetFont(0);
    ASSERT_NE(base, nullptr);
    BkStyle s;
    s.SetAttribute("font", "zz04", TRUE);
    EXPECT_EQ(s.m_ftText, base);
    // A font made for the caller is new each time and not the cached one.
    HFONT own = BkFontPool::CreateStyledFont(1, TRUE, FALSE, FALSE);
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, a);
    EXPECT_EQ(FontOf(own).lfHeight, FontOf(a).lfHeight);
    DeleteObject(own);
}

// The pool as its first use made it, taken before any test can change its face.
const LOGFONTW g_baseAtCreation = FontOf(BkFontPool::GetFont(0));

TEST(FontPool, ChangingTheFaceRebuildsOnlyTheBaseFont) {
    // At creation the pool has "Tahoma" at -11.
    EXPECT_STREQ(g_baseAtCreation.lfFaceName, L"Tahoma");
    EXPECT_EQ(g_baseAtCreation.lfHeight, -11);

    BkFontPool::SetDefaultFontFace(L"Tahoma");
    HFONT boldBefore = BkFontPool::GetFont(0x0705);  // a code no other test asks for
    BkFontPool::SetDefaultFontFace(L"宋体");
    LOGFONTW base = FontOf(BkFontPool::GetFont(0));
    EXPECT_STREQ(base.lfFaceName, L"宋体");
    EXPECT_EQ(base.lfHeight, -12);
    // Fonts cached under other codes keep the face they were made with.
    EXPECT_EQ(BkFontPool::GetFont(0x0705), boldBefore);
    EXPECT_STREQ(FontOf(boldBefore).lfFaceName, L"Tahoma");
    EXPECT_STREQ(FontOf(BkFontPool::GetFont(0x0605)).lfFaceName, L"宋体");

    // The face field holds 31 characters.
    const std::wstring longFace(40, L'A');
    BkFontPool::SetDefaultFontFace(longFace.c_str());
    EXPECT_EQ(std::wstring(BkFontPool::Instance().BaseLogFont().lfFaceName), std::wstring(31, L'A'));
    EXPECT_EQ(std::wstring(FontOf(BkFontPool::GetFont(0)).lfFaceName), std::wstring(31, L'A'));

    BkFontPool::SetDefaultFontFace(nullptr);
    EXPECT_STREQ(BkFontPool::Instance().BaseLogFont().lfFaceName, L"");
}

TEST(FontPool, FontsMeasureAsTheDcSaysWithTheSameHandle) {
    // Bigger codes measure bigger text with the very fonts the pool hands out; nothing hard-coded.
    BkFontPool::SetDefaultFontFace(L"Tahoma");
    HDC dc = CreateCompatibleDC(nullptr);
    auto measure = [dc](HFONT f) {
        HGDIOBJ old = SelectObject(dc, f);
        SIZE s = {};
        GetTextExtentPoint32W(dc, L"Tolven", 6, &s);
        SelectObject(dc, old);
        return s;
    };
    SIZE normal = measure(BkFontPool::GetFont(0x0000));
    SIZE larger = measure(BkFontPool::GetFont(0x1000));
    EXPECT_GT(larger.cy, normal.cy);
    EXPECT_GT(larger.cx, normal.cx);
    DeleteDC(dc);
}

}  // namespace
