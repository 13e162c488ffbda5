// Mirroring (flip, reverse) and the stored row order.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "GeometryInternal.h"

using namespace lt::geom;

L_INT L_FlipBitmap(pBITMAPHANDLE b) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    std::unique_ptr<uint8_t[]> tmp(new (std::nothrow) uint8_t[size_t(b->BytesPerLine)]);
    if (!tmp) return ERROR_NO_MEMORY;
    const size_t bpl = size_t(b->BytesPerLine);
    for (int y = 0; y < b->Height / 2; ++y) {
        uint8_t* top = L_RowPtr(b, y);
        uint8_t* bottom = L_RowPtr(b, b->Height - 1 - y);
        std::memcpy(tmp.get(), top, bpl);
        std::memcpy(top, bottom, bpl);
        std::memcpy(bottom, tmp.get(), bpl);
    }
    if (b->pRgn) {
        std::vector<RgnSpan>& spans = b->pRgn->spans;
        for (RgnSpan& s : spans) s.y = b->Height - 1 - s.y;
        std::reverse(spans.begin(), spans.end());
        ReverseEachRow(spans);
    }
    return SUCCESS;
}

L_INT L_ReverseBitmap(pBITMAPHANDLE b) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    WithPixelType(b->BitsPerPixel, [&](auto px) {
        using P = decltype(px);
        for (int y = 0; y < b->Height; ++y) {
            uint8_t* row = L_RowPtr(b, y);
            for (int l = 0, r = b->Width - 1; l < r; ++l, --r) P::Swap(row, l, r);
        }
    });
    if (b->pRgn) {
        for (RgnSpan& s : b->pRgn->spans) {
            const int x0 = s.x0;
            s.x0 = b->Width - s.x1;
            s.x1 = b->Width - x0;
        }
        ReverseEachRow(b->pRgn->spans);
    }
    return SUCCESS;
}

L_INT L_ChangeBitmapViewPerspective(pBITMAPHANDLE dst, pBITMAPHANDLE src, L_INT nViewPerspective) {
    if (!lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    const L_INT vp = nViewPerspective == 0 ? TOP_LEFT : nViewPerspective;
    if (vp != TOP_LEFT && vp != BOTTOM_LEFT) return ERROR_INV_PARAMETER;
    if (!dst || dst == src) {
        if (src->ViewPerspective == vp) return SUCCESS;
        // Only the storage order changes; the image seen through L_RowPtr stays the same.
        std::unique_ptr<uint8_t[]> tmp(new (std::nothrow) uint8_t[size_t(src->BytesPerLine)]);
        if (!tmp) return ERROR_NO_MEMORY;
        const size_t bpl = size_t(src->BytesPerLine);
        for (int i = 0; i < src->Height / 2; ++i) {
            uint8_t* a = src->Addr + size_t(i) * bpl;
            uint8_t* z = src->Addr + size_t(src->Height - 1 - i) * bpl;
            std::memcpy(tmp.get(), a, bpl);
            std::memcpy(a, z, bpl);
            std::memcpy(z, tmp.get(), bpl);
        }
        src->ViewPerspective = vp;
        return SUCCESS;
    }
    return Guard([&]() -> L_INT {
        TOwnedBitmap out;
        L_INT r = NewLike(src, src->Width, src->Height, out.get());
        if (r != SUCCESS) return r;
        out->ViewPerspective = vp;
        for (int y = 0; y < src->Height; ++y)
            std::memcpy(L_RowPtr(out.get(), y), L_RowPtr(src, y), size_t(src->BytesPerLine));
        std::unique_ptr<LRegion> rgn;
        if (src->pRgn) rgn = std::make_unique<LRegion>(*src->pRgn);
        BITMAPHANDLE n = out.Release();
        n.pRgn = rgn.release();
        *dst = n; // dst's old content is ignored, as with L_CopyBitmap
        return SUCCESS;
    });
}
