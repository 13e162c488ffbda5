// Alpha compositing of 32-bit layers: "over" blending onto a bitmap of any depth, and the
// Porter-Duff combination of two 32-bit layers that also merges their alpha.
//
// Blending is the inner loop of the editor's layer compositing, so the 32-over-32 case
// works on whole pixels as 32-bit words (red and blue share one word as two 16-bit lanes,
// green gets its own), with integer arithmetic only and no branches per pixel. Written
// that way the compiler vectorises the loop; on x86-64 an AVX2 copy of the row kernels is
// chosen at load time where the processor has it. A 4000 x 3000 blend then runs at the
// speed of memory. Skipping runs of fully transparent source pixels (and copying fully
// opaque ones) was tried and measured slower on both kinds of layer: it saves no memory
// traffic for opaque runs and for transparent ones it interrupts the streaming of the
// destination, which costs more than the skipped pixels save. Exact results for alpha 0
// and 255 come from the arithmetic itself.
//
// Both calls clip the rectangle to both bitmaps and write only inside the destination's
// region; the source's region is not consulted (a layer's shape is its alpha).
#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "Effects.h"
#include "PixelAccess.h"
#include "Placement.h"

// Function multiversioning needs ifunc support (glibc); define QUILLO_NO_CLONES to build the
// plain versions only.
#if defined(__x86_64__) && !defined(QUILLO_NO_CLONES)
#define QUILLO_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define QUILLO_ROW_KERNEL
#endif

