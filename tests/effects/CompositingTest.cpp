// Layer compositing: "over" blending and the alpha-merging combination of two layers,
// checked pixel by pixel against floating point references on snapshots of the inputs.

#include <gtest/gtest.h>

#include "EffectsTestUtil.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

using efx::Bmp;

struct Px {
    int b, g, r, a;
};

Px Get(const BITMAPHANDLE& b, int x, int y) {
    const uint8_t* p = L_RowPtr(&b, y) + x * 4;
    return Px{p[0], p[1], p[2], p[3]};
}

void Put(BITMAPHANDLE& b, int x, int y, Px c) {
    uint8_t* p = L_RowPtr(&b, y) + x * 4;
    p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r), p[3] = uint8_t(c.a);
}

// Random colours with alpha in runs of 0, of 255 and of anything, as layers have them.
void RandomLayer(BITMAPHANDLE& b, unsigned seed) {
    std::mt19937 rng(seed);
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width;) {
            const int kind = int(rng() % 3);
            for (int n = 1 + int(rng() % 40); n > 0 && x < b.Width; --n, ++x)
                Put(b, x, y,
                    Px{int(rng() & 255), int(rng() & 255), int(rng() & 255),
                       kind == 0   ? 0
                       : kind == 1 ? 255
                                   : int(rng() & 255)});
        }
}

double Over(int s, int d, int a) { return (s * a + d * (255.0 - a)) / 255.0; }

// Porter-Duff "over" on straight alpha in floating point: alpha, then b, g, r.
void OverStraight(Px s, Px d, double out[4]) {
    const double as = s.a / 255.0, ad = d.a / 255.0, ao = as + ad * (1 - as);
    out[0] = ao * 255;
    const int sc[3] = {s.b, s.g, s.r}, dc[3] = {d.b, d.g, d.r};
    for (int k = 0; k < 3; ++k) out[k + 1] = ao > 0 ? (sc[k] * as + dc[k] * ad * (1 - as)) / ao : 0;
}

// The source pixel for destination pixel (X, Y) of a call at (x, y) with the rectangle
// (sx, sy, w, h), decided per pixel rather than by clipping as the code under test does.
bool Covering(const BITMAPHANDLE& src, int x, int y, int w, int h, int sx, int sy, int X, int Y,
              int* px, int* py) {
    *px = X - x + sx;
    *py = Y - y + sy;
    return X >= x && X < x + w && Y >= y && Y < y + h && *px >= 0 && *px < src.Width && *py >= 0 &&
           *py < src.Height;
}

// Runs a blend or combine into a copy of dst and checks every pixel against the reference.
void Check(bool combine, const Bmp& dst, const Bmp& src, int x, int y, int w, int h, int sx,
           int sy) {
    Bmp out(dst);
    auto fn = combine ? AlphaCombineBitmapRects32 : AlphaBlendBitmapRects32;
    ASSERT_EQ(fn(&out.b, x, y, w, h, &src.b, sx, sy), SUCCESS);
    SCOPED_TRACE(::testing::Message()
                 << x << "," << y << " " << w << "x" << h << " from " << sx << "," << sy);
    for (int Y = 0; Y < dst.b.Height; ++Y)
        for (int X = 0; X < dst.b.Width; ++X) {
            const Px d = Get(dst.b, X, Y), o = Get(out.b, X, Y);
            int px, py;
            if (!Covering(src.b, x, y, w, h, sx, sy, X, Y, &px, &py) ||
                L_IsPtInBitmapRgn(&dst.b, Y, X) != 1) {
                ASSERT_EQ(std::memcmp(&d, &o, sizeof d), 0)
                    << "changed outside at " << X << "," << Y;
                continue;
            }
            const Px s = Get(src.b, px, py);
            SCOPED_TRACE(::testing::Message()
                         << "at " << X << "," << Y << " alpha " << s.a << " over " << d.a);
            if (combine) {
                double e[4];
                OverStraight(s, d, e);
                ASSERT_LE(std::abs(o.a - e[0]), 0.5 + 1e-9);
                ASSERT_TRUE(std::abs(o.b - e[1]) <= 1 && std::abs(o.g - e[2]) <= 1 &&
                            std::abs(o.r - e[3]) <= 1);
                if (s.a == 255) {
                    ASSERT_TRUE(o.b == s.b && o.g == s.g && o.r == s.r)
                        << "an opaque source replaces";
                }
                if (s.a == 0 && d.a == 0) {
                    ASSERT_TRUE(o.b == 0 && o.g == 0 && o.r == 0 && o.a == 0);
                }
            } else {
                // Rounded to nearest, bit for bit: repeated blends must not drift.
                ASSERT_EQ(o.a, d.a);
                ASSERT_EQ(o.b, std::lround(Over(s.b, d.b, s.a)));
                ASSERT_EQ(o.g, std::lround(Over(s.g, d.g, s.a)));
                ASSERT_EQ(o.r, std::lround(Over(s.r, d.r, s.a)));
            }
        }
}

