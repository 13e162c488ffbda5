// JPEG inside TIFF, CMYK and YCbCr TIFF, and the Exif types: each comes back from its own
// file at every depth it is saved at, carries its thumbnail as the file's stamp, reads
// like ImageMagick reads it, and damaged files fail cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BitmapInternal.h"
#include "TestImages.h"
#include "Toolkit.h"

namespace {

const std::string kDir = std::string(QUILLO_TEST_DATA) + "/tiffx/";

// Smooth colour fields: what the lossy types are made for.
BITMAPHANDLE Smooth(int width, int height, int bpp) {
    BITMAPHANDLE b;
    RGBQUAD ramp[256];
    for (int i = 0; i < 256; ++i) ramp[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, width, height, bpp, ORDER_BGR, ramp, TOP_LEFT),
              SUCCESS);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = L_RowPtr(&b, y);
        for (int x = 0; x < width; ++x) {
            const lt::BGRA c{uint8_t(x * 255 / width), uint8_t(y * 255 / height),
                             uint8_t((x + y) * 127 / (width + height) + 64),
                             uint8_t(255 - x * 200 / width)};
            lt::WritePixel(&b, row, x, bpp == 8 ? lt::BGRA{c.g, c.g, c.g, 255} : c, false);
        }
    }
    b.XResolution = 150;
    b.YResolution = 75;
    return b;
}

// The 4-byte value of `tag` in the directory at `dir` of a little-endian TIFF structure
// starting at `base`, or 0.
uint32_t TagValue(const std::vector<uint8_t>& t, size_t base, size_t dir, uint16_t tag) {
    auto u16 = [&](size_t p) { return uint32_t(t[base + p] | t[base + p + 1] << 8); };
    for (size_t i = 0, n = u16(dir); i < n; ++i)
        if (u16(dir + 2 + 12 * i) == tag)
            return u16(dir + 10 + 12 * i) | u16(dir + 12 + 12 * i) << 16;
    return 0;
}

// Whether the first directory points at an Exif directory that starts with ExifVersion.
bool HasExifDirectory(const std::vector<uint8_t>& t, size_t base) {
    const size_t ifd0 = size_t(t[base + 4] | t[base + 5] << 8 | t[base + 6] << 16);
    const uint32_t exif = TagValue(t, base, ifd0, 0x8769);
    return exif != 0 && base + exif + 14 <= t.size() &&
           TagValue(t, base, exif, 0x9000) == 0x32333230;
}

BITMAPHANDLE Load(const std::vector<uint8_t>& bytes, FILEINFO* info) {
    BITMAPHANDLE b;
    EXPECT_EQ(L_FileInfoMemory(bytes.data(), bytes.size(), info), SUCCESS);
    EXPECT_EQ(L_LoadBitmapMemory(bytes.data(), &b, 0, ORDER_BGR, bytes.size()), SUCCESS);
    return b;
}

