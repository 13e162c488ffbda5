#include "ResizeDialog.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "MessageBox.h"
#include "Options.h"

namespace {

// The preset buttons in the order of the record's Presets, with their factors.
constexpr std::array<int, 5> kPresetIds = {IDC_PRESET400, IDC_PRESET200, IDC_PRESET150,
                                           IDC_PRESET75, IDC_PRESET50};
constexpr std::array<double, 5> kPresetFactors = {4.0, 2.0, 1.5, 0.75, 0.5};
constexpr std::array<int, 6> kBits = {1, 4, 8, 16, 24, 32};

constexpr const char* kSizeNeededText = "Please enter a width and a height of at least one pixel.";

// The spins run over 1..10000 against the number in their edit box.
constexpr int kSpinMin = 1;
constexpr int kSpinMax = 10000;

// Numbers are read as atof reads them: anything that is not a number counts as 0. Text
// such as "nan" or "1e999" would otherwise carry a non-finite value into the sizes.
double ReadNumber(const std::string& text) {
    const double v = std::atof(text.c_str());
    return std::isfinite(v) ? v : 0.0;
}

int ClampToInt(double v) {
    if (!(v > INT_MIN)) return INT_MIN;
    if (!(v < INT_MAX)) return INT_MAX;
    return int(v);
}

// A settings file may carry a unit code the dialogs do not know; every conversion would
// then give -1 and no size could be entered. Such a setting falls back to pixels, the
// default.
void NormaliseUnits() {
    int& u = Options().MeasurementUnits;
    if (u != UNITS_CENTIMETRES && u != UNITS_INCHES && u != UNITS_PIXELS) u = UNITS_PIXELS;
}

void FillUnits(TListTransfer& list) {
    NormaliseUnits();
    // In code order; each entry carries its code.
    list.Items = {
        {"Centimeters", UNITS_CENTIMETRES}, {"Inches", UNITS_INCHES}, {"Pixels", UNITS_PIXELS}};
    list.Selection = -1;
    for (size_t i = 0; i < list.Items.size(); ++i)
        if (list.Items[i].Data == Options().MeasurementUnits) list.Selection = int(i);
}

void SetList(TDialog& d, int id, const TListTransfer& list) {
    d.ClearList(id);
    for (const TListItem& item : list.Items) d.AddString(id, item.Text, item.Data);
    d.SetSelIndex(id, list.Selection);
}

void GetList(const TDialog& d, int id, TListTransfer& list) {
    list.Items.clear();
    for (int i = 0; i < d.GetCount(id); ++i)
        list.Items.push_back({d.GetString(id, i), d.GetItemData(id, i)});
    list.Selection = d.GetSelIndex(id);
}

// --- Templates.

using K = TControlKind;

TControlTemplate Ctl(int id, K kind, std::string text, int l, int t, int r, int b,
                     bool visible = true) {
    TControlTemplate c;
    c.Id = id;
    c.Kind = kind;
    c.Text = std::move(text);
    c.Rect = RECT{l, t, r, b};
    c.Visible = visible;
    // Every control but a radio button starts a group, so each run of radio buttons is a
    // group of its own; the first of a run starts it as well.
    c.GroupStart = kind != K::RadioButton;
    return c;
}

void AddPresets(std::vector<TControlTemplate>& c, int x, int y, bool visible) {
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Predefined", x, y, x + 120, y + 186, visible));
    const char* texts[] = {"&400%", "&200%", "&150%", "&75%", "&50%", "&Custom"};
    const int ids[] = {IDC_PRESET400, IDC_PRESET200, IDC_PRESET150,
                       IDC_PRESET75,  IDC_PRESET50,  IDC_CUSTOM};
    for (int i = 0; i < 6; ++i) {
        const int top = y + 24 + i * 26;
        c.push_back(Ctl(ids[i], K::RadioButton, texts[i], x + 12, top, x + 110, top + 22, visible));
    }
    c[c.size() - 6].GroupStart = true;
}

// Width and height with their spins, the aspect check box and the units list.
void AddSize(std::vector<TControlTemplate>& c, int x, int y, bool aspectVisible) {
    c.push_back(Ctl(IDC_STATIC, K::Static, "&Width:", x, y, x + 120, y + 20));
    c.push_back(Ctl(IDC_WIDTH, K::Edit, "", x, y + 22, x + 100, y + 48));
    c.push_back(Ctl(IDC_WIDTHSPIN, K::SpinScrollBar, "", x + 102, y + 22, x + 118, y + 48));
    c.push_back(Ctl(IDC_STATIC, K::Static, "&Height:", x, y + 56, x + 120, y + 76));
    c.push_back(Ctl(IDC_HEIGHT, K::Edit, "", x, y + 78, x + 100, y + 104));
    c.push_back(Ctl(IDC_HEIGHTSPIN, K::SpinScrollBar, "", x + 102, y + 78, x + 118, y + 104));
    int unitsTop = y + 114;
    if (aspectVisible) {
        c.push_back(
            Ctl(IDC_KEEPASPECT, K::CheckBox, "Keep &aspect ratio", x, y + 112, x + 180, y + 136));
        unitsTop = y + 144;
    }
    c.push_back(
        Ctl(IDC_STATIC, K::GroupBox, "Measurement &Units", x, unitsTop, x + 180, unitsTop + 58));
    c.push_back(Ctl(IDC_UNITS, K::DropDownList, "", x + 10, unitsTop + 22, x + 170, unitsTop + 48));
}

void AddBits(std::vector<TControlTemplate>& c, int x, int y, bool visible) {
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "&Bits per pixel", x, y, x + 110, y + 176, visible));
    const char* texts[] = {"&1", "&4", "&8", "1&6", "&24", "&32"};
    for (int i = 0; i < 6; ++i) {
        const int top = y + 22 + i * 25;
        c.push_back(
            Ctl(IDC_BPP1 + i, K::RadioButton, texts[i], x + 12, top, x + 100, top + 22, visible));
    }
    c[c.size() - 6].GroupStart = true;
}

