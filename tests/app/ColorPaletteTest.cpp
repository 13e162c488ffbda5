// The colour palette bar's logic: where things are, what a click picks, and the colour
// chooser on the foreground square.
#include <gtest/gtest.h>

#include "ColorPalette.h"

namespace {

using TButton = TColorPalette::TButton;

struct TPoint {
    int x, y;
};
TPoint Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

bool Overlap(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Whether `r` lies inside `outer` with at least `margin` pixels to spare on every side.
bool Inside(const RECT& r, const RECT& outer, int margin = 0) {
    return r.left >= outer.left + margin && r.top >= outer.top + margin &&
           r.right <= outer.right - margin && r.bottom <= outer.bottom - margin;
}

// A palette whose foreground reports are collected; the shared custom colours are put back.
class ColorPaletteTest : public ::testing::Test {
protected:
    void SetUp() override {
        palette.SetForegroundListener([this](COLORREF c) { reported.push_back(c); });
    }
    void TearDown() override {
        SharedCustomColors() = saved_;
        SetCommonDialogs(nullptr);
    }
    void Down(TButton b, TPoint p) { palette.ButtonDown(b, p.x, p.y); }
    void Click(TButton b, TPoint p) {
        Down(b, p);
        palette.ButtonUp();
    }

    TColorPalette palette;
    std::vector<COLORREF> reported;

private:
    TCustomColors saved_ = SharedCustomColors();
};

} // namespace

TEST_F(ColorPaletteTest, StartsWithTheFixedPaletteAndIsSizedByItsRows) {
    RGBQUAD fixed[256];
    ASSERT_EQ(L_GetFixedPalette(fixed, 8), SUCCESS);
    ASSERT_EQ(palette.ColorCount(), 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(palette.Color(i), RGB(fixed[i].rgbRed, fixed[i].rgbGreen, fixed[i].rgbBlue)) << i;
    EXPECT_EQ(palette.ForegroundColor(), RGB(0, 0, 0));
    EXPECT_EQ(palette.BackgroundColor(), RGB(255, 255, 255));

    std::vector<RGBQUAD> colors(300);
    palette.SetColors(colors.data(), 40); // two rows: the bar keeps its minimum height
    EXPECT_EQ(palette.Rows(), 2);
    EXPECT_EQ(palette.DesiredHeight(), 48);
    palette.SetVertical(true);
    EXPECT_EQ(palette.DesiredWidth(), 48);
    palette.SetColors(colors.data(), 300);
    EXPECT_EQ(palette.ColorCount(), 256);
}

TEST_F(ColorPaletteTest, NothingOverlapsInEitherOrientationAndUprightTransposesEveryCell) {
    std::vector<RECT> flat;
    for (bool vertical : {false, true}) {
        palette.SetVertical(vertical);
        const RECT bar{0, 0, palette.DesiredWidth(), palette.DesiredHeight()};
        std::vector<RECT> parts = {palette.BoxRect()};
        for (int i = 0; i < TColorPalette::kCustomCells; ++i)
            parts.push_back(palette.CustomCellRect(i));
        for (const RECT& r : parts) EXPECT_TRUE(Inside(r, bar)) << vertical;
        for (int i = 0; i < palette.ColorCount(); ++i) {
            const RECT c = palette.CellRect(i);
            ASSERT_TRUE(Inside(c, bar)) << i << " vertical " << vertical;
            for (const RECT& r : parts)
                ASSERT_FALSE(Overlap(c, r)) << i << " vertical " << vertical;
            const TPoint p = Centre(c);
            ASSERT_EQ(palette.HitTest(p.x, p.y).Index, i) << "vertical " << vertical;
            if (!vertical)
                flat.push_back(c);
            else
                ASSERT_TRUE(c.left == flat[size_t(i)].top && c.top == flat[size_t(i)].left &&
                            c.right == flat[size_t(i)].bottom && c.bottom == flat[size_t(i)].right)
                    << i;
        }
        // The foreground square overlaps the background square, inside the box.
        EXPECT_TRUE(Overlap(palette.ForegroundRect(), palette.BackgroundRect()));
        for (const RECT& r : {palette.ForegroundRect(), palette.BackgroundRect()})
            EXPECT_TRUE(Inside(r, palette.BoxRect(), 1)) << vertical;
    }
}

TEST_F(ColorPaletteTest, LeftPicksForegroundRightPicksBackgroundOutsidePicksNothing) {
    std::vector<RGBQUAD> ramp(70);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = RGBQUAD{uint8_t(i), uint8_t(255 - i), 0, 0};
    palette.SetColors(ramp.data(), int(ramp.size()));
    for (int i : {0, 31, 32, 69}) Click(TButton::Left, Centre(palette.CellRect(i)));
    EXPECT_EQ(reported, (std::vector<COLORREF>{palette.Color(0), palette.Color(31),
                                               palette.Color(32), palette.Color(69)}));
    Click(TButton::Right, Centre(palette.CellRect(5)));

    // Where a 71st colour would be, in the box, between custom cells, past the edge.
    const RECT c0 = palette.CustomCellRect(0);
    for (TPoint p : {Centre(palette.CellRect(70)), TPoint{293, 3}, TPoint{c0.right + 3, c0.top + 5},
                     TPoint{-1, 5}, TPoint{500, 10}}) {
        Click(TButton::Left, p);
        Click(TButton::Right, p);
    }
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(69));
    EXPECT_EQ(palette.BackgroundColor(), palette.Color(5));
    EXPECT_EQ(reported.size(), 4u) << "the background is not the view's business";

    // The custom cells hold the colours shared with the colour chooser.
    SharedCustomColors()[4] = RGB(200, 10, 20);
    SharedCustomColors()[8] = RGB(1, 2, 3);
    Click(TButton::Left, Centre(palette.CustomCellRect(4)));
    EXPECT_EQ(palette.ForegroundColor(), RGB(200, 10, 20));
    palette.SetVertical(true);
    Click(TButton::Right, Centre(palette.CustomCellRect(8)));
    EXPECT_EQ(palette.BackgroundColor(), RGB(1, 2, 3));
}

TEST_F(ColorPaletteTest, DraggingKeepsPickingUntilTheButtonIsReleased) {
    Down(TButton::Left, Centre(palette.CellRect(0)));
    const TPoint p5 = Centre(palette.CellRect(5)), p6 = Centre(palette.CellRect(6)),
                 p9 = Centre(palette.CellRect(9));
    palette.MouseMove(p5.x, p5.y);
    palette.MouseMove(p5.x + 1, p5.y); // same cell: no second report
    palette.MouseMove(300, 3);         // off the cells: the colour stays
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(5));
    palette.MouseMove(p6.x, p6.y);
    EXPECT_EQ(reported,
              (std::vector<COLORREF>{palette.Color(0), palette.Color(5), palette.Color(6)}));
    palette.ButtonUp();
    palette.MouseMove(p9.x, p9.y);
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(6));

    // A right drag paints the background.
    Down(TButton::Right, Centre(palette.CellRect(1)));
    palette.MouseMove(p9.x, p9.y);
    palette.ButtonUp();
    EXPECT_EQ(palette.BackgroundColor(), palette.Color(9));
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(6));
}

