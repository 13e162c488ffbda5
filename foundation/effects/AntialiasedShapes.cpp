// Antialiased lines and ellipses on 32-bit and gray layers.
//
// Each pixel is painted by the exact share of its square that the shape covers. Shapes are
// convex polygons (round parts as polygons fine enough that the arc is never more than a
// thousandth of a pixel from its chord), and the share is the area of the polygon clipped to
// the pixel: first to the pixel row, then, for the pixels at the shape's edge, to the pixel
// itself. Pixels that lie wholly inside take full coverage without clipping and are painted
// a run at a time. Rows are computed and painted one at a time. A ring (the ellipse's
// outline) is its outer shape less its inner one.
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

// Keeps the part of a convex polygon where sign * (coordinate - limit) >= 0 along x or y.
void ClipHalf(const Poly& in, Poly& out, bool alongX, double limit, double sign) {
    out.clear();
    const size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
        const Pt a = in[i], b = in[(i + 1) % n];
        const double da = sign * ((alongX ? a.x : a.y) - limit),
                     db = sign * ((alongX ? b.x : b.y) - limit);
        if (da >= 0) out.push_back(a);
        if ((da >= 0) != (db >= 0)) {
            const double t = da / (da - db);
            out.push_back(Pt{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
        }
    }
}

double Area(const Poly& p) {
    double s = 0;
    for (size_t i = 0, n = p.size(); i < n; ++i) {
        const Pt a = p[i], b = p[(i + 1) % n];
        s += a.x * b.y - b.x * a.y;
    }
    return std::fabs(s) * 0.5;
}

// Coverage (0..1) of one pixel row of a convex polygon, over the columns of a clip range.
// Only a row is held at a time, so a shape across a whole photo needs no photo-sized buffer.
// The polygon is split at its top and bottom vertices into two chains that run downwards, so
// that a row only clips the few vertices that lie near it: a round shape across a photo has
// thousands, a row a handful.
class RowCoverage {
public:
    RowCoverage(const Poly& poly, int left, int right)
        : left_(left),
          lo_(left),
          hi_(left),
          fullLo_(left),
          fullHi_(left),
          c_(size_t(right - left)) {
        const size_t n = poly.size();
        if (n < 3) return;
        size_t top = 0, bottom = 0;
        for (size_t i = 1; i < n; ++i) {
            if (poly[i].y < poly[top].y) top = i;
            if (poly[i].y > poly[bottom].y) bottom = i;
        }
        for (size_t i = top;; i = (i + 1) % n) {
            down_.push_back(poly[i]);
            if (i == bottom) break;
        }
        for (size_t i = top;; i = (i + n - 1) % n) {
            up_.push_back(poly[i]);
            if (i == bottom) break;
        }
    }

    // Computes row y for the columns [lo(), hi()); nothing outside them is covered (and
    // what the buffer holds there is stale). Columns [fullLo(), fullHi()) are wholly covered.
    void Compute(int y) {
        lo_ = hi_ = fullLo_ = fullHi_ = left_;
        if (down_.empty()) return;
        // The part of each chain from the last vertex above the row to the first one below
        // it, the second chain backwards: a convex polygon that agrees with the whole shape
        // within the row.
        band_.clear();
        AppendSpan(down_, y, false);
        AppendSpan(up_, y, true);
        ClipHalf(band_, tmp_, false, y, 1);
        ClipHalf(tmp_, strip_, false, y + 1, -1);
        if (strip_.size() < 3) return;
        // Columns whose whole height lies in the strip: between the polygon's widths along
        // the row's top and bottom lines (it is convex).
        double minX = strip_[0].x, maxX = strip_[0].x;
        double tl = 1e300, tr = -1e300, bl = 1e300, br = -1e300;
        for (const Pt& p : strip_) {
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
            if (p.y <= y + 1e-12) tl = std::min(tl, p.x), tr = std::max(tr, p.x);
            if (p.y >= y + 1 - 1e-12) bl = std::min(bl, p.x), br = std::max(br, p.x);
        }
        const int right = left_ + int(c_.size());
        lo_ = int(std::clamp(std::floor(minX), double(left_), double(right)));
        hi_ = int(std::clamp(std::ceil(maxX), double(lo_), double(right)));
        // Empty (fullLo_ == fullHi_) when the strip has no full-height column, as on the
        // shape's first and last rows, where tl > tr or bl > br.
        const double fullL = std::max(tl, bl), fullR = std::min(tr, br);
        if (fullL < fullR) {
            fullLo_ = int(std::clamp(std::ceil(fullL), double(lo_), double(hi_)));
            fullHi_ = int(std::clamp(std::floor(fullR), double(fullLo_), double(hi_)));
        } else {
            fullLo_ = fullHi_ = lo_;
        }
        for (int x = lo_; x < hi_; ++x) {
            if (x == fullLo_ && fullHi_ > fullLo_) {
                x = fullHi_ - 1; // the loop's step moves past the covered run
                continue;
            }
            ClipHalf(strip_, tmp_, true, x, 1);
            ClipHalf(tmp_, cell_, true, x + 1, -1);
            c_[size_t(x - left_)] = cell_.size() < 3 ? 0 : Area(cell_);
        }
    }
    int lo() const { return lo_; }
    int hi() const { return hi_; }
    int fullLo() const { return fullLo_; }
    int fullHi() const { return fullHi_; }
    bool Full(int x) const { return x >= fullLo_ && x < fullHi_; }
    double At(int x) const {
        if (x < lo_ || x >= hi_) return 0;
        return Full(x) ? 1.0 : c_[size_t(x - left_)];
    }

private:
    int left_, lo_, hi_, fullLo_, fullHi_;
    std::vector<double> c_;
    Poly down_, up_; // top to bottom, each
    Poly band_, tmp_, strip_, cell_;

    // Appends the vertices of a downward chain that bound row y: from the last one above
    // the row's top line to the first one below its bottom line.
    void AppendSpan(const Poly& chain, int y, bool backwards) {
        auto above = [](const Pt& p, double limit) { return p.y < limit; };
        const auto first = std::partition_point(chain.begin(), chain.end(),
                                                [&](const Pt& p) { return above(p, y); });
        const auto last = std::partition_point(first, chain.end(),
                                               [&](const Pt& p) { return above(p, y + 1.0); });
        const size_t a = size_t(first - chain.begin()), b = size_t(last - chain.begin());
        const size_t from = a > 0 ? a - 1 : 0, to = std::min(b, chain.size() - 1); // inclusive
        if (!backwards)
            for (size_t i = from; i <= to; ++i) band_.push_back(chain[i]);
        else
            for (size_t i = to + 1; i-- > from;) band_.push_back(chain[i]);
    }
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
