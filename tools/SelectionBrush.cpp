// The shapes that paint into the mask as the mouse goes, without a rubber band: the
// selection retoucher and the magic wand.
#include <algorithm>

#include "ImageData.h"
#include "MagicWand.h"
#include "LeadBitmap.h"
#include "OwnedBitmap.h"
#include "Selection.h"
#include "SelectionInternal.h"

using namespace selection;

// ---------------------------------------------------------------------------
// Retoucher: exactly one segment is kept, from the previous mouse position to the newest.

TBrushSelection::TBrushSelection(int width, double zoom, int originX, int originY)
    : TXSelection(zoom, originX, originY), width_(std::max(width, 1)) {}

bool TBrushSelection::AddPoint(int x, int y, bool) {
    const POINT p{x, y};
    if (Count == 0) {
        Points[0] = p;
    } else if (Count == 2) {
        Points[0] = Points[1];
    }
    Points[1] = p;
    Count = std::min(Count + 1, 2);
    return true;
}

RECT TBrushSelection::GetBounds() const {
    const POINT p = Count > 0 ? Points[0] : POINT{};
    return RECT{p.x, p.y, p.x, p.y};
}

L_INT TBrushSelection::Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) {
    if (!IsMaskPair(mask, outline) || combine < 0 || combine > 3 || Count == 0)
        return ERROR_INV_PARAMETER;
    const POINT a = Points[0], b = Points[1];
    const bool adds = combine % 2 == 0;
    HDC dc = L_CreateLeadDC(&mask);
    if (!dc) return ERROR_NO_BITMAP;
    dc->SelectPen(LPEN{PS_SOLID, width_, RGB(255, 255, 255)});
    dc->SetROP2(adds ? R2_WHITE : R2_BLACK);
    if (width_ == 1 && a.x == b.x && a.y == b.y) {
        // A one-pixel line from a point to itself draws nothing; a dab still has to mark
        // the pixel under the brush.
        dc->SetPixel(a.x, a.y, PALETTEINDEX(adds ? 1 : 0));
    } else {
        dc->MoveTo(a.x, a.y);
        dc->LineTo(b.x, b.y);
    }
    dc->SelectPen(kBlackPen);
    const L_INT rc = L_DeleteLeadDC(dc);
    if (rc != SUCCESS) return rc;
    const RECT seg{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
    return Finish(mask, outline, Inflate(seg, width_ + 1), 1, dirty);
}

// ---------------------------------------------------------------------------
// Magic wand.

TMagicWandSelection::TMagicWandSelection(TImageData& data, int tolerance, double zoom, int originX,
                                         int originY)
    : TXSelection(zoom, originX, originY),
      tolerance_(tolerance),
      layer_(nullptr),
      layerX_(0),
      layerY_(0) {
    if (const TLayer* layer = data.Image.GetCurrentLayer()) {
        layer_ = layer;
        layerX_ = layer->X;
        layerY_ = layer->Y;
    }
}

bool TMagicWandSelection::AddPoint(int x, int y, bool) {
    Points[0] = POINT{x, y};
    Count = 1;
    seed_ = POINT{x - layerX_, y - layerY_};
    return true;
}

// The click in image coordinates.
RECT TMagicWandSelection::GetBounds() const {
    const POINT p = Count > 0 ? Points[0] : POINT{};
    return RECT{p.x, p.y, p.x, p.y};
}

L_INT TMagicWandSelection::Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine,
                                 RECT* dirty) {
    if (dirty) *dirty = RECT{};
    if (!IsMaskPair(mask, outline) || combine < 0 || combine > 3) return ERROR_INV_PARAMETER;
    if (Count == 0 || !layer_ || !layer_->Flags.Allocated || seed_.x < 0 ||
        seed_.x >= layer_->Width || seed_.y < 0 || seed_.y >= layer_->Height)
        return SUCCESS; // a click beside the layer selects nothing

    // The wand's area is found before the mask is touched, so that a failure leaves the
    // selection as it was.
    TOwnedBitmap area;
    L_INT rc = L_CreateBitmap(area.get(), TYPE_CONV, layer_->Width, layer_->Height, 1, ORDER_BGR,
                              nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    RECT found{};
    rc = MagicWandBitmap(layer_, area.get(), tolerance_ * 0.01, seed_.x, seed_.y, &found,
                         MAGICWAND_CONNECTED);
    if (rc != SUCCESS) return rc;

    if (combine == SELECT_REPLACE) {
        rc = L_FillBitmap(&mask, PALETTEINDEX(0));
        if (rc != SUCCESS) return rc;
    }
    const L_UINT op = combine == SELECT_OUTSIDE    ? CB_OP_NOTSRC
                      : combine == SELECT_SUBTRACT ? CB_OP_ANDNOTSRC
                                                   : CB_OP_OR;
    rc = L_CombineBitmap(&mask, layerX_, layerY_, area->Width, area->Height, area.get(), 0, 0, op);
    if (rc != SUCCESS) return rc;

    const RECT changed = combine == SELECT_REPLACE || combine == SELECT_OUTSIDE
                             ? WholeMask(mask)
                             : RECT{found.left + layerX_, found.top + layerY_,
                                    found.right + layerX_, found.bottom + layerY_};
    return Finish(mask, outline, Inflate(changed, 1), 1, dirty);
}
