// Alpha-plane utilities: saving and restoring alpha around drawing calls (drawing works on
// colours and need not keep the alpha byte of 32-bit pixels), turning alpha into regions
// and masks, limiting alpha to a region, mask fills, inversion and small colour helpers.
//
// What counts as "set" when a bitmap's alpha becomes a region or a mask:
//  - 32 bits: alpha != 0.
//  - 16 bits: the alpha bit.
//  - region (Lx_SetBitmapRgnFromAlpha): 24 bits, any colour byte != 0; 8 bits and less,
//    palette index != 0 (an alpha view is an index image).
//  - mask (Lx_CreateMaskFromAlpha): 24 bits and 8 bits and less, gray level != 0, so that
//    an edited alpha view becomes a layer shape whatever its palette.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "PixelAccess.h"
#include "Effects.h"

struct LxSavedAlpha {
    RECT rect;                  // clipped to the bitmap when saved; empty = restores nothing
    std::vector<uint8_t> alpha; // row by row, rect width bytes per row
};

namespace {

const RGBQUAD kBlackWhite[2] = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};

inline int Gray(int r, int g, int b) { return (r * 77 + g * 150 + b * 29 + 128) >> 8; }

enum class SetRule { Region, Mask };

// Whether each pixel of row y counts as set, as 0 / 1 bytes.
void SetPixelsOfRow(const BITMAPHANDLE* b, int y, SetRule rule, const bool* indexSet,
                    uint8_t* out) {
    const uint8_t* row = L_RowPtr(b, y);
    const int w = b->Width;
    switch (b->BitsPerPixel) {
        case 32:
            for (int x = 0; x < w; ++x) out[x] = row[x * 4 + 3] != 0;
            break;
        case 24:
            if (rule == SetRule::Region)
                for (int x = 0; x < w; ++x)
                    out[x] = (row[x * 3] | row[x * 3 + 1] | row[x * 3 + 2]) != 0;
            else
                for (int x = 0; x < w; ++x)
                    out[x] = Gray(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]) != 0;
            break;
        case 16:
            for (int x = 0; x < w; ++x) out[x] = (row[x * 2 + 1] & 0x80) != 0;
            break;
        case 8:
            for (int x = 0; x < w; ++x) out[x] = indexSet[row[x]];
            break;
        default:
            for (int x = 0; x < w; ++x) out[x] = indexSet[lt::ReadIndex(row, x, b->BitsPerPixel)];
            break;
    }
}

// A new 1-bit mask (palette black, white) of the bitmap's size, set by `rule`.
L_INT BuildMask(const BITMAPHANDLE* b, SetRule rule, BITMAPHANDLE* mask) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    bool indexSet[256] = {};
    if (b->BitsPerPixel <= 8) {
        for (int i = 0; i < (1 << b->BitsPerPixel); ++i) {
            if (rule == SetRule::Region)
                indexSet[i] = i != 0;
            else if (b->pPalette)
                indexSet[i] = Gray(b->pPalette[i].rgbRed, b->pPalette[i].rgbGreen,
                                   b->pPalette[i].rgbBlue) != 0;
        }
    }
    BITMAPHANDLE m;
    L_INT rc =
        L_CreateBitmap(&m, TYPE_CONV, b->Width, b->Height, 1, ORDER_BGR, kBlackWhite, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    m.XResolution = b->XResolution;
    m.YResolution = b->YResolution;
    std::vector<uint8_t> set;
    try {
        set.resize(size_t(b->Width) + 8, 0);
    } catch (const std::bad_alloc&) {
        L_FreeBitmap(&m);
        return ERROR_NO_MEMORY;
    }
    const int bytes = (b->Width + 7) / 8;
    for (int y = 0; y < b->Height; ++y) {
        SetPixelsOfRow(b, y, rule, indexSet, set.data());
        uint8_t* out = L_RowPtr(&m, y);
        // The padding after the last pixel stays 0: `set` has zeros past the width.
        for (int k = 0; k < bytes; ++k) {
            const uint8_t* p = set.data() + size_t(k) * 8;
            out[k] = uint8_t(p[0] << 7 | p[1] << 6 | p[2] << 5 | p[3] << 4 | p[4] << 3 | p[5] << 2 |
                             p[6] << 1 | p[7]);
        }
    }
    *mask = m;
    return SUCCESS;
}

