// The software device context: GDI drawing rules on toolkit bitmaps of every depth.
//
// Every primitive is first rasterised into coverage: sorted horizontal spans in device
// coordinates, with the brush's pixels, the pen's pixels and (for styled pens drawn
// OPAQUE) the gap pixels made disjoint. Only then is it painted through the clip. A
// painted coverage touches each pixel once, which is what lets XOR drawing (rubber bands,
// the selection outline) erase itself exactly when drawn a second time, whatever the
// shape's corners, joins and self-crossings do.
//
// All sixteen ROP2 modes reduce, for a fixed pen colour, to d = (d AND keep) XOR flip on
// the colour bits, so one span painter serves every mode at every depth and never touches
// an alpha byte.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "LeadDCInternal.h"

struct LDEVICE::State {
    LPEN pen = kBlackPen; // GDI's defaults
    LBRUSH brush = kWhiteBrush;
    int rop2 = R2_COPYPEN;
    int fillMode = ALTERNATE;
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    COLORREF textColor = RGB(0, 0, 0);
    POINT org;
    POINT pos; // logical
    bool hasClip = false;
    LRegion clip; // device coordinates
};

struct LDEVICE::Impl {
    State cur;
    std::vector<State> saved;
};

// ---------------------------------------------------------------------------
// Pixel values and the span painter.

namespace lt {

uint32_t ColorMask(int bpp) {
    switch (bpp) {
        case 32:
        case 24: return 0x00FFFFFFu;
        case 16: return 0x7FFFu;
        case 8: return 0xFFu;
        case 4: return 0x0Fu;
        case 1: return 0x01u;
        default: return 0;
    }
}

uint32_t ColorToValue(const BITMAPHANDLE* b, COLORREF c) {
    const int bpp = b->BitsPerPixel;
    if (bpp <= 8) {
        if (IsPaletteIndex(c)) return (c & 0xFFu) & ColorMask(bpp);
        return uint32_t(
            NearestPaletteIndex(b->pPalette, 1 << bpp, GetRValue(c), GetGValue(c), GetBValue(c)));
    }
    uint8_t r = GetRValue(c), g = GetGValue(c), bl = GetBValue(c);
    if (IsPaletteIndex(c))
        r = g = bl = uint8_t(c & 0xFFu); // a gray level, as L_PutPixelColor has it
    if (bpp == 16) return Pack16(BGRA{bl, g, r, 0});
    return uint32_t(bl) | (uint32_t(g) << 8) | (uint32_t(r) << 16);
}

void ApplySpan(int bpp, uint8_t* row, int x0, int x1, uint32_t keep, uint32_t flip) {
    if (x0 >= x1) return;
    const size_t n = size_t(x1 - x0);
    switch (bpp) {
        case 32: {
            uint8_t* p = row + size_t(x0) * 4;
            keep |= 0xFF000000u;
            flip &= 0x00FFFFFFu;
            for (size_t i = 0; i < n; ++i, p += 4) {
                uint32_t v;
                std::memcpy(&v, p, 4);
                v = (v & keep) ^ flip;
                std::memcpy(p, &v, 4);
            }
            break;
        }
        case 24: {
            uint8_t* p = row + size_t(x0) * 3;
            const uint8_t f0 = uint8_t(flip), f1 = uint8_t(flip >> 8), f2 = uint8_t(flip >> 16);
            if ((keep & 0xFFFFFFu) == 0) {
                for (size_t i = 0; i < n; ++i, p += 3) {
                    p[0] = f0;
                    p[1] = f1;
                    p[2] = f2;
                }
            } else {
                const uint8_t k0 = uint8_t(keep), k1 = uint8_t(keep >> 8), k2 = uint8_t(keep >> 16);
                for (size_t i = 0; i < n; ++i, p += 3) {
                    p[0] = uint8_t((p[0] & k0) ^ f0);
                    p[1] = uint8_t((p[1] & k1) ^ f1);
                    p[2] = uint8_t((p[2] & k2) ^ f2);
                }
            }
            break;
        }
        case 16: {
            uint8_t* p = row + size_t(x0) * 2;
            const uint16_t k = uint16_t(keep | 0x8000u), f = uint16_t(flip & 0x7FFFu);
            for (size_t i = 0; i < n; ++i, p += 2) {
                uint16_t v;
                std::memcpy(&v, p, 2);
                v = uint16_t((v & k) ^ f);
                std::memcpy(p, &v, 2);
            }
            break;
        }
        case 8: {
            uint8_t* p = row + x0;
            const uint8_t k = uint8_t(keep), f = uint8_t(flip);
            if (k == 0)
                std::memset(p, f, n);
            else
                for (size_t i = 0; i < n; ++i) p[i] = uint8_t((p[i] & k) ^ f);
            break;
        }
        case 4:
        case 1: {
            // Whole bytes at once with the masks repeated over the byte; the partial first and
            // last bytes are merged under a bit mask.
            const uint32_t mask = ColorMask(bpp);
            const unsigned rep = bpp == 1 ? 0xFFu : 0x11u;
            const uint8_t k8 = uint8_t((keep & mask) * rep), f8 = uint8_t((flip & mask) * rep);
            const size_t bit0 = size_t(x0) * size_t(bpp), bit1 = size_t(x1) * size_t(bpp);
            size_t b0 = bit0 >> 3;
            const size_t b1 = bit1 >> 3;
            auto masked = [&](size_t i, unsigned m) {
                const unsigned d = row[i], v = (d & k8) ^ f8;
                row[i] = uint8_t((d & ~m) | (v & m));
            };
            const unsigned head = 0xFFu >> (bit0 & 7), tail = ~(0xFFu >> (bit1 & 7)) & 0xFFu;
            if (b0 == b1) {
                masked(b0, head & tail);
                break;
            }
            if (bit0 & 7) masked(b0++, head);
            if (k8 == 0)
                std::memset(row + b0, f8, b1 - b0);
            else
                for (size_t i = b0; i < b1; ++i) row[i] = uint8_t((row[i] & k8) ^ f8);
            if (bit1 & 7) masked(b1, tail);
            break;
        }
        default: break;
    }
}

} // namespace lt

