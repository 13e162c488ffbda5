// The layer stack: z-order and the cursor, new layers from selections, copies, and the
// whole-image conversions that must keep every layer in the background's colour class.
#include "ModelTestUtil.h"
#include "OwnedBitmap.h"

#include <vector>

using namespace mt;

namespace {

// Background "bg" plus layers named by the letters of `names`, the last one current.
void Build(TLayeredImage& img, const std::string& names, int logical = 24) {
    img.Layers.Append(Pattern(40, 30, logical, "bg"));
    for (char c : names)
        img.Layers.Append(At(Solid(8, 6, Px{c, c, c, 255}, logical, std::string(1, c)), 3, 4));
    img.Layers.Seek(img.Count() - 1);
}

std::string Order(TLayeredImage& img) {
    std::string s;
    for (int i = 1; i < img.Count(); ++i) s += img.Layers.At(i)->Name;
    return s;
}

std::string CurrentName(TLayeredImage& img) { return img.Layers.Current()->Name; }

TEST(LayeredImage, ZOrderMovesKeepTheMovedLayerCurrentAndTheBackgroundInPlace) {
    TLayeredImage img;
    Build(img, "AB");
    EXPECT_FALSE(img.MoveCurrentUp()); // already on top
    EXPECT_TRUE(img.MoveCurrentDown());
    EXPECT_EQ(Order(img), "BA");
    EXPECT_EQ(CurrentName(img), "B");
    EXPECT_EQ(img.GetCurrentIndex(), 1);
    EXPECT_FALSE(img.MoveCurrentDown()); // would go below the background
    EXPECT_FALSE(img.SendCurrentToBack());
    EXPECT_TRUE(img.MoveCurrentUp());
    EXPECT_EQ(Order(img), "AB");
    EXPECT_EQ(CurrentName(img), "B");

    TLayeredImage four;
    Build(four, "ABC");
    four.SetCurrent(3);
    EXPECT_TRUE(four.SendCurrentToBack());
    EXPECT_EQ(Order(four), "CAB");
    EXPECT_EQ(four.GetCurrentIndex(), 1);
    EXPECT_EQ(four.Layers.At(0)->Name, "bg");
    EXPECT_TRUE(four.BringCurrentToFront());
    EXPECT_EQ(Order(four), "ABC");
    EXPECT_EQ(four.GetCurrentIndex(), 3);
    four.SetCurrent(0);
    EXPECT_FALSE(four.MoveCurrentUp());
    EXPECT_FALSE(four.BringCurrentToFront());
    EXPECT_FALSE(four.SetCurrent(4));
    EXPECT_EQ(four.GetCurrentIndex(), 0);
}

TEST(LayeredImage, RemovingKeepsTheCursorInRangeAndNeverTheLastLayer) {
    TLayeredImage one;
    Build(one, "");
    EXPECT_FALSE(one.RemoveCurrent());
    EXPECT_EQ(one.Count(), 1);

    TLayeredImage img;
    Build(img, "AB");
    img.SetCurrent(1);
    EXPECT_TRUE(img.RemoveCurrent());
    EXPECT_EQ(Order(img), "B");
    EXPECT_EQ(img.GetCurrentIndex(), 0); // the background became current
    EXPECT_FALSE(img.RemoveCurrent());   // the background stays
    img.SetCurrent(1);
    EXPECT_TRUE(img.RemoveCurrent());
    EXPECT_EQ(img.Count(), 1);
}

TEST(LayeredImage, LayerFromSelectionTakesTheSelectedOpaquePixelsInsideTheImage) {
    TLayeredImage img;
    Build(img, "A");
    img.SetCurrent(0);
    auto src = Pattern(10, 10, 32);
    for (int y = 0; y < 10; ++y) Put(*src, 0, y, Px{0, 0, 0, 0}); // a transparent left column
    TOwnedBitmap mask, empty;
    ASSERT_EQ(L_CreateBitmap(mask.get(), TYPE_CONV, 40, 30, 1, ORDER_BGR, nullptr, TOP_LEFT),
              SUCCESS);
    ASSERT_EQ(L_CreateBitmap(empty.get(), TYPE_CONV, 40, 30, 1, ORDER_BGR, nullptr, TOP_LEFT),
              SUCCESS);
    // Selected: source columns 0..5 of rows 2..7 at (15, 20), and image columns 0..2 of rows 0..3.
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) L_PutPixelColor(mask.get(), 22 + y, 15 + x, PALETTEINDEX(1));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) L_PutPixelColor(mask.get(), y, x, PALETTEINDEX(1));
    ASSERT_EQ(img.CreateLayerFromSelection(15, 20, *src, mask.get()), SUCCESS);
    EXPECT_EQ(Order(img), "LayerA");
    EXPECT_EQ(img.GetCurrentIndex(), 1);
    const TLayer& l = *img.Layers.At(1);
    EXPECT_EQ(l.LogicalBpp, 32);
    // Column 0 is transparent, so the layer starts at column 1 of the source.
    EXPECT_EQ((std::vector<int>{l.X, l.Y, l.Width, l.Height}), (std::vector<int>{16, 22, 5, 6}));
    EXPECT_EQ(At(l, 0, 0), At(*src, 1, 2));

    // A source sticking out of the image keeps the mask aligned.
    auto src24 = Pattern(10, 10, 24);
    ASSERT_EQ(img.CreateLayerFromSelection(-5, -2, *src24, mask.get()), SUCCESS);
    const TLayer& m = *img.GetCurrentLayer();
    EXPECT_EQ((std::vector<int>{m.X, m.Y, m.Width, m.Height}), (std::vector<int>{0, 0, 3, 4}));
    EXPECT_EQ(At(m, 0, 0), At(*src24, 5, 2));
    EXPECT_EQ(m.LogicalBpp, 24);
    // Nothing selected under the source: no layer.
    EXPECT_NE(img.CreateLayerFromSelection(3, 3, *src24, empty.get()), SUCCESS);
    EXPECT_EQ(img.Count(), 4);
}

