// The element base: loading (attribute order, %strN%, show, width, height, float, pos), measuring,
// placing, painting, the inherited state bits, the redraw request, the registry and uxtheme.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "bkleaf.h"
#include "bkres.h"
#include "bkstyle.h"
#include "bkwndreg.h"
#include "elemhost.h"
#include "uikit.h"

using eh::LoadElement;

namespace {

// Text drawn without anti-aliasing, so that its pixels carry the text colour exactly.
HFONT SolidFont() {
    static HFONT f = ::CreateFontW(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, NONANTIALIASED_QUALITY, 0,
                                   L"Tahoma");
    return f;
}

// The extent DrawTextW gives the text in that font (never a hard-coded width).
SIZE TextExtent(HFONT font, LPCWSTR text, UINT mode = DT_SINGLELINE) {
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(dc, font);
    RECT rc = {0, 0, 0, 0};
    ::DrawTextW(dc, text, -1, &rc, mode | DT_CALCRECT);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

SIZE Measure(CBkWindow* w, BOOL constrained, SIZE offered = SIZE{0, 0}) {
    SIZE s = offered;
    w->SendToSelf(WM_NCCALCSIZE, constrained, (LPARAM)&s);
    return s;
}

}  // namespace

// ---- registry ----------------------------------------------------------------------------------

TEST(ElemRegistry, HandlesStartAtOneAndAreNeverReused) {
    if (BkWindowRegistry::LastHandle() != 0) GTEST_SKIP() << "needs a fresh process (ctest runs each case alone)";
    HBKWND first;
    {
        CBkStatic a;
        first = a.GetHandle();
        EXPECT_EQ(first, 1u);
        EXPECT_EQ(BkWindowRegistry::Find(first), &a);
    }
    EXPECT_EQ(BkWindowRegistry::Find(first), nullptr);
    CBkStatic b;
    EXPECT_EQ(b.GetHandle(), 2u);  // not 1 again
    EXPECT_EQ(BkWindowRegistry::Register(nullptr), 0u);
    EXPECT_EQ(BkWindowRegistry::LastHandle(), 2u);
    EXPECT_EQ(BkWindowRegistry::Find(0), nullptr);
}

TEST(ElemRegistry, GroupsAndComboListsKeepMembersByName) {
    CBkStatic a, b, c;
    BkWindowRegistry::AddToGroup(&a, "g");
    BkWindowRegistry::AddToGroup(&b, "g");
    BkWindowRegistry::AddToGroup(&a, "g");  // twice: removal takes both entries
    BkWindowRegistry::AddToGroup(&c, "");
    EXPECT_EQ(BkWindowRegistry::GroupMembers("g"), (std::vector<CBkWindow*>{&a, &b, &a}));
    EXPECT_EQ(BkWindowRegistry::GroupMembers("G").size(), 0u);  // names are exact
    BkWindowRegistry::RemoveFromGroup(&a, "g");
    EXPECT_EQ(BkWindowRegistry::GroupMembers("g"), (std::vector<CBkWindow*>{&b}));
    EXPECT_EQ(BkWindowRegistry::GroupMembers(""), (std::vector<CBkWindow*>{&c}));
    BkWindowRegistry::RemoveFromGroup(&b, "g");
    BkWindowRegistry::RemoveFromGroup(&c, "");

    BkWindowRegistry::AddToComboList(&a, "g");  // a list of its own, not the radio group
    EXPECT_EQ(BkWindowRegistry::GroupMembers("g").size(), 0u);
    EXPECT_EQ(BkWindowRegistry::ComboListMembers("g"), (std::vector<CBkWindow*>{&a}));
    BkWindowRegistry::RemoveFromComboList(&a, "g");
    EXPECT_EQ(BkWindowRegistry::ComboListMembers("g").size(), 0u);
}

TEST(ElemRegistry, CheckInGroupUnchecksTheOthersAndAsksThemToRedraw) {
    eh::Host host;
    ASSERT_TRUE(host.ok());
    CBkStatic a, b, c, other;
    for (CBkWindow* w : {(CBkWindow*)&a, (CBkWindow*)&b, (CBkWindow*)&c, (CBkWindow*)&other}) host.Add(w);
    BkWindowRegistry::AddToGroup(&a, "g");
    BkWindowRegistry::AddToGroup(&b, "g");
    BkWindowRegistry::AddToGroup(&c, "g");
    b.ModifyState(kBkStateChecked, 0);
    other.ModifyState(kBkStateChecked, 0);  // another group: untouched

    BkWindowRegistry::CheckInGroup(&a, "g");
    EXPECT_TRUE(a.GetState() & kBkStateChecked);
    EXPECT_FALSE(b.GetState() & kBkStateChecked);
    EXPECT_TRUE(other.GetState() & kBkStateChecked);
    // Only the member that lost its check asks: c was not checked, a gained it.
    ASSERT_EQ(host.redraws.size(), 1u);
    EXPECT_EQ(host.redraws[0].handle, b.GetHandle());

    for (CBkWindow* w : {(CBkWindow*)&a, (CBkWindow*)&b, (CBkWindow*)&c}) BkWindowRegistry::RemoveFromGroup(w, "g");
}

// ---- uxtheme -----------------------------------------------------------------------------------

TEST(ElemUxTheme, NeverLoadsTheLibraryItself) {
    if (::GetModuleHandleW(L"uxtheme.dll")) GTEST_SKIP() << "uxtheme is already in this process";
    BkUxThemeLoader::Instance();
    EXPECT_EQ(::GetModuleHandleW(L"uxtheme.dll"), nullptr);
    EXPECT_FALSE(BkUxThemeLoader::Instance().Loaded());
    EXPECT_EQ(BkUxThemeLoader::OpenThemeData(L"BUTTON"), nullptr);
}

TEST(ElemUxTheme, WithoutTheLibraryEveryCallFailsAsNotImplemented) {
    BkUxThemeLoader::Instance().Bind(nullptr);
    EXPECT_FALSE(BkUxThemeLoader::Instance().Loaded());
    EXPECT_EQ(BkUxThemeLoader::OpenThemeData(L"BUTTON"), nullptr);
    EXPECT_EQ(BkUxThemeLoader::CloseThemeData((HBKTHEME)1), E_NOTIMPL);
    RECT rc = {0, 0, 13, 13};
    EXPECT_EQ(BkUxThemeLoader::DrawThemeBackground((HBKTHEME)1, nullptr, 3, 1, rc), E_NOTIMPL);
    EXPECT_EQ(BkUxThemeLoader::SetWindowTheme(nullptr), E_NOTIMPL);

    EXPECT_STREQ(BkUxThemeLoader::GetThemeClassName(0), L"BUTTON");
    EXPECT_STREQ(BkUxThemeLoader::GetThemeClassName(-3), L"BUTTON");
    EXPECT_EQ(BkUxThemeLoader::GetThemeClassName(1), nullptr);
}

TEST(ElemUxTheme, BindsTheEntryPointsOfALoadedUxtheme) {
    HMODULE ux = ::LoadLibraryW(L"uxtheme.dll");
    ASSERT_NE(ux, nullptr);
    BkUxThemeLoader::Instance().Bind(ux);
    EXPECT_TRUE(BkUxThemeLoader::Instance().Loaded());
    // A fresh Wine prefix has a theme active: the button class opens and draws.
    HBKTHEME theme = BkUxThemeLoader::OpenThemeData(L"BUTTON");
    ASSERT_NE(theme, nullptr);
    ts::Dib dib(20, 20, RGB(1, 2, 3));
    RECT rc = {0, 0, 13, 13};
    EXPECT_EQ(BkUxThemeLoader::DrawThemeBackground(theme, dib.dc(), 3, 5, rc), S_OK);
    EXPECT_GT(dib.CountOther(rc, RGB(1, 2, 3)), 0);
    EXPECT_EQ(BkUxThemeLoader::CloseThemeData(theme), S_OK);
    BkUxThemeLoader::Instance().Bind(nullptr);
}

// ---- attributes --------------------------------------------------------------------------------

TEST(ElemAttributes, ResultsPerName) {
    BkStylePool::Instance().Reset();
    CBkStatic w;
    const struct {
        const char* name;
        const char* value;
        HRESULT result;
    } cases[] = {
        {"class", "nosuch", S_OK},    {"id", "42", S_FALSE},        {"crbg", "FF0000", S_FALSE},
        {"crtext", "00FF00", S_FALSE}, {"font", "0004", S_FALSE},    {"href", "http://x/", S_FALSE},
        {"tip", "提示", S_FALSE},      {"valign", "middle", S_OK},   {"align", "right", S_OK},
        {"pos", "1,2", S_FALSE},      {"transparent", "1", S_FALSE}, {"valign", "center", E_FAIL},
        {"align", "middle", E_FAIL},  {"Class", "x", E_FAIL},       {"show", "1", E_FAIL},
        {"width", "10", E_FAIL},      {"nosuch", "1", E_FAIL},
    };
    for (const auto& c : cases) EXPECT_EQ(w.SetAttribute(c.name, c.value, TRUE), c.result) << c.name << "=" << c.value;
    EXPECT_EQ(w.GetCmdID(), 42);
    EXPECT_EQ(w.GetAlign(), 0x9000u);  // middle 0x1000, right 0x8000: the bad values changed nothing
    EXPECT_EQ(w.GetStyle().m_crBg, RGB(0xFF, 0, 0));
    EXPECT_EQ(w.GetStyle().m_crText, RGB(0, 0xFF, 0));
    EXPECT_EQ(w.GetStyle().m_ftText, BkFontPool::GetFont(4));
    EXPECT_EQ(w.GetLink(), L"http://x/");
    EXPECT_EQ(w.GetToolTipText(), L"提示");
    EXPECT_EQ(w.GetTransparent(), 1);
}

namespace {
class OrderRecorder : public CBkStatic {
public:
    static OrderRecorder* CreateIfTag(const char* t) { return strcmp(t, "text") == 0 ? new OrderRecorder() : nullptr; }
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override {
        seen.push_back(name + "=" + value + (loading ? "" : "!"));
        return CBkStatic::SetAttribute(name, value, loading);
    }
    std::vector<std::string> seen;
};
}  // namespace

TEST(ElemAttributes, AppliedOnceEachInDocumentOrder) {
    auto w = LoadElement<OrderRecorder>("<text zeta=\"1\" id=\"7\" alpha=\"2\" show=\"1\"/>");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->seen, (std::vector<std::string>{"zeta=1", "id=7", "alpha=2", "show=1"}));
}

