// Regions as sorted horizontal spans: construction from rectangles and masks, boolean
// combination, transforms, and the HRGN handle calls built on them.
//
// Every operation here keeps the span invariant (sorted by y then x0, spans of a row
// neither overlap nor touch), so a combination can walk two regions row by row in one
// pass instead of testing pixels.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "BitmapInternal.h"

namespace {

// Coordinates stay well inside int so that offsets and scaled edges cannot overflow;
// whatever a transform or offset pushes beyond this is clipped away.
constexpr int64_t kCoordLimit = int64_t(1) << 30;
// A transform that would produce more spans than this is refused (it could only come
// from an absurd scale factor and would exhaust memory).
constexpr int64_t kMaxTransformedSpans = int64_t(1) << 27;

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b) != 0 && ((a < 0) != (b < 0))) --q;
    return q;
}

int64_t ClampCoord(int64_t v) { return std::clamp(v, -kCoordLimit, kCoordLimit); }

// Adds [x0, x1) to row y of a region built in order, merging with the previous span
// when they touch or overlap (x0 is never left of the previous span's x0).
inline void Append(std::vector<RgnSpan>& out, int y, int x0, int x1) {
    if (x0 >= x1) return;
    if (!out.empty() && out.back().y == y && out.back().x1 >= x0) {
        out.back().x1 = std::max(out.back().x1, x1);
        return;
    }
    out.push_back(RgnSpan{y, x0, x1});
}

// Index one past the last span of the row starting at index i.
inline size_t RowEnd(const std::vector<RgnSpan>& s, size_t i) {
    const int y = s[i].y;
    size_t e = i + 1;
    while (e < s.size() && s[e].y == y) ++e;
    return e;
}

// Merges one row of two regions with a boundary sweep: every span contributes an
// entering and a leaving edge, and the result is inside where keep[inA * 2 + inB] holds.
// Both inputs are strictly increasing edge sequences, so the output needs no merging.
void MergeRow(const RgnSpan* a, size_t na, const RgnSpan* b, size_t nb, int y, const bool keep[4],
              std::vector<RgnSpan>& out) {
    const size_t ea = na * 2, eb = nb * 2;
    size_t ka = 0, kb = 0;
    bool inA = false, inB = false, cur = false;
    int start = 0;
    while (ka < ea || kb < eb) {
        const int xa = ka < ea ? ((ka & 1) ? a[ka >> 1].x1 : a[ka >> 1].x0) : INT_MAX;
        const int xb = kb < eb ? ((kb & 1) ? b[kb >> 1].x1 : b[kb >> 1].x0) : INT_MAX;
        const int x = std::min(xa, xb);
        if (xa == x) {
            inA = !inA;
            ++ka;
        }
        if (xb == x) {
            inB = !inB;
            ++kb;
        }
        const bool in = keep[(inA ? 2 : 0) + (inB ? 1 : 0)];
        if (in != cur) {
            if (in)
                start = x;
            else
                out.push_back(RgnSpan{y, start, x});
            cur = in;
        }
    }
}

// Appends the runs of set bits of a 1-bit row. Uniform bytes (and 8-byte words) are
// skipped whole; only bytes holding a transition are looked at bit by bit.
void ScanRow1(const uint8_t* row, int width, int y, std::vector<RgnSpan>& out) {
    const int fullBytes = width >> 3;
    bool in = false;
    int start = 0;
    int k = 0;
    while (k < fullBytes) {
        const uint8_t skip = in ? 0xFF : 0x00;
        if (k + 8 <= fullBytes) {
            uint64_t w;
            std::memcpy(&w, row + k, 8);
            if (w == (in ? ~uint64_t(0) : uint64_t(0))) {
                k += 8;
                continue;
            }
        }
        const unsigned v = row[k];
        if (v == skip) {
            ++k;
            continue;
        }
        // Walk the transitions inside this byte: the next bit whose value differs from
        // the current state is the first set bit of (v or ~v) at or after pos.
        int pos = 0;
        while (pos < 8) {
            const unsigned look = ((in ? ~v : v) & 0xFFu) & (0xFFu >> pos);
            if (!look) break;
            const int p = __builtin_clz(look) - (int(sizeof(unsigned)) * 8 - 8);
            const int x = k * 8 + p;
            if (!in)
                start = x;
            else
                out.push_back(RgnSpan{y, start, x});
            in = !in;
            pos = p + 1;
        }
        ++k;
    }
    for (int x = fullBytes * 8; x < width; ++x) {
        const bool bit = (row[x >> 3] >> (7 - (x & 7))) & 1u;
        if (bit != in) {
            if (bit)
                start = x;
            else
                out.push_back(RgnSpan{y, start, x});
            in = bit;
        }
    }
    if (in) out.push_back(RgnSpan{y, start, width});
}

