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
#include "RotateDialog.h"
#include "model/ModelTestUtil.h"

namespace {

using mt::Px;

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
    void Select(RECT r) {
        const TLayer& bg = Layer(0);
        BITMAPHANDLE b;
        ASSERT_EQ(
            L_CreateBitmap(&b, TYPE_CONV, bg.Width, bg.Height, 1, ORDER_BGR, nullptr, TOP_LEFT),
            SUCCESS);
        view->SelectionMask.Adopt(b);
        for (int y = 0; y < bg.Height; ++y)
            std::memset(L_RowPtr(&view->SelectionMask, y), 0, size_t(b.BytesPerLine));
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                L_RowPtr(&view->SelectionMask, y)[x / 8] |= uint8_t(0x80 >> (x % 8));
        view->HasSelection = true;
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
        s += l.Name + " " + std::to_string(l.X) + "," + std::to_string(l.Y) + " " +
             std::to_string(l.Width) + "x" + std::to_string(l.Height) + " " +
             std::to_string(l.BitsPerPixel) + "/" + std::to_string(l.LogicalBpp) + " rgn" +
             std::to_string(L_BitmapHasRgn(&l)) + "\n";
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
    struct Step {
        const char* Name;
        std::function<L_INT()> Run;
        bool OnBackground;
    };
    const Step steps[] = {
        {"Resize", [&] { return f.geometry->ResizeImage(17, 41); }, false},
        {"Resize Canvas", [&] { return f.geometry->ResizeCanvas(21, 33, 2, 1); }, false},
        {"Crop",
         [&] {
             f.Select(RECT{3, 2, 14, 11});
             return f.geometry->Crop();
         },
         true},
        {"Crop",
         [&] {
             f.Select(RECT{3, 2, 14, 11});
             return f.geometry->Crop();
         },
         false},
        {"Create Layer", [&] { return f.geometry->NewLayer(7, 5); }, false},
        {"Resize Layer", [&] { return f.geometry->ResizeLayer(25, 3); }, false},
        {"Rotate Layer", [&] { return f.geometry->RotateLayer(333); }, false},
        {"Rotate Layer", [&] { return f.geometry->RotateLayer(-900); }, true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.Name) + (s.OnBackground ? " (background)" : ""));
        f.doc->Image.SetCurrent(s.OnBackground ? 0 : 1);
        ASSERT_EQ(s.Run(), SUCCESS);
        EXPECT_EQ(f.doc->UndoName(), s.Name);
        EXPECT_NE(Fingerprint(f.doc->Image), before);
        ASSERT_TRUE(f.view->DoCommand(CM_EDITUNDO));
        EXPECT_EQ(Fingerprint(f.doc->Image), before);
        EXPECT_FALSE(f.doc->CanUndo());
    }
    EXPECT_TRUE(f.boxes.Shown.empty());
}

TEST(GeometryCommands, TheRotateDialogTurnsALayerAndTheBackgroundByTheSameAngle) {
    Fixture f(mt::Pattern(40, 30, 24), mt::At(mt::Pattern(40, 30, 32), 10, 10));
    // 12.5 degrees: the turned 40 x 30 rectangle needs a 46 x 38 box.
    const int w = int(std::ceil(40 * std::cos(0.2181662) + 30 * std::sin(0.2181662)));
    const int h = int(std::ceil(40 * std::sin(0.2181662) + 30 * std::cos(0.2181662)));
    for (int index : {1, 0}) {
        SCOPED_TRACE(index);
        f.doc->Image.SetCurrent(index);
        f.dialogs.QueueScript([](TDialog& d) -> int {
            EXPECT_TRUE(d.TypeText(IDC_ROTATE_ANGLE, "12.5"));
            return d.CloseWindow(IDOK) ? IDOK : IDCANCEL;
        });
        ASSERT_TRUE(f.view->DoCommand(CM_LAYER_ROTATE));
        EXPECT_EQ(f.doc->UndoName(), "Rotate Layer");
        EXPECT_EQ(f.Layer(index).Width, w);
        EXPECT_EQ(f.Layer(index).Height, h);
    }
    EXPECT_EQ(f.Layer(1).X, 10 - (w - 40) / 2) << "the layer turns about its centre";
    // The uncovered corners: transparent on the layer, the background colour below.
    EXPECT_EQ(mt::At(f.Layer(1), 0, 0).a, 0);
    EXPECT_EQ(mt::At(f.Layer(0), 0, 0), (Px{255, 255, 255, 255}));
}

TEST(GeometryCommands, TheRotateDialogShowsTheAngleItWillTurnBy) {
    Fixture f(mt::Pattern(20, 20, 24));
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

    // Back to 0 the preview is the layer itself, and OK leaves the layer alone.
    f.dialogs.QueueScript([](TDialog& dlg) -> int {
        dlg.TypeText(IDC_ROTATE_ANGLE, "0");
        return dlg.CloseWindow(IDOK) ? IDOK : IDCANCEL;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_LAYER_ROTATE));
    EXPECT_FALSE(f.doc->CanUndo());
}

