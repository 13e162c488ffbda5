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
// Asks for huge pages for the whole 2 MB pages inside a large block that is about to be
// written: each fresh 4 KB page costs a fault on its first write, which on a virtual
// machine can cost more than the work done on it. Small blocks are left alone.
void PreferHugePages(void* p, size_t bytes);

// Whether L_ReportStatus can reach a callback from this thread, that is whether the
// running operation can be cancelled half way.
bool StatusCanCancel();

} // namespace lt
