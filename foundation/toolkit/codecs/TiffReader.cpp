// Reading TIFF files through libtiff. The first page is read. Common layouts (gray,
// palette, RGB(A), CMYK at 8 or 16 bits per sample, strips or tiles, contiguous or separate
// planes) are converted strip by strip straight into the bitmap, keeping palettes; anything
// else libtiff understands goes through its RGBA reader. The Orientation tag is ignored, as
// ImageMagick and vips do by default: pixels come out in stored order.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "TiffInternal.h"

namespace lt::codec::tiff {
namespace {

// More samples per pixel than any real picture has (colour, alpha and a few spot
// channels); each one widens every strip, so a crafted count would cost gigabytes.
constexpr uint16_t kMaxSamples = 16;

// True when strip or tile `block` lies (partly) past the end of the file: a failure to
// read it means the file was cut short, not that its data is damaged.
bool BlockPastEnd(TIFF* tif, uint32_t block, size_t fileSize) {
    const uint64_t offset = TIFFGetStrileOffset(tif, block);
    const uint64_t bytes = TIFFGetStrileByteCount(tif, block);
    return offset >= fileSize || bytes > fileSize - offset;
}

// ---------------------------------------------------------------------------
// What the first page holds and what we turn it into.

enum class Kind {
    Gray,    // 1 sample (1/2/4/8/16 bits) -> palette bitmap with a gray ramp, or gray + alpha -> 32
    Palette, // 1/2/4/8 bits -> palette bitmap
    Rgb,     // 8/16 bits, optional alpha -> 24 or 32
    Cmyk,    // 8 bits -> 24, or 32 with an alpha sample
    Generic, // anything else libtiff's RGBA reader understands
};

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t bps = 1, spp = 1, photometric = 0, planar = PLANARCONFIG_CONTIG,
             compression = COMPRESSION_NONE;
    bool tiled = false;
    uint32_t tileW = 0, tileH = 0, rowsPerStrip = 0;
    Kind kind = Kind::Generic;
    int bpp = 24;
    int samples = 1;         // samples per pixel we use (colour + alpha)
    bool alpha = false;      // the first extra sample is kept as alpha
    bool associated = false; // ... and is premultiplied into the colours
    bool minIsWhite = false;
    uint32_t group3Options = 0;
    bool exif = false;               // the page has an Exif directory
    uint16_t ycbcrH = 1, ycbcrV = 1; // chroma subsampling of YCbCr pages
};

bool OneOf(unsigned v, std::initializer_list<unsigned> set) {
    return std::find(set.begin(), set.end(), v) != set.end();
}

int Analyze(TIFF* tif, Layout* L) {
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &L->width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &L->height))
        return ERROR_FILE_FORMAT;
    if (L->width == 0 || L->height == 0 || L->width > uint32_t(INT32_MAX) ||
        L->height > uint32_t(INT32_MAX))
        return ERROR_INV_RANGE;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT, inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &L->bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &L->spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &L->planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &L->compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &L->photometric)) return ERROR_FILE_FORMAT;
    if (L->spp == 0 || L->spp > kMaxSamples || L->bps == 0 || L->bps > 32) return ERROR_FILE_FORMAT;
    // A colour map indexes single samples.
    if (L->photometric == PHOTOMETRIC_PALETTE && L->spp != 1) return ERROR_FILE_FORMAT;
    uint16_t extraCount = 0;
    uint16_t* extras = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extras);
    if (!TIFFIsCODECConfigured(L->compression)) return ERROR_UNKNOWN_COMP;
    if (L->compression == COMPRESSION_CCITTFAX3)
        TIFFGetFieldDefaulted(tif, TIFFTAG_GROUP3OPTIONS, &L->group3Options);
    L->tiled = TIFFIsTiled(tif) != 0;
    if (L->tiled) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &L->tileW) ||
            !TIFFGetField(tif, TIFFTAG_TILELENGTH, &L->tileH) || L->tileW == 0 || L->tileH == 0)
            return ERROR_FILE_FORMAT;
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &L->rowsPerStrip);
        L->rowsPerStrip = std::clamp(L->rowsPerStrip, 1u, L->height);
    }
    // Unspecified extra samples are taken as alpha too: that is what they nearly always are.
    L->alpha = extraCount > 0 || (L->photometric == PHOTOMETRIC_RGB && L->spp > 3);
    L->associated = extraCount > 0 && extras && extras[0] == EXTRASAMPLE_ASSOCALPHA;
    L->minIsWhite = L->photometric == PHOTOMETRIC_MINISWHITE;
    uint64_t exifOffset = 0;
    L->exif = TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifOffset) && exifOffset != 0;
    if (L->photometric == PHOTOMETRIC_YCBCR)
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &L->ycbcrH, &L->ycbcrV);

    // Sub-byte tiles must start on byte boundaries for the direct path: the standard's
    // multiple-of-16 tile widths always do.
    const bool uintSamples = sampleFormat == SAMPLEFORMAT_UINT || sampleFormat == SAMPLEFORMAT_VOID;
    const bool tilesAligned = !L->tiled || L->tileW % 16 == 0;
    L->kind = Kind::Generic;
    if (uintSamples && tilesAligned) {
        switch (L->photometric) {
            case PHOTOMETRIC_MINISBLACK:
            case PHOTOMETRIC_MINISWHITE:
                if (L->spp == 1 && OneOf(L->bps, {1, 2, 4, 8, 16})) {
                    L->kind = Kind::Gray;
                    L->alpha = false;
                    L->bpp = L->bps == 1 ? 1 : L->bps <= 4 ? 4 : 8;
                    L->samples = 1;
                } else if (L->spp >= 2 && OneOf(L->bps, {8, 16})) {
                    L->kind = Kind::Gray;
                    L->alpha = true;
                    L->bpp = 32;
                    L->samples = 2;
                }
                break;
            case PHOTOMETRIC_PALETTE:
                if (L->spp == 1 && OneOf(L->bps, {1, 2, 4, 8})) {
                    L->kind = Kind::Palette;
                    L->alpha = false;
                    L->bpp = L->bps == 1 ? 1 : L->bps <= 4 ? 4 : 8;
                    L->samples = 1;
                }
                break;
            case PHOTOMETRIC_RGB:
                if (L->spp >= 3 && OneOf(L->bps, {8, 16})) {
                    L->kind = Kind::Rgb;
                    L->alpha = L->spp >= 4 && L->alpha;
                    L->bpp = L->alpha ? 32 : 24;
                    L->samples = L->alpha ? 4 : 3;
                }
                break;
            case PHOTOMETRIC_SEPARATED:
                if (inkSet == INKSET_CMYK && L->spp >= 4 && L->bps == 8) {
                    L->kind = Kind::Cmyk;
                    L->alpha = L->spp >= 5 && extraCount > 0;
                    L->bpp = L->alpha ? 32 : 24;
                    L->samples = L->alpha ? 5 : 4;
                }
                break;
            case PHOTOMETRIC_YCBCR:
                // libjpeg turns JPEG-coded YCbCr into RGB rows itself, subsampled or not.
                if (L->compression == COMPRESSION_JPEG && L->spp == 3 && L->bps == 8 &&
                    L->planar == PLANARCONFIG_CONTIG &&
                    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) {
                    L->kind = Kind::Rgb;
                    L->alpha = false;
                    L->bpp = 24;
                    L->samples = 3;
                }
                break;
            default: break;
        }
    }
    if (L->kind == Kind::Generic) {
        char message[1024];
        if (!TIFFRGBAImageOK(tif, message)) return ERROR_IMAGE_TYPE;
        L->bpp = extraCount > 0 ? 32 : 24;
    }
    return SUCCESS;
}

