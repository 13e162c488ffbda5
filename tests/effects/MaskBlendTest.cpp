// The paint tools' compositing through coverage masks, checked pixel by pixel against a
// direct per-pixel reference on 32-bit and 8-bit gray layers, at the edges of the layer and
// inside and outside its region.

#include <gtest/gtest.h>

#include "EffectsTestUtil.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using efx::Bmp;
using efx::GrayLayer;

Bmp Layer(int w, int h, int bpp, unsigned seed) {
    Bmp b = bpp == 8 ? GrayLayer(w, h) : Bmp(w, h, bpp);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < b.b.Size; ++i) b.b.Addr[i] = uint8_t(rng());
    return b;
}

std::vector<uint8_t> RandomMask(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> m(size_t(w) * size_t(h));
    for (auto& v : m) {
        const unsigned k = rng() % 4;
        v = k == 0 ? 0 : k == 1 ? 255 : uint8_t(rng());
    }
    return m;
}

// A region of scattered pixels, so that spans start and end everywhere.
void ScatterRegion(Bmp& b, unsigned seed) {
    Bmp mask(b.b.Width, b.b.Height, 1);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < mask.b.Size; ++i) mask.b.Addr[i] = uint8_t(rng());
    ASSERT_EQ(L_SetBitmapRgnFromMask(&b.b, nullptr, &mask.b, L_RGN_SET), SUCCESS);
}

int Lerp(int d, int s, double w) { return int(std::lround((d * (255 - w) + s * w) / 255)); }

int Channels(const Bmp& b) { return b.b.BitsPerPixel == 32 ? 4 : 1; }
uint8_t Byte(const Bmp& b, int x, int y, int k) { return L_RowPtr(&b.b, y)[x * Channels(b) + k]; }
bool Inside(const Bmp& b, int x, int y) { return L_IsPtInBitmapRgn(&b.b, y, x) == 1; }

TEST(BrushDab, MovesEachPixelTowardsTheColourByItsCoverageAndRaisesTheAlpha) {
    const int mw = 7, mh = 5;
    const auto mask = RandomMask(mw, mh, 1);
    const COLORREF color = RGB(200, 30, 90);
    // Whole and fractional positions, on and across every edge of a 12 x 9 layer.
    const double spots[][2] = {{2, 1}, {-3, -2}, {8, 6}, {2.5, 1.25}, {-1.75, 5.5}, {9.1, -0.6}};
    for (int bpp : {32, 8})
        for (bool region : {false, true})
            for (const auto& at : spots) {
                Bmp before = Layer(12, 9, bpp, 7);
                if (region) ScatterRegion(before, 3);
                Bmp out(before);
                const COLORREF c = bpp == 8 ? 77 : color;
                ASSERT_EQ(AlphaBlendBmpWithColor(&out.b, at[0], at[1], mw, mh, c, mask.data(), mw),
                          SUCCESS);
                const double fx = at[0] - std::floor(at[0]), fy = at[1] - std::floor(at[1]);
                auto m = [&](int i, int j) {
                    return (i < 0 || j < 0 || i >= mw || j >= mh) ? 0.0 : mask[size_t(j * mw + i)];
                };
                for (int y = 0; y < 9; ++y)
                    for (int x = 0; x < 12; ++x) {
                        const int i = x - int(std::floor(at[0])), j = y - int(std::floor(at[1]));
                        double w = m(i, j) * (1 - fx) * (1 - fy) + m(i - 1, j) * fx * (1 - fy) +
                                   m(i, j - 1) * (1 - fx) * fy + m(i - 1, j - 1) * fx * fy;
                        if (region && !Inside(before, x, y)) w = 0;
                        const int want[4] = {GetBValue(color), GetGValue(color), GetRValue(color),
                                             255};
                        for (int k = 0; k < Channels(out); ++k) {
                            const int e = Lerp(Byte(before, x, y, k), bpp == 8 ? 77 : want[k], w);
                            const int got = Byte(out, x, y, k);
                            // Whole positions are exact; shifted masks are rounded to 1/256.
                            ASSERT_LE(std::abs(got - e), fx == 0 && fy == 0 ? 0 : 1)
                                << bpp << " at " << x << "," << y << " dab " << at[0] << ","
                                << at[1] << " channel " << k;
                        }
                    }
            }
}

