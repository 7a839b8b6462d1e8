// Each skin class drawn into a 32-bpp DIB, read back against the colour-coded test images.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include <tinyxml.h>

#include "bkskin.h"
#include "fixtures.h"
#include "uikit.h"

namespace {

const COLORREF kGrey = RGB(0x40, 0x40, 0x40);

// A skin of the tag loaded from one XML element, as the skin table does.
template <class T>
std::unique_ptr<T> LoadSkin(const std::string& xml) {
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    TiXmlElement* e = doc.FirstChildElement();
    if (!e) return nullptr;
    std::unique_ptr<CBkSkinBase> skin(CreateSkinByClass(e->Value()));
    if (!skin) return nullptr;
    skin->Load(e);
    T* typed = dynamic_cast<T*>(skin.get());
    if (!typed) return nullptr;
    skin.release();
    return std::unique_ptr<T>(typed);
}

TEST(SkinFactory, KnowsTheSixTagsExactly) {
    for (const char* tag : {"imglst", "imgframe", "button", "imghorzex", "gradation", "png"}) {
        std::unique_ptr<CBkSkinBase> s(CreateSkinByClass(tag));
        ASSERT_NE(s, nullptr) << tag;
        EXPECT_STREQ(s->TagName(), tag);
        EXPECT_TRUE(s->IsTag(tag));
    }
    for (const char* tag : {"Button", "imglist", "", "style"}) EXPECT_EQ(CreateSkinByClass(tag), nullptr) << tag;
    EXPECT_EQ(CreateSkinByClass(nullptr), nullptr);
}

TEST(SkinFactory, SetAttributeAnswersPerClass) {
    std::unique_ptr<CBkSkinBase> frame(CreateSkinByClass("imgframe"));
    EXPECT_EQ(frame->SetAttribute("mode", "mask", TRUE), S_OK);
    EXPECT_EQ(frame->SetAttribute("mode", "Mask", TRUE), E_FAIL);
    EXPECT_EQ(frame->SetAttribute("part", "center", TRUE), S_OK);
    EXPECT_EQ(frame->SetAttribute("part", "centre", TRUE), E_FAIL);
    EXPECT_EQ(frame->SetAttribute("right", "3", TRUE), E_FAIL);
    std::unique_ptr<CBkSkinBase> png(CreateSkinByClass("png"));
    for (const char* ignored : {"mode", "top", "left", "crbg"}) EXPECT_EQ(png->SetAttribute(ignored, "1", TRUE), E_FAIL);
    std::unique_ptr<CBkSkinBase> grad(CreateSkinByClass("gradation"));
    EXPECT_EQ(grad->SetAttribute("direction", "vert", TRUE), S_OK);
    EXPECT_EQ(grad->SetAttribute("direction", "up", TRUE), E_FAIL);

    const struct {
        const char* code;
        UINT part;
    } parts[] = {{"all", 0x2F}, {"top", 0x2B}, {"middle", 0x2A}, {"bottom", 0x2E},
                 {"left", 0x0F}, {"center", 0x07}, {"right", 0x27}};
    CBkSkinImgFrame f;
    for (const auto& p : parts) {
        f.SetAttribute("part", p.code, TRUE);
        EXPECT_EQ(f.m_uDrawPart, p.part) << p.code;
    }
}

// ---- imglst ------------------------------------------------------------------------------------

TEST(ImageListSkin, DrawsSubImageNumberStateAndSizesToOne) {
    auto skin = LoadSkin<CBkImageSkin>("<imglst name=\"s\" src=\"2003\" subwidth=\"71\"/>");
    ASSERT_NE(skin, nullptr);
    SIZE size;
    skin->GetSkinSize(size);
    EXPECT_EQ(size.cx, 71);
    EXPECT_EQ(size.cy, 3);
    EXPECT_FALSE(skin->IgnoreState());
    ts::Dib dib(100, 10, kGrey);
    skin->Draw(dib.dc(), RECT{4, 4, 90, 9}, 3);
    EXPECT_EQ(dib.At(4, 4), StripColour(213, 0));
    EXPECT_EQ(dib.At(74, 6), StripColour(283, 2));
    EXPECT_EQ(dib.At(75, 4), kGrey);

    // Without a sub-image width it draws only as a whole, never as an element background.
    auto whole = LoadSkin<CBkImageSkin>("<imglst src=\"2003\"/>");
    EXPECT_TRUE(whole->IgnoreState());
    whole->GetSkinSize(size);
    EXPECT_EQ(size.cx, 284);
    dib.Fill(kGrey);
    whole->Draw(dib.dc(), RECT{0, 0, 100, 10}, 0);
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 100, 10}, kGrey), 0);
    whole->Draw(dib.dc(), RECT{0, 0, 100, 10}, (DWORD)-1);
    EXPECT_EQ(dib.At(50, 1), StripColour(50, 1));

    auto missing = LoadSkin<CBkImageSkin>("<imglst src=\"2999\" subwidth=\"5\"/>");
    dib.Fill(kGrey);
    missing->Draw(dib.dc(), RECT{0, 0, 100, 10}, 0);
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 100, 10}, kGrey), 0);
}

