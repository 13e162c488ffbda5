#include "Dialog.h"

#include <algorithm>
#include <regex>
#include <utility>

const TControlTemplate* TDialogTemplate::Find(int id) const {
    if (id == IDC_STATIC) return nullptr;
    for (const TControlTemplate& c : Controls)
        if (c.Id == id) return &c;
    return nullptr;
}

// ---------------------------------------------------------------------------
// TDialog

TDialog::TDialog(TDialogTemplate tmpl) : template_(std::move(tmpl)), caption_(template_.Caption) {
    states_.resize(template_.Controls.size());
    for (size_t i = 0; i < states_.size(); ++i) {
        states_[i].Text = template_.Controls[i].Text;
        states_[i].Visible = template_.Controls[i].Visible;
    }
}

TDialog::~TDialog() = default;

int TDialog::Execute(IWindowHost* parent) { return DialogHost().Execute(*this, parent); }

int TDialog::Find(int id) const {
    if (id == IDC_STATIC) return -1;
    for (size_t i = 0; i < template_.Controls.size(); ++i)
        if (template_.Controls[i].Id == id) return int(i);
    return -1;
}

TControlState* TDialog::Mutable(int id) {
    const int i = Find(id);
    return i < 0 ? nullptr : &states_[size_t(i)];
}

const TControlState* TDialog::State(int id) const {
    const int i = Find(id);
    return i < 0 ? nullptr : &states_[size_t(i)];
}

void TDialog::Changed(int id) {
    if (observer_) observer_->ControlChanged(id);
}

bool TDialog::Usable(int index) const {
    return open_ && index >= 0 && states_[size_t(index)].Visible && states_[size_t(index)].Enabled;
}

void TDialog::SetDlgItemText(int id, const std::string& text) {
    TControlState* s = Mutable(id);
    if (!s || s->Text == text) return;
    s->Text = text;
    Changed(id);
}

std::string TDialog::GetDlgItemText(int id, int maxChars) const {
    const TControlState* s = State(id);
    if (!s) return {};
    if (maxChars >= 0 && s->Text.size() > size_t(maxChars))
        return s->Text.substr(0, size_t(maxChars));
    return s->Text;
}

void TDialog::SetDlgItemInt(int id, int value) { SetDlgItemText(id, std::to_string(value)); }

void TDialog::CheckDlgButton(int id, bool checked) {
    TControlState* s = Mutable(id);
    if (!s || s->Checked == checked) return;
    s->Checked = checked;
    Changed(id);
}

bool TDialog::IsDlgButtonChecked(int id) const {
    const TControlState* s = State(id);
    return s && s->Checked;
}

void TDialog::CheckRadioButton(int firstId, int lastId, int checkId) {
    for (const TControlTemplate& c : template_.Controls) {
        if (c.Id < firstId || c.Id > lastId) continue;
        if (c.Kind != TControlKind::RadioButton && c.Kind != TControlKind::CheckBox) continue;
        CheckDlgButton(c.Id, c.Id == checkId);
    }
}

void TDialog::ClearList(int id) {
    TControlState* s = Mutable(id);
    if (!s || (s->Items.empty() && s->Selection < 0)) return;
    s->Items.clear();
    s->Selection = -1;
    Changed(id);
}

int TDialog::AddString(int id, const std::string& text, std::intptr_t data) {
    TControlState* s = Mutable(id);
    if (!s) return -1;
    s->Items.push_back(TListItem{text, data});
    Changed(id);
    return int(s->Items.size()) - 1;
}

int TDialog::GetCount(int id) const {
    const TControlState* s = State(id);
    return s ? int(s->Items.size()) : 0;
}

std::string TDialog::GetString(int id, int index) const {
    const TControlState* s = State(id);
    if (!s || index < 0 || size_t(index) >= s->Items.size()) return {};
    return s->Items[size_t(index)].Text;
}

std::intptr_t TDialog::GetItemData(int id, int index) const {
    const TControlState* s = State(id);
    if (!s || index < 0 || size_t(index) >= s->Items.size()) return 0;
    return s->Items[size_t(index)].Data;
}

void TDialog::SetSelIndex(int id, int index) {
    TControlState* s = Mutable(id);
    if (!s) return;
    const size_t count = s->Colors.empty() ? s->Items.size() : s->Colors.size();
    if (index < 0 || size_t(index) >= count) index = -1;
    if (s->Selection == index) return;
    s->Selection = index;
    Changed(id);
}

int TDialog::GetSelIndex(int id) const {
    const TControlState* s = State(id);
    return s ? s->Selection : -1;
}

