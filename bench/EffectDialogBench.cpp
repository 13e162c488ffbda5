// The adjustment dialogs on a 4000 x 3000 layer: opening each until both panes show their
// pictures (goal: under 100 ms), and one preview recomputed at the fitted zoom after a slider
// is let go (goal: under 40 ms, the limit below which the preview follows a drag). And OK on
// the whole layer through the command, against the bare processing function on the same
// layer (goal: within 1.3 times it).
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

#include "BenchImages.h"
#include "ColorAdjustDialogs.h"
#include "EffectCommands.h"
#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "Processing.h"

namespace {

const TLeadBitmapX& Layer() {
    static TLeadBitmapX layer;
    if (!layer.IsAllocated()) {
        BITMAPHANDLE b = bench::MakePhoto(32);
        layer.Adopt(b);
        layer.LogicalBpp = 24;
    }
    return layer;
}

using TMake = std::function<std::unique_ptr<TAdjustDialog>(const TLeadBitmapX&)>;

template <class D>
std::unique_ptr<TAdjustDialog> Make(const TLeadBitmapX& s) {
    return std::make_unique<D>(s);
}

void Open(benchmark::State& state, const TMake& make) {
    THeadlessDialogHost host;
    IDialogHost* old = SetDialogHost(&host);
    for (auto _ : state) {
        auto d = make(Layer());
        host.QueueScript([](TDialog&) { return int(IDCANCEL); });
        d->Execute();
        if (!d->PreviewBitmap().IsAllocated() && !d->ShownOriginal().IsAllocated())
            state.SkipWithError("the panes stayed empty");
    }
    SetDialogHost(old);
}

void BM_OpenDialog_HueSaturation(benchmark::State& s) { Open(s, Make<THueSatDialog>); }
void BM_OpenDialog_BrightnessContrast(benchmark::State& s) {
    Open(s, Make<TBrightnessContrastDialog>);
}
void BM_OpenDialog_Sharpness(benchmark::State& s) { Open(s, Make<TSharpnessDialog>); }
void BM_OpenDialog_Gamma(benchmark::State& s) { Open(s, Make<TGammaCorrectDialog>); }
void BM_OpenDialog_RGB(benchmark::State& s) { Open(s, Make<TRGBAdjustDialog>); }
void BM_OpenDialog_CMYK(benchmark::State& s) { Open(s, Make<TCMYKAdjustDialog>); }
BENCHMARK(BM_OpenDialog_HueSaturation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenDialog_BrightnessContrast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenDialog_Sharpness)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenDialog_Gamma)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenDialog_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenDialog_CMYK)->Unit(benchmark::kMillisecond);

// The slider of Brightness/Contrast let go at alternating positions.
void BM_PreviewAtFittedZoom_BrightnessContrast(benchmark::State& state) {
    THeadlessDialogHost host;
    IDialogHost* old = SetDialogHost(&host);
    TBrightnessContrastDialog d(Layer());
    host.QueueScript([&](TDialog&) {
        int pos = 30;
        for (auto _ : state) {
            d.Scroll(IDC_ADJUST1, SB_THUMBPOSITION, pos);
            d.Scroll(IDC_ADJUST1, SB_ENDSCROLL);
            pos = pos == 30 ? 35 : 30;
        }
        return int(IDCANCEL);
    });
    d.Execute();
    SetDialogHost(old);
}
BENCHMARK(BM_PreviewAtFittedZoom_BrightnessContrast)->Unit(benchmark::kMillisecond);

// The command after OK: the undo snapshot, the dialog's Apply on a copy of the layer, the
// result put in place and the view told. The dialog's opening is not timed.
void BM_ApplyWholeLayer_BrightnessContrast(benchmark::State& state) {
    TImageDoc doc;
    doc.Image.Layers.Append(bench::MakeLayer(bench::kPhotoW, bench::kPhotoH, 0, false));
    THeadlessWindowHost window(TSize{1920, 1080});
    TImageView view(doc, window);
    THeadlessDialogHost host;
    IDialogHost* old = SetDialogHost(&host);
    int pos = 30;
    for (auto _ : state) {
        state.PauseTiming();
        host.QueueScript([&](TDialog& d) {
            d.Scroll(IDC_ADJUST1, SB_THUMBPOSITION, pos);
            pos = pos == 30 ? 20 : 30;
            state.ResumeTiming();
            return int(IDOK);
        });
        RunEffectDialog(view, Make<TBrightnessContrastDialog>, "Brightness", true, false);
    }
    SetDialogHost(old);
}
BENCHMARK(BM_ApplyWholeLayer_BrightnessContrast)->Unit(benchmark::kMillisecond);

// What the command above does to the pixels, on the layer itself.
void BM_ApplyBare_BrightnessContrast(benchmark::State& state) {
    std::unique_ptr<TLayer> layer = bench::MakeLayer(bench::kPhotoW, bench::kPhotoH, 0, false);
    int amount = 100;
    for (auto _ : state) {
        if (L_ChangeBitmapIntensity(layer.get(), amount) != SUCCESS) state.SkipWithError("failed");
        amount = -amount;
    }
}
BENCHMARK(BM_ApplyBare_BrightnessContrast)->Unit(benchmark::kMillisecond);

// The dialog's Apply alone: the copy it makes of the layer and the function on it.
void BM_ApplyDialogOnly_BrightnessContrast(benchmark::State& state) {
    TLeadBitmapX layer;
    BITMAPHANDLE b = bench::MakePhoto(32);
    layer.Adopt(b);
    THeadlessDialogHost host;
    IDialogHost* old = SetDialogHost(&host);
    TBrightnessContrastDialog d(layer);
    host.QueueScript([&](TDialog&) {
        d.Scroll(IDC_ADJUST1, SB_THUMBPOSITION, 30);
        for (auto _ : state) {
            TLeadBitmapX out;
            if (d.Apply(out, layer, false) != SUCCESS) state.SkipWithError("failed");
        }
        return int(IDCANCEL);
    });
    d.Execute();
    SetDialogHost(old);
}
BENCHMARK(BM_ApplyDialogOnly_BrightnessContrast)->Unit(benchmark::kMillisecond);

} // namespace
