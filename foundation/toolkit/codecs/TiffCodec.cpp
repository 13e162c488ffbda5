// TIFF files through libtiff, reading from and writing to memory. The first page is
// read. Common layouts (gray, palette, RGB(A), CMYK at 8 or 16 bits per sample, strips
// or tiles, contiguous or separate planes) are converted strip by strip straight into
// the bitmap, keeping palettes; anything else libtiff understands goes through its
// RGBA reader. The Orientation tag is ignored, as ImageMagick and vips do by default:
// pixels come out in stored order.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include <tiffio.h>

#include "Codec.h"
#include "Exif.h"
#include "TiffColorSpaces.h"

namespace lt::codec {
namespace {

// libtiff may allocate this much at once while reading a directory or a strip of a file.
// Real tag arrays and strips are far smaller; a small hostile file claiming more is
// refused instead of being allowed to reserve gigabytes.
constexpr tmsize_t kBaseAllocLimit = tmsize_t(64) << 20;

// Strips written are about this size: small enough to stay in cache while converted.
constexpr size_t kStripBytes = 64 * 1024;

// ---------------------------------------------------------------------------
// Memory streams.

struct MemStream {
    const uint8_t* data = nullptr; // reading
    size_t size = 0;
    std::vector<uint8_t>* out = nullptr; // writing
    uint64_t pos = 0;

