// Combining, filling and underlaying bitmaps through regions, checked pixel by pixel
// against direct computations on snapshots of the inputs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "TestBitmap.h"
#include "Toolkit.h"

namespace {

using tb::Bmp;
using tb::Randomize;
using tb::Raw;

// A region of runs of 1..9 pixels.
void RandomRegion(BITMAPHANDLE& b, unsigned seed) {
    std::mt19937 rng(seed);
    Bmp mask(b.Width, b.Height, 1);
    for (int y = 0; y < b.Height; ++y) {
        bool on = rng() & 1;
        for (int x = 0; x < b.Width; on = !on)
            for (int n = 1 + int(rng() % 9); n > 0 && x < b.Width; --n, ++x)
                if (on) L_PutPixelColor(&mask.b, y, x, PALETTEINDEX(1));
    }
    ASSERT_EQ(L_SetBitmapRgnFromMask(&b, nullptr, &mask.b, L_RGN_SET), SUCCESS);
}

bool InRegion(const BITMAPHANDLE& b, int x, int y) { return L_IsPtInBitmapRgn(&b, y, x) == 1; }

const RGBQUAD* GrayRamp() {
    static RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return pal;
}

uint8_t Mul(unsigned a, unsigned b) { return uint8_t((a * b + 127) / 255); }

// Multiplies the three colour bytes and keeps the fourth (alpha) of d.
uint32_t MulBGR(uint32_t d, uint32_t s) {
    uint32_t r = d & 0xFF000000u;
    for (int k = 0; k < 3; ++k)
        r |= uint32_t(Mul((d >> (8 * k)) & 255, (s >> (8 * k)) & 255)) << (8 * k);
    return r;
}

uint32_t Logical(L_UINT op, uint32_t d, uint32_t s, uint32_t mask) {
    switch (op) {
        case CB_OP_AND: return d & s;
        case CB_OP_ANDNOTSRC: return d & ~s & mask;
        case CB_OP_OR: return d | s;
        default: return ~s & mask; // CB_OP_NOTSRC
    }
}

// Combines into a copy of dst and checks every pixel: inside the clipped rectangle and
// both regions it must be expect(oldDst, src), elsewhere unchanged.
template <class Expect>
void CheckCombine(const Bmp& dst, const Bmp& src, int xd, int yd, int w, int h, int xs, int ys,
                  L_UINT op, Expect expect) {
    Bmp out(dst);
    ASSERT_EQ(L_CombineBitmap(&out.b, xd, yd, w, h, &src.b, xs, ys, op), SUCCESS);
    for (int y = 0, bad = 0; y < dst.b.Height; ++y)
        for (int x = 0; x < dst.b.Width; ++x) {
            const int sx = x - xd + xs, sy = y - yd + ys;
            const bool written = x - xd >= 0 && x - xd < w && y - yd >= 0 && y - yd < h &&
                                 sx >= 0 && sx < src.b.Width && sy >= 0 && sy < src.b.Height &&
                                 InRegion(dst.b, x, y) && InRegion(src.b, sx, sy);
            const uint32_t want =
                written ? expect(Raw(dst.b, x, y), Raw(src.b, sx, sy)) : Raw(dst.b, x, y);
            if (Raw(out.b, x, y) != want && ++bad <= 3)
                ADD_FAILURE() << "pixel (" << x << "," << y << ") = " << Raw(out.b, x, y)
                              << ", expected " << want << (written ? " (written)" : " (untouched)");
        }
}

} // namespace

