#include "ColorAdjustDialogs.h"

#include <cstdio>

#include "ColorAdjust.h"
#include "Processing.h"

namespace {

struct TRow {
    int Id;
    const char* Label;
    const char* MinText;
    const char* MaxText;
};

constexpr int kRowHeight = 28;

TDialogTemplate Make(int resourceId, const char* caption, std::initializer_list<TRow> rows) {
    TDialogTemplate t = EffectDialogTemplate(resourceId, caption);
    int y = kEffectControlsTop;
    for (const TRow& r : rows) {
        AddSliderRow(t, y, r.Label, r.Id, r.MinText, r.MaxText);
        y += kRowHeight;
    }
    if (resourceId == IDD_GAMMACORRECT)
        AddDialogControl(t, IDC_GAMMAVALUE, TControlKind::Static, "", 8, kEffectControlsTop + 13,
                         40, 10);
    FinishEffectDialogTemplate(t, y + 2);
    return t;
}

std::vector<TAdjustDialog::TSliderDef> Sliders(int count, int start) {
    std::vector<TAdjustDialog::TSliderDef> s;
    for (int i = 0; i < count; ++i) s.push_back({IDC_ADJUST1 + i, 0, 50, 5, start});
    return s;
}

// Percentages of the plane adjustments: -100..100 in steps of 4.
int Percent(int position) { return 4 * position - 100; }

} // namespace

TDialogTemplate AdjustDialogTemplate(int resourceId) {
    switch (resourceId) {
        case IDD_HUESATURATION:
            return Make(resourceId, "Hue/Saturation",
                        {{IDC_ADJUST1, "&Hue:", "-180\xC2\xB0", "180\xC2\xB0"},
                         {IDC_ADJUST2, "&Saturation:", "-50%", "50%"}});
        case IDD_SHARPNESS:
            return Make(resourceId, "Sharpness", {{IDC_ADJUST1, "&Sharpness:", "-100%", "100%"}});
        case IDD_GAMMACORRECT:
            return Make(resourceId, "Gamma Correction", {{IDC_ADJUST1, "&Gamma:", "0.1", "5.0"}});
        case IDD_RGBADJUST:
            return Make(resourceId, "RGB Adjust",
                        {{IDC_ADJUST1, "&Red:", "-100%", "100%"},
                         {IDC_ADJUST2, "&Green:", "-100%", "100%"},
                         {IDC_ADJUST3, "&Blue:", "-100%", "100%"}});
        case IDD_CMYKADJUST:
            return Make(resourceId, "CMYK Adjust",
                        {{IDC_ADJUST1, "&Cyan:", "-100%", "100%"},
                         {IDC_ADJUST2, "&Magenta:", "-100%", "100%"},
                         {IDC_ADJUST3, "&Yellow:", "-100%", "100%"},
                         {IDC_ADJUST4, "&Blackness:", "-100%", "100%"}});
        default:
            return Make(IDD_BRIGHTNESSCONTRAST, "Brightness/Contrast",
                        {{IDC_ADJUST1, "&Brightness:", "-50%", "50%"},
                         {IDC_ADJUST2, "&Contrast:", "-50%", "50%"}});
    }
}

// ---------------------------------------------------------------------------

namespace {
TDialogTemplate SliderTemplate(int resourceId, const std::vector<TAdjustDialog::TSliderDef>& s) {
    TDialogTemplate t = AdjustDialogTemplate(resourceId);
    for (TControlTemplate& c : t.Controls)
        for (const TAdjustDialog::TSliderDef& def : s)
            if (c.Id == def.Id && c.Kind == TControlKind::Static && c.Text.empty())
                c.Kind = TControlKind::Slider;
    return t;
}
} // namespace

TAdjustDialog::TAdjustDialog(const TLeadBitmapX& source, int resourceId,
                             std::vector<TSliderDef> sliders)
    : TEffectsDialog(source, SliderTemplate(resourceId, sliders), kEffectHelpContext),
      sliders_(std::move(sliders)) {
    // Everything here but Sharpness works pixel by pixel.
    PreviewShrinksFirst = resourceId != IDD_SHARPNESS;
}

