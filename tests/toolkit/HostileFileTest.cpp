// Small hostile files cost what their data is worth, and files that end early open with
// what they hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace fs = std::filesystem;

namespace {

const fs::path kData = QUILLO_TEST_DATA;

bool IsImage(const fs::path& p) {
    const std::string e = p.extension().string();
    return e == ".bmp" || e == ".png" || e == ".jpg" || e == ".tif" || e == ".pcx" || e == ".dcx" ||
           e == ".tga" || e == ".ras" || e == ".mac" || e == ".img" || e == ".msp" || e == ".pct";
}

uint32_t Color(const BITMAPHANDLE& b, int x, int y) { return L_GetPixelColor(&b, y, x); }

} // namespace

// Every crafted file (made by make_hostile.py beside them) loads or fails within the
// budget its size allows, whatever its header claims.
TEST(HostileFiles, NoDecoderTakesMoreThanTheFilePaysFor) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(kData / "malformed")) {
        if (!IsImage(entry.path())) continue;
        const std::vector<uint8_t> data = testimg::ReadFile(entry.path());
        tb::Bmp b;
        meter::Start();
        const L_INT rc = L_LoadBitmapMemory(data.data(), &b.b, 0, ORDER_BGR, data.size());
        const uint64_t peak = meter::Peak();
        EXPECT_LE(peak, L_DecodeBudget(data.size())) << entry.path().filename() << " rc " << rc;
        // Those claiming 16384 x 16384 from a kilobyte cannot be real pictures.
        const bool claimsHuge = entry.path().filename().string().find("16384") != std::string::npos;
        if (claimsHuge) {
            EXPECT_EQ(rc, ERROR_FILE_FORMAT) << entry.path().filename();
        }
        ++files;
    }
    EXPECT_GE(files, 23);
    // The budget grows with the file: a real picture of that size is not refused.
    EXPECT_EQ(L_DecodeBudget(0), uint64_t(64) << 20);
    EXPECT_EQ(L_DecodeBudget(1000), (uint64_t(64) << 20) + 2'000'000);
}

// A file cut short shows the rows it holds and gray below (above, for a bottom-up BMP),
// and says so; one cut before its first row fails.
TEST(HostileFiles, FilesThatEndEarlyOpenInPartWithAWarning) {
    struct Case {
        const char* file;
        bool bottomUp;
    };
    const Case cases[] = {{"bmp/pal8.bmp", true},           {"bmp/rgb24-topdown.bmp", false},
                          {"bmp/rle8.bmp", true},           {"bmp/rgb555.bmp", true},
                          {"png/rgb8.png", false},          {"png/palette4.png", false},
                          {"jpeg/baseline-444.jpg", false}, {"pcx/rgb24.pcx", false},
                          {"tga/rgb24-rle.tga", true},      {"sun/rgb24-rle.ras", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<uint8_t> data = testimg::ReadFile(kData / c.file);
        tb::Bmp whole, part, none;
        ASSERT_EQ(L_LoadBitmapMemory(data.data(), &whole.b, 0, ORDER_BGR, data.size()), SUCCESS);
        EXPECT_EQ(L_GetLoadWarnings(), 0u);
        const int h = whole.b.Height, w = whole.b.Width;
        const size_t cut = data.size() * 3 / 4;
        ASSERT_EQ(L_LoadBitmapMemory(data.data(), &part.b, 0, ORDER_BGR, cut), SUCCESS);
        EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
        ASSERT_EQ(part.b.Height, h);
        const int real = c.bottomUp ? h - 1 : 0, missing = c.bottomUp ? 0 : h - 1;
        // The missing rows are one colour: gray, or a palette's entry nearest to it.
        const uint32_t fill = Color(part.b, 0, missing);
        if (part.b.BitsPerPixel > 16) {
            EXPECT_EQ(fill, RGB(128, 128, 128));
        }
        for (int x = 0; x < w; ++x) {
            ASSERT_EQ(Color(part.b, x, real), Color(whole.b, x, real)) << x;
            ASSERT_EQ(Color(part.b, x, missing), fill) << x;
        }
        // Only the headers: not a single row.
        const size_t headers =
            c.file[0] == 'b' ? size_t(data[10] | data[11] << 8) + 1 : data.size() / 8;
        EXPECT_EQ(L_LoadBitmapMemory(data.data(), &none.b, 0, ORDER_BGR, headers),
                  ERROR_FILE_FORMAT);
    }
    // TIFF strips past the end of the file.
    const std::vector<uint8_t> tif =
        testimg::ReadFile(kData / "malformed/tiff-cut-after-four-rows.tif");
    tb::Bmp t;
    ASSERT_EQ(L_LoadBitmapMemory(tif.data(), &t.b, 0, ORDER_BGR, tif.size()), SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
    EXPECT_EQ(Color(t.b, 5, 3), RGB(53, 53, 53));
    EXPECT_EQ(Color(t.b, 5, 4), RGB(128, 128, 128));
}
