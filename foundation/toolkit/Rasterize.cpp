// The rasterisers of the device context (see Rasterize.h).
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Rasterize.h"

namespace lt::raster {

bool InLimits(const P64& p) {
    return std::llabs(p.x) <= lt::kDcCoordLimit && std::llabs(p.y) <= lt::kDcCoordLimit;
}

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

bool PatternOn(int style, int64_t i) {
    switch (style) {
        case PS_DOT: return (i & 1) == 0;
        case PS_DASH: return (i % 24) < 18;
        default: return true;
    }
}

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

void FillEllipse(const Box& e, const RECT& bounds, SpanSink& out) {
    const int64_t y0 = std::max<int64_t>(e.t, bounds.top),
                  y1 = std::min<int64_t>(e.b, bounds.bottom);
    for (int64_t y = y0; y < y1; ++y) {
        int64_t a, b;
        if (EllipseRow(e, y, &a, &b)) out.AddClamped(y, a, b, bounds);
    }
}

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

void FillBox(const Box& r, const RECT& bounds, SpanSink& out) {
    const int64_t y0 = std::max<int64_t>(r.t, bounds.top),
                  y1 = std::min<int64_t>(r.b, bounds.bottom);
    for (int64_t y = y0; y < y1; ++y) out.AddClamped(y, r.l, r.r, bounds);
}

void Rop2Masks(int rop2, uint32_t pen, uint32_t mask, uint32_t* keep, uint32_t* flip) {
    const unsigned f = unsigned(rop2 - 1) & 15u;
    auto bit = [&](int i) { return ((f >> i) & 1u) ? mask : 0u; };
    const uint32_t c0 = bit(0), a0 = bit(0) ^ bit(1), c1 = bit(2), a1 = bit(2) ^ bit(3);
    *flip = ((pen & c1) | (~pen & c0)) & mask;
    *keep = ((pen & a1) | (~pen & a0)) & mask;
}

} // namespace lt::raster
