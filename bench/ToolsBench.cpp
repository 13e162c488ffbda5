// A rectangle selection's rubber band following the mouse over a photo-sized five-layer
// document in a full HD window. The band is drawn in XOR straight into the backing store,
// so a move must neither invalidate the window nor mark any of the composite stale; the
// counters say how often either happened (both should stay 0).
#include <benchmark/benchmark.h>

#include "BenchImages.h"
#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "ViewInteraction.h"

namespace {

constexpr TSize kWindow{1920, 1080};

void BM_RubberBandMove(benchmark::State& state) {
    TImageDoc doc;
    bench::FillFiveLayers(doc.Image);
    THeadlessWindowHost host(kWindow);
    TImageView view(doc, host);
    AttachTools(view);
    view.InvalidateAll();
    host.Update();
    host.ButtonDown(TMouseButton::Left, 0, POINT{200, 200});
    host.Update(); // whatever the press asked for is painted before the moves
    int64_t invalidations = 0, stale = 0, step = 0;
    for (auto _ : state) {
        const uint64_t changes = doc.Image.Changes;
        const int i = int(step++ % 512);
        host.MouseMove(0, POINT{300 + i * 2, 250 + i});
        const RECT inv = host.InvalidBounds();
        invalidations += inv.right > inv.left && inv.bottom > inv.top;
        const RECT& d = doc.Image.DirtyRect;
        stale += doc.Image.Changes != changes || doc.Image.RecomposeAll ||
                 (d.right > d.left && d.bottom > d.top);
    }
    host.ButtonUp(TMouseButton::Left, 0, POINT{300, 250});
    state.counters["invalidations"] = double(invalidations);
    state.counters["stale_composites"] = double(stale);
}
BENCHMARK(BM_RubberBandMove)->Unit(benchmark::kMicrosecond);

} // namespace
