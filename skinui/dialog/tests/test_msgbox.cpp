// The message box on layout 105 with the string, style and skin entries the programs ship: the
// buttons and icon of each type word, the check box, the box's size, and real runs of the box
// alone and over another dialog.
#include <gtest/gtest.h>

#include <string>

#include "bkmsgbox.h"
#include "dialogkit.h"

namespace {

// A 24-bit BMP of four 20 x 18 sub-images, each of one colour.
std::string StripBmp() {
    const int w = 80, h = 18, stride = (w * 3 + 3) & ~3;
    std::string bmp(54 + stride * h, '\0');
    auto put32 = [&](size_t at, uint32_t v) { memcpy(&bmp[at], &v, 4); };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, (uint32_t)bmp.size());
    put32(10, 54);
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    bmp[26] = 1;
    bmp[28] = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int sub = x / 20;
            char* p = &bmp[54 + y * stride + x * 3];
            p[0] = (char)(0x40 * sub);  // blue
            p[1] = (char)0x80;
            p[2] = (char)0xC0;
        }
    return bmp;
}

const char kStrings[] =
    "<string>"
    "<s id=\"1\">Tolven电脑锁</s>"
    "<s id=\"17\">&lt;button id=%d pos=\"%d,0,%d,-0\" class=normalbtn&gt;%s&lt;/button&gt;</s>"
    "<s id=\"18\">确定</s><s id=\"19\">取消</s><s id=\"20\">放弃</s><s id=\"21\">重试</s>"
    "<s id=\"22\">忽略</s><s id=\"23\">是</s><s id=\"24\">否</s><s id=\"25\">继续</s>"
    "<s id=\"26\">&lt;dlg pos=\"|-%d,0,|%d,-0\"&gt;%s&lt;/dlg&gt;</s>"
    "</string>";
const char kSkins[] = "<skins><imglst name=\"closeonlybtn\" src=\"7001\" subwidth=\"20\"/></skins>";
const char kStyles[] =
    "<style>"
    "<class name=\"normalbtn\" font=\"0000\" textmode=\"25\" x-margin=\"8\" y-margin=\"3\" crbg=\"C0C0C0\"/>"
    "<class name=\"msgtext\" font=\"0000\" textmode=\"10\" crtext=\"000000\"/>"
    "<class name=\"dlgtitle\" font=\"0004\" crtext=\"FFFFFF\"/>"
    "<class name=\"msgboxhead\" crbg=\"2060A0\"/>"
    "<class name=\"msgboxbody\" crbg=\"FFFFFF\"/>"
    "<class name=\"msgboxfoot\" crbg=\"E0E0E0\"/>"
    "</style>";

class MsgBox : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(ts::WriteFileBytes(Folder() + L"\\7001.bmp", StripBmp()));
        BkResourceLoader::Instance().m_skinFolder = Folder();
        Put(kBkStringXmlId, kStrings);
        Put(kBkSkinXmlId, kSkins);
        Put(kBkStyleXmlId, kStyles);
        BkLoadSkinTables(FALSE);
        BkResourceLoader::Instance().m_skinFolder.clear();  // layout 105 comes from the program
    }
    static const std::wstring& Folder() {
        static std::wstring dir = ts::MakeTempDir(L"msgbox");
        return dir;
    }
    static void Put(unsigned id, const char* text) {
        ts::WriteFileBytes(Folder() + L"\\" + std::to_wstring(id) + L".xml", text);
    }

    // Runs the box with the steps given; the box is in `box` while they run.
    int Run(UINT type, const std::function<void(ts::ModalScript&)>& steps, BOOL* check = nullptr,
            LPCWSTR text = L"消息正文", HWND owner = nullptr) {
        ts::ModalScript script;
        script.WaitUntil([&] { return box.m_hWnd && IsWindowVisible(box); });
        steps(script);
        int result = -2;
        EXPECT_TRUE(script.Run([&] { result = box.ShowMessage(text, L"操作提示", type, check, owner); }));
        return result;
    }
    void Click(UINT id) { ts::ClickAt(box.View(), Centre(id)); }
    POINT Centre(UINT id) {
        CBkWindow* e = box.View().FindItem((int)id);
        RECT r = e ? e->GetRect() : RECT{};
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    bool Shown(UINT id) {
        CBkWindow* e = box.View().FindItem((int)id);
        return e && e->IsVisibleDeep();
    }
    CBkSafeMsgBox box;
};

