// Neighbourhood filters that weigh the pixels of a window: the box average, sharpen and
// blur, the predefined 3 x 3 spatial filters and emboss.
//
// Each row is computed from padded copies of its source rows (TRowWindow: the edge pixels
// replicated), in two passes where the kernel allows it: a vertical sum per byte, then a
// horizontal one. Working bytes are interleaved, so a pass over a row is one plain loop
// over bytes with a stride of one pixel; at 32 bits the alpha byte is computed along and
// dropped when the row is stored.
#include <climits>
#include <cmath>

#include "ProcessingInternal.h"

using namespace lt::proc;

namespace {

// Division by d, rounded, through a multiply and a shift that are exact for every sum
// below `limit` (checked once, so the loops need no division).
struct TRoundedDivide {
    uint32_t add = 0, mul = 1;
    int shift = 0;
    bool ok = false;
    TRoundedDivide(uint32_t d, uint32_t limit) {
        add = d / 2;
        const uint64_t top = uint64_t(limit) + add;
        for (int s = 0; s < 32 && !ok; ++s) {
            const uint64_t m = ((uint64_t(1) << s) + d - 1) / d;
            if (top * m >= (uint64_t(1) << 32)) break;
            bool exact = true;
            for (uint64_t x = 0; x <= top && exact; ++x) exact = ((x * m) >> s) == x / d;
            if (exact) mul = uint32_t(m), shift = s, ok = true;
        }
    }
};

// Box average of a small window: vertical sums of the window's rows, then horizontal
// sums of those, divided. n x n <= 49, so the sums fit 16 bits.
QUILLO_ROW_KERNEL void SumRows(const uint8_t* const* rows, int n, uint16_t* out, size_t len) {
    if (n == 3) { // one pass for the common sizes
        const uint8_t *a = rows[0], *b = rows[1], *c = rows[2];
        for (size_t i = 0; i < len; ++i) out[i] = uint16_t(a[i] + b[i] + c[i]);
        return;
    }
    if (n == 5) {
        const uint8_t *a = rows[0], *b = rows[1], *c = rows[2], *d = rows[3], *e = rows[4];
        for (size_t i = 0; i < len; ++i) out[i] = uint16_t(a[i] + b[i] + c[i] + d[i] + e[i]);
        return;
    }
    for (size_t i = 0; i < len; ++i) out[i] = rows[0][i];
    for (int k = 1; k < n; ++k) {
        const uint8_t* r = rows[k];
        for (size_t i = 0; i < len; ++i) out[i] = uint16_t(out[i] + r[i]);
    }
}

QUILLO_ROW_KERNEL void BoxRow(const uint16_t* v, int lo, int hi, int c, TRoundedDivide div,
                              uint8_t* out, size_t len) {
    // 3 x 3 and 5 x 5: the divisor is a constant, so the division compiles to a 16-bit
    // multiply-high and a shift per lane (the sums plus half the divisor stay below 2^16).
    if (hi - lo == 2 && lo == -1) {
        const size_t c1 = size_t(c);
        for (size_t i = 0; i < len; ++i)
            out[i] = uint8_t(uint16_t(v[i - c1] + v[i] + v[i + c1] + 4) / uint16_t(9));
        return;
    }
    if (hi - lo == 4 && lo == -2) {
        const size_t c1 = size_t(c), c2 = 2 * size_t(c);
        for (size_t i = 0; i < len; ++i)
            out[i] = uint8_t(uint16_t(v[i - c2] + v[i - c1] + v[i] + v[i + c1] + v[i + c2] + 12) /
                             uint16_t(25));
        return;
    }
    for (size_t i = 0; i < len; ++i) {
        uint32_t s = 0;
        for (int k = lo; k <= hi; ++k) s += v[ptrdiff_t(i) + ptrdiff_t(k) * c];
        out[i] = uint8_t(((s + div.add) * div.mul) >> div.shift);
    }
}

// Working bytes of a row per pass of the small box (a multiple of every channel count is
// not needed: the sums of a chunk read the bytes either side of it).
constexpr size_t kBoxChunk = 4096;

struct TSmallBoxState {
    std::vector<uint16_t> v;
    std::vector<const uint8_t*> rows;
};

// Larger windows: a running vertical sum per byte kept from row to row, and a running
// horizontal sum along the row, so the cost per pixel does not grow with the window.
struct TLargeBoxState {
    std::vector<uint32_t> v;
    int lastY = INT_MIN;
};

L_INT LargeBox(pBITMAPHANDLE b, const TFormat& fmt, int n) {
    const int lo = -(n - 1) / 2, hi = n / 2, c = fmt.Channels(), w = b->Width;
    const uint64_t area = uint64_t(n) * uint64_t(n);
    const size_t len = size_t(w) * size_t(c);
    return RunWindowFilter<TLargeBoxState>(
        b, fmt, lo - 1, hi, 0,
        [&] {
            return TLargeBoxState{std::vector<uint32_t>(len), INT_MIN};
        },
        [&](TLargeBoxState& st, const TRowWindow& win, int y, uint8_t* out) {
            uint32_t* v = st.v.data();
            if (st.lastY == y - 1) {
                const uint8_t *add = win.Row(y + hi), *sub = win.Row(y + lo - 1);
                for (size_t i = 0; i < len; ++i) v[i] += uint32_t(add[i]) - sub[i];
            } else {
                std::fill(st.v.begin(), st.v.end(), 0u);
                for (int k = lo; k <= hi; ++k) {
                    const uint8_t* r = win.Row(y + k);
                    for (size_t i = 0; i < len; ++i) v[i] += r[i];
                }
            }
            st.lastY = y;
            for (int ch = 0; ch < c; ++ch) {
                auto at = [&](int x) {
                    return uint64_t(v[size_t(std::clamp(x, 0, w - 1)) * size_t(c) + size_t(ch)]);
                };
                // The window at x = 0: the part beyond the left edge is that edge's
                // column repeated, likewise on the right.
                uint64_t s = at(0) * uint64_t(std::max(0, std::min(hi, -1) - lo + 1)) +
                             at(w - 1) * uint64_t(std::max(0, hi - std::max(lo, w) + 1));
                for (int k = std::max(lo, 0); k <= std::min(hi, w - 1); ++k) s += at(k);
                for (int x = 0; x < w; ++x) {
                    out[size_t(x) * size_t(c) + size_t(ch)] = uint8_t((s + area / 2) / area);
                    s += at(x + 1 + hi);
                    s -= at(x + lo);
                }
            }
        });
}

} // namespace

