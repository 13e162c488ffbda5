// One layer of a layered image: a bitmap placed in image coordinates, with a name, a
// visibility flag, an optional region that gives its shape, and a pending free transform.
#pragma once

#include <string>

#include "LeadBitmap.h"
#include "LeadDC.h"

// Scale, shear and rotation about the layer's centre. Angles are in radians.
struct TLayerTransform {
    long double ScaleX = 1.0L;
    long double ScaleY = 1.0L;
    long double ShearAngle = 0.0L;
    long double RotateAngle = 0.0L;
    bool operator==(const TLayerTransform&) const = default;
};
// The one identity value every reset copies.
extern const TLayerTransform kIdentityTransform;

// Nearest integer, halves away from zero.
L_INT RoundHalfAway(long double v);

struct TRealPoint {
    long double x = 0, y = 0;
};
// A point relative to the layer's centre through scale, horizontal shear and rotation.
TRealPoint TransformPointExact(const TLayerTransform& t, long double x, long double y);
// The same, rounded half away from zero.
POINT TransformPoint(const TLayerTransform& t, long double x, long double y);

// Window positions of the free-transform frame of a layer.
struct TFrameLayout {
    POINT Corners[4];     // top-left, top-right, bottom-right, bottom-left
    POINT EdgeMiddles[4]; // left, top, right, bottom
    POINT Centre;
    POINT RotateHandle; // a quarter of the width right of the right edge
    POINT ShearHandle;  // a quarter of the height above the top-right corner
};

class TLayer : public TLeadBitmapX {
public:
    bool Visible = true;
    std::string Name;
    TLayerTransform Transform;
    L_INT X = 0;
    L_INT Y = 0;

    // (X, Y, X + width, Y + height) in image coordinates.
    RECT GetRect() const { return RECT{X, Y, X + Width, Y + Height}; }
    // The point (image coordinates) is on the layer: inside its rectangle and its region.
    bool HitTest(POINT p) const;
    // Name, visibility, position and transform; not the pixels.
    void CopyAttributes(const TLayer& other);
    void ResetTransform() { Transform = kIdentityTransform; }
    // A full deep copy: pixels, region, logical depth and attributes. A source without
    // pixels gives a layer without pixels.
    L_INT CopyLayer(const TLayer& other);

    // Puts the layer's pixels inside `clip` (image coordinates shifted by `origin`) onto
    // dst at its position plus origin. 32-bit pixels are blended by their alpha; pixels
    // of other depths replace what is there (inside the layer's region).
    L_INT CombineInto(BITMAPHANDLE* dst, const RECT& clip, POINT origin) const;
    // Marching-ants outline of the layer's region (nothing without a region). zoom is
    // window pixels per image pixel; imageRect is where the whole image lands.
    L_INT DrawOutline(HDC dc, long double zoom, const RECT& imageRect, L_INT frameStyle) const;
    // The handles of the free transform, drawn in XOR so that drawing twice erases them.
    void DrawTransformFrame(HDC dc, long double zoom, const RECT& imageRect) const;
    TFrameLayout FrameLayout(long double zoom, const RECT& imageRect) const;
};

// Blends (or, with combineAlpha, "over"-composites including alpha) a rectangle of a
// 32-bit layer onto dst, only inside the layer's region when it has one.
L_INT BlendLayerRect(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                     const TLayer& src, L_INT srcX, L_INT srcY, bool combineAlpha);
