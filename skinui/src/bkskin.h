// Skins: named ways of painting a rectangle, loaded from the skin table into the skin pool.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "bkimage.h"
#include "bkobject.h"

// Element state bits that choose a look.
enum : DWORD {
    kBkStateHover = 0x01,
    kBkStatePushed = 0x02,
    kBkStateChecked = 0x04,
    kBkStateHidden = 0x08,
    kBkStateDisabled = 0x10,
};

class CBkSkinBase : public CBkObject {
public:
    // state: the element's state bits, or a sub-image index chosen by the element (-1 whole image).
    virtual void Draw(HDC dc, const RECT& rc, DWORD state) = 0;
    virtual void GetSkinSize(SIZE& size) const { size.cx = size.cy = 0; }
    virtual BOOL IgnoreState() const { return TRUE; }
};

// "imglst": a bitmap strip; draws sub-image number state at the rect's top-left.
class CBkImageSkin : public CBkSkinBase, public CBkImage {
public:
    static const char* const kTag;
    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void Draw(HDC dc, const RECT& rc, DWORD state) override;
    void GetSkinSize(SIZE& size) const override;
    BOOL IgnoreState() const override { return m_nSubImageWidth == 0; }
};

// Frame parts ("part"): the edge bits; 0x02 is in every code and has no effect.
enum : UINT {
    kBkFrameTop = 0x01,
    kBkFrameBottom = 0x04,
    kBkFrameLeft = 0x08,
    kBkFrameRight = 0x20,
    kBkFrameAll = 0x2F,
};

// "imgframe": a nine-part frame; corners unscaled, edges stretched from one-pixel lines.
class CBkSkinImgFrame : public CBkSkinBase {
public:
    static const char* const kTag;
    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void Draw(HDC dc, const RECT& rc, DWORD state) override;
    BOOL IgnoreState() const override { return m_imgSkin.IgnoreState(); }

    CBkImageSkin m_imgSkin;
    int m_nLeft = 0;
    int m_nTop = 0;
    COLORREF m_crBg = CLR_INVALID;
    UINT m_uDrawPart = kBkFrameAll;
};

// "imghorzex": a bar of fixed height, stretched horizontally; sub-image by state.
class CBkSkinImgHorzExtend : public CBkSkinBase {
public:
    static const char* const kTag;
    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void Draw(HDC dc, const RECT& rc, DWORD state) override;
    void GetSkinSize(SIZE& size) const override;
    BOOL IgnoreState() const override { return m_imgSkin.IgnoreState(); }
    // The sub-image a state draws: disabled 3, pushed 2, hover 1, else 0; -1 stays -1.
    static int SubImageOf(DWORD state);

    CBkImageSkin m_imgSkin;
    int m_nLeft = 0;
};

// "button": a flat face with a vertical gradient by state and a border.
class CBkSkinButton : public CBkSkinBase {
public:
    static const char* const kTag;
    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void Draw(HDC dc, const RECT& rc, DWORD state) override;
    BOOL IgnoreState() const override { return FALSE; }

    COLORREF m_crBg = RGB(0xEE, 0xEE, 0xEE);
    COLORREF m_crBorder = RGB(0x70, 0x70, 0x70);
    COLORREF m_crBgUp = RGB(0xEE, 0xEE, 0xEE);
    COLORREF m_crBgUpHover = RGB(0xEE, 0xEE, 0xEE);
    COLORREF m_crBgUpPush = RGB(0xCE, 0xCE, 0xCE);
    COLORREF m_crBgDown = RGB(0xD6, 0xD6, 0xD6);
    COLORREF m_crBgDownHover = RGB(0xE0, 0xE0, 0xE0);
    COLORREF m_crBgDownPush = RGB(0xC0, 0xC0, 0xC0);
};

// "gradation": a two-colour gradient, the rest of the rect in the end colour.
class CBkSkinGradation : public CBkSkinBase {
public:
    static const char* const kTag;
    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void Draw(HDC dc, const RECT& rc, DWORD state) override;

    COLORREF m_crFrom = CLR_INVALID;
    COLORREF m_crTo = CLR_INVALID;
    BOOL m_bVert = FALSE;
    int m_nSize = 0;
};

// "png": a PNG from BkPngPool, sub-image by state, natural size.
class CBkPngSkin : public CBkSkinBase {
public:
    static const char* const kTag;
    BOOL IsTag(const char* tag) const override;
    const char* TagName() const override { return kTag; }
    BOOL Load(TiXmlElement* xml) override;
    HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading) override;
    void Draw(HDC dc, const RECT& rc, DWORD state) override;
    void GetSkinSize(SIZE& size) const override;
    BOOL IgnoreState() const override { return m_nSubWidth == 0; }

    Gdiplus::GpImage* m_pImg = nullptr;  // owned by BkPngPool
    UINT m_nSrcId = 0;
    int m_nSubWidth = 0;
};

// A new skin of the class with that tag (default fields), or null for an unknown tag.
CBkSkinBase* CreateSkinByClass(const char* tag);

// Skins by name (exact); the pool owns them.
class BkSkinPool {
public:
    static BkSkinPool& Instance();
    static CBkSkinBase* GetSkin(const std::string& name);
    // Stores the skin under the name, destroying an earlier one of that name.
    void Add(const std::string& name, CBkSkinBase* skin);
    // Destroys every skin.
    void Clear();
    size_t Count() const { return m_skins.size(); }
    ~BkSkinPool() { Clear(); }

private:
    BkSkinPool() = default;
    std::map<std::string, CBkSkinBase*> m_skins;
};
