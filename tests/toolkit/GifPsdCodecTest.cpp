// GIF and PhotoShop files: what ImageMagick writes opens with the pixels it reads, what we
// write comes back unchanged at every depth we save, and hostile files fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace {

const std::string kData = std::string(QUILLO_TEST_DATA) + "/";

TEST(GifPsdCodecs, FilesImageMagickWroteDecodeToThePixelsItReads) {
    const struct {
        const char* file;
        int format, bpp, passes = 1;
        int tolerance = 0; // ImageMagick takes 16-bit levels to 8 bits by its own rounding
    } cases[] = {
        {"gif/pal8.gif", FILE_GIF, 8},
        {"gif/pal4.gif", FILE_GIF, 4},
        {"gif/mono1.gif", FILE_GIF, 1},
        {"gif/interlaced.gif", FILE_GIF, 8, 4},
        {"gif/transparent.gif", FILE_GIF, 32},
        {"gif/animated.gif", FILE_GIF, 8},
        {"psd/rgb24.psd", FILE_PSD, 24},
        {"psd/rgb24-raw.psd", FILE_PSD, 24},
        {"psd/rgb16.psd", FILE_PSD, 24, 1, 1},
        {"psd/gray8.psd", FILE_PSD, 8},
        {"psd/gray16-raw.psd", FILE_PSD, 8, 1, 1},
        {"psd/mono1.psd", FILE_PSD, 8},
        {"psd/rgba32.psd", FILE_PSD, 32},
        {"psd/layered.psd", FILE_PSD, 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = kData + c.file;
        FILEINFO info;
        ASSERT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS);
        EXPECT_EQ(info.Format, c.format);
        EXPECT_EQ(info.BitsPerPixel, c.bpp);
        tb::Bmp b;
        testimg::RowLog log;
        ASSERT_EQ(
            L_LoadFile(path.c_str(), &b.b, 0, ORDER_BGR, LOADFILE_ALLOCATE, testimg::LogRows, &log),
            SUCCESS);
        EXPECT_EQ(L_GetLoadWarnings(), 0u);
        EXPECT_EQ(testimg::CountPasses(log, b.b.Height), c.passes);
        EXPECT_EQ(b.b.BitsPerPixel, c.bpp);
        const testimg::RefImage ref =
            testimg::ReadReference(path.substr(0, path.rfind('.')) + ".pam");
        ASSERT_TRUE(ref.valid());
        EXPECT_TRUE(
            testimg::Matches(testimg::Compare(b.b, ref, c.tolerance, testimg::Alpha::Compare)));
    }
    // The transparent colour is alpha 0, the rest opaque.
    tb::Bmp t;
    ASSERT_EQ(L_LoadBitmap((kData + "gif/transparent.gif").c_str(), &t.b, 0, ORDER_BGR), SUCCESS);
    EXPECT_EQ(lt::ReadPixel(&t.b, L_RowPtr(&t.b, 5), 6).a, 0);
    EXPECT_EQ(lt::ReadPixel(&t.b, L_RowPtr(&t.b, 5), 7).a, 255);
}

TEST(PsdCodec, SavedFilesComeBackUnchangedAtEveryDepth) {
    const struct {
        int bpp, back;
        bool grayRamp;
        const char* what;
    } cases[] = {
        {1, 1, true, "black and white: a bitmap picture"},
        {1, 8, false, "two other colours: indexed"},
        {4, 8, false, "16 colours: indexed"},
        {8, 8, false, "palette"},
        {8, 8, true, "gray"},
        {24, 24, false, "RGB"},
        {32, 32, false, "RGB and alpha"},
    };
    for (const auto& c : cases) {
        for (int perspective : {TOP_LEFT, BOTTOM_LEFT}) {
            SCOPED_TRACE(::testing::Message() << c.what << ", perspective " << perspective);
            tb::Bmp src;
            src.b = testimg::RandomPicture(13, 7, c.bpp, uint32_t(c.bpp + c.grayRamp), perspective,
                                           c.grayRamp);
            const std::vector<uint8_t> file = testimg::SaveToMemory(&src.b, FILE_PSD);
            FILEINFO info;
            ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
            EXPECT_EQ(info.Format, FILE_PSD);
            EXPECT_EQ(info.XResolution, 150);
            EXPECT_EQ(info.YResolution, 75);
            tb::Bmp back;
            ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
            ASSERT_EQ(back.b.BitsPerPixel, c.back);
            EXPECT_TRUE(
                testimg::Matches(testimg::Compare(back.b, src.b, 0, testimg::Alpha::Compare)));
            // Same depth: the same indices too, not only the same colours (black and white
            // are stored as white and black).
            for (int y = 0; c.bpp == c.back && c.bpp > 1 && c.bpp <= 8 && y < 7; ++y)
                for (int x = 0; x < 13; ++x)
                    ASSERT_EQ(tb::Raw(back.b, x, y), tb::Raw(src.b, x, y)) << x << "," << y;
        }
    }
    // White first: the bits are stored as they are, black first they are turned over.
    tb::Bmp mono;
    mono.b = testimg::RandomPicture(13, 7, 1, 5, TOP_LEFT, true);
    std::swap(mono.b.pPalette[0], mono.b.pPalette[1]);
    const std::vector<uint8_t> file = testimg::SaveToMemory(&mono.b, FILE_PSD);
    tb::Bmp back;
    ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
    EXPECT_EQ(back.b.BitsPerPixel, 1);
    EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, mono.b, 0, testimg::Alpha::Compare)));
    EXPECT_EQ(tb::Raw(back.b, 12, 6), tb::Raw(mono.b, 12, 6));
    EXPECT_EQ(tb::Raw(back.b, 0, 0), tb::Raw(mono.b, 0, 0));
    tb::Bmp deep;
    deep.b = testimg::RandomPicture(5, 5, 16, 1);
    int rc = SUCCESS;
    testimg::SaveToMemory(&deep.b, FILE_PSD, 0, 0, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
}

