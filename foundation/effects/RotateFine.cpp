// Fine rotation: any angle in hundredths of a degree, resampled, on a canvas that holds the
// whole turned image.
#include "Effects.h"
#include "PixelAccess.h"

L_INT Lx_RotateBitmapFine(BITMAPHANDLE* b, L_INT angle, L_INT flags, COLORREF fill) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (flags & ~L_INT(LX_ROTATE_GROW)) return ERROR_INV_PARAMETER;
    // The uncovered corners are the fill colour itself, opaque at 32 bits too: the caller
    // rotates the background and means the corners to show that colour, not transparency.
    L_UINT tk = ROTATE_RESAMPLE | ROTATE_OPAQUE_FILL;
    if (flags & LX_ROTATE_GROW) tk |= ROTATE_RESIZE;
    return L_RotateBitmap(b, angle, tk, fill);
}
