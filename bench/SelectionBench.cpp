// What the user waits for while selecting: a magic wand click on a photo, one segment of
// the selection retoucher with its outline, and a step of the marching ants in a full HD
// window over a selection that covers the whole canvas.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "BenchImages.h"
#include "HeadlessWindowHost.h"
#include "ImageData.h"
#include "ImageView.h"
#include "Selection.h"

namespace {

using bench::kPhotoH;
using bench::kPhotoW;

void NewMask(TLeadBitmap& b) {
    if (L_CreateBitmap(&b, TYPE_CONV, kPhotoW, kPhotoH, 1, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        std::abort();
}

std::unique_ptr<TLayer> PhotoLayer() {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b = bench::MakePhoto(32);
    l->Adopt(b);
    l->LogicalBpp = 24;
    return l;
}

// A replacing click in the middle of the photo; the argument is the tolerance in percent.
// Includes the whole-mask outline that a replacing selection recomputes.
void BM_MagicWandPhoto(benchmark::State& state) {
    TImageData data;
    data.Image.Layers.Append(PhotoLayer());
    TLeadBitmap mask, outline;
    NewMask(mask);
    NewMask(outline);
    for (auto _ : state) {
        TMagicWandSelection wand(data, int(state.range(0)));
        wand.AddPoint(kPhotoW / 2, kPhotoH / 2, true);
        RECT dirty;
        if (wand.Apply(mask, outline, SELECT_REPLACE, &dirty) != SUCCESS) std::abort();
    }
    int64_t selected = 0;
    for (int y = 0; y < kPhotoH; ++y)
        for (int x = 0; x < kPhotoW; ++x)
            selected += (L_RowPtr(&mask, y)[x / 8] >> (7 - x % 8)) & 1;
    state.counters["area%"] = 100.0 * double(selected) / (double(kPhotoW) * kPhotoH);
}
BENCHMARK(BM_MagicWandPhoto)->Arg(10)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime();

// One retoucher segment of width 50 across a photo-sized mask, as a mouse move brings it:
// the dab, the line and the outline around it.
void BM_RetoucherSegment(benchmark::State& state) {
    TLeadBitmap mask, outline;
    NewMask(mask);
    NewMask(outline);
    TBrushSelection brush(50);
    int x = 100, y = 100;
    brush.AddPoint(x, y, true);
    for (auto _ : state) {
        x += 7;
        y += 3;
        if (x > kPhotoW - 100) x = 100;
        if (y > kPhotoH - 100) y = 100;
        brush.AddPoint(x, y, false);
        RECT dirty;
        if (brush.Apply(mask, outline, SELECT_ADD, &dirty) != SUCCESS) std::abort();
    }
}
BENCHMARK(BM_RetoucherSegment)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The ants timer of a 1920 x 1080 view on a photo whose current layer covers the canvas
// with a selection of all of it. Arguments: the zoom in percent, and the layer's shape
// (0 its rectangle, 1 the ellipse inscribed in it, as a layer copied from an elliptic
// selection would have).
void BM_MarchingAntsStep(benchmark::State& state) {
    TImageDoc doc;
    doc.Image.Layers.Append(PhotoLayer());
    doc.Image.Layers.Append(PhotoLayer());
    doc.Image.Layers.Seek(1);
    TLayer& top = *doc.Image.GetCurrentLayer();
    const RECT all{0, 0, kPhotoW, kPhotoH};
    if (state.range(1) == 0) {
        if (L_SetBitmapRgnRect(&top, nullptr, &all, L_RGN_SET) != SUCCESS) std::abort();
    } else {
        TLeadBitmap shape, unused;
        NewMask(shape);
        NewMask(unused);
        TEllipseSelection e;
        e.AddPoint(0, 0, true);
        e.AddPoint(kPhotoW - 1, kPhotoH - 1, false);
        if (e.Apply(shape, unused, SELECT_REPLACE, nullptr) != SUCCESS ||
            L_SetBitmapRgnFromMask(&top, nullptr, &shape, L_RGN_SET) != SUCCESS)
            std::abort();
    }
    THeadlessWindowHost host({1920, 1080});
    TImageView view(doc, host);
    view.Zoom = state.range(0) / 100.0;
    view.UpdateScrollRanges();
    NewMask(view.SelectionMask);
    for (int y = 0; y < kPhotoH; ++y)
        std::memset(L_RowPtr(&view.SelectionMask, y), 0xFF,
                    size_t(view.SelectionMask.BytesPerLine));
    view.HasSelection = true;
    if (view.UpdateSelectionOutline() != SUCCESS) std::abort();
    view.InvalidateAll();
    host.Update();
    for (auto _ : state) {
        view.OnTimer(kAntsTimer);
        host.Shown.clear();
    }
}
BENCHMARK(BM_MarchingAntsStep)
    ->Args({25, 0})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