L_INT L_AverageFilterBitmap(pBITMAPHANDLE b, L_INT nDim) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nDim < 0 || nDim > 32768) return ERROR_INV_PARAMETER;
    if (nDim <= 1) return SUCCESS;
    const TFormat fmt(b);
    if (nDim > 7) return LargeBox(b, fmt, nDim);
    const int lo = -(nDim - 1) / 2, hi = nDim / 2, c = fmt.Channels();
    const size_t pad = size_t(hi) * size_t(c), len = size_t(b->Width) * size_t(c);
    const TRoundedDivide div(uint32_t(nDim * nDim), uint32_t(255 * nDim * nDim));
    return RunWindowFilter<TSmallBoxState>(
        b, fmt, lo, hi, hi,
        [&] {
            return TSmallBoxState{std::vector<uint16_t>(std::min(len, kBoxChunk) + 2 * pad),
                                  std::vector<const uint8_t*>(size_t(nDim))};
        },
        [&](TSmallBoxState& st, const TRowWindow& win, int y, uint8_t* out) {
            // A chunk of the row at a time, so that its vertical sums are still in the
            // first-level cache when the horizontal pass reads them back.
            for (size_t i0 = 0; i0 < len; i0 += kBoxChunk) {
                const size_t n = std::min(kBoxChunk, len - i0);
                for (int k = lo; k <= hi; ++k) st.rows[size_t(k - lo)] = win.Row(y + k) - pad + i0;
                SumRows(st.rows.data(), nDim, st.v.data(), n + 2 * pad);
                BoxRow(st.v.data() + pad, lo, hi, c, div, out + i0, n);
            }
        });
}

// ---------------------------------------------------------------------------
// Sharpen and blur against a 5 x 5 binomial blur (1 4 6 4 1 both ways, weight 256).

