// Warden's own resources read through the skin framework's loaders: the three tables, the layouts,
// the skins' art, the icons and the tray menu. A name that a layout or a style gives but no table
// holds draws nothing at run time and shows no error, so every cross-reference is checked here.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>
#include <tinyxml.h>

#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bkres.h"
#include "bkskin.h"
#include "bkstyle.h"
#include "paneltext.h"

namespace {

const UINT16 kFullLayouts[] = {103, 105, 113, 514};
const UINT16 kFragments[] = {506, 508, 509, 510, 511};

class WardenResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(LoadStringXml());
        ASSERT_TRUE(LoadSkinXml());
        ASSERT_TRUE(LoadStyleXml());
    }

    static bool HasStyle(const std::string& name) {
        return BkStylePool::GetStyle(name)->m_strClassName == name;
    }

    // The layout's document; fails the test when it is missing or does not parse.
    static bool Parse(UINT16 id, TiXmlDocument& doc) {
        std::string bytes;
        if (!BkResourceLoader::LoadResource(id, L"xml", bytes)) {
            ADD_FAILURE() << "layout " << id << " is not a resource";
            return false;
        }
        doc.Parse(bytes.c_str(), nullptr, TIXML_ENCODING_UTF8);
        if (doc.Error()) {
            ADD_FAILURE() << "layout " << id << ": " << doc.ErrorDesc() << " at row " << doc.ErrorRow();
            return false;
        }
        return doc.FirstChildElement() != nullptr;
    }
};

// Every element of a layout, with its own attributes.
void Walk(const TiXmlElement* e, std::vector<const TiXmlElement*>& out) {
    for (; e; e = e->NextSiblingElement()) {
        out.push_back(e);
        Walk(e->FirstChildElement(), out);
    }
}

std::vector<const TiXmlElement*> AllElements(const TiXmlDocument& doc) {
    std::vector<const TiXmlElement*> all;
    Walk(doc.FirstChildElement(), all);
    return all;
}

TEST_F(WardenResources, StringTableHoldsEveryTextThePanelUses) {
    struct Case {
        UINT id;
        const wchar_t* text;
    } cases[] = {
        {0, L"宋体"},
        {1, L"Tolven电脑锁2012"},
        {4, L"开/关机时间"},
        {5, L"登录用户"},
        {6, L"信息"},
        {7, L"Tolven中国"},
        {8, L"帮助手册"},
        {9, L"联系购买"},
        {12, L"\\Tolven电脑锁使用指南.chm"},
        {17, L"<button id=%d pos=\"%d,0,%d,-0\" class=normalbtn>%s</button>"},
        {18, L"确定"},
        {19, L"取消"},
        {20, L"放弃"},
        {21, L"重试"},
        {22, L"忽略"},
        {23, L"是"},
        {24, L"否"},
        {25, L"继续"},
        {26, L"<dlg pos=\"|-%d,0,|%d,-0\">%s</dlg>"},
        {38, L"选择U盘"},
        {39, L"选择U盾"},
        {40, L"更换设备"},
        {41, L"检查升级"},
        {42, L"为保证您的系统安全，请输入登陆口令，初始口令为806"},
        {43, L"修改口令请先输入旧口令"},
        {44, L"请输入新口令"},
        {45, L"请在一次输入新口令"},
        {46, L"登陆系统，请输入口令"},
        {47, L"请输入口令"},
        {48, L"口令错误"},
        {49, L"操作提示"},
        {53, L"操作成功！"},
        {200, L"保存失败（错误码 %lu），原有设置未改变，请以管理员身份运行后重试。"},
        {201, L"部分设置未能保存（错误码 %lu），请以管理员身份运行后重新保存设置。"},
        {202, L"需要管理员权限才能运行Tolven电脑锁，程序将退出。"},
        {203, L"无法读取已保存的用户信息（错误码 %lu），不能验证口令。请以管理员身份运行或重新安装后重试。"},
        {204, L"保存失败（错误码 %lu），原有设置未改变：程序文件缺失，请重新安装Tolven电脑锁。"},
        {205, L"部分设置未能保存（错误码 %lu）：程序文件缺失，请重新安装Tolven电脑锁后重新保存设置。"},
        {206, L"保存失败（错误码 %lu），原有设置未改变。"},
        {207, L"部分设置未能保存（错误码 %lu），请重新保存设置。"},
        {210, L"更换设备失败：无法注销登陆模块（错误码 %lu），设备模式未更改。"},
        {211, L"更换设备失败：无法关闭保护功能（错误码 %lu），设备模式未更改。"},
        {212, L"更换设备失败：无法停止电脑锁服务（错误码 %lu），设备模式未更改。"},
        {213, L"更换设备失败：无法保存新的设备模式（错误码 %lu），设备模式未更改。"},
        {214, L"原有的开机保护、锁屏保护等功能保持不变。"},
        {215, L"部分原有保护设置未能恢复（错误码 %lu），请以管理员身份运行后在【个性设置】中重新保存设置。"},
    };
    for (const Case& c : cases) {
        LPCWSTR text = BkString::Get(c.id);
        ASSERT_NE(text, nullptr) << "string " << c.id;
        EXPECT_STREQ(text, c.text) << "string " << c.id;
    }
    // The panel's logic keeps its own copy of these texts until its dialogs read the table; both
    // must say the same.
    for (int id : {38, 39, 40, 42, 43, 44, 45, 46, 47, 48, 49, 53, 200, 201, 202, 203, 204, 205, 206, 207, 210, 211, 212, 213, 214, 215}) {
        LPCWSTR text = BkString::Get(id);
        ASSERT_NE(text, nullptr) << "string " << id;
        EXPECT_STREQ(text, warden::PanelString(id)) << "string " << id;
    }
    // The maker's addresses are placeholders; the about page's line is free text.
    for (UINT id : {10u, 11u}) {
        LPCWSTR text = BkString::Get(id);
        ASSERT_NE(text, nullptr) << "string " << id;
        EXPECT_EQ(wcsncmp(text, L"http://www.example.com/", 23), 0) << "string " << id;
    }
    ASSERT_NE(BkString::Get(2), nullptr);
    EXPECT_NE(BkString::Get(2)[0], 0);
}