// ---------------------------------------------------------------------------
// Damaged and hostile files.

void Put(std::vector<uint8_t>& v, uint32_t x, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) v.push_back(uint8_t(x >> (8 * i)));
}

// A PhotoShop file with no palette, resources or layers.
std::vector<uint8_t> Psd(int channels, uint32_t w, uint32_t h, int depth, int mode, int comp,
                         const std::vector<uint8_t>& body, uint32_t layersLength = 0) {
    std::vector<uint8_t> v{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    Put(v, uint32_t(channels), 2);
    Put(v, h, 4);
    Put(v, w, 4);
    Put(v, uint32_t(depth), 2);
    Put(v, uint32_t(mode), 2);
    Put(v, 0, 4);
    Put(v, 0, 4);
    Put(v, layersLength, 4);
    Put(v, uint32_t(comp), 2);
    v.insert(v.end(), body.begin(), body.end());
    return v;
}

TEST(GifPsdCodecs, HostileFilesFailCleanlyWithinTheirBudget) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int rc;
        int first = -1, last = -1; // when it loads: the top left and bottom right pixels
        bool truncated = false;
    };
    // Gray 4 x 2, PackBits: two rows' lengths, then a run of four 9s and a literal row.
    const std::vector<uint8_t> rle{0, 2, 0, 5, 0xFD, 9, 3, 1, 2, 3, 4};
    std::vector<uint8_t> gif = testimg::ReadFile(kData + "gif/pal8.gif");
    std::vector<uint8_t> hugeGif = gif;
    for (int i : {6, 7, 8, 9}) hugeGif[size_t(i)] = 0xFF; // a 65535 x 65535 screen
    const Case cases[] = {
        {"psd: gray, PackBits", Psd(1, 4, 2, 8, 1, 1, rle), SUCCESS, 9, 4},
        {"psd: no channels", Psd(0, 4, 2, 8, 1, 1, rle), ERROR_FILE_FORMAT},
        {"psd: 57 channels", Psd(57, 4, 2, 8, 1, 1, rle), ERROR_FILE_FORMAT},
        {"psd: RGB with one channel", Psd(1, 4, 2, 8, 3, 1, rle), ERROR_FILE_FORMAT},
        {"psd: CMYK", Psd(4, 4, 2, 8, 4, 1, rle), ERROR_FEATURE_NOT_SUPPORTED},
        {"psd: zip", Psd(1, 4, 2, 8, 1, 2, rle), ERROR_UNKNOWN_COMP},
        {"psd: 32-bit float", Psd(1, 4, 2, 32, 1, 0, rle), ERROR_BITPERPIXEL},
        {"psd: layers past the end", Psd(1, 4, 2, 8, 1, 1, rle, 4000), ERROR_FILE_FORMAT},
        {"psd: 65535 x 65535", Psd(3, 65535, 65535, 8, 3, 0, rle), ERROR_FILE_FORMAT},
        {"psd: row-length table past the end", Psd(3, 4, 2000, 8, 1, 1, rle), ERROR_FILE_FORMAT},
        {"psd: second row past the end", Psd(1, 4, 2, 8, 1, 1, {0, 2, 0, 9, 0xFD, 9, 3, 1}),
         SUCCESS, 9, 128, true},
        {"psd: first row past the end", Psd(1, 4, 2, 8, 1, 1, {0, 9, 0, 9, 0xFD}),
         ERROR_FILE_FORMAT},
        {"psd: a run longer than the row", Psd(1, 4, 1, 8, 1, 1, {0, 2, 0x81, 7}), SUCCESS, 7, 7},
        {"psd: raw, last channel missing", Psd(3, 2, 1, 8, 3, 0, {1, 2, 3, 4}), ERROR_FILE_FORMAT},
        {"gif: 65535 x 65535 screen", hugeGif, ERROR_INV_RANGE},
        {"gif: header only", std::vector<uint8_t>(gif.begin(), gif.begin() + 13),
         ERROR_FILE_FORMAT},
        {"gif: no frame",
         {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B},
         ERROR_FILE_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testimg::ExpectLoadsOrFails(c.file, c.what);
        tb::Bmp b;
        meter::Start();
        ASSERT_EQ(L_LoadBitmapMemory(c.file.data(), &b.b, 0, ORDER_BGR, c.file.size()), c.rc);
        EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
        if (c.rc != SUCCESS) continue;
        EXPECT_EQ(L_GetLoadWarnings(), c.truncated ? unsigned(LOADWARN_TRUNCATED) : 0u);
        EXPECT_EQ(tb::Raw(b.b, 0, 0), uint32_t(c.first));
        EXPECT_EQ(tb::Raw(b.b, b.b.Width - 1, b.b.Height - 1), uint32_t(c.last));
    }
    // A GIF cut inside its frame keeps the rows it holds (giflib takes the coded data in blocks
    // of 255 bytes: the cut is in the second); the format is never written.
    const size_t cut = gif.size() - 60;
    tb::Bmp part;
    ASSERT_EQ(L_LoadBitmapMemory(gif.data(), &part.b, 0, ORDER_BGR, cut), SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
    int rc = SUCCESS;
    testimg::SaveToMemory(&part.b, FILE_GIF, 0, 0, &rc);
    EXPECT_EQ(rc, ERROR_FEATURE_NOT_SUPPORTED);
}

} // namespace