// The family's code for a compression: uncompressed, LZW, PackBits (others count as the
// uncompressed one).
int ByCompression(uint16_t compression, int none, int lzw, int packbits) {
    return compression == COMPRESSION_LZW        ? lzw
           : compression == COMPRESSION_PACKBITS ? packbits
                                                 : none;
}

int FormatOf(const Layout& L) {
    if (L.compression == COMPRESSION_JPEG || L.compression == COMPRESSION_OJPEG) {
        if (L.photometric != PHOTOMETRIC_YCBCR || (L.ycbcrH == 1 && L.ycbcrV == 1))
            return FILE_JTIF;
        return L.ycbcrV == 1 ? FILE_LEAD2JTIF : FILE_LEAD1JTIF;
    }
    if (L.exif && L.photometric == PHOTOMETRIC_YCBCR) return FILE_EXIF_YCC;
    if (L.exif && L.photometric == PHOTOMETRIC_RGB) return FILE_EXIF;
    if (L.photometric == PHOTOMETRIC_SEPARATED)
        return ByCompression(L.compression, FILE_TIF_CMYK, FILE_TIFLZW_CMYK,
                             FILE_TIF_PACKBITS_CMYK);
    if (L.photometric == PHOTOMETRIC_YCBCR)
        return ByCompression(L.compression, FILE_TIF_YCC, FILE_TIFLZW_YCC, FILE_TIF_PACKBITS_YCC);
    switch (L.compression) {
        case COMPRESSION_LZW: return FILE_TIFLZW;
        case COMPRESSION_PACKBITS: return FILE_TIF_PACKBITS;
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW: return FILE_CCITT;
        case COMPRESSION_CCITTFAX3:
            return L.group3Options & GROUP3OPT_2DENCODING ? FILE_CCITT_GROUP3_2DIM
                                                          : FILE_CCITT_GROUP3_1DIM;
        case COMPRESSION_CCITTFAX4: return FILE_CCITT_GROUP4;
        default: return FILE_TIF;
    }
}

