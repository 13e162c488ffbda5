// Autosave and recovery over real documents: which documents a round writes and what the
// file holds, a copy that an edit interrupts, the autosave going with a save or a close,
// the three answers to the recovery question, and autosaves too damaged to offer.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "model/ModelTestUtil.h"
#include "platform/FakeViews.h"
#include "support/TestFiles.h"

#include "Autosaver.h"
#include "ImageDocManager.h"
#include "MessageBox.h"

namespace fs = std::filesystem;

namespace {

// The id of a process that has ended.
long GonePid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return long(child);
}

class AutosaverTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir + "/work");
        manager.SetViewFactory(&views);
        saver = std::make_unique<TAutosaver>(manager, dir + "/state");
    }
    void TearDown() override { saver.reset(); }

    TImageDoc& Open(const std::string& name) {
        const std::string path = dir + "/work/" + name;
        fs::copy_file(QUILLO_TEST_DATA "/sample.png", path, fs::copy_options::overwrite_existing);
        auto* doc = static_cast<TImageDoc*>(manager.CreateDoc(nullptr, path, OM_READ));
        EXPECT_NE(doc, nullptr);
        return *doc;
    }
    // A command's worth of change: a new top layer, recorded for undo.
    static void Edit(TImageDoc& doc, const char* name) {
        ASSERT_TRUE(doc.Checkpoint(true, "Edit"));
        auto layer = mt::Pattern(40, 30, 24, name);
        ASSERT_EQ(doc.Image.AddLayer(*layer, name), SUCCESS);
    }
    // Steps through a whole round in small slices, as the window's idle time would.
    void RunRound(size_t budget = 64 * 1024) {
        saver->StartRound();
        Finish(budget);
    }
    void Finish(size_t budget = 64 * 1024) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            const TAutosaver::TStep step = saver->Step(budget);
            if (step == TAutosaver::TStep::Idle) return;
            if (step == TAutosaver::TStep::Waiting)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        FAIL() << "the round never ended";
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir + "/state", ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // An autosave as a crashed editor would have left it.
    std::string LeaveBehind(const std::string& title, int64_t savedAt, int layers) {
        TAutosaveStore& store = saver->Store();
        const std::string slot = store.NewSlot();
        TAutosaveRecord r;
        r.Path = dir + "/work/" + title;
        r.Title = title;
        r.Type = "PNG images";
        r.Writer = TProcessId{GonePid(), 12345};
        r.SavedAt = savedAt;
        EXPECT_EQ(store.WriteRecord(slot, r), SUCCESS);
        TLayeredImage image;
        for (int i = 0; i < layers; ++i)
            image.Layers.Append(mt::Pattern(20 + i, 10, 24, std::string(1, char('A' + i))));
        EXPECT_EQ(image.SaveNative(store.ImagePath(slot).c_str()), SUCCESS);
        return slot;
    }

    const std::string dir = support::FreshTestDir("autosave");
    THeadlessMessageBoxes boxes;
    support::TUseMessageBoxes useBoxes_{boxes};
    TFakeViews views;
    TImageDocManager manager;
    std::unique_ptr<TAutosaver> saver;
};

TEST(AutosaveInterval, MinutesFromTheSettingsSecondsFromTheEnvironmentZeroIsOff) {
    EXPECT_EQ(AutosaveIntervalMs(5, nullptr), 5 * 60 * 1000);
    EXPECT_EQ(AutosaveIntervalMs(0, nullptr), 0);
    EXPECT_EQ(AutosaveIntervalMs(-2, ""), 0);
    EXPECT_EQ(AutosaveIntervalMs(5, "2"), 2000);
    EXPECT_EQ(AutosaveIntervalMs(5, "0"), 0);
}

