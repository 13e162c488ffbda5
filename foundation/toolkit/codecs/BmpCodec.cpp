// Windows and OS/2 bitmap files. Reading covers what other programs write in practice
// (every depth, RLE, bit fields, V4/V5 alpha, top-down rows, short colour tables);
// writing sticks to the plain variants every reader understands, plus a V5 header for
// 32-bit images so their alpha survives.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

enum : uint32_t {
    BI_RGB = 0,
    BI_RLE8 = 1,
    BI_RLE4 = 2,
    BI_BITFIELDS = 3,
    BI_JPEG = 4,
    BI_PNG = 5,
    BI_ALPHABITFIELDS = 6,
};

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV5HeaderSize = 124;

// Rows are handed to the progress callback in bands of this many.
constexpr int kProgressBand = 64;

// How the file's pixels become the bitmap's.
enum class Kind {
    Indexed, // 1/4/8 bits, rows copied as they are
    Rle8,
    Rle4,
    Rgb555, // 16 bits x1r5g5b5, rows copied; the spare bit is alpha only when the file says so
    Copy24,
    Rgb32,  // 32 bits BI_RGB: the fourth byte is alpha unless it is zero everywhere
    Fields, // arbitrary bit fields, unpacked to 24 or 32 bits
};

struct Header {
    int format = FILE_BMP;
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bpp = 0; // in the file
    uint32_t compression = BI_RGB;
    uint32_t masks[4] = {}; // red, green, blue, alpha
    size_t paletteOffset = 0;
    int paletteEntrySize = 4;
    int paletteCount = 0;
    size_t pixelOffset = 0;
    int outBpp = 0;
    int xdpi = 0, ydpi = 0;
    Kind kind = Kind::Indexed;
};

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int DpiFromPelsPerMetre(int32_t ppm) {
    return ppm > 0 ? int(std::lround(double(ppm) * 0.0254)) : 0;
}
int32_t PelsPerMetreFromDpi(int dpi) {
    return dpi > 0 ? int32_t(std::lround(double(dpi) / 0.0254)) : 0;
}

