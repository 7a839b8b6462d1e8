// The dialog templates and bitmaps that Gatehook.dll carries, as Winlogon will load them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "testsupport.h"

namespace {

struct Control {
    WORD cls;  // 0x80 button, 0x81 edit, 0x82 static
    int id;
    std::wstring text;  // or "#n" for a resource ordinal
    short x, y, cx, cy;
    DWORD style;  // bits that must be set
};

struct Dialog {
    int id;
    short cx, cy;
    DWORD style;
    std::wstring title;
    std::vector<Control> controls;  // in template (tab) order
};

struct Parsed {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring title, font;
    WORD pointSize = 0;
    std::vector<Control> controls;
    std::vector<DWORD> styles;
};

const BYTE* Align(const BYTE* p, const BYTE* base) {
    return base + ((p - base + 3) & ~3);
}

std::wstring ReadSzOrOrd(const BYTE*& p, WORD* ordinal = nullptr) {
    const WORD* w = reinterpret_cast<const WORD*>(p);
    if (*w == 0xFFFF) {
        if (ordinal) *ordinal = w[1];
        p += 4;
        return L"#" + std::to_wstring(w[1]);
    }
    std::wstring s(reinterpret_cast<const wchar_t*>(p));
    p += (s.size() + 1) * 2;
    return s;
}

Parsed Parse(HMODULE m, int id) {
    Parsed out;
    HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(id), RT_DIALOG);
    if (!r) return out;
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(m, r)));
    const BYTE* p = base;
    if (reinterpret_cast<const WORD*>(p)[1] != 0xFFFF) return out;  // DIALOGEX only
    p += 8;
    p += 4;  // exStyle
    out.style = *reinterpret_cast<const DWORD*>(p);
    p += 4;
    WORD count = *reinterpret_cast<const WORD*>(p);
    p += 2;
    const short* frame = reinterpret_cast<const short*>(p);
    out.cx = frame[2];
    out.cy = frame[3];
    p += 8;
    ReadSzOrOrd(p);  // menu
    ReadSzOrOrd(p);  // class
    out.title = ReadSzOrOrd(p);
    out.pointSize = *reinterpret_cast<const WORD*>(p);
    p += 6;
    out.font = ReadSzOrOrd(p);
    for (WORD i = 0; i < count; ++i) {
        p = Align(p, base);
        Control c = {};
        p += 8;  // help id, exStyle
        c.style = *reinterpret_cast<const DWORD*>(p);
        p += 4;
        const short* rc = reinterpret_cast<const short*>(p);
        c.x = rc[0], c.y = rc[1], c.cx = rc[2], c.cy = rc[3];
        p += 8;
        c.id = static_cast<int>(*reinterpret_cast<const DWORD*>(p));
        p += 4;
        // The class comes as an ordinal or by name, whichever the resource compiler chose.
        std::wstring cls = ReadSzOrOrd(p, &c.cls);
        if (lstrcmpiW(cls.c_str(), L"Button") == 0) c.cls = 0x80;
        if (lstrcmpiW(cls.c_str(), L"Edit") == 0) c.cls = 0x81;
        if (lstrcmpiW(cls.c_str(), L"Static") == 0) c.cls = 0x82;
        c.text = ReadSzOrOrd(p);
        WORD extra = *reinterpret_cast<const WORD*>(p);
        p += 2 + extra;
        out.controls.push_back(c);
    }
    return out;
}

const WORD B = 0x80, E = 0x81, S = 0x82;

