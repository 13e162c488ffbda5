// PCX, TARGA and SUN raster: pictures other programs write decode to the pixels ImageMagick
// sees, what we write comes back unchanged at every depth we save, and damaged files fail
// cleanly or open in part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"

namespace {

const std::string kData = std::string(QUILLO_TEST_DATA) + "/";

struct Fixture {
    const char* file; // under tests/data
    int format, bpp;
    testimg::Alpha alpha;
    int tolerance = 0; // ImageMagick widens 5-bit fields by arithmetic, the toolkit by bit copying
};

// ImageMagick reads the zero fourth byte of a SUN pixel as transparent; the format calls it
// padding, so only the colours are compared there.
const Fixture kFixtures[] = {
    {"pcx/mono1.pcx", FILE_PCX, 1, testimg::Alpha::Compare},
    {"pcx/ega4-planes.pcx", FILE_PCX, 4, testimg::Alpha::Compare},
    {"pcx/pal4-packed.pcx", FILE_PCX, 4, testimg::Alpha::Compare},
    {"pcx/pal8.pcx", FILE_PCX, 8, testimg::Alpha::Compare},
    {"pcx/pal8-runs-across-rows.pcx", FILE_PCX, 8, testimg::Alpha::Compare},
    {"pcx/gray8-no-table.pcx", FILE_PCX, 8, testimg::Alpha::Compare},
    {"pcx/rgb24.pcx", FILE_PCX, 24, testimg::Alpha::Compare},
    {"pcx/rgb24-raw.pcx", FILE_PCX, 24, testimg::Alpha::Compare},
    {"pcx/rgba32.pcx", FILE_PCX, 32, testimg::Alpha::Compare},
    {"pcx/two-pages.dcx", FILE_PCX, 8, testimg::Alpha::Compare},
    {"tga/pal8.tga", FILE_TGA, 8, testimg::Alpha::Compare},
    {"tga/pal8-rle.tga", FILE_TGA, 8, testimg::Alpha::Compare},
    {"tga/pal8-map-from-10.tga", FILE_TGA, 8, testimg::Alpha::Compare, 1},
    {"tga/gray8.tga", FILE_TGA, 8, testimg::Alpha::Compare},
    {"tga/gray8-rle.tga", FILE_TGA, 8, testimg::Alpha::Compare},
    {"tga/rgb16-alpha1.tga", FILE_TGA, 16, testimg::Alpha::Compare, 1},
    {"tga/rgb24.tga", FILE_TGA, 24, testimg::Alpha::Compare},
    {"tga/rgb24-rle.tga", FILE_TGA, 24, testimg::Alpha::Compare},
    {"tga/rgba32.tga", FILE_TGA, 32, testimg::Alpha::Compare},
    {"tga/rgba32-topleft-rle.tga", FILE_TGA, 32, testimg::Alpha::Compare},
    {"sun/mono1.ras", FILE_SUN_RAS, 1, testimg::Alpha::Compare},
    {"sun/gray8.ras", FILE_SUN_RAS, 8, testimg::Alpha::Compare},
    {"sun/pal8.ras", FILE_SUN_RAS, 8, testimg::Alpha::Compare},
    {"sun/pal8-rle.ras", FILE_SUN_RAS, 8, testimg::Alpha::Compare},
    {"sun/rgb24-standard.ras", FILE_SUN_RAS, 24, testimg::Alpha::Compare},
    {"sun/rgb24-rgbtype.ras", FILE_SUN_RAS, 24, testimg::Alpha::Compare},
    {"sun/rgb24-rle.ras", FILE_SUN_RAS, 24, testimg::Alpha::Compare},
    {"sun/rgb32-zero-pad.ras", FILE_SUN_RAS, 32, testimg::Alpha::Ignore},
    {"sun/rgba32-rgbtype.ras", FILE_SUN_RAS, 32, testimg::Alpha::Compare},
};

TEST(PcxTgaSunCodecs, EveryVariantDecodesToThePixelsImageMagickSees) {
    for (const Fixture& f : kFixtures) {
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
        const std::string stem = path.substr(0, path.rfind('.'));
        const testimg::RefImage ref = testimg::ReadReference(stem + ".pam");
        ASSERT_TRUE(ref.valid());
        EXPECT_TRUE(testimg::Matches(testimg::Compare(b.b, ref, f.tolerance, f.alpha)));
    }
    // A DCX says how many pages it holds; the picture is the first.
    FILEINFO info;
    ASSERT_EQ(L_FileInfo((kData + "pcx/two-pages.dcx").c_str(), &info), SUCCESS);
    EXPECT_EQ(info.PageCount, 2);
    // Padding left zero is opaque, not invisible.
    tb::Bmp padded;
    ASSERT_EQ(L_LoadBitmap((kData + "sun/rgb32-zero-pad.ras").c_str(), &padded.b, 0, ORDER_BGR),
              SUCCESS);
    EXPECT_EQ(lt::ReadPixel(&padded.b, L_RowPtr(&padded.b, 3), 5).a, 255);
}

// ---------------------------------------------------------------------------
// Writing.

tb::Bmp RandomBitmap(int bpp, uint32_t seed, int perspective, bool grayRamp = false) {
    tb::Bmp b;
    b.b = testimg::RandomPicture(13, 7, bpp, seed, perspective, grayRamp);
    return b;
}

struct SaveCase {
    int format, bpp;
    int bppBack; // what the file holds
    bool grayRamp = false;
};

void ExpectRoundTrip(const SaveCase& c) {
    for (int perspective : {TOP_LEFT, BOTTOM_LEFT}) {
        SCOPED_TRACE(::testing::Message()
                     << "format " << c.format << " bpp " << c.bpp << (c.grayRamp ? " gray" : "")
                     << " perspective " << perspective);
        tb::Bmp src = RandomBitmap(c.bpp, uint32_t(c.bpp * 31 + c.format), perspective, c.grayRamp);
        const std::vector<uint8_t> file = testimg::SaveToMemory(&src.b, c.format);
        FILEINFO info;
        ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
        EXPECT_EQ(info.Format, c.format);
        tb::Bmp back;
        ASSERT_EQ(L_LoadBitmapMemory(file.data(), &back.b, 0, ORDER_BGR, file.size()), SUCCESS);
        ASSERT_EQ(back.b.BitsPerPixel, c.bppBack);
        EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, src.b, 0, testimg::Alpha::Compare)));
        // Same depth: the same indices too, not only the same colours.
        for (int y = 0; c.bpp == c.bppBack && y < src.b.Height; ++y)
            for (int x = 0; x < src.b.Width; ++x)
                ASSERT_EQ(tb::Raw(back.b, x, y), tb::Raw(src.b, x, y)) << x << "," << y;
    }
}

