#include "LeadBitmap.h"

#include <algorithm>
#include <cstring>

#include "Effects.h"
#include "PixelAccess.h"

TLeadBitmap::~TLeadBitmap() { Free(); }

void TLeadBitmap::Free() {
    if (Owned) {
        // The region goes first: it is the part most likely shared by mistake, and a
        // half-freed record must never keep a dangling region pointer.
        L_FreeBitmapRgn(this);
        L_FreeBitmap(this);
    } else {
        static_cast<BITMAPHANDLE&>(*this) = BITMAPHANDLE{};
    }
    Owned = true;
    GrayState = -1;
}

L_INT TLeadBitmap::Assign(const BITMAPHANDLE& source, bool deep) {
    if (&source == static_cast<BITMAPHANDLE*>(this)) return SUCCESS;
    if (deep) {
        BITMAPHANDLE copy;
        L_INT rc = L_CopyBitmap(&copy, &source);
        if (rc != SUCCESS) return rc;
        Free();
        static_cast<BITMAPHANDLE&>(*this) = copy;
        Owned = true;
    } else {
        Free();
        L_CopyBitmapHandle(this, &source);
        Owned = false;
    }
    GrayState = -1;
    return SUCCESS;
}

void TLeadBitmap::Adopt(BITMAPHANDLE& source) {
    if (&source == static_cast<BITMAPHANDLE*>(this)) return;
    Free();
    static_cast<BITMAPHANDLE&>(*this) = source;
    source = BITMAPHANDLE{};
    Owned = true;
    GrayState = -1;
}

L_INT TLeadBitmap::CopyRect(const BITMAPHANDLE& source, L_INT x, L_INT y, L_INT width,
                            L_INT height) {
    BITMAPHANDLE part;
    L_INT rc = L_CopyBitmapRect(&part, &source, x, y, width, height);
    if (rc != SUCCESS) return rc;
    Adopt(part);
    return SUCCESS;
}

L_INT TLeadBitmap::CropToRegion(RECT* bounds) {
    RECT rc{};
    L_INT status = L_GetBitmapRgnBounds(this, nullptr, &rc);
    if (status != SUCCESS) return status;
    if (bounds) *bounds = rc;
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return ERROR_INV_RANGE;
    if (w == Width && h == Height) return SUCCESS;
    // The crop keeps the part of the region inside the bounds, in the new coordinates.
    return CopyRect(*this, rc.left, rc.top, w, h);
}

L_INT TLeadBitmap::RegionFromAlpha(RECT* bounds) {
    L_INT rc = Lx_SetBitmapRgnFromAlpha(this, L_RGN_SET);
    if (rc != SUCCESS) return rc;
    return CropToRegion(bounds);
}

L_INT TLeadBitmap::MakeAlphaOpaque() {
    if (!IsAllocated()) return ERROR_NO_BITMAP;
    if (BitsPerPixel != 32) return SUCCESS;
    for (int y = 0; y < Height; ++y) {
        uint8_t* p = L_RowPtr(this, y);
        for (int x = 0; x < Width; ++x) p[x * 4 + 3] = 255;
    }
    return SUCCESS;
}

L_INT TLeadBitmap::FillWithAlpha(COLORREF color) {
    if (!IsAllocated()) return ERROR_NO_BITMAP;
    if (BitsPerPixel != 32) return L_FillBitmap(this, color);
    const uint32_t px = uint32_t(GetBValue(color)) | uint32_t(GetGValue(color)) << 8 |
                        uint32_t(GetRValue(color)) << 16 | (color & 0xFF000000u);
    auto fill = [px](uint8_t* row, int x0, int x1) {
        uint32_t* p = reinterpret_cast<uint32_t*>(row) + x0;
        for (int x = x0; x < x1; ++x) *p++ = px;
    };
    if (!pRgn) {
        for (int y = 0; y < Height; ++y) fill(L_RowPtr(this, y), 0, Width);
        return SUCCESS;
    }
    for (const RgnSpan& s : lt::RegionSpans(pRgn)) {
        if (s.y < 0 || s.y >= Height) continue;
        const int x0 = std::max(s.x0, 0), x1 = std::min(s.x1, Width);
        if (x0 < x1) fill(L_RowPtr(this, s.y), x0, x1);
    }
    return SUCCESS;
}

L_INT TLeadBitmap::Resample(L_INT width, L_INT height, L_UINT resampling) {
    // The toolkit filters the four bytes of a 32-bit pixel independently, so the alpha
    // plane is resampled together with the colours.
    L_INT rc = L_SizeBitmap(this, width, height, resampling);
    if (rc == SUCCESS) GrayState = -1;
    return rc;
}

bool TLeadBitmap::ReadPixel(L_INT x, L_INT y, COLORREF* color) const {
    if (!IsAllocated() || x < 0 || y < 0 || x >= Width || y >= Height) return false;
    if (color) *color = L_GetPixelColor(this, y, x);
    return true;
}

bool TLeadBitmap::IsGrayscale() {
    if (GrayState == -1) {
        const L_INT answer = IsAllocated() ? L_IsGrayScaleBitmap(this) : GRAY_NO;
        GrayState = (BitsPerPixel == 8 && answer > 0) ? 1 : 0;
    }
    return GrayState != 0;
}

// ---------------------------------------------------------------------------

L_INT TLeadBitmapX::AssignX(const TLeadBitmapX& source, bool deep) {
    L_INT rc = Assign(source, deep);
    if (rc == SUCCESS) LogicalBpp = source.LogicalBpp;
    return rc;
}

L_INT TLeadBitmapX::ShareX(const TLeadBitmapX& source) {
    BITMAPHANDLE shared;
    if (const L_INT rc = L_ShareBitmap(&shared, &source); rc != SUCCESS) return rc;
    Adopt(shared);
    LogicalBpp = source.LogicalBpp;
    return SUCCESS;
}

L_INT TLeadBitmapX::NormalizeDepth() {
    if (!IsAllocated()) return ERROR_NO_BITMAP;
    if (BitsPerPixel <= 8) {
        LogicalBpp = BitsPerPixel;
        return SUCCESS;
    }
    if (LogicalBpp == 0) LogicalBpp = BitsPerPixel;
    if (BitsPerPixel == 32) return SUCCESS;
    GrayState = -1;
    L_INT rc = L_ColorResBitmap(this, this, 32, CRF_BYTEORDERBGR, nullptr, 0);
    if (rc != SUCCESS) return rc;
    return MakeAlphaOpaque();
}

L_INT TLeadBitmapX::LoadFile(const char* path) {
    Free();
    LogicalBpp = 0;
    BITMAPHANDLE loaded;
    L_INT rc = L_LoadBitmap(path, &loaded, 0, ORDER_BGR);
    if (rc != SUCCESS) return rc;
    Adopt(loaded);
    rc = NormalizeDepth();
    if (rc == SUCCESS) rc = L_ChangeBitmapViewPerspective(nullptr, this, 0);
    if (rc != SUCCESS) {
        Free();
        LogicalBpp = 0;
    }
    return rc;
}
