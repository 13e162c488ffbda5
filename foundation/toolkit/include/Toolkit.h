// Quillo imaging toolkit: the bitmap record and the L_* calls the program is built on.
//
// Conventions shared by every function here:
//  - A function returns SUCCESS (1) or a negative error code (see ErrorCodes.h).
//  - Pixels are stored blue-green-red(-alpha); rows are padded to 4 bytes.
//  - A COLORREF has red in the low byte; with 0x01000000 set it names a palette
//    index held in the low byte instead (PALETTEINDEX).
//  - Row 0 of the image is its top row. A bitmap whose ViewPerspective is
//    BOTTOM_LEFT stores that row last in memory; L_RowPtr hides the difference.
//  - An operation that writes pixels into a bitmap writes only inside the
//    bitmap's region when it has one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ErrorCodes.h"

// ---------------------------------------------------------------------------
// Basic value types.

using L_INT = int;
using L_UINT = unsigned int;
using COLORREF = uint32_t;

struct RGBQUAD {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};

struct RECT {
    int left = 0, top = 0, right = 0, bottom = 0;
};

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
    return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) { return uint8_t(c); }
constexpr uint8_t GetGValue(COLORREF c) { return uint8_t(c >> 8); }
constexpr uint8_t GetBValue(COLORREF c) { return uint8_t(c >> 16); }
constexpr COLORREF PALETTEINDEX(unsigned i) { return 0x01000000u | (i & 0xFFu); }
constexpr bool IsPaletteIndex(COLORREF c) { return (c & 0x01000000u) != 0; }

// ---------------------------------------------------------------------------
// Regions.
//
// A region is a set of pixels kept as sorted, non-overlapping horizontal spans.
// The toolkit hands out HRGN values (L_GetBitmapRgnHandle); the caller frees
// them with L_DeleteRgn. A bitmap's region is in the bitmap's own coordinates.

class LRegion;
using HRGN = LRegion*;

enum : L_UINT {
    L_RGN_AND = 0, // keep what is in both the existing and the new region
    L_RGN_SET = 1, // replace the existing region
    L_RGN_ANDNOTBITMAP =
        2, // the new region's complement within the bitmap, intersected with the existing one
    L_RGN_ANDNOTRGN = 3, // existing region minus the new one
    L_RGN_OR = 4,        // union
    L_RGN_XOR = 5,       // symmetric difference
    L_RGN_SETNOT = 6,    // replace with the complement of the new region (within the bitmap)
};

// Maps region coordinates to bitmap coordinates:
//   bitmap x = x * XScalarNum / XScalarDen + XOffset (likewise for y).
// uViewPerspective of 0 or TOP_LEFT means the source rows are top-down; BOTTOM_LEFT
// flips the source vertically first.
struct RGNXFORM {
    L_UINT uViewPerspective = 0;
    L_INT nXScalarNum = 1, nXScalarDen = 1;
    L_INT nYScalarNum = 1, nYScalarDen = 1;
    L_INT nXOffset = 0, nYOffset = 0;
};

// ---------------------------------------------------------------------------
// The bitmap record.

enum : L_INT {
    TOP_LEFT = 1,
    BOTTOM_LEFT = 4,
};

enum : L_INT {
    ORDER_RGB = 0,
    ORDER_BGR = 1,
    ORDER_GRAY = 2,
};

enum : L_UINT {
    TYPE_CONV = 1, // conventional memory; the only kind we have
};

struct BITMAPFLAGS {
    bool Allocated = false;
};

struct struct_LEAD_Bitmap {
    L_INT Width = 0;
    L_INT Height = 0;
    L_INT BitsPerPixel = 0; // 1, 4, 8, 16, 24 or 32
    L_INT BytesPerLine = 0; // padded to a multiple of 4
    L_INT ViewPerspective = TOP_LEFT;
    L_INT Order = ORDER_BGR;
    L_INT XResolution = 96; // dots per inch
    L_INT YResolution = 96;
    L_UINT nColors = 0;          // entries in pPalette (bitmaps of 8 bits or less)
    RGBQUAD* pPalette = nullptr; // owned by the bitmap, 2^bpp entries allocated
    HRGN pRgn = nullptr;         // owned by the bitmap; nullptr = whole rectangle
    uint8_t* Addr = nullptr;     // pixel block, Height * BytesPerLine bytes
    size_t Size = 0;             // bytes in Addr
    BITMAPFLAGS Flags;
};
using BITMAPHANDLE = struct_LEAD_Bitmap;
using pBITMAPHANDLE = struct_LEAD_Bitmap*;

