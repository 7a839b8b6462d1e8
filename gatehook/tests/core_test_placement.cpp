// Where the GINA's dialogs go: centred across, a third of the way down, never off the top or left.
#include <gtest/gtest.h>

#include "internal.h"

namespace {

TEST(GatehookPlacement, CentredAcrossAndAThirdDown) {
    struct {
        int w, h, refW, refH, x, y;
    } cases[] = {
        {400, 300, 1024, 768, 312, 156},
        {401, 301, 1024, 768, 311, 155},  // halves and thirds are cut, not rounded
        {1100, 300, 1024, 768, 0, 156},   // wider than the screen: flush left
        {400, 800, 1024, 768, 312, 0},    // taller: flush top
        {1025, 770, 1024, 768, 0, 0},
        {1024, 768, 1024, 768, 0, 0},
    };
    for (auto& c : cases) {
        POINT p = gatehook::CenteredOrigin(c.w, c.h, c.refW, c.refH);
        EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h;
        EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h;
    }
}

// A top-level window is placed on the screen and made topmost; a child is placed in its parent.
TEST(GatehookPlacement, TopLevelOnTheScreenChildInItsParent) {
    HWND top = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 5, 5, 300, 200, nullptr, nullptr, nullptr,
                               nullptr);
    ASSERT_TRUE(top);
    gatehook::CenterWindowTopmost(top);
    RECT r;
    GetWindowRect(top, &r);
    POINT want = gatehook::CenteredOrigin(300, 200, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(r.left, want.x);
    EXPECT_EQ(r.top, want.y);
    EXPECT_EQ(r.right - r.left, 300) << "the size stays";
    EXPECT_TRUE(GetWindowLongW(top, GWL_EXSTYLE) & WS_EX_TOPMOST);

    HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 50, top, nullptr, nullptr,
                                 nullptr);
    ASSERT_TRUE(child);
    gatehook::CenterWindowTopmost(child);
    GetWindowRect(child, &r);
    POINT inParent = {r.left, r.top};
    ScreenToClient(top, &inParent);
    EXPECT_EQ(inParent.x, (300 - 100) / 2);
    EXPECT_EQ(inParent.y, (200 - 50) / 3);
    DestroyWindow(top);
}

}  // namespace
