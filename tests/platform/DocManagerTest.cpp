// The document manager: opening (twice, failing, from the command line, dropped), recent
// files, saving with its fall-back to Save As, closing changed documents, and which File
// commands are available.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "CommonDialogs.h"
#include "DocManager.h"
#include "ErrorCodes.h"
#include "ErrorDisplay.h"
#include "ProfileFile.h"

namespace fs = std::filesystem;

namespace {

// A document whose file is "read" when it exists and whose save can be made to fail.
class TFakeDoc : public TDocument {
public:
    bool Open(int mode, const std::string& path) override {
        if (!path.empty() && !fs::exists(path)) throw TXLeadLib(path, ERROR_FILENOTFOUND);
        if (!path.empty() && fs::file_size(path) == 0) throw TXLeadLib(path, ERROR_FILE_FORMAT);
        return TDocument::Open(mode, path);
    }
    bool Commit(bool) override {
        ++Commits;
        if (FailSaves) return false;
        SavedTo.push_back(GetDocPath());
        SetDirty(false);
        return true;
    }
    bool Close() override {
        Closed = true;
        return true;
    }
    bool FailSaves = false;
    bool Closed = false;
    int Commits = 0;
    std::vector<std::string> SavedTo;
};

class TFakeViews : public IDocViewFactory {
public:
    void CreateView(TDocument& doc) override {
        Views.push_back(&doc);
        Active = &doc;
    }
    void DestroyViews(TDocument& doc) override {
        Views.erase(std::remove(Views.begin(), Views.end(), &doc), Views.end());
        if (Active == &doc) Active = Views.empty() ? nullptr : Views.back();
    }
    TDocument* ActiveDocument() const override { return Active; }
    std::vector<TDocument*> Views;
    TDocument* Active = nullptr;
};

class TTestManager : public TDocManager {
public:
    TTestManager() {
        AddTemplate(std::make_unique<TDocTemplate>("All pictures", "*.pic;*.ro", "", DT_READONLY));
        AddTemplate(std::make_unique<TDocTemplate>("Pictures", "*.pic", "pic", DT_OVERWRITEPROMPT));
        AddTemplate(std::make_unique<TDocTemplate>("Read-only pictures", "*.ro", "ro", DT_READONLY));
        AddTemplate(std::make_unique<TDocTemplate>("Sketches", "*.sk", "sk", DT_OVERWRITEPROMPT));
    }
    TFakeDoc* Doc(size_t i) const { return static_cast<TFakeDoc*>(Documents().at(i).get()); }

protected:
    std::unique_ptr<TDocument> ConstructDoc(TDocTemplate&) override { return std::make_unique<TFakeDoc>(); }
};

class DocManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldBoxes_ = SetMessageBoxHost(&boxes);
        oldDialogs_ = SetCommonDialogs(&dialogs);
        const char* env = std::getenv("QUILLO_TEST_TMP");
        dir = (env && *env ? std::string(env) : fs::temp_directory_path().string() + "/quillo-platform-tests") +
              "/docmanager-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
        oldCwd_ = fs::current_path();
        fs::current_path(dir);
        manager.SetViewFactory(&views);
        manager.SetRecentFiles(&recent);
    }
    void TearDown() override {
        fs::current_path(oldCwd_);
        SetMessageBoxHost(oldBoxes_);
        SetCommonDialogs(oldDialogs_);
    }
    std::string File(const std::string& name, const std::string& content = "x") {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << content;
        return path;
    }
    TFileDialogResult Chosen(const std::string& path, int filterIndex) {
        TFileDialogResult r;
        r.Paths = {path};
        r.FilterIndex = filterIndex;
        return r;
    }
    TCommandEnabler State(int id) {
        TCommandEnabler ce(id);
        manager.CommandEnable(ce);
        return ce;
    }

    THeadlessMessageBoxes boxes;
    THeadlessCommonDialogs dialogs;
    TFakeViews views;
    std::string dir;
    TRecentFiles recent{std::string()};
    TTestManager manager;