void ResolutionOf(TIFF* tif, int* x, int* y) {
    EXTFILEOPTIONS opt;
    L_GetExtFileOption(&opt);
    *x = opt.XResolution;
    *y = opt.YResolution;
    float rx = 0, ry = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit == RESUNIT_NONE || !TIFFGetField(tif, TIFFTAG_XRESOLUTION, &rx)) return;
    if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &ry)) ry = rx;
    double scale = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    auto dpi = [scale](float v, int fallback) {
        double d = double(v) * scale;
        return std::isfinite(d) && d >= 1 && d <= 1e6 ? int(std::lround(d)) : fallback;
    };
    *x = dpi(rx, *x);
    *y = dpi(ry, *y);
}

} // namespace

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    MemStream s{data, size};
    ErrorState errors;
    TiffPtr tif = Open(&s, "r", &errors, ReadAllocLimit(size));
    if (!tif) return ERROR_FILE_FORMAT;
    Layout L;
    int rc = Analyze(tif.get(), &L);
    if (rc != SUCCESS) return rc;
    info->Format = FormatOf(L);
    info->Width = int(L.width);
    info->Height = int(L.height);
    info->BitsPerPixel = L.bpp;
    info->Colors = L.bpp <= 8 ? 1 << L.bpp : 0;
    info->Compression = L.compression;
    info->Passes = 1;
    info->PageCount = int(std::max<tdir_t>(1, TIFFNumberOfDirectories(tif.get())));
    ResolutionOf(tif.get(), &info->XResolution, &info->YResolution);
    return SUCCESS;
}

