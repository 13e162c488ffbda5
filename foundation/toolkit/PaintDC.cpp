// Bitmaps onto a device context (L_PaintDC, L_PaintRgnDC) and the marching-ants outline of
// a bitmap's region (L_FrameBitmapRgn).
//
// Painting the view is the editor's hot path: a window-sized nearest-neighbour stretch on
// every repaint. So the source column of each destination column is worked out once per
// call, every destination row reads one source row through that table, and a row that
// samples the same source row with the same spans as the row before it is a copy of that
// row. Source pixels are converted to the destination's stored format as they are fetched
// (palette sources through a table built per call); the raster operation is applied in a
// separate pass, except for SRCCOPY onto 32 bits, where the fetch writes straight into the
// destination row.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "LeadDCInternal.h"

namespace lt {
// In Region.cpp: a transform that keeps only what lands inside clip.
LRegion TransformRegion(const LRegion& src, const RGNXFORM& xf, int sourceHeight, const RECT* clip);
} // namespace lt

namespace {

enum class Rop { Copy, Xor, And, Or };

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

inline uint32_t Pack15(uint32_t bgr) {
    return ((bgr >> 3) & 0x1Fu) | (((bgr >> 11) & 0x1Fu) << 5) | (((bgr >> 19) & 0x1Fu) << 10);
}

// What a true-colour source pixel becomes on the destination.
enum DstKind { kBGR, k15, kIndex };

struct Converter {
    uint32_t lut[256] = {}; // palette sources: the destination value of each index
    lt::NearestCache* nearest = nullptr;
};

// Destination values (in 4-byte slots, OR orMask) of n destination pixels whose source
// columns are cols[0..n) or, when Linear, c0, c0 + 1, ...
template <int SB, DstKind DK, bool Linear>
void Fetch(const uint8_t* srow, const int32_t* cols, int n, uint8_t* out, uint32_t orMask,
           const Converter& cv) {
    const int c0 = cols[0];
    for (int i = 0; i < n; ++i) {
        const int sx = Linear ? c0 + i : cols[i];
        uint32_t v;
        if constexpr (SB <= 8) {
            v = cv.lut[lt::ReadIndex(srow, sx, SB)];
        } else {
            if constexpr (SB == 32) {
                v = Load32(srow + size_t(sx) * 4) & 0x00FFFFFFu;
            } else if constexpr (SB == 24) {
                const uint8_t* p = srow + size_t(sx) * 3;
                v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
            } else {
                const uint16_t w = Load16(srow + size_t(sx) * 2);
                if constexpr (DK == k15) {
                    v = w & 0x7FFFu;
                } else {
                    const lt::BGRA c = lt::Unpack16(w);
                    v = uint32_t(c.b) | (uint32_t(c.g) << 8) | (uint32_t(c.r) << 16);
                }
            }
            if constexpr (DK == k15 && SB != 16) v = Pack15(v);
            if constexpr (DK == kIndex)
                v = cv.nearest->Get(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
        }
        Store32(out + size_t(i) * 4, v | orMask);
    }
}

using FetchFn = void (*)(const uint8_t*, const int32_t*, int, uint8_t*, uint32_t, const Converter&);

template <DstKind DK, bool Linear>
FetchFn PickFetch(int sb) {
    switch (sb) {
        case 1: return Fetch<1, DK, Linear>;
        case 4: return Fetch<4, DK, Linear>;
        case 8: return Fetch<8, DK, Linear>;
        case 16: return Fetch<16, DK, Linear>;
        case 24: return Fetch<24, DK, Linear>;
        default: return Fetch<32, DK, Linear>;
    }
}

FetchFn PickFetch(int sb, DstKind dk, bool linear) {
    switch (dk) {
        case kBGR: return linear ? PickFetch<kBGR, true>(sb) : PickFetch<kBGR, false>(sb);
        case k15: return linear ? PickFetch<k15, true>(sb) : PickFetch<k15, false>(sb);
        default: return linear ? PickFetch<kIndex, true>(sb) : PickFetch<kIndex, false>(sb);
    }
}

// Applies the raster operation of n fetched values to a destination row from pixel x0.
// SRCCOPY makes 32 and 16-bit pixels opaque; the other operations work on the colour bits
// and leave alpha alone.
template <int DB, Rop R>
void Store(uint8_t* drow, int x0, int n, const uint8_t* vals) {
    for (int i = 0; i < n; ++i) {
        const uint32_t v = Load32(vals + size_t(i) * 4);
        const int x = x0 + i;
        if constexpr (DB == 32) {
            uint8_t* p = drow + size_t(x) * 4;
            const uint32_t c = v & 0x00FFFFFFu;
            uint32_t d = R == Rop::Copy ? 0 : Load32(p);
            if constexpr (R == Rop::Copy)
                d = c | 0xFF000000u;
            else if constexpr (R == Rop::Xor)
                d ^= c;
            else if constexpr (R == Rop::And)
                d &= c | 0xFF000000u;
            else
                d |= c;
            Store32(p, d);
        } else if constexpr (DB == 24) {
            uint8_t* p = drow + size_t(x) * 3;
            for (int k = 0; k < 3; ++k) {
                const uint8_t c = uint8_t(v >> (8 * k));
                if constexpr (R == Rop::Copy)
                    p[k] = c;
                else if constexpr (R == Rop::Xor)
                    p[k] ^= c;
                else if constexpr (R == Rop::And)
                    p[k] &= c;
                else
                    p[k] |= c;
            }
        } else if constexpr (DB == 16) {
            uint8_t* p = drow + size_t(x) * 2;
            const uint16_t c = uint16_t(v & 0x7FFFu);
            uint16_t d = R == Rop::Copy ? 0 : Load16(p);
            if constexpr (R == Rop::Copy)
                d = uint16_t(c | 0x8000u);
            else if constexpr (R == Rop::Xor)
                d ^= c;
            else if constexpr (R == Rop::And)
                d &= uint16_t(c | 0x8000u);
            else
                d |= c;
            Store16(p, d);
        } else if constexpr (DB == 8) {
            if constexpr (R == Rop::Copy)
                drow[x] = uint8_t(v);
            else if constexpr (R == Rop::Xor)
                drow[x] ^= uint8_t(v);
            else if constexpr (R == Rop::And)
                drow[x] &= uint8_t(v);
            else
                drow[x] |= uint8_t(v);
        } else {
            unsigned d = lt::ReadIndex(drow, x, DB);
            if constexpr (R == Rop::Copy)
                d = v;
            else if constexpr (R == Rop::Xor)
                d ^= v;
            else if constexpr (R == Rop::And)
                d &= v;
            else
                d |= v;
            lt::WriteIndex(drow, x, DB, d);
        }
    }
}

using StoreFn = void (*)(uint8_t*, int, int, const uint8_t*);

template <Rop R>
StoreFn PickStore(int db) {
    switch (db) {
        case 1: return Store<1, R>;
        case 4: return Store<4, R>;
        case 8: return Store<8, R>;
        case 16: return Store<16, R>;
        case 24: return Store<24, R>;
        default: return Store<32, R>;
    }
}

StoreFn PickStore(int db, Rop r) {
    switch (r) {
        case Rop::Copy: return PickStore<Rop::Copy>(db);
        case Rop::Xor: return PickStore<Rop::Xor>(db);
        case Rop::And: return PickStore<Rop::And>(db);
        default: return PickStore<Rop::Or>(db);
    }
}

bool RopFromCode(uint32_t code, Rop* r) {
    switch (code) {
        case SRCCOPY: *r = Rop::Copy; return true;
        case SRCINVERT: *r = Rop::Xor; return true;
        case SRCAND: *r = Rop::And; return true;
        case SRCPAINT: *r = Rop::Or; return true;
        default: return false;
    }
}

// The first destination offset d (from the destination rectangle's edge) whose sample
// floor((2d + 1) sw / 2dw) reaches source offset k. Sampling is monotone, so a run of
// source pixels maps to a run of destination pixels.
inline int64_t FirstDst(int64_t k, int64_t sw, int64_t dw) {
    return lt::CeilDiv64(2 * k * dw - sw, 2 * sw);
}

bool RectInLimits(const int64_t* v) {
    for (int i = 0; i < 4; ++i)
        if (v[i] < -lt::kDcCoordLimit || v[i] > lt::kDcCoordLimit) return false;
    return true;
}

bool SameSpans(const lt::RowSpans& a, const lt::RowSpans& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].x0 != b[i].x0 || a[i].x1 != b[i].x1) return false;
    return true;
}

