// The text tool driven as a user drives it: drag a frame, type, commit with the next press,
// into the layer or as a layer of its own; Esc; the limit; and the layout rules.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "CommandIds.h"
#include "HeadlessWindowHost.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "TextTool.h"
#include "ViewInteraction.h"
#include "model/ModelTestUtil.h"

namespace {

using mt::Px;

struct TextFixture {
    explicit TextFixture(std::unique_ptr<TLayer> background) : doc(new TImageDoc) {
        doc->Image.Layers.Append(std::move(background));
        doc->Image.Layers.Seek(0);
        view = std::make_unique<TImageView>(*doc, host);
        AttachTools(*view);
        view->ToolOptions.TextFace = "DejaVu Sans";
        view->ToolOptions.TextSize = 18; // 24 pixels at 96 dpi
        manager.ForegroundColor = [this] { return fg; };
        manager.BackgroundColor = [] { return RGB(255, 255, 255); };
        SetMessageBoxHost(&boxes);
    }
    TextFixture() : TextFixture(mt::Solid(200, 100, Px{255, 255, 255, 200}, 32, "Background")) {}
    ~TextFixture() { SetMessageBoxHost(nullptr); }

    POINT Client(int x, int y) const { return view->ImageToClient(POINT{x, y}, true); }
    void Click(POINT p) {
        host.ButtonDown(TMouseButton::Left, 0, Client(p.x, p.y));
        host.ButtonUp(TMouseButton::Left, 0, Client(p.x, p.y));
    }
    // Chooses the text tool and drags its frame.
    TTextFrame* Open(POINT a, POINT b) {
        view->DoCommand(CM_TEXT_TOOL);
        host.ButtonDown(TMouseButton::Left, 0, Client(a.x, a.y));
        host.MouseMove(0, Client(b.x, b.y));
        host.ButtonUp(TMouseButton::Left, 0, Client(b.x, b.y));
        return Tool() ? Tool()->Frame() : nullptr;
    }
    TTextPaintTool* Tool() {
        return dynamic_cast<TTextPaintTool*>(
            static_cast<TViewInteraction*>(view->Tools())->PaintTool());
    }
    TLayer& Layer() { return *doc->Image.GetCurrentLayer(); }

    TImageDocManager manager;
    THeadlessMessageBoxes boxes;
    COLORREF fg = RGB(200, 0, 0);
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host{TSize{400, 300}};
    std::unique_ptr<TImageView> view;
};

// The bounds of the pixels whose colour is not white.
RECT InkBounds(const BITMAPHANDLE& b) {
    RECT r{1 << 30, 1 << 30, -1, -1};
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x)
            if ((L_GetPixelColor(&b, y, x) & 0xFFFFFF) != 0xFFFFFF) {
                r.left = std::min<int>(r.left, x);
                r.top = std::min<int>(r.top, y);
                r.right = std::max<int>(r.right, x + 1);
                r.bottom = std::max<int>(r.bottom, y + 1);
            }
    return r;
}

} // namespace

TEST(TextTool, AWordAt18PointsMatchesItsGoldenAndTheLayerKeepsItsAlpha) {
    TextFixture f;
    TTextFrame* frame = f.Open({10, 10}, {190, 60});
    ASSERT_NE(frame, nullptr);
    frame->Edit().Type("Quillo");
    // Only the view shows the text until it is committed.
    f.host.Update();
    EXPECT_EQ(f.doc->Image.GetCurrentLayer()->Width, 200);
    EXPECT_EQ(InkBounds(f.Layer()).right, -1);
    f.Click({150, 90}); // the next press commits; it starts nothing
    EXPECT_EQ(f.Tool(), nullptr);
    EXPECT_EQ(f.doc->UndoName(), "Text");
    mt::ExpectMatchesGolden(f.Layer(), "text-word", 8, 12);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) ASSERT_EQ(L_RowPtr(&f.Layer(), y)[x * 4 + 3], 200);
    // A shaped layer takes text only inside its shape.
    const RECT left{0, 0, 100, 100};
    ASSERT_EQ(L_SetBitmapRgnRect(&f.Layer(), nullptr, &left, L_RGN_SET), SUCCESS);
    f.Open({10, 60}, {190, 95})->Edit().Type("Quillo Quillo");
    f.Click({150, 5});
    int inkLeft = 0, inkRight = 0;
    for (int y = 55; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            if ((L_GetPixelColor(&f.Layer(), y, x) & 0xFFFFFF) != 0xFFFFFF)
                ++(x < 100 ? inkLeft : inkRight);
    EXPECT_GT(inkLeft, 50);
    EXPECT_EQ(inkRight, 0);
}

