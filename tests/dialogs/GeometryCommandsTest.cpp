// The size and rotation commands on a view: what the canvas and the layers look like
// afterwards, and that Undo gives back the image it started from, byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "CommandIds.h"
#include "EffectCommands.h"
#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "ResizeDialog.h"
#include "RotateDialog.h"
#include "model/ModelTestUtil.h"

namespace {

using mt::Px;
const Px kWhite{255, 255, 255, 255};

struct Fixture {
    explicit Fixture(std::unique_ptr<TLayer> bg, std::unique_ptr<TLayer> up = nullptr)
        : doc(std::make_unique<TImageDoc>()), host({200, 150}) {
        doc->Image.Layers.Append(std::move(bg));
        if (up) doc->Image.Layers.Append(std::move(up));
        doc->Image.Layers.Seek(doc->Image.Count() - 1);
        view = std::make_unique<TImageView>(*doc, host);
        AttachEffectCommands(*view);
        geometry = std::make_unique<TGeometryCommands>(*view);
        SetMessageBoxHost(&boxes);
        oldDialogs = SetDialogHost(&dialogs);
    }
    ~Fixture() {
        SetMessageBoxHost(nullptr);
        SetDialogHost(oldDialogs);
    }
    // Selects r, less the rectangle `notch`.
    void Select(RECT r, RECT notch = {}) {
        const TLayer& bg = Layer(0);
        BITMAPHANDLE b;
        ASSERT_EQ(
            L_CreateBitmap(&b, TYPE_CONV, bg.Width, bg.Height, 1, ORDER_BGR, nullptr, TOP_LEFT),
            SUCCESS);
        view->SelectionMask.Adopt(b);
        for (int y = 0; y < bg.Height; ++y)
            for (int x = 0; x < bg.Width; ++x) {
                const bool on =
                    x >= r.left && x < r.right && y >= r.top && y < r.bottom &&
                    !(x >= notch.left && x < notch.right && y >= notch.top && y < notch.bottom);
                uint8_t& byte = L_RowPtr(&view->SelectionMask, y)[x / 8];
                byte = uint8_t(on ? byte | (0x80 >> (x % 8)) : byte & ~(0x80 >> (x % 8)));
            }
        view->HasSelection = true;
    }
    // Runs a command whose dialog gets these texts typed, then OK.
    void Answered(int command, std::vector<std::pair<int, std::string>> texts) {
        dialogs.QueueScript([texts](TDialog& d) -> int {
            for (const auto& [id, text] : texts) EXPECT_TRUE(d.TypeText(id, text));
            return d.CloseWindow(IDOK) ? IDOK : IDCANCEL;
        });
        ASSERT_TRUE(view->DoCommand(command));
    }
    TLayer& Layer(int i) { return *doc->Image.Layers.At(i); }

    THeadlessMessageBoxes boxes;
    THeadlessDialogHost dialogs;
    IDialogHost* oldDialogs = nullptr;
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host;
    std::unique_ptr<TImageView> view;
    std::unique_ptr<TGeometryCommands> geometry;
};

// Everything Undo must bring back: each layer's place, size, depths, shape and bytes.
std::string Fingerprint(TLayeredImage& image) {
    std::string s;
    for (int i = 0; i < image.Count(); ++i) {
        const TLayer& l = *image.Layers.At(i);
        for (int v :
             {l.X, l.Y, l.Width, l.Height, l.BitsPerPixel, l.LogicalBpp, L_BitmapHasRgn(&l)})
            s += std::to_string(v) + " ";
        for (int y = 0; y < l.Height; ++y)
            s.append(reinterpret_cast<const char*>(L_RowPtr(&l, y)),
                     size_t(l.Width) * size_t(l.BitsPerPixel) / 8);
    }
    return s;
}

} // namespace

