// The eleven filter dialogs as a user drives them: each one's result at one setting against
// the toolkit call it stands for, the Spatial Filter subtypes, what is remembered between
// openings, the water colour's preview on request, and the underlay's background picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "CommonDialogs.h"
#include "FilterDialogs.h"
#include "FilterTestUtil.h"
#include "MessageBox.h"
#include "ModelessDialog.h"
#include "Processing.h"
#include "RedEye.h"

using ft::ClickMiddle;
using ft::Px;
using ft::SamePixels;

namespace {

class FilterDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        oldHost_ = SetDialogHost(&host);
        oldBoxes_ = SetMessageBoxHost(&boxes);
        oldFiles_ = SetCommonDialogs(&files);
        oldModeless_ = SetModelessHost(&modeless);
        ft::Make(source, 40, 30, [](int x, int y) { return Px{x * 6, y * 8, (x * y) & 255}; });
    }
    void TearDown() override {
        SetDialogHost(oldHost_);
        SetMessageBoxHost(oldBoxes_);
        SetCommonDialogs(oldFiles_);
        SetModelessHost(oldModeless_);
    }
    // Runs the dialog with the script (which returns the button to press) and answers its
    // result; the dialog keeps its controls afterwards.
    int Run(TDialog& d, std::function<int(TDialog&)> script) {
        host.QueueScript(std::move(script));
        return d.Execute();
    }

    THeadlessDialogHost host;
    THeadlessMessageBoxes boxes;
    THeadlessCommonDialogs files;
    THeadlessModelessHost modeless;
    TLeadBitmapX source;

private:
    IDialogHost* oldHost_ = nullptr;
    IMessageBoxHost* oldBoxes_ = nullptr;
    ICommonDialogs* oldFiles_ = nullptr;
    IModelessHost* oldModeless_ = nullptr;
};

using TFactory = std::function<std::unique_ptr<TEffectsDialog>(const TLeadBitmapX&)>;
template <class T>
TFactory Make() {
    return [](const TLeadBitmapX& s) { return std::make_unique<T>(s); };
}

// Point filters may shrink a large crop to the pane first; it must come out as the crop
// processed and then shrunk.
TEST_F(FilterDialogs, PointFiltersPreviewTheSamePixelsWhenTheyShrinkFirst) {
    TLeadBitmapX large;
    ft::Make(large, 400, 300, [](int x, int y) {
        return (x / 20 + y / 20) % 3 ? Px{200 + x % 50, (y * 3) & 63, (x * y) & 63}
                                     : Px{x & 255, y & 255, 90};
    });
    ft::SelectRect(large, {0, 0, 200, 300}); // the pixels outside must come out the same too
    for (const TFactory& make : {Make<TRedEyeDialog>(), Make<TPosterizeDialog>()}) {
        auto d = make(large);
        Run(*d, [&](TDialog& dlg) {
            EXPECT_TRUE(d->PreviewShrinksFirst);
            dlg.Scroll(IDC_SLIDER, SB_THUMBPOSITION, 4);
            dlg.Scroll(IDC_SLIDER, SB_ENDSCROLL);
            TLeadBitmapX shrunkFirst;
            shrunkFirst.AssignX(d->PreviewBitmap(), true);
            d->PreviewShrinksFirst = false;
            dlg.Scroll(IDC_SLIDER, SB_ENDSCROLL);
            EXPECT_TRUE(SamePixels(shrunkFirst, d->PreviewBitmap())) << dlg.Caption();
            EXPECT_FALSE(SamePixels(d->PreviewBitmap(), d->ShownOriginal())) << dlg.Caption();
            return IDCANCEL;
        });
    }
}

