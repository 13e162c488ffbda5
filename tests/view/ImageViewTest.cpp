// The image view's display: zoom rules, scrolling and what ends up in the backing store,
// all through a headless window host.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "Options.h"
#include "view/ViewTestUtil.h"

namespace {

using mt::Px;

std::unique_ptr<TImageDoc> Canvas(int w, int h) {
    return vt::DocOf(mt::Solid(w, h, Px{10, 20, 30, 255}, 24));
}

struct Fixture {
    Fixture(int w, int h, TSize client) : doc(Canvas(w, h)), host(client), view(*doc, host) {}
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host;
    TImageView view;
};

COLORREF ColorOf(Px p) { return RGB(uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)); }

// Gives the view an empty selection mask of w x h pixels and returns it.
BITMAPHANDLE& NewMask(TImageView& view, int w, int h) {
    BITMAPHANDLE mask;
    EXPECT_EQ(L_CreateBitmap(&mask, TYPE_CONV, w, h, 1, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    view.SelectionMask.Adopt(mask);
    return view.SelectionMask;
}

} // namespace

// Zooms that are no power of two (after Fit to Window) land on 1:1 once they come near.
TEST(ImageViewZoom, StepsSnapToOriginalSizeAndHalveOrDouble) {
    Fixture f(100, 100, {400, 300});
    const struct {
        double from;
        int command;
        double to;
    } cases[] = {{0.5, CM_ZOOM_IN, 1.0},  {0.25, CM_ZOOM_IN, 0.5}, {2.0, CM_ZOOM_OUT, 1.0},
                 {1.0, CM_ZOOM_OUT, 0.5}, {1.0, CM_ZOOM_IN, 2.0},  {4.0, CM_ZOOM_IN, 8.0},
                 {0.3, CM_ZOOM_IN, 1.0},  {0.7, CM_ZOOM_IN, 1.0},  {0.75, CM_ZOOM_IN, 1.5},
                 {2.5, CM_ZOOM_OUT, 1.0}, {3.0, CM_ZOOM_OUT, 1.5}, {0.9, CM_ZOOM_OUT, 0.45}};
    for (const auto& c : cases) {
        f.view.Zoom = c.from;
        ASSERT_TRUE(f.view.DoCommand(c.command)) << c.from;
        EXPECT_DOUBLE_EQ(f.view.Zoom, c.to) << "from " << c.from;
    }
    f.view.DoCommand(CM_ZOOM_ORIGINAL);
    EXPECT_DOUBLE_EQ(f.view.Zoom, 1.0);
}

TEST(ImageViewZoom, CommandsAreDisabledAtTheSizeLimitsAndWhileDragging) {
    Fixture f(125, 40, {400, 300});
    f.view.Zoom = 100; // doubling reaches exactly 25000 pixels
    EXPECT_FALSE(f.view.IsCommandEnabled(CM_ZOOM_IN));
    EXPECT_FALSE(f.view.DoCommand(CM_ZOOM_IN));
    EXPECT_DOUBLE_EQ(f.view.Zoom, 100);
    f.view.Zoom = 99;
    EXPECT_TRUE(f.view.IsCommandEnabled(CM_ZOOM_IN));
    f.view.Zoom = 0.5; // halving leaves exactly 10 pixels
    EXPECT_FALSE(f.view.IsCommandEnabled(CM_ZOOM_OUT));
    f.view.Zoom = 1;
    EXPECT_TRUE(f.view.IsCommandEnabled(CM_ZOOM_OUT));
    f.view.Dragging = true;
    EXPECT_FALSE(f.view.IsCommandEnabled(CM_ZOOM_IN));
    EXPECT_FALSE(f.view.IsCommandEnabled(CM_ZOOM_OUT));
    EXPECT_TRUE(f.view.IsCommandEnabled(CM_ZOOM_ORIGINAL));

    // Fitting a 125 x 40 canvas in 30 x 300 would make it 9 pixels high.
    f.host.Resize({30, 300});
    EXPECT_FALSE(f.view.IsCommandEnabled(CM_ZOOM_FIT));
    f.host.Resize({40, 300});
    EXPECT_TRUE(f.view.IsCommandEnabled(CM_ZOOM_FIT));

    EXPECT_TRUE(f.view.IsCommandChecked(CM_OUTLINE_ACTIVE));
    EXPECT_FALSE(f.view.IsCommandChecked(CM_OUTLINE_INACTIVE));
    f.view.DoCommand(CM_OUTLINE_ACTIVE);
    f.view.DoCommand(CM_OUTLINE_INACTIVE);
    EXPECT_FALSE(f.view.IsCommandChecked(CM_OUTLINE_ACTIVE));
    EXPECT_TRUE(f.view.IsCommandChecked(CM_OUTLINE_INACTIVE));
    EXPECT_FALSE(f.view.IsCommandEnabled(12345));
}

TEST(ImageViewScroll, SmallCanvasIsCentredLargeOneGetsAMargin) {
    Fixture small(100, 100, {500, 400});
    EXPECT_EQ((std::pair{small.view.OriginX, small.view.OriginY}), (std::pair{200, 150}));
    Fixture large(2000, 2000, {500, 400});
    EXPECT_EQ((std::pair{large.view.OriginX, large.view.OriginY}), (std::pair{15, 15}));
    EXPECT_EQ(large.host.Scroller().RangeX, 2000 + 30);

    large.view.Zoom = 3;
    large.view.UpdateScrollRanges();
    EXPECT_EQ((std::pair{large.host.Scroller().UnitX, large.host.Scroller().UnitY}),
              (std::pair{3, 3}));
    EXPECT_EQ(large.host.Scroller().RangeX, 2000 + 2 * 5); // margin of 5 units each side
    EXPECT_EQ(large.view.OriginX, 15);

    // Growing the window re-centres a canvas that now fits.
    large.view.Zoom = 0.125;
    large.view.UpdateScrollRanges();
    large.host.Resize({600, 400});
    EXPECT_EQ(large.view.OriginX, (600 - 250) / 2);
}

TEST(ImageViewZoom, FitToWindowPicksThePowerOfTwoBelowTheRatio) {
    const struct {
        int w, h;
        TSize client;
        double zoom;
    } cases[] = {{300, 200, {700, 500}, 2.0},
                 {300, 200, {600, 400}, 2.0},
                 {400, 400, {400, 400}, 0.5},
                 {1000, 300, {700, 500}, 0.5}};
    for (const auto& c : cases) {
        Fixture f(c.w, c.h, c.client);
        f.view.Zoom = 0.25; // small enough that no scroll bars show
        f.view.UpdateScrollRanges();
        ASSERT_FALSE(f.host.IsScrollBarShown(TScrollBar::Horizontal)) << c.w;
        f.view.DoCommand(CM_ZOOM_FIT);
        EXPECT_DOUBLE_EQ(f.view.Zoom, c.zoom)
            << c.w << "x" << c.h << " in " << c.client.cx << "x" << c.client.cy;
    }
    // Shown scroll bars count as client area: 516 / 1000 fits at 0.5, not 0.25.
    Fixture f(1000, 1000, {500, 500});
    ASSERT_TRUE(f.host.IsScrollBarShown(TScrollBar::Vertical));
    f.view.DoCommand(CM_ZOOM_FIT);
    EXPECT_DOUBLE_EQ(f.view.Zoom, 0.5);
}

TEST(ImageViewCoordinates, ConversionsRoundTripAtEveryZoomAndScroll) {
    Fixture f(2000, 1500, {640, 480});
    for (double zoom : {0.25, 0.5, 1.0, 2.0, 3.0, 8.0}) {
        f.view.Zoom = zoom;
        f.view.UpdateScrollRanges();
        f.host.ScrollTo(37, 21);
        const int step = zoom < 1 ? int(1 / zoom) : 1;
        for (POINT q : {POINT{0, 0}, POINT{step * 5, step * 7}, POINT{1996, 1496}}) {
            for (bool scrolled : {false, true}) {
                const POINT c = f.view.ImageToClient(q, scrolled);
                const POINT back = f.view.ClientToImage(c, scrolled);
                EXPECT_EQ(back.x, q.x) << zoom;
                EXPECT_EQ(back.y, q.y) << zoom;
            }
            const POINT a = f.view.ImageToClient(q, false), b = f.view.ImageToClient(q, true);
            EXPECT_EQ(a.x - b.x, f.host.Scroller().PosX * f.host.Scroller().UnitX);
        }
    }
    f.view.Zoom = 2;
    f.view.UpdateScrollRanges();
    f.host.ScrollTo(0, 0);
    const RECT r = f.view.ClientToImageRect(RECT{-100, -100, 100000, 100000}, true, true);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 2000);
    EXPECT_EQ(r.bottom, 1500);
    const RECT clipped = f.view.ClipToCanvas(RECT{0, 0, 100, 100});
    EXPECT_EQ(clipped.left, f.view.OriginX); // margin of 8 units of 2 pixels
    EXPECT_EQ(clipped.right, 100);
}

