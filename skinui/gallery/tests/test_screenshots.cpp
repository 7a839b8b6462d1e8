// Runs the gallery program, takes screenshots of its window and of a message box over it from the
// Xvfb framebuffer, and keeps them under bin/screenshots/skinui/ as build artefacts.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "testsupport.h"
#include "uikit.h"

namespace {

HWND WaitForWindow(const wchar_t* title, DWORD timeoutMs) {
    HWND found = nullptr;
    ts::PumpUntil(
        [&] {
            found = FindWindowW(nullptr, title);
            return found && IsWindowVisible(found);
        },
        timeoutMs);
    return found && IsWindowVisible(found) ? found : nullptr;
}

struct Region {
    RECT r;  // in the client area of the window's view
    int ink;
    const char* what;
};

// Each region of the view shows more ink than given: text, a button, a glyph that a blank or
// one-colour capture lacks.
void ExpectInk(const ts::Capture& shot, HWND window, const Region* regions, size_t count) {
    const HWND view = GetDlgItem(window, 1000);
    ASSERT_NE(view, nullptr) << "the window's view";
    for (size_t i = 0; i < count; ++i)
        EXPECT_GT(ts::InkPixels(shot, ts::RectInShot(window, view, regions[i].r)), regions[i].ink) << regions[i].what;
}

void Keep(const ts::Capture& c, const wchar_t* name) { EXPECT_TRUE(ts::KeepScreenshot(c, L"skinui", name)); }

TEST(GalleryScreenshots, SampleLayoutAndAMessageBoxWithChineseText) {
    std::wstring cmd = L"\"" + ts::InExeDir(L"skinui_gallery.exe") + L"\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);

    HWND gallery = WaitForWindow(L"皮肤元素一览", 15000);
    ASSERT_NE(gallery, nullptr);
    // As the user sees it: painted completely, then read from the screen.
    ts::Capture shot = ts::ScreenshotOf(gallery);
    ASSERT_TRUE(shot.ok()) << "the gallery never settled on the screen";
    Keep(shot, L"skinui_gallery.bmp");
    EXPECT_EQ(shot.width, 560);
    EXPECT_EQ(shot.height, 400);
    // The header is 31 high, the tab strip 28 below it, the first page from y 61, the footer the
    // last 45.
    const Region page[] = {
        {{30, 5, 150, 28}, 40, "the title \"皮肤元素一览\" in the header"},
        {{10, 31, 200, 59}, 40, "the tab titles"},
        {{12, 71, 160, 90}, 30, "the text \"文本：欢迎使用电脑锁\""},
        {{12, 115, 112, 141}, 30, "the button \"普通按钮\""},
        {{12, 189, 140, 210}, 30, "the check box \"记住我的选择\""},
        {{340, 363, 440, 392}, 30, "the footer's button \"消息框…\""},
    };
    ExpectInk(shot, gallery, page, sizeof page / sizeof page[0]);
    EXPECT_EQ(shot.At(2, 15) == shot.At(300, 200), false) << "a header over a white body";

    // The footer's "消息框…" button opens a message box over the gallery.
    ts::RealClickAt(gallery, POINT{390, 377});
    HWND box = WaitForWindow(L"操作提示", 10000);
    ASSERT_NE(box, nullptr);
    ts::Capture boxShot = ts::ScreenshotOf(box);
    ASSERT_TRUE(boxShot.ok()) << "the box never settled on the screen";
    Keep(boxShot, L"skinui_msgbox.bmp");
    EXPECT_EQ(boxShot.width, 300);
    EXPECT_EQ(boxShot.height, 170);
    // Layout 105: a 31-pixel header, the body with the icon at 20,20 and the text at 70,20, the
    // buttons "确定" and "取消" in the 45-pixel footer.
    const Region message[] = {
        {{25, 6, 200, 27}, 30, "the title \"操作提示\""},
        {{20, 51, 52, 83}, 100, "the information icon"},
        {{70, 51, 290, 80}, 30, "the message text"},
        {{0, 125, 150, 170}, 30, "the button \"确定\""},
        {{150, 125, 300, 170}, 30, "the button \"取消\""},
    };
    ExpectInk(boxShot, box, message, sizeof message / sizeof message[0]);
    EXPECT_FALSE(IsWindowEnabled(gallery)) << "the box is modal over the gallery";

    ts::RealClickAt(box, POINT{270, 11});  // the close button
    EXPECT_TRUE(ts::PumpUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10000));
    EXPECT_TRUE(ts::PumpUntil([&] { return IsWindowEnabled(gallery) != FALSE; }, 5000));

    PostMessageW(gallery, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 2u) << "a close request reaches the gallery as item 2";
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
}

}  // namespace
