// The leaf elements: tags, states by mouse and clicks through the dialog view, notifications, and
// each one's drawing read back from a 32-bpp DIB.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include <objidl.h>
#include <propidl.h>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "bkimage.h"
#include "bkleaf.h"
#include "bkres.h"
#include "bkstyle.h"
#include "bkwndreg.h"
#include "elemhost.h"
#include "uikit.h"
#include "uinput.h"
#include "viewkit.h"

using eh::LoadElement;

namespace {

const COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);
const COLORREF kBarColour = 0x906142;  // the progress bar's fill (a COLORREF)

HFONT SolidFont() {
    static HFONT f = ::CreateFontW(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, NONANTIALIASED_QUALITY, 0,
                                   L"Tahoma");
    return f;
}

SIZE TextExtent(HFONT font, LPCWSTR text) {
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(dc, font);
    RECT rc = {0, 0, 0, 0};
    ::DrawTextW(dc, text, -1, &rc, DT_SINGLELINE | DT_CALCRECT);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

// Every pixel of the two DIBs inside the rect is the same.
bool SamePixels(const ts::Dib& a, const ts::Dib& b, const RECT& rc) {
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x)
            if (a.At(x, y) != b.At(x, y)) return false;
    return true;
}

int CountColour(const ts::Dib& d, const RECT& rc, COLORREF c) {
    int n = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x) n += d.At(x, y) == c;
    return n;
}

class Leaf : public ::testing::Test {
protected:
    void SetUp() override {
        BkStylePool::Instance().Reset();
        BkSkinPool::Instance().Clear();
        BkString::Instance().Clear();
        ASSERT_TRUE(host.ok());
    }
    eh::Host host{320, 200};
};

}  // namespace

// ---- tags --------------------------------------------------------------------------------------

TEST(LeafTags, EachClassKnowsItsTagExactly) {
    const struct {
        const char* tag;
        CBkWindow* (*create)(const char*);
    } cases[] = {
        {"memimage", [](const char* t) -> CBkWindow* { return CBkMemoryImage::CreateIfTag(t); }},
        {"text", [](const char* t) -> CBkWindow* { return CBkStatic::CreateIfTag(t); }},
        {"link", [](const char* t) -> CBkWindow* { return CBkLink::CreateIfTag(t); }},
        {"button", [](const char* t) -> CBkWindow* { return CBkButton::CreateIfTag(t); }},
        {"img", [](const char* t) -> CBkWindow* { return CBkImageWnd::CreateIfTag(t); }},
        {"progress", [](const char* t) -> CBkWindow* { return CBkProgress::CreateIfTag(t); }},
        {"imgbtn", [](const char* t) -> CBkWindow* { return CBkImageBtnWnd::CreateIfTag(t); }},
        {"realwnd", [](const char* t) -> CBkWindow* { return CBkRealWnd::CreateIfTag(t); }},
        {"hr", [](const char* t) -> CBkWindow* { return CBkLine::CreateIfTag(t); }},
        {"check", [](const char* t) -> CBkWindow* { return CBkCheckBox::CreateIfTag(t); }},
        {"icon", [](const char* t) -> CBkWindow* { return CBkIconWnd::CreateIfTag(t); }},
        {"radio", [](const char* t) -> CBkWindow* { return CBkRadioBox::CreateIfTag(t); }},
        {"imglisth", [](const char* t) -> CBkWindow* { return CBkImageListHWnd::CreateIfTag(t); }},
    };
    for (const auto& c : cases) {
        std::unique_ptr<CBkWindow> w(c.create(c.tag));
        ASSERT_NE(w, nullptr) << c.tag;
        EXPECT_STREQ(w->TagName(), c.tag);
        EXPECT_TRUE(w->IsTag(c.tag));
        EXPECT_FALSE(w->IsContainer());
        std::string upper = c.tag;
        upper[0] = (char)toupper(upper[0]);
        EXPECT_EQ(c.create(upper.c_str()), nullptr) << upper;
        EXPECT_EQ(c.create((std::string(c.tag) + " ").c_str()), nullptr) << c.tag;
        EXPECT_EQ(c.create(""), nullptr);
        EXPECT_EQ(c.create(nullptr), nullptr);
        EXPECT_FALSE(w->IsTag(upper.c_str()));
        EXPECT_EQ(w->SetAttribute("nosuch", "1", TRUE), E_FAIL) << c.tag;
    }
}

// ---- states by mouse and the click notification, through the dialog view ---------------------

namespace {

// Link opening through the view's seam: what was opened.
std::vector<std::wstring> g_opened;
HINSTANCE WINAPI RecordOpen(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    g_opened.push_back(file ? file : L"");
    return (HINSTANCE)33;
}

// The leaf elements hosted by the real dialog view, as the programs' layouts host them.
class LeafInView : public ::testing::Test {
protected:
    void SetUp() override {
        BkStylePool::Instance().Reset();
        BkSkinPool::Instance().Clear();
        BkString::Instance().Clear();
        BkViewSeamTable().shellExecute = &RecordOpen;
        g_opened.clear();
    }
    void TearDown() override {
        BkViewSeamTable().shellExecute = saved.saved().shellExecute;
        ReleaseCapture();
    }
    // The bounding box of what the view has still to paint; empty when nothing.
    static RECT Invalid(HWND view) {
        RECT r = {};
        if (!::GetUpdateRect(view, &r, FALSE)) ::SetRectEmpty(&r);
        return r;
    }
    static void Down(HWND view, POINT p) {
        const POINT s = ts::ScreenPointOf(view, p);
        ::SetCursorPos(s.x, s.y);
        ::SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    }
    static void Up(HWND view, POINT p) {
        const POINT s = ts::ScreenPointOf(view, p);
        ::SetCursorPos(s.x, s.y);
        ::SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    }
    ts::Restore<BkViewSeams> saved{BkViewSeamTable()};
};

// A button of the test's own that records the WM_MOUSELEAVE the view sends it.
class LeaveRecorder : public CBkButton {
public:
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (msg == WM_MOUSELEAVE) ++leaves;
        return CBkButton::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    int leaves = 0;
};

}  // namespace

