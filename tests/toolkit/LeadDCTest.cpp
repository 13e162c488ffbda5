// The software device context: GDI pixel rules, XOR drawing that undoes itself, pens,
// fill modes, the state stack, clipping, every target depth, the stretch blits and the
// marching-ants outline, checked against per-pixel references.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "LeadDC.h"
#include "Region.h"
#include "TestBitmap.h"
#include "Toolkit.h"

namespace {

using tb::Bmp;
using tb::Randomize;
using tb::Raw;

constexpr int kDepths[] = {1, 4, 8, 16, 24, 32};

struct DC {
    HDC dc;
    explicit DC(BITMAPHANDLE& b) : dc(L_CreateLeadDC(&b)) { EXPECT_NE(dc, nullptr); }
    DC(const DC&) = delete;
    ~DC() { L_DeleteLeadDC(dc); }
    LDEVICE* operator->() const { return dc; }
};

// A pixel as stored: the index, or the pixel's bytes little-endian.
std::vector<uint32_t> Pixels(const BITMAPHANDLE& b) {
    std::vector<uint32_t> v;
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x) v.push_back(Raw(b, x, y));
    return v;
}

// The pixels a drawing covers: drawn in white on a black 24-bit bitmap.
struct Cover {
    int w, h;
    std::vector<uint8_t> on;
    bool at(int x, int y) const {
        return x >= 0 && y >= 0 && x < w && y < h && on[size_t(y) * w + x];
    }
    int count() const {
        int n = 0;
        for (uint8_t v : on) n += v;
        return n;
    }
};

Cover Draw(int w, int h, const std::function<void(LDEVICE&)>& f) {
    Bmp bmp(w, h, 24);
    DC dc(bmp.b);
    dc->SelectPen(kWhitePen);
    dc->SelectBrush(kHollowBrush);
    f(*dc.dc);
    Cover c{w, h, std::vector<uint8_t>(size_t(w) * h)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) c.on[size_t(y) * w + x] = Raw(bmp.b, x, y) != 0;
    return c;
}

// The pixels a filled shape without outline covers.
Cover Fill(int w, int h, const std::function<void(LDEVICE&)>& f) {
    return Draw(w, h, [&](LDEVICE& dc) {
        dc.SelectPen(kNullPen);
        dc.SelectBrush(kWhiteBrush);
        f(dc);
    });
}

void ExpectSymmetric(const Cover& c, int l, int t, int r, int b) {
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) {
            ASSERT_EQ(c.at(x, y), c.at(l + r - 1 - x, y)) << x << "," << y;
            ASSERT_EQ(c.at(x, y), c.at(x, t + b - 1 - y)) << x << "," << y;
        }
}

bool InsideBox(const Cover& c, int l, int t, int r, int b) {
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x)
            if (c.at(x, y) && (x < l || x >= r || y < t || y >= b)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// GDI pixel rules.

TEST(LeadDCShapes, FilledRectangleExcludesRightAndBottomAndPenFramesTheSameArea) {
    Cover fill = Fill(20, 20, [](LDEVICE& dc) { dc.Rectangle(7, 9, 2, 3); }); // corners either way
    Cover frame = Draw(20, 20, [](LDEVICE& dc) { dc.Rectangle(2, 3, 7, 9); });
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool inArea = x >= 2 && x < 7 && y >= 3 && y < 9;
            EXPECT_EQ(fill.at(x, y), inArea) << x << "," << y;
            EXPECT_EQ(frame.at(x, y), inArea && (x == 2 || x == 6 || y == 3 || y == 8))
                << x << "," << y;
        }
}

TEST(LeadDCShapes, LinesLeaveOutTheirLastPointAndStepOncePerMajorCoordinate) {
    const int ends[][4] = {{3, 5, 30, 5},  {30, 5, 3, 5},   {8, 2, 8, 27},
                           {2, 2, 25, 25}, {4, 28, 29, 17}, {20, 1, 11, 30}};
    for (const auto& e : ends) {
        Cover c = Draw(32, 32, [&](LDEVICE& dc) {
            EXPECT_EQ(dc.MoveTo(e[0], e[1]).x, 0);
            dc.LineTo(e[2], e[3]);
            const POINT pos = dc.MoveTo(0, 0);
            EXPECT_TRUE(pos.x == e[2] && pos.y == e[3]);
        });
        const int dx = std::abs(e[2] - e[0]), dy = std::abs(e[3] - e[1]);
        EXPECT_EQ(c.count(), std::max(dx, dy));
        EXPECT_TRUE(c.at(e[0], e[1]));
        EXPECT_FALSE(c.at(e[2], e[3]));
        // One pixel per step along the major axis, each within half a pixel of the line.
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                if (!c.at(x, y)) continue;
                const double t =
                    dx >= dy ? double(x - e[0]) / (e[2] - e[0]) : double(y - e[1]) / (e[3] - e[1]);
                const double minor = dx >= dy ? e[1] + t * (e[3] - e[1]) : e[0] + t * (e[2] - e[0]);
                EXPECT_LE(std::abs((dx >= dy ? y : x) - minor), 0.5 + 1e-9);
            }
    }
    EXPECT_EQ(Draw(8, 8,
                   [](LDEVICE& dc) {
                       dc.MoveTo(3, 3);
                       dc.LineTo(3, 3);
                   })
                  .count(),
              0);
}

