// A copy of a document's layered image taken a slice at a time, so that copying a large
// image never holds the window thread for long: the layer records (names, positions,
// regions, palettes) are copied at once, the pixel blocks a few megabytes per call, with
// the window free to handle events in between. The finished copy belongs to whoever takes
// it and can be used on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ImageData.h"

class TImageSnapshot {
public:
    // Starts a copy of data's image: everything but the pixels. The pixel blocks are
    // allocated but not yet touched. SUCCESS or a toolkit error code (out of memory).
    L_INT Begin(TImageData& data);
    // Touches every page of the pixel blocks. Fresh memory costs more in page faults than
    // the copy itself; this can run on another thread before the copying starts.
    void Prefault();
    // Copies up to `budget` bytes of pixels from data's image, which must be the one
    // Begin was given; Done() tells when all are there. ERROR_INV_PARAMETER when the image
    // was restructured since Begin (a command, undo or redo ran, or a layer changed its
    // size): the copy is then worthless and must be started again.
    L_INT CopySome(TImageData& data, size_t budget);
    bool Done() const { return layer_ >= count_; }
    // The image's change stamp when the copy began: later changes may or may not be in it.
    uint64_t Stamp() const { return stamp_; }
    // The finished copy (null before Done()).
    std::unique_ptr<TLayeredImage> Take();

private:
    bool SameLayout(const TLayeredImage& image) const;

    std::unique_ptr<TLayeredImage> copy_;
    uint64_t edits_ = 0;
    uint64_t stamp_ = 0;
    int count_ = 0;
    int layer_ = 0;     // the layer being copied
    size_t offset_ = 0; // bytes of it copied so far
};
