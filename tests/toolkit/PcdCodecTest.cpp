// Photo CD: a pack ImageMagick wrote opens as the Base picture ImageMagick sees, turned
// upright as the pack says, with the smallest picture as its thumbnail; a pack cut short
// shows what it holds.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "codecs/Codec.h"

namespace lt::codec {
int LoadPhotoCdLevel(const uint8_t* data, size_t size, int level, BITMAPHANDLE* out,
                     LoadContext& ctx);
}

namespace {

const std::string kData = std::string(QUILLO_TEST_DATA) + "/pcd/";

} // namespace

TEST(PcdCodec, PacksOpenAsTheBasePictureUprightWithTheSmallestAsThumbnail) {
    const std::string path = kData + "im.pcd";
    FILEINFO info;
    ASSERT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS);
    EXPECT_EQ(info.Format, FILE_PCD);
    EXPECT_EQ(info.Width, 768);
    EXPECT_EQ(info.Height, 512);
    EXPECT_EQ(info.BitsPerPixel, 24);
    tb::Bmp b, want;
    ASSERT_EQ(L_LoadBitmap(path.c_str(), &b.b, 0, ORDER_BGR), SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), 0u);
    ASSERT_EQ(L_LoadBitmap((kData + "im.png").c_str(), &want.b, 24, ORDER_BGR), SUCCESS);
    // ImageMagick maps PhotoYCC through a tone curve of its own, where we use Kodak's
    // conversion, so colours differ; the picture (where each square and the gradient are)
    // must be the same: brightness goes up and down together.
    ASSERT_EQ(want.b.Width, b.b.Width);
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    int n = 0;
    for (int y = 0; y < 512; y += 3)
        for (int x = 0; x < 768; x += 5, ++n) {
            auto luma = [&](const BITMAPHANDLE& m) {
                const COLORREF c = L_GetPixelColor(&m, y, x);
                return 0.299 * GetRValue(c) + 0.587 * GetGValue(c) + 0.114 * GetBValue(c);
            };
            const double a = luma(b.b), v = luma(want.b);
            sa += a, sb += v, saa += a * a, sbb += v * v, sab += a * v;
        }
    const double r = (n * sab - sa * sb) / std::sqrt((n * saa - sa * sa) * (n * sbb - sb * sb));
    EXPECT_GT(r, 0.98);
    // Red at the top and blue at the bottom, as in the picture ImageMagick packed: each chroma
    // channel is where it belongs.
    auto redOverBlue = [&](int y) {
        long d = 0;
        for (int x = 0; x < 768; ++x) {
            const COLORREF c = L_GetPixelColor(&b.b, y, x);
            d += long(GetRValue(c)) - long(GetBValue(c));
        }
        return d;
    };
    EXPECT_GT(redOverBlue(5), 0);
    EXPECT_LT(redOverBlue(505), 0);

    // The smaller pictures are the same scene.
    std::vector<uint8_t> data = testimg::ReadFile(path);
    for (int level : {0, 1}) {
        tb::Bmp small;
        lt::codec::LoadContext ctx(nullptr, nullptr, nullptr, data.size());
        ASSERT_EQ(lt::codec::LoadPhotoCdLevel(data.data(), data.size(), level, &small.b, ctx),
                  SUCCESS);
        EXPECT_EQ(small.b.Width, 192 << level);
        const int k = 4 >> level;
        for (auto [x, y] : {std::pair{10, 10}, std::pair{150, 100}}) {
            const COLORREF s = L_GetPixelColor(&small.b, y, x),
                           l = L_GetPixelColor(&b.b, y * k, x * k);
            EXPECT_NEAR(GetRValue(s), GetRValue(l), 40) << level;
            EXPECT_NEAR(GetBValue(s), GetBValue(l), 40) << level;
        }
    }
    tb::Bmp stamp;
    ASSERT_EQ(L_GetCompressFileStamp(path.c_str(), &stamp.b, 24), SUCCESS);
    EXPECT_EQ(stamp.b.Width, 192);
    EXPECT_EQ(stamp.b.Height, 128);

    // Each quarter turn the pack records is undone: one turns counter-clockwise (ImageMagick
    // agrees), so the stored top-right corner becomes the top left.
    for (int turns : {1, 2, 3}) {
        SCOPED_TRACE(turns);
        std::vector<uint8_t> turned = data;
        turned[0xE02] = uint8_t(turns);
        tb::Bmp t;
        ASSERT_EQ(L_LoadBitmapMemory(turned.data(), &t.b, 0, ORDER_BGR, turned.size()), SUCCESS);
        ASSERT_EQ(t.b.Width, turns == 2 ? 768 : 512);
        const int W = 767, H = 511;
        const std::pair<int, int> corner = turns == 1   ? std::pair{W, 0}
                                           : turns == 2 ? std::pair{W, H}
                                                        : std::pair{0, H};
        EXPECT_EQ(L_GetPixelColor(&t.b, 0, 0), L_GetPixelColor(&b.b, corner.second, corner.first));
    }
}

TEST(PcdCodec, PacksCutShortShowWhatTheyHold) {
    std::vector<uint8_t> data = testimg::ReadFile(kData + "im.pcd");
    // Half of Base's rows.
    const size_t half = 96 * 0x800 + 768 * 3 * 128;
    tb::Bmp whole, part, turned;
    ASSERT_EQ(L_LoadBitmapMemory(data.data(), &whole.b, 0, ORDER_BGR, data.size()), SUCCESS);
    ASSERT_EQ(L_LoadBitmapMemory(data.data(), &part.b, 0, ORDER_BGR, half), SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
    EXPECT_EQ(L_GetPixelColor(&part.b, 200, 5), L_GetPixelColor(&whole.b, 200, 5));
    EXPECT_EQ(L_GetPixelColor(&part.b, 300, 5), RGB(128, 128, 128));
    // Turned, the missing rows are a missing side.
    data[0xE02] = 3;
    ASSERT_EQ(L_LoadBitmapMemory(data.data(), &turned.b, 0, ORDER_BGR, half), SUCCESS);
    EXPECT_EQ(L_GetLoadWarnings(), unsigned(LOADWARN_TRUNCATED));
    EXPECT_EQ(L_GetPixelColor(&turned.b, 5, 5), RGB(128, 128, 128));
    EXPECT_EQ(L_GetPixelColor(&turned.b, 5, 500), L_GetPixelColor(&whole.b, 11, 5));
    // Nothing of Base at all is not a picture; nor is a pack without its signature.
    tb::Bmp none;
    EXPECT_EQ(L_LoadBitmapMemory(data.data(), &none.b, 0, ORDER_BGR, 96 * 0x800),
              ERROR_FILE_FORMAT);
    data[0x800] = 'X';
    EXPECT_EQ(L_LoadBitmapMemory(data.data(), &none.b, 0, ORDER_BGR, data.size()),
              ERROR_FILE_FORMAT);
}
