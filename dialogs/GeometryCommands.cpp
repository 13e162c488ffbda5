#include "GeometryCommands.h"

#include <algorithm>
#include <cstring>

#include "CommandIds.h"
#include "Effects.h"
#include "ErrorDisplay.h"
#include "ImageView.h"
#include "ResizeDialog.h"
#include "RotateDialog.h"
#include "SelectionCommands.h"
#include "WaitCursor.h"

namespace {

bool IsGeometryCommand(int id) {
    switch (id) {
        case CM_IMAGE_RESIZE:
        case CM_IMAGE_RESIZE_CANVAS:
        case CM_IMAGE_CROP:
        case CM_LAYER_NEW:
        case CM_LAYER_RESIZE:
        case CM_LAYER_ROTATE: return true;
        default: return false;
    }
}

// Fills the layer's pixels outside its region with an opaque colour (at 8 bits or less the
// nearest palette entry).
L_INT FillOutsideRegion(TLayer& layer, COLORREF colour) {
    HRGN shape = nullptr;
    L_INT rc = L_GetBitmapRgnHandle(&layer, nullptr, &shape);
    if (rc != SUCCESS) return rc;
    rc = L_SetBitmapRgnHandle(&layer, nullptr, shape, L_RGN_SETNOT);
    RECT outside{};
    if (rc == SUCCESS) rc = L_GetBitmapRgnBounds(&layer, nullptr, &outside);
    // An empty region would read as no region at all, and the fill would take everything.
    if (rc == SUCCESS && outside.left < outside.right && outside.top < outside.bottom)
        rc = layer.BitsPerPixel == 32 ? layer.FillWithAlpha(colour | 0xFF000000)
                                      : L_FillBitmap(&layer, colour);
    const L_INT back = L_SetBitmapRgnHandle(&layer, nullptr, shape, L_RGN_SET);
    L_DeleteRgn(shape);
    return rc != SUCCESS ? rc : back;
}

// A bitmap for a whole new background or layer in the background's colour class: its
// storage depth, and its colour table at 8 bits or less.
L_INT NewLike(const TLayer& background, int width, int height, TLayer& out) {
    BITMAPHANDLE b;
    const bool palette = background.BitsPerPixel <= 8;
    L_INT rc = L_CreateBitmap(&b, TYPE_CONV, width, height, palette ? background.BitsPerPixel : 32,
                              ORDER_BGR, palette ? background.pPalette : nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    out.Adopt(b);
    out.LogicalBpp = background.LogicalBpp;
    out.XResolution = background.XResolution;
    out.YResolution = background.YResolution;
    return out.MakeAlphaOpaque();
}

// Copies src into dst at (x, y), the parts outside dst left out. 32-bit pixels travel with
// their alpha; other depths are the same (both take the background's palette).
L_INT CopyClipped(TLayer& dst, const TLayer& src, int x, int y) {
    const int x0 = std::max(0, x), y0 = std::max(0, y);
    const int x1 = std::min(dst.Width, x + src.Width), y1 = std::min(dst.Height, y + src.Height);
    if (x0 >= x1 || y0 >= y1) return SUCCESS;
    if (dst.BitsPerPixel == 32 && src.BitsPerPixel == 32) {
        for (int row = y0; row < y1; ++row)
            std::memcpy(L_RowPtr(&dst, row) + size_t(x0) * 4,
                        L_RowPtr(&src, row - y) + size_t(x0 - x) * 4, size_t(x1 - x0) * 4);
        return SUCCESS;
    }
    return L_CombineBitmap(&dst, x0, y0, x1 - x0, y1 - y0, &src, x0 - x, y0 - y, CB_OP_COPY);
}

} // namespace

L_INT CropCurrentLayer(TLayeredImage& image, HRGN keep, COLORREF fill) {
    TLayer& layer = *image.Layers.Current();
    RECT bounds{};
    L_INT rc = L_SetBitmapRgnHandle(&layer, nullptr, keep, L_RGN_SET);
    if (rc == SUCCESS) rc = layer.CropToRegion(&bounds);
    // A selection over the whole layer leaves its pixel block in place, and the undo step
    // may hold that block too.
    if (rc == SUCCESS) rc = L_UnshareBitmap(&layer);
    if (rc == SUCCESS) {
        layer.X += bounds.left;
        layer.Y += bounds.top;
        rc = FillOutsideRegion(layer, fill);
    }
    if (rc == SUCCESS && image.GetCurrentIndex() == 0) {
        // The background goes back to the origin and every layer with it, so that each
        // stays over the picture it covered; the canvas is now the selection's bounds.
        const int dx = layer.X, dy = layer.Y;
        for (int i = 0; i < image.Count(); ++i) {
            image.Layers.At(i)->X -= dx;
            image.Layers.At(i)->Y -= dy;
        }
        L_FreeBitmapRgn(&layer);
    } else if (rc == SUCCESS && layer.LogicalBpp == 32) {
        rc = Lx_IntersectBitmapAlphaWithMask(&layer);
    }
    layer.GrayState = -1;
    image.RecomposeAll = true;
    return rc;
}

void TGeometryCommands::CommandEnable(TCommandEnabler& ce) {
    if (!IsGeometryCommand(ce.Id)) return;
    TImageData* data = view_.GetImageData();
    const bool image =
        data && data->Image.GetCurrentLayer() && data->Image.GetCurrentLayer()->IsAllocated();
    ce.Enable(image && (ce.Id != CM_IMAGE_CROP || view_.HasSelection));
}

bool TGeometryCommands::Command(int id) {
    if (!IsGeometryCommand(id)) return false;
    TCommandEnabler ce(id);
    CommandEnable(ce);
    if (!ce.Enabled) return true;
    TLayeredImage& image = view_.GetImageData()->Image;
    IWindowHost* host = &view_.Host();
    L_INT rc = SUCCESS;
    switch (id) {
        case CM_IMAGE_RESIZE:
        case CM_LAYER_RESIZE: {
            const TLayer& of =
                id == CM_IMAGE_RESIZE ? *image.GetBackground() : *image.GetCurrentLayer();
            TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZE);
            ResetResizeTransfer(t);
            TResizeDialog dialog(of.Width, of.Height, of.XResolution, of.YResolution, IDD_RESIZE,
                                 t);
            int w = 0, h = 0;
            if (dialog.Execute(host) != IDOK ||
                !ReadSizeTransfer(t, of.XResolution, of.YResolution, w, h))
                return true;
            const L_UINT how = ReadResamplingTransfer(t);
            rc = id == CM_IMAGE_RESIZE ? ResizeImage(w, h, how) : ResizeLayer(w, h, how);
            break;
        }
        case CM_IMAGE_RESIZE_CANVAS: {
            const TLayer& bg = *image.GetBackground();
            TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZECANVAS);
            ResetResizeCanvasTransfer(t);
            TResizeCanvasDialog dialog(bg.Width, bg.Height, bg.XResolution, bg.YResolution,
                                       IDD_RESIZECANVAS, t);
            int w = 0, h = 0;
            if (dialog.Execute(host) != IDOK ||
                !ReadSizeTransfer(t, bg.XResolution, bg.YResolution, w, h))
                return true;
            rc = ResizeCanvas(w, h, t.Horizontal.Selection, t.Vertical.Selection);
            break;
        }
        case CM_IMAGE_CROP: rc = Crop(); break;
        case CM_LAYER_NEW: {
            constexpr int kSize = 100, kResolution = 72;
            TResizeTransfer& t = SizeDialogTransfer(IDD_NEWLAYER);
            ResetNewLayerTransfer(t);
            TNewFilePropsDialog dialog(kSize, kSize, kResolution, kResolution, IDD_NEWLAYER, t);
            int w = 0, h = 0;
            if (dialog.Execute(host) != IDOK ||
                !ReadSizeTransfer(t, kResolution, kResolution, w, h))
                return true;
            rc = NewLayer(w, h);
            break;
        }
        case CM_LAYER_ROTATE: {
            view_.Deselect();
            LeaveChannelMode();
            TLayer& target = *image.GetCurrentLayer();
            TRotateDialog dialog(target, BackgroundColour(), 0.0);
            const int result = dialog.Execute(host);
            dialog.ReleaseSource();
            if (result != IDOK || dialog.Angle() == 0) return true;
            rc = RotateLayer(dialog.Angle());
            break;
        }
        default: break;
    }
    if (rc != SUCCESS) ShowToolkitError(rc, kAppName);
    return true;
}

