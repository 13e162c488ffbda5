// PhotoShop documents (version 1, big-endian): the merged picture that follows the layers.
//
// A file is a 26-byte header, the colour-mode data (the palette of an indexed picture), the
// image resources (resolution), the layer and mask section (skipped: its picture is already
// merged at the end) and the merged image: a compression word, then every row of the first
// channel, every row of the second and so on, raw or PackBits-coded with a table of each
// row's coded length in front.
//
// Reading: bitmap (1 bit, 1 is black), grayscale, indexed and RGB pictures of 8 or 16 bits a
// channel (16 bits are rounded to 8). A gray or RGB picture with a further channel gets it as
// alpha at 32 bits, unless it is zero everywhere. Rows missing at the end of the file are
// filled gray when every channel has its first rows; a channel cut before its first row fails.
// Writing: 1 bit as a bitmap picture when its two colours are black and white (otherwise as
// indexed), 4 and 8 bits as grayscale when the palette is the gray ramp and indexed otherwise,
// 24 bits as RGB, 32 bits as RGB with an alpha channel; PackBits-coded, with the resolution.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

constexpr size_t kHeaderSize = 26;
constexpr int kMaxChannels = 56;
constexpr int kMaxSide = 30000; // what version 1 files may hold
constexpr uint16_t kResolutionInfo = 0x03ED;

enum : uint16_t { kBitmap = 0, kGray = 1, kIndexed = 2, kRgb = 3 };
enum : uint16_t { kRaw = 0, kPackBits = 1 };

struct Header {
    int width = 0, height = 0, channels = 0, depth = 0, mode = 0;
    size_t paletteAt = 0, paletteSize = 0;
    size_t dataAt = 0; // the compression word of the merged image
    uint16_t compression = 0;
    int xdpi = 0, ydpi = 0;
    int bpp = 0;  // of the bitmap it decodes to
    int used = 0; // channels read
};

int Resolution(uint32_t fixed) { return int((fixed + 0x8000) >> 16); }

void ReadResources(const uint8_t* p, size_t n, Header& h) {
    ByteReader r(p, n);
    while (r.remaining() >= 12) {
        if (r.u32be() != 0x3842494D) return; // "8BIM"
        const uint16_t id = r.u16be();
        const size_t nameLen = r.u8();
        r.skip(nameLen + ((nameLen + 1) & 1 ? 1 : 0)); // a Pascal string padded to even
        const uint32_t len = r.u32be();
        if (!r.has(len)) return;
        if (id == kResolutionInfo && len >= 16) {
            ByteReader res(r.here(), len);
            const uint32_t hres = res.u32be();
            res.skip(4);
            const uint32_t vres = res.u32be();
            h.xdpi = Resolution(hres);
            h.ydpi = Resolution(vres);
        }
        r.skip(len + (len & 1));
    }
}

int ParseHeader(const uint8_t* data, size_t size, Header& h) {
    ByteReader r(data, size);
    if (r.u32be() != 0x38425053) return ERROR_FILE_FORMAT; // "8BPS"
    if (r.u16be() != 1) return ERROR_FILE_FORMAT;          // 2 is the large-document variant
    r.skip(6);
    h.channels = r.u16be();
    const uint32_t height = r.u32be(), width = r.u32be();
    h.depth = r.u16be();
    h.mode = r.u16be();
    if (!r.ok()) return ERROR_FILE_FORMAT;
    if (h.channels < 1 || h.channels > kMaxChannels) return ERROR_FILE_FORMAT;
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return ERROR_FILE_FORMAT;
    h.width = int(width);
    h.height = int(height);
    switch (h.mode) {
        case kBitmap:
            if (h.depth != 1) return ERROR_BITPERPIXEL;
            h.bpp = 1;
            h.used = 1;
            break;
        case kIndexed:
            if (h.depth != 8) return ERROR_BITPERPIXEL;
            h.bpp = 8;
            h.used = 1;
            break;
        case kGray:
        case kRgb: {
            if (h.depth != 8 && h.depth != 16) return ERROR_BITPERPIXEL;
            const int colour = h.mode == kRgb ? 3 : 1;
            if (h.channels < colour) return ERROR_FILE_FORMAT;
            h.used = std::min(h.channels, colour + 1);
            h.bpp = h.used > colour ? 32 : colour == 3 ? 24 : 8;
            break;
        }
        default: return ERROR_FEATURE_NOT_SUPPORTED; // CMYK, Lab, duotone, multichannel
    }
    // Three sections, each led by its length.
    const uint32_t modeLen = r.u32be();
    h.paletteAt = r.pos();
    h.paletteSize = modeLen;
    if (!r.skip(modeLen)) return ERROR_FILE_FORMAT;
    if (h.mode == kIndexed && modeLen < 768) return ERROR_FILE_FORMAT;
    const uint32_t resLen = r.u32be();
    if (!r.has(resLen)) return ERROR_FILE_FORMAT;
    ReadResources(r.here(), resLen, h);
    r.skip(resLen);
    const uint32_t layersLen = r.u32be();
    if (!r.skip(layersLen)) return ERROR_FILE_FORMAT;
    h.dataAt = r.pos();
    h.compression = r.u16be();
    if (!r.ok()) return ERROR_FILE_FORMAT;
    if (h.compression != kRaw && h.compression != kPackBits) return ERROR_UNKNOWN_COMP;
    return SUCCESS;
}

