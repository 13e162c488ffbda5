// Color Depth on a photo-sized ten-layer image: the visible layers merged into a copy, an
// optimized 8-bit palette with Floyd-Steinberg dithering from it, then every layer dithered
// onto that palette.
#include <benchmark/benchmark.h>

#include "BenchImages.h"
#include "PaletteCommands.h"
#include "Processing.h"

namespace {

void FillTenLayers(TLayeredImage& image) {
    image.Layers.Append(bench::MakeLayer(bench::kPhotoW, bench::kPhotoH, 0, false));
    for (int i = 1; i < 10; ++i) {
        auto l = bench::MakeLayer(bench::kPhotoW / 2, bench::kPhotoH / 2, i, i % 2 == 1);
        l->X = (i % 5) * 400;
        l->Y = (i / 5) * 1200 + i * 50;
        image.Layers.Append(std::move(l));
    }
}

// The argument is the number of threads the layers are shared out to (0: the default).
void BM_ColorDepth8FloydTenLayers(benchmark::State& state) {
    const L_INT oldThreads = L_GetProcessingThreads();
    L_SetProcessingThreads(L_INT(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        TLayeredImage image;
        FillTenLayers(image);
        state.ResumeTiming();
        TLayeredImage flat;
        if (flat.CopyFrom(image) != SUCCESS || flat.MergeAll() != SUCCESS) std::abort();
        const TDepthChoice choice{8, false, CRF_FLOYDSTEINDITHERING, CRF_OPTIMIZEDPALETTE};
        if (ChangeLayeredDepth(image, flat, choice) != SUCCESS) std::abort();
        benchmark::DoNotOptimize(image.Layers.At(9)->pPalette);
    }
    L_SetProcessingThreads(oldThreads);
}
BENCHMARK(BM_ColorDepth8FloydTenLayers)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace
