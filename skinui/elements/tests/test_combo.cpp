// The combo element: its items, its "BkCombo" edit window, the drop list it opens (highlight by
// wheel, the chosen row reported with 0x8D3, closed by outside clicks and focus loss), the typed
// text through reflection, its look, and the lifetime of its windows.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bkcombo.h"
#include "guardheap.h"
#include "reflecthost.h"
#include "uikit.h"
#include "uinput.h"

namespace {

std::wstring WindowText(HWND h) {
    wchar_t buf[512] = {};
    ::GetWindowTextW(h, buf, 512);
    return buf;
}

// The control panel's device combo: item 20001 at 230,175,450,195, style 13.
class Combo : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.ok());
        combo.reset(rh::Load<CbkCombo>("<combo id=\"20001\" pos=\"230,175,450,195\"/>"));
        ASSERT_TRUE(combo);
        combo->SetComboStyle(13);
        host.Add(combo.get());
    }
    void Fill() {
        for (const wchar_t* t : {L"E:\\", L"F:\\", L"Token"}) ASSERT_TRUE(combo->AddItem(t, t));
        combo->SelectFirstItem();
    }
    HWND List() { return combo->DropList() ? combo->DropList()->m_hWnd : nullptr; }
    bool ListOpen() { return List() && ::IsWindowVisible(List()); }
    // A click on the arrow part, routed by the view.
    void ClickArrow() { ts::ClickAt(host.view(), POINT{440, 185}); }
    void WheelOnElement(int delta) {
        combo->SendToSelf(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)delta), 0);
    }

    rh::Host host;
    std::unique_ptr<CbkCombo> combo;
};

TEST_F(Combo, TheDeviceComboGeometry) {
    HWND edit = combo->EditWindow();
    ASSERT_TRUE(edit) << "style flag 1 makes the edit window when the combo is placed";
    wchar_t cls[32] = {};
    ::GetClassNameW(edit, cls, 32);
    EXPECT_STREQ(L"BkCombo", cls);
    EXPECT_EQ((HANDLE)combo.get(), ::GetPropW(edit, L"WndX"));
    EXPECT_EQ(20001, ::GetDlgCtrlID(edit));
    const LONG_PTR style = ::GetWindowLongPtrW(edit, GWL_STYLE) & 0xFFFFFFFF;
    // WS_CHILD, WS_VISIBLE, WS_TABSTOP, ES_AUTOHSCROLL, ES_AUTOVSCROLL, ES_RIGHT, ES_CENTER.
    EXPECT_EQ((LONG_PTR)0x500100C3, style & ~(LONG_PTR)ES_READONLY);
    EXPECT_TRUE(style & ES_READONLY) << "style flag 8: read-only";
    EXPECT_EQ(edit, ::GetFocus()) << "the combo's edit takes the focus";
    EXPECT_EQ(100, (int)::SendMessageW(edit, EM_GETLIMITTEXT, 0, 0));

    RECT r = {};
    ::GetWindowRect(edit, &r);
    ::MapWindowPoints(nullptr, host.view(), (POINT*)&r, 2);
    EXPECT_EQ(232, r.left);
    EXPECT_EQ(177, r.top);
    EXPECT_EQ(196, r.right - r.left);
    EXPECT_EQ(16, r.bottom - r.top);
    EXPECT_EQ(20, combo->DropList()->GetRowHeight());

    ASSERT_EQ(1u, host.moved.size());
    EXPECT_EQ(20001u, host.moved[0].item);
    EXPECT_EQ(1000u, host.moved[0].idFrom);
    const RECT want = {232, 177, 428, 193};
    EXPECT_TRUE(::EqualRect(&want, &host.moved[0].rc));
}

