// The dialog commands on a view: each opens its dialog on the current layer, OK records
// one undo step under its name and changes only the selected pixels, Cancel changes
// nothing, failures are shown and leave the pixels, and the background's palette reaches
// the other layers.
#include <gtest/gtest.h>

#include <cstring>

#include "ColorAdjustDialogs.h"
#include "CommandIds.h"
#include "ErrorDisplay.h"
#include "ViewFixture.h"
#include "view/ViewTestUtil.h"

namespace {

using mt::Px;

struct Fixture : TViewFixture {
    using TViewFixture::TViewFixture;
    void Select(RECT r) { vt::Select(*view, Layer(0), r); }
};

// Fails on the layer but not for the preview.
class TFailingDialog : public TBrightnessContrastDialog {
public:
    using TBrightnessContrastDialog::TBrightnessContrastDialog;
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override {
        return preview ? TBrightnessContrastDialog::Apply(dst, src, preview) : ERROR_NO_MEMORY;
    }
};

} // namespace

TEST(EffectCommands, BrightnessChangesTheSelectionOnlyAsOneUndoStepAndThePreviewShowsThat) {
    Fixture f(mt::Pattern(40, 30, 24));
    f.Select(RECT{0, 0, 20, 30});
    const Px inside = mt::At(f.Layer(0), 5, 5), outside = mt::At(f.Layer(0), 30, 5);
    f.dialogs.QueueScript([&](TDialog& d) -> int {
        auto& e = dynamic_cast<TEffectsDialog&>(d);
        // A repaint meanwhile must still show the whole layer.
        EXPECT_EQ(L_BitmapHasRgn(&f.Layer(0)), 0) << "the layer lost its shape to the dialog";
        EXPECT_TRUE(d.Scroll(IDC_ADJUST1, SB_THUMBPOSITION, 40));
        EXPECT_TRUE(d.Scroll(IDC_ADJUST1, SB_ENDSCROLL));
        // Fitted at 4.5 pane pixels per image pixel: the right half of the preview is the
        // unselected half of the layer and stays as it was.
        EXPECT_EQ(mt::At(e.PreviewBitmap(), 150, 20), mt::At(e.ShownOriginal(), 150, 20));
        EXPECT_NE(mt::At(e.PreviewBitmap(), 20, 20), mt::At(e.ShownOriginal(), 20, 20));
        return IDOK;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_ADJUST_BRIGHTNESS_CONTRAST));
    ASSERT_EQ(f.dialogs.Shown.size(), 1u);
    EXPECT_EQ(f.dialogs.Shown[0].ResourceId, IDD_BRIGHTNESSCONTRAST);
    EXPECT_EQ(f.doc->UndoName(), "Brightness/Contrast");
    EXPECT_GT(mt::At(f.Layer(0), 5, 5).r, inside.r);
    EXPECT_EQ(mt::At(f.Layer(0), 30, 5), outside);
    EXPECT_EQ(L_BitmapHasRgn(&f.Layer(0)), 0) << "the selection stays out of the layer's shape";
    EXPECT_EQ(f.Layer(0).LogicalBpp, 24);
    EXPECT_TRUE(f.boxes.Shown.empty());

    ASSERT_TRUE(f.view->DoCommand(CM_EDITUNDO));
    EXPECT_EQ(mt::At(f.Layer(0), 5, 5), inside);
}

// Inside the selection only the layer's own pixels change, and the layer keeps its shape.
TEST(EffectCommands, ALayerWithAShapeKeepsIt) {
    Fixture f(mt::Pattern(40, 30, 24));
    const RECT shape{10, 5, 35, 25};
    ASSERT_EQ(L_SetBitmapRgnRect(&f.Layer(0), nullptr, &shape, L_RGN_SET), SUCCESS);
    f.Select(RECT{0, 0, 20, 30});
    const Px both = mt::At(f.Layer(0), 15, 10), selectedOnly = mt::At(f.Layer(0), 5, 10);
    f.dialogs.QueueScript([](TDialog& d) -> int {
        d.Scroll(IDC_ADJUST1, SB_THUMBPOSITION, 40);
        return IDOK;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_ADJUST_BRIGHTNESS_CONTRAST));
    EXPECT_GT(mt::At(f.Layer(0), 15, 10).r, both.r);
    EXPECT_EQ(mt::At(f.Layer(0), 5, 10), selectedOnly);
    RECT bounds{};
    ASSERT_EQ(L_GetBitmapRgnBounds(&f.Layer(0), nullptr, &bounds), SUCCESS);
    EXPECT_EQ(bounds.left, shape.left);
    EXPECT_EQ(bounds.right, shape.right);
    EXPECT_EQ(bounds.top, shape.top);
    EXPECT_EQ(bounds.bottom, shape.bottom);
}