bool IsWindowsHeader(uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// Chooses how the pixels are decoded and to what depth.
int ChooseKind(Header& h, bool windows) {
    const uint32_t c = h.compression;
    if (c == BI_JPEG || c == BI_PNG || c > BI_ALPHABITFIELDS) return ERROR_UNKNOWN_COMP;
    // OS/2 2.x reuses 3 and 4 for Huffman 1D and RLE24, which nobody writes any more.
    if (!windows && c != BI_RGB && c != BI_RLE8 && c != BI_RLE4) return ERROR_UNKNOWN_COMP;
    const bool fields = c == BI_BITFIELDS || c == BI_ALPHABITFIELDS;
    switch (h.bpp) {
        case 1:
        case 4:
        case 8:
            h.outBpp = h.bpp;
            if (c == BI_RGB)
                h.kind = Kind::Indexed;
            else if (c == BI_RLE8 && h.bpp == 8)
                h.kind = Kind::Rle8;
            else if (c == BI_RLE4 && h.bpp == 4)
                h.kind = Kind::Rle4;
            else
                return ERROR_FILE_FORMAT;
            return SUCCESS;
        case 16:
            if (!fields && c != BI_RGB) return ERROR_FILE_FORMAT;
            if (!fields) {
                h.masks[0] = 0x7C00;
                h.masks[1] = 0x03E0;
                h.masks[2] = 0x001F;
                h.masks[3] = 0;
            }
            for (uint32_t& m : h.masks) m &= 0xFFFF;
            if (h.masks[0] == 0x7C00 && h.masks[1] == 0x03E0 && h.masks[2] == 0x001F &&
                (h.masks[3] == 0 || h.masks[3] == 0x8000)) {
                h.kind = Kind::Rgb555;
                h.outBpp = 16;
            } else {
                h.kind = Kind::Fields;
                h.outBpp = h.masks[3] ? 32 : 24;
            }
            return SUCCESS;
        case 24:
            if (c != BI_RGB) return ERROR_FILE_FORMAT;
            h.kind = Kind::Copy24;
            h.outBpp = 24;
            return SUCCESS;
        case 32:
            if (c == BI_RGB) {
                h.kind = Kind::Rgb32;
                h.outBpp = 32;
            } else if (fields) {
                h.kind = Kind::Fields;
                h.outBpp = h.masks[3] ? 32 : 24;
            } else {
                return ERROR_FILE_FORMAT;
            }
            return SUCCESS;
        default: return ERROR_BITPERPIXEL;
    }
}

// Reads and checks the headers, masks and colour table position. Touches no pixel data.
int ParseHeader(const uint8_t* data, size_t size, Header& h) {
    ByteReader r(data, size);
    if (r.u8() != 'B' || r.u8() != 'M') return ERROR_FILE_FORMAT;
    r.skip(8);
    const uint32_t offBits = r.u32le();
    const uint32_t hsize = r.u32le();
    if (!r.ok()) return ERROR_FILE_FORMAT;

    const bool core = hsize == kCoreHeaderSize;
    const bool windows = IsWindowsHeader(hsize);
    // OS/2 2.x headers are 64 bytes, but may be cut short after the first 16; what is
    // missing reads as zero.
    const bool os2v2 = !windows && hsize >= 16 && hsize <= 64;
    if (!core && !windows && !os2v2) return ERROR_FILE_FORMAT;

    uint8_t hdr[kV5HeaderSize] = {};
    if (!r.seek(kFileHeaderSize) || !r.bytes(hdr, hsize)) return ERROR_FILE_FORMAT;

    int64_t width = 0, height = 0;
    if (core) {
        h.format = FILE_OS2;
        width = Get16(hdr + 4);
        height = Get16(hdr + 6);
        h.bpp = Get16(hdr + 10);
        h.compression = BI_RGB;
        h.paletteEntrySize = 3;
        if (h.bpp != 1 && h.bpp != 4 && h.bpp != 8 && h.bpp != 24) return ERROR_BITPERPIXEL;
    } else {
        h.format = windows ? FILE_BMP : FILE_OS2_2;
        width = int32_t(Get32(hdr + 4));
        height = int32_t(Get32(hdr + 8));
        h.bpp = Get16(hdr + 14);
        h.compression = Get32(hdr + 16);
        h.xdpi = DpiFromPelsPerMetre(int32_t(Get32(hdr + 24)));
        h.ydpi = DpiFromPelsPerMetre(int32_t(Get32(hdr + 28)));
    }
    if (width <= 0 || height == 0 || height == INT32_MIN) return ERROR_FILE_FORMAT;
    h.topDown = height < 0;
    h.width = int(width);
    h.height = int(height < 0 ? -height : height);

    size_t pos = kFileHeaderSize + hsize;
    if (windows && (h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS)) {
        if (hsize >= 52) {
            for (int i = 0; i < 3; ++i) h.masks[i] = Get32(hdr + 40 + 4 * i);
        } else {
            // A plain info header is followed by the masks.
            int count = h.compression == BI_ALPHABITFIELDS ? 4 : 3;
            r.seek(pos);
            for (int i = 0; i < count; ++i) h.masks[i] = r.u32le();
            if (!r.ok()) return ERROR_FILE_FORMAT;
            pos += size_t(count) * 4;
        }
        if (hsize >= 56) h.masks[3] = Get32(hdr + 52);
    }

    int rc = ChooseKind(h, windows || core);
    if (rc != SUCCESS) return rc;

    if (h.bpp <= 8) {
        int full = 1 << h.bpp;
        uint32_t used = core ? 0 : Get32(hdr + 32);
        int count = used == 0 || used > uint32_t(full) ? full : int(used);
        size_t entry = size_t(h.paletteEntrySize);
        size_t end = pos + size_t(count) * entry;
        // Some writers store a shorter table than they declare; the pixel offset tells.
        if (offBits >= pos && offBits < end) {
            count = int((offBits - pos) / entry);
            end = pos + size_t(count) * entry;
        }
        if (end > size) return ERROR_FILE_FORMAT;
        h.paletteOffset = pos;
        h.paletteCount = count;
        pos = end;
    }
    // An offset inside the headers is nonsense; the pixels then follow the colour table.
    if (offBits > size) return ERROR_FILE_FORMAT;
    h.pixelOffset = offBits >= pos ? offBits : pos;
    return SUCCESS;
}

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int len = 0; // significant bits
    uint8_t lut[256] = {};

    explicit Channel(uint32_t m) : mask(m) {
        if (!m) return;
        shift = std::countr_zero(m);
        len = 32 - std::countl_zero(m >> shift);
        if (len <= 8) {
            uint32_t max = (1u << len) - 1;
            for (uint32_t v = 0; v <= max; ++v) lut[v] = uint8_t((v * 255 + max / 2) / max);
        }
    }
    uint8_t Get(uint32_t px) const {
        uint32_t v = (px & mask) >> shift;
        return len <= 8 ? lut[v] : uint8_t(v >> (len - 8));
    }
};

