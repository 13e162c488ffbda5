// Owning wrappers around the toolkit's bitmap record.
//
// TLeadBitmap *is* a toolkit record (it derives from it), so it can be handed to any L_*
// call directly. It owns its content unless it adopted another wrapper's handle.
// TLeadBitmapX adds the depth the user sees, which may differ from the stored depth:
// everything deeper than 8 bits is stored at 32 bits with alpha.
#pragma once

#include "Toolkit.h"

class TLeadBitmap : public struct_LEAD_Bitmap {
public:
    TLeadBitmap() = default;
    virtual ~TLeadBitmap();
    // Copies are always deliberate (deep or shared): use Assign.
    TLeadBitmap(const TLeadBitmap&) = delete;
    TLeadBitmap& operator=(const TLeadBitmap&) = delete;

    // The depth the program reasons about. Here the stored one; TLeadBitmapX answers with
    // the logical depth.
    virtual L_INT GetBitsPerPixel() const { return BitsPerPixel; }

    bool IsAllocated() const { return Flags.Allocated && Addr != nullptr; }

    // Frees owned content (region, pixels, palette) and leaves the record empty and owned.
    void Free();
    // Deep: a copy of source, region included (Owned). Shallow: shares source's handle
    // without owning it; the source must outlive this wrapper's use of it.
    L_INT Assign(const BITMAPHANDLE& source, bool deep);
    // Takes over a record's content (ownership passes here); the record is left empty.
    void Adopt(BITMAPHANDLE& source);
    // Replaces the content with a rectangle of source (clipped to it).
    L_INT CopyRect(const BITMAPHANDLE& source, L_INT x, L_INT y, L_INT width, L_INT height);

    // Crops the bitmap to its region's bounds. *bounds gets those bounds in the old
    // coordinates. An empty region fails with ERROR_INV_RANGE and leaves the bitmap as it was.
    L_INT CropToRegion(RECT* bounds);
    // Region = the non-transparent pixels, then CropToRegion.
    L_INT RegionFromAlpha(RECT* bounds);
    // Alpha 255 everywhere (32-bit bitmaps only; others are left alone).
    L_INT MakeAlphaOpaque();
    // At 32 bits writes the colour with its top byte as alpha into every pixel inside the
    // region (all pixels without one); other depths use L_FillBitmap.
    L_INT FillWithAlpha(COLORREF color);
    // Resamples to a new size (resampling: a SIZE_ flag of the toolkit); at 32 bits the
    // alpha plane is resampled with the colours.
    L_INT Resample(L_INT width, L_INT height, L_UINT resampling = SIZE_RESAMPLE);
    // The colour at (x, y); false outside the bitmap.
    bool ReadPixel(L_INT x, L_INT y, COLORREF* color) const;
    // Cached grayscale test: true only for an 8-bit bitmap the toolkit calls grayscale.
    bool IsGrayscale();

    // Whether the destructor and Free release the content.
    bool Owned = true;
    // -1 = unknown, 0 = not grayscale, 1 = grayscale. Reset by every wholesale change.
    int32_t GrayState = -1;
};

class TLeadBitmapX : public TLeadBitmap {
public:
    L_INT GetBitsPerPixel() const override { return LogicalBpp; }

    // Deep or shallow copy that also carries the source's logical depth.
    L_INT AssignX(const TLeadBitmapX& source, bool deep);
    // Holds source's pixel block too (L_ShareBitmap), with its own palette and region and
    // source's logical depth: for work that only writes through functions which give a
    // shared bitmap a block of its own first.
    L_INT ShareX(const TLeadBitmapX& source);
    // Brings freshly entered pixels to the model's storage rule: 8 bits or less stay as
    // they are; anything else becomes 32 bits with alpha (opaque unless it was 32 bits
    // already). Sets LogicalBpp when it is still 0.
    L_INT NormalizeDepth();
    // Loads a file (any depth the toolkit reads), normalised and stored top-down.
    L_INT LoadFile(const char* path);

    // The depth the user sees, reports and saves; 0 only in planes extracted for channel
    // editing, where it means "8 bits or less" like 8 does.
    L_INT LogicalBpp = 0;
};
