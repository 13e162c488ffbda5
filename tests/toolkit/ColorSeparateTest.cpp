// Colour separation into gray planes and merging back: the planes hold what the colour
// models say, and an unedited separate-then-merge gives the picture back, checked over
// every one of the 2^24 colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "TestBitmap.h"
#include "Toolkit.h"

namespace {

using tb::Bmp;

struct Planes {
    BITMAPHANDLE p[4];
    ~Planes() {
        for (BITMAPHANDLE& b : p) L_FreeBitmap(&b);
    }
};

int Count(L_UINT type) { return type == COLORSEP_CMYK ? 4 : 3; }

void RandomBytes(BITMAPHANDLE& b, unsigned seed) {
    std::mt19937 rng(seed);
    for (size_t i = 0; i < b.Size; ++i) b.Addr[i] = uint8_t(rng());
}

// The largest channel difference after separate-then-merge of every 24-bit colour (as a
// 4096 x 4096 32-bit picture), by chroma (max - min), and on the largest and smallest channel.
struct RoundTrip {
    int worstAtChroma[256] = {};
    int worstMax = 0, worstMin = 0, grayErrors = 0;
};

RoundTrip SeparateMerge(L_UINT type) {
    static Bmp all(4096, 4096, 32);
    static const bool filled = [] {
        for (uint32_t c = 0; c < (1u << 24); ++c) {
            uint8_t* p = L_RowPtr(&all.b, int(c >> 12)) + (c & 4095) * 4;
            p[0] = uint8_t(c), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c >> 16),
            p[3] = uint8_t(c * 2654435761u >> 24);
        }
        return true;
    }();
    EXPECT_TRUE(filled);
    RoundTrip rt;
    Planes planes;
    Bmp merged;
    EXPECT_EQ(L_ColorSeparateBitmap(&all.b, planes.p, type), SUCCESS);
    EXPECT_EQ(L_ColorMergeBitmap(&merged.b, planes.p, type), SUCCESS);
    EXPECT_EQ(merged.b.BitsPerPixel, 24);
    for (int y = 0; y < 4096; ++y) {
        const uint8_t* s = L_RowPtr(&all.b, y);
        const uint8_t* m = L_RowPtr(&merged.b, y);
        for (int x = 0; x < 4096; ++x, s += 4, m += 3) {
            const int mx = std::max({s[0], s[1], s[2]}), mn = std::min({s[0], s[1], s[2]});
            int worst = 0;
            for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(int(s[k]) - int(m[k])));
            rt.worstAtChroma[mx - mn] = std::max(rt.worstAtChroma[mx - mn], worst);
            rt.worstMax = std::max(rt.worstMax, std::abs(mx - std::max({m[0], m[1], m[2]})));
            rt.worstMin = std::max(rt.worstMin, std::abs(mn - std::min({m[0], m[1], m[2]})));
            rt.grayErrors += mx == mn && worst != 0;
        }
    }
    return rt;
}

int Worst(const RoundTrip& rt, int fromChroma, int toChroma) {
    return *std::max_element(rt.worstAtChroma + fromChroma, rt.worstAtChroma + toChroma + 1);
}

TEST(ColorSeparate, RgbCmyAndCmykGiveEveryColourBackExactly) {
    for (L_UINT type : {COLORSEP_RGB, COLORSEP_CMY, COLORSEP_CMYK})
        EXPECT_EQ(Worst(SeparateMerge(type), 0, 255), 0) << type;
}

