// The size dialogs driven the way a user drives them: typing, clicking presets, spinning,
// switching units, then OK; and File New's question with its conversions.
#include <gtest/gtest.h>

#include "MessageBox.h"
#include "Options.h"
#include "ResizeDialog.h"

namespace {

// Every test gets a scripted host and leaves the program-wide unit as it found it: the
// units list changes it for the rest of the run.
class SizeDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        oldUnits_ = Options().MeasurementUnits;
        Options().MeasurementUnits = UNITS_PIXELS;
        oldHost_ = SetDialogHost(&host);
    }
    void TearDown() override {
        SetDialogHost(oldHost_);
        Options().MeasurementUnits = oldUnits_;
    }

    // Runs Resize on a w x h image at dpi with the script; the dialog's result.
    int RunResize(int w, int h, int dpi, THeadlessDialogHost::TScript script) {
        TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZE);
        ResetResizeTransfer(t);
        host.QueueScript(std::move(script));
        TResizeDialog d(w, h, dpi, dpi, IDD_RESIZE, t);
        return d.Execute();
    }
    // Runs File New with the script; the size and bits answered, or "cancelled".
    std::string RunNew(THeadlessDialogHost::TScript script) {
        host.QueueScript(std::move(script));
        int w = 0, h = 0, bpp = 0;
        if (!RunNewImageDialog(w, h, bpp)) return "cancelled";
        return std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(bpp);
    }

    THeadlessDialogHost host;

private:
    int oldUnits_ = UNITS_PIXELS;
    IDialogHost* oldHost_ = nullptr;
};

std::string Text(const TDialog& d, int id) { return d.GetDlgItemText(id); }
// The item selected in a list.
std::string Chosen(const TDialog& d, int id = IDC_UNITS) {
    return d.GetString(id, d.GetSelIndex(id));
}

// The user's actions, each giving the sizes shown after it as "width x height".
std::string Size(const TDialog& d) { return Text(d, IDC_WIDTH) + " x " + Text(d, IDC_HEIGHT); }
std::string Type(TDialog& d, int id, const char* text) {
    d.TypeText(id, text);
    return Size(d);
}
std::string Click(TDialog& d, int id) {
    d.Click(id);
    return Size(d);
}
std::string Spin(TDialog& d, int id, int code, int times = 1) {
    for (int i = 0; i < times; ++i) EXPECT_TRUE(d.Scroll(id, code));
    return Size(d);
}
std::string Unit(TDialog& d, int code) {
    int index = -1;
    for (int i = 0; i < d.GetCount(IDC_UNITS); ++i)
        if (d.GetItemData(IDC_UNITS, i) == code) index = i;
    EXPECT_TRUE(d.Select(IDC_UNITS, index)) << code;
    return Size(d);
}

} // namespace

TEST_F(SizeDialogs, PresetsScaleTheOriginalAndTypingSwitchesToCustom) {
    EXPECT_EQ(IDOK, RunResize(100, 50, 72, [](TDialog& d) {
                  EXPECT_EQ(Size(d), "100 x 50");
                  EXPECT_TRUE(d.IsDlgButtonChecked(IDC_CUSTOM));
                  EXPECT_EQ(Click(d, IDC_PRESET400), "400 x 200");
                  EXPECT_FALSE(d.IsDlgButtonChecked(IDC_CUSTOM));
                  // Presets always scale the original, not the size shown now.
                  EXPECT_EQ(Click(d, IDC_PRESET50), "50 x 25");
                  EXPECT_FALSE(d.IsDlgButtonChecked(IDC_PRESET400));
                  // The box being typed in keeps the user's text; the lock moved the other one.
                  EXPECT_EQ(Type(d, IDC_WIDTH, "120"), "120 x 60");
                  EXPECT_TRUE(d.IsDlgButtonChecked(IDC_CUSTOM));
                  EXPECT_FALSE(d.IsDlgButtonChecked(IDC_PRESET50));
                  return IDOK;
              }));
    const TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZE);
    EXPECT_TRUE(t.Custom);
    int w = 0, h = 0;
    ASSERT_TRUE(ReadSizeTransfer(t, 72, 72, w, h));
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(120, 60));
}

