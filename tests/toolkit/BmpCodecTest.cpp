// BMP reading and writing: pictures made by another program decode to the pixels that
// program sees, what we write comes back unchanged, and hostile headers are refused.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "BitmapInternal.h"
#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"

namespace {

const std::string kBmpDir = std::string(QUILLO_TEST_DATA) + "/bmp/";

using testimg::ReadFile;

struct Fixture {
    const char* name;
    int format;
    int bpp;       // of the decoded bitmap
    int tolerance; // the other program widens 5- and 6-bit fields slightly differently
};

const Fixture kFixtures[] = {
    {"pal1", FILE_BMP, 1, 0},
    {"pal4", FILE_BMP, 4, 0},
    {"pal8", FILE_BMP, 8, 0},
    {"pal8-topdown", FILE_BMP, 8, 0},
    {"pal8-short-table", FILE_BMP, 8, 0},
    {"rle8", FILE_BMP, 8, 0},
    {"rle8-delta", FILE_BMP, 8, 0},
    {"rle4", FILE_BMP, 4, 0},
    {"rle4-delta", FILE_BMP, 4, 0},
    {"rgb555", FILE_BMP, 16, 0},
    {"rgb24-300dpi", FILE_BMP, 24, 0},
    {"rgb24-topdown", FILE_BMP, 24, 0},
    {"rgb32-alpha", FILE_BMP, 32, 0},
    {"rgb32-zero-alpha", FILE_BMP, 32, 0},
    {"bitfields32-rgb-order", FILE_BMP, 24, 0},
    {"v5-bitfields565", FILE_BMP, 24, 1},
    {"v4-bitfields1555-alpha", FILE_BMP, 16, 1}, // the toolkit widens 5 bits by bit copying
    {"v4-bitfields4444-alpha", FILE_BMP, 32, 0},
    {"v5-bitfields32-alpha", FILE_BMP, 32, 0},
    {"os2-pal1", FILE_OS2, 1, 0},
    {"os2-pal4", FILE_OS2, 4, 0},
    {"os2-pal8", FILE_OS2, 8, 0},
    {"os2-rgb24", FILE_OS2, 24, 0},
    {"os2v2-pal8", FILE_OS2_2, 8, 0},
};

TEST(BmpCodec, EveryVariantDecodesToThePixelsAnotherProgramSees) {
    for (const Fixture& f : kFixtures) {
        SCOPED_TRACE(f.name);
        const std::string path = kBmpDir + f.name + ".bmp";
        FILEINFO info;
        ASSERT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS);
        EXPECT_EQ(info.Format, f.format);
        EXPECT_EQ(info.BitsPerPixel, f.bpp);
        BITMAPHANDLE b;
        ASSERT_EQ(L_LoadBitmap(path.c_str(), &b, 0, ORDER_BGR), SUCCESS);
        EXPECT_EQ(b.BitsPerPixel, f.bpp);
        EXPECT_EQ(info.Width, b.Width);
        EXPECT_EQ(info.Height, b.Height);
        const testimg::RefImage ref = testimg::ReadReference(kBmpDir + f.name + ".pam");
        ASSERT_TRUE(ref.valid());
        // Colours everywhere, and alpha where the bitmap can hold it (else it must be opaque).
        EXPECT_TRUE(
            testimg::Matches(testimg::Compare(b, ref, f.tolerance, testimg::Alpha::Compare)));
        L_FreeBitmap(&b);
    }
}

