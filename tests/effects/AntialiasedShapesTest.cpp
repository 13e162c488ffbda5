// Antialiased lines and ellipses: the share of each pixel the shape covers, against a
// supersampled reference (128 x 128 samples a pixel), read back from a transparent
// layer whose alpha the paint raises by exactly that share.

#include <gtest/gtest.h>

#include "EffectsTestUtil.h"

#include <cmath>
#include <cstring>
#include <functional>

namespace {

using efx::Bmp;

// The share of pixel (x, y) for which inside(px, py) holds, sampled on a 128 x 128 grid
// (off-centre, so that no edge of the tests runs along a line of samples). Pixels whose
// corners and 17 x 17 points all agree are wholly in or out: no shape here is thin enough to
// slip between those points.
double Reference(int x, int y, const std::function<bool(double, double)>& inside) {
    int hits = 0;
    for (int j = 0; j <= 16; ++j)
        for (int i = 0; i <= 16; ++i) hits += inside(x + i / 16.0, y + j / 16.0);
    if (hits == 0 || hits == 17 * 17) return hits ? 1 : 0;
    const int n = 128;
    hits = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) hits += inside(x + (i + 0.37) / n, y + (j + 0.61) / n);
    return double(hits) / (n * n);
}

bool NearSegment(double px, double py, double ax, double ay, double bx, double by, double r) {
    const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0, 1.0) : 0;
    return std::hypot(px - ax - t * dx, py - ay - t * dy) <= r;
}

bool InEllipse(double px, double py, double cx, double cy, double rx, double ry) {
    if (rx <= 0 || ry <= 0) return false;
    const double u = (px - cx) / rx, v = (py - cy) / ry;
    return u * u + v * v <= 1;
}

int Alpha(const Bmp& b, int x, int y) { return L_RowPtr(&b.b, y)[x * 4 + 3]; }

TEST(AntialiasedLine, CoversEachPixelByTheShareOfItUnderTheLineWithRoundEnds) {
    struct Case {
        int x0, y0, x1, y1;
        double width;
    };
    // Flat, steep, diagonal, odd slopes, thin and wide, a dot, and lines leaving the layer.
    const Case cases[] = {{2, 3, 17, 3, 1.0},   {4, 2, 4, 18, 1.3},   {1, 1, 18, 18, 2.0},
                          {3, 15, 19, 6, 0.6},  {2, 4, 9, 19, 3.7},   {10, 10, 10, 10, 5.0},
                          {-5, 8, 30, 12, 2.5}, {6, -3, 14, 25, 7.2}, {0, 19, 19, 0, 0.25}};
    for (const Case& c : cases) {
        Bmp layer(20, 20, 32);
        ASSERT_EQ(
            DrawAntialiasedLine(&layer.b, c.x0, c.y0, c.x1, c.y1, c.width, RGB(255, 255, 255), 0),
            SUCCESS);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) {
                const double e = 255 * Reference(x, y, [&](double px, double py) {
                                     return NearSegment(px, py, c.x0 + 0.5, c.y0 + 0.5, c.x1 + 0.5,
                                                        c.y1 + 0.5, c.width / 2);
                                 });
                ASSERT_LE(std::abs(Alpha(layer, x, y) - e), 2.0)
                    << c.x0 << "," << c.y0 << "-" << c.x1 << "," << c.y1 << " w " << c.width
                    << " at " << x << "," << y;
                // The colour goes on by the same share.
                ASSERT_EQ(L_RowPtr(&layer.b, y)[x * 4 + 1], Alpha(layer, x, y));
            }
    }
}

TEST(AntialiasedLine, PaintsGrayLevelsAndStaysInsideTheRegion) {
    RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    Bmp layer(16, 16, 8);
    std::memcpy(layer.b.pPalette, pal, sizeof pal);
    std::memset(layer.b.Addr, 40, layer.b.Size);
    const RECT part{0, 0, 8, 16};
    ASSERT_EQ(L_SetBitmapRgnRect(&layer.b, nullptr, &part, L_RGN_SET), SUCCESS);
    ASSERT_EQ(DrawAntialiasedLine(&layer.b, 1, 3, 14, 11, 2.0, 200, 1), SUCCESS);
    int painted = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int v = L_RowPtr(&layer.b, y)[x];
            const double cov = Reference(x, y, [](double px, double py) {
                return NearSegment(px, py, 1.5, 3.5, 14.5, 11.5, 1);
            });
            const double e = x < 8 ? 40 + (200 - 40) * cov : 40;
            ASSERT_LE(std::abs(v - e), 2.0) << x << "," << y;
            painted += v != 40;
        }
    EXPECT_GT(painted, 10);
    EXPECT_EQ(DrawAntialiasedLine(&layer.b, 0, 0, 5, 5, 0.0, 200, 1), ERROR_INV_PARAMETER);
    EXPECT_EQ(DrawAntialiasedLine(&layer.b, 0, 0, 5, 5, NAN, 200, 1), ERROR_INV_PARAMETER);
}

TEST(AntialiasedEllipse, OutlineInsideTheRectangleAndFillWithinEachByItsShare) {
    struct Case {
        int l, t, r, b, width, style;
    };
    // Hollow and filled, thin and thick, a circle, corners given backwards, one that leaves
    // the layer, a fill without outline and an outline thicker than the ellipse.
    const Case cases[] = {{2, 3, 20, 14, 1, 0},  {1, 1, 21, 21, 3, 1}, {20, 18, 4, 2, 2, 1},
                          {-6, 5, 15, 30, 4, 1}, {3, 4, 19, 17, 1, 2}, {5, 5, 11, 15, 9, 1},
                          {0, 0, 22, 9, 2, 0}};
    for (const Case& c : cases) {
        Bmp layer(22, 22, 32);
        ASSERT_EQ(DrawAntialiasedEllipse(&layer.b, c.l, c.t, c.r, c.b, c.width, RGB(255, 0, 0),
                                         RGB(0, 0, 255), c.style, 0),
                  SUCCESS);
        const double cx = (c.l + c.r) / 2.0, cy = (c.t + c.b) / 2.0, rx = std::abs(c.r - c.l) / 2.0,
                     ry = std::abs(c.b - c.t) / 2.0;
        const double w = c.style == 2 ? 0 : c.width;
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 22; ++x) {
                const double all = 255 * Reference(x, y, [&](double px, double py) {
                                       return InEllipse(px, py, cx, cy, rx, ry);
                                   });
                const double in = 255 * Reference(x, y, [&](double px, double py) {
                                      return InEllipse(px, py, cx, cy, rx - w, ry - w);
                                  });
                const uint8_t* p = L_RowPtr(&layer.b, y) + x * 4;
                SCOPED_TRACE(::testing::Message()
                             << c.l << "," << c.t << "," << c.r << "," << c.b << " style "
                             << c.style << " at " << x << "," << y);
                // Red is the outline's share, blue the fill's, alpha both.
                ASSERT_LE(std::abs(p[2] - (all - in)), 2.5);
                ASSERT_LE(std::abs(p[0] - (c.style == 0 ? 0 : in)), 2.5);
                ASSERT_LE(std::abs(p[3] - (c.style == 0 ? all - in : all)), 2.0);
            }
    }
}

} // namespace
