// The interface every file codec implements, and what the file functions give them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "BitmapInternal.h"
#include "Ccitt.h"
#include "Toolkit.h"

namespace lt::codec {

// Passed to a decoder: where rows are reported as they are decoded.
class LoadContext {
public:
    LoadContext(FILEREADCALLBACK cb, void* user, FILEINFO* info, size_t fileSize)
        : cb_(cb), user_(user), info_(info), budget_(L_DecodeBudget(fileSize)) {}

    // What the decoder may allocate in all, the bitmap included (see L_DecodeBudget).
    uint64_t Budget() const { return budget_; }
    // ERROR_FILE_FORMAT when `bytes` more than the bitmap would exceed the budget.
    int CheckWorkingMemory(uint64_t bytes, const BITMAPHANDLE* b) const {
        const uint64_t bitmap = b ? uint64_t(b->Size) : 0;
        return bytes <= budget_ && bitmap <= budget_ - bytes ? SUCCESS : ERROR_FILE_FORMAT;
    }

    // The data ended after `rowsDecoded` rows of real pixels: rows [first, last) of the
    // bitmap were never written and are filled with gray. Returns SUCCESS, or
    // ERROR_FILE_FORMAT when not a single row came from the file.
    int EndedEarly(BITMAPHANDLE* b, int rowsDecoded, int first, int last);
    bool Truncated() const { return truncated_; }
    // The end of a top-down decode that wrote rows [0, rowsRead) of `height`: fills the rest
    // as EndedEarly does, reports the rows in bands, and frees the bitmap when that fails
    // or `rc` already says the decode failed.
    int FinishRows(BITMAPHANDLE* b, int rowsRead, int height, int rc);

