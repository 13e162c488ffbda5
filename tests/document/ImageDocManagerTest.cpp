// The program's document manager over real image documents: opening several files from the
// dialog and what it remembers, new blank images, reverting, a failed Save As, and the
// commands that are not available yet.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>

#include "model/ModelTestUtil.h"
#include "support/TestFiles.h"

#include "CommonDialogs.h"
#include "ImageDocManager.h"
#include "MessageBox.h"
#include "Options.h"

namespace fs = std::filesystem;

namespace {

class TViews : public IDocViewFactory {
public:
    void CreateView(TDocument& doc) override {
        Views.push_back(&doc);
        LayersWhenShown.push_back(static_cast<TImageDoc&>(doc).Image.Count());
    }
    void DestroyViews(TDocument& doc) override {
        Views.erase(std::remove(Views.begin(), Views.end(), &doc), Views.end());
    }
    TDocument* ActiveDocument() const override { return Views.empty() ? nullptr : Views.back(); }
    void ActivateView(TDocument&) override {}
    std::vector<TDocument*> Views;
    std::vector<int> LayersWhenShown;
};

class ImageDocManagerTest : public ::testing::Test {
protected:
    void SetUp() override { manager.SetViewFactory(&views); }
    ~ImageDocManagerTest() override { Options() = savedOptions_; }
    std::string Sample(const std::string& name) {
        const std::string path = dir + "/" + name;
        fs::copy_file(QUILLO_TEST_DATA "/sample.png", path, fs::copy_options::overwrite_existing);
        return path;
    }
    int TemplateIndex(const std::string& description, bool savableOnly) {
        int index = 0;
        for (const auto& t : manager.Templates()) {
            if (savableOnly && t->IsOpenOnly()) continue;
            if (t->GetDescription() == description) return index;
            ++index;
        }
        ADD_FAILURE() << description;
        return -1;
    }
    TImageDoc* Doc(size_t i) { return static_cast<TImageDoc*>(manager.Documents().at(i).get()); }
    // Runs New with the size and depth the dialog answers; the document made, or null.
    TImageDoc* NewImage(int width, int height, int bpp, COLORREF background) {
        manager.AskNewImage = [=](int& w, int& h, int& b) {
            w = width, h = height, b = bpp;
            return true;
        };
        manager.BackgroundColor = [=] { return background; };
        const size_t before = manager.Documents().size();
        manager.Command(CM_FILENEW);
        return manager.Documents().size() > before ? Doc(manager.Documents().size() - 1) : nullptr;
    }

