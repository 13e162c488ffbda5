// The effects library's interactive work on a 4000 x 3000 photo: the magic wand (a click, a
// click that floods the whole picture, growing a selection, colour replace everywhere), fine
// rotation, and the paint tools' brush dabs, brush masks and antialiased lines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "BenchImages.h"
#include "Effects.h"

namespace {

constexpr int kW = bench::kPhotoW, kH = bench::kPhotoH;

const BITMAPHANDLE& Photo() {
    static BITMAPHANDLE b = bench::MakePhoto(32);
    return b;
}

BITMAPHANDLE NewMask() {
    BITMAPHANDLE m;
    if (L_CreateBitmap(&m, TYPE_CONV, kW, kH, 1, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        std::abort();
    return m;
}

void Wand(benchmark::State& state, double tolerance, int x, int y, L_INT flags) {
    const BITMAPHANDLE& photo = Photo();
    BITMAPHANDLE mask = NewMask();
    RECT rect{};
    for (auto _ : state) {
        if (MagicWandBitmap(&photo, &mask, tolerance, x, y, &rect, flags) != SUCCESS) {
            state.SkipWithError("magic wand failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.counters["area%"] =
        100.0 * (rect.right - rect.left) * (rect.bottom - rect.top) / (double(kW) * kH);
    L_FreeBitmap(&mask);
}

void BM_MagicWand_Click10Percent(benchmark::State& state) {
    Wand(state, 0.10, kW / 2, kH / 2, MAGICWAND_CONNECTED);
}
BENCHMARK(BM_MagicWand_Click10Percent)->Unit(benchmark::kMillisecond);

// The worst case: every pixel is reached.
void BM_MagicWand_FloodsWholePhoto(benchmark::State& state) {
    Wand(state, 1.0, kW / 2, kH / 2, MAGICWAND_CONNECTED);
}
BENCHMARK(BM_MagicWand_FloodsWholePhoto)->Unit(benchmark::kMillisecond);

void BM_MagicWand_ColorReplaceEverywhere(benchmark::State& state) {
    Wand(state, 0.10, kW / 2, kH / 2, MAGICWAND_EVERYWHERE);
}
BENCHMARK(BM_MagicWand_ColorReplaceEverywhere)->Unit(benchmark::kMillisecond);

// Expand: a 10 % click, grown once (each iteration starts from the same click).
void BM_MagicWand_GrowSelection(benchmark::State& state) {
    const BITMAPHANDLE& photo = Photo();
    BITMAPHANDLE click = NewMask(), mask = NewMask();
    if (MagicWandBitmap(&photo, &click, 0.10, kW / 2, kH / 2, nullptr, 0) != SUCCESS) std::abort();
    RECT rect{};
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(click.Addr, click.Addr + click.Size, mask.Addr);
        state.ResumeTiming();
        if (MagicWandBitmap(&photo, &mask, 0.10, -1, -1, &rect, 0) != SUCCESS) {
            state.SkipWithError("magic wand failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.counters["area%"] =
        100.0 * (rect.right - rect.left) * (rect.bottom - rect.top) / (double(kW) * kH);
    L_FreeBitmap(&click);
    L_FreeBitmap(&mask);
}
BENCHMARK(BM_MagicWand_GrowSelection)->Unit(benchmark::kMillisecond);

// Fine rotation of the photo by 7.5 degrees on a grown canvas (a fresh copy each iteration).
void BM_RotateFine_7_5Degrees(benchmark::State& state) {
    const BITMAPHANDLE& photo = Photo();
    for (auto _ : state) {
        state.PauseTiming();
        BITMAPHANDLE b;
        if (L_CopyBitmap(&b, &photo) != SUCCESS) std::abort();
        state.ResumeTiming();
        if (Lx_RotateBitmapFine(&b, 750, LX_ROTATE_GROW, RGB(255, 255, 255)) != SUCCESS) {
            state.SkipWithError("rotation failed");
            L_FreeBitmap(&b);
            break;
        }
        benchmark::ClobberMemory();
        state.PauseTiming();
        L_FreeBitmap(&b);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RotateFine_7_5Degrees)->Unit(benchmark::kMillisecond);

// A copy of the photo to paint on, kept across iterations (paint only builds up).
BITMAPHANDLE& Canvas() {
    static BITMAPHANDLE b = [] {
        BITMAPHANDLE c;
        if (L_CopyBitmap(&c, &Photo()) != SUCCESS) std::abort();
        return c;
    }();
    return b;
}

// One soft brush dab (the brush tool's mask, 100 % soft edge) of the given diameter at
// fractional positions along a diagonal, as the brush places them with sub-pixel on.
void BM_BrushDab(benchmark::State& state) {
    const int size = int(state.range(0));
    std::vector<uint8_t> mask(size_t(size) * size_t(size));
    if (CreateAntialiasedBrush(2, 255, 255, size, size, mask.data(), 0, 100.0) != SUCCESS)
        std::abort();
    BITMAPHANDLE& canvas = Canvas();
    double x = 100.25, y = 100.5;
    for (auto _ : state) {
        if (AlphaBlendBmpWithColor(&canvas, x, y, size, size, RGB(20, 40, 200), mask.data(),
                                   size) != SUCCESS) {
            state.SkipWithError("dab failed");
            break;
        }
        benchmark::ClobberMemory();
        x = x > 3000 ? 100.25 : x + 3.3;
        y = y > 2000 ? 100.5 : y + 2.1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BrushDab)->Arg(20)->Arg(100)->Arg(300);

// Building the mask, once per stroke: the largest brush, soft and hard.
void BM_BrushMask300(benchmark::State& state) {
    std::vector<uint8_t> mask(300 * 300);
    const double softness = double(state.range(0));
    for (auto _ : state) {
        if (CreateAntialiasedBrush(2, 255, 255, 300, 300, mask.data(), 0, softness) != SUCCESS)
            std::abort();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BrushMask300)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond);

// The line tool with antialiasing: a 1000-pixel slanted line, 1 and 10 pixels wide.
void BM_AntialiasedLine1000(benchmark::State& state) {
    BITMAPHANDLE& canvas = Canvas();
    const double width = double(state.range(0));
    for (auto _ : state) {
        if (DrawAntialiasedLine(&canvas, 500, 400, 1300, 1000, width, RGB(250, 250, 0), 0) !=
            SUCCESS) {
            state.SkipWithError("line failed");
            break;
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_AntialiasedLine1000)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond);

} // namespace