TEST_F(LeafInView, HoverPressAndClickThroughTheView) {
    eh::RecSkin::Install("face");  // a skin with states: "button" and "imgbtn" show them
    const struct {
        const char* tag;
        const char* attrs;
        const char* text;
        bool redraws;  // repainted on hover and press changes
    } cases[] = {
        {"text", "", "Text", false},
        {"link", "", "Link", false},
        {"button", "", "OK", true},
        {"img", " skin=\"face\"", "", false},
        {"imgbtn", " skin=\"face\"", "", true},
        {"check", "", "Check", true},
        {"radio", "", "Radio", true},
        {"progress", "", "", false},
        {"hr", "", "", false},
        {"icon", " oem=\"1\" src=\"32516\"", "", false},
        {"imglisth", "", "", false},
        {"memimage", "", "", false},
    };
    // All in one view, three to a row, each 60 x 30 (check, radio and icon take their own size).
    const int count = (int)(sizeof cases / sizeof cases[0]);
    std::string xml = "<layer><body>";
    for (int i = 0; i < count; ++i) {
        const int left = 10 + i % 3 * 95, top = 10 + i / 3 * 45;
        xml += std::string("<") + cases[i].tag + " id=\"" + std::to_string(11 + i) + "\" pos=\"" +
               std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(left + 60) + "," +
               std::to_string(top + 30) + "\"" + cases[i].attrs + ">" + cases[i].text + "</" + cases[i].tag + ">";
    }
    xml += "</body></layer>";
    ViewHost host;
    ASSERT_TRUE(host.Open(xml, 320, 220));
    HWND view = host.view;
    const POINT off = {300, 210};  // on no element
    for (int i = 0; i < count; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.tag);
        const int id = 11 + i;
        CBkWindow* w = host.view.FindItem(id);
        ASSERT_NE(w, nullptr);
        ASSERT_STREQ(w->TagName(), c.tag);
        const RECT rect = w->GetRect();
        ASSERT_EQ(rect.left, 10 + i % 3 * 95);
        ASSERT_EQ(rect.top, 10 + i / 3 * 45);
        const POINT in = host.CentreOf(id);
        const RECT none = {}, repaint = c.redraws ? rect : none;
        host.notices.clear();
        ts::MoveTo(view, off);
        ::UpdateWindow(view);
        RECT r = Invalid(view);
        ASSERT_TRUE(::IsRectEmpty(&r));

        ts::MoveTo(view, in);
        EXPECT_EQ(w->GetState() & (kBkStateHover | kBkStatePushed), (DWORD)kBkStateHover);
        r = Invalid(view);
        EXPECT_TRUE(::EqualRect(&r, &repaint)) << "hover: " << r.left << "," << r.top << "," << r.right << ","
                                               << r.bottom;
        ::UpdateWindow(view);

        Down(view, in);
        EXPECT_EQ(w->GetState() & kBkStatePushed, (DWORD)kBkStatePushed);
        r = Invalid(view);
        EXPECT_TRUE(::EqualRect(&r, &repaint)) << "pushed";
        ::UpdateWindow(view);
        EXPECT_TRUE(host.Clicks().empty()) << "no click before the button goes up";
        Up(view, in);
        EXPECT_EQ(w->GetState() & (kBkStateHover | kBkStatePushed), (DWORD)kBkStateHover);  // still over it
        r = Invalid(view);
        EXPECT_TRUE(::EqualRect(&r, &repaint)) << "released";
        ASSERT_EQ(host.Clicks().size(), 1u);
        EXPECT_EQ(host.Clicks()[0].item, (UINT)id);
        EXPECT_EQ(host.Clicks()[0].tag, c.tag);
        EXPECT_EQ(host.Clicks()[0].id, (UINT_PTR)1000);
        EXPECT_EQ(host.Clicks()[0].from, view);

        // Disabled: no hover bit, no press, no click, whatever the element.
        w->ModifyState(kBkStateDisabled, kBkStateHover | kBkStateChecked);
        host.notices.clear();
        ts::MoveTo(view, off);
        ts::MoveTo(view, in);
        Down(view, in);
        EXPECT_EQ(w->GetState() & (kBkStateHover | kBkStatePushed | kBkStateChecked), 0u) << "disabled, down";
        Up(view, in);
        EXPECT_EQ(w->GetState() & (kBkStateHover | kBkStatePushed | kBkStateChecked), 0u);
        EXPECT_TRUE(host.Clicks().empty());
    }
}

TEST_F(LeafInView, PushedOnlyBetweenDownAndUpAndAClickNeedsTheSameElement) {
    ViewHost host;
    ASSERT_TRUE(host.view.LoadLayout("<layer><body>"
                                     "<button id=\"2\" pos=\"100,0,150,20\">B</button>"
                                     "<button pos=\"0,100,50,120\">C</button>"
                                     "<link id=\"5\" pos=\"100,100\" href=\"http://127.0.0.1/\">D</link>"
                                     "</body></layer>"));
    // Button a is of the test's own, to see the leave the view sends it.
    LeaveRecorder* a = new LeaveRecorder;  // the body owns it from here
    XmlOf ax("<button id=\"1\" pos=\"0,0,50,20\">A</button>");
    ASSERT_TRUE(a->Load(ax.root()));
    a->SetParent(host.view.Body().GetHandle());
    const_cast<std::vector<CBkWindow*>&>(host.view.Body().Children()).push_back(a);
    ASSERT_TRUE(host.OpenLoaded(300, 200));
    HWND view = host.view;
    CBkWindow* b = host.view.FindItem(2);
    ASSERT_EQ(host.view.FindItem(1), a);
    ASSERT_NE(b, nullptr);
    const POINT pa = host.CentreOf(1), pb = host.CentreOf(2);

    ts::MoveTo(view, pa);
    Down(view, pa);
    EXPECT_TRUE(a->GetState() & kBkStatePushed);
    ts::MoveTo(view, pb);  // leaves a for b with the button down
    EXPECT_FALSE(a->GetState() & kBkStateHover);
    EXPECT_TRUE(b->GetState() & kBkStateHover);
    EXPECT_EQ(a->leaves, 1) << "a got WM_MOUSELEAVE";
    Up(view, pb);
    EXPECT_FALSE(a->GetState() & kBkStatePushed);
    EXPECT_FALSE(b->GetState() & kBkStatePushed);
    EXPECT_TRUE(host.Clicks().empty());

    // An element without an id, and a link with an href, report no command.
    ts::ClickAt(view, POINT{25, 110});
    ts::ClickAt(view, host.CentreOf(5));
    EXPECT_TRUE(host.Clicks().empty());
    EXPECT_EQ(g_opened, std::vector<std::wstring>{L"http://127.0.0.1/"}) << "the link opens instead";
    EXPECT_FALSE(host.view.FindItem(5)->GetState() & kBkStatePushed);
}

