#include "bkskin.h"

#include <shlwapi.h>
#include <string.h>

#include <objidl.h>
#include <propidl.h>
#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include "bkres.h"

using namespace Gdiplus;

const char* const CBkImageSkin::kTag = "imglst";
const char* const CBkSkinImgFrame::kTag = "imgframe";
const char* const CBkSkinImgHorzExtend::kTag = "imghorzex";
const char* const CBkSkinButton::kTag = "button";
const char* const CBkSkinGradation::kTag = "gradation";
const char* const CBkPngSkin::kTag = "png";

static bool Same(const char* a, const char* b) { return a && strcmp(a, b) == 0; }

static void FillSolid(HDC dc, const RECT& rc, COLORREF c) {
    COLORREF old = ::SetBkColor(dc, c);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(dc, old);
}

// ---- imglst ------------------------------------------------------------------------------------

BOOL CBkImageSkin::IsTag(const char* tag) const { return Same(tag, kTag); }

HRESULT CBkImageSkin::SetAttribute(const std::string& name, const std::string& value, BOOL) {
    if (name == "src") {
        m_hBitmap = BkBmpPool::GetBitmap((UINT)StrToIntA(value.c_str()));
        return S_OK;
    }
    if (name == "mode") {
        if (value == "none") m_nDrawMode = kBkDrawPlain;
        else if (value == "mask") m_nDrawMode = kBkDrawKeyColor;
        else if (value == "alpha") m_nDrawMode = kBkDrawAlpha;
        else return E_FAIL;
        return S_OK;
    }
    if (name == "maskcolor") {
        m_crKey = BkColorFromHex(value.c_str());
        return S_OK;
    }
    if (name == "subwidth") {
        m_nSubImageWidth = StrToIntA(value.c_str());
        return S_OK;
    }
    return E_FAIL;
}

void CBkImageSkin::Draw(HDC dc, const RECT& rc, DWORD state) {
    CBkImage::Draw((int)state, dc, rc.left, rc.top);
}

void CBkImageSkin::GetSkinSize(SIZE& size) const {
    size = BitmapSize();
    if (m_nSubImageWidth) size.cx = m_nSubImageWidth;
}

// ---- imgframe ----------------------------------------------------------------------------------

BOOL CBkSkinImgFrame::IsTag(const char* tag) const { return Same(tag, kTag); }

namespace {
// Draws the frame's parts from inside the bitmap only: GDI would otherwise copy whatever lies
// beyond it. A corner is cut at the bitmap's edge; a stretched line that is not in the bitmap
// (a left or top at or past its edge) is skipped.
struct FramePainter {
    const CBkImage& img;
    int w, h;
    bool Inside(int sx, int sy, int scx, int scy) const {
        return sx >= 0 && sy >= 0 && scx > 0 && scy > 0 && sx + scx <= w && sy + scy <= h;
    }
    void DrawPart(HDC dc, int x, int y, int cx, int cy, int sx, int sy, int index) const {
        cx = std::min(cx, w - sx);
        cy = std::min(cy, h - sy);
        if (Inside(sx, sy, cx, cy)) img.DrawPart(dc, x, y, cx, cy, sx, sy, index);
    }
    void StretchPart(HDC dc, int x, int y, int cx, int cy, int sx, int sy, int scx, int scy, int index) const {
        if (Inside(sx, sy, scx, scy)) img.StretchPart(dc, x, y, cx, cy, sx, sy, scx, scy, index);
    }
};
}  // namespace

HRESULT CBkSkinImgFrame::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = m_imgSkin.SetAttribute(name, value, loading);
    if (hr != E_FAIL) return hr;
    if (name == "crbg") {
        m_crBg = BkColorFromHex(value.c_str());
        return S_OK;
    }
    if (name == "left") {
        m_nLeft = StrToIntA(value.c_str());
        return S_OK;
    }
    if (name == "top") {
        m_nTop = StrToIntA(value.c_str());
        return S_OK;
    }
    if (name == "part") {
        static const struct { const char* name; UINT code; } parts[] = {
            {"all", 0x2F}, {"top", 0x2B}, {"middle", 0x2A}, {"bottom", 0x2E},
            {"left", 0x0F}, {"center", 0x07}, {"right", 0x27},
        };
        for (const auto& p : parts)
            if (value == p.name) {
                m_uDrawPart = p.code;
                return S_OK;
            }
        return E_FAIL;
    }
    return E_FAIL;
}

