// What the user waits for in the image view: repainting a photo-sized five-layer document
// in a full HD window while panning at three zooms, and opening a 12-megapixel JPEG up to
// the first painted frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "HeadlessWindowHost.h"
#include "ImageView.h"

namespace {

constexpr int kW = 4000, kH = 3000;
constexpr TSize kWindow{1920, 1080};

std::unique_ptr<TLayer> MakeLayer(int w, int h, int index, bool alpha) {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, w, h, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS) std::abort();
    l->Adopt(b);
    l->LogicalBpp = alpha ? 32 : 24;
    for (int y = 0; y < h; ++y) {
        uint8_t* p = L_RowPtr(l.get(), y);
        for (int x = 0; x < w; ++x, p += 4) {
            p[0] = uint8_t(x * 255 / w + index * 23);
            p[1] = uint8_t(y * 255 / h + index * 41);
            p[2] = uint8_t(((x + y) >> 4) + index * 67);
            p[3] = alpha ? uint8_t((x + y) * 255 / (w + h)) : 255;
        }
    }
    return l;
}

// A background and four layers, two of them with partial alpha, the top one current.
TImageDoc& FiveLayerDoc() {
    static TImageDoc* doc = [] {
        auto* d = new TImageDoc;
        d->Image.Layers.Append(MakeLayer(kW, kH, 0, false));
        for (int i = 1; i < 5; ++i) {
            auto l = MakeLayer(kW / 2, kH / 2, i, i % 2 == 1);
            l->X = i * 400;
            l->Y = i * 300;
            d->Image.Layers.Append(std::move(l));
        }
        d->Image.Layers.Seek(4);
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
BENCHMARK(BM_ViewRepaintWhilePanning)->Arg(25)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();

// A photo-like 12-megapixel JPEG (smooth gradients with fine grain), written once.
const std::string& PhotoJpeg() {
    static const std::string path = [] {
        char dir[] = "/tmp/quillo-bench-XXXXXX";
        if (!mkdtemp(dir)) std::abort();
        BITMAPHANDLE b;
        if (L_CreateBitmap(&b, TYPE_CONV, kW, kH, 24, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS) std::abort();
        uint32_t seed = 12345;
        for (int y = 0; y < kH; ++y) {
            uint8_t* p = L_RowPtr(&b, y);
            for (int x = 0; x < kW; ++x, p += 3) {
                seed = seed * 1664525u + 1013904223u;
                const int grain = int(seed >> 28) - 8;
                p[0] = uint8_t(std::clamp(60 + y * 150 / kH + grain, 0, 255));
                p[1] = uint8_t(std::clamp(90 + ((x * y) >> 16) % 80 + grain, 0, 255));
                p[2] = uint8_t(std::clamp(200 - x * 120 / kW + grain, 0, 255));
            }
        }
        std::string file = std::string(dir) + "/photo.jpg";
        if (L_SaveBitmap(file.c_str(), &b, FILE_JFIF, 24, 25) != SUCCESS) std::abort();
        L_FreeBitmap(&b);
        std::atexit([] { std::filesystem::remove_all(std::filesystem::path(PhotoJpeg()).parent_path()); });
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
        if (L_LoadFile(path.c_str(), &b, 0, ORDER_BGR, LOADFILE_ALLOCATE | LOADFILE_STORE, nullptr, nullptr) != SUCCESS) state.SkipWithError("load");
        L_FreeBitmap(&b);
    }
}
BENCHMARK(BM_LoadJpeg12MP)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