// ---- check -------------------------------------------------------------------------------------

TEST(LeafCheck, ThemeStateNumbers) {
    const struct {
        DWORD state;
        int number;
    } cases[] = {
        {0, 1},
        {kBkStateHover, 2},
        {kBkStatePushed, 3},
        {kBkStatePushed | kBkStateHover, 3},
        {kBkStateDisabled, 4},
        {kBkStateDisabled | kBkStatePushed | kBkStateHover, 4},
        {kBkStateChecked, 5},
        {kBkStateChecked | kBkStateHover, 6},
        {kBkStateChecked | kBkStatePushed | kBkStateHover, 7},
        {kBkStateChecked | kBkStateDisabled | kBkStateHover, 8},
        {kBkStateHidden, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(BkButtonThemeState(c.state), c.number) << c.state;
}

TEST_F(Leaf, CheckMeasuresTheGlyphBesideTheText) {
    HFONT font = BkFontPool::GetFont(0);
    const SIZE none = TextExtent(font, L"");  // DrawTextW gives an empty text a line's height
    auto empty = LoadElement<CBkCheckBox>("<check/>");
    EXPECT_EQ(empty->GetRect().right, 17);
    EXPECT_EQ(empty->GetRect().bottom, std::max(13L, none.cy));
    BkStyle& m = BkStylePool::Instance().Entry("m");
    m.m_nMarginX = 2;
    m.m_nMarginY = 1;
    auto margins = LoadElement<CBkCheckBox>("<check class=\"m\"/>");
    EXPECT_EQ(margins->GetRect().right, 17 + 4);
    EXPECT_EQ(margins->GetRect().bottom, std::max(13L, none.cy + 2));
    BkStyle& tiny = BkStylePool::Instance().Entry("tiny");
    tiny.m_ftText = ::CreateFontW(-4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Tahoma");  // raised to the glyph
    auto small = LoadElement<CBkCheckBox>("<check class=\"tiny\">x</check>");
    EXPECT_EQ(small->GetRect().bottom, 13);
    auto smallRadio = LoadElement<CBkRadioBox>("<radio class=\"tiny\">x</radio>");
    EXPECT_EQ(smallRadio->GetRect().bottom, 12);

    auto text = LoadElement<CBkCheckBox>("<check>记住密码</check>");
    const SIZE t = TextExtent(font, L"记住密码");
    EXPECT_EQ(text->GetRect().right, t.cx + 17);
    EXPECT_EQ(text->GetRect().bottom, std::max(13L, t.cy));

    auto radio = LoadElement<CBkRadioBox>("<radio>记住密码</radio>");
    EXPECT_EQ(radio->GetRect().right, t.cx + 14);
    EXPECT_EQ(radio->GetRect().bottom, std::max(12L, t.cy));
    auto emptyRadio = LoadElement<CBkRadioBox>("<radio/>");
    EXPECT_EQ(emptyRadio->GetRect().right, 14);
    EXPECT_EQ(emptyRadio->GetRect().bottom, std::max(12L, none.cy));
}

TEST_F(LeafInView, CheckClickTogglesAndASecondClickClears) {
    ViewHost host;
    ASSERT_TRUE(host.Open("<layer><body><check id=\"3\" pos=\"10,10\">x</check></body></layer>", 300, 200));
    CBkWindow* w = host.view.FindItem(3);
    ASSERT_NE(w, nullptr);
    const POINT p = host.CentreOf(3);
    ts::ClickAt(host.view, p);
    EXPECT_TRUE(w->GetState() & kBkStateChecked);
    EXPECT_TRUE(host.view.GetItemCheck(3));
    ts::ClickAt(host.view, p);
    EXPECT_FALSE(w->GetState() & kBkStateChecked);
    EXPECT_EQ(host.Clicks().size(), 2u);
}

// Check and radio glyphs, with and without a theme, against the system's own drawing.
TEST_F(Leaf, GlyphsDrawThroughTheThemeOrTheClassicFrameControl) {
    HMODULE ux = ::LoadLibraryW(L"uxtheme.dll");
    ASSERT_NE(ux, nullptr);
    for (bool themed : {false, true}) {
        BkUxThemeLoader::Instance().Bind(themed ? ux : nullptr);
        HBKTHEME theme = themed ? BkUxThemeLoader::OpenThemeData(L"BUTTON") : nullptr;
        if (themed) {
            ASSERT_NE(theme, nullptr);
        }
        for (DWORD state : {(DWORD)0, (DWORD)kBkStateChecked, (DWORD)(kBkStateChecked | kBkStateHover),
                            (DWORD)kBkStatePushed, (DWORD)(kBkStateDisabled | kBkStateChecked)}) {
            SCOPED_TRACE(testing::Message() << "themed " << themed << " state " << state);
            auto check = LoadElement<CBkCheckBox>("<check/>");
            auto radio = LoadElement<CBkRadioBox>("<radio/>");
            check->SetRect(RECT{4, 4, 60, 24});
            radio->SetRect(RECT{4, 30, 60, 50});
            check->ModifyState(state, 0);
            radio->ModifyState(state, 0);
            ts::Dib got(80, 60, kWhite), want(80, 60, kWhite);
            check->PaintInRegion(got.dc(), nullptr);
            radio->PaintInRegion(got.dc(), nullptr);
            RECT cg = {4, 4, 17, 24};   // 13 wide, full height
            RECT rg = {4, 34, 16, 46};  // 12 x 12, centred in 20
            UINT flags = DFCS_TRANSPARENT | (state & kBkStateDisabled ? DFCS_INACTIVE : 0) |
                         (state & kBkStateHover ? DFCS_HOT : 0) | (state & kBkStatePushed ? DFCS_PUSHED : 0) |
                         (state & kBkStateChecked ? DFCS_CHECKED : 0);
            if (themed) {
                BkUxThemeLoader::DrawThemeBackground(theme, want.dc(), 3, BkButtonThemeState(state), cg);
                BkUxThemeLoader::DrawThemeBackground(theme, want.dc(), 2, BkButtonThemeState(state), rg);
            } else {
                ::DrawFrameControl(want.dc(), &cg, DFC_BUTTON, DFCS_BUTTONCHECK | flags);
                ::DrawFrameControl(want.dc(), &rg, DFC_BUTTON, DFCS_BUTTONRADIO | flags);
            }
            EXPECT_GT(want.CountOther(cg, kWhite), 0);
            EXPECT_TRUE(SamePixels(got, want, RECT{0, 0, 80, 60}));
        }
        if (theme) BkUxThemeLoader::CloseThemeData(theme);
    }
    BkUxThemeLoader::Instance().Bind(nullptr);
}

TEST_F(Leaf, CheckAndRadioTextStartsPastTheGlyphCentredVertically) {
    for (bool radio : {false, true}) {
        std::unique_ptr<CBkWindow> w;
        if (radio) w = LoadElement<CBkRadioBox>("<radio crtext=\"0000FF\">MM</radio>");
        else w = LoadElement<CBkCheckBox>("<check crtext=\"0000FF\">MM</check>");
        w->GetStyle().m_ftText = SolidFont();
        w->SetRect(RECT{0, 0, 120, 60});
        ts::Dib dib(120, 60, kWhite);
        ::SetBkMode(dib.dc(), TRANSPARENT);
        BkUxThemeLoader::Instance().Bind(nullptr);
        w->PaintInRegion(dib.dc(), nullptr);
        const int indent = radio ? 14 : 17;
        const RECT textArea = {indent, 0, 120, 60};
        const int blue = CountColour(dib, textArea, RGB(0, 0, 0xFF));
        EXPECT_GT(blue, 20) << radio;
        EXPECT_EQ(CountColour(dib, RECT{0, 0, indent, 60}, RGB(0, 0, 0xFF)), 0) << radio;
        // DT_BOTTOM gave way to DT_VCENTER: the text lies around the middle, not at the bottom.
        EXPECT_EQ(CountColour(dib, RECT{indent, 50, 120, 60}, RGB(0, 0, 0xFF)), 0) << radio;
        EXPECT_GT(CountColour(dib, RECT{indent, 20, 120, 40}, RGB(0, 0, 0xFF)), 0) << radio;
        EXPECT_EQ(w->GetStyle().m_nTextMode & (DT_BOTTOM | DT_VCENTER), (UINT)DT_VCENTER) << radio;
    }
}

// ---- radio -------------------------------------------------------------------------------------

TEST_F(LeafInView, RadiosOfOneGroupCheckOneAtATime) {
    {
        ViewHost host;
        ASSERT_TRUE(host.Open("<layer><body>"
                              "<radio id=\"1\" pos=\"0,0,60,20\">A</radio>"
                              "<radio id=\"2\" pos=\"100,0,160,20\">B</radio>"  // both in ""
                              "<radio id=\"3\" group=\"other\" pos=\"200,0,260,20\">X</radio>"
                              "</body></layer>",
                              300, 200));
        CBkRadioBox* a = static_cast<CBkRadioBox*>(host.view.FindItem(1));
        CBkRadioBox* b = static_cast<CBkRadioBox*>(host.view.FindItem(2));
        CBkRadioBox* x = static_cast<CBkRadioBox*>(host.view.FindItem(3));
        ASSERT_TRUE(a && b && x);
        EXPECT_EQ(a->GetGroup(), "");
        EXPECT_EQ(x->GetGroup(), "other");
        HWND view = host.view;

        ts::ClickAt(view, host.CentreOf(3));
        ts::ClickAt(view, host.CentreOf(1));
        EXPECT_TRUE(a->GetState() & kBkStateChecked);
        EXPECT_TRUE(x->GetState() & kBkStateChecked);  // another group

        ::UpdateWindow(view);
        ts::ClickAt(view, host.CentreOf(2));
        EXPECT_TRUE(b->GetState() & kBkStateChecked);
        EXPECT_FALSE(a->GetState() & kBkStateChecked);
        EXPECT_TRUE(x->GetState() & kBkStateChecked);
        // a asked for its redraw when it lost the check: the view has its rect to paint.
        HRGN invalid = ::CreateRectRgn(0, 0, 0, 0);
        ::GetUpdateRgn(view, invalid, FALSE);
        const RECT ra = a->GetRect(), rx = x->GetRect();
        EXPECT_TRUE(::RectInRegion(invalid, &ra));
        EXPECT_FALSE(::RectInRegion(invalid, &rx));
        ::DeleteObject(invalid);

        ts::ClickAt(view, host.CentreOf(2));  // a checked radio stays checked
        EXPECT_TRUE(b->GetState() & kBkStateChecked);
        EXPECT_EQ(host.Clicks().size(), 4u);
    }
    EXPECT_TRUE(BkWindowRegistry::GroupMembers("").empty()) << "the view's radios left their group with it";

    // A destroyed radio has left its group.
    auto c = LoadElement<CBkRadioBox>("<radio id=\"4\">C</radio>");
    auto d = LoadElement<CBkRadioBox>("<radio id=\"5\">D</radio>");
    const HBKWND gone = d->GetHandle();
    d.reset();
    for (CBkWindow* m : BkWindowRegistry::GroupMembers("")) EXPECT_NE(m->GetHandle(), gone);
    EXPECT_EQ(BkWindowRegistry::GroupMembers("").size(), 1u);
}

// ---- img and imgbtn ----------------------------------------------------------------------------

TEST_F(Leaf, ImageDrawsItsSubImageAndTakesTheSkinsSize) {
    eh::RecSkin* skin = eh::RecSkin::Install("pic", SIZE{24, 0});
    auto w = LoadElement<CBkImageWnd>("<img skin=\"pic\" sub=\"2\" height=\"9\"/>");
    EXPECT_EQ(w->GetRect().right, 24);  // cx from the skin
    EXPECT_EQ(w->GetRect().bottom, 9);  // cy 0 keeps the height
    w->SetRect(RECT{5, 5, 29, 14});
    ts::Dib dib(40, 20, kWhite);
    w->ModifyState(kBkStateHover | kBkStatePushed, 0);  // "img" ignores the state
    w->PaintInRegion(dib.dc(), nullptr);
    ASSERT_EQ(skin->draws.size(), 1u);
    EXPECT_EQ(skin->draws[0].state, 2u);
    EXPECT_EQ(dib.At(5, 5), eh::RecSkin::ColourOf(2));
    EXPECT_EQ(dib.At(28, 13), eh::RecSkin::ColourOf(2));
    EXPECT_EQ(dib.At(29, 14), kWhite);

    auto unset = LoadElement<CBkImageWnd>("<img skin=\"pic\"/>");
    unset->SetRect(RECT{0, 0, 4, 4});
    unset->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(skin->draws.back().state, (DWORD)-1);  // default sub

    auto missing = LoadElement<CBkImageWnd>("<img skin=\"nosuch\" width=\"10\" height=\"10\"/>");
    ts::Dib blank(20, 20, kWhite);
    missing->PaintInRegion(blank.dc(), nullptr);
    EXPECT_EQ(blank.CountOther(RECT{0, 0, 20, 20}, kWhite), 0);
}

TEST_F(LeafInView, ImageButtonSubImageFollowsTheState) {
    eh::RecSkin::Install("btn", SIZE{20, 20});
    ViewHost host;
    ASSERT_TRUE(host.Open("<layer><body><imgbtn id=\"9\" pos=\"30,30\" skin=\"btn\" sub=\"5\"/></body></layer>", 300,
                          200));
    CBkWindow* w = host.view.FindItem(9);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->GetRect().right - w->GetRect().left, 20);  // the skin's size
    EXPECT_EQ(w->GetRect().bottom - w->GetRect().top, 20);
    HWND view = host.view;
    // What the view shows in the middle of the button.
    auto drawn = [&]() { return ts::CaptureView(view).At(40, 40); };
    const POINT p = host.CentreOf(9);
    EXPECT_EQ(drawn(), eh::RecSkin::ColourOf(0));  // "sub" is not used
    ts::MoveTo(view, p);
    EXPECT_EQ(drawn(), eh::RecSkin::ColourOf(1));
    Down(view, p);
    EXPECT_EQ(drawn(), eh::RecSkin::ColourOf(2));
    w->ModifyState(kBkStateDisabled, 0);  // disabled wins while hovered and pushed
    host.view.RedrawItem(w, TRUE);
    EXPECT_EQ(drawn(), eh::RecSkin::ColourOf(3));
    Up(view, p);
    EXPECT_EQ(drawn(), eh::RecSkin::ColourOf(3));
    w->ModifyState(0, kBkStateDisabled);
    host.view.Body().ModifyState(kBkStateDisabled, 0);  // disabled through its panel
    host.view.RedrawItem(w, TRUE);
    EXPECT_EQ(drawn(), eh::RecSkin::ColourOf(3));
    EXPECT_TRUE(host.Clicks().empty());
}

// ---- progress ----------------------------------------------------------------------------------

namespace {
struct ProgressPaint {
    std::unique_ptr<CBkProgress> bar;
    std::unique_ptr<ts::Dib> dib;
};

ProgressPaint PaintProgress(const std::string& attrs, RECT rc = RECT{0, 0, 204, 24}) {
    ProgressPaint p;
    p.bar = LoadElement<CBkProgress>("<progress " + attrs + "/>");
    p.bar->GetStyle().m_ftText = SolidFont();
    p.bar->GetStyle().m_crText = RGB(0, 0, 0);
    p.bar->SetRect(rc);
    p.dib.reset(new ts::Dib(rc.right + 10, rc.bottom + 10, RGB(0x10, 0x20, 0x30)));
    ::SetBkMode(p.dib->dc(), TRANSPARENT);  // as the view prepares its DC
    p.bar->PaintInRegion(p.dib->dc(), nullptr);
    return p;
}
}  // namespace

TEST_F(Leaf, ProgressRatioValueClampAndSwap) {
    const struct {
        const char* attrs;
        DWORD min, max, value;  // after the first paint
        int barWidth;           // of the inner 200
    } cases[] = {
        {"min=\"0\" max=\"300\" value=\"0\"", 0, 300, 0, 0},
        {"min=\"0\" max=\"300\" value=\"150\"", 0, 300, 150, 100},
        {"min=\"0\" max=\"300\" value=\"400\"", 0, 300, 300, 200},
        {"min=\"100\" max=\"300\" value=\"50\"", 100, 300, 100, 0},
        {"min=\"300\" max=\"0\" value=\"75\"", 0, 300, 75, 50},   // swapped
        {"min=\"7\" max=\"7\" value=\"9\"", 7, 7, 9, 0},          // equal: ratio 0, nothing clamped
        {"min=\"0\" max=\"-1\" value=\"-2\"", 0, 0xFFFFFFFF, 0xFFFFFFFE, 199},  // unsigned
    };
    for (const auto& c : cases) {
        ProgressPaint p = PaintProgress(c.attrs);
        EXPECT_EQ(p.bar->GetMin(), c.min) << c.attrs;
        EXPECT_EQ(p.bar->GetMax(), c.max) << c.attrs;
        EXPECT_EQ(p.bar->GetValue(), c.value) << c.attrs;
        const RECT& b = p.bar->GetBarRect();
        EXPECT_EQ(b.left, 2) << c.attrs;
        EXPECT_EQ(b.right - b.left, c.barWidth) << c.attrs;
        // The bar colour fills exactly the bar.
        EXPECT_EQ(CountColour(*p.dib, RECT{0, 0, 214, 34}, kBarColour), c.barWidth * 20) << c.attrs;
    }
}

TEST_F(Leaf, ProgressFrameAndPercentageInTheInverseColour) {
    ProgressPaint p = PaintProgress("min=\"0\" max=\"300\" value=\"150\" showpercent=\"1\"");
    const ts::Dib& d = *p.dib;
    EXPECT_EQ(d.At(100, 0), CBkProgress::kFrameColour);   // the frame's pen
    EXPECT_EQ(d.At(100, 23), CBkProgress::kFrameColour);
    EXPECT_EQ(d.At(1, 12), kWhite);                      // the DC's brush inside the frame
    EXPECT_EQ(d.At(210, 12), RGB(0x10, 0x20, 0x30));     // outside untouched
    // "50%" straddles the bar's end at the centre: white over the bar, black beside it.
    EXPECT_GT(CountColour(d, RECT{2, 2, 102, 22}, kWhite), 10);
    EXPECT_GT(CountColour(d, RECT{102, 2, 202, 22}, RGB(0, 0, 0)), 10);
    EXPECT_EQ(CountColour(d, RECT{2, 2, 102, 22}, RGB(0, 0, 0)), 0);

    ProgressPaint zero = PaintProgress("min=\"0\" max=\"300\" value=\"0\" showpercent=\"1\"");
    EXPECT_EQ(CountColour(*zero.dib, RECT{0, 0, 214, 34}, kBarColour), 0);
    EXPECT_GT(CountColour(*zero.dib, RECT{2, 2, 202, 22}, RGB(0, 0, 0)), 10);  // "0%"

    // A set crbg is the inverse colour instead of white.
    ProgressPaint full = PaintProgress("crbg=\"00FF00\" min=\"0\" max=\"10\" value=\"10\" showpercent=\"1\"");
    EXPECT_GT(CountColour(*full.dib, RECT{2, 2, 202, 22}, RGB(0, 0xFF, 0)), 10);
    EXPECT_EQ(CountColour(*full.dib, RECT{2, 2, 202, 22}, RGB(0, 0, 0)), 0);
}

TEST_F(Leaf, ProgressSkinsDrawBackgroundAndBar) {
    eh::RecSkin* bg = eh::RecSkin::Install("bg", SIZE{0, 16});
    eh::RecSkin* pos = eh::RecSkin::Install("pos", SIZE{0, 8});
    auto w = LoadElement<CBkProgress>("<progress bgskin=\"bg\" posskin=\"pos\" max=\"4\" value=\"1\" width=\"104\"/>");
    EXPECT_EQ(w->GetRect().bottom, 16);  // the height of the bgskin
    w->SetRect(RECT{0, 0, 104, 20});
    ts::Dib dib(110, 30, kWhite);
    w->PaintInRegion(dib.dc(), nullptr);
    ASSERT_EQ(bg->draws.size(), 1u);
    EXPECT_EQ(bg->draws[0].state, 0u);
    ASSERT_EQ(pos->draws.size(), 1u);
    const RECT want = {2, 6, 27, 14};  // 100 inner wide, a quarter; (20 - 8) / 2 off top and bottom
    EXPECT_TRUE(::EqualRect(&pos->draws[0].rc, &want));
    EXPECT_EQ(CountColour(dib, RECT{0, 0, 110, 30}, kBarColour), 0);
    EXPECT_EQ(dib.At(10, 10), eh::RecSkin::ColourOf(0));
}

// ---- hr ----------------------------------------------------------------------------------------

TEST_F(Leaf, LineFromTopLeftToBottomRightInCrbg) {
    auto w = LoadElement<CBkLine>("<hr pos=\"10,55,-10,55\" crbg=\"CCCCCC\"/>");
    host.Add(w.get());
    const RECT want = {10, 55, 310, 55};
    EXPECT_TRUE(::EqualRect(&w->GetRect(), &want));
    ts::Dib dib(320, 200, kWhite);
    host.PaintAll(dib.dc());
    EXPECT_EQ(CountColour(dib, RECT{0, 0, 320, 200}, RGB(0xCC, 0xCC, 0xCC)), 300);
    EXPECT_EQ(CountColour(dib, RECT{10, 55, 310, 56}, RGB(0xCC, 0xCC, 0xCC)), 300);

    auto vertical = LoadElement<CBkLine>("<hr pos=\"300,10,300,-2\" crbg=\"0000FF\" size=\"3\"/>");
    host.Add(vertical.get());
    ts::Dib v(320, 200, kWhite);
    vertical->PaintInRegion(v.dc(), nullptr);
    EXPECT_EQ(v.At(300, 100), RGB(0, 0, 0xFF));
    EXPECT_EQ(v.At(299, 100), RGB(0, 0, 0xFF));  // three wide
    EXPECT_EQ(v.At(301, 100), RGB(0, 0, 0xFF));
    EXPECT_EQ(v.At(303, 100), kWhite);

    const struct {
        const char* style;
        HRESULT result;
        int pen;
    } styles[] = {{"dash", S_FALSE, PS_DASH},   {"dot", S_FALSE, PS_DOT},         {"dashdot", S_FALSE, PS_DASHDOT},
                  {"dashdotdot", S_FALSE, PS_DASHDOTDOT}, {"Dot", E_FAIL, PS_DASHDOTDOT}, {"wavy", E_FAIL, PS_DASHDOTDOT},
                  {"solid", S_FALSE, PS_SOLID}};
    for (const auto& s : styles) {
        EXPECT_EQ(w->SetAttribute("style", s.style, FALSE), s.result) << s.style;
        EXPECT_EQ(w->GetPenStyle(), s.pen) << s.style;  // an unknown one keeps the last
    }
}

// ---- icon --------------------------------------------------------------------------------------

TEST_F(Leaf, OemIconDrawsTheSystemIconAtItsSizeAndIsNeverDestroyed) {
    HICON system = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32516));
    ASSERT_NE(system, nullptr);
    {
        auto w = LoadElement<CBkIconWnd>("<icon oem=\"1\" src=\"32516\" size=\"32\"/>");
        EXPECT_EQ(w->GetRect().right, 32);
        EXPECT_EQ(w->GetRect().bottom, 32);
        EXPECT_EQ(w->GetIcon(), system);  // the shared copy
        w->SetRect(RECT{4, 4, 36, 36});
        ts::Dib got(40, 40, kWhite), want(40, 40, kWhite);
        w->PaintInRegion(got.dc(), nullptr);
        ::DrawIconEx(want.dc(), 4, 4, system, 32, 32, 0, nullptr, DI_NORMAL);
        EXPECT_GT(want.CountOther(RECT{4, 4, 36, 36}, kWhite), 100);
        EXPECT_TRUE(SamePixels(got, want, RECT{0, 0, 40, 40}));

        // A changed src reloads at the next paint (the old shared icon is left alone).
        w->SetAttribute("src", "32515", FALSE);
        w->PaintInRegion(got.dc(), nullptr);
        EXPECT_EQ(w->GetIcon(), ::LoadIconW(nullptr, MAKEINTRESOURCEW(32515)));
    }
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(system, &info));  // still alive after the element went
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    EXPECT_TRUE(::DrawIconEx(::GetDC(host.view()), 0, 0, system, 32, 32, 0, nullptr, DI_NORMAL));
}

