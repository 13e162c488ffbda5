// Sun raster pictures, after the layout of SunOS's rasterfile.h: a header of eight
// big-endian words, a colour map, and rows padded to 16 bits.
//
// Reading: 1, 8, 24 and 32 bits in the old, standard (blue first), RGB (red first) and
// byte-encoded (run-length, blue first) types. The length word is not trusted for raw data
// (old files leave it zero); the run-length escape 0x80 is 0x80 0 for the byte itself and
// 0x80 n v for n + 1 copies of v, and runs may go on past the end of a row. Without a colour
// map 1-bit pixels are black on white and 8-bit pixels gray. The fourth byte of a 32-bit
// pixel (it comes first) is alpha unless it is zero everywhere, which is how most writers fill
// it. Writing: standard type, uncompressed, with a colour map below 24 bits; the format has no
// 4-bit pixels, so 4-bit pictures are written as 8 bits with a 16-colour map.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

constexpr uint32_t kMagic = 0x59A66A95;
constexpr size_t kHeaderSize = 32;

enum : uint32_t { kOld = 0, kStandard = 1, kByteEncoded = 2, kRgb = 3 };
enum : uint32_t { kNoMap = 0, kEqualRgbMap = 1, kRawMap = 2 };

struct Header {
    int width = 0, height = 0, depth = 0;
    uint32_t length = 0, type = 0, mapType = 0, mapLength = 0;
    size_t pixelOffset = 0;
    size_t rowBytes = 0; // in the file, padding included
};

int ParseHeader(const uint8_t* data, size_t size, Header& h) {
    ByteReader r(data, size);
    if (r.u32be() != kMagic) return ERROR_FILE_FORMAT;
    const uint32_t w = r.u32be(), ht = r.u32be(), depth = r.u32be();
    h.length = r.u32be();
    h.type = r.u32be();
    h.mapType = r.u32be();
    h.mapLength = r.u32be();
    if (!r.ok()) return ERROR_FILE_FORMAT;
    if (w == 0 || ht == 0 || w > 0x7FFFFFFF || ht > 0x7FFFFFFF) return ERROR_FILE_FORMAT;
    if (h.type > kRgb) return ERROR_UNKNOWN_COMP;
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32) return ERROR_BITPERPIXEL;
    if (h.mapType > kRawMap || h.mapLength > size - kHeaderSize) return ERROR_FILE_FORMAT;
    h.width = int(w);
    h.height = int(ht);
    h.depth = int(depth);
    h.pixelOffset = kHeaderSize + h.mapLength;
    h.rowBytes = size_t((uint64_t(w) * depth + 15) / 16 * 2);
    return SUCCESS;
}

// Gives the file's rows from raw or byte-encoded data.
class RowReader {
public:
    RowReader(const uint8_t* p, const uint8_t* end, bool rle) : p_(p), end_(end), rle_(rle) {}

