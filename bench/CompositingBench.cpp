// Layer compositing: a 4000 x 3000 32-bit layer blended over a 32-bit background, the
// inner loop of showing and flattening a layered image.
//
// Two layers: one partly transparent everywhere (a soft gradient wash: every pixel is a
// real blend, the worst case) and a typical one (soft-edged shapes on transparency).
// Set QUILLO_BENCH_LAYERS=/some/dir to also write background.png and the layers as PNG,
// so other tools can be timed on exactly the same pixels.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "Effects.h"

namespace {

constexpr int kW = 4000, kH = 3000;

uint32_t Next(uint32_t& seed) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
}

BITMAPHANDLE Make(int kind) {
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, kW, kH, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        std::abort();
    uint32_t seed = 88172645u + uint32_t(kind);
    for (int y = 0; y < kH; ++y) {
        uint8_t* row = L_RowPtr(&b, y);
        for (int x = 0; x < kW; ++x) {
            const uint32_t n = Next(seed);
            uint8_t* p = row + x * 4;
            p[0] = uint8_t(x * 255 / kW + (n & 15));
            p[1] = uint8_t(y * 255 / kH + ((n >> 4) & 15));
            p[2] = uint8_t(((x ^ y) & 63) * 3 + ((n >> 8) & 15));
            switch (kind) {
                case 0: p[3] = 255; break;                                            // background
                case 1: p[3] = uint8_t(1 + (x + y / 2 + (n >> 16 & 7)) % 254); break; // wash
                default: {
                    // Discs of radius 600 with 60-pixel feathered edges on a grid.
                    const int cx = (x % 1000) - 500, cy = (y % 1000) - 500;
                    const int d2 = cx * cx + cy * cy;
                    p[3] = d2 < 400 * 400 ? 255
                           : d2 >= 460 * 460
                               ? 0
                               : uint8_t(255 - (d2 - 160000) * 255 / (211600 - 160000));
                    break;
                }
            }
        }
    }
    return b;
}

struct Images {
    BITMAPHANDLE background = Make(0), wash = Make(1), shapes = Make(2);
    Images() {
        if (const char* dir = std::getenv("QUILLO_BENCH_LAYERS")) {
            const std::string d(dir);
            L_SaveBitmap((d + "/background.png").c_str(), &background, FILE_PNG, 0, 0);
            L_SaveBitmap((d + "/wash.png").c_str(), &wash, FILE_PNG, 0, 0);
            L_SaveBitmap((d + "/shapes.png").c_str(), &shapes, FILE_PNG, 0, 0);
        }
    }
};

Images& Get() {
    static Images images;
    return images;
}

template <class Fn>
void Run(benchmark::State& state, const BITMAPHANDLE& layer, Fn fn) {
    BITMAPHANDLE dst;
    if (L_CopyBitmap(&dst, &Get().background) != SUCCESS) std::abort();
    for (auto _ : state) {
        if (fn(&dst, 0, 0, kW, kH, &layer, 0, 0) != SUCCESS) {
            state.SkipWithError("blend failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    L_FreeBitmap(&dst);
    state.counters["Mpix/s"] =
        benchmark::Counter(double(state.iterations()) * kW * kH / 1e6, benchmark::Counter::kIsRate);
}

void BM_AlphaBlend_PartialAlphaEverywhere(benchmark::State& state) {
    Run(state, Get().wash, AlphaBlendBitmapRects32);
}
BENCHMARK(BM_AlphaBlend_PartialAlphaEverywhere)->Unit(benchmark::kMillisecond);

void BM_AlphaBlend_SoftShapes(benchmark::State& state) {
    Run(state, Get().shapes, AlphaBlendBitmapRects32);
}
BENCHMARK(BM_AlphaBlend_SoftShapes)->Unit(benchmark::kMillisecond);

void BM_AlphaCombine_PartialAlphaEverywhere(benchmark::State& state) {
    Run(state, Get().wash, AlphaCombineBitmapRects32);
}
BENCHMARK(BM_AlphaCombine_PartialAlphaEverywhere)->Unit(benchmark::kMillisecond);

} // namespace
