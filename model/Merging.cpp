// Combining layers into one: drops, merges, flattening, and duplicating a layer.
//
// Two rules combine a layer onto another bitmap: when both are stored at 32 bits the
// layer is composited "over" with the alpha planes combined, so transparency survives;
// otherwise the layer's pixels (inside its region) replace the destination's.
//
// A combine that fails leaves the stack as it was: no layer is deleted whose pixels did
// not make it into the result.
#include "LayeredImage.h"

#include <algorithm>

#include "Effects.h"

namespace {

// Frees a region handle on scope exit.
struct RgnHolder {
    HRGN h = nullptr;
    ~RgnHolder() { L_DeleteRgn(h); }
};

} // namespace

L_INT TLayeredImage::DropOn(TLayer& dst, const TLayer& src) {
    if (!dst.IsAllocated() || !src.IsAllocated()) return ERROR_NO_BITMAP;
    const int x = src.X - dst.X, y = src.Y - dst.Y;
    if (dst.BitsPerPixel == 32 && src.BitsPerPixel == 32) {
        if (x + src.Width <= 0 || x >= dst.Width || y + src.Height <= 0 || y >= dst.Height)
            return SUCCESS;
        return BlendLayerRect(&dst, x, y, src.Width, src.Height, src, 0, 0, true);
    }
    return L_CombineBitmap(&dst, x, y, src.Width, src.Height, &src, 0, 0, CB_OP_COPY);
}

L_INT TLayeredImage::DropOnBackground() {
    const int cur = GetCurrentIndex();
    if (cur < 1 || cur >= Count()) return ERROR_INV_PARAMETER;
    // In a channel mode the drop happens between the views and is committed with them.
    TLayer* bg = GetBackground();
    TLayer* layer = GetCurrentLayer();
    if (!bg || !layer) return ERROR_NO_BITMAP;
    L_FreeBitmapRgn(bg);
    L_INT rc = DropOn(*bg, *layer);
    if (rc != SUCCESS) return rc;
    CommitChannels(true);
    Layers.Remove(cur);
    Layers.Seek(0);
    return SUCCESS;
}

L_INT TLayeredImage::DropOnLower() {
    const int cur = GetCurrentIndex();
    if (cur == 1) return DropOnBackground();
    if (cur < 2 || cur >= Count()) return ERROR_INV_PARAMETER;
    if (GetEffectiveChannelMode() != CHANNEL_AGGREGATED) {
        TLayer* lower = GetLayer(cur - 1);
        TLayer* upper = GetCurrentLayer();
        if (!lower || !upper) return ERROR_NO_BITMAP;
        L_INT rc = L_CombineBitmap(lower, upper->X - lower->X, upper->Y - lower->Y, upper->Width,
                                   upper->Height, upper, 0, 0, CB_OP_COPY);
        if (rc != SUCCESS) return rc;
        CommitChannels(true);
    } else {
        const TLayer& upper = *Layers.At(cur);
        const TLayer& lower = *Layers.At(cur - 1);
        auto merged = std::make_unique<TLayer>();
        merged->CopyAttributes(lower);
        POINT at{};
        L_INT rc = MergeTwo(*merged, lower, lower.GetRect(), upper, upper.GetRect(), &at);
        if (rc != SUCCESS) return rc;
        merged->X = at.x;
        merged->Y = at.y;
        Layers.Replace(cur - 1, std::move(merged));
    }
    Layers.Remove(cur);
    Layers.Seek(cur - 1);
    return SUCCESS;
}