TEST(LeadDCShapes, EllipseIsInscribedSymmetricAndFramedByItsEdgePixels) {
    const int boxes[][4] = {{2, 2, 11, 11}, {3, 1, 13, 8},  {5, 5, 6, 10},
                            {1, 4, 32, 21}, {0, 0, 40, 40}, {6, 3, 8, 5}};
    for (const auto& bx : boxes) {
        const int l = bx[0], t = bx[1], r = bx[2], b = bx[3];
        Cover fill = Fill(48, 48, [&](LDEVICE& dc) { dc.Ellipse(l, t, r, b); });
        // Pixel centres inside the inscribed ellipse.
        const double cx = (l + r) / 2.0, cy = (t + b) / 2.0, ax = (r - l) / 2.0, ay = (b - t) / 2.0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x) {
                const double u = (x + 0.5 - cx) / ax, v = (y + 0.5 - cy) / ay;
                const double d = u * u + v * v;
                if (std::abs(d - 1) > 1e-9) {
                    EXPECT_EQ(fill.at(x, y), d < 1) << x << "," << y;
                }
            }
        EXPECT_TRUE(InsideBox(fill, l, t, r, b));
        ExpectSymmetric(fill, l, t, r, b);

        Cover outline = Draw(48, 48, [&](LDEVICE& dc) { dc.Ellipse(l, t, r, b); });
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x) {
                const bool edge = fill.at(x, y) && (!fill.at(x - 1, y) || !fill.at(x + 1, y) ||
                                                    !fill.at(x, y - 1) || !fill.at(x, y + 1));
                EXPECT_EQ(outline.at(x, y), edge) << x << "," << y;
            }
    }
}

TEST(LeadDCShapes, InsideFramePenStaysInTheBoxWhileASolidPenIsCentredOnIt) {
    for (int shape = 0; shape < 2; ++shape) {
        auto draw = [&](int style) {
            return Draw(40, 40, [&](LDEVICE& dc) {
                dc.SelectPen(LPEN{style, 5, RGB(255, 255, 255)});
                if (shape == 0)
                    dc.Rectangle(8, 10, 30, 26);
                else
                    dc.Ellipse(8, 10, 30, 26);
            });
        };
        Cover inside = draw(PS_INSIDEFRAME), solid = draw(PS_SOLID);
        EXPECT_TRUE(InsideBox(inside, 8, 10, 30, 26));
        EXPECT_FALSE(InsideBox(solid, 8, 10, 30, 26));
        // Five pixels of pen inward from the middle of the left side, then the hollow inside.
        for (int x = 8; x < 13; ++x) EXPECT_TRUE(inside.at(x, 18)) << x;
        EXPECT_FALSE(inside.at(13, 18));
        ExpectSymmetric(inside, 8, 10, 30, 26);
    }
}

TEST(LeadDCShapes, WidePenDabIsARoundDiscAndWideLinesHaveRoundEnds) {
    // (A one-pixel pen leaves out the end point, and so draws nothing here, as in GDI.)
    for (int w = 2; w <= 12; ++w) {
        Cover c = Draw(32, 32, [&](LDEVICE& dc) {
            dc.SelectPen(LPEN{PS_SOLID, w, RGB(255, 255, 255)});
            dc.MoveTo(15, 15);
            dc.LineTo(15, 15);
        });
        const int l = 15 - w / 2;
        EXPECT_TRUE(InsideBox(c, l, l, l + w, l + w)) << w;
        ExpectSymmetric(c, l, l, l + w, l + w);
        for (int i = l; i < l + w; ++i)
            EXPECT_TRUE(c.at(i, 15 - (w % 2 == 0)) && c.at(15 - (w % 2 == 0), i)) << w;
        if (w >= 4) {
            EXPECT_FALSE(c.at(l, l)) << w;
        }
        const double area = 3.14159265 * w * w / 4;
        EXPECT_NEAR(c.count(), area, 0.15 * area + 2) << w;
    }
    Cover line = Draw(48, 32, [](LDEVICE& dc) {
        dc.SelectPen(LPEN{PS_SOLID, 7, RGB(255, 255, 255)});
        dc.MoveTo(10, 15);
        dc.LineTo(35, 15);
    });
    for (int y = 12; y <= 18; ++y) EXPECT_TRUE(line.at(22, y));
    EXPECT_FALSE(line.at(22, 11) || line.at(22, 19));
    EXPECT_TRUE(line.at(7, 15) && line.at(38, 15));  // the caps reach half the width past the ends
    EXPECT_FALSE(line.at(7, 12) || line.at(38, 18)); // and are round
}

TEST(LeadDCShapes, SelfOverlappingStarFillsItsCentreOnlyWhenWinding) {
    const POINT star[] = {{30, 2}, {47, 56}, {2, 22}, {58, 22}, {13, 56}};
    for (int mode : {ALTERNATE, WINDING}) {
        Cover c = Fill(60, 60, [&](LDEVICE& dc) {
            EXPECT_NE(dc.SetPolyFillMode(mode), 0);
            dc.Polygon(star, 5);
        });
        EXPECT_EQ(c.at(30, 32), mode == WINDING);
        EXPECT_TRUE(c.at(30, 10) && c.at(10, 24) && c.at(50, 24)); // the points
        EXPECT_FALSE(c.at(30, 55) || c.at(3, 40));
    }
    // A triangle takes the pixels whose centres it contains.
    const POINT tri[] = {{3, 2}, {40, 11}, {9, 37}};
    Cover tr = Fill(48, 48, [&](LDEVICE& dc) { dc.Polygon(tri, 3); });
    auto side = [](POINT a, POINT b, double x, double y) {
        return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
    };
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
            const double s0 = side(tri[0], tri[1], x + .5, y + .5),
                         s1 = side(tri[1], tri[2], x + .5, y + .5),
                         s2 = side(tri[2], tri[0], x + .5, y + .5);
            if (s0 != 0 && s1 != 0 && s2 != 0) {
                EXPECT_EQ(tr.at(x, y), s0 > 0 && s1 > 0 && s2 > 0) << x << "," << y;
            }
        }
}