RECT Clipped(const BITMAPHANDLE* b, const RECT* r) {
    RECT c = r ? *r : lt::FullRect(b);
    c.left = std::max(c.left, 0);
    c.top = std::max(c.top, 0);
    c.right = std::min(c.right, b->Width);
    c.bottom = std::min(c.bottom, b->Height);
    if (c.left >= c.right || c.top >= c.bottom) return RECT{};
    return c;
}

// The colour a COLORREF stands for on a true-colour bitmap (a palette index names a gray level).
lt::BGRA TrueColour(COLORREF c) {
    if (IsPaletteIndex(c)) {
        const uint8_t v = uint8_t(c & 0xFFu);
        return lt::BGRA{v, v, v, 255};
    }
    return lt::BGRA{GetBValue(c), GetGValue(c), GetRValue(c), 255};
}

} // namespace

LxSavedAlpha* Lx_SaveBitmapAlpha(const BITMAPHANDLE* b, const RECT* rect) {
    if (!lt::IsAllocated(b)) return nullptr;
    auto* saved = new (std::nothrow) LxSavedAlpha{};
    if (!saved) return nullptr;
    if (b->BitsPerPixel != 32) return saved; // nothing to keep; restoring does nothing
    const RECT r = Clipped(b, rect);
    const int w = r.right - r.left, h = r.bottom - r.top;
    try {
        saved->alpha.resize(size_t(w) * size_t(h));
    } catch (const std::bad_alloc&) {
        delete saved;
        return nullptr;
    }
    saved->rect = r;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = L_RowPtr(b, r.top + y) + size_t(r.left) * 4;
        uint8_t* out = saved->alpha.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) out[x] = row[x * 4 + 3];
    }
    return saved;
}

L_INT Lx_RestoreBitmapAlpha(BITMAPHANDLE* b, LxSavedAlpha* saved, bool discard) {
    if (!saved) return ERROR_INV_PARAMETER;
    L_INT rc = SUCCESS;
    if (!discard) {
        if (!lt::IsAllocated(b)) {
            rc = ERROR_NO_BITMAP;
        } else if (b->BitsPerPixel == 32 && !saved->alpha.empty()) {
            // The bitmap may have shrunk meanwhile: put back only what still fits.
            const int w = saved->rect.right - saved->rect.left;
            const RECT r = Clipped(b, &saved->rect);
            for (int y = r.top; y < r.bottom; ++y) {
                uint8_t* row = L_RowPtr(b, y);
                const uint8_t* in = saved->alpha.data() + size_t(y - saved->rect.top) * size_t(w);
                for (int x = r.left; x < r.right; ++x) row[x * 4 + 3] = in[x - saved->rect.left];
            }
        }
    }
    delete saved;
    return rc;
}

L_INT Lx_SetBitmapRgnFromAlpha(BITMAPHANDLE* b, L_UINT uCombineMode) {
    BITMAPHANDLE mask;
    L_INT rc = BuildMask(b, SetRule::Region, &mask);
    if (rc != SUCCESS) return rc;
    rc = L_SetBitmapRgnFromMask(b, nullptr, &mask, uCombineMode);
    L_FreeBitmap(&mask);
    return rc;
}

L_INT Lx_CreateMaskFromAlpha(const BITMAPHANDLE* b, BITMAPHANDLE* mask) {
    if (!mask) return ERROR_INV_PARAMETER;
    return BuildMask(b, SetRule::Mask, mask);
}

