// The image document: which format and depth a save picks and when it asks first, what a
// failed save does, which file type an opened file gets, reverting and load progress.
#include <algorithm>
#include <cstring>

#include "model/ModelTestUtil.h"
#include "support/TestFiles.h"

#include "ErrorDisplay.h"
#include "FileTypes.h"
#include "ImageDoc.h"
#include "MessageBox.h"
#include "Options.h"

using namespace mt;
namespace fs = std::filesystem;

namespace {

using support::ReadText;
using support::WriteText;

const char* const kLowerDepthQuestion =
    "You choose to save an image\n\rwith lower bits per pixel value\n\rthen the image has.\n\r"
    "Are you sure to save the file with this format?";
const char* const kSaveFailed = "Unable to save the file. Maybe the file is read-only.";

FILEINFO Info(const std::string& path) {
    FILEINFO info;
    EXPECT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS) << path;
    return info;
}

class ImageDocTest : public ::testing::Test {
protected:
    ~ImageDocTest() override {
        Options() = savedOptions_;
        TImageDoc::SetProgressGauge(nullptr);
    }

    TDocTemplate* Tmpl(const std::string& description) {
        for (auto& t : templates)
            if (t->GetDescription() == description) return t.get();
        ADD_FAILURE() << "no template " << description;
        return nullptr;
    }
    // A document holding `layers` (the first is the background), saved as `type` to `name`.
    template <class... L>
    void Prepare(TImageDoc& doc, const std::string& type, const std::string& name, L... layers) {
        (doc.Image.Layers.Append(std::move(layers)), ...);
        doc.Image.Layers.Seek(0);
        doc.Templates = &templates;
        doc.SetTemplate(Tmpl(type));
        doc.SetDocPath(dir + "/" + name);
    }

    THeadlessMessageBoxes boxes;
    support::TUseMessageBoxes useBoxes_{boxes};
    std::vector<std::unique_ptr<TDocTemplate>> templates = CreateFileTypeTemplates();
    const std::string dir = support::FreshTestDir("imagedoc");

private:
    TOptions savedOptions_ = Options();
};

} // namespace

// ---------------------------------------------------------------------------
// The type table and the depth rules.

TEST(FileTypes, OpenOnlyTypesAllImagesAndTheTypeEachFormatOpensAs) {
    auto templates = CreateFileTypeTemplates();
    ASSERT_EQ(templates.size(), FileTypes().size());
    std::vector<std::string> openOnly;
    for (const auto& t : templates) {
        if (t->IsOpenOnly()) openOnly.push_back(t->GetDescription());
        EXPECT_TRUE(t->GetFlags() & DT_OVERWRITEPROMPT) << t->GetDescription();
    }
    EXPECT_EQ(openOnly, (std::vector<std::string>{"All image files", "PhotoCD images",
                                                  "Encapsulated PostScript pictures"}));
    EXPECT_TRUE(templates[0]->MatchesPath("a.qlx") && templates[0]->MatchesPath("a.jtf"));
    // GIF has no type of its own but opens, so "All image files" offers it.
    EXPECT_TRUE(templates[0]->MatchesPath("a.gif"));

    // GIF (2), metafiles (15) and unknown codes have no type.
    const std::pair<int, const char*> cases[] = {{FORMAT_NATIVE, "QLX multilayered images"},
                                                 {74, "OS/2 bitmaps"},
                                                 {26, "LEAD images"},
                                                 {95, "TIFF images"},
                                                 {23, "JPEG images"},
                                                 {29, "CCITT TIFF"},
                                                 {2, nullptr},
                                                 {15, nullptr},
                                                 {99, nullptr}};
    for (auto [code, type] : cases) {
        const char* got = FileTypeForFormat(code);
        EXPECT_EQ(got ? std::string(got) : "", type ? std::string(type) : "") << code;
    }
}

