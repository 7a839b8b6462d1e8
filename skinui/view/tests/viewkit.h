// What the view and dialog tests share: a skin folder for the tables, a top-level host window
// that owns a view and records what the view tells it, and XML helpers.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "bkres.h"
#include "bkstyle.h"
#include "bkview.h"
#include "bkwndreg.h"
#include "testsupport.h"
#include "uikit.h"
#include "winlayer.h"

// Serves skin tables and layouts from a temporary folder (the loader reads the folder first).
class TempSkinFolder {
public:
    TempSkinFolder() : dir_(ts::MakeTempDir(L"skinview")) { BkResourceLoader::Instance().m_skinFolder = dir_; }
    ~TempSkinFolder() {
        BkResourceLoader::Instance().m_skinFolder.clear();
        ts::RemoveTree(dir_);
    }
    bool Put(unsigned id, const std::string& bytes) const {
        return ts::WriteFileBytes(dir_ + L"\\" + std::to_wstring(id) + L".xml", bytes);
    }

private:
    std::wstring dir_;
};

// Loads the three tables from XML text (strings, skins, styles), in the start-up order.
inline void LoadTables(const std::string& strings, const std::string& skins, const std::string& styles) {
    TempSkinFolder folder;
    folder.Put(kBkStringXmlId, strings);
    folder.Put(kBkSkinXmlId, skins);
    folder.Put(kBkStyleXmlId, styles);
    LoadStringXml();
    LoadSkinXml();
    LoadStyleXml();
}

// One recorded WM_NOTIFY from the view (copied while it was alive).
struct Notice {
    HWND from;
    UINT_PTR id;
    UINT code;
    UINT item;         // BkCommandNotify::uItemID / BkTabChangeNotify::uTabID
    std::string tag;   // BkCommandNotify::szItemClass
    int newPage, oldPage;
};

// A popup window that hosts a view over its whole client area.
class ViewHost : public CWindowImpl<ViewHost, CWindow, CWinTraits<WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW>> {
public:
    DECLARE_WND_CLASS(L"SkinViewHost")

    CBkDialogView view;
    std::vector<Notice> notices;
    std::vector<UINT> commands;   // WM_COMMAND ids that reached the host
    int drags = 0;                // WM_SYSCOMMAND 0xF012 swallowed
    int vetoTabChanges = 0;       // non-zero: refuse every tab change
    int setCursorAsked = 0;       // WM_SETCURSOR that reached the host
    std::function<void()> onTabChange;  // runs inside the tab change notice, after it is recorded

    BEGIN_MSG_MAP(ViewHost)
        MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
        MESSAGE_HANDLER(WM_COMMAND, OnCommand)
        MESSAGE_HANDLER(WM_SYSCOMMAND, OnSysCommand)
        MESSAGE_HANDLER(WM_SIZE, OnSize)
        MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
    END_MSG_MAP()

    // Creates the window at (x, y) with that client size and the view in it, the layout loaded.
    bool Open(const std::string& layout, int cx = 300, int cy = 200, int x = 100, int y = 100) {
        if (!view.LoadLayout(layout)) return false;
        return OpenLoaded(cx, cy, x, y);
    }
    // The same for a layout loaded already (elements set up before their windows exist).
    bool OpenLoaded(int cx = 300, int cy = 200, int x = 100, int y = 100) {
        RECT rc = {x, y, x + cx, y + cy};
        if (!Create(nullptr, &rc, L"view host")) return false;
        if (!view.Create(m_hWnd)) return false;
        view.ShowAllRealWindows();
        RECT client;
        GetClientRect(&client);
        view.MoveWindow(&client, TRUE);
        return true;
    }
    ~ViewHost() override {
        if (IsWindow()) DestroyWindow();
    }

    std::vector<Notice> Clicks() const {
        std::vector<Notice> out;
        for (const Notice& n : notices)
            if (n.code == kBkNotifyCommand) out.push_back(n);
        return out;
    }
    // The centre of an element, in view coordinates.
    POINT CentreOf(int id) {
        CBkWindow* e = view.FindItem(id);
        RECT r = e ? e->GetRect() : RECT{};
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    LRESULT OnNotify(UINT, WPARAM, LPARAM lParam, BOOL&) {
        const NMHDR* hdr = (const NMHDR*)lParam;
        Notice n = {hdr->hwndFrom, hdr->idFrom, hdr->code, 0, std::string(), 0, 0};
        if (hdr->code == kBkNotifyCommand) {
            const BkCommandNotify* c = (const BkCommandNotify*)lParam;
            n.item = c->uItemID;
            n.tag = c->szItemClass ? c->szItemClass : "(null)";
        } else if (hdr->code == kBkNotifyTabChange) {
            BkTabChangeNotify* t = (BkTabChangeNotify*)lParam;
            n.item = t->uTabID;
            n.newPage = t->nNewPage;
            n.oldPage = t->nOldPage;
            if (vetoTabChanges) t->bCancel = TRUE;
        }
        notices.push_back(n);
        if (hdr->code == kBkNotifyTabChange && onTabChange) {
            auto handler = onTabChange;  // a handler may clear itself
            handler();
        }
        return 0;
    }
    LRESULT OnCommand(UINT, WPARAM wParam, LPARAM, BOOL&) {
        commands.push_back(LOWORD(wParam));
        return 0;
    }
    LRESULT OnSysCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
        if ((wParam & 0xFFF0) == SC_MOVE) {
            ++drags;  // the move loop would wait for a real button-up
            return 0;
        }
        handled = FALSE;
        return 0;
    }
    // Answers as Windows' default does for a window whose class has a cursor: the class arrow, TRUE.
    LRESULT OnSetCursor(UINT, WPARAM, LPARAM, BOOL&) {
        ++setCursorAsked;
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        return TRUE;
    }
    LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL& handled) {
        if (view.IsWindow()) {
            RECT client;
            GetClientRect(&client);
            view.MoveWindow(&client, TRUE);
        }
        handled = FALSE;
        return 0;
    }
};

// Parses one element of XML text for a Load call (the document lives as long as the helper).
class XmlOf {
public:
    explicit XmlOf(const std::string& text) { doc_.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8); }
    TiXmlElement* root() { return doc_.FirstChildElement(); }
    bool ok() const { return !doc_.Error(); }

private:
    TiXmlDocument doc_;
};

inline WINDOWPOS PlaceAt(int x, int y, int cx, int cy) {
    WINDOWPOS wp = {};
    wp.x = x;
    wp.y = y;
    wp.cx = cx;
    wp.cy = cy;
    return wp;
}
