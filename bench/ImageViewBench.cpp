// What the user waits for in the image view: repainting a photo-sized five-layer document
// in a full HD window while panning at three zooms, and opening a 12-megapixel JPEG up to
// the first painted frame.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchImages.h"
#include "HeadlessWindowHost.h"
#include "ImageView.h"

namespace {

using bench::kPhotoH;
using bench::kPhotoW;
constexpr int kW = kPhotoW, kH = kPhotoH;
constexpr TSize kWindow{1920, 1080};

// A background and four layers, two of them with partial alpha, the top one current.
TImageDoc& FiveLayerDoc() {
    static TImageDoc* doc = [] {
        auto* d = new TImageDoc;
        bench::FillFiveLayers(d->Image);
        return d;
    }();
    return *doc;
}

// Pans across the whole scroll range in 64 steps, one full repaint per step. The argument
// is the zoom in percent; the time per iteration is the time per repaint.
void BM_ViewRepaintWhilePanning(benchmark::State& state) {
    THeadlessWindowHost host(kWindow);
    TImageView view(FiveLayerDoc(), host);
    view.Zoom = state.range(0) / 100.0;
    view.UpdateScrollRanges();
    view.InvalidateAll();
    host.Update(); // the composite is built once, as after opening
    const TScrollState& s = host.Scroller();
    const int maxX = s.MaxPosX(kWindow.cx), maxY = s.MaxPosY(kWindow.cy);
    const RECT client{0, 0, kWindow.cx, kWindow.cy};
    int step = 0;
    for (auto _ : state) {
        const int i = step++ % 64;
        host.ScrollTo(maxX * i / 63, maxY * ((i * 7) % 64) / 63);
        view.Paint(client);
    }
    state.counters["fps"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ViewRepaintWhilePanning)
    ->Arg(25)
    ->Arg(100)
    ->Arg(400)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A photo-like 12-megapixel JPEG (smooth gradients with fine grain), written once.
const std::string& PhotoJpeg() {
    static const std::string path = [] {
        char dir[] = "/tmp/quillo-bench-XXXXXX";
        if (!mkdtemp(dir)) std::abort();
        std::string file = std::string(dir) + "/photo.jpg";
        bench::WritePhotoJpeg(file);
        std::atexit(
            [] { std::filesystem::remove_all(std::filesystem::path(PhotoJpeg()).parent_path()); });
        return file;
    }();
    return path;
}

// Open (decode into the document) through the first frame painted in a full HD view.
void BM_OpenJpegToFirstFrame(benchmark::State& state) {
    const std::string& path = PhotoJpeg();
    for (auto _ : state) {
        TImageDoc doc;
        THeadlessWindowHost host(kWindow);
        doc.Open(OM_READ, path);
        TImageView view(doc, host);
        host.Update();
        benchmark::DoNotOptimize(host.Pixel(960, 540));
        state.PauseTiming(); // freeing the document is not part of the wait
        doc.Close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenJpegToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// The decoding part of the above on its own.
void BM_LoadJpeg12MP(benchmark::State& state) {
    const std::string& path = PhotoJpeg();
    for (auto _ : state) {
        BITMAPHANDLE b;
        if (L_LoadFile(path.c_str(), &b, 0, ORDER_BGR, LOADFILE_ALLOCATE | LOADFILE_STORE, nullptr,
                       nullptr) != SUCCESS)
            state.SkipWithError("load");
        L_FreeBitmap(&b);
    }
}
BENCHMARK(BM_LoadJpeg12MP)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
