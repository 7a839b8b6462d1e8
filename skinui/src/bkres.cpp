#include "bkres.h"

#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

#include <tinyxml.h>

#include "bkskin.h"
#include "bkstyle.h"

BkResourceLoader& BkResourceLoader::Instance() {
    static BkResourceLoader* loader = new BkResourceLoader;
    return *loader;
}

// The file "<folder>\<id>.<type>" whole; FALSE (out untouched, or emptied by a short read) otherwise.
static BOOL LoadFromFolder(const std::wstring& folder, UINT16 id, LPCWSTR type, std::string& bytes) {
    wchar_t path[MAX_PATH * 2];
    int n = swprintf(path, sizeof(path) / sizeof(path[0]), L"%ls\\%d.%ls", folder.c_str(), (int)id, type);
    if (n < 0) return FALSE;
    HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    BOOL ok = FALSE;
    DWORD size = ::GetFileSize(file, nullptr);
    if (size != 0 && size != INVALID_FILE_SIZE) {
        std::string buf;
        buf.reserve((size_t)size + 10);
        buf.resize(size);
        DWORD got = 0;
        if (::ReadFile(file, &buf[0], size, &got, nullptr) && got == size) {
            bytes.swap(buf);
            ok = TRUE;
        } else {
            bytes.clear();
        }
    }
    ::CloseHandle(file);
    return ok;
}

BOOL BkResourceLoader::LoadResource(UINT16 id, LPCWSTR type, std::string& bytes) {
    if (!type) return FALSE;
    BkResourceLoader& self = Instance();
    if (!self.m_skinFolder.empty() && LoadFromFolder(self.m_skinFolder, id, type, bytes)) return TRUE;

    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!res) return FALSE;
    DWORD size = ::SizeofResource(module, res);
    HGLOBAL data = size ? ::LoadResource(module, res) : nullptr;
    const void* p = data ? ::LockResource(data) : nullptr;
    if (!p) return FALSE;
    bytes.assign(static_cast<const char*>(p), size);
    ::FreeResource(data);
    return TRUE;
}

// ---- parsers -----------------------------------------------------------------------------------

DWORD BkHexToInt(const char* text, int maxDigits) {
    if (!text) return 0;
    DWORD value = 0;
    for (int i = 0; text[i] && (maxDigits < 0 || i < maxDigits); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return 0;
        value = (value << 4) + (DWORD)digit;
    }
    return value;
}

COLORREF BkColorFromHex(const char* text) {
    if (!text) return 0;
    const size_t len = strlen(text);
    BYTE part[3] = {0, 0, 0};
    for (size_t i = 0; i < 3; ++i)
        if (2 * i < len) part[i] = (BYTE)BkHexToInt(text + 2 * i, 2);
    return RGB(part[0], part[1], part[2]);
}

std::wstring BkUtf8ToWide(const char* text) {
    if (!text || !*text) return std::wstring();
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 1) return std::wstring();
    std::wstring w((size_t)n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, &w[0], n);
    w.resize((size_t)n - 1);
    return w;
}

// ---- tables ------------------------------------------------------------------------------------

static BOOL ParseXml(const std::string& bytes, TiXmlDocument& doc) {
    doc.Parse(bytes.c_str(), nullptr, TIXML_ENCODING_UTF8);
    return !doc.Error();
}

BOOL LoadStringXml() {
    std::string bytes;
    if (!BkResourceLoader::LoadResource(kBkStringXmlId, L"xml", bytes)) return FALSE;
    TiXmlDocument doc;
    if (!ParseXml(bytes, doc)) return FALSE;
    TiXmlElement* root = doc.FirstChildElement();
    if (!root || strcmp(root->Value(), "string") != 0) return FALSE;
    BkString& table = BkString::Instance();
    for (TiXmlElement* s = root->FirstChildElement("s"); s; s = s->NextSiblingElement("s")) {
        const char* id = s->Attribute("id");
        if (!id) continue;
        const TiXmlNode* first = s->FirstChild();
        const TiXmlText* text = first ? first->ToText() : nullptr;
        table.Set((UINT)StrToIntA(id), text ? BkUtf8ToWide(text->Value()) : std::wstring());
    }
    return TRUE;
}

BOOL LoadSkinXml() {
    std::string bytes;
    if (!BkResourceLoader::LoadResource(kBkSkinXmlId, L"xml", bytes)) return FALSE;
    BkSkinPool& pool = BkSkinPool::Instance();
    pool.Clear();
    TiXmlDocument doc;
    if (!ParseXml(bytes, doc)) return FALSE;
    TiXmlElement* root = doc.FirstChildElement();
    if (!root || strcmp(root->Value(), "skins") != 0) return TRUE;
    for (TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const char* name = e->Attribute("name");
        if (!name) continue;
        CBkSkinBase* skin = CreateSkinByClass(e->Value());
        if (!skin) continue;
        skin->Load(e);
        pool.Add(name, skin);
    }
    return TRUE;
}

BOOL LoadStyleXml() {
    std::string bytes;
    if (!BkResourceLoader::LoadResource(kBkStyleXmlId, L"xml", bytes)) return FALSE;
    BkStylePool& pool = BkStylePool::Instance();
    pool.Reset();
    TiXmlDocument doc;
    if (!ParseXml(bytes, doc)) return FALSE;
    TiXmlElement* root = doc.FirstChildElement();
    if (!root || strcmp(root->Value(), "style") != 0) return TRUE;
    for (TiXmlElement* e = root->FirstChildElement("class"); e; e = e->NextSiblingElement("class")) {
        const char* name = e->Attribute("name");
        if (!name) continue;
        pool.Entry(name).Load(e);
    }
    return TRUE;
}

void BkLoadSkinTables(BOOL withFontFace) {
    LoadStringXml();
    if (withFontFace) BkFontPool::SetDefaultFontFace(BkString::Get(0));
    LoadSkinXml();
    LoadStyleXml();
}