bool TGeometryCommands::HasImage() const {
    const TImageData* data = view_.GetImageData();
    return data && data->Image.Count() > 0 && data->Image.Layers.At(0)->IsAllocated();
}

void TGeometryCommands::Refresh() {
    view_.GetImageData()->RebuildPalette();
    view_.UpdateScrollRanges();
    view_.InvalidateAll();
    view_.LayerHandler().Notify(TLayerChange::Rebuild);
}

void TGeometryCommands::LeaveChannelMode() {
    if (view_.GetImageData()->Image.GetChannelMode() != CHANNEL_AGGREGATED)
        view_.Command(CM_CHANNEL_AGGREGATED);
}

L_INT TGeometryCommands::ResizeImage(int width, int height, L_UINT resampling) {
    if (!HasImage()) return ERROR_NO_BITMAP;
    LeaveChannelMode();
    TWaitCursor wait;
    // The selection is a mask of the old canvas' size.
    view_.Deselect();
    const bool done = view_.GetDocument().Resize(width, height, resampling);
    Refresh();
    return done ? SUCCESS : ERROR_NO_MEMORY;
}

L_INT TGeometryCommands::ResizeCanvas(int width, int height, int horizontalAnchor,
                                      int verticalAnchor) {
    if (!HasImage()) return ERROR_NO_BITMAP;
    LeaveChannelMode();
    TImageData& data = *view_.GetImageData();
    TLayeredImage& image = data.Image;
    TLayer& bg = *image.Layers.At(0);
    const int x = CanvasOffset(horizontalAnchor, width, bg.Width);
    const int y = CanvasOffset(verticalAnchor, height, bg.Height);
    TWaitCursor wait;
    // The new canvas is made before anything changes: a size the memory cannot hold leaves
    // the image and its history as they were.
    TLayer canvas;
    L_INT rc = NewLike(bg, width, height, canvas);
    if (rc != SUCCESS) return rc;
    const COLORREF colour = BackgroundColour();
    // The uncovered canvas shows the background colour. Only an image whose depth carries
    // transparency gets a transparent border instead.
    rc = canvas.BitsPerPixel != 32 ? L_FillBitmap(&canvas, colour)
         : bg.LogicalBpp == 32     ? canvas.FillWithAlpha(colour)
                                   : canvas.FillWithAlpha(colour | 0xFF000000);
    if (rc == SUCCESS) rc = CopyClipped(canvas, bg, x, y);
    if (rc != SUCCESS) return rc;
    if (!data.Checkpoint(true, "Resize Canvas", TImageData::TWrites::NewBlocks))
        return ERROR_NO_MEMORY;
    view_.Deselect();
    bg.Adopt(canvas);
    bg.GrayState = -1;
    // The other layers move with the picture they were placed on.
    for (int i = 1; i < image.Count(); ++i) {
        image.Layers.At(i)->X += x;
        image.Layers.At(i)->Y += y;
    }
    image.RecomposeAll = true;
    Refresh();
    return SUCCESS;
}

