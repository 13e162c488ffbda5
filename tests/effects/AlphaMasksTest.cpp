// Alpha planes as regions and masks, saving alpha around drawing, mask fills, inversion
// and the small colour helpers.

#include <gtest/gtest.h>

#include "EffectsTestUtil.h"
#include "OwnedBitmap.h"

#include <cstring>
#include <random>

namespace {

using efx::Bit;
using efx::Bmp;

uint8_t& Alpha(BITMAPHANDLE& b, int x, int y) { return L_RowPtr(&b, y)[x * 4 + 3]; }
bool In(const BITMAPHANDLE& b, int x, int y) { return L_IsPtInBitmapRgn(&b, y, x) == 1; }

// Random bytes, and for 32 bits alpha with runs of zeros.
void Randomize(BITMAPHANDLE& b, unsigned seed) {
    std::mt19937 rng(seed);
    for (size_t i = 0; i < b.Size; ++i) b.Addr[i] = uint8_t(rng());
    if (b.BitsPerPixel == 32)
        for (int y = 0; y < b.Height; ++y)
            for (int x = 0; x < b.Width; ++x)
                if ((x / 3 + y) % 2) Alpha(b, x, y) = 0;
}

TEST(DematteBlack, BlackDrawingOnWhiteBecomesColourWithAlpha) {
    Bmp b(4, 1, 32), b24(2, 2, 24);
    const COLORREF in[4] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(128, 128, 128), RGB(90, 10, 0)};
    const int alpha[4] = {255, 0, 127, 255 - (90 * 77 + 10 * 150 + 128) / 256};
    for (int x = 0; x < 4; ++x) L_PutPixelColor(&b.b, 0, x, in[x]);
    ASSERT_EQ(Lx_DematteBlack(&b.b, RGB(200, 100, 50)), SUCCESS);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(L_GetPixelColor(&b.b, 0, x), RGB(200, 100, 50));
        EXPECT_EQ(Alpha(b.b, x, 0), alpha[x]) << x;
    }
    EXPECT_EQ(Lx_DematteBlack(&b24.b, 0), ERROR_BITPERPIXEL);
}

TEST(SavedAlpha, DrawingBetweenSaveAndRestoreKeepsTheOldAlpha) {
    Bmp b(37, 21, 32, BOTTOM_LEFT);
    Randomize(b.b, 1);
    Bmp original(b);
    LxSavedAlpha* whole = Lx_SaveBitmapAlpha(&b.b, nullptr);
    const RECT r{-5, 4, 12, 50}; // clipped to the bitmap
    LxSavedAlpha* part = Lx_SaveBitmapAlpha(&b.b, &r);
    ASSERT_TRUE(whole && part);
    std::memset(b.b.Addr, 0x5A, b.b.Size); // drawing that overwrites every byte
    ASSERT_EQ(Lx_RestoreBitmapAlpha(&b.b, part), SUCCESS);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x)
            ASSERT_EQ(Alpha(b.b, x, y), x < 12 && y >= 4 ? Alpha(original.b, x, y) : 0x5A);
    ASSERT_EQ(Lx_RestoreBitmapAlpha(&b.b, whole), SUCCESS);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) {
            ASSERT_EQ(Alpha(b.b, x, y), Alpha(original.b, x, y));
            ASSERT_EQ(L_RowPtr(&b.b, y)[x * 4], 0x5A) << "the drawing itself stays";
        }
}

TEST(RegionFromAlpha, SelectsThePixelsThatAreNotTransparentCombinedByMode) {
    Bmp b(45, 17, 32);
    Randomize(b.b, 5);
    ASSERT_EQ(Lx_SetBitmapRgnFromAlpha(&b.b, L_RGN_SET), SUCCESS);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 45; ++x)
            ASSERT_EQ(In(b.b, x, y), Alpha(b.b, x, y) != 0) << x << "," << y;
    const RECT left{0, 0, 15, 17};
    ASSERT_EQ(L_SetBitmapRgnRect(&b.b, nullptr, &left, L_RGN_SET), SUCCESS);
    ASSERT_EQ(Lx_SetBitmapRgnFromAlpha(&b.b, L_RGN_AND), SUCCESS);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 45; ++x)
            ASSERT_EQ(In(b.b, x, y), x < 15 && Alpha(b.b, x, y) != 0) << x << "," << y;
}

TEST(RegionFromAlpha, UsesThePaletteIndexOrAnyColourBelowThirtyTwoBits) {
    Bmp idx(19, 7, 8), nibble(19, 7, 4), rgb(19, 7, 24);
    for (BITMAPHANDLE* b : {&idx.b, &nibble.b, &rgb.b}) {
        Randomize(*b, unsigned(b->BitsPerPixel));
        for (int x = 0; x < 19; x += 2)
            L_PutPixelColor(b, x % 7, x, PALETTEINDEX(0)); // black at every depth
        ASSERT_EQ(Lx_SetBitmapRgnFromAlpha(b, L_RGN_SET), SUCCESS);
    }
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 19; ++x) {
            const uint8_t n = L_RowPtr(&nibble.b, y)[x / 2];
            ASSERT_EQ(In(idx.b, x, y), L_RowPtr(&idx.b, y)[x] != 0);
            ASSERT_EQ(In(nibble.b, x, y), ((x & 1) ? (n & 15) : (n >> 4)) != 0);
            ASSERT_EQ(In(rgb.b, x, y), L_GetPixelColor(&rgb.b, y, x) != 0);
        }
}