TEST(FileTypes, SaveFormatAndDepthFollowTheTypeTheImageAndTheOptions) {
    struct Case {
        const char* type;
        int bpp;
        bool gray;
        int tiffCompression, tiffSpace, code, savedBpp;
    } cases[] = {
        // The smallest candidate depth deep enough, else the largest.
        {"Windows bitmaps", 16, false, 0, 0, 6, 16},
        {"OS/2 bitmaps", 16, false, 0, 0, 14, 24},
        {"TARGA images", 4, false, 0, 0, 4, 8},
        {"PCX images", 32, false, 0, 0, 1, 24},
        {"WordPerfect images", 24, false, 0, 0, 54, 8},
        {"MacPaint images", 32, false, 0, 0, 51, 1},
        {"QLX multilayered images", 32, false, 0, 0, FORMAT_NATIVE, 32},
        {"PhotoCD images", 24, false, 0, 0, 0, 0},
        // JPEG-like types: gray at 8 bits, colour at 24.
        {"JPEG images", 32, false, 0, 0, 10, 24},
        {"JPEG images", 8, false, 0, 0, 10, 24},
        {"JPEG images", 8, true, 0, 0, 10, 8},
        {"LEAD images", 8, true, 0, 0, 20, 8},
        {"LEAD images", 1, false, 0, 0, 26, 1},
        // TIFF: code and depth come from the TIFF options.
        {"TIFF images", 1, false, 1, 2, 94, 24},
        {"TIFF images", 4, false, 1, 0, 17, 4},
        {"TIFF images", 16, false, 2, 0, 87, 16},
        {"TIFF images", 8, false, 0, 1, 85, 24},
        {"TIFF images", 32, false, 2, 1, 88, 32},
        {"TIFF images", 24, false, 7, -1, 3, 24}, // damaged settings: uncompressed RGB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.type << " " << c.bpp);
        const TFileType* t = FindFileType(c.type);
        ASSERT_NE(t, nullptr);
        const TSaveFormat f = ChooseSaveFormat(*t, c.bpp, c.gray, c.tiffCompression, c.tiffSpace);
        EXPECT_EQ((std::pair{f.Code, f.Bpp}), (std::pair{c.code, c.savedBpp}));
    }
}

TEST(FileTypes, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(75, 255, 100), 191);
    EXPECT_EQ(MulDiv(-50, 255, 100), -128);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(1 << 30, 8, 1), -1);
}

// ---------------------------------------------------------------------------
// Saving.

TEST_F(ImageDocTest, LowerDepthQuestionDeclinedWritesNothingAcceptedSavesAndResetsHistory) {
    TImageDoc doc;
    Prepare(doc, "JPEG images", "a.jpg", Pattern(16, 8, 32, "bg"));
    WriteText(doc.GetDocPath(), "old bytes");
    ASSERT_TRUE(doc.Checkpoint(true, "Crop"));
    ASSERT_TRUE(doc.IsDirty());

    EXPECT_FALSE(doc.Commit());
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, kLowerDepthQuestion);
    EXPECT_EQ(boxes.Shown[0].Caption, "Warning");
    EXPECT_EQ(boxes.Shown[0].Buttons, TMbButtons::YesNo);
    EXPECT_EQ(ReadText(doc.GetDocPath()), "old bytes");
    EXPECT_TRUE(doc.IsDirty());
    EXPECT_EQ(doc.UndoName(), "Crop");

    boxes.QueueAnswer(TMbResult::Yes);
    EXPECT_TRUE(doc.Commit());
    EXPECT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(Info(doc.GetDocPath()).BitsPerPixel, 24);
    // After a save there is nothing to undo and nothing unsaved.
    EXPECT_FALSE(doc.CanUndo());
    EXPECT_FALSE(doc.IsDirty());
    EXPECT_EQ(doc.LastSnapshot, nullptr);
}

