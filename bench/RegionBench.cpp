// Region speed on photo-sized images: building a selection from a 1-bit mask, filling
// through an elliptical selection, and adding a magic-wand mask at an unaligned offset.
#include <benchmark/benchmark.h>

#include "Toolkit.h"

namespace {

constexpr int kW = 4000, kH = 3000;

// A 1-bit selection: a large ellipse plus a lattice of small squares, so rows hold both
// long uniform runs and many short ones.
void DrawSelection(BITMAPHANDLE* m) {
    const double cx = kW / 2.0, cy = kH / 2.0, rx = kW * 0.45, ry = kH * 0.4;
    for (int y = 0; y < kH; ++y) {
        uint8_t* row = L_RowPtr(m, y);
        const double dy = (y - cy) / ry;
        for (int x = 0; x < kW; ++x) {
            const double dx = (x - cx) / rx;
            bool on = dx * dx + dy * dy <= 1.0;
            if ((x % 50) < 9 && (y % 50) < 9) on = !on;
            if (on) row[x >> 3] |= uint8_t(0x80u >> (x & 7));
        }
    }
}

void DrawEllipse(BITMAPHANDLE* m) {
    const double cx = kW / 2.0, cy = kH / 2.0, rx = kW * 0.48, ry = kH * 0.46;
    for (int y = 0; y < kH; ++y) {
        uint8_t* row = L_RowPtr(m, y);
        const double dy = (y - cy) / ry;
        for (int x = 0; x < kW; ++x) {
            const double dx = (x - cx) / rx;
            if (dx * dx + dy * dy <= 1.0) row[x >> 3] |= uint8_t(0x80u >> (x & 7));
        }
    }
}

void BM_RegionFromMask1Bit(benchmark::State& state) {
    BITMAPHANDLE mask, image;
    L_CreateBitmap(&mask, TYPE_CONV, kW, kH, 1, ORDER_BGR, nullptr, TOP_LEFT);
    L_InitBitmap(&image, kW, kH, 32); // the region only needs the size
    DrawSelection(&mask);
    for (auto _ : state) {
        if (L_SetBitmapRgnFromMask(&image, nullptr, &mask, L_RGN_SET) != SUCCESS)
            state.SkipWithError("region failed");
        benchmark::DoNotOptimize(image.pRgn);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kW) * kH);
    L_FreeBitmapRgn(&image);
    L_FreeBitmap(&mask);
}
BENCHMARK(BM_RegionFromMask1Bit)->Unit(benchmark::kMillisecond);

void BM_FillEllipse32Bit(benchmark::State& state) {
    BITMAPHANDLE mask, image;
    L_CreateBitmap(&mask, TYPE_CONV, kW, kH, 1, ORDER_BGR, nullptr, TOP_LEFT);
    L_CreateBitmap(&image, TYPE_CONV, kW, kH, 32, ORDER_BGR, nullptr, TOP_LEFT);
    DrawEllipse(&mask);
    L_SetBitmapRgnFromMask(&image, nullptr, &mask, L_RGN_SET);
    unsigned i = 0;
    for (auto _ : state) {
        if (L_FillBitmap(&image, RGB(uint8_t(i), 128, 200)) != SUCCESS)
            state.SkipWithError("fill failed");
        ++i;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kW) * kH);
    L_FreeBitmap(&image);
    L_FreeBitmap(&mask);
}
BENCHMARK(BM_FillEllipse32Bit)->Unit(benchmark::kMillisecond);

void BM_WandOrUnaligned1Bit(benchmark::State& state) {
    BITMAPHANDLE selection, wand;
    L_CreateBitmap(&selection, TYPE_CONV, kW, kH, 1, ORDER_BGR, nullptr, TOP_LEFT);
    L_CreateBitmap(&wand, TYPE_CONV, kW, kH, 1, ORDER_BGR, nullptr, TOP_LEFT);
    DrawSelection(&wand);
    for (auto _ : state) {
        if (L_CombineBitmap(&selection, -3, 5, kW, kH, &wand, 0, 0, CB_OP_OR) != SUCCESS)
            state.SkipWithError("combine failed");
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kW) * kH);
    L_FreeBitmap(&selection);
    L_FreeBitmap(&wand);
}
BENCHMARK(BM_WandOrUnaligned1Bit)->Unit(benchmark::kMillisecond);

} // namespace
