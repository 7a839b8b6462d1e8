#include "bkimage.h"

#include <stdio.h>

#include <algorithm>
#include <vector>

// GDI+ needs the COM and property types that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <propidl.h>
using std::max;
using std::min;
#include <gdiplus.h>

#include "bkres.h"

using namespace Gdiplus;

// ---- bitmap pool -------------------------------------------------------------------------------

BkBmpPool& BkBmpPool::Instance() {
    static BkBmpPool* pool = new BkBmpPool;
    return *pool;
}

HBITMAP BkBmpPool::GetBitmap(UINT id) {
    BkBmpPool& pool = Instance();
    auto it = pool.m_bitmaps.find(id);
    if (it != pool.m_bitmaps.end()) return it->second;

    const BkResourceLoader& loader = BkResourceLoader::Instance();
    HBITMAP bitmap = nullptr;
    if (!loader.m_skinFolder.empty()) {
        wchar_t path[MAX_PATH * 2];
        if (swprintf(path, sizeof(path) / sizeof(path[0]), L"%ls\\%u.bmp", loader.m_skinFolder.c_str(), id) > 0)
            bitmap = (HBITMAP)::LoadImageW(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    }
    if (!bitmap && loader.m_resourceModule)
        bitmap = ::LoadBitmapW(loader.m_resourceModule, MAKEINTRESOURCEW(id));
    if (!bitmap) bitmap = ::LoadBitmapW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
    if (bitmap) pool.m_bitmaps[id] = bitmap;
    return bitmap;
}

// ---- PNG pool ----------------------------------------------------------------------------------

BkPngPool& BkPngPool::Instance() {
    // Never destroyed: GDI+ stays started until the process ends.
    static BkPngPool* pool = new BkPngPool;
    return *pool;
}

BkPngPool::BkPngPool() : m_images(17) {
    GdiplusStartupInput input;  // version 1, no debug callback, background thread, external codecs
    if (GdiplusStartup(&m_token, &input, nullptr) != Ok) m_token = 0;
}

GpImage* BkPngPool::GetPng(UINT id) {
    BkPngPool& pool = Instance();
    auto it = pool.m_images.find(id);
    if (it != pool.m_images.end()) return it->second;

    GpImage* image = nullptr;
    std::string bytes;
    if (pool.m_token && id <= 0xFFFF && BkResourceLoader::LoadResource((UINT16)id, L"png", bytes) && !bytes.empty()) {
        // The block stays with the image: GDI+ may read the stream again whenever it draws.
        HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, bytes.size());
        if (block) {
            memcpy((void*)block, bytes.data(), bytes.size());
            IStream* stream = nullptr;
            if (SUCCEEDED(::CreateStreamOnHGlobal(block, FALSE, &stream)) && stream) {
                if (DllExports::GdipLoadImageFromStream(stream, &image) != Ok) image = nullptr;
                stream->Release();
            }
            if (!image) ::GlobalFree(block);
        }
    }
    pool.m_images[id] = image;
    return image;
}

// ---- CBkImage ----------------------------------------------------------------------------------

SIZE CBkImage::BitmapSize() const {
    SIZE s = {0, 0};
    GetSize(s);
    return s;
}

int CBkImage::SubImageCount() const {
    if (!m_hBitmap || m_nSubImageWidth <= 0) return 0;
    const int n = BitmapSize().cx / m_nSubImageWidth;
    return n > 0 ? n : 1;
}

int CBkImage::ClampSubImage(int index) const {
    if (index == -1 || m_nSubImageWidth <= 0) return index;
    const int n = SubImageCount();
    if (index < 0 || n == 0) return 0;
    return index < n ? index : n - 1;
}

