// PNG files through libpng, from and to memory.
//
// libpng reports errors by longjmp. Each entry point keeps everything it must clean up in
// a State object whose address libpng holds, and the functions libpng calls back hold no
// objects with destructors, so the jump skips nothing that needed destroying.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Codec.h"

namespace lt::codec {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Rows are handed to the progress callback in bands of this many.
constexpr int kProgressBand = 32;

constexpr size_t kIdatBuffer = 256 * 1024;

struct Reader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    bool ended = false; // asked for bytes past the end
};

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep out, size_t n) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    // libpng reads image data ahead in large pieces: past the end, it gets what there is and
    // zeros after it, so that the rows the real bytes hold still decode. The zeros are no
    // valid continuation, so decoding stops with an error soon after.
    const size_t have = std::min(n, r->size - r->pos);
    std::memcpy(out, r->data + r->pos, have);
    r->pos += have;
    if (have < n) {
        std::memset(out + have, 0, n - have);
        if (r->ended) png_error(png, "file truncated");
        r->ended = true;
    }
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

int DpiFromPelsPerMetre(png_uint_32 ppm) {
    return ppm ? int(std::lround(double(ppm) * 0.0254)) : 0;
}

// What a PNG decodes to, decided from its header chunks.
struct Layout {
    int bpp = 0;          // of the bitmap
    bool expand2 = false; // 2-bit samples widened to 4-bit indices by us
    bool gray = false;    // indices are gray levels (the palette is made, not read)
    int colors = 0;       // palette entries stored in the file
    int passes = 1;
    int xdpi = 0, ydpi = 0;
};

// Reads the chunks up to the image data and sets libpng's transforms so that it delivers
// rows in the bitmap's own layout (2-bit rows excepted, which we widen ourselves).
void Configure(png_structp png, png_infop info, Layout& l) {
    png_read_info(png, info);
    const int ct = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (depth == 16) png_set_scale_16(png);
    switch (ct) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_PALETTE:
            if (trns) {
                // A transparent colour needs an alpha channel.
                if (ct == PNG_COLOR_TYPE_PALETTE) {
                    png_set_palette_to_rgb(png);
                    png_set_bgr(png);
                } else {
                    png_set_expand_gray_1_2_4_to_8(png);
                    png_set_gray_to_rgb(png);
                }
                png_set_tRNS_to_alpha(png);
                l.bpp = 32;
            } else {
                l.bpp = depth == 1 ? 1 : depth <= 4 ? 4 : 8;
                l.expand2 = depth == 2;
                l.gray = ct == PNG_COLOR_TYPE_GRAY;
            }
            break;
        case PNG_COLOR_TYPE_RGB:
            png_set_bgr(png);
            if (trns) png_set_tRNS_to_alpha(png);
            l.bpp = trns ? 32 : 24;
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            png_set_gray_to_rgb(png);
            l.bpp = 32;
            break;
        default: // RGB with alpha
            png_set_bgr(png);
            l.bpp = 32;
            break;
    }
    if (ct == PNG_COLOR_TYPE_PALETTE) {
        png_colorp pal = nullptr;
        int n = 0;
        if (png_get_PLTE(png, info, &pal, &n)) l.colors = n;
    } else if (l.gray) {
        l.colors = 1 << depth;
    }
    l.passes = png_set_interlace_handling(png);
    png_uint_32 rx = 0, ry = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &rx, &ry, &unit) && unit == PNG_RESOLUTION_METER) {
        l.xdpi = DpiFromPelsPerMetre(rx);
        l.ydpi = DpiFromPelsPerMetre(ry);
    }
    if (l.xdpi <= 0 || l.ydpi <= 0) {
        EXTFILEOPTIONS ext;
        L_GetExtFileOption(&ext);
        l.xdpi = ext.XResolution;
        l.ydpi = ext.YResolution;
    }
}

struct ReadState {
    Reader reader;
    png_structp png = nullptr;
    png_infop info = nullptr;
    uint8_t* raw = nullptr; // 2-bit rows before widening
    bool noMemory = false;
    int rowsDone = 0; // complete rows of the first pass
    int passes = 1;   // kept here, not in a local: read after a longjmp

    ~ReadState() {
        std::free(raw);
        png_destroy_read_struct(&png, &info, nullptr);
    }
};

