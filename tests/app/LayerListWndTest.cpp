// The layer list's behaviour on a real view over a headless host: where clicks land,
// how far it scrolls, and renaming in place.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "LayerListWnd.h"
#include "model/ModelTestUtil.h"

namespace {

using S = TLayerListWnd::TScroll;

// A document of `n` grey layers "L0".."L<n-1>", the top one current, shown in a list of
// `height` pixels.
struct Fixture {
    explicit Fixture(int n, int height = 100) {
        for (int i = 0; i < n; ++i) {
            std::string name = "L";
            name += std::to_string(i); // "L" + to_string trips a false gcc 12 -Wrestrict
            doc.Image.Layers.Append(
                mt::At(mt::Solid(8, 8, mt::Px{128, 128, 128, 255}, 24, name), i, i));
        }
        doc.Image.Layers.Seek(n - 1);
        view = std::make_unique<TImageView>(doc, host);
        list.OnChanged = [this] { ++changed; };
        list.SetClientHeight(height);
        list.SetView(view.get());
        list.Scroll(TLayerListWnd::TScroll::Top); // the tests count rows from the bottom layer
    }
    TLayeredImageHandler& Layers() { return view->LayerHandler(); }
    int RowY(int r) const { return (r - list.FirstVisible()) * TLayerListWnd::kRowHeight + 12; }

    TImageDoc doc;
    THeadlessWindowHost host{TSize{100, 100}};
    std::unique_ptr<TImageView> view;
    TLayerListWnd list;
    int changed = 0;
};

// x of each column.
constexpr int kEyeX = 10, kMarkerX = 30, kNameX = 60;

} // namespace

TEST(LayerListWnd, HitTestingFindsColumnsAndRowsBelowTheScroll) {
    Fixture f(10);
    using C = TLayerListWnd::TColumn;
    const struct {
        int x;
        C column;
    } columns[] = {{0, C::None},    {1, C::Visibility}, {19, C::Visibility}, {20, C::Marker},
                   {39, C::Marker}, {40, C::Name},      {400, C::Name}};
    for (const auto& c : columns) EXPECT_EQ(f.list.HitTest(c.x, 30).Column, c.column) << c.x;
    for (auto [y, row] : {std::pair{0, 0}, {23, 0}, {24, 1}, {-1, -1}})
        EXPECT_EQ(f.list.HitTest(50, y).Row, row) << y;
    f.list.Scroll(S::LineDown);
    f.list.Scroll(S::LineDown);
    EXPECT_EQ(f.list.HitTest(50, 30).Row, 3);
    // Below the last layer there is no row, and a click there toggles nothing.
    Fixture few(2);
    EXPECT_EQ(few.list.HitTest(50, 2 * 24).Row, -1);
    few.list.Click(kEyeX, 2 * 24 + 5);
    EXPECT_TRUE(few.Layers().IsVisible(0) && few.Layers().IsVisible(1));
}

TEST(LayerListWnd, ScrollingStaysWithinCountMinusVisibleRows) {
    Fixture f(10, 100); // 4 whole rows of 24 pixels fit
    EXPECT_EQ(f.list.VisibleRows(), 4);
    EXPECT_EQ(f.list.ScrollMax(), 6);
    const struct {
        S how;
        int thumb;
        int first;
    } steps[] = {{S::LineUp, 0, 0},   {S::LineDown, 0, 1}, {S::PageDown, 0, 5}, {S::PageDown, 0, 6},
                 {S::LineDown, 0, 6}, {S::PageUp, 0, 2},   {S::Top, 0, 0},      {S::Bottom, 0, 6},
                 {S::Thumb, 3, 3},    {S::Thumb, 99, 6},   {S::Thumb, -4, 0}};
    for (const auto& s : steps) {
        f.list.Scroll(s.how, s.thumb);
        EXPECT_EQ(f.list.FirstVisible(), s.first) << int(s.how) << " " << s.thumb;
    }
    // A taller window shows everything and scrolls back to the top.
    f.list.Scroll(S::Bottom);
    f.list.SetClientHeight(300);
    EXPECT_EQ(f.list.ScrollMax(), 0);
    EXPECT_EQ(f.list.FirstVisible(), 0);
    // Fewer layers than rows: nothing to scroll.
    Fixture few(3, 200);
    few.list.Scroll(S::PageDown);
    EXPECT_EQ(few.list.FirstVisible(), 0);
}

TEST(LayerListWnd, TheCurrentLayersRowIsInSightWhenAnImageIsShown) {
    Fixture f(5, 100); // the top layer (4) is current, just below the 4 rows that fit
    f.list.SetView(nullptr);
    f.list.SetView(f.view.get());
    EXPECT_EQ(f.list.FirstVisible(), 1);
    // Also when the window gets its size only after the image, scrolled just far enough.
    f.Layers().Select(2);
    TLayerListWnd late;
    late.SetView(f.view.get());
    late.SetClientHeight(48);
    EXPECT_EQ(late.FirstVisible(), 1);
    // A resize later leaves the scroll to the user.
    late.Scroll(S::Top);
    late.SetClientHeight(72);
    EXPECT_EQ(late.FirstVisible(), 0);
}

