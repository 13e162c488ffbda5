// Colour adjustment by planes: the picture is split into colour planes, each plane gets its
// own gamma curve, and the planes are merged again. Used by the RGB and CMYK dialogs and by
// the quick colour corrections.
#pragma once

#include "LeadBitmap.h"

// Each percentage in -100..100: more (positive) or less of that component; 0 leaves its
// plane alone. dst receives the result (its old content is dropped); src is not changed.
// Palette images get a new palette (same indices) or, with a region, keep their palette and
// map the changed pixels onto it. Only pixels inside src's region change; alpha never does.
L_INT RGBAdjustBitmap(TLeadBitmapX& dst, const TLeadBitmapX& src, int red, int green, int blue);
L_INT CMYKAdjustBitmap(TLeadBitmapX& dst, const TLeadBitmapX& src, int cyan, int magenta,
                       int yellow, int black);
