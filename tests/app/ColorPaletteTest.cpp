// The colour palette bar's logic: where things are, what a click picks, and the colour
// chooser on the foreground square.
#include <gtest/gtest.h>

#include "ColorPalette.h"

namespace {

struct TPoint {
    int x, y;
};
TPoint Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

bool Overlap(const RECT& a, const RECT& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool Within(const RECT& r, int w, int h) { return r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h; }

// A palette whose colour changes are counted.
class ColorPaletteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = SharedCustomColors();
        palette.SetForegroundListener([this](COLORREF c) { reported.push_back(c); });
    }
    void TearDown() override
    {
        SharedCustomColors() = saved_;
        SetCommonDialogs(nullptr);
    }
    void Press(TColorPalette::TButton b, TPoint p) { palette.ButtonDown(b, p.x, p.y); }

    TColorPalette palette;
    std::vector<COLORREF> reported;

private:
    TCustomColors saved_;
};

std::vector<RGBQUAD> Ramp(int n)
{
    std::vector<RGBQUAD> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
    return v;
}

} // namespace

TEST_F(ColorPaletteTest, StartsWithTheFixedPaletteBlackOnWhite)
{
    RGBQUAD fixed[256];
    ASSERT_EQ(L_GetFixedPalette(fixed, 8), SUCCESS);
    ASSERT_EQ(palette.ColorCount(), 256);
    for (int i : {0, 1, 37, 128, 255})
        EXPECT_EQ(palette.Color(i), RGB(fixed[i].rgbRed, fixed[i].rgbGreen, fixed[i].rgbBlue)) << i;
    EXPECT_EQ(palette.ForegroundColor(), RGB(0, 0, 0));
    EXPECT_EQ(palette.BackgroundColor(), RGB(255, 255, 255));
}

TEST_F(ColorPaletteTest, SizeFollowsTheRowsOfColoursAndTurnsWhenUpright)
{
    EXPECT_EQ(palette.DesiredWidth(), 421);
    EXPECT_EQ(palette.DesiredHeight(), 9 * 8 + 4);
    palette.SetVertical(true);
    EXPECT_EQ(palette.DesiredWidth(), 76);
    EXPECT_EQ(palette.DesiredHeight(), 421);
    palette.SetVertical(false);

    const auto few = Ramp(40); // two rows: still the minimum height
    palette.SetColors(few.data(), int(few.size()));
    EXPECT_EQ(palette.Rows(), 2);
    EXPECT_EQ(palette.DesiredHeight(), 48);
    std::vector<RGBQUAD> many(300);
    palette.SetColors(many.data(), 300);
    EXPECT_EQ(palette.ColorCount(), 256);
}

TEST_F(ColorPaletteTest, NothingOverlapsAndEverythingFitsInEitherOrientation)
{
    for (bool vertical : {false, true}) {
        palette.SetVertical(vertical);
        const int w = palette.DesiredWidth(), h = palette.DesiredHeight();
        std::vector<RECT> parts = {palette.BoxRect()};
        for (int i = 0; i < TColorPalette::kCustomCells; ++i)
            parts.push_back(palette.CustomCellRect(i));
        for (const RECT& r : parts)
            EXPECT_TRUE(Within(r, w, h)) << vertical;
        for (int i = 0; i < palette.ColorCount(); ++i) {
            const RECT c = palette.CellRect(i);
            ASSERT_TRUE(Within(c, w, h)) << i << " vertical " << vertical;
            for (const RECT& r : parts)
                ASSERT_FALSE(Overlap(c, r)) << i << " vertical " << vertical;
        }
        // The foreground square overlaps the background square, inside the box.
        EXPECT_TRUE(Overlap(palette.ForegroundRect(), palette.BackgroundRect()));
        const RECT box = palette.BoxRect();
        for (const RECT& r : {palette.ForegroundRect(), palette.BackgroundRect()})
            EXPECT_TRUE(r.left > box.left && r.top > box.top && r.right < box.right && r.bottom < box.bottom);
    }
}

TEST_F(ColorPaletteTest, UprightBarTransposesEveryRectangleAndItsHits)
{
    std::vector<RECT> flat;
    for (int i = 0; i < palette.ColorCount(); ++i)
        flat.push_back(palette.CellRect(i));
    const RECT fgFlat = palette.ForegroundRect(), customFlat = palette.CustomCellRect(8);
    palette.SetVertical(true);
    for (int i = 0; i < palette.ColorCount(); ++i) {
        const RECT r = palette.CellRect(i), f = flat[size_t(i)];
        ASSERT_TRUE(r.left == f.top && r.top == f.left && r.right == f.bottom && r.bottom == f.right) << i;
        const TPoint p = Centre(r);
        ASSERT_EQ(palette.HitTest(p.x, p.y).Index, i);
    }
    EXPECT_EQ(palette.ForegroundRect().left, fgFlat.top);
    EXPECT_EQ(palette.CustomCellRect(8).top, customFlat.left);
    // The flat position of a cell is somewhere else entirely once upright.
    const TPoint flatCell = Centre(flat[40]);
    EXPECT_NE(palette.HitTest(flatCell.x, flatCell.y).Index, 40);
}

