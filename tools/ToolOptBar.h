// The tool options bar's behaviour, without a window: which panel the current tool of a
// view gets (its title, which of the fixed controls it uses, their labels and units), the
// binding of each control to the option variable of that view it edits, what typing into
// a field or clicking a check box stores, and the collapsed state. The desktop window
// shows what this says and forwards its controls' changes here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ToolOptions.h"

class TImageView;

// The controls of the bar, by control id.
enum : int {
    IDC_OPT_VALUE1 = 101,
    IDC_OPT_VALUE2 = 102,
    IDC_OPT_VALUE3 = 103,
    IDC_OPT_VALUE4 = 104,
    IDC_OPT_FLAG1 = 105,
    IDC_OPT_FLAG2 = 106,
    IDC_OPT_FLAG3 = 107,
    IDC_OPT_FONT = 130,
    IDC_OPT_ALIGN = 131,
    IDC_OPT_FLAG4 = 132,
};

// The panels (PanelId).
enum : int {
    PANEL_NONE = 0,
    PANEL_MAGIC_WAND = 1,
    PANEL_RETOUCHER = 2,
    PANEL_BRUSH = 3, // also the history brush, with its own title and fields
    PANEL_SMUDGE = 4,
    PANEL_LINE = 5,
    PANEL_RECTANGLE = 6,
    PANEL_ELLIPSE = 7,
    PANEL_CLONE = 8,
    PANEL_FILL = 9,
    PANEL_TEXT = 10,
    PANEL_AIRBRUSH = 12,
};

class TToolOptBar {
public:
    static constexpr int kValueCount = 4;
    static constexpr int kFlagCount = 4;
    static constexpr int kMaxFaceLength = 255;
    // The alignment combo's items in their (sorted) order and the text alignment of each.
    static constexpr const char* kAlignNames[] = {"Center", "Left", "Right"};
    static constexpr int kAlignValues[] = {0x40, 0, 0x80};

    // What one edit field or check box shows.
    struct TField {
        bool Visible = false;
        bool Enabled = true;
        std::string Label; // the name beside a field, or a check box's text
        std::string Unit;  // edit fields only
        std::string Text;  // edit fields only
        bool Checked = false;
    };

    TToolOptBar();
    TToolOptBar(const TToolOptBar&) = delete;
    TToolOptBar& operator=(const TToolOptBar&) = delete;

    // Shows the panel of the view's current mode and tool, bound to that view's options
    // (null: the empty panel). The deformation mode keeps the panel that is up, bound to
    // this view.
    void ShowFor(TImageView* view);
    // The empty "Tool Options" panel with nothing bound.
    void ShowEmpty() { ShowFor(nullptr); }
    // The panel is written again from the bound variables (they were set elsewhere).
    void Reload();
    // The bound view, or null (also once that view is gone).
    TImageView* View() const;

    int PanelId() const { return panel_; }
    const std::string& Title() const { return title_; }
    // The edit fields (IDC_OPT_VALUE1..4) and check boxes (IDC_OPT_FLAG1..4).
    const TField& Field(int id) const;
    bool FontVisible() const { return panel_ == PANEL_TEXT; }

    // --- The user's changes. Each is ignored for a control the panel does not show (or a
    // disabled one); each is stored in the bound variable at once.
    // An edit field's new text: read as atol does (leading blanks, a sign, digits; text
    // that is no number gives 0), with no range check: the tools clamp what they use.
    void EditChanged(int id, const std::string& text);
    // A click on a check box.
    void Click(int id);
    // The text panel's font and alignment combos; false when nothing was chosen.
    bool SelectFont(const std::string& face);
    bool SelectAlign(int index);

    // --- The text panel's combos.
    // The screen's font families; the list is kept sorted, without repeats. A face the
    // view names but the screen lacks joins the list, so that the combo can show it.
    void SetFonts(std::vector<std::string> families);
    const std::vector<std::string>& Fonts() const { return fonts_; }
    int FontIndex() const;
    int AlignIndex() const;

    // --- The caption button: collapsed, the window is only its caption.
    bool Collapsed() const { return collapsed_; }
    void ToggleCollapsed();
    // The window's height: the expanded height given, or the caption height plus six
    // border widths when collapsed.
    int Height(int expandedHeight, int captionHeight, int borderWidth) const;
    // The glyph the caption button shows: a ⊥ while expanded, a T while collapsed.
    const char* ButtonGlyph() const { return collapsed_ ? "T" : "\u22A5"; }
    // The client size the bar wants for a dialog font's average character width and height.
    static void ClientSize(int charWidth, int charHeight, int* width, int* height);

    // Called after anything shown changed (panel, texts, checks, enabled state, collapse).
    std::function<void()> OnChanged;

private:
    // How a field reads and writes its variable.
    struct TBinding {
        int TToolOptions::*Int = nullptr;
        double TToolOptions::*Double = nullptr;
        int Flag = 0; // a text style bit; 0: the variable is 0 or 1
    };
    enum class TFillBox { None, Outline, Fill };

    void Show(int panel, int kind, TImageView* view);
    void Write();
    TToolOptions* Options() const;
    void TextChanged() const;
    void Changed() const {
        if (OnChanged) OnChanged();
    }
    static int Slot(int id);

    int panel_ = PANEL_NONE;
    int kind_ = -1; // the paint tool kind the panel was chosen for (history brush or brush)
    std::string title_ = "Tool Options";
    TImageView* view_ = nullptr;
    int viewNumber_ = -1;
    // Four edit fields, then four check boxes.
    TField fields_[kValueCount + kFlagCount];
    TBinding bindings_[kValueCount + kFlagCount];
    TFillBox fillBoxes_[kFlagCount] = {};
    std::vector<std::string> fonts_;
    bool collapsed_ = false;
};

// What an edit field of the bar stores for a text: atol's reading, kept within int.
int ParseOptionText(const std::string& text);
