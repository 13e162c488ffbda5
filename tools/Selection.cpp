// The selection shapes: the shared point list, the rectangle and ellipse, and the free
// hand polygon. The retoucher and the magic wand live in SelectionBrush.cpp.
#include "Selection.h"

#include <algorithm>
#include <cmath>

#include "LeadBitmap.h"
#include "OwnedBitmap.h"
#include "SelectionInternal.h"
#include "SelectionOutline.h"

namespace selection {

bool IsMaskPair(const BITMAPHANDLE& mask, const BITMAPHANDLE& outline) {
    return mask.Flags.Allocated && mask.Addr && outline.Flags.Allocated && outline.Addr &&
           mask.BitsPerPixel == 1 && outline.BitsPerPixel == 1 && mask.Width == outline.Width &&
           mask.Height == outline.Height;
}

RECT Inflate(const RECT& r, int d) {
    return RECT{r.left - d, r.top - d, r.right + d, r.bottom + d};
}

RECT WholeMask(const BITMAPHANDLE& mask) { return RECT{0, 0, mask.Width, mask.Height}; }

L_INT Finish(const BITMAPHANDLE& mask, BITMAPHANDLE& outline, const RECT& area, int margin,
             RECT* dirty) {
    const L_INT rc = MakeOutline(mask, outline, &area);
    if (dirty) *dirty = Inflate(area, margin);
    return rc;
}

} // namespace selection

using namespace selection;