TEST_F(Combo, ItemsAreUniqueIgnoringCaseAndSelectionReadsThem) {
    EXPECT_EQ(nullptr, List()) << "no list window before the first item";
    combo->SetText(L"before");
    combo->SelectFirstItem();
    EXPECT_EQ(std::wstring(L"before"), combo->GetInnerText().str()) << "no items: the text stays";
    ClickArrow();
    EXPECT_FALSE(ListOpen()) << "no items: a click opens nothing";

    EXPECT_TRUE(combo->AddItem(L"A", L"A"));
    EXPECT_FALSE(combo->AddItem(L"A", L"A"));
    EXPECT_FALSE(combo->AddItem(L"a", L"a"));
    EXPECT_EQ(1u, combo->GetItems().size());
    ASSERT_TRUE(combo->FindItem(L"a"));
    EXPECT_EQ(std::wstring(L"A"), combo->FindItem(L"a")->text.str());
    EXPECT_TRUE(List()) << "the list is built with the first item";

    EXPECT_TRUE(combo->AddItem(L"Bee", L"Bee"));
    combo->SelectFirstItem();
    EXPECT_EQ(0, combo->GetSelectedIndex());
    EXPECT_EQ(std::wstring(L"A"), combo->GetInnerText().str());
    EXPECT_EQ(std::wstring(L"A"), WindowText(combo->EditWindow()));
    EXPECT_EQ(2, combo->DropList()->GetRowCount());

    ::SetWindowTextW(combo->EditWindow(), L"bee");
    EXPECT_EQ(std::wstring(L"Bee"), combo->GetSelectedValue().str()) << "an item named by the edit text gives its value";
    ::SetWindowTextW(combo->EditWindow(), L"nothing like it");
    EXPECT_EQ(std::wstring(L"nothing like it"), combo->GetSelectedValue().str());
}

TEST_F(Combo, OpensItsListMovesTheHighlightByWheelAndReportsTheChosenRow) {
    Fill();
    ClickArrow();
    ASSERT_TRUE(ListOpen());
    EXPECT_EQ(List(), ::GetCapture());
    RECT lr = {};
    ::GetWindowRect(List(), &lr);
    POINT under = {230, 195};
    ::ClientToScreen(host.view(), &under);
    EXPECT_EQ(under.x, lr.left) << "under the element's bottom-left corner";
    EXPECT_EQ(under.y, lr.top);
    EXPECT_EQ(220, lr.right - lr.left) << "as wide as the element";
    EXPECT_EQ(60, lr.bottom - lr.top);
    EXPECT_EQ(0, combo->DropList()->GetHighlight()) << "the highlight starts on the selected item";

    ::SendMessageW(List(), WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)-120), 0);
    EXPECT_EQ(1, combo->DropList()->GetHighlight());
    ::SendMessageW(List(), WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)-120), 0);
    EXPECT_EQ(2, combo->DropList()->GetHighlight());

    // A click on the third row (rows count from 5 pixels down).
    ts::ClickAt(List(), POINT{50, 50});
    EXPECT_FALSE(ListOpen());
    ASSERT_EQ(1u, host.selections.size());
    EXPECT_EQ(2u, host.selections[0].index);
    EXPECT_EQ(std::wstring(L"Token"), host.selections[0].text);
    EXPECT_EQ(2, combo->GetSelectedIndex());
    EXPECT_EQ(std::wstring(L"Token"), WindowText(combo->EditWindow()));
    EXPECT_EQ(std::wstring(L"Token"), combo->GetInnerText().str());
    EXPECT_EQ(std::wstring(L"Token"), combo->GetSelectedValue().str());

    // Opened again, the highlight is on the new selection.
    ClickArrow();
    ASSERT_TRUE(ListOpen());
    EXPECT_EQ(2, combo->DropList()->GetHighlight());
}

TEST_F(Combo, TheHostReadsTheNewChoiceWhileHandlingTheSelection) {
    Fill();
    // 0x8D3 is the host's cue: the combo already shows the chosen row by then.
    combo->DropList()->SetHighlight(0);
    ClickArrow();
    ASSERT_TRUE(ListOpen());
    host.watchId = 20001;
    ts::ClickAt(List(), POINT{50, 30});
    ASSERT_EQ(1u, host.selections.size());
    EXPECT_EQ(1u, host.selections[0].index);
    EXPECT_EQ(std::wstring(L"F:\\"), host.selections[0].text);
    EXPECT_EQ(std::wstring(L"F:\\"), host.selections[0].watchedText) << "the edit shows the choice when the host hears of it";
}

TEST_F(Combo, OutsideClickAndFocusLossCloseTheListWithoutAChoice) {
    Fill();
    ASSERT_TRUE(ts::WaitForeground(host.dialog()));
    ClickArrow();
    ASSERT_TRUE(ListOpen());
    ts::RealClickAt(host.view(), POINT{40, 40});
    EXPECT_TRUE(ts::PumpUntil([&] { return !ListOpen(); }, 3000)) << "an outside click closes the list";
    EXPECT_TRUE(host.selections.empty());

    ClickArrow();
    ASSERT_TRUE(ListOpen());
    ::SetFocus(List());
    ASSERT_EQ(List(), ::GetFocus());
    ::SetFocus(combo->EditWindow());
    EXPECT_FALSE(ListOpen()) << "losing the focus closes the list";

    ClickArrow();
    ASSERT_TRUE(ListOpen());
    ::SendMessageW(List(), WM_ACTIVATEAPP, FALSE, 0);
    EXPECT_FALSE(ListOpen()) << "another program becoming active closes the list";
    EXPECT_TRUE(host.selections.empty());
}

