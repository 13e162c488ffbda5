#include "ToolOptBar.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>

#include "ImageView.h"
#include "PaintTool.h"
#include "ViewInteraction.h"

namespace {

using TOpt = TToolOptions;

struct TValueDef {
    const char* Label = nullptr; // null: the field is not used
    const char* Unit = "";
    int TOpt::*Int = nullptr;
    double TOpt::*Double = nullptr;
};

enum class TBox { Plain, Outline, Fill, Style };

struct TFlagDef {
    const char* Label = nullptr;
    int TOpt::*Var = nullptr;
    TBox Box = TBox::Plain;
    int Bit = 0; // TBox::Style: the text style bit
};

struct TPanelDef {
    int Panel;
    const char* Title;
    TValueDef Values[TToolOptBar::kValueCount];
    TFlagDef Flags[TToolOptBar::kFlagCount];
};

TValueDef I(const char* label, const char* unit, int TOpt::*v) { return {label, unit, v, nullptr}; }
TValueDef D(const char* label, const char* unit, double TOpt::*v) {
    return {label, unit, nullptr, v};
}
TFlagDef F(const char* label, int TOpt::*v, TBox box = TBox::Plain, int bit = 0) {
    return {label, v, box, bit};
}

const TPanelDef& PanelDef(int panel, int kind) {
    static const TPanelDef kNone{PANEL_NONE, "Tool Options", {}, {}};
    static const TPanelDef kPanels[] = {
        {PANEL_MAGIC_WAND, "Magic Wand Options", {I("Tolerance", "%", &TOpt::Tolerance)}, {}},
        {PANEL_RETOUCHER,
         "Extended Selection Options",
         {I("Width", "pixels", &TOpt::RetouchWidth)},
         {}},
        {PANEL_BRUSH,
         "Brush Options",
         {I("Width", "pixels", &TOpt::BrushWidth), D("Soft edge", "%", &TOpt::BrushSoftEdge),
          I("Smooth", "points", &TOpt::BrushSmooth), D("Spacing", "%", &TOpt::BrushSpacing)},
         {F("Antialiased", &TOpt::BrushAntialiased)}},
        {PANEL_SMUDGE,
         "Smudge Options",
         {I("Width", "pixels", &TOpt::SmudgeWidth), I("Pressure", "%", &TOpt::SmudgePressure)},
         {}},
        {PANEL_LINE,
         "Line Options",
         {D("Width", "pixels", &TOpt::LineWidth)},
         {F("Antialiased", &TOpt::LineAntialiased)}},
        {PANEL_RECTANGLE,
         "Rectangle Options",
         {D("Outline width", "pixels", &TOpt::RectangleWidth)},
         {F("Outline", &TOpt::RectangleFillStyle, TBox::Outline),
          F("Fill", &TOpt::RectangleFillStyle, TBox::Fill)}},
        {PANEL_ELLIPSE,
         "Ellipse Options",
         {D("Outline width", "pixels", &TOpt::EllipseWidth)},
         {F("Outline", &TOpt::EllipseFillStyle, TBox::Outline),
          F("Fill", &TOpt::EllipseFillStyle, TBox::Fill),
          F("Antialiased", &TOpt::EllipseAntialiased)}},
        {PANEL_CLONE,
         "Clone Tool Options",
         {I("Size", "pixels", &TOpt::BrushWidth), D("Spacing", "%", &TOpt::CloneSpacing)},
         {F("Aligned", &TOpt::CloneAligned)}},
        {PANEL_FILL,
         "Fill Options",
         {I("Tolerance", "%", &TOpt::Tolerance)},
         {F("Color Replace", &TOpt::ColorReplace)}},
        {PANEL_TEXT,
         "Text Options",
         {I("Size", "points", &TOpt::TextSize)},
         {F("Bold", &TOpt::TextStyle, TBox::Style, 0x01),
          F("Italic", &TOpt::TextStyle, TBox::Style, 0x02),
          F("Underline", &TOpt::TextStyle, TBox::Style, 0x04),
          F("As Layer", &TOpt::TextStyle, TBox::Style, 0x10)}},
        {PANEL_AIRBRUSH,
         "Air Brush Options",
         {I("Width", "pixels", &TOpt::AirbrushWidth), I("Pressure", "%", &TOpt::AirbrushPressure),
          I("Spacing", "%", &TOpt::AirbrushSpacing)},
         {F("Dissolve", &TOpt::AirbrushDissolve)}},
    };
    // The history brush shares the brush's panel number and variables, with fewer fields.
    static const TPanelDef kHistory{
        PANEL_BRUSH,
        "History Brush Options",
        {I("Width", "pixels", &TOpt::BrushWidth), I("Smooth", "points", &TOpt::BrushSmooth),
         D("Spacing", "%", &TOpt::BrushSpacing)},
        {}};
    if (panel == PANEL_BRUSH && kind == PAINT_HISTORY_BRUSH) return kHistory;
    for (const TPanelDef& d : kPanels)
        if (d.Panel == panel) return d;
    return kNone;
}

// The panel of a mode and paint tool kind; -1 for the deformation mode, which has none.
int PanelOf(int mode, int kind) {
    switch (mode) {
        case MODE_RETOUCHER: return PANEL_RETOUCHER;
        case MODE_MAGIC_WAND: return PANEL_MAGIC_WAND;
        case MODE_DEFORMATION: return -1;
        case MODE_PAINT: break;
        default: return PANEL_NONE;
    }
    switch (kind) {
        case PAINT_LINE: return PANEL_LINE;
        case PAINT_RECTANGLE: return PANEL_RECTANGLE;
        case PAINT_ELLIPSE: return PANEL_ELLIPSE;
        case PAINT_BRUSH:
        case PAINT_HISTORY_BRUSH: return PANEL_BRUSH;
        case PAINT_SMUDGE: return PANEL_SMUDGE;
        case PAINT_CLONE: return PANEL_CLONE;
        case PAINT_FILL: return PANEL_FILL;
        case PAINT_TEXT: return PANEL_TEXT;
        case PAINT_AIRBRUSH: return PANEL_AIRBRUSH;
        default: return PANEL_NONE;
    }
}

// "%d" of a value; doubles are truncated, and kept within int so that any value shows.
std::string Decimal(double v) {
    if (!std::isfinite(v)) v = 0;
    const double t = std::clamp(std::trunc(v), double(INT_MIN), double(INT_MAX));
    char text[16];
    std::snprintf(text, sizeof text, "%d", int(t));
    return text;
}

} // namespace