// Appends the runs of pixels for which nonZero(x) holds.
template <class Pred>
void ScanRowGeneric(int width, int y, std::vector<RgnSpan>& out, Pred nonZero) {
    int x = 0;
    while (x < width) {
        while (x < width && !nonZero(x)) ++x;
        if (x >= width) break;
        const int start = x;
        while (x < width && nonZero(x)) ++x;
        out.push_back(RgnSpan{y, start, x});
    }
}

} // namespace

namespace lt {

std::span<const RgnSpan> RegionSpans(HRGN rgn) {
    if (!rgn) return {};
    return rgn->spans;
}

// Applies a transform and keeps only what falls inside `clip` (bitmap coordinates) when
// one is given. Scales must be positive. Each source pixel covers the block
// [floor(x * num / den), floor((x + 1) * num / den)) + offset; these blocks tile the
// plane, so enlarging repeats pixels and shrinking keeps every den/num-th one, like
// nearest-neighbour sampling of a mask.
LRegion TransformRegion(const LRegion& src, const RGNXFORM& xf, int sourceHeight,
                        const RECT* clip) {
    LRegion out;
    const int64_t xn = xf.nXScalarNum, xd = xf.nXScalarDen, yn = xf.nYScalarNum,
                  yd = xf.nYScalarDen;
    if (xn <= 0 || xd <= 0 || yn <= 0 || yd <= 0 || src.spans.empty()) return out;
    const bool flip = xf.uViewPerspective == L_UINT(BOTTOM_LEFT);
    int64_t cl = -kCoordLimit, ct = -kCoordLimit, cr = kCoordLimit, cb = kCoordLimit;
    if (clip) {
        cl = std::max<int64_t>(cl, clip->left);
        ct = std::max<int64_t>(ct, clip->top);
        cr = std::min<int64_t>(cr, clip->right);
        cb = std::min<int64_t>(cb, clip->bottom);
    }
    if (cl >= cr || ct >= cb) return out;

    // Row start indices, so that a flipped region can be walked bottom row first and
    // still come out sorted.
    std::vector<size_t> rows;
    for (size_t i = 0; i < src.spans.size(); i = RowEnd(src.spans, i)) rows.push_back(i);
    rows.push_back(src.spans.size());
    const size_t nRows = rows.size() - 1;

    auto rowRange = [&](size_t r, int64_t* t0, int64_t* t1) {
        const int64_t y = src.spans[rows[r]].y;
        const int64_t sy = flip ? int64_t(sourceHeight) - 1 - y : y;
        *t0 = std::max(ClampCoord(FloorDiv(sy * yn, yd) + xf.nYOffset), ct);
        *t1 = std::min(ClampCoord(FloorDiv((sy + 1) * yn, yd) + xf.nYOffset), cb);
    };
    int64_t expected = 0;
    for (size_t r = 0; r < nRows; ++r) {
        int64_t t0, t1;
        rowRange(r, &t0, &t1);
        if (t1 > t0) expected += (t1 - t0) * int64_t(rows[r + 1] - rows[r]);
        if (expected > kMaxTransformedSpans) throw std::bad_alloc();
    }
    out.spans.reserve(size_t(expected));

    std::vector<RgnSpan> line;
    for (size_t k = 0; k < nRows; ++k) {
        const size_t r = flip ? nRows - 1 - k : k;
        int64_t t0, t1;
        rowRange(r, &t0, &t1);
        if (t0 >= t1) continue;
        line.clear();
        for (size_t i = rows[r]; i < rows[r + 1]; ++i) {
            const RgnSpan& s = src.spans[i];
            const int64_t x0 =
                std::max(ClampCoord(FloorDiv(int64_t(s.x0) * xn, xd) + xf.nXOffset), cl);
            const int64_t x1 =
                std::min(ClampCoord(FloorDiv(int64_t(s.x1) * xn, xd) + xf.nXOffset), cr);
            Append(line, 0, int(x0), int(x1));
        }
        if (line.empty()) continue;
        for (int64_t ty = t0; ty < t1; ++ty)
            for (const RgnSpan& s : line) out.spans.push_back(RgnSpan{int(ty), s.x0, s.x1});
    }
    return out;
}

} // namespace lt

