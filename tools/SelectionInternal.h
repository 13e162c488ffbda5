// Helpers the selection shapes share.
#pragma once

#include "Toolkit.h"

namespace selection {

// A selection mask and its outline: both allocated, 1 bit per pixel, the same size.
bool IsMaskPair(const BITMAPHANDLE& mask, const BITMAPHANDLE& outline);
RECT Inflate(const RECT& r, int d);
RECT WholeMask(const BITMAPHANDLE& mask);
// Recomputes the outline inside area and reports area grown by margin as dirty.
L_INT Finish(const BITMAPHANDLE& mask, BITMAPHANDLE& outline, const RECT& area, int margin,
             RECT* dirty);

} // namespace selection
