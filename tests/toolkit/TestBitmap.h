// The bitmap owner and pixel readers the toolkit tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>

#include "Toolkit.h"

namespace tb {

// Created by the test (or filled in by the call under test) and freed when the test ends;
// copies are deep.
struct Bmp {
    BITMAPHANDLE b;
    Bmp() = default;
    Bmp(int w, int h, int bpp, const RGBQUAD* pal = nullptr, int view = TOP_LEFT) {
        EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, w, h, bpp, ORDER_BGR, pal, view), SUCCESS);
    }
    Bmp(int w, int h, int bpp, int view, const RGBQUAD* pal = nullptr)
        : Bmp(w, h, bpp, pal, view) {}
    Bmp(const Bmp& o) { EXPECT_EQ(L_CopyBitmap(&b, &o.b), SUCCESS); }
    Bmp(Bmp&& o) noexcept : b(std::exchange(o.b, BITMAPHANDLE{})) {}
    Bmp& operator=(const Bmp&) = delete;
    ~Bmp() { L_FreeBitmap(&b); }
    // The same bytes in every row.
    bool Same(const Bmp& o) const {
        for (int y = 0; y < b.Height; ++y)
            if (std::memcmp(L_RowPtr(&b, y), L_RowPtr(&o.b, y), size_t(b.BytesPerLine)) != 0)
                return false;
        return true;
    }
};

// Writes a pixel as stored: the palette index, or the pixel's bytes little-endian.
inline void PutRaw(BITMAPHANDLE& b, int x, int y, uint32_t v) {
    uint8_t* row = L_RowPtr(&b, y);
    if (b.BitsPerPixel == 1)
        row[x >> 3] = uint8_t((row[x >> 3] & ~(0x80u >> (x & 7))) | ((v & 1u) << (7 - (x & 7))));
    else if (b.BitsPerPixel == 4)
        row[x >> 1] = uint8_t((x & 1) ? (row[x >> 1] & 0xF0u) | (v & 15u)
                                      : (row[x >> 1] & 0x0Fu) | ((v & 15u) << 4));
    else
        for (int i = 0; i < b.BitsPerPixel / 8; ++i)
            row[x * (b.BitsPerPixel / 8) + i] = uint8_t(v >> (8 * i));
}

// A pixel as stored: the palette index, or the pixel's bytes little-endian above 8 bits.
inline uint32_t Raw(const BITMAPHANDLE& b, int x, int y) {
    const uint8_t* row = L_RowPtr(&b, y);
    if (b.BitsPerPixel == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    if (b.BitsPerPixel == 4) return (x & 1) ? row[x >> 1] & 15u : row[x >> 1] >> 4;
    uint32_t v = 0;
    std::memcpy(&v, row + size_t(x) * size_t(b.BitsPerPixel / 8), size_t(b.BitsPerPixel / 8));
    return v;
}

inline void Randomize(BITMAPHANDLE& b, unsigned seed) {
    std::mt19937 rng(seed);
    for (size_t i = 0; i < b.Size; ++i) b.Addr[i] = uint8_t(rng());
}

} // namespace tb