TEST(CombineBitmap, MagicWandMaskOpsAtAnyOffsetNearTheEdges) {
    // An image-sized selection and a smaller wand result placed at every bit phase,
    // partly or wholly outside the image, including negative offsets.
    Bmp sel(45, 31, 1), wand(19, 11, 1);
    Randomize(sel.b, 1);
    Randomize(wand.b, 2);
    for (L_UINT op : {CB_OP_OR, CB_OP_NOTSRC, CB_OP_ANDNOTSRC, CB_OP_AND}) {
        auto expect = [op](uint32_t d, uint32_t s) { return Logical(op, d, s, 1); };
        for (int xd = -21; xd <= 47; ++xd)
            for (int yd : {-12, -4, 0, 9, 25, 31}) {
                SCOPED_TRACE(testing::Message() << "op " << op << " at " << xd << "," << yd);
                CheckCombine(sel, wand, xd, yd, 19, 11, 0, 0, op, expect);
                if (HasFailure()) return;
            }
        SCOPED_TRACE("source sub-rectangles");
        CheckCombine(sel, wand, 6, 3, 9, 5, 5, 2, op, expect);
        CheckCombine(sel, wand, -3, -1, 30, 30, -2, -4, op, expect);
    }
}

TEST(CombineBitmap, LogicalOpsWorkOnStoredBitsOfEqualDepths) {
    for (int bpp : {4, 8, 24, 32}) {
        SCOPED_TRACE(bpp);
        Bmp dst(23, 9, bpp), src(10, 6, bpp);
        Randomize(dst.b, 3);
        Randomize(src.b, 4);
        const uint32_t mask = bpp == 32 ? 0xFFFFFFFFu : (1u << bpp) - 1;
        for (L_UINT op : {CB_OP_OR, CB_OP_NOTSRC, CB_OP_ANDNOTSRC, CB_OP_AND})
            CheckCombine(dst, src, 3, -2, 10, 6, 0, 0, op,
                         [=](uint32_t d, uint32_t s) { return Logical(op, d, s, mask); });
    }
    Bmp a(8, 8, 1), b(8, 8, 8);
    EXPECT_EQ(L_CombineBitmap(&a.b, 0, 0, 8, 8, &b.b, 0, 0, CB_OP_OR), ERROR_BITPERPIXEL);
    EXPECT_EQ(L_CombineBitmap(&a.b, 0, 0, 8, 8, &a.b, 0, 0, 0x123), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_CombineBitmap(&a.b, 0, 0, -1, 8, &a.b, 0, 0, CB_OP_COPY), ERROR_INV_PARAMETER);
}

TEST(CombineBitmap, CopyWritesOnlyInsideBothRegions) {
    for (int bpp : {1, 4, 8, 24, 32}) {
        SCOPED_TRACE(bpp);
        Bmp dst(30, 20, bpp), src(12, 9, bpp);
        Randomize(dst.b, 5);
        Randomize(src.b, 6);
        RandomRegion(dst.b, 7);
        RandomRegion(src.b, 8);
        // Same depth and palette: the stored value, alpha included, is copied.
        CheckCombine(dst, src, -3, 14, 10, 7, 1, 2, CB_OP_COPY,
                     [](uint32_t, uint32_t s) { return s; });
        CheckCombine(dst, src, 5, 3, 12, 9, 0, 0, CB_OP_COPY,
                     [](uint32_t, uint32_t s) { return s; });
    }
}

