// WordPerfect graphics and IBM IOCA images, raw and in a MO:DCA document: what we write comes
// back unchanged, the codings other writers use decode, and hostile files fail cheaply.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace {

using Bytes = std::vector<uint8_t>;

int Load(const Bytes& f, tb::Bmp& b) {
    return L_LoadBitmapMemory(f.data(), &b.b, 0, ORDER_BGR, f.size());
}

void Append(Bytes& f, std::initializer_list<int> v) {
    for (int x : v) f.push_back(uint8_t(x));
}

TEST(WpgFiles, EveryDepthComesBackWithItsPaletteAndResolution) {
    for (int bpp : {1, 4, 8}) {
        SCOPED_TRACE(bpp);
        tb::Bmp b;
        // Wide enough for runs and literals longer than one code holds, and a record longer
        // than the short length forms; equal rows in the middle.
        b.b =
            testimg::RandomPicture(301, 140, bpp, unsigned(bpp), bpp == 4 ? BOTTOM_LEFT : TOP_LEFT);
        for (int y = 5; y < 12; ++y)
            std::memcpy(L_RowPtr(&b.b, y), L_RowPtr(&b.b, 4), size_t(b.b.BytesPerLine));
        const Bytes f = testimg::SaveToMemory(&b.b, FILE_WPG);
        FILEINFO info;
        ASSERT_EQ(L_FileInfoMemory(f.data(), f.size(), &info), SUCCESS);
        EXPECT_EQ(info.Format, FILE_WPG);
        EXPECT_EQ(info.BitsPerPixel, bpp);
        tb::Bmp back;
        ASSERT_EQ(Load(f, back), SUCCESS);
        EXPECT_EQ(L_GetLoadWarnings(), 0u);
        testimg::ExpectSameBitmap(back.b, b.b);
        EXPECT_EQ(back.b.XResolution, 150);
        EXPECT_EQ(back.b.YResolution, 75);
    }
    tb::Bmp rgb(4, 4, 24);
    int rc = 0;
    testimg::SaveToMemory(&rgb.b, FILE_WPG, 24, 0, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
}

// A file as other writers make them: header, start record, then `records`.
Bytes Wpg(std::initializer_list<int> records) {
    Bytes f = {0xFF, 'W', 'P', 'C', 16, 0, 0, 0, 1, 0x16, 1, 0, 0, 0, 0, 0};
    Append(f, {0x0F, 6, 1, 0, 0, 1, 0, 1});
    Append(f, records);
    return f;
}

TEST(WpgFiles, TheOtherCodesAndRecordKindsDecode) {
    // A type 2 bitmap of 16 x 3 at 1 bit, no colour map: 0x80 n is n bytes of 0xFF, 0 n
    // repeats the row n more times.
    const Bytes f = Wpg({0x14, 26, 0, 0,  0, 0,  0, 0,    0,    0,    0, 0, 16, 0,    3,
                         0,    1,  0, 96, 0, 96, 0, 0x01, 0x0F, 0x80, 1, 0, 2,  0x10, 0});
    tb::Bmp b;
    ASSERT_EQ(Load(f, b), SUCCESS);
    ASSERT_EQ(b.b.Width, 16);
    ASSERT_EQ(b.b.Height, 3);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(L_RowPtr(&b.b, y)[0], 0x0F);
        EXPECT_EQ(L_RowPtr(&b.b, y)[1], 0xFF);
    }
    // Without a map 0 is black.
    EXPECT_EQ(L_GetPixelColor(&b.b, 0, 0), 0x000000u);
    EXPECT_EQ(L_GetPixelColor(&b.b, 0, 15), 0xFFFFFFu);
    EXPECT_EQ(b.b.XResolution, 96);
    L_FreeBitmap(&b.b);
    // A map of two entries from index 1 changes those and keeps the rest of the default.
    const Bytes mapped = Wpg({0x0E, 10, 1, 0, 2, 0, 10, 20, 30, 40, 50, 60,   0x0B,
                              12,   2,  0, 1, 0, 4, 0,  0,  0,  0,  0,  0x81, 0x12});
    ASSERT_EQ(Load(mapped, b), SUCCESS);
    EXPECT_EQ(b.b.BitsPerPixel, 4);
    EXPECT_EQ(L_GetPixelColor(&b.b, 0, 0), 0x1E140Au); // entry 1
    EXPECT_EQ(L_GetPixelColor(&b.b, 0, 1), 0x3C3228u); // entry 2
    L_FreeBitmap(&b.b);
    // A drawing without a bitmap, and version 2, are refused as such.
    EXPECT_EQ(Load(Wpg({0x10, 0}), b), ERROR_FEATURE_NOT_SUPPORTED);
    Bytes v2 = f;
    v2[10] = 2;
    EXPECT_EQ(Load(v2, b), ERROR_FEATURE_NOT_SUPPORTED);
}