// An icon of the resource module is the element's own: destroyed on reload and with the element.
TEST_F(Leaf, ResourceIconIsOwnedAndDestroyed) {
    // user32 carries the system icons as resources: a resource module that every process has.
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    HMODULE before = BkResourceLoader::Instance().m_resourceModule;
    BkResourceLoader::Instance().m_resourceModule = user32;
    HICON first = nullptr, second = nullptr;
    {
        auto w = LoadElement<CBkIconWnd>("<icon src=\"32516\" size=\"24\"/>");
        first = w->GetIcon();
        ASSERT_NE(first, nullptr);
        EXPECT_NE(first, ::LoadIconW(nullptr, MAKEINTRESOURCEW(32516)));  // a copy of its own
        ICONINFO info = {};
        ASSERT_TRUE(::GetIconInfo(first, &info));
        BITMAP bm = {};
        ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, 24);  // loaded at "size"
        if (info.hbmMask) ::DeleteObject(info.hbmMask);
        if (info.hbmColor) ::DeleteObject(info.hbmColor);

        w->SetAttribute("src", "32515", FALSE);
        w->SetRect(RECT{0, 0, 24, 24});
        ts::Dib dib(24, 24, kWhite);
        w->PaintInRegion(dib.dc(), nullptr);
        second = w->GetIcon();
        ASSERT_NE(second, nullptr);
        EXPECT_GT(dib.CountOther(RECT{0, 0, 24, 24}, kWhite), 50);
        EXPECT_FALSE(::GetIconInfo(first, &info));  // the old one went with the reload
    }
    ICONINFO info = {};
    EXPECT_FALSE(::GetIconInfo(second, &info));  // and the last with the element
    BkResourceLoader::Instance().m_resourceModule = before;
}