TEST(ExifJtifCodec, EveryTypeComesBackAtEachOfItsDepths) {
    struct Case {
        int format, bpp;
        bool lossless;  // random pixels, exactly; otherwise a smooth picture, nearly
        int tolerance;  // for the smooth ones
        int readFormat; // the code the file reports
    };
    const Case cases[] = {
        {FILE_TIF_CMYK, 24, true, 0, FILE_TIF_CMYK},
        {FILE_TIFLZW_CMYK, 32, true, 0, FILE_TIFLZW_CMYK},
        {FILE_TIF_PACKBITS_CMYK, 24, true, 0, FILE_TIF_PACKBITS_CMYK},
        {FILE_TIF_PACKBITS_CMYK, 32, true, 0, FILE_TIF_PACKBITS_CMYK},
        {FILE_EXIF, 24, true, 0, FILE_EXIF},
        {FILE_TIF_YCC, 24, false, 2, FILE_TIF_YCC},
        {FILE_TIFLZW_YCC, 24, false, 2, FILE_TIFLZW_YCC},
        {FILE_TIF_PACKBITS_YCC, 24, false, 2, FILE_TIF_PACKBITS_YCC},
        {FILE_EXIF_YCC, 24, false, 4, FILE_EXIF_YCC},
        {FILE_JTIF, 24, false, 3, FILE_JTIF},
        {FILE_JTIF, 8, false, 2, FILE_JTIF},
        {FILE_LEAD2JTIF, 24, false, 4, FILE_LEAD2JTIF},
        {FILE_LEAD1JTIF, 24, false, 4, FILE_LEAD1JTIF},
        {FILE_EXIF_JPEG, 24, false, 4, FILE_EXIF_JPEG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + " at " + std::to_string(c.bpp));
        // Odd sizes: a last chroma unit short of pixels, strips and JPEG blocks cut short.
        BITMAPHANDLE src =
            c.lossless ? testimg::RandomPicture(67, 41, c.bpp, c.format) : Smooth(67, 41, c.bpp);
        const std::vector<uint8_t> bytes = testimg::SaveToMemory(&src, c.format, c.bpp);
        FILEINFO info;
        BITMAPHANDLE back = Load(bytes, &info);
        EXPECT_EQ(info.Format, c.readFormat);
        EXPECT_EQ(info.BitsPerPixel, c.bpp);
        const bool exif =
            c.format == FILE_EXIF || c.format == FILE_EXIF_YCC || c.format == FILE_EXIF_JPEG;
        EXPECT_TRUE(!exif || HasExifDirectory(bytes, c.format == FILE_EXIF_JPEG ? 12 : 0));
        EXPECT_EQ(back.BitsPerPixel, c.bpp);
        EXPECT_EQ(back.XResolution, 150);
        EXPECT_EQ(back.YResolution, 75);
        EXPECT_TRUE(testimg::Matches(
            testimg::Compare(back, src, c.lossless ? 0 : c.tolerance, testimg::Alpha::Compare)));
        L_FreeBitmap(&back);
        L_FreeBitmap(&src);
    }
    // The types hold only their depths; other depths are converted by the caller.
    BITMAPHANDLE gray = Smooth(8, 8, 8);
    int rc = SUCCESS;
    for (int format : {FILE_TIF_CMYK, FILE_TIF_YCC, FILE_EXIF, FILE_EXIF_JPEG}) {
        testimg::SaveToMemory(&gray, format, 8, 0, &rc);
        EXPECT_EQ(rc, ERROR_BITPERPIXEL) << format;
    }
    L_FreeBitmap(&gray);
}

// The stamp of a file saved as `format` from a picture of width x height.
int StampOf(int format, int width, int height, BITMAPHANDLE* stamp, BITMAPHANDLE* shrunk) {
    BITMAPHANDLE src = Smooth(width, height, 24);
    const std::vector<uint8_t> bytes = testimg::SaveToMemory(&src, format, 24);
    const std::string path = testimg::TempDir("stamp") + "/f";
    testimg::WriteFile(path, bytes);
    const int rc = L_GetCompressFileStamp(path.c_str(), stamp, 0);
    if (rc == SUCCESS) {
        L_ResampleBitmap(&src, stamp->Width, stamp->Height);
        *shrunk = src;
    } else {
        L_FreeBitmap(&src);
    }
    return rc;
}

TEST(ExifJtifCodec, ExifThumbnailsAreTheFileStamps) {
    struct Case {
        int format, width, height, stampWidth, stampHeight, tolerance;
    };
    for (const Case& c :
         {Case{FILE_EXIF, 400, 300, 160, 120, 1}, Case{FILE_EXIF_YCC, 100, 300, 40, 120, 1},
          Case{FILE_EXIF_JPEG, 640, 200, 160, 50, 6}, Case{FILE_EXIF_JPEG, 30, 20, 30, 20, 10}}) {
        SCOPED_TRACE(c.format);
        BITMAPHANDLE stamp, shrunk;
        ASSERT_EQ(StampOf(c.format, c.width, c.height, &stamp, &shrunk), SUCCESS);
        EXPECT_EQ(stamp.Width, c.stampWidth);
        EXPECT_EQ(stamp.Height, c.stampHeight);
        EXPECT_TRUE(
            testimg::Matches(testimg::Compare(stamp, shrunk, c.tolerance, testimg::Alpha::Ignore)));
        L_FreeBitmap(&stamp);
        L_FreeBitmap(&shrunk);
    }
    BITMAPHANDLE stamp, shrunk;
    EXPECT_EQ(StampOf(FILE_TIF, 40, 30, &stamp, &shrunk), ERROR_NO_STAMP);
    EXPECT_EQ(StampOf(FILE_JTIF, 40, 30, &stamp, &shrunk), ERROR_NO_STAMP);
}

