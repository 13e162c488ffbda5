#include "FilterDialogs.h"

#include <algorithm>

#include "CommonDialogs.h"
#include "DiffuseOutline.h"
#include "DocTemplate.h"
#include "ErrorDisplay.h"
#include "ImageDocManager.h"
#include "MessageBox.h"
#include "Processing.h"
#include "ProgressDialog.h"
#include "RedEye.h"
#include "WaitCursor.h"

namespace {

using K = TControlKind;

void AddRadio(TDialogTemplate& t, int id, const std::string& text, int x, int y, int w,
              bool first) {
    AddDialogControl(t, id, K::RadioButton, text, x, y, w, 10);
    t.Controls.back().GroupStart = first;
}

// A slider row whose ends (105, 106) and position (104) are statics the dialog fills, or
// fixed words when given.
void AddNumberedSliderRow(TDialogTemplate& t, const std::string& label, bool withValue,
                          const std::string& minText, const std::string& maxText) {
    AddDialogControl(t, IDC_STATIC, K::Static, label, 8, 108, 44, 10);
    AddDialogControl(t, IDC_SLIDER, K::Static, "", 54, 106, 154, 14);
    AddDialogControl(t, IDC_SLIDERMIN, K::Static, minText, 54, 121, 30, 9);
    if (withValue) AddDialogControl(t, IDC_SLIDERVALUE, K::Static, "", 118, 121, 20, 9);
    AddDialogControl(t, IDC_SLIDERMAX, K::Static, maxText, 178, 121, 30, 9);
}

const char* CaptionOf(int resourceId) {
    switch (resourceId) {
        case IDD_UNDERLAY: return "Underlay";
        case IDD_WATERCOLOR: return "Water Color";
        case IDD_EMBOSS: return "Emboss";
        case IDD_ADDNOISE: return "Add Noise";
        case IDD_MEDIAN: return "Median Filter";
        case IDD_POSTERIZE: return "Posterize Effect";
        case IDD_MOSAIC: return "Mosaic Effect";
        case IDD_REDEYE: return "Red Eye Reduction";
        case IDD_SPATIALFILTER: return "Spatial Filter";
        case IDD_DIFFUSE: return "Diffuse outline";
        default: return "Average Filter";
    }
}

// The spatial filter types: the toolkit's number of the first subtype and the subtypes.
struct TFilterType {
    int Base;
    std::vector<const char*> Subtypes;
};
const TFilterType kFilterTypes[] = {
    {FLT_GRADIENT_N,
     {"North", "North-East", "East", "South-East", "South", "South-West", "West", "North-West"}},
    {FLT_LAPLACE_1, {"Filter 1", "Filter 2", "Filter 3", "Diagonal", "Horizontal", "Vertical"}},
    {FLT_SOBEL_HORZ, {"Horizontal", "Vertical"}},
    {FLT_PREWITT_HORZ, {"Horizontal", "Vertical"}},
    {FLT_SHIFTDIFF_DIAG, {"Diagonal", "Horizontal", "Vertical"}},
    {FLT_LINESEG_HORZ, {"Horizontal", "Vertical", "Left to Right", "Right to Left"}},
};

int FirstChecked(const TDialog& d, int first, int count) {
    for (int i = 0; i < count; ++i)
        if (d.IsDlgButtonChecked(first + i)) return i;
    return 0;
}

} // namespace