TEST_F(MsgBox, ButtonsFollowTheLowBitsAndTheTopBitGivesNone) {
    struct Case {
        UINT type;
        std::vector<UINT> ids;
        std::vector<std::wstring> captions;
    } const cases[] = {
        {MB_OK, {1}, {L"确定"}},
        {MB_OKCANCEL, {1, 2}, {L"确定", L"取消"}},
        {MB_ABORTRETRYIGNORE, {3, 4, 5}, {L"放弃", L"重试", L"忽略"}},
        {MB_YESNOCANCEL, {6, 7, 2}, {L"是", L"否", L"取消"}},
        {MB_YESNO | MB_ICONASTERISK, {6, 7}, {L"是", L"否"}},
        {MB_RETRYCANCEL, {4, 2}, {L"重试", L"取消"}},
        {6, {2, 4, 11}, {L"取消", L"重试", L"继续"}},
        {7, {}, {}},
        {15, {}, {}},
        {0x80000000u | MB_OKCANCEL, {}, {}},
        {0x80000000u, {}, {}},
    };
    for (const Case& c : cases) {
        auto buttons = CBkSafeMsgBox::ButtonsFor(c.type);
        std::vector<UINT> ids;
        std::vector<std::wstring> captions;
        for (const auto& b : buttons) {
            ids.push_back(b.id);
            captions.push_back(b.caption.str());
            EXPECT_GE(b.width, 80);
        }
        EXPECT_EQ(ids, c.ids) << std::hex << c.type;
        EXPECT_EQ(captions, c.captions) << std::hex << c.type;
    }
}

TEST_F(MsgBox, IconByBitsFourToSeven) {
    struct Case {
        UINT type, icon;
    } const cases[] = {{0x00, 0}, {0x10, 32513}, {0x20, 32514}, {0x30, 32515}, {0x44, 32516},
                       {0x50, 0}, {0x60, 0},     {0xF0, 0}};
    for (const Case& c : cases) EXPECT_EQ(CBkSafeMsgBox::IconFor(c.type), c.icon) << std::hex << c.type;
}

