// The edit element: its "BkEdit" window over the frame, the element text following what is typed
// only through the dialog's reflection, password fields, the 100-character limit, the disabled
// look and the window's lifetime.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bkedit.h"
#include "bkstyle.h"
#include "reflecthost.h"
#include "uikit.h"
#include "uinput.h"

namespace {

std::wstring WindowText(HWND h) {
    wchar_t buf[512] = {};
    ::GetWindowTextW(h, buf, 512);
    return buf;
}

// Types into the edit window through the input queue and waits until its text has that length.
bool TypeInto(rh::Host& host, HWND edit, const std::wstring& text, int expectLength) {
    if (!ts::WaitForeground(host.dialog())) return false;
    ::SetFocus(edit);
    rh::TypeText(text);
    return ts::PumpUntil([&] { return ::GetWindowTextLengthW(edit) == expectLength; }, 5000);
}

TEST(Edit, MakesItsBkEditWindowOverTheFrameWhenPlaced) {
    rh::Host host;
    ASSERT_TRUE(host.ok());
    std::unique_ptr<CBkEdit> e(rh::Load<CBkEdit>("<edit id=\"30006\" pos=\"20,30,220,54\">start</edit>"));
    ASSERT_TRUE(e);
    EXPECT_EQ(nullptr, e->EditWindow()) << "no window before the element has a host";
    host.Add(e.get());
    HWND w = e->EditWindow();
    ASSERT_TRUE(w);

    wchar_t cls[32] = {};
    ::GetClassNameW(w, cls, 32);
    EXPECT_STREQ(L"BkEdit", cls);
    EXPECT_EQ(host.view(), ::GetParent(w));
    EXPECT_EQ(30006, ::GetDlgCtrlID(w));
    EXPECT_EQ((HANDLE)e.get(), ::GetPropW(w, L"WndX"));
    EXPECT_EQ((LONG_PTR)CBkEdit::kStylePlain, ::GetWindowLongPtrW(w, GWL_STYLE) & 0xFFFFFFFF);
    EXPECT_EQ(std::wstring(L"start"), WindowText(w));
    EXPECT_EQ(100, (int)::SendMessageW(w, EM_GETLIMITTEXT, 0, 0));
    EXPECT_NE(w, ::GetFocus()) << "the edit does not take the focus";

    RECT r = {};
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, host.view(), (POINT*)&r, 2);
    EXPECT_EQ(22, r.left);
    EXPECT_EQ(32, r.top);
    EXPECT_EQ(196, r.right - r.left);
    EXPECT_EQ(20, r.bottom - r.top);

    ASSERT_EQ(1u, host.moved.size());
    EXPECT_EQ(host.view(), host.moved[0].hwndFrom);
    EXPECT_EQ(1000u, host.moved[0].idFrom);
    EXPECT_EQ(30006u, host.moved[0].item);
    EXPECT_EQ(r.left, host.moved[0].rc.left);
    EXPECT_EQ(r.bottom, host.moved[0].rc.bottom);
    EXPECT_EQ(w, e->GetEditWindow()) << "the window is made once";
}

TEST(Edit, TypedTextReachesTheElementOnlyThroughReflection) {
    struct Case {
        bool reflect;
        const wchar_t* expect;
    } const cases[] = {{true, L"xyzabc"}, {false, L"xyz"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reflect ? "reflecting dialog" : "dialog without reflection");
        rh::Host host(500, 300, c.reflect);
        std::unique_ptr<CBkEdit> e(rh::Load<CBkEdit>("<edit id=\"10003\" pos=\"20,30,220,54\">xyz</edit>"));
        ASSERT_TRUE(e);
        host.Add(e.get());
        HWND w = e->EditWindow();
        ASSERT_TRUE(w);
        ::SendMessageW(w, EM_SETSEL, 3, 3);
        ASSERT_TRUE(TypeInto(host, w, L"abc", 6));
        EXPECT_EQ(std::wstring(L"xyzabc"), WindowText(w));
        EXPECT_EQ(std::wstring(c.expect), e->GetInnerText().str());
        EXPECT_FALSE(host.commandCodes.empty()) << "the view passed the edit's commands on";
    }
}

TEST(Edit, SetTextChangesElementAndWindowAndNoMoreThan100CharactersGoIn) {
    rh::Host host;
    // Tall enough for every line: the multi-line box takes no more text than it can show.
    std::unique_ptr<CBkEdit> e(rh::Load<CBkEdit>("<edit id=\"7\" pos=\"20,30,420,280\"/>"));
    ASSERT_TRUE(e);
    host.Add(e.get());
    HWND w = e->EditWindow();
    ASSERT_TRUE(w);
    e->SetText(L"hello");
    EXPECT_EQ(std::wstring(L"hello"), WindowText(w));
    EXPECT_EQ(std::wstring(L"hello"), e->GetInnerText().str());

    e->SetText(L"");
    for (int i = 0; i < 120; ++i) ::PostMessageW(w, WM_CHAR, L'k', 1);
    ts::PumpMessages(0);
    EXPECT_EQ(100, ::GetWindowTextLengthW(w));
    EXPECT_EQ(std::wstring(100, L'k'), e->GetInnerText().str());
}

