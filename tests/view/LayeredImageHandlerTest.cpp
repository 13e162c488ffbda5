// The Layer menu through a view: which commands are offered when, what each leaves in the
// layer stack and the history, what the user reads in the Edit menu, and what the layer
// list is told.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "LayeredImageHandler.h"
#include "MessageBox.h"
#include "model/ModelTestUtil.h"

namespace {

using mt::Px;

// [background, A, B] on a 40 x 30 canvas: A red at (5, 5), B blue at (20, 10), B current.
std::unique_ptr<TImageDoc> ThreeLayers() {
    auto doc = std::make_unique<TImageDoc>();
    doc->Image.Layers.Append(mt::Solid(40, 30, Px{255, 255, 255, 255}, 24, "Background"));
    doc->Image.Layers.Append(mt::At(mt::Solid(10, 10, Px{0, 0, 255, 255}, 32, "A"), 5, 5));
    doc->Image.Layers.Append(mt::At(mt::Solid(10, 10, Px{255, 0, 0, 255}, 32, "B"), 20, 10));
    doc->Image.Layers.Seek(2);
    return doc;
}

std::vector<std::string> Names(TLayeredImageHandler& h) {
    std::vector<std::string> names;
    for (int i = 0; i < h.Count(); ++i) names.push_back(h.Name(i));
    return names;
}

struct Fixture {
    explicit Fixture(std::unique_ptr<TImageDoc> d = ThreeLayers())
        : doc(std::move(d)), host({200, 150}), view(*doc, host), layers(view.LayerHandler()) {
        SetMessageBoxHost(&boxes);
        token = layers.AddListener([this](TLayerChange c) { changes.push_back(c); });
    }
    ~Fixture() {
        layers.RemoveListener(token);
        SetMessageBoxHost(nullptr);
    }

    bool Enabled(int id) { return view.IsCommandEnabled(id); }
    std::string UndoText() { return view.CommandState(CM_EDITUNDO).Text.value_or("?"); }
    std::string RedoText() { return view.CommandState(CM_EDITREDO).Text.value_or("?"); }

    THeadlessMessageBoxes boxes;
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host;
    TImageView view;
    TLayeredImageHandler& layers;
    std::vector<TLayerChange> changes;
    int token = 0;
};

using V = std::vector<std::string>;

} // namespace

TEST(LayerMenuOrder, MovesFollowTheRulesAndUndoBringsTheOrderBack) {
    Fixture f;
    EXPECT_FALSE(f.Enabled(CM_LAYER_MOVEUP));
    EXPECT_FALSE(f.Enabled(CM_LAYER_BRINGTOFRONT));
    EXPECT_FALSE(f.view.DoCommand(CM_LAYER_MOVEUP));
    EXPECT_TRUE(f.Enabled(CM_LAYER_SENDTOBACK));

    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_MOVEDOWN));
    EXPECT_EQ(Names(f.layers), (V{"Background", "B", "A"}));
    EXPECT_EQ(f.layers.CurrentIndex(), 1);
    EXPECT_EQ(f.doc->UndoName(), "Move 'B' Down");
    // One step above the background nothing can go lower.
    EXPECT_FALSE(f.Enabled(CM_LAYER_MOVEDOWN));
    EXPECT_FALSE(f.Enabled(CM_LAYER_SENDTOBACK));
    EXPECT_TRUE(f.Enabled(CM_LAYER_MOVEUP));

    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_BRINGTOFRONT));
    EXPECT_EQ(Names(f.layers), (V{"Background", "A", "B"}));
    EXPECT_EQ(f.doc->UndoName(), "Bring 'B' To Front");
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_SENDTOBACK));
    EXPECT_EQ(f.doc->UndoName(), "Send 'B' To Back");
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_MOVEUP));
    EXPECT_EQ(f.doc->UndoName(), "Move 'B' Up");
    EXPECT_EQ(f.doc->UndoCount(), 4);

    // Undo walks the same way back, current layer included.
    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    EXPECT_EQ(Names(f.layers), (V{"Background", "B", "A"}));
    EXPECT_EQ(f.layers.CurrentIndex(), 1);
    EXPECT_EQ(f.changes.back(), TLayerChange::Rebuild);
}

