// Corrections computed from the image's own gray levels: equalization and the stretch of
// Auto Contrast. Both build a table from old to new gray level over the pixels inside the
// region, then move each pixel's three channels by its level's change, which keeps the
// hue and gives exactly the new level where no channel clips.
#include <array>
#include <mutex>

#include "ProcessingInternal.h"

using namespace lt::proc;

namespace {

using Histogram = std::array<uint64_t, 256>;

// Gray levels of n pixels of C working bytes (C = 3 or 4). Apart from the counting, which
// cannot vectorise, so that the arithmetic can.
template <int C>
inline __attribute__((always_inline)) void LevelsOf(const uint8_t* p, int n, uint8_t* out) {
    for (int x = 0; x < n; ++x) {
        if constexpr (C == 4) {
            const uint32_t w = LoadWord(p + 4 * x);
            out[x] = uint8_t(Luma((w >> 16) & 255u, (w >> 8) & 255u, w & 255u));
        } else {
            out[x] = uint8_t(Luma(p[C * x + 2], p[C * x + 1], p[C * x]));
        }
    }
}
QUILLO_ROW_KERNEL void LevelsOf4(const uint8_t* p, int n, uint8_t* out) { LevelsOf<4>(p, n, out); }
QUILLO_ROW_KERNEL void LevelsOf3(const uint8_t* p, int n, uint8_t* out) { LevelsOf<3>(p, n, out); }

// Counts n levels into four tables of 256, so that runs of equal levels do not wait on one
// counter.
void CountBytes(const uint8_t* v, int n, uint32_t* h) {
    int x = 0;
    for (; x + 3 < n; x += 4)
        ++h[v[x]], ++h[256 + v[x + 1]], ++h[512 + v[x + 2]], ++h[768 + v[x + 3]];
    for (; x < n; ++x) ++h[v[x]];
}

constexpr int kChunk = 1024; // pixels whose levels are worked out at once

void CountLevels(const uint8_t* p, int n, int c, uint32_t* h) {
    if (c == 1) {
        CountBytes(p, n, h);
        return;
    }
    uint8_t levels[kChunk];
    for (int x = 0; x < n; x += kChunk) {
        const int m = std::min(kChunk, n - x);
        if (c == 4)
            LevelsOf4(p + 4 * x, m, levels);
        else
            LevelsOf3(p + 3 * x, m, levels);
        CountBytes(levels, m, h);
    }
}

// The lowest and highest of n levels, folded into lo and hi.
QUILLO_ROW_KERNEL void LevelSpan(const uint8_t* v, int n, uint8_t* lo, uint8_t* hi) {
    uint8_t a = *lo, z = *hi;
    for (int x = 0; x < n; ++x) a = std::min(a, v[x]), z = std::max(z, v[x]);
    *lo = a, *hi = z;
}

// The lowest and highest gray level inside the region of a bitmap whose stored pixels are
// working bytes (not a palette); lo > hi when no pixel is inside. Cheaper than the
// histogram, which auto contrast does not need.
L_INT LevelRange(const BITMAPHANDLE* b, int* lo, int* hi) {
    const TFormat fmt(b);
    int first, last;
    WrittenRows(b, &first, &last);
    std::mutex m;
    uint8_t lowest = 255, highest = 0;
    bool any = false;
    const L_INT rc = RunBands(first, last, 64, [&](int, int y0, int y1, TBandRun& run) -> L_INT {
        uint8_t a = 255, z = 0, levels[kChunk];
        bool seen = false;
        const int c = fmt.Channels();
        for (int y = y0; y < y1; ++y) {
            const uint8_t* row = L_RowPtr(b, y);
            ForRowSpans(b, y, [&](int x0, int x1) {
                seen = true;
                if (c == 1) {
                    LevelSpan(row + x0, x1 - x0, &a, &z);
                    return;
                }
                for (int x = x0; x < x1; x += kChunk) {
                    const int n = std::min(kChunk, x1 - x);
                    if (c == 4)
                        LevelsOf4(row + 4 * x, n, levels);
                    else
                        LevelsOf3(row + 3 * x, n, levels);
                    LevelSpan(levels, n, &a, &z);
                }
            });
            if (!run.Rows(1)) break;
        }
        std::lock_guard<std::mutex> lock(m);
        if (seen) any = true, lowest = std::min(lowest, a), highest = std::max(highest, z);
        return SUCCESS;
    });
    *lo = any ? lowest : 256;
    *hi = any ? highest : -1;
    return rc;
}

// The gray levels of the pixels inside the region.
L_INT LevelHistogram(const BITMAPHANDLE* b, Histogram* out) {
    out->fill(0);
    const TFormat fmt(b);
    int first, last;
    WrittenRows(b, &first, &last);
    std::mutex m;
    const bool indexed = fmt.Kind() == TKind::Palette && b->BitsPerPixel <= 8;
    return RunBands(first, last, 64, [&](int, int y0, int y1, TBandRun& run) -> L_INT {
        return Guarded([&]() -> L_INT {
            std::vector<uint32_t> h(1024, 0);
            std::vector<uint8_t> tmp;
            if (fmt.Kind() == TKind::Palette) tmp.resize(size_t(b->Width) * 3);
            Histogram sum{};
            for (int y = y0; y < y1; ++y) {
                const uint8_t* row = L_RowPtr(b, y);
                if (indexed) {
                    // Counts of palette entries; their levels come afterwards.
                    ForRowSpans(b, y, [&](int x0, int x1) {
                        for (int x = x0; x < x1; ++x) ++h[lt::ReadIndex(row, x, b->BitsPerPixel)];
                    });
                } else {
                    if (fmt.Kind() == TKind::Palette) {
                        fmt.Load(y, tmp.data());
                        row = tmp.data();
                    }
                    const int c = fmt.Channels();
                    ForRowSpans(b, y, [&](int x0, int x1) {
                        CountLevels(row + x0 * c, x1 - x0, c, h.data());
                    });
                }
                // Flush before a 32-bit counter could overflow.
                if (((y - y0) & 1023) == 1023 || y + 1 == y1) {
                    for (size_t i = 0; i < 256; ++i)
                        sum[i] += uint64_t(h[i]) + h[i + 256] + h[i + 512] + h[i + 768];
                    std::fill(h.begin(), h.end(), 0);
                }
                if (!run.Rows(1)) break;
            }
            if (indexed) {
                Histogram levels{};
                for (int i = 0; i < (1 << b->BitsPerPixel); ++i) {
                    const RGBQUAD& q = b->pPalette[i];
                    levels[Luma(q.rgbRed, q.rgbGreen, q.rgbBlue)] += sum[size_t(i)];
                }
                sum = levels;
            }
            std::lock_guard<std::mutex> lock(m);
            for (size_t i = 0; i < 256; ++i) (*out)[i] += sum[i];
            return SUCCESS;
        });
    });
}

// Moves the colour bytes of n pixels of C working bytes by the change of their level
// (delta[level]), in place; at 4 bytes the alpha byte stays. Three passes over a chunk: the
// levels and the new colours vectorise, the table look-up between them does not.
template <int C>
inline __attribute__((always_inline)) void ShiftByLevel(const int16_t* delta, uint8_t* p, int n) {
    uint8_t levels[kChunk];
    int16_t d[kChunk];
    for (int x0 = 0; x0 < n; x0 += kChunk) {
        const int m = std::min(kChunk, n - x0);
        uint8_t* q = p + C * x0;
        LevelsOf<C>(q, m, levels);
        for (int x = 0; x < m; ++x) d[x] = delta[levels[x]];
        for (int x = 0; x < m; ++x) {
            if constexpr (C == 4) {
                const uint32_t w = LoadWord(q + 4 * x);
                uint32_t o = w & 0xFF000000u;
                for (int k = 0; k < 24; k += 8)
                    o |= uint32_t(Clamp255(int((w >> k) & 255u) + d[x])) << k;
                StoreWord(q + 4 * x, o);
            } else {
                for (int k = 0; k < 3; ++k) q[C * x + k] = Clamp255(q[C * x + k] + d[x]);
            }
        }
    }
}
QUILLO_ROW_KERNEL void ShiftByLevel4(const int16_t* delta, uint8_t* p, int n) {
    ShiftByLevel<4>(delta, p, n);
}
QUILLO_ROW_KERNEL void ShiftByLevel3(const int16_t* delta, uint8_t* p, int n) {
    ShiftByLevel<3>(delta, p, n);
}

// Applies a level table: gray images take it directly, colours move by its change.
L_INT ApplyLevels(pBITMAPHANDLE b, const uint8_t (&lut)[256]) {
    int16_t delta[256];
    for (int v = 0; v < 256; ++v) delta[v] = int16_t(lut[v] - v);
    return ApplyPixels(
        b,
        [&](const uint8_t* in, uint8_t* out, int n, int c) {
            if (in != out) std::memcpy(out, in, size_t(n) * size_t(c));
            if (c == 1) {
                for (int x = 0; x < n; ++x) out[x] = lut[out[x]];
            } else { // 32-bit pixels take the word kernel
                ShiftByLevel3(delta, out, n);
            }
        },
        true, [&](uint8_t* px, int n) { ShiftByLevel4(delta, px, n); });
}

} // namespace

