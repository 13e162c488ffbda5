// Compositing and painting a photo-sized stack: ten 4000 x 3000 layers at 32 bits, half of
// them with partial alpha.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "LayeredImage.h"

namespace {

constexpr int kW = 4000, kH = 3000, kLayers = 10;

// Smooth colour fields that differ per layer; odd layers fade from opaque to clear.
std::unique_ptr<TLayer> MakeLayer(int index) {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, kW, kH, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        std::abort();
    l->Adopt(b);
    l->LogicalBpp = 32;
    const bool partial = index % 2 == 1;
    for (int y = 0; y < kH; ++y) {
        uint8_t* p = L_RowPtr(l.get(), y);
        for (int x = 0; x < kW; ++x, p += 4) {
            p[0] = uint8_t(x * 255 / kW + index * 23);
            p[1] = uint8_t(y * 255 / kH + index * 41);
            p[2] = uint8_t(((x + y) >> 4) + index * 67);
            p[3] = partial ? uint8_t((x + y) * 255 / (kW + kH)) : 255;
        }
    }
    return l;
}

TLayeredImage& Stack() {
    static TLayeredImage* image = [] {
        auto* img = new TLayeredImage;
        for (int i = 0; i < kLayers; ++i) img->Layers.Append(MakeLayer(i));
        img->Layers.Seek(kLayers - 1);
        return img;
    }();
    return *image;
}

void Rates(benchmark::State& state, double imagePixels, double layerPixels) {
    state.counters["MP/s"] =
        benchmark::Counter(imagePixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["layer_MP/s"] =
        benchmark::Counter(layerPixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_RecomposeFull(benchmark::State& state) {
    TLayeredImage& img = Stack();
    const TPaintOptions options;
    const RECT full{0, 0, kW, kH};
    for (auto _ : state) {
        img.InvalidateAll();
        if (img.Recompose(options, full) != SUCCESS) state.SkipWithError("recompose failed");
    }
    Rates(state, double(kW) * kH, double(kW) * kH * kLayers);
}
BENCHMARK(BM_RecomposeFull)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecomposeDirty256(benchmark::State& state) {
    TLayeredImage& img = Stack();
    const TPaintOptions options;
    const RECT full{0, 0, kW, kH};
    img.InvalidateAll();
    img.Recompose(options, full);
    int step = 0;
    for (auto _ : state) {
        // A different square each time, as a brush moving across the picture would dirty.
        const int x = (step * 997) % (kW - 256), y = (step * 613) % (kH - 256);
        ++step;
        img.Invalidate(RECT{x, y, x + 256, y + 256});
        if (img.Recompose(options, full) != SUCCESS) state.SkipWithError("recompose failed");
    }
    Rates(state, 256.0 * 256, 256.0 * 256 * kLayers);
}
BENCHMARK(BM_RecomposeDirty256)->Unit(benchmark::kMillisecond)->UseRealTime();

// One repaint of a full HD window from the cached composite, with the current layer's
// transform frame on top. The argument is the zoom in percent.
void BM_PaintHD(benchmark::State& state) {
    TLayeredImage& img = Stack();
    constexpr int kWinW = 1920, kWinH = 1080;
    const long double zoom = state.range(0) / 100.0L;
    BITMAPHANDLE window;
    if (L_CreateBitmap(&window, TYPE_CONV, kWinW, kWinH, 32, ORDER_BGR, nullptr, TOP_LEFT) !=
        SUCCESS)
        std::abort();
    HDC dc = L_CreateLeadDC(&window);
    if (!dc) {
        state.SkipWithError("no device context");
        L_FreeBitmap(&window);
        return;
    }
    // The image centred in the window (bigger than the window when zoomed in).
    const int iw = int(kW * zoom), ih = int(kH * zoom);
    const RECT imageRect{(kWinW - iw) / 2, (kWinH - ih) / 2, (kWinW - iw) / 2 + iw,
                         (kWinH - ih) / 2 + ih};
    const RECT paintRect{0, 0, kWinW, kWinH};
    TPaintOptions options;
    options.ShowTransformFrame = true;
    img.Paint(dc, paintRect, imageRect, options); // brings the composite up to date
    for (auto _ : state) img.Paint(dc, paintRect, imageRect, options);
    Rates(state, double(kWinW) * kWinH, double(kWinW) * kWinH);
    L_DeleteLeadDC(dc);
    L_FreeBitmap(&window);
}
BENCHMARK(BM_PaintHD)->Arg(25)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();

// Entering a channel mode on a 12-megapixel layer and leaving it again: the view is made
// (plane copy or colour separation) and written back (plane copy, or separation, merge and
// write-back of the changed pixels). The argument is the mode: alpha, red, CMYK cyan, CMY
// cyan, HSV hue, HLS hue.
void BM_ChannelViewRoundTrip(benchmark::State& state) {
    static TLayeredImage* image = [] {
        auto* img = new TLayeredImage;
        img->Layers.Append(MakeLayer(1));
        return img;
    }();
    const int mode = int(state.range(0));
    for (auto _ : state) {
        image->SetChannelMode(mode);
        TLayer* view = image->GetCurrentLayer();
        if (!view) {
            state.SkipWithError("no channel view");
            break;
        }
        L_RowPtr(view, kH / 2)[kW / 2] ^= 0xFF; // one edited pixel, so the merge has work
        if (image->SetChannelMode(CHANNEL_AGGREGATED) != SUCCESS)
            state.SkipWithError("merge failed");
    }
    Rates(state, double(kW) * kH, double(kW) * kH);
}
BENCHMARK(BM_ChannelViewRoundTrip)
    ->Arg(CHANNEL_ALPHA)
    ->Arg(CHANNEL_RED)
    ->Arg(CHANNEL_CMYK_CYAN)
    ->Arg(CHANNEL_CMY_CYAN)
    ->Arg(CHANNEL_HSV_HUE)
    ->Arg(CHANNEL_HLS_HUE)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
