// The image data of a document: the layered image being edited, its display palette and
// the undo/redo history of whole-image snapshots.
//
// Every undoable command calls Checkpoint(true, name) before it changes anything, then
// changes Image, then RebuildPalette when colours may have changed. At most four undo
// snapshots are kept; older ones are dropped and Trimmed remembers that the image can no
// longer be brought back to the state it was opened in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "LayeredImage.h"

class TImageData {
public:
    // One snapshot: a complete layered image (without composite or channel views) and the
    // name of the command it was recorded for.
    class TUndoItem : public TLayeredImage {
    public:
        std::string Name;
    };
    using TUndoList = std::vector<std::unique_ptr<TUndoItem>>;

    static constexpr int kMaxUndo = 4;

    TImageData() = default;
    virtual ~TImageData();
    TImageData(const TImageData&) = delete;
    TImageData& operator=(const TImageData&) = delete;

    // How the command recording a step goes on to change the layers' pixels.
    enum class TWrites {
        // It may write into any layer: the snapshot copies every pixel block.
        InPlace,
        // It only gives layers new pixel blocks, moves them or leaves them alone, and calls
        // L_UnshareBitmap before writing into a block: the snapshot holds the image's own
        // blocks, which saves the copy of everything the command does not change.
        NewBlocks,
    };
    // record: snapshot the image under `name` (clears redo, keeps at most kMaxUndo).
    // !record: forget the whole history and mark the document clean (after save/revert).
    // Returns false only when the snapshot could not be made (out of memory); the caller
    // must then not go on with its change, and the history is left consistent.
    // Snapshots and the image may hold the same pixel blocks; after a checkpoint with
    // InPlace none of the image's blocks is shared, after CheckpointWritingInto none of
    // the named layers' blocks.
    bool Checkpoint(bool record, const std::string& name, TWrites writes = TWrites::InPlace);
    // Records a step for a command that writes in place only into the layers at `into`
    // (indexes; a channel view of one of them counts as the layer) and treats every other
    // layer as NewBlocks does: only those layers are copied, the rest are shared.
    bool CheckpointWritingInto(const std::string& name, const std::vector<int>& into);
    // The current layer alone: most edits, paint strokes and effects.
    bool CheckpointCurrentLayer(const std::string& name) {
        return CheckpointWritingInto(name, {Image.GetCurrentIndex()});
    }
    // Exchange the image with the newest undo (redo) snapshot; false when there is none.
    // No pixels are copied either way.
    bool Undo();
    bool Redo();
    std::string UndoName() const;
    std::string RedoName() const;
    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }
    int UndoCount() const { return int(undo_.size()); }
    int RedoCount() const { return int(redo_.size()); }
    // Oldest first; null outside the list.
    const TUndoItem* UndoItem(int index) const;
    const TUndoItem* RedoItem(int index) const;

    // Unsaved changes: history to undo, snapshots dropped, or a dirty document with an image.
    bool IsDirty() const;
    // Counts checkpoints, undos and redos: the steps that may replace or restructure the
    // layers. Work that reads the layers over several turns of the event loop starts over
    // when it moves.
    uint64_t EditCount() const { return editCount_; }
    // Changes to compare against the last autosave: every step and every invalidation.
    uint64_t ChangeStamp() const { return editCount_ + Image.Changes; }

    // The document's own dirty flag (set by new/pasted images, cleared by a save). A
    // document class routes these to its framework state.
    virtual bool DocumentDirty() const { return documentDirty_; }
    virtual void SetDocumentDirty(bool dirty) { documentDirty_ = dirty; }
    // Called after the history changed (a step recorded, undone or redone, or the history
    // reset by a save or revert), so that IsDirty may answer differently.
    virtual void HistoryChanged() {}

    // Recreates the display palette from the bitmap the display shows.
    void RebuildPalette();
    HPALETTE GetPalette() const { return palette_; }

    // The history brush paints from a copy of the image taken when it is chosen.
    L_INT TakeHistorySource();
    TLayeredImage* HistorySource() const { return historySource_.get(); }

private:
    void DeletePalette();
    // Clears LastSnapshot if it points at an item about to be deleted.
    void Forget(const TUndoItem* item);
    // Records a step whose snapshot copies the layers `copies` marks and shares the others.
    bool Record(const std::string& name, const std::vector<bool>& copies);

    HPALETTE palette_ = nullptr;

public:
    TLayeredImage Image;
    // The snapshot the history brush and stroke confinement compare against: the newest
    // undo snapshot after a checkpoint or redo, the newest redo snapshot after an undo.
    // Not owning; null when there is none.
    TUndoItem* LastSnapshot = nullptr;

private:
    std::unique_ptr<TLayeredImage> historySource_;
    TUndoList undo_;
    TUndoList redo_;

public:
    // Snapshots were dropped by the depth limit: the image differs from the file even
    // when nothing is left to undo.
    bool Trimmed = false;

private:
    bool documentDirty_ = false;
    uint64_t editCount_ = 0;
};

// Texts and states of the Edit menu's Undo and Redo items.
struct TMenuItemState {
    std::string text;
    bool enabled;
};
TMenuItemState UndoMenuItem(const TImageData& data);
TMenuItemState RedoMenuItem(const TImageData& data);