    // Reports rows [row, row + lines) of pass `pass` (0-based) out of `passes` as
    // finished in bitmap b. Decoders call it in row order within a pass. Returns
    // SUCCESS, or the callback's code when it asks to stop (the decoder then fails
    // with that code).
    int Rows(BITMAPHANDLE* b, int row, int lines, int pass, int passes) {
        if (!cb_ || lines <= 0) return SUCCESS;
        L_UINT flags = 0;
        if (pass == 0) flags |= FILEREAD_FIRSTPASS;
        if (pass == passes - 1) flags |= FILEREAD_LASTPASS;
        if (row == 0) flags |= FILEREAD_FIRSTROW;
        if (row + lines >= b->Height) flags |= FILEREAD_LASTROW;
        int rc = cb_(info_, b, L_RowPtr(b, row), flags, row, lines, user_);
        return rc == SUCCESS ? SUCCESS : rc;
    }

private:
    FILEREADCALLBACK cb_;
    void* user_;
    FILEINFO* info_;
    uint64_t budget_;
    bool truncated_ = false;
};

// Fills rows [first, last) with mid gray at the bitmap's depth (the palette entry nearest
// to it below 16 bits).
void FillGrayRows(BITMAPHANDLE* b, int first, int last);

struct Codec {
    const char* name;
    // True when the bytes start like a file of this codec.
    bool (*Sniff)(const uint8_t* data, size_t size);
    // Fills Format, Width, Height, BitsPerPixel, Colors, Compression, Passes, XResolution,
    // YResolution (others are filled by the caller). Never allocates image-sized memory.
    int (*Info)(const uint8_t* data, size_t size, FILEINFO* info);
    // Decodes into *out at the file's own depth, top-left row order, BGR(A), with the
    // file's palette. Checks every declared size against the data and L_GetLimits()
    // before allocating. On failure *out is left empty (L_InitBitmap state).
    int (*Load)(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx);
    // True when this codec writes `format` at `bpp` bits per pixel.
    bool (*CanSave)(int format, int bpp);
    // Encodes a bitmap that already has the depth to write. qfactor as in L_SaveBitmap.
    int (*Save)(const BITMAPHANDLE* b, int format, int qfactor, std::vector<uint8_t>& out);
    // Decodes the thumbnail stored in the file, or returns ERROR_NO_STAMP. May be null.
    int (*Stamp)(const uint8_t* data, size_t size, BITMAPHANDLE* out);
    // True when this codec reads files of `format` (for L_SaveBitmap's format check).
    bool (*HandlesFormat)(int format);
};

// One instance per codec, defined in its source file.
extern const Codec kBmpCodec;
extern const Codec kPngCodec;
extern const Codec kJpegCodec;
extern const Codec kTiffCodec;
extern const Codec kPcxCodec;
extern const Codec kSunCodec;
extern const Codec kTgaCodec;
extern const Codec kCalsCodec;
extern const Codec kGifCodec;
extern const Codec kPsdCodec;
extern const Codec kMacPaintCodec;
extern const Codec kGemCodec;
extern const Codec kMspCodec;
extern const Codec kPictCodec;
extern const Codec kCmpCodec;
extern const Codec kIocaCodec;
extern const Codec kModcaCodec;
extern const Codec kWpgCodec;
extern const Codec kEpsCodec;
extern const Codec kPcdCodec;
extern const Codec kFpxCodec;
extern const Codec kFaxCodec;

// Fax pages in our .fxs container (the "WinFax images" type): group 3 two-dimensional and
// one-dimensional.
constexpr int FILE_WINFAX_G3_2DIM = 69;
constexpr int FILE_WINFAX_G3_1DIM = 70;

// Saving a PCX picture over a DCX file replaces its first page and keeps the others; a new
// file named .dcx gets the container too. `pcx` (the encoded picture) becomes the file's bytes.
int KeepDcxPages(const char* path, std::vector<uint8_t>& pcx);

// A 16-bit value, low byte first, at the end of a file being written.
inline void PutLE16(std::vector<uint8_t>& o, unsigned v) {
    o.push_back(uint8_t(v));
    o.push_back(uint8_t(v >> 8));
}

// Most writers of four planes or 32-bit pixels put a zero alpha in; such a picture is opaque.
// Looks at the first `rows` rows of a 32-bit bitmap.
inline void OpaqueWhenAlphaIsBlank(BITMAPHANDLE* b, int rows) {
    uint8_t any = 0;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = L_RowPtr(b, y);
        for (int x = 0; x < b->Width; ++x) any |= row[4 * x + 3];
    }
    if (any) return;
    for (int y = 0; y < rows; ++y) {
        uint8_t* row = L_RowPtr(b, y);
        for (int x = 0; x < b->Width; ++x) row[4 * x + 3] = 255;
    }
}

// The palette index of a 1-bit bitmap that fax-coded files store as black: the darker one.
inline int BlackIndex(const BITMAPHANDLE* b) {
    if (!b->pPalette) return 0;
    auto level = [](const RGBQUAD& q) {
        return 299 * q.rgbRed + 587 * q.rgbGreen + 114 * q.rgbBlue;
    };
    return level(b->pPalette[0]) <= level(b->pPalette[1]) ? 0 : 1;
}

// Decodes a fax-coded page of width x height into *out: 1 bit, index 0 white, 1 black, with
// the given resolution. A page that ends early keeps what it holds (LoadContext::EndedEarly);
// runs longer than a row fail with ERROR_FILE_FORMAT.
int LoadFaxPage(const uint8_t* data, size_t size, int width, int height, const ccitt::Params& p,
                int xdpi, int ydpi, BITMAPHANDLE* out, LoadContext& ctx);

// Codes a 1-bit bitmap, black being BlackIndex(b), and appends it to `out`.
int SaveFaxPage(const BITMAPHANDLE* b, const ccitt::Params& p, std::vector<uint8_t>& out);

// The libjpeg quality (1 worst to 100 best) for a quality factor of L_SaveBitmap, which
// runs the other way from 2 (best) to 255 (smallest), 0 also meaning best.
inline int JpegQuality(int qfactor) {
    if (qfactor <= 2) return 100;
    return std::clamp(100 - int(std::lround(qfactor * 100.0 / 255.0)), 1, 100);
}

// Every codec, in sniffing order: TARGA, which has no magic number, last.
const std::vector<const Codec*>& AllCodecs();

} // namespace lt::codec