TEST_F(ImageDocTest, FailedSaveTellsTheUserThenOffersSaveAsOnceWithoutLooping) {
    TImageDoc doc;
    Prepare(doc, "PNG images", "missing/x.png", Pattern(8, 8, 24));
    ASSERT_TRUE(doc.Checkpoint(true, "Fill"));
    int saveAsCalls = 0;
    doc.SaveAsHandler = [&](TDocument&) { return ++saveAsCalls, false; }; // the user cancels
    EXPECT_FALSE(doc.Commit());
    EXPECT_EQ(saveAsCalls, 1);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, std::string(kSaveFailed) + "\nThe folder does not exist.");
    EXPECT_EQ(boxes.Shown[0].Caption, "Quillo Professional");
    EXPECT_EQ(boxes.Shown[0].Icon, TMbIcon::Stop);
    EXPECT_TRUE(doc.IsDirty());
    EXPECT_TRUE(doc.CanUndo());

    // A Save As that fails the same way reports it once more but does not loop.
    doc.SaveAsHandler = [&](TDocument& d) { return ++saveAsCalls, d.Commit(); };
    EXPECT_FALSE(doc.Commit());
    EXPECT_EQ(saveAsCalls, 2);
    EXPECT_EQ(boxes.Shown.size(), 3u);

    doc.SaveAsHandler = [&](TDocument& d) {
        d.SetDocPath(dir + "/ok.png");
        return d.Commit();
    };
    EXPECT_TRUE(doc.Commit());
    EXPECT_TRUE(fs::exists(dir + "/ok.png"));
    EXPECT_FALSE(doc.IsDirty());
}

// ---------------------------------------------------------------------------
// Opening.

TEST_F(ImageDocTest, OpenedFileGetsTheTypeOfItsFormat) {
    {
        TImageDoc src;
        Prepare(src, "QLX multilayered images", "a.qlx", Pattern(12, 10, 24, "Background"),
                At(Pattern(4, 4, 32, "Top"), -3, 2));
        ASSERT_TRUE(src.Commit());
    }
    TImageDoc native;
    native.Templates = &templates;
    native.SetTemplate(Tmpl("All image files"));
    ASSERT_TRUE(native.Open(OM_READ, dir + "/a.qlx"));
    EXPECT_EQ(native.GetTemplate(), Tmpl("QLX multilayered images"));
    EXPECT_EQ(native.Image.Count(), 2);
    EXPECT_EQ(native.Image.Layers.At(1)->X, -3);
    EXPECT_EQ(native.GetTitle(), "a.qlx");
    EXPECT_FALSE(native.IsDirty());
    // A document that already holds an image does not load another.
    EXPECT_FALSE(native.Open(OM_READ, dir + "/a.qlx"));

    auto bg = Pattern(10, 40, 24);
    ASSERT_EQ(L_SaveBitmap((dir + "/p.png").c_str(), bg.get(), FILE_PNG, 24, 0), SUCCESS);
    TProgressRecorder gauge;
    TImageDoc::SetProgressGauge(&gauge);
    TImageDoc png;
    png.Templates = &templates;
    png.SetTemplate(Tmpl("All image files"));
    ASSERT_TRUE(png.Open(OM_READ, dir + "/p.png"));
    EXPECT_EQ(png.GetTemplate(), Tmpl("PNG images"));
    EXPECT_EQ(png.Image.Layers.At(0)->Name, "Background");
    // The load drove the progress gauge up to the end, then cleared it.
    const auto values = gauge.Values();
    ASSERT_GE(values.size(), 2u);
    EXPECT_EQ(values[values.size() - 2], 100);
    EXPECT_EQ(values.back(), 0);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end() - 1));

    // Without a registered type for the format the type stays what it was.
    std::vector<std::unique_ptr<TDocTemplate>> noPng;
    for (auto& t : CreateFileTypeTemplates())
        if (t->GetDescription() != "PNG images") noPng.push_back(std::move(t));
    TImageDoc other;
    other.Templates = &noPng;
    other.SetTemplate(noPng[0].get());
    ASSERT_TRUE(other.Open(OM_READ, dir + "/p.png"));
    EXPECT_EQ(other.GetTemplate(), noPng[0].get());
}

