// Geometry of bitmaps: resizing, rotation, shearing, mirroring and stored row order.
//
// Every operation builds the new pixels (and region) beside the old ones and swaps them in
// only at the end, so a failure, or a cancel from the status callback, leaves the bitmap as
// it was. Behaviour callers may rely on:
//  - Bitmaps of 8 bits or less are resampled in colour and each result is mapped to the
//    nearest entry of the bitmap's own palette; depth and palette stay the same.
//  - SIZE_BICUBIC uses a Catmull-Rom cubic when enlarging. Any shrink averages the covered
//    source area instead, since point-sampling filters alias when shrinking.
//  - SIZE_FAVORBLACK (without resampling) matters for 1-bit bitmaps only: a destination pixel
//    is dark when any source pixel it covers is, so thin lines survive a reduction.
//  - The four channels of 32-bit pixels are filtered independently (straight alpha).
//  - Pixels a rotation or shear leaves uncovered take crFill; at 32 bits they are also fully
//    transparent (alpha 0), so a rotated layer shows what lies beneath its corners. 16-bit
//    fill pixels are opaque.
//  - Regions follow the pixels by nearest neighbour, so they keep hard edges.
//  - Quarter turns swap XResolution and YResolution (a pixel's width becomes its height).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

#include "BitmapInternal.h"