TEST(ImageViewPaint, BackingStoreShowsImageViewColourAndInvertedSelection) {
    auto doc = vt::DocOf(mt::Pattern(20, 10));
    const TLayer& bg = *doc->Image.GetLayer(0);
    THeadlessWindowHost host({100, 80});
    TImageView view(*doc, host);
    view.Zoom = 2;
    view.UpdateScrollRanges();
    host.Update();
    ASSERT_EQ(view.OriginX, 30);
    ASSERT_EQ(view.OriginY, 30);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(host.Pixel(30 + 2 * x, 30 + 2 * y), ColorOf(mt::At(bg, x, y)))
                << x << "," << y;
            ASSERT_EQ(host.Pixel(31 + 2 * x, 31 + 2 * y), ColorOf(mt::At(bg, x, y)))
                << x << "," << y;
        }
    EXPECT_EQ(host.Pixel(29, 40), RGB(255, 255, 255));
    EXPECT_EQ(host.Pixel(70, 40), RGB(255, 255, 255));
    EXPECT_EQ(host.Pixel(40, 50), RGB(255, 255, 255));

    // The view colour from the options.
    Options().OverrideBkgndColor = true;
    Options().BackgroundColor = RGB(1, 2, 3);
    view.InvalidateAll();
    host.Update();
    Options() = TOptions{};
    EXPECT_EQ(host.Pixel(5, 5), RGB(1, 2, 3));
    EXPECT_EQ(host.Pixel(30, 30), ColorOf(mt::At(bg, 0, 0)));

    // A selection of image pixels 2..5 x 2..5: its boundary is inverted, its inside not.
    BITMAPHANDLE& mask = NewMask(view, 20, 10);
    for (int y = 2; y < 6; ++y)
        for (int x = 2; x < 6; ++x) L_RowPtr(&mask, y)[x / 8] |= uint8_t(0x80 >> (x % 8));
    ASSERT_EQ(view.UpdateSelectionOutline(), SUCCESS);
    view.HasSelection = true;
    view.InvalidateAll();
    host.Update();
    const COLORREF edge = ColorOf(mt::At(bg, 2, 3)), inside = ColorOf(mt::At(bg, 3, 3));
    EXPECT_EQ(host.Pixel(30 + 4, 30 + 6), edge ^ 0xFFFFFF);
    EXPECT_EQ(host.Pixel(31 + 4, 31 + 6), edge ^ 0xFFFFFF);
    EXPECT_EQ(host.Pixel(30 + 6, 30 + 6), inside);
    EXPECT_EQ(host.Pixel(30 + 2, 30 + 6), ColorOf(mt::At(bg, 1, 3)));

    // Scrolled: the same image pixel lands where ImageToClient says.
    view.Zoom = 8;
    view.UpdateScrollRanges();
    host.ScrollTo(10, 4);
    host.Update();
    const POINT c = view.ImageToClient(POINT{12, 8}, true);
    EXPECT_EQ(host.Pixel(c.x + 3, c.y + 3), ColorOf(mt::At(bg, 12, 8)));

    EXPECT_TRUE(view.Deselect());
    EXPECT_FALSE(view.SelectionMask.IsAllocated());
    EXPECT_FALSE(view.Deselect());
}

