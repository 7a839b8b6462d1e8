// A stand-in for the dialog view in element tests that need no mouse: a real child window
// (control id 1000) of a small top-level window. It hosts elements, places and paints them, and
// records what they send: the redraw requests it gets itself, and the moved notifications that
// reach the top-level window. It routes no mouse input: hover, press and click rules are the
// view's, so tests of them drive the real view.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "bkskin.h"
#include "bkwnd.h"

namespace eh {

// An element of class T loaded from one XML element (null when the text does not parse or the
// tag is not T's).
template <class T>
std::unique_ptr<T> LoadElement(const std::string& xml, HBKWND parent = 0, HWND container = nullptr) {
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    TiXmlElement* e = doc.FirstChildElement();
    if (!e) return nullptr;
    std::unique_ptr<T> w(T::CreateIfTag(e->Value()));
    if (!w) return nullptr;
    w->SetParent(parent);
    w->SetContainerWindow(container);
    w->Load(e);
    return w;
}

// An element with children of its own: enough of a container for the inherited bits.
class TestPanel : public CBkContainerWnd {
public:
    static constexpr const char* kTag = "testpanel";
    static TestPanel* CreateIfTag(const char* t) { return (t && strcmp(t, kTag) == 0) ? new TestPanel() : nullptr; }
    BOOL IsTag(const char* t) const override { return t && strcmp(t, kTag) == 0; }
    const char* TagName() const override { return kTag; }
    void RepositionChild(CBkWindow* child) override { repositioned.push_back(child); }
    std::vector<CBkWindow*> repositioned;
};

// A skin of the tests' own: fills the rect with a colour that names the state it was given, reports
// a fixed size, and records every draw. Add it to BkSkinPool (which then owns it) with Install.
class RecSkin : public CBkSkinBase {
public:
    RecSkin(SIZE size, BOOL ignoreState) : size_(size), ignore_(ignoreState) {}
    static RecSkin* Install(const std::string& name, SIZE size = SIZE{0, 0}, BOOL ignoreState = FALSE) {
        RecSkin* s = new RecSkin(size, ignoreState);
        BkSkinPool::Instance().Add(name, s);
        return s;
    }
    // The colour a state fills with: red carries the state (or 0xFF for -1).
    static COLORREF ColourOf(DWORD state) { return RGB(state == (DWORD)-1 ? 0xFF : (BYTE)(0x20 + state), 0x80, 0x40); }

    BOOL IsTag(const char*) const override { return FALSE; }
    const char* TagName() const override { return "recskin"; }
    void Draw(HDC dc, const RECT& rc, DWORD state) override {
        draws.push_back({rc, state});
        const COLORREF old = ::SetBkColor(dc, ColourOf(state));
        ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
        ::SetBkColor(dc, old);
    }
    void GetSkinSize(SIZE& size) const override { size = size_; }
    BOOL IgnoreState() const override { return ignore_; }

    struct DrawCall {
        RECT rc;
        DWORD state;
    };
    std::vector<DrawCall> draws;

private:
    SIZE size_;
    BOOL ignore_;
};

struct Redraw {
    UINT_PTR idFrom;
    UINT code;
    HWND hwndFrom;
    WPARAM wParam;
    HBKWND handle;
    RECT rc;
};

struct Moved {
    WPARAM wParam;
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT item;
    RECT rc;
};

class Host {
public:
    // A top-level window at (x, y) with the view filling its client area.
    explicit Host(int cx = 320, int cy = 200, COLORREF background = RGB(0xFF, 0xFF, 0xFF));
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool ok() const { return view_ != nullptr; }
    HWND view() const { return view_; }
    HWND frame() const { return frame_; }

    // Hosts the element (looked up by handle at each paint, as the view does) and places it in
    // the view's whole client area through WM_WINDOWPOSCHANGED.
    void Add(CBkWindow* w, bool place = true);
    // Offers the element the box (x, y, cx, cy); a "pos" origin is resolved in it, as a container does.
    void Place(CBkWindow* w, int x, int y, int cx, int cy);

    // The element's rect centre, in view coordinates.
    static POINT Centre(const CBkWindow* w);

    // Paints every hosted element that is visible (deep) into the DC, as the view does (background
    // mode TRANSPARENT).
    void PaintAll(HDC dc);

    std::vector<Redraw> redraws;
    std::vector<Moved> moved;

    // The view's window procedure.
    LRESULT OnView(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    HWND frame_ = nullptr;
    HWND view_ = nullptr;
    COLORREF background_;
    std::vector<HBKWND> elements_;
};

}  // namespace eh