TEST(GeometryCommands, UndoOfEveryCommandGivesBackTheImageByteForByte) {
    auto up = mt::At(mt::Pattern(12, 9, 32, "Up"), 5, 4);
    mt::Shape(*up, RECT{1, 1, 10, 8});
    Fixture f(mt::Pattern(30, 20, 24, "Background"), std::move(up));
    const std::string before = Fingerprint(f.doc->Image);
    const auto crop = [&] {
        f.Select(RECT{3, 2, 14, 11});
        return f.geometry->Crop();
    };
    const std::tuple<const char*, std::function<L_INT()>, int> steps[] = {
        {"Resize", [&] { return f.geometry->ResizeImage(17, 41); }, 1},
        {"Resize Canvas", [&] { return f.geometry->ResizeCanvas(21, 33, 2, 1); }, 1},
        {"Crop", crop, 0},
        {"Crop", crop, 1},
        {"Create Layer", [&] { return f.geometry->NewLayer(7, 5); }, 1},
        {"Resize Layer", [&] { return f.geometry->ResizeLayer(25, 3); }, 1},
        {"Rotate Layer", [&] { return f.geometry->RotateLayer(333); }, 1},
        {"Rotate Layer", [&] { return f.geometry->RotateLayer(-900); }, 0},
    };
    for (const auto& [name, run, layer] : steps) {
        SCOPED_TRACE(std::string(name) + " on layer " + std::to_string(layer));
        f.doc->Image.SetCurrent(layer);
        ASSERT_EQ(run(), SUCCESS);
        EXPECT_EQ(f.doc->UndoName(), name);
        EXPECT_NE(Fingerprint(f.doc->Image), before);
        ASSERT_TRUE(f.view->DoCommand(CM_EDITUNDO));
        EXPECT_EQ(Fingerprint(f.doc->Image), before);
        EXPECT_FALSE(f.doc->CanUndo());
    }
    EXPECT_TRUE(f.boxes.Shown.empty());
}

TEST(GeometryCommands, RotateTurnsALayerAndTheBackgroundByTheAngleTheDialogShows) {
    Fixture f(mt::Pattern(40, 30, 24), mt::At(mt::Pattern(40, 30, 32), 10, 10));
    // 12.5 degrees: the turned 40 x 30 rectangle needs a 46 x 38 box.
    const double a = 12.5 * M_PI / 180;
    const int w = int(std::ceil(40 * std::cos(a) + 30 * std::sin(a)));
    const int h = int(std::ceil(40 * std::sin(a) + 30 * std::cos(a)));
    for (int index : {1, 0}) {
        SCOPED_TRACE(index);
        f.doc->Image.SetCurrent(index);
        f.Answered(CM_LAYER_ROTATE, {{IDC_ROTATE_ANGLE, "12.5"}});
        EXPECT_EQ(f.doc->UndoName(), "Rotate Layer");
        EXPECT_EQ(f.Layer(index).Width, w);
        EXPECT_EQ(f.Layer(index).Height, h);
    }
    EXPECT_EQ(f.Layer(1).X, 10 - (w - 40) / 2) << "the layer turns about its centre";
    // The uncovered corners: transparent on the layer, the background colour below.
    EXPECT_EQ(mt::At(f.Layer(1), 0, 0).a, 0);
    EXPECT_EQ(mt::At(f.Layer(0), 0, 0), kWhite);

    TRotateDialog d(f.Layer(0), RGB(0, 0, 0));
    f.dialogs.QueueScript([](TDialog& dlg) -> int {
        EXPECT_TRUE(dlg.Click(IDC_ROTATE_MINUS90));
        EXPECT_EQ(dlg.GetDlgItemText(IDC_ROTATE_ANGLE), "-90.0");
        EXPECT_TRUE(dlg.TypeText(IDC_ROTATE_ANGLE, "270"));
        EXPECT_TRUE(dlg.Focus(IDC_ROTATE_SPIN));
        EXPECT_EQ(dlg.GetDlgItemText(IDC_ROTATE_ANGLE), "180.0");
        EXPECT_TRUE(dlg.IsDlgButtonChecked(IDC_ROTATE_CUSTOM));
        EXPECT_TRUE(dlg.Scroll(IDC_ROTATE_SPIN, SB_THUMBPOSITION, -335));
        EXPECT_EQ(dlg.GetDlgItemText(IDC_ROTATE_ANGLE), "33.5");
        return dlg.CloseWindow(IDOK) ? IDOK : IDCANCEL;
    });
    ASSERT_EQ(d.Execute(), IDOK);
    EXPECT_EQ(d.Angle(), 335);
    // Back at 0, OK leaves the layer and the history alone.
    const int steps = f.doc->UndoCount();
    f.Answered(CM_LAYER_ROTATE, {{IDC_ROTATE_ANGLE, "0"}});
    EXPECT_EQ(f.doc->UndoCount(), steps);
}