L_INT Paint(HDC dc, const BITMAPHANDLE* b, const RECT* src, const RECT* srcClip, const RECT* dst,
            const RECT* dstClip, uint32_t ropCode, bool useRegion) {
    if (!dc) return ERROR_INV_PARAMETER;
    BITMAPHANDLE* t = dc->Target();
    if (!lt::IsDrawable(t) || !lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    Rop rop;
    if (!RopFromCode(ropCode, &rop)) return ERROR_INV_PARAMETER;

    const POINT org = dc->GetViewportOrg();
    const RECT S = src ? *src : lt::FullRect(b);
    const RECT Dl = dst ? *dst : lt::FullRect(b);
    // Source rectangle and destination rectangle (device coordinates).
    const int64_t sr[4] = {S.left, S.top, S.right, S.bottom};
    const int64_t dr[4] = {int64_t(Dl.left) + org.x, int64_t(Dl.top) + org.y,
                           int64_t(Dl.right) + org.x, int64_t(Dl.bottom) + org.y};
    if (!RectInLimits(sr) || !RectInLimits(dr)) return ERROR_INV_RANGE;
    const int64_t sw = sr[2] - sr[0], sh = sr[3] - sr[1], dw = dr[2] - dr[0], dh = dr[3] - dr[1];
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return SUCCESS;

    // The source pixels that may be read, and the destination pixels sampling them.
    RECT sa = IntersectRect(S, lt::FullRect(b));
    if (srcClip) sa = IntersectRect(sa, *srcClip);
    if (IsEmptyRect(sa)) return SUCCESS;
    int64_t da[4] = {dr[0] + std::max<int64_t>(0, FirstDst(sa.left - sr[0], sw, dw)),
                     dr[1] + std::max<int64_t>(0, FirstDst(sa.top - sr[1], sh, dh)),
                     dr[0] + std::min<int64_t>(dw, FirstDst(sa.right - sr[0], sw, dw)),
                     dr[1] + std::min<int64_t>(dh, FirstDst(sa.bottom - sr[1], sh, dh))};
    RECT reach = lt::DrawableBounds(dc);
    if (dstClip) {
        const int64_t c[4] = {int64_t(dstClip->left) + org.x, int64_t(dstClip->top) + org.y,
                              int64_t(dstClip->right) + org.x, int64_t(dstClip->bottom) + org.y};
        da[0] = std::max(da[0], c[0]);
        da[1] = std::max(da[1], c[1]);
        da[2] = std::min(da[2], c[2]);
        da[3] = std::min(da[3], c[3]);
    }
    da[0] = std::max<int64_t>(da[0], reach.left);
    da[1] = std::max<int64_t>(da[1], reach.top);
    da[2] = std::min<int64_t>(da[2], reach.right);
    da[3] = std::min<int64_t>(da[3], reach.bottom);
    if (da[0] >= da[2] || da[1] >= da[3]) return SUCCESS;
    const RECT area{int(da[0]), int(da[1]), int(da[2]), int(da[3])};
    const LRegion* rgn = useRegion ? b->pRgn : nullptr;
    const LRegion* clip = dc->ClipRegion();

    try {
        const int width = area.right - area.left;
        std::vector<int32_t> cols(size_t(width) + 1);
        for (int i = 0; i < width; ++i)
            cols[size_t(i)] = int32_t(
                sr[0] + lt::FloorDiv64((2 * (int64_t(area.left) + i - dr[0]) + 1) * sw, 2 * dw));

        // Conversion of source pixels to destination values.
        const int sbpp = b->BitsPerPixel, dbpp = t->BitsPerPixel;
        const DstKind dk = dbpp >= 24 ? kBGR : dbpp == 16 ? k15 : kIndex;
        Converter cv;
        std::unique_ptr<lt::NearestCache> nearest;
        if (sbpp <= 8) {
            const uint32_t mask = lt::ColorMask(dbpp);
            for (unsigned i = 0; i < (1u << sbpp); ++i) {
                if (sbpp == 1 && rop != Rop::Copy) {
                    // A mask's set pixels act with all colour bits set: SRCINVERT inverts
                    // there, SRCAND keeps, SRCPAINT whitens.
                    cv.lut[i] = i ? mask : 0;
                    continue;
                }
                const RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
                const uint32_t bgr =
                    uint32_t(q.rgbBlue) | (uint32_t(q.rgbGreen) << 8) | (uint32_t(q.rgbRed) << 16);
                if (dk == kBGR)
                    cv.lut[i] = bgr;
                else if (dk == k15)
                    cv.lut[i] = Pack15(bgr);
                else {
                    // Keep indices where both palettes agree, so equal palettes copy exactly.
                    const RGBQUAD* tp = t->pPalette;
                    if (tp && i <= mask && tp[i].rgbRed == q.rgbRed &&
                        tp[i].rgbGreen == q.rgbGreen && tp[i].rgbBlue == q.rgbBlue)
                        cv.lut[i] = i;
                    else
                        cv.lut[i] = uint32_t(lt::NearestPaletteIndex(tp, 1 << dbpp, q.rgbRed,
                                                                     q.rgbGreen, q.rgbBlue));
                }
            }
        } else if (dk == kIndex) {
            nearest = std::make_unique<lt::NearestCache>(t->pPalette, 1 << dbpp);
            cv.nearest = nearest.get();
        }

        const bool fused = dbpp == 32 && rop == Rop::Copy;
        const FetchFn fetch = PickFetch(sbpp, dk, sw == dw);
        const StoreFn store = PickStore(dbpp, rop);
        std::vector<uint32_t> buffer(fused ? 0 : size_t(width));
        uint8_t* buf = reinterpret_cast<uint8_t*>(buffer.data());
        const size_t dbytes = size_t(dbpp / 8);

        lt::RowSpans spans, prev, tmp, mapped;
        int64_t prevSy = -1;
        const uint8_t* prevRow = nullptr;
        for (int y = area.top; y < area.bottom; ++y) {
            const int64_t sy = sr[1] + lt::FloorDiv64((2 * (int64_t(y) - dr[1]) + 1) * sh, 2 * dh);
            spans.clear();
            spans.push_back(RgnSpan{y, area.left, area.right});
            if (clip) {
                auto [c, ce] = clip->Row(y);
                tmp.clear();
                lt::IntersectRows(spans.data(), spans.data() + spans.size(), c, ce, y, tmp);
                spans.swap(tmp);
            }
            if (rgn && !spans.empty()) {
                mapped.clear();
                auto [r, re] = rgn->Row(int(sy));
                for (; r != re; ++r) {
                    const int64_t x0 =
                        std::max<int64_t>(dr[0] + FirstDst(r->x0 - sr[0], sw, dw), area.left);
                    const int64_t x1 =
                        std::min<int64_t>(dr[0] + FirstDst(r->x1 - sr[0], sw, dw), area.right);
                    if (x0 < x1) mapped.push_back(RgnSpan{y, int(x0), int(x1)});
                }
                tmp.clear();
                lt::IntersectRows(spans.data(), spans.data() + spans.size(), mapped.data(),
                                  mapped.data() + mapped.size(), y, tmp);
                spans.swap(tmp);
            }
            if (spans.empty()) continue;
            uint8_t* drow = L_RowPtr(t, y);
            if (sy == prevSy && SameSpans(spans, prev)) {
                // The same samples as a row already painted.
                for (const RgnSpan& s : spans) {
                    const int n = s.x1 - s.x0;
                    if (rop == Rop::Copy && dbpp >= 8)
                        std::memcpy(drow + size_t(s.x0) * dbytes, prevRow + size_t(s.x0) * dbytes,
                                    size_t(n) * dbytes);
                    else
                        store(drow, s.x0, n, buf + size_t(s.x0 - area.left) * 4);
                }
            } else {
                const uint8_t* srow = L_RowPtr(b, int(sy));
                for (const RgnSpan& s : spans) {
                    const int n = s.x1 - s.x0;
                    const int32_t* c = cols.data() + (s.x0 - area.left);
                    if (fused) {
                        fetch(srow, c, n, drow + size_t(s.x0) * 4, 0xFF000000u, cv);
                    } else {
                        uint8_t* v = buf + size_t(s.x0 - area.left) * 4;
                        fetch(srow, c, n, v, 0, cv);
                        store(drow, s.x0, n, v);
                    }
                }
            }
            prevSy = sy;
            prev.swap(spans);
            prevRow = drow;
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}

} // namespace

L_INT L_PaintDC(HDC dc, const BITMAPHANDLE* b, const RECT* src, const RECT* srcClip,
                const RECT* dst, const RECT* dstClip, uint32_t rop) {
    return Paint(dc, b, src, srcClip, dst, dstClip, rop, false);
}

L_INT L_PaintRgnDC(HDC dc, const BITMAPHANDLE* b, const RECT* src, const RECT* srcClip,
                   const RECT* dst, const RECT* dstClip, uint32_t rop) {
    return Paint(dc, b, src, srcClip, dst, dstClip, rop, true);
}

// ---------------------------------------------------------------------------
// Marching ants.

L_INT L_FrameBitmapRgn(HDC dc, const BITMAPHANDLE* b, const RGNXFORM* pXForm, L_INT frameStyle) {
    if (!dc || !b) return ERROR_INV_PARAMETER;
    BITMAPHANDLE* t = dc->Target();
    if (!lt::IsDrawable(t)) return ERROR_NO_BITMAP;
    const RGNXFORM xf = pXForm ? *pXForm : RGNXFORM{};
    if (xf.nXScalarNum <= 0 || xf.nXScalarDen <= 0 || xf.nYScalarNum <= 0 || xf.nYScalarDen <= 0)
        return ERROR_INV_PARAMETER;
    if (!b->pRgn) return SUCCESS;
    const RECT bounds = lt::DrawableBounds(dc);
    if (IsEmptyRect(bounds)) return SUCCESS;
    const POINT org = dc->GetViewportOrg();
    const LRegion* clip = dc->ClipRegion();
    const int bpp = t->BitsPerPixel;
    const uint32_t ink[2] = {lt::ColorToValue(t, RGB(0, 0, 0)),
                             lt::ColorToValue(t, RGB(255, 255, 255))};
    try {
        // Only the visible part of the scaled region is built, with one pixel to spare all
        // round: whether a visible pixel is on the outline depends on its neighbours.
        auto c = [](int64_t v) {
            return int(std::clamp<int64_t>(v, -(int64_t(1) << 30), int64_t(1) << 30));
        };
        const RECT window{c(int64_t(bounds.left) - org.x - 1), c(int64_t(bounds.top) - org.y - 1),
                          c(int64_t(bounds.right) - org.x + 1),
                          c(int64_t(bounds.bottom) - org.y + 1)};
        LRegion r = lt::TransformRegion(*b->pRgn, xf, b->Height, &window);
        r.Offset(org.x, org.y);
        const std::vector<RgnSpan>& sp = r.spans;

        // Row by row: the outline is the row less its interior, the pixels whose left and
        // right neighbours are in the row and which are in the rows above and below.
        lt::RowSpans eroded, partial, interior, outline, visible;
        const RgnSpan* base = sp.data();
        size_t prevStart = 0, prevEnd = 0;
        for (size_t i = 0; i < sp.size();) {
            const int y = sp[i].y;
            size_t ie = i;
            while (ie < sp.size() && sp[ie].y == y) ++ie;
            size_t ne = ie;
            while (ne < sp.size() && sp[ne].y == y + 1) ++ne;
            if (y >= bounds.top && y < bounds.bottom) {
                const bool hasAbove = prevEnd > prevStart && sp[prevStart].y == y - 1;
                eroded.clear();
                for (size_t k = i; k < ie; ++k)
                    if (sp[k].x1 - sp[k].x0 > 2)
                        eroded.push_back(RgnSpan{y, sp[k].x0 + 1, sp[k].x1 - 1});
                partial.clear();
                interior.clear();
                if (hasAbove)
                    lt::IntersectRows(eroded.data(), eroded.data() + eroded.size(),
                                      base + prevStart, base + prevEnd, y, partial);
                lt::IntersectRows(partial.data(), partial.data() + partial.size(), base + ie,
                                  base + ne, y, interior);
                outline.clear();
                lt::SubtractRows(base + i, base + ie, interior.data(),
                                 interior.data() + interior.size(), y, outline);
                visible.clear();
                const RgnSpan whole{y, bounds.left, bounds.right};
                if (clip) {
                    auto [cl, ce] = clip->Row(y);
                    partial.clear();
                    lt::IntersectRows(outline.data(), outline.data() + outline.size(), cl, ce, y,
                                      partial);
                    lt::IntersectRows(partial.data(), partial.data() + partial.size(), &whole,
                                      &whole + 1, y, visible);
                } else {
                    lt::IntersectRows(outline.data(), outline.data() + outline.size(), &whole,
                                      &whole + 1, y, visible);
                }
                uint8_t* row = L_RowPtr(t, y);
                for (const RgnSpan& s : visible) {
                    // Dashes of 4 along the diagonals x + y, shifted by the frame style.
                    int64_t x = s.x0;
                    while (x < s.x1) {
                        const int64_t phase = lt::FloorDiv64(x + y + int64_t(frameStyle), 4);
                        const int64_t end =
                            std::min<int64_t>(s.x1, phase * 4 + 4 - y - int64_t(frameStyle));
                        lt::ApplySpan(bpp, row, int(x), int(end), 0, ink[phase & 1]);
                        x = end;
                    }
                }
            }
            prevStart = i;
            prevEnd = ie;
            i = ie;
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}
