// What the composite shows: blending by stored alpha, hidden layers, palette images,
// layer shapes, clipping, and the incremental update of only the stale rectangle.
#include "ModelTestUtil.h"
#include "OwnedBitmap.h"

#include <cstring>
#include <tuple>

using namespace mt;

namespace {

const TPaintOptions kOptions;

void RecomposeAll(TLayeredImage& img) {
    img.InvalidateAll();
    const TLayer& bg = *img.Layers.At(0);
    ASSERT_EQ(img.Recompose(kOptions, RECT{0, 0, bg.Width, bg.Height}), SUCCESS);
}

// "Over" of a colour byte on an opaque background.
int Over(int top, int below, int alpha) {
    return (top * alpha + below * (255 - alpha) + 127) / 255;
}

TEST(Compositing, LayerStoredAt32BitsShowsThroughWhereItsAlphaIsBelow255) {
    TLayeredImage img;
    img.Layers.Append(Solid(8, 8, Px{200, 100, 0, 255}, 32, "bg"));
    // The user sees this layer at 24 bits, but its stored alpha is partial.
    auto top = At(Solid(4, 4, Px{0, 0, 255, 255}, 24), 2, 2);
    for (int x = 0; x < 4; ++x) Put(*top, x, 1, Px{0, 0, 255, 64});
    Put(*top, 3, 3, Px{0, 0, 255, 0});
    img.Layers.Append(std::move(top));
    RecomposeAll(img);
    EXPECT_EQ(At(img.Composite, 2, 2), (Px{0, 0, 255, 255}));
    EXPECT_TRUE(Near(At(img.Composite, 3, 3),
                     Px{Over(0, 200, 64), Over(0, 100, 64), Over(255, 0, 64), 255}))
        << At(img.Composite, 3, 3);
    EXPECT_EQ(At(img.Composite, 5, 5), (Px{200, 100, 0, 255}));
    EXPECT_EQ(At(img.Composite, 0, 0), (Px{200, 100, 0, 255}));
}

TEST(Compositing, HiddenLayersAndCurrentLayerAloneShowWhatIsBelowOrTheViewColour) {
    TLayeredImage img;
    img.ViewBackground = RGB(10, 20, 30);
    img.Layers.Append(Solid(6, 6, Px{1, 2, 3, 255}, 24, "bg"));
    img.Layers.Append(At(Solid(2, 2, Px{9, 9, 9, 255}, 24), 1, 1));
    img.Layers.At(0)->Visible = false;
    RecomposeAll(img);
    EXPECT_EQ(At(img.Composite, 4, 4), (Px{30, 20, 10, 255}));
    EXPECT_EQ(At(img.Composite, 1, 1), (Px{9, 9, 9, 255}));
    img.Layers.At(1)->Visible = false;
    img.Layers.At(0)->Visible = true;
    RecomposeAll(img);
    EXPECT_EQ(At(img.Composite, 1, 1), (Px{1, 2, 3, 255}));
    img.Layers.At(1)->Visible = true;
    img.Layers.Seek(1);
    TPaintOptions alone;
    alone.CurrentLayerAlone = true;
    img.InvalidateAll();
    ASSERT_EQ(img.Recompose(alone, RECT{0, 0, 6, 6}), SUCCESS);
    EXPECT_EQ(At(img.Composite, 0, 0), (Px{30, 20, 10, 255}));
    EXPECT_EQ(At(img.Composite, 2, 2), (Px{9, 9, 9, 255}));
}

TEST(Compositing, PaletteImageGetsAPaletteCompositeAndLayersReplaceInsideTheirShape) {
    RGBQUAD pal[256] = {};
    pal[1] = RGBQUAD{0, 0, 255, 0};
    pal[2] = RGBQUAD{0, 255, 0, 0};
    auto make = [&](int w, int h, int index) {
        auto l = std::make_unique<TLayer>();
        BITMAPHANDLE b;
        EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, w, h, 8, ORDER_BGR, pal, TOP_LEFT), SUCCESS);
        std::memset(b.Addr, index, b.Size);
        l->Adopt(b);
        l->LogicalBpp = 8;
        return l;
    };
    TLayeredImage img;
    img.Layers.Append(make(8, 8, 1));
    auto top = At(make(4, 4, 2), 2, 2);
    Shape(*top, RECT{0, 0, 2, 4});
    img.Layers.Append(std::move(top));
    RecomposeAll(img);
    EXPECT_EQ(img.Composite.BitsPerPixel, 8);
    EXPECT_EQ(L_GetPixelColor(&img.Composite, 3, 3), RGB(0, 255, 0));
    EXPECT_EQ(L_GetPixelColor(&img.Composite, 3, 4), RGB(255, 0, 0));
}

TEST(Compositing, OnlyTheDirtyRectangleIsRecombined) {
    TLayeredImage img;
    img.Layers.Append(Solid(32, 32, Px{0, 0, 0, 255}, 24, "bg"));
    RecomposeAll(img);
    TLayer& bg = *img.Layers.At(0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) Put(bg, x, y, Px{255, 255, 255, 255});
    img.Invalidate(RECT{4, 5, 10, 8});
    img.Invalidate(RECT{12, 6, 14, 7}); // the union of both is stale
    const RECT full{0, 0, 32, 32};
    ASSERT_EQ(img.Recompose(kOptions, full), SUCCESS);
    const Px white{255, 255, 255, 255}, black{0, 0, 0, 255};
    for (auto [x, y, want] :
         {std::tuple{4, 5, white}, {13, 7, white}, {3, 5, black}, {14, 5, black}, {10, 8, black}})
        EXPECT_EQ(At(img.Composite, x, y), want) << x << "," << y;
    // Nothing stale: nothing changes.
    ASSERT_EQ(img.Recompose(kOptions, full), SUCCESS);
    EXPECT_EQ(At(img.Composite, 20, 20), black);
    img.InvalidateAll();
    ASSERT_EQ(img.Recompose(kOptions, full), SUCCESS);
    EXPECT_EQ(At(img.Composite, 20, 20), white);
}

