// MacPaint, GEM and Microsoft Paint: files netpbm writes or reads decode to the pixels it
// sees, what we write comes back unchanged, and damaged files fail cleanly or open in part.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace {

const std::string kData = std::string(QUILLO_TEST_DATA) + "/mono/";

TEST(MonoCodecs, FilesDecodeToThePixelsNetpbmSees) {
    struct Fixture {
        const char *file, *reference;
        int format, bpp, xdpi;
    };
    const Fixture fixtures[] = {
        {"netpbm.mac", "netpbm.pbm", FILE_MACPAINT, 1, 72},
        {"macbinary.mac", "netpbm.pbm", FILE_MACPAINT, 1, 72},
        {"netpbm1.img", "netpbm1.pbm", FILE_GEM, 1, 68}, // 372 microns a pixel
        {"planes4.img", "planes4.ppm", FILE_GEM, 4, 299},
        {"v1.msp", "v1.pbm", FILE_MSP, 1, 0},
        {"v2.msp", "v2.pbm", FILE_MSP, 1, 0},
    };
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.file);
        const std::string path = kData + f.file;
        FILEINFO info;
        ASSERT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS);
        EXPECT_EQ(info.Format, f.format);
        EXPECT_EQ(info.BitsPerPixel, f.bpp);
        tb::Bmp b;
        ASSERT_EQ(L_LoadBitmap(path.c_str(), &b.b, 0, ORDER_BGR), SUCCESS);
        EXPECT_EQ(L_GetLoadWarnings(), 0u);
        EXPECT_EQ(b.b.BitsPerPixel, f.bpp);
        if (f.xdpi) {
            EXPECT_EQ(b.b.XResolution, f.xdpi);
        }
        const testimg::RefImage ref = testimg::ReadReference(kData + f.reference);
        ASSERT_TRUE(ref.valid());
        EXPECT_TRUE(testimg::Matches(testimg::Compare(b.b, ref, 0, testimg::Alpha::Compare)));
    }
}

// A black and white picture, black at index `black`.
tb::Bmp Mono(int w, int h, int black, uint32_t seed) {
    tb::Bmp b;
    b.b = testimg::RandomPicture(w, h, 1, seed, seed % 2 ? BOTTOM_LEFT : TOP_LEFT, true);
    b.b.pPalette[black] = RGBQUAD{0, 0, 0, 0};
    b.b.pPalette[1 - black] = RGBQUAD{255, 255, 255, 0};
    return b;
}

TEST(MonoCodecs, SavedFilesComeBackUnchanged) {
    for (int format : {FILE_MACPAINT, FILE_GEM, FILE_MSP}) {
        for (int black : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << "format " << format << " black " << black);
            // Wide enough for long runs and bit strings, odd so the last byte is partial;
            // MacPaint's page is fixed, so its picture fills one.
            const int w = format == FILE_MACPAINT ? 576 : 301;
            const int h = format == FILE_MACPAINT ? 720 : 9;
            tb::Bmp src = Mono(w, h, black, uint32_t(format + black));
            // Repeated rows, longer than one repeat item holds.
            for (int y = 2; y < 5; ++y)
                std::memcpy(L_RowPtr(&src.b, y), L_RowPtr(&src.b, 1), size_t(src.b.BytesPerLine));
            const std::vector<uint8_t> file = testimg::SaveToMemory(&src.b, format);
            FILEINFO info;
            ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
            EXPECT_EQ(info.Format, format);
            tb::Bmp back;
            ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
            EXPECT_EQ(L_GetLoadWarnings(), 0u);
            EXPECT_TRUE(
                testimg::Matches(testimg::Compare(back.b, src.b, 0, testimg::Alpha::Compare)));
        }
    }
    // GEM repeats of more rows than one item counts.
    tb::Bmp tall(8, 600, 1);
    const std::vector<uint8_t> gem = testimg::SaveToMemory(&tall.b, FILE_GEM);
    tb::Bmp back;
    ASSERT_EQ(L_LoadBitmapMemory(gem.data(), &back.b, 0, ORDER_BGR, gem.size()), SUCCESS);
    EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, tall.b, 0, testimg::Alpha::Compare)));
    EXPECT_LT(gem.size(), 40u);
    // Colour has to be asked for at one bit.
    tb::Bmp colour = Mono(8, 8, 0, 1);
    tb::Bmp rgb(8, 8, 24);
    int rc = 0;
    for (int format : {FILE_MACPAINT, FILE_GEM, FILE_MSP}) {
        testimg::SaveToMemory(&rgb.b, format, 0, 0, &rc);
        EXPECT_EQ(rc, ERROR_BITPERPIXEL);
        EXPECT_FALSE(testimg::SaveToMemory(&rgb.b, format, 1).empty());
    }
}

// MacPaint pages are 576 x 720: a smaller picture sits top left on white, a larger is cut.
TEST(MacPaintCodec, PicturesOfOtherSizesFillThePage) {
    tb::Bmp small = Mono(100, 50, 1, 7), large = Mono(600, 730, 0, 8);
    for (tb::Bmp* src : {&small, &large}) {
        const std::vector<uint8_t> file = testimg::SaveToMemory(&src->b, FILE_MACPAINT);
        tb::Bmp back;
        ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
        ASSERT_EQ(back.b.Width, 576);
        ASSERT_EQ(back.b.Height, 720);
        for (int y = 0; y < 720; y += 7)
            for (int x = 0; x < 576; x += 3) {
                const bool inside = x < src->b.Width && y < src->b.Height;
                const uint32_t want = inside ? L_GetPixelColor(&src->b, y, x) : RGB(255, 255, 255);
                ASSERT_EQ(L_GetPixelColor(&back.b, y, x), want) << x << "," << y;
            }
    }
}