TDialogTemplate FilterDialogTemplate(int resourceId) {
    TDialogTemplate t = EffectDialogTemplate(resourceId, CaptionOf(resourceId));
    const int known[] = {IDD_UNDERLAY, IDD_WATERCOLOR,    IDD_EMBOSS,    IDD_ADDNOISE,
                         IDD_AVERAGE,  IDD_MEDIAN,        IDD_POSTERIZE, IDD_MOSAIC,
                         IDD_REDEYE,   IDD_SPATIALFILTER, IDD_DIFFUSE};
    if (std::find(std::begin(known), std::end(known), resourceId) == std::end(known))
        t.ResourceId = IDD_AVERAGE;
    switch (t.ResourceId) {
        case IDD_REDEYE:
            AddNumberedSliderRow(t, "&Effect depth:", false, "min", "max");
            FinishEffectDialogTemplate(t, 134);
            return ReplaceWithSliders(t, {IDC_SLIDER});
        case IDD_ADDNOISE:
            AddSliderRow(t, 106, "&Coverage:", IDC_SLIDER, "0%", "100%");
            AddDialogControl(t, IDC_STATIC, K::GroupBox, "A&ffected components:", 8, 134, 200, 26);
            AddRadio(t, IDC_NOISE_ALL, "&All", 16, 146, 44, true);
            AddRadio(t, IDC_NOISE_ALL + 1, "&Red", 64, 146, 44, false);
            AddRadio(t, IDC_NOISE_ALL + 2, "&Green", 112, 146, 44, false);
            AddRadio(t, IDC_NOISE_BLUE, "&Blue", 160, 146, 44, false);
            FinishEffectDialogTemplate(t, 166);
            return ReplaceWithSliders(t, {IDC_SLIDER});
        case IDD_EMBOSS: {
            AddSliderRow(t, 106, "&Depth:", IDC_SLIDER, "0", "100");
            AddDialogControl(t, IDC_STATIC, K::GroupBox, "Di&rection:", 8, 134, 200, 66);
            // On a circle from the top, clockwise.
            const int x[] = {104, 120, 126, 120, 104, 88, 82, 88};
            const int y[] = {144, 150, 166, 182, 188, 182, 166, 150};
            for (int i = 0; i < 8; ++i) AddRadio(t, IDC_EMBOSS_N + i, "", x[i], y[i], 10, i == 0);
            FinishEffectDialogTemplate(t, 204);
            return ReplaceWithSliders(t, {IDC_SLIDER});
        }
        case IDD_SPATIALFILTER: {
            AddDialogControl(t, IDC_FILTERTYPE_GROUP, K::GroupBox, "Filter &type", 8, 106, 98, 84);
            const char* names[] = {
                "&Gradient",    "&Laplacian", "&Sobel", "&Prewitt", "S&hift and Difference",
                "Li&ne Segment"};
            for (int i = 0; i < 6; ++i)
                AddRadio(t, IDC_FILTER_GRADIENT + i, names[i], 14, 118 + 12 * i, 90, i == 0);
            AddDialogControl(t, IDC_STATIC, K::Static, "Filter s&ubtype:", 112, 106, 96, 10);
            t.Controls.back().GroupStart = true;
            AddDialogControl(t, IDC_FILTER_SUBTYPE, K::ListBox, "", 112, 118, 96, 56);
            AddDialogControl(t, IDC_FILTER_EQUALIZE, K::CheckBox, "&Auto Equalize", 112, 178, 96,
                             10);
            FinishEffectDialogTemplate(t, 196);
            return t;
        }
        case IDD_DIFFUSE:
            AddSliderRow(t, 106, "&Diffuse depth:", IDC_DIFFUSE_DEPTH, "Min", "Max");
            FinishEffectDialogTemplate(t, 134);
            return ReplaceWithSliders(t, {IDC_DIFFUSE_DEPTH});
        case IDD_WATERCOLOR:
            AddSliderRow(t, 106, "&Granularity:", IDC_WATER_GRANULARITY, "1", "20");
            AddDialogControl(t, IDC_WATER_VALUE, K::Static, "", 118, 121, 20, 9);
            AddDialogControl(t, IDC_WATER_PREVIEW, K::PushButton, "&Preview", 8, 134, 50, 14);
            FinishEffectDialogTemplate(t, 152);
            return ReplaceWithSliders(t, {IDC_WATER_GRANULARITY});
        case IDD_UNDERLAY: {
            AddDialogControl(t, IDC_STATIC, K::GroupBox, "Background &image", 8, 106, 200, 62);
            AddDialogControl(t, IDC_UNDERLAY_PLACE, K::Static, "", 14, 116, 64, 46);
            TControlTemplate thumb;
            thumb.Id = IDC_UNDERLAY_THUMB;
            thumb.Kind = K::ImagePane;
            const RECT r = t.Controls.back().Rect;
            thumb.Rect = RECT{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
            t.Controls.push_back(thumb);
            AddDialogControl(t, IDC_UNDERLAY_BROWSE, K::PushButton, "&Browse...", 86, 116, 50, 14);
            AddDialogControl(t, IDC_STATIC, K::Static, "File Path:", 86, 136, 40, 10);
            AddDialogControl(t, IDC_UNDERLAY_PATH, K::Static, "", 86, 148, 118, 10);
            FinishEffectDialogTemplate(t, 172);
            return t;
        }
        default:
            AddNumberedSliderRow(t, "&Granularity:", true, "", "");
            FinishEffectDialogTemplate(t, 134);
            return ReplaceWithSliders(t, {IDC_SLIDER});
    }
}

// ---------------------------------------------------------------------------
// The slider filters

TFilterSliderDialog::TFilterSliderDialog(const TLeadBitmapX& source, int resourceId)
    : TSliderDialog(source, FilterDialogTemplate(resourceId), kEffectHelpContext),
      resourceId_(Template().ResourceId) {
    Minimum = 2;
    Maximum = 50;
    RulerStep = 1;
    Initial = 3;
    // Posterize maps each pixel on its own; the others look at neighbours.
    PreviewShrinksFirst = resourceId_ == IDD_POSTERIZE;
}

L_INT TFilterSliderDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    const int n = Position();
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS) {
        TWaitCursor wait;
        switch (resourceId_) {
            case IDD_MEDIAN: rc = L_MedianFilterBitmap(&dst, n); break;
            case IDD_POSTERIZE: rc = L_PosterizeBitmap(&dst, n); break;
            case IDD_MOSAIC: rc = L_MosaicBitmap(&dst, n); break;
            default: rc = L_AverageFilterBitmap(&dst, n); break;
        }
    }
    if (rc != SUCCESS) dst.Free();
    return rc;
}

