#include "elemhost.h"

#include "bkwndreg.h"

namespace eh {

namespace {
const wchar_t kFrameClass[] = L"ElemHostFrame";
const wchar_t kViewClass[] = L"ElemHostView";

LRESULT CALLBACK FrameProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    Host* host = (Host*)::GetWindowLongPtrW(h, GWLP_USERDATA);
    if (m == WM_NOTIFY && host) {
        const NMHDR* hdr = (const NMHDR*)l;
        if (hdr->code == kBkNotifyRealWndMoved) {
            const BkRealWndMovedNotify* n = (const BkRealWndMovedNotify*)l;
            host->moved.push_back({w, hdr->hwndFrom, hdr->idFrom, n->uItemID, n->rcWnd});
        }
        return 0;
    }
    if (m == WM_SYSCOMMAND && (w & 0xFFF0) == 0xF010) return 0;  // no move loop in a test
    return ::DefWindowProcW(h, m, w, l);
}

LRESULT CALLBACK ViewProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    Host* host = (Host*)::GetWindowLongPtrW(h, GWLP_USERDATA);
    if (host) return host->OnView(m, w, l);
    return ::DefWindowProcW(h, m, w, l);
}

void RegisterClasses() {
    static bool done = false;
    if (done) return;
    WNDCLASSW wc = {};
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.lpszClassName = kFrameClass;
    wc.lpfnWndProc = FrameProc;
    ::RegisterClassW(&wc);
    wc.lpszClassName = kViewClass;
    wc.lpfnWndProc = ViewProc;
    ::RegisterClassW(&wc);
    done = true;
}
}  // namespace

Host::Host(int cx, int cy, COLORREF background) : background_(background) {
    RegisterClasses();
    frame_ = ::CreateWindowExW(0, kFrameClass, L"elements", WS_POPUP | WS_VISIBLE, 80, 80, cx, cy, nullptr, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
    if (!frame_) return;
    ::SetWindowLongPtrW(frame_, GWLP_USERDATA, (LONG_PTR)this);
    view_ = ::CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, cx, cy, frame_,
                              (HMENU)(UINT_PTR)kBkViewCtrlId, ::GetModuleHandleW(nullptr), nullptr);
    if (view_) ::SetWindowLongPtrW(view_, GWLP_USERDATA, (LONG_PTR)this);
    ::UpdateWindow(frame_);
}

Host::~Host() {
    if (view_) ::SetWindowLongPtrW(view_, GWLP_USERDATA, 0);
    if (frame_) {
        ::SetWindowLongPtrW(frame_, GWLP_USERDATA, 0);
        ::DestroyWindow(frame_);
    }
}

void Host::Add(CBkWindow* w, bool place) {
    w->SetContainerWindow(view_);
    elements_.push_back(w->GetHandle());
    if (place) {
        RECT rc;
        ::GetClientRect(view_, &rc);
        Place(w, 0, 0, rc.right, rc.bottom);
    }
}

void Host::Place(CBkWindow* w, int x, int y, int cx, int cy) {
    WINDOWPOS pos = {};
    pos.x = x;
    pos.y = y;
    if (w->GetPosCount() == 2 || w->GetPosCount() == 4) {
        // A container starts a positioned element at its resolved left and top.
        pos.x += BkResolvePos(w->GetPos()[0], cx);
        pos.y += BkResolvePos(w->GetPos()[1], cy);
    }
    pos.cx = cx;
    pos.cy = cy;
    w->SendToSelf(WM_WINDOWPOSCHANGED, 0, (LPARAM)&pos);
}

POINT Host::Centre(const CBkWindow* w) {
    const RECT& r = w->GetRect();
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void Host::PaintAll(HDC dc) {
    ::SetBkMode(dc, TRANSPARENT);  // as the view prepares its memory DC
    for (HBKWND h : elements_) {
        CBkWindow* w = BkWindowRegistry::Find(h);
        if (w && w->IsVisibleDeep()) w->PaintInRegion(dc, nullptr);
    }
}

LRESULT Host::OnView(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_NOTIFY: {
        const NMHDR* hdr = (const NMHDR*)lParam;
        if (hdr->code == kBkNotifyRedraw) {
            const BkRedrawNotify* n = (const BkRedrawNotify*)lParam;
            redraws.push_back({hdr->idFrom, hdr->code, hdr->hwndFrom, wParam, n->hbkWnd, n->rcWnd});
            ::InvalidateRect(view_, &n->rcWnd, FALSE);
            return 0;
        }
        return ::SendMessageW(frame_, WM_NOTIFY, wParam, lParam);  // as the view passes them on
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_PRINTCLIENT:
    case WM_PAINT: {
        PAINTSTRUCT ps = {};
        HDC dc = msg == WM_PAINT ? ::BeginPaint(view_, &ps) : (HDC)wParam;
        RECT rc;
        ::GetClientRect(view_, &rc);
        const COLORREF old = ::SetBkColor(dc, background_);
        ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
        ::SetBkColor(dc, old);
        PaintAll(dc);
        if (msg == WM_PAINT) ::EndPaint(view_, &ps);
        return 0;
    }
    }
    return ::DefWindowProcW(view_, msg, wParam, lParam);
}

}  // namespace eh
