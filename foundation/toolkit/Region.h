// The region record behind HRGN: a set of pixels as horizontal spans.
#pragma once

#include <utility>
#include <vector>

#include "PixelAccess.h"

class LRegion {
public:
    // Sorted by y, then x0; spans of a row never overlap or touch.
    std::vector<RgnSpan> spans;

    bool Empty() const { return spans.empty(); }
    // The spans of row y as a [first, last) pointer range (empty when the row has none).
    std::pair<const RgnSpan*, const RgnSpan*> Row(int y) const;
    RECT Bounds() const;
    bool Contains(int x, int y) const;
    void Offset(int dx, int dy);

    static LRegion FromRect(const RECT& rc);
    // Pixels of a mask bitmap whose stored value is non-zero (any depth).
    static LRegion FromMask(const BITMAPHANDLE& mask);
    // Boolean combination (L_RGN_AND, L_RGN_SET, L_RGN_ANDNOTRGN, L_RGN_OR, L_RGN_XOR).
    static LRegion Combine(const LRegion& a, const LRegion& b, unsigned mode);
    // Applies a transform (scales, offsets, vertical flip within `height` for BOTTOM_LEFT).
    LRegion Transformed(const RGNXFORM& xf, int sourceHeight) const;
    LRegion Intersected(const RECT& rc) const;
};
