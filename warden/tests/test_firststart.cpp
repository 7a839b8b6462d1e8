// The first-start choice of device mode in this process, over the real switches and the token
// stand-in; its box comes through the panel's box seam.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "bkres.h"
#include "corelib.h"
#include "firststartdlg.h"
#include "keys.h"
#include "panelhost.h"
#include "panelseams.h"
#include "testsupport.h"
#include "tokensim.h"
#include "uikit.h"

namespace tk = ts::tokensim;
using warden::FirstStartDlg;

namespace {

using panelseams::g_boxes;
using panelseams::RecordBox;

class FirstStart : public ::testing::Test {
protected:
    static void SetUpTestSuite() { BkLoadSkinTables(TRUE); }
    void SetUp() override {
        UE_Epas_DeleteContext();
        ASSERT_TRUE(tk::Reset());
        ts::ResetSettings();
        panelseams::InstallCorelibFakes(&log_);
        log_.realWrites = true;
        g_boxes.clear();
        warden::g_panelBox = RecordBox;
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", static_cast<DWORD>(-1)), ERROR_SUCCESS);
    }
    void TearDown() override {
        warden::g_panelBox = warden::ShowSkinnedBox;
        EXPECT_EQ(tk::MisuseCount(), 0u) << tk::Log();
        tk::Reset();
        ts::ResetSettings();
    }

    void Click(FirstStartDlg& dlg, UINT id) {
        CBkWindow* e = dlg.View().FindItem(static_cast<int>(id));
        ASSERT_NE(e, nullptr) << id;
        RECT r = e->GetRect();
        ts::ClickAt(dlg.View(), POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    }
    // Runs a fresh dialog with the steps; its result, or -2 when the script timed out.
    int Run(const std::function<void(FirstStartDlg&, ts::ModalScript&)>& steps, bool storesChoice = true) {
        FirstStartDlg dlg(storesChoice);
        ts::ModalScript script;
        script.WaitUntil([&] { return dlg.m_hWnd && IsWindowVisible(dlg); });
        steps(dlg, script);
        int result = -3;
        bool ok = script.Run([&] { result = dlg.ShowModal(); });
        EXPECT_TRUE(ok) << "script timed out at step " << script.StepsDone();
        return ok ? result : -2;
    }
    int Mode() { return static_cast<int>(GetMonitorKeyStyle(L"QJ_AppDriveMode")); }

    ts::Restore<warden::Seams> restore_{warden::g_seams};
    panelseams::Log log_;
};

}  // namespace

TEST_F(FirstStart, NoTokenShowsTheMessageAndStaysThenTheUsbDiskEndsWith0) {
    bool openAfterToken = false;
    int modeAfterToken = 99;
    const int result = Run([&](FirstStartDlg& dlg, ts::ModalScript& s) {
        s.Do([&] { RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW); });
        s.Do([&] {
            // As the user sees it; the title "Tolven电脑锁2012" right of the header's icon.
            const ts::Capture shot = ts::ScreenshotOf(dlg);
            ASSERT_EQ(shot.width, 600) << "the dialog never settled on the screen";
            EXPECT_TRUE(ts::KeepScreenshot(shot, L"warden", L"warden_113_firststart.bmp"));
            EXPECT_GT(ts::InkPixels(shot, RECT{25, 4, 160, 27}), 60) << "no title in the header";
            // The two choices, each a picture in its place.
            for (UINT id : {warden::kFirstStartToken, warden::kFirstStartUsbDisk}) {
                CBkWindow* choice = dlg.View().FindItem(static_cast<int>(id));
                EXPECT_NE(choice, nullptr) << id;
                if (choice) {
                    EXPECT_GT(ts::InkPixels(shot, ts::RectInShot(dlg, dlg.View(), choice->GetRect())), 20)
                        << "choice " << id << " is missing";
                }
            }
            Click(dlg, warden::kFirstStartToken);
            openAfterToken = IsWindowVisible(dlg) && !dlg.IsEnding();
            modeAfterToken = Mode();
            Click(dlg, warden::kFirstStartUsbDisk);
        });
    });
    EXPECT_TRUE(openAfterToken);
    EXPECT_EQ(modeAfterToken, -1) << "nothing stored without a token";
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, L"未在您的计算机上检测到TolvenU盾，很遗憾无法使用此功能，请联系我们购买U盾或选择U盘版");
    EXPECT_EQ(g_boxes[0].caption, L"操作提示");
    EXPECT_EQ(g_boxes[0].type, 0x40u);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Mode(), 0);
}

