// Every processing operation with random arguments, in range and out of it, on small random
// bitmaps of every depth and shape, some with a region and some cancelled midway. Run under
// the sanitizer build this shows any read or write outside a bitmap; here it checks that
// refused arguments change nothing and that nothing outside the region or in the alpha
// byte ever changes.
#include "ProcessingTestUtil.h"

using namespace proctest;

namespace {

struct TRange {
    int lo, hi;
};

struct TFuzzOp {
    const char* name;
    std::vector<TRange> args;
    std::function<L_INT(BITMAPHANDLE*, const std::vector<int>&)> run;
};

const std::vector<TFuzzOp>& FuzzOps() {
    using V = const std::vector<int>&;
    static const std::vector<TFuzzOp> ops = {
        {"intensity",
         {{-1000, 1000}},
         [](BITMAPHANDLE* b, V a) { return L_ChangeBitmapIntensity(b, a[0]); }},
        {"contrast",
         {{-1000, 1000}},
         [](BITMAPHANDLE* b, V a) { return L_ChangeBitmapContrast(b, a[0]); }},
        {"hue", {{-360, 360}}, [](BITMAPHANDLE* b, V a) { return L_ChangeBitmapHue(b, a[0]); }},
        {"saturation",
         {{-1000, 1000}},
         [](BITMAPHANDLE* b, V a) { return L_ChangeBitmapSaturation(b, a[0]); }},
        {"gamma", {{1, 1000}}, [](BITMAPHANDLE* b, V a) { return L_GammaCorrectBitmap(b, a[0]); }},
        {"sharpen", {{-1000, 1000}}, [](BITMAPHANDLE* b, V a) { return L_SharpenBitmap(b, a[0]); }},
        {"equalize", {}, [](BITMAPHANDLE* b, V) { return L_HistoEqualizeBitmap(b); }},
        {"stretch", {}, [](BITMAPHANDLE* b, V) { return L_StretchBitmapIntensity(b); }},
        {"detect",
         {{0, 255}, {0, 255}},
         [](BITMAPHANDLE* b, V a) { return L_IntensityDetectBitmap(b, a[0], a[1]); }},
        {"invert", {}, [](BITMAPHANDLE* b, V) { return L_InvertBitmap(b); }},
        {"average",
         {{0, 32768}},
         [](BITMAPHANDLE* b, V a) { return L_AverageFilterBitmap(b, a[0]); }},
        {"median", {{1, 255}}, [](BITMAPHANDLE* b, V a) { return L_MedianFilterBitmap(b, a[0]); }},
        {"spatial",
         {{0, FLT_LAST}},
         [](BITMAPHANDLE* b, V a) { return L_SpatialFilterBitmap(b, a[0]); }},
        {"noise",
         {{0, 1000}, {0, 3}},
         [](BITMAPHANDLE* b, V a) { return L_AddBitmapNoise(b, a[0], a[1], L_UINT(a[0] * 31)); }},
        {"emboss",
         {{0, 7}, {0, 1000}},
         [](BITMAPHANDLE* b, V a) { return L_EmbossBitmap(b, a[0], a[1]); }},
        {"mosaic", {{1, 4096}}, [](BITMAPHANDLE* b, V a) { return L_MosaicBitmap(b, a[0]); }},
        {"oilify", {{1, 255}}, [](BITMAPHANDLE* b, V a) { return L_OilifyBitmap(b, a[0]); }},
        {"posterize", {{2, 256}}, [](BITMAPHANDLE* b, V a) { return L_PosterizeBitmap(b, a[0]); }},
    };
    return ops;
}

} // namespace

TEST(ProcessingFuzz, AnyArgumentsOnAnyBitmapStayInsideTheBitmapAndItsRegion) {
    uint32_t s = 12345;
    auto rnd = [&](int lo, int hi) { return lo + int(Next(s) % uint32_t(hi - lo + 1)); };
    static int cancelAt = 0;
    for (int iter = 0; iter < 5000; ++iter) {
        const Depth d = AllDepths()[size_t(rnd(0, int(AllDepths().size()) - 1))];
        const int w = rnd(1, 24), h = rnd(1, 70);
        TOwnedBitmap b = RandomBitmap(w, h, d, Next(s)), before;
        ASSERT_EQ(L_CopyBitmap(before.get(), b.get()), SUCCESS);
        if (rnd(0, 2) == 0) {
            const RECT r{rnd(-3, w), rnd(-3, h), rnd(-3, w + 3), rnd(-3, h + 3)};
            ASSERT_EQ(L_SetBitmapRgnRect(b.get(), nullptr, &r, L_RGN_SET), SUCCESS);
        }
        const TFuzzOp& op = FuzzOps()[size_t(rnd(0, int(FuzzOps().size()) - 1))];
        std::vector<int> args;
        bool valid = true;
        for (const TRange& r : op.args) {
            switch (rnd(0, 5)) {
                case 0: args.push_back(r.lo - rnd(1, 1000)), valid = false; break;
                case 1: args.push_back(r.hi + rnd(1, 1000)), valid = false; break;
                case 2: args.push_back(rnd(0, 1) ? r.lo : r.hi); break;
                default: args.push_back(rnd(r.lo, r.hi)); break;
            }
        }
        if (std::string(op.name) == "detect" && args[0] > args[1]) valid = false;
        L_SetProcessingThreads(rnd(1, 4));
        const bool cancel = rnd(0, 7) == 0;
        cancelAt = rnd(0, 99);
        if (cancel)
            L_SetStatusCallBack(
                [](L_INT pct, void*) -> L_INT { return pct >= cancelAt ? -100 : SUCCESS; },
                nullptr);
        const L_INT rc = op.run(b.get(), args);
        L_SetStatusCallBack(nullptr, nullptr);
        const std::string where = std::string(op.name) + " at " + d.Name() + " bits, " +
                                  std::to_string(w) + " x " + std::to_string(h) + ", iteration " +
                                  std::to_string(iter);
        if (!valid) {
            ASSERT_EQ(rc, ERROR_INV_PARAMETER) << where;
            ASSERT_EQ(std::memcmp(b->Addr, before->Addr, b->Size), 0) << where;
            continue;
        }
        ASSERT_TRUE(rc == SUCCESS || (cancel && rc == -100)) << where << ": " << rc;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const lt::BGRA o = At(before.get(), x, y), n = At(b.get(), x, y);
                if (!Inside(b.get(), x, y)) {
                    ASSERT_EQ(n, o) << where << " outside the region at " << x << "," << y;
                }
                ASSERT_EQ(n.a, o.a) << where;
            }
    }
    L_SetProcessingThreads(0);
}