TEST(MsgBoxText, TableFormatsTakeTheirArgumentsInOrderAndNothingElse) {
    struct Case {
        const wchar_t* format;
        const wchar_t* out;
    } const cases[] = {
        {L"<b id=%d pos=\"%d,0,%d,-0\">%s</b>", L"<b id=6 pos=\"0,0,80,-0\">是</b>"},
        {L"100%% %d", L"100% 6"},
        {L"%s %s %s", L"是 %s %s"},
        {L"%d %d %d %d %d", L"6 0 80 %d %d"},
        {L"%x %n %ls %", L"%x %n %ls %"},
        {L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BkFormatTableText(c.format, {6, 0, 80}, {CString(L"是")}), c.out) << ts::Narrow(c.format);
    EXPECT_EQ(BkFormatTableText(nullptr, {}, {}), L"");
}

// The items of layout 105 by the ids, tags and texts the box is known by, and the button strip's
// markup from strings 17 and 26.
TEST_F(MsgBox, TheItemsOfLayout105AndTheStripMarkup) {
    struct Item {
        UINT id;
        const char* tag;
        const wchar_t* text;  // null: not checked
        bool shown;
    };
    const Item items[] = {
        {60001, "imgbtn", nullptr, true},      {60004, "text", L"操作提示", true},
        {60005, "icon", nullptr, true},        {60006, "text", L"消息正文", true},
        {60007, "check", L"下次不再提示", true}, {60008, "dlg", nullptr, true},
        {60016, "dlg", nullptr, false},
    };
    struct Seen {
        std::string tag;
        std::wstring text;
        bool shown;
    };
    std::vector<Seen> seen;
    std::wstring strip;
    BOOL check = 0;
    const int r = Run(
        MB_OKCANCEL | MB_ICONHAND,
        [&](ts::ModalScript& s) {
            s.Do([&] {
                for (const Item& i : items) {
                    CBkWindow* e = box.View().FindItem((int)i.id);
                    seen.push_back(e ? Seen{e->TagName(), e->GetInnerText().str(), e->IsVisibleDeep() != FALSE}
                                     : Seen{"(none)", L"", false});
                }
                strip = box.StripMarkup().str();
                Click(1);
            });
        },
        &check);
    EXPECT_EQ(r, 1);
    ASSERT_EQ(seen.size(), sizeof items / sizeof items[0]);
    for (size_t n = 0; n < seen.size(); ++n) {
        SCOPED_TRACE(items[n].id);
        EXPECT_EQ(seen[n].tag, items[n].tag);
        if (items[n].text) {
            EXPECT_EQ(seen[n].text, items[n].text);
        }
        EXPECT_EQ(seen[n].shown, items[n].shown);
    }
    // Both captions measure under 80 pixels: two 80-pixel buttons 20 apart, 90 to each side.
    EXPECT_EQ(strip,
              L"<dlg pos=\"|-90,0,|90,-0\">"
              L"<button id=1 pos=\"0,0,80,-0\" class=normalbtn>确定</button>"
              L"<button id=2 pos=\"100,0,180,-0\" class=normalbtn>取消</button></dlg>");
}

TEST_F(MsgBox, YesNoShowsTheInformationIconAndNoReturnsSeven) {
    bool iconShown = false, checkHidden = false;
    std::wstring yes, no;
    const int r = Run(0x44, [&](ts::ModalScript& s) {
        s.Do([&] {
            iconShown = Shown(60005);
            checkHidden = !Shown(60007);
            yes = box.View().GetItemText(6).str();
            no = box.View().GetItemText(7).str();
            Click(7);
        });
    });
    EXPECT_EQ(r, 7);
    EXPECT_TRUE(iconShown);
    EXPECT_TRUE(checkHidden) << "no check pointer: no check box";
    EXPECT_EQ(yes, L"是");
    EXPECT_EQ(no, L"否");
}

TEST_F(MsgBox, TheCloseButtonReturns60001AndKeysAndCloseRequestsDoNotEndTheBox) {
    bool stillOpen = false;
    const int r = Run(0x80000000u | MB_YESNO, [&](ts::ModalScript& s) {
        s.Do([&] {
            EXPECT_EQ(box.View().FindItem(6), nullptr);
            SendMessageW(box, WM_KEYDOWN, VK_RETURN, 1);
            SendMessageW(box, WM_KEYDOWN, VK_ESCAPE, 1);
            SendMessageW(box, WM_CLOSE, 0, 0);
        });
        s.Do([&] {
            stillOpen = IsWindowVisible(box) && !box.IsEnding();
            Click(60001);
        });
    });
    EXPECT_EQ(r, 60001);
    EXPECT_TRUE(stillOpen);
}

TEST_F(MsgBox, OneButtonIsCentredInTheFooterAndTheBoxIsCentred300By170) {
    RECT button = {}, footer = {}, client = {}, win = {};
    bool iconShown = false;
    const int r = Run(0x10, [&](ts::ModalScript& s) {
        s.Do([&] {
            button = box.View().FindItem(1)->GetRect();
            footer = box.View().Footer().GetRect();
            GetClientRect(box, &client);
            GetWindowRect(box, &win);
            iconShown = Shown(60005);
            Click(1);
        });
    });
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(iconShown);
    EXPECT_GE(button.right - button.left, 80);
    EXPECT_LE(abs((button.left + button.right) / 2 - (footer.left + footer.right) / 2), 1);
    EXPECT_EQ(footer.bottom, 170);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 170);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(win.left, (work.left + work.right) / 2 - 150);
    EXPECT_EQ(win.top, (work.top + work.bottom) / 2 - 85);
}

TEST_F(MsgBox, IconValuesAboveTheTableShowNoIcon) {
    bool iconShown = true;
    Run(0x60 | MB_OK, [&](ts::ModalScript& s) {
        s.Do([&] {
            iconShown = Shown(60005);
            Click(1);
        });
    });
    EXPECT_FALSE(iconShown);
}

TEST_F(MsgBox, TickingTheCheckBoxIsWrittenBack) {
    BOOL check = 5;
    bool checkShown = false;
    const int r = Run(
        MB_OKCANCEL,
        [&](ts::ModalScript& s) {
            s.Do([&] {
                checkShown = Shown(60007);
                Click(60007);
            });
            s.Do([&] { Click(2); });
        },
        &check);
    EXPECT_EQ(r, 2);
    EXPECT_TRUE(checkShown);
    EXPECT_EQ(check, 1);
}