void TDialog::SetRange(int id, int min, int max) {
    TControlState* s = Mutable(id);
    if (!s) return;
    if (min > max) std::swap(min, max);
    s->Min = min;
    s->Max = max;
    s->Pos = std::clamp(s->Pos, min, max);
    Changed(id);
}

void TDialog::SetPosition(int id, int pos) {
    TControlState* s = Mutable(id);
    if (!s) return;
    pos = std::clamp(pos, s->Min, s->Max);
    if (s->Pos == pos) return;
    s->Pos = pos;
    Changed(id);
}

int TDialog::GetPosition(int id) const {
    const TControlState* s = State(id);
    return s ? s->Pos : 0;
}

void TDialog::SetLineStep(int id, int step) {
    if (TControlState* s = Mutable(id)) {
        s->LineStep = std::max(1, step);
        Changed(id);
    }
}

void TDialog::SetPageStep(int id, int step) {
    if (TControlState* s = Mutable(id)) {
        s->PageStep = std::max(1, step);
        Changed(id);
    }
}

const char* EditInputPattern(TEditInput input) {
    switch (input) {
        case TEditInput::Digits: return "[0-9]*";
        case TEditInput::Decimal: return "[0-9]*([.][0-9]{0,2})?";
        default: return ".*";
    }
}

bool EditAccepts(TEditInput input, const std::string& text) {
    if (input == TEditInput::Any) return true;
    return std::regex_match(text, std::regex(EditInputPattern(input)));
}

void TDialog::SetEditInput(int id, TEditInput input) {
    TControlState* s = Mutable(id);
    if (!s || s->Input == input) return;
    s->Input = input;
    Changed(id);
}

void TDialog::EnableControl(int id, bool enabled) {
    TControlState* s = Mutable(id);
    if (!s || s->Enabled == enabled) return;
    s->Enabled = enabled;
    Changed(id);
}

bool TDialog::IsControlEnabled(int id) const {
    const TControlState* s = State(id);
    return s && s->Enabled;
}

void TDialog::ShowControl(int id, bool visible) {
    TControlState* s = Mutable(id);
    if (!s || s->Visible == visible) return;
    s->Visible = visible;
    Changed(id);
}

bool TDialog::IsControlVisible(int id) const {
    const TControlState* s = State(id);
    return s && s->Visible;
}

void TDialog::SetPaneBitmap(int id, const BITMAPHANDLE* bitmap) {
    TControlState* s = Mutable(id);
    if (!s) return;
    s->Bitmap = bitmap;
    // Always reported: the same bitmap may hold new pixels.
    Changed(id);
}

void TDialog::SetPaneZoomCursor(int id, bool zoom) {
    TControlState* s = Mutable(id);
    if (!s || s->ZoomCursor == zoom) return;
    s->ZoomCursor = zoom;
    Changed(id);
}

void TDialog::SetRuler(int id, int step) {
    TControlState* s = Mutable(id);
    step = std::max(0, step);
    if (!s || s->Ruler == step) return;
    s->Ruler = step;
    Changed(id);
}

void TDialog::SetCaption(const std::string& caption) {
    if (caption_ == caption) return;
    caption_ = caption;
    if (observer_) observer_->CaptionChanged();
}

void TDialog::SetFocusTo(int id) {
    if (id != 0 && Find(id) < 0) return;
    focus_ = id;
    if (observer_) observer_->FocusSet(id);
}

std::vector<int> TDialog::RadioGroup(int id) const {
    const int i = Find(id);
    if (i < 0) return {};
    const auto& controls = template_.Controls;
    size_t first = size_t(i);
    while (first > 0 && !controls[first].GroupStart) --first;
    size_t last = size_t(i) + 1;
    while (last < controls.size() && !controls[last].GroupStart) ++last;
    std::vector<int> ids;
    for (size_t k = first; k < last; ++k)
        if (controls[k].Kind == TControlKind::RadioButton && controls[k].Id != IDC_STATIC)
            ids.push_back(controls[k].Id);
    return ids;
}

bool TDialog::CloseWindow(int result) {
    if (!open_) return false;
    if (result == IDOK) {
        if (!CanClose()) return false;
        TransferData(TTransfer::GetData);
    }
    EndDialog(result);
    return true;
}

void TDialog::EndDialog(int result) {
    if (!open_) return;
    open_ = false;
    result_ = result;
    if (observer_) observer_->DialogEnded(result);
}

namespace {
TDialogHelpHandler& HelpHandler() {
    static TDialogHelpHandler handler;
    return handler;
}
} // namespace

void SetDialogHelpHandler(TDialogHelpHandler handler) { HelpHandler() = std::move(handler); }

void TDialog::SetupWindow() { TransferData(TTransfer::SetData); }