size_t RowBytes(const Header& h) { return (size_t(h.width) * size_t(h.depth) + 7) / 8; }

// Decodes one PackBits row of `n` coded bytes into `out` (`bytes` long). Codes for more than
// the row holds are cut at its end; a row whose codes end early is filled with zeros.
void UnpackBits(const uint8_t* p, size_t n, uint8_t* out, size_t bytes) {
    size_t at = 0, i = 0;
    while (i < n && at < bytes) {
        const int8_t c = int8_t(p[i++]);
        if (c >= 0) {
            const size_t k = std::min({size_t(c) + 1, n - i, bytes - at});
            std::memcpy(out + at, p + i, k);
            at += k;
            i += size_t(c) + 1;
        } else if (c != -128) {
            if (i >= n) break;
            const size_t k = std::min(size_t(1 - c), bytes - at);
            std::memset(out + at, p[i++], k);
            at += k;
        }
    }
    std::memset(out + at, 0, bytes - at);
}

// Puts row `src` of channel `c` into bitmap row `dst`.
void Scatter(const Header& h, int c, const uint8_t* src, uint8_t* dst) {
    const int w = h.width;
    if (h.bpp == 1) {
        // 1 is black, which is index 1 of the palette set below.
        std::memcpy(dst, src, RowBytes(h));
        return;
    }
    auto level = [&](int x) -> uint8_t {
        if (h.depth == 8) return src[x];
        const unsigned v = unsigned(src[2 * x] << 8 | src[2 * x + 1]);
        return uint8_t((v * 255 + 32767) / 65535);
    };
    if (h.bpp == 8) {
        for (int x = 0; x < w; ++x) dst[x] = level(x);
        return;
    }
    const int step = h.bpp / 8;
    if (h.mode == kGray) {
        // Gray and alpha: the level goes to blue, green and red.
        for (int x = 0; x < w; ++x) {
            uint8_t* p = dst + size_t(x) * 4;
            if (c == 0) {
                p[0] = p[1] = p[2] = level(x);
            } else {
                p[3] = level(x);
            }
        }
        return;
    }
    const int at = c == 3 ? 3 : 2 - c; // red, green, blue, alpha to BGRA
    for (int x = 0; x < w; ++x) dst[size_t(x) * step + at] = level(x);
}

void SetPalette(const Header& h, const uint8_t* data, BITMAPHANDLE* b) {
    if (h.mode == kBitmap) {
        b->pPalette[0] = RGBQUAD{255, 255, 255, 0};
        b->pPalette[1] = RGBQUAD{0, 0, 0, 0};
        return;
    }
    const uint8_t* map = data + h.paletteAt;
    for (int i = 0; i < 256; ++i) {
        b->pPalette[i] = h.mode == kIndexed ? RGBQUAD{map[512 + i], map[256 + i], map[i], 0}
                                            : RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    }
}

bool Sniff(const uint8_t* data, size_t size) {
    return size >= 4 && std::memcmp(data, "8BPS", 4) == 0;
}