TEST(LayerListWnd, SelectedAndFirstRowsFollowRemovedLayers) {
    Fixture f(6, 72); // 3 rows
    f.list.Scroll(S::Bottom);
    f.list.Click(kNameX, f.RowY(5));
    EXPECT_EQ(f.list.SelectedRow(), 5);
    ASSERT_TRUE(f.view->DoCommand(CM_LAYER_REMOVE));
    EXPECT_EQ(f.list.Count(), 5);
    EXPECT_EQ(f.list.SelectedRow(), 4);
    EXPECT_EQ(f.list.FirstVisible(), 2);
    ASSERT_TRUE(f.view->DoCommand(CM_LAYER_MERGEALL));
    EXPECT_EQ(f.list.SelectedRow(), 0);
    EXPECT_EQ(f.list.FirstVisible(), 0);
    ASSERT_TRUE(f.view->DoCommand(CM_EDITUNDO));
    EXPECT_EQ(f.list.Count(), 5);
}

TEST(LayerListWnd, ClicksToggleVisibilityAndPickTheCurrentLayer) {
    Fixture f(3);
    f.list.Click(kEyeX, f.RowY(1));
    EXPECT_FALSE(f.Layers().IsVisible(1) || f.list.Row(1).Visible);
    EXPECT_EQ(f.list.SelectedRow(), 1);
    EXPECT_EQ(f.Layers().CurrentIndex(), 2);
    // A quick second click on the eye shows the layer again and renames nothing.
    f.list.Click(kEyeX, f.RowY(1));
    EXPECT_FALSE(f.list.DoubleClick(kEyeX, f.RowY(1)));
    EXPECT_TRUE(f.Layers().IsVisible(1));
    EXPECT_FALSE(f.list.Renaming());

    f.list.Click(kMarkerX, f.RowY(0));
    EXPECT_EQ(f.Layers().CurrentIndex(), 0);
    EXPECT_TRUE(f.list.Row(0).Current && !f.list.Row(2).Current);
    const int before = f.changed;
    f.list.Click(kNameX, f.RowY(2));
    EXPECT_TRUE(f.list.Row(2).Selected);
    EXPECT_EQ(f.Layers().CurrentIndex(), 0); // selecting a row is not choosing the layer
    EXPECT_GT(f.changed, before);
    EXPECT_EQ(f.doc.UndoCount(), 0);
}

TEST(LayerListWnd, RenameCommitsOnceScrollingCancelsItAndLongNamesAreCut) {
    Fixture f(6, 72);
    ASSERT_TRUE(f.list.DoubleClick(kNameX, f.RowY(1)));
    EXPECT_EQ(f.list.RenameText(), "L1");
    f.list.SetRenameText("Sky");
    // Scrolling cancels: the name and the history stay as they were.
    EXPECT_TRUE(f.list.Scroll(S::LineDown));
    EXPECT_FALSE(f.list.Renaming());
    EXPECT_EQ(f.Layers().Name(1), "L1");
    EXPECT_FALSE(f.list.CommitRename());
    EXPECT_FALSE(f.list.Scroll(S::LineUp));

    // A click elsewhere in the list commits.
    ASSERT_TRUE(f.list.DoubleClick(kNameX, f.RowY(2)));
    f.list.SetRenameText("Sky");
    f.list.Click(kNameX, f.RowY(0));
    EXPECT_FALSE(f.list.Renaming());
    EXPECT_EQ(f.Layers().Name(2), "Sky");
    EXPECT_EQ(f.list.SelectedRow(), 0);

    // The same name records nothing.
    ASSERT_TRUE(f.list.DoubleClick(kNameX, f.RowY(2)));
    EXPECT_FALSE(f.list.CommitRename());
    EXPECT_EQ(f.doc.UndoCount(), 1);

    // Layers reordered from elsewhere while the editor is open: the row now holds another
    // layer, which must not get the typed name.
    f.list.Click(kMarkerX, f.RowY(3));
    ASSERT_TRUE(f.list.DoubleClick(kNameX, f.RowY(3)));
    f.list.SetRenameText("Wrong");
    ASSERT_TRUE(f.view->DoCommand(CM_LAYER_MOVEUP));
    EXPECT_FALSE(f.list.Renaming());
    EXPECT_FALSE(f.list.CommitRename());
    EXPECT_EQ(f.Layers().Name(3), "L4");
    EXPECT_EQ(f.Layers().Name(4), "L3");

    // Long names are cut at whole characters.
    ASSERT_TRUE(f.list.StartRename(1));
    std::string longName = "x";
    for (int i = 0; i < 300; ++i) longName += "\xC3\xA9"; // e acute, two bytes
    f.list.SetRenameText(longName);
    EXPECT_EQ(f.list.RenameText().size(), 1u + 2u * 254u);
    ASSERT_TRUE(f.list.CommitRename());
    EXPECT_EQ(f.Layers().Name(1), f.list.Row(1).Name);
}

TEST(LayerListWnd, BlankWithoutAViewAndSafeWhenTheViewCloses) {
    Fixture f(3);
    f.list.Click(kNameX, f.RowY(2));
    ASSERT_TRUE(f.list.DoubleClick(kNameX, f.RowY(2)));
    f.list.SetRenameText("Kept");
    // Switching away commits to the view the rename began on.
    f.list.SetView(nullptr);
    EXPECT_EQ(f.Layers().Name(2), "Kept");
    EXPECT_EQ(f.list.Count(), 0);
    EXPECT_EQ(f.list.HitTest(kNameX, 5).Row, -1);
    f.list.Click(kEyeX, 5);
    EXPECT_FALSE(f.list.DoubleClick(kNameX, 5));

    f.list.SetView(f.view.get());
    EXPECT_EQ(f.list.Count(), 3);
    EXPECT_EQ(f.list.SelectedRow(), 2); // the current layer
    ASSERT_TRUE(f.list.StartRename(0));
    f.view.reset();
    EXPECT_EQ(f.list.GetView(), nullptr);
    EXPECT_FALSE(f.list.Renaming());
    EXPECT_EQ(f.list.Count(), 0);
    f.list.Refresh();
}
