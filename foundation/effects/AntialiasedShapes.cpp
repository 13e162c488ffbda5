// Antialiased lines and ellipses on 32-bit and gray layers.
//
// Each pixel is painted by the exact share of its square that the shape covers. Shapes are
// convex polygons (round parts as polygons fine enough that the arc is never more than a
// thousandth of a pixel from its chord). Rows are computed and painted one at a time; only
// the pixels an edge passes through are computed, the ones wholly inside take full coverage
// and are painted a run at a time. A ring (the ellipse's outline) is its outer shape less
// its inner one.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <vector>

#include "Effects.h"
#include "PaintTarget.h"

namespace {

constexpr double kPi = std::numbers::pi;

struct Pt {
    double x, y;
};
using Poly = std::vector<Pt>;

// Coverage (0..1) of one pixel row of a convex polygon, over the columns of a clip range.
// Only a row is held at a time, so a shape across a whole photo needs no photo-sized buffer.
//
// The polygon is split at its top and bottom vertices into a left and a right boundary, each
// running downwards, so a row only visits the few edges that cross it (a round shape across
// a photo has thousands, a row a handful). Within a row, the area of column c that lies left
// of a boundary x(t) is the integral over the row's height of clamp(x(t) - c, 0, 1); the
// pixel's coverage is that area for the right boundary less the one for the left boundary,
// which is exact because the left boundary never passes the right one. Columns left of all
// of a boundary's edges in the row take the row's whole height, columns right of them
// nothing, so only the columns an edge passes through are computed; between the left
// boundary's last column and the right boundary's first one the row is wholly covered.
class RowCoverage {
public:
    RowCoverage(const Poly& poly, int left, int right)
        : left_(left), right_(right), lo_(left), hi_(left), fullLo_(left), fullHi_(left) {
        const size_t n = poly.size();
        if (n < 3) return;
        size_t top = 0, bottom = 0;
        double twiceArea = 0;
        for (size_t i = 0; i < n; ++i) {
            if (poly[i].y < poly[top].y) top = i;
            if (poly[i].y > poly[bottom].y) bottom = i;
            const Pt a = poly[i], b = poly[(i + 1) % n];
            twiceArea += a.x * b.y - b.x * a.y;
        }
        if (!(std::fabs(twiceArea) > 0)) return; // no area, or not a number
        Poly forward, backward;
        for (size_t i = top;; i = (i + 1) % n) {
            forward.push_back(poly[i]);
            if (i == bottom) break;
        }
        for (size_t i = top;; i = (i + n - 1) % n) {
            backward.push_back(poly[i]);
            if (i == bottom) break;
        }
        // With y pointing down, a positive orientation runs from the top to the right.
        if (twiceArea > 0) {
            right_side_.chain = std::move(forward), left_side_.chain = std::move(backward);
        } else {
            right_side_.chain = std::move(backward), left_side_.chain = std::move(forward);
        }
        top_ = poly[top].y;
        bottom_ = poly[bottom].y;
        const size_t width = size_t(std::max(0, right - left)) + 1;
        left_side_.area.resize(width);
        right_side_.area.resize(width);
    }

    // Computes row y. Nothing outside the columns [lo(), hi()) is covered; the columns
    // [fullLo(), fullHi()) are wholly covered.
    void Compute(int y) {
        lo_ = hi_ = fullLo_ = fullHi_ = left_;
        height_ = 0;
        if (left_side_.chain.empty()) return;
        const double t0 = std::max(double(y), top_), t1 = std::min(y + 1.0, bottom_);
        if (!(t1 > t0)) return;
        height_ = t1 - t0;
        left_side_.Compute(y, left_, right_);
        right_side_.Compute(y, left_, right_);
        lo_ = left_side_.lo;
        hi_ = std::max(right_side_.hi, lo_);
        // A row the shape only partly spans vertically has no wholly covered pixel.
        if (t0 == y && t1 == y + 1.0 && left_side_.hi < right_side_.lo) {
            fullLo_ = left_side_.hi;
            fullHi_ = right_side_.lo;
        } else {
            fullLo_ = fullHi_ = lo_;
        }
    }
    int lo() const { return lo_; }
    int hi() const { return hi_; }
    int fullLo() const { return fullLo_; }
    int fullHi() const { return fullHi_; }
    bool Full(int x) const { return x >= fullLo_ && x < fullHi_; }
    double At(int x) const {
        if (x < lo_ || x >= hi_) return 0;
        if (Full(x)) return 1.0;
        const double c = right_side_.Left(x, height_, left_) - left_side_.Left(x, height_, left_);
        return std::clamp(c, 0.0, 1.0);
    }

private:
    // One boundary, top to bottom, and for the current row the area left of it in each of
    // the columns [lo, hi) that its edges pass through.
    struct Side {
        Poly chain;
        std::vector<double> area; // indexed by column - left, one spare for the run ends
        int lo = 0, hi = 0;

