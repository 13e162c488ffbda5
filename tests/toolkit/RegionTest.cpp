// Regions: span arithmetic and bitmap regions (combine modes, transforms, masks,
// colours), checked pixel by pixel against plain boolean grids.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "Region.h"
#include "TestBitmap.h"
#include "Toolkit.h"

namespace {

using tb::Bmp;

struct Grid {
    int w, h;
    std::vector<uint8_t> v;
    Grid(int w_, int h_) : w(w_), h(h_), v(size_t(w_) * size_t(h_), 0) {}
    bool at(int x, int y) const {
        return x >= 0 && y >= 0 && x < w && y < h && v[size_t(y) * w + x];
    }
    void set(int x, int y, bool on) { v[size_t(y) * w + x] = on; }
};

// Rows of runs of random length (1 .. 2 * meanRun) that start and end anywhere in a byte.
Grid RandomGrid(int w, int h, unsigned seed, int meanRun) {
    std::mt19937 rng(seed);
    Grid g(w, h);
    for (int y = 0; y < h; ++y) {
        bool on = rng() & 1;
        for (int x = 0; x < w; on = !on)
            for (int n = 1 + int(rng() % unsigned(2 * meanRun)); n > 0 && x < w; --n, ++x)
                g.set(x, y, on);
    }
    return g;
}

// A mask bitmap holding the grid: pixel value `on` where set, 0 elsewhere; 1-bit rows get
// garbage in their padding bits, which must not count as pixels.
Bmp MaskFrom(const Grid& g, int bpp = 1, int view = TOP_LEFT, uint32_t on = 1) {
    Bmp m(g.w, g.h, bpp, view);
    for (int y = 0; y < g.h; ++y) {
        uint8_t* row = L_RowPtr(&m.b, y);
        if (bpp == 1 && (g.w & 7)) row[g.w >> 3] = uint8_t(0xFFu >> (g.w & 7));
        for (int x = 0; x < g.w; ++x)
            if (g.at(x, y)) tb::PutRaw(m.b, x, y, on);
    }
    return m;
}

Grid RegionGrid(const BITMAPHANDLE& b) {
    Grid g(b.Width, b.Height);
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x) g.set(x, y, L_IsPtInBitmapRgn(&b, y, x) == 1);
    return g;
}

// Sorted by row then x, no empty, overlapping or touching spans within a row.
void ExpectWellFormed(const LRegion& r) {
    for (size_t i = 0; i < r.spans.size(); ++i) {
        ASSERT_LT(r.spans[i].x0, r.spans[i].x1) << "span " << i;
        if (i > 0) {
            const RgnSpan &a = r.spans[i - 1], &b = r.spans[i];
            ASSERT_TRUE(a.y < b.y || (a.y == b.y && a.x1 < b.x0)) << "spans " << i - 1 << ", " << i;
        }
    }
}

void ExpectGridEq(const Grid& actual, const Grid& expected, const char* what) {
    ASSERT_EQ(actual.w, expected.w);
    ASSERT_EQ(actual.h, expected.h);
    int bad = 0;
    for (int y = 0; y < expected.h; ++y)
        for (int x = 0; x < expected.w; ++x)
            if (actual.at(x, y) != expected.at(x, y) && ++bad <= 5)
                ADD_FAILURE() << what << ": pixel (" << x << "," << y << ") is " << actual.at(x, y);
}

bool ModeResult(L_UINT mode, bool existing, bool incoming) {
    switch (mode) {
        case L_RGN_AND: return existing && incoming;
        case L_RGN_SET: return incoming;
        case L_RGN_ANDNOTBITMAP:
        case L_RGN_ANDNOTRGN: return existing && !incoming;
        case L_RGN_OR: return existing || incoming;
        case L_RGN_XOR: return existing != incoming;
        default: return !incoming; // L_RGN_SETNOT
    }
}

} // namespace

