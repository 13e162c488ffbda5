// Pieces the device context's drawing (LeadDC.cpp) shares with its blits (PaintDC.cpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "BitmapInternal.h"
#include "LeadDC.h"
#include "Rect.h"

namespace lt {

// Device coordinates farther out than this are refused. GDI keeps to 27 bits as well, and
// the limit keeps every product the rasterisers form inside 64 bits.
inline constexpr int64_t kDcCoordLimit = int64_t(1) << 27;

inline int64_t FloorDiv64(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b) != 0 && ((a < 0) != (b < 0))) --q;
    return q;
}
inline int64_t CeilDiv64(int64_t a, int64_t b) { return -FloorDiv64(-a, b); }

// The bits of a stored pixel that carry colour: all of an index, the 15 colour bits of a
// 16-bit pixel, the blue-green-red bytes of a 24 or 32-bit pixel.
uint32_t ColorMask(int bpp);
// The stored value (colour bits only) a COLORREF takes on a bitmap: the nearest palette
// entry, the index itself for PALETTEINDEX, a gray level for PALETTEINDEX above 8 bits.
uint32_t ColorToValue(const BITMAPHANDLE* b, COLORREF c);
// d = (d AND keep) XOR flip for the pixels [x0, x1) of a row; the alpha byte of 32-bit
// pixels and the alpha bit of 16-bit pixels are kept whatever keep says.
void ApplySpan(int bpp, uint8_t* row, int x0, int x1, uint32_t keep, uint32_t flip);

// A target the context can draw on: allocated, of a depth the span painter knows.
inline bool IsDrawable(const BITMAPHANDLE* t) {
    return IsAllocated(t) && IsValidBpp(t->BitsPerPixel);
}

// The device rectangle drawing can reach: the target bitmap, cut to the clip's bounds.
inline RECT DrawableBounds(const LDEVICE* dc) {
    const BITMAPHANDLE* t = dc->Target();
    if (!IsDrawable(t)) return RECT{};
    RECT r = FullRect(t);
    if (const LRegion* clip = dc->ClipRegion())
        r = clip->Empty() ? RECT{} : IntersectRect(r, clip->Bounds());
    return r;
}

// Row interval lists: spans of one row, sorted, neither overlapping nor touching (y unused).
using RowSpans = std::vector<RgnSpan>;

inline void IntersectRows(const RgnSpan* a, const RgnSpan* ae, const RgnSpan* b, const RgnSpan* be,
                          int y, RowSpans& out) {
    while (a != ae && b != be) {
        const int x0 = std::max(a->x0, b->x0), x1 = std::min(a->x1, b->x1);
        if (x0 < x1) out.push_back(RgnSpan{y, x0, x1});
        if (a->x1 < b->x1)
            ++a;
        else
            ++b;
    }
}

// out = a minus b.
inline void SubtractRows(const RgnSpan* a, const RgnSpan* ae, const RgnSpan* b, const RgnSpan* be,
                         int y, RowSpans& out) {
    for (; a != ae; ++a) {
        int x = a->x0;
        while (b != be && b->x1 <= x) ++b;
        for (const RgnSpan* k = b; k != be && k->x0 < a->x1; ++k) {
            if (k->x0 > x) out.push_back(RgnSpan{y, x, k->x0});
            x = std::max(x, k->x1);
        }
        if (x < a->x1) out.push_back(RgnSpan{y, x, a->x1});
    }
}

// Calls f(y, x0, x1) for every part of the spans (sorted by row and x, not overlapping)
// that lies inside `bounds` and inside `clip` when there is one.
template <class F>
void ForEachClipped(const std::vector<RgnSpan>& spans, const RECT& bounds, const LRegion* clip,
                    F&& f) {
    if (IsEmptyRect(bounds)) return;
    auto first = std::lower_bound(spans.begin(), spans.end(), bounds.top,
                                  [](const RgnSpan& s, int v) { return s.y < v; });
    if (!clip) {
        for (auto it = first; it != spans.end() && it->y < bounds.bottom; ++it) {
            const int x0 = std::max(it->x0, bounds.left), x1 = std::min(it->x1, bounds.right);
            if (x0 < x1) f(it->y, x0, x1);
        }
        return;
    }
    for (auto it = first; it != spans.end() && it->y < bounds.bottom;) {
        const int y = it->y;
        auto rowEnd = it;
        while (rowEnd != spans.end() && rowEnd->y == y) ++rowEnd;
        auto [c, ce] = clip->Row(y);
        const RgnSpan* a = &*it;
        const RgnSpan* ae = a + (rowEnd - it);
        while (a != ae && c != ce) {
            const int x0 = std::max({a->x0, c->x0, bounds.left}),
                      x1 = std::min({a->x1, c->x1, bounds.right});
            if (x0 < x1) f(y, x0, x1);
            if (a->x1 < c->x1)
                ++a;
            else
                ++c;
        }
        it = rowEnd;
    }
}

} // namespace lt
