// CALS, .fxs and CCITT TIFF files: what ImageMagick writes opens with its pixels, what we write
// comes back with its format code, turned CALS pages stand upright, and hostile or damaged
// files fail cheaply or open in part.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace {

const std::string kFax = std::string(QUILLO_TEST_DATA) + "/fax/";
// Fax pages in our .fxs container: group 3 one- and two-dimensional.
constexpr int FILE_WINFAX_G3_1DIM = 70, FILE_WINFAX_G3_2DIM = 69;

std::vector<uint8_t> Save(BITMAPHANDLE& b, int format) {
    uint8_t* buf = nullptr;
    size_t n = 0;
    EXPECT_EQ(L_SaveBitmapMemory(&buf, &b, format, 1, 0, &n), SUCCESS) << format;
    std::vector<uint8_t> out(buf, buf + n);
    std::free(buf);
    return out;
}

TEST(FaxFiles, ImageMagicksFilesOpenWithItsPixels) {
    const testimg::RefImage want = testimg::ReadReference(kFax + "page.pam");
    ASSERT_TRUE(want.valid());
    const struct {
        const char* file;
        int format;
    } cases[] = {{"im.cal", FILE_CALS},
                 {"im-g4.tif", FILE_CCITT_GROUP4},
                 {"im-g3.tif", FILE_CCITT_GROUP3_1DIM}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<uint8_t> data = testimg::ReadFile(kFax + c.file);
        FILEINFO info;
        ASSERT_EQ(L_FileInfoMemory(data.data(), data.size(), &info), SUCCESS);
        EXPECT_EQ(info.Format, c.format);
        tb::Bmp b;
        ASSERT_EQ(L_LoadBitmapMemory(data.data(), &b.b, 0, ORDER_BGR, data.size()), SUCCESS);
        EXPECT_EQ(b.b.BitsPerPixel, 1);
        EXPECT_TRUE(testimg::Matches(testimg::Compare(b.b, want, 0, testimg::Alpha::Ignore)));
    }
}

TEST(FaxFiles, WhatWeWriteComesBackWhicheverPaletteOrderAndOnlyAtOneBit) {
    const RGBQUAD blackFirst[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    const RGBQUAD whiteFirst[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    for (const RGBQUAD* pal : {blackFirst, whiteFirst})
        for (int format :
             {int(FILE_CCITT), int(FILE_CCITT_GROUP3_1DIM), int(FILE_CCITT_GROUP3_2DIM),
              int(FILE_CCITT_GROUP4), int(FILE_CALS), FILE_WINFAX_G3_1DIM, FILE_WINFAX_G3_2DIM}) {
            SCOPED_TRACE(testing::Message()
                         << "format " << format << " black first " << (pal == blackFirst));
            tb::Bmp b(61, 17, 1, pal);
            tb::Randomize(b.b, unsigned(format));
            const std::vector<uint8_t> file = Save(b.b, format);
            FILEINFO info;
            ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
            EXPECT_EQ(info.Format, format);
            tb::Bmp back;
            ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
            EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, b.b, 0, testimg::Alpha::Ignore)));
        }
    tb::Bmp gray(8, 8, 8);
    uint8_t* buf = nullptr;
    size_t n = 0;
    EXPECT_EQ(L_SaveBitmapMemory(&buf, &gray.b, FILE_CALS, 8, 0, &n), ERROR_BITPERPIXEL);
    EXPECT_EQ(L_SaveBitmapMemory(&buf, &gray.b, FILE_CCITT_GROUP4, 8, 0, &n), ERROR_BITPERPIXEL);
    EXPECT_EQ(L_SaveBitmapMemory(&buf, &gray.b, FILE_WINFAX_G3_1DIM, 8, 0, &n), ERROR_BITPERPIXEL);
}

