// The Layer menu through a view: which commands are offered when, what each leaves in the
// layer stack and the history, and what the layer list is told.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "LayeredImageHandler.h"
#include "MessageBox.h"
#include "view/ViewTestUtil.h"

namespace {

using mt::Px;
using V = std::vector<std::string>;

// [background, A, B] on a 40 x 30 canvas: A red at (5, 5), B blue at (20, 10), B current.
std::unique_ptr<TImageDoc> ThreeLayers() {
    return vt::DocOf(mt::Solid(40, 30, Px{255, 255, 255, 255}, 24, "Background"),
                     mt::At(mt::Solid(10, 10, Px{0, 0, 255, 255}, 32, "A"), 5, 5),
                     mt::At(mt::Solid(10, 10, Px{255, 0, 0, 255}, 32, "B"), 20, 10));
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
    V Names() {
        V names;
        for (int i = 0; i < layers.Count(); ++i) names.push_back(layers.Name(i));
        return names;
    }
    // Runs a command that must record an undo step of this name.
    void Run(int id, const std::string& undo) {
        ASSERT_TRUE(view.DoCommand(id)) << undo;
        EXPECT_EQ(doc->UndoName(), undo);
    }

    THeadlessMessageBoxes boxes;
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host;
    TImageView view;
    TLayeredImageHandler& layers;
    std::vector<TLayerChange> changes;
    int token = 0;
};

} // namespace

TEST(LayerMenuOrder, MovesFollowTheRulesAndUndoBringsTheOrderBack) {
    Fixture f;
    EXPECT_FALSE(f.view.DoCommand(CM_LAYER_MOVEUP)); // B is already on top
    const struct {
        int id;
        const char* undo;
        V order;
    } steps[] = {
        {CM_LAYER_MOVEDOWN, "Move 'B' Down", {"Background", "B", "A"}},
        {CM_LAYER_BRINGTOFRONT, "Bring 'B' To Front", {"Background", "A", "B"}},
        {CM_LAYER_SENDTOBACK, "Send 'B' To Back", {"Background", "B", "A"}},
        {CM_LAYER_MOVEUP, "Move 'B' Up", {"Background", "A", "B"}},
    };
    for (const auto& s : steps) {
        // Nothing goes above the top or below the layer just above the background.
        const bool low = f.layers.CurrentIndex() == 1;
        EXPECT_EQ(f.Enabled(CM_LAYER_MOVEDOWN), !low) << s.undo;
        EXPECT_EQ(f.Enabled(CM_LAYER_SENDTOBACK), !low) << s.undo;
        EXPECT_EQ(f.Enabled(CM_LAYER_MOVEUP), low) << s.undo;
        EXPECT_EQ(f.Enabled(CM_LAYER_BRINGTOFRONT), low) << s.undo;
        f.Run(s.id, s.undo);
        EXPECT_EQ(f.Names(), s.order);
        EXPECT_EQ(f.layers.Name(f.layers.CurrentIndex()), "B") << "the moved layer stays current";
    }
    EXPECT_EQ(f.doc->UndoCount(), 4);

    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    EXPECT_EQ(f.Names(), (V{"Background", "B", "A"}));
    EXPECT_EQ(f.layers.CurrentIndex(), 1);
    EXPECT_EQ(f.changes.back(), TLayerChange::Rebuild);
}

TEST(LayerMenuMerge, EachMergeNamesItsStepAndLeavesTheRightLayerCurrent) {
    Fixture f;
    // Just above the background, Drop On Lower is a drop on the background.
    f.layers.Select(1);
    f.Run(CM_LAYER_DROPONLOWER, "Drop 'A' On Background");
    EXPECT_EQ(f.Names(), (V{"Background", "B"}));
    EXPECT_EQ(f.layers.CurrentIndex(), 0);
    EXPECT_EQ(mt::At(*f.doc->Image.Layers.At(0), 7, 7), (Px{0, 0, 255, 255}))
        << "A's red joins the background";
    EXPECT_EQ(f.changes.back(), TLayerChange::Rebuild);

    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    f.layers.Select(2);
    f.Run(CM_LAYER_DROPONLOWER, "Drop 'B'");
    EXPECT_EQ(f.Names(), (V{"Background", "A"}));
    // The merged layer spans both and keeps A's name and place in the stack.
    EXPECT_EQ(f.doc->Image.Layers.At(1)->Width, 25);
    EXPECT_EQ(f.layers.CurrentIndex(), 1);

    // Each of these, undone, makes the duplicate on top current again.
    f.Run(CM_LAYER_DUPLICATE, "Duplicate Layer 'A'");
    const struct {
        int id;
        const char* undo;
        int count;
    } steps[] = {{CM_LAYER_DROPONBACKGROUND, "Drop 'A' On Background", 2},
                 {CM_LAYER_REMOVE, "Remove 'A'", 2},
                 {CM_LAYER_MERGEVISIBLE, "Merge Visible Layers", 1},
                 {CM_LAYER_MERGEALL, "Merge All Layers", 1}};
    for (const auto& s : steps) {
        f.Run(s.id, s.undo);
        EXPECT_EQ(f.layers.Count(), s.count) << s.undo;
        ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
        EXPECT_EQ(f.Names(), (V{"Background", "A", "A"}));
        EXPECT_EQ(f.layers.CurrentIndex(), 2) << s.undo;
    }
}