TEST_F(FirstStart, TheTokenIsTakenOnlyWithAnAcceptedLabelAmongTheFirstSix) {
    const struct {
        std::vector<std::string> labels;
        int result;  // -1: refused, then closed
    } cases[] = {
        {{"ZARN-1"}, 1},
        {{"XYZ"}, -1},
        {{"XYZ", "XYZ", "ZARN"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.labels.size());
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", static_cast<DWORD>(-1)), ERROR_SUCCESS);
        g_boxes.clear();
        std::vector<tk::Token> tokens;
        for (size_t i = 0; i < c.labels.size(); ++i) tokens.push_back(tk::MakeToken(0x100 + i, 0, c.labels[i]));
        ASSERT_TRUE(tk::Insert(tokens));
        const int result = Run([&](FirstStartDlg& dlg, ts::ModalScript& s) {
            s.Do([&] {
                Click(dlg, warden::kFirstStartToken);
                if (!dlg.IsEnding()) Click(dlg, warden::kFirstStartClose);
            });
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(Mode(), c.result == 1 ? 1 : -1);
        EXPECT_EQ(g_boxes.size(), c.result == 1 ? 0u : 1u);
    }
}

TEST_F(FirstStart, ClosingLeavesTheModeAsItWas) {
    for (DWORD before : {static_cast<DWORD>(-1), 1ul}) {
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", before), ERROR_SUCCESS);
        const int result = Run([&](FirstStartDlg& dlg, ts::ModalScript& s) {
            s.Do([&] {
                // Enter, Esc and the system close do nothing.
                SendMessageW(dlg, WM_KEYDOWN, VK_RETURN, 0);
                SendMessageW(dlg, WM_KEYDOWN, VK_ESCAPE, 0);
                SendMessageW(dlg, WM_CLOSE, 0, 0);
                EXPECT_FALSE(dlg.IsEnding());
                Click(dlg, warden::kFirstStartClose);
            });
        });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(GetMonitorKeyStyle(L"QJ_AppDriveMode"), before);
    }
    EXPECT_TRUE(g_boxes.empty());
}

// A refused write of the choice keeps the dialog open with the error; the change of mode's chooser
// (which stores the mode only after the old protections are off) writes nothing.
TEST_F(FirstStart, TheChoiceEndsTheDialogOnlyOnceItIsStored) {
    ASSERT_TRUE(tk::Insert({tk::MakeToken(0x100, 0, "ZARN-1")}));
    for (UINT choice : {warden::kFirstStartToken, warden::kFirstStartUsbDisk}) {
        SCOPED_TRACE(choice);
        g_boxes.clear();
        log_.failAt["switch QJ_AppDriveMode"] = ERROR_ACCESS_DENIED;
        bool openAfterRefusal = false;
        int result = Run([&](FirstStartDlg& dlg, ts::ModalScript& s) {
            s.Do([&] {
                Click(dlg, choice);
                openAfterRefusal = IsWindowVisible(dlg) && !dlg.IsEnding();
                log_.failAt.clear();
                Click(dlg, choice);
            });
        });
        EXPECT_TRUE(openAfterRefusal);
        ASSERT_EQ(g_boxes.size(), 1u);
        EXPECT_EQ(g_boxes[0].text, L"保存失败（错误码 5），原有设置未改变，请以管理员身份运行后重试。");
        EXPECT_EQ(g_boxes[0].type, static_cast<UINT>(MB_ICONERROR | MB_OK));
        const int mode = choice == warden::kFirstStartToken ? 1 : 0;
        EXPECT_EQ(result, mode);
        EXPECT_EQ(Mode(), mode);
        ASSERT_EQ(SetMonitorKeyStyle(L"QJ_AppDriveMode", static_cast<DWORD>(-1)), ERROR_SUCCESS);
    }

    log_.calls.clear();
    const int result = Run([&](FirstStartDlg& dlg, ts::ModalScript& s) { s.Do([&] { Click(dlg, warden::kFirstStartToken); }); },
                           false);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Mode(), -1);
    EXPECT_TRUE(log_.calls.empty()) << panelseams::Joined(log_.calls);
}