TEST_F(SizeDialogs, AspectLockFollowsTheDimensionEditedLast) {
    RunResize(200, 100, 72, [](TDialog& d) {
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_KEEPASPECT));
        EXPECT_EQ(Type(d, IDC_WIDTH, "300"), "300 x 150");
        EXPECT_EQ(Type(d, IDC_HEIGHT, "40"), "80 x 40");
        d.Click(IDC_KEEPASPECT); // off
        EXPECT_EQ(Type(d, IDC_WIDTH, "500"), "500 x 40");
        EXPECT_EQ(Type(d, IDC_HEIGHT, "50"), "500 x 50");
        // Locking again recomputes the side not edited last, from the one that was.
        EXPECT_EQ(Click(d, IDC_KEEPASPECT), "100 x 50");
        return IDCANCEL;
    });
}

TEST_F(SizeDialogs, UnitsListConvertsWithTheResolutionAndChangesTheProgramUnit) {
    RunResize(200, 100, 100, [](TDialog& d) {
        EXPECT_EQ(Chosen(d), "Pixels");
        d.Click(IDC_PRESET200);
        EXPECT_EQ(Unit(d, UNITS_INCHES), "4.00 x 2.00");
        EXPECT_EQ(Options().MeasurementUnits, UNITS_INCHES);
        // Changing the unit is not an edit: the preset stays chosen.
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_PRESET200));
        EXPECT_EQ(Unit(d, UNITS_CENTIMETRES), "10.16 x 5.08");
        EXPECT_EQ(Type(d, IDC_HEIGHT, "2.54"), "5.08 x 2.54"); // 100 pixels, width follows the lock
        EXPECT_EQ(Unit(d, UNITS_PIXELS), "200 x 100");
        return IDOK;
    });
    EXPECT_EQ(Options().MeasurementUnits, UNITS_PIXELS);

    // The next dialog opens in the unit the user left.
    Options().MeasurementUnits = UNITS_INCHES;
    RunResize(200, 100, 100, [](TDialog& d) {
        EXPECT_EQ(Chosen(d), "Inches");
        EXPECT_EQ(Size(d), "2.00 x 1.00");
        return IDCANCEL;
    });
}

TEST_F(SizeDialogs, SpinsStepOnePixelOrOneHundredthOfAUnitAndCancelKeepsTheRecord) {
    RunResize(200, 100, 100, [](TDialog& d) {
        d.Click(IDC_KEEPASPECT); // off: only the spun side moves
        EXPECT_EQ(Spin(d, IDC_WIDTHSPIN, SB_LINEUP), "201 x 100");
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_CUSTOM));
        EXPECT_EQ(Spin(d, IDC_WIDTHSPIN, SB_LINEDOWN, 2), "199 x 100");
        // A typed number moves the spin with it, so the next click starts from there.
        d.TypeText(IDC_HEIGHT, "42");
        EXPECT_EQ(Spin(d, IDC_HEIGHTSPIN, SB_LINEUP), "199 x 43");

        EXPECT_EQ(Unit(d, UNITS_CENTIMETRES), "5.05 x 1.09");
        EXPECT_EQ(Spin(d, IDC_WIDTHSPIN, SB_LINEUP), "5.06 x 1.09");
        EXPECT_EQ(Spin(d, IDC_WIDTHSPIN, SB_LINEDOWN, 2), "5.04 x 1.09");

        // With the lock, spinning the height drives the width.
        Unit(d, UNITS_PIXELS);
        d.Click(IDC_PRESET200);
        d.Click(IDC_KEEPASPECT);
        EXPECT_EQ(Spin(d, IDC_HEIGHTSPIN, SB_LINEUP), "402 x 201");
        return IDCANCEL;
    });
    // Cancelled: the record stays as the command set it.
    const TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZE);
    EXPECT_EQ(t.Width, "");
    EXPECT_FALSE(t.Presets[1]);
}

