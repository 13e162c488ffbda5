// Helpers shared by the toolkit's own source files; not for callers outside it.
#pragma once

#include "PixelAccess.h"
#include "Region.h"

namespace lt {

// Allocates the pixel block and palette of an initialised record (Width, Height,
// BitsPerPixel set). Zero-filled. Returns a status code.
int AllocatePixels(BITMAPHANDLE* b);
// Frees a pixel block, or only drops one holder of it while other records share it.
void ReleasePixels(uint8_t* block);

} // namespace lt