// The preview shows the picture turned, the right way round and with its sides swapped,
// and follows the angle: a picture red on the left, blue on the right, green along the top.
TEST(GeometryCommands, RotatePreviewShowsThePictureTurnedByTheAngle) {
    const Px red{0, 0, 255, 255}, blue{255, 0, 0, 255}, green{0, 255, 0, 255};
    auto picture = mt::Solid(40, 20, red);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            if (y < 4 || x >= 20) mt::Put(*picture, x, y, y < 4 ? green : blue);
    Fixture f(std::move(picture));
    TRotateDialog d(f.Layer(0), RGB(0, 0, 0));
    // The colour at a fraction of the preview's width and height.
    const auto at = [&d](double x, double y) {
        const BITMAPHANDLE& p = *d.PreviewPane()->Bitmap();
        return mt::At(p, int(x * p.Width), int(y * p.Height));
    };
    f.dialogs.QueueScript([&](TDialog& dlg) -> int {
        EXPECT_EQ(at(0.25, 0.6), red);
        EXPECT_TRUE(dlg.Click(IDC_ROTATE_PLUS90));
        const BITMAPHANDLE& turned = *d.PreviewPane()->Bitmap();
        EXPECT_GT(turned.Height, turned.Width) << "a quarter turn stands the picture up";
        // Clockwise on the screen: the left side goes to the top, the top to the right.
        EXPECT_EQ(at(0.6, 0.25), red);
        EXPECT_EQ(at(0.6, 0.75), blue);
        EXPECT_EQ(at(0.95, 0.25), green);
        EXPECT_TRUE(dlg.Click(IDC_ROTATE_MINUS90));
        EXPECT_EQ(at(0.4, 0.25), blue);
        EXPECT_EQ(at(0.4, 0.75), red);
        EXPECT_EQ(at(0.05, 0.25), green);
        return dlg.CloseWindow(IDCANCEL) ? IDCANCEL : IDOK;
    });
    EXPECT_EQ(d.Execute(), IDCANCEL);
}