TEST(StripSkins, AStateBeyondTheLastSubImageDrawsTheLastOneAndNothingOutsideTheBitmap) {
    // A disabled element asks for sub-image 16 (state 0x10); the strips have fewer pictures.
    struct Case {
        const char* xml;
        DWORD state;
        int sx, cx;  // the bitmap columns that must land at the rect's left
        bool png;
    } const cases[] = {
        {"<imglst src=\"2003\" subwidth=\"71\"/>", kBkStateDisabled, 213, 71, false},
        {"<imglst src=\"2003\" subwidth=\"71\"/>", 4, 213, 71, false},
        {"<imglst src=\"2003\" subwidth=\"71\"/>", 3, 213, 71, false},
        {"<imglst src=\"2003\" subwidth=\"100\"/>", kBkStateDisabled, 100, 100, false},  // two whole ones
        {"<imglst src=\"2003\" subwidth=\"300\"/>", 1, 0, 284, false},  // wider than the bitmap: cut at its edge
        {"<png src=\"3001\" subwidth=\"43\"/>", kBkStateDisabled, 129, 43, true},
        {"<png src=\"3001\" subwidth=\"43\"/>", 4, 129, 43, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.xml << " state " << c.state);
        std::unique_ptr<CBkSkinBase> skin;
        if (c.png)
            skin = LoadSkin<CBkPngSkin>(c.xml);
        else
            skin = LoadSkin<CBkImageSkin>(c.xml);
        ASSERT_NE(skin, nullptr);
        const int height = c.png ? 6 : 3;
        ts::Dib dib(400, 12, kGrey);
        skin->Draw(dib.dc(), RECT{2, 2, 398, 11}, c.state);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < c.cx; ++x) {
                const COLORREF want = c.png ? PngColour(c.sx + x, y) : StripColour(c.sx + x, y);
                ASSERT_EQ(dib.At(2 + x, 2 + y), want) << x << "," << y;
            }
        EXPECT_EQ(dib.CountOther(RECT{2 + c.cx, 0, 400, 12}, kGrey), 0) << "one sub-image wide";
        EXPECT_EQ(dib.CountOther(RECT{0, 2 + height, 400, 12}, kGrey), 0);
    }
}

// ---- imgframe ----------------------------------------------------------------------------------