TRedEyeDialog::TRedEyeDialog(const TLeadBitmapX& source)
    : TSliderDialog(source, FilterDialogTemplate(IDD_REDEYE), kEffectHelpContext) {
    Minimum = 1;
    Maximum = 1000;
    RulerStep = 50;
    Initial = 500;
    // Each pixel is judged by its own hue and saturation.
    PreviewShrinksFirst = true;
}

void TRedEyeDialog::SetupWindow() {
    TSliderDialog::SetupWindow();
    // The depth is a feeling, not a number: the ends keep their words.
    SetDlgItemText(IDC_SLIDERMIN, "min");
    SetDlgItemText(IDC_SLIDERMAX, "max");
}

L_INT TRedEyeDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS) {
        TWaitCursor wait;
        rc = RedEyeCorrect(dst, Position());
    }
    if (rc != SUCCESS) dst.Free();
    return rc;
}

// ---------------------------------------------------------------------------
// Spatial Filter

TSpatialFiltersDialogXfer& SpatialFilterTransfer() {
    static TSpatialFiltersDialogXfer xfer;
    return xfer;
}

TSpatialFiltersDialog::TSpatialFiltersDialog(const TLeadBitmapX& source)
    : TEffectsDialog(source, FilterDialogTemplate(IDD_SPATIALFILTER), kEffectHelpContext) {}