L_INT Lx_IntersectBitmapAlphaWithMask(BITMAPHANDLE* b) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (b->BitsPerPixel != 32 || !b->pRgn) return SUCCESS;
    const std::span<const RgnSpan> spans = lt::RegionSpans(b->pRgn);
    size_t i = 0;
    for (int y = 0; y < b->Height; ++y) {
        uint8_t* row = L_RowPtr(b, y);
        while (i < spans.size() && spans[i].y < y) ++i;
        int x = 0;
        for (; i < spans.size() && spans[i].y == y; ++i) {
            // A region stored by hand may stick out of the bitmap.
            const int x0 = std::clamp(spans[i].x0, x, b->Width);
            for (; x < x0; ++x) row[x * 4 + 3] = 0;
            x = std::max(x, std::min(spans[i].x1, b->Width));
        }
        for (; x < b->Width; ++x) row[x * 4 + 3] = 0;
    }
    return SUCCESS;
}

L_INT Lx_MaskFillBitmap(BITMAPHANDLE* b, const BITMAPHANDLE* mask, COLORREF color) {
    if (!lt::IsAllocated(b) || !lt::IsAllocated(mask)) return ERROR_NO_BITMAP;
    if (mask->BitsPerPixel != 1 || !lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (mask->Width != b->Width || mask->Height != b->Height) return ERROR_INV_RANGE;
    const int bpp = b->BitsPerPixel;
    unsigned index = 0;
    if (bpp <= 8) {
        if (IsPaletteIndex(color))
            index = (color & 0xFFu) & ((1u << bpp) - 1);
        else if (b->pPalette)
            index = unsigned(lt::NearestPaletteIndex(b->pPalette, 1 << bpp, GetRValue(color),
                                                     GetGValue(color), GetBValue(color)));
    }
    const lt::BGRA c = TrueColour(color);
    lt::ForEachSpan(b, lt::FullRect(b), [&](int y, int x0, int x1) {
        const uint8_t* m = L_RowPtr(mask, y);
        uint8_t* row = L_RowPtr(b, y);
        for (int x = x0; x < x1; ++x) {
            if (!((m[x >> 3] >> (7 - (x & 7))) & 1)) continue;
            switch (bpp) {
                case 32:
                    row[x * 4] = c.b;
                    row[x * 4 + 1] = c.g;
                    row[x * 4 + 2] = c.r;
                    break;
                case 24:
                    row[x * 3] = c.b;
                    row[x * 3 + 1] = c.g;
                    row[x * 3 + 2] = c.r;
                    break;
                case 16: lt::WritePixel(b, row, x, c, true); break;
                default: lt::WriteIndex(row, x, bpp, index); break;
            }
        }
    });
    return SUCCESS;
}

L_INT Lx_InvertBitmap(BITMAPHANDLE* b) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    // Whole stored rows, padding included: a mask's padding bits carry no pixels.
    for (int y = 0; y < b->Height; ++y) {
        uint8_t* row = L_RowPtr(b, y);
        for (int k = 0; k < b->BytesPerLine; ++k) row[k] = uint8_t(~row[k]);
    }
    return SUCCESS;
}

L_INT Lx_DematteBlack(BITMAPHANDLE* b, COLORREF color) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (b->BitsPerPixel != 32) return ERROR_BITPERPIXEL;
    const lt::BGRA c = TrueColour(color);
    lt::ForEachSpan(b, lt::FullRect(b), [&](int y, int x0, int x1) {
        uint8_t* p = L_RowPtr(b, y) + size_t(x0) * 4;
        for (int x = x0; x < x1; ++x, p += 4) {
            const int gray = Gray(p[2], p[1], p[0]);
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            p[3] = uint8_t(255 - gray);
        }
    });
    return SUCCESS;
}

L_INT Lx_RGBtoGS(COLORREF color) {
    return Gray(GetRValue(color), GetGValue(color), GetBValue(color));
}

L_INT Lx_Round(double value) {
    if (__builtin_isnan(value)) return 0;
    const double r = __builtin_round(value); // halves away from zero
    if (r >= double(INT_MAX)) return INT_MAX;
    if (r <= double(INT_MIN)) return INT_MIN;
    return L_INT(r);
}
