// The wide string, the bitmap wrapper and the application object.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>

#include "winlayer.h"

namespace {

TEST(CStringFormat, FormatsWithC99RulesAndGrowsForLongText) {
    struct Case {
        const wchar_t* expect;
        CString got;
    };
    CString a, b, c, d;
    a.Format(L"%d-%ls", 42, L"宋体");
    b.Format(L"%u", 4294967295u);
    c.Format(L"%d%%", 57);
    d.Format(L"<button id=%d pos=\"%d,0,%d,-0\" class=normalbtn>%ls</button>", 1, 0, 80, L"确定");
    EXPECT_STREQ(a, L"42-宋体");
    EXPECT_STREQ(b, L"4294967295");
    EXPECT_STREQ(c, L"57%");
    EXPECT_STREQ(d, L"<button id=1 pos=\"0,0,80,-0\" class=normalbtn>确定</button>");

    std::wstring longText(5000, L'x');
    CString l;
    ASSERT_TRUE(l.Format(L"[%ls]", longText.c_str()));
    EXPECT_EQ(l.GetLength(), 5002);

    l.AppendFormat(L"%d", 7);
    EXPECT_EQ(l.Right(2), CString(L"]7"));
}

TEST(CStringFormat, PointerSizedNumbersKeepTheirFullWidth) {
    const UINT_PTR big = ~(UINT_PTR)0;
    CString s;
    s.Format(L"%Iu", big);
    wchar_t expect[32];
    if (sizeof(UINT_PTR) == 8)
        wcscpy(expect, L"18446744073709551615");
    else
        wcscpy(expect, L"4294967295");
    EXPECT_STREQ(s, expect);
    EXPECT_EQ(_wcstoui64(s, nullptr, 10), (unsigned long long)big);
}

TEST(CStringEdit, SlicesAndSearchesStayInsideTheText) {
    CString s(L"abcdef");
    EXPECT_EQ(s.Left(2), CString(L"ab"));
    EXPECT_EQ(s.Left(0), CString(L""));
    EXPECT_EQ(s.Left(99), CString(L"abcdef"));
    EXPECT_EQ(s.Right(2), CString(L"ef"));
    EXPECT_EQ(s.Right(99), CString(L"abcdef"));
    EXPECT_EQ(s.Mid(2), CString(L"cdef"));
    EXPECT_EQ(s.Mid(2, 2), CString(L"cd"));
    EXPECT_EQ(s.Mid(10), CString(L""));
    EXPECT_EQ(s.Find(L'c'), 2);
    EXPECT_EQ(s.Find(L"de"), 3);
    EXPECT_EQ(s.Find(L'z'), -1);
    EXPECT_EQ(s.Find(L'a', 99), -1);

    CString r(L"a.b.c");
    EXPECT_EQ(r.Replace(L".", L".."), 2);
    EXPECT_EQ(r, CString(L"a..b..c"));
    EXPECT_EQ(r.ReverseFind(L'.'), 5);

    CString t(L"  x y \t");
    EXPECT_EQ(t.Trim(), CString(L"x y"));

    CString buf;
    wchar_t* p = buf.GetBuffer(10);
    wcscpy(p, L"hi");
    buf.ReleaseBuffer();
    EXPECT_EQ(buf.GetLength(), 2);
    EXPECT_TRUE(CString().IsEmpty());
    EXPECT_EQ(CString(nullptr).GetLength(), 0);
}

TEST(BitmapWrapper, OnlyTheManagedFormDeletesItsBitmap) {
    HBITMAP shared = CreateBitmap(4, 3, 1, 32, nullptr);
    {
        CBitmapHandle view(shared);
        SIZE s;
        ASSERT_TRUE(view.GetSize(s));
        EXPECT_EQ(s.cx, 4);
        EXPECT_EQ(s.cy, 3);
    }
    BITMAP bm;
    EXPECT_NE(GetObjectW(shared, sizeof(bm), &bm), 0);  // still alive
    {
        CBitmap owner(shared);
    }
    EXPECT_EQ(GetObjectW(shared, sizeof(bm), &bm), 0);  // deleted by its owner

    CBitmapHandle none;
    SIZE s = {9, 9};
    EXPECT_FALSE(none.GetSize(s));
    EXPECT_EQ(s.cx, 0);
}

TEST(AppModule, KnowsItsInstanceAndMainThread) {
    CAppModule module;
    EXPECT_FALSE(module.IsInitialized());
    ASSERT_EQ(module.Init(nullptr, nullptr), S_OK);
    EXPECT_EQ(module.GetModuleInstance(), GetModuleHandleW(nullptr));
    EXPECT_EQ(module.GetResourceInstance(), GetModuleHandleW(nullptr));
    EXPECT_EQ(module.GetMainThreadId(), GetCurrentThreadId());
    EXPECT_EQ(WinModuleInstance(), GetModuleHandleW(nullptr));
    module.Term();
    EXPECT_FALSE(module.IsInitialized());
}

}  // namespace