TEST_F(ColorPaletteTest, LeftPicksForegroundRightPicksBackgroundOutsidePicksNothing)
{
    const auto ramp = Ramp(70);
    palette.SetColors(ramp.data(), int(ramp.size()));
    for (int i : {0, 31, 32, 69}) {
        Press(TColorPalette::TButton::Left, Centre(palette.CellRect(i)));
        palette.ButtonUp();
        EXPECT_EQ(palette.ForegroundColor(), palette.Color(i)) << i;
    }
    EXPECT_EQ(reported.size(), 4u);
    EXPECT_EQ(reported.back(), palette.Color(69));

    Press(TColorPalette::TButton::Right, Centre(palette.CellRect(5)));
    palette.ButtonUp();
    EXPECT_EQ(palette.BackgroundColor(), palette.Color(5));
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(69));
    EXPECT_EQ(reported.size(), 4u) << "the background is not the view's business";

    // Where a 71st colour would be, in the box, between custom cells, past the edge.
    const RECT c0 = palette.CustomCellRect(0);
    const std::vector<TPoint> nowhere = {Centre(palette.CellRect(70)), {293, 3}, {c0.right + 3, c0.top + 5},
                                         {-1, 5}, {500, 10}};
    for (TPoint p : nowhere) {
        Press(TColorPalette::TButton::Left, p);
        palette.ButtonUp();
        Press(TColorPalette::TButton::Right, p);
        palette.ButtonUp();
    }
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(69));
    EXPECT_EQ(palette.BackgroundColor(), palette.Color(5));
    EXPECT_EQ(reported.size(), 4u);
}

TEST_F(ColorPaletteTest, CustomCellsPickTheSharedCustomColours)
{
    SharedCustomColors()[4] = RGB(200, 10, 20);
    SharedCustomColors()[8] = RGB(1, 2, 3);
    Press(TColorPalette::TButton::Left, Centre(palette.CustomCellRect(4)));
    palette.ButtonUp();
    EXPECT_EQ(palette.ForegroundColor(), RGB(200, 10, 20));
    palette.SetVertical(true);
    Press(TColorPalette::TButton::Right, Centre(palette.CustomCellRect(8)));
    palette.ButtonUp();
    EXPECT_EQ(palette.BackgroundColor(), RGB(1, 2, 3));
}

TEST_F(ColorPaletteTest, DraggingKeepsPickingUntilTheButtonIsReleased)
{
    Press(TColorPalette::TButton::Left, Centre(palette.CellRect(0)));
    const TPoint p5 = Centre(palette.CellRect(5)), p6 = Centre(palette.CellRect(6));
    palette.MouseMove(p5.x, p5.y);
    palette.MouseMove(p5.x + 1, p5.y); // same cell: no second report
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(5));
    palette.MouseMove(300, 3); // off the cells: the colour stays
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(5));
    palette.MouseMove(p6.x, p6.y);
    EXPECT_EQ(reported, (std::vector<COLORREF>{palette.Color(0), palette.Color(5), palette.Color(6)}));
    palette.ButtonUp();
    const TPoint p9 = Centre(palette.CellRect(9));
    palette.MouseMove(p9.x, p9.y);
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(6));

    // A right drag paints the background.
    Press(TColorPalette::TButton::Right, Centre(palette.CellRect(1)));
    palette.MouseMove(p9.x, p9.y);
    palette.ButtonUp();
    EXPECT_EQ(palette.BackgroundColor(), palette.Color(9));
    EXPECT_EQ(palette.ForegroundColor(), palette.Color(6));
}

TEST_F(ColorPaletteTest, DoubleClickOnForegroundOffersTheColourChooser)
{
    THeadlessCommonDialogs dialogs;
    SetCommonDialogs(&dialogs);
    palette.SetForegroundColor(RGB(10, 20, 30));
    EXPECT_TRUE(reported.empty()) << "a colour set from outside is not reported back";

    dialogs.QueueColor(RGB(90, 80, 70));
    const TPoint fg = Centre(palette.ForegroundRect());
    palette.DoubleClick(fg.x, fg.y);
    ASSERT_EQ(dialogs.ColorRequests.size(), 1u);
    EXPECT_EQ(dialogs.ColorRequests[0], RGB(10, 20, 30));
    EXPECT_EQ(palette.ForegroundColor(), RGB(90, 80, 70));
    EXPECT_EQ(reported, std::vector<COLORREF>{RGB(90, 80, 70)});

    palette.DoubleClick(fg.x, fg.y); // cancelled: nothing changes
    EXPECT_EQ(dialogs.ColorRequests.size(), 2u);
    EXPECT_EQ(palette.ForegroundColor(), RGB(90, 80, 70));
    EXPECT_EQ(reported.size(), 1u);

    // The visible corner of the background square and the cells do not open it.
    const RECT bg = palette.BackgroundRect();
    palette.DoubleClick(bg.right - 2, bg.bottom - 2);
    const TPoint cell = Centre(palette.CellRect(3));
    palette.DoubleClick(cell.x, cell.y);
    EXPECT_EQ(dialogs.ColorRequests.size(), 2u);

    palette.SetVertical(true);
    const TPoint fgUp = Centre(palette.ForegroundRect());
    dialogs.QueueColor(RGB(1, 1, 1));
    palette.DoubleClick(fgUp.x, fgUp.y);
    EXPECT_EQ(palette.ForegroundColor(), RGB(1, 1, 1));
}