// ---------------------------------------------------------------------------
// Rasterisers. They produce spans in device coordinates, cut to a bounds rectangle so that
// shapes reaching far outside the bitmap cost only what is visible.

namespace {

using Spans = std::vector<RgnSpan>;

struct P64 {
    int64_t x = 0, y = 0;
};

bool InLimits(const P64& p) {
    return std::llabs(p.x) <= lt::kDcCoordLimit && std::llabs(p.y) <= lt::kDcCoordLimit;
}

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
void Normalize(Spans& s) {
    auto less = [](const RgnSpan& a, const RgnSpan& b) {
        return a.y != b.y ? a.y < b.y : a.x0 < b.x0;
    };
    if (!std::is_sorted(s.begin(), s.end(), less)) std::sort(s.begin(), s.end(), less);
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (n && s[n - 1].y == s[i].y && s[i].x0 <= s[n - 1].x1) {
            s[n - 1].x1 = std::max(s[n - 1].x1, s[i].x1);
            continue;
        }
        s[n++] = s[i];
    }
    s.resize(n);
}

// a minus b, both normalised.
Spans Subtract(const Spans& a, const Spans& b) {
    if (b.empty()) return a;
    Spans out;
    out.reserve(a.size());
    size_t i = 0, j = 0;
    while (i < a.size()) {
        const int y = a[i].y;
        size_t ie = i;
        while (ie < a.size() && a[ie].y == y) ++ie;
        while (j < b.size() && b[j].y < y) ++j;
        size_t je = j;
        while (je < b.size() && b[je].y == y) ++je;
        lt::SubtractRows(a.data() + i, a.data() + ie, b.data() + j, b.data() + je, y, out);
        i = ie;
        j = je;
    }
    return out;
}

Spans Union(const Spans& a, const Spans& b) {
    Spans out;
    out.reserve(a.size() + b.size());
    out.insert(out.end(), a.begin(), a.end());
    out.insert(out.end(), b.begin(), b.end());
    Normalize(out);
    return out;
}

// The on/off pattern of cosmetic styled pens, counted in pixels along the path. Dots are
// one on, one off; dashes 18 on, 6 off.
bool PatternOn(int style, int64_t i) {
    switch (style) {
        case PS_DOT: return (i & 1) == 0;
        case PS_DASH: return (i % 24) < 18;
        default: return true;
    }
}

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
void ThinLine(P64 a, P64 b, const RECT& bounds, Stroke& out) {
    const int64_t dx = b.x - a.x, dy = b.y - a.y;
    const int64_t adx = std::llabs(dx), ady = std::llabs(dy);
    const int64_t n = std::max(adx, ady);
    if (n == 0) return;
    const bool xMajor = adx >= ady;
    const int64_t sMaj = (xMajor ? dx : dy) >= 0 ? 1 : -1;
    const int64_t sMin = (xMajor ? dy : dx) >= 0 ? 1 : -1;
    const int64_t m0 = xMajor ? a.x : a.y, n0 = xMajor ? a.y : a.x;
    const int64_t dmin = xMajor ? ady : adx;
    const int64_t lo = xMajor ? bounds.left : bounds.top,
                  hi = xMajor ? bounds.right : bounds.bottom;
    const int64_t mlo = xMajor ? bounds.top : bounds.left,
                  mhi = xMajor ? bounds.bottom : bounds.right;
    int64_t i0 = sMaj > 0 ? lo - m0 : m0 - hi + 1;
    int64_t i1 = sMaj > 0 ? hi - m0 : m0 - lo + 1;
    i0 = std::max<int64_t>(i0, 0);
    i1 = std::min(i1, n);
    if (i0 < i1) {
        // Minor offset of pixel i: floor((2 i dmin + n) / 2n), stepped incrementally.
        const int64_t den = 2 * n;
        int64_t num = 2 * i0 * dmin + n;
        int64_t q = num / den, r = num % den;
        for (int64_t i = i0; i < i1; ++i) {
            const int64_t major = m0 + sMaj * i, minor = n0 + sMin * q;
            if (minor >= mlo && minor < mhi) {
                if (xMajor)
                    out.Pixel(major, minor, out.index + i);
                else
                    out.Pixel(minor, major, out.index + i);
            }
            r += 2 * dmin;
            if (r >= den) {
                r -= den;
                ++q;
            }
        }
    }
    out.index += n;
}

