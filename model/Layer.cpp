#include "Layer.h"

#include <algorithm>
#include <climits>

#include <cmath>

#include "Effects.h"

const TLayerTransform kIdentityTransform{};

L_INT RoundHalfAway(long double v) {
    // Saturates: window positions of huge zooms must not overflow into nonsense.
    if (v != v) return 0;
    const long double r = v >= 0 ? v + 0.5L : v - 0.5L;
    if (r <= (long double)INT_MIN) return INT_MIN;
    if (r >= (long double)INT_MAX) return INT_MAX;
    return L_INT(r);
}

TRealPoint TransformPointExact(const TLayerTransform& t, long double x, long double y) {
    const long double x1 = x * t.ScaleX, y1 = y * t.ScaleY;
    const long double x2 = x1 + std::tan(t.ShearAngle) * y1;
    const long double c = std::cos(t.RotateAngle), s = std::sin(t.RotateAngle);
    return TRealPoint{x2 * c + y1 * s, y1 * c - x2 * s};
}

POINT TransformPoint(const TLayerTransform& t, long double x, long double y) {
    const TRealPoint p = TransformPointExact(t, x, y);
    return POINT{RoundHalfAway(p.x), RoundHalfAway(p.y)};
}

bool TLayer::HitTest(POINT p) const {
    if (p.x < X || p.y < Y || p.x >= X + Width || p.y >= Y + Height) return false;
    return !pRgn || L_IsPtInBitmapRgn(this, p.y - Y, p.x - X) == 1;
}

void TLayer::CopyAttributes(const TLayer& other) {
    Visible = other.Visible;
    Name = other.Name;
    Transform = other.Transform;
    X = other.X;
    Y = other.Y;
}

L_INT TLayer::CopyLayer(const TLayer& other) {
    CopyAttributes(other);
    if (!other.IsAllocated()) {
        Free();
        LogicalBpp = other.LogicalBpp;
        return SUCCESS;
    }
    return AssignX(other, true);
}

L_INT TLayer::CombineInto(BITMAPHANDLE* dst, const RECT& clip, POINT origin) const {
    if (!IsAllocated() || !dst) return ERROR_NO_BITMAP;
    const long long px = (long long)X + origin.x, py = (long long)Y + origin.y;
    // The part of the layer inside the clip, in layer coordinates...
    long long sl = std::max<long long>(0, clip.left - px),
              st = std::max<long long>(0, clip.top - py);
    long long sr = std::min<long long>(Width, clip.right - px),
              sb = std::min<long long>(Height, clip.bottom - py);
    // ...and inside the destination.
    sl = std::max(sl, -px);
    st = std::max(st, -py);
    sr = std::min<long long>(sr, dst->Width - px);
    sb = std::min<long long>(sb, dst->Height - py);
    if (sl >= sr || st >= sb) return SUCCESS;
    const L_INT dx = L_INT(px + sl), dy = L_INT(py + st), w = L_INT(sr - sl), h = L_INT(sb - st);
    // The stored depth decides: a layer kept at 32 bits has real alpha whatever depth the
    // user sees, and must show through where it is not opaque.
    if (BitsPerPixel == 32)
        return BlendLayerRect(dst, dx, dy, w, h, *this, L_INT(sl), L_INT(st), false);
    return L_CombineBitmap(dst, dx, dy, w, h, this, L_INT(sl), L_INT(st), CB_OP_COPY);
}

L_INT BlendLayerRect(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                     const TLayer& src, L_INT srcX, L_INT srcY, bool combineAlpha) {
    if (!dst) return ERROR_NO_BITMAP;
    auto blend = [&] {
        return combineAlpha ? AlphaCombineBitmapRects32(dst, x, y, width, height, &src, srcX, srcY)
                            : AlphaBlendBitmapRects32(dst, x, y, width, height, &src, srcX, srcY);
    };
    if (!src.pRgn) return blend();
    // The blend honours only the destination's region, so the layer's shape is lent to
    // the destination for the call: pixels outside it do not belong to the layer, even
    // where their alpha is not 0 (a layer made opaque by a depth change keeps its shape).
    HRGN own = dst->pRgn;
    dst->pRgn = own ? L_CopyRgn(own) : nullptr;
    if (own && !dst->pRgn) {
        dst->pRgn = own;
        return ERROR_NO_MEMORY;
    }
    RGNXFORM xf;
    xf.nXOffset = x - srcX;
    xf.nYOffset = y - srcY;
    L_INT rc = L_SetBitmapRgnHandle(dst, &xf, src.pRgn, own ? L_RGN_AND : L_RGN_SET);
    if (rc == SUCCESS) rc = blend();
    L_FreeBitmapRgn(dst);
    dst->pRgn = own;
    return rc;
}

