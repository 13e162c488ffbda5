// Modal dialogs. A dialog is a template (caption, size, controls with ids) and a logic class
// derived from TDialog that works on its controls by id, as dialog code always has. The
// logic never sees a widget: it reads and writes each control's state here, and a dialog
// host renders that state (Qt widgets on the desktop, nothing at all in tests) and feeds
// the user's actions back through the "user" entry points, which update the state and
// raise the same notifications a real window system would.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "LeadDC.h"
#include "Toolkit.h"

class IWindowHost;

// Standard command ids of dialog buttons.
enum : int { IDOK = 1, IDCANCEL = 2, IDHELP = 9 };
// The id of labels and frames nobody addresses.
constexpr int IDC_STATIC = -1;

// Notification codes of WM_COMMAND from controls.
enum : int {
    BN_CLICKED = 0,
    CBN_SELCHANGE = 1, // list boxes use the same value (LBN_SELCHANGE)
    EN_SETFOCUS = 0x0100,
    EN_KILLFOCUS = 0x0200,
    EN_CHANGE = 0x0300,
};

// Scroll codes of WM_VSCROLL / WM_HSCROLL.
enum : int {
    SB_LINEUP = 0,
    SB_LINEDOWN = 1,
    SB_PAGEUP = 2,
    SB_PAGEDOWN = 3,
    SB_THUMBPOSITION = 4,
    SB_THUMBTRACK = 5,
    SB_TOP = 6,
    SB_BOTTOM = 7,
    SB_ENDSCROLL = 8,
};

enum class TControlKind {
    Edit,
    CheckBox,
    RadioButton,
    GroupBox,
    ListBox,
    DropDownList,
    Static,
    PushButton,
    SpinScrollBar, // a narrow vertical scroll bar used as a spin button
    Slider,        // a horizontal trackbar
    ImagePane,     // shows one toolkit bitmap, reports clicks
    Gauge,         // a progress bar showing Pos within Min..Max; takes no input
    ColorGrid,     // up to 256 colour cells in 16 columns and 16 rows, one selected
};

// The cell of entry `index` in a colour grid of width x height pixels: column index mod 16,
// row index div 16, each edge at the proportional integer position.
RECT ColorGridCell(int index, int width, int height);
enum class TGridKey { Left, Right, Up, Down };

struct TControlTemplate {
    int Id = IDC_STATIC;
    TControlKind Kind = TControlKind::Static;
    std::string Text; // "&" marks the mnemonic
    RECT Rect;        // in pixels, in the dialog's client area
    bool Visible = true;
    // Starts a new group: radio buttons check exclusively within their group, which runs up
    // to the next control that starts one.
    bool GroupStart = false;
};

struct TDialogTemplate {
    int ResourceId = 0;
    std::string Caption;
    int Width = 0, Height = 0; // client area, pixels
    std::vector<TControlTemplate> Controls;

    // The first control with this id, or null.
    const TControlTemplate* Find(int id) const;
};

struct TListItem {
    std::string Text;
    std::intptr_t Data = 0;
};

// What an edit box lets the user type: anything, a whole number, or a number with at most
// two decimals (the precision the size dialogs show in centimetres and inches).
enum class TEditInput { Any, Digits, Decimal };
// The pattern (ECMAScript syntax, matched against the whole text) of what an edit box with
// this input takes; the Qt host gives its line edits the same one.
const char* EditInputPattern(TEditInput input);
bool EditAccepts(TEditInput input, const std::string& text);

// Everything a host needs to show one control.
struct TControlState {
    std::string Text;
    bool Checked = false;
    std::vector<TListItem> Items;
    int Selection = -1;
    int Min = 0, Max = 100, Pos = 0, LineStep = 1, PageStep = 10;
    bool Enabled = true;
    bool Visible = true;
    const BITMAPHANDLE* Bitmap = nullptr; // image panes; not owned
    bool ZoomCursor = false;              // image panes show the magnifier over them
    int Ruler = 0;                        // sliders: a tick mark every Ruler steps (0: none)
    TEditInput Input = TEditInput::Any;   // edit boxes
    std::vector<COLORREF> Colors;         // colour grids: one per cell shown (Selection too)
};

