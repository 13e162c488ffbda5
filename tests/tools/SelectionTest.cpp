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

void SetBit(BITMAPHANDLE& b, int x, int y) { L_RowPtr(&b, y)[x / 8] |= uint8_t(0x80 >> (x % 8)); }

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
    L_INT Apply(TXSelection& s, int combine) { return s.Apply(mask, outline, combine, &dirty); }
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
    RECT dirty{};
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
        for (int y = 0; y < h; ++y) // mostly set, so that inner pixels exist
            for (int x = 0; x < w; ++x)
                if (rng() % 6) SetBit(s.mask, x, y);
        ASSERT_EQ(MakeOutline(s.mask, s.outline, nullptr), SUCCESS);
        s.ExpectOutlineFollowsMask();

        // Recomputing a part leaves the rows outside it alone and gets the part right,
        // also where the area pokes out of the mask.
        const RECT areas[] = {{3, 2, 9, 4}, {-5, -5, w / 2 + 3, 3}, {w - 3, 1, w + 9, h + 4}};
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

TEST(SelectionRect, SelectsBothCornerPixelsAndCombinesWithTheMask) {
    Selection s(20, 20);
    auto r = Rect(12, 12, 10, 10); // dragged up and left
    ASSERT_TRUE(r->IsValid());
    ASSERT_EQ(s.Apply(*r, SELECT_REPLACE), SUCCESS);
    EXPECT_EQ(s.Count(), 9);
    EXPECT_TRUE(Bit(s.mask, 10, 10) && Bit(s.mask, 12, 12));
    EXPECT_TRUE(Bit(s.outline, 10, 11) && !Bit(s.outline, 11, 11));

    // A hole by subtracting, then an added piece: the outline follows each step.
    auto big = Rect(2, 2, 17, 17), hole = Rect(6, 6, 9, 9), piece = Rect(15, 0, 19, 3);
    ASSERT_EQ(s.Apply(*big, SELECT_REPLACE), SUCCESS);
    ASSERT_EQ(s.Apply(*hole, SELECT_SUBTRACT), SUCCESS);
    EXPECT_EQ(s.Count(), 16 * 16 - 16);
    EXPECT_FALSE(Bit(s.mask, 7, 7));
    ASSERT_EQ(s.Apply(*piece, SELECT_ADD), SUCCESS);
    EXPECT_TRUE(Bit(s.mask, 19, 0));
    s.ExpectOutlineFollowsMask();
    EXPECT_LE(s.dirty.left, 14);
    EXPECT_GE(s.dirty.right, 21);

    ASSERT_EQ(s.Apply(*hole, SELECT_OUTSIDE), SUCCESS);
    EXPECT_EQ(s.Count(), 400 - 16);
    EXPECT_TRUE(Bit(s.outline, 0, 0) && Bit(s.outline, 19, 5)); // the canvas edge is boundary
    s.ExpectOutlineFollowsMask();

    // A click without a drag encloses nothing; repeated points are not taken.
    TRectSelection click;
    EXPECT_TRUE(click.AddPoint(4, 4, true));
    EXPECT_FALSE(click.AddPoint(4, 4, false));
    EXPECT_FALSE(click.IsValid());
    EXPECT_TRUE(click.AddPoint(6, 4, false));
    EXPECT_FALSE(click.IsValid()); // no height
    EXPECT_FALSE(click.AcceptPoint(6, 4));
    EXPECT_FALSE(click.AcceptPoint(4, 4));
}

TEST(SelectionRect, OnePixelWideSelectionIsAllOutline) {
    Selection s(10, 10);
    TBrushSelection line(1);
    line.AddPoint(4, 1, true);
    line.AddPoint(4, 8, false);
    ASSERT_EQ(s.Apply(line, SELECT_ADD), SUCCESS);
    EXPECT_EQ(s.Count(), 7);
    for (int y = 1; y < 8; ++y) EXPECT_TRUE(Bit(s.outline, 4, y)) << y;
    s.ExpectOutlineFollowsMask();
}

TEST(SelectionEllipse, IsInscribedInTheCornerPixels) {
    Selection s(20, 20);
    TEllipseSelection e;
    e.AddPoint(2, 2, true);
    e.AddPoint(12, 8, false);
    ASSERT_EQ(s.Apply(e, SELECT_REPLACE), SUCCESS);
    for (POINT p : {POINT{2, 5}, POINT{12, 5}, POINT{7, 2}, POINT{7, 8}, POINT{7, 5}})
        EXPECT_TRUE(Bit(s.mask, p.x, p.y)) << p.x << "," << p.y;
    for (POINT p : {POINT{2, 2}, POINT{12, 8}, POINT{1, 5}, POINT{13, 5}, POINT{7, 9}})
        EXPECT_FALSE(Bit(s.mask, p.x, p.y)) << p.x << "," << p.y;
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
    r.AddPoint(10, 10, true);
    r.AddPoint(12, 12, false);
    HDC dc = L_CreateLeadDC(&screen);
    r.Draw(dc);
    // Image pixels 10..12 at zoom 2 cover client 25..30 x 27..32; the band runs around them.
    EXPECT_NE(dc->GetPixel(25, 27), RGB(0, 0, 0));
    EXPECT_EQ(dc->GetPixel(26, 28), RGB(0, 0, 0));
    EXPECT_EQ(dc->GetPixel(31, 33), RGB(0, 0, 0));
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
    f.AddPoint(2, 2, true);  // the press
    f.AddPoint(15, 5, true); // moves
    f.AddPoint(20, 2, true);
    f.AddPoint(20, 2, false); // click
    f.AddPoint(25, 25, true);
    f.AddPoint(20, 20, true);
    f.AddPoint(20, 20, false); // click
    f.AddPoint(2, 20, true);   // the last position when Alt is released
    ASSERT_TRUE(f.IsValid());
    EXPECT_EQ(f.PointCount(), 4);
    ASSERT_EQ(s.Apply(f, SELECT_REPLACE), SUCCESS);
    EXPECT_TRUE(Bit(s.mask, 10, 10));
    EXPECT_FALSE(Bit(s.mask, 22, 22));
    EXPECT_FALSE(Bit(s.mask, 1, 10));
    const RECT b = f.GetBounds();
    EXPECT_EQ(b.right, 25); // the bounding box only grows
    s.ExpectOutlineFollowsMask();
}