const Dialog kDialogs[] = {
    {IDD_BOOT_NOTICE, 400, 215, WS_POPUP | WS_SYSMENU, L"",
     {
         {S, -1, L"#119", 0, 0, 400, 215, SS_BITMAP},
         {B, 1019, L"◎", 4, 195, 18, 14, BS_ICON | WS_TABSTOP},
     }},
    {IDD_EMERGENCY, 275, 134, WS_POPUP | WS_CAPTION | DS_MODALFRAME, L"Tolven电脑锁紧急登陆",
     {
         {B, IDOK, L"确定", 133, 114, 57, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
         {B, IDCANCEL, L"取消", 205, 114, 56, 14, WS_TABSTOP},
         {S, -1, L"请输入Tolven电脑锁软件的登录口令，如果您未修改过，默认口令是806", 9, 64, 259, 8, 0},
         {S, -1, L"口  令：", 11, 86, 28, 9, 0},
         {E, 1041, L"", 43, 84, 154, 14, WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL},
         {S, -1, L"#103", 0, 0, 275, 54, SS_BITMAP},
         {S, -1, L"#144", 0, 54, 275, 3, SS_BITMAP},
         {S, 1042, L".", 44, 103, 226, 8, 0},
     }},
    {IDD_LOCKED_NOTICE, 275, 172, WS_POPUP | WS_CAPTION | DS_MODALFRAME, L"Windows已被锁定",
     {
         {S, 1036, L"", 2, 62, 79, 76, SS_BLACKFRAME},
         {S, 1035, L"Tolven为您的安全和隐私护航，如要登录系统请插入您的认证Key", 87, 71, 183, 60, 0},
         {S, 1017, L"锁定用户", 3, 143, 61, 8, SS_CENTER},
         {S, 1020, L"", 5, 155, 212, 17, SS_LEFTNOWORDWRAP | SS_CENTERIMAGE},
         {S, -1, L"#103", 0, 0, 275, 54, SS_BITMAP},
         {S, -1, L"#144", 0, 54, 275, 3, SS_BITMAP},
         {B, -1, L"锁屏语：", 83, 60, 189, 78, BS_GROUPBOX},
         {B, IDOK, L"登   陆", 219, 156, 50, 14, WS_TABSTOP},
     }},
};

class GatehookResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExW(ts::InExeDir(L"Gatehook.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module_) << GetLastError();
    }
    void TearDown() override { FreeLibrary(module_); }
    HMODULE module_ = nullptr;
};

TEST_F(GatehookResources, DialogTemplatesAsSpecified) {
    for (const Dialog& want : kDialogs) {
        SCOPED_TRACE(want.id);
        Parsed got = Parse(module_, want.id);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style & want.style, want.style);
        if (!(want.style & WS_CAPTION)) {
            EXPECT_EQ(got.style & WS_CAPTION, 0u) << "no caption";
        }
        EXPECT_EQ(got.title, want.title);
        EXPECT_EQ(got.font, L"MS Shell Dlg");
        EXPECT_EQ(got.pointSize, 8);
        ASSERT_EQ(got.controls.size(), want.controls.size());
        for (size_t i = 0; i < want.controls.size(); ++i) {
            const Control& w = want.controls[i];
            const Control& g = got.controls[i];
            SCOPED_TRACE(testing::Message() << "control " << i << " " << ts::Narrow(w.text));
            EXPECT_EQ(g.cls, w.cls);
            EXPECT_EQ(g.id, w.id);
            EXPECT_EQ(g.text, w.text);
            EXPECT_EQ(g.x, w.x);
            EXPECT_EQ(g.y, w.y);
            EXPECT_EQ(g.cx, w.cx);
            EXPECT_EQ(g.cy, w.cy);
            EXPECT_EQ(g.style & w.style, w.style) << std::hex << g.style;
            if (w.cls == S && !(w.style & 0x1F)) {
                EXPECT_EQ(g.style & 0x1F, 0u) << "a plain left-aligned text";
            }
        }
    }
}

TEST_F(GatehookResources, BitmapsOfTheGivenSizesAndDepths) {
    struct {
        int id;
        LONG width, height;
        WORD bits;
    } cases[] = {{IDB_BANNER, 413, 88, 8}, {IDB_BOOT_PICTURE, 600, 350, 24}, {IDB_DEFAULT_USER, 120, 125, 24},
                 {IDB_SEPARATOR, 413, 5, 8}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.id);
        HRSRC r = FindResourceW(module_, MAKEINTRESOURCEW(c.id), RT_BITMAP);
        ASSERT_TRUE(r);
        auto bih = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module_, r)));
        EXPECT_EQ(bih->biWidth, c.width);
        EXPECT_EQ(bih->biHeight, c.height);
        EXPECT_EQ(bih->biBitCount, c.bits);
    }
}

}  // namespace