TEST(TextTool, AsLayerMakesATextLayerWhoseAlphaFollowsTheGlyphs) {
    TextFixture f;
    f.view->ToolOptions.TextStyle = TEXT_AS_LAYER;
    f.Open({20, 20}, {120, 70})->Edit().Type("Ab");
    f.Click({5, 95});
    ASSERT_EQ(f.doc->Image.Count(), 2);
    TLayer& text = f.Layer();
    EXPECT_EQ(text.Name, "Text");
    EXPECT_GE(text.X, 20);
    EXPECT_GE(text.Y, 20);
    int opaque = 0, clear = 0, partial = 0;
    for (int y = 0; y < text.Height; ++y)
        for (int x = 0; x < text.Width; ++x) {
            const uint8_t* p = L_RowPtr(&text, y) + x * 4;
            opaque += p[3] == 255;
            clear += p[3] == 0;
            partial += p[3] > 0 && p[3] < 255;
            if (p[3] > 0) {
                ASSERT_EQ(p[2], 200) << x << "," << y; // red: the text colour
            }
        }
    EXPECT_GT(opaque, 20);
    EXPECT_GT(clear, 20);
    EXPECT_GT(partial, 0); // antialiased edges
    EXPECT_EQ(InkBounds(*f.doc->Image.GetLayer(0)).right, -1);
    // An empty frame adds nothing.
    f.Open({20, 20}, {120, 70});
    f.Click({5, 95});
    EXPECT_EQ(f.doc->Image.Count(), 2);
}

TEST(TextTool, EscDropsTheTextLeavingOnlyTheUndoEntry) {
    TextFixture f;
    f.Open({10, 10}, {150, 60})->Edit().Type("gone");
    const int undo = f.doc->UndoCount();
    f.Tool()->Frame()->Edit().Key(VK_ESCAPE);
    EXPECT_EQ(f.Tool(), nullptr);
    EXPECT_EQ(f.doc->UndoCount(), undo);
    EXPECT_EQ(f.doc->UndoName(), "Text");
    f.host.Update();
    EXPECT_EQ(InkBounds(f.Layer()).right, -1);
    // Undo while typing takes the text back with the step.
    f.Open({10, 10}, {150, 60})->Edit().Type("undone");
    EXPECT_TRUE(f.view->UndoCommand());
    EXPECT_EQ(f.Tool(), nullptr);
    f.Click({50, 50});
    EXPECT_EQ(InkBounds(f.Layer()).right, -1);
    // A click without a drag ends the tool without a frame.
    f.Click({50, 50});
    EXPECT_EQ(f.Tool(), nullptr);
}

TEST(TextTool, TheBoxHolds8192CharactersAndRefusesAPasteThatPassesThem) {
    TextFixture f;
    ITextEdit& edit = f.Open({0, 0}, {199, 99})->Edit();
    EXPECT_TRUE(edit.Paste(std::string(8190, 'x')));
    EXPECT_TRUE(edit.Type("\xC3\xA9y")); // two characters, three bytes
    EXPECT_FALSE(edit.Type("z"));
    EXPECT_TRUE(f.boxes.Shown.empty()); // typing at the limit is refused quietly
    edit.Key(VK_BACK);
    EXPECT_FALSE(edit.Paste("ab"));
    ASSERT_EQ(f.boxes.Shown.size(), 1u);
    EXPECT_EQ(f.boxes.Shown[0].Text, "Not enough room to paste the text");
    EXPECT_EQ(Utf8Length(f.Tool()->Frame()->Text()), 8191u);
}

TEST(TextTool, TypingPastTheBottomGrowsTheFrameByWholeLines) {
    TextFixture f;
    TTextFrame* frame = f.Open({10, 10}, {150, 40});
    const RECT before = frame->ContentRect();
    frame->Edit().Type("one\ntwo\nthree");
    const RECT after = frame->ContentRect();
    const int line = GetFontMetrics(frame->Font()).tmHeight;
    EXPECT_GT(after.bottom, before.bottom);
    EXPECT_EQ((after.bottom - before.bottom) % line, 0);
    EXPECT_EQ(after.top, before.top);
}

TEST(TextTool, OptionChangesReachAnOpenFrameAndTheCommit) {
    TextFixture f;
    TTextFrame* frame = f.Open({10, 10}, {190, 90});
    frame->Edit().Type("Big");
    f.view->ToolOptions.TextSize = 36;
    f.view->ToolOptions.TextAlign = TEXT_RIGHT;
    f.view->TextOptionsChanged();
    EXPECT_EQ(GetFontMetrics(frame->Font()).tmEmHeight, 48);
    f.fg = RGB(0, 0, 250);
    f.view->TextColorChanged();
    f.Click({5, 95});
    const RECT ink = InkBounds(f.Layer());
    EXPECT_GT(ink.bottom - ink.top, 30); // 48-pixel capitals, not 24
    EXPECT_GE(ink.right, 180);           // right-aligned against the frame's edge
    EXPECT_LE(ink.right, 191);
    EXPECT_EQ(L_GetPixelColor(&f.Layer(), (ink.top + ink.bottom) / 2, ink.right - 2) & 0xFF, 0u);
}

