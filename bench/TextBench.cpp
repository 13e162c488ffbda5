// The text tool: one key typed into a 10-line, 48-point frame until the view has repainted
// it (goal under 8 ms), and committing that frame into a 4000 x 3000 layer (goal under
// 20 ms). Both run on a view in the headless host, as the script runner drives the editor.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchImages.h"
#include "HeadlessWindowHost.h"
#include "ImageDoc.h"
#include "ImageView.h"
#include "TextTool.h"
#include "ToolOptions.h"
#include "ViewInteraction.h"

namespace {

const std::string kTenLines =
    "The quick brown fox\njumps over the lazy\ndog while the text\n"
    "tool lays out every\nline of this frame\nagain at each key\n"
    "typed by the user\nin forty-eight point\nLiberation Serif\n"
    "antialiased glyphs";

struct TBench {
    explicit TBench(int w, int h, TSize client) : host(client) {
        doc.Image.Layers.Append(bench::MakeLayer(w, h, 0, false));
        doc.Image.Layers.Seek(0);
        view = std::make_unique<TImageView>(doc, host);
        AttachTools(*view);
        options.TextFace = "Times New Roman";
        options.TextSize = 48;
        setup.Data = &doc;
        setup.View = view.get();
        setup.Options = &options;
        setup.Foreground = RGB(20, 20, 160);
    }
    // A tool with its frame open over (x, y) .. (x + 1100, y + 760).
    std::unique_ptr<TTextPaintTool> Open(int x, int y) {
        auto tool = std::make_unique<TTextPaintTool>(setup);
        tool->Track(x, y, false, 0);
        tool->Track(x + 1100, y + 760, false, 0);
        tool->IsFinished();
        tool->Frame()->Edit().Type(kTenLines);
        return tool;
    }
    TImageDoc doc;
    THeadlessWindowHost host;
    std::unique_ptr<TImageView> view;
    TToolOptions options;
    TPaintToolSetup setup;
};

void BM_TextKeyRepaint(benchmark::State& state) {
    TBench b(1400, 1000, TSize{1300, 900});
    auto tool = b.Open(20, 20);
    ITextEdit& edit = tool->Frame()->Edit();
    b.host.Update();
    bool add = true;
    for (auto _ : state) {
        // A key and the backspace that takes it out again: the frame stays ten lines.
        if (add)
            edit.Type("x");
        else
            edit.Key(VK_BACK);
        add = !add;
        b.host.Update();
    }
    tool.reset();
}
BENCHMARK(BM_TextKeyRepaint)->Unit(benchmark::kMillisecond);

void BM_TextCommitIntoPhoto(benchmark::State& state) {
    TBench b(bench::kPhotoW, bench::kPhotoH, TSize{1300, 900});
    for (auto _ : state) {
        state.PauseTiming();
        auto tool = b.Open(100, 100);
        state.ResumeTiming();
        tool->Commit();
    }
}
BENCHMARK(BM_TextCommitIntoPhoto)->Unit(benchmark::kMillisecond);

} // namespace