L_INT L_HistoEqualizeBitmap(pBITMAPHANDLE b) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    Histogram h;
    if (L_INT rc = LevelHistogram(b, &h); rc != SUCCESS) return rc;
    uint64_t total = 0;
    for (uint64_t v : h) total += v;
    // Each level goes to where its share of pixels below it puts it; the lowest level
    // present becomes black.
    uint64_t cum = 0, lowest = 0;
    bool seen = false;
    uint8_t lut[256];
    for (int v = 0; v < 256; ++v) {
        cum += h[size_t(v)];
        if (!seen && h[size_t(v)]) seen = true, lowest = cum;
        const uint64_t span = total - lowest;
        lut[v] = span == 0 ? uint8_t(v)
                           : uint8_t(((cum > lowest ? cum - lowest : 0) * 510 + span) / (2 * span));
    }
    if (total == 0 || total == lowest) return SUCCESS; // one level or nothing: nothing to spread
    return ApplyLevels(b, lut);
}

L_INT L_StretchBitmapIntensity(pBITMAPHANDLE b) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    int lo = 0, hi = 255;
    if (TFormat(b).Kind() != TKind::Palette) {
        if (L_INT rc = LevelRange(b, &lo, &hi); rc != SUCCESS) return rc;
    } else {
        Histogram h;
        if (L_INT rc = LevelHistogram(b, &h); rc != SUCCESS) return rc;
        while (lo < 256 && !h[size_t(lo)]) ++lo;
        while (hi >= 0 && !h[size_t(hi)]) --hi;
    }
    if (lo >= hi || (lo == 0 && hi == 255)) return SUCCESS;
    uint8_t lut[256];
    const int span = hi - lo;
    for (int v = 0; v < 256; ++v) {
        const int t = std::clamp(v - lo, 0, span);
        lut[v] = uint8_t((t * 510 + span) / (2 * span));
    }
    return ApplyLevels(b, lut);
}
