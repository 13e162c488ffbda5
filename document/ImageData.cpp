#include "ImageData.h"

#include <cstring>

namespace {

// Copies src into a layer of a discarded snapshot whose pixel block has the same layout,
// reusing that block: fresh allocations of photo-sized blocks cost more in page faults
// than the copy itself. False (dst untouched) when the layouts differ.
bool CopyIntoRecycled(TLayer& dst, const TLayer& src) {
    if (!dst.IsAllocated() || !dst.Owned || !src.IsAllocated() || L_IsBitmapShared(&dst))
        return false;
    if (dst.Size != src.Size || dst.BitsPerPixel != src.BitsPerPixel ||
        (dst.pPalette == nullptr) != (src.pPalette == nullptr))
        return false;
    HRGN region = nullptr;
    if (src.pRgn && !(region = L_CopyRgn(src.pRgn))) return false;
    uint8_t* const pixels = dst.Addr;
    RGBQUAD* const palette = dst.pPalette;
    if (dst.pRgn) L_DeleteRgn(dst.pRgn);
    // Every plain field of the record comes from src; the owned blocks stay dst's.
    static_cast<BITMAPHANDLE&>(dst) = static_cast<const BITMAPHANDLE&>(src);
    dst.Addr = pixels;
    dst.pPalette = palette;
    dst.pRgn = region;
    std::memcpy(pixels, src.Addr, src.Size);
    if (palette) std::memcpy(palette, src.pPalette, sizeof(RGBQUAD) * 256);
    dst.GrayState = -1;
    dst.LogicalBpp = src.LogicalBpp;
    dst.CopyAttributes(src);
    return true;
}

// A layer record like src holding src's pixel block (the record's palette and region are
// its own).
L_INT ShareLayer(TLayer& dst, const TLayer& src) {
    if (!src.IsAllocated()) return dst.CopyLayer(src);
    BITMAPHANDLE shared;
    if (const L_INT rc = L_ShareBitmap(&shared, &src); rc != SUCCESS) return rc;
    dst.Adopt(shared);
    dst.LogicalBpp = src.LogicalBpp;
    dst.CopyAttributes(src);
    return SUCCESS;
}

// A snapshot of every layer of `image`. Blocks the command will not write into are shared;
// the others (those `copies` marks) are copied, into blocks of the spares where they fit. A block of the image that
// older snapshots hold as well stays theirs and the image takes the copy instead, so that
// writing into the image never changes a snapshot.
L_INT CopyImage(TLayeredImage& copy, TLayeredImage& image,
                const std::vector<TLayeredImage*>& spares, const std::vector<bool>& copies) {
    for (int i = 0; i < image.Count(); ++i) {
        TLayer& src = *image.Layers.At(i);
        const bool share = !copies[size_t(i)];
        std::unique_ptr<TLayer> layer;
        if (!share && L_IsBitmapShared(&src)) {
            layer = std::make_unique<TLayer>();
            L_INT rc = ShareLayer(*layer, src);
            TLayer* recycled = nullptr;
            for (TLayeredImage* spare : spares)
                for (int j = 0; j < spare->Count() && !recycled; ++j)
                    if (spare->Layers.At(j)->Size == src.Size) recycled = spare->Layers.At(j);
            if (rc == SUCCESS) rc = L_UnshareBitmap(&src, recycled);
            if (rc != SUCCESS) return rc;
        } else if (share) {
            layer = std::make_unique<TLayer>();
            if (const L_INT rc = ShareLayer(*layer, src); rc != SUCCESS) return rc;
        } else {
            for (TLayeredImage* spare : spares)
                for (int j = 0; j < spare->Count() && !layer; ++j)
                    if (CopyIntoRecycled(*spare->Layers.At(j), src)) layer = spare->Layers.Take(j);
            if (!layer) {
                layer = std::make_unique<TLayer>();
                if (const L_INT rc = layer->CopyLayer(src); rc != SUCCESS) return rc;
            }
        }
        copy.Layers.Append(std::move(layer));
    }
    copy.Layers.Seek(image.GetCurrentIndex());
    return SUCCESS;
}

} // namespace

TImageData::~TImageData() {
    // The snapshots go with the lists; the palette handle is ours to free.
    LastSnapshot = nullptr;
    DeletePalette();
}

void TImageData::DeletePalette() {
    if (palette_) L_DeletePaintPalette(palette_);
    palette_ = nullptr;
}

void TImageData::Forget(const TUndoItem* item) {
    if (LastSnapshot == item) LastSnapshot = nullptr;
}

bool TImageData::Checkpoint(bool record, const std::string& name, TWrites writes) {
    if (!record) {
        ++editCount_;
        // A reset drops everything even for an image without layers: stale snapshots of a
        // closed image must not keep the document dirty or be undone into it.
        Image.CommitChannels(true);
        LastSnapshot = nullptr;
        undo_.clear();
        redo_.clear();
        Trimmed = false;
        SetDocumentDirty(false);
        HistoryChanged();
        return true;
    }
    return Record(name, std::vector<bool>(size_t(Image.Count()), writes == TWrites::InPlace));
}