TEST_F(Leaf, AnIconThatDoesNotLoadDrawsNothing) {
    for (const char* xml : {"<icon src=\"4711\" size=\"20\"/>", "<icon oem=\"1\" src=\"4711\"/>", "<icon/>"}) {
        auto w = LoadElement<CBkIconWnd>(xml);
        EXPECT_EQ(w->GetIcon(), nullptr) << xml;
        w->SetRect(RECT{0, 0, 20, 20});
        ts::Dib dib(20, 20, kWhite);
        w->PaintInRegion(dib.dc(), nullptr);
        EXPECT_EQ(dib.CountOther(RECT{0, 0, 20, 20}, kWhite), 0) << xml;
    }
    auto sized = LoadElement<CBkIconWnd>("<icon/>");
    EXPECT_EQ(sized->GetRect().right, 16);  // the default size
}

// ---- memimage ----------------------------------------------------------------------------------

TEST(LeafMemImage, PointerTextAtFullWidth) {
    const struct {
        const char* text;
        unsigned long long value;
    } cases[] = {
        {"0", 0},
        {"", 0},
        {"2147483647", 0x7FFFFFFFull},
        {"2147483649", 0x80000001ull},  // beyond atoi
        {"4294967295", 0xFFFFFFFFull},
#if defined(_WIN64)
        {"4294967297", 0x100000001ull},  // beyond 32 bits
        {"18446744073709551615", 0xFFFFFFFFFFFFFFFFull},
#endif
    };
    for (const auto& c : cases) {
        CBkMemoryImage w;
        EXPECT_EQ(w.SetAttribute("mempointer", c.text, FALSE), S_FALSE) << c.text;
        EXPECT_EQ((unsigned long long)(UINT_PTR)w.GetImage(), c.value) << c.text;
    }
    // The address formatted as the program formats it comes back whole.
    CBkMemoryImage w;
    void* address = reinterpret_cast<void*>(~(UINT_PTR)0 - 0x1234);
    char text[32];
    _ui64toa((unsigned long long)(UINT_PTR)address, text, 10);
    w.SetAttribute("mempointer", text, FALSE);
    EXPECT_EQ((void*)w.GetImage(), address);
}

