// A sample window with every element of the framework and Chinese text: a look at the skins and a
// target for screenshots. Not shipped.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <gdiplus.h>

#include <stdio.h>
#include <string.h>

#include "bkdialog.h"
#include "bkmsgbox.h"
#include "roundframe.h"
#include "winlayer.h"

namespace {

enum : UINT { kGalleryLayout = 201, kRealWndId = 400, kMessageBoxButton = 301, kMemImage = 311 };

class CGalleryDlg : public CBkDialogImpl<CGalleryDlg>, public CWHRoundRectFrameHelper<CGalleryDlg> {
public:
    CGalleryDlg() : CBkDialogImpl<CGalleryDlg>(kGalleryLayout) {}
    ~CGalleryDlg() override { delete m_image; }

    void OnBkCommand(UINT id, LPCSTR) {
        switch (id) {
        case 60003:
            SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
            break;
        case 60002:
            SendMessage(WM_SYSCOMMAND, IsZoomed() ? SC_RESTORE : SC_MAXIMIZE);
            break;
        case 60001:
        case IDCANCEL:
            EndDialog((int)id);
            break;
        case kMessageBoxButton:
            CBkSafeMsgBox::Show(L"这是框架的消息框：\r\n按钮、图标和文字都来自皮肤。", L"操作提示",
                                MB_OKCANCEL | MB_ICONASTERISK, nullptr, m_hWnd);
            break;
        default:
            break;
        }
    }

    BEGIN_MSG_MAP(CGalleryDlg)
        BK_NOTIFY_COMMAND(OnBkCommand)
        CHAIN_MSG_MAP(CBkDialogImpl<CGalleryDlg>)
        CHAIN_MSG_MAP(CWHRoundRectFrameHelper<CGalleryDlg>)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        // The edit and combo windows follow what is typed only through their reflected WM_COMMAND.
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
        HWND real = ::CreateWindowExW(0, L"BUTTON", L"真实的窗口按钮", WS_CHILD | BS_PUSHBUTTON, 0, 0, 10, 10,
                                      View(), (HMENU)(INT_PTR)kRealWndId, nullptr, nullptr);
        ::SendMessageW(real, WM_SETFONT, (WPARAM)BkFontPool::GetFont(0), FALSE);
        // A picture of the application's for the memory image, passed at full pointer width.
        BkPngPool::Instance();  // starts GDI+
        m_image = Gdiplus::Bitmap::FromHBITMAP(BkBmpPool::GetBitmap(7101), nullptr);
        if (m_image) {
            char pointer[32];
            snprintf(pointer, sizeof(pointer), "%llu", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(m_image)));
            SetItemAttribute(kMemImage, "mempointer", pointer);
        }
        return TRUE;
    }

private:
    Gdiplus::Bitmap* m_image = nullptr;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    CAppModule module;
    module.Init(nullptr, instance);
    BkLoadSkinTables(TRUE);
    int result = 0;
    {
        CGalleryDlg dlg;
        result = dlg.ShowModal(nullptr);
    }
    module.Term();
    ::CoUninitialize();
    return result;
}
