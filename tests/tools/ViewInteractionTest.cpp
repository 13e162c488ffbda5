// The view's mouse and key dispatch driven through a headless host: selection gestures and
// their modifier keys, the zoom, move and hand tools, and a paint stroke from press to
// release with a small test tool.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "CommandIds.h"
#include "HeadlessWindowHost.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "PaintToolFactory.h"
#include "ViewInteraction.h"
#include "model/ModelTestUtil.h"

namespace {

using mt::Px;

bool Bit(const BITMAPHANDLE& b, int x, int y) {
    return b.Flags.Allocated && x >= 0 && y >= 0 && x < b.Width && y < b.Height &&
           ((L_RowPtr(&b, y)[x / 8] >> (7 - x % 8)) & 1);
}

int CountBits(const BITMAPHANDLE& b) {
    int n = 0;
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x) n += Bit(b, x, y);
    return n;
}

// A 40 x 30 background and, when asked, a 10 x 10 layer at (20, 10) on it, made current.
struct Fixture {
    explicit Fixture(bool layer = false, int w = 40, int h = 30) : doc(new TImageDoc) {
        doc->Image.Layers.Append(mt::Solid(w, h, Px{10, 20, 30, 255}, 24, "Background"));
        if (layer) doc->Image.Layers.Append(mt::At(mt::Solid(10, 10, Px{200, 0, 0, 255}), 20, 10));
        doc->Image.Layers.Seek(doc->Image.Count() - 1);
        view = std::make_unique<TImageView>(*doc, host);
        AttachTools(*view);
        tools = static_cast<TViewInteraction*>(view->Tools());
        view->OnStatusHint = [this](const std::string& s) { hint = s; };
    }
    POINT Client(int x, int y) const { return view->ImageToClient(POINT{x, y}, true); }
    void Press(int x, int y, unsigned keys = 0, TMouseButton b = TMouseButton::Left) {
        host.ButtonDown(b, keys, Client(x, y));
    }
    void Move(int x, int y, unsigned keys = 0) { host.MouseMove(keys, Client(x, y)); }
    void Release(int x, int y, unsigned keys = 0, TMouseButton b = TMouseButton::Left) {
        host.ButtonUp(b, keys, Client(x, y));
    }
    void Drag(POINT a, POINT b, unsigned keys = 0, TMouseButton button = TMouseButton::Left) {
        Press(a.x, a.y, keys, button);
        Move((a.x + b.x) / 2, (a.y + b.y) / 2, keys);
        Move(b.x, b.y, keys);
        Release(b.x, b.y, keys, button);
    }
    bool Selected(int x, int y) const { return Bit(view->SelectionMask, x, y); }

    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host{TSize{400, 300}};
    std::unique_ptr<TImageView> view;
    TViewInteraction* tools = nullptr;
    std::string hint;
};

} // namespace

// Replace, then Ctrl cuts a hole, then Shift+Ctrl keeps everything but the rectangle.
TEST(ViewInteractionSelection, RectangleCombinesByTheModifierKeys) {
    Fixture f;
    f.Drag({12, 12}, {10, 10}); // up and left: both corner pixels still count
    ASSERT_TRUE(f.view->HasSelection);
    EXPECT_EQ(CountBits(f.view->SelectionMask), 9);
    EXPECT_TRUE(f.Selected(10, 10) && f.Selected(12, 12));
    EXPECT_EQ(f.view->StatusSelection(), "(10,10) - (13,13)");

    f.Drag({0, 0}, {20, 20});
    EXPECT_EQ(CountBits(f.view->SelectionMask), 21 * 21); // replaced, not added
    f.Drag({5, 5}, {7, 7}, MK_CONTROL);
    EXPECT_FALSE(f.Selected(6, 6));
    EXPECT_TRUE(f.Selected(4, 4) && f.Selected(8, 8));

    f.host.KeyDown(VK_SHIFT, MK_SHIFT);
    EXPECT_EQ(f.host.Cursor, 20);
    f.host.KeyDown(VK_CONTROL, MK_SHIFT | MK_CONTROL);
    EXPECT_EQ(f.hint, "Add to selection");
    EXPECT_EQ(f.host.Cursor, 22);
    f.Drag({5, 5}, {7, 7}, MK_SHIFT | MK_CONTROL);
    EXPECT_FALSE(f.Selected(6, 6));
    EXPECT_TRUE(f.Selected(30, 25) && f.Selected(4, 4));
    EXPECT_EQ(CountBits(f.view->SelectionMask), 40 * 30 - 9);

    // A click without a drag changes nothing.
    f.Press(2, 2);
    f.Release(2, 2);
    EXPECT_EQ(CountBits(f.view->SelectionMask), 40 * 30 - 9);
}

