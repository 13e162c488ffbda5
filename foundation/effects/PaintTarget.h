// How the effects library's painting calls put a colour onto a pixel of a layer: whole bytes
// at 32 bits and on gray levels, through the colour and the nearest palette entry otherwise.
#pragma once

#include <new>
#include <optional>

#include "Effects.h"
#include "PixelAccess.h"
#include "Placement.h"

namespace efx {

enum class Kind { Bgra32, Gray8, Other };

inline bool IsGray8(const BITMAPHANDLE* b) {
    return b->BitsPerPixel == 8 && L_IsGrayScaleBitmap(b) == GRAY_ORDEREDNORMAL;
}

// How pixels of a bitmap are blended: whole bytes at 32 bits and on gray levels, through the
// colour and the nearest palette entry otherwise.
struct Target {
    BITMAPHANDLE* b;
    Kind kind;
    std::optional<lt::NearestCache> cache;

    // ERROR_INV_PARAMETER when the bitmap cannot take pixels (no palette at 8 bits or
    // less), ERROR_NO_MEMORY when the palette cache cannot be had.
    L_INT Init(BITMAPHANDLE* bitmap, bool gray) {
        b = bitmap;
        kind = b->BitsPerPixel == 32            ? Kind::Bgra32
               : (gray && b->BitsPerPixel == 8) ? Kind::Gray8
                                                : Kind::Other;
        if (kind == Kind::Other && b->BitsPerPixel <= 8) {
            if (!b->pPalette) return ERROR_INV_PARAMETER;
            try {
                cache.emplace(b->pPalette, 1 << b->BitsPerPixel);
            } catch (const std::bad_alloc&) {
                return ERROR_NO_MEMORY;
            }
        }
        return SUCCESS;
    }
    void Write(uint8_t* row, int x, lt::BGRA c) {
        if (cache)
            lt::WriteIndex(row, x, b->BitsPerPixel, cache->Get(c.r, c.g, c.b));
        else
            lt::WritePixel(b, row, x, c, true);
    }
};

// A colour as the blends use it: BGR, with the gray level for gray layers. Palette indices
// are resolved through the bitmap's palette. On a gray layer a value up to 255 is taken as
// the gray level itself (what the tools hand over there), anything larger as a colour.
inline lt::BGRA ResolveColor(const BITMAPHANDLE* b, COLORREF c, bool gray) {
    if (gray && c <= 255) return lt::BGRA{uint8_t(c), uint8_t(c), uint8_t(c), 255};
    lt::BGRA out{GetBValue(c), GetGValue(c), GetRValue(c), 255};
    if (IsPaletteIndex(c) && b->pPalette && b->BitsPerPixel <= 8 &&
        (c & 0xFFu) < (1u << b->BitsPerPixel)) {
        const RGBQUAD& q = b->pPalette[c & 0xFFu];
        out = lt::BGRA{q.rgbBlue, q.rgbGreen, q.rgbRed, 255};
    }
    if (gray) out.b = out.g = out.r = uint8_t(Lx_RGBtoGS(RGB(out.r, out.g, out.b)));
    return out;
}

// Paints colour c over one pixel with coverage w (0..255): the colour moves towards c and,
// at 32 bits, the alpha towards opaque, so paint on a transparent layer shows.
inline void PaintPixel(Target& t, uint8_t* row, int x, lt::BGRA c, unsigned w) {
    switch (t.kind) {
        case Kind::Bgra32: {
            uint8_t* p = row + size_t(x) * 4;
            p[0] = Lerp255(p[0], c.b, w);
            p[1] = Lerp255(p[1], c.g, w);
            p[2] = Lerp255(p[2], c.r, w);
            p[3] = Lerp255(p[3], 255, w);
            break;
        }
        case Kind::Gray8: row[x] = Lerp255(row[x], c.g, w); break;
        case Kind::Other: {
            if (w == 0) return;
            lt::BGRA d = lt::ReadPixel(t.b, row, x);
            d.b = Lerp255(d.b, c.b, w);
            d.g = Lerp255(d.g, c.g, w);
            d.r = Lerp255(d.r, c.r, w);
            t.Write(row, x, d);
            break;
        }
    }
}

} // namespace efx
