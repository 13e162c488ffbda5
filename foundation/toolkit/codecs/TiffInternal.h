// What the TIFF reader and writer share: libtiff handles over bytes in memory whose
// errors are collected instead of printed, the buffer both decode and encode into, the file
// types the family covers, and the codec's entry points.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include <tiffio.h>

#include "Codec.h"

namespace lt::codec::tiff {

// libtiff may allocate this much at once while reading a directory or a strip of a file.
// Real tag arrays and strips are far smaller; a small hostile file claiming more is
// refused instead of being allowed to reserve gigabytes.
inline constexpr tmsize_t kBaseAllocLimit = tmsize_t(64) << 20;

// ---------------------------------------------------------------------------
// Memory streams.

struct MemStream {
    const uint8_t* data = nullptr; // reading
    size_t size = 0;
    std::vector<uint8_t>* out = nullptr; // writing
    uint64_t pos = 0;

    size_t Size() const { return out ? out->size() : size; }
};

// libtiff's messages go nowhere; an error only marks the handle as failed.
struct ErrorState {
    bool failed = false;
};

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// A libtiff handle over `s` ("r" reads s->data, "w" writes into s->out), reporting its
// errors in `errors` and allocating at most `allocLimit` bytes at once (no limit when 0).
TiffPtr Open(MemStream* s, const char* mode, ErrorState* errors, tmsize_t allocLimit);

// The most libtiff may allocate at once while reading a file of `fileSize` bytes.
tmsize_t ReadAllocLimit(size_t fileSize);

// Bytes to decode or encode into; a failed allocation is reported, not thrown.
struct Buffer {
    std::unique_ptr<uint8_t[]> p;
    bool Allocate(size_t n) {
        p.reset(new (std::nothrow) uint8_t[std::max<size_t>(n, 1)]);
        return p != nullptr;
    }
};

// The groups of TIFF file types, by compression or colour space.
inline bool IsFax(int format) {
    return format == FILE_CCITT || format == FILE_CCITT_GROUP3_1DIM ||
           format == FILE_CCITT_GROUP3_2DIM || format == FILE_CCITT_GROUP4;
}

inline bool IsJtif(int format) {
    return format == FILE_JTIF || format == FILE_LEAD2JTIF || format == FILE_LEAD1JTIF;
}
inline bool IsCmyk(int format) {
    return format == FILE_TIF_CMYK || format == FILE_TIFLZW_CMYK ||
           format == FILE_TIF_PACKBITS_CMYK;
}
inline bool IsYcc(int format) {
    return format == FILE_TIF_YCC || format == FILE_TIFLZW_YCC || format == FILE_TIF_PACKBITS_YCC ||
           format == FILE_EXIF_YCC;
}

// The codec's entry points (see Codec).
int Info(const uint8_t* data, size_t size, FILEINFO* info);
int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx);
int Stamp(const uint8_t* data, size_t size, BITMAPHANDLE* out);
bool CanSave(int format, int bpp);
int Save(const BITMAPHANDLE* b, int format, int qfactor, std::vector<uint8_t>& out);

} // namespace lt::codec::tiff