TEST_F(Combo, AClickInTheEditWindowOpensTheListThatThenKeepsTheCapture) {
    Fill();
    ASSERT_TRUE(ts::WaitForeground(host.dialog()));
    ts::ClickAt(combo->EditWindow(), POINT{20, 8});
    ts::PumpMessages(0);
    ASSERT_TRUE(ListOpen());
    EXPECT_EQ(List(), ::GetCapture());
    RECT lr = {};
    ::GetWindowRect(List(), &lr);
    EXPECT_EQ(196, lr.right - lr.left) << "as wide as the edit window";
}

TEST_F(Combo, TheWheelOverTheElementStepsTheSelectionWithinTheItems) {
    Fill();
    struct Case {
        int delta;
        int index;
        const wchar_t* text;
    } const cases[] = {
        {120, 0, L"E:\\"},    // up on the first: nothing
        {-120, 1, L"F:\\"},
        {-120, 2, L"Token"},
        {-120, 2, L"Token"},  // down on the last: nothing
        {60, 2, L"Token"},    // less than a notch
        {240, 1, L"F:\\"},    // one step whatever the size
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "delta " << c.delta);
        const int before = combo->GetSelectedIndex();
        WheelOnElement(c.delta);
        EXPECT_EQ(c.index, combo->GetSelectedIndex());
        EXPECT_EQ(c.text, WindowText(combo->EditWindow()));
        EXPECT_EQ(c.text, combo->GetInnerText().str());
        if (c.index != before) {
            EXPECT_EQ(c.index, combo->DropList()->GetHighlight()) << "the list follows a move";
        }
    }
}

TEST_F(Combo, TypedTextFollowsThroughReflectionAndIsTheSelectedValueWhenNoItemMatches) {
    Fill();
    HWND edit = combo->EditWindow();
    ::SendMessageW(edit, EM_SETREADONLY, FALSE, 0);
    ::SetWindowTextW(edit, L"");
    ASSERT_TRUE(ts::WaitForeground(host.dialog()));
    ::SetFocus(edit);
    rh::TypeText(L"G:");
    ASSERT_TRUE(ts::PumpUntil([&] { return ::GetWindowTextLengthW(edit) == 2; }, 5000));
    EXPECT_EQ(std::wstring(L"G:"), combo->GetInnerText().str());
    EXPECT_EQ(std::wstring(L"G:"), combo->GetSelectedValue().str());
}

TEST_F(Combo, ArrowAndBorderFollowTheHoverAndTheDisabledLook) {
    Fill();
    // The element 230,175,450,195: h = 20, a = 6. The arrow's corners (434,182), (445,182) and
    // (439,188); the separator at x = 428; the border on the rect's edge.
    const COLORREF frame = RGB(0x4E, 0xA0, 0xD1), hover = RGB(0x85, 0xE4, 0xFF), white = RGB(0xFF, 0xFF, 0xFF);
    const POINT inArrow = {439, 184};
    ts::Dib dib(500, 300);
    combo->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(frame, dib.At(inArrow.x, inArrow.y)) << "the arrow in the list frame colour";
    EXPECT_EQ(white, dib.At(439, 180)) << "above the arrow";
    EXPECT_EQ(frame, dib.At(428, 185)) << "the separator";
    EXPECT_EQ(white, dib.At(427, 185));
    EXPECT_EQ(frame, dib.At(230, 185)) << "the border";
    EXPECT_EQ(frame, dib.At(340, 194));
    EXPECT_EQ(white, dib.At(231, 185)) << "one pixel wide";
    EXPECT_EQ(white, dib.At(447, 185));

    ts::MoveTo(host.view(), POINT{440, 185});
    EXPECT_TRUE(combo->IsHover());
    EXPECT_TRUE(combo->IsOverArrow());
    combo->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(hover, dib.At(inArrow.x, inArrow.y));
    EXPECT_EQ(hover, dib.At(230, 185)) << "two-pixel hover border";
    EXPECT_EQ(hover, dib.At(231, 185));
    EXPECT_EQ(white, dib.At(232, 185));

    combo->SendToSelf(WM_MOUSELEAVE, 0, 0);
    combo->ModifyState(kBkStateDisabled, 0);
    combo->PaintInRegion(dib.dc(), nullptr);
    EXPECT_EQ(RGB(0xF4, 0xF4, 0xF4), dib.At(447, 185));
    EXPECT_EQ(frame, dib.At(inArrow.x, inArrow.y)) << "the plain arrow after the leave";
    EXPECT_FALSE(::IsWindowEnabled(combo->EditWindow()));
}

