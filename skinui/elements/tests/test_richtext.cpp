// Rich text: runs in their fonts and colours, line breaks, wrapping between characters, links
// placed whole at the layout paint and kept there, their hover redraws and their click reports.
// Every expected position comes from the same fonts' own metrics.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bkres.h"
#include "bkrichtext.h"
#include "bkstyle.h"
#include "reflecthost.h"
#include "uikit.h"

namespace {

SIZE Extent(HFONT font, const std::wstring& text) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE s = {0, 0};
    ::GetTextExtentPoint32W(dc, text.c_str(), (int)text.size(), &s);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return s;
}

// What the element paints into a white DIB of the view's size.
struct Painted {
    explicit Painted(CBkRichText& r, int w = 400, int h = 200) : dib(w, h, RGB(0xFF, 0xFF, 0xFF)) {
        ::SetBkMode(dib.dc(), TRANSPARENT);
        ::SetTextColor(dib.dc(), RGB(0, 0, 0));
        r.PaintInRegion(dib.dc(), nullptr);
    }
    ts::Dib dib;
};

// A reference drawing: each run at its pen in its font and colour.
struct TextRun {
    int x, y;
    HFONT font;
    COLORREF colour;
    std::wstring text;
};
void DrawRuns(ts::Dib& dib, const std::vector<TextRun>& runs) {
    ::SetBkMode(dib.dc(), TRANSPARENT);
    for (const TextRun& r : runs) {
        HGDIOBJ old = ::SelectObject(dib.dc(), r.font);
        ::SetTextColor(dib.dc(), r.colour);
        ::TextOutW(dib.dc(), r.x, r.y, r.text.c_str(), (int)r.text.size());
        ::SelectObject(dib.dc(), old);
    }
}

int Differences(const ts::Dib& a, const ts::Dib& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.At(x, y) != b.At(x, y)) ++n;
    return n;
}

std::unique_ptr<CBkRichText> Make(const std::string& xml, rh::Host* host = nullptr) {
    std::unique_ptr<CBkRichText> r(rh::Load<CBkRichText>(xml));
    if (r && host) host->Add(r.get());
    return r;
}

TEST(RichText, NestedFontsColourAndBreakDrawAsTheRunsWouldAlone) {
    rh::Host host(400, 200);
    auto r = Make("<richtext pos=\"0,0,400,200\">Ab<b>Cd<i>Ef</i>Gh</b><c color=\"FF0000\">Ij</c>Kl<br/>Mn</richtext>",
                  &host);
    ASSERT_TRUE(r);
    HFONT plain = BkFontPool::GetFont(0), bold = BkFontPool::GetFont(4), boldItalic = BkFontPool::GetFont(5);
    int x = 0;
    std::vector<TextRun> runs;
    auto add = [&](HFONT f, COLORREF c, const wchar_t* t) {
        runs.push_back({x, 0, f, c, t});
        x += Extent(f, t).cx;  // default style: no spacing
    };
    add(plain, 0, L"Ab");
    add(bold, 0, L"Cd");
    add(boldItalic, 0, L"Ef");
    add(bold, 0, L"Gh");
    add(plain, RGB(0xFF, 0, 0), L"Ij");
    add(plain, 0, L"Kl");
    runs.push_back({0, 20, plain, 0, L"Mn"});  // the break: content left, one line spacing (20) lower

    Painted got(*r);
    ts::Dib want(400, 200, RGB(0xFF, 0xFF, 0xFF));
    DrawRuns(want, runs);
    EXPECT_EQ(0, Differences(got.dib, want)) << "each run in its font, colour and place";
    EXPECT_TRUE(r->IsLaidOut());
    EXPECT_GT(got.dib.CountOther(RECT{0, 0, 400, 20}, RGB(0xFF, 0xFF, 0xFF)), 0);
}