L_INT TLayeredImage::MergeTwo(TLayer& m, const TLayer& d, const RECT& rd, const TLayer& u,
                              const RECT& ru, POINT* topLeft) {
    if (!d.IsAllocated() || !u.IsAllocated()) return ERROR_NO_BITMAP;
    const RECT r{std::min(rd.left, ru.left), std::min(rd.top, ru.top), std::max(rd.right, ru.right),
                 std::max(rd.bottom, ru.bottom)};
    BITMAPHANDLE fresh;
    L_INT rc = L_CreateBitmap(&fresh, TYPE_CONV, r.right - r.left, r.bottom - r.top, d.BitsPerPixel,
                              ORDER_BGR, d.BitsPerPixel <= 8 ? d.pPalette : nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    m.Adopt(fresh);
    m.LogicalBpp = d.LogicalBpp;
    // Black and, for a layer the user sees at 32 bits, fully transparent.
    if (m.BitsPerPixel == 32 && m.LogicalBpp != 32) m.MakeAlphaOpaque();

    const int dx = rd.left - r.left, dy = rd.top - r.top, ux = ru.left - r.left,
              uy = ru.top - r.top;
    RgnHolder shapeD, shapeU;
    if ((rc = L_GetBitmapRgnHandle(&d, nullptr, &shapeD.h)) != SUCCESS) return rc;
    if ((rc = L_GetBitmapRgnHandle(&u, nullptr, &shapeU.h)) != SUCCESS) return rc;
    L_OffsetRgn(shapeD.h, dx, dy);
    L_OffsetRgn(shapeU.h, ux, uy);

    // The lower layer goes in as it is (alpha included, only inside its shape).
    rc = L_CombineBitmap(&m, dx, dy, d.Width, d.Height, &d, 0, 0, CB_OP_COPY);
    if (rc != SUCCESS) return rc;
    if (m.BitsPerPixel == 32 && d.BitsPerPixel == 32 && u.BitsPerPixel == 32)
        rc = BlendLayerRect(&m, ux, uy, u.Width, u.Height, u, 0, 0, true);
    else
        rc = L_CombineBitmap(&m, ux, uy, u.Width, u.Height, &u, 0, 0, CB_OP_COPY);
    if (rc != SUCCESS) return rc;

    if ((rc = L_CombineRgn(shapeD.h, shapeD.h, shapeU.h, L_RGN_OR)) != SUCCESS) return rc;
    if ((rc = L_SetBitmapRgnHandle(&m, nullptr, shapeD.h, L_RGN_SET)) != SUCCESS) return rc;
    if (m.BitsPerPixel == 32 && (rc = Lx_IntersectBitmapAlphaWithMask(&m)) != SUCCESS) return rc;
    if (topLeft) *topLeft = POINT{r.left, r.top};
    return SUCCESS;
}

L_INT TLayeredImage::MergeAll() {
    if (Count() == 0) return ERROR_NO_BITMAP;
    CommitChannels(true);
    TLayer& bg = *Layers.At(0);
    L_FreeBitmapRgn(&bg);
    L_INT status = SUCCESS;
    // Hidden layers are merged too: this is "all layers".
    while (Count() >= 2) {
        Layers.Seek(1);
        status = DropOn(bg, *Layers.At(1));
        if (status != SUCCESS) break;
        Layers.Remove(1);
    }
    Layers.Seek(0);
    RecomposeAll = true;
    return status;
}

L_INT TLayeredImage::Flatten() { return FlattenLayers(true); }

L_INT TLayeredImage::MergeVisible() { return FlattenLayers(false); }

L_INT TLayeredImage::FlattenLayers(bool hiddenToo) {
    if (Count() == 0) return ERROR_NO_BITMAP;
    CommitChannels(true);
    TLayer& bg = *Layers.At(0);
    if (!bg.IsAllocated()) return ERROR_NO_BITMAP;
    TLayer flat;
    BITMAPHANDLE fresh;
    L_INT rc = L_CreateBitmap(&fresh, TYPE_CONV, bg.Width, bg.Height, bg.BitsPerPixel, ORDER_BGR,
                              bg.BitsPerPixel <= 8 ? bg.pPalette : nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    flat.Adopt(fresh);
    flat.LogicalBpp = bg.LogicalBpp;
    flat.XResolution = bg.XResolution;
    flat.YResolution = bg.YResolution;
    if (flat.BitsPerPixel == 32 && flat.LogicalBpp != 32) flat.MakeAlphaOpaque();
    // Each layer where it is in the image. Merging the visible layers leaves the hidden ones
    // out of the result and keeps them as they are, above it.
    for (int i = 0; i < Count(); ++i) {
        const TLayer& layer = *Layers.At(i);
        if (!layer.IsAllocated() || (!hiddenToo && i > 0 && !layer.Visible)) continue;
        if ((rc = DropOn(flat, layer)) != SUCCESS) return rc;
    }
    for (int i = Count() - 1; i > 0; --i)
        if (hiddenToo || Layers.At(i)->Visible) Layers.Remove(i);
    bg.Adopt(flat);
    bg.LogicalBpp = flat.LogicalBpp;
    bg.X = bg.Y = 0;
    bg.Visible = true;
    Layers.Seek(0);
    RecomposeAll = true;
    return SUCCESS;
}

L_INT TLayeredImage::DuplicateCurrent() {
    const int cur = GetCurrentIndex();
    if (!Layers.At(cur)) return ERROR_NO_BITMAP;
    CommitChannels(true);
    auto copy = std::make_unique<TLayer>();
    L_INT rc = copy->CopyLayer(*Layers.At(cur));
    if (rc != SUCCESS) return rc;
    copy->X += 20;
    copy->Y += 20;
    Layers.Insert(cur + 1, std::move(copy));
    Layers.Seek(cur + 1);
    return SUCCESS;
}