// Where every pixel of a 7 x 7 frame (left 3, top 3) lands over the rect with all parts.
TEST(FrameSkin, CornersUnscaledEdgesStretchedCentreFilled) {
    auto skin = LoadSkin<CBkSkinImgFrame>("<imgframe src=\"2001\" left=\"3\" top=\"3\" crbg=\"00FF00\"/>");
    ASSERT_NE(skin, nullptr);
    ts::Dib dib(50, 50, kGrey);
    const RECT rc = {10, 10, 40, 35};
    skin->Draw(dib.dc(), rc, 0);
    const int inR = 37, inB = 32;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(dib.At(10 + x, 10 + y), FrameColour(x, y)) << "top-left " << x << "," << y;
            EXPECT_EQ(dib.At(inR + x, 10 + y), FrameColour(4 + x, y)) << "top-right " << x << "," << y;
            EXPECT_EQ(dib.At(10 + x, inB + y), FrameColour(x, 4 + y)) << "bottom-left " << x << "," << y;
            EXPECT_EQ(dib.At(inR + x, inB + y), FrameColour(4 + x, 4 + y)) << "bottom-right " << x << "," << y;
        }
    for (int x = 13; x < inR; ++x)
        for (int y = 0; y < 3; ++y) {
            ASSERT_EQ(dib.At(x, 10 + y), FrameColour(3, y)) << "top edge " << x;
            ASSERT_EQ(dib.At(x, inB + y), FrameColour(3, 4 + y)) << "bottom edge " << x;
        }
    for (int y = 13; y < inB; ++y)
        for (int x = 0; x < 3; ++x) {
            ASSERT_EQ(dib.At(10 + x, y), FrameColour(x, 3)) << "left edge " << y;
            ASSERT_EQ(dib.At(inR + x, y), FrameColour(4 + x, 3)) << "right edge " << y;
        }
    EXPECT_EQ(dib.CountOther(RECT{13, 13, inR, inB}, RGB(0, 255, 0)), 0);
    // Nothing outside the rect.
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 50, 10}, kGrey), 0);
    EXPECT_EQ(dib.CountOther(RECT{0, 35, 50, 50}, kGrey), 0);
    EXPECT_EQ(dib.CountOther(RECT{40, 0, 50, 50}, kGrey), 0);
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 10, 50}, kGrey), 0);
}

TEST(FrameSkin, CentrePartDrawsTopAndBottomEdgesOnly) {
    auto skin = LoadSkin<CBkSkinImgFrame>(
        "<imgframe src=\"2001\" left=\"3\" top=\"3\" crbg=\"FFFFFF\" part=\"center\"/>");
    ts::Dib dib(50, 50, kGrey);
    skin->Draw(dib.dc(), RECT{10, 10, 40, 35}, 0);
    EXPECT_EQ(dib.At(10, 11), FrameColour(3, 1));  // the top edge reaches the rect's sides
    EXPECT_EQ(dib.At(39, 11), FrameColour(3, 1));
    EXPECT_EQ(dib.At(10, 33), FrameColour(3, 5));
    EXPECT_EQ(dib.CountOther(RECT{10, 13, 40, 32}, RGB(255, 255, 255)), 0);  // no side edges
}

TEST(FrameSkin, TinyFrameStretchesItsCentreLines) {
    auto skin = LoadSkin<CBkSkinImgFrame>("<imgframe src=\"2004\" left=\"1\" top=\"1\"/>");
    ts::Dib dib(30, 30, kGrey);
    skin->Draw(dib.dc(), RECT{5, 5, 25, 25}, 0);
    EXPECT_EQ(dib.At(5, 5), FrameColour(0, 0));
    EXPECT_EQ(dib.At(24, 5), FrameColour(2, 0));
    EXPECT_EQ(dib.At(5, 24), FrameColour(0, 2));
    EXPECT_EQ(dib.At(24, 24), FrameColour(2, 2));
    for (int i = 6; i < 24; ++i) {
        EXPECT_EQ(dib.At(i, 5), FrameColour(1, 0));
        EXPECT_EQ(dib.At(i, 24), FrameColour(1, 2));
        EXPECT_EQ(dib.At(5, i), FrameColour(0, 1));
        EXPECT_EQ(dib.At(24, i), FrameColour(2, 1));
    }
    EXPECT_EQ(dib.At(15, 15), kGrey);  // no centre colour: the middle stays
}