// ---------------------------------------------------------------------------
// Paint into a window-sized backing store, compared with golden pictures.

struct Window {
    BITMAPHANDLE bmp;
    HDC dc = nullptr;
    Window(int w, int h) {
        EXPECT_EQ(L_CreateBitmap(&bmp, TYPE_CONV, w, h, 32, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
        dc = L_CreateLeadDC(&bmp);
        EXPECT_NE(dc, nullptr);
    }
    ~Window() {
        if (dc) L_DeleteLeadDC(dc);
        L_FreeBitmap(&bmp);
    }
};

// A 60 x 45 picture: a gradient background, a shaped layer, a translucent layer, and a
// current layer with an elliptic shape.
void BuildScene(TLayeredImage& img) {
    img.ViewBackground = RGB(180, 190, 200);
    img.Layers.Append(Pattern(60, 45, 24, "bg"));
    auto shaped = At(Solid(18, 14, Px{0, 160, 0, 255}, 24, "shaped"), 4, 6);
    Shape(*shaped, RECT{3, 0, 18, 10});
    img.Layers.Append(std::move(shaped));
    auto glass = At(Solid(20, 12, Px{255, 0, 0, 128}, 32, "glass"), 30, 27);
    Shape(*glass, RECT{0, 0, 20, 12});
    img.Layers.Append(std::move(glass));
    auto cur = At(Solid(22, 16, Px{0, 220, 255, 255}, 24, "current"), 34, 5);
    TOwnedBitmap mask;
    ASSERT_EQ(L_CreateBitmap(mask.get(), TYPE_CONV, 22, 16, 1, ORDER_BGR, nullptr, TOP_LEFT),
              SUCCESS);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 22; ++x)
            if ((2 * x - 21) * (2 * x - 21) * 256 + (2 * y - 15) * (2 * y - 15) * 484 <= 484 * 256)
                L_PutPixelColor(mask.get(), y, x, PALETTEINDEX(1));
    ASSERT_EQ(L_SetBitmapRgnFromMask(cur.get(), nullptr, mask.get(), L_RGN_SET), SUCCESS);
    img.Layers.Append(std::move(cur));
    img.Layers.Seek(3);
}

// imageRect sets the zoom: its width over the image width (60).
void PaintCase(RECT imageRect, int winW, int winH, const char* golden) {
    TLayeredImage img;
    BuildScene(img);
    Window win(winW, winH);
    TPaintOptions options;
    options.ShowCurrentOutline = true;
    options.ShowOtherOutlines = true;
    options.ShowTransformFrame = true;
    options.FrameStyle = 2;
    img.Paint(win.dc, RECT{0, 0, winW, winH}, imageRect, options);
    // Blending may round a level differently and a pixel or two of a circle may rasterise
    // differently; moving the ants by one step already changes dozens of pixels.
    ExpectMatchesGolden(win.bmp, golden, 2, 2);
}

TEST(Paint, ZoomedOutActualSizeAndZoomedInScrolledMatchTheGoldenPictures) {
    PaintCase(RECT{12, 9, 27, 20}, 40, 30, "paint-zoom025");
    PaintCase(RECT{8, 6, 68, 51}, 80, 60, "paint-zoom1");
    PaintCase(RECT{-30, -15, 150, 120}, 120, 90, "paint-zoom3");
}

TEST(Paint, OverlaysAreSkippedWhenSuppressedAndAroundTheImageIsTheViewColour) {
    TLayeredImage img;
    BuildScene(img);
    Window a(80, 60), b(80, 60);
    TPaintOptions plain;
    img.Paint(a.dc, RECT{0, 0, 80, 60}, RECT{8, 6, 68, 51}, plain);
    TPaintOptions suppressed;
    suppressed.SuppressOverlays = suppressed.ShowCurrentOutline = suppressed.ShowOtherOutlines =
        suppressed.ShowTransformFrame = true;
    img.Paint(b.dc, RECT{0, 0, 80, 60}, RECT{8, 6, 68, 51}, suppressed);
    EXPECT_EQ(0, std::memcmp(a.bmp.Addr, b.bmp.Addr, a.bmp.Size));
    EXPECT_EQ(L_GetPixelColor(&a.bmp, 2, 2), RGB(180, 190, 200));
    EXPECT_EQ(L_GetPixelColor(&a.bmp, 55, 75), RGB(180, 190, 200));
    EXPECT_EQ(At(a.bmp, 8, 6), At(*img.Layers.At(0), 0, 0));
    // A paint rect covering part of the window leaves the rest alone.
    Window c(80, 60);
    std::memset(c.bmp.Addr, 0x11, c.bmp.Size);
    img.Paint(c.dc, RECT{0, 0, 20, 20}, RECT{8, 6, 68, 51}, plain);
    EXPECT_EQ(At(c.bmp, 30, 30), (Px{0x11, 0x11, 0x11, 0x11}));
    EXPECT_EQ(L_GetPixelColor(&c.bmp, 19, 19), L_GetPixelColor(&a.bmp, 19, 19));
}

} // namespace
