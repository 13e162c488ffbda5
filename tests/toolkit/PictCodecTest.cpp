// Macintosh PICT: pictures ImageMagick writes or reads decode to the pixels it sees, what we
// write comes back unchanged at every depth we save, and commands that run past the end of
// the file fail cleanly or keep what was drawn.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace {

const std::string kData = std::string(QUILLO_TEST_DATA) + "/pict/";

TEST(PictCodec, FilesDecodeToThePixelsImageMagickSees) {
    // ImageMagick widens 16-bit table entries by rounding down, we by taking the high byte.
    const std::pair<const char*, int> fixtures[] = {
        {"im-rgb24", 24}, {"im-pal8", 8}, {"im-two-colours", 8}, {"v2-pal4", 4}};
    for (auto [name, bpp] : fixtures) {
        SCOPED_TRACE(name);
        const std::string path = kData + name + ".pct";
        FILEINFO info;
        ASSERT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS);
        EXPECT_EQ(info.Format, FILE_PICT);
        EXPECT_EQ(info.BitsPerPixel, bpp);
        tb::Bmp b;
        ASSERT_EQ(L_LoadBitmap(path.c_str(), &b.b, 0, ORDER_BGR), SUCCESS);
        EXPECT_EQ(L_GetLoadWarnings(), 0u);
        const testimg::RefImage ref = testimg::ReadReference(kData + name + ".pam");
        ASSERT_TRUE(ref.valid());
        EXPECT_TRUE(testimg::Matches(testimg::Compare(b.b, ref, 1, testimg::Alpha::Ignore)));
    }
    // Version 1, a packed bitmap wider than the picture, behind a clip region and a comment;
    // the same picture without the application's 512 bytes, as the clipboard holds it.
    std::vector<uint8_t> v1 = testimg::ReadFile(kData + "v1-bitmap.pct");
    for (size_t skip : {size_t(0), size_t(512)}) {
        tb::Bmp b;
        ASSERT_EQ(L_LoadBitmapMemory(v1.data() + skip, &b.b, 0, ORDER_BGR, v1.size() - skip),
                  SUCCESS);
        ASSERT_EQ(b.b.BitsPerPixel, 1);
        ASSERT_EQ(b.b.Width, 37);
        // Row 0: byte 1 is 7; row 1: byte 0 is 3.
        EXPECT_EQ(L_GetPixelColor(&b.b, 0, 8), RGB(255, 255, 255));
        EXPECT_EQ(L_GetPixelColor(&b.b, 0, 13), RGB(0, 0, 0));
        EXPECT_EQ(L_GetPixelColor(&b.b, 1, 5), RGB(255, 255, 255));
        EXPECT_EQ(L_GetPixelColor(&b.b, 1, 7), RGB(0, 0, 0));
    }
}

TEST(PictCodec, SavedFilesComeBackUnchangedAtEveryDepth) {
    // Wide rows are packed with two-byte counts, narrow ones with one, rows under eight
    // bytes not at all.
    for (int bpp : {1, 4, 8, 24}) {
        for (int w : {1, 13, 300}) {
            SCOPED_TRACE(::testing::Message() << bpp << " bits, " << w << " wide");
            tb::Bmp src;
            src.b = testimg::RandomPicture(w, 5, bpp, uint32_t(bpp + w),
                                           w % 2 ? BOTTOM_LEFT : TOP_LEFT);
            const std::vector<uint8_t> file = testimg::SaveToMemory(&src.b, FILE_PICT);
            tb::Bmp back;
            ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
            EXPECT_EQ(L_GetLoadWarnings(), 0u);
            ASSERT_EQ(back.b.BitsPerPixel, bpp);
            EXPECT_EQ(back.b.XResolution, 150);
            EXPECT_TRUE(
                testimg::Matches(testimg::Compare(back.b, src.b, 0, testimg::Alpha::Compare)));
            for (int y = 0; bpp <= 8 && y < 5; ++y)
                for (int x = 0; x < w; ++x) ASSERT_EQ(tb::Raw(back.b, x, y), tb::Raw(src.b, x, y));
        }
    }
}

TEST(PictCodec, CommandsPastTheEndFailCleanlyOrKeepWhatWasDrawn) {
    const std::vector<uint8_t> good = testimg::ReadFile(kData + "v2-pal4.pct");
    // The long comment after the header: kind, then a length.
    size_t comment = 0;
    for (size_t i = 512; i + 1 < good.size(); ++i)
        if (good[i] == 0x00 && good[i + 1] == 0xA1) {
            comment = i;
            break;
        }
    ASSERT_GT(comment, 0u);
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int rc;
        bool truncated = false;
    };
    std::vector<uint8_t> longComment = good;
    longComment[comment + 4] = 0xFF; // 65 kB of comment in a file of one
    std::vector<uint8_t> cutInRows(good.begin(), good.end() - 300);
    std::vector<uint8_t> huge = good;
    huge.at(516) = huge.at(518) = 0x7F; // a frame of 32 k x 32 k
    std::vector<uint8_t> endless = good;
    endless.resize(endless.size() - 2); // no end command
    const Case cases[] = {
        {"a comment longer than the file", longComment, ERROR_FILE_FORMAT},
        {"rows cut short", cutInRows, SUCCESS, true},
        {"a frame of 32767 x 32767", huge, ERROR_FILE_FORMAT},
        {"no end command", endless, SUCCESS, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testimg::ExpectLoadsOrFails(c.file, c.what);
        tb::Bmp b;
        meter::Start();
        ASSERT_EQ(L_LoadBitmapMemory(c.file.data(), &b.b, 0, ORDER_BGR, c.file.size()), c.rc);
        if (c.rc != SUCCESS) {
            EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
            continue;
        }
        EXPECT_EQ(L_GetLoadWarnings(), c.truncated ? unsigned(LOADWARN_TRUNCATED) : 0u);
    }
}

} // namespace