TEST(ElemAttributes, ClassReplacesWhatCameBeforeItAndKeepsWhatComesAfter) {
    BkStylePool::Instance().Reset();
    BkStyle& c = BkStylePool::Instance().Entry("c1");
    c.m_crBg = RGB(1, 1, 1);
    c.m_crText = RGB(2, 2, 2);
    c.m_ftText = BkFontPool::GetFont(0x0004);
    c.m_nMarginX = 3;

    auto before = LoadElement<CBkStatic>("<text crbg=\"112233\" crtext=\"445566\" font=\"0002\" class=\"c1\"/>");
    EXPECT_EQ(before->GetStyle().m_crBg, RGB(1, 1, 1));
    EXPECT_EQ(before->GetStyle().m_crText, RGB(2, 2, 2));
    EXPECT_EQ(before->GetStyle().m_ftText, BkFontPool::GetFont(0x0004));

    auto after = LoadElement<CBkStatic>("<text class=\"c1\" crbg=\"112233\" crtext=\"445566\" font=\"0002\"/>");
    EXPECT_EQ(after->GetStyle().m_crBg, RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(after->GetStyle().m_crText, RGB(0x44, 0x55, 0x66));
    EXPECT_EQ(after->GetStyle().m_ftText, BkFontPool::GetFont(0x0002));
    EXPECT_EQ(after->GetStyle().m_nMarginX, 3);  // the rest of the class stays

    auto unknown = LoadElement<CBkStatic>("<text crbg=\"112233\" class=\"nosuch\"/>");  // the default style
    EXPECT_EQ(unknown->GetStyle().m_crBg, CLR_INVALID);
}

// ---- %strN% ------------------------------------------------------------------------------------

TEST(ElemInnerText, StringReferencesAreReplaced) {
    BkString::Instance().Clear();
    BkString::Instance().Set(7, L"七");
    BkString::Instance().Set(8, L"eight");
    BkString::Instance().Set(9, L"%str8%");
    const struct {
        const char* inner;
        const wchar_t* text;
    } cases[] = {
        {"%str7%", L"七"},
        {"%str0%", L"%str0%"},
        {"%strx%", L"%strx%"},
        {"%str-3%", L"%str-3%"},
        {"%str7", L"%str7"},
        {"a%str7%b%str8%c", L"a七beightc"},
        {"%str7%%str8%", L"七eight"},
        {"%str99%x", L"x"},                // an id the table lacks: nothing
        {"%str9%!", L"%str8%!"},           // inserted text is not searched again
        {"x%str7%y%str0%z%str8%", L"x七y%str0%z%str8%"},  // a bad reference ends the search
        {"%str7 tail", L"%str7 tail"},
        {"plain", L"plain"},
    };
    for (const auto& c : cases) {
        auto w = LoadElement<CBkStatic>(std::string("<text>") + c.inner + "</text>");
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->GetInnerText(), c.text) << c.inner;
    }
    auto nested = LoadElement<CBkStatic>("<text><b>x</b>y</text>");  // the first child is no text
    EXPECT_EQ(nested->GetInnerText(), L"");
}

