// The tool options bar without its window: the panel each tool command brings up, what
// typing into its fields and clicking its boxes stores in the view, and which view it
// edits as windows come and go.
#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "CommandIds.h"
#include "HeadlessWindowHost.h"
#include "ImageDoc.h"
#include "ImageView.h"
#include "ToolOptBar.h"
#include "ViewInteraction.h"
#include "model/ModelTestUtil.h"

namespace {

struct Window {
    Window() : doc(new TImageDoc) {
        doc->Image.Layers.Append(mt::Solid(20, 20, mt::Px{0, 0, 0, 255}, 24, "Background"));
        view = std::make_unique<TImageView>(*doc, host);
        AttachTools(*view);
    }
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host{TSize{100, 100}};
    std::unique_ptr<TImageView> view;
};

// A window whose tool commands show their panels on the bar, as the frame wires them.
struct Fixture {
    Fixture() { Wire(a); }
    void Wire(Window& w) {
        TImageView* view = w.view.get();
        view->OnToolChanged = [this, view] { bar.ShowFor(view); };
    }
    std::string Shown() const {
        std::string s = bar.Title() + ":";
        for (int id : {IDC_OPT_VALUE1, IDC_OPT_VALUE2, IDC_OPT_VALUE3, IDC_OPT_VALUE4})
            if (const auto& f = bar.Field(id); f.Visible)
                s += " " + f.Label + "=" + f.Text + (f.Unit.empty() ? "" : " " + f.Unit);
        for (int id : {IDC_OPT_FLAG1, IDC_OPT_FLAG2, IDC_OPT_FLAG3, IDC_OPT_FLAG4})
            if (const auto& f = bar.Field(id); f.Visible)
                s += std::string(" [") + (f.Checked ? "x" : " ") + "]" + f.Label;
        return s;
    }
    TToolOptBar bar;
    Window a;
};

} // namespace

// Every tool command brings up its own panel, showing that view's values (the defaults
// here); the tools without options, and the deformation mode after them, show none.
TEST(ToolOptBar, EachToolCommandShowsItsPanelWithTheViewsValues) {
    Fixture f;
    TImageView& v = *f.a.view;
    const std::pair<int, const char*> panels[] = {
        {CM_MAGIC_WAND, "Magic Wand Options: Tolerance=10 %"},
        {CM_SELECTION_RETOUCHER, "Extended Selection Options: Width=10 pixels"},
        {CM_BRUSH_TOOL,
         "Brush Options: Width=10 pixels Soft edge=100 % Smooth=3 points "
         "Spacing=1 % [x]Antialiased"},
        {CM_SMUDGE_TOOL, "Smudge Options: Width=27 pixels Pressure=100 %"},
        {CM_LINE_TOOL, "Line Options: Width=1 pixels [x]Antialiased"},
        {CM_RECTANGLE_TOOL, "Rectangle Options: Outline width=1 pixels [x]Outline [x]Fill"},
        {CM_ELLIPSE_TOOL,
         "Ellipse Options: Outline width=1 pixels [x]Outline [x]Fill [x]Antialiased"},
        {CM_CLONE_TOOL, "Clone Tool Options: Size=10 pixels Spacing=25 % [x]Aligned"},
        {CM_FILL_TOOL, "Fill Options: Tolerance=10 % [x]Color Replace"},
        {CM_TEXT_TOOL, "Text Options: Size=12 points [ ]Bold [ ]Italic [ ]Underline [ ]As Layer"},
        {CM_AIRBRUSH_TOOL,
         "Air Brush Options: Width=30 pixels Pressure=25 % Spacing=15 % [ ]Dissolve"},
        {CM_MOVE_TOOL, "Tool Options:"},
        {CM_AIRBRUSH_TOOL,
         "Air Brush Options: Width=30 pixels Pressure=25 % Spacing=15 % "
         "[ ]Dissolve"},
        {CM_EYEDROPPER_TOOL, "Tool Options:"},
        {CM_ELLIPSE_SELECTION, "Tool Options:"},
    };
    for (const auto& [command, shown] : panels) {
        ASSERT_TRUE(v.Command(command)) << command;
        EXPECT_EQ(f.Shown(), shown) << command;
    }
    EXPECT_EQ(f.bar.View(), nullptr); // the empty panel binds nothing
    EXPECT_TRUE(v.Command(CM_FILL_TOOL));
    EXPECT_TRUE(v.Command(CM_DEFORMATION));
    EXPECT_EQ(f.bar.Title(), "Fill Options");
    EXPECT_EQ(f.bar.PanelId(), PANEL_FILL);

    // The history brush shares the brush's panel and width, with its own title and fields.
    v.Mode = MODE_PAINT;
    v.PaintToolKind = PAINT_HISTORY_BRUSH;
    f.bar.ShowFor(&v);
    EXPECT_EQ(f.Shown(), "History Brush Options: Width=10 pixels Smooth=3 points Spacing=1 %");
    EXPECT_EQ(f.bar.PanelId(), PANEL_BRUSH);
    f.bar.EditChanged(IDC_OPT_VALUE3, "7");
    EXPECT_EQ(v.ToolOptions.BrushSpacing, 7.0);
    EXPECT_EQ(v.ToolOptions.BrushSmooth, 3);
}