namespace {

// The rubber bands' colour: the grey of the window system's application workspace.
constexpr COLORREF kRubberBandColor = RGB(171, 171, 171);

// Paints a filled shape into the mask with the combine operation: replace and select
// outside first reset the whole mask, then the shape is painted selected (replace, add)
// or unselected (select outside, subtract). Bits are named by index so that the mask's
// palette plays no part: 1 is selected.
template <class FillShape>
L_INT PaintShape(BITMAPHANDLE& mask, int combine, FillShape fill) {
    HDC dc = L_CreateLeadDC(&mask);
    if (!dc) return ERROR_NO_BITMAP;
    dc->SelectPen(kNullPen);
    dc->SetROP2(R2_COPYPEN);
    if (combine == SELECT_REPLACE || combine == SELECT_OUTSIDE)
        dc->FillRect(WholeMask(mask),
                     LBRUSH{BS_SOLID, PALETTEINDEX(combine == SELECT_OUTSIDE ? 1 : 0)});
    const bool selects = combine == SELECT_REPLACE || combine == SELECT_ADD;
    dc->SelectBrush(LBRUSH{BS_SOLID, PALETTEINDEX(selects ? 1 : 0)});
    fill(dc);
    return L_DeleteLeadDC(dc);
}

// The outline after a filled shape: everywhere when the whole mask was reset, else around
// the shape's pixels (right and bottom exclusive) grown by one.
L_INT FinishShape(const BITMAPHANDLE& mask, BITMAPHANDLE& outline, int combine, const RECT& shape,
                  RECT* dirty) {
    const RECT area = combine == SELECT_REPLACE || combine == SELECT_OUTSIDE ? WholeMask(mask)
                                                                             : Inflate(shape, 1);
    return Finish(mask, outline, area, 1, dirty);
}

// A region of the pixels a drawing sets inside bounds (image coordinates): the drawing is
// made on a scratch mask the size of bounds. Null when bounds is empty or too big.
template <class Draw>
HRGN RegionFromDrawing(const RECT& bounds, Draw draw) {
    const int w = bounds.right - bounds.left, h = bounds.bottom - bounds.top;
    if (w <= 0 || h <= 0) return nullptr;
    TOwnedBitmap scratch;
    if (L_CreateBitmap(scratch.get(), TYPE_CONV, w, h, 1, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        return nullptr;
    HDC dc = L_CreateLeadDC(scratch.get());
    if (!dc) return nullptr;
    dc->SelectPen(kNullPen);
    dc->SelectBrush(LBRUSH{BS_SOLID, PALETTEINDEX(1)});
    dc->SetViewportOrg(-bounds.left, -bounds.top);
    draw(dc);
    L_DeleteLeadDC(dc);
    if (L_SetBitmapRgnFromMask(scratch.get(), nullptr, scratch.get(), L_RGN_SET) != SUCCESS)
        return nullptr;
    RGNXFORM xf;
    xf.nXOffset = bounds.left;
    xf.nYOffset = bounds.top;
    HRGN rgn = nullptr;
    if (L_GetBitmapRgnHandle(scratch.get(), &xf, &rgn) != SUCCESS) return nullptr;
    return rgn;
}

} // namespace

// ---------------------------------------------------------------------------

TXSelection::TXSelection(double zoom, int originX, int originY)
    : Points(kMaxSelectionPoints), Zoom(zoom), OriginX(originX), OriginY(originY) {}

TXSelection::~TXSelection() { L_DeleteRgn(Region); }

bool TXSelection::AddPoint(int x, int y, bool) {
    if (Count >= kMaxSelectionPoints || !AcceptPoint(x, y)) return false;
    Points[size_t(Count++)] = POINT{x, y};
    return true;
}

void TXSelection::Reset() { Count = 0; }

bool TXSelection::AcceptPoint(int, int) { return true; }

void TXSelection::SetViewParams(double zoom, int originX, int originY) {
    Zoom = zoom;
    if (originX >= 0) {
        OriginX = originX;
        OriginY = originY;
    }
}

POINT TXSelection::ToClient(POINT p) const {
    return POINT{int(std::trunc(p.x * Zoom + OriginX)), int(std::trunc(p.y * Zoom + OriginY))};
}

void TXSelection::SetRegion(HRGN rgn) {
    L_DeleteRgn(Region);
    Region = rgn;
}

// ---------------------------------------------------------------------------
// Rectangle: point 0 is the corner where the drag began, point 1 the one under the mouse.

bool TRectSelection::AddPoint(int x, int y, bool) {
    if (!AcceptPoint(x, y)) return false;
    if (Count == 0) Points[0] = POINT{x, y};
    Points[1] = POINT{x, y};
    Count = std::min(Count + 1, 2);
    return true;
}

bool TRectSelection::AcceptPoint(int x, int y) {
    auto is = [&](const POINT& p) { return p.x == x && p.y == y; };
    if (Count == 0) return true;
    if (Count == 1) return !is(Points[0]);
    return !is(Points[0]) && !is(Points[1]);
}

RECT TRectSelection::GetBounds() const {
    if (Count == 0) return RECT{};
    const POINT a = Points[0], b = Points[1];
    return RECT{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

bool TRectSelection::IsValid() const {
    const RECT r = GetBounds();
    return Count >= 2 && r.right - r.left >= 1 && r.bottom - r.top >= 1;
}

// Both corner pixels belong to the shape.
static RECT CornerPixels(const RECT& bounds) {
    return RECT{bounds.left, bounds.top, bounds.right + 1, bounds.bottom + 1};
}

L_INT TRectSelection::Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) {
    if (!IsMaskPair(mask, outline) || combine < 0 || combine > 3 || Count == 0)
        return ERROR_INV_PARAMETER;
    const RECT r = CornerPixels(GetBounds());
    L_INT rc =
        PaintShape(mask, combine, [&](HDC dc) { dc->Rectangle(r.left, r.top, r.right, r.bottom); });
    if (rc != SUCCESS) return rc;
    return FinishShape(mask, outline, combine, r, dirty);
}

HRGN TRectSelection::GetRegion() {
    if (Count == 0) return nullptr;
    SetRegion(L_CreateRectRgn(CornerPixels(GetBounds())));
    return Region;
}

void TRectSelection::Draw(HDC dc) { DrawBand(dc, false); }

// The band encloses both corner pixels whichever way the drag went. With only the press
// point there is no band yet, so that the first erase-add-draw of a mouse move leaves
// nothing behind.
void TRectSelection::DrawBand(HDC dc, bool ellipse) {
    if (Count < 2 || !dc) return;
    const RECT b = GetBounds();
    const POINT a = ToClient(POINT{b.left, b.top});
    const POINT c = ToClient(POINT{b.right + 1, b.bottom + 1});
    TDCStateGuard guard(dc);
    dc->SetROP2(R2_XORPEN);
    dc->SelectPen(LPEN{PS_DOT, 1, kRubberBandColor});
    dc->SetBkColor(RGB(0, 0, 0));
    dc->SelectBrush(kHollowBrush);
    if (ellipse)
        dc->Ellipse(a.x, a.y, c.x, c.y);
    else
        dc->Rectangle(a.x, a.y, c.x, c.y);
}

// ---------------------------------------------------------------------------
// Ellipse: inscribed in the rectangle's corner pixels.

L_INT TEllipseSelection::Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) {
    if (!IsMaskPair(mask, outline) || combine < 0 || combine > 3 || Count == 0)
        return ERROR_INV_PARAMETER;
    const RECT r = CornerPixels(GetBounds());
    L_INT rc =
        PaintShape(mask, combine, [&](HDC dc) { dc->Ellipse(r.left, r.top, r.right, r.bottom); });
    if (rc != SUCCESS) return rc;
    return FinishShape(mask, outline, combine, r, dirty);
}

HRGN TEllipseSelection::GetRegion() {
    if (Count == 0) return nullptr;
    const RECT r = CornerPixels(GetBounds());
    SetRegion(RegionFromDrawing(r, [&](HDC dc) { dc->Ellipse(r.left, r.top, r.right, r.bottom); }));
    return Region;
}

void TEllipseSelection::Draw(HDC dc) { DrawBand(dc, true); }

// ---------------------------------------------------------------------------
// Free hand and polygon.

bool TFreeHandSelection::AcceptPoint(int x, int y) {
    return Count == 0 || Points[size_t(Count - 1)].x != x || Points[size_t(Count - 1)].y != y;
}

bool TFreeHandSelection::AddPoint(int x, int y, bool replaceLast) {
    if (Count >= kMaxSelectionPoints) return false;
    const POINT p{x, y};
    if (!replaceLast || Count < 2) {
        Points[size_t(Count++)] = p;
        segFrom_ = ToClient(Count == 1 ? p : Points[size_t(Count - 2)]);
    } else {
        Points[size_t(Count - 1)] = p;
    }
    segTo_ = ToClient(p);
    bounds_.left = std::min(bounds_.left, x);
    bounds_.top = std::min(bounds_.top, y);
    bounds_.right = std::max(bounds_.right, x);
    bounds_.bottom = std::max(bounds_.bottom, y);
    return true;
}

RECT TFreeHandSelection::GetBounds() const { return bounds_; }

void TFreeHandSelection::DrawSegment(HDC dc) {
    if (Count == 0 || !dc) return;
    TDCStateGuard guard(dc);
    dc->SetROP2(R2_XORPEN);
    dc->SelectPen(LPEN{PS_SOLID, 1, kRubberBandColor});
    dc->MoveTo(segFrom_.x, segFrom_.y);
    dc->LineTo(segTo_.x, segTo_.y);
}

L_INT TFreeHandSelection::Apply(TLeadBitmap& mask, TLeadBitmap& outline, int combine, RECT* dirty) {
    if (!IsMaskPair(mask, outline) || combine < 0 || combine > 3 || Count < 3)
        return ERROR_INV_PARAMETER;
    L_INT rc = PaintShape(mask, combine, [&](HDC dc) {
        dc->SetPolyFillMode(ALTERNATE);
        dc->Polygon(Points.data(), Count);
    });
    if (rc != SUCCESS) return rc;
    return FinishShape(mask, outline, combine, CornerPixels(bounds_), dirty);
}

HRGN TFreeHandSelection::GetRegion() {
    if (Count < 3) return nullptr;
    SetRegion(RegionFromDrawing(CornerPixels(bounds_), [&](HDC dc) {
        dc->SetPolyFillMode(WINDING);
        dc->Polygon(Points.data(), Count);
    }));
    return Region;
}
