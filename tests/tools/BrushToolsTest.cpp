// The brush-like tools: where the stroke sampler puts its dabs, and what each brush does to
// the layer when driven through a view.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "BrushTools.h"
#include "CommandIds.h"
#include "Effects.h"
#include "HeadlessWindowHost.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "PaintToolFactory.h"
#include "ViewInteraction.h"
#include "model/ModelTestUtil.h"

namespace {

using mt::Px;

struct Doc {
    explicit Doc(std::unique_ptr<TLayer> bg, const char* path = "") : doc(new TImageDoc) {
        doc->Image.Layers.Append(std::move(bg));
        doc->Image.Layers.Seek(0);
        doc->SetDocPath(path);
        view = std::make_unique<TImageView>(*doc, host);
        AttachTools(*view);
    }
    POINT Client(int x, int y) const { return view->ImageToClient(POINT{x, y}, true); }
    // Presses at the first point, moves through the others one pixel at a time, releases.
    void Stroke(std::vector<POINT> pts, TMouseButton b = TMouseButton::Left) {
        host.ButtonDown(b, 0, Client(pts[0].x, pts[0].y));
        for (size_t i = 1; i < pts.size(); ++i) {
            POINT p = pts[i - 1];
            while (p.x != pts[i].x || p.y != pts[i].y) {
                p.x += (pts[i].x > p.x) - (pts[i].x < p.x);
                p.y += (pts[i].y > p.y) - (pts[i].y < p.y);
                host.MouseMove(0, Client(p.x, p.y));
            }
        }
        host.ButtonUp(b, 0, Client(pts.back().x, pts.back().y));
    }
    Px At(int x, int y) { return mt::At(*doc->Image.GetCurrentLayer(), x, y); }
    std::vector<uint8_t> Bytes() {
        const TLayer& l = *doc->Image.GetCurrentLayer();
        const uint8_t* p = L_RowPtr(&l, 0);
        return std::vector<uint8_t>(p, p + size_t(l.BytesPerLine) * size_t(l.Height));
    }
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host{TSize{400, 300}};
    std::unique_ptr<TImageView> view;
};

// Records the centres of its dabs instead of painting.
struct TRecorder : TInstantPaintTool {
    using TInstantPaintTool::TInstantPaintTool;
    int GetKind() const override { return PAINT_BRUSH; }
    void Dab(double x, double y) override {
        centres.push_back({x + Size() * 0.5 - 0.5, y + Size() * 0.5 - 0.5});
    }
    std::vector<std::pair<double, double>> centres;
};

std::unique_ptr<TRecorder> Recorder(Doc& d, int size, int smooth, double spacing) {
    TPaintToolSetup s;
    s.Data = d.doc.get();
    TStrokeSettings st;
    st.Size = size;
    st.Smooth = smooth;
    st.SpacingPercent = spacing;
    st.SubPixel = true;
    return std::make_unique<TRecorder>(s, st);
}

} // namespace

TEST(BrushStroke, AClickPutsOneCentredDabAndDabsStaySpacedAcrossACorner) {
    Doc d(mt::Solid(200, 200, Px{255, 255, 255, 255}));
    auto click = Recorder(d, 20, 3, 100);
    click->Track(50, 60, false, 0);
    click->Tick(true);
    ASSERT_EQ(click->centres.size(), 1u);
    EXPECT_EQ(click->centres[0], std::make_pair(50.0, 60.0));

    auto t = Recorder(d, 20, 0, 100);
    t->Track(10, 50, false, 0);
    for (int x = 11; x <= 105; ++x) t->Track(x, 50, false, 0);
    for (int y = 51; y <= 150; ++y) t->Track(105, y, false, 0);
    ASSERT_GE(t->centres.size(), 9u);
    for (size_t i = 1; i < t->centres.size(); ++i) {
        const double dx = t->centres[i].first - t->centres[i - 1].first;
        const double dy = t->centres[i].second - t->centres[i - 1].second;
        EXPECT_NEAR(std::hypot(dx, dy), 20.0, 1e-6) << "dab " << i;
    }
    EXPECT_NEAR(t->centres.back().first, 105.0, 1e-6); // it turned the corner
}