void DefaultResolution(Header& h) {
    if (h.xdpi > 0 && h.ydpi > 0) return;
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    h.xdpi = ext.XResolution;
    h.ydpi = ext.YResolution;
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Header h;
    const int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    DefaultResolution(h);
    info->Format = FILE_PSD;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = h.bpp;
    info->Colors = h.bpp == 1 ? 2 : h.bpp == 8 ? 256 : 0;
    info->Compression = h.compression;
    info->Passes = 1;
    info->XResolution = h.xdpi;
    info->YResolution = h.ydpi;
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    DefaultResolution(h);
    const size_t rowBytes = RowBytes(h);
    const size_t rowsAll = size_t(h.channels) * size_t(h.height);
    const size_t pixelsAt = h.dataAt + 2 + (h.compression == kPackBits ? 2 * rowsAll : 0);
    if (pixelsAt > size) return ERROR_FILE_FORMAT; // the table of row lengths is cut
    if (ctx.CheckWorkingMemory(rowBytes, nullptr) != SUCCESS) return ERROR_FILE_FORMAT;
    std::vector<uint8_t> row;
    try {
        row.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    L_InitBitmap(out, h.width, h.height, h.bpp);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    out->XResolution = h.xdpi;
    out->YResolution = h.ydpi;
    if (out->pPalette) SetPalette(h, data, out);

    // Channels follow one another, so a file cut short loses the last rows of every channel
    // after the cut: the picture holds the rows every channel has.
    int whole = h.height;
    size_t at = pixelsAt;
    const uint8_t* lengths = data + h.dataAt + 2;
    for (int c = 0; c < h.used; ++c) {
        int y = 0;
        for (; y < h.height; ++y) {
            const uint8_t* src = nullptr;
            if (h.compression == kRaw) {
                if (size - at < rowBytes) break;
                src = data + at;
                at += rowBytes;
            } else {
                const size_t i = 2 * (size_t(c) * size_t(h.height) + size_t(y));
                const size_t n = size_t(lengths[i] << 8 | lengths[i + 1]);
                if (size - at < n) break;
                UnpackBits(data + at, n, row.data(), rowBytes);
                at += n;
                src = row.data();
            }
            Scatter(h, c, src, L_RowPtr(out, y));
        }
        whole = std::min(whole, y);
    }
    if (h.bpp == 32) OpaqueWhenAlphaIsBlank(out, whole);
    return ctx.FinishRows(out, whole, h.height, rc);
}

// ---------------------------------------------------------------------------
// Writing.

bool CanSave(int format, int bpp) {
    return format == FILE_PSD && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32);
}

