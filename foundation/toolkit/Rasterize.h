// The rasterisers of the device context: shapes become sorted horizontal spans in device
// coordinates, cut to a bounds rectangle so that shapes reaching far outside the bitmap cost
// only what is visible.
#pragma once

#include <cstdint>
#include <vector>

#include "LeadDCInternal.h"

namespace lt::raster {

using Spans = std::vector<RgnSpan>;

struct P64 {
    int64_t x = 0, y = 0;
};

bool InLimits(const P64& p);

// Collects runs in drawing order, joining a run to the previous one when they share a row
// and touch (so a horizontal line becomes one span, not one per pixel).
struct SpanSink {
    Spans spans;
    void Add(int y, int x0, int x1) {
        if (x0 >= x1) return;
        if (!spans.empty()) {
            RgnSpan& l = spans.back();
            if (l.y == y && x0 <= l.x1 && x1 >= l.x0) {
                l.x0 = std::min(l.x0, x0);
                l.x1 = std::max(l.x1, x1);
                return;
            }
        }
        spans.push_back(RgnSpan{y, x0, x1});
    }
    // Adds [x0, x1) of row y cut to the bounds.
    void AddClamped(int64_t y, int64_t x0, int64_t x1, const RECT& b) {
        if (y < b.top || y >= b.bottom) return;
        x0 = std::max<int64_t>(x0, b.left);
        x1 = std::min<int64_t>(x1, b.right);
        if (x0 < x1) Add(int(y), int(x0), int(x1));
    }
};

// Sorts spans by row and x and merges the ones that overlap or touch.
void Normalize(Spans& s);

// a minus b, both normalised.
Spans Subtract(const Spans& a, const Spans& b);

Spans Union(const Spans& a, const Spans& b);

// The on/off pattern of cosmetic styled pens, counted in pixels along the path. Dots are
// one on, one off; dashes 18 on, 6 off.
bool PatternOn(int style, int64_t i);

// The pixels a pen puts down: those in the pen colour and, for a styled pen drawn with an
// OPAQUE background, the gaps in the background colour.
struct Stroke {
    int style = PS_SOLID;
    bool keepGaps = false;
    int64_t index = 0; // position in the pattern, carried from segment to segment
    SpanSink on, gaps;

    void Pixel(int64_t x, int64_t y, int64_t i) {
        if (PatternOn(style, i))
            on.Add(int(y), int(x), int(x) + 1);
        else if (keepGaps)
            gaps.Add(int(y), int(x), int(x) + 1);
    }
};

// A width-1 line from a to b without its last pixel (Bresenham: minor-axis steps are
// rounded half up). Only pixels inside bounds are emitted, and the walk starts and stops
// where the major axis enters and leaves them, so a line reaching far out costs nothing.
void ThinLine(P64 a, P64 b, const RECT& bounds, Stroke& out);

// A wide pen stroke from a to b with round ends: the pixels whose centres lie within w/2 of
// the segment between the pen's centres. A pen of width w put down at pixel p covers
// [p - w/2, p - w/2 + w) across (integer halves), so its centre is a pixel centre for odd
// widths and a pixel corner for even ones; a zero-length stroke is a disc of diameter w.
void Capsule(P64 a, P64 b, int w, const RECT& bounds, SpanSink& out);

// A bounding box in device coordinates: [l, r) x [t, b).
struct Box {
    int64_t l = 0, t = 0, r = 0, b = 0;
    bool Empty() const { return l >= r || t >= b; }
    Box Inflated(int64_t d) const { return Box{l - d, t - d, r + d, b + d}; }
};

// The pixels of row y whose centres lie inside the ellipse inscribed in the box, as
// [x0, x1). Exact integer arithmetic on doubled offsets from the centre, so the shape is
// symmetric about both axes and never leaves the box.
bool EllipseRow(const Box& e, int64_t y, int64_t* x0, int64_t* x1);

// Every row of the filled ellipse inside the bounds.
void FillEllipse(const Box& e, const RECT& bounds, SpanSink& out);

// The one-pixel outline of the filled ellipse: its pixels with a 4-neighbour outside it.
// That is an 8-connected curve in which no pixel appears twice.
void EllipseOutline(const Box& e, const RECT& rows, SpanSink& out);

// Orders outline pixels along the curve, clockwise from the top, and deals out the pen's
// pattern. Each quadrant of the outline is monotone in x and y, so sorting by one
// coordinate, then the other, gives the order along the curve.
void StyleEllipseOutline(const Spans& outline, const Box& e, Stroke& st);

// Polygon interior by pixel centres, ALTERNATE or WINDING, with an active edge list.
void FillPolygon(const std::vector<P64>& pts, int mode, const RECT& bounds, SpanSink& out);

// Spans of a rectangle cut to the bounds.
void FillBox(const Box& r, const RECT& bounds, SpanSink& out);

// ROP2 as d = (d AND keep) XOR flip. Mode n has the truth table n - 1 indexed by
// pen bit * 2 + destination bit; for each pen bit the result is then one of 0, 1, d or
// NOT d, which a keep and a flip bit express.
void Rop2Masks(int rop2, uint32_t pen, uint32_t mask, uint32_t* keep, uint32_t* flip);

} // namespace lt::raster