// A wide pen stroke from a to b with round ends: the pixels whose centres lie within w/2 of
// the segment between the pen's centres. A pen of width w put down at pixel p covers
// [p - w/2, p - w/2 + w) across (integer halves), so its centre is a pixel centre for odd
// widths and a pixel corner for even ones; a zero-length stroke is a disc of diameter w.
void Capsule(P64 a, P64 b, int w, const RECT& bounds, SpanSink& out) {
    const double r = w * 0.5, r2 = r * r;
    const double shift = r - double(w / 2);
    const double ax = double(a.x) + shift, ay = double(a.y) + shift;
    const double bx = double(b.x) + shift, by = double(b.y) + shift;
    const double ddx = bx - ax, ddy = by - ay;
    const double len2 = ddx * ddx + ddy * ddy, len = std::sqrt(len2);
    constexpr double kEps = 1e-7;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const int64_t yTop =
        std::max<int64_t>(int64_t(std::ceil(std::min(ay, by) - r - 0.5)), bounds.top);
    const int64_t yEnd =
        std::min<int64_t>(int64_t(std::floor(std::max(ay, by) + r - 0.5)) + 1, bounds.bottom);
    for (int64_t py = yTop; py < yEnd; ++py) {
        const double yc = double(py) + 0.5;
        double lo = kInf, hi = -kInf;
        auto disc = [&](double cx, double cy) {
            const double d = yc - cy, rem = r2 - d * d;
            if (rem < 0) return;
            const double s = std::sqrt(rem);
            lo = std::min(lo, cx - s);
            hi = std::max(hi, cx + s);
        };
        disc(ax, ay);
        disc(bx, by);
        if (len2 > 0) {
            // The band between the end discs: perpendicular distance <= r and projection
            // onto the segment inside it, both linear in x along this row.
            double blo = -kInf, bhi = kInf;
            auto constrain = [&](double c, double k, double vlo,
                                 double vhi) { // vlo <= c x + k <= vhi
                if (c == 0) {
                    if (k < vlo - kEps || k > vhi + kEps) blo = kInf, bhi = -kInf;
                    return;
                }
                double x0 = (vlo - k) / c, x1 = (vhi - k) / c;
                if (c < 0) std::swap(x0, x1);
                blo = std::max(blo, x0);
                bhi = std::min(bhi, x1);
            };
            constrain(ddy, -(yc - ay) * ddx - ax * ddy, -r * len, r * len);
            constrain(ddx, (yc - ay) * ddy - ax * ddx, 0, len2);
            if (blo <= bhi) {
                lo = std::min(lo, blo);
                hi = std::max(hi, bhi);
            }
        }
        if (lo > hi) continue;
        out.AddClamped(py, int64_t(std::ceil(lo - 0.5 - kEps)),
                       int64_t(std::floor(hi - 0.5 + kEps)) + 1, bounds);
    }
}

// A bounding box in device coordinates: [l, r) x [t, b).
struct Box {
    int64_t l = 0, t = 0, r = 0, b = 0;
    bool Empty() const { return l >= r || t >= b; }
    Box Inflated(int64_t d) const { return Box{l - d, t - d, r + d, b + d}; }
};

// The pixels of row y whose centres lie inside the ellipse inscribed in the box, as
// [x0, x1). Exact integer arithmetic on doubled offsets from the centre, so the shape is
// symmetric about both axes and never leaves the box.
bool EllipseRow(const Box& e, int64_t y, int64_t* x0, int64_t* x1) {
    if (e.Empty()) return false;
    const int64_t W = e.r - e.l, H = e.b - e.t;
    const int64_t Y = 2 * y + 1 - (e.t + e.b);
    if (Y <= -H || Y >= H) return false;
    // The largest k with k^2 H^2 <= W^2 (H^2 - Y^2); the row is |2x + 1 - (l + r)| <= k.
    const __int128 rhs = __int128(W) * W * (H * H - Y * Y);
    const __int128 h2 = __int128(H) * H;
    int64_t k = int64_t(double(W) * std::sqrt(double(H * H - Y * Y)) / double(H));
    while (k > 0 && __int128(k) * k * h2 > rhs) --k;
    while (__int128(k + 1) * (k + 1) * h2 <= rhs) ++k;
    const int64_t c = e.l + e.r - 1;
    *x0 = lt::CeilDiv64(c - k, 2);
    *x1 = lt::FloorDiv64(c + k, 2) + 1;
    return *x0 < *x1;
}

// Every row of the filled ellipse inside the bounds.
void FillEllipse(const Box& e, const RECT& bounds, SpanSink& out) {
    const int64_t y0 = std::max<int64_t>(e.t, bounds.top),
                  y1 = std::min<int64_t>(e.b, bounds.bottom);
    for (int64_t y = y0; y < y1; ++y) {
        int64_t a, b;
        if (EllipseRow(e, y, &a, &b)) out.AddClamped(y, a, b, bounds);
    }
}

