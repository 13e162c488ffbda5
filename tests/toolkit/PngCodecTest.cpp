// PNG reading and writing: every colour type and depth decodes to the pixels another
// program sees, interlaced files report their passes, what we write comes back unchanged,
// and hostile or cut-short files are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BitmapInternal.h"
#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"

namespace {

const std::string kPngDir = std::string(QUILLO_TEST_DATA) + "/png/";

using testimg::ReadFile;

struct Fixture {
    const char* name;
    int bpp; // of the decoded bitmap
    bool grayPalette;
};

const Fixture kFixtures[] = {
    {"gray1", 1, true},
    {"gray2", 4, true},
    {"gray4", 4, true},
    {"gray8", 8, true},
    {"gray16", 8, true},
    {"gray2-trns", 32, false},
    {"gray8-trns", 32, false},
    {"graya8", 32, false},
    {"graya16", 32, false},
    {"palette1", 1, false},
    {"palette2", 4, false},
    {"palette4", 4, false},
    {"palette8", 8, false},
    {"palette8-trns", 32, false},
    {"rgb8", 24, false},
    {"rgb16", 24, false},
    {"rgb8-trns", 32, false},
    {"rgb16-trns", 32, false},
    {"rgba8", 32, false},
    {"rgba16", 32, false},
    {"rgb8-300dpi", 24, false},
    {"rgb8-interlaced", 24, false},
    {"rgba16-interlaced", 32, false},
    {"gray2-interlaced", 4, true},
    {"palette4-interlaced", 4, false},
    {"palette8-trns-interlaced", 32, false},
    {"rgb8-interlaced-1x1", 24, false},
    {"gray2-interlaced-3x2", 4, true},
};

TEST(PngCodec, EveryColourTypeAndDepthDecodesToThePixelsAnotherProgramSees) {
    for (const Fixture& f : kFixtures) {
        SCOPED_TRACE(f.name);
        const std::string path = kPngDir + f.name + ".png";
        FILEINFO info;
        ASSERT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS);
        EXPECT_EQ(info.Format, FILE_PNG);
        EXPECT_EQ(info.BitsPerPixel, f.bpp);
        EXPECT_EQ(info.Passes, std::strstr(f.name, "interlaced") ? 7 : 1);
        BITMAPHANDLE b;
        ASSERT_EQ(L_LoadBitmap(path.c_str(), &b, 0, ORDER_BGR), SUCCESS);
        EXPECT_EQ(b.BitsPerPixel, f.bpp);
        const testimg::RefImage ref = testimg::ReadReference(kPngDir + f.name + ".pam");
        ASSERT_TRUE(ref.valid());
        EXPECT_TRUE(testimg::Matches(testimg::Compare(b, ref, 0, testimg::Alpha::Compare)));
        if (f.grayPalette) {
            // Gray files give an ordered gray palette, so the program treats them as gray.
            const int n = 1 << b.BitsPerPixel;
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(b.pPalette[i].rgbRed, i * 255 / (n - 1)) << i;
                EXPECT_EQ(b.pPalette[i].rgbBlue, b.pPalette[i].rgbRed) << i;
            }
        }
        L_FreeBitmap(&b);
    }
}

TEST(PngCodec, ResolutionComesFromThePhysicalSizeChunk) {
    BITMAPHANDLE b;
    ASSERT_EQ(L_LoadBitmap((kPngDir + "rgb8-300dpi.png").c_str(), &b, 0, ORDER_BGR), SUCCESS);
    EXPECT_EQ(b.XResolution, 300);
    EXPECT_EQ(b.YResolution, 300);
    L_FreeBitmap(&b);
    // Without one the configured default applies.
    EXTFILEOPTIONS saved, opts;
    L_GetExtFileOption(&saved);
    opts.XResolution = 123;
    opts.YResolution = 45;
    ASSERT_EQ(L_SetExtFileOption(&opts), SUCCESS);
    ASSERT_EQ(L_LoadBitmap((kPngDir + "rgb8.png").c_str(), &b, 0, ORDER_BGR), SUCCESS);
    EXPECT_EQ(b.XResolution, 123);
    EXPECT_EQ(b.YResolution, 45);
    L_FreeBitmap(&b);
    L_SetExtFileOption(&saved);
}

// ---------------------------------------------------------------------------
// Writing.

// The colour type and PLTE entry count of an encoded PNG.
void Describe(const uint8_t* d, size_t size, int* colourType, int* paletteEntries) {
    *colourType = d[25];
    *paletteEntries = 0;
    for (size_t p = 8; p + 8 <= size;) {
        uint32_t n = (uint32_t(d[p]) << 24) | (d[p + 1] << 16) | (d[p + 2] << 8) | d[p + 3];
        if (std::memcmp(d + p + 4, "PLTE", 4) == 0) *paletteEntries = int(n / 3);
        p += 12 + n;
    }
}