TEST(LeadDCShapes, DottedAndDashedPensFollowThePatternAndBackgroundMode) {
    for (int mode : {OPAQUE, TRANSPARENT}) {
        Bmp bmp(40, 4, 24);
        L_FillBitmap(&bmp.b, RGB(10, 20, 30));
        DC dc(bmp.b);
        dc->SelectPen(LPEN{PS_DOT, 1, RGB(255, 0, 0)});
        dc->SetBkColor(RGB(0, 0, 255));
        dc->SetBkMode(mode);
        dc->MoveTo(2, 1);
        dc->LineTo(12, 1);
        for (int x = 2; x < 12; ++x) {
            const COLORREF want = (x - 2) % 2 == 0 ? RGB(255, 0, 0)
                                  : mode == OPAQUE ? RGB(0, 0, 255)
                                                   : RGB(10, 20, 30);
            EXPECT_EQ(dc->GetPixel(x, 1), want) << x;
        }
        EXPECT_EQ(dc->GetPixel(12, 1), RGB(10, 20, 30));
    }
    Cover dash = Draw(64, 2, [](LDEVICE& dc) {
        dc.SelectPen(LPEN{PS_DASH, 1, RGB(255, 255, 255)});
        dc.SetBkMode(TRANSPARENT);
        dc.MoveTo(0, 0);
        dc.LineTo(60, 0);
    });
    for (int x = 0; x < 60; ++x) EXPECT_EQ(dash.at(x, 0), x % 24 < 18) << x;
}

TEST(LeadDCShapes, FrameRgnPaintsABandOfTheGivenWidthInsideTheRegionEdge) {
    HRGN rgn = L_CreateRectRgn(RECT{5, 4, 30, 26});
    HRGN notch = L_CreateRectRgn(RECT{12, 4, 20, 12});
    ASSERT_EQ(L_CombineRgn(rgn, rgn, notch, L_RGN_ANDNOTRGN), SUCCESS);
    Cover c = Draw(40, 32, [&](LDEVICE& dc) { dc.FrameRgn(rgn, kWhiteBrush, 2, 3); });
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 40; ++x) {
            bool edge = false;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -1; dx <= 1; ++dx) edge |= !L_PtInRgn(rgn, x + dx, y + dy);
            EXPECT_EQ(c.at(x, y), L_PtInRgn(rgn, x, y) && edge) << x << "," << y;
        }
    L_DeleteRgn(rgn);
    L_DeleteRgn(notch);
}

// ---------------------------------------------------------------------------
// XOR drawing.

using Drawing = std::function<void(LDEVICE&)>;

// A drawing made with the given pen (the other state as the caller left it).
Drawing With(LPEN pen, Drawing draw) {
    return [=](LDEVICE& dc) {
        dc.SelectPen(pen);
        draw(dc);
    };
}

std::vector<Drawing> XorDrawings() {
    static const POINT star[] = {{30, 2}, {47, 56}, {2, 22}, {58, 22}, {13, 56}};
    static const POINT zigzag[] = {{3, 3}, {50, 40}, {50, 3}, {3, 40}, {20, 57}};
    const Drawing rect = [](LDEVICE& dc) { dc.Rectangle(5, 6, 41, 33); };
    const Drawing ellipse = [](LDEVICE& dc) { dc.Ellipse(3, 4, 52, 39); };
    const Drawing polyline = [](LDEVICE& dc) { dc.Polyline(zigzag, 5); };
    const LPEN dot{PS_DOT, 1, RGB(255, 255, 255)};
    return {
        rect,
        With(LPEN{PS_SOLID, 6, RGB(200, 30, 90)}, rect),
        With(LPEN{PS_INSIDEFRAME, 4, RGB(200, 30, 90)}, rect),
        With(dot, rect),
        ellipse,
        [](LDEVICE& dc) { dc.Ellipse(10, 10, 19, 19); },
        With(dot, ellipse),
        With(LPEN{PS_SOLID, 5, RGB(255, 255, 255)}, ellipse),
        [](LDEVICE& dc) {
            dc.SetPolyFillMode(WINDING);
            dc.Polygon(star, 5);
        },
        With(LPEN{PS_SOLID, 3, RGB(9, 99, 199)}, [](LDEVICE& dc) { dc.Polygon(star, 5); }),
        With(dot, polyline),
        With(LPEN{PS_DASH, 1, RGB(255, 255, 255)},
             [polyline](LDEVICE& dc) {
                 dc.SetBkMode(TRANSPARENT);
                 polyline(dc);
             }),
        With(LPEN{PS_SOLID, 7, RGB(255, 255, 255)}, polyline),
        With(LPEN{PS_SOLID, 9, RGB(255, 255, 255)},
             [](LDEVICE& dc) {
                 dc.MoveTo(20, 20);
                 dc.LineTo(20, 20);
             }),
        [](LDEVICE& dc) {
            dc.FillRect(RECT{-5, 10, 30, 80}, LBRUSH{BS_SOLID, RGB(250, 200, 100)});
        },
    };
}

TEST(LeadDCXor, DrawingTwiceRestoresTheTargetExactlyAtEveryDepth) {
    const std::vector<Drawing> drawings = XorDrawings();
    for (int bpp : kDepths) {
        for (size_t i = 0; i < drawings.size(); ++i) {
            Bmp bmp(60, 60, bpp);
            Randomize(bmp.b, unsigned(bpp * 100 + i));
            const std::vector<uint32_t> before = Pixels(bmp.b);
            DC dc(bmp.b);
            dc->SetROP2(R2_XORPEN);
            dc->SelectPen(kWhitePen);
            dc->SelectBrush(LBRUSH{BS_SOLID, RGB(255, 255, 255)});
            dc->SetBkColor(RGB(0, 255, 255));
            drawings[i](*dc.dc);
            EXPECT_NE(Pixels(bmp.b), before) << "bpp " << bpp << " drawing " << i;
            drawings[i](*dc.dc);
            EXPECT_EQ(Pixels(bmp.b), before) << "bpp " << bpp << " drawing " << i;
        }
    }
}