TEST_F(WardenResources, SkinTableHoldsFortySkinsEachWithItsPicture) {
    EXPECT_EQ(BkSkinPool::Instance().Count(), 40u);
    TiXmlDocument doc;
    ASSERT_TRUE(Parse(kBkSkinXmlId, doc));
    std::map<std::string, int> perTag;
    for (const TiXmlElement* e = doc.FirstChildElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const char* name = e->Attribute("name");
        ASSERT_NE(name, nullptr);
        ++perTag[e->Value()];
        CBkSkinBase* skin = BkSkinPool::GetSkin(name);
        ASSERT_NE(skin, nullptr) << name;
        EXPECT_STREQ(skin->TagName(), e->Value()) << name;
        // A skin without its picture draws nothing and says nothing: every one must have it.
        if (auto* png = dynamic_cast<CBkPngSkin*>(skin)) {
            EXPECT_NE(png->m_pImg, nullptr) << name;
        }
        if (auto* img = dynamic_cast<CBkImageSkin*>(skin)) {
            EXPECT_NE(img->m_hBitmap, nullptr) << name;
        }
        if (auto* frame = dynamic_cast<CBkSkinImgFrame*>(skin)) {
            EXPECT_NE(frame->m_imgSkin.m_hBitmap, nullptr) << name;
        }
        if (auto* bar = dynamic_cast<CBkSkinImgHorzExtend*>(skin)) {
            EXPECT_NE(bar->m_imgSkin.m_hBitmap, nullptr) << name;
        }
    }
    EXPECT_EQ(perTag["imgframe"], 13);
    EXPECT_EQ(perTag["imghorzex"], 9);
    EXPECT_EQ(perTag["button"], 2);
    EXPECT_EQ(perTag["imglst"], 3);
    EXPECT_EQ(perTag["png"], 13);
    EXPECT_EQ(perTag["gradation"], 0);
}

