// Bitmap and PNG pools, the bitmap holder of the image skins, and the blitting helpers.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>

#include "winlayer/gdi.h"

namespace Gdiplus {
class GpImage;
}

// Bitmaps by resource id, loaded once and kept until the process ends.
class BkBmpPool {
public:
    static BkBmpPool& Instance();
    // The cached bitmap; loads it on first use (skin folder file, resource module, program). A miss
    // is not cached: the next request tries again. Null when no source has it.
    static HBITMAP GetBitmap(UINT id);

private:
    BkBmpPool() : m_bitmaps(17) {}
    std::unordered_map<UINT, HBITMAP> m_bitmaps;
};

// PNG images (resource type "png") by id. Creating the pool starts GDI+, which then stays started.
class BkPngPool {
public:
    static BkPngPool& Instance();
    // The cached image, loaded on first use. A resource that is missing or does not decode is
    // cached as null (tried once): it draws nothing.
    static Gdiplus::GpImage* GetPng(UINT id);
    BOOL GdiplusStarted() const { return m_token != 0; }

private:
    BkPngPool();
    ULONG_PTR m_token = 0;
    std::unordered_map<UINT, Gdiplus::GpImage*> m_images;
};

// Draw modes of an image.
enum : int { kBkDrawPlain = 0, kBkDrawKeyColor = 1, kBkDrawAlpha = 2 };

// A pool bitmap with its strip layout and draw mode. The bitmap belongs to BkBmpPool.
class CBkImage : public CBitmapT<false> {
public:
    int m_nSubImageWidth = 0;        // 0: the bitmap is one image
    int m_nDrawMode = kBkDrawPlain;
    COLORREF m_crKey = RGB(0xFF, 0x00, 0xFF);

    // Sub-image index (or the whole bitmap for -1) at (x, y), natural size, in the draw mode.
    BOOL Draw(int index, HDC dc, int x, int y) const;
    // Copies a part of the bitmap unscaled; a sub-image index other than -1 moves the source x by
    // index sub-images. Alpha mode draws nothing (0).
    BOOL DrawPart(HDC dc, int x, int y, int cx, int cy, int sx, int sy, int index) const;
    // The same, stretched from a source of scx x scy.
    BOOL StretchPart(HDC dc, int x, int y, int cx, int cy, int sx, int sy, int scx, int scy, int index) const;
    // The bitmap's size; 0 x 0 without one.
    SIZE BitmapSize() const;
    // The number of whole sub-images in the bitmap (at least 1 with a bitmap; 0 without one or
    // without a sub-image width).
    int SubImageCount() const;
    // The sub-image index kept inside the bitmap: one past the last gives the last, so that an
    // element state with no picture of its own (disabled 0x10 on a strip of five) draws the strip's
    // last picture instead of whatever lies beyond the bitmap. -1 (the whole bitmap) stays -1.
    int ClampSubImage(int index) const;
};

// Copies the source part to the destination leaving out the pixels of the key colour.
BOOL BkKeyColorBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int sx, int sy, int scx, int scy, COLORREF key);
// Blends a 32-bpp bitmap with straight alpha onto the destination: columns srcX to srcX + cx - 1 of
// the source, rows from its top. 0 (nothing drawn) for other depths.
BOOL BkAlphaBlt(HBITMAP bitmap, HDC dst, int x, int y, int cx, int cy, int srcX);
// A black bitmap compatible with the screen; the caller owns it.
BOOL BkCreateBlackBitmap(HBITMAP& bitmap, int cx, int cy);

// Two-colour gradients over a box (msimg32's GradientFill, loaded for each call). A box that ends
// before it starts draws nothing; so does a system without GradientFill.
void BkGradientFillV(HDC dc, const RECT& box, COLORREF top, COLORREF bottom);
void BkGradientFillH(HDC dc, const RECT& box, COLORREF left, COLORREF right);