TEST(MaskFromAlpha, AnEditedAlphaViewBecomesALayerShape) {
    Bmp layer(33, 12, 32);
    Randomize(layer.b, 11);
    TOwnedBitmap mask, view;
    ASSERT_EQ(Lx_CreateMaskFromAlpha(&layer.b, mask.get()), SUCCESS);
    EXPECT_TRUE(mask->BitsPerPixel == 1 && mask->pPalette[0].rgbRed == 0 &&
                mask->pPalette[1].rgbRed == 255);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 33; ++x)
            ASSERT_EQ(Bit(*mask, x, y), Alpha(layer.b, x, y) != 0) << x << "," << y;
    mask.Reset();
    // The 8-bit alpha view, edited and given a reversed palette: gray 0 is transparent.
    ASSERT_EQ(L_GetBitmapAlpha(&layer.b, view.get()), SUCCESS);
    std::memset(L_RowPtr(view.get(), 5), 0, 33);
    for (int i = 0; i < 256; ++i)
        view->pPalette[i] = RGBQUAD{uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i), 0};
    ASSERT_EQ(Lx_CreateMaskFromAlpha(view.get(), mask.get()), SUCCESS);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 33; ++x)
            ASSERT_EQ(Bit(*mask, x, y), L_RowPtr(view.get(), y)[x] != 255) << x << "," << y;
}

TEST(IntersectAlphaWithRegion, ClearsAlphaOutsideTheRegionOnly) {
    Bmp b(41, 13, 32), mask(41, 13, 1);
    Randomize(b.b, 12);
    Randomize(mask.b, 13);
    Bmp before(b);
    ASSERT_EQ(Lx_IntersectBitmapAlphaWithMask(&b.b), SUCCESS); // no region: nothing to do
    EXPECT_EQ(std::memcmp(b.b.Addr, before.b.Addr, b.b.Size), 0);
    ASSERT_EQ(L_SetBitmapRgnFromMask(&b.b, nullptr, &mask.b, L_RGN_SET), SUCCESS);
    ASSERT_EQ(Lx_IntersectBitmapAlphaWithMask(&b.b), SUCCESS);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 41; ++x) {
            ASSERT_EQ(Alpha(b.b, x, y), In(b.b, x, y) ? Alpha(before.b, x, y) : 0) << x << "," << y;
            ASSERT_EQ(std::memcmp(L_RowPtr(&b.b, y) + x * 4, L_RowPtr(&before.b, y) + x * 4, 3), 0);
        }
    // An empty region leaves nothing visible.
    const RECT r{0, 0, 3, 9};
    ASSERT_EQ(L_SetBitmapRgnRect(&b.b, nullptr, &r, L_RGN_ANDNOTRGN), SUCCESS);
    ASSERT_EQ(L_SetBitmapRgnRect(&b.b, nullptr, &r, L_RGN_AND), SUCCESS);
    ASSERT_EQ(Lx_IntersectBitmapAlphaWithMask(&b.b), SUCCESS);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 41; ++x) ASSERT_EQ(Alpha(b.b, x, y), 0);
}

TEST(MaskFill, PaintsUnderTheMaskInsideTheRegionKeepingAlpha) {
    Bmp b(27, 11, 32), mask(27, 11, 1);
    Randomize(b.b, 15);
    Randomize(mask.b, 16);
    const RECT r{2, 1, 20, 9};
    ASSERT_EQ(L_SetBitmapRgnRect(&b.b, nullptr, &r, L_RGN_SET), SUCCESS);
    Bmp before(b);
    ASSERT_EQ(Lx_MaskFillBitmap(&b.b, &mask.b, RGB(10, 20, 30)), SUCCESS);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 27; ++x) {
            const bool painted = Bit(mask.b, x, y) && x >= 2 && x < 20 && y >= 1 && y < 9;
            EXPECT_EQ(L_GetPixelColor(&b.b, y, x),
                      painted ? RGB(10, 20, 30) : L_GetPixelColor(&before.b, y, x));
            ASSERT_EQ(Alpha(b.b, x, y), Alpha(before.b, x, y));
        }
    // Palette images take an index as it is, and a colour as its nearest entry.
    Bmp nib(10, 3, 4), mask10(10, 3, 1), deep(10, 3, 8);
    std::memset(L_RowPtr(&mask10.b, 1), 0xAA, 2); // every other pixel of row 1
    ASSERT_EQ(Lx_MaskFillBitmap(&nib.b, &mask10.b, PALETTEINDEX(9)), SUCCESS);
    EXPECT_EQ(L_RowPtr(&nib.b, 1)[0], 0x90);
    const RGBQUAD e = nib.b.pPalette[5];
    ASSERT_EQ(Lx_MaskFillBitmap(&nib.b, &mask10.b, RGB(e.rgbRed, e.rgbGreen, e.rgbBlue)), SUCCESS);
    EXPECT_EQ(L_RowPtr(&nib.b, 1)[0], 0x50);
    EXPECT_EQ(Lx_MaskFillBitmap(&nib.b, &mask.b, 0), ERROR_INV_RANGE);
    EXPECT_EQ(Lx_MaskFillBitmap(&nib.b, &deep.b, 0), ERROR_BITPERPIXEL);
}

} // namespace