TEST(LeadDCXor, EachPixelOfAShapeIsTouchedOnce) {
    // With white on black, XOR shows exactly what copying shows unless a pixel (a corner,
    // a shared vertex, a join) was XORed twice.
    for (const Drawing& d : XorDrawings()) {
        auto run = [&](int rop) {
            return Draw(60, 60, [&](LDEVICE& dc) {
                dc.SetROP2(rop);
                dc.SelectBrush(kWhiteBrush);
                dc.SetBkColor(RGB(255, 255, 255));
                d(dc);
            });
        };
        Cover copy = run(R2_COPYPEN), xored = run(R2_XORPEN);
        // Pens of other colours give other bytes; only coverage counts here.
        EXPECT_EQ(copy.on, xored.on);
    }
}

// ---------------------------------------------------------------------------
// State, coordinates and clipping.

TEST(LeadDCState, RestoreBringsBackEveryPartOfTheState) {
    Bmp bmp(30, 30, 24);
    DC dc(bmp.b);
    EXPECT_EQ(dc->SaveDC(), 1);
    dc->SelectPen(LPEN{PS_DOT, 3, RGB(1, 2, 3)});
    dc->SelectBrush(kHollowBrush);
    dc->SetROP2(R2_NOT);
    dc->SetPolyFillMode(WINDING);
    dc->SetBkColor(RGB(9, 9, 9));
    dc->SetBkMode(TRANSPARENT);
    dc->SetViewportOrg(4, 5);
    dc->IntersectClipRect(RECT{0, 0, 3, 3});
    dc->MoveTo(7, 8);
    EXPECT_EQ(dc->SaveDC(), 2);
    dc->SetViewportOrg(-1, -1);
    dc->SelectClipRgn(nullptr);
    EXPECT_TRUE(dc->RestoreDC(-1));
    EXPECT_EQ(dc->GetViewportOrg().x, 4);
    ASSERT_NE(dc->ClipRegion(), nullptr);
    EXPECT_TRUE(dc->RestoreDC(1));
    EXPECT_FALSE(dc->RestoreDC(1)); // already popped
    EXPECT_FALSE(dc->RestoreDC(-1));
    EXPECT_TRUE(dc->Pen().style == PS_SOLID && dc->Pen().color == RGB(0, 0, 0) &&
                dc->Brush().style == BS_SOLID);
    EXPECT_TRUE(dc->ROP2() == R2_COPYPEN && dc->GetViewportOrg().x == 0 &&
                dc->ClipRegion() == nullptr);
    EXPECT_EQ(dc->SetPolyFillMode(ALTERNATE), ALTERNATE);
    EXPECT_EQ(dc->SetBkColor(0), RGB(255, 255, 255));
    EXPECT_EQ(dc->SetBkMode(OPAQUE), OPAQUE);
    EXPECT_EQ(dc->MoveTo(0, 0).x, 0);
    {
        TDCStateGuard guard(dc.dc);
        dc->SetROP2(R2_XORPEN);
    }
    EXPECT_EQ(dc->ROP2(), R2_COPYPEN);
    EXPECT_EQ(dc->SetROP2(99), 0); // refused, unchanged
    EXPECT_EQ(dc->ROP2(), R2_COPYPEN);
}

TEST(LeadDCState, ClipLimitsEveryPrimitive) {
    HRGN diamond = L_CreateRectRgn(RECT{10, 10, 20, 20});
    HRGN cross = L_CreateRectRgn(RECT{2, 13, 28, 17});
    L_CombineRgn(diamond, diamond, cross, L_RGN_OR);
    const std::vector<Drawing> drawings = XorDrawings();
    for (size_t i = 0; i < drawings.size(); ++i) {
        Bmp bmp(60, 60, 24);
        DC dc(bmp.b);
        dc->SelectPen(kWhitePen);
        dc->SelectBrush(kWhiteBrush);
        dc->SelectClipRgn(diamond);
        drawings[i](*dc.dc);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x)
                if (!L_PtInRgn(diamond, x, y)) {
                    ASSERT_EQ(Raw(bmp.b, x, y), 0u) << i;
                }
    }
    Bmp bmp(20, 20, 8);
    DC dc(bmp.b);
    dc->SelectClipRgn(cross);
    dc->SelectClipRgn(nullptr);
    dc->FillRect(RECT{0, 0, 20, 20}, kWhiteBrush);
    EXPECT_EQ(L_GetPixelColor(&bmp.b, 0, 0), RGB(255, 255, 255));
    // Each rectangle narrows the clip that is already there.
    Bmp row(20, 1, 24);
    DC narrowed(row.b);
    narrowed->IntersectClipRect(RECT{0, 0, 10, 1});
    narrowed->IntersectClipRect(RECT{5, 0, 20, 1});
    narrowed->FillRect(RECT{0, 0, 20, 1}, kWhiteBrush);
    for (int x = 0; x < 20; ++x) EXPECT_EQ(Raw(row.b, x, 0) != 0, x >= 5 && x < 10) << x;
    L_DeleteRgn(diamond);
    L_DeleteRgn(cross);
}

// ---------------------------------------------------------------------------
// Depths and colours.

