// TEMPORARY during parallel development: weak fallbacks for functions whose real
// implementations are being written in their own files. Deleted before landing.
#include "BitmapInternal.h"
#include "codecs/Codec.h"

#define W __attribute__((weak))
W L_INT L_ColorResBitmap(const BITMAPHANDLE*, pBITMAPHANDLE, L_INT, L_UINT, const RGBQUAD*, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_GetBitmapColors(const BITMAPHANDLE*, L_INT, L_INT, RGBQUAD*) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_PutBitmapColors(pBITMAPHANDLE, L_INT, L_INT, const RGBQUAD*) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_GetFixedPalette(RGBQUAD* p, L_INT bpp) {
    int n = 1 << bpp;
    for (int i = 0; i < n; ++i) p[i] = RGBQUAD{uint8_t(i * 255 / (n - 1)), uint8_t(i * 255 / (n - 1)), uint8_t(i * 255 / (n - 1)), 0};
    return SUCCESS;
}
W HPALETTE L_CreatePaintPalette(LDEVICE*, const BITMAPHANDLE*) { return nullptr; }
W void L_DeletePaintPalette(HPALETTE) {}
W L_INT L_GrayScaleBitmap(pBITMAPHANDLE, L_INT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_IsGrayScaleBitmap(const BITMAPHANDLE*) { return ERROR_FEATURE_NOT_SUPPORTED; }

W std::pair<const RgnSpan*, const RgnSpan*> LRegion::Row(int) const { return {nullptr, nullptr}; }
W RECT LRegion::Bounds() const { return RECT{}; }
W bool LRegion::Contains(int, int) const { return false; }
W void LRegion::Offset(int, int) {}
W LRegion LRegion::FromRect(const RECT&) { return LRegion{}; }
W LRegion LRegion::FromMask(const BITMAPHANDLE&) { return LRegion{}; }
W LRegion LRegion::Combine(const LRegion&, const LRegion&, unsigned) { return LRegion{}; }
W LRegion LRegion::Transformed(const RGNXFORM&, int) const { return LRegion{}; }
W LRegion LRegion::Intersected(const RECT&) const { return LRegion{}; }
W L_INT L_BitmapHasRgn(const BITMAPHANDLE* b) { return b && b->pRgn; }
W L_INT L_FreeBitmapRgn(pBITMAPHANDLE) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_SetBitmapRgnRect(pBITMAPHANDLE, const RGNXFORM*, const RECT*, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_SetBitmapRgnColor(pBITMAPHANDLE, COLORREF, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_SetBitmapRgnFromMask(pBITMAPHANDLE, const RGNXFORM*, const BITMAPHANDLE*, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_SetBitmapRgnHandle(pBITMAPHANDLE, const RGNXFORM*, HRGN, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_GetBitmapRgnHandle(const BITMAPHANDLE*, const RGNXFORM*, HRGN*) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_GetBitmapRgnBounds(const BITMAPHANDLE*, const RGNXFORM*, RECT*) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_IsPtInBitmapRgn(const BITMAPHANDLE*, L_INT, L_INT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_CreateMaskFromBitmapRgn(const BITMAPHANDLE*, pBITMAPHANDLE) { return ERROR_FEATURE_NOT_SUPPORTED; }
W HRGN L_CreateRectRgn(const RECT&) { return nullptr; }
W HRGN L_CopyRgn(HRGN) { return nullptr; }
W void L_DeleteRgn(HRGN) {}
W void L_OffsetRgn(HRGN, L_INT, L_INT) {}
W L_INT L_CombineRgn(HRGN, HRGN, HRGN, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W bool L_IsRgnEmpty(HRGN) { return true; }
W RECT L_GetRgnBox(HRGN) { return RECT{}; }
W bool L_PtInRgn(HRGN, L_INT, L_INT) { return false; }
W L_INT L_CombineBitmap(pBITMAPHANDLE, L_INT, L_INT, L_INT, L_INT, const BITMAPHANDLE*, L_INT, L_INT, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_FillBitmap(pBITMAPHANDLE, COLORREF) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_UnderlayBitmap(pBITMAPHANDLE, const BITMAPHANDLE*, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }

W L_INT L_SizeBitmap(pBITMAPHANDLE, L_INT, L_INT, L_UINT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_ResampleBitmap(pBITMAPHANDLE, L_INT, L_INT) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_RotateBitmap(pBITMAPHANDLE, L_INT, L_UINT, COLORREF) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_ShearBitmap(pBITMAPHANDLE, L_INT, bool, COLORREF) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_FlipBitmap(pBITMAPHANDLE) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_ReverseBitmap(pBITMAPHANDLE) { return ERROR_FEATURE_NOT_SUPPORTED; }
W L_INT L_ChangeBitmapViewPerspective(pBITMAPHANDLE, pBITMAPHANDLE, L_INT) { return ERROR_FEATURE_NOT_SUPPORTED; }

namespace lt::codec {
namespace {
bool NoSniff(const uint8_t*, size_t) { return false; }
int NoInfo(const uint8_t*, size_t, FILEINFO*) { return ERROR_FILE_FORMAT; }
int NoLoad(const uint8_t*, size_t, BITMAPHANDLE*, LoadContext&) { return ERROR_FILE_FORMAT; }
bool NoCanSave(int, int) { return false; }
int NoSave(const BITMAPHANDLE*, int, int, std::vector<uint8_t>&) { return ERROR_FEATURE_NOT_SUPPORTED; }
bool NoFormat(int) { return false; }
} // namespace
W extern const Codec kBmpCodec = {"bmp", NoSniff, NoInfo, NoLoad, NoCanSave, NoSave, nullptr, NoFormat};
W extern const Codec kPngCodec = {"png", NoSniff, NoInfo, NoLoad, NoCanSave, NoSave, nullptr, NoFormat};
W extern const Codec kJpegCodec = {"jpeg", NoSniff, NoInfo, NoLoad, NoCanSave, NoSave, nullptr, NoFormat};
W extern const Codec kTiffCodec = {"tiff", NoSniff, NoInfo, NoLoad, NoCanSave, NoSave, nullptr, NoFormat};
} // namespace lt::codec
