#include "ImageSnapshot.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The page size the prefault steps by; a smaller real page only means more faults later.
constexpr size_t kPage = 4096;

// A layer record like src with its own palette and region, and a pixel block of the same
// size whose content is not set yet.
L_INT CopyRecord(TLayer& dst, const TLayer& src) {
    static_cast<BITMAPHANDLE&>(dst) = static_cast<const BITMAPHANDLE&>(src);
    dst.Addr = nullptr;
    dst.pPalette = nullptr;
    dst.pRgn = nullptr;
    dst.Flags.Allocated = false;
    dst.LogicalBpp = src.LogicalBpp;
    dst.CopyAttributes(src);
    if (!src.IsAllocated()) {
        dst.Size = 0;
        return SUCCESS;
    }
    // Owned from here on: a failure below frees what was made.
    dst.Addr = static_cast<uint8_t*>(std::malloc(std::max<size_t>(src.Size, 1)));
    if (!dst.Addr) return ERROR_NO_MEMORY;
    dst.Flags.Allocated = true;
    if (src.pPalette) {
        dst.pPalette = new (std::nothrow) RGBQUAD[256];
        if (!dst.pPalette) return ERROR_NO_MEMORY;
        std::memcpy(dst.pPalette, src.pPalette, sizeof(RGBQUAD) * 256);
    }
    if (src.pRgn && !(dst.pRgn = L_CopyRgn(src.pRgn))) return ERROR_NO_MEMORY;
    return SUCCESS;
}

} // namespace

L_INT TImageSnapshot::Begin(TImageData& data) {
    TLayeredImage& image = data.Image;
    // Edits still held in a channel view belong in the copy.
    image.CommitChannels(false);
    copy_ = std::make_unique<TLayeredImage>();
    for (int i = 0; i < image.Count(); ++i) {
        auto layer = std::make_unique<TLayer>();
        const L_INT rc = CopyRecord(*layer, *image.Layers.At(i));
        if (rc != SUCCESS) {
            copy_.reset();
            return rc;
        }
        copy_->Layers.Append(std::move(layer));
    }
    copy_->Layers.Seek(image.GetCurrentIndex());
    edits_ = data.EditCount();
    stamp_ = data.ChangeStamp();
    count_ = image.Count();
    layer_ = 0;
    offset_ = 0;
    return SUCCESS;
}

void TImageSnapshot::Prefault() {
    if (!copy_) return;
    for (int i = 0; i < copy_->Count(); ++i) {
        TLayer& layer = *copy_->Layers.At(i);
        if (!layer.IsAllocated()) continue;
        for (size_t at = 0; at < layer.Size; at += kPage) layer.Addr[at] = 0;
    }
}

bool TImageSnapshot::SameLayout(const TLayeredImage& image) const {
    if (image.Count() != count_) return false;
    for (int i = 0; i < count_; ++i) {
        const TLayer& src = *image.Layers.At(i);
        const TLayer& dst = *copy_->Layers.At(i);
        if (src.IsAllocated() != dst.IsAllocated() || (src.IsAllocated() && src.Size != dst.Size))
            return false;
    }
    return true;
}

L_INT TImageSnapshot::CopySome(TImageData& data, size_t budget) {
    if (!copy_ || data.EditCount() != edits_ || !SameLayout(data.Image)) return ERROR_INV_PARAMETER;
    while (budget > 0 && layer_ < count_) {
        const TLayer& src = *data.Image.Layers.At(layer_);
        TLayer& dst = *copy_->Layers.At(layer_);
        if (src.IsAllocated()) {
            const size_t n = std::min(budget, src.Size - offset_);
            std::memcpy(dst.Addr + offset_, src.Addr + offset_, n);
            offset_ += n;
            budget -= n;
            if (offset_ < src.Size) break;
        }
        ++layer_;
        offset_ = 0;
    }
    return SUCCESS;
}

std::unique_ptr<TLayeredImage> TImageSnapshot::Take() {
    if (!Done()) return nullptr;
    count_ = layer_ = 0;
    return std::move(copy_);
}
