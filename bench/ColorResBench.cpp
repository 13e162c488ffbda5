// Colour depth conversion on a photo-sized image.
//
// Set QUILLO_BENCH_PPM=/some/file.ppm to also write the generated image, so other tools
// can be timed on exactly the same pixels.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Toolkit.h"

namespace {

// Something with the statistics of a photograph: smooth shading, soft coloured shapes,
// some fine texture and sensor-like noise, so that it has hundreds of thousands of colours.
BITMAPHANDLE MakePhoto(int w, int h) {
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, w, h, 24, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        std::abort();
    struct Blob {
        float x, y, radius, r, g, b;
    };
    uint32_t seed = 12345;
    auto rnd = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return float(seed % 10000) / 10000.0f;
    };
    std::vector<Blob> blobs;
    for (int i = 0; i < 24; ++i)
        blobs.push_back(Blob{rnd() * w, rnd() * h, (0.05f + rnd() * 0.25f) * float(w), rnd() * 255,
                             rnd() * 255, rnd() * 255});
    std::vector<float> sky(static_cast<size_t>(h)), texture(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) sky[size_t(y)] = float(y) / float(h);
    for (int x = 0; x < w; ++x)
        texture[size_t(x)] = 12.0f * std::sin(float(x) * 0.21f) * std::sin(float(x) * 0.013f);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = L_RowPtr(&b, y);
        const float t = sky[size_t(y)];
        for (int x = 0; x < w; ++x) {
            float r = 90 + 120 * t, g = 140 + 60 * t, bl = 220 - 100 * t;
            // The few blobs near this pixel; a cheap falloff rather than a true Gaussian.
            for (const Blob& k : blobs) {
                const float dx = float(x) - k.x, dy = float(y) - k.y;
                const float d2 = (dx * dx + dy * dy) / (k.radius * k.radius);
                if (d2 >= 1) continue;
                const float a = (1 - d2) * (1 - d2);
                r += (k.r - r) * a;
                g += (k.g - g) * a;
                bl += (k.b - bl) * a;
            }
            const float tex = (y > h / 2) ? texture[size_t(x)] * std::sin(float(y) * 0.17f) : 0.0f;
            const float noise = float(int(rnd() * 13) - 6);
            auto clamp = [](float v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
            row[x * 3] = clamp(bl + tex + noise);
            row[x * 3 + 1] = clamp(g + tex + noise * 0.8f);
            row[x * 3 + 2] = clamp(r + tex + noise * 1.2f);
        }
    }
    if (const char* path = std::getenv("QUILLO_BENCH_PPM")) {
        if (FILE* f = std::fopen(path, "wb")) {
            std::fprintf(f, "P6\n%d %d\n255\n", w, h);
            std::vector<uint8_t> rgb(size_t(w) * 3);
            for (int y = 0; y < h; ++y) {
                const uint8_t* row = L_RowPtr(&b, y);
                for (int x = 0; x < w; ++x) {
                    rgb[size_t(x) * 3] = row[x * 3 + 2];
                    rgb[size_t(x) * 3 + 1] = row[x * 3 + 1];
                    rgb[size_t(x) * 3 + 2] = row[x * 3];
                }
                std::fwrite(rgb.data(), 1, rgb.size(), f);
            }
            std::fclose(f);
        }
    }
    return b;
}

const BITMAPHANDLE& Photo() {
    static BITMAPHANDLE photo = MakePhoto(4000, 3000);
    return photo;
}

void Convert(benchmark::State& state, const BITMAPHANDLE& src, int bpp, L_UINT flags) {
    for (auto _ : state) {
        BITMAPHANDLE out;
        if (L_ColorResBitmap(&src, &out, bpp, flags, nullptr, 0) != SUCCESS) {
            state.SkipWithError("conversion failed");
            break;
        }
        benchmark::DoNotOptimize(out.Addr);
        L_FreeBitmap(&out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * src.Width * src.Height);
}

void BM_ColorRes_24To8_OptimizedFloydSteinberg(benchmark::State& state) {
    Convert(state, Photo(), 8, CRF_OPTIMIZEDPALETTE | CRF_FLOYDSTEINDITHERING);
}
BENCHMARK(BM_ColorRes_24To8_OptimizedFloydSteinberg)->Unit(benchmark::kMillisecond);

void BM_ColorRes_24To8_OptimizedNoDither(benchmark::State& state) {
    Convert(state, Photo(), 8, CRF_OPTIMIZEDPALETTE);
}
BENCHMARK(BM_ColorRes_24To8_OptimizedNoDither)->Unit(benchmark::kMillisecond);

void BM_ColorRes_24To8_FixedOrdered(benchmark::State& state) {
    Convert(state, Photo(), 8, CRF_FIXEDPALETTE | CRF_ORDEREDDITHERING);
}
BENCHMARK(BM_ColorRes_24To8_FixedOrdered)->Unit(benchmark::kMillisecond);

void BM_ColorRes_24To32(benchmark::State& state) { Convert(state, Photo(), 32, CRF_BYTEORDERBGR); }
BENCHMARK(BM_ColorRes_24To32)->Unit(benchmark::kMillisecond);

} // namespace