    THeadlessMessageBoxes boxes;
    THeadlessCommonDialogs dialogs;
    support::TUseMessageBoxes useBoxes_{boxes};
    support::TUseCommonDialogs useDialogs_{dialogs};
    TViews views;
    TImageDocManager manager;
    const std::string dir = support::FreshTestDir("docmanager");

private:
    TOptions savedOptions_ = Options();
};

TEST_F(ImageDocManagerTest, OpenDialogStartsWhereTheLastOpenLeftOff) {
    EXPECT_EQ(TImageDocManager::Instance(), &manager);
    Options().DefaultDirectory = "/somewhere/else/";
    Options().DefaultFileType = 4;

    // An empty name among those chosen is passed over.
    const std::string a = Sample("a.png"), c = Sample("c.png");
    const int png = TemplateIndex("PNG images", false);
    dialogs.QueueOpen({{a, "", c}, png});
    manager.Command(CM_FILEOPEN);
    ASSERT_EQ(dialogs.OpenRequests.size(), 1u);
    EXPECT_EQ(dialogs.OpenRequests[0].InitialDir, "/somewhere/else/");
    EXPECT_EQ(dialogs.OpenRequests[0].FilterIndex, 4);
    EXPECT_TRUE(dialogs.OpenRequests[0].MultipleSelection);
    ASSERT_EQ(manager.Documents().size(), 2u);
    EXPECT_EQ(Doc(1)->GetDocPath(), c);
    EXPECT_EQ(Doc(1)->GetTemplate()->GetDescription(), "PNG images");
    EXPECT_EQ(Doc(1)->Image.Count(), 1);

    // The folder and type chosen are where the next open starts, and what the settings keep.
    EXPECT_EQ(Options().DefaultDirectory, dir + "/");
    EXPECT_EQ(Options().DefaultFileType, png);
    manager.Command(CM_FILEOPEN); // cancelled
    ASSERT_EQ(dialogs.OpenRequests.size(), 2u);
    EXPECT_EQ(dialogs.OpenRequests[1].InitialDir, dir + "/");
    EXPECT_EQ(dialogs.OpenRequests[1].FilterIndex, png);
    EXPECT_EQ(dialogs.OpenRequests[1].DefaultExt, "png");
    EXPECT_EQ(manager.Documents().size(), 2u);

    // A stored type index out of range (an edited settings file) starts at a valid one.
    Options().DefaultFileType = 400;
    manager.Command(CM_FILEOPEN);
    EXPECT_EQ(dialogs.OpenRequests.back().FilterIndex, int(manager.Templates().size()) - 1);
}

TEST_F(ImageDocManagerTest, NewImagesAreFilledWithTheBackgroundAndOpaque) {
    // Without the dialog hooked up, or when it is cancelled, nothing is made.
    manager.Command(CM_FILENEW);
    manager.AskNewImage = [](int& w, int& h, int& b) {
        EXPECT_EQ((std::vector{w, h, b}), (std::vector{100, 100, 24}));
        return false;
    };
    manager.Command(CM_FILENEW);
    EXPECT_TRUE(manager.Documents().empty());

    const COLORREF colour = 0x00203040; // a clear top byte must not make the image transparent
    for (int bpp : {32, 24, 16}) {
        SCOPED_TRACE(bpp);
        TImageDoc* doc = NewImage(5, 3, bpp, colour);
        ASSERT_NE(doc, nullptr);
        TLayer* layer = doc->Image.Layers.At(0);
        ASSERT_NE(layer, nullptr);
        EXPECT_EQ(
            (std::vector{layer->BitsPerPixel, layer->LogicalBpp, layer->Width, layer->Height}),
            (std::vector{32, bpp, 5, 3}));
        const COLORREF got = L_GetPixelColor(layer, 2, 4);
        // 16 bits keep 5 bits a channel: close is all that can be asked there.
        const int tolerance = bpp == 16 ? 7 : 0;
        for (int shift : {0, 8, 16})
            EXPECT_LE(std::abs(int((got >> shift) & 0xFF) - int((colour >> shift) & 0xFF)),
                      tolerance)
                << shift;
        TLeadBitmap alpha;
        ASSERT_EQ(L_GetBitmapAlpha(layer, &alpha), SUCCESS);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(L_GetPixelColor(&alpha, y, x) & 0xFF, 0xFFu) << x << "," << y;
        EXPECT_EQ(views.LayersWhenShown.back(), 1); // never shown empty
    }

    // A palette image takes the palette entry nearest the colour; unset, the colour is white.
    TImageDoc* gray = NewImage(2, 2, 8, 0x00FFFFFF);
    ASSERT_NE(gray, nullptr);
    EXPECT_EQ(gray->Image.Layers.At(0)->BitsPerPixel, 8);
    EXPECT_EQ(L_GetPixelColor(gray->Image.Layers.At(0), 1, 1), 0xFFFFFFu);
    manager.BackgroundColor = nullptr;
    manager.Command(CM_FILENEW);
    EXPECT_EQ(L_GetPixelColor(Doc(manager.Documents().size() - 1)->Image.Layers.At(0), 0, 0),
              0xFFFFFFu);

    // Sizes or depths no bitmap can have make nothing; one too big to make says why.
    const size_t count = manager.Documents().size();
    EXPECT_EQ(NewImage(0, 10, 24, colour), nullptr);
    EXPECT_EQ(NewImage(10, 10, 12, colour), nullptr);
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(NewImage(L_GetLimits().MaxSide + 1, 10, 24, colour), nullptr);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, kAppName);
    EXPECT_EQ(boxes.Shown[0].Icon, TMbIcon::Exclamation);

    // A bitmap without pixels is refused without leaving a window behind.
    BITMAPHANDLE empty;
    EXPECT_EQ(manager.CreateFromBitmap(empty), nullptr);
    EXPECT_EQ(manager.Documents().size(), count);
    EXPECT_EQ(views.Views.size(), count);
}