void AddButtons(std::vector<TControlTemplate>& c, int right, int top) {
    c.push_back(Ctl(IDOK, K::PushButton, "OK", right - 264, top, right - 184, top + 28));
    c.push_back(Ctl(IDCANCEL, K::PushButton, "Cancel", right - 176, top, right - 96, top + 28));
    c.push_back(Ctl(IDHELP, K::PushButton, "&Help", right - 88, top, right - 8, top + 28));
}

TDialogTemplate MakeResize() {
    TDialogTemplate t{IDD_RESIZE, "Resize", 344, 296, {}};
    AddPresets(t.Controls, 8, 8, true);
    AddSize(t.Controls, 148, 12, true);
    t.Controls.push_back(Ctl(IDC_STATIC, K::GroupBox, "&Resampling", 148, 190, 328, 248));
    t.Controls.push_back(Ctl(IDC_RESAMPLING, K::DropDownList, "", 158, 212, 318, 238));
    AddButtons(t.Controls, t.Width, t.Height - 36);
    return t;
}

TDialogTemplate MakeResizeCanvas() {
    TDialogTemplate t{IDD_RESIZECANVAS, "Resize Canvas", 504, 262, {}};
    AddPresets(t.Controls, 8, 8, true);
    AddSize(t.Controls, 148, 12, true);
    auto& c = t.Controls;
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Canvas Position", 340, 8, 496, 148));
    c.push_back(Ctl(IDC_STATIC, K::Static, "Horisontal", 352, 30, 484, 50));
    c.push_back(Ctl(IDC_CANVASHORZ, K::DropDownList, "", 352, 52, 484, 78));
    c.push_back(Ctl(IDC_STATIC, K::Static, "Vertical", 352, 86, 484, 106));
    c.push_back(Ctl(IDC_CANVASVERT, K::DropDownList, "", 352, 108, 484, 134));
    AddButtons(c, t.Width, t.Height - 36);
    return t;
}

// The new-image dialogs keep the controls of Resize that they do not use, out of sight
// and out of reach, so the shared logic finds every id it works on.
TDialogTemplate MakeNewImage() {
    TDialogTemplate t{IDD_NEWIMAGE, "New Image Properties", 336, 236, {}};
    AddSize(t.Controls, 12, 12, false);
    AddBits(t.Controls, 214, 8, true);
    AddPresets(t.Controls, 400, 8, false);
    t.Controls.push_back(
        Ctl(IDC_KEEPASPECT, K::CheckBox, "Keep &aspect ratio", 400, 200, 560, 224, false));
    AddButtons(t.Controls, t.Width, t.Height - 36);
    return t;
}

TDialogTemplate MakeNewLayer() {
    TDialogTemplate t{IDD_NEWLAYER, "New Layer Properties", 280, 236, {}};
    AddSize(t.Controls, 12, 12, false);
    AddBits(t.Controls, 400, 8, false);
    AddPresets(t.Controls, 520, 8, false);
    t.Controls.push_back(
        Ctl(IDC_KEEPASPECT, K::CheckBox, "Keep &aspect ratio", 400, 200, 560, 224, false));
    AddButtons(t.Controls, t.Width, t.Height - 36);
    return t;
}

} // namespace