TEST(BrushDab, DissolveSetsWholePixelsAtTheCoverageRateAndKeepsAddingAtOneSpot) {
    const int n = 40;
    std::vector<uint8_t> mask(size_t(n) * n);
    for (size_t k = 0; k < mask.size(); ++k) mask[k] = k % n < 10 ? 0 : k % n < 20 ? 255 : 64;
    // A palette layer (the dissolve is the brush offered there), a gray one, a 32-bit one;
    // the dab hangs over the left edge.
    for (int bpp : {4, 8, 32}) {
        const COLORREF c = bpp == 8 ? 200 : RGB(255, 255, 255);
        auto spray = [&](Bmp& layer, unsigned seed) {
            Lx_SetDissolveSeed(seed);
            ASSERT_EQ(DissolveBlendBmpWithColor(&layer.b, -3, 2, n, n, c, mask.data(), n), SUCCESS);
        };
        Bmp layer = bpp == 8 ? GrayLayer(n, n) : Bmp(n, n, bpp), again(layer);
        spray(layer, 5);
        int hits = 0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const COLORREF p = L_GetPixelColor(&layer.b, y, x);
                const bool set = p == (bpp == 8 ? RGB(200, 200, 200) : RGB(255, 255, 255));
                const int i = x + 3;
                // Unset pixels stay as they were; full coverage always sets, none never.
                const bool under = y >= 2 && i >= 10, full = under && i < 20;
                ASSERT_TRUE(set ? under : p == 0 && !full) << bpp << " at " << x << "," << y;
                hits += set && i >= 20;
            }
        // 64 / 255 of 38 x 17 pixels is about 162.
        EXPECT_NEAR(hits, 162, 40) << bpp;
        // The same seed repeats the spray; the next call at the same spot adds paint.
        spray(again, 5);
        EXPECT_TRUE(again.Same(layer)) << bpp;
        spray(again, 6);
        EXPECT_FALSE(again.Same(layer)) << bpp;
    }
}

TEST(CloneAndHistoryBrush, CopyTheSourceThroughTheMaskTransparencyIncluded) {
    std::mt19937 rng(17);
    for (int bpp : {32, 8})
        for (int trial = 0; trial < 12; ++trial) {
            const int w = 1 + int(rng() % 9), h = 1 + int(rng() % 9);
            const int x = int(rng() % 16) - 4, y = int(rng() % 14) - 4;
            const int sx = int(rng() % 14) - 4, sy = int(rng() % 12) - 4;
            const bool masked = trial % 4 != 0, region = trial % 3 == 0;
            const auto mask = RandomMask(w, h, unsigned(trial));
            Bmp src = Layer(10, 8, bpp, 100 + unsigned(trial)), dst = Layer(12, 10, bpp, 200);
            if (region) ScatterRegion(dst, unsigned(trial));
            Bmp out(dst);
            ASSERT_EQ(AlphaBlendBitmapRects(&out.b, x, y, w, h, &src.b, sx, sy,
                                            masked ? mask.data() : nullptr, bpp == 8),
                      SUCCESS);
            for (int Y = 0; Y < 10; ++Y)
                for (int X = 0; X < 12; ++X) {
                    const int i = X - x, j = Y - y, px = sx + i, py = sy + j;
                    const bool covered = i >= 0 && j >= 0 && i < w && j < h && px >= 0 && py >= 0 &&
                                         px < 10 && py < 8 && Inside(dst, X, Y);
                    for (int k = 0; k < Channels(dst); ++k) {
                        const int e = covered ? Lerp(Byte(dst, X, Y, k), Byte(src, px, py, k),
                                                     masked ? mask[size_t(j * w + i)] : 255)
                                              : Byte(dst, X, Y, k);
                        ASSERT_EQ(Byte(out, X, Y, k), e)
                            << bpp << " trial " << trial << " at " << X << "," << Y;
                    }
                }
        }
}

