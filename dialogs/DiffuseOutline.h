// Diffuse outline: the selection's edge fades out. Inside the selection the alpha falls
// from the interior to zero at the outline over a width set by the depth; outside it the
// alpha stays as it was.
#pragma once

#include "LeadBitmap.h"

// The widest fade a bitmap allows: half its shorter side.
L_INT DiffuseMaxWidth(const BITMAPHANDLE& source);

// dst becomes a copy of source (with its logical depth) whose alpha is diffused along
// source's region; a source without a region fades along its own edges. position 0..100 is
// the share of maxWidth the fade takes. Returns the first failing toolkit status (dst is
// then empty).
L_INT DiffuseOutline(TLeadBitmapX& dst, const TLeadBitmapX& source, L_INT position, L_INT maxWidth);