namespace {

using lt::BGRA;

template <class F>
L_INT Guard(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

// ---------------------------------------------------------------------------
// Pixel access by depth, so that the nearest-neighbour kernels compile to plain byte moves.

template <int B>
struct BytePx {
    static void Copy(uint8_t* d, int dx, const uint8_t* s, int sx) {
        std::memcpy(d + size_t(dx) * B, s + size_t(sx) * B, B);
    }
    static void CopyRun(uint8_t* d, int dx, const uint8_t* s, int sx, int n) {
        std::memcpy(d + size_t(dx) * B, s + size_t(sx) * B, size_t(n) * B);
    }
    static void Set(uint8_t* d, int dx, const uint8_t* v) { std::memcpy(d + size_t(dx) * B, v, B); }
    static void Swap(uint8_t* row, int a, int b) {
        uint8_t t[B];
        std::memcpy(t, row + size_t(a) * B, B);
        std::memcpy(row + size_t(a) * B, row + size_t(b) * B, B);
        std::memcpy(row + size_t(b) * B, t, B);
    }
};

template <int Bits>
struct SubPx {
    static void Copy(uint8_t* d, int dx, const uint8_t* s, int sx) {
        lt::WriteIndex(d, dx, Bits, lt::ReadIndex(s, sx, Bits));
    }
    static void CopyRun(uint8_t* d, int dx, const uint8_t* s, int sx, int n) {
        for (int i = 0; i < n; ++i) Copy(d, dx + i, s, sx + i);
    }
    static void Set(uint8_t* d, int dx, const uint8_t* v) { lt::WriteIndex(d, dx, Bits, v[0]); }
    static void Swap(uint8_t* row, int a, int b) {
        unsigned va = lt::ReadIndex(row, a, Bits), vb = lt::ReadIndex(row, b, Bits);
        lt::WriteIndex(row, a, Bits, vb);
        lt::WriteIndex(row, b, Bits, va);
    }
};

template <class F>
auto WithPixelType(int bpp, F&& f) {
    switch (bpp) {
        case 1: return f(SubPx<1>{});
        case 4: return f(SubPx<4>{});
        case 8: return f(BytePx<1>{});
        case 16: return f(BytePx<2>{});
        case 24: return f(BytePx<3>{});
        default: return f(BytePx<4>{});
    }
}

template <class P>
void SetRun(uint8_t* row, int x0, int x1, const uint8_t* v) {
    for (int x = x0; x < x1; ++x) P::Set(row, x, v);
}

std::vector<const uint8_t*> RowTable(const BITMAPHANDLE* b) {
    std::vector<const uint8_t*> rows(size_t(b->Height));
    for (int y = 0; y < b->Height; ++y) rows[size_t(y)] = L_RowPtr(b, y);
    return rows;
}

// ---------------------------------------------------------------------------
// Records.

// Owns a bitmap record until released.
struct TempBitmap {
    BITMAPHANDLE bm;
    TempBitmap() = default;
    TempBitmap(const TempBitmap&) = delete;
    TempBitmap& operator=(const TempBitmap&) = delete;
    ~TempBitmap() { L_FreeBitmap(&bm); }
};

// A zeroed bitmap of another size with src's depth, palette, row order and resolution.
L_INT NewLike(const BITMAPHANDLE* src, L_INT w, L_INT h, BITMAPHANDLE* out) {
    L_InitBitmap(out, w, h, src->BitsPerPixel);
    out->Order = src->Order;
    out->ViewPerspective = src->ViewPerspective;
    out->XResolution = src->XResolution;
    out->YResolution = src->YResolution;
    L_INT rc = lt::AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    if (src->pPalette && out->pPalette)
        std::memcpy(out->pPalette, src->pPalette, sizeof(RGBQUAD) * 256);
    out->nColors = src->nColors;
    return SUCCESS;
}

// An 8-bit scratch bitmap for moving regions around (0 outside, 1 inside).
L_INT NewMask(L_INT w, L_INT h, BITMAPHANDLE* out) {
    L_InitBitmap(out, w, h, 8);
    L_INT rc = lt::AllocatePixels(out);
    if (rc != SUCCESS) L_InitBitmap(out, 0, 0, 0);
    return rc;
}

// Replaces b's pixels and region with the new ones; b's old content is freed.
void Commit(BITMAPHANDLE* b, TempBitmap& out, std::unique_ptr<LRegion> rgn) {
    BITMAPHANDLE n = out.bm;
    out.bm = BITMAPHANDLE{};
    n.pRgn = rgn.release();
    L_FreeBitmap(b);
    *b = n;
}

// ---------------------------------------------------------------------------
// Regions travel as masks through the same nearest-neighbour kernels as the pixels.

L_INT MaskFromRegion(const BITMAPHANDLE* b, BITMAPHANDLE* m) {
    L_INT rc = NewMask(b->Width, b->Height, m);
    if (rc != SUCCESS) return rc;
    for (const RgnSpan& s : b->pRgn->spans) {
        if (s.y < 0 || s.y >= b->Height) continue;
        int x0 = std::max(s.x0, 0), x1 = std::min(s.x1, b->Width);
        if (x0 < x1) std::memset(L_RowPtr(m, s.y) + x0, 1, size_t(x1 - x0));
    }
    return SUCCESS;
}

std::unique_ptr<LRegion> RegionFromMask(const BITMAPHANDLE* m) {
    auto r = std::make_unique<LRegion>();
    for (int y = 0; y < m->Height; ++y) {
        const uint8_t* row = L_RowPtr(m, y);
        int x = 0;
        while (x < m->Width) {
            while (x < m->Width && !row[x]) ++x;
            if (x == m->Width) break;
            int start = x;
            while (x < m->Width && row[x]) ++x;
            r->spans.push_back(RgnSpan{y, start, x});
        }
    }
    return r;
}

// The bitmap's region carried through `op` (a nearest-neighbour kernel from a mask of b's
// size to one of w x h). Leaves *out null when b has no region.
template <class Op>
L_INT TransformRegion(const BITMAPHANDLE* b, L_INT w, L_INT h, Op&& op,
                      std::unique_ptr<LRegion>* out) {
    if (!b->pRgn) return SUCCESS;
    TempBitmap in, moved;
    L_INT rc = MaskFromRegion(b, &in.bm);
    if (rc != SUCCESS) return rc;
    rc = NewMask(w, h, &moved.bm);
    if (rc != SUCCESS) return rc;
    op(&in.bm, &moved.bm);
    *out = RegionFromMask(&moved.bm);
    return SUCCESS;
}

// Spans of one row keep ascending x order after a mirror reversed them.
void ReverseEachRow(std::vector<RgnSpan>& spans) {
    size_t i = 0;
    while (i < spans.size()) {
        size_t j = i;
        while (j < spans.size() && spans[j].y == spans[i].y) ++j;
        std::reverse(spans.begin() + long(i), spans.begin() + long(j));
        i = j;
    }
}

// ---------------------------------------------------------------------------
// Progress through the status callback.

class Progress {
public:
    explicit Progress(int total) : total_(std::max(total, 1)) {}
    // False when the callback asked to cancel.
    bool Continue(int done) {
        int pct = int(int64_t(done) * 100 / total_);
        if (pct == last_) return true;
        last_ = pct;
        return L_ReportStatus(pct) == SUCCESS;
    }

private:
    int total_;
    int last_ = -1;
};

// ---------------------------------------------------------------------------
// Colour rows: filtering works on blue-green-red-alpha bytes whatever the stored depth.

class RowDecoder {
public:
    explicit RowDecoder(const BITMAPHANDLE* b) : b_(b) {
        if (b->BitsPerPixel <= 8) {
            for (int i = 0; i < 256; ++i) {
                RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
                lut_[i][0] = q.rgbBlue;
                lut_[i][1] = q.rgbGreen;
                lut_[i][2] = q.rgbRed;
                lut_[i][3] = 255;
            }
        }
    }
    void Decode(const uint8_t* row, uint8_t* out) const {
        const int w = b_->Width;
        switch (b_->BitsPerPixel) {
            case 32: std::memcpy(out, row, size_t(w) * 4); break;
            case 24:
                for (int x = 0; x < w; ++x) {
                    out[x * 4] = row[x * 3];
                    out[x * 4 + 1] = row[x * 3 + 1];
                    out[x * 4 + 2] = row[x * 3 + 2];
                    out[x * 4 + 3] = 255;
                }
                break;
            case 16:
                for (int x = 0; x < w; ++x) {
                    BGRA c = lt::Unpack16(uint16_t(row[x * 2] | (row[x * 2 + 1] << 8)));
                    out[x * 4] = c.b;
                    out[x * 4 + 1] = c.g;
                    out[x * 4 + 2] = c.r;
                    out[x * 4 + 3] = c.a;
                }
                break;
            case 8:
                for (int x = 0; x < w; ++x) std::memcpy(out + x * 4, lut_[row[x]], 4);
                break;
            default:
                for (int x = 0; x < w; ++x)
                    std::memcpy(out + x * 4, lut_[lt::ReadIndex(row, x, b_->BitsPerPixel)], 4);
                break;
        }
    }

private:
    const BITMAPHANDLE* b_;
    uint8_t lut_[256][4] = {};
};

class RowEncoder {
public:
    explicit RowEncoder(const BITMAPHANDLE* b) : b_(b) {
        if (b->BitsPerPixel <= 8) {
            keys_.assign(kCacheSize, 0);
            vals_.assign(kCacheSize, 0);
        }
    }
    void Encode(const uint8_t* in, uint8_t* row) {
        const int w = b_->Width;
        switch (b_->BitsPerPixel) {
            case 32: std::memcpy(row, in, size_t(w) * 4); break;
            case 24:
                for (int x = 0; x < w; ++x) {
                    row[x * 3] = in[x * 4];
                    row[x * 3 + 1] = in[x * 4 + 1];
                    row[x * 3 + 2] = in[x * 4 + 2];
                }
                break;
            case 16:
                for (int x = 0; x < w; ++x) {
                    uint16_t v =
                        lt::Pack16(BGRA{in[x * 4], in[x * 4 + 1], in[x * 4 + 2], in[x * 4 + 3]});
                    row[x * 2] = uint8_t(v);
                    row[x * 2 + 1] = uint8_t(v >> 8);
                }
                break;
            default:
                for (int x = 0; x < w; ++x)
                    lt::WriteIndex(row, x, b_->BitsPerPixel,
                                   Index(in[x * 4 + 2], in[x * 4 + 1], in[x * 4]));
                break;
        }
    }

private:
    // The palette search costs up to 256 comparisons; filtered images repeat colours a lot,
    // so remember the answers in a small direct-mapped cache.
    static constexpr size_t kCacheSize = 4096;
    unsigned Index(uint8_t r, uint8_t g, uint8_t bl) {
        uint32_t key = 0x01000000u | r | (uint32_t(g) << 8) | (uint32_t(bl) << 16);
        size_t slot = (key * 2654435761u) >> 20 & (kCacheSize - 1);
        if (keys_[slot] != key) {
            keys_[slot] = key;
            vals_[slot] =
                uint8_t(lt::NearestPaletteIndex(b_->pPalette, 1 << b_->BitsPerPixel, r, g, bl));
        }
        return vals_[slot];
    }
    const BITMAPHANDLE* b_;
    std::vector<uint32_t> keys_;
    std::vector<uint8_t> vals_;
};

// Source rows as colour bytes. 32-bit rows are used in place; other depths are decoded,
// either all at once or into a ring of `slots` rows for callers that walk downwards.
class ColorRows {
public:
    ColorRows(const BITMAPHANDLE* b, int slots) : b_(b), dec_(b) {
        const int h = b->Height;
        if (b->BitsPerPixel == 32) {
            table_ = RowTable(b);
            return;
        }
        stride_ = size_t(b->Width) * 4;
        if (slots >= h) {
            buf_.resize(stride_ * size_t(h));
            table_.resize(size_t(h));
            for (int y = 0; y < h; ++y) {
                uint8_t* out = buf_.data() + stride_ * size_t(y);
                dec_.Decode(L_RowPtr(b, y), out);
                table_[size_t(y)] = out;
            }
            return;
        }
        slots_ = std::max(slots, 1);
        buf_.resize(stride_ * size_t(slots_));
        tag_.assign(size_t(slots_), -1);
    }
    const uint8_t* Get(int y) {
        if (!slots_) return table_[size_t(y)];
        size_t s = size_t(y % slots_);
        uint8_t* out = buf_.data() + stride_ * s;
        if (tag_[s] != y) {
            dec_.Decode(L_RowPtr(b_, y), out);
            tag_[s] = y;
        }
        return out;
    }

private:
    const BITMAPHANDLE* b_;
    RowDecoder dec_;
    std::vector<const uint8_t*> table_;
    std::vector<uint8_t> buf_;
    std::vector<int> tag_;
    size_t stride_ = 0;
    int slots_ = 0;
};

// ---------------------------------------------------------------------------
// Fill colour of uncovered pixels.

struct Fill {
    uint8_t stored[4] = {}; // one pixel as stored (the palette index in [0] at 8 bits or less)
    uint8_t color[4] = {};  // the same as blue-green-red-alpha, for filtered output
};

Fill MakeFill(const BITMAPHANDLE* b, COLORREF c) {
    Fill f;
    const int bpp = b->BitsPerPixel;
    BGRA col{GetBValue(c), GetGValue(c), GetRValue(c), 255};
    if (IsPaletteIndex(c)) {
        unsigned i = c & 0xFFu;
        col = BGRA{uint8_t(i), uint8_t(i), uint8_t(i), 255}; // a gray level on true-colour bitmaps
        if (bpp <= 8) {
            i &= (1u << bpp) - 1;
            RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
            f.stored[0] = uint8_t(i);
            col = BGRA{q.rgbBlue, q.rgbGreen, q.rgbRed, 255};
        }
    } else if (bpp <= 8) {
        int i = lt::NearestPaletteIndex(b->pPalette, 1 << bpp, col.r, col.g, col.b);
        f.stored[0] = uint8_t(i);
    }
    if (bpp == 32) col.a = 0;
    f.color[0] = col.b;
    f.color[1] = col.g;
    f.color[2] = col.r;
    f.color[3] = col.a;
    if (bpp == 32 || bpp == 24) std::memcpy(f.stored, f.color, 4);
    if (bpp == 16) {
        uint16_t v = lt::Pack16(col);
        f.stored[0] = uint8_t(v);
        f.stored[1] = uint8_t(v >> 8);
    }
    return f;
}

// ---------------------------------------------------------------------------
// Nearest-neighbour resizing: destination pixel centres sample the source pixel under them.

int NearestSource(int i, int srcN, int dstN) {
    return int((int64_t(2 * i + 1) * srcN) / (2 * int64_t(dstN)));
}

L_INT SizeNearest(const BITMAPHANDLE* s, BITMAPHANDLE* d, Progress* prog) {
    std::vector<int> xmap(size_t(d->Width));
    for (int x = 0; x < d->Width; ++x) xmap[size_t(x)] = NearestSource(x, s->Width, d->Width);
    return WithPixelType(s->BitsPerPixel, [&](auto px) -> L_INT {
        using P = decltype(px);
        int prevSy = -1;
        const uint8_t* prevRow = nullptr;
        for (int y = 0; y < d->Height; ++y) {
            if (prog && !prog->Continue(y)) return ERROR_USER_ABORT;
            int sy = NearestSource(y, s->Height, d->Height);
            uint8_t* dr = L_RowPtr(d, y);
            if (sy == prevSy) {
                std::memcpy(dr, prevRow, size_t(d->BytesPerLine));
                continue;
            }
            const uint8_t* sr = L_RowPtr(s, sy);
            for (int x = 0; x < d->Width; ++x) P::Copy(dr, x, sr, xmap[size_t(x)]);
            prevSy = sy;
            prevRow = dr;
        }
        return SUCCESS;
    });
}

// 1-bit reduction that keeps dark pixels: every destination pixel covers a box of source
// pixels and becomes the darker palette entry when any pixel of the box has it.
L_INT SizeFavorBlack(const BITMAPHANDLE* s, BITMAPHANDLE* d, Progress* prog) {
    auto lum = [&](int i) {
        const RGBQUAD& q = s->pPalette[i];
        return q.rgbRed * 77 + q.rgbGreen * 150 + q.rgbBlue * 29;
    };
    const unsigned dark = lum(1) < lum(0) ? 1u : 0u;
    auto box = [](int i, int srcN, int dstN, int* lo, int* hi) {
        *lo = int(int64_t(i) * srcN / dstN);
        *hi = std::max(*lo + 1, int((int64_t(i + 1) * srcN + dstN - 1) / dstN));
    };
    std::vector<int> xlo(size_t(d->Width)), xhi(size_t(d->Width));
    for (int x = 0; x < d->Width; ++x) box(x, s->Width, d->Width, &xlo[size_t(x)], &xhi[size_t(x)]);
    std::vector<uint8_t> any(size_t(s->Width));
    std::vector<int> prefix(size_t(s->Width) + 1);
    for (int y = 0; y < d->Height; ++y) {
        if (prog && !prog->Continue(y)) return ERROR_USER_ABORT;
        int y0, y1;
        box(y, s->Height, d->Height, &y0, &y1);
        std::fill(any.begin(), any.end(), 0);
        for (int sy = y0; sy < y1; ++sy) {
            const uint8_t* sr = L_RowPtr(s, sy);
            for (int x = 0; x < s->Width; ++x)
                any[size_t(x)] |= uint8_t(lt::ReadIndex(sr, x, 1) == dark);
        }
        for (int x = 0; x < s->Width; ++x)
            prefix[size_t(x) + 1] = prefix[size_t(x)] + any[size_t(x)];
        uint8_t* dr = L_RowPtr(d, y);
        for (int x = 0; x < d->Width; ++x) {
            bool isDark = prefix[size_t(xhi[size_t(x)])] > prefix[size_t(xlo[size_t(x)])];
            lt::WriteIndex(dr, x, 1, isDark ? dark : 1u - dark);
        }
    }
    return SUCCESS;
}

// ---------------------------------------------------------------------------
// Filtered resizing, separable: each destination row is a weighted sum of source rows
// (vertical pass), then each destination pixel a weighted sum of that row's pixels.

struct Taps {
    std::vector<int> start; // per destination index, its first entry in idx/w; one extra at the end
    std::vector<int> idx;
    std::vector<float> w;
    int maxCount = 0;
};

enum class Interp { Linear, Cubic };

double CatmullRom(double x) {
    x = std::fabs(x);
    if (x < 1) return (1.5 * x - 2.5) * x * x + 1;
    if (x < 2) return ((-0.5 * x + 2.5) * x - 4) * x + 2;
    return 0;
}

// Weights along one axis. Shrinking averages the source interval each destination pixel
// covers (partial pixels by their covered fraction); enlarging interpolates around the
// point under the destination pixel's centre.
Taps MakeTaps(int srcN, int dstN, Interp interp) {
    Taps t;
    t.start.reserve(size_t(dstN) + 1);
    std::vector<int> ii;
    std::vector<double> ww;
    for (int i = 0; i < dstN; ++i) {
        ii.clear();
        ww.clear();
        if (dstN < srcN) {
            const double scale = double(srcN) / dstN, lo = i * scale, hi = (i + 1) * scale;
            const int j0 = int(std::floor(lo)), j1 = std::min(srcN, int(std::ceil(hi)));
            for (int j = j0; j < j1; ++j) {
                double cover = std::min(hi, j + 1.0) - std::max(lo, double(j));
                if (cover > 1e-9) {
                    ii.push_back(j);
                    ww.push_back(cover);
                }
            }
        } else {
            double c = std::clamp((i + 0.5) * srcN / dstN - 0.5, 0.0, double(srcN - 1));
            const int j = int(std::floor(c));
            const double f = c - j;
            if (f == 0) {
                ii.push_back(j);
                ww.push_back(1);
            } else if (interp == Interp::Linear) {
                ii.push_back(j);
                ww.push_back(1 - f);
                ii.push_back(std::min(j + 1, srcN - 1));
                ww.push_back(f);
            } else {
                for (int k = -1; k <= 2; ++k) {
                    ii.push_back(std::clamp(j + k, 0, srcN - 1));
                    ww.push_back(CatmullRom(k - f));
                }
            }
        }
        double sum = 0;
        for (double v : ww) sum += v;
        t.start.push_back(int(t.idx.size()));
        for (size_t k = 0; k < ii.size(); ++k) {
            t.idx.push_back(ii[k]);
            t.w.push_back(float(ww[k] / sum));
        }
        t.maxCount = std::max(t.maxCount, int(ii.size()));
    }
    t.start.push_back(int(t.idx.size()));
    return t;
}

// One pixel's four channels at once; the compilers map this onto a SIMD register.
using F4 = float __attribute__((vector_size(16)));

inline F4 Load4(const float* p) {
    F4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Rounds and clamps channel sums into bytes (filters with negative lobes overshoot).
// A plain loop over a whole row, so that it vectorises.
void StoreRow(const float* in, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        float v = in[i] + 0.5f;
        v = v < 0.0f ? 0.0f : v;
        v = v > 255.0f ? 255.0f : v;
        out[i] = uint8_t(int(v));
    }
}

// Filters a row of pixels (four floats each) horizontally into dst.
void FilterRow(const Taps& t, int width, const float* row, float* dst) {
    for (int x = 0; x < width; ++x) {
        F4 sum = {0, 0, 0, 0};
        for (int k = t.start[size_t(x)]; k < t.start[size_t(x) + 1]; ++k)
            sum += t.w[size_t(k)] * Load4(row + size_t(t.idx[size_t(k)]) * 4);
        std::memcpy(dst + size_t(x) * 4, &sum, sizeof sum);
    }
}

// acc = sum of weight * row over the vertical taps of destination row y; rows(i) gives
// source row i as n channel values.
template <class Rows>
void FilterColumn(const Taps& ty, int y, size_t n, Rows&& rows, float* acc) {
    const int a = ty.start[size_t(y)], e = ty.start[size_t(y) + 1];
    {
        const auto* r = rows(ty.idx[size_t(a)]);
        const float w = ty.w[size_t(a)];
        for (size_t i = 0; i < n; ++i) acc[i] = w * float(r[i]);
    }
    for (int k = a + 1; k < e; ++k) {
        const auto* r = rows(ty.idx[size_t(k)]);
        const float w = ty.w[size_t(k)];
        for (size_t i = 0; i < n; ++i) acc[i] += w * float(r[i]);
    }
}

// The pass that reduces the data runs first: when the height shrinks (or stays), source
// rows are combined vertically and the result filtered across; when it grows, every
// source row is filtered across once and kept while the destination rows that need it
// are combined from it.
L_INT SizeFiltered(const BITMAPHANDLE* s, BITMAPHANDLE* d, Interp interp, Progress* prog) {
    const Taps tx = MakeTaps(s->Width, d->Width, interp);
    const Taps ty = MakeTaps(s->Height, d->Height, interp);
    const bool acrossFirst = d->Height > s->Height;
    const int slots = ty.maxCount + 1;
    ColorRows rows(s, acrossFirst ? 1 : slots);
    RowEncoder enc(d);
    const size_t sn = size_t(s->Width) * 4, dn = size_t(d->Width) * 4;
    std::vector<float> accBuf(sn), outFloat(dn);
    std::vector<float> ring(acrossFirst ? dn * size_t(slots) : 0);
    std::vector<int> tag(size_t(slots), -1);
    std::vector<uint8_t> outBuf(d->BitsPerPixel == 32 ? 0 : dn);
    float* acc = accBuf.data();
    float* outF = outFloat.data();
    auto across = [&](int sy) -> const float* {
        const size_t slot = size_t(sy % slots);
        float* r = ring.data() + dn * slot;
        if (tag[slot] != sy) {
            const uint8_t* src = rows.Get(sy);
            for (size_t i = 0; i < sn; ++i) acc[i] = float(src[i]);
            FilterRow(tx, d->Width, acc, r);
            tag[slot] = sy;
        }
        return r;
    };
    for (int y = 0; y < d->Height; ++y) {
        if (prog && !prog->Continue(y)) return ERROR_USER_ABORT;
        if (acrossFirst) {
            FilterColumn(ty, y, dn, across, outF);
        } else {
            FilterColumn(
                ty, y, sn, [&](int sy) { return rows.Get(sy); }, acc);
            FilterRow(tx, d->Width, acc, outF);
        }
        uint8_t* out = d->BitsPerPixel == 32 ? L_RowPtr(d, y) : outBuf.data();
        StoreRow(outF, out, dn);
        if (d->BitsPerPixel != 32) enc.Encode(out, L_RowPtr(d, y));
    }
    return SUCCESS;
}

// ---------------------------------------------------------------------------
// Rotation: each destination pixel centre is carried back into the source. Coordinates
// are 32.32 fixed point stepped along a row; for quarter turns every value involved is a
// multiple of one half, so those rotations are exact pixel moves.

constexpr int64_t kOne = int64_t(1) << 32;

int64_t ToFixed(double v) { return std::llround(v * 4294967296.0); }

int64_t FloorDiv(int64_t a, int64_t b) { // b > 0
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// Narrows [*x0, *x1) to the columns x where floor(u0 + x * du) lies in [lo, hi].
void Clip(int64_t u0, int64_t du, int64_t lo, int64_t hi, int* x0, int* x1) {
    int64_t first = 0, last = 0;
    if (hi >= lo) {
        const int64_t a = lo * kOne, b = (hi + 1) * kOne; // want a <= u < b
        if (du == 0) {
            first = 0;
            last = (u0 >= a && u0 < b) ? INT32_MAX : 0;
        } else if (du > 0) {
            first = CeilDiv(a - u0, du);
            last = CeilDiv(b - u0, du);
        } else {
            first = FloorDiv(u0 - b, -du) + 1;
            last = FloorDiv(u0 - a, -du) + 1;
        }
    }
    // The result stays inside the old range even when empty, so callers can fill around it.
    const int64_t lo0 = *x0, hi0 = *x1;
    *x0 = int(std::clamp<int64_t>(first, lo0, hi0));
    *x1 = int(std::clamp<int64_t>(last, *x0, hi0));
}

// Destination pixel (x, y) samples the source at (U(y) + x * du, V(y) + x * dv), where
// pixel i covers [i, i + 1). Positive angles turn the image clockwise on screen.
struct Rotation {
    double c, s;               // cosine and sine of the angle
    double scx, scy, dcx, dcy; // source and destination centres
    int64_t du, dv;

    Rotation(double cosA, double sinA, const BITMAPHANDLE* src, int dstW, int dstH)
        : c(cosA),
          s(sinA),
          scx(src->Width / 2.0),
          scy(src->Height / 2.0),
          dcx(dstW / 2.0),
          dcy(dstH / 2.0),
          du(ToFixed(cosA)),
          dv(ToFixed(-sinA)) {}
    int64_t U(int y) const { return ToFixed(scx + c * (0.5 - dcx) + s * (y + 0.5 - dcy)); }
    int64_t V(int y) const { return ToFixed(scy - s * (0.5 - dcx) + c * (y + 0.5 - dcy)); }
};

// Rotations read the source along slanted lines, across many rows at once. Working in
// bands of destination rows and, within a band, in short runs of columns keeps the source
// lines one run touches in the cache for the band's next rows (a quarter turn of a large
// bitmap is several times faster this way).
constexpr int kBand = 16, kRun = 128;

template <class Row>
L_INT ForEachBand(int height, Progress* prog, Row&& row) {
    for (int y0 = 0; y0 < height; y0 += kBand) {
        if (prog && !prog->Continue(y0)) return ERROR_USER_ABORT;
        row(y0, std::min(height, y0 + kBand));
    }
    return SUCCESS;
}

L_INT RotateNearest(const BITMAPHANDLE* s, BITMAPHANDLE* d, const Rotation& m, const uint8_t* fill,
                    Progress* prog) {
    const std::vector<const uint8_t*> rows = RowTable(s);
    return WithPixelType(s->BitsPerPixel, [&](auto px) -> L_INT {
        using P = decltype(px);
        return ForEachBand(d->Height, prog, [&](int y0, int y1) {
            int64_t u[kBand], v[kBand];
            int x0[kBand], x1[kBand];
            for (int y = y0; y < y1; ++y) {
                const int i = y - y0;
                u[i] = m.U(y);
                v[i] = m.V(y);
                x0[i] = 0;
                x1[i] = d->Width;
                Clip(u[i], m.du, 0, s->Width - 1, &x0[i], &x1[i]);
                Clip(v[i], m.dv, 0, s->Height - 1, &x0[i], &x1[i]);
                uint8_t* dr = L_RowPtr(d, y);
                SetRun<P>(dr, 0, x0[i], fill);
                SetRun<P>(dr, x1[i], d->Width, fill);
            }
            for (int xa = 0; xa < d->Width; xa += kRun) {
                const int xb = std::min(d->Width, xa + kRun);
                for (int y = y0; y < y1; ++y) {
                    const int i = y - y0, from = std::max(xa, x0[i]), to = std::min(xb, x1[i]);
                    uint8_t* dr = L_RowPtr(d, y);
                    int64_t uu = u[i] + from * m.du, vv = v[i] + from * m.dv;
                    for (int x = from; x < to; ++x, uu += m.du, vv += m.dv)
                        P::Copy(dr, x, rows[size_t(vv >> 32)], int(uu >> 32));
                }
            }
        });
    });
}

inline void Bilinear(uint8_t* out, const uint8_t* p00, const uint8_t* p01, const uint8_t* p10,
                     const uint8_t* p11, unsigned fx, unsigned fy) {
    const unsigned w00 = (256 - fx) * (256 - fy), w01 = fx * (256 - fy), w10 = (256 - fx) * fy,
                   w11 = fx * fy;
    for (int c = 0; c < 4; ++c)
        out[c] =
            uint8_t((p00[c] * w00 + p01[c] * w01 + p10[c] * w10 + p11[c] * w11 + 32768u) >> 16);
}

// Bilinear rotation. Samples outside the source count as the fill colour, so the edges of
// the rotated image blend smoothly into the fill (and, at 32 bits, into transparency).
L_INT RotateBilinear(const BITMAPHANDLE* s, BITMAPHANDLE* d, const Rotation& m, const uint8_t* fill,
                     Progress* prog) {
    ColorRows rows(s, s->Height);
    RowEncoder enc(d);
    const bool direct = d->BitsPerPixel == 32;
    std::vector<uint8_t> outBuf(direct ? 0 : size_t(d->Width) * 4 * kBand);
    const int sw = s->Width, sh = s->Height;
    auto tap = [&](int ix, int iy) -> const uint8_t* {
        return (ix >= 0 && ix < sw && iy >= 0 && iy < sh) ? rows.Get(iy) + size_t(ix) * 4 : fill;
    };
    return ForEachBand(d->Height, prog, [&](int y0, int y1) {
        // Per row: sample positions relative to source pixel centres; [o0, o1) has any of
        // the four taps inside the source, [i0, i1) all four.
        int64_t u[kBand], v[kBand];
        int o0[kBand], o1[kBand], i0[kBand], i1[kBand];
        uint8_t* out[kBand];
        for (int y = y0; y < y1; ++y) {
            const int i = y - y0;
            u[i] = m.U(y) - kOne / 2;
            v[i] = m.V(y) - kOne / 2;
            o0[i] = 0;
            o1[i] = d->Width;
            Clip(u[i], m.du, -1, sw - 1, &o0[i], &o1[i]);
            Clip(v[i], m.dv, -1, sh - 1, &o0[i], &o1[i]);
            i0[i] = o0[i];
            i1[i] = o1[i];
            Clip(u[i], m.du, 0, sw - 2, &i0[i], &i1[i]);
            Clip(v[i], m.dv, 0, sh - 2, &i0[i], &i1[i]);
            if (i0[i] >= i1[i]) i0[i] = i1[i] = o0[i];
            out[i] = direct ? L_RowPtr(d, y) : outBuf.data() + size_t(i) * size_t(d->Width) * 4;
            for (int x = 0; x < o0[i]; ++x) std::memcpy(out[i] + x * 4, fill, 4);
            for (int x = o1[i]; x < d->Width; ++x) std::memcpy(out[i] + x * 4, fill, 4);
        }
        for (int xa = 0; xa < d->Width; xa += kRun) {
            const int xb = std::min(d->Width, xa + kRun);
            for (int y = y0; y < y1; ++y) {
                const int i = y - y0;
                auto edge = [&](int from, int to) {
                    from = std::max(from, xa);
                    to = std::min(to, xb);
                    int64_t uu = u[i] + from * m.du, vv = v[i] + from * m.dv;
                    for (int x = from; x < to; ++x, uu += m.du, vv += m.dv) {
                        const int ix = int(uu >> 32), iy = int(vv >> 32);
                        Bilinear(out[i] + x * 4, tap(ix, iy), tap(ix + 1, iy), tap(ix, iy + 1),
                                 tap(ix + 1, iy + 1), unsigned(uu >> 24) & 255u,
                                 unsigned(vv >> 24) & 255u);
                    }
                };
                edge(o0[i], i0[i]);
                const int from = std::max(xa, i0[i]), to = std::min(xb, i1[i]);
                int64_t uu = u[i] + from * m.du, vv = v[i] + from * m.dv;
                for (int x = from; x < to; ++x, uu += m.du, vv += m.dv) {
                    const int ix = int(uu >> 32), iy = int(vv >> 32);
                    const uint8_t* r0 = rows.Get(iy) + size_t(ix) * 4;
                    const uint8_t* r1 = rows.Get(iy + 1) + size_t(ix) * 4;
                    Bilinear(out[i] + x * 4, r0, r0 + 4, r1, r1 + 4, unsigned(uu >> 24) & 255u,
                             unsigned(vv >> 24) & 255u);
                }
                edge(i1[i], o1[i]);
            }
        }
        if (!direct)
            for (int y = y0; y < y1; ++y) enc.Encode(out[y - y0], L_RowPtr(d, y));
    });
}

// ---------------------------------------------------------------------------
// Shearing moves whole rows (or columns) by whole pixels.

L_INT ShearRows(const BITMAPHANDLE* s, BITMAPHANDLE* d, const std::vector<int>& shift,
                const uint8_t* fill, Progress* prog) {
    return WithPixelType(s->BitsPerPixel, [&](auto px) -> L_INT {
        using P = decltype(px);
        for (int y = 0; y < d->Height; ++y) {
            if (prog && !prog->Continue(y)) return ERROR_USER_ABORT;
            uint8_t* dr = L_RowPtr(d, y);
            const int x0 = shift[size_t(y)];
            SetRun<P>(dr, 0, x0, fill);
            P::CopyRun(dr, x0, L_RowPtr(s, y), 0, s->Width);
            SetRun<P>(dr, x0 + s->Width, d->Width, fill);
        }
        return SUCCESS;
    });
}

L_INT ShearColumns(const BITMAPHANDLE* s, BITMAPHANDLE* d, const std::vector<int>& shift,
                   const uint8_t* fill, Progress* prog) {
    const std::vector<const uint8_t*> rows = RowTable(s);
    return WithPixelType(s->BitsPerPixel, [&](auto px) -> L_INT {
        using P = decltype(px);
        for (int y = 0; y < d->Height; ++y) {
            if (prog && !prog->Continue(y)) return ERROR_USER_ABORT;
            uint8_t* dr = L_RowPtr(d, y);
            for (int x = 0; x < d->Width; ++x) {
                const int sy = y - shift[size_t(x)];
                if (sy >= 0 && sy < s->Height)
                    P::Copy(dr, x, rows[size_t(sy)], x);
                else
                    P::Set(dr, x, fill);
            }
        }
        return SUCCESS;
    });
}

} // namespace

// ---------------------------------------------------------------------------

L_INT L_SizeBitmap(pBITMAPHANDLE b, L_INT width, L_INT height, L_UINT uFlags) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    L_INT rc = L_CheckImageSize(width, height, b->BitsPerPixel, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    return Guard([&]() -> L_INT {
        std::unique_ptr<LRegion> rgn;
        L_INT r = TransformRegion(
            b, width, height,
            [](const BITMAPHANDLE* s, BITMAPHANDLE* d) { SizeNearest(s, d, nullptr); }, &rgn);
        if (r != SUCCESS) return r;
        TempBitmap out;
        r = NewLike(b, width, height, &out.bm);
        if (r != SUCCESS) return r;
        Progress prog(height);
        if (uFlags & (SIZE_RESAMPLE | SIZE_BICUBIC))
            r = SizeFiltered(b, &out.bm, (uFlags & SIZE_BICUBIC) ? Interp::Cubic : Interp::Linear,
                             &prog);
        else if ((uFlags & SIZE_FAVORBLACK) && b->BitsPerPixel == 1)
            r = SizeFavorBlack(b, &out.bm, &prog);
        else
            r = SizeNearest(b, &out.bm, &prog);
        if (r != SUCCESS) return r;
        if (!prog.Continue(height)) return ERROR_USER_ABORT;
        Commit(b, out, std::move(rgn));
        return SUCCESS;
    });
}

L_INT L_ResampleBitmap(pBITMAPHANDLE b, L_INT width, L_INT height) {
    return L_SizeBitmap(b, width, height, SIZE_RESAMPLE);
}

L_INT L_RotateBitmap(pBITMAPHANDLE b, L_INT nAngle, L_UINT uFlags, COLORREF crFill) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    const int angle = ((nAngle % 36000) + 36000) % 36000;
    if (angle == 0) return SUCCESS;
    const bool quarter = angle % 9000 == 0;
    const int turns = angle / 9000;
    double c, s;
    L_INT w = b->Width, h = b->Height;
    if (quarter) {
        // Exact values, not cos/sin of the angle: quarter turns must move pixels exactly.
        static const int kCos[4] = {1, 0, -1, 0}, kSin[4] = {0, 1, 0, -1};
        c = kCos[turns];
        s = kSin[turns];
        if ((uFlags & ROTATE_RESIZE) && (turns & 1)) std::swap(w, h);
    } else {
        const double rad = angle * std::numbers::pi / 18000.0;
        c = std::cos(rad);
        s = std::sin(rad);
        if (uFlags & ROTATE_RESIZE) {
            // The bounding box of the turned rectangle; the small tolerance keeps a box that
            // is whole up to rounding from gaining a column of fill.
            const double bw = b->Width * std::fabs(c) + b->Height * std::fabs(s);
            const double bh = b->Width * std::fabs(s) + b->Height * std::fabs(c);
            if (bw >= double(INT32_MAX) || bh >= double(INT32_MAX)) return ERROR_INV_RANGE;
            w = L_INT(std::max(1.0, std::ceil(bw - 1e-6)));
            h = L_INT(std::max(1.0, std::ceil(bh - 1e-6)));
        }
    }
    L_INT rc = L_CheckImageSize(w, h, b->BitsPerPixel, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    return Guard([&]() -> L_INT {
        const Rotation m(c, s, b, w, h);
        std::unique_ptr<LRegion> rgn;
        const uint8_t outside[4] = {0, 0, 0, 0};
        L_INT r = TransformRegion(
            b, w, h,
            [&](const BITMAPHANDLE* src, BITMAPHANDLE* dst) {
                RotateNearest(src, dst, m, outside, nullptr);
            },
            &rgn);
        if (r != SUCCESS) return r;
        TempBitmap out;
        r = NewLike(b, w, h, &out.bm);
        if (r != SUCCESS) return r;
        const Fill fill = MakeFill(b, crFill);
        Progress prog(h);
        if (!quarter && (uFlags & ROTATE_RESAMPLE))
            r = RotateBilinear(b, &out.bm, m, fill.color, &prog);
        else
            r = RotateNearest(b, &out.bm, m, fill.stored, &prog);
        if (r != SUCCESS) return r;
        if (!prog.Continue(h)) return ERROR_USER_ABORT;
        if (quarter && (turns & 1)) std::swap(out.bm.XResolution, out.bm.YResolution);
        Commit(b, out, std::move(rgn));
        return SUCCESS;
    });
}

L_INT L_ShearBitmap(pBITMAPHANDLE b, L_INT nAngle, bool fHorizontal, COLORREF crFill) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (nAngle < -4500 || nAngle > 4500) return ERROR_INV_PARAMETER;
    // Positive angles push later rows right (horizontal) or later columns down (vertical),
    // by the tangent times the distance of the line's centre from the first line.
    const double t = std::tan(nAngle * std::numbers::pi / 18000.0);
    const int lines = fHorizontal ? b->Height : b->Width;
    const int grow = std::max(0, int(std::ceil(lines * std::fabs(t) - 1e-7)));
    const L_INT w = b->Width + (fHorizontal ? grow : 0), h = b->Height + (fHorizontal ? 0 : grow);
    L_INT rc = L_CheckImageSize(w, h, b->BitsPerPixel, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    return Guard([&]() -> L_INT {
        std::vector<int> shift(static_cast<size_t>(lines));
        for (int i = 0; i < lines; ++i) {
            int v = int(std::floor((i + 0.5) * t)) + (t < 0 ? grow : 0);
            shift[size_t(i)] = std::clamp(v, 0, grow);
        }
        std::unique_ptr<LRegion> rgn;
        if (b->pRgn && fHorizontal) {
            rgn = std::make_unique<LRegion>();
            for (const RgnSpan& sp : b->pRgn->spans) {
                if (sp.y < 0 || sp.y >= b->Height) continue;
                const int dx = shift[size_t(sp.y)];
                rgn->spans.push_back(RgnSpan{sp.y, sp.x0 + dx, sp.x1 + dx});
            }
        } else if (b->pRgn) {
            const uint8_t outside[4] = {0, 0, 0, 0};
            L_INT r = TransformRegion(
                b, w, h,
                [&](const BITMAPHANDLE* src, BITMAPHANDLE* dst) {
                    ShearColumns(src, dst, shift, outside, nullptr);
                },
                &rgn);
            if (r != SUCCESS) return r;
        }
        TempBitmap out;
        L_INT r = NewLike(b, w, h, &out.bm);
        if (r != SUCCESS) return r;
        const Fill fill = MakeFill(b, crFill);
        Progress prog(h);
        r = fHorizontal ? ShearRows(b, &out.bm, shift, fill.stored, &prog)
                        : ShearColumns(b, &out.bm, shift, fill.stored, &prog);
        if (r != SUCCESS) return r;
        if (!prog.Continue(h)) return ERROR_USER_ABORT;
        Commit(b, out, std::move(rgn));
        return SUCCESS;
    });
}

L_INT L_FlipBitmap(pBITMAPHANDLE b) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    std::unique_ptr<uint8_t[]> tmp(new (std::nothrow) uint8_t[size_t(b->BytesPerLine)]);
    if (!tmp) return ERROR_NO_MEMORY;
    const size_t bpl = size_t(b->BytesPerLine);
    for (int y = 0; y < b->Height / 2; ++y) {
        uint8_t* top = L_RowPtr(b, y);
        uint8_t* bottom = L_RowPtr(b, b->Height - 1 - y);
        std::memcpy(tmp.get(), top, bpl);
        std::memcpy(top, bottom, bpl);
        std::memcpy(bottom, tmp.get(), bpl);
    }
    if (b->pRgn) {
        std::vector<RgnSpan>& spans = b->pRgn->spans;
        for (RgnSpan& s : spans) s.y = b->Height - 1 - s.y;
        std::reverse(spans.begin(), spans.end());
        ReverseEachRow(spans);
    }
    return SUCCESS;
}

L_INT L_ReverseBitmap(pBITMAPHANDLE b) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    WithPixelType(b->BitsPerPixel, [&](auto px) {
        using P = decltype(px);
        for (int y = 0; y < b->Height; ++y) {
            uint8_t* row = L_RowPtr(b, y);
            for (int l = 0, r = b->Width - 1; l < r; ++l, --r) P::Swap(row, l, r);
        }
    });
    if (b->pRgn) {
        for (RgnSpan& s : b->pRgn->spans) {
            const int x0 = s.x0;
            s.x0 = b->Width - s.x1;
            s.x1 = b->Width - x0;
        }
        ReverseEachRow(b->pRgn->spans);
    }
    return SUCCESS;
}

