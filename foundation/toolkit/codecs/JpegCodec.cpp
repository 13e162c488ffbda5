// JPEG files through libjpeg-turbo. Decoding writes straight into the bitmap's rows
// (libjpeg-turbo converts to blue-green-red itself) and encoding reads straight from
// them, so a photo is never copied in between. Exif thumbnails serve as file stamps.
#include <algorithm>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "ByteReader.h"
#include "Codec.h"
#include "Exif.h"

namespace lt::codec {
namespace {

// A progressive file may legally hold any number of scans, and each scan costs a pass
// over the whole coefficient buffer. Real encoders write about ten; a file with
// thousands is an attack on our time, not a picture.
constexpr int kMaxScans = 1000;

// Rows handed to libjpeg per call; enough to cover an MCU row of 4:2:0 data.
constexpr int kRowBatch = 16;

// libjpeg reports a fatal error through error_exit, which must not return. It jumps
// back to the function that started the work. Those functions keep everything they own
// in libjpeg's pools, in the caller's bitmap or in plain variables declared before the
// setjmp (no C++ destructors are skipped), and release it all on the error path.
struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    int code;
    // Set when the data ended early; libjpeg then decodes the rest as mid gray. Whether
    // any real rows came before: a finished scan, or a finished row of MCUs in the first.
    bool ended;
    bool realRows;
};

int CodeForMessage(int msg) {
    switch (msg) {
        case JERR_OUT_OF_MEMORY:
        case JERR_NO_BACKING_STORE: return ERROR_NO_MEMORY;
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW: return ERROR_INV_RANGE;
        case JERR_INPUT_EMPTY:
        case JERR_INPUT_EOF: return ERROR_PREMATURE_EOF;
        case JERR_BAD_PRECISION:
        case JERR_CONVERSION_NOTIMPL:
        case JERR_NOT_COMPILED: return ERROR_IMAGE_TYPE;
        default: return ERROR_FILE_FORMAT;
    }
}

[[noreturn]] void OnFatal(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (err->code == SUCCESS) err->code = CodeForMessage(err->pub.msg_code);
    longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end) are not fatal: libjpeg fills what is missing
// and we keep the picture, as every viewer does. Nothing is printed, but the end of the
// data is noted so that the load can say so.
void OnMessage(j_common_ptr) {}
void OnEmit(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level >= 0 || err->pub.msg_code != JWRN_JPEG_EOF || err->ended ||
        cinfo->is_decompressor == 0)
        return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    err->ended = true;
    err->realRows = d->input_scan_number > 1 || d->input_iMCU_row > 0;
}

void InitErrors(ErrorManager* err) {
    jpeg_std_error(&err->pub);
    err->pub.error_exit = OnFatal;
    err->pub.output_message = OnMessage;
    err->pub.emit_message = OnEmit;
    err->code = SUCCESS;
    err->ended = false;
    err->realRows = false;
}

[[noreturn]] void Fail(j_common_ptr cinfo, int code) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->code = code;
    cinfo->err->error_exit(cinfo);
    std::abort(); // error_exit never returns
}

void OnProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) Fail(cinfo, ERROR_FILE_FORMAT);
}

// The file's format code from its chroma subsampling: how many luma samples share one
// chroma sample.
int FormatFromSampling(const jpeg_decompress_struct& c) {
    if (c.num_components < 3) return FILE_JFIF;
    int luma = c.comp_info[0].h_samp_factor * c.comp_info[0].v_samp_factor;
    int chroma = std::max(1, c.comp_info[1].h_samp_factor * c.comp_info[1].v_samp_factor);
    int ratio = luma / chroma;
    if (ratio >= 4) return FILE_LEAD1JFIF;
    if (ratio >= 2) return FILE_LEAD2JFIF;
    return FILE_JFIF;
}