TEST(Region, HandlesCombineInPlaceMergeTouchingSpansAndOffset) {
    HRGN a = L_CreateRectRgn(RECT{0, 0, 10, 10}), c = L_CreateRectRgn(RECT{10, 0, 12, 10});
    ASSERT_EQ(L_CombineRgn(a, a, c, L_RGN_OR), SUCCESS);
    EXPECT_EQ(a->spans.size(), 10u) << "touching rectangles must merge into one span per row";
    HRGN copy = L_CopyRgn(a);
    L_OffsetRgn(a, -3, 4);
    EXPECT_TRUE(L_PtInRgn(a, -3, 4) && L_PtInRgn(a, 8, 13) && !L_PtInRgn(a, 9, 13) &&
                !L_PtInRgn(a, 0, 3));
    EXPECT_TRUE(L_PtInRgn(copy, 0, 0)) << "a copy must not share spans";
    RECT box = L_GetRgnBox(a);
    EXPECT_TRUE(box.left == -3 && box.top == 4 && box.right == 9 && box.bottom == 14);
    // The modes that need a bitmap rectangle are refused on bare handles.
    EXPECT_EQ(L_CombineRgn(a, a, c, L_RGN_SETNOT), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_CombineRgn(a, a, c, L_RGN_ANDNOTBITMAP), ERROR_INV_PARAMETER);
    ASSERT_EQ(L_CombineRgn(copy, copy, copy, L_RGN_XOR), SUCCESS);
    EXPECT_TRUE(L_IsRgnEmpty(copy));
    for (HRGN r : {a, c, copy}) L_DeleteRgn(r);
}

TEST(Region, MaskOfAnyDepthAndRowOrderGivesTheSamePixels) {
    // Short runs, and long ones that cover whole bytes and words of a 1-bit row.
    for (const Grid& g : {RandomGrid(45, 17, 7, 4), RandomGrid(403, 9, 8, 90)}) {
        for (int bpp : {1, 4, 8, 16, 24, 32}) {
            for (int view : {TOP_LEFT, BOTTOM_LEFT}) {
                SCOPED_TRACE(testing::Message()
                             << g.w << " wide, " << bpp << " bits, view " << view);
                // A pixel whose only non-zero byte is its last one still counts (alpha at 32 bits).
                Bmp m = MaskFrom(g, bpp, view, bpp <= 8 ? 1u : 1u << (bpp - 8));
                LRegion r = LRegion::FromMask(m.b);
                ExpectWellFormed(r);
                Grid got(g.w, g.h);
                for (int y = 0; y < g.h; ++y)
                    for (int x = 0; x < g.w; ++x) got.set(x, y, r.Contains(x, y));
                ExpectGridEq(got, g, "mask region");
            }
        }
    }
}

TEST(BitmapRegion, CombineModesFollowTheirDefinitions) {
    const int w = 29, h = 13;
    Grid existing = RandomGrid(w, h, 11, 3), incoming = RandomGrid(w, h, 12, 4);
    // Rows empty on one side only.
    for (int y = 0; y < h; y += 3)
        for (int x = 0; x < w; ++x) (y % 2 ? existing : incoming).set(x, y, false);
    Bmp me = MaskFrom(existing), mi = MaskFrom(incoming);
    for (L_UINT mode = L_RGN_AND; mode <= L_RGN_SETNOT; ++mode) {
        for (bool hadRegion : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << "mode " << mode << (hadRegion ? " with" : " without") << " region");
            Bmp b(w, h, 24);
            if (hadRegion) {
                ASSERT_EQ(L_SetBitmapRgnFromMask(&b.b, nullptr, &me.b, L_RGN_SET), SUCCESS);
            }
            ASSERT_EQ(L_SetBitmapRgnFromMask(&b.b, nullptr, &mi.b, mode), SUCCESS);
            ExpectWellFormed(*b.b.pRgn);
            // Without a region the whole bitmap is the existing region.
            Grid want(w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    want.set(x, y,
                             ModeResult(mode, !hadRegion || existing.at(x, y), incoming.at(x, y)));
            ExpectGridEq(RegionGrid(b.b), want, "region");
        }
    }
    EXPECT_EQ(L_SetBitmapRgnFromMask(&me.b, nullptr, &mi.b, 7), ERROR_INV_PARAMETER);
}