        // Area of column x left of this boundary, given the row's covered height.
        double Left(int x, double height, int left) const {
            if (x < lo) return height;
            if (x >= hi) return 0;
            return area[size_t(x - left)];
        }

        void Compute(int y, int left, int right) {
            // The edges from the last vertex above the row's top line to the first one
            // below its bottom line.
            const auto first = std::partition_point(chain.begin(), chain.end(),
                                                    [&](const Pt& p) { return p.y < y; });
            const size_t from = first == chain.begin() ? 0 : size_t(first - chain.begin()) - 1;
            size_t to = from; // one past the last vertex used
            double minX = 1e300, maxX = -1e300;
            for (size_t i = from; i + 1 < chain.size(); ++i) {
                to = i + 2;
                const Pt a = chain[i], b = chain[i + 1];
                if (b.y > a.y) {
                    const double xa = XAt(a, b, std::max(a.y, double(y))),
                                 xb = XAt(a, b, std::min(b.y, y + 1.0));
                    if (std::max(a.y, double(y)) < std::min(b.y, y + 1.0))
                        minX = std::min({minX, xa, xb}), maxX = std::max({maxX, xa, xb});
                }
                if (b.y >= y + 1.0) break;
            }
            if (minX > maxX) { // no edge in the row: cannot happen within the shape's rows
                lo = hi = left;
                return;
            }
            lo = int(std::clamp(std::floor(minX), double(left), double(right)));
            hi = int(std::clamp(std::ceil(maxX), double(lo), double(right)));
            if (lo == hi) return;
            // area[] holds the exact part of each column an edge passes through; cover[]
            // the steps of the edges that lie wholly right of a column, summed afterwards.
            std::fill(area.begin() + (lo - left), area.begin() + (hi - left) + 1, 0.0);
            cover_.assign(size_t(hi - lo) + 1, 0.0);
            for (size_t i = from; i + 1 < to; ++i) {
                const Pt a = chain[i], b = chain[i + 1];
                const double ta = std::max(a.y, double(y)), tb = std::min(b.y, y + 1.0);
                if (!(b.y > a.y) || !(tb > ta)) continue;
                const double dt = tb - ta;
                double ua = XAt(a, b, ta), ub = XAt(a, b, tb);
                if (ua > ub) std::swap(ua, ub);
                const int c0 = int(std::clamp(std::floor(ua), double(lo), double(hi)));
                const int c1 = int(std::clamp(std::ceil(ub), double(c0), double(hi)));
                cover_[0] += dt;
                cover_[size_t(c0 - lo)] -= dt;
                const double du = ub - ua;
                for (int c = c0; c < c1; ++c) {
                    double share;
                    if (du < 1e-9) {
                        share = std::clamp(0.5 * (ua + ub) - c, 0.0, 1.0);
                    } else {
                        share = (Antiderivative(ub - c) - Antiderivative(ua - c)) / du;
                    }
                    area[size_t(c - left)] += dt * share;
                }
            }
            double run = 0;
            for (int c = lo; c < hi; ++c) {
                run += cover_[size_t(c - lo)];
                area[size_t(c - left)] += run;
            }
        }

    private:
        std::vector<double> cover_;

        static double XAt(Pt a, Pt b, double t) {
            if (t <= a.y) return a.x;
            if (t >= b.y) return b.x;
            return a.x + (b.x - a.x) * ((t - a.y) / (b.y - a.y));
        }
        // The integral of clamp(v, 0, 1) from 0 to v.
        static double Antiderivative(double v) {
            if (v <= 0) return 0;
            if (v >= 1) return v - 0.5;
            return 0.5 * v * v;
        }
    };

