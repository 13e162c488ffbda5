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

// Whether L_ReportStatus can reach a callback from this thread, that is whether the
// running operation can be cancelled half way.
bool StatusCanCancel();

} // namespace lt