TEST(ViewInteractionSelection, ShapesAreCutAtTheCurrentLayerAndVanishOutsideIt) {
    Fixture f(true); // the layer covers (20,10)-(30,20)
    f.Drag({15, 12}, {25, 15});
    ASSERT_TRUE(f.view->HasSelection);
    EXPECT_EQ(f.view->StatusSelection(), "(20,12) - (26,16)");
    f.Drag({0, 0}, {5, 5});
    EXPECT_FALSE(f.view->HasSelection);
    EXPECT_EQ(f.view->StatusSelection(), "(20,10) - (30,20)"); // the layer rectangle again

    f.view->DoCommand(CM_ZOOM_TOOL);
    ASSERT_TRUE(f.view->DoCommand(CM_SELECT_WHOLE_LAYER));
    EXPECT_EQ(f.view->Mode, MODE_RECT_SELECTION);
    EXPECT_EQ(f.view->StatusSelection(), "(20,10) - (30,20)");
    EXPECT_EQ(CountBits(f.view->SelectionMask), 100);
    // On the background it needs a selection to start from.
    f.view->Deselect();
    f.doc->Image.SetCurrent(0);
    EXPECT_FALSE(f.view->IsCommandEnabled(CM_SELECT_WHOLE_LAYER));
}

// With Alt each click adds a corner and the pointer drags the last one; letting Alt go
// closes the polygon.
TEST(ViewInteractionSelection, AltBuildsAPolygonThatEndsWhenAltIsReleased) {
    Fixture f;
    f.view->DoCommand(CM_FREEHAND_SELECTION);
    f.host.KeyDown(VK_MENU, MK_ALT);
    EXPECT_EQ(f.hint, "Polygonal selection");
    f.Press(2, 2, MK_ALT);
    f.Release(2, 2, MK_ALT);
    EXPECT_NE(f.tools->Selection(), nullptr); // the gesture outlives the button
    f.Move(30, 2, MK_ALT);
    f.Press(30, 2, MK_ALT);
    f.Release(30, 2, MK_ALT);
    f.Move(20, 20, MK_ALT);
    f.Move(2, 25, MK_ALT);
    EXPECT_FALSE(f.view->HasSelection);
    f.host.KeyUp(VK_MENU, 0);
    EXPECT_EQ(f.tools->Selection(), nullptr);
    ASSERT_TRUE(f.view->HasSelection);
    EXPECT_TRUE(f.Selected(8, 8));    // inside (2,2) (30,2) (2,25)
    EXPECT_FALSE(f.Selected(25, 20)); // beyond the last edge, where (20,20) would have been
}

TEST(ViewInteractionSelection, RetoucherAddsWithoutASelectionAndCtrlSubtracts) {
    Fixture f;
    f.view->ToolOptions.RetouchWidth = 4;
    f.view->DoCommand(CM_SELECTION_RETOUCHER);
    EXPECT_GT(f.host.TimerPeriod(kRetouchCursorTimer), 0);
    f.Press(10, 10);
    ASSERT_TRUE(f.view->HasSelection); // the first dab lands at the press
    EXPECT_TRUE(f.Selected(10, 10));
    f.Move(20, 10);
    f.Release(20, 10);
    EXPECT_TRUE(f.Selected(15, 10));
    EXPECT_FALSE(f.Selected(15, 20));
    EXPECT_EQ(f.host.Cursor, 29);
    f.Drag({14, 10}, {16, 10}, MK_CONTROL);
    EXPECT_FALSE(f.Selected(15, 10));
    EXPECT_TRUE(f.Selected(10, 10));
}

