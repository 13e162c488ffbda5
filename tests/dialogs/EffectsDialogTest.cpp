// The preview dialog framework on its own: fitted zoom, zoom levels and their limits, clicks
// beside the picture, bottom-up sources, selections out of sight, depths, failing previews
// and the slider's live preview.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "CommandIds.h"
#include "EffectCommands.h"
#include "EffectsDialog.h"
#include "ErrorDisplay.h"
#include "FilterTestUtil.h"
#include "MessageBox.h"
#include "Processing.h"
#include "model/ModelTestUtil.h"

namespace {

using ft::ClickMiddle;
using ft::SamePixels;
using mt::Px;

TDialogTemplate TestTemplate(bool slider) {
    TDialogTemplate t = EffectDialogTemplate(1600, "Test Effect");
    if (slider) {
        AddSliderRow(t, kEffectControlsTop, "&Amount:", IDC_SLIDER, "", "");
        AddDialogControl(t, IDC_SLIDERVALUE, TControlKind::Static, "", 8, 136, 20, 10);
        AddDialogControl(t, IDC_SLIDERMIN, TControlKind::Static, "", 30, 136, 20, 10);
        AddDialogControl(t, IDC_SLIDERMAX, TControlKind::Static, "", 52, 136, 20, 10);
    }
    FinishEffectDialogTemplate(t, 150);
    return t;
}

// Inverts, or fails with a chosen status; counts its calls.
class TInvertDialog : public TSliderDialog {
public:
    explicit TInvertDialog(const TLeadBitmapX& src) : TSliderDialog(src, TestTemplate(true), 8) {}
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool) override {
        ++Calls;
        if (Fail != SUCCESS) return Fail;
        L_INT rc = dst.AssignX(src, true);
        return rc == SUCCESS ? L_InvertBitmap(&dst) : rc;
    }
    using TEffectsDialog::Zoom;
    int Calls = 0;
    L_INT Fail = SUCCESS;
};

// Runs the dialog headless: the script sees it open, after set-up.
struct THeadless {
    THeadlessDialogHost host;
    THeadlessMessageBoxes boxes;
    IDialogHost* oldHost;
    THeadless() : oldHost(SetDialogHost(&host)) { SetMessageBoxHost(&boxes); }
    ~THeadless() {
        SetDialogHost(oldHost);
        SetMessageBoxHost(nullptr);
    }
    int operator()(TDialog& d, std::function<int(TDialog&)> script) {
        host.QueueScript(std::move(script));
        return d.Execute();
    }
};

} // namespace

