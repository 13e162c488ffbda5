// The magic wand: the area of similar colour around a point, as a 1-bit mask.
#pragma once

#include "Toolkit.h"

// MagicWandBitmap flags.
enum : L_INT {
    MAGICWAND_CONNECTED = 0,  // only pixels 4-connected to the seed (or to the old mask)
    MAGICWAND_EVERYWHERE = 1, // every pixel of the bitmap that matches (any nonzero value)
};

// Marks in `mask` (1 bit per pixel, the bitmap's size; set = marked) the pixels whose colour
// differs from the reference by at most tolerance x 255 in each channel (tolerance is a
// fraction, clamped to 0..1). Colours are compared as the eye sees them: palette entries
// resolved, and at 32 bits premultiplied by alpha, with alpha as a fourth channel, so that
// transparent pixels match each other whatever colour they hide.
//  - With a seed (0 <= x < width, 0 <= y < height) the reference is the seed's colour and
//    the mask becomes exactly the marked pixels: the area 4-connected to the seed, or with
//    MAGICWAND_EVERYWHERE every matching pixel.
//  - With x = y = -1 the mask already there grows: the reference is the range of colours
//    under its set pixels (per channel, widened by the tolerance), and the pixels connected
//    to the set ones (or, with MAGICWAND_EVERYWHERE, all) that match are added.
// `result` (may be null) receives the bounds of the marked pixels (the whole mask after
// growing), empty when there are none. The bitmap's region is not consulted.
// Returns SUCCESS, ERROR_NO_BITMAP, ERROR_BITPERPIXEL (mask not 1 bit), ERROR_INV_RANGE
// (sizes differ), ERROR_INV_PARAMETER (seed outside the bitmap, tolerance not a number) or
// ERROR_NO_MEMORY; on failure the mask is unchanged.
L_INT MagicWandBitmap(const BITMAPHANDLE* bitmap, BITMAPHANDLE* mask, double tolerance, L_INT x,
                      L_INT y, RECT* result, L_INT flags);