TEST(ViewInteractionSelection, EscWhileDraggingFinishesAReplacingSelection) {
    Fixture f;
    f.Drag({0, 0}, {3, 3});
    f.Press(10, 10, MK_SHIFT);
    f.Move(15, 15, MK_SHIFT);
    f.host.KeyDown(VK_ESCAPE, 0);
    EXPECT_FALSE(f.view->Dragging);
    EXPECT_FALSE(f.Selected(1, 1)); // replaced although Shift asked to add
    EXPECT_TRUE(f.Selected(12, 12));
    f.Release(15, 15);
    EXPECT_TRUE(f.Selected(12, 12));
    // Without a gesture Esc drops the selection.
    f.host.KeyDown(VK_ESCAPE, 0);
    EXPECT_FALSE(f.view->HasSelection);
}

TEST(ViewInteractionZoom, RightClickHalvesClickDoublesDragFitsByPowersOfTwo) {
    {
        Fixture f;
        f.view->DoCommand(CM_ZOOM_TOOL);
        EXPECT_EQ(f.host.Cursor, 18);
        f.Drag({20, 15}, {20, 15}, 0, TMouseButton::Right);
        EXPECT_DOUBLE_EQ(f.view->Zoom, 0.5);
        f.view->Zoom = 2.0;
        f.view->UpdateScrollRanges();
        f.Drag({20, 15}, {20, 15}, 0, TMouseButton::Right);
        EXPECT_DOUBLE_EQ(f.view->Zoom, 1.0);
        f.view->Zoom = 2.5; // 1.25 is near enough to 1:1 to land on it
        f.view->UpdateScrollRanges();
        f.Drag({20, 15}, {20, 15}, 0, TMouseButton::Right);
        EXPECT_DOUBLE_EQ(f.view->Zoom, 1.0);
        // Half of the canvas at 0.5 would be 7.5 x 10 pixels: too small to halve.
        f.view->Zoom = 0.5;
        f.view->UpdateScrollRanges();
        f.Drag({20, 15}, {20, 15}, 0, TMouseButton::Right);
        EXPECT_DOUBLE_EQ(f.view->Zoom, 0.5);

        f.view->Zoom = 1.0;
        f.view->UpdateScrollRanges();
        f.Press(20, 15);
        f.Release(20, 15);
        EXPECT_DOUBLE_EQ(f.view->Zoom, 2.0);
        // 400 / 30 = 13.3 and 300 / 25 = 12 give 8 either way.
        f.view->Zoom = 1.0;
        f.view->UpdateScrollRanges();
        f.Drag({5, 5}, {35, 30});
        EXPECT_DOUBLE_EQ(f.view->Zoom, 8.0);
    }
    {
        // 3000 pixels wide: a 2-pixel drag asks for 128, the width allows 8.
        Fixture f(false, 3000, 20);
        f.view->DoCommand(CM_ZOOM_TOOL);
        f.Drag({10, 10}, {12, 12});
        EXPECT_DOUBLE_EQ(f.view->Zoom, 8.0);
        EXPECT_LE(3000 * f.view->Zoom, kMaxZoomedCanvas);
    }
}

TEST(ViewInteractionMove, ADragIsOneUndoStepAndTheBackgroundStays) {
    Fixture f(true);
    f.view->DoCommand(CM_MOVE_TOOL);
    EXPECT_EQ(f.hint, "Click on layer to drag it");
    // The pointer says what a press would do: grab the layer, nothing beside it.
    f.Move(22, 12);
    EXPECT_EQ(f.host.Cursor, 15);
    f.Move(2, 2);
    EXPECT_EQ(f.host.Cursor, int(CURSOR_ARROW));
    f.Press(22, 12);
    for (int i = 1; i <= 5; ++i) f.Move(22 + i, 12 + i);
    f.Release(27, 17);
    const TLayer* layer = f.doc->Image.Layers.At(1);
    EXPECT_EQ((std::pair{layer->X, layer->Y}), (std::pair{25, 15}));
    ASSERT_EQ(f.doc->UndoCount(), 1);
    EXPECT_EQ(f.doc->UndoName(), "Move Layer");
    EXPECT_FALSE(f.view->Capturing);

    // A press on the background makes it current, and it does not move.
    f.Drag({2, 2}, {8, 8});
    EXPECT_EQ(f.doc->Image.GetCurrentIndex(), 0);
    EXPECT_EQ(f.doc->Image.Layers.At(0)->X, 0);
    EXPECT_EQ(f.doc->Image.Layers.At(1)->X, 25);
    EXPECT_EQ(f.doc->UndoCount(), 1);

    // The toggle goes back to the tool before it.
    f.view->DoCommand(CM_MOVE_TOOL);
    EXPECT_EQ(f.view->Mode, MODE_RECT_SELECTION);
}

