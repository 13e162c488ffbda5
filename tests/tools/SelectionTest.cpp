// The selection shapes on a mask: what each selects with each combine operation, the
// outline that follows, and the rubber bands they draw.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "ImageData.h"
#include "LeadBitmap.h"
#include "Selection.h"
#include "SelectionOutline.h"
#include "model/ModelTestUtil.h"

namespace {

bool Bit(const BITMAPHANDLE& b, int x, int y) {
    return x >= 0 && y >= 0 && x < b.Width && y < b.Height &&
           ((L_RowPtr(&b, y)[x / 8] >> (7 - x % 8)) & 1);
}

// The outline by its definition: selected, with a neighbour unselected or off the mask.
bool OutlineAt(const BITMAPHANDLE& m, int x, int y) {
    if (!Bit(m, x, y)) return false;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (!Bit(m, x + dx, y + dy)) return true;
    return false;
}

struct Selection {
    Selection(int w, int h) {
        EXPECT_EQ(L_CreateBitmap(&mask, TYPE_CONV, w, h, 1, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
        EXPECT_EQ(L_CreateBitmap(&outline, TYPE_CONV, w, h, 1, ORDER_BGR, nullptr, TOP_LEFT),
                  SUCCESS);
    }
    L_INT Apply(TXSelection& s, int combine) {
        RECT dirty;
        return s.Apply(mask, outline, combine, &dirty);
    }
    int Count() const {
        int n = 0;
        for (int y = 0; y < mask.Height; ++y)
            for (int x = 0; x < mask.Width; ++x) n += Bit(mask, x, y);
        return n;
    }
    // The outline kept up to date by the shapes equals one computed from scratch.
    void ExpectOutlineFollowsMask() const {
        for (int y = 0; y < mask.Height; ++y)
            for (int x = 0; x < mask.Width; ++x)
                ASSERT_EQ(Bit(outline, x, y), OutlineAt(mask, x, y)) << x << "," << y;
    }
    TLeadBitmap mask, outline;
};

std::unique_ptr<TRectSelection> Rect(int x0, int y0, int x1, int y1) {
    auto r = std::make_unique<TRectSelection>();
    r->AddPoint(x0, y0, true);
    r->AddPoint(x1, y1, false);
    return r;
}

} // namespace

TEST(SelectionOutline, IsTheBoundaryOnAnyAreaAndAnyWidth) {
    std::mt19937 rng(7);
    for (int w : {1, 13, 37, 8192 + 75}) {
        const int h = w > 1000 ? 5 : 23;
        Selection s(w, h);
        // Seven bits in eight set, so that inner pixels are common; the padding past the
        // width is set too and must not count.
        for (size_t i = 0; i < s.mask.Size; ++i) s.mask.Addr[i] = uint8_t(rng() | rng() | rng());
        ASSERT_EQ(MakeOutline(s.mask, s.outline, nullptr), SUCCESS);
        s.ExpectOutlineFollowsMask();

        // Recomputing a part leaves the rows outside it alone and gets the part right,
        // also where the area pokes out of the mask.
        const RECT areas[] = {{8, 1, 16, h - 1}, {-5, -5, w / 2 + 3, 3}, {w - 3, 1, w + 9, h + 4}};
        for (const RECT& a : areas) {
            Selection part(w, h);
            std::memcpy(part.mask.Addr, s.mask.Addr, s.mask.Size);
            ASSERT_EQ(MakeOutline(part.mask, part.outline, &a), SUCCESS);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const bool inside = x >= a.left && x < a.right && y >= a.top && y < a.bottom;
                    if (inside) {
                        ASSERT_EQ(Bit(part.outline, x, y), Bit(s.outline, x, y)) << w << ":" << x;
                    } else if (y < a.top || y >= a.bottom) {
                        ASSERT_FALSE(Bit(part.outline, x, y)) << w << ":" << x << "," << y;
                    }
                }
        }
    }
    Selection a(8, 8), b(9, 8);
    EXPECT_EQ(MakeOutline(a.mask, b.outline, nullptr), ERROR_INV_RANGE);
}

// A hole by subtracting, then an added piece: the outline follows each step.
TEST(SelectionRect, CombinesWithTheMaskAndTheOutlineFollows) {
    Selection s(20, 20);
    auto big = Rect(2, 2, 17, 17), hole = Rect(6, 6, 9, 9), piece = Rect(15, 0, 19, 3);
    ASSERT_EQ(s.Apply(*big, SELECT_REPLACE), SUCCESS);
    ASSERT_EQ(s.Apply(*hole, SELECT_SUBTRACT), SUCCESS);
    EXPECT_EQ(s.Count(), 16 * 16 - 16);
    ASSERT_EQ(s.Apply(*piece, SELECT_ADD), SUCCESS);
    s.ExpectOutlineFollowsMask();
    ASSERT_EQ(s.Apply(*hole, SELECT_OUTSIDE), SUCCESS);
    EXPECT_EQ(s.Count(), 400 - 16);
    s.ExpectOutlineFollowsMask();

    // A click without a drag, or a drag along one row, encloses nothing.
    TRectSelection click;
    EXPECT_TRUE(click.AddPoint(4, 4, true));
    EXPECT_FALSE(click.AddPoint(4, 4, false));
    EXPECT_FALSE(click.IsValid());
    EXPECT_TRUE(click.AddPoint(6, 4, false));
    EXPECT_FALSE(click.IsValid());
    EXPECT_FALSE(click.AcceptPoint(4, 4));

    TEllipseSelection e;
    e.AddPoint(2, 2, true);
    e.AddPoint(12, 8, false);
    ASSERT_EQ(s.Apply(e, SELECT_REPLACE), SUCCESS);
    for (POINT p : {POINT{2, 5}, POINT{12, 5}, POINT{7, 2}, POINT{7, 8}})
        EXPECT_TRUE(Bit(s.mask, p.x, p.y)) << p.x << "," << p.y;
    EXPECT_FALSE(Bit(s.mask, 2, 2) || Bit(s.mask, 12, 8) || Bit(s.mask, 13, 5));
    HRGN rgn = e.GetRegion();
    ASSERT_NE(rgn, nullptr);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(L_PtInRgn(rgn, x, y), Bit(s.mask, x, y));
}

TEST(SelectionRubberBand, XorBandEnclosesTheCornersAndErasesItself) {
    TLeadBitmap screen;
    ASSERT_EQ(L_CreateBitmap(&screen, TYPE_CONV, 60, 60, 24, ORDER_BGR, nullptr, TOP_LEFT),
              SUCCESS);
    TRectSelection r(2.0, 5, 7);
    HDC dc = L_CreateLeadDC(&screen);
    r.AddPoint(10, 10, true);
    r.Draw(dc); // nothing yet: a mouse move erases before it adds its point
    r.AddPoint(12, 12, false);
    r.Draw(dc);
    // Image pixels 10..12 at zoom 2 cover client 25..30 x 27..32; the band runs around them.
    int right = 0, inside = 0;
    for (int y = 27; y < 33; ++y) {
        right += dc->GetPixel(30, y) != 0;
        for (int x = 26; x < 30; ++x) inside += y > 27 && y < 32 && dc->GetPixel(x, y) != 0;
    }
    EXPECT_GE(right, 2);
    EXPECT_EQ(inside, 0);
    r.Draw(dc);
    TFreeHandSelection f(1.0, 0, 0);
    f.AddPoint(3, 3, true);
    f.AddPoint(20, 3, false);
    f.DrawSegment(dc);
    EXPECT_NE(dc->GetPixel(10, 3), RGB(0, 0, 0));
    f.DrawSegment(dc);
    L_DeleteLeadDC(dc);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) ASSERT_EQ(L_GetPixelColor(&screen, y, x), RGB(0, 0, 0));
}