// A field takes what atol reads from the text, within int, into its variable's type; a
// value set elsewhere shows truncated but is not changed by being shown.
TEST(ToolOptBar, FieldsStoreWhatAtolReads) {
    Fixture f;
    TToolOptions& o = f.a.view->ToolOptions;
    f.a.view->Command(CM_BRUSH_TOOL);
    const std::pair<const char*, int> texts[] = {
        {"abc", 0},
        {"25px", 25},
        {"  -4", -4},
        {"+8", 8},
        {"", 0},
        {"- 3", 0},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"1234567890123456789012345", INT_MAX},
    };
    for (const auto& [text, value] : texts) {
        f.bar.EditChanged(IDC_OPT_VALUE1, text);
        EXPECT_EQ(o.BrushWidth, value) << text;
    }
    EXPECT_EQ(f.bar.Field(IDC_OPT_VALUE1).Text, "1234567890123456789012345"); // as typed
    f.bar.EditChanged(IDC_OPT_VALUE2, "55.9");
    EXPECT_EQ(o.BrushSoftEdge, 55.0);

    o.LineWidth = 2.75;
    f.a.view->Command(CM_LINE_TOOL);
    EXPECT_EQ(f.bar.Field(IDC_OPT_VALUE1).Text, "2");
    EXPECT_EQ(o.LineWidth, 2.75);
    o.LineWidth = 1e300; // shows within int, no overflow
    f.bar.Reload();
    EXPECT_EQ(f.bar.Field(IDC_OPT_VALUE1).Text, std::to_string(INT_MAX));
    // A field the panel does not show takes nothing.
    f.bar.EditChanged(IDC_OPT_VALUE2, "9");
    EXPECT_EQ(f.bar.Field(IDC_OPT_VALUE2).Text, "");
    EXPECT_EQ(o.BrushSoftEdge, 55.0);
}

// Outline alone is 0, both 1, Fill alone 2; without Fill, Outline is forced on and greyed.
TEST(ToolOptBar, FillAndOutlineBoxesNeverLeaveTheShapeEmpty) {
    Fixture f;
    TToolOptions& o = f.a.view->ToolOptions;
    for (int command : {CM_RECTANGLE_TOOL, CM_ELLIPSE_TOOL}) {
        f.a.view->Command(command);
        int& style = command == CM_RECTANGLE_TOOL ? o.RectangleFillStyle : o.EllipseFillStyle;
        const auto& outline = f.bar.Field(IDC_OPT_FLAG1);
        f.bar.Click(IDC_OPT_FLAG1);
        EXPECT_EQ(style, 2);
        EXPECT_FALSE(outline.Checked);
        f.bar.Click(IDC_OPT_FLAG2); // Fill off as well: Outline comes back
        EXPECT_EQ(style, 0);
        EXPECT_TRUE(outline.Checked);
        EXPECT_FALSE(outline.Enabled);
        f.bar.Click(IDC_OPT_FLAG1); // greyed: nothing
        EXPECT_EQ(style, 0);
        f.bar.Click(IDC_OPT_FLAG2);
        EXPECT_EQ(style, 1);
        EXPECT_TRUE(outline.Enabled);
        style = 0;
        f.bar.Reload();
        EXPECT_FALSE(outline.Enabled);
        EXPECT_FALSE(f.bar.Field(IDC_OPT_FLAG2).Checked);
    }
    f.bar.Click(IDC_OPT_FLAG3);
    EXPECT_EQ(o.EllipseAntialiased, 0);
    EXPECT_EQ(o.RectangleFillStyle, 0);
}