TEST(ComboPlain, WithoutTheEditFlagNoWindowIsMadeAndOnlyTheArrowOpens) {
    rh::Host host;
    std::unique_ptr<CbkCombo> combo(rh::Load<CbkCombo>("<combo id=\"3\" pos=\"20,20,240,40\"/>"));
    ASSERT_TRUE(combo);
    EXPECT_EQ(4u, combo->GetComboStyle());
    host.Add(combo.get());
    ASSERT_TRUE(combo->AddItem(L"one", L"1"));
    ASSERT_TRUE(combo->AddItem(L"two", L"2"));
    ts::ClickAt(host.view(), POINT{40, 30});
    EXPECT_EQ(nullptr, combo->EditWindow()) << "no real window without style flag 1";
    EXPECT_FALSE(::IsWindowVisible(combo->DropList()->m_hWnd)) << "the text part opens nothing";
    ts::ClickAt(host.view(), POINT{232, 30});
    ASSERT_TRUE(::IsWindowVisible(combo->DropList()->m_hWnd));
    ts::ClickAt(combo->DropList()->m_hWnd, POINT{30, 30});
    ASSERT_EQ(1u, host.selections.size());
    EXPECT_EQ(std::wstring(L"2"), combo->GetInnerText().str());
    EXPECT_EQ(std::wstring(L"2"), combo->GetSelectedValue().str()) << "the element text holds the choice";
}

TEST(ComboLifetime, ItsWindowFollowsTheElementAndStaysHiddenUnderAHiddenAncestor) {
    rh::Host host;
    std::unique_ptr<CbkCombo> combo(rh::Load<CbkCombo>("<combo id=\"5\" pos=\"20,20,240,40\"/>"));
    ASSERT_TRUE(combo);
    combo->SetComboStyle(13);
    host.Add(combo.get());
    HWND edit = combo->EditWindow();
    ASSERT_TRUE(edit);
    combo->SendToSelf(WM_SHOWWINDOW, FALSE, 0);
    EXPECT_FALSE(::IsWindowVisible(edit));
    combo->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    EXPECT_TRUE(::IsWindowVisible(edit));

    std::unique_ptr<CbkCombo> page(rh::Load<CbkCombo>("<combo id=\"6\" pos=\"0,0,10,10\"/>"));
    ASSERT_TRUE(page);
    page->ModifyState(kBkStateHidden, 0);
    combo->SendToSelf(WM_SHOWWINDOW, FALSE, 0);
    combo->SetParent(page->GetHandle());
    combo->SendToSelf(WM_SHOWWINDOW, TRUE, 0);
    EXPECT_FALSE(::IsWindowVisible(edit)) << "a page not selected keeps it hidden";
    combo->SetParent(0);
}

TEST(ComboLifetime, WindowsGoWithTheElementAndAShownAgainHostGetsAWorkingList) {
    CbkCombo* combo = rh::Load<CbkCombo>("<combo id=\"4\" pos=\"20,20,240,40\"/>");
    ASSERT_TRUE(combo);
    combo->SetComboStyle(13);
    {
        rh::Host first;
        first.Add(combo);
        ASSERT_TRUE(combo->EditWindow());
        ASSERT_TRUE(combo->AddItem(L"one", L"one"));
        ASSERT_TRUE(combo->DropList()->m_hWnd);
    }
    EXPECT_EQ(nullptr, combo->EditWindow());
    ASSERT_TRUE(combo->DropList()) << "the list object stays with the element";

    rh::Host second;
    second.Add(combo);
    HWND edit = combo->EditWindow();
    ASSERT_TRUE(edit);
    ts::ClickAt(second.view(), POINT{232, 30});
    ASSERT_TRUE(combo->DropList()->m_hWnd);
    EXPECT_TRUE(::IsWindowVisible(combo->DropList()->m_hWnd));
    EXPECT_EQ(second.dialog(), ::GetWindow(combo->DropList()->m_hWnd, GW_OWNER));
    ts::ClickAt(combo->DropList()->m_hWnd, POINT{30, 10});
    ASSERT_EQ(1u, second.selections.size());

    HWND list = combo->DropList()->m_hWnd;
    delete combo;
    EXPECT_FALSE(::IsWindow(edit)) << "no \"WndX\" may outlive its element";
    EXPECT_FALSE(::IsWindow(list));
}