TEST_F(Leaf, MemImageStretchesTheImageOverTheRect) {
    BkPngPool::Instance();  // GDI+ started, as the program has it
    Gdiplus::Bitmap* image = new Gdiplus::Bitmap(4, 4, PixelFormat32bppARGB);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) image->SetPixel(x, y, Gdiplus::Color(255, 0x20, 0x40, 0x80));
    char text[32];
    _ui64toa((unsigned long long)(UINT_PTR)(Gdiplus::Image*)image, text, 10);
    auto w = LoadElement<CBkMemoryImage>(std::string("<memimage pos=\"0,0,20,20\" mempointer=\"") + text +
                                         "\">no text</memimage>");
    w->SetRect(RECT{10, 10, 30, 30});
    ts::Dib dib(40, 40, kWhite);
    w->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(dib.At(12, 12), RGB(0x20, 0x40, 0x80));
    EXPECT_EQ(dib.At(20, 20), RGB(0x20, 0x40, 0x80));
    EXPECT_EQ(dib.At(5, 5), kWhite);
    EXPECT_EQ(dib.At(35, 35), kWhite);

    w->SetAttribute("mempointer", "0", FALSE);  // none: nothing at all
    ts::Dib blank(40, 40, kWhite);
    w->PaintInRegion(blank.dc(), nullptr);
    EXPECT_EQ(blank.CountOther(RECT{0, 0, 40, 40}, kWhite), 0);
    delete image;
}