// ---------------------------------------------------------------------------
// LRegion.

std::pair<const RgnSpan*, const RgnSpan*> LRegion::Row(int y) const {
    const RgnSpan* first = spans.data();
    const RgnSpan* last = first + spans.size();
    const RgnSpan* lo =
        std::lower_bound(first, last, y, [](const RgnSpan& s, int v) { return s.y < v; });
    const RgnSpan* hi =
        std::upper_bound(lo, last, y, [](int v, const RgnSpan& s) { return v < s.y; });
    return {lo, hi};
}

RECT LRegion::Bounds() const {
    if (spans.empty()) return RECT{};
    RECT r{INT_MAX, spans.front().y, INT_MIN, spans.back().y + 1};
    for (const RgnSpan& s : spans) {
        r.left = std::min(r.left, s.x0);
        r.right = std::max(r.right, s.x1);
    }
    return r;
}

bool LRegion::Contains(int x, int y) const {
    auto [lo, hi] = Row(y);
    // The last span starting at or left of x is the only candidate.
    const RgnSpan* it =
        std::upper_bound(lo, hi, x, [](int v, const RgnSpan& s) { return v < s.x0; });
    return it != lo && x < (it - 1)->x1;
}

void LRegion::Offset(int dx, int dy) {
    if (dx == 0 && dy == 0) return;
    size_t n = 0;
    for (const RgnSpan& s : spans) {
        const int64_t y = int64_t(s.y) + dy;
        if (y < -kCoordLimit || y >= kCoordLimit) continue;
        const int64_t x0 = ClampCoord(int64_t(s.x0) + dx), x1 = ClampCoord(int64_t(s.x1) + dx);
        if (x0 >= x1) continue;
        spans[n++] = RgnSpan{int(y), int(x0), int(x1)};
    }
    spans.resize(n);
}

LRegion LRegion::FromRect(const RECT& rc) {
    LRegion r;
    const int64_t l = ClampCoord(rc.left), t = ClampCoord(rc.top), rt = ClampCoord(rc.right),
                  b = ClampCoord(rc.bottom);
    if (l >= rt || t >= b) return r;
    r.spans.reserve(size_t(b - t));
    for (int64_t y = t; y < b; ++y) r.spans.push_back(RgnSpan{int(y), int(l), int(rt)});
    return r;
}

LRegion LRegion::FromMask(const BITMAPHANDLE& mask) {
    LRegion r;
    if (!lt::IsAllocated(&mask) || mask.Width <= 0 || mask.Height <= 0) return r;
    const int w = mask.Width;
    for (int y = 0; y < mask.Height; ++y) {
        const uint8_t* row = L_RowPtr(&mask, y);
        switch (mask.BitsPerPixel) {
            case 1: ScanRow1(row, w, y, r.spans); break;
            case 4:
                ScanRowGeneric(w, y, r.spans,
                               [row](int x) { return lt::ReadIndex(row, x, 4) != 0; });
                break;
            case 8: ScanRowGeneric(w, y, r.spans, [row](int x) { return row[x] != 0; }); break;
            case 16:
                ScanRowGeneric(w, y, r.spans,
                               [row](int x) { return (row[x * 2] | row[x * 2 + 1]) != 0; });
                break;
            case 24:
                ScanRowGeneric(w, y, r.spans, [row](int x) {
                    return (row[x * 3] | row[x * 3 + 1] | row[x * 3 + 2]) != 0;
                });
                break;
            case 32:
                ScanRowGeneric(w, y, r.spans, [row](int x) {
                    uint32_t v;
                    std::memcpy(&v, row + size_t(x) * 4, 4);
                    return v != 0;
                });
                break;
            default: return LRegion{};
        }
    }
    return r;
}

