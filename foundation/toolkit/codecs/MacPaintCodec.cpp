// MacPaint pictures: always 576 x 720 pixels at 72 dpi, 1 bit (set bits black). A 512-byte
// header (a version number, 38 fill patterns, padding) comes first, then the 720 rows of 72
// bytes, each packed with PackBits. Files copied off a Macintosh often keep the 128-byte
// MacBinary header in front; it is recognised by its file type "PNTG", or by its layout when
// the data behind it starts like a MacPaint header.
//
// Writing: version 2 with empty patterns and no MacBinary header. A smaller picture is put
// in the top left corner of a white page; a larger one is cut to the page, since the format
// has room for no more.
#include <algorithm>
#include <cstring>

#include "Codec.h"
#include "PackBits.h"

namespace lt::codec {
namespace {

constexpr int kWidth = 576, kHeight = 720, kRowBytes = kWidth / 8;
constexpr size_t kHeader = 512, kMacBinary = 128;

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool IsVersion(const uint8_t* p) {
    const uint32_t v = Be32(p);
    return v == 0 || v == 2 || v == 3;
}

// True when the first row packed at `p` is whole within the data: a real picture's first
// row takes 2 to 73 bytes and unpacks to exactly one row.
bool FirstRowFits(const uint8_t* p, const uint8_t* end) {
    int have = 0;
    while (have < kRowBytes) {
        if (p >= end) return false;
        const uint8_t c = *p++;
        if (c < 128) {
            have += c + 1;
            p += c + 1;
        } else if (c > 128) {
            have += 257 - c;
            ++p;
        }
    }
    return have == kRowBytes && p <= end;
}

bool LooksLikeMacBinary(const uint8_t* d, size_t size) {
    if (size < kMacBinary + kHeader || d[0] != 0 || d[1] < 1 || d[1] > 63 || d[74] != 0)
        return false;
    if (std::memcmp(d + 65, "PNTG", 4) == 0) return true;
    return d[82] == 0 && Be32(d + 83) <= size - kMacBinary && IsVersion(d + kMacBinary) &&
           FirstRowFits(d + kMacBinary + kHeader, d + size);
}

// Where the MacPaint header starts: after a MacBinary header, or at the start.
size_t Start(const uint8_t* d, size_t size) { return LooksLikeMacBinary(d, size) ? kMacBinary : 0; }

bool Sniff(const uint8_t* d, size_t size) {
    if (LooksLikeMacBinary(d, size)) return true;
    return size >= kHeader + 2 && IsVersion(d) && FirstRowFits(d + kHeader, d + size);
}

int Info(const uint8_t* d, size_t size, FILEINFO* info) {
    if (size < Start(d, size) + kHeader) return ERROR_FILE_FORMAT;
    info->Format = FILE_MACPAINT;
    info->Width = kWidth;
    info->Height = kHeight;
    info->BitsPerPixel = 1;
    info->Colors = 2;
    info->Compression = 1;
    info->Passes = 1;
    info->XResolution = info->YResolution = 72;
    return SUCCESS;
}

int Load(const uint8_t* d, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    const size_t start = Start(d, size);
    if (size < start + kHeader) return ERROR_FILE_FORMAT;
    L_InitBitmap(out, kWidth, kHeight, 1);
    int rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    out->pPalette[0] = RGBQUAD{255, 255, 255, 0};
    out->pPalette[1] = RGBQUAD{0, 0, 0, 0};
    out->XResolution = out->YResolution = 72;
    PackBitsReader reader(d + start + kHeader, d + size);
    int rows = 0;
    while (rows < kHeight && reader.Next(L_RowPtr(out, rows), kRowBytes)) ++rows;
    return ctx.FinishRows(out, rows, kHeight, rc);
}

bool CanSave(int format, int bpp) { return format == FILE_MACPAINT && bpp == 1; }

int Save(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    const bool invert = BlackIndex(b) == 0;
    out.assign(kHeader, 0);
    out[3] = 2;
    const int w = std::min(b->Width, kWidth), h = std::min(b->Height, kHeight);
    uint8_t row[kRowBytes];
    for (int y = 0; y < kHeight; ++y) {
        std::memset(row, 0, sizeof row);
        if (y < h) {
            const uint8_t* s = L_RowPtr(b, y);
            for (int i = 0; i < (w + 7) / 8; ++i) row[i] = invert ? uint8_t(~s[i]) : s[i];
            if (w % 8) row[w / 8] &= uint8_t(0xFF00 >> (w % 8));
        }
        PackBits(row, kRowBytes, out);
    }
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_MACPAINT; }

} // namespace

extern const Codec kMacPaintCodec = {"macpaint", Sniff, Info,    Load,
                                     CanSave,    Save,  nullptr, HandlesFormat};

} // namespace lt::codec
