// Point operations and the level statistics, against straightforward per-pixel formulas.
#include <cmath>

#include "ProcessingTestUtil.h"

using namespace proctest;
using lt::BGRA;

namespace {

uint8_t Clamp(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

BGRA PerChannel(BGRA c, const std::function<uint8_t(int)>& f) {
    return BGRA{f(c.b), f(c.g), f(c.r), c.a};
}

// Hue, saturation and value in floating point, the textbook way.
void ToHsv(BGRA c, double* h, double* s, double* v) {
    const double r = c.r, g = c.g, b = c.b;
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b}), d = mx - mn;
    *v = mx;
    *s = mx > 0 ? d / mx : 0;
    if (d == 0)
        *h = 0;
    else if (mx == r)
        *h = 60 * std::fmod((g - b) / d + 6, 6);
    else if (mx == g)
        *h = 60 * ((b - r) / d + 2);
    else
        *h = 60 * ((r - g) / d + 4);
}
BGRA FromHsv(double h, double s, double v, uint8_t a) {
    h = std::fmod(h + 720, 360);
    const double c = v * s, x = c * (1 - std::fabs(std::fmod(h / 60, 2) - 1)), m = v - c;
    double r = 0, g = 0, b = 0;
    switch (int(h / 60)) {
        case 0: r = c, g = x; break;
        case 1: r = x, g = c; break;
        case 2: g = c, b = x; break;
        case 3: g = x, b = c; break;
        case 4: r = x, b = c; break;
        default: r = c, b = x; break;
    }
    return BGRA{Clamp(b + m), Clamp(g + m), Clamp(r + m), a};
}

int Gray(BGRA c) { return int(std::lround(0.299 * c.r + 0.587 * c.g + 0.114 * c.b)); }

} // namespace

TEST(PointOps, IntensityShiftsEveryChannelByAShareOfFullScale) {
    ExpectMapsColours(
        "intensity +200", [](BITMAPHANDLE* b) { return L_ChangeBitmapIntensity(b, 200); },
        [](BGRA c) { return PerChannel(c, [](int v) { return Clamp(v + 51); }); });
    ExpectMapsColours(
        "intensity -150", [](BITMAPHANDLE* b) { return L_ChangeBitmapIntensity(b, -150); },
        [](BGRA c) { return PerChannel(c, [](int v) { return Clamp(v - 38.25); }); });
}

TEST(PointOps, ContrastSpreadsAroundMidGray) {
    ExpectMapsColours(
        "contrast +500", [](BITMAPHANDLE* b) { return L_ChangeBitmapContrast(b, 500); },
        [](BGRA c) { return PerChannel(c, [](int v) { return Clamp(128 + (v - 128) * 2.0); }); });
    ExpectMapsColours(
        "contrast -500", [](BITMAPHANDLE* b) { return L_ChangeBitmapContrast(b, -500); },
        [](BGRA c) { return PerChannel(c, [](int v) { return Clamp(128 + (v - 128) * 0.5); }); });
    ExpectMapsColours(
        "contrast -1000", [](BITMAPHANDLE* b) { return L_ChangeBitmapContrast(b, -1000); },
        [](BGRA c) {
            return BGRA{128, 128, 128, c.a};
        });
}

TEST(PointOps, GammaAboveOneRaisesTheLevels) {
    ExpectMapsColours(
        "gamma 2.5", [](BITMAPHANDLE* b) { return L_GammaCorrectBitmap(b, 250); },
        [](BGRA c) {
            return PerChannel(c, [](int v) { return Clamp(255 * std::pow(v / 255.0, 0.4)); });
        });
}

TEST(PointOps, InvertAndPosterize) {
    ExpectMapsColours("invert", L_InvertBitmap,
                      [](BGRA c) { return PerChannel(c, [](int v) { return uint8_t(255 - v); }); });
    for (int levels : {2, 3, 4, 7, 50}) {
        ExpectMapsColours(
            "posterize", [&](BITMAPHANDLE* b) { return L_PosterizeBitmap(b, levels); },
            [&](BGRA c) {
                return PerChannel(c, [&](int v) {
                    const double q = std::floor(v * (levels - 1) / 255.0 + 0.5);
                    return uint8_t(std::floor(q * 255 / (levels - 1) + 0.5));
                });
            });
    }
}

