// The window a view lives in, as the view sees it. The view never talks to a window
// system: it asks its host for the client size, drives the scroller, invalidates, sets
// timers and paints into the host's backing store. The desktop host copies the backing
// store to the screen and forwards events to the view through IWindowClient; the headless
// host lets tests script the same things.
#pragma once

#include <memory>

#include "LeadDC.h"
#include "TextEdit.h"
#include "Toolkit.h"

struct TSize {
    int cx = 0, cy = 0;
    bool operator==(const TSize&) const = default;
};

enum class TScrollBar { Horizontal, Vertical };

// Modifier keys carried by input events. Windows reads Alt from the key state; our events
// carry it with the others.
enum : unsigned { MK_SHIFT = 0x0004, MK_CONTROL = 0x0008, MK_ALT = 0x0020 };

enum class TMouseButton { Left, Middle, Right };

// Key codes of the keys the view reacts to (the Windows virtual-key values); letters and
// digits are their upper-case characters.
enum : int {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12, // Alt
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21, // Page Up
    VK_NEXT = 0x22,  // Page Down
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_DELETE = 0x2E,
};

// Scroller state: a content of Range units of Unit pixels each, scrolled to Pos units.
// The position never goes below zero nor past the point where the content's end meets
// the client area's end, so a page never shows empty space past the content.
struct TScrollState {
    int UnitX = 1, UnitY = 1;
    int RangeX = 1, RangeY = 1;
    int PosX = 0, PosY = 0;

    int MaxPosX(int clientWidth) const;
    int MaxPosY(int clientHeight) const;
    // Brings the position back inside its limits; true when it changed.
    bool Clamp(TSize client);
    // Whether the content is wider (higher) than the client area.
    bool NeedsBar(TScrollBar bar, TSize client) const;
};

// What a host delivers to the view in it.
class IWindowClient {
public:
    virtual ~IWindowClient() = default;
    // Paints the client rectangle rc (device coordinates) into the backing store.
    virtual void OnPaint(const RECT& rc) = 0;
    virtual void OnSize() {}
    virtual void OnTimer(int /*id*/) {}
    virtual void OnSetFocus() {}
    // delta in 1/120 notches, positive away from the user; keys MK_* flags.
    virtual void OnMouseWheel(int /*delta*/, unsigned /*keys*/, POINT /*client*/) {}
    // Buttons and moves at a client point (window coordinates); keys MK_* flags held.
    virtual void OnButtonDown(TMouseButton /*button*/, unsigned /*keys*/, POINT /*client*/) {}
    virtual void OnButtonUp(TMouseButton /*button*/, unsigned /*keys*/, POINT /*client*/) {}
    virtual void OnMouseMove(unsigned /*keys*/, POINT /*client*/) {}
    // A key (VK_* code) pressed or let go; keys the MK_* flags held with it.
    virtual void OnKeyDown(int /*key*/, unsigned /*keys*/) {}
    virtual void OnKeyUp(int /*key*/, unsigned /*keys*/) {}
    // The window lost the focus, another window took the mouse capture, or the system
    // cancelled whatever gesture runs.
    virtual void OnKillFocus() {}
    virtual void OnCaptureChanged() {}
    virtual void OnCancelMode() {}
};

// Cursors: the program's cursor resources 15 to 39 by number, and the system's own.
enum : int {
    CURSOR_ARROW = 32512,
    CURSOR_NO = 32648,
};

class IWindowHost {
public:
    virtual ~IWindowHost() = default;

    // The view that receives events (null: none).
    virtual void SetClient(IWindowClient* client) = 0;
    virtual TSize GetClientSize() const = 0;

    // --- Scroller. Setters keep the position within range and repaint what scrolled.
    virtual const TScrollState& Scroller() const = 0;
    virtual void SetUnits(int unitX, int unitY) = 0;
    virtual void SetRange(int rangeX, int rangeY) = 0;
    virtual void ScrollTo(int posX, int posY) = 0;
    virtual bool IsScrollBarShown(TScrollBar bar) const = 0;
    virtual int ScrollBarThickness(TScrollBar bar) const = 0;

    // --- Painting. Invalidated areas are painted by the next Update (the desktop host
    // also updates on its own when idle). With redraw off invalidations are dropped.
    virtual void Invalidate(const RECT& rc) = 0;
    virtual void InvalidateAll() = 0;
    virtual void Update() = 0;
    virtual void SetRedraw(bool on) = 0;
    // The backing store changed outside a paint (e.g. the marching ants): show rc of it.
    virtual void ShowBackingStore(const RECT& rc) = 0;
    // A 32-bit bitmap of the client size, re-created when the size changes, and a
    // context on it. Callers bracket their drawing with TDCStateGuard.
    virtual BITMAPHANDLE* BackingStore() = 0;
    virtual HDC BackingDC() = 0;

    // --- Input state.
    virtual bool HasFocus() const = 0;
    virtual bool IsMinimized() const = 0;
    // The mouse position in client coordinates, and whether the mouse is over this window.
    virtual POINT GetCursorPos() const = 0;
    virtual bool IsUnderCursor() const = 0;
    virtual void SetCapture() = 0;
    virtual void ReleaseCapture() = 0;
    virtual bool HasCapture() const = 0;
    // The pointer shown over the client area: a cursor resource number or CURSOR_*.
    virtual void SetCursor(int /*cursor*/) {}

    // --- Timers: one per id; setting an existing id changes its period.
    virtual void SetTimer(int id, int periodMs) = 0;
    virtual void KillTimer(int id) = 0;

    // --- Child controls. An edit box over the client area; without a window system it is
    // the plain model.
    virtual std::unique_ptr<ITextEdit> CreateTextEdit(ITextEditEvents* events);
};

// The backing store both hosts keep: a 32-bit bitmap and a context on it.
class TBackingStore {
public:
    TBackingStore() = default;
    ~TBackingStore();
    TBackingStore(const TBackingStore&) = delete;
    TBackingStore& operator=(const TBackingStore&) = delete;

    // Re-creates the bitmap (filled white) at the size; an empty size leaves none.
    L_INT Resize(TSize size);
    BITMAPHANDLE* Bitmap() { return bitmap_.Flags.Allocated ? &bitmap_ : nullptr; }
    HDC DC() { return dc_; }

private:
    void Release();
    BITMAPHANDLE bitmap_;
    HDC dc_ = nullptr;
};