// ---- show, width, height, float ----------------------------------------------------------------

TEST(ElemLoad, ShowWidthHeightAndFloat) {
    BkStylePool::Instance().Reset();
    BkString::Instance().Clear();
    const SIZE text = TextExtent(BkFontPool::GetFont(0), L"Wide text");
    const struct {
        const char* attrs;
        DWORD mode;
        LONG right, bottom;  // -1: the measured extent
        bool hidden;
    } cases[] = {
        // Width 0x01 fixed, 0x02 automatic, 0x04 full; height 0x10, 0x20, 0x40; 0x100 not floating,
        // 0x200 floating.
        {"", 0x122, -1, -1, false},
        {"show=\"1\"", 0x122, -1, -1, false},
        {"show=\"0\"", 0x122, -1, -1, true},
        {"show=\"abc\"", 0x122, -1, -1, true},
        {"show=\"\"", 0x122, -1, -1, false},
        {"width=\"full\"", 0x124, 0, -1, false},
        {"width=\"Full\"", 0x122, -1, -1, false},
        {"width=\"0\"", 0x122, -1, -1, false},
        {"width=\"-5\"", 0x122, -1, -1, false},
        {"width=\"120\"", 0x121, 120, -1, false},
        {"width=\"120\" height=\"30\"", 0x111, 120, 30, false},
        {"height=\"full\" float=\"1\"", 0x242, -1, 0, false},
        {"float=\"0\"", 0x122, -1, -1, false},
        {"float=\"2\"", 0x222, -1, -1, false},
        // A two- or four-value pos ignores width and height.
        {"pos=\"1,2\" width=\"120\" height=\"full\"", 0x122, 0, 0,
         false},
        {"width=\"120\" pos=\"1,2,3,4\"", 0x122, 0, 0, false},
        // A three-value pos is no pos: width applies.
        {"pos=\"1,2,3\" width=\"50\"", 0x121, 50, -1, false},
    };
    for (const auto& c : cases) {
        auto w = LoadElement<CBkStatic>(std::string("<text ") + c.attrs + ">Wide text</text>");
        ASSERT_NE(w, nullptr) << c.attrs;
        EXPECT_EQ(w->GetSizeMode(), c.mode) << c.attrs;
        EXPECT_EQ(w->GetRect().right, c.right == -1 ? text.cx : c.right) << c.attrs;
        EXPECT_EQ(w->GetRect().bottom, c.bottom == -1 ? text.cy : c.bottom) << c.attrs;
        EXPECT_EQ((w->GetState() & kBkStateHidden) != 0, c.hidden) << c.attrs;
    }
}

