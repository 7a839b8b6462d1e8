// The software login dialog in this process over the real stored record: typed through the edit
// window, pressed with clicks, its boxes read through the panel's box seam (one real box answered).
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bkedit.h"
#include "bkres.h"
#include "corelib.h"
#include "logondlg.h"
#include "paneltext.h"
#include "panelhost.h"
#include "panelseams.h"
#include "testsupport.h"
#include "uikit.h"

using warden::UserLogonDlg;

namespace {

using panelseams::g_boxes;
using panelseams::RecordBox;

std::vector<BYTE> StoredRecord() {
    std::vector<BYTE> bytes;
    ts::GetValue(HKEY_LOCAL_MACHINE, CORELIB_SETTINGS_KEY, L"QJ_uinfo", &bytes);
    return bytes;
}

std::wstring StoredLogonPwd() {
    uinfo r = {};
    GetUserInfo(&r);
    return r.lpLogonPWD;
}

class LogonDlg : public ::testing::Test {
protected:
    static void SetUpTestSuite() { BkLoadSkinTables(TRUE); }
    void SetUp() override {
        ts::ResetSettings();
        panelseams::InstallCorelibFakes(&log_);
        log_.realWrites = true;
        g_boxes.clear();
        warden::g_panelBox = RecordBox;
        // Off, or the dialog ends itself before anything can be typed.
        ASSERT_EQ(SetMonitorKeyStyle(L"AutoLogonSoft", 0), ERROR_SUCCESS);
    }
    void TearDown() override {
        warden::g_panelBox = warden::ShowSkinnedBox;
        ts::ResetSettings();
    }

    void Store(const wchar_t* password) {
        uinfo r = {};
        wcscpy(r.lpUserName, L"alice");
        wcscpy(r.lpLogonPWD, password);
        ASSERT_TRUE(SetUserInfo(&r));
    }