namespace {

QUILLO_ROW_KERNEL void BinomialColumns(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2,
                                       const uint8_t* r3, const uint8_t* r4, uint16_t* out,
                                       size_t len) {
    for (size_t i = 0; i < len; ++i)
        out[i] = uint16_t(r0[i] + r4[i] + 4 * (r1[i] + r3[i]) + 6 * r2[i]);
}

// v' = v + ((256 v - blur) * amount) / 2^18, rounded; amount in 1/1024 of 256 v - blur.
QUILLO_ROW_KERNEL void SharpenRow(const uint16_t* v, const uint8_t* src, int c, int32_t amount,
                                  uint8_t* out, size_t len) {
    const size_t c1 = size_t(c), c2 = 2 * size_t(c);
    for (size_t i = 0; i < len; ++i) {
        const int32_t blur = int32_t(v[i - c2]) + v[i + c2] + 4 * (int32_t(v[i - c1]) + v[i + c1]) +
                             6 * int32_t(v[i]);
        const int32_t p = src[i];
        const int32_t r = p + (((p * 256 - blur) * amount + (1 << 17)) >> 18);
        out[i] = uint8_t(r < 0 ? 0 : r > 255 ? 255 : r);
    }
}

struct TSharpenState {
    std::vector<uint16_t> v;
};

} // namespace

L_INT L_SharpenBitmap(pBITMAPHANDLE b, L_INT nSharpness) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nSharpness < -1000 || nSharpness > 1000) return ERROR_INV_PARAMETER;
    if (nSharpness == 0) return SUCCESS;
    // Sharpening adds up to twice the detail; blurring goes all the way to the blur.
    const int32_t amount =
        int32_t(std::lround((nSharpness > 0 ? 2.0 : 1.0) * nSharpness * 1024.0 / 1000.0));
    const TFormat fmt(b);
    const int c = fmt.Channels();
    const size_t pad = 2 * size_t(c), len = size_t(b->Width) * size_t(c);
    return RunWindowFilter<TSharpenState>(
        b, fmt, -2, 2, 2, [&] { return TSharpenState{std::vector<uint16_t>(len + 2 * pad)}; },
        [&](TSharpenState& st, const TRowWindow& win, int y, uint8_t* out) {
            BinomialColumns(win.Row(y - 2) - pad, win.Row(y - 1) - pad, win.Row(y) - pad,
                            win.Row(y + 1) - pad, win.Row(y + 2) - pad, st.v.data(), len + 2 * pad);
            SharpenRow(st.v.data() + pad, win.Row(y), c, amount, out, len);
        });
}

// ---------------------------------------------------------------------------
// 3 x 3 kernels: v' = sum(k * p) * scale + bias, clamped.