private:
    IMessageBoxHost* oldBoxes_ = nullptr;
    ICommonDialogs* oldDialogs_ = nullptr;
    fs::path oldCwd_;
};

TEST_F(DocManagerTest, AFileOpensOnceHoweverItIsNamed) {
    const std::string path = File("cat.pic");
    TDocument* doc = manager.CreateDoc(nullptr, path);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->GetTemplate()->GetDescription(), "All pictures"); // the first that matches
    EXPECT_EQ(views.Views, std::vector<TDocument*>{doc});
    EXPECT_EQ(doc->SaveAs(), false) << "Save As reaches the manager's dialog, which was cancelled";
    EXPECT_EQ(dialogs.SaveRequests.size(), 1u);

    // The same file by a relative name with detours.
    EXPECT_EQ(manager.CreateDoc(nullptr, "./sub/../cat.pic"), nullptr);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Document already loaded.");
    EXPECT_EQ(boxes.Shown[0].Caption, "cat.pic");
    EXPECT_EQ(manager.Documents().size(), 1u);
    EXPECT_EQ(views.Views.size(), 1u);

    // A new document is called Untitled; a message without text still says something.
    TDocument* a = manager.CreateDoc(nullptr, "");
    ASSERT_NE(a, nullptr);
    boxes.QueueAnswer(TMbResult::Yes);
    EXPECT_EQ(manager.PostDocError(*a, 4242, TMbButtons::YesNo), TMbResult::Yes);
    EXPECT_EQ(boxes.Shown.back().Text, "Error: Message [string ID 4242] not found.");
    EXPECT_EQ(boxes.Shown.back().Caption, "Untitled");
}

TEST_F(DocManagerTest, AFileThatCannotBeReadIsReportedAndNotKept) {
    const std::string bad = File("broken.pic", "");
    EXPECT_EQ(manager.CreateDoc(nullptr, bad), nullptr);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, "File Open");
    EXPECT_EQ(boxes.Shown[0].Text, bad + ":\n" + L_ErrorMessage(ERROR_FILE_FORMAT));
    EXPECT_EQ(boxes.Shown[0].Icon, TMbIcon::Exclamation);
    EXPECT_TRUE(manager.Documents().empty());
    EXPECT_TRUE(views.Views.empty());
    EXPECT_TRUE(recent.Paths().empty());
}

TEST_F(DocManagerTest, CommandLineNamesWithoutExtensionGetADot) {
    // A name without a dot is tried with one appended; with neither file there, the error
    // names the dotted form and nothing opens.
    EXPECT_EQ(manager.OpenCommandLineFile("ghost"), nullptr);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text.rfind(dir + "/ghost.:\n", 0), 0u) << boxes.Shown[0].Text;

    File("photo.");
    TDocument* dotted = manager.OpenCommandLineFile("photo");
    ASSERT_NE(dotted, nullptr);
    EXPECT_EQ(dotted->GetDocPath(), dir + "/photo.");
    EXPECT_EQ(dotted->GetTemplate(), manager.Templates()[0].get()); // nothing matches: the first

    // Here "plain" and "plain." are different files: only the plain one exists, so it opens.
    File("plain");
    TDocument* plain = manager.OpenCommandLineFile("plain");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->GetDocPath(), dir + "/plain");

    File("drawing.sk");
    TDocument* sketch = manager.OpenCommandLineFile("drawing.sk");
    ASSERT_NE(sketch, nullptr);
    EXPECT_EQ(sketch->GetDocPath(), dir + "/drawing.sk");
    EXPECT_EQ(sketch->GetTemplate()->GetDescription(), "Sketches");
    // A dot in a folder name does not count as the file's extension.
    fs::create_directories(dir + "/v1.2");
    File("v1.2/notes.");
    TDocument* notes = manager.OpenCommandLineFile("v1.2/notes");
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(notes->GetDocPath(), dir + "/v1.2/notes.");
}