TEST_F(ImageDocTest, OpenFailureThrowsWithPathAndToolkitCode) {
    auto openCode = [&](const std::string& path) {
        TImageDoc doc;
        doc.Templates = &templates;
        try {
            doc.Open(OM_READ, path);
        } catch (const TXLeadLib& e) {
            EXPECT_EQ(e.Path(), path);
            EXPECT_FALSE(doc.IsOpen());
            return e.Code();
        }
        ADD_FAILURE() << "no exception for " << path;
        return 0;
    };
    EXPECT_EQ(openCode(dir + "/nothing.png"), ERROR_FILENOTFOUND);
    WriteText(dir + "/text.png", "just some text, not an image at all");
    EXPECT_EQ(openCode(dir + "/text.png"), ERROR_FILE_FORMAT);
    WriteText(dir + "/cut.qlx", std::string("QLX \x06\x00\x02", 7));
    EXPECT_EQ(openCode(dir + "/cut.qlx"), ERROR_FILE_FORMAT);
}

TEST_F(ImageDocTest, RevertReloadsTheFileAndForgetsTheHistory) {
    auto bg = Solid(6, 5, Px{10, 20, 30, 255}, 24);
    ASSERT_EQ(L_SaveBitmap((dir + "/r.png").c_str(), bg.get(), FILE_PNG, 24, 0), SUCCESS);
    TImageDoc doc;
    doc.Templates = &templates;
    ASSERT_TRUE(doc.Open(OM_READ | OM_WRITE, dir + "/r.png"));
    std::vector<TDocEvent> heard;
    doc.AddListener([&](TDocument&, TDocEvent e) { heard.push_back(e); });
    ASSERT_TRUE(doc.Checkpoint(true, "Fill"));
    Put(*doc.Image.Layers.At(0), 1, 1, Px{1, 2, 3, 255});
    ASSERT_TRUE(doc.ConvertToGrayscale()); // a gray display palette
    ASSERT_TRUE(doc.Revert(false));
    // The views let go of the old image and take up the reloaded one, shown in true colour.
    ASSERT_GE(heard.size(), 2u);
    EXPECT_EQ(heard[heard.size() - 2], TDocEvent::Closed);
    EXPECT_EQ(heard.back(), TDocEvent::Opened);
    RGBQUAD fixed[256];
    L_GetFixedPalette(fixed, 8);
    ASSERT_NE(doc.GetPalette(), nullptr);
    EXPECT_EQ(std::memcmp(doc.GetPalette()->Entries, fixed, sizeof fixed), 0);
    EXPECT_EQ(At(*doc.Image.Layers.At(0), 1, 1), (Px{10, 20, 30, 255}));
    EXPECT_FALSE(doc.IsDirty());
    EXPECT_FALSE(doc.CanUndo());

    // The file has gone: the edited image and its history stay.
    ASSERT_TRUE(doc.Checkpoint(true, "Fill"));
    Put(*doc.Image.Layers.At(0), 1, 1, Px{1, 2, 3, 255});
    fs::remove(dir + "/r.png");
    EXPECT_THROW(doc.Revert(false), TXLeadLib);
    EXPECT_EQ(At(*doc.Image.Layers.At(0), 1, 1), (Px{1, 2, 3, 255}));
    EXPECT_EQ(doc.UndoName(), "Fill");
    EXPECT_TRUE(doc.IsDirty());
    // Reverting with `clear` only forgets the history.
    ASSERT_TRUE(doc.Revert(true));
    EXPECT_FALSE(doc.IsDirty());
    EXPECT_EQ(At(*doc.Image.Layers.At(0), 1, 1), (Px{1, 2, 3, 255}));

    // A new image has no file to go back to and is not emptied.
    TImageDoc fresh;
    ASSERT_TRUE(fresh.InitFromBitmap(*Pattern(4, 4, 24)));
    EXPECT_FALSE(fresh.Revert(false));
    EXPECT_TRUE(fresh.IsOpen());
}

