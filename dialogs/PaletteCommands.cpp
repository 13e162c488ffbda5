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

L_INT ChangeLayeredDepth(TLayeredImage& image, TLayeredImage& flat, const TDepthChoice& c) {
    const L_UINT flags = c.Dither | c.Palette;
    if (c.Bpp > 8) return image.ChangeColorDepth(c.Bpp, flags, c.UserPalette, c.UserColors);
    L_INT rc = c.Gray ? flat.ConvertToGrayscale() : SUCCESS;
    // Only the merged copy's palette is wanted, and the palette does not depend on the
    // dithering: its pixels need not be dithered.
    if (rc == SUCCESS)
        rc = flat.ChangeColorDepth(c.Bpp, flags & ~L_UINT(CRF_DITHERMASK), c.UserPalette,
                                   c.UserColors);
    const TLayer* mapped = flat.Layers.At(0);
    if (rc == SUCCESS && (!mapped || !mapped->pPalette || mapped->BitsPerPixel != c.Bpp))
        rc = ERROR_BITPERPIXEL;
    if (rc != SUCCESS) return rc;
    const std::vector<RGBQUAD> table(mapped->pPalette, mapped->pPalette + (1 << c.Bpp));
    // The palette kind has been chosen already; the dithering method still applies.
    return image.ChangeColorDepth(c.Bpp, (flags & 0xFFFFFF90u) | CRF_USERPALETTE, table.data(),
                                  L_UINT(table.size()));
}

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
    const TDepthChoice choice{dialog.GetChosenBitsPerPixel(), dialog.IsGrayscaleChosen(),
                              dialog.GetDitherFlags(),        dialog.GetPaletteFlags(),
                              dialog.GetUserPalette(),        dialog.GetUserPaletteCount()};

    view_.DoCommand(CM_CHANNEL_AGGREGATED);
    // Every layer is converted into a new block.
    if (!data.Checkpoint(true, "Color Resolution", TImageData::TWrites::NewBlocks)) {
        ShowToolkitError(ERROR_NO_MEMORY, dialog.Caption());
        return;
    }
    view_.InvalidateAll();
    {
        TWaitCursor wait;
        rc = ChangeLayeredDepth(image, flat, choice);
    }
    if (rc != SUCCESS) ShowToolkitError(rc, dialog.Caption());
    data.RebuildPalette();
    view_.UpdateScrollRanges();
    view_.InvalidateAll();
    view_.LayerHandler().Notify(TLayerChange::Rebuild);
}