// The smudge's round: take the pixels under the brush with the brush as alpha, mix the
// pixels now under it into them, lay them back.
TEST(Smudge, CarriesThePaintItPickedUpAndFillsBeyondTheLayerWithTheColour) {
    const int s = 6;
    const auto mask = RandomMask(s, s, 4);
    for (int bpp : {32, 8}) {
        const bool gray = bpp == 8;
        Bmp layer = Layer(10, 8, bpp, 31);
        const COLORREF fill = gray ? 99 : RGB(10, 20, 30);
        BITMAPHANDLE sample;
        // The first dab hangs over the top-left corner: that part is the colour.
        ASSERT_EQ(CopyBitmapRect(&sample, &layer.b, -2, -1, s, s, fill), SUCCESS);
        ASSERT_TRUE(sample.Width == s && sample.Height == s && sample.BitsPerPixel == bpp);
        if (!gray) {
            ASSERT_EQ(InsertAlpha(&sample, mask.data()), SUCCESS);
        }
        for (int j = 0; j < s; ++j)
            for (int i = 0; i < s; ++i) {
                const bool out = i < 2 || j < 1;
                for (int k = 0; k < Channels(layer); ++k) {
                    const int want = out ? (gray     ? 99
                                            : k == 3 ? 255
                                                     : (fill >> (16 - 8 * k)) & 255)
                                         : Byte(layer, i - 2, j - 1, k);
                    ASSERT_EQ(L_RowPtr(&sample, j)[i * Channels(layer) + k],
                              k == 3 ? mask[size_t(j * s + i)] : want)
                        << bpp << " " << i << "," << j;
                }
            }
        // The next dab one pixel right and down.
        Bmp before(layer);
        std::vector<uint8_t> picked(sample.Size);
        std::memcpy(picked.data(), sample.Addr, sample.Size);
        ASSERT_EQ(AlphaBlendBitmaps(&sample, &layer.b, -1, 0, fill, gray ? mask.data() : nullptr),
                  SUCCESS);
        ScatterRegion(layer, 2);
        ASSERT_EQ(InsertBitmapRect(&layer.b, &sample, -1, 0, s, s, 0, 0, 0), SUCCESS);
        for (int j = 0; j < s; ++j)
            for (int i = 0; i < s; ++i) {
                const int X = i - 1, Y = j;
                const int keep = mask[size_t(j * s + i)];
                for (int k = 0; k < Channels(layer) && X >= 0; ++k) {
                    const int had = picked[size_t(j) * size_t(sample.BytesPerLine) +
                                           size_t(i * Channels(layer) + k)];
                    const int e =
                        k == 3 ? Byte(before, X, Y, 3) : Lerp(Byte(before, X, Y, k), had, keep);
                    EXPECT_EQ(Byte(layer, X, Y, k), Inside(layer, X, Y) ? e : Byte(before, X, Y, k))
                        << bpp << " at " << X << "," << Y << " channel " << k;
                }
            }
        L_FreeBitmap(&sample);
    }
}