TEST(BitmapRegion, MaskTransformsOffsetScaleAndFlipIntoTheBitmap) {
    Grid g = RandomGrid(13, 9, 5, 2);
    Bmp m = MaskFrom(g);
    struct Case {
        int xn, xd, yn, yd;
        L_UINT view;
        int dx, dy;
    };
    // Offsets like a layer's (-layerX, -layerY), partly outside; scales up and down; flips.
    for (Case c : {Case{1, 1, 1, 1, 0, -7, -3}, Case{1, 1, 1, 1, 0, 30, 25},
                   Case{2, 1, 3, 1, 0, 1, -1}, Case{1, 2, 1, 3, 0, 0, 0},
                   Case{3, 2, 2, 1, BOTTOM_LEFT, 1, -1}, Case{1, 1, 1, 1, BOTTOM_LEFT, -2, 4}}) {
        SCOPED_TRACE(testing::Message() << c.xn << "/" << c.xd << " " << c.yn << "/" << c.yd
                                        << " view " << c.view << " offset " << c.dx << "," << c.dy);
        Bmp b(40, 30, 8);
        RGNXFORM xf{c.view, c.xn, c.xd, c.yn, c.yd, c.dx, c.dy};
        ASSERT_EQ(L_SetBitmapRgnFromMask(&b.b, &xf, &m.b, L_RGN_SET), SUCCESS);
        ExpectWellFormed(*b.b.pRgn);
        // The source pixel whose block holds v: the largest s with floor(s * num / den) <= v.
        auto source = [](int v, int num, int den) {
            int s = 0;
            while ((s + 1) * num / den <= v) ++s;
            return s;
        };
        Grid want(40, 30);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                if (x < c.dx || y < c.dy) continue;
                const int sx = source(x - c.dx, c.xn, c.xd), sy = source(y - c.dy, c.yn, c.yd);
                want.set(x, y, g.at(sx, c.view == BOTTOM_LEFT ? g.h - 1 - sy : sy));
            }
        ExpectGridEq(RegionGrid(b.b), want, "transformed mask");

        // A rectangle through the same transform covers what the rectangle's mask does
        // (rectangles flip within the bitmap's height, so use a mask of that height).
        Bmp rectMask(13, 30, 1), viaRect(40, 30, 8);
        RECT rc{2, 5, 7, 26};
        for (int y = rc.top; y < rc.bottom; ++y)
            for (int x = rc.left; x < rc.right; ++x)
                L_PutPixelColor(&rectMask.b, y, x, PALETTEINDEX(1));
        ASSERT_EQ(L_SetBitmapRgnFromMask(&b.b, &xf, &rectMask.b, L_RGN_SET), SUCCESS);
        ASSERT_EQ(L_SetBitmapRgnRect(&viaRect.b, &xf, &rc, L_RGN_SET), SUCCESS);
        ExpectGridEq(RegionGrid(viaRect.b), RegionGrid(b.b), "rectangle");
    }
    Bmp b(4, 4, 8);
    RGNXFORM zero{0, 1, 0, 1, 1, 0, 0};
    RECT rc{0, 0, 2, 2};
    EXPECT_EQ(L_SetBitmapRgnRect(&b.b, &zero, &rc, L_RGN_SET), ERROR_INV_PARAMETER);
}

TEST(BitmapRegion, EmptyResultIsAnEmptyRegionNotTheWholeBitmap) {
    Bmp b(16, 16, 32);
    RECT left{0, 0, 4, 16}, right{8, 0, 16, 16};
    ASSERT_EQ(L_SetBitmapRgnRect(&b.b, nullptr, &left, L_RGN_SET), SUCCESS);
    ASSERT_EQ(L_SetBitmapRgnRect(&b.b, nullptr, &right, L_RGN_AND), SUCCESS);
    EXPECT_TRUE(L_BitmapHasRgn(&b.b));
    RECT box{1, 2, 3, 4};
    ASSERT_EQ(L_GetBitmapRgnBounds(&b.b, nullptr, &box), SUCCESS);
    EXPECT_TRUE(box.left == 0 && box.top == 0 && box.right == 0 && box.bottom == 0);
    EXPECT_EQ(L_IsPtInBitmapRgn(&b.b, 1, 1), 0);
    ASSERT_EQ(L_FillBitmap(&b.b, RGB(255, 255, 255)), SUCCESS);
    for (size_t i = 0; i < b.b.Size; ++i)
        ASSERT_EQ(b.b.Addr[i], 0) << "fill through an empty region wrote byte " << i;
    // Freeing the region means the whole bitmap again.
    ASSERT_EQ(L_FreeBitmapRgn(&b.b), SUCCESS);
    EXPECT_EQ(b.b.pRgn, nullptr);
    ASSERT_EQ(L_GetBitmapRgnBounds(&b.b, nullptr, &box), SUCCESS);
    EXPECT_TRUE(box.left == 0 && box.top == 0 && box.right == 16 && box.bottom == 16);
    EXPECT_EQ(L_IsPtInBitmapRgn(&b.b, 15, 15), 1);
    EXPECT_EQ(L_IsPtInBitmapRgn(&b.b, 16, 0), 0);
}

