#include "uikit.h"

#include <stdio.h>
#include <string.h>

#include <map>

#include "testsupport.h"

#include "uinput.h"

namespace ts {

// ---- Dib ---------------------------------------------------------------------------------------

Dib::Dib(int width, int height, COLORREF fill) : w_(width), h_(height) {
    if (width <= 0 || height <= 0) return;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down: row 0 is the top
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap_) return;
    dc_ = CreateCompatibleDC(nullptr);
    if (!dc_) {
        DeleteObject(bitmap_);
        bitmap_ = nullptr;
        return;
    }
    old_ = SelectObject(dc_, bitmap_);
    bits_ = static_cast<uint32_t*>(bits);
    Fill(fill);
}

Dib::~Dib() {
    if (dc_) {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    if (bitmap_) DeleteObject(bitmap_);
}

void Dib::Fill(COLORREF c) {
    RECT r = {0, 0, w_, h_};
    Fill(r, c);
}

void Dib::Fill(const RECT& r, COLORREF c) {
    if (!bits_) return;
    GdiFlush();
    const uint32_t v = (uint32_t)GetBValue(c) | ((uint32_t)GetGValue(c) << 8) | ((uint32_t)GetRValue(c) << 16);
    for (int y = r.top < 0 ? 0 : r.top; y < r.bottom && y < h_; ++y)
        for (int x = r.left < 0 ? 0 : r.left; x < r.right && x < w_; ++x) bits_[(size_t)y * w_ + x] = v;
}

uint32_t Dib::Raw(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= w_ || y >= h_) return 0;
    GdiFlush();
    return bits_[(size_t)y * w_ + x];
}

void Dib::SetRaw(int x, int y, uint32_t bgra) {
    if (!bits_ || x < 0 || y < 0 || x >= w_ || y >= h_) return;
    GdiFlush();
    bits_[(size_t)y * w_ + x] = bgra;
}

COLORREF Dib::At(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= w_ || y >= h_) return CLR_INVALID;
    uint32_t v = Raw(x, y);
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

int Dib::CountOther(const RECT& r, COLORREF c) const {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (At(x, y) != c) ++n;
    return n;
}

static bool WriteBmp24(const std::wstring& path, int w, int h, const std::function<COLORREF(int, int)>& at) {
    const int rowBytes = ((w * 24 + 31) / 32) * 4;
    std::vector<BYTE> data((size_t)rowBytes * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            COLORREF c = at(x, y);
            BYTE* p = &data[(size_t)(h - 1 - y) * rowBytes + (size_t)x * 3];
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
        }
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(ih);
    fh.bfSize = fh.bfOffBits + (DWORD)data.size();
    ih.biSize = sizeof(ih);
    ih.biWidth = w;
    ih.biHeight = h;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biSizeImage = (DWORD)data.size();
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = fwrite(&fh, sizeof(fh), 1, f) == 1 && fwrite(&ih, sizeof(ih), 1, f) == 1 &&
              fwrite(data.data(), 1, data.size(), f) == data.size();
    fclose(f);
    return ok;
}

bool Dib::SaveBmp(const std::wstring& path) const {
    if (!bits_) return false;
    return WriteBmp24(path, w_, h_, [this](int x, int y) { return At(x, y); });
}

// ---- captures ----------------------------------------------------------------------------------

COLORREF Capture::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
    uint32_t v = pixels[(size_t)y * width + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

bool Capture::SaveBmp(const std::wstring& path) const {
    if (!ok()) return false;
    return WriteBmp24(path, width, height, [this](int x, int y) { return At(x, y); });
}

static Capture FromDib(const Dib& dib) {
    Capture c;
    if (!dib.ok()) return c;
    c.width = dib.width();
    c.height = dib.height();
    c.pixels.resize((size_t)c.width * c.height);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) c.pixels[(size_t)y * c.width + x] = dib.Raw(x, y);
    return c;
}

Capture CaptureView(HWND hWnd, LPARAM flags) {
    RECT rc = {};
    if (!GetClientRect(hWnd, &rc)) return Capture();
    Dib dib(rc.right, rc.bottom);
    if (!dib.ok()) return Capture();
    SendMessageW(hWnd, WM_PRINTCLIENT, (WPARAM)dib.dc(), flags);
    GdiFlush();
    return FromDib(dib);
}

