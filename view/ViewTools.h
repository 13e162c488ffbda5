// What turns a view's mouse, key and timer input into tool work. The view owns one and
// hands it every input event, its tool commands and its overlay painting; the tools layer
// supplies the implementation, so the view itself knows nothing of particular tools.
#pragma once

#include <string>

#include "Commands.h"
#include "LeadDC.h"
#include "WindowHost.h"

class IViewTools : public ICommandTarget {
public:
    ~IViewTools() override = default;

    virtual void OnButtonDown(TMouseButton button, unsigned keys, POINT client) = 0;
    virtual void OnButtonUp(TMouseButton button, unsigned keys, POINT client) = 0;
    virtual void OnMouseMove(unsigned keys, POINT client) = 0;
    // True when the key was consumed (the view then does not scroll for it).
    virtual bool OnKeyDown(int key, unsigned keys) = 0;
    virtual void OnKeyUp(int key, unsigned keys) = 0;
    // True when the timer was one of the tools'.
    virtual bool OnTimer(int id) = 0;
    // The mouse capture is taken away, the window loses the focus or the system cancels
    // the gesture: whatever runs is finished.
    virtual void OnCancelMode() = 0;
    virtual void OnKillFocus() = 0;
    virtual void OnCaptureChanged() = 0;
    // Before the view scrolls (code 181) or zooms (180); true suppresses a zoom.
    virtual bool Notify(int code) = 0;
    // The view's text options or the foreground colour changed: a text tool in progress
    // takes them at once.
    virtual void TextOptionsChanged() {}
    virtual void TextColorChanged() {}
    // Draws the overlay of a tool that has one (content coordinates on dc).
    virtual void Paint(HDC dc, const RECT& rc) = 0;
    // The text the status bar's selection gadget shows: the selection's bounds while a
    // selection exists, else a tool object's own text; false when neither exists (the
    // gadget then shows the layer rectangle).
    virtual bool StatusText(std::string* text) const = 0;
    // The document's image was replaced or closed: drop every gesture and tool object.
    virtual void Reset() = 0;
};