TEST_F(AutosaverTest, ARoundWritesTheChangedDocumentsAsTheyAreAndNoCleanOne) {
    TImageDoc& edited = Open("edited.png");
    TImageDoc& clean = Open("clean.png");
    Edit(edited, "Added");
    edited.Image.Layers.At(0)->Visible = false;
    RunRound();

    const std::string slot = saver->SlotOf(edited);
    ASSERT_FALSE(slot.empty());
    EXPECT_TRUE(saver->SlotOf(clean).empty());
    EXPECT_EQ(Files(), (std::vector<std::string>{slot + ".ini", slot + ".qlx"}));
    TLayeredImage back;
    ASSERT_EQ(back.LoadNative(saver->Store().ImagePath(slot).c_str()), SUCCESS);
    EXPECT_EQ(mt::Difference(back, edited.Image), "");

    TAutosaveRecord r;
    ASSERT_TRUE(saver->Store().ReadRecord(slot, r));
    EXPECT_EQ(r.Path, edited.GetDocPath());
    EXPECT_EQ(r.Title, "edited.png");
    EXPECT_EQ(r.Type, edited.GetTemplate()->GetDescription());
    EXPECT_EQ(r.Writer, CurrentProcess());
    EXPECT_TRUE(ProcessRuns(r.Writer));
    EXPECT_TRUE(saver->Store().LeftBehind().empty())
        << "a running editor's autosave is not offered";

    // Nothing changed since: the next round leaves the file alone. A change is written.
    fs::remove(saver->Store().ImagePath(slot));
    RunRound();
    EXPECT_FALSE(fs::exists(saver->Store().ImagePath(slot)));
    Edit(edited, "Second");
    RunRound();
    ASSERT_EQ(back.LoadNative(saver->Store().ImagePath(slot).c_str()), SUCCESS);
    EXPECT_EQ(back.Count(), 3);
}

