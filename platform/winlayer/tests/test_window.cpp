// Window objects: the routing of every message (from the first one CreateWindowEx sends), the
// handled flag, chained maps, superclasses, subclassing, reflection and the double buffer.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "uikit.h"
#include "winlayer.h"

namespace {

// Records the messages of creation, with the handle the object had while handling each.
class RecordingFrame : public CWindowImpl<RecordingFrame, CWindow, CFrameWinTraits> {
public:
    DECLARE_WND_CLASS(L"WlTestRecordingFrame")

    struct Seen {
        UINT msg;
        HWND hwndParam;
        HWND member;
    };
    std::vector<Seen> seen;
    POINT maxTrack = {0, 0};
    bool finalCalled = false;
    bool destroyInHandler = false;
    HWND memberAfterDestroyCall = nullptr;

    BEGIN_MSG_MAP(RecordingFrame)
        MESSAGE_HANDLER(WM_GETMINMAXINFO, OnMinMax)
        MESSAGE_HANDLER(WM_NCCREATE, OnRecord)
        MESSAGE_HANDLER(WM_CREATE, OnRecord)
        MESSAGE_HANDLER(WM_SETTEXT, OnSetText)
        MSG_HANDLER(WM_USER + 1, OnOuter)
        MSG_HANDLER(WM_USER + 2, OnInner)
        MESSAGE_HANDLER(WM_USER + 3, OnDestroyFromHandler)
    END_MSG_MAP()

    bool passSetText = true;  // WM_SETTEXT left to the default procedure

    LRESULT OnMinMax(UINT m, WPARAM, LPARAM l, BOOL& handled) {
        seen.push_back({m, GetCurrentMessage() ? GetCurrentMessage()->hwnd : nullptr, m_hWnd});
        // Handled here, as the skinned dialogs do: the object must answer before WM_NCCREATE.
        auto* info = reinterpret_cast<MINMAXINFO*>(l);
        info->ptMaxTrackSize.x = 321;
        info->ptMaxTrackSize.y = 123;
        maxTrack = info->ptMaxTrackSize;
        handled = TRUE;
        return 0;
    }
    LRESULT OnRecord(UINT m, WPARAM, LPARAM, BOOL& handled) {
        seen.push_back({m, GetCurrentMessage()->hwnd, m_hWnd});
        handled = FALSE;  // the default procedure must still create the window
        return 0;
    }
    LRESULT OnSetText(UINT, WPARAM, LPARAM, BOOL& handled) {
        handled = passSetText ? FALSE : TRUE;
        return TRUE;
    }
    LRESULT OnOuter(UINT, WPARAM, LPARAM) {
        SetMsgHandled(FALSE);
        // A message handled meanwhile must not turn the outer one into a handled one.
        ::SendMessageW(m_hWnd, WM_USER + 2, 0, 0);
        return 5;
    }
    LRESULT OnInner(UINT, WPARAM, LPARAM) { return 7; }
    LRESULT OnDestroyFromHandler(UINT, WPARAM, LPARAM, BOOL&) {
        ::DestroyWindow(m_hWnd);
        memberAfterDestroyCall = m_hWnd;  // still ours until this dispatch returns
        return 0;
    }
    void OnFinalMessage(HWND) override { finalCalled = true; }
};

TEST(WindowRouting, MessagesBeforeNcCreateReachTheObjectWithItsHandleSet) {
    RecordingFrame w;
    RECT rc = {10, 10, 200, 150};
    HWND h = w.Create(nullptr, &rc, L"rec", WS_OVERLAPPEDWINDOW);
    ASSERT_NE(h, nullptr);
    ASSERT_GE(w.seen.size(), 3u);
    EXPECT_EQ(w.seen[0].msg, (UINT)WM_GETMINMAXINFO);
    EXPECT_EQ(w.seen[0].member, h);
    EXPECT_EQ(w.seen[0].hwndParam, h);
    size_t nc = 0, create = 0;
    for (size_t i = 0; i < w.seen.size(); ++i) {
        if (w.seen[i].msg == WM_NCCREATE) nc = i;
        if (w.seen[i].msg == WM_CREATE) create = i;
        EXPECT_EQ(w.seen[i].member, h);
    }
    EXPECT_GT(nc, 0u);
    EXPECT_GT(create, nc);
    EXPECT_EQ(w.maxTrack.x, 321);
    EXPECT_EQ(w.m_hWnd, h);
    EXPECT_TRUE(w.DestroyWindow());
    EXPECT_TRUE(w.finalCalled);
    EXPECT_EQ(w.m_hWnd, nullptr);
}

TEST(WindowRouting, HandledFlagDecidesWhetherTheDefaultProcedureRuns) {
    RecordingFrame w;
    ASSERT_NE(w.Create(nullptr, nullptr, L"first", WS_OVERLAPPEDWINDOW), nullptr);
    wchar_t buf[32] = {};
    w.passSetText = false;
    w.SetWindowText(L"kept out");
    w.GetWindowText(buf, 32);
    EXPECT_STREQ(buf, L"first");
    w.passSetText = true;
    w.SetWindowText(L"let through");
    w.GetWindowText(buf, 32);
    EXPECT_STREQ(buf, L"let through");

    // Not handled by the outer handler, although a nested message was handled: default result 0.
    EXPECT_EQ(w.SendMessage(WM_USER + 1), 0);
    EXPECT_EQ(w.SendMessage(WM_USER + 2), 7);
    w.DestroyWindow();
}

TEST(WindowRouting, DestroyInsideAHandlerEndsTheBindingAfterThatHandler) {
    RecordingFrame w;
    HWND h = w.Create(nullptr, nullptr, L"x", WS_OVERLAPPEDWINDOW);
    ASSERT_NE(h, nullptr);
    w.SendMessage(WM_USER + 3);
    EXPECT_EQ(w.memberAfterDestroyCall, h);
    EXPECT_TRUE(w.finalCalled);
    EXPECT_EQ(w.m_hWnd, nullptr);
    EXPECT_FALSE(::IsWindow(h));
}

// ---- superclass and reflection -----------------------------------------------------------------

class ReflectingEdit : public CWindowImpl<ReflectingEdit> {
public:
    DECLARE_WND_SUPERCLASS(L"WlTestEdit", L"EDIT")
    std::vector<WORD> changeCodes;
    int chars = 0;

