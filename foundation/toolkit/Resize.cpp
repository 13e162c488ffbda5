// Geometry of bitmaps: resizing here; rotation, shearing, mirroring and stored row order in
// Rotate.cpp, Shear.cpp and Flip.cpp.
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
#include <numbers>
#include <vector>

#include "GeometryInternal.h"

using namespace lt::geom;

namespace {

using lt::BGRA;

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
        TOwnedBitmap out;
        r = NewLike(b, width, height, out.get());
        if (r != SUCCESS) return r;
        Progress prog(height);
        if (uFlags & (SIZE_RESAMPLE | SIZE_BICUBIC))
            r = SizeFiltered(b, out.get(), (uFlags & SIZE_BICUBIC) ? Interp::Cubic : Interp::Linear,
                             &prog);
        else if ((uFlags & SIZE_FAVORBLACK) && b->BitsPerPixel == 1)
            r = SizeFavorBlack(b, out.get(), &prog);
        else
            r = SizeNearest(b, out.get(), &prog);
        if (r != SUCCESS) return r;
        if (!prog.Continue(height)) return ERROR_USER_ABORT;
        Commit(b, out, std::move(rgn));
        return SUCCESS;
    });
}

L_INT L_ResampleBitmap(pBITMAPHANDLE b, L_INT width, L_INT height) {
    return L_SizeBitmap(b, width, height, SIZE_RESAMPLE);
}