// The one-pixel outline of the filled ellipse: its pixels with a 4-neighbour outside it.
// That is an 8-connected curve in which no pixel appears twice.
void EllipseOutline(const Box& e, const RECT& rows, SpanSink& out) {
    const int64_t y0 = std::max<int64_t>(e.t, rows.top), y1 = std::min<int64_t>(e.b, rows.bottom);
    const int64_t none = std::numeric_limits<int64_t>::max();
    for (int64_t y = y0; y < y1; ++y) {
        int64_t a, b;
        if (!EllipseRow(e, y, &a, &b)) continue;
        // Interior: inside both vertical neighbours and not at either end of the row.
        int64_t i0 = a + 1, i1 = b - 1;
        int64_t u0, u1, d0, d1;
        if (EllipseRow(e, y - 1, &u0, &u1) && EllipseRow(e, y + 1, &d0, &d1)) {
            i0 = std::max({i0, u0, d0});
            i1 = std::min({i1, u1, d1});
        } else {
            i0 = none;
        }
        if (i0 >= i1) {
            out.AddClamped(y, a, b, rows);
        } else {
            out.AddClamped(y, a, i0, rows);
            out.AddClamped(y, i1, b, rows);
        }
    }
}

// Orders outline pixels along the curve, clockwise from the top, and deals out the pen's
// pattern. Each quadrant of the outline is monotone in x and y, so sorting by one
// coordinate, then the other, gives the order along the curve.
void StyleEllipseOutline(const Spans& outline, const Box& e, Stroke& st) {
    struct Q {
        int64_t k1, k2;
        int x, y;
        bool operator<(const Q& o) const { return k1 != o.k1 ? k1 < o.k1 : k2 < o.k2; }
    };
    std::vector<Q> q[4];
    for (const RgnSpan& s : outline) {
        const int64_t Y = 2 * int64_t(s.y) + 1 - (e.t + e.b);
        for (int x = s.x0; x < s.x1; ++x) {
            const int64_t X = 2 * int64_t(x) + 1 - (e.l + e.r);
            if (X >= 0 && Y < 0)
                q[0].push_back(Q{x, s.y, x, s.y});
            else if (X >= 0)
                q[1].push_back(Q{s.y, -int64_t(x), x, s.y});
            else if (Y >= 0)
                q[2].push_back(Q{-int64_t(x), -int64_t(s.y), x, s.y});
            else
                q[3].push_back(Q{-int64_t(s.y), x, x, s.y});
        }
    }
    int64_t i = 0;
    for (auto& v : q) {
        std::sort(v.begin(), v.end());
        for (const Q& p : v) st.Pixel(p.x, p.y, i++);
    }
    Normalize(st.on.spans);
    Normalize(st.gaps.spans);
}

// Polygon interior by pixel centres, ALTERNATE or WINDING, with an active edge list.
void FillPolygon(const std::vector<P64>& pts, int mode, const RECT& bounds, SpanSink& out) {
    struct Edge {
        int64_t x0, y0, x1, y1;
        int dir;
    };
    std::vector<Edge> edges;
    const size_t n = pts.size();
    for (size_t i = 0; i < n; ++i) {
        const P64 p = pts[i], q = pts[(i + 1) % n];
        if (p.y == q.y) continue;
        if (p.y < q.y)
            edges.push_back(Edge{p.x, p.y, q.x, q.y, 1});
        else
            edges.push_back(Edge{q.x, q.y, p.x, p.y, -1});
    }
    if (edges.empty()) return;
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
    int64_t yMax = edges[0].y1;
    for (const Edge& e : edges) yMax = std::max(yMax, e.y1);
    const int64_t y0 = std::max<int64_t>(edges[0].y0, bounds.top),
                  y1 = std::min<int64_t>(yMax, bounds.bottom);
    std::vector<const Edge*> active;
    struct Cross {
        int64_t x;
        int dir;
    };
    std::vector<Cross> cross;
    size_t next = 0;
    for (int64_t y = y0; y < y1; ++y) {
        // An edge meets the row's centre line y + 0.5 when y0 <= y < y1.
        while (next < edges.size() && edges[next].y0 <= y) active.push_back(&edges[next++]);
        active.erase(
            std::remove_if(active.begin(), active.end(), [y](const Edge* e) { return e->y1 <= y; }),
            active.end());
        cross.clear();
        for (const Edge* e : active) {
            // The first pixel whose centre is at or right of the crossing:
            // ceil((X2 - 1) / 2) with X2 = 2 x0 + (2y + 1 - 2 y0)(x1 - x0) / d.
            const int64_t d = e->y1 - e->y0;
            const int64_t num = 2 * e->x0 * d + (2 * y + 1 - 2 * e->y0) * (e->x1 - e->x0);
            cross.push_back(Cross{lt::CeilDiv64(num - d, 2 * d), e->dir});
        }
        std::sort(cross.begin(), cross.end(),
                  [](const Cross& a, const Cross& b) { return a.x < b.x; });
        int wind = 0;
        for (size_t k = 0; k + 1 < cross.size(); ++k) {
            wind += mode == WINDING ? cross[k].dir : 1;
            const bool inside = mode == WINDING ? wind != 0 : (wind & 1) != 0;
            if (inside) out.AddClamped(y, cross[k].x, cross[k + 1].x, bounds);
        }
    }
}

