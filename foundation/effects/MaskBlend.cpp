// The paint tools' compositing: a colour or another bitmap laid onto a layer through an 8-bit
// coverage mask, the dissolve that sets whole pixels instead, and the copies in and out of a
// layer that the smudge and history brushes carry their patches with.
//
// Layers reach these calls at 32 bits (colour and alpha) or as 8-bit grayscale, where a
// pixel's byte is its gray level and colours arrive already turned into gray levels. Other
// depths work too, through the pixel's colour and the nearest palette entry, because the
// airbrush's dissolve is the one brush offered on palette layers.
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "Effects.h"
#include "PaintTarget.h"
#include "PixelAccess.h"
#include "Placement.h"

namespace {

using efx::Div255;
using efx::IsGray8;
using efx::Kind;
using efx::Lerp255;
using efx::PaintPixel;
using efx::ResolveColor;
using efx::Target;

bool ValidMask(const uint8_t* mask, L_INT width, L_INT height, L_INT rowLength) {
    return width >= 0 && height >= 0 && (width == 0 || height == 0 || (mask && rowLength >= width));
}

// Where a dab of width x height at (x, y) lies on the bitmap, as a clip rectangle; empty when
// off the bitmap. 64-bit so that far-off dabs cannot overflow.
RECT DabRect(const BITMAPHANDLE* b, int64_t x, int64_t y, int64_t width, int64_t height) {
    const int64_t l = std::max<int64_t>(x, 0), t = std::max<int64_t>(y, 0);
    const int64_t r = std::min<int64_t>(x + width, b->Width),
                  bt = std::min<int64_t>(y + height, b->Height);
    if (l >= r || t >= bt) return RECT{0, 0, 0, 0};
    return RECT{int(l), int(t), int(r), int(bt)};
}

std::atomic<uint32_t> gDissolveCall{0};

// A well-mixed 32-bit value of a pixel position and the call number (a finaliser of the
// MurmurHash family).
inline uint32_t Scramble(uint32_t x, uint32_t y, uint32_t call) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ call * 0xC2B2AE3Du;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// The gray level or colour of a source pixel for a blend onto t, with its alpha.
inline lt::BGRA SourceColor(const BITMAPHANDLE* src, const uint8_t* row, int x, bool toGray) {
    lt::BGRA s = lt::ReadPixel(src, row, x);
    if (toGray) s.b = s.g = s.r = uint8_t(Lx_RGBtoGS(RGB(s.r, s.g, s.b)));
    return s;
}

} // namespace

L_INT AlphaBlendBmpWithColor(BITMAPHANDLE* b, double x, double y, L_INT width, L_INT height,
                             COLORREF color, const uint8_t* mask, L_INT maskRowLength) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (!std::isfinite(x) || !std::isfinite(y) || !ValidMask(mask, width, height, maskRowLength))
        return ERROR_INV_PARAMETER;
    // Far beyond any bitmap: nothing to paint (and no overflow converting to integers).
    if (width == 0 || height == 0 || std::fabs(x) > 1e9 || std::fabs(y) > 1e9) return SUCCESS;
    Target t;
    if (const L_INT rc = t.Init(b, IsGray8(b)); rc != SUCCESS) return rc;
    const lt::BGRA c = ResolveColor(b, color, t.kind == Kind::Gray8);
    // A fractional position shifts the mask bilinearly in 1/256 pixel steps, so a dab moved
    // by a fraction of a pixel moves smoothly; the dab then reaches one pixel further right
    // and down. Whole positions use the mask as it is.
    int64_t ix = int64_t(std::floor(x)), iy = int64_t(std::floor(y));
    unsigned fx = unsigned(std::lround((x - double(ix)) * 256)),
             fy = unsigned(std::lround((y - double(iy)) * 256));
    if (fx == 256) ++ix, fx = 0;
    if (fy == 256) ++iy, fy = 0;
    const RECT clip = DabRect(b, ix, iy, width + (fx != 0), height + (fy != 0));
    const unsigned wx[2] = {256 - fx, fx}, wy[2] = {256 - fy, fy};
    // The weights of a row are found first, then laid on in one tight loop per kind of pixel.
    std::vector<uint8_t> weights;
    try {
        weights.resize(size_t(clip.right - clip.left));
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    lt::ForEachSpan(b, clip, [&](int row, int x0, int x1) {
        const int64_t j = row - iy;
        // Rows j and j - 1 of the mask (none where outside it), read from column i.
        const uint8_t* m0 = j < height ? mask + j * maskRowLength : nullptr;
        const uint8_t* m1 = j >= 1 ? mask + (j - 1) * maskRowLength : nullptr;
        auto at = [&](const uint8_t* m, int64_t i) -> unsigned {
            return m && i >= 0 && i < width ? m[i] : 0u;
        };
        uint8_t* w = weights.data();
        const int n = x1 - x0;
        const int64_t i0 = x0 - ix;
        if (fx == 0 && fy == 0) {
            std::memcpy(w, m0 + i0, size_t(n));
        } else {
            for (int k = 0; k < n; ++k) {
                const int64_t i = i0 + k;
                const unsigned sum = (at(m0, i) * wx[0] + at(m0, i - 1) * wx[1]) * wy[0] +
                                     (at(m1, i) * wx[0] + at(m1, i - 1) * wx[1]) * wy[1];
                w[k] = uint8_t((sum + 32768) >> 16);
            }
        }
        uint8_t* r = L_RowPtr(b, row);
        if (t.kind == Kind::Bgra32) {
            uint8_t* p = r + size_t(x0) * 4;
            for (int k = 0; k < n; ++k, p += 4) {
                const unsigned a = w[k];
                p[0] = Lerp255(p[0], c.b, a);
                p[1] = Lerp255(p[1], c.g, a);
                p[2] = Lerp255(p[2], c.r, a);
                p[3] = Lerp255(p[3], 255, a);
            }
        } else if (t.kind == Kind::Gray8) {
            uint8_t* p = r + x0;
            for (int k = 0; k < n; ++k) p[k] = Lerp255(p[k], c.g, w[k]);
        } else {
            for (int k = 0; k < n; ++k)
                if (w[k]) PaintPixel(t, r, x0 + k, c, w[k]);
        }
    });
    return SUCCESS;
}