TEST(PcxCodec, SavedFilesComeBackUnchangedAtEveryDepth) {
    for (SaveCase c : {SaveCase{FILE_PCX, 1, 1}, SaveCase{FILE_PCX, 4, 4}, SaveCase{FILE_PCX, 8, 8},
                       SaveCase{FILE_PCX, 24, 24}})
        ExpectRoundTrip(c);
    tb::Bmp deep = RandomBitmap(16, 1, TOP_LEFT);
    uint8_t* buf = nullptr;
    size_t size = 0;
    EXPECT_EQ(L_SaveBitmapMemory(&buf, &deep.b, FILE_PCX, 0, 0, &size), ERROR_BITPERPIXEL);
}

TEST(PcxCodec, SavingOverADcxReplacesItsFirstPageAndKeepsTheOthers) {
    const std::string dir = testimg::TempDir("dcx");
    const std::string path = dir + "/pages.dcx", fresh = dir + "/new.DCX";
    testimg::WriteFile(path, testimg::ReadFile(kData + "pcx/two-pages.dcx"));
    tb::Bmp pic = RandomBitmap(24, 3, TOP_LEFT);
    ASSERT_EQ(L_SaveBitmap(path.c_str(), &pic.b, FILE_PCX, 0, 0), SUCCESS);
    ASSERT_EQ(L_SaveBitmap(fresh.c_str(), &pic.b, FILE_PCX, 0, 0), SUCCESS);
    for (const std::string& p : {path, fresh}) {
        SCOPED_TRACE(p);
        FILEINFO info;
        ASSERT_EQ(L_FileInfo(p.c_str(), &info), SUCCESS);
        EXPECT_EQ(info.PageCount, p == path ? 2 : 1);
        EXPECT_EQ(testimg::ReadFile(p)[0], 0xB1); // the container's magic number
        tb::Bmp back;
        ASSERT_EQ(L_LoadBitmap(p.c_str(), &back.b, 0, ORDER_BGR), SUCCESS);
        EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, pic.b, 0, testimg::Alpha::Compare)));
    }
    // The second page is the old one, byte for byte.
    const std::vector<uint8_t> before = testimg::ReadFile(kData + "pcx/two-pages.dcx");
    const std::vector<uint8_t> after = testimg::ReadFile(path);
    const std::vector<uint8_t> page2 = testimg::ReadFile(kData + "pcx/rgb24.pcx");
    ASSERT_GE(after.size(), page2.size());
    EXPECT_TRUE(std::equal(page2.begin(), page2.end(), after.end() - long(page2.size())));
    EXPECT_TRUE(std::equal(page2.begin(), page2.end(), before.end() - long(page2.size())));
}

