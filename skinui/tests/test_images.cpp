// The bitmap and PNG pools, the bitmap holder and the blitting helpers, pixel-exact.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "bkimage.h"
#include "bkres.h"
#include "fixtures.h"
#include "tablefiles.h"
#include "uikit.h"

#include <objidl.h>
#include <propidl.h>
#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

namespace {

const COLORREF kGrey = RGB(0x40, 0x40, 0x40);
const COLORREF kMagenta = RGB(0xFF, 0x00, 0xFF);

// A 32-bpp DIB section whose pixels the test sets, top-down or bottom-up.
HBITMAP MakeDib32(int w, int h, bool topDown, uint32_t** bits) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = topDown ? -h : h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* p = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    *bits = static_cast<uint32_t*>(p);
    return b;
}

// Sets the pixel at image row y (0 = top) whatever the storage order.
void SetPixel32(uint32_t* bits, int w, int h, bool topDown, int x, int y, COLORREF c, BYTE alpha) {
    const int row = topDown ? y : h - 1 - y;
    bits[row * w + x] = ((uint32_t)alpha << 24) | ((uint32_t)GetRValue(c) << 16) | ((uint32_t)GetGValue(c) << 8) |
                        GetBValue(c);
}

// ---- pools -------------------------------------------------------------------------------------

TEST(BitmapPool, SameHandleForAnIdAndMissesAreTriedAgain) {
    HBITMAP a = BkBmpPool::GetBitmap(kBmpFrame7);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(BkBmpPool::GetBitmap(kBmpFrame7), a);
    BITMAP bm = {};
    GetObjectW(a, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 7);
    EXPECT_EQ(bm.bmHeight, 7);

    EXPECT_EQ(BkBmpPool::GetBitmap(2999), nullptr);
    EXPECT_EQ(BkBmpPool::GetBitmap(2999), nullptr);

    // A miss is not remembered: once the skin folder has the file, the next request finds it.
    SkinFolder folder;
    ts::Dib art(5, 4, RGB(1, 2, 3));
    ASSERT_TRUE(art.SaveBmp(folder.Path(2999, L"bmp")));
    HBITMAP found = BkBmpPool::GetBitmap(2999);
    ASSERT_NE(found, nullptr);
    GetObjectW(found, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 5);
    EXPECT_EQ(bm.bmHeight, 4);
}

TEST(BitmapPool, TheSkinFolderComesBeforeTheResource) {
    SkinFolder folder;
    ts::Dib art(9, 2, RGB(1, 2, 3));
    ASSERT_TRUE(art.SaveBmp(folder.Path(kBmpBar, L"bmp")));
    BITMAP bm = {};
    GetObjectW(BkBmpPool::GetBitmap(kBmpBar), sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 9);  // the folder's, not the 36-pixel resource
}

TEST(PngPool, LoadsOnceAndCachesFailures) {
    EXPECT_TRUE(BkPngPool::Instance().GdiplusStarted());
    Gdiplus::GpImage* img = BkPngPool::GetPng(kPngStrip43);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(BkPngPool::GetPng(kPngStrip43), img);
    UINT w = 0, h = 0;
    Gdiplus::DllExports::GdipGetImageWidth(img, &w);
    Gdiplus::DllExports::GdipGetImageHeight(img, &h);
    EXPECT_EQ(w, 172u);
    EXPECT_EQ(h, 6u);
    // No image for bytes that are none, nor for a missing resource; both stay that way.
    EXPECT_EQ(BkPngPool::GetPng(kPngBroken), nullptr);
    EXPECT_EQ(BkPngPool::GetPng(3999), nullptr);

    // A miss is remembered, unlike the bitmap pool's: a file that turns up later is not read.
    std::string good;
    ASSERT_TRUE(BkResourceLoader::LoadResource(kPngStrip43, L"png", good));
    SkinFolder folder;
    ASSERT_TRUE(folder.Put(3999, L"png", good));
    EXPECT_EQ(BkPngPool::GetPng(3999), nullptr);
    // An id not asked for before comes from the skin folder's file.
    ASSERT_TRUE(folder.Put(3998, L"png", good));
    Gdiplus::GpImage* fromFile = BkPngPool::GetPng(3998);
    ASSERT_NE(fromFile, nullptr);
    Gdiplus::DllExports::GdipGetImageWidth(fromFile, &w);
    EXPECT_EQ(w, 172u);
}

// ---- CBkImage ----------------------------------------------------------------------------------