TEST(WpgFiles, HostileFilesFailCheaplyOrOpenInPart) {
    tb::Bmp b;
    const Bytes huge = Wpg({0x0B, 12, 0xFF, 0xFF, 0xFF, 0xFF, 8, 0, 0, 0, 0, 0, 0x80, 0});
    meter::Start();
    EXPECT_NE(Load(huge, b), SUCCESS);
    EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
    // A row repeated before any row, or in the middle of one.
    EXPECT_EQ(Load(Wpg({0x0B, 14, 8, 0, 2, 0, 8, 0, 0, 0, 0, 0, 0, 1, 0x10, 0}), b),
              ERROR_FILE_FORMAT);
    EXPECT_EQ(Load(Wpg({0x0B, 14, 8, 0, 2, 0, 8, 0, 0, 0, 0, 0, 0x83, 1, 0, 1}), b),
              ERROR_FILE_FORMAT);
    // A colour map running past entry 255.
    EXPECT_EQ(Load(Wpg({0x0E, 7, 0xFF, 0, 2, 0, 1, 2, 3}), b), ERROR_FILE_FORMAT);
    // Our own file cut in its rows opens with gray below and says so.
    tb::Bmp pic;
    pic.b = testimg::RandomPicture(64, 32, 8, 5);
    const Bytes f = testimg::SaveToMemory(&pic.b, FILE_WPG);
    ASSERT_EQ(L_LoadBitmapMemory(f.data(), &b.b, 0, ORDER_BGR, f.size() * 3 / 4), SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
    for (size_t cut : {size_t(20), size_t(30), f.size() / 2})
        testimg::ExpectLoadsOrFails(Bytes(f.begin(), f.begin() + long(cut)), "cut");
}

// ---------------------------------------------------------------------------
// IOCA

constexpr int kIocaFormats[] = {FILE_IOCA_G3_1DIM,  FILE_IOCA_G3_2DIM,  FILE_IOCA_G4,
                                FILE_MODCA_G3_1DIM, FILE_MODCA_G3_2DIM, FILE_MODCA_G4};

TEST(IocaFiles, EveryCodingRawAndWrappedComesBack) {
    for (int black : {0, 1})
        for (int format : kIocaFormats) {
            SCOPED_TRACE(testing::Message() << "format " << format << " black " << black);
            tb::Bmp b;
            b.b = testimg::RandomPicture(203, 41, 1, unsigned(format + black));
            b.b.pPalette[black] = RGBQUAD{0, 0, 0, 0};
            b.b.pPalette[1 - black] = RGBQUAD{255, 255, 255, 0};
            const Bytes f = testimg::SaveToMemory(&b.b, format);
            FILEINFO info;
            ASSERT_EQ(L_FileInfoMemory(f.data(), f.size(), &info), SUCCESS);
            EXPECT_EQ(info.Format, format);
            EXPECT_EQ(info.XResolution, 150);
            EXPECT_EQ(info.YResolution, 75);
            tb::Bmp back;
            ASSERT_EQ(Load(f, back), SUCCESS);
            EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, b.b, 0, testimg::Alpha::Ignore)));
        }
    tb::Bmp gray(8, 8, 8);
    int rc = 0;
    testimg::SaveToMemory(&gray.b, FILE_MODCA_G4, 8, 0, &rc);
    EXPECT_EQ(rc, ERROR_BITPERPIXEL);
}

// A structured field of a MO:DCA document.
void Field(Bytes& f, uint32_t id, const Bytes& data, uint8_t flags = 0) {
    const size_t n = 8 + data.size();
    Append(f, {0x5A, int(n >> 8), int(n & 0xff), int(id >> 16), int((id >> 8) & 0xff),
               int(id & 0xff), flags, 0, 0});
    f.insert(f.end(), data.begin(), data.end());
}