// The rendering side of a running dialog. Every state change, whoever made it, is
// reported so the widgets follow; the host must not turn these into user events.
class IDialogObserver {
public:
    virtual ~IDialogObserver() = default;
    virtual void ControlChanged(int id) = 0;
    virtual void CaptionChanged() {}
    virtual void FocusSet(int /*id*/) {}
    virtual void DialogEnded(int result) = 0;
};

class TDialog {
public:
    explicit TDialog(TDialogTemplate tmpl);
    virtual ~TDialog();
    TDialog(const TDialog&) = delete;
    TDialog& operator=(const TDialog&) = delete;

    const TDialogTemplate& Template() const { return template_; }

    // Runs the dialog modally through DialogHost(); IDOK or IDCANCEL (or another id the
    // logic ended it with).
    int Execute(IWindowHost* parent = nullptr);

    // --- State the logic reads and writes. Unknown ids read as empty and ignore writes.
    // None of these raise notifications: only the user's actions do.
    void SetDlgItemText(int id, const std::string& text);
    // At most maxChars characters when maxChars >= 0, as a fixed-size buffer would read.
    std::string GetDlgItemText(int id, int maxChars = -1) const;
    void SetDlgItemInt(int id, int value);
    void CheckDlgButton(int id, bool checked);
    bool IsDlgButtonChecked(int id) const;
    // Checks checkId and unchecks every other radio button or check box whose id lies in
    // [firstId, lastId].
    void CheckRadioButton(int firstId, int lastId, int checkId);

    void ClearList(int id);
    // The new item's index.
    int AddString(int id, const std::string& text, std::intptr_t data = 0);
    int GetCount(int id) const;
    std::string GetString(int id, int index) const;
    std::intptr_t GetItemData(int id, int index) const;
    // -1 (or an index out of range) selects nothing.
    void SetSelIndex(int id, int index);
    int GetSelIndex(int id) const;

    // Scroll bars and sliders. The position always stays inside the range.
    void SetRange(int id, int min, int max);
    void SetPosition(int id, int pos);
    int GetPosition(int id) const;
    void SetLineStep(int id, int step);
    void SetPageStep(int id, int step);

    // What the user may type into an edit box from now on; the text there stays as it is.
    void SetEditInput(int id, TEditInput input);
    void EnableControl(int id, bool enabled);
    bool IsControlEnabled(int id) const;
    void ShowControl(int id, bool visible);
    bool IsControlVisible(int id) const;
    void SetPaneBitmap(int id, const BITMAPHANDLE* bitmap);
    void SetPaneZoomCursor(int id, bool zoom);
    // The tick marks of a slider, every `step` positions from its minimum (0: none).
    void SetRuler(int id, int step);
    // Colour grids: the cells shown (at most 256 are kept) and one cell's colour. The
    // selection (SetSelIndex, GetSelIndex) stays below the count.
    void SetGridColors(int id, const std::vector<COLORREF>& colors);
    void SetGridColor(int id, int index, COLORREF color);
    void SetGridSelection(int id, int index);

    void SetCaption(const std::string& caption);
    const std::string& Caption() const { return caption_; }
    // Moves the keyboard focus without notifications; 0 is none.
    void SetFocusTo(int id);
    int Focused() const { return focus_; }

    bool HasControl(int id) const { return Find(id) >= 0; }
    const TControlState* State(int id) const;

    // Ends the dialog when CanClose agrees (for IDOK), reading the controls into the
    // logic's data first. False when it stays open.
    bool CloseWindow(int result);
    // Ends the dialog unconditionally.
    void EndDialog(int result);