TEST(FrameSkin, SlicesWiderThanTheBitmapAreSkippedNotMirrored) {
    // left 7 on a 7-pixel bitmap leaves a right slice of -1 pixels.
    auto skin = LoadSkin<CBkSkinImgFrame>("<imgframe src=\"2001\" left=\"7\" top=\"3\"/>");
    ts::Dib dib(50, 50, kGrey);
    skin->Draw(dib.dc(), RECT{10, 10, 30, 30}, 0);
    EXPECT_EQ(dib.CountOther(RECT{30, 0, 50, 50}, kGrey), 0);
    EXPECT_EQ(dib.CountOther(RECT{0, 30, 50, 50}, kGrey), 0);

    // A rect narrower than both corners leaves the edges a negative width: they are skipped, so
    // the corners stay as drawn instead of being painted over by a mirrored edge.
    auto normal = LoadSkin<CBkSkinImgFrame>("<imgframe src=\"2001\" left=\"3\" top=\"3\"/>");
    dib.Fill(kGrey);
    normal->Draw(dib.dc(), RECT{10, 10, 14, 20}, 0);
    EXPECT_EQ(dib.At(11, 10), FrameColour(4, 0));  // the top-right corner, drawn over the top-left
    EXPECT_EQ(dib.At(12, 11), FrameColour(5, 1));
    EXPECT_EQ(dib.At(10, 10), FrameColour(0, 0));
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 10, 50}, kGrey), 0);
    EXPECT_EQ(dib.CountOther(RECT{14, 0, 50, 50}, kGrey), 0);
}

TEST(FrameSkin, MaskModeLeavesTheKeyColourOut) {
    // The top-left pixel's colour is the key: the destination shows there.
    auto skin = LoadSkin<CBkSkinImgFrame>(
        "<imgframe src=\"2001\" left=\"3\" top=\"3\" mode=\"mask\" maskcolor=\"0A0A4D\"/>");
    ts::Dib dib(20, 20, kGrey);
    skin->Draw(dib.dc(), RECT{0, 0, 20, 20}, 0);
    EXPECT_EQ(dib.At(0, 0), kGrey);
    EXPECT_EQ(dib.At(1, 0), FrameColour(1, 0));
    // The alpha mode draws nothing in frames.
    auto alpha = LoadSkin<CBkSkinImgFrame>("<imgframe src=\"2001\" left=\"3\" top=\"3\" mode=\"alpha\"/>");
    dib.Fill(kGrey);
    alpha->Draw(dib.dc(), RECT{0, 0, 20, 20}, 0);
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 20, 20}, kGrey), 0);
}

// ---- imghorzex ---------------------------------------------------------------------------------

TEST(BarSkin, StateChoosesTheSubImage) {
    struct Case {
        DWORD state;
        int sub;
    } cases[] = {
        {0, 0}, {kBkStateHover, 1}, {kBkStatePushed, 2}, {kBkStatePushed | kBkStateHover, 2},
        {kBkStateDisabled, 3}, {kBkStateDisabled | kBkStatePushed | kBkStateHover, 3}, {kBkStateChecked, 0},
    };
    auto skin = LoadSkin<CBkSkinImgHorzExtend>("<imghorzex src=\"2002\" subwidth=\"9\" left=\"3\"/>");
    ASSERT_NE(skin, nullptr);
    SIZE size;
    skin->GetSkinSize(size);
    EXPECT_EQ(size.cx, 0);
    EXPECT_EQ(size.cy, 5);
    for (const Case& c : cases) {
        EXPECT_EQ(CBkSkinImgHorzExtend::SubImageOf(c.state), c.sub) << c.state;
        ts::Dib dib(80, 40, kGrey);
        const RECT rc = {5, 5, 65, 25};
        skin->Draw(dib.dc(), rc, c.state);
        const int base = 9 * c.sub;
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 3; ++x) EXPECT_EQ(dib.At(5 + x, 5 + y), BarColour(base + x, y)) << c.state;
            for (int x = 0; x < 5; ++x) EXPECT_EQ(dib.At(60 + x, 5 + y), BarColour(base + 4 + x, y)) << c.state;
            for (int x = 8; x < 60; ++x) ASSERT_EQ(dib.At(x, 5 + y), BarColour(base + 3, y)) << c.state << " " << x;
        }
        // Five pixels high, whatever the rect's height.
        EXPECT_EQ(dib.CountOther(RECT{0, 10, 80, 40}, kGrey), 0) << c.state;
    }
    EXPECT_EQ(CBkSkinImgHorzExtend::SubImageOf((DWORD)-1), -1);
}