TEST(IocaFiles, PiecesAnywhereAndTheDescriptorsSizeAreRead) {
    // Two rows of 16, the first black, the second white, coded by our writer.
    tb::Bmp b(16, 2, 1);
    b.b.pPalette[0] = RGBQUAD{255, 255, 255, 0};
    b.b.pPalette[1] = RGBQUAD{0, 0, 0, 0};
    std::memset(b.b.Addr, 0, b.b.Size);
    L_RowPtr(&b.b, 0)[0] = L_RowPtr(&b.b, 0)[1] = 0xFF;
    const Bytes raw = testimg::SaveToMemory(&b.b, FILE_IOCA_G4);
    // The coded page: the first Image Data field of our segment.
    size_t at = 0;
    while (!(raw[at] == 0xFE && raw[at + 1] == 0x92)) ++at;
    const size_t n = size_t(raw[at + 2] << 8 | raw[at + 3]);
    const Bytes page(raw.begin() + long(at + 4), raw.begin() + long(at + 4 + n));
    ASSERT_GE(page.size(), 2u);
    // A segment without a size field, its page in two Image Data fields, carried in two
    // picture data fields split inside a field, the first padded, the second with an
    // extension before its data; the descriptor gives the size.
    Bytes seg = {0x70, 0x00, 0x91, 0x01, 0xFF,    0x95, 0x02, 0x82, 0x01,
                 0xFE, 0x92, 0x00, 0x01, page[0], 0xFE, 0x92, 0x00, uint8_t(page.size() - 1)};
    seg.insert(seg.end(), page.begin() + 1, page.end());
    Append(seg, {0x93, 0x00, 0x71, 0x00});
    Bytes doc;
    Field(doc, 0xD3A8A8, Bytes(10, 0x40));
    Field(doc, 0xD3A8FB, Bytes(8, 0x40));
    Field(doc, 0xD3A6FB, {0x00, 0x07, 0xD0, 0x07, 0xD0, 0x00, 16, 0x00, 2}, 0);
    Bytes first(seg.begin(), seg.begin() + 12);
    Append(first, {0, 0, 3}); // three bytes of padding, counting the count
    Field(doc, 0xD3EEFB, first, 0x08);
    Bytes second(seg.begin() + 12, seg.end());
    second.insert(second.begin(), {3, 0xAA, 0xBB}); // an extension of three bytes first
    Field(doc, 0xD3EEFB, second, 0x80);
    Field(doc, 0xD3A9FB, Bytes(8, 0x40));
    Field(doc, 0xD3A9A8, Bytes(8, 0x40));
    FILEINFO info;
    ASSERT_EQ(L_FileInfoMemory(doc.data(), doc.size(), &info), SUCCESS);
    EXPECT_EQ(info.Format, FILE_MODCA_G4);
    EXPECT_EQ(info.XResolution, 200); // 2000 points per ten inches
    tb::Bmp back;
    ASSERT_EQ(Load(doc, back), SUCCESS);
    EXPECT_TRUE(testimg::Matches(testimg::Compare(back.b, b.b, 0, testimg::Alpha::Ignore)));
}

TEST(IocaFiles, HostileFilesFailCheaply) {
    const RGBQUAD pal[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    tb::Bmp b(64, 3, 1, pal);
    std::memset(b.b.Addr, 0xFF, b.b.Size);
    const Bytes raw = testimg::SaveToMemory(&b.b, FILE_IOCA_G4);
    // The size field is at offset 5: id, length, unit base, two resolutions, then the size.
    auto withSize = [&](int w, int h) {
        Bytes f = raw;
        f[12] = uint8_t(w >> 8);
        f[13] = uint8_t(w);
        f[14] = uint8_t(h >> 8);
        f[15] = uint8_t(h);
        return f;
    };
    tb::Bmp out;
    Bytes f = withSize(65535, 65535);
    meter::Start();
    EXPECT_NE(Load(f, out), SUCCESS);
    EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
    // Rows of 64 black points coded for a picture 8 wide: more run than row.
    f = withSize(8, 3);
    EXPECT_EQ(Load(f, out), ERROR_FILE_FORMAT);
    // An uncompressed picture, and one with four bits a point, are not read.
    f = raw;
    f[16 + 2] = 0x03;
    EXPECT_EQ(Load(f, out), ERROR_FEATURE_NOT_SUPPORTED);
    f = raw;
    f[16 + 6] = 4;
    EXPECT_EQ(Load(f, out), ERROR_FEATURE_NOT_SUPPORTED);
    const Bytes doc = testimg::SaveToMemory(&b.b, FILE_MODCA_G3_2DIM);
    for (size_t cut : {size_t(9), size_t(100), doc.size() / 2, doc.size() - 20})
        testimg::ExpectLoadsOrFails(Bytes(doc.begin(), doc.begin() + long(cut)), "cut");
}

} // namespace
