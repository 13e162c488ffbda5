// Display: the cached composite, its incremental recomposition and painting into a window.
#include "LayeredImage.h"

#include <algorithm>

namespace {

bool IsEmpty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

RECT Intersect(const RECT& a, const RECT& b) {
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

} // namespace

void TLayeredImage::Invalidate(const RECT& rect) {
    if (IsEmpty(rect)) return;
    ++Changes;
    if (IsEmpty(DirtyRect)) {
        DirtyRect = rect;
        return;
    }
    DirtyRect.left = std::min(DirtyRect.left, rect.left);
    DirtyRect.top = std::min(DirtyRect.top, rect.top);
    DirtyRect.right = std::max(DirtyRect.right, rect.right);
    DirtyRect.bottom = std::max(DirtyRect.bottom, rect.bottom);
}

L_INT TLayeredImage::EnsureComposite() {
    TLayer* bg = GetBackground();
    if (!bg || !bg->IsAllocated()) return ERROR_NO_BITMAP;
    // A palette background gives a palette composite; everything else is shown at 32 bits.
    const int depth = bg->BitsPerPixel <= 8 ? bg->BitsPerPixel : 32;
    if (Composite.IsAllocated() && Composite.Width == bg->Width && Composite.Height == bg->Height &&
        Composite.BitsPerPixel == depth)
        return SUCCESS;
    Composite.Free();
    Composite.LogicalBpp = depth;
    BITMAPHANDLE fresh;
    L_INT rc = L_CreateBitmap(&fresh, TYPE_CONV, bg->Width, bg->Height, depth, ORDER_BGR,
                              depth <= 8 ? bg->pPalette : nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    Composite.Adopt(fresh);
    Composite.MakeAlphaOpaque();
    RecomposeAll = true;
    return SUCCESS;
}

L_INT TLayeredImage::Recompose(const TPaintOptions& options, const RECT& full) {
    if (Count() == 0) return SUCCESS;
    L_INT rc = EnsureComposite();
    if (rc != SUCCESS) return rc;
    if (IsEmpty(DirtyRect) && !RecomposeAll) return SUCCESS;

    TLayer* bg = GetBackground();
    L_FreeBitmapRgn(&Composite);
    if (bg->BitsPerPixel <= 8 && bg->pPalette)
        L_PutBitmapColors(&Composite, 0, L_INT(bg->nColors), bg->pPalette);

    // The stale area in composite coordinates.
    RECT area = RecomposeAll ? full : DirtyRect;
    area = Intersect(RECT{area.left - full.left, area.top - full.top, area.right - full.left,
                          area.bottom - full.top},
                     RECT{0, 0, Composite.Width, Composite.Height});
    DirtyRect = RECT{};
    RecomposeAll = false;
    if (IsEmpty(area)) return SUCCESS;

    // The view colour shows wherever no visible layer covers the image. The composite is
    // a picture for the screen, so it is opaque.
    rc = L_SetBitmapRgnRect(&Composite, nullptr, &area, L_RGN_SET);
    const COLORREF fill =
        Composite.BitsPerPixel == 32 ? (ViewBackground & 0xFFFFFFu) | 0xFF000000u : ViewBackground;
    if (rc == SUCCESS) rc = Composite.FillWithAlpha(fill);
    L_FreeBitmapRgn(&Composite);
    if (rc != SUCCESS) return rc;

    const POINT origin{-full.left, -full.top};
    if (options.CurrentLayerAlone) {
        TLayer* cur = GetCurrentLayer();
        return cur ? cur->CombineInto(&Composite, area, origin) : ERROR_NO_BITMAP;
    }
    L_INT status = SUCCESS;
    for (int i = 0; i < Count(); ++i) {
        // Decide on visibility before asking for a channel view, which may separate.
        const TLayer* peek = ExistingViewOrLayer(i);
        if (!peek || !peek->Visible) continue;
        TLayer* layer = GetLayer(i);
        if (!layer) continue;
        rc = layer->CombineInto(&Composite, area, origin);
        if (rc != SUCCESS && status == SUCCESS) status = rc;
    }
    return status;
}

void TLayeredImage::Paint(HDC dc, const RECT& paintRect, const RECT& imageRect,
                          const TPaintOptions& options) {
    if (!dc || Count() == 0) return;
    TLayer* bg = GetBackground();
    TLayer* cur = GetCurrentLayer();
    if (!bg || !cur || bg->Width <= 0) return;
    const long double zoom = (long double)(imageRect.right - imageRect.left) / bg->Width;

    if (options.PaintImage) {
        TDCStateGuard guard(dc);
        // The backing store is true colour, so a display palette needs no realising here;
        // options.Palette and options.BackgroundPalette matter only to palette screens.
        Recompose(options, RECT{0, 0, bg->Width, bg->Height});
        if (Composite.IsAllocated())
            L_PaintDC(dc, &Composite, nullptr, nullptr, &imageRect, &paintRect, SRCCOPY);
        dc->ExcludeClipRect(imageRect);
        dc->FillRect(paintRect, LBRUSH{BS_SOLID, ViewBackground});
    }

    if (options.SuppressOverlays) return;
    const int current = GetCurrentIndex();
    if (options.ShowOtherOutlines) {
        for (int i = 1; i < Count(); ++i) {
            if (i == current) continue;
            if (const TLayer* layer = ExistingViewOrLayer(i))
                layer->DrawOutline(dc, zoom, imageRect, 0);
        }
    }
    if (current != 0) {
        if (options.ShowCurrentOutline) cur->DrawOutline(dc, zoom, imageRect, options.FrameStyle);
        if (options.ShowTransformFrame) cur->DrawTransformFrame(dc, zoom, imageRect);
    }
}