    // --- The user's actions, for hosts and tests. Each returns false when the control is
    // missing, hidden, disabled or of the wrong kind, or the dialog is not open.
    // Replaces an edit's text and raises EN_CHANGE; text the edit's input does not take is
    // refused (false, nothing changes), as the keyboard would refuse it.
    bool TypeText(int id, const std::string& text);
    // A button press: a radio button becomes checked and the others of its group unchecked,
    // a check box toggles; the focus moves to the button first (an edit losing it raises
    // EN_KILLFOCUS), then BN_CLICKED. IDOK and IDCANCEL work without a button, like the
    // Enter and Escape keys.
    bool Click(int id);
    // Moves a scroll bar or slider as the scroll code says (thumbPos for the thumb codes),
    // then raises the vertical (scroll bar) or horizontal (slider) scroll event.
    bool Scroll(int id, int code, int thumbPos = 0);
    // Selects a list entry and raises CBN_SELCHANGE.
    bool Select(int id, int index);
    // Moves the focus; an edit that loses it raises EN_KILLFOCUS.
    bool Focus(int id);
    // A left or right click on an image pane at a point in its client area: raises
    // notification 1 (left) or 2 (right); the point is kept for the logic to read.
    bool ClickPane(int id, bool rightButton, POINT pt);
    POINT LastPanePoint() const { return panePoint_; }
    // A left click on a colour grid at a point of its client area: the grid takes the
    // focus and selects the cell under the point, if any. A double click then raises
    // notification 1.
    bool ClickGrid(int id, POINT pt, bool doubleClick);
    // An arrow key on a colour grid: the selection moves to the neighbouring cell when
    // there is one (Up and Down by a row), and stays at the edges.
    bool GridKey(int id, TGridKey key);

    // --- For hosts, in this order: open the dialog (the observer may be null); run
    // SetupWindow and, unless the logic chose one, give the focus to the first control that
    // takes the keyboard; show it until it ends; detach once the window is gone.
    void BeginExecute(IDialogObserver* observer);
    void RunSetup();
    void FinishExecute();
    bool IsOpen() const { return open_; }
    int Result() const { return result_; }
    // Whether the host should centre the dialog on the main frame.
    virtual bool CentreOnFrame() const { return false; }
    // The help context the Help button opens; negative for none.
    int HelpContext = -1;

    // The ids of the controls that share id's radio group (id included), in template order.
    std::vector<int> RadioGroup(int id) const;

protected:
    enum class TTransfer { SetData, GetData };

    // Called once before the dialog is shown: fills the controls from the logic's data
    // (TransferData) and lets the logic set itself up.
    virtual void SetupWindow();
    virtual void TransferData(TTransfer /*direction*/) {}
    // WM_COMMAND from a control. The default ends the dialog for IDOK (through
    // CloseWindow) and IDCANCEL, and opens the help for IDHELP.
    virtual void EvCommand(int id, int notifyCode);
    virtual void EvVScroll(int /*id*/, int /*code*/) {}
    virtual void EvHScroll(int /*id*/, int /*code*/) {}
    virtual bool CanClose() { return true; }

private:
    int Find(int id) const;
    TControlState* Mutable(int id);
    void Changed(int id);
    bool Usable(int index) const;

    TDialogTemplate template_;
    std::vector<TControlState> states_; // parallel to template_.Controls
    std::string caption_;
    IDialogObserver* observer_ = nullptr;
    bool open_ = false;
    int result_ = IDCANCEL;
    int focus_ = 0;
    POINT panePoint_{};
};

// A dialog the host centres on the main frame when it is shown (on the screen when there
// is no frame).
class TCenterDialog : public TDialog {
public:
    using TDialog::TDialog;
    bool CentreOnFrame() const override { return true; }
};

// What the Help buttons of dialogs call, with the dialog's help context. Unset: nothing.
using TDialogHelpHandler = std::function<void(int context)>;
void SetDialogHelpHandler(TDialogHelpHandler handler);

class IDialogHost {
public:
    virtual ~IDialogHost() = default;
    // Shows the dialog modally (parent: the window it belongs to; null for the main
    // window) and returns its result.
    virtual int Execute(TDialog& dialog, IWindowHost* parent) = 0;
};

// The host every dialog uses. Without one installed, a headless host without scripts
// (every dialog is cancelled).
IDialogHost& DialogHost();
// Installs a host (null restores the default); returns the previous one.
IDialogHost* SetDialogHost(IDialogHost* host);

// Test host: runs SetupWindow, then the next queued script, which works on the dialog
// through its user entry points. When the script leaves the dialog open, the button whose
// id it returns is pressed; a dialog still open after that (or without a script) is
// cancelled.
class THeadlessDialogHost : public IDialogHost {
public:
    using TScript = std::function<int(TDialog&)>;
    struct TShown {
        int ResourceId;
        std::string Caption;
        int Result;
    };

    int Execute(TDialog& dialog, IWindowHost* parent) override;
    void QueueScript(TScript script) { scripts_.push_back(std::move(script)); }
    size_t PendingScripts() const { return scripts_.size(); }

    std::vector<TShown> Shown;

private:
    std::deque<TScript> scripts_;
};