TEST(LayerMenuOrder, NothingMovesOnTheBackgroundOrWithoutAnImage) {
    Fixture f;
    f.layers.Select(0);
    for (int id : {CM_LAYER_MOVEUP, CM_LAYER_MOVEDOWN, CM_LAYER_SENDTOBACK, CM_LAYER_BRINGTOFRONT,
                   CM_LAYER_REMOVE, CM_LAYER_DROPONLOWER, CM_LAYER_DROPONBACKGROUND, CM_LAYER_WALKDOWN})
        EXPECT_FALSE(f.Enabled(id)) << id;
    EXPECT_TRUE(f.Enabled(CM_LAYER_DUPLICATE));
    EXPECT_TRUE(f.Enabled(CM_LAYER_WALKUP));
    EXPECT_TRUE(f.Enabled(CM_LAYER_MERGEALL));
    // Running them anyway (a shortcut) changes nothing and records nothing.
    EXPECT_TRUE(f.layers.Command(CM_LAYER_REMOVE));
    EXPECT_EQ(f.layers.Count(), 3);
    EXPECT_EQ(f.doc->UndoCount(), 0);

    TImageDoc empty;
    THeadlessWindowHost host;
    TImageView view(empty, host);
    for (int id : {int(CM_LAYER_DUPLICATE), int(CM_LAYER_WALKUP), int(CM_LAYER_MERGEALL), int(CM_CHANNEL_AGGREGATED), int(CM_EDITUNDO)}) {
        const TCommandEnabler ce = view.CommandState(id);
        EXPECT_TRUE(ce.Handled) << id;
        EXPECT_FALSE(ce.Enabled) << id;
    }
    EXPECT_FALSE(view.CommandState(15999).Handled);
    EXPECT_FALSE(view.Command(15999)); // the chain goes on to the next target
    EXPECT_EQ(view.LayerHandler().Count(), 0);
    EXPECT_FALSE(view.LayerHandler().Select(0));
}

TEST(LayerMenuMerge, DropOnLowerAboveTheBackgroundIsADropOnBackground) {
    Fixture f;
    f.layers.Select(1);
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_DROPONLOWER));
    EXPECT_EQ(f.doc->UndoName(), "Drop 'A' On Background");
    EXPECT_EQ(Names(f.layers), (V{"Background", "B"}));
    EXPECT_EQ(f.layers.CurrentIndex(), 0);
    // A's red is now part of the background.
    EXPECT_EQ(mt::At(*f.doc->Image.Layers.At(0), 7, 7), (Px{0, 0, 255, 255}));
    EXPECT_EQ(f.changes.back(), TLayerChange::Rebuild);

    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    f.layers.Select(2);
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_DROPONLOWER));
    EXPECT_EQ(f.doc->UndoName(), "Drop 'B'");
    EXPECT_EQ(Names(f.layers), (V{"Background", "A"}));
    // The merged layer spans both and keeps A's name and place in the stack.
    const TLayer& merged = *f.doc->Image.Layers.At(1);
    EXPECT_EQ(merged.X, 5);
    EXPECT_EQ(merged.Width, 25);
    EXPECT_EQ(f.layers.CurrentIndex(), 1);

    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_DUPLICATE));
    EXPECT_EQ(f.doc->UndoName(), "Duplicate Layer 'A'");
    EXPECT_EQ(Names(f.layers), (V{"Background", "A", "A"}));
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_DROPONBACKGROUND));
    EXPECT_EQ(f.doc->UndoName(), "Drop 'A' On Background");
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_MERGEVISIBLE));
    EXPECT_EQ(f.doc->UndoName(), "Merge Visible Layers");
    EXPECT_EQ(f.layers.Count(), 1);
    EXPECT_FALSE(f.Enabled(CM_LAYER_MERGEALL));
    EXPECT_FALSE(f.Enabled(CM_LAYER_MERGEVISIBLE));

    // Back to the duplicate, current again as it was before the drop.
    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    EXPECT_EQ(f.layers.CurrentIndex(), 0);
    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    EXPECT_EQ(f.layers.CurrentIndex(), 2);
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_REMOVE));
    EXPECT_EQ(f.doc->UndoName(), "Remove 'A'");
    EXPECT_EQ(Names(f.layers), (V{"Background", "A"}));
    EXPECT_EQ(f.layers.CurrentIndex(), 1);
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_MERGEALL));
    EXPECT_EQ(f.doc->UndoName(), "Merge All Layers");
    EXPECT_EQ(f.layers.Count(), 1);
}

