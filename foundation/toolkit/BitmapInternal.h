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

// The pixel block an operation writes when its bitmap shares one with other records (the
// effect dialogs hand the layer's own block to the point operations, the neighbourhood
// filters and the underlay): each row is read from the shared block and written into a
// block of the bitmap's own, so the copy costs no pass of its own, and that block is one
// freed a moment ago where one fits, so it costs no fresh pages either. When the bitmap
// owns its block the rows are written in place.
class TOwnRows {
public:
    explicit TOwnRows(pBITMAPHANDLE b);
    ~TOwnRows();
    TOwnRows(const TOwnRows&) = delete;
    TOwnRows& operator=(const TOwnRows&) = delete;
    // False when the new block could not be had.
    bool Ok() const { return ok_; }
    // Every row must then be written, not only those the operation changes.
    bool Copying() const { return block_ != nullptr; }
    // The rows a band loop visits: the written ones [first, last), or all while copying.
    int From(int first) const { return Copying() ? 0 : first; }
    int To(int last) const { return Copying() ? b_->Height : last; }
    // Row y to write, and the row its pixels are read from (the same one in place).
    uint8_t* Target(int y) const;
    const uint8_t* Source(int y) const { return L_RowPtr(b_, y); }
    // Copies the bytes of row y from `from` on into the target (nothing in place).
    void Copy(int y, size_t from = 0) const;
    // The bitmap takes the written block, gives up its hold on the shared one. Without a
    // commit (a failure, a cancel) the bitmap keeps its pixels unchanged.
    void Commit();

private:
    pBITMAPHANDLE b_;
    uint8_t* block_ = nullptr;
    bool ok_ = true;
};

} // namespace lt
