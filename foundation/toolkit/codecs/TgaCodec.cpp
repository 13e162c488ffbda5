// Truevision TARGA pictures, as the published TGA 2.0 file format describes them.
//
// Reading: colour-mapped (8-bit indices into a map of 15, 16, 24 or 32-bit entries, which
// may start past index 0), true colour at 15, 16, 24 and 32 bits, gray at 8 bits and gray with
// alpha at 16; raw or run-length coded, where packets may run on from one row into the next
// as version 1 writers let them; every origin. The alpha bits count in the descriptor and
// the 2.0 extension area decide whether the spare bits are alpha; a picture whose alpha is
// zero everywhere is taken as opaque, since that is what writers mean who leave it unset.
// Writing: uncompressed, bottom-left origin, with the 2.0 footer; 8 bits as a colour map
// (gray when the palette is the gray ramp), 16 bits as 5-5-5 with one alpha bit, 24 and
// 32 bits as true colour.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

constexpr size_t kHeaderSize = 18;
constexpr size_t kFooterSize = 26;
constexpr char kSignature[] = "TRUEVISION-XFILE."; // followed by its terminating zero
constexpr size_t kExtensionSize = 495;
constexpr int kProgressBand = 64;

enum : int { kColorMapped = 1, kTrueColor = 2, kGray = 3, kRle = 8 };

enum class Kind {
    Indexed, // 8-bit indices or gray
    Rgb16,   // x1r5g5b5, as the bitmap holds them
    Rgb24,
    Rgb32,
    GrayAlpha, // 8-bit gray and 8-bit alpha, to 32 bits
};

struct Header {
    int type = 0; // without the run-length bit
    bool rle = false;
    int width = 0, height = 0;
    int depth = 0;      // bits per pixel in the file
    int pixelBytes = 0; // bytes per pixel in the file
    int alphaBits = 0;  // from the descriptor
    bool rightToLeft = false;
    bool topDown = false;
    bool alphaIgnored = false; // the extension area says the spare bits are not alpha
    int mapFirst = 0, mapLength = 0, mapEntryBits = 0;
    size_t mapOffset = 0;
    size_t pixelOffset = 0;
    Kind kind = Kind::Indexed;
    int outBpp = 0;
};

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool HasFooter(const uint8_t* data, size_t size) {
    return size >= kHeaderSize + kFooterSize &&
           std::memcmp(data + size - sizeof kSignature, kSignature, sizeof kSignature) == 0;
}

// TARGA has no magic number: these are the header values a real file can have.
bool PlausibleHeader(const uint8_t* d, size_t size) {
    if (size < kHeaderSize) return false;
    const int mapType = d[1], type = d[2] & ~kRle, depth = d[16];
    if (mapType > 1 || (d[2] & ~(kRle | 3)) != 0 || type == 0) return false;
    if (type == kColorMapped && mapType != 1) return false;
    if (mapType == 1 && d[7] != 15 && d[7] != 16 && d[7] != 24 && d[7] != 32) return false;
    if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
    return Get16(d + 12) != 0 && Get16(d + 14) != 0 && (d[17] & 0xC0) == 0;
}

int ParseHeader(const uint8_t* data, size_t size, Header& h) {
    if (!PlausibleHeader(data, size)) return ERROR_FILE_FORMAT;
    const uint8_t* d = data;
    const int idLength = d[0], mapType = d[1];
    h.type = d[2] & ~kRle;
    h.rle = (d[2] & kRle) != 0;
    h.mapFirst = Get16(d + 3);
    h.mapLength = Get16(d + 5);
    h.mapEntryBits = mapType ? d[7] : 0;
    h.width = Get16(d + 12);
    h.height = Get16(d + 14);
    h.depth = d[16];
    h.pixelBytes = (h.depth + 7) / 8;
    h.alphaBits = d[17] & 0x0F;
    h.rightToLeft = (d[17] & 0x10) != 0;
    h.topDown = (d[17] & 0x20) != 0;

    h.mapOffset = kHeaderSize + size_t(idLength);
    const size_t mapBytes = mapType ? size_t(h.mapLength) * size_t((h.mapEntryBits + 7) / 8) : 0;
    h.pixelOffset = h.mapOffset + mapBytes;
    if (h.pixelOffset > size) return ERROR_FILE_FORMAT;

    switch (h.type) {
        case kColorMapped:
            // The format allows 16-bit indices, but no program writes them.
            if (h.depth != 8) return ERROR_BITPERPIXEL;
            if (h.mapLength == 0) return ERROR_FILE_FORMAT;
            h.kind = Kind::Indexed;
            h.outBpp = 8;
            break;
        case kTrueColor:
            h.kind = h.depth == 24 ? Kind::Rgb24 : h.depth == 32 ? Kind::Rgb32 : Kind::Rgb16;
            if (h.depth == 8) return ERROR_BITPERPIXEL;
            h.outBpp = h.depth == 15 ? 16 : h.depth;
            break;
        case kGray:
            if (h.depth == 8) {
                h.kind = Kind::Indexed;
                h.outBpp = 8;
            } else if (h.depth == 16) {
                h.kind = Kind::GrayAlpha;
                h.outBpp = 32;
            } else {
                return ERROR_BITPERPIXEL;
            }
            break;
        default: return ERROR_FILE_FORMAT;
    }
    // The extension area's attributes type: 0 to 2 mean the spare bits carry no alpha.
    if (HasFooter(data, size) && size >= kHeaderSize + kExtensionSize + kFooterSize) {
        const uint32_t ext = Get32(data + size - kFooterSize);
        if (ext >= kHeaderSize && ext <= size - kFooterSize - kExtensionSize &&
            Get16(data + ext) == kExtensionSize)
            h.alphaIgnored = data[ext + 494] <= 2;
    }
    return SUCCESS;
}

