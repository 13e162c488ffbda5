// The in-place commands of the Image menu and the effects toolbar through a view: the
// selection confines them, the flips drop it, and the background's palette reaches the
// other layers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "view/ViewTestUtil.h"

namespace {

using mt::Px;

struct Fixture {
    explicit Fixture(std::unique_ptr<TImageDoc> d)
        : doc(std::move(d)), host({200, 150}), view(*doc, host) {
        SetMessageBoxHost(&boxes);
    }
    ~Fixture() { SetMessageBoxHost(nullptr); }
    void Select(RECT r) { vt::Select(view, *doc->Image.Layers.At(0), r); }
    TLayer& Layer(int i) { return *doc->Image.Layers.At(i); }

    THeadlessMessageBoxes boxes;
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host;
    TImageView view;
};

} // namespace

TEST(ImageCommands, InvertStaysInTheSelectionAndFlipsTurnTheWholeLayer) {
    auto bg = mt::Pattern(12, 10, 24);
    const Px a = mt::At(*bg, 2, 2), b = mt::At(*bg, 8, 2), corner = mt::At(*bg, 11, 0);
    Fixture f(vt::DocOf(std::move(bg)));
    f.Select({0, 0, 5, 5});
    f.host.Update();
    ASSERT_TRUE(f.view.DoCommand(CM_IMAGE_INVERT));
    EXPECT_EQ(mt::At(f.Layer(0), 2, 2), (Px{255 - a.b, 255 - a.g, 255 - a.r, 255}));
    // The screen shows the change, not the picture painted before it.
    f.host.Update();
    const POINT p = f.view.ImageToClient(POINT{2, 2}, true);
    EXPECT_EQ(f.host.Pixel(p.x, p.y), RGB(255 - a.r, 255 - a.g, 255 - a.b));
    EXPECT_EQ(mt::At(f.Layer(0), 8, 2), b);
    EXPECT_EQ(L_BitmapHasRgn(&f.Layer(0)), 0);
    EXPECT_TRUE(f.view.HasSelection);
    EXPECT_EQ(f.doc->UndoName(), "Invert");

    ASSERT_TRUE(f.view.DoCommand(CM_IMAGE_FLIP_HORIZONTAL));
    EXPECT_FALSE(f.view.HasSelection);
    EXPECT_EQ(mt::At(f.Layer(0), 0, 0), corner);
    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
    EXPECT_EQ(mt::At(f.Layer(0), 2, 2), a);
    EXPECT_TRUE(f.boxes.Shown.empty());
}

// On an 8-bit image a quick correction of the background changes its palette; every other
// layer is brought onto that palette, pixels mapped to the nearest entry.
TEST(ImageCommands, AQuickCorrectionOfThePaletteBackgroundReachesTheOtherLayers) {
    RGBQUAD pal[256] = {};
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    auto doc = std::make_unique<TImageDoc>();
    doc->Image.Layers.Append(vt::Palette8(10, 10, pal, 100));
    doc->Image.Layers.Append(vt::Palette8(4, 4, pal, 30));
    std::vector<TLayerChange> heard; // outlives the view, which still notifies as it closes
    Fixture f(std::move(doc));
    f.view.LayerHandler().AddListener([&](TLayerChange c) { heard.push_back(c); });
    ASSERT_TRUE(f.view.DoCommand(CM_QUICK_LIGHTEN_MORE));
    EXPECT_EQ(f.doc->UndoName(), "Lighten More");
    const TLayer& bg = f.Layer(0);
    const TLayer& up = f.Layer(1);
    EXPECT_NE(std::memcmp(bg.pPalette, pal, sizeof pal), 0) << "the palette did not change";
    EXPECT_EQ(std::memcmp(up.pPalette, bg.pPalette, sizeof pal), 0);
    // The display palette and the layer list (its thumbnails) follow.
    ASSERT_NE(f.doc->GetPalette(), nullptr);
    EXPECT_EQ(std::memcmp(f.doc->GetPalette()->Entries, bg.pPalette, sizeof pal), 0);
    EXPECT_EQ(heard, std::vector<TLayerChange>{TLayerChange::Repaint});
    // The upper layer keeps its look as far as the new palette allows: lighter colours
    // than the background's old entry 30 are no nearer match.
    const COLORREF c = L_GetPixelColor(&up, 1, 1);
    EXPECT_NEAR(GetGValue(c), 255 - 30, 40);
}
