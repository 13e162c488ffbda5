// A bitmap's region: setting it from rectangles, colours, masks and region handles with
// the combine modes, and reading it back as a handle, bounds, or a mask.
//
// A bitmap without a region (pRgn null) means "the whole bitmap" everywhere, including
// as the existing region of a combination: L_RGN_OR on a bitmap without a region keeps
// the whole bitmap, L_RGN_ANDNOTRGN leaves the whole bitmap minus the new region. Use
// L_RGN_SET to start a selection.
//
// A combination whose result is empty leaves the bitmap with an empty region, which is
// NOT the same as no region: nothing can be written through it. Callers test for an
// empty selection with L_GetBitmapRgnBounds (an empty rectangle), or free the region
// with L_FreeBitmapRgn to mean the whole bitmap again.
#include <algorithm>
#include <new>

#include "BitmapInternal.h"

namespace lt {
// In Region.cpp: a transform that keeps only what lands inside clip.
LRegion TransformRegion(const LRegion& src, const RGNXFORM& xf, int sourceHeight, const RECT* clip);
} // namespace lt

namespace {

bool HasSize(const BITMAPHANDLE* b) { return b && b->Width > 0 && b->Height > 0; }

bool ValidXForm(const RGNXFORM* xf) {
    if (!xf) return true;
    if (xf->uViewPerspective != 0 && xf->uViewPerspective != L_UINT(TOP_LEFT) &&
        xf->uViewPerspective != L_UINT(BOTTOM_LEFT))
        return false;
    return xf->nXScalarNum > 0 && xf->nXScalarDen > 0 && xf->nYScalarNum > 0 && xf->nYScalarDen > 0;
}

bool ValidMode(L_UINT mode) { return mode <= L_RGN_SETNOT; }

bool Within(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// Runs f and turns an allocation failure into a status code.
template <class F>
L_INT Guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

// Combines `incoming` (bitmap coordinates, already clipped to the bitmap) with the
// bitmap's region and stores the result.
L_INT Apply(pBITMAPHANDLE b, LRegion&& incoming, L_UINT mode) {
    const RECT full = lt::FullRect(b);
    LRegion result;
    switch (mode) {
        case L_RGN_SET: result = std::move(incoming); break;
        case L_RGN_SETNOT:
            result = LRegion::Combine(LRegion::FromRect(full), incoming, L_RGN_ANDNOTRGN);
            break;
        default: {
            LRegion whole;
            const LRegion* existing = b->pRgn;
            if (!existing) {
                whole = LRegion::FromRect(full);
                existing = &whole;
            }
            // ANDNOTBITMAP intersects the new region's complement within the bitmap with the
            // existing region; since the existing region lies in the bitmap that is the same
            // as removing the new region from it.
            result = LRegion::Combine(*existing, incoming,
                                      mode == L_RGN_ANDNOTBITMAP ? L_RGN_ANDNOTRGN : mode);
            // A region stored by hand may stick out; the result never does.
            if (!result.Empty() && !Within(result.Bounds(), full))
                result = result.Intersected(full);
            break;
        }
    }
    if (b->pRgn)
        b->pRgn->spans = std::move(result.spans);
    else
        b->pRgn = new LRegion(std::move(result));
    return SUCCESS;
}

const RGNXFORM kIdentity{};

} // namespace

L_INT L_BitmapHasRgn(const BITMAPHANDLE* b) { return b && b->pRgn ? 1 : 0; }

L_INT L_FreeBitmapRgn(pBITMAPHANDLE b) {
    if (!b) return ERROR_NO_BITMAP;
    L_DeleteRgn(b->pRgn);
    b->pRgn = nullptr;
    return SUCCESS;
}

L_INT L_SetBitmapRgnRect(pBITMAPHANDLE b, const RGNXFORM* pXForm, const RECT* pRect,
                         L_UINT uCombineMode) {
    if (!HasSize(b)) return ERROR_NO_BITMAP;
    if (!pRect || !ValidXForm(pXForm) || !ValidMode(uCombineMode)) return ERROR_INV_PARAMETER;
    return Guarded([&] {
        // Transform the rectangle as a one-row-per-edge region would be: the blocks of a
        // run of pixels are contiguous, so the rectangle's image is again a rectangle.
        // Doing it on the edges avoids building a huge region for a huge rectangle.
        const RGNXFORM& xf = pXForm ? *pXForm : kIdentity;
        auto mapEdge = [](int64_t v, int64_t num, int64_t den, int64_t off) {
            int64_t p = v * num;
            int64_t q = p / den;
            if (p % den != 0 && p < 0) --q;
            return q + off;
        };
        int64_t top = pRect->top, bottom = pRect->bottom;
        if (xf.uViewPerspective == L_UINT(BOTTOM_LEFT)) {
            top = int64_t(b->Height) - pRect->bottom;
            bottom = int64_t(b->Height) - pRect->top;
        }
        const int64_t l =
            std::max<int64_t>(mapEdge(pRect->left, xf.nXScalarNum, xf.nXScalarDen, xf.nXOffset), 0);
        const int64_t r = std::min<int64_t>(
            mapEdge(pRect->right, xf.nXScalarNum, xf.nXScalarDen, xf.nXOffset), b->Width);
        const int64_t t =
            std::max<int64_t>(mapEdge(top, xf.nYScalarNum, xf.nYScalarDen, xf.nYOffset), 0);
        const int64_t bt = std::min<int64_t>(
            mapEdge(bottom, xf.nYScalarNum, xf.nYScalarDen, xf.nYOffset), b->Height);
        LRegion incoming;
        if (l < r && t < bt) incoming = LRegion::FromRect(RECT{int(l), int(t), int(r), int(bt)});
        return Apply(b, std::move(incoming), uCombineMode);
    });
}

L_INT L_SetBitmapRgnColor(pBITMAPHANDLE b, COLORREF crColor, L_UINT uCombineMode) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!ValidMode(uCombineMode)) return ERROR_INV_PARAMETER;
    return Guarded([&] {
        const int bpp = b->BitsPerPixel;
        const int w = b->Width;
        uint8_t r = GetRValue(crColor), g = GetGValue(crColor), bl = GetBValue(crColor);
        // At 8 bits or less decide per palette index once; a PALETTEINDEX names the index
        // itself there, and a gray level on true-colour bitmaps (as L_PutPixelColor does).
        bool match[256] = {};
        if (bpp <= 8) {
            const unsigned n = 1u << bpp;
            if (IsPaletteIndex(crColor)) {
                if ((crColor & 0xFFu) < n) match[crColor & 0xFFu] = true;
            } else {
                for (unsigned i = 0; i < n; ++i) {
                    const lt::BGRA c =
                        b->pPalette ? lt::BGRA{b->pPalette[i].rgbBlue, b->pPalette[i].rgbGreen,
                                               b->pPalette[i].rgbRed, 255}
                                    : lt::BGRA{0, 0, 0, 255};
                    match[i] = c.r == r && c.g == g && c.b == bl;
                }
            }
        } else if (IsPaletteIndex(crColor)) {
            r = g = bl = uint8_t(crColor & 0xFFu);
        }
        LRegion incoming;
        std::vector<RgnSpan>& out = incoming.spans;
        for (int y = 0; y < b->Height; ++y) {
            const uint8_t* row = L_RowPtr(b, y);
            int x = 0;
            auto scan = [&](auto&& isIn) {
                while (x < w) {
                    while (x < w && !isIn(x)) ++x;
                    if (x >= w) break;
                    const int start = x;
                    while (x < w && isIn(x)) ++x;
                    out.push_back(RgnSpan{y, start, x});
                }
            };
            switch (bpp) {
                case 32:
                    scan([&](int i) {
                        return row[i * 4] == bl && row[i * 4 + 1] == g && row[i * 4 + 2] == r;
                    });
                    break;
                case 24:
                    scan([&](int i) {
                        return row[i * 3] == bl && row[i * 3 + 1] == g && row[i * 3 + 2] == r;
                    });
                    break;
                case 16:
                    scan([&](int i) {
                        const lt::BGRA c = lt::ReadPixel(b, row, i);
                        return c.b == bl && c.g == g && c.r == r;
                    });
                    break;
                case 8: scan([&](int i) { return match[row[i]]; }); break;
                default: scan([&](int i) { return match[lt::ReadIndex(row, i, bpp)]; }); break;
            }
        }
        return Apply(b, std::move(incoming), uCombineMode);
    });
}

