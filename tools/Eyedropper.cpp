// The eyedropper: reports the colour under the pointer while it moves and, with a button
// down, makes it the foreground (left) or background (right) colour.
#include <cstdio>

#include "ImageData.h"
#include "ImageDocManager.h"
#include "ShapeTools.h"

namespace {

enum : int { kOutside = -2, kNoPalette = -1 };

// The palette index stored at (x, y) of a bitmap of 8 bits per pixel or fewer.
int StoredIndex(const BITMAPHANDLE& b, int x, int y) {
    const uint8_t* row = L_RowPtr(&b, y);
    switch (b.BitsPerPixel) {
        case 8: return row[x];
        case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
        case 2: return (row[x >> 2] >> (6 - 2 * (x & 3))) & 0x03;
        default: return (row[x >> 3] >> (7 - (x & 7))) & 0x01;
    }
}

class TEyedropperTool : public TXPaintTool {
public:
    explicit TEyedropperTool(const TPaintToolSetup& s)
        : TXPaintTool(s.Zoom, s.OriginX, s.OriginY, s.Data, s.View) {}

    bool Begin() override {
        pressed_ = true;
        return true;
    }
    // The object lives on after the release, to keep reporting the colour under the pointer.
    bool IsFinished() override {
        pressed_ = false;
        return false;
    }
    int GetKind() const override { return PAINT_EYEDROPPER; }

    bool Track(int x, int y, bool, int button) override {
        index_ = kOutside;
        if (!Data || Data->Image.Count() == 0) return true;
        TLayeredImage& image = Data->Image;
        const TLayer* bg = image.GetBackground();
        if (!bg || !bg->IsAllocated()) return true;
        // What the user sees: bring the composite up to date before reading it.
        if (image.Recompose(TPaintOptions{}, RECT{0, 0, bg->Width, bg->Height}) != SUCCESS)
            return true;
        const BITMAPHANDLE& c = image.Composite;
        if (!c.Flags.Allocated || x < 0 || y < 0 || x >= c.Width || y >= c.Height) return true;
        if (L_BitmapHasRgn(&c) > 0 && !L_IsPtInBitmapRgn(&c, y, x)) return true;
        color_ = L_GetPixelColor(&c, y, x) & 0xFFFFFFu;
        if (pressed_) {
            TImageDocManager* manager = TImageDocManager::Instance();
            if (manager && manager->ColorPicked) manager->ColorPicked(button != 0, color_);
        }
        index_ = c.BitsPerPixel <= 8 ? StoredIndex(c, x, y) : kNoPalette;
        return true;
    }

    int GetStatusText(std::string& text) override {
        text.clear();
        if (index_ == kOutside) return 0;
        char buf[64];
        int n;
        if (index_ == kNoPalette)
            n = std::snprintf(buf, sizeof buf, "RGB (%d,%d,%d)", int(GetRValue(color_)),
                              int(GetGValue(color_)), int(GetBValue(color_)));
        else
            n = std::snprintf(buf, sizeof buf, "RGB (%d,%d,%d), Index %d", int(GetRValue(color_)),
                              int(GetGValue(color_)), int(GetBValue(color_)), index_);
        text = buf;
        return n;
    }

private:
    bool pressed_ = false;
    COLORREF color_ = 0;
    int index_ = kOutside;
};

} // namespace

std::unique_ptr<TXPaintTool> MakeEyedropper(const TPaintToolSetup& s) {
    return std::make_unique<TEyedropperTool>(s);
}