TEST(LeadDCDepths, ColoursMapToEachDepthAndAlphaIsNeverTouched) {
    // 1-bit masks: white sets bits, black clears them.
    Bmp mask(20, 3, 1);
    DC m(mask.b);
    m->FillRect(RECT{3, 0, 17, 2}, kWhiteBrush);
    m->FillRect(RECT{5, 0, 6, 3}, kBlackBrush);
    for (int x = 0; x < 20; ++x)
        EXPECT_EQ(Raw(mask.b, x, 0), uint32_t(x >= 3 && x < 17 && x != 5)) << x;

    // 8 bits: the nearest palette entry, or the index itself.
    RGBQUAD pal[256] = {};
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
    Bmp idx(4, 1, 8, TOP_LEFT, pal);
    DC d8(idx.b);
    d8->SetPixel(0, 0, RGB(51, 156, 99)); // nearest: 100 (r 50, g 155, b 100)
    d8->SetPixel(1, 0, PALETTEINDEX(7));
    EXPECT_EQ(Raw(idx.b, 0, 0), 100u);
    EXPECT_EQ(Raw(idx.b, 1, 0), 7u);

    // 32 and 16 bits: every ROP2 leaves the alpha byte and the alpha bit alone.
    for (int bpp : {16, 32}) {
        for (int rop : {R2_COPYPEN, R2_XORPEN, R2_NOT, R2_WHITE, R2_BLACK}) {
            Bmp b(8, 8, bpp);
            Randomize(b.b, unsigned(rop + bpp));
            const std::vector<uint32_t> before = Pixels(b.b);
            DC dc(b.b);
            dc->SetROP2(rop);
            dc->SelectPen(LPEN{PS_SOLID, 1, RGB(200, 100, 50)});
            dc->SelectBrush(LBRUSH{BS_SOLID, RGB(200, 100, 50)});
            dc->Rectangle(0, 0, 8, 8);
            const std::vector<uint32_t> after = Pixels(b.b);
            const uint32_t alpha = bpp == 32 ? 0xFF000000u : 0x8000u,
                           colour = bpp == 32 ? 0xFFFFFFu : 0x7FFFu;
            const uint32_t pen =
                bpp == 32 ? 0x00C86432u : ((200u >> 3) << 10) | ((100u >> 3) << 5) | (50u >> 3);
            for (size_t i = 0; i < after.size(); ++i) {
                EXPECT_EQ(after[i] & alpha, before[i] & alpha);
                uint32_t want = 0;
                switch (rop) {
                    case R2_COPYPEN: want = pen; break;
                    case R2_XORPEN: want = (before[i] ^ pen) & colour; break;
                    case R2_NOT: want = ~before[i] & colour; break;
                    case R2_WHITE: want = colour; break;
                    default: want = 0; break;
                }
                EXPECT_EQ(after[i] & colour, want) << bpp << " rop " << rop;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Robustness.

TEST(LeadDCRobustness, FarAwayCoordinatesCostOnlyTheVisiblePart) {
    Cover c = Draw(32, 32, [](LDEVICE& dc) {
        dc.MoveTo(-100000000, 3);
        dc.LineTo(100000000, 3);
        dc.Ellipse(-100000000, 20, 100000000, 30); // so flat that only its top and bottom show
        dc.SelectPen(LPEN{PS_SOLID, 5, RGB(255, 255, 255)});
        dc.MoveTo(10, -100000000);
        dc.LineTo(10, 100000000);
        dc.MoveTo(INT32_MIN, 0); // out of range: nothing
        dc.LineTo(INT32_MAX, 31);
        const POINT far[] = {{INT32_MIN, INT32_MIN}, {INT32_MAX, 0}, {0, INT32_MAX}};
        dc.Polygon(far, 3);
    });
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            EXPECT_EQ(c.at(x, y), y == 3 || y == 20 || y == 29 || (x >= 8 && x <= 12))
                << x << "," << y;
}

// Random drawing of every kind, state and clip at every depth and row order: nothing may be
// written past the last pixel of a row (the padding bits of packed rows included), and the
// sanitizer builds check every access.
TEST(LeadDCRobustness, RandomDrawingNeverWritesOutsideTheBitmap) {
    std::mt19937 rng(42);
    const int styles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_NULL, PS_INSIDEFRAME};
    for (int bpp : kDepths) {
        for (int view : {TOP_LEFT, BOTTOM_LEFT}) {
            Bmp bmp(37, 29, bpp, view), src(13, 11, kDepths[rng() % 6]), mask(13, 11, 1);
            Randomize(bmp.b, unsigned(rng()));
            Randomize(src.b, unsigned(rng()));
            Randomize(mask.b, unsigned(rng()));
            ASSERT_EQ(L_SetBitmapRgnFromMask(&src.b, nullptr, &mask.b, L_RGN_SET), SUCCESS);
            const std::vector<uint8_t> before(bmp.b.Addr, bmp.b.Addr + bmp.b.Size);
            DC dc(bmp.b);
            auto co = [&] { return int(rng() % 140) - 50; };
            auto colour = [&] {
                return (rng() & 1) ? COLORREF(rng() & 0xFFFFFFu) : PALETTEINDEX(rng());
            };
            for (int i = 0; i < 400; ++i) {
                dc->SetROP2(int(1 + rng() % 16));
                dc->SelectPen(LPEN{styles[rng() % 5], int(rng() % 10), colour()});
                dc->SelectBrush(LBRUSH{(rng() & 3) ? BS_SOLID : BS_HOLLOW, colour()});
                dc->SetPolyFillMode((rng() & 1) ? WINDING : ALTERNATE);
                dc->SetBkMode((rng() & 1) ? OPAQUE : TRANSPARENT);
                dc->SetViewportOrg(int(rng() % 21) - 10, int(rng() % 21) - 10);
                const RECT r{co(), co(), co(), co()};
                POINT pts[7];
                for (POINT& p : pts) p = POINT{co(), co()};
                switch (rng() % 14) {
                    case 0: dc->IntersectClipRect(r); break;
                    case 1: dc->ExcludeClipRect(r); break;
                    case 2: dc->SelectClipRgn(nullptr); break;
                    case 3:
                        dc->MoveTo(co(), co());
                        dc->LineTo(co(), co());
                        break;
                    case 4: dc->Rectangle(r.left, r.top, r.right, r.bottom); break;
                    case 5: dc->Ellipse(r.left, r.top, r.right, r.bottom); break;
                    case 6: dc->Polygon(pts, int(rng() % 8)); break;
                    case 7: dc->Polyline(pts, int(rng() % 8)); break;
                    case 8: dc->FillRect(r, dc->Brush()); break;
                    case 9: {
                        HRGN rgn = L_CreateRectRgn(r);
                        if (rng() & 1)
                            dc->FillRgn(rgn, dc->Brush());
                        else
                            dc->FrameRgn(rgn, dc->Brush(), int(rng() % 5), int(rng() % 5));
                        L_DeleteRgn(rgn);
                        break;
                    }
                    case 10: dc->SetPixel(co(), co(), colour()); break;
                    case 11: {
                        const RECT d{co(), co(), co(), co()}, sc{co(), co(), co(), co()};
                        const uint32_t rops[] = {SRCCOPY, SRCINVERT, SRCAND, SRCPAINT};
                        const uint32_t rop = rops[rng() % 4];
                        const RECT* clip = (rng() & 1) ? &sc : nullptr;
                        if (rng() & 1)
                            L_PaintDC(dc.dc, &src.b, (rng() & 1) ? &r : nullptr, clip, &d, nullptr,
                                      rop);
                        else
                            L_PaintRgnDC(dc.dc, &src.b, nullptr, nullptr, &d, clip, rop);
                        break;
                    }
                    case 12: {
                        const RGNXFORM xf{0,
                                          int(1 + rng() % 5),
                                          int(1 + rng() % 3),
                                          int(1 + rng() % 5),
                                          int(1 + rng() % 3),
                                          co(),
                                          co()};
                        EXPECT_EQ(L_FrameBitmapRgn(dc.dc, &src.b, &xf, int(rng() % 9) - 4),
                                  SUCCESS);
                        break;
                    }
                    default: dc->GetPixel(co(), co()); break;
                }
            }
            // Padding: every bit from the end of the last pixel to the end of the row.
            const size_t used = size_t(bmp.b.Width) * size_t(bpp),
                         total = size_t(bmp.b.BytesPerLine) * 8;
            for (int y = 0; y < bmp.b.Height; ++y) {
                const size_t base = size_t(y) * size_t(bmp.b.BytesPerLine);
                for (size_t bit = used; bit < total; ++bit) {
                    const size_t k = base + bit / 8;
                    const unsigned m = 0x80u >> (bit % 8);
                    ASSERT_EQ(bmp.b.Addr[k] & m, before[k] & m)
                        << bpp << " row " << y << " bit " << bit;
                }
            }
            EXPECT_NE(std::vector<uint8_t>(bmp.b.Addr, bmp.b.Addr + bmp.b.Size), before);
        }
    }
}

// ---------------------------------------------------------------------------
// Blits.

// The reference sample of destination offset d: floor((d + 0.5) * sw / dw).
int Sample(int d, int sw, int dw) { return int(std::floor((d + 0.5) * sw / dw)); }

struct PaintCase {
    RECT src, dst;
    POINT org;
};

TEST(LeadDCPaint, StretchMatchesNearestNeighbourReferenceAtEveryDepthAndZoom) {
    const PaintCase cases[] = {
        {{0, 0, 37, 23}, {2, 3, 11, 9}, {0, 0}},     // about 0.25
        {{0, 0, 37, 23}, {-4, 1, 33, 24}, {3, -2}},  // 1:1, partly off the target
        {{3, 2, 30, 20}, {-10, -7, 71, 47}, {0, 0}}, // 3x
        {{5, 0, 37, 23}, {0, 0, 50, 13}, {1, 1}},    // uneven
        {{-6, -3, 40, 30}, {0, 0, 46, 33}, {0, 0}},  // source reaching past the bitmap
    };
    for (int sbpp : kDepths) {
        for (int view : {TOP_LEFT, BOTTOM_LEFT}) {
            Bmp src(37, 23, sbpp, view);
            Randomize(src.b, unsigned(sbpp + view));
            for (int dbpp : kDepths) {
                Bmp one(1, 1, dbpp); // the destination's rendering of a colour
                for (const PaintCase& pc : cases) {
                    Bmp dst(64, 40, dbpp);
                    Randomize(dst.b, 7);
                    const std::vector<uint32_t> before = Pixels(dst.b);
                    DC dc(dst.b);
                    dc->SetViewportOrg(pc.org.x, pc.org.y);
                    ASSERT_EQ(L_PaintDC(dc.dc, &src.b, &pc.src, nullptr, &pc.dst, nullptr, SRCCOPY),
                              SUCCESS);
                    const int sw = pc.src.right - pc.src.left, sh = pc.src.bottom - pc.src.top;
                    const int dw = pc.dst.right - pc.dst.left, dh = pc.dst.bottom - pc.dst.top;
                    for (int y = 0; y < 40; ++y)
                        for (int x = 0; x < 64; ++x) {
                            const int lx = x - pc.org.x - pc.dst.left,
                                      ly = y - pc.org.y - pc.dst.top;
                            const uint32_t old = before[size_t(y) * 64 + x], now = Raw(dst.b, x, y);
                            int sx = -1, sy = -1;
                            if (lx >= 0 && lx < dw && ly >= 0 && ly < dh) {
                                sx = pc.src.left + Sample(lx, sw, dw);
                                sy = pc.src.top + Sample(ly, sh, dh);
                            }
                            if (sx < 0 || sy < 0 || sx >= 37 || sy >= 23) {
                                ASSERT_EQ(now, old) << x << "," << y;
                                continue;
                            }
                            // Compare through the destination's colour resolution.
                            L_PutPixelColor(&one.b, 0, 0, L_GetPixelColor(&src.b, sy, sx));
                            if (dbpp <= 8) { // the nearest entry; equal entries are as good
                                ASSERT_EQ(L_GetPixelColor(&dst.b, y, x),
                                          L_GetPixelColor(&one.b, 0, 0))
                                    << sbpp << "->" << dbpp << " " << x << "," << y;
                                continue;
                            }
                            const uint32_t want = Raw(one.b, 0, 0);
                            const uint32_t alpha = dbpp == 32   ? 0xFF000000u
                                                   : dbpp == 16 ? 0x8000u
                                                                : 0;
                            ASSERT_EQ(now & ~alpha, want & ~alpha)
                                << sbpp << "->" << dbpp << " " << x << "," << y;
                            ASSERT_EQ(now & alpha,
                                      alpha); // SRCCOPY leaves the backing store opaque
                        }
                }
            }
        }
    }
    // Palette to palette with the same palette copies indices exactly.
    Bmp a(16, 16, 8), b(16, 16, 8);
    Randomize(a.b, 3);
    DC dc(b.b);
    ASSERT_EQ(L_PaintDC(dc.dc, &a.b, nullptr, nullptr, nullptr, nullptr, SRCCOPY), SUCCESS);
    EXPECT_EQ(Pixels(a.b), Pixels(b.b));
}

TEST(LeadDCPaint, ClipsToSourceClipDestinationClipAndContextClip) {
    Bmp src(20, 20, 24), dst(40, 40, 24);
    L_FillBitmap(&src.b, RGB(255, 255, 255));
    DC dc(dst.b);
    const RECT s{0, 0, 20, 20}, d{0, 0, 40, 40}, sclip{5, 0, 20, 20}, dclip{0, 0, 40, 30};
    dc->ExcludeClipRect(RECT{0, 0, 40, 4});
    ASSERT_EQ(L_PaintDC(dc.dc, &src.b, &s, &sclip, &d, &dclip, SRCCOPY), SUCCESS);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(Raw(dst.b, x, y) != 0, x >= 10 && y >= 4 && y < 30) << x << "," << y;

    // A clip region whose rows differ, under rows that repeat one source row.
    Bmp ring(40, 40, 1), big(60, 60, 32);
    {
        DC r(ring.b);
        r->SelectPen(LPEN{PS_SOLID, 5, RGB(255, 255, 255)});
        r->SelectBrush(kHollowBrush);
        r->Ellipse(3, 2, 37, 35);
    }
    LRegion clip = LRegion::FromMask(ring.b);
    DC zoomed(big.b);
    zoomed->SelectClipRgn(&clip);
    const RECT z{0, 0, 60, 60};
    ASSERT_EQ(L_PaintDC(zoomed.dc, &src.b, nullptr, nullptr, &z, nullptr, SRCCOPY), SUCCESS);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x)
            EXPECT_EQ(Raw(big.b, x, y) != 0, clip.Contains(x, y)) << x << "," << y;
}

TEST(LeadDCPaint, LogicalOperationsCombineWithTheTargetAndMaskInvertsItsSetPixels) {
    for (bool reversedPalette : {false, true}) {
        const RGBQUAD pal[2] = {reversedPalette ? RGBQUAD{255, 255, 255, 0} : RGBQUAD{},
                                reversedPalette ? RGBQUAD{} : RGBQUAD{255, 255, 255, 0}};
        Bmp mask(24, 18, 1, TOP_LEFT, pal), dst(48, 36, 32);
        Randomize(mask.b, 1);
        Randomize(dst.b, 2);
        const std::vector<uint32_t> before = Pixels(dst.b);
        DC dc(dst.b);
        const RECT d{0, 0, 48, 36};
        ASSERT_EQ(L_PaintDC(dc.dc, &mask.b, nullptr, nullptr, &d, nullptr, SRCINVERT), SUCCESS);
        for (int y = 0; y < 36; ++y)
            for (int x = 0; x < 48; ++x) {
                const uint32_t flip = Raw(mask.b, x / 2, y / 2) ? 0xFFFFFFu : 0;
                ASSERT_EQ(Raw(dst.b, x, y), before[size_t(y) * 48 + x] ^ flip);
            }
        ASSERT_EQ(L_PaintDC(dc.dc, &mask.b, nullptr, nullptr, &d, nullptr, SRCINVERT), SUCCESS);
        EXPECT_EQ(Pixels(dst.b), before);
    }
    for (uint32_t rop : {SRCAND, SRCPAINT}) {
        Bmp src(10, 10, 24), dst(10, 10, 32);
        Randomize(src.b, 4);
        Randomize(dst.b, 5);
        const std::vector<uint32_t> before = Pixels(dst.b);
        DC dc(dst.b);
        ASSERT_EQ(L_PaintDC(dc.dc, &src.b, nullptr, nullptr, nullptr, nullptr, rop), SUCCESS);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const uint32_t s = Raw(src.b, x, y), o = before[size_t(y) * 10 + x];
                ASSERT_EQ(Raw(dst.b, x, y), rop == SRCAND ? (o & (s | 0xFF000000u)) : (o | s));
            }
    }
}

TEST(LeadDCPaint, PaintRgnDCPaintsOnlySourcePixelsInsideTheRegion) {
    Bmp src(30, 20, 24), mask(30, 20, 1);
    L_FillBitmap(&src.b, RGB(255, 255, 255));
    Randomize(mask.b, 9);
    ASSERT_EQ(L_SetBitmapRgnFromMask(&src.b, nullptr, &mask.b, L_RGN_SET), SUCCESS);
    for (const RECT d : {RECT{0, 0, 90, 60}, RECT{1, 2, 16, 12}, RECT{-3, 0, 27, 20}}) {
        Bmp dst(90, 60, 24);
        DC dc(dst.b);
        ASSERT_EQ(L_PaintRgnDC(dc.dc, &src.b, nullptr, nullptr, &d, nullptr, SRCCOPY), SUCCESS);
        const int dw = d.right - d.left, dh = d.bottom - d.top;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 90; ++x) {
                const int lx = x - d.left, ly = y - d.top;
                const bool in =
                    lx >= 0 && lx < dw && ly >= 0 && ly < dh &&
                    L_IsPtInBitmapRgn(&src.b, Sample(ly, 20, dh), Sample(lx, 30, dw)) == 1;
                ASSERT_EQ(Raw(dst.b, x, y) != 0, in) << x << "," << y;
            }
    }
}