TEST(BrushCompositing, InsertsWithAlphaOnRequestAndRefusesBadArguments) {
    Bmp dst = Layer(6, 4, 32, 1), src = Layer(6, 4, 32, 2), rgb = Layer(6, 4, 24, 3);
    ASSERT_EQ(InsertBitmapRect(&dst.b, &src.b, 0, 0, 6, 4, 0, 0, LX_INSERT_ALPHA), SUCCESS);
    EXPECT_TRUE(dst.Same(src));
    // Other depths go through the colour.
    ASSERT_EQ(InsertBitmapRect(&rgb.b, &src.b, 1, 1, 6, 4, 0, 0, 0), SUCCESS);
    EXPECT_EQ(L_GetPixelColor(&rgb.b, 1, 1), L_GetPixelColor(&src.b, 0, 0) & 0xFFFFFFu);
    const std::vector<uint8_t> mask(16, 255);
    EXPECT_EQ(InsertBitmapRect(&dst.b, &src.b, 0, 0, 6, 4, 0, 0, 2), ERROR_INV_PARAMETER);
    EXPECT_EQ(AlphaBlendBmpWithColor(&dst.b, NAN, 0, 4, 4, 0, mask.data(), 4), ERROR_INV_PARAMETER);
    EXPECT_EQ(AlphaBlendBmpWithColor(&dst.b, 0, 0, 4, 4, 0, mask.data(), 3), ERROR_INV_PARAMETER);
    EXPECT_EQ(DissolveBlendBmpWithColor(&dst.b, 0, 0, 4, 4, 0, nullptr, 4), ERROR_INV_PARAMETER);
    // Far off the layer is nothing to do, not an error.
    EXPECT_EQ(AlphaBlendBmpWithColor(&dst.b, -1e300, 3e12, 4, 4, 0, mask.data(), 4), SUCCESS);
    EXPECT_EQ(DissolveBlendBmpWithColor(&dst.b, INT32_MAX, 0, 4, 4, 0, mask.data(), 4), SUCCESS);
    EXPECT_TRUE(dst.Same(src));
}

} // namespace

namespace {

// Every call with random positions, sizes and flags on random bitmaps of every depth: no
// crash and, under the sanitizer build, no access outside a bitmap or mask.
TEST(BrushCompositing, SurvivesRandomCallsAtEveryDepth) {
    std::mt19937 rng(2024);
    auto any = [&](int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); };
    for (int round = 0; round < 300; ++round) {
        const int depths[] = {1, 4, 8, 16, 24, 32};
        const int bpp = depths[rng() % 6], sbpp = depths[rng() % 6];
        Bmp dst = Layer(any(1, 12), any(1, 9), bpp, rng()),
            src = Layer(any(1, 9), any(1, 7), sbpp, rng());
        if (rng() % 3 == 0) ScatterRegion(dst, rng());
        const int w = any(-2, 14), h = any(-2, 11), x = any(-15, 15), y = any(-12, 12);
        const auto mask = RandomMask(std::max(w, 0) + 3, std::max(h, 0) + 1, rng());
        const uint8_t* m = rng() % 4 ? mask.data() : nullptr;
        const COLORREF c = rng() % 2 ? rng() & 0xFFFFFFu : PALETTEINDEX(rng());
        AlphaBlendBmpWithColor(&dst.b, x + any(0, 99) / 100.0, y - any(0, 99) / 100.0, w, h, c, m,
                               std::max(w, 0) + any(0, 3));
        DissolveBlendBmpWithColor(&dst.b, x, y, w, h, c, m, std::max(w, 0) + 3);
        AlphaBlendBitmapRects(&dst.b, x, y, w, h, &src.b, any(-9, 9), any(-9, 9), m,
                              int(rng() % 2));
        if (dst.b.Width * dst.b.Height <= int(mask.size()))
            AlphaBlendBitmaps(&dst.b, &src.b, x, y, c, m);
        InsertBitmapRect(&dst.b, &src.b, x, y, w, h, any(-9, 9), any(-9, 9), int(rng() % 3));
        DrawAntialiasedLine(&dst.b, x, y, any(-20, 20), any(-20, 20), any(-1, 60) / 10.0, c,
                            int(rng() % 2));
        DrawAntialiasedEllipse(&dst.b, x, y, any(-20, 20), any(-20, 20), any(-1, 6), c, rng(),
                               any(-1, 3), int(rng() % 2));
        BITMAPHANDLE copy;
        if (CopyBitmapRect(&copy, &dst.b, x, y, w, h, c) == SUCCESS) {
            if (copy.BitsPerPixel == 32 && int(mask.size()) >= w * h)
                InsertAlpha(&copy, mask.data());
            L_FreeBitmap(&copy);
        }
    }
}

} // namespace
