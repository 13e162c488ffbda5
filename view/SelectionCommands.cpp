#include "SelectionCommands.h"

#include <cstring>

#include "CommandIds.h"
#include "Effects.h"
#include "ErrorDisplay.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "MagicWand.h"
#include "Rect.h"
#include "WaitCursor.h"

COLORREF BackgroundColour() {
    TImageDocManager* manager = TImageDocManager::Instance();
    return manager && manager->BackgroundColor ? manager->BackgroundColor() & 0xFFFFFF
                                               : RGB(255, 255, 255);
}

namespace {

// An empty 1-bit mask of the given size, every bit clear.
L_INT BlankMask(TLeadBitmap& mask, int width, int height) {
    BITMAPHANDLE b;
    const L_INT rc = L_CreateBitmap(&b, TYPE_CONV, width, height, 1, ORDER_BGR, nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    mask.Adopt(b);
    for (int y = 0; y < height; ++y) std::memset(L_RowPtr(&mask, y), 0, size_t(mask.BytesPerLine));
    return SUCCESS;
}

} // namespace

// ---------------------------------------------------------------------------

TSelectionAsRegion::TSelectionAsRegion(const TImageView& view, TLayer& target) : target_(target) {
    if (!view.HasSelection || !view.SelectionMask.IsAllocated() || !target.IsAllocated()) return;
    hadRegion_ = L_BitmapHasRgn(&target) > 0;
    if (hadRegion_ && L_GetBitmapRgnHandle(&target, nullptr, &saved_) != SUCCESS) return;
    RGNXFORM xf;
    xf.nXOffset = -target.X;
    xf.nYOffset = -target.Y;
    applied_ = L_SetBitmapRgnFromMask(&target, &xf, &view.SelectionMask,
                                      hadRegion_ ? L_RGN_AND : L_RGN_SET) == SUCCESS;
    if (!applied_) {
        // Half applied is worse than not at all: the caller would change the whole layer.
        if (hadRegion_)
            L_SetBitmapRgnHandle(&target, nullptr, saved_, L_RGN_SET);
        else
            L_FreeBitmapRgn(&target);
    }
}

TSelectionAsRegion::~TSelectionAsRegion() {
    if (applied_) {
        if (hadRegion_)
            L_SetBitmapRgnHandle(&target_, nullptr, saved_, L_RGN_SET);
        else
            L_FreeBitmapRgn(&target_);
    }
    if (saved_) L_DeleteRgn(saved_);
}

// ---------------------------------------------------------------------------

void TSelectionCommands::QueryCommand(TCommandEnabler& ce) const {
    switch (ce.Id) {
        case CM_SELECTION_EXPAND:
        case CM_SELECTION_INVERT:
        case CM_SELECTION_DESELECT:
        case CM_SELECTION_REMOVE:
        case CM_SELECTION_CLEAR:
        case CM_SELECTION_TO_LAYER:
        case CM_SELECTION_CUT_TO_LAYER:
            ce.Enable(view_.HasSelection && view_.GetImageData() &&
                      view_.GetImageData()->Image.GetCurrentLayer());
            break;
        default: break;
    }
}

bool TSelectionCommands::Command(int id) {
    TCommandEnabler ce(id);
    QueryCommand(ce);
    if (!ce.Handled) return false;
    // A shortcut reaches here without a menu having been opened.
    if (!ce.Enabled) return true;
    switch (id) {
        case CM_SELECTION_EXPAND: Expand(); break;
        case CM_SELECTION_INVERT: Invert(); break;
        case CM_SELECTION_DESELECT: view_.Deselect(); break;
        case CM_SELECTION_REMOVE:
            if (Clear()) view_.Deselect();
            break;
        case CM_SELECTION_CLEAR: Clear(); break;
        case CM_SELECTION_TO_LAYER:
            if (CopyToLayer()) view_.Deselect();
            break;
        case CM_SELECTION_CUT_TO_LAYER: CutOutToLayer(); break;
        default: break;
    }
    return true;
}

bool TSelectionCommands::Record(const char* name, bool writesCurrent) {
    TImageData& data = *view_.GetImageData();
    if (writesCurrent ? data.CheckpointCurrentLayer(name)
                      : data.Checkpoint(true, name, TImageData::TWrites::NewBlocks))
        return true;
    ShowToolkitError(ERROR_NO_MEMORY, kAppName);
    return false;
}

void TSelectionCommands::Expand() {
    TImageData& data = *view_.GetImageData();
    TLayer& target = *data.Image.GetCurrentLayer();
    TLeadBitmap& selection = view_.SelectionMask;
    const double tolerance = view_.ToolOptions.Tolerance * 0.01;
    TWaitCursor wait;
    L_INT rc;
    if (data.Image.GetCurrentIndex() == 0) {
        rc = MagicWandBitmap(&target, &selection, tolerance, -1, -1, nullptr, MAGICWAND_CONNECTED);
    } else {
        // The wand works in the layer's own pixels: the selection under the layer grows
        // there, and what it adds on the canvas goes back into the selection.
        TLeadBitmap part;
        rc = BlankMask(part, target.Width, target.Height);
        const RECT on =
            IntersectRect(target.GetRect(), RECT{0, 0, selection.Width, selection.Height});
        const bool overlaps = !IsEmptyRect(on);
        if (rc == SUCCESS && overlaps)
            rc = L_CombineBitmap(&part, on.left - target.X, on.top - target.Y, on.right - on.left,
                                 on.bottom - on.top, &selection, on.left, on.top, CB_OP_COPY);
        if (rc == SUCCESS)
            rc = MagicWandBitmap(&target, &part, tolerance, -1, -1, nullptr, MAGICWAND_CONNECTED);
        if (rc == SUCCESS && overlaps)
            rc =
                L_CombineBitmap(&selection, on.left, on.top, on.right - on.left, on.bottom - on.top,
                                &part, on.left - target.X, on.top - target.Y, CB_OP_OR);
    }
    if (rc != SUCCESS) ShowToolkitError(rc, kAppName);
    view_.ClipSelectionToLayer();
    view_.InvalidateAll();
}

void TSelectionCommands::Invert() {
    Lx_InvertBitmap(&view_.SelectionMask);
    // Outside the layer is nothing to select; an inversion that leaves nothing deselects.
    view_.ClipSelectionToLayer();
    view_.InvalidateAll();
}

bool TSelectionCommands::Clear() {
    TImageData& data = *view_.GetImageData();
    TWaitCursor wait;
    if (!Record("Clear Selection", true)) return false;
    TLayer& target = *data.Image.GetCurrentLayer();
    const COLORREF colour = BackgroundColour();
    L_INT rc = ERROR_INV_PARAMETER;
    {
        TSelectionAsRegion region(view_, target);
        if (region.Applied()) {
            if (target.BitsPerPixel != 32)
                rc = L_FillBitmap(&target, colour);
            else if (target.LogicalBpp == 32)
                rc = target.FillWithAlpha(colour); // alpha 0: the pixels become transparent
            else
                // The user sees no alpha at this depth: the pixels take the colour, as they
                // would in the saved file, instead of opening a hole in the layer.
                rc = target.FillWithAlpha(colour | 0xFF000000);
        }
    }
    data.RebuildPalette();
    view_.UpdateScrollRanges();
    view_.InvalidateAll();
    view_.LayerHandler().Notify(TLayerChange::Repaint);
    if (rc != SUCCESS) {
        ShowToolkitError(rc, kAppName);
        return false;
    }
    return true;
}

bool TSelectionCommands::CopyToLayer() {
    TImageData& data = *view_.GetImageData();
    if (!Record("Copy Selection To Layer", false)) return false;
    TLayeredImage& image = data.Image;
    image.CommitChannels(false);
    const TLayer& source = *image.Layers.Current();
    const L_INT rc =
        image.CreateLayerFromSelection(source.X, source.Y, source, &view_.SelectionMask);
    if (rc != SUCCESS) {
        ShowToolkitError(rc, kAppName);
        return false;
    }
    data.RebuildPalette();
    view_.LayerHandler().Notify(TLayerChange::Rebuild);
    view_.InvalidateAll();
    return true;
}

void TSelectionCommands::CutOutToLayer() {
    TLayeredImage& image = view_.GetImageData()->Image;
    const int source = image.GetCurrentIndex();
    // Copy first and keep the selection for the clear; nothing is cleared when the copy
    // could not be made, so no pixels are lost.
    if (!CopyToLayer()) return;
    image.SetCurrent(source);
    if (Clear()) view_.Deselect();
    image.SetCurrent(source + 1);
    view_.LayerHandler().Notify(TLayerChange::Rebuild);
    view_.InvalidateAll();
}
