// Containers of the element tree: panels that own, place, paint, hit-test and search their
// children, a panel embedded from an XML resource, and the element factory that turns tags into
// elements.
#pragma once

#include <windows.h>

#include <vector>

#include "bkwnd.h"

class TiXmlElement;

// A panel: owns its children in document order. Its tag "div" is not in the factory; it serves as
// the base of the dialog-like containers.
class CBkPanel : public CBkContainerWnd {
public:
    static const char* const kTag;  // "div"
    ~CBkPanel() override;

    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void SetContainerWindow(HWND hWnd) override;
    HBKWND HitTest(POINT pt) override;
    BOOL PaintInRegion(HDC dc, HRGN region) override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    CBkWindow* FindChild(int cmdId) override;

    // Replaces the children by the elements built from `first` and its following sibling elements.
    BOOL LoadChildren(TiXmlElement* first);
    // Shows or hides the real windows under the panel, however deep.
    void ShowChildren(BOOL show);

    const std::vector<CBkWindow*>& Children() const { return m_children; }
    int OnlyDrawChild() const { return m_nOnlyDrawChild; }

    // A new element for the tag (the factory's fixed order), or null for a tag it does not make.
    static CBkWindow* CreateChildByTag(const char* tag);

protected:
    void DestroyChildren();

    std::vector<CBkWindow*> m_children;
    int m_nOnlyDrawChild = 0;
};

// "dlg": a panel that places each child by its "pos" inside its own margins.
class CBkDialog : public CBkPanel {
public:
    static const char* const kTag;  // "dlg"
    static CBkWindow* CreateIfTag(const char* tag);

    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void RepositionChildren() override;
    void RepositionChild(CBkWindow* child) override;
};

// "dlgfile": a dialog whose children come from the XML resource named by "src".
class CBkDialogFile : public CBkDialog {
public:
    static const char* const kTag;  // "dlgfile"
    static CBkWindow* CreateIfTag(const char* tag);

    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    BOOL Load(TiXmlElement* xml) override;
};

// Shows or hides the real windows of one element of a container, by its kind: a realwnd's child
// window, an edit's or a combo's windows, or the real windows under a container.
void BkShowRealWindowsOf(CBkWindow* child, BOOL on);

// The windows of the container window that an edit or combo element put there (property "WndX").
std::vector<HWND> BkRealWindowsOfElement(CBkWindow* element);