void DecodeFields(const Header& h, const uint8_t* src, size_t stride, BITMAPHANDLE* b, int skip) {
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.masks[3]);
    const int outBytes = h.outBpp / 8;
    const bool standard32 = h.bpp == 32 && h.masks[0] == 0x00FF0000 && h.masks[1] == 0x0000FF00 &&
                            h.masks[2] == 0x000000FF &&
                            (h.masks[3] == 0xFF000000 || h.masks[3] == 0);
    for (int y = 0; y < h.height; ++y) {
        const uint8_t* s = src + size_t(h.topDown ? y : h.height - 1 - y) * stride;
        uint8_t* d = L_RowPtr(b, y + skip);
        if (standard32 && outBytes == 4) {
            std::memcpy(d, s, size_t(h.width) * 4);
            continue;
        }
        for (int x = 0; x < h.width; ++x, d += outBytes) {
            uint32_t px = h.bpp == 16 ? Get16(s + 2 * size_t(x)) : Get32(s + 4 * size_t(x));
            d[0] = blue.Get(px);
            d[1] = green.Get(px);
            d[2] = red.Get(px);
            if (outBytes == 4) d[3] = alpha.Get(px);
        }
    }
}

// Run-length data: runs and absolute stretches are clipped to the bitmap, deltas move the
// pen, and whatever the data never reaches stays index 0. Returns the rows (in file order)
// finished when the data ended before the picture did, or the height.
int DecodeRle(const Header& h, const uint8_t* data, size_t size, BITMAPHANDLE* b) {
    const bool rle4 = h.kind == Kind::Rle4;
    const int W = h.width, H = h.height;
    const uint8_t* p = data + h.pixelOffset;
    const uint8_t* end = data + size;
    int x = 0, r = 0; // r counts rows in file order
    auto rowAt = [&](int fileRow) { return L_RowPtr(b, h.topDown ? fileRow : H - 1 - fileRow); };
    while (r < H) {
        if (end - p < 2) return r;
        const int n = p[0];
        const int v = p[1];
        p += 2;
        if (n > 0) {
            int stop = std::min(W, x + n);
            uint8_t* row = rowAt(r);
            if (rle4) {
                for (int i = x; i < stop; ++i)
                    WriteIndex(row, i, 4, ((i - x) & 1) ? (v & 15) : (v >> 4));
            } else if (x < stop) {
                std::memset(row + x, v, size_t(stop - x));
            }
            x = std::min(W, x + n);
            continue;
        }
        if (v == 0) { // end of line
            x = 0;
            ++r;
        } else if (v == 1) { // end of bitmap
            return H;
        } else if (v == 2) { // delta
            if (end - p < 2) return r;
            x = std::min(W, x + p[0]);
            r += p[1];
            p += 2;
        } else { // absolute: v pixels, padded to a 16-bit boundary
            size_t bytes = rle4 ? size_t(v + 1) / 2 : size_t(v);
            if (size_t(end - p) < bytes) return r;
            int stop = std::min(W, x + v);
            uint8_t* row = rowAt(r);
            if (rle4) {
                for (int i = x; i < stop; ++i) {
                    int k = i - x;
                    WriteIndex(row, i, 4, (k & 1) ? (p[k >> 1] & 15) : (p[k >> 1] >> 4));
                }
            } else if (x < stop) {
                std::memcpy(row + x, p, size_t(stop - x));
            }
            x = std::min(W, x + v);
            p += std::min(size_t(end - p), (bytes + 1) & ~size_t(1));
        }
    }
    return H;
}

int ReportRows(BITMAPHANDLE* b, LoadContext& ctx) {
    for (int y = 0; y < b->Height; y += kProgressBand) {
        int rc = ctx.Rows(b, y, std::min(kProgressBand, b->Height - y), 0, 1);
        if (rc != SUCCESS) return rc;
    }
    return SUCCESS;
}

// The resolution a file without its own gets.
void ApplyResolution(const Header& h, int& x, int& y) {
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    x = h.xdpi > 0 ? h.xdpi : ext.XResolution;
    y = h.ydpi > 0 ? h.ydpi : ext.YResolution;
}

bool IsRle(const Header& h) { return h.kind == Kind::Rle8 || h.kind == Kind::Rle4; }

