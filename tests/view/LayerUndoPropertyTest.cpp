// Undo after any Layer menu command, and after the Image menu commands that work on the
// current layer, gives back exactly the image the user had: every layer with its pixels,
// shape, position, name, visibility and depth, in the same order, with the same current
// layer. Checked on many random three-layer images. Steps share the pixels of layers they
// leave alone, so a later step that writes in place must not reach into an older one.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "LayeredImageHandler.h"
#include "MessageBox.h"
#include "model/ModelTestUtil.h"

namespace {

using mt::Px;

// Three layers on a random canvas: random sizes and positions (partly outside the canvas
// too), random depths, some with a shape (a box, an L or a cross), one of them hidden.
std::unique_ptr<TImageDoc> RandomImage(std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto doc = std::make_unique<TImageDoc>();
    const int w = pick(8, 40), h = pick(8, 40);
    const int hidden = pick(0, 2);
    for (int i = 0; i < 3; ++i) {
        const int lw = i == 0 ? w : pick(1, 30), lh = i == 0 ? h : pick(1, 30);
        static const char* const kNames[] = {"Background", "Sky", "Tree"};
        auto layer = mt::Pattern(lw, lh, pick(0, 1) ? 32 : 24, kNames[i]);
        for (int y = 0; y < lh; ++y)
            for (int x = 0; x < lw; ++x) {
                Px p = mt::At(*layer, x, y);
                p.b = (p.b + 37 * i + pick(0, 3)) & 255;
                p.a = layer->LogicalBpp == 32 ? pick(0, 255) : 255;
                mt::Put(*layer, x, y, p);
            }
        if (i > 0) {
            layer->X = pick(-10, w);
            layer->Y = pick(-10, h);
        }
        if (pick(0, 2) == 0) {
            RECT r{pick(0, lw - 1), pick(0, lh - 1), 0, 0};
            r.right = pick(int(r.left) + 1, lw);
            r.bottom = pick(int(r.top) + 1, lh);
            EXPECT_EQ(L_SetBitmapRgnRect(layer.get(), nullptr, &r, L_RGN_SET), SUCCESS);
            // Sometimes a second rectangle makes it an L or a cross, not a plain box.
            const RECT more{0, pick(0, lh - 1), pick(1, lw), lh};
            if (pick(0, 1)) {
                EXPECT_EQ(L_SetBitmapRgnRect(layer.get(), nullptr, &more, L_RGN_OR), SUCCESS);
            }
        }
        layer->Visible = i != hidden;
        doc->Image.Layers.Append(std::move(layer));
    }
    doc->Image.Layers.Seek(pick(0, 2));
    return doc;
}

} // namespace

TEST(LayerUndo, EveryLayerCommandFollowedByUndoGivesBackTheIdenticalImage) {
    constexpr int kRename = 0; // a rename typed into the layer list
    const int commands[] = {
        CM_LAYER_DROPONLOWER,
        CM_LAYER_DROPONBACKGROUND,
        CM_LAYER_MERGEALL,
        CM_LAYER_MERGEVISIBLE,
        CM_LAYER_REMOVE,
        CM_LAYER_MOVEUP,
        CM_LAYER_MOVEDOWN,
        CM_LAYER_SENDTOBACK,
        CM_LAYER_BRINGTOFRONT,
        CM_LAYER_DUPLICATE,
        kRename,
        CM_IMAGE_FLIP_HORIZONTAL,
        CM_IMAGE_FLIP_VERTICAL,
        CM_IMAGE_INVERT,
        CM_IMAGE_AUTO_EQUALIZE,
        CM_QUICK_SUNLIGHT_MORE,
        CM_QUICK_SHARPEN_MORE,
    };
    THeadlessMessageBoxes boxes;
    SetMessageBoxHost(&boxes);
    int undone = 0, chained = 0;
    for (unsigned seed = 1; seed <= 60; ++seed) {
        for (int id : commands) {
            for (int current = 0; current < 3; ++current) {
                std::mt19937 rng(seed);
                auto doc = RandomImage(rng);
                doc->Image.Layers.Seek(current);
                THeadlessWindowHost host({120, 90});
                TImageView view(*doc, host);
                // Half the time the history is full, so that the step recorded now reuses
                // the oldest one's memory; those steps had other shapes.
                const bool fullHistory = seed % 2 == 0;
                for (int k = 0; fullHistory && k < 4; ++k) {
                    ASSERT_TRUE(doc->Checkpoint(true, "Earlier"));
                    TLayer& l = *doc->Image.Layers.At(k % 3);
                    const RECT r{0, 0, (l.Width + 1) / 2, l.Height};
                    if (k % 2)
                        ASSERT_EQ(L_SetBitmapRgnRect(&l, nullptr, &r, L_RGN_SET), SUCCESS);
                    else
                        L_FreeBitmapRgn(&l);
                }
                // Some commands also run while one channel is edited.
                const int channel = seed % 3 == 0   ? CM_CHANNEL_RED
                                    : seed % 3 == 1 ? CM_CHANNEL_ALPHA
                                                    : 0;
                if (channel && view.IsCommandEnabled(channel)) {
                    ASSERT_TRUE(view.DoCommand(channel));
                }
                TLayeredImage before;
                ASSERT_EQ(before.CopyFrom(doc->Image), SUCCESS);
                if (id == kRename) {
                    ASSERT_TRUE(view.LayerHandler().Rename(current, "Renamed"));
                } else {
                    if (!view.IsCommandEnabled(id)) continue;
                    ASSERT_TRUE(view.DoCommand(id));
                }
                ASSERT_EQ(doc->UndoCount(), fullHistory ? 4 : 1) << "command " << id;
                ASSERT_TRUE(view.DoCommand(CM_EDITUNDO));
                doc->Image.CommitChannels(false);
                EXPECT_EQ(mt::Difference(doc->Image, before), "")
                    << "seed " << seed << ", command " << id << ", current layer " << current;
                ++undone;
                // Redo brings the command's result back, and a second Undo the original.
                ASSERT_TRUE(view.DoCommand(CM_EDITREDO));
                ASSERT_TRUE(view.DoCommand(CM_EDITUNDO));
                doc->Image.CommitChannels(false);
                EXPECT_EQ(mt::Difference(doc->Image, before), "") << "seed " << seed << " redo";
                // An in-place edit after the step, both undone: the step's snapshot must
                // not have been written through the pixels it shares with the image.
                ASSERT_TRUE(view.DoCommand(CM_EDITREDO));
                if (!view.IsCommandEnabled(CM_IMAGE_INVERT)) continue;
                ASSERT_TRUE(view.DoCommand(CM_IMAGE_INVERT));
                ASSERT_TRUE(view.DoCommand(CM_EDITUNDO));
                ASSERT_TRUE(view.DoCommand(CM_EDITUNDO));
                doc->Image.CommitChannels(false);
                EXPECT_EQ(mt::Difference(doc->Image, before), "")
                    << "seed " << seed << ", command " << id << " then Invert";
                ++chained;
            }
        }
    }
    EXPECT_GT(undone, 60 * 14);
    EXPECT_GT(chained, 60 * 8);
    EXPECT_TRUE(boxes.Shown.empty()) << boxes.Shown.front().Text;
    SetMessageBoxHost(nullptr);
}