TEST(PngCodec, SavedFilesComeBackUnchangedAtEveryDepth) {
    for (int bpp : {1, 4, 8, 24, 32}) {
        for (bool gray : {false, true}) {
            if (gray && bpp > 8) continue;
            SCOPED_TRACE("bpp " + std::to_string(bpp) + (gray ? " gray" : ""));
            tb::Bmp src, back;
            src.b = testimg::RandomPicture(29, 11, bpp, uint32_t(bpp), TOP_LEFT, gray);
            const std::vector<uint8_t> file = testimg::SaveToMemory(&src.b, FILE_PNG);
            int colourType = 0, entries = 0;
            Describe(file.data(), file.size(), &colourType, &entries);
            if (bpp <= 8) {
                // A gray ramp is stored as a gray image; any other palette in full.
                EXPECT_EQ(colourType, gray ? 0 : 3);
                EXPECT_EQ(entries, gray ? 0 : 1 << bpp);
            }
            ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
            testimg::ExpectSameBitmap(src.b, back.b);
            EXPECT_TRUE(back.b.XResolution == 150 && back.b.YResolution == 75);
        }
    }
    tb::Bmp b; // PNG has no 16-bit pixels of this kind
    b.b = testimg::RandomPicture(4, 4, 16, 3);
    uint8_t* buf = nullptr;
    size_t size = 0;
    EXPECT_EQ(L_SaveBitmapMemory(&buf, &b.b, FILE_PNG, 0, 0, &size), ERROR_BITPERPIXEL);
    EXPECT_EQ(buf, nullptr);
}

// ---------------------------------------------------------------------------
// Damaged and hostile files.

TEST(PngCodec, HugeDeclaredSizesAreRefusedBeforeAllocating) {
    std::vector<uint8_t> file =
        ReadFile(std::string(QUILLO_TEST_DATA) + "/malformed/png-65535x65535.png");
    ASSERT_FALSE(file.empty());
    BITMAPHANDLE b;
    FILEINFO info;
    ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
    EXPECT_EQ(info.Width, 65535);
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), ERROR_INV_RANGE);
    EXPECT_EQ(b.Addr, nullptr);

    const L_LIMITS saved = L_GetLimits();
    L_SetLimits(L_LIMITS{16, 1 << 20}); // narrower than the fixtures
    EXPECT_EQ(L_LoadBitmap((kPngDir + "rgb8.png").c_str(), &b, 0, ORDER_BGR), ERROR_INV_RANGE);
    L_SetLimits(L_LIMITS{1000, 300}); // fewer pixels than 23 x 17
    EXPECT_EQ(L_LoadBitmap((kPngDir + "rgba8.png").c_str(), &b, 0, ORDER_BGR), ERROR_INV_RANGE);
    L_SetLimits(saved);
}

TEST(PngCodec, CorruptImageDataIsAFormatError) {
    BITMAPHANDLE b;
    for (const char* name : {"png-idat-bad-crc.png", "png-idat-truncated.png"}) {
        std::vector<uint8_t> file = ReadFile(std::string(QUILLO_TEST_DATA) + "/malformed/" + name);
        ASSERT_FALSE(file.empty()) << name;
        EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT)
            << name;
        EXPECT_EQ(b.Addr, nullptr) << name;
    }
}

// A file cut short loads with a warning or is refused; only checksums and the end chunk,
// which follow the last pixel, may be missing from a file that loads without one.
TEST(PngCodec, CutShortFilesLoadWithAWarningOrAreRefused) {
    for (const Fixture& f : kFixtures) {
        const std::vector<uint8_t> good = ReadFile(kPngDir + f.name + ".png");
        for (size_t n = 0; n < good.size(); n += 1 + n / 64) {
            const std::vector<uint8_t> cut(good.begin(),
                                           good.begin() + long(n)); // so sanitizers see overreads
            BITMAPHANDLE b;
            const int rc = L_LoadBitmapMemory(cut.data(), &b, 0, ORDER_BGR, n);
            if (rc == SUCCESS) L_FreeBitmap(&b);
            const bool warned = L_GetLoadWarnings() & LOADWARN_TRUNCATED;
            EXPECT_TRUE(rc == SUCCESS ? warned || n + 32 >= good.size() : rc < 0 && !b.Addr)
                << f.name << " cut at " << n;
        }
    }
}

} // namespace
