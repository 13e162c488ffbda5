// Neighbourhood filters against straightforward per-pixel windows with replicated edges.
#include <algorithm>
#include <cmath>

#include "ProcessingTestUtil.h"

using namespace proctest;

namespace {

int RoundDiv(int64_t s, int64_t d) { return int(std::floor(double(s) / double(d) + 0.5)); }

TFilterRef Mean(int n) {
    return [n](const TSource& src, int x, int y, int ch) {
        int64_t s = 0;
        for (int dy = -(n - 1) / 2; dy <= n / 2; ++dy)
            for (int dx = -(n - 1) / 2; dx <= n / 2; ++dx) s += src(x + dx, y + dy, ch);
        return RoundDiv(s, int64_t(n) * n);
    };
}

TFilterRef Median(int n) {
    return [n](const TSource& src, int x, int y, int ch) {
        std::vector<int> v;
        for (int dy = -(n - 1) / 2; dy <= n / 2; ++dy)
            for (int dx = -(n - 1) / 2; dx <= n / 2; ++dx) v.push_back(src(x + dx, y + dy, ch));
        std::sort(v.begin(), v.end());
        return v[(v.size() - 1) / 2];
    };
}

TFilterRef Kernel(std::vector<int> k, double scale, int bias) {
    return [=](const TSource& src, int x, int y, int ch) {
        int s = 0;
        for (int i = 0; i < 9; ++i) s += k[size_t(i)] * src(x + i % 3 - 1, y + i / 3 - 1, ch);
        return int(std::floor(s * scale + 0.5)) + bias;
    };
}

} // namespace

TEST(NeighbourhoodFilters, AverageIsTheRoundedMeanOfTheWindow) {
    // 3 and 5 have their own loops, 4 and 6 are uneven windows, 9 and 12 take running sums,
    // 40 is wider than the picture.
    for (int n : {2, 3, 4, 5, 6, 9, 12, 40}) {
        ExpectFilter(
            "average", [n](BITMAPHANDLE* b) { return L_AverageFilterBitmap(b, n); }, Mean(n));
    }
    // Rows of 24 and 32 bits this wide are summed a piece at a time: the windows across
    // each seam read both pieces.
    for (int n : {3, 5})
        ExpectFilter(
            "average", [n](BITMAPHANDLE* b) { return L_AverageFilterBitmap(b, n); }, Mean(n), 1500,
            4);
}

TEST(NeighbourhoodFilters, MedianIsTheMiddleOfTheWindowAndTheLowerOneOfAnEvenCount) {
    for (int n : {2, 3, 4, 5, 8, 21}) {
        ExpectFilter(
            "median", [n](BITMAPHANDLE* b) { return L_MedianFilterBitmap(b, n); }, Median(n));
    }
}

TEST(NeighbourhoodFilters, SharpenAddsTheDetailAboveABinomialBlurAndBlurRemovesIt) {
    static const int w[5] = {1, 4, 6, 4, 1};
    auto ref = [](double f) -> TFilterRef {
        return [f](const TSource& src, int x, int y, int ch) {
            int blur = 0;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    blur += w[dy + 2] * w[dx + 2] * src(x + dx, y + dy, ch);
            const int v = src(x, y, ch);
            return v + int(std::floor((v - blur / 256.0) * f + 0.5));
        };
    };
    ExpectFilter(
        "sharpen", [](BITMAPHANDLE* b) { return L_SharpenBitmap(b, 500); }, ref(1.0));
    ExpectFilter(
        "sharpen", [](BITMAPHANDLE* b) { return L_SharpenBitmap(b, 1000); }, ref(2.0));
    ExpectFilter(
        "blur", [](BITMAPHANDLE* b) { return L_SharpenBitmap(b, -500); }, ref(-0.5));
}