    int left_, right_, lo_, hi_, fullLo_, fullHi_;
    double top_ = 0, bottom_ = 0, height_ = 0;
    Side left_side_, right_side_;
};

// Segments for a round outline of radius r: the arc strays at most 0.001 pixels from a chord.
int ArcSegments(double r) {
    if (r <= 0.001) return 8;
    const double step = std::acos(1 - 0.001 / r);
    return int(std::clamp(std::ceil(2 * kPi / step), 16.0, 8192.0));
}

Poly Ellipse(double cx, double cy, double rx, double ry) {
    const int n = ArcSegments(std::max(rx, ry));
    Poly p(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = 2 * kPi * i / n;
        p[size_t(i)] = Pt{cx + rx * std::cos(t), cy + ry * std::sin(t)};
    }
    return p;
}

// Points within r of the segment a-b: two half circles joined by straight sides.
Poly Capsule(Pt a, Pt b, double r) {
    const double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
    if (len < 1e-9) return Ellipse(a.x, a.y, r, r);
    const double base = std::atan2(dy, dx);
    const int half = std::max(4, ArcSegments(r) / 2);
    Poly p;
    p.reserve(size_t(2 * half + 2));
    // Around b from one side to the other, then around a back again.
    for (int i = 0; i <= half; ++i) {
        const double t = base - kPi / 2 + kPi * i / half;
        p.push_back(Pt{b.x + r * std::cos(t), b.y + r * std::sin(t)});
    }
    for (int i = 0; i <= half; ++i) {
        const double t = base + kPi / 2 + kPi * i / half;
        p.push_back(Pt{a.x + r * std::cos(t), a.y + r * std::sin(t)});
    }
    return p;
}

RECT Bounds(const BITMAPHANDLE* b, double l, double t, double r, double bt) {
    RECT out{std::max(0, int(std::floor(std::max(l, -1.0)))),
             std::max(0, int(std::floor(std::max(t, -1.0)))),
             int(std::min(double(b->Width), std::ceil(r))),
             int(std::min(double(b->Height), std::ceil(bt)))};
    if (out.right < out.left) out.right = out.left;
    if (out.bottom < out.top) out.bottom = out.top;
    return out;
}

// Paints columns [x0, x1) of a row with c at full coverage.
void PaintRun(efx::Target& t, uint8_t* row, int x0, int x1, lt::BGRA c) {
    switch (t.kind) {
        case efx::Kind::Bgra32:
            for (uint8_t *p = row + size_t(x0) * 4, *e = row + size_t(x1) * 4; p < e; p += 4)
                p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
            break;
        case efx::Kind::Gray8: std::memset(row + x0, c.g, size_t(x1 - x0)); break;
        case efx::Kind::Other:
            for (int x = x0; x < x1; ++x) efx::PaintPixel(t, row, x, c, 255);
            break;
    }
}

inline unsigned Weight(double c) { return unsigned(std::lround(std::clamp(c, 0.0, 1.0) * 255)); }

} // namespace

L_INT DrawAntialiasedLine(BITMAPHANDLE* b, L_INT x0, L_INT y0, L_INT x1, L_INT y1, double width,
                          COLORREF color, L_INT gray) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (!std::isfinite(width) || width <= 0 || width > 1e6) return ERROR_INV_PARAMETER;
    efx::Target t;
    try {
        if (const L_INT rc = t.Init(b, gray != 0); rc != SUCCESS) return rc;
        // Between the pixel centres, round at both ends, so the end pixels are painted.
        const Pt a{x0 + 0.5, y0 + 0.5}, e{x1 + 0.5, y1 + 0.5};
        const double r = width / 2;
        const RECT box = Bounds(b, std::min(a.x, e.x) - r, std::min(a.y, e.y) - r,
                                std::max(a.x, e.x) + r, std::max(a.y, e.y) + r);
        if (box.left >= box.right || box.top >= box.bottom) return SUCCESS;
        const Poly shape = Capsule(a, e, r);
        RowCoverage cov(shape, box.left, box.right);
        const lt::BGRA c = efx::ResolveColor(b, color, t.kind == efx::Kind::Gray8);
        int computed = -1;
        lt::ForEachSpan(b, box, [&](int row, int xa, int xb) {
            if (row != computed) cov.Compute(computed = row);
            uint8_t* p = L_RowPtr(b, row);
            const int end = std::min(xb, cov.hi());
            for (int x = std::max(xa, cov.lo()); x < end; ++x) {
                if (cov.Full(x)) {
                    const int runEnd = std::min(end, cov.fullHi());
                    PaintRun(t, p, x, runEnd, c);
                    x = runEnd - 1;
                } else if (const unsigned w = Weight(cov.At(x))) {
                    efx::PaintPixel(t, p, x, c, w);
                }
            }
        });
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}

