// Small pictures for the filter tests: 32-bit bitmaps built pixel by pixel.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

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

} // namespace ft