void TSpatialFiltersDialog::TransferData(TTransfer direction) {
    TSpatialFiltersDialogXfer& x = SpatialFilterTransfer();
    if (direction == TTransfer::SetData) {
        for (int i = 0; i < 6; ++i) CheckDlgButton(IDC_FILTER_GRADIENT + i, x.Types[size_t(i)]);
        ClearList(IDC_FILTER_SUBTYPE);
        for (const TListItem& item : x.Subtypes)
            AddString(IDC_FILTER_SUBTYPE, item.Text, item.Data);
        SetSelIndex(IDC_FILTER_SUBTYPE, x.Subtype);
        CheckDlgButton(IDC_FILTER_EQUALIZE, x.AutoEqualize);
    } else {
        for (int i = 0; i < 6; ++i)
            x.Types[size_t(i)] = IsDlgButtonChecked(IDC_FILTER_GRADIENT + i);
        x.Subtypes.clear();
        for (int i = 0; i < GetCount(IDC_FILTER_SUBTYPE); ++i)
            x.Subtypes.push_back(
                {GetString(IDC_FILTER_SUBTYPE, i), GetItemData(IDC_FILTER_SUBTYPE, i)});
        x.Subtype = GetSelIndex(IDC_FILTER_SUBTYPE);
        x.AutoEqualize = IsDlgButtonChecked(IDC_FILTER_EQUALIZE);
    }
}

void TSpatialFiltersDialog::FillSubtypes() {
    TransferData(TTransfer::GetData);
    const TFilterType& type = kFilterTypes[FirstChecked(*this, IDC_FILTER_GRADIENT, 6)];
    ClearList(IDC_FILTER_SUBTYPE);
    for (const char* name : type.Subtypes) AddString(IDC_FILTER_SUBTYPE, name);
    SetSelIndex(IDC_FILTER_SUBTYPE, 0);
    TransferData(TTransfer::GetData);
}

bool TSpatialFiltersDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    FillSubtypes();
    return true;
}

int TSpatialFiltersDialog::FilterNumber() const {
    const TFilterType& type = kFilterTypes[FirstChecked(*this, IDC_FILTER_GRADIENT, 6)];
    const int n = int(type.Subtypes.size());
    return type.Base + std::clamp(GetSelIndex(IDC_FILTER_SUBTYPE), 0, n - 1);
}

void TSpatialFiltersDialog::EvCommand(int id, int notifyCode) {
    if (id >= IDC_FILTER_GRADIENT && id <= IDC_FILTER_LINESEGMENT && notifyCode == BN_CLICKED) {
        FillSubtypes();
        UpdatePreview();
        return;
    }
    if ((id == IDC_FILTER_SUBTYPE && notifyCode == CBN_SELCHANGE) ||
        (id == IDC_FILTER_EQUALIZE && notifyCode == BN_CLICKED)) {
        TransferData(TTransfer::GetData);
        UpdatePreview();
        return;
    }
    TEffectsDialog::EvCommand(id, notifyCode);
}

L_INT TSpatialFiltersDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    const int filter = FilterNumber();
    const bool equalize = IsDlgButtonChecked(IDC_FILTER_EQUALIZE);
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS) rc = L_SpatialFilterBitmap(&dst, filter);
    if (rc == SUCCESS && equalize) rc = L_HistoEqualizeBitmap(&dst);
    if (rc != SUCCESS) dst.Free();
    return rc;
}

// ---------------------------------------------------------------------------
// Add Noise and Emboss

TAddNoiseDialogXfer& AddNoiseTransfer() {
    static TAddNoiseDialogXfer xfer;
    return xfer;
}

TEmbossDialogXfer& EmbossTransfer() {
    static TEmbossDialogXfer xfer;
    return xfer;
}

TRadioSliderDialog::TRadioSliderDialog(const TLeadBitmapX& source, int resourceId, int min, int max,
                                       int ruler, int start, bool* states, int count)
    : TEffectsDialog(source, FilterDialogTemplate(resourceId), kEffectHelpContext),
      min_(min),
      max_(max),
      ruler_(ruler),
      start_(start),
      states_(states),
      count_(count) {}

int TRadioSliderDialog::Choice() const { return FirstChecked(*this, IDC_SLIDER + 1, count_); }

bool TRadioSliderDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    SetRange(IDC_SLIDER, min_, max_);
    SetRuler(IDC_SLIDER, ruler_);
    SetPosition(IDC_SLIDER, start_);
    return true;
}