TEST(TgaCodec, SavedFilesComeBackUnchangedAtEveryDepth) {
    for (SaveCase c :
         {SaveCase{FILE_TGA, 8, 8}, SaveCase{FILE_TGA, 8, 8, true}, SaveCase{FILE_TGA, 16, 16},
          SaveCase{FILE_TGA, 24, 24}, SaveCase{FILE_TGA, 32, 32}})
        ExpectRoundTrip(c);
    tb::Bmp mono = RandomBitmap(1, 1, TOP_LEFT);
    uint8_t* buf = nullptr;
    size_t size = 0;
    EXPECT_EQ(L_SaveBitmapMemory(&buf, &mono.b, FILE_TGA, 0, 0, &size), ERROR_BITPERPIXEL);
}

TEST(SunCodec, SavedFilesComeBackUnchangedAtEveryDepth) {
    // The format has no 4-bit pixels: they come back as 8 bits of the same colours.
    for (SaveCase c :
         {SaveCase{FILE_SUN_RAS, 1, 1}, SaveCase{FILE_SUN_RAS, 4, 8}, SaveCase{FILE_SUN_RAS, 8, 8},
          SaveCase{FILE_SUN_RAS, 24, 24}, SaveCase{FILE_SUN_RAS, 32, 32}})
        ExpectRoundTrip(c);
}

// ---------------------------------------------------------------------------
// Damaged and hostile files.

using testimg::Append;

std::vector<uint8_t> Pcx(int w, int h, int bits, int planes, int bpl,
                         const std::vector<uint8_t>& body) {
    std::vector<uint8_t> v{0x0A, 5, 1, uint8_t(bits)};
    for (uint32_t x : {0u, 0u, uint32_t(w - 1), uint32_t(h - 1), 72u, 72u}) Append(v, x, 2);
    v.resize(65, 0);
    v.push_back(uint8_t(planes));
    Append(v, uint32_t(bpl), 2);
    v.resize(128, 0);
    v.insert(v.end(), body.begin(), body.end());
    return v;
}

std::vector<uint8_t> Tga(int type, int w, int h, int depth, int mapLength,
                         const std::vector<uint8_t>& body) {
    std::vector<uint8_t> v{0, uint8_t(mapLength ? 1 : 0), uint8_t(type)};
    Append(v, 0, 2);
    Append(v, uint32_t(mapLength), 2);
    v.push_back(mapLength ? 24 : 0);
    for (uint32_t x : {0u, 0u, uint32_t(w), uint32_t(h)}) Append(v, x, 2);
    v.push_back(uint8_t(depth));
    v.push_back(0x20); // top-left
    v.insert(v.end(), body.begin(), body.end());
    return v;
}

std::vector<uint8_t> Sun(uint32_t w, uint32_t h, uint32_t depth, uint32_t type, uint32_t mapLength,
                         const std::vector<uint8_t>& body) {
    std::vector<uint8_t> v;
    for (uint32_t x :
         {0x59A66A95u, w, h, depth, uint32_t(body.size()), type, mapLength ? 1u : 0u, mapLength})
        Append(v, x, 4, true);
    v.insert(v.end(), body.begin(), body.end());
    return v;
}