BOOL CBkImage::Draw(int index, HDC dc, int x, int y) const {
    if (!m_hBitmap) return FALSE;
    if (index != -1 && m_nSubImageWidth == 0) return FALSE;
    index = ClampSubImage(index);
    const SIZE size = BitmapSize();
    // A sub-image wider than the bitmap itself is cut at the bitmap's edge.
    const int cx = index == -1 ? size.cx : std::min(m_nSubImageWidth, (int)size.cx);
    const int sx = index == -1 ? 0 : index * m_nSubImageWidth;
    const int cy = size.cy;
    if (m_nDrawMode == kBkDrawAlpha) return BkAlphaBlt(m_hBitmap, dc, x, y, cx, cy, sx);
    if (m_nDrawMode != kBkDrawPlain && m_nDrawMode != kBkDrawKeyColor) return FALSE;
    HDC mem = ::CreateCompatibleDC(dc);
    if (!mem) return FALSE;
    HGDIOBJ old = ::SelectObject(mem, m_hBitmap);
    BOOL ok = m_nDrawMode == kBkDrawPlain ? ::BitBlt(dc, x, y, cx, cy, mem, sx, 0, SRCCOPY)
                                          : BkKeyColorBlt(dc, x, y, cx, cy, mem, sx, 0, cx, cy, m_crKey);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    return ok;
}

BOOL CBkImage::DrawPart(HDC dc, int x, int y, int cx, int cy, int sx, int sy, int index) const {
    return StretchPart(dc, x, y, cx, cy, sx, sy, cx, cy, index);
}

BOOL CBkImage::StretchPart(HDC dc, int x, int y, int cx, int cy, int sx, int sy, int scx, int scy, int index) const {
    if (!m_hBitmap) return FALSE;
    if (m_nDrawMode != kBkDrawPlain && m_nDrawMode != kBkDrawKeyColor) return FALSE;
    // Nothing to copy: a part of no size (a bitmap smaller than its slices) is skipped, never
    // drawn mirrored.
    if (cx <= 0 || cy <= 0 || scx <= 0 || scy <= 0) return FALSE;
    if (index != -1) sx += ClampSubImage(index) * m_nSubImageWidth;
    HDC mem = ::CreateCompatibleDC(dc);
    if (!mem) return FALSE;
    HGDIOBJ old = ::SelectObject(mem, m_hBitmap);
    BOOL ok;
    if (m_nDrawMode == kBkDrawKeyColor) {
        ok = BkKeyColorBlt(dc, x, y, cx, cy, mem, sx, sy, scx, scy, m_crKey);
    } else if (cx == scx && cy == scy) {
        ok = ::BitBlt(dc, x, y, cx, cy, mem, sx, sy, SRCCOPY);
    } else {
        int oldMode = ::SetStretchBltMode(dc, COLORONCOLOR);
        ok = ::StretchBlt(dc, x, y, cx, cy, mem, sx, sy, scx, scy, SRCCOPY);
        ::SetStretchBltMode(dc, oldMode);
    }
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    return ok;
}

// ---- blits -------------------------------------------------------------------------------------