// The text panel sets style bits, maps the sorted alignment items and lists the face.
TEST(ToolOptBar, TextPanelSetsStyleBitsAlignmentAndFace) {
    Fixture f;
    TToolOptions& o = f.a.view->ToolOptions;
    f.bar.SetFonts({"DejaVu Sans", "Liberation Serif", "DejaVu Sans"});
    f.a.view->Command(CM_TEXT_TOOL);
    EXPECT_TRUE(f.bar.FontVisible());
    // The view's face is not on this screen: it joins the list so that the combo shows it.
    ASSERT_EQ(f.bar.Fonts().size(), 3u);
    EXPECT_EQ(f.bar.Fonts()[f.bar.FontIndex()], "Times New Roman");
    EXPECT_TRUE(f.bar.SelectFont("DejaVu Sans"));
    EXPECT_EQ(o.TextFace, "DejaVu Sans");
    EXPECT_EQ(f.bar.FontIndex(), 0);

    f.bar.Click(IDC_OPT_FLAG2);
    f.bar.Click(IDC_OPT_FLAG4);
    EXPECT_EQ(o.TextStyle, 0x02 | 0x10);
    f.bar.Click(IDC_OPT_FLAG1);
    f.bar.Click(IDC_OPT_FLAG2);
    EXPECT_EQ(o.TextStyle, 0x01 | 0x10);
    EXPECT_EQ(f.bar.AlignIndex(), 1); // Left
    const std::pair<int, int> aligns[] = {{0, 0x40}, {1, 0}, {2, 0x80}};
    for (const auto& [index, value] : aligns) {
        EXPECT_TRUE(f.bar.SelectAlign(index));
        EXPECT_EQ(o.TextAlign, value);
        EXPECT_EQ(f.bar.AlignIndex(), index);
    }
    EXPECT_FALSE(f.bar.SelectAlign(3));
    f.a.view->Command(CM_BRUSH_TOOL);
    EXPECT_FALSE(f.bar.SelectFont("Liberation Serif"));
    EXPECT_EQ(o.TextFace, "DejaVu Sans");
}

// Each window keeps its own settings; the bar edits the one that has the focus, and lets go
// of a window that is gone.
TEST(ToolOptBar, EachViewKeepsItsOwnValuesAndAClosedOneFallsBack) {
    Fixture f;
    auto b = std::make_unique<Window>();
    f.Wire(*b);
    f.a.view->Command(CM_BRUSH_TOOL);
    f.bar.EditChanged(IDC_OPT_VALUE1, "42");
    b->view->Command(CM_BRUSH_TOOL);
    EXPECT_EQ(f.bar.Field(IDC_OPT_VALUE1).Text, "10");
    f.bar.EditChanged(IDC_OPT_VALUE1, "7");
    EXPECT_EQ(f.a.view->ToolOptions.BrushWidth, 42);
    EXPECT_EQ(b->view->ToolOptions.BrushWidth, 7);

    // A focused window shows its own tool, and deformation keeps the panel on its values.
    b->view->Command(CM_DEFORMATION);
    f.bar.ShowFor(f.a.view.get());
    EXPECT_EQ(f.bar.Field(IDC_OPT_VALUE1).Text, "42");
    f.bar.ShowFor(b->view.get());
    EXPECT_EQ(f.bar.Title(), "Brush Options");
    EXPECT_EQ(f.bar.View(), b->view.get());
    EXPECT_EQ(f.bar.Field(IDC_OPT_VALUE1).Text, "7");

    b.reset();
    EXPECT_EQ(f.bar.View(), nullptr);
    f.bar.EditChanged(IDC_OPT_VALUE1, "99"); // reaches nothing
    f.bar.Reload();
    EXPECT_EQ(f.bar.Title(), "Tool Options");
    EXPECT_FALSE(f.bar.Field(IDC_OPT_VALUE1).Visible);
    EXPECT_EQ(f.a.view->ToolOptions.BrushWidth, 42);
}

// Collapsed, the window is its caption and its borders.
TEST(ToolOptBar, CollapseShrinksToTheCaption) {
    TToolOptBar bar;
    int changes = 0;
    bar.OnChanged = [&] { ++changes; };
    EXPECT_EQ(bar.Height(200, 14, 1), 200);
    bar.ToggleCollapsed();
    EXPECT_EQ(bar.Height(200, 14, 1), 20);
    EXPECT_EQ(changes, 1);
}