TEST(ImageViewOutlines, MarchingAntsAdvanceOnlyOffTheBackground) {
    auto doc = vt::DocOf(mt::Solid(40, 40, Px{128, 128, 128, 255}),
                         mt::At(mt::Solid(10, 10, Px{0, 200, 0, 255}), 5, 5));
    mt::Shape(*doc->Image.GetLayer(1), RECT{0, 0, 10, 10});
    THeadlessWindowHost host({100, 100});
    TImageView view(*doc, host);
    EXPECT_EQ(host.TimerPeriod(kAntsTimer), 1000);
    host.Update();
    const POINT corner = view.ImageToClient(POINT{5, 5}, true);
    std::vector<COLORREF> before;
    for (int x = 0; x < 10; ++x) before.push_back(host.Pixel(corner.x + x, corner.y));

    ASSERT_TRUE(host.FireTimer(kAntsTimer));
    EXPECT_EQ(view.AntsPhase, 3);
    EXPECT_EQ(host.Shown.size(), 1u);
    int changed = 0;
    for (int x = 0; x < 10; ++x) changed += host.Pixel(corner.x + x, corner.y) != before[size_t(x)];
    EXPECT_GT(changed, 0);
    host.FireTimer(kAntsTimer);
    host.FireTimer(kAntsTimer);
    EXPECT_EQ(view.AntsPhase, 1);

    doc->Image.SetCurrent(0);
    host.FireTimer(kAntsTimer);
    EXPECT_EQ(view.AntsPhase, 1);
    EXPECT_EQ(view.StatusLayerRect(), "");
    doc->Image.SetCurrent(1);
    EXPECT_EQ(view.StatusLayerRect(), "(5,5) - (15,15)");
}