TEST_F(FilterDialogs, EachAppliesItsToolkitCallWithTheSettingsChosen) {
    struct Case {
        const char* name;
        TFactory make;
        std::function<void(TDialog&)> set;
        std::function<L_INT(BITMAPHANDLE&)> reference;
    };
    auto slider = [](int pos) {
        return [pos](TDialog& d) { d.Scroll(IDC_SLIDER, SB_THUMBPOSITION, pos); };
    };
    const Case cases[] = {
        {"average", Make<TAverageDialog>(), slider(5),
         [](BITMAPHANDLE& b) { return L_AverageFilterBitmap(&b, 5); }},
        {"median", Make<TMedianDialog>(), slider(4),
         [](BITMAPHANDLE& b) { return L_MedianFilterBitmap(&b, 4); }},
        {"posterize", Make<TPosterizeDialog>(), slider(6),
         [](BITMAPHANDLE& b) { return L_PosterizeBitmap(&b, 6); }},
        {"mosaic", Make<TMosaicDialog>(), slider(7),
         [](BITMAPHANDLE& b) { return L_MosaicBitmap(&b, 7); }},
        {"red eye", Make<TRedEyeDialog>(), slider(900),
         [](BITMAPHANDLE& b) { return RedEyeCorrect(b, 900); }},
        {"add noise on green", Make<TAddNoiseDialog>(),
         [](TDialog& d) {
             d.Scroll(IDC_SLIDER, SB_THUMBPOSITION, 20);
             d.Click(IDC_NOISE_ALL + 2);
         },
         [](BITMAPHANDLE& b) { return L_AddBitmapNoise(&b, 200, NOISE_GREEN); }},
        {"emboss south-west", Make<TEmbossDialog>(),
         [](TDialog& d) {
             d.Scroll(IDC_SLIDER, SB_THUMBPOSITION, 30);
             d.Click(IDC_EMBOSS_N + 5);
         },
         [](BITMAPHANDLE& b) { return L_EmbossBitmap(&b, EMBOSS_SW, 600); }},
        {"prewitt vertical, equalized", Make<TSpatialFiltersDialog>(),
         [](TDialog& d) {
             d.Click(IDC_FILTER_GRADIENT + 3);
             d.Select(IDC_FILTER_SUBTYPE, 1);
             if (!d.IsDlgButtonChecked(IDC_FILTER_EQUALIZE)) d.Click(IDC_FILTER_EQUALIZE);
         },
         [](BITMAPHANDLE& b) {
             const L_INT rc = L_SpatialFilterBitmap(&b, FLT_PREWITT_VERT);
             return rc == SUCCESS ? L_HistoEqualizeBitmap(&b) : rc;
         }},
        {"laplacian diagonal alone", Make<TSpatialFiltersDialog>(),
         [](TDialog& d) {
             d.Click(IDC_FILTER_GRADIENT + 1);
             d.Select(IDC_FILTER_SUBTYPE, 3);
             if (d.IsDlgButtonChecked(IDC_FILTER_EQUALIZE)) d.Click(IDC_FILTER_EQUALIZE);
         },
         [](BITMAPHANDLE& b) { return L_SpatialFilterBitmap(&b, FLT_LAPLACE_1 + 3); }},
        {"water colour", Make<TWaterColorDialog>(),
         [](TDialog& d) { d.Scroll(IDC_WATER_GRANULARITY, SB_THUMBPOSITION, 4); },
         [](BITMAPHANDLE& b) { return L_OilifyBitmap(&b, 4); }},
    };
    TLeadBitmapX before;
    ASSERT_EQ(before.AssignX(source, true), SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = c.make(source);
        ASSERT_EQ(Run(*d, [&](TDialog& dlg) { return c.set(dlg), IDOK; }), IDOK);
        TLeadBitmapX got, want;
        ASSERT_EQ(d->Apply(got, source, false), SUCCESS);
        ASSERT_TRUE(SamePixels(source, before)) << "the source changed";
        ASSERT_EQ(want.AssignX(source, true), SUCCESS);
        ASSERT_EQ(c.reference(want), SUCCESS);
        EXPECT_TRUE(SamePixels(got, want));
        EXPECT_EQ(got.LogicalBpp, source.LogicalBpp);
    }
}

TEST_F(FilterDialogs, SpatialFilterListsTheTypesSubtypesAndRemembersTheType) {
    SpatialFilterTransfer() = TSpatialFiltersDialogXfer{};
    TSpatialFiltersDialog d(source);
    std::vector<std::string> sobel;
    int sobelFilter = 0, lineFilter = 0;
    Run(d, [&](TDialog&) {
        EXPECT_EQ(d.GetCount(IDC_FILTER_SUBTYPE), 8); // Gradient at first
        d.Click(IDC_FILTER_GRADIENT + 2);
        for (int i = 0; i < d.GetCount(IDC_FILTER_SUBTYPE); ++i)
            sobel.push_back(d.GetString(IDC_FILTER_SUBTYPE, i));
        d.Select(IDC_FILTER_SUBTYPE, 1);
        sobelFilter = d.FilterNumber();
        d.Click(IDC_FILTER_LINESEGMENT);
        lineFilter = d.FilterNumber();
        return IDCANCEL;
    });
    EXPECT_EQ(sobel, (std::vector<std::string>{"Horizontal", "Vertical"}));
    EXPECT_EQ(sobelFilter, FLT_SOBEL_VERT);
    EXPECT_EQ(lineFilter, FLT_LINESEG_HORZ);
    EXPECT_EQ(d.GetString(IDC_FILTER_SUBTYPE, d.GetSelIndex(IDC_FILTER_SUBTYPE)), "Horizontal");
    // The next opening starts on Line Segment with its first subtype.
    TSpatialFiltersDialog again(source);
    Run(again, [](TDialog&) { return IDCANCEL; });
    EXPECT_TRUE(again.IsDlgButtonChecked(IDC_FILTER_LINESEGMENT));
    EXPECT_EQ(again.FilterNumber(), FLT_LINESEG_HORZ);
    EXPECT_EQ(again.GetCount(IDC_FILTER_SUBTYPE), 4);
}