L_INT DrawAntialiasedEllipse(BITMAPHANDLE* b, L_INT left, L_INT top, L_INT right, L_INT bottom,
                             L_INT width, COLORREF outline, COLORREF fill, L_INT style,
                             L_INT gray) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (width < 0 || style < LX_ELLIPSE_OUTLINE || style > LX_ELLIPSE_FILL_ONLY)
        return ERROR_INV_PARAMETER;
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    const double rx = (double(right) - left) / 2, ry = (double(bottom) - top) / 2;
    if (rx <= 0 || ry <= 0) return SUCCESS;
    efx::Target t;
    try {
        if (const L_INT rc = t.Init(b, gray != 0); rc != SUCCESS) return rc;
        const RECT box = Bounds(b, left, top, right, bottom);
        if (box.left >= box.right || box.top >= box.bottom) return SUCCESS;
        const double cx = (double(left) + right) / 2, cy = (double(top) + bottom) / 2;
        // The outline lies inside the rectangle, `width` thick; the fill is what it encloses.
        const double w = style == LX_ELLIPSE_FILL_ONLY ? 0 : width;
        const Poly outerShape = Ellipse(cx, cy, rx, ry);
        const Poly innerShape = rx > w && ry > w ? Ellipse(cx, cy, rx - w, ry - w) : Poly{};
        RowCoverage outer(outerShape, box.left, box.right), inner(innerShape, box.left, box.right);
        int computed = -1;
        const bool gray8 = t.kind == efx::Kind::Gray8;
        const lt::BGRA oc = efx::ResolveColor(b, outline, gray8),
                       fc = efx::ResolveColor(b, fill, gray8);
        const bool filled = style != LX_ELLIPSE_OUTLINE;
        lt::ForEachSpan(b, box, [&](int row, int xa, int xb) {
            if (row != computed) {
                outer.Compute(row);
                if (!innerShape.empty()) inner.Compute(row);
                computed = row;
            }
            uint8_t* p = L_RowPtr(b, row);
            const int end = std::min(xb, outer.hi());
            for (int x = std::max(xa, outer.lo()); x < end; ++x) {
                // Runs of whole pixels take one colour without blending: the fill where
                // both shapes cover them, the outline where only the outer one reaches.
                // Each run ends past x, so the loop always moves on.
                if (outer.Full(x)) {
                    int runEnd = -1;
                    if (inner.Full(x)) {
                        runEnd = std::min({end, outer.fullHi(), inner.fullHi()});
                        if (filled) PaintRun(t, p, x, runEnd, fc);
                    } else if (x < inner.lo() || x >= inner.hi()) {
                        runEnd = std::min(end, outer.fullHi());
                        if (x < inner.lo()) runEnd = std::min(runEnd, inner.lo());
                        PaintRun(t, p, x, runEnd, oc);
                    }
                    if (runEnd > x) {
                        x = runEnd - 1;
                        continue;
                    }
                }
                // The inner shape lies within the outer one.
                const double all = outer.At(x), in = inner.At(x);
                const double ring = std::max(0.0, all - in);
                // One blend of both colours by their shares, so the seam between outline and
                // fill shows neither colour missing nor the layer through.
                if (!filled) {
                    if (const unsigned k = Weight(ring)) efx::PaintPixel(t, p, x, oc, k);
                    continue;
                }
                const unsigned k = Weight(all);
                if (!k) continue;
                const double share = all > 0 ? ring / all : 0;
                lt::BGRA mix;
                mix.b = uint8_t(std::lround(fc.b + (oc.b - fc.b) * share));
                mix.g = uint8_t(std::lround(fc.g + (oc.g - fc.g) * share));
                mix.r = uint8_t(std::lround(fc.r + (oc.r - fc.r) * share));
                efx::PaintPixel(t, p, x, mix, k);
            }
        });
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}
