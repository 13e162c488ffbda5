// FlashPix: what we write comes back unchanged at both depths we save, with its resolution,
// through every resolution of the pyramid; damaged compound files and tile tables fail
// cleanly, a sector chain that loops among them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace {

uint32_t Get32(const std::vector<uint8_t>& d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 |
           uint32_t(d[at + 3]) << 24;
}
// Where `text` is in the bytes, or npos.
size_t Find(const std::vector<uint8_t>& d, const std::string& text) {
    auto it = std::search(d.begin(), d.end(), text.begin(), text.end(),
                          [](uint8_t a, char b) { return a == uint8_t(b); });
    return it == d.end() ? std::string::npos : size_t(it - d.begin());
}

} // namespace

TEST(FpxCodec, SavedPicturesComeBackUnchangedWithTheirResolution) {
    // One tile, a tile and a bit (two resolutions), and several tiles each way.
    for (int bpp : {8, 24}) {
        for (auto [w, h] : {std::pair{5, 3}, std::pair{65, 64}, std::pair{200, 131}}) {
            for (int format : {FILE_FPX, FILE_FPX_JPEG}) {
                SCOPED_TRACE(::testing::Message()
                             << bpp << " bits " << w << "x" << h << " code " << format);
                tb::Bmp src;
                src.b = testimg::RandomPicture(w, h, bpp, uint32_t(w + bpp), BOTTOM_LEFT,
                                               /*grayRamp=*/bpp == 8);
                const std::vector<uint8_t> file = testimg::SaveToMemory(&src.b, format);
                FILEINFO info;
                ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
                EXPECT_EQ(info.Format, FILE_FPX);
                EXPECT_EQ(info.BitsPerPixel, bpp);
                tb::Bmp back;
                ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()),
                          SUCCESS);
                EXPECT_EQ(L_GetLoadWarnings(), 0u);
                ASSERT_EQ(back.b.BitsPerPixel, bpp);
                EXPECT_EQ(back.b.XResolution, 150);
                EXPECT_EQ(back.b.YResolution, 75);
                if (format == FILE_FPX)
                    testimg::ExpectSameBitmap(back.b, src.b);
                else // JPEG at the best quality
                    EXPECT_TRUE(testimg::Matches(
                        testimg::Compare(back.b, src.b, 4, testimg::Alpha::Ignore)));
            }
        }
    }
    // An 8-bit picture in colour keeps its colours, as RGB.
    tb::Bmp pal;
    pal.b = testimg::RandomPicture(70, 9, 8, 7);
    const std::vector<uint8_t> file = testimg::SaveToMemory(&pal.b, FILE_FPX);
    tb::Bmp back;
    ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
    EXPECT_EQ(back.b.BitsPerPixel, 24);
    EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, pal.b, 0, testimg::Alpha::Ignore)));
    // Depths the format has no place for.
    int rc = 0;
    tb::Bmp mono(8, 8, 1);
    testimg::SaveToMemory(&mono.b, FILE_FPX, 1, 0, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
    // A smaller quality factor makes a smaller file.
    tb::Bmp photo;
    photo.b = testimg::RandomPicture(128, 128, 24, 5);
    EXPECT_LT(testimg::SaveToMemory(&photo.b, FILE_FPX_JPEG, 0, 200).size(),
              testimg::SaveToMemory(&photo.b, FILE_FPX_JPEG, 0, 0).size() / 2);
}

TEST(FpxCodec, DamagedFilesFailCleanly) {
    tb::Bmp src;
    src.b = testimg::RandomPicture(300, 200, 24, 3);
    const std::vector<uint8_t> good = testimg::SaveToMemory(&src.b, FILE_FPX);

    // A sector chain that loops: every FAT entry that continues a chain points back at its own
    // sector in turn; each such file loads or fails without hanging or reading past the end.
    const unsigned shift = good[30] | good[31] << 8;
    const size_t sector = size_t(1) << shift;
    const size_t fat = (size_t(Get32(good, 76)) + 1) * sector;
    int loops = 0;
    for (size_t i = 0; i < sector / 4; i += 7) {
        const uint32_t next = Get32(good, fat + 4 * i);
        if (next >= 0xFFFFFFF0u) continue;
        std::vector<uint8_t> bad = good;
        testimg::Store32(bad, fat + 4 * i, uint32_t(i));
        testimg::ExpectLoadsOrFails(bad, "sector " + std::to_string(i) + " loops");
        ++loops;
    }
    EXPECT_GT(loops, 5);

    // Cut anywhere: loads what it holds or fails.
    for (size_t cut : {size_t(0), size_t(100), size_t(600), good.size() / 2, good.size() - 1})
        testimg::ExpectLoadsOrFails({good.begin(), good.begin() + long(cut)}, "cut");

    // Tile tables that do not fit the picture; a header claiming 65535 x 65535.
    const size_t header = Find(good, std::string("\x24\0\0\0\x2c\x01\0\0\xc8\0\0\0", 12));
    ASSERT_NE(header, std::string::npos);
    for (auto [at, value] : {std::pair{size_t(12), 1u}, std::pair{size_t(16), 32u},
                             std::pair{size_t(28), 0x7FFFFFF0u}, std::pair{size_t(32), 4u}}) {
        std::vector<uint8_t> bad = good;
        testimg::Store32(bad, header + at, value);
        tb::Bmp b;
        EXPECT_EQ(L_LoadBitmapMemory(bad.data(), &b.b, 0, ORDER_BGR, bad.size()), ERROR_FILE_FORMAT)
            << at;
    }
    // The image contents property set, found by its format id; its width and height.
    std::vector<uint8_t> huge = good;
    const size_t contents = Find(huge, std::string("\x00\x64\x61\x56\x54\xc1\xce\x11", 8));
    ASSERT_NE(contents, std::string::npos);
    const size_t section = contents - 28 + Get32(huge, contents + 16);
    for (uint32_t i = 0; i < Get32(huge, section + 4); ++i) {
        const uint32_t id = Get32(huge, section + 8 + 8 * i);
        if (id == 0x01000002 || id == 0x01000003)
            testimg::Store32(huge, section + Get32(huge, section + 12 + 8 * i) + 4, 65535);
    }
    FILEINFO info;
    ASSERT_EQ(L_FileInfoMemory(huge.data(), huge.size(), &info), SUCCESS);
    EXPECT_EQ(info.Width, 65535);
    tb::Bmp b;
    meter::Start();
    EXPECT_LT(L_LoadBitmapMemory(huge.data(), &b.b, 0, ORDER_BGR, huge.size()), 0);
    EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
}
