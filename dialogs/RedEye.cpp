#include "RedEye.h"

#include "OwnedBitmap.h"
#include "Processing.h"

namespace {

// The plane's pixels in [low, high] as a 1-bit mask (white = in range), or out of range
// when inverted.
L_INT RangeMask(BITMAPHANDLE& plane, L_INT low, L_INT high, bool inverted, TOwnedBitmap& mask) {
    L_INT rc = L_IntensityDetectBitmap(&plane, low, high);
    if (rc == SUCCESS && inverted) rc = L_InvertBitmap(&plane);
    if (rc != SUCCESS) return rc;
    return L_ColorResBitmap(&plane, mask.get(), 1, CRF_FIXEDPALETTE | CRF_FLOYDSTEINDITHERING,
                            nullptr, 0);
}

} // namespace

L_INT RedEyeCorrect(BITMAPHANDLE& bitmap, L_INT depth) {
    if (!bitmap.Flags.Allocated) return ERROR_NO_BITMAP;
    if (depth < 1 || depth > 1000) return ERROR_INV_PARAMETER;
    const L_INT perspective = bitmap.ViewPerspective;

    BITMAPHANDLE planes[3];
    L_INT rc = L_ColorSeparateBitmap(&bitmap, planes, COLORSEP_HSV);
    if (rc != SUCCESS) return rc;
    TOwnedBitmap hue, saturation, value;
    *hue = planes[0], *saturation = planes[1], *value = planes[2];

    TOwnedBitmap hueMask, saturationMask;
    rc = RangeMask(*hue, 30, 200, true, hueMask);
    if (rc == SUCCESS) rc = RangeMask(*saturation, 170 - depth / 10, 255, false, saturationMask);
    if (rc == SUCCESS)
        rc = L_CombineBitmap(hueMask.get(), 0, 0, hueMask->Width, hueMask->Height,
                             saturationMask.get(), 0, 0, CB_OP_AND);
    if (rc != SUCCESS) return rc;

    // A 32-bit layer keeps its transparency: the gray copy comes back from 8 bits opaque,
    // and the copy operation below would write that alpha over the eye.
    TOwnedBitmap alpha;
    if (bitmap.BitsPerPixel == 32) {
        rc = L_GetBitmapAlpha(&bitmap, alpha.get());
        if (rc != SUCCESS) return rc;
    }

    // The gray picture is read from the bitmap's block into one of its own.
    TOwnedBitmap gray;
    rc = L_ShareBitmap(gray.get(), &bitmap);
    if (rc == SUCCESS) rc = L_GrayScaleBitmap(gray.get());
    if (rc == SUCCESS) rc = L_SetBitmapRgnFromMask(gray.get(), nullptr, hueMask.get(), L_RGN_SET);
    if (rc == SUCCESS)
        rc = L_ColorResBitmap(gray.get(), gray.get(), bitmap.BitsPerPixel, CRF_FLOYDSTEINDITHERING,
                              nullptr, 0);
    // Only pixels inside both the bitmap's region and the mask change, in a block of the
    // bitmap's own: the dialog hands over the layer's block, which the undo step keeps.
    if (rc == SUCCESS) rc = L_UnshareBitmap(&bitmap);
    if (rc == SUCCESS)
        rc = L_CombineBitmap(&bitmap, 0, 0, bitmap.Width, bitmap.Height, gray.get(), 0, 0,
                             CB_OP_COPY);
    if (rc == SUCCESS && alpha->Flags.Allocated) rc = L_SetBitmapAlpha(&bitmap, alpha.get());
    if (rc == SUCCESS && bitmap.ViewPerspective != perspective)
        rc = L_ChangeBitmapViewPerspective(nullptr, &bitmap, perspective);
    return rc;
}