int ParseOptionText(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    // Digits past the range of int change nothing any more: the value stays at its limit.
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        v = std::min(v * 10 + (text[i] - '0'), 1LL + INT_MAX);
    if (negative) v = -v;
    return int(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

TToolOptBar::TToolOptBar() = default;

int TToolOptBar::Slot(int id) {
    if (id >= IDC_OPT_VALUE1 && id <= IDC_OPT_VALUE4) return id - IDC_OPT_VALUE1;
    if (id >= IDC_OPT_FLAG1 && id <= IDC_OPT_FLAG3) return kValueCount + id - IDC_OPT_FLAG1;
    if (id == IDC_OPT_FLAG4) return kValueCount + 3;
    return -1;
}

const TToolOptBar::TField& TToolOptBar::Field(int id) const {
    static const TField kNoField;
    const int slot = Slot(id);
    return slot < 0 ? kNoField : fields_[slot];
}

TImageView* TToolOptBar::View() const {
    // The bindings point into the view: once it is gone nothing may reach them.
    return view_ && TImageView::FindView(viewNumber_) == view_ ? view_ : nullptr;
}

TToolOptions* TToolOptBar::Options() const {
    TImageView* view = View();
    return view ? &view->ToolOptions : nullptr;
}

void TToolOptBar::ShowFor(TImageView* view) {
    if (!view) {
        Show(PANEL_NONE, -1, nullptr);
        return;
    }
    const int panel = PanelOf(view->Mode, view->PaintToolKind);
    if (panel < 0)
        Show(panel_, kind_, view);
    else
        Show(panel, view->Mode == MODE_PAINT ? view->PaintToolKind : -1, view);
}

void TToolOptBar::Reload() {
    if (!View()) Show(PANEL_NONE, -1, nullptr);
    Write();
    Changed();
}

void TToolOptBar::Show(int panel, int kind, TImageView* view) {
    const TPanelDef& def = PanelDef(panel, kind);
    panel_ = def.Panel;
    kind_ = kind;
    title_ = def.Title;
    view_ = def.Panel == PANEL_NONE ? nullptr : view;
    viewNumber_ = view_ ? view_->GetViewNumber() : -1;
    for (int i = 0; i < kValueCount + kFlagCount; ++i) {
        fields_[i] = TField{};
        bindings_[i] = TBinding{};
    }
    for (int i = 0; i < kValueCount; ++i) {
        const TValueDef& v = def.Values[i];
        if (!v.Label || !view_) continue;
        fields_[i].Visible = true;
        fields_[i].Label = v.Label;
        fields_[i].Unit = v.Unit;
        bindings_[i].Int = v.Int;
        bindings_[i].Double = v.Double;
    }
    for (int i = 0; i < kFlagCount; ++i) {
        const TFlagDef& f = def.Flags[i];
        fillBoxes_[i] = TFillBox::None;
        if (!f.Label || !view_) continue;
        fields_[kValueCount + i].Visible = true;
        fields_[kValueCount + i].Label = f.Label;
        bindings_[kValueCount + i].Int = f.Var;
        bindings_[kValueCount + i].Flag = f.Bit;
        if (f.Box == TBox::Outline) fillBoxes_[i] = TFillBox::Outline;
        if (f.Box == TBox::Fill) fillBoxes_[i] = TFillBox::Fill;
    }
    if (TToolOptions* o = Options(); o && panel_ == PANEL_TEXT) {
        // The combo can only show a face it lists.
        if (!o->TextFace.empty() && FontIndex() < 0) {
            fonts_.push_back(o->TextFace);
            std::sort(fonts_.begin(), fonts_.end());
        }
    }
    Write();
    Changed();
}

void TToolOptBar::Write() {
    TToolOptions* o = Options();
    if (!o) return;
    for (int i = 0; i < kValueCount; ++i) {
        const TBinding& b = bindings_[i];
        if (b.Int) fields_[i].Text = Decimal(o->*b.Int);
        if (b.Double) fields_[i].Text = Decimal(o->*b.Double);
    }
    for (int i = 0; i < kFlagCount; ++i) {
        TField& f = fields_[kValueCount + i];
        const TBinding& b = bindings_[kValueCount + i];
        if (!b.Int) continue;
        const int v = o->*b.Int;
        f.Enabled = true;
        switch (fillBoxes_[i]) {
            // 0 outline only, 1 both, 2 fill only. Without the fill the outline is the
            // whole shape: it cannot be taken away too.
            case TFillBox::Outline:
                f.Checked = v != 2;
                f.Enabled = v != 0;
                break;
            case TFillBox::Fill: f.Checked = v != 0; break;
            case TFillBox::None: f.Checked = b.Flag ? (v & b.Flag) != 0 : v != 0; break;
        }
    }
}

void TToolOptBar::TextChanged() const {
    if (panel_ != PANEL_TEXT) return;
    if (TImageView* view = View()) view->TextOptionsChanged();
}

void TToolOptBar::EditChanged(int id, const std::string& text) {
    const int slot = Slot(id);
    TToolOptions* o = Options();
    if (slot < 0 || slot >= kValueCount || !o || !fields_[slot].Visible) return;
    const int v = ParseOptionText(text);
    const TBinding& b = bindings_[slot];
    if (b.Int) o->*b.Int = v;
    if (b.Double) o->*b.Double = v;
    // The field keeps what was typed; only the variable takes the number.
    fields_[slot].Text = text;
    TextChanged();
    Changed();
}

void TToolOptBar::Click(int id) {
    const int slot = Slot(id);
    TToolOptions* o = Options();
    if (slot < kValueCount || !o || !fields_[slot].Visible || !fields_[slot].Enabled) return;
    const int i = slot - kValueCount;
    const TBinding& b = bindings_[slot];
    int& v = o->*b.Int;
    const bool checked = !fields_[slot].Checked;
    if (fillBoxes_[i] == TFillBox::Outline) {
        v = checked ? 1 : 2; // only reachable while the fill is on
    } else if (fillBoxes_[i] == TFillBox::Fill) {
        const auto* outline = std::find(fillBoxes_, fillBoxes_ + kFlagCount, TFillBox::Outline);
        const bool withOutline = fields_[kValueCount + int(outline - fillBoxes_)].Checked;
        v = checked ? (withOutline ? 1 : 2) : 0;
    } else if (b.Flag) {
        v = checked ? (v | b.Flag) : (v & ~b.Flag);
    } else {
        v = checked ? 1 : 0;
    }
    Write();
    TextChanged();
    Changed();
}

bool TToolOptBar::SelectFont(const std::string& face) {
    TToolOptions* o = Options();
    if (panel_ != PANEL_TEXT || !o || face.empty()) return false;
    o->TextFace = face.substr(0, kMaxFaceLength);
    if (FontIndex() < 0) {
        fonts_.push_back(o->TextFace);
        std::sort(fonts_.begin(), fonts_.end());
    }
    TextChanged();
    Changed();
    return true;
}

bool TToolOptBar::SelectAlign(int index) {
    TToolOptions* o = Options();
    if (panel_ != PANEL_TEXT || !o || index < 0 || index >= int(std::size(kAlignValues)))
        return false;
    o->TextAlign = kAlignValues[index];
    TextChanged();
    Changed();
    return true;
}

void TToolOptBar::SetFonts(std::vector<std::string> families) {
    std::sort(families.begin(), families.end());
    families.erase(std::unique(families.begin(), families.end()), families.end());
    fonts_ = std::move(families);
    if (panel_ == PANEL_TEXT) Show(panel_, kind_, View());
}

int TToolOptBar::FontIndex() const {
    const TToolOptions* o = Options();
    if (!o) return -1;
    const auto it = std::find(fonts_.begin(), fonts_.end(), o->TextFace);
    return it == fonts_.end() ? -1 : int(it - fonts_.begin());
}

int TToolOptBar::AlignIndex() const {
    const TToolOptions* o = Options();
    if (!o) return -1;
    for (int i = 0; i < int(std::size(kAlignValues)); ++i)
        if (kAlignValues[i] == o->TextAlign) return i;
    return -1;
}

void TToolOptBar::ToggleCollapsed() {
    collapsed_ = !collapsed_;
    Changed();
}

int TToolOptBar::Height(int expandedHeight, int captionHeight, int borderWidth) const {
    return collapsed_ ? captionHeight + 6 * borderWidth : expandedHeight;
}

void TToolOptBar::ClientSize(int charWidth, int charHeight, int* width, int* height) {
    *width = 155 * charWidth / 4;
    *height = 105 * charHeight / 8;
}