// Bytes of a stored row with and without its padding.
size_t FileStride(const Header& h) {
    return size_t((uint64_t(h.width) * uint64_t(h.bpp) + 31) / 32 * 4);
}
size_t FileRowBytes(const Header& h) {
    return size_t((uint64_t(h.width) * uint64_t(h.bpp) + 7) / 8);
}

// Complete rows of an uncompressed file; the last one may lack its padding.
int RowsPresent(const Header& h, size_t size) {
    const size_t avail = size - h.pixelOffset, row = FileRowBytes(h);
    if (avail < row) return 0;
    return int(std::min<size_t>(size_t(h.height), (avail - row) / FileStride(h) + 1));
}

int Decode(const Header& hdr, const uint8_t* data, size_t size, BITMAPHANDLE* b) {
    const size_t stride = FileStride(hdr);
    const size_t lastRow = FileRowBytes(hdr);
    const uint8_t* src = data + hdr.pixelOffset;
    // Decoding stops at the rows the file holds; the caller fills the rest.
    Header h = hdr;
    h.height = RowsPresent(hdr, size);
    // Row y of the picture (from the top) as stored, and where it goes in the bitmap.
    auto srcRow = [&](int y) { return src + size_t(h.topDown ? y : h.height - 1 - y) * stride; };
    const int skip = h.topDown ? 0 : hdr.height - h.height;
    auto dstRow = [&](int y) { return L_RowPtr(b, y + skip); };

    switch (h.kind) {
        case Kind::Indexed:
        case Kind::Copy24:
            for (int y = 0; y < h.height; ++y) std::memcpy(dstRow(y), srcRow(y), lastRow);
            break;
        case Kind::Rle8:
        case Kind::Rle4: return SUCCESS;
        case Kind::Rgb555: {
            // Without an alpha mask the spare bit means nothing: make every pixel opaque.
            const uint8_t opaque = h.masks[3] ? 0x00 : 0x80;
            for (int y = 0; y < h.height; ++y) {
                uint8_t* d = dstRow(y);
                std::memcpy(d, srcRow(y), lastRow);
                if (opaque)
                    for (int x = 0; x < h.width; ++x) d[2 * x + 1] |= opaque;
            }
            break;
        }
        case Kind::Rgb32: {
            uint8_t anyAlpha = 0;
            for (int y = 0; y < h.height; ++y) {
                uint8_t* d = dstRow(y);
                std::memcpy(d, srcRow(y), lastRow);
                for (int x = 0; x < h.width; ++x) anyAlpha |= d[4 * x + 3];
            }
            // Most writers leave the fourth byte zero; such a file is opaque, not invisible.
            if (!anyAlpha) {
                for (int y = 0; y < h.height; ++y) {
                    uint8_t* d = dstRow(y);
                    for (int x = 0; x < h.width; ++x) d[4 * x + 3] = 255;
                }
            }
            break;
        }
        case Kind::Fields: DecodeFields(h, src, stride, b, skip); break;
    }
    return SUCCESS;
}