L_INT L_SetBitmapRgnFromMask(pBITMAPHANDLE b, const RGNXFORM* pXForm, const BITMAPHANDLE* pMask,
                             L_UINT uCombineMode) {
    if (!HasSize(b) || !lt::IsAllocated(pMask)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(pMask->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (!ValidXForm(pXForm) || !ValidMode(uCombineMode)) return ERROR_INV_PARAMETER;
    return Guarded([&] {
        const RECT full = lt::FullRect(b);
        LRegion mask = LRegion::FromMask(*pMask);
        LRegion incoming = pXForm ? lt::TransformRegion(mask, *pXForm, pMask->Height, &full)
                                  : mask.Intersected(full);
        return Apply(b, std::move(incoming), uCombineMode);
    });
}

L_INT L_SetBitmapRgnHandle(pBITMAPHANDLE b, const RGNXFORM* pXForm, HRGN hRgn,
                           L_UINT uCombineMode) {
    if (!HasSize(b)) return ERROR_NO_BITMAP;
    if (!hRgn || !ValidXForm(pXForm) || !ValidMode(uCombineMode)) return ERROR_INV_PARAMETER;
    return Guarded([&] {
        // A handle has no height of its own: a BOTTOM_LEFT transform flips it within the bitmap.
        const RECT full = lt::FullRect(b);
        LRegion incoming = pXForm ? lt::TransformRegion(*hRgn, *pXForm, b->Height, &full)
                                  : hRgn->Intersected(full);
        return Apply(b, std::move(incoming), uCombineMode);
    });
}

// The transform is applied to the bitmap's region with the same formula as when setting
// one (x * num / den + offset, flipped within the bitmap's height for BOTTOM_LEFT), so a
// caller moving a region to other coordinates passes the transform into those coordinates.
L_INT L_GetBitmapRgnHandle(const BITMAPHANDLE* b, const RGNXFORM* pXForm, HRGN* phRgn) {
    if (!HasSize(b)) return ERROR_NO_BITMAP;
    if (!phRgn || !ValidXForm(pXForm)) return ERROR_INV_PARAMETER;
    return Guarded([&] {
        LRegion whole;
        const LRegion* rgn = b->pRgn;
        if (!rgn) {
            whole = LRegion::FromRect(lt::FullRect(b));
            rgn = &whole;
        }
        *phRgn =
            new LRegion(pXForm ? lt::TransformRegion(*rgn, *pXForm, b->Height, nullptr) : *rgn);
        return L_INT(SUCCESS);
    });
}

L_INT L_GetBitmapRgnBounds(const BITMAPHANDLE* b, const RGNXFORM* pXForm, RECT* pRect) {
    if (!HasSize(b)) return ERROR_NO_BITMAP;
    if (!pRect || !ValidXForm(pXForm)) return ERROR_INV_PARAMETER;
    if (!pXForm) {
        *pRect = b->pRgn ? b->pRgn->Bounds() : lt::FullRect(b);
        return SUCCESS;
    }
    HRGN h = nullptr;
    L_INT rc = L_GetBitmapRgnHandle(b, pXForm, &h);
    if (rc != SUCCESS) return rc;
    *pRect = h->Bounds();
    L_DeleteRgn(h);
    return SUCCESS;
}

L_INT L_IsPtInBitmapRgn(const BITMAPHANDLE* b, L_INT nRow, L_INT nCol) {
    if (!b) return ERROR_NO_BITMAP;
    if (nRow < 0 || nRow >= b->Height || nCol < 0 || nCol >= b->Width) return 0;
    return !b->pRgn || b->pRgn->Contains(nCol, nRow) ? 1 : 0;
}

L_INT L_CreateMaskFromBitmapRgn(const BITMAPHANDLE* b, pBITMAPHANDLE pMask) {
    if (!HasSize(b) || !pMask) return ERROR_NO_BITMAP;
    static const RGBQUAD kBlackWhite[2] = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    BITMAPHANDLE mask;
    L_INT rc =
        L_CreateBitmap(&mask, TYPE_CONV, b->Width, b->Height, 1, ORDER_BGR, kBlackWhite, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    mask.XResolution = b->XResolution;
    mask.YResolution = b->YResolution;
    // Fill through the source's region; the mask borrows it only for the fill.
    mask.pRgn = b->pRgn;
    rc = L_FillBitmap(&mask, PALETTEINDEX(1));
    mask.pRgn = nullptr;
    if (rc != SUCCESS) {
        L_FreeBitmap(&mask);
        return rc;
    }
    *pMask = mask;
    return SUCCESS;
}
