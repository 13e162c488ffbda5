// The single-release tools on a photo-sized layer: the fill flooding half of a 4000 x 3000
// layer (goal under 60 ms) and an antialiased 3000 x 2000 ellipse drawn with the default
// options, filled with a one-pixel outline (goal under 30 ms). The tool objects run as the
// view runs them, without the undo snapshot the view takes first.
#include <benchmark/benchmark.h>

#include <cstring>

#include "BenchImages.h"
#include "ImageData.h"
#include "ShapeTools.h"
#include "ToolOptions.h"

namespace {

// A background whose left half is one flat colour and whose right half is the gradient.
void HalfFlat(TImageData& data) {
    data.Image.Layers.Append(bench::MakeLayer(bench::kPhotoW, bench::kPhotoH, 0, false));
    data.Image.Layers.Seek(0);
    TLayer* l = data.Image.GetCurrentLayer();
    for (int y = 0; y < l->Height; ++y) {
        uint8_t* p = L_RowPtr(l, y);
        for (int x = 0; x < l->Width / 2; ++x, p += 4) p[0] = p[1] = p[2] = 128, p[3] = 255;
    }
}

void BM_FloodFillHalf(benchmark::State& state) {
    TImageData data;
    HalfFlat(data);
    TToolOptions options;
    options.ColorReplace = 0; // the connected area only
    TPaintToolSetup setup;
    setup.Data = &data;
    setup.Options = &options;
    int step = 0;
    for (auto _ : state) {
        // Alternating colours: every fill floods the same half again.
        setup.Foreground = step++ % 2 ? RGB(128, 128, 128) : RGB(20, 200, 20);
        auto tool = MakeFillTool(setup);
        tool->Track(1000, 1500, false, 0);
        tool->IsFinished();
    }
    const TLayer* l = data.Image.GetCurrentLayer();
    if (L_GetPixelColor(l, 10, 10) == L_GetPixelColor(l, 10, 3000)) state.SkipWithError("leaked");
}
BENCHMARK(BM_FloodFillHalf)->Unit(benchmark::kMillisecond);

void BM_AntialiasedEllipse(benchmark::State& state) {
    TImageData data;
    data.Image.Layers.Append(bench::MakeLayer(bench::kPhotoW, bench::kPhotoH, 0, false));
    data.Image.Layers.Seek(0);
    TToolOptions options;
    TPaintToolSetup setup;
    setup.Data = &data;
    setup.Options = &options;
    setup.Foreground = RGB(200, 30, 30);
    setup.Background = RGB(30, 30, 200);
    for (auto _ : state) {
        TEllipsePaintTool tool(setup);
        tool.Track(500, 500, false, 0);
        tool.Track(3499, 2499, false, 0);
        tool.IsFinished();
    }
}
BENCHMARK(BM_AntialiasedEllipse)->Unit(benchmark::kMillisecond);

} // namespace
