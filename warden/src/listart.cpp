// The list's fonts and pictures, from the program's resources, loaded once and kept.
#include <map>

#include "listctrl.h"

namespace warden {

HFONT ListFont(WORD code) {
    static std::map<WORD, HFONT> fonts;
    auto it = fonts.find(code);
    if (it != fonts.end()) return it->second;
    LOGFONTW lf = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    lf.lfHeight = -11 - static_cast<signed char>(code >> 8);
    lf.lfWeight = (code & 4) ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = (code & 2) ? 1 : 0;
    lf.lfItalic = (code & 1) ? 1 : 0;
    lf.lfQuality = ANTIALIASED_QUALITY;
    HFONT font = CreateFontIndirectW(&lf);
    if (font) fonts[code] = font;
    return font;
}

HBITMAP ListBitmap(UINT id) {
    static std::map<UINT, HBITMAP> bitmaps;
    auto it = bitmaps.find(id);
    if (it != bitmaps.end()) return it->second;
    HBITMAP bmp = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bmp) bitmaps[id] = bmp;
    return bmp;
}

bool ListDrawPicture(HDC, UINT, int, int) { return false; }

}  // namespace warden