TEST(ExifJtifCodec, ImageMagickAndWeReadTheSameFiles) {
    struct Fixture {
        const char* file;
        const char* reference;
        int format, bpp, tolerance;
    };
    // im-*: written by ImageMagick; ours-*: written by us and decoded by ImageMagick.
    const Fixture fixtures[] = {
        {"im-cmyk.tif", "im-cmyk.ppm", FILE_TIFLZW_CMYK, 24, 1},
        {"im-cmyka.tif", "im-cmyka.pam", FILE_TIF_CMYK, 32, 1},
        {"im-jpeg-rgb.tif", "im-jpeg-rgb.ppm", FILE_JTIF, 24, 0},
        {"im-jpeg-gray.tif", "im-jpeg-gray.pgm", FILE_JTIF, 8, 0},
        {"im-ycbcr.tif", "im-ycbcr.ppm", FILE_TIF_YCC, 24, 1},
        {"ours-cmyk.tif", "ours-cmyk.ppm", FILE_TIFLZW_CMYK, 24, 1},
        {"ours-cmyka.tif", "ours-cmyka.pam", FILE_TIF_PACKBITS_CMYK, 32, 1},
        {"ours-ycbcr.tif", "ours-ycbcr.ppm", FILE_TIFLZW_YCC, 24, 1},
        {"ours-jtif-444.jtf", "ours-jtif-444.ppm", FILE_JTIF, 24, 0},
        {"ours-jtif-422.jtf", "ours-jtif-422.ppm", FILE_LEAD2JTIF, 24, 0},
        {"ours-jtif-420.jtf", "ours-jtif-420.ppm", FILE_LEAD1JTIF, 24, 0},
        {"ours-jtif-gray.jtf", "ours-jtif-gray.pgm", FILE_JTIF, 8, 0},
        {"ours-exif.tif", "ours-exif.ppm", FILE_EXIF, 24, 0},
        {"ours-exif-ycbcr.tif", "ours-exif-ycbcr.ppm", FILE_EXIF_YCC, 24, 1},
        {"ours-exif.jpg", "ours-exif-jpeg.ppm", FILE_EXIF_JPEG, 24, 0},
    };
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.file);
        FILEINFO info;
        BITMAPHANDLE b = Load(testimg::ReadFile(kDir + f.file), &info);
        EXPECT_EQ(info.Format, f.format);
        EXPECT_EQ(b.BitsPerPixel, f.bpp);
        const testimg::RefImage ref = testimg::ReadReference(kDir + f.reference);
        ASSERT_TRUE(ref.valid());
        EXPECT_TRUE(testimg::Matches(
            testimg::Compare(b, ref, f.tolerance, testimg::Alpha::WhenBothHaveIt)));
        L_FreeBitmap(&b);
    }
}

// Offset of the directory after the first one of a little-endian TIFF structure.
size_t SecondDirectory(const std::vector<uint8_t>& t, size_t base = 0) {
    auto u16 = [&](size_t p) { return size_t(t[base + p] | t[base + p + 1] << 8); };
    auto u32 = [&](size_t p) { return u16(p) | u16(p + 2) << 16; };
    const size_t ifd0 = u32(4);
    return u32(ifd0 + 2 + 12 * u16(ifd0));
}

