// The undo history on a photo-sized stack: a snapshot of five 4000 x 3000 32-bit layers
// against a plain memcpy of the same bytes, and undo/redo, which must not depend on the
// image size because it only exchanges layer lists.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ImageData.h"

namespace {

constexpr int kLayers = 5;

std::unique_ptr<TLayer> MakeLayer(int w, int h, int index) {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, w, h, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        std::abort();
    l->Adopt(b);
    l->LogicalBpp = 32;
    for (int y = 0; y < h; ++y) {
        uint8_t* p = L_RowPtr(l.get(), y);
        for (int x = 0; x < w; ++x, p += 4) {
            p[0] = uint8_t(x + index * 23);
            p[1] = uint8_t(y + index * 41);
            p[2] = uint8_t(((x + y) >> 4) + index * 67);
            p[3] = 255;
        }
    }
    return l;
}

void Fill(TImageData& d, int w, int h) {
    for (int i = 0; i < kLayers; ++i) d.Image.Layers.Append(MakeLayer(w, h, i));
    d.Image.Layers.Seek(kLayers - 1);
}

size_t ImageBytes(const TLayeredImage& img) {
    size_t bytes = 0;
    for (int i = 0; i < img.Count(); ++i) bytes += img.Layers.At(i)->Size;
    return bytes;
}

// One snapshot with the history at its limit, as in a long editing session: the oldest
// snapshot is dropped and its pixel blocks take the new copy.
void BM_Checkpoint(benchmark::State& state) {
    TImageData d;
    Fill(d, 4000, 3000);
    for (int i = 0; i < TImageData::kMaxUndo; ++i) d.Checkpoint(true, "warm");
    for (auto _ : state) {
        if (!d.Checkpoint(true, "Brush")) state.SkipWithError("snapshot failed");
    }
    size_t history = 0;
    for (int i = 0; i < d.UndoCount(); ++i) history += ImageBytes(*d.UndoItem(i));
    const size_t image = ImageBytes(d.Image);
    state.counters["history_MB"] = double(history) / 1e6;
    state.counters["image_MB"] = double(image) / 1e6;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image));
}
BENCHMARK(BM_Checkpoint)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first snapshot after opening or saving: nothing to reuse, so every block is new.
void BM_CheckpointFresh(benchmark::State& state) {
    TImageData d;
    Fill(d, 4000, 3000);
    for (auto _ : state) {
        if (!d.Checkpoint(true, "Brush")) state.SkipWithError("snapshot failed");
        state.PauseTiming();
        d.Checkpoint(false, "");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(ImageBytes(d.Image)));
}
BENCHMARK(BM_CheckpointFresh)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same bytes with memcpy. Arg 0: into buffers that are already mapped (the floor);
// arg 1: into freshly allocated buffers, which is what any new snapshot must do.
void BM_Memcpy(benchmark::State& state) {
    const bool fresh = state.range(0) != 0;
    const size_t bytes = size_t(4000) * 3000 * 4;
    std::vector<std::unique_ptr<uint8_t[]>> src, dst;
    for (int i = 0; i < kLayers; ++i) {
        src.emplace_back(new uint8_t[bytes]);
        std::memset(src.back().get(), i + 1, bytes);
        dst.emplace_back(new uint8_t[bytes]);
        std::memset(dst.back().get(), 0, bytes);
    }
    for (auto _ : state) {
        for (int i = 0; i < kLayers; ++i) {
            if (fresh)
                dst[size_t(i)].reset(
                    new uint8_t[bytes]); // untouched: pages fault in during the copy
            std::memcpy(dst[size_t(i)].get(), src[size_t(i)].get(), bytes);
        }
        benchmark::DoNotOptimize(dst.back().get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes) * kLayers);
}
BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Undo followed by redo of one step; the argument is the layer width (height 3/4 of it).
void BM_UndoRedo(benchmark::State& state) {
    const int w = int(state.range(0)), h = w * 3 / 4;
    TImageData d;
    Fill(d, w, h);
    d.Checkpoint(true, "Brush");
    for (auto _ : state) {
        if (!d.Undo() || !d.Redo()) state.SkipWithError("undo/redo failed");
    }
}
BENCHMARK(BM_UndoRedo)->Arg(400)->Arg(4000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
