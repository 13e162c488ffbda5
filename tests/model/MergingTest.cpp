// Combining layers: drops keep transparency and shapes, merges take every layer, flattening
// gives what the user sees, and duplicates land 20 pixels right and down.
#include "ModelTestUtil.h"

#include <vector>

using namespace mt;

namespace {

TEST(Merging, DropOnLowerKeepsTransparencyOutsideBothLayers) {
    TLayeredImage img;
    img.Layers.Append(Solid(40, 40, Px{9, 9, 9, 255}, 32, "bg"));
    img.Layers.Append(At(Solid(10, 10, Px{0, 0, 200, 255}, 32, "lower"), 2, 3));
    auto upper = At(Solid(6, 8, Px{200, 0, 0, 128}, 32, "upper"), 9, 10);
    Shape(*upper, RECT{0, 0, 6, 8});
    img.Layers.Append(std::move(upper));
    img.Layers.Seek(2);
    ASSERT_EQ(img.DropOnLower(), SUCCESS);
    ASSERT_EQ(img.Count(), 2);
    EXPECT_EQ(img.GetCurrentIndex(), 1);
    const TLayer& m = *img.Layers.At(1);
    EXPECT_EQ(m.Name, "lower");
    EXPECT_EQ((std::vector<int>{m.X, m.Y, m.Width, m.Height}), (std::vector<int>{2, 3, 13, 15}));
    EXPECT_EQ(m.LogicalBpp, 32);
    EXPECT_EQ(At(m, 0, 0), (Px{0, 0, 200, 255}));
    // Beside the lower layer above the upper one, below it left of the upper one, the upper one alone.
    EXPECT_EQ((std::vector<int>{At(m, 12, 0).a, At(m, 0, 14).a, At(m, 12, 14).a}),
              (std::vector<int>{0, 0, 128}));
    // The upper layer over the lower one: "over" of two colours, opaque.
    const Px both = At(m, 8, 8);
    EXPECT_EQ(both.a, 255);
    EXPECT_TRUE(Near(both, Px{(200 * 128 + 127) / 255, 0, (200 * 127 + 127) / 255, 255})) << both;
    // The merged shape is the union of the two.
    EXPECT_TRUE(m.HitTest(POINT{2, 3}));
    EXPECT_TRUE(m.HitTest(POINT{14, 17}));
    EXPECT_FALSE(m.HitTest(POINT{14, 3}));
}

TEST(Merging, DropOnBackgroundAndMergeAllBlendLayersIntoTheBackground) {
    TLayeredImage img;
    img.Layers.Append(Solid(10, 10, Px{0, 0, 0, 255}, 24, "bg"));
    img.Layers.Append(At(Solid(4, 4, Px{255, 255, 255, 0}, 32, "clear"), 8, 8));
    img.Layers.Append(At(Solid(4, 4, Px{0, 255, 0, 255}, 32, "green"), -2, -2));
    img.Layers.Seek(2);
    ASSERT_EQ(img.DropOnBackground(), SUCCESS);
    EXPECT_EQ(img.GetCurrentIndex(), 0);
    EXPECT_EQ(img.Count(), 2);
    EXPECT_EQ(At(*img.Layers.At(0), 1, 1), (Px{0, 255, 0, 255}));
    EXPECT_EQ(At(*img.Layers.At(0), 2, 2), (Px{0, 0, 0, 255}));
    img.SetCurrent(1);
    ASSERT_EQ(img.DropOnLower(), SUCCESS); // index 1 drops on the background
    EXPECT_EQ(img.Count(), 1);
    EXPECT_EQ(At(*img.Layers.At(0), 9, 9), (Px{0, 0, 0, 255})); // a clear layer changes nothing
    // Merging all takes hidden layers too.
    img.Layers.Append(At(Solid(2, 2, Px{5, 6, 7, 255}, 24, "hidden"), 1, 1));
    img.Layers.At(1)->Visible = false;
    img.Layers.Seek(1);
    ASSERT_EQ(img.MergeAll(), SUCCESS);
    EXPECT_EQ(img.Count(), 1);
    EXPECT_EQ(img.GetCurrentIndex(), 0);
    EXPECT_EQ(At(*img.Layers.At(0), 1, 1), (Px{5, 6, 7, 255}));
}

TEST(Merging, FlattenCombinesEveryLayerHiddenOnesIncluded) {
    TLayeredImage img;
    img.Layers.Append(Solid(8, 8, Px{0, 0, 0, 0}, 32, "bg"));
    Put(*img.Layers.At(0), 7, 7, Px{1, 2, 3, 200});
    img.Layers.Append(At(Solid(3, 3, Px{0, 0, 255, 255}, 32, "red"), 1, 1));
    img.Layers.Append(At(Solid(3, 3, Px{255, 0, 0, 255}, 32, "hidden"), 4, 4));
    img.Layers.At(2)->Visible = false;
    auto shaped = At(Solid(4, 4, Px{0, 255, 0, 255}, 32, "shaped"), 0, 4);
    Shape(*shaped, RECT{0, 0, 1, 4});
    img.Layers.Append(std::move(shaped));
    img.Layers.Seek(3);
    ASSERT_EQ(img.Flatten(), SUCCESS);
    ASSERT_EQ(img.Count(), 1);
    const TLayer& bg = *img.Layers.At(0);
    EXPECT_EQ(bg.LogicalBpp, 32);
    EXPECT_EQ(bg.Name, "bg");
    EXPECT_EQ(At(bg, 2, 2), (Px{0, 0, 255, 255}));
    EXPECT_EQ(At(bg, 5, 5), (Px{255, 0, 0, 255})); // the hidden layer is flattened too
    EXPECT_EQ(At(bg, 7, 7), (Px{1, 2, 3, 200}));   // the background's own alpha survives
    EXPECT_EQ(At(bg, 0, 5), (Px{0, 255, 0, 255}));
    EXPECT_EQ(At(bg, 1, 5).a, 0); // outside the shaped layer's shape
    EXPECT_EQ(bg.pRgn, nullptr);
}

TEST(Merging, DuplicateIsTwentyPixelsRightAndDownWithTheSameName) {
    TLayeredImage img;
    img.Layers.Append(Pattern(50, 50, 24, "bg"));
    auto a = At(Pattern(5, 5, 24, "Sky"), -3, 7);
    Shape(*a, RECT{1, 1, 4, 4});
    img.Layers.Append(std::move(a));
    img.Layers.Append(Pattern(5, 5, 24, "top"));
    img.Layers.Seek(1);
    ASSERT_EQ(img.DuplicateCurrent(), SUCCESS);
    ASSERT_EQ(img.Count(), 4);
    EXPECT_EQ(img.GetCurrentIndex(), 2);
    const TLayer& d = *img.Layers.At(2);
    EXPECT_EQ(d.Name, "Sky");
    EXPECT_EQ((std::vector<int>{d.X, d.Y, d.LogicalBpp}), (std::vector<int>{17, 27, 24}));
    EXPECT_NE(d.Addr, img.Layers.At(1)->Addr);
    EXPECT_EQ(At(d, 3, 2), At(*img.Layers.At(1), 3, 2));
    EXPECT_FALSE(d.HitTest(POINT{17, 27}));
    EXPECT_TRUE(d.HitTest(POINT{18, 28}));
    // Duplicating the background gives a movable layer just above it.
    img.SetCurrent(0);
    ASSERT_EQ(img.DuplicateCurrent(), SUCCESS);
    EXPECT_EQ(img.GetCurrentIndex(), 1);
    EXPECT_EQ(img.Layers.At(1)->Name, "bg");
    EXPECT_EQ(img.Layers.At(1)->X, 20);
}

} // namespace