TEST(LayerMenuWalk, WalkingRecordsNothingDropsTheSelectionAndRepaintsBothLayers) {
    Fixture f;
    EXPECT_FALSE(f.Enabled(CM_LAYER_WALKUP));
    BITMAPHANDLE mask;
    ASSERT_EQ(L_CreateBitmap(&mask, TYPE_CONV, 40, 30, 1, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    f.view.SelectionMask.Adopt(mask);
    f.view.HasSelection = true;
    f.host.Invalidated.clear();
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_WALKDOWN));
    EXPECT_EQ(f.layers.CurrentIndex(), 1);
    EXPECT_FALSE(f.view.HasSelection);
    EXPECT_EQ(f.doc->UndoCount(), 0);
    EXPECT_EQ(f.changes.back(), TLayerChange::Repaint);
    // Both outlines changed: the areas of B (old) and A (new), 2 pixels wider all round.
    for (int i : {2, 1}) {
        RECT want = f.view.ImageToClientRect(f.doc->Image.Layers.At(i)->GetRect(), true);
        want = RECT{want.left - 2, want.top - 2, want.right + 2, want.bottom + 2};
        bool found = false;
        for (const RECT& r : f.host.Invalidated)
            found |= r.left <= want.left && r.top <= want.top && r.right >= want.right && r.bottom >= want.bottom;
        EXPECT_TRUE(found) << "layer " << i;
    }
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_WALKDOWN));
    EXPECT_FALSE(f.Enabled(CM_LAYER_WALKDOWN));
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_WALKUP));
    EXPECT_EQ(f.layers.CurrentIndex(), 1);
    EXPECT_EQ(f.doc->UndoCount(), 0);
    EXPECT_EQ(f.UndoText(), "Undo");
}

TEST(LayerListCalls, RenameRecordsAStepOnlyForANewName) {
    Fixture f;
    EXPECT_FALSE(f.layers.Rename(1, "A"));
    EXPECT_EQ(f.doc->UndoCount(), 0);
    EXPECT_FALSE(f.layers.Rename(7, "X"));

    ASSERT_TRUE(f.layers.Rename(1, "Sky"));
    EXPECT_EQ(f.layers.Name(1), "Sky");
    EXPECT_EQ(f.UndoText(), "&Undo Rename 'A' to 'Sky'\tCtrl+Z");
    EXPECT_EQ(f.changes.back(), TLayerChange::Rebuild);
    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    EXPECT_EQ(f.layers.Name(1), "A");
    EXPECT_EQ(f.RedoText(), "&Redo Rename 'A' to 'Sky'\tCtrl+Y");
    EXPECT_EQ(f.UndoText(), "Undo");
    EXPECT_FALSE(f.Enabled(CM_EDITUNDO));
    ASSERT_TRUE(f.view.DoCommand(CM_EDITREDO));
    EXPECT_EQ(f.layers.Name(1), "Sky");
    EXPECT_EQ(f.RedoText(), "Redo");
    EXPECT_FALSE(f.view.DoCommand(CM_EDITREDO));
}

TEST(LayerListCalls, VisibilityAndSelectionAreNotUndoSteps) {
    Fixture f;
    ASSERT_TRUE(f.layers.SetVisible(1, false));
    EXPECT_FALSE(f.layers.IsVisible(1));
    EXPECT_TRUE(f.layers.IsVisible(2));
    EXPECT_FALSE(f.layers.SetVisible(3, false));
    ASSERT_TRUE(f.layers.Select(0));
    EXPECT_EQ(f.layers.CurrentIndex(), 0);
    EXPECT_FALSE(f.layers.Select(-1));
    EXPECT_EQ(f.doc->UndoCount(), 0);

    // A hidden layer no longer shows: the background's white is painted where A was.
    f.host.Update();
    const POINT p = f.view.ImageToClient(POINT{7, 7}, true);
    EXPECT_EQ(f.host.Pixel(p.x, p.y), RGB(255, 255, 255));
    f.layers.SetVisible(1, true);
    f.host.Update();
    EXPECT_EQ(f.host.Pixel(p.x, p.y), RGB(255, 0, 0));
}

TEST(LayerListCalls, ListenersHearOfUndoAndOfTheViewGoing) {
    auto doc = ThreeLayers();
    THeadlessWindowHost host;
    auto view = std::make_unique<TImageView>(*doc, host);
    std::vector<TLayerChange> heard;
    int shellCalls = 0;
    view->OnLayersChanged = [&] { ++shellCalls; };
    const int token = view->LayerHandler().AddListener([&](TLayerChange c) { heard.push_back(c); });
    view->LayerHandler().Rename(2, "C");
    view->DoCommand(CM_EDITUNDO);
    EXPECT_EQ(heard, (std::vector<TLayerChange>{TLayerChange::Rebuild, TLayerChange::Rebuild}));
    EXPECT_EQ(shellCalls, 2);

    view->LayerHandler().RemoveListener(token);
    view->DoCommand(CM_EDITREDO);
    EXPECT_EQ(heard.size(), 2u);
    view->LayerHandler().AddListener([&](TLayerChange c) { heard.push_back(c); });
    view.reset();
    EXPECT_EQ(heard.back(), TLayerChange::Detached);
}

