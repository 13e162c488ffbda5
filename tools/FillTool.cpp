// The fill tool: at the release, the pixels of similar colour around the point (or, with
// "Color Replace", all of them in the layer) take the paint colour.
#include <cstring>

#include "Effects.h"
#include "ImageData.h"
#include "ImageView.h"
#include "ShapeTools.h"
#include "ToolOptions.h"

namespace {

class TFillPaintTool : public TXPaintTool {
public:
    explicit TFillPaintTool(const TPaintToolSetup& s)
        : TXPaintTool(s.Zoom, s.OriginX, s.OriginY, s.Data, s.View),
          color_(s.Foreground),
          tolerance_(s.Options ? s.Options->Tolerance : 10),
          replace_(s.Options ? s.Options->ColorReplace != 0 : true) {}

    // The fill lands where the button is let go.
    bool Track(int x, int y, bool, int) override {
        last_ = POINT{x, y};
        return true;
    }
    int GetKind() const override { return PAINT_FILL; }
    bool IsFinished() override {
        if (Data && Data->Image.Count() > 0) Fill();
        return true;
    }

private:
    void Fill() {
        TLayer* layer = Data->Image.GetCurrentLayer();
        if (!layer || !layer->IsAllocated()) return;
        const int x = last_.x - layer->X, y = last_.y - layer->Y;
        // Let go outside the layer: nothing to fill (the step recorded at the press stays).
        if (x < 0 || y < 0 || x >= layer->Width || y >= layer->Height) return;
        TLeadBitmap mask;
        BITMAPHANDLE bm;
        if (L_CreateBitmap(&bm, TYPE_CONV, layer->Width, layer->Height, 1, ORDER_BGR, nullptr,
                           TOP_LEFT) != SUCCESS)
            return;
        mask.Adopt(bm);
        for (int row = 0; row < mask.Height; ++row)
            std::memset(L_RowPtr(&mask, row), 0, size_t(mask.BytesPerLine));
        RECT marked{};
        if (MagicWandBitmap(layer, &mask, tolerance_ * 0.01, x, y, &marked,
                            replace_ ? MAGICWAND_EVERYWHERE : MAGICWAND_CONNECTED) != SUCCESS)
            return;
        if (Lx_MaskFillBitmap(layer, &mask, color_) != SUCCESS) return;
        if (View) View->InvalidateLayer(*layer);
    }

    COLORREF color_;
    int tolerance_;
    bool replace_;
    POINT last_{kUnsetPoint, 0};
};

} // namespace

std::unique_ptr<TXPaintTool> MakeFillTool(const TPaintToolSetup& s) {
    return std::make_unique<TFillPaintTool>(s);
}
