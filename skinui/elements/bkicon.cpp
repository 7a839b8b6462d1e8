// "icon": an icon resource of the program, or a system icon with "oem", drawn at the rect's size.
#include "bkleaf.h"

#include <shlwapi.h>

#include "bkres.h"

CBkIconWnd::~CBkIconWnd() { FreeIcon(); }

void CBkIconWnd::FreeIcon() {
    // LoadIconW hands out the system's shared copy: destroying it would break it for the process.
    if (m_hIcon && !m_bShared) ::DestroyIcon(m_hIcon);
    m_hIcon = nullptr;
    m_bShared = FALSE;
}

void CBkIconWnd::LoadIconNow() {
    FreeIcon();
    if (m_bOem) {
        m_hIcon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(m_nSrc));
        m_bShared = m_hIcon != nullptr;
    } else {
        HMODULE module = BkResourceLoader::Instance().m_resourceModule;
        if (!module) module = ::GetModuleHandleW(nullptr);
        m_hIcon = (HICON)::LoadImageW(module, MAKEINTRESOURCEW(m_nSrc), IMAGE_ICON, m_nSize, m_nSize, LR_DEFAULTCOLOR);
    }
    m_nLoadedSrc = m_nSrc;
}

BOOL CBkIconWnd::Load(TiXmlElement* xml) {
    if (!CBkWindow::Load(xml)) return FALSE;
    LoadIconNow();
    return TRUE;
}

HRESULT CBkIconWnd::SetAttribute(const std::string& name, const std::string& value, BOOL loading) {
    HRESULT hr = CBkWindow::SetAttribute(name, value, loading);
    if (SUCCEEDED(hr)) return hr;
    const int n = StrToIntA(value.c_str());
    if (name == "src") {
        m_nSrc = n;
        return S_FALSE;
    }
    if (name == "oem") {
        m_bOem = n != 0;
        return S_FALSE;
    }
    if (name == "size") {
        m_nSize = n;
        return S_OK;
    }
    return E_FAIL;
}

BOOL CBkIconWnd::ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_PAINT:
        if (m_nSrc != m_nLoadedSrc) LoadIconNow();
        if (m_hIcon) {
            ::DrawIconEx((HDC)wParam, m_rcWindow.left, m_rcWindow.top, m_hIcon, m_rcWindow.right - m_rcWindow.left,
                         m_rcWindow.bottom - m_rcWindow.top, 0, nullptr, DI_NORMAL);
        }
        break;
    case WM_NCCALCSIZE: {
        SIZE* size = (SIZE*)lParam;
        if (size) size->cx = size->cy = m_nSize;
        break;
    }
    default:
        return CBkWindow::ProcessMessage(hWnd, msg, wParam, lParam, result);
    }
    result = 0;
    m_bMsgHandled = TRUE;
    return TRUE;
}
