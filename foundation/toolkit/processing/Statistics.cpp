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

QUILLO_ROW_KERNEL void CountLevels(const uint8_t* p, int n, int c, uint32_t* h0, uint32_t* h1) {
    // Two tables so that runs of equal levels do not wait on one counter.
    int x = 0;
    if (c == 1) {
        for (; x + 1 < n; x += 2) ++h0[p[x]], ++h1[p[x + 1]];
        for (; x < n; ++x) ++h0[p[x]];
        return;
    }
    for (; x + 1 < n; x += 2) {
        ++h0[Luma(p[x * c + 2], p[x * c + 1], p[x * c])];
        ++h1[Luma(p[(x + 1) * c + 2], p[(x + 1) * c + 1], p[(x + 1) * c])];
    }
    for (; x < n; ++x) ++h0[Luma(p[x * c + 2], p[x * c + 1], p[x * c])];
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
            std::vector<uint32_t> h(512, 0);
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
                        CountLevels(row + x0 * c, x1 - x0, c, h.data(), h.data() + 256);
                    });
                }
                // Flush before a 32-bit counter could overflow.
                if (((y - y0) & 1023) == 1023 || y + 1 == y1) {
                    for (int i = 0; i < 256; ++i)
                        sum[size_t(i)] += uint64_t(h[size_t(i)]) + h[size_t(i) + 256];
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

QUILLO_ROW_KERNEL void ShiftByLevel(const int16_t* delta, const uint8_t* in, uint8_t* out, int n,
                                    int c) {
    for (int x = 0; x < n; ++x) {
        const uint8_t* p = in + x * c;
        const int d = delta[Luma(p[2], p[1], p[0])];
        out[x * c] = Clamp255(p[0] + d);
        out[x * c + 1] = Clamp255(p[1] + d);
        out[x * c + 2] = Clamp255(p[2] + d);
    }
}

// Applies a level table: gray images take it directly, colours move by its change.
L_INT ApplyLevels(pBITMAPHANDLE b, const uint8_t (&lut)[256]) {
    int16_t delta[256];
    for (int v = 0; v < 256; ++v) delta[v] = int16_t(lut[v] - v);
    return ApplyPixels(b, [&](const uint8_t* in, uint8_t* out, int n, int c) {
        if (c == 1) {
            for (int x = 0; x < n; ++x) out[x] = lut[in[x]];
            return;
        }
        ShiftByLevel(delta, in, out, n, c);
    });
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
    Histogram h;
    if (L_INT rc = LevelHistogram(b, &h); rc != SUCCESS) return rc;
    int lo = 0, hi = 255;
    while (lo < 256 && !h[size_t(lo)]) ++lo;
    while (hi >= 0 && !h[size_t(hi)]) --hi;
    if (lo >= hi || (lo == 0 && hi == 255)) return SUCCESS;
    uint8_t lut[256];
    const int span = hi - lo;
    for (int v = 0; v < 256; ++v) {
        const int t = std::clamp(v - lo, 0, span);
        lut[v] = uint8_t((t * 510 + span) / (2 * span));
    }
    return ApplyLevels(b, lut);
}
