// The shape tools, the fill tool and the eyedropper driven through the view's mouse
// dispatch as a user drives them, on true colour, gray and palette layers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CommandIds.h"
#include "HeadlessWindowHost.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "ShapeTools.h"
#include "ViewInteraction.h"
#include "model/ModelTestUtil.h"

namespace {

using mt::Px;

// An 8-bit layer with a gray ramp (gray) or the toolkit's fixed palette, filled with index.
std::unique_ptr<TLayer> Indexed(int w, int h, bool gray, int index) {
    auto l = std::make_unique<TLayer>();
    RGBQUAD ramp[256];
    for (int i = 0; i < 256; ++i) ramp[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    BITMAPHANDLE b;
    EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, w, h, 8, ORDER_BGR, gray ? ramp : nullptr, TOP_LEFT),
              SUCCESS);
    l->Adopt(b);
    for (int y = 0; y < h; ++y) std::memset(L_RowPtr(l.get(), y), index, size_t(w));
    l->LogicalBpp = 8;
    l->Name = "Background";
    return l;
}

struct ShapeFixture {
    explicit ShapeFixture(std::unique_ptr<TLayer> background) : doc(new TImageDoc) {
        doc->Image.Layers.Append(std::move(background));
        doc->Image.Layers.Seek(0);
        view = std::make_unique<TImageView>(*doc, host);
        AttachTools(*view);
        manager.ForegroundColor = [this] { return fg; };
        manager.BackgroundColor = [this] { return bg; };
        manager.ColorPicked = [this](bool background, COLORREF c) { (background ? bg : fg) = c; };
    }
    ShapeFixture() : ShapeFixture(mt::Solid(48, 32, Px{255, 255, 255, 255}, 24, "Background")) {}

    POINT Client(int x, int y) const { return view->ImageToClient(POINT{x, y}, true); }
    void Drag(int kind, POINT a, POINT b, unsigned keys = 0) {
        view->DoCommand(kind);
        host.ButtonDown(TMouseButton::Left, keys, Client(a.x, a.y));
        host.MouseMove(keys, Client((a.x + b.x) / 2, (a.y + b.y) / 2));
        host.MouseMove(keys, Client(b.x, b.y));
        host.ButtonUp(TMouseButton::Left, keys, Client(b.x, b.y));
    }
    TLayer& Layer() { return *doc->Image.GetCurrentLayer(); }
    COLORREF Pixel(int x, int y) { return L_GetPixelColor(&Layer(), y, x); }
    uint8_t Index(int x, int y) { return L_RowPtr(&Layer(), y)[x]; }

    TImageDocManager manager;
    COLORREF fg = RGB(200, 30, 30), bg = RGB(30, 30, 200);
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host{TSize{400, 300}};
    std::unique_ptr<TImageView> view;
};

std::string ToolText(ShapeFixture& f) { return f.view->StatusSelection(); }

std::vector<uint8_t> Bytes(const BITMAPHANDLE& b) {
    std::vector<uint8_t> out;
    for (int y = 0; y < b.Height; ++y)
        out.insert(out.end(), L_RowPtr(&b, y), L_RowPtr(&b, y) + b.BytesPerLine);
    return out;
}

} // namespace

// The status shows the angle counter-clockwise with y up; Shift snaps a line to 45 degrees
// and a rectangle to a square whose diagonal is the drag's length.
TEST(ShapeTools, StatusAnglesAndTheShiftConstraint) {
    ShapeFixture f;
    f.view->ToolOptions.LineAntialiased = 0;
    f.view->DoCommand(CM_LINE_TOOL);
    const POINT start = f.Client(24, 16);
    f.host.ButtonDown(TMouseButton::Left, 0, start);
    const struct {
        POINT to;
        const char* text;
    } cases[] = {{{14, 16}, "(24,16) 10x0 angle 180.00"},
                 {{24, 6}, "(24,16) 0x10 angle 90.00"},
                 {{24, 26}, "(24,16) 0x10 angle 270.00"},
                 {{34, 11}, "(24,16) 10x5 angle 26.57"}};
    for (const auto& c : cases) {
        f.host.MouseMove(0, f.Client(c.to.x, c.to.y));
        EXPECT_EQ(ToolText(f), c.text);
    }
    // 30 degrees up-right, 20 long, snaps to 45: (724 x 20) / 1024 = 14.
    f.host.MouseMove(MK_SHIFT, f.Client(24 + 17, 16 - 10));
    EXPECT_EQ(ToolText(f), "(24,16) 14x14 angle 45.00");
    f.host.ButtonUp(TMouseButton::Left, MK_SHIFT, f.Client(41, 6));
    EXPECT_EQ(f.Pixel(38, 2), f.fg);
    EXPECT_EQ(f.Pixel(31, 9), f.fg);

    f.Drag(CM_RECTANGLE_TOOL, {2, 2}, {12, 5}, MK_SHIFT); // |d| = 10.4 -> 7 x 7
    EXPECT_EQ(f.Pixel(9, 9), f.fg);
    EXPECT_EQ(f.Pixel(10, 10), RGB(255, 255, 255));
    EXPECT_EQ(f.Pixel(12, 5), RGB(255, 255, 255));
    EXPECT_EQ(f.doc->UndoName(), "Rectangle");
}

