// Helpers shared by the toolkit's own source files; not for callers outside it.
#pragma once

#include "PixelAccess.h"
#include "Region.h"

namespace lt {

// Allocates the pixel block and palette of an initialised record (Width, Height,
// BitsPerPixel set). Zero-filled unless the caller writes every byte of the block itself
// (`zeroed` false). Returns a status code.
int AllocatePixels(BITMAPHANDLE* b, bool zeroed = true);
// A pixel block of `bytes` (at least one), for ReleasePixels to free; null when out of
// memory. A large block freed a moment ago is reused when one fits.
uint8_t* NewPixelBlock(size_t bytes, bool zeroed);
// Frees the large blocks kept for reuse; false when there were none.
bool DropKeptBlocks();
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