bool TImageData::CheckpointWritingInto(const std::string& name, const std::vector<int>& into) {
    std::vector<bool> copies(size_t(Image.Count()), false);
    for (const int i : into)
        if (i >= 0 && i < Image.Count()) copies[size_t(i)] = true;
    return Record(name, copies);
}

bool TImageData::Record(const std::string& name, const std::vector<bool>& copies) {
    ++editCount_;
    if (Image.Count() == 0) return true;

    // Snapshots must show what the user sees, including edits still held in a channel
    // view; the views stay open so the edit can go on.
    Image.CommitChannels(false);

    // A new change makes the undone states unreachable. Dropping them (and the oldest undo
    // step) before copying keeps the peak memory near the limit; the state undone last and
    // the oldest step lend their pixel blocks to the new snapshot. Blocks that fit need no
    // fresh pages, whose faults cost more than the copy (a command tried again after its
    // undo, or any change once the history is full).
    LastSnapshot = nullptr;
    std::unique_ptr<TUndoItem> undone;
    if (!redo_.empty()) undone = std::move(redo_.back());
    redo_.clear();
    std::unique_ptr<TUndoItem> spare;
    while (int(undo_.size()) >= kMaxUndo) {
        spare = std::move(undo_.front());
        undo_.erase(undo_.begin());
        Trimmed = true;
    }

    auto item = std::make_unique<TUndoItem>();
    std::vector<TLayeredImage*> spares;
    for (TUndoItem* from : {undone.get(), spare.get()})
        if (from) spares.push_back(from);
    if (CopyImage(*item, Image, spares, copies) != SUCCESS) {
        // A partial snapshot would "undo" into a damaged image; refuse the change instead.
        LastSnapshot = undo_.empty() ? nullptr : undo_.back().get();
        return false;
    }
    item->Name = name;
    LastSnapshot = item.get();
    undo_.push_back(std::move(item));
    // The caller changes the pixels next and rebuilds the palette afterwards.
    DeletePalette();
    HistoryChanged();
    return true;
}

bool TImageData::Undo() {
    if (undo_.empty()) return false;
    ++editCount_;
    std::unique_ptr<TUndoItem> present = std::make_unique<TUndoItem>();
    // Swap commits the views of both sides, then exchanges the layer lists: the present
    // state moves into the new snapshot without a pixel being copied.
    Image.Swap(*present);
    std::unique_ptr<TUndoItem> back = std::move(undo_.back());
    undo_.pop_back();
    present->Name = back->Name;
    Image.Swap(*back);
    Forget(back.get());
    LastSnapshot = present.get();
    redo_.push_back(std::move(present));
    RebuildPalette();
    HistoryChanged();
    return true;
}

bool TImageData::Redo() {
    if (redo_.empty()) return false;
    ++editCount_;
    std::unique_ptr<TUndoItem> present = std::make_unique<TUndoItem>();
    Image.Swap(*present);
    std::unique_ptr<TUndoItem> back = std::move(redo_.back());
    redo_.pop_back();
    present->Name = back->Name;
    Image.Swap(*back);
    Forget(back.get());
    // No depth limit here: redo only refills steps that undo took out.
    LastSnapshot = present.get();
    undo_.push_back(std::move(present));
    RebuildPalette();
    HistoryChanged();
    return true;
}

std::string TImageData::UndoName() const {
    return undo_.empty() ? std::string() : undo_.back()->Name;
}
std::string TImageData::RedoName() const {
    return redo_.empty() ? std::string() : redo_.back()->Name;
}

const TImageData::TUndoItem* TImageData::UndoItem(int index) const {
    return index >= 0 && index < UndoCount() ? undo_[size_t(index)].get() : nullptr;
}

const TImageData::TUndoItem* TImageData::RedoItem(int index) const {
    return index >= 0 && index < RedoCount() ? redo_[size_t(index)].get() : nullptr;
}

bool TImageData::IsDirty() const {
    return !undo_.empty() || Trimmed || (Image.Count() > 0 && DocumentDirty());
}

void TImageData::RebuildPalette() {
    DeletePalette();
    if (Image.Count() == 0) return;
    // The display shows the background, or its channel view while a channel is edited.
    if (TLayer* shown = Image.GetBackground(); shown && shown->IsAllocated())
        palette_ = L_CreatePaintPalette(nullptr, shown);
}

L_INT TImageData::TakeHistorySource() {
    auto copy = std::make_unique<TLayeredImage>();
    const L_INT rc = copy->CopyFrom(Image);
    // A failed copy would paint back a damaged image; keep no source instead.
    historySource_ = rc == SUCCESS ? std::move(copy) : nullptr;
    return rc;
}

TMenuItemState UndoMenuItem(const TImageData& data) {
    if (!data.CanUndo()) return {"Undo", false};
    return {"&Undo " + data.UndoName() + "\tCtrl+Z", true};
}

TMenuItemState RedoMenuItem(const TImageData& data) {
    if (!data.CanRedo()) return {"Redo", false};
    return {"&Redo " + data.RedoName() + "\tCtrl+Y", true};
}