namespace {

// ---------------------------------------------------------------------------
// Decoding.

// 16-bit samples to 8 bits the way ImageMagick does (v / 257, rounded down), so files
// from it open with the same pixels; 8-bit values widened as v * 257 come back exactly.
inline uint8_t Scale16(uint32_t v) { return uint8_t(v / 257u); }

// Premultiplied colour back to straight colour, through the 16-bit value round(c * 65535 / a)
// like other 16-bit data.
inline uint8_t Unpremultiply(uint8_t c, uint8_t a) {
    if (a == 0) return 0;
    uint32_t v = (uint32_t(c) * 65535u + a / 2u) / a;
    return Scale16(std::min(v, 65535u));
}

// Converts `n` pixels of interleaved samples (`stride` samples apart, 8 or 16 bits each,
// already in host byte order) into bitmap row `dst` starting at pixel x0.
struct RowConverter {
    Layout L;
    int stride = 1;
    uint8_t lut2[4] = {0, 1, 2, 3}; // 2-bit sample -> 4-bit index

    template <class T>
    static uint8_t To8(T v) {
        if constexpr (sizeof(T) == 2)
            return Scale16(v);
        else
            return v;
    }

    template <class T>
    void Color(const T* s, uint8_t* d, int n) const {
        if (L.kind == Kind::Rgb && !L.alpha) {
            for (int i = 0; i < n; ++i, s += stride, d += 3) {
                d[0] = To8(s[2]);
                d[1] = To8(s[1]);
                d[2] = To8(s[0]);
            }
        } else if (L.kind == Kind::Rgb) {
            for (int i = 0; i < n; ++i, s += stride, d += 4) {
                uint8_t a = To8(s[3]);
                d[0] = To8(s[2]);
                d[1] = To8(s[1]);
                d[2] = To8(s[0]);
                d[3] = a;
                if (L.associated && a != 255) {
                    d[0] = Unpremultiply(d[0], a);
                    d[1] = Unpremultiply(d[1], a);
                    d[2] = Unpremultiply(d[2], a);
                }
            }
        } else if (L.kind == Kind::Gray) { // with alpha
            const uint8_t flip = L.minIsWhite ? 255 : 0;
            for (int i = 0; i < n; ++i, s += stride, d += 4) {
                uint8_t a = To8(s[1]);
                uint8_t g = To8(s[0]);
                g ^= flip;
                if (L.associated && a != 255) g = Unpremultiply(g, a);
                d[0] = d[1] = d[2] = g;
                d[3] = a;
            }
        } else { // CMYK ink amounts, perhaps with alpha
            const int step = L.alpha ? 4 : 3;
            for (int i = 0; i < n; ++i, s += stride, d += step) {
                unsigned k = 255u - To8(s[3]);
                auto mul = [k](unsigned v) {
                    unsigned t = (255u - v) * k + 128;
                    return uint8_t((t + (t >> 8)) >> 8);
                };
                d[0] = mul(To8(s[2]));
                d[1] = mul(To8(s[1]));
                d[2] = mul(To8(s[0]));
                if (L.alpha) d[3] = To8(s[4]);
            }
        }
    }