// Spans of a rectangle cut to the bounds.
void FillBox(const Box& r, const RECT& bounds, SpanSink& out) {
    const int64_t y0 = std::max<int64_t>(r.t, bounds.top),
                  y1 = std::min<int64_t>(r.b, bounds.bottom);
    for (int64_t y = y0; y < y1; ++y) out.AddClamped(y, r.l, r.r, bounds);
}

// ROP2 as d = (d AND keep) XOR flip. Mode n has the truth table n - 1 indexed by
// pen bit * 2 + destination bit; for each pen bit the result is then one of 0, 1, d or
// NOT d, which a keep and a flip bit express.
void Rop2Masks(int rop2, uint32_t pen, uint32_t mask, uint32_t* keep, uint32_t* flip) {
    const unsigned f = unsigned(rop2 - 1) & 15u;
    auto bit = [&](int i) { return ((f >> i) & 1u) ? mask : 0u; };
    const uint32_t c0 = bit(0), a0 = bit(0) ^ bit(1), c1 = bit(2), a1 = bit(2) ^ bit(3);
    *flip = ((pen & c1) | (~pen & c0)) & mask;
    *keep = ((pen & a1) | (~pen & a0)) & mask;
}

} // namespace

// ---------------------------------------------------------------------------
// The context.

namespace {

// Paints a coverage in one colour with a ROP2 through the context's clip.
void PaintSpans(const LDEVICE& dc, const Spans& spans, COLORREF color, int rop2) {
    if (spans.empty()) return;
    BITMAPHANDLE* t = dc.Target();
    if (!lt::IsDrawable(t)) return;
    const int bpp = t->BitsPerPixel;
    uint32_t keep, flip;
    Rop2Masks(rop2, lt::ColorToValue(t, color), lt::ColorMask(bpp), &keep, &flip);
    lt::ForEachClipped(spans, lt::DrawableBounds(&dc), dc.ClipRegion(), [&](int y, int x0, int x1) {
        lt::ApplySpan(bpp, L_RowPtr(t, y), x0, x1, keep, flip);
    });
}

P64 ToDevice(const LDEVICE::State& s, int64_t x, int64_t y) {
    return P64{x + s.org.x, y + s.org.y};
}

// Points in device coordinates; false when one is out of range.
bool DevicePoints(const LDEVICE::State& s, const POINT* pts, int count, std::vector<P64>& out) {
    out.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        out[size_t(i)] = ToDevice(s, pts[i].x, pts[i].y);
        if (!InLimits(out[size_t(i)])) return false;
    }
    return true;
}

// A rectangle from two corners in either order, in device coordinates.
Box DeviceBox(const LDEVICE::State& s, int left, int top, int right, int bottom) {
    const P64 a = ToDevice(s, left, top), b = ToDevice(s, right, bottom);
    return Box{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

// A device rectangle in logical coordinates, grown by (mx, my) on every side.
RECT ToLogical(const LDEVICE::State& s, const RECT& r, int64_t mx, int64_t my) {
    auto c = [](int64_t v) {
        return int(std::clamp<int64_t>(v, -(int64_t(1) << 30), int64_t(1) << 30));
    };
    return RECT{c(int64_t(r.left) - s.org.x - mx), c(int64_t(r.top) - s.org.y - my),
                c(int64_t(r.right) - s.org.x + mx), c(int64_t(r.bottom) - s.org.y + my)};
}

bool BoxInLimits(const Box& b) { return InLimits(P64{b.l, b.t}) && InLimits(P64{b.r, b.b}); }

// Pens wider than this are taken as this wide; it keeps the ellipse arithmetic in range.
constexpr int kMaxPenWidth = 1 << 16;
int PenWidth(const LPEN& p) { return std::clamp(p.width, 1, kMaxPenWidth); }
bool PenVisible(const LPEN& p) { return p.style != PS_NULL; }
// Cosmetic styles apply to one-pixel pens; wider pens draw solid, as in GDI.
int PenPattern(const LPEN& p) {
    return PenWidth(p) == 1 && (p.style == PS_DOT || p.style == PS_DASH) ? p.style : PS_SOLID;
}

Stroke NewStroke(const LDEVICE::State& s) {
    Stroke st;
    st.style = PenPattern(s.pen);
    st.keepGaps = st.style != PS_SOLID && s.bkMode == OPAQUE;
    return st;
}

// Strokes a path with the pen. Thin pens leave out the last point of every segment (so a
// closed path visits each vertex once); wide pens join round capsules.
void StrokePath(const LDEVICE::State& s, const std::vector<P64>& pts, bool closed,
                const RECT& bounds, Stroke& st) {
    const size_t n = pts.size();
    const size_t segments = closed ? n : n - 1;
    const int w = PenWidth(s.pen);
    for (size_t i = 0; i < segments; ++i) {
        const P64 a = pts[i], b = pts[(i + 1) % n];
        if (w == 1)
            ThinLine(a, b, bounds, st);
        else
            Capsule(a, b, w, bounds, st.on);
    }
    Normalize(st.on.spans);
    Normalize(st.gaps.spans);
}

// Paints a shape: the brush over its interior less the pen's pixels, then the gaps, then
// the pen, so that no pixel is painted twice.
void PaintShape(const LDEVICE& dc, const LDEVICE::State& s, const Spans* fill, Stroke& st) {
    Spans gaps = Subtract(st.gaps.spans, st.on.spans);
    if (fill && s.brush.style != BS_HOLLOW)
        PaintSpans(dc, Subtract(*fill, Union(st.on.spans, gaps)), s.brush.color, s.rop2);
    PaintSpans(dc, gaps, s.bkColor, s.rop2);
    PaintSpans(dc, st.on.spans, s.pen.color, s.rop2);
}

template <class F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const std::bad_alloc&) {
        // Drawing is best effort, as on a screen: out of memory leaves the picture as it was.
    }
}

} // namespace