TEST(LeadDCPaint, BadArgumentsAndFreedTargetsAreRefusedAndEmptyRectanglesPaintNothing) {
    Bmp src(8, 8, 24), dst(8, 8, 24);
    L_FillBitmap(&src.b, RGB(255, 255, 255));
    DC dc(dst.b);
    BITMAPHANDLE none;
    EXPECT_EQ(L_PaintDC(nullptr, &src.b, nullptr, nullptr, nullptr, nullptr, SRCCOPY),
              ERROR_INV_PARAMETER);
    EXPECT_EQ(L_PaintDC(dc.dc, &none, nullptr, nullptr, nullptr, nullptr, SRCCOPY),
              ERROR_NO_BITMAP);
    EXPECT_EQ(L_PaintDC(dc.dc, &src.b, nullptr, nullptr, nullptr, nullptr, 0x12345678u),
              ERROR_INV_PARAMETER);
    const RECT empty{3, 3, 3, 8}, huge{0, 0, 1 << 30, 8};
    EXPECT_EQ(L_PaintDC(dc.dc, &src.b, nullptr, nullptr, &empty, nullptr, SRCCOPY), SUCCESS);
    EXPECT_EQ(L_PaintDC(dc.dc, &src.b, &empty, nullptr, nullptr, nullptr, SRCCOPY), SUCCESS);
    EXPECT_EQ(L_PaintDC(dc.dc, &src.b, nullptr, nullptr, &huge, nullptr, SRCCOPY), ERROR_INV_RANGE);
    for (uint32_t v : Pixels(dst.b)) EXPECT_EQ(v, 0u);

    // Contexts need an allocated target; one whose bitmap was freed under it draws nothing.
    L_InitBitmap(&none, 10, 10, 24);
    EXPECT_EQ(L_CreateLeadDC(&none), nullptr);
    EXPECT_EQ(L_CreateLeadDC(nullptr), nullptr);
    EXPECT_NE(L_DeleteLeadDC(nullptr), SUCCESS);
    EXPECT_EQ(dc->Target(), &dst.b);
    L_FreeBitmap(&dst.b);
    dc->Rectangle(0, 0, 5, 5);
    dc->SetPixel(1, 1, 0);
    EXPECT_EQ(dc->GetPixel(1, 1), CLR_INVALID);
    EXPECT_EQ(L_PaintDC(dc.dc, &src.b, nullptr, nullptr, nullptr, nullptr, SRCCOPY),
              ERROR_NO_BITMAP);
}

