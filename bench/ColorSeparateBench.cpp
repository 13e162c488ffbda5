// Channel editing: separating a 12-megapixel 32-bit layer into planes and merging them
// back, for each colour model.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "Toolkit.h"

namespace {

constexpr int kW = 4000, kH = 3000;

// Smooth colour fields with grain, so that every model sees hues, grays and dark pixels.
const BITMAPHANDLE& Layer() {
    static BITMAPHANDLE b = [] {
        BITMAPHANDLE s;
        if (L_CreateBitmap(&s, TYPE_CONV, kW, kH, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
            std::abort();
        uint32_t seed = 1234567u;
        for (int y = 0; y < kH; ++y) {
            uint8_t* row = L_RowPtr(&s, y);
            for (int x = 0; x < kW; ++x) {
                seed ^= seed << 13;
                seed ^= seed >> 17;
                seed ^= seed << 5;
                row[x * 4] = uint8_t(x * 255 / kW + (seed & 7));
                row[x * 4 + 1] = uint8_t((x + y) * 255 / (kW + kH));
                row[x * 4 + 2] = uint8_t(y * 255 / kH);
                row[x * 4 + 3] = uint8_t(seed >> 24);
            }
        }
        return s;
    }();
    return b;
}

void SeparateMerge(benchmark::State& state, L_UINT type) {
    const BITMAPHANDLE& src = Layer();
    for (auto _ : state) {
        BITMAPHANDLE planes[4], merged;
        if (L_ColorSeparateBitmap(&src, planes, type) != SUCCESS) {
            state.SkipWithError("separation failed");
            break;
        }
        const L_INT rc = L_ColorMergeBitmap(&merged, planes, type);
        for (BITMAPHANDLE& p : planes) L_FreeBitmap(&p);
        if (rc != SUCCESS) {
            state.SkipWithError("merge failed");
            break;
        }
        benchmark::DoNotOptimize(merged.Addr);
        L_FreeBitmap(&merged);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

void BM_ColorSeparateMerge_RGB(benchmark::State& state) { SeparateMerge(state, COLORSEP_RGB); }
void BM_ColorSeparateMerge_CMYK(benchmark::State& state) { SeparateMerge(state, COLORSEP_CMYK); }
void BM_ColorSeparateMerge_CMY(benchmark::State& state) { SeparateMerge(state, COLORSEP_CMY); }
void BM_ColorSeparateMerge_HSV(benchmark::State& state) { SeparateMerge(state, COLORSEP_HSV); }
void BM_ColorSeparateMerge_HLS(benchmark::State& state) { SeparateMerge(state, COLORSEP_HLS); }
BENCHMARK(BM_ColorSeparateMerge_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorSeparateMerge_CMYK)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorSeparateMerge_CMY)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorSeparateMerge_HSV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorSeparateMerge_HLS)->Unit(benchmark::kMillisecond);

} // namespace