TEST(GeometryCommands, CropOnTheBackgroundKeepsTheLayersOverTheSamePicture) {
    Fixture f(mt::Pattern(30, 20, 24), mt::At(mt::Pattern(6, 6, 32), 8, 7));
    const Px under = mt::At(f.Layer(0), 10, 9), corner = mt::At(f.Layer(1), 0, 0);
    f.doc->Image.SetCurrent(0);
    // Without its top-right corner: the canvas is still the bounds, and the corner takes
    // the background colour.
    f.Select(RECT{5, 4, 25, 16});
    for (int y = 4; y < 6; ++y)
        for (int x = 20; x < 25; ++x)
            L_RowPtr(&f.view->SelectionMask, y)[x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    ASSERT_TRUE(f.view->DoCommand(CM_IMAGE_CROP));
    EXPECT_EQ(mt::At(f.Layer(0), 19, 0), (Px{255, 255, 255, 255}));
    EXPECT_NE(mt::At(f.Layer(0), 19, 2), (Px{255, 255, 255, 255}));
    EXPECT_FALSE(f.view->HasSelection);
    EXPECT_EQ(f.Layer(0).Width, 20);
    EXPECT_EQ(f.Layer(0).Height, 12);
    EXPECT_EQ(f.Layer(0).X, 0);
    EXPECT_EQ(L_BitmapHasRgn(&f.Layer(0)), 0);
    EXPECT_EQ(mt::At(f.Layer(0), 10 - 5, 9 - 4), under);
    EXPECT_EQ(f.Layer(1).X, 3);
    EXPECT_EQ(f.Layer(1).Y, 3);
    EXPECT_EQ(mt::At(f.Layer(1), 0, 0), corner);
    EXPECT_FALSE(f.view->IsCommandEnabled(CM_IMAGE_CROP)) << "no selection left to crop to";
}

TEST(GeometryCommands, CropOnALayerCutsOnlyThatLayer) {
    Fixture f(mt::Pattern(30, 20, 24), mt::At(mt::Pattern(10, 10, 32), 4, 4));
    // The selection is an L: the crop is its bounds, and the notch becomes transparent.
    f.Select(RECT{6, 6, 12, 8});
    for (int y = 8; y < 12; ++y)
        for (int x = 6; x < 8; ++x)
            L_RowPtr(&f.view->SelectionMask, y)[x / 8] |= uint8_t(0x80 >> (x % 8));
    const Px kept = mt::At(f.Layer(1), 2, 2);
    ASSERT_EQ(f.geometry->Crop(), SUCCESS);
    EXPECT_EQ(f.Layer(0).Width, 30) << "the canvas stays";
    EXPECT_EQ(f.Layer(1).X, 6);
    EXPECT_EQ(f.Layer(1).Width, 6);
    EXPECT_EQ(f.Layer(1).Height, 6);
    EXPECT_EQ(mt::At(f.Layer(1), 0, 0), kept);
    EXPECT_EQ(mt::At(f.Layer(1), 4, 4).a, 0);

    // What the layer's own shape hides stays hidden: the crop takes only the shape's part.
    mt::Shape(f.Layer(1), RECT{0, 0, 3, 6});
    f.Select(RECT{6, 6, 12, 12});
    ASSERT_EQ(f.geometry->Crop(), SUCCESS);
    EXPECT_EQ(f.Layer(1).Width, 3);

    // A selection beside the layer leaves it and the history alone.
    f.Select(RECT{20, 0, 30, 5});
    ASSERT_EQ(f.geometry->Crop(), SUCCESS);
    EXPECT_EQ(f.Layer(1).Width, 3);
    EXPECT_EQ(f.doc->UndoCount(), 2);
}

TEST(GeometryCommands, ResizeCanvasPutsTheOldImageWhereTheAnchorsSay) {
    Fixture f(mt::Pattern(10, 10, 24), mt::At(mt::Pattern(3, 3, 32), 2, 2));
    const Px origin = mt::At(f.Layer(0), 0, 0), last = mt::At(f.Layer(0), 9, 9);
    const Px white{255, 255, 255, 255};
    f.dialogs.QueueScript([](TDialog& d) -> int {
        d.TypeText(103, "13");
        d.TypeText(104, "13");
        return d.CloseWindow(IDOK) ? IDOK : IDCANCEL;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_IMAGE_RESIZE_CANVAS));
    EXPECT_EQ(f.doc->UndoName(), "Resize Canvas");
    // Centred with three more pixels: one left and top, two right and bottom.
    EXPECT_EQ(mt::At(f.Layer(0), 1, 1), origin);
    EXPECT_EQ(mt::At(f.Layer(0), 10, 10), last);
    EXPECT_EQ(mt::At(f.Layer(0), 0, 0), white);
    EXPECT_EQ(mt::At(f.Layer(0), 12, 12), white);
    EXPECT_EQ(mt::At(f.Layer(0), 11, 5), white);
    EXPECT_EQ(f.Layer(1).X, 3) << "the layer stays over its part of the picture";

    // Smaller, anchored right and bottom: the old bottom-right corner stays.
    ASSERT_EQ(f.geometry->ResizeCanvas(4, 5, 2, 2), SUCCESS);
    EXPECT_EQ(f.Layer(0).Width, 4);
    EXPECT_EQ(mt::At(f.Layer(0), 1, 2), last);
    EXPECT_EQ(mt::At(f.Layer(0), 3, 4), white);
}

TEST(GeometryCommands, ANewLayerIsInTheBackgroundsColourClass) {
    Fixture f32(mt::Pattern(20, 20, 32));
    f32.dialogs.QueueScript([](TDialog& d) -> int {
        d.TypeText(103, "7");
        d.TypeText(104, "5");
        return d.CloseWindow(IDOK) ? IDOK : IDCANCEL;
    });
    ASSERT_TRUE(f32.view->DoCommand(CM_LAYER_NEW));
    ASSERT_EQ(f32.doc->Image.Count(), 2);
    EXPECT_EQ(f32.doc->Image.GetCurrentIndex(), 1);
    EXPECT_EQ(f32.doc->UndoName(), "Create Layer");
    EXPECT_EQ(f32.Layer(1).Name, "Layer");
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