void Put16(std::vector<uint8_t>& o, unsigned v) {
    o.insert(o.end(), {uint8_t(v >> 8), uint8_t(v)});
}
void Put32(std::vector<uint8_t>& o, uint32_t v) {
    o.insert(o.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

// Appends `n` bytes PackBits-coded: runs of three or more become a repeat, the rest literals.
void PackBits(const uint8_t* p, size_t n, std::vector<uint8_t>& o) {
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
        if (run >= 3) {
            o.push_back(uint8_t(257 - run));
            o.push_back(p[i]);
            i += run;
            continue;
        }
        size_t lit = 0;
        while (i + lit < n && lit < 128) {
            if (i + lit + 2 < n && p[i + lit] == p[i + lit + 1] && p[i + lit] == p[i + lit + 2])
                break;
            ++lit;
        }
        o.push_back(uint8_t(lit - 1));
        o.insert(o.end(), p + i, p + i + lit);
        i += lit;
    }
}

bool IsBlackAndWhite(const RGBQUAD* pal, bool& blackFirst) {
    auto is = [](const RGBQUAD& q, uint8_t v) {
        return q.rgbRed == v && q.rgbGreen == v && q.rgbBlue == v;
    };
    if (is(pal[0], 255) && is(pal[1], 0)) {
        blackFirst = false;
        return true;
    }
    if (is(pal[0], 0) && is(pal[1], 255)) {
        blackFirst = true;
        return true;
    }
    return false;
}

bool IsGrayRamp(const BITMAPHANDLE* b) {
    const int n = 1 << b->BitsPerPixel;
    for (int i = 0; i < n; ++i) {
        const RGBQUAD q = b->pPalette[i];
        const int v = i * 255 / (n - 1);
        if (q.rgbRed != v || q.rgbGreen != v || q.rgbBlue != v) return false;
    }
    return true;
}

int Save(const BITMAPHANDLE* b, int format, int /*qfactor: lossless*/, std::vector<uint8_t>& out) {
    const int bpp = b->BitsPerPixel;
    if (!CanSave(format, bpp) || (bpp <= 8 && !b->pPalette)) return ERROR_BITPERPIXEL;
    if (b->Width > kMaxSide || b->Height > kMaxSide) return ERROR_INV_RANGE;
    bool blackFirst = false;
    const bool bitmapMode = bpp == 1 && IsBlackAndWhite(b->pPalette, blackFirst);
    // A 4-bit gray ramp is not the 8-bit one: its levels are 17 apart, so it is indexed.
    const bool gray = bpp == 8 && IsGrayRamp(b);
    const int mode = bpp > 8 ? kRgb : bitmapMode ? kBitmap : gray ? kGray : kIndexed;
    const int channels = bpp == 32 ? 4 : bpp == 24 ? 3 : 1;
    const int depth = bitmapMode ? 1 : 8;
    const size_t w = size_t(b->Width), rowBytes = bitmapMode ? (w + 7) / 8 : w;
    std::vector<uint8_t> row(rowBytes), coded;
    try {
        out.clear();
        out.reserve(kHeaderSize + 800 + size_t(channels) * size_t(b->Height) * (rowBytes + 3));
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    Put32(out, 0x38425053); // "8BPS"
    Put16(out, 1);
    Put32(out, 0); // reserved
    Put16(out, 0);
    Put16(out, unsigned(channels));
    Put32(out, uint32_t(b->Height));
    Put32(out, uint32_t(b->Width));
    Put16(out, unsigned(depth));
    Put16(out, unsigned(mode));
    if (mode == kIndexed) {
        Put32(out, 768);
        const int n = 1 << bpp;
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i) {
                const RGBQUAD q = i < n ? b->pPalette[i] : RGBQUAD{};
                out.push_back(c == 0 ? q.rgbRed : c == 1 ? q.rgbGreen : q.rgbBlue);
            }
    } else {
        Put32(out, 0);
    }
    // Resources: the resolution, in pixels per inch as 16.16 fixed point.
    Put32(out, 28);
    Put32(out, 0x3842494D); // "8BIM"
    Put16(out, kResolutionInfo);
    Put16(out, 0); // empty name, padded
    Put32(out, 16);
    for (int dpi : {b->XResolution, b->YResolution}) {
        Put32(out, uint32_t(std::clamp(dpi, 1, 30000)) << 16);
        Put16(out, 1); // pixels per inch
        Put16(out, 1); // shown in inches
    }
    Put32(out, 0); // no layers
    Put16(out, kPackBits);
    const size_t table = out.size();
    out.resize(table + 2 * size_t(channels) * size_t(b->Height), 0);
    for (int c = 0; c < channels; ++c) {
        for (int y = 0; y < b->Height; ++y) {
            const uint8_t* src = L_RowPtr(b, y);
            if (bitmapMode) {
                for (size_t i = 0; i < rowBytes; ++i)
                    row[i] = blackFirst ? uint8_t(~src[i]) : src[i];
                if (w % 8) row[rowBytes - 1] &= uint8_t(0xFF00 >> (w % 8));
            } else if (bpp <= 8) {
                for (size_t x = 0; x < w; ++x) row[x] = uint8_t(ReadIndex(src, int(x), bpp));
            } else {
                const int step = bpp / 8, at = c == 3 ? 3 : 2 - c;
                for (size_t x = 0; x < w; ++x) row[x] = src[x * size_t(step) + size_t(at)];
            }
            const size_t before = out.size();
            PackBits(row.data(), rowBytes, out);
            const size_t n = out.size() - before;
            const size_t i = table + 2 * (size_t(c) * size_t(b->Height) + size_t(y));
            out[i] = uint8_t(n >> 8);
            out[i + 1] = uint8_t(n);
        }
    }
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_PSD; }

} // namespace

extern const Codec kPsdCodec = {"psd", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
