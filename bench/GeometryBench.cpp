// Resizing and rotating a photo-sized 32-bit image.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "Toolkit.h"

namespace {

constexpr int kW = 4000, kH = 3000;

// Smooth shading with a fine pattern and varying alpha, made once and copied per run.
const BITMAPHANDLE& Source() {
    static BITMAPHANDLE b = [] {
        BITMAPHANDLE s;
        if (L_CreateBitmap(&s, TYPE_CONV, kW, kH, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
            std::abort();
        uint32_t seed = 2463534242u;
        for (int y = 0; y < kH; ++y) {
            uint8_t* row = L_RowPtr(&s, y);
            for (int x = 0; x < kW; ++x) {
                seed ^= seed << 13;
                seed ^= seed >> 17;
                seed ^= seed << 5;
                row[x * 4] = uint8_t(x * 255 / kW);
                row[x * 4 + 1] = uint8_t(y * 255 / kH);
                row[x * 4 + 2] = uint8_t(((x ^ y) & 31) * 8 + (seed & 7));
                row[x * 4 + 3] = uint8_t(128 + ((x + y) & 127));
            }
        }
        return s;
    }();
    return b;
}

template <class Op>
void Run(benchmark::State& state, Op op) {
    const BITMAPHANDLE& src = Source();
    for (auto _ : state) {
        state.PauseTiming();
        BITMAPHANDLE b;
        if (L_CopyBitmap(&b, &src) != SUCCESS) std::abort();
        state.ResumeTiming();
        if (op(&b) != SUCCESS) state.SkipWithError("operation failed");
        state.PauseTiming();
        L_FreeBitmap(&b);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kW) * kH);
}

void BM_ResampleToQuarter(benchmark::State& state) {
    Run(state, [](BITMAPHANDLE* b) { return L_ResampleBitmap(b, kW / 4, kH / 4); });
}
void BM_ResampleUpTwice(benchmark::State& state) {
    Run(state, [](BITMAPHANDLE* b) { return L_ResampleBitmap(b, kW * 2, kH * 2); });
}
void BM_BicubicUpTwice(benchmark::State& state) {
    Run(state, [](BITMAPHANDLE* b) { return L_SizeBitmap(b, kW * 2, kH * 2, SIZE_BICUBIC); });
}
void BM_NearestToQuarter(benchmark::State& state) {
    Run(state, [](BITMAPHANDLE* b) { return L_SizeBitmap(b, kW / 4, kH / 4, SIZE_NORMAL); });
}
void BM_Rotate30Resampled(benchmark::State& state) {
    Run(state, [](BITMAPHANDLE* b) {
        return L_RotateBitmap(b, 3000, ROTATE_RESIZE | ROTATE_RESAMPLE, 0);
    });
}
void BM_Rotate30Nearest(benchmark::State& state) {
    Run(state, [](BITMAPHANDLE* b) { return L_RotateBitmap(b, 3000, ROTATE_RESIZE, 0); });
}
void BM_Rotate90(benchmark::State& state) {
    Run(state, [](BITMAPHANDLE* b) { return L_RotateBitmap(b, 9000, ROTATE_RESIZE, 0); });
}
void BM_Flip(benchmark::State& state) {
    Run(state, [](BITMAPHANDLE* b) { return L_FlipBitmap(b); });
}

} // namespace

BENCHMARK(BM_ResampleToQuarter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleUpTwice)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BicubicUpTwice)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NearestToQuarter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate30Resampled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate30Nearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flip)->Unit(benchmark::kMillisecond);