// The TIFF structure of the file's Exif block (APP1 "Exif"), or null. Metadata segments
// all come before the first scan.
const uint8_t* FindExif(const uint8_t* data, size_t size, size_t* length) {
    ByteReader r(data, size);
    if (r.u16be() != 0xFFD8) return nullptr;
    while (r.ok()) {
        if (r.u8() != 0xFF) break;
        uint8_t m = r.u8();
        while (m == 0xFF && r.ok()) m = r.u8();
        if (!r.ok() || m == 0xDA || m == 0xD9) break;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;
        uint16_t len = r.u16be();
        if (!r.ok() || len < 2 || !r.has(size_t(len) - 2)) break;
        size_t body = size_t(len) - 2;
        if (m == 0xE1 && body >= 6 && std::memcmp(r.here(), "Exif\0\0", 6) == 0) {
            *length = body - 6;
            return r.here() + 6;
        }
        r.skip(body);
    }
    return nullptr;
}

// JFIF density as dots per inch, else the Exif block's resolution; files without either
// get the program's default.
void ResolutionOf(const jpeg_decompress_struct& c, const uint8_t* data, size_t size, int* x,
                  int* y) {
    EXTFILEOPTIONS opt;
    L_GetExtFileOption(&opt);
    *x = opt.XResolution;
    *y = opt.YResolution;
    if (!c.saw_JFIF_marker || c.X_density == 0 || c.Y_density == 0) {
        size_t n = 0;
        const uint8_t* tiff = FindExif(data, size, &n);
        if (tiff) exif::Resolution(tiff, n, x, y);
        return;
    }
    if (c.density_unit == 1) {
        *x = c.X_density;
        *y = c.Y_density;
    } else if (c.density_unit == 2) {
        *x = int(std::lround(c.X_density * 2.54));
        *y = int(std::lround(c.Y_density * 2.54));
    }
}

// Counts the scans (SOS markers) of a progressive file without decoding: each scan is
// one refinement pass. Entropy-coded data is skipped by looking for the next marker.
int CountScans(const uint8_t* d, size_t n) {
    int scans = 0;
    size_t i = 2;
    while (i + 4 <= n) {
        if (d[i] != 0xFF || d[i + 1] == 0xFF) {
            ++i;
            continue;
        }
        uint8_t m = d[i + 1];
        if (m == 0xD9) break;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7) || m == 0x00) {
            i += 2;
            continue;
        }
        size_t len = size_t(d[i + 2] << 8 | d[i + 3]);
        if (len < 2) break;
        i += 2 + len;
        if (m != 0xDA) continue;
        ++scans;
        while (i + 1 < n) {
            const void* p = std::memchr(d + i, 0xFF, n - 1 - i);
            if (!p) {
                i = n;
                break;
            }
            i = size_t(static_cast<const uint8_t*>(p) - d);
            uint8_t x = d[i + 1];
            if (x == 0x00 || (x >= 0xD0 && x <= 0xD7))
                i += 2;
            else if (x == 0xFF)
                i += 1;
            else
                break;
        }
    }
    return scans;
}

bool IsCmyk(const jpeg_decompress_struct& c) {
    return c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
}

void FillInfo(const jpeg_decompress_struct& c, const uint8_t* data, size_t size, FILEINFO* info) {
    size_t exifBytes = 0;
    info->Format = FindExif(data, size, &exifBytes) ? FILE_EXIF_JPEG : FormatFromSampling(c);
    info->Width = int(c.image_width);
    info->Height = int(c.image_height);
    bool gray = c.jpeg_color_space == JCS_GRAYSCALE;
    info->BitsPerPixel = gray ? 8 : 24;
    info->Colors = gray ? 256 : 0;
    info->Compression = 0;
    info->Passes = c.progressive_mode ? std::max(1, CountScans(data, size)) : 1;
    info->PageCount = 1;
    ResolutionOf(c, data, size, &info->XResolution, &info->YResolution);
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    InitErrors(&err);
    cinfo.err = &err.pub;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return err.code;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    FillInfo(cinfo, data, size, info);
    jpeg_destroy_decompress(&cinfo);
    return SUCCESS;
}