TEST(ImageHolder, DrawsTheChosenSubImageAtNaturalSize) {
    CBkImage img;
    img.m_hBitmap = BkBmpPool::GetBitmap(kBmpStrip71);
    ASSERT_NE(img.m_hBitmap, nullptr);
    img.m_nSubImageWidth = 71;
    ts::Dib dib(300, 10, kGrey);
    ASSERT_TRUE(img.Draw(2, dib.dc(), 1, 2));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 71; ++x) ASSERT_EQ(dib.At(1 + x, 2 + y), StripColour(142 + x, y)) << x << "," << y;
    EXPECT_EQ(dib.At(72, 2), kGrey);  // one sub-image wide
    EXPECT_EQ(dib.At(1, 5), kGrey);   // the bitmap's height

    dib.Fill(kGrey);
    ASSERT_TRUE(img.Draw(-1, dib.dc(), 0, 0));  // the whole strip
    EXPECT_EQ(dib.At(283, 2), StripColour(283, 2));
    EXPECT_EQ(dib.At(284, 2), kGrey);

    img.m_nSubImageWidth = 0;
    EXPECT_FALSE(img.Draw(0, dib.dc(), 0, 0));  // one image: only the whole of it
    img.m_nDrawMode = 7;
    EXPECT_FALSE(img.Draw(-1, dib.dc(), 0, 0));
    CBkImage none;
    EXPECT_FALSE(none.Draw(-1, dib.dc(), 0, 0));
}

TEST(ImageHolder, PartsCopyOrStretchAndTheAlphaModeDrawsNone) {
    CBkImage img;
    img.m_hBitmap = BkBmpPool::GetBitmap(kBmpStrip71);
    img.m_nSubImageWidth = 71;
    ts::Dib dib(40, 10, kGrey);
    ASSERT_TRUE(img.DrawPart(dib.dc(), 0, 0, 4, 2, 5, 1, 1));  // sub-image 1 moves the source by 71
    EXPECT_EQ(dib.At(0, 0), StripColour(76, 1));
    EXPECT_EQ(dib.At(3, 1), StripColour(79, 2));
    ASSERT_TRUE(img.StretchPart(dib.dc(), 10, 0, 20, 3, 7, 0, 1, 3, -1));
    for (int x = 10; x < 30; ++x) EXPECT_EQ(dib.At(x, 2), StripColour(7, 2));
    img.m_nDrawMode = kBkDrawAlpha;
    dib.Fill(kGrey);
    EXPECT_FALSE(img.DrawPart(dib.dc(), 0, 0, 4, 2, 0, 0, -1));
    EXPECT_EQ(dib.CountOther(RECT{0, 0, 40, 10}, kGrey), 0);
}

// ---- key colour --------------------------------------------------------------------------------

TEST(KeyColorBlt, KeyPixelsShowTheDestination) {
    ts::Dib src(4, 2, kMagenta);
    const COLORREF pattern[2][4] = {{kMagenta, RGB(200, 0, 0), kMagenta, RGB(0, 0, 200)},
                                    {RGB(0, 200, 0), kMagenta, RGB(255, 255, 255), RGB(0, 0, 0)}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) src.Fill(RECT{x, y, x + 1, y + 1}, pattern[y][x]);
    ts::Dib dst(10, 6, kGrey);
    ASSERT_TRUE(BkKeyColorBlt(dst.dc(), 3, 2, 4, 2, src.dc(), 0, 0, 4, 2, kMagenta));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            COLORREF want = pattern[y][x] == kMagenta ? kGrey : pattern[y][x];
            EXPECT_EQ(dst.At(3 + x, 2 + y), want) << x << "," << y;
        }
    EXPECT_EQ(dst.CountOther(RECT{0, 0, 10, 2}, kGrey), 0);
    // The destination's own colours are put back.
    SetBkColor(dst.dc(), RGB(1, 2, 3));
    SetTextColor(dst.dc(), RGB(4, 5, 6));
    BkKeyColorBlt(dst.dc(), 0, 0, 4, 2, src.dc(), 0, 0, 4, 2, kMagenta);
    EXPECT_EQ(GetBkColor(dst.dc()), RGB(1, 2, 3));
    EXPECT_EQ(GetTextColor(dst.dc()), RGB(4, 5, 6));

    // Stretched from a smaller source.
    dst.Fill(kGrey);
    ASSERT_TRUE(BkKeyColorBlt(dst.dc(), 0, 0, 4, 4, src.dc(), 1, 0, 2, 2, kMagenta));
    EXPECT_EQ(dst.At(0, 0), RGB(200, 0, 0));
    EXPECT_EQ(dst.At(3, 0), kGrey);
    EXPECT_EQ(dst.At(0, 3), kGrey);
    EXPECT_EQ(dst.At(3, 3), RGB(255, 255, 255));
}

