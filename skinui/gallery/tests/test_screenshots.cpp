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

// Waits until the framebuffer shows something other than one colour over the window.
ts::Capture SettledShot(HWND hWnd) {
    ts::Capture shot;
    ts::PumpUntil(
        [&] {
            shot = ts::CaptureWindowOnScreen(hWnd);
            if (!shot.ok()) return false;
            const COLORREF first = shot.At(shot.width / 2, shot.height / 2);
            int other = 0;
            for (int y = 0; y < shot.height; y += 3)
                for (int x = 0; x < shot.width; x += 3) other += shot.At(x, y) != first;
            return other > 100;
        },
        5000);
    return shot;
}

// Pixels in a rectangle that are not the background.
int Ink(const ts::Capture& c, RECT r, COLORREF background) {
    int n = 0;
    for (int y = r.top; y < r.bottom && y < c.height; ++y)
        for (int x = r.left; x < r.right && x < c.width; ++x) n += c.At(x, y) != background;
    return n;
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
    ts::Capture shot = SettledShot(gallery);
    ASSERT_TRUE(shot.ok());
    Keep(shot, L"skinui_gallery.bmp");
    EXPECT_EQ(shot.width, 560);
    EXPECT_EQ(shot.height, 400);
    // The first page's text "文本：欢迎使用电脑锁" at (12, 10) of the page, below header and strip.
    EXPECT_GT(Ink(shot, RECT{12, 71, 160, 90}, RGB(0xFF, 0xFF, 0xFF)), 30);
    EXPECT_EQ(shot.At(2, 15) == shot.At(300, 200), false) << "a header over a white body";

    // The footer's "消息框…" button opens a message box over the gallery.
    ts::RealClickAt(gallery, POINT{390, 377});
    HWND box = WaitForWindow(L"操作提示", 10000);
    ASSERT_NE(box, nullptr);
    ts::Capture boxShot = SettledShot(box);
    ASSERT_TRUE(boxShot.ok());
    Keep(boxShot, L"skinui_msgbox.bmp");
    EXPECT_EQ(boxShot.width, 300);
    EXPECT_EQ(boxShot.height, 170);
    EXPECT_GT(Ink(boxShot, RECT{70, 51, 290, 80}, RGB(0xFF, 0xFF, 0xFF)), 30) << "the message text";
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
