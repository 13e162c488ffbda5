// The filters and effects of the Effects menu. Five have one slider (Average, Median,
// Posterize, Mosaic, Red Eye Reduction); six have controls of their own (Spatial Filter,
// Add Noise, Emboss, Diffuse Outline, Water Color, Underlay). Each Apply copies the source
// and runs the toolkit's filter on the copy. Spatial Filter, Add Noise and Emboss remember
// their buttons for the rest of the run; no slider remembers its position.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "EffectsDialog.h"

// Dialog resources.
enum : int {
    IDD_UNDERLAY = 1509,
    IDD_WATERCOLOR = 1510,
    IDD_EMBOSS = 1511,
    IDD_ADDNOISE = 1512,
    IDD_AVERAGE = 1513,
    IDD_MEDIAN = 1514,
    IDD_POSTERIZE = 1515,
    IDD_MOSAIC = 1516,
    IDD_REDEYE = 1517,
    IDD_SPATIALFILTER = 1518,
    IDD_DIFFUSE = 1530,
};

// Controls of the dialogs with their own (the slider is 103 unless said otherwise).
enum : int {
    // Spatial Filter: the type buttons 104..109, the subtype list, Auto Equalize.
    IDC_FILTERTYPE_GROUP = 103,
    IDC_FILTER_GRADIENT = 104,
    IDC_FILTER_LINESEGMENT = 109,
    IDC_FILTER_SUBTYPE = 110,
    IDC_FILTER_EQUALIZE = 111,
    // Add Noise: All, Red, Green, Blue.
    IDC_NOISE_ALL = 104,
    IDC_NOISE_BLUE = 107,
    // Emboss: the eight directions from north clockwise.
    IDC_EMBOSS_N = 104,
    IDC_EMBOSS_NW = 111,
    // Diffuse Outline's slider.
    IDC_DIFFUSE_DEPTH = 107,
    // Water Color.
    IDC_WATER_PREVIEW = 103,
    IDC_WATER_GRANULARITY = 106,
    IDC_WATER_VALUE = 107,
    // Underlay.
    IDC_UNDERLAY_PLACE = 103,
    IDC_UNDERLAY_BROWSE = 104,
    IDC_UNDERLAY_PATH = 105,
    IDC_UNDERLAY_THUMB = 106,
};

// The template of one of the eleven, by resource id (an unknown id gives Average's), with
// its slider placeholders already turned into sliders.
TDialogTemplate FilterDialogTemplate(int resourceId);

// The slider filters: Average, Median, Posterize and Mosaic take the slider position
// (2..50) as their size or levels.
class TFilterSliderDialog : public TSliderDialog {
public:
    TFilterSliderDialog(const TLeadBitmapX& source, int resourceId);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;

private:
    int resourceId_;
};

struct TAverageDialog : TFilterSliderDialog {
    explicit TAverageDialog(const TLeadBitmapX& s) : TFilterSliderDialog(s, IDD_AVERAGE) {}
};
struct TMedianDialog : TFilterSliderDialog {
    explicit TMedianDialog(const TLeadBitmapX& s) : TFilterSliderDialog(s, IDD_MEDIAN) {}
};
struct TPosterizeDialog : TFilterSliderDialog {
    explicit TPosterizeDialog(const TLeadBitmapX& s) : TFilterSliderDialog(s, IDD_POSTERIZE) {}
};
struct TMosaicDialog : TFilterSliderDialog {
    explicit TMosaicDialog(const TLeadBitmapX& s) : TFilterSliderDialog(s, IDD_MOSAIC) {}
};

// Effect depth 1..1000 (RedEyeCorrect); the ends of the slider read "min" and "max".
class TRedEyeDialog : public TSliderDialog {
public:
    explicit TRedEyeDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;

protected:
    void SetupWindow() override;
};

// What Spatial Filter remembers for the run: the type, the subtype list and Auto Equalize.
struct TSpatialFiltersDialogXfer {
    std::array<bool, 6> Types{
        true}; // Gradient, Laplacian, Sobel, Prewitt, Shift and Difference, Line Segment
    std::vector<TListItem> Subtypes;
    int Subtype = -1;
    bool AutoEqualize = true;
};
TSpatialFiltersDialogXfer& SpatialFilterTransfer();

class TSpatialFiltersDialog : public TEffectsDialog {
public:
    explicit TSpatialFiltersDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
    // The toolkit's filter number of the current choice.
    int FilterNumber() const;
    // Lists the checked type's subtypes and selects the first.
    void FillSubtypes();

protected:
    bool InitPanes() override;
    void TransferData(TTransfer direction) override;
    void EvCommand(int id, int notifyCode) override;
};

// What Add Noise and Emboss remember for the run: their radio buttons.
struct TAddNoiseDialogXfer {
    std::array<bool, 4> Channels{true}; // All, Red, Green, Blue
};
TAddNoiseDialogXfer& AddNoiseTransfer();
struct TEmbossDialogXfer {
    std::array<bool, 8> Directions{true}; // N, NE, E, SE, S, SW, W, NW
};
TEmbossDialogXfer& EmbossTransfer();

// A dialog with one slider 103 and a row of radio buttons from 104 remembered for the run.
class TRadioSliderDialog : public TEffectsDialog {
public:
    // The first checked button's index (0 for none).
    int Choice() const;

protected:
    TRadioSliderDialog(const TLeadBitmapX& source, int resourceId, int min, int max, int ruler,
                       int start, bool* states, int count);
    bool InitPanes() override;
    void TransferData(TTransfer direction) override;
    void EvCommand(int id, int notifyCode) override;
    void EvHScroll(int id, int code) override;

private:
    int min_, max_, ruler_, start_;
    bool* states_;
    int count_;
};

// Coverage 0..50 (noise of 10 x coverage tenths of a percent) on all channels or one.
class TAddNoiseDialog : public TRadioSliderDialog {
public:
    explicit TAddNoiseDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
};

// Depth 0..50 (20 x depth for the toolkit) lit from one of eight directions.
class TEmbossDialog : public TRadioSliderDialog {
public:
    explicit TEmbossDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
};

// Diffuse depth 0..100: the share of half the layer's shorter side the fade takes.
class TDiffuseDialog : public TEffectsDialog {
public:
    explicit TDiffuseDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;

protected:
    bool InitPanes() override;
    void EvHScroll(int id, int code) override;

private:
    L_INT maxWidth_;
};

// Water colour (oil paint of granularity 1..20) is slow: the preview waits for the
// "Preview" button, a zoom empties it, and the work runs with a cancellable progress window.
class TWaterColorDialog : public TEffectsDialog {
public:
    explicit TWaterColorDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;

protected:
    bool InitPanes() override;
    void UpdatePreview() override;
    void EvCommand(int id, int notifyCode) override;
    void EvHScroll(int id, int code) override;

private:
    bool opened_ = false;
};

// Underlay: the layer multiplied with a tiled background picture the user browses for.
class TUnderlayDialog : public TEffectsDialog {
public:
    explicit TUnderlayDialog(const TLeadBitmapX& source);
    ~TUnderlayDialog() override;
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
    // Reads the background picture; on failure there is none. A toolkit status.
    L_INT LoadBackground(const std::string& fileName);
    const TLeadBitmapX& Background() const { return background_; }
    const TImageControl* Thumbnail() const { return thumbnail_.get(); }

protected:
    bool InitPanes() override;
    void EvCommand(int id, int notifyCode) override;
    bool CanClose() override;

private:
    void Browse();

    std::unique_ptr<TImageControl> thumbnail_;
    TLeadBitmapX background_;
};