TEST_F(DocManagerTest, DroppedFilesOfUnknownTypesAreSkipped) {
    const std::string a = File("a.pic"), bad = File("b.pic", ""), c = File("c.sk"), txt = File("notes.txt");
    manager.OpenDroppedFiles({a, txt, bad, c});
    ASSERT_EQ(manager.Documents().size(), 2u); // the failing one is reported, the rest open
    EXPECT_EQ(manager.Doc(0)->GetDocPath(), a);
    EXPECT_EQ(manager.Doc(1)->GetDocPath(), c);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text.rfind(bad + ":", 0), 0u);
}

TEST_F(DocManagerTest, RecentFilesAreNewestFirstAtMostFourAndPersisted) {
    const std::string ini = dir + "/Quillo32.ini";
    {
        TProfileFile other;
        other.WriteString("Options", "JPEG Compression", "40");
        ASSERT_EQ(other.Write(ini), SUCCESS);
    }
    TRecentFiles list(ini);
    manager.SetRecentFiles(&list);
    std::vector<std::string> paths;
    for (const char* name : {"1.pic", "2.pic", "3.pic", "4.pic", "5.pic"}) paths.push_back(File(name));
    for (const auto& p : paths) ASSERT_NE(manager.CreateDoc(nullptr, p), nullptr);
    EXPECT_EQ(list.Paths(), (std::vector<std::string>{paths[4], paths[3], paths[2], paths[1]}));

    // Saving under a path that is already listed moves it to the top, once.
    manager.Doc(2)->SetTemplate(manager.Templates()[1].get());
    ASSERT_TRUE(manager.SaveDoc(*manager.Doc(2)));
    EXPECT_EQ(list.Paths(), (std::vector<std::string>{paths[2], paths[4], paths[3], paths[1]}));

    // Another run sees the same list, and the options in the file were left alone.
    TRecentFiles reread(ini);
    EXPECT_EQ(reread.Paths(), list.Paths());
    EXPECT_EQ(TProfileFile::Read(ini).GetString("Options", "JPEG Compression"), "40");
    EXPECT_EQ(TProfileFile::Read(ini).GetString("Recent File List", "File1"), paths[2]);

    // The menu shows the entries numbered and disables the rest.
    TCommandEnabler first = State(CM_MRU_FIRST);
    EXPECT_TRUE(first.Enabled);
    EXPECT_EQ(first.Text, "&1 " + paths[2]);
    list.Remove(paths[1]);
    list.Remove(paths[3]);
    EXPECT_TRUE(State(CM_MRU_FIRST + 1).Enabled);
    TCommandEnabler third = State(CM_MRU_FIRST + 2);
    EXPECT_TRUE(third.Handled);
    EXPECT_FALSE(third.Enabled);
    EXPECT_EQ(TRecentFiles(ini).Paths().size(), 2u);
    manager.SetRecentFiles(&recent);
}

TEST_F(DocManagerTest, ARecentFileThatHasGoneIsReportedAndDropped) {
    const std::string kept = File("kept.pic"), gone = File("gone.pic"), broken = File("broken.pic");
    recent.Add(broken);
    recent.Add(gone);
    recent.Add(kept);
    fs::remove(gone);
    std::ofstream(broken, std::ios::trunc).flush(); // still there, but unreadable now

    EXPECT_EQ(manager.OpenRecentFile(1), nullptr);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, "File Open");
    EXPECT_EQ(recent.Paths(), (std::vector<std::string>{kept, broken}));

    // A damaged file may be repaired: it stays in the list.
    EXPECT_TRUE(manager.Command(CM_MRU_FIRST + 1));
    EXPECT_TRUE(manager.Documents().empty());
    EXPECT_EQ(recent.Paths(), (std::vector<std::string>{kept, broken}));

    ASSERT_TRUE(manager.Command(CM_MRU_FIRST));
    ASSERT_EQ(manager.Documents().size(), 1u);
    EXPECT_EQ(manager.Doc(0)->GetDocPath(), kept);
}