// Sets the 4-byte value of `tag` in the directory at `dir` (offsets from `base`).
void Patch(std::vector<uint8_t>& t, size_t base, size_t dir, uint16_t tag, uint32_t value) {
    const size_t count = size_t(t[base + dir] | t[base + dir + 1] << 8);
    for (size_t i = 0; i < count; ++i) {
        uint8_t* e = &t[base + dir + 2 + 12 * i];
        if ((e[0] | e[1] << 8) != tag) continue;
        const bool shortValue = e[2] == 3;
        for (int k = 0; k < (shortValue ? 2 : 4); ++k) e[8 + k] = uint8_t(value >> (8 * k));
        return;
    }
    ADD_FAILURE() << "no tag " << tag;
}

int StampOfBytes(const std::vector<uint8_t>& bytes) {
    const std::string path = testimg::TempDir("hostile-stamp") + "/f";
    testimg::WriteFile(path, bytes);
    BITMAPHANDLE b;
    const int rc = L_GetCompressFileStamp(path.c_str(), &b, 0);
    if (rc == SUCCESS) L_FreeBitmap(&b);
    EXPECT_FALSE(rc == SUCCESS && b.Flags.Allocated && b.Width > 1000);
    return rc;
}

TEST(ExifJtifCodec, DamagedThumbnailsAndPicturesFailCleanly) {
    BITMAPHANDLE src = Smooth(200, 150, 24);
    // An Exif TIFF whose thumbnail claims 65535 x 65535 pixels, or is cut off: the stamp
    // is refused, the picture still opens.
    const std::vector<uint8_t> tiff = testimg::SaveToMemory(&src, FILE_EXIF, 24);
    const size_t thumbDir = SecondDirectory(tiff);
    for (uint16_t tag : {uint16_t(256), uint16_t(257), uint16_t(273)}) {
        SCOPED_TRACE(tag);
        std::vector<uint8_t> bad = tiff;
        Patch(bad, 0, thumbDir, tag, tag == 273 ? uint32_t(bad.size() - 10) : 65535u);
        EXPECT_NE(StampOfBytes(bad), SUCCESS);
        testimg::ExpectLoadsOrFails(bad, "thumbnail");
        BITMAPHANDLE b;
        EXPECT_EQ(L_LoadBitmapMemory(bad.data(), &b, 0, ORDER_BGR, bad.size()), SUCCESS);
        L_FreeBitmap(&b);
    }
    // An Exif JPEG whose thumbnail lies past its block, or its second directory past the end.
    const std::vector<uint8_t> jpeg = testimg::SaveToMemory(&src, FILE_EXIF_JPEG, 24);
    const size_t base = 2 + 4 + 6; // SOI, APP1 marker and length, "Exif\0\0"
    const size_t jpegDir = SecondDirectory(jpeg, base);
    for (uint16_t tag : {uint16_t(0x0201), uint16_t(0x0202)}) {
        std::vector<uint8_t> bad = jpeg;
        Patch(bad, base, jpegDir, tag, 0xFFFFFF00u);
        EXPECT_EQ(StampOfBytes(bad), ERROR_NO_STAMP) << tag;
    }
    std::vector<uint8_t> bad = jpeg;
    const size_t ifd0 = size_t(bad[base + 4] | bad[base + 5] << 8);
    const size_t next = base + ifd0 + 2 + 12 * size_t(bad[base + ifd0] | bad[base + ifd0 + 1] << 8);
    bad[next + 3] = 0x7F;
    EXPECT_EQ(StampOfBytes(bad), ERROR_NO_STAMP);
    // Cut-off JPEG-coded and CMYK pictures keep what they hold or fail cleanly.
    for (int format : {FILE_LEAD1JTIF, FILE_TIFLZW_CMYK, FILE_EXIF_YCC}) {
        const std::vector<uint8_t> whole = testimg::SaveToMemory(&src, format, 24);
        for (size_t keep : {size_t(16), whole.size() / 3, whole.size() - 7})
            testimg::ExpectLoadsOrFails(std::vector<uint8_t>(whole.begin(), whole.begin() + keep),
                                        std::to_string(format) + " cut at " + std::to_string(keep));
    }
    L_FreeBitmap(&src);
}

} // namespace
