// The size dialogs driven the way a user drives them: typing, clicking presets, spinning,
// switching units, then OK; and File New's question with its conversions.
#include <gtest/gtest.h>

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

    static int UnitIndex(const TDialog& d, int code) {
        for (int i = 0; i < d.GetCount(IDC_UNITS); ++i)
            if (d.GetItemData(IDC_UNITS, i) == code) return i;
        return -1;
    }

    THeadlessDialogHost host;

private:
    int oldUnits_ = UNITS_PIXELS;
    IDialogHost* oldHost_ = nullptr;
};

std::string Text(const TDialog& d, int id) { return d.GetDlgItemText(id); }

} // namespace

TEST_F(SizeDialogs, PresetsScaleTheOriginalAndTypingSwitchesToCustom) {
    const int r = RunResize(100, 50, 72, [](TDialog& d) {
        EXPECT_EQ(Text(d, IDC_WIDTH), "100");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "50");
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_CUSTOM));

        EXPECT_TRUE(d.Click(IDC_PRESET400));
        EXPECT_EQ(Text(d, IDC_WIDTH), "400");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "200");
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_PRESET400));
        EXPECT_FALSE(d.IsDlgButtonChecked(IDC_CUSTOM));

        // Presets always scale the original, not the size shown now.
        d.Click(IDC_PRESET50);
        EXPECT_EQ(Text(d, IDC_WIDTH), "50");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "25");
        EXPECT_FALSE(d.IsDlgButtonChecked(IDC_PRESET400));

        d.TypeText(IDC_WIDTH, "120");
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_CUSTOM));
        EXPECT_FALSE(d.IsDlgButtonChecked(IDC_PRESET50));
        // The box being typed in keeps the user's text; the lock moved the other one.
        EXPECT_EQ(Text(d, IDC_WIDTH), "120");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "60");
        return IDOK;
    });
    EXPECT_EQ(r, IDOK);
    const TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZE);
    EXPECT_EQ(t.Width, "120");
    EXPECT_EQ(t.Height, "60");
    EXPECT_TRUE(t.Custom);
    int w = 0, h = 0;
    ASSERT_TRUE(ReadSizeTransfer(t, 72, 72, w, h));
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 60);
}

TEST_F(SizeDialogs, AspectLockFollowsTheDimensionEditedLast) {
    RunResize(200, 100, 72, [](TDialog& d) {
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_KEEPASPECT));
        d.TypeText(IDC_WIDTH, "300");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "150");
        d.TypeText(IDC_HEIGHT, "40");
        EXPECT_EQ(Text(d, IDC_WIDTH), "80");

        d.Click(IDC_KEEPASPECT); // off
        d.TypeText(IDC_WIDTH, "500");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "40");
        d.TypeText(IDC_HEIGHT, "50");
        EXPECT_EQ(Text(d, IDC_WIDTH), "500");
        // Locking again recomputes the side not edited last, from the one that was.
        d.Click(IDC_KEEPASPECT);
        EXPECT_EQ(Text(d, IDC_WIDTH), "100");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "50");
        return IDCANCEL;
    });
}

TEST_F(SizeDialogs, UnitsListConvertsWithTheResolutionAndChangesTheProgramUnit) {
    RunResize(200, 100, 100, [this](TDialog& d) {
        EXPECT_EQ(d.GetString(IDC_UNITS, d.GetSelIndex(IDC_UNITS)), "Pixels");
        d.Click(IDC_PRESET200);
        EXPECT_TRUE(d.Select(IDC_UNITS, UnitIndex(d, UNITS_INCHES)));
        EXPECT_EQ(Text(d, IDC_WIDTH), "4.00");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "2.00");
        EXPECT_EQ(Options().MeasurementUnits, UNITS_INCHES);
        // Changing the unit is not an edit: the preset stays chosen.
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_PRESET200));

        d.Select(IDC_UNITS, UnitIndex(d, UNITS_CENTIMETRES));
        EXPECT_EQ(Text(d, IDC_HEIGHT), "5.08");
        d.TypeText(IDC_HEIGHT, "2.54"); // 100 pixels, width follows the lock
        EXPECT_EQ(Text(d, IDC_WIDTH), "5.08");
        d.Select(IDC_UNITS, UnitIndex(d, UNITS_PIXELS));
        EXPECT_EQ(Text(d, IDC_WIDTH), "200");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "100");
        return IDOK;
    });
    EXPECT_EQ(Options().MeasurementUnits, UNITS_PIXELS);

    // The next dialog opens in the unit the user left.
    Options().MeasurementUnits = UNITS_INCHES;
    RunResize(200, 100, 100, [](TDialog& d) {
        EXPECT_EQ(d.GetString(IDC_UNITS, d.GetSelIndex(IDC_UNITS)), "Inches");
        EXPECT_EQ(Text(d, IDC_WIDTH), "2.00");
        return IDCANCEL;
    });
}