TEST(ColorSeparate, HsvAndHlsGiveEveryColourBackWithinHalfAHueStep) {
    // 256 hue steps cannot hold the 1530 hues of saturated colours: the middle channel
    // may move by half a hue step, chroma * 3 / 256 levels, rounded. That is nothing up to
    // a chroma of 42, one level up to 127 and three at full chroma. HLS also moves max or
    // min by one level when max + min is odd, widening the chroma by one.
    for (L_UINT type : {COLORSEP_HSV, COLORSEP_HLS}) {
        SCOPED_TRACE(type == COLORSEP_HSV ? "HSV" : "HLS");
        const bool hsv = type == COLORSEP_HSV;
        const RoundTrip rt = SeparateMerge(type);
        EXPECT_EQ(rt.grayErrors, 0);
        for (int c = 0; c < 256; ++c) {
            const int bound =
                hsv ? (3 * c + 128) / 256 : std::max(c & 1, (3 * (c + 1) + 128) / 256);
            EXPECT_LE(rt.worstAtChroma[c], bound) << "chroma " << c;
        }
        EXPECT_LE(Worst(rt, 0, 127), 1);
        EXPECT_LE(Worst(rt, 0, 255), 3);
        // Value and saturation keep max and min exact in HSV.
        EXPECT_EQ(rt.worstMax, hsv ? 0 : 1);
        EXPECT_EQ(rt.worstMin, hsv ? 0 : 1);
    }
}

// Checks one colour's planes against the textbook formulas in floating point.
void ExpectPlanes(L_UINT type, COLORREF colour, const int v[4]) {
    const int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b}), c = mx - mn;
    double hue = 0;
    if (c > 0) {
        const double h6 = mx == r   ? double(g - b) / c
                          : mx == g ? 2.0 + double(b - r) / c
                                    : 4.0 + double(r - g) / c;
        hue = (h6 < 0 ? h6 + 6 : h6) * 256.0 / 6.0;
    }
    double e[4] = {};
    switch (type) {
        case COLORSEP_RGB: e[0] = r, e[1] = g, e[2] = b; break;
        case COLORSEP_CMY: e[0] = 255 - r, e[1] = 255 - g, e[2] = 255 - b; break;
        case COLORSEP_CMYK:
            for (int k = 0; k < 3; ++k)
                e[k] = mx == 0 ? 0 : (mx - (k == 0 ? r : k == 1 ? g : b)) * 255.0 / mx;
            e[3] = 255 - mx;
            break;
        case COLORSEP_HSV: e[0] = hue, e[1] = mx == 0 ? 0 : 255.0 * c / mx, e[2] = mx; break;
        case COLORSEP_HLS: {
            e[0] = hue, e[1] = (mx + mn) / 2.0;
            // Saturation by what it means: the chroma it rebuilds at the stored lightness.
            const int span = v[1] < 128 ? 2 * v[1] : 510 - 2 * v[1];
            EXPECT_LE(std::abs((v[2] * span + 127) / 255 - c), 1) << std::hex << colour;
            break;
        }
    }
    for (int i = 0; i < (type == COLORSEP_HLS ? 2 : Count(type)); ++i) {
        const bool isHue = i == 0 && (type == COLORSEP_HSV || type == COLORSEP_HLS);
        double d = std::abs(v[i] - e[i]), tolerance = 0.5 + 1e-9;
        if (isHue) {
            d = c == 0 ? 0 : std::min(d, 256 - d); // around the circle
            // HLS measures hue against a max or min moved by a level, which moves it by up
            // to a sextant (256 / 6 steps) over the chroma.
            if (type == COLORSEP_HLS) tolerance += 256.0 / 6 / std::max(c - 1, 1);
        }
        EXPECT_LE(d, tolerance) << "type " << type << " plane " << i << " colour " << std::hex
                                << colour;
    }
}

TEST(ColorSeparate, PlanesHoldTheColourModelsChannelsForEveryDepth) {
    for (int bpp : {4, 16, 24}) {
        Bmp src(97, 31, bpp, BOTTOM_LEFT);
        RandomBytes(src.b, unsigned(bpp));
        for (L_UINT type :
             {COLORSEP_RGB, COLORSEP_CMYK, COLORSEP_HSV, COLORSEP_HLS, COLORSEP_CMY}) {
            SCOPED_TRACE(::testing::Message() << bpp << " bits");
            Planes planes;
            ASSERT_EQ(L_ColorSeparateBitmap(&src.b, planes.p, type), SUCCESS);
            for (int i = 0; i < Count(type); ++i) {
                const BITMAPHANDLE& p = planes.p[i];
                ASSERT_TRUE(p.BitsPerPixel == 8 && p.ViewPerspective == TOP_LEFT && p.Width == 97 &&
                            p.Height == 31);
                for (int k = 0; k < 256; ++k)
                    ASSERT_TRUE(p.pPalette[k].rgbRed == k && p.pPalette[k].rgbBlue == k);
            }
            for (int y = 0; y < 31; ++y)
                for (int x = 0; x < 97; ++x) {
                    int v[4] = {};
                    for (int i = 0; i < Count(type); ++i) v[i] = L_RowPtr(&planes.p[i], y)[x];
                    ExpectPlanes(type, L_GetPixelColor(&src.b, y, x), v);
                }
        }
    }
}