TEST(LayerMenuWalk, WalkingRecordsNothingDropsTheSelectionAndRepaintsBothLayers) {
    Fixture f;
    EXPECT_FALSE(f.Enabled(CM_LAYER_WALKUP));
    vt::Select(f.view, *f.doc->Image.Layers.At(0), RECT{0, 0, 40, 30});
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_WALKDOWN));
    EXPECT_EQ(f.layers.CurrentIndex(), 1);
    EXPECT_FALSE(f.view.HasSelection);
    EXPECT_EQ(f.changes.back(), TLayerChange::Repaint);
    // Both outlines change, also with no selection to drop: the areas of A (old) and B
    // (new), 2 pixels wider all round.
    f.host.Invalidated.clear();
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_WALKUP));
    for (int i : {1, 2}) {
        const RECT w = f.view.ImageToClientRect(f.doc->Image.Layers.At(i)->GetRect(), true);
        bool found = false;
        for (const RECT& r : f.host.Invalidated)
            found |= r.left <= w.left - 2 && r.top <= w.top - 2 && r.right >= w.right + 2 &&
                     r.bottom >= w.bottom + 2;
        EXPECT_TRUE(found) << "layer " << i;
    }
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_WALKDOWN));
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_WALKDOWN));
    ASSERT_TRUE(f.view.DoCommand(CM_LAYER_WALKUP));
    EXPECT_EQ(f.layers.CurrentIndex(), 1);
    EXPECT_EQ(f.doc->UndoCount(), 0);
}

TEST(LayerListCalls, RenamingIsAnUndoStepVisibilityAndSelectionAreNot) {
    Fixture f;
    EXPECT_FALSE(f.layers.Rename(1, "A")); // the same name
    EXPECT_FALSE(f.layers.Rename(7, "X"));
    EXPECT_FALSE(f.layers.SetVisible(3, false));
    EXPECT_FALSE(f.layers.Select(-1));
    ASSERT_TRUE(f.layers.SetVisible(1, false));
    EXPECT_FALSE(f.layers.IsVisible(1));
    EXPECT_TRUE(f.layers.IsVisible(2));
    ASSERT_TRUE(f.layers.Select(0));
    EXPECT_EQ(f.layers.CurrentIndex(), 0);
    EXPECT_EQ(f.doc->UndoCount(), 0);

    // A hidden layer no longer shows: the background's white is painted where A was.
    f.host.Update();
    const POINT p = f.view.ImageToClient(POINT{7, 7}, true);
    EXPECT_EQ(f.host.Pixel(p.x, p.y), RGB(255, 255, 255));
    f.layers.SetVisible(1, true);
    f.host.Update();
    EXPECT_EQ(f.host.Pixel(p.x, p.y), RGB(255, 0, 0));

    ASSERT_TRUE(f.layers.Rename(1, "Sky"));
    EXPECT_EQ(f.layers.Name(1), "Sky");
    EXPECT_EQ(f.doc->UndoName(), "Rename 'A' to 'Sky'");
    EXPECT_EQ(f.changes.back(), TLayerChange::Rebuild);
    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    EXPECT_EQ(f.layers.Name(1), "A");
    ASSERT_TRUE(f.view.DoCommand(CM_EDITREDO));
    EXPECT_EQ(f.layers.Name(1), "Sky");
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
        // No room for the copy of the background that merging draws onto: the command
        // must leave the image as it was. Steps that only share pixels still work.
        mt::ScopedLimits tiny(L_LIMITS{32768, 50});
        EXPECT_TRUE(f.view.DoCommand(CM_LAYER_MERGEALL));
        EXPECT_TRUE(f.view.DoCommand(CM_LAYER_DROPONBACKGROUND));
        EXPECT_TRUE(f.layers.Rename(1, "Kept"));
    }
    EXPECT_EQ(f.Names(), (V{"Background", "Kept", "B"}));
    EXPECT_EQ(f.doc->UndoCount(), 1);
    ASSERT_EQ(f.boxes.Shown.size(), 2u);
    EXPECT_EQ(f.boxes.Shown[0].Icon, TMbIcon::Exclamation);
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
    for (int id : {CM_LAYER_DROPONLOWER, CM_LAYER_DROPONBACKGROUND, CM_LAYER_MERGEALL,
                   CM_LAYER_MERGEVISIBLE})
        EXPECT_FALSE(f.Enabled(id)) << id;
    EXPECT_TRUE(f.Enabled(CM_LAYER_MOVEDOWN));
    EXPECT_EQ(f.doc->UndoCount(), 0);

    // Visibility and names set while a view of the layer exists survive leaving the mode.
    ASSERT_NE(f.doc->Image.GetCurrentLayer(), f.doc->Image.Layers.At(2));
    f.layers.SetVisible(2, false);
    ASSERT_TRUE(f.layers.Rename(2, "Blue"));
    ASSERT_TRUE(f.view.DoCommand(CM_CHANNEL_AGGREGATED));
    EXPECT_FALSE(f.layers.IsVisible(2));
    EXPECT_EQ(f.layers.Name(2), "Blue");
    EXPECT_EQ(f.view.StatusBpp(), "24 BPP");
    EXPECT_TRUE(f.Enabled(CM_LAYER_MERGEALL));
}