    BEGIN_MSG_MAP(ReflectingEdit)
        MESSAGE_HANDLER(WM_CHAR, OnChar)
        MESSAGE_HANDLER(OCM_COMMAND, OnReflectedCommand)
        DEFAULT_REFLECTION_HANDLER()
    END_MSG_MAP()

    LRESULT OnChar(UINT, WPARAM, LPARAM, BOOL& handled) {
        ++chars;
        handled = FALSE;  // the edit control still types the character
        return 0;
    }
    LRESULT OnReflectedCommand(UINT, WPARAM w, LPARAM, BOOL&) {
        changeCodes.push_back(HIWORD(w));
        return 0;
    }
};

class Host : public CWindowImpl<Host, CWindow, CFrameWinTraits> {
public:
    DECLARE_WND_CLASS(L"WlTestHost")
    bool reflect = true;
    int commands = 0;
    int selfNotifyHandled = -1;

    BEGIN_MSG_MAP(Host)
        MESSAGE_HANDLER(WM_USER + 10, OnSelfNotify)
        if (uMsg == WM_COMMAND) ++commands;
        if (reflect) REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    LRESULT OnSelfNotify(UINT, WPARAM, LPARAM, BOOL&) {
        NMHDR nm = {m_hWnd, 1000, 1};
        BOOL handled = TRUE;
        WinReflectNotification(m_hWnd, WM_NOTIFY, 1000, (LPARAM)&nm, handled);
        selfNotifyHandled = handled;
        return 0;
    }
};

TEST(Superclass, EditKeepsItsOwnBehaviourAndGetsReflectedNotifications) {
    Host host;
    ASSERT_NE(host.Create(nullptr, nullptr, L"host", WS_OVERLAPPEDWINDOW), nullptr);
    ReflectingEdit edit;
    RECT rc = {5, 5, 150, 30};
    HWND e = edit.Create(host, &rc, nullptr, WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 42);
    ASSERT_NE(e, nullptr);
    wchar_t cls[32] = {};
    GetClassNameW(e, cls, 32);
    EXPECT_STREQ(cls, L"WlTestEdit");
    EXPECT_EQ(GetDlgCtrlID(e), 42);

    edit.SendMessage(WM_CHAR, 'a', 1);
    edit.SendMessage(WM_CHAR, 'b', 1);
    wchar_t buf[16] = {};
    edit.GetWindowText(buf, 16);
    EXPECT_STREQ(buf, L"ab");
    EXPECT_EQ(edit.chars, 2);
    ASSERT_FALSE(edit.changeCodes.empty());
    bool sawChange = false;
    for (WORD c : edit.changeCodes) sawChange |= c == EN_CHANGE;
    EXPECT_TRUE(sawChange);
    EXPECT_EQ(OCM_COMMAND, 0x2111);

    // Without reflection the notification stays with the parent.
    host.reflect = false;
    edit.changeCodes.clear();
    const int before = host.commands;
    edit.SendMessage(WM_CHAR, 'c', 1);
    EXPECT_TRUE(edit.changeCodes.empty());
    EXPECT_GT(host.commands, before);

    // A window's notification to itself is nobody's to reflect.
    host.SendMessage(WM_USER + 10);
    EXPECT_EQ(host.selfNotifyHandled, FALSE);
    host.DestroyWindow();
    EXPECT_EQ(edit.m_hWnd, nullptr);  // destroyed with its parent, binding released
}

TEST(Superclass, WindowOutlivingItsObjectFallsBackToTheClassProcedure) {
    Host host;
    ASSERT_NE(host.Create(nullptr, nullptr, L"host", WS_OVERLAPPEDWINDOW), nullptr);
    HWND e = nullptr;
    {
        ReflectingEdit edit;
        RECT rc = {5, 5, 150, 30};
        e = edit.Create(host, &rc, nullptr, WS_CHILD | WS_VISIBLE);
        ASSERT_NE(e, nullptr);
    }
    host.reflect = false;
    SetWindowTextW(e, L"still an edit");
    wchar_t buf[32] = {};
    GetWindowTextW(e, buf, 32);
    EXPECT_STREQ(buf, L"still an edit");
    // Typing is the edit procedure's own work (the default procedure ignores WM_CHAR).
    SendMessageW(e, EM_SETSEL, 0, -1);
    SendMessageW(e, WM_CHAR, 'z', 1);
    GetWindowTextW(e, buf, 32);
    EXPECT_STREQ(buf, L"z");
    host.DestroyWindow();
}

// ---- subclassing -------------------------------------------------------------------------------

class StaticSpy : public CWindowImpl<StaticSpy> {
public:
    int texts = 0;
    bool finalCalled = false;
    BEGIN_MSG_MAP(StaticSpy)
        MESSAGE_HANDLER(WM_SETTEXT, OnSetText)
    END_MSG_MAP()
    LRESULT OnSetText(UINT, WPARAM, LPARAM, BOOL& handled) {
        ++texts;
        handled = FALSE;
        return 0;
    }
    void OnFinalMessage(HWND) override { finalCalled = true; }
};

TEST(Subclass, RoutesAnExistingWindowAndGivesItBack) {
    HWND s = CreateWindowExW(0, L"STATIC", L"s", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    const LONG_PTR original = GetWindowLongPtrW(s, GWLP_WNDPROC);
    StaticSpy spy;
    ASSERT_TRUE(spy.SubclassWindow(s));
    EXPECT_FALSE(spy.SubclassWindow(s));  // one window per object
    SetWindowTextW(s, L"one");
    EXPECT_EQ(spy.texts, 1);
    wchar_t buf[8] = {};
    GetWindowTextW(s, buf, 8);
    EXPECT_STREQ(buf, L"one");
    EXPECT_EQ(spy.UnsubclassWindow(), s);
    EXPECT_EQ(GetWindowLongPtrW(s, GWLP_WNDPROC), original);
    SetWindowTextW(s, L"two");
    EXPECT_EQ(spy.texts, 1);

    ASSERT_TRUE(spy.SubclassWindow(s));
    DestroyWindow(s);
    EXPECT_TRUE(spy.finalCalled);
    EXPECT_EQ(spy.m_hWnd, nullptr);
}

// ---- double buffer -----------------------------------------------------------------------------

class Painted : public CWindowImpl<Painted, CWindow, CFrameWinTraits>, public CDoubleBufferImpl<Painted> {
public:
    DECLARE_WND_CLASS(L"WlTestPainted")
    int paints = 0;
    BEGIN_MSG_MAP(Painted)
        CHAIN_MSG_MAP(CDoubleBufferImpl<Painted>)
    END_MSG_MAP()
    void DoPaint(HDC dc) {
        ++paints;
        RECT rc;
        GetClientRect(&rc);
        HBRUSH b = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
        FillRect(dc, &rc, b);
        DeleteObject(b);
        RECT mark = {3, 4, 5, 6};
        b = CreateSolidBrush(RGB(0xAB, 0xCD, 0xEF));
        FillRect(dc, &mark, b);
        DeleteObject(b);
    }
};

TEST(DoubleBuffer, PrintClientPaintsThroughTheBuffer) {
    Painted w;
    RECT rc = {0, 0, 120, 90};
    ASSERT_NE(w.Create(nullptr, &rc, L"p", WS_POPUP), nullptr);
    ts::Capture c = ts::CaptureView(w);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(w.paints, 1);
    EXPECT_EQ(c.At(0, 0), RGB(0x12, 0x34, 0x56));
    EXPECT_EQ(c.At(3, 4), RGB(0xAB, 0xCD, 0xEF));
    EXPECT_EQ(c.At(5, 6), RGB(0x12, 0x34, 0x56));
    // Erasing does nothing: the buffer covers the whole client area.
    EXPECT_EQ(w.SendMessage(WM_ERASEBKGND, 0, 0), 1);
    w.DestroyWindow();
}

}  // namespace

namespace {

// Two objects of classes that share one window-class name: the second finds the class registered
// by the first and still routes through its own object.
class SharedNameA : public CWindowImpl<SharedNameA, CWindow, CFrameWinTraits> {
public:
    DECLARE_WND_CLASS(L"WlTestSharedName")
    BEGIN_MSG_MAP(SharedNameA)
        MESSAGE_HANDLER(WM_USER + 20, OnAsk)
    END_MSG_MAP()
    LRESULT OnAsk(UINT, WPARAM, LPARAM, BOOL&) { return 'A'; }
};
class SharedNameB : public CWindowImpl<SharedNameB, CWindow, CFrameWinTraits> {
public:
    DECLARE_WND_CLASS(L"WlTestSharedName")
    BEGIN_MSG_MAP(SharedNameB)
        MESSAGE_HANDLER(WM_USER + 20, OnAsk)
    END_MSG_MAP()
    LRESULT OnAsk(UINT, WPARAM, LPARAM, BOOL&) { return 'B'; }
};

TEST(WindowClass, ARegisteredNameIsReusedAndEachObjectKeepsItsMap) {
    SharedNameA a;
    SharedNameB b;
    ASSERT_NE(a.Create(nullptr, nullptr, L"a", WS_POPUP), nullptr);
    ASSERT_NE(b.Create(nullptr, nullptr, L"b", WS_POPUP), nullptr);
    EXPECT_EQ(a.SendMessage(WM_USER + 20), 'A');
    EXPECT_EQ(b.SendMessage(WM_USER + 20), 'B');
    // A class of that name that does not route through objects is not taken over.
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WlTestForeign";
    ASSERT_NE(RegisterClassExW(&wc), 0);
    struct Foreign : CWindowImpl<Foreign> {
        DECLARE_WND_CLASS(L"WlTestForeign")
        BEGIN_MSG_MAP(Foreign)
        END_MSG_MAP()
    } f;
    EXPECT_EQ(f.Create(nullptr, nullptr, L"f", WS_POPUP), nullptr);
    a.DestroyWindow();
    b.DestroyWindow();
}

}  // namespace