bool TAdjustDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    for (const TSliderDef& s : sliders_) {
        SetRange(s.Id, s.Min, s.Max);
        SetRuler(s.Id, s.Ruler);
        SetPageStep(s.Id, s.Ruler);
        SetPosition(s.Id, s.Start);
    }
    return true;
}

void TAdjustDialog::EvHScroll(int /*id*/, int code) { SliderMoved(code); }

// ---------------------------------------------------------------------------

THueSatDialog::THueSatDialog(const TLeadBitmapX& source)
    : TAdjustDialog(source, IDD_HUESATURATION,
                    {{IDC_ADJUST1, 0, 48, 3, 24}, {IDC_ADJUST2, 0, 50, 5, 25}}) {}

L_INT THueSatDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS && Position(1) != 25)
        rc = L_ChangeBitmapSaturation(&dst, SaturationArgument(Position(1)));
    if (rc == SUCCESS && Position(0) != 24) rc = L_ChangeBitmapHue(&dst, HueArgument(Position(0)));
    return rc;
}

TBrightnessContrastDialog::TBrightnessContrastDialog(const TLeadBitmapX& source)
    : TAdjustDialog(source, IDD_BRIGHTNESSCONTRAST, Sliders(2, 25)) {}

L_INT TBrightnessContrastDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS && Position(0) != 25)
        rc = L_ChangeBitmapIntensity(&dst, 20 * Position(0) - 500);
    if (rc == SUCCESS && Position(1) != 25)
        rc = L_ChangeBitmapContrast(&dst, 20 * Position(1) - 500);
    return rc;
}

TSharpnessDialog::TSharpnessDialog(const TLeadBitmapX& source)
    : TAdjustDialog(source, IDD_SHARPNESS, Sliders(1, 25)) {}

L_INT TSharpnessDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS && Position(0) != 25) rc = L_SharpenBitmap(&dst, 40 * Position(0) - 1000);
    return rc;
}

TGammaCorrectDialog::TGammaCorrectDialog(const TLeadBitmapX& source)
    : TAdjustDialog(source, IDD_GAMMACORRECT, Sliders(1, 10)) {}

L_INT TGammaCorrectDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
    L_INT rc = ShareSource(dst, src, preview);
    if (rc == SUCCESS) rc = L_GammaCorrectBitmap(&dst, GammaArgument(Position(0)));
    return rc;
}

bool TGammaCorrectDialog::InitPanes() {
    if (!TAdjustDialog::InitPanes()) return false;
    ShowValue();
    return true;
}

void TGammaCorrectDialog::EvHScroll(int id, int code) {
    // The number follows the thumb even while the preview waits for the release.
    ShowValue();
    TAdjustDialog::EvHScroll(id, code);
}

void TGammaCorrectDialog::ShowValue() {
    char text[16];
    std::snprintf(text, sizeof text, "%3.1f", 0.1 * std::max(1, Position(0)));
    SetDlgItemText(IDC_GAMMAVALUE, text);
}

TRGBAdjustDialog::TRGBAdjustDialog(const TLeadBitmapX& source)
    : TAdjustDialog(source, IDD_RGBADJUST, Sliders(3, 25)) {}

L_INT TRGBAdjustDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool) {
    return RGBAdjustBitmap(dst, src, Percent(Position(0)), Percent(Position(1)),
                           Percent(Position(2)));
}

TCMYKAdjustDialog::TCMYKAdjustDialog(const TLeadBitmapX& source)
    : TAdjustDialog(source, IDD_CMYKADJUST, Sliders(4, 25)) {}

L_INT TCMYKAdjustDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool) {
    return CMYKAdjustBitmap(dst, src, Percent(Position(0)), Percent(Position(1)),
                            Percent(Position(2)), Percent(Position(3)));
}
