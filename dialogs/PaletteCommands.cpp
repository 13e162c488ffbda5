#include "PaletteCommands.h"

#include <vector>

#include "CommandIds.h"
#include "EffectCommands.h"
#include "ErrorDisplay.h"
#include "ImageView.h"
#include "PaletteDialogs.h"
#include "WaitCursor.h"

namespace {

TLayer* Background(TImageView& view) {
    TImageData* data = view.GetImageData();
    TLayer* bg = data ? data->Image.Layers.At(0) : nullptr;
    return bg && bg->IsAllocated() ? bg : nullptr;
}

} // namespace

void TPaletteCommands::CommandEnable(TCommandEnabler& ce) {
    if (ce.Id != CM_IMAGE_COLOR_DEPTH && ce.Id != CM_PALETTE_EDIT && ce.Id != CM_PALETTE_LOAD &&
        ce.Id != CM_PALETTE_SAVE)
        return;
    const TLayer* bg = Background(view_);
    if (!bg) {
        ce.Enable(false);
        return;
    }
    const bool aggregated = view_.GetImageData()->Image.GetEffectiveChannelMode() == 0;
    switch (ce.Id) {
        case CM_IMAGE_COLOR_DEPTH: ce.Enable(true); break;
        case CM_PALETTE_LOAD: ce.Enable(aggregated); break;
        default: ce.Enable(aggregated && bg->LogicalBpp <= 8); break;
    }
}

bool TPaletteCommands::Command(int id) {
    TCommandEnabler ce(id);
    CommandEnable(ce);
    if (!ce.Handled) return false;
    if (!ce.Enabled) return true;
    switch (id) {
        case CM_IMAGE_COLOR_DEPTH: ColorDepth(); break;
        case CM_PALETTE_EDIT: EditPalette(false); break;
        case CM_PALETTE_LOAD: EditPalette(true); break;
        default: SavePaletteAs(*Background(view_)); break;
    }
    return true;
}

void TPaletteCommands::EditPalette(bool load) {
    TLayer& bg = *Background(view_);
    const TEffectFactory make = [&](const TLeadBitmapX&) -> std::unique_ptr<TEffectsDialog> {
        if (load) return std::make_unique<TApplyPalDialog>(bg);
        return std::make_unique<TEditPalDialog>(bg);
    };
    RunEffectDialog(view_, make, load ? "Load Palette" : "Edit Palette", false, true);
}

void TPaletteCommands::ColorDepth() {
    TImageData& data = *view_.GetImageData();
    TLayeredImage& image = data.Image;
    // The choices are made on what the user sees: all visible layers merged.
    TLayeredImage flat;
    L_INT rc = flat.CopyFrom(image);
    if (rc == SUCCESS) rc = flat.MergeAll();
    TLayer* picture = rc == SUCCESS ? flat.Layers.At(0) : nullptr;
    if (!picture) {
        ShowToolkitError(rc == SUCCESS ? ERROR_NO_BITMAP : rc, "Color Resolution");
        return;
    }
    TResolutionDialog dialog(*picture);
    if (dialog.Execute(&view_.Host()) != IDOK) return;
    dialog.ReleaseSource();
    const int bpp = dialog.GetChosenBitsPerPixel();
    const bool gray = dialog.IsGrayscaleChosen();
    const L_UINT dither = dialog.GetDitherFlags(), palette = dialog.GetPaletteFlags();
    const RGBQUAD* user = dialog.GetUserPalette();
    const L_UINT userCount = dialog.GetUserPaletteCount();

    view_.DoCommand(CM_CHANNEL_AGGREGATED);
    if (!data.Checkpoint(true, "Color Resolution")) {
        ShowToolkitError(ERROR_NO_MEMORY, dialog.Caption());
        return;
    }
    view_.InvalidateAll();
    {
        TWaitCursor wait;
        if (bpp <= 8) {
            // One palette from the composite, then every layer mapped onto it, so that the
            // layers can never disagree about their colours.
            if (gray) rc = flat.ConvertToGrayscale();
            if (rc == SUCCESS) rc = flat.ChangeColorDepth(bpp, dither | palette, user, userCount);
            const TLayer* mapped = flat.Layers.At(0);
            if (rc == SUCCESS && (!mapped->pPalette || mapped->BitsPerPixel != bpp))
                rc = ERROR_BITPERPIXEL;
            if (rc == SUCCESS) {
                const std::vector<RGBQUAD> table(mapped->pPalette, mapped->pPalette + (1 << bpp));
                rc = image.ChangeColorDepth(bpp,
                                            ((dither | palette) & 0xFFFFFF90u) | CRF_USERPALETTE,
                                            table.data(), L_UINT(table.size()));
            }
        } else {
            rc = image.CommitChannels(true);
            if (rc == SUCCESS) rc = image.ChangeColorDepth(bpp, dither | palette, user, userCount);
        }
    }
    if (rc != SUCCESS) ShowToolkitError(rc, dialog.Caption());
    data.RebuildPalette();
    view_.UpdateScrollRanges();
    view_.InvalidateAll();
    view_.LayerHandler().Notify(TLayerChange::Rebuild);
}
