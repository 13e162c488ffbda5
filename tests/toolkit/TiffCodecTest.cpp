// TIFF reading and writing: files from other programs decode to what those programs
// see, palettes and gray ramps survive, everything we write comes back exactly, and
// hostile files are refused.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "BitmapInternal.h"
#include "TestImages.h"
#include "Toolkit.h"

namespace {

const std::string kTiffDir = std::string(QUILLO_TEST_DATA) + "/tiff/";
const std::string kMalformedDir = std::string(QUILLO_TEST_DATA) + "/malformed/";

using testimg::ReadFile;
using testimg::WriteFile;

struct Fixture {
    const char* file;
    const char* reference;
    int format;
    int bpp;
};

const Fixture kFixtures[] = {
    {"rgb-none.tif", "rgb-none.ppm", FILE_TIF, 24},
    {"rgb-lzw.tif", "rgb-lzw.ppm", FILE_TIFLZW, 24},
    {"rgb-packbits.tif", "rgb-packbits.ppm", FILE_TIF_PACKBITS, 24},
    {"rgb-deflate.tif", "rgb-deflate.ppm", FILE_TIF, 24},
    {"rgb-tiled.tif", "rgb-tiled.ppm", FILE_TIFLZW, 24},
    {"rgb-planar.tif", "rgb-planar.ppm", FILE_TIF, 24},
    {"rgb16-msb.tif", "rgb16-msb.ppm", FILE_TIF, 24},
    {"rgba-lzw.tif", "rgba-lzw.pam", FILE_TIFLZW, 32},
    {"rgba-assoc.tif", "rgba-assoc.pam", FILE_TIF, 32},
    {"palette8.tif", "palette8.ppm", FILE_TIF_PACKBITS, 8},
    {"palette4.tif", "palette4.ppm", FILE_TIFLZW, 4},
    {"gray8.tif", "gray8.pgm", FILE_TIF, 8},
    {"gray16.tif", "gray16.pgm", FILE_TIFLZW, 8},
    {"gray2.tif", "gray2.pgm", FILE_TIF, 4},
    {"bilevel-g4.tif", "bilevel-g4.pgm", FILE_CCITT_GROUP4, 1},
    {"bilevel-miniswhite.tif", "bilevel-miniswhite.pgm", FILE_TIF_PACKBITS, 1},
    {"bilevel-minisblack.tif", "bilevel-minisblack.pgm", FILE_TIF, 1},
};

TEST(TiffCodec, FixturesDecodeToThePixelsImageMagickSees) {
    for (const Fixture& f : kFixtures) {
        SCOPED_TRACE(f.file);
        FILEINFO info;
        ASSERT_EQ(L_FileInfo((kTiffDir + f.file).c_str(), &info), SUCCESS);
        EXPECT_EQ(info.Format, f.format);
        EXPECT_EQ(info.BitsPerPixel, f.bpp);
        EXPECT_EQ(info.PageCount, 1);
        BITMAPHANDLE b;
        ASSERT_EQ(L_LoadBitmap((kTiffDir + f.file).c_str(), &b, 0, ORDER_BGR), SUCCESS);
        EXPECT_EQ(b.BitsPerPixel, f.bpp);
        const testimg::RefImage ref = testimg::ReadReference(kTiffDir + f.reference);
        ASSERT_TRUE(ref.valid());
        EXPECT_TRUE(testimg::Matches(testimg::Compare(b, ref, 0, testimg::Alpha::WhenBothHaveIt)));
        L_FreeBitmap(&b);
    }
    FILEINFO info;
    ASSERT_EQ(L_FileInfo((kTiffDir + "rgb-none.tif").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.XResolution, 150);
    ASSERT_EQ(L_FileInfo((kTiffDir + "rgb-lzw.tif").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.XResolution, 102); // 40 per centimetre
    ASSERT_EQ(L_FileInfo((kTiffDir + "multipage.tif").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.PageCount, 2);
    EXPECT_EQ(info.Width, 20);
}

// ---------------------------------------------------------------------------
// Round trips.

enum class Pal { Ramp, Inverse, Colours };

BITMAPHANDLE RandomBitmap(int width, int height, int bpp, Pal pal, int viewPerspective = TOP_LEFT) {
    std::mt19937 rng(unsigned(bpp * 7 + int(pal)));
    RGBQUAD palette[256] = {};
    const int n = bpp <= 8 ? 1 << bpp : 0;
    for (int i = 0; i < n; ++i) {
        uint8_t level = uint8_t(i * 255 / (n - 1));
        if (pal == Pal::Inverse) level = uint8_t(255 - level);
        palette[i] = pal == Pal::Colours
                         ? RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0}
                         : RGBQUAD{level, level, level, 0};
    }
    BITMAPHANDLE b;
    EXPECT_EQ(
        L_CreateBitmap(&b, TYPE_CONV, width, height, bpp, ORDER_BGR, palette, viewPerspective),
        SUCCESS);
    for (size_t i = 0; i < b.Size; ++i) b.Addr[i] = uint8_t(rng());
    b.XResolution = 300;
    b.YResolution = 200;
    return b;
}

// Same picture: equal indices and palettes at 8 bits or less, equal colours and alpha above.
void ExpectSamePicture(const BITMAPHANDLE& want, const BITMAPHANDLE& got) {
    if (want.BitsPerPixel > 8) {
        EXPECT_TRUE(
            testimg::Matches(testimg::Compare(got, want, 0, testimg::Alpha::WhenBothHaveIt)));
        return;
    }
    ASSERT_EQ(got.Height, want.Height);
    ASSERT_EQ(got.Width, want.Width);
    int bad = 0;
    for (int y = 0; y < want.Height; ++y)
        for (int x = 0; x < want.Width; ++x)
            bad += lt::ReadIndex(L_RowPtr(&want, y), x, want.BitsPerPixel) !=
                   lt::ReadIndex(L_RowPtr(&got, y), x, got.BitsPerPixel);
    EXPECT_EQ(bad, 0);
    for (int i = 0; i < (1 << want.BitsPerPixel); ++i) {
        const RGBQUAD &w = want.pPalette[i], &g = got.pPalette[i];
        EXPECT_TRUE(w.rgbRed == g.rgbRed && w.rgbGreen == g.rgbGreen && w.rgbBlue == g.rgbBlue)
            << "entry " << i;
    }
}

TEST(TiffCodec, EveryDepthWrittenComesBackExactly) {
    // Bottom-up bitmaps must be written right side up.
    const std::tuple<int, Pal, int> kCases[] = {
        {1, Pal::Ramp, TOP_LEFT},        {1, Pal::Inverse, TOP_LEFT},
        {1, Pal::Colours, TOP_LEFT},     {4, Pal::Ramp, TOP_LEFT},
        {4, Pal::Colours, TOP_LEFT},     {8, Pal::Ramp, TOP_LEFT},
        {8, Pal::Inverse, BOTTOM_LEFT},  {8, Pal::Colours, TOP_LEFT},
        {16, Pal::Colours, TOP_LEFT},    {24, Pal::Colours, TOP_LEFT},
        {24, Pal::Colours, BOTTOM_LEFT}, {32, Pal::Colours, TOP_LEFT},
    };
    for (int format : {FILE_TIF, FILE_TIFLZW, FILE_TIF_PACKBITS}) {
        for (auto [bpp, pal, view] : kCases) {
            SCOPED_TRACE(testing::Message() << "format " << format << ", " << bpp
                                            << " bits, palette " << int(pal) << ", view " << view);
            BITMAPHANDLE src = RandomBitmap(301, 250, bpp, pal, view);
            std::vector<uint8_t> bytes = testimg::SaveToMemory(&src, format);
            if (bpp < 8) {
                // What a row holds past its last pixel never reaches the file.
                const int spare = 8 - src.Width * bpp % 8;
                for (int y = 0; y < src.Height; ++y)
                    L_RowPtr(&src, y)[(src.Width * bpp + 7) / 8 - 1] ^= uint8_t((1 << spare) - 1);
                EXPECT_EQ(testimg::SaveToMemory(&src, format), bytes);
            }
            FILEINFO info;
            ASSERT_EQ(L_FileInfoMemory(bytes.data(), bytes.size(), &info), SUCCESS);
            EXPECT_EQ(info.Format, format);
            EXPECT_EQ(info.BitsPerPixel, bpp == 16 ? 24 : bpp); // 16-bit pixels are written as RGB
            EXPECT_EQ(info.XResolution, 300);
            EXPECT_EQ(info.YResolution, 200);
            BITMAPHANDLE back;
            ASSERT_EQ(L_LoadBitmapMemory(bytes.data(), &back, 0, ORDER_BGR, bytes.size()), SUCCESS);
            ExpectSamePicture(src, back);
            L_FreeBitmap(&back);
            L_FreeBitmap(&src);
        }
    }
}

// A strict reading of one LZW strip: codes 9 to 12 bits wide growing one code early,
// Clear resets, and EOI must come exactly at the end of the data with the width the
// table has reached. libtiff stops once it has the pixels and would not notice a bad EOI.
bool StrictLzwDecode(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    struct Entry {
        int prefix;
        uint8_t first, last;
    };
    std::vector<Entry> table;
    size_t bit = 0;
    int width = 9, prev = -1;
    auto reset = [&] {
        table.assign(258, Entry{-1, 0, 0});
        for (int i = 0; i < 256; ++i) table[size_t(i)] = Entry{-1, uint8_t(i), uint8_t(i)};
        width = 9;
        prev = -1;
    };
    auto emit = [&](int code) {
        size_t at = out.size();
        for (int c = code; c >= 0; c = table[size_t(c)].prefix)
            out.push_back(table[size_t(c)].last);
        std::reverse(out.begin() + long(at), out.end());
    };
    reset();
    for (;;) {
        if (bit + size_t(width) > in.size() * 8) return false;
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code = code << 1 | ((in[bit / 8] >> (7 - bit % 8)) & 1);
        if (code == 256) {
            reset();
            continue;
        }
        if (code == 257) return in.size() * 8 - bit < 8;
        const bool known = code < 256 || (code >= 258 && size_t(code) < table.size());
        if (!known && !(size_t(code) == table.size() && prev >= 0)) return false;
        if (prev >= 0) {
            uint8_t first = known ? table[size_t(code)].first : table[size_t(prev)].first;
            table.push_back(Entry{prev, table[size_t(prev)].first, first});
        }
        emit(code);
        prev = code;
        if (table.size() + 1 >= (1u << width) && width < 12) ++width;
    }
}

TEST(TiffCodec, LzwStripsAreValidForStrictReaders) {
    const std::string path = testimg::TempDir("tiff") + "/strict.tif";
    std::mt19937 rng(5);
    // Random bytes yield about one code each: these lengths end the data right around
    // the points where codes widen (512, 1024, 2048 entries) and where the table fills.
    std::vector<int> widths;
    for (auto [from, to] :
         {std::pair{240, 300}, std::pair{750, 830}, std::pair{1770, 1880}, std::pair{3800, 4000}})
        for (int w = from; w < to; ++w) widths.push_back(w);
    int bad = 0;
    for (int w : widths) {
        BITMAPHANDLE b = RandomBitmap(w, 1, 8, Pal::Colours);
        for (int x = 0; x < w; ++x) b.Addr[x] = uint8_t(rng());
        std::vector<uint8_t> bytes = testimg::SaveToMemory(&b, FILE_TIFLZW);
        WriteFile(path, bytes);
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        std::vector<uint8_t> raw(bytes.size()), decoded;
        raw.resize(size_t(
            std::max<tmsize_t>(0, TIFFReadRawStrip(tif, 0, raw.data(), tmsize_t(raw.size())))));
        TIFFClose(tif);
        if (!StrictLzwDecode(raw, decoded) || decoded != std::vector<uint8_t>(b.Addr, b.Addr + w))
            ++bad;
        L_FreeBitmap(&b);
    }
    EXPECT_EQ(bad, 0) << "of " << widths.size() << " strips";
}

// ---------------------------------------------------------------------------
// Layouts ImageMagick does not write, made with libtiff directly.

struct TiffLayout {
    uint32_t width = 45, height = 37;
    uint16_t bps = 8, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE,
             sampleFormat = SAMPLEFORMAT_UINT;
    std::vector<uint16_t> extras{};
    uint32_t tile = 0;                // square tiles of this size, or strips when 0
    std::vector<uint16_t> colormap{}; // red, green, blue thirds
};

// Sample value `s` of pixel (x, y), scaled to the sample's bits.
using SampleFn = std::function<unsigned(uint32_t x, uint32_t y, unsigned s)>;

void PutSample(uint8_t* row, uint32_t index, int bps, unsigned v) {
    switch (bps) {
        case 32: reinterpret_cast<uint32_t*>(row)[index] = v; break;
        case 16: reinterpret_cast<uint16_t*>(row)[index] = uint16_t(v); break;
        case 8: row[index] = uint8_t(v); break;
        default: {
            int perByte = 8 / bps;
            int shift = 8 - bps * (1 + int(index % unsigned(perByte)));
            row[index / unsigned(perByte)] = uint8_t(row[index / unsigned(perByte)] | (v << shift));
        }
    }
}

bool WriteTiff(const std::string& path, const TiffLayout& s, const SampleFn& sample) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    // The remaining tags are 16-bit, which TIFFSetField takes promoted to int.
    for (auto [tag, value] : {std::pair{TIFFTAG_BITSPERSAMPLE, s.bps},
                              {TIFFTAG_SAMPLESPERPIXEL, s.spp},
                              {TIFFTAG_PHOTOMETRIC, s.photometric},
                              {TIFFTAG_PLANARCONFIG, s.planar},
                              {TIFFTAG_COMPRESSION, s.compression},
                              {TIFFTAG_SAMPLEFORMAT, s.sampleFormat}})
        TIFFSetField(tif, tag, int(value));
    if (!s.extras.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(s.extras.size()), s.extras.data());
    if (!s.colormap.empty()) {
        size_t n = s.colormap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, s.colormap.data(), s.colormap.data() + n,
                     s.colormap.data() + 2 * n);
    }
    if (s.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    const bool separate = s.planar == PLANARCONFIG_SEPARATE;
    const unsigned perRow = separate ? 1 : s.spp;
    auto rowOf = [&](uint32_t y, unsigned plane, uint32_t x0, uint32_t count) {
        std::vector<uint8_t> row((size_t(count) * perRow * s.bps + 7) / 8 + 2, 0);
        for (uint32_t x = 0; x < count; ++x)
            for (unsigned k = 0; k < perRow; ++k) {
                unsigned sampleIndex = separate ? plane : k;
                unsigned v = x0 + x < s.width && y < s.height ? sample(x0 + x, y, sampleIndex) : 0;
                PutSample(row.data(), x * perRow + k, s.bps, v);
            }
        return row;
    };
    bool ok = true;
    const unsigned planes = separate ? s.spp : 1;
    if (s.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        std::vector<uint8_t> tile(size_t(TIFFTileSize(tif)));
        const size_t rowBytes = size_t(TIFFTileRowSize(tif));
        for (unsigned p = 0; p < planes; ++p)
            for (uint32_t ty = 0; ty < s.height; ty += s.tile)
                for (uint32_t tx = 0; tx < s.width; tx += s.tile) {
                    for (uint32_t r = 0; r < s.tile; ++r)
                        std::memcpy(&tile[r * rowBytes], rowOf(ty + r, p, tx, s.tile).data(),
                                    rowBytes);
                    ok &= TIFFWriteTile(tif, tile.data(), tx, ty, 0, uint16_t(p)) >= 0;
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16u); // a whole number of JPEG blocks
        for (unsigned p = 0; p < planes; ++p)
            for (uint32_t y = 0; y < s.height; ++y)
                ok &= TIFFWriteScanline(tif, rowOf(y, p, 0, s.width).data(), y, uint16_t(p)) == 1;
    }
    TIFFClose(tif);
    return ok;
}

TEST(TiffCodec, LessCommonLayoutsAreRead) {
    const std::string path = testimg::TempDir("tiff") + "/layout.tif";
    auto wave = [](uint32_t x, uint32_t y, unsigned s) { return (x * 37 + y * 11 + s * 83) % 256; };
    // Each load first frees what the last one read.
    BITMAPHANDLE b;
    auto load = [&](const TiffLayout& layout, const SampleFn& sample) {
        L_FreeBitmap(&b);
        EXPECT_TRUE(WriteTiff(path, layout, sample));
        testimg::RowLog log; // every reader, libtiff's general one too, reports its rows
        const int rc =
            L_LoadFile(path.c_str(), &b, 0, ORDER_BGR, LOADFILE_ALLOCATE, testimg::LogRows, &log);
        if (rc == SUCCESS) {
            EXPECT_EQ(testimg::CountPasses(log, b.Height), 1);
        }
        return rc;
    };

    // Two-bit palette: indices kept, four colour-map entries.
    ASSERT_EQ(
        load({.bps = 2,
              .photometric = PHOTOMETRIC_PALETTE,
              .colormap = {65535, 0, 0, 32896, /*g*/ 0, 65535, 0, 32896, /*b*/ 0, 0, 65535, 32896}},
             [](uint32_t x, uint32_t y, unsigned) { return (x + y) % 4; }),
        SUCCESS);
    EXPECT_EQ(b.BitsPerPixel, 4);
    EXPECT_EQ(lt::ReadIndex(L_RowPtr(&b, 5), 10, 4), 3u);
    EXPECT_EQ(L_GetPixelColor(&b, 0, 1), RGB(0, 255, 0));
    EXPECT_EQ(L_GetPixelColor(&b, 5, 10), RGB(128, 128, 128));

    ASSERT_EQ(load({.spp = 2, .extras = {EXTRASAMPLE_UNASSALPHA}}, wave),
              SUCCESS); // gray and alpha
    ASSERT_EQ(b.BitsPerPixel, 32);
    const uint8_t g = uint8_t(wave(7, 9, 0));
    EXPECT_EQ((lt::ReadPixel(&b, L_RowPtr(&b, 9), 7)), (lt::BGRA{g, g, g, uint8_t(wave(7, 9, 1))}));

    // CMYK: 20% black everywhere; cyan grows along x and takes red away.
    ASSERT_EQ(load({.spp = 4, .photometric = PHOTOMETRIC_SEPARATED},
                   [](uint32_t x, uint32_t, unsigned s) {
                       return s == 3 ? 51u : s == 0 ? x * 5 : 0u;
                   }),
              SUCCESS);
    ASSERT_EQ(b.BitsPerPixel, 24);
    EXPECT_EQ(L_GetPixelColor(&b, 3, 0), RGB(204, 204, 204));
    EXPECT_EQ(L_GetPixelColor(&b, 3, 40), RGB(44, 204, 204)); // (255 - 200) * 0.8

    // Eight-bit min-is-white: values kept, the ramp runs from white.
    ASSERT_EQ(load({.photometric = PHOTOMETRIC_MINISWHITE}, wave), SUCCESS);
    EXPECT_EQ(L_RowPtr(&b, 4)[6], wave(6, 4, 0));
    EXPECT_EQ(GetRValue(L_GetPixelColor(&b, 4, 6)), 255 - wave(6, 4, 0));

    // Sixteen-bit RGBA in separate planes -> 32 bits, scaled to 8.
    ASSERT_EQ(load({.bps = 16,
                    .spp = 4,
                    .photometric = PHOTOMETRIC_RGB,
                    .planar = PLANARCONFIG_SEPARATE,
                    .compression = COMPRESSION_LZW,
                    .extras = {EXTRASAMPLE_UNASSALPHA}},
                   [&](uint32_t x, uint32_t y, unsigned s) { return wave(x, y, s) * 257; }),
              SUCCESS);
    ASSERT_EQ(b.BitsPerPixel, 32);
    auto w8 = [&](unsigned s) { return uint8_t(wave(44, 30, s)); };
    EXPECT_EQ((lt::ReadPixel(&b, L_RowPtr(&b, 30), 44)), (lt::BGRA{w8(2), w8(1), w8(0), w8(3)}));

    // Bilevel in 16 x 16 tiles, the image not a whole number of tiles.
    auto checker = [](uint32_t x, uint32_t y, unsigned) { return ((x / 3 + y / 2) & 1u); };
    ASSERT_EQ(load({.bps = 1, .compression = COMPRESSION_PACKBITS, .tile = 16}, checker), SUCCESS);
    ASSERT_EQ(b.BitsPerPixel, 1);
    int bad = 0;
    for (int y = 0; y < 37; ++y)
        for (int x = 0; x < 45; ++x)
            bad += lt::ReadIndex(L_RowPtr(&b, y), x, 1) != checker(uint32_t(x), uint32_t(y), 0);
    EXPECT_EQ(bad, 0);

    // JPEG-compressed YCbCr goes through libtiff's general reader.
    ASSERT_EQ(load({.spp = 3,
                    .photometric = PHOTOMETRIC_YCBCR,
                    .compression = COMPRESSION_JPEG,
                    .tile = 16},
                   [](uint32_t x, uint32_t y, unsigned s) {
                       return s == 0 ? x * 5 : s == 1 ? y * 6 : 128u;
                   }),
              SUCCESS);
    ASSERT_EQ(b.BitsPerPixel, 24);
    const COLORREF c = L_GetPixelColor(&b, 20, 30);
    EXPECT_NEAR(GetRValue(c), 150, 8);
    EXPECT_NEAR(GetGValue(c), 120, 8);
    EXPECT_NEAR(GetBValue(c), 128, 8);

    // Floating-point samples are not something we show.
    EXPECT_EQ(load({.bps = 32, .sampleFormat = SAMPLEFORMAT_IEEEFP},
                   [](uint32_t, uint32_t, unsigned) { return 0u; }),
              ERROR_IMAGE_TYPE);
    EXPECT_FALSE(b.Flags.Allocated);
}

// ---------------------------------------------------------------------------
// Hostile files (damaged copies of every fixture are swept in FileIOTest).

TEST(TiffCodec, HostileHeadersAreRefused) {
    BITMAPHANDLE b;
    EXPECT_EQ(L_LoadBitmap((kMalformedDir + "tiff-65535x65535.tif").c_str(), &b, 0, ORDER_BGR),
              ERROR_INV_RANGE);
    EXPECT_FALSE(b.Flags.Allocated);
    for (const char* file :
         {"tiff-huge-tile.tif", "tiff-strip-past-end.tif", "tiff-truncated-lzw.tif"}) {
        EXPECT_LT(L_LoadBitmap((kMalformedDir + file).c_str(), &b, 0, ORDER_BGR), 0) << file;
        EXPECT_FALSE(b.Flags.Allocated) << file;
    }
    // A directory chain that loops back on itself still has a readable first page.
    FILEINFO info;
    ASSERT_EQ(L_FileInfo((kMalformedDir + "tiff-ifd-loop.tif").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.PageCount, 1);
}

} // namespace