// Adobe applications store CMYK inverted (0 = full ink); other writers store ink amounts.
// Either way the light left over is (1 - C)(1 - K) for red and so on.
void CmykRowToBgr(const uint8_t* src, uint8_t* dst, int width, bool inverted) {
    const uint8_t flip = inverted ? 0 : 255;
    for (int x = 0; x < width; ++x, src += 4, dst += 3) {
        unsigned k = src[3] ^ flip;
        auto mul = [k](unsigned v) {
            unsigned t = v * k + 128;
            return uint8_t((t + (t >> 8)) >> 8);
        };
        dst[0] = mul(src[2] ^ flip);
        dst[1] = mul(src[1] ^ flip);
        dst[2] = mul(src[0] ^ flip);
    }
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    jpeg_progress_mgr progress{};
    InitErrors(&err);
    cinfo.err = &err.pub;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        L_FreeBitmap(out);
        return err.code;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    progress.progress_monitor = OnProgress;
    cinfo.progress = &progress;
    jpeg_read_header(&cinfo, TRUE);

    const bool gray = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = IsCmyk(cinfo);
    const int bpp = gray ? 8 : 24;
    // Refuse before libjpeg or we allocate anything the size of the image.
    int rc =
        L_CheckImageSize(int(cinfo.image_width), int(cinfo.image_height), bpp, nullptr, nullptr);
    if (rc != SUCCESS) Fail(reinterpret_cast<j_common_ptr>(&cinfo), rc);

    cinfo.out_color_space = gray ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
    cinfo.dct_method = JDCT_ISLOW;

    // A progressive file keeps every coefficient of the image (2 bytes each) until its
    // last scan; that and the bitmap must fit what the file can pay for. libjpeg's own
    // allocations are held to the same budget.
    uint64_t coefficients = 0;
    if (cinfo.progressive_mode || cinfo.buffered_image)
        for (int c = 0; c < cinfo.num_components; ++c)
            coefficients += uint64_t(cinfo.comp_info[c].width_in_blocks) *
                            cinfo.comp_info[c].height_in_blocks * DCTSIZE2 * sizeof(JCOEF);
    const uint64_t bitmapBytes = uint64_t(cinfo.image_width) * cinfo.image_height * (bpp / 8);
    if (coefficients > ctx.Budget() || bitmapBytes > ctx.Budget() - coefficients)
        Fail(reinterpret_cast<j_common_ptr>(&cinfo), ERROR_FILE_FORMAT);
    cinfo.mem->max_memory_to_use = long(std::min<uint64_t>(ctx.Budget() - bitmapBytes, LONG_MAX));

    RGBQUAD ramp[256];
    for (int i = 0; i < 256; ++i) ramp[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    rc = L_CreateBitmap(out, TYPE_CONV, int(cinfo.image_width), int(cinfo.image_height), bpp,
                        ORDER_BGR, gray ? ramp : nullptr, TOP_LEFT);
    if (rc != SUCCESS) Fail(reinterpret_cast<j_common_ptr>(&cinfo), rc);
    ResolutionOf(cinfo, data, size, &out->XResolution, &out->YResolution);

    jpeg_start_decompress(&cinfo);
    // Progressive files are decoded completely inside jpeg_start_decompress; their rows
    // are then reported once, as a single final pass. Showing each scan would cost a
    // full colour conversion of the image per scan.
    JSAMPARRAY cmykRows = nullptr;
    if (cmyk)
        cmykRows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.output_width * 4, kRowBatch);
    const bool adobeInverted = cinfo.saw_Adobe_marker;
    const int height = int(cinfo.output_height);
    JSAMPROW rows[kRowBatch];
    while (int(cinfo.output_scanline) < height) {
        int first = int(cinfo.output_scanline);
        int want = std::min(kRowBatch, height - first);
        for (int i = 0; i < want; ++i) rows[i] = cmyk ? cmykRows[i] : L_RowPtr(out, first + i);
        int got = int(jpeg_read_scanlines(&cinfo, rows, JDIMENSION(want)));
        if (got <= 0)
            Fail(reinterpret_cast<j_common_ptr>(&cinfo),
                 ERROR_FILE_FORMAT); // cannot happen from memory
        if (cmyk)
            for (int i = 0; i < got; ++i)
                CmykRowToBgr(cmykRows[i], L_RowPtr(out, first + i), int(cinfo.output_width),
                             adobeInverted);
        rc = ctx.Rows(out, first, got, 0, 1);
        if (rc != SUCCESS) {
            jpeg_destroy_decompress(&cinfo);
            L_FreeBitmap(out);
            return rc;
        }
    }
    // Nothing after the data's end is real: the rest of the rows are libjpeg's gray.
    if (err.ended) {
        rc = ctx.EndedEarly(out, err.realRows ? 1 : 0, 0, 0);
        if (rc != SUCCESS) Fail(reinterpret_cast<j_common_ptr>(&cinfo), rc);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return SUCCESS;
}

bool CanSave(int format, int bpp) {
    if (format == FILE_EXIF_JPEG) return bpp == 24;
    return (format == FILE_JFIF || format == FILE_LEAD2JFIF || format == FILE_LEAD1JFIF) &&
           (bpp == 8 || bpp == 24 || bpp == 32);
}

// Gray level of each palette entry, with the weights JPEG uses for luma.
void GrayLevels(const BITMAPHANDLE* b, uint8_t* lut, bool* identity) {
    *identity = true;
    int n = 1 << b->BitsPerPixel;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD q = (b->pPalette && i < n) ? b->pPalette[i] : RGBQUAD{};
        lut[i] =
            uint8_t((19595u * q.rgbRed + 38470u * q.rgbGreen + 7471u * q.rgbBlue + 32768u) >> 16);
        if (i < n && lut[i] != i) *identity = false;
    }
}

