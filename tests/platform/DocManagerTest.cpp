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
#include "platform/FakeViews.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

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
    bool Close() override { return Closed = true; }
    bool FailSaves = false, Closed = false;
    int Commits = 0;
    Paths SavedTo;
};

class TTestManager : public TDocManager {
public:
    TTestManager() {
        AddTemplate(std::make_unique<TDocTemplate>("All pictures", "*.pic;*.ro", "", DT_READONLY));
        AddTemplate(std::make_unique<TDocTemplate>("Pictures", "*.pic", "pic", DT_OVERWRITEPROMPT));
        AddTemplate(
            std::make_unique<TDocTemplate>("Read-only pictures", "*.ro", "ro", DT_READONLY));
        AddTemplate(std::make_unique<TDocTemplate>("Sketches", "*.sk", "sk", DT_OVERWRITEPROMPT));
    }
    TFakeDoc* Doc(size_t i) const { return static_cast<TFakeDoc*>(Documents().at(i).get()); }

protected:
    std::unique_ptr<TDocument> ConstructDoc(TDocTemplate&) override {
        return std::make_unique<TFakeDoc>();
    }
};

class DocManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::current_path(dir);
        manager.SetViewFactory(&views);
        manager.SetRecentFiles(&recent);
    }
    void TearDown() override { fs::current_path(oldCwd_); }
    std::string File(const std::string& name, const std::string& content = "x") {
        std::ofstream(dir + "/" + name) << content;
        return dir + "/" + name;
    }
    TFakeDoc* Open(const std::string& name) {
        return static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, File(name)));
    }
    TCommandEnabler State(int id) {
        TCommandEnabler ce(id);
        manager.CommandEnable(ce);
        return ce;
    }
    // The i-th message box (-1: the last) as "caption|text".
    std::string Box(int i = -1) const {
        const auto& m = boxes.Shown.at(i < 0 ? boxes.Shown.size() - 1 : size_t(i));
        return m.Caption + "|" + m.Text;
    }

    THeadlessMessageBoxes boxes;
    THeadlessCommonDialogs dialogs;
    support::TUseMessageBoxes useBoxes_{boxes};
    support::TUseCommonDialogs useDialogs_{dialogs};
    TFakeViews views;
    const std::string dir = support::FreshTestDir("docmanager");
    TRecentFiles recent{std::string()};
    TTestManager manager;

private:
    const fs::path oldCwd_ = fs::current_path();
};

TEST_F(DocManagerTest, AFileOpensOnceHoweverItIsNamed) {
    TFakeDoc* doc = Open("cat.pic");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->GetTemplate()->GetDescription(), "All pictures"); // the first that matches
    doc->SaveAs();                                                   // reaches the manager's dialog
    EXPECT_EQ(dialogs.SaveRequests.size(), 1u);

    // The same file by a relative name with detours, while another window is in front:
    // the file's own window comes to the front.
    ASSERT_NE(Open("dog.pic"), nullptr);
    EXPECT_EQ(manager.CreateDoc(nullptr, "./sub/../cat.pic"), nullptr);
    EXPECT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(Box(0), "cat.pic|Document already loaded.");
    EXPECT_EQ(manager.Documents().size(), 2u);
    EXPECT_EQ(manager.GetCurrentDoc(), doc);

    // A new document is called Untitled; a message without text still says something.
    TDocument* a = manager.CreateDoc(nullptr, "");
    ASSERT_NE(a, nullptr);
    boxes.QueueAnswer(TMbResult::Yes);
    EXPECT_EQ(manager.PostDocError(*a, 4242, TMbButtons::YesNo), TMbResult::Yes);
    EXPECT_EQ(Box(), "Untitled|Error: Message [string ID 4242] not found.");
}

TEST_F(DocManagerTest, CommandLineNamesWithoutExtensionGetADot) {
    // With neither file there, the error names the dotted form and nothing opens.
    EXPECT_EQ(manager.OpenCommandLineFile("ghost"), nullptr);
    EXPECT_EQ(Box(0).rfind("File Open|" + dir + "/ghost.:\n", 0), 0u) << Box(0);

    // "plain" and "plain." are different files: only the plain one exists, so it opens. A dot
    // in a folder name is not the file's extension. Nothing matching: the first type.
    fs::create_directories(dir + "/v1.2");
    const struct {
        const char *file, *arg, *type;
    } cases[] = {{"photo.", "photo", "All pictures"},
                 {"plain", "plain", "All pictures"},
                 {"drawing.sk", "drawing.sk", "Sketches"},
                 {"v1.2/notes.", "v1.2/notes", "All pictures"}};
    for (const auto& c : cases) {
        File(c.file);
        TDocument* doc = manager.OpenCommandLineFile(c.arg);
        ASSERT_NE(doc, nullptr) << c.arg;
        EXPECT_EQ(doc->GetDocPath(), dir + "/" + c.file);
        EXPECT_EQ(doc->GetTemplate()->GetDescription(), c.type);
    }
}

