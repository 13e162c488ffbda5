// Pixel access for code that works on toolkit bitmaps directly (the toolkit itself and the
// effects library): colours of single pixels at every depth, the nearest palette entry, and
// the spans of a bitmap's region.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "Toolkit.h"

// One run of a region: pixels [x0, x1) of row y.
struct RgnSpan {
    int y;
    int x0; // first pixel
    int x1; // one past the last pixel
};

namespace lt {

// The spans of a region, sorted by row, then by column; spans of a row never overlap or
// touch. Empty for a null region.
std::span<const RgnSpan> RegionSpans(HRGN rgn);


struct BGRA {
    uint8_t b = 0, g = 0, r = 0, a = 255;
    bool operator==(const BGRA&) const = default;
};

inline bool IsValidBpp(int bpp) {
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}
inline bool IsAllocated(const BITMAPHANDLE* b) { return b && b->Flags.Allocated && b->Addr; }

inline unsigned ReadIndex(const uint8_t* row, int x, int bpp) {
    switch (bpp) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
        case 4: return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
        default: return row[x];
    }
}

inline void WriteIndex(uint8_t* row, int x, int bpp, unsigned v) {
    switch (bpp) {
        case 1: {
            uint8_t bit = uint8_t(0x80u >> (x & 7));
            if (v & 1)
                row[x >> 3] |= bit;
            else
                row[x >> 3] &= uint8_t(~bit);
            break;
        }
        case 4:
            if (x & 1)
                row[x >> 1] = uint8_t((row[x >> 1] & 0xF0u) | (v & 0x0Fu));
            else
                row[x >> 1] = uint8_t((row[x >> 1] & 0x0Fu) | ((v & 0x0Fu) << 4));
            break;
        default: row[x] = uint8_t(v); break;
    }
}

// 16-bit pixels: x1r5g5b5 in a little-endian word, the top bit an on/off alpha.
inline BGRA Unpack16(uint16_t v) {
    auto expand = [](unsigned c) { return uint8_t((c << 3) | (c >> 2)); };
    return BGRA{expand(v & 31u), expand((v >> 5) & 31u), expand((v >> 10) & 31u),
                uint8_t((v & 0x8000u) ? 255 : 0)};
}
inline uint16_t Pack16(BGRA c) {
    return uint16_t((c.b >> 3) | ((c.g >> 3) << 5) | ((c.r >> 3) << 10) |
                    (c.a >= 128 ? 0x8000u : 0u));
}

// The colour of pixel x of a row (palette resolved). Alpha is 255 below 32 bits
// except for 16-bit pixels, which carry one alpha bit.
inline BGRA ReadPixel(const BITMAPHANDLE* b, const uint8_t* row, int x) {
    switch (b->BitsPerPixel) {
        case 32: return BGRA{row[x * 4], row[x * 4 + 1], row[x * 4 + 2], row[x * 4 + 3]};
        case 24: return BGRA{row[x * 3], row[x * 3 + 1], row[x * 3 + 2], 255};
        case 16: return Unpack16(uint16_t(row[x * 2] | (row[x * 2 + 1] << 8)));
        default: {
            unsigned i = ReadIndex(row, x, b->BitsPerPixel);
            if (b->pPalette && i < (1u << b->BitsPerPixel)) {
                const RGBQUAD& q = b->pPalette[i];
                return BGRA{q.rgbBlue, q.rgbGreen, q.rgbRed, 255};
            }
            return BGRA{0, 0, 0, 255};
        }
    }
}

// Nearest palette entry by squared RGB distance.
int NearestPaletteIndex(const RGBQUAD* pal, int count, int r, int g, int bl);

// Nearest palette entries for colours, remembered in a small direct-mapped table: images
// map few distinct colours onto a palette over and over, and a full search of the palette
// per pixel would dominate.
class NearestCache {
public:
    NearestCache(const RGBQUAD* pal, int count)
        : pal_(pal), count_(count), keys_(kSize, 0), vals_(kSize, 0) {}
    unsigned Get(uint8_t r, uint8_t g, uint8_t b) {
        const uint32_t key = 0x01000000u | uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
        const size_t h = ((key * 2654435761u) >> 20) & (kSize - 1);
        if (keys_[h] != key) {
            keys_[h] = key;
            vals_[h] = uint8_t(NearestPaletteIndex(pal_, count_, r, g, b));
        }
        return vals_[h];
    }

private:
    static constexpr size_t kSize = 4096;
    const RGBQUAD* pal_;
    int count_;
    std::vector<uint32_t> keys_;
    std::vector<uint8_t> vals_;
};

// Writes a colour into pixel x of a row. At 8 bits or less the nearest palette entry is
// used; at 32 bits the alpha byte is written only when keepAlpha is false.
inline void WritePixel(const BITMAPHANDLE* b, uint8_t* row, int x, BGRA c, bool keepAlpha) {
    switch (b->BitsPerPixel) {
        case 32:
            row[x * 4] = c.b;
            row[x * 4 + 1] = c.g;
            row[x * 4 + 2] = c.r;
            if (!keepAlpha) row[x * 4 + 3] = c.a;
            break;
        case 24:
            row[x * 3] = c.b;
            row[x * 3 + 1] = c.g;
            row[x * 3 + 2] = c.r;
            break;
        case 16: {
            if (keepAlpha) c.a = (row[x * 2 + 1] & 0x80) ? 255 : 0;
            uint16_t v = Pack16(c);
            row[x * 2] = uint8_t(v);
            row[x * 2 + 1] = uint8_t(v >> 8);
            break;
        }
        default:
            WriteIndex(row, x, b->BitsPerPixel,
                       unsigned(NearestPaletteIndex(b->pPalette, int(1u << b->BitsPerPixel), c.r,
                                                    c.g, c.b)));
            break;
    }
}

// Calls f(y, x0, x1) for every run of pixels [x0, x1) of row y that lies inside the
// bitmap, inside `clip` (bitmap coordinates) and inside the bitmap's region if it has one.
template <class F>
void ForEachSpan(const BITMAPHANDLE* b, RECT clip, F&& f) {
    clip.left = std::max(clip.left, 0);
    clip.top = std::max(clip.top, 0);
    clip.right = std::min(clip.right, b->Width);
    clip.bottom = std::min(clip.bottom, b->Height);
    if (clip.left >= clip.right || clip.top >= clip.bottom) return;
    if (!b->pRgn) {
        for (int y = clip.top; y < clip.bottom; ++y) f(y, clip.left, clip.right);
        return;
    }
    for (const RgnSpan& s : RegionSpans(b->pRgn)) {
        if (s.y < clip.top) continue;
        if (s.y >= clip.bottom) break;
        int x0 = std::max(s.x0, clip.left), x1 = std::min(s.x1, clip.right);
        if (x0 < x1) f(s.y, x0, x1);
    }
}

inline RECT FullRect(const BITMAPHANDLE* b) { return RECT{0, 0, b->Width, b->Height}; }

} // namespace lt