TEST_F(WardenResources, SkinsCarryTheirFixedSizesAndParts) {
    struct PngCase {
        const char* name;
        int subWidth;
    } pngs[] = {{"closebtn", 43},          {"maxbtn", 30},           {"restorebtn", 30}, {"minbtn", 32},
                {"righttopicon", 32},      {"firststart_ud_btn", 87}, {"firststart_up_btn", 87},
                {"closeonlybtn", 43}};
    for (const PngCase& c : pngs) {
        auto* png = dynamic_cast<CBkPngSkin*>(BkSkinPool::GetSkin(c.name));
        ASSERT_NE(png, nullptr) << c.name;
        EXPECT_EQ(png->m_nSubWidth, c.subWidth) << c.name;
        SIZE size = {};
        png->GetSkinSize(size);
        EXPECT_EQ(size.cx, c.subWidth) << c.name;
    }
    auto* tabmain = dynamic_cast<CBkImageSkin*>(BkSkinPool::GetSkin("tabmain"));
    ASSERT_NE(tabmain, nullptr);
    EXPECT_EQ(tabmain->m_nSubImageWidth, 71);
    EXPECT_EQ(tabmain->m_nDrawMode, kBkDrawKeyColor);
    SIZE tabSize = {};
    tabmain->GetSkinSize(tabSize);
    EXPECT_EQ(tabSize.cx, 71);
    EXPECT_EQ(tabSize.cy, 71);  // the main panel's tabs are 71 x 71
    auto* tab = dynamic_cast<CBkSkinImgHorzExtend*>(BkSkinPool::GetSkin("tab"));
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->m_imgSkin.m_nSubImageWidth, 7);

    struct FramePart {
        const char* name;
        UINT part;
    } parts[] = {{"tabpage", 0x07},    {"msgboxhead", 0x2B}, {"dlgbody", 0x2A},
                 {"dlgfoot", 0x2E},    {"msgboxbody", 0x2F}, {"msgboxfoot", 0x2E}};
    for (const FramePart& c : parts) {
        auto* frame = dynamic_cast<CBkSkinImgFrame*>(BkSkinPool::GetSkin(c.name));
        ASSERT_NE(frame, nullptr) << c.name;
        EXPECT_EQ(frame->m_uDrawPart, c.part) << c.name;
        // The frame draws its bottom corners top pixels high: the bitmap must be 2 x top + 1 high.
        SIZE size = frame->m_imgSkin.BitmapSize();
        EXPECT_EQ(size.cy, 2 * frame->m_nTop + 1) << c.name;
        EXPECT_EQ(size.cx, 2 * frame->m_nLeft + 1) << c.name;
    }

    auto* normal = dynamic_cast<CBkSkinButton*>(BkSkinPool::GetSkin("normalbtn"));
    ASSERT_NE(normal, nullptr);
    EXPECT_EQ(normal->m_crBorder, RGB(0x7D, 0x9E, 0xBC));
    EXPECT_EQ(normal->m_crBg, RGB(0xFB, 0xFC, 0xFD));
    EXPECT_EQ(normal->m_crBgUp, RGB(0xFE, 0xFE, 0xFE));
    EXPECT_EQ(normal->m_crBgDown, RGB(0xC6, 0xE2, 0xFD));
    EXPECT_EQ(normal->m_crBgUpHover, RGB(0xFE, 0xFE, 0xFE));
    EXPECT_EQ(normal->m_crBgDownHover, RGB(0xDB, 0xED, 0xFE));
    EXPECT_EQ(normal->m_crBgUpPush, RGB(0xC6, 0xE2, 0xFD));
    EXPECT_EQ(normal->m_crBgDownPush, RGB(0xFE, 0xFE, 0xFE));
    auto* ugly = dynamic_cast<CBkSkinButton*>(BkSkinPool::GetSkin("uglybtn"));
    ASSERT_NE(ugly, nullptr);
    EXPECT_EQ(ugly->m_crBorder, RGB(0x70, 0x70, 0x70));
}