TEST(ImageViewSelection, ClipToLayerKeepsOnlyThePartOnTheLayer) {
    auto doc = vt::DocOf(mt::Solid(20, 20, Px{0, 0, 0, 255}),
                         mt::At(mt::Solid(6, 6, Px{9, 9, 9, 255}), -2, 4));
    THeadlessWindowHost host({100, 100});
    TImageView view(*doc, host);
    BITMAPHANDLE& mask = NewMask(view, 20, 20);
    for (int y = 0; y < 20; ++y) std::memset(L_RowPtr(&mask, y), 0xFF, 3);
    view.HasSelection = true;
    view.ClipSelectionToLayer();
    ASSERT_TRUE(view.HasSelection);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool set = (L_RowPtr(&view.SelectionMask, y)[x / 8] >> (7 - x % 8)) & 1;
            EXPECT_EQ(set, x < 4 && y >= 4 && y < 10) << x << "," << y;
        }
    EXPECT_FALSE(L_BitmapHasRgn(doc->Image.GetLayer(1)) > 0); // the layer's own shape is back
    ASSERT_TRUE(view.SelectionOutline.IsAllocated());

    // A selection that misses the layer is dropped.
    doc->Image.GetLayer(1)->X = 50;
    view.ClipSelectionToLayer();
    EXPECT_FALSE(view.HasSelection);
}

TEST(ImageViewLifetime, DocumentOutlivingItsViewStaysSafe) {
    auto doc = Canvas(10, 10);
    THeadlessWindowHost host({50, 50});
    {
        TImageView view(*doc, host);
        EXPECT_GT(host.TimerPeriod(kAntsTimer), 0);
    }
    EXPECT_EQ(host.TimerPeriod(kAntsTimer), 0);
    doc->NotifyViews(TDocEvent::Closed); // must not reach the destroyed view
    EXPECT_FALSE(host.FireTimer(kAntsTimer));
}