    // The next row, in `buf` or straight from the data; null when the data ended first.
    const uint8_t* Next(uint8_t* buf, size_t bytes) {
        if (!rle_) {
            if (size_t(end_ - p_) < bytes) return nullptr;
            const uint8_t* row = p_;
            p_ += bytes;
            return row;
        }
        size_t at = 0;
        while (at < bytes) {
            if (left_ > 0) {
                const size_t n = std::min(left_, bytes - at);
                std::memset(buf + at, value_, n);
                at += n;
                left_ -= n;
                continue;
            }
            if (p_ == end_) return nullptr;
            const uint8_t c = *p_++;
            if (c != 0x80) {
                buf[at++] = c;
                continue;
            }
            if (p_ == end_) return nullptr;
            const uint8_t n = *p_++;
            if (n == 0) {
                buf[at++] = 0x80;
                continue;
            }
            if (p_ == end_) return nullptr;
            value_ = *p_++;
            left_ = size_t(n) + 1;
        }
        return buf;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    bool rle_;
    size_t left_ = 0;
    uint8_t value_ = 0;
};

void SetPalette(const Header& h, const uint8_t* data, BITMAPHANDLE* b) {
    for (int i = 0; i < 256; ++i) b->pPalette[i] = RGBQUAD{};
    const size_t entries = h.mapType == kEqualRgbMap ? h.mapLength / 3 : 0;
    if (entries == 0) {
        if (h.depth == 1) {
            b->pPalette[0] = RGBQUAD{255, 255, 255, 0};
            b->pPalette[1] = RGBQUAD{0, 0, 0, 0};
        } else {
            for (int i = 0; i < 256; ++i)
                b->pPalette[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        }
        return;
    }
    // All the reds, then all the greens, then all the blues.
    const uint8_t* map = data + kHeaderSize;
    const size_t count = std::min<size_t>(entries, size_t(1) << h.depth);
    for (size_t i = 0; i < count; ++i)
        b->pPalette[i] = RGBQUAD{map[2 * entries + i], map[entries + i], map[i], 0};
}

void ConvertRow(const Header& h, const uint8_t* s, uint8_t* d) {
    const int w = h.width;
    const bool rgb = h.type == kRgb;
    switch (h.depth) {
        case 1: std::memcpy(d, s, (size_t(w) + 7) / 8); break;
        case 8: std::memcpy(d, s, size_t(w)); break;
        case 24:
            if (!rgb) {
                std::memcpy(d, s, size_t(w) * 3);
                break;
            }
            for (int x = 0; x < w; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
            break;
        case 32:
            for (int x = 0; x < w; ++x, s += 4, d += 4) {
                d[0] = rgb ? s[3] : s[1];
                d[1] = s[2];
                d[2] = rgb ? s[1] : s[3];
                d[3] = s[0];
            }
            break;
    }
}

void ApplyResolution(int& x, int& y) {
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    x = ext.XResolution;
    y = ext.YResolution;
}

bool Sniff(const uint8_t* data, size_t size) {
    return size >= 4 && data[0] == 0x59 && data[1] == 0xA6 && data[2] == 0x6A && data[3] == 0x95;
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_SUN_RAS;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = h.depth;
    info->Colors = h.depth <= 8 ? 1 << h.depth : 0;
    info->Compression = h.type == kByteEncoded ? 1 : 0;
    info->Passes = 1;
    ApplyResolution(info->XResolution, info->YResolution);
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    rc = L_CheckImageSize(h.width, h.height, h.depth, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    const bool rle = h.type == kByteEncoded;
    if (rle && ctx.CheckWorkingMemory(h.rowBytes, nullptr) != SUCCESS) return ERROR_FILE_FORMAT;
    std::vector<uint8_t> buf;
    try {
        if (rle) buf.resize(h.rowBytes);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    L_InitBitmap(out, h.width, h.height, h.depth);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    ApplyResolution(out->XResolution, out->YResolution);
    if (out->pPalette) SetPalette(h, data, out);

    // Coded data ends where its length says, when that is within the file.
    const uint8_t* end = data + size;
    if (rle && h.length > 0 && h.length < size - h.pixelOffset)
        end = data + h.pixelOffset + h.length;
    RowReader reader(data + h.pixelOffset, end, rle);
    int rows = 0;
    for (; rows < h.height; ++rows) {
        const uint8_t* src = reader.Next(buf.data(), h.rowBytes);
        if (!src) break;
        ConvertRow(h, src, L_RowPtr(out, rows));
    }
    if (h.depth == 32) OpaqueWhenAlphaIsBlank(out, rows);
    return ctx.FinishRows(out, rows, h.height, rc);
}

bool CanSave(int format, int bpp) { return format == FILE_SUN_RAS && bpp != 16 && IsValidBpp(bpp); }

void Put32(std::vector<uint8_t>& o, uint32_t v) {
    o.insert(o.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

int Save(const BITMAPHANDLE* b, int format, int /*qfactor: lossless*/, std::vector<uint8_t>& out) {
    const int bpp = b->BitsPerPixel;
    if (!CanSave(format, bpp)) return ERROR_BITPERPIXEL;
    const int depth = bpp == 4 ? 8 : bpp;
    const size_t colours = bpp <= 8 ? size_t(1) << bpp : 0;
    const uint64_t rowBytes = (uint64_t(b->Width) * uint64_t(depth) + 15) / 16 * 2;
    const uint64_t length = rowBytes * uint64_t(b->Height);
    if (length > UINT32_MAX) return ERROR_INV_RANGE;
    try {
        out.clear();
        out.reserve(kHeaderSize + 3 * colours + size_t(length));
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    Put32(out, kMagic);
    Put32(out, uint32_t(b->Width));
    Put32(out, uint32_t(b->Height));
    Put32(out, uint32_t(depth));
    Put32(out, uint32_t(length));
    Put32(out, kStandard);
    Put32(out, colours ? kEqualRgbMap : kNoMap);
    Put32(out, uint32_t(3 * colours));
    for (int c = 2; c >= 0; --c) { // red, green, blue
        for (size_t i = 0; i < colours; ++i) {
            const RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
            out.push_back(c == 2 ? q.rgbRed : c == 1 ? q.rgbGreen : q.rgbBlue);
        }
    }
    for (int y = 0; y < b->Height; ++y) {
        const uint8_t* row = L_RowPtr(b, y);
        const size_t start = out.size();
        switch (bpp) {
            case 1:
            case 8:
            case 24:
                out.insert(out.end(), row, row + (size_t(b->Width) * size_t(bpp) + 7) / 8);
                break;
            case 4:
                for (int x = 0; x < b->Width; ++x) out.push_back(uint8_t(ReadIndex(row, x, 4)));
                break;
            case 32:
                for (int x = 0; x < b->Width; ++x, row += 4)
                    out.insert(out.end(), {row[3], row[0], row[1], row[2]});
                break;
        }
        out.resize(start + size_t(rowBytes), 0);
    }
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_SUN_RAS; }

} // namespace

extern const Codec kSunCodec = {"sun", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