TEST(RichText, ALongRunBreaksBetweenCharactersAndALinkMovesWholeToTheNextLine) {
    HFONT plain = BkFontPool::GetFont(0);
    const std::wstring word = L"WWWWWWWWWWWWWWWWWWWW";
    const int width = Extent(plain, word).cx / 2;  // the run needs more than one line
    rh::Host host(400, 200);
    const std::string xml = "<richtext pos=\"0,0," + std::to_string(width) + ",200\">WWWWWWWWWWWWWWWWWWWW</richtext>";
    auto r = Make(xml, &host);
    ASSERT_TRUE(r);
    // Reference: the longest heads that fit, line after line.
    std::vector<TextRun> runs;
    std::wstring rest = word;
    int y = 0, lines = 0;
    while (!rest.empty()) {
        size_t n = rest.size();
        while (n > 1 && Extent(plain, rest.substr(0, n)).cx > width) --n;
        runs.push_back({0, y, plain, 0, rest.substr(0, n)});
        rest.erase(0, n);
        y += 20;
        ++lines;
    }
    ASSERT_GE(lines, 2);
    Painted got(*r);
    ts::Dib want(400, 200, RGB(0xFF, 0xFF, 0xFF));
    DrawRuns(want, runs);
    EXPECT_EQ(0, Differences(got.dib, want));

    // A link that does not fit after the text goes whole to the next line's start.
    const std::wstring head = L"Hello", link = L"click here";
    const int w2 = Extent(plain, head).cx + Extent(plain, link).cx / 2;
    auto r2 = Make("<richtext pos=\"0,0," + std::to_string(w2) + ",200\">Hello<a id=\"7\">click here</a>tail</richtext>",
                   &host);
    ASSERT_TRUE(r2);
    Painted p2(*r2);
    ASSERT_EQ(1u, r2->GetLinks().size());
    const CBkRichText::Link& l = r2->GetLinks()[0];
    EXPECT_EQ(std::wstring(L"click here"), l.text.str());
    EXPECT_EQ(7, l.id);
    EXPECT_EQ(0, l.rect.left);
    EXPECT_EQ(20, l.rect.top);
    EXPECT_EQ(Extent(plain, link).cx, l.rect.right - l.rect.left);
}

TEST(RichText, LaterPaintsKeepLinksInPlaceAndTextAfterThemClear) {
    // The link style's font differs from the text's, so a pen moved by the text font would put
    // "tail" somewhere else on the second paint.
    BkStylePool::Instance().Reset();
    BkStyle& ls = BkStylePool::Instance().Entry("lnk");
    ls.m_ftText = BkFontPool::GetFont(0x0404);  // bold, larger
    ls.m_crText = RGB(0, 0, 0xFF);
    rh::Host host(400, 200);
    auto r = Make("<richtext pos=\"0,0,400,200\" linkclass=\"lnk\">ab<a id=\"3\">link</a>tail</richtext>", &host);
    ASSERT_TRUE(r);
    Painted first(*r);
    ASSERT_EQ(1u, r->GetLinks().size());
    const RECT at = r->GetLinks()[0].rect;
    Painted second(*r);
    EXPECT_TRUE(::EqualRect(&at, &r->GetLinks()[0].rect));
    EXPECT_EQ(0, Differences(first.dib, second.dib)) << "a later paint draws what the layout paint drew";

    HFONT plain = BkFontPool::GetFont(0);
    std::vector<TextRun> runs = {
        {0, 0, plain, 0, L"ab"},
        {(int)at.right, 0, plain, 0, L"tail"},
        {(int)at.left, 0, ls.m_ftText, RGB(0, 0, 0xFF), L"link"},
    };
    ts::Dib want(400, 200, RGB(0xFF, 0xFF, 0xFF));
    DrawRuns(want, runs);
    EXPECT_EQ(0, Differences(second.dib, want));
    EXPECT_EQ(Extent(plain, L"ab").cx, at.left);
    EXPECT_EQ(Extent(ls.m_ftText, L"link").cx, at.right - at.left) << "measured in the link style's font";
    BkStylePool::Instance().Reset();
}

TEST(RichText, HoverRedrawsOldAndNewLinkOnceAndAClickReportsTheLinksId) {
    rh::Host host(400, 200);
    auto r = Make("<richtext pos=\"0,0,400,200\"><a id=\"11\">first</a> <a id=\"22\">second</a></richtext>", &host);
    ASSERT_TRUE(r);
    Painted laidOut(*r);
    ASSERT_EQ(2u, r->GetLinks().size());
    const RECT a = r->GetLinks()[0].rect, b = r->GetLinks()[1].rect;
    auto mid = [](const RECT& rc) { return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}; };

    host.redraws.clear();
    ts::MoveTo(host.view(), mid(a));
    EXPECT_EQ(0, r->GetHoverLink());
    ASSERT_EQ(1u, host.redraws.size());
    EXPECT_TRUE(::EqualRect(&a, &host.redraws[0].rc));
    ts::MoveTo(host.view(), POINT{mid(a).x + 1, mid(a).y});
    EXPECT_EQ(1u, host.redraws.size()) << "moving within the link redraws nothing";

    host.redraws.clear();
    ts::MoveTo(host.view(), mid(b));
    EXPECT_EQ(1, r->GetHoverLink());
    ASSERT_EQ(2u, host.redraws.size()) << "the old and the new link, once each";
    EXPECT_TRUE(::EqualRect(&a, &host.redraws[0].rc));
    EXPECT_TRUE(::EqualRect(&b, &host.redraws[1].rc));

    ts::ClickAt(host.view(), mid(b));
    ASSERT_EQ(1u, host.clicks.size());
    EXPECT_EQ(22u, host.clicks[0].item);
    EXPECT_EQ(std::string("richtext"), host.clicks[0].tag);
    EXPECT_EQ(host.view(), host.clicks[0].hwndFrom);
    EXPECT_EQ(1000u, host.clicks[0].idFrom);

    // Pressed on one link, released on the other: no click.
    host.clicks.clear();
    ts::MoveTo(host.view(), mid(a));
    ::SendMessageW(host.view(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(mid(a).x, mid(a).y));
    ts::MoveTo(host.view(), mid(b));
    ::SendMessageW(host.view(), WM_LBUTTONUP, 0, MAKELPARAM(mid(b).x, mid(b).y));
    EXPECT_TRUE(host.clicks.empty());

    // Leaving the element redraws the hovered link.
    host.redraws.clear();
    r->SendToSelf(WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(-1, r->GetHoverLink());
    ASSERT_EQ(1u, host.redraws.size());
    EXPECT_TRUE(::EqualRect(&b, &host.redraws[0].rc));
}

TEST(RichText, AResizeLaysTheLinksOutAgain) {
    rh::Host host(400, 200);
    auto r = Make("<richtext pos=\"0,0,-0,-0\">some text <a id=\"1\">link</a></richtext>", &host);
    ASSERT_TRUE(r);
    Painted p(*r);
    ASSERT_EQ(1u, r->GetLinks().size());
    const LONG firstTop = r->GetLinks()[0].rect.top;
    EXPECT_EQ(0, firstTop);
    // Narrower than "some text " plus the link: the link moves down at the next paint.
    HFONT plain = BkFontPool::GetFont(0);
    WINDOWPOS pos = {};
    pos.cx = Extent(plain, L"some text ").cx + Extent(plain, L"link").cx / 2;
    pos.cy = 200;
    r->SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&pos);
    EXPECT_FALSE(r->IsLaidOut());
    EXPECT_TRUE(r->GetLinks().empty());
    Painted q(*r);
    ASSERT_EQ(1u, r->GetLinks().size());
    EXPECT_EQ(20, r->GetLinks()[0].rect.top);
}

