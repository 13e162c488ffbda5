// The effects library on toolkit bitmaps: alpha compositing, alpha planes, the magic wand.
// Every function that can fail returns SUCCESS or a toolkit error code.
#pragma once

#include "MagicWand.h"
#include "Toolkit.h"

// Blends the rectangle (srcX, srcY, width, height) of a 32-bit source over the destination at
// (x, y) by the source's alpha ("over" on straight alpha). The destination may be 32 bits
// (its alpha is left as it was) or any other depth (colours blended, then stored at that
// depth). Clipped to both bitmaps; written only inside the destination's region.
L_INT AlphaBlendBitmapRects32(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                              const BITMAPHANDLE* src, L_INT srcX, L_INT srcY);
// The same for two 32-bit bitmaps, also combining the alpha planes (Porter-Duff "over"),
// so the result keeps transparency where both were transparent.
L_INT AlphaCombineBitmapRects32(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                                const BITMAPHANDLE* src, L_INT srcX, L_INT srcY);

// The alpha of a rectangle of a 32-bit bitmap, kept while drawing calls run. A null rect
// means the whole bitmap. Free with Lx_RestoreBitmapAlpha, which puts it back (or, with
// discard, only frees it).
struct LxSavedAlpha;
LxSavedAlpha* Lx_SaveBitmapAlpha(const BITMAPHANDLE* b, const RECT* rect);
// Puts the saved alpha back into the same rectangle and frees the record. When discard is
// true the record is only freed.
L_INT Lx_RestoreBitmapAlpha(BITMAPHANDLE* b, LxSavedAlpha* saved, bool discard = false);

// Sets the region to the pixels whose alpha is not 0 (32 bits) or whose value is not 0
// (8 bits and less: the palette index), combined by uCombineMode (L_RGN_SET = 1 ...).
L_INT Lx_SetBitmapRgnFromAlpha(BITMAPHANDLE* b, L_UINT uCombineMode);
// A new 1-bit mask of the bitmap's size: set where the alpha (32 bits) or the gray value
// (8 bits and less) is not 0.
L_INT Lx_CreateMaskFromAlpha(const BITMAPHANDLE* b, BITMAPHANDLE* mask);
// Makes alpha 0 outside the bitmap's region (nothing happens without a region or below 32 bits).
L_INT Lx_IntersectBitmapAlphaWithMask(BITMAPHANDLE* b);
// Fills the pixels of b under the set pixels of a 1-bit mask of the same size with a colour
// (32-bit pixels keep their alpha).
L_INT Lx_MaskFillBitmap(BITMAPHANDLE* b, const BITMAPHANDLE* mask, COLORREF color);
// Inverts every stored bit of the bitmap (a selection mask becomes its complement).
L_INT Lx_InvertBitmap(BITMAPHANDLE* b);
// Turns a 32-bit picture of black drawing on white into `color` with alpha: alpha = 255 -
// gray level of each pixel, colour = `color`.
L_INT Lx_DematteBlack(BITMAPHANDLE* b, COLORREF color);
// The gray level (0..255) of a colour, with the toolkit's luminance weights.
L_INT Lx_RGBtoGS(COLORREF color);
// Nearest integer, halves away from zero; saturates at the int range, NaN gives 0. (Not
// named with two leading underscores: such names belong to the C library, whose <cmath>
// declares its own __round.)
L_INT Lx_Round(double value);

// Turns the bitmap by `angle` hundredths of a degree clockwise, resampled (bilinear; the
// alpha of 32-bit bitmaps is turned with the colours, and the region with the pixels). With
// LX_ROTATE_GROW in `flags` the canvas grows to the turned image's bounding box; without it
// the size is kept and the corners are cut off. Uncovered pixels take `fill` (opaque at 32
// bits; the nearest palette entry at 8 bits and less). Any other flag bit is rejected.
enum : L_INT { LX_ROTATE_GROW = 1 };
L_INT Lx_RotateBitmapFine(BITMAPHANDLE* b, L_INT angle, L_INT flags, COLORREF fill);
