// JPEG reading and writing: files from another program decode to what that program
// sees, the format codes and quality factor mean what the program expects, Exif
// thumbnails serve as stamps, and hostile headers are refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "BitmapInternal.h"
#include "TestImages.h"
#include "Toolkit.h"

namespace {

const std::string kJpegDir = std::string(QUILLO_TEST_DATA) + "/jpeg/";
const std::string kMalformedDir = std::string(QUILLO_TEST_DATA) + "/malformed/";

using testimg::ReadFile;
using testimg::Store32;
using testimg::WriteFile;

// A smooth colour image (what JPEG is made for) at 24 or 32 bits.
BITMAPHANDLE Gradient(int width, int height, int bpp) {
    BITMAPHANDLE b;
    EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, width, height, bpp, ORDER_BGR, nullptr, TOP_LEFT),
              SUCCESS);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            lt::WritePixel(
                &b, L_RowPtr(&b, y), x,
                lt::BGRA{uint8_t((x + y) * 255 / (width + height)), uint8_t(y * 255 / height),
                         uint8_t(x * 255 / width), uint8_t(x * 4)},
                false);
    return b;
}

std::vector<uint8_t> Save(BITMAPHANDLE* b, int format, int bpp, int qfactor, int* rc = nullptr) {
    return testimg::SaveToMemory(b, format, bpp, qfactor, rc);
}

// The first entry (the DC step) of quantisation table 0, as stored in the file.
int LumaDcStep(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 2; i + 5 < jpeg.size();) {
        if (jpeg[i] != 0xFF) return -1;
        uint8_t marker = jpeg[i + 1];
        size_t len = size_t(jpeg[i + 2] << 8 | jpeg[i + 3]);
        if (marker == 0xDB && (jpeg[i + 4] & 0x0F) == 0)
            return (jpeg[i + 4] >> 4) ? jpeg[i + 5] << 8 | jpeg[i + 6] : jpeg[i + 5];
        if (marker == 0xDA) return -1;
        i += 2 + len;
    }
    return -1;
}

// Offsets below are within the TIFF block WithExifThumbnail builds: IFD0 at 8, the
// pointer to IFD1 at 22, IFD1 at 26 with Compression, thumbnail offset and length values
// at 36, 48 and 60.

// Splices an APP1 Exif segment holding `thumb` as the IFD1 thumbnail into `main`.
// `damage` may corrupt the TIFF structure after it is built.
std::vector<uint8_t> WithExifThumbnail(const std::vector<uint8_t>& main,
                                       const std::vector<uint8_t>& thumb, bool bigEndian,
                                       void (*damage)(std::vector<uint8_t>&, bool) = nullptr) {
    std::vector<uint8_t> t;
    auto u16 = [&](unsigned v) {
        if (bigEndian)
            t.insert(t.end(), {uint8_t(v >> 8), uint8_t(v)});
        else
            t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8)});
    };
    auto u32 = [&](uint32_t v) {
        if (bigEndian)
            t.insert(t.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        else
            t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    };
    t.insert(t.end(), bigEndian ? std::initializer_list<uint8_t>{'M', 'M'}
                                : std::initializer_list<uint8_t>{'I', 'I'});
    u16(42);
    u32(8);
    // IFD0 with one (irrelevant) entry: Orientation = 1.
    u16(1);
    u16(0x0112), u16(3), u32(1), u16(1), u16(0);
    u32(8 + 2 + 12 + 4); // IFD1 follows
    const uint32_t thumbOffset = 8 + 18 + 2 + 3 * 12 + 4;
    u16(3);
    u16(0x0103), u16(3), u32(1), u16(6), u16(0);
    u16(0x0201), u16(4), u32(1), u32(thumbOffset);
    u16(0x0202), u16(4), u32(1), u32(uint32_t(thumb.size()));
    u32(0);
    t.insert(t.end(), thumb.begin(), thumb.end());
    if (damage) damage(t, bigEndian);
    std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), t.begin(), t.end());
    size_t len = app1.size() - 2;
    app1[2] = uint8_t(len >> 8);
    app1[3] = uint8_t(len);
    std::vector<uint8_t> out = main;
    out.insert(out.begin() + 2, app1.begin(), app1.end());
    return out;
}

struct Fixture {
    const char* file;
    const char* reference;
    int format;
    int bpp;
    bool progressive;
};