TEST(EffectCommands, EveryCommandOpensItsDialogAndCancelChangesNothing) {
    const std::pair<int, int> dialogs[] = {
        {CM_ADJUST_HUE_SATURATION, IDD_HUESATURATION},
        {CM_ADJUST_BRIGHTNESS_CONTRAST, IDD_BRIGHTNESSCONTRAST},
        {CM_ADJUST_SHARPNESS, IDD_SHARPNESS},
        {CM_ADJUST_RGB, IDD_RGBADJUST},
        {CM_ADJUST_CMYK, IDD_CMYKADJUST},
        {CM_ADJUST_GAMMA, IDD_GAMMACORRECT},
    };
    const char* names[] = {"Hue/Contrast",   "Brightness/Contrast", "Blur/Sharpness",
                           "RGB Adjustment", "CMYK Adjustment",     "Gamma Correction"};
    Fixture f(mt::Pattern(20, 20, 32));
    TLeadBitmapX before;
    ASSERT_EQ(before.AssignX(f.Layer(0), true), SUCCESS);
    for (size_t i = 0; i < std::size(dialogs); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_TRUE(f.view->IsCommandEnabled(dialogs[i].first));
        f.dialogs.QueueScript([](TDialog& d) -> int {
            d.Scroll(IDC_ADJUST1, SB_THUMBPOSITION, 2);
            d.Scroll(IDC_ADJUST1, SB_ENDSCROLL);
            return IDCANCEL;
        });
        ASSERT_TRUE(f.view->DoCommand(dialogs[i].first));
        EXPECT_EQ(f.dialogs.Shown.back().ResourceId, dialogs[i].second);
        EXPECT_EQ(std::memcmp(before.Addr, f.Layer(0).Addr, before.Size), 0);
        EXPECT_FALSE(f.doc->CanUndo());

        f.dialogs.QueueScript([](TDialog&) -> int { return IDOK; });
        ASSERT_TRUE(f.view->DoCommand(dialogs[i].first));
        EXPECT_EQ(f.doc->UndoName(), names[i]);
        ASSERT_TRUE(f.view->DoCommand(CM_EDITUNDO));
    }
    EXPECT_TRUE(f.boxes.Shown.empty());
}

TEST(EffectCommands, AFailureIsShownAndThePaletteOfTheBackgroundReachesTheOtherLayers) {
    RGBQUAD pal[256];
    ASSERT_EQ(L_GetFixedPalette(pal, 8), SUCCESS);
    Fixture f(vt::Palette8(10, 10, pal, 100), vt::Palette8(4, 4, pal, 30));
    TLeadBitmapX before;
    ASSERT_EQ(before.AssignX(f.Layer(0), true), SUCCESS);

    f.dialogs.QueueScript([](TDialog&) -> int { return IDOK; });
    EXPECT_EQ(
        RunEffectDialog(
            *f.view, [](const TLeadBitmapX& t) { return std::make_unique<TFailingDialog>(t); },
            "Brightness/Contrast", true, false),
        IDOK);
    ASSERT_EQ(f.boxes.Shown.size(), 1u);
    EXPECT_EQ(f.boxes.Shown[0].Caption, "Brightness/Contrast");
    EXPECT_EQ(f.boxes.Shown[0].Text, ToolkitErrorText(ERROR_NO_MEMORY));
    EXPECT_EQ(f.doc->UndoName(), "Brightness/Contrast") << "the step stays";
    EXPECT_EQ(std::memcmp(before.Addr, f.Layer(0).Addr, before.Size), 0);

    f.dialogs.QueueScript([](TDialog& d) -> int {
        d.Scroll(IDC_ADJUST1, SB_THUMBPOSITION, 45);
        return IDOK;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_ADJUST_BRIGHTNESS_CONTRAST));
    EXPECT_NE(std::memcmp(f.Layer(0).pPalette, pal, sizeof pal), 0);
    EXPECT_EQ(std::memcmp(f.Layer(1).pPalette, f.Layer(0).pPalette, sizeof pal), 0);
}