void Lx_SetDissolveSeed(L_UINT seed) { gDissolveCall.store(seed); }

L_INT DissolveBlendBmpWithColor(BITMAPHANDLE* b, L_INT x, L_INT y, L_INT width, L_INT height,
                                COLORREF color, const uint8_t* mask, L_INT maskRowLength) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (!ValidMask(mask, width, height, maskRowLength)) return ERROR_INV_PARAMETER;
    Target t;
    if (const L_INT rc = t.Init(b, IsGray8(b)); rc != SUCCESS) return rc;
    const lt::BGRA c = ResolveColor(b, color, t.kind == Kind::Gray8);
    // The palette entry is found once: a dissolved pixel takes the colour whole.
    unsigned index = 0;
    if (t.cache) index = IsPaletteIndex(color) ? (color & 0xFFu) : t.cache->Get(c.r, c.g, c.b);
    const uint32_t call = gDissolveCall.fetch_add(1);
    lt::ForEachSpan(b, DabRect(b, x, y, width, height), [&](int row, int x0, int x1) {
        uint8_t* r = L_RowPtr(b, row);
        const uint8_t* m = mask + int64_t(row - y) * maskRowLength;
        for (int px = x0; px < x1; ++px) {
            // Set with probability coverage / 255: 255 always, 0 never.
            if (Scramble(uint32_t(px), uint32_t(row), call) % 255u >= m[px - x]) continue;
            if (t.cache)
                lt::WriteIndex(r, px, b->BitsPerPixel, index);
            else if (t.kind == Kind::Other)
                lt::WritePixel(b, r, px, c, true);
            else
                PaintPixel(t, r, px, c, 255);
        }
    });
    return SUCCESS;
}

L_INT AlphaBlendBitmapRects(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                            const BITMAPHANDLE* src, L_INT srcX, L_INT srcY, const uint8_t* mask,
                            L_INT gray) {
    if (!lt::IsAllocated(dst) || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(dst->BitsPerPixel) || !lt::IsValidBpp(src->BitsPerPixel))
        return ERROR_BITPERPIXEL;
    if (width < 0 || height < 0) return SUCCESS;
    efx::Placement p;
    if (!efx::Place(dst, x, y, width, height, src, srcX, srcY, &p)) return SUCCESS;
    Target t;
    if (const L_INT rc = t.Init(dst, gray != 0); rc != SUCCESS) return rc;
    const bool gray8ToGray8 = t.kind == Kind::Gray8 && src->BitsPerPixel == 8;
    const bool both32 = t.kind == Kind::Bgra32 && src->BitsPerPixel == 32;
    lt::ForEachSpan(dst, p.dst, [&](int row, int x0, int x1) {
        uint8_t* d = L_RowPtr(dst, row);
        const uint8_t* s = L_RowPtr(src, row + p.dyToSrc);
        const uint8_t* m = mask ? mask + int64_t(row - y) * width : nullptr;
        for (int px = x0; px < x1; ++px) {
            const int sx = px + p.dxToSrc;
            const unsigned w = m ? m[px - x] : 255u;
            if (w == 0) continue;
            if (both32) {
                // Colour and alpha both: the clone and history brushes copy transparency too.
                uint8_t* q = d + size_t(px) * 4;
                const uint8_t* sp = s + size_t(sx) * 4;
                for (int k = 0; k < 4; ++k) q[k] = Lerp255(q[k], sp[k], w);
            } else if (gray8ToGray8) {
                d[px] = Lerp255(d[px], s[sx], w);
            } else {
                // The source's transparency thins its paint where the destination has no
                // alpha of its own to take it.
                const lt::BGRA c = SourceColor(src, s, sx, t.kind == Kind::Gray8);
                if (t.kind == Kind::Bgra32) {
                    PaintPixel(t, d, px, c, w); // an opaque source raises the alpha
                } else {
                    const unsigned ws = Div255(w * c.a + 127);
                    if (ws) PaintPixel(t, d, px, c, ws);
                }
            }
        }
    });
    return SUCCESS;
}