TEST_F(SizeDialogs, SpinsStepOnePixelOrOneHundredthOfAUnit) {
    RunResize(200, 100, 100, [this](TDialog& d) {
        d.Click(IDC_KEEPASPECT); // off: only the spun side moves
        EXPECT_TRUE(d.Scroll(IDC_WIDTHSPIN, SB_LINEUP));
        EXPECT_EQ(Text(d, IDC_WIDTH), "201");
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_CUSTOM));
        d.Scroll(IDC_WIDTHSPIN, SB_LINEDOWN);
        d.Scroll(IDC_WIDTHSPIN, SB_LINEDOWN);
        EXPECT_EQ(Text(d, IDC_WIDTH), "199");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "100");

        // A typed number moves the spin with it, so the next click starts from there.
        d.TypeText(IDC_HEIGHT, "42");
        d.Scroll(IDC_HEIGHTSPIN, SB_LINEUP);
        EXPECT_EQ(Text(d, IDC_HEIGHT), "43");

        d.Select(IDC_UNITS, UnitIndex(d, UNITS_CENTIMETRES));
        EXPECT_EQ(Text(d, IDC_WIDTH), "5.05"); // 199 px
        d.Scroll(IDC_WIDTHSPIN, SB_LINEUP);
        EXPECT_EQ(Text(d, IDC_WIDTH), "5.06");
        d.Scroll(IDC_WIDTHSPIN, SB_LINEDOWN);
        d.Scroll(IDC_WIDTHSPIN, SB_LINEDOWN);
        EXPECT_EQ(Text(d, IDC_WIDTH), "5.04");

        // With the lock, spinning the height drives the width.
        d.Select(IDC_UNITS, UnitIndex(d, UNITS_PIXELS));
        d.Click(IDC_PRESET200);
        d.Click(IDC_KEEPASPECT);
        d.Scroll(IDC_HEIGHTSPIN, SB_LINEUP);
        EXPECT_EQ(Text(d, IDC_HEIGHT), "201");
        EXPECT_EQ(Text(d, IDC_WIDTH), "402");
        return IDCANCEL;
    });
}

TEST_F(SizeDialogs, TextsThatAreNotNumbersCountAsZeroAndImagesWithoutResolutionUseSeventyTwoDpi) {
    Options().MeasurementUnits = UNITS_INCHES;
    RunResize(144, 72, 0, [](TDialog& d) {
        EXPECT_EQ(Text(d, IDC_WIDTH), "2.00");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "1.00");
        d.TypeText(IDC_WIDTH, "nan");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "0.00");
        d.TypeText(IDC_WIDTH, "abc");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "0.00");
        return IDOK;
    });
    int w = 7, h = 7;
    EXPECT_FALSE(ReadSizeTransfer(SizeDialogTransfer(IDD_RESIZE), 0, 0, w, h));
    EXPECT_EQ(w, 7);
}

TEST_F(SizeDialogs, CancelLeavesTheRecordAsTheCommandSetIt) {
    RunResize(200, 100, 72, [](TDialog& d) {
        d.Click(IDC_PRESET400);
        return IDCANCEL;
    });
    const TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZE);
    EXPECT_EQ(t.Width, "");
    EXPECT_FALSE(t.Presets[0]);
    EXPECT_TRUE(t.KeepAspect);
}