TEST(BarSkin, ABarWithFewerThanFourSubImagesDrawsItsLastForTheStatesBeyond) {
    // 2002 is 36 pixels wide: three pieces of 12, two of 18.
    struct Case {
        int subwidth;
        DWORD state;
        int sub;  // the piece drawn
    } const cases[] = {
        {12, kBkStateDisabled, 2}, {12, kBkStatePushed, 2}, {12, kBkStateHover, 1},
        {18, kBkStateDisabled, 1}, {18, kBkStatePushed, 1}, {18, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "subwidth " << c.subwidth << " state " << c.state);
        char xml[96];
        snprintf(xml, sizeof(xml), "<imghorzex src=\"2002\" subwidth=\"%d\" left=\"3\"/>", c.subwidth);
        auto skin = LoadSkin<CBkSkinImgHorzExtend>(xml);
        ASSERT_NE(skin, nullptr);
        ts::Dib dib(80, 40, kGrey);
        skin->Draw(dib.dc(), RECT{5, 5, 65, 25}, c.state);
        const int base = c.subwidth * c.sub, cap = c.subwidth - 3 - 1;
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 3; ++x) ASSERT_EQ(dib.At(5 + x, 5 + y), BarColour(base + x, y)) << x << "," << y;
            for (int x = 8; x < 65 - cap; ++x) ASSERT_EQ(dib.At(x, 5 + y), BarColour(base + 3, y)) << x << "," << y;
            for (int x = 0; x < cap; ++x)
                ASSERT_EQ(dib.At(65 - cap + x, 5 + y), BarColour(base + 4 + x, y)) << x << "," << y;
        }
        EXPECT_EQ(dib.CountOther(RECT{0, 10, 80, 40}, kGrey), 0);
        EXPECT_EQ(dib.CountOther(RECT{65, 0, 80, 40}, kGrey), 0);
    }
}

TEST(BarSkin, NarrowRectIsWidenedToTheBitmap) {
    auto skin = LoadSkin<CBkSkinImgHorzExtend>("<imghorzex src=\"2002\" subwidth=\"9\" left=\"3\"/>");
    ts::Dib dib(80, 10, kGrey);
    skin->Draw(dib.dc(), RECT{0, 0, 20, 5}, 0);
    // Right cap at left + 36 - 5.
    EXPECT_EQ(dib.At(31, 0), BarColour(4, 0));
    EXPECT_EQ(dib.At(35, 4), BarColour(8, 4));
    EXPECT_EQ(dib.At(36, 0), kGrey);
}

// ---- button ------------------------------------------------------------------------------------