// ---- pos ---------------------------------------------------------------------------------------

TEST(ElemParsePos, ValuesMarksAndCounts) {
    const struct {
        const char* pos;
        int count;
        BkPosItem items[4];
    } cases[] = {
        {"10,20", 2, {{0, 0, 10}, {0, 0, 20}}},
        {"|-10,5", 2, {{1, 1, 10}, {0, 0, 5}}},
        {"|10,-5", 2, {{1, 0, 10}, {0, 1, 5}}},
        {"0,0,-0,-0", 4, {{0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 1, 0}}},
        {"1,2,3,4,5", 4, {{0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}}},
        {"-60,-15,", 2, {{0, 1, 60}, {0, 1, 15}}},            // a trailing comma ends the list
        {"0,5\xEF\xBC\x8C" "100\xEF\xBC\x8C" "0", 2, {{0, 0, 0}, {0, 0, 5}}},  // full-width commas
        {"7px,x", 2, {{0, 0, 7}, {0, 0, 0}}},                 // leading digits only
        {"-|3,4", 2, {{0, 1, 0}, {0, 0, 4}}},                 // '|' only before '-'
        {"1,2,3", 0, {}},
        {"5", 0, {}},
        {"1,,3", 0, {}},
    };
    for (const auto& c : cases) {
        CBkStatic w;
        w.ParsePos(c.pos, TRUE);
        ASSERT_EQ(w.GetPosCount(), c.count) << c.pos;
        for (int i = 0; i < c.count; ++i) {
            EXPECT_EQ(w.GetPos()[i].bCenter, c.items[i].bCenter) << c.pos << " #" << i;
            EXPECT_EQ(w.GetPos()[i].bMinus, c.items[i].bMinus) << c.pos << " #" << i;
            EXPECT_EQ(w.GetPos()[i].nPos, c.items[i].nPos) << c.pos << " #" << i;
        }
        if (c.count) {
            EXPECT_EQ(w.GetSizeMode() & 0x77u, 0x22u) << c.pos;  // both automatic
        }
    }
}

TEST(ElemParsePos, OtherCountsLeaveTheSizeModesAndAnEmptyTextChangesNothing) {
    auto w = LoadElement<CBkStatic>("<text width=\"50\" height=\"full\" pos=\"1,2,3\"/>");
    EXPECT_EQ(w->GetSizeMode(), 0x141u);  // width fixed, height full, not floating
    EXPECT_EQ(w->GetPosCount(), 0);

    w->ParsePos("4,5", TRUE);
    w->ParsePos("", TRUE);  // nothing, not even the count
    EXPECT_EQ(w->GetPosCount(), 2);
    w->ParsePos("9", TRUE);  // a bad value resets the count: the position is gone
    EXPECT_EQ(w->GetPosCount(), 0);
}

TEST(ElemParsePos, ARunTimeChangeAsksTheParentContainerToPlaceTheChild) {
    eh::TestPanel panel;
    CBkStatic child;
    child.SetParent(panel.GetHandle());
    child.SetAttribute("pos", "1,2", TRUE);  // while loading: the layout places it later
    EXPECT_TRUE(panel.repositioned.empty());
    child.SetAttribute("pos", "3,4", FALSE);
    ASSERT_EQ(panel.repositioned.size(), 1u);
    EXPECT_EQ(panel.repositioned[0], &child);
    child.SetAttribute("pos", "3", FALSE);  // ignored, no placement
    EXPECT_EQ(panel.repositioned.size(), 1u);

    CBkStatic notContainer, orphan;
    child.SetParent(notContainer.GetHandle());
    child.SetAttribute("pos", "5,6", FALSE);  // nothing to ask, no fault
    orphan.SetParent(999999);
    orphan.SetAttribute("pos", "5,6", FALSE);
}