TEST_F(AutosaverTest, AnEditDuringTheCopyStartsItOverSoNoTwoStatesAreMixed) {
    TImageDoc& doc = Open("photo.png");
    Edit(doc, "First");
    saver->StartRound();
    // The first slices are copied, far from all of the photo's...
    int slices = 0;
    for (int i = 0; i < 100000 && slices < 3; ++i) {
        if (saver->Step(1024) == TAutosaver::TStep::Copying)
            ++slices;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(slices, 3);
    ASSERT_TRUE(saver->SlotOf(doc).empty()) << "the copy is not complete yet";
    // ...when a command repaints the background: same layers, same sizes, new pixels.
    ASSERT_TRUE(doc.Checkpoint(true, "Fill"));
    ASSERT_EQ(doc.Image.Layers.At(0)->FillWithAlpha(RGB(10, 200, 30) | 0xFF000000u), SUCCESS);
    Finish(1024);
    TLayeredImage back;
    ASSERT_EQ(back.LoadNative(saver->Store().ImagePath(saver->SlotOf(doc)).c_str()), SUCCESS);
    EXPECT_EQ(mt::Difference(back, doc.Image), "");
}

TEST_F(AutosaverTest, SavingOrClosingRemovesTheAutosaveEvenWithAWriteUnderWay) {
    TImageDoc& saved = Open("saved.png");
    TImageDoc& closed = Open("closed.png");
    Edit(saved, "A");
    Edit(closed, "B");
    RunRound();
    ASSERT_EQ(Files().size(), 4u);

    const std::string savedSlot = saver->SlotOf(saved);
    ASSERT_TRUE(manager.SaveDoc(saved));
    EXPECT_TRUE(saver->SlotOf(saved).empty());
    EXPECT_FALSE(fs::exists(saver->Store().ImagePath(savedSlot)));
    boxes.QueueAnswer(TMbResult::No); // "Save changes?": no, drop them
    ASSERT_TRUE(manager.CloseDoc(closed));
    EXPECT_TRUE(Files().empty());

    // Undoing back to the file's state: nothing left to recover either.
    TImageDoc& undone = Open("undone.png");
    Edit(undone, "D");
    RunRound();
    ASSERT_FALSE(Files().empty());
    ASSERT_TRUE(undone.Undo());
    RunRound();
    EXPECT_TRUE(Files().empty());

    // Closed the moment its copy went to the writer: the write lands after the close.
    TImageDoc& late = Open("late.png");
    Edit(late, "C");
    saver->StartRound();
    while (saver->SlotOf(late).empty()) ASSERT_NE(saver->Step(), TAutosaver::TStep::Idle);
    boxes.QueueAnswer(TMbResult::No);
    ASSERT_TRUE(manager.CloseDoc(late));
    saver.reset(); // the editor ends while the write is under way
    EXPECT_TRUE(Files().empty());
}

TEST_F(AutosaverTest, RecoveryOffersWhatAGoneEditorLeftAndFollowsEachAnswer) {
    const std::string later = LeaveBehind("later.png", 3000, 1);
    const std::string recover = LeaveBehind("kept.png", 1000, 3);
    const std::string discard = LeaveBehind("dropped.png", 2000, 2);
    // A running editor's autosave is its own business.
    TAutosaveRecord live;
    ASSERT_TRUE(saver->Store().ReadRecord(later, live));
    live.Writer = CurrentProcess();
    const std::string running = saver->Store().NewSlot();
    ASSERT_EQ(saver->Store().WriteRecord(running, live), SUCCESS);
    fs::copy_file(saver->Store().ImagePath(later), saver->Store().ImagePath(running));

    boxes.QueueAnswer(TMbResult::Yes);
    boxes.QueueAnswer(TMbResult::No);
    boxes.QueueAnswer(TMbResult::Cancel);
    saver->OfferRecovery();

    ASSERT_EQ(boxes.Shown.size(), 3u) << "oldest first, the running one not at all";
    EXPECT_EQ(boxes.Shown[0].Text,
              "Recover unsaved changes of kept.png (saved at " + FormatSavedAt(1000) + ")?");
    EXPECT_EQ(boxes.Shown[0].Buttons, TMbButtons::RecoverDiscardLater);
    EXPECT_NE(boxes.Shown[1].Text.find("dropped.png"), std::string::npos);

    ASSERT_EQ(manager.Documents().size(), 1u);
    auto& doc = static_cast<TImageDoc&>(*manager.Documents()[0]);
    EXPECT_EQ(doc.GetDocPath(), dir + "/work/kept.png");
    EXPECT_EQ(doc.GetTitle(), "kept.png");
    EXPECT_EQ(doc.GetTemplate()->GetDescription(), "PNG images");
    EXPECT_TRUE(doc.IsDirty());
    EXPECT_EQ(doc.Image.Count(), 3);
    EXPECT_EQ(doc.Image.Layers.At(2)->Name, "C");
    EXPECT_EQ(views.Views.size(), 1u);

    EXPECT_FALSE(fs::exists(saver->Store().ImagePath(discard)));
    EXPECT_FALSE(fs::exists(saver->Store().RecordPath(discard)));
    // Later: offered again next time. Recovered: this editor's now, and gone once saved.
    EXPECT_EQ(saver->Store().LeftBehind(), std::vector<std::string>{later});
    EXPECT_EQ(saver->SlotOf(doc), recover);
    ASSERT_TRUE(manager.SaveDoc(doc));
    EXPECT_FALSE(fs::exists(saver->Store().ImagePath(recover)));
    TLayeredImage written;
    ASSERT_EQ(written.Load((dir + "/work/kept.png").c_str()), SUCCESS);
    EXPECT_EQ(written.GetLayer(0)->Width, 20);
}

TEST_F(AutosaverTest, DamagedAutosavesAreReportedAndSetAsideNeverOpened) {
    TAutosaveStore& store = saver->Store();
    const std::string garbage = LeaveBehind("garbage.png", 1, 1);
    std::ofstream(store.ImagePath(garbage), std::ios::binary) << "QLX? not really";
    // Cut in the middle of a layer: the reader must stop at the end of what is there.
    const std::string cut = LeaveBehind("cut.png", 2, 3);
    fs::resize_file(store.ImagePath(cut), fs::file_size(store.ImagePath(cut)) / 2);
    const std::string unnamed = LeaveBehind("unnamed.png", 3, 1);
    fs::remove(store.RecordPath(unnamed));

    saver->OfferRecovery();
    EXPECT_TRUE(manager.Documents().empty());
    ASSERT_EQ(boxes.Shown.size(), 3u);
    for (const auto& shown : boxes.Shown) {
        EXPECT_EQ(shown.Icon, TMbIcon::Exclamation);
        EXPECT_NE(shown.Text.find("cannot be read"), std::string::npos) << shown.Text;
    }
    EXPECT_NE(boxes.Shown[0].Text.find(unnamed), std::string::npos) << "named by its file";
    EXPECT_NE(boxes.Shown[1].Text.find("garbage.png"), std::string::npos);
    EXPECT_TRUE(store.LeftBehind().empty());
    EXPECT_TRUE(fs::exists(store.ImagePath(cut) + ".damaged"));
}

TEST_F(AutosaverTest, SaveAllNowWritesEveryChangedDocumentAtOnce) {
    TImageDoc& a = Open("a.png");
    TImageDoc& b = Open("b.png");
    Edit(a, "A");
    Edit(b, "B");
    EXPECT_EQ(saver->SaveAllNow(), 0);
    for (TImageDoc* doc : {&a, &b}) {
        TLayeredImage back;
        ASSERT_EQ(back.LoadNative(saver->Store().ImagePath(saver->SlotOf(*doc)).c_str()), SUCCESS);
        EXPECT_EQ(mt::Difference(back, doc->Image), "");
    }
    // A folder that cannot be made is a failure, not a silent success.
    TAutosaver blocked(manager, dir + "/work/a.png/state");
    std::string failed;
    blocked.WriteFailed = [&](const std::string& title, L_INT) { failed = title; };
    EXPECT_EQ(blocked.SaveAllNow(), 2);
    EXPECT_EQ(failed, "b.png");
}

} // namespace