// ---- realwnd -----------------------------------------------------------------------------------

TEST_F(Leaf, RealWindowFollowsTheElementAndReportsEachMove) {
    HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, host.view(), (HMENU)(UINT_PTR)2010,
                                   nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    auto w = LoadElement<CBkRealWnd>("<realwnd id=\"2010\" pos=\"0,6,-0,-0\"/>");
    EXPECT_FALSE(w->RedrawsOnStateChange());
    host.Add(w.get(), false);
    EXPECT_EQ(w->GetRealWindow(), child);

    host.Place(w.get(), 10, 20, 200, 100);
    ASSERT_EQ(host.moved.size(), 1u);
    const eh::Moved& m = host.moved[0];
    EXPECT_EQ(m.hwndFrom, host.view());
    EXPECT_EQ(m.idFrom, (UINT_PTR)kBkViewCtrlId);
    EXPECT_EQ(m.wParam, (WPARAM)kBkViewCtrlId);
    EXPECT_EQ(m.item, 2010u);
    const RECT want = {10, 26, 210, 120};  // "0,6,-0,-0" in the box offered at (10, 20)
    EXPECT_TRUE(::EqualRect(&m.rc, &want));
    RECT placed;
    ::GetWindowRect(child, &placed);
    ::MapWindowPoints(nullptr, host.view(), (POINT*)&placed, 2);
    EXPECT_TRUE(::EqualRect(&placed, &want));
    EXPECT_FALSE(::IsWindowVisible(child));  // moving does not show a hidden window

    host.Place(w.get(), 10, 20, 200, 100);  // the same layout: nothing
    EXPECT_EQ(host.moved.size(), 1u);
    host.Place(w.get(), 10, 20, 220, 100);
    EXPECT_EQ(host.moved.size(), 2u);

    w->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    EXPECT_TRUE(::IsWindowVisible(child));
    host.Place(w.get(), 0, 0, 220, 100);  // a visible child is moved and shown again
    EXPECT_TRUE(::IsWindowVisible(child));
    EXPECT_EQ(host.moved.size(), 3u);
    w->SendToSelf(WM_SHOWWINDOW, FALSE, 0);
    EXPECT_FALSE(::IsWindowVisible(child));
    EXPECT_TRUE(w->GetState() & kBkStateHidden);

    eh::TestPanel panel;  // under a hidden panel, showing the element leaves the window hidden
    panel.ModifyState(kBkStateHidden, 0);
    w->SetParent(panel.GetHandle());
    w->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    EXPECT_FALSE(w->GetState() & kBkStateHidden);
    EXPECT_FALSE(::IsWindowVisible(child));
    w->SetParent(0);
    w->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    EXPECT_TRUE(::IsWindowVisible(child));

    ts::Dib dib(40, 40, kWhite);  // paints nothing
    w->PaintInRegion(dib.dc(), nullptr);
    EXPECT_TRUE(w->IsMsgHandled());
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 40, 40}, kWhite), 0);

    w->SendToSelf(WM_DESTROY, 0, 0);  // hidden, not destroyed
    EXPECT_TRUE(::IsWindow(child));
    EXPECT_FALSE(::IsWindowVisible(child));
    ::DestroyWindow(child);
}

