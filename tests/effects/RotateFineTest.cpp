#include <cmath>
#include <numbers>

#include "EffectsTestUtil.h"

using namespace efx;

namespace {

// Straight bilinear in doubles: destination pixel centres carried back into the source, taps
// outside the source taking the fill colour.
lt::BGRA Reference(const BITMAPHANDLE& s, int dw, int dh, double deg, int x, int y, lt::BGRA fill) {
    const double a = deg * std::numbers::pi / 180, c = std::cos(a), si = std::sin(a);
    const double dx = x + 0.5 - dw / 2.0, dy = y + 0.5 - dh / 2.0;
    const double u = s.Width / 2.0 + c * dx + si * dy - 0.5,
                 v = s.Height / 2.0 - si * dx + c * dy - 0.5;
    const int ix = int(std::floor(u)), iy = int(std::floor(v));
    const double fx = u - ix, fy = v - iy;
    auto tap = [&](int px, int py) {
        return px >= 0 && py >= 0 && px < s.Width && py < s.Height ? Pixel(s, px, py) : fill;
    };
    const lt::BGRA p[4] = {tap(ix, iy), tap(ix + 1, iy), tap(ix, iy + 1), tap(ix + 1, iy + 1)};
    const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    double out[4] = {};
    for (int k = 0; k < 4; ++k) {
        out[0] += w[k] * p[k].b;
        out[1] += w[k] * p[k].g;
        out[2] += w[k] * p[k].r;
        out[3] += w[k] * p[k].a;
    }
    return lt::BGRA{uint8_t(std::lround(out[0])), uint8_t(std::lround(out[1])),
                    uint8_t(std::lround(out[2])), uint8_t(std::lround(out[3]))};
}

} // namespace

TEST(RotateFine, MatchesBilinearReferenceOnAGrownCanvasWithAlphaAndOpaqueCorners) {
    const COLORREF fill = RGB(10, 220, 130);
    const lt::BGRA fillPx{130, 220, 10, 255};
    for (int angle : {1234, -4567, 17550}) {
        const Bmp src = Blocks(61, 37, 32, unsigned(angle));
        Bmp b(src);
        ASSERT_EQ(Lx_RotateBitmapFine(&b.b, angle, LX_ROTATE_GROW, fill), SUCCESS);
        const double a = angle * std::numbers::pi / 18000;
        EXPECT_EQ(b.b.Width,
                  int(std::ceil(61 * std::fabs(std::cos(a)) + 37 * std::fabs(std::sin(a)) - 1e-6)));
        EXPECT_EQ(b.b.Height,
                  int(std::ceil(61 * std::fabs(std::sin(a)) + 37 * std::fabs(std::cos(a)) - 1e-6)));
        EXPECT_EQ(b.b.BitsPerPixel, 32);
        int worst = 0;
        for (int y = 0; y < b.b.Height; ++y)
            for (int x = 0; x < b.b.Width; ++x) {
                const lt::BGRA got = Pixel(b.b, x, y),
                               want = Reference(src.b, b.b.Width, b.b.Height, angle / 100.0, x, y,
                                                fillPx);
                worst = std::max({worst, std::abs(got.b - want.b), std::abs(got.g - want.g),
                                  std::abs(got.r - want.r), std::abs(got.a - want.a)});
            }
        EXPECT_LE(worst, 2) << angle;
        const lt::BGRA corner = Pixel(b.b, 0, 0);
        EXPECT_EQ(corner.r, 10);
        EXPECT_EQ(corner.g, 220);
        EXPECT_EQ(corner.a, 255);
    }
}

TEST(RotateFine, ArgumentsAndTrivialTurns) {
    Bmp b = Blocks(30, 20, 32, 3);
    const Bmp before(b);
    EXPECT_EQ(Lx_RotateBitmapFine(nullptr, 100, LX_ROTATE_GROW, 0), ERROR_NO_BITMAP);
    EXPECT_EQ(Lx_RotateBitmapFine(&b.b, 100, 2, 0), ERROR_INV_PARAMETER);
    EXPECT_EQ(Lx_RotateBitmapFine(&b.b, 0, LX_ROTATE_GROW, 0), SUCCESS);
    EXPECT_EQ(Lx_RotateBitmapFine(&b.b, 36000, LX_ROTATE_GROW, 0), SUCCESS);
    EXPECT_TRUE(b.Same(before));
    // A full turn more is the same turn; without growing the canvas keeps its size.
    Bmp c(before);
    ASSERT_EQ(Lx_RotateBitmapFine(&b.b, 1000, LX_ROTATE_GROW, 0), SUCCESS);
    ASSERT_EQ(Lx_RotateBitmapFine(&c.b, 37000, LX_ROTATE_GROW, 0), SUCCESS);
    EXPECT_TRUE(b.Same(c));
    Bmp d(before);
    ASSERT_EQ(Lx_RotateBitmapFine(&d.b, 1000, 0, 0), SUCCESS);
    EXPECT_EQ(d.b.Width, 30);
    EXPECT_EQ(d.b.Height, 20);
}
