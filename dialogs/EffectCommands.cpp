#include "EffectCommands.h"

#include "ColorAdjustDialogs.h"
#include "CommandIds.h"
#include "ErrorDisplay.h"
#include "FilterCommands.h"
#include "FilterDialogs.h"
#include "ImageView.h"
#include "SelectionCommands.h"
#include "WaitCursor.h"

namespace {

template <class TDialogClass>
std::unique_ptr<TEffectsDialog> Make(const TLeadBitmapX& target) {
    return std::make_unique<TDialogClass>(target);
}

// Every dialog command of the Image and Effects menus.
const TEffectCommand kEffectCommands[] = {
    {CM_ADJUST_HUE_SATURATION, "Hue/Contrast", Make<THueSatDialog>, nullptr},
    {CM_ADJUST_BRIGHTNESS_CONTRAST, "Brightness/Contrast", Make<TBrightnessContrastDialog>,
     nullptr},
    {CM_ADJUST_SHARPNESS, "Blur/Sharpness", Make<TSharpnessDialog>, nullptr},
    {CM_ADJUST_RGB, "RGB Adjustment", Make<TRGBAdjustDialog>, nullptr},
    {CM_ADJUST_CMYK, "CMYK Adjustment", Make<TCMYKAdjustDialog>, nullptr},
    {CM_ADJUST_GAMMA, "Gamma Correction", Make<TGammaCorrectDialog>, nullptr},
    {CM_EFFECT_RED_EYE, "Red Eye Correction", Make<TRedEyeDialog>, RedEyePrecheck},
    {CM_EFFECT_AVERAGE, "Average Filter", Make<TAverageDialog>, nullptr},
    {CM_EFFECT_MEDIAN, "Median Filter", Make<TMedianDialog>, nullptr},
    {CM_EFFECT_UNDERLAY, "Underlay Effect", Make<TUnderlayDialog>, nullptr},
    {CM_EFFECT_WATER_COLOR, "Water Color Effect", Make<TWaterColorDialog>, nullptr},
    {CM_EFFECT_EMBOSS, "Emboss Effect", Make<TEmbossDialog>, nullptr},
    {CM_EFFECT_ADD_NOISE, "Add Noise Effect", Make<TAddNoiseDialog>, nullptr},
    {CM_EFFECT_POSTERIZE, "Posterize Effect", Make<TPosterizeDialog>, nullptr},
    {CM_EFFECT_MOSAIC, "Mosaic Effect", Make<TMosaicDialog>, nullptr},
    {CM_EFFECT_SPATIAL_FILTER, "Spatial Filter", Make<TSpatialFiltersDialog>, nullptr},
    {CM_EFFECT_DIFFUSE_OUTLINE, "Diffuse Outline", Make<TDiffuseDialog>, DiffusePrecheck},
};

// Apply's result takes the place of the layer's pixels; the layer keeps its name, place
// and shape, and takes the logical depth Apply gave.
void Replace(TLayer& layer, TLeadBitmapX& result) {
    layer.Adopt(result);
    layer.LogicalBpp = result.LogicalBpp;
}

} // namespace

const TEffectCommand* FindEffectCommand(int id) {
    for (const TEffectCommand& c : kEffectCommands)
        if (c.Id == id) return &c;
    return nullptr;
}

int RunEffectDialog(TImageView& view, const TEffectFactory& make, const std::string& undoName,
                    bool sync, bool allLayers) {
    TImageData* data = view.GetImageData();
    if (!data || !data->Image.GetCurrentLayer()) return IDCANCEL;
    TLayeredImage& image = data->Image;
    TLayer& target = *image.GetCurrentLayer();
    // The dialog and Apply see the target through a record that shares its pixels and has
    // the selection as its region. The layer keeps its own shape meanwhile, so a repaint
    // while the dialog is up (or while a progress window lets events through) still shows
    // the whole picture.
    TLayer source;
    if (L_INT rc = source.ShareX(target); rc != SUCCESS) {
        ShowToolkitError(rc, undoName);
        return IDCANCEL;
    }
    source.X = target.X;
    source.Y = target.Y;
    TSelectionAsRegion region(view, source);
    std::unique_ptr<TEffectsDialog> dialog = make(source);
    const int result = dialog->Execute(&view.Host());
    dialog->ReleaseSource();
    if (result != IDOK) return result;
    // Apply leaves its source alone and every result comes in a new block.
    if (!data->Checkpoint(true, undoName, TImageData::TWrites::NewBlocks)) {
        ShowToolkitError(ERROR_NO_MEMORY, dialog->Caption());
        return result;
    }
    view.InvalidateAll();
    L_INT rc = SUCCESS;
    if (allLayers) {
        for (int i = 0; i < image.Count() && rc == SUCCESS; ++i) {
            TWaitCursor wait;
            TLayer& layer = *image.GetLayer(i);
            TLeadBitmapX processed;
            rc = dialog->Apply(processed, layer, false);
            if (rc == SUCCESS) Replace(layer, processed);
        }
    } else {
        TWaitCursor wait;
        TLeadBitmapX processed;
        // Without the selection as its region Apply would change the whole layer.
        rc = view.HasSelection && !region.Applied() ? ERROR_NO_MEMORY
                                                    : dialog->Apply(processed, source, false);
        // The result takes the layer's shape, not the selection.
        if (rc == SUCCESS)
            rc = target.pRgn ? L_SetBitmapRgnHandle(&processed, nullptr, target.pRgn, L_RGN_SET)
                             : L_FreeBitmapRgn(&processed);
        if (rc == SUCCESS) Replace(target, processed);
        if (rc == SUCCESS && sync && image.GetCurrentIndex() == 0 && !view.HasSelection)
            rc = image.SyncLayerColours();
    }
    if (rc != SUCCESS) ShowToolkitError(rc, dialog->Caption());
    data->RebuildPalette();
    view.UpdateScrollRanges();
    view.InvalidateAll();
    view.LayerHandler().Notify(TLayerChange::Repaint);
    return result;
}

void TEffectCommands::CommandEnable(TCommandEnabler& ce) {
    if (!FindEffectCommand(ce.Id)) {
        geometry_.CommandEnable(ce);
        if (!ce.Handled) palette_.CommandEnable(ce);
        return;
    }
    TImageData* data = view_.GetImageData();
    ce.Enable(data && data->Image.GetCurrentLayer() &&
              data->Image.GetCurrentLayer()->IsAllocated());
}

bool TEffectCommands::Command(int id) {
    const TEffectCommand* c = FindEffectCommand(id);
    if (!c) return geometry_.Command(id) || palette_.Command(id);
    TCommandEnabler ce(id);
    CommandEnable(ce);
    if (!ce.Enabled) return true;
    if (c->Precheck && !c->Precheck(view_)) return true;
    RunEffectDialog(view_, c->Make, c->UndoName, true, false);
    return true;
}

void AttachEffectCommands(TImageView& view) {
    view.SetDialogCommands(std::make_unique<TEffectCommands>(view));
}