TEST(CombineBitmap, CopyConvertsColoursBetweenDepthsAndPalettes) {
    // True colour into a gray ramp: the nearest gray to (r, g, b) is their mean.
    Bmp g8(4, 1, 8, GrayRamp()), c24(4, 1, 24);
    const COLORREF colours[4] = {RGB(100, 100, 100), RGB(10, 200, 30), RGB(0, 0, 0),
                                 RGB(255, 255, 254)};
    const uint32_t grays[4] = {100, 80, 0, 255};
    for (int x = 0; x < 4; ++x) L_PutPixelColor(&c24.b, 0, x, colours[x]);
    ASSERT_EQ(L_CombineBitmap(&g8.b, 0, 0, 4, 1, &c24.b, 0, 0, CB_OP_COPY), SUCCESS);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Raw(g8.b, x, 0), grays[x]) << x;

    // Palette to palette of the same depth goes by colour, not by index.
    RGBQUAD palA[256] = {}, palB[256] = {};
    palA[5] = palB[200] = RGBQUAD{0, 0, 255, 0};
    Bmp a(3, 2, 8, palA), b(3, 2, 8, palB);
    L_RowPtr(&a.b, 1)[2] = 5;
    ASSERT_EQ(L_CombineBitmap(&b.b, 0, 0, 3, 2, &a.b, 0, 0, CB_OP_COPY), SUCCESS);
    EXPECT_EQ(Raw(b.b, 2, 1), 200u);

    // A 1-bit mask into 32 bits: the mask's palette colours, opaque.
    Bmp mask(9, 1, 1), rgba(9, 1, 32);
    L_PutPixelColor(&mask.b, 0, 8, PALETTEINDEX(1));
    ASSERT_EQ(L_CombineBitmap(&rgba.b, 0, 0, 9, 1, &mask.b, 0, 0, CB_OP_COPY), SUCCESS);
    EXPECT_EQ(Raw(rgba.b, 8, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Raw(rgba.b, 0, 0), 0xFF000000u);
}

TEST(CombineBitmap, CopyOntoItselfReadsTheOriginalPixels) {
    for (int bpp : {1, 24}) {
        Bmp b(20, 10, bpp);
        Randomize(b.b, 9);
        Bmp snapshot(b);
        ASSERT_EQ(L_CombineBitmap(&b.b, 3, 2, 20, 10, &b.b, 0, 0, CB_OP_COPY), SUCCESS);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                ASSERT_EQ(Raw(b.b, x, y),
                          x >= 3 && y >= 2 ? Raw(snapshot.b, x - 3, y - 2) : Raw(snapshot.b, x, y))
                    << bpp << " bits at " << x << "," << y;
    }
}

TEST(CombineBitmap, MultiplyDarkensColourChannelsAndKeepsAlpha) {
    Bmp dst(7, 5, 32), dst24(7, 5, 24), src(7, 5, 24), src32(7, 5, 32);
    Randomize(dst.b, 10);
    Randomize(dst24.b, 11);
    Randomize(src.b, 12);
    Randomize(src32.b, 13);
    RandomRegion(dst.b, 14);
    CheckCombine(dst, src, 1, -1, 7, 5, 0, 0, CB_OP_MULTIPLY, MulBGR);
    CheckCombine(dst, src32, 0, 1, 7, 5, 0, 0, CB_OP_MULTIPLY, MulBGR);
    CheckCombine(dst24, src, 0, 0, 7, 5, 0, 0, CB_OP_MULTIPLY, MulBGR);
    // Gray ramps multiply their indices.
    Bmp g1(16, 3, 8, GrayRamp()), g2(16, 3, 8, GrayRamp());
    Randomize(g1.b, 15);
    Randomize(g2.b, 16);
    CheckCombine(g1, g2, 2, 0, 16, 3, 0, 0, CB_OP_MULTIPLY,
                 [](uint32_t d, uint32_t s) { return Mul(d, s); });
    // 16-bit pixels go through colours and keep their alpha bit.
    Bmp h(1, 1, 16), half(1, 1, 24);
    L_RowPtr(&h.b, 0)[0] = 0xFF;
    L_RowPtr(&h.b, 0)[1] = 0xFF;
    L_PutPixelColor(&half.b, 0, 0, RGB(132, 0, 255));
    ASSERT_EQ(L_CombineBitmap(&h.b, 0, 0, 1, 1, &half.b, 0, 0, CB_OP_MULTIPLY), SUCCESS);
    EXPECT_EQ(L_GetPixelColor(&h.b, 0, 0), RGB(132, 0, 255));
    EXPECT_TRUE(L_RowPtr(&h.b, 0)[1] & 0x80);
    // So do they as the source of a true-colour destination.
    L_PutPixelColor(&half.b, 0, 0, RGB(255, 255, 255));
    ASSERT_EQ(L_CombineBitmap(&half.b, 0, 0, 1, 1, &h.b, 0, 0, CB_OP_MULTIPLY), SUCCESS);
    EXPECT_EQ(L_GetPixelColor(&half.b, 0, 0), RGB(132, 0, 255));
}

