// Red eye reduction: the strongly saturated reds of the bitmap become gray, and only inside
// the bitmap's region (the eye the user selected) when it has one.
#pragma once

#include "Toolkit.h"

// depth 1..1000: the deeper, the less saturated a red may be and still count as red eye
// (saturation from 170 - depth / 10 up, on the toolkit's 0..255 scale). Reds are the hues
// outside 30..200 of the toolkit's 0..255 hue circle. The alpha of a 32-bit bitmap stays as
// it was. A bitmap sharing its block with other records writes into a block of its own, so
// theirs keep their pixels. Returns the first failing toolkit status; the bitmap may then
// be partly changed, which is why callers drop it then.
L_INT RedEyeCorrect(BITMAPHANDLE& bitmap, L_INT depth);
