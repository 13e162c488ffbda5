// FlashPix pictures: a compound (structured storage) file, read and written through libgsf,
// holding the picture at every resolution from full size down to one that fits a 64 x 64
// tile. What we rely on:
//   - the root storage has class 56616700-C154-11CE-8553-00AA00A1F95B;
//   - "Data Object Store 000001" holds the property set "\005Image Contents" (number of
//     resolutions 0x01000000, full width and height 0x01000002/3, display width and height
//     in inches 0x01000005/4, and per resolution r the channels' colours 0x02000002 | r << 16)
//     and a storage "Resolution NNNN" per resolution, the last one at full size;
//   - each resolution has "Subimage 0000 Header" (after a 28-byte stream header: header
//     length, width, height, tile count, tile width and height, channels, offset and entry size
//     of the tile table) and "Subimage 0000 Data" (a 28-byte header, then the tiles);
//   - a tile entry gives offset, size, compression (0 raw, 1 one colour, 2 JPEG) and its
//     subtype; tiles are 64 x 64, row by row, channels interleaved, edge tiles padded.
//   - a JPEG tile's subtype holds, from its low byte, the interleaving, the chroma
//     subsampling, whether the coder converted RGB to YCbCr, and which JPEG tables property
//     (0x03000001 | n << 16) it needs, 0 for tables within the tile.
// Reading: monochrome, NIF RGB and PhotoYCC, each with or without opacity (the colours are
// premultiplied by it), raw, one-colour and JPEG tiles (JPEG of one or three channels).
// Writing: one channel for a gray picture and three for any other; code 80 raw tiles, code
// 82 JPEG tiles (4:4:4, tables in each tile) at the quality factor; the display size carries
// the resolution.
// jpeglib.h uses FILE without declaring it.
#include <cstdio>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "ByteReader.h"
#include "Codec.h"
#include "PixelAccess.h"