// Gives the rows of pixels in file order from raw or run-length coded data.
class RowReader {
public:
    RowReader(const Header& h, const uint8_t* p, const uint8_t* end)
        : rle_(h.rle), px_(size_t(h.pixelBytes)), p_(p), end_(end) {}

    // The next row (`bytes` long), in `buf` or straight from the data; null when the data
    // ended first.
    const uint8_t* Next(uint8_t* buf, size_t bytes) {
        if (!rle_) {
            if (size_t(end_ - p_) < bytes) return nullptr;
            const uint8_t* row = p_;
            p_ += bytes;
            return row;
        }
        size_t at = 0;
        while (at < bytes) {
            if (left_ == 0) {
                if (p_ == end_) return nullptr;
                const uint8_t c = *p_++;
                run_ = (c & 0x80) != 0;
                left_ = (c & 0x7F) + 1;
                if (run_) {
                    if (size_t(end_ - p_) < px_) return nullptr;
                    std::memcpy(value_, p_, px_);
                    p_ += px_;
                }
            }
            // A packet may end in the next row.
            const size_t n = std::min(size_t(left_), (bytes - at) / px_);
            if (run_) {
                for (size_t i = 0; i < n; ++i) std::memcpy(buf + at + i * px_, value_, px_);
            } else {
                if (size_t(end_ - p_) < n * px_) return nullptr;
                std::memcpy(buf + at, p_, n * px_);
                p_ += n * px_;
            }
            at += n * px_;
            left_ -= int(n);
        }
        return buf;
    }

private:
    bool rle_;
    size_t px_;
    const uint8_t* p_;
    const uint8_t* end_;
    bool run_ = false;
    int left_ = 0;
    uint8_t value_[4] = {};
};

RGBQUAD MapEntry(const uint8_t* e, int bits) {
    if (bits <= 16) {
        const BGRA c = Unpack16(Get16(e));
        return RGBQUAD{c.b, c.g, c.r, 0};
    }
    return RGBQUAD{e[0], e[1], e[2], 0};
}

void SetPalette(const Header& h, const uint8_t* data, BITMAPHANDLE* b) {
    for (int i = 0; i < 256; ++i)
        b->pPalette[i] =
            h.type == kGray ? RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0} : RGBQUAD{};
    if (h.type != kColorMapped) return;
    // Entry i of the stored map is colour mapFirst + i; pixels never reach past 255.
    const int entryBytes = (h.mapEntryBits + 7) / 8;
    for (int i = 0; i < h.mapLength && h.mapFirst + i < 256; ++i)
        b->pPalette[h.mapFirst + i] =
            MapEntry(data + h.mapOffset + size_t(i) * size_t(entryBytes), h.mapEntryBits);
}

// Whether the alpha the pixels carry is meant as alpha.
bool UsesAlpha(const Header& h) {
    if (h.alphaIgnored) return false;
    if (h.kind == Kind::Rgb16) return h.depth == 16 && h.alphaBits >= 1;
    return h.kind == Kind::Rgb32 || h.kind == Kind::GrayAlpha;
}

void ConvertRow(const Header& h, const uint8_t* src, uint8_t* dst) {
    const int w = h.width;
    const int px = h.pixelBytes;
    if (!h.rightToLeft && h.kind != Kind::GrayAlpha) {
        std::memcpy(dst, src, size_t(w) * size_t(px));
    } else {
        for (int x = 0; x < w; ++x) {
            const uint8_t* s = src + size_t(h.rightToLeft ? w - 1 - x : x) * size_t(px);
            if (h.kind == Kind::GrayAlpha) {
                uint8_t* d = dst + 4 * size_t(x);
                d[0] = d[1] = d[2] = s[0];
                d[3] = s[1];
            } else {
                std::memcpy(dst + size_t(x) * size_t(px), s, size_t(px));
            }
        }
    }
}