L_INT TGeometryCommands::Crop() {
    if (!HasImage()) return ERROR_NO_BITMAP;
    TImageData& data = *view_.GetImageData();
    TLayeredImage& image = data.Image;
    image.CommitChannels(false);
    TLayer& layer = *image.Layers.Current();
    if (!view_.HasSelection || !view_.SelectionMask.IsAllocated()) return SUCCESS;
    TWaitCursor wait;
    // The part of the selection over the layer, within the layer's own shape when it has
    // one (what lies outside that shape stays hidden), worked out before anything changes:
    // a selection beside the layer would crop it to nothing, and then nothing happens.
    HRGN shape = nullptr, kept = nullptr;
    const bool hadShape = L_BitmapHasRgn(&layer) > 0;
    L_INT rc = hadShape ? L_GetBitmapRgnHandle(&layer, nullptr, &shape) : SUCCESS;
    if (rc != SUCCESS) return rc;
    RGNXFORM xf;
    xf.nXOffset = -layer.X;
    xf.nYOffset = -layer.Y;
    rc =
        L_SetBitmapRgnFromMask(&layer, &xf, &view_.SelectionMask, hadShape ? L_RGN_AND : L_RGN_SET);
    RECT bounds{};
    if (rc == SUCCESS) rc = L_GetBitmapRgnBounds(&layer, nullptr, &bounds);
    const bool empty = bounds.left >= bounds.right || bounds.top >= bounds.bottom;
    if (rc == SUCCESS && !empty) rc = L_GetBitmapRgnHandle(&layer, nullptr, &kept);
    if (hadShape)
        L_SetBitmapRgnHandle(&layer, nullptr, shape, L_RGN_SET);
    else
        L_FreeBitmapRgn(&layer);
    if (shape) L_DeleteRgn(shape);
    if (rc != SUCCESS || empty) return rc;

    if (!data.Checkpoint(true, "Crop", TImageData::TWrites::NewBlocks)) {
        L_DeleteRgn(kept);
        return ERROR_NO_MEMORY;
    }
    view_.Deselect();
    rc = CropCurrentLayer(image, kept, BackgroundColour());
    L_DeleteRgn(kept);
    Refresh();
    return rc;
}

