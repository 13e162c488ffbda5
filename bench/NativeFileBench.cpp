// Saving and loading a photo-sized layered file: five 4000 x 3000 layers seen at 24 bits
// (stored at 32), each a smooth colour field with fine grain like a photograph's.
//
// QUILLO_NATIVE_BENCH_DUMP=DIR also writes the five layers there as 24-bit BMP files, so
// that other programs can be timed on exactly the same pixels.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "LayeredImage.h"

namespace {

constexpr int kW = 4000, kH = 3000, kLayers = 5;

std::unique_ptr<TLayer> MakePhotoLayer(int index) {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, kW, kH, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        std::abort();
    l->Adopt(b);
    l->LogicalBpp = 24;
    l->Name = "Layer " + std::to_string(index);
    uint32_t seed = 0x9E3779B9u * uint32_t(index + 1);
    for (int y = 0; y < kH; ++y) {
        uint8_t* p = L_RowPtr(l.get(), y);
        for (int x = 0; x < kW; ++x, p += 4) {
            seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
            const int grain = int(seed & 15) - 8;
            auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
            p[0] = clamp(x * 200 / kW + index * 23 + grain);
            p[1] = clamp(y * 180 / kH + ((x * y) >> 16) + index * 11 + grain);
            p[2] = clamp(((x + 2 * y) >> 5) % 160 + 40 + grain);
            p[3] = 255;
        }
    }
    return l;
}

TLayeredImage& Layers() {
    static TLayeredImage* image = [] {
        auto* img = new TLayeredImage;
        for (int i = 0; i < kLayers; ++i) img->Layers.Append(MakePhotoLayer(i));
        img->Layers.Seek(kLayers - 1);
        if (const char* dump = std::getenv("QUILLO_NATIVE_BENCH_DUMP")) {
            for (int i = 0; i < kLayers; ++i) {
                const std::string path = std::string(dump) + "/layer" + std::to_string(i) + ".bmp";
                L_SaveBitmap(path.c_str(), img->Layers.At(i), FILE_BMP, 24, 0);
            }
        }
        return img;
    }();
    return *image;
}

std::string BenchFile() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp && *tmp ? std::string(tmp) : std::filesystem::temp_directory_path().string()) +
           "/quillo-bench-native.qlx";
}

void Rates(benchmark::State& state) {
    state.counters["layer_MP/s"] = benchmark::Counter(
        double(kW) * kH * kLayers / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SaveNative(benchmark::State& state) {
    TLayeredImage& img = Layers();
    const std::string path = BenchFile();
    for (auto _ : state)
        if (img.SaveNative(path.c_str()) != SUCCESS) state.SkipWithError("save failed");
    state.counters["file_MB"] = double(std::filesystem::file_size(path)) / 1e6;
    Rates(state);
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveNative)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadNative(benchmark::State& state) {
    const std::string path = BenchFile();
    if (Layers().SaveNative(path.c_str()) != SUCCESS) {
        state.SkipWithError("save failed");
        return;
    }
    for (auto _ : state) {
        TLayeredImage img;
        if (img.LoadNative(path.c_str()) != SUCCESS) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(img.Count());
    }
    Rates(state);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadNative)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