bool Sniff(const uint8_t* data, size_t size) {
    return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

int Info(const uint8_t* data, size_t size, FILEINFO* fi) {
    ReadState s;
    s.reader = Reader{data, size, 0};
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!s.png) return ERROR_NO_MEMORY;
    s.info = png_create_info_struct(s.png);
    if (!s.info) return ERROR_NO_MEMORY;
    Layout l;
    if (setjmp(png_jmpbuf(s.png))) return ERROR_FILE_FORMAT;
    png_set_read_fn(s.png, &s.reader, ReadBytes);
    // Describing a file is harmless whatever its size; the limits apply when loading.
    png_set_user_limits(s.png, 0x7FFFFFFF, 0x7FFFFFFF);
    Configure(s.png, s.info, l);
    fi->Format = FILE_PNG;
    fi->Width = int(png_get_image_width(s.png, s.info));
    fi->Height = int(png_get_image_height(s.png, s.info));
    fi->BitsPerPixel = l.bpp;
    fi->Colors = l.colors;
    fi->Compression = 0;
    fi->Passes = l.passes;
    fi->XResolution = l.xdpi;
    fi->YResolution = l.ydpi;
    return SUCCESS;
}

// Widens a row of 2-bit samples to 4-bit indices; gray levels 0..3 become 0, 5, 10, 15 of
// the 16-level gray palette.
void Widen2(const uint8_t* src, uint8_t* dst, int width, bool gray) {
    const int scale = gray ? 5 : 1;
    const int bytes = (width + 3) / 4;
    for (int i = 0; i < bytes; ++i) {
        unsigned v = src[i];
        unsigned a = ((v >> 6) & 3) * scale, b = ((v >> 4) & 3) * scale;
        unsigned c = ((v >> 2) & 3) * scale, d = (v & 3) * scale;
        dst[2 * i] = uint8_t((a << 4) | b);
        if (2 * i + 1 < (width + 1) / 2) dst[2 * i + 1] = uint8_t((c << 4) | d);
    }
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    ReadState s;
    s.reader = Reader{data, size, 0};
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!s.png) return ERROR_NO_MEMORY;
    s.info = png_create_info_struct(s.png);
    if (!s.info) return ERROR_NO_MEMORY;
    // Dimensions first, straight from the header, before libpng sees the file.
    if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        const uint32_t w = Be32(data + 16), h = Be32(data + 20);
        if (w > 0x7FFFFFFF || h > 0x7FFFFFFF) return ERROR_FILE_FORMAT;
        int rc = L_CheckImageSize(int(w), int(h), 1, nullptr, nullptr);
        if (rc != SUCCESS) return rc;
    }
    Layout l;
    int rc = SUCCESS;
    if (setjmp(png_jmpbuf(s.png))) {
        // A file cut short keeps the rows it holds. Interlaced rows are not complete
        // before the last pass, so only a single-pass file can be shown in part.
        if (s.reader.ended && s.passes == 1 && IsAllocated(out) &&
            ctx.EndedEarly(out, s.rowsDone, s.rowsDone, out->Height) == SUCCESS) {
            const int reported = ctx.Rows(out, 0, out->Height, 0, 1);
            if (reported == SUCCESS) return SUCCESS;
            L_FreeBitmap(out);
            L_InitBitmap(out, 0, 0, 0);
            return reported; // the callback asked to stop
        }
        L_FreeBitmap(out);
        L_InitBitmap(out, 0, 0, 0);
        return s.noMemory ? ERROR_NO_MEMORY : ERROR_FILE_FORMAT;
    }
    png_set_read_fn(s.png, &s.reader, ReadBytes);
    const L_LIMITS limits = L_GetLimits();
    png_set_user_limits(s.png, png_uint_32(std::max(limits.MaxSide, 1)),
                        png_uint_32(std::max(limits.MaxSide, 1)));
    // Text and profile chunks are decompressed by libpng into memory of its own: hold them
    // to a small share of the budget, and their number too.
    png_set_chunk_malloc_max(s.png,
                             png_alloc_size_t(std::min<uint64_t>(ctx.Budget() / 8, 8u << 20)));
    png_set_chunk_cache_max(s.png, 256);
    Configure(s.png, s.info, l);
    s.passes = l.passes;
    const int width = int(png_get_image_width(s.png, s.info));
    const int height = int(png_get_image_height(s.png, s.info));
    // Refuse before libpng or we allocate anything of the image's size.
    rc = L_CheckImageSize(width, height, l.bpp, nullptr, nullptr);
    if (rc != SUCCESS) return rc;

    png_read_update_info(s.png, s.info);
    const size_t rowBytes = png_get_rowbytes(s.png, s.info);
    L_InitBitmap(out, width, height, l.bpp);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    // libpng must deliver rows that fit: in the bitmap's layout, or 2-bit rows to widen.
    const size_t expected =
        l.expand2 ? (size_t(width) + 3) / 4 : (size_t(width) * size_t(l.bpp) + 7) / 8;
    if (rowBytes != expected) png_error(s.png, "unexpected row layout");

    out->XResolution = l.xdpi;
    out->YResolution = l.ydpi;
    if (l.gray) {
        const int levels = l.bpp == 1 ? 2 : l.bpp == 4 ? 16 : 256;
        for (int i = 0; i < levels; ++i) {
            uint8_t v = uint8_t(i * 255 / (levels - 1));
            out->pPalette[i] = RGBQUAD{v, v, v, 0};
        }
    } else if (l.bpp <= 8) {
        png_colorp pal = nullptr;
        int n = 0;
        png_get_PLTE(s.png, s.info, &pal, &n);
        for (int i = 0; i < 256; ++i)
            out->pPalette[i] =
                i < n ? RGBQUAD{pal[i].blue, pal[i].green, pal[i].red, 0} : RGBQUAD{};
    }

    if (l.expand2) {
        // Interlaced passes build on the rows of earlier ones, so keep them all.
        size_t rawBytes = l.passes > 1 ? rowBytes * size_t(height) : rowBytes;
        if (ctx.CheckWorkingMemory(rawBytes, out) != SUCCESS) png_error(s.png, "too large");
        s.raw = static_cast<uint8_t*>(std::calloc(rawBytes, 1));
        if (!s.raw) {
            s.noMemory = true;
            png_error(s.png, "out of memory");
        }
    }
    for (int pass = 0; pass < l.passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            uint8_t* dst = L_RowPtr(out, y);
            if (l.expand2) {
                uint8_t* raw = l.passes > 1 ? s.raw + size_t(y) * rowBytes : s.raw;
                png_read_row(s.png, raw, nullptr);
                Widen2(raw, dst, width, l.gray);
            } else {
                png_read_row(s.png, dst, nullptr);
            }
            if (pass == 0) s.rowsDone = y + 1;
            if ((y + 1) % kProgressBand == 0 || y + 1 == height) {
                int first = y + 1 == height ? (height - 1) / kProgressBand * kProgressBand
                                            : y + 1 - kProgressBand;
                rc = ctx.Rows(out, first, y + 1 - first, pass, l.passes);
                if (rc != SUCCESS) {
                    L_FreeBitmap(out);
                    L_InitBitmap(out, 0, 0, 0);
                    return rc;
                }
            }
        }
    }
    // The chunks after the image data carry nothing we use; not reading them lets files
    // with damaged trailers still open.
    return SUCCESS;
}