TEST_F(WardenResources, StyleClassesNameOnlySkinsThatExist) {
    TiXmlDocument doc;
    ASSERT_TRUE(Parse(kBkStyleXmlId, doc));
    int classes = 0;
    for (const TiXmlElement* e = doc.FirstChildElement()->FirstChildElement("class"); e;
         e = e->NextSiblingElement("class")) {
        ++classes;
        const char* name = e->Attribute("name");
        ASSERT_NE(name, nullptr);
        EXPECT_TRUE(HasStyle(name)) << name;
        if (const char* skin = e->Attribute("skin")) {
            EXPECT_NE(BkSkinPool::GetSkin(skin), nullptr) << name << " skin " << skin;
        }
    }
    EXPECT_GT(classes, 0);

    const BkStyle* link = BkStylePool::GetStyle("linktext");
    ASSERT_TRUE(HasStyle("linktext"));
    EXPECT_EQ(link->m_ftText, BkFontPool::GetFont(0x0002));
    EXPECT_EQ(link->m_ftHover, BkFontPool::GetFont(0x0002));
    EXPECT_NE(link->m_ftText, nullptr);
    EXPECT_EQ(link->m_crText, RGB(0x30, 0x64, 0xA5));
    EXPECT_EQ(link->m_crHoverText, RGB(0xFF, 0x00, 0x00));
    EXPECT_EQ(link->m_uCursorId, 32649u);  // IDC_HAND
    EXPECT_EQ(BkStylePool::GetStyle("normalbtn")->m_strSkinName, "normalbtn");
    EXPECT_EQ(BkStylePool::GetStyle("cslFIrstStartDLG")->m_strSkinName, "firststartbg");
    // The frames of every window and the message box's classes.
    for (const char* name : {"mainhead", "mainbody", "mainfoot", "msgboxhead", "msgboxbody", "msgboxfoot", "dlgbody",
                             "dlgfoot", "normalbtn", "msgtext", "dlgtitle"})
        EXPECT_TRUE(HasStyle(name)) << name;
}

TEST_F(WardenResources, LayoutsParseWithTheirPartsAndNameOnlyWhatTheTablesHold) {
    struct Shape {
        UINT16 id;
        const char* title;  // null: none
        int width, height;
        bool header, body, footer;
    } shapes[] = {
        {103, "Tolven电脑锁2012", 700, 470, true, true, true},
        {105, nullptr, 300, 170, true, true, true},
        {113, "TolvenU盘电脑锁2012", 600, 368, true, true, false},
        {514, nullptr, 300, 240, true, true, true},
    };
    for (const Shape& s : shapes) {
        TiXmlDocument doc;
        ASSERT_TRUE(Parse(s.id, doc));
        const TiXmlElement* layer = doc.FirstChildElement();
        ASSERT_STREQ(layer->Value(), "layer") << s.id;
        const char* title = layer->Attribute("title");
        if (s.title) {
            EXPECT_STREQ(title ? title : "", s.title) << s.id;
        } else {
            EXPECT_EQ(title, nullptr) << s.id;
        }
        int w = 0, h = 0;
        layer->QueryIntAttribute("width", &w);
        layer->QueryIntAttribute("height", &h);
        EXPECT_EQ(w, s.width) << s.id;
        EXPECT_EQ(h, s.height) << s.id;
        EXPECT_EQ(layer->FirstChildElement("header") != nullptr, s.header) << s.id;
        EXPECT_EQ(layer->FirstChildElement("body") != nullptr, s.body) << s.id;
        EXPECT_EQ(layer->FirstChildElement("footer") != nullptr, s.footer) << s.id;
    }
    for (UINT16 id : kFragments) {
        TiXmlDocument doc;
        ASSERT_TRUE(Parse(id, doc));
        EXPECT_STREQ(doc.FirstChildElement()->Value(), "dlg") << id;
    }

    std::vector<UINT16> all(std::begin(kFullLayouts), std::end(kFullLayouts));
    all.insert(all.end(), std::begin(kFragments), std::end(kFragments));
    for (UINT16 id : all) {
        TiXmlDocument doc;
        ASSERT_TRUE(Parse(id, doc));
        const TiXmlElement* root = doc.FirstChildElement();
        for (const TiXmlElement* e : AllElements(doc)) {
            // The element factory skips a tag it does not know, and the item is silently missing.
            const TiXmlNode* parent = e->Parent();
            const bool part = e == root || (parent == root && strcmp(root->Value(), "layer") == 0);
            if (!part) {
                static const std::set<std::string> kTags = {
                    "dlg",  "dlgfile", "text", "button", "img",   "progress", "imgbtn",   "realwnd", "hr",
                    "check", "icon",   "tabctrl", "radio", "richtext", "link", "memimage", "imglisth", "edit",
                    "combo"};
                if (strcmp(e->Value(), "tab") == 0) {
                    EXPECT_STREQ(parent->Value(), "tabctrl") << id << ": a tab outside a tab control";
                }
                else
                    EXPECT_EQ(kTags.count(e->Value()), 1u) << id << ": tag " << e->Value();
            }
            // The element takes a picture's address from this text: a layout may only ever say 0.
            if (const char* pointer = e->Attribute("mempointer")) {
                EXPECT_STREQ(pointer, "0") << id;
            }
            if (const char* cls = e->Attribute("class")) {
                EXPECT_TRUE(HasStyle(cls)) << id << ": class " << cls;
            }
            for (const char* attr : {"skin", "tabskin", "iconskin"})
                if (const char* skin = e->Attribute(attr)) {
                    EXPECT_NE(BkSkinPool::GetSkin(skin), nullptr) << id << ": " << attr << " " << skin;
                }
            if (strcmp(e->Value(), "dlgfile") == 0) {
                std::string bytes;
                int src = 0;
                e->QueryIntAttribute("src", &src);
                EXPECT_TRUE(BkResourceLoader::LoadResource(static_cast<UINT16>(src), L"xml", bytes)) << id << ": dlgfile " << src;
            }
            if (strcmp(e->Value(), "icon") == 0 && !e->Attribute("oem")) {
                int src = 0;
                e->QueryIntAttribute("src", &src);
                EXPECT_NE(FindResourceW(nullptr, MAKEINTRESOURCEW(src), RT_GROUP_ICON), nullptr) << id << ": icon " << src;
            }
            // A %strN% reference to a missing string is replaced by nothing.
            const char* text = e->GetText();
            for (const char* p = text ? strstr(text, "%str") : nullptr; p; p = strstr(p + 4, "%str")) {
                int n = atoi(p + 4);
                EXPECT_NE(BkString::Get(n), nullptr) << id << ": %str" << n << "%";
            }
        }
    }
}