TEST(BrushStroke, SmoothedPathLagsAndCatchesUpAfterThreeTicksAtRest) {
    Doc d(mt::Solid(100, 40, Px{255, 255, 255, 255}));
    auto t = Recorder(d, 10, 3, 10);
    for (int x = 10; x <= 40; ++x) t->Track(x, 20, false, 0);
    const double lag = t->centres.back().first;
    EXPECT_LT(lag, 38.5);
    t->Tick(false);
    t->Tick(false);
    EXPECT_EQ(t->centres.back().first, lag); // 400 ms of rest is not yet a pause
    t->Tick(false);
    EXPECT_GE(t->centres.back().first, 39.0);
}

TEST(BrushTools, AirbrushKeepsSprayingEveryTickAfterTheFirst) {
    Doc d(mt::Solid(40, 30, Px{255, 255, 255, 255}));
    d.view->DoCommand(CM_AIRBRUSH_TOOL);
    d.host.ButtonDown(TMouseButton::Left, 0, d.Client(20, 15));
    const int afterPress = d.At(20, 15).r;
    EXPECT_LT(afterPress, 255);
    d.host.FireTimer(kStrokeTimer);
    EXPECT_EQ(d.At(20, 15).r, afterPress);
    d.host.FireTimer(kStrokeTimer);
    const int second = d.At(20, 15).r;
    EXPECT_LT(second, afterPress);
    d.host.FireTimer(kStrokeTimer);
    EXPECT_LT(d.At(20, 15).r, second);
    // A move that puts a dab starts the count again; it repaints around the dab only.
    d.host.Update();
    d.host.MouseMove(0, d.Client(26, 15));
    const RECT inv = d.host.InvalidBounds(), dab = d.view->ImageToClientRect({11, 0, 41, 30}, true);
    EXPECT_TRUE(inv.left <= dab.left && inv.right >= dab.right && inv.top <= dab.top);
    EXPECT_LT(inv.right - inv.left, 80);
    const int moved = d.At(26, 15).r;
    d.host.FireTimer(kStrokeTimer);
    EXPECT_EQ(d.At(26, 15).r, moved);
    d.host.ButtonUp(TMouseButton::Left, 0, d.Client(26, 15));
}

TEST(BrushTools, CloneCopiesFromTheDocumentRightClickedAndNeedsAnOrigin) {
    CloneSource() = TCloneSource{};
    THeadlessMessageBoxes boxes;
    IMessageBoxHost* old = SetMessageBoxHost(&boxes);
    auto a = std::make_unique<Doc>(mt::Solid(40, 30, Px{255, 0, 0, 255}), "/tmp/Clone-A.png");
    for (int y = 0; y < 30; ++y)
        for (int x = 20; x < 40; ++x)
            mt::Put(*a->doc->Image.GetCurrentLayer(), x, y, Px{0, 0, 255, 255});
    a->doc->Image.InvalidateAll();
    Doc b(mt::Solid(40, 30, Px{255, 255, 255, 255}), "/tmp/clone-b.png");
    b.view->DoCommand(CM_CLONE_TOOL);
    b.Stroke({{20, 15}});
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Please select an origin by right-clicking on the image");
    EXPECT_EQ(b.At(20, 15), (Px{255, 255, 255, 255}));

    a->view->DoCommand(CM_CLONE_TOOL);
    a->Stroke({{30, 10}}, TMouseButton::Right);
    // The source window repaints in the middle of the stroke (another window moved off it):
    // the marker, crossing into that repaint, leaves nothing behind when the stroke ends.
    b.host.ButtonDown(TMouseButton::Left, 0, b.Client(20, 15));
    b.host.MouseMove(0, b.Client(21, 15));
    a->view->Paint(RECT{0, 0, 400, 300});
    b.host.MouseMove(0, b.Client(22, 15));
    b.host.ButtonUp(TMouseButton::Left, 0, b.Client(22, 15));
    auto shown = [&] {
        const BITMAPHANDLE* s = a->host.BackingStore();
        return std::vector<uint8_t>(L_RowPtr(s, 0), L_RowPtr(s, 0) + s->BytesPerLine * s->Height);
    };
    const std::vector<uint8_t> left = shown();
    a->view->Paint(RECT{0, 0, 400, 300});
    EXPECT_TRUE(left == shown());
    // A stroke cut short (another tool chosen with the button down) takes its marker along.
    b.host.ButtonDown(TMouseButton::Left, 0, b.Client(25, 15));
    b.host.MouseMove(0, b.Client(26, 15));
    b.view->DoCommand(CM_BRUSH_TOOL);
    const std::vector<uint8_t> cut = shown();
    a->view->Paint(RECT{0, 0, 400, 300});
    EXPECT_TRUE(cut == shown());
    b.host.ButtonUp(TMouseButton::Left, 0, b.Client(26, 15));
    b.view->DoCommand(CM_CLONE_TOOL);
    EXPECT_GT(b.At(20, 15).r, 200); // the right half of the source
    EXPECT_LT(b.At(20, 15).b, 60);
    EXPECT_EQ(b.At(10, 15), (Px{255, 255, 255, 255}));
    // Closing the source forgets the origin.
    a.reset();
    b.Stroke({{5, 5}});
    EXPECT_EQ(boxes.Shown.size(), 2u);
    SetMessageBoxHost(old);
}