// `app1`, when given, is written as the file's first segment in place of JFIF's.
int Encode(const BITMAPHANDLE* b, int format, int qfactor, const std::vector<uint8_t>* app1,
           std::vector<uint8_t>& out) {
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    unsigned char* buffer = nullptr;
    unsigned long bufferSize = 0;
    InitErrors(&err);
    cinfo.err = &err.pub;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return err.code;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &bufferSize);
    cinfo.image_width = JDIMENSION(b->Width);
    cinfo.image_height = JDIMENSION(b->Height);
    const bool gray = b->BitsPerPixel == 8;
    if (gray) {
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
    } else if (b->BitsPerPixel == 32) {
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_EXT_BGRX; // alpha is dropped: JPEG has nowhere to keep it
    } else {
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, JpegQuality(qfactor), TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    if (!gray) {
        // Plain JFIF (code 10) is written with 4:2:0 chroma like other programs do by
        // default: faster and smaller. Reading such a file back reports code 23, which
        // is what the file honestly is.
        cinfo.comp_info[0].h_samp_factor = 2;
        cinfo.comp_info[0].v_samp_factor =
            format == FILE_LEAD2JFIF || format == FILE_EXIF_JPEG ? 1 : 2;
        for (int c = 1; c < 3; ++c)
            cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    // Exif readers expect their block first; a JFIF segment before it is not allowed.
    cinfo.write_JFIF_header = app1 ? FALSE : TRUE;
    cinfo.density_unit = 1;
    cinfo.X_density = UINT16(std::clamp(b->XResolution > 0 ? b->XResolution : 72, 1, 65535));
    cinfo.Y_density = UINT16(std::clamp(b->YResolution > 0 ? b->YResolution : 72, 1, 65535));
    jpeg_start_compress(&cinfo, TRUE);
    if (app1)
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1->data(), static_cast<unsigned>(app1->size()));

    uint8_t lut[256];
    bool identity = true;
    if (gray) GrayLevels(b, lut, &identity);
    JSAMPARRAY grayRows = nullptr;
    if (!identity)
        grayRows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              JDIMENSION(b->Width), kRowBatch);
    JSAMPROW rows[kRowBatch];
    while (int(cinfo.next_scanline) < b->Height) {
        int first = int(cinfo.next_scanline);
        int n = std::min(kRowBatch, b->Height - first);
        for (int i = 0; i < n; ++i) {
            uint8_t* src = L_RowPtr(b, first + i);
            if (identity) {
                rows[i] = src;
            } else {
                for (int x = 0; x < b->Width; ++x) grayRows[i][x] = lut[src[x]];
                rows[i] = grayRows[i];
            }
        }
        jpeg_write_scanlines(&cinfo, rows, JDIMENSION(n));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    int rc = SUCCESS;
    try {
        out.assign(buffer, buffer + bufferSize);
    } catch (...) {
        rc = ERROR_NO_MEMORY;
    }
    std::free(buffer);
    return rc;
}

