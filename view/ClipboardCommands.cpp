#include "ClipboardCommands.h"

#include <memory>

#include "Clipboard.h"
#include "CommandIds.h"
#include "ErrorDisplay.h"
#include "ImageView.h"
#include "OwnedBitmap.h"
#include "SelectionCommands.h"
#include "WaitCursor.h"

void TClipboardCommands::QueryCommand(TCommandEnabler& ce) const {
    TImageData* data = view_.GetImageData();
    switch (ce.Id) {
        case CM_EDITCOPY:
        case CM_EDITCUT:
            // The background alone is the whole picture, not something to carry around.
            ce.Enable(data && data->Image.GetCurrentLayer() &&
                      (view_.HasSelection || data->Image.GetCurrentIndex() > 0));
            break;
        case CM_EDITPASTE:
            ce.Enable(data && (Clipboard().Has(kNativeClipboardMime) ||
                               Clipboard().Has(kPictureClipboardMime)));
            break;
        default: break;
    }
}

bool TClipboardCommands::Command(int id) {
    TCommandEnabler ce(id);
    QueryCommand(ce);
    if (!ce.Handled) return false;
    // A shortcut reaches here without a menu having been opened.
    if (!ce.Enabled) return true;
    switch (id) {
        case CM_EDITCOPY: Copy(); break;
        case CM_EDITCUT: Cut(); break;
        case CM_EDITPASTE: Paste(); break;
        default: break;
    }
    return true;
}

L_INT TClipboardCommands::Picture(const TLayer& layer, std::vector<uint8_t>& png) {
    TLeadBitmapX canvas;
    BITMAPHANDLE b;
    L_INT rc = L_CreateBitmap(&b, TYPE_CONV, layer.Width, layer.Height, layer.BitsPerPixel,
                              ORDER_BGR, layer.pPalette, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    canvas.Adopt(b);
    canvas.LogicalBpp = layer.LogicalBpp;
    const COLORREF colour = BackgroundColour();
    rc = canvas.BitsPerPixel == 32 ? canvas.FillWithAlpha(colour) : L_FillBitmap(&canvas, colour);
    if (rc == SUCCESS)
        rc = L_CombineBitmap(&canvas, 0, 0, layer.Width, layer.Height, &layer, 0, 0, CB_OP_COPY);
    if (rc != SUCCESS) return rc;
    // Other programs get the depth the user sees: a layer shown at 24 bits has no alpha.
    const L_INT bpp =
        canvas.BitsPerPixel == 32 && canvas.LogicalBpp != 32 ? 24 : canvas.BitsPerPixel;
    uint8_t* bytes = nullptr;
    size_t size = 0;
    rc = L_SaveBitmapMemory(&bytes, &canvas, FILE_PNG, bpp, 0, &size);
    TMallocBlock owned(bytes);
    if (rc != SUCCESS) return rc;
    png.assign(bytes, bytes + size);
    return SUCCESS;
}

void TClipboardCommands::Copy() {
    TLayeredImage& image = view_.GetImageData()->Image;
    TWaitCursor wait;
    image.CommitChannels(false);
    TLayer& current = *image.Layers.Current();
    std::unique_ptr<TLayer> part;
    if (view_.HasSelection) {
        const L_INT rc = image.BuildLayerFromSelection(current.X, current.Y, current,
                                                       &view_.SelectionMask, part);
        if (rc != SUCCESS) {
            ShowToolkitError(rc, "Copy to clipboard");
            return;
        }
    }
    TLayer& source = part ? *part : current;
    IClipboard::TFormats formats;
    // A picture that fails is reported, and the layer itself is offered all the same.
    L_INT rc = Picture(source, formats[kPictureClipboardMime]);
    if (rc != SUCCESS) {
        formats.erase(kPictureClipboardMime);
        ShowToolkitError(rc, "Copy to clipboard");
    }
    rc = TLayeredImage::EncodeLayerBlock(source, formats[kNativeClipboardMime]);
    if (rc != SUCCESS) {
        formats.erase(kNativeClipboardMime);
        ShowToolkitError(rc, "Copy to clipboard");
    }
    if (!formats.empty() && !Clipboard().Set(formats))
        ShowToolkitError(ERROR_NO_MEMORY, "Copy to clipboard");
}

void TClipboardCommands::Cut() {
    Copy();
    view_.Command(view_.HasSelection ? int(CM_SELECTION_REMOVE) : int(CM_LAYER_REMOVE));
}

void TClipboardCommands::Paste() {
    TImageData& data = *view_.GetImageData();
    view_.Deselect();
    TWaitCursor wait;
    std::unique_ptr<TLayer> layer;
    L_INT rc;
    if (Clipboard().Has(kNativeClipboardMime)) {
        // The block may come from another process: it is checked as a file would be, and
        // one that does not read whole pastes nothing.
        const std::vector<uint8_t> block = Clipboard().Get(kNativeClipboardMime);
        rc = TLayeredImage::DecodeLayerBlock(block.data(), block.size(), layer);
    } else {
        const std::vector<uint8_t> png = Clipboard().Get(kPictureClipboardMime);
        BITMAPHANDLE b;
        rc = L_LoadBitmapMemory(png.data(), &b, 0, ORDER_BGR, png.size());
        if (rc == SUCCESS) {
            layer = std::make_unique<TLayer>();
            layer->Adopt(b);
            layer->Name = "Pasted Layer";
            rc = layer->NormalizeDepth();
        }
        // What another program offers is a picture or nothing we can use.
        if (rc != SUCCESS) rc = ERROR_NO_MEMORY;
    }
    if (rc == SUCCESS) rc = L_ChangeBitmapViewPerspective(nullptr, layer.get(), 0);
    if (rc != SUCCESS) {
        ShowToolkitError(rc, kAppName);
        return;
    }
    // The pasted layer is new; matching it to the background converts it into a new block.
    if (!data.Checkpoint(true, "Paste From Clipboard", TImageData::TWrites::NewBlocks)) {
        ShowToolkitError(ERROR_NO_MEMORY, kAppName);
        return;
    }
    TLayeredImage& image = data.Image;
    image.CommitChannels(true);
    image.Layers.Append(std::move(layer));
    image.Layers.Seek(image.Count() - 1);
    rc = image.SyncLayerColours();
    data.RebuildPalette();
    view_.LayerHandler().Notify(TLayerChange::Rebuild);
    view_.InvalidateAll();
    if (rc != SUCCESS) ShowToolkitError(rc, kAppName);
}