bool Sniff(const uint8_t* data, size_t size) {
    return size >= 18 && data[0] == 'B' && data[1] == 'M';
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = h.format;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = h.outBpp;
    info->Colors = h.bpp <= 8 ? h.paletteCount : 0;
    info->Compression = int(h.compression);
    info->Passes = 1;
    ApplyResolution(h, info->XResolution, info->YResolution);
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    // Refuse before allocating anything.
    rc = L_CheckImageSize(h.width, h.height, h.outBpp, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    const int rows = IsRle(h) ? 0 : RowsPresent(h, size);
    if (!IsRle(h) && rows == 0) return ERROR_FILE_FORMAT;

    L_InitBitmap(out, h.width, h.height, h.outBpp);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    ApplyResolution(h, out->XResolution, out->YResolution);
    if (h.bpp <= 8) {
        const uint8_t* p = data + h.paletteOffset;
        for (int i = 0; i < h.paletteCount; ++i, p += h.paletteEntrySize)
            out->pPalette[i] = RGBQUAD{p[0], p[1], p[2], 0};
        for (int i = h.paletteCount; i < 256; ++i) out->pPalette[i] = RGBQUAD{};
    }
    rc = Decode(h, data, size, out);
    // Rows the file never reached: at the top of a bottom-up file, at the bottom otherwise.
    const int done = IsRle(h) ? DecodeRle(h, data, size, out) : rows;
    if (rc == SUCCESS && done < h.height)
        rc = h.topDown ? ctx.EndedEarly(out, done, done, h.height)
                       : ctx.EndedEarly(out, done, 0, h.height - done);
    if (rc == SUCCESS) rc = ReportRows(out, ctx);
    if (rc != SUCCESS) {
        L_FreeBitmap(out);
        L_InitBitmap(out, 0, 0, 0);
    }
    return rc;
}

bool CanSave(int format, int bpp) {
    if (format == FILE_BMP) return IsValidBpp(bpp);
    if (format == FILE_OS2) return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24;
    return false;
}

void Put16(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(uint8_t(v));
    o.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& o, uint32_t v) {
    Put16(o, v & 0xFFFF);
    Put16(o, v >> 16);
}

int Save(const BITMAPHANDLE* b, int format, int /*qfactor: lossless*/, std::vector<uint8_t>& out) {
    const int bpp = b->BitsPerPixel;
    if (!CanSave(format, bpp)) return ERROR_BITPERPIXEL;
    const bool core = format == FILE_OS2;
    const bool v5 = !core && bpp == 32;
    if (core && (b->Width > 0xFFFF || b->Height > 0xFFFF)) return ERROR_INV_RANGE;
    L_INT stride = 0;
    if (!L_BytesPerLine(b->Width, bpp, &stride) || stride > b->BytesPerLine)
        return ERROR_INV_PARAMETER;

    const uint32_t hsize = core ? kCoreHeaderSize : v5 ? kV5HeaderSize : kInfoHeaderSize;
    const uint32_t colors = bpp <= 8 ? 1u << bpp : 0;
    const uint64_t offBits = kFileHeaderSize + hsize + uint64_t(colors) * (core ? 3 : 4);
    const uint64_t imageBytes = uint64_t(stride) * uint64_t(b->Height);
    const uint64_t total = offBits + imageBytes;
    if (total > UINT32_MAX) return ERROR_INV_RANGE;

    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    const int xdpi = b->XResolution > 0 ? b->XResolution : ext.XResolution;
    const int ydpi = b->YResolution > 0 ? b->YResolution : ext.YResolution;

    try {
        out.clear();
        out.reserve(size_t(total));
        PreferHugePages(out.data(), out.capacity());
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    out.push_back('B');
    out.push_back('M');
    Put32(out, uint32_t(total));
    Put32(out, 0);
    Put32(out, uint32_t(offBits));
    Put32(out, hsize);
    if (core) {
        Put16(out, uint32_t(b->Width));
        Put16(out, uint32_t(b->Height));
        Put16(out, 1);
        Put16(out, uint32_t(bpp));
    } else {
        Put32(out, uint32_t(b->Width));
        Put32(out, uint32_t(b->Height)); // positive: rows stored bottom-up
        Put16(out, 1);
        Put16(out, uint32_t(bpp));
        Put32(out, v5 ? BI_BITFIELDS : BI_RGB);
        Put32(out, uint32_t(imageBytes));
        Put32(out, uint32_t(PelsPerMetreFromDpi(xdpi)));
        Put32(out, uint32_t(PelsPerMetreFromDpi(ydpi)));
        Put32(out, 0); // colours used: all 2^bpp
        Put32(out, 0);
        if (v5) {
            Put32(out, 0x00FF0000);
            Put32(out, 0x0000FF00);
            Put32(out, 0x000000FF);
            Put32(out, 0xFF000000);
            Put32(out, 0x73524742);                        // 'sRGB' colour space
            for (int i = 0; i < 9 + 3; ++i) Put32(out, 0); // end points and gamma, unused with sRGB
            Put32(out, 4);                                 // rendering intent: pictures
            Put32(out, 0);                                 // no embedded profile
            Put32(out, 0);
            Put32(out, 0);
        }
    }
    for (uint32_t i = 0; i < colors; ++i) {
        const RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
        out.push_back(q.rgbBlue);
        out.push_back(q.rgbGreen);
        out.push_back(q.rgbRed);
        if (!core) out.push_back(0);
    }
    for (int y = b->Height - 1; y >= 0; --y) {
        const uint8_t* row = L_RowPtr(b, y);
        out.insert(out.end(), row, row + stride);
    }
    return SUCCESS;
}

bool HandlesFormat(int format) {
    return format == FILE_BMP || format == FILE_OS2 || format == FILE_OS2_2;
}

} // namespace

extern const Codec kBmpCodec = {"bmp", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
