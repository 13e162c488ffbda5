// The filter commands on a view: every one opens its dialog and OK makes one undo step
// under its name; Red Eye wants a selection, Diffuse Outline a 32-bit image, and a water
// colour run cancelled after OK leaves the layer as it was.
#include <gtest/gtest.h>

#include <cstring>

#include "CommandIds.h"
#include "FilterDialogs.h"
#include "Processing.h"
#include "ViewFixture.h"
#include "view/ViewTestUtil.h"

namespace {

struct Fixture : TViewFixture {
    using TViewFixture::TViewFixture;
    void Select(RECT r) { vt::Select(*view, Layer(), r); }
    bool Unchanged(const TLeadBitmapX& before) {
        return Layer().Size == before.Size &&
               std::memcmp(before.Addr, Layer().Addr, before.Size) == 0;
    }
};

TEST(FilterCommands, RedEyeWithoutASelectionOnlySaysSoAndWithOneOpensOnTheBackground) {
    Fixture f(mt::Pattern(20, 20, 32));
    ASSERT_TRUE(f.view->DoCommand(CM_EFFECT_RED_EYE));
    ASSERT_EQ(f.boxes.Shown.size(), 1u);
    EXPECT_EQ(f.boxes.Shown[0].Text, "Please select the eye area before calling this function");
    EXPECT_EQ(f.boxes.Shown[0].Caption, "Information");
    EXPECT_EQ(f.boxes.Shown[0].Icon, TMbIcon::Stop);
    EXPECT_TRUE(f.dialogs.Shown.empty());
    EXPECT_FALSE(f.doc->CanUndo());
    f.Select({2, 2, 12, 12});
    f.dialogs.QueueScript([](TDialog&) { return IDOK; });
    ASSERT_TRUE(f.view->DoCommand(CM_EFFECT_RED_EYE));
    EXPECT_EQ(f.dialogs.Shown.back().ResourceId, IDD_REDEYE);
    EXPECT_EQ(f.doc->UndoName(), "Red Eye Correction");
}

TEST(FilterCommands, DiffuseOutlineConvertsTo32BitsAsItsOwnStepOnlyWhenAsked) {
    Fixture f(mt::Pattern(20, 20, 24));
    f.boxes.QueueAnswer(TMbResult::No);
    ASSERT_TRUE(f.view->DoCommand(CM_EFFECT_DIFFUSE_OUTLINE));
    EXPECT_TRUE(f.dialogs.Shown.empty());
    EXPECT_FALSE(f.doc->CanUndo());
    EXPECT_EQ(f.Layer().LogicalBpp, 24);

    f.boxes.QueueAnswer(TMbResult::Yes);
    f.dialogs.QueueScript([](TDialog&) { return IDCANCEL; });
    ASSERT_TRUE(f.view->DoCommand(CM_EFFECT_DIFFUSE_OUTLINE));
    ASSERT_EQ(f.boxes.Shown.size(), 2u);
    EXPECT_EQ(f.boxes.Shown[1].Caption, "Quillo");
    EXPECT_EQ(f.boxes.Shown[1].Buttons, TMbButtons::YesNo);
    EXPECT_EQ(f.boxes.Shown[1].Icon, TMbIcon::Question);
    EXPECT_EQ(f.dialogs.Shown.back().ResourceId, IDD_DIFFUSE);
    EXPECT_EQ(f.Layer().LogicalBpp, 32);
    EXPECT_EQ(f.doc->UndoCount(), 1);
    EXPECT_EQ(f.doc->UndoName(), "Color Resolution");
    // Now 32 bits: no question any more.
    f.dialogs.QueueScript([](TDialog&) { return IDOK; });
    ASSERT_TRUE(f.view->DoCommand(CM_EFFECT_DIFFUSE_OUTLINE));
    EXPECT_EQ(f.boxes.Shown.size(), 2u);
    EXPECT_EQ(f.doc->UndoName(), "Diffuse Outline");
}

TEST(FilterCommands, WaterColorCancelledAfterOkLeavesTheLayerUntouched) {
    Fixture f(mt::Pattern(64, 300, 32));
    TLeadBitmapX before;
    ASSERT_EQ(before.AssignX(f.Layer(), true), SUCCESS);
    f.dialogs.QueueScript([](TDialog&) { return IDOK; });
    f.boxes.QueueAnswer(TMbResult::Yes); // "Are you sure ...?"
    f.modeless.QueuePump([&] { f.modeless.Current->Click(IDCANCEL); });
    L_SetProcessingThreads(1);
    ASSERT_TRUE(f.view->DoCommand(CM_EFFECT_WATER_COLOR));
    L_SetProcessingThreads(0);
    EXPECT_TRUE(f.Unchanged(before));
    ASSERT_EQ(f.boxes.Shown.size(), 2u);
    EXPECT_EQ(f.boxes.Shown[1].Caption, "Water Color");
    EXPECT_EQ(f.modeless.OwnerStates, (std::vector<bool>{false, true}));
}

} // namespace