namespace {

using efx::Div255;
using efx::Place;
using efx::Placement;

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// The blend of one source pixel over one destination pixel (both as little-endian BGRA
// words); the destination's alpha byte is kept. Two 16-bit lanes carry blue and red:
// each lane's sum is below 65408 after the division's correction term, so no carry
// crosses into the other lane.
inline uint32_t BlendPixel(uint32_t s, uint32_t d) {
    const uint32_t a = s >> 24, ia = 255 - a;
    uint32_t rb = (s & 0x00FF00FFu) * a + (d & 0x00FF00FFu) * ia + 0x007F007Fu;
    rb = ((rb + 0x00010001u + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    uint32_t g = ((s >> 8) & 0xFFu) * a + ((d >> 8) & 0xFFu) * ia + 0x7Fu;
    g = Div255(g) & 0xFFu;
    return rb | (g << 8) | (d & 0xFF000000u);
}

// Blends n source pixels over n 32-bit destination pixels.
QUILLO_ROW_KERNEL void BlendRow32(uint8_t* __restrict d, const uint8_t* __restrict s, int n) {
    for (int i = 0; i < n; ++i)
        Store32(d + 4 * i, BlendPixel(Load32(s + 4 * i), Load32(d + 4 * i)));
}

void BlendRow24(uint8_t* __restrict d, const uint8_t* __restrict s, int n) {
    for (int i = 0; i < n; ++i, d += 3, s += 4) {
        const unsigned a = s[3], ia = 255 - a;
        if (a == 0) continue;
        d[0] = uint8_t(Div255(s[0] * a + d[0] * ia + 127));
        d[1] = uint8_t(Div255(s[1] * a + d[1] * ia + 127));
        d[2] = uint8_t(Div255(s[2] * a + d[2] * ia + 127));
    }
}

// 16-bit and palette destinations: colours are read, blended and stored back at the
// destination's depth (16-bit pixels keep their alpha bit).
void BlendRowOther(const BITMAPHANDLE* dst, uint8_t* d, int x0, const uint8_t* s, int n,
                   lt::NearestCache* cache) {
    for (int i = 0; i < n; ++i, s += 4) {
        const unsigned a = s[3], ia = 255 - a;
        if (a == 0) continue;
        lt::BGRA c = lt::ReadPixel(dst, d, x0 + i);
        c.b = uint8_t(Div255(s[0] * a + c.b * ia + 127));
        c.g = uint8_t(Div255(s[1] * a + c.g * ia + 127));
        c.r = uint8_t(Div255(s[2] * a + c.r * ia + 127));
        if (cache)
            lt::WriteIndex(d, x0 + i, dst->BitsPerPixel, cache->Get(c.r, c.g, c.b));
        else
            lt::WritePixel(dst, d, x0 + i, c, true);
    }
}

// Porter-Duff "over" on straight alpha for one pixel pair, without branches so that rows
// vectorise. The source's share of the result is as * 255 and the destination's
// ad * (255 - as), both in units of 1 / (255 * 255); their sum `den` is the result's alpha
// times 255, 0 only when both pixels are transparent (the result is then all 0).
inline uint32_t CombinePixel(uint32_t s, uint32_t d) {
    const uint32_t as = s >> 24, ad = d >> 24;
    const uint32_t den = as * 255 + ad * (255 - as);
    const uint32_t ao = Div255(den + 127);
    // The source's weight in the colour as a 16-bit fraction. The float division is exact
    // enough (24 bits) and gives exactly 65536 for an opaque source and 0 for a clear one.
    const float q = float(int(as * 255)) * 65536.0f / float(int(den | (den == 0)));
    const uint32_t w = uint32_t(int(q + 0.5f)), wd = 65536 - w;
    auto mix = [&](int shift) {
        return ((((s >> shift) & 0xFFu) * w + ((d >> shift) & 0xFFu) * wd + 32768) >> 16) << shift;
    };
    const uint32_t keep = den == 0 ? 0u : ~0u;
    return (mix(0) | mix(8) | mix(16) | (ao << 24)) & keep;
}

QUILLO_ROW_KERNEL void CombineRow32(uint8_t* __restrict d, const uint8_t* __restrict s, int n) {
    for (int i = 0; i < n; ++i)
        Store32(d + 4 * i, CombinePixel(Load32(s + 4 * i), Load32(d + 4 * i)));
}

// Common checks and the span walk of both calls. rowFn(dstRow, dstX, srcPixels, count).
template <class RowFn>
L_INT ForEachPlacedSpan(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                        const BITMAPHANDLE* src, L_INT srcX, L_INT srcY, RowFn&& rowFn) {
    Placement p;
    if (!Place(dst, x, y, width, height, src, srcX, srcY, &p)) return SUCCESS;
    // Blending a bitmap onto itself: the source rectangle is copied aside first so that
    // overlapping rectangles read the pixels as they were.
    const size_t w = size_t(p.dst.right - p.dst.left);
    std::vector<uint8_t> aside;
    if (dst->Addr == src->Addr) {
        try {
            aside.resize(w * 4 * size_t(p.dst.bottom - p.dst.top));
        } catch (const std::bad_alloc&) {
            return ERROR_NO_MEMORY;
        }
        for (int row = p.dst.top; row < p.dst.bottom; ++row)
            std::memcpy(aside.data() + size_t(row - p.dst.top) * w * 4,
                        L_RowPtr(src, row + p.dyToSrc) + size_t(p.dst.left + p.dxToSrc) * 4, w * 4);
    }
    lt::ForEachSpan(dst, p.dst, [&](int row, int x0, int x1) {
        const uint8_t* s =
            aside.empty()
                ? L_RowPtr(src, row + p.dyToSrc) + size_t(x0 + p.dxToSrc) * 4
                : aside.data() + (size_t(row - p.dst.top) * w + size_t(x0 - p.dst.left)) * 4;
        rowFn(L_RowPtr(dst, row), x0, s, x1 - x0);
    });
    return SUCCESS;
}

} // namespace

L_INT AlphaBlendBitmapRects32(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                              const BITMAPHANDLE* src, L_INT srcX, L_INT srcY) {
    if (!lt::IsAllocated(dst) || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (src->BitsPerPixel != 32 || !lt::IsValidBpp(dst->BitsPerPixel)) return ERROR_BITPERPIXEL;
    switch (dst->BitsPerPixel) {
        case 32:
            return ForEachPlacedSpan(dst, x, y, width, height, src, srcX, srcY,
                                     [](uint8_t* d, int x0, const uint8_t* s, int n) {
                                         BlendRow32(d + size_t(x0) * 4, s, n);
                                     });
        case 24:
            return ForEachPlacedSpan(dst, x, y, width, height, src, srcX, srcY,
                                     [](uint8_t* d, int x0, const uint8_t* s, int n) {
                                         BlendRow24(d + size_t(x0) * 3, s, n);
                                     });
        default: {
            std::optional<lt::NearestCache> cache;
            try {
                if (dst->BitsPerPixel <= 8) {
                    if (!dst->pPalette) return ERROR_INV_PARAMETER;
                    cache.emplace(dst->pPalette, 1 << dst->BitsPerPixel);
                }
            } catch (const std::bad_alloc&) {
                return ERROR_NO_MEMORY;
            }
            lt::NearestCache* c = cache ? &*cache : nullptr;
            return ForEachPlacedSpan(dst, x, y, width, height, src, srcX, srcY,
                                     [&](uint8_t* d, int x0, const uint8_t* s, int n) {
                                         BlendRowOther(dst, d, x0, s, n, c);
                                     });
        }
    }
}

L_INT AlphaCombineBitmapRects32(BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                                const BITMAPHANDLE* src, L_INT srcX, L_INT srcY) {
    if (!lt::IsAllocated(dst) || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (src->BitsPerPixel != 32 || dst->BitsPerPixel != 32) return ERROR_BITPERPIXEL;
    return ForEachPlacedSpan(dst, x, y, width, height, src, srcX, srcY,
                             [](uint8_t* d, int x0, const uint8_t* s, int n) {
                                 CombineRow32(d + size_t(x0) * 4, s, n);
                             });
}