TEST_F(DocManagerTest, SaveFallsBackToSaveAsWithTheSavableTypes) {
    TFakeDoc* doc = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, ""));
    ASSERT_NE(doc, nullptr);
    doc->SetDirty();

    // Cancelled: nothing changes.
    EXPECT_FALSE(manager.SaveDoc(*doc));
    ASSERT_EQ(dialogs.SaveRequests.size(), 1u);
    const TFileDialogRequest& request = dialogs.SaveRequests[0];
    ASSERT_EQ(request.Filters.size(), 2u); // open-only types are not offered
    EXPECT_EQ(request.Filters[0].Description, "Pictures");
    EXPECT_EQ(request.Filters[1].Description, "Sketches");
    EXPECT_TRUE(doc->GetDocPath().empty());

    // A name without extension gets the chosen type's; the document takes that type.
    dialogs.QueueSave(Chosen(dir + "/drawing", 1));
    EXPECT_TRUE(manager.SaveDoc(*doc));
    EXPECT_EQ(doc->GetDocPath(), dir + "/drawing.sk");
    EXPECT_EQ(doc->GetTemplate()->GetDescription(), "Sketches");
    EXPECT_EQ(doc->SavedTo, std::vector<std::string>{dir + "/drawing.sk"});
    EXPECT_EQ(recent.Paths().front(), dir + "/drawing.sk");

    // With a path and a savable type, Save writes there without asking.
    EXPECT_TRUE(manager.SaveDoc(*doc));
    EXPECT_EQ(dialogs.SaveRequests.size(), 2u);
    EXPECT_EQ(doc->SavedTo.size(), 2u);

    // A file of an open-only type is saved through Save As; the dialog proposes its name
    // in its folder and the first savable type.
    TFakeDoc* ro = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, File("scan.ro")));
    ASSERT_NE(ro, nullptr);
    EXPECT_FALSE(manager.SaveDoc(*ro));
    ASSERT_EQ(dialogs.SaveRequests.size(), 3u);
    EXPECT_EQ(dialogs.SaveRequests[2].FileName, "scan.ro");
    EXPECT_EQ(dialogs.SaveRequests[2].InitialDir, dir);
    EXPECT_EQ(dialogs.SaveRequests[2].DefaultExt, "pic");

    // A Save As whose write fails leaves the document with its old file and type.
    ro->FailSaves = true;
    dialogs.QueueSave(Chosen(dir + "/scan.pic", 0));
    EXPECT_FALSE(manager.SaveDocAs(*ro));
    EXPECT_EQ(ro->GetDocPath(), dir + "/scan.ro");
    EXPECT_EQ(ro->GetTitle(), "scan.ro");
    EXPECT_EQ(ro->GetTemplate()->GetDescription(), "All pictures");
    EXPECT_EQ(recent.Paths().front(), dir + "/scan.ro"); // only the open was recorded
}