L_INT TGeometryCommands::NewLayer(int width, int height) {
    if (!HasImage()) return ERROR_NO_BITMAP;
    TImageData& data = *view_.GetImageData();
    TLayeredImage& image = data.Image;
    view_.Deselect();
    TWaitCursor wait;
    auto layer = std::make_unique<TLayer>();
    L_INT rc = NewLike(*image.Layers.At(0), width, height, *layer);
    if (rc != SUCCESS) return rc;
    // At 32 bits the colour's empty top byte goes into the alpha: the new layer is clear.
    rc = layer->BitsPerPixel == 32 ? layer->FillWithAlpha(BackgroundColour())
                                   : L_FillBitmap(layer.get(), BackgroundColour());
    if (rc != SUCCESS) return rc;
    layer->Name = "Layer";
    if (!data.Checkpoint(true, "Create Layer", TImageData::TWrites::NewBlocks))
        return ERROR_NO_MEMORY;
    image.CommitChannels(true);
    image.Layers.Append(std::move(layer));
    image.SetCurrent(image.Count() - 1);
    Refresh();
    return SUCCESS;
}

L_INT TGeometryCommands::ResizeLayer(int width, int height, L_UINT resampling) {
    if (!HasImage()) return ERROR_NO_BITMAP;
    LeaveChannelMode();
    TImageData& data = *view_.GetImageData();
    TLayeredImage& image = data.Image;
    TWaitCursor wait;
    if (!data.Checkpoint(true, "Resize Layer", TImageData::TWrites::NewBlocks))
        return ERROR_NO_MEMORY;
    TLayer& layer = *image.GetCurrentLayer();
    const bool background = image.GetCurrentIndex() == 0;
    // A new background size is a new canvas: the selection no longer fits it.
    if (background) view_.Deselect();
    L_INT rc = layer.Resample(width, height, resampling);
    // Resampling softens the alpha across the shape's edge; outside the shape stays clear.
    if (rc == SUCCESS && !background && layer.BitsPerPixel == 32)
        rc = Lx_IntersectBitmapAlphaWithMask(&layer);
    image.RecomposeAll = true;
    Refresh();
    return rc;
}

L_INT TGeometryCommands::RotateLayer(int tenths) {
    if (!HasImage()) return ERROR_NO_BITMAP;
    if (tenths % 3600 == 0) return SUCCESS;
    LeaveChannelMode();
    view_.Deselect();
    TImageData& data = *view_.GetImageData();
    TLayeredImage& image = data.Image;
    TWaitCursor wait;
    if (!data.Checkpoint(true, "Rotate Layer", TImageData::TWrites::NewBlocks))
        return ERROR_NO_MEMORY;
    TLayer& layer = *image.GetCurrentLayer();
    // Both rotations take hundredths of a degree (whole turns left out, which cannot
    // overflow).
    const L_INT angle = (tenths % 3600) * 10;
    L_INT rc;
    if (image.GetCurrentIndex() == 0) {
        rc = Lx_RotateBitmapFine(&layer, angle, LX_ROTATE_GROW, BackgroundColour());
        if (rc == SUCCESS) L_FreeBitmapRgn(&layer);
    } else {
        const int w = layer.Width, h = layer.Height;
        rc = SUCCESS;
        // A palette layer has no alpha to hide the corners the turn uncovers; its shape
        // does that, so a layer without one gets its rectangle first.
        if (layer.BitsPerPixel <= 8 && L_BitmapHasRgn(&layer) <= 0) {
            const RECT all{0, 0, w, h};
            rc = L_SetBitmapRgnRect(&layer, nullptr, &all, L_RGN_SET);
        }
        if (rc == SUCCESS) rc = L_RotateBitmap(&layer, angle, ROTATE_RESIZE);
        if (rc == SUCCESS) {
            // The layer turns about its centre.
            layer.X -= (layer.Width - w) / 2;
            layer.Y -= (layer.Height - h) / 2;
        }
    }
    layer.GrayState = -1;
    image.RecomposeAll = true;
    Refresh();
    return rc;
}
