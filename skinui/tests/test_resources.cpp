// The resource loader, the hexadecimal and colour parsers, and the three tables read from XML.
#include <gtest/gtest.h>

#include <windows.h>

#include "bkres.h"
#include "bkskin.h"
#include "bkstyle.h"
#include "fixtures.h"
#include "tablefiles.h"

namespace {

TEST(HexParsers, HexToIntReadsDigitsUpToTheLimitAndRejectsTheRest) {
    struct Case {
        const char* text;
        int max;
        DWORD expect;
    } cases[] = {
        {"0002", -1, 2},       {"00g2", -1, 0},           {"", -1, 0},
        {nullptr, -1, 0},      {"FF", -1, 0xFF},          {"fF", -1, 0xFF},
        {"fF", 1, 0xF},        {"1234", 2, 0x12},         {"12x", 2, 0x12},
        {"8030", -1, 0x8030},  {"25", -1, 0x25},          {"12345678", -1, 0x12345678},
        {"0104", -1, 0x104},   {" 1", -1, 0},             {"-1", -1, 0},
        {"12g", -1, 0},        {"FF #", -1, 0},  // a bad character voids the digits before it
    };
    for (const Case& c : cases)
        EXPECT_EQ(BkHexToInt(c.text, c.max), c.expect) << (c.text ? c.text : "(null)") << " max " << c.max;
}

TEST(HexParsers, ColourFromHexReadsThreePairsAsRgb) {
    struct Case {
        const char* text;
        COLORREF expect;
    } cases[] = {
        {"FBFCFD", 0x00FDFCFB},
        {"fbfcfd", 0x00FDFCFB},
        {"#FBFCFD", RGB(0x00, 0xBF, 0xCF)},  // '#' is no digit: the first pair reads 0, the rest shifts
        {"F", RGB(0x0F, 0, 0)},              // a lone digit; the missing pairs read 0
        {"FFFF", RGB(0xFF, 0xFF, 0)},
        {"7D9EBC", RGB(0x7D, 0x9E, 0xBC)},
        {"12zz56", RGB(0x12, 0, 0x56)},
        {"", 0},
        {nullptr, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BkColorFromHex(c.text), c.expect) << (c.text ? c.text : "(null)");
}

// ---- loader ------------------------------------------------------------------------------------

TEST(ResourceLoader, ReadsTheProgramsResourceExactly) {
    std::string bytes = "old";
    ASSERT_TRUE(BkResourceLoader::LoadResource(kResXml, L"xml", bytes));
    EXPECT_EQ(bytes, "resource-900");
    EXPECT_EQ(bytes.size(), 12u);
    EXPECT_EQ(bytes.c_str()[bytes.size()], '\0');

    bytes = "kept";
    EXPECT_FALSE(BkResourceLoader::LoadResource(kResXml + 1, L"xml", bytes));
    EXPECT_EQ(bytes, "kept");
    EXPECT_FALSE(BkResourceLoader::LoadResource(kResXml, L"png", bytes));
    EXPECT_EQ(bytes, "kept");
}

TEST(ResourceLoader, AFileOfTheSkinFolderComesFirst) {
    SkinFolder folder;
    std::string bytes;
    // No file yet: the resource.
    ASSERT_TRUE(BkResourceLoader::LoadResource(kResXml, L"xml", bytes));
    EXPECT_EQ(bytes, "resource-900");
    // A file of that id and type wins.
    ASSERT_TRUE(folder.Put(kResXml, L"xml", std::string("from\0folder", 11)));
    ASSERT_TRUE(BkResourceLoader::LoadResource(kResXml, L"xml", bytes));
    EXPECT_EQ(bytes, std::string("from\0folder", 11));
    // An empty file does not count.
    ASSERT_TRUE(folder.Put(kResXml, L"xml", ""));
    ASSERT_TRUE(BkResourceLoader::LoadResource(kResXml, L"xml", bytes));
    EXPECT_EQ(bytes, "resource-900");
    // A file alone is enough.
    ASSERT_TRUE(folder.Put(4321, L"xml", "only here"));
    ASSERT_TRUE(BkResourceLoader::LoadResource(4321, L"xml", bytes));
    EXPECT_EQ(bytes, "only here");
}

// ---- strings -----------------------------------------------------------------------------------

TEST(StringTable, LoadsTextsByIdAndMergesRepeatedLoads) {
    SkinFolder folder;
    BkString::Instance().Clear();
    ASSERT_TRUE(folder.Put(kBkStringXmlId, L"xml",
                           "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                           "<string>\n"
                           "  <s id=\"0\">宋体</s>\n"
                           "  <s id=\"1\">Tolven电脑锁2012</s>\n"
                           "  <!-- a comment -->\n"
                           "  <s>no id</s>\n"
                           "  <s id=\"5\"></s>\n"
                           "  <s id=\"17\">&lt;button id=%d pos=\"%d,0,%d,-0\" class=normalbtn&gt;%s&lt;/button&gt;</s>\n"
                           "  <s id=\"7\">first</s>\n"
                           "  <s id=\"7\">second</s>\n"
                           "  <t id=\"8\">not an s</t>\n"
                           "</string>\n"));
    ASSERT_TRUE(LoadStringXml());
    EXPECT_STREQ(BkString::Get(0), L"宋体");
    EXPECT_STREQ(BkString::Get(1), L"Tolven电脑锁2012");
    ASSERT_NE(BkString::Get(5), nullptr);
    EXPECT_STREQ(BkString::Get(5), L"");
    EXPECT_STREQ(BkString::Get(17), L"<button id=%d pos=\"%d,0,%d,-0\" class=normalbtn>%s</button>");
    EXPECT_STREQ(BkString::Get(7), L"second");
    EXPECT_EQ(BkString::Get(8), nullptr);
    EXPECT_EQ(BkString::Get(99), nullptr);

    // Loading again overwrites the ids it has and keeps the others.
    ASSERT_TRUE(folder.Put(kBkStringXmlId, L"xml", "<string><s id=\"7\">third</s></string>"));
    ASSERT_TRUE(LoadStringXml());
    EXPECT_STREQ(BkString::Get(7), L"third");
    EXPECT_STREQ(BkString::Get(0), L"宋体");
}

TEST(StringTable, BadTablesFailAndLeaveTheTableAsItWas) {
    SkinFolder folder;
    BkString::Instance().Clear();
    BkString::Instance().Set(3, L"before");
    struct Case {
        const char* what;
        const char* xml;  // null: no table at all
    } cases[] = {
        {"missing", nullptr},
        {"malformed", "<string><s id=\"3\">after</string>"},
        {"wrong root", "<strings><s id=\"3\">after</s></strings>"},
        {"root case", "<String><s id=\"3\">after</s></String>"},
    };
    for (const Case& c : cases) {
        folder.Remove(kBkStringXmlId, L"xml");
        if (c.xml) {
            ASSERT_TRUE(folder.Put(kBkStringXmlId, L"xml", c.xml));
        }
        EXPECT_FALSE(LoadStringXml()) << c.what;
        EXPECT_STREQ(BkString::Get(3), L"before") << c.what;
    }
}

// ---- skins -------------------------------------------------------------------------------------

TEST(SkinTable, BuildsThePoolByNameTheLaterOfTwoNamesWinning) {
    SkinFolder folder;
    ASSERT_TRUE(folder.Put(kBkSkinXmlId, L"xml",
                           "<skins>\n"
                           "  <imglst name=\"strip\" src=\"2003\" subwidth=\"71\"/>\n"
                           "  <!-- comment -->\n"
                           "  <button name=\"btn\" bg=\"FBFCFD\" border=\"7D9EBC\"/>\n"
                           "  <button name=\"twice\" bg=\"111111\"/>\n"
                           "  <gradation name=\"twice\" from=\"222222\"/>\n"
                           "  <imgframe src=\"2001\"/>\n"
                           "  <nosuchskin name=\"unknown\"/>\n"
                           "  <Button name=\"capital\"/>\n"
                           "  <png name=\"pic\" src=\"3001\" subwidth=\"43\" left=\"3\" mode=\"mask\"/>\n"
                           "</skins>\n"));
    ASSERT_TRUE(LoadSkinXml());
    BkSkinPool& pool = BkSkinPool::Instance();
    EXPECT_EQ(pool.Count(), 4u);
    CBkSkinBase* strip = BkSkinPool::GetSkin("strip");
    ASSERT_NE(strip, nullptr);
    EXPECT_STREQ(strip->TagName(), "imglst");
    EXPECT_EQ(BkSkinPool::GetSkin("strip"), strip);  // the same object every time
    SIZE size;
    strip->GetSkinSize(size);
    EXPECT_EQ(size.cx, 71);
    EXPECT_EQ(size.cy, 3);

    auto* btn = dynamic_cast<CBkSkinButton*>(BkSkinPool::GetSkin("btn"));
    ASSERT_NE(btn, nullptr);
    EXPECT_EQ(btn->m_crBg, RGB(0xFB, 0xFC, 0xFD));
    EXPECT_EQ(btn->m_crBorder, RGB(0x7D, 0x9E, 0xBC));
    EXPECT_EQ(btn->m_crBgDown, RGB(0xD6, 0xD6, 0xD6));  // default kept

    auto* twice = dynamic_cast<CBkSkinGradation*>(BkSkinPool::GetSkin("twice"));
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice->m_crFrom, RGB(0x22, 0x22, 0x22));

    auto* pic = dynamic_cast<CBkPngSkin*>(BkSkinPool::GetSkin("pic"));
    ASSERT_NE(pic, nullptr);
    EXPECT_NE(pic->m_pImg, nullptr);
    EXPECT_EQ(pic->m_nSubWidth, 43);

    EXPECT_EQ(BkSkinPool::GetSkin("unknown"), nullptr);
    EXPECT_EQ(BkSkinPool::GetSkin("capital"), nullptr);
    EXPECT_EQ(BkSkinPool::GetSkin(""), nullptr);
}

TEST(SkinTable, BadTablesLeaveThePoolEmpty) {
    SkinFolder folder;
    struct Case {
        const char* what;
        const char* xml;
        BOOL result;
    } cases[] = {
        {"malformed", "<skins><button name=\"a\"></skins>", FALSE},
        {"wrong root", "<skin><button name=\"a\"/></skin>", TRUE},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(folder.Put(kBkSkinXmlId, L"xml", "<skins><button name=\"old\"/></skins>"));
        ASSERT_TRUE(LoadSkinXml());
        ASSERT_NE(BkSkinPool::GetSkin("old"), nullptr);
        ASSERT_TRUE(folder.Put(kBkSkinXmlId, L"xml", c.xml));
        EXPECT_EQ(LoadSkinXml(), c.result) << c.what;
        EXPECT_EQ(BkSkinPool::Instance().Count(), 0u) << c.what;
    }
    folder.Remove(kBkSkinXmlId, L"xml");
    EXPECT_FALSE(LoadSkinXml());
}

// ---- styles ------------------------------------------------------------------------------------

TEST(StyleTable, RepeatedClassesMergeTheLaterAttributesWinning) {
    SkinFolder folder;
    ASSERT_TRUE(folder.Put(kBkStyleXmlId, L"xml",
                           "<style>\n"
                           "  <class name=\"linktext\" font=\"0002\" crtext=\"3064A5\" crhover=\"FF0000\" cursor=\"hand\"/>\n"
                           "  <class crtext=\"123456\"/>\n"
                           "  <class name=\"linktext\" crtext=\"000080\" skin=\"panel\"/>\n"
                           "  <class name=\"center\" textmode=\"25\" margin=\"4\"/>\n"
                           "  <other name=\"ignored\"/>\n"
                           "</style>\n"));
    ASSERT_TRUE(LoadStyleXml());
    EXPECT_EQ(BkStylePool::Instance().Count(), 3u);  // "", linktext, center
    BkStyle* link = BkStylePool::GetStyle("linktext");
    EXPECT_EQ(link->m_crText, RGB(0x00, 0x00, 0x80));
    EXPECT_EQ(link->m_crHoverText, RGB(0xFF, 0x00, 0x00));
    EXPECT_EQ(link->m_ftText, BkFontPool::GetFont(0x0002));
    EXPECT_EQ(link->m_uCursorId, 32649u);
    EXPECT_EQ(link->m_strSkinName, "panel");
    EXPECT_EQ(link->m_strClassName, "linktext");
    BkStyle* center = BkStylePool::GetStyle("center");
    EXPECT_EQ(center->m_nTextMode, (UINT)(DT_SINGLELINE | DT_VCENTER | DT_CENTER));
    EXPECT_EQ(center->m_nMarginX, 4);
    EXPECT_EQ(center->m_nMarginY, 4);

    // An unknown class gives the default entry.
    BkStyle* unknown = BkStylePool::GetStyle("ignored");
    EXPECT_EQ(unknown, BkStylePool::GetStyle(""));
    EXPECT_EQ(unknown->m_nTextMode, 0x28u);
    EXPECT_TRUE(unknown->m_strClassName.empty());
}

TEST(StyleTable, BadTablesKeepOnlyTheDefaultEntry) {
    SkinFolder folder;
    struct Case {
        const char* what;
        const char* xml;
        BOOL result;
    } cases[] = {
        {"malformed", "<style><class name=\"a\"></style>", FALSE},
        {"wrong root", "<styles><class name=\"a\"/></styles>", TRUE},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(folder.Put(kBkStyleXmlId, L"xml", "<style><class name=\"old\" crtext=\"010203\"/></style>"));
        ASSERT_TRUE(LoadStyleXml());
        ASSERT_EQ(BkStylePool::GetStyle("old")->m_crText, RGB(1, 2, 3));
        ASSERT_TRUE(folder.Put(kBkStyleXmlId, L"xml", c.xml));
        EXPECT_EQ(LoadStyleXml(), c.result) << c.what;
        EXPECT_EQ(BkStylePool::Instance().Count(), 1u) << c.what;
        EXPECT_EQ(BkStylePool::GetStyle("old")->m_crText, CLR_INVALID) << c.what;
    }
    folder.Remove(kBkStyleXmlId, L"xml");
    EXPECT_FALSE(LoadStyleXml());
    EXPECT_EQ(BkStylePool::GetStyle("x")->m_nLineSpacing, 20);
}

// ---- start-up ----------------------------------------------------------------------------------

TEST(SkinStartUp, StyleFontsTakeTheFaceOfStringZero) {
    SkinFolder folder;
    ASSERT_TRUE(folder.Put(kBkStringXmlId, L"xml", "<string><s id=\"0\">宋体</s></string>"));
    ASSERT_TRUE(folder.Put(kBkSkinXmlId, L"xml", "<skins><button name=\"normalbtn\"/></skins>"));
    ASSERT_TRUE(folder.Put(kBkStyleXmlId, L"xml",
                           "<style><class name=\"title\" font=\"0304\" skin=\"normalbtn\"/></style>"));
    BkLoadSkinTables(TRUE);
    BkStyle* title = BkStylePool::GetStyle("title");
    ASSERT_NE(title->m_ftText, nullptr);
    LOGFONTW lf = {};
    ASSERT_NE(GetObjectW(title->m_ftText, sizeof(lf), &lf), 0);
    EXPECT_STREQ(lf.lfFaceName, L"宋体");
    EXPECT_EQ(lf.lfHeight, -15);  // -12 from the face change, 3 steps larger
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_NE(BkSkinPool::GetSkin(title->m_strSkinName), nullptr);
}

}  // namespace