// The pane of the template is 180 x 148 pixels.
TEST(EffectsDialog, FitsTheImageAndZoomsWithinItsLevels) {
    struct Case {
        int w, h;
        int clicksIn, clicksOut; // zoom-ins first, then zoom-outs
        int level;               // where the level ends
        double zoom;             // the fitted zoom
    };
    const Case cases[] = {
        {100, 50, 0, 0, 0, 1.8},       // wider than the pane's shape: fitted to its width
        {64, 64, 6, 0, 5, 148.0 / 64}, // a small image is enlarged; level 5 is the last
        {10, 10, 4, 0, 2, 14.8},       // the third zoom-in would show one pixel: refused
        {300, 200, 0, 3, -2, 0.6},     // a third zoom-out is refused
        {300, 200, 5, 2, 3, 0.6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        auto layer = mt::Pattern(c.w, c.h, 32);
        TInvertDialog d(*layer);
        THeadless run;
        run(d, [&](TDialog&) -> int {
            EXPECT_DOUBLE_EQ(d.GetZoom(), c.zoom);
            for (int i = 0; i < c.clicksIn; ++i) ClickMiddle(d, IDC_ORIGINAL, false);
            for (int i = 0; i < c.clicksOut; ++i) ClickMiddle(d, IDC_PREVIEW, true);
            EXPECT_EQ(d.GetZoomLevel(), c.level);
            const RECT v = d.GetVisibleRect();
            EXPECT_GE(v.right - v.left, 2);
            EXPECT_GE(v.bottom - v.top, 2);
            EXPECT_LE(v.right, c.w);
            EXPECT_LE(v.bottom, c.h);
            // Both panes show the same part at the same size.
            EXPECT_TRUE(d.PreviewBitmap().IsAllocated());
            EXPECT_EQ(d.PreviewBitmap().Width, d.ShownOriginal().Width);
            EXPECT_EQ(d.PreviewBitmap().Height, d.ShownOriginal().Height);
            return IDCANCEL;
        });
    }
}

TEST(EffectsDialog, ZoomingOutShowsTheWholeImageCentredAndMarginClicksDoNothing) {
    auto layer = mt::Pattern(100, 50, 32);
    TInvertDialog d(*layer);
    THeadless run;
    run(d, [&](TDialog&) -> int {
        // Fitted: 180 x 90, 29 pixels of margin above and below.
        EXPECT_EQ(d.OriginalPane()->Offset().y, 29);
        EXPECT_TRUE(d.ClickPane(IDC_ORIGINAL, false, POINT{90, 10}));
        EXPECT_EQ(d.GetZoomLevel(), 0);
        EXPECT_TRUE(d.ClickPane(IDC_ORIGINAL, false, POINT{90, 29 + 90}));
        EXPECT_EQ(d.GetZoomLevel(), 0);
        ClickMiddle(d, IDC_ORIGINAL, true);
        EXPECT_EQ(d.GetZoomLevel(), -1);
        const RECT v = d.GetVisibleRect();
        EXPECT_EQ(v.left, 0);
        EXPECT_EQ(v.top, 0);
        EXPECT_EQ(v.right, 100);
        EXPECT_EQ(v.bottom, 50);
        EXPECT_EQ(d.ShownOriginal().Width, 90);
        EXPECT_EQ(d.OriginalPane()->Offset().x, 45);
        EXPECT_EQ(d.OriginalPane()->Offset().y, 51);
        // Zooming in about a corner keeps the visible part inside the image.
        EXPECT_TRUE(d.ClickPane(IDC_ORIGINAL, false, POINT{45 + 89, 51 + 44}));
        EXPECT_TRUE(d.ClickPane(IDC_ORIGINAL, false, POINT{90 + 89, 29 + 89}));
        const RECT z = d.GetVisibleRect();
        EXPECT_EQ(d.GetZoomLevel(), 1);
        EXPECT_EQ(z.right, 100);
        EXPECT_EQ(z.bottom, 50);
        EXPECT_EQ(z.left, 50);
        EXPECT_EQ(z.top, 9); // 50 - (int)(148 / 3.6)
        // The preview is the original processed: inverted pixel for pixel.
        const Px o = mt::At(d.ShownOriginal(), 3, 3), p = mt::At(d.PreviewBitmap(), 3, 3);
        EXPECT_EQ(p, (Px{255 - o.b, 255 - o.g, 255 - o.r, o.a}));
        return IDCANCEL;
    });
}

TEST(EffectsDialog, ABottomUpSourceShowsTheSameRectangle) {
    auto top = mt::Pattern(120, 90, 32);
    auto bottom = mt::Pattern(120, 90, 32);
    ASSERT_EQ(L_ChangeBitmapViewPerspective(nullptr, bottom.get(), BOTTOM_LEFT), SUCCESS);
    ASSERT_EQ(bottom->ViewPerspective, BOTTOM_LEFT);
    TInvertDialog a(*top), b(*bottom);
    THeadless run;
    TLeadBitmapX shownA, previewA;
    run(a, [&](TDialog&) -> int {
        a.ClickPane(IDC_ORIGINAL, false, POINT{30, 40});
        a.ClickPane(IDC_ORIGINAL, false, POINT{30, 40});
        shownA.AssignX(a.ShownOriginal(), true);
        previewA.AssignX(a.PreviewBitmap(), true);
        return IDCANCEL;
    });
    run(b, [&](TDialog&) -> int {
        b.ClickPane(IDC_ORIGINAL, false, POINT{30, 40});
        b.ClickPane(IDC_ORIGINAL, false, POINT{30, 40});
        EXPECT_EQ(b.GetZoomLevel(), 2);
        EXPECT_TRUE(SamePixels(b.ShownOriginal(), shownA));
        EXPECT_TRUE(SamePixels(b.PreviewBitmap(), previewA));
        return IDCANCEL;
    });
}

// The selection in the middle of a 200 x 200 layer: in sight at the fitted zoom, cut by the
// crop after one zoom into the top left corner, out of sight after two. Every dialog leaves
// the pixels outside it alone in its preview; the inverting one shows what it processes.
TEST(EffectsDialog, ThePreviewIsProcessedOnlyInsideTheSelectionInSight) {
    struct TProbe {
        int x, y;    // image pixel
        bool inside; // in the selection
    };
    auto check = [](TEffectsDialog& d, std::initializer_list<TProbe> probes, bool inverts,
                    const std::string& what) {
        const RECT v = d.GetVisibleRect();
        const BITMAPHANDLE& o = d.ShownOriginal();
        const BITMAPHANDLE& p = d.PreviewBitmap();
        ASSERT_TRUE(d.PreviewBitmap().IsAllocated()) << what;
        for (const TProbe& t : probes) {
            const int px = int((t.x - v.left) * d.GetZoom()), py = int((t.y - v.top) * d.GetZoom());
            const Px a = mt::At(o, px, py), b = mt::At(p, px, py);
            if (!t.inside) {
                EXPECT_EQ(b, a) << what << " outside at " << t.x << "," << t.y;
            } else if (inverts) {
                EXPECT_EQ(b, (Px{uint8_t(255 - a.b), uint8_t(255 - a.g), uint8_t(255 - a.r), a.a}))
                    << what << " inside at " << t.x << "," << t.y;
            }
        }
    };
    auto layer = mt::Pattern(200, 200, 32);
    mt::Shape(*layer, RECT{80, 80, 140, 140});
    std::vector<std::pair<std::string, std::unique_ptr<TEffectsDialog>>> dialogs;
    // Water Color previews only on request, so it is left out.
    dialogs.emplace_back("invert", std::make_unique<TInvertDialog>(*layer));
    for (int id : std::initializer_list<int>{
             CM_ADJUST_HUE_SATURATION, CM_ADJUST_BRIGHTNESS_CONTRAST, CM_ADJUST_SHARPNESS,
             CM_ADJUST_RGB, CM_ADJUST_CMYK, CM_ADJUST_GAMMA, CM_EFFECT_RED_EYE, CM_EFFECT_AVERAGE,
             CM_EFFECT_MEDIAN, CM_EFFECT_EMBOSS, CM_EFFECT_ADD_NOISE, CM_EFFECT_POSTERIZE,
             CM_EFFECT_MOSAIC, CM_EFFECT_SPATIAL_FILTER, CM_EFFECT_DIFFUSE_OUTLINE})
        dialogs.emplace_back(FindEffectCommand(id)->UndoName, FindEffectCommand(id)->Make(*layer));
    THeadless run;
    for (auto& [name, d] : dialogs) {
        const bool inverts = name == "invert";
        run(*d, [&](TDialog&) -> int {
            check(*d, {{100, 100, true}, {120, 130, true}, {20, 20, false}, {160, 100, false}},
                  inverts, name + " fitted");
            // The crop shows the selection's top left part only.
            d->ClickPane(IDC_ORIGINAL, false, POINT{21, 5});
            EXPECT_EQ(d->GetVisibleRect().right, 121) << name;
            EXPECT_EQ(d->GetVisibleRect().bottom, 100) << name;
            check(*d, {{100, 90, true}, {115, 95, true}, {40, 40, false}, {60, 90, false}}, inverts,
                  name + " partly in sight");
            // Nothing of it is in sight: the preview is the original, unprocessed.
            const int calls = inverts ? static_cast<TInvertDialog&>(*d).Calls : 0;
            d->ClickPane(IDC_ORIGINAL, false, POINT{21, 5});
            EXPECT_LT(d->GetVisibleRect().right, 80) << name;
            EXPECT_TRUE(SamePixels(d->PreviewBitmap(), d->ShownOriginal())) << name;
            if (inverts) {
                EXPECT_EQ(static_cast<TInvertDialog&>(*d).Calls, calls);
            }
            return IDCANCEL;
        });
    }
    EXPECT_EQ(L_BitmapHasRgn(layer.get()), 1) << "the layer's region is its own";
}

TEST(EffectsDialog, DeepSourcesArePreviewedAt32BitsAndTransparencyShowsTheBackground) {
    // A 24-bit bitmap is worked on as an opaque 32-bit copy; the layer keeps its pixels.
    BITMAPHANDLE b24;
    ASSERT_EQ(L_CreateBitmap(&b24, TYPE_CONV, 40, 30, 24, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    TLeadBitmapX deep;
    deep.Adopt(b24);
    deep.LogicalBpp = 24;
    ASSERT_EQ(L_FillBitmap(&deep, RGB(10, 20, 30)), SUCCESS);
    THeadless run;
    {
        TInvertDialog d(deep);
        EXPECT_EQ(d.Source().BitsPerPixel, 32);
        EXPECT_EQ(d.Source().LogicalBpp, 24);
        EXPECT_NE(d.Source().Addr, deep.Addr);
        run(d, [&](TDialog&) -> int {
            EXPECT_EQ(mt::At(d.PreviewBitmap(), 5, 5), (Px{225, 235, 245, 255}));
            return IDCANCEL;
        });
    }
    EXPECT_EQ(deep.BitsPerPixel, 24);
    EXPECT_EQ(mt::At(deep, 5, 5), (Px{30, 20, 10, 255}));

    // A 32-bit layer shares its pixels; its transparent half shows the background colour.
    auto layer = mt::Solid(40, 30, Px{0, 0, 255, 255}, 32);
    for (int y = 0; y < 30; ++y)
        for (int x = 20; x < 40; ++x) mt::Put(*layer, x, y, Px{0, 0, 255, 0});
    TInvertDialog d(*layer);
    EXPECT_EQ(d.Source().Addr, layer->Addr);
    run(d, [&](TDialog&) -> int {
        const BITMAPHANDLE* shown = d.OriginalPane()->Shown();
        const COLORREF bg = TImageControl::BackgroundColor();
        EXPECT_EQ(L_GetPixelColor(shown, 10, 10), RGB(255, 0, 0));
        EXPECT_EQ(L_GetPixelColor(shown, 10, shown->Width - 2), bg);
        EXPECT_EQ(d.State(IDC_ORIGINAL)->Bitmap, shown);
        EXPECT_TRUE(d.State(IDC_ORIGINAL)->ZoomCursor);
        return IDCANCEL;
    });
}

TEST(EffectsDialog, TheSliderShowsItsNumbersThePreviewFollowsAndAFailingOneIsShown) {
    auto layer = mt::Pattern(50, 50, 32);
    TInvertDialog d(*layer);
    d.Minimum = 1;
    d.Maximum = 20;
    d.Initial = 7;
    d.RulerStep = 5;
    THeadless run;
    run(d, [&](TDialog&) -> int {
        EXPECT_EQ(d.GetDlgItemText(IDC_SLIDERVALUE), "7");
        EXPECT_EQ(d.GetDlgItemText(IDC_SLIDERMIN), "1");
        EXPECT_EQ(d.GetDlgItemText(IDC_SLIDERMAX), "20");
        EXPECT_EQ(d.State(IDC_SLIDER)->Ruler, 5);
        const int before = d.Calls;
        d.LivePreviewLimitMs = 0; // a slow preview waits for the release
        d.Scroll(IDC_SLIDER, SB_THUMBTRACK, 12);
        EXPECT_EQ(d.GetDlgItemText(IDC_SLIDERVALUE), "12");
        EXPECT_EQ(d.Calls, before);
        d.Scroll(IDC_SLIDER, SB_ENDSCROLL);
        EXPECT_EQ(d.Calls, before + 1);
        d.LivePreviewLimitMs = 1e9; // a fast one follows the thumb
        d.Scroll(IDC_SLIDER, SB_THUMBTRACK, 13);
        EXPECT_EQ(d.Calls, before + 2);
        // A failing preview leaves the pane empty; the dialog stays usable.
        d.Fail = ERROR_NO_MEMORY;
        d.Scroll(IDC_SLIDER, SB_ENDSCROLL);
        EXPECT_FALSE(d.PreviewBitmap().IsAllocated());
        EXPECT_EQ(d.State(IDC_PREVIEW)->Bitmap, nullptr);
        EXPECT_TRUE(ClickMiddle(d, IDC_ORIGINAL, false));
        EXPECT_EQ(d.GetZoomLevel(), 1);
        return IDOK;
    });
    EXPECT_EQ(d.Result(), IDOK);
    ASSERT_EQ(run.boxes.Shown.size(), 2u);
    EXPECT_EQ(run.boxes.Shown[0].Caption, "Test Effect");
    EXPECT_EQ(run.boxes.Shown[0].Text, ToolkitErrorText(ERROR_NO_MEMORY));
}