void ReferenceGradientV(HDC dc, const RECT& box, COLORREF a, COLORREF b) {
    TRIVERTEX v[2] = {{box.left, box.top, (COLOR16)(GetRValue(a) << 8), (COLOR16)(GetGValue(a) << 8),
                       (COLOR16)(GetBValue(a) << 8), 0},
                      {box.right, box.bottom, (COLOR16)(GetRValue(b) << 8), (COLOR16)(GetGValue(b) << 8),
                       (COLOR16)(GetBValue(b) << 8), 0}};
    GRADIENT_RECT r = {0, 1};
    GradientFill(dc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
}

TEST(ButtonSkin, FaceGradientByStateInsideBgAndBorder) {
    auto skin = LoadSkin<CBkSkinButton>(
        "<button src=\"1\" border=\"7D9EBC\" bg=\"FBFCFD\" bgup=\"FEFEFE\" bgdown=\"C6E2FD\" bguphover=\"FEFEFD\" "
        "bgdownhover=\"DBEDFE\" bguppush=\"C6E2FD\" bgdownpush=\"FEFEFE\"/>");
    ASSERT_NE(skin, nullptr);
    EXPECT_FALSE(skin->IgnoreState());
    const RECT rc = {3, 4, 63, 34};
    const RECT face = {5, 6, 61, 32};
    struct Case {
        DWORD state;
        COLORREF up, down;
    } cases[] = {
        {0, RGB(0xFE, 0xFE, 0xFE), RGB(0xC6, 0xE2, 0xFD)},
        {kBkStateHover, RGB(0xFE, 0xFE, 0xFD), RGB(0xDB, 0xED, 0xFE)},
        {kBkStatePushed | kBkStateHover, RGB(0xC6, 0xE2, 0xFD), RGB(0xFE, 0xFE, 0xFE)},
    };
    for (const Case& c : cases) {
        ts::Dib mine(70, 40, kGrey), ref(70, 40, kGrey);
        skin->Draw(mine.dc(), rc, c.state);
        // Wine's interpolation is not Windows': the face is compared with GradientFill's own output.
        ReferenceGradientV(ref.dc(), face, c.up, c.down);
        int differ = 0;
        for (int y = face.top; y < face.bottom; ++y)
            for (int x = face.left; x < face.right; ++x) differ += mine.At(x, y) != ref.At(x, y);
        EXPECT_EQ(differ, 0) << c.state;
        EXPECT_EQ(mine.At(3, 4), RGB(0x7D, 0x9E, 0xBC));   // border
        EXPECT_EQ(mine.At(62, 33), RGB(0x7D, 0x9E, 0xBC));
        EXPECT_EQ(mine.At(30, 4), RGB(0x7D, 0x9E, 0xBC));
        EXPECT_EQ(mine.At(4, 5), RGB(0xFB, 0xFC, 0xFD));   // bg ring between border and face
        EXPECT_EQ(mine.At(60, 32), RGB(0xFB, 0xFC, 0xFD));
        EXPECT_EQ(mine.At(63, 20), kGrey);
    }
    ts::Dib off(70, 40, kGrey);
    skin->Draw(off.dc(), rc, kBkStateDisabled | kBkStateHover);
    EXPECT_EQ(off.CountOther(RECT{4, 5, 62, 33}, RGB(0xFB, 0xFC, 0xFD)), 0);
    EXPECT_EQ(off.At(3, 4), RGB(0x7D, 0x9E, 0xBC));
}

// ---- gradation ---------------------------------------------------------------------------------

TEST(GradationSkin, GradientBoxThenTheEndColourClippedToTheRect) {
    struct Case {
        const char* xml;
        RECT box;  // the gradient's own box
        ULONG mode;
    } cases[] = {
        {"<gradation from=\"FF0000\" to=\"0000FF\" direction=\"vert\" size=\"6\"/>", {4, 4, 30, 10},
         GRADIENT_FILL_RECT_V},
        {"<gradation from=\"FF0000\" to=\"0000FF\" direction=\"vert\"/>", {4, 4, 30, 24}, GRADIENT_FILL_RECT_V},
        {"<gradation from=\"FF0000\" to=\"0000FF\" direction=\"horz\" size=\"8\"/>", {4, 4, 12, 24},
         GRADIENT_FILL_RECT_H},
        {"<gradation from=\"FF0000\" to=\"0000FF\" size=\"100\"/>", {4, 4, 104, 24}, GRADIENT_FILL_RECT_H},
    };
    const RECT rc = {4, 4, 30, 24};
    for (const Case& c : cases) {
        auto skin = LoadSkin<CBkSkinGradation>(c.xml);
        ASSERT_NE(skin, nullptr);
        ts::Dib mine(40, 30, kGrey), ref(40, 30, kGrey);
        skin->Draw(mine.dc(), rc, 0);
        // The reference: the end colour, then GradientFill of the box, both inside the rect.
        ref.Fill(rc, RGB(0, 0, 255));
        HRGN clip = CreateRectRgnIndirect(&rc);
        SelectClipRgn(ref.dc(), clip);
        TRIVERTEX v[2] = {{c.box.left, c.box.top, 0xFF00, 0, 0, 0}, {c.box.right, c.box.bottom, 0, 0, 0xFF00, 0}};
        GRADIENT_RECT gr = {0, 1};
        GradientFill(ref.dc(), v, 2, &gr, 1, c.mode);
        SelectClipRgn(ref.dc(), nullptr);
        DeleteObject(clip);
        int differ = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) differ += mine.At(x, y) != ref.At(x, y);
        EXPECT_EQ(differ, 0) << c.xml;
        EXPECT_EQ(mine.At(3, 3), kGrey) << c.xml;
        EXPECT_EQ(mine.At(30, 10), kGrey) << c.xml;
    }
}