TEST(GeometryCommands, CropOnTheBackgroundMovesTheLayersAndOnALayerCutsOnlyIt) {
    Fixture f(mt::Pattern(30, 20, 24), mt::At(mt::Pattern(10, 10, 32), 8, 7));
    const Px under = mt::At(f.Layer(0), 10, 9), corner = mt::At(f.Layer(1), 2, 2);
    f.doc->Image.SetCurrent(0);
    // Without its top-right corner: the canvas is still the bounds, the corner takes the
    // background colour.
    f.Select(RECT{5, 4, 25, 16}, RECT{20, 4, 25, 6});
    ASSERT_TRUE(f.view->DoCommand(CM_IMAGE_CROP));
    EXPECT_FALSE(f.view->HasSelection);
    EXPECT_EQ(f.Layer(0).Width, 20);
    EXPECT_EQ(f.Layer(0).Height, 12);
    EXPECT_EQ(L_BitmapHasRgn(&f.Layer(0)), 0);
    EXPECT_EQ(mt::At(f.Layer(0), 10 - 5, 9 - 4), under);
    EXPECT_EQ(mt::At(f.Layer(0), 19, 0), kWhite);
    EXPECT_NE(mt::At(f.Layer(0), 19, 2), kWhite);
    EXPECT_EQ(f.Layer(1).X, 3);
    EXPECT_EQ(f.Layer(1).Y, 3);
    EXPECT_FALSE(f.view->IsCommandEnabled(CM_IMAGE_CROP)) << "no selection left to crop to";

    // On the layer (now at 3, 3): an L-shaped selection crops it to the bounds, and the
    // notch becomes transparent; the canvas stays.
    f.doc->Image.SetCurrent(1);
    f.Select(RECT{5, 5, 11, 11}, RECT{7, 7, 11, 11});
    ASSERT_EQ(f.geometry->Crop(), SUCCESS);
    EXPECT_EQ(f.Layer(0).Width, 20);
    EXPECT_EQ(f.Layer(1).X, 5);
    EXPECT_EQ(f.Layer(1).Width, 6);
    EXPECT_EQ(mt::At(f.Layer(1), 0, 0), corner);
    EXPECT_EQ(mt::At(f.Layer(1), 4, 4).a, 0);
    // What the layer's own shape hides stays hidden: the crop takes only the shape's part.
    mt::Shape(f.Layer(1), RECT{0, 0, 3, 6});
    f.Select(RECT{5, 5, 11, 11});
    ASSERT_EQ(f.geometry->Crop(), SUCCESS);
    EXPECT_EQ(f.Layer(1).Width, 3);
    // A selection beside the layer leaves it and the history alone.
    f.Select(RECT{15, 0, 20, 5});
    ASSERT_EQ(f.geometry->Crop(), SUCCESS);
    EXPECT_EQ(f.Layer(1).Width, 3);
    EXPECT_EQ(f.doc->UndoCount(), 3);
}

TEST(GeometryCommands, ResizeCanvasPutsTheOldImageWhereTheAnchorsSay) {
    Fixture f(mt::Pattern(10, 10, 24), mt::At(mt::Pattern(3, 3, 32), 2, 2));
    const Px origin = mt::At(f.Layer(0), 0, 0), last = mt::At(f.Layer(0), 9, 9);
    f.Answered(CM_IMAGE_RESIZE_CANVAS, {{IDC_WIDTH, "13"}, {IDC_HEIGHT, "13"}});
    EXPECT_EQ(f.doc->UndoName(), "Resize Canvas");
    // Centred with three more pixels: one left and top, two right and bottom.
    EXPECT_EQ(mt::At(f.Layer(0), 1, 1), origin);
    EXPECT_EQ(mt::At(f.Layer(0), 10, 10), last);
    EXPECT_EQ(mt::At(f.Layer(0), 0, 0), kWhite);
    EXPECT_EQ(mt::At(f.Layer(0), 12, 12), kWhite);
    EXPECT_EQ(f.Layer(1).X, 3) << "the layer stays over its part of the picture";
    // Smaller, anchored right and bottom: the old bottom-right corner stays.
    ASSERT_EQ(f.geometry->ResizeCanvas(4, 5, 2, 2), SUCCESS);
    EXPECT_EQ(f.Layer(0).Width, 4);
    EXPECT_EQ(mt::At(f.Layer(0), 1, 2), last);
    EXPECT_EQ(mt::At(f.Layer(0), 3, 4), kWhite);
}