TEST(Edit, PasswordFieldIsSingleLineAndShowsStarsInWindowAndDrawing) {
    rh::Host host;
    std::unique_ptr<CBkEdit> pw(rh::Load<CBkEdit>("<edit id=\"10003\" pos=\"20,30,220,54\" password=\"1\">abc</edit>"));
    std::unique_ptr<CBkEdit> plain(rh::Load<CBkEdit>("<edit id=\"10004\" pos=\"20,80,220,104\">***</edit>"));
    ASSERT_TRUE(pw && plain);
    EXPECT_TRUE(pw->IsPassword());
    host.Add(pw.get());
    host.Add(plain.get());
    HWND w = pw->EditWindow();
    ASSERT_TRUE(w);
    const LONG_PTR style = ::GetWindowLongPtrW(w, GWL_STYLE) & 0xFFFFFFFF;
    EXPECT_EQ((LONG_PTR)0x500100A0, style);
    EXPECT_FALSE(style & ES_MULTILINE);
    EXPECT_EQ(L'*', (wchar_t)::SendMessageW(w, EM_GETPASSWORDCHAR, 0, 0));
    EXPECT_EQ(std::wstring(L"abc"), WindowText(w)) << "the window keeps the real text";

    // The window shows what a plain edit of the same kind shows for "***".
    HWND ref = ::CreateWindowExW(0, L"EDIT", L"***", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 22, 132, 196, 20,
                                 host.view(), nullptr, nullptr, nullptr);
    HWND clear = ::CreateWindowExW(0, L"EDIT", L"abc", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 22, 162, 196, 20,
                                   host.view(), nullptr, nullptr, nullptr);
    ASSERT_TRUE(ref && clear);
    for (HWND h : {ref, clear}) {
        ::SendMessageW(h, WM_SETFONT, (WPARAM)BkFontPool::GetFont(0), FALSE);
        ::SendMessageW(h, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    }
    ts::Capture a = ts::CaptureView(w), b = ts::CaptureView(ref), c = ts::CaptureView(clear);
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    ASSERT_EQ(b.width, a.width);
    ASSERT_EQ(b.height, a.height);
    EXPECT_EQ(b.pixels, a.pixels) << "the password window must show stars";
    EXPECT_NE(c.pixels, a.pixels) << "and not the text in clear";

    // The drawn text: one star per character, as the plain element draws its three stars.
    ts::Dib da(240, 40), db(240, 40);
    ASSERT_TRUE(da.ok() && db.ok());
    RECT r1 = pw->GetRect(), r2 = plain->GetRect();
    ::SetViewportOrgEx(da.dc(), -r1.left, -r1.top, nullptr);
    ::SetViewportOrgEx(db.dc(), -r2.left, -r2.top, nullptr);
    pw->PaintInRegion(da.dc(), nullptr);
    plain->PaintInRegion(db.dc(), nullptr);
    EXPECT_EQ(0, [&] {
        int diff = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 240; ++x)
                if (da.At(x, y) != db.At(x, y)) ++diff;
        return diff;
    }());
    ::DestroyWindow(ref);
    ::DestroyWindow(clear);
}

TEST(Edit, DisabledEditDrawsGreyAndItsWindowTakesNoInput) {
    rh::Host host;
    std::unique_ptr<CBkEdit> e(rh::Load<CBkEdit>("<edit id=\"5\" pos=\"20,30,220,54\">x</edit>"));
    ASSERT_TRUE(e);
    host.Add(e.get());
    HWND w = e->EditWindow();
    ASSERT_TRUE(w);
    e->ModifyState(kBkStateDisabled, 0);

    ts::Dib dib(300, 100);
    e->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(CBkEdit::kDisabledBackground, dib.At(200, 35));
    EXPECT_EQ(CBkEdit::kBorderColour, dib.At(20, 40));
    EXPECT_FALSE(::IsWindowEnabled(w)) << "the window follows the element's disabled state";

    ::SendMessageW(w, EM_SETSEL, 0, 0);
    ts::ClickAt(host.view(), POINT{100, 42});  // the view gives a disabled element no click
    DWORD from = 1, to = 1;
    ::SendMessageW(w, EM_GETSEL, (WPARAM)&from, (LPARAM)&to);
    EXPECT_EQ(0u, to);

    e->ModifyState(0, kBkStateDisabled);
    e->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), dib.At(200, 35));
    EXPECT_TRUE(::IsWindowEnabled(w));
}

