// The boundary of a selection: a pixel of the outline is set exactly when the mask pixel
// is set and at least one of its eight neighbours is clear or lies outside the canvas.
#pragma once

#include "Toolkit.h"

// Recomputes outline (1 bit, the mask's size) inside area, or over the whole mask when
// area is null. A toolkit status.
L_INT MakeOutline(const BITMAPHANDLE& mask, BITMAPHANDLE& outline, const RECT* area);