    HWND Edit() {
        CBkEdit* edit = static_cast<CBkEdit*>(dlg_->View().FindItem(warden::kLogonEdit));
        return edit ? edit->EditWindow() : nullptr;
    }
    // Types as the keyboard does, so that the edit's own limit applies.
    void Type(const std::wstring& text) {
        HWND edit = Edit();
        SetFocus(edit);
        for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
    }
    std::wstring EditText() {
        wchar_t text[300] = {};
        GetWindowTextW(Edit(), text, 300);
        return text;
    }
    void Click(UINT id) {
        CBkWindow* e = dlg_->View().FindItem(static_cast<int>(id));
        ASSERT_NE(e, nullptr) << id;
        RECT r = e->GetRect();
        ts::ClickAt(dlg_->View(), POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    }
    void Press(const std::wstring& text) {
        Type(text);
        Click(warden::kLogonButton);
    }
    std::wstring Text(UINT id) { return dlg_->GetItemText(static_cast<int>(id)).str(); }
    std::wstring Prompt() { return Text(warden::kLogonPrompt); }
    int Switch(const wchar_t* name) { return static_cast<int>(GetMonitorKeyStyle(name)); }

    // Runs the dialog with the steps (after it shows); the result, or -2 when the script timed out.
    int Run(const std::function<void(ts::ModalScript&)>& steps) {
        ts::ModalScript script;
        script.WaitUntil([&] { return dlg_->m_hWnd && IsWindowVisible(dlg_->m_hWnd) && Edit(); });
        steps(script);
        int result = -3;
        bool ok = script.Run([&] { result = dlg_->ShowModal(); });
        EXPECT_TRUE(ok) << "script timed out at step " << script.StepsDone();
        return ok ? result : -2;
    }

    ts::Restore<warden::Seams> restore_{warden::g_seams};
    panelseams::Log log_;
    std::unique_ptr<UserLogonDlg> dlg_ = std::make_unique<UserLogonDlg>();
};

}  // namespace

TEST(LogonDlgAuto, EndsAtOnceWhileAutoLogonSoftIsOnOrMissing) {
    BkLoadSkinTables(TRUE);
    for (int value : {-1, 1}) {
        ts::ResetSettings();
        if (value >= 0) {
            ASSERT_EQ(SetMonitorKeyStyle(L"AutoLogonSoft", value), ERROR_SUCCESS);
        }
        UserLogonDlg dlg;
        ts::ModalScript script;  // nothing to play: only the watchdog
        int result = -3;
        EXPECT_TRUE(script.Run([&] { result = dlg.ShowModal(); }, 5000)) << value;
        EXPECT_EQ(result, 0) << value;
        EXPECT_EQ(GetMonitorKeyStyle(L"AutoLogonSoft"), 1u) << "a missing switch reads, and is created, as 1";
    }
    ts::ResetSettings();
}

TEST_F(LogonDlg, TheStoredPasswordOrElse806OpensAndEveryPressStoresTheCheck) {
    const struct {
        const wchar_t* stored;
        const wchar_t* typed;
        int message;  // 0: the dialog ends with 0
    } cases[] = {
        {L"", L"806", 0},
        {L"", L"abc", warden::kStrWrongPassword},
        {L"", L"ABC", warden::kStrWrongPassword},
        {L"", L"", warden::kStrTypeSomething},
        {L"abc", L"806", warden::kStrWrongPassword},
        {L"abc", L"abc", 0},
        {L"abc", L"ABC", warden::kStrWrongPassword},
        {L"abc", L"", warden::kStrTypeSomething},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(ts::Narrow(c.stored) + " / " + ts::Narrow(c.typed));
        ts::ResetSettings();
        ASSERT_EQ(SetMonitorKeyStyle(L"AutoLogonSoft", 0), ERROR_SUCCESS);
        if (c.stored[0]) Store(c.stored);
        g_boxes.clear();
        dlg_ = std::make_unique<UserLogonDlg>();  // each case starts from a fresh dialog
        const bool tick = (n++ % 2) == 1;  // half the cases store AutoLogonSoft = 1
        std::wstring promptSeen, editAfter;
        const int result = Run([&](ts::ModalScript& s) {
            s.Do([&] {
                promptSeen = Prompt();
                if (tick) Click(warden::kLogonAutoCheck);
                Press(c.typed);
            });
            if (c.message) {
                s.Do([&] {
                    editAfter = EditText();
                    EXPECT_EQ(Switch(L"AutoLogonSoft"), tick ? 1 : 0) << "stored on a refused press too";
                    Click(warden::kLogonClose);
                });
            }
        });
        EXPECT_EQ(promptSeen, warden::PanelString(c.stored[0] ? warden::kStrLogonStored : warden::kStrLogonDefault));
        EXPECT_EQ(Switch(L"AutoLogonSoft"), tick ? 1 : 0);
        if (c.message == 0) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(g_boxes.empty());
        } else {
            EXPECT_EQ(result, -1) << "the close button";
            ASSERT_EQ(g_boxes.size(), 1u);
            EXPECT_EQ(g_boxes[0].text, warden::PanelString(c.message));
            EXPECT_EQ(g_boxes[0].caption, L"操作提示");
            EXPECT_EQ(g_boxes[0].type, 0x20u);
            EXPECT_EQ(editAfter, L"") << "a wrong password is cleared";
        }
    }
}

namespace {
DWORD g_readError = 0;
BOOL CORELIB_CALL FailingRead(uinfo* record) {
    ZeroMemory(record, sizeof(*record));
    SetLastError(g_readError);
    return FALSE;
}
}  // namespace

TEST_F(LogonDlg, OnlyNothingStoredMeansNoPasswordAnyOtherFailedReadRefusesWithTheReason) {
    const struct {
        DWORD error;     // the failed read's error
        bool opens;      // "806" opens the panel
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, true},
        {ERROR_ACCESS_DENIED, false},
        {ERROR_NOT_ENOUGH_MEMORY, false},
        {0, false},  // a failure that gives no reason still refuses
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        ts::ResetSettings();
        ASSERT_EQ(SetMonitorKeyStyle(L"AutoLogonSoft", 0), ERROR_SUCCESS);
        Store(L"");  // whatever is stored, the read fails
        g_readError = c.error;
        warden::g_seams.getUserInfo = FailingRead;
        g_boxes.clear();
        dlg_ = std::make_unique<UserLogonDlg>();
        std::wstring promptSeen;
        const int result = Run([&](ts::ModalScript& s) {
            s.Do([&] {
                promptSeen = Prompt();
                Press(L"806");
            });
            if (!c.opens) s.Do([&] { Click(warden::kLogonClose); });
        });
        if (c.opens) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(g_boxes.empty());
            EXPECT_EQ(promptSeen, warden::PanelString(warden::kStrLogonDefault));
        } else {
            EXPECT_EQ(result, -1) << "only the close button ends it";
            ASSERT_EQ(g_boxes.size(), 1u);
            const DWORD shown = c.error ? c.error : ERROR_READ_FAULT;
            EXPECT_EQ(g_boxes[0].text, warden::PanelStringWithError(warden::kStrRecordUnreadable, shown));
            EXPECT_NE(g_boxes[0].text.find(std::to_wstring(shown)), std::wstring::npos) << "the box names the error";
            EXPECT_EQ(promptSeen, warden::PanelString(warden::kStrLogonStored)) << "the default password is not offered";
        }
    }
}

