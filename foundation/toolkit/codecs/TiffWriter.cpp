// Writing TIFF files through libtiff: one page in strips of about 64 KB, with our own LZW
// encoder, and for Exif files a thumbnail directory and an Exif directory.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "Exif.h"
#include "TiffColorSpaces.h"
#include "TiffInternal.h"

namespace lt::codec::tiff {
namespace {

// Strips written are about this size: small enough to stay in cache while converted.
constexpr size_t kStripBytes = 64 * 1024;

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

} // namespace

bool CanSave(int format, int bpp) {
    if (IsFax(format)) return bpp == 1;
    if (IsJtif(format)) return bpp == 8 || bpp == 24;
    if (IsCmyk(format)) return bpp == 24 || bpp == 32;
    if (IsYcc(format) || format == FILE_EXIF) return bpp == 24;
    return (format == FILE_TIF || format == FILE_TIFLZW || format == FILE_TIF_PACKBITS) &&
           IsValidBpp(bpp);
}

namespace {

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
        default: {
            const size_t bits = size_t(w) * size_t(b->BitsPerPixel), n = (bits + 7) / 8;
            std::memcpy(d, s, n);
            // The bits past the last pixel hold whatever the bitmap has there: cleared, the
            // same picture always gives the same file.
            if (bits % 8 != 0) d[n - 1] = uint8_t(d[n - 1] & (0xFF << (8 - bits % 8)));
            return;
        }
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
    // Room for the pixels as they are, which a compressed photo does not exceed: the file
    // is not copied as it grows, and its pages are faulted in as huge ones.
    out.reserve(size_t(b->Height) * size_t(b->BytesPerLine) + 4096);
    PreferHugePages(out.data(), out.capacity());
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

} // namespace

int Save(const BITMAPHANDLE* b, int format, int qfactor, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    try {
        return Encode(b, format, qfactor, out);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

} // namespace lt::codec::tiff