Capture CaptureScreen(const RECT& r) {
    Dib dib(r.right - r.left, r.bottom - r.top);
    if (!dib.ok()) return Capture();
    HDC screen = GetDC(nullptr);
    BitBlt(dib.dc(), 0, 0, dib.width(), dib.height(), screen, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    GdiFlush();
    return FromDib(dib);
}

Capture CaptureWindowOnScreen(HWND hWnd) {
    RECT r = {};
    if (!GetWindowRect(hWnd, &r)) return Capture();
    return CaptureScreen(r);
}

static BOOL CALLBACK ChildPaintPending(HWND child, LPARAM found) {
    if (!IsWindowVisible(child) || !GetUpdateRect(child, nullptr, FALSE)) return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

static bool PaintPending(HWND hWnd) {
    if (GetUpdateRect(hWnd, nullptr, FALSE)) return true;
    bool pending = false;
    EnumChildWindows(hWnd, ChildPaintPending, reinterpret_cast<LPARAM>(&pending));
    return pending;
}

static bool ShowsMoreThanOneColour(const Capture& c) {
    if (!c.ok()) return false;
    for (uint32_t v : c.pixels)
        if ((v & 0xFFFFFF) != (c.pixels[0] & 0xFFFFFF)) return true;
    return false;
}

Capture ScreenshotOf(HWND hWnd, DWORD timeoutMs) {
    if (!IsWindow(hWnd)) return Capture();
    UpdateWindow(hWnd);
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Capture last;
    const DWORD start = GetTickCount();
    for (;;) {
        // Sent messages only (paints of other threads' windows); nothing posted runs here. Wine
        // hands the painted window surfaces to the X server while the thread looks at its queue.
        MSG m;
        PeekMessageW(&m, nullptr, WM_NULL, WM_NULL, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        GdiFlush();
        if (PaintPending(hWnd)) {
            RedrawWindow(hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        } else {
            Capture now = CaptureWindowOnScreen(hWnd);
            if (ShowsMoreThanOneColour(now) && last.ok() && now.width == last.width &&
                now.height == last.height && now.pixels == last.pixels)
                return now;
            last = std::move(now);
        }
        if (GetTickCount() - start >= timeoutMs) return Capture();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, 0);
    }
}

int InkPixels(const Capture& c, const RECT& r) {
    std::map<uint32_t, int> counts;
    for (int y = r.top < 0 ? 0 : r.top; y < r.bottom && y < c.height; ++y)
        for (int x = r.left < 0 ? 0 : r.left; x < r.right && x < c.width; ++x)
            ++counts[c.pixels[(size_t)y * c.width + x] & 0xFFFFFF];
    if (counts.empty()) return 0;
    uint32_t ground = counts.begin()->first;
    for (const auto& kv : counts)
        if (kv.second > counts[ground]) ground = kv.first;
    auto channel = [](uint32_t v, int shift) { return (int)((v >> shift) & 0xFF); };
    int ink = 0;
    for (const auto& kv : counts) {
        int most = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            int d = channel(kv.first, shift) - channel(ground, shift);
            if (d < 0) d = -d;
            if (d > most) most = d;
        }
        if (most >= 0x50) ink += kv.second;
    }
    return ink;
}

RECT RectInShot(HWND shot, HWND of, const RECT& r) {
    RECT window = {};
    GetWindowRect(shot, &window);
    POINT origin = {0, 0};
    ClientToScreen(of, &origin);
    const int dx = origin.x - window.left, dy = origin.y - window.top;
    return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

bool KeepScreenshot(const Capture& c, const wchar_t* program, const wchar_t* name) {
    const std::wstring root = InExeDir(L"screenshots");
    const std::wstring folder = root + L"\\" + program;
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    return c.SaveBmp(folder + L"\\" + name);
}

// ---- regions -----------------------------------------------------------------------------------

bool HasWindowRegion(HWND hWnd) {
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    int kind = GetWindowRgn(hWnd, rgn);
    DeleteObject(rgn);
    return kind != ERROR;
}

bool RegionContains(HWND hWnd, int x, int y) {
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    int kind = GetWindowRgn(hWnd, rgn);
    bool in = kind == ERROR ? true : PtInRegion(rgn, x, y) != FALSE;
    DeleteObject(rgn);
    return in;
}

// ---- input -------------------------------------------------------------------------------------

static POINT ToScreen(HWND hWnd, POINT client) {
    POINT p = client;
    ClientToScreen(hWnd, &p);
    return p;
}

void MoveTo(HWND hWnd, POINT client) {
    POINT s = ToScreen(hWnd, client);
    SetCursorPos(s.x, s.y);
    SendMessageW(hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
}

void ClickAt(HWND hWnd, POINT client) {
    POINT s = ToScreen(hWnd, client);
    const LPARAM at = MAKELPARAM(client.x, client.y);
    SetCursorPos(s.x, s.y);
    SendMessageW(hWnd, WM_MOUSEMOVE, 0, at);
    SetCursorPos(s.x, s.y);
    SendMessageW(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    if (!IsWindow(hWnd)) return;
    SetCursorPos(s.x, s.y);
    SendMessageW(hWnd, WM_LBUTTONUP, 0, at);
}

void RealClickAt(HWND hWnd, POINT client) {
    POINT s = ToScreen(hWnd, client);
    SendMouse(MOUSEEVENTF_LEFTDOWN, s);
    SendMouse(MOUSEEVENTF_LEFTUP, s);
}

void PumpMessages(DWORD forMs) {
    const DWORD start = GetTickCount();
    do {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) {
                PostQuitMessage((int)m.wParam);  // leave it for whoever ends on it
                return;
            }
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (forMs) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < forMs);
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        PumpMessages(0);
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// ---- SentRecorder ------------------------------------------------------------------------------

namespace {
thread_local SentRecorder* t_recorder = nullptr;
thread_local ModalScript* t_script = nullptr;
}  // namespace

SentRecorder::SentRecorder(HWND only, bool children, size_t notifyBytes)
    : only_(only), children_(children), notifyBytes_(notifyBytes < sizeof(NMHDR) ? sizeof(NMHDR) : notifyBytes) {
    if (t_recorder) return;  // one per thread
    hook_ = SetWindowsHookExW(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
    if (hook_) t_recorder = this;
}

SentRecorder::~SentRecorder() {
    if (hook_) {
        UnhookWindowsHookEx(hook_);
        t_recorder = nullptr;
    }
}

LRESULT CALLBACK SentRecorder::Hook(int code, WPARAM wParam, LPARAM lParam) {
    SentRecorder* self = t_recorder;
    if (code == HC_ACTION && self && lParam) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
        bool keep = !self->only_ || m->hwnd == self->only_ ||
                    (self->children_ && IsChild(self->only_, m->hwnd));
        if (keep) {
            Entry e{m->hwnd, m->message, m->wParam, m->lParam, 0, 0, {}};
            if (m->message == WM_NOTIFY && m->lParam) {
                const NMHDR* h = reinterpret_cast<const NMHDR*>(m->lParam);
                e.notifyId = h->idFrom;
                e.notifyCode = h->code;
                const BYTE* b = reinterpret_cast<const BYTE*>(m->lParam);
                e.notifyBytes.assign(b, b + self->notifyBytes_);
            }
            self->entries_.push_back(std::move(e));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<SentRecorder::Entry> SentRecorder::Of(UINT message) const {
    std::vector<Entry> out;
    for (const Entry& e : entries_)
        if (e.message == message) out.push_back(e);
    return out;
}

std::vector<UINT> SentRecorder::NotifyCodes() const {
    std::vector<UINT> out;
    for (const Entry& e : entries_)
        if (e.message == WM_NOTIFY) out.push_back(e.notifyCode);
    return out;
}

// ---- ModalScript -------------------------------------------------------------------------------

ModalScript::ModalScript(DWORD periodMs) : period_(periodMs ? periodMs : 50) {}

ModalScript& ModalScript::Do(std::function<void()> action) {
    steps_.push_back([action] {
        action();
        return true;
    });
    return *this;
}

ModalScript& ModalScript::WaitUntil(std::function<bool()> condition) {
    steps_.push_back(std::move(condition));
    return *this;
}

ModalScript& ModalScript::Step(std::function<bool()> step) {
    steps_.push_back(std::move(step));
    return *this;
}

void CALLBACK ModalScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (t_script) t_script->OnTick();
}

void ModalScript::OnTick() {
    if (timedOut_) return;
    if ((LONG)(GetTickCount() - deadline_) >= 0) {
        timedOut_ = true;
        PostQuitMessage(0);  // ends every modal loop of the framework (and Win32's own)
        return;
    }
    if (next_ >= steps_.size()) return;
    // A step may open a nested modal loop (a click that shows a message box): the step counts as
    // taken before it runs, so the ticks of that nested loop play the steps after it.
    const size_t i = next_++;
    bool done = steps_[i]();
    if (!done && next_ == i + 1) next_ = i;
}

bool ModalScript::Run(const std::function<void()>& modal, DWORD watchdogMs) {
    next_ = 0;
    timedOut_ = false;
    deadline_ = GetTickCount() + watchdogMs;
    ModalScript* outer = t_script;
    t_script = this;
    UINT_PTR timer = SetTimer(nullptr, 0, period_, Tick);
    modal();
    KillTimer(nullptr, timer);
    t_script = outer;
    if (timedOut_) {
        // The watchdog's WM_QUIT must not end the test program's later loops.
        MSG m;
        while (PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    return !timedOut_ && next_ >= steps_.size();
}

}  // namespace ts