TEST(TextTool, AtZoomTwoTheFrameShowsTwiceTheSizeAndCommitsAtTheRealOne) {
    RECT ink[2];
    for (int zoomed = 0; zoomed < 2; ++zoomed) {
        TextFixture f;
        f.view->Zoom = zoomed ? 2.0 : 1.0;
        f.view->UpdateScrollRanges();
        TTextFrame* frame = f.Open({10, 10}, {120, 60});
        EXPECT_EQ(GetFontMetrics(frame->Font()).tmEmHeight, zoomed ? 48 : 24);
        frame->Edit().Type("Big");
        f.Click({150, 90});
        ink[zoomed] = InkBounds(f.Layer());
    }
    EXPECT_EQ(ink[1].bottom - ink[1].top, ink[0].bottom - ink[0].top);
    EXPECT_NEAR(ink[1].right - ink[1].left, ink[0].right - ink[0].left, 1);
    EXPECT_NEAR(ink[1].left, ink[0].left, 1);
}

TEST(TextTool, APaletteLayerGetsTheNearestEntryInsideARegion) {
    auto bg = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 120, 60, 8, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    bg->Adopt(b);
    bg->LogicalBpp = 8;
    bg->Name = "Background";
    L_FillBitmap(bg.get(), RGB(255, 255, 255));
    TextFixture f(std::move(bg));
    f.fg = RGB(250, 5, 5);
    f.view->ToolOptions.TextStyle = TEXT_AS_LAYER;
    f.Open({5, 5}, {110, 50})->Edit().Type("Hi");
    f.Click({115, 55});
    ASSERT_EQ(f.doc->Image.Count(), 2);
    TLayer& text = f.Layer();
    ASSERT_GT(L_BitmapHasRgn(&text), 0);
    int inside = 0;
    for (int y = 0; y < text.Height; ++y)
        for (int x = 0; x < text.Width; ++x)
            if (L_IsPtInBitmapRgn(&text, y, x) > 0) {
                ++inside;
                ASSERT_EQ(L_GetPixelColor(&text, y, x) & 0xFFFFFF, RGB(255, 0, 0));
            }
    EXPECT_GT(inside, 30);
}

TEST(TextLayout, AlignmentLineSpacingAndBreaking) {
    mt::Px white{255, 255, 255, 255};
    auto bm = mt::Solid(10, 10, white);
    HDC dc = L_CreateLeadDC(bm.get());
    LOGFONT lf;
    lf.lfHeight = -20;
    lf.lfFaceName = "DejaVu Sans";
    HFONT font = CreateFontIndirect(lf);
    dc->SelectFont(font);
    TEXTMETRIC tm;
    dc->GetTextMetrics(&tm);
    SIZE ab;
    dc->GetTextExtentPoint("ab", &ab);
    const RECT rc{10, 5, 210, 500};

    auto left = LayoutText(dc, "ab\n\ncd\r\nef", rc, 0);
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[0].X, 10);
    EXPECT_EQ(left[1].Y - left[0].Y, 2 * tm.tmHeight); // the empty line takes a line too
    EXPECT_EQ(left[2].Y - left[1].Y, tm.tmHeight);     // "\r\n" is one line end
    auto centre = LayoutText(dc, "ab", rc, TEXT_CENTER);
    EXPECT_EQ(centre[0].X, 10 + (200 - ab.cx) / 2);
    auto right = LayoutText(dc, "ab", rc, TEXT_RIGHT);
    EXPECT_EQ(right[0].X, 10 + 200 - ab.cx - 1);

    // Lines break at the last word start; a word wider than the line breaks inside.
    const std::string text = "aaaa bbbb cccc dddd eeee ffff gggg hhhh";
    auto words = LayoutText(dc, text, RECT{0, 0, 120, 500}, 0);
    ASSERT_GT(words.size(), 1u);
    for (const TTextLine& l : words) {
        EXPECT_LE(l.Width, 120);
        EXPECT_TRUE(l.Begin == 0 || text[l.Begin - 1] == ' ') << l.Begin;
    }
    auto longWord = LayoutText(dc, std::string(40, 'm'), RECT{0, 0, 100, 500}, 0);
    ASSERT_GT(longWord.size(), 3u);
    EXPECT_LE(longWord[0].Width, 100);
    // Too narrow for one character: still one per line, and the layout ends.
    auto narrow = LayoutText(dc, "mmm", RECT{0, 0, 2, 500}, 0);
    EXPECT_EQ(narrow.size(), 3u);
    // Lines past the bottom are left out.
    bool overflow = false;
    auto cut = LayoutText(dc, "a\nb\nc\nd", RECT{0, 0, 100, 2 * tm.tmHeight + 3}, 0, &overflow);
    EXPECT_EQ(cut.size(), 2u);
    EXPECT_TRUE(overflow);
    L_DeleteLeadDC(dc);
    DeleteFont(font);
}
