// Decoding from memory and encoding to memory, apart, for the formats photos travel in:
// PNG, JPEG at quality 75, TIFF with LZW and 24-bit BMP, on the 4000 x 3000 photo at
// 24 bits, on one thread. No disk, no process start: what bench/codecs.sh sets beside
// libpng, libjpeg-turbo and libtiff called directly on the same bytes.
//
// QUILLO_BENCH_PHOTO names a picture to use instead of the made one. QUILLO_CODEC_BASE=BASE
// decodes BASE.png, BASE.jpg, BASE.lzw.tif and BASE.bmp instead of our own encodings of
// the photo, so that both sides read exactly the same files.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchImages.h"
#include "Processing.h"

namespace {

struct Format {
    const char* name; // also the file name suffix of QUILLO_CODEC_BASE
    int code;
    int qfactor;
};

// Quality 75 as quillo-tool computes it: the factor counts down from 0 (best) to 255.
constexpr Format kPng{"png", FILE_PNG, 0};
constexpr Format kJpeg{"jpg", FILE_JFIF, 64};
constexpr Format kTiffLzw{"lzw.tif", FILE_TIFLZW, 0};
constexpr Format kBmp{"bmp", FILE_BMP, 0};

const BITMAPHANDLE& Photo() {
    static BITMAPHANDLE b = [] {
        BITMAPHANDLE p;
        if (const char* path = std::getenv("QUILLO_BENCH_PHOTO")) {
            if (L_LoadBitmap(path, &p, 24, ORDER_BGR) != SUCCESS) std::abort();
            return p;
        }
        return bench::MakePhoto(24);
    }();
    return b;
}

std::vector<uint8_t> Encoded(const Format& f) {
    std::vector<uint8_t> bytes;
    if (const char* base = std::getenv("QUILLO_CODEC_BASE")) {
        FILE* in = std::fopen((std::string(base) + "." + f.name).c_str(), "rb");
        if (!in) std::abort();
        uint8_t chunk[1 << 16];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(in);
        return bytes;
    }
    uint8_t* buf = nullptr;
    size_t size = 0;
    BITMAPHANDLE photo = Photo();
    if (L_SaveBitmapMemory(&buf, &photo, f.code, 24, f.qfactor, &size) != SUCCESS) std::abort();
    bytes.assign(buf, buf + size);
    std::free(buf);
    return bytes;
}

// Each load allocates its bitmap afresh, as opening a file does; the free is not timed.
void BM_Decode(benchmark::State& state, Format f) {
    L_SetProcessingThreads(1);
    const std::vector<uint8_t> bytes = Encoded(f);
    for (auto _ : state) {
        BITMAPHANDLE b;
        if (L_LoadBitmapMemory(bytes.data(), &b, 0, ORDER_BGR, bytes.size()) != SUCCESS) {
            state.SkipWithError("decode failed");
            break;
        }
        state.PauseTiming();
        if (b.Width != Photo().Width || b.Height != Photo().Height) {
            state.SkipWithError("decoded the wrong size");
            break;
        }
        L_FreeBitmap(&b);
        state.ResumeTiming();
    }
    state.counters["file_MB"] = double(bytes.size()) / 1e6;
    L_SetProcessingThreads(0);
}

void BM_Encode(benchmark::State& state, Format f) {
    L_SetProcessingThreads(1);
    BITMAPHANDLE photo = Photo();
    size_t size = 0;
    for (auto _ : state) {
        uint8_t* buf = nullptr;
        if (L_SaveBitmapMemory(&buf, &photo, f.code, 24, f.qfactor, &size) != SUCCESS) {
            state.SkipWithError("encode failed");
            break;
        }
        state.PauseTiming();
        std::free(buf);
        state.ResumeTiming();
    }
    state.counters["file_MB"] = double(size) / 1e6;
    L_SetProcessingThreads(0);
}

#define QUILLO_CODEC(id, format)                                                            \
    BENCHMARK_CAPTURE(BM_Decode, id, format)->Unit(benchmark::kMillisecond)->UseRealTime(); \
    BENCHMARK_CAPTURE(BM_Encode, id, format)->Unit(benchmark::kMillisecond)->UseRealTime()

QUILLO_CODEC(png, kPng);
QUILLO_CODEC(jpeg, kJpeg);
QUILLO_CODEC(tifflzw, kTiffLzw);
QUILLO_CODEC(bmp, kBmp);

} // namespace
