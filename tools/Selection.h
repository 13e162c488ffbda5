// The selection shapes. A shape lives for one mouse gesture: the view feeds it image
// points, lets it draw its rubber band, and finally applies it to the selection mask with
// one of the four combine operations.
#pragma once

#include <memory>
#include <vector>

#include "LeadDC.h"
#include "Toolkit.h"

class TImageData;
class TLeadBitmap;

// How a shape changes the mask.
enum : int {
    SELECT_REPLACE = 0,
    SELECT_OUTSIDE = 1,
    SELECT_ADD = 2,
    SELECT_SUBTRACT = 3,
};

inline constexpr int kMaxSelectionPoints = 15000;

class TXSelection {
public:
    explicit TXSelection(double zoom = 1.0, int originX = 0, int originY = 0);
    virtual ~TXSelection();
    TXSelection(const TXSelection&) = delete;
    TXSelection& operator=(const TXSelection&) = delete;

    virtual bool AddPoint(int x, int y, bool replaceLast);
    virtual void Reset();
    virtual bool AcceptPoint(int x, int y);
    // Draws the shape into the mask, recomputes the outline around it and returns the
    // changed rectangle (image coordinates) through dirty. A toolkit status.
    virtual L_INT Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) = 0;
    // The origin is stored only when originX >= 0.
    virtual void SetViewParams(double zoom, int originX, int originY);
    // Null when the shape has no region.
    virtual HRGN GetRegion() = 0;
    // The rubber band, in XOR.
    virtual void Draw(HDC dc) = 0;
    virtual RECT GetBounds() const = 0;
    virtual bool IsValid() const { return true; }

    int PointCount() const { return Count; }
    POINT PointAt(int i) const { return Points[i]; }

protected:
    // Image point to scroller-logical client coordinates.
    POINT ToClient(POINT p) const;
    // Replaces the region kept for GetRegion's caller.
    void SetRegion(HRGN rgn);

    HRGN Region = nullptr; // built on demand, owned
    std::vector<POINT> Points;
    int Count = 0;
    double Zoom;
    int OriginX, OriginY;
};

class TRectSelection : public TXSelection {
public:
    using TXSelection::TXSelection;
    bool AddPoint(int x, int y, bool replaceLast) override;
    bool AcceptPoint(int x, int y) override;
    L_INT Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) override;
    HRGN GetRegion() override;
    void Draw(HDC dc) override;
    RECT GetBounds() const override;
    bool IsValid() const override;

protected:
    // The dotted XOR band around both corner pixels, as a rectangle or an ellipse.
    void DrawBand(HDC dc, bool ellipse);
};

class TEllipseSelection : public TRectSelection {
public:
    using TRectSelection::TRectSelection;
    L_INT Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) override;
    HRGN GetRegion() override;
    void Draw(HDC dc) override;
};

class TFreeHandSelection : public TXSelection {
public:
    using TXSelection::TXSelection;
    bool AddPoint(int x, int y, bool replaceLast) override;
    bool AcceptPoint(int x, int y) override;
    L_INT Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) override;
    HRGN GetRegion() override;
    void Draw(HDC) override {} // segments are drawn as they come
    RECT GetBounds() const override;
    bool IsValid() const override { return Count > 2; }
    // Draws (XOR) the newest segment.
    void DrawSegment(HDC dc);

private:
    POINT segFrom_{}, segTo_{}; // client coordinates
    RECT bounds_{32767, 32767, -32767, -32767};
};

// The selection retoucher: a round brush of the given width painting into the mask.
class TBrushSelection : public TXSelection {
public:
    TBrushSelection(int width, double zoom = 1.0, int originX = 0, int originY = 0);
    bool AddPoint(int x, int y, bool replaceLast) override;
    L_INT Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) override;
    HRGN GetRegion() override { return nullptr; }
    void Draw(HDC) override {}
    RECT GetBounds() const override;

private:
    int width_;
};

// The magic wand: the connected area around the seed whose colours lie within the
// tolerance, on the current layer.
class TMagicWandSelection : public TXSelection {
public:
    TMagicWandSelection(TImageData& data, int tolerance, double zoom = 1.0, int originX = 0,
                        int originY = 0);
    bool AddPoint(int x, int y, bool replaceLast) override;
    L_INT Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) override;
    HRGN GetRegion() override { return nullptr; }
    void Draw(HDC) override {}
    RECT GetBounds() const override;

private:
    POINT seed_{}; // relative to the layer
    int tolerance_;
    const BITMAPHANDLE* layer_;
    int layerX_, layerY_;
};