TEST(ElemMeasure, FourValuePositionsResolveAgainstTheOfferedBox) {
    const struct {
        const char* pos;
        SIZE offered, size;
    } cases[] = {
        {"0,0,-0,-0", {300, 200}, {300, 200}},
        {"10,20,-10,-20", {300, 200}, {280, 160}},
        {"|-10,5,|10,-5", {300, 200}, {20, 190}},
        {"|-10,|-10,|-20,|-30", {301, 201}, {-10, -20}},
        {"5,5,50,40", {10, 10}, {45, 35}},
    };
    for (const auto& c : cases) {
        auto w = LoadElement<CBkStatic>(std::string("<text pos=\"") + c.pos + "\">ignored text</text>");
        const SIZE s = Measure(w.get(), TRUE, c.offered);
        EXPECT_EQ(s.cx, c.size.cx) << c.pos;
        EXPECT_EQ(s.cy, c.size.cy) << c.pos;
    }
}

TEST(ElemMeasure, TextExtentPlusMarginsInTheInheritedFont) {
    BkStylePool::Instance().Reset();
    BkStyle& m = BkStylePool::Instance().Entry("margins");
    m.m_nMarginX = 4;
    m.m_nMarginY = 3;
    HFONT big = BkFontPool::GetFont(0xF804);  // 8 steps larger, bold
    HFONT hover = BkFontPool::GetFont(0xF000);

    auto panel = LoadElement<eh::TestPanel>("<testpanel font=\"F804\"/>");
    panel->GetStyle().m_ftHover = hover;
    auto w = LoadElement<CBkStatic>("<text class=\"margins\">Measure me</text>", panel->GetHandle());
    // Measuring inherits the panel's font although drawing would not (the element has none).
    SIZE t = TextExtent(big, L"Measure me");
    EXPECT_EQ(w->GetRect().right, t.cx + 8);
    EXPECT_EQ(w->GetRect().bottom, t.cy + 6);
    EXPECT_EQ(w->MeasureFont(), big);

    w->ModifyState(kBkStateHover, 0);  // the hover font of the nearest ancestor that has one
    t = TextExtent(hover, L"Measure me");
    SIZE s = Measure(w.get(), FALSE);
    EXPECT_EQ(s.cx, t.cx + 8);

    auto orphan = LoadElement<CBkStatic>("<text>Measure me</text>");
    EXPECT_EQ(orphan->MeasureFont(), BkFontPool::GetFont(0));
}

TEST(ElemMeasure, WordBreakMeasuresInTheOfferedWidth) {
    BkStylePool::Instance().Reset();
    BkStyle& wrap = BkStylePool::Instance().Entry("wrap");
    wrap.m_nTextMode = DT_WORDBREAK;
    const wchar_t* text = L"one two three four five six seven eight nine ten";
    auto w = LoadElement<CBkStatic>("<text class=\"wrap\">one two three four five six seven eight nine ten</text>");
    const SIZE line = TextExtent(BkFontPool::GetFont(0), text);
    const SIZE s = Measure(w.get(), TRUE, SIZE{line.cx / 3, 5});
    EXPECT_GT(s.cy, line.cy * 2);  // wrapped onto several lines, although only 5 were offered
    EXPECT_LE(s.cx, line.cx / 3);
}

TEST(ElemSetText, MeasuresAutomaticExtentsAgain) {
    HFONT f = BkFontPool::GetFont(0);
    auto autoW = LoadElement<CBkStatic>("<text>a</text>");
    autoW->SetText(L"a much longer text");
    EXPECT_EQ(autoW->GetRect().right, TextExtent(f, L"a much longer text").cx);
    EXPECT_EQ(autoW->GetInnerText(), L"a much longer text");

    auto fixed = LoadElement<CBkStatic>("<text width=\"40\" height=\"9\">a</text>");
    fixed->SetText(L"a much longer text");
    EXPECT_EQ(fixed->GetRect().right, 40);
    EXPECT_EQ(fixed->GetRect().bottom, 9);

    auto four = LoadElement<CBkStatic>("<text pos=\"0,0,30,30\">a</text>");
    const RECT before = four->GetRect();
    four->SetText(L"a much longer text");
    EXPECT_TRUE(::EqualRect(&before, &four->GetRect()));
}