TEST(BmpCodec, HeaderDetailsAreReported) {
    FILEINFO info;
    ASSERT_EQ(L_FileInfo((kBmpDir + "rgb24-300dpi.bmp").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.XResolution, 300);
    EXPECT_EQ(info.YResolution, 300);
    EXPECT_EQ(info.Colors, 0);
    ASSERT_EQ(L_FileInfo((kBmpDir + "pal8-short-table.bmp").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.Colors, 169);
    ASSERT_EQ(L_FileInfo((kBmpDir + "rle4.bmp").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.Compression, 2);
    EXPECT_EQ(info.Colors, 16);

    BITMAPHANDLE b;
    // A colour table shorter than the depth allows leaves the rest of the palette black.
    ASSERT_EQ(L_LoadBitmap((kBmpDir + "pal8-short-table.bmp").c_str(), &b, 0, ORDER_BGR), SUCCESS);
    for (int i = 169; i < 256; ++i) {
        EXPECT_EQ(b.pPalette[i].rgbRed | b.pPalette[i].rgbGreen | b.pPalette[i].rgbBlue, 0) << i;
    }
    L_FreeBitmap(&b);
}

// ---------------------------------------------------------------------------
// Hand-made files for what no fixture can show.

std::vector<uint8_t> MakeBmp(int width, int height, int bpp, uint32_t compression,
                             const std::vector<RGBQUAD>& palette,
                             const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> v{'B', 'M'};
    const uint32_t off = 14 + 40 + uint32_t(palette.size()) * 4, colours = uint32_t(palette.size());
    const std::pair<uint32_t, int> fields[] = {{off + uint32_t(pixels.size()), 4},
                                               {0, 4},
                                               {off, 4},
                                               {40, 4},
                                               {uint32_t(width), 4},
                                               {uint32_t(height), 4},
                                               {1, 2},
                                               {uint32_t(bpp), 2},
                                               {compression, 4},
                                               {uint32_t(pixels.size()), 4},
                                               {0, 4},
                                               {0, 4},
                                               {colours, 4},
                                               {0, 4}};
    for (auto [value, bytes] : fields) testimg::Append(v, value, bytes);
    for (const RGBQUAD& q : palette) v.insert(v.end(), {q.rgbBlue, q.rgbGreen, q.rgbRed, 0});
    v.insert(v.end(), pixels.begin(), pixels.end());
    return v;
}

std::vector<unsigned> Indices(const BITMAPHANDLE& b, int y) {
    std::vector<unsigned> out;
    for (int x = 0; x < b.Width; ++x)
        out.push_back(lt::ReadIndex(L_RowPtr(&b, y), x, b.BitsPerPixel));
    return out;
}

TEST(BmpCodec, RunLengthDataNeverWritesOutsideThePicture) {
    const std::vector<RGBQUAD> pal{{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}};
    // Bottom row: a run longer than the row. Top row: an absolute stretch, a run past the
    // edge, then a delta far below the picture (which ends it without an end marker).
    std::vector<uint8_t> rle8{6, 1, 0, 0, 0, 3, 2, 1, 2, 0, 5, 2, 0, 2, 16, 16};
    BITMAPHANDLE b;
    std::vector<uint8_t> file = MakeBmp(4, 2, 8, 1, pal, rle8);
    ASSERT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), SUCCESS);
    EXPECT_EQ(Indices(b, 1), (std::vector<unsigned>{1, 1, 1, 1}));
    EXPECT_EQ(Indices(b, 0), (std::vector<unsigned>{2, 1, 2, 2}));
    L_FreeBitmap(&b);

    // RLE4: nibble pairs alternate, and an odd absolute stretch keeps its padding.
    std::vector<uint8_t> rle4{5, 0x12, 0, 0, 0, 3, 0x21, 0x20, 0, 1};
    file = MakeBmp(4, 2, 4, 2, pal, rle4);
    ASSERT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), SUCCESS);
    EXPECT_EQ(Indices(b, 1), (std::vector<unsigned>{1, 2, 1, 2}));
    EXPECT_EQ(Indices(b, 0), (std::vector<unsigned>{2, 1, 2, 0}));
    L_FreeBitmap(&b);

    // The committed example, with runs and deltas far past the edges, still opens.
    file = ReadFile(std::string(QUILLO_TEST_DATA) + "/malformed/bmp-rle8-runs-past-edge.bmp");
    ASSERT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), SUCCESS);
    EXPECT_EQ(Indices(b, 2), (std::vector<unsigned>(6, 1)));
    L_FreeBitmap(&b);

    // Data that stops after the first row keeps it; before it, it is an error.
    file = MakeBmp(4, 2, 8, 1, pal, {6, 1, 0, 0, 2});
    ASSERT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
    EXPECT_EQ(Indices(b, 1), (std::vector<unsigned>(4, 1)));
    L_FreeBitmap(&b);
    file = MakeBmp(4, 2, 8, 1, pal, {6, 1, 0});
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT);
    EXPECT_EQ(b.Addr, nullptr);
}

TEST(BmpCodec, InconsistentHeadersAreRefused) {
    BITMAPHANDLE b;
    std::vector<uint8_t> pixels(8, 0);
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int rc;
    };
    std::vector<Case> cases = {
        {"RLE8 at 4 bits", MakeBmp(4, 2, 4, 1, {}, pixels), ERROR_FILE_FORMAT},
        {"bit fields at 24 bits", MakeBmp(2, 2, 24, 3, {}, pixels), ERROR_FILE_FORMAT},
        {"embedded JPEG", MakeBmp(2, 2, 24, 4, {}, pixels), ERROR_UNKNOWN_COMP},
        {"2 bits per pixel", MakeBmp(2, 2, 2, 0, {}, pixels), ERROR_BITPERPIXEL},
        {"zero width", MakeBmp(0, 2, 24, 0, {}, pixels), ERROR_FILE_FORMAT},
        {"rows missing", MakeBmp(4, 2, 24, 0, {}, pixels), ERROR_FILE_FORMAT},
    };
    // A pixel offset beyond the end of the file.
    std::vector<uint8_t> far = MakeBmp(1, 1, 24, 0, {}, {1, 2, 3, 0});
    far[10] = 0xFF;
    cases.push_back({"pixel offset past the end", far, ERROR_FILE_FORMAT});
    for (Case& c : cases) {
        EXPECT_EQ(L_LoadBitmapMemory(c.file.data(), &b, 0, ORDER_BGR, c.file.size()), c.rc)
            << c.what;
        EXPECT_EQ(b.Addr, nullptr) << c.what;
    }
    // The committed example of an offset past the end.
    std::vector<uint8_t> file =
        ReadFile(std::string(QUILLO_TEST_DATA) + "/malformed/bmp-offset-past-end.bmp");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT);
}

