// Screen painting: a 4000 x 3000 picture stretched into a full HD 32-bit backing store at the
// zooms the editor uses, and the marching ants of a large selection.
#include <benchmark/benchmark.h>

#include "LeadDC.h"
#include "Toolkit.h"

namespace {

constexpr int kW = 4000, kH = 3000, kViewW = 1920, kViewH = 1080;

void Fill(BITMAPHANDLE* b) {
    uint32_t s = 12345;
    for (size_t i = 0; i < b->Size; ++i) {
        s = s * 1103515245u + 12345u;
        b->Addr[i] = uint8_t(s >> 16);
    }
}

// The picture centred on the view at a zoom given in percent.
RECT Placement(int percent) {
    const int w = int(int64_t(kW) * percent / 100), h = int(int64_t(kH) * percent / 100);
    const int l = (kViewW - w) / 2, t = (kViewH - h) / 2;
    return RECT{l, t, l + w, t + h};
}

void BM_PaintDC(benchmark::State& state, int sourceBpp) {
    BITMAPHANDLE src, view;
    L_CreateBitmap(&src, TYPE_CONV, kW, kH, sourceBpp, ORDER_BGR, nullptr, TOP_LEFT);
    L_CreateBitmap(&view, TYPE_CONV, kViewW, kViewH, 32, ORDER_BGR, nullptr, TOP_LEFT);
    Fill(&src);
    HDC dc = L_CreateLeadDC(&view);
    const RECT dst = Placement(int(state.range(0)));
    int64_t painted = 0;
    for (auto _ : state) {
        if (L_PaintDC(dc, &src, nullptr, nullptr, &dst, nullptr, SRCCOPY) != SUCCESS)
            state.SkipWithError("paint failed");
        benchmark::ClobberMemory();
        painted += int64_t(std::min(dst.right, kViewW) - std::max(dst.left, 0)) *
                   (std::min(dst.bottom, kViewH) - std::max(dst.top, 0));
    }
    state.SetItemsProcessed(painted);
    L_DeleteLeadDC(dc);
    L_FreeBitmap(&view);
    L_FreeBitmap(&src);
}
void BM_PaintDC32(benchmark::State& state) { BM_PaintDC(state, 32); }
void BM_PaintDC24(benchmark::State& state) { BM_PaintDC(state, 24); }
void BM_PaintDC8(benchmark::State& state) { BM_PaintDC(state, 8); }
BENCHMARK(BM_PaintDC32)->Arg(25)->Arg(50)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintDC24)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintDC8)->Arg(100)->Unit(benchmark::kMillisecond);

// The selection outline of an elliptical selection with a lattice of holes, at 100% and 400%.
void BM_FrameBitmapRgn(benchmark::State& state) {
    BITMAPHANDLE image, mask, view;
    L_InitBitmap(&image, kW, kH, 32); // the region only needs the size
    L_CreateBitmap(&mask, TYPE_CONV, kW, kH, 1, ORDER_BGR, nullptr, TOP_LEFT);
    L_CreateBitmap(&view, TYPE_CONV, kViewW, kViewH, 32, ORDER_BGR, nullptr, TOP_LEFT);
    {
        HDC m = L_CreateLeadDC(&mask);
        m->SelectPen(kNullPen);
        m->SelectBrush(kWhiteBrush);
        m->Ellipse(100, 100, kW - 100, kH - 100);
        m->SelectBrush(kBlackBrush);
        for (int y = 200; y < kH - 200; y += 60)
            for (int x = 200; x < kW - 200; x += 60) m->Rectangle(x, y, x + 20, y + 20);
        L_DeleteLeadDC(m);
    }
    L_SetBitmapRgnFromMask(&image, nullptr, &mask, L_RGN_SET);
    const int percent = int(state.range(0));
    const RECT at = Placement(percent);
    RGNXFORM xf;
    xf.nXScalarNum = xf.nYScalarNum = 65536 * percent / 100;
    xf.nXScalarDen = xf.nYScalarDen = 65536;
    xf.nXOffset = at.left;
    xf.nYOffset = at.top;
    HDC dc = L_CreateLeadDC(&view);
    int phase = 0;
    for (auto _ : state) {
        if (L_FrameBitmapRgn(dc, &image, &xf, phase++) != SUCCESS)
            state.SkipWithError("frame failed");
        benchmark::ClobberMemory();
    }
    L_DeleteLeadDC(dc);
    L_FreeBitmap(&view);
    L_FreeBitmap(&mask);
    L_FreeBitmap(&image);
}
BENCHMARK(BM_FrameBitmapRgn)->Arg(25)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);

} // namespace