TEST_F(LogonDlg, AFullChangeStoresTheNewPasswordKeepsAUserPasswordSavedMeanwhileAndAsksForTheNewOne) {
    Store(L"abc");
    struct Seen {
        std::wstring prompt, button, link;
        BOOL check;
    };
    std::vector<Seen> seen;
    auto look = [&] { seen.push_back({Prompt(), Text(warden::kLogonButton), Text(warden::kLogonModeLink),
                                      dlg_->GetItemCheck(warden::kLogonAutoCheck)}); };
    const int result = Run([&](ts::ModalScript& s) {
        s.Do([&] {
            look();  // 0: login
            Click(warden::kLogonAutoCheck);
            Click(warden::kLogonModeLink);
            look();  // 1: change, step 0
            Press(L"abc");
            look();  // 2: step 1, the check cleared
            Press(L"new-pass");
            look();  // 3: step 2
            // The credential provider saves the Windows password meanwhile.
            uinfo other = {};
            ASSERT_TRUE(GetUserInfo(&other));
            wcscpy(other.lpUserPWD, L"windows-pw");
            ASSERT_TRUE(SetUserInfo(&other));
            Press(L"new-pass");
            look();  // 4: login again
            Press(L"abc");  // the old one no longer opens
        });
        s.Do([&] { Press(L"new-pass"); });
    });
    EXPECT_EQ(result, 0);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].prompt, warden::PanelString(46));
    EXPECT_EQ(seen[0].button, L"登陆");
    EXPECT_EQ(seen[0].link, L"重设口令");
    EXPECT_EQ(seen[1].prompt, warden::PanelString(43));
    EXPECT_EQ(seen[1].button, L"确定");
    EXPECT_EQ(seen[1].link, L"取消修改");
    EXPECT_TRUE(seen[1].check);
    EXPECT_EQ(seen[2].prompt, warden::PanelString(44));
    EXPECT_FALSE(seen[2].check) << "changing clears the auto-login check";
    EXPECT_EQ(seen[3].prompt, warden::PanelString(45));
    EXPECT_EQ(seen[4].prompt, warden::PanelString(46));
    EXPECT_EQ(seen[4].button, L"登陆");
    EXPECT_EQ(seen[4].link, L"修改口令");
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_boxes[0].text, L"修改成功，请登陆！");
    EXPECT_EQ(g_boxes[1].text, warden::PanelString(warden::kStrWrongPassword));
    uinfo stored = {};
    ASSERT_TRUE(GetUserInfo(&stored));
    EXPECT_STREQ(stored.lpLogonPWD, L"new-pass");
    EXPECT_STREQ(stored.lpUserPWD, L"windows-pw");
    EXPECT_EQ(Switch(L"AutoLogonSoft"), 0);
}

TEST_F(LogonDlg, AMismatchQuotesTheFirstEntryAndStaysAtTheRepeat) {
    const int result = Run([&](ts::ModalScript& s) {
        s.Do([&] {
            Click(warden::kLogonModeLink);
            Press(L"806");
            Press(L"one");
            Press(L"two");
            EXPECT_EQ(Prompt(), warden::PanelString(45));
            Press(L"three");
            EXPECT_EQ(Prompt(), warden::PanelString(45));
            Click(warden::kLogonClose);
        });
    });
    EXPECT_EQ(result, -1);
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_boxes[0].text, L"两次口令不一至，您上一次输入的口令是\r\n【one】");
    EXPECT_EQ(g_boxes[1].text, L"两次口令不一至，您上一次输入的口令是\r\n【one】");
    EXPECT_TRUE(StoredRecord().empty()) << "nothing stored";
}