TEST_F(DocManagerTest, RecentFilesAreNewestFirstAtMostFourAndPersisted) {
    const std::string ini = dir + "/Quillo32.ini";
    TProfileFile other;
    other.WriteString("Options", "JPEG Compression", "40");
    ASSERT_EQ(other.Write(ini), SUCCESS);
    TRecentFiles list(ini);
    manager.SetRecentFiles(&list);
    Paths paths;
    for (const char* name : {"1.pic", "2.pic", "3.pic", "4.pic", "5.pic"})
        ASSERT_NE(manager.CreateDoc(nullptr, paths.emplace_back(File(name))), nullptr);
    EXPECT_EQ(list.Paths(), (Paths{paths[4], paths[3], paths[2], paths[1]}));

    // Saving under a path that is already listed moves it to the top, once.
    manager.Doc(2)->SetTemplate(manager.Templates()[1].get());
    ASSERT_TRUE(manager.SaveDoc(*manager.Doc(2)));
    EXPECT_EQ(list.Paths(), (Paths{paths[2], paths[4], paths[3], paths[1]}));

    // Another run sees the same list, and the options in the file were left alone.
    EXPECT_EQ(TRecentFiles(ini).Paths(), list.Paths());
    EXPECT_EQ(TProfileFile::Read(ini).GetString("Options", "JPEG Compression"), "40");
    EXPECT_EQ(TProfileFile::Read(ini).GetString("Recent File List", "File1"), paths[2]);

    // The menu shows the entries numbered and disables the rest; removals are kept too.
    EXPECT_EQ(State(CM_MRU_FIRST).Text, "&1 " + paths[2]);
    list.Remove(paths[1]);
    list.Remove(paths[3]);
    EXPECT_TRUE(State(CM_MRU_FIRST + 1).Enabled);
    TCommandEnabler third = State(CM_MRU_FIRST + 2);
    EXPECT_TRUE(third.Handled && !third.Enabled);
    EXPECT_EQ(TRecentFiles(ini).Paths().size(), 2u);
}

TEST_F(DocManagerTest, ARecentFileThatHasGoneIsReportedAndDropped) {
    const std::string kept = File("kept.pic"), gone = File("gone.pic"), broken = File("broken.pic");
    for (const std::string& p : {broken, gone, kept}) recent.Add(p);
    fs::remove(gone);
    std::ofstream(broken, std::ios::trunc).flush(); // still there, but unreadable now

    EXPECT_EQ(manager.OpenRecentFile(1), nullptr);
    EXPECT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(recent.Paths(), (Paths{kept, broken}));

    // A damaged file may be repaired: it stays in the list.
    EXPECT_TRUE(manager.Command(CM_MRU_FIRST + 1));
    EXPECT_TRUE(manager.Documents().empty());
    EXPECT_EQ(recent.Paths(), (Paths{kept, broken}));

    ASSERT_TRUE(manager.Command(CM_MRU_FIRST));
    ASSERT_EQ(manager.Documents().size(), 1u);
    EXPECT_EQ(manager.Doc(0)->GetDocPath(), kept);
}

