// One mouse move of a brush stroke over a photo-sized ten-layer document in a full HD window
// at zoom 1, from the move reaching the tool to the window repainted: the dabs, the
// recomposition of the dirty rectangle and the paint into the backing store are timed
// apart and reported as shares (counters dab_us, recompose_us, paint_us per move).
#include <benchmark/benchmark.h>

#include <chrono>

#include "BenchImages.h"
#include "CommandIds.h"
#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "ViewInteraction.h"

namespace {

constexpr TSize kWindow{1920, 1080};

// A 4000 x 3000 background under nine half-size layers, every other one with partial
// alpha; the top one current.
void FillTenLayers(TLayeredImage& image) {
    image.Layers.Append(bench::MakeLayer(bench::kPhotoW, bench::kPhotoH, 0, false));
    for (int i = 1; i < 10; ++i) {
        auto l = bench::MakeLayer(bench::kPhotoW / 2, bench::kPhotoH / 2, i, i % 2 == 1);
        l->X = i * 200;
        l->Y = i * 150;
        image.Layers.Append(std::move(l));
    }
    image.Layers.Seek(9);
}

using Clock = std::chrono::steady_clock;
double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void BM_BrushMove(benchmark::State& state) {
    TImageDoc doc;
    FillTenLayers(doc.Image);
    THeadlessWindowHost host(kWindow);
    TImageView view(doc, host);
    AttachTools(view);
    view.CentreOn(POINT{2800, 2100});
    view.InvalidateAll();
    host.Update();
    view.DoCommand(CM_BRUSH_TOOL);
    view.ToolOptions.BrushWidth = int(state.range(0));
    const RECT full{0, 0, bench::kPhotoW, bench::kPhotoH};
    auto client = [&](int x, int y) { return view.ImageToClient(POINT{x, y}, true); };
    host.ButtonDown(TMouseButton::Left, 0, client(2500, 2100));
    doc.Image.Recompose(TPaintOptions{}, full);
    host.Update();
    double dab = 0, recompose = 0, paint = 0;
    int64_t step = 0;
    for (auto _ : state) {
        // Back and forth along a 600-pixel line, 3 pixels a move, as a quick hand gives.
        const int i = int(step++ % 400), x = 2500 + (i < 200 ? i : 400 - i) * 3;
        const auto t0 = Clock::now();
        host.MouseMove(0, client(x, 2100));
        const auto t1 = Clock::now();
        doc.Image.Recompose(TPaintOptions{}, full);
        const auto t2 = Clock::now();
        host.Update();
        const auto t3 = Clock::now();
        dab += Micros(t1 - t0);
        recompose += Micros(t2 - t1);
        paint += Micros(t3 - t2);
    }
    host.ButtonUp(TMouseButton::Left, 0, client(2500, 2100));
    const double n = double(state.iterations());
    state.counters["dab_us"] = dab / n;
    state.counters["recompose_us"] = recompose / n;
    state.counters["paint_us"] = paint / n;
}
BENCHMARK(BM_BrushMove)->Arg(50)->Arg(300)->Unit(benchmark::kMicrosecond);

} // namespace