TEST(ViewInteractionKeys, SpaceHoldsTheHandToolUntilItIsLetGo) {
    Fixture f;
    f.view->DoCommand(CM_ELLIPSE_SELECTION);
    f.host.KeyDown(VK_SPACE, 0);
    EXPECT_EQ(f.view->Mode, MODE_HAND);
    EXPECT_TRUE(f.view->IsCommandChecked(CM_HAND_TOOL));
    EXPECT_EQ(f.hint, "Click on image to scroll it");
    f.host.KeyDown(VK_SPACE, 0); // auto-repeat keeps it
    EXPECT_EQ(f.view->Mode, MODE_HAND);
    f.host.KeyUp(VK_SPACE, 0);
    EXPECT_EQ(f.view->Mode, MODE_ELLIPSE_SELECTION);
    EXPECT_TRUE(f.view->IsCommandChecked(CM_ELLIPSE_SELECTION));

    // Space in the middle of a drag ends the drag first.
    f.Press(5, 5);
    f.Move(15, 15);
    f.host.KeyDown(VK_SPACE, 0);
    EXPECT_FALSE(f.view->Dragging);
    EXPECT_TRUE(f.view->HasSelection);
    f.Release(15, 15);
    f.host.KeyUp(VK_SPACE, 0);
    EXPECT_TRUE(f.view->IsCommandEnabled(CM_ZOOM_IN));
}

namespace {

// Paints a 3 x 3 block of its colour at each tracked point; finished at the release.
class TDotTool : public TXPaintTool {
public:
    TDotTool(const TPaintToolSetup& s, std::vector<COLORREF>* colours, int* ticks)
        : TXPaintTool(s.Zoom, s.OriginX, s.OriginY, s.Data, s.View),
          fg_(s.Foreground),
          colours_(colours),
          ticks_(ticks) {
        colours_->push_back(s.Foreground);
    }
    bool Track(int x, int y, bool, int) override {
        TLayer* l = Data->Image.GetCurrentLayer();
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (x + dx >= 0 && y + dy >= 0 && x + dx < l->Width && y + dy < l->Height)
                    L_PutPixelColor(l, y + dy, x + dx, fg_);
        return true;
    }
    bool IsFinished() override { return released_; }
    void Tick(bool released) override {
        released_ = released;
        if (!released) ++*ticks_;
    }
    int GetKind() const override { return PAINT_BRUSH; }

private:
    COLORREF fg_;
    std::vector<COLORREF>* colours_;
    int* ticks_;
    bool released_ = false;
};

struct PaintFixture : Fixture {
    PaintFixture() {
        manager.ForegroundColor = [] { return RGB(255, 0, 0); };
        manager.BackgroundColor = [] { return RGB(0, 0, 255); };
        old = SetPaintToolMaker(PAINT_BRUSH, [this](const TPaintToolSetup& s) {
            return std::make_unique<TDotTool>(s, &colours, &ticks);
        });
        view->DoCommand(CM_BRUSH_TOOL);
    }
    ~PaintFixture() { SetPaintToolMaker(PAINT_BRUSH, std::move(old)); }
    COLORREF PixelAt(int x, int y) { return L_GetPixelColor(doc->Image.GetCurrentLayer(), y, x); }

    TImageDocManager manager;
    TPaintToolMaker old;
    std::vector<COLORREF> colours;
    int ticks = 0;
};

} // namespace

