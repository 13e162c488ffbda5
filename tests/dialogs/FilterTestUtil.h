// Small pictures for the dialog tests: 32-bit bitmaps built pixel by pixel and compared,
// and clicks on what a preview pane shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "EffectsDialog.h"
#include "LeadBitmap.h"

namespace ft {

struct Px {
    int r, g, b, a = 255;
    bool operator==(const Px&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Px& p) {
    return os << "(r" << p.r << " g" << p.g << " b" << p.b << " a" << p.a << ")";
}

inline Px At(const BITMAPHANDLE& b, int x, int y) {
    const uint8_t* p = L_RowPtr(&b, y) + size_t(x) * 4;
    return Px{p[2], p[1], p[0], p[3]};
}
inline void Put(BITMAPHANDLE& b, int x, int y, Px c) {
    uint8_t* p = L_RowPtr(&b, y) + size_t(x) * 4;
    p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r), p[3] = uint8_t(c.a);
}

// A w x h 32-bit bitmap whose pixel (x, y) is paint(x, y).
inline void Make(TLeadBitmapX& b, int w, int h, const std::function<Px(int, int)>& paint,
                 int perspective = TOP_LEFT) {
    BITMAPHANDLE raw;
    ASSERT_EQ(L_CreateBitmap(&raw, TYPE_CONV, w, h, 32, ORDER_BGR, nullptr, perspective), SUCCESS);
    b.Adopt(raw);
    b.LogicalBpp = 32;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) Put(b, x, y, paint(x, y));
}

inline void SelectRect(BITMAPHANDLE& b, RECT rc) {
    ASSERT_EQ(L_SetBitmapRgnRect(&b, nullptr, &rc, L_RGN_SET), SUCCESS);
}

// Same size, depth and 32-bit pixels.
inline bool SamePixels(const BITMAPHANDLE& a, const BITMAPHANDLE& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.BitsPerPixel != b.BitsPerPixel)
        return false;
    for (int y = 0; y < a.Height; ++y)
        for (int x = 0; x < a.Width; ++x)
            if (!(At(a, x, y) == At(b, x, y))) return false;
    return true;
}

// A left (zoom in) or right click on the middle of what a pane shows.
inline bool ClickMiddle(TEffectsDialog& d, int pane, bool right) {
    const TImageControl* c = pane == IDC_ORIGINAL ? d.OriginalPane() : d.PreviewPane();
    const BITMAPHANDLE* b = c->Bitmap();
    if (!b) return false;
    return d.ClickPane(pane, right,
                       POINT{c->Offset().x + b->Width / 2, c->Offset().y + b->Height / 2});
}

} // namespace ft
