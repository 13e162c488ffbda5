#include "ImageCommands.h"

#include "ColorAdjust.h"
#include "CommandIds.h"
#include "ErrorDisplay.h"
#include "ImageView.h"
#include "Processing.h"
#include "SelectionCommands.h"
#include "WaitCursor.h"

namespace {

struct TInPlaceCommand {
    int Id;
    const char* UndoName;
    TImageCommands::TOperation Operation;
    bool DropsSelection; // the flips turn the whole layer
};

// The colour casts of the quick corrections: more red, green and blue by these percentages,
// into a new bitmap that takes the place of the target's pixels.
TImageCommands::TOperation ColourCast(int red, int green, int blue) {
    return [=](TLayer& target) {
        TLeadBitmapX adjusted;
        const L_INT rc = RGBAdjustBitmap(adjusted, target, red, green, blue);
        if (rc != SUCCESS) return rc;
        target.Adopt(adjusted);
        target.LogicalBpp = adjusted.LogicalBpp;
        return L_INT(SUCCESS);
    };
}

TImageCommands::TOperation ReduceNoise(L_INT size, L_INT sharpness) {
    return [=](TLayer& target) {
        const L_INT rc = L_MedianFilterBitmap(&target, size);
        return rc == SUCCESS ? L_SharpenBitmap(&target, sharpness) : rc;
    };
}

template <L_INT (*F)(pBITMAPHANDLE, L_INT), L_INT A>
L_INT With(TLayer& target) {
    return F(&target, A);
}
template <L_INT (*F)(pBITMAPHANDLE)>
L_INT Plain(TLayer& target) {
    return F(&target);
}

const TInPlaceCommand kCommands[] = {
    {CM_IMAGE_FLIP_HORIZONTAL, "Flip Horizontally", Plain<L_ReverseBitmap>, true},
    {CM_IMAGE_FLIP_VERTICAL, "Flip Vertically", Plain<L_FlipBitmap>, true},
    {CM_IMAGE_INVERT, "Invert", Plain<L_InvertBitmap>, false},
    {CM_IMAGE_AUTO_EQUALIZE, "Auto Equalize", Plain<L_HistoEqualizeBitmap>, false},
    {CM_IMAGE_AUTO_CONTRAST, "Auto Contrast", Plain<L_StretchBitmapIntensity>, false},
    {CM_QUICK_SUNLIGHT_LESS, "Sunlight Less", ColourCast(15, 7, 2), false},
    {CM_QUICK_SUNLIGHT_MORE, "Sunlight More", ColourCast(30, 15, 4), false},
    {CM_QUICK_FLUORESCENT_LESS, "Fluorescent Light Less", ColourCast(1, 7, 2), false},
    {CM_QUICK_FLUORESCENT_MORE, "Fluorescent Light More", ColourCast(2, 15, 4), false},
    {CM_QUICK_LIGHTEN_LESS, "Lighten Less", With<L_ChangeBitmapIntensity, 50>, false},
    {CM_QUICK_LIGHTEN_MORE, "Lighten More", With<L_ChangeBitmapIntensity, 200>, false},
    {CM_QUICK_DARKEN_LESS, "Darken Less", With<L_ChangeBitmapIntensity, -50>, false},
    {CM_QUICK_DARKEN_MORE, "Darken More", With<L_ChangeBitmapIntensity, -150>, false},
    {CM_QUICK_SHARPEN_LESS, "Sharpen Less", With<L_SharpenBitmap, 600>, false},
    {CM_QUICK_SHARPEN_MORE, "Sharpen More", With<L_SharpenBitmap, 900>, false},
    {CM_QUICK_REDUCE_NOISE_LESS, "Reduce Noise Less", ReduceNoise(3, 600), false},
    {CM_QUICK_REDUCE_NOISE_MORE, "Reduce Noise More", ReduceNoise(4, 900), false},
    {CM_QUICK_CONTRAST_INCREASE, "Contrast Increase", With<L_ChangeBitmapContrast, 50>, false},
    {CM_QUICK_CONTRAST_DECREASE, "Contrast Decrease", With<L_ChangeBitmapContrast, -50>, false},
};

const TInPlaceCommand* Find(int id) {
    for (const TInPlaceCommand& c : kCommands)
        if (c.Id == id) return &c;
    return nullptr;
}

} // namespace

void TImageCommands::QueryCommand(TCommandEnabler& ce) const {
    TImageData* data = view_.GetImageData();
    if (ce.Id == CM_IMAGE_GRAYSCALE)
        ce.Enable(data && !view_.GetDocument().IsGrayscale());
    else if (Find(ce.Id))
        ce.Enable(data && data->Image.GetCurrentLayer());
}

bool TImageCommands::Command(int id) {
    const TInPlaceCommand* c = Find(id);
    if (!c && id != CM_IMAGE_GRAYSCALE) return false;
    TCommandEnabler ce(id);
    QueryCommand(ce);
    if (!ce.Enabled) return true;
    if (!c) {
        TWaitCursor wait;
        view_.GetDocument().ConvertToGrayscale();
        view_.UpdateScrollRanges();
        view_.InvalidateAll();
        view_.LayerHandler().Notify(TLayerChange::Rebuild);
        return true;
    }
    if (c->DropsSelection) view_.Deselect();
    ApplyToLayer(c->Operation, c->UndoName, true, false);
    return true;
}

L_INT TImageCommands::ApplyToLayer(const TOperation& operation, const std::string& undoName,
                                   bool sync, bool allLayers) {
    TImageData& data = *view_.GetImageData();
    TWaitCursor wait;
    // One layer's operation writes into it alone; matching the background's colours gives
    // the other layers new blocks.
    if (!(allLayers ? data.Checkpoint(true, undoName) : data.CheckpointCurrentLayer(undoName))) {
        ShowToolkitError(ERROR_NO_MEMORY, kAppName);
        return ERROR_NO_MEMORY;
    }
    TLayeredImage& image = data.Image;
    L_INT rc = SUCCESS;
    if (allLayers) {
        for (int i = 0; i < image.Count() && rc == SUCCESS; ++i) rc = operation(*image.GetLayer(i));
    } else {
        TLayer& target = *image.GetCurrentLayer();
        {
            TSelectionAsRegion region(view_, target);
            // Without the selection as its region the operation would change the whole layer.
            rc = view_.HasSelection && !region.Applied() ? ERROR_NO_MEMORY : operation(target);
        }
        if (rc == SUCCESS && sync && image.GetCurrentIndex() == 0 && !view_.HasSelection)
            rc = image.SyncLayerColours();
    }
    // The toolkit may have changed some pixels before it failed: the display shows them.
    data.RebuildPalette();
    view_.UpdateScrollRanges();
    view_.InvalidateAll();
    view_.LayerHandler().Notify(TLayerChange::Repaint);
    if (rc != SUCCESS) ShowToolkitError(rc, kAppName);
    return rc;
}