TEST_F(Leaf, RealWindowWithoutItsWindowStillLaysOut) {
    auto w = LoadElement<CBkRealWnd>("<realwnd id=\"2011\" pos=\"0,0,-0,-0\"/>");
    host.Add(w.get(), false);
    EXPECT_EQ(w->GetRealWindow(), nullptr);
    host.Place(w.get(), 0, 0, 50, 50);
    EXPECT_EQ(w->GetRect().right, 50);
    EXPECT_EQ(host.moved.size(), 1u);  // the move is reported all the same
    w->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    w->SendToSelf(WM_DESTROY, 0, 0);
}

// ---- imglisth ----------------------------------------------------------------------------------

TEST_F(Leaf, ImageListDrawsItsEntriesLeftToRight) {
    eh::RecSkin* a = eh::RecSkin::Install("a", SIZE{10, 8});
    eh::RecSkin* b = eh::RecSkin::Install("b", SIZE{6, 8});
    eh::RecSkin::Install("single", SIZE{40, 12});
    auto w = LoadElement<CBkImageListHWnd>(
        "<imglisth skin=\"single\" imagecount=\"3\" skinlist=\"skin0=a,skin2=b\" sublist=\"sub0=4,sub2=7\"/>");
    EXPECT_EQ(w->GetRect().right, 40);  // measured by the single skin
    EXPECT_EQ(w->GetRect().bottom, 12);
    w->SetRect(RECT{5, 2, 45, 14});
    ts::Dib dib(60, 20, kWhite);
    w->PaintInRegion(dib.dc(), nullptr);
    ASSERT_EQ(a->draws.size(), 1u);
    ASSERT_EQ(b->draws.size(), 1u);
    EXPECT_EQ(a->draws[0].rc.left, 5);
    EXPECT_EQ(a->draws[0].state, 4u);
    EXPECT_EQ(b->draws[0].rc.left, 15);  // right after a: index 1 takes no room
    EXPECT_EQ(b->draws[0].state, 7u);
    EXPECT_EQ(dib.At(5, 2), eh::RecSkin::ColourOf(4));
}

TEST_F(Leaf, ImageListListsParseAndWinOverTheReset) {
    eh::RecSkin* a = eh::RecSkin::Install("a", SIZE{10, 8});
    const struct {
        const char* attrs;
        const char* skins;  // per index 0..3: 'a' or '-'
        int subs[4];
    } cases[] = {
        {"imagecount=\"4\"", "----", {-1, -1, -1, -1}},
        {"imagecount=\"4\" skinlist=\",,skin1=a,,noequals,skin3=nosuch,\"", "-a--", {-1, -1, -1, -1}},
        {"imagecount=\"4\" skinlist=\" skin0=a\"", "----", {-1, -1, -1, -1}},  // keys are not trimmed
        {"imagecount=\"4\" skinlist=\"skin0=a=b\"", "----", {-1, -1, -1, -1}},  // the name "a=b"
        {"imagecount=\"4\" sublist=\"sub1=3,sub2=x,sub3=-2\"", "----", {-1, 3, 0, -2}},
        // The list before the count still wins: the lists are applied again after the reset.
        {"skinlist=\"skin0=a\" sublist=\"sub0=9\" imagecount=\"2\"", "a---", {9, -1, -1, -1}},
        {"imagecount=\"2\" SkinList=\"skin1=a\"", "-a--", {-1, -1, -1, -1}},  // the second walk ignores case
        {"skinlist=\"skin3=a\" imagecount=\"2\"", "---a", {-1, -1, -1, -1}},  // beyond the count: kept
    };
    for (const auto& c : cases) {
        auto w = LoadElement<CBkImageListHWnd>(std::string("<imglisth ") + c.attrs + "/>");
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(w->SkinAt(i), c.skins[i] == 'a' ? a : nullptr) << c.attrs << " #" << i;
            EXPECT_EQ(w->SubAt(i), c.subs[i]) << c.attrs << " #" << i;
        }
    }
    CBkImageListHWnd w;
    EXPECT_EQ(w.SetAttribute("SkinList", "skin0=a", FALSE), E_FAIL);  // SetAttribute is exact
    EXPECT_EQ(w.SetAttribute("skinlist", "", FALSE), S_FALSE);
    EXPECT_EQ(w.SkinAt(0), nullptr);
}