TEST(ViewInteractionPaint, AStrokeRecordsItsStepTicksAndTheRightButtonUsesTheBackground) {
    PaintFixture f;
    EXPECT_EQ(f.host.Cursor, 26);
    f.Press(5, 5);
    EXPECT_EQ(f.host.TimerPeriod(kStrokeTimer), kStrokePeriodMs);
    f.host.FireTimer(kStrokeTimer);
    f.Move(8, 5);
    f.Release(8, 5);
    EXPECT_EQ(f.ticks, 1);
    EXPECT_EQ(f.tools->PaintTool(), nullptr);
    EXPECT_LE(f.host.TimerPeriod(kStrokeTimer), 0);
    EXPECT_EQ(f.doc->UndoName(), "Brush");
    EXPECT_EQ(f.PixelAt(8, 5), RGB(255, 0, 0));

    f.Drag({20, 20}, {20, 20}, 0, TMouseButton::Right);
    ASSERT_EQ(f.colours.size(), 2u);
    EXPECT_EQ(f.colours[1], RGB(0, 0, 255));
    EXPECT_EQ(f.PixelAt(20, 20), RGB(0, 0, 255));
    EXPECT_EQ(f.doc->UndoCount(), 2);
}

TEST(ViewInteractionPaint, AFinishedStrokeIsKeptInsideTheSelection) {
    PaintFixture f;
    f.view->DoCommand(CM_RECT_SELECTION);
    f.Drag({10, 10}, {19, 19});
    f.view->DoCommand(CM_BRUSH_TOOL);
    const COLORREF before = f.PixelAt(5, 15);
    f.Press(5, 15);
    f.Move(15, 15);
    f.Release(15, 15);
    EXPECT_EQ(f.PixelAt(15, 15), RGB(255, 0, 0)); // inside
    EXPECT_EQ(f.PixelAt(14, 16), RGB(255, 0, 0));
    EXPECT_EQ(f.PixelAt(5, 15), before); // outside, put back
    EXPECT_EQ(f.PixelAt(6, 14), before);
}

TEST(ViewInteractionKeys, HandDragScrollsWithTheMouse) {
    Fixture f(false, 2000, 1500);
    f.view->DoCommand(CM_HAND_TOOL);
    f.host.ButtonDown(TMouseButton::Left, 0, POINT{200, 150});
    EXPECT_TRUE(f.view->Capturing);
    f.host.MouseMove(0, POINT{150, 120});
    EXPECT_EQ((std::pair{f.host.Scroller().PosX, f.host.Scroller().PosY}), (std::pair{50, 30}));
    f.host.ButtonUp(TMouseButton::Left, 0, POINT{150, 120});
    EXPECT_FALSE(f.view->Capturing);
    EXPECT_FALSE(f.host.HasCapture());
}

// A lost focus ends the drag, and since its release never comes the next press must
// still start a gesture.
TEST(ViewInteractionSelection, LosingTheFocusFinishesTheDragAndFreesTheButton) {
    Fixture f;
    f.Press(5, 5);
    f.Move(10, 10);
    f.view->OnKillFocus();
    EXPECT_FALSE(f.view->Dragging);
    EXPECT_EQ(f.view->StatusSelection(), "(5,5) - (11,11)");
    f.Drag({20, 20}, {22, 22});
    EXPECT_EQ(f.view->StatusSelection(), "(20,20) - (23,23)");
}

// The outline circle is XOR: after a repaint of part of it, erasing must still leave the
// picture exactly as it was.
TEST(ViewInteractionSelection, RetoucherCircleErasesCleanlyAfterAPartialRepaint) {
    Fixture f;
    f.view->ToolOptions.RetouchWidth = 20;
    f.host.SetFocus(true);
    f.host.InvalidateAll();
    f.host.Update();
    const BITMAPHANDLE& store = *f.host.BackingStore();
    const auto snapshot = [&] {
        std::vector<uint8_t> v;
        for (int y = 0; y < store.Height; ++y) {
            const uint8_t* row = L_RowPtr(&store, y);
            v.insert(v.end(), row, row + store.BytesPerLine);
        }
        return v;
    };
    const std::vector<uint8_t> before = snapshot();
    f.view->DoCommand(CM_SELECTION_RETOUCHER);
    const POINT c = f.Client(20, 15);
    f.host.MoveCursor(c);
    ASSERT_TRUE(f.host.FireTimer(kRetouchCursorTimer));
    EXPECT_NE(snapshot(), before);
    f.view->Paint(RECT{c.x - 20, c.y - 20, c.x, c.y + 20}); // the left half
    f.host.KeyDown('A', 0);                                 // any key hides the circle
    EXPECT_EQ(snapshot(), before);
}