// ---- png ---------------------------------------------------------------------------------------

TEST(PngSkin, SubImageByStateAtNaturalSize) {
    auto skin = LoadSkin<CBkPngSkin>("<png src=\"3001\" subwidth=\"43\"/>");
    ASSERT_NE(skin, nullptr);
    ASSERT_NE(skin->m_pImg, nullptr);
    SIZE size;
    skin->GetSkinSize(size);
    EXPECT_EQ(size.cx, 43);
    EXPECT_EQ(size.cy, 6);
    EXPECT_FALSE(skin->IgnoreState());
    ts::Dib dib(200, 20, kGrey);
    skin->Draw(dib.dc(), RECT{2, 3, 150, 19}, 2);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 43; ++x) ASSERT_EQ(dib.At(2 + x, 3 + y), PngColour(86 + x, y)) << x << "," << y;
    // Natural size: a 72-DPI image drawn at a point would come out larger.
    EXPECT_EQ(dib.CountOther(RECT{45, 0, 200, 20}, kGrey), 0);
    EXPECT_EQ(dib.CountOther(RECT{0, 9, 200, 20}, kGrey), 0);

    // State -1 draws the whole image.
    dib.Fill(kGrey);
    skin->Draw(dib.dc(), RECT{0, 0, 200, 20}, (DWORD)-1);
    EXPECT_EQ(dib.At(0, 0), PngColour(0, 0));
    EXPECT_EQ(dib.At(171, 5), PngColour(171, 5));
    EXPECT_EQ(dib.At(172, 5), kGrey);
    EXPECT_EQ(dib.At(10, 6), kGrey);
}

TEST(PngSkin, WholeImageWithoutSubWidthAndNothingWithoutImage) {
    auto whole = LoadSkin<CBkPngSkin>("<png src=\"3001\"/>");
    SIZE size;
    whole->GetSkinSize(size);
    EXPECT_EQ(size.cx, 172);
    EXPECT_TRUE(whole->IgnoreState());
    ts::Dib dib(200, 20, kGrey);
    whole->Draw(dib.dc(), RECT{1, 1, 50, 5}, 0);
    EXPECT_EQ(dib.At(1, 1), PngColour(0, 0));
    EXPECT_EQ(dib.At(172, 6), PngColour(171, 5));
    EXPECT_EQ(dib.At(173, 6), kGrey);

    for (const char* xml : {"<png src=\"3999\" subwidth=\"4\"/>", "<png src=\"3002\"/>", "<png/>"}) {
        auto none = LoadSkin<CBkPngSkin>(xml);
        ASSERT_NE(none, nullptr);
        EXPECT_EQ(none->m_pImg, nullptr) << xml;
        dib.Fill(kGrey);
        none->Draw(dib.dc(), RECT{0, 0, 200, 20}, 0);
        EXPECT_EQ(dib.CountOther(RECT{0, 0, 200, 20}, kGrey), 0) << xml;
    }
}

}  // namespace
