// The six tonal and colour adjustments of the Image menu: Hue/Saturation,
// Brightness/Contrast, Sharpness, Gamma Correction, RGB Adjust and CMYK Adjust. Each has one
// to four sliders that always open at their start positions; Apply copies the source and
// runs the toolkit's operations on the copy, skipping those whose slider is at its neutral
// position (Gamma Correction always runs).
#pragma once

#include <algorithm>
#include <vector>

#include "EffectsDialog.h"

// Dialog resources.
enum : int {
    IDD_HUESATURATION = 1502,
    IDD_BRIGHTNESSCONTRAST = 1503,
    IDD_SHARPNESS = 1504,
    IDD_RGBADJUST = 1507,
    IDD_GAMMACORRECT = 1508,
    IDD_CMYKADJUST = 1522,
};

// The sliders, in the order each dialog lists them.
enum : int {
    IDC_ADJUST1 = 106,
    IDC_ADJUST2 = 107,
    IDC_ADJUST3 = 108,
    IDC_ADJUST4 = 109,
    IDC_GAMMAVALUE = 107, // Gamma Correction's value text
};

// The template of one of the six (by resource id; an unknown id gives Brightness/Contrast's),
// with the slider placeholders still in place.
TDialogTemplate AdjustDialogTemplate(int resourceId);

// The common part: the sliders of the template get their ranges, ruler steps and start
// positions when the panes are set up.
class TAdjustDialog : public TEffectsDialog {
public:
    struct TSliderDef {
        int Id, Min, Max, Ruler, Start;
    };
    TAdjustDialog(const TLeadBitmapX& source, int resourceId, std::vector<TSliderDef> sliders);
    int Position(int index) const { return GetPosition(sliders_[size_t(index)].Id); }

protected:
    bool InitPanes() override;
    void EvHScroll(int id, int code) override;

private:
    std::vector<TSliderDef> sliders_;
};

class THueSatDialog : public TAdjustDialog {
public:
    explicit THueSatDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
    // The toolkit's arguments for slider positions.
    static int SaturationArgument(int position) { return 20 * position - 500; }
    static int HueArgument(int position) { return (15 * position - 360) / 2; }
};

class TBrightnessContrastDialog : public TAdjustDialog {
public:
    explicit TBrightnessContrastDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
};

class TSharpnessDialog : public TAdjustDialog {
public:
    explicit TSharpnessDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
};

class TGammaCorrectDialog : public TAdjustDialog {
public:
    explicit TGammaCorrectDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
    // The gamma times 100; position 0 counts as 1.
    static int GammaArgument(int position) { return 10 * std::max(1, position); }

protected:
    bool InitPanes() override;
    void EvHScroll(int id, int code) override;

private:
    void ShowValue();
};

class TRGBAdjustDialog : public TAdjustDialog {
public:
    explicit TRGBAdjustDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
};

class TCMYKAdjustDialog : public TAdjustDialog {
public:
    explicit TCMYKAdjustDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
};