// Limits every decoder and allocator applies before it allocates. Settable so
// that a user can open bigger images deliberately.
struct L_LIMITS {
    L_INT MaxSide = 32768;
    uint64_t MaxPixels = 256ull * 1024 * 1024;
};
L_LIMITS L_GetLimits();
void L_SetLimits(const L_LIMITS& limits);

// Size helpers: the one place where image sizes are multiplied. They return
// false on overflow or when a limit is exceeded.
bool L_CheckedMul(size_t a, size_t b, size_t* out);
// Bytes per padded row for a width and depth; false on overflow.
bool L_BytesPerLine(L_INT width, L_INT bpp, L_INT* out);
// Checks a width/height/depth against the limits and computes the pixel block size.
// Returns SUCCESS, ERROR_INV_RANGE (bad or too large dimensions), or ERROR_BITPERPIXEL.
L_INT L_CheckImageSize(L_INT width, L_INT height, L_INT bpp, size_t* bytes, L_INT* bytesPerLine);

// Pointer to the first byte of image row y (0 = top) honouring ViewPerspective.
uint8_t* L_RowPtr(const BITMAPHANDLE* b, L_INT y);

// ---------------------------------------------------------------------------
// Lifetime.

// Resets the record to an empty, unallocated bitmap with the given size and depth.
L_INT L_InitBitmap(pBITMAPHANDLE b, L_INT width, L_INT height, L_INT bpp);
// Allocates a zero-filled bitmap. pPalette (2^bpp entries) may be null: bitmaps of 8 bits
// or less then get the fixed palette of their depth. nViewPerspective 0 means TOP_LEFT.
// Any old content of the record is ignored, not freed.
L_INT L_CreateBitmap(pBITMAPHANDLE b, L_UINT memory, L_INT width, L_INT height, L_INT bpp,
                     L_INT order, const RGBQUAD* pPalette, L_INT nViewPerspective);
// Frees the pixels, palette and region and leaves the record empty. Safe on an empty record.
void L_FreeBitmap(pBITMAPHANDLE b);
// Deep copy, region included. dst's old content is ignored, not freed.
L_INT L_CopyBitmap(pBITMAPHANDLE dst, const BITMAPHANDLE* src);
// A record like src holding src's pixel block too, with its own palette and region: the
// block is freed with the last record that holds it. No holder may write into a shared
// block; L_UnshareBitmap first. dst's old content is ignored, not freed.
L_INT L_ShareBitmap(pBITMAPHANDLE dst, const BITMAPHANDLE* src);
// Another record holds b's pixel block too.
bool L_IsBitmapShared(const BITMAPHANDLE* b);
// Gives b a pixel block of its own, a copy, when it shares one (otherwise does nothing).
// The copy goes into spare's block when spare (may be null) has one of the same size that
// no other record holds; spare is then left without pixels. ERROR_NO_MEMORY leaves b as
// it was.
L_INT L_UnshareBitmap(pBITMAPHANDLE b, pBITMAPHANDLE spare = nullptr);
// Shallow copy: dst shares src's pixels, palette and region. Exactly one of the two may be freed.
L_INT L_CopyBitmapHandle(pBITMAPHANDLE dst, const BITMAPHANDLE* src);
// A new bitmap holding the given rectangle of src (clipped to src); it carries the
// part of src's region inside the rectangle, in its own coordinates.
L_INT L_CopyBitmapRect(pBITMAPHANDLE dst, const BITMAPHANDLE* src, L_INT x, L_INT y, L_INT width,
                       L_INT height);