L_INT L_ChangeBitmapViewPerspective(pBITMAPHANDLE dst, pBITMAPHANDLE src, L_INT nViewPerspective) {
    if (!lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    const L_INT vp = nViewPerspective == 0 ? TOP_LEFT : nViewPerspective;
    if (vp != TOP_LEFT && vp != BOTTOM_LEFT) return ERROR_INV_PARAMETER;
    if (!dst || dst == src) {
        if (src->ViewPerspective == vp) return SUCCESS;
        // Only the storage order changes; the image seen through L_RowPtr stays the same.
        std::unique_ptr<uint8_t[]> tmp(new (std::nothrow) uint8_t[size_t(src->BytesPerLine)]);
        if (!tmp) return ERROR_NO_MEMORY;
        const size_t bpl = size_t(src->BytesPerLine);
        for (int i = 0; i < src->Height / 2; ++i) {
            uint8_t* a = src->Addr + size_t(i) * bpl;
            uint8_t* z = src->Addr + size_t(src->Height - 1 - i) * bpl;
            std::memcpy(tmp.get(), a, bpl);
            std::memcpy(a, z, bpl);
            std::memcpy(z, tmp.get(), bpl);
        }
        src->ViewPerspective = vp;
        return SUCCESS;
    }
    return Guard([&]() -> L_INT {
        TempBitmap out;
        L_INT r = NewLike(src, src->Width, src->Height, &out.bm);
        if (r != SUCCESS) return r;
        out.bm.ViewPerspective = vp;
        for (int y = 0; y < src->Height; ++y)
            std::memcpy(L_RowPtr(&out.bm, y), L_RowPtr(src, y), size_t(src->BytesPerLine));
        std::unique_ptr<LRegion> rgn;
        if (src->pRgn) rgn = std::make_unique<LRegion>(*src->pRgn);
        BITMAPHANDLE n = out.bm;
        out.bm = BITMAPHANDLE{};
        n.pRgn = rgn.release();
        *dst = n; // dst's old content is ignored, as with L_CopyBitmap
        return SUCCESS;
    });
}