// ---------------------------------------------------------------------------

TResizeTransfer& SizeDialogTransfer(int resourceId) {
    static std::map<int, TResizeTransfer> records;
    return records[resourceId];
}

void ResetResizeTransfer(TResizeTransfer& t) {
    t = TResizeTransfer{};
    FillUnits(t.Units);
    t.KeepAspect = true;
    // Averaging first: it keeps the look of a photo when it shrinks.
    t.Resampling.Items = {
        {"Resample", SIZE_RESAMPLE}, {"Bicubic", SIZE_BICUBIC}, {"Nearest", SIZE_NORMAL}};
    t.Resampling.Selection = 0;
}

L_UINT ReadResamplingTransfer(const TResizeTransfer& t) {
    const int i = t.Resampling.Selection;
    if (i < 0 || i >= int(t.Resampling.Items.size())) return SIZE_RESAMPLE;
    return L_UINT(t.Resampling.Items[size_t(i)].Data);
}

void ResetResizeCanvasTransfer(TResizeTransfer& t) {
    ResetResizeTransfer(t);
    t.Horizontal.Items = {{"Left", 0}, {"Center", 1}, {"Right", 2}};
    t.Horizontal.Selection = 1;
    t.Vertical.Items = {{"Top", 0}, {"Center", 1}, {"Bottom", 2}};
    t.Vertical.Selection = 1;
}

void ResetNewImageTransfer(TResizeTransfer& t) {
    t = TResizeTransfer{};
    FillUnits(t.Units);
    t.Bits[4] = true;
}

void ResetNewLayerTransfer(TResizeTransfer& t) { ResetNewImageTransfer(t); }

TDialogTemplate SizeDialogTemplate(int resourceId) {
    switch (resourceId) {
        case IDD_RESIZECANVAS: return MakeResizeCanvas();
        case IDD_NEWIMAGE: return MakeNewImage();
        case IDD_NEWLAYER: return MakeNewLayer();
        default: return MakeResize();
    }
}

int EffectiveResolution(int dpi) { return dpi > 0 ? dpi : 72; }

namespace {

// A size typed in a unit converts through a factor like 1/2.54 that binary floating point
// cannot hold exactly: 6.35 cm at 96 dpi comes out as 239.99999999999997 pixels. The
// tolerance keeps truncation from taking a whole pixel off such sizes.
double WholePixels(const std::string& text, int dpi) {
    constexpr double kTolerance = 1e-6;
    return std::floor(Options().ToPixels(ReadNumber(text), EffectiveResolution(dpi)) + kTolerance);
}

bool UsableSize(double pixels) { return pixels >= 1 && pixels <= INT_MAX; }

} // namespace

bool ReadSizeTransfer(const TResizeTransfer& t, int xRes, int yRes, int& widthPx, int& heightPx) {
    const double wt = WholePixels(t.Width, xRes), ht = WholePixels(t.Height, yRes);
    if (!UsableSize(wt) || !UsableSize(ht)) return false;
    widthPx = int(wt);
    heightPx = int(ht);
    return true;
}

int ReadBitsTransfer(const TResizeTransfer& t) {
    for (size_t i = 0; i < kBits.size(); ++i)
        if (t.Bits[i]) return kBits[i];
    return 24;
}

int CanvasOffset(int anchorIndex, int newSize, int oldSize) {
    switch (anchorIndex) {
        case 1: return (newSize - oldSize) / 2; // C++ division truncates toward zero
        case 2: return newSize - oldSize;
        default: return 0;
    }
}

// ---------------------------------------------------------------------------
// TResizeDialog

TResizeDialog::TResizeDialog(int widthPx, int heightPx, int xRes, int yRes, int resourceId,
                             TResizeTransfer& transfer)
    : TCenterDialog(SizeDialogTemplate(resourceId)),
      transfer_(transfer),
      xRes_(xRes),
      yRes_(yRes),
      // A zero height would make the ratio infinite and lock the other side at 0 or
      // infinity; such an image has no shape to keep, so the lock keeps a square.
      aspect_(heightPx > 0 && widthPx > 0 ? double(widthPx) / heightPx : 1.0),
      originalWidth_(widthPx),
      originalHeight_(heightPx),
      width_(widthPx),
      height_(heightPx) {
    HelpContext = kSizeDialogHelpContext;
}

