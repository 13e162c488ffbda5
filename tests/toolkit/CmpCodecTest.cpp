// Quillo's own .cmp pictures: 1 bit comes back exactly, palette included; 8 and 24 bits come
// back close at the quality asked for; headers that disagree with their data fail cheaply.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace {

// A smooth picture JPEG can keep close: gradients in each channel.
tb::Bmp Smooth(int w, int h, int bpp) {
    tb::Bmp b;
    b.b = testimg::RandomPicture(w, h, bpp, 7, TOP_LEFT, true);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = bpp == 8 ? uint32_t((x + y) * 255 / (w + h))
                                        : uint32_t(x * 255 / w) | uint32_t(y * 255 / h) << 8 |
                                              uint32_t((x + y) * 127 / (w + h)) << 16;
            tb::PutRaw(b.b, x, y, v);
        }
    return b;
}

TEST(CmpFiles, OneBitIsExactAndTheOthersCloseAtTheirQuality) {
    for (int black : {0, 1}) {
        SCOPED_TRACE(black);
        tb::Bmp b;
        b.b = testimg::RandomPicture(77, 23, 1, 3 + black, black ? BOTTOM_LEFT : TOP_LEFT);
        // Two colours of no particular lightness order, kept as they are.
        b.b.pPalette[black] = RGBQUAD{10, 20, 30, 0};
        b.b.pPalette[1 - black] = RGBQUAD{200, 220, 240, 0};
        const std::vector<uint8_t> file = testimg::SaveToMemory(&b.b, FILE_CMP_1BIT);
        FILEINFO info;
        ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
        EXPECT_EQ(info.Format, FILE_CMP_1BIT);
        EXPECT_EQ(info.BitsPerPixel, 1);
        tb::Bmp back;
        ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
        testimg::ExpectSameBitmap(back.b, b.b);
        EXPECT_EQ(back.b.XResolution, 150);
        EXPECT_EQ(back.b.YResolution, 75);
    }
    for (int bpp : {8, 24}) {
        SCOPED_TRACE(bpp);
        tb::Bmp b = Smooth(64, 48, bpp);
        const std::vector<uint8_t> best = testimg::SaveToMemory(&b.b, FILE_CMP, bpp, 0);
        const std::vector<uint8_t> small = testimg::SaveToMemory(&b.b, FILE_CMP, bpp, 230);
        EXPECT_LT(small.size(), best.size());
        FILEINFO info;
        ASSERT_EQ(L_FileInfoMemory(best.data(), best.size(), &info), SUCCESS);
        EXPECT_EQ(info.Format, FILE_CMP);
        EXPECT_EQ(info.BitsPerPixel, bpp);
        tb::Bmp back;
        ASSERT_EQ(L_LoadBitmapMemory(best.data(), &back.b, 0, ORDER_BGR, best.size()), SUCCESS);
        EXPECT_EQ(back.b.BitsPerPixel, bpp);
        EXPECT_EQ(back.b.XResolution, 150);
        EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, b.b, 6, testimg::Alpha::Ignore)));
    }
    // The lossy code holds gray and colour, the fax code black and white only.
    tb::Bmp gray(8, 8, 8);
    int rc = 0;
    testimg::SaveToMemory(&gray.b, FILE_CMP_1BIT, 8, 0, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
    testimg::SaveToMemory(&gray.b, FILE_CMP, 1, 0, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
}

TEST(CmpFiles, HeadersThatDisagreeWithTheirDataFailCheaply) {
    tb::Bmp mono;
    mono.b = testimg::RandomPicture(64, 4, 1, 9);
    mono.b.pPalette[0] = RGBQUAD{255, 255, 255, 0};
    mono.b.pPalette[1] = RGBQUAD{0, 0, 0, 0};
    std::memset(mono.b.Addr, 0xff, mono.b.Size);
    const std::vector<uint8_t> page = testimg::SaveToMemory(&mono.b, FILE_CMP_1BIT);
    tb::Bmp b;
    // 65535 x 65535 over a few bytes of data.
    std::vector<uint8_t> f = page;
    testimg::Store32(f, 8, 65535);
    testimg::Store32(f, 12, 65535);
    meter::Start();
    EXPECT_NE(L_LoadBitmapMemory(f.data(), &b.b, 0, ORDER_BGR, f.size()), SUCCESS);
    EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
    // Rows of 64 black pixels coded for a page 8 pixels wide: more run than row.
    f = page;
    testimg::Store32(f, 8, 8);
    EXPECT_EQ(L_LoadBitmapMemory(f.data(), &b.b, 0, ORDER_BGR, f.size()), ERROR_FILE_FORMAT);
    // A payload longer than the file.
    f = page;
    testimg::Store32(f, 24, uint32_t(f.size()));
    EXPECT_EQ(L_LoadBitmapMemory(f.data(), &b.b, 0, ORDER_BGR, f.size()), ERROR_FILE_FORMAT);
    // A JPEG payload of another size than the header says.
    tb::Bmp photo = Smooth(32, 16, 24);
    f = testimg::SaveToMemory(&photo.b, FILE_CMP);
    testimg::Store32(f, 12, 17);
    EXPECT_EQ(L_LoadBitmapMemory(f.data(), &b.b, 0, ORDER_BGR, f.size()), ERROR_FILE_FORMAT);
    // Cut anywhere, a file opens in part or fails cleanly.
    for (size_t cut : {size_t(10), size_t(40), f.size() / 2, f.size() - 1})
        testimg::ExpectLoadsOrFails(std::vector<uint8_t>(f.begin(), f.begin() + cut), "cut");
}

} // namespace