TEST_F(DocManagerTest, SaveFallsBackToSaveAsWithTheSavableTypes) {
    TFakeDoc* doc = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, ""));
    ASSERT_NE(doc, nullptr);

    // Cancelled: nothing changes. Open-only types are not offered.
    EXPECT_FALSE(manager.SaveDoc(*doc));
    ASSERT_EQ(dialogs.SaveRequests.size(), 1u);
    Paths offered;
    for (const TFileFilter& f : dialogs.SaveRequests[0].Filters) offered.push_back(f.Description);
    EXPECT_EQ(offered, (Paths{"Pictures", "Sketches"}));
    EXPECT_TRUE(doc->GetDocPath().empty());

    // A name without extension gets the chosen type's; the document takes that type. Then,
    // with a path and a savable type, Save writes there without asking.
    const std::string drawing = dir + "/drawing.sk";
    dialogs.QueueSave({{dir + "/drawing"}, 1});
    EXPECT_TRUE(manager.SaveDoc(*doc));
    EXPECT_EQ(doc->GetDocPath(), drawing);
    EXPECT_EQ(doc->GetTemplate()->GetDescription(), "Sketches");
    EXPECT_EQ(recent.Paths().front(), drawing);
    EXPECT_TRUE(manager.SaveDoc(*doc));
    EXPECT_EQ(dialogs.SaveRequests.size(), 2u);
    EXPECT_EQ(doc->SavedTo, (Paths{drawing, drawing}));

    // A file of an open-only type is saved through Save As; the dialog proposes its name
    // in its folder and the first savable type.
    TFakeDoc* ro = Open("scan.ro");
    ASSERT_NE(ro, nullptr);
    EXPECT_FALSE(manager.SaveDoc(*ro));
    ASSERT_EQ(dialogs.SaveRequests.size(), 3u);
    EXPECT_EQ(dialogs.SaveRequests[2].FileName, "scan.ro");
    EXPECT_EQ(dialogs.SaveRequests[2].InitialDir, dir);
    EXPECT_EQ(dialogs.SaveRequests[2].DefaultExt, "pic");

    // A Save As whose write fails leaves the document with its old file and type.
    ro->FailSaves = true;
    dialogs.QueueSave({{dir + "/scan.pic"}, 0});
    EXPECT_FALSE(manager.SaveDocAs(*ro));
    EXPECT_EQ(ro->GetDocPath(), dir + "/scan.ro");
    EXPECT_EQ(ro->GetTitle(), "scan.ro");
    EXPECT_EQ(ro->GetTemplate()->GetDescription(), "All pictures");
    EXPECT_EQ(recent.Paths().front(), dir + "/scan.ro"); // only the open was recorded
    // A title that is not the file's name comes back too.
    TFakeDoc* fresh = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, ""));
    fresh->FailSaves = true;
    dialogs.QueueSave({{dir + "/new.pic"}, 0});
    EXPECT_FALSE(manager.SaveDocAs(*fresh));
    EXPECT_EQ(fresh->GetTitle(), "Untitled");
}

TEST_F(DocManagerTest, SaveAsWritesTheTypeTheTypedExtensionNames) {
    TFakeDoc* doc = static_cast<TFakeDoc*>(manager.CreateDoc(nullptr, ""));
    ASSERT_NE(doc, nullptr);
    // The savable types are Pictures (0, *.pic) and Sketches (1, *.sk).
    const struct {
        const char* typed;
        int chosen;
        const char* savedAs;
        const char* type;
    } cases[] = {
        {"a.sk", 0, "a.sk", "Sketches"},         // another savable type's extension wins
        {"d", 1, "d.sk", "Sketches"},            // none: the chosen type's is added
        {"e.ro", 1, "e.ro", "Sketches"},         // only an open-only type reads it: kept as typed
        {"g.sk/h", 0, "g.sk/h.pic", "Pictures"}, // a dot in a folder name is no extension
    };
    fs::create_directories(dir + "/g.sk");
    for (const auto& c : cases) {
        dialogs.QueueSave({{dir + "/" + c.typed}, c.chosen});
        EXPECT_TRUE(manager.SaveDocAs(*doc)) << c.typed;
        EXPECT_EQ(doc->GetDocPath(), dir + "/" + c.savedAs);
        EXPECT_EQ(doc->GetTemplate()->GetDescription(), c.type) << c.typed;
    }
    // The dialog knows each type's extension, so that it can follow the type selected.
    ASSERT_FALSE(dialogs.SaveRequests.empty());
    EXPECT_EQ(dialogs.SaveRequests[0].Filters[1].DefaultExt, "sk");
}