TEST_F(ImageDocManagerTest, RevertAsksFirstAndReportsAFileThatWentBad) {
    // A document never saved has nothing to go back to: nothing is asked.
    TImageDoc* fresh = NewImage(4, 4, 24, 0x0000FF);
    ASSERT_NE(fresh, nullptr);
    manager.CmFileRevert();
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_TRUE(fresh->IsDirty());

    const std::string path = Sample("photo.png");
    TImageDoc* doc = static_cast<TImageDoc*>(manager.CreateDoc(nullptr, path));
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->Checkpoint(true, "Paint"));
    L_FillBitmap(doc->Image.Layers.At(0), 0x00FF00);

    // No: nothing changes.
    manager.Command(CM_FILEREVERT);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Revert " + path + " to last saved version?");
    EXPECT_EQ(boxes.Shown[0].Caption, "photo.png");
    EXPECT_EQ(boxes.Shown[0].Buttons, TMbButtons::YesNo);
    EXPECT_EQ(L_GetPixelColor(doc->Image.Layers.At(0), 0, 0), 0x00FF00u);
    EXPECT_TRUE(doc->IsDirty());

    // Yes with a damaged file: the error is shown (the document keeps its image).
    std::ofstream(path, std::ios::trunc) << "not a picture";
    boxes.QueueAnswer(TMbResult::Yes);
    manager.Command(CM_FILEREVERT);
    ASSERT_EQ(boxes.Shown.size(), 3u);
    EXPECT_EQ(boxes.Shown[2].Caption, "File Open");
    EXPECT_EQ(boxes.Shown[2].Text.rfind(path + ":\n", 0), 0u);

    // Yes with the file back: the saved pixels return and the document is clean.
    Sample("photo.png");
    boxes.QueueAnswer(TMbResult::Yes);
    manager.Command(CM_FILEREVERT);
    EXPECT_NE(L_GetPixelColor(doc->Image.Layers.At(0), 0, 0), 0x00FF00u);
    EXPECT_FALSE(doc->IsDirty());

    // Scanning, preferences and pasting without a document are shown, but not offered.
    for (int id : {int(CM_ACQUIRE), int(CM_SELECTSOURCE), int(CM_PREFERENCES), int(CM_EDITPASTE)}) {
        TCommandEnabler ce(id);
        manager.CommandEnable(ce);
        EXPECT_TRUE(ce.Handled && !ce.Enabled) << id;
    }
}

// A document opened from photo.png and changed, with the recent files kept in a settings
// file: what a failed Save As must leave as it was.
struct TSaveAsState {
    std::string path, title, type;
    std::vector<std::string> recent;
    bool operator==(const TSaveAsState&) const = default;
};

TEST_F(ImageDocManagerTest, FailedOrCancelledSaveAsKeepsNameTypeAndRecentFiles) {
    TRecentFiles recent(dir + "/Quillo32.ini");
    manager.SetRecentFiles(&recent);
    const std::string photo = Sample("photo.png");
    TImageDoc* doc = static_cast<TImageDoc*>(manager.CreateDoc(nullptr, photo));
    ASSERT_NE(doc, nullptr);
    // Noise, so that the file cannot be squeezed under the size limit below.
    ASSERT_TRUE(doc->Checkpoint(true, "Paint"));
    std::mt19937 rng(3);
    TLayer& layer = *doc->Image.Layers.At(0);
    for (int y = 0; y < layer.Height; ++y)
        for (int x = 0; x < layer.BytesPerLine; ++x) L_RowPtr(&layer, y)[x] = uint8_t(rng());
    auto state = [&] {
        return TSaveAsState{doc->GetDocPath(), doc->GetTitle(),
                            doc->GetTemplate()->GetDescription(),
                            TRecentFiles(dir + "/Quillo32.ini").Paths()};
    };
    const TSaveAsState before = state();
    ASSERT_EQ(before.recent, std::vector<std::string>{photo});

    // Cancelled.
    EXPECT_FALSE(manager.SaveDocAs(*doc));
    EXPECT_EQ(state(), before);

    // A file that cannot be written (its folder is missing): the failure is shown, Save As is
    // offered again and cancelled; no file of that name is left.
    dialogs.QueueSave({{dir + "/missing/photo.png"}, 0});
    EXPECT_FALSE(manager.SaveDocAs(*doc));
    EXPECT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(state(), before);
    EXPECT_FALSE(fs::exists(dir + "/missing/photo.png"));
    EXPECT_TRUE(doc->IsDirty());

    // A full disk: the write stops at the file size limit, in a child process so that
    // the limit does not outlive this test.
    auto saveOnFullDisk = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit;
        limit.rlim_cur = limit.rlim_max = 4096;
        setrlimit(RLIMIT_FSIZE, &limit);
        dialogs.QueueSave({{dir + "/big.qlx"}, 0});
        const bool saved = manager.SaveDocAs(*doc);
        const bool same = state() == before, gone = !fs::exists(dir + "/big.qlx");
        std::fprintf(stderr, "saved=%d same=%d gone=%d\n", saved, same, gone);
        std::_Exit(!saved && same && gone ? 0 : 1);
    };
    EXPECT_EXIT(saveOnFullDisk(), ::testing::ExitedWithCode(0), "saved=0 same=1 gone=1");

    // Revert still reads the file the document came from.
    boxes.QueueAnswer(TMbResult::Yes);
    manager.Command(CM_FILEREVERT);
    EXPECT_FALSE(doc->IsDirty());
    EXPECT_EQ(state(), before);
    manager.SetRecentFiles(nullptr);
}

} // namespace