L_INT AlphaBlendBitmaps(BITMAPHANDLE* dst, const BITMAPHANDLE* src, L_INT x, L_INT y,
                        COLORREF color, const uint8_t* mask) {
    if (!lt::IsAllocated(dst) || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(dst->BitsPerPixel) || !lt::IsValidBpp(src->BitsPerPixel))
        return ERROR_BITPERPIXEL;
    const bool gray = IsGray8(dst);
    Target t;
    if (const L_INT rc = t.Init(dst, gray); rc != SUCCESS) return rc;
    const lt::BGRA outside = ResolveColor(src, color, gray);
    const bool srcGray = gray && IsGray8(src);
    lt::ForEachSpan(dst, lt::FullRect(dst), [&](int row, int x0, int x1) {
        uint8_t* d = L_RowPtr(dst, row);
        const int64_t sy = int64_t(y) + row;
        const bool rowInside = sy >= 0 && sy < src->Height;
        const uint8_t* s = rowInside ? L_RowPtr(src, int(sy)) : nullptr;
        for (int px = x0; px < x1; ++px) {
            const int64_t sx = int64_t(x) + px;
            lt::BGRA c = outside;
            if (rowInside && sx >= 0 && sx < src->Width) {
                if (srcGray) {
                    const uint8_t v = s[sx];
                    c = lt::BGRA{v, v, v, 255};
                } else {
                    c = SourceColor(src, s, int(sx), gray);
                }
            }
            // What the destination keeps of itself: the mask, or at 32 bits its own alpha.
            const unsigned keep = mask ? mask[size_t(row) * size_t(dst->Width) + size_t(px)]
                                  : t.kind == Kind::Bgra32 ? d[size_t(px) * 4 + 3]
                                                           : 255u;
            const unsigned w = 255 - keep;
            if (w == 0) continue;
            if (t.kind == Kind::Bgra32) {
                uint8_t* q = d + size_t(px) * 4;
                q[0] = Lerp255(q[0], c.b, w);
                q[1] = Lerp255(q[1], c.g, w);
                q[2] = Lerp255(q[2], c.r, w);
            } else {
                PaintPixel(t, d, px, c, w);
            }
        }
    });
    return SUCCESS;
}