std::vector<uint8_t> Be16(std::initializer_list<unsigned> words) {
    std::vector<uint8_t> v;
    for (unsigned w : words) v.insert(v.end(), {uint8_t(w >> 8), uint8_t(w)});
    return v;
}

std::vector<uint8_t> Gem(unsigned planes, unsigned w, unsigned h, std::vector<uint8_t> body) {
    const std::vector<uint8_t> head = Be16({1, 8, planes, 2, 85, 85, w, h});
    body.insert(body.begin(), head.begin(), head.end());
    return body;
}

std::vector<uint8_t> Msp(const char* key, unsigned w, unsigned h, std::vector<uint8_t> body) {
    std::vector<uint8_t> head(32, 0);
    std::memcpy(head.data(), key, 4);
    head[4] = uint8_t(w);
    head[5] = uint8_t(w >> 8);
    head[6] = uint8_t(h);
    head[7] = uint8_t(h >> 8);
    body.insert(body.begin(), head.begin(), head.end());
    return body;
}

std::vector<uint8_t> MacPaint(std::vector<uint8_t> body) {
    body.insert(body.begin(), 512, 0);
    body[3] = 2;
    return body;
}

TEST(MonoCodecs, DamagedFilesFailCleanlyOrOpenWithWhatTheyHold) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int rc;
        int first = -1, last = -1; // top left and bottom right pixels as stored
        bool truncated = false;
    };
    // MacPaint rows of 72 bytes: a run of 72 bytes of 0xFF is 0xB9 0xFF.
    std::vector<uint8_t> black720;
    for (int i = 0; i < 720; ++i) black720.insert(black720.end(), {0xB9, 0xFF});
    black720.insert(black720.end(), {0x81, 0xFF});
    const Case cases[] = {
        // GEM
        {"gem: 65535 x 65535 from a few bytes", Gem(1, 65535, 65535, {0x85}), ERROR_INV_RANGE},
        {"gem: nine planes", Gem(9, 8, 2, {0x81, 0x81}), ERROR_BITPERPIXEL},
        {"gem: header longer than the file", Be16({1, 400, 1, 2, 85, 85, 8, 2}), ERROR_FILE_FORMAT},
        {"gem: bit string past the end", Gem(1, 8, 2, {0x81, 0x80, 9, 1}), SUCCESS, 1, 0, true},
        {"gem: solid run longer than the row", Gem(1, 8, 2, {0xFF, 0x01}), SUCCESS, 1, 0},
        {"gem: pattern cut", Gem(1, 16, 1, {0, 4, 0xFF}), ERROR_FILE_FORMAT},
        {"gem: repeat of more rows than the picture has", Gem(1, 8, 2, {0, 0, 0xFF, 200, 0x81}),
         SUCCESS, 1, 1},
        // Microsoft Paint
        {"msp: 65535 x 65535 from a few bytes", Msp("LinS", 65535, 65535, {1, 0, 1, 0}),
         ERROR_INV_RANGE},
        {"msp: zero height", Msp("DanM", 8, 0, {0}), ERROR_FILE_FORMAT},
        {"msp: row table past the end", Msp("LinS", 8, 200, {1, 0}), ERROR_FILE_FORMAT},
        {"msp: second row's length past the end", Msp("LinS", 8, 2, {3, 0, 9, 0, 0, 1, 0}), SUCCESS,
         0, 1, true},
        {"msp: run longer than the row", Msp("LinS", 8, 1, {3, 0, 0, 99, 0}), SUCCESS, 0, 0},
        {"msp: literal cut by its row", Msp("LinS", 8, 1, {2, 0, 5, 0}), SUCCESS, 0, 0},
        {"msp: version 1 cut after a row", Msp("DanM", 8, 3, {0x00}), SUCCESS, 0, 1, true},
        // MacPaint
        {"macpaint: data ends in the third row", MacPaint({0xB9, 0xFF, 0x81, 0xFF}), SUCCESS, 1, 0,
         true},
        {"macpaint: runs across rows", MacPaint([&] {
             std::vector<uint8_t> v;
             for (int i = 0; i < 720 * 72 / 128 + 1; ++i) v.insert(v.end(), {0x81, 0xFF});
             v[0] = 0xB9; // the first row is whole, so the file is taken for MacPaint
             return v;
         }()),
         SUCCESS, 1, 1},
        {"macpaint: a run past the end of the page", MacPaint(black720), SUCCESS, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testimg::ExpectLoadsOrFails(c.file, c.what);
        tb::Bmp b;
        meter::Start();
        ASSERT_EQ(L_LoadBitmapMemory(c.file.data(), &b.b, 0, ORDER_BGR, c.file.size()), c.rc);
        // What a failure costs is the file's worth, not the picture its header claims.
        if (c.rc != SUCCESS) {
            EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
        }
        if (c.rc != SUCCESS) {
            EXPECT_EQ(b.b.Addr, nullptr);
            continue;
        }
        EXPECT_EQ(L_GetLoadWarnings(), c.truncated ? unsigned(LOADWARN_TRUNCATED) : 0u);
        EXPECT_EQ(tb::Raw(b.b, 0, 0), uint32_t(c.first));
        EXPECT_EQ(tb::Raw(b.b, b.b.Width - 1, b.b.Height - 1), uint32_t(c.last));
    }
}

} // namespace