TEST(ComboLifetime, AHostThatDeletesTheComboInTheSelectionNoticeLeavesNothingDangling) {
    // The host rebuilds its layout while it handles the choice: the combo and its drop list go
    // while the list is still inside its own click. Under the guarded heap the deleted objects'
    // memory faults at the first touch, so any use of them after the notice ends the test.
    rh::Host host;
    ASSERT_TRUE(host.ok());
    gh::GuardedHeap guard;
    CbkCombo* combo = rh::Load<CbkCombo>("<combo id=\"4\" pos=\"20,20,240,40\"/>");
    ASSERT_TRUE(combo);
    ASSERT_TRUE(gh::IsGuarded(combo));
    combo->SetComboStyle(13);
    host.Add(combo);
    for (const wchar_t* t : {L"E:\\", L"F:\\"}) ASSERT_TRUE(combo->AddItem(t, t));
    combo->SelectFirstItem();
    ts::ClickAt(host.view(), POINT{232, 30});
    ASSERT_TRUE(combo->DropList() && ::IsWindowVisible(combo->DropList()->m_hWnd));
    ASSERT_TRUE(gh::IsGuarded(combo->DropList()));
    HWND list = combo->DropList()->m_hWnd, edit = combo->EditWindow();
    const HBKWND handle = combo->GetHandle();
    host.onSelection = [&] {
        host.onSelection = nullptr;
        delete combo;
        combo = nullptr;
    };
    ts::ClickAt(list, POINT{30, 30});
    ASSERT_EQ(1u, host.selections.size());
    EXPECT_EQ(std::wstring(L"F:\\"), host.selections[0].text);
    EXPECT_EQ(nullptr, combo);
    EXPECT_EQ(nullptr, BkWindowRegistry::Find(handle));
    ts::PumpMessages(0);
    EXPECT_FALSE(::IsWindow(list)) << "the list window goes with its combo";
    EXPECT_FALSE(::IsWindow(edit));
}

TEST(ComboTooltip, TheTipFollowsTheMouseAndHidesAfterItsDelay) {
    // Style flag 2 makes the tip, with the edit window (flag 1) or without it.
    for (DWORD style : {1u | 2u, 2u}) {
        SCOPED_TRACE(testing::Message() << "style " << style);
        rh::Host host;
        std::unique_ptr<CbkCombo> combo(rh::Load<CbkCombo>("<combo id=\"4\" pos=\"20,60,240,80\"/>"));
        ASSERT_TRUE(combo);
        combo->SetComboStyle(style);
        combo->SetToolTipText(L"选择设备");
        host.Add(combo.get());
        EXPECT_EQ(style & 1u ? true : false, combo->EditWindow() != nullptr);
        ASSERT_TRUE(combo->Tooltip().m_hWnd);
        EXPECT_TRUE(combo->Tooltip().IsDelayedHide());
        ts::MoveTo(host.view(), POINT{235, 70});
        EXPECT_TRUE(combo->Tooltip().IsWindowVisible());
        EXPECT_EQ(std::wstring(L"选择设备"), combo->Tooltip().GetText().str());
        RECT tr = {};
        combo->Tooltip().GetWindowRect(&tr);
        POINT at = {20 - 12 + 16, 60 - 45 + 16};
        ::ClientToScreen(host.view(), &at);
        EXPECT_EQ(at.x, tr.left);
        EXPECT_EQ(at.y, tr.top);

        // The real cursor leaves too, or the next mouse move over the element shows the tip again.
        ::SetCursorPos(1000, 740);
        combo->SendToSelf(WM_MOUSELEAVE, 0, 0);
        EXPECT_TRUE(combo->Tooltip().IsWindowVisible()) << "the hide waits";
        EXPECT_TRUE(ts::PumpUntil([&] { return !combo->Tooltip().IsWindowVisible(); }, 5000));
    }
}

TEST(ComboLoad, AttributesAndTheTag) {
    CbkCombo c;
    EXPECT_EQ(S_FALSE, c.SetAttribute("defaultfont", "0004", TRUE));
    EXPECT_EQ(S_FALSE, c.SetAttribute("password", "1", TRUE));
    EXPECT_EQ(E_FAIL, c.SetAttribute("items", "1", TRUE));
    EXPECT_TRUE(c.RedrawsOnStateChange());
    // A "pos" without a bottom keeps the list's own row height.
    std::unique_ptr<CbkCombo> two(rh::Load<CbkCombo>("<combo pos=\"10,10\"/>"));
    ASSERT_TRUE(two);
    EXPECT_EQ(23, two->DropList()->GetRowHeight());
}

}  // namespace