    void operator()(const uint8_t* src, uint8_t* dst, int x0, int n) const {
        if (L.bpp <= 8) {
            switch (L.bps) {
                case 1: std::memcpy(dst + x0 / 8, src, size_t(n + 7) / 8); break;
                case 2: {
                    uint8_t* d = dst + x0 / 2;
                    for (int i = 0; i < n; i += 2) {
                        uint8_t byte = src[i / 4];
                        int shift = 6 - 2 * (i & 3);
                        uint8_t hi = lut2[(byte >> shift) & 3];
                        uint8_t lo = i + 1 < n ? lut2[(byte >> (shift - 2)) & 3] : 0;
                        d[i / 2] = uint8_t(hi << 4 | lo);
                    }
                    break;
                }
                case 4: std::memcpy(dst + x0 / 2, src, size_t(n + 1) / 2); break;
                case 8: std::memcpy(dst + x0, src, size_t(n)); break;
                default: {
                    const auto* s = reinterpret_cast<const uint16_t*>(src);
                    for (int i = 0; i < n; ++i) dst[x0 + i] = Scale16(s[i]);
                    break;
                }
            }
            return;
        }
        uint8_t* d = dst + size_t(x0) * size_t(L.bpp / 8);
        if (L.bps == 16)
            Color(reinterpret_cast<const uint16_t*>(src), d, n);
        else
            Color(src, d, n);
    }
};

// The palette the bitmap gets: a gray ramp matching the photometric interpretation, or
// the file's colour map.
int MakePalette(TIFF* tif, const Layout& L, RGBQUAD* pal, RowConverter* conv) {
    std::fill(pal, pal + 256, RGBQUAD{});
    int entries = 1 << L.bpp;
    if (L.kind == Kind::Gray) {
        for (int i = 0; i < entries; ++i) {
            int level = i * 255 / (entries - 1);
            if (L.minIsWhite) level = 255 - level;
            pal[i] = RGBQUAD{uint8_t(level), uint8_t(level), uint8_t(level), 0};
        }
        // 2-bit levels land on the matching entries of the 16-level ramp.
        for (int v = 0; v < 4; ++v) conv->lut2[v] = uint8_t(v * 5);
        return SUCCESS;
    }
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
        return ERROR_FILE_FORMAT;
    const int n = 1 << L.bps; // libtiff guarantees this many entries
    // Some old writers stored 8-bit values in the 16-bit map.
    bool eightBit = true;
    for (int i = 0; i < n; ++i)
        if (r[i] > 255 || g[i] > 255 || b[i] > 255) eightBit = false;
    auto to8 = [eightBit](uint16_t v) { return eightBit ? uint8_t(v) : Scale16(v); };
    for (int i = 0; i < n; ++i) pal[i] = RGBQUAD{to8(b[i]), to8(g[i]), to8(r[i]), 0};
    return SUCCESS;
}

// Interleaves one row of separate sample planes (8 or 16 bits) into `dst`.
void Interleave(const uint8_t* const* planes, int count, int bytesPerSample, int n, uint8_t* dst) {
    if (bytesPerSample == 1) {
        for (int p = 0; p < count; ++p)
            for (int x = 0; x < n; ++x) dst[x * count + p] = planes[p][x];
    } else {
        auto* d = reinterpret_cast<uint16_t*>(dst);
        for (int p = 0; p < count; ++p) {
            const auto* s = reinterpret_cast<const uint16_t*>(planes[p]);
            for (int x = 0; x < n; ++x) d[x * count + p] = s[x];
        }
    }
}

// Contiguous strips are read a row at a time: libtiff decodes strips incrementally, so
// a single-strip file needs no strip-sized buffer and each row is converted while it is
// still in the cache.
int LoadRows(TIFF* tif, const Layout& L, const RowConverter& conv, BITMAPHANDLE* out,
             LoadContext& ctx, const ErrorState& errors, size_t fileSize) {
    const uint64_t rowBytes = TIFFScanlineSize64(tif);
    if (rowBytes == 0 || ctx.CheckWorkingMemory(rowBytes, out) != SUCCESS) return ERROR_FILE_FORMAT;
    Buffer row;
    if (!row.Allocate(size_t(rowBytes))) return ERROR_NO_MEMORY;
    // Rows are reported in batches of about a strip, at least a few kilobytes' worth.
    const uint32_t batch =
        std::max(L.rowsPerStrip, uint32_t(std::max<uint64_t>(1, 65536 / rowBytes)));
    uint32_t reported = 0;
    for (uint32_t y = 0; y < L.height; ++y) {
        if (TIFFReadScanline(tif, row.p.get(), y, 0) != 1 || errors.failed) {
            // Whole strips are read at once, so the rows before this one's strip are real.
            if (!BlockPastEnd(tif, TIFFComputeStrip(tif, y, 0), fileSize)) return ERROR_FILE_FORMAT;
            const int done = int(y / L.rowsPerStrip * L.rowsPerStrip);
            int rc = ctx.EndedEarly(out, done, done, int(L.height));
            return rc == SUCCESS ? ctx.Rows(out, int(reported), int(L.height - reported), 0, 1)
                                 : rc;
        }
        conv(row.p.get(), L_RowPtr(out, int(y)), 0, int(L.width));
        if (y + 1 - reported >= batch || y + 1 == L.height) {
            int rc = ctx.Rows(out, int(reported), int(y + 1 - reported), 0, 1);
            if (rc != SUCCESS) return rc;
            reported = y + 1;
        }
    }
    return SUCCESS;
}

// Reads tiles or separate-plane strips (blocks) and converts their rows into the bitmap.
int LoadBlocks(TIFF* tif, const Layout& L, const RowConverter& conv, BITMAPHANDLE* out,
               LoadContext& ctx, const ErrorState& errors, size_t fileSize) {
    const bool separate = L.planar == PLANARCONFIG_SEPARATE && L.spp > 1;
    const int planes = separate ? L.samples : 1;
    const uint32_t blockW = L.tiled ? L.tileW : L.width;
    const uint32_t blockH = L.tiled ? L.tileH : L.rowsPerStrip;
    const uint64_t rowBytes64 = L.tiled ? TIFFTileRowSize64(tif) : TIFFScanlineSize64(tif);
    const uint64_t blockBytes64 = L.tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    if (rowBytes64 == 0 || blockBytes64 == 0 || blockBytes64 / blockH < rowBytes64)
        return ERROR_FILE_FORMAT;
    // A strip never holds more than the image; a tile may be larger than a small image,
    // but not absurdly so.
    uint64_t imageBytes = rowBytes64 * uint64_t(L.height);
    if (L.tiled && blockBytes64 > uint64_t(kBaseAllocLimit) && blockBytes64 > imageBytes * 4)
        return ERROR_INV_RANGE;
    const int bytesPerSample = L.bps / 8;
    const uint64_t scratchBytes = separate ? uint64_t(blockW) * planes * bytesPerSample : 0;
    if (ctx.CheckWorkingMemory(blockBytes64 * planes + scratchBytes, out) != SUCCESS)
        return ERROR_FILE_FORMAT;
    const size_t rowBytes = size_t(rowBytes64), blockBytes = size_t(blockBytes64);

    Buffer blocks[5], scratch; // at most five samples are used (CMYK and alpha)
    for (int p = 0; p < planes; ++p)
        if (!blocks[p].Allocate(blockBytes)) return ERROR_NO_MEMORY;
    if (separate && !scratch.Allocate(size_t(scratchBytes))) return ERROR_NO_MEMORY;

    for (uint32_t y0 = 0; y0 < L.height; y0 += blockH) {
        const uint32_t rows = std::min(blockH, L.height - y0);
        for (uint32_t x0 = 0; x0 < L.width; x0 += blockW) {
            const uint32_t cols = std::min(blockW, L.width - x0);
            for (int p = 0; p < planes; ++p) {
                tmsize_t want, got;
                uint32_t block;
                if (L.tiled) {
                    want = tmsize_t(blockBytes);
                    block = TIFFComputeTile(tif, x0, y0, 0, uint16_t(p));
                    got = TIFFReadEncodedTile(tif, block, blocks[p].p.get(), want);
                } else {
                    want = tmsize_t(rowBytes * rows);
                    block = TIFFComputeStrip(tif, y0, uint16_t(p));
                    got = TIFFReadEncodedStrip(tif, block, blocks[p].p.get(), want);
                }
                if (got != want || errors.failed) {
                    if (!BlockPastEnd(tif, block, fileSize)) return ERROR_FILE_FORMAT;
                    // The bands above this one are complete.
                    int rc = ctx.EndedEarly(out, int(y0), int(y0), int(L.height));
                    return rc == SUCCESS ? ctx.Rows(out, int(y0), int(L.height - y0), 0, 1) : rc;
                }
            }
            for (uint32_t r = 0; r < rows; ++r) {
                const uint8_t* src = blocks[0].p.get() + size_t(r) * rowBytes;
                if (separate) {
                    const uint8_t* rowPlanes[5];
                    for (int p = 0; p < planes; ++p)
                        rowPlanes[p] = blocks[p].p.get() + size_t(r) * rowBytes;
                    Interleave(rowPlanes, planes, bytesPerSample, int(cols), scratch.p.get());
                    src = scratch.p.get();
                }
                conv(src, L_RowPtr(out, int(y0 + r)), int(x0), int(cols));
            }
        }
        int rc = ctx.Rows(out, int(y0), int(rows), 0, 1);
        if (rc != SUCCESS) return rc;
    }
    return SUCCESS;
}

// Everything else goes through libtiff's RGBA reader, which hands back premultiplied
// colour when the file has alpha.
int LoadGeneric(TIFF* tif, const Layout& L, BITMAPHANDLE* out, LoadContext& ctx) {
    char message[1024];
    TIFFRGBAImage img;
    if (!TIFFRGBAImageBegin(&img, tif, 1, message)) return ERROR_IMAGE_TYPE;
    // Stored order, like the direct path.
    img.req_orientation = ORIENTATION_TOPLEFT;
    img.orientation = ORIENTATION_TOPLEFT;
    const bool premultiplied = img.alpha != 0;
    size_t rasterBytes = 0;
    int rc = L_CheckImageSize(int(L.width), int(L.height), 32, &rasterBytes, nullptr);
    if (rc == SUCCESS) rc = ctx.CheckWorkingMemory(rasterBytes, out);
    Buffer raster;
    if (rc == SUCCESS && !raster.Allocate(rasterBytes)) rc = ERROR_NO_MEMORY;
    if (rc == SUCCESS) {
        auto* px = reinterpret_cast<uint32_t*>(raster.p.get());
        if (!TIFFRGBAImageGet(&img, px, L.width, L.height)) rc = ERROR_FILE_FORMAT;
    }
    TIFFRGBAImageEnd(&img);
    if (rc != SUCCESS) return rc;
    const int step = out->BitsPerPixel / 8;
    for (uint32_t y = 0; y < L.height; ++y) {
        const auto* s = reinterpret_cast<const uint32_t*>(raster.p.get()) + size_t(y) * L.width;
        uint8_t* d = L_RowPtr(out, int(y));
        for (uint32_t x = 0; x < L.width; ++x, d += step) {
            uint32_t v = s[x];
            uint8_t r = TIFFGetR(v), g = TIFFGetG(v), b = TIFFGetB(v), a = TIFFGetA(v);
            if (premultiplied && a != 255) {
                r = Unpremultiply(r, a);
                g = Unpremultiply(g, a);
                b = Unpremultiply(b, a);
            }
            d[0] = b;
            d[1] = g;
            d[2] = r;
            if (step == 4) d[3] = a;
        }
    }
    return ctx.Rows(out, 0, int(L.height), 0, 1);
}

// Largest single block libtiff's RGBA reader allocates for this page.
uint64_t GenericBlockBytes(TIFF* tif, const Layout& L) {
    uint64_t block = L.tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    return L.planar == PLANARCONFIG_SEPARATE ? block * L.spp : block;
}

int LoadPage(TIFF* tif, const Layout& L, BITMAPHANDLE* out, LoadContext& ctx,
             const ErrorState& errors, size_t fileSize) {
    RGBQUAD pal[256];
    RowConverter conv;
    conv.L = L;
    conv.stride = L.planar == PLANARCONFIG_SEPARATE && L.spp > 1 ? L.samples : L.spp;
    if (L.bpp <= 8) {
        int rc = MakePalette(tif, L, pal, &conv);
        if (rc != SUCCESS) return rc;
    }
    int rc = L_CreateBitmap(out, TYPE_CONV, int(L.width), int(L.height), L.bpp, ORDER_BGR,
                            L.bpp <= 8 ? pal : nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    ResolutionOf(tif, &out->XResolution, &out->YResolution);
    const bool contiguousStrips = !L.tiled && (L.planar == PLANARCONFIG_CONTIG || L.spp == 1);
    if (L.kind == Kind::Generic)
        rc = LoadGeneric(tif, L, out, ctx);
    else if (contiguousStrips)
        rc = LoadRows(tif, L, conv, out, ctx, errors, fileSize);
    else
        rc = LoadBlocks(tif, L, conv, out, ctx, errors, fileSize);
    if (rc == SUCCESS && errors.failed && !ctx.Truncated()) rc = ERROR_FILE_FORMAT;
    return rc;
}

} // namespace

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    MemStream s{data, size};
    ErrorState errors;
    // libtiff never gets more at once than the file can pay for.
    tmsize_t limit = tmsize_t(std::min<uint64_t>(uint64_t(ReadAllocLimit(size)), ctx.Budget()));
    TiffPtr tif = Open(&s, "r", &errors, limit);
    if (!tif) return ERROR_FILE_FORMAT;
    Layout L;
    int rc = Analyze(tif.get(), &L);
    // The image must fit our limits before anything its size is allocated.
    if (rc == SUCCESS) rc = L_CheckImageSize(int(L.width), int(L.height), L.bpp, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    if (L.kind == Kind::Generic) {
        // The RGBA reader decodes whole strips with libtiff's own buffers, beside its
        // raster of 4 bytes a pixel and the bitmap: all of it within the budget.
        const uint64_t need = GenericBlockBytes(tif.get(), L);
        const uint64_t pixels = uint64_t(L.width) * L.height;
        const uint64_t bitmap = pixels * uint64_t(L.bpp / 8);
        if (need > ctx.Budget() || bitmap + pixels * 4 > ctx.Budget() - need)
            return ERROR_FILE_FORMAT;
        if (need > uint64_t(limit)) {
            tif.reset();
            s.pos = 0;
            errors = ErrorState{};
            tif = Open(&s, "r", &errors,
                       tmsize_t(std::min<uint64_t>(need + kBaseAllocLimit, ctx.Budget())));
            if (!tif) return ERROR_FILE_FORMAT;
        }
    }
    rc = LoadPage(tif.get(), L, out, ctx, errors, size);
    if (rc != SUCCESS) L_FreeBitmap(out);
    return rc;
}

// The stamp of a TIFF file is a later directory marked as a reduced copy of the first,
// as Exif files have.
int Stamp(const uint8_t* data, size_t size, BITMAPHANDLE* out) {
    MemStream s{data, size};
    ErrorState errors;
    TiffPtr tif = Open(&s, "r", &errors, ReadAllocLimit(size));
    if (!tif) return ERROR_FILE_FORMAT;
    // Thumbnails come right after the picture; a file with more pages is not searched far.
    constexpr int kDirectoriesSearched = 8;
    for (int dir = 1; dir < kDirectoriesSearched && TIFFReadDirectory(tif.get()); ++dir) {
        uint32_t type = 0;
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SUBFILETYPE, &type);
        if (!(type & FILETYPE_REDUCEDIMAGE)) continue;
        Layout L;
        int rc = Analyze(tif.get(), &L);
        size_t bytes = 0;
        if (rc == SUCCESS)
            rc = L_CheckImageSize(int(L.width), int(L.height), L.bpp, &bytes, nullptr);
        LoadContext quiet(nullptr, nullptr, nullptr, size);
        if (rc == SUCCESS && bytes > quiet.Budget()) rc = ERROR_FILE_FORMAT;
        if (rc == SUCCESS) rc = LoadPage(tif.get(), L, out, quiet, errors, size);
        if (rc != SUCCESS) L_FreeBitmap(out);
        return rc;
    }
    return ERROR_NO_STAMP;
}

} // namespace lt::codec::tiff