TEST_F(SizeDialogs, ResizeCanvasReturnsTheAnchorsChosen) {
    TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZECANVAS);
    ResetResizeCanvasTransfer(t);
    host.QueueScript([](TDialog& d) {
        EXPECT_EQ(d.GetString(IDC_CANVASHORZ, d.GetSelIndex(IDC_CANVASHORZ)), "Center");
        EXPECT_EQ(d.GetString(IDC_CANVASVERT, d.GetSelIndex(IDC_CANVASVERT)), "Center");
        d.Select(IDC_CANVASHORZ, 2);
        d.Select(IDC_CANVASVERT, 0);
        d.TypeText(IDC_WIDTH, "101");
        return IDOK;
    });
    TResizeCanvasDialog d(200, 100, 72, 72, IDD_RESIZECANVAS, t);
    ASSERT_EQ(d.Execute(), IDOK);
    EXPECT_EQ(t.Horizontal.Selection, 2);
    EXPECT_EQ(t.Vertical.Selection, 0);
    int w = 0, h = 0;
    ASSERT_TRUE(ReadSizeTransfer(t, 72, 72, w, h));
    EXPECT_EQ(CanvasOffset(t.Horizontal.Selection, w, 200), -99);
    EXPECT_EQ(CanvasOffset(1, w, 200), -49); // halves truncate toward zero, also when shrinking
    EXPECT_EQ(CanvasOffset(1, 301, 200), 50);
    EXPECT_EQ(CanvasOffset(t.Vertical.Selection, h, 100), 0);
}

// --- File New's dialog.

TEST_F(SizeDialogs, NewImageReturnsTheTypedSizeAndTheBitsChosen) {
    host.QueueScript([](TDialog& d) {
        EXPECT_EQ(d.Caption(), "New Image Properties");
        EXPECT_EQ(Text(d, IDC_WIDTH), "100");
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_BPP1 + 4)); // 24
        // Without the lock the sides are independent.
        d.TypeText(IDC_WIDTH, "640");
        EXPECT_EQ(Text(d, IDC_HEIGHT), "100");
        d.TypeText(IDC_HEIGHT, "480");
        d.Click(IDC_BPP32);
        EXPECT_FALSE(d.IsDlgButtonChecked(IDC_BPP1 + 4));
        return IDOK;
    });
    int w = 0, h = 0, bpp = 0;
    ASSERT_TRUE(RunNewImageDialog(w, h, bpp));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(bpp, 32);

    // The next File New starts from 24 bits again, whatever was chosen before.
    host.QueueScript([](TDialog&) { return IDOK; });
    ASSERT_TRUE(RunNewImageDialog(w, h, bpp));
    EXPECT_EQ(bpp, 24);
    EXPECT_EQ(w, 100);
}

TEST_F(SizeDialogs, NewImageConvertsInchesAndCentimetresAtSeventyTwoDpi) {
    Options().MeasurementUnits = UNITS_INCHES;
    host.QueueScript([](TDialog& d) {
        EXPECT_EQ(Text(d, IDC_WIDTH), "1.39"); // 100 / 72
        d.TypeText(IDC_WIDTH, "2");
        d.Click(IDC_BPP1 + 2); // 8
        return IDOK;
    });
    int w = 0, h = 0, bpp = 0;
    ASSERT_TRUE(RunNewImageDialog(w, h, bpp));
    EXPECT_EQ(w, 144);
    EXPECT_EQ(h, 100); // "1.39" is 100.08 pixels, truncated
    EXPECT_EQ(bpp, 8);

    Options().MeasurementUnits = UNITS_CENTIMETRES;
    host.QueueScript([](TDialog& d) {
        EXPECT_EQ(Text(d, IDC_HEIGHT), "3.53");
        d.TypeText(IDC_WIDTH, "41.91"); // exactly 1188 pixels
        d.TypeText(IDC_HEIGHT, "2.54");
        return IDOK;
    });
    ASSERT_TRUE(RunNewImageDialog(w, h, bpp));
    EXPECT_EQ(w, 1188);
    EXPECT_EQ(h, 72);

    // The unit can also be switched inside the dialog: the texts then read in the new one.
    Options().MeasurementUnits = UNITS_PIXELS;
    host.QueueScript([this](TDialog& d) {
        d.Select(IDC_UNITS, UnitIndex(d, UNITS_INCHES));
        d.TypeText(IDC_HEIGHT, "0.5");
        return IDOK;
    });
    ASSERT_TRUE(RunNewImageDialog(w, h, bpp));
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 36);
}