TEST(SelectionFreeHand, StopsTakingPointsAt15000) {
    TFreeHandSelection f;
    for (int i = 0; i < kMaxSelectionPoints; ++i) ASSERT_TRUE(f.AddPoint(i % 100, i / 100, false));
    EXPECT_FALSE(f.AddPoint(500, 500, false));
    EXPECT_FALSE(f.AddPoint(500, 500, true));
    EXPECT_EQ(f.PointCount(), kMaxSelectionPoints);
    EXPECT_EQ(f.GetBounds().right, 99);
}

TEST(SelectionRetoucher, PaintsOnlyTheNewestSegmentAndSubtractsWithOddCombine) {
    Selection s(40, 30);
    TBrushSelection brush(5);
    brush.AddPoint(5, 10, true);
    ASSERT_EQ(s.Apply(brush, SELECT_ADD), SUCCESS); // the first dab
    EXPECT_TRUE(Bit(s.mask, 5, 10) && Bit(s.mask, 7, 10) && !Bit(s.mask, 9, 10));
    brush.AddPoint(20, 10, false);
    brush.AddPoint(30, 10, false);
    ASSERT_EQ(s.Apply(brush, SELECT_ADD), SUCCESS);
    EXPECT_FALSE(Bit(s.mask, 14, 10)); // between the first two points: never painted
    EXPECT_TRUE(Bit(s.mask, 20, 10) && Bit(s.mask, 30, 12) && Bit(s.mask, 25, 8));
    s.ExpectOutlineFollowsMask();

    TBrushSelection eraser(3);
    eraser.AddPoint(25, 10, true);
    ASSERT_EQ(s.Apply(eraser, SELECT_SUBTRACT), SUCCESS);
    EXPECT_FALSE(Bit(s.mask, 25, 10));
    EXPECT_TRUE(Bit(s.mask, 28, 10));
    s.ExpectOutlineFollowsMask();
    EXPECT_TRUE(s.dirty.left <= 21 && s.dirty.right >= 29);
}

TEST(SelectionMagicWand, SelectsOnTheCurrentLayerWhereItLies) {
    TImageData data;
    data.Image.Layers.Append(mt::Solid(40, 30, mt::Px{0, 0, 0, 255}, 24));
    auto layer = mt::At(mt::Solid(10, 8, mt::Px{200, 0, 0, 255}, 24), 12, 6);
    for (int y = 0; y < 8; ++y) mt::Put(*layer, 6, y, mt::Px{0, 0, 250, 255}); // a wall
    data.Image.Layers.Append(std::move(layer));
    data.Image.Layers.Seek(1);

    Selection s(40, 30);
    TMagicWandSelection wand(data, 10);
    ASSERT_TRUE(wand.AddPoint(13, 7, true));
    ASSERT_EQ(s.Apply(wand, SELECT_REPLACE), SUCCESS);
    EXPECT_EQ(s.Count(), 6 * 8); // the layer's columns 0..5, left of the wall
    EXPECT_TRUE(Bit(s.mask, 12, 6) && Bit(s.mask, 17, 13));
    EXPECT_FALSE(Bit(s.mask, 18, 6) || Bit(s.mask, 11, 6));
    s.ExpectOutlineFollowsMask();

    TMagicWandSelection right(data, 10);
    right.AddPoint(20, 6, true);
    ASSERT_EQ(s.Apply(right, SELECT_ADD), SUCCESS);
    EXPECT_EQ(s.Count(), 9 * 8);
    s.ExpectOutlineFollowsMask();
    ASSERT_EQ(s.Apply(wand, SELECT_SUBTRACT), SUCCESS);
    EXPECT_EQ(s.Count(), 3 * 8);
    ASSERT_EQ(s.Apply(right, SELECT_OUTSIDE), SUCCESS);
    EXPECT_TRUE(Bit(s.mask, 12, 6) && Bit(s.mask, 18, 6) && !Bit(s.mask, 19, 6));

    // A click beside the layer changes nothing.
    const int before = s.Count();
    TMagicWandSelection beside(data, 10);
    beside.AddPoint(5, 5, true);
    ASSERT_EQ(s.Apply(beside, SELECT_REPLACE), SUCCESS);
    EXPECT_EQ(s.Count(), before);
}