TEST(BmpCodec, HugeDeclaredSizesAreRefusedBeforeAllocating) {
    const std::string path = std::string(QUILLO_TEST_DATA) + "/malformed/bmp-width-65535.bmp";
    std::vector<uint8_t> file = ReadFile(path);
    ASSERT_FALSE(file.empty());
    BITMAPHANDLE b;
    FILEINFO info;
    ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info),
              SUCCESS); // describing it is harmless
    EXPECT_EQ(info.Width, 65535);
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), ERROR_INV_RANGE);

    // Even with limits that allow the size, the missing rows are noticed before 12 GB are
    // asked for: the answer is a format error (not out of memory), and it comes at once.
    const L_LIMITS saved = L_GetLimits();
    L_SetLimits(L_LIMITS{70000, uint64_t(1) << 40});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(L_LoadBitmapMemory(file.data(), &b, 0, ORDER_BGR, file.size()), ERROR_FILE_FORMAT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    // Small limits refuse an ordinary picture with the size error.
    L_SetLimits(L_LIMITS{16, 1 << 20});
    EXPECT_EQ(L_LoadBitmap((kBmpDir + "rgb24-300dpi.bmp").c_str(), &b, 0, ORDER_BGR),
              ERROR_INV_RANGE);
    L_SetLimits(L_LIMITS{64, 100});
    EXPECT_EQ(L_LoadBitmap((kBmpDir + "rle8.bmp").c_str(), &b, 0, ORDER_BGR), ERROR_INV_RANGE);
    L_SetLimits(saved);
}

// ---------------------------------------------------------------------------
// Writing.

TEST(BmpCodec, SavedFilesComeBackUnchangedAtEveryDepth) {
    const std::pair<int, int> cases[] = {
        {FILE_BMP, 1},  {FILE_BMP, 4}, {FILE_BMP, 8}, {FILE_BMP, 16}, {FILE_BMP, 24},
        {FILE_BMP, 32}, {FILE_OS2, 1}, {FILE_OS2, 4}, {FILE_OS2, 8},  {FILE_OS2, 24}};
    for (auto [format, bpp] : cases) {
        for (int perspective : {TOP_LEFT, BOTTOM_LEFT}) {
            SCOPED_TRACE(testing::Message() << "format " << format << " bpp " << bpp
                                            << " perspective " << perspective);
            tb::Bmp src, back;
            src.b = testimg::RandomPicture(13, 7, bpp, uint32_t(bpp * 7 + format), perspective);
            const std::vector<uint8_t> file = testimg::SaveToMemory(&src.b, format);
            FILEINFO info;
            ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
            EXPECT_EQ(info.Format, format);
            ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
            testimg::ExpectSameBitmap(src.b, back.b);
            if (format == FILE_BMP) {
                EXPECT_TRUE(back.b.XResolution == 150 && back.b.YResolution == 75);
            }
        }
    }
}

TEST(BmpCodec, ThirtyTwoBitFilesCarryAlphaOthersCanReadAndOs2RefusesDeepPixels) {
    tb::Bmp src, s16;
    src.b = testimg::RandomPicture(5, 3, 32, 99);
    const std::vector<uint8_t> file = testimg::SaveToMemory(&src.b, FILE_BMP, 32);
    // A V5 header with bit fields and an alpha mask, which other programs honour.
    ASSERT_GE(file.size(), 14u + 124u);
    auto u32 = [&](size_t at) {
        return uint32_t(file[at] | (file[at + 1] << 8) | (file[at + 2] << 16) |
                        (uint32_t(file[at + 3]) << 24));
    };
    EXPECT_EQ(u32(14), 124u);
    EXPECT_EQ(u32(14 + 16), 3u);
    EXPECT_EQ(u32(14 + 52), 0xFF000000u);
    int rc = 0;
    testimg::SaveToMemory(&src.b, FILE_OS2, 0, 0, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
    testimg::SaveToMemory(&src.b, FILE_OS2_2, 0, 0, &rc);
    EXPECT_NE(rc, SUCCESS); // read, never written
    s16.b = testimg::RandomPicture(4, 4, 16, 1);
    testimg::SaveToMemory(&s16.b, FILE_OS2, 0, 0, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
}

} // namespace