// Both corner pixels belong to the rectangle, the outline stays inside it, and "fill only"
// paints the whole rectangle with the fill colour; a click draws nothing but is a step.
TEST(ShapeTools, RectangleCoversBothCornersAndFillOnlyUsesTheFillColour) {
    ShapeFixture f;
    f.Drag(CM_RECTANGLE_TOOL, {12, 12}, {10, 10});
    for (int y = 9; y <= 13; ++y)
        for (int x = 9; x <= 13; ++x) {
            const bool inside = x >= 10 && x <= 12 && y >= 10 && y <= 12;
            const COLORREF want = !inside ? RGB(255, 255, 255) : (x == 11 && y == 11) ? f.bg : f.fg;
            EXPECT_EQ(f.Pixel(x, y), want) << x << "," << y;
        }
    f.view->ToolOptions.RectangleFillStyle = 2;
    f.view->ToolOptions.RectangleWidth = 3;
    f.Drag(CM_RECTANGLE_TOOL, {20, 10}, {29, 19});
    EXPECT_EQ(f.Pixel(20, 10), f.bg);
    EXPECT_EQ(f.Pixel(24, 14), f.bg);
    EXPECT_EQ(f.Pixel(30, 20), RGB(255, 255, 255));

    const int steps = f.doc->UndoCount();
    f.Drag(CM_ELLIPSE_TOOL, {5, 25}, {5, 25});
    EXPECT_EQ(f.doc->UndoCount(), steps + 1);
    EXPECT_EQ(f.Pixel(5, 25), RGB(255, 255, 255));
}

// Each edge pixel of an antialiased disc holds the share of its square the ellipse covers,
// as a 64 x 64 supersampled reference counts it; below 4 x 4 the ellipse is drawn crisp.
TEST(ShapeTools, AntialiasedEllipseEdgesMatchASupersampledReference) {
    ShapeFixture f;
    f.fg = f.bg = RGB(0, 0, 0);
    f.Drag(CM_ELLIPSE_TOOL, {3, 4}, {32, 21}); // [3, 33) x [4, 22)
    const double cx = 18, cy = 13, a = 15, b = 9;
    int partial = 0;
    for (int y = 2; y < 24; ++y)
        for (int x = 1; x < 35; ++x) {
            int in = 0;
            for (int j = 0; j < 64; ++j)
                for (int i = 0; i < 64; ++i) {
                    const double px = x + (i + 0.5) / 64 - cx, py = y + (j + 0.5) / 64 - cy;
                    in += px * px / (a * a) + py * py / (b * b) <= 1.0;
                }
            const int want = 255 - (in * 255 + 2048) / 4096;
            partial += want > 0 && want < 255;
            EXPECT_NEAR(GetRValue(f.Pixel(x, y)), want, 2) << x << "," << y;
        }
    EXPECT_GT(partial, 40);

    f.Drag(CM_ELLIPSE_TOOL, {40, 4}, {42, 6}); // 3 x 3
    for (int y = 3; y <= 7; ++y)
        for (int x = 39; x <= 43; ++x) {
            const int v = GetRValue(f.Pixel(x, y));
            EXPECT_TRUE(v == 0 || v == 255) << x << "," << y << ": " << v;
        }
}

// A shape across the selection's edge lands only inside it, also on a gray layer, which
// takes the gray level of the colour; Undo brings back every byte.
TEST(ShapeTools, StrokesStayInTheSelectionAndUndoRestoresTheLayer) {
    for (const bool gray : {false, true}) {
        SCOPED_TRACE(gray ? "gray" : "true colour");
        ShapeFixture f(gray ? Indexed(48, 32, true, 255) : mt::Pattern(48, 32, 32, "Background"));
        const std::vector<uint8_t> before = Bytes(f.Layer());
        const COLORREF outside = f.Pixel(5, 20);
        f.Drag(CM_RECT_SELECTION, {10, 10}, {30, 30});
        f.view->ToolOptions.EllipseFillStyle = 1;
        f.Drag(CM_ELLIPSE_TOOL, {2, 12}, {40, 28});
        EXPECT_EQ(f.Pixel(5, 20), outside);
        const COLORREF want = gray ? RGB(49, 49, 49) : f.bg; // the fill, as a gray level
        EXPECT_EQ(f.Pixel(20, 20), want);
        ASSERT_TRUE(f.doc->Undo());
        EXPECT_TRUE(Bytes(f.Layer()) == before);
    }
}