TEST(BrushTools, AStrokeStaysInsideTheSelectionAndUndoRestoresEveryByte) {
    Doc d(mt::Pattern(40, 30, 32));
    const std::vector<uint8_t> before = d.Bytes();
    d.view->DoCommand(CM_RECT_SELECTION);
    d.Stroke({{10, 10}, {19, 19}});
    d.view->DoCommand(CM_BRUSH_TOOL);
    d.view->ToolOptions.BrushSoftEdge = 0;
    d.Stroke({{2, 15}, {35, 15}});
    EXPECT_EQ(d.At(15, 15), (Px{0, 0, 0, 255}));
    for (int x : {2, 9, 20, 35}) EXPECT_EQ(d.At(x, 15), mt::At(*mt::Pattern(40, 30, 32), x, 15));
    EXPECT_TRUE(d.view->UndoCommand());
    EXPECT_EQ(d.Bytes(), before);
}

TEST(BrushTools, HistoryBrushUndoesTheLastChangeAndPaintsItBack) {
    Doc d(mt::Pattern(40, 30, 32));
    d.view->DoCommand(CM_HISTORY_BRUSH_TOOL); // nothing to paint back yet
    EXPECT_NE(d.view->Mode, MODE_PAINT);
    const Px original = d.At(20, 15);
    ASSERT_TRUE(d.doc->Checkpoint(true, "Fill"));
    d.doc->Image.GetCurrentLayer()->FillWithAlpha(0xFF00FF00);
    d.view->DoCommand(CM_HISTORY_BRUSH_TOOL);
    EXPECT_EQ(d.view->Mode, MODE_PAINT);
    EXPECT_EQ(d.At(20, 15), original);
    d.view->ToolOptions.BrushSoftEdge = 0;
    d.Stroke({{5, 15}, {35, 15}});
    EXPECT_EQ(d.At(20, 15), (Px{0, 255, 0, 255}));
    EXPECT_EQ(d.At(20, 2), mt::At(*mt::Pattern(40, 30, 32), 20, 2));
    EXPECT_EQ(d.doc->UndoName(), "History Brush");
}