const Fixture kFixtures[] = {
    {"baseline-444.jpg", "baseline-444.ppm", FILE_JFIF, 24, false},
    {"baseline-422.jpg", "baseline-422.ppm", FILE_LEAD2JFIF, 24, false},
    {"baseline-420.jpg", "baseline-420.ppm", FILE_LEAD1JFIF, 24, false},
    {"baseline-411.jpg", "baseline-411.ppm", FILE_LEAD1JFIF, 24, false},
    {"progressive-420.jpg", "progressive-420.ppm", FILE_LEAD1JFIF, 24, true},
    {"gray.jpg", "gray.pgm", FILE_JFIF, 8, false},
    {"cmyk.jpg", "cmyk.ppm", FILE_JFIF, 24, false},
    {"exif-thumb.jpg", "baseline-444.ppm", FILE_EXIF_JPEG, 24, false},
};

TEST(JpegCodec, FixturesDecodeToThePixelsImageMagickSees) {
    for (const Fixture& f : kFixtures) {
        SCOPED_TRACE(f.file);
        FILEINFO info;
        ASSERT_EQ(L_FileInfo((kJpegDir + f.file).c_str(), &info), SUCCESS);
        EXPECT_EQ(info.Format, f.format);
        EXPECT_EQ(info.BitsPerPixel, f.bpp);
        EXPECT_EQ(info.Width, 45);
        EXPECT_EQ(info.Height, 37);
        EXPECT_EQ(info.Passes > 1, f.progressive) << info.Passes << " passes";

        BITMAPHANDLE b;
        ASSERT_EQ(L_LoadBitmap((kJpegDir + f.file).c_str(), &b, 0, ORDER_BGR), SUCCESS);
        EXPECT_EQ(b.BitsPerPixel, f.bpp);
        if (f.bpp == 8) {
            for (int i = 0; i < 256; ++i)
                EXPECT_EQ(b.pPalette[i].rgbRed, i) << "gray palette entry " << i;
        }
        const testimg::RefImage ref = testimg::ReadReference(kJpegDir + f.reference);
        ASSERT_TRUE(ref.valid());
        EXPECT_TRUE(testimg::Matches(testimg::Compare(b, ref, 2, testimg::Alpha::Ignore)));
        L_FreeBitmap(&b);
    }
}