// Our own CALS file of a page with one black pixel, with its header's records rewritten.
std::vector<uint8_t> CalsWith(int px, int py, const char* record, const char* value) {
    const RGBQUAD pal[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    tb::Bmp b(5, 3, 1, pal);
    std::memset(b.b.Addr, 0, b.b.Size);
    L_RowPtr(&b.b, py)[0] |= uint8_t(0x80 >> px);
    std::vector<uint8_t> file = Save(b.b, FILE_CALS);
    for (size_t at = 0; record && at < 2048; at += 128)
        if (std::memcmp(&file[at], record, std::strlen(record)) == 0) {
            std::string text = std::string(record) + ": " + value;
            text.resize(128, ' ');
            std::memcpy(&file[at], text.data(), 128);
        }
    return file;
}

TEST(FaxFiles, CalsPagesStoredTurnedOrMirroredOpenUpright) {
    // The stored page is 5 pixels by 3 lines with pixel 1 of line 0 black.
    const struct {
        const char* orient;
        int width, height, x, y;
    } cases[] = {
        {"000,270", 5, 3, 1, 0}, // the usual
        {"180,270", 5, 3, 3, 0}, // pixels right to left
        {"000,090", 5, 3, 1, 2}, // lines bottom to top
        {"090,000", 3, 5, 0, 3}, // pixels upwards, lines left to right
        {"270,180", 3, 5, 2, 1}, // pixels downwards, lines right to left
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orient);
        const std::vector<uint8_t> file = CalsWith(1, 0, "rorient", c.orient);
        tb::Bmp b;
        ASSERT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()), SUCCESS);
        ASSERT_EQ(b.b.Width, c.width);
        ASSERT_EQ(b.b.Height, c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                EXPECT_EQ(L_GetPixelColor(&b.b, y, x), x == c.x && y == c.y ? 0u : 0xFFFFFFu)
                    << x << "," << y;
    }
    tb::Bmp b;
    std::vector<uint8_t> file = CalsWith(1, 0, "rorient", "000,000");
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT);
    file = CalsWith(1, 0, "rtype", "2");
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()),
              ERROR_FEATURE_NOT_SUPPORTED);
}

TEST(FaxFiles, FxsHeadersThatLieAboutSizesFailCheaply) {
    const RGBQUAD pal[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    tb::Bmp page(40, 30, 1, pal);
    tb::Randomize(page.b, 7);
    const std::vector<uint8_t> good = Save(page.b, FILE_WINFAX_G3_1DIM);
    auto with = [&](size_t at, uint32_t v) {
        std::vector<uint8_t> f = good;
        for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
        return f;
    };
    tb::Bmp b;
    // A page of 65535 x 65535 over a few hundred bytes.
    std::vector<uint8_t> file = with(8, 65535);
    file[12] = file[13] = 0xff;
    meter::Start();
    EXPECT_NE(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()), SUCCESS);
    EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
    // A zero width, and a coding we do not know.
    file = with(8, 0);
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT);
    file = good;
    file[5] = 3;
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT);
    // The page cut in the middle opens with what it holds and a warning.
    ASSERT_EQ(L_LoadBitmapMemory(good.data(), &b.b, 0, ORDER_BGR, 28 + (good.size() - 28) / 2),
              SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
}

TEST(FaxFiles, HostileAndDamagedCalsFilesFailCheaplyOrOpenInPart) {
    tb::Bmp b;
    // A header claiming 65535 x 65535 over a few bytes of data.
    std::vector<uint8_t> file = CalsWith(0, 0, "rpelcnt", "065535,065535");
    meter::Start();
    EXPECT_NE(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()), SUCCESS);
    EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
    // The header cut short, and a header naming no size.
    file = CalsWith(0, 0, nullptr, nullptr);
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, 1500), ERROR_FILE_FORMAT);
    file = CalsWith(0, 0, "rpelcnt", "NONE");
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT);
    // Group 4 data whose first row runs past its end: horizontal mode, white 4, black 3 on a
    // row of 5.
    file = CalsWith(0, 0, nullptr, nullptr);
    file.resize(2048);
    file.insert(file.end(), {0b00110111, 0b00000000, 0, 0});
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT);
    // ImageMagick's page cut in the middle opens with gray below and a warning.
    file = testimg::ReadFile(kFax + "im.cal");
    ASSERT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 0, ORDER_BGR, 2048 + (file.size() - 2048) / 2),
              SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
    EXPECT_EQ(b.b.Height, 61);
}

} // namespace