TEST(RichText, LinksOfADisabledElementDrawInTheDisabledColour) {
    BkStylePool::Instance().Reset();
    BkStyle& ls = BkStylePool::Instance().Entry("lnk");
    ls.m_crText = RGB(0, 0, 0xFF);
    ls.m_crDisabledText = RGB(0, 0xC0, 0);
    rh::Host host(400, 200);
    std::unique_ptr<CBkRichText> parent(rh::Load<CBkRichText>("<richtext pos=\"0,0,400,200\"/>"));
    auto r = Make("<richtext pos=\"0,0,400,200\" linkclass=\"lnk\"><a>go</a></richtext>");
    ASSERT_TRUE(parent && r);
    r->SetParent(parent->GetHandle());
    host.Add(r.get());
    auto count = [](const ts::Dib& d, COLORREF c) {
        int n = 0;
        for (int y = 0; y < d.height(); ++y)
            for (int x = 0; x < d.width(); ++x)
                if (d.At(x, y) == c) ++n;
        return n;
    };
    {
        Painted p(*r);
        EXPECT_GT(count(p.dib, RGB(0, 0, 0xFF)), 0);
        EXPECT_EQ(0, count(p.dib, RGB(0, 0xC0, 0)));
        EXPECT_EQ(0, r->GetLinks()[0].id) << "a link without an id reports 0";
    }
    parent->ModifyState(kBkStateDisabled, 0);
    Painted p(*r);
    EXPECT_GT(count(p.dib, RGB(0, 0xC0, 0)), 0) << "the ancestor's disabled bit counts";
    EXPECT_EQ(0, count(p.dib, RGB(0, 0, 0xFF)));
    BkStylePool::Instance().Reset();
}

TEST(RichText, AColumnNarrowerThanOneCharacterStillEnds) {
    rh::Host host(400, 200);
    auto r = Make("<richtext pos=\"0,0,1,400\">abc<a>x</a>de</richtext>", &host);
    ASSERT_TRUE(r);
    Painted p(*r, 400, 400);  // must return: one character per line
    ASSERT_EQ(1u, r->GetLinks().size());
    EXPECT_EQ(60, r->GetLinks()[0].rect.top) << "three lines of one character above the link";
}

TEST(RichText, AttributesAndCursor) {
    CBkRichText r;
    EXPECT_EQ(S_FALSE, r.SetAttribute("defaultfont", "0104", TRUE));
    EXPECT_EQ(0x0104, r.GetDefaultFont());
    EXPECT_EQ(E_FAIL, r.SetAttribute("linkfont", "1", TRUE));
    EXPECT_EQ(0x0104, r.GetDefaultFont());
    EXPECT_EQ(S_FALSE, r.SetAttribute("id", "5", TRUE)) << "the base names come first";
    std::unique_ptr<CBkRichText> made(CBkRichText::CreateIfTag("richtext"));
    EXPECT_TRUE(made);
    std::unique_ptr<CBkRichText> other(CBkRichText::CreateIfTag("RichText"));
    EXPECT_EQ(nullptr, other) << "the tag compares exactly";
}

}  // namespace