namespace lt::codec {
namespace {

constexpr uint8_t kCompoundMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr int kTile = 64;
constexpr size_t kStreamHeader = 28;
constexpr size_t kTileEntry = 16;
// Channel colours: the space in the high half, the channel (or opacity) in the low one.
enum : uint32_t {
    kMonochrome = 1,
    kPhotoYcc = 2,
    kNifRgb = 3,
    kOpacity = 0x7FFE,
    kWithOpacity = 0x8000,
};

// A class id as the file stores it: the first three fields little-endian.
struct ClassId {
    uint8_t bytes[16];
};
constexpr ClassId Guid(uint32_t d1, uint16_t d2) {
    return ClassId{{uint8_t(d1), uint8_t(d1 >> 8), uint8_t(d1 >> 16), uint8_t(d1 >> 24),
                    uint8_t(d2), uint8_t(d2 >> 8), 0xCE, 0x11, 0x85, 0x53, 0x00, 0xAA, 0x00, 0xA1,
                    0xF9, 0x5B}};
}
constexpr ClassId kImageViewClass = Guid(0x56616700, 0xC154);
constexpr ClassId kImageContentsFormat = Guid(0x56616400, 0xC154);
constexpr ClassId kSubimageHeaderClass = Guid(0x00010000, 0xC154);
constexpr ClassId kSubimageDataClass = Guid(0x00010100, 0xC154);

void InitGsf() {
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // Damaged files make the library complain on the terminal; they fail with a code here.
        g_log_set_handler(
            "libgsf:msole", GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
}

// Owns one GObject reference.
template <typename T>
class Ref {
public:
    explicit Ref(T* p = nullptr) : p_(p) {}
    ~Ref() {
        if (p_) g_object_unref(p_);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_;
};

// ---------------------------------------------------------------------------
// JPEG tiles. libjpeg's fatal errors jump back here; nothing between the setjmp and the
// jump owns memory outside libjpeg's pools.

struct TileError {
    jpeg_error_mgr pub;
    jmp_buf jump;
};
[[noreturn]] void TileFatal(j_common_ptr c) {
    longjmp(reinterpret_cast<TileError*>(c->err)->jump, 1);
}
void TileQuiet(j_common_ptr) {}
void TileQuietLevel(j_common_ptr, int) {}

// Decodes a 64 x 64 tile of `ch` channels into `out`, the tables stream first when given.
// `converted`: the coder turned RGB into YCbCr, to be turned back.
int DecodeJpegTile(const std::vector<uint8_t>* tables, const uint8_t* src, size_t n, int ch,
                   bool converted, uint8_t* out) {
    jpeg_decompress_struct c;
    TileError err;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = TileFatal;
    err.pub.output_message = TileQuiet;
    err.pub.emit_message = TileQuietLevel;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&c);
        return ERROR_FILE_FORMAT;
    }
    jpeg_create_decompress(&c);
    if (tables && !tables->empty()) {
        jpeg_mem_src(&c, tables->data(), (unsigned long)tables->size());
        jpeg_read_header(&c, FALSE);
    }
    jpeg_mem_src(&c, src, (unsigned long)n);
    if (jpeg_read_header(&c, TRUE) != JPEG_HEADER_OK || c.image_width != kTile ||
        c.image_height != kTile || c.num_components != ch || (ch != 1 && ch != 3)) {
        jpeg_destroy_decompress(&c);
        return ERROR_FILE_FORMAT;
    }
    if (ch == 3) {
        c.jpeg_color_space = converted ? JCS_YCbCr : JCS_RGB;
        c.out_color_space = JCS_RGB;
    } else {
        c.jpeg_color_space = c.out_color_space = JCS_GRAYSCALE;
    }
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = out + size_t(c.output_scanline) * kTile * size_t(ch);
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    return SUCCESS;
}

// Codes a 64 x 64 tile of `ch` channels (RGB turned into YCbCr, no chroma subsampling),
// appending the stream to `out`.
int EncodeJpegTile(const uint8_t* px, int ch, int quality, std::vector<uint8_t>& out) {
    jpeg_compress_struct c;
    TileError err;
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = TileFatal;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::free(mem);
        return ERROR_NO_MEMORY;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = c.image_height = kTile;
    c.input_components = ch;
    c.in_color_space = ch == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.write_JFIF_header = FALSE;
    for (int i = 0; i < c.num_components; ++i)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(px) + size_t(c.next_scanline) * kTile * size_t(ch);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    int rc = SUCCESS;
    try {
        out.insert(out.end(), mem, mem + size);
    } catch (const std::bad_alloc&) {
        rc = ERROR_NO_MEMORY;
    }
    std::free(mem);
    return rc;
}

// libjpeg's quality for a quality factor: 2 (and 0) best, 255 smallest.
int QualityFromQFactor(int qfactor) {
    if (qfactor <= 2) return 100;
    return std::clamp(100 - int(std::lround(qfactor * 100.0 / 255.0)), 1, 100);
}

// ---------------------------------------------------------------------------
// Reading.

// The values of a property set that we use: integers, floats and blobs by id.
struct Properties {
    std::map<uint32_t, uint32_t> ints;
    std::map<uint32_t, float> reals;
    std::map<uint32_t, std::vector<uint8_t>> blobs;
};

enum : uint32_t { kVtI2 = 2, kVtI4 = 3, kVtR4 = 4, kVtUi2 = 18, kVtUi4 = 19, kVtBlob = 65 };

int ParseProperties(const std::vector<uint8_t>& s, Properties& props) {
    ByteReader r(s.data(), s.size());
    if (r.u16le() != 0xFFFE) return ERROR_FILE_FORMAT;
    r.skip(22);
    if (r.u32le() < 1) return ERROR_FILE_FORMAT;
    r.skip(16);
    const uint32_t section = r.u32le();
    if (!r.ok() || !r.seek(section)) return ERROR_FILE_FORMAT;
    const uint32_t sectionSize = r.u32le(), count = r.u32le();
    if (!r.ok() || sectionSize > s.size() - section || count > sectionSize / 8)
        return ERROR_FILE_FORMAT;
    ByteReader sec(s.data() + section, sectionSize);
    sec.skip(8);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t id = sec.u32le(), offset = sec.u32le();
        if (!sec.ok()) return ERROR_FILE_FORMAT;
        ByteReader v(s.data() + section, sectionSize);
        if (!v.seek(offset)) continue;
        const uint32_t type = v.u32le();
        switch (type) {
            case kVtI2:
            case kVtUi2: props.ints[id] = v.u16le(); break;
            case kVtI4:
            case kVtUi4: props.ints[id] = v.u32le(); break;
            case kVtR4: {
                const uint32_t bits = v.u32le();
                float f;
                std::memcpy(&f, &bits, 4);
                props.reals[id] = f;
                break;
            }
            case kVtBlob: {
                const uint32_t n = v.u32le();
                if (!v.has(n)) return ERROR_FILE_FORMAT;
                props.blobs[id].assign(v.here(), v.here() + n);
                break;
            }
            default: break;
        }
        if (!v.ok()) return ERROR_FILE_FORMAT;
    }
    return SUCCESS;
}

// Reads a whole stream of at most `limit` bytes.
int ReadStream(GsfInput* in, uint64_t limit, std::vector<uint8_t>& out) {
    const gsf_off_t size = gsf_input_size(in);
    if (size < 0 || uint64_t(size) > limit) return ERROR_FILE_FORMAT;
    try {
        out.resize(size_t(size));
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    if (size > 0 && !gsf_input_read(in, size_t(size), out.data())) return ERROR_FILE_FORMAT;
    return SUCCESS;
}

struct Layout {
    int width = 0, height = 0, resolutions = 0;
    std::vector<uint32_t> colours; // of the full-size subimage's channels
    int xdpi = 0, ydpi = 0;
    int bpp = 0;
    std::map<int, std::vector<uint8_t>> jpegTables; // by their number
};

// The depth a set of channel colours reads to, or 0 for one we do not know.
int DepthOf(const std::vector<uint32_t>& colours) {
    auto is = [&](std::initializer_list<uint32_t> want) {
        if (colours.size() != want.size()) return false;
        size_t i = 0;
        for (uint32_t w : want)
            if ((colours[i++] & 0x7FFFFFFF) != w) return false;
        return true;
    };
    if (is({kMonochrome << 16})) return 8;
    if (is({(kMonochrome << 16 | kWithOpacity), (kMonochrome << 16 | kOpacity)})) return 32;
    for (uint32_t space : {kNifRgb, kPhotoYcc}) {
        if (is({space << 16, space << 16 | 1, space << 16 | 2})) return 24;
        const uint32_t o = space << 16 | kWithOpacity;
        if (is({o, o | 1, o | 2, space << 16 | kOpacity})) return 32;
    }
    return 0;
}

class FpxFile {
public:
    int Open(const uint8_t* data, size_t size) {
        InitGsf();
        input_ = gsf_input_memory_new(data, gsf_off_t(size), FALSE);
        if (!input_) return ERROR_NO_MEMORY;
        GError* err = nullptr;
        ole_ = gsf_infile_msole_new(input_, &err);
        if (err) g_error_free(err);
        if (!ole_) return ERROR_FILE_FORMAT;
        uint8_t clsid[16];
        if (!gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(ole_), clsid) ||
            std::memcmp(clsid, kImageViewClass.bytes, 16) != 0)
            return ERROR_FILE_FORMAT;
        store_ = gsf_infile_child_by_name(ole_, "Data Object Store 000001");
        if (!store_ || !GSF_IS_INFILE(store_)) return ERROR_FILE_FORMAT;
        fileSize_ = size;
        return SUCCESS;
    }
    ~FpxFile() {
        if (store_) g_object_unref(store_);
        if (ole_) g_object_unref(ole_);
        if (input_) g_object_unref(input_);
    }

    int ReadLayout(Layout& l) {
        Ref<GsfInput> contents(gsf_infile_child_by_name(GSF_INFILE(store_), "\005Image Contents"));
        if (!contents) return ERROR_FILE_FORMAT;
        std::vector<uint8_t> bytes;
        int rc = ReadStream(contents.get(), fileSize_, bytes);
        if (rc != SUCCESS) return rc;
        Properties p;
        rc = ParseProperties(bytes, p);
        if (rc != SUCCESS) return rc;
        auto get = [&](uint32_t id, uint32_t& v) {
            auto it = p.ints.find(id);
            if (it == p.ints.end()) return false;
            v = it->second;
            return true;
        };
        uint32_t n = 0, w = 0, h = 0;
        if (!get(0x01000000, n) || !get(0x01000002, w) || !get(0x01000003, h))
            return ERROR_FILE_FORMAT;
        if (n < 1 || n > 32 || w < 1 || h < 1 || w > 0x7FFFFFFF || h > 0x7FFFFFFF)
            return ERROR_FILE_FORMAT;
        l.width = int(w);
        l.height = int(h);
        l.resolutions = int(n);
        auto colour = p.blobs.find(0x02000002 | (n - 1) << 16);
        if (colour == p.blobs.end()) return ERROR_FILE_FORMAT;
        ByteReader c(colour->second.data(), colour->second.size());
        c.u32le(); // subimages: one
        const uint32_t channels = c.u32le();
        if (!c.ok() || channels < 1 || channels > 4) return ERROR_FILE_FORMAT;
        l.colours.clear();
        for (uint32_t i = 0; i < channels; ++i) l.colours.push_back(c.u32le());
        if (!c.ok()) return ERROR_FILE_FORMAT;
        for (auto& [id, blob] : p.blobs)
            if ((id & 0xFF00FFFF) == 0x03000001)
                l.jpegTables[int(id >> 16 & 0xFF)] = std::move(blob);
        l.bpp = DepthOf(l.colours);
        if (l.bpp == 0) return ERROR_IMAGE_TYPE;
        // The display size in inches (units 0), when given, makes the resolution.
        uint32_t units = 0;
        get(0x01000006, units);
        auto dw = p.reals.find(0x01000005), dh = p.reals.find(0x01000004);
        if (units == 0 && dw != p.reals.end() && dh != p.reals.end() && dw->second > 0 &&
            dh->second > 0) {
            l.xdpi = int(std::lround(std::clamp(double(w) / dw->second, 1.0, 100000.0)));
            l.ydpi = int(std::lround(std::clamp(double(h) / dh->second, 1.0, 100000.0)));
        }
        return SUCCESS;
    }

    GsfInfile* Resolution(int r) {
        char name[32];
        std::snprintf(name, sizeof name, "Resolution %04d", r);
        GsfInput* child = gsf_infile_child_by_name(GSF_INFILE(store_), name);
        if (child && !GSF_IS_INFILE(child)) {
            g_object_unref(child);
            return nullptr;
        }
        return child ? GSF_INFILE(child) : nullptr;
    }
    size_t FileSize() const { return fileSize_; }

private:
    GsfInput* input_ = nullptr;
    GsfInfile* ole_ = nullptr;
    GsfInput* store_ = nullptr;
    size_t fileSize_ = 0;
};

void SetResolution(const Layout& l, int& x, int& y) {
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    x = l.xdpi ? l.xdpi : ext.XResolution;
    y = l.ydpi ? l.ydpi : ext.YResolution;
}

bool Sniff(const uint8_t* data, size_t size) {
    return size >= 8 && std::memcmp(data, kCompoundMagic, 8) == 0;
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    FpxFile f;
    int rc = f.Open(data, size);
    Layout l;
    if (rc == SUCCESS) rc = f.ReadLayout(l);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_FPX;
    info->Width = l.width;
    info->Height = l.height;
    info->BitsPerPixel = l.bpp;
    info->Colors = l.bpp == 8 ? 256 : 0;
    info->Compression = 0;
    info->Passes = 1;
    SetResolution(l, info->XResolution, info->YResolution);
    return SUCCESS;
}

uint8_t Clamp(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); }

