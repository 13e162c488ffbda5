// Fax-coded pages to and from 1-bit bitmaps, for the file types that wrap such a page in a
// header of their own.
#include <algorithm>
#include <cstring>

#include "Codec.h"

namespace lt::codec {

int LoadFaxPage(const uint8_t* data, size_t size, int width, int height, const ccitt::Params& p,
                int xdpi, int ydpi, BITMAPHANDLE* out, LoadContext& ctx) {
    int rc = L_CheckImageSize(width, height, 1, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    // The decoder keeps two lists of changes and one row besides the bitmap.
    const uint64_t working = 2 * (uint64_t(width) + 4) * sizeof(int) + uint64_t(width) / 8 + 1;
    L_InitBitmap(out, width, height, 1);
    if (ctx.CheckWorkingMemory(working, out) != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return ERROR_FILE_FORMAT;
    }
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    out->pPalette[0] = RGBQUAD{255, 255, 255, 0};
    out->pPalette[1] = RGBQUAD{0, 0, 0, 0};
    out->XResolution = xdpi;
    out->YResolution = ydpi;
    const size_t rowBytes = (size_t(width) + 7) / 8;
    const ccitt::DecodeResult r =
        ccitt::Decode(data, size, width, height, p, [&](int y, const uint8_t* bits) {
            std::memcpy(L_RowPtr(out, y), bits, rowBytes);
            return true;
        });
    switch (r.status) {
        case ccitt::Status::Complete: rc = SUCCESS; break;
        case ccitt::Status::Ended: rc = ctx.EndedEarly(out, r.rows, r.rows, height); break;
        case ccitt::Status::NoMemory: rc = ERROR_NO_MEMORY; break;
        case ccitt::Status::Corrupt: rc = ERROR_FILE_FORMAT; break;
    }
    constexpr int kBand = 64;
    for (int y = 0; rc == SUCCESS && y < height; y += kBand)
        rc = ctx.Rows(out, y, std::min(kBand, height - y), 0, 1);
    if (rc != SUCCESS) {
        L_FreeBitmap(out);
        L_InitBitmap(out, 0, 0, 0);
    }
    return rc;
}

int SaveFaxPage(const BITMAPHANDLE* b, const ccitt::Params& p, std::vector<uint8_t>& out) {
    if (b->BitsPerPixel != 1) return ERROR_BITPERPIXEL;
    const bool invert = BlackIndex(b) == 0;
    const size_t rowBytes = (size_t(b->Width) + 7) / 8;
    const bool ok = ccitt::Encode(
        b->Width, b->Height, p,
        [&](int y, uint8_t* bits) {
            const uint8_t* s = L_RowPtr(b, y);
            for (size_t i = 0; i < rowBytes; ++i) bits[i] = invert ? uint8_t(~s[i]) : s[i];
        },
        out);
    return ok ? SUCCESS : ERROR_NO_MEMORY;
}

} // namespace lt::codec