TEST(ElemPlacement, OriginFromThePositionSizeByMode) {
    const SIZE text = TextExtent(BkFontPool::GetFont(0), L"Placed");
    const struct {
        const char* attrs;
        RECT rc;  // -1 in right or bottom: origin + measured extent
    } cases[] = {
        {"", {10, 20, -1, -1}},
        {"width=\"full\" height=\"full\"", {10, 20, 310, 220}},
        {"width=\"55\" height=\"7\"", {10, 20, 65, 27}},
        {"pos=\"0,0,-0,-0\"", {10, 20, 310, 220}},
        {"pos=\"|-10,5,|10,-5\"", {10, 20, 30, 210}},
    };
    for (const auto& c : cases) {
        auto w = LoadElement<CBkStatic>(std::string("<text ") + c.attrs + ">Placed</text>");
        WINDOWPOS pos = {};
        pos.x = 10;
        pos.y = 20;
        pos.cx = 300;
        pos.cy = 200;
        w->SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&pos);
        EXPECT_TRUE(w->IsMsgHandled());
        const RECT& r = w->GetRect();
        EXPECT_EQ(r.left, c.rc.left) << c.attrs;
        EXPECT_EQ(r.top, c.rc.top) << c.attrs;
        EXPECT_EQ(r.right, c.rc.right == -1 ? 10 + text.cx : c.rc.right) << c.attrs;
        EXPECT_EQ(r.bottom, c.rc.bottom == -1 ? 20 + text.cy : c.rc.bottom) << c.attrs;
    }
    // A full extent never ends before the element starts.
    auto full = LoadElement<CBkStatic>("<text width=\"full\">x</text>");
    WINDOWPOS pos = {};
    pos.x = 50;
    pos.cx = -80;
    full->SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&pos);
    EXPECT_EQ(full->GetRect().right, 50);
}

// ---- messages ----------------------------------------------------------------------------------

TEST(ElemMessages, TheBaseHandlesItsSixAndLeavesTheRest) {
    CBkStatic w;
    EXPECT_EQ(w.SendToSelf(WM_CREATE, 0, 0), 1);
    EXPECT_TRUE(w.IsMsgHandled());
    w.SendToSelf(WM_SHOWWINDOW, FALSE, 0);
    EXPECT_TRUE(w.IsMsgHandled());
    EXPECT_TRUE(w.GetState() & kBkStateHidden);
    w.SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    EXPECT_FALSE(w.GetState() & kBkStateHidden);
    w.SendToSelf(WM_DESTROY, 0, 0);
    EXPECT_TRUE(w.IsMsgHandled());
    for (UINT msg : {(UINT)WM_LBUTTONDOWN, (UINT)WM_LBUTTONUP, (UINT)WM_MOUSEMOVE, (UINT)WM_MOUSELEAVE, (UINT)WM_TIMER}) {
        w.SendToSelf(msg, 0, 0);
        EXPECT_FALSE(w.IsMsgHandled()) << msg;
    }
}

TEST(ElemHitTest, TheRectOnly) {
    CBkStatic w;
    w.SetRect(RECT{10, 10, 20, 20});
    EXPECT_EQ(w.HitTest(POINT{10, 10}), w.GetHandle());
    EXPECT_EQ(w.HitTest(POINT{19, 19}), w.GetHandle());
    EXPECT_EQ(w.HitTest(POINT{20, 15}), 0u);
    EXPECT_EQ(w.HitTest(POINT{9, 15}), 0u);
}

TEST(ElemRedrawsOnStateChange, OnlyWhenHoverOrStateChangesTheLook) {
    BkSkinPool::Instance().Clear();
    eh::RecSkin::Install("stateful", SIZE{0, 0}, FALSE);
    eh::RecSkin::Install("flat", SIZE{0, 0}, TRUE);
    const struct {
        const char* what;
        void (*set)(BkStyle&);
        BOOL redraws;
    } cases[] = {
        {"plain", [](BkStyle&) {}, FALSE},
        {"hover text", [](BkStyle& s) { s.m_crHoverText = RGB(1, 2, 3); }, TRUE},
        {"hover font", [](BkStyle& s) { s.m_ftHover = BkFontPool::GetFont(4); }, TRUE},
        {"hover background", [](BkStyle& s) { s.m_crBgHover = RGB(1, 2, 3); }, TRUE},
        {"stateful skin", [](BkStyle& s) { s.m_strSkinName = "stateful"; }, TRUE},
        {"skin without states", [](BkStyle& s) { s.m_strSkinName = "flat"; }, FALSE},
        {"missing skin", [](BkStyle& s) { s.m_strSkinName = "nosuch"; }, FALSE},
    };
    for (const auto& c : cases) {
        CBkStatic w;
        c.set(w.GetStyle());
        EXPECT_EQ(w.RedrawsOnStateChange(), c.redraws) << c.what;
    }
    CBkButton button;
    EXPECT_TRUE(button.RedrawsOnStateChange());
}

// ---- inherited state ---------------------------------------------------------------------------