L_INT CopyBitmapRect(BITMAPHANDLE* out, const BITMAPHANDLE* src, L_INT x, L_INT y, L_INT width,
                     L_INT height, COLORREF color) {
    if (!out || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(src->BitsPerPixel)) return ERROR_BITPERPIXEL;
    size_t bytes;
    L_INT bpl;
    if (L_INT rc = L_CheckImageSize(width, height, src->BitsPerPixel, &bytes, &bpl); rc != SUCCESS)
        return rc;
    BITMAPHANDLE b;
    if (L_INT rc = L_CreateBitmap(&b, TYPE_CONV, width, height, src->BitsPerPixel, ORDER_BGR,
                                  src->pPalette, TOP_LEFT);
        rc != SUCCESS)
        return rc;
    // The fill first, one pixel's bytes repeated (or one index), then the covered part.
    const bool gray = IsGray8(src);
    const lt::BGRA c = ResolveColor(src, color, gray);
    uint8_t* first = L_RowPtr(&b, 0);
    unsigned index = 0;
    if (src->BitsPerPixel <= 8 && !gray && src->pPalette)
        index = IsPaletteIndex(color) ? (color & 0xFFu)
                                      : unsigned(lt::NearestPaletteIndex(
                                            src->pPalette, 1 << src->BitsPerPixel, c.r, c.g, c.b));
    for (int px = 0; px < width; ++px) {
        if (gray)
            first[px] = c.g;
        else if (src->BitsPerPixel <= 8)
            lt::WriteIndex(first, px, src->BitsPerPixel, index);
        else
            lt::WritePixel(&b, first, px, c, false);
    }
    for (int row = 1; row < height; ++row) std::memcpy(L_RowPtr(&b, row), first, size_t(bpl));
    efx::Placement p;
    if (efx::Place(&b, 0, 0, width, height, src, x, y, &p)) {
        const int bpp = src->BitsPerPixel;
        for (int row = p.dst.top; row < p.dst.bottom; ++row) {
            uint8_t* d = L_RowPtr(&b, row);
            const uint8_t* s = L_RowPtr(src, row + p.dyToSrc);
            if (bpp >= 8) {
                const size_t px = size_t(bpp / 8);
                std::memcpy(d + size_t(p.dst.left) * px, s + size_t(p.dst.left + p.dxToSrc) * px,
                            size_t(p.dst.right - p.dst.left) * px);
            } else {
                for (int px = p.dst.left; px < p.dst.right; ++px)
                    lt::WriteIndex(d, px, bpp, lt::ReadIndex(s, px + p.dxToSrc, bpp));
            }
        }
    }
    *out = b;
    return SUCCESS;
}

L_INT InsertBitmapRect(BITMAPHANDLE* dst, const BITMAPHANDLE* src, L_INT x, L_INT y, L_INT width,
                       L_INT height, L_INT srcX, L_INT srcY, L_INT flags) {
    if (!lt::IsAllocated(dst) || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(dst->BitsPerPixel) || !lt::IsValidBpp(src->BitsPerPixel))
        return ERROR_BITPERPIXEL;
    if (flags & ~L_INT(LX_INSERT_ALPHA)) return ERROR_INV_PARAMETER;
    efx::Placement p;
    if (!efx::Place(dst, x, y, width, height, src, srcX, srcY, &p)) return SUCCESS;
    const int bpp = dst->BitsPerPixel;
    // Pixels are copied as stored when both bitmaps store them alike; palette images only
    // when the palettes agree, otherwise through the colour.
    bool raw = bpp == src->BitsPerPixel;
    if (raw && bpp <= 8)
        raw = dst->pPalette && src->pPalette &&
              std::memcmp(dst->pPalette, src->pPalette, sizeof(RGBQUAD) << bpp) == 0;
    Target t;
    if (const L_INT rc = t.Init(dst, false); rc != SUCCESS) return rc;
    const bool keepAlpha = !(flags & LX_INSERT_ALPHA);
    lt::ForEachSpan(dst, p.dst, [&](int row, int x0, int x1) {
        uint8_t* d = L_RowPtr(dst, row);
        const uint8_t* s = L_RowPtr(src, row + p.dyToSrc);
        if (raw && bpp == 32 && keepAlpha) {
            for (int px = x0; px < x1; ++px)
                std::memcpy(d + size_t(px) * 4, s + size_t(px + p.dxToSrc) * 4, 3);
        } else if (raw && bpp >= 8) {
            const size_t n = size_t(bpp / 8);
            std::memcpy(d + size_t(x0) * n, s + size_t(x0 + p.dxToSrc) * n, size_t(x1 - x0) * n);
        } else if (raw) {
            for (int px = x0; px < x1; ++px)
                lt::WriteIndex(d, px, bpp, lt::ReadIndex(s, px + p.dxToSrc, bpp));
        } else {
            for (int px = x0; px < x1; ++px) {
                const lt::BGRA c = lt::ReadPixel(src, s, px + p.dxToSrc);
                if (bpp == 32)
                    lt::WritePixel(dst, d, px, c, keepAlpha);
                else
                    t.Write(d, px, c);
            }
        }
    });
    return SUCCESS;
}

L_INT InsertAlpha(BITMAPHANDLE* b, const uint8_t* mask) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (b->BitsPerPixel != 32) return ERROR_BITPERPIXEL;
    if (!mask) return ERROR_INV_PARAMETER;
    lt::ForEachSpan(b, lt::FullRect(b), [&](int row, int x0, int x1) {
        uint8_t* d = L_RowPtr(b, row);
        const uint8_t* m = mask + size_t(row) * size_t(b->Width);
        for (int px = x0; px < x1; ++px) d[size_t(px) * 4 + 3] = m[px];
    });
    return SUCCESS;
}