LDEVICE::LDEVICE(BITMAPHANDLE* target) : target_(target), impl_(std::make_unique<Impl>()) {}

// The unique_ptr is emptied before it is destroyed and Impl deleted here, where it is
// complete: the deleter's instantiation is then never asked to delete anything.
LDEVICE::~LDEVICE() = default;

LPEN LDEVICE::SelectPen(const LPEN& pen) { return std::exchange(impl_->cur.pen, pen); }
LBRUSH LDEVICE::SelectBrush(const LBRUSH& brush) { return std::exchange(impl_->cur.brush, brush); }

int LDEVICE::SetROP2(int rop2) {
    if (rop2 < 1 || rop2 > 16) return 0;
    return std::exchange(impl_->cur.rop2, rop2);
}

int LDEVICE::SetPolyFillMode(int mode) {
    if (mode != ALTERNATE && mode != WINDING) return 0;
    return std::exchange(impl_->cur.fillMode, mode);
}

COLORREF LDEVICE::SetBkColor(COLORREF color) { return std::exchange(impl_->cur.bkColor, color); }

int LDEVICE::SetBkMode(int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    return std::exchange(impl_->cur.bkMode, mode);
}

COLORREF LDEVICE::SetTextColor(COLORREF color) {
    return std::exchange(impl_->cur.textColor, color);
}
const LPEN& LDEVICE::Pen() const { return impl_->cur.pen; }
const LBRUSH& LDEVICE::Brush() const { return impl_->cur.brush; }
int LDEVICE::ROP2() const { return impl_->cur.rop2; }

POINT LDEVICE::SetViewportOrg(int x, int y) { return std::exchange(impl_->cur.org, POINT{x, y}); }
POINT LDEVICE::GetViewportOrg() const { return impl_->cur.org; }

void LDEVICE::SelectClipRgn(HRGN rgn) {
    State& s = impl_->cur;
    Guarded([&] {
        if (!rgn) {
            s.hasClip = false;
            s.clip = LRegion{};
            return;
        }
        s.clip = *rgn;
        s.hasClip = true;
    });
}

void LDEVICE::IntersectClipRect(const RECT& rc) {
    State& s = impl_->cur;
    const P64 a = ToDevice(s, rc.left, rc.top), b = ToDevice(s, rc.right, rc.bottom);
    auto clampi = [](int64_t v) {
        return int(std::clamp<int64_t>(v, -lt::kDcCoordLimit, lt::kDcCoordLimit));
    };
    const RECT dev{clampi(a.x), clampi(a.y), clampi(b.x), clampi(b.y)};
    Guarded([&] {
        if (!s.hasClip) {
            const RECT full = target_ ? lt::FullRect(target_) : RECT{};
            s.clip = LRegion::FromRect(lt::IntersectRect(dev, full));
            s.hasClip = true;
        } else {
            s.clip = s.clip.Intersected(dev);
        }
    });
}

void LDEVICE::ExcludeClipRect(const RECT& rc) {
    State& s = impl_->cur;
    const P64 a = ToDevice(s, rc.left, rc.top), b = ToDevice(s, rc.right, rc.bottom);
    auto clampi = [](int64_t v) {
        return int(std::clamp<int64_t>(v, -lt::kDcCoordLimit, lt::kDcCoordLimit));
    };
    const RECT dev{clampi(a.x), clampi(a.y), clampi(b.x), clampi(b.y)};
    Guarded([&] {
        if (!s.hasClip) {
            s.clip = LRegion::FromRect(target_ ? lt::FullRect(target_) : RECT{});
            s.hasClip = true;
        }
        s.clip = LRegion::Combine(s.clip, LRegion::FromRect(dev), L_RGN_ANDNOTRGN);
    });
}

const LRegion* LDEVICE::ClipRegion() const {
    return impl_->cur.hasClip ? &impl_->cur.clip : nullptr;
}

int LDEVICE::SaveDC() {
    impl_->saved.push_back(impl_->cur);
    return int(impl_->saved.size());
}

bool LDEVICE::RestoreDC(int saved) {
    const int64_t depth = int64_t(impl_->saved.size());
    // A positive value is a depth SaveDC returned; a negative one counts back from the last.
    const int64_t index = saved > 0 ? int64_t(saved) - 1 : depth + saved;
    if (saved == 0 || index < 0 || index >= depth) return false;
    impl_->cur = std::move(impl_->saved[size_t(index)]);
    impl_->saved.resize(size_t(index));
    return true;
}