void TRadioSliderDialog::TransferData(TTransfer direction) {
    for (int i = 0; i < count_; ++i) {
        if (direction == TTransfer::SetData)
            CheckDlgButton(IDC_SLIDER + 1 + i, states_[i]);
        else
            states_[i] = IsDlgButtonChecked(IDC_SLIDER + 1 + i);
    }
}

void TRadioSliderDialog::EvCommand(int id, int notifyCode) {
    if (id > IDC_SLIDER && id <= IDC_SLIDER + count_ && notifyCode == BN_CLICKED) {
        TransferData(TTransfer::GetData);
        UpdatePreview();
        return;
    }
    TEffectsDialog::EvCommand(id, notifyCode);
}

void TRadioSliderDialog::EvHScroll(int id, int code) {
    if (id == IDC_SLIDER) SliderMoved(code);
}

TAddNoiseDialog::TAddNoiseDialog(const TLeadBitmapX& source)
    : TRadioSliderDialog(source, IDD_ADDNOISE, 0, 50, 5, 10, AddNoiseTransfer().Channels.data(),
                         4) {}

L_INT TAddNoiseDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    const int range = 10 * GetPosition(IDC_SLIDER);
    const int channel = Choice(); // All, red, green, blue are the toolkit's 0..3
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS) {
        TWaitCursor wait;
        rc = L_AddBitmapNoise(&dst, range, channel);
    }
    if (rc != SUCCESS) dst.Free();
    return rc;
}

TEmbossDialog::TEmbossDialog(const TLeadBitmapX& source)
    : TRadioSliderDialog(source, IDD_EMBOSS, 0, 50, 5, 25, EmbossTransfer().Directions.data(), 8) {}

L_INT TEmbossDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    const int direction = Choice(); // north clockwise, as the toolkit counts
    const int depth = 20 * GetPosition(IDC_SLIDER);
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS) rc = L_EmbossBitmap(&dst, direction, depth);
    if (rc != SUCCESS) dst.Free();
    return rc;
}

// ---------------------------------------------------------------------------
// Diffuse Outline

TDiffuseDialog::TDiffuseDialog(const TLeadBitmapX& source)
    : TEffectsDialog(source, FilterDialogTemplate(IDD_DIFFUSE), kEffectHelpContext),
      maxWidth_(DiffuseMaxWidth(source)) {}

bool TDiffuseDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    SetRange(IDC_DIFFUSE_DEPTH, 0, 100);
    SetRuler(IDC_DIFFUSE_DEPTH, 10);
    SetPosition(IDC_DIFFUSE_DEPTH, 20);
    return true;
}

void TDiffuseDialog::EvHScroll(int id, int code) {
    if (id == IDC_DIFFUSE_DEPTH) SliderMoved(code);
}

L_INT TDiffuseDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool) {
    return DiffuseOutline(dst, src, GetPosition(IDC_DIFFUSE_DEPTH), maxWidth_);
}

// ---------------------------------------------------------------------------
// Water Color

TWaterColorDialog::TWaterColorDialog(const TLeadBitmapX& source)
    : TEffectsDialog(source, FilterDialogTemplate(IDD_WATERCOLOR), kEffectHelpContext) {}

bool TWaterColorDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    SetRange(IDC_WATER_GRANULARITY, 1, 20);
    SetRuler(IDC_WATER_GRANULARITY, 1);
    SetPosition(IDC_WATER_GRANULARITY, 3);
    SetDlgItemInt(IDC_WATER_VALUE, 3);
    return true;
}

void TWaterColorDialog::UpdatePreview() {
    // The effect is slow: opening the dialog does not wait for it.
    if (!opened_) {
        opened_ = true;
        return;
    }
    TEffectsDialog::UpdatePreview();
}

