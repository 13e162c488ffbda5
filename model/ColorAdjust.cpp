#include "ColorAdjust.h"

#include <cmath>
#include <vector>

#include "OwnedBitmap.h"
#include "Processing.h"

namespace {

// The planes of a separation, freed together.
struct TPlanes {
    BITMAPHANDLE p[4];
    int count = 0;
    ~TPlanes() {
        for (auto& b : p) L_FreeBitmap(&b);
    }
};

// The gamma (times 100) of a plane for a percentage: +100 % is 5.66, -100 % 0.18.
L_INT PlaneGamma(int percent) { return L_INT(std::pow(2.0, percent * 0.01 * 2.5) * 100.0); }

// 24 and 32-bit pictures (stored at 32 bits with alpha).
L_INT AdjustTrueColour(TLeadBitmapX& dst, const TLeadBitmapX& src, const int* percent, int planes,
                       L_UINT separation) {
    // Transparency is no colour: it comes back unchanged whatever the depth the user sees.
    TOwnedBitmap alpha;
    L_INT rc = SUCCESS;
    if (src.BitsPerPixel == 32 && (rc = L_GetBitmapAlpha(&src, alpha.get())) != SUCCESS) return rc;
    TOwnedBitmap mask;
    const bool region = L_BitmapHasRgn(&src) > 0;
    if (region && (rc = L_CreateMaskFromBitmapRgn(&src, mask.get())) != SUCCESS) return rc;

    TPlanes split;
    if ((rc = L_ColorSeparateBitmap(&src, split.p, separation)) != SUCCESS) return rc;
    split.count = planes;
    for (int i = 0; i < planes; ++i)
        if (percent[i] != 0 &&
            (rc = L_GammaCorrectBitmap(&split.p[i], PlaneGamma(percent[i]))) != SUCCESS)
            return rc;
    TLeadBitmapX merged;
    BITMAPHANDLE m;
    if ((rc = L_ColorMergeBitmap(&m, split.p, separation)) != SUCCESS) return rc;
    merged.Adopt(m);
    if ((rc = merged.NormalizeDepth()) != SUCCESS) return rc;
    if ((rc = L_ChangeBitmapViewPerspective(nullptr, &merged, src.ViewPerspective)) != SUCCESS)
        return rc;

    if (!region) {
        dst.Free();
        dst.Adopt(merged);
    } else {
        if ((rc = dst.AssignX(src, true)) != SUCCESS) return rc;
        if ((rc = L_SetBitmapRgnFromMask(&merged, nullptr, mask.get(), L_RGN_SET)) != SUCCESS ||
            (rc = L_CombineBitmap(&dst, 0, 0, dst.Width, dst.Height, &merged, 0, 0, CB_OP_COPY)) !=
                SUCCESS)
            return rc;
    }
    dst.LogicalBpp = src.LogicalBpp;
    dst.GrayState = -1;
    if (alpha->Flags.Allocated) rc = L_SetBitmapAlpha(&dst, alpha.get());
    return rc;
}

// Palette pictures: the palette is adjusted as a strip of its colours.
L_INT AdjustPalette(TLeadBitmapX& dst, const TLeadBitmapX& src, const int* percent, int planes,
                    L_UINT separation) {
    const int colours = 1 << src.BitsPerPixel;
    std::vector<RGBQUAD> old(static_cast<size_t>(colours)), changed(old.size());
    L_INT rc = L_GetBitmapColors(&src, 0, colours, old.data());
    if (rc != SUCCESS) return rc;
    TLeadBitmapX strip, adjusted;
    BITMAPHANDLE s;
    if ((rc = L_CreateBitmap(&s, TYPE_CONV, colours, 1, 32, ORDER_BGR, nullptr, TOP_LEFT)) !=
        SUCCESS)
        return rc;
    strip.Adopt(s);
    strip.LogicalBpp = 24;
    strip.MakeAlphaOpaque();
    for (int i = 0; i < colours; ++i)
        L_PutPixelColor(&strip, 0, i, RGB(old[i].rgbRed, old[i].rgbGreen, old[i].rgbBlue));
    if ((rc = AdjustTrueColour(adjusted, strip, percent, planes, separation)) != SUCCESS) return rc;
    for (int i = 0; i < colours; ++i) {
        const COLORREF c = L_GetPixelColor(&adjusted, 0, i);
        changed[i] = RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0};
    }

    if ((rc = dst.AssignX(src, true)) != SUCCESS) return rc;
    dst.GrayState = -1;
    if (L_BitmapHasRgn(&src) <= 0) return L_PutBitmapColors(&dst, 0, colours, changed.data());
    // Within a selection the palette stays (the rest of the picture uses it): the recoloured
    // pixels take its nearest entries.
    TLeadBitmapX recoloured;
    if ((rc = recoloured.AssignX(src, true)) != SUCCESS ||
        (rc = L_PutBitmapColors(&recoloured, 0, colours, changed.data())) != SUCCESS ||
        (rc = L_ColorResBitmap(&recoloured, &recoloured, src.BitsPerPixel, CRF_USERPALETTE,
                               old.data(), L_UINT(colours))) != SUCCESS)
        return rc;
    return L_CombineBitmap(&dst, 0, 0, dst.Width, dst.Height, &recoloured, 0, 0, CB_OP_COPY);
}

L_INT Adjust(TLeadBitmapX& dst, const TLeadBitmapX& src, const int* percent, int planes,
             L_UINT separation) {
    if (!src.IsAllocated()) return ERROR_NO_BITMAP;
    for (int i = 0; i < planes; ++i)
        if (percent[i] < -100 || percent[i] > 100) return ERROR_INV_PARAMETER;
    if (src.BitsPerPixel <= 8) return AdjustPalette(dst, src, percent, planes, separation);
    if (src.BitsPerPixel != 32) return ERROR_BITPERPIXEL; // the model stores nothing else
    return AdjustTrueColour(dst, src, percent, planes, separation);
}

} // namespace

L_INT RGBAdjustBitmap(TLeadBitmapX& dst, const TLeadBitmapX& src, int red, int green, int blue) {
    const int percent[] = {red, green, blue};
    return Adjust(dst, src, percent, 3, COLORSEP_RGB);
}

L_INT CMYKAdjustBitmap(TLeadBitmapX& dst, const TLeadBitmapX& src, int cyan, int magenta,
                       int yellow, int black) {
    const int percent[] = {cyan, magenta, yellow, black};
    return Adjust(dst, src, percent, 4, COLORSEP_CMYK);
}