void TResizeDialog::TransferData(TTransfer direction) {
    if (direction == TTransfer::SetData) {
        for (size_t i = 0; i < kPresetIds.size(); ++i)
            CheckDlgButton(kPresetIds[i], transfer_.Presets[i]);
        CheckDlgButton(IDC_CUSTOM, transfer_.Custom);
        SetDlgItemText(IDC_WIDTH, transfer_.Width);
        SetDlgItemText(IDC_HEIGHT, transfer_.Height);
        CheckDlgButton(IDC_KEEPASPECT, transfer_.KeepAspect);
        SetList(*this, IDC_UNITS, transfer_.Units);
        if (Template().ResourceId == IDD_RESIZE)
            SetList(*this, IDC_RESAMPLING, transfer_.Resampling);
    } else {
        for (size_t i = 0; i < kPresetIds.size(); ++i)
            transfer_.Presets[i] = IsDlgButtonChecked(kPresetIds[i]);
        transfer_.Custom = IsDlgButtonChecked(IDC_CUSTOM);
        transfer_.Width = GetDlgItemText(IDC_WIDTH);
        transfer_.Height = GetDlgItemText(IDC_HEIGHT);
        transfer_.KeepAspect = IsDlgButtonChecked(IDC_KEEPASPECT);
        GetList(*this, IDC_UNITS, transfer_.Units);
        if (Template().ResourceId == IDD_RESIZE)
            GetList(*this, IDC_RESAMPLING, transfer_.Resampling);
    }
}

void TResizeDialog::SetupWindow() {
    NormaliseUnits();
    TCenterDialog::SetupWindow();
    updating_ = true;
    LimitInputToUnit();
    CheckDlgButton(IDC_CUSTOM, true);
    SetRange(IDC_WIDTHSPIN, kSpinMin, kSpinMax);
    SetRange(IDC_HEIGHTSPIN, kSpinMin, kSpinMax);
    for (int i = 0; i < GetCount(IDC_UNITS); ++i)
        if (GetItemData(IDC_UNITS, i) == Options().MeasurementUnits) SetSelIndex(IDC_UNITS, i);
    width_ = originalWidth_;
    height_ = originalHeight_;
    Refresh(true, true, true);
    updating_ = false;
}

void TResizeDialog::LimitInputToUnit() {
    // Whole pixels, or hundredths of a centimetre or an inch: what the texts show.
    const TEditInput input =
        Options().MeasurementUnits == UNITS_PIXELS ? TEditInput::Digits : TEditInput::Decimal;
    SetEditInput(IDC_WIDTH, input);
    SetEditInput(IDC_HEIGHT, input);
}

std::string TResizeDialog::FormatUnits(double pixels, int resolution) const {
    const double v = Options().ToUnits(pixels, EffectiveResolution(resolution));
    char text[64];
    std::snprintf(text, sizeof text, Options().MeasurementUnits == UNITS_PIXELS ? "%.0lf" : "%.2lf",
                  v);
    return text;
}

void TResizeDialog::Refresh(bool widthText, bool heightText, bool resetPresets) {
    const bool was = updating_;
    updating_ = true;
    // Rewriting the text the user is typing in would move the caret; an unchanged text is
    // left alone (SetDlgItemText only reports real changes).
    if (widthText) SetDlgItemText(IDC_WIDTH, FormatUnits(width_, xRes_));
    if (heightText) SetDlgItemText(IDC_HEIGHT, FormatUnits(height_, yRes_));
    if (resetPresets) {
        for (int id : kPresetIds) CheckDlgButton(id, false);
        CheckDlgButton(IDC_CUSTOM, true);
    }
    SyncSpins();
    updating_ = was;
}

void TResizeDialog::SyncSpins() {
    const bool pixels = Options().MeasurementUnits == UNITS_PIXELS;
    const auto sync = [&](int edit, int spin) {
        double v = ReadNumber(GetDlgItemText(edit));
        if (!pixels) v *= 100;
        // The spin runs against the number so that its up arrow makes the value larger.
        SetPosition(spin, ClampToInt(kSpinMax - v + 0.5));
    };
    sync(IDC_WIDTH, IDC_WIDTHSPIN);
    sync(IDC_HEIGHT, IDC_HEIGHTSPIN);
}