TEST_F(ColorPaletteTest, OnlyTheForegroundSquareOpensTheColourChooser) {
    THeadlessCommonDialogs dialogs;
    SetCommonDialogs(&dialogs);
    palette.SetForegroundColor(RGB(10, 20, 30));
    // The visible corner of the background square and the cells do not open it; the
    // foreground square does, and cancelling there changes nothing.
    const RECT bg = palette.BackgroundRect();
    const TPoint fg = Centre(palette.ForegroundRect());
    for (TPoint p : {TPoint{bg.right - 2, bg.bottom - 2}, Centre(palette.CellRect(3)), fg})
        palette.DoubleClick(p.x, p.y);
    EXPECT_EQ(dialogs.ColorRequests, std::vector<COLORREF>{RGB(10, 20, 30)});
    EXPECT_EQ(palette.ForegroundColor(), RGB(10, 20, 30));
    EXPECT_TRUE(reported.empty())
        << "neither a colour set from outside nor a cancelled choice is reported";

    dialogs.QueueColor(RGB(90, 80, 70));
    palette.DoubleClick(fg.x, fg.y);
    EXPECT_EQ(palette.ForegroundColor(), RGB(90, 80, 70));
    EXPECT_EQ(reported, std::vector<COLORREF>{RGB(90, 80, 70)});
}
