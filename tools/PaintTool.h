// The base of every paint tool: one object lives from the press that starts a stroke until
// it reports itself finished, the tool is switched, or the stroke is cancelled. Coordinates
// handed to Track are image pixels; the view's zoom and canvas origin are kept so that a
// tool can draw its overlay in the scroller's logical coordinates.
#pragma once

#include <string>

#include "LeadDC.h"

class TImageData;
class TImageView;

// The kinds of paint tool; each class's GetKind answers with its own.
enum : int {
    PAINT_LINE = 0,
    PAINT_RECTANGLE = 1,
    PAINT_ELLIPSE = 2,
    PAINT_BRUSH = 3,
    PAINT_SMUDGE = 4,
    PAINT_EYEDROPPER = 5,
    PAINT_CLONE = 6,
    PAINT_HISTORY_BRUSH = 7,
    PAINT_FILL = 8,
    PAINT_TEXT = 9,
    PAINT_AIRBRUSH = 10,
};

// Notification codes of Notify.
enum : int {
    NOTIFY_ZOOM = 180,
    NOTIFY_SCROLL = 181,
    NOTIFY_EDIT_ESCAPE = 1692,
};

class TXPaintTool {
public:
    TXPaintTool(double zoom, int originX, int originY, TImageData* data, TImageView* view)
        : Zoom(zoom), OriginX(originX), OriginY(originY), Data(data), View(view) {}
    virtual ~TXPaintTool() = default;
    TXPaintTool(const TXPaintTool&) = delete;
    TXPaintTool& operator=(const TXPaintTool&) = delete;

    // Called at the press (constrain false) and at every move while the object exists;
    // button 0 left, 2 right, -1 none. False at the press cancels the stroke.
    virtual bool Track(int x, int y, bool constrain, int button) = 0;
    virtual bool Begin() { return true; }
    virtual bool IsFinished() = 0;
    // released: true at the button's release, false at each stroke-timer tick.
    virtual void Tick(bool /*released*/) {}
    virtual int GetKind() const = 0;
    virtual void SetViewParams(double zoom, int originX, int originY) {
        Zoom = zoom;
        OriginX = originX;
        OriginY = originY;
    }
    // At most 63 characters; returns the length.
    virtual int GetStatusText(std::string& text) {
        text.clear();
        return 0;
    }
    virtual void Paint(HDC /*dc*/, const RECT& /*rc*/) {}
    virtual bool Notify(int /*code*/) { return false; }

protected:
    double Zoom;
    int OriginX, OriginY;
    TImageData* Data;
    TImageView* View;
};