TEST_F(MsgBox, ALongTextIsWrappedAndClippedInsideTheBox) {
    std::wstring text;
    for (int i = 0; i < 60; ++i) text += L"很长的消息文字";
    RECT item = {};
    ts::Capture shot;
    const int r = Run(
        MB_OK,
        [&](ts::ModalScript& s) {
            s.Do([&] {
                item = box.View().FindItem(60006)->GetRect();
                shot = ts::CaptureView(box.View());
                Click(1);
            });
        },
        nullptr, text.c_str());
    EXPECT_EQ(r, 1);
    EXPECT_LE(item.right, 300);
    EXPECT_LE(item.bottom, 170);
    ASSERT_TRUE(shot.ok());
    EXPECT_EQ(shot.width, 300);
    // Text on more than one line: dark pixels in two rows of the text item far apart.
    auto inkRow = [&](int y) {
        for (int x = item.left; x < item.right; ++x)
            if (GetRValue(shot.At(x, y)) < 0x80) return true;
        return false;
    };
    int inkRows = 0;
    for (int y = item.top; y < item.bottom && y < 170; ++y) inkRows += inkRow(y);
    EXPECT_GT(inkRows, 30) << "several lines";
}

TEST_F(MsgBox, OverADialogReturnsItsButtonAndTheDialogGoesOn) {
    TestDialog dlg;
    int boxResult = -2;
    bool dlgDisabled = false;
    ts::ModalScript script;
    script.WaitUntil([&] { return dlg.m_hWnd && IsWindowVisible(dlg); })
        .Do([&] { boxResult = box.ShowMessage(L"是否继续？", L"操作提示", MB_YESNO | MB_ICONQUESTION, nullptr, dlg); })
        .WaitUntil([&] { return box.m_hWnd && IsWindowVisible(box); })
        .Do([&] {
            dlgDisabled = !IsWindowEnabled(dlg);
            Click(6);
        })
        .WaitUntil([&] { return boxResult != -2; })
        .Do([&] { dlg.EndDialog(99); });
    int dlgResult = -1;
    ASSERT_TRUE(script.Run([&] { dlgResult = dlg.ShowModal(nullptr); }));
    EXPECT_EQ(boxResult, 6);
    EXPECT_TRUE(dlgDisabled);
    EXPECT_EQ(dlgResult, 99);
}

TEST_F(MsgBox, WithoutItsLayoutTheBoxReturnsMinusOne) {
    BkResourceLoader::Instance().m_skinFolder = Folder();
    Put(105, "<layer><header></layer>");
    EXPECT_EQ(box.ShowMessage(L"x", L"操作提示", MB_OK, nullptr, nullptr), -1);
    Put(105, "<dialog/>");
    CBkSafeMsgBox other;
    EXPECT_EQ(other.ShowMessage(L"x", L"操作提示", MB_OK, nullptr, nullptr), -1);
    DeleteFileW((Folder() + L"\\105.xml").c_str());
    BkResourceLoader::Instance().m_skinFolder.clear();
    CBkSafeMsgBox third;
    EXPECT_EQ(third.ShowMarkupMessage(nullptr, L"<text>x</text>", nullptr, MB_OK, nullptr, nullptr), -1);
}

TEST_F(MsgBox, AMarkupMessageShowsItsElementsInPlaceOfTheText) {
    RECT given = {0, 0, 150, 40};
    bool markupShown = false, textShown = true;
    std::wstring title;
    ts::ModalScript script;
    script.WaitUntil([&] { return box.m_hWnd && IsWindowVisible(box); }).Do([&] {
        markupShown = box.View().FindItem(501) && Shown(501);
        textShown = Shown(60006);
        title = box.View().GetItemText(60004).str();
        Click(1);
    });
    int r = -2;
    ASSERT_TRUE(script.Run([&] {
        r = box.ShowMarkupMessage(&given, L"<text id=\"501\" pos=\"0,0\">标记</text>", nullptr, MB_OK, nullptr, nullptr);
    }));
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(markupShown);
    EXPECT_FALSE(textShown);
    EXPECT_EQ(title, L"Tolven电脑锁") << "no title: string 1 stays";
}

}  // namespace