L_INT TLayer::DrawOutline(HDC dc, long double zoom, const RECT& imageRect, L_INT frameStyle) const {
    if (!dc || !pRgn) return SUCCESS;
    if (!(zoom > 0) || zoom * 65536.0L >= INT_MAX) return ERROR_INV_PARAMETER;
    const POINT at{RoundHalfAway(X * zoom) + imageRect.left,
                   RoundHalfAway(Y * zoom) + imageRect.top};
    RGNXFORM xf;
    xf.nXScalarNum = xf.nYScalarNum = RoundHalfAway(zoom * 65536.0L);
    xf.nXScalarDen = xf.nYScalarDen = 65536;
    const POINT old = dc->GetViewportOrg();
    dc->SetViewportOrg(old.x + at.x, old.y + at.y);
    const L_INT rc = L_FrameBitmapRgn(dc, this, &xf, frameStyle);
    dc->SetViewportOrg(old.x, old.y);
    return rc;
}

TFrameLayout TLayer::FrameLayout(long double zoom, const RECT& imageRect) const {
    // The centre stays exact: truncating half of an odd size would shift the whole frame
    // half a pixel off the layer, so the corners would miss its rectangle.
    const long double w = Width, h = Height;
    const long double cx = (X + w / 2) * zoom + imageRect.left,
                      cy = (Y + h / 2) * zoom + imageRect.top;
    auto at = [&](long double x, long double y) {
        const TRealPoint p = TransformPointExact(Transform, x * zoom, y * zoom);
        return POINT{RoundHalfAway(cx + p.x), RoundHalfAway(cy + p.y)};
    };
    TFrameLayout f;
    f.Corners[0] = at(-w / 2, -h / 2);
    f.Corners[1] = at(w / 2, -h / 2);
    f.Corners[2] = at(w / 2, h / 2);
    f.Corners[3] = at(-w / 2, h / 2);
    f.EdgeMiddles[0] = at(-w / 2, 0);
    f.EdgeMiddles[1] = at(0, -h / 2);
    f.EdgeMiddles[2] = at(w / 2, 0);
    f.EdgeMiddles[3] = at(0, h / 2);
    f.Centre = at(0, 0);
    f.RotateHandle = at(3 * w / 4, 0);
    f.ShearHandle = at(w / 2, -3 * h / 4);
    return f;
}

void TLayer::DrawTransformFrame(HDC dc, long double zoom, const RECT& imageRect) const {
    if (!dc) return;
    const TFrameLayout f = FrameLayout(zoom, imageRect);
    TDCStateGuard guard(dc);
    dc->SetROP2(R2_XORPEN);
    dc->SelectPen(kWhitePen);
    dc->SelectBrush(kHollowBrush);
    dc->Polygon(f.Corners, 4);
    dc->MoveTo(f.Centre.x, f.Centre.y);
    dc->LineTo(f.RotateHandle.x, f.RotateHandle.y);
    dc->MoveTo(f.Corners[1].x, f.Corners[1].y);
    dc->LineTo(f.ShearHandle.x, f.ShearHandle.y);
    auto handle = [dc](POINT p) { dc->Ellipse(p.x - 4, p.y - 4, p.x + 5, p.y + 5); };
    for (const POINT& p : f.Corners) handle(p);
    for (const POINT& p : f.EdgeMiddles) handle(p);
    handle(f.Centre);
    handle(f.RotateHandle);
    handle(f.ShearHandle);
}