// Puts one tile's pixels (channels interleaved, `stride` bytes a row) into the bitmap at
// (x0, y0), `cw` x `chh` of them.
void PutTile(const Layout& l, const uint8_t* src, size_t stride, int x0, int y0, int cw, int chh,
             BITMAPHANDLE* out) {
    const size_t ch = l.colours.size();
    const bool ycc = ((l.colours[0] & 0x7FFFFFFF) >> 16) == kPhotoYcc;
    for (int y = 0; y < chh; ++y) {
        const uint8_t* s = src + size_t(y) * stride;
        uint8_t* d = L_RowPtr(out, y0 + y);
        for (int x = 0; x < cw; ++x, s += ch) {
            const int dx = x0 + x;
            if (l.bpp == 8) {
                d[dx] = s[0];
                continue;
            }
            double r, g, b;
            uint8_t a = 255;
            if (ch <= 2) {
                r = g = b = s[0];
                a = s[1];
            } else if (ycc) {
                const double L = 1.3584 * s[0], c1 = 2.2179 * (s[1] - 156.0),
                             c2 = 1.8215 * (s[2] - 137.0);
                r = L + c2;
                g = L - 0.194 * c1 - 0.509 * c2;
                b = L + c1;
                if (ch == 4) a = s[3];
            } else {
                r = s[0];
                g = s[1];
                b = s[2];
                if (ch == 4) a = s[3];
            }
            if (ch == 2 || ch == 4) {
                // Colours are stored multiplied by the opacity.
                const double k = a ? 255.0 / a : 0.0;
                r *= k, g *= k, b *= k;
            }
            uint8_t* p = d + size_t(dx) * (l.bpp / 8);
            p[0] = Clamp(b);
            p[1] = Clamp(g);
            p[2] = Clamp(r);
            if (l.bpp == 32) p[3] = a;
        }
    }
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    FpxFile f;
    int rc = f.Open(data, size);
    Layout l;
    if (rc == SUCCESS) rc = f.ReadLayout(l);
    if (rc != SUCCESS) return rc;
    rc = L_CheckImageSize(l.width, l.height, l.bpp, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    Ref<GsfInfile> res(f.Resolution(l.resolutions - 1));
    if (!res) return ERROR_FILE_FORMAT;
    Ref<GsfInput> headerIn(gsf_infile_child_by_name(res.get(), "Subimage 0000 Header"));
    Ref<GsfInput> dataIn(gsf_infile_child_by_name(res.get(), "Subimage 0000 Data"));
    if (!headerIn || !dataIn) return ERROR_FILE_FORMAT;
    std::vector<uint8_t> header;
    rc = ReadStream(headerIn.get(), f.FileSize(), header);
    if (rc != SUCCESS) return rc;
    ByteReader h(header.data(), header.size());
    h.skip(kStreamHeader);
    h.u32le(); // the header's own length
    const uint32_t w = h.u32le(), ht = h.u32le(), tiles = h.u32le(), tw = h.u32le(), th = h.u32le(),
                   channels = h.u32le(), table = h.u32le(), entry = h.u32le();
    if (!h.ok() || w != uint32_t(l.width) || ht != uint32_t(l.height) || tw != kTile ||
        th != kTile || channels != l.colours.size() || entry < kTileEntry)
        return ERROR_FILE_FORMAT;
    const uint64_t across = (w + kTile - 1) / kTile, down = (ht + kTile - 1) / kTile;
    if (tiles != across * down) return ERROR_FILE_FORMAT;
    // Every tile needs its entry in the table, so the table's size bounds the tile count.
    if (table > header.size() - kStreamHeader ||
        uint64_t(tiles) * entry > header.size() - kStreamHeader - table)
        return ERROR_FILE_FORMAT;
    const size_t full = size_t(kTile) * kTile * channels;
    std::vector<uint8_t> tile, coded;
    try {
        tile.resize(full);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    const gsf_off_t dataSize = gsf_input_size(dataIn.get());
    L_InitBitmap(out, l.width, l.height, l.bpp);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    SetResolution(l, out->XResolution, out->YResolution);
    if (out->pPalette)
        for (int i = 0; i < 256; ++i)
            out->pPalette[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    int rows = l.height;
    for (uint32_t t = 0; t < tiles && rc == SUCCESS; ++t) {
        ByteReader e(header.data() + kStreamHeader + table + size_t(t) * entry, entry);
        const uint32_t offset = e.u32le(), bytes = e.u32le(), compression = e.u32le(),
                       subtype = e.u32le();
        const int x0 = int(t % across) * kTile, y0 = int(t / across) * kTile;
        const int cw = std::min(kTile, l.width - x0), chh = std::min(kTile, l.height - y0);
        const size_t clipped = size_t(cw) * size_t(chh) * channels;
        size_t stride = size_t(kTile) * channels;
        if (compression == 1) {
            for (size_t i = 0; i < full; ++i) tile[i] = uint8_t(subtype >> (8 * (i % channels)));
        } else if (compression == 0) {
            if (bytes != full && bytes != clipped) {
                rc = ERROR_FILE_FORMAT;
                break;
            }
            if (bytes == clipped) stride = size_t(cw) * channels;
            const uint64_t at = uint64_t(offset) + kStreamHeader;
            if (dataSize < 0 || at > uint64_t(dataSize) || bytes > uint64_t(dataSize) - at) {
                // The data ends early: what came before stays.
                rows = y0;
                break;
            }
            if (gsf_input_seek(dataIn.get(), gsf_off_t(at), G_SEEK_SET) ||
                !gsf_input_read(dataIn.get(), bytes, tile.data())) {
                rows = y0;
                break;
            }
        } else if (compression == 2) {
            const uint64_t at = uint64_t(offset) + kStreamHeader;
            if (dataSize < 0 || at > uint64_t(dataSize) || bytes > uint64_t(dataSize) - at) {
                rows = y0;
                break;
            }
            const int selector = int(subtype >> 24);
            auto tables = l.jpegTables.find(selector);
            if (selector != 0 && tables == l.jpegTables.end()) {
                rc = ERROR_FILE_FORMAT;
                break;
            }
            try {
                coded.resize(bytes);
            } catch (const std::bad_alloc&) {
                rc = ERROR_NO_MEMORY;
                break;
            }
            if (gsf_input_seek(dataIn.get(), gsf_off_t(at), G_SEEK_SET) ||
                (bytes && !gsf_input_read(dataIn.get(), bytes, coded.data()))) {
                rows = y0;
                break;
            }
            rc = DecodeJpegTile(selector ? &tables->second : nullptr, coded.data(), coded.size(),
                                int(channels), (subtype >> 16 & 0xFF) != 0, tile.data());
            if (rc != SUCCESS) break;
        } else {
            rc = ERROR_UNKNOWN_COMP;
            break;
        }
        PutTile(l, tile.data(), stride, x0, y0, cw, chh, out);
    }
    return ctx.FinishRows(out, rows, l.height, rc);
}

// ---------------------------------------------------------------------------
// Writing.

void Put16(std::vector<uint8_t>& o, uint32_t v) { PutLE16(o, v); }
void Put32(std::vector<uint8_t>& o, uint32_t v) {
    PutLE16(o, v & 0xFFFF);
    PutLE16(o, v >> 16);
}

// The 28 bytes before a FlashPix stream's own data.
void StreamHeader(std::vector<uint8_t>& o, const ClassId& c) {
    Put16(o, 0xFFFE);
    Put16(o, 0);
    Put32(o, 0x00020006); // written on a 32-bit system of version 6.2, as others do
    o.insert(o.end(), c.bytes, c.bytes + 16);
    Put32(o, 1);
}

// A property set of one section with the given values, in ascending id order.
struct Value {
    uint32_t id, type;
    std::vector<uint8_t> bytes; // the value after its type, padded to 4
};
std::vector<uint8_t> PropertySet(std::vector<Value> values) {
    std::vector<uint8_t> o;
    Put16(o, 0xFFFE);
    Put16(o, 0);
    Put32(o, 0x00020006);
    o.insert(o.end(), 16, 0);
    Put32(o, 1);
    o.insert(o.end(), kImageContentsFormat.bytes, kImageContentsFormat.bytes + 16);
    Put32(o, 48);
    std::vector<uint8_t> body;
    uint32_t at = 8 + 8 * uint32_t(values.size());
    std::vector<uint8_t> table;
    for (Value& v : values) {
        Put32(table, v.id);
        Put32(table, at);
        Put32(body, v.type);
        v.bytes.resize((v.bytes.size() + 3) / 4 * 4, 0);
        body.insert(body.end(), v.bytes.begin(), v.bytes.end());
        at = 8 + 8 * uint32_t(values.size()) + uint32_t(body.size());
    }
    Put32(o, at);
    Put32(o, uint32_t(values.size()));
    o.insert(o.end(), table.begin(), table.end());
    o.insert(o.end(), body.begin(), body.end());
    return o;
}
Value UInt(uint32_t id, uint32_t v) {
    Value r{id, kVtUi4, {}};
    Put32(r.bytes, v);
    return r;
}
Value Real(uint32_t id, float f) {
    Value r{id, kVtR4, {}};
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    Put32(r.bytes, bits);
    return r;
}

bool IsGray(const BITMAPHANDLE* b) {
    if (b->BitsPerPixel != 8 || !b->pPalette) return false;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& q = b->pPalette[i];
        if (q.rgbRed != i || q.rgbGreen != i || q.rgbBlue != i) return false;
    }
    return true;
}

bool WriteChild(GsfOutfile* parent, const char* name, const std::vector<uint8_t>& bytes) {
    GsfOutput* s = gsf_outfile_new_child(parent, name, FALSE);
    if (!s) return false;
    bool ok = gsf_output_write(s, bytes.size(), bytes.data());
    ok = gsf_output_close(s) && ok;
    g_object_unref(s);
    return ok;
}

bool CanSave(int format, int bpp) {
    return (format == FILE_FPX || format == FILE_FPX_JPEG) && (bpp == 8 || bpp == 24);
}

int Save(const BITMAPHANDLE* b, int format, int qfactor, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    InitGsf();
    const bool jpeg = format == FILE_FPX_JPEG;
    const int quality = QualityFromQFactor(qfactor);
    const bool gray = IsGray(b);
    const size_t ch = gray ? 1 : 3;
    // The full picture, channels interleaved, then each half-size one below it.
    std::vector<std::vector<uint8_t>> levels(1);
    std::vector<std::pair<int, int>> sizes{{b->Width, b->Height}};
    size_t bytes = 0;
    if (!L_CheckedMul(size_t(b->Width) * ch, size_t(b->Height), &bytes)) return ERROR_INV_RANGE;
    try {
        levels[0].resize(bytes);
        for (int y = 0; y < b->Height; ++y) {
            const uint8_t* row = L_RowPtr(b, y);
            uint8_t* d = levels[0].data() + size_t(y) * b->Width * ch;
            for (int x = 0; x < b->Width; ++x) {
                if (gray) {
                    d[x] = row[x];
                    continue;
                }
                const BGRA p = ReadPixel(b, row, x);
                d[3 * x] = p.r;
                d[3 * x + 1] = p.g;
                d[3 * x + 2] = p.b;
            }
        }
        while (std::max(sizes.back().first, sizes.back().second) > kTile) {
            // Plain ints: the lambda below reads pw, and clang before 16 cannot capture structured bindings.
            const int pw = sizes.back().first, ph = sizes.back().second;
            const int w = (pw + 1) / 2, h = (ph + 1) / 2;
            const std::vector<uint8_t>& src = levels.back();
            std::vector<uint8_t> dst(size_t(w) * h * ch);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (size_t c = 0; c < ch; ++c) {
                        const int x1 = std::min(2 * x + 1, pw - 1),
                                  y1 = std::min(2 * y + 1, ph - 1);
                        auto at = [&](int xx, int yy) {
                            return unsigned(src[(size_t(yy) * pw + xx) * ch + c]);
                        };
                        dst[(size_t(y) * w + x) * ch + c] = uint8_t(
                            (at(2 * x, 2 * y) + at(x1, 2 * y) + at(2 * x, y1) + at(x1, y1) + 2) /
                            4);
                    }
            levels.push_back(std::move(dst));
            sizes.push_back({w, h});
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    const int n = int(levels.size());

    // Channel colours of every resolution.
    std::vector<uint8_t> colour;
    Put32(colour, 1);
    Put32(colour, uint32_t(ch));
    for (size_t c = 0; c < ch; ++c)
        Put32(colour, gray ? kMonochrome << 16 : kNifRgb << 16 | uint32_t(c));
    std::vector<Value> values{
        UInt(0x01000000, uint32_t(n)),
        UInt(0x01000002, uint32_t(b->Width)),
        UInt(0x01000003, uint32_t(b->Height)),
        Real(0x01000004, float(double(b->Height) / std::max(1, b->YResolution))),
        Real(0x01000005, float(double(b->Width) / std::max(1, b->XResolution))),
        UInt(0x01000006, 0)};
    // Resolution r is sizes[n - 1 - r]: the smallest first.
    for (int r = 0; r < n; ++r) {
        const auto [w, h] = sizes[size_t(n - 1 - r)];
        values.push_back(UInt(0x02000000 | uint32_t(r) << 16, uint32_t(w)));
        values.push_back(UInt(0x02000001 | uint32_t(r) << 16, uint32_t(h)));
        Value v{0x02000002 | uint32_t(r) << 16, kVtBlob, {}};
        Put32(v.bytes, uint32_t(colour.size()));
        v.bytes.insert(v.bytes.end(), colour.begin(), colour.end());
        values.push_back(std::move(v));
    }

    Ref<GsfOutput> sink(gsf_output_memory_new());
    Ref<GsfOutfile> ole(sink ? gsf_outfile_msole_new(sink.get()) : nullptr);
    if (!ole) return ERROR_NO_MEMORY;
    bool ok = gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole.get()), kImageViewClass.bytes);
    GsfOutput* store = gsf_outfile_new_child(ole.get(), "Data Object Store 000001", TRUE);
    ok = ok && store && WriteChild(GSF_OUTFILE(store), "\005Image Contents", PropertySet(values));
    for (int r = 0; ok && r < n; ++r) {
        const auto [w, h] = sizes[size_t(n - 1 - r)];
        const std::vector<uint8_t>& px = levels[size_t(n - 1 - r)];
        const uint32_t across = uint32_t(w + kTile - 1) / kTile,
                       down = uint32_t(h + kTile - 1) / kTile;
        const size_t tileBytes = size_t(kTile) * kTile * ch;
        std::vector<uint8_t> header, tiles;
        StreamHeader(header, kSubimageHeaderClass);
        for (uint32_t v : {36u, uint32_t(w), uint32_t(h), across * down, uint32_t(kTile),
                           uint32_t(kTile), uint32_t(ch), 36u, uint32_t(kTileEntry)})
            Put32(header, v);
        StreamHeader(tiles, kSubimageDataClass);
        try {
            if (!jpeg) tiles.reserve(kStreamHeader + tileBytes * across * down);
        } catch (const std::bad_alloc&) {
            ok = false;
            break;
        }
        std::vector<uint8_t> padded(tileBytes);
        for (uint32_t t = 0; ok && t < across * down; ++t) {
            const int x0 = int(t % across) * kTile, y0 = int(t / across) * kTile;
            // Edge tiles repeat the last column and row, which codes best.
            for (int y = 0; y < kTile; ++y) {
                const uint8_t* srow = px.data() + size_t(std::min(y0 + y, h - 1)) * w * ch;
                for (int x = 0; x < kTile; ++x)
                    std::memcpy(padded.data() + (size_t(y) * kTile + x) * ch,
                                srow + size_t(std::min(x0 + x, w - 1)) * ch, ch);
            }
            const size_t start = tiles.size();
            uint32_t compression = 0, subtype = 0;
            if (jpeg) {
                compression = 2;
                subtype = 0x11u << 8 | (ch == 3 ? 1u : 0u) << 16;
                ok = EncodeJpegTile(padded.data(), int(ch), quality, tiles) == SUCCESS;
            } else {
                tiles.insert(tiles.end(), padded.begin(), padded.end());
            }
            Put32(header, uint32_t(start - kStreamHeader));
            Put32(header, uint32_t(tiles.size() - start));
            Put32(header, compression);
            Put32(header, subtype);
        }
        char name[32];
        std::snprintf(name, sizeof name, "Resolution %04d", r);
        GsfOutput* res = gsf_outfile_new_child(GSF_OUTFILE(store), name, TRUE);
        ok = res && WriteChild(GSF_OUTFILE(res), "Subimage 0000 Header", header) &&
             WriteChild(GSF_OUTFILE(res), "Subimage 0000 Data", tiles);
        if (res) {
            ok = gsf_output_close(res) && ok;
            g_object_unref(res);
        }
    }
    if (store) {
        ok = gsf_output_close(store) && ok;
        g_object_unref(store);
    }
    ok = gsf_output_close(GSF_OUTPUT(ole.get())) && ok;
    if (!ok) return ERROR_NO_MEMORY;
    const guint8* bytesOut = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get()));
    const gsf_off_t total = gsf_output_size(sink.get());
    try {
        out.assign(bytesOut, bytesOut + total);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_FPX || format == FILE_FPX_JPEG; }

} // namespace

extern const Codec kFpxCodec = {"fpx", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