void CBkSkinImgFrame::Draw(HDC dc, const RECT& rc, DWORD) {
    if (m_imgSkin.IsNull()) return;
    const SIZE bmp = m_imgSkin.BitmapSize();
    const int W = bmp.cx, H = bmp.cy, L = m_nLeft, T = m_nTop;
    // A bitmap smaller than its slices leaves a slice of no width: it takes no room in the layout,
    // so nothing lands outside the rect.
    const int R = std::max(W - L - 1, 0), B = std::max(H - T - 1, 0);
    const UINT part = m_uDrawPart;
    const bool top = part & kBkFrameTop, bottom = part & kBkFrameBottom;
    const bool left = part & kBkFrameLeft, right = part & kBkFrameRight;

    RECT in = rc;
    if (left) in.left += L;
    if (top) in.top += T;
    if (bottom) in.bottom -= B;
    if (right) in.right -= R;
    const int innerW = in.right - in.left, innerH = in.bottom - in.top;
    const FramePainter img{m_imgSkin, W, H};

    // Corners, unscaled. The bottom corners are T high, as the slices of a 2T + 1 high bitmap.
    if (left && top) img.DrawPart(dc, rc.left, rc.top, L, T, 0, 0, -1);
    if (right && top) img.DrawPart(dc, in.right, rc.top, R, T, L + 1, 0, -1);
    if (left && bottom) img.DrawPart(dc, rc.left, in.bottom, L, T, 0, T + 1, -1);
    if (right && bottom) img.DrawPart(dc, in.right, in.bottom, R, T, L + 1, T + 1, -1);
    // Edges, stretched from the one-pixel column L and row T.
    if (top) img.StretchPart(dc, in.left, rc.top, innerW, T, L, 0, 1, T, -1);
    if (left) img.StretchPart(dc, rc.left, in.top, L, innerH, 0, T, L, 1, -1);
    if (bottom) img.StretchPart(dc, in.left, rc.bottom - B, innerW, B, L, T + 1, 1, B, -1);
    if (right) img.StretchPart(dc, in.right, in.top, R, innerH, L + 1, T, R, 1, -1);

    if (m_crBg != CLR_INVALID && innerW > 0 && innerH > 0) FillSolid(dc, in, m_crBg);
}

// ---- imghorzex ---------------------------------------------------------------------------------

BOOL CBkSkinImgHorzExtend::IsTag(const char* tag) const { return Same(tag, kTag); }

HRESULT CBkSkinImgHorzExtend::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = m_imgSkin.SetAttribute(name, value, loading);
    if (hr != E_FAIL) return hr;
    if (name == "left") {
        m_nLeft = StrToIntA(value.c_str());
        return S_OK;
    }
    return E_FAIL;
}

int CBkSkinImgHorzExtend::SubImageOf(DWORD state) {
    if (state == (DWORD)-1) return -1;
    if (state & kBkStateDisabled) return 3;
    if (state & kBkStatePushed) return 2;
    return (state & kBkStateHover) ? 1 : 0;
}

