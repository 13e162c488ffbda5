// Documents and selections for the view tests, built the way the program builds them.
#pragma once

#include <cstring>
#include <memory>
#include <string>

#include "ImageView.h"
#include "model/ModelTestUtil.h"

namespace vt {

// A document holding `layers` (the first is the background), the last one current.
template <class... L>
std::unique_ptr<TImageDoc> DocOf(L... layers) {
    auto doc = std::make_unique<TImageDoc>();
    (doc->Image.Layers.Append(std::move(layers)), ...);
    doc->Image.Layers.Seek(doc->Image.Count() - 1);
    return doc;
}

// An 8-bit palette layer (nullptr: the default palette) of one palette index throughout.
inline std::unique_ptr<TLayer> Palette8(int w, int h, const RGBQUAD* pal, uint8_t index,
                                        std::string name = "L") {
    BITMAPHANDLE b;
    EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, w, h, 8, ORDER_BGR, pal, TOP_LEFT), SUCCESS);
    auto l = std::make_unique<TLayer>();
    l->Adopt(b);
    for (int y = 0; y < h; ++y) std::memset(L_RowPtr(l.get(), y), index, size_t(w));
    l->LogicalBpp = 8;
    l->Name = std::move(name);
    return l;
}

// Selects the rectangle `r` of the canvas and clips it to the current layer, as the tools
// leave a selection.
inline void Select(TImageView& view, const TLayer& background, RECT r) {
    BITMAPHANDLE b;
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, background.Width, background.Height, 1, ORDER_BGR,
                             nullptr, TOP_LEFT),
              SUCCESS);
    view.SelectionMask.Free();
    view.SelectionMask.Adopt(b);
    for (int y = 0; y < background.Height; ++y) {
        uint8_t* row = L_RowPtr(&view.SelectionMask, y);
        std::memset(row, 0, size_t(view.SelectionMask.BytesPerLine));
        for (int x = r.left; x < r.right; ++x)
            if (y >= r.top && y < r.bottom) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    view.HasSelection = true;
    view.ClipSelectionToLayer();
}

} // namespace vt