// Alpha that means nothing, or is zero everywhere, becomes opaque.
void FixAlpha(const Header& h, BITMAPHANDLE* b) {
    if (h.outBpp != 16 && h.outBpp != 32) return;
    const bool sixteen = h.outBpp == 16;
    const int step = sixteen ? 2 : 4, at = sixteen ? 1 : 3;
    const uint8_t bit = sixteen ? 0x80 : 0xFF;
    bool blank = true;
    if (UsesAlpha(h)) {
        for (int y = 0; blank && y < b->Height; ++y) {
            const uint8_t* row = L_RowPtr(b, y);
            for (int x = 0; x < b->Width; ++x) blank = blank && (row[step * x + at] & bit) == 0;
        }
    }
    if (!blank) return;
    for (int y = 0; y < b->Height; ++y) {
        uint8_t* row = L_RowPtr(b, y);
        for (int x = 0; x < b->Width; ++x) row[step * x + at] |= bit;
    }
}

void ApplyResolution(int& x, int& y) {
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    x = ext.XResolution;
    y = ext.YResolution;
}

bool Sniff(const uint8_t* data, size_t size) { return PlausibleHeader(data, size); }

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_TGA;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = h.outBpp;
    info->Colors = h.type == kColorMapped ? h.mapLength : h.outBpp == 8 ? 256 : 0;
    info->Compression = h.rle ? 1 : 0;
    info->Passes = 1;
    ApplyResolution(info->XResolution, info->YResolution);
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    rc = L_CheckImageSize(h.width, h.height, h.outBpp, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    const size_t rowBytes = size_t(h.width) * size_t(h.pixelBytes);
    std::vector<uint8_t> buf;
    try {
        if (h.rle) buf.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    L_InitBitmap(out, h.width, h.height, h.outBpp);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    ApplyResolution(out->XResolution, out->YResolution);
    if (out->pPalette) SetPalette(h, data, out);

    // Bottom-left files keep the bottom row first, so a short one lacks the top rows.
    auto dstRow = [&](int fileRow) {
        return L_RowPtr(out, h.topDown ? fileRow : h.height - 1 - fileRow);
    };
    RowReader reader(h, data + h.pixelOffset, data + size);
    int rows = 0;
    for (; rows < h.height; ++rows) {
        const uint8_t* src = reader.Next(buf.data(), rowBytes);
        if (!src) break;
        ConvertRow(h, src, dstRow(rows));
    }
    FixAlpha(h, out);
    if (rows < h.height)
        rc = h.topDown ? ctx.EndedEarly(out, rows, rows, h.height)
                       : ctx.EndedEarly(out, rows, 0, h.height - rows);
    for (int y = 0; rc == SUCCESS && y < h.height; y += kProgressBand)
        rc = ctx.Rows(out, y, std::min(kProgressBand, h.height - y), 0, 1);
    if (rc != SUCCESS) {
        L_FreeBitmap(out);
        L_InitBitmap(out, 0, 0, 0);
    }
    return rc;
}

bool CanSave(int format, int bpp) {
    return format == FILE_TGA && (bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32);
}

int Save(const BITMAPHANDLE* b, int format, int /*qfactor: lossless*/, std::vector<uint8_t>& out) {
    const int bpp = b->BitsPerPixel;
    if (!CanSave(format, bpp)) return ERROR_BITPERPIXEL;
    if (b->Width > 0xFFFF || b->Height > 0xFFFF) return ERROR_INV_RANGE;
    bool gray = bpp == 8 && b->pPalette;
    for (int i = 0; gray && i < 256; ++i) {
        const RGBQUAD q = b->pPalette[i];
        gray = q.rgbRed == i && q.rgbGreen == i && q.rgbBlue == i;
    }
    const bool mapped = bpp == 8 && !gray;
    const size_t rowBytes = size_t(b->Width) * size_t(bpp / 8);
    try {
        out.clear();
        out.reserve(kHeaderSize + (mapped ? 768 : 0) + rowBytes * size_t(b->Height) + kFooterSize);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    out.push_back(0); // no image id
    out.push_back(mapped ? 1 : 0);
    out.push_back(uint8_t(mapped ? kColorMapped : gray ? kGray : kTrueColor));
    PutLE16(out, 0);
    PutLE16(out, mapped ? 256 : 0);
    out.push_back(mapped ? 24 : 0);
    PutLE16(out, 0); // origin
    PutLE16(out, 0);
    PutLE16(out, unsigned(b->Width));
    PutLE16(out, unsigned(b->Height));
    out.push_back(uint8_t(bpp));
    out.push_back(uint8_t(bpp == 32 ? 8 : bpp == 16 ? 1 : 0)); // alpha bits; bottom-left
    if (mapped) {
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD q = b->pPalette[i];
            out.insert(out.end(), {q.rgbBlue, q.rgbGreen, q.rgbRed});
        }
    }
    for (int y = b->Height - 1; y >= 0; --y) {
        const uint8_t* row = L_RowPtr(b, y);
        out.insert(out.end(), row, row + rowBytes);
    }
    for (int i = 0; i < 8; ++i) out.push_back(0); // no extension area, no developer area
    out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_TGA; }

} // namespace

extern const Codec kTgaCodec = {"tga", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