LRegion LRegion::Combine(const LRegion& a, const LRegion& b, unsigned mode) {
    // keep[inA * 2 + inB]: whether a pixel with that membership is in the result.
    static constexpr bool kAnd[4] = {false, false, false, true};
    static constexpr bool kAndNot[4] = {false, false, true, false};
    static constexpr bool kOr[4] = {false, true, true, true};
    static constexpr bool kXor[4] = {false, true, true, false};
    const bool* keep = nullptr;
    switch (mode) {
        case L_RGN_SET: return b;
        case L_RGN_AND: keep = kAnd; break;
        case L_RGN_ANDNOTBITMAP: // within a bitmap both reduce to "a minus b"
        case L_RGN_ANDNOTRGN: keep = kAndNot; break;
        case L_RGN_OR: keep = kOr; break;
        case L_RGN_XOR: keep = kXor; break;
        default: return LRegion{};
    }
    LRegion out;
    const std::vector<RgnSpan>& A = a.spans;
    const std::vector<RgnSpan>& B = b.spans;
    out.spans.reserve(mode == L_RGN_AND ? std::min(A.size(), B.size()) : A.size() + B.size());
    size_t i = 0, j = 0;
    while (i < A.size() || j < B.size()) {
        const int ya = i < A.size() ? A[i].y : INT_MAX;
        const int yb = j < B.size() ? B[j].y : INT_MAX;
        const int y = std::min(ya, yb);
        const size_t ie = ya == y ? RowEnd(A, i) : i;
        const size_t je = yb == y ? RowEnd(B, j) : j;
        if (i == ie) {
            if (keep[1])
                out.spans.insert(out.spans.end(), B.begin() + ptrdiff_t(j),
                                 B.begin() + ptrdiff_t(je));
        } else if (j == je) {
            if (keep[2])
                out.spans.insert(out.spans.end(), A.begin() + ptrdiff_t(i),
                                 A.begin() + ptrdiff_t(ie));
        } else {
            MergeRow(A.data() + i, ie - i, B.data() + j, je - j, y, keep, out.spans);
        }
        i = ie;
        j = je;
    }
    return out;
}

LRegion LRegion::Transformed(const RGNXFORM& xf, int sourceHeight) const {
    return lt::TransformRegion(*this, xf, sourceHeight, nullptr);
}

LRegion LRegion::Intersected(const RECT& rc) const {
    LRegion out;
    if (rc.left >= rc.right || rc.top >= rc.bottom) return out;
    auto first = std::lower_bound(spans.begin(), spans.end(), rc.top,
                                  [](const RgnSpan& s, int v) { return s.y < v; });
    for (auto it = first; it != spans.end() && it->y < rc.bottom; ++it) {
        const int x0 = std::max(it->x0, rc.left), x1 = std::min(it->x1, rc.right);
        if (x0 < x1) out.spans.push_back(RgnSpan{it->y, x0, x1});
    }
    return out;
}

// ---------------------------------------------------------------------------
// HRGN handles.

HRGN L_CreateRectRgn(const RECT& rc) {
    try {
        return new LRegion(LRegion::FromRect(rc));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HRGN L_CopyRgn(HRGN hRgn) {
    if (!hRgn) return nullptr;
    try {
        return new LRegion(*hRgn);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void L_DeleteRgn(HRGN hRgn) { delete hRgn; }

void L_OffsetRgn(HRGN hRgn, L_INT dx, L_INT dy) {
    if (hRgn) hRgn->Offset(dx, dy);
}

L_INT L_CombineRgn(HRGN dst, HRGN a, HRGN b, L_UINT uCombineMode) {
    if (!dst || !a || !b) return ERROR_INV_PARAMETER;
    if (uCombineMode != L_RGN_AND && uCombineMode != L_RGN_SET && uCombineMode != L_RGN_ANDNOTRGN &&
        uCombineMode != L_RGN_OR && uCombineMode != L_RGN_XOR)
        return ERROR_INV_PARAMETER;
    try {
        // dst may be a or b: build the result aside first.
        LRegion r = LRegion::Combine(*a, *b, uCombineMode);
        dst->spans = std::move(r.spans);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}

bool L_IsRgnEmpty(HRGN hRgn) { return !hRgn || hRgn->Empty(); }

RECT L_GetRgnBox(HRGN hRgn) { return hRgn ? hRgn->Bounds() : RECT{}; }

bool L_PtInRgn(HRGN hRgn, L_INT x, L_INT y) { return hRgn && hRgn->Contains(x, y); }