// ---------------------------------------------------------------------------
// Marching ants.

TEST(LeadDCAnts, OnlyBoundaryPixelsAreDrawnInPhaseWithTheFrameStyle) {
    Bmp img(40, 30, 24), mask(40, 30, 1);
    {
        DC m(mask.b);
        m->SelectPen(kNullPen);
        m->SelectBrush(kWhiteBrush);
        m->Ellipse(2, 3, 37, 28);
        m->SelectBrush(kBlackBrush);
        m->Rectangle(15, 12, 22, 17); // a hole
    }
    ASSERT_EQ(L_SetBitmapRgnFromMask(&img.b, nullptr, &mask.b, L_RGN_SET), SUCCESS);
    RGNXFORM xf{0, 2 * 65536, 65536, 2 * 65536, 65536, 3, -4};
    auto inside = [&](int lx, int ly) {
        const int rx = int(std::floor((lx - 3) / 2.0)), ry = int(std::floor((ly + 4) / 2.0));
        return rx >= 0 && ry >= 0 && rx < 40 && ry < 30 && Raw(mask.b, rx, ry) != 0;
    };
    std::vector<uint32_t> previous;
    for (int style = 0; style < 3; ++style) {
        Bmp view(100, 70, 32);
        L_FillBitmap(&view.b, RGB(128, 128, 128));
        DC dc(view.b);
        dc->SetViewportOrg(1, 2);
        dc->IntersectClipRect(RECT{0, 0, 60, 70}); // cuts through the region
        ASSERT_EQ(L_FrameBitmapRgn(dc.dc, &img.b, &xf, style), SUCCESS);
        for (int y = 0; y < 70; ++y)
            for (int x = 0; x < 100; ++x) {
                const int lx = x - 1, ly = y - 2;
                const bool edge = inside(lx, ly) && (!inside(lx - 1, ly) || !inside(lx + 1, ly) ||
                                                     !inside(lx, ly - 1) || !inside(lx, ly + 1));
                const uint32_t v = Raw(view.b, x, y) & 0xFFFFFFu;
                if (!edge || x < 1 || x >= 61 || y < 2) {
                    ASSERT_EQ(v, 0x808080u) << x << "," << y;
                } else {
                    ASSERT_EQ(v, ((x + y + style) / 4) % 2 ? 0xFFFFFFu : 0u) << x << "," << y;
                }
                ASSERT_EQ(Raw(view.b, x, y) >> 24, 0u); // alpha untouched
            }
        const std::vector<uint32_t> now = Pixels(view.b);
        if (!previous.empty()) {
            EXPECT_NE(now, previous);
        }
        previous = now;
    }
    Bmp plain(10, 10, 24), view(10, 10, 24);
    DC dc(view.b);
    EXPECT_EQ(L_FrameBitmapRgn(dc.dc, &plain.b, nullptr, 0), SUCCESS);
    for (uint32_t v : Pixels(view.b)) EXPECT_EQ(v, 0u);
}

} // namespace