// Device-independent bitmaps (clipboard interchange): a BITMAPINFOHEADER followed by
// the colour table and bottom-up rows.
struct BITMAPINFOHEADER {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
// Packs the bitmap into one malloc'ed DIB block (header, colour table, bits) and frees
// the bitmap. Returns null on failure (the bitmap is then left untouched).
uint8_t* L_ChangeToDIB(pBITMAPHANDLE b, size_t* size);
// Builds a bitmap from a DIB header (with its colour table or masks right after it) and
// its bits. A DIB comes from other programs, so the caller says how many bytes the header
// block (header and table) and the bits have; a DIB that claims more of either is refused
// (ERROR_FILE_FORMAT) before anything is allocated.
L_INT L_ConvertFromDIB(pBITMAPHANDLE b, const BITMAPINFOHEADER* info, size_t infoBytes,
                       const uint8_t* bits, size_t bitsBytes);

// ---------------------------------------------------------------------------
// Pixels.

L_INT L_AccessBitmap(pBITMAPHANDLE b);
L_INT L_ReleaseBitmap(pBITMAPHANDLE b);
// Copies up to `bytes` bytes of row nRow starting at pixel column nCol (whole bytes of
// the stored format). Returns the number of bytes copied or an error code.
L_INT L_GetBitmapRowCol(const BITMAPHANDLE* b, uint8_t* buffer, L_INT nRow, L_INT nCol,
                        L_UINT bytes);
L_INT L_PutBitmapRowCol(pBITMAPHANDLE b, const uint8_t* buffer, L_INT nRow, L_INT nCol,
                        L_UINT bytes);
// The RGB colour of a pixel (palette entries resolved). Returns 0 outside the bitmap.
COLORREF L_GetPixelColor(const BITMAPHANDLE* b, L_INT nRow, L_INT nCol);
// Writes a colour (nearest palette entry at 8 bits or less, unless a PALETTEINDEX).
// The alpha byte of a 32-bit pixel is left unchanged.
L_INT L_PutPixelColor(pBITMAPHANDLE b, L_INT nRow, L_INT nCol, COLORREF color);
// The alpha plane as a new 8-bit gray bitmap (16-bit bitmaps: the top bit as 0/255;
// other depths: all 255). pAlpha's old content is ignored.
L_INT L_GetBitmapAlpha(const BITMAPHANDLE* b, pBITMAPHANDLE pAlpha);
// Replaces the alpha plane of a 16 or 32-bit bitmap from an 8-bit bitmap of the same size
// (palette indices resolved to gray levels).
L_INT L_SetBitmapAlpha(pBITMAPHANDLE b, const BITMAPHANDLE* pAlpha);

// ---------------------------------------------------------------------------
// Colour.

// L_ColorResBitmap flags.
enum : L_UINT {
    CRF_FIXEDPALETTE = 0x0001,
    CRF_OPTIMIZEDPALETTE = 0x0002,
    CRF_BYTEORDERBGR = 0x0004, // plain true colour (blue-green-red) above 8 bits
    CRF_IDENTITYPALETTE = 0x0008,
    CRF_USERPALETTE = 0x0010, // pPalette/uColors give the target palette
    CRF_NETSCAPEPALETTE = 0x0040,
    CRF_NODITHERING = 0x00000,
    CRF_FLOYDSTEINDITHERING = 0x10000,
    CRF_STUCKIDITHERING = 0x20000,
    CRF_BURKESDITHERING = 0x30000,
    CRF_SIERRADITHERING = 0x40000,
    CRF_STEVENSONARCEDITHERING = 0x50000,
    CRF_JARVISDITHERING = 0x60000,
    CRF_ORDEREDDITHERING = 0x70000,
    CRF_DITHERMASK = 0xF0000,
};
// Converts src to nBitsPerPixel into dst (dst may be src: in place). dst's old content
// is ignored unless dst == src. The region is kept; 32 -> 32 keeps alpha; conversion
// to 32 bits from another depth gives opaque alpha.
L_INT L_ColorResBitmap(const BITMAPHANDLE* src, pBITMAPHANDLE dst, L_INT nBitsPerPixel,
                       L_UINT uFlags, const RGBQUAD* pPalette, L_UINT uColors);
L_INT L_GetBitmapColors(const BITMAPHANDLE* b, L_INT nIndex, L_INT nCount, RGBQUAD* pPalette);
L_INT L_PutBitmapColors(pBITMAPHANDLE b, L_INT nIndex, L_INT nCount, const RGBQUAD* pPalette);
// The fixed palette of a depth (2, 16 or 256 entries for 1, 4, 8 bits).
L_INT L_GetFixedPalette(RGBQUAD* pPalette, L_INT nBitsPerPixel);

// A palette record the display can realise: the colours a screen of 8 bits or less
// should use to show the bitmap. Free with L_DeletePaintPalette.
struct LPAINTPALETTE {
    L_UINT nColors = 0;
    RGBQUAD Entries[256];
};
using HPALETTE = LPAINTPALETTE*;
struct LDEVICE; // the software device context (drawing into bitmaps); may be null here
HPALETTE L_CreatePaintPalette(LDEVICE* hDC, const BITMAPHANDLE* b);
void L_DeletePaintPalette(HPALETTE hPalette);

// Converts to an 8-bit (the default) gray bitmap with an ordered gray palette.
L_INT L_GrayScaleBitmap(pBITMAPHANDLE b, L_INT nBitsPerPixel = 8);
enum : L_INT {
    GRAY_NO = 0,
    GRAY_ORDEREDNORMAL = 1,  // palette entry i is gray level i * 255 / (colours - 1)
    GRAY_ORDEREDINVERSE = 2, // the same, reversed
    GRAY_NOTORDERED = 3,     // all entries gray, in another order
};
L_INT L_IsGrayScaleBitmap(const BITMAPHANDLE* b);

// Colour separation: a bitmap of 24 or 32 bits (or any depth, converted first) into 8-bit
// gray planes with the gray ramp palette, and back. planes points to an array of 3 records
// (4 for CMYK); their old content is ignored by the separation. A merge gives a 24-bit
// bitmap (dst's old content is ignored). An unedited separate-then-merge gives the same
// pixels back (within one level where the colour model rounds).
enum : L_UINT {
    COLORSEP_RGB = 0,  // red, green, blue
    COLORSEP_CMYK = 1, // cyan, magenta, yellow, black
    COLORSEP_HSV = 2,  // hue (0..255 for the circle), saturation, value
    COLORSEP_HLS = 3,  // hue, lightness, saturation
    COLORSEP_CMY = 4,  // cyan, magenta, yellow
};
L_INT L_ColorSeparateBitmap(const BITMAPHANDLE* b, BITMAPHANDLE* planes, L_UINT uType);
L_INT L_ColorMergeBitmap(BITMAPHANDLE* dst, const BITMAPHANDLE* planes, L_UINT uType);

// ---------------------------------------------------------------------------
// Regions.

L_INT L_BitmapHasRgn(const BITMAPHANDLE* b);
L_INT L_FreeBitmapRgn(pBITMAPHANDLE b);
L_INT L_SetBitmapRgnRect(pBITMAPHANDLE b, const RGNXFORM* pXForm, const RECT* pRect,
                         L_UINT uCombineMode);
// The region of the pixels whose colour equals crColor (or palette index, with PALETTEINDEX).
L_INT L_SetBitmapRgnColor(pBITMAPHANDLE b, COLORREF crColor, L_UINT uCombineMode);
// The region of the non-zero pixels of a mask (any depth; 1-bit masks are the usual case).
L_INT L_SetBitmapRgnFromMask(pBITMAPHANDLE b, const RGNXFORM* pXForm, const BITMAPHANDLE* pMask,
                             L_UINT uCombineMode);
L_INT L_SetBitmapRgnHandle(pBITMAPHANDLE b, const RGNXFORM* pXForm, HRGN hRgn, L_UINT uCombineMode);
// A new region handle (copy of the bitmap's region, transformed); free with L_DeleteRgn.
L_INT L_GetBitmapRgnHandle(const BITMAPHANDLE* b, const RGNXFORM* pXForm, HRGN* phRgn);
// Bounds of the region, or of the whole bitmap without one.
L_INT L_GetBitmapRgnBounds(const BITMAPHANDLE* b, const RGNXFORM* pXForm, RECT* pRect);
L_INT L_IsPtInBitmapRgn(const BITMAPHANDLE* b, L_INT nRow, L_INT nCol);
// A 1-bit mask of the bitmap's size: set inside the region (everywhere without one).
L_INT L_CreateMaskFromBitmapRgn(const BITMAPHANDLE* b, pBITMAPHANDLE pMask);

// Region handles on their own (used by callers that move regions between bitmaps).
HRGN L_CreateRectRgn(const RECT& rc);
HRGN L_CopyRgn(HRGN hRgn);
void L_DeleteRgn(HRGN hRgn);
void L_OffsetRgn(HRGN hRgn, L_INT dx, L_INT dy);
// dst = a OP b with the same combine modes as above (SETNOT and ANDNOTBITMAP are not valid here).
L_INT L_CombineRgn(HRGN dst, HRGN a, HRGN b, L_UINT uCombineMode);
bool L_IsRgnEmpty(HRGN hRgn);
RECT L_GetRgnBox(HRGN hRgn);
bool L_PtInRgn(HRGN hRgn, L_INT x, L_INT y);

// ---------------------------------------------------------------------------
// Geometry.

enum : L_UINT {
    SIZE_NORMAL = 0x0000, // nearest neighbour
    SIZE_FAVORBLACK = 0x0001,
    SIZE_RESAMPLE = 0x0002, // bilinear (areas averaged when shrinking)
    SIZE_BICUBIC = 0x0004,
};
// Resizes in place. The region is scaled with the bitmap.
L_INT L_SizeBitmap(pBITMAPHANDLE b, L_INT width, L_INT height, L_UINT uFlags);
// Resizes in place with resampling (areas averaged, colours interpolated; palette bitmaps
// come back at their depth and palette).
L_INT L_ResampleBitmap(pBITMAPHANDLE b, L_INT width, L_INT height);
enum : L_UINT {
    ROTATE_RESIZE = 0x0001, // grow the bitmap so nothing is cut off
    ROTATE_RESAMPLE = 0x0002,
    ROTATE_OPAQUE_FILL = 0x0004, // at 32 bits the fill is opaque (otherwise transparent)
};
// Rotates by nAngle hundredths of a degree clockwise; uncovered pixels take crFill.
L_INT L_RotateBitmap(pBITMAPHANDLE b, L_INT nAngle, L_UINT uFlags, COLORREF crFill = 0);
// Shears by nAngle hundredths of a degree (-4500..4500); fHorizontal shifts rows.
L_INT L_ShearBitmap(pBITMAPHANDLE b, L_INT nAngle, bool fHorizontal, COLORREF crFill);
L_INT L_FlipBitmap(pBITMAPHANDLE b);    // top to bottom
L_INT L_ReverseBitmap(pBITMAPHANDLE b); // left to right
// Stores src's rows in the given order in dst (dst null: in place). 0 normalises to TOP_LEFT.
// The image as seen through L_RowPtr does not change.
L_INT L_ChangeBitmapViewPerspective(pBITMAPHANDLE dst, pBITMAPHANDLE src, L_INT nViewPerspective);

// L_CombineBitmap operations.
enum : L_UINT {
    CB_OP_AND = 0x000,       // dst = dst AND src
    CB_OP_ANDNOTSRC = 0x001, // dst = dst AND NOT src (subtract a mask)
    CB_OP_OR = 0x100,        // dst = dst OR src (add a mask)
    CB_OP_NOTSRC = 0x121,    // dst = NOT src (select outside)
    CB_OP_COPY = 0x320,      // src replaces dst (800)
    CB_OP_MULTIPLY = 0x600,  // dst = dst * src / 255 per channel
};
// Combines the rectangle (xSrc, ySrc, width, height) of src onto dst at (xDst, yDst).
// Only pixels inside dst's region and inside src's region are written. Logical and
// multiply operations work on the stored bits of bitmaps of equal depth; the copy
// converts colours to dst's depth and palette.
L_INT L_CombineBitmap(pBITMAPHANDLE dst, L_INT xDst, L_INT yDst, L_INT width, L_INT height,
                      const BITMAPHANDLE* src, L_INT xSrc, L_INT ySrc, L_UINT uFlags);
// Fills the bitmap (inside its region) with a colour. 32-bit pixels keep their alpha.
L_INT L_FillBitmap(pBITMAPHANDLE b, COLORREF color);
enum : L_UINT {
    UB_TILE = 0x0000,
    UB_STRETCH = 0x0001,
};
// Multiplies the bitmap with a tiled (or stretched) underlay image, like paper texture.
L_INT L_UnderlayBitmap(pBITMAPHANDLE b, const BITMAPHANDLE* underlay, L_UINT uFlags);

// ---------------------------------------------------------------------------
// Status callback: long operations report a percentage 0..100; a return value other
// than SUCCESS cancels the operation. It then fails with the callback's value when that is
// an error code (negative), else with ERROR_USER_ABORT.

using STATUSCALLBACK = L_INT (*)(L_INT nPercent, void* pUserData);
L_INT L_SetStatusCallBack(STATUSCALLBACK pfn, void* pUserData, STATUSCALLBACK* pOldFn = nullptr,
                          void** pOldUserData = nullptr);
// Reports progress through the current callback; returns SUCCESS or the code the operation
// is to fail with. Only the thread that registered the callback reaches it: work on any
// other thread reports nothing and is never cancelled by it.
L_INT L_ReportStatus(L_INT nPercent);

// Display modes (screen painting options); kept as a set of flags.
L_INT L_SetDisplayMode(L_UINT uMask, L_UINT uValues);
L_UINT L_GetDisplayMode();

// ---------------------------------------------------------------------------
// Files.

enum : L_INT {
    FILE_PCX = 1,        // PCX, and the first page of a DCX
    FILE_GIF = 2,        // first frame (read only)
    FILE_TIF = 3,        // uncompressed
    FILE_TGA = 4,        // TARGA
    FILE_BMP = 6,        // Windows
    FILE_JFIF = 10,      // JPEG, 4:4:4 or gray
    FILE_LEAD2JFIF = 21, // JPEG, 4:2:2
    FILE_LEAD1JFIF = 23, // JPEG, 4:2:0 / 4:1:1
    FILE_JTIF = 11,      // JPEG inside TIFF, 4:4:4 or gray
    FILE_LEAD2JTIF = 22, // JPEG inside TIFF, 4:2:2
    FILE_LEAD1JTIF = 24, // JPEG inside TIFF, 4:2:0
    FILE_OS2 = 14,       // OS/2 1.x bitmap
    FILE_CMP = 20,       // Quillo's own compressed picture: JPEG-coded, 8 or 24 bits
    FILE_CMP_1BIT = 26,  // ... group 4 coded, 1 bit
    FILE_EPS = 16,       // Encapsulated PostScript, rendered (read only)
    FILE_TIFLZW = 17,
    FILE_CCITT = 25,             // TIFF, one-dimensional fax rows, each on a new byte
    FILE_CCITT_GROUP3_1DIM = 27, // TIFF, group 3 one-dimensional
    FILE_CCITT_GROUP3_2DIM = 28, // TIFF, group 3 two-dimensional
    FILE_CCITT_GROUP4 = 29,      // TIFF, group 4
    FILE_CALS = 50,              // CALS raster type 1 (group 4)
    FILE_MACPAINT = 51,          // MacPaint, with or without a MacBinary header
    FILE_GEM = 52,               // GEM bit image
    FILE_MSP = 53,               // Microsoft Paint, versions 1 and 2
    FILE_WPG = 54,               // WordPerfect graphics: its first bitmap record
    FILE_SUN_RAS = 55,           // SUN raster
    FILE_PICT = 56,              // Macintosh PICT, versions 1 and 2
    FILE_PCD = 57,               // Photo CD image pack: its Base picture (read only)
    FILE_EPS_PREVIEW = 63,       // DOS Encapsulated PostScript read as its TIFF preview
    FILE_MODCA_G3_1DIM = 71,     // IOCA image in a MO:DCA document, group 3 one-dimensional
    FILE_MODCA_G3_2DIM = 72,     // ... group 3 two-dimensional
    FILE_MODCA_G4 = 73,          // ... group 4
    FILE_IOCA_G3_1DIM = 77,      // IOCA image segment alone, group 3 one-dimensional
    FILE_IOCA_G3_2DIM = 78,      // ... group 3 two-dimensional
    FILE_IOCA_G4 = 79,           // ... group 4
    FILE_OS2_2 = 74,             // OS/2 2.x bitmap (read only)
    FILE_PNG = 75,
    FILE_PSD = 76, // PhotoShop document: its merged picture
    FILE_TIF_CMYK = 85,    // TIFF, CMYK inks (and alpha at 32 bits), uncompressed
    FILE_TIFLZW_CMYK = 86, // ... LZW
    FILE_TIF_PACKBITS = 87,
    FILE_TIF_PACKBITS_CMYK = 88, // ... PackBits
    FILE_TIF_YCC = 93,           // TIFF, YCbCr, uncompressed
    FILE_TIFLZW_YCC = 94,        // ... LZW
    FILE_TIF_PACKBITS_YCC = 95,  // ... PackBits
    FILE_EXIF = 96,              // Exif TIFF, RGB, with an Exif block and a thumbnail
    FILE_EXIF_YCC = 97,          // Exif TIFF, YCbCr
    FILE_EXIF_JPEG = 98,         // Exif JPEG: an Exif block with a JPEG thumbnail, 4:2:2
    FILE_FPX = 80,      // FlashPix, raw tiles
    FILE_FPX_JPEG = 82, // FlashPix, JPEG tiles
};

struct FILEINFO {
    L_INT Format = 0;
    L_INT Width = 0;
    L_INT Height = 0;
    L_INT BitsPerPixel = 0;
    L_INT BytesPerLine = 0;
    L_INT ViewPerspective = TOP_LEFT;
    L_INT Order = ORDER_BGR;
    L_INT XResolution = 0;
    L_INT YResolution = 0;
    L_INT Colors = 0;      // palette entries stored in the file (0 above 8 bits)
    L_INT Compression = 0; // format-specific
    L_INT Passes = 1;      // 1, or more for interlaced/progressive files
    L_INT PageCount = 1;
    uint64_t SizeDisk = 0; // bytes of the file
    uint64_t SizeMem = 0;  // bytes of the decoded bitmap
    char Name[256] = {};
};

// L_LoadFile flags.
enum : L_UINT {
    LOADFILE_ALLOCATE = 0x0001, // allocate the bitmap
    LOADFILE_STORE = 0x0002,    // store the decoded rows in it
};
// Row callback flags.
enum : L_UINT {
    FILEREAD_FIRSTPASS = 0x0001,
    FILEREAD_LASTPASS = 0x0002,
    FILEREAD_FIRSTROW = 0x0004,
    FILEREAD_LASTROW = 0x0008,
};
// Called as rows arrive: the rows [nRow, nRow + nLines) of pass `flags` are in pBuffer
// (in the bitmap's stored format). Returning anything but SUCCESS aborts the load
// with that code.
using FILEREADCALLBACK = L_INT (*)(FILEINFO* pInfo, pBITMAPHANDLE b, uint8_t* pBuffer,
                                   L_UINT uFlags, L_INT nRow, L_INT nLines, void* pUserData);

// Loads a file (its format detected from the content). nBitsPerPixel 0 keeps the file's
// depth; otherwise the result is converted to it. On failure the bitmap is left empty.
L_INT L_LoadFile(const char* path, pBITMAPHANDLE b, L_INT nBitsPerPixel, L_INT nOrder,
                 L_UINT uFlags, FILEREADCALLBACK pfn, void* pUserData);
L_INT L_LoadBitmap(const char* path, pBITMAPHANDLE b, L_INT nBitsPerPixel, L_INT nOrder);
L_INT L_LoadBitmapMemory(const uint8_t* buffer, pBITMAPHANDLE b, L_INT nBitsPerPixel, L_INT nOrder,
                         size_t size);
// What the last load on this thread had to put up with; 0 after a clean load.
enum : L_UINT {
    // The file ended before the picture did: the rows it holds were decoded and the rest
    // filled with gray. A file that ends before its first row fails instead.
    LOADWARN_TRUNCATED = 0x0001,
};
L_UINT L_GetLoadWarnings();
// The memory a decoder may take for a file of this many bytes before its data has shown
// that it really describes more: 64 MiB plus 2000 bytes per byte of file, beyond what
// run-length, deflate, LZW or JPEG coding of a real picture expand to. A header of a few
// bytes claiming a huge picture is refused instead of costing gigabytes.
uint64_t L_DecodeBudget(uint64_t fileBytes);
L_INT L_FileInfo(const char* path, FILEINFO* pInfo);
L_INT L_FileInfoMemory(const uint8_t* buffer, size_t size, FILEINFO* pInfo);
// Saves in a format (the codes above). nBitsPerPixel 0 keeps the bitmap's depth;
// a depth the format cannot store is refused with ERROR_BITPERPIXEL. QFactor is
// the JPEG quality factor: 2 (best) .. 255 (smallest); 0 means best. The file is
// written through L_WriteFileAtomically, so a failed save leaves an existing file untouched.
L_INT L_SaveBitmap(const char* path, pBITMAPHANDLE b, L_INT nFormat, L_INT nBitsPerPixel,
                   L_INT nQFactor);
// Writes bytes to a file the safe way: the new file is written without a name (or, where the
// filesystem cannot, under a short hidden name in the same folder), flushed to disk, then
// renamed over the target. The target is always either the old file or the complete new one,
// whatever happens meanwhile; a failure leaves nothing behind, and temporaries of a killed
// save are removed by the next save into that folder. A symbolic link stays a link: the file
// it leads to is replaced. A target that is a folder, a device or a pipe is refused before
// anything is written. The replaced file keeps its permission bits (and owner, where the
// system allows); a new one gets 0666 & ~umask. ERROR_FILE_WRITE on failure, with the cause
// in L_GetLastWriteError.
L_INT L_WriteFileAtomically(const char* path, const uint8_t* data, size_t size);
// The cause of the last failed file write on this thread: an errno value (EACCES, ENOSPC,
// EFBIG, ENAMETOOLONG, ...), WRITE_ERROR_NOT_REGULAR for a target that is not a regular file,
// or 0 after a write that succeeded or failed for another reason.
constexpr L_INT WRITE_ERROR_NOT_REGULAR = -1;
L_INT L_GetLastWriteError();
void L_ClearLastWriteError();
// A short English sentence naming such a cause ("The disk is full."); "" for 0.
const char* L_WriteErrorText(L_INT cause);
// Saves into a malloc'ed buffer (free with free()).
L_INT L_SaveBitmapMemory(uint8_t** ppBuffer, pBITMAPHANDLE b, L_INT nFormat, L_INT nBitsPerPixel,
                         L_INT nQFactor, size_t* pSize);
// Loads the thumbnail stored in the file (ERROR_NO_STAMP when it has none).
L_INT L_GetCompressFileStamp(const char* path, pBITMAPHANDLE b, L_INT nBitsPerPixel);

// Extended file options: the resolution written into files without one of their own.
struct EXTFILEOPTIONS {
    L_INT XResolution = 72;
    L_INT YResolution = 72;
    L_INT PageNumber = 1;
};
L_INT L_GetExtFileOption(EXTFILEOPTIONS* pOptions);
L_INT L_SetExtFileOption(const EXTFILEOPTIONS* pOptions);
