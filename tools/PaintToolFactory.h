// Paint tool objects by kind. Each tool family registers a maker for its kinds; a kind
// without one yields no object, so a press with that tool does nothing.
#pragma once

#include <functional>
#include <memory>

#include "PaintTool.h"
#include "Toolkit.h"

struct TToolOptions;

// What a new tool object is made from: the view's zoom and canvas origin, the document,
// the view, the current options, and the colours of this stroke (already exchanged for
// the right button and turned to grey levels on a grayscale layer).
struct TPaintToolSetup {
    double Zoom = 1.0;
    int OriginX = 0, OriginY = 0;
    TImageData* Data = nullptr;
    TImageView* View = nullptr;
    const TToolOptions* Options = nullptr;
    COLORREF Foreground = 0;
    COLORREF Background = 0xFFFFFF;
};

using TPaintToolMaker = std::function<std::unique_ptr<TXPaintTool>(const TPaintToolSetup&)>;

// Installs (or, with an empty maker, removes) the maker of a kind; returns the one it had.
TPaintToolMaker SetPaintToolMaker(int kind, TPaintToolMaker maker);
// A new object of the kind, or null when no maker is installed for it.
std::unique_ptr<TXPaintTool> CreatePaintTool(int kind, const TPaintToolSetup& setup);