TEST(PcxTgaSunCodecs, DamagedFilesFailCleanlyOrOpenWithWhatTheyHold) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int rc;         // of the load
        int first = -1; // when it loads: the top left and bottom right pixels, as stored
        int last = -1;  // (128, the gray of a gray palette, where rows are missing)
        bool truncated = false;
    };
    const std::vector<uint8_t> row4{0xC4, 7, 0xC4, 7}; // two rows of four bytes of 7, as runs
    const std::vector<uint8_t> pcx = Pcx(4, 2, 8, 1, 4, row4);
    std::vector<uint8_t> backwards = pcx;
    backwards[4] = 9; // the window starts right of where it ends
    const Case cases[] = {
        // PCX
        {"pcx: header cut", std::vector<uint8_t>(pcx.begin(), pcx.begin() + 100),
         ERROR_FILE_FORMAT},
        {"pcx: no rows at all", Pcx(4, 2, 8, 1, 4, {}), ERROR_FILE_FORMAT},
        {"pcx: run cut after its count", Pcx(4, 2, 8, 1, 4, {0xC4}), ERROR_FILE_FORMAT},
        {"pcx: second row missing", Pcx(4, 2, 8, 1, 4, {0xC4, 7}), SUCCESS, 7, 128, true},
        {"pcx: a run longer than the picture", Pcx(4, 2, 8, 1, 4, {0xFF, 7}), SUCCESS, 7, 7},
        {"pcx: rows shorter than the width", Pcx(9, 2, 8, 1, 4, row4), ERROR_FILE_FORMAT},
        {"pcx: 16 bits in 2 planes", Pcx(4, 2, 8, 2, 4, row4), ERROR_BITPERPIXEL},
        {"pcx: window ends before it starts", backwards, ERROR_FILE_FORMAT},
        {"pcx: alpha plane left zero is opaque", Pcx(1, 1, 8, 4, 1, {1, 2, 3, 0}), SUCCESS,
         int(0xFF010203), int(0xFF010203)},
        {"dcx: first page past the end",
         {0xB1, 0x68, 0xDE, 0x3A, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
         ERROR_FILE_FORMAT},
        // TARGA
        {"tga: colour map past the end", Tga(1, 2, 2, 8, 256, {1, 2, 3}), ERROR_FILE_FORMAT},
        {"tga: 16-bit indices", Tga(1, 2, 2, 16, 2, std::vector<uint8_t>(14, 0)),
         ERROR_BITPERPIXEL},
        {"tga: packet cut in its pixel", Tga(11, 4, 2, 8, 0, {0x83}), ERROR_FILE_FORMAT},
        {"tga: raw packet past the end", Tga(11, 4, 2, 8, 0, {0x03, 9, 9, 9, 9, 0x7F, 1}), SUCCESS,
         9, 128, true},
        {"tga: run longer than the picture", Tga(11, 4, 2, 8, 0, {0xFF, 5}), SUCCESS, 5, 5},
        {"tga: alpha left zero is opaque", Tga(2, 1, 1, 32, 0, {1, 2, 3, 0}), SUCCESS,
         int(0xFF030201), int(0xFF030201)},
        {"tga: second row missing", Tga(3, 4, 2, 8, 0, {6, 6, 6, 6, 6}), SUCCESS, 6, 128, true},
        // SUN
        {"sun: colour map larger than the file", Sun(2, 2, 8, 1, 4000, {}), ERROR_FILE_FORMAT},
        {"sun: 16 bits", Sun(2, 2, 16, 1, 0, std::vector<uint8_t>(8, 0)), ERROR_BITPERPIXEL},
        {"sun: TIFF inside", Sun(2, 2, 8, 4, 0, std::vector<uint8_t>(4, 0)), ERROR_UNKNOWN_COMP},
        {"sun: zero width", Sun(0, 2, 8, 1, 0, std::vector<uint8_t>(4, 0)), ERROR_FILE_FORMAT},
        {"sun: escape cut", Sun(4, 2, 8, 2, 0, {0x80, 5}), ERROR_FILE_FORMAT},
        {"sun: escaped 0x80, then a run past the end", Sun(3, 2, 8, 2, 0, {0x80, 0, 0x80, 0xFF, 4}),
         SUCCESS, 0x80, 4},
        {"sun: second row missing", Sun(4, 2, 8, 1, 0, {3, 3, 3, 3}), SUCCESS, 3, 128, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testimg::ExpectLoadsOrFails(c.file, c.what);
        tb::Bmp b;
        ASSERT_EQ(L_LoadBitmapMemory(c.file.data(), &b.b, 0, ORDER_BGR, c.file.size()), c.rc);
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