TEST_F(SizeDialogs, EditsTakeOnlyWhatTheUnitShowsAndImagesWithoutResolutionUseSeventyTwoDpi) {
    Options().MeasurementUnits = UNITS_INCHES;
    RunResize(144, 72, 0, [](TDialog& d) {
        EXPECT_EQ(Size(d), "2.00 x 1.00");
        for (const char* refused : {"nan", "abc", "-1", "1e3", "1.255", "1.2.3"})
            EXPECT_EQ(Type(d, IDC_WIDTH, refused), "2.00 x 1.00") << refused;
        EXPECT_EQ(Type(d, IDC_WIDTH, "1.25"), "1.25 x 0.62"); // the aspect lock follows
        // Whole numbers only once the unit is pixels.
        EXPECT_EQ(Unit(d, UNITS_PIXELS), "90 x 45");
        EXPECT_EQ(Type(d, IDC_HEIGHT, "7.5"), "90 x 45");
        EXPECT_EQ(Type(d, IDC_HEIGHT, ""), "0 x ");
        return IDCANCEL;
    });
}

TEST_F(SizeDialogs, ResizeCanvasReturnsTheAnchorsChosen) {
    TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZECANVAS);
    ResetResizeCanvasTransfer(t);
    host.QueueScript([](TDialog& d) {
        EXPECT_EQ(Chosen(d, IDC_CANVASHORZ) + "/" + Chosen(d, IDC_CANVASVERT), "Center/Center");
        d.Select(IDC_CANVASHORZ, 2);
        d.Select(IDC_CANVASVERT, 0);
        d.TypeText(IDC_WIDTH, "101");
        return IDOK;
    });
    TResizeCanvasDialog d(200, 100, 72, 72, IDD_RESIZECANVAS, t);
    ASSERT_EQ(d.Execute(), IDOK);
    int w = 0, h = 0;
    ASSERT_TRUE(ReadSizeTransfer(t, 72, 72, w, h));
    EXPECT_EQ(CanvasOffset(t.Horizontal.Selection, w, 200), -99);
    EXPECT_EQ(CanvasOffset(1, w, 200), -49); // halves truncate toward zero, also when shrinking
    EXPECT_EQ(CanvasOffset(1, 301, 200), 50);
    EXPECT_EQ(CanvasOffset(t.Vertical.Selection, h, 100), 0);
    EXPECT_EQ(t.Vertical.Selection, 0);
}

// --- File New's dialog.

TEST_F(SizeDialogs, NewImageReturnsTheSizeInPixelsAndTheBitsChosen) {
    EXPECT_EQ("640x480x32", RunNew([](TDialog& d) {
                  EXPECT_TRUE(d.IsDlgButtonChecked(IDC_BPP1 + 4)); // 24
                  // Without the lock the sides are independent.
                  EXPECT_EQ(Type(d, IDC_WIDTH, "640"), "640 x 100");
                  d.TypeText(IDC_HEIGHT, "480");
                  d.Click(IDC_BPP32);
                  EXPECT_FALSE(d.IsDlgButtonChecked(IDC_BPP1 + 4));
                  return IDOK;
              }));
    // The next File New starts from 100 x 100 at 24 bits again, whatever was chosen before.
    EXPECT_EQ("100x100x24", RunNew([](TDialog&) { return IDOK; }));

    // Other units convert at 72 dots per inch.
    Options().MeasurementUnits = UNITS_INCHES;
    // The height's "1.39" is 100.08 pixels, truncated.
    EXPECT_EQ("144x100x8", RunNew([](TDialog& d) {
                  EXPECT_EQ(Text(d, IDC_WIDTH), "1.39"); // 100 / 72
                  d.TypeText(IDC_WIDTH, "2");
                  d.Click(IDC_BPP1 + 2); // 8
                  return IDOK;
              }));

    // A unit the settings file should not hold falls back to pixels.
    Options().MeasurementUnits = 7;
    EXPECT_EQ("100x64x24", RunNew([](TDialog& d) {
                  EXPECT_EQ(Chosen(d), "Pixels");
                  d.TypeText(IDC_HEIGHT, "64");
                  return IDOK;
              }));
    EXPECT_EQ(Options().MeasurementUnits, UNITS_PIXELS);
}

