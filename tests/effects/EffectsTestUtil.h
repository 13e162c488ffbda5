// Bitmaps for the effects tests: blocky random pictures at every depth and the colour of a
// pixel as the eye sees it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "Effects.h"
#include "PixelAccess.h"
#include "toolkit/TestBitmap.h"

namespace efx {

using tb::Bmp;

// An 8-bit layer of gray levels (palette entry i is gray level i), all 0.
inline Bmp GrayLayer(int w, int h) {
    RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    Bmp b(w, h, 8);
    std::memcpy(b.b.pPalette, pal, sizeof pal);
    return b;
}

inline bool Bit(const BITMAPHANDLE& m, int x, int y) {
    return (L_RowPtr(&m, y)[x >> 3] >> (7 - (x & 7))) & 1;
}
inline void SetBit(BITMAPHANDLE& m, int x, int y) {
    L_RowPtr(&m, y)[x >> 3] |= uint8_t(0x80u >> (x & 7));
}

inline lt::BGRA Pixel(const BITMAPHANDLE& b, int x, int y) {
    return lt::ReadPixel(&b, L_RowPtr(&b, y), x);
}

// A 32-bit picture of rectangles in a few colours (each with a little noise) over noise,
// alpha 255, 0 (hiding random colours) or in between; then converted to `bpp` (nearest
// colours of the fixed palette below 16 bits).
inline Bmp Blocks(int w, int h, int bpp, unsigned seed, int view = TOP_LEFT) {
    std::mt19937 rng(seed);
    Bmp src(w, h, 32, view);
    const lt::BGRA base[3] = {{40, 200, 90, 255}, {210, 60, 30, 255}, {120, 120, 240, 0}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = L_RowPtr(&src.b, y) + x * 4;
            for (int k = 0; k < 4; ++k) p[k] = uint8_t(rng());
        }
    for (int n = 0; n < 12; ++n) {
        const lt::BGRA c = base[rng() % 3];
        const int x0 = int(rng() % unsigned(w)), y0 = int(rng() % unsigned(h));
        const int x1 = std::min(w, x0 + 1 + int(rng() % unsigned(w))),
                  y1 = std::min(h, y0 + 1 + int(rng() % unsigned(h)));
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                uint8_t* p = L_RowPtr(&src.b, y) + x * 4;
                const int noise = int(rng() % 7) - 3;
                p[0] = uint8_t(std::clamp(c.b + noise, 0, 255));
                p[1] = uint8_t(std::clamp(c.g - noise, 0, 255));
                p[2] = uint8_t(std::clamp(c.r + noise, 0, 255));
                p[3] = c.a == 0 ? (rng() % 4 ? 0 : 128) : 255;
                if (c.a == 0 && p[3] == 0) p[0] = uint8_t(rng()); // hidden colours differ
            }
    }
    if (bpp == 32) return src;
    Bmp out(w, h, bpp, view);
    L_FreeBitmap(&out.b);
    EXPECT_EQ(L_ColorResBitmap(&src.b, &out.b, bpp, bpp <= 8 ? CRF_FIXEDPALETTE : CRF_BYTEORDERBGR,
                               nullptr, 0),
              SUCCESS);
    return out;
}

// The mean of share(px, py) (1 inside a shape, 0 outside, or a weight between) over pixel
// (x, y), sampled on a 128 x 128 grid (off-centre, so that no edge of the tests runs along a
// line of samples). Pixels whose corners and 17 x 17 points all give 0 or all give 1 are
// taken as wholly out or in: no shape in the tests is thin enough to slip between those.
inline double Reference(int x, int y, const std::function<double(double, double)>& share) {
    int zeros = 0, ones = 0;
    for (int j = 0; j <= 16; ++j)
        for (int i = 0; i <= 16; ++i) {
            const double v = share(x + i / 16.0, y + j / 16.0);
            zeros += v == 0;
            ones += v == 1;
        }
    if (zeros == 17 * 17) return 0;
    if (ones == 17 * 17) return 1;
    const int n = 128;
    double sum = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) sum += share(x + (i + 0.37) / n, y + (j + 0.61) / n);
    return sum / (n * n);
}

} // namespace efx
