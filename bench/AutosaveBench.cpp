// What an autosave costs the window thread on a 4000 x 3000 image of ten 32-bit layers
// (480 MB of pixels): the records and allocations at the start, then one slice of pixels
// per turn of the event loop. The pages are faulted in beforehand, as the worker thread
// does in the editor. The iteration time is the longest single stall; the counters give
// the start, the longest slice and the window thread's total.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include "Autosaver.h"
#include "BenchImages.h"
#include "ImageData.h"
#include "ImageSnapshot.h"

namespace {

constexpr int kLayers = 10;

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void BM_AutosaveWindowStall(benchmark::State& state) {
    TImageData data;
    for (int i = 0; i < kLayers; ++i)
        data.Image.Layers.Append(bench::MakeLayer(bench::kPhotoW, bench::kPhotoH, i, i % 2 == 1));
    data.Image.Layers.Seek(kLayers - 1);
    const size_t budget = size_t(state.range(0)) << 20;
    double begin = 0, slice = 0, total = 0;
    int64_t slices = 0;
    for (auto _ : state) {
        TImageSnapshot snapshot;
        auto t0 = std::chrono::steady_clock::now();
        if (snapshot.Begin(data) != SUCCESS) state.SkipWithError("no memory");
        const double start = Ms(std::chrono::steady_clock::now() - t0);
        snapshot.Prefault(); // the worker's part
        double longest = 0, sum = start;
        while (!snapshot.Done()) {
            t0 = std::chrono::steady_clock::now();
            if (snapshot.CopySome(data, budget) != SUCCESS) state.SkipWithError("restarted");
            const double ms = Ms(std::chrono::steady_clock::now() - t0);
            longest = std::max(longest, ms);
            sum += ms;
            ++slices;
        }
        benchmark::DoNotOptimize(snapshot.Take());
        state.SetIterationTime(std::max(start, longest) / 1000.0);
        begin = std::max(begin, start);
        slice = std::max(slice, longest);
        total = std::max(total, sum);
    }
    state.counters["begin_ms"] = begin;
    state.counters["longest_slice_ms"] = slice;
    state.counters["window_total_ms"] = total;
    state.counters["slices"] = double(slices) / double(state.iterations());
}
BENCHMARK(BM_AutosaveWindowStall)
    ->Arg(int(TAutosaver::kSliceBytes >> 20))
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

} // namespace