void CBkSkinImgHorzExtend::Draw(HDC dc, const RECT& rect, DWORD state) {
    if (m_imgSkin.IsNull()) return;
    const int index = SubImageOf(state);
    const SIZE bmp = m_imgSkin.BitmapSize();
    const int W = bmp.cx, H = bmp.cy, L = m_nLeft;
    RECT rc = rect;
    if (rc.right - rc.left < W) rc.right = rc.left + W;
    // A bar with fewer pieces than states draws its last piece for the states beyond it
    // (StretchPart keeps the index inside the bitmap).
    const int P = m_imgSkin.m_nSubImageWidth ? m_imgSkin.m_nSubImageWidth : W;
    const int capR = P - L - 1;
    const CBkImage& img = m_imgSkin;
    img.DrawPart(dc, rc.left, rc.top, L, H, 0, 0, index);
    img.DrawPart(dc, rc.right - capR, rc.top, capR, H, L + 1, 0, index);
    img.StretchPart(dc, rc.left + L, rc.top, rc.right - capR - (rc.left + L), H, L, 0, 1, H, index);
}

void CBkSkinImgHorzExtend::GetSkinSize(SIZE& size) const {
    size.cx = 0;
    size.cy = m_imgSkin.BitmapSize().cy;
}

// ---- button ------------------------------------------------------------------------------------

BOOL CBkSkinButton::IsTag(const char* tag) const { return Same(tag, kTag); }

HRESULT CBkSkinButton::SetAttribute(const std::string& name, const std::string& value, BOOL) {
    COLORREF* c = name == "bg"            ? &m_crBg
                  : name == "border"      ? &m_crBorder
                  : name == "bgup"        ? &m_crBgUp
                  : name == "bguphover"   ? &m_crBgUpHover
                  : name == "bguppush"    ? &m_crBgUpPush
                  : name == "bgdown"      ? &m_crBgDown
                  : name == "bgdownhover" ? &m_crBgDownHover
                  : name == "bgdownpush"  ? &m_crBgDownPush
                                          : nullptr;
    if (!c) return E_FAIL;
    *c = BkColorFromHex(value.c_str());
    return S_OK;
}

void CBkSkinButton::Draw(HDC dc, const RECT& rc, DWORD state) {
    FillSolid(dc, rc, m_crBg);
    if (!(state & kBkStateDisabled)) {
        RECT face = rc;
        ::InflateRect(&face, -2, -2);
        COLORREF up = m_crBgUp, down = m_crBgDown;
        if (state & kBkStatePushed) {
            up = m_crBgUpPush;
            down = m_crBgDownPush;
        } else if (state & kBkStateHover) {
            up = m_crBgUpHover;
            down = m_crBgDownHover;
        }
        BkGradientFillV(dc, face, up, down);
    }
    HPEN pen = ::CreatePen(PS_SOLID, 1, m_crBorder);
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
    ::Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::DeleteObject(pen);
}

// ---- gradation ---------------------------------------------------------------------------------

BOOL CBkSkinGradation::IsTag(const char* tag) const { return Same(tag, kTag); }

HRESULT CBkSkinGradation::SetAttribute(const std::string& name, const std::string& value, BOOL) {
    if (name == "from") {
        m_crFrom = BkColorFromHex(value.c_str());
        return S_OK;
    }
    if (name == "to") {
        m_crTo = BkColorFromHex(value.c_str());
        return S_OK;
    }
    if (name == "size") {
        m_nSize = StrToIntA(value.c_str());
        return S_OK;
    }
    if (name == "direction") {
        if (value == "horz") m_bVert = FALSE;
        else if (value == "vert") m_bVert = TRUE;
        else return E_FAIL;
        return S_OK;
    }
    return E_FAIL;
}

void CBkSkinGradation::Draw(HDC dc, const RECT& rc, DWORD) {
    FillSolid(dc, rc, m_crTo);
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, rc.left, rc.top, rc.right, rc.bottom);
    RECT box = rc;
    if (m_bVert) {
        if (m_nSize > 0) box.bottom = rc.top + m_nSize;
        BkGradientFillV(dc, box, m_crFrom, m_crTo);
    } else {
        if (m_nSize > 0) box.right = rc.left + m_nSize;
        BkGradientFillH(dc, box, m_crFrom, m_crTo);
    }
    ::RestoreDC(dc, saved);
}

// ---- png ---------------------------------------------------------------------------------------