// ---------------------------------------------------------------------------
// Writing.

struct WriteState {
    std::vector<uint8_t>* out = nullptr;
    bool noMemory = false;
    png_structp png = nullptr;
    png_infop info = nullptr;

    ~WriteState() { png_destroy_write_struct(&png, &info); }
};

void WriteBytes(png_structp png, png_bytep data, size_t n) {
    auto* s = static_cast<WriteState*>(png_get_io_ptr(png));
    try {
        s->out->insert(s->out->end(), data, data + n);
    } catch (...) {
        s->noMemory = true;
    }
    if (s->noMemory) png_error(png, "out of memory");
}
void Flush(png_structp) {}

bool CanSave(int format, int bpp) {
    return format == FILE_PNG && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32);
}

// True when the palette is the ordered gray ramp of its depth, which a gray PNG stores
// exactly and other programs then recognise as gray.
bool IsGrayRamp(const BITMAPHANDLE* b) {
    const int n = 1 << b->BitsPerPixel;
    for (int i = 0; i < n; ++i) {
        const RGBQUAD& q = b->pPalette[i];
        uint8_t v = uint8_t(i * 255 / (n - 1));
        if (q.rgbRed != v || q.rgbGreen != v || q.rgbBlue != v) return false;
    }
    return true;
}

struct EncoderSettings {
    int level, strategy, filters;
};

