// Colour adjustment by planes at every depth the model stores.
#include <gtest/gtest.h>

#include <cstring>

#include "ColorAdjust.h"
#include "model/ModelTestUtil.h"

using mt::Px;

namespace {

// An 8-bit palette picture: left half index 1, right half index 2.
void MakePalette8(TLeadBitmapX& b) {
    RGBQUAD pal[256] = {};
    pal[1] = RGBQUAD{40, 80, 120, 0};
    pal[2] = RGBQUAD{200, 100, 50, 0};
    BITMAPHANDLE h;
    ASSERT_EQ(L_CreateBitmap(&h, TYPE_CONV, 8, 4, 8, ORDER_BGR, pal, TOP_LEFT), SUCCESS);
    b.Adopt(h);
    b.LogicalBpp = 8;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) L_RowPtr(&b, y)[x] = x < 4 ? 1 : 2;
}

} // namespace

// More red raises only the red channel; nothing changes the alpha, not even where the pixel
// is transparent; a region confines the change.
TEST(ColorAdjust, TrueColourPlanesAlphaAndRegion) {
    auto src = mt::Solid(6, 4, Px{60, 90, 120, 255}, 32);
    mt::Put(*src, 0, 0, Px{60, 90, 120, 0});
    mt::Put(*src, 1, 0, Px{60, 90, 120, 77});
    TLeadBitmapX dst;
    ASSERT_EQ(RGBAdjustBitmap(dst, *src, 50, 0, 0), SUCCESS);
    EXPECT_EQ(dst.LogicalBpp, 32);
    const Px p = mt::At(dst, 3, 3);
    EXPECT_GT(p.r, 150);
    EXPECT_NEAR(p.g, 90, 1);
    EXPECT_NEAR(p.b, 60, 1);
    EXPECT_EQ(mt::At(dst, 0, 0).a, 0);
    EXPECT_EQ(mt::At(dst, 1, 0).a, 77);
    EXPECT_EQ(mt::At(*src, 3, 3), (Px{60, 90, 120, 255})) << "the source changed";

    // Less blue only inside the region.
    mt::Shape(*src, RECT{0, 0, 3, 4});
    ASSERT_EQ(RGBAdjustBitmap(dst, *src, 0, 0, -100), SUCCESS);
    EXPECT_LT(mt::At(dst, 2, 2).b, 20);
    EXPECT_EQ(mt::At(dst, 4, 2), (Px{60, 90, 120, 255}));

    // Through the CMYK separation: less magenta means more green.
    TLeadBitmapX cmyk;
    L_FreeBitmapRgn(src.get());
    ASSERT_EQ(CMYKAdjustBitmap(cmyk, *src, 0, -100, 0, 0), SUCCESS);
    EXPECT_GT(mt::At(cmyk, 3, 3).g, 110);
    EXPECT_NEAR(mt::At(cmyk, 3, 3).r, 120, 2);

    EXPECT_EQ(RGBAdjustBitmap(dst, *src, 101, 0, 0), ERROR_INV_PARAMETER);
}

// A palette picture gets a new palette with the same indices; within a region the palette
// stays and the selected pixels take its nearest entries.
TEST(ColorAdjust, PalettePicturesChangeTheirPaletteOrMapOntoIt) {
    TLeadBitmapX src, dst;
    MakePalette8(src);
    ASSERT_EQ(RGBAdjustBitmap(dst, src, 0, 0, 60), SUCCESS);
    EXPECT_EQ(dst.BitsPerPixel, 8);
    EXPECT_EQ(L_RowPtr(&dst, 0)[0], 1);
    EXPECT_GT(dst.pPalette[1].rgbBlue, 40 + 40);
    EXPECT_EQ(dst.pPalette[1].rgbGreen, 80);
    EXPECT_EQ(src.pPalette[1].rgbBlue, 40);

    // Entry 2 is the bluest colour the palette has: more blue on the left half lands there.
    RECT left{0, 0, 4, 4};
    ASSERT_EQ(L_SetBitmapRgnRect(&src, nullptr, &left, L_RGN_SET), SUCCESS);
    src.pPalette[3] = RGBQUAD{250, 80, 120, 0};
    ASSERT_EQ(RGBAdjustBitmap(dst, src, 0, 0, 100), SUCCESS);
    EXPECT_EQ(std::memcmp(dst.pPalette, src.pPalette, 256 * sizeof(RGBQUAD)), 0);
    EXPECT_EQ(L_RowPtr(&dst, 1)[1], 3);
    EXPECT_EQ(L_RowPtr(&dst, 1)[6], 2);
}