void TResizeDialog::EvCommand(int id, int notifyCode) {
    TCenterDialog::EvCommand(id, notifyCode);
    if (updating_) return;
    const bool locked = IsDlgButtonChecked(IDC_KEEPASPECT);
    if (id == IDC_WIDTH && notifyCode == EN_CHANGE) {
        widthEditedLast_ = true;
        width_ =
            Options().ToPixels(ReadNumber(GetDlgItemText(IDC_WIDTH)), EffectiveResolution(xRes_));
        if (locked) height_ = width_ / aspect_;
        Refresh(false, true, true);
    } else if (id == IDC_HEIGHT && notifyCode == EN_CHANGE) {
        widthEditedLast_ = false;
        height_ =
            Options().ToPixels(ReadNumber(GetDlgItemText(IDC_HEIGHT)), EffectiveResolution(yRes_));
        if (locked) width_ = height_ * aspect_;
        Refresh(true, false, true);
    } else if (id == IDC_UNITS && notifyCode == CBN_SELCHANGE) {
        const int sel = GetSelIndex(IDC_UNITS);
        if (sel < 0) return;
        Options().MeasurementUnits = int(GetItemData(IDC_UNITS, sel));
        LimitInputToUnit();
        Refresh(true, true, false);
    } else if (id == IDC_KEEPASPECT && notifyCode == BN_CLICKED) {
        if (!locked) return;
        if (widthEditedLast_) {
            height_ = width_ / aspect_;
            Refresh(false, true, true);
        } else {
            width_ = height_ * aspect_;
            Refresh(true, false, true);
        }
    } else if (notifyCode == BN_CLICKED) {
        for (size_t i = 0; i < kPresetIds.size(); ++i) {
            if (id != kPresetIds[i] || !IsDlgButtonChecked(id)) continue;
            width_ = originalWidth_ * kPresetFactors[i];
            height_ = originalHeight_ * kPresetFactors[i];
            Refresh(true, true, false);
        }
    }
}

void TResizeDialog::EvVScroll(int id, int) {
    if (updating_ || (id != IDC_WIDTHSPIN && id != IDC_HEIGHTSPIN)) return;
    double v = kSpinMax - GetPosition(id);
    if (Options().MeasurementUnits != UNITS_PIXELS) v /= 100;
    const bool locked = IsDlgButtonChecked(IDC_KEEPASPECT);
    if (id == IDC_WIDTHSPIN) {
        widthEditedLast_ = true;
        width_ = Options().ToPixels(v, EffectiveResolution(xRes_));
        if (locked) height_ = width_ / aspect_;
    } else {
        widthEditedLast_ = false;
        height_ = Options().ToPixels(v, EffectiveResolution(yRes_));
        if (locked) width_ = height_ * aspect_;
    }
    Refresh(true, true, true);
}

// ---------------------------------------------------------------------------

void TResizeCanvasDialog::TransferData(TTransfer direction) {
    TResizeDialog::TransferData(direction);
    if (direction == TTransfer::SetData) {
        SetList(*this, IDC_CANVASHORZ, transfer_.Horizontal);
        SetList(*this, IDC_CANVASVERT, transfer_.Vertical);
    } else {
        GetList(*this, IDC_CANVASHORZ, transfer_.Horizontal);
        GetList(*this, IDC_CANVASVERT, transfer_.Vertical);
    }
}

void TNewFilePropsDialog::TransferData(TTransfer direction) {
    TResizeDialog::TransferData(direction);
    for (size_t i = 0; i < kBits.size(); ++i) {
        const int id = IDC_BPP1 + int(i);
        if (direction == TTransfer::SetData)
            CheckDlgButton(id, transfer_.Bits[i]);
        else
            transfer_.Bits[i] = IsDlgButtonChecked(id);
    }
}

bool TNewFilePropsDialog::CanClose() {
    const bool width = UsableSize(WholePixels(GetDlgItemText(IDC_WIDTH), xRes_));
    const bool height = UsableSize(WholePixels(GetDlgItemText(IDC_HEIGHT), yRes_));
    if (width && height) return true;
    // Closing would make no image and say nothing; the user keeps what was typed and
    // learns what is missing.
    MessageBoxHost().Show(kSizeNeededText, Template().Caption, TMbButtons::Ok,
                          TMbIcon::Exclamation);
    SetFocusTo(width ? IDC_HEIGHT : IDC_WIDTH);
    return false;
}

bool RunNewImageDialog(int& widthPx, int& heightPx, int& bitsPerPixel) {
    constexpr int kSize = 100, kResolution = 72;
    TResizeTransfer& t = SizeDialogTransfer(IDD_NEWIMAGE);
    ResetNewImageTransfer(t);
    TNewFilePropsDialog dialog(kSize, kSize, kResolution, kResolution, IDD_NEWIMAGE, t);
    if (dialog.Execute() != IDOK) return false;
    int w = 0, h = 0;
    if (!ReadSizeTransfer(t, kResolution, kResolution, w, h)) return false;
    widthPx = w;
    heightPx = h;
    bitsPerPixel = ReadBitsTransfer(t);
    return true;
}