TEST_F(DocManagerTest, ClosingAChangedDocumentAsksFirst) {
    TFakeDoc *yes = Open("yes.pic"), *no = Open("no.pic"), *failing = Open("fail.sk"),
             *clean = Open("clean.pic");
    ASSERT_TRUE(yes && no && failing && clean);
    yes->SetTemplate(manager.Templates()[1].get()); // savable without asking where
    for (TFakeDoc* d : {yes, no, failing}) d->SetDirty();
    failing->FailSaves = true;

    // Unchanged: closes without a question. Yes saves (the save is recorded), then closes.
    EXPECT_TRUE(manager.CloseDoc(*clean));
    EXPECT_TRUE(boxes.Shown.empty());
    boxes.QueueAnswer(TMbResult::Yes);
    EXPECT_TRUE(manager.CloseDoc(*yes));
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(Box(0), "yes.pic|Save changes to yes.pic?");
    EXPECT_EQ(boxes.Shown[0].Buttons, TMbButtons::YesNoCancel);
    EXPECT_EQ(recent.Paths().front(), dir + "/yes.pic");
    EXPECT_EQ(manager.Documents().size(), 2u);

    // Yes with a save that fails keeps the document and its window; Cancel keeps it too,
    // without saving.
    boxes.QueueAnswer(TMbResult::Yes);
    EXPECT_FALSE(manager.CloseDoc(*failing));
    boxes.QueueAnswer(TMbResult::Cancel);
    EXPECT_FALSE(manager.CloseDoc(*no));
    EXPECT_EQ(failing->Commits, 1);
    EXPECT_EQ(no->Commits, 0);
    EXPECT_FALSE(failing->Closed || no->Closed);
    EXPECT_EQ(views.Views.size(), 2u);

    // Closing all stops at the one that stays; No discards the other.
    boxes.QueueAnswer(TMbResult::Yes); // failing (the newest) first
    EXPECT_FALSE(manager.CloseAll());
    EXPECT_EQ(boxes.Shown.size(), 4u); // "no" was not asked about
    failing->FailSaves = false;
    boxes.QueueAnswer(TMbResult::Yes);
    boxes.QueueAnswer(TMbResult::No);
    EXPECT_TRUE(manager.CloseAll());
    EXPECT_TRUE(manager.Documents().empty());
    EXPECT_TRUE(views.Views.empty());
    EXPECT_EQ(boxes.Shown.back().Text, "Save changes to no.pic?");
}

TEST_F(DocManagerTest, FileCommandsNeedADocumentAndRevertAFile) {
    for (int id : {CM_FILENEW, CM_FILEOPEN}) EXPECT_TRUE(State(id).Enabled) << id;
    for (int id : {CM_FILESAVE, CM_FILESAVEAS, CM_FILECLOSE, CM_FILEREVERT, CM_MRU_FIRST}) {
        TCommandEnabler ce = State(id);
        EXPECT_TRUE(ce.Handled && !ce.Enabled) << id;
    }
    EXPECT_FALSE(State(CM_EXIT).Handled);
    EXPECT_FALSE(manager.Command(CM_EXIT));

    ASSERT_TRUE(manager.Command(CM_FILENEW));
    ASSERT_EQ(manager.Documents().size(), 1u);
    for (int id : {CM_FILESAVE, CM_FILESAVEAS, CM_FILECLOSE}) EXPECT_TRUE(State(id).Enabled) << id;
    EXPECT_FALSE(State(CM_FILEREVERT).Enabled);
    ASSERT_NE(Open("a.pic"), nullptr);
    EXPECT_TRUE(State(CM_FILEREVERT).Enabled);
    ASSERT_TRUE(manager.Command(CM_FILECLOSE)); // the active one
    ASSERT_EQ(manager.Documents().size(), 1u);
    EXPECT_TRUE(manager.Doc(0)->GetDocPath().empty());

    // The open command gives every file chosen the type chosen; an open one is reported and
    // the others still open; a file that cannot be read stops the files chosen after it.
    const std::string b = File("b.sk"), c = File("c.sk"), bad = File("bad.sk", ""),
                      d = File("d.sk");
    ASSERT_NE(manager.CreateDoc(nullptr, b), nullptr);
    dialogs.QueueOpen({{b, c}, 1});
    ASSERT_TRUE(manager.Command(CM_FILEOPEN));
    ASSERT_EQ(manager.Documents().size(), 3u);
    EXPECT_EQ(manager.Doc(2)->GetDocPath(), c);
    EXPECT_EQ(manager.Doc(2)->GetTemplate()->GetDescription(), "Pictures");
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Document already loaded.");
    EXPECT_EQ(views.Views.end()[-2], manager.Doc(1)); // b was brought forward before c opened
    dialogs.QueueOpen({{bad, d}, 1});
    ASSERT_TRUE(manager.Command(CM_FILEOPEN));
    EXPECT_EQ(manager.Documents().size(), 3u);
    EXPECT_EQ(boxes.Shown.back().Caption, "File Open");
}

} // namespace