// The invariant every depth change must keep.
void ExpectOneColourClass(TLayeredImage& img, int logical) {
    const TLayer& bg = *img.Layers.At(0);
    for (int i = 0; i < img.Count(); ++i) {
        const TLayer& l = *img.Layers.At(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(l.LogicalBpp, logical);
        EXPECT_EQ(l.BitsPerPixel, logical <= 8 ? logical : 32);
        for (int k = 0; logical <= 8 && k < (1 << logical); ++k)
            EXPECT_EQ(std::memcmp(&l.pPalette[k], &bg.pPalette[k], 3), 0) << "palette entry " << k;
    }
}

TEST(LayeredImage, DepthChangesKeepEveryLayerInTheBackgroundsColourClass) {
    TLayeredImage img;
    Build(img, "ABC", 32);
    img.Layers.At(2)->X = -3;
    ASSERT_EQ(img.ChangeColorDepth(8, CRF_OPTIMIZEDPALETTE | CRF_FLOYDSTEINDITHERING, nullptr, 0),
              SUCCESS);
    ExpectOneColourClass(img, 8);
    EXPECT_EQ(img.Layers.At(2)->X, -3);
    ASSERT_EQ(img.ChangeColorDepth(4, CRF_FIXEDPALETTE, nullptr, 0), SUCCESS);
    ExpectOneColourClass(img, 4);
    ASSERT_EQ(img.ChangeColorDepth(24, 0, nullptr, 0), SUCCESS);
    ExpectOneColourClass(img, 24);
    for (int i = 0; i < img.Count(); ++i) EXPECT_EQ(At(*img.Layers.At(i), 2, 2).a, 255);
    // 32 -> 24 -> 32 gives opaque layers; their shapes still come from their regions.
    ASSERT_EQ(img.ChangeColorDepth(32, 0, nullptr, 0), SUCCESS);
    ExpectOneColourClass(img, 32);

    ASSERT_EQ(img.ConvertToGrayscale(), SUCCESS);
    ExpectOneColourClass(img, 8);
    EXPECT_TRUE(img.Layers.At(1)->IsGrayscale());
}

TEST(LayeredImage, ResizeAllScalesLayersAndTheirPositions) {
    TLayeredImage img;
    Build(img, "A");
    TLayer& a = *img.Layers.At(1);
    a.X = 10;
    a.Y = -5;
    Shape(a, RECT{0, 0, 4, 6});
    ASSERT_EQ(img.ResizeAll(60, 15), SUCCESS); // 1.5 wide, 0.5 high
    EXPECT_EQ((std::pair{img.Layers.At(0)->Width, img.Layers.At(0)->Height}), (std::pair{60, 15}));
    EXPECT_EQ((std::vector<int>{a.X, a.Y, a.Width, a.Height}), (std::vector<int>{15, -3, 12, 3}));
    EXPECT_EQ(a.LogicalBpp, 24);
    RECT b{};
    ASSERT_EQ(L_GetBitmapRgnBounds(&a, nullptr, &b), SUCCESS);
    EXPECT_EQ(b.right, 6); // the shape scaled with the pixels
    EXPECT_EQ(img.ResizeAll(0, 10), ERROR_INV_PARAMETER);
}

} // namespace