TEST_F(WardenResources, LayoutsHoldTheItemsTheDialogsAddress) {
    struct Item {
        UINT16 layout;
        const char* id;
        const char* tag;
        const char* text;  // null: not checked
    } items[] = {
        {514, "10006", "text", "%str42%"},  {514, "10003", "edit", nullptr},    {514, "10001", "button", "登陆"},
        {514, "10004", "check", "自动登陆"}, {514, "10002", "link", "重设口令"}, {514, "60001", "imgbtn", nullptr},
        {113, "10001", "imgbtn", nullptr},  {113, "10002", "imgbtn", nullptr},  {113, "60001", "imgbtn", nullptr},
        {103, "136", "tabctrl", nullptr},   {103, "2010", "realwnd", nullptr},  {103, "30008", "text", "清除记录"},
        {509, "60001", "imgbtn", nullptr},  {509, "60002", "imgbtn", nullptr},  {509, "60003", "imgbtn", nullptr},
        {509, "60011", "link", "求助"},      {508, "254", "text", nullptr},      {506, "20001", "combo", nullptr},
        {506, "20002", "imgbtn", nullptr},  {506, "20003", "text", "选择U盘"},   {506, "20004", "text", "%str40%"},
        {506, "20005", "text", "0/5"},      {511, "100", "link", "%str7%"},     {511, "200", "link", "%str8%"},
        {511, "300", "link", "%str9%"},     {511, "400", "link", "%str41%"},    {510, "30005", "memimage", nullptr},
        {510, "30006", "edit", nullptr},    {510, "30007", "button", "保存设置"}, {510, "30009", "button", "一键免KEY"},
        {510, "30014", "button", "清除注册KEY"},
    };
    for (const Item& item : items) {
        TiXmlDocument doc;
        ASSERT_TRUE(Parse(item.layout, doc));
        const TiXmlElement* found = nullptr;
        for (const TiXmlElement* e : AllElements(doc))
            if (e->Attribute("id") && strcmp(e->Attribute("id"), item.id) == 0) found = e;
        ASSERT_NE(found, nullptr) << item.layout << ": item " << item.id;
        EXPECT_STREQ(found->Value(), item.tag) << item.layout << ": item " << item.id;
        if (item.text) {
            EXPECT_STREQ(found->GetText() ? found->GetText() : "", item.text) << item.layout << ": " << item.id;
        }
    }
    // The settings page's nine switches.
    TiXmlDocument settings;
    ASSERT_TRUE(Parse(510, settings));
    std::set<std::string> checks;
    for (const TiXmlElement* e : AllElements(settings))
        if (strcmp(e->Value(), "check") == 0 && e->Attribute("id")) checks.insert(e->Attribute("id"));
    EXPECT_EQ(checks, (std::set<std::string>{"30001", "30002", "30003", "30004", "30008", "30010", "30011", "30012",
                                             "30013"}));
    // The main panel's tabs: four pages with 71 x 71 icon tabs.
    TiXmlDocument main;
    ASSERT_TRUE(Parse(103, main));
    for (const TiXmlElement* e : AllElements(main)) {
        if (strcmp(e->Value(), "tabctrl") != 0) continue;
        EXPECT_STREQ(e->Attribute("tabwidth"), "71");
        EXPECT_STREQ(e->Attribute("tabheight"), "71");
        std::vector<std::string> titles;
        for (const TiXmlElement* t = e->FirstChildElement("tab"); t; t = t->NextSiblingElement("tab"))
            titles.push_back(t->Attribute("title") ? t->Attribute("title") : "");
        EXPECT_EQ(titles, (std::vector<std::string>{"U盘锁配置", "个性设置", "开/关机记录", "关于Tolven"}));
    }
}