TEST(Edit, HoverFromTheWindowSwitchesTheBorderPen) {
    rh::Host host;
    std::unique_ptr<CBkEdit> e(rh::Load<CBkEdit>("<edit id=\"5\" pos=\"20,30,220,54\"/>"));
    ASSERT_TRUE(e);
    host.Add(e.get());
    HWND w = e->EditWindow();
    ASSERT_TRUE(w);
    ts::MoveTo(w, POINT{10, 10});
    EXPECT_TRUE(e->IsHover());
    ts::Dib dib(300, 100);
    e->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(CBkEdit::kHoverColour, dib.At(20, 40));
    EXPECT_EQ(CBkEdit::kHoverColour, dib.At(21, 40)) << "two pixels wide";
    ::SendMessageW(w, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(e->IsHover());
    e->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(CBkEdit::kBorderColour, dib.At(20, 40));
    EXPECT_NE(CBkEdit::kBorderColour, dib.At(21, 40));
}

TEST(Edit, HidingAndShowingTheElementHidesAndShowsItsWindow) {
    rh::Host host;
    std::unique_ptr<CBkEdit> e(rh::Load<CBkEdit>("<edit id=\"5\" pos=\"20,30,220,54\"/>"));
    ASSERT_TRUE(e);
    host.Add(e.get());
    HWND w = e->EditWindow();
    ASSERT_TRUE(w);
    e->SendToSelf(WM_SHOWWINDOW, FALSE, 0);
    EXPECT_FALSE(::IsWindowVisible(w));
    EXPECT_TRUE(e->GetState() & kBkStateHidden);
    e->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    EXPECT_TRUE(::IsWindowVisible(w));

    // Shown while an ancestor (a tab page not selected) still hides it: the window stays hidden,
    // or it would stand over the page in front.
    std::unique_ptr<CBkEdit> page(rh::Load<CBkEdit>("<edit id=\"6\" pos=\"0,0,10,10\"/>"));
    ASSERT_TRUE(page);
    page->ModifyState(kBkStateHidden, 0);
    e->SendToSelf(WM_SHOWWINDOW, FALSE, 0);
    e->SetParent(page->GetHandle());
    e->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    EXPECT_FALSE(::IsWindowVisible(w));
    EXPECT_FALSE(e->GetState() & kBkStateHidden) << "its own state is shown";
    e->SetParent(0);
}

TEST(Edit, AnElementThatGoesTakesItsWindowWithIt) {
    rh::Host host;
    CBkEdit* e = rh::Load<CBkEdit>("<edit id=\"5\" pos=\"20,30,220,54\"/>");
    ASSERT_TRUE(e);
    host.Add(e);
    HWND w = e->EditWindow();
    ASSERT_TRUE(::IsWindow(w));
    delete e;
    EXPECT_FALSE(::IsWindow(w)) << "no window may keep a \"WndX\" naming a freed element";

    // The host going first leaves the element without a window, and it can be hosted again.
    std::unique_ptr<CBkEdit> e2(rh::Load<CBkEdit>("<edit id=\"6\" pos=\"20,30,220,54\">keep</edit>"));
    {
        rh::Host first;
        first.Add(e2.get());
        ASSERT_TRUE(e2->EditWindow());
    }
    EXPECT_EQ(nullptr, e2->EditWindow());
    rh::Host second;
    second.Add(e2.get());
    ASSERT_TRUE(e2->EditWindow());
    EXPECT_EQ(std::wstring(L"keep"), WindowText(e2->EditWindow()));
}

TEST(Edit, AttributesAfterTheBaseOnes) {
    CBkEdit e;
    EXPECT_EQ(S_FALSE, e.SetAttribute("defaultfont", "0104", TRUE));
    EXPECT_EQ(0x0104, e.GetFontCode());
    EXPECT_EQ(S_FALSE, e.SetAttribute("defaultfont", "01x4", TRUE));
    EXPECT_EQ(0, e.GetFontCode());
    EXPECT_EQ(S_FALSE, e.SetAttribute("readonly", "1", TRUE));
    EXPECT_TRUE(e.IsReadOnly());
    EXPECT_EQ(S_FALSE, e.SetAttribute("password", "0", TRUE));
    EXPECT_FALSE(e.IsPassword());
    EXPECT_EQ(E_FAIL, e.SetAttribute("multiline", "1", TRUE));
    EXPECT_EQ(S_FALSE, e.SetAttribute("id", "9", TRUE)) << "the base names come first";
    EXPECT_TRUE(e.RedrawsOnStateChange());
}

}  // namespace