TEST(SelectionFreeHand, PolygonThroughTheCornersAndTheLastPosition) {
    Selection s(30, 30);
    // Alt held: the last point is the rubber corner under the mouse; a click fixes it.
    TFreeHandSelection f;
    f.AddPoint(2, 2, true); // the press
    f.AddPoint(15, 5, true);
    f.AddPoint(20, 2, true);
    f.AddPoint(20, 2, false); // click
    f.AddPoint(25, 25, true);
    f.AddPoint(20, 20, true);
    f.AddPoint(20, 20, false); // click
    f.AddPoint(2, 20, true);   // where the mouse is when Alt is released
    EXPECT_EQ(f.PointCount(), 4);
    ASSERT_EQ(s.Apply(f, SELECT_REPLACE), SUCCESS);
    EXPECT_TRUE(Bit(s.mask, 10, 10));
    EXPECT_FALSE(Bit(s.mask, 22, 22) || Bit(s.mask, 1, 10));
    EXPECT_EQ(f.GetBounds().right, 25); // the bounding box only grows
    s.ExpectOutlineFollowsMask();

    // A pentagram: its middle is a hole for the mask (alternate) but inside the region
    // (winding).
    TFreeHandSelection star;
    for (POINT p : {POINT{15, 1}, POINT{24, 28}, POINT{1, 11}, POINT{29, 11}, POINT{6, 28}})
        star.AddPoint(p.x, p.y, false);
    ASSERT_EQ(s.Apply(star, SELECT_REPLACE), SUCCESS);
    EXPECT_FALSE(Bit(s.mask, 15, 16));
    EXPECT_TRUE(Bit(s.mask, 15, 5));
    HRGN rgn = star.GetRegion();
    ASSERT_NE(rgn, nullptr);
    EXPECT_TRUE(L_PtInRgn(rgn, 15, 16) && L_PtInRgn(rgn, 15, 5));

    TFreeHandSelection full;
    for (int i = 0; i < kMaxSelectionPoints; ++i)
        ASSERT_TRUE(full.AddPoint(i % 100, i / 100, false));
    EXPECT_FALSE(full.AddPoint(500, 500, false));
    EXPECT_FALSE(full.AddPoint(500, 500, true));
    EXPECT_EQ(full.GetBounds().right, 99);
}