POINT LDEVICE::MoveTo(int x, int y) { return std::exchange(impl_->cur.pos, POINT{x, y}); }

void LDEVICE::LineTo(int x, int y) {
    const State& s = impl_->cur;
    const POINT from = s.pos;
    impl_->cur.pos = POINT{x, y};
    Polyline(std::array<POINT, 2>{from, POINT{x, y}}.data(), 2);
}

void LDEVICE::Polyline(const POINT* pts, int count) {
    const State& s = impl_->cur;
    if (!pts || count < 2 || !PenVisible(s.pen)) return;
    const RECT bounds = lt::DrawableBounds(this);
    if (lt::IsEmptyRect(bounds)) return;
    Guarded([&] {
        std::vector<P64> dev;
        if (!DevicePoints(s, pts, count, dev)) return;
        Stroke st = NewStroke(s);
        StrokePath(s, dev, false, bounds, st);
        PaintShape(*this, s, nullptr, st);
    });
}

void LDEVICE::Rectangle(int left, int top, int right, int bottom) {
    const State& s = impl_->cur;
    const Box box = DeviceBox(s, left, top, right, bottom);
    const RECT bounds = lt::DrawableBounds(this);
    if (box.Empty() || !BoxInLimits(box) || lt::IsEmptyRect(bounds)) return;
    Guarded([&] {
        Stroke st = NewStroke(s);
        const int w = PenWidth(s.pen);
        if (PenVisible(s.pen)) {
            if (w > 1 && s.pen.style == PS_INSIDEFRAME) {
                // A square frame w wide just inside the box.
                const Box inner = box.Inflated(-w);
                const int64_t y0 = std::max<int64_t>(box.t, bounds.top),
                              y1 = std::min<int64_t>(box.b, bounds.bottom);
                for (int64_t y = y0; y < y1; ++y) {
                    if (inner.Empty() || y < inner.t || y >= inner.b) {
                        st.on.AddClamped(y, box.l, box.r, bounds);
                    } else {
                        st.on.AddClamped(y, box.l, inner.l, bounds);
                        st.on.AddClamped(y, inner.r, box.r, bounds);
                    }
                }
            } else {
                // Thin pens: the border pixels of the filled area, walked clockwise. Wide
                // pens: round-joined strokes centred on them.
                const std::vector<P64> corners{
                    {box.l, box.t}, {box.r - 1, box.t}, {box.r - 1, box.b - 1}, {box.l, box.b - 1}};
                StrokePath(s, corners, true, bounds, st);
            }
        }
        SpanSink fill;
        if (s.brush.style != BS_HOLLOW) FillBox(box, bounds, fill);
        PaintShape(*this, s, &fill.spans, st);
    });
}

void LDEVICE::Ellipse(int left, int top, int right, int bottom) {
    const State& s = impl_->cur;
    const Box box = DeviceBox(s, left, top, right, bottom);
    const RECT bounds = lt::DrawableBounds(this);
    if (box.Empty() || !BoxInLimits(box) || lt::IsEmptyRect(bounds)) return;
    Guarded([&] {
        Stroke st = NewStroke(s);
        const int w = PenWidth(s.pen);
        if (PenVisible(s.pen)) {
            if (w == 1) {
                if (st.style == PS_SOLID) {
                    EllipseOutline(box, bounds, st.on);
                } else {
                    // The pattern runs around the whole outline so that it does not shift
                    // with the clip; only a huge ellipse is cut to the visible part first.
                    const bool whole = box.r - box.l <= 65536 && box.b - box.t <= 65536;
                    RECT rows = bounds;
                    if (whole) rows = RECT{int(box.l), int(box.t), int(box.r), int(box.b)};
                    SpanSink outline;
                    EllipseOutline(box, rows, outline);
                    Normalize(outline.spans);
                    Stroke all = st;
                    StyleEllipseOutline(outline.spans, box, all);
                    auto cut = [&](const Spans& in, SpanSink& out) {
                        for (const RgnSpan& sp : in) out.AddClamped(sp.y, sp.x0, sp.x1, bounds);
                    };
                    cut(all.on.spans, st.on);
                    cut(all.gaps.spans, st.gaps);
                }
            } else {
                // A ring between two concentric ellipses w apart: inside the box for
                // PS_INSIDEFRAME, otherwise centred where the one-pixel outline would be.
                const Box outer = s.pen.style == PS_INSIDEFRAME ? box : box.Inflated(w / 2);
                const Box inner = outer.Inflated(-w);
                const int64_t y0 = std::max<int64_t>(outer.t, bounds.top),
                              y1 = std::min<int64_t>(outer.b, bounds.bottom);
                for (int64_t y = y0; y < y1; ++y) {
                    int64_t a, b, c, d;
                    if (!EllipseRow(outer, y, &a, &b)) continue;
                    if (!EllipseRow(inner, y, &c, &d)) {
                        st.on.AddClamped(y, a, b, bounds);
                    } else {
                        st.on.AddClamped(y, a, c, bounds);
                        st.on.AddClamped(y, d, b, bounds);
                    }
                }
            }
            Normalize(st.on.spans);
            Normalize(st.gaps.spans);
        }
        SpanSink fill;
        if (s.brush.style != BS_HOLLOW) FillEllipse(box, bounds, fill);
        PaintShape(*this, s, &fill.spans, st);
    });
}