TEST_F(SizeDialogs, NewImageStaysOpenWithAMessageForASizeNoImageCanHave) {
    THeadlessMessageBoxes boxes;
    IMessageBoxHost* oldBoxes = SetMessageBoxHost(&boxes);
    int w = 5, h = 6, bpp = 7;
    EXPECT_FALSE(RunNewImageDialog(w, h, bpp)); // no script: cancelled
    for (const char* text : {"0", "", "99999999999"}) {
        host.QueueScript([text](TDialog& d) {
            d.TypeText(IDC_HEIGHT, text);
            d.Click(IDOK);
            // Still open, with what was typed and the focus where the fault is.
            EXPECT_TRUE(d.IsOpen()) << text;
            EXPECT_EQ(Size(d), std::string("100 x ") + text);
            EXPECT_EQ(d.Focused(), IDC_HEIGHT);
            d.TypeText(IDC_HEIGHT, "30");
            return IDOK;
        });
        EXPECT_TRUE(RunNewImageDialog(w, h, bpp)) << text;
        EXPECT_EQ(h, 30);
    }
    ASSERT_EQ(boxes.Shown.size(), 3u);
    EXPECT_EQ(boxes.Shown[0].Caption, "New Image Properties");
    EXPECT_EQ(boxes.Shown[0].Text, "Please enter a width and a height of at least one pixel.");
    ASSERT_EQ(host.Shown.size(), 4u);
    EXPECT_EQ(host.Shown[0].ResourceId, IDD_NEWIMAGE);
    EXPECT_EQ(host.Shown[0].Result, IDCANCEL);
    EXPECT_EQ(host.Shown[1].Result, IDOK);
    SetMessageBoxHost(oldBoxes);
}

TEST_F(SizeDialogs, NewDialogsKeepPresetsAndTheLockOutOfReach) {
    for (int res : {IDD_NEWIMAGE, IDD_NEWLAYER}) {
        TResizeTransfer& t = SizeDialogTransfer(res);
        ResetNewLayerTransfer(t);
        host.QueueScript([res](TDialog& d) {
            EXPECT_FALSE(d.Click(IDC_PRESET400)) << res;
            EXPECT_FALSE(d.Click(IDC_KEEPASPECT)) << res;
            EXPECT_FALSE(d.IsControlVisible(IDC_CUSTOM)) << res;
            EXPECT_EQ(d.IsControlVisible(IDC_BPP32), res == IDD_NEWIMAGE);
            EXPECT_TRUE(d.IsControlVisible(IDC_UNITS));
            return IDOK;
        });
        TNewFilePropsDialog d(300, 200, 72, 72, res, t);
        EXPECT_EQ(d.Execute(), IDOK);
        EXPECT_EQ(t.Width, "300");
    }
    // Every visible control lies inside its dialog.
    for (int res : {IDD_RESIZE, IDD_RESIZECANVAS, IDD_NEWIMAGE, IDD_NEWLAYER}) {
        const TDialogTemplate tmpl = SizeDialogTemplate(res);
        for (const TControlTemplate& c : tmpl.Controls)
            EXPECT_TRUE(!c.Visible || (c.Rect.left >= 0 && c.Rect.top >= 0 &&
                                       c.Rect.right <= tmpl.Width && c.Rect.bottom <= tmpl.Height))
                << res << " control " << c.Id << " " << c.Text;
    }
}
