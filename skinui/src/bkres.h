// Skin resources: the loader of resource bytes, the hexadecimal and colour parsers of the XML
// readers, and the start-up loading of the string, skin and style tables.
#pragma once

#include <windows.h>

#include <string>

// Resource ids of the three tables (type "xml").
enum : UINT { kBkSkinXmlId = 100, kBkStyleXmlId = 101, kBkStringXmlId = 102 };

class BkResourceLoader {
public:
    static BkResourceLoader& Instance();

    // The bytes of resource (id, type): from "<skin folder>\<id>.<type>" when the folder is set and
    // that file is readable and not empty, else from the program's own resources. FALSE when
    // neither has it (the output is then left as it was).
    static BOOL LoadResource(UINT16 id, LPCWSTR type, std::string& bytes);

    std::wstring m_skinFolder;        // empty: resources only
    HMODULE m_resourceModule = nullptr;  // for bitmaps; null: the program's own module

private:
    BkResourceLoader() = default;
};

// Hexadecimal text to a number, reading at most maxDigits digits (-1: no limit). Any character
// that is not a hexadecimal digit makes the whole result 0.
DWORD BkHexToInt(const char* text, int maxDigits = -1);
// Six hexadecimal digits RRGGBB to a COLORREF; a missing or bad pair reads as 0.
COLORREF BkColorFromHex(const char* text);

// The table loaders (resources 102, 100 and 101).
BOOL LoadStringXml();
BOOL LoadSkinXml();
BOOL LoadStyleXml();

// The start-up order: strings, the font face from string 0 (when withFontFace), skins, styles.
// Styles name fonts whose face comes from string 0, and skins that must exist when they draw.
void BkLoadSkinTables(BOOL withFontFace);

// UTF-8 to UTF-16 (invalid sequences as U+FFFD).
std::wstring BkUtf8ToWide(const char* text);
