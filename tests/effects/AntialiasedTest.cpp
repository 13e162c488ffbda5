// Antialiased lines, ellipses and brush masks: the share of each pixel the shape covers,
// against a supersampled reference (128 x 128 samples a pixel). Shapes are read back from a
// transparent layer, whose alpha the paint raises by exactly that share.

#include <gtest/gtest.h>

#include "EffectsTestUtil.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using efx::Bmp;
using efx::Reference;

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
    // Flat, steep, diagonal, odd slopes, thin and wide, a dot, and lines leaving the layer;
    // a flat one whose edge rows it covers only a quarter of the way down, along their length.
    const Case cases[] = {{2, 3, 17, 3, 1.0},   {4, 2, 4, 18, 1.3},   {1, 1, 18, 18, 2.0},
                          {3, 15, 19, 6, 0.6},  {2, 4, 9, 19, 3.7},   {10, 10, 10, 10, 5.0},
                          {-5, 8, 30, 12, 2.5}, {6, -3, 14, 25, 7.2}, {0, 19, 19, 0, 0.25},
                          {2, 10, 17, 10, 1.5}};
    for (const Case& c : cases) {
        Bmp layer(20, 20, 32), gray = efx::GrayLayer(20, 20);
        ASSERT_EQ(
            DrawAntialiasedLine(&layer.b, c.x0, c.y0, c.x1, c.y1, c.width, RGB(255, 255, 255), 0),
            SUCCESS);
        ASSERT_EQ(DrawAntialiasedLine(&gray.b, c.x0, c.y0, c.x1, c.y1, c.width, 255, 1), SUCCESS);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) {
                const double e = 255 * Reference(x, y, [&](double px, double py) {
                                     return NearSegment(px, py, c.x0 + 0.5, c.y0 + 0.5, c.x1 + 0.5,
                                                        c.y1 + 0.5, c.width / 2);
                                 });
                ASSERT_LE(std::abs(Alpha(layer, x, y) - e), 2.0)
                    << c.x0 << "," << c.y0 << "-" << c.x1 << "," << c.y1 << " w " << c.width
                    << " at " << x << "," << y;
                // The colour goes on by the same share, and gray levels too.
                ASSERT_EQ(L_RowPtr(&layer.b, y)[x * 4 + 1], Alpha(layer, x, y));
                ASSERT_EQ(L_RowPtr(&gray.b, y)[x], Alpha(layer, x, y));
            }
    }
    Bmp layer(4, 4, 32);
    EXPECT_EQ(DrawAntialiasedLine(&layer.b, 0, 0, 3, 3, 0.0, 200, 1), ERROR_INV_PARAMETER);
    EXPECT_EQ(DrawAntialiasedLine(&layer.b, 0, 0, 3, 3, NAN, 200, 1), ERROR_INV_PARAMETER);
}

TEST(AntialiasedEllipse, OutlineInsideTheRectangleAndFillWithinEachByItsShare) {
    struct Case {
        int l, t, r, b, width, style;
    };
    // Hollow and filled, thin and thick, a circle, corners given backwards, one that leaves
    // the layer, a fill without outline, an outline thicker than the ellipse, one of a
    // pixel or two, and the flat top of a photo-sized one, whose rows each cross many of its
    // polygon's vertices.
    const Case cases[] = {{2, 3, 20, 14, 1, 0},        {1, 1, 21, 21, 3, 1}, {20, 18, 4, 2, 2, 1},
                          {-6, 5, 15, 30, 4, 1},       {3, 4, 19, 17, 1, 2}, {5, 5, 11, 15, 9, 1},
                          {0, 0, 22, 9, 2, 0},         {8, 8, 9, 10, 1, 1},  {14, 3, 16, 5, 3, 1},
                          {-1500, 3, 1500, 2003, 4, 1}};
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

namespace {

TEST(BrushMask, FadesFromAFullCoreToTheRimByTheSoftnessAsEachToolAsksForIt) {
    struct Case {
        int transparency, roundness, w, h, flag;
        double softness;
    };
    // The brush at several soft edges, the history brush's S-shaped fade, the airbrush at
    // 25 % pressure, the smudge, the clone brush; tiny and odd sizes, an oval, a square and a
    // shape between the two.
    const Case cases[] = {
        {2, 255, 20, 20, 0, 100}, {2, 255, 21, 21, 0, 50},    {2, 255, 17, 17, 0, 0},
        {2, 255, 16, 16, 3, 30},  {191, 255, 13, 13, 0, 100}, {2, 255, 9, 9, 1, 100},
        {1, 255, 1, 1, 0, 100},   {1, 255, 2, 2, 0, 0},       {0, 255, 9, 14, 0, 40},
        {0, 0, 12, 12, 0, 50},    {0, 0, 7, 10, 1, 0},        {0, 128, 15, 15, 0, 60},
        {0, 255, 6, 6, 0, 150},   {0, 0, 24, 24, 0, 100},     {0, 0, 20, 20, 1, 20},
        {0, 128, 30, 30, 1, 15},  {0, 255, 40, 40, 0, 8},     {0, 255, 33, 33, 0, 12}};
    for (const Case& c : cases) {
        std::vector<uint8_t> mask(size_t(c.w) * size_t(c.h), 77);
        ASSERT_EQ(CreateAntialiasedBrush(c.transparency, 255, c.roundness, c.w, c.h, mask.data(),
                                         c.flag, c.softness),
                  SUCCESS);
        const double cx = c.w / 2.0, cy = c.h / 2.0, soft = std::min(c.softness, 100.0) / 100,
                     k = c.roundness / 255.0;
        const auto coverage = [&](double px, double py) {
            const double u = std::fabs(px - cx) / cx, v = std::fabs(py - cy) / cy;
            const double d = k * std::hypot(u, v) + (1 - k) * std::max(u, v);
            if (d >= 1) return 0.0;
            if (d <= 1 - soft) return 1.0;
            const double t = (1 - d) / soft;
            return c.flag ? t * t * (3 - 2 * t) : t;
        };
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const double e = Reference(x, y, coverage) * (255 - c.transparency);
                ASSERT_LE(std::abs(mask[size_t(y * c.w + x)] - e), 2.0)
                    << c.transparency << " " << c.roundness << " " << c.w << "x" << c.h << " flag "
                    << c.flag << " soft " << c.softness << " at " << x << "," << y;
            }
    }
    std::vector<uint8_t> mask(4);
    EXPECT_EQ(CreateAntialiasedBrush(256, 255, 255, 2, 2, mask.data(), 0, 0), ERROR_INV_PARAMETER);
    EXPECT_EQ(CreateAntialiasedBrush(0, 255, 255, 0, 2, mask.data(), 0, 0), ERROR_INV_RANGE);
    EXPECT_EQ(CreateAntialiasedBrush(0, 255, 255, 2, 2, nullptr, 0, 0), ERROR_INV_PARAMETER);
}

} // namespace
