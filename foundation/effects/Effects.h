// The effects library on toolkit bitmaps: alpha compositing, alpha planes, the paint tools'
// compositing, antialiased drawing and brush masks, the magic wand and fine rotation.
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

// The paint tools' compositing. Masks are 8-bit coverage (0 none .. 255 full), one byte a
// pixel, rows `maskRowLength` bytes apart (the rectangle's width where no length is given).
// Layers are 32-bit (paint raises the alpha as well as moving the colour: paint over) or
// 8-bit grayscale, where a colour up to 255 is the gray level itself (larger values are
// taken as colours and turned to gray). Other depths blend through the colour and store the
// nearest palette entry. Every call clips to the destination and writes only inside its
// region; a width or height of 0 does nothing.
//
// Paints `color` through the mask at (x, y). A fractional position shifts the mask
// bilinearly (in 1/256 pixel steps), so the dab then reaches one pixel further right and
// down; whole positions use the mask as it is. NaN or infinite positions are refused.
L_INT AlphaBlendBmpWithColor(BITMAPHANDLE* b, double x, double y, L_INT width, L_INT height,
                             COLORREF color, const uint8_t* mask, L_INT maskRowLength);
// Sets each pixel under the mask wholly to `color` with probability coverage / 255 (always
// at 255, never at 0), so palette layers can be sprayed too. The choice is pseudo-random
// from the pixel's position and a call counter, so repeated dabs on one spot keep adding
// paint; Lx_SetDissolveSeed restarts the counter and makes a sequence of calls repeatable.
L_INT DissolveBlendBmpWithColor(BITMAPHANDLE* b, L_INT x, L_INT y, L_INT width, L_INT height,
                                COLORREF color, const uint8_t* mask, L_INT maskRowLength);
void Lx_SetDissolveSeed(L_UINT seed);
// Moves the destination rectangle (x, y, width, height) towards the source pixels at
// (srcX, srcY) by the mask (a width x height array; null means full coverage). Between two
// 32-bit bitmaps all four channels move, so transparency is copied too; onto other depths a
// 32-bit source's alpha thins the coverage. `gray` says an 8-bit destination holds gray
// levels (an 8-bit source is then taken as gray levels too, others as their luminance).
L_INT AlphaBlendBitmapRects(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                            const BITMAPHANDLE* src, L_INT srcX, L_INT srcY, const uint8_t* mask,
                            L_INT gray);
// Mixes the source pixels at (x, y) of the destination's size into the destination, which
// keeps the share given by the mask (dst width x height) or, without a mask, by its own
// alpha (32 bits; other depths without a mask keep themselves). Pixels outside the source
// count as `color`. The destination's alpha is left as it was. Source and destination are
// both 32-bit, or both 8-bit gray (detected from the palette), or blend through colours.
L_INT AlphaBlendBitmaps(BITMAPHANDLE* dst, const BITMAPHANDLE* src, L_INT x, L_INT y,
                        COLORREF color, const uint8_t* mask);
// A new top-left bitmap of width x height at the source's depth and palette, holding the
// source's rectangle at (x, y); whatever lies outside the source is `color` (opaque at 32
// bits). The source's region is not carried. `out`'s old content is ignored, not freed, and
// it is written only on success.
L_INT CopyBitmapRect(BITMAPHANDLE* out, const BITMAPHANDLE* src, L_INT x, L_INT y, L_INT width,
                     L_INT height, COLORREF color);
// Copies the source rectangle (srcX, srcY, width, height) into the destination at (x, y).
// A 32-bit destination keeps its alpha unless LX_INSERT_ALPHA is given. Bitmaps of other or
// different depths (or palettes) are copied through the colour.
enum : L_INT { LX_INSERT_ALPHA = 1 };
L_INT InsertBitmapRect(BITMAPHANDLE* dst, const BITMAPHANDLE* src, L_INT x, L_INT y, L_INT width,
                       L_INT height, L_INT srcX, L_INT srcY, L_INT flags);
// Makes the mask (width x height bytes) the alpha of a 32-bit bitmap.
L_INT InsertAlpha(BITMAPHANDLE* b, const uint8_t* mask);

// Antialiased drawing on 32-bit and 8-bit gray layers (other depths through the nearest
// palette entry). Each pixel is painted by the share of its square the shape covers, paint
// over: the colour moves towards the shape's and a 32-bit layer's alpha towards opaque.
// `gray` says an 8-bit layer holds gray levels; colours are then gray levels (as above).
// Clipped to the layer and its region.
//
// A line of `width` pixels between the centres of pixels (x0, y0) and (x1, y1), with round
// ends, so that both end pixels are painted; equal points give a round dot. The width must be
// positive (and finite).
L_INT DrawAntialiasedLine(BITMAPHANDLE* b, L_INT x0, L_INT y0, L_INT x1, L_INT y1, double width,
                          COLORREF color, L_INT gray);
// The ellipse inscribed in the pixel rectangle [left, right) x [top, bottom) (corners in
// either order). The outline, `width` pixels thick, lies inside the rectangle (the inner edge
// is the ellipse with both half-axes `width` shorter); with LX_ELLIPSE_FILLED what it
// encloses takes the fill colour, and LX_ELLIPSE_FILL_ONLY fills the whole ellipse without
// an outline. An empty rectangle draws nothing.
enum : L_INT { LX_ELLIPSE_OUTLINE = 0, LX_ELLIPSE_FILLED = 1, LX_ELLIPSE_FILL_ONLY = 2 };
L_INT DrawAntialiasedEllipse(BITMAPHANDLE* b, L_INT left, L_INT top, L_INT right, L_INT bottom,
                             L_INT width, COLORREF outline, COLORREF fill, L_INT style, L_INT gray);

// Fills a width x height brush mask (one byte a pixel, rows `width` apart) with coverage:
// a shape inscribed in the mask, full in its core and fading to 0 at its rim. `softness`
// (percent, cut to 0..100) is the part of the radius the fade takes: 0 a hard edge, 100 a
// fade all the way from the centre; a nonzero `flag` makes the fade S-shaped (smooth at both
// ends) instead of straight. `roundness` 255 gives an ellipse (a circle in a square mask), 0
// a rectangle, values between a shape between the two. The fully covered core holds
// `peak` * (255 - `transparency`) / 255: the brushes pass 255 for peak and roundness and a
// transparency that lowers the brush's strength (the airbrush and smudge derive it from
// their pressure). Each byte is the mean coverage over the pixel's square. Values out of
// 0..255 and sizes out of 1..LX_BRUSH_MAX are refused.
enum : L_INT { LX_BRUSH_MAX = 4096 };
L_INT CreateAntialiasedBrush(L_INT transparency, L_INT peak, L_INT roundness, L_INT width,
                             L_INT height, uint8_t* mask, L_INT flag, double softness);

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