TEST(ColorMerge, ReadsPlanesThroughTheirPalettes) {
    Bmp src(5, 2, 24);
    L_PutPixelColor(&src.b, 1, 3, RGB(10, 20, 30));
    Planes planes;
    ASSERT_EQ(L_ColorSeparateBitmap(&src.b, planes.p, COLORSEP_RGB), SUCCESS);
    // Green reversed in index and palette alike: the same levels.
    for (int i = 0; i < 256; ++i)
        planes.p[1].pPalette[i] = RGBQUAD{uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i), 0};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) L_RowPtr(&planes.p[1], y)[x] ^= 0xFF;
    Bmp merged;
    ASSERT_EQ(L_ColorMergeBitmap(&merged.b, planes.p, COLORSEP_RGB), SUCCESS);
    EXPECT_EQ(L_GetPixelColor(&merged.b, 1, 3), RGB(10, 20, 30));
    EXPECT_EQ(L_GetPixelColor(&merged.b, 0, 0), RGB(0, 0, 0));
}

TEST(ColorMerge, RefusesBadPlanesAndLeavesTheTargetAlone) {
    Bmp src(20, 10, 24);
    Planes planes;
    ASSERT_EQ(L_ColorSeparateBitmap(&src.b, planes.p, COLORSEP_CMYK), SUCCESS);
    L_FreeBitmap(&planes.p[3]);
    ASSERT_EQ(L_CreateBitmap(&planes.p[3], TYPE_CONV, 20, 11, 8, ORDER_BGR, nullptr, TOP_LEFT),
              SUCCESS);
    Bmp target;
    BITMAPHANDLE none[3];
    target.b.Width = 1234;
    EXPECT_EQ(L_ColorMergeBitmap(&target.b, planes.p, COLORSEP_CMYK), ERROR_INV_RANGE);
    EXPECT_TRUE(target.b.Width == 1234 && target.b.Addr == nullptr);
    EXPECT_EQ(L_ColorMergeBitmap(&target.b, planes.p, 7), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_ColorMergeBitmap(&target.b, none, COLORSEP_RGB), ERROR_NO_BITMAP);
    EXPECT_EQ(L_ColorSeparateBitmap(&src.b, planes.p, 5), ERROR_INV_PARAMETER);
    // Three planes of equal size are enough for the three-plane models.
    ASSERT_EQ(L_ColorMergeBitmap(&target.b, planes.p, COLORSEP_CMY), SUCCESS);
}

TEST(ColorSeparate, ACancelledSeparationLeavesNothingBehind) {
    Bmp src(64, 300, 24);
    STATUSCALLBACK oldFn;
    void* oldData;
    L_SetStatusCallBack(
        [](L_INT percent, void*) {
            return percent >= 50 ? L_INT(ERROR_USER_ABORT) : L_INT(SUCCESS);
        },
        nullptr, &oldFn, &oldData);
    BITMAPHANDLE planes[4];
    planes[0].Width = 77;
    EXPECT_EQ(L_ColorSeparateBitmap(&src.b, planes, COLORSEP_CMYK), ERROR_USER_ABORT);
    EXPECT_TRUE(planes[0].Width == 77 && planes[1].Addr == nullptr);
    L_SetStatusCallBack(oldFn, oldData);
}

} // namespace