// ---------------------------------------------------------------------------
// Load progress.

namespace {
void Rows(BITMAPHANDLE& b, L_UINT flags, int lines) {
    TImageDoc::LoadProgressCallback(nullptr, &b, nullptr, flags, 0, lines, nullptr);
}
} // namespace

TEST_F(ImageDocTest, LoadProgressCountsRowsAndPassesAndRestartsForEveryLoad) {
    TProgressRecorder gauge;
    TImageDoc::SetProgressGauge(&gauge);
    BITMAPHANDLE b;
    b.Height = 100;
    constexpr L_UINT P1 = FILEREAD_FIRSTPASS, PN = FILEREAD_LASTPASS, R1 = FILEREAD_FIRSTROW,
                     RN = FILEREAD_LASTROW;

    // Interlaced: the first call does not say "last pass", so two passes are assumed, and
    // a third pass raises the count.
    Rows(b, P1 | R1, 50);
    Rows(b, P1 | RN, 50);
    Rows(b, R1, 50);
    Rows(b, R1 | PN, 50);
    Rows(b, PN | RN, 50);
    using E = TProgressRecorder::TEvent;
    using K = TProgressRecorder::TKind;
    EXPECT_EQ(gauge.Events, (std::vector<E>{{K::Value, 20},
                                            {K::Repaint, -1},
                                            {K::Value, 50},
                                            {K::Repaint, -1},
                                            {K::Value, 70},
                                            {K::Repaint, -1},
                                            {K::Value, 80},
                                            {K::Repaint, -1},
                                            {K::Value, 100},
                                            {K::Repaint, -1},
                                            {K::Value, 0}}));

    // The next file starts from 0 again and shows each tenth once.
    gauge.Events.clear();
    for (int row = 0; row < 100; row += 5)
        Rows(b, P1 | PN | (row == 0 ? R1 : 0) | (row == 95 ? RN : 0), 5);
    EXPECT_EQ(gauge.Values(), (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0}));

    // A load whose first step lands on the last value shown before still shows it.
    gauge.Events.clear();
    Rows(b, P1 | PN | R1, 95);
    Rows(b, P1 | PN | RN, 5);
    EXPECT_EQ(gauge.Values(), (std::vector<int>{90, 100, 0}));
}

TEST_F(ImageDocTest, ResizeAndGrayscaleAreOneUndoStepEach) {
    TImageDoc doc;
    Prepare(doc, "PNG images", "r.png", Pattern(20, 10, 24, "bg"),
            At(Pattern(6, 4, 32, "top"), 4, -2));
    EXPECT_FALSE(doc.Resize(0, 5));
    EXPECT_FALSE(doc.CanUndo());
    ASSERT_TRUE(doc.Resize(40, 20));
    EXPECT_EQ(doc.Image.Layers.At(1)->X, 8);
    EXPECT_EQ(doc.Image.Layers.At(1)->Width, 12);
    EXPECT_EQ(doc.UndoName(), "Resize");
    EXPECT_FALSE(doc.IsGrayscale());
    ASSERT_TRUE(doc.ConvertToGrayscale());
    EXPECT_TRUE(doc.IsGrayscale());
    // The display palette is now the background's gray one.
    ASSERT_NE(doc.GetPalette(), nullptr);
    EXPECT_EQ(std::memcmp(doc.GetPalette()->Entries, doc.Image.Layers.At(0)->pPalette,
                          sizeof(RGBQUAD) * 256),
              0);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(doc.Image.Layers.At(i)->LogicalBpp, 8);
    EXPECT_EQ(doc.UndoName(), "Convert To Grayscale");
    ASSERT_TRUE(doc.Undo());
    EXPECT_FALSE(doc.IsGrayscale());
    ASSERT_TRUE(doc.Undo());
    EXPECT_EQ(doc.Image.Layers.At(0)->Width, 20);
    EXPECT_EQ(doc.Image.Layers.At(1)->X, 4);
}