TEST(ElemState, HiddenAndDisabledCountThroughEveryAncestor) {
    eh::TestPanel top, middle;
    CBkStatic leaf;
    middle.SetParent(top.GetHandle());
    leaf.SetParent(middle.GetHandle());
    EXPECT_TRUE(leaf.IsVisibleDeep());
    EXPECT_FALSE(leaf.IsDisabledDeep());

    top.ModifyState(kBkStateHidden | kBkStateDisabled, 0);
    EXPECT_FALSE(leaf.IsVisibleDeep());
    EXPECT_TRUE(leaf.IsDisabledDeep());
    EXPECT_FALSE(leaf.GetState() & (kBkStateHidden | kBkStateDisabled));  // the own bits stay clear

    top.ModifyState(0, kBkStateHidden | kBkStateDisabled);
    leaf.ModifyState(kBkStateDisabled, 0);
    EXPECT_TRUE(leaf.IsDisabledDeep());
    EXPECT_FALSE(middle.IsDisabledDeep());  // never from a child upwards

    // A parent that is gone ends the chain.
    CBkStatic orphan;
    {
        eh::TestPanel gone;
        gone.ModifyState(kBkStateHidden, 0);
        orphan.SetParent(gone.GetHandle());
        EXPECT_FALSE(orphan.IsVisibleDeep());
    }
    EXPECT_TRUE(orphan.IsVisibleDeep());

    // A parent chain that loops (a fault elsewhere) still ends.
    CBkStatic a, b;
    a.SetParent(b.GetHandle());
    b.SetParent(a.GetHandle());
    EXPECT_TRUE(a.IsVisibleDeep());
    EXPECT_FALSE(a.IsDisabledDeep());
}

// ---- redraw request ----------------------------------------------------------------------------

TEST(ElemRedrawNotify, CarriesTheIdTheHandleAndTheRect) {
    eh::Host host;
    ASSERT_TRUE(host.ok());
    auto w = LoadElement<CBkStatic>("<text id=\"42\" pos=\"5,6,50,60\">x</text>");
    host.Add(w.get());
    ts::SentRecorder rec(host.view(), false, sizeof(BkRedrawNotify));
    ASSERT_TRUE(rec.ok());

    w->RequestRedraw();
    w->RequestRedraw(RECT{1, 2, 3, 4});
    ASSERT_EQ(host.redraws.size(), 2u);
    const eh::Redraw& r = host.redraws[0];
    EXPECT_EQ(r.code, 1000u);
    EXPECT_EQ(r.idFrom, 42u);
    EXPECT_EQ(r.wParam, 42u);
    EXPECT_EQ(r.hwndFrom, nullptr);
    EXPECT_EQ(r.handle, w->GetHandle());
    EXPECT_TRUE(::EqualRect(&r.rc, &w->GetRect()));
    const RECT given = {1, 2, 3, 4};
    EXPECT_TRUE(::EqualRect(&host.redraws[1].rc, &given));

    // Sent, not posted: the recorder saw them as WM_NOTIFY to the view, with the whole record.
    const auto sent = rec.Of(WM_NOTIFY);
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_EQ(sent[0].notifyBytes.size(), sizeof(BkRedrawNotify));
    BkRedrawNotify copy;
    memcpy(&copy, sent[0].notifyBytes.data(), sizeof copy);
    EXPECT_EQ(copy.hdr.code, 1000u);
    EXPECT_EQ(copy.hdr.idFrom, 42u);
    EXPECT_EQ(copy.hbkWnd, w->GetHandle());
    EXPECT_EQ(copy.rcWnd.right, w->GetRect().right);
    EXPECT_EQ(w->GetRect().right - w->GetRect().left, 45);  // "5,6,50,60" in the view's box
}

TEST(ElemRedrawNotify, NothingForHiddenDeepOrWithoutALiveContainer) {
    eh::Host host;
    ASSERT_TRUE(host.ok());
    eh::TestPanel top, middle;
    middle.SetParent(top.GetHandle());
    CBkStatic leaf;
    leaf.SetParent(middle.GetHandle());
    host.Add(&leaf);

    top.ModifyState(kBkStateHidden, 0);  // hidden two levels up
    leaf.RequestRedraw();
    top.ModifyState(0, kBkStateHidden);
    leaf.ModifyState(kBkStateHidden, 0);
    leaf.RequestRedraw();
    leaf.ModifyState(0, kBkStateHidden);
    EXPECT_TRUE(host.redraws.empty());

    leaf.RequestRedraw();  // visible again: one
    EXPECT_EQ(host.redraws.size(), 1u);

    CBkStatic noWindow;
    noWindow.RequestRedraw();  // no container window: nothing, no fault

    HWND gone = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(gone, nullptr);
    ts::SentRecorder rec(nullptr);
    CBkStatic orphan;
    orphan.SetContainerWindow(gone);
    ::DestroyWindow(gone);
    orphan.RequestRedraw();
    EXPECT_TRUE(rec.Of(WM_NOTIFY).empty());
}

// ---- painting ----------------------------------------------------------------------------------