    size_t Size() const { return out ? out->size() : size; }
};

tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<MemStream*>(h);
    const uint8_t* base = s->out ? s->out->data() : s->data;
    size_t avail = s->Size();
    if (n <= 0 || s->pos >= avail) return 0;
    size_t k = std::min(size_t(n), size_t(avail - s->pos));
    std::memcpy(buf, base + s->pos, k);
    s->pos += k;
    return tmsize_t(k);
}

tmsize_t WriteProc(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<MemStream*>(h);
    if (!s->out || n < 0) return -1;
    uint64_t end = s->pos + uint64_t(n);
    try {
        if (end > s->out->size()) s->out->resize(size_t(end));
    } catch (...) {
        return -1;
    }
    std::memcpy(s->out->data() + s->pos, buf, size_t(n));
    s->pos = end;
    return n;
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<MemStream*>(h);
    uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->Size() : 0;
    uint64_t target = base + off; // libtiff passes backward moves as wrapped values
    // Classic TIFF offsets are 32 bits; BigTIFF ones beyond a terabyte are nonsense here.
    if (target > (uint64_t(1) << 40)) return toff_t(-1);
    s->pos = target;
    return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<MemStream*>(h)->Size(); }

// Reading maps the caller's buffer, so libtiff decodes strips without copying them.
int MapProc(thandle_t h, void** base, toff_t* size) {
    auto* s = static_cast<MemStream*>(h);
    if (s->out) return 0;
    *base = const_cast<uint8_t*>(s->data);
    *size = s->size;
    return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages go nowhere; an error only marks the handle as failed.
struct ErrorState {
    bool failed = false;
};
int OnError(TIFF*, void* user, const char*, const char*, va_list) {
    if (user) static_cast<ErrorState*>(user)->failed = true;
    return 1;
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr Open(MemStream* s, const char* mode, ErrorState* errors, tmsize_t allocLimit) {
    // Messages raised outside any handle would otherwise go to stderr.
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return nullptr;
    if (allocLimit > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(opts, allocLimit);
    TIFFOpenOptionsSetErrorHandlerExtR(opts, OnError, errors);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, OnWarning, nullptr);
    TIFF* tif = TIFFClientOpenExt("memory", mode, s, ReadProc, WriteProc, SeekProc, CloseProc,
                                  SizeProc, MapProc, UnmapProc, opts);
    TIFFOpenOptionsFree(opts);
    return TiffPtr(tif);
}

tmsize_t ReadAllocLimit(size_t fileSize) {
    return kBaseAllocLimit + tmsize_t(std::min<size_t>(fileSize, size_t(1) << 40));
}

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

struct Buffer {
    std::unique_ptr<uint8_t[]> p;
    bool Allocate(size_t n) {
        p.reset(new (std::nothrow) uint8_t[std::max<size_t>(n, 1)]);
        return p != nullptr;
    }
};

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

// ---------------------------------------------------------------------------
// Encoding.

enum class Ramp { None, Normal, Inverse };

Ramp GrayRamp(const BITMAPHANDLE* b) {
    if (!b->pPalette) return Ramp::None;
    const int n = 1 << b->BitsPerPixel;
    bool normal = true, inverse = true;
    for (int i = 0; i < n && (normal || inverse); ++i) {
        const RGBQUAD& q = b->pPalette[i];
        int level = i * 255 / (n - 1);
        if (q.rgbRed != q.rgbGreen || q.rgbGreen != q.rgbBlue) return Ramp::None;
        if (q.rgbRed != level) normal = false;
        if (q.rgbRed != 255 - level) inverse = false;
    }
    return normal ? Ramp::Normal : inverse ? Ramp::Inverse : Ramp::None;
}

bool IsFax(int format) {
    return format == FILE_CCITT || format == FILE_CCITT_GROUP3_1DIM ||
           format == FILE_CCITT_GROUP3_2DIM || format == FILE_CCITT_GROUP4;
}

bool IsJtif(int format) {
    return format == FILE_JTIF || format == FILE_LEAD2JTIF || format == FILE_LEAD1JTIF;
}
bool IsCmyk(int format) {
    return format == FILE_TIF_CMYK || format == FILE_TIFLZW_CMYK ||
           format == FILE_TIF_PACKBITS_CMYK;
}
bool IsYcc(int format) {
    return format == FILE_TIF_YCC || format == FILE_TIFLZW_YCC || format == FILE_TIF_PACKBITS_YCC ||
           format == FILE_EXIF_YCC;
}

bool CanSave(int format, int bpp) {
    if (IsFax(format)) return bpp == 1;
    if (IsJtif(format)) return bpp == 8 || bpp == 24;
    if (IsCmyk(format)) return bpp == 24 || bpp == 32;
    if (IsYcc(format) || format == FILE_EXIF) return bpp == 24;
    return (format == FILE_TIF || format == FILE_TIFLZW || format == FILE_TIF_PACKBITS) &&
           IsValidBpp(bpp);
}

// TIFF's LZW: 9- to 12-bit codes written most significant bit first, Clear (256) at the
// start and whenever the table fills, EOI (257) at the end, and the code width growing
// one code early as libtiff expects. We compress strips ourselves rather than through
// libtiff because its encoder spends most of a photo's save time probing a large hash
// table; this one keeps its table in cache and is about twice as fast.
class LzwEncoder {
public:
    // Compresses `n` bytes into `out`, which is resized to the compressed size.
    void Encode(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
        // Every input byte yields at most one 12-bit code, plus Clear codes and EOI.
        out.resize(n + n / 2 + n / 1024 + 16);
        uint8_t* o = out.data();
        uint64_t bits = 0;
        int pending = 0, width = 9;
        uint32_t maxCode = 511, next = kFirstCode;
        auto put = [&](uint32_t code) {
            bits = bits << width | code;
            pending += width;
            if (pending >= 32) {
                pending -= 32;
                uint32_t v = uint32_t(bits >> pending);
                o[0] = uint8_t(v >> 24);
                o[1] = uint8_t(v >> 16);
                o[2] = uint8_t(v >> 8);
                o[3] = uint8_t(v);
                o += 4;
            }
        };
        auto clear = [&] {
            std::memset(table_, 0, sizeof table_);
            width = 9;
            maxCode = 511;
            next = kFirstCode;
        };
        clear();
        put(kClear);
        if (n > 0) {
            uint32_t prefix = in[0];
            for (size_t i = 1; i < n; ++i) {
                const uint32_t key = prefix << 8 | in[i];
                uint32_t h = (key * 2654435761u) >> (32 - kHashBits);
                bool found = false;
                // Entries hold key << 12 | code; codes are never 0, so 0 marks a free slot.
                for (uint32_t e; (e = table_[h]) != 0; h = (h + 1) & (kHashSize - 1))
                    if (e >> 12 == key) {
                        prefix = e & 0xFFF;
                        found = true;
                        break;
                    }
                if (found) continue;
                put(prefix);
                table_[h] = key << 12 | next;
                prefix = in[i];
                if (++next == kTableFull) {
                    put(kClear);
                    clear();
                } else if (next > maxCode) {
                    ++width;
                    maxCode = (1u << width) - 1;
                }
            }
            put(prefix);
            // The reader adds a table entry for that last code before it reads EOI.
            if (++next == kTableFull) {
                put(kClear);
                width = 9;
            } else if (next > maxCode) {
                ++width;
            }
        }
        put(kEoi);
        while (pending > 0) {
            int shift = pending - 8;
            *o++ = uint8_t(shift >= 0 ? bits >> shift : bits << -shift);
            pending = std::max(shift, 0);
        }
        out.resize(size_t(o - out.data()));
    }

private:
    static constexpr uint32_t kClear = 256, kEoi = 257, kFirstCode = 258, kTableFull = 4094;
    // A quarter full at most, so probes are short and the table stays in the cache.
    static constexpr int kHashBits = 14;
    static constexpr uint32_t kHashSize = 1u << kHashBits;
    uint32_t table_[kHashSize];
};

// Fills one RGB (or palette, or gray) file row from bitmap row y.
void FileRow(const BITMAPHANDLE* b, int y, uint8_t* d) {
    const uint8_t* s = L_RowPtr(b, y);
    const int w = b->Width;
    switch (b->BitsPerPixel) {
        case 32:
            for (int x = 0; x < w; ++x, s += 4, d += 4) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                d[3] = s[3];
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
            break;
        case 16:
            for (int x = 0; x < w; ++x, d += 3) {
                BGRA c = Unpack16(uint16_t(s[x * 2] | s[x * 2 + 1] << 8));
                d[0] = c.r;
                d[1] = c.g;
                d[2] = c.b;
            }
            break;
        default: std::memcpy(d, s, (size_t(w) * size_t(b->BitsPerPixel) + 7) / 8); return;
    }
}

// Stores each sample of a row of `n` samples as the difference from the same sample of the
// pixel to its left (TIFF's horizontal predictor); right to left, so each sample still
// sees its neighbour's original value.
void Predict(uint8_t* row, size_t n, size_t spp) {
    for (size_t i = n - 1; i >= spp; --i) row[i] = uint8_t(row[i] - row[i - spp]);
}

// Fax pages are stored as white-is-zero with black as 1, whatever the palette: readers of
// fax files expect that, and some ignore any other photometric interpretation.
void FaxRow(const BITMAPHANDLE* b, int y, uint8_t* d, bool invert) {
    const uint8_t* s = L_RowPtr(b, y);
    const size_t n = (size_t(b->Width) + 7) / 8;
    for (size_t i = 0; i < n; ++i) d[i] = invert ? uint8_t(~s[i]) : s[i];
}

uint16_t CompressionFor(int format) {
    switch (format) {
        case FILE_TIFLZW:
        case FILE_TIFLZW_CMYK:
        case FILE_TIFLZW_YCC: return COMPRESSION_LZW;
        case FILE_TIF_PACKBITS:
        case FILE_TIF_PACKBITS_CMYK:
        case FILE_TIF_PACKBITS_YCC: return COMPRESSION_PACKBITS;
        case FILE_JTIF:
        case FILE_LEAD2JTIF:
        case FILE_LEAD1JTIF: return COMPRESSION_JPEG;
        case FILE_CCITT: return COMPRESSION_CCITTRLE;
        case FILE_CCITT_GROUP3_1DIM:
        case FILE_CCITT_GROUP3_2DIM: return COMPRESSION_CCITTFAX3;
        case FILE_CCITT_GROUP4: return COMPRESSION_CCITTFAX4;
        default: return COMPRESSION_NONE;
    }
}

void SetResolution(TIFF* t, const BITMAPHANDLE* b) {
    EXTFILEOPTIONS opt;
    L_GetExtFileOption(&opt);
    TIFFSetField(t, TIFFTAG_XRESOLUTION,
                 float(b->XResolution > 0 ? b->XResolution : opt.XResolution));
    TIFFSetField(t, TIFFTAG_YRESOLUTION,
                 float(b->YResolution > 0 ? b->YResolution : opt.YResolution));
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
}

// Gray level of each palette entry, with the weights JPEG uses for luma; `identity` when
// every index is its own level (a gray ramp).
void GrayLevels(const BITMAPHANDLE* b, uint8_t* lut, bool* identity) {
    *identity = true;
    const int n = 1 << b->BitsPerPixel;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD q = (b->pPalette && i < n) ? b->pPalette[i] : RGBQUAD{};
        lut[i] =
            uint8_t((19595u * q.rgbRed + 38470u * q.rgbGreen + 7471u * q.rgbBlue + 32768u) >> 16);
        if (i < n && lut[i] != i) *identity = false;
    }
}

// Exif TIFF files keep a small uncompressed RGB copy of the picture in their second
// directory, marked as a reduced image.
int WriteThumbnailDirectory(TIFF* t, const BITMAPHANDLE* b) {
    BITMAPHANDLE thumb;
    int rc = exif::MakeThumbnail(b, &thumb);
    if (rc != SUCCESS) return rc;
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_REDUCEDIMAGE));
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(thumb.Width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(thumb.Height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(thumb.Height));
    SetResolution(t, b);
    const size_t rowBytes = size_t(thumb.Width) * 3;
    std::vector<uint8_t> pixels(rowBytes * size_t(thumb.Height));
    for (int y = 0; y < thumb.Height; ++y) FileRow(&thumb, y, pixels.data() + rowBytes * y);
    L_FreeBitmap(&thumb);
    if (TIFFWriteEncodedStrip(t, 0, pixels.data(), tmsize_t(pixels.size())) < 0 ||
        !TIFFWriteDirectory(t))
        return ERROR_FILE_WRITE;
    return SUCCESS;
}

int Encode(const BITMAPHANDLE* b, int format, int qfactor, std::vector<uint8_t>& out) {
    const uint16_t compression = CompressionFor(format);
    const bool fax = IsFax(format), cmyk = IsCmyk(format), ycc = IsYcc(format);
    const bool jpeg = compression == COMPRESSION_JPEG;
    const bool exif = format == FILE_EXIF || format == FILE_EXIF_YCC;
    out.clear();
    MemStream s;
    s.out = &out;
    ErrorState errors;
    // The Exif directory is added to the finished file, which is then known to be little-endian.
    TiffPtr tif = Open(&s, exif ? "wl" : "w", &errors, 0);
    if (!tif) return ERROR_FILE_WRITE;
    TIFF* t = tif.get();

    const int bpp = b->BitsPerPixel;
    // 16-bit pixels are written as 24-bit RGB: TIFF readers rarely take 5-5-5 data.
    uint16_t spp = bpp == 32 ? 4 : bpp >= 16 ? 3 : 1;
    const uint16_t bps = bpp <= 8 ? uint16_t(bpp) : 8;
    uint16_t photometric = PHOTOMETRIC_RGB;
    // YCbCr outside JPEG keeps all of its chroma: ImageMagick misreads subsampled samples
    // outside JPEG, and the saving in size is small.
    uint16_t hsub = 1, vsub = 1;
    if (fax) {
        photometric = PHOTOMETRIC_MINISWHITE;
    } else if (cmyk) {
        photometric = PHOTOMETRIC_SEPARATED;
        spp = bpp == 32 ? 5 : 4;
    } else if (jpeg && bpp == 8) {
        photometric = PHOTOMETRIC_MINISBLACK;
    } else if (jpeg || ycc) {
        photometric = PHOTOMETRIC_YCBCR;
        spp = 3;
        if (format == FILE_LEAD2JTIF) hsub = 2;
        if (format == FILE_LEAD1JTIF) hsub = vsub = 2;
    } else if (bpp <= 8) {
        Ramp ramp = GrayRamp(b);
        photometric = ramp == Ramp::Normal    ? PHOTOMETRIC_MINISBLACK
                      : ramp == Ramp::Inverse ? PHOTOMETRIC_MINISWHITE
                                              : PHOTOMETRIC_PALETTE;
    }
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(b->Width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(b->Height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (photometric == PHOTOMETRIC_YCBCR) {
        TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, hsub, vsub);
        // Full-range samples, as JPEG has them; the default range would be wrong.
        float reference[6] = {0, 255, 128, 255, 128, 255};
        TIFFSetField(t, TIFFTAG_REFERENCEBLACKWHITE, reference);
    }
    if (cmyk) TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    if (jpeg) {
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, JpegQuality(qfactor));
        // We hand libtiff RGB rows; it converts them and subsamples the chroma.
        if (photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (format == FILE_CCITT_GROUP3_2DIM)
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, uint32_t(GROUP3OPT_2DENCODING));
    // Differencing neighbouring samples makes LZW find runs in photographs: the file
    // comes out much smaller and, with less to compress, faster. Palette indices have no
    // such neighbourhood, so they are left alone.
    const bool predict = compression == COMPRESSION_LZW && bpp > 8;
    if (predict) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (spp == 4 + int(cmyk)) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (photometric == PHOTOMETRIC_PALETTE) {
        uint16_t r[256], g[256], bl[256];
        const int n = 1 << bpp;
        for (int i = 0; i < n; ++i) {
            r[i] = uint16_t(b->pPalette[i].rgbRed * 257);
            g[i] = uint16_t(b->pPalette[i].rgbGreen * 257);
            bl[i] = uint16_t(b->pPalette[i].rgbBlue * 257);
        }
        TIFFSetField(t, TIFFTAG_COLORMAP, r, g, bl);
    }
    SetResolution(t, b);
    if (exif) {
        TIFFSetField(t, TIFFTAG_YCBCRPOSITIONING, uint16_t(YCBCRPOSITION_CENTERED));
        TIFFSetField(t, TIFFTAG_EXIFIFD, uint64_t(0));
    }

    const int blackIndex = fax ? BlackIndex(b) : 1;
    uint8_t gray[256];
    bool identity = true;
    if (jpeg && bpp == 8) GrayLevels(b, gray, &identity);
    const size_t rowBytes = size_t(TIFFScanlineSize64(t));
    if (rowBytes == 0) return ERROR_FILE_WRITE;
    uint32_t rowsPerStrip =
        uint32_t(std::clamp<size_t>(kStripBytes / rowBytes, 1, size_t(b->Height)));
    // JPEG strips hold whole rows of blocks (8 rows, 16 with vertical subsampling).
    if (jpeg && rowsPerStrip < uint32_t(b->Height))
        rowsPerStrip = std::max(16u, rowsPerStrip / 16 * 16);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    Buffer strip;
    if (!strip.Allocate(rowBytes * rowsPerStrip)) return ERROR_NO_MEMORY;
    std::unique_ptr<LzwEncoder> lzw;
    std::vector<uint8_t> packed;
    if (compression == COMPRESSION_LZW) {
        lzw.reset(new (std::nothrow) LzwEncoder);
        if (!lzw) return ERROR_NO_MEMORY;
    }
    const int step = bpp / 8;
    for (uint32_t y0 = 0, index = 0; y0 < uint32_t(b->Height); y0 += rowsPerStrip, ++index) {
        const uint32_t rows = std::min(rowsPerStrip, uint32_t(b->Height) - y0);
        for (uint32_t r = 0; r < rows; ++r) {
            uint8_t* d = strip.p.get() + size_t(r) * rowBytes;
            const int y = int(y0 + r);
            if (fax) {
                FaxRow(b, y, d, blackIndex == 0);
            } else if (cmyk) {
                tiffrows::Cmyk(L_RowPtr(b, y), b->Width, step, spp == 5, d);
            } else if (photometric == PHOTOMETRIC_YCBCR && !jpeg) {
                tiffrows::YCbCr(L_RowPtr(b, y), b->Width, step, d);
            } else if (!identity) {
                const uint8_t* src = L_RowPtr(b, y);
                for (int x = 0; x < b->Width; ++x) d[x] = gray[src[x]];
            } else {
                FileRow(b, y, d);
            }
            if (predict) Predict(d, rowBytes, spp);
        }
        const size_t bytes = rowBytes * rows;
        tmsize_t written;
        if (lzw) {
            lzw->Encode(strip.p.get(), bytes, packed);
            written = TIFFWriteRawStrip(t, index, packed.data(), tmsize_t(packed.size()));
        } else {
            written = TIFFWriteEncodedStrip(t, index, strip.p.get(), tmsize_t(bytes));
        }
        if (written < 0) return ERROR_FILE_WRITE;
    }
    if (!TIFFWriteDirectory(t)) return ERROR_FILE_WRITE;
    if (exif) {
        int rc = WriteThumbnailDirectory(t, b);
        if (rc != SUCCESS) return rc;
    }
    tif.reset();
    if (errors.failed) return ERROR_FILE_WRITE;
    if (exif && !exif::AttachToTiff(out, b->Width, b->Height)) return ERROR_FILE_WRITE;
    return SUCCESS;
}

int Save(const BITMAPHANDLE* b, int format, int qfactor, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    try {
        return Encode(b, format, qfactor, out);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
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

bool Sniff(const uint8_t* d, size_t n) {
    if (n < 4) return false;
    return (d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0) ||
           (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43));
}

bool HandlesFormat(int format) {
    return format == FILE_TIF || format == FILE_TIFLZW || format == FILE_TIF_PACKBITS ||
           format == FILE_EXIF || IsFax(format) || IsJtif(format) || IsCmyk(format) ||
           IsYcc(format);
}

} // namespace

extern const Codec kTiffCodec = {"tiff", Sniff, Info, Load, CanSave, Save, Stamp, HandlesFormat};

} // namespace lt::codec