BOOL BkKeyColorBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int sx, int sy, int scx, int scy, COLORREF key) {
    if (cx <= 0 || cy <= 0) return TRUE;
    HDC colourDc = ::CreateCompatibleDC(dst);
    HDC maskDc = ::CreateCompatibleDC(dst);
    HBITMAP colour = ::CreateCompatibleBitmap(dst, cx, cy);
    HBITMAP mask = ::CreateBitmap(cx, cy, 1, 1, nullptr);
    if (!colourDc || !maskDc || !colour || !mask) {
        if (colour) ::DeleteObject(colour);
        if (mask) ::DeleteObject(mask);
        if (colourDc) ::DeleteDC(colourDc);
        if (maskDc) ::DeleteDC(maskDc);
        return FALSE;
    }
    HGDIOBJ oldColour = ::SelectObject(colourDc, colour);
    HGDIOBJ oldMask = ::SelectObject(maskDc, mask);

    if (scx == cx && scy == cy) {
        ::BitBlt(colourDc, 0, 0, cx, cy, src, sx, sy, SRCCOPY);
    } else {
        int oldMode = ::SetStretchBltMode(colourDc, COLORONCOLOR);
        ::StretchBlt(colourDc, 0, 0, cx, cy, src, sx, sy, scx, scy, SRCCOPY);
        ::SetStretchBltMode(colourDc, oldMode);
    }
    // Mask: key pixels 1, all others 0.
    ::SetBkColor(colourDc, key);
    ::BitBlt(maskDc, 0, 0, cx, cy, colourDc, 0, 0, SRCCOPY);
    // Key pixels black in the colour copy.
    ::SetBkColor(colourDc, RGB(0, 0, 0));
    ::SetTextColor(colourDc, RGB(255, 255, 255));
    ::BitBlt(colourDc, 0, 0, cx, cy, maskDc, 0, 0, SRCAND);
    // Clear the opaque area of the destination, then paint the colour copy into it.
    COLORREF oldBk = ::SetBkColor(dst, RGB(255, 255, 255));
    COLORREF oldText = ::SetTextColor(dst, RGB(0, 0, 0));
    ::BitBlt(dst, x, y, cx, cy, maskDc, 0, 0, SRCAND);
    ::BitBlt(dst, x, y, cx, cy, colourDc, 0, 0, SRCPAINT);
    ::SetBkColor(dst, oldBk);
    ::SetTextColor(dst, oldText);

    ::SelectObject(colourDc, oldColour);
    ::SelectObject(maskDc, oldMask);
    ::DeleteObject(colour);
    ::DeleteObject(mask);
    ::DeleteDC(colourDc);
    ::DeleteDC(maskDc);
    return TRUE;
}

// A DIB section with the given depth, top-down.
static HBITMAP MakeDib(int cx, int cy, int bits, void** pixels) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = cx;
    bi.bmiHeader.biHeight = -cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = (WORD)bits;
    bi.bmiHeader.biCompression = BI_RGB;
    *pixels = nullptr;
    HBITMAP h = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, pixels, nullptr, 0);
    if (!*pixels && h) {
        ::DeleteObject(h);
        h = nullptr;
    }
    return h;
}

BOOL BkAlphaBlt(HBITMAP bitmap, HDC dst, int x, int y, int cx, int cy, int srcX) {
    if (!bitmap || cx <= 0 || cy <= 0) return FALSE;
    BITMAP bm = {};
    if (::GetObjectW(bitmap, sizeof(bm), &bm) < (int)sizeof(BITMAP) || bm.bmBitsPixel != 32) return FALSE;
    const int sw = bm.bmWidth, sh = bm.bmHeight;
    if (sw <= 0 || sh <= 0) return FALSE;

    // The source pixels, copied top row first. A DIB section does not tell whether it is stored
    // bottom-up or top-down (GetObject reports a top-down one with a positive height too), so rows
    // read where they lie would come out upside down for one of the two; GetDIBits hands them over
    // in a known order, for device bitmaps as well. Row r of the source then lands on row r of the
    // destination area, counted from the top, whatever the two heights.
    std::vector<uint32_t> srcPixels((size_t)sw * (size_t)sh);
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = sw;
        bi.bmiHeader.biHeight = -sh;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        HDC screen = ::GetDC(nullptr);
        const int rowsRead = ::GetDIBits(screen, bitmap, 0, (UINT)sh, srcPixels.data(), &bi, DIB_RGB_COLORS);
        ::ReleaseDC(nullptr, screen);
        if (rowsRead != sh) return FALSE;
    }
    const BYTE* srcBits = reinterpret_cast<const BYTE*>(srcPixels.data());
    const size_t srcStride = (size_t)sw * 4;

    void* dstBits = nullptr;
    HBITMAP work = MakeDib(cx, cy, 24, &dstBits);
    HDC workDc = work ? ::CreateCompatibleDC(dst) : nullptr;
    if (!workDc) {
        if (work) ::DeleteObject(work);
        return FALSE;
    }
    HGDIOBJ oldWork = ::SelectObject(workDc, work);
    ::BitBlt(workDc, 0, 0, cx, cy, dst, x, y, SRCCOPY);
    ::GdiFlush();
    const size_t dstStride = ((size_t)cx * 3 + 3) & ~(size_t)3;
    BYTE* out = static_cast<BYTE*>(dstBits);

    const int rows = std::min(cy, sh);
    const int firstCol = std::max(srcX, 0), endCol = std::min(srcX + cx, sw);
    for (int r = 0; r < rows; ++r) {
        const BYTE* srow = srcBits + (size_t)r * srcStride;
        BYTE* drow = out + (size_t)r * dstStride;
        for (int c = firstCol; c < endCol; ++c) {
            const BYTE* s = srow + (size_t)c * 4;
            BYTE* d = drow + (size_t)(c - srcX) * 3;
            const unsigned a = s[3];
            for (int k = 0; k < 3; ++k) d[k] = (BYTE)((s[k] * a + d[k] * (255 - a)) / 255);
        }
    }
    BOOL ok = ::BitBlt(dst, x, y, cx, cy, workDc, 0, 0, SRCCOPY);
    ::SelectObject(workDc, oldWork);
    ::DeleteDC(workDc);
    ::DeleteObject(work);
    return ok;
}

