// The line, rectangle and ellipse tools, which draw a shape between the press and the
// release point with an XOR rubber band in between, and the two single-click tools: the fill
// tool and the eyedropper.
#pragma once

#include <memory>

#include "PaintTool.h"
#include "PaintToolFactory.h"

class TLayer;

// 100000000 in x: the point has not been set yet.
inline constexpr int kUnsetPoint = 100000000;

// The two points of a dragged shape, the rubber band and the Shift constraint.
class TFramePaintTool : public TXPaintTool {
public:
    using TXPaintTool::TXPaintTool;

    bool Track(int x, int y, bool constrain, int button) override;
    // The view was repainted: the band is gone from the screen.
    void Paint(HDC, const RECT&) override { BandDrawn = false; }
    // Draws the band once in client content coordinates (a second call erases it).
    virtual void DrawBand(HDC dc) = 0;
    // The point the Shift key makes of (x, y).
    virtual POINT ConstrainPoint(int x, int y) = 0;

    POINT Anchor{kUnsetPoint, 0};
    POINT Current{kUnsetPoint, 0};
    bool BandDrawn = false;

protected:
    // Both points set and apart: there is a shape to draw.
    bool Dragged() const;
    // Draws the band with the XOR setup, once.
    void XorBand();
    // Anchor + direction x round(|d|) / 1024 for the direction (of count) nearest to d.
    POINT Snap(int x, int y, const POINT* directions, int count) const;
    // The current layer (the edit target in a channel mode), or null.
    TLayer* Target() const;
    // Tells the view the image rectangle (right and bottom exclusive) changed.
    void InvalidateImage(const RECT& r) const;
};

class TLinePaintTool : public TFramePaintTool {
public:
    TLinePaintTool(const TPaintToolSetup& s);
    bool IsFinished() override;
    int GetKind() const override { return PAINT_LINE; }
    int GetStatusText(std::string& text) override;
    void DrawBand(HDC dc) override;
    POINT ConstrainPoint(int x, int y) override;

    double Width;
    COLORREF Color;
    bool Antialiased;
};

class TRectanglePaintTool : public TFramePaintTool {
public:
    TRectanglePaintTool(const TPaintToolSetup& s);
    bool IsFinished() override;
    int GetKind() const override { return PAINT_RECTANGLE; }
    int GetStatusText(std::string& text) override;
    void DrawBand(HDC dc) override;
    POINT ConstrainPoint(int x, int y) override;

    double Width;
    int FillStyle; // 0 outline only, 1 outline and fill (fill only is stored as 1)
    COLORREF FillColor;
    COLORREF OutlineColor;

protected:
    TRectanglePaintTool(const TPaintToolSetup& s, double width, int fillStyle);
    // The normalized rectangle with both corner pixels, in image coordinates.
    RECT ShapeRect() const;
    // Draws the shape through a device context on the layer, keeping its alpha.
    bool DrawWithDC(TLayer& layer, const RECT& r, bool ellipse);
};

class TEllipsePaintTool : public TRectanglePaintTool {
public:
    TEllipsePaintTool(const TPaintToolSetup& s);
    bool IsFinished() override;
    int GetKind() const override { return PAINT_ELLIPSE; }
    void DrawBand(HDC dc) override;

    bool Antialiased;
};

// Makers of the two single-click tools (FillTool.cpp, Eyedropper.cpp).
std::unique_ptr<TXPaintTool> MakeFillTool(const TPaintToolSetup& s);
std::unique_ptr<TXPaintTool> MakeEyedropper(const TPaintToolSetup& s);

// Installs the makers of the line, rectangle, ellipse, fill and eyedropper kinds.
void RegisterShapeTools();