void TWaterColorDialog::EvCommand(int id, int notifyCode) {
    if (id == IDC_WATER_PREVIEW && notifyCode == BN_CLICKED) {
        UpdatePreview();
        return;
    }
    if ((id == IDC_ORIGINAL || id == IDC_PREVIEW) && (notifyCode == 1 || notifyCode == 2)) {
        Zoom(notifyCode == 1 ? TZoom::In : TZoom::Out,
             id == IDC_ORIGINAL ? TPane::Original : TPane::Preview, TRefresh::None);
        return;
    }
    TEffectsDialog::EvCommand(id, notifyCode);
}

void TWaterColorDialog::EvHScroll(int id, int) {
    if (id == IDC_WATER_GRANULARITY) SetDlgItemInt(IDC_WATER_VALUE, GetPosition(id));
}

L_INT TWaterColorDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    const int granularity = GetPosition(IDC_WATER_GRANULARITY);
    L_INT rc = ShareSource(dst, src, preview);
    if (rc != SUCCESS) return rc;
    rc = RunWithProgress(
        nullptr, ProgressDialogTemplate(IDD_WATERCOLORPROGRESS, "Water Color Effect Progress"),
        [&] { return L_OilifyBitmap(&dst, granularity); });
    // A cancelled run must not reach the layer.
    if (rc != SUCCESS) dst.Free();
    return rc;
}

// ---------------------------------------------------------------------------
// Underlay

TUnderlayDialog::TUnderlayDialog(const TLeadBitmapX& source)
    : TEffectsDialog(source, FilterDialogTemplate(IDD_UNDERLAY), kEffectHelpContext) {}

TUnderlayDialog::~TUnderlayDialog() { thumbnail_.reset(); }

bool TUnderlayDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    thumbnail_ = std::make_unique<TImageControl>(*this, IDC_UNDERLAY_THUMB, false);
    thumbnail_->Fit = true;
    thumbnail_->SetBitmap(background_.IsAllocated() ? &background_ : nullptr);
    SetDlgItemText(IDC_UNDERLAY_PATH, "");
    return true;
}

L_INT TUnderlayDialog::LoadBackground(const std::string& fileName) {
    if (thumbnail_) thumbnail_->SetBitmap(nullptr);
    background_.Free();
    L_INT rc = L_LoadBitmap(fileName.c_str(), &background_, 0, ORDER_BGR);
    if (rc == SUCCESS) rc = background_.NormalizeDepth();
    if (rc != SUCCESS) {
        background_.Free();
        return rc;
    }
    SetDlgItemText(IDC_UNDERLAY_PATH, fileName);
    if (thumbnail_) thumbnail_->SetBitmap(&background_);
    return SUCCESS;
}

void TUnderlayDialog::Browse() {
    TFileDialogRequest request;
    request.Caption = "Open";
    if (TImageDocManager* manager = TImageDocManager::Instance())
        for (const auto& t : manager->Templates())
            request.Filters.push_back(
                TFileFilter{t->GetDescription(), t->GetFileFilter(), t->GetDefaultExt()});
    request.ImagePreview = true;
    TFileDialogResult result;
    if (!CommonDialogs().GetOpenFileNames(request, result) || result.Paths.empty()) return;
    const std::string& path = result.Paths.front();
    const L_INT rc = LoadBackground(path);
    if (rc == SUCCESS)
        UpdatePreview();
    else
        ShowToolkitError(rc, "Underlay", path);
}

void TUnderlayDialog::EvCommand(int id, int notifyCode) {
    if (id == IDC_UNDERLAY_BROWSE && notifyCode == BN_CLICKED) {
        Browse();
        return;
    }
    TEffectsDialog::EvCommand(id, notifyCode);
}

bool TUnderlayDialog::CanClose() {
    if (background_.IsAllocated()) return true;
    SetFocusTo(IDC_UNDERLAY_BROWSE);
    MessageBoxHost().Show("Background image is not specified.", "Underlay Effect", TMbButtons::Ok,
                          TMbIcon::Stop);
    return false;
}

L_INT TUnderlayDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS && background_.IsAllocated())
        rc = L_UnderlayBitmap(&dst, &background_, UB_TILE);
    if (rc != SUCCESS) dst.Free();
    return rc;
}