TEST(BitmapRegion, MaskRoundTripAndHandleCopies) {
    Grid g = RandomGrid(37, 21, 21, 3);
    Bmp m = MaskFrom(g, 1, BOTTOM_LEFT);
    Bmp b(37, 21, 24);
    b.b.XResolution = 123;
    ASSERT_EQ(L_SetBitmapRgnFromMask(&b.b, nullptr, &m.b, L_RGN_SET), SUCCESS);
    Bmp back;
    ASSERT_EQ(L_CreateMaskFromBitmapRgn(&b.b, &back.b), SUCCESS);
    ASSERT_EQ(back.b.BitsPerPixel, 1);
    EXPECT_EQ(back.b.XResolution, 123);
    EXPECT_EQ(back.b.pRgn, nullptr);
    Grid got(37, 21);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x)
            got.set(x, y, L_GetPixelColor(&back.b, y, x) == RGB(255, 255, 255));
    ExpectGridEq(got, g, "mask round trip");

    // The handle is a copy, moved by the transform; XOR with the original empties it.
    HRGN h = nullptr;
    RGNXFORM xf{0, 1, 1, 1, 1, 100, 0};
    ASSERT_EQ(L_GetBitmapRgnHandle(&b.b, &xf, &h), SUCCESS);
    RECT own, moved = L_GetRgnBox(h), viaBounds;
    ASSERT_EQ(L_GetBitmapRgnBounds(&b.b, nullptr, &own), SUCCESS);
    ASSERT_EQ(L_GetBitmapRgnBounds(&b.b, &xf, &viaBounds), SUCCESS);
    EXPECT_TRUE(moved.left == own.left + 100 && moved.right == own.right + 100 &&
                viaBounds.left == moved.left);
    L_OffsetRgn(h, -100, 0);
    ASSERT_EQ(L_SetBitmapRgnHandle(&b.b, nullptr, h, L_RGN_XOR), SUCCESS);
    EXPECT_TRUE(b.b.pRgn->Empty());
    L_DeleteRgn(h);

    // Without a region: the mask is all set and the handle is the whole rectangle.
    Bmp plain(9, 3, 8);
    Bmp again;
    ASSERT_EQ(L_CreateMaskFromBitmapRgn(&plain.b, &again.b), SUCCESS);
    EXPECT_EQ(L_GetPixelColor(&again.b, 2, 8), RGB(255, 255, 255));
    ASSERT_EQ(L_GetBitmapRgnHandle(&plain.b, nullptr, &h), SUCCESS);
    EXPECT_EQ(h->spans.size(), 3u);
    EXPECT_EQ(L_GetRgnBox(h).right, 9);
    L_DeleteRgn(h);
}

TEST(BitmapRegion, ColorRegionSelectsMatchingPixels) {
    for (int bpp : {16, 24, 32}) {
        SCOPED_TRACE(bpp);
        Bmp b(11, 5, bpp);
        Grid want(11, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x) {
                want.set(x, y, (x * 7 + y * 3) % 4 == 0);
                // Colours a 16-bit pixel holds exactly; alpha differs and must not matter.
                L_PutPixelColor(&b.b, y, x, want.at(x, y) ? RGB(255, 66, 8) : RGB(255, 66, 16));
                if (bpp == 32) L_RowPtr(&b.b, y)[x * 4 + 3] = uint8_t(x * 20);
            }
        ASSERT_EQ(L_SetBitmapRgnColor(&b.b, RGB(255, 66, 8), L_RGN_SET), SUCCESS);
        ExpectGridEq(RegionGrid(b.b), want, "colour region");
    }
    // Palette bitmaps: an RGB colour matches every index holding it; PALETTEINDEX one index.
    RGBQUAD pal[256] = {};
    pal[3] = pal[9] = RGBQUAD{10, 20, 30, 0};
    Bmp p(6, 1, 8, pal);
    const uint8_t values[6] = {3, 9, 0, 3, 5, 9};
    for (int x = 0; x < 6; ++x) L_RowPtr(&p.b, 0)[x] = values[x];
    ASSERT_EQ(L_SetBitmapRgnColor(&p.b, RGB(30, 20, 10), L_RGN_SET), SUCCESS);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(L_IsPtInBitmapRgn(&p.b, 0, x), values[x] == 3 || values[x] == 9) << x;
    ASSERT_EQ(L_SetBitmapRgnColor(&p.b, PALETTEINDEX(9), L_RGN_SET), SUCCESS);
    for (int x = 0; x < 6; ++x) EXPECT_EQ(L_IsPtInBitmapRgn(&p.b, 0, x), values[x] == 9) << x;
}
