// The undo history: what each step restores, the four-step limit, what stays dirty, and
// that undo and redo move layers instead of copying pixels.
#include <algorithm>
#include <cstring>
#include <vector>

#include "ImageData.h"
#include "model/ModelTestUtil.h"

using namespace mt;

namespace {

// Background plus two shaped, placed layers; the middle one is current.
void Build(TLayeredImage& img) {
    img.Layers.Append(Pattern(16, 12, 24, "bg"));
    img.Layers.Append(At(Pattern(8, 6, 32, "A"), -3, 4));
    auto b = At(Pattern(9, 7, 24, "B"), 5, 1);
    Shape(*b, RECT{1, 1, 8, 6});
    img.Layers.Append(std::move(b));
    img.Layers.Seek(1);
}

// One recorded change: the current layer's first pixel gets the step number in blue.
void Change(TImageData& d, int step) {
    ASSERT_TRUE(d.Checkpoint(true, "Step " + std::to_string(step)));
    Put(*d.Image.Layers.Current(), 0, 0, Px{step, 0, 0, 255});
}
int Step(TImageData& d) { return At(*d.Image.Layers.Current(), 0, 0).b; }

std::vector<const void*> Pixels(const TLayeredImage& img) {
    std::vector<const void*> out;
    for (int i = 0; i < img.Count(); ++i) out.push_back(img.Layers.At(i)->Addr);
    return out;
}

TEST(History, HistoryBrushSourceIsAFreshCopy) {
    TImageData d;
    Build(d.Image);
    ASSERT_EQ(d.TakeHistorySource(), SUCCESS);
    TLayeredImage* first = d.HistorySource();
    ASSERT_NE(first, nullptr);
    Put(*d.Image.Layers.At(0), 0, 0, Px{9, 9, 9, 255});
    EXPECT_NE(At(*first->Layers.At(0), 0, 0), (Px{9, 9, 9, 255}));
    ASSERT_EQ(d.TakeHistorySource(), SUCCESS);
    EXPECT_EQ(At(*d.HistorySource()->Layers.At(0), 0, 0), (Px{9, 9, 9, 255}));
}

TEST(History, FiveChangesKeepFourStepsAndTheImageStaysDirty) {
    TImageData d;
    Build(d.Image);
    for (int step = 1; step <= 5; ++step) Change(d, step);
    EXPECT_EQ(d.UndoCount(), 4);
    EXPECT_TRUE(d.Trimmed);
    EXPECT_EQ(d.UndoName(), "Step 5");
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(d.Undo());
    EXPECT_FALSE(d.Undo());
    EXPECT_EQ(Step(d), 1); // the state after the first change; the original is gone
    EXPECT_TRUE(d.IsDirty());
    EXPECT_EQ(d.RedoCount(), 4);
    EXPECT_EQ(d.RedoName(), "Step 2");
    // Redoing everything gives back the last state without growing past the limit.
    while (d.Redo()) {}
    EXPECT_EQ(Step(d), 5);
    EXPECT_EQ(d.UndoCount(), 4);
}

TEST(History, EditMenuNamesTheStepsAndANewChangeEndsRedo) {
    TImageData d;
    Build(d.Image);
    EXPECT_EQ(UndoMenuItem(d).text, "Undo");
    EXPECT_FALSE(UndoMenuItem(d).enabled);
    EXPECT_EQ(RedoMenuItem(d).text, "Redo");
    Change(d, 1);
    Change(d, 2);
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(UndoMenuItem(d).text, "&Undo Step 1\tCtrl+Z");
    EXPECT_EQ(RedoMenuItem(d).text, "&Redo Step 2\tCtrl+Y");
    EXPECT_TRUE(RedoMenuItem(d).enabled);
    EXPECT_EQ(Step(d), 1);
    EXPECT_EQ(d.LastSnapshot, d.RedoItem(0));
    Change(d, 3);
    EXPECT_FALSE(RedoMenuItem(d).enabled);
    EXPECT_FALSE(d.Redo());
    EXPECT_EQ(d.RedoName(), "");
    EXPECT_EQ(d.LastSnapshot, d.UndoItem(d.UndoCount() - 1));
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(Step(d), 1);
}

TEST(History, UndoAndRedoMoveLayersWithoutCopyingPixels) {
    TImageData d;
    Build(d.Image);
    d.Image.Layers.Seek(2);
    ASSERT_TRUE(d.Checkpoint(true, "Remove 'B'"));
    const auto before = Pixels(d.Image);
    const auto snapshot = Pixels(*d.UndoItem(0));
    ASSERT_TRUE(d.Image.RemoveCurrent());
    d.Image.Layers.At(1)->Name = "renamed";
    const auto after = Pixels(d.Image);

    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(Pixels(d.Image), snapshot); // the snapshot's own bitmaps, not copies
    EXPECT_EQ(Pixels(*d.RedoItem(0)), after);
    ASSERT_EQ(d.Image.Count(), 3);
    EXPECT_EQ(d.Image.GetCurrentIndex(), 2);
    EXPECT_EQ(d.Image.Layers.At(1)->Name, "A");
    EXPECT_NE(d.Image.Layers.At(2)->pRgn, nullptr);

    ASSERT_TRUE(d.Redo());
    EXPECT_EQ(Pixels(d.Image), after);
    EXPECT_EQ(Pixels(*d.UndoItem(0)), snapshot);
    EXPECT_EQ(d.Image.Count(), 2);
    EXPECT_EQ(d.Image.GetCurrentIndex(), 1);
    EXPECT_EQ(d.Image.Layers.At(1)->Name, "renamed");
    EXPECT_NE(before, snapshot); // the checkpoint itself made deep copies
}

// A document that keeps its dirty flag elsewhere, as the framework document does.
struct RoutedDirty : TImageData {
    bool flag = false;
    bool DocumentDirty() const override { return flag; }
    void SetDocumentDirty(bool dirty) override { flag = dirty; }
};

TEST(History, EmptyImagesRecordNothingAndAResetForgetsEverything) {
    RoutedDirty d;
    d.flag = true;
    EXPECT_TRUE(d.Checkpoint(true, "Crop"));
    EXPECT_EQ(d.UndoCount(), 0);
    EXPECT_FALSE(d.IsDirty()); // nothing to lose without layers

    Build(d.Image);
    EXPECT_TRUE(d.IsDirty()); // a new image not yet saved
    d.flag = false;
    for (int step = 1; step <= 6; ++step) Change(d, step);
    ASSERT_TRUE(d.Undo());
    d.flag = true;
    ASSERT_TRUE(d.Checkpoint(false, ""));
    EXPECT_EQ((std::vector<int>{d.UndoCount(), d.RedoCount(), d.Trimmed, d.flag, d.IsDirty()}),
              (std::vector<int>{0, 0, false, false, false}));
    EXPECT_EQ(d.LastSnapshot, nullptr);
    EXPECT_EQ(Step(d), 5); // the image itself is kept
}

TEST(History, AFailedSnapshotRefusesTheChangeAndLeavesNoDanglingSnapshot) {
    TImageData d;
    Build(d.Image);
    Change(d, 1);
    {
        ScopedLimits tiny(L_LIMITS{L_GetLimits().MaxSide, 100}); // the background's copy fails
        EXPECT_FALSE(d.Checkpoint(true, "Too big"));
    }
    EXPECT_EQ(d.UndoCount(), 1);
    EXPECT_EQ(d.UndoName(), "Step 1");
    EXPECT_EQ(d.LastSnapshot, d.UndoItem(0));
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(Step(d), At(*Pattern(16, 12), 0, 0).b); // back to the original first pixel
}

TEST(History, PaletteFollowsTheBackgroundThroughUndo) {
    TImageData d;
    Build(d.Image);
    ASSERT_EQ(d.Image.ChangeColorDepth(8, CRF_OPTIMIZEDPALETTE, nullptr, 0), SUCCESS);
    d.RebuildPalette();
    ASSERT_NE(d.GetPalette(), nullptr);
    RGBQUAD* pal = d.Image.Layers.At(0)->pPalette;
    EXPECT_EQ(std::memcmp(d.GetPalette()->Entries, pal, sizeof(RGBQUAD) * 256), 0);
    const RGBQUAD first = pal[0];
    ASSERT_TRUE(d.Checkpoint(true, "Edit Palette"));
    EXPECT_EQ(d.GetPalette(), nullptr);
    d.Image.Layers.At(0)->pPalette[0] = RGBQUAD{1, 2, 3, 0}; // the other layers keep theirs
    d.RebuildPalette();
    ASSERT_NE(d.GetPalette(), nullptr);
    EXPECT_EQ(d.GetPalette()->Entries[0].rgbGreen, 2);
    ASSERT_TRUE(d.Undo());
    ASSERT_NE(d.GetPalette(), nullptr);
    EXPECT_EQ(std::memcmp(&d.GetPalette()->Entries[0], &first, 3), 0);
    d.Image.Layers.Clear();
    d.RebuildPalette();
    EXPECT_EQ(d.GetPalette(), nullptr);
}

TEST(History, SnapshotsAtTheLimitReuseDroppedBlocksAndStillMatchTheImage) {
    TImageData d;
    Build(d.Image);
    for (int step = 1; step <= 4; ++step) Change(d, step);
    const auto dropped = Pixels(*d.UndoItem(0));
    // Attributes, region and pixels all differ from what the reused blocks held.
    TLayer& b = *d.Image.Layers.At(2);
    b.Name = "moved";
    b.X = -40;
    b.Visible = false;
    b.Transform.RotateAngle = 0.5L;
    L_FreeBitmapRgn(&b); // a region that went away must not come back from a reused block
    Shape(*d.Image.Layers.At(1), RECT{1, 1, 2, 2});
    ASSERT_TRUE(d.Checkpoint(true, "Step 5"));
    ASSERT_EQ(Difference(*d.UndoItem(3), d.Image), "");
    const auto reused = Pixels(*d.UndoItem(3));
    EXPECT_NE(std::find(dropped.begin(), dropped.end(), reused[0]), dropped.end());
    // Palette images: the blocks no longer fit at first, then palettes are reused too.
    ASSERT_EQ(d.Image.ChangeColorDepth(8, CRF_OPTIMIZEDPALETTE, nullptr, 0), SUCCESS);
    for (int step = 6; step <= 11; ++step) {
        ASSERT_TRUE(d.Checkpoint(true, "Palette"));
        ASSERT_EQ(Difference(*d.UndoItem(3), d.Image), "");
        d.Image.Layers.At(0)->pPalette[step] = RGBQUAD{uint8_t(step), 1, 2, 0};
        L_RowPtr(d.Image.Layers.At(1), 1)[1] = uint8_t(step);
        d.Image.Layers.Seek(step % 3);
    }
}

// Trying a command again after its undo: the new snapshot copies into the block the undone
// result held instead of fresh pages, never into one it shares with the image (the layer
// below has a block of the same size), and undo still gives back the image before both.
TEST(History, AChangeAfterAnUndoReusesTheUndoneBlockAndUndoesExactly) {
    TImageData d;
    d.Image.Layers.Append(Pattern(8, 6, 24, "bg"));
    d.Image.Layers.Append(Pattern(8, 6, 24, "A"));
    d.Image.Layers.Seek(1);
    TLayeredImage original;
    ASSERT_EQ(original.CopyFrom(d.Image), SUCCESS);
    ASSERT_TRUE(d.CheckpointCurrentLayer("One"));
    Put(*d.Image.Layers.Current(), 0, 0, Px{1, 0, 0, 255});
    const void* undone = d.Image.Layers.Current()->Addr;
    ASSERT_TRUE(d.Undo());
    ASSERT_TRUE(d.CheckpointCurrentLayer("Two"));
    EXPECT_EQ(d.UndoItem(0)->Layers.At(1)->Addr, undone);
    Put(*d.Image.Layers.Current(), 0, 0, Px{2, 0, 0, 255});
    ASSERT_EQ(Difference(*d.UndoItem(0), original), "");
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(Difference(d.Image, original), "");
    ASSERT_TRUE(d.Redo());
    EXPECT_EQ(Step(d), 2);
}

} // namespace