TEST(JpegCodec, ResolutionComesFromTheJfifDensity) {
    FILEINFO info;
    BITMAPHANDLE b;
    ASSERT_EQ(L_LoadBitmap((kJpegDir + "baseline-444.jpg").c_str(), &b, 0, ORDER_BGR), SUCCESS);
    EXPECT_EQ(b.YResolution, 300);
    L_FreeBitmap(&b);
    // 40 dots per centimetre.
    ASSERT_EQ(L_FileInfo((kJpegDir + "baseline-422.jpg").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.XResolution, 102);
    // Only an aspect ratio: the program's default applies.
    EXTFILEOPTIONS opt;
    L_GetExtFileOption(&opt);
    ASSERT_EQ(L_FileInfo((kJpegDir + "baseline-420.jpg").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.XResolution, opt.XResolution);
}

TEST(JpegCodec, QFactorSetsTheQuantisationLikeThePercentageQuality) {
    BITMAPHANDLE b = Gradient(64, 48, 24);
    // Quality 75 halves the standard luminance table, whose DC step is 16.
    EXPECT_EQ(LumaDcStep(Save(&b, FILE_JFIF, 0, 64)), 8);
    // 0 and 2 both mean the best quality: every step 1.
    EXPECT_EQ(LumaDcStep(Save(&b, FILE_JFIF, 0, 0)), 1);
    EXPECT_EQ(LumaDcStep(Save(&b, FILE_JFIF, 0, 2)), 1);
    // Quality 50 is the standard table itself.
    EXPECT_EQ(LumaDcStep(Save(&b, FILE_JFIF, 0, 128)), 16);
    // The smallest file still has baseline-sized steps.
    EXPECT_EQ(LumaDcStep(Save(&b, FILE_JFIF, 0, 255)), 255);
    EXPECT_GT(Save(&b, FILE_JFIF, 0, 2).size(), Save(&b, FILE_JFIF, 0, 64).size());
    EXPECT_GT(Save(&b, FILE_JFIF, 0, 64).size(), Save(&b, FILE_JFIF, 0, 200).size());
    L_FreeBitmap(&b);
}

TEST(JpegCodec, ColourSavesKeepThePictureResolutionAndReportTheirSubsampling) {
    // Plain JFIF is written 4:2:0, so it reads back as code 23.
    const std::pair<int, int> kCodes[] = {{FILE_JFIF, FILE_LEAD1JFIF},
                                          {FILE_LEAD2JFIF, FILE_LEAD2JFIF},
                                          {FILE_LEAD1JFIF, FILE_LEAD1JFIF}};
    for (int bpp : {24, 32}) {
        BITMAPHANDLE src = Gradient(61, 35, bpp), bottomUp;
        // A bottom-up copy must be saved right side up.
        ASSERT_EQ(
            L_CreateBitmap(&bottomUp, TYPE_CONV, 61, 35, bpp, ORDER_BGR, nullptr, BOTTOM_LEFT),
            SUCCESS);
        for (int y = 0; y < 35; ++y)
            std::memcpy(L_RowPtr(&bottomUp, y), L_RowPtr(&src, y), size_t(src.BytesPerLine));
        src.XResolution = bottomUp.XResolution = 600;
        src.YResolution = bottomUp.YResolution = 150;
        for (auto [saveAs, readAs] : kCodes) {
            SCOPED_TRACE(testing::Message() << bpp << " bits as " << saveAs);
            std::vector<uint8_t> bytes =
                Save(saveAs == FILE_LEAD2JFIF ? &bottomUp : &src, saveAs, 0, 2);
            FILEINFO info;
            ASSERT_EQ(L_FileInfoMemory(bytes.data(), bytes.size(), &info), SUCCESS);
            EXPECT_EQ(info.Format, readAs);
            EXPECT_TRUE(info.XResolution == 600 && info.YResolution == 150);
            BITMAPHANDLE back;
            ASSERT_EQ(L_LoadBitmapMemory(bytes.data(), &back, 0, ORDER_BGR, bytes.size()), SUCCESS);
            EXPECT_EQ(back.BitsPerPixel, 24);
            EXPECT_TRUE(testimg::Matches(testimg::Compare(back, src, 6, testimg::Alpha::Ignore)));
            L_FreeBitmap(&back);
        }
        L_FreeBitmap(&src);
        L_FreeBitmap(&bottomUp);
    }
    // Depths JPEG cannot hold are refused.
    BITMAPHANDLE b = Gradient(8, 8, 24);
    int rc = 0;
    Save(&b, FILE_JFIF, 4, 64, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
    Save(&b, FILE_LEAD2JFIF, 16, 64, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
    L_FreeBitmap(&b);
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 8, 8, 1, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    Save(&b, FILE_JFIF, 0, 64, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
    L_FreeBitmap(&b);
}

TEST(JpegCodec, EightBitBitmapsAreSavedAsGrayByLuminance) {
    BITMAPHANDLE b;
    RGBQUAD pal[256] = {};
    pal[1] = RGBQUAD{0, 0, 255, 0};     // red
    pal[2] = RGBQUAD{0, 255, 0, 0};     // green
    pal[3] = RGBQUAD{255, 0, 0, 0};     // blue
    pal[4] = RGBQUAD{200, 200, 200, 0}; // light gray
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 40, 16, 8, ORDER_BGR, pal, TOP_LEFT), SUCCESS);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 40; ++x) L_RowPtr(&b, y)[x] = uint8_t(x / 8);
    std::vector<uint8_t> bytes = Save(&b, FILE_JFIF, 0, 0);
    BITMAPHANDLE back;
    ASSERT_EQ(L_LoadBitmapMemory(bytes.data(), &back, 0, ORDER_BGR, bytes.size()), SUCCESS);
    ASSERT_EQ(back.BitsPerPixel, 8);
    const int expected[] = {0, 76, 150, 29, 200}; // 0.299 R + 0.587 G + 0.114 B
    for (int band = 0; band < 5; ++band)
        EXPECT_NEAR(L_RowPtr(&back, 8)[band * 8 + 4], expected[band], 2) << band;
    L_FreeBitmap(&back);

    // A gray-ramp bitmap goes through unchanged but for compression.
    for (int i = 0; i < 256; ++i) b.pPalette[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 40; ++x) L_RowPtr(&b, y)[x] = uint8_t(x * 6);
    bytes = Save(&b, FILE_LEAD1JFIF, 0, 0);
    ASSERT_EQ(L_LoadBitmapMemory(bytes.data(), &back, 0, ORDER_BGR, bytes.size()), SUCCESS);
    EXPECT_TRUE(testimg::Matches(testimg::Compare(back, b, 3, testimg::Alpha::Ignore)));
    L_FreeBitmap(&back);
    L_FreeBitmap(&b);
}

TEST(JpegCodec, ExifThumbnailIsTheFileStamp) {
    const testimg::RefImage ref = testimg::ReadReference(kJpegDir + "exif-thumb.ppm");
    BITMAPHANDLE stamp;
    ASSERT_EQ(L_GetCompressFileStamp((kJpegDir + "exif-thumb.jpg").c_str(), &stamp, 0), SUCCESS);
    EXPECT_EQ(stamp.Width, 16);
    EXPECT_EQ(stamp.Height, 13);
    EXPECT_TRUE(testimg::Matches(testimg::Compare(stamp, ref, 2, testimg::Alpha::Ignore)));
    L_FreeBitmap(&stamp);
    EXPECT_EQ(L_GetCompressFileStamp((kJpegDir + "baseline-444.jpg").c_str(), &stamp, 0),
              ERROR_NO_STAMP);
    EXPECT_FALSE(stamp.Flags.Allocated);

    // Motorola byte order, and an Exif block placed before the JFIF one.
    const std::vector<uint8_t> main = ReadFile(kJpegDir + "baseline-420.jpg");
    const std::vector<uint8_t> thumb = ReadFile(kJpegDir + "gray.jpg");
    const std::string dir = testimg::TempDir("jpeg");
    for (bool bigEndian : {false, true}) {
        WriteFile(dir + "/thumb.jpg", WithExifThumbnail(main, thumb, bigEndian));
        ASSERT_EQ(L_GetCompressFileStamp((dir + "/thumb.jpg").c_str(), &stamp, 0), SUCCESS)
            << bigEndian;
        EXPECT_EQ(stamp.BitsPerPixel, 8);
        EXPECT_EQ(stamp.Width, 45);
        L_FreeBitmap(&stamp);
        // The main image is untouched by the extra segment.
        BITMAPHANDLE b;
        ASSERT_EQ(L_LoadBitmap((dir + "/thumb.jpg").c_str(), &b, 0, ORDER_BGR), SUCCESS);
        const testimg::RefImage ref420 = testimg::ReadReference(kJpegDir + "baseline-420.ppm");
        EXPECT_TRUE(testimg::Matches(testimg::Compare(b, ref420, 2, testimg::Alpha::Ignore)));
        L_FreeBitmap(&b);
    }

    // Pointers out of the segment, or a thumbnail that is not JPEG, give no stamp.
    using Damage = void (*)(std::vector<uint8_t>&, bool);
    const Damage kDamage[] = {
        [](std::vector<uint8_t>& t, bool be) { Store32(t, 4, 0xFFFFFFF0u, be); }, // IFD0 offset
        [](std::vector<uint8_t>& t, bool be) {
            Store32(t, 22, uint32_t(t.size()), be);
        }, // IFD1 offset
        [](std::vector<uint8_t>& t, bool be) {
            Store32(t, 48, uint32_t(t.size()) - 8, be);
        }, // thumbnail offset
        [](std::vector<uint8_t>& t, bool be) {
            Store32(t, 60, 0x7FFFFFFFu, be);
        },                                                                  // thumbnail length
        [](std::vector<uint8_t>& t, bool be) { t[36 + (be ? 1 : 0)] = 1; }, // uncompressed
        [](std::vector<uint8_t>& t, bool) { t[26] = t[27] = 0xFF; },        // 65535 entries
    };
    for (size_t i = 0; i < std::size(kDamage); ++i)
        for (bool bigEndian : {false, true}) {
            WriteFile(dir + "/damaged.jpg", WithExifThumbnail(main, thumb, bigEndian, kDamage[i]));
            EXPECT_EQ(L_GetCompressFileStamp((dir + "/damaged.jpg").c_str(), &stamp, 0),
                      ERROR_NO_STAMP)
                << "damage " << i << (bigEndian ? " big-endian" : "");
        }
    EXPECT_EQ(
        L_GetCompressFileStamp((kMalformedDir + "jpeg-exif-bad-offset.jpg").c_str(), &stamp, 0),
        ERROR_NO_STAMP);
}

TEST(JpegCodec, HugeDeclaredSizesAreRefusedBeforeDecoding) {
    BITMAPHANDLE b;
    EXPECT_EQ(L_LoadBitmap((kMalformedDir + "jpeg-65535x65535.jpg").c_str(), &b, 0, ORDER_BGR),
              ERROR_INV_RANGE);
    // Within what JPEG allows but beyond our limits.
    std::vector<uint8_t> bytes = ReadFile(kJpegDir + "baseline-444.jpg");
    size_t sof = 2;
    while (sof + 9 < bytes.size() && !(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC0)) ++sof;
    ASSERT_LT(sof + 9, bytes.size());
    bytes[sof + 5] = 40000 >> 8, bytes[sof + 6] = 40000 & 0xFF;
    bytes[sof + 7] = 30000 >> 8, bytes[sof + 8] = 30000 & 0xFF;
    FILEINFO info;
    ASSERT_EQ(L_FileInfoMemory(bytes.data(), bytes.size(), &info), SUCCESS);
    EXPECT_EQ(info.Width, 30000);
    EXPECT_EQ(L_LoadBitmapMemory(bytes.data(), &b, 0, ORDER_BGR, bytes.size()), ERROR_INV_RANGE);
    EXPECT_FALSE(b.Flags.Allocated);
    testimg::ExpectLoadsOrFails(ReadFile(kMalformedDir + "jpeg-truncated-progressive.jpg"),
                                "truncated progressive");
}

} // namespace
