#include "DiffuseOutline.h"

#include <algorithm>

#include "LeadDC.h"
#include "OwnedBitmap.h"
#include "Processing.h"

namespace {

// MulDiv for the non-negative values here: a * b / c rounded to nearest, in 64 bits.
L_INT MulDiv(L_INT a, L_INT b, L_INT c) {
    return static_cast<L_INT>((static_cast<long long>(a) * b + c / 2) / c);
}

struct TRgnOwner {
    HRGN h = nullptr;
    ~TRgnOwner() {
        if (h) L_DeleteRgn(h);
    }
};

} // namespace

L_INT DiffuseMaxWidth(const BITMAPHANDLE& source) {
    return std::min(source.Width, source.Height) / 2;
}

L_INT DiffuseOutline(TLeadBitmapX& dst, const TLeadBitmapX& source, L_INT position,
                     L_INT maxWidth) {
    dst.Free();
    if (position < 0 || position > 100 || maxWidth < 0) return ERROR_INV_PARAMETER;
    TOwnedBitmap alpha;
    L_INT rc = L_GetBitmapAlpha(&source, alpha.get());
    if (rc != SUCCESS) return rc;

    // The fade: white inside the selection, a black frame along its edge, blurred so that
    // the frame's edge becomes a ramp.
    // A new 8-bit bitmap on the alpha plane's gray ramp starts black.
    TOwnedBitmap fade;
    rc = L_CreateBitmap(fade.get(), TYPE_CONV, alpha->Width, alpha->Height, 8, ORDER_BGR,
                        alpha->pPalette, TOP_LEFT);
    TRgnOwner selection;
    if (rc == SUCCESS) rc = L_GetBitmapRgnHandle(&source, nullptr, &selection.h);
    if (rc != SUCCESS) return rc;

    const L_INT w = MulDiv(position, maxWidth, 100);
    HDC dc = L_CreateLeadDC(fade.get());
    if (!dc) return ERROR_NO_MEMORY;
    dc->FillRgn(selection.h, kWhiteBrush);
    if (w / 2 > 0) dc->FrameRgn(selection.h, kBlackBrush, w / 2, w / 2);
    L_DeleteLeadDC(dc);

    rc = L_SetBitmapRgnHandle(fade.get(), nullptr, selection.h, L_RGN_SET);
    if (rc == SUCCESS) rc = L_AverageFilterBitmap(fade.get(), w);
    // The multiply writes only inside the fade's region: the alpha outside stays.
    if (rc == SUCCESS)
        rc = L_CombineBitmap(alpha.get(), 0, 0, alpha->Width, alpha->Height, fade.get(), 0, 0,
                             CB_OP_MULTIPLY);
    if (rc != SUCCESS) return rc;

    rc = dst.AssignX(source, true);
    if (rc == SUCCESS) rc = L_SetBitmapAlpha(&dst, alpha.get());
    if (rc != SUCCESS) dst.Free();
    return rc;
}