TEST_F(FilterDialogs, ReopeningKeepsTheButtonsButNotTheSlider) {
    EmbossTransfer() = TEmbossDialogXfer{};
    AddNoiseTransfer() = TAddNoiseDialogXfer{};
    TEmbossDialog emboss(source);
    Run(emboss, [](TDialog& d) {
        d.Scroll(IDC_SLIDER, SB_THUMBPOSITION, 40);
        d.Click(IDC_EMBOSS_N + 6);
        return IDOK;
    });
    TAddNoiseDialog noise(source);
    Run(noise, [](TDialog& d) { return d.Click(IDC_NOISE_BLUE), IDCANCEL; });
    TEmbossDialog emboss2(source);
    TAddNoiseDialog noise2(source);
    Run(emboss2, [](TDialog&) { return IDCANCEL; });
    Run(noise2, [](TDialog&) { return IDCANCEL; });
    EXPECT_EQ(emboss2.Choice(), EMBOSS_W);
    EXPECT_EQ(emboss2.GetPosition(IDC_SLIDER), 25);
    EXPECT_EQ(noise2.Choice(), NOISE_BLUE);
    EXPECT_EQ(noise2.GetPosition(IDC_SLIDER), 10);
}

TEST_F(FilterDialogs, WaterColorPreviewsOnlyOnRequestAndAZoomEmptiesIt) {
    TWaterColorDialog d(source);
    std::vector<bool> shown;
    std::string value;
    Run(d, [&](TDialog&) {
        shown.push_back(d.PreviewBitmap().IsAllocated()); // opened
        d.Click(IDC_WATER_PREVIEW);
        shown.push_back(d.PreviewBitmap().IsAllocated()); // Preview
        d.Scroll(IDC_WATER_GRANULARITY, SB_THUMBPOSITION, 7);
        d.Scroll(IDC_WATER_GRANULARITY, SB_ENDSCROLL);
        value = d.GetDlgItemText(IDC_WATER_VALUE);
        shown.push_back(d.PreviewBitmap().IsAllocated()); // the slider leaves it
        ClickMiddle(d, IDC_ORIGINAL, false);
        shown.push_back(d.PreviewBitmap().IsAllocated()); // zoomed
        return IDCANCEL;
    });
    EXPECT_EQ(shown, (std::vector<bool>{false, true, true, false}));
    EXPECT_EQ(value, "7");
    EXPECT_EQ(d.GetZoomLevel(), 1);
}

std::string TempFile(const char* name, const char* content) {
    const char* env = std::getenv("QUILLO_TEST_TMP");
    const std::filesystem::path dir = std::filesystem::path(env ? env : "/tmp") / "underlay";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / name).string();
    std::ofstream(path) << content;
    return path;
}

TEST_F(FilterDialogs, UnderlayNeedsABackgroundAndSurvivesAFailedLoad) {
    const std::string bad = TempFile("broken.png", "no picture here");
    const std::string good = std::string(QUILLO_TEST_DATA) + "/sample.png";
    files.QueueOpen(TFileDialogResult{{bad}, 0});
    files.QueueOpen(TFileDialogResult{{good}, 0});
    TUnderlayDialog d(source);
    std::vector<std::string> seen;
    bool openAfterRefusal = false, thumbAfterFailure = true;
    int focus = 0;
    const int result = Run(d, [&](TDialog&) {
        d.Click(IDOK);
        openAfterRefusal = d.IsOpen();
        focus = d.Focused();
        d.Click(IDC_UNDERLAY_BROWSE);
        thumbAfterFailure = d.Thumbnail()->Bitmap() != nullptr;
        d.Click(IDC_UNDERLAY_BROWSE);
        seen.push_back(d.GetDlgItemText(IDC_UNDERLAY_PATH));
        return IDOK;
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_EQ(focus, IDC_UNDERLAY_BROWSE);
    EXPECT_FALSE(thumbAfterFailure);
    ASSERT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(boxes.Shown[0].Text, "Background image is not specified.");
    EXPECT_EQ(boxes.Shown[0].Caption, "Underlay Effect");
    EXPECT_EQ(boxes.Shown[0].Icon, TMbIcon::Stop);
    EXPECT_EQ(boxes.Shown[1].Caption, "Underlay");
    EXPECT_EQ(boxes.Shown[1].Text.rfind(bad + ":\n", 0), 0u) << boxes.Shown[1].Text;
    EXPECT_EQ(seen, (std::vector<std::string>{good}));
    EXPECT_TRUE(files.OpenRequests.back().ImagePreview);
    ASSERT_NE(d.Thumbnail()->Shown(), nullptr);
    EXPECT_LE(d.Thumbnail()->Shown()->Width, d.Thumbnail()->ClientWidth()); // fitted
    // The result is the toolkit's underlay with the picture loaded.
    TLeadBitmapX got, want;
    ASSERT_EQ(d.Apply(got, source, false), SUCCESS);
    ASSERT_EQ(want.AssignX(source, true), SUCCESS);
    ASSERT_EQ(L_UnderlayBitmap(&want, &d.Background(), UB_TILE), SUCCESS);
    EXPECT_TRUE(SamePixels(got, want));
}

} // namespace