TEST(GeometryCommands, ANewLayerIsInTheBackgroundsColourClass) {
    Fixture f32(mt::Pattern(20, 20, 32));
    f32.Answered(CM_LAYER_NEW, {{IDC_WIDTH, "7"}, {IDC_HEIGHT, "5"}});
    ASSERT_EQ(f32.doc->Image.Count(), 2);
    EXPECT_EQ(f32.doc->Image.GetCurrentIndex(), 1);
    EXPECT_EQ(f32.doc->UndoName(), "Create Layer");
    EXPECT_EQ(f32.Layer(1).Width, 7);
    EXPECT_EQ(f32.Layer(1).LogicalBpp, 32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) ASSERT_EQ(mt::At(f32.Layer(1), x, y).a, 0);

    RGBQUAD pal[256];
    ASSERT_EQ(L_GetFixedPalette(pal, 8), SUCCESS);
    pal[7] = RGBQUAD{1, 2, 3, 0};
    BITMAPHANDLE b;
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 8, 8, 8, ORDER_BGR, pal, TOP_LEFT), SUCCESS);
    auto bg = std::make_unique<TLayer>();
    bg->Adopt(b);
    bg->LogicalBpp = 8;
    Fixture f8(std::move(bg));
    ASSERT_EQ(f8.geometry->NewLayer(3, 3), SUCCESS);
    EXPECT_EQ(f8.Layer(1).BitsPerPixel, 8);
    EXPECT_EQ(std::memcmp(f8.Layer(1).pPalette, pal, sizeof pal), 0);
    EXPECT_EQ(L_GetPixelColor(&f8.Layer(1), 1, 1), RGB(255, 255, 255));
}

// Resize, Crop and their kin keep the layers they leave alone in the undo step without a
// copy: later edits of those layers, in place or through a channel view, must not reach
// the older steps, whichever way the history is walked.
TEST(GeometryCommands, StepsThatShareUntouchedLayersStayExactThroughLaterEdits) {
    Fixture f(mt::Pattern(30, 20, 24), mt::At(mt::Pattern(10, 10, 32), 8, 7));
    std::vector<std::string> states{Fingerprint(f.doc->Image)};
    const auto step = [&](const std::function<void()>& run) {
        run();
        states.push_back(Fingerprint(f.doc->Image));
        ASSERT_NE(states.back(), states[states.size() - 2]);
    };
    step([&] {
        f.doc->Image.SetCurrent(0);
        f.Select(RECT{2, 2, 28, 18});
        ASSERT_EQ(f.geometry->Crop(), SUCCESS);
    });
    step([&] {
        f.doc->Image.SetCurrent(1);
        ASSERT_TRUE(f.view->DoCommand(CM_IMAGE_INVERT));
    });
    // A selection over the whole layer but for a notch: the crop keeps the layer's block
    // and clears the notch in it.
    step([&] {
        f.Select(RECT{6, 5, 16, 15}, RECT{6, 5, 8, 7});
        ASSERT_EQ(f.geometry->Crop(), SUCCESS);
    });
    step([&] { ASSERT_EQ(f.geometry->ResizeCanvas(40, 30, 1, 1), SUCCESS); });
    ASSERT_EQ(f.doc->UndoCount(), TImageData::kMaxUndo);
    for (size_t i = states.size() - 1; i-- > 0;) {
        ASSERT_TRUE(f.doc->Undo());
        EXPECT_EQ(Fingerprint(f.doc->Image), states[i]) << "undo to state " << i;
    }
    for (size_t i = 1; i < states.size(); ++i) {
        ASSERT_TRUE(f.doc->Redo());
        EXPECT_EQ(Fingerprint(f.doc->Image), states[i]) << "redo to state " << i;
    }
    // A channel view writes into the layer it shows when it is put back.
    ASSERT_TRUE(f.doc->Undo());
    ASSERT_EQ(f.doc->Image.SetChannelMode(CHANNEL_RED), SUCCESS);
    TLayer& red = *f.doc->Image.GetCurrentLayer();
    ASSERT_EQ(L_FillBitmap(&red, RGB(9, 9, 9)), SUCCESS);
    ASSERT_EQ(f.doc->Image.SetChannelMode(CHANNEL_AGGREGATED), SUCCESS);
    ASSERT_TRUE(f.doc->Redo());
    EXPECT_EQ(Fingerprint(f.doc->Image), states.back());
}
