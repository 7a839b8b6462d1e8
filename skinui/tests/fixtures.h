// Resource ids and colour formulas of the test images (drawn by make_fixtures.py).
#pragma once

#define kResXml 900        /* "xml": the bytes "resource-900" */
#define kBmpFrame7 2001    /* 7 x 7 frame */
#define kBmpBar 2002       /* 36 x 5 bar, 4 sub-images of 9 */
#define kBmpStrip71 2003   /* 284 x 3 strip, 4 sub-images of 71 */
#define kBmpFrame3 2004    /* 3 x 3 frame */
#define kPngStrip43 3001   /* 172 x 6 PNG, 4 sub-images of 43, 72 DPI */
#define kPngBroken 3002    /* "png" resource that is no image */

#ifndef RC_INVOKED
#include <windows.h>
inline COLORREF FrameColour(int x, int y) { return RGB(10 + 30 * x, 10 + 30 * y, 77); }
inline COLORREF BarColour(int x, int y) { return RGB(10 + 6 * x, 10 + 40 * y, 50 + 40 * (x / 9)); }
inline COLORREF StripColour(int x, int y) { return RGB(x & 0xFF, 50 * (x >> 8) + y, 33); }
inline COLORREF PngColour(int x, int y) { return RGB(x, 20 * y, 99); }
#endif