TEST_F(SizeDialogs, AnUnknownUnitFromTheSettingsFallsBackToPixels) {
    Options().MeasurementUnits = 7;
    host.QueueScript([](TDialog& d) {
        EXPECT_EQ(d.GetString(IDC_UNITS, d.GetSelIndex(IDC_UNITS)), "Pixels");
        EXPECT_EQ(Text(d, IDC_WIDTH), "100");
        d.TypeText(IDC_HEIGHT, "64");
        return IDOK;
    });
    int w = 0, h = 0, bpp = 0;
    ASSERT_TRUE(RunNewImageDialog(w, h, bpp));
    EXPECT_EQ(h, 64);
    EXPECT_EQ(Options().MeasurementUnits, UNITS_PIXELS);
}

TEST_F(SizeDialogs, NewImageRefusesCancelAndSizesNoImageCanHave) {
    int w = 5, h = 6, bpp = 7;
    EXPECT_FALSE(RunNewImageDialog(w, h, bpp)); // no script: cancelled
    for (const char* text : {"0", "-5", "1e12", "x"}) {
        host.QueueScript([text](TDialog& d) {
            d.TypeText(IDC_WIDTH, text);
            return IDOK;
        });
        EXPECT_FALSE(RunNewImageDialog(w, h, bpp)) << text;
    }
    EXPECT_EQ(w, 5);
    EXPECT_EQ(bpp, 7);
    ASSERT_EQ(host.Shown.size(), 5u);
    EXPECT_EQ(host.Shown[0].ResourceId, IDD_NEWIMAGE);
    EXPECT_EQ(host.Shown[0].Result, IDCANCEL);
    EXPECT_EQ(host.Shown[1].Result, IDOK);
}

TEST_F(SizeDialogs, NewDialogsKeepPresetsAndTheLockOutOfReach) {
    for (int res : {IDD_NEWIMAGE, IDD_NEWLAYER}) {
        TResizeTransfer& t = SizeDialogTransfer(res);
        ResetNewLayerTransfer(t);
        host.QueueScript([res](TDialog& d) {
            EXPECT_FALSE(d.Click(IDC_PRESET400)) << res;
            EXPECT_FALSE(d.Click(IDC_KEEPASPECT)) << res;
            EXPECT_FALSE(d.IsControlVisible(IDC_CUSTOM)) << res;
            EXPECT_EQ(Text(d, IDC_WIDTH), "300") << res;
            EXPECT_EQ(d.IsControlVisible(IDC_BPP32), res == IDD_NEWIMAGE);
            EXPECT_TRUE(d.IsControlVisible(IDC_UNITS));
            return IDOK;
        });
        TNewFilePropsDialog d(300, 200, 72, 72, res, t);
        EXPECT_EQ(d.Execute(), IDOK);
        EXPECT_EQ(t.Width, "300");
    }
    // Every visible control lies inside the dialog, every hidden one is hidden.
    for (int res : {IDD_RESIZE, IDD_RESIZECANVAS, IDD_NEWIMAGE, IDD_NEWLAYER}) {
        const TDialogTemplate tmpl = SizeDialogTemplate(res);
        EXPECT_EQ(tmpl.ResourceId, res);
        for (const TControlTemplate& c : tmpl.Controls) {
            if (!c.Visible) continue;
            EXPECT_TRUE(c.Rect.left >= 0 && c.Rect.top >= 0 && c.Rect.right <= tmpl.Width &&
                        c.Rect.bottom <= tmpl.Height)
                << res << " control " << c.Id << " " << c.Text;
        }
    }
}