TEST(NeighbourhoodFilters, SpatialFiltersAndEmbossWeighTheThreeByThreeWindow) {
    ExpectFilter(
        "Sobel horizontal",
        [](BITMAPHANDLE* b) { return L_SpatialFilterBitmap(b, FLT_SOBEL_HORZ); },
        Kernel({-1, -2, -1, 0, 0, 0, 1, 2, 1}, 1, 0));
    ExpectFilter(
        "gradient north-east",
        [](BITMAPHANDLE* b) { return L_SpatialFilterBitmap(b, FLT_GRADIENT_N + 1); },
        Kernel({1, 1, 1, -1, -2, 1, -1, -1, 1}, 1, 0));
    ExpectFilter(
        "line segment right to left",
        [](BITMAPHANDLE* b) { return L_SpatialFilterBitmap(b, FLT_LAST); },
        Kernel({-1, -1, 2, -1, 2, -1, 2, -1, -1}, 1, 0));
    // The light from the east: the eastern neighbour minus the western one, on mid-gray.
    ExpectFilter(
        "emboss east", [](BITMAPHANDLE* b) { return L_EmbossBitmap(b, EMBOSS_E, 500); },
        Kernel({0, 0, 0, -1, 0, 1, 0, 0, 0}, 2, 128));
    ExpectFilter(
        "emboss south-west", [](BITMAPHANDLE* b) { return L_EmbossBitmap(b, EMBOSS_SW, 125); },
        Kernel({0, 0, -1, 0, 0, 0, 1, 0, 0}, 0.5, 128));
}

TEST(NeighbourhoodFilters, BandsOnSeveralThreadsGiveTheSameRowsAsOne) {
    // Tall enough for several bands; each band reads rows its neighbours overwrite.
    const std::vector<std::function<L_INT(BITMAPHANDLE*)>> ops = {
        [](BITMAPHANDLE* b) { return L_AverageFilterBitmap(b, 5); },
        [](BITMAPHANDLE* b) { return L_AverageFilterBitmap(b, 30); },
        [](BITMAPHANDLE* b) { return L_MedianFilterBitmap(b, 3); },
        [](BITMAPHANDLE* b) { return L_MedianFilterBitmap(b, 7); },
        [](BITMAPHANDLE* b) { return L_SharpenBitmap(b, 900); },
        [](BITMAPHANDLE* b) { return L_EmbossBitmap(b, EMBOSS_N, 1000); },
    };
    for (size_t i = 0; i < ops.size(); ++i) {
        TOwnedBitmap one = RandomBitmap(37, 150, {32, false}, 4), many;
        SetTwoRectRegion(one.get());
        ASSERT_EQ(L_CopyBitmap(many.get(), one.get()), SUCCESS);
        L_SetProcessingThreads(1);
        ASSERT_EQ(ops[i](one.get()), SUCCESS);
        L_SetProcessingThreads(5);
        ASSERT_EQ(ops[i](many.get()), SUCCESS);
        L_SetProcessingThreads(0);
        EXPECT_EQ(std::memcmp(one->Addr, many->Addr, one->Size), 0) << "operation " << i;
    }
}

TEST(NeighbourhoodFilters, OutOfRangeArgumentsChangeNothing) {
    TOwnedBitmap b = RandomBitmap(6, 6, {24, false}, 2), before;
    ASSERT_EQ(L_CopyBitmap(before.get(), b.get()), SUCCESS);
    EXPECT_EQ(L_AverageFilterBitmap(b.get(), -1), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_MedianFilterBitmap(b.get(), 0), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_MedianFilterBitmap(b.get(), 256), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_SharpenBitmap(b.get(), 1001), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_SpatialFilterBitmap(b.get(), FLT_LAST + 1), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_EmbossBitmap(b.get(), 8, 100), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_EmbossBitmap(b.get(), 0, 1001), ERROR_INV_PARAMETER);
    EXPECT_EQ(std::memcmp(b->Addr, before->Addr, b->Size), 0);
    // Sizes 0 and 1 leave the picture as it is (a feather of width 0 blurs nothing).
    EXPECT_EQ(L_AverageFilterBitmap(b.get(), 0), SUCCESS);
    EXPECT_EQ(L_MedianFilterBitmap(b.get(), 1), SUCCESS);
    EXPECT_EQ(std::memcmp(b->Addr, before->Addr, b->Size), 0);
    BITMAPHANDLE empty{};
    EXPECT_EQ(L_SharpenBitmap(&empty, 100), ERROR_NO_BITMAP);
}