void LDEVICE::Polygon(const POINT* pts, int count) {
    const State& s = impl_->cur;
    if (!pts || count < 2) return;
    const RECT bounds = lt::DrawableBounds(this);
    if (lt::IsEmptyRect(bounds)) return;
    Guarded([&] {
        std::vector<P64> dev;
        if (!DevicePoints(s, pts, count, dev)) return;
        Stroke st = NewStroke(s);
        if (PenVisible(s.pen)) StrokePath(s, dev, true, bounds, st);
        SpanSink fill;
        if (s.brush.style != BS_HOLLOW && count >= 3) {
            FillPolygon(dev, s.fillMode, bounds, fill);
            Normalize(fill.spans);
        }
        PaintShape(*this, s, &fill.spans, st);
    });
}

void LDEVICE::FillRect(const RECT& rc, const LBRUSH& brush) {
    const State& s = impl_->cur;
    if (brush.style == BS_HOLLOW) return;
    const P64 a = ToDevice(s, rc.left, rc.top), b = ToDevice(s, rc.right, rc.bottom);
    const RECT bounds = lt::DrawableBounds(this);
    Guarded([&] {
        SpanSink fill;
        FillBox(Box{a.x, a.y, b.x, b.y}, bounds, fill);
        PaintSpans(*this, fill.spans, brush.color, s.rop2);
    });
}

void LDEVICE::FillRgn(HRGN rgn, const LBRUSH& brush) {
    const State& s = impl_->cur;
    if (!rgn || brush.style == BS_HOLLOW) return;
    const RECT bounds = lt::DrawableBounds(this);
    if (lt::IsEmptyRect(bounds)) return;
    Guarded([&] {
        LRegion r = rgn->Intersected(ToLogical(s, bounds, 0, 0));
        r.Offset(s.org.x, s.org.y);
        PaintSpans(*this, r.spans, brush.color, s.rop2);
    });
}

void LDEVICE::FrameRgn(HRGN rgn, const LBRUSH& brush, int w, int h) {
    const State& s = impl_->cur;
    if (!rgn || brush.style == BS_HOLLOW || w < 1 || h < 1) return;
    const RECT bounds = lt::DrawableBounds(this);
    if (lt::IsEmptyRect(bounds)) return;
    Guarded([&] {
        // Only what lies within w, h of the visible part can matter.
        LRegion r = rgn->Intersected(ToLogical(s, bounds, w, h));
        // The interior is the region eroded by a (2w - 1) x (2h - 1) box: first along
        // rows, then by intersecting the rows h - 1 above and below.
        LRegion eroded;
        for (const RgnSpan& sp : r.spans) {
            const int64_t x0 = int64_t(sp.x0) + (w - 1), x1 = int64_t(sp.x1) - (w - 1);
            if (x0 < x1) eroded.spans.push_back(RgnSpan{sp.y, int(x0), int(x1)});
        }
        LRegion interior = eroded;
        for (int k = 1; k < h && !interior.Empty(); ++k) {
            LRegion up = eroded, down = eroded;
            up.Offset(0, k);
            down.Offset(0, -k);
            interior = LRegion::Combine(LRegion::Combine(interior, up, L_RGN_AND), down, L_RGN_AND);
        }
        LRegion frame = LRegion::Combine(r, interior, L_RGN_ANDNOTRGN);
        frame.Offset(s.org.x, s.org.y);
        PaintSpans(*this, frame.spans, brush.color, s.rop2);
    });
}

void LDEVICE::SetPixel(int x, int y, COLORREF color) {
    const State& s = impl_->cur;
    const P64 p = ToDevice(s, x, y);
    const RECT bounds = lt::DrawableBounds(this);
    if (p.x < bounds.left || p.x >= bounds.right || p.y < bounds.top || p.y >= bounds.bottom)
        return;
    if (s.hasClip && !s.clip.Contains(int(p.x), int(p.y))) return;
    lt::ApplySpan(target_->BitsPerPixel, L_RowPtr(target_, int(p.y)), int(p.x), int(p.x) + 1, 0,
                  lt::ColorToValue(target_, color));
}

COLORREF LDEVICE::GetPixel(int x, int y) const {
    const State& s = impl_->cur;
    const P64 p = ToDevice(s, x, y);
    const RECT bounds = lt::DrawableBounds(this);
    if (p.x < bounds.left || p.x >= bounds.right || p.y < bounds.top || p.y >= bounds.bottom)
        return CLR_INVALID;
    if (s.hasClip && !s.clip.Contains(int(p.x), int(p.y))) return CLR_INVALID;
    const lt::BGRA c = lt::ReadPixel(target_, L_RowPtr(target_, int(p.y)), int(p.x));
    return RGB(c.r, c.g, c.b);
}

HDC L_CreateLeadDC(BITMAPHANDLE* b) {
    if (!lt::IsDrawable(b)) return nullptr;
    try {
        return new LDEVICE(b);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

L_INT L_DeleteLeadDC(HDC dc) {
    if (!dc) return ERROR_INV_PARAMETER;
    delete dc;
    return SUCCESS;
}