namespace {

struct TKernel3 {
    int k[9]; // rows top to bottom
    int bias;
};

// Emboss directions point to where the light comes from; the relief is the neighbour on
// the lit side minus the one on the far side.
constexpr int kDirX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kDirY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

TKernel3 EmbossKernel(int dir) {
    TKernel3 e{{0, 0, 0, 0, 0, 0, 0, 0, 0}, 128};
    e.k[(1 + kDirY[dir]) * 3 + 1 + kDirX[dir]] = 1;
    e.k[(1 - kDirY[dir]) * 3 + 1 - kDirX[dir]] = -1;
    return e;
}

// The compass gradients turn one kernel around its centre, an eighth at a time.
TKernel3 GradientKernel(int dir) {
    static constexpr int ring[8] = {0, 1, 2, 5, 8, 7, 6, 3}; // clockwise from top left
    static constexpr int north[8] = {1, 1, 1, 1, -1, -1, -1, 1};
    TKernel3 g{{0, 0, 0, 0, -2, 0, 0, 0, 0}, 0};
    for (int i = 0; i < 8; ++i) g.k[ring[(i + dir) % 8]] = north[i];
    return g;
}

TKernel3 SpatialKernel(int f) {
    if (f < FLT_GRADIENT_N) return EmbossKernel(f);
    if (f < FLT_LAPLACE_1) return GradientKernel(f - FLT_GRADIENT_N);
    static constexpr TKernel3 rest[] = {
        {{0, -1, 0, -1, 4, -1, 0, -1, 0}, 0},     // Laplacian 1
        {{-1, -1, -1, -1, 8, -1, -1, -1, -1}, 0}, // Laplacian 2
        {{1, -2, 1, -2, 4, -2, 1, -2, 1}, 0},     // Laplacian 3
        {{-1, 0, -1, 0, 4, 0, -1, 0, -1}, 0},     // diagonal
        {{0, -1, 0, 0, 2, 0, 0, -1, 0}, 0},       // horizontal
        {{0, 0, 0, -1, 2, -1, 0, 0, 0}, 0},       // vertical
        {{-1, -2, -1, 0, 0, 0, 1, 2, 1}, 0},      // Sobel horizontal
        {{-1, 0, 1, -2, 0, 2, -1, 0, 1}, 0},      // Sobel vertical
        {{-1, -1, -1, 0, 0, 0, 1, 1, 1}, 0},      // Prewitt horizontal
        {{-1, 0, 1, -1, 0, 1, -1, 0, 1}, 0},      // Prewitt vertical
        {{-1, 0, 0, 0, 1, 0, 0, 0, 0}, 0},        // shift and difference diagonal
        {{0, -1, 0, 0, 1, 0, 0, 0, 0}, 0},        // horizontal
        {{0, 0, 0, -1, 1, 0, 0, 0, 0}, 0},        // vertical
        {{-1, -1, -1, 2, 2, 2, -1, -1, -1}, 0},   // line segment horizontal
        {{-1, 2, -1, -1, 2, -1, -1, 2, -1}, 0},   // vertical
        {{2, -1, -1, -1, 2, -1, -1, -1, 2}, 0},   // left to right
        {{-1, -1, 2, -1, 2, -1, 2, -1, -1}, 0},   // right to left
    };
    return rest[f - FLT_LAPLACE_1];
}

QUILLO_ROW_KERNEL void AddTap(int32_t* acc, const uint8_t* src, int32_t k, size_t len) {
    for (size_t i = 0; i < len; ++i) acc[i] += k * int32_t(src[i]);
}

// out = clamp((acc * scale + 2^15) >> 16 + bias).
QUILLO_ROW_KERNEL void FinishTaps(const int32_t* acc, int32_t scale, int32_t bias, uint8_t* out,
                                  size_t len) {
    for (size_t i = 0; i < len; ++i) {
        const int32_t r = ((acc[i] * scale + (1 << 15)) >> 16) + bias;
        out[i] = uint8_t(r < 0 ? 0 : r > 255 ? 255 : r);
    }
}

struct TConvState {
    std::vector<int32_t> acc;
};

// scale in 1/65536; it multiplies the weighted sum before the bias is added.
L_INT Convolve3(pBITMAPHANDLE b, const TKernel3& ker, int32_t scale) {
    const TFormat fmt(b);
    const int c = fmt.Channels();
    const size_t len = size_t(b->Width) * size_t(c);
    return RunWindowFilter<TConvState>(
        b, fmt, -1, 1, 1, [&] { return TConvState{std::vector<int32_t>(len)}; },
        [&](TConvState& st, const TRowWindow& win, int y, uint8_t* out) {
            std::fill(st.acc.begin(), st.acc.end(), 0);
            for (int t = 0; t < 9; ++t) {
                if (!ker.k[t]) continue;
                const uint8_t* r = win.Row(y + t / 3 - 1) + ptrdiff_t(t % 3 - 1) * c;
                AddTap(st.acc.data(), r, ker.k[t], len);
            }
            FinishTaps(st.acc.data(), scale, ker.bias, out, len);
        });
}

} // namespace

L_INT L_SpatialFilterBitmap(pBITMAPHANDLE b, L_INT nFilter) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nFilter < 0 || nFilter > FLT_LAST) return ERROR_INV_PARAMETER;
    return Convolve3(b, SpatialKernel(nFilter), 65536);
}

L_INT L_EmbossBitmap(pBITMAPHANDLE b, L_INT nDirection, L_INT nDepth) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nDirection < EMBOSS_N || nDirection > EMBOSS_NW || nDepth < 0 || nDepth > 1000)
        return ERROR_INV_PARAMETER;
    // Depth 250 is the plain difference; the dialog's middle (500) doubles it.
    return Convolve3(b, EmbossKernel(nDirection), int32_t(int64_t(nDepth) * 65536 / 250));
}