// Photographs and drawings want opposite settings. After the Average filter a photograph
// is noise-like residuals that only entropy coding shrinks: run-length deflate at that
// filter gave the smallest files of the settings tried (about ImageMagick's size on a
// 4000 x 3000 test photograph) at well under half the time of libpng's defaults. Drawings
// and screenshots repeat themselves, which needs real LZ77 matching: zlib's default
// level with the Up filter. A sample of rows tells the two apart: in a drawing most pixels
// equal the one above.
EncoderSettings ChooseSettings(const BITMAPHANDLE* b, bool indexed) {
    // Indices do not predict each other; filtering them only costs time and bytes.
    if (indexed) return {6, Z_DEFAULT_STRATEGY, PNG_FILTER_NONE};
    const size_t rowBytes = size_t(b->Width) * size_t(b->BitsPerPixel / 8);
    const int samples = std::min(b->Height - 1, 64);
    size_t same = 0, total = 0;
    for (int i = 0; i < samples; ++i) {
        const int y = 1 + int(int64_t(i) * (b->Height - 1) / samples);
        const uint8_t* row = L_RowPtr(b, y);
        const uint8_t* above = L_RowPtr(b, y - 1);
        for (size_t k = 0; k < rowBytes; ++k) same += row[k] == above[k];
        total += rowBytes;
    }
    if (total == 0 || same * 2 > total) return {6, Z_DEFAULT_STRATEGY, PNG_FILTER_UP};
    return {1, Z_RLE, PNG_FILTER_AVG};
}

int Save(const BITMAPHANDLE* b, int format, int /*qfactor: lossless*/, std::vector<uint8_t>& out) {
    const int bpp = b->BitsPerPixel;
    if (!CanSave(format, bpp)) return ERROR_BITPERPIXEL;
    if (bpp <= 8 && !b->pPalette) return ERROR_INV_PARAMETER;
    WriteState s;
    s.out = &out;
    out.clear();
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!s.png) return ERROR_NO_MEMORY;
    s.info = png_create_info_struct(s.png);
    if (!s.info) return ERROR_NO_MEMORY;
    png_color pal[256];
    if (setjmp(png_jmpbuf(s.png))) {
        out.clear();
        return s.noMemory ? ERROR_NO_MEMORY : ERROR_FILE_WRITE;
    }
    try {
        // Room for the pixels as they are: a photo's file comes out a little smaller, so the
        // buffer is not copied as it grows, and its pages are faulted in as huge ones.
        out.reserve(size_t(b->Height) * size_t(b->BytesPerLine) + 4096);
        PreferHugePages(out.data(), out.capacity());
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    png_set_write_fn(s.png, &s, WriteBytes, Flush);
    png_set_compression_buffer_size(s.png, kIdatBuffer);

    int colorType = PNG_COLOR_TYPE_RGB;
    if (bpp == 32)
        colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    else if (bpp <= 8)
        colorType = IsGrayRamp(b) ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
    png_set_IHDR(s.png, s.info, png_uint_32(b->Width), png_uint_32(b->Height), bpp <= 8 ? bpp : 8,
                 colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        // Every entry is written so that the palette comes back exactly as it was.
        const int n = 1 << bpp;
        for (int i = 0; i < n; ++i)
            pal[i] =
                png_color{b->pPalette[i].rgbRed, b->pPalette[i].rgbGreen, b->pPalette[i].rgbBlue};
        png_set_PLTE(s.png, s.info, pal, n);
    }
    const EncoderSettings es = ChooseSettings(b, colorType == PNG_COLOR_TYPE_PALETTE || bpp < 8);
    png_set_compression_level(s.png, es.level);
    png_set_compression_strategy(s.png, es.strategy);
    png_set_filter(s.png, PNG_FILTER_TYPE_BASE, es.filters);
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    const int xdpi = b->XResolution > 0 ? b->XResolution : ext.XResolution;
    const int ydpi = b->YResolution > 0 ? b->YResolution : ext.YResolution;
    png_set_pHYs(s.png, s.info, png_uint_32(std::lround(xdpi / 0.0254)),
                 png_uint_32(std::lround(ydpi / 0.0254)), PNG_RESOLUTION_METER);
    png_write_info(s.png, s.info);
    if (bpp >= 24) png_set_bgr(s.png);
    for (int y = 0; y < b->Height; ++y) png_write_row(s.png, L_RowPtr(b, y));
    png_write_end(s.png, s.info);
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_PNG; }

} // namespace

extern const Codec kPngCodec = {"png", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