BOOL CBkPngSkin::IsTag(const char* tag) const { return Same(tag, kTag); }

HRESULT CBkPngSkin::SetAttribute(const std::string& name, const std::string& value, BOOL) {
    if (name == "src") {
        m_nSrcId = (UINT)StrToIntA(value.c_str());
        return S_OK;
    }
    if (name == "subwidth") {
        m_nSubWidth = StrToIntA(value.c_str());
        return S_OK;
    }
    return E_FAIL;
}

BOOL CBkPngSkin::Load(TiXmlElement* xml) {
    BOOL ok = CBkSkinBase::Load(xml);
    if (m_nSrcId != 0) m_pImg = BkPngPool::GetPng(m_nSrcId);
    return ok;
}

static SIZE ImageSize(GpImage* img) {
    UINT w = 0, h = 0;
    if (img) {
        DllExports::GdipGetImageWidth(img, &w);
        DllExports::GdipGetImageHeight(img, &h);
    }
    return SIZE{(LONG)w, (LONG)h};
}

void CBkPngSkin::Draw(HDC dc, const RECT& rc, DWORD state) {
    if (!m_pImg) return;
    GpGraphics* g = nullptr;
    if (DllExports::GdipCreateFromHDC(dc, &g) != Ok || !g) return;
    const SIZE size = ImageSize(m_pImg);
    int sx = 0, sw = size.cx;
    // State -1 asks for the whole image, as the bitmap holder draws it.
    if (m_nSubWidth > 0 && state != (DWORD)-1) {
        // Inside the image, as the bitmap strips: a state past the last picture draws the last.
        const int count = size.cx / m_nSubWidth > 0 ? (int)(size.cx / m_nSubWidth) : 1;
        const int index = state < (DWORD)count ? (int)state : count - 1;
        sx = index * m_nSubWidth;
        sw = std::min(m_nSubWidth, (int)size.cx);
    }
    // Always with a destination of the natural size: drawn at a point, GDI+ scales a 72-DPI image.
    DllExports::GdipDrawImageRectRectI(g, m_pImg, rc.left, rc.top, sw, size.cy, sx, 0, sw, size.cy, UnitPixel,
                                       nullptr, nullptr, nullptr);
    DllExports::GdipDeleteGraphics(g);
}

void CBkPngSkin::GetSkinSize(SIZE& out) const {
    const SIZE size = ImageSize(m_pImg);
    out.cx = m_nSubWidth ? m_nSubWidth : size.cx;
    out.cy = size.cy;
}

// ---- factory and pool --------------------------------------------------------------------------

CBkSkinBase* CreateSkinByClass(const char* tag) {
    if (Same(tag, CBkImageSkin::kTag)) return new CBkImageSkin;
    if (Same(tag, CBkSkinImgFrame::kTag)) return new CBkSkinImgFrame;
    if (Same(tag, CBkSkinButton::kTag)) return new CBkSkinButton;
    if (Same(tag, CBkSkinImgHorzExtend::kTag)) return new CBkSkinImgHorzExtend;
    if (Same(tag, CBkSkinGradation::kTag)) return new CBkSkinGradation;
    if (Same(tag, CBkPngSkin::kTag)) return new CBkPngSkin;
    return nullptr;
}

BkSkinPool& BkSkinPool::Instance() {
    static BkSkinPool pool;
    return pool;
}

CBkSkinBase* BkSkinPool::GetSkin(const std::string& name) {
    BkSkinPool& pool = Instance();
    auto it = pool.m_skins.find(name);
    return it == pool.m_skins.end() ? nullptr : it->second;
}

void BkSkinPool::Add(const std::string& name, CBkSkinBase* skin) {
    auto it = m_skins.find(name);
    if (it != m_skins.end()) {
        if (it->second != skin) delete it->second;
        it->second = skin;
    } else {
        m_skins[name] = skin;
    }
}

void BkSkinPool::Clear() {
    for (auto& kv : m_skins) delete kv.second;
    m_skins.clear();
}