BOOL BkCreateBlackBitmap(HBITMAP& bitmap, int cx, int cy) {
    bitmap = nullptr;
    if (cx <= 0 || cy <= 0) return FALSE;
    HDC screen = ::GetDC(nullptr);
    if (!screen) return FALSE;
    HBITMAP b = ::CreateCompatibleBitmap(screen, cx, cy);
    HDC mem = b ? ::CreateCompatibleDC(screen) : nullptr;
    ::ReleaseDC(nullptr, screen);
    if (!mem) {
        if (b) ::DeleteObject(b);
        return FALSE;
    }
    HGDIOBJ old = ::SelectObject(mem, b);
    ::PatBlt(mem, 0, 0, cx, cy, BLACKNESS);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    bitmap = b;
    return TRUE;
}

// ---- gradients ---------------------------------------------------------------------------------

typedef BOOL(WINAPI* GradientFillFn)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

static void Gradient(HDC dc, const RECT& box, COLORREF a, COLORREF b, ULONG mode) {
    if (box.right < box.left || box.bottom < box.top) return;
    HMODULE lib = ::LoadLibraryW(L"msimg32.dll");
    if (!lib) return;
    auto fill = (GradientFillFn)(void*)::GetProcAddress(lib, "GradientFill");
    if (fill) {
        TRIVERTEX v[2] = {};
        v[0].x = box.left;
        v[0].y = box.top;
        v[0].Red = (COLOR16)(GetRValue(a) << 8);
        v[0].Green = (COLOR16)(GetGValue(a) << 8);
        v[0].Blue = (COLOR16)(GetBValue(a) << 8);
        v[1].x = box.right;
        v[1].y = box.bottom;
        v[1].Red = (COLOR16)(GetRValue(b) << 8);
        v[1].Green = (COLOR16)(GetGValue(b) << 8);
        v[1].Blue = (COLOR16)(GetBValue(b) << 8);
        GRADIENT_RECT r = {0, 1};
        fill(dc, v, 2, &r, 1, mode);
    }
    ::FreeLibrary(lib);
}

void BkGradientFillV(HDC dc, const RECT& box, COLORREF top, COLORREF bottom) {
    Gradient(dc, box, top, bottom, GRADIENT_FILL_RECT_V);
}

void BkGradientFillH(HDC dc, const RECT& box, COLORREF left, COLORREF right) {
    Gradient(dc, box, left, right, GRADIENT_FILL_RECT_H);
}