TEST(AlphaCompositing, BlendAndCombineMatchFloatingPointOverAndClipAtAnyOffset) {
    std::mt19937 rng(99);
    // Widths around the vector sizes, so that every tail length occurs; odd widths with a
    // destination region (written only inside it) and a source region (which changes
    // nothing: a layer's shape is its alpha).
    for (bool combine : {false, true})
        for (int w : {1, 7, 16, 17, 63, 100}) {
            Bmp src(w, 9, 32, BOTTOM_LEFT), dst(w + 5, 12, 32), mask(w + 5, 12, 1);
            RandomLayer(src.b, unsigned(w));
            RandomLayer(dst.b, unsigned(w) + 1);
            if (w % 2) {
                for (size_t i = 0; i < mask.b.Size; ++i) mask.b.Addr[i] = uint8_t(rng());
                ASSERT_EQ(L_SetBitmapRgnFromMask(&dst.b, nullptr, &mask.b, L_RGN_SET), SUCCESS);
                const RECT part{0, 0, 1, 1};
                ASSERT_EQ(L_SetBitmapRgnRect(&src.b, nullptr, &part, L_RGN_SET), SUCCESS);
            }
            Check(combine, dst, src, 0, 0, w, 9, 0, 0);
            for (int trial = 0; trial < 10; ++trial)
                Check(combine, dst, src, int(rng() % 40) - 20, int(rng() % 30) - 15,
                      int(rng() % 40), int(rng() % 20), int(rng() % 40) - 15, int(rng() % 20) - 10);
        }
}

TEST(AlphaBlend, OverlappingBlendOfABitmapOntoItselfReadsTheOldPixels) {
    Bmp b(40, 30, 32);
    RandomLayer(b.b, 11);
    Bmp copy(b), before(b);
    ASSERT_EQ(AlphaBlendBitmapRects32(&b.b, 3, 2, 30, 25, &b.b, 0, 0), SUCCESS);
    ASSERT_EQ(AlphaBlendBitmapRects32(&copy.b, 3, 2, 30, 25, &before.b, 0, 0), SUCCESS);
    EXPECT_EQ(std::memcmp(b.b.Addr, copy.b.Addr, b.b.Size), 0);
}

TEST(AlphaBlend, OntoOtherDepthsBlendsTheColoursAndStoresThemAtThatDepth) {
    Bmp src(30, 6, 32);
    RandomLayer(src.b, 8);
    for (int bpp : {24, 16, 8}) {
        Bmp dst(30, 6, bpp);
        std::mt19937 rng{unsigned(bpp)};
        for (size_t i = 0; i < dst.b.Size; ++i) dst.b.Addr[i] = uint8_t(rng());
        Bmp before(dst);
        ASSERT_EQ(AlphaBlendBitmapRects32(&dst.b, 0, 0, 30, 6, &src.b, 0, 0), SUCCESS);
        // What each depth can hold: exact at 24 bits, 5 bits per channel at 16, and the
        // 3-3-2 palette's steps (blue's are 85 levels apart) at 8.
        const double tolerance = bpp == 24 ? 1 : bpp == 16 ? 9 : 43;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 30; ++x) {
                const Px s = Get(src.b, x, y);
                const COLORREF was = L_GetPixelColor(&before.b, y, x),
                               now = L_GetPixelColor(&dst.b, y, x);
                ASSERT_LE(std::abs(GetRValue(now) - Over(s.r, GetRValue(was), s.a)), tolerance)
                    << bpp;
                ASSERT_LE(std::abs(GetBValue(now) - Over(s.b, GetBValue(was), s.a)), tolerance)
                    << bpp;
                ASSERT_LE(std::abs(GetGValue(now) - Over(s.g, GetGValue(was), s.a)), tolerance)
                    << bpp;
                if (s.a == 0) {
                    ASSERT_EQ(now, was) << bpp;
                }
                if (bpp == 16) {
                    ASSERT_EQ(L_RowPtr(&dst.b, y)[x * 2 + 1] & 0x80,
                              L_RowPtr(&before.b, y)[x * 2 + 1] & 0x80);
                }
            }
    }
}

TEST(AlphaCompositing, RefusesMissingBitmapsAndWrongDepths) {
    Bmp a(4, 4, 32), b24(4, 4, 24);
    BITMAPHANDLE empty;
    EXPECT_EQ(AlphaBlendBitmapRects32(&a.b, 0, 0, 4, 4, &b24.b, 0, 0), ERROR_BITPERPIXEL);
    EXPECT_EQ(AlphaBlendBitmapRects32(nullptr, 0, 0, 4, 4, &a.b, 0, 0), ERROR_NO_BITMAP);
    EXPECT_EQ(AlphaBlendBitmapRects32(&a.b, 0, 0, 4, 4, &empty, 0, 0), ERROR_NO_BITMAP);
    EXPECT_EQ(AlphaCombineBitmapRects32(&b24.b, 0, 0, 4, 4, &a.b, 0, 0), ERROR_BITPERPIXEL);
    // Nothing to do is not an error.
    EXPECT_EQ(AlphaBlendBitmapRects32(&a.b, 10, 10, 4, 4, &a.b, 0, 0), SUCCESS);
    EXPECT_EQ(AlphaCombineBitmapRects32(&a.b, 0, 0, -4, 4, &a.b, 0, 0), SUCCESS);
}

} // namespace
