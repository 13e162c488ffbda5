// The processing functions on a 4000 x 3000 photo stored as the editor stores it (32 bits,
// opaque), on one thread and on all: the rows bench/processing.sh sets beside the plain-C
// floor and the peers. QUILLO_BENCH_PHOTO names a picture to use instead of the made one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "BenchImages.h"
#include "Effects.h"
#include "Processing.h"

namespace {

BITMAPHANDLE MakePhoto() {
    BITMAPHANDLE p;
    if (const char* path = std::getenv("QUILLO_BENCH_PHOTO")) {
        if (L_LoadBitmap(path, &p, 32, ORDER_BGR) != SUCCESS) std::abort();
        return p;
    }
    return bench::MakePhoto(32);
}

const BITMAPHANDLE& Photo() {
    static BITMAPHANDLE b = MakePhoto();
    return b;
}

// Times `op` on a fresh copy of the photo (some change its depth or size); the copy and the
// free are not timed. Argument: threads (0 = all).
void Run(benchmark::State& state, const std::function<L_INT(BITMAPHANDLE*)>& op) {
    L_SetProcessingThreads(L_INT(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        BITMAPHANDLE work;
        if (L_CopyBitmap(&work, &Photo()) != SUCCESS) std::abort();
        state.ResumeTiming();
        if (op(&work) != SUCCESS) state.SkipWithError("failed");
        state.PauseTiming();
        L_FreeBitmap(&work);
        state.ResumeTiming();
    }
    L_SetProcessingThreads(0);
}

#define QUILLO_OP(name, expr)                             \
    void BM_##name(benchmark::State& state) {             \
        Run(state, [](BITMAPHANDLE* b) { return expr; }); \
    }                                                     \
    BENCHMARK(BM_##name)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()

QUILLO_OP(Invert, L_InvertBitmap(b));
QUILLO_OP(Grayscale, L_GrayScaleBitmap(b, 8));
QUILLO_OP(Posterize4, L_PosterizeBitmap(b, 4));
QUILLO_OP(Average3, L_AverageFilterBitmap(b, 3));
QUILLO_OP(Average5, L_AverageFilterBitmap(b, 5));
QUILLO_OP(Median3, L_MedianFilterBitmap(b, 3));
QUILLO_OP(Sharpen, L_SharpenBitmap(b, 500));
QUILLO_OP(Blur, L_SharpenBitmap(b, -500));
QUILLO_OP(Emboss, L_EmbossBitmap(b, 0, 250));
QUILLO_OP(AddNoise, L_AddBitmapNoise(b, 125, 0, 7));
QUILLO_OP(Equalize, L_HistoEqualizeBitmap(b));
QUILLO_OP(AutoContrast, L_StretchBitmapIntensity(b));

QUILLO_OP(RotateFine750, Lx_RotateBitmapFine(b, 750, 1, RGB(0, 0, 0)));

} // namespace