void TDialog::EvCommand(int id, int notifyCode) {
    if (notifyCode != BN_CLICKED) return;
    switch (id) {
        case IDOK: CloseWindow(IDOK); break;
        case IDCANCEL: CloseWindow(IDCANCEL); break;
        case IDHELP:
            if (HelpContext >= 0 && HelpHandler()) HelpHandler()(HelpContext);
            break;
        default: break;
    }
}

// --- The user's actions.

bool TDialog::Focus(int id) {
    const int i = Find(id);
    if (!Usable(i)) return false;
    const TControlKind kind = template_.Controls[size_t(i)].Kind;
    if (kind == TControlKind::Static || kind == TControlKind::GroupBox ||
        kind == TControlKind::Gauge)
        return false;
    if (focus_ == id) return true;
    const int old = focus_;
    focus_ = id;
    if (observer_) observer_->FocusSet(id);
    const TControlTemplate* oldControl = template_.Find(old);
    if (oldControl && oldControl->Kind == TControlKind::Edit) EvCommand(old, EN_KILLFOCUS);
    if (open_ && kind == TControlKind::Edit) EvCommand(id, EN_SETFOCUS);
    return true;
}

bool TDialog::TypeText(int id, const std::string& text) {
    const int i = Find(id);
    if (!Usable(i) || template_.Controls[size_t(i)].Kind != TControlKind::Edit) return false;
    Focus(id);
    if (!open_) return false;
    TControlState& s = states_[size_t(i)];
    if (!EditAccepts(s.Input, text)) return false;
    s.Text = text;
    Changed(id);
    EvCommand(id, EN_CHANGE);
    return true;
}

bool TDialog::Click(int id) {
    const int i = Find(id);
    if (i < 0 && (id == IDOK || id == IDCANCEL)) {
        if (!open_) return false;
        EvCommand(id, BN_CLICKED);
        return true;
    }
    if (!Usable(i)) return false;
    const TControlKind kind = template_.Controls[size_t(i)].Kind;
    if (kind != TControlKind::PushButton && kind != TControlKind::CheckBox &&
        kind != TControlKind::RadioButton)
        return false;
    Focus(id);
    if (!open_) return false;
    if (kind == TControlKind::RadioButton) {
        for (int other : RadioGroup(id)) CheckDlgButton(other, other == id);
    } else if (kind == TControlKind::CheckBox) {
        CheckDlgButton(id, !states_[size_t(i)].Checked);
    }
    EvCommand(id, BN_CLICKED);
    return true;
}

bool TDialog::Scroll(int id, int code, int thumbPos) {
    const int i = Find(id);
    if (!Usable(i)) return false;
    const TControlKind kind = template_.Controls[size_t(i)].Kind;
    if (kind != TControlKind::SpinScrollBar && kind != TControlKind::Slider) return false;
    const TControlState& s = states_[size_t(i)];
    int pos = s.Pos;
    switch (code) {
        case SB_LINEUP: pos -= s.LineStep; break;
        case SB_LINEDOWN: pos += s.LineStep; break;
        case SB_PAGEUP: pos -= s.PageStep; break;
        case SB_PAGEDOWN: pos += s.PageStep; break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK: pos = thumbPos; break;
        case SB_TOP: pos = s.Min; break;
        case SB_BOTTOM: pos = s.Max; break;
        case SB_ENDSCROLL: break;
        default: return false;
    }
    SetPosition(id, pos);
    if (kind == TControlKind::Slider)
        EvHScroll(id, code);
    else
        EvVScroll(id, code);
    return true;
}

bool TDialog::Select(int id, int index) {
    const int i = Find(id);
    if (!Usable(i)) return false;
    const TControlKind kind = template_.Controls[size_t(i)].Kind;
    if (kind != TControlKind::DropDownList && kind != TControlKind::ListBox) return false;
    if (index < 0 || size_t(index) >= states_[size_t(i)].Items.size()) return false;
    Focus(id);
    if (!open_) return false;
    SetSelIndex(id, index);
    EvCommand(id, CBN_SELCHANGE);
    return true;
}

bool TDialog::ClickPane(int id, bool rightButton, POINT pt) {
    const int i = Find(id);
    if (!Usable(i) || template_.Controls[size_t(i)].Kind != TControlKind::ImagePane) return false;
    panePoint_ = pt;
    EvCommand(id, rightButton ? 2 : 1);
    return true;
}

RECT ColorGridCell(int index, int width, int height) {
    const int column = index % 16, row = index / 16;
    return RECT{width * column / 16, height * row / 16, width * (column + 1) / 16,
                height * (row + 1) / 16};
}

void TDialog::SetGridColors(int id, const std::vector<COLORREF>& colors) {
    TControlState* s = Mutable(id);
    if (!s) return;
    std::vector<COLORREF> kept(
        colors.begin(), colors.begin() + std::ptrdiff_t(std::min<size_t>(colors.size(), 256)));
    if (kept == s->Colors) return;
    s->Colors = std::move(kept);
    if (s->Selection >= int(s->Colors.size())) s->Selection = s->Colors.empty() ? -1 : 0;
    if (s->Selection < 0 && !s->Colors.empty()) s->Selection = 0;
    Changed(id);
}

void TDialog::SetGridColor(int id, int index, COLORREF color) {
    TControlState* s = Mutable(id);
    if (!s || index < 0 || size_t(index) >= s->Colors.size() || s->Colors[size_t(index)] == color)
        return;
    s->Colors[size_t(index)] = color;
    Changed(id);
}

void TDialog::SetGridSelection(int id, int index) { SetSelIndex(id, index); }

bool TDialog::ClickGrid(int id, POINT pt, bool doubleClick) {
    const int i = Find(id);
    if (!Usable(i) || template_.Controls[size_t(i)].Kind != TControlKind::ColorGrid) return false;
    Focus(id);
    if (!open_) return false;
    const RECT r = template_.Controls[size_t(i)].Rect;
    const int count = int(states_[size_t(i)].Colors.size());
    for (int k = 0; k < count; ++k) {
        const RECT c = ColorGridCell(k, r.right - r.left, r.bottom - r.top);
        if (pt.x >= c.left && pt.x < c.right && pt.y >= c.top && pt.y < c.bottom) {
            SetSelIndex(id, k);
            if (doubleClick) EvCommand(id, 1);
            break;
        }
    }
    return true;
}

bool TDialog::GridKey(int id, TGridKey key) {
    const int i = Find(id);
    if (!Usable(i) || template_.Controls[size_t(i)].Kind != TControlKind::ColorGrid) return false;
    const TControlState& s = states_[size_t(i)];
    const int count = int(s.Colors.size()), at = s.Selection;
    int next = at;
    switch (key) {
        case TGridKey::Left: next = at > 0 ? at - 1 : at; break;
        case TGridKey::Right: next = at + 1 < count ? at + 1 : at; break;
        case TGridKey::Up: next = at >= 16 ? at - 16 : at; break;
        case TGridKey::Down: next = at + 16 < count ? at + 16 : at; break;
    }
    SetSelIndex(id, next);
    return true;
}

// --- Hosting.

void TDialog::BeginExecute(IDialogObserver* observer) {
    observer_ = observer;
    open_ = true;
    result_ = IDCANCEL;
    focus_ = 0;
}

void TDialog::RunSetup() {
    SetupWindow();
    if (focus_ != 0 || !open_) return;
    // As a dialog manager does: the first control that takes the keyboard gets it.
    for (size_t i = 0; i < template_.Controls.size(); ++i) {
        const TControlTemplate& c = template_.Controls[i];
        if (c.Id == IDC_STATIC || c.Kind == TControlKind::Static ||
            c.Kind == TControlKind::GroupBox || c.Kind == TControlKind::ImagePane ||
            c.Kind == TControlKind::Gauge || !Usable(int(i)))
            continue;
        SetFocusTo(c.Id);
        break;
    }
}

void TDialog::FinishExecute() {
    observer_ = nullptr;
    open_ = false;
}

// ---------------------------------------------------------------------------
// Hosts

namespace {
THeadlessDialogHost& DefaultHost() {
    static THeadlessDialogHost host;
    return host;
}
IDialogHost* g_host = nullptr;
} // namespace

IDialogHost& DialogHost() { return g_host ? *g_host : DefaultHost(); }

IDialogHost* SetDialogHost(IDialogHost* host) {
    IDialogHost* old = g_host;
    g_host = host;
    return old;
}

int THeadlessDialogHost::Execute(TDialog& dialog, IWindowHost*) {
    dialog.BeginExecute(nullptr);
    dialog.RunSetup();
    if (dialog.IsOpen() && !scripts_.empty()) {
        TScript script = std::move(scripts_.front());
        scripts_.pop_front();
        const int press = script(dialog);
        if (dialog.IsOpen()) dialog.Click(press);
    }
    if (dialog.IsOpen()) dialog.EndDialog(IDCANCEL);
    const int result = dialog.Result();
    dialog.FinishExecute();
    // The default host would otherwise grow for the whole run.
    if (this == &DefaultHost() && Shown.size() >= 64) Shown.erase(Shown.begin());
    Shown.push_back(TShown{dialog.Template().ResourceId, dialog.Caption(), result});
    return result;
}