TEST(ElemPaint, BackgroundColourHoverColourAndSkin) {
    BkSkinPool::Instance().Clear();
    eh::RecSkin* skin = eh::RecSkin::Install("bg");
    const COLORREF white = RGB(0xFF, 0xFF, 0xFF);
    CBkStatic w;
    w.SetRect(RECT{10, 10, 40, 30});
    w.SetAttribute("crbg", "336699", TRUE);
    {
        ts::Dib dib(60, 40, white);
        EXPECT_TRUE(w.PaintInRegion(dib.dc(), nullptr));
        EXPECT_EQ(dib.At(10, 10), RGB(0x33, 0x66, 0x99));
        EXPECT_EQ(dib.At(39, 29), RGB(0x33, 0x66, 0x99));
        EXPECT_EQ(dib.At(40, 30), white);
        EXPECT_EQ(dib.At(9, 9), white);
    }
    w.GetStyle().m_crBgHover = RGB(0x99, 0x66, 0x33);
    {
        ts::Dib dib(60, 40, white);
        w.PaintInRegion(dib.dc(), nullptr);
        EXPECT_EQ(dib.At(20, 20), RGB(0x33, 0x66, 0x99));  // no hover bit yet
        w.ModifyState(kBkStateHover, 0);
        w.PaintInRegion(dib.dc(), nullptr);
        EXPECT_EQ(dib.At(20, 20), RGB(0x99, 0x66, 0x33));
    }
    // A skin draws the background with the state bits, instead of the colour.
    w.GetStyle().m_strSkinName = "bg";
    w.ModifyState(kBkStatePushed, 0);
    {
        ts::Dib dib(60, 40, white);
        w.PaintInRegion(dib.dc(), nullptr);
        ASSERT_EQ(skin->draws.size(), 1u);
        EXPECT_EQ(skin->draws[0].state, (DWORD)(kBkStateHover | kBkStatePushed));
        EXPECT_EQ(dib.At(20, 20), eh::RecSkin::ColourOf(kBkStateHover | kBkStatePushed));
    }
    // A skin name that the pool lacks paints no background at all.
    w.GetStyle().m_strSkinName = "nosuch";
    {
        ts::Dib dib(60, 40, white);
        w.PaintInRegion(dib.dc(), nullptr);
        EXPECT_EQ(dib.At(20, 20), white);
    }
}

TEST(ElemPaint, OutsideTheRegionNothingIsDrawn) {
    CBkStatic w;
    w.SetRect(RECT{10, 10, 40, 30});
    w.SetAttribute("crbg", "336699", TRUE);
    ts::Dib dib(60, 40, RGB(0xFF, 0xFF, 0xFF));
    HRGN away = ::CreateRectRgn(45, 0, 60, 40);
    HRGN over = ::CreateRectRgn(35, 25, 60, 40);
    EXPECT_FALSE(w.PaintInRegion(dib.dc(), away));
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 60, 40}, RGB(0xFF, 0xFF, 0xFF)), 0);
    EXPECT_TRUE(w.PaintInRegion(dib.dc(), over));
    ::DeleteObject(away);
    ::DeleteObject(over);
}

TEST(ElemPaint, TextColourByStateAndTheInheritedDisabledColour) {
    eh::TestPanel panel;
    auto w = LoadElement<CBkStatic>("<text crtext=\"0000FF\" pos=\"0,0,-0,-0\">MW</text>", panel.GetHandle());
    w->GetStyle().m_ftText = SolidFont();
    w->GetStyle().m_nTextMode = DT_SINGLELINE | DT_CENTER | DT_VCENTER;
    w->GetStyle().m_crHoverText = RGB(0, 0x80, 0);
    w->SetRect(RECT{0, 0, 80, 40});
    const COLORREF white = RGB(0xFF, 0xFF, 0xFF);
    const RECT all = {0, 0, 80, 40};
    auto paint = [&](COLORREF expect) {
        ts::Dib dib(80, 40, white);
        ::SetBkMode(dib.dc(), TRANSPARENT);
        w->PaintInRegion(dib.dc(), nullptr);
        const int ink = dib.CountOther(all, white);
        // Every pixel that is not background carries the expected colour, and there are some.
        EXPECT_GT(ink, 20);
        int exact = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 80; ++x) exact += dib.At(x, y) == expect;
        EXPECT_EQ(exact, ink) << std::hex << expect;
    };
    paint(RGB(0, 0, 0xFF));
    w->ModifyState(kBkStateHover, 0);
    paint(RGB(0, 0x80, 0));
    panel.ModifyState(kBkStateDisabled, 0);  // disabled above: the default disabled colour wins
    paint(RGB(0xCC, 0xCC, 0xCC));
    w->GetStyle().m_crDisabledText = RGB(0x80, 0, 0x80);
    paint(RGB(0x80, 0, 0x80));
}

TEST(ElemPaint, TextSitsInTheBoxLessTheMargins) {
    auto w = LoadElement<CBkStatic>("<text crtext=\"000000\">MMMM</text>");
    w->GetStyle().m_ftText = SolidFont();
    w->GetStyle().m_nMarginX = 15;
    w->GetStyle().m_nMarginY = 10;
    w->GetStyle().m_nTextMode = DT_SINGLELINE | DT_LEFT | DT_TOP;
    w->SetRect(RECT{0, 0, 200, 60});
    ts::Dib dib(200, 60, RGB(0xFF, 0xFF, 0xFF));
    ::SetBkMode(dib.dc(), TRANSPARENT);
    w->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 15, 60}, RGB(0xFF, 0xFF, 0xFF)), 0);
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 200, 10}, RGB(0xFF, 0xFF, 0xFF)), 0);
    EXPECT_GT(dib.CountOther(RECT{15, 10, 200, 60}, RGB(0xFF, 0xFF, 0xFF)), 0);
}
