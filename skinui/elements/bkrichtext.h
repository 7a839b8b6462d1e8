// "richtext": inline mark-up (bold, italic, underline, colour, line breaks, links) laid out from
// left to right inside the element, lines broken between characters. A click on a link reports
// the link's own id to the dialog.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "bkleaf.h"

class TiXmlElement;
class TiXmlNode;

class CBkRichText : public CBkWindow {
    BK_DECLARE_ELEMENT(CBkRichText, "richtext")

public:
    // One "a" of the mark-up, placed by the layout paint.
    struct Link {
        CString text;
        int id = 0;     // "id"; 0 without one
        RECT rect = {}; // view client coordinates: where the text is drawn and the mouse hits it
        POINT penAfter = {};  // where the layout left the pen after the link
    };

    CBkRichText();
    ~CBkRichText() override;

    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void SetCursor() override;
    BOOL ProcessMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    const std::vector<Link>& GetLinks() const { return m_links; }
    BOOL IsLaidOut() const { return m_bLaidOut; }
    int GetHoverLink() const { return m_nHoverLink; }
    WORD GetDefaultFont() const { return m_wDefaultFont; }
    const BkStyle& GetLinkStyle() const { return m_linkStyle; }

private:
    struct Pen;
    void Paint(HDC dc);
    void Visit(HDC dc, const TiXmlNode* node, WORD code, BOOL inLink, Pen& pen);
    void PlaceRun(HDC dc, const std::wstring& run, BOOL inLink, Pen& pen);
    void PlaceLink(HDC dc, const TiXmlElement* a, Pen& pen);
    void DrawLinks(HDC dc);
    void ResetLayout();
    void OnMouseMove(POINT pt);
    void OnLButtonUp();

    std::unique_ptr<TiXmlElement> m_markup;
    WORD m_wDefaultFont = 0;
    BkStyle m_linkStyle;
    BOOL m_bLaidOut = FALSE;
    int m_nHoverLink = -1;    // index into m_links
    int m_nPressedLink = -1;
    std::vector<Link> m_links;
    size_t m_nNextLink = 0;   // later paints: the link the pen meets next
};
