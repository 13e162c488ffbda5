// The geometry commands on a photo-sized ten-layer image, as the editor runs them (the undo
// step included where the command records one).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "BenchImages.h"
#include "GeometryCommands.h"
#include "HeadlessWindowHost.h"
#include "ImageView.h"

namespace {

constexpr int kLayers = 10;

// Ten 4000 x 3000 layers of a 32-bit image, the upper nine with partial alpha. All are in
// the background's colour class, as the editor keeps them: otherwise each command on the
// background would first convert the nine others.
struct TTenLayers {
    TTenLayers() : doc(std::make_unique<TImageDoc>()), host({1280, 1024}) {
        for (int i = 0; i < kLayers; ++i)
            doc->Image.Layers.Append(bench::MakeLayer(bench::kPhotoW, bench::kPhotoH, i, i > 0));
        doc->Image.Layers.At(0)->LogicalBpp = 32;
        doc->Image.Layers.Seek(0);
        view = std::make_unique<TImageView>(*doc, host);
        geometry = std::make_unique<TGeometryCommands>(*view);
    }
    void Select(RECT r) {
        BITMAPHANDLE b;
        if (L_CreateBitmap(&b, TYPE_CONV, bench::kPhotoW, bench::kPhotoH, 1, ORDER_BGR, nullptr,
                           TOP_LEFT) != SUCCESS)
            std::abort();
        view->SelectionMask.Adopt(b);
        const TLeadBitmap& mask = view->SelectionMask;
        for (int y = 0; y < mask.Height; ++y) {
            uint8_t* row = L_RowPtr(&mask, y);
            std::memset(row, 0, size_t(mask.BytesPerLine));
            if (y < r.top || y >= r.bottom) continue;
            for (int x = r.left; x < r.right; ++x) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
        view->HasSelection = true;
    }
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host;
    std::unique_ptr<TImageView> view;
    std::unique_ptr<TGeometryCommands> geometry;
};

TTenLayers& Image() {
    static TTenLayers* image = new TTenLayers;
    return *image;
}

// A command and its Undo (which only swaps the snapshot back, and is not timed).
template <class Op>
void Command(benchmark::State& state, Op op) {
    TTenLayers& t = Image();
    for (auto _ : state) {
        if (op(t) != SUCCESS) state.SkipWithError("command failed");
        state.PauseTiming();
        t.view->DoCommand(CM_EDITUNDO);
        state.ResumeTiming();
    }
}

void BM_ResizeTenLayersToHalf(benchmark::State& state) {
    Command(state, [](TTenLayers& t) {
        return t.geometry->ResizeImage(bench::kPhotoW / 2, bench::kPhotoH / 2);
    });
}

// The resampling part of Resize alone, on a copy of the image.
void BM_ResizeAllTenLayersToHalf(benchmark::State& state) {
    TTenLayers& t = Image();
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = std::make_unique<TLayeredImage>();
        if (copy->CopyFrom(t.doc->Image) != SUCCESS) std::abort();
        state.ResumeTiming();
        if (copy->ResizeAll(bench::kPhotoW / 2, bench::kPhotoH / 2) != SUCCESS)
            state.SkipWithError("resize failed");
        state.PauseTiming();
        copy.reset();
        state.ResumeTiming();
    }
}

// The floor for Resize: the same ten layers resampled one by one, without an undo step.
void BM_TenSingleLayerResamplesToHalf(benchmark::State& state) {
    TTenLayers& t = Image();
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<TLeadBitmap> copies(kLayers);
        for (int i = 0; i < kLayers; ++i)
            if (copies[size_t(i)].Assign(*t.doc->Image.Layers.At(i), true) != SUCCESS) std::abort();
        state.ResumeTiming();
        for (TLeadBitmap& b : copies)
            if (L_ResampleBitmap(&b, bench::kPhotoW / 2, bench::kPhotoH / 2) != SUCCESS)
                state.SkipWithError("resample failed");
        state.PauseTiming();
        copies.clear();
        state.ResumeTiming();
    }
}

// What every command pays first: the undo snapshot of all ten layers.
void BM_UndoStepOfTenLayers(benchmark::State& state) {
    Command(state, [](TTenLayers& t) {
        return t.doc->Checkpoint(true, "Step") ? L_INT(SUCCESS) : L_INT(ERROR_NO_MEMORY);
    });
}

void BM_CropBackgroundTenLayers(benchmark::State& state) {
    TTenLayers& t = Image();
    for (auto _ : state) {
        state.PauseTiming();
        t.Select(RECT{500, 400, 3500, 2600});
        state.ResumeTiming();
        const L_INT rc = t.geometry->Crop();
        if (rc != SUCCESS || t.doc->Image.Layers.At(0)->Width != 3000)
            state.SkipWithError("crop failed");
        state.PauseTiming();
        t.view->DoCommand(CM_EDITUNDO);
        state.ResumeTiming();
    }
}

// The crop's own work after the undo step, on a copy of the image.
void BM_CropWorkTenLayers(benchmark::State& state) {
    TTenLayers& t = Image();
    const RECT keep{500, 400, 3500, 2600};
    HRGN region = L_CreateRectRgn(keep);
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = std::make_unique<TLayeredImage>();
        if (copy->CopyFrom(t.doc->Image) != SUCCESS) std::abort();
        copy->Layers.Seek(0);
        state.ResumeTiming();
        if (CropCurrentLayer(*copy, region, RGB(255, 255, 255)) != SUCCESS ||
            copy->Layers.At(0)->Width != 3000)
            state.SkipWithError("crop failed");
        state.PauseTiming();
        copy.reset();
        state.ResumeTiming();
    }
    L_DeleteRgn(region);
}

void BM_RotateBackground7_5Degrees(benchmark::State& state) {
    Command(state, [](TTenLayers& t) { return t.geometry->RotateLayer(75); });
}

// Flip turns the background alone; its undo step must not copy the nine other layers.
template <int kId>
void BM_FlipBackgroundTenLayers(benchmark::State& state) {
    Command(state, [](TTenLayers& t) {
        t.doc->Image.Layers.Seek(0);
        return t.view->DoCommand(kId) ? L_INT(SUCCESS) : L_INT(ERROR_INV_PARAMETER);
    });
}

} // namespace

BENCHMARK(BM_FlipBackgroundTenLayers<CM_IMAGE_FLIP_HORIZONTAL>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlipBackgroundTenLayers<CM_IMAGE_FLIP_VERTICAL>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeTenLayersToHalf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ResizeAllTenLayersToHalf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TenSingleLayerResamplesToHalf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_UndoStepOfTenLayers)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CropBackgroundTenLayers)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CropWorkTenLayers)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RotateBackground7_5Degrees)->Unit(benchmark::kMillisecond)->Iterations(3);