TEST_F(WardenResources, TrayMenuListsItsCommandsInOrderAllEnabledAndUnchecked) {
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
    ASSERT_NE(menu, nullptr);
    wchar_t name[64] = {};
    GetMenuStringW(menu, 0, name, 64, MF_BYPOSITION);
    EXPECT_STREQ(name, L"IDR_TRAY_MENU");
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    struct Entry {
        UINT id;  // 0: separator
        const wchar_t* text;
    } entries[] = {
        {40005, L"启/禁用开机登陆时验证KEY"}, {40006, L"启/禁用锁屏登陆时验证KEY"}, {40023, L"启/禁用拔下KEY锁定计算机"},
        {0, nullptr},
        {40011, L"一键免KEY"},                {40007, L"启/禁用Tolven电脑锁软件"},   {40008, L"CTRL+ALT+DEL时打开任务管理器"},
        {0, nullptr},
        {40016, L"关闭Windows"},              {40017, L"锁定Windows"},               {40021, L"注销Windows"},
        {0, nullptr},
        {40018, L"设置..."},                  {40009, L"打开主面板"},                {40019, L"Tolven中国"},
        {40010, L"退出程序"},
    };
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(sizeof(entries) / sizeof(entries[0])));
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        const Entry& e = entries[i];
        UINT state = GetMenuState(popup, i, MF_BYPOSITION);
        if (e.id == 0) {
            EXPECT_TRUE(state & MF_SEPARATOR) << "position " << i;
            continue;
        }
        EXPECT_EQ(GetMenuItemID(popup, i), e.id) << "position " << i;
        wchar_t text[64] = {};
        GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, e.text) << e.id;
        // The panel sets the marks and the gray state when it shows the menu.
        EXPECT_EQ(state & (MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_SEPARATOR | MF_POPUP), 0u) << e.id;
    }
    DestroyMenu(menu);
}

// The icon groups hold their own pictures in these sizes; LoadImage would scale a missing one.
TEST_F(WardenResources, IconsHoldTheirSizes) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bits;
        DWORD bytes;
        WORD id;
    };
    struct GroupHeader {
        WORD reserved, type, count;
    };
#pragma pack(pop)
    static_assert(sizeof(GroupEntry) == 14, "RT_GROUP_ICON entry");
    struct Case {
        int id;
        std::set<int> sizes;
    } cases[] = {{100, {16, 32}}, {101, {16}}};
    for (const Case& c : cases) {
        HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(c.id), RT_GROUP_ICON);
        ASSERT_NE(found, nullptr) << c.id;
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
        ASSERT_NE(data, nullptr);
        const GroupHeader* header = reinterpret_cast<const GroupHeader*>(data);
        ASSERT_GE(SizeofResource(nullptr, found), sizeof(GroupHeader) + header->count * sizeof(GroupEntry));
        std::set<int> sizes;
        for (WORD i = 0; i < header->count; ++i) {
            const GroupEntry* e = reinterpret_cast<const GroupEntry*>(data + sizeof(GroupHeader)) + i;
            EXPECT_EQ(e->width, e->height) << c.id;
            EXPECT_EQ(e->bits, 32) << c.id;
            sizes.insert(e->width);
        }
        EXPECT_EQ(sizes, c.sizes) << c.id;
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.id), IMAGE_ICON, 16, 16, 0));
        EXPECT_NE(icon, nullptr) << c.id;
        if (icon) DestroyIcon(icon);
    }
}

}  // namespace
