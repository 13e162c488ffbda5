// Editing one channel at a time: which images allow it, that edits land in the right
// bytes and nowhere else, and that views are written back before the stack changes.
#include "ModelTestUtil.h"

using namespace mt;

namespace {

// Background plus two layers, all patterned; the top one is current and shaped.
void Build(TLayeredImage& img, int logical = 24) {
    img.Layers.Append(Pattern(16, 12, logical, "bg"));
    img.Layers.Append(At(Pattern(8, 6, logical, "A"), 2, 3));
    auto b = At(Pattern(9, 7, logical, "B"), 5, 1);
    Shape(*b, RECT{1, 1, 8, 6});
    img.Layers.Append(std::move(b));
    img.Layers.Seek(2);
}

TEST(ChannelViews, PaletteImagesAreAlwaysEditedWhole) {
    TLayeredImage img;
    Build(img);
    ASSERT_EQ(img.ChangeColorDepth(8, CRF_FIXEDPALETTE, nullptr, 0), SUCCESS);
    ASSERT_EQ(img.SetChannelMode(CHANNEL_RED), SUCCESS);
    EXPECT_EQ(img.GetChannelMode(), CHANNEL_RED);
    EXPECT_EQ(img.GetEffectiveChannelMode(), CHANNEL_AGGREGATED);
    EXPECT_EQ(img.GetCurrentLayer(), img.Layers.At(2));

    // A layer the user sees at 24 bits is stored at 32, so its alpha can be edited.
    TLayeredImage deep;
    Build(deep, 24);
    ASSERT_EQ(deep.SetChannelMode(CHANNEL_ALPHA), SUCCESS);
    EXPECT_EQ(deep.GetEffectiveChannelMode(), CHANNEL_ALPHA);
    TLayer* view = deep.GetCurrentLayer();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->BitsPerPixel, 8);
    EXPECT_EQ(view->X, 5);
    EXPECT_TRUE(view->pRgn != nullptr); // the layer's shape comes along
    EXPECT_EQ(ERROR_INV_PARAMETER, deep.SetChannelMode(CHANNEL_LAST + 1));
}

TEST(ChannelViews, ViewsAreWrittenBackWhenTheCurrentLayerOrTheOtherSlotChanges) {
    TLayeredImage img;
    Build(img);
    img.Layers.Append(At(Pattern(4, 4, 24, "C"), 0, 0));
    ASSERT_EQ(img.SetChannelMode(CHANNEL_GREEN), SUCCESS);
    // Edit the current layer's view, then make another layer current.
    L_RowPtr(img.GetCurrentLayer(), 2)[3] = 7;
    ASSERT_TRUE(img.SetCurrent(1));
    EXPECT_EQ(At(*img.Layers.At(2), 3, 2).g, 7);
    // Edit a non-current layer through the other slot, then read a further layer.
    TLayer* c = img.GetLayer(3);
    ASSERT_NE(c, nullptr);
    L_RowPtr(c, 1)[1] = 9;
    EXPECT_EQ(At(*img.Layers.At(3), 1, 1).g, 1 * 5 + 3); // not written back yet
    TLayer* b = img.GetLayer(2);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(At(*img.Layers.At(3), 1, 1).g, 9);
    // The other slot becomes the current view when its layer becomes current.
    L_RowPtr(b, 0)[0] = 11;
    img.Layers.Seek(2); // moved without a commit, as a raw cursor move would
    EXPECT_EQ(img.GetCurrentLayer(), b);
    // Structural operations commit first.
    img.SetCurrent(1);
    L_RowPtr(img.GetCurrentLayer(), 0)[0] = 13;
    ASSERT_TRUE(img.MoveCurrentUp());
    EXPECT_EQ(At(*img.Layers.At(2), 0, 0).g, 13); // layer A, now at index 2
    EXPECT_EQ(img.Layers.At(2)->Name, "A");
    EXPECT_EQ(At(*img.Layers.At(1), 0, 0).g, 11);
}

TEST(ChannelViews, SeparatedPlanesRoundTripAndEditsKeepAlpha) {
    for (int mode = CHANNEL_CMYK_CYAN; mode <= CHANNEL_LAST; ++mode) {
        SCOPED_TRACE(mode);
        TLayeredImage img;
        Build(img, 32);
        TLayer& layer = *img.Layers.At(2);
        for (int x = 0; x < layer.Width; ++x) Put(layer, x, 2, Px{x * 9, 200 - x, 17 * x, 30 + x});
        TLayeredImage before;
        ASSERT_EQ(before.CopyFrom(img), SUCCESS);
        ASSERT_EQ(img.SetChannelMode(mode), SUCCESS);
        TLayer* view = img.GetCurrentLayer();
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->LogicalBpp, 8);
        // Unedited views change nothing, even where the colour model rounds.
        ASSERT_EQ(img.CommitChannels(false), SUCCESS);
        ASSERT_EQ(0, std::memcmp(layer.Addr, before.Layers.At(2)->Addr, layer.Size));
        // An edit changes that pixel's colour and nothing else, and never its alpha.
        uint8_t& v = L_RowPtr(view, 2)[4];
        v = uint8_t(v < 128 ? v + 100 : v - 100);
        if (mode % 2) {
            // A view that did not come from the image itself is compared in full.
            TLayer plain;
            ASSERT_EQ(plain.CopyLayer(*view), SUCCESS);
            ASSERT_EQ(img.MergeChannel(2, plain), SUCCESS);
        }
        ASSERT_EQ(img.SetChannelMode(CHANNEL_AGGREGATED), SUCCESS);
        for (int y = 0; y < layer.Height; ++y)
            for (int x = 0; x < layer.Width; ++x) {
                const Px was = At(*before.Layers.At(2), x, y), now = At(layer, x, y);
                ASSERT_EQ(now.a, was.a);
                if (x != 4 || y != 2) {
                    ASSERT_EQ(now, was) << x << "," << y;
                }
            }
        EXPECT_NE(At(layer, 4, 2), At(*before.Layers.At(2), 4, 2));
    }
}

} // namespace