TEST(KeyColorBlt, MaskModeImageLeavesMagentaOut) {
    ts::Dib art(3, 1, kMagenta);
    art.Fill(RECT{1, 0, 2, 1}, RGB(9, 99, 199));
    // A bitmap of our own in the holder (it does not own it).
    HBITMAP bmp = CreateCompatibleBitmap(art.dc(), 3, 1);
    HDC mem = CreateCompatibleDC(art.dc());
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, 3, 1, art.dc(), 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    CBkImage img;
    img.m_hBitmap = bmp;
    img.m_nDrawMode = kBkDrawKeyColor;
    ts::Dib dst(5, 3, kGrey);
    ASSERT_TRUE(img.Draw(-1, dst.dc(), 1, 1));
    EXPECT_EQ(dst.At(1, 1), kGrey);
    EXPECT_EQ(dst.At(2, 1), RGB(9, 99, 199));
    EXPECT_EQ(dst.At(3, 1), kGrey);
    img.Detach();
    DeleteObject(bmp);
}

// ---- alpha -------------------------------------------------------------------------------------

BYTE Blend(BYTE s, BYTE d, BYTE a) { return (BYTE)((s * a + d * (255 - a)) / 255); }

TEST(AlphaBlt, BlendsStraightAlphaPerChannel) {
    const COLORREF src = RGB(250, 100, 3), dst = RGB(10, 200, 255);
    for (BYTE a : {0, 1, 128, 254, 255}) {
        uint32_t* bits = nullptr;
        HBITMAP b = MakeDib32(1, 1, false, &bits);
        SetPixel32(bits, 1, 1, false, 0, 0, src, a);
        ts::Dib out(3, 3, dst);
        ASSERT_TRUE(BkAlphaBlt(b, out.dc(), 1, 1, 1, 1, 0));
        const COLORREF want = RGB(Blend(250, 10, a), Blend(100, 200, a), Blend(3, 255, a));
        EXPECT_EQ(out.At(1, 1), want) << "alpha " << (int)a;
        EXPECT_EQ(out.At(0, 0), dst);
        DeleteObject(b);
    }
    // alpha 0 leaves the destination, 255 replaces it.
    EXPECT_EQ(Blend(250, 10, 0), 10);
    EXPECT_EQ(Blend(250, 10, 255), 250);
}

TEST(AlphaBlt, KeepsRowsUprightForEitherStorageOrderAndOtherHeights) {
    const COLORREF red = RGB(220, 0, 0), blue = RGB(0, 0, 220), dst = RGB(50, 50, 50);
    for (bool topDown : {false, true}) {
        // 4 columns x 3 rows: row 0 red opaque, row 1 blue opaque, row 2 transparent.
        uint32_t* bits = nullptr;
        HBITMAP b = MakeDib32(4, 3, topDown, &bits);
        for (int x = 0; x < 4; ++x) {
            SetPixel32(bits, 4, 3, topDown, x, 0, red, 255);
            SetPixel32(bits, 4, 3, topDown, x, 1, blue, 255);
            SetPixel32(bits, 4, 3, topDown, x, 2, red, 0);
        }
        SetPixel32(bits, 4, 3, topDown, 2, 0, RGB(0, 220, 0), 255);  // a marker column in row 0
        ts::Dib out(8, 6, dst);
        // Two rows of the destination only, columns 1 to 3 of the source.
        ASSERT_TRUE(BkAlphaBlt(b, out.dc(), 2, 1, 3, 2, 1));
        EXPECT_EQ(out.At(2, 1), red) << topDown;
        EXPECT_EQ(out.At(3, 1), RGB(0, 220, 0)) << topDown;  // source column 2
        EXPECT_EQ(out.At(4, 1), red) << topDown;
        EXPECT_EQ(out.At(2, 2), blue) << topDown;
        EXPECT_EQ(out.At(5, 1), dst) << topDown;
        EXPECT_EQ(out.At(2, 3), dst) << topDown;
        // A destination taller than the source: rows beyond the source stay.
        ts::Dib tall(4, 6, dst);
        ASSERT_TRUE(BkAlphaBlt(b, tall.dc(), 0, 0, 4, 6, 0));
        EXPECT_EQ(tall.At(0, 0), red) << topDown;
        EXPECT_EQ(tall.At(0, 1), blue) << topDown;
        EXPECT_EQ(tall.At(0, 2), dst) << topDown;  // transparent row
        EXPECT_EQ(tall.At(0, 4), dst) << topDown;
        DeleteObject(b);
    }
    // A 32-bpp device bitmap (as LoadBitmap gives) blends the same way.
    uint32_t rows[2][2] = {{0xFFDC0000u, 0xFFDC0000u}, {0x000000DCu, 0x000000DCu}};
    HBITMAP ddb = CreateBitmap(2, 2, 1, 32, rows);
    ASSERT_NE(ddb, nullptr);
    ts::Dib out(2, 2, dst);
    ASSERT_TRUE(BkAlphaBlt(ddb, out.dc(), 0, 0, 2, 2, 0));
    EXPECT_EQ(out.At(1, 0), red);
    EXPECT_EQ(out.At(1, 1), dst);
    DeleteObject(ddb);
}