TEST_F(LogonDlg, EnteringAndLeavingChangeModeKeepsTheRecordsBytes) {
    Store(L"abc");
    const std::vector<BYTE> before = StoredRecord();
    std::wstring promptAfter, editAfter;
    Run([&](ts::ModalScript& s) {
        s.Do([&] {
            Click(warden::kLogonModeLink);
            Press(L"abc");
            Type(L"half");
            Click(warden::kLogonModeLink);
            promptAfter = Prompt();
            editAfter = EditText();
            Click(warden::kLogonClose);
        });
    });
    EXPECT_EQ(promptAfter, warden::PanelString(46));
    EXPECT_EQ(editAfter, L"");
    EXPECT_EQ(StoredRecord(), before);
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(LogonDlg, NoMoreThanAHundredCharactersCanBeTyped) {
    std::wstring typed;
    Run([&](ts::ModalScript& s) {
        s.Do([&] {
            Click(warden::kLogonModeLink);
            Press(L"806");
            Type(std::wstring(150, L'x'));
            typed = EditText();
            EXPECT_EQ(Text(warden::kLogonEdit).size(), 100u) << "the element follows the window";
            Click(warden::kLogonButton);
            Press(std::wstring(150, L'x'));
            Click(warden::kLogonClose);
        });
    });
    EXPECT_EQ(typed, std::wstring(100, L'x'));
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, L"修改成功，请登陆！");
    EXPECT_EQ(StoredLogonPwd(), std::wstring(100, L'x'));
}

TEST_F(LogonDlg, ARefusedSaveShowsString200AndNeverSuccess) {
    Store(L"abc");
    const std::vector<BYTE> before = StoredRecord();
    log_.failAt["logonpwd"] = ERROR_ACCESS_DENIED;
    std::wstring prompt;
    Run([&](ts::ModalScript& s) {
        s.Do([&] {
            Click(warden::kLogonModeLink);
            Press(L"abc");
            Press(L"new");
            Press(L"new");
            prompt = Prompt();
            Click(warden::kLogonClose);
        });
    });
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, L"保存失败（错误码 5），原有设置未改变，请以管理员身份运行后重试。");
    EXPECT_EQ(prompt, warden::PanelString(43)) << "the change starts again at the old password";
    EXPECT_EQ(StoredRecord(), before);
}

TEST_F(LogonDlg, EnterEscAndCloseDoNothingAndARealBoxIsAnswered) {
    warden::g_panelBox = warden::ShowSkinnedBox;
    HWND box = nullptr;
    std::wstring boxTitle;
    bool stillOpen = false;
    const int result = Run([&](ts::ModalScript& s) {
        s.Do([&] {
            SendMessageW(dlg_->m_hWnd, WM_KEYDOWN, VK_RETURN, 0);
            SendMessageW(dlg_->m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
            SendMessageW(dlg_->m_hWnd, WM_CLOSE, 0, 0);
            stillOpen = IsWindowVisible(dlg_->m_hWnd) && !dlg_->IsEnding();
            Type(L"secret");
            RedrawWindow(dlg_->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        });
        s.Do([&] {
            // As the user sees it; the title right of the header's icon.
            const ts::Capture shot = ts::ScreenshotOf(dlg_->m_hWnd);
            EXPECT_TRUE(shot.ok()) << "the dialog never settled on the screen";
            EXPECT_TRUE(ts::KeepScreenshot(shot, L"warden", L"warden_514_login.bmp"));
            EXPECT_GT(ts::InkPixels(shot, RECT{25, 4, 160, 27}), 60) << "no title in the header";
            // The prompt above the edit and the login button's caption.
            for (UINT id : {warden::kLogonPrompt, warden::kLogonButton}) {
                CBkWindow* item = dlg_->View().FindItem(static_cast<int>(id));
                EXPECT_NE(item, nullptr) << id;
                if (item) {
                    EXPECT_GT(ts::InkPixels(shot, ts::RectInShot(dlg_->m_hWnd, dlg_->View(), item->GetRect())), 40)
                        << "item " << id << " shows nothing";
                }
            }
            SetWindowTextW(Edit(), L"");
            Press(L"wrong");  // opens the real box; the steps below play inside its loop
        });
        s.WaitUntil([&] {
            box = FindWindowW(nullptr, L"操作提示");
            return box && box != dlg_->m_hWnd && IsWindowVisible(box);
        });
        s.Do([&] {
            wchar_t title[64] = {};
            GetWindowTextW(box, title, 64);
            boxTitle = title;
            // Enter leaves the box open (it ends only on its buttons); then its view's click on 确定.
            SendMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
            EXPECT_TRUE(IsWindowVisible(box));
            HWND view = GetDlgItem(box, kBkViewCtrlId);
            BkCommandNotify click = {{view, kBkViewCtrlId, kBkNotifyCommand}, IDOK, "button"};
            SendMessageW(box, WM_NOTIFY, kBkViewCtrlId, reinterpret_cast<LPARAM>(&click));
        });
        s.WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
        s.Do([&] { Click(warden::kLogonClose); });
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(boxTitle, L"操作提示");
    EXPECT_EQ(result, -1);
}