TEST(LayerMenuFailure, NoChangeWithoutItsUndoStep) {
    Fixture f;
    {
        // No room for the snapshot: the command must leave the image as it was.
        mt::ScopedLimits tiny(L_LIMITS{32768, 50});
        EXPECT_TRUE(f.view.DoCommand(CM_LAYER_REMOVE));
        EXPECT_FALSE(f.layers.Rename(1, "Lost"));
    }
    EXPECT_EQ(Names(f.layers), (V{"Background", "A", "B"}));
    EXPECT_EQ(f.doc->UndoCount(), 0);
    ASSERT_EQ(f.boxes.Shown.size(), 2u);
    EXPECT_EQ(f.boxes.Shown[0].Icon, TMbIcon::Exclamation);
}

TEST(LayerChannelModes, PaletteImagesOfferOnlyAggregatedEditing) {
    auto doc = std::make_unique<TImageDoc>();
    auto bg = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 16, 16, 8, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    bg->Adopt(b);
    bg->LogicalBpp = 8;
    doc->Image.Layers.Append(std::move(bg));
    Fixture f(std::move(doc));
    const TCommandEnabler agg = f.view.CommandState(CM_CHANNEL_AGGREGATED);
    EXPECT_TRUE(agg.Enabled);
    EXPECT_TRUE(agg.Checked);
    for (int id = CM_CHANNEL_ALPHA; id <= CM_CHANNEL_HLS_SATURATION; ++id) {
        if (ChannelModeOfCommand(id) < 0) continue;
        EXPECT_FALSE(f.Enabled(id)) << id;
    }
    // A mode stored while the image was deeper counts as aggregated now.
    f.doc->Image.SetChannelMode(CHANNEL_RED);
    EXPECT_FALSE(f.view.CommandState(CM_CHANNEL_RED).Checked);
    EXPECT_TRUE(f.view.CommandState(CM_CHANNEL_AGGREGATED).Checked);
}

TEST(LayerChannelModes, SwitchingModesChecksTheItemAndBlocksMerging) {
    Fixture f;
    // The background is seen at 24 bits but stored at 32: its alpha plane can be edited.
    EXPECT_TRUE(f.Enabled(CM_CHANNEL_ALPHA));
    EXPECT_TRUE(f.Enabled(CM_CHANNEL_HLS_LIGHTNESS));
    ASSERT_TRUE(f.view.DoCommand(CM_CHANNEL_GREEN));
    EXPECT_EQ(f.doc->Image.GetEffectiveChannelMode(), CHANNEL_GREEN);
    EXPECT_TRUE(f.view.CommandState(CM_CHANNEL_GREEN).Checked);
    EXPECT_FALSE(f.view.CommandState(CM_CHANNEL_AGGREGATED).Checked);
    EXPECT_EQ(f.view.StatusBpp(), "8 BPP");
    for (int id : {CM_LAYER_DROPONLOWER, CM_LAYER_DROPONBACKGROUND, CM_LAYER_MERGEALL, CM_LAYER_MERGEVISIBLE})
        EXPECT_FALSE(f.Enabled(id)) << id;
    EXPECT_TRUE(f.Enabled(CM_LAYER_MOVEDOWN));
    EXPECT_EQ(f.doc->UndoCount(), 0);

    // Visibility and names set while a view of the layer exists survive leaving the mode.
    ASSERT_NE(f.doc->Image.GetCurrentLayer(), f.doc->Image.Layers.At(2));
    f.layers.SetVisible(2, false);
    ASSERT_TRUE(f.layers.Rename(2, "Blue"));
    ASSERT_TRUE(f.view.DoCommand(CM_CHANNEL_AGGREGATED));
    EXPECT_EQ(f.doc->Image.GetEffectiveChannelMode(), CHANNEL_AGGREGATED);
    EXPECT_FALSE(f.layers.IsVisible(2));
    EXPECT_EQ(f.layers.Name(2), "Blue");
    EXPECT_EQ(f.view.StatusBpp(), "24 BPP");
    EXPECT_TRUE(f.Enabled(CM_LAYER_MERGEALL));
}