TEST(AlphaBlt, OtherDepthsDrawNothing) {
    ts::Dib out(4, 4, kGrey);
    HBITMAP b24 = CreateBitmap(2, 2, 1, 24, nullptr);
    HBITMAP b1 = CreateBitmap(2, 2, 1, 1, nullptr);
    EXPECT_FALSE(BkAlphaBlt(b1, out.dc(), 0, 0, 2, 2, 0));
    if (b24) {
        EXPECT_FALSE(BkAlphaBlt(b24, out.dc(), 0, 0, 2, 2, 0));
    }
    EXPECT_FALSE(BkAlphaBlt(nullptr, out.dc(), 0, 0, 2, 2, 0));
    EXPECT_EQ(out.CountOther(RECT{0, 0, 4, 4}, kGrey), 0);
    DeleteObject(b1);
    if (b24) DeleteObject(b24);
}

// ---- helpers -----------------------------------------------------------------------------------

TEST(BlackBitmap, IsScreenCompatibleAndBlack) {
    HBITMAP b = nullptr;
    ASSERT_TRUE(BkCreateBlackBitmap(b, 6, 5));
    ASSERT_NE(b, nullptr);
    BITMAP bm = {};
    GetObjectW(b, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 6);
    EXPECT_EQ(bm.bmHeight, 5);
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, b);
    EXPECT_EQ(GetPixel(mem, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(mem, 5, 4), RGB(0, 0, 0));
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(b);
    EXPECT_FALSE(BkCreateBlackBitmap(b, 0, 5));
    EXPECT_EQ(b, nullptr);
}

// GradientFill's own output for the same box and colours.
void ReferenceGradient(HDC dc, const RECT& box, COLORREF a, COLORREF b, ULONG mode) {
    TRIVERTEX v[2] = {{box.left, box.top, (COLOR16)(GetRValue(a) << 8), (COLOR16)(GetGValue(a) << 8),
                       (COLOR16)(GetBValue(a) << 8), 0},
                      {box.right, box.bottom, (COLOR16)(GetRValue(b) << 8), (COLOR16)(GetGValue(b) << 8),
                       (COLOR16)(GetBValue(b) << 8), 0}};
    GRADIENT_RECT r = {0, 1};
    GradientFill(dc, v, 2, &r, 1, mode);
}

TEST(Gradients, MatchGradientFillAndIgnoreReversedBoxes) {
    const RECT box = {2, 3, 30, 40};
    for (bool vertical : {true, false}) {
        ts::Dib mine(40, 50, kGrey), ref(40, 50, kGrey);
        if (vertical)
            BkGradientFillV(mine.dc(), box, RGB(0xFE, 0xFE, 0xFE), RGB(0xC6, 0xE2, 0xFD));
        else
            BkGradientFillH(mine.dc(), box, RGB(0xFE, 0xFE, 0xFE), RGB(0xC6, 0xE2, 0xFD));
        ReferenceGradient(ref.dc(), box, RGB(0xFE, 0xFE, 0xFE), RGB(0xC6, 0xE2, 0xFD),
                          vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
        int differ = 0;
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 40; ++x) differ += mine.At(x, y) != ref.At(x, y);
        EXPECT_EQ(differ, 0) << vertical;
        EXPECT_NE(mine.At(10, 10), kGrey);
    }
    ts::Dib none(10, 10, kGrey);
    BkGradientFillV(none.dc(), RECT{0, 8, 10, 2}, RGB(255, 0, 0), RGB(0, 0, 255));
    BkGradientFillH(none.dc(), RECT{8, 0, 2, 10}, RGB(255, 0, 0), RGB(0, 0, 255));
    EXPECT_EQ(none.CountOther(RECT{0, 0, 10, 10}, kGrey), 0);
}

}  // namespace