TEST(FillBitmap, FillsInsideTheRegionAndKeepsAlpha) {
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bpp);
        Bmp b(37, 11, bpp, nullptr, BOTTOM_LEFT);
        Randomize(b.b, 20);
        RandomRegion(b.b, 21);
        Bmp before(b);
        ASSERT_EQ(L_FillBitmap(&b.b, bpp <= 8 ? PALETTEINDEX(1) : RGB(255, 66, 8)), SUCCESS);
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 37; ++x) {
                const uint32_t old = Raw(before.b, x, y);
                uint32_t want = old;
                if (InRegion(before.b, x, y)) {
                    want = bpp <= 8    ? 1u
                           : bpp == 16 ? (old & 0x8000u) | (31u << 10) | (8u << 5) | 1u
                                       : (old & 0xFF000000u) | 0xFF4208u;
                }
                ASSERT_EQ(Raw(b.b, x, y), want)
                    << x << "," << y << (InRegion(before.b, x, y) ? " inside" : " outside");
            }
    }
    // An RGB colour on a palette bitmap takes the nearest entry.
    Bmp g(5, 2, 8, GrayRamp());
    ASSERT_EQ(L_FillBitmap(&g.b, RGB(90, 100, 110)), SUCCESS);
    EXPECT_EQ(Raw(g.b, 4, 1), 100u);
}

namespace {

// Underlays a record sharing b's block, then b itself: the shared record gets the same
// rows, and b keeps its pixels until its own turn.
void UnderlayBoth(Bmp& b, const Bmp& tex, L_UINT flags) {
    const Bmp before(b);
    Bmp shared;
    ASSERT_EQ(L_ShareBitmap(&shared.b, &b.b), SUCCESS);
    ASSERT_EQ(L_UnderlayBitmap(&shared.b, &tex.b, flags), SUCCESS);
    EXPECT_TRUE(b.Same(before)) << "the other holder's pixels changed";
    ASSERT_EQ(L_UnderlayBitmap(&b.b, &tex.b, flags), SUCCESS);
    EXPECT_TRUE(shared.Same(b));
}

} // namespace

TEST(UnderlayBitmap, MultipliesWithATiledOrStretchedTexture) {
    Bmp tex(3, 2, 24);
    Randomize(tex.b, 30);
    for (L_UINT flags : {UB_TILE, UB_STRETCH}) {
        SCOPED_TRACE(flags);
        Bmp b(10, 7, 32);
        Randomize(b.b, 31);
        RandomRegion(b.b, 32);
        Bmp before(b);
        UnderlayBoth(b, tex, flags);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 10; ++x) {
                const int ux = flags == UB_TILE ? x % 3 : x * 3 / 10,
                          uy = flags == UB_TILE ? y % 2 : y * 2 / 7;
                const uint32_t old = Raw(before.b, x, y);
                ASSERT_EQ(Raw(b.b, x, y),
                          InRegion(before.b, x, y) ? MulBGR(old, Raw(tex.b, ux, uy)) : old)
                    << x << "," << y;
            }
    }
    // A gray palette bitmap stays one, with exact levels.
    Bmp g(6, 4, 8, GrayRamp()), gtex(4, 4, 8, GrayRamp());
    Randomize(g.b, 33);
    Randomize(gtex.b, 34);
    Bmp before(g);
    UnderlayBoth(g, gtex, UB_TILE);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(Raw(g.b, x, y), Mul(Raw(before.b, x, y), Raw(gtex.b, x % 4, y)));
    EXPECT_EQ(L_UnderlayBitmap(&g.b, &gtex.b, 7), ERROR_INV_PARAMETER);
}