TEST(PointOps, IntensityDetectionMarksTheGrayLevelsInRange) {
    ExpectMapsColours(
        "detect 30..200", [](BITMAPHANDLE* b) { return L_IntensityDetectBitmap(b, 30, 200); },
        [](BGRA c) {
            const uint8_t v = Gray(c) >= 30 && Gray(c) <= 200 ? 255 : 0;
            return BGRA{v, v, v, c.a};
        });
}

TEST(PointOps, SaturationMovesColoursFromTheirGrayLevel) {
    for (int amount : {-1000, -400, 600}) {
        ExpectMapsColours(
            "saturation", [&](BITMAPHANDLE* b) { return L_ChangeBitmapSaturation(b, amount); },
            [&](BGRA c) {
                const double y = (c.r * 77 + c.g * 150 + c.b * 29 + 128) / 256;
                return PerChannel(
                    c, [&](int v) { return Clamp(y + (v - y) * (1 + amount / 1000.0)); });
            });
    }
}

TEST(PointOps, HueTurnsTheColourCircle) {
    for (int angle : {-90, 45, 120, 360}) {
        ExpectMapsColours(
            "hue", [&](BITMAPHANDLE* b) { return L_ChangeBitmapHue(b, angle); },
            [&](BGRA c) {
                double h, s, v;
                ToHsv(c, &h, &s, &v);
                return FromHsv(h + angle, s, v, c.a);
            },
            1);
    }
    // A third of the circle is an exact exchange of the channels.
    TOwnedBitmap b = RandomBitmap(8, 8, {24, false}, 5), before;
    ASSERT_EQ(L_CopyBitmap(before.get(), b.get()), SUCCESS);
    ASSERT_EQ(L_ChangeBitmapHue(b.get(), 120), SUCCESS);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const BGRA o = At(before.get(), x, y);
            EXPECT_EQ(At(b.get(), x, y), (BGRA{o.g, o.r, o.b, 255}));
        }
}

TEST(LevelStatistics, AutoContrastStretchesTheGrayLevelsToTheFullRange) {
    // Gray levels 60..160 plus one colour pixel, which moves by its level's change; darker
    // and lighter pixels outside the region neither count nor change.
    for (int bpp : {24, 32}) {
        TOwnedBitmap b;
        ASSERT_EQ(L_CreateBitmap(b.get(), TYPE_CONV, 103, 2, bpp, ORDER_BGR, nullptr, TOP_LEFT),
                  SUCCESS);
        for (int x = 0; x < 101; ++x) L_PutPixelColor(b.get(), 0, x, RGB(60 + x, 60 + x, 60 + x));
        for (int x = 0; x < 101; ++x) L_PutPixelColor(b.get(), 1, x, RGB(100, 100, 100));
        L_PutPixelColor(b.get(), 1, 0, RGB(140, 90, 80)); // gray level 104
        for (int y = 0; y < 2; ++y) {
            L_PutPixelColor(b.get(), y, 101, RGB(10, 10, 10));
            L_PutPixelColor(b.get(), y, 102, RGB(250, 250, 250));
        }
        const RECT inside{0, 0, 101, 2};
        ASSERT_EQ(L_SetBitmapRgnRect(b.get(), nullptr, &inside, L_RGN_SET), SUCCESS);
        ASSERT_EQ(L_StretchBitmapIntensity(b.get()), SUCCESS);
        EXPECT_EQ(L_GetPixelColor(b.get(), 0, 0), RGB(0, 0, 0)) << bpp;
        EXPECT_EQ(L_GetPixelColor(b.get(), 0, 100), RGB(255, 255, 255)) << bpp;
        EXPECT_EQ(L_GetPixelColor(b.get(), 0, 50), RGB(128, 128, 128)) << bpp;
        const int d = int(std::lround((104 - 60) * 2.55)) - 104;
        EXPECT_EQ(L_GetPixelColor(b.get(), 1, 0), RGB(140 + d, 90 + d, 80 + d)) << bpp;
        EXPECT_EQ(L_GetPixelColor(b.get(), 1, 101), RGB(10, 10, 10)) << bpp;
    }
}