TEST_F(DocManagerTest, ClosingAChangedDocumentAsksFirst) {
    TFakeDoc* yes = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, File("yes.pic")));
    TFakeDoc* no = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, File("no.pic")));
    TFakeDoc* failing = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, File("fail.sk")));
    TFakeDoc* clean = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, File("clean.pic")));
    ASSERT_TRUE(yes && no && failing && clean);
    yes->SetTemplate(manager.Templates()[1].get());
    failing->SetTemplate(manager.Templates()[3].get());
    yes->SetDirty();
    no->SetDirty();
    failing->SetDirty();
    failing->FailSaves = true;

    // Unchanged: closes without a question.
    EXPECT_TRUE(manager.CloseDoc(*clean));
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(manager.Documents().size(), 3u);

    // Yes saves, then closes: views go, the document is closed.
    boxes.QueueAnswer(TMbResult::Yes);
    EXPECT_TRUE(manager.CloseDoc(*yes));
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Save changes to yes.pic?");
    EXPECT_EQ(boxes.Shown[0].Caption, "yes.pic");
    EXPECT_EQ(boxes.Shown[0].Buttons, TMbButtons::YesNoCancel);
    EXPECT_EQ(manager.Documents().size(), 2u);

    // Yes with a save that fails keeps the document and its window.
    boxes.QueueAnswer(TMbResult::Yes);
    EXPECT_FALSE(manager.CloseDoc(*failing));
    EXPECT_EQ(failing->Commits, 1);
    EXPECT_FALSE(failing->Closed);
    EXPECT_NE(std::find(views.Views.begin(), views.Views.end(), failing), views.Views.end());

    // Cancel keeps it too, without saving.
    boxes.QueueAnswer(TMbResult::Cancel);
    EXPECT_FALSE(manager.CloseDoc(*no));
    EXPECT_EQ(no->Commits, 0);
    EXPECT_FALSE(no->Closed);

    // Closing all stops at the one that stays; No discards the other.
    boxes.QueueAnswer(TMbResult::Yes); // failing (the newest) first
    EXPECT_FALSE(manager.CloseAll());
    EXPECT_EQ(manager.Documents().size(), 2u);
    failing->FailSaves = false;
    boxes.QueueAnswer(TMbResult::Yes);
    boxes.QueueAnswer(TMbResult::No);
    EXPECT_TRUE(manager.CloseAll());
    EXPECT_TRUE(manager.Documents().empty());
    EXPECT_TRUE(views.Views.empty());
    EXPECT_TRUE(boxes.Shown.back().Text == "Save changes to no.pic?");
}

TEST_F(DocManagerTest, FileCommandsNeedADocumentAndRevertAFile) {
    for (int id : {CM_FILENEW, CM_FILEOPEN}) EXPECT_TRUE(State(id).Enabled) << id;
    for (int id : {CM_FILESAVE, CM_FILESAVEAS, CM_FILECLOSE, CM_FILEREVERT, CM_MRU_FIRST}) {
        TCommandEnabler ce = State(id);
        EXPECT_TRUE(ce.Handled) << id;
        EXPECT_FALSE(ce.Enabled) << id;
    }
    EXPECT_FALSE(State(CM_EXIT).Handled);
    EXPECT_FALSE(manager.Command(CM_EXIT));

    ASSERT_TRUE(manager.Command(CM_FILENEW));
    ASSERT_EQ(manager.Documents().size(), 1u);
    EXPECT_TRUE(State(CM_FILESAVE).Enabled);
    EXPECT_TRUE(State(CM_FILECLOSE).Enabled);
    EXPECT_FALSE(State(CM_FILEREVERT).Enabled);
    ASSERT_NE(manager.CreateDoc(nullptr, File("a.pic")), nullptr);
    EXPECT_TRUE(State(CM_FILEREVERT).Enabled);

    ASSERT_TRUE(manager.Command(CM_FILECLOSE));
    EXPECT_EQ(manager.Documents().size(), 1u);
    EXPECT_EQ(views.Active, manager.Documents()[0].get());

    // The open command uses the chosen type for every file chosen; an open one is
    // reported and the others still open.
    const std::string b = File("b.sk"), c = File("c.sk");
    ASSERT_NE(manager.CreateDoc(nullptr, b), nullptr);
    TFileDialogResult several;
    several.Paths = {b, c};
    several.FilterIndex = 3;
    dialogs.QueueOpen(several);
    boxes.Shown.clear();
    ASSERT_TRUE(manager.Command(CM_FILEOPEN));
    ASSERT_EQ(manager.Documents().size(), 3u);
    EXPECT_EQ(manager.Doc(2)->GetDocPath(), c);
    EXPECT_EQ(manager.Doc(2)->GetTemplate()->GetDescription(), "Sketches");
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Document already loaded.");

    // A file that cannot be read stops the files chosen after it.
    const std::string bad = File("bad.sk", ""), d = File("d.sk");
    several.Paths = {bad, d};
    dialogs.QueueOpen(several);
    ASSERT_TRUE(manager.Command(CM_FILEOPEN));
    EXPECT_EQ(manager.Documents().size(), 3u);
    EXPECT_EQ(boxes.Shown.back().Caption, "File Open");
}

} // namespace
