// "imglisth": a row of skins, each given by index through "skinlist" and "sublist".
#include "bkleaf.h"

#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

#include <new>

#include <tinyxml.h>

namespace {

// Calls fn(key, value) for every "key=value" item of a ','-separated list; empty items and items
// without '=' are left out, nothing is trimmed.
template <class Fn>
void ForEachItem(const std::string& list, Fn fn) {
    const std::string text = list + ",";
    size_t from = 0;
    for (size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1) {
        const std::string item = text.substr(from, comma - from);
        if (item.empty()) continue;
        const size_t eq = item.find('=');
        if (eq == std::string::npos) continue;
        fn(item.substr(0, eq), item.substr(eq + 1));
    }
}

std::string Key(const char* prefix, int i) {
    char key[32];
    snprintf(key, sizeof key, "%s%d", prefix, i);
    return key;
}

}  // namespace

HRESULT CBkImageListHWnd::ApplySkinList(const std::string& list) {
    try {
        ForEachItem(list, [this](const std::string& key, const std::string& value) {
            m_mapSkin[key] = BkSkinPool::GetSkin(value);
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_FALSE;
}

HRESULT CBkImageListHWnd::ApplySubList(const std::string& list) {
    try {
        ForEachItem(list, [this](const std::string& key, const std::string& value) {
            m_mapSub[key] = StrToIntA(value.c_str());
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_FALSE;
}

HRESULT CBkImageListHWnd::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    if (name == "skinlist") {
        if (value.empty()) return S_FALSE;
        m_strSkinList = value;
        return ApplySkinList(value);
    }
    if (name == "sublist") {
        if (value.empty()) return S_FALSE;
        m_strSubList = value;
        return ApplySubList(value);
    }
    if (name == "imagecount") {
        m_nImageCount = StrToIntA(value.c_str());
        return S_FALSE;
    }
    if (name == "skin") {
        m_pSkin = BkSkinPool::GetSkin(value);
        return S_OK;
    }
    if (name == "sub") {
        m_nSubImageID = StrToIntA(value.c_str());
        return S_FALSE;
    }
    return E_FAIL;
}

BOOL CBkImageListHWnd::Load(TiXmlElement* xml) {
    if (!CBkWindow::Load(xml)) return FALSE;
    try {
        for (int i = 0; i < m_nImageCount; ++i) {
            m_mapSkin[Key("skin", i)] = nullptr;
            m_mapSub[Key("sub", i)] = -1;
        }
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    // The lists again, so that their entries win over the reset.
    for (const TiXmlAttribute* a = xml->FirstAttribute(); a; a = a->Next()) {
        const char* name = a->Name() ? a->Name() : "";
        const std::string value = a->Value() ? a->Value() : "";
        HRESULT hr = S_FALSE;
        if (_stricmp(name, "skinlist") == 0) hr = ApplySkinList(value);
        else if (_stricmp(name, "sublist") == 0) hr = ApplySubList(value);
        if (hr == E_OUTOFMEMORY) return FALSE;
    }
    return TRUE;
}

CBkSkinBase* CBkImageListHWnd::SkinAt(int i) const {
    auto it = m_mapSkin.find(Key("skin", i));
    return it == m_mapSkin.end() ? nullptr : it->second;
}

int CBkImageListHWnd::SubAt(int i) const {
    auto it = m_mapSub.find(Key("sub", i));
    return it == m_mapSub.end() ? -1 : it->second;
}

BOOL CBkImageListHWnd::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_PAINT: {
        RECT rc = m_rcWindow;
        for (int i = 0; i < m_nImageCount; ++i) {
            CBkSkinBase* skin = SkinAt(i);
            if (!skin) continue;  // no skin, no room
            skin->Draw((HDC)wParam, rc, (DWORD)SubAt(i));
            SIZE size = {0, 0};
            skin->GetSkinSize(size);
            ::OffsetRect(&rc, size.cx, 0);
        }
        break;
    }
    case WM_NCCALCSIZE: {
        CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
        SIZE* size = (SIZE*)lParam;
        if (size && m_pSkin) {
            SIZE skin = {0, 0};
            m_pSkin->GetSkinSize(skin);
            if (skin.cx) size->cx = skin.cx;
            if (skin.cy) size->cy = skin.cy;
        }
        break;
    }
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