TEST(ImageViewHistory, UndoAndRedoLayTheViewOutForTheSizeTheyBringBack) {
    Fixture f(100, 80, {500, 400});
    ASSERT_TRUE(f.doc->Resize(400, 320));
    f.view.UpdateScrollRanges();
    ASSERT_EQ(f.host.Scroller().RangeX, 430);
    NewMask(f.view, 400, 320);
    f.view.HasSelection = true;
    EXPECT_EQ(f.view.CommandState(CM_EDITUNDO).Text, "&Undo Resize\tCtrl+Z");

    f.host.Update();
    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    // A mask of the larger size would not fit the image that came back.
    EXPECT_FALSE(f.view.HasSelection);
    EXPECT_EQ(f.view.StatusSize(), "W,H: 100,80");
    EXPECT_EQ(f.host.Scroller().RangeX, 130); // 100 pixels and a 15-pixel margin each side
    EXPECT_EQ((std::pair{f.view.OriginX, f.view.OriginY}), (std::pair{200, 160}));
    EXPECT_TRUE(f.host.IsInvalid());
    EXPECT_EQ(f.view.CommandState(CM_EDITREDO).Text, "&Redo Resize\tCtrl+Y");
    EXPECT_FALSE(f.view.IsCommandEnabled(CM_EDITUNDO));

    f.host.Update();
    ASSERT_TRUE(f.view.DoCommand(CM_EDITREDO));
    EXPECT_EQ(f.view.StatusSize(), "W,H: 400,320");
    EXPECT_EQ(f.view.OriginX, 50);
    EXPECT_TRUE(f.host.IsInvalid());
    EXPECT_FALSE(f.view.DoCommand(CM_EDITREDO));
    EXPECT_EQ(f.view.CommandState(CM_EDITREDO).Text, "Redo");
}

TEST(ImageViewPalette, ColourPanelOffersAPaletteImagesOwnColours) {
    Fixture f(40, 30, {200, 200});
    RGBQUAD colors[256], fixed[256];
    ASSERT_EQ(L_GetFixedPalette(fixed, 8), SUCCESS);
    ASSERT_EQ(f.view.PanelColors(colors), 256);
    EXPECT_EQ(std::memcmp(colors, fixed, sizeof fixed), 0);

    // A 4-bit image: its 16 colours, whatever the fixed palette holds.
    RGBQUAD own[16] = {};
    for (int i = 0; i < 16; ++i)
        own[i] = RGBQUAD{uint8_t(i * 3), uint8_t(200 - i), uint8_t(i * 16), 0};
    BITMAPHANDLE b;
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 40, 30, 4, ORDER_BGR, own, TOP_LEFT), SUCCESS);
    TLayer& bg = *f.doc->Image.Layers.At(0);
    bg.Adopt(b);
    bg.LogicalBpp = 4;
    ASSERT_EQ(f.view.PanelColors(colors), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(colors[i].rgbGreen, 200 - i) << i;
}

TEST(ImageViewKeys, PagingKeysScrollAndEscDropsTheSelectionUnlessShiftOrCtrlIsHeld) {
    Fixture f(1000, 800, {200, 160});
    f.view.UpdateScrollRanges();
    const TScrollState& s = f.host.Scroller();
    const auto at = [&] { return POINT{s.PosX * s.UnitX, s.PosY * s.UnitY}; };
    f.host.KeyDown(VK_NEXT, 0);
    EXPECT_EQ(at().y, 160);
    f.host.KeyDown(VK_DOWN, 0); // an eighth of a page
    EXPECT_EQ(at().y, 180);
    f.host.KeyDown(VK_NEXT, MK_SHIFT); // Shift: nothing
    EXPECT_EQ(at().y, 180);
    f.host.KeyDown(VK_END, MK_CONTROL);
    EXPECT_EQ(at().x, s.MaxPosX(200) * s.UnitX);
    f.host.KeyDown(VK_HOME, 0);
    EXPECT_EQ(at().x, (s.MaxPosX(200) * s.UnitX) - 200);
    f.host.KeyDown(VK_PRIOR, MK_CONTROL);
    EXPECT_EQ(at().y, 0);

    NewMask(f.view, 1000, 800);
    f.view.HasSelection = true;
    f.host.KeyDown(VK_ESCAPE, MK_CONTROL);
    EXPECT_TRUE(f.view.HasSelection);
    f.host.KeyDown(VK_ESCAPE, 0);
    EXPECT_FALSE(f.view.HasSelection);
}