TEST(LevelStatistics, EqualizeSpreadsLevelsByTheirShareOfPixels) {
    // Three gray levels taking 1/4, 1/4 and 1/2 of an 8-bit gray image; the statistics
    // come from the region only, so a level outside it counts for nothing.
    TOwnedBitmap b = RandomBitmap(8, 5, {8, true}, 1);
    for (int x = 0; x < 8; ++x) {
        const uint8_t v = x < 2 ? 10 : x < 4 ? 20 : 30;
        for (int y = 0; y < 4; ++y) L_RowPtr(b.get(), y)[x] = v;
        L_RowPtr(b.get(), 4)[x] = 250;
    }
    const RECT r{0, 0, 8, 4};
    ASSERT_EQ(L_SetBitmapRgnRect(b.get(), nullptr, &r, L_RGN_SET), SUCCESS);
    ASSERT_EQ(L_HistoEqualizeBitmap(b.get()), SUCCESS);
    EXPECT_EQ(L_RowPtr(b.get(), 0)[0], 0);
    EXPECT_EQ(L_RowPtr(b.get(), 0)[2], 85); // (16 - 8) / (32 - 8)
    EXPECT_EQ(L_RowPtr(b.get(), 3)[7], 255);
    EXPECT_EQ(L_RowPtr(b.get(), 4)[0], 250) << "outside the region";

    // A palette image: the mapping goes into the palette, the colour count stays.
    TOwnedBitmap p = RandomBitmap(16, 16, {8, false}, 9), before;
    ASSERT_EQ(L_CopyBitmap(before.get(), p.get()), SUCCESS);
    ASSERT_EQ(L_HistoEqualizeBitmap(p.get()), SUCCESS);
    EXPECT_EQ(std::memcmp(p->Addr, before->Addr, p->Size), 0);
    EXPECT_NE(std::memcmp(p->pPalette, before->pPalette, 1024), 0);
}

TEST(LevelStatistics, ColourImagesKeepTheirHueWhileTheLevelMoves) {
    TOwnedBitmap b = RandomBitmap(32, 32, {32, false}, 3), before;
    ASSERT_EQ(L_CopyBitmap(before.get(), b.get()), SUCCESS);
    ASSERT_EQ(L_HistoEqualizeBitmap(b.get()), SUCCESS);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const BGRA o = At(before.get(), x, y), n = At(b.get(), x, y);
            const int d = n.g - o.g;
            if (n.r > 0 && n.r < 255 && n.b > 0 && n.b < 255 && n.g > 0 && n.g < 255) {
                ASSERT_TRUE(n.r - o.r == d && n.b - o.b == d) << x << "," << y;
            }
            ASSERT_EQ(n.a, o.a);
        }
}

namespace {
L_INT CancelAtOnce(L_INT, void*) { return ERROR_USER_ABORT; }
} // namespace

// A cancelled operation on a record sharing its block leaves both records as they were,
// still sharing.
TEST(PointOps, ACancelOnASharedBitmapChangesNeitherHolder) {
    TOwnedBitmap b = RandomBitmap(64, 300, {32, false}, 5), before, shared;
    ASSERT_EQ(L_CopyBitmap(before.get(), b.get()), SUCCESS);
    ASSERT_EQ(L_ShareBitmap(shared.get(), b.get()), SUCCESS);
    STATUSCALLBACK old = nullptr;
    void* oldUser = nullptr;
    L_SetStatusCallBack(CancelAtOnce, nullptr, &old, &oldUser);
    const L_INT rc = L_ChangeBitmapIntensity(shared.get(), 300);
    L_SetStatusCallBack(old, oldUser);
    EXPECT_EQ(rc, ERROR_USER_ABORT);
    EXPECT_EQ(shared->Addr, b->Addr);
    EXPECT_EQ(std::memcmp(b->Addr, before->Addr, b->Size), 0);
}
