// A window host without a window, for tests: the test sets the client size, focus and
// mouse position, fires timers and wheel events, and reads what was invalidated and the
// pixels of the backing store.
#pragma once

#include <map>
#include <vector>

#include "WindowHost.h"

class THeadlessWindowHost : public IWindowHost {
public:
    explicit THeadlessWindowHost(TSize client = {640, 480});

    void SetClient(IWindowClient* client) override { client_ = client; }
    TSize GetClientSize() const override { return client_size_; }

    const TScrollState& Scroller() const override { return scroll_; }
    void SetUnits(int unitX, int unitY) override;
    void SetRange(int rangeX, int rangeY) override;
    void ScrollTo(int posX, int posY) override;
    bool IsScrollBarShown(TScrollBar bar) const override;
    int ScrollBarThickness(TScrollBar bar) const override;

    void Invalidate(const RECT& rc) override;
    void InvalidateAll() override;
    // Paints the bounds of the invalid area through the client, then clears it.
    void Update() override;
    void SetRedraw(bool on) override { redraw_ = on; }
    void ShowBackingStore(const RECT& rc) override { Shown.push_back(rc); }
    BITMAPHANDLE* BackingStore() override { return store_.Bitmap(); }
    HDC BackingDC() override { return store_.DC(); }

    bool HasFocus() const override { return focus_; }
    bool IsMinimized() const override { return minimized_; }
    POINT GetCursorPos() const override { return cursor_; }
    bool IsUnderCursor() const override { return under_cursor_; }
    void SetCapture() override { capture_ = true; }
    void ReleaseCapture() override { capture_ = false; }
    bool HasCapture() const override { return capture_; }
    void SetCursor(int cursor) override { Cursor = cursor; }

    void SetTimer(int id, int periodMs) override { timers_[id] = periodMs; }
    void KillTimer(int id) override { timers_.erase(id); }

    // --- Scripting.
    // Resizes the client area (and the backing store) and tells the client.
    void Resize(TSize client);
    // Focus arrives: the client hears of it.
    void SetFocus(bool focus);
    void SetMinimized(bool minimized) { minimized_ = minimized; }
    void MoveCursor(POINT client, bool overWindow = true) {
        cursor_ = client;
        under_cursor_ = overWindow;
    }
    void SetScrollBarThickness(int pixels) { bar_thickness_ = pixels; }
    // Fires a timer that is set; false (and nothing happens) when it is not.
    bool FireTimer(int id);
    // Period of a set timer, 0 when it is not set.
    int TimerPeriod(int id) const;
    void Wheel(int delta, unsigned keys, POINT client = {});
    // The mouse goes to the point first, as a real one would, then the client hears of it.
    void ButtonDown(TMouseButton button, unsigned keys, POINT client);
    void ButtonUp(TMouseButton button, unsigned keys, POINT client);
    void MouseMove(unsigned keys, POINT client);
    void KeyDown(int key, unsigned keys);
    void KeyUp(int key, unsigned keys);

    // The pending invalid area's bounds (empty when nothing is invalid).
    RECT InvalidBounds() const { return invalid_; }
    bool IsInvalid() const {
        return invalid_.left < invalid_.right && invalid_.top < invalid_.bottom;
    }
    // Every invalidation accepted (redraw on) and every area painted, in order.
    std::vector<RECT> Invalidated;
    std::vector<RECT> Painted;
    std::vector<RECT> Shown;
    // The cursor last set.
    int Cursor = CURSOR_ARROW;
    // A backing-store pixel; CLR_INVALID outside it.
    COLORREF Pixel(int x, int y) const;

private:
    bool Inside(POINT p) const;
    IWindowClient* client_ = nullptr;
    TSize client_size_;
    TScrollState scroll_;
    TBackingStore store_;
    RECT invalid_{};
    bool redraw_ = true;
    bool focus_ = false, minimized_ = false, under_cursor_ = false, capture_ = false;
    POINT cursor_;
    int bar_thickness_ = 16;
    std::map<int, int> timers_;
};