TEST(SelectionRetoucher, PaintsOnlyTheNewestSegmentAndSubtractsWithOddCombine) {
    Selection s(40, 30);
    TBrushSelection brush(5);
    brush.AddPoint(5, 10, true);
    ASSERT_EQ(s.Apply(brush, SELECT_ADD), SUCCESS); // the first dab
    EXPECT_TRUE(Bit(s.mask, 7, 10) && !Bit(s.mask, 9, 10));
    brush.AddPoint(20, 10, false);
    brush.AddPoint(30, 10, false);
    ASSERT_EQ(s.Apply(brush, SELECT_ADD), SUCCESS);
    EXPECT_FALSE(Bit(s.mask, 14, 10)); // between the first two points: never painted
    EXPECT_TRUE(Bit(s.mask, 20, 10) && Bit(s.mask, 30, 12));
    s.ExpectOutlineFollowsMask();

    TBrushSelection eraser(3);
    eraser.AddPoint(25, 10, true);
    ASSERT_EQ(s.Apply(eraser, SELECT_SUBTRACT), SUCCESS);
    EXPECT_TRUE(!Bit(s.mask, 25, 10) && Bit(s.mask, 28, 10));
    s.ExpectOutlineFollowsMask();

    // One pixel wide: a dab marks its pixel, and a line is outline all along.
    TBrushSelection thin(1);
    thin.AddPoint(2, 20, true);
    ASSERT_EQ(s.Apply(thin, SELECT_ADD), SUCCESS);
    EXPECT_TRUE(Bit(s.mask, 2, 20));
    thin.AddPoint(2, 28, false);
    ASSERT_EQ(s.Apply(thin, SELECT_ADD), SUCCESS);
    for (int y = 20; y < 28; ++y) EXPECT_TRUE(Bit(s.outline, 2, y)) << y;
    s.ExpectOutlineFollowsMask();
}

TEST(SelectionMagicWand, SelectsOnTheCurrentLayerWhereItLies) {
    TImageData data;
    data.Image.Layers.Append(mt::Solid(40, 30, mt::Px{0, 0, 0, 255}, 24));
    auto layer = mt::At(mt::Solid(10, 8, mt::Px{200, 0, 0, 255}, 24), 14, 6);
    for (int y = 0; y < 8; ++y) mt::Put(*layer, 6, y, mt::Px{0, 0, 250, 255}); // a wall
    data.Image.Layers.Append(std::move(layer));
    data.Image.Layers.Seek(1);

    Selection s(40, 30);
    TMagicWandSelection wand(data, 10), right(data, 10), beside(data, 10);
    wand.AddPoint(15, 7, true);
    right.AddPoint(22, 6, true);
    beside.AddPoint(5, 5, true);
    ASSERT_EQ(s.Apply(wand, SELECT_REPLACE), SUCCESS);
    EXPECT_EQ(s.Count(), 6 * 8); // the layer's columns 0..5, left of the wall
    EXPECT_TRUE(Bit(s.mask, 14, 6) && Bit(s.mask, 19, 13) && !Bit(s.mask, 20, 6));

    // Added next to a piece beside the layer (in the next byte of the mask), whose edge
    // then stops being outline.
    auto piece = Rect(24, 6, 27, 13);
    ASSERT_EQ(s.Apply(*piece, SELECT_ADD), SUCCESS);
    ASSERT_EQ(s.Apply(right, SELECT_ADD), SUCCESS);
    EXPECT_EQ(s.Count(), 9 * 8 + 4 * 8);
    s.ExpectOutlineFollowsMask();
    ASSERT_EQ(s.Apply(wand, SELECT_SUBTRACT), SUCCESS);
    EXPECT_EQ(s.Count(), 3 * 8 + 4 * 8);
    ASSERT_EQ(s.Apply(right, SELECT_OUTSIDE), SUCCESS);
    EXPECT_TRUE(Bit(s.mask, 14, 6) && Bit(s.mask, 20, 6) && !Bit(s.mask, 21, 6));

    const int before = s.Count(); // a click beside the layer changes nothing
    ASSERT_EQ(s.Apply(beside, SELECT_REPLACE), SUCCESS);
    EXPECT_EQ(s.Count(), before);
    ASSERT_EQ(s.Apply(wand, SELECT_REPLACE), SUCCESS);
    EXPECT_EQ(s.Count(), 6 * 8);
}