// An Exif JPEG carries its thumbnail as a small JPEG in the Exif block, which has to fit
// in one segment: a thumbnail too big at the picture's quality is compressed harder.
int SaveExif(const BITMAPHANDLE* b, int qfactor, std::vector<uint8_t>& out) {
    BITMAPHANDLE thumb;
    int rc = exif::MakeThumbnail(b, &thumb);
    if (rc != SUCCESS) return rc;
    std::vector<uint8_t> small, app1;
    for (int q = std::max(qfactor, 2);; q = std::min(255, q + 64)) {
        rc = Encode(&thumb, FILE_LEAD1JFIF, q, nullptr, small);
        if (rc != SUCCESS) break;
        app1 = exif::JpegApp1(b->Width, b->Height, b->XResolution > 0 ? b->XResolution : 72,
                              b->YResolution > 0 ? b->YResolution : 72, small);
        if (app1.size() <= 65533) break;
        if (q == 255) {
            rc = ERROR_FILE_WRITE;
            break;
        }
    }
    L_FreeBitmap(&thumb);
    if (rc != SUCCESS) return rc;
    return Encode(b, FILE_EXIF_JPEG, qfactor, &app1, out);
}

int Save(const BITMAPHANDLE* b, int format, int qfactor, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    try {
        if (format == FILE_EXIF_JPEG) return SaveExif(b, qfactor, out);
        return Encode(b, format, qfactor, nullptr, out);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

// ---------------------------------------------------------------------------
// Exif thumbnails: APP1 "Exif" holds a TIFF structure whose second directory (IFD1)
// points at a small JPEG. Every offset is checked against the segment.

int ThumbnailFromExif(const uint8_t* tiff, size_t size, BITMAPHANDLE* out) {
    ByteReader r(tiff, size);
    uint16_t order = r.u16le();
    const bool le = order == 0x4949;
    if (!le && order != 0x4D4D) return ERROR_NO_STAMP;
    auto u16 = [&] { return le ? r.u16le() : r.u16be(); };
    auto u32 = [&] { return le ? r.u32le() : r.u32be(); };
    if (u16() != 42) return ERROR_NO_STAMP;
    if (!r.seek(u32())) return ERROR_NO_STAMP;
    uint16_t count = u16();
    if (!r.skip(size_t(count) * 12)) return ERROR_NO_STAMP;
    uint32_t ifd1 = u32();
    if (!r.ok() || ifd1 == 0 || !r.seek(ifd1)) return ERROR_NO_STAMP;
    count = u16();
    uint32_t offset = 0, length = 0, compression = 6;
    bool haveOffset = false, haveLength = false;
    for (unsigned i = 0; i < count && r.ok(); ++i) {
        uint16_t tag = u16();
        uint16_t type = u16();
        r.skip(4); // value count
        size_t at = r.pos();
        uint32_t value = type == 3 ? u16() : u32();
        if (!r.seek(at + 4)) break;
        if (type != 3 && type != 4) continue;
        if (tag == 0x0103)
            compression = value;
        else if (tag == 0x0201)
            offset = value, haveOffset = true;
        else if (tag == 0x0202)
            length = value, haveLength = true;
    }
    if (!r.ok() || !haveOffset || !haveLength || compression != 6) return ERROR_NO_STAMP;
    if (offset > size || length > size - offset || length < 4) return ERROR_NO_STAMP;
    const uint8_t* thumb = tiff + offset;
    if (thumb[0] != 0xFF || thumb[1] != 0xD8) return ERROR_NO_STAMP;
    LoadContext quiet(nullptr, nullptr, nullptr, length);
    return Load(thumb, length, out, quiet);
}

int Stamp(const uint8_t* data, size_t size, BITMAPHANDLE* out) {
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return ERROR_FILE_FORMAT;
    size_t n = 0;
    const uint8_t* tiff = FindExif(data, size, &n);
    return tiff ? ThumbnailFromExif(tiff, n, out) : ERROR_NO_STAMP;
}

bool Sniff(const uint8_t* data, size_t size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool HandlesFormat(int format) {
    return format == FILE_JFIF || format == FILE_LEAD2JFIF || format == FILE_LEAD1JFIF ||
           format == FILE_EXIF_JPEG;
}

} // namespace

extern const Codec kJpegCodec = {"jpeg", Sniff, Info, Load, CanSave, Save, Stamp, HandlesFormat};

} // namespace lt::codec
