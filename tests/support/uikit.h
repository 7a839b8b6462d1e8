// Helpers for tests that drive real windows under Xvfb and read their pixels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ts {

// ---- pixels ------------------------------------------------------------------------------------

// A 32-bpp top-down DIB section selected into its own memory DC: the target of pixel tests.
class Dib {
public:
    Dib(int width, int height, COLORREF fill = RGB(0, 0, 0));
    ~Dib();
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;

    bool ok() const { return bits_ != nullptr; }
    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }
    int width() const { return w_; }
    int height() const { return h_; }

    void Fill(COLORREF c);
    void Fill(const RECT& r, COLORREF c);
    // The pixel as a COLORREF (alpha dropped); CLR_INVALID outside.
    COLORREF At(int x, int y) const;
    // The whole 32-bit pixel, alpha in the top byte.
    uint32_t Raw(int x, int y) const;
    void SetRaw(int x, int y, uint32_t bgra);
    // The number of pixels in r that are not c.
    int CountOther(const RECT& r, COLORREF c) const;
    // Writes a 24-bit BMP, for looking at a failure.
    bool SaveBmp(const std::wstring& path) const;

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
    int w_ = 0, h_ = 0;
};

// A picture read back from a window or the screen, top row first.
struct Capture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB... as BGRA bytes in memory (DIB order)
    bool ok() const { return width > 0 && height > 0; }
    COLORREF At(int x, int y) const;
    // Writes a 24-bit BMP, for looking at a failure.
    bool SaveBmp(const std::wstring& path) const;
};

// The window's own drawing of its client area: WM_PRINTCLIENT into a 32-bpp DIB section, exact
// pixels without the screen in between.
Capture CaptureView(HWND hWnd, LPARAM flags = PRF_CLIENT | PRF_ERASEBKGND);
// What the X framebuffer shows of a screen rectangle (children, popups and tooltips included).
Capture CaptureScreen(const RECT& screenRect);
// What the framebuffer shows of a window's rectangle.
Capture CaptureWindowOnScreen(HWND hWnd);
// The window as the user sees it: painted completely (itself and every child), then read from the
// framebuffer once no paint is pending and two reads in a row agree. Runs no message of this thread,
// so it can be called from a step of a modal script. An empty capture when it does not settle.
Capture ScreenshotOf(HWND hWnd, DWORD timeoutMs = 5000);
// The pixels of r that stand out from r's own most common colour (text, lines, a check mark):
// zero for a blank or one-colour capture.
int InkPixels(const Capture& c, const RECT& r);
// r of a window (client coordinates of `of`) in the coordinates of a capture of window `shot`.
RECT RectInShot(HWND shot, HWND of, const RECT& r);
// Keeps a screenshot for people to look at: bin/screenshots/<program>/<name>.
bool KeepScreenshot(const Capture& c, const wchar_t* program, const wchar_t* name);

// ---- window shape ------------------------------------------------------------------------------

// Whether the window's region contains a point in window coordinates; true when it has no region.
bool RegionContains(HWND hWnd, int x, int y);
// Whether the window has a region at all.
bool HasWindowRegion(HWND hWnd);

// ---- input -------------------------------------------------------------------------------------

// A click at a point of the window's client area: the real cursor moves there first (under Wine a
// synthetic click elsewhere is lost as WM_MOUSELEAVE), then the window gets the mouse messages.
void ClickAt(HWND hWnd, POINT client);
// Only the move, as the mouse arriving at that point.
void MoveTo(HWND hWnd, POINT client);
// A click through the system's input queue (SendInput), landing on whatever window is on top.
void RealClickAt(HWND hWnd, POINT client);

// Pumps this thread's messages for a while without blocking (for posted work to run).
void PumpMessages(DWORD forMs = 0);
// Pumps until the condition holds or the time runs out.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// ---- sent-message recorder ---------------------------------------------------------------------

// Records the messages sent to windows of this thread (a WH_CALLWNDPROC hook) while it lives.
// WM_NOTIFY records keep the NMHDR's idFrom and code, copied while the message was alive.
class SentRecorder {
public:
    struct Entry {
        HWND hwnd;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        UINT_PTR notifyId;  // WM_NOTIFY only
        UINT notifyCode;    // WM_NOTIFY only
        std::vector<BYTE> notifyBytes;  // WM_NOTIFY: the first notifyBytes bytes of the record
    };

    // Only messages to `only` (and, with children, to its descendants) are kept; null keeps all.
    // notifyBytes: how much of each WM_NOTIFY record to copy (the size of the records expected, so
    // that no copy reads past a shorter one).
    explicit SentRecorder(HWND only = nullptr, bool children = true, size_t notifyBytes = sizeof(NMHDR));
    ~SentRecorder();
    SentRecorder(const SentRecorder&) = delete;
    SentRecorder& operator=(const SentRecorder&) = delete;

    bool ok() const { return hook_ != nullptr; }
    const std::vector<Entry>& entries() const { return entries_; }
    void Clear() { entries_.clear(); }
    // The recorded messages of one kind, in order.
    std::vector<Entry> Of(UINT message) const;
    // The WM_NOTIFY codes, in order.
    std::vector<UINT> NotifyCodes() const;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook_ = nullptr;
    HWND only_;
    bool children_;
    size_t notifyBytes_;
    std::vector<Entry> entries_;
};

// ---- modal scripts -----------------------------------------------------------------------------

// Plays steps while a modal loop runs on this thread: a thread timer fires every period and runs
// the current step; a step that returns false runs again on the next tick (it waits). A watchdog
// ends the modal loop (WM_QUIT, removed again afterwards) when the script has not finished in time,
// so that a fault fails the test instead of hanging it.
class ModalScript {
public:
    explicit ModalScript(DWORD periodMs = 50);

    // An action that runs once.
    ModalScript& Do(std::function<void()> action);
    // Waits until the condition holds.
    ModalScript& WaitUntil(std::function<bool()> condition);
    // A step of either kind.
    ModalScript& Step(std::function<bool()> step);

    // Calls `modal` (which runs its own loop and returns when it ends) with the script playing.
    // True when every step ran and the modal call returned before the watchdog fired.
    bool Run(const std::function<void()>& modal, DWORD watchdogMs = 10000);

    bool TimedOut() const { return timedOut_; }
    size_t StepsDone() const { return next_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void OnTick();

    DWORD period_;
    std::vector<std::function<bool()>> steps_;
    size_t next_ = 0;
    bool timedOut_ = false;
    DWORD deadline_ = 0;
    bool inStep_ = false;
};

}  // namespace ts