// The fill floods the area of similar colour under the release; let go outside the layer,
// it changes nothing and leaves just its step.
TEST(ShapeTools, FillFloodsAtTheReleaseAndOutsideTheLayerOnlyRecordsTheStep) {
    ShapeFixture f;
    f.view->ToolOptions.RectangleFillStyle = 0;
    f.Drag(CM_RECTANGLE_TOOL, {10, 10}, {20, 20});
    f.view->ToolOptions.ColorReplace = 0;
    f.fg = RGB(0, 200, 0);
    f.view->DoCommand(CM_FILL_TOOL);
    f.host.ButtonDown(TMouseButton::Left, 0, f.Client(2, 2));
    f.host.MouseMove(0, f.Client(15, 15));
    f.host.ButtonUp(TMouseButton::Left, 0, f.Client(15, 15));
    EXPECT_EQ(f.Pixel(15, 15), f.fg);
    EXPECT_EQ(f.Pixel(2, 2), RGB(255, 255, 255)); // outside the frame: not connected
    EXPECT_EQ(f.Pixel(10, 10), RGB(200, 30, 30));

    const std::vector<uint8_t> before = Bytes(f.Layer());
    const int steps = f.doc->UndoCount();
    f.host.ButtonDown(TMouseButton::Left, 0, f.Client(2, 2));
    f.host.MouseMove(0, f.Client(60, 2));
    f.host.ButtonUp(TMouseButton::Left, 0, f.Client(60, 2));
    EXPECT_TRUE(Bytes(f.Layer()) == before);
    EXPECT_EQ(f.doc->UndoCount(), steps + 1);
    EXPECT_EQ(f.doc->UndoName(), "Fill");
}

// Over a palette image the eyedropper shows the pixel's index with its true components;
// the right button makes the colour the background one. Shapes there take the nearest
// palette entry.
TEST(ShapeTools, EyedropperOnAPaletteImageAndShapesTakeTheNearestEntry) {
    ShapeFixture f(Indexed(48, 32, false, 0));
    const RGBQUAD e = f.Layer().pPalette[37];
    L_RowPtr(&f.Layer(), 5)[7] = 37;
    f.view->DoCommand(CM_EYEDROPPER_TOOL);
    f.host.MouseMove(0, f.Client(7, 5));
    EXPECT_EQ(ToolText(f), "RGB (" + std::to_string(e.rgbRed) + "," + std::to_string(e.rgbGreen) +
                               "," + std::to_string(e.rgbBlue) + "), Index 37");
    f.host.ButtonDown(TMouseButton::Right, 0, f.Client(7, 5));
    f.host.ButtonUp(TMouseButton::Right, 0, f.Client(7, 5));
    EXPECT_EQ(f.bg, RGB(e.rgbRed, e.rgbGreen, e.rgbBlue));
    EXPECT_EQ(f.doc->UndoCount(), 0);
    f.host.MouseMove(0, f.Client(7, 40));
    EXPECT_EQ(ToolText(f), "");

    f.fg = RGB(e.rgbRed + 2, e.rgbGreen, e.rgbBlue);
    f.Drag(CM_LINE_TOOL, {1, 20}, {30, 20});
    EXPECT_EQ(f.Index(15, 20), 37);
}

// Line, rectangle and ellipse at two settings each: antialiased one-pixel outlines, and
// three-pixel outlines filled without antialiasing.
TEST(ShapeTools, ShapesAtTwoSettingsMatchTheirGoldenPicture) {
    ShapeFixture f;
    TToolOptions& o = f.view->ToolOptions;
    o.RectangleFillStyle = o.EllipseFillStyle = 0;
    f.Drag(CM_LINE_TOOL, {2, 12}, {13, 2});
    f.Drag(CM_RECTANGLE_TOOL, {17, 2}, {29, 13});
    f.Drag(CM_ELLIPSE_TOOL, {33, 2}, {45, 13});
    o.LineWidth = o.RectangleWidth = o.EllipseWidth = 3;
    o.LineAntialiased = o.EllipseAntialiased = 0;
    o.RectangleFillStyle = o.EllipseFillStyle = 1;
    f.Drag(CM_LINE_TOOL, {2, 29}, {13, 18});
    f.Drag(CM_RECTANGLE_TOOL, {17, 17}, {29, 29});
    f.Drag(CM_ELLIPSE_TOOL, {33, 17}, {45, 29});
    mt::ExpectMatchesGolden(f.Layer(), "shapes", 2, 0);
}