// One stroke of each brush at its defaults and at other settings, against pictures checked
// by eye. Blending may round a level differently; the dissolve's pattern is seeded.
TEST(BrushTools, EachBrushPaintsAStrokeAsItsGoldenPicture) {
    struct Case {
        const char* name;
        int command;
        void (*options)(TToolOptions&);
    };
    const Case cases[] = {
        {"brush-a", CM_BRUSH_TOOL, [](TToolOptions&) {}},
        {"brush-b", CM_BRUSH_TOOL,
         [](TToolOptions& o) {
             o.BrushWidth = 7, o.BrushSoftEdge = 0, o.BrushAntialiased = 0, o.BrushSpacing = 50;
         }},
        {"airbrush-a", CM_AIRBRUSH_TOOL, [](TToolOptions&) {}},
        {"airbrush-b", CM_AIRBRUSH_TOOL,
         [](TToolOptions& o) { o.AirbrushDissolve = 1, o.AirbrushPressure = 60; }},
        {"smudge-a", CM_SMUDGE_TOOL, [](TToolOptions&) {}},
        {"smudge-b", CM_SMUDGE_TOOL,
         [](TToolOptions& o) { o.SmudgeWidth = 11, o.SmudgePressure = 50; }},
        // Past 100 % (the options bar has no limit) the smudge is as strong as at 100 %.
        {"smudge-a", CM_SMUDGE_TOOL, [](TToolOptions& o) { o.SmudgePressure = 150; }},
        {"history-a", CM_HISTORY_BRUSH_TOOL, [](TToolOptions&) {}},
        {"history-b", CM_HISTORY_BRUSH_TOOL,
         [](TToolOptions& o) { o.BrushWidth = 15, o.BrushSmooth = 0, o.BrushSpacing = 30; }},
        {"clone-a", CM_CLONE_TOOL, [](TToolOptions&) {}},
        {"clone-b", CM_CLONE_TOOL, [](TToolOptions& o) { o.BrushWidth = 7, o.CloneSpacing = 100; }},
    };
    for (const Case& c : cases) {
        Doc d(mt::Pattern(48, 24, 32), "/tmp/golden.png");
        Lx_SetDissolveSeed(1);
        c.options(d.view->ToolOptions);
        if (c.command == CM_HISTORY_BRUSH_TOOL) {
            ASSERT_TRUE(d.doc->Checkpoint(true, "Fill"));
            d.doc->Image.GetCurrentLayer()->FillWithAlpha(0xFF2060C0);
        }
        d.view->DoCommand(c.command);
        if (c.command == CM_CLONE_TOOL) d.Stroke({{24, 4}}, TMouseButton::Right);
        d.Stroke({{6, 6}, {24, 18}, {42, 6}});
        mt::ExpectMatchesGolden(*d.doc->Image.GetCurrentLayer(), std::string("stroke-") + c.name, 2,
                                2);
    }
}

// On a palette layer the brush draws a crisp pen line of its width in the palette entry
// nearest the colour, with no blended entries at its edge; a click paints a round dot.
TEST(BrushTools, OnAPaletteLayerTheBrushDrawsACrispLineInTheNearestEntry) {
    auto layer = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 40, 30, 8, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    layer->Adopt(b);
    for (int y = 0; y < 30; ++y) std::memset(L_RowPtr(layer.get(), y), 215, 40);
    layer->LogicalBpp = 8;
    Doc d(std::move(layer));
    TImageDocManager manager;
    const COLORREF fg = RGB(190, 20, 70);
    manager.ForegroundColor = [&] { return fg; };
    const TLayer& l = *d.doc->Image.GetCurrentLayer();
    int nearest = 0, best = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& q = l.pPalette[i];
        const int dr = q.rgbRed - 190, dg = q.rgbGreen - 20, db = q.rgbBlue - 70;
        if (dr * dr + dg * dg + db * db < best) best = dr * dr + dg * dg + db * db, nearest = i;
    }
    ASSERT_NE(nearest, 215);
    auto index = [&](int x, int y) { return int(L_RowPtr(&l, y)[x]); };

    d.view->DoCommand(CM_BRUSH_TOOL);
    d.view->ToolOptions.BrushWidth = 5;
    d.Stroke({{5, 10}, {30, 10}});
    for (int x = 5; x <= 30; ++x)
        for (int y = 8; y <= 12; ++y) EXPECT_EQ(index(x, y), nearest) << x << "," << y;
    for (int x = 0; x < 40; ++x) {
        EXPECT_EQ(index(x, 6), 215) << x;
        EXPECT_EQ(index(x, 14), 215) << x;
    }
    d.view->ToolOptions.BrushWidth = 1;
    d.Stroke({{20, 25}});
    EXPECT_EQ(index(20, 25), nearest);
    EXPECT_EQ(index(21, 25), 215);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_TRUE(index(x, y) == 215 || index(x, y) == nearest);
}
