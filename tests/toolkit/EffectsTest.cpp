// Noise, mosaic and oil paint.
#include <map>

#include "ProcessingTestUtil.h"

using namespace proctest;
using lt::BGRA;

TEST(Effects, NoiseIsBoundedByItsRangeAndTheSameForTheSameSeed) {
    // Mid-gray 32-bit picture: the noise of +-51 levels (range 200) never clips.
    auto gray = [] {
        TOwnedBitmap b = RandomBitmap(64, 80, {32, false}, 1);
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 64; ++x) L_PutPixelColor(b.get(), y, x, RGB(128, 128, 128));
        return b;
    };
    TOwnedBitmap a = gray(), same = gray(), other = gray(), red = gray(), o = gray();
    L_SetProcessingThreads(1);
    ASSERT_EQ(L_AddBitmapNoise(a.get(), 200, NOISE_ALL_CHANNELS, 7), SUCCESS);
    L_SetProcessingThreads(4);
    ASSERT_EQ(L_AddBitmapNoise(same.get(), 200, NOISE_ALL_CHANNELS, 7), SUCCESS);
    ASSERT_EQ(L_AddBitmapNoise(other.get(), 200, NOISE_ALL_CHANNELS, 8), SUCCESS);
    ASSERT_EQ(L_AddBitmapNoise(red.get(), 200, NOISE_RED, 7), SUCCESS);
    L_SetProcessingThreads(0);
    EXPECT_EQ(std::memcmp(a->Addr, same->Addr, a->Size), 0) << "threads change nothing";
    EXPECT_NE(std::memcmp(a->Addr, other->Addr, a->Size), 0) << "another seed, other noise";
    std::map<int, int> seen;
    int64_t sum = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 64; ++x) {
            const BGRA p = At(a.get(), x, y), q = At(red.get(), x, y);
            for (int v : {p.r, p.g, p.b}) ++seen[v - 128], sum += v - 128;
            ASSERT_EQ(p.a, At(o.get(), x, y).a);
            ASSERT_TRUE(q.g == 128 && q.b == 128) << "red only";
        }
    EXPECT_EQ(seen.begin()->first, -51);
    EXPECT_EQ(seen.rbegin()->first, 51);
    EXPECT_EQ(seen.size(), 103u);
    EXPECT_LT(std::abs(double(sum) / (64 * 80 * 3)), 1.0);
    EXPECT_EQ(L_AddBitmapNoise(a.get(), 1001, 0, 0), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_AddBitmapNoise(a.get(), 10, 4, 0), ERROR_INV_PARAMETER);
}

TEST(Effects, NoiseStaysInsideTheRegionAndKeepsPalettesAndGrayLevels) {
    for (const Depth& d : AllDepths()) {
        TOwnedBitmap b = RandomBitmap(20, 12, d, 3), before;
        ASSERT_EQ(L_CopyBitmap(before.get(), b.get()), SUCCESS);
        SetTwoRectRegion(b.get());
        ExpectSharedGetsTheSame(
            "noise", d, [](BITMAPHANDLE* p) { return L_AddBitmapNoise(p, 1000, NOISE_GREEN, 1); },
            b.get(), before.get());
        bool changed = false;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x) {
                const BGRA o = At(before.get(), x, y), n = At(b.get(), x, y);
                if (!Inside(b.get(), x, y)) {
                    ASSERT_EQ(n, o) << d.Name();
                }
                changed |= !(n == o);
                if (d.gray) {
                    ASSERT_TRUE(n.r == n.g && n.g == n.b);
                }
            }
        EXPECT_TRUE(changed) << d.Name();
        if (d.bpp <= 8) {
            EXPECT_EQ(std::memcmp(b->pPalette, before->pPalette, 4u << d.bpp), 0);
        }
    }
}

TEST(Effects, MosaicTilesFromTheTopLeftTakeTheMeanOfTheirPixels) {
    for (int n : {2, 4, 20}) {
        ExpectFilter(
            "mosaic", [n](BITMAPHANDLE* b) { return L_MosaicBitmap(b, n); },
            [n](const TSource& src, int x, int y, int ch) {
                int s = 0, count = 0;
                for (int ty = y / n * n; ty < std::min(9, y / n * n + n); ++ty)
                    for (int tx = x / n * n; tx < std::min(13, x / n * n + n); ++tx)
                        s += src(tx, ty, ch), ++count;
                return (s + count / 2) / count;
            });
    }
}

TEST(Effects, OilPaintTakesTheMeanOfTheFullestBrightnessBand) {
    for (int n : {2, 3, 6}) {
        ExpectFilter(
            "oilify", [n](BITMAPHANDLE* b) { return L_OilifyBitmap(b, n); },
            [n](const TSource& src, int x, int y, int ch) {
                int count[32] = {}, sum[32] = {};
                for (int dy = -(n - 1) / 2; dy <= n / 2; ++dy)
                    for (int dx = -(n - 1) / 2; dx <= n / 2; ++dx) {
                        const int r = src(x + dx, y + dy, 2), g = src(x + dx, y + dy, 1),
                                  b = src(x + dx, y + dy, 0);
                        const int band = ((r * 77 + g * 150 + b * 29 + 128) >> 8) / 8;
                        ++count[band];
                        sum[band] += src(x + dx, y + dy, ch);
                    }
                int best = 0;
                for (int i = 1; i < 32; ++i)
                    if (count[i] > count[best]) best = i;
                return (sum[best] + count[best] / 2) / count[best];
            },
            37); // small windows go sixteen pixels at a time: three blocks, the last one short
    }
}

TEST(Effects, ACancelledOilPaintFailsWithTheCallersCode) {
    TOwnedBitmap b = RandomBitmap(50, 200, {24, false}, 5);
    STATUSCALLBACK old = nullptr;
    void* oldUser = nullptr;
    int calls = 0;
    L_SetStatusCallBack(
        [](L_INT pct, void* user) -> L_INT {
            ++*static_cast<int*>(user);
            return pct >= 20 ? -100 : SUCCESS;
        },
        &calls, &old, &oldUser);
    // On one thread the progress climbs row by row, so the cancel comes after a few reports.
    const L_INT threads = L_GetProcessingThreads();
    L_SetProcessingThreads(1);
    EXPECT_EQ(L_OilifyBitmap(b.get(), 5), -100);
    L_SetProcessingThreads(threads);
    L_SetStatusCallBack(old, oldUser);
    EXPECT_GT(calls, 1);
}
